// SPDX-License-Identifier: GPL-2.0-or-later
#include <gtest/gtest.h>

#include <QLabel>
#include <QLineEdit>
#include <cstring>

#include "capture/video_format.h"
#include "tests/fakes/form_under_test.h"

namespace {

using fakes::FormUnderTest;

TEST(FourCCToText, LowestByteFirst) {
    EXPECT_EQ(FourCCToText(MAKEFOURCC('M', 'J', 'P', 'G')), "MJPG");
    EXPECT_EQ(FourCCToText(MAKEFOURCC('D', 'I', 'V', 'X')), "DIVX");
    EXPECT_EQ(FourCCToText(0x34333231), "1234");
    EXPECT_EQ(FourCCToText(0xE9000041u), QString::fromUtf8("A\0\0é", 5));
}

struct NameCase {
    DWORD compression;
    const char* text;
};

TEST(NameCompression, NamesTheFourStandardCodesAndSpellsTheOthers) {
    const NameCase cases[] = {
        {0, "bi_RGB"},
        {1, "bi_RLE8"},
        {2, "bi_RLE4"},
        {3, "bi_BITFIELDS"},
        {MAKEFOURCC('M', 'J', 'P', 'G'), "MJPG"},
        {MAKEFOURCC('Y', 'U', 'Y', '2'), "YUY2"},
    };
    for (const NameCase& c : cases) {
        SCOPED_TRACE(c.text);
        FormUnderTest run;
        run.capture.format.biCompression = c.compression;
        TForm1& form = run.Create();
        EXPECT_EQ(form.Edit2->text(), c.text);
    }
}

struct NegotiationCase {
    const char* name;
    std::set<std::pair<LONG, LONG>> accepted;
    std::uint16_t imageWidth, imageHeight;
    std::size_t offers;
    bool refused;
};

TEST(NegotiateVideoFormat, Asks384x288Then320x240) {
    const NegotiationCase cases[] = {
        {"accepts 384x288", {{384, 288}}, 384, 288, 1, false},
        {"refuses 384x288, accepts 320x240", {{320, 240}}, 320, 240, 2, false},
        {"refuses both", {{640, 480}}, 384, 288, 2, true},
    };
    for (const NegotiationCase& c : cases) {
        SCOPED_TRACE(c.name);
        FormUnderTest run;
        run.capture.format.biBitCount = 24;
        run.capture.format.biSizeImage = 12345;
        run.capture.accepts = [&c](const BITMAPINFOHEADER& h) {
            return h.biCompression == BI_RGB && c.accepted.count({h.biWidth, h.biHeight}) > 0;
        };
        TForm1& form = run.Create();
        EXPECT_EQ(form.ImageWidth, c.imageWidth);
        EXPECT_EQ(form.ImageHeight, c.imageHeight);
        ASSERT_EQ(run.capture.offeredFormats.size(), c.offers);
        for (const auto& sent : run.capture.Sent(WM_CAP_SET_VIDEOFORMAT)) {
            EXPECT_EQ(sent.wParam, sizeof(BITMAPINFOHEADER));
        }
        for (const BITMAPINFOHEADER& offered : run.capture.offeredFormats) {
            EXPECT_EQ(offered.biBitCount, 24) << "other fields stay as reported";
            EXPECT_EQ(offered.biSizeImage, 12345u);
        }
        EXPECT_EQ(form.StartupFailed, c.refused);
        EXPECT_EQ(run.boxes.texts.empty(), !c.refused);
        // Read back: a refused request must not leave the format describing a picture the
        // driver does not send.
        const BITMAPINFOHEADER kept = form.CaptureFormatHeader();
        EXPECT_EQ(std::memcmp(&kept, &run.capture.format, sizeof kept), 0);
        if (c.refused) {
            EXPECT_EQ(run.boxes.texts.front(),
                      "Votre carte d'acquisition video ne possede pas la configuration adaptée "
                      "... Choisissez un Format RGB24 en 384x288 ou 320x240, puis redémarrer ...");
            EXPECT_TRUE(run.capture.Sent(WM_CAP_SET_OVERLAY).empty()) << "no live display";
            EXPECT_TRUE(run.capture.Sent(WM_CAP_SET_PREVIEW).empty());
        }
    }
}

TEST(NegotiateVideoFormat, MotionJpegCardKeepsItsNameAfterTheUncompressedRequest) {
    FormUnderTest run;
    run.capture.statusWidth = 640;
    run.capture.statusHeight = 480;
    run.capture.format.biWidth = 640;
    run.capture.format.biHeight = 480;
    run.capture.format.biCompression = MAKEFOURCC('M', 'J', 'P', 'G');
    TForm1& form = run.Create();
    EXPECT_EQ(form.Edit2->text(), "MJPG");
    EXPECT_EQ(form.ImageWidth, 384);
    EXPECT_EQ(form.ImageHeight, 288);
    EXPECT_EQ(form.CaptureFormatHeader().biCompression, BI_RGB) << "holds the accepted request";
    EXPECT_EQ(form.height(), 480 + 137 + 60) << "height kept from the reported size";
    EXPECT_EQ(form.Panel1->size(), QSize(384, 288));
}

struct SizeCase {
    LRESULT answer;
    std::uint16_t size;
};

// Too short an answer (or none) still leaves a whole header to name and negotiate.
TEST(ReadVideoFormat, SizeIsCutTo16BitsAndTheBufferHoldsAHeader) {
    const SizeCase cases[] = {{40, 40}, {0, 0}, {12, 12}, {0x10028, 40}, {1064, 1064}};
    for (const SizeCase& c : cases) {
        SCOPED_TRACE(c.answer);
        FormUnderTest run;
        run.capture.formatSize = c.answer;
        TForm1& form = run.Create();
        EXPECT_EQ(form.CaptureFormatSize, c.size);
        EXPECT_GE(form.CaptureFormat.size(), std::max<std::size_t>(c.size, 40));
        const auto reads = run.capture.Sent(WM_CAP_GET_VIDEOFORMAT);
        ASSERT_GE(reads.size(), 2u);
        EXPECT_EQ(reads[1].wParam, c.size);
        EXPECT_FALSE(form.StartupFailed);
    }
}

}  // namespace
