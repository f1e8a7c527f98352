// SPDX-License-Identifier: GPL-2.0-or-later
// The overlay's line of text drawn straight into a 32-bit picture, without opening a painter on
// it at every frame: each character's antialiased strokes are rendered once per font, and a
// frame's line blends them where its layout puts them.
#pragma once

#include <QColor>
#include <QFont>
#include <QImage>
#include <QPoint>
#include <QString>
#include <array>
#include <cstddef>

class OverlayGlyphs {
  public:
    explicit OverlayGlyphs(QColor colour) : colour_(colour) {}

    // Lays `text` out in `font` as it would be drawn on `picture`. False when it cannot be drawn
    // this way: text beyond ASCII or longer than `kLongest`, a character the font lacks, a
    // picture that is not 32-bit RGB.
    bool Prepare(const QFont& font, const QImage& picture, const QString& text);
    // Of the text prepared last.
    int width() const { return width_; }
    int height() const { return height_; }
    // The prepared text with its top-left corner at (left, top); what falls outside is clipped.
    void Draw(QImage& picture, int left, int top) const;

    static constexpr std::size_t kLongest = 192;

  private:
    // Text engines place glyphs at quarter pixels: each character is rendered at every quarter.
    static constexpr int kPhases = 4;
    struct Strokes {
        QImage pixels;  // premultiplied, cropped to what the character covers
        QPoint offset;  // from the character's top-left corner, at a whole pixel
    };
    struct Glyph {
        std::array<Strokes, kPhases> phases;
        qreal advance = 0;
        bool known = false;
    };
    static constexpr char16_t kFirst = 0x20;
    static constexpr char16_t kEnd = 0x7F;

    void Load(const QFont& font, const QImage& picture);
    Strokes Render(const class QRawFont& raw, quint32 index, qreal advance, int phase) const;

    QColor colour_;
    bool loaded_ = false;
    QFont font_;
    int dotsPerMeterX_ = 0;
    std::array<Glyph, kEnd> glyphs_{};
    std::array<char16_t, kLongest> line_{};
    std::size_t count_ = 0;
    int width_ = 0;
    int ascent_ = 0;
    int height_ = 0;
};
