// SPDX-License-Identifier: GPL-2.0-or-later
// The sound service on ALSA: a WAVE image in memory is checked chunk by chunk, then played on
// the "default" device and drained before the call returns. SND_ASYNC is played synchronously
// too: the program only ever waits for its click, and a sound cut short by the next one would be
// worse than a short wait. Without SND_MEMORY the argument would be a file or alias name, which
// this platform does not play (FALSE).
#include <alsa/asoundlib.h>

#include <QApplication>
#include <QThread>
#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <numbers>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/mmsystem.h"

namespace platform {
namespace {

// Far beyond any sound the program plays; a size field past it is taken as a corrupt image.
constexpr std::uint32_t kLargestImage = 64u << 20;
constexpr std::uint32_t kLowestRate = 1000;
constexpr std::uint32_t kHighestRate = 192000;

struct Wave {
    WORD channels = 0;
    DWORD rate = 0;
    WORD bits = 0;
    WORD blockAlign = 0;
    const BYTE* samples = nullptr;
    std::size_t frames = 0;
};

std::uint32_t Le32(const BYTE* p) {
    return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 |
           std::uint32_t(p[3]) << 24;
}

WORD Le16(const BYTE* p) {
    return WORD(p[0] | p[1] << 8);
}

bool IsTag(const BYTE* p, const char (&tag)[5]) {
    return p[0] == BYTE(tag[0]) && p[1] == BYTE(tag[1]) && p[2] == BYTE(tag[2]) &&
           p[3] == BYTE(tag[3]);
}

// The 'fmt ' chunk's body: plain PCM, 8 or 16 bits, mono or stereo, a rate ALSA can take.
bool ReadFormat(const BYTE* body, std::uint32_t size, Wave& wave) {
    if (size < 16 || Le16(body) != WAVE_FORMAT_PCM) return false;
    wave.channels = Le16(body + 2);
    wave.rate = Le32(body + 4);
    wave.blockAlign = Le16(body + 12);
    wave.bits = Le16(body + 14);
    return (wave.channels == 1 || wave.channels == 2) && (wave.bits == 8 || wave.bits == 16) &&
           wave.rate >= kLowestRate && wave.rate <= kHighestRate &&
           wave.blockAlign == wave.channels * wave.bits / 8;
}

// Walks the chunks after "WAVE" up to `end`, the image's own length; a chunk that claims to run
// past it makes the image corrupt. Chunks come in any order; the first of each kind counts.
std::optional<Wave> ReadChunks(const BYTE* image, std::size_t end) {
    Wave wave;
    bool haveFormat = false;
    const BYTE* data = nullptr;
    std::uint32_t dataSize = 0;
    std::size_t at = 12;
    while (end - at >= 8) {
        const BYTE* header = image + at;
        const std::uint32_t size = Le32(header + 4);
        at += 8;
        if (size > end - at) return std::nullopt;
        if (IsTag(header, "fmt ") && !haveFormat) {
            if (!ReadFormat(image + at, size, wave)) return std::nullopt;
            haveFormat = true;
        } else if (IsTag(header, "data") && data == nullptr) {
            data = image + at;
            dataSize = size;
        }
        at = std::min(end, at + size + (size & 1));  // chunks are padded to even lengths
    }
    if (!haveFormat || data == nullptr) return std::nullopt;
    wave.samples = data;
    wave.frames = dataSize / wave.blockAlign;
    return wave;
}

// The image's length is what its RIFF header says and nothing past it is read. The header is
// checked field by field, so that memory holding no WAVE image is left after four bytes.
std::optional<Wave> ReadWave(const BYTE* image) {
    if (!IsTag(image, "RIFF")) return std::nullopt;
    const std::uint32_t riffSize = Le32(image + 4);
    if (riffSize < 4 || riffSize > kLargestImage - 8 || !IsTag(image + 8, "WAVE")) {
        return std::nullopt;
    }
    return ReadChunks(image, std::size_t(riffSize) + 8);
}

void IgnoreAlsaMessage(const char*, int, const char*, int, const char*, ...) {}

// ALSA's library reports a missing card on standard error unless told otherwise; a machine with
// no sound must stay silent in every sense.
void SilenceAlsa() {
    static std::once_flag once;
    std::call_once(once, [] { snd_lib_error_set_handler(IgnoreAlsaMessage); });
}

class Pcm {
  public:
    Pcm() {
        SilenceAlsa();
        // Opened without blocking, so that a device held by another program fails at once
        // instead of waiting for it; writes then block as playback needs.
        snd_pcm_t* pcm = nullptr;
        if (snd_pcm_open(&pcm, "default", SND_PCM_STREAM_PLAYBACK, SND_PCM_NONBLOCK) < 0) return;
        pcm_ = pcm;
        if (snd_pcm_nonblock(pcm_, 0) < 0) Close();
    }
    ~Pcm() { Close(); }
    Pcm(const Pcm&) = delete;
    Pcm& operator=(const Pcm&) = delete;

    bool IsOpen() const { return pcm_ != nullptr; }

    bool Play(const Wave& wave) {
        const snd_pcm_format_t format = wave.bits == 8 ? SND_PCM_FORMAT_U8 : SND_PCM_FORMAT_S16_LE;
        if (snd_pcm_set_params(pcm_, format, SND_PCM_ACCESS_RW_INTERLEAVED, wave.channels,
                               wave.rate, 1, 100000) < 0) {
            return false;
        }
        return Write(wave) && snd_pcm_drain(pcm_) >= 0;
    }

  private:
    // An underrun is recovered from; a device that keeps failing ends the sound.
    bool Write(const Wave& wave) {
        const BYTE* next = wave.samples;
        snd_pcm_uframes_t left = wave.frames;
        int failures = 0;
        while (left > 0) {
            const snd_pcm_sframes_t written = snd_pcm_writei(pcm_, next, left);
            if (written > 0) {
                next += std::size_t(written) * wave.blockAlign;
                left -= snd_pcm_uframes_t(written);
                failures = 0;
            } else if (++failures > 4 ||
                       (written < 0 && snd_pcm_recover(pcm_, int(written), 1) < 0)) {
                return false;
            }
        }
        return true;
    }

    void Close() {
        if (pcm_ != nullptr) snd_pcm_close(pcm_);
        pcm_ = nullptr;
    }

    snd_pcm_t* pcm_ = nullptr;
};

class ImageWriter {
  public:
    void Tag(std::string_view tag) { bytes_.insert(bytes_.end(), tag.begin(), tag.end()); }
    void Put(std::uint32_t value, int size) {
        for (int i = 0; i < size; ++i) bytes_.push_back(BYTE(value >> (8 * i)));
    }
    std::vector<BYTE> Take() { return std::move(bytes_); }

  private:
    std::vector<BYTE> bytes_;
};

// 880 Hz at a third of full scale, with 5 ms ramps so that it starts and stops without a click.
std::int16_t BeepSample(std::uint32_t index, std::uint32_t frames, std::uint32_t rate) {
    const double ramp = rate / 200.0;
    const double envelope = std::min({1.0, index / ramp, (frames - 1 - index) / ramp});
    const double phase = 2 * std::numbers::pi * 880.0 * index / rate;
    return std::int16_t(std::lround(envelope * 10000.0 * std::sin(phase)));
}

// The default beep, 100 ms of 16-bit mono at 22,050 Hz, as a WAVE image for the ordinary path.
std::vector<BYTE> MakeBeepImage() {
    constexpr std::uint32_t rate = 22050, frames = rate / 10, dataBytes = frames * 2;
    ImageWriter image;
    image.Tag("RIFF");
    image.Put(36 + dataBytes, 4);
    image.Tag("WAVEfmt ");
    image.Put(16, 4);
    image.Put(WAVE_FORMAT_PCM, 2);
    image.Put(1, 2);  // mono
    image.Put(rate, 4);
    image.Put(rate * 2, 4);
    image.Put(2, 2);  // bytes per frame
    image.Put(16, 2);
    image.Tag("data");
    image.Put(dataBytes, 4);
    for (std::uint32_t i = 0; i < frames; ++i) {
        image.Put(std::uint16_t(BeepSample(i, frames, rate)), 2);
    }
    return image.Take();
}

std::atomic<unsigned> beeps{0};

// Where no sound device opens, the toolkit's own bell, which it only rings on its own thread.
void RingToolkitBell() {
    auto* app = qobject_cast<QApplication*>(QCoreApplication::instance());
    if (app != nullptr && QThread::currentThread() == app->thread()) QApplication::beep();
}

}  // namespace

unsigned MessageBeepCount() {
    return beeps.load();
}

}  // namespace platform

BOOL sndPlaySoundA(LPCSTR sound, UINT flags) {
    if (sound == nullptr || !(flags & SND_MEMORY)) return FALSE;
    const std::optional<platform::Wave> wave =
        platform::ReadWave(reinterpret_cast<const BYTE*>(sound));
    if (!wave) return FALSE;
    platform::Pcm pcm;
    return pcm.IsOpen() && pcm.Play(*wave) ? TRUE : FALSE;
}

BOOL MessageBeep(UINT) {
    ++platform::beeps;
    static const std::vector<BYTE> image = platform::MakeBeepImage();
    if (!sndPlaySoundA(reinterpret_cast<LPCSTR>(image.data()), SND_MEMORY | SND_SYNC)) {
        platform::RingToolkitBell();
    }
    return TRUE;
}
