// SPDX-License-Identifier: GPL-2.0-or-later
// Sound into a recording (its drift measured, a full file rolled over to the next) and the end
// of a capture; through the window, what the end does in each run mode.
#include <QComboBox>
#include <QLabel>

#include "platform/avifile.h"
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

// The sound rolls a file over once it holds 2,099,200,000 bytes. A frame that might not fit
// (with the frame a finished file may take at its end, their chunk headers and index entries, and
// the room kept for the headers and a sound buffer) starts the next file itself, before any write
// can pass the AVI 1.0 limit. The file number wraps after 65535.
TEST(RollOver, WhatStartsTheNextFile) {
    const std::uint64_t frameBytes = recording_test::SmallPicture().size();
    const auto fits = static_cast<std::uint32_t>(platform::kAviMaxFileBytes - 4 * 1024 * 1024 -
                                                 2 * frameBytes - 4 * (8 + 16));
    const struct {
        const char* what;
        std::uint16_t index;
        std::uint32_t bytes;  // the file's, after the buffer or before the frame
        bool byFrame;
        std::uint16_t next;
        const char* size;  // the full file's last log line
    } cases[] = {
        {"a buffer short of full", 0, kFullFileBytes - 1, false, 0, nullptr},
        {"a buffer that fills it", 0, kFullFileBytes, false, 1, "Taille Fic   : 2050000"},
        {"a buffer to the count's width", 0, 4'294'967'295u, false, 1, "Taille Fic   : 4194303"},
        {"file 65535 full", 65535, kFullFileBytes, false, 0, "Taille Fic   : 2050000"},
        {"a frame that fits", 0, fits, true, 0, nullptr},
        {"a frame a byte short of room", 0, fits + 1, true, 1, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Recording rec;
        rec.Start();
        rec.Frames(2);
        rec.reach.FileIndex = c.index;
        if (c.byFrame) {
            rec.reach.FileBytes = c.bytes;
            rec.Frame();
        } else {
            rec.reach.FileBytes = c.bytes - 4;
            rec.Sound(4);
        }
        EXPECT_EQ(rec.State().FileIndex, c.next);
        EXPECT_EQ(rec.Path(), rec.recorder.FilePathOf(c.next));
        EXPECT_EQ(rec.Log().size(), c.next != c.index ? kLogBlockLines : 0);
        if (c.size != nullptr) {
            EXPECT_EQ(rec.Log().value(9), QString::fromLatin1(c.size));
        }
    }
}

// The full file's log block is written at its roll-over, with the drift it ends with, and the
// next file is named; the buffers until the next frame still go into the full file without
// rolling it over again (they used to roll it over once each: file numbers skipped, the file
// logged and its drift counted twice). The next frame pays one frame of the drift back at the end
// of the full file and opens the next. A file full at the end has its block already.
TEST(RollOver, TheFullFileTakesTheSoundUntilTheNextFrameOpensTheNext) {
    Recording rec;
    rec.input.destination = QStringLiteral("C:\\");
    rec.Start();
    rec.Frames(2);
    rec.RollOver(24168);  // 137 ms of sound against 80 ms of picture
    EXPECT_EQ(rec.State().Drift, -57);
    rec.Sound(24168);
    rec.Sound(24168);
    EXPECT_EQ(rec.State().Drift, 80 - 411) << "every buffer counts as long as the present one";
    const std::string first = "C:\\VST_06-12-2026_14-03-27_0.avi";
    EXPECT_EQ(rec.Log(),
              (QStringList{QString(51, u'-'), QString::fromStdString("Fichier      : " + first),
                           rec.Log().value(2), "Cp Video     : 2", "Cp Audio     : 1",
                           "Drop 1       : 0", "Drop 2       : 0", "Insert       : 0",
                           "Total Defaut : 57", "Taille Fic   : 2050023"}));
    EXPECT_EQ(rec.events.log, rec.Log()) << "the window is told each line";
    EXPECT_EQ(rec.events.names.back().toStdString(), "C:\\VST_06-12-2026_14-03-27_1.avi");
    EXPECT_FALSE(QFile::exists(rec.HostFile(1))) << "the next file waits for the next frame";

    rec.Frame();
    EXPECT_EQ(rec.State().TotalDefect, 17);
    rec.RollOver();
    rec.Finish();
    EXPECT_EQ(rec.Log().size(), 2 * kLogBlockLines);
    EXPECT_EQ(QDir().entryList({"VST_*"}),
              QStringList({"VST_06-12-2026_14-03-27_0.avi", "VST_06-12-2026_14-03-27_1.avi"}));
    EXPECT_EQ(recording_test::FramesRead(rec.HostFile(0)), "3");
    EXPECT_EQ(recording_test::DecodedSound(rec.HostFile(0)).size(), 3 * 24168);
    EXPECT_EQ(recording_test::FramesRead(rec.HostFile(1)), "1");
}

// Before the first frame opens its file there is nothing to write to, and the file's counters are
// still the last capture's: a buffer then is let go, so that it cannot roll over the file the last
// capture left full.
TEST(AudioStream, ABufferBeforeTheFirstFrameIsLetGo) {
    Recording rec;
    rec.Start();
    rec.Frames(2);
    rec.RollOver();
    rec.Finish();
    rec.Start();
    rec.Sound(88200);
    EXPECT_EQ(rec.State().FileIndex, 0);
    EXPECT_TRUE(rec.Log().isEmpty());
    rec.Frame();
    EXPECT_EQ(rec.State().FileVideoFrames, 1);
    EXPECT_EQ(rec.State().FileAudioBlocks, 0);
}

// ---- the end of a capture, through the window ----

// Only the end ends the capture: the last file closed and logged, the log saved, and the
// automatic modes closing the window. TV mode records nothing.
TEST(Status, OnlyTheEndEndsTheCaptureAndTheAutomaticModesCloseWithIt) {
    struct Case {
        const char* mode;
        int status;
        bool logged;
        bool closes;
    };
    const Case cases[] = {
        {"TV", IDS_CAP_END, false, true},         {"Time", IDS_CAP_END, true, true},
        {"Capture", IDS_CAP_END, true, true},     {"", IDS_CAP_END, true, false},
        {"Capture", IDS_CAP_BEGIN, false, false}, {"Capture", 0, false, false},
        {"Capture", 302, false, false},           {"Capture", -301, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.mode << " " << c.status);
        WindowRecording rec(QString::fromLatin1(c.mode));
        rec.StartCapture();
        rec.Frame();
        EXPECT_EQ(rec.Status(c.status), 1);
        EXPECT_EQ(rec.Closed(), c.closes);
        EXPECT_EQ(rec.State().FileOpen, c.status != IDS_CAP_END && c.mode != std::string("TV"));
        EXPECT_EQ(rec.LogLines(), c.logged ? kLogBlockLines : 0);
        EXPECT_EQ(QFile::exists(QStringLiteral("CapLog.txt")), c.logged);
        if (c.logged) {
            EXPECT_EQ(rec.LogLine(3), QStringLiteral("Cp Video     : 1"));
        }
    }
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
        rec.reach.FileVideoFrames = c.frames;
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

// Without a window or a record the handlers only answer; with them, they hand the recording what
// they get.
TEST(Handlers, AnswerOneAndHandTheRecordingWhatTheyGet) {
    EXPECT_EQ(VideoStreamHandler(nullptr, nullptr), 1);
    EXPECT_EQ(AudioStreamHandler(nullptr, nullptr), 1);
    EXPECT_EQ(StatusHandler(nullptr, IDS_CAP_END, nullptr), 1);
    WindowRecording rec;
    rec.StartCapture();
    EXPECT_EQ(VideoStreamHandler(rec.form.CaptureWindow, nullptr), 1);
    EXPECT_EQ(AudioStreamHandler(rec.form.CaptureWindow, nullptr), 1);
    EXPECT_FALSE(rec.State().FileOpen);
    rec.Frame();
    std::vector<char> sound(7056);
    WAVEHDR buffer = recording_test::SoundHeader(sound);
    EXPECT_EQ(AudioStreamHandler(rec.form.CaptureWindow, &buffer), 1);
    EXPECT_EQ(rec.State().FileAudioBlocks, 1);
}

}  // namespace
