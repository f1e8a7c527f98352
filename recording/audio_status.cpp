// The sound side of a capture and its end: every audio buffer is written and measured against
// the video of the same file, a full file is handed over to the next one, and the end of the
// capture closes the last file and the log.
#include <QLabel>
#include <QLineEdit>
#include <algorithm>
#include <cstdlib>

#include "app/form1.h"
#include "platform/avifile.h"
#include "platform/files.h"
#include "recording/handlers.h"

namespace {

static_assert(std::uint64_t{kFullFileKiB} * 1024 < platform::kAviMaxFileBytes,
              "a file rolls over before it reaches the AVI 1.0 limit");
constexpr std::size_t kClearedPathBytes = 255;

void MeasureDrift(TForm1& form, std::uint32_t bytesRecorded) {
    form.VideoTimeMs = VideoTimeOf(form.FileVideoFrames);
    form.AudioTimeMs = AudioTimeOf(form.FileAudioBlocks, bytesRecorded);
    form.Drift = static_cast<std::int32_t>(std::int64_t{form.VideoTimeMs} - form.AudioTimeMs);
}

}  // namespace

// The full file stays open: the next frame pays back its drift and replaces it by the file
// named here. Its log block is written now, while CurrentFilePath still names it.
void RollOverFullFile(TForm1& form) {
    form.TotalDefect =
        static_cast<std::int32_t>(form.TotalDefect + std::llabs(std::int64_t{form.Drift}));
    form.AppendLogBlock();
    std::fill_n(form.CurrentFilePath.begin(), kClearedPathBytes, '\0');
    ++form.FileIndex;
    form.BuildFilePath();
    form.FileOpen = false;
    form.FullFileWaiting = true;
}

namespace {

// Until the first frame of a capture opens its file there is nothing to write the sound to,
// and the per-file counters are still the previous capture's: such a buffer is let go
// untouched, so that it can neither start a roll-over nor leave a drift the first frame would
// act on. Once a file is full, the buffers that come before the next frame still go into it
// and are measured, but that file is not rolled over a second time.
void RecordAudioBuffer(TForm1& form, const WAVEHDR& buffer) {
    // Counted whether kept or not: the sound's clock, against which each file's first frame is
    // placed.
    form.CaptureSoundBytes += buffer.dwBytesRecorded;
    if (form.WriteFailed.Met || (!form.FileOpen && !form.FullFileWaiting)) return;
    form.WriteAudioBuffer(buffer);
    MeasureDrift(form, buffer.dwBytesRecorded);
    if (form.FileBytes / 1024 < kFullFileKiB || form.FullFileWaiting) return;
    RollOverFullFile(form);
}

// A file replaced by a roll-over has its log block already, and the file named after it was
// never opened: only an open file is logged at the end. A capture ended by a refused write says
// so once its file is complete and its log saved.
void FinishLastFile(TForm1& form) {
    form.CloseAviOutput();
    form.FileOpen = false;
    // A file the disk refused before it took anything is removed, one whose folder was deleted
    // is gone: the log names only files that exist.
    const bool removed =
        form.WriteFailed.Met && (form.WriteFailed.Empty || form.WriteFailed.Error == kFileRemoved);
    if (!form.FullFileWaiting && !removed) form.AppendLogBlock();
    form.FullFileWaiting = false;
    form.AppendSilenceLine();
    form.SaveCaptureLog();
    form.ReportWriteFailure();
}

// The automatic modes end the program with the capture. The interactive mode goes back to live
// display only for a card that delivers Motion-JPEG and a last file short of the frame limit;
// otherwise the last frame stays on screen.
void EndCapture(TForm1& form) {
    if (form.Mode == RunMode::TV) {
        form.close();
        return;
    }
    FinishLastFile(form);
    if (form.Mode == RunMode::Time || form.Mode == RunMode::Capture) {
        form.close();
        return;
    }
    if (form.DeliversMotionJpeg() && form.FileVideoFrames < std::int32_t{form.FrameLimit}) {
        form.Panel6->hide();
        form.StartLiveDisplay();
    }
}

}  // namespace

LRESULT AudioStreamHandler(HWND, LPWAVEHDR buffer) {
    if (Form1 != nullptr && buffer != nullptr) RecordAudioBuffer(*Form1, *buffer);
    return 1;
}

// Every other status, the start of the capture included, is only news.
LRESULT StatusHandler(HWND, int status, LPCSTR) {
    if (status == IDS_CAP_END && Form1 != nullptr) EndCapture(*Form1);
    return 1;
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
