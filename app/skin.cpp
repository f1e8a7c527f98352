// SPDX-License-Identifier: GPL-2.0-or-later
// The window's own look and title-bar behaviour: the tiled background with its bevelled frame,
// moving the borderless window by dragging its surface, and the title strip that minimises it.
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>

#include "app/form1.h"
#include "platform/display.h"
#include "platform/window_handles.h"
#include "resources/resources.h"

namespace {

const QColor kWhite(255, 255, 255);
const QColor kGrey(128, 128, 128);
const QColor kBlack(0, 0, 0);

// The band along the top and left that the tiles leave for the frame.
constexpr int kFrame = 7;

QPixmap DecodeTile() {
    const auto bitmap = resources::Find("FondD", "BITMAP");
    if (!bitmap) return {};
    QImage tile;
    tile.loadFromData(reinterpret_cast<const uchar*>(bitmap->data()),
                      static_cast<int>(bitmap->size()), "BMP");
    return QPixmap::fromImage(tile);
}

void PaintFrame(QPainter& canvas, int w, int h) {
    canvas.fillRect(0, 1, w, kFrame - 1, kWhite);
    canvas.fillRect(1, 0, kFrame - 1, h, kWhite);
    // Each grey line starts one pixel further in, which cuts the white bands at 45 degrees.
    for (int k = 1; k < kFrame; ++k) {
        canvas.fillRect(k, h - 1 - k, w - k, 1, kGrey);
        canvas.fillRect(w - 1 - k, k, 1, h - k, kGrey);
    }
    canvas.fillRect(0, 0, w, 1, kBlack);
    canvas.fillRect(0, h - 1, w, 1, kBlack);
    canvas.fillRect(0, 0, 1, h, kBlack);
    canvas.fillRect(w - 1, 0, 1, h, kBlack);
}

// Panel4 is a label, which has no click of its own: a left press and release on it is one.
class TitleStripClick : public QObject {
  public:
    // The strip is kept apart from the form: the filter still hears the strip while the form,
    // half destroyed, deletes its children, when the form's own members are gone.
    explicit TitleStripClick(TForm1* form) : QObject(form), form_(form), strip_(form->Panel4) {
        strip_->installEventFilter(this);
    }

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched != strip_) return false;
        if (event->type() != QEvent::MouseButtonPress &&
            event->type() != QEvent::MouseButtonRelease) {
            return false;
        }
        const auto* mouse = static_cast<QMouseEvent*>(event);
        if (mouse->button() != Qt::LeftButton) return true;
        if (event->type() == QEvent::MouseButtonPress) {
            pressed_ = true;
        } else if (pressed_) {
            pressed_ = false;
            if (strip_->rect().contains(mouse->position().toPoint())) form_->Panel4Click();
        }
        // Taken here, so that a press on the strip never reaches the window as a drag.
        return true;
    }

  private:
    TForm1* form_;
    QWidget* strip_;
    bool pressed_ = false;
};

}  // namespace

const QPixmap& TForm1::SkinTile() {
    static const QPixmap tile = DecodeTile();
    return tile;
}

// The tiles are one tiled fill from (7, 7): the same pixels as a tile at 7 + c * tw, 7 + r * th
// for every column and row up to and past the edge, without drawing each one.
void TForm1::PaintSkin(QPainter& canvas, QSize size, const QPixmap& tile, bool tileOnly) {
    const int w = size.width();
    const int h = size.height();
    if (w <= 0 || h <= 0) return;
    if (!tile.isNull() && w > kFrame && h > kFrame) {
        canvas.drawTiledPixmap(QRect(kFrame, kFrame, w - kFrame, h - kFrame), tile);
    }
    if (!tileOnly) PaintFrame(canvas, w, h);
}

void TForm1::FormPaint() {
    QPainter canvas(this);
    PaintSkin(canvas, size(), SkinTile());
}

void TForm1::paintEvent(QPaintEvent*) {
    FormPaint();
}

// Only the window's own surface starts a drag: a press on a control that the control leaves
// unused is passed on to the window, and is dropped here.
void TForm1::mousePressEvent(QMouseEvent* event) {
    event->accept();
    if (childAt(event->position().toPoint()) == nullptr) FormMouseDown();
}

void TForm1::mouseMoveEvent(QMouseEvent* event) {
    event->accept();
    FormMouseMove();
}

void TForm1::mouseReleaseEvent(QMouseEvent* event) {
    event->accept();
    FormMouseUp();
}

void TForm1::FormMouseDown() {
    DragStart();
}

void TForm1::FormMouseMove() {
    DragMove();
}

void TForm1::FormMouseUp() {
    DragStop();
}

// A second button pressed during a drag leaves the drag as it started.
void TForm1::DragStart() {
    if (DragAnchor.cursorX != -1) return;
    POINT cursor{};
    GetCursorPos(&cursor);
    DragAnchor = {cursor.x, cursor.y, x(), y()};
    raise();
}

// From the start values every time, so that no rounding or lost move adds up.
void TForm1::DragMove() {
    if (DragAnchor.cursorX == -1) return;
    POINT cursor{};
    GetCursorPos(&cursor);
    move(DragAnchor.left + (cursor.x - DragAnchor.cursorX),
         DragAnchor.top + (cursor.y - DragAnchor.cursorY));
    raise();
}

void TForm1::DragStop() {
    DragAnchor.cursorX = -1;
    DragAnchor.cursorY = -1;
    raise();
}

void TForm1::Panel4Click() {
    ShowWindow(platform::HandleOf(this), SW_SHOWMINNOACTIVE);
}

void TForm1::WatchTitleStrip() {
    new TitleStripClick(this);
}
