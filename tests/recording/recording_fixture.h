// A main window on the fake capture service, in a working directory of its own, whose stream
// and status handlers a test calls as the capture service would. Files are recorded for real,
// small: by default the card "delivers" Motion-JPEG of 32 x 24, stored as it comes, so no
// frame is compressed; large byte counts are reached by setting FileBytes.
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

#include "recording/handlers.h"
#include "tests/fakes/form_under_test.h"

namespace recording_test {

constexpr std::uint32_t kFullFileBytes = 2'099'200'000;
constexpr int kLogBlockLines = 10;

// Moves into a fresh directory for the test's life; first member, so it outlives the window.
struct WorkingDirectory {
    WorkingDirectory() : previous(QDir::currentPath()) {
        std::setlocale(LC_TIME, "C");
        QDir::setCurrent(directory.path());
    }
    ~WorkingDirectory() { QDir::setCurrent(previous); }
    QTemporaryDir directory;
    QString previous;
};

class Recording {
  public:
    // The full-size RGB picture of the fake card, for tests of what is shown.
    struct RgbCard {};

    explicit Recording(const QString& mode = {}) : form(run.Create(mode)) {
        form.CompressorFourCC = QStringLiteral("MJPG");
        form.Edit2->setText(QStringLiteral("MJPG"));
        BITMAPINFOHEADER header = form.CaptureFormatHeader();
        header.biWidth = 32;
        header.biHeight = 24;
        header.biCompression = MAKEFOURCC('M', 'J', 'P', 'G');
        header.biSizeImage = sizeof(frameBytes);
        std::memcpy(form.CaptureFormat.data(), &header, sizeof(header));
        std::memset(frameBytes, 0x5A, sizeof(frameBytes));
    }
    Recording(RgbCard, const QString& mode) : form(run.Create(mode)) {
        form.CompressorFourCC = QStringLiteral("MJPG");
        const BITMAPINFOHEADER header = form.CaptureFormatHeader();
        rgbFrame.assign(header.biSizeImage, 0x80);  // mid-grey
    }

    // The capture run's own start, with the service answering the sequence at once.
    void StartCapture() { form.StartCapture(); }

    LRESULT Frame(DWORD timeCaptured = 0) {
        VIDEOHDR header{};
        if (rgbFrame.empty()) {
            header.lpData = frameBytes;
            header.dwBufferLength = sizeof(frameBytes);
        } else {
            header.lpData = rgbFrame.data();
            header.dwBufferLength = static_cast<DWORD>(rgbFrame.size());
        }
        header.dwBytesUsed = header.dwBufferLength;
        header.dwTimeCaptured = timeCaptured;
        return VideoStreamHandler(form.CaptureWindow, &header);
    }
    void Frames(int count) {
        for (int i = 0; i < count; ++i) Frame();
    }

    LRESULT Audio(DWORD bytes) {
        if (audioBytes.size() < bytes) audioBytes.resize(bytes);
        WAVEHDR header{};
        header.lpData = audioBytes.data();
        header.dwBufferLength = bytes;
        header.dwBytesRecorded = bytes;
        return AudioStreamHandler(form.CaptureWindow, &header);
    }

    LRESULT Status(int status) {
        return StatusHandler(form.CaptureWindow, status, "Fin de la capture");
    }

    std::string Path() const { return form.CurrentFilePath.data(); }
    int LogLines() const { return form.ListBox1->count(); }
    QString LogLine(int row) const { return form.ListBox1->item(row)->text(); }
    // Whether the window was closed: its close handler lets the capture window go.
    bool Closed() const { return form.CaptureWindow == nullptr; }

    WorkingDirectory directory;
    fakes::FormUnderTest run;
    TForm1& form;
    BYTE frameBytes[64];
    std::vector<BYTE> rgbFrame;
    std::vector<char> audioBytes;
};

}  // namespace recording_test
