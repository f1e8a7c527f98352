// A capture whose sound input is missing still records, with silence in place of the sound; the
// user hears of it after the capture and the capture log says how much silence went in. An input
// left out on purpose (`none`) is no loss.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>
#include <optional>

#include "app/form1.h"
#include "platform/capture/alsa_capture.h"
#include "platform/capture/capture_window.h"
#include "platform/machine.h"
#include "platform/messages.h"
#include "platform/vfw.h"
#include "tests/platform/capture/fake_v4l2.h"

namespace {

struct Recorded {
    std::vector<std::string> messages;
    QString lastLogLine;
};

Recorded RecordFourSeconds(const std::string& audio) {
    QTemporaryDir folder;
    const QString previous = QDir::currentPath();
    QDir::setCurrent(folder.path());
    platform::SetAlsaConfigForTesting("pcm.null { type null }\n");
    fake_v4l2::Device device({{"/dev/video0",
                               "Webcam",
                               V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_STREAMING,
                               0x060103,
                               {{V4L2_PIX_FMT_YUYV, 320, 240}},
                               false}});
    for (int k = 0; k < 125; ++k)
        device.frames.push_back({k * 40000, std::vector<unsigned char>(320 * 240 * 2, 90), 0});
    // The camera's frames come as the capture's time goes on.
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
    Recorded recorded;
    platform::SetMessageReporter(
        [&](platform::MessageKind, const std::string& text) { recorded.messages.push_back(text); });
    platform::MachineDescription m = platform::DefaultMachineDescription();
    m.drives['C'] = {UINT{3}, folder.path().toStdString()};
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
    QFile log(folder.filePath(QStringLiteral("CapLog.txt")));
    if (log.open(QIODevice::ReadOnly))
        recorded.lastLogLine = QString::fromLatin1(log.readAll()).trimmed().split("\r\n").last();
    QDir::setCurrent(previous);
    return recorded;
}

TEST(SoundLoss, AMissingInputIsToldAndLoggedAndNoneIsNot) {
    const Recorded missing = RecordFourSeconds("nosuchinput");
    ASSERT_EQ(missing.messages.size(), 1u);
    EXPECT_EQ(missing.messages[0],
              "L'entrée son \"nosuchinput\" n'a pas pu être ouverte : du silence a été "
              "enregistré à sa place.");
    ASSERT_TRUE(missing.lastLogLine.startsWith(QStringLiteral("Silence      : ")))
        << missing.lastLogLine.toStdString();
    EXPECT_NEAR(missing.lastLogLine.mid(15).toInt(), 4000, 100);

    const Recorded none = RecordFourSeconds("none");
    EXPECT_TRUE(none.messages.empty());
    EXPECT_TRUE(none.lastLogLine.startsWith(QStringLiteral("Taille Fic   : ")))
        << none.lastLogLine.toStdString();
}

}  // namespace
