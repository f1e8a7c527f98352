// SPDX-License-Identifier: GPL-2.0-or-later
// The display service on the described display (the backend every offscreen run uses).
#include "platform/display.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdlib>
#include <ostream>
#include <string>
#include <vector>

#include "platform/display/display_backend.h"
#include "platform/machine.h"
#include "tests/platform/display/print_frame_size.h"

namespace {

using platform::DisplayDescription;
using platform::FrameSize;

// The record the program builds: all three fields flagged, the rest zero.
DEVMODEA Mode(DWORD width, DWORD height, DWORD bits = 32) {
    DEVMODEA mode{};
    mode.dmSize = sizeof(DEVMODEA);
    mode.dmFields = DM_BITSPERPEL | DM_PELSWIDTH | DM_PELSHEIGHT;
    mode.dmBitsPerPel = bits;
    mode.dmPelsWidth = width;
    mode.dmPelsHeight = height;
    return mode;
}

LONG TestMode(DWORD width, DWORD height, DWORD bits = 32) {
    DEVMODEA mode = Mode(width, height, bits);
    return ChangeDisplaySettingsA(&mode, CDS_TEST);
}

LONG ApplyMode(DWORD width, DWORD height) {
    DEVMODEA mode = Mode(width, height);
    return ChangeDisplaySettingsA(&mode, CDS_UPDATEREGISTRY);
}

FrameSize Desktop() {
    return {GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
}

POINT Cursor() {
    POINT point{-7, -7};
    EXPECT_EQ(GetCursorPos(&point), TRUE);
    return point;
}

class DescribedDisplay : public ::testing::Test {
  protected:
    void SetUp() override { previous_ = Describe(DisplayDescription::Backend::Machine); }

    void TearDown() override {
        platform::SetMachine(previous_);
        platform::ResetDisplay();
    }

    static platform::MachineDescription Describe(DisplayDescription::Backend backend,
                                                 FrameSize size = {1024, 768}) {
        platform::MachineDescription machine = platform::Machine();
        machine.display.backend = backend;
        machine.display.size = size;
        machine.display.modes = {{800, 600}, {1024, 768}};
        machine.display.restart = {{640, 480}};
        machine.display.failed = {{1600, 1200}};
        platform::MachineDescription previous = platform::SetMachine(machine);
        platform::ResetDisplay();
        return previous;
    }

    platform::MachineDescription previous_;
};

TEST_F(DescribedDisplay, TestAnswersFromTheListsAndChangesNothing) {
    EXPECT_EQ(TestMode(800, 600), DISP_CHANGE_SUCCESSFUL);
    EXPECT_EQ(TestMode(1024, 768), DISP_CHANGE_SUCCESSFUL);
    EXPECT_EQ(TestMode(640, 480), DISP_CHANGE_RESTART);
    EXPECT_EQ(TestMode(1600, 1200), DISP_CHANGE_FAILED);
    EXPECT_EQ(TestMode(1280, 1024), DISP_CHANGE_BADMODE);
    EXPECT_EQ(TestMode(600, 800), DISP_CHANGE_BADMODE);
    EXPECT_EQ(Desktop(), (FrameSize{1024, 768}));
}

TEST_F(DescribedDisplay, OnlyASuccessfulChangeResizesTheDesktop) {
    EXPECT_EQ(ApplyMode(640, 480), DISP_CHANGE_RESTART);
    EXPECT_EQ(ApplyMode(1600, 1200), DISP_CHANGE_FAILED);
    EXPECT_EQ(ApplyMode(1280, 1024), DISP_CHANGE_BADMODE);
    EXPECT_EQ(Desktop(), (FrameSize{1024, 768}));

    EXPECT_EQ(ApplyMode(800, 600), DISP_CHANGE_SUCCESSFUL);
    EXPECT_EQ(Desktop(), (FrameSize{800, 600}));
    DEVMODEA mode = Mode(1024, 768);
    EXPECT_EQ(ChangeDisplaySettingsA(&mode, 0), DISP_CHANGE_SUCCESSFUL);  // applied, not stored
    EXPECT_EQ(Desktop(), (FrameSize{1024, 768}));
}

TEST_F(DescribedDisplay, NullRecordRestoresTheStartUpMode) {
    EXPECT_EQ(ChangeDisplaySettingsA(nullptr, 0), DISP_CHANGE_SUCCESSFUL);  // nothing to undo
    EXPECT_EQ(Desktop(), (FrameSize{1024, 768}));

    ASSERT_EQ(ApplyMode(800, 600), DISP_CHANGE_SUCCESSFUL);
    EXPECT_EQ(ChangeDisplaySettingsA(nullptr, CDS_TEST), DISP_CHANGE_SUCCESSFUL);
    EXPECT_EQ(Desktop(), (FrameSize{800, 600}));
    EXPECT_EQ(ChangeDisplaySettingsA(nullptr, 0), DISP_CHANGE_SUCCESSFUL);
    EXPECT_EQ(Desktop(), (FrameSize{1024, 768}));
}

TEST_F(DescribedDisplay, BitsPerPixelOfTheUsualDepthsOnly) {
    for (DWORD bits : {0u, 16u, 24u, 32u}) EXPECT_EQ(TestMode(800, 600, bits), 0) << bits;
    for (DWORD bits : {1u, 4u, 8u, 15u, 64u}) {
        EXPECT_EQ(TestMode(800, 600, bits), DISP_CHANGE_BADMODE) << bits;
    }
}

TEST_F(DescribedDisplay, UnflaggedSidesKeepTheCurrentSize) {
    DEVMODEA mode = Mode(800, 9999);
    mode.dmFields = DM_PELSWIDTH;  // 800 x the current 768
    EXPECT_EQ(ChangeDisplaySettingsA(&mode, CDS_TEST), DISP_CHANGE_BADMODE);

    ASSERT_EQ(ApplyMode(800, 600), DISP_CHANGE_SUCCESSFUL);
    mode = Mode(0, 0, 16);
    mode.dmFields = DM_BITSPERPEL;  // a depth change at 800 x 600
    EXPECT_EQ(ChangeDisplaySettingsA(&mode, CDS_TEST), DISP_CHANGE_SUCCESSFUL);
    mode.dmFields = DM_BITSPERPEL | DM_PELSHEIGHT;  // 800 x 0
    EXPECT_EQ(ChangeDisplaySettingsA(&mode, CDS_TEST), DISP_CHANGE_BADMODE);
}

TEST_F(DescribedDisplay, MalformedRecordsAndFlagsAreRefused) {
    DEVMODEA mode = Mode(800, 600);
    mode.dmSize = 0;
    EXPECT_EQ(ChangeDisplaySettingsA(&mode, CDS_TEST), DISP_CHANGE_BADPARAM);
    mode.dmSize = offsetof(DEVMODEA, dmPelsHeight);  // cuts the flagged height off
    EXPECT_EQ(ChangeDisplaySettingsA(&mode, CDS_UPDATEREGISTRY), DISP_CHANGE_BADPARAM);
    mode.dmSize = offsetof(DEVMODEA, dmDisplayFlags);  // the older, shorter record holds it all
    EXPECT_EQ(ChangeDisplaySettingsA(&mode, CDS_TEST), DISP_CHANGE_SUCCESSFUL);

    EXPECT_EQ(TestMode(0xFFFFFFFFu, 600), DISP_CHANGE_BADMODE);
    EXPECT_EQ(TestMode(800, 0), DISP_CHANGE_BADMODE);
    mode = Mode(800, 600);
    EXPECT_EQ(ChangeDisplaySettingsA(&mode, CDS_TEST | 0x100), DISP_CHANGE_BADFLAGS);
    EXPECT_EQ(Desktop(), (FrameSize{1024, 768}));
}

TEST_F(DescribedDisplay, CursorStartsCentredAndStaysOnTheDesktop) {
    EXPECT_EQ(Cursor().x, 512);
    EXPECT_EQ(Cursor().y, 384);
    EXPECT_EQ(SetCursorPos(100, 200), TRUE);
    EXPECT_EQ(Cursor().x, 100);
    EXPECT_EQ(Cursor().y, 200);
    SetCursorPos(1024 + 50, 768 + 50);  // parked just beyond the corner
    EXPECT_EQ(Cursor().x, 1023);
    EXPECT_EQ(Cursor().y, 767);
    SetCursorPos(-5, -2147483647 - 1);
    EXPECT_EQ(Cursor().x, 0);
    EXPECT_EQ(Cursor().y, 0);

    SetCursorPos(1000, 700);
    ASSERT_EQ(ApplyMode(800, 600), DISP_CHANGE_SUCCESSFUL);
    EXPECT_EQ(Cursor().x, 799);
    EXPECT_EQ(Cursor().y, 599);
    EXPECT_EQ(GetCursorPos(nullptr), FALSE);
}

struct MonitorCase {
    const char* name;
    RECT rect;
    DWORD flags;
    bool found;
};

// The described desktop is the one monitor, all of it work area: a rectangle on it or across its
// edge finds it; one off it, only by the flags' choice.
TEST_F(DescribedDisplay, TheDesktopIsTheOneMonitor) {
    const MonitorCase cases[] = {
        {"inside", {10, 10, 600, 500}, MONITOR_DEFAULTTONULL, true},
        {"across the corner", {1000, 700, 1600, 1200}, MONITOR_DEFAULTTONULL, true},
        {"off it", {1024, 0, 1600, 500}, MONITOR_DEFAULTTONULL, false},
        {"off it, the primary", {-900, -900, -300, -300}, MONITOR_DEFAULTTOPRIMARY, true},
        {"off it, the nearest", {3000, 5000, 3600, 5500}, MONITOR_DEFAULTTONEAREST, true},
        {"empty", {50, 50, 50, 50}, MONITOR_DEFAULTTONULL, false},
    };
    for (const MonitorCase& c : cases) {
        SCOPED_TRACE(c.name);
        const HMONITOR monitor = MonitorFromRect(&c.rect, c.flags);
        EXPECT_EQ(monitor != nullptr, c.found);
        MONITORINFO info{};
        info.cbSize = sizeof(info);
        EXPECT_EQ(GetMonitorInfoA(monitor, &info), c.found ? TRUE : FALSE);
        if (!c.found) continue;
        for (const RECT& r : {info.rcMonitor, info.rcWork}) {
            EXPECT_EQ((std::vector<LONG>{r.left, r.top, r.right, r.bottom}),
                      (std::vector<LONG>{0, 0, 1024, 768}));
        }
        EXPECT_EQ(info.dwFlags, MONITORINFOF_PRIMARY);
        info.cbSize = sizeof(info) - 1;
        EXPECT_EQ(GetMonitorInfoA(monitor, &info), FALSE);
    }
    EXPECT_EQ(MonitorFromRect(nullptr, MONITOR_DEFAULTTOPRIMARY), nullptr);
    EXPECT_EQ(GetMonitorInfoA(reinterpret_cast<HMONITOR>(2), nullptr), FALSE);
}

TEST_F(DescribedDisplay, OtherMetricsAreZero) {
    EXPECT_EQ(GetSystemMetrics(2), 0);
    EXPECT_EQ(GetSystemMetrics(-1), 0);
}

TEST_F(DescribedDisplay, ANewDescriptionIsTakenUpWithoutAReset) {
    ASSERT_EQ(ApplyMode(800, 600), DISP_CHANGE_SUCCESSFUL);
    platform::MachineDescription machine = platform::Machine();
    machine.display.size = {1280, 1024};
    platform::SetMachine(machine);
    EXPECT_EQ(Desktop(), (FrameSize{1280, 1024}));
}

TEST_F(DescribedDisplay, AZeroSizedDescriptionGivesTheDefaultDesktop) {
    Describe(DisplayDescription::Backend::Machine, {0, 0});
    EXPECT_EQ(Desktop(), DisplayDescription{}.size);
}

// Test programs run offscreen, where the automatic choice must not touch a real X screen.
TEST_F(DescribedDisplay, AutomaticOffscreenIsTheDescribedDisplay) {
    Describe(DisplayDescription::Backend::Automatic, {1280, 1024});
    EXPECT_EQ(Desktop(), (FrameSize{1280, 1024}));
}

TEST_F(DescribedDisplay, X11WithoutAnXDisplaySaysSoAndUsesTheDescription) {
    const char* display = std::getenv("DISPLAY");
    const std::string saved = display != nullptr ? display : "";
    setenv("DISPLAY", ":32000", 1);  // no server listens there
    Describe(DisplayDescription::Backend::X11, {1280, 1024});
    ::testing::internal::CaptureStderr();
    const FrameSize desktop = Desktop();
    const std::string said = ::testing::internal::GetCapturedStderr();
    if (display != nullptr) {
        setenv("DISPLAY", saved.c_str(), 1);
    } else {
        unsetenv("DISPLAY");
    }
    EXPECT_EQ(desktop, (FrameSize{1280, 1024}));
    EXPECT_NE(said.find("no X display"), std::string::npos) << said;
}

}  // namespace
