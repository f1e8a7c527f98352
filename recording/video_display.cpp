// How a captured frame is shown: drawn into FrameBitmap, copied into Image1's picture and
// marked there with the time of day or the status line. The pictures and the line's text keep
// their storage from frame to frame; of the program's own work only the short elapsed-time text
// is allocated anew.
#include <QClipboard>
#include <QGuiApplication>
#include <QLabel>
#include <QMimeData>
#include <QPainter>
#include <algorithm>
#include <array>
#include <cstdio>
#include <ctime>

#include "platform/display.h"
#include "platform/drawdib.h"
#include "platform/locale_clock.h"
#include "recording/handlers.h"
#include "recording/video_display.h"

namespace {

constexpr int kTileBlinkFrames = 50;
constexpr int kCursorParkFrames = 3000;
constexpr int kClipboardFrames = 8;
// Beyond the longest status line: 18 pieces of which the widest counters take 10 digits.
constexpr std::size_t kOverlayTextSize = 192;
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
void SetOverlayText(TForm1& form, const char* text, std::size_t length) {
    const bool ascii = std::all_of(
        text, text + length, [](char c) { return (static_cast<unsigned char>(c) & 0x80U) == 0; });
    if (!ascii) {
        form.OverlayText = QString::fromLocal8Bit(text, static_cast<qsizetype>(length));
        return;
    }
    form.OverlayText.truncate(0);
    form.OverlayText.append(QLatin1String(text, static_cast<qsizetype>(length)));
}

void SetTimeOfDayText(TForm1& form) {
    std::array<char, kOverlayTextSize> line{};
    SetOverlayText(form, line.data(), FormatTimeOfDay(line.data(), line.size()));
}

using ElapsedText = std::array<char, 32>;

// The elapsed time's digits and colons, as plain characters for the line's buffer.
ElapsedText ElapsedOf(DWORD timeCaptured) {
    const QString text = TForm1::FormatElapsed(timeCaptured);
    ElapsedText elapsed{};
    const qsizetype length = std::min(text.size(), static_cast<qsizetype>(elapsed.size() - 1));
    for (qsizetype i = 0; i < length; ++i) {
        elapsed[static_cast<std::size_t>(i)] = text[i].toLatin1();
    }
    return elapsed;
}

// Every counter is printed from its own value: an unsigned one never shows a sign, whatever
// its size, and only the signed ones below zero are written with a minus.
void SetStatusLineText(TForm1& form, DWORD timeCaptured) {
    std::array<char, kOverlayTextSize> line{};
    std::size_t used = FormatTimeOfDay(line.data(), line.size());
    const int added = std::snprintf(
        line.data() + used, line.size() - used,
        " - %s - %.07lld/%.05lld/%.02lld - %.03lld/%.03lld/%.03lld - (%.03lld)",
        ElapsedOf(timeCaptured).data(), static_cast<long long>(form.CaptureFrames),
        static_cast<long long>(form.FileVideoFrames), static_cast<long long>(form.FileIndex),
        static_cast<long long>(form.TotalDefect), static_cast<long long>(form.DropCount),
        static_cast<long long>(form.InsertCount), static_cast<long long>(form.Drift));
    if (added > 0) used = std::min(used + static_cast<std::size_t>(added), line.size() - 1);
    SetOverlayText(form, line.data(), used);
}

// The header handed to DrawDib carries the frame's own byte count, so that a frame shorter than
// its format says is refused instead of read past its end (a compressed frame needs it anyway).
void DrawFrameBitmap(TForm1& form, const VIDEOHDR& frame, int width, int height) {
    if (frame.lpData == nullptr || frame.dwBytesUsed == 0) return;
    BITMAPINFOHEADER source = form.CaptureFormatHeader();
    source.biSizeImage = frame.dwBytesUsed;
    DrawDibDraw(form.DrawDibHandle, platform::DeviceContextOf(&form.FrameBitmap), 0, 0, width,
                height, &source, frame.lpData, 0, 0, source.biWidth, source.biHeight, 0);
}

// Image1 lets go of its picture first, so that the copy lands in the picture's own pixels
// rather than in a fresh copy of them. False when there is no picture to show.
bool BeginImage1Picture(TForm1& form, QPainter& canvas) {
    if (form.FrameBitmap.isNull()) return false;
    form.Image1->clear();
    if (form.Image1Picture.size() != form.FrameBitmap.size()) {
        form.Image1Picture = QPixmap(form.FrameBitmap.size());
    }
    if (!canvas.begin(&form.Image1Picture)) return false;
    canvas.setCompositionMode(QPainter::CompositionMode_Source);
    canvas.drawImage(0, 0, form.FrameBitmap);
    canvas.setCompositionMode(QPainter::CompositionMode_SourceOver);
    return true;
}

void ShowImage1Picture(TForm1& form, QPainter& canvas) {
    canvas.end();
    form.Image1->setPixmap(form.Image1Picture);
    form.Image1->repaint();
}

// Green strokes only, the picture showing between them; (left, top) is the text's corner.
void DrawOverlayText(TForm1& form, QPainter& canvas, int left, int top) {
    canvas.setPen(QColor(Qt::green));
    canvas.setBackgroundMode(Qt::TransparentMode);
    canvas.drawText(left, top + canvas.fontMetrics().ascent(), form.OverlayText);
}

// Just beyond the bottom-right corner of the desktop as it is now, out of the picture's way.
void ParkCursor(TForm1& form) {
    SetCursorPos(GetSystemMetrics(SM_CXSCREEN) + 50, GetSystemMetrics(SM_CYSCREEN) + 50);
    form.raise();
    form.activateWindow();
}

// At its own size in the bottom-right corner; a clipboard without a readable picture leaves the
// frame as it is.
void DrawClipboardBitmap(const QPixmap& picture, QPainter& canvas) {
    const QClipboard* clipboard = QGuiApplication::clipboard();
    const QMimeData* data = clipboard != nullptr ? clipboard->mimeData() : nullptr;
    if (data == nullptr || !data->hasImage()) return;
    const QImage bitmap = clipboard->image();
    if (bitmap.isNull()) return;
    canvas.drawImage(QRect(picture.width() - bitmap.width(), picture.height() - bitmap.height(),
                           bitmap.width(), bitmap.height()),
                     bitmap);
}

void SetFrameBitmapSize(TForm1& form, int width, int height) {
    if (form.FrameBitmap.size() == QSize(width, height)) return;
    form.FrameBitmap = QImage(width, height, QImage::Format_RGB32);
    form.FrameBitmap.fill(Qt::black);
}

}  // namespace

int ScaledToScreen(std::uint16_t screenWidth, int factor) {
    long double value = static_cast<long double>(screenWidth);
    value /= 800.0L;
    value *= static_cast<long double>(factor);
    return static_cast<int>(value);
}

void TForm1::OpenDisplayObjects() {
    DrawDibHandle = DrawDibOpen();
    const BITMAPINFOHEADER format = CaptureFormatHeader();
    SetFrameBitmapSize(*this, std::max(0, format.biWidth), std::max(0, format.biHeight));
    OverlayText.reserve(kOverlayTextSize);
    if (RunMode == QLatin1String("TV")) {
        OverlayFont = QFont();
        OverlayFont.setPointSize(std::max(1, ScaledToScreen(ScreenWidth, kTVPoints)));
    } else {
        OverlayFont = QFont(QStringLiteral("Courrier New"), kStatusPoints);
    }
}

void TForm1::CloseDisplayObjects() {
    if (DrawDibHandle != nullptr) DrawDibClose(DrawDibHandle);
    DrawDibHandle = nullptr;
    FrameBitmap = QImage();
}

void BlinkTimeTile(TForm1& form) {
    if (form.FileVideoFrames % kTileBlinkFrames != 0) return;
    QPalette palette = form.Panel7->palette();
    const bool red = palette.color(QPalette::Window) == QColor(Qt::red);
    palette.setColor(QPalette::Window, red ? QColor(Qt::green) : QColor(Qt::red));
    form.Panel7->setPalette(palette);
    form.Panel7->repaint();
    form.activateWindow();
    form.setFocus();
}

// "TV" never records, so FileVideoFrames stays 0 and every frame parks the cursor and looks at
// the clipboard.
void ShowTVFrame(TForm1& form, const VIDEOHDR& frame) {
    SetFrameBitmapSize(form, form.ScreenWidth, form.ScreenHeight);
    DrawFrameBitmap(form, frame, form.ScreenWidth, form.ScreenHeight);
    SetTimeOfDayText(form);
    if (form.FileVideoFrames % kCursorParkFrames == 0) ParkCursor(form);
    QPainter canvas;
    if (!BeginImage1Picture(form, canvas)) return;
    if (form.FileVideoFrames % kClipboardFrames == 0) {
        DrawClipboardBitmap(form.Image1Picture, canvas);
    }
    canvas.setFont(form.OverlayFont);
    const int top = form.ScreenHeight - canvas.fontMetrics().height() - kTVTextMargin;
    DrawOverlayText(form, canvas, ScaledToScreen(form.ScreenWidth, kTVTextLeft), top);
    ShowImage1Picture(form, canvas);
}

// Drawn before the frame is recorded: the line shows the counters as the previous frame left
// them.
void ShowStatusFrame(TForm1& form, const VIDEOHDR& frame) {
    const BITMAPINFOHEADER format = form.CaptureFormatHeader();
    DrawFrameBitmap(form, frame, format.biWidth, format.biHeight);
    QPainter canvas;
    if (!BeginImage1Picture(form, canvas)) return;
    SetStatusLineText(form, frame.dwTimeCaptured);
    canvas.setFont(form.OverlayFont);
    const QFontMetrics metrics = canvas.fontMetrics();
    const int left = (format.biWidth - metrics.horizontalAdvance(form.OverlayText)) / 2;
    DrawOverlayText(form, canvas, left, format.biHeight - metrics.height());
    ShowImage1Picture(form, canvas);
}
