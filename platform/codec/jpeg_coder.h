// SPDX-License-Identifier: GPL-2.0-or-later
// JPEG pictures compressed and decoded through libjpeg, with libjpeg's working memory for a
// picture kept for the next one: once a picture of a size has been coded, the next ones of that
// size allocate nothing, which a capture compressing or decoding every frame relies on.
#pragma once

#include <cstddef>
#include <memory>

namespace platform {

// Where a picture's pixels lie: blue, green, red per pixel, and one more byte in a 32-bit one
// (ignored when compressing, set opaque when decoding).
struct JpegPixels {
    unsigned char* first = nullptr;  // the first row in memory
    int width = 0;
    int height = 0;
    std::ptrdiff_t stride = 0;  // bytes from one row in memory to the next
    int bytesPerPixel = 3;      // 3 or 4
    bool bottomUp = false;      // the first row in memory is the picture's bottom one
};

enum class JpegChroma { k444, k422, k420 };

// The most bytes a width × height picture can take, headers included, in any of the chromas.
std::size_t JpegBound(int width, int height);

class JpegCompressor {
  public:
    JpegCompressor();
    ~JpegCompressor();
    JpegCompressor(const JpegCompressor&) = delete;
    JpegCompressor& operator=(const JpegCompressor&) = delete;

    bool Usable() const;
    // libjpeg's quality (1 to 100); the bytes written into `out`, 0 when the picture could not be
    // compressed (a buffer smaller than JpegBound may be too small).
    std::size_t Compress(const JpegPixels& picture, JpegChroma chroma, int quality,
                         unsigned char* out, std::size_t capacity);

  private:
    struct Coder;
    std::unique_ptr<Coder> coder_;
};

enum class JpegOutcome {
    kFailed,
    kOtherSize,  // a readable picture, not of the size asked for; nothing written
    kPartial,    // data cut short or corrupt: a whole picture, grey where data was missing
    kComplete,
};

class JpegDecompressor {
  public:
    JpegDecompressor();
    ~JpegDecompressor();
    JpegDecompressor(const JpegDecompressor&) = delete;
    JpegDecompressor& operator=(const JpegDecompressor&) = delete;

    bool Usable() const;
    // The picture's size from its header; false when there is no readable header.
    bool ReadSize(const unsigned char* jpeg, std::size_t size, int& width, int& height);
    // Decodes a picture of exactly the target's size into it. `fast` trades accuracy for speed.
    // A progressive picture of more than 500 scans is refused: a few bytes could otherwise keep
    // the decoder busy for minutes.
    JpegOutcome Decode(const unsigned char* jpeg, std::size_t size, const JpegPixels& target,
                       bool fast = false);

  private:
    struct Coder;
    std::unique_ptr<Coder> coder_;
};

}  // namespace platform
