// SPDX-License-Identifier: GPL-2.0-or-later
// The built-in test card: the pictures and the sound a capture driver delivers when no real
// device stands behind it. Everything is laid out ahead in buffers allocated once, so rendering a
// frame or filling an audio buffer never allocates.
#pragma once

#include <QImage>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "platform/mmsystem.h"
#include "platform/windef.h"

namespace platform {

class JpegCompressor;

constexpr DWORD kFourCCMjpg = MAKEFOURCC('M', 'J', 'P', 'G');

// Bytes in one row of a 24-bit DIB: rows are padded to whole 32-bit words.
constexpr DWORD DibStride(int width) {
    return (static_cast<DWORD>(width) * 3 + 3) & ~DWORD{3};
}

struct TestCardPicture {
    int width = 384;
    int height = 288;
    bool mjpeg = false;  // deliver JPEG images instead of the 24-bit DIB
    int noise = 0;       // 0-100
};

// Frames of the test card at one size: colour bars, a marker that moves one step per frame,
// the frame number in seven-segment digits, and on request an all-white flash frame. Frames are
// 24-bit bottom-up DIBs (blue, green, red), or JPEG images of the same picture.
class TestCardVideo {
  public:
    explicit TestCardVideo(const TestCardPicture& picture);
    ~TestCardVideo();
    TestCardVideo(const TestCardVideo&) = delete;
    TestCardVideo& operator=(const TestCardVideo&) = delete;

    // Renders frame `number` and returns the bytes to deliver; they stay valid until the next
    // call.
    std::span<BYTE> Render(std::uint32_t number, bool flash);

    // Room of the buffer Render hands out (the whole DIB, or the largest JPEG possible).
    DWORD capacity() const;
    // The DIB last rendered (also in JPEG mode), rows top-down as the toolkit reads them: draw it
    // flipped vertically to see it upright.
    const QImage& dib() const { return dibView_; }
    const TestCardPicture& picture() const { return picture_; }

    // Where the marker's left edge sits on frame `number`, in pixels from the left.
    int MarkerLeft(std::uint32_t number) const;

  private:
    void PaintBackground();
    void PaintMarker(std::uint32_t number);
    void PaintNumber(std::uint32_t number);
    void PaintDigit(int left, int top, int digit);
    void AddNoise();
    void MakeGrain();
    void FillRect(int left, int top, int width, int height, const BYTE bgr[3]);
    std::span<BYTE> Compress();

    TestCardPicture picture_;
    DWORD stride_;
    std::vector<BYTE> background_;
    std::vector<BYTE> dib_;
    QImage dibView_;
    std::unique_ptr<JpegCompressor> compressor_;
    std::vector<BYTE> jpeg_;  // room for the largest JPEG possible
    static constexpr std::size_t kGrainShifts = 65521;
    std::vector<std::int8_t> grain_;  // scaled to the noise level, longer than a frame
    std::uint64_t noiseState_ = 0x2545F4914F6CDD1DULL;
};

// Sound of the test card in one PCM format: silence but for a 1 kHz beep that starts exactly at
// every whole second of audio time (sample k × rate) and lasts kBeepMs.
class TestCardAudio {
  public:
    static constexpr int kBeepHz = 1000;
    static constexpr int kBeepMs = 100;

    explicit TestCardAudio(const WAVEFORMATEX& format);

    // Writes samples [first, first + count) into `out`, count × nBlockAlign bytes.
    void Fill(std::uint64_t first, std::uint32_t count, BYTE* out) const;

  private:
    void WriteSample(std::int16_t value, BYTE*& out) const;

    WORD channels_;
    WORD bits_;
    DWORD rate_;
    std::vector<std::int16_t> beep_;
};

}  // namespace platform
