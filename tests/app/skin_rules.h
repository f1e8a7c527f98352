// SPDX-License-Identifier: GPL-2.0-or-later
// The window skin as a rule per pixel, worked out pixel by pixel with no drawing at all, to hold
// renders and screenshots of the window against.
#pragma once

#include <QColor>
#include <QImage>
#include <optional>

#include "resources/resources.h"

namespace skin_rules {

inline QImage Tile() {
    const auto bitmap = resources::Find("FondD", "BITMAP");
    QImage tile;
    if (bitmap) {
        tile.loadFromData(reinterpret_cast<const uchar*>(bitmap->data()),
                          static_cast<int>(bitmap->size()), "BMP");
    }
    return tile.convertToFormat(QImage::Format_RGB32);
}

// The colour of pixel (x, y) of a w x h window; nothing where the skin leaves the pixel alone.
inline std::optional<QRgb> Pixel(const QImage& tile, int x, int y, int w, int h) {
    std::optional<QRgb> colour;
    const int tw = tile.width(), th = tile.height();
    // Tiles at 7 + c * tw, 7 + r * th for c = 0 .. w / tw and r = 0 .. h / th.
    if (x >= 7 && y >= 7 && x < 7 + (w / tw + 1) * tw && y < 7 + (h / th + 1) * th) {
        colour = tile.pixel((x - 7) % tw, (y - 7) % th);
    }
    if (y >= 1 && y <= 6) colour = qRgb(255, 255, 255);
    if (x >= 1 && x <= 6) colour = qRgb(255, 255, 255);
    for (int k = 1; k <= 6; ++k) {
        if (y == h - 1 - k && x >= k) colour = qRgb(128, 128, 128);
    }
    for (int k = 1; k <= 6; ++k) {
        if (x == w - 1 - k && y >= k) colour = qRgb(128, 128, 128);
    }
    if (y == 0 || y == h - 1 || x == 0 || x == w - 1) colour = qRgb(0, 0, 0);
    return colour;
}

}  // namespace skin_rules
