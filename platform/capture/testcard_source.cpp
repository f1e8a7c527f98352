// SPDX-License-Identifier: GPL-2.0-or-later
// The test card behind the capture-source interfaces: formats from the machine description, a
// picture rendered for each grid frame, its beeps, and the scripted user's clock.
#include <algorithm>
#include <exception>
#include <memory>

#include "platform/capture/capture_source.h"
#include "platform/capture/testcard.h"
#include "platform/capture/testcard_source.h"

namespace platform {
namespace {

// Larger pictures than this are refused even by a driver that accepts "any" size: they would
// only ask for buffers no capture card fills.
constexpr int kLargestSide = 4096;

class TestCardSource : public VideoSource {
  public:
    explicit TestCardSource(const DriverDescription& driver)
        : driver_(driver), format_(NativeFormat()) {}

    BITMAPINFOHEADER NativeFormat() const override {
        const FrameSize s = driver_.size;
        return driver_.compression == BI_RGB ? RgbFormat(s.width, s.height)
                                             : MjpgFormat(s.width, s.height);
    }
    const BITMAPINFOHEADER& format() const override { return format_; }

    bool UseRgb(int width, int height) override {
        if (!AcceptsSize(width, height)) return false;
        Use(RgbFormat(width, height));
        return true;
    }
    bool UseNative() override {
        Use(NativeFormat());
        return true;
    }

    bool Start(DWORD) override {
        capture_ = std::make_unique<TestCardVideo>(
            TestCardPicture{format_.biWidth, format_.biHeight, format_.biCompression == kFourCCMjpg,
                            driver_.noise});
        return true;
    }
    std::span<BYTE> Frame(std::uint64_t number, bool flash, std::int64_t) override {
        return capture_->Render(static_cast<std::uint32_t>(number), flash);
    }
    void Stop() override { capture_.reset(); }
    DWORD capacity() const override { return capture_ ? capture_->capacity() : 0; }

    const QImage* Live(std::uint32_t number) override {
        if (!live_) {
            try {
                live_ = std::make_unique<TestCardVideo>(
                    TestCardPicture{format_.biWidth, format_.biHeight, false, driver_.noise});
            } catch (const std::exception&) {
                return nullptr;  // a picture too large to hold: the window stays black
            }
        }
        live_->Render(number, false);
        return &live_->dib();
    }

  private:
    bool AcceptsSize(int width, int height) const {
        if (width < 1 || height < 1 || width > kLargestSide || height > kLargestSide) return false;
        const FrameSize size{width, height};
        if (driver_.compression == BI_RGB && size == driver_.size) return true;
        if (driver_.acceptsAny) return true;
        const auto& accepts = driver_.accepts;
        return std::find(accepts.begin(), accepts.end(), size) != accepts.end();
    }
    void Use(const BITMAPINFOHEADER& format) {
        format_ = format;
        live_.reset();
    }

    DriverDescription driver_;
    BITMAPINFOHEADER format_;
    std::unique_ptr<TestCardVideo> capture_;
    std::unique_ptr<TestCardVideo> live_;
};

class TestCardSound : public AudioSource {
  public:
    explicit TestCardSound(const WAVEFORMATEX& format) : sound_(format) {}
    void Fill(std::uint64_t first, std::uint32_t count, BYTE* out) override {
        sound_.Fill(first, count, out);
    }

  private:
    TestCardAudio sound_;
};

}  // namespace

std::unique_ptr<VideoSource> OpenTestCard(const DriverDescription& driver) {
    return std::make_unique<TestCardSource>(driver);
}

std::unique_ptr<AudioSource> TestCardSoundSource(const WAVEFORMATEX& format) {
    return std::make_unique<TestCardSound>(format);
}

}  // namespace platform
