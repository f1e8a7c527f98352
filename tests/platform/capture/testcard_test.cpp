// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/capture/testcard.h"

#include <gtest/gtest.h>
#include <turbojpeg.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <set>
#include <stdexcept>
#include <vector>

using platform::DibStride;
using platform::TestCardAudio;
using platform::TestCardPicture;
using platform::TestCardVideo;

namespace {

struct Rgb {
    int r, g, b;
};

// Pixel (x, y) of a 24-bit bottom-up DIB, y counted from the top of the picture.
Rgb DibPixel(std::span<const BYTE> dib, int width, int height, int x, int y) {
    const BYTE* p = dib.data() + DibStride(width) * static_cast<DWORD>(height - 1 - y) + x * 3;
    return {p[2], p[1], p[0]};
}

std::vector<BYTE> DecodeJpeg(std::span<const BYTE> jpeg, int& width, int& height) {
    tjhandle handle = tjInitDecompress();
    int subsampling = 0;
    int colourspace = 0;
    std::vector<BYTE> rgb;
    if (tjDecompressHeader3(handle, jpeg.data(), static_cast<unsigned long>(jpeg.size()), &width,
                            &height, &subsampling, &colourspace) == 0) {
        rgb.resize(static_cast<std::size_t>(width * height * 3));
        if (tjDecompress2(handle, jpeg.data(), static_cast<unsigned long>(jpeg.size()), rgb.data(),
                          width, 0, height, TJPF_RGB, 0) != 0)
            rgb.clear();
    }
    tjDestroy(handle);
    return rgb;
}

bool AllWhite(std::span<const BYTE> bytes) {
    return std::all_of(bytes.begin(), bytes.end(), [](BYTE b) { return b == 0xFF; });
}

}  // namespace

TEST(TestCardVideo, FrameIsAnUprightBottomUpDibOfTheFormatSize) {
    TestCardVideo card({384, 288});
    const auto frame = card.Render(0, false);
    ASSERT_EQ(frame.size(), 384u * 3 * 288);
    EXPECT_EQ(card.capacity(), frame.size());
    // Top right is the black bar, bottom right the white end of the grey ramp.
    const Rgb topRight = DibPixel(frame, 384, 288, 380, 100);
    EXPECT_EQ(topRight.r + topRight.g + topRight.b, 0);
    const Rgb bottomRight = DibPixel(frame, 384, 288, 383, 287);
    EXPECT_EQ(bottomRight.r, 255);
    // The second bar is yellow: red and green, no blue.
    const Rgb yellow = DibPixel(frame, 384, 288, 384 / 8 + 24, 150);
    EXPECT_GT(yellow.r, 150);
    EXPECT_GT(yellow.g, 150);
    EXPECT_EQ(yellow.b, 0);
}

TEST(TestCardVideo, RowsOfOddWidthsArePaddedAndTinyPicturesRender) {
    TestCardVideo odd({321, 240});
    EXPECT_EQ(odd.Render(7, false).size(), DibStride(321) * 240);
    EXPECT_EQ(DibStride(321) % 4, 0u);
    for (const auto& [w, h] : std::vector<std::pair<int, int>>{{1, 1}, {7, 3}, {2, 40}}) {
        TestCardVideo tiny({w, h});
        EXPECT_EQ(tiny.Render(123456, false).size(), DibStride(w) * static_cast<DWORD>(h));
    }
    EXPECT_THROW(TestCardVideo({0, 10}), std::invalid_argument);
}

TEST(TestCardVideo, FlashFramesAreAllWhiteAndOthersAreNot) {
    TestCardVideo card({384, 288});
    EXPECT_TRUE(AllWhite(card.Render(25, true)));
    EXPECT_FALSE(AllWhite(card.Render(26, false)));
}

TEST(TestCardVideo, MarkerMovesAndNumberChangesOnlyTheirOwnPlaces) {
    TestCardVideo card({384, 288});
    EXPECT_NE(card.MarkerLeft(10), card.MarkerLeft(11));
    const auto a = card.Render(10, false);
    const std::vector<BYTE> first(a.begin(), a.end());
    const auto b = card.Render(10, false);
    EXPECT_TRUE(std::equal(first.begin(), first.end(), b.begin())) << "frames are deterministic";

    const auto c = card.Render(11, false);
    std::set<int> changedRows;
    for (int y = 0; y < 288; ++y)
        for (int x = 0; x < 384; ++x) {
            const std::size_t at = DibStride(384) * static_cast<DWORD>(287 - y) + x * 3;
            if (std::memcmp(&first[at], &c[at], 3) != 0) changedRows.insert(y);
        }
    ASSERT_FALSE(changedRows.empty());
    // The number sits at the top, the marker at the bottom: the middle of the bars stays put.
    for (int y : changedRows) EXPECT_TRUE(y < 288 / 5 || y > 288 * 3 / 4) << "row " << y;
    // The marker is white inside, at the place MarkerLeft gives.
    const Rgb inside = DibPixel(c, 384, 288, card.MarkerLeft(11) + 18, 288 - 36 / 4 - 18);
    EXPECT_EQ(inside.r + inside.g + inside.b, 3 * 255);
}

TEST(TestCardVideo, JpegFramesDecodeUprightAtTheFormatSize) {
    TestCardVideo card({640, 480, true});
    const auto jpeg = card.Render(3, false);
    ASSERT_GT(jpeg.size(), 2u);
    EXPECT_LT(jpeg.size(), card.capacity());
    EXPECT_EQ(jpeg[0], 0xFF);
    EXPECT_EQ(jpeg[1], 0xD8);
    int w = 0;
    int h = 0;
    const std::vector<BYTE> rgb = DecodeJpeg(jpeg, w, h);
    ASSERT_EQ(w, 640);
    ASSERT_EQ(h, 480);
    ASSERT_FALSE(rgb.empty());
    const BYTE* topRight = &rgb[(100 * 640 + 630) * 3];
    EXPECT_LT(topRight[0] + topRight[1] + topRight[2], 40);
    const BYTE* bottomRight = &rgb[(479 * 640 + 639) * 3];
    EXPECT_GT(bottomRight[0], 230);

    const std::vector<BYTE> white = DecodeJpeg(card.Render(25, true), w, h);
    ASSERT_FALSE(white.empty());
    EXPECT_GT(*std::min_element(white.begin(), white.end()), 245);
}

TEST(TestCardVideo, NoiseChangesEveryFrameAndJpegSizesVary) {
    TestCardVideo clean({384, 288, true, 0});
    TestCardVideo noisy({384, 288, true, 60});
    std::set<std::size_t> cleanSizes;
    std::set<std::size_t> noisySizes;
    for (std::uint32_t n = 100; n < 110; ++n) {
        // The same digit count and marker steps keep the clean picture's size nearly fixed.
        cleanSizes.insert(clean.Render(100, false).size());
        noisySizes.insert(noisy.Render(n, false).size());
    }
    EXPECT_EQ(cleanSizes.size(), 1u);
    EXPECT_GT(noisySizes.size(), 5u);
    EXPECT_GT(*noisySizes.begin(), *cleanSizes.begin());
}

namespace {

WAVEFORMATEX Pcm(WORD channels, DWORD rate, WORD bits) {
    const WORD block = static_cast<WORD>(channels * bits / 8);
    return {WAVE_FORMAT_PCM, channels, rate, rate * block, block, bits, 0};
}

// First sample of each run of sound after silence, for channel 0.
std::vector<std::uint64_t> Onsets(const std::vector<BYTE>& data, const WAVEFORMATEX& f) {
    std::vector<std::uint64_t> onsets;
    const std::size_t samples = data.size() / f.nBlockAlign;
    std::size_t silentRun = 1000000;
    for (std::size_t i = 0; i < samples; ++i) {
        const BYTE* p = &data[i * f.nBlockAlign];
        const bool silent = f.wBitsPerSample == 8 ? p[0] == 0x80 : (p[0] | p[1]) == 0;
        if (!silent && silentRun > 100) onsets.push_back(i);
        silentRun = silent ? silentRun + 1 : 0;
    }
    return onsets;
}

}  // namespace

TEST(TestCardAudio, BeepStartsExactlyOnEveryWholeSecondInEveryFormat) {
    for (const WAVEFORMATEX f :
         {Pcm(2, 44100, 16), Pcm(1, 22050, 16), Pcm(1, 11025, 8), Pcm(2, 8000, 8)}) {
        TestCardAudio sound(f);
        const std::uint32_t samples = f.nSamplesPerSec * 3;
        std::vector<BYTE> data(std::size_t{samples} * f.nBlockAlign);
        sound.Fill(0, samples, data.data());
        const auto onsets = Onsets(data, f);
        ASSERT_EQ(onsets.size(), 3u) << f.nSamplesPerSec;
        for (std::size_t k = 0; k < 3; ++k) EXPECT_EQ(onsets[k], k * f.nSamplesPerSec);
        // Every channel carries the same beep.
        if (f.nChannels == 2) {
            EXPECT_EQ(data[0], data[f.wBitsPerSample / 8]);
        }
    }
}

TEST(TestCardAudio, BeepLastsATenthOfASecondAndSilenceIsTrueSilence) {
    const WAVEFORMATEX f = Pcm(1, 44100, 16);
    TestCardAudio sound(f);
    std::vector<BYTE> data(44100 * 2);
    sound.Fill(0, 44100, data.data());
    const auto* samples = reinterpret_cast<const std::int16_t*>(data.data());
    EXPECT_GT(samples[0], 10000);
    int loud = 0;
    for (int i = 0; i < 4410; ++i) loud += std::abs(samples[i]) > 1000;
    EXPECT_GT(loud, 4410 / 2);
    EXPECT_TRUE(
        std::all_of(samples + 4410, samples + 44100, [](std::int16_t s) { return s == 0; }));
}

TEST(TestCardAudio, PiecesFilledSeparatelyEqualOneFill) {
    const WAVEFORMATEX f = Pcm(2, 22050, 16);
    TestCardAudio sound(f);
    std::vector<BYTE> whole(22050 * 2 * 4);
    sound.Fill(20000, 22050 * 2, whole.data());
    std::vector<BYTE> pieces(whole.size());
    sound.Fill(20000, 2049, pieces.data());
    sound.Fill(22049, 22050 * 2 - 2049, pieces.data() + 2049 * 4);
    EXPECT_EQ(whole, pieces);
    // Starting mid-way, the beeps still fall on samples 22050 and 44100 of the whole stream.
    EXPECT_EQ(Onsets(whole, f), (std::vector<std::uint64_t>{22050 - 20000, 44100 - 20000}));
}
