// SPDX-License-Identifier: GPL-2.0-or-later
// The sound side of a recording: every audio buffer is written and measured against the video
// of the same file, and a full file is handed over to the next one.
#include <algorithm>
#include <cstdlib>

#include "platform/avifile.h"
#include "recording/recorder.h"

namespace {

static_assert(std::uint64_t{kFullFileKiB} * 1024 < platform::kAviMaxFileBytes,
              "a file rolls over before it reaches the AVI 1.0 limit");
constexpr std::size_t kClearedPathBytes = 255;

}  // namespace

void Recorder::MeasureDrift(std::uint32_t bytesRecorded) {
    state_.VideoTimeMs = VideoTimeOf(state_.FileVideoFrames);
    state_.AudioTimeMs = AudioTimeOf(state_.FileAudioBlocks, bytesRecorded);
    state_.Drift = static_cast<std::int32_t>(std::int64_t{state_.VideoTimeMs} - state_.AudioTimeMs);
}

// The full file stays open: the next frame pays back its drift and replaces it by the file
// named here. Its log block is written now, while CurrentFilePath still names it.
void Recorder::RollOverFullFile() {
    state_.TotalDefect =
        static_cast<std::int32_t>(state_.TotalDefect + std::llabs(std::int64_t{state_.Drift}));
    AppendLogBlock();
    std::fill_n(state_.CurrentFilePath.begin(), kClearedPathBytes, '\0');
    ++state_.FileIndex;
    BuildFilePath();
    state_.FileOpen = false;
    state_.FullFileWaiting = true;
}

// Until the first frame of a capture opens its file there is nothing to write the sound to,
// and the per-file counters are still the previous capture's: such a buffer is let go
// untouched, so that it can neither start a roll-over nor leave a drift the first frame would
// act on. Once a file is full, the buffers that come before the next frame still go into it
// and are measured, but that file is not rolled over a second time.
void Recorder::RecordAudioBuffer(const WAVEHDR& buffer) {
    // Counted whether kept or not: the sound's clock, against which each file's first frame is
    // placed.
    state_.CaptureSoundBytes += buffer.dwBytesRecorded;
    if (state_.WriteFailed.Met || (!state_.FileOpen && !state_.FullFileWaiting)) return;
    WriteAudioBuffer(buffer);
    MeasureDrift(buffer.dwBytesRecorded);
    if (state_.FileBytes / 1024 < kFullFileKiB || state_.FullFileWaiting) return;
    RollOverFullFile();
}

// Each step is rounded to long double before the next and the result truncated, so a count that
// is no whole second can come out a millisecond short (803 frames: 32119 ms). Picture and sound
// are both measured so, and the drift compares the two: their steps stay in this order.
std::int32_t VideoTimeOf(std::int32_t frames) {
    long double ms = static_cast<long double>(frames);
    ms /= 25.0L;
    ms *= 1000.0L;
    return static_cast<std::int32_t>(static_cast<std::int64_t>(ms));
}

std::int32_t AudioTimeOf(std::int32_t blocks, std::uint32_t bytesRecorded) {
    const std::int64_t bytes = std::int64_t{blocks} * std::int64_t{bytesRecorded};
    long double ms = static_cast<long double>(bytes);
    ms /= 4.0L;
    ms /= 441.0L;
    ms *= 10.0L;
    return static_cast<std::int32_t>(static_cast<std::int64_t>(ms));
}
