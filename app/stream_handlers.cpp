// SPDX-License-Identifier: GPL-2.0-or-later
// The capture service's callbacks: each frame shown as the run mode wants it, then recorded;
// each sound buffer recorded; the end of the capture closing the recording and, in the
// automatic modes, the program.
#include "app/stream_handlers.h"

#include <QLabel>

#include "app/form1.h"
#include "capture/video_display.h"

// The handlers are plain functions the capture service calls: they find the window through this,
// which the first window made sets.
TForm1* Form1 = nullptr;

namespace {

RecordingFigures FiguresOf(const RecordingState& s) {
    return {s.CaptureFrames, s.FileVideoFrames, s.FileIndex, s.TotalDefect,
            s.DropCount,     s.InsertCount,     s.Drift};
}

// The automatic modes end the program with the capture. The interactive mode goes back to live
// display only for a card that delivers Motion-JPEG and a last file short of the frame limit;
// otherwise the last frame stays on screen.
void EndCapture(TForm1& form) {
    if (form.Mode == RunMode::TV) {
        form.close();
        return;
    }
    form.Recording.Finish(platform::CaptureSilenceMs(form.CaptureWindow));
    if (form.Mode == RunMode::Time || form.Mode == RunMode::Capture) {
        form.close();
        return;
    }
    const std::int32_t written = form.Recording.State().FileVideoFrames;
    if (form.DeliversMotionJpeg() && written < std::int32_t{form.FrameLimit}) {
        form.Panel6->hide();
        form.StartLiveDisplay();
    }
}

}  // namespace

LRESULT VideoStreamHandler(HWND, LPVIDEOHDR frame) {
    if (Form1 == nullptr || frame == nullptr) return 1;
    const RecordingState& state = Form1->Recording.State();
    if (Form1->Mode == RunMode::Time) {
        BlinkTimeTile(Form1->Display, state.FileVideoFrames);
    } else if (Form1->Mode == RunMode::TV) {
        ShowTVFrame(Form1->Display, *frame, state.FileVideoFrames);
        return 1;
    } else {
        ShowStatusFrame(Form1->Display, *frame, FiguresOf(state));
    }
    Form1->Recording.Frame(*frame);
    return 1;
}

LRESULT AudioStreamHandler(HWND, LPWAVEHDR buffer) {
    if (Form1 != nullptr && buffer != nullptr) Form1->Recording.Sound(*buffer);
    return 1;
}

// Every other status, the start of the capture included, is only news.
LRESULT StatusHandler(HWND, int status, LPCSTR) {
    if (status == IDS_CAP_END && Form1 != nullptr) EndCapture(*Form1);
    return 1;
}
