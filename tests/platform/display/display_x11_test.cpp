// SPDX-License-Identifier: GPL-2.0-or-later
// The display service on a real X server. display_x11_test.sh starts a private Xvfb (1024x768,
// with 800x600 added to its output) and names it in VISTREL_XVFB_DISPLAY; anywhere else, a
// developer's own screen included, these tests skip rather than change a real display.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDeadlineTimer>
#include <QGuiApplication>
#include <QScreen>
#include <QWidget>
#include <QWindow>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <ostream>
#include <string>

#include "platform/display.h"
#include "platform/display/display_backend.h"
#include "platform/machine.h"
#include "platform/window_handles.h"
#include "tests/platform/display/print_frame_size.h"

namespace {

using platform::DisplayDescription;
using platform::FrameSize;

std::string Shell(const std::string& command) {
    std::string output;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char buffer[512];
        while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) output += buffer;
        pclose(pipe);
    }
    return output;
}

// What the server itself says, through a client of its own.
FrameSize ServerSize() {
    const std::string info = Shell("xdpyinfo");
    FrameSize size;
    const auto at = info.find("dimensions:");
    if (at != std::string::npos) {
        std::sscanf(info.c_str() + at, "dimensions: %dx%d", &size.width, &size.height);
    }
    return size;
}

FrameSize Metrics() {
    return {GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
}

FrameSize QtScreen() {
    const QSize size = QGuiApplication::primaryScreen()->geometry().size();
    return {size.width(), size.height()};
}

POINT Cursor() {
    POINT point{-7, -7};
    EXPECT_EQ(GetCursorPos(&point), TRUE);
    return point;
}

LONG Change(DWORD width, DWORD height, DWORD flags) {
    DEVMODEA mode{};
    mode.dmSize = sizeof mode;
    mode.dmFields = DM_BITSPERPEL | DM_PELSWIDTH | DM_PELSHEIGHT;
    mode.dmPelsWidth = width;
    mode.dmPelsHeight = height;
    return ChangeDisplaySettingsA(&mode, flags);
}

class XScreen : public ::testing::Test {
  protected:
    void SetUp() override {
        const char* xvfb = std::getenv("VISTREL_XVFB_DISPLAY");
        const char* display = std::getenv("DISPLAY");
        if (xvfb == nullptr || display == nullptr || std::string(xvfb) != display ||
            QGuiApplication::platformName() != QLatin1String("xcb")) {
            GTEST_SKIP() << "needs the private Xvfb that display_x11_test.sh starts";
        }
        previous_ = Describe(DisplayDescription::Backend::Automatic);
        ASSERT_EQ(ServerSize(), (FrameSize{1024, 768})) << "the server did not start as expected";
    }

    void TearDown() override {
        if (IsSkipped()) return;
        ChangeDisplaySettingsA(nullptr, 0);
        platform::SetMachine(previous_);
        platform::ResetDisplay();
    }

    // A described display unlike the server's, so that using it by mistake shows.
    static platform::MachineDescription Describe(DisplayDescription::Backend backend) {
        platform::MachineDescription machine = platform::Machine();
        machine.display.backend = backend;
        machine.display.size = {1280, 1024};
        machine.display.modes = {{640, 480}, {1280, 1024}};
        platform::MachineDescription previous = platform::SetMachine(machine);
        platform::ResetDisplay();
        return previous;
    }

    platform::MachineDescription previous_;
};

TEST_F(XScreen, AutomaticUsesTheServersScreen) {
    EXPECT_EQ(Metrics(), (FrameSize{1024, 768}));
    EXPECT_EQ(QtScreen(), (FrameSize{1024, 768}));
}

TEST_F(XScreen, ADescribedDisplayCanStillBeChosen) {
    Describe(DisplayDescription::Backend::Machine);
    EXPECT_EQ(Metrics(), (FrameSize{1280, 1024}));
    EXPECT_EQ(Change(640, 480, CDS_UPDATEREGISTRY), DISP_CHANGE_SUCCESSFUL);
    EXPECT_EQ(ServerSize(), (FrameSize{1024, 768}));
}

TEST_F(XScreen, TestAnswersFromTheOutputsModes) {
    EXPECT_EQ(Change(800, 600, CDS_TEST), DISP_CHANGE_SUCCESSFUL);
    EXPECT_EQ(Change(1024, 768, CDS_TEST), DISP_CHANGE_SUCCESSFUL);
    EXPECT_EQ(Change(640, 480, CDS_TEST), DISP_CHANGE_BADMODE);    // no such mode
    EXPECT_EQ(Change(1280, 1024, CDS_TEST), DISP_CHANGE_BADMODE);  // nor one the screen could hold
    EXPECT_EQ(ServerSize(), (FrameSize{1024, 768}));
}

TEST_F(XScreen, ApplyingSwitchesTheServerAndQtFollows) {
    ASSERT_EQ(Change(800, 600, CDS_UPDATEREGISTRY), DISP_CHANGE_SUCCESSFUL);
    EXPECT_EQ(ServerSize(), (FrameSize{800, 600}));
    EXPECT_NE(Shell("xrandr").find("current 800 x 600"), std::string::npos);
    EXPECT_EQ(Metrics(), (FrameSize{800, 600}));
    EXPECT_EQ(QtScreen(), (FrameSize{800, 600}));

    EXPECT_EQ(ChangeDisplaySettingsA(nullptr, 0), DISP_CHANGE_SUCCESSFUL);
    EXPECT_EQ(ServerSize(), (FrameSize{1024, 768}));
    EXPECT_EQ(Metrics(), (FrameSize{1024, 768}));
    EXPECT_EQ(QtScreen(), (FrameSize{1024, 768}));
}

TEST_F(XScreen, RefusedModesChangeNothing) {
    EXPECT_EQ(Change(640, 480, CDS_UPDATEREGISTRY), DISP_CHANGE_BADMODE);
    EXPECT_EQ(Change(1280, 1024, CDS_UPDATEREGISTRY), DISP_CHANGE_BADMODE);
    EXPECT_EQ(ChangeDisplaySettingsA(nullptr, 0), DISP_CHANGE_SUCCESSFUL);  // nothing to undo
    EXPECT_EQ(ServerSize(), (FrameSize{1024, 768}));
}

TEST_F(XScreen, TheCursorIsTheXPointer) {
    EXPECT_EQ(SetCursorPos(100, 200), TRUE);
    EXPECT_EQ(Cursor().x, 100);
    EXPECT_EQ(Cursor().y, 200);
    EXPECT_NE(Shell("xdotool getmouselocation").find("x:100 y:200"), std::string::npos);

    SetCursorPos(1024 + 50, 768 + 50);
    EXPECT_EQ(Cursor().x, 1023);
    EXPECT_EQ(Cursor().y, 767);
    SetCursorPos(INT_MAX, INT_MIN);  // must not wrap round in the 16-bit protocol
    EXPECT_EQ(Cursor().x, 1023);
    EXPECT_EQ(Cursor().y, 0);
}

// The X window that has the focus, as another client sees it.
WId FocusedWindow() {
    return std::stoul("0" + Shell("xdotool getwindowfocus -f 2>/dev/null"));
}

bool Exposed(QWidget& widget) {
    const QDeadlineTimer deadline(5000);
    while (!widget.windowHandle()->isExposed() && !deadline.hasExpired()) {
        QApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return widget.windowHandle()->isExposed();
}

// Another client's focus change is newer than any event Qt has read, so a request stamped with
// Qt's last event time would be ignored by the server: each must work the first time.
TEST_F(XScreen, SetForegroundWindowTakesTheFocusBackFromAnotherClientAtOnce) {
    QWidget window, other;
    window.setGeometry(100, 100, 200, 100);
    other.setGeometry(400, 100, 200, 100);
    window.show();
    other.show();
    ASSERT_TRUE(Exposed(window) && Exposed(other));
    const HWND handle = platform::HandleOf(new QWidget(&window));
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE(round);
        Shell("xdotool windowfocus --sync " + std::to_string(other.winId()));
        ASSERT_EQ(FocusedWindow(), other.winId());
        EXPECT_EQ(SetForegroundWindow(handle), TRUE);
        EXPECT_EQ(FocusedWindow(), window.winId());
        QApplication::processEvents();
    }
}

TEST_F(XScreen, TheCursorParksOnTheSwitchedDesktop) {
    ASSERT_EQ(Change(800, 600, CDS_UPDATEREGISTRY), DISP_CHANGE_SUCCESSFUL);
    SetCursorPos(GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN));
    EXPECT_EQ(Cursor().x, 799);
    EXPECT_EQ(Cursor().y, 599);
}

}  // namespace
