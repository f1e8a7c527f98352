// SPDX-License-Identifier: GPL-2.0-or-later
#include "app/command_line.h"

#include <gtest/gtest.h>

#include <QByteArray>
#include <string>
#include <vector>

namespace {

// Sets or clears environment variables for one test, and puts them back after it.
class Environment {
  public:
    Environment(std::initializer_list<std::pair<const char*, const char*>> values) {
        for (const auto& [name, value] : values) {
            saved_.push_back({name, qEnvironmentVariableIsSet(name), qgetenv(name)});
            if (value != nullptr) {
                qputenv(name, value);
            } else {
                qunsetenv(name);
            }
        }
    }
    ~Environment() {
        for (const Saved& s : saved_) {
            if (s.set) {
                qputenv(s.name, s.value);
            } else {
                qunsetenv(s.name);
            }
        }
    }

  private:
    struct Saved {
        const char* name;
        bool set;
        QByteArray value;
    };
    std::vector<Saved> saved_;
};

std::optional<int> RunWith(std::vector<std::string> arguments) {
    std::vector<char*> argv;
    for (std::string& argument : arguments) argv.push_back(argument.data());
    return HandleCommandLine(static_cast<int>(argv.size()), argv.data());
}

// The session decides, from the environment alone: a Wayland session runs through XWayland unless
// the user named a platform, in the environment or on the command line.
TEST(CommandLine, WaylandSessionRunsThroughXWaylandUnlessAPlatformIsChosen) {
    const struct {
        const char* waylandDisplay;
        const char* sessionType;
        const char* platform;
        std::vector<std::string> arguments;
        QByteArray expected;
    } cases[] = {
        {"wayland-0", nullptr, nullptr, {"vistrel"}, "xcb"},
        {nullptr, "wayland", nullptr, {"vistrel", "Capture"}, "xcb"},
        {"wayland-0", "wayland", "wayland", {"vistrel"}, "wayland"},
        {"wayland-0", nullptr, "offscreen", {"vistrel", "TV"}, "offscreen"},
        {"wayland-0", nullptr, nullptr, {"vistrel", "-platform", "wayland"}, ""},
        {"wayland-0", nullptr, nullptr, {"vistrel", "Time", "--platform", "wayland"}, ""},
        {nullptr, "x11", nullptr, {"vistrel"}, ""},
        {nullptr, nullptr, nullptr, {"vistrel"}, ""},
    };
    for (const auto& c : cases) {
        const Environment environment{{"WAYLAND_DISPLAY", c.waylandDisplay},
                                      {"XDG_SESSION_TYPE", c.sessionType},
                                      {"QT_QPA_PLATFORM", c.platform},
                                      {"DISPLAY", ":0"}};
        EXPECT_EQ(RunWith(c.arguments), std::nullopt);
        EXPECT_EQ(qgetenv("QT_QPA_PLATFORM"), c.expected)
            << (c.waylandDisplay ? c.waylandDisplay : "-") << " "
            << (c.sessionType ? c.sessionType : "-") << " " << (c.platform ? c.platform : "-")
            << " " << c.arguments.back();
    }
}

// Only as the first argument, and with no display: a later "--help" is left to the run mode,
// which ignores it.
TEST(CommandLine, HelpAndVersionPrintAndEndOnlyAsTheFirstArgument) {
    const Environment environment{{"WAYLAND_DISPLAY", nullptr},
                                  {"XDG_SESSION_TYPE", nullptr},
                                  {"DISPLAY", nullptr},
                                  {"QT_QPA_PLATFORM", nullptr}};
    testing::internal::CaptureStdout();
    EXPECT_EQ(RunWith({"vistrel", "--help"}), 0);
    const std::string help = testing::internal::GetCapturedStdout();
    for (const char* word : {"Capture", "TV", "Time", "PLATFORM_MACHINE", "Vistrel.ini",
                             "CapLog.txt", ".config/vistrel"}) {
        EXPECT_NE(help.find(word), std::string::npos) << word;
    }
    testing::internal::CaptureStdout();
    EXPECT_EQ(RunWith({"vistrel", "--version"}), 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "vistrel " VISTREL_VERSION "\n");
    const Environment x{{"DISPLAY", ":0"}};
    for (const std::vector<std::string>& other :
         {std::vector<std::string>{"vistrel", "Capture", "--help"},
          {"vistrel", "-h"},
          {"vistrel", "--Help"},
          {"vistrel", "help"}}) {
        testing::internal::CaptureStdout();
        EXPECT_EQ(RunWith(other), std::nullopt) << other[1];
        EXPECT_EQ(testing::internal::GetCapturedStdout(), "") << other[1];
    }
}

// Only X11 is known to need DISPLAY; a platform named on the command line wins over the
// environment's, as in Qt.
TEST(CommandLine, XDisplayMissingOnlyWhenX11RunsWithoutADisplay) {
    const struct {
        QByteArray display;
        QByteArray platform;
        QStringList arguments;
        bool missing;
    } cases[] = {
        {"", "", {"vistrel"}, true},
        {"", "xcb", {"vistrel", "Capture"}, true},
        {"", "offscreen", {"vistrel", "-platform", "xcb"}, true},
        {":0", "", {"vistrel", "Time"}, false},
        {"", "offscreen", {"vistrel"}, false},
        {"", "wayland", {"vistrel"}, false},
        {"", "", {"vistrel", "-platform", "offscreen"}, false},
        {"", "", {"vistrel", "TV", "--platform", "offscreen"}, false},
        {"", "", {"vistrel", "-display", ":1"}, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(XDisplayMissing(c.display, c.platform, c.arguments), c.missing)
            << c.display.constData() << " " << c.platform.constData() << " "
            << c.arguments.join(' ').toStdString();
    }
}

}  // namespace
