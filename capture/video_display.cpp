// SPDX-License-Identifier: GPL-2.0-or-later
// How a captured frame is shown: drawn into FrameBitmap, copied into Image1Picture and marked
// there with the time of day or the status line, then painted by the picture label itself,
// stretched to its size by DrawDib's nearest-neighbour pass (as a picture control with its
// stretch on does) into a picture of the label's size kept from frame to frame. The pictures and
// the line's text keep their storage from frame to frame, and the line is blended from strokes
// rendered once per font: a frame opens no painter on the picture.
#include <QClipboard>
#include <QEvent>
#include <QGuiApplication>
#include <QLabel>
#include <QMimeData>
#include <QPainter>
#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>

#include "capture/overlay_glyphs.h"
#include "capture/video_display.h"
#include "capture/video_format.h"
#include "platform/display.h"
#include "platform/drawdib.h"
#include "platform/locale_clock.h"
#include "platform/window_handles.h"

namespace {

constexpr int kTileBlinkFrames = 50;
constexpr int kCursorParkFrames = 3000;
constexpr int kClipboardFrames = 8;
// Beyond the longest status line: 18 pieces of which the widest counters take 10 digits.
constexpr std::size_t kOverlayTextSize = OverlayGlyphs::kLongest;
constexpr int kStatusPoints = 8;
constexpr int kTVPoints = 20;
constexpr int kTVTextLeft = 30;
constexpr int kTVTextMargin = 10;

// The time of day in the user's long time format; its length in bytes.
std::size_t FormatTimeOfDay(char* out, std::size_t size) {
    return platform::FormatLongTimeNow(out, size);
}

// Into the text's reserved storage, so that a frame's line allocates nothing. A locale whose
// time text is not plain ASCII takes the allocating decoding from its own encoding instead.
void SetOverlayText(FrameDisplay& display, const char* text, std::size_t length) {
    const bool ascii = std::all_of(
        text, text + length, [](char c) { return (static_cast<unsigned char>(c) & 0x80U) == 0; });
    if (!ascii) {
        display.OverlayText = QString::fromLocal8Bit(text, static_cast<qsizetype>(length));
        return;
    }
    display.OverlayText.truncate(0);
    display.OverlayText.append(QLatin1String(text, static_cast<qsizetype>(length)));
}

void SetTimeOfDayText(FrameDisplay& display) {
    std::array<char, kOverlayTextSize> line{};
    SetOverlayText(display, line.data(), FormatTimeOfDay(line.data(), line.size()));
}

using ElapsedText = std::array<char, kElapsedTextSize>;

ElapsedText ElapsedOf(DWORD timeCaptured) {
    ElapsedText elapsed{};
    FormatElapsedInto(timeCaptured, elapsed.data(), elapsed.size());
    return elapsed;
}

// Every counter is printed from its own value: an unsigned one never shows a sign, whatever
// its size, and only the signed ones below zero are written with a minus.
void SetStatusLineText(FrameDisplay& display, DWORD timeCaptured, const RecordingFigures& f) {
    std::array<char, kOverlayTextSize> line{};
    std::size_t used = FormatTimeOfDay(line.data(), line.size());
    const int added =
        std::snprintf(line.data() + used, line.size() - used,
                      " - %s - %.07lld/%.05lld/%.02lld - %.03lld/%.03lld/%.03lld - (%.03lld)",
                      ElapsedOf(timeCaptured).data(), static_cast<long long>(f.captureFrames),
                      static_cast<long long>(f.fileFrames), static_cast<long long>(f.fileIndex),
                      static_cast<long long>(f.totalDefect), static_cast<long long>(f.drops),
                      static_cast<long long>(f.inserts), static_cast<long long>(f.drift));
    if (added > 0) used = std::min(used + static_cast<std::size_t>(added), line.size() - 1);
    SetOverlayText(display, line.data(), used);
}

// The header handed to DrawDib carries the frame's own byte count, so that a frame shorter than
// its format says is refused instead of read past its end (a compressed frame needs it anyway).
void DrawFrameBitmap(FrameDisplay& display, const VIDEOHDR& frame, int width, int height) {
    if (frame.lpData == nullptr || frame.dwBytesUsed == 0) return;
    BITMAPINFOHEADER source = display.FormatHeader();
    source.biSizeImage = frame.dwBytesUsed;
    DrawDibDraw(display.DrawDibHandle, platform::DeviceContextOf(&display.FrameBitmap), 0, 0, width,
                height, &source, frame.lpData, 0, 0, source.biWidth, source.biHeight, 0);
}

// The label's own copy of FrameBitmap, made in the copy's reused pixels. False when there is no
// picture to show.
bool BeginImage1Picture(FrameDisplay& display) {
    if (display.FrameBitmap.isNull()) return false;
    if (display.Image1Picture.size() != display.FrameBitmap.size() ||
        display.Image1Picture.format() != display.FrameBitmap.format()) {
        display.Image1Picture = QImage(display.FrameBitmap.size(), display.FrameBitmap.format());
        if (display.Image1Picture.isNull()) return false;  // its memory refused: nothing shown
    }
    std::memcpy(display.Image1Picture.bits(), display.FrameBitmap.constBits(),
                static_cast<std::size_t>(display.FrameBitmap.sizeInBytes()));
    return true;
}

// Once there is a picture it covers the label whole: nothing beneath needs painting first.
void ShowImage1Picture(FrameDisplay& display) {
    display.Picture->setAttribute(Qt::WA_OpaquePaintEvent);
    display.Picture->repaint();
}

// Just beyond the bottom-right corner of the desktop as it is now, out of the picture's way.
void ParkCursor(FrameDisplay& display) {
    SetCursorPos(GetSystemMetrics(SM_CXSCREEN) + 50, GetSystemMetrics(SM_CYSCREEN) + 50);
    // With the server's time of the moment, or the request is refused after another window
    // took the focus.
    SetForegroundWindow(platform::HandleOf(display.Window));
}

// At its own size in the bottom-right corner; a clipboard without a readable picture leaves the
// frame as it is.
void DrawClipboardBitmap(QImage& picture) {
    const QClipboard* clipboard = QGuiApplication::clipboard();
    const QMimeData* data = clipboard != nullptr ? clipboard->mimeData() : nullptr;
    if (data == nullptr || !data->hasImage()) return;
    const QImage bitmap = clipboard->image();
    if (bitmap.isNull()) return;
    QPainter canvas(&picture);
    canvas.drawImage(QRect(picture.width() - bitmap.width(), picture.height() - bitmap.height(),
                           bitmap.width(), bitmap.height()),
                     bitmap);
}

}  // namespace

// Paints the picture label from Image1Picture instead of the label's own pixmap, which Qt would
// rescale smoothly on every paint, and draws the overlay text. A picture of another size than the
// label's, with the stretch on, is stretched once per new picture (QImage changes its cache key
// whenever it is written) into a picture of the label's size kept for the next frames; with the
// stretch off (TV) it is painted at its own size, as it already has the screen's. A child of the
// label.
class PictureView final : public QObject {
  public:
    explicit PictureView(FrameDisplay& display) : QObject(display.Picture), display_(display) {
        display.Picture->installEventFilter(this);
    }

    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() != QEvent::Paint || display_.Image1Picture.isNull()) {
            return QObject::eventFilter(watched, event);
        }
        QPainter painter(display_.Picture);
        painter.setCompositionMode(QPainter::CompositionMode_Source);
        const QImage& shown = Shown();
        painter.drawImage(0, 0, shown);
        const int width = display_.Picture->width(), height = display_.Picture->height();
        if (shown.width() < width) {
            painter.fillRect(shown.width(), 0, width - shown.width(), height, Qt::black);
        }
        if (shown.height() < height) {
            painter.fillRect(0, shown.height(), shown.width(), height - shown.height(), Qt::black);
        }
        return true;
    }

    // Width and height of OverlayText in OverlayFont; DrawText draws it into Image1Picture
    // with its top-left corner at (left, top), green strokes only. A text the glyphs cannot
    // take (beyond ASCII, a character the font lacks) goes through Qt's text drawing.
    int TextWidth() {
        if (!Prepare()) return Metrics().horizontalAdvance(display_.OverlayText);
        return glyphs_.width();
    }
    int TextHeight() {
        if (!Prepare()) return Metrics().height();
        return glyphs_.height();
    }
    void DrawText(int left, int top) {
        QImage& picture = display_.Image1Picture;
        if (Prepare()) {
            glyphs_.Draw(picture, left, top);
            return;
        }
        QPainter canvas(&picture);
        canvas.setFont(display_.OverlayFont);
        canvas.setPen(QColor(Qt::green));
        canvas.setBackgroundMode(Qt::TransparentMode);
        canvas.drawText(left, top + canvas.fontMetrics().ascent(), display_.OverlayText);
    }

  private:
    const QImage& Shown() {
        const QImage& picture = display_.Image1Picture;
        const QSize size = display_.Picture->size();
        if (!display_.Picture->hasScaledContents() || picture.size() == size || size.isEmpty()) {
            return picture;
        }
        if (stretched_.size() != size) {
            stretched_ = QImage(size, QImage::Format_RGB32);
            stretched_.fill(Qt::black);
            stretchedKey_ = 0;
        }
        if (stretchedKey_ != picture.cacheKey()) {
            Stretch(picture);
            stretchedKey_ = picture.cacheKey();
        }
        return stretched_;
    }

    // The picture's 32-bit rows, top-down, as DrawDib reads them.
    void Stretch(const QImage& picture) {
        BITMAPINFOHEADER source{};
        source.biSize = sizeof source;
        source.biWidth = picture.width();
        source.biHeight = -picture.height();
        source.biPlanes = 1;
        source.biBitCount = 32;
        source.biCompression = BI_RGB;
        source.biSizeImage = static_cast<DWORD>(picture.sizeInBytes());
        DrawDibDraw(display_.DrawDibHandle, platform::DeviceContextOf(&stretched_), 0, 0,
                    stretched_.width(), stretched_.height(), &source,
                    const_cast<uchar*>(picture.constBits()), 0, 0, picture.width(),
                    picture.height(), 0);
    }

    bool Prepare() {
        return glyphs_.Prepare(display_.OverlayFont, display_.Image1Picture, display_.OverlayText);
    }
    QFontMetrics Metrics() const {
        return QFontMetrics(display_.OverlayFont, &display_.Image1Picture);
    }

    FrameDisplay& display_;
    QImage stretched_;
    qint64 stretchedKey_ = 0;
    OverlayGlyphs glyphs_{QColor(Qt::green)};
};

namespace {

void SetFrameBitmapSize(FrameDisplay& display, int width, int height) {
    if (display.FrameBitmap.size() == QSize(width, height)) return;
    display.FrameBitmap = QImage(width, height, QImage::Format_RGB32);
    display.FrameBitmap.fill(Qt::black);
}

}  // namespace

std::size_t FormatElapsedInto(std::uint32_t milliseconds, char* out, std::size_t size) {
    std::uint32_t seconds = milliseconds / 1000;
    const std::uint32_t hours = seconds / 3600;
    seconds -= hours * 3600;
    const std::uint32_t minutes = seconds / 60;
    seconds -= minutes * 60;
    const int length = std::snprintf(out, size, "%.02u:%.02u:%.02u", hours, minutes, seconds);
    return length < 0 ? 0 : std::min(static_cast<std::size_t>(length), size - 1);
}

int ScaledToScreen(std::uint16_t screenWidth, int factor) {
    long double value = static_cast<long double>(screenWidth);
    value /= 800.0L;
    value *= static_cast<long double>(factor);
    return static_cast<int>(value);
}

void FrameDisplay::ShowOn(QWidget* window, QLabel* picture, QLabel* tile,
                          const std::vector<BYTE>* captureFormat) {
    Window = window;
    Picture = picture;
    Tile = tile;
    CaptureFormat = captureFormat;
}

void FrameDisplay::Open(RunMode mode, std::uint16_t screenWidth, std::uint16_t screenHeight) {
    ScreenWidth = screenWidth;
    ScreenHeight = screenHeight;
    DrawDibHandle = DrawDibOpen();
    if (Painter == nullptr) Painter = new PictureView(*this);
    const BITMAPINFOHEADER format = FormatHeader();
    SetFrameBitmapSize(*this, std::max(0, format.biWidth), std::max(0, format.biHeight));
    OverlayText.reserve(kOverlayTextSize);
    if (mode == RunMode::TV) {
        OverlayFont = QFont();
        OverlayFont.setPointSize(std::max(1, ScaledToScreen(ScreenWidth, kTVPoints)));
    } else {
        OverlayFont = QFont(QStringLiteral("Courrier New"), kStatusPoints);
    }
}

void FrameDisplay::Close() {
    if (DrawDibHandle != nullptr) DrawDibClose(DrawDibHandle);
    DrawDibHandle = nullptr;
    FrameBitmap = QImage();
}

BITMAPINFOHEADER FrameDisplay::FormatHeader() const {
    return CaptureFormat != nullptr ? HeaderOf(*CaptureFormat) : BITMAPINFOHEADER{};
}

// Each blink takes the keyboard back, so that Escape, which ends the capture, reaches the tile
// at most a blink after another program took it.
void BlinkTimeTile(FrameDisplay& display, std::int32_t fileFrames) {
    if (fileFrames % kTileBlinkFrames != 0) return;
    QPalette palette = display.Tile->palette();
    const bool red = palette.color(QPalette::Window) == QColor(Qt::red);
    palette.setColor(QPalette::Window, red ? QColor(Qt::green) : QColor(Qt::red));
    display.Tile->setPalette(palette);
    display.Tile->repaint();
    SetForegroundWindow(platform::HandleOf(display.Window));
    display.Window->setFocus();
}

// "TV" never records: its file's frame count stays 0, so every frame parks the cursor and looks
// at the clipboard.
void ShowTVFrame(FrameDisplay& display, const VIDEOHDR& frame, std::int32_t fileFrames) {
    SetFrameBitmapSize(display, display.ScreenWidth, display.ScreenHeight);
    DrawFrameBitmap(display, frame, display.ScreenWidth, display.ScreenHeight);
    SetTimeOfDayText(display);
    if (fileFrames % kCursorParkFrames == 0) ParkCursor(display);
    if (!BeginImage1Picture(display)) return;
    if (fileFrames % kClipboardFrames == 0) DrawClipboardBitmap(display.Image1Picture);
    const int top = display.ScreenHeight - display.Painter->TextHeight() - kTVTextMargin;
    display.Painter->DrawText(ScaledToScreen(display.ScreenWidth, kTVTextLeft), top);
    ShowImage1Picture(display);
}

// Drawn before the frame is recorded: the line shows the counters as the previous frame left
// them.
void ShowStatusFrame(FrameDisplay& display, const VIDEOHDR& frame,
                     const RecordingFigures& figures) {
    const BITMAPINFOHEADER format = display.FormatHeader();
    DrawFrameBitmap(display, frame, format.biWidth, format.biHeight);
    if (!BeginImage1Picture(display)) return;
    SetStatusLineText(display, frame.dwTimeCaptured, figures);
    PictureView& view = *display.Painter;
    const int left = (format.biWidth - view.TextWidth()) / 2;
    view.DrawText(left, format.biHeight - view.TextHeight());
    ShowImage1Picture(display);
}
