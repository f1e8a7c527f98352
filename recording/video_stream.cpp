// The per-frame work of a capture: the frame is shown first, as the run mode wants it, then
// recorded: the next file opened when none is, the drift acted on, the frame written.
#include "app/form1.h"
#include "recording/handlers.h"
#include "recording/video_display.h"

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

void RecordFrame(TForm1& form, const VIDEOHDR& frame) {
    if (form.WriteFailed.Met) return;
    if (!form.FileOpen) OpenNextFile(form, frame);
    CheckDrift(form);
    form.WriteVideoFrame(frame);
}

}  // namespace

LRESULT VideoStreamHandler(HWND, LPVIDEOHDR frame) {
    if (Form1 == nullptr || frame == nullptr) return 1;
    if (Form1->RunMode == QLatin1String("Time")) {
        BlinkTimeTile(*Form1);
    } else if (Form1->RunMode == QLatin1String("TV")) {
        ShowTVFrame(*Form1, *frame);
        return 1;
    } else {
        ShowStatusFrame(*Form1, *frame);
    }
    RecordFrame(*Form1, *frame);
    return 1;
}
