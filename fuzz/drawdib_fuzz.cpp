// SPDX-License-Identifier: GPL-2.0-or-later
// DrawDib with frames as a capture card sends them — JPEG pictures whole, cut short, corrupt or
// without their Huffman tables, and uncompressed pictures — under headers that may lie about
// their size, drawn anywhere on an image. The buffer handed over always holds as many bytes as
// the header says (as the capture service's buffers do); what they hold is anything. Must never
// read or write out of bounds, and must answer FALSE rather than draw what it cannot.
#include <QImage>
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "fuzz/drawdib_fuzz.h"
#include "platform/drawdib.h"

namespace {

constexpr DWORD kMjpg = MAKEFOURCC('M', 'J', 'P', 'G');
constexpr DWORD kLargestClaim = 64u << 10;

int Side(const std::uint8_t* p) {
    return 1 + (p[0] | p[1] << 8) % 160;
}

DWORD ClaimedSize(const std::uint8_t* head, std::size_t frameBytes) {
    const auto bytes = static_cast<DWORD>(frameBytes);
    switch (head[5]) {
        case 0:
            return bytes;
        case 1:
            return 0;
        case 2:
            return bytes / 2;
        case 3:
            return bytes * 2;
        case 4:
            return bytes > 0 ? bytes - 1 : 0;
        default: {
            DWORD claim = 0;
            std::memcpy(&claim, head + 6, sizeof claim);
            return std::min(claim, kLargestClaim);
        }
    }
}

BITMAPINFOHEADER Header(const std::uint8_t* head, std::size_t frameBytes) {
    const std::uint8_t mode = head[0];
    BITMAPINFOHEADER h{};
    h.biSize = (mode & 0x80) != 0 ? head[14] : sizeof(BITMAPINFOHEADER);
    h.biWidth = Side(head + 1);
    h.biHeight = Side(head + 3) * ((mode & 4) != 0 ? -1 : 1);
    h.biPlanes = 1;
    h.biBitCount = (mode & 0x40) != 0 ? head[15] : (mode & 2) != 0 ? 32 : 24;
    h.biCompression = (mode & 1) != 0 ? kMjpg : BI_RGB;
    h.biSizeImage = ClaimedSize(head, frameBytes);
    return h;
}

// As many bytes as the header says the frame has, and never fewer than the fuzzer gave.
std::vector<BYTE> Buffer(const BITMAPINFOHEADER& h, const std::uint8_t* frame, std::size_t size) {
    std::size_t bytes = std::max<std::size_t>(size, h.biSizeImage);
    if (h.biCompression == BI_RGB && h.biSizeImage == 0 && h.biBitCount <= 32) {
        const std::size_t stride = (std::size_t(h.biWidth) * h.biBitCount + 31) / 32 * 4;
        bytes = std::max(bytes, stride * std::size_t(std::abs(h.biHeight)));
    }
    std::vector<BYTE> buffer(std::max<std::size_t>(bytes, 1), 0);
    if (size > 0) std::memcpy(buffer.data(), frame, size);
    return buffer;
}

int Signed(std::uint8_t byte) {
    return static_cast<std::int8_t>(byte) * 4;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < drawdib_fuzz::kHeadBytes) return 0;
    static const HDRAWDIB context = DrawDibOpen();
    const std::uint8_t* head = data;
    const std::uint8_t* frame = data + drawdib_fuzz::kHeadBytes;
    const std::size_t frameBytes = size - drawdib_fuzz::kHeadBytes;
    BITMAPINFOHEADER header = Header(head, frameBytes);
    std::vector<BYTE> bits = Buffer(header, frame, frameBytes);
    // One image of each kind for the whole run: making one per input would cost more than the
    // drawing under test.
    static QImage images[] = {
        QImage(96, 72, QImage::Format_RGB32), QImage(96, 72, QImage::Format_ARGB32),
        QImage(96, 72, QImage::Format_RGB888), QImage(96, 72, QImage::Format_Indexed8)};
    QImage& image = images[(head[0] >> 3) & 3];
    const UINT flags = (head[0] & 0x20) != 0 ? DDF_DONTDRAW : 0;
    const bool wholeSource = (head[0] & 0x80) != 0;
    const int sx = wholeSource ? 0 : head[14] % 64;
    const int sy = wholeSource ? 0 : head[15] % 64;
    const int sdx = wholeSource ? -1 : Signed(head[12]);
    const int sdy = wholeSource ? -1 : Signed(head[13]);
    DrawDibDraw(context, platform::DeviceContextOf(&image), Signed(head[10]), Signed(head[11]),
                Signed(head[12]), Signed(head[13]), &header, bits.data(), sx, sy, sdx, sdy, flags);
    return 0;
}
