// SPDX-License-Identifier: GPL-2.0-or-later
// The capture format: read from the driver, asked of it, and named.
#pragma once

#include <QString>
#include <cstdint>
#include <vector>

#include "platform/vfw.h"

// The four bytes of a four-character code as text, lowest byte first ("MJPG").
QString FourCCToText(DWORD code);

// The name a compression code is shown by: "bi_RGB" and its three kin, or the code spelt out.
QString CompressionName(DWORD compression);

// Reads the format of `window`'s driver into `format`; the byte count the driver gave, cut to 16
// bits. The buffer always holds at least a whole header: a driver reporting fewer bytes (or none,
// with no capture window) must not make the header's fields be read or written past its end.
std::uint16_t ReadDriverFormat(HWND window, std::vector<BYTE>& format);

// The header at the start of a format; zeros when it is too short to hold one.
BITMAPINFOHEADER HeaderOf(const std::vector<BYTE>& format);

// Asks `window`'s driver for an uncompressed picture of this size, sending `header` alone with
// that size; the other fields stay as given. Whether the driver accepted it.
bool RequestRgbFormat(HWND window, BITMAPINFOHEADER header, LONG width, LONG height);
