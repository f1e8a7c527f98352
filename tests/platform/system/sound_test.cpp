// SPDX-License-Identifier: GPL-2.0-or-later
// The sound service: WAVE images checked without reading past them, silence where no device
// opens, full playback on ALSA's null device. Each test points ALSA at a configuration of its
// own, so the results do not depend on the machine's sound hardware.
#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "platform/mmsystem.h"

namespace {

struct Format {
    WORD tag = WAVE_FORMAT_PCM;
    WORD channels = 1;
    DWORD rate = 22050;
    WORD bits = 8;
    int blockAlign = -1;  // -1: what channels and bits make
    DWORD size = 16;      // of the chunk; 18 adds cbSize
};

class WaveBuilder {
  public:
    WaveBuilder& Chunk(std::string_view tag, const std::vector<BYTE>& body) {
        Tag(tag);
        Put(DWORD(body.size()), 4);
        bytes_.insert(bytes_.end(), body.begin(), body.end());
        if (body.size() % 2 == 1) bytes_.push_back(0);
        return *this;
    }

    WaveBuilder& Fmt(const Format& f) {
        const auto align = WORD(f.blockAlign >= 0 ? f.blockAlign : f.channels * f.bits / 8);
        Tag("fmt ");
        Put(f.size, 4);
        Put(f.tag, 2);
        Put(f.channels, 2);
        Put(f.rate, 4);
        Put(f.rate * align, 4);
        Put(align, 2);
        Put(f.bits, 2);
        for (DWORD i = 16; i < f.size; ++i) bytes_.push_back(0);
        return *this;
    }

    WaveBuilder& Data(std::size_t bytes, BYTE fill = 0x80) {
        return Chunk("data", std::vector<BYTE>(bytes, fill));
    }

    // The whole file image, its RIFF size counting everything after the first eight bytes.
    std::vector<BYTE> Image() const {
        WaveBuilder image;
        image.Tag("RIFF");
        image.Put(DWORD(4 + bytes_.size()), 4);
        image.Tag("WAVE");
        image.bytes_.insert(image.bytes_.end(), bytes_.begin(), bytes_.end());
        return image.bytes_;
    }

  private:
    void Tag(std::string_view tag) { bytes_.insert(bytes_.end(), tag.begin(), tag.end()); }
    void Put(DWORD value, int size) {
        for (int i = 0; i < size; ++i) bytes_.push_back(BYTE(value >> (8 * i)));
    }

    std::vector<BYTE> bytes_;
};

std::vector<BYTE> Click(std::size_t dataBytes = 4416) {
    return WaveBuilder().Fmt({}).Data(dataBytes).Image();
}

void SetLe32(std::vector<BYTE>& image, std::size_t at, DWORD value) {
    for (int i = 0; i < 4; ++i) image[at + std::size_t(i)] = BYTE(value >> (8 * i));
}

// Played from a heap block of exactly the image's size, so that the sanitizer build catches any
// read past it.
BOOL Play(const std::vector<BYTE>& image, UINT flags = SND_MEMORY) {
    auto block = std::make_unique<char[]>(image.size());
    std::memcpy(block.get(), image.data(), image.size());
    return sndPlaySoundA(block.get(), flags);
}

class Sound : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        folder_ = new QTemporaryDir;
        Write("none.conf", "pcm.!default { type hw card 99 }\n");
        Write("null.conf", "pcm.!default { type null }\n");
    }
    static void TearDownTestSuite() { delete folder_; }

    void SetUp() override {
        const char* saved = std::getenv("ALSA_CONFIG_PATH");
        hadConfig_ = saved != nullptr;
        if (hadConfig_) savedConfig_ = saved;
    }
    void TearDown() override {
        if (hadConfig_) {
            setenv("ALSA_CONFIG_PATH", savedConfig_.c_str(), 1);
        } else {
            unsetenv("ALSA_CONFIG_PATH");
        }
    }

    static void UseNoDevice() { UseConfig("none.conf"); }
    static void UseNullDevice() { UseConfig("null.conf"); }

  private:
    static void Write(const char* name, const char* text) {
        std::ofstream(folder_->filePath(name).toStdString()) << text;
    }
    static void UseConfig(const char* name) {
        setenv("ALSA_CONFIG_PATH", folder_->filePath(name).toStdString().c_str(), 1);
    }

    static inline QTemporaryDir* folder_ = nullptr;
    bool hadConfig_ = false;
    std::string savedConfig_;
};

TEST_F(Sound, NoDeviceReturnsAtOnceAndPrintsNothing) {
    UseNoDevice();
    const std::vector<BYTE> twoSeconds = Click(2 * 22050);
    ::testing::internal::CaptureStderr();
    const auto start = std::chrono::steady_clock::now();
    const BOOL played = Play(twoSeconds);
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(played, FALSE);
    EXPECT_LT(took, std::chrono::milliseconds(500));
}

// The machine's own configuration: with no card, ALSA's library has plenty to say unless
// silenced; with one, a twentieth of a second of silence is heard.
TEST_F(Sound, TheSystemConfigurationPrintsNothing) {
    unsetenv("ALSA_CONFIG_PATH");
    ::testing::internal::CaptureStderr();
    Play(Click(1102));
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
}

TEST_F(Sound, PlaysWellFormedImagesToTheEnd) {
    UseNullDevice();
    EXPECT_EQ(Play(Click()), TRUE);
    EXPECT_EQ(Play(Click(), SND_MEMORY | SND_ASYNC), TRUE);
    EXPECT_EQ(Play(WaveBuilder().Fmt({1, 2, 44100, 16}).Data(4000, 0).Image()), TRUE);
    EXPECT_EQ(Play(WaveBuilder().Fmt({.size = 18}).Data(100).Image()), TRUE);
    EXPECT_EQ(Play(WaveBuilder().Data(100).Fmt({}).Image()), TRUE);  // data first
    EXPECT_EQ(Play(WaveBuilder().Fmt({}).Chunk("LIST", {1, 2, 3}).Data(101).Image()), TRUE);
    EXPECT_EQ(Play(WaveBuilder().Fmt({.bits = 16}).Data(7).Image()), TRUE);  // a half frame
    EXPECT_EQ(Play(WaveBuilder().Fmt({}).Data(0).Image()), TRUE);
}

TEST_F(Sound, RefusesWhatIsNotAnImageInMemory) {
    UseNullDevice();
    EXPECT_EQ(sndPlaySoundA(nullptr, SND_MEMORY), FALSE);
    EXPECT_EQ(sndPlaySoundA("click.wav", SND_SYNC), FALSE);
    EXPECT_EQ(Play({'R', 'I', 'F', 'X'}), FALSE);  // left after the first four bytes
    std::vector<BYTE> image = Click();
    image[8] = 'A';  // "AAVE"
    EXPECT_EQ(Play(image), FALSE);
}

TEST_F(Sound, RefusesFormatsItCannotPlay) {
    UseNullDevice();
    const Format refused[] = {
        {.tag = 3},  {.channels = 0}, {.channels = 3},   {.rate = 0},       {.rate = 400000},
        {.bits = 4}, {.bits = 24},    {.blockAlign = 2}, {.blockAlign = 0}, {.size = 14},
    };
    for (const Format& format : refused) {
        EXPECT_EQ(Play(WaveBuilder().Fmt(format).Data(100).Image()), FALSE)
            << "tag " << format.tag << " channels " << format.channels << " rate " << format.rate
            << " bits " << format.bits << " align " << format.blockAlign << " size " << format.size;
    }
    EXPECT_EQ(Play(WaveBuilder().Fmt({}).Image()), FALSE);                          // no data
    EXPECT_EQ(Play(WaveBuilder().Data(100).Image()), FALSE);                        // no format
    EXPECT_EQ(Play(WaveBuilder().Chunk("fmt ", {1, 0}).Data(100).Image()), FALSE);  // too short
}

TEST_F(Sound, SizeFieldsAreNeverTrustedBeyondTheImage) {
    UseNullDevice();
    std::vector<BYTE> header = {'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V', 'E'};
    for (DWORD riffSize : {0u, 3u, 0x7FFFFFFFu, 0xFFFFFFF8u, 0xFFFFFFFFu}) {
        SetLe32(header, 4, riffSize);
        EXPECT_EQ(Play(header), FALSE) << riffSize;
    }
    const std::vector<BYTE> image = Click(100);
    for (std::size_t chunkSize : {16u, 40u}) {  // the 'fmt ' and 'data' size fields
        for (DWORD claimed : {0xFFFFFFFFu, 0x7FFFFFFFu, DWORD(image.size())}) {
            std::vector<BYTE> corrupt = image;
            SetLe32(corrupt, chunkSize, claimed);
            EXPECT_EQ(Play(corrupt), FALSE) << chunkSize << " " << claimed;
        }
    }
}

// Every cut of a valid image, its RIFF size telling the truth about the cut: the chunks then
// claim more than there is.
TEST_F(Sound, EveryTruncationIsRefused) {
    UseNullDevice();
    const std::vector<BYTE> image =
        WaveBuilder().Fmt({}).Chunk("LIST", {1, 2, 3, 4, 5}).Data(60).Image();
    for (std::size_t length = 12; length < image.size(); ++length) {
        std::vector<BYTE> cut(image.begin(), image.begin() + std::ptrdiff_t(length));
        SetLe32(cut, 4, DWORD(length - 8));
        EXPECT_EQ(Play(cut), FALSE) << length;
    }
    EXPECT_EQ(Play(image), TRUE);
}

// Random damage behind the RIFF header (whose size is taken on trust) must never crash or read
// out of bounds; whether the result plays does not matter.
TEST_F(Sound, RandomDamageIsSurvived) {
    UseNullDevice();
    const std::vector<BYTE> image =
        WaveBuilder().Fmt({.size = 18}).Chunk("LIST", {9}).Data(40).Image();
    std::mt19937 random(20240611);
    std::uniform_int_distribution<std::size_t> where(8, image.size() - 1);
    std::uniform_int_distribution<int> value(0, 255);
    for (int round = 0; round < 300; ++round) {
        std::vector<BYTE> damaged = image;
        for (int hits = 1 + round % 4; hits > 0; --hits)
            damaged[where(random)] = BYTE(value(random));
        Play(damaged);
    }
}

TEST_F(Sound, MessageBeepCountsAndStaysQuietWithoutADevice) {
    UseNoDevice();
    const unsigned before = platform::MessageBeepCount();
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(MessageBeep(MB_OK), TRUE);
    EXPECT_EQ(MessageBeep(MB_ICONHAND), TRUE);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(platform::MessageBeepCount(), before + 2);

    UseNullDevice();
    EXPECT_EQ(MessageBeep(0xFFFFFFFFu), TRUE);
    EXPECT_EQ(platform::MessageBeepCount(), before + 3);
}

}  // namespace
