// SPDX-License-Identifier: GPL-2.0-or-later
// A Recorder on a fake machine, in a working directory of its own that is drive C:, handed frames
// and sound as a capture hands them; its files read back by ffprobe and ffmpeg. Files are
// recorded for real and small: unless a test gives its own pictures, the card delivers a 32 x 24
// Motion-JPEG picture stored as it comes. A file of 2 GB is reached by setting its byte count.
// WindowRecording is the same through the main window and its handlers, for what the window
// shows and does.
#pragma once

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QListWidget>
#include <QProcess>
#include <QTemporaryDir>
#include <clocale>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "app/stream_handlers.h"
#include "platform/capture/testcard.h"
#include "platform/files.h"
#include "tests/fakes/form_under_test.h"
#include "tests/support/recorder_internals.h"

// Failures show texts as text.
inline void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

namespace recording_test {

constexpr std::uint32_t kFullFileBytes = 2'099'200'000;
constexpr int kLogBlockLines = 10;
constexpr DWORD kMjpg = MAKEFOURCC('M', 'J', 'P', 'G');

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

inline BITMAPINFOHEADER CardFormat(int width, int height, DWORD compression, WORD bits = 24) {
    BITMAPINFOHEADER header{};
    header.biSize = sizeof header;
    header.biWidth = width;
    header.biHeight = height;
    header.biPlanes = 1;
    header.biBitCount = bits;
    header.biCompression = compression;
    header.biSizeImage = platform::DibStride(width) * static_cast<DWORD>(height);
    return header;
}

inline std::vector<BYTE> Bytes(const BITMAPINFOHEADER& header) {
    const auto* bytes = reinterpret_cast<const BYTE*>(&header);
    return {bytes, bytes + sizeof header};
}

// Frames of the platform's test card, with picture noise as an analogue card delivers them.
inline std::vector<std::vector<BYTE>> CardFrames(int count, int width, int height, bool jpeg) {
    platform::TestCardVideo card({width, height, jpeg, 10});
    std::vector<std::vector<BYTE>> frames;
    for (int n = 0; n < count; ++n) {
        const std::span<BYTE> bytes = card.Render(static_cast<std::uint32_t>(n), false);
        frames.emplace_back(bytes.begin(), bytes.end());
    }
    return frames;
}

// The small picture a Recording's card delivers unless a test gives its own.
inline const std::vector<BYTE>& SmallPicture() {
    static const std::vector<BYTE> picture = CardFrames(1, 32, 24, true).front();
    return picture;
}

inline VIDEOHDR FrameHeader(std::vector<BYTE>& bytes, DWORD timeCaptured) {
    const auto size = static_cast<DWORD>(bytes.size());
    return {bytes.data(), size, size, timeCaptured, 0, 0, {}};
}

inline WAVEHDR SoundHeader(std::vector<char>& bytes) {
    const auto size = static_cast<DWORD>(bytes.size());
    return {bytes.data(), size, size, 0, 0, 0, nullptr, 0};
}

class Recording {
  public:
    Recording() {
        machine.description.drives['C'] = {DRIVE_FIXED, directory.directory.path().toStdString()};
        platform::SetMachine(machine.description);
        input.stamp = QStringLiteral("06/12/2026_14:03:27");
        input.storedAsDelivered = true;
        input.format = Bytes(CardFormat(32, 24, kMjpg));
        input.compressor = QStringLiteral("MJPG");
    }

    bool Start() { return recorder.Start(input); }
    void Frame(DWORD timeCaptured = 0) { Frame(picture, timeCaptured); }
    void Frame(std::vector<BYTE>& bytes, DWORD timeCaptured = 0) {
        recorder.Frame(FrameHeader(bytes, timeCaptured));
    }
    void Frames(int count) {
        for (int i = 0; i < count; ++i) Frame();
    }
    void Sound(DWORD bytes) {
        std::vector<char> silence(bytes);
        Sound(silence);
    }
    void Sound(std::vector<char>& bytes) { recorder.Sound(SoundHeader(bytes)); }
    void Finish(DWORD silenceMs = 0) { recorder.Finish(silenceMs); }
    // The present file at 2 GB, as hours of capture leave it, and the buffer that fills it.
    void RollOver(DWORD soundBytes = 4) {
        reach.FileBytes = kFullFileBytes;
        Sound(soundBytes);
    }

    const RecordingState& State() const { return recorder.State(); }
    const QStringList& Log() const { return recorder.Log(); }
    std::string Path() const { return State().CurrentFilePath.data(); }
    // Where the file numbered `index` is on this machine.
    QString HostFile(std::uint16_t index) const {
        return QString::fromStdString(platform::HostPath(recorder.FilePathOf(index)));
    }

    WorkingDirectory directory;
    fakes::FakeMachine machine;
    support::RememberedEvents events;
    std::unique_ptr<Recorder> owned = std::make_unique<Recorder>(events);
    Recorder& recorder = *owned;
    RecordingInput input;
    std::vector<BYTE> picture = SmallPicture();
    // What a long capture reaches (a 2 GB file, a drift), set without living through it.
    RecordingState& reach = RecorderInternals::State(recorder);
};

// ---- the files, as players read them ----

inline QByteArray Run(const QStringList& arguments, QByteArray* err = nullptr) {
    QProcess process;
    process.start(arguments[0], arguments.mid(1));
    process.waitForFinished(120000);
    if (err) *err = process.readAllStandardError();
    EXPECT_EQ(process.exitCode(), 0) << arguments.join(' ').toStdString();
    return process.readAllStandardOutput();
}

inline QJsonObject Probe(const QString& path, const char* what = "-show_streams") {
    return QJsonDocument::fromJson(
               Run({"ffprobe", "-v", "error", "-count_frames", what, "-of", "json", path}))
        .object();
}

inline QJsonArray Streams(const QString& path) {
    return Probe(path)["streams"].toArray();
}

inline std::string Text(const QJsonValue& value) {
    return value.toString().toStdString();
}

// Frames ffmpeg decodes from a file's video stream.
inline std::string FramesRead(const QString& path) {
    return Text(Streams(path).at(0).toObject()["nb_read_frames"]);
}

inline void ExpectCleanDecode(const QString& path) {
    QByteArray err;
    Run({"ffmpeg", "-v", "error", "-xerror", "-i", path, "-f", "null", "-"}, &err);
    EXPECT_EQ(err.toStdString(), "") << path.toStdString();
}

inline QByteArray Decoded(const QString& path, const QStringList& output) {
    return Run(QStringList{"ffmpeg", "-v", "error", "-i", path} + output + QStringList{"-"});
}

inline QByteArray DecodedSound(const QString& path) {
    return Decoded(path, {"-map", "0:a", "-f", "s16le"});
}

inline std::uint32_t PacketBytes(const QString& path) {
    std::uint32_t sum = 0;
    for (const auto& p : Probe(path, "-show_packets")["packets"].toArray())
        sum += p.toObject()["size"].toString().toUInt();
    return sum;
}

inline QByteArray ReadAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

// ---- through the window ----

// The 32 x 24 Motion-JPEG format of the card the window is shown.
inline std::vector<BYTE> MotionJpegFormat(DWORD frameBytes) {
    BITMAPINFOHEADER header = CardFormat(32, 24, kMjpg);
    header.biSizeImage = frameBytes;
    return Bytes(header);
}

class WindowRecording {
  public:
    // The full-size RGB picture of the fake card, for tests of what is shown.
    struct RgbCard {};

    explicit WindowRecording(const QString& mode = {}) : form(run.Create(mode)) {
        form.CompressorFourCC = QStringLiteral("MJPG");
        form.Edit2->setText(QStringLiteral("MJPG"));
        const std::vector<BYTE> format = MotionJpegFormat(static_cast<DWORD>(picture.size()));
        std::memcpy(form.CaptureFormat.data(), format.data(), format.size());
    }
    WindowRecording(RgbCard, const QString& mode) : form(run.Create(mode)) {
        form.CompressorFourCC = QStringLiteral("MJPG");
        picture.assign(form.CaptureFormatHeader().biSizeImage, 0x80);  // mid-grey
    }

    // The capture run's own start, with the service answering the sequence at once.
    void StartCapture() { form.StartCapture(); }

    LRESULT Frame(DWORD timeCaptured = 0) {
        VIDEOHDR header = FrameHeader(picture, timeCaptured);
        return VideoStreamHandler(form.CaptureWindow, &header);
    }
    void Frames(int count) {
        for (int i = 0; i < count; ++i) Frame();
    }
    LRESULT Status(int status) {
        return StatusHandler(form.CaptureWindow, status, "Fin de la capture");
    }

    const RecordingState& State() const { return form.Recording.State(); }
    std::string Path() const { return State().CurrentFilePath.data(); }
    int LogLines() const { return form.ListBox1->count(); }
    QString LogLine(int row) const { return form.ListBox1->item(row)->text(); }
    // Whether the window was closed: its close handler lets the capture window go.
    bool Closed() const { return form.CaptureWindow == nullptr; }

    WorkingDirectory directory;
    fakes::FormUnderTest run;
    TForm1& form;
    std::vector<BYTE> picture = std::vector<BYTE>(64, 0x5A);
    RecordingState& reach = RecorderInternals::State(form.Recording);
};

}  // namespace recording_test
