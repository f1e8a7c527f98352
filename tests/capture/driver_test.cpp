// SPDX-License-Identifier: GPL-2.0-or-later
#include <gtest/gtest.h>

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>

#include "platform/window_handles.h"
#include "tests/fakes/form_under_test.h"

namespace {

using fakes::FormUnderTest;

QStringList Items(QComboBox* combo) {
    QStringList items;
    for (int i = 0; i < combo->count(); ++i) items << combo->itemText(i);
    return items;
}

struct ListCase {
    const char* name;
    std::set<int> drivers;
    QString text;
    QStringList items;
    bool noDriverMessage;
};

TEST(ListDrivers, ListsIndexesZeroToFiveAndNeedsDriverZero) {
    const ListCase cases[] = {
        {"driver 0", {0}, "Carte 0 - 1.0", {"Carte 0 - 1.0"}, false},
        {"drivers 1 and 2 only", {1, 2}, "", {"Carte 1 - 1.1", "Carte 2 - 1.2"}, true},
        {"seven drivers",
         {0, 1, 2, 3, 4, 5, 6},
         "Carte 0 - 1.0",
         {"Carte 0 - 1.0", "Carte 1 - 1.1", "Carte 2 - 1.2", "Carte 3 - 1.3", "Carte 4 - 1.4",
          "Carte 5 - 1.5"},
         false},
        {"none", {}, "", {}, true},
    };
    for (const ListCase& c : cases) {
        SCOPED_TRACE(c.name);
        FormUnderTest run(c.drivers);
        TForm1& form = run.Create();
        EXPECT_EQ(form.ComboBox1->currentText(), c.text);
        EXPECT_EQ(form.ComboBox1->currentIndex(), -1);
        EXPECT_EQ(Items(form.ComboBox1), c.items);
        const bool shown = std::count(run.boxes.texts.begin(), run.boxes.texts.end(),
                                      "Aucune carte d'acquisition n'a été détectée ...") == 1;
        EXPECT_EQ(shown, c.noDriverMessage);
        EXPECT_EQ(form.StartupFailed, c.noDriverMessage);
    }
}

TEST(ConnectDriver, DoesNothingWhileAWindowExists) {
    FormUnderTest run;
    TForm1& form = run.Create();
    const HWND live = form.CaptureWindow;
    run.capture.Clear();
    form.ConnectDriver(1);
    EXPECT_TRUE(run.capture.messages.empty());
    EXPECT_EQ(form.CaptureWindow, live);
}

// The driver's reason, when it gives one, follows the message on a line of its own.
TEST(ConnectDriver, RefusedConnectionLaysOutWindowedInEveryMode) {
    const std::string kRefused = "Connection au driver d'acquisition video impossible ...";
    const std::string kBusy = "/dev/video0 : périphérique occupé par un autre programme";
    for (const char* mode : {"", "Capture", "TV"}) {
        SCOPED_TRACE(mode);
        FormUnderTest run;
        run.capture.connectable.clear();
        run.capture.connectFailure = *mode == 'T' ? kBusy : "";
        TForm1& form = run.Create(QString::fromLatin1(mode));
        EXPECT_EQ(run.boxes.texts.front(), *mode == 'T' ? kRefused + '\n' + kBusy : kRefused);
        EXPECT_EQ(form.CaptureWindow, nullptr);
        EXPECT_TRUE(form.StartupFailed);
        EXPECT_EQ(form.width(), 593);
        EXPECT_EQ(form.height(), 197);
        EXPECT_EQ(run.capture.Sent(WM_CAP_DRIVER_CONNECT).size(), 1u) << "no second window";
    }
}

TEST(ConnectDriver, ImageSizeIsTheLow16BitsOfTheStatus) {
    FormUnderTest run;
    run.capture.statusWidth = 0x10000 + 352;
    run.capture.statusHeight = 0x20000 + 240;
    TForm1& form = run.Create();
    // The negotiated format replaces the size afterwards; the window height stays the status's.
    EXPECT_EQ(form.height(), 240 + 137 + 60);
}

TEST(ComboBox1Change, NoSelectionGivesIndex255AndTheConnectMessage) {
    FormUnderTest run;
    TForm1& form = run.Create();
    const HWND old = form.CaptureWindow;
    run.capture.Clear();
    form.ComboBox1Change();
    EXPECT_EQ(form.DriverIndex, 255);
    const auto& sent = run.capture.messages;
    ASSERT_EQ(sent.size(), 3u);
    EXPECT_EQ(sent[0].message, WM_CAP_DRIVER_DISCONNECT);
    EXPECT_EQ(sent[0].window, old);
    EXPECT_EQ(sent[0].wParam, 0u);
    EXPECT_EQ(sent[1].message, WM_CAP_DRIVER_CONNECT);
    EXPECT_EQ(sent[1].wParam, 255u);
    EXPECT_EQ(sent[2].message, WM_CAP_GET_CONNECT_FAILURE) << "why, for the message";
    EXPECT_EQ(
        run.boxes.texts,
        (std::vector<std::string>{"Connection au driver d'acquisition video impossible ..."}));
    EXPECT_TRUE(form.StartupFailed);
    EXPECT_EQ(form.CaptureWindow, nullptr);
}

TEST(ComboBox1Change, TypedTextCountsAsNoSelection) {
    FormUnderTest run({0, 1});
    TForm1& form = run.Create();
    form.ComboBox1->setCurrentIndex(1);
    form.ComboBox1->setEditText(QStringLiteral("Carte"));
    run.capture.Clear();
    form.ComboBox1Change();
    EXPECT_EQ(form.DriverIndex, 255);
}

// The list keeps each driver's index beside its item, so a list with a gap connects the driver
// the user picked; the new driver gets handlers, format, capture parameters and live display.
TEST(ComboBox1Change, ConnectsThePickedDriverAndRepeatsTheStartUpSteps) {
    FormUnderTest run({0, 2});
    run.capture.connectable = {0, 2};
    TForm1& form = run.Create();
    const HWND old = form.CaptureWindow;
    run.capture.Clear();
    run.capture.format.biCompression = MAKEFOURCC('M', 'J', 'P', 'G');
    form.ComboBox1->setCurrentIndex(1);
    form.ComboBox1Change();
    EXPECT_EQ(form.DriverIndex, 2);
    EXPECT_EQ(
        run.capture.MessageIds(),
        (std::vector<UINT>{
            WM_CAP_DRIVER_DISCONNECT, WM_CAP_DRIVER_CONNECT, WM_CAP_GET_STATUS,
            WM_CAP_DRIVER_DISCONNECT, WM_CAP_DRIVER_CONNECT, WM_CAP_SET_CALLBACK_STATUSA,
            WM_CAP_SET_CALLBACK_VIDEOSTREAM, WM_CAP_SET_CALLBACK_WAVESTREAM, WM_CAP_GET_VIDEOFORMAT,
            WM_CAP_GET_VIDEOFORMAT, WM_CAP_SET_VIDEOFORMAT, WM_CAP_GET_VIDEOFORMAT,
            WM_CAP_GET_VIDEOFORMAT, WM_CAP_GET_SEQUENCE_SETUP, WM_CAP_SET_SEQUENCE_SETUP,
            WM_CAP_GET_AUDIOFORMAT, WM_CAP_SET_AUDIOFORMAT, WM_CAP_SET_OVERLAY}));
    for (const auto& connect : run.capture.Sent(WM_CAP_DRIVER_CONNECT)) {
        EXPECT_EQ(connect.wParam, 2u);
    }
    EXPECT_EQ(run.capture.messages.front().window, old);
    EXPECT_EQ(run.capture.messages.back().window, form.CaptureWindow);
    EXPECT_EQ(form.Edit2->text(), "MJPG") << "the new driver's format is named";
    EXPECT_FALSE(form.StartupFailed);
    FormUnderTest::DeleteDropped();
    EXPECT_EQ(platform::WidgetOf(old), nullptr);
    EXPECT_EQ(form.Panel1->findChildren<QWidget*>(Qt::FindDirectChildrenOnly).size(), 1);
}

TEST(DisconnectDriver, SendsTheIndexGivenAndForgetsTheWindow) {
    FormUnderTest run;
    TForm1& form = run.Create();
    run.capture.Clear();
    form.DisconnectDriver(7);
    ASSERT_EQ(run.capture.messages.size(), 1u);
    EXPECT_EQ(run.capture.messages[0].wParam, 7u);
    EXPECT_EQ(form.CaptureWindow, nullptr);
    form.DisconnectDriver(7);
    EXPECT_EQ(run.capture.messages.size(), 1u);
}

}  // namespace
