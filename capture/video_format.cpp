// SPDX-License-Identifier: GPL-2.0-or-later
#include "capture/video_format.h"

#include <algorithm>
#include <cstring>

QString FourCCToText(DWORD code) {
    QString text;
    for (int shift = 0; shift < 32; shift += 8) {
        // Each byte is one character of the single-byte code page.
        text += QChar::fromLatin1(static_cast<char>((code >> shift) & 0xFF));
    }
    return text;
}

QString CompressionName(DWORD compression) {
    switch (compression) {
        case BI_RGB:
            return QStringLiteral("bi_RGB");
        case BI_RLE8:
            return QStringLiteral("bi_RLE8");
        case BI_RLE4:
            return QStringLiteral("bi_RLE4");
        case BI_BITFIELDS:
            return QStringLiteral("bi_BITFIELDS");
        default:
            return FourCCToText(compression);
    }
}

std::uint16_t ReadDriverFormat(HWND window, std::vector<BYTE>& format) {
    const auto size =
        static_cast<std::uint16_t>(SendMessageA(window, WM_CAP_GET_VIDEOFORMAT, 0, 0));
    format.assign(std::max<std::size_t>(size, sizeof(BITMAPINFOHEADER)), 0);
    SendMessageA(window, WM_CAP_GET_VIDEOFORMAT, size, reinterpret_cast<LPARAM>(format.data()));
    return size;
}

BITMAPINFOHEADER HeaderOf(const std::vector<BYTE>& format) {
    BITMAPINFOHEADER header{};
    if (format.size() >= sizeof(header)) std::memcpy(&header, format.data(), sizeof(header));
    return header;
}

bool RequestRgbFormat(HWND window, BITMAPINFOHEADER header, LONG width, LONG height) {
    header.biWidth = width;
    header.biHeight = height;
    header.biCompression = BI_RGB;
    return SendMessageA(window, WM_CAP_SET_VIDEOFORMAT, sizeof(BITMAPINFOHEADER),
                        reinterpret_cast<LPARAM>(&header)) != 0;
}
