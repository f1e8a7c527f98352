// SPDX-License-Identifier: GPL-2.0-or-later
#include "capture/overlay_glyphs.h"

#include <QFontMetrics>
#include <QGlyphRun>
#include <QPainter>
#include <QRawFont>
#include <cmath>

namespace {

bool Writable(const QImage& picture) {
    return picture.format() == QImage::Format_RGB32 ||
           picture.format() == QImage::Format_ARGB32_Premultiplied;
}

// The smallest rectangle holding every pixel with some coverage; empty for a blank glyph.
QRect Covered(const QImage& tile) {
    int left = tile.width(), top = tile.height(), right = -1, bottom = -1;
    for (int y = 0; y < tile.height(); ++y) {
        const auto* row = reinterpret_cast<const QRgb*>(tile.constScanLine(y));
        for (int x = 0; x < tile.width(); ++x) {
            if (qAlpha(row[x]) == 0) continue;
            left = std::min(left, x);
            right = std::max(right, x);
            top = std::min(top, y);
            bottom = std::max(bottom, y);
        }
    }
    return right < 0 ? QRect() : QRect(QPoint(left, top), QPoint(right, bottom));
}

// x × y / 255, rounded.
inline uint Scale(uint x, uint y) {
    const uint t = x * y + 128;
    return (t + (t >> 8)) >> 8;
}

// Premultiplied `over` on an opaque pixel, as a painter's source-over blends it.
inline QRgb Over(QRgb under, QRgb over) {
    const uint keep = 255 - qAlpha(over);
    return qRgb(int(uint(qRed(over)) + Scale(uint(qRed(under)), keep)),
                int(uint(qGreen(over)) + Scale(uint(qGreen(under)), keep)),
                int(uint(qBlue(over)) + Scale(uint(qBlue(under)), keep)));
}

// The picture's pixels, found once per line: QImage's row accessors check for sharing each time.
struct Canvas {
    uchar* bits;
    qsizetype pitch;
    int width;
    int height;
};

void Blend(const Canvas& canvas, const QImage& strokes, int left, int top) {
    const int x0 = std::max(left, 0), x1 = std::min(left + strokes.width(), canvas.width);
    const int y0 = std::max(top, 0), y1 = std::min(top + strokes.height(), canvas.height);
    const uchar* first = strokes.constBits();
    const qsizetype pitch = strokes.bytesPerLine();
    for (int y = y0; y < y1; ++y) {
        auto* out = reinterpret_cast<QRgb*>(canvas.bits + y * canvas.pitch);
        const auto* in = reinterpret_cast<const QRgb*>(first + (y - top) * pitch);
        for (int x = x0; x < x1; ++x) {
            const QRgb over = in[x - left];
            if (qAlpha(over) != 0) out[x] = Over(out[x], over);
        }
    }
}

}  // namespace

bool OverlayGlyphs::Prepare(const QFont& font, const QImage& picture, const QString& text) {
    if (!Writable(picture) || text.size() > qsizetype(kLongest)) return false;
    if (!loaded_ || font != font_ || picture.dotsPerMeterX() != dotsPerMeterX_) {
        Load(font, picture);
    }
    qreal x = 0;
    count_ = 0;
    for (const QChar c : text) {
        const char16_t code = c.unicode();
        if (code < kFirst || code >= kEnd || !glyphs_[code].known) return false;
        line_[count_++] = code;
        x += glyphs_[code].advance;
    }
    width_ = qRound(x);
    return true;
}

void OverlayGlyphs::Draw(QImage& picture, int left, int top) const {
    const Canvas canvas{picture.bits(), picture.bytesPerLine(), picture.width(), picture.height()};
    qreal x = 0;
    for (std::size_t i = 0; i < count_; ++i) {
        const Glyph& glyph = glyphs_[line_[i]];
        const int quarters = int(std::floor(x * kPhases));  // x is never negative
        const Strokes& strokes = glyph.phases[std::size_t(quarters % kPhases)];
        if (!strokes.pixels.isNull()) {
            Blend(canvas, strokes.pixels, left + quarters / kPhases + strokes.offset.x(),
                  top + strokes.offset.y());
        }
        x += glyph.advance;
    }
}

void OverlayGlyphs::Load(const QFont& font, const QImage& picture) {
    loaded_ = true;
    font_ = font;
    dotsPerMeterX_ = picture.dotsPerMeterX();
    const QFontMetrics metrics(font, &picture);
    const QFontMetricsF advances(font, &picture);
    ascent_ = metrics.ascent();
    height_ = metrics.height();
    const QRawFont raw = QRawFont::fromFont(font);
    for (char16_t code = kFirst; code < kEnd; ++code) {
        const QChar c(code);
        quint32 index = 0;
        int count = 1;
        glyphs_[code] = Glyph{};
        if (!raw.isValid() || !raw.glyphIndexesForChars(&c, 1, &index, &count) || count != 1 ||
            index == 0) {
            continue;
        }
        Glyph& glyph = glyphs_[code];
        glyph.known = true;
        glyph.advance = advances.horizontalAdvance(c);
        for (int phase = 0; phase < kPhases; ++phase) {
            glyph.phases[std::size_t(phase)] = Render(raw, index, glyph.advance, phase);
        }
    }
}

// Drawn by a painter once, `phase` quarters of a pixel right of a whole pixel, with room all
// round for strokes reaching beyond the advance.
OverlayGlyphs::Strokes OverlayGlyphs::Render(const QRawFont& raw, quint32 index, qreal advance,
                                             int phase) const {
    const int margin = height_;
    QImage tile(int(std::ceil(advance)) + 2 * margin, height_ + 2 * margin,
                QImage::Format_ARGB32_Premultiplied);
    tile.fill(Qt::transparent);
    QGlyphRun run;
    run.setRawFont(raw);
    run.setGlyphIndexes({index});
    run.setPositions({QPointF(0, 0)});
    QPainter painter(&tile);
    painter.setPen(colour_);
    painter.drawGlyphRun(QPointF(margin + qreal(phase) / kPhases, margin + ascent_), run);
    painter.end();
    const QRect covered = Covered(tile);
    if (covered.isEmpty()) return {};
    return {tile.copy(covered), covered.topLeft() - QPoint(margin, margin)};
}
