#include "platform/capture/alsa_capture.h"

#include <alsa/asoundlib.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>
#include <vector>

#include "platform/capture/capture_sequence.h"

namespace platform {
namespace {

// Short periods keep the sound clock fine-grained; a second of buffer rides out a busy program.
constexpr unsigned kPeriodUs = 20'000;
constexpr unsigned kBufferUs = 1'000'000;
constexpr int kWaitMs = 10;
// Sound kept beyond the capture's own buffer, and the longest gap filled with silence at once.
constexpr DWORD kRingSeconds = 10;
constexpr DWORD kLongestGapSeconds = 8;
constexpr std::int64_t kMicrosPerSecond = 1'000'000;

std::string& TestingConfig() {
    static std::string configuration;
    return configuration;
}

BYTE SilenceByte(const WAVEFORMATEX& format) {
    return format.wBitsPerSample == 8 ? 0x80 : 0x00;
}

struct Pcm {
    snd_pcm_t* pcm = nullptr;
    snd_config_t* config = nullptr;  // kept for the PCM's life when opened from a text
    ~Pcm() {
        if (pcm != nullptr) snd_pcm_close(pcm);
        if (config != nullptr) snd_config_delete(config);
    }
};

int OpenPcm(Pcm& p, const std::string& device) {
    const std::string& text = TestingConfig();
    if (text.empty())
        return snd_pcm_open(&p.pcm, device.c_str(), SND_PCM_STREAM_CAPTURE, SND_PCM_NONBLOCK);
    snd_input_t* input = nullptr;
    int error = snd_config_top(&p.config);
    if (error >= 0) error = snd_input_buffer_open(&input, text.data(), ssize_t(text.size()));
    if (error >= 0) error = snd_config_load(p.config, input);
    if (input != nullptr) snd_input_close(input);
    if (error < 0) return error;
    return snd_pcm_open_lconf(&p.pcm, device.c_str(), SND_PCM_STREAM_CAPTURE, SND_PCM_NONBLOCK,
                              p.config);
}

// Exactly the capture's rate, channels and sample size, or nothing: a near rate would make
// the sound clock lie.
std::string Configure(snd_pcm_t* pcm, const WAVEFORMATEX& f, snd_pcm_uframes_t& period) {
    snd_pcm_hw_params_t* hw = nullptr;
    if (snd_pcm_hw_params_malloc(&hw) < 0) return "out of memory";
    const snd_pcm_format_t sample =
        f.wBitsPerSample == 8 ? SND_PCM_FORMAT_U8 : SND_PCM_FORMAT_S16_LE;
    unsigned periodUs = kPeriodUs;
    unsigned bufferUs = kBufferUs;
    int dir = 0;
    std::string problem;
    if (snd_pcm_hw_params_any(pcm, hw) < 0 ||
        snd_pcm_hw_params_set_access(pcm, hw, SND_PCM_ACCESS_RW_INTERLEAVED) < 0 ||
        snd_pcm_hw_params_set_format(pcm, hw, sample) < 0 ||
        snd_pcm_hw_params_set_channels(pcm, hw, f.nChannels) < 0 ||
        snd_pcm_hw_params_set_rate(pcm, hw, f.nSamplesPerSec, 0) < 0) {
        problem = "does not record " + std::to_string(f.nSamplesPerSec) + " Hz, " +
                  std::to_string(f.wBitsPerSample) + " bits, " + std::to_string(f.nChannels) +
                  " channel(s)";
    } else {
        snd_pcm_hw_params_set_buffer_time_near(pcm, hw, &bufferUs, &dir);
        snd_pcm_hw_params_set_period_time_near(pcm, hw, &periodUs, &dir);
        if (const int error = snd_pcm_hw_params(pcm, hw); error < 0) problem = snd_strerror(error);
        snd_pcm_hw_params_get_period_size(hw, &period, &dir);
    }
    snd_pcm_hw_params_free(hw);
    return problem;
}

// Sound read from ALSA into a ring, sample by sample from the start; the samples read are the
// clock. Overruns and a lost device are filled with silence so the track keeps its length.
class AlsaInput : public AudioSource, public CaptureClock {
  public:
    AlsaInput(std::unique_ptr<Pcm> pcm, const std::string& device, const WAVEFORMATEX& format,
              snd_pcm_uframes_t period, DWORD samplesPerBuffer)
        : pcm_(std::move(pcm)),
          device_(device),
          rate_(format.nSamplesPerSec),
          block_(format.nBlockAlign),
          silence_(SilenceByte(format)),
          period_(std::max<snd_pcm_uframes_t>(period, 1)),
          ringFrames_(2 * samplesPerBuffer + kRingSeconds * format.nSamplesPerSec),
          ring_(std::size_t{ringFrames_} * block_, silence_) {}
    ~AlsaInput() override {
        if (overruns_ > 0)
            std::fprintf(stderr,
                         "%s: sound input \"%s\": %llu overrun(s), %llu ms of silence put "
                         "in their place\n",
                         program_invocation_short_name, device_.c_str(),
                         static_cast<unsigned long long>(overruns_),
                         static_cast<unsigned long long>(silenced_ * 1000 / rate_));
    }

    void Start() override {
        snd_pcm_start(pcm_->pcm);
        sinceRead_.start();
        startMonotonic_ = MonotonicNowUs();
    }
    std::int64_t MonotonicAt(std::int64_t time) const override { return startMonotonic_ + time; }
    bool isVirtual() const override { return false; }
    std::int64_t Now() const override {
        return static_cast<std::int64_t>(samples_ * kMicrosPerSecond / rate_);
    }
    void WaitUntil(std::int64_t time, const SequenceControl& control) override {
        QCoreApplication::processEvents();
        while (!control.ended() && Now() < time) {
            if (!ReadSome(time)) Idle(time);
            QCoreApplication::processEvents();
        }
    }
    void Fill(std::uint64_t first, std::uint32_t count, BYTE* out) override {
        for (std::uint32_t done = 0; done < count;) {
            const std::uint64_t at = (first + done) % ringFrames_;
            const auto part =
                static_cast<std::uint32_t>(std::min<std::uint64_t>(count - done, ringFrames_ - at));
            std::memcpy(out + std::size_t{done} * block_, ring_.data() + at * block_,
                        std::size_t{part} * block_);
            done += part;
        }
    }

  private:
    std::uint64_t SamplesAt(std::int64_t time) const {
        return static_cast<std::uint64_t>(time) * rate_ / kMicrosPerSecond + 1;
    }
    bool ReadSome(std::int64_t time);
    void Idle(std::int64_t time);
    void Recover(int error);
    void Silence(std::uint64_t frames);

    std::unique_ptr<Pcm> pcm_;
    std::string device_;
    DWORD rate_;
    DWORD block_;
    BYTE silence_;
    snd_pcm_uframes_t period_;
    std::uint64_t ringFrames_;
    std::vector<BYTE> ring_;
    std::uint64_t samples_ = 0;
    QElapsedTimer sinceRead_;
    std::int64_t startMonotonic_ = 0;
    bool gone_ = false;
    std::uint64_t overruns_ = 0;
    std::uint64_t silenced_ = 0;
};

// Reads at most a period, and no further than `time` needs; false when nothing was there.
bool AlsaInput::ReadSome(std::int64_t time) {
    if (gone_) return false;
    const std::uint64_t at = samples_ % ringFrames_;
    const std::uint64_t wanted = std::max<std::uint64_t>(SamplesAt(time) - samples_, 1);
    const auto frames = static_cast<snd_pcm_uframes_t>(
        std::min<std::uint64_t>({period_, ringFrames_ - at, wanted}));
    const snd_pcm_sframes_t got = snd_pcm_readi(pcm_->pcm, ring_.data() + at * block_, frames);
    if (got > 0) {
        samples_ += static_cast<std::uint64_t>(got);
        sinceRead_.start();
        return true;
    }
    if (got == 0 || got == -EAGAIN) return false;
    if (got == -EPIPE || got == -ESTRPIPE) {
        Recover(static_cast<int>(got));
        return true;
    }
    std::fprintf(stderr, "%s: sound input \"%s\" lost (%s); recording silence\n",
                 program_invocation_short_name, device_.c_str(),
                 snd_strerror(static_cast<int>(got)));
    gone_ = true;
    return false;
}

// The time the overrun lost, as the system clock measured it since the last read.
void AlsaInput::Recover(int error) {
    const std::uint64_t lost = std::min<std::uint64_t>(
        static_cast<std::uint64_t>(sinceRead_.nsecsElapsed()) / 1000 * rate_ / kMicrosPerSecond,
        std::uint64_t{kLongestGapSeconds} * rate_);
    ++overruns_;
    if (snd_pcm_recover(pcm_->pcm, error, 1) < 0 || snd_pcm_start(pcm_->pcm) < 0) {
        if (snd_pcm_state(pcm_->pcm) != SND_PCM_STATE_RUNNING) gone_ = true;
    }
    Silence(std::max<std::uint64_t>(lost, 1));
    sinceRead_.start();
}

// Waits for ALSA; once the device is gone, the system clock goes on with silence.
void AlsaInput::Idle(std::int64_t time) {
    if (!gone_) {
        snd_pcm_wait(pcm_->pcm, kWaitMs);
        return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(kWaitMs));
    const std::uint64_t due =
        static_cast<std::uint64_t>(sinceRead_.nsecsElapsed()) / 1000 * rate_ / kMicrosPerSecond;
    Silence(std::min(std::max<std::uint64_t>(due, 1), SamplesAt(time) - samples_));
    sinceRead_.start();
}

void AlsaInput::Silence(std::uint64_t frames) {
    silenced_ += frames;
    for (; frames > 0; --frames, ++samples_)
        std::memset(ring_.data() + (samples_ % ringFrames_) * block_, silence_, block_);
}

class SilentInput : public AudioSource {
  public:
    explicit SilentInput(const WAVEFORMATEX& format)
        : block_(format.nBlockAlign), silence_(SilenceByte(format)) {}
    void Fill(std::uint64_t, std::uint32_t count, BYTE* out) override {
        std::memset(out, silence_, std::size_t{count} * block_);
    }

  private:
    DWORD block_;
    BYTE silence_;
};

std::shared_ptr<AlsaInput> OpenAlsa(const std::string& device, const WAVEFORMATEX& format,
                                    DWORD samplesPerBuffer, std::string& problem) {
    auto pcm = std::make_unique<Pcm>();
    if (const int error = OpenPcm(*pcm, device); error < 0) {
        problem = std::string("does not open (") + snd_strerror(error) + ")";
        return nullptr;
    }
    snd_pcm_uframes_t period = 0;
    problem = Configure(pcm->pcm, format, period);
    if (!problem.empty()) return nullptr;
    return std::make_shared<AlsaInput>(std::move(pcm), device, format, period, samplesPerBuffer);
}

}  // namespace

CaptureTiming OpenSoundInput(const std::string& device, const WAVEFORMATEX& format,
                             DWORD samplesPerBuffer, bool virtualClock) {
    std::string problem;
    if (device == "none") {
        std::fprintf(stderr, "%s: no sound input (audio = none); the capture records silence\n",
                     program_invocation_short_name);
    } else if (auto input = OpenAlsa(device, format, samplesPerBuffer, problem)) {
        return {input, input};
    } else {
        std::fprintf(stderr, "%s: sound input \"%s\" %s; the capture records silence\n",
                     program_invocation_short_name, device.c_str(), problem.c_str());
    }
    return {std::make_shared<SilentInput>(format), SystemClock(virtualClock)};
}

void SetAlsaConfigForTesting(const std::string& configuration) {
    TestingConfig() = configuration;
}

}  // namespace platform
