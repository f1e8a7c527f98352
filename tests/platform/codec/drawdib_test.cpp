// SPDX-License-Identifier: GPL-2.0-or-later
// DrawDib: every source layout drawn to the right place in the right colours, stretching,
// sub-rectangles, clipping, JPEG frames whole and damaged, and everything that must be refused.
#include "platform/drawdib.h"

#include <gtest/gtest.h>
#include <turbojpeg.h>

#include <QColor>
#include <QImage>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "tests/support/alloc_counter.h"

namespace {

constexpr QRgb kSentinel = 0xFF123456;

// A distinct colour for each pixel of a small picture, (x, y) counted from the top.
QRgb Colour(int x, int y) {
    return qRgb(10 + 37 * x % 240, 20 + 53 * y % 230, 90 + 11 * (x + y) % 160);
}

struct Dib {
    BITMAPINFOHEADER header{};
    std::vector<BYTE> bits;
};

int Stride(int width, int bitCount) {
    return (width * bitCount + 31) / 32 * 4;
}

BITMAPINFOHEADER Header(int width, int height, int bitCount, DWORD compression, DWORD size) {
    BITMAPINFOHEADER header{};
    header.biSize = sizeof(BITMAPINFOHEADER);
    header.biWidth = width;
    header.biHeight = height;
    header.biPlanes = 1;
    header.biBitCount = static_cast<WORD>(bitCount);
    header.biCompression = compression;
    header.biSizeImage = size;
    return header;
}

// The picture as a DIB; padding and the unused fourth byte hold junk that must never show.
Dib MakeDib(int width, int height, int bitCount, bool bottomUp) {
    const int stride = Stride(width, bitCount);
    Dib dib{Header(width, bottomUp ? height : -height, bitCount, BI_RGB, DWORD(stride * height)),
            std::vector<BYTE>(std::size_t(stride * height), 0xAB)};
    for (int y = 0; y < height; ++y) {
        BYTE* row = dib.bits.data() + (bottomUp ? height - 1 - y : y) * stride;
        for (int x = 0; x < width; ++x) {
            BYTE* p = row + x * bitCount / 8;
            p[0] = static_cast<BYTE>(qBlue(Colour(x, y)));
            p[1] = static_cast<BYTE>(qGreen(Colour(x, y)));
            p[2] = static_cast<BYTE>(qRed(Colour(x, y)));
            if (bitCount == 32) p[3] = 0;
        }
    }
    return dib;
}

// The picture compressed at high quality with full chroma.
Dib MakeJpeg(int width, int height, DWORD fourcc = MAKEFOURCC('M', 'J', 'P', 'G')) {
    const Dib rgb = MakeDib(width, height, 24, false);
    tjhandle compressor = tjInitCompress();
    unsigned char* jpeg = nullptr;
    unsigned long size = 0;
    const int failed = tjCompress2(compressor, rgb.bits.data(), width, Stride(width, 24), height,
                                   TJPF_BGR, &jpeg, &size, TJSAMP_444, 95, 0);
    Dib dib{Header(width, height, 24, fourcc, DWORD(size)), {}};
    if (failed == 0) dib.bits.assign(jpeg, jpeg + size);
    tjFree(jpeg);
    tjDestroy(compressor);
    return dib;
}

QImage Canvas(int width, int height, QImage::Format format = QImage::Format_RGB32) {
    QImage image(width, height, format);
    image.fill(QColor::fromRgb(kSentinel));
    return image;
}

bool Close(QRgb a, QRgb b, int tolerance) {
    return std::abs(qRed(a) - qRed(b)) <= tolerance &&
           std::abs(qGreen(a) - qGreen(b)) <= tolerance &&
           std::abs(qBlue(a) - qBlue(b)) <= tolerance;
}

bool Untouched(const QImage& image) {
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (image.pixel(x, y) != kSentinel) return false;
    return true;
}

class DrawDibTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_NE(hdd_, nullptr); }
    void TearDown() override { DrawDibClose(hdd_); }

    BOOL Draw(QImage& image, Dib& dib, int x, int y, int dx, int dy, int sx = 0, int sy = 0,
              int sdx = -1, int sdy = -1, UINT flags = 0) {
        return DrawDibDraw(hdd_, platform::DeviceContextOf(&image), x, y, dx, dy, &dib.header,
                           dib.bits.data(), sx, sy, sdx, sdy, flags);
    }

    HDRAWDIB hdd_ = DrawDibOpen();
};

struct Layout {
    int bitCount;
    bool bottomUp;
};

class DrawDibLayoutTest : public DrawDibTest, public ::testing::WithParamInterface<Layout> {};

// Width 5 pads 24-bit rows; the picture lands at (2, 3) and nothing else is touched.
TEST_P(DrawDibLayoutTest, DrawsThePictureUprightAtItsPlace) {
    Dib dib = MakeDib(5, 4, GetParam().bitCount, GetParam().bottomUp);
    QImage image = Canvas(9, 9);
    ASSERT_EQ(Draw(image, dib, 2, 3, -1, -1), TRUE);
    for (int y = 0; y < 9; ++y)
        for (int x = 0; x < 9; ++x) {
            const bool inside = x >= 2 && x < 7 && y >= 3 && y < 7;
            EXPECT_EQ(image.pixel(x, y), inside ? Colour(x - 2, y - 3) : kSentinel)
                << "at " << x << "," << y;
        }
}

// The source rectangle counts from the top-left corner whatever the row order.
TEST_P(DrawDibLayoutTest, SourceRectangleCountsFromTheTop) {
    Dib dib = MakeDib(6, 5, GetParam().bitCount, GetParam().bottomUp);
    QImage image = Canvas(3, 2);
    ASSERT_EQ(Draw(image, dib, 0, 0, 3, 2, 2, 1, 3, 2), TRUE);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x) EXPECT_EQ(image.pixel(x, y), Colour(x + 2, y + 1));
}

INSTANTIATE_TEST_SUITE_P(Layouts, DrawDibLayoutTest,
                         ::testing::Values(Layout{24, true}, Layout{24, false}, Layout{32, true},
                                           Layout{32, false}),
                         [](const auto& param) {
                             return std::to_string(param.param.bitCount) +
                                    (param.param.bottomUp ? "BottomUp" : "TopDown");
                         });

TEST_F(DrawDibTest, StretchesByNearestNeighbour) {
    Dib dib = MakeDib(4, 3, 24, true);
    QImage image = Canvas(12, 9);
    ASSERT_EQ(Draw(image, dib, 0, 0, 12, 9), TRUE);
    for (int y = 0; y < 9; ++y)
        for (int x = 0; x < 12; ++x) EXPECT_EQ(image.pixel(x, y), Colour(x / 3, y / 3));

    QImage smaller = Canvas(2, 3);
    ASSERT_EQ(Draw(smaller, dib, 0, 0, 2, 3), TRUE);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 2; ++x) EXPECT_EQ(smaller.pixel(x, y), Colour(2 * x + 1, y));

    // The live display's case: a capture-size frame on a whole screen.
    Dib frame = MakeDib(384, 288, 24, true);
    QImage screen = Canvas(1024, 768);
    ASSERT_EQ(Draw(screen, frame, 0, 0, 1024, 768), TRUE);
    EXPECT_EQ(screen.pixel(512, 384), Colour(192, 144));
    EXPECT_EQ(screen.pixel(1023, 767), Colour(383, 287));
}

TEST_F(DrawDibTest, ZeroOrMinusOneSourceSizeReachesTheFarEdge) {
    Dib dib = MakeDib(6, 5, 32, true);
    QImage image = Canvas(4, 3);
    ASSERT_EQ(Draw(image, dib, 0, 0, 4, 3, 2, 2, 0, -1), TRUE);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 4; ++x) EXPECT_EQ(image.pixel(x, y), Colour(x + 2, y + 2));
}

TEST_F(DrawDibTest, ClipsWhatFallsOutsideTheImage) {
    Dib dib = MakeDib(5, 4, 24, false);
    QImage image = Canvas(4, 3);
    ASSERT_EQ(Draw(image, dib, -2, -1, 10, 8), TRUE);  // doubled, shifted up and left
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 4; ++x) EXPECT_EQ(image.pixel(x, y), Colour((x + 2) / 2, (y + 1) / 2));

    QImage huge = Canvas(4, 3);  // a destination far larger than any image
    ASSERT_EQ(Draw(huge, dib, -1000000000, 0, 2000000000, 6), TRUE);
    EXPECT_EQ(huge.pixel(0, 0), Colour(2, 0));

    QImage away = Canvas(4, 3);
    EXPECT_EQ(Draw(away, dib, 100, 100, -1, -1), TRUE);
    EXPECT_TRUE(Untouched(away));
}

// The off-screen bitmap is resized (TV mode) after its handle was taken.
TEST_F(DrawDibTest, DeviceContextFollowsTheImageThroughAResize) {
    Dib dib = MakeDib(4, 3, 24, true);
    QImage image = Canvas(4, 3);
    HDC dc = platform::DeviceContextOf(&image);
    image = Canvas(8, 6);
    ASSERT_EQ(DrawDibDraw(hdd_, dc, 0, 0, 8, 6, &dib.header, dib.bits.data(), 0, 0, 4, 3, 0), TRUE);
    EXPECT_EQ(image.pixel(7, 5), Colour(3, 2));
    EXPECT_EQ(platform::ImageOf(dc), &image);
}

// A copy taken before drawing (the picture control's) keeps its picture.
TEST_F(DrawDibTest, ACopyOfTheImageIsNotDrawnInto) {
    Dib dib = MakeDib(4, 3, 24, true);
    QImage image = Canvas(4, 3);
    const QImage copy = image;
    ASSERT_EQ(Draw(image, dib, 0, 0, -1, -1), TRUE);
    EXPECT_TRUE(Untouched(copy));
    EXPECT_EQ(image.pixel(1, 1), Colour(1, 1));
}

TEST_F(DrawDibTest, ImagesOfOtherFormatsArePaintedAlike) {
    Dib dib = MakeDib(5, 4, 24, true);
    for (QImage::Format format :
         {QImage::Format_RGB888, QImage::Format_ARGB32_Premultiplied, QImage::Format_RGBX8888}) {
        QImage image = Canvas(9, 9, format);
        ASSERT_EQ(Draw(image, dib, 2, 3, 10, 8), TRUE) << format;
        EXPECT_EQ(image.pixel(2, 3), Colour(0, 0)) << format;
        EXPECT_EQ(image.pixel(8, 8), Colour(3, 2)) << format;
        EXPECT_EQ(image.pixel(1, 3), kSentinel) << format;
    }
    QImage indexed(4, 4, QImage::Format_Indexed8);
    EXPECT_EQ(Draw(indexed, dib, 0, 0, -1, -1), FALSE);
}

// Sizes change between frames: buffers kept from a larger frame must not leak into a smaller.
TEST_F(DrawDibTest, FramesOfChangingSizesDrawRight) {
    for (int side : {16, 4, 24}) {
        Dib jpeg = MakeJpeg(side, side);
        QImage image = Canvas(side * 2, side);
        ASSERT_EQ(Draw(image, jpeg, 0, 0, side * 2, side), TRUE) << side;
        EXPECT_TRUE(Close(image.pixel(side * 2 - 1, side - 1), Colour(side - 1, side - 1), 40));
        Dib rgb = MakeDib(side, side, 24, true);
        ASSERT_EQ(Draw(image, rgb, 0, 0, side, side / 2), TRUE);
        EXPECT_EQ(image.pixel(side - 1, side / 2 - 1), Colour(side - 1, side - 1)) << side;
    }
}

// JPEG is lossy: each pixel within a tolerance, and the mean error small; then a stretched
// sub-rectangle.
TEST_F(DrawDibTest, DecodesMotionJpegFrames) {
    for (DWORD fourcc : {MAKEFOURCC('M', 'J', 'P', 'G'), MAKEFOURCC('m', 'j', 'p', 'g')}) {
        Dib jpeg = MakeJpeg(64, 48, fourcc);
        jpeg.bits.resize(jpeg.bits.size() + 1000);  // a capture buffer larger than the frame
        jpeg.header.biSizeImage = static_cast<DWORD>(jpeg.bits.size());
        QImage image = Canvas(70, 52);
        ASSERT_EQ(Draw(image, jpeg, 3, 2, -1, -1), TRUE);
        long error = 0;
        for (int y = 0; y < 48; ++y)
            for (int x = 0; x < 64; ++x) {
                const QRgb drawn = image.pixel(x + 3, y + 2);
                EXPECT_TRUE(Close(drawn, Colour(x, y), 48)) << x << "," << y;
                error += std::abs(qGreen(drawn) - qGreen(Colour(x, y)));
                EXPECT_EQ(qAlpha(drawn), 255);
            }
        EXPECT_LT(error / (64 * 48), 6);
        EXPECT_EQ(image.pixel(2, 2), kSentinel);
        EXPECT_EQ(image.pixel(67, 50), kSentinel);
    }
    Dib jpeg = MakeJpeg(32, 32);
    QImage image = Canvas(32, 32);
    ASSERT_EQ(Draw(image, jpeg, 0, 0, 32, 32, 8, 8, 16, 16), TRUE);
    EXPECT_TRUE(Close(image.pixel(0, 0), Colour(8, 8), 40));
    EXPECT_TRUE(Close(image.pixel(31, 31), Colour(23, 23), 40));

    // Once the sizes are known a frame allocates nothing, the decoder's working memory included,
    // whether decoded in place or through the context's buffer.
    const long news = alloc_counter::Allocations(), mallocs = alloc_counter::Mallocs();
    for (int n = 0; n < 3; ++n) {
        ASSERT_EQ(Draw(image, jpeg, 0, 0, 32, 32, 8, 8, 16, 16), TRUE);
        ASSERT_EQ(Draw(image, jpeg, 0, 0, -1, -1), TRUE);
    }
    EXPECT_EQ(alloc_counter::Allocations(), news);
    EXPECT_EQ(alloc_counter::Mallocs(), mallocs);
}

// The frame's bytes end where biSizeImage says: here in a buffer of exactly that size, so that
// any read beyond it is caught by the address sanitizer.
TEST_F(DrawDibTest, DrawsWhatATruncatedJpegHolds) {
    Dib jpeg = MakeJpeg(64, 64);
    jpeg.bits.resize(jpeg.bits.size() / 2);
    jpeg.bits.shrink_to_fit();
    jpeg.header.biSizeImage = static_cast<DWORD>(jpeg.bits.size());
    for (int scale : {1, 2}) {  // decoded in place, and through the context's buffer
        QImage image = Canvas(64 * scale, 64 * scale);
        EXPECT_EQ(Draw(image, jpeg, 0, 0, 64 * scale, 64 * scale), FALSE);
        EXPECT_TRUE(Close(image.pixel(5 * scale, 2 * scale), Colour(5, 2), 48));
        EXPECT_NE(image.pixel(64 * scale - 1, 64 * scale - 1), kSentinel);
    }
}

TEST_F(DrawDibTest, RefusesJpegDataItCannotDecode) {
    Dib cut = MakeJpeg(16, 16);
    cut.bits.resize(20);
    cut.bits.shrink_to_fit();
    cut.header.biSizeImage = 20;
    Dib garbage = MakeJpeg(16, 16);
    for (std::size_t i = 0; i < garbage.bits.size(); ++i) garbage.bits[i] = BYTE(i * 7);
    Dib noLength = MakeJpeg(16, 16);
    noLength.header.biSizeImage = 0;
    Dib otherSize = MakeJpeg(16, 16);
    otherSize.header.biWidth = 32;
    for (Dib* dib : {&cut, &garbage, &noLength, &otherSize}) {
        QImage image = Canvas(16, 16);
        EXPECT_EQ(Draw(image, *dib, 0, 0, -1, -1), FALSE);
        EXPECT_TRUE(Untouched(image));
    }
}

TEST_F(DrawDibTest, RefusesWhatItCannotDrawSafely) {
    struct Case {
        const char* name;
        void (*spoil)(BITMAPINFOHEADER&);
    };
    const Case cases[] = {
        {"8-bit", [](BITMAPINFOHEADER& h) { h.biBitCount = 8; }},
        {"16-bit", [](BITMAPINFOHEADER& h) { h.biBitCount = 16; }},
        {"RLE8", [](BITMAPINFOHEADER& h) { h.biCompression = BI_RLE8; }},
        {"RLE4", [](BITMAPINFOHEADER& h) { h.biCompression = BI_RLE4; }},
        {"bit fields", [](BITMAPINFOHEADER& h) { h.biCompression = BI_BITFIELDS; }},
        {"other FourCC",
         [](BITMAPINFOHEADER& h) { h.biCompression = MAKEFOURCC('D', 'I', 'V', 'X'); }},
        {"short header", [](BITMAPINFOHEADER& h) { h.biSize = 12; }},
        {"no width", [](BITMAPINFOHEADER& h) { h.biWidth = 0; }},
        {"negative width", [](BITMAPINFOHEADER& h) { h.biWidth = -4; }},
        {"no height", [](BITMAPINFOHEADER& h) { h.biHeight = 0; }},
        {"huge width", [](BITMAPINFOHEADER& h) { h.biWidth = 1 << 20; }},
        {"most negative height", [](BITMAPINFOHEADER& h) { h.biHeight = INT32_MIN; }},
        {"bits one byte short", [](BITMAPINFOHEADER& h) { h.biSizeImage -= 1; }},
    };
    for (const Case& c : cases) {
        Dib dib = MakeDib(5, 4, 24, true);
        c.spoil(dib.header);
        QImage image = Canvas(8, 8);
        EXPECT_EQ(Draw(image, dib, 0, 0, -1, -1), FALSE) << c.name;
        EXPECT_TRUE(Untouched(image)) << c.name;
    }
}

TEST_F(DrawDibTest, RefusesRectanglesOutsideThePictureOrEmpty) {
    Dib dib = MakeDib(5, 4, 24, true);
    QImage image = Canvas(8, 8);
    EXPECT_EQ(Draw(image, dib, 0, 0, -1, -1, 3, 0, 3, 4), FALSE);  // past the right edge
    EXPECT_EQ(Draw(image, dib, 0, 0, -1, -1, 0, 4, 5, 1), FALSE);  // below the bottom
    EXPECT_EQ(Draw(image, dib, 0, 0, -1, -1, -1, 0, 2, 2), FALSE);
    EXPECT_EQ(Draw(image, dib, 0, 0, -1, -1, 0, 0, -2, 2), FALSE);
    EXPECT_EQ(Draw(image, dib, 0, 0, -1, -1, INT32_MAX, 0, 2, 2), FALSE);
    EXPECT_EQ(Draw(image, dib, 0, 0, -1, -1, INT32_MIN, INT32_MIN, -1, -1), FALSE);
    EXPECT_EQ(Draw(image, dib, 0, 0, 0, 4), FALSE);
    EXPECT_EQ(Draw(image, dib, 0, 0, 4, -2), FALSE);
    EXPECT_TRUE(Untouched(image));
    EXPECT_EQ(Draw(image, dib, INT32_MAX - 4, INT32_MAX - 4, INT32_MAX, INT32_MAX), TRUE);
    EXPECT_EQ(Draw(image, dib, INT32_MIN, INT32_MIN, INT32_MAX, INT32_MAX), TRUE);
    EXPECT_TRUE(Untouched(image));  // both wholly outside the image
}

TEST_F(DrawDibTest, RefusesMissingPiecesAndBadHandles) {
    Dib dib = MakeDib(4, 4, 24, true);
    QImage image = Canvas(4, 4);
    HDC dc = platform::DeviceContextOf(&image);
    QImage none;
    EXPECT_EQ(DrawDibDraw(hdd_, dc, 0, 0, -1, -1, nullptr, dib.bits.data(), 0, 0, -1, -1, 0),
              FALSE);
    EXPECT_EQ(DrawDibDraw(hdd_, dc, 0, 0, -1, -1, &dib.header, nullptr, 0, 0, -1, -1, 0), FALSE);
    EXPECT_EQ(
        DrawDibDraw(hdd_, nullptr, 0, 0, -1, -1, &dib.header, dib.bits.data(), 0, 0, -1, -1, 0),
        FALSE);
    EXPECT_EQ(Draw(none, dib, 0, 0, -1, -1), FALSE);
    EXPECT_EQ(DrawDibDraw(nullptr, dc, 0, 0, -1, -1, &dib.header, dib.bits.data(), 0, 0, -1, -1, 0),
              FALSE);
    HDRAWDIB closed = DrawDibOpen();
    ASSERT_NE(closed, nullptr);
    EXPECT_NE(closed, hdd_);
    EXPECT_EQ(DrawDibClose(closed), TRUE);
    EXPECT_EQ(DrawDibDraw(closed, dc, 0, 0, -1, -1, &dib.header, dib.bits.data(), 0, 0, -1, -1, 0),
              FALSE);
    EXPECT_TRUE(Untouched(image));
    EXPECT_EQ(DrawDibClose(closed), FALSE);
    EXPECT_EQ(DrawDibClose(nullptr), FALSE);
    EXPECT_EQ(DrawDibClose(reinterpret_cast<HDRAWDIB>(0x1234)), FALSE);
    EXPECT_EQ(platform::DeviceContextOf(nullptr), nullptr);
}

TEST_F(DrawDibTest, FlagsThatChangeWhatIsDone) {
    Dib dib = MakeDib(4, 4, 24, true);
    Dib jpeg = MakeJpeg(4, 4);
    QImage image = Canvas(4, 4);
    EXPECT_EQ(Draw(image, dib, 0, 0, -1, -1, 0, 0, -1, -1, DDF_DONTDRAW), TRUE);
    EXPECT_EQ(Draw(image, jpeg, 0, 0, -1, -1, 0, 0, -1, -1, DDF_DONTDRAW), TRUE);
    EXPECT_EQ(Draw(image, dib, 0, 0, -1, -1, 0, 0, -1, -1, DDF_UPDATE), FALSE);
    EXPECT_TRUE(Untouched(image));
    const UINT hints = DDF_SAME_HDC | DDF_SAME_DRAW | DDF_NOTKEYFRAME | DDF_HURRYUP;
    EXPECT_EQ(Draw(image, dib, 0, 0, -1, -1, 0, 0, -1, -1, hints), TRUE);
    EXPECT_EQ(image.pixel(3, 3), Colour(3, 3));
}

}  // namespace
