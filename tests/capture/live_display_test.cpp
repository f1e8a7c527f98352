// SPDX-License-Identifier: GPL-2.0-or-later
#include <gtest/gtest.h>

#include <QPushButton>
#include <cstring>

#include "resources/resources.h"
#include "tests/fakes/form_under_test.h"

namespace {

using fakes::FormUnderTest;

TEST(StartLiveDisplay, OverlayAnswerOtherThanOneFallsBackToPreviewAt25Ms) {
    const std::pair<LRESULT, bool> cases[] = {{1, false}, {0, true}, {2, true}, {-1, true}};
    for (const auto& [answer, preview] : cases) {
        SCOPED_TRACE(answer);
        FormUnderTest run;
        run.capture.overlayAnswer = answer;
        run.Create();
        const auto& sent = run.capture.messages;
        if (!preview) {
            EXPECT_EQ(sent.back().message, WM_CAP_SET_OVERLAY);
            continue;
        }
        ASSERT_GE(sent.size(), 3u);
        const auto& rate = sent[sent.size() - 2];
        EXPECT_EQ(sent[sent.size() - 3].message, WM_CAP_SET_OVERLAY);
        EXPECT_EQ(rate.message, WM_CAP_SET_PREVIEWRATE);
        EXPECT_EQ(rate.wParam, 25u);
        EXPECT_EQ(sent.back().message, WM_CAP_SET_PREVIEW);
        EXPECT_EQ(sent.back().wParam, 1u);
    }
}

struct ButtonCase {
    const char* name;
    std::vector<UINT> messages;
};

TEST(Buttons, EachSendsItsMessageToTheCaptureWindow) {
    const ButtonCase cases[] = {
        {"Button4", {WM_CAP_SET_OVERLAY}},
        {"Button3", {WM_CAP_SET_PREVIEWRATE, WM_CAP_SET_PREVIEW}},
        {"Button2", {WM_CAP_DLG_VIDEOFORMAT}},
        {"Button5", {WM_CAP_DLG_VIDEOSOURCE}},
        {"Button6", {WM_CAP_DLG_VIDEODISPLAY}},
        {"Button7", {WM_CAP_DLG_VIDEOCOMPRESSION}},
    };
    FormUnderTest run;
    TForm1& form = run.Create();
    for (const ButtonCase& c : cases) {
        SCOPED_TRACE(c.name);
        run.capture.Clear();
        form.findChild<QPushButton*>(QString::fromLatin1(c.name))->click();
        EXPECT_EQ(run.capture.MessageIds(), c.messages);
        for (const auto& m : run.capture.messages) EXPECT_EQ(m.window, form.CaptureWindow);
    }
    run.capture.overlayAnswer = 0;
    run.capture.Clear();
    form.Button4->click();
    EXPECT_EQ(run.capture.MessageIds(), (std::vector<UINT>{WM_CAP_SET_OVERLAY}))
        << "no fall-back to preview from the button";
}

TEST(Buttons, WithNoCaptureWindowOnlyClick) {
    FormUnderTest run(std::set<int>{});
    TForm1& form = run.Create();
    ASSERT_EQ(form.CaptureWindow, nullptr);
    run.capture.Clear();
    for (QPushButton* button :
         {form.Button2, form.Button3, form.Button4, form.Button5, form.Button6, form.Button7}) {
        button->click();
    }
    form.StartSequence();
    form.StopSequence();
    EXPECT_FALSE(form.SetOverlay(true));
    EXPECT_TRUE(run.capture.messages.empty());
}

TEST(Sequence, StartAndStopReachTheCaptureWindow) {
    FormUnderTest run;
    TForm1& form = run.Create();
    run.capture.Clear();
    form.StartSequence();
    form.StopSequence();
    EXPECT_EQ(run.capture.MessageIds(), (std::vector<UINT>{WM_CAP_SEQUENCE_NOFILE, WM_CAP_STOP}));
}

std::uint32_t Le32(const std::byte* p) {
    std::uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}

std::uint16_t Le16(const std::byte* p) {
    std::uint16_t v;
    std::memcpy(&v, p, 2);
    return v;
}

// The click the buttons play: a whole RIFF WAVE image, 8-bit mono PCM at 22,050 Hz.
TEST(ClickSound, IsTheShippedWaveImage) {
    const auto click = resources::Find("click", "WAV");
    ASSERT_TRUE(click.has_value());
    ASSERT_EQ(click->size(), 4460u);
    const std::byte* p = click->data();
    EXPECT_EQ(std::memcmp(p, "RIFF", 4), 0);
    EXPECT_EQ(Le32(p + 4), 4452u);
    EXPECT_EQ(std::memcmp(p + 8, "WAVEfmt ", 8), 0);
    EXPECT_EQ(Le16(p + 20), 1) << "PCM";
    EXPECT_EQ(Le16(p + 22), 1) << "mono";
    EXPECT_EQ(Le32(p + 24), 22050u);
    EXPECT_EQ(Le16(p + 34), 8) << "bits";
    std::size_t at = 12;
    std::uint32_t dataSize = 0;
    while (at + 8 <= click->size()) {
        const std::uint32_t size = Le32(p + at + 4);
        if (std::memcmp(p + at, "data", 4) == 0) dataSize = size;
        at += 8 + size + (size & 1);
    }
    EXPECT_EQ(at, click->size()) << "chunks fill the image exactly";
    EXPECT_EQ(dataSize, 4402u);
}

}  // namespace
