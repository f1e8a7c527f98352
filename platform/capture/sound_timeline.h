// SPDX-License-Identifier: GPL-2.0-or-later
// Where a sound input's samples sit on the system's monotonic clock, the clock V4L2 stamps
// frames with: what matches a picture to the sound recorded with it, and what tells how much
// sound a stalled or restarted input lost.
#pragma once

#include <cstdint>

namespace platform {

class SoundTimeline {
  public:
    explicit SoundTimeline(std::uint32_t samplesPerSecond);

    // Sample 0 was recorded at `monotonicUs`.
    void Begin(std::int64_t monotonicUs);
    // The input had recorded `recorded` samples by `monotonicUs`, as its status says. Small
    // differences from what is known are scheduling jitter (and the input's crystal) and are
    // averaged. Less sound than time allows means sound was lost unreported: believed, so that
    // pictures stay matched to the sound they were taken with. More sound than time allows
    // cannot be (an input that runs ahead of real time, a stamp or delay gone wrong): ignored.
    void Observe(std::int64_t monotonicUs, std::int64_t recorded);

    // When the sample at `timeUs` of the sound's own clock was recorded.
    std::int64_t MonotonicAt(std::int64_t timeUs) const { return origin_ + timeUs; }
    // Samples the input would have recorded by `monotonicUs`, lost ones included.
    std::uint64_t SamplesBy(std::int64_t monotonicUs) const;

  private:
    std::int64_t rate_;
    std::int64_t origin_ = 0;  // when sample 0 was recorded
};

// A stamp from the sound input, or `nowUs` when the stamp cannot be on the monotonic clock
// (inputs that do not stamp answer zero, others stamp with the wall clock).
std::int64_t PlausibleStamp(std::int64_t stampUs, std::int64_t nowUs);

}  // namespace platform
