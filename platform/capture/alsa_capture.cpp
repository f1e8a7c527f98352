// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/capture/alsa_capture.h"

#include <alsa/asoundlib.h>

#include <QCoreApplication>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>
#include <vector>

#include "platform/capture/capture_sequence.h"
#include "platform/capture/sound_timeline.h"

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
// An input that fails this long without bringing a sample is gone.
constexpr std::int64_t kGiveUpUs = 2'000'000;
constexpr std::int64_t kRecoveriesApartUs = 500'000;
// Sound held by the input beyond three quarters of its buffer is read at once, waiting or not.
constexpr unsigned kKeepUpQuarters = 3;

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

// The input's status stamped on the clock V4L2 stamps frames with; an input that cannot is
// placed by the time its status is read.
void StampMonotonic(snd_pcm_t* pcm) {
    snd_pcm_sw_params_t* sw = nullptr;
    snd_pcm_sw_params_alloca(&sw);
    if (snd_pcm_sw_params_current(pcm, sw) < 0) return;
    snd_pcm_sw_params_set_tstamp_mode(pcm, sw, SND_PCM_TSTAMP_ENABLE);
    snd_pcm_sw_params_set_tstamp_type(pcm, sw, SND_PCM_TSTAMP_TYPE_MONOTONIC);
    snd_pcm_sw_params(pcm, sw);
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
    if (problem.empty()) StampMonotonic(pcm);
    return problem;
}

std::int64_t Microseconds(const snd_htimestamp_t& stamp) {
    return std::int64_t{stamp.tv_sec} * kMicrosPerSecond + stamp.tv_nsec / 1000;
}

class AlsaPcm : public SoundPcm {
  public:
    explicit AlsaPcm(std::unique_ptr<Pcm> pcm) : pcm_(std::move(pcm)) {}
    void Start() override { snd_pcm_start(pcm_->pcm); }
    long Read(BYTE* into, unsigned long frames) override {
        return snd_pcm_readi(pcm_->pcm, into, frames);
    }
    bool Restart(int error) override {
        if (snd_pcm_recover(pcm_->pcm, error, 1) >= 0 && snd_pcm_start(pcm_->pcm) >= 0) return true;
        return snd_pcm_state(pcm_->pcm) == SND_PCM_STATE_RUNNING;
    }
    int Wait(int ms) override { return snd_pcm_wait(pcm_->pcm, ms); }
    Status GetStatus() override {
        snd_pcm_status_t* status = nullptr;
        snd_pcm_status_alloca(&status);
        if (snd_pcm_status(pcm_->pcm, status) != 0) return {};
        snd_htimestamp_t stamp{};
        snd_htimestamp_t trigger{};
        snd_pcm_status_get_htstamp(status, &stamp);
        snd_pcm_status_get_trigger_htstamp(status, &trigger);
        return {Microseconds(stamp), Microseconds(trigger),
                std::max<snd_pcm_sframes_t>(snd_pcm_status_get_delay(status), 0)};
    }

  private:
    std::unique_ptr<Pcm> pcm_;
};

// Sound read from ALSA into a ring, sample by sample from the start; the samples read are the
// clock. Whatever the input loses (an overrun's discarded backlog, a dead input) is filled with
// silence up to the moment recording goes on, measured on the monotonic clock, so the track
// keeps the capture's wall-clock length.
class AlsaInput : public AudioSource, public CaptureClock {
  public:
    AlsaInput(std::unique_ptr<SoundPcm> pcm, const std::string& device, const WAVEFORMATEX& format,
              unsigned long period, DWORD samplesPerBuffer)
        : pcm_(std::move(pcm)),
          device_(device),
          rate_(format.nSamplesPerSec),
          block_(format.nBlockAlign),
          silence_(SilenceByte(format)),
          period_(std::max(period, 1UL)),
          ringFrames_(2 * samplesPerBuffer + kRingSeconds * format.nSamplesPerSec),
          ring_(std::size_t{ringFrames_} * block_, silence_),
          timeline_(format.nSamplesPerSec) {}
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
        pcm_->Start();
        timeline_.Begin(TriggerTime());
        lastSound_ = MonotonicNowUs();
    }
    bool isVirtual() const override { return false; }
    std::int64_t Now() const override {
        return static_cast<std::int64_t>(samples_ * kMicrosPerSecond / rate_);
    }
    std::int64_t MonotonicAt(std::int64_t time) const override {
        return timeline_.MonotonicAt(time);
    }
    void WaitUntil(std::int64_t time, const SequenceControl& control) override {
        QCoreApplication::processEvents();
        KeepUp();
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
    SoundLoss loss() const override { return {device_, false, gone_, silenced_}; }

  private:
    std::uint64_t SamplesAt(std::int64_t time) const {
        return static_cast<std::uint64_t>(time) * rate_ / kMicrosPerSecond + 1;
    }
    bool ReadSome(std::int64_t time);
    bool ReadFrames(std::uint64_t wanted);
    void KeepUp();
    void FollowStatus();
    std::int64_t TriggerTime() const;
    void Idle(std::int64_t time);
    void Recover(int error);
    bool StillFailing() const;
    void GiveUp(const char* reason);
    void FillUntil(std::int64_t monotonic, std::uint64_t most);
    void Silence(std::uint64_t frames);

    std::unique_ptr<SoundPcm> pcm_;
    std::string device_;
    DWORD rate_;
    DWORD block_;
    BYTE silence_;
    unsigned long period_;
    std::uint64_t ringFrames_;
    std::vector<BYTE> ring_;
    std::uint64_t samples_ = 0;
    SoundTimeline timeline_;
    std::int64_t failingSince_ = 0;  // monotonic µs of the first recovery since sound came
    std::int64_t lastRecovery_ = 0;
    std::int64_t lastSound_ = 0;  // the last read that brought sound, or the last (re)start
    bool readSinceRecovery_ = true;
    bool gone_ = false;
    std::uint64_t overruns_ = 0;
    std::uint64_t silenced_ = 0;
};

std::int64_t Monotonic(std::int64_t stampUs) {
    return PlausibleStamp(stampUs, MonotonicNowUs());
}

std::int64_t AlsaInput::TriggerTime() const {
    return Monotonic(pcm_->GetStatus().triggerUs);
}

// At its last pointer update the input had recorded what was read plus its delay.
void AlsaInput::FollowStatus() {
    const SoundPcm::Status status = pcm_->GetStatus();
    timeline_.Observe(Monotonic(status.stampUs),
                      static_cast<std::int64_t>(samples_) + status.delay);
}

// Reads at most a period, and no further than `time` needs; false when nothing was there.
bool AlsaInput::ReadSome(std::int64_t time) {
    return ReadFrames(std::max<std::uint64_t>(SamplesAt(time) - samples_, 1));
}

// A capture catching up on the events a stop left due has nothing to wait for, so it would read
// nothing while its input fills, overruns and throws the sound held away: what the input holds
// once it nears full is read now. Short of that the clock moves only as the capture waits, so a
// busy capture that lags its input by less is paced as it always was.
void AlsaInput::KeepUp() {
    if (gone_) return;
    const long held = pcm_->GetStatus().delay;
    const auto nearlyFull = static_cast<long>(std::int64_t{rate_} * kBufferUs / kMicrosPerSecond *
                                              kKeepUpQuarters / 4);
    if (held < nearlyFull) return;
    const std::uint64_t until = samples_ + static_cast<std::uint64_t>(held);
    while (samples_ < until && ReadFrames(until - samples_)) {
    }
}

bool AlsaInput::ReadFrames(std::uint64_t wanted) {
    if (gone_) return false;
    const std::uint64_t at = samples_ % ringFrames_;
    const auto frames =
        static_cast<unsigned long>(std::min<std::uint64_t>({period_, ringFrames_ - at, wanted}));
    const long got = pcm_->Read(ring_.data() + at * block_, frames);
    if (got > 0) {
        samples_ += static_cast<std::uint64_t>(got);
        readSinceRecovery_ = true;
        lastSound_ = MonotonicNowUs();
        FollowStatus();
        return true;
    }
    if (got == 0 || got == -EAGAIN) return false;
    if (got == -EPIPE || got == -ESTRPIPE) {
        Recover(static_cast<int>(got));
        return true;
    }
    GiveUp(snd_strerror(static_cast<int>(got)));
    return false;
}

// Recovery discards what the input held: the silence put in its place reaches the moment the
// input records again. An input that keeps failing without bringing sound is given up.
void AlsaInput::Recover(int error) {
    ++overruns_;
    if (StillFailing()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(kWaitMs));  // a dead server spins
        if (MonotonicNowUs() - failingSince_ > kGiveUpUs) {
            GiveUp("no sound for two seconds");
            return;
        }
    } else {
        failingSince_ = MonotonicNowUs();
    }
    readSinceRecovery_ = false;
    lastRecovery_ = lastSound_ = MonotonicNowUs();
    if (!pcm_->Restart(error)) {
        GiveUp("cannot be restarted");
        return;
    }
    FillUntil(TriggerTime(), std::uint64_t{kLongestGapSeconds} * rate_);
}

// Recoveries one after the other with no sound between them. One that comes long after the
// last (the process itself was stopped meanwhile) starts afresh: that input overran, not died.
bool AlsaInput::StillFailing() const {
    return !readSinceRecovery_ && MonotonicNowUs() - lastRecovery_ < kRecoveriesApartUs;
}

void AlsaInput::GiveUp(const char* reason) {
    std::fprintf(stderr, "%s: sound input \"%s\" lost (%s); recording silence\n",
                 program_invocation_short_name, device_.c_str(), reason);
    gone_ = true;
}

// Waits for ALSA; once the input is gone, silence follows the monotonic clock from where the
// sound stopped, however long each wait really took.
void AlsaInput::Idle(std::int64_t time) {
    if (!gone_) {
        // An input that stays quiet (a server gone without an error) is given up as well.
        if (pcm_->Wait(kWaitMs) == 0 && MonotonicNowUs() - lastSound_ > kGiveUpUs)
            GiveUp("no sound for two seconds");
        return;
    }
    const std::int64_t due = timeline_.MonotonicAt(time) - MonotonicNowUs();
    if (due > 0)
        std::this_thread::sleep_for(
            std::chrono::microseconds(std::min<std::int64_t>(due, kWaitMs * 1000)));
    FillUntil(MonotonicNowUs(), SamplesAt(time) - samples_);
}

void AlsaInput::FillUntil(std::int64_t monotonic, std::uint64_t most) {
    const std::uint64_t by = timeline_.SamplesBy(monotonic);
    if (by > samples_) Silence(std::min(by - samples_, most));
}

void AlsaInput::Silence(std::uint64_t frames) {
    silenced_ += frames;
    for (; frames > 0; --frames, ++samples_)
        std::memset(ring_.data() + (samples_ % ringFrames_) * block_, silence_, block_);
}

// Silence in place of an input that is not there; an input that was asked for and did not open
// is reported with all the silence delivered.
class SilentInput : public AudioSource {
  public:
    SilentInput(const WAVEFORMATEX& format, std::string missing)
        : block_(format.nBlockAlign), silence_(SilenceByte(format)), missing_(std::move(missing)) {}
    void Fill(std::uint64_t first, std::uint32_t count, BYTE* out) override {
        std::memset(out, silence_, std::size_t{count} * block_);
        delivered_ = std::max(delivered_, first + count);
    }
    SoundLoss loss() const override {
        if (missing_.empty()) return {};
        return {missing_, true, false, delivered_};
    }

  private:
    DWORD block_;
    BYTE silence_;
    std::string missing_;
    std::uint64_t delivered_ = 0;
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
    return std::make_shared<AlsaInput>(std::make_unique<AlsaPcm>(std::move(pcm)), device, format,
                                       period, samplesPerBuffer);
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
    const std::string missing = device == "none" ? std::string() : device;
    return {std::make_shared<SilentInput>(format, missing), SystemClock(virtualClock)};
}

CaptureTiming SoundInputOver(std::unique_ptr<SoundPcm> pcm, const std::string& name,
                             const WAVEFORMATEX& format, unsigned long period,
                             DWORD samplesPerBuffer) {
    auto input =
        std::make_shared<AlsaInput>(std::move(pcm), name, format, period, samplesPerBuffer);
    return {input, input};
}

void SetAlsaConfigForTesting(const std::string& configuration) {
    TestingConfig() = configuration;
}

}  // namespace platform
