#include <gtest/gtest.h>

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>

#include "platform/window_handles.h"
#include "tests/fakes/form_under_test.h"

namespace {

using fakes::FormUnderTest;

const std::vector<UINT> kInteractiveStart = {
    WM_CAP_DRIVER_CONNECT,
    WM_CAP_GET_STATUS,
    WM_CAP_DRIVER_DISCONNECT,
    WM_CAP_DRIVER_CONNECT,
    WM_CAP_SET_CALLBACK_STATUSA,
    WM_CAP_SET_CALLBACK_VIDEOSTREAM,
    WM_CAP_SET_CALLBACK_WAVESTREAM,
    WM_CAP_GET_VIDEOFORMAT,
    WM_CAP_GET_VIDEOFORMAT,
    WM_CAP_SET_VIDEOFORMAT,
    WM_CAP_GET_VIDEOFORMAT,
    WM_CAP_GET_VIDEOFORMAT,
    WM_CAP_SET_OVERLAY,
};

TEST(StartUp, InteractiveConnectsListsNegotiatesAndShowsOverlay) {
    FormUnderTest run;
    TForm1& form = run.Create();
    EXPECT_EQ(run.capture.MessageIds(), kInteractiveStart);
    EXPECT_TRUE(run.boxes.texts.empty());
    EXPECT_FALSE(form.StartupFailed);
    EXPECT_EQ(form.RunMode, "");
    EXPECT_EQ(form.size(), QSize(593, 485));
    EXPECT_EQ(form.Panel1->geometry(), QRect(104, 23, 384, 288));
    EXPECT_EQ(form.Panel3->geometry(), QRect(96, 15, 400, 304));
    EXPECT_EQ(form.Panel2->geometry(), QRect(20, 333, 553, 137));
    EXPECT_TRUE(form.Panel6->isHidden());
    EXPECT_EQ(form.ComboBox1->count(), 1);
    EXPECT_EQ(form.ComboBox1->currentIndex(), -1) << "no item selected";
    EXPECT_EQ(form.Edit2->text(), "bi_RGB");
}

TEST(StartUp, TheLiveWindowIsTheSecondOneSizedToTheLaidOutPanel) {
    FormUnderTest run;
    TForm1& form = run.Create();
    const auto connects = run.capture.Sent(WM_CAP_DRIVER_CONNECT);
    ASSERT_EQ(connects.size(), 2u);
    EXPECT_NE(connects[0].window, connects[1].window);
    EXPECT_EQ(form.CaptureWindow, connects[1].window);
    for (const fakes::SentMessage& m : run.capture.messages) {
        if (m.message == WM_CAP_GET_STATUS || m.message == WM_CAP_DRIVER_DISCONNECT) {
            EXPECT_EQ(m.window, connects[0].window);
        }
    }
    QWidget* live = platform::WidgetOf(form.CaptureWindow);
    ASSERT_NE(live, nullptr);
    EXPECT_EQ(live->parentWidget(), form.Panel1);
    EXPECT_EQ(live->geometry(), QRect(0, 0, 384, 288));
    FormUnderTest::DeleteDropped();
    EXPECT_EQ(platform::WidgetOf(connects[0].window), nullptr) << "the dropped window is gone";
    EXPECT_EQ(form.Panel1->findChildren<QWidget*>(Qt::FindDirectChildrenOnly).size(), 1);
}

TEST(StartUp, RunModeIsTheExactFirstArgument) {
    const std::pair<const char*, bool> cases[] = {
        {"Capture", true}, {"TV", true}, {"capture", false},  {"tv", false},
        {"Time", false},   {"", false},  {"Capture ", false},
    };
    for (const auto& [mode, fullScreen] : cases) {
        SCOPED_TRACE(mode);
        FormUnderTest run({0}, 1024, 768);
        TForm1& form = run.Create(QString::fromLatin1(mode));
        EXPECT_EQ(form.IsFullScreenMode(), fullScreen);
        EXPECT_EQ(form.pos() == QPoint(0, 0), fullScreen);
        EXPECT_EQ(!form.Panel6->isHidden(), fullScreen);
    }
}

TEST(StartUp, TVModeRegistersNoAudioHandler) {
    FormUnderTest run;
    run.Create(QStringLiteral("TV"));
    EXPECT_EQ(run.capture.Sent(WM_CAP_SET_CALLBACK_STATUSA).size(), 1u);
    EXPECT_EQ(run.capture.Sent(WM_CAP_SET_CALLBACK_VIDEOSTREAM).size(), 1u);
    EXPECT_TRUE(run.capture.Sent(WM_CAP_SET_CALLBACK_WAVESTREAM).empty());
}

TEST(StartUp, CaptureModeCoversTheSwitchedScreen) {
    FormUnderTest run({0}, 1024, 768);
    TForm1& form = run.Create(QStringLiteral("Capture"));
    EXPECT_EQ(form.geometry(), QRect(0, 0, 800, 600));
    EXPECT_EQ(form.Panel6->geometry(), QRect(-1, -1, 802, 602));
    form.show();
    EXPECT_EQ(form.Image1->geometry(), QRect(1, 1, 800, 600));
    EXPECT_EQ(run.capture.Sent(WM_CAP_SET_OVERLAY).size(), 1u) << "live display still runs";
}

TEST(StartUp, NoDriverShowsBothMessagesAndLaysOutAnEmptyWindow) {
    FormUnderTest run(std::set<int>{});
    TForm1& form = run.Create();
    EXPECT_EQ(run.boxes.texts,
              (std::vector<std::string>{"Connection au driver d'acquisition video impossible ...",
                                        "Aucune carte d'acquisition n'a été détectée ..."}));
    EXPECT_TRUE(form.StartupFailed);
    EXPECT_EQ(form.CaptureWindow, nullptr);
    EXPECT_EQ(form.size(), QSize(593, 197));
    EXPECT_EQ(form.Panel3->size(), QSize(16, 16));
    const auto& sent = run.capture.messages;
    ASSERT_FALSE(sent.empty());
    EXPECT_EQ(sent.front().message, WM_CAP_DRIVER_CONNECT);
    EXPECT_TRUE(std::all_of(sent.begin() + 1, sent.end(), [](const fakes::SentMessage& m) {
        return m.window == nullptr;
    })) << "with no window the later steps' messages reach nothing";
    const std::size_t before = sent.size();
    form.close();
    EXPECT_EQ(sent.size(), before) << "a failed start-up closes without touching anything";
}

TEST(StartUp, CloseUnregistersTheHandlersAndDisconnects) {
    FormUnderTest run;
    TForm1& form = run.Create();
    const HWND live = form.CaptureWindow;
    run.capture.Clear();
    form.close();
    EXPECT_EQ(run.capture.MessageIds(),
              (std::vector<UINT>{WM_CAP_SET_CALLBACK_STATUSA, WM_CAP_SET_CALLBACK_VIDEOSTREAM,
                                 WM_CAP_SET_CALLBACK_WAVESTREAM, WM_CAP_DRIVER_DISCONNECT}));
    for (const fakes::SentMessage& m : run.capture.messages) {
        EXPECT_EQ(m.window, live);
        EXPECT_EQ(m.lParam, 0);
    }
    EXPECT_EQ(form.CaptureWindow, nullptr);
    EXPECT_TRUE(form.CaptureFormat.empty());
}

}  // namespace
