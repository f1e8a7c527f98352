// SPDX-License-Identifier: GPL-2.0-or-later
// Chooses a V4L2 device's input, TV standard, picture controls, sound input or native mode as
// its Source and Format dialogs do, and keeps them for the program's next connections; with
// --grab, saves pictures of both dialogs.
//   vistrel_device_setup [--grab DIR] /dev/videoN [input=NAME] [standard=NAME] [sound=PCM]
//                        [mode=FOURCC:WxH] [CONTROL=VALUE...]
// Controls are named as v4l2-ctl names them (lower case, '_' for other characters).
#include <QApplication>
#include <QDir>
#include <cctype>
#include <cstdio>
#include <cstring>

#include "platform/capture/capture_source.h"
#include "platform/capture/device_dialogs.h"
#include "platform/capture/v4l2_source.h"

namespace {

using platform::DeviceSetup;

std::string Key(const std::string& name) {
    std::string key;
    for (const char c : name) {
        const bool word = std::isalnum(static_cast<unsigned char>(c)) != 0;
        if (word)
            key += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        else if (!key.empty() && key.back() != '_')
            key += '_';
    }
    while (!key.empty() && key.back() == '_') key.pop_back();
    return key;
}

int IndexOf(const std::vector<std::string>& names, const std::string& wanted) {
    for (std::size_t i = 0; i < names.size(); ++i)
        if (names[i] == wanted || Key(names[i]) == Key(wanted)) return static_cast<int>(i);
    return -1;
}

// "MJPG:640x480"
std::optional<platform::NativeMode> ModeNamed(DeviceSetup& setup, const std::string& text) {
    unsigned width = 0;
    unsigned height = 0;
    char code[5] = {};
    if (std::sscanf(text.c_str(), "%4[^:]:%ux%u", code, &width, &height) != 3) return std::nullopt;
    for (const platform::NativeMode& mode : setup.Modes()) {
        const std::uint32_t fourcc = std::uint32_t{static_cast<unsigned char>(code[0])} |
                                     std::uint32_t{static_cast<unsigned char>(code[1])} << 8 |
                                     std::uint32_t{static_cast<unsigned char>(code[2])} << 16 |
                                     std::uint32_t{static_cast<unsigned char>(code[3])} << 24;
        if (mode.pixelFormat == fourcc && mode.width == width && mode.height == height) return mode;
    }
    return std::nullopt;
}

bool SetControl(DeviceSetup& setup, const std::string& name, const std::string& value) {
    for (const platform::ControlInfo& c : setup.Controls())
        if (Key(c.name) == Key(name)) return setup.SetControl(c.id, std::stoll(value));
    return false;
}

bool Apply(DeviceSetup& setup, const std::string& argument) {
    const auto equals = argument.find('=');
    if (equals == std::string::npos) return false;
    const std::string name = argument.substr(0, equals);
    const std::string value = argument.substr(equals + 1);
    if (name == "input") return setup.SelectInput(IndexOf(setup.Inputs(), value));
    if (name == "standard") return setup.SelectStandard(IndexOf(setup.Standards(), value));
    if (name == "sound") {
        setup.SelectSoundInput(value);
        return true;
    }
    if (name == "mode") {
        const auto mode = ModeNamed(setup, value);
        return mode && setup.PreferMode(mode);
    }
    return SetControl(setup, name, value);
}

void Report(DeviceSetup& setup) {
    const auto named = [](const std::vector<std::string>& names, int index) {
        return index >= 0 && static_cast<std::size_t>(index) < names.size()
                   ? names[static_cast<std::size_t>(index)]
                   : std::string("-");
    };
    std::printf("input: %s\nstandard: %s\nsound: %s\n",
                named(setup.Inputs(), setup.Input()).c_str(),
                named(setup.Standards(), setup.Standard()).c_str(), setup.SoundInput().c_str());
    if (const auto mode = setup.ModeInUse())
        std::printf("mode: %s\n", platform::ModeText(*mode).toUtf8().constData());
    for (const platform::ControlInfo& c : setup.Controls())
        std::printf("control %s: %lld\n", Key(c.name).c_str(), static_cast<long long>(c.value));
}

void Grab(DeviceSetup& setup, const platform::VideoSource& source, const QString& folder) {
    QDir().mkpath(folder);
    platform::SourceDialog sourceDialog(setup, nullptr);
    sourceDialog.grab().save(folder + "/source-dialog.png");
    sourceDialog.reject();
    platform::FormatDialog formatDialog(setup, source.format(), nullptr);
    formatDialog.grab().save(folder + "/format-dialog.png");
    formatDialog.reject();
}

}  // namespace

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    QString grab;
    int first = 1;
    if (argc > 2 && std::strcmp(argv[1], "--grab") == 0) {
        grab = QString::fromLocal8Bit(argv[2]);
        first = 3;
    }
    if (first >= argc) {
        std::fprintf(stderr, "usage: %s [--grab DIR] /dev/videoN [NAME=VALUE...]\n", argv[0]);
        return 2;
    }
    const auto driver = platform::DescribeV4l2Node(argv[first]);
    auto source = driver ? platform::OpenV4l2Source(*driver) : nullptr;
    auto setup = source ? source->Setup() : nullptr;
    if (!setup) {
        std::fprintf(stderr, "%s: %s is no V4L2 capture device we can open\n", argv[0],
                     argv[first]);
        return 1;
    }
    source->UseRgb(384, 288);
    int failed = 0;
    for (int i = first + 1; i < argc; ++i) {
        if (Apply(*setup, argv[i])) continue;
        std::fprintf(stderr, "%s: %s: not applied\n", argv[0], argv[i]);
        ++failed;
    }
    if (!setup->Remember()) ++failed;
    Report(*setup);
    if (!grab.isEmpty()) Grab(*setup, *source, grab);
    return failed == 0 ? 0 : 1;
}
