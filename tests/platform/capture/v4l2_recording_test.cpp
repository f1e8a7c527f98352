// SPDX-License-Identifier: GPL-2.0-or-later
// The program, unchanged, records from a real-device driver: a scripted V4L2 camera and ALSA's
// `file` input. Every second the camera shows a white frame and the sound a 1 kHz beep at the
// same instant; the file must play and keep them in step, as the sync tool measures.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <cmath>
#include <fstream>
#include <memory>
#include <numbers>
#include <optional>

#include "app/form1.h"
#include "platform/capture/alsa_capture.h"
#include "platform/capture/capture_window.h"
#include "platform/machine.h"
#include "platform/messages.h"
#include "platform/vfw.h"
#include "tests/platform/capture/fake_v4l2.h"

namespace {

constexpr int kSeconds = 6;
constexpr int kRate = 44100;

std::vector<unsigned char> Grey(unsigned char luma, std::uint32_t width, std::uint32_t height) {
    std::vector<unsigned char> bytes(std::size_t{width} * height * 2);
    for (std::size_t i = 0; i < bytes.size(); i += 2) {
        bytes[i] = luma;
        bytes[i + 1] = 128;
    }
    return bytes;
}

void WriteBeeps(const std::string& path) {
    std::vector<std::int16_t> samples(std::size_t{kSeconds} * kRate * 2, 0);
    for (int second = 0; second < kSeconds; ++second)
        for (int i = 0; i < kRate / 10; ++i) {
            const auto value = static_cast<std::int16_t>(
                12000 * std::sin(2 * std::numbers::pi * 1000 * i / kRate));
            const std::size_t at = (std::size_t(second) * kRate + std::size_t(i)) * 2;
            samples[at] = samples[at + 1] = value;
        }
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(samples.data()),
               static_cast<std::streamsize>(samples.size() * 2));
}

QString RunTool(const QString& program, const QStringList& arguments, int& status) {
    QProcess process;
    process.start(program, arguments);
    process.waitForFinished(120000);
    status = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    return QString::fromUtf8(process.readAllStandardOutput() + process.readAllStandardError());
}

// Four seconds of Capture mode from the scripted YUYV camera of `width` x `height` with the sound
// input `audio`, in a folder of its own; what the user was told and the log's last line are kept.
struct Recording {
    std::unique_ptr<QTemporaryDir> folder = std::make_unique<QTemporaryDir>();
    QStringList files;
    std::vector<std::string> messages;
    QString lastLogLine;
};

Recording RecordFromCamera(const std::string& audio, const std::string& alsaConfig,
                           std::uint32_t width = 320, std::uint32_t height = 240) {
    Recording r;
    const QString previous = QDir::currentPath();
    QDir::setCurrent(r.folder->path());
    platform::SetAlsaConfigForTesting(alsaConfig);
    fake_v4l2::Node camera{"/dev/video0",
                           "Webcam",
                           V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_STREAMING,
                           0x060103,
                           {{V4L2_PIX_FMT_YUYV, width, height}},
                           false};
    fake_v4l2::Device device({camera});
    for (int k = 0; k < kSeconds * 25; ++k)
        device.frames.push_back({k * 40000, Grey(k % 25 == 0 ? 235 : 90, width, height), 0});
    // The camera's time is the capture's, as its status tells it; before the capture it shows
    // nothing, so the live picture leaves the script alone.
    HWND window = nullptr;
    bool capturing = false;
    platform::SetMessageHook([&](HWND w, UINT message, WPARAM, LPARAM) -> std::optional<LRESULT> {
        if (message == WM_CAP_DRIVER_CONNECT) window = w;
        if (message == WM_CAP_SEQUENCE_NOFILE) capturing = true;
        return std::nullopt;
    });
    device.now = [&] {
        const platform::CaptureWindow* w = platform::CaptureWindowOf(window);
        if (w == nullptr || !capturing) return std::int64_t{-1};
        return std::int64_t{w->Status().dwCurrentTimeElapsedMS} * 1000;
    };
    platform::SetMessageReporter(
        [&](platform::MessageKind, const std::string& text) { r.messages.push_back(text); });

    platform::MachineDescription m = platform::DefaultMachineDescription();
    m.drives['C'] = {UINT{3}, r.folder->path().toStdString()};
    m.user.escapeAfterMs = 4000;
    m.audio = audio;
    const platform::MachineDescription before = platform::SetMachine(m);
    {
        TForm1 form({QStringLiteral("vistrel"), QStringLiteral("Capture")});
        form.show();
        QTimer::singleShot(60000, qApp, &QCoreApplication::quit);  // only a broken run gets here
        QApplication::exec();
    }
    platform::SetMessageReporter({});
    platform::SetMessageHook({});
    platform::SetMachine(before);
    platform::SetAlsaConfigForTesting({});

    for (const QString& name : QDir().entryList({QStringLiteral("VST_*.avi")}))
        r.files << r.folder->filePath(name);
    QFile log(QStringLiteral("CapLog.txt"));
    if (log.open(QIODevice::ReadOnly))
        r.lastLogLine =
            QString::fromLatin1(log.readAll()).trimmed().split(QStringLiteral("\r\n")).last();
    QDir::setCurrent(previous);
    return r;
}

// A 640 x 480 camera records the program's 384 x 288, scaled.
TEST(RealDeviceRecording, CameraAndSoundInputGiveAFileInStep) {
    int status = 0;
    RunTool(QStringLiteral("ffprobe"), {QStringLiteral("-version")}, status);
    if (status != 0) GTEST_SKIP() << "ffprobe is not installed";
    QTemporaryDir input;
    const std::string raw = input.filePath(QStringLiteral("in.raw")).toStdString();
    WriteBeeps(raw);
    const Recording r =
        RecordFromCamera("input",
                         "pcm.null { type null }\npcm.input { type file slave.pcm \"null\" file "
                         "\"/dev/null\" infile \"" +
                             raw + "\" format \"raw\" }\n",
                         640, 480);
    ASSERT_EQ(r.files.size(), 1);
    EXPECT_TRUE(r.messages.empty());
    const QString file = r.files.front();
    const QString streams =
        RunTool(QStringLiteral("ffprobe"),
                {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-count_frames"),
                 QStringLiteral("-show_entries"),
                 QStringLiteral("stream=codec_type,width,height,nb_read_frames"),
                 QStringLiteral("-of"), QStringLiteral("csv=p=0"), file},
                status);
    EXPECT_EQ(status, 0) << streams.toStdString();
    EXPECT_TRUE(streams.contains(QStringLiteral("video,384,288,100"))) << streams.toStdString();
    const QString sync = RunTool(
        QStringLiteral(VISTREL_BINARY_DIR "/tools/vistrel_avsync"),
        {QStringLiteral("--within"), QStringLiteral("-40"), QStringLiteral("40"), file}, status);
    EXPECT_EQ(status, 0) << sync.toStdString();
    EXPECT_TRUE(sync.contains(QStringLiteral("4 events"))) << sync.toStdString();
}

// A missing input still records, with silence in place of the sound: the user is told after
// the capture and the log says how much silence went in. An input left out on purpose is no loss.
TEST(RealDeviceRecording, AMissingSoundInputIsToldAndLoggedAndNoneIsNot) {
    const Recording missing = RecordFromCamera("nosuchinput", "pcm.null { type null }\n");
    ASSERT_EQ(missing.messages.size(), 1u);
    EXPECT_EQ(missing.messages[0],
              "L'entrée son \"nosuchinput\" n'a pas pu être ouverte : du silence a été "
              "enregistré à sa place.");
    ASSERT_TRUE(missing.lastLogLine.startsWith(QStringLiteral("Silence      : ")))
        << missing.lastLogLine.toStdString();
    EXPECT_NEAR(missing.lastLogLine.mid(15).toInt(), 4000, 100);

    const Recording none = RecordFromCamera("none", "pcm.null { type null }\n");
    EXPECT_TRUE(none.messages.empty());
    EXPECT_TRUE(none.lastLogLine.startsWith(QStringLiteral("Taille Fic   : ")))
        << none.lastLogLine.toStdString();
}

}  // namespace
