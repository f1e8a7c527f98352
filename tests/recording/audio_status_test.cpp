// The audio stream handler (write, drift, size limit, roll-over) and the status handler (the end
// of a capture by run mode).
#include <QComboBox>
#include <QFile>
#include <QLabel>

#include "tests/recording/recording_fixture.h"

namespace {

using recording_test::kFullFileBytes;
using recording_test::kLogBlockLines;
using recording_test::Recording;
using recording_test::WindowRecording;

TEST(DriftArithmetic, VideoTimeIsFortyMillisecondsAFrameInExtendedPrecision) {
    const std::pair<std::int32_t, std::int32_t> cases[] = {
        {0, 0}, {1, 40}, {25, 1000}, {800, 32000}, {803, 32119}, {1605, 64199},
    };
    for (const auto& [frames, ms] : cases) EXPECT_EQ(VideoTimeOf(frames), ms) << frames;
}

TEST(DriftArithmetic, AudioTimeCountsEveryBufferAsLongAsThePresentOne) {
    struct Case {
        std::int32_t blocks;
        std::uint32_t bytes;
        std::int32_t ms;
    };
    // 50,000 buffers of 88,200 bytes overflow a 32-bit product.
    const Case cases[] = {
        {1, 88200, 500}, {7, 88200, 3500}, {50000, 88200, 25'000'000},
        {1, 10000, 56},  {3, 10000, 170},  {0, 10000, 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(AudioTimeOf(c.blocks, c.bytes), c.ms) << c.blocks << " x " << c.bytes;
    }
}

TEST(AudioStream, WritesTheBufferAndMeasuresTheDriftOfTheFile) {
    Recording rec;
    rec.StartCapture();
    rec.Frame();
    rec.state.FileVideoFrames = 803;
    rec.Audio(88200);
    EXPECT_EQ(rec.state.FileAudioBlocks, 1);
    EXPECT_EQ(rec.state.FileBytes, sizeof(rec.frameBytes) + 88200);
    EXPECT_EQ(rec.state.VideoTimeMs, 32119);
    EXPECT_EQ(rec.state.AudioTimeMs, 500);
    EXPECT_EQ(rec.state.Drift, 31619);
    rec.state.FileVideoFrames = 0;
    rec.Audio(88200);
    EXPECT_EQ(rec.state.Drift, -1000);
}

TEST(AudioStream, AFileIsFullFrom2099200000Bytes) {
    const std::pair<std::uint32_t, bool> cases[] = {
        {kFullFileBytes - 1, false}, {kFullFileBytes, true}, {4294967295u, true}};
    for (const auto& [reached, full] : cases) {
        SCOPED_TRACE(reached);
        Recording rec;
        rec.StartCapture();
        rec.Frame();
        rec.state.FileBytes = reached - 10000;
        rec.Audio(10000);
        ASSERT_EQ(rec.state.FileBytes, reached);
        EXPECT_EQ(rec.state.FileOpen, !full);
        EXPECT_EQ(rec.state.FileIndex, full ? 1 : 0);
        EXPECT_EQ(rec.LogLines(), full ? kLogBlockLines : 0);
    }
}

std::uint32_t FramesOfFinishedFiles(const RecordingState& state) {
    return state.CaptureFrames - static_cast<std::uint32_t>(state.FileVideoFrames);
}

// Two frames (80 ms of video) against one buffer of 24,168 bytes (137 ms of audio): -57 ms.
void FillTheFirstFile(Recording& rec) {
    rec.input.stamp = QStringLiteral("06/12/2026_14:03:27");
    rec.StartCapture();
    rec.Frames(2);
    rec.state.FileBytes = kFullFileBytes;
    rec.state.TotalDefect = 12;
    rec.Audio(24168);
    ASSERT_EQ(rec.state.Drift, -57);
}

TEST(RollOver, LogsTheFullFileWithItsDefectAndNamesTheNext) {
    Recording rec;
    rec.input.stamp = QStringLiteral("06/12/2026_14:03:27");
    rec.StartCapture();
    const std::string full = rec.Path();
    rec.Frames(2);
    rec.state.FileBytes = kFullFileBytes;
    rec.state.TotalDefect = 12;
    rec.Audio(24168);
    ASSERT_EQ(rec.state.Drift, -57);
    EXPECT_EQ(rec.state.TotalDefect, 69);
    ASSERT_EQ(rec.LogLines(), kLogBlockLines);
    EXPECT_EQ(rec.LogLine(1).toStdString(), "Fichier      : " + full);
    EXPECT_EQ(rec.LogLine(8), QStringLiteral("Total Defaut : 69"));
    EXPECT_EQ(rec.LogLine(9), QStringLiteral("Taille Fic   : 2050023"));
    EXPECT_EQ(rec.state.FileIndex, 1);
    EXPECT_EQ(rec.Path(), "VST_06-12-2026_14-03-27_1.avi");
    EXPECT_EQ(rec.events.names.back(), QStringLiteral("VST_06-12-2026_14-03-27_1.avi"));
    EXPECT_FALSE(rec.state.FileOpen);
    EXPECT_FALSE(QFile::exists(QStringLiteral("VST_06-12-2026_14-03-27_1.avi")))
        << "the next file waits for the next frame";

    rec.Frame();
    EXPECT_EQ(rec.state.TotalDefect, 29) << "one extra frame paid back 40 ms";
    EXPECT_EQ(FramesOfFinishedFiles(rec.state), 3u);
    EXPECT_TRUE(rec.state.FileOpen);
    EXPECT_TRUE(QFile::exists(QStringLiteral("VST_06-12-2026_14-03-27_1.avi")));
}

TEST(RollOver, TheNameStartsWithTheDestination) {
    Recording rec;
    rec.input.destination = QStringLiteral("C:\\");
    FillTheFirstFile(rec);
    EXPECT_EQ(rec.Path(), "C:\\VST_06-12-2026_14-03-27_1.avi");
}

TEST(RollOver, TheFileNumberWrapsAfter65535) {
    Recording rec;
    rec.input.stamp = QStringLiteral("06/12/2026_14:03:27");
    rec.StartCapture();
    rec.Frame();
    rec.state.FileIndex = 65535;
    rec.state.FileBytes = kFullFileBytes;
    rec.Audio(4);
    EXPECT_EQ(rec.state.FileIndex, 0);
    EXPECT_EQ(rec.Path(), "VST_06-12-2026_14-03-27_0.avi");
}

// The fault mended here: every buffer between a roll-over and the next frame rolled the same
// full file over again, skipping file numbers, logging it twice and counting its drift twice.
TEST(RollOver, BuffersBeforeTheNextFrameGoIntoTheFullFileWithoutASecondRollOver) {
    Recording rec;
    FillTheFirstFile(rec);
    const std::uint32_t bytes = rec.state.FileBytes;
    rec.Audio(24168);
    rec.Audio(24168);
    EXPECT_EQ(rec.state.FileAudioBlocks, 3) << "written to the full file and counted";
    EXPECT_EQ(rec.state.FileBytes, bytes + 2 * 24168);
    EXPECT_EQ(rec.state.Drift, 80 - 411);
    EXPECT_EQ(rec.state.FileIndex, 1);
    EXPECT_EQ(rec.Path(), "VST_06-12-2026_14-03-27_1.avi");
    EXPECT_EQ(rec.LogLines(), kLogBlockLines);
    EXPECT_EQ(rec.state.TotalDefect, 69);

    rec.Frame();
    EXPECT_EQ(rec.state.TotalDefect, 29) << "still one extra frame, not a spurious second";
    EXPECT_EQ(FramesOfFinishedFiles(rec.state), 3u);
    EXPECT_TRUE(QFile::exists(QStringLiteral("VST_06-12-2026_14-03-27_1.avi")));

    // The new file rolls over in its turn.
    rec.state.FileBytes = kFullFileBytes;
    rec.Audio(4);
    EXPECT_EQ(rec.state.FileIndex, 2);
    EXPECT_EQ(rec.LogLines(), 2 * kLogBlockLines);
}

// Before the first frame there is no file and the per-file counters are still the last
// capture's: the buffer is let go without a trace.
TEST(AudioStream, ABufferBeforeTheFirstFrameIsDropped) {
    Recording rec;
    rec.StartCapture();
    rec.Frame();
    rec.End();
    rec.state.FileVideoFrames = 2000;
    rec.state.FileAudioBlocks = 100;
    rec.state.FileBytes = kFullFileBytes - 10;  // the last capture's file, nearly full

    rec.StartCapture();
    const std::string first = rec.Path();
    rec.Audio(88200);
    EXPECT_EQ(rec.state.FileAudioBlocks, 100);
    EXPECT_EQ(rec.state.FileBytes, kFullFileBytes - 10);
    EXPECT_EQ(rec.state.Drift, 0);
    EXPECT_EQ(rec.state.FileIndex, 0) << "no roll-over";
    EXPECT_EQ(rec.LogLines(), 0);

    rec.Frame();
    EXPECT_EQ(rec.Path(), first);
    EXPECT_EQ(rec.state.FileVideoFrames, 1) << "no correction of a drift never measured";
    EXPECT_EQ(rec.state.FileAudioBlocks, 0);
}

TEST(Status, NumbersOtherThanTheEndChangeNothing) {
    for (int status : {IDS_CAP_BEGIN, 0, 302, -301}) {
        SCOPED_TRACE(status);
        WindowRecording rec(QStringLiteral("Capture"));
        rec.StartCapture();
        rec.Frame();
        EXPECT_EQ(rec.Status(status), 1);
        EXPECT_TRUE(rec.state.FileOpen);
        EXPECT_FALSE(rec.Closed());
        EXPECT_EQ(rec.LogLines(), 0);
        EXPECT_FALSE(QFile::exists(QStringLiteral("CapLog.txt")));
    }
}

TEST(Status, TheEndClosesTheFileSavesTheLogAndEndsTheAutomaticModes) {
    struct Case {
        const char* mode;
        bool recorded;
        bool closes;
    };
    const Case cases[] = {
        {"TV", false, true}, {"Time", true, true}, {"Capture", true, true}, {"", true, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.mode);
        WindowRecording rec(QString::fromLatin1(c.mode));
        rec.StartCapture();
        rec.Frame();
        EXPECT_EQ(rec.Status(IDS_CAP_END), 1);
        EXPECT_EQ(rec.Closed(), c.closes);
        EXPECT_FALSE(rec.state.FileOpen);
        EXPECT_EQ(rec.LogLines(), c.recorded ? kLogBlockLines : 0);
        EXPECT_EQ(QFile::exists(QStringLiteral("CapLog.txt")), c.recorded);
        if (c.recorded) {
            EXPECT_EQ(rec.LogLine(3), QStringLiteral("Cp Video     : 1"));
        }
    }
}

// A full file still waiting at the end was logged at its roll-over, and the file named after
// it was never made: the log lists the files on disk, once each.
TEST(Status, TheEndAfterARollOverLogsNoFileTwice) {
    Recording rec;
    FillTheFirstFile(rec);
    rec.End();
    EXPECT_EQ(rec.LogLines(), kLogBlockLines);
    EXPECT_TRUE(QFile::exists(QStringLiteral("CapLog.txt")));
    EXPECT_FALSE(rec.state.FullFileWaiting);
    EXPECT_FALSE(QFile::exists(QString::fromStdString(rec.Path())));
}

TEST(Status, InteractiveModeReturnsToLiveDisplayForMotionJpegShortOfTheLimit) {
    struct Case {
        const char* format;
        std::int32_t frames;
        bool live;
    };
    const Case cases[] = {
        {"MJPG", 23999, true}, {"MJPG", 24000, false}, {"bi_RGB", 0, false}, {"mjpg", 0, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.format) + " " + std::to_string(c.frames));
        WindowRecording rec;
        rec.StartCapture();
        ASSERT_EQ(rec.form.FrameLimit, 24000);
        rec.Frame();
        rec.form.Edit2->setText(QString::fromLatin1(c.format));
        rec.state.FileVideoFrames = c.frames;
        rec.run.capture.Clear();
        rec.Status(IDS_CAP_END);
        EXPECT_EQ(rec.form.Panel6->isHidden(), c.live);
        const auto overlay = rec.run.capture.Sent(WM_CAP_SET_OVERLAY);
        ASSERT_EQ(overlay.size(), c.live ? 1u : 0u);
        if (c.live) {
            EXPECT_EQ(overlay[0].wParam, 1u);
        }
        EXPECT_FALSE(rec.Closed());
    }
}

TEST(Handlers, WithoutAWindowOrARecordTheyOnlyAnswerOne) {
    EXPECT_EQ(VideoStreamHandler(nullptr, nullptr), 1);
    EXPECT_EQ(AudioStreamHandler(nullptr, nullptr), 1);
    EXPECT_EQ(StatusHandler(nullptr, IDS_CAP_END, nullptr), 1);
    WindowRecording rec;
    rec.StartCapture();
    EXPECT_EQ(VideoStreamHandler(rec.form.CaptureWindow, nullptr), 1);
    EXPECT_EQ(AudioStreamHandler(rec.form.CaptureWindow, nullptr), 1);
    EXPECT_FALSE(rec.state.FileOpen);
}

}  // namespace
