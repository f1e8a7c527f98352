// SPDX-License-Identifier: GPL-2.0-or-later
// The compression manager and its Motion-JPEG compressor and decompressor.
#include "platform/compman.h"

#include <gtest/gtest.h>
#include <turbojpeg.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "platform/avifile.h"
#include "platform/capture/testcard.h"
#include "platform/codec/compman_internal.h"
#include "platform/machine.h"

namespace {

constexpr DWORD kMjpg = MAKEFOURCC('M', 'J', 'P', 'G');
constexpr int kWidth = 320;
constexpr int kHeight = 240;

int Stride(const BITMAPINFOHEADER& f) {
    return (f.biWidth * f.biBitCount + 31) / 32 * 4;
}

BITMAPINFOHEADER RgbFormat(int bits, bool bottomUp, int width = kWidth, int height = kHeight) {
    BITMAPINFOHEADER format{sizeof(BITMAPINFOHEADER),
                            width,
                            bottomUp ? height : -height,
                            1,
                            static_cast<WORD>(bits),
                            BI_RGB,
                            0,
                            0,
                            0,
                            0,
                            0};
    // Formats too large for a DWORD size keep its low bits: they are there to be refused.
    format.biSizeImage = static_cast<DWORD>(static_cast<std::uint64_t>(Stride(format)) * height);
    return format;
}

BITMAPINFOHEADER MjpgFormat(int width = kWidth, int height = kHeight) {
    BITMAPINFOHEADER format{sizeof(BITMAPINFOHEADER),
                            width,
                            height,
                            1,
                            24,
                            kMjpg,
                            static_cast<DWORD>(std::uint64_t(width) * height * 3),
                            0,
                            0,
                            0,
                            0};
    return format;
}

// Colour of pixel (x, y) counted from the top, channel c in R, G, B order.
unsigned char Colour(int x, int y, int c) {
    return static_cast<unsigned char>(128 + 100 * std::sin((x * (c + 2) + y * (4 - c)) / 29.0));
}

std::vector<unsigned char> Picture(const BITMAPINFOHEADER& format) {
    std::vector<unsigned char> bits(format.biSizeImage);
    const int height = std::abs(format.biHeight);
    for (int y = 0; y < height; ++y) {
        unsigned char* row =
            bits.data() + (format.biHeight > 0 ? height - 1 - y : y) * Stride(format);
        for (int x = 0; x < format.biWidth; ++x)
            for (int c = 0; c < 3; ++c) row[x * format.biBitCount / 8 + 2 - c] = Colour(x, y, c);
    }
    return bits;
}

// PSNR of a decoded DIB against the picture, whatever its depth and row order.
double Psnr(const BITMAPINFOHEADER& format, const std::vector<unsigned char>& bits) {
    double sum = 0;
    const int height = std::abs(format.biHeight);
    for (int y = 0; y < height; ++y) {
        const unsigned char* row =
            bits.data() + (format.biHeight > 0 ? height - 1 - y : y) * Stride(format);
        for (int x = 0; x < format.biWidth; ++x)
            for (int c = 0; c < 3; ++c) {
                const double d = row[x * format.biBitCount / 8 + 2 - c] - Colour(x, y, c);
                sum += d * d;
            }
    }
    return 10 * std::log10(255.0 * 255.0 * format.biWidth * height * 3 / std::max(sum, 1e-9));
}

class Instance {
  public:
    explicit Instance(UINT mode, DWORD handler = kMjpg)
        : hic_(ICOpen(ICTYPE_VIDEO, handler, mode)) {}
    ~Instance() { ICClose(hic_); }
    HIC get() const { return hic_; }

  private:
    HIC hic_;
};

// Compresses `picture` at `quality`; the JPEG's size is in the returned format's biSizeImage.
std::vector<unsigned char> Compress(BITMAPINFOHEADER input, std::vector<unsigned char> picture,
                                    DWORD quality, BITMAPINFOHEADER& output) {
    Instance encoder(ICMODE_COMPRESS);
    EXPECT_EQ(ICCompressGetFormat(encoder.get(), &input, &output), ICERR_OK);
    std::vector<unsigned char> jpeg(ICCompressGetSize(encoder.get(), &input, &output));
    EXPECT_EQ(ICCompressBegin(encoder.get(), &input, &output), ICERR_OK);
    DWORD flags = 0;
    EXPECT_EQ(ICCompress(encoder.get(), ICCOMPRESS_KEYFRAME, &output, jpeg.data(), &input,
                         picture.data(), nullptr, &flags, 0, 0, quality, nullptr, nullptr),
              ICERR_OK);
    EXPECT_EQ(flags, AVIIF_KEYFRAME);
    EXPECT_LE(output.biSizeImage, jpeg.size());
    jpeg.resize(output.biSizeImage);
    return jpeg;
}

class CompmanTest : public ::testing::Test {
  protected:
    void SetUp() override {
        platform::MachineDescription machine = platform::Machine();
        machine.codecs = {{"MJPG", true}};
        previous_ = platform::SetMachine(machine);
    }
    void TearDown() override { platform::SetMachine(previous_); }
    platform::MachineDescription previous_;
};

TEST_F(CompmanTest, OpensWhatTheMachineHas) {
    for (UINT mode : {ICMODE_COMPRESS, ICMODE_DECOMPRESS, ICMODE_FASTDECOMPRESS, ICMODE_QUERY}) {
        Instance instance(mode);
        EXPECT_NE(instance.get(), nullptr) << mode;
    }
    EXPECT_NE(Instance(ICMODE_DECOMPRESS, MAKEFOURCC('m', 'j', 'p', 'g')).get(), nullptr);
    EXPECT_EQ(Instance(ICMODE_DRAW).get(), nullptr);
    EXPECT_EQ(ICOpen(ICTYPE_AUDIO, kMjpg, ICMODE_COMPRESS), nullptr);
    EXPECT_EQ(Instance(ICMODE_COMPRESS, MAKEFOURCC('D', 'I', 'V', 'X')).get(), nullptr);

    platform::MachineDescription machine = platform::Machine();
    machine.codecs["MJPG"] = false;
    platform::SetMachine(machine);
    EXPECT_EQ(Instance(ICMODE_DECOMPRESS).get(), nullptr);
}

TEST_F(CompmanTest, InfoIsCopiedUpToTheSizeAsked) {
    Instance instance(ICMODE_DECOMPRESS);
    ICINFO info{};
    EXPECT_EQ(ICGetInfo(instance.get(), &info, sizeof info), 568);
    EXPECT_EQ(info.dwSize, 568u);
    EXPECT_EQ(info.fccType, ICTYPE_VIDEO);
    EXPECT_EQ(info.fccHandler, kMjpg);
    EXPECT_EQ(std::u16string(info.szName), u"MJPG");

    std::vector<unsigned char> small(sizeof(ICINFO), 0xAB);
    EXPECT_EQ(ICGetInfo(instance.get(), reinterpret_cast<ICINFO*>(small.data()), 12), 12);
    EXPECT_EQ(small[12], 0xAB);
    EXPECT_EQ(
        ICSendMessage(instance.get(), ICM_GETINFO, reinterpret_cast<DWORD_PTR>(&info), sizeof info),
        568);
    EXPECT_EQ(ICGetInfo(nullptr, &info, sizeof info), 0);
}

// What a program readying a decompressor for a Motion-JPEG card asks, in its order.
TEST_F(CompmanTest, DecompressorAnswersTheStateAndFormatQuestions) {
    Instance instance(ICMODE_DECOMPRESS);
    ASSERT_EQ(ICGetStateSize(instance.get()), 4u);
    DWORD state = 0xFF;
    EXPECT_EQ(ICGetState(instance.get(), &state, 2), ICERR_BADSIZE);
    EXPECT_EQ(ICGetState(instance.get(), &state, 4), ICERR_OK);
    EXPECT_EQ(state, 0u) << "accurate decoding by default";
    state = MJPG_STATE_FASTDECODE | 0x80;
    EXPECT_EQ(ICSetState(instance.get(), &state, 2), 0);
    EXPECT_EQ(ICSetState(instance.get(), &state, 4), 4);
    EXPECT_EQ(ICGetState(instance.get(), &state, 4), ICERR_OK);
    EXPECT_EQ(state, MJPG_STATE_FASTDECODE) << "unknown bits are dropped";
    EXPECT_EQ(ICSetState(instance.get(), nullptr, 0), 0);
    EXPECT_EQ(ICGetState(instance.get(), &state, 4), ICERR_OK);
    EXPECT_EQ(state, 0u) << "defaults again";

    BITMAPINFOHEADER card = MjpgFormat(384, 288);
    ASSERT_EQ(ICDecompressGetFormatSize(instance.get(), &card), 40);
    BITMAPINFOHEADER decoded{};
    ASSERT_EQ(ICDecompressGetFormat(instance.get(), &card, &decoded), ICERR_OK);
    EXPECT_EQ(decoded.biSize, 40u);
    EXPECT_EQ(decoded.biWidth, 384);
    EXPECT_EQ(decoded.biHeight, 288);
    EXPECT_EQ(decoded.biPlanes, 1);
    EXPECT_EQ(decoded.biBitCount, 24);
    EXPECT_EQ(decoded.biCompression, BI_RGB);
    EXPECT_EQ(decoded.biSizeImage, 384u * 3 * 288);
    EXPECT_EQ(ICDecompressQuery(instance.get(), &card, &decoded), ICERR_OK);
    EXPECT_EQ(ICDecompressBegin(instance.get(), &card, &decoded), ICERR_OK);
    EXPECT_EQ(ICDecompressEnd(instance.get()), ICERR_OK);

    BITMAPINFOHEADER rgb = RgbFormat(24, true);
    EXPECT_LT(ICDecompressGetFormatSize(instance.get(), &rgb), 0);
    EXPECT_EQ(ICDecompressGetFormat(instance.get(), &rgb, &decoded), ICERR_BADFORMAT);
    EXPECT_EQ(ICDecompressQuery(instance.get(), &rgb, nullptr), ICERR_BADFORMAT);
    BITMAPINFOHEADER other = RgbFormat(24, true, 100, 100);
    EXPECT_EQ(ICDecompressQuery(instance.get(), &card, &other), ICERR_BADFORMAT);
}

// Every input layout decodes into every output layout at full quality.
TEST_F(CompmanTest, FramesSurviveCompressionInEveryRowOrderAndDepth) {
    for (auto [inBits, inBottomUp] : {std::pair{24, true}, std::pair{32, false}}) {
        BITMAPINFOHEADER input = RgbFormat(inBits, inBottomUp), mjpg{};
        std::vector<unsigned char> jpeg = Compress(input, Picture(input), 100, mjpg);
        EXPECT_EQ(mjpg.biCompression, kMjpg);
        for (auto [outBits, outBottomUp] : {std::pair{24, true}, std::pair{24, false},
                                            std::pair{32, true}, std::pair{32, false}}) {
            for (DWORD options : {DWORD{0}, MJPG_STATE_FASTDECODE}) {
                Instance decoder(ICMODE_DECOMPRESS);
                ICSetState(decoder.get(), &options, sizeof options);
                BITMAPINFOHEADER output = RgbFormat(outBits, outBottomUp);
                std::vector<unsigned char> pixels(output.biSizeImage);
                ASSERT_EQ(
                    ICDecompress(decoder.get(), 0, &mjpg, jpeg.data(), &output, pixels.data()),
                    ICERR_OK);
                EXPECT_GE(Psnr(output, pixels), options == 0 ? 40.0 : 35.0)
                    << inBits << inBottomUp << " -> " << outBits << outBottomUp << " " << options;
            }
        }
    }
}

TEST_F(CompmanTest, QualityIsAPercentage) {
    BITMAPINFOHEADER input = RgbFormat(24, true), mjpg{};
    std::vector<unsigned char> picture = Picture(input);
    auto size = [&](DWORD quality) { return Compress(input, picture, quality, mjpg).size(); };
    EXPECT_LT(size(10), size(50));
    EXPECT_LT(size(50), size(99));
    EXPECT_LT(size(99), size(100));
    EXPECT_EQ(Compress(input, picture, 150, mjpg), Compress(input, picture, 100, mjpg));
    EXPECT_EQ(Compress(input, picture, ICQUALITY_HIGH, mjpg), Compress(input, picture, 100, mjpg));
    EXPECT_EQ(Compress(input, picture, ICQUALITY_DEFAULT, mjpg),
              Compress(input, picture, 75, mjpg));
    Instance instance(ICMODE_COMPRESS);
    DWORD quality = 0;
    EXPECT_EQ(ICGetDefaultQuality(instance.get(), &quality), ICERR_OK);
    EXPECT_EQ(quality, 75u);
}

// Quality 100 is held to 45 dB of PSNR on a grainy analogue picture (the test card at noise 30),
// so that recording at the best quality stays visually lossless while not spending bytes on
// quantisers all at 1 (whose figures are in bench/README.md).
TEST_F(CompmanTest, BestQualityKeeps45DecibelsOfAGrainyPicture) {
    platform::TestCardVideo card({384, 288, false, 30});
    const std::span<BYTE> frame = card.Render(7, false);
    const std::vector<unsigned char> source(frame.begin(), frame.end());
    const BITMAPINFOHEADER input{sizeof(BITMAPINFOHEADER), 384, 288, 1, 24, BI_RGB,
                                 DWORD(source.size()),     0,   0,   0, 0};
    BITMAPINFOHEADER mjpg{};
    const std::vector<unsigned char> jpeg = Compress(input, source, 100, mjpg);
    tjhandle decoder = tjInitDecompress();
    std::vector<unsigned char> decoded(source.size());
    ASSERT_EQ(tjDecompress2(decoder, jpeg.data(), jpeg.size(), decoded.data(), 384, 0, 288,
                            TJPF_BGR, TJFLAG_BOTTOMUP),
              0);
    tjDestroy(decoder);
    double sum = 0;
    for (std::size_t i = 0; i < source.size(); ++i) {
        const double d = double(source[i]) - double(decoded[i]);
        sum += d * d;
    }
    const double psnr = 10 * std::log10(255.0 * 255.0 * double(source.size()) / sum);
    EXPECT_GE(psnr, 45.0);
    EXPECT_LT(jpeg.size(), source.size()) << "and it is compressed";
}

TEST_F(CompmanTest, CompressorRefusesFormatsItCannotTake) {
    Instance encoder(ICMODE_COMPRESS);
    BITMAPINFOHEADER ok = RgbFormat(24, true);
    EXPECT_EQ(ICCompressQuery(encoder.get(), &ok, nullptr), ICERR_OK);
    BITMAPINFOHEADER format = RgbFormat(16, true);
    EXPECT_EQ(ICCompressQuery(encoder.get(), &format, nullptr), ICERR_BADFORMAT);
    EXPECT_LT(ICCompressGetFormatSize(encoder.get(), &format), 0);
    format = RgbFormat(24, true);
    format.biCompression = BI_RLE8;
    EXPECT_EQ(ICCompressQuery(encoder.get(), &format, nullptr), ICERR_BADFORMAT);
    format = RgbFormat(24, true, 0, 10);
    EXPECT_EQ(ICCompressQuery(encoder.get(), &format, nullptr), ICERR_BADFORMAT);
    format = RgbFormat(24, true, 10, 0);
    EXPECT_EQ(ICCompressQuery(encoder.get(), &format, nullptr), ICERR_BADFORMAT);
    // Its largest JPEG is beyond what ICCompressGetSize can answer (a DWORD).
    format = RgbFormat(24, true, 40000, 40000);
    EXPECT_EQ(ICCompressQuery(encoder.get(), &format, nullptr), ICERR_BADFORMAT);
    EXPECT_EQ(ICCompressGetSize(encoder.get(), &format, nullptr), DWORD(ICERR_BADFORMAT));
    BITMAPINFOHEADER wrongSize = MjpgFormat(100, 100);
    EXPECT_EQ(ICCompressQuery(encoder.get(), &ok, &wrongSize), ICERR_BADFORMAT);
    EXPECT_EQ(ICSendMessage(encoder.get(), ICM_COMPRESS, 0, 0), ICERR_BADPARAM);
}

TEST_F(CompmanTest, DamagedOrMismatchedPicturesAreNotDecoded) {
    BITMAPINFOHEADER input = RgbFormat(24, true), mjpg{};
    std::vector<unsigned char> jpeg = Compress(input, Picture(input), 90, mjpg);
    Instance decoder(ICMODE_DECOMPRESS);
    BITMAPINFOHEADER output = RgbFormat(24, true);
    std::vector<unsigned char> pixels(output.biSizeImage);

    // Cut short inside the header; and a header that first has bytes the decoder skips with a
    // warning (stray bytes before its second marker) and then a precision it cannot decode: a
    // failure, however mild the first complaint.
    std::vector<unsigned char> warnedThenBroken = jpeg;
    const std::size_t secondMarker = 4 + (std::size_t{jpeg[4]} << 8 | jpeg[5]);
    warnedThenBroken.insert(warnedThenBroken.begin() + std::ptrdiff_t(secondMarker), {0, 0});
    const unsigned char sof[] = {0xFF, 0xC0};
    auto start = std::search(warnedThenBroken.begin(), warnedThenBroken.end(), sof, sof + 2);
    ASSERT_NE(start, warnedThenBroken.end());
    start[4] = 12;  // bits per sample
    for (std::vector<unsigned char> damaged :
         {std::vector<unsigned char>(jpeg.begin(), jpeg.begin() + 100), warnedThenBroken}) {
        mjpg.biSizeImage = static_cast<DWORD>(damaged.size());
        EXPECT_NE(ICDecompress(decoder.get(), 0, &mjpg, damaged.data(), &output, pixels.data()),
                  ICERR_OK);
    }

    // A frame of another size than the formats say must not be written into a smaller buffer.
    BITMAPINFOHEADER small = RgbFormat(24, true, 32, 32), smallMjpg = MjpgFormat(32, 32);
    smallMjpg.biSizeImage = static_cast<DWORD>(jpeg.size());
    std::vector<unsigned char> smallPixels(small.biSizeImage);
    EXPECT_EQ(ICDecompress(decoder.get(), 0, &smallMjpg, jpeg.data(), &small, smallPixels.data()),
              static_cast<DWORD>(ICERR_BADFORMAT));
}

TEST_F(CompmanTest, ClosedAndUnknownHandlesAreRefused) {
    HIC hic = ICOpen(ICTYPE_VIDEO, kMjpg, ICMODE_DECOMPRESS);
    ASSERT_NE(hic, nullptr);
    EXPECT_EQ(ICClose(hic), ICERR_OK);
    EXPECT_EQ(ICClose(hic), ICERR_BADHANDLE);
    EXPECT_EQ(ICSendMessage(hic, ICM_GETSTATE, 0, 0), ICERR_BADHANDLE);
    EXPECT_EQ(ICSendMessage(nullptr, ICM_GETSTATE, 0, 0), ICERR_BADHANDLE);
    // A newer instance never answers to an older handle.
    HIC next = ICOpen(ICTYPE_VIDEO, kMjpg, ICMODE_DECOMPRESS);
    EXPECT_NE(next, hic);
    EXPECT_EQ(ICClose(hic), ICERR_BADHANDLE);
    EXPECT_EQ(ICClose(next), ICERR_OK);
}

class Recorder : public platform::VideoCodec {
  public:
    explicit Recorder(std::vector<UINT>& seen) : seen_(seen) {}
    LRESULT Message(UINT message, DWORD_PTR, DWORD_PTR) override {
        seen_.push_back(message);
        return ICERR_OK;
    }

  private:
    std::vector<UINT>& seen_;
};

TEST_F(CompmanTest, InstalledCompressorGetsEveryMessageButInfo) {
    std::vector<UINT> seen;
    platform::CodecRegistration fake;
    fake.info.dwSize = sizeof(ICINFO);
    fake.info.fccHandler = MAKEFOURCC('D', 'I', 'V', 'X');
    fake.open = [&seen](UINT) { return std::make_unique<Recorder>(seen); };
    EXPECT_FALSE(platform::InstallCodec(fake).open);

    HIC hic = ICOpen(ICTYPE_VIDEO, MAKEFOURCC('D', 'I', 'V', 'X'), ICMODE_COMPRESS);
    ASSERT_NE(hic, nullptr);
    ICINFO info{};
    EXPECT_EQ(ICGetInfo(hic, &info, sizeof info), 568);
    EXPECT_EQ(ICGetStateSize(hic), 0u);
    EXPECT_EQ(ICCompressEnd(hic), ICERR_OK);
    EXPECT_EQ(seen, (std::vector<UINT>{ICM_GETSTATE, ICM_COMPRESS_END}));
    ICClose(hic);

    fake.open = nullptr;
    EXPECT_TRUE(platform::InstallCodec(fake).open);
    EXPECT_EQ(ICOpen(ICTYPE_VIDEO, MAKEFOURCC('D', 'I', 'V', 'X'), ICMODE_COMPRESS), nullptr);
}

}  // namespace
