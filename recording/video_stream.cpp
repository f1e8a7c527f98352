// SPDX-License-Identifier: GPL-2.0-or-later
// The per-frame work of a recording: the next file opened when none is, the drift acted on, the
// frame written.
#include "platform/avifile.h"
#include "recording/recorder.h"

namespace {

// A drift of a whole 25 fps frame or more is corrected, and a file's accumulated drift is paid
// back one such frame at a time.
constexpr std::int32_t kFrameMs = 40;
// After the first 750 frames of a capture the drift is looked at less often.
constexpr std::int32_t kSyncSwitchFrame = 750;
constexpr std::uint16_t kLaterSyncPeriod = 375;

// Bytes a file keeps free under the AVI 1.0 limit for its headers and for one sound buffer (at
// most ten seconds) besides the frames: each chunk also costs its own header and an index entry.
constexpr std::uint64_t kHeaderAndSoundRoom = 4 * 1024 * 1024;
constexpr std::uint64_t kChunkCost = 8 + 16;

}  // namespace

// The capture's accumulated drift is paid back a frame at a time, one per finished file: once it
// reaches a whole frame, the present frame is shown once more at the end of the full file.
void Recorder::FinishFullFile(const VIDEOHDR& frame) {
    if (state_.TotalDefect >= kFrameMs) {
        state_.TotalDefect -= kFrameMs;
        state_.DropPending = false;
        state_.InsertPending = false;
        WriteVideoFrame(frame);
    }
    CloseAviOutput();
}

// The open step's outcome is not looked at: a file that failed to open still counts as open,
// so the capture goes on and no further open is tried until the next roll-over.
void Recorder::OpenNextFile(const VIDEOHDR& frame) {
    if (state_.CaptureFrames > 1) FinishFullFile(frame);
    if (state_.WriteFailed.Met) return;  // the capture is ending: no new file
    OpenAviOutput(state_.CurrentFilePath.data());
    state_.ResetForFile();
}

// The count is the one before this frame's write, so a dropped frame leaves it on the multiple
// and the next frames are checked again until the audio moves the drift.
void Recorder::CheckDrift() {
    if (state_.SyncPeriod == 0 || state_.FileVideoFrames % state_.SyncPeriod != 0) return;
    if (state_.FileVideoFrames == kSyncSwitchFrame) state_.SyncPeriod = kLaterSyncPeriod;
    if (state_.Drift >= kFrameMs) {
        state_.DropPending = true;
        ++state_.DropCount;
    }
    if (state_.Drift <= -kFrameMs) {
        state_.InsertPending = true;
        ++state_.InsertCount;
    }
}

// Frames the card could not deliver while the program was held (a modal box, a stopped process,
// a slow disk) are missing from the picture, not from the sound: the frame after them stands in
// for each, so that the picture keeps the sound's time instead of running ahead of it.
std::uint32_t Recorder::FramesMissedBefore(const VIDEOHDR& frame) const {
    if (!state_.LastFrameTimeMs || input_.framePeriodUs == 0) return 0;
    const auto gapMs = static_cast<std::int32_t>(frame.dwTimeCaptured - *state_.LastFrameTimeMs);
    const std::int64_t periods =
        (std::int64_t{gapMs} * 1000 + input_.framePeriodUs / 2) / input_.framePeriodUs;
    return periods > 1 ? static_cast<std::uint32_t>(periods - 1) : 0;
}

// A new file's sound starts where its predecessor's ended, a little before the frame that opens
// it: that frame stands in for each whole file frame (rounded) by which the sound leads it, so
// that every file starts in step as the first one does.
std::uint32_t Recorder::FramesSoundLeadsBy(const VIDEOHDR& frame) const {
    if (input_.soundBytesPerSecond == 0) return 0;
    const auto soundMs =
        static_cast<std::int64_t>(state_.CaptureSoundBytes * 1000 / input_.soundBytesPerSecond);
    const std::int64_t leadMs = std::int64_t{frame.dwTimeCaptured} - soundMs;
    return leadMs >= kFrameMs / 2 ? static_cast<std::uint32_t>((leadMs + kFrameMs / 2) / kFrameMs)
                                  : 0;
}

// The sound's roll-over comes every half second or so, with tens of megabytes still free; a
// frame of several megabytes (a large picture with grain) could pass the limit before it: the
// file is full as soon as this frame, the copies it stands for and the one a finished file may
// take at its end might not all fit.
bool Recorder::NoRoomFor(const VIDEOHDR& frame, std::uint32_t copies) const {
    const std::uint64_t chunks =
        std::uint64_t(state_.FileVideoFrames) + std::uint64_t(state_.FileAudioBlocks) + copies + 2;
    const std::uint64_t needed = state_.FileBytes +
                                 (copies + 2) * std::uint64_t{frame.dwBytesUsed} +
                                 chunks * kChunkCost + kHeaderAndSoundRoom;
    return needed > platform::kAviMaxFileBytes;
}

void Recorder::RecordFrame(const VIDEOHDR& frame) {
    if (state_.WriteFailed.Met) return;
    std::uint32_t missing = FramesMissedBefore(frame);
    if (state_.FileOpen && !state_.FullFileWaiting && NoRoomFor(frame, missing)) RollOverFullFile();
    if (!state_.FileOpen) {
        OpenNextFile(frame);
        missing = FramesSoundLeadsBy(frame);
    }
    state_.LastFrameTimeMs = frame.dwTimeCaptured;
    CheckDrift();
    WriteVideoFrame(frame);
    state_.InsertCount += RepeatVideoFrame(frame, missing);
}
