// SPDX-License-Identifier: GPL-2.0-or-later
// Where the sound sits on the monotonic clock decides which picture goes with it and how much
// silence stands in for sound an input lost; an input that keeps failing is given up.
#include "platform/capture/sound_timeline.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <thread>
#include <vector>

#include "platform/capture/alsa_capture.h"
#include "platform/capture/capture_sequence.h"

namespace {

constexpr std::uint32_t kRate = 48000;
constexpr std::int64_t kStart = 5'000'000;  // monotonic µs of sample 0

struct Observation {
    std::int64_t atUs;
    std::int64_t recorded;
};

struct TimelineCase {
    const char* what;
    std::vector<Observation> observed;
    std::int64_t originUs;  // MonotonicAt(0) afterwards
};

TEST(SoundTimeline, JitterIsAveragedAndAJumpIsBelieved) {
    const std::vector<TimelineCase> cases = {
        {"status on time", {{kStart + 1'000'000, 48000}}, kStart},
        // A status read 8 ms late moves the origin by an eighth of it.
        {"one late status", {{kStart + 1'008'000, 48000}}, kStart + 1000},
        {"late, then early",
         {{kStart + 1'008'000, 48000}, {kStart + 999'000, 48000}},
         kStart + 750},
        // 200 ms less sound than time allows: lost without a word, and pictures must follow the
        // sound where it really is.
        {"sound lost", {{kStart + 1'000'000, 38400}}, kStart + 200'000},
        // More sound than time allows: a stamp gone wrong, or an input not paced by real time.
        {"sound ahead", {{kStart + 1'000'000, 57600}}, kStart},
    };
    for (const TimelineCase& c : cases) {
        platform::SoundTimeline timeline(kRate);
        timeline.Begin(kStart);
        for (const Observation& o : c.observed) timeline.Observe(o.atUs, o.recorded);
        EXPECT_EQ(timeline.MonotonicAt(0), c.originUs) << c.what;
        EXPECT_EQ(timeline.MonotonicAt(40'000), c.originUs + 40'000) << c.what;
    }
}

// An overrun restarts the input: what it recorded before plus the silence filled in must reach
// the restart, however much backlog the recovery threw away.
TEST(SoundTimeline, SilenceAfterARestartCoversTheDiscardedBacklog) {
    platform::SoundTimeline timeline(kRate);
    timeline.Begin(kStart);
    timeline.Observe(kStart + 2'000'000, 96000);
    const std::uint64_t read = 96000;  // two seconds read, then a second held and discarded
    const std::int64_t restart = kStart + 3'050'000;
    EXPECT_EQ(timeline.SamplesBy(restart) - read, 50400u);
    EXPECT_EQ(timeline.SamplesBy(kStart - 1), 0u);
}

TEST(SoundTimeline, StampsOffTheMonotonicClockAreReplacedByNow) {
    const std::int64_t now = 7'000'000'000;
    EXPECT_EQ(platform::PlausibleStamp(now - 20'000, now), now - 20'000);
    EXPECT_EQ(platform::PlausibleStamp(0, now), now);                      // not stamped
    EXPECT_EQ(platform::PlausibleStamp(1'765'000'000'000'000, now), now);  // wall clock
}

}  // namespace

namespace {

// An input whose every read answers the same: a sound server that died (every read overruns
// and every recovery "succeeds") or one gone quiet (nothing ever comes).
class ScriptedPcm : public platform::SoundPcm {
  public:
    explicit ScriptedPcm(long answer) : answer_(answer) {}
    int restarts = 0;
    void Start() override {}
    long Read(BYTE*, unsigned long) override { return answer_; }
    bool Restart(int) override { return ++restarts > 0; }
    int Wait(int ms) override {
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
        return 0;
    }
    Status GetStatus() override { return {}; }

  private:
    long answer_;
};

// Given up within a bounded time, the input's silence then keeps real time: three seconds of
// sound take three seconds, not the half again a per-wait count of silence took.
TEST(SoundInput, AnInputThatKeepsFailingIsGivenUpAndItsSilenceKeepsRealTime) {
    const WAVEFORMATEX format{WAVE_FORMAT_PCM, 2, 44100, 176400, 4, 16, 0};
    for (const long answer : {long{-EPIPE}, long{-EAGAIN}}) {
        auto owned = std::make_unique<ScriptedPcm>(answer);
        ScriptedPcm& pcm = *owned;
        const platform::CaptureTiming input =
            platform::SoundInputOver(std::move(owned), "scripted", format, 882, 22050);
        platform::SequenceControl control;
        const auto start = std::chrono::steady_clock::now();
        input.clock->Start();
        input.clock->WaitUntil(3'000'000, control);
        const auto took = std::chrono::steady_clock::now() - start;
        const platform::SoundLoss loss = input.audio->loss();
        EXPECT_TRUE(loss.lost) << answer;
        EXPECT_GE(loss.silencedSamples, 3u * 44100) << answer;
        EXPECT_GE(took, std::chrono::milliseconds(2900)) << answer;
        EXPECT_LT(took, std::chrono::milliseconds(4200)) << answer;
        EXPECT_LT(pcm.restarts, 400) << answer;  // a core is not kept busy meanwhile
    }
}

// An input holding the sound of a stop: the capture catching up on what fell due meanwhile
// calls WaitUntil with times already past, and the input must be read all the same before it
// overruns and throws that sound away.
class HoldingPcm : public platform::SoundPcm {
  public:
    explicit HoldingPcm(long held) : held_(held) {}
    void Start() override {}
    long Read(BYTE*, unsigned long frames) override {
        const long got = std::min(held_, static_cast<long>(frames));
        held_ -= got;
        return got > 0 ? got : -EAGAIN;
    }
    bool Restart(int) override { return true; }
    int Wait(int) override { return 0; }
    Status GetStatus() override { return {0, 0, held_}; }

  private:
    long held_;
};

TEST(SoundInput, AnInputNearlyFullIsReadEvenWhenNothingIsWaitedFor) {
    const WAVEFORMATEX format{WAVE_FORMAT_PCM, 2, 44100, 176400, 4, 16, 0};
    for (const long held : {long{33074}, long{33075}, long{44100}}) {
        const platform::CaptureTiming input = platform::SoundInputOver(
            std::make_unique<HoldingPcm>(held), "holding", format, 882, 22050);
        platform::SequenceControl control;
        input.clock->Start();
        input.clock->WaitUntil(0, control);
        const std::int64_t read = input.clock->Now() * 44100 / 1'000'000;
        EXPECT_EQ(read, held < 33075 ? 0 : held) << held;
    }
}

}  // namespace
