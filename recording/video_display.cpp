// How a captured frame is shown: drawn into FrameBitmap, copied into Image1's picture and
// marked there with the time of day or the status line, then painted by Image1 itself,
// stretched to its size by DrawDib's nearest-neighbour pass (as a picture control with its
// stretch on does) into a picture of Image1's size kept from frame to frame. The pictures and
// the line's text keep their storage from frame to frame; of the program's own work only the
// short elapsed-time text is allocated anew.
#include <QClipboard>
#include <QEvent>
#include <QGlyphRun>
#include <QGuiApplication>
#include <QLabel>
#include <QMimeData>
#include <QPainter>
#include <QRawFont>
#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>

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

using ElapsedText = std::array<char, kElapsedTextSize>;

ElapsedText ElapsedOf(DWORD timeCaptured) {
    ElapsedText elapsed{};
    FormatElapsedInto(timeCaptured, elapsed.data(), elapsed.size());
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

// Image1's own copy of FrameBitmap, made in the copy's reused pixels. False when there is no
// picture to show.
bool BeginImage1Picture(TForm1& form, QPainter& canvas) {
    if (form.FrameBitmap.isNull()) return false;
    if (form.Image1Picture.size() != form.FrameBitmap.size() ||
        form.Image1Picture.format() != form.FrameBitmap.format()) {
        form.Image1Picture = QImage(form.FrameBitmap.size(), form.FrameBitmap.format());
    }
    std::memcpy(form.Image1Picture.bits(), form.FrameBitmap.constBits(),
                static_cast<std::size_t>(form.FrameBitmap.sizeInBytes()));
    return canvas.begin(&form.Image1Picture);
}

// Once there is a picture it covers Image1 whole: nothing beneath needs painting first.
void ShowImage1Picture(TForm1& form, QPainter& canvas) {
    canvas.end();
    form.Image1->setAttribute(Qt::WA_OpaquePaintEvent);
    form.Image1->repaint();
}

// Just beyond the bottom-right corner of the desktop as it is now, out of the picture's way.
void ParkCursor(TForm1& form) {
    SetCursorPos(GetSystemMetrics(SM_CXSCREEN) + 50, GetSystemMetrics(SM_CYSCREEN) + 50);
    form.raise();
    form.activateWindow();
}

// At its own size in the bottom-right corner; a clipboard without a readable picture leaves the
// frame as it is.
void DrawClipboardBitmap(const QImage& picture, QPainter& canvas) {
    const QClipboard* clipboard = QGuiApplication::clipboard();
    const QMimeData* data = clipboard != nullptr ? clipboard->mimeData() : nullptr;
    if (data == nullptr || !data->hasImage()) return;
    const QImage bitmap = clipboard->image();
    if (bitmap.isNull()) return;
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

    // Width and height of OverlayText in OverlayFont; DrawText draws it with its top-left corner
    // at (left, top), green strokes only.
    int TextWidth(QPainter& canvas) {
        if (!Layout(canvas)) return canvas.fontMetrics().horizontalAdvance(form_.OverlayText);
        return qRound(width_);
    }
    int TextHeight(QPainter& canvas) {
        if (!Layout(canvas)) return canvas.fontMetrics().height();
        return height_;
    }
    void DrawText(QPainter& canvas, int left, int top) {
        canvas.setPen(green_);
        canvas.setBackgroundMode(Qt::TransparentMode);
        if (!Layout(canvas)) {
            canvas.drawText(left, top + canvas.fontMetrics().ascent(), form_.OverlayText);
            return;
        }
        run_.setRawData(indexes_.data(), positions_.data(), count_);
        canvas.drawGlyphRun(QPointF(left, top + ascent_), run_);
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

    // The text as glyphs of the canvas's font, each looked up once per font: laying a line out
    // through Qt's text engine allocates every time. False for a text this cannot lay out
    // (beyond ASCII, longer than the line's room, a character the font lacks), which Qt's text
    // drawing then takes.
    bool Layout(QPainter& canvas) {
        if (LayOut()) return true;
        canvas.setFont(form_.OverlayFont);
        return false;
    }

    bool LayOut() {
        if (!loaded_ || form_.OverlayFont != font_) LoadFont();
        const QString& text = form_.OverlayText;
        if (!raw_.isValid() || text.size() > qsizetype(indexes_.size())) return false;
        qreal x = 0;
        count_ = 0;
        for (const QChar c : text) {
            const char16_t code = c.unicode();
            if (code >= kGlyphs || glyphs_[code] == 0) return false;
            indexes_[std::size_t(count_)] = glyphs_[code];
            positions_[std::size_t(count_)] = QPointF(x, 0);
            x += advances_[code];
            ++count_;
        }
        width_ = x;
        return true;
    }

    void LoadFont() {
        loaded_ = true;
        font_ = form_.OverlayFont;
        const QFontMetrics metrics(font_, &form_.Image1Picture);
        const QFontMetricsF advances(font_, &form_.Image1Picture);
        ascent_ = metrics.ascent();
        height_ = metrics.height();
        raw_ = QRawFont::fromFont(font_);
        run_.setRawFont(raw_);
        glyphs_.fill(0);
        for (char16_t code = 0x20; code < kGlyphs; ++code) {
            const QChar c(code);
            quint32 glyph = 0;
            int count = 1;
            if (!raw_.glyphIndexesForChars(&c, 1, &glyph, &count) || count != 1) continue;
            glyphs_[code] = glyph;
            advances_[code] = advances.horizontalAdvance(c);
        }
    }

    static constexpr char16_t kGlyphs = 0x7F;

    TForm1& form_;
    QImage stretched_;
    qint64 stretchedKey_ = 0;
    QPen green_{QColor(Qt::green)};
    bool loaded_ = false;
    QFont font_;
    QRawFont raw_;
    std::array<quint32, kGlyphs> glyphs_{};  // 0: none
    std::array<qreal, kGlyphs> advances_{};
    std::array<quint32, kOverlayTextSize> indexes_{};
    std::array<QPointF, kOverlayTextSize> positions_{};
    int count_ = 0;
    qreal width_ = 0;
    int ascent_ = 0;
    int height_ = 0;
    QGlyphRun run_;
};

namespace {

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
    if (Image1Painter == nullptr) Image1Painter = new Image1View(*this);
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
    const int top = form.ScreenHeight - form.Image1Painter->TextHeight(canvas) - kTVTextMargin;
    form.Image1Painter->DrawText(canvas, ScaledToScreen(form.ScreenWidth, kTVTextLeft), top);
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
    Image1View& view = *form.Image1Painter;
    const int left = (format.biWidth - view.TextWidth(canvas)) / 2;
    view.DrawText(canvas, left, format.biHeight - view.TextHeight(canvas));
    ShowImage1Picture(form, canvas);
}
