// SPDX-License-Identifier: GPL-2.0-or-later
// Writes a starting corpus for drawdib_fuzz into the folder given: JPEG frames of a few sizes and
// subsamplings as a card sends them, whole, cut short, with a corrupt byte and without their
// Huffman tables (as many Motion-JPEG cards send them), and uncompressed pictures.
#include <turbojpeg.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "fuzz/drawdib_fuzz.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Head(std::uint8_t mode, int width, int height) {
    Bytes head(drawdib_fuzz::kHeadBytes, 0);
    head[0] = mode;
    head[1] = static_cast<std::uint8_t>((width - 1) & 0xFF);
    head[2] = static_cast<std::uint8_t>((width - 1) >> 8);
    head[3] = static_cast<std::uint8_t>((height - 1) & 0xFF);
    head[4] = static_cast<std::uint8_t>((height - 1) >> 8);
    head[14] = 40;
    return head;
}

Bytes Pattern(int width, int height) {
    Bytes pixels(static_cast<std::size_t>(width) * height * 3);
    for (std::size_t i = 0; i < pixels.size(); ++i) {
        pixels[i] = static_cast<std::uint8_t>((i * 7) ^ (i / 97));
    }
    return pixels;
}

Bytes Jpeg(int width, int height, int subsampling) {
    tjhandle handle = tjInitCompress();
    unsigned char* out = nullptr;
    unsigned long size = 0;
    const Bytes pixels = Pattern(width, height);
    tjCompress2(handle, pixels.data(), width, 0, height, TJPF_BGR, &out, &size, subsampling, 75, 0);
    Bytes jpeg(out, out + size);
    tjFree(out);
    tjDestroy(handle);
    return jpeg;
}

// Every DHT segment taken out: the decoder must fall back on the standard tables.
Bytes WithoutHuffmanTables(const Bytes& jpeg) {
    Bytes out(jpeg.begin(), jpeg.begin() + 2);
    std::size_t i = 2;
    while (i + 4 <= jpeg.size() && jpeg[i] == 0xFF && jpeg[i + 1] != 0xDA) {
        const std::size_t length = (jpeg[i + 2] << 8 | jpeg[i + 3]) + 2u;
        if (jpeg[i + 1] != 0xC4) out.insert(out.end(), jpeg.begin() + i, jpeg.begin() + i + length);
        i += length;
    }
    out.insert(out.end(), jpeg.begin() + static_cast<std::ptrdiff_t>(i), jpeg.end());
    return out;
}

void Write(const std::string& folder, const std::string& name, const Bytes& head,
           const Bytes& frame) {
    std::ofstream file(folder + "/" + name, std::ios::binary);
    file.write(reinterpret_cast<const char*>(head.data()), std::streamsize(head.size()));
    file.write(reinterpret_cast<const char*>(frame.data()), std::streamsize(frame.size()));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s FOLDER\n", argv[0]);
        return 2;
    }
    const std::string folder = argv[1];
    const struct {
        int width, height, subsampling;
    } sizes[] = {{96, 72, TJSAMP_420}, {33, 17, TJSAMP_422}, {64, 48, TJSAMP_444}};
    for (const auto& s : sizes) {
        const std::string tag = std::to_string(s.width) + "x" + std::to_string(s.height);
        const Bytes jpeg = Jpeg(s.width, s.height, s.subsampling);
        const Bytes head = Head(0x81, s.width, s.height);
        Write(folder, "jpeg-" + tag, head, jpeg);
        Write(folder, "jpeg-cut-" + tag, head, Bytes(jpeg.begin(), jpeg.begin() + jpeg.size() / 2));
        Bytes corrupt = jpeg;
        corrupt[corrupt.size() * 2 / 3] ^= 0x5A;
        Write(folder, "jpeg-corrupt-" + tag, head, corrupt);
        Write(folder, "jpeg-nodht-" + tag, head, WithoutHuffmanTables(jpeg));
        Write(folder, "jpeg-scaled-" + tag, Head(0x01, s.width, s.height), jpeg);
        Write(folder, "rgb24-" + tag, Head(0x80, s.width, s.height), Pattern(s.width, s.height));
    }
    return 0;
}
