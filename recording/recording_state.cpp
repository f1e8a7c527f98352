// SPDX-License-Identifier: GPL-2.0-or-later
#include "recording/recording_state.h"

#include <algorithm>

namespace {

// The drift is looked at this often at the start of a capture, then less often.
constexpr std::uint16_t kFirstSyncPeriod = 250;

}  // namespace

void RecordingState::ResetForCapture() {
    CaptureFrames = 0;
    DriverDropCount = 0;
    DropCount = 0;
    InsertCount = 0;
    DropPending = false;
    InsertPending = false;
    SyncPeriod = kFirstSyncPeriod;
    Drift = 0;
    CaptureSoundBytes = 0;
    LastFrameTimeMs.reset();
    WriteFailed = {};
}

// The name's 255 characters are cleared; the last byte is kept for its terminating zero.
void RecordingState::ResetFileNames() {
    FileOpen = false;
    // A capture that ended without its end status may have left a full file waiting.
    FullFileWaiting = false;
    std::fill_n(CurrentFilePath.begin(), CurrentFilePath.size() - 1, '\0');
    FileIndex = 0;
}

void RecordingState::ResetForFile() {
    FileVideoFrames = 0;
    FileAudioBlocks = 0;
    FileBytes = 0;
    // The full file's drift was booked into TotalDefect at the roll-over; acting on it again here
    // would drop the new file's first frames until its first sound arrives, and leave the new
    // file out of step by that much.
    Drift = 0;
    DropPending = false;
    InsertPending = false;
    FullFileWaiting = false;
    FileOpen = true;
}
