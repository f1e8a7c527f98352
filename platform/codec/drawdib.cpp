// SPDX-License-Identifier: GPL-2.0-or-later
// DrawDib on Qt images: DIBs and JPEG frames converted, scaled and clipped in one pass, straight
// into the image's pixels when it has a 32-bit RGB format.
#include "platform/drawdib.h"

#include <QImage>
#include <QPainter>
#include <algorithm>
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "platform/codec/handle_table.h"
#include "platform/codec/jpeg_coder.h"

namespace platform {
namespace {

constexpr DWORD kMjpg = MAKEFOURCC('M', 'J', 'P', 'G');
// Keeps a forged header from asking for more than 1 GB of decoding buffer.
constexpr LONG kMaxSide = 16384;

bool IsMjpg(DWORD compression) {
    DWORD upper = 0;
    for (int shift = 0; shift < 32; shift += 8) {
        const auto c = static_cast<unsigned char>(compression >> shift);
        upper |= static_cast<DWORD>(std::toupper(c)) << shift;
    }
    return upper == kMjpg;
}

bool SaneSize(const BITMAPINFOHEADER& f) {
    return f.biWidth >= 1 && f.biWidth <= kMaxSide && f.biHeight != 0 && f.biHeight >= -kMaxSide &&
           f.biHeight <= kMaxSide;
}

struct Rect {
    int x = 0;
    int y = 0;
    int w = 0;
    int h = 0;
};

// A picture ready to be read: rows from the top, whatever their order in memory.
struct Source {
    const BYTE* top = nullptr;
    std::ptrdiff_t pitch = 0;  // negative for bottom-up rows
    int width = 0;
    int height = 0;
    int bytesPerPixel = 0;
    bool jpeg = false;  // pixels readable only once decoded
    const BYTE* Row(int y) const { return top + y * pitch; }
};

// Where the clipped destination rectangle's pixels go: its top-left pixel and the row pitch.
struct Target {
    BYTE* first = nullptr;
    std::ptrdiff_t pitch = 0;
    QRgb* Row(int y) const { return reinterpret_cast<QRgb*>(first + y * pitch); }
};

enum class Outcome { kFailed, kPartial, kComplete };

bool RgbSource(const BITMAPINFOHEADER& f, const void* bits, Source& out) {
    if (f.biBitCount != 24 && f.biBitCount != 32) return false;
    const int height = f.biHeight < 0 ? -f.biHeight : f.biHeight;
    const std::int64_t stride = (std::int64_t{f.biWidth} * f.biBitCount + 31) / 32 * 4;
    if (f.biSizeImage != 0 && f.biSizeImage < stride * height) return false;
    const auto* first = static_cast<const BYTE*>(bits);
    const bool bottomUp = f.biHeight > 0;
    out.top = bottomUp ? first + stride * (height - 1) : first;
    out.pitch = bottomUp ? -stride : stride;
    out.width = f.biWidth;
    out.height = height;
    out.bytesPerPixel = f.biBitCount / 8;
    return true;
}

// Index in a span of `from` pixels whose centre is nearest to pixel d's of a span of `to`.
int Nearest(std::int64_t d, int from, int to) {
    return static_cast<int>((2 * d + 1) * from / (2 * std::int64_t{to}));
}

// Source rectangle: 0 or -1 as a size reaches the far edge; it must lie in the picture.
bool SourceRect(int x, int y, int dx, int dy, const Source& source, Rect& out) {
    if (x < 0 || y < 0 || x >= source.width || y >= source.height) return false;
    if (dx == 0 || dx == -1) dx = source.width - x;
    if (dy == 0 || dy == -1) dy = source.height - y;
    if (dx < 1 || dy < 1) return false;
    if (std::int64_t{x} + dx > source.width || std::int64_t{y} + dy > source.height) return false;
    out = {x, y, dx, dy};
    return true;
}

bool DestinationRect(int x, int y, int dx, int dy, const Source& source, Rect& out) {
    if (dx == -1) dx = source.width;
    if (dy == -1) dy = source.height;
    if (dx < 1 || dy < 1) return false;
    out = {x, y, dx, dy};
    return true;
}

Rect Clip(const Rect& r, const QImage& image) {
    const std::int64_t left = std::max<std::int64_t>(r.x, 0);
    const std::int64_t top = std::max<std::int64_t>(r.y, 0);
    const std::int64_t right = std::min<std::int64_t>(std::int64_t{r.x} + r.w, image.width());
    const std::int64_t bottom = std::min<std::int64_t>(std::int64_t{r.y} + r.h, image.height());
    if (right <= left || bottom <= top) return {};
    return {static_cast<int>(left), static_cast<int>(top), static_cast<int>(right - left),
            static_cast<int>(bottom - top)};
}

bool WritesDirectly(const QImage& image) {
    const QImage::Format f = image.format();
    return f == QImage::Format_RGB32 || f == QImage::Format_ARGB32 ||
           f == QImage::Format_ARGB32_Premultiplied;
}

// QPainter cannot paint on images with a colour table.
bool Paintable(const QImage& image) {
    const QImage::Format f = image.format();
    return f != QImage::Format_Indexed8 && f != QImage::Format_Mono && f != QImage::Format_MonoLSB;
}

// Pixels are read as bytes, so no alignment is assumed. Blue, green, red, X in memory is
// 0xXXRRGGBB on this byte order; 32-bit DIBs leave X undefined, and Qt's RGB32 wants it opaque.
static_assert(Q_BYTE_ORDER == Q_LITTLE_ENDIAN);
template <int kBytes>
QRgb Pixel(const BYTE* p) {
    if constexpr (kBytes == 4) {
        QRgb value;
        std::memcpy(&value, p, sizeof value);
        return value | 0xFF000000u;
    } else {
        return 0xFF000000u | (QRgb{p[2]} << 16) | (QRgb{p[1]} << 8) | p[0];
    }
}

template <int kBytes>
void CopyRow(const BYTE* in, QRgb* out, int count) {
    for (int i = 0; i < count; ++i) out[i] = Pixel<kBytes>(in + i * kBytes);
}

// Four 24-bit pixels from three 32-bit words at a time: a third of the loads of one byte each,
// which is what a live frame's conversion waits on.
template <>
void CopyRow<3>(const BYTE* in, QRgb* out, int count) {
    constexpr QRgb kOpaque = 0xFF000000u;
    int i = 0;
    for (; i + 4 <= count; i += 4, in += 12) {
        std::uint32_t a, b, c;
        std::memcpy(&a, in, 4);
        std::memcpy(&b, in + 4, 4);
        std::memcpy(&c, in + 8, 4);
        out[i] = kOpaque | (a & 0xFFFFFFu);
        out[i + 1] = kOpaque | (a >> 24) | ((b & 0xFFFFu) << 8);
        out[i + 2] = kOpaque | (b >> 16) | ((c & 0xFFu) << 16);
        out[i + 3] = kOpaque | (c >> 8);
    }
    for (; i < count; ++i, in += 3) out[i] = Pixel<3>(in);
}

template <int kBytes>
void ScaleRow(const BYTE* in, const int* offsets, QRgb* out, int count) {
    for (int i = 0; i < count; ++i) out[i] = Pixel<kBytes>(in + offsets[i]);
}

// One drawing: which part of the source goes where, and which part of that is visible.
struct Placement {
    Rect source;
    Rect destination;
    Rect visible;
};

bool Same(const Rect& a, const Rect& b) {
    return a.x == b.x && a.y == b.y && a.w == b.w && a.h == b.h;
}

// The whole picture at its own size, all of it visible.
bool Unscaled(const Source& source, const Placement& p) {
    return Same(p.source, {0, 0, source.width, source.height}) && p.destination.w == source.width &&
           p.destination.h == source.height && Same(p.visible, p.destination);
}

class DrawDibContext {
  public:
    DrawDibContext() = default;
    DrawDibContext(const DrawDibContext&) = delete;
    DrawDibContext& operator=(const DrawDibContext&) = delete;

    bool Usable() const { return jpeg_.Usable(); }

    bool Inspect(const BITMAPINFOHEADER& format, const void* bits, Source& source);
    Outcome Load(const BITMAPINFOHEADER& format, const void* bits, Source& source);
    Outcome Draw(const BITMAPINFOHEADER& format, const void* bits, Source& source,
                 const Placement& placement, QImage& image);

  private:
    bool JpegSize(const BITMAPINFOHEADER& format, const void* bits, Source& source);
    Outcome Decode(const BITMAPINFOHEADER& format, const void* bits, const Target& target);
    bool Grow(std::vector<BYTE>& buffer, std::size_t size);
    void PrepareColumns(const Source& source, const Placement& placement);
    void Render(const Source& source, const Placement& placement, const Target& target);
    bool Paint(const Source& source, const Placement& placement, QImage& image);
    bool PaintThroughQPainter(const Source& source, const Placement& placement, QImage& image);

    JpegDecompressor jpeg_;
    std::vector<BYTE> decoded_;  // a JPEG frame that is not decoded in place, as 32-bit pixels
    std::vector<int> columns_;   // byte offset in a source row of each visible column
    std::vector<BYTE> staging_;  // the visible rectangle, for images not written directly
};

// Checks the header and, for a JPEG frame, that its own header agrees; nothing is decoded yet.
bool DrawDibContext::Inspect(const BITMAPINFOHEADER& format, const void* bits, Source& source) {
    if (format.biSize < sizeof(BITMAPINFOHEADER) || !SaneSize(format)) return false;
    if (format.biCompression == BI_RGB) return RgbSource(format, bits, source);
    if (IsMjpg(format.biCompression)) return JpegSize(format, bits, source);
    return false;
}

bool DrawDibContext::JpegSize(const BITMAPINFOHEADER& format, const void* bits, Source& source) {
    if (format.biSizeImage == 0) return false;
    int width = 0, height = 0;
    if (!jpeg_.ReadSize(static_cast<const unsigned char*>(bits), format.biSizeImage, width, height))
        return false;
    const int expected = format.biHeight < 0 ? -format.biHeight : format.biHeight;
    if (width != format.biWidth || height != expected) return false;
    source = {nullptr, 0, width, height, 4, true};
    return true;
}

bool DrawDibContext::Grow(std::vector<BYTE>& buffer, std::size_t size) {
    if (buffer.size() >= size) return true;
    try {
        buffer.resize(size);
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

// A decoder warning (data cut short, corrupt entropy data) still gives a whole picture, with
// grey where the data was missing: worth showing, but not a success.
Outcome DrawDibContext::Decode(const BITMAPINFOHEADER& format, const void* bits,
                               const Target& target) {
    const int width = format.biWidth;
    const int height = format.biHeight < 0 ? -format.biHeight : format.biHeight;
    switch (jpeg_.Decode(static_cast<const unsigned char*>(bits), format.biSizeImage,
                         {target.first, width, height, target.pitch, 4, false})) {
        case JpegOutcome::kComplete:
            return Outcome::kComplete;
        case JpegOutcome::kPartial:
            return Outcome::kPartial;
        default:
            return Outcome::kFailed;
    }
}

// Makes the source's pixels readable: a JPEG frame is decoded into the context's buffer.
Outcome DrawDibContext::Load(const BITMAPINFOHEADER& format, const void* bits, Source& source) {
    if (!source.jpeg) return Outcome::kComplete;
    const std::ptrdiff_t pitch = std::ptrdiff_t(source.width) * 4;
    if (!Grow(decoded_, std::size_t(pitch) * std::size_t(source.height))) return Outcome::kFailed;
    const Outcome outcome = Decode(format, bits, {decoded_.data(), pitch});
    source.top = decoded_.data();
    source.pitch = pitch;
    return outcome;
}

// A whole JPEG frame drawn at its own size into a 32-bit image is decoded straight into it,
// saving a copy of every frame in the live display's usual case.
Outcome DrawDibContext::Draw(const BITMAPINFOHEADER& format, const void* bits, Source& source,
                             const Placement& placement, QImage& image) {
    const Rect& v = placement.visible;
    if (v.w == 0) return Outcome::kComplete;
    if (source.jpeg && WritesDirectly(image) && Unscaled(source, placement)) {
        const std::ptrdiff_t pitch = image.bytesPerLine();
        BYTE* first = image.bits() + v.y * pitch + v.x * 4;  // bits() detaches a shared image
        return Decode(format, bits, {first, pitch});
    }
    const Outcome outcome = Load(format, bits, source);
    if (outcome == Outcome::kFailed || !Paint(source, placement, image)) return Outcome::kFailed;
    return outcome;
}

void DrawDibContext::PrepareColumns(const Source& source, const Placement& placement) {
    const Rect& s = placement.source;
    const Rect& d = placement.destination;
    const Rect& v = placement.visible;
    if (columns_.size() < std::size_t(v.w)) columns_.resize(std::size_t(v.w));
    for (int i = 0; i < v.w; ++i)
        columns_[std::size_t(i)] = (s.x + Nearest(v.x - d.x + i, s.w, d.w)) * source.bytesPerPixel;
}

// Rows that come from the same source row (when enlarging) are copied from the one above.
void DrawDibContext::Render(const Source& source, const Placement& placement,
                            const Target& target) {
    const Rect& s = placement.source;
    const Rect& d = placement.destination;
    const Rect& v = placement.visible;
    const bool sameWidth = s.w == d.w;
    if (!sameWidth) PrepareColumns(source, placement);
    // Unscaled, the visible part starts within the source row; scaled, the columns say where.
    const int firstColumn = sameWidth ? (s.x + v.x - d.x) * source.bytesPerPixel : 0;
    const bool wide = source.bytesPerPixel == 4;
    int previous = -1;
    for (int row = 0; row < v.h; ++row) {
        const int sy = s.y + Nearest(v.y - d.y + row, s.h, d.h);
        QRgb* out = target.Row(row);
        if (sy == previous) {
            std::memcpy(out, target.Row(row - 1), std::size_t(v.w) * sizeof(QRgb));
            continue;
        }
        previous = sy;
        const BYTE* in = source.Row(sy);
        if (sameWidth)
            wide ? CopyRow<4>(in + firstColumn, out, v.w) : CopyRow<3>(in + firstColumn, out, v.w);
        else
            wide ? ScaleRow<4>(in, columns_.data(), out, v.w)
                 : ScaleRow<3>(in, columns_.data(), out, v.w);
    }
}

bool DrawDibContext::Paint(const Source& source, const Placement& placement, QImage& image) {
    if (!WritesDirectly(image)) return PaintThroughQPainter(source, placement, image);
    const std::ptrdiff_t pitch = image.bytesPerLine();
    BYTE* first = image.bits() + placement.visible.y * pitch + placement.visible.x * 4;
    Render(source, placement, {first, pitch});
    return true;
}

bool DrawDibContext::PaintThroughQPainter(const Source& source, const Placement& placement,
                                          QImage& image) {
    const Rect& v = placement.visible;
    const std::ptrdiff_t pitch = std::ptrdiff_t(v.w) * 4;
    if (!Grow(staging_, std::size_t(pitch) * std::size_t(v.h))) return false;
    QPainter painter;
    if (!painter.begin(&image)) return false;
    Render(source, placement, {staging_.data(), pitch});
    const QImage visible(staging_.data(), v.w, v.h, pitch, QImage::Format_RGB32);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.drawImage(v.x, v.y, visible);
    return painter.end();
}

using Contexts = HandleTable<std::unique_ptr<DrawDibContext>>;

// Never destroyed, so that contexts closed while static objects are destroyed find it.
Contexts& AllContexts() {
    static auto* contexts = new Contexts(0x20000);
    return *contexts;
}

DrawDibContext* Find(HDRAWDIB hdd) {
    const auto* context = AllContexts().Find(hdd);
    return context == nullptr ? nullptr : context->get();
}

}  // namespace

HDC DeviceContextOf(QImage* image) {
    return reinterpret_cast<HDC>(image);
}

QImage* ImageOf(HDC dc) {
    return reinterpret_cast<QImage*>(dc);
}

}  // namespace platform

HDRAWDIB DrawDibOpen() {
    auto context = std::make_unique<platform::DrawDibContext>();
    if (!context->Usable()) return nullptr;
    return platform::AllContexts().Add<HDRAWDIB>(std::move(context));
}

BOOL DrawDibClose(HDRAWDIB hdd) {
    return platform::AllContexts().Remove(hdd) ? TRUE : FALSE;
}

BOOL DrawDibDraw(HDRAWDIB hdd, HDC hdc, int xDst, int yDst, int dxDst, int dyDst,
                 BITMAPINFOHEADER* lpbi, void* lpBits, int xSrc, int ySrc, int dxSrc, int dySrc,
                 UINT wFlags) {
    using namespace platform;
    DrawDibContext* context = Find(hdd);
    QImage* image = ImageOf(hdc);
    if (context == nullptr || image == nullptr || image->isNull()) return FALSE;
    if (lpbi == nullptr || lpBits == nullptr || (wFlags & DDF_UPDATE) != 0) return FALSE;
    Source source;
    if (!context->Inspect(*lpbi, lpBits, source)) return FALSE;
    if ((wFlags & DDF_DONTDRAW) != 0)
        return context->Load(*lpbi, lpBits, source) == Outcome::kComplete;
    Placement placement;
    if (!SourceRect(xSrc, ySrc, dxSrc, dySrc, source, placement.source)) return FALSE;
    if (!DestinationRect(xDst, yDst, dxDst, dyDst, source, placement.destination)) return FALSE;
    if (!Paintable(*image)) return FALSE;
    placement.visible = Clip(placement.destination, *image);
    return context->Draw(*lpbi, lpBits, source, placement, *image) == Outcome::kComplete;
}
