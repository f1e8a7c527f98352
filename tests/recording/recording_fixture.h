// A Recorder on a fake machine, in a working directory of its own, handed frames and sound as a
// capture hands them. Files are recorded for real, small: the card "delivers" Motion-JPEG of
// 32 x 24, stored as it comes, so no frame is compressed; large byte counts are reached by
// setting the state's FileBytes. WindowRecording is the same through the main window and its
// handlers, for what the window shows and does.
#pragma once

#include <gtest/gtest.h>

#include <QDir>
#include <QLineEdit>
#include <QListWidget>
#include <QTemporaryDir>
#include <clocale>
#include <cstring>
#include <string>
#include <vector>

#include "app/stream_handlers.h"
#include "platform/files.h"
#include "platform/locale_clock.h"
#include "tests/fakes/form_under_test.h"
#include "tests/support/recorder_internals.h"

namespace recording_test {

constexpr std::uint32_t kFullFileBytes = 2'099'200'000;
constexpr int kLogBlockLines = 10;

// Moves into a fresh directory for the test's life; first member, so it outlives the rest.
struct WorkingDirectory {
    WorkingDirectory() : previous(QDir::currentPath()) {
        std::setlocale(LC_TIME, "C");
        QDir::setCurrent(directory.path());
    }
    ~WorkingDirectory() { QDir::setCurrent(previous); }
    QTemporaryDir directory;
    QString previous;
};

// The 32 x 24 Motion-JPEG format the fixtures' card delivers.
inline std::vector<BYTE> MotionJpegFormat(DWORD frameBytes) {
    BITMAPINFOHEADER header{};
    header.biSize = sizeof header;
    header.biWidth = 32;
    header.biHeight = 24;
    header.biPlanes = 1;
    header.biBitCount = 24;
    header.biCompression = MAKEFOURCC('M', 'J', 'P', 'G');
    header.biSizeImage = frameBytes;
    const auto* bytes = reinterpret_cast<const BYTE*>(&header);
    return {bytes, bytes + sizeof header};
}

// Headers over the fixtures' own frame and sound bytes.
struct Feed {
    Feed() { std::memset(frameBytes, 0x5A, sizeof(frameBytes)); }
    VIDEOHDR FrameHeader(DWORD timeCaptured) {
        const auto bytes = static_cast<DWORD>(sizeof(frameBytes));
        return {frameBytes, bytes, bytes, timeCaptured, 0, 0, {}};
    }
    WAVEHDR SoundHeader(DWORD bytes) {
        if (audioBytes.size() < bytes) audioBytes.resize(bytes);
        return {audioBytes.data(), bytes, bytes, 0, 0, 0, nullptr, 0};
    }
    BYTE frameBytes[64];
    std::vector<char> audioBytes;
};

class Recording : public Feed {
  public:
    Recording() {
        machine.description.drives['C'] = {DRIVE_FIXED, directory.directory.path().toStdString()};
        platform::SetMachine(machine.description);
        input.stamp = platform::ShortDateNow() + u'_' + platform::LongTimeNow();
        input.storedAsDelivered = true;
        input.format = MotionJpegFormat(sizeof(frameBytes));
        input.compressor = QStringLiteral("MJPG");
    }

    bool StartCapture() { return recorder.Start(input); }
    void Frame(DWORD timeCaptured = 0) { recorder.Frame(FrameHeader(timeCaptured)); }
    void Frames(int count) {
        for (int i = 0; i < count; ++i) Frame();
    }
    void Audio(DWORD bytes) { recorder.Sound(SoundHeader(bytes)); }
    // The capture's end, with the sound input having put no silence in.
    void End(DWORD silenceMs = 0) { recorder.Finish(silenceMs); }

    std::string Path() const { return state.CurrentFilePath.data(); }
    int LogLines() const { return static_cast<int>(recorder.Log().size()); }
    QString LogLine(int row) const { return recorder.Log().value(row); }

    WorkingDirectory directory;
    fakes::FakeMachine machine;
    support::RememberedEvents events;
    Recorder recorder{events};
    RecordingState& state = RecorderInternals::State(recorder);
    RecordingInput input;
};

class WindowRecording : public Feed {
  public:
    // The full-size RGB picture of the fake card, for tests of what is shown.
    struct RgbCard {};

    explicit WindowRecording(const QString& mode = {}) : form(run.Create(mode)) {
        form.CompressorFourCC = QStringLiteral("MJPG");
        form.Edit2->setText(QStringLiteral("MJPG"));
        const std::vector<BYTE> format = MotionJpegFormat(sizeof(frameBytes));
        std::memcpy(form.CaptureFormat.data(), format.data(), format.size());
    }
    WindowRecording(RgbCard, const QString& mode) : form(run.Create(mode)) {
        form.CompressorFourCC = QStringLiteral("MJPG");
        const BITMAPINFOHEADER header = form.CaptureFormatHeader();
        rgbFrame.assign(header.biSizeImage, 0x80);  // mid-grey
    }

    // The capture run's own start, with the service answering the sequence at once.
    void StartCapture() { form.StartCapture(); }

    LRESULT Frame(DWORD timeCaptured = 0) {
        VIDEOHDR header = FrameHeader(timeCaptured);
        if (!rgbFrame.empty()) {
            header.lpData = rgbFrame.data();
            header.dwBufferLength = header.dwBytesUsed = static_cast<DWORD>(rgbFrame.size());
        }
        return VideoStreamHandler(form.CaptureWindow, &header);
    }
    void Frames(int count) {
        for (int i = 0; i < count; ++i) Frame();
    }
    LRESULT Audio(DWORD bytes) {
        WAVEHDR header = SoundHeader(bytes);
        return AudioStreamHandler(form.CaptureWindow, &header);
    }
    LRESULT Status(int status) {
        return StatusHandler(form.CaptureWindow, status, "Fin de la capture");
    }

    std::string Path() const { return state.CurrentFilePath.data(); }
    int LogLines() const { return form.ListBox1->count(); }
    QString LogLine(int row) const { return form.ListBox1->item(row)->text(); }
    // Whether the window was closed: its close handler lets the capture window go.
    bool Closed() const { return form.CaptureWindow == nullptr; }

    WorkingDirectory directory;
    fakes::FormUnderTest run;
    TForm1& form;
    RecordingState& state = RecorderInternals::State(form.Recording);
    std::vector<BYTE> rgbFrame;
};

}  // namespace recording_test
