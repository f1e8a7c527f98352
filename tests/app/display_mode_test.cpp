// SPDX-License-Identifier: GPL-2.0-or-later
#include <gtest/gtest.h>

#include "platform/display.h"
#include "tests/fakes/form_under_test.h"

namespace {

using fakes::FormUnderTest;
using platform::DisplayDescription;
using platform::FrameSize;

DisplayDescription Display(FrameSize size, std::vector<FrameSize> modes,
                           std::vector<FrameSize> restart = {},
                           std::vector<FrameSize> failed = {}) {
    DisplayDescription display;
    display.backend = DisplayDescription::Backend::Machine;
    display.size = size;
    display.modes = std::move(modes);
    display.restart = std::move(restart);
    display.failed = std::move(failed);
    return display;
}

QSize Desktop() {
    return {GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
}

struct ResolutionCase {
    const char* name;
    DisplayDescription display;
    LONG rc;
    std::vector<std::string> messages;
    QSize desktopAfter;
};

TEST(SetDisplayResolution, TestsThenAppliesAndNamesEachRefusal) {
    const FrameSize big{1024, 768}, small{800, 600};
    const ResolutionCase cases[] = {
        {"accepted", Display(big, {small, big}), DISP_CHANGE_SUCCESSFUL, {}, QSize(800, 600)},
        {"needs a restart",
         Display(big, {small, big}, {small}),
         DISP_CHANGE_RESTART,
         {"ne peut modifier la résolution car nécessiterait un redémarrage de Windows"},
         QSize(1024, 768)},
        {"fails",
         Display(big, {small, big}, {}, {small}),
         DISP_CHANGE_FAILED,
         {"erreur"},
         QSize(1024, 768)},
        {"not a mode",
         Display(big, {big}),
         DISP_CHANGE_BADMODE,
         {"Mode Graphique non supporté"},
         QSize(1024, 768)},
    };
    for (const ResolutionCase& c : cases) {
        SCOPED_TRACE(c.name);
        FormUnderTest run;
        TForm1& form = run.Create();
        run.machine.SetDisplay(c.display);
        run.boxes.texts.clear();
        EXPECT_EQ(form.SetDisplayResolution(800, 600, 0), c.rc);
        EXPECT_EQ(run.boxes.texts, c.messages);
        EXPECT_EQ(Desktop(), c.desktopAfter);
    }
}

struct SwitchCase {
    FrameSize desktop;
    bool switched;
};

// 800 x 600 is made a mode the display refuses, so an attempt to switch shows its message.
TEST(SwitchDisplayForRunMode, SwitchesOnlyWhenBothSizesDifferFromTheTarget) {
    const SwitchCase cases[] = {
        {{1024, 768}, true}, {{1024, 600}, false}, {{800, 768}, false},
        {{800, 600}, false}, {{1280, 1024}, true}, {{640, 480}, true},
    };
    for (const SwitchCase& c : cases) {
        SCOPED_TRACE(std::to_string(c.desktop.width) + "x" + std::to_string(c.desktop.height));
        FormUnderTest run({0}, c.desktop.width, c.desktop.height);
        run.machine.SetDisplay(Display(c.desktop, {c.desktop}));
        run.Create(QStringLiteral("Capture"));
        const bool attempted =
            !run.boxes.texts.empty() && run.boxes.texts.front() == "Mode Graphique non supporté";
        EXPECT_EQ(attempted, c.switched);
    }
}

TEST(SwitchDisplayForRunMode, ParksTheCursorAtTheCornerOfTheNewDesktop) {
    for (const char* mode : {"Capture", "TV"}) {
        SCOPED_TRACE(mode);
        FormUnderTest run({0}, 1024, 768);
        SetCursorPos(10, 10);
        TForm1& form = run.Create(QString::fromLatin1(mode));
        POINT cursor{};
        ASSERT_TRUE(GetCursorPos(&cursor));
        const QSize desktop = Desktop();
        EXPECT_EQ(desktop, QString::fromLatin1(mode) == "TV" ? QSize(1024, 768) : QSize(800, 600));
        // The service keeps the cursor on the screen: the corner pixel.
        EXPECT_EQ(cursor.x, desktop.width() - 1);
        EXPECT_EQ(cursor.y, desktop.height() - 1);
        EXPECT_EQ(form.geometry(), QRect(QPoint(0, 0), desktop)) << "full-screen layout";
    }
}

TEST(CaptureMode, CloseRestoresTheStartUpResolution) {
    FormUnderTest run({0}, 1024, 768);
    TForm1& form = run.Create(QStringLiteral("Capture"));
    EXPECT_EQ(Desktop(), QSize(800, 600));
    form.close();
    EXPECT_EQ(Desktop(), QSize(1024, 768));
    EXPECT_TRUE(run.boxes.texts.empty());
}

// The close asks for the start-up size even when the switch at start did not happen; a start-up
// size the display no longer offers makes that request visible.
TEST(CaptureMode, CloseRequestsTheStartUpSizeAfterARestartAnswer) {
    FormUnderTest run({0}, 1024, 768);
    run.machine.SetDisplay(Display({1024, 768}, {{800, 600}}, {{800, 600}}));
    TForm1& form = run.Create(QStringLiteral("Capture"));
    EXPECT_EQ(Desktop(), QSize(1024, 768)) << "a change needing a restart is not made";
    form.close();
    EXPECT_EQ(run.boxes.texts,
              (std::vector<std::string>{
                  "ne peut modifier la résolution car nécessiterait un redémarrage de Windows",
                  "Mode Graphique non supporté"}));
}

// Even a run whose start-up failed gives the display back when it closes.
TEST(CaptureMode, RestoredAlsoWhenStartUpFailed) {
    FormUnderTest run(std::set<int>{}, 1024, 768);
    TForm1& form = run.Create(QStringLiteral("Capture"));
    ASSERT_TRUE(form.StartupFailed);
    EXPECT_EQ(Desktop(), QSize(800, 600)) << "the closes requested during creation leave it";
    form.close();
    EXPECT_EQ(Desktop(), QSize(1024, 768)) << "given back when the program ends";
}

TEST(TVMode, NeverChangesTheResolution) {
    FormUnderTest run({0}, 1280, 1024);
    run.machine.SetDisplay(Display({1280, 1024}, {{1280, 1024}}));
    TForm1& form = run.Create(QStringLiteral("TV"));
    EXPECT_EQ(form.TargetWidth, 1280);
    EXPECT_EQ(form.TargetHeight, 1024);
    form.close();
    EXPECT_TRUE(run.boxes.texts.empty());
    EXPECT_EQ(Desktop(), QSize(1280, 1024));
}

}  // namespace
