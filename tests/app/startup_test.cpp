// SPDX-License-Identifier: GPL-2.0-or-later
#include <gtest/gtest.h>

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/display.h"
#include "platform/window_handles.h"
#include "tests/fakes/form_under_test.h"

namespace {

using fakes::FormUnderTest;

const std::string kConnectMessage = "Connection au driver d'acquisition video impossible ...";
const std::string kNoDriverMessage = "Aucune carte d'acquisition n'a été détectée ...";
const std::string kFormatMessage =
    "Votre carte d'acquisition video ne possede pas la configuration adaptée ... Choisissez un "
    "Format RGB24 en 384x288 ou 320x240, puis redémarrer ...";
const std::string kNoCodecMessage =
    "Codec de compression \"MPEG1\" ou \"DIVX\" non present sur votre ordinateur ...";

void WriteBytes(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

std::string ReadBytes(const std::string& path) {
    std::ostringstream bytes;
    bytes << std::ifstream(path, std::ios::binary).rdbuf();
    return bytes.str();
}

// A settings file as the program writes one: 21 lines, each ended by CR LF.
std::string SettingsBytes(const std::map<int, std::string>& lines) {
    std::string bytes;
    for (int line = 0; line < 21; ++line) {
        const auto found = lines.find(line);
        bytes += (found == lines.end() ? std::string() : found->second) + "\r\n";
    }
    return bytes;
}

int Width() {
    return GetSystemMetrics(SM_CXSCREEN);
}

const std::vector<UINT> kInteractiveStart = {
    WM_CAP_DRIVER_CONNECT,
    WM_CAP_GET_STATUS,
    WM_CAP_DRIVER_DISCONNECT,
    WM_CAP_DRIVER_CONNECT,
    WM_CAP_SET_CALLBACK_STATUSA,
    WM_CAP_SET_CALLBACK_VIDEOSTREAM,
    WM_CAP_SET_CALLBACK_WAVESTREAM,
    WM_CAP_GET_VIDEOFORMAT,
    WM_CAP_GET_VIDEOFORMAT,
    WM_CAP_SET_VIDEOFORMAT,
    WM_CAP_GET_VIDEOFORMAT,
    WM_CAP_GET_VIDEOFORMAT,
    WM_CAP_SET_OVERLAY,
};

TEST(StartUp, InteractiveConnectsListsNegotiatesAndShowsOverlay) {
    FormUnderTest run;
    TForm1& form = run.Create();
    EXPECT_EQ(run.capture.MessageIds(), kInteractiveStart);
    EXPECT_TRUE(run.boxes.texts.empty());
    EXPECT_FALSE(form.StartupFailed);
    EXPECT_EQ(form.Mode, RunMode::Window);
    EXPECT_EQ(form.size(), QSize(593, 485));
    EXPECT_EQ(form.Panel1->geometry(), QRect(104, 23, 384, 288));
    EXPECT_EQ(form.Panel3->geometry(), QRect(96, 15, 400, 304));
    EXPECT_EQ(form.Panel2->geometry(), QRect(20, 333, 553, 137));
    EXPECT_TRUE(form.Panel6->isHidden());
    EXPECT_EQ(form.ComboBox1->count(), 1);
    EXPECT_EQ(form.ComboBox1->currentIndex(), -1) << "no item selected";
    EXPECT_EQ(form.Edit2->text(), "bi_RGB");
}

TEST(StartUp, TheLiveWindowIsTheSecondOneSizedToTheLaidOutPanel) {
    FormUnderTest run;
    TForm1& form = run.Create();
    const auto connects = run.capture.Sent(WM_CAP_DRIVER_CONNECT);
    ASSERT_EQ(connects.size(), 2u);
    EXPECT_NE(connects[0].window, connects[1].window);
    EXPECT_EQ(form.CaptureWindow, connects[1].window);
    for (const fakes::SentMessage& m : run.capture.messages) {
        if (m.message == WM_CAP_GET_STATUS || m.message == WM_CAP_DRIVER_DISCONNECT) {
            EXPECT_EQ(m.window, connects[0].window);
        }
    }
    QWidget* live = platform::WidgetOf(form.CaptureWindow);
    ASSERT_NE(live, nullptr);
    EXPECT_EQ(live->parentWidget(), form.Panel1);
    EXPECT_EQ(live->geometry(), QRect(0, 0, 384, 288));
    FormUnderTest::DeleteDropped();
    EXPECT_EQ(platform::WidgetOf(connects[0].window), nullptr) << "the dropped window is gone";
    EXPECT_EQ(form.Panel1->findChildren<QWidget*>(Qt::FindDirectChildrenOnly).size(), 1);
}

TEST(StartUp, RunModeIsTheExactFirstArgument) {
    const std::pair<const char*, bool> cases[] = {
        {"Capture", true}, {"TV", true}, {"capture", false},  {"tv", false},
        {"Time", false},   {"", false},  {"Capture ", false},
    };
    for (const auto& [mode, fullScreen] : cases) {
        SCOPED_TRACE(mode);
        FormUnderTest run({0}, 1024, 768);
        TForm1& form = run.Create(QString::fromLatin1(mode));
        EXPECT_EQ(form.IsFullScreenMode(), fullScreen);
        EXPECT_EQ(form.pos() == QPoint(0, 0), fullScreen);
        EXPECT_EQ(!form.Panel6->isHidden(), fullScreen);
    }
}

TEST(StartUp, TVModeRegistersNoAudioHandler) {
    FormUnderTest run;
    run.Create(QStringLiteral("TV"));
    EXPECT_EQ(run.capture.Sent(WM_CAP_SET_CALLBACK_STATUSA).size(), 1u);
    EXPECT_EQ(run.capture.Sent(WM_CAP_SET_CALLBACK_VIDEOSTREAM).size(), 1u);
    EXPECT_TRUE(run.capture.Sent(WM_CAP_SET_CALLBACK_WAVESTREAM).empty());
}

TEST(StartUp, CaptureModeCoversTheSwitchedScreen) {
    FormUnderTest run({0}, 1024, 768);
    TForm1& form = run.Create(QStringLiteral("Capture"));
    EXPECT_EQ(form.geometry(), QRect(0, 0, 800, 600));
    EXPECT_EQ(form.Panel6->geometry(), QRect(-1, -1, 802, 602));
    form.show();
    EXPECT_EQ(form.Image1->geometry(), QRect(1, 1, 800, 600));
    EXPECT_EQ(run.capture.Sent(WM_CAP_SET_OVERLAY).size(), 1u) << "live display still runs";
}

TEST(StartUp, NoDriverShowsBothMessagesAndLaysOutAnEmptyWindow) {
    FormUnderTest run(std::set<int>{});
    TForm1& form = run.Create();
    EXPECT_EQ(run.boxes.texts,
              (std::vector<std::string>{"Connection au driver d'acquisition video impossible ...",
                                        "Aucune carte d'acquisition n'a été détectée ..."}));
    EXPECT_TRUE(form.StartupFailed);
    EXPECT_EQ(form.CaptureWindow, nullptr);
    EXPECT_EQ(form.size(), QSize(593, 197));
    EXPECT_EQ(form.Panel3->size(), QSize(16, 16));
    const auto& sent = run.capture.messages;
    ASSERT_GE(sent.size(), 2u);
    EXPECT_EQ(sent[0].message, WM_CAP_DRIVER_CONNECT);
    EXPECT_EQ(sent[1].message, WM_CAP_GET_CONNECT_FAILURE) << "why, for the message";
    EXPECT_TRUE(std::all_of(sent.begin() + 2, sent.end(), [](const fakes::SentMessage& m) {
        return m.window == nullptr;
    })) << "with no window the later steps' messages reach nothing";
    const std::size_t before = sent.size();
    form.close();
    EXPECT_EQ(sent.size(), before) << "a failed start-up closes without touching anything";
}

TEST(StartUp, CloseUnregistersTheHandlersAndDisconnects) {
    FormUnderTest run;
    TForm1& form = run.Create();
    const HWND live = form.CaptureWindow;
    run.capture.Clear();
    form.close();
    EXPECT_EQ(run.capture.MessageIds(),
              (std::vector<UINT>{WM_CAP_SET_CALLBACK_STATUSA, WM_CAP_SET_CALLBACK_VIDEOSTREAM,
                                 WM_CAP_SET_CALLBACK_WAVESTREAM, WM_CAP_DRIVER_DISCONNECT}));
    for (const fakes::SentMessage& m : run.capture.messages) {
        EXPECT_EQ(m.window, live);
        EXPECT_EQ(m.lParam, 0);
    }
    EXPECT_EQ(form.CaptureWindow, nullptr);
    EXPECT_TRUE(form.CaptureFormat.empty());
}

struct PositionCase {
    const char* name;
    int desktopWidth;
    std::optional<std::string> file;  // none: no settings file
    QPoint at;
    std::vector<std::string> boxes;
};

// Where the window opens, and what a saved line that is no number does: the conversion error,
// the rest of creation skipped, the window still shown and activated. A window that would lie
// across the desktop's edge is brought back onto it.
TEST(StartUp, WindowOpensWhereTheSettingsFileSays) {
    const PositionCase cases[] = {
        {"no file: top 15, centred", 1024, std::nullopt, {214, 15}, {}},
        {"saved 100 and 200", 1024, "\r\n\r\n100\r\n200\r\n", {200, 100}, {}},
        {"LF line ends", 1024, "\n\n100\n200\n", {200, 100}, {}},
        {"CR line ends", 1024, "\r\r100\r200", {200, 100}, {}},
        {"only the left saved", 1024, "\r\n\r\n\r\n20\r\n", {20, 15}, {}},
        {"saved across the left edge: brought back", 1024, "\r\n\r\n\r\n-20\r\n", {0, 15}, {}},
        {"desktop narrower than the window: its left side shown", 500, std::nullopt, {0, 15}, {}},
        {"saved at the ends of the numbers",
         1024,
         "\r\n\r\n2147483647\r\n-2147483648\r\n",
         {0, 283},
         {}},
        {"top is no number",
         1024,
         "\r\n\r\nabc\r\n200\r\n",
         {345, 37},
         {"'abc' n'est pas une valeur entière correcte"}},
        {"left is no number",
         1024,
         "\r\n\r\n100\r\n2OO\r\n",
         {345, 100},
         {"'2OO' n'est pas une valeur entière correcte"}},
    };
    for (const PositionCase& c : cases) {
        SCOPED_TRACE(c.name);
        FormUnderTest run({0}, c.desktopWidth, 768);
        if (c.file) WriteBytes(run.SettingsFile(), *c.file);
        TForm1& form = run.Create();
        EXPECT_EQ(form.pos(), c.at);
        EXPECT_EQ(run.boxes.texts, c.boxes);
        EXPECT_EQ(form.CaptureWindow == nullptr, !c.boxes.empty()) << "creation went on";
        form.show();
        EXPECT_EQ(form.ComboBox2->count(), 3) << "activated";
        EXPECT_FALSE(form.StartupFailed);
    }
}

TEST(StartUp, CloseAfterANumberlessLineRewritesThePosition) {
    FormUnderTest run;
    WriteBytes(run.SettingsFile(), SettingsBytes({{2, "abc"}, {3, "200"}}));
    TForm1& form = run.Create();
    form.show();
    form.Button11->click();
    EXPECT_EQ(ReadBytes(run.SettingsFile()), SettingsBytes({{2, "37"}, {3, "345"}}));
}

// "Quitter" after a good start: only lines 2 and 3 change, a hand-written line stays as it was.
TEST(StartUp, QuitterSavesTopAndLeftInTheTwentyOneLineFile) {
    FormUnderTest run;
    const std::string handWritten = "\xE9t\xE9 \"ici\" ";  // Windows-1252
    WriteBytes(run.SettingsFile(), SettingsBytes({{15, handWritten}}));
    TForm1& form = run.Create();
    form.show();
    form.move(120, 80);
    run.capture.Clear();
    form.Button11->click();
    EXPECT_FALSE(form.isVisible());
    EXPECT_EQ(ReadBytes(run.SettingsFile()),
              SettingsBytes({{2, "80"}, {3, "120"}, {15, handWritten}}));
    EXPECT_EQ(run.capture.Sent(WM_CAP_DRIVER_DISCONNECT).size(), 1u);
}

TEST(StartUp, ActivationRunsOnceForTheWholeRun) {
    FormUnderTest run;
    TForm1& form = run.Create(QStringLiteral("Capture"));
    form.show();
    EXPECT_TRUE(form.Timer1->isActive());
    form.Timer1->stop();
    form.hide();
    form.show();
    form.activateWindow();
    EXPECT_FALSE(form.Timer1->isActive()) << "not armed a second time";
    EXPECT_EQ(form.ComboBox2->count() + form.ComboBox3->count() + form.ComboBox4->count(), 11)
        << "one copy of each list's items";
}

struct FailureCase {
    const char* name;
    std::set<int> drivers;
    bool acceptsFormat;
    std::vector<std::string> boxes;
    bool closedDuringCreation;
};

// A failed start-up leaves the window usable; its close saves and releases nothing. The screen
// switched for the Capture mode is given back once, when the program ends, not at the close
// requests of creation.
TEST(StartUp, FailedStartUpsSaveNothingAndGiveTheScreenBackOnceAtTheEnd) {
    const FailureCase cases[] = {
        {"no driver", {}, true, {kConnectMessage, kNoDriverMessage}, true},
        {"format refused", {0}, false, {kFormatMessage}, false},
    };
    for (const FailureCase& c : cases) {
        for (const QString& mode : {QString(), QStringLiteral("Capture")}) {
            SCOPED_TRACE(std::string(c.name) + " " + mode.toStdString());
            FormUnderTest run(c.drivers);
            run.capture.accepts = [&c](const BITMAPINFOHEADER&) { return c.acceptsFormat; };
            platform::DisplayDescription display = run.machine.description.display;
            display.failed = {{1024, 768}};  // the restore is refused: its message counts them
            run.machine.SetDisplay(display);
            TForm1& form = run.Create(mode);
            EXPECT_EQ(run.boxes.texts, c.boxes);
            EXPECT_TRUE(form.StartupFailed);
            form.show();
            EXPECT_TRUE(form.isVisible());
            EXPECT_EQ(form.CaptureWindow == nullptr, c.closedDuringCreation);
            run.boxes.texts.clear();
            run.capture.Clear();
            form.Button11->click();
            EXPECT_FALSE(std::filesystem::exists(run.SettingsFile()));
            EXPECT_TRUE(run.capture.messages.empty());
            const bool captureMode = !mode.isNull();
            EXPECT_EQ(run.boxes.texts, captureMode ? std::vector<std::string>{"erreur"}
                                                   : std::vector<std::string>{});
            form.close();
            EXPECT_EQ(run.boxes.texts.size(), captureMode ? 1u : 0u) << "given back once";
        }
    }
}

// With no compressor the run mode is never read: the screen stays, the window shrinks to nothing
// once shown and Timer2 closes it, saving where it was.
TEST(StartUp, NoCompressorEndsTheRunASecondAfterShowing) {
    FormUnderTest run;
    run.machine.description.codecs = {{"MJPG", false}};
    platform::SetMachine(run.machine.description);
    TForm1& form = run.Create(QStringLiteral("Capture"));
    EXPECT_EQ(run.boxes.texts, std::vector<std::string>{kNoCodecMessage});
    EXPECT_EQ(Width(), 1024);
    for (const fakes::SentMessage& m : run.capture.messages) EXPECT_EQ(m.window, nullptr);
    EXPECT_EQ(ReadBytes(run.SettingsFile()), SettingsBytes({{2, "37"}, {3, "345"}}))
        << "the close requested during creation ran whole";
    std::filesystem::remove(run.SettingsFile());
    form.show();
    EXPECT_EQ(form.size(), QSize(0, 0));
    EXPECT_TRUE(form.Timer2->isActive());
    EXPECT_FALSE(form.Timer1->isActive());
    form.move(5, 6);
    form.Timer2Timer();
    EXPECT_FALSE(form.Timer2->isActive());
    EXPECT_FALSE(form.isVisible());
    EXPECT_EQ(ReadBytes(run.SettingsFile()), SettingsBytes({{2, "6"}, {3, "5"}}));
    EXPECT_EQ(Width(), 1024);
    EXPECT_EQ(run.boxes.texts.size(), 1u);
}

// TV mode with no driver or a refused format used to sit idle or crash at its first frame (the
// picture is drawn with objects a failed start-up never made): it ends a second after showing.
TEST(StartUp, FailedTVModeEndsASecondAfterShowing) {
    const FailureCase cases[] = {
        {"no driver", {}, true, {kConnectMessage, kNoDriverMessage}, true},
        {"format refused", {0}, false, {kFormatMessage}, false},
    };
    for (const FailureCase& c : cases) {
        SCOPED_TRACE(c.name);
        FormUnderTest run(c.drivers);
        run.capture.accepts = [&c](const BITMAPINFOHEADER&) { return c.acceptsFormat; };
        TForm1& form = run.Create(QStringLiteral("TV"));
        EXPECT_EQ(run.boxes.texts, c.boxes);
        form.show();
        EXPECT_FALSE(form.Timer1->isActive()) << "no capture is started";
        EXPECT_TRUE(form.Timer2->isActive());
        form.Timer2Timer();
        EXPECT_FALSE(form.isVisible());
        EXPECT_FALSE(std::filesystem::exists(run.SettingsFile()));
    }
}

// Capture mode: switched at creation, given back at the close; TV mode and a desktop that
// already has either target dimension are never switched.
TEST(StartUp, OnlyCaptureModeSwitchesAndRestoresTheScreen) {
    const struct {
        const char* mode;
        int width, height;
        int during;
    } cases[] = {
        {"Capture", 1024, 768, 800}, {"Capture", 800, 768, 800}, {"Capture", 1024, 600, 1024},
        {"TV", 1024, 768, 1024},     {"Time", 1024, 768, 1024},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.mode) + " " + std::to_string(c.width));
        FormUnderTest run({0}, c.width, c.height);
        TForm1& form = run.Create(QString::fromLatin1(c.mode));
        EXPECT_EQ(Width(), c.during);
        form.show();
        form.Button11->click();
        EXPECT_EQ(Width(), c.width);
        EXPECT_TRUE(run.boxes.texts.empty());
    }
}

}  // namespace
