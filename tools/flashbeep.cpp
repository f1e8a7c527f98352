// SPDX-License-Identifier: GPL-2.0-or-later
// A picture/sound sync source for real capture devices: frames to v4l2loopback devices (YUYV,
// dark grey) and sound to an ALSA playback device (silence), with at each event a white frame
// and a 1 kHz beep that leave at the same instant. The instant a frame leaves is the moment of
// its write(): v4l2loopback stamps the buffer there with the monotonic clock. The instant a
// sample leaves is when the playback device's pointer passes it, which the device's status
// (its delay and a monotonic timestamp) tells; the beep's first sample is placed where that
// instant equals the flash's planned write.
//
//   vistrel_flashbeep --video DEV [--video DEV...] --audio PCM [--size WxH] [--fps F]
//                     [--every FRAMES] [--seconds S] [--rate HZ] [--channels N]
//
// It runs until SIGINT/SIGTERM or for S seconds. Output: "flashbeep: streaming" once the
// devices have their first frame, one line per event, and a closing line (one line here cut
// in two):
//   flashbeep: N events, beep minus flash (ms): mean M, min A, max B;
//     U underrun(s), L event(s) lost
// Exit status: 0; 1 when an event could not be placed (the beep already written, or lost in an
// underrun); 2 when a device cannot be used or the command line is wrong.
#include <alsa/asoundlib.h>
#include <fcntl.h>
#include <linux/videodev2.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <deque>
#include <optional>
#include <string>
#include <vector>

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kBeepHz = 1000;
constexpr double kBeepSeconds = 0.1;
constexpr double kBeepAmplitude = 12000;
// Sound written ahead of the playback pointer: enough to ride out an emulated machine's pauses,
// and the beep is placed this long before its flash.
constexpr double kLeadSeconds = 0.5;
constexpr unsigned kPeriodUs = 10'000;
// How many of the latest status readings the sample clock is estimated from: ten seconds or so.
// The device and the monotonic clock run from the same system clock, so a long window only
// steadies the estimate.
constexpr std::size_t kStatusWindow = 256;
constexpr std::uint8_t kDarkY = 64, kWhiteY = 235, kNeutralChroma = 128;

volatile std::sig_atomic_t stopRequested = 0;

void OnSignal(int) {
    stopRequested = 1;
}

std::int64_t NowNs() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return std::int64_t{t.tv_sec} * 1'000'000'000 + t.tv_nsec;
}

void SleepUntilNs(std::int64_t ns) {
    const timespec t{static_cast<time_t>(ns / 1'000'000'000),
                     static_cast<long>(ns % 1'000'000'000)};
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &t, nullptr) == EINTR &&
           !stopRequested) {
    }
}

struct Options {
    std::vector<std::string> videos;
    std::string audio;
    unsigned width = 384, height = 288;
    double fps = 24.9;
    int every = 91;
    double seconds = 0;
    unsigned rate = 44100;
    unsigned channels = 2;
};

std::optional<Options> Parse(int argc, char** argv) {
    Options o;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string key = argv[i];
        const char* value = argv[i + 1];
        if (key == "--video") {
            o.videos.emplace_back(value);
        } else if (key == "--audio") {
            o.audio = value;
        } else if (key == "--size") {
            if (std::sscanf(value, "%ux%u", &o.width, &o.height) != 2) return std::nullopt;
        } else if (key == "--fps") {
            o.fps = std::atof(value);
        } else if (key == "--every") {
            o.every = std::atoi(value);
        } else if (key == "--seconds") {
            o.seconds = std::atof(value);
        } else if (key == "--rate") {
            o.rate = static_cast<unsigned>(std::atoi(value));
        } else if (key == "--channels") {
            o.channels = static_cast<unsigned>(std::atoi(value));
        } else {
            return std::nullopt;
        }
    }
    if ((argc - 1) % 2 != 0 || o.videos.empty() || o.audio.empty() || o.fps <= 0 || o.every < 2 ||
        o.width % 2 != 0 || o.width == 0 || o.height == 0 || o.rate == 0 || o.channels == 0) {
        return std::nullopt;
    }
    return o;
}

// A loopback device we write whole YUYV frames to.
class VideoOut {
  public:
    bool Open(const std::string& path, const Options& o) {
        path_ = path;
        fd_ = open(path.c_str(), O_RDWR);
        if (fd_ < 0) return Fail("cannot open");
        v4l2_format f{};
        f.type = V4L2_BUF_TYPE_VIDEO_OUTPUT;
        f.fmt.pix.width = o.width;
        f.fmt.pix.height = o.height;
        f.fmt.pix.pixelformat = V4L2_PIX_FMT_YUYV;
        f.fmt.pix.field = V4L2_FIELD_NONE;
        f.fmt.pix.bytesperline = o.width * 2;
        f.fmt.pix.sizeimage = o.width * o.height * 2;
        f.fmt.pix.colorspace = V4L2_COLORSPACE_SMPTE170M;
        if (ioctl(fd_, VIDIOC_S_FMT, &f) != 0) return Fail("refuses YUYV output");
        // What readers are told the rate is; the frames come at ours whatever it says.
        v4l2_streamparm parm{};
        parm.type = V4L2_BUF_TYPE_VIDEO_OUTPUT;
        parm.parm.output.timeperframe = {1000, static_cast<std::uint32_t>(o.fps * 1000 + 0.5)};
        ioctl(fd_, VIDIOC_S_PARM, &parm);
        return true;
    }
    ~VideoOut() {
        if (fd_ >= 0) close(fd_);
    }
    bool Write(const std::vector<std::uint8_t>& frame) const {
        return write(fd_, frame.data(), frame.size()) == static_cast<ssize_t>(frame.size());
    }
    const std::string& path() const { return path_; }

  private:
    bool Fail(const char* what) const {
        std::fprintf(stderr, "vistrel_flashbeep: %s: %s (%s)\n", path_.c_str(), what,
                     std::strerror(errno));
        return false;
    }
    std::string path_;
    int fd_ = -1;
};

// The playback side: silence, and beeps whose first sample is fixed as the writing reaches
// them. `Epoch` is the monotonic time sample 0 leaves the device.
class SoundOut {
  public:
    ~SoundOut() {
        if (pcm_ != nullptr) snd_pcm_close(pcm_);
        if (status_ != nullptr) snd_pcm_status_free(status_);
    }

    bool Open(const Options& o) {
        rate_ = o.rate;
        channels_ = o.channels;
        int error = snd_pcm_open(&pcm_, o.audio.c_str(), SND_PCM_STREAM_PLAYBACK, 0);
        if (error < 0) return Fail(o.audio, "does not open", error);
        snd_pcm_hw_params_t* hw = nullptr;
        snd_pcm_hw_params_alloca(&hw);
        unsigned buffer = 2 * static_cast<unsigned>(kLeadSeconds * 1e6);
        unsigned period = kPeriodUs;
        if ((error = snd_pcm_hw_params_any(pcm_, hw)) < 0 ||
            (error = snd_pcm_hw_params_set_access(pcm_, hw, SND_PCM_ACCESS_RW_INTERLEAVED)) < 0 ||
            (error = snd_pcm_hw_params_set_format(pcm_, hw, SND_PCM_FORMAT_S16_LE)) < 0 ||
            (error = snd_pcm_hw_params_set_channels(pcm_, hw, channels_)) < 0 ||
            (error = snd_pcm_hw_params_set_rate(pcm_, hw, rate_, 0)) < 0 ||
            (error = snd_pcm_hw_params_set_buffer_time_near(pcm_, hw, &buffer, nullptr)) < 0 ||
            (error = snd_pcm_hw_params_set_period_time_near(pcm_, hw, &period, nullptr)) < 0 ||
            (error = snd_pcm_hw_params(pcm_, hw)) < 0) {
            return Fail(o.audio, "refuses 16-bit PCM at the rate asked", error);
        }
        snd_pcm_sw_params_t* sw = nullptr;
        snd_pcm_sw_params_alloca(&sw);
        snd_pcm_sw_params_current(pcm_, sw);
        snd_pcm_sw_params_set_tstamp_mode(pcm_, sw, SND_PCM_TSTAMP_ENABLE);
        snd_pcm_sw_params_set_tstamp_type(pcm_, sw, SND_PCM_TSTAMP_TYPE_MONOTONIC);
        // Started by hand once the lead is written.
        snd_pcm_uframes_t boundary = 0;
        snd_pcm_sw_params_get_boundary(sw, &boundary);
        snd_pcm_sw_params_set_start_threshold(pcm_, sw, boundary);
        if ((error = snd_pcm_sw_params(pcm_, sw)) < 0)
            return Fail(o.audio, "refuses monotonic timestamps", error);
        snd_pcm_status_malloc(&status_);
        return true;
    }

    // Starts playing silence, the lead written ahead.
    bool Start() {
        if (!WriteUpTo(written_ + Lead())) return false;
        const int error = snd_pcm_start(pcm_);
        if (error < 0) return Fail("playback", "does not start", error);
        return true;
    }

    // Keeps the lead written ahead of the pointer; recovers from an underrun (the sample clock
    // starts afresh then).
    bool TopUp() {
        const std::optional<std::int64_t> delay = Observe();
        if (!delay) return false;
        return WriteUpTo(written_ + std::max<std::int64_t>(Lead() - *delay, 0));
    }

    // A beep leaving at `ns`; false when its first sample is already written.
    bool PlaceBeep(std::int64_t ns) {
        const std::int64_t first = static_cast<std::int64_t>(
            std::llround(static_cast<double>(ns - Epoch()) * rate_ / 1e9));
        if (first < written_) return false;
        beeps_.push_back(first);
        return true;
    }

    // The estimate that placed it, for the report.
    std::int64_t LeavesAt(std::int64_t sample) const {
        return Epoch() + static_cast<std::int64_t>(static_cast<double>(sample) * 1e9 / rate_);
    }
    std::int64_t LastPlacedBeep() const { return beeps_.back(); }
    std::int64_t Lead() const { return static_cast<std::int64_t>(kLeadSeconds * rate_); }
    int underruns() const { return underruns_; }

  private:
    // The pointer lags real time by up to one timer tick and never leads it, so the earliest
    // epoch among recent readings is the closest to the truth.
    std::int64_t Epoch() const { return *std::min_element(epochs_.begin(), epochs_.end()); }

    std::optional<std::int64_t> Observe() {
        int error = snd_pcm_status(pcm_, status_);
        if (error < 0) {
            Fail("playback", "has no status", error);
            return std::nullopt;
        }
        if (snd_pcm_status_get_state(status_) == SND_PCM_STATE_XRUN) {
            ++underruns_;
            std::printf("underrun at %.3f ms: the sound restarts\n",
                        static_cast<double>(NowNs()) / 1e6);
            epochs_.clear();
            beeps_.clear();
            if ((error = snd_pcm_prepare(pcm_)) < 0 || !Start()) {
                Fail("playback", "does not recover from an underrun", error);
                return std::nullopt;
            }
            if ((error = snd_pcm_status(pcm_, status_)) < 0) return std::nullopt;
        }
        snd_htimestamp_t t{};
        snd_pcm_status_get_htstamp(status_, &t);
        const std::int64_t delay = snd_pcm_status_get_delay(status_);
        const std::int64_t at = std::int64_t{t.tv_sec} * 1'000'000'000 + t.tv_nsec;
        const std::int64_t leaving = written_ - delay;
        epochs_.push_back(at -
                          static_cast<std::int64_t>(static_cast<double>(leaving) * 1e9 / rate_));
        if (epochs_.size() > kStatusWindow) epochs_.pop_front();
        return delay;
    }

    bool WriteUpTo(std::int64_t end) {
        std::vector<std::int16_t> samples;
        while (written_ < end) {
            const auto count = static_cast<std::size_t>(end - written_);
            samples.assign(count * channels_, 0);
            for (std::size_t i = 0; i < count; ++i) {
                const std::int16_t value = Sample(written_ + static_cast<std::int64_t>(i));
                std::fill_n(samples.begin() + static_cast<std::ptrdiff_t>(i * channels_), channels_,
                            value);
            }
            const snd_pcm_sframes_t done =
                snd_pcm_writei(pcm_, samples.data(), static_cast<snd_pcm_uframes_t>(count));
            if (done == -EPIPE) return true;  // an underrun: the next status sees it
            if (done < 0) return Fail("playback", "write fails", static_cast<int>(done));
            written_ += done;
        }
        return true;
    }

    std::int16_t Sample(std::int64_t n) {
        while (!beeps_.empty() && n >= beeps_.front() + BeepLength()) beeps_.pop_front();
        if (beeps_.empty() || n < beeps_.front()) return 0;
        const double t = static_cast<double>(n - beeps_.front()) / rate_;
        return static_cast<std::int16_t>(
            std::lround(kBeepAmplitude * std::sin(2 * kPi * kBeepHz * t)));
    }
    std::int64_t BeepLength() const { return static_cast<std::int64_t>(kBeepSeconds * rate_); }

    bool Fail(const std::string& what, const char* problem, int error) const {
        std::fprintf(stderr, "vistrel_flashbeep: %s %s (%s)\n", what.c_str(), problem,
                     snd_strerror(error));
        return false;
    }

    snd_pcm_t* pcm_ = nullptr;
    snd_pcm_status_t* status_ = nullptr;
    unsigned rate_ = 0;
    unsigned channels_ = 0;
    std::int64_t written_ = 0;
    std::deque<std::int64_t> epochs_;
    std::deque<std::int64_t> beeps_;
    int underruns_ = 0;
};

std::vector<std::uint8_t> Picture(const Options& o, std::uint8_t luma) {
    std::vector<std::uint8_t> frame(std::size_t{o.width} * o.height * 2);
    for (std::size_t i = 0; i < frame.size(); i += 2) {
        frame[i] = luma;
        frame[i + 1] = kNeutralChroma;
    }
    return frame;
}

struct Event {
    std::int64_t flash = 0;  // the middle of the frame's write
    std::int64_t beep = 0;   // when its first sample leaves
};

int Run(const Options& o) {
    std::vector<VideoOut> videos(o.videos.size());
    for (std::size_t i = 0; i < videos.size(); ++i)
        if (!videos[i].Open(o.videos[i], o)) return 2;
    SoundOut sound;
    if (!sound.Open(o)) return 2;
    const std::vector<std::uint8_t> dark = Picture(o, kDarkY), white = Picture(o, kWhiteY);

    // A late wake-up would move the flash away from its beep: the source goes before the
    // recorder it feeds.
    sched_param priority{};
    priority.sched_priority = sched_get_priority_min(SCHED_FIFO);
    sched_setscheduler(0, SCHED_FIFO, &priority);
    mlockall(MCL_CURRENT | MCL_FUTURE);

    for (const VideoOut& v : videos)
        if (!v.Write(dark)) return 2;
    if (!sound.Start()) return 2;
    std::printf("flashbeep: streaming %ux%u YUYV at %.3f fps to", o.width, o.height, o.fps);
    for (const VideoOut& v : videos) std::printf(" %s", v.path().c_str());
    std::printf(", sound to %s; a flash every %d frames\n", o.audio.c_str(), o.every);
    std::fflush(stdout);

    const double periodNs = 1e9 / o.fps;
    // The first event far enough ahead for its beep to be placed.
    const std::int64_t start = NowNs() + 2 * static_cast<std::int64_t>(kLeadSeconds * 1e9);
    const auto frameAt = [&](std::int64_t n) {
        return start + static_cast<std::int64_t>(static_cast<double>(n) * periodNs);
    };
    const auto frames = o.seconds > 0 ? static_cast<std::int64_t>(o.seconds * o.fps) : INT64_MAX;
    std::int64_t nextEvent = o.every / 2;  // the next event whose beep is not placed yet
    std::vector<Event> events;
    struct Placed {
        std::int64_t sample;  // -1: too late
        int underruns;        // an underrun since makes the placing void
    };
    std::deque<Placed> placed;  // beeps of events not flashed yet
    int misplaced = 0;
    const auto lead = static_cast<std::int64_t>(kLeadSeconds * 1e9);
    for (std::int64_t n = 0; n < frames && !stopRequested; ++n) {
        // A beep is placed before the sound written ahead reaches it.
        while (frameAt(nextEvent) < NowNs() + 2 * lead) {
            const bool inTime = sound.PlaceBeep(frameAt(nextEvent));
            placed.push_back({inTime ? sound.LastPlacedBeep() : -1, sound.underruns()});
            nextEvent += o.every;
        }
        // The sound is topped up while waiting, not between the wake-up and the write.
        while (frameAt(n) - NowNs() > lead / 4) {
            if (!sound.TopUp()) return 2;
            SleepUntilNs(std::min(frameAt(n), NowNs() + lead / 4));
        }
        if (!sound.TopUp()) return 2;
        SleepUntilNs(frameAt(n));
        const bool flash = n % o.every == o.every / 2;
        const std::int64_t before = NowNs();
        for (const VideoOut& v : videos)
            if (!v.Write(flash ? white : dark)) return 2;
        const std::int64_t after = NowNs();
        if (!flash) continue;
        const Placed beep = placed.front();
        placed.pop_front();
        if (beep.sample < 0 || beep.underruns != sound.underruns()) {
            ++misplaced;
            std::printf(
                "event at frame %lld: its beep %s\n", static_cast<long long>(n),
                beep.sample < 0 ? "could not be placed in time" : "was lost in an underrun");
            continue;
        }
        const Event e{(before + after) / 2, sound.LeavesAt(beep.sample)};
        events.push_back(e);
        std::printf(
            "event %zu: frame %lld, flash at %.3f ms (write took %.3f ms), beep minus "
            "flash %+.3f ms\n",
            events.size(), static_cast<long long>(n), static_cast<double>(e.flash) / 1e6,
            static_cast<double>(after - before) / 1e6, static_cast<double>(e.beep - e.flash) / 1e6);
        std::fflush(stdout);
    }

    double sum = 0, low = 0, high = 0;
    for (std::size_t i = 0; i < events.size(); ++i) {
        const double d = static_cast<double>(events[i].beep - events[i].flash) / 1e6;
        sum += d;
        low = i == 0 ? d : std::min(low, d);
        high = i == 0 ? d : std::max(high, d);
    }
    const double mean = events.empty() ? 0 : sum / static_cast<double>(events.size());
    std::printf(
        "flashbeep: %zu events, beep minus flash (ms): mean %+.3f, min %+.3f, max %+.3f; "
        "%d underrun(s), %d event(s) lost\n",
        events.size(), mean, low, high, sound.underruns(), misplaced);
    return misplaced > 0 ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::optional<Options> options = Parse(argc, argv);
    if (!options) {
        std::fprintf(stderr,
                     "usage: vistrel_flashbeep --video DEV [--video DEV...] --audio PCM "
                     "[--size WxH] [--fps F] [--every FRAMES] [--seconds S] [--rate HZ] "
                     "[--channels N]\n");
        return 2;
    }
    std::signal(SIGINT, OnSignal);
    std::signal(SIGTERM, OnSignal);
    return Run(*options);
}
