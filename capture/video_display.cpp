// How a captured frame is shown: drawn into FrameBitmap, copied into Image1's picture and
// marked there with the time of day or the status line, then painted by Image1 itself,
// stretched to its size by DrawDib's nearest-neighbour pass (as a picture control with its
// stretch on does) into a picture of Image1's size kept from frame to frame. The pictures and
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

using ElapsedText = std::array<char, kElapsedTextSize>;

ElapsedText ElapsedOf(DWORD timeCaptured) {
    ElapsedText elapsed{};
    FormatElapsedInto(timeCaptured, elapsed.data(), elapsed.size());
    return elapsed;
}

// Every counter is printed from its own value: an unsigned one never shows a sign, whatever
// its size, and only the signed ones below zero are written with a minus.
void SetStatusLineText(TForm1& form, DWORD timeCaptured, const RecordingFigures& f) {
    std::array<char, kOverlayTextSize> line{};
    std::size_t used = FormatTimeOfDay(line.data(), line.size());
    const int added = std::snprintf(
        line.data() + used, line.size() - used,
        " - %s - %.07lld/%.05lld/%.02lld - %.03lld/%.03lld/%.03lld - (%.03lld)",
        ElapsedOf(timeCaptured).data(), static_cast<long long>(f.captureFrames),
        static_cast<long long>(f.fileFrames), static_cast<long long>(f.fileIndex),
        static_cast<long long>(f.totalDefect), static_cast<long long>(f.drops),
        static_cast<long long>(f.inserts), static_cast<long long>(f.drift));
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

// Image1's own copy of FrameBitmap, made in the copy's reused pixels. False when there is no
// picture to show.
bool BeginImage1Picture(TForm1& form) {
    if (form.FrameBitmap.isNull()) return false;
    if (form.Image1Picture.size() != form.FrameBitmap.size() ||
        form.Image1Picture.format() != form.FrameBitmap.format()) {
        form.Image1Picture = QImage(form.FrameBitmap.size(), form.FrameBitmap.format());
        if (form.Image1Picture.isNull()) return false;  // its memory refused: nothing shown
    }
    std::memcpy(form.Image1Picture.bits(), form.FrameBitmap.constBits(),
                static_cast<std::size_t>(form.FrameBitmap.sizeInBytes()));
    return true;
}

// Once there is a picture it covers Image1 whole: nothing beneath needs painting first.
void ShowImage1Picture(TForm1& form) {
    form.Image1->setAttribute(Qt::WA_OpaquePaintEvent);
    form.Image1->repaint();
}

// Just beyond the bottom-right corner of the desktop as it is now, out of the picture's way.
void ParkCursor(TForm1& form) {
    SetCursorPos(GetSystemMetrics(SM_CXSCREEN) + 50, GetSystemMetrics(SM_CYSCREEN) + 50);
    // With the server's time of the moment, or the request is refused after another window
    // took the focus.
    SetForegroundWindow(platform::HandleOf(&form));
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

// Paints Image1 from its picture instead of the label's own pixmap, which Qt would rescale
// smoothly on every paint, and draws the overlay text. A picture of another size than Image1's,
// with the stretch on, is stretched once per new picture (QImage changes its cache key whenever
// it is written) into a picture of Image1's size kept for the next frames; with the stretch off
// (TV) it is painted at its own size, as it already has the screen's. A child of Image1.
class Image1View final : public QObject {
  public:
    explicit Image1View(TForm1& form) : QObject(form.Image1), form_(form) {
        form.Image1->installEventFilter(this);
    }

    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() != QEvent::Paint || form_.Image1Picture.isNull()) {
            return QObject::eventFilter(watched, event);
        }
        QPainter painter(form_.Image1);
        painter.setCompositionMode(QPainter::CompositionMode_Source);
        const QImage& shown = Shown();
        painter.drawImage(0, 0, shown);
        const int width = form_.Image1->width(), height = form_.Image1->height();
        if (shown.width() < width) {
            painter.fillRect(shown.width(), 0, width - shown.width(), height, Qt::black);
        }
        if (shown.height() < height) {
            painter.fillRect(0, shown.height(), shown.width(), height - shown.height(), Qt::black);
        }
        return true;
    }

    // Width and height of OverlayText in OverlayFont; DrawText draws it into Image1's picture
    // with its top-left corner at (left, top), green strokes only. A text the glyphs cannot
    // take (beyond ASCII, a character the font lacks) goes through Qt's text drawing.
    int TextWidth() {
        if (!Prepare()) return Metrics().horizontalAdvance(form_.OverlayText);
        return glyphs_.width();
    }
    int TextHeight() {
        if (!Prepare()) return Metrics().height();
        return glyphs_.height();
    }
    void DrawText(int left, int top) {
        QImage& picture = form_.Image1Picture;
        if (Prepare()) {
            glyphs_.Draw(picture, left, top);
            return;
        }
        QPainter canvas(&picture);
        canvas.setFont(form_.OverlayFont);
        canvas.setPen(QColor(Qt::green));
        canvas.setBackgroundMode(Qt::TransparentMode);
        canvas.drawText(left, top + canvas.fontMetrics().ascent(), form_.OverlayText);
    }

  private:
    const QImage& Shown() {
        const QImage& picture = form_.Image1Picture;
        const QSize size = form_.Image1->size();
        if (!form_.Image1->hasScaledContents() || picture.size() == size || size.isEmpty()) {
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
        DrawDibDraw(form_.DrawDibHandle, platform::DeviceContextOf(&stretched_), 0, 0,
                    stretched_.width(), stretched_.height(), &source,
                    const_cast<uchar*>(picture.constBits()), 0, 0, picture.width(),
                    picture.height(), 0);
    }

    bool Prepare() {
        return glyphs_.Prepare(form_.OverlayFont, form_.Image1Picture, form_.OverlayText);
    }
    QFontMetrics Metrics() const { return QFontMetrics(form_.OverlayFont, &form_.Image1Picture); }

    TForm1& form_;
    QImage stretched_;
    qint64 stretchedKey_ = 0;
    OverlayGlyphs glyphs_{QColor(Qt::green)};
};

namespace {

void SetFrameBitmapSize(TForm1& form, int width, int height) {
    if (form.FrameBitmap.size() == QSize(width, height)) return;
    form.FrameBitmap = QImage(width, height, QImage::Format_RGB32);
    form.FrameBitmap.fill(Qt::black);
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

void TForm1::OpenDisplayObjects() {
    DrawDibHandle = DrawDibOpen();
    if (Image1Painter == nullptr) Image1Painter = new Image1View(*this);
    const BITMAPINFOHEADER format = CaptureFormatHeader();
    SetFrameBitmapSize(*this, std::max(0, format.biWidth), std::max(0, format.biHeight));
    OverlayText.reserve(kOverlayTextSize);
    if (Mode == RunMode::TV) {
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

// Each blink takes the keyboard back, so that Escape, which ends the capture, reaches the tile
// at most a blink after another program took it.
void BlinkTimeTile(TForm1& form, std::int32_t fileFrames) {
    if (fileFrames % kTileBlinkFrames != 0) return;
    QPalette palette = form.Panel7->palette();
    const bool red = palette.color(QPalette::Window) == QColor(Qt::red);
    palette.setColor(QPalette::Window, red ? QColor(Qt::green) : QColor(Qt::red));
    form.Panel7->setPalette(palette);
    form.Panel7->repaint();
    SetForegroundWindow(platform::HandleOf(&form));
    form.setFocus();
}

// "TV" never records: its file's frame count stays 0, so every frame parks the cursor and looks
// at the clipboard.
void ShowTVFrame(TForm1& form, const VIDEOHDR& frame, std::int32_t fileFrames) {
    SetFrameBitmapSize(form, form.ScreenWidth, form.ScreenHeight);
    DrawFrameBitmap(form, frame, form.ScreenWidth, form.ScreenHeight);
    SetTimeOfDayText(form);
    if (fileFrames % kCursorParkFrames == 0) ParkCursor(form);
    if (!BeginImage1Picture(form)) return;
    if (fileFrames % kClipboardFrames == 0) DrawClipboardBitmap(form.Image1Picture);
    const int top = form.ScreenHeight - form.Image1Painter->TextHeight() - kTVTextMargin;
    form.Image1Painter->DrawText(ScaledToScreen(form.ScreenWidth, kTVTextLeft), top);
    ShowImage1Picture(form);
}

// Drawn before the frame is recorded: the line shows the counters as the previous frame left
// them.
void ShowStatusFrame(TForm1& form, const VIDEOHDR& frame, const RecordingFigures& figures) {
    const BITMAPINFOHEADER format = form.CaptureFormatHeader();
    DrawFrameBitmap(form, frame, format.biWidth, format.biHeight);
    if (!BeginImage1Picture(form)) return;
    SetStatusLineText(form, frame.dwTimeCaptured, figures);
    Image1View& view = *form.Image1Painter;
    const int left = (format.biWidth - view.TextWidth()) / 2;
    view.DrawText(left, format.biHeight - view.TextHeight());
    ShowImage1Picture(form);
}
