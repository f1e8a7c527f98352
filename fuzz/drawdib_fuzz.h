// SPDX-License-Identifier: GPL-2.0-or-later
// The input layout shared by the DrawDib fuzz target and its seed maker: a 16-byte head steering
// the header, the image and the rectangles, then the frame's bytes as a card would deliver them.
#pragma once

#include <cstddef>
#include <cstdint>

namespace drawdib_fuzz {

constexpr std::size_t kHeadBytes = 16;

// head[0] bits: 0 Motion-JPEG (else BI_RGB); 1 32-bit (else 24-bit); 2 top-down rows;
// 3-4 image format (RGB32, ARGB32, RGB888, Indexed8); 5 DDF_DONTDRAW; 6 biBitCount taken from
// head[15]; 7 biSize taken from head[14] and the whole picture as source (else the source
// rectangle starts at head[14], head[15] and has the destination's size).
// head[1..2], head[3..4]: width and height, 1 + value % 160.
// head[5]: biSizeImage: 0 the frame's size, 1 zero, 2 half, 3 twice, 4 one byte less, else
// head[6..9] as given (at most 64 KB).
// head[10..13]: destination x, y, dx, dy (signed bytes times 4).
}  // namespace drawdib_fuzz
