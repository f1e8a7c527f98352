// SPDX-License-Identifier: GPL-2.0-or-later
#include <QEvent>
#include <QLabel>
#include <cmath>

#include "app/form1.h"
#include "platform/display.h"

namespace {

// One property at a time, so that a later step reading it sees the new value.
void SetLeft(QWidget* w, int left) {
    w->move(left, w->y());
}
void SetTop(QWidget* w, int top) {
    w->move(w->x(), top);
}
void SetWidth(QWidget* w, int width) {
    w->resize(width, w->height());
}
void SetHeight(QWidget* w, int height) {
    w->resize(w->width(), height);
}

int DesktopWidth() {
    return GetSystemMetrics(SM_CXSCREEN);
}
int DesktopHeight() {
    return GetSystemMetrics(SM_CYSCREEN);
}

// Integer division truncates toward zero (-3 / 2 == -1), so an odd pixel always goes to the right,
// whether the inner part fits (margins 1 and 2) or overhangs (1 and 2 pixels past the edges).
int CentredLeft(int outer, int inner) {
    return (outer - inner) / 2;
}

}  // namespace

std::uint16_t TForm1::Percent(long value, long double percent) {
    const long double product = static_cast<long double>(value) * percent / 100.0L;
    return static_cast<std::uint16_t>(static_cast<long long>(std::trunc(product)));
}

void TForm1::LayoutWindowed() {
    SetHeight(this, ImageHeight + Panel2->height() + 60);
    for (QWidget* video : {static_cast<QWidget*>(Panel1), static_cast<QWidget*>(Panel6)}) {
        SetWidth(video, ImageWidth);
        SetHeight(video, ImageHeight);
        SetLeft(video, CentredLeft(width(), Panel1->width()));
        SetTop(video, 23);
    }
    Image1->setGeometry(0, 0, ImageWidth, ImageHeight);
    SetWidth(Panel3, ImageWidth + 16);
    SetHeight(Panel3, ImageHeight + 16);
    SetLeft(Panel3, CentredLeft(width(), Panel3->width()));
    SetTop(Panel3, 15);
    SetWidth(this, Panel2->width() + 40);
    SetTop(Panel2, height() - Panel2->height() - 15);
    SetLeft(Panel2, CentredLeft(width(), Panel2->width()));
    SetTop(Panel5, 15);
    SetLeft(Panel5, CentredLeft(width(), Panel5->width()));
}

void TForm1::LayoutFullScreen() {
    SetTop(this, 0);
    SetLeft(this, 0);
    SetHeight(this, DesktopHeight());
    SetWidth(this, DesktopWidth());
    Panel6->setGeometry(-1, -1, DesktopWidth() + 2, DesktopHeight() + 2);
    SetWidth(Image1, TargetWidth);
    SetHeight(Image1, TargetHeight);
    SetLeft(Image1, CentredLeft(DesktopWidth(), Image1->width()));
    SetTop(Image1, CentredLeft(DesktopHeight(), Image1->height()));
}

void TForm1::FitToCaptureFormat() {
    const BITMAPINFOHEADER format = CaptureFormatHeader();
    SetWidth(Panel1, format.biWidth);
    SetHeight(Panel1, format.biHeight);
    SetLeft(Panel1, CentredLeft(width(), Panel1->width()));
    SetWidth(Image1, format.biWidth);
    SetHeight(Image1, format.biHeight);
    SetLeft(Image1, CentredLeft(width(), Image1->width()));
    Image1->repaint();
    SetWidth(Panel3, format.biWidth + 16);
    SetHeight(Panel3, format.biHeight + 16);
    SetLeft(Panel3, CentredLeft(width(), Panel3->width()));
}

void TForm1::ShowTimeTile() {
    Panel7->show();
    Panel7->setGeometry(0, 0, Percent(DesktopWidth(), 4), Percent(DesktopHeight(), 4));
    QPalette palette = Panel7->palette();
    palette.setColor(QPalette::Window, QColor(255, 0, 0));
    Panel7->setPalette(palette);
    Panel7->setAutoFillBackground(true);
    setWindowFlag(Qt::WindowStaysOnTopHint, true);
}

void TForm1::PlaceTimeWindow() {
    SetWidth(this, Percent(DesktopWidth(), 4));
    SetHeight(this, Percent(DesktopHeight(), 4));
    SetLeft(this, Percent(DesktopWidth(), 48));
    SetTop(this, Percent(DesktopHeight(), 94.5L));
}

// Image1 is client-aligned: whatever the layouts gave it, it covers Panel6 inside the bevel
// again each time the panel is shown or resized.
void TForm1::FitImage1ToPanel6() {
    Image1->setGeometry(Panel6->contentsRect());
}

bool TForm1::eventFilter(QObject* watched, QEvent* event) {
    if (watched == Panel6 && (event->type() == QEvent::Show || event->type() == QEvent::Resize)) {
        FitImage1ToPanel6();
    }
    return QWidget::eventFilter(watched, event);
}
