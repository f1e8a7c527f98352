// SPDX-License-Identifier: GPL-2.0-or-later
// Sequence capture without a file: runs on the thread that asks for it and returns only when the
// capture has ended, calling the window's callbacks in time order meanwhile.
#pragma once

#include <cstdint>

#include "platform/vfw.h"

namespace platform {

class CaptureWindow;

// Why a capture ends, in rising order of severity: a later, more severe reason wins.
enum class SequenceEnd {
    None,
    Stop,   // the user or the program stopped it: audio recorded so far is still delivered
    Abort,  // WM_CAP_ABORT: what is pending is dropped
    Lost,   // the window, its driver or a stream callback went away: touch nothing more
};

struct SequenceControl {
    SequenceEnd end = SequenceEnd::None;
    void Request(SequenceEnd reason) {
        if (reason > end) end = reason;
    }
    bool ended() const { return end != SequenceEnd::None; }
};

// When things happen during a capture, in microseconds of the audio clock from its start.
// The video clock runs fast by skewPpm: with +1000 ppm the card delivers 1001 frames while the
// audio clock counts 1000 frame periods.
class SequenceTiming {
  public:
    SequenceTiming(DWORD periodUs, double skewPpm, DWORD samplesPerSecond, DWORD samplesPerBuffer);

    std::int64_t FrameTime(std::uint64_t frame) const;
    // The first frame at or after each whole second flashes white (frame 0 included).
    bool IsFlash(std::uint64_t frame) const;
    // The moment the last sample of audio buffer `buffer` has been recorded.
    std::int64_t BufferDone(std::uint64_t buffer) const;
    // Samples recorded from the start up to `time`.
    std::uint64_t SamplesBy(std::int64_t time) const;

  private:
    long double framePeriod_;
    DWORD rate_;
    DWORD samplesPerBuffer_;
};

// The audio buffer a capture fills before delivering it: dwAudioBufferSize, or by default the
// larger of half a second and 10,000 bytes; at most ten seconds, in whole sample blocks.
DWORD AudioBufferBytes(const CAPTUREPARMS& parms, const WAVEFORMATEX& format);

// The shortest frame period a capture honours; shorter requests are raised to it.
constexpr DWORD kShortestFramePeriodUs = 1000;

// Runs the capture for WM_CAP_SEQUENCE_NOFILE. The window may be disconnected or destroyed by a
// callback; the capture then ends without touching it again.
LRESULT RunSequence(CaptureWindow& window);

}  // namespace platform
