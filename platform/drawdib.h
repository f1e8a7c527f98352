// SPDX-License-Identifier: GPL-2.0-or-later
// DrawDib: drawing device-independent bitmaps and Motion-JPEG frames into a device context,
// stretched when asked.
//
// Device contexts. There is no GDI here: a device context is a Qt image. Get the handle of an
// image with platform::DeviceContextOf(&image); DrawDibDraw paints into that image. The handle
// names the QImage object itself, not its pixels, so it follows the image through resizes and
// assignments, needs no release, and stays valid exactly as long as the QImage object lives. An
// off-screen bitmap is a QImage, best of format QImage::Format_RGB32 (or ARGB32, either
// premultiplied or not), which DrawDibDraw writes directly; images of other formats are painted
// through QPainter, slower; formats QPainter cannot paint on (indexed, mono) are refused. An
// image shared with a copy (QImage is implicitly shared) is detached first, so the copy keeps
// its picture. For example:
//     QImage frameBitmap(width, height, QImage::Format_RGB32);
//     DrawDibDraw(hdd, platform::DeviceContextOf(&frameBitmap), 0, 0, width, height, &format,
//                 bits, 0, 0, width, height, 0);
//
// Sources (lpbi, lpBits):
// - BI_RGB, 24 or 32 bits per pixel (blue, green, red, then an unused byte at 32), rows padded
//   to 4 bytes, bottom-up (positive biHeight) or top-down (negative biHeight). biSizeImage may
//   be 0; when it is not, it must cover every row, or nothing is drawn.
// - "MJPG" (any case): lpBits is one baseline or progressive JPEG picture of biWidth ×
//   |biHeight| pixels, and biSizeImage MUST be the byte count available at lpBits (at least the
//   JPEG's length; a capture buffer's size will do, the decoder stops at the picture's end).
//   DrawDibDraw has no length parameter, so callers set it. JPEG rows always run top to bottom,
//   whatever the sign of biHeight.
// - Anything else (palettes, RLE, 16 bits, bit fields, other compressors), sizes above 16384, a
//   null pointer, a JPEG of another size than the header's or that cannot be decoded: FALSE, and
//   nothing outside the given bytes is read.
//
// Rectangles. The source rectangle is in pixels from the picture's top-left corner, whatever
// the row order; dxSrc or dySrc of 0 or -1 reaches to the right or bottom edge. It must lie
// inside the picture (else FALSE). The destination rectangle is in the image's pixels; dxDst or
// dyDst of -1 is the picture's width or height, any other value below 1 is refused. The
// source is stretched or shrunk to the destination by nearest neighbour; the part of the
// destination outside the image is clipped.
//
// Result: TRUE when the whole frame was drawn. FALSE with the image untouched when the frame is
// refused (handles, format, sizes, rectangles, a JPEG header that cannot be read). A damaged
// JPEG (truncated, corrupt data) gives FALSE too, but the image may hold what the decoder could
// make of it, grey where data was missing: a live display keeps showing something.
//
// Flags: DDF_DONTDRAW checks (and decodes) the frame without drawing it. DDF_UPDATE, which asks
// to draw again the last frame without being given it, answers FALSE: no frame is kept. The
// other flags are hints and change nothing.
//
// Each DrawDib context keeps its JPEG decoder and its buffers, grown only when a frame of a
// larger size comes, so drawing frames of one size allocates nothing here (libjpeg-turbo still
// makes its working memory for each picture, and QPainter for images of other formats than
// those above). A whole JPEG frame drawn at its own size into a 32-bit image is decoded
// straight into it. Contexts are used on the toolkit's thread.
#pragma once

#include "platform/windef.h"

class QImage;

struct HDRAWDIB__;
using HDRAWDIB = HDRAWDIB__*;

struct HDC__;
using HDC = HDC__*;

constexpr UINT DDF_0001 = 0x0001;
constexpr UINT DDF_UPDATE = 0x0002;
constexpr UINT DDF_SAME_HDC = 0x0004;
constexpr UINT DDF_SAME_DRAW = 0x0008;
constexpr UINT DDF_DONTDRAW = 0x0010;
constexpr UINT DDF_ANIMATE = 0x0020;
constexpr UINT DDF_BUFFER = 0x0040;
constexpr UINT DDF_JUSTDRAWIT = 0x0080;
constexpr UINT DDF_FULLSCREEN = 0x0100;
constexpr UINT DDF_BACKGROUNDPAL = 0x0200;
constexpr UINT DDF_NOTKEYFRAME = 0x0400;
constexpr UINT DDF_HURRYUP = 0x0800;
constexpr UINT DDF_HALFTONE = 0x1000;
constexpr UINT DDF_2000 = 0x2000;
constexpr UINT DDF_PREROLL = DDF_DONTDRAW;
constexpr UINT DDF_SAME_DIB = DDF_SAME_DRAW;
constexpr UINT DDF_SAME_SIZE = DDF_SAME_DRAW;

// A new drawing context; nullptr when the JPEG decoder cannot be made.
HDRAWDIB DrawDibOpen();

// FALSE for nullptr, a handle never given out or one already closed.
BOOL DrawDibClose(HDRAWDIB hdd);

BOOL DrawDibDraw(HDRAWDIB hdd, HDC hdc, int xDst, int yDst, int dxDst, int dyDst,
                 BITMAPINFOHEADER* lpbi, void* lpBits, int xSrc, int ySrc, int dxSrc, int dySrc,
                 UINT wFlags);

namespace platform {

// The device context of an image (nullptr for nullptr), and back.
HDC DeviceContextOf(QImage* image);
QImage* ImageOf(HDC dc);

}  // namespace platform
