// SPDX-License-Identifier: GPL-2.0-or-later
// Frames into a recording: the drift checks and their period, the frames the picture lacks
// against the sound made up, the full file paid back; and what the window shows of each frame in
// each run mode.
#include <QClipboard>
#include <QGuiApplication>
#include <QLabel>
#include <QPixmap>
#include <QRegularExpression>

#include "capture/video_display.h"
#include "platform/display.h"
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

// At each step the drift is set as the sound would leave it, then frames come. The file's frame
// count before a frame's write is what is checked: a drop leaves it on the multiple, so the next
// frames are checked again until the sound moves the drift, and a doubled frame steps over the
// count after it.
TEST(VideoStream, AWholeFrameOfDriftIsCorrectedEvery250FramesThenEvery375) {
    struct Step {
        std::int32_t drift;
        int frames;
        std::int32_t written;  // the file's frames after the step
        std::uint32_t drops;
        std::uint32_t inserts;
    };
    const Step steps[] = {
        {0, 250, 250, 0, 0},
        {39, 1, 251, 0, 0},     // at 250, less than a frame ahead
        {-39, 250, 501, 0, 0},  // at 500, less than a frame behind
        {0, 249, 750, 0, 0},
        {40, 1, 750, 1, 0},  // at 750, a frame ahead: left out, and the period becomes 375
        {45, 2, 750, 3, 0},  // left out again while the drift stays
        {0, 1, 751, 3, 0},
        {-40, 374, 1125, 3, 0},  // not checked at 1000 any more
        {-40, 1, 1127, 3, 1},    // at 1125, a frame behind: written twice
        {-40, 373, 1500, 3, 1},  // not checked at 1126
        {-40, 1, 1502, 3, 2},    // at 1500
    };
    Recording rec;
    rec.Start();
    for (const Step& step : steps) {
        SCOPED_TRACE(step.written);
        rec.reach.Drift = step.drift;
        rec.Frames(step.frames);
        ASSERT_EQ(rec.State().FileVideoFrames, step.written);
        EXPECT_EQ(rec.State().DropCount, step.drops);
        EXPECT_EQ(rec.State().InsertCount, step.inserts);
    }
    // The full file's block tells what was done to it.
    rec.RollOver();
    ASSERT_EQ(rec.Log().size(), recording_test::kLogBlockLines);
    EXPECT_EQ(rec.Log().mid(3, 5),
              (QStringList{"Cp Video     : 1502", "Cp Audio     : 1", "Drop 1       : 0",
                           "Drop 2       : 3", "Insert       : 2"}));
    // The period stays 375 for the rest of the capture.
    rec.Frames(375);
    rec.reach.Drift = 40;
    rec.Frame();
    EXPECT_EQ(rec.State().FileVideoFrames, 375);
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
        SCOPED_TRACE(testing::Message() << c.periodUs << " " << c.times.back());
        Recording rec;
        rec.input.framePeriodUs = c.periodUs;
        rec.Start();
        for (const DWORD t : c.times) rec.Frame(t);
        EXPECT_EQ(rec.State().FileVideoFrames, c.frames);
        EXPECT_EQ(rec.State().InsertCount, static_cast<std::uint32_t>(c.frames) - c.times.size());
        EXPECT_EQ(rec.State().CaptureFrames, static_cast<std::uint32_t>(c.frames));
    }
}

// A new file's sound starts where the full one's ended, up to a period before the frame that
// opens it: that frame is written once more for each whole 40 ms (rounded) the sound leads it by.
TEST(VideoStream, ANewFileStartsWithItsSound) {
    const std::pair<DWORD, std::int32_t> cases[] = {{1000, 1}, {1019, 1}, {1020, 2},
                                                    {1040, 2}, {1100, 4}, {980, 1}};
    for (const auto& [frameMs, frames] : cases) {
        SCOPED_TRACE(frameMs);
        Recording rec;
        rec.input.soundBytesPerSecond = 176'400;
        rec.Start();
        rec.Frame(0);
        rec.Frame(40);
        rec.RollOver(176'400);  // the capture's first second of sound
        rec.Frame(frameMs);
        EXPECT_EQ(rec.State().FileVideoFrames, frames);
        EXPECT_EQ(rec.State().InsertCount, static_cast<std::uint32_t>(frames - 1));
    }
}

// At the roll-over the full file's drift is added to the defect; the frame that opens the next
// file first pays back one whole frame of it at the end of the full file, which a file of a single
// frame is not given. The next file starts in step whatever drift the full one had: its first
// check acts on no drift.
TEST(VideoStream, TheFullFileIsPaidBackOneFrameAndTheNextStartsInStep) {
    struct Case {
        int frames;          // in the full file
        DWORD soundBytes;    // its one buffer
        std::int32_t drift;  // what they leave
        std::uint32_t extra;
        std::int32_t left;
    };
    const Case cases[] = {
        {2, 7233, 39, 0, 39},  {2, 7056, 40, 1, 0}, {2, 20992, -39, 0, 39},
        {2, 21168, -40, 1, 0}, {2, 4, 80, 1, 40},  // one frame, however much is owed
        {1, 4, 40, 0, 40},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.frames << " " << c.soundBytes);
        Recording rec;
        rec.Start();
        rec.Frames(c.frames);
        rec.RollOver(c.soundBytes);
        ASSERT_EQ(rec.State().Drift, c.drift);
        rec.Frames(3);
        EXPECT_EQ(rec.State().TotalDefect, c.left);
        EXPECT_EQ(rec.State().FileVideoFrames, 3) << "nothing dropped or doubled";
        EXPECT_EQ(rec.State().CaptureFrames, c.frames + c.extra + 3);
    }
}

// ---- what the window shows ----

TEST(VideoStream, TimeModeBlinksTheTileEvery50FramesAndRecords) {
    WindowRecording rec(QStringLiteral("Time"));
    const auto tile = [&rec] { return rec.form.Panel7->palette().color(QPalette::Window); };
    ASSERT_EQ(tile(), QColor(Qt::red));
    rec.StartCapture();
    rec.Frame();
    EXPECT_EQ(tile(), QColor(Qt::green));
    rec.Frames(49);
    EXPECT_EQ(tile(), QColor(Qt::green));
    rec.Frame();
    EXPECT_EQ(tile(), QColor(Qt::red));
    EXPECT_EQ(rec.State().CaptureFrames, 51u);
}

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

// The line is drawn before the frame is recorded; every counter has a value of its own here, so
// that each is seen in its place.
TEST(StatusLine, ShowsTheCountersAsThePreviousFrameLeftThem) {
    WindowRecording rec;
    rec.StartCapture();
    rec.Frame();
    rec.reach.CaptureFrames = 18125;
    rec.reach.FileVideoFrames = 18120;
    rec.reach.FileIndex = 2;
    rec.reach.TotalDefect = 7;
    rec.reach.DropCount = 3;
    rec.reach.InsertCount = 1;
    rec.reach.Drift = 12;
    rec.Frame(725'000);
    const QRegularExpression line(QStringLiteral(
        R"(^\d\d:\d\d:\d\d - 00:12:05 - 0018125/18120/02 - 007/003/001 - \(012\)$)"));
    EXPECT_TRUE(line.match(rec.form.OverlayText).hasMatch()) << rec.form.OverlayText.toStdString();
    EXPECT_EQ(rec.State().CaptureFrames, 18126u);
}

// Signed values below zero carry a minus ahead of their zeros; unsigned ones are never negative.
TEST(StatusLine, SignsAndWidthsOfEachPiece) {
    const struct {
        RecordingFigures figures;
        const char* shown;
    } cases[] = {
        {{.totalDefect = -12}, "0000000/00000/00 - -012/000/000 - (000)"},
        {{.drift = -5}, "0000000/00000/00 - 000/000/000 - (-005)"},
        {{.fileFrames = -3}, "0000000/-00003/00 - 000/000/000 - (000)"},
        {{.fileIndex = 65535}, "0000000/00000/65535 - 000/000/000 - (000)"},
        {{.captureFrames = 4294967295u}, "4294967295/00000/00 - 000/000/000 - (000)"},
        {{.drops = 3000000000u}, "0000000/00000/00 - 000/3000000000/000 - (000)"},
    };
    WindowRecording rec;
    rec.StartCapture();
    for (const auto& c : cases) {
        ShowStatusFrame(rec.form.Display, recording_test::FrameHeader(rec.picture, 0), c.figures);
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
    rec.picture.assign(rec.picture.size(), 0x20);
    rec.picture.resize(100);  // shorter than its format says: not read past its end
    rec.Frame();
    EXPECT_EQ(Shown(rec.form).pixel(0, 0), qRgb(0x80, 0x80, 0x80));
    EXPECT_EQ(rec.State().CaptureFrames, 1u) << "the service refuses it: the file does not hold it";
}

class TVMode : public ::testing::Test {
  protected:
    void TearDown() override { QGuiApplication::clipboard()->clear(); }
    WindowRecording rec{WindowRecording::RgbCard{}, QStringLiteral("TV")};
};

// Every frame: stretched over the screen with the time at the bottom left, the cursor pushed out
// of sight, nothing recorded.
TEST_F(TVMode, ShowsTheFrameOverTheScreenWithTheTimeAndRecordsNothing) {
    rec.StartCapture();
    for (int frame = 0; frame < 3; ++frame) {
        SetCursorPos(10, 10);
        EXPECT_EQ(rec.Frame(), 1);
        POINT cursor{};
        GetCursorPos(&cursor);
        EXPECT_EQ(cursor.x, 1023) << "pushed beyond the bottom-right corner";
        EXPECT_EQ(cursor.y, 767);
    }
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
    EXPECT_FALSE(rec.State().FileOpen);
    EXPECT_EQ(rec.State().CaptureFrames, 0u);
    // The compressor probe at start-up leaves "Null.avi"; no recording may be there.
    EXPECT_TRUE(QDir::current().entryList({QStringLiteral("VST_*.avi")}).isEmpty());
}

// A picture on the clipboard is inset at its own size in the bottom-right corner of what is
// shown, not of the frame kept; anything else there changes nothing.
TEST_F(TVMode, InsetsTheClipboardPictureInTheBottomRightCorner) {
    rec.StartCapture();
    QGuiApplication::clipboard()->setText(QStringLiteral("pas une image"));
    rec.Frame();
    EXPECT_EQ(Shown(rec.form).pixel(1023, 767), qRgb(0x80, 0x80, 0x80));
    QImage bitmap(40, 30, QImage::Format_RGB32);
    bitmap.fill(Qt::blue);
    QGuiApplication::clipboard()->setImage(bitmap);
    rec.Frame();
    const QImage shown = Shown(rec.form);
    EXPECT_EQ(shown.pixel(1023, 767), qRgb(0, 0, 255));
    EXPECT_EQ(shown.pixel(1024 - 40, 768 - 30), qRgb(0, 0, 255));
    EXPECT_EQ(shown.pixel(1024 - 41, 767), qRgb(0x80, 0x80, 0x80));
    EXPECT_EQ(shown.pixel(1023, 768 - 31), qRgb(0x80, 0x80, 0x80));
    EXPECT_EQ(rec.form.FrameBitmap.pixel(1023, 767), qRgb(0x80, 0x80, 0x80));
}

}  // namespace
