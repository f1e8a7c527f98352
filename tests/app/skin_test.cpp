// SPDX-License-Identifier: GPL-2.0-or-later
#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>

#include "platform/display.h"
#include "tests/app/skin_rules.h"
#include "tests/fakes/form_under_test.h"

namespace {

using fakes::FormUnderTest;

// Pixels of `image` that differ from the rules, where `counts` says the skin is to be seen.
template <typename Counts>
int Mismatches(const QImage& image, Counts counts) {
    const QImage tile = skin_rules::Tile();
    int wrong = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if (!counts(x, y)) continue;
            const auto expected = skin_rules::Pixel(tile, x, y, image.width(), image.height());
            const QRgb seen = image.pixel(x, y) | 0xFF000000u;
            if (expected && *expected == seen) continue;
            if (++wrong <= 5)
                ADD_FAILURE() << "pixel " << x << "," << y << " is " << std::hex << seen;
        }
    }
    return wrong;
}

TEST(Skin, PaintSkinDrawsThePixelsOfTheRules) {
    for (QSize size : {QSize(593, 485), QSize(800, 600), QSize(7, 7), QSize(133, 8), QSize(3, 2)}) {
        SCOPED_TRACE(size.width());
        QImage canvas(size, QImage::Format_RGB32);
        canvas.fill(Qt::magenta);
        {
            QPainter painter(&canvas);
            TForm1::PaintSkin(painter, size, TForm1::SkinTile());
        }
        EXPECT_EQ(Mismatches(canvas, [](int, int) { return true; }), 0);
    }
}

TEST(Skin, NothingIsPaintedOnAnEmptyWindowAndOnlyTilesWithoutTheFrame) {
    QImage canvas(20, 20, QImage::Format_RGB32);
    canvas.fill(Qt::magenta);
    QPainter painter(&canvas);
    TForm1::PaintSkin(painter, QSize(0, 0), TForm1::SkinTile());
    TForm1::PaintSkin(painter, QSize(0, 20), TForm1::SkinTile());
    painter.end();
    EXPECT_EQ(canvas.pixel(0, 0), QColor(Qt::magenta).rgb());
    EXPECT_EQ(canvas.pixel(19, 19), QColor(Qt::magenta).rgb());

    painter.begin(&canvas);
    TForm1::PaintSkin(painter, canvas.size(), TForm1::SkinTile(), true);
    painter.end();
    EXPECT_EQ(canvas.pixel(0, 0), QColor(Qt::magenta).rgb()) << "no frame";
    EXPECT_EQ(canvas.pixel(7, 7), skin_rules::Tile().pixel(0, 0));
}

// The window rendered as it shows: wherever no control lies, the skin of its own size.
TEST(Skin, WindowSurfaceShowsTheSkinWithTheOptionsPanelClosedOrOpenAndAtAnySize) {
    FormUnderTest run;
    TForm1& form = run.Create();
    form.show();
    ASSERT_EQ(form.size(), QSize(593, 485));
    for (bool optionsShown : {false, true}) {
        form.Panel5->setVisible(optionsShown);
        SCOPED_TRACE(optionsShown);
        const QImage shot = form.grab().toImage();
        EXPECT_EQ(Mismatches(shot, [&form](int x, int y) { return !form.childAt(x, y); }), 0);
        // Panels hide the tiles and the picture beneath them: inside their bevels, where none of
        // their controls lies, they show the window's colour.
        const QColor face = form.palette().color(QPalette::Window);
        for (auto [panel, at] : {std::pair{form.Panel2, QPoint(6, 6)},
                                 std::pair{form.Panel5, QPoint(200, 6)}}) {  // over Panel3
            if (panel->isHidden()) continue;
            const QPoint inside = panel->mapTo(&form, at);
            EXPECT_EQ(form.childAt(inside), panel);
            EXPECT_EQ(shot.pixelColor(inside), face) << panel->objectName().toStdString();
        }
    }
    form.resize(800, 600);
    const QImage shot = form.grab().toImage();
    EXPECT_EQ(Mismatches(shot, [&form](int x, int y) { return !form.childAt(x, y); }), 0);
}

// A mouse event delivered as the toolkit would: to the control under the point, passed on to the
// window when the control leaves it unused.
void Mouse(TForm1& form, QEvent::Type type, QPoint at, Qt::MouseButton button,
           Qt::MouseButtons held) {
    QWidget* receiver = form.childAt(at);
    if (receiver == nullptr) receiver = &form;
    POINT cursor{};
    GetCursorPos(&cursor);
    QMouseEvent event(type, receiver->mapFrom(&form, QPointF(at)), QPointF(cursor.x, cursor.y),
                      button, held, Qt::NoModifier);
    QApplication::sendEvent(receiver, &event);
}

struct DragRun {
    explicit DragRun(const QString& mode = {}) : form(run.Create(mode)) {
        form.show();
        QApplication::processEvents();
        start = form.pos();
        SetCursorPos(500, 400);
    }
    void Press(QPoint at, Qt::MouseButton button, Qt::MouseButtons held) {
        Mouse(form, QEvent::MouseButtonPress, at, button, held);
    }
    void Release(Qt::MouseButton button, Qt::MouseButtons held) {
        Mouse(form, QEvent::MouseButtonRelease, {3, 3}, button, held);
    }
    void MoveCursorBy(int dx, int dy, Qt::MouseButtons held) {
        POINT cursor{};
        GetCursorPos(&cursor);
        SetCursorPos(cursor.x + dx, cursor.y + dy);
        Mouse(form, QEvent::MouseMove, {3, 3}, Qt::NoButton, held);
    }
    QPoint Moved() const { return form.pos() - start; }

    FormUnderTest run;
    TForm1& form;
    QPoint start;
};

TEST(SkinDrag, TheWindowFollowsTheCursorFromWhereTheDragStarted) {
    DragRun drag;
    EXPECT_EQ(drag.form.DragAnchor.cursorX, -1);
    drag.MoveCursorBy(40, 40, Qt::NoButton);
    EXPECT_EQ(drag.Moved(), QPoint(0, 0)) << "a move with no drag moves nothing";

    drag.Press({2, 200}, Qt::LeftButton, Qt::LeftButton);  // on the left frame
    for (int i = 0; i < 10; ++i) drag.MoveCursorBy(5, 3, Qt::LeftButton);
    EXPECT_EQ(drag.Moved(), QPoint(50, 30));
    drag.MoveCursorBy(-80, -60, Qt::LeftButton);
    EXPECT_EQ(drag.Moved(), QPoint(-30, -30));

    // A second button neither restarts the drag nor ends it; the first release ends it.
    drag.Press({3, 3}, Qt::RightButton, Qt::LeftButton | Qt::RightButton);
    drag.MoveCursorBy(10, 0, Qt::LeftButton | Qt::RightButton);
    EXPECT_EQ(drag.Moved(), QPoint(-20, -30));
    drag.Release(Qt::RightButton, Qt::LeftButton);
    EXPECT_EQ(drag.form.DragAnchor.cursorX, -1);
    drag.MoveCursorBy(10, 10, Qt::LeftButton);
    EXPECT_EQ(drag.Moved(), QPoint(-20, -30));
}

TEST(SkinDrag, PressesOnControlsAndOnTheTimeTileNeverDrag) {
    DragRun windowed;
    for (QWidget* control : std::initializer_list<QWidget*>{
             windowed.form.Panel2, windowed.form.Panel3, windowed.form.Panel1}) {
        const QPoint inside = control->geometry().center();
        ASSERT_EQ(windowed.form.childAt(inside) != nullptr, true);
        windowed.Press(inside, Qt::LeftButton, Qt::LeftButton);
        windowed.MoveCursorBy(20, 20, Qt::LeftButton);
        windowed.Release(Qt::LeftButton, Qt::NoButton);
    }
    EXPECT_EQ(windowed.Moved(), QPoint(0, 0));

    DragRun time(QStringLiteral("Time"));
    ASSERT_EQ(time.form.Panel7->geometry(), time.form.rect());
    time.Press({1, 1}, Qt::LeftButton, Qt::LeftButton);
    time.MoveCursorBy(20, 20, Qt::LeftButton);
    EXPECT_EQ(time.Moved(), QPoint(0, 0));
}

TEST(SkinTitleStrip, ALeftClickMinimisesWithoutStartingADrag) {
    DragRun run;
    const QPoint strip = run.form.Panel4->mapTo(&run.form, run.form.Panel4->rect().center());
    run.Press(strip, Qt::RightButton, Qt::RightButton);
    Mouse(run.form, QEvent::MouseButtonRelease, strip, Qt::RightButton, Qt::NoButton);
    EXPECT_FALSE(run.form.isMinimized());
    run.Press(strip, Qt::LeftButton, Qt::LeftButton);
    EXPECT_EQ(run.form.DragAnchor.cursorX, -1);
    Mouse(run.form, QEvent::MouseButtonRelease, strip, Qt::LeftButton, Qt::NoButton);
    EXPECT_TRUE(run.form.isMinimized());
    EXPECT_TRUE(run.form.isVisible());
}

}  // namespace
