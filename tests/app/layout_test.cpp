// SPDX-License-Identifier: GPL-2.0-or-later
#include <gtest/gtest.h>

#include <QLabel>
#include <cstring>

#include "tests/fakes/form_under_test.h"

namespace {

using fakes::FormUnderTest;

struct PercentCase {
    long value;
    long double percent;
    std::uint16_t expected;
};

TEST(Percent, TruncatesTowardZeroAndKeepsTheLow16Bits) {
    const PercentCase cases[] = {
        {1024, 4, 40}, {768, 94.5L, 725},   {1920, 48, 921}, {1366, 4, 54},
        {768, 4, 30},  {1366, 48, 655},     {1023, 4, 40},   {1079, 94.5L, 1019},
        {0, 94.5L, 0}, {200000, 48, 30464},  // 96000 cut to 16 bits
    };
    for (const PercentCase& c : cases) {
        EXPECT_EQ(TForm1::Percent(c.value, c.percent), c.expected)
            << c.value << " x " << static_cast<double>(c.percent) << "%";
    }
}

struct WindowedCase {
    const char* name;
    int windowWidthBefore;
    std::uint16_t imageWidth, imageHeight;
    int height, panel1Left, panel3Left, panel3Width, panel3Height, panel2Top;
};

TEST(LayoutWindowed, CentresOnTheWidthTheWindowHadBeforeItIsSet) {
    const WindowedCase cases[] = {
        {"first layout 384x288", 595, 384, 288, 485, 105, 97, 400, 304, 333},
        {"later layout 384x288", 593, 384, 288, 485, 104, 96, 400, 304, 333},
        {"no driver 0x0", 595, 0, 0, 197, 297, 289, 16, 16, 45},
        {"320x240", 595, 320, 240, 437, 137, 129, 336, 256, 285},
    };
    for (const WindowedCase& c : cases) {
        SCOPED_TRACE(c.name);
        FormUnderTest run;
        TForm1& form = run.Create();
        form.resize(c.windowWidthBefore, 545);
        form.ImageWidth = c.imageWidth;
        form.ImageHeight = c.imageHeight;
        form.LayoutWindowed();
        EXPECT_EQ(form.size(), QSize(593, c.height));
        EXPECT_EQ(form.Panel1->geometry(), QRect(c.panel1Left, 23, c.imageWidth, c.imageHeight));
        EXPECT_EQ(form.Panel6->geometry(), form.Panel1->geometry());
        EXPECT_EQ(form.Panel3->geometry(), QRect(c.panel3Left, 15, c.panel3Width, c.panel3Height));
        EXPECT_EQ(form.Panel2->geometry(), QRect(20, c.panel2Top, 553, 137));
        EXPECT_EQ(form.Panel5->geometry(), QRect(20, 15, 553, 241));
    }
}

TEST(LayoutFullScreen, CoversTheDesktopAndCentresTheTargetPicture) {
    FormUnderTest run({0}, 1280, 1024);
    TForm1& form = run.Create();
    form.TargetWidth = 800;
    form.TargetHeight = 600;
    form.LayoutFullScreen();
    EXPECT_EQ(form.geometry(), QRect(0, 0, 1280, 1024));
    EXPECT_EQ(form.Panel6->geometry(), QRect(-1, -1, 1282, 1026));
    EXPECT_EQ(form.Panel1->size(), QSize(384, 288)) << "the capture panel keeps its place";
}

TEST(LayoutFullScreen, Image1GivenTheTargetSizeUntilPanel6IsShown) {
    FormUnderTest run({0}, 1024, 768);
    TForm1& form = run.Create(QStringLiteral("TV"));
    form.Panel6->hide();
    form.LayoutFullScreen();
    EXPECT_EQ(form.Image1->geometry(), QRect(0, 0, 1024, 768));
    form.TargetWidth = 800;
    form.TargetHeight = 600;
    form.LayoutFullScreen();
    EXPECT_EQ(form.Image1->geometry(), QRect(112, 84, 800, 600));
    form.show();
    form.Panel6->show();
    EXPECT_EQ(form.Image1->geometry(), QRect(1, 1, 1024, 768));
    EXPECT_EQ(form.Image1->mapTo(&form, QPoint(0, 0)), QPoint(0, 0));
}

struct FitCase {
    LONG width, height;
    int panel1Left, panel3Left;
};

TEST(FitToCaptureFormat, NegativeCentringRoundsTowardZero) {
    const FitCase cases[] = {
        {384, 288, 104, 96},
        {320, 240, 136, 128},
        {594, 10, 0, -8},   // 1 wider than the window: -0.5 gives 0
        {596, 10, -1, -9},  // 3 wider: -1.5 gives -1
    };
    for (const FitCase& c : cases) {
        SCOPED_TRACE(c.width);
        FormUnderTest run;
        TForm1& form = run.Create();
        ASSERT_EQ(form.width(), 593);
        const int top = form.Panel1->y();
        const int height = form.height();
        BITMAPINFOHEADER header = form.CaptureFormatHeader();
        header.biWidth = c.width;
        header.biHeight = c.height;
        std::memcpy(form.CaptureFormat.data(), &header, sizeof(header));
        form.FitToCaptureFormat();
        EXPECT_EQ(form.Panel1->geometry(), QRect(c.panel1Left, top, c.width, c.height));
        EXPECT_EQ(form.Image1->geometry().left(), c.panel1Left);
        EXPECT_EQ(form.Image1->size(), QSize(c.width, c.height));
        EXPECT_EQ(form.Panel3->geometry(), QRect(c.panel3Left, 15, c.width + 16, c.height + 16));
        EXPECT_EQ(form.height(), height) << "the window height is not recomputed";
    }
}

struct TimeCase {
    int width, height;
    QRect tile, window;
};

TEST(TimeMode, TileAndWindowArePercentsOfTheDesktop) {
    const TimeCase cases[] = {
        {1024, 768, QRect(0, 0, 40, 30), QRect(491, 725, 40, 30)},
        {1366, 768, QRect(0, 0, 54, 30), QRect(655, 725, 54, 30)},
        {1920, 1080, QRect(0, 0, 76, 43), QRect(921, 1020, 76, 43)},
    };
    for (const TimeCase& c : cases) {
        SCOPED_TRACE(c.width);
        FormUnderTest run({0}, c.width, c.height);
        TForm1& form = run.Create(QStringLiteral("Time"));
        EXPECT_FALSE(form.Panel7->isHidden());
        EXPECT_EQ(form.Panel7->geometry(), c.tile);
        EXPECT_EQ(form.Panel7->palette().color(QPalette::Window), QColor(255, 0, 0));
        EXPECT_TRUE(form.windowFlags().testFlag(Qt::WindowStaysOnTopHint));
        form.PlaceTimeWindow();
        EXPECT_EQ(form.geometry(), c.window);
    }
}

TEST(Image1, FillsPanel6InsideItsBevelWhenShownOrResized) {
    FormUnderTest run;
    TForm1& form = run.Create();
    form.show();
    form.Panel6->show();
    EXPECT_EQ(form.Image1->geometry(), QRect(QPoint(1, 1), form.Panel6->size() - QSize(2, 2)));
    form.Panel6->resize(201, 150);
    EXPECT_EQ(form.Image1->geometry(), QRect(1, 1, 199, 148));
    EXPECT_TRUE(form.Image1->hasScaledContents());
    EXPECT_EQ(form.Image1->pixmap().size(), QSize(900, 700));
}

}  // namespace
