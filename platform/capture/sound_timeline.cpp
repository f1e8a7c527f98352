// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/capture/sound_timeline.h"

#include <algorithm>
#include <cstdlib>

namespace platform {
namespace {

constexpr std::int64_t kMicrosPerSecond = 1'000'000;
// Differences below this are jitter, averaged over about kSmoothing observations.
constexpr std::int64_t kJitterUs = 30'000;
constexpr std::int64_t kSmoothing = 8;
constexpr std::int64_t kPlausibleStampUs = 1'000'000;

}  // namespace

SoundTimeline::SoundTimeline(std::uint32_t samplesPerSecond)
    : rate_(std::max<std::int64_t>(samplesPerSecond, 1)) {}

void SoundTimeline::Begin(std::int64_t monotonicUs) {
    origin_ = monotonicUs;
}

void SoundTimeline::Observe(std::int64_t monotonicUs, std::int64_t recorded) {
    const std::int64_t origin = monotonicUs - recorded * kMicrosPerSecond / rate_;
    const std::int64_t error = origin - origin_;
    if (std::llabs(error) < kJitterUs)
        origin_ += error / kSmoothing;
    else if (error > 0)
        origin_ = origin;
}

std::uint64_t SoundTimeline::SamplesBy(std::int64_t monotonicUs) const {
    if (monotonicUs <= origin_) return 0;
    return static_cast<std::uint64_t>((monotonicUs - origin_) * rate_ / kMicrosPerSecond);
}

std::int64_t PlausibleStamp(std::int64_t stampUs, std::int64_t nowUs) {
    return std::llabs(nowUs - stampUs) <= kPlausibleStampUs ? stampUs : nowUs;
}

}  // namespace platform
