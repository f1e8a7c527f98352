// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/capture/testcard.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>
#include <stdexcept>

#include "platform/codec/jpeg_coder.h"

namespace platform {
namespace {

constexpr int kJpegQuality = 85;
constexpr JpegChroma kJpegChroma = JpegChroma::k420;

// 75 % bars, as a studio test signal has them, in DIB byte order (blue, green, red).
constexpr BYTE kBars[8][3] = {{191, 191, 191}, {0, 191, 191}, {191, 191, 0}, {0, 191, 0},
                              {191, 0, 191},   {0, 0, 191},   {191, 0, 0},   {0, 0, 0}};
constexpr BYTE kBlack[3] = {0, 0, 0};
constexpr BYTE kWhite[3] = {255, 255, 255};

// Segments a to g of a seven-segment digit, bit 0 = a (top), clockwise, bit 6 = g (middle).
constexpr BYTE kSegments[10] = {0x3F, 0x06, 0x5B, 0x4F, 0x66, 0x6D, 0x7D, 0x07, 0x7F, 0x6F};

int DigitHeight(int imageHeight) {
    return std::max(10, imageHeight / 10);
}
int DigitWidth(int imageHeight) {
    return DigitHeight(imageHeight) / 2;
}
int Stroke(int imageHeight) {
    return std::max(2, DigitHeight(imageHeight) / 8);
}
int MarkerSide(int imageHeight) {
    return std::max(4, imageHeight / 8);
}

}  // namespace

TestCardVideo::TestCardVideo(const TestCardPicture& picture)
    : picture_(picture), stride_(DibStride(picture.width)) {
    if (picture_.width <= 0 || picture_.height <= 0)
        throw std::invalid_argument("test card: empty picture");
    const std::size_t size = std::size_t{stride_} * static_cast<std::size_t>(picture_.height);
    background_.assign(size, 0);
    dib_.assign(size, 0);
    dibView_ = QImage(dib_.data(), picture_.width, picture_.height, static_cast<qsizetype>(stride_),
                      QImage::Format_BGR888);
    PaintBackground();
    if (picture_.noise > 0) MakeGrain();
    if (!picture_.mjpeg) return;
    compressor_ = std::make_unique<JpegCompressor>();
    if (!compressor_->Usable()) throw std::runtime_error("test card: no JPEG compressor");
    jpeg_.assign(JpegBound(picture_.width, picture_.height), 0);
}

TestCardVideo::~TestCardVideo() = default;

DWORD TestCardVideo::capacity() const {
    return static_cast<DWORD>(picture_.mjpeg ? jpeg_.size() : dib_.size());
}

std::span<BYTE> TestCardVideo::Render(std::uint32_t number, bool flash) {
    if (flash) {
        std::memset(dib_.data(), 0xFF, dib_.size());
    } else {
        std::memcpy(dib_.data(), background_.data(), dib_.size());
        PaintMarker(number);
        PaintNumber(number);
        if (picture_.noise > 0) AddNoise();
    }
    if (picture_.mjpeg) return Compress();
    return {dib_.data(), dib_.size()};
}

std::span<BYTE> TestCardVideo::Compress() {
    const JpegPixels pixels{
        dib_.data(), picture_.width, picture_.height, static_cast<std::ptrdiff_t>(stride_), 3,
        true};
    const std::size_t size =
        compressor_->Compress(pixels, kJpegChroma, kJpegQuality, jpeg_.data(), jpeg_.size());
    return {jpeg_.data(), size};
}

// Coordinates are top-down, as one thinks of a picture; the DIB stores the bottom row first.
void TestCardVideo::FillRect(int left, int top, int width, int height, const BYTE bgr[3]) {
    const int x0 = std::max(left, 0);
    const int x1 = std::min(left + width, picture_.width);
    const int y0 = std::max(top, 0);
    const int y1 = std::min(top + height, picture_.height);
    for (int y = y0; y < y1; ++y) {
        BYTE* p = dib_.data() +
                  std::size_t{stride_} * static_cast<std::size_t>(picture_.height - 1 - y) +
                  static_cast<std::size_t>(x0) * 3;
        for (int x = x0; x < x1; ++x, p += 3) std::memcpy(p, bgr, 3);
    }
}

void TestCardVideo::PaintBackground() {
    const int w = picture_.width;
    const int barsHeight = picture_.height * 3 / 4;
    for (int bar = 0; bar < 8; ++bar) {
        const int left = bar * w / 8;
        FillRect(left, 0, (bar + 1) * w / 8 - left, barsHeight, kBars[bar]);
    }
    for (int x = 0; x < w; ++x) {
        const BYTE level = static_cast<BYTE>(w > 1 ? x * 255 / (w - 1) : 0);
        const BYTE grey[3] = {level, level, level};
        FillRect(x, barsHeight, 1, picture_.height - barsHeight, grey);
    }
    background_ = dib_;
}

int TestCardVideo::MarkerLeft(std::uint32_t number) const {
    const int side = MarkerSide(picture_.height);
    const auto travel = static_cast<std::uint64_t>(std::max(1, picture_.width - side));
    const auto step = static_cast<std::uint64_t>(std::max(1, picture_.width / 96));
    return static_cast<int>((number * step) % travel);
}

void TestCardVideo::PaintMarker(std::uint32_t number) {
    const int side = MarkerSide(picture_.height);
    const int left = MarkerLeft(number);
    const int top = picture_.height - side - side / 4;
    const int border = std::max(1, side / 8);
    FillRect(left, top, side, side, kBlack);
    FillRect(left + border, top + border, side - 2 * border, side - 2 * border, kWhite);
}

void TestCardVideo::PaintNumber(std::uint32_t number) {
    char digits[10];
    int count = 0;
    do {
        digits[count++] = static_cast<char>(number % 10);
        number /= 10;
    } while (number != 0);
    const int dh = DigitHeight(picture_.height);
    const int dw = DigitWidth(picture_.height);
    const int gap = Stroke(picture_.height);
    const int margin = gap * 2;
    FillRect(0, 0, margin * 2 + count * (dw + gap) - gap, margin * 2 + dh, kBlack);
    for (int i = 0; i < count; ++i)
        PaintDigit(margin + i * (dw + gap), margin, digits[count - 1 - i]);
}

void TestCardVideo::PaintDigit(int left, int top, int digit) {
    const int dh = DigitHeight(picture_.height);
    const int dw = DigitWidth(picture_.height);
    const int t = Stroke(picture_.height);
    const int half = dh / 2;
    const struct {
        int x, y, w, h;
    } segments[7] = {{0, 0, dw, t},           {dw - t, 0, t, half},    {dw - t, half, t, dh - half},
                     {0, dh - t, dw, t},      {0, half, t, dh - half}, {0, 0, t, half},
                     {0, half - t / 2, dw, t}};
    for (int s = 0; s < 7; ++s) {
        if ((kSegments[digit] & (1 << s)) == 0) continue;
        FillRect(left + segments[s].x, top + segments[s].y, segments[s].w, segments[s].h, kWhite);
    }
}

// Analogue-looking grain, so that JPEG sizes vary from frame to frame as a real card's do: a
// grain pattern made once, laid over each frame from a different starting point.
void TestCardVideo::AddNoise() {
    noiseState_ ^= noiseState_ << 13;
    noiseState_ ^= noiseState_ >> 7;
    noiseState_ ^= noiseState_ << 17;
    const std::int8_t* grain = grain_.data() + noiseState_ % kGrainShifts;
    BYTE* p = dib_.data();
    const std::size_t size = dib_.size();
    for (std::size_t i = 0; i < size; ++i) {
        const int value = p[i] + grain[i];
        p[i] = static_cast<BYTE>(std::clamp(value, 0, 255));
    }
}

void TestCardVideo::MakeGrain() {
    const int strength = std::clamp(picture_.noise, 0, 100);
    grain_.resize(dib_.size() + kGrainShifts);
    std::uint64_t state = 0x9E3779B97F4A7C15ULL;
    for (std::int8_t& g : grain_) {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        g = static_cast<std::int8_t>((static_cast<int>(state & 0xFF) - 128) * strength / 100);
    }
}

TestCardAudio::TestCardAudio(const WAVEFORMATEX& format)
    : channels_(format.nChannels), bits_(format.wBitsPerSample), rate_(format.nSamplesPerSec) {
    // A cosine starts at full height, so the onset sample itself is already audible.
    beep_.resize(std::size_t{rate_} * kBeepMs / 1000);
    for (std::size_t i = 0; i < beep_.size(); ++i) {
        const double phase = 2 * std::numbers::pi * kBeepHz * static_cast<double>(i) / rate_;
        beep_[i] = static_cast<std::int16_t>(std::lround(12000 * std::cos(phase)));
    }
}

void TestCardAudio::WriteSample(std::int16_t value, BYTE*& out) const {
    for (WORD c = 0; c < channels_; ++c) {
        if (bits_ == 8) {
            *out++ = static_cast<BYTE>((value >> 8) + 128);
        } else {
            const auto u = static_cast<std::uint16_t>(value);
            *out++ = static_cast<BYTE>(u & 0xFF);
            *out++ = static_cast<BYTE>(u >> 8);
        }
    }
}

void TestCardAudio::Fill(std::uint64_t first, std::uint32_t count, BYTE* out) const {
    if (rate_ == 0) return;
    std::uint64_t position = first % rate_;
    for (std::uint32_t i = 0; i < count; ++i) {
        WriteSample(position < beep_.size() ? beep_[position] : std::int16_t{0}, out);
        if (++position == rate_) position = 0;
    }
}

}  // namespace platform
