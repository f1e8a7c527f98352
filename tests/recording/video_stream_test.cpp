// The video stream handler: what each run mode shows, and how frames are recorded — the open
// step with its extra frame, the drift checks and their period.
#include <QClipboard>
#include <QComboBox>
#include <QGuiApplication>
#include <QLabel>
#include <QPixmap>
#include <QRegularExpression>
#include <functional>
#include <vector>

#include "capture/video_display.h"
#include "platform/avifile.h"
#include "platform/display.h"
#include "platform/machine.h"
#include "tests/recording/recording_fixture.h"

namespace {

using recording_test::Recording;
using recording_test::WindowRecording;

TEST(ScreenArithmetic, TextPlaceAndFontSizeGrowWithTheScreenTruncated) {
    struct Case {
        std::uint16_t width;
        int left;
        int points;
    };
    const Case cases[] = {
        {800, 30, 20}, {1024, 38, 25}, {1280, 48, 32}, {1680, 62, 42}, {1920, 72, 48},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.width);
        EXPECT_EQ(ScaledToScreen(c.width, 30), c.left);
        EXPECT_EQ(ScaledToScreen(c.width, 20), c.points);
    }
}

TEST(VideoStream, FirstFrameOpensTheFirstFileAndWritesAtPositionZero) {
    Recording rec;
    rec.StartCapture();
    const std::string first = rec.Path();
    rec.Frame();
    EXPECT_TRUE(rec.state.FileOpen);
    EXPECT_EQ(rec.state.FileVideoFrames, 1);
    EXPECT_EQ(rec.state.CaptureFrames, 1u);
    EXPECT_EQ(rec.state.FileBytes, sizeof(rec.frameBytes));
    EXPECT_EQ(rec.state.DropCount + rec.state.InsertCount, 0u) << "StartCapture's drift is 0";
    EXPECT_TRUE(QFile::exists(QString::fromStdString(first)));
    EXPECT_TRUE(rec.events.texts.empty());
}

// The check runs on the first frame of a file, where the count is 0.
TEST(VideoStream, DriftOfAWholeFrameEitherWayIsCorrectedAndLessIsNot) {
    struct Case {
        std::int32_t drift;
        std::int32_t frames;
        std::uint32_t drops;
        std::uint32_t inserts;
    };
    const Case cases[] = {
        {40, 0, 1, 0}, {39, 1, 0, 0}, {-39, 1, 0, 0}, {-40, 2, 0, 1}, {400, 0, 1, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.drift);
        Recording rec;
        rec.StartCapture();
        rec.Frame();  // opens the file; the check below is the one at frame 250
        rec.state.FileVideoFrames = 250;
        rec.state.Drift = c.drift;
        rec.Frame();
        EXPECT_EQ(rec.state.FileVideoFrames, 250 + c.frames);
        EXPECT_EQ(rec.state.CaptureFrames, 1 + static_cast<std::uint32_t>(c.frames));
        EXPECT_EQ(rec.state.DropCount, c.drops);
        EXPECT_EQ(rec.state.InsertCount, c.inserts);
        EXPECT_FALSE(rec.state.DropPending || rec.state.InsertPending) << "lives one frame only";
    }
}

TEST(VideoStream, DropsRepeatWhileTheDriftStaysAtAFrame) {
    Recording rec;
    rec.StartCapture();
    rec.Frame();
    rec.state.FileVideoFrames = 250;
    rec.state.Drift = 45;
    rec.Frames(3);
    EXPECT_EQ(rec.state.FileVideoFrames, 250);
    EXPECT_EQ(rec.state.DropCount, 3u);
    rec.state.Drift = 10;  // as the next audio buffer would leave it
    rec.Frame();
    EXPECT_EQ(rec.state.FileVideoFrames, 251);
    EXPECT_EQ(rec.state.DropCount, 3u);
}

TEST(VideoStream, AnInsertionStepsOverTheMultipleAndTheNextCheckIsAtTheNextOne) {
    Recording rec;
    rec.StartCapture();
    rec.Frame();
    rec.state.FileVideoFrames = 250;
    rec.state.Drift = -40;
    rec.Frame();
    EXPECT_EQ(rec.state.FileVideoFrames, 252);
    EXPECT_EQ(rec.state.InsertCount, 1u);
    rec.state.FileVideoFrames = 499;
    rec.Frame();
    EXPECT_EQ(rec.state.FileVideoFrames, 500);
    EXPECT_EQ(rec.state.InsertCount, 1u);
    rec.Frame();
    EXPECT_EQ(rec.state.FileVideoFrames, 502);
    EXPECT_EQ(rec.state.InsertCount, 2u);
}

// Rolls the open file over the way the audio handler does, with the audio level with the video,
// so that the first check of the next file has nothing to correct.
void RollOver(Recording& rec) {
    rec.state.FileBytes = recording_test::kFullFileBytes;
    rec.Audio(4);
    ASSERT_FALSE(rec.state.FileOpen);
    rec.state.Drift = 0;
}

TEST(VideoStream, FromFrame750TheCheckPeriodIs375ForTheRestOfTheCapture) {
    Recording rec;
    rec.StartCapture();
    rec.Frame();
    rec.state.FileVideoFrames = 750;
    rec.Frame();
    EXPECT_EQ(rec.state.SyncPeriod, 375);
    RollOver(rec);
    rec.Frame();  // the second file
    EXPECT_EQ(rec.state.SyncPeriod, 375);
    rec.state.Drift = 40;
    const std::int32_t notChecked[] = {250, 500, 376};
    for (std::int32_t frames : notChecked) {
        rec.state.FileVideoFrames = frames;
        rec.Frame();
        EXPECT_EQ(rec.state.FileVideoFrames, frames + 1) << frames;
    }
    const std::int32_t checked[] = {375, 750, 1125};
    for (std::int32_t frames : checked) {
        rec.state.FileVideoFrames = frames;
        rec.Frame();
        EXPECT_EQ(rec.state.FileVideoFrames, frames) << frames;
    }
    EXPECT_EQ(rec.state.DropCount, 3u);
}

// A full file is paid back at most one frame of its drift before it is closed.
TEST(VideoStream, TheFullFileGetsOneExtraFrameOnceItsDefectReachesAFrame) {
    struct Case {
        std::int32_t defect;
        std::uint32_t extra;
        std::int32_t left;
    };
    const Case cases[] = {{39, 0, 39}, {40, 1, 0}, {95, 1, 55}, {-40, 0, -40}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.defect);
        Recording rec;
        rec.StartCapture();
        rec.Frames(2);
        RollOver(rec);
        rec.state.TotalDefect = c.defect;
        rec.state.DropPending = true;  // a stale flag is no reason to leave the extra frame out
        rec.Frame();
        EXPECT_EQ(rec.state.CaptureFrames, 3 + c.extra);
        EXPECT_EQ(rec.state.TotalDefect, c.left);
        EXPECT_EQ(rec.state.FileVideoFrames, 1) << "the new file starts from its first frame";
        EXPECT_TRUE(rec.state.FileOpen);
    }
}

// The full file's drift is booked at the roll-over; the next file must not act on it again and
// drop its first frames until its own first sound arrives.
TEST(VideoStream, ANewFileStartsInStepWhateverDriftTheFullFileLeft) {
    for (std::int32_t drift : {40, -57}) {
        SCOPED_TRACE(drift);
        Recording rec;
        rec.StartCapture();
        rec.Frames(2);
        rec.state.FileBytes = recording_test::kFullFileBytes;
        rec.state.Drift = drift;
        rec.Audio(4);
        ASSERT_FALSE(rec.state.FileOpen);
        rec.Frames(3);
        EXPECT_EQ(rec.state.FileVideoFrames, 3) << "no frame dropped or doubled";
        EXPECT_EQ(rec.state.Drift, 0);
    }
}

// Frames the card missed while the program was held come back as copies of the frame after
// them, counted as insertions; a late frame within half a period is no missed one.
TEST(VideoStream, FramesMissedWhileTheProgramWasHeldAreMadeUp) {
    struct Case {
        std::uint32_t periodUs;
        std::vector<DWORD> times;
        std::int32_t frames;
    };
    const Case cases[] = {
        {40'000, {0, 40, 80}, 3},       {40'000, {0, 40, 200}, 6},  // 120 and 160 missed
        {40'000, {0, 40, 99}, 3},       {40'000, {0, 40, 100}, 4},
        {33'333, {0, 33, 67, 167}, 6},  {0, {0, 40, 200}, 3},  // the period unknown: no repair
        {40'000, {0, 4000, 4040}, 102},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.periodUs);
        SCOPED_TRACE(c.times.back());
        Recording rec;
        rec.input.framePeriodUs = c.periodUs;
        rec.StartCapture();
        for (const DWORD t : c.times) rec.Frame(t);
        EXPECT_EQ(rec.state.FileVideoFrames, c.frames);
        EXPECT_EQ(rec.state.InsertCount, static_cast<std::uint32_t>(c.frames) - c.times.size());
        EXPECT_EQ(rec.state.CaptureFrames, static_cast<std::uint32_t>(c.frames));
    }
}

// The frame that opens a new file comes up to a period after the sound the file starts with:
// it is written once more for each whole 40 ms (rounded) that the sound leads it by.
TEST(VideoStream, ANewFileStartsWithItsSound) {
    struct Case {
        DWORD soundMs;
        DWORD frameMs;
        std::int32_t frames;
    };
    const Case cases[] = {{1000, 1000, 1}, {1000, 1019, 1}, {1000, 1020, 2},
                          {1000, 1040, 2}, {1000, 1100, 4}, {1000, 980, 1}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.frameMs);
        Recording rec;
        rec.input.soundBytesPerSecond = 176'400;
        rec.StartCapture();
        rec.Frame(0);
        rec.Frame(40);
        rec.state.FileBytes = recording_test::kFullFileBytes;
        rec.Audio(4);
        rec.state.CaptureSoundBytes = std::uint64_t{c.soundMs} * 176'400 / 1000;
        rec.state.LastFrameTimeMs.reset();  // only the sound places the new file
        rec.Frame(c.frameMs);
        EXPECT_EQ(rec.state.FileVideoFrames, c.frames);
        EXPECT_EQ(rec.state.InsertCount, static_cast<std::uint32_t>(c.frames - 1));
    }
}

// Large frames fill more than the margin the sound's roll-over leaves: the frame that might not
// fit (with its chunk headers, index entries and the room kept for headers and a sound buffer)
// starts the next file itself, before any write can pass the AVI 1.0 limit.
TEST(VideoStream, AFrameThatMightNotFitStartsTheNextFile) {
    for (const std::uint32_t spare : {100u, 1000u}) {
        SCOPED_TRACE(spare);
        Recording rec;
        rec.StartCapture();
        rec.Frames(2);
        rec.state.FileBytes = platform::kAviMaxFileBytes - 4 * 1024 * 1024 - spare;
        rec.Frame();
        const bool rolled = spare == 100;  // 2 frames of 64 bytes and 4 chunks' costs: 224 bytes
        EXPECT_EQ(rec.state.FileIndex, rolled ? 1 : 0);
        EXPECT_EQ(rec.state.FileVideoFrames, rolled ? 1 : 3);
        EXPECT_EQ(rec.LogLines(), rolled ? recording_test::kLogBlockLines : 0);
        EXPECT_FALSE(rec.state.WriteFailed.Met);
    }
}

TEST(VideoStream, OnlyMoreThanOneFrameCountsAsAFileToFinish) {
    for (std::uint32_t written : {1u, 2u}) {
        SCOPED_TRACE(written);
        Recording rec;
        rec.StartCapture();
        rec.Frames(static_cast<int>(written));
        rec.state.FileOpen = false;
        rec.state.TotalDefect = 50;
        rec.Frame();
        EXPECT_EQ(rec.state.TotalDefect, written == 1 ? 50 : 10);
        EXPECT_EQ(rec.state.CaptureFrames, written == 1 ? 2u : 4u);
    }
}

TEST(VideoStream, TimeModeBlinksTheTileEvery50FramesAndRecords) {
    WindowRecording rec(QStringLiteral("Time"));
    const auto tile = [&rec] { return rec.form.Panel7->palette().color(QPalette::Window); };
    ASSERT_EQ(tile(), QColor(Qt::red));
    rec.StartCapture();
    rec.Frame();
    EXPECT_EQ(tile(), QColor(Qt::green));
    rec.Frame();
    EXPECT_EQ(tile(), QColor(Qt::green));
    rec.state.FileVideoFrames = 50;
    rec.Frame();
    EXPECT_EQ(tile(), QColor(Qt::red));
    EXPECT_EQ(rec.state.CaptureFrames, 3u);
}

// ---- what is shown ----

bool IsGreen(QRgb pixel) {
    return qGreen(pixel) > 200 && qRed(pixel) < 100 && qBlue(pixel) < 100;
}

// Green pixels in a rectangle of an image.
int GreenIn(const QImage& image, const QRect& area) {
    int count = 0;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x) count += IsGreen(image.pixel(x, y));
    }
    return count;
}

// What Image1 paints on the screen.
QImage Shown(const TForm1& form) {
    return form.Image1->grab().toImage().convertToFormat(QImage::Format_RGB32);
}

TEST(StatusLine, ShowsTheCountersAsThePreviousFrameLeftThem) {
    WindowRecording rec;
    rec.StartCapture();
    rec.Frame();
    rec.state.CaptureFrames = 18125;
    rec.state.FileVideoFrames = 18125;
    rec.state.DropCount = 3;
    rec.state.InsertCount = 1;
    rec.state.Drift = 12;
    rec.Frame(725'000);
    const QRegularExpression line(QStringLiteral(
        R"(^\d\d:\d\d:\d\d - 00:12:05 - 0018125/18125/00 - 000/003/001 - \(012\)$)"));
    EXPECT_TRUE(line.match(rec.form.OverlayText).hasMatch()) << rec.form.OverlayText.toStdString();
    EXPECT_EQ(rec.state.CaptureFrames, 18126u);
}

// Signed values below zero carry a minus ahead of their zeros; unsigned ones are never negative.
TEST(StatusLine, SignsAndWidthsOfEachPiece) {
    struct Case {
        std::function<void(RecordingState&)> set;
        const char* shown;
    };
    const Case cases[] = {
        {[](RecordingState& f) { f.TotalDefect = -12; }, "0000001/00001/00 - -012/000/000 - (000)"},
        {[](RecordingState& f) { f.Drift = -5; }, "0000001/00001/00 - 000/000/000 - (-005)"},
        {[](RecordingState& f) { f.FileVideoFrames = -3; },
         "0000001/-00003/00 - 000/000/000 - (000)"},
        {[](RecordingState& f) { f.FileIndex = 65535; },
         "0000001/00001/65535 - 000/000/000 - (000)"},
        {[](RecordingState& f) { f.CaptureFrames = 4294967295u; },
         "4294967295/00001/00 - 000/000/000 - (000)"},
        {[](RecordingState& f) { f.DropCount = 3000000000u; },
         "0000001/00001/00 - 000/3000000000/000 - (000)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.shown);
        WindowRecording rec;
        rec.StartCapture();
        rec.Frame();
        c.set(rec.state);
        rec.Frame(0);
        EXPECT_TRUE(rec.form.OverlayText.endsWith(QString::fromLatin1(c.shown)))
            << rec.form.OverlayText.toStdString();
    }
}

// The line is drawn at the picture's size, and the marked picture stretched to Image1's size
// with it, pixel by pixel (nearest neighbour): nothing is blurred into the grey.
TEST(StatusLine, DrawnGreenOnACopyCentredOnTheBottomEdgeThenStretched) {
    WindowRecording rec(WindowRecording::RgbCard{}, QStringLiteral("Capture"));
    rec.StartCapture();
    rec.Frame(725'000);
    const QImage& marked = rec.form.Image1Picture;
    ASSERT_EQ(marked.size(), QSize(384, 288));
    EXPECT_EQ(marked.pixel(0, 0), qRgb(0x80, 0x80, 0x80)) << "the frame itself is shown";
    const int lineHeight = QFontMetrics(rec.form.OverlayFont, &rec.form.Image1Picture).height();
    EXPECT_GT(GreenIn(marked, QRect(0, 288 - lineHeight, 384, lineHeight)), 50);
    EXPECT_EQ(GreenIn(marked, QRect(0, 0, 384, 288 - lineHeight)), 0);
    const int left = GreenIn(marked, QRect(0, 288 - lineHeight, 192, lineHeight));
    const int right = GreenIn(marked, QRect(192, 288 - lineHeight, 192, lineHeight));
    EXPECT_NEAR(left, right, (left + right) / 4) << "centred";
    EXPECT_EQ(GreenIn(rec.form.FrameBitmap, rec.form.FrameBitmap.rect()), 0)
        << "FrameBitmap keeps the bare frame";

    const QImage shown = Shown(rec.form);
    ASSERT_EQ(shown.size(), QSize(800, 600)) << "the full screen";
    const auto nearest = [](int d, int from, int to) { return (2 * d + 1) * from / (2 * to); };
    for (int y = 0; y < 600; ++y) {
        for (int x = 0; x < 800; ++x) {
            ASSERT_EQ(shown.pixel(x, y), marked.pixel(nearest(x, 384, 800), nearest(y, 288, 600)))
                << x << "," << y;
        }
    }
}

TEST(StatusLine, AFrameThatCannotBeDrawnShowsThePreviousPicture) {
    WindowRecording rec(WindowRecording::RgbCard{}, QString());
    rec.StartCapture();
    rec.Frame();
    rec.rgbFrame.assign(rec.rgbFrame.size(), 0x20);
    rec.rgbFrame.resize(100);  // shorter than its format says: not read past its end
    rec.Frame();
    EXPECT_EQ(Shown(rec.form).pixel(0, 0), qRgb(0x80, 0x80, 0x80));
    EXPECT_EQ(rec.state.CaptureFrames, 1u) << "the service refuses it: the file does not hold it";
}

class TVMode : public ::testing::Test {
  protected:
    void TearDown() override { QGuiApplication::clipboard()->clear(); }
    WindowRecording rec{WindowRecording::RgbCard{}, QStringLiteral("TV")};
};

TEST_F(TVMode, RecordsNothingAndParksTheCursorOnEveryFrame) {
    rec.StartCapture();
    for (int frame = 0; frame < 3; ++frame) {
        SetCursorPos(10, 10);
        EXPECT_EQ(rec.Frame(), 1);
        POINT cursor{};
        GetCursorPos(&cursor);
        EXPECT_EQ(cursor.x, 1023) << "pushed beyond the bottom-right corner";
        EXPECT_EQ(cursor.y, 767);
    }
    EXPECT_FALSE(rec.state.FileOpen);
    EXPECT_EQ(rec.state.CaptureFrames, 0u);
    EXPECT_EQ(rec.state.FileVideoFrames, 0);
    // The compressor probe at start-up leaves "Null.avi"; no recording may be there.
    EXPECT_TRUE(QDir::current().entryList({QStringLiteral("VST_*.avi")}).isEmpty());
}

TEST_F(TVMode, StretchesTheFrameToTheScreenWithTheTimeAtTheBottomLeft) {
    rec.StartCapture();
    rec.Frame();
    const QImage shown = Shown(rec.form);
    ASSERT_EQ(shown.size(), QSize(1024, 768));
    EXPECT_EQ(shown.pixel(1023, 767), qRgb(0x80, 0x80, 0x80));
    const QFontMetrics metrics(rec.form.OverlayFont, &rec.form.Image1Picture);
    const QRect text = QRect(38, 768 - metrics.height() - 10,
                             metrics.horizontalAdvance(rec.form.OverlayText), metrics.height())
                           .adjusted(-2, -2, 2, 2);  // strokes may reach past the advance
    EXPECT_GT(GreenIn(shown, text), 50);
    EXPECT_EQ(GreenIn(shown, shown.rect()), GreenIn(shown, text)) << "nowhere else";
    EXPECT_EQ(rec.form.OverlayFont.pointSize(), 25);
}

TEST_F(TVMode, InsetsTheClipboardBitmapAtItsOwnSizeInTheBottomRightCorner) {
    QImage bitmap(40, 30, QImage::Format_RGB32);
    bitmap.fill(Qt::blue);
    QGuiApplication::clipboard()->setImage(bitmap);
    rec.StartCapture();
    rec.Frames(2);
    const QImage shown = Shown(rec.form);
    EXPECT_EQ(shown.pixel(1023, 767), qRgb(0, 0, 255));
    EXPECT_EQ(shown.pixel(1024 - 40, 768 - 30), qRgb(0, 0, 255));
    EXPECT_EQ(shown.pixel(1024 - 41, 767), qRgb(0x80, 0x80, 0x80));
    EXPECT_EQ(shown.pixel(1023, 768 - 31), qRgb(0x80, 0x80, 0x80));
    EXPECT_EQ(rec.form.FrameBitmap.pixel(1023, 767), qRgb(0x80, 0x80, 0x80));
}

TEST_F(TVMode, AClipboardWithoutAPictureChangesNothing) {
    QGuiApplication::clipboard()->setText(QStringLiteral("pas une image"));
    rec.StartCapture();
    EXPECT_EQ(rec.Frame(), 1);
    EXPECT_EQ(Shown(rec.form).pixel(1023, 767), qRgb(0x80, 0x80, 0x80));
}

// The whole loop on the platform's test card: a card whose picture runs 5% fast against its
// sound is held in step by dropped frames, where uncorrected it would end 1.5 s ahead.
TEST(OnTheTestCard, DroppedFramesKeepAFastCardInStepWithItsSound) {
    recording_test::WorkingDirectory directory;
    fakes::MessageRecorder boxes;
    fakes::FakeMachine machine;
    machine.description.drivers[0]->skewPpm = 50'000;
    machine.description.user.virtualClock = true;
    machine.description.user.escapeAfterMs = 30'000;
    platform::SetMachine(machine.description);
    TForm1 form({QStringLiteral("vistrel")});
    form.CompressorFourCC = QStringLiteral("MJPG");
    form.ComboBox4->setEditText(QStringLiteral("25 Images/sec"));
    form.ComboBox2->setEditText(QStringLiteral("44100 Hz"));
    form.ComboBox3->setEditText(QStringLiteral("Stéréo"));
    form.ApplyCaptureParameters();

    form.StartCapture();
    const RecordingState& state = form.Recording.State();
    EXPECT_EQ(state.AudioTimeMs, 30'000);
    EXPECT_LT(std::abs(state.Drift), 600);
    EXPECT_GT(state.DropCount, 20u);
    EXPECT_EQ(state.InsertCount, 0u);
    EXPECT_EQ(state.CaptureFrames, static_cast<std::uint32_t>(state.FileVideoFrames));
    EXPECT_EQ(form.ListBox1->count(), recording_test::kLogBlockLines);
    EXPECT_TRUE(QFile::exists(QStringLiteral("CapLog.txt")));
    EXPECT_TRUE(boxes.texts.empty());
}

}  // namespace
