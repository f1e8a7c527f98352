// The per-frame work of a capture: the frame is shown first, as the run mode wants it, then
// recorded: the next file opened when none is, the drift acted on, the frame written.
#include "app/form1.h"
#include "capture/video_display.h"
#include "platform/avifile.h"
#include "recording/handlers.h"

namespace {

// A drift of a whole 25 fps frame or more is corrected, and a file's accumulated drift is paid
// back one such frame at a time.
constexpr std::int32_t kFrameMs = 40;
// After the first 750 frames of a capture the drift is looked at less often.
constexpr std::int32_t kSyncSwitchFrame = 750;
constexpr std::uint16_t kLaterSyncPeriod = 375;

// The capture's accumulated drift is paid back a frame at a time, one per finished file: once it
// reaches a whole frame, the present frame is shown once more at the end of the full file.
void FinishFullFile(TForm1& form, const VIDEOHDR& frame) {
    if (form.TotalDefect >= kFrameMs) {
        form.TotalDefect -= kFrameMs;
        form.DropPending = false;
        form.InsertPending = false;
        form.WriteVideoFrame(frame);
    }
    form.CloseAviOutput();
}

// The open step's outcome is not looked at: a file that failed to open still counts as open,
// so the capture goes on and no further open is tried until the next roll-over.
void OpenNextFile(TForm1& form, const VIDEOHDR& frame) {
    if (form.CaptureFrames > 1) FinishFullFile(form, frame);
    if (form.WriteFailed.Met) return;  // the capture is ending: no new file
    form.OpenAviOutput(form.CurrentFilePath.data(), form.CaptureFormat.data(),
                       form.CaptureFormatSize);
    form.ResetForFile();
}

// The count is the one before this frame's write, so a dropped frame leaves it on the multiple
// and the next frames are checked again until the audio moves the drift.
void CheckDrift(TForm1& form) {
    if (form.SyncPeriod == 0 || form.FileVideoFrames % form.SyncPeriod != 0) return;
    if (form.FileVideoFrames == kSyncSwitchFrame) form.SyncPeriod = kLaterSyncPeriod;
    if (form.Drift >= kFrameMs) {
        form.DropPending = true;
        ++form.DropCount;
    }
    if (form.Drift <= -kFrameMs) {
        form.InsertPending = true;
        ++form.InsertCount;
    }
}

// Frames the card could not deliver while the program was held (a modal box, a stopped process,
// a slow disk) are missing from the picture, not from the sound: the frame after them stands in
// for each, so that the picture keeps the sound's time instead of running ahead of it.
std::uint32_t FramesMissedBefore(const TForm1& form, const VIDEOHDR& frame) {
    if (!form.LastFrameTimeMs || form.FramePeriodUs == 0) return 0;
    const auto gapMs = static_cast<std::int32_t>(frame.dwTimeCaptured - *form.LastFrameTimeMs);
    const std::int64_t periods =
        (std::int64_t{gapMs} * 1000 + form.FramePeriodUs / 2) / form.FramePeriodUs;
    return periods > 1 ? static_cast<std::uint32_t>(periods - 1) : 0;
}

// A new file's sound starts where its predecessor's ended, a little before the frame that opens
// it: that frame stands in for each whole file frame (rounded) by which the sound leads it, so
// that every file starts in step as the first one does.
std::uint32_t FramesSoundLeadsBy(const TForm1& form, const VIDEOHDR& frame) {
    if (form.SoundBytesPerSecond == 0) return 0;
    const auto soundMs =
        static_cast<std::int64_t>(form.CaptureSoundBytes * 1000 / form.SoundBytesPerSecond);
    const std::int64_t leadMs = std::int64_t{frame.dwTimeCaptured} - soundMs;
    return leadMs >= kFrameMs / 2 ? static_cast<std::uint32_t>((leadMs + kFrameMs / 2) / kFrameMs)
                                  : 0;
}

// Bytes a file keeps free under the AVI 1.0 limit for its headers and for one sound buffer (at
// most ten seconds) besides the frames: each chunk also costs its own header and an index entry.
constexpr std::uint64_t kHeaderAndSoundRoom = 4 * 1024 * 1024;
constexpr std::uint64_t kChunkCost = 8 + 16;

// The sound's roll-over comes every half second or so, with tens of megabytes still free; a
// frame of several megabytes (a large picture with grain) could pass the limit before it: the
// file is full as soon as this frame, the copies it stands for and the one a finished file may
// take at its end might not all fit.
bool NoRoomFor(const TForm1& form, const VIDEOHDR& frame, std::uint32_t copies) {
    const std::uint64_t chunks =
        std::uint64_t(form.FileVideoFrames) + std::uint64_t(form.FileAudioBlocks) + copies + 2;
    const std::uint64_t needed = form.FileBytes + (copies + 2) * std::uint64_t{frame.dwBytesUsed} +
                                 chunks * kChunkCost + kHeaderAndSoundRoom;
    return needed > platform::kAviMaxFileBytes;
}

void RecordFrame(TForm1& form, const VIDEOHDR& frame) {
    if (form.WriteFailed.Met) return;
    std::uint32_t missing = FramesMissedBefore(form, frame);
    if (form.FileOpen && !form.FullFileWaiting && NoRoomFor(form, frame, missing))
        RollOverFullFile(form);
    if (!form.FileOpen) {
        OpenNextFile(form, frame);
        missing = FramesSoundLeadsBy(form, frame);
    }
    form.LastFrameTimeMs = frame.dwTimeCaptured;
    CheckDrift(form);
    form.WriteVideoFrame(frame);
    form.InsertCount += form.RepeatVideoFrame(frame, missing);
}

}  // namespace

// The handlers are plain functions the capture service calls: they find the window through this,
// which the first window made sets.
TForm1* Form1 = nullptr;

LRESULT VideoStreamHandler(HWND, LPVIDEOHDR frame) {
    if (Form1 == nullptr || frame == nullptr) return 1;
    if (Form1->Mode == RunMode::Time) {
        BlinkTimeTile(*Form1, Form1->FileVideoFrames);
    } else if (Form1->Mode == RunMode::TV) {
        ShowTVFrame(*Form1, *frame, Form1->FileVideoFrames);
        return 1;
    } else {
        const TForm1& f = *Form1;
        ShowStatusFrame(*Form1, *frame,
                        {f.CaptureFrames, f.FileVideoFrames, f.FileIndex, f.TotalDefect, f.DropCount,
                         f.InsertCount, f.Drift});
    }
    RecordFrame(*Form1, *frame);
    return 1;
}
