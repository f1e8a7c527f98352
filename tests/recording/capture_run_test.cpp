// SPDX-License-Identifier: GPL-2.0-or-later
// Starting and stopping a capture on a fake capture service, and the start timer of the
// automatic run modes.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <clocale>
#include <cstring>
#include <functional>
#include <iterator>
#include <string>
#include <utility>

#include "tests/fakes/form_under_test.h"
#include "tests/support/recorder_internals.h"

namespace {

RecordingState& Rec(TForm1& form) {
    return RecorderInternals::State(form.Recording);
}

using fakes::FormUnderTest;

constexpr char kLog[] = "CapLog.txt";

// A capture starts in a working directory of its own, holding an old log.
class CaptureRun : public ::testing::Test {
  protected:
    CaptureRun() : previous_(QDir::currentPath()) {
        std::setlocale(LC_TIME, "C");  // a stamp of known width: 12/06/26_14:03:27
        QDir::setCurrent(directory_.path());
        QFile old(QString::fromLatin1(kLog));
        EXPECT_TRUE(old.open(QIODevice::WriteOnly));
    }
    ~CaptureRun() override {
        platform::SetMessageHook(previousHook_);
        QDir::setCurrent(previous_);
    }

    // Runs `during` when the program asks for the capture sequence, as the service would run
    // the handlers inside that request.
    void DuringSequence(std::function<void()> during) {
        previousHook_ = platform::SetMessageHook([this, during](HWND window, UINT message,
                                                                WPARAM wParam, LPARAM lParam) {
            const std::optional<LRESULT> answer = previousHook_(window, message, wParam, lParam);
            if (message == WM_CAP_SEQUENCE_NOFILE) during();
            return answer;
        });
    }

    static bool LogPresent() { return QFile::exists(QString::fromLatin1(kLog)); }
    std::size_t Sequences() const { return run.capture.Sent(WM_CAP_SEQUENCE_NOFILE).size(); }

    QTemporaryDir directory_;
    QString previous_;
    platform::MessageHook previousHook_;
    FormUnderTest run;
};

void DirtyRecordingState(TForm1& form) {
    Rec(form).CaptureFrames = 7;
    Rec(form).DriverDropCount = 1;
    Rec(form).DropCount = 2;
    Rec(form).InsertCount = 3;
    Rec(form).DropPending = true;
    Rec(form).InsertPending = true;
    Rec(form).SyncPeriod = 375;
    Rec(form).Drift = 99;
    Rec(form).FileOpen = true;
    Rec(form).FileIndex = 4;
    form.FrameLimit = 123;
    Rec(form).CurrentFilePath.fill('Z');
    form.ListBox1->clear();
    form.ListBox1->addItem(QStringLiteral("old block"));
}

std::string PathOf(TForm1& form) {
    return std::string(Rec(form).CurrentFilePath.data(),
                       strnlen(Rec(form).CurrentFilePath.data(), Rec(form).CurrentFilePath.size()));
}

TEST_F(CaptureRun, ResetsTheRunNamesTheFirstFileAndStartsTheSequenceLast) {
    TForm1& form = run.Create();
    DirtyRecordingState(form);
    Rec(form).TotalDefect = 55;
    Rec(form).FileVideoFrames = 10;
    Rec(form).FileBytes = 12;
    form.Panel6->hide();
    form.Edit1->setText(QStringLiteral("70000"));
    form.ComboBox5->setEditText(QStringLiteral("C:\\"));
    run.capture.Clear();
    bool logGoneDuringCapture = false;
    DuringSequence([&] { logGoneDuringCapture = !LogPresent() && form.Capturing; });

    form.StartCapture();

    EXPECT_TRUE(logGoneDuringCapture);
    EXPECT_FALSE(form.Capturing);
    EXPECT_FALSE(form.Panel6->isHidden());
    // What is only read (the rates the capture will run at) is left out.
    std::vector<fakes::SentMessage> sent;
    std::copy_if(run.capture.messages.begin(), run.capture.messages.end(), std::back_inserter(sent),
                 [](const fakes::SentMessage& m) {
                     return m.message != WM_CAP_GET_SEQUENCE_SETUP &&
                            m.message != WM_CAP_GET_AUDIOFORMAT;
                 });
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[0].message, WM_CAP_SET_OVERLAY);
    EXPECT_EQ(sent[0].wParam, 0u);
    EXPECT_EQ(sent[1].message, WM_CAP_SEQUENCE_NOFILE);
    EXPECT_EQ(sent[1].window, form.CaptureWindow);
    EXPECT_EQ(std::make_pair(sent[1].wParam, sent[1].lParam), std::make_pair(WPARAM{0}, LPARAM{0}));
    EXPECT_EQ(Rec(form).CaptureFrames + Rec(form).DriverDropCount + Rec(form).DropCount +
                  Rec(form).InsertCount,
              0u);
    EXPECT_FALSE(Rec(form).DropPending || Rec(form).InsertPending || Rec(form).FileOpen);
    EXPECT_EQ(Rec(form).SyncPeriod, 250);
    EXPECT_EQ(Rec(form).Drift, 0);
    EXPECT_EQ(form.FrameLimit, 4464);
    EXPECT_EQ(Rec(form).FileIndex, 0);
    EXPECT_EQ(form.ListBox1->count(), 0);
    // Carried over or left to the first frame's open.
    EXPECT_EQ(Rec(form).TotalDefect, 55);
    EXPECT_EQ(Rec(form).FileVideoFrames, 10);
    EXPECT_EQ(Rec(form).FileBytes, 12u);

    const QRegularExpression stamp(QStringLiteral("^\\d\\d/\\d\\d/\\d\\d_\\d\\d:\\d\\d:\\d\\d$"));
    const QString& taken = form.Recording.Input().stamp;
    EXPECT_TRUE(stamp.match(taken).hasMatch()) << taken.toStdString();
    QString name = QStringLiteral("VST_") + taken + QStringLiteral("_0.avi");
    name.replace(u'/', u'-').replace(u':', u'-');
    EXPECT_EQ(PathOf(form), "C:\\" + name.toStdString());
    EXPECT_EQ(form.Label4->text(), QStringLiteral("C:\\") + name);
    EXPECT_EQ(form.Label4->toolTip(), run.folder.path()) << "the folder drive C: stands for";
}

TEST_F(CaptureRun, FrameMaxKeepsTheLowSixteenBits) {
    const struct {
        const char* text;
        std::uint16_t limit;
    } cases[] = {
        {"24000", 24000}, {"70000", 4464}, {"0", 0},   {"65536", 0},          {"-1", 65535},
        {"+7", 7},        {"  12", 12},    {"007", 7}, {"2147483647", 65535}, {"-2147483648", 0},
    };
    TForm1& form = run.Create();
    for (const auto& c : cases) {
        form.Edit1->setText(QString::fromLatin1(c.text));
        form.StartCapture();
        EXPECT_EQ(form.FrameLimit, c.limit) << c.text;
    }
    EXPECT_EQ(Sequences(), std::size(cases));
    EXPECT_TRUE(run.boxes.texts.empty());
}

// The conversion error stops the start after the counters are reset: nothing of the previous
// capture's file, name or log is touched, and no capture starts.
TEST_F(CaptureRun, FrameMaxThatIsNoWholeNumberStopsTheStartAfterTheReset) {
    const char* texts[] = {"",  "abc",        "12a",         "1.5", "12 ", "-",
                           "+", "2147483648", "-2147483649", "1e3", "٣",   "１２"};
    TForm1& form = run.Create();
    for (const char* text : texts) {
        DirtyRecordingState(form);
        run.capture.Clear();
        run.boxes.texts.clear();
        form.Edit1->setText(QString::fromUtf8(text));
        form.StartCapture();
        EXPECT_EQ(run.boxes.texts, std::vector<std::string>{"'" + std::string(text) +
                                                            "' n'est pas une valeur entière "
                                                            "correcte"});
        EXPECT_EQ(run.capture.MessageIds(), std::vector<UINT>{WM_CAP_SET_OVERLAY});
        EXPECT_EQ(Rec(form).CaptureFrames + Rec(form).DropCount + Rec(form).InsertCount, 0u);
        EXPECT_EQ(Rec(form).SyncPeriod, 250);
        EXPECT_EQ(form.FrameLimit, 123);
        EXPECT_TRUE(Rec(form).FileOpen);
        EXPECT_EQ(Rec(form).FileIndex, 4);
        EXPECT_EQ(form.ListBox1->count(), 1);
        EXPECT_EQ(Rec(form).CurrentFilePath[0], 'Z');
        EXPECT_TRUE(LogPresent());
    }
}

TEST_F(CaptureRun, WithoutCaptureWindowEveryStepButTheSequenceRuns) {
    FormUnderTest noDriver(std::set<int>{});
    TForm1& form = noDriver.Create();
    ASSERT_EQ(form.CaptureWindow, nullptr);
    noDriver.capture.Clear();
    form.StartCapture();
    EXPECT_TRUE(noDriver.capture.messages.empty());
    EXPECT_FALSE(LogPresent());
    EXPECT_TRUE(PathOf(form).starts_with("VST_"));
    EXPECT_FALSE(form.Capturing);
}

// With the C locale's 17-character stamp the first file's name is the destination and 27
// characters more; the widest file number, 65535, adds four.
TEST_F(CaptureRun, DestinationTooLongForTheLastPossibleFileIsRefused) {
    const struct {
        qsizetype destination;
        bool starts;
    } cases[] = {{224, true}, {225, false}};
    TForm1& form = run.Create();
    for (const auto& c : cases) {
        run.capture.Clear();
        run.boxes.texts.clear();
        static_cast<void>(QFile(QString::fromLatin1(kLog)).open(QIODevice::WriteOnly));
        form.ComboBox5->setEditText(QString(c.destination, u'd'));
        form.StartCapture();
        EXPECT_EQ(Sequences(), c.starts ? 1u : 0u) << c.destination;
        EXPECT_EQ(LogPresent(), !c.starts);
        EXPECT_EQ(PathOf(form).size(), c.starts ? std::size_t(c.destination) + 27 : 0u);
        const std::vector<std::string> refusal{
            "Le chemin des fichiers de capture dépasserait 255 caractères : choisissez un "
            "disque de destination plus court dans les Options ..."};
        EXPECT_EQ(run.boxes.texts, c.starts ? std::vector<std::string>{} : refusal);
    }
}

// A zero cut the name short: "C:\keep.txt" was emptied and recorded over. Every character no
// Windows name may hold is refused the same way; nothing is deleted or created.
TEST_F(CaptureRun, DestinationHoldingAForbiddenCharacterIsRefused) {
    const QString destinations[] = {QStringLiteral("keep.txt") + QChar(u'\0') + u'\\',
                                    QStringLiteral("a\x01\x1f\\"),
                                    QStringLiteral("a\tb\\"),
                                    QStringLiteral("a\x7f\\"),
                                    QString::fromUtf8("a\u0085\\"),
                                    QStringLiteral("a<b\\"),
                                    QStringLiteral("a>b\\"),
                                    QStringLiteral("a\"b\\"),
                                    QStringLiteral("a|b\\"),
                                    QStringLiteral("a?b\\"),
                                    QStringLiteral("a*b\\")};
    TForm1& form = run.Create();
    QFile keep(QStringLiteral("keep.txt"));
    ASSERT_TRUE(keep.open(QIODevice::WriteOnly));
    keep.write("precious");
    keep.close();
    for (const QString& destination : destinations) {
        SCOPED_TRACE(destination.toStdString());
        run.capture.Clear();
        run.boxes.texts.clear();
        static_cast<void>(QFile(QString::fromLatin1(kLog)).open(QIODevice::WriteOnly));
        form.ComboBox5->setEditText(destination);
        form.StartCapture();
        EXPECT_EQ(Sequences(), 0u);
        EXPECT_TRUE(LogPresent());
        EXPECT_EQ(PathOf(form), "");
        EXPECT_EQ(run.boxes.texts,
                  std::vector<std::string>{
                      "Le disque de destination des fichiers de capture contient un caractère "
                      "qu'un nom de fichier ne peut pas contenir : choisissez un autre disque de "
                      "destination dans les Options ..."});
    }
    ASSERT_TRUE(keep.open(QIODevice::ReadOnly));
    EXPECT_EQ(keep.readAll(), "precious");
    EXPECT_TRUE(QDir().entryList({QStringLiteral("*VST_*")}).isEmpty());
}

TEST_F(CaptureRun, CaptureButtonInsideARunningCaptureChangesNothing) {
    TForm1& form = run.Create();
    DuringSequence([&form] {
        Rec(form).FileOpen = true;  // the first frame has opened the file
        Rec(form).CaptureFrames = 5;
        form.Button8->click();
        EXPECT_TRUE(Rec(form).FileOpen);
        EXPECT_EQ(Rec(form).CaptureFrames, 5u);
        EXPECT_EQ(Rec(form).FileIndex, 0);
    });
    form.Button8->click();
    EXPECT_EQ(Sequences(), 1u);
    form.StartCapture();
    EXPECT_EQ(Sequences(), 2u) << "a finished capture lets the next one start";
}

// A signal, or "Quitter", used to end the program mid-capture: file unfinished, no log. Now they
// end a capture as the abort key does and the window closes once the capture is over; without
// one it closes.
TEST_F(CaptureRun, SystemRequestOrQuitterStopsTheCaptureThenClosesTheWindow) {
    for (const bool capturing : {true, false})
        for (const bool quitter : {false, true}) {
            SCOPED_TRACE(testing::Message() << capturing << quitter);
            TForm1& form = run.Create();
            form.show();
            run.capture.Clear();
            const auto end = [&] { quitter ? form.Button11->click() : form.EndOnSignal(); };
            if (!capturing) {
                end();
            } else {
                DuringSequence([&] {
                    end();
                    EXPECT_EQ(run.capture.Sent(WM_CAP_STOP).size(), 1u);
                    EXPECT_TRUE(form.isVisible()) << "not closed while the capture ends";
                });
                form.StartCapture();
                platform::SetMessageHook(previousHook_);
            }
            EXPECT_EQ(run.capture.Sent(WM_CAP_STOP).size(), capturing ? 1u : 0u);
            EXPECT_FALSE(form.isVisible());
            EXPECT_EQ(form.CaptureWindow, nullptr) << "the normal close ran";
        }
}

// During a capture only "Stop" and "Quitter" act: the rest is disabled, then given back as it
// was, and what the capture started with holds.
TEST_F(CaptureRun, OnlyStopAndQuitterActDuringACapture) {
    TForm1& form = run.Create();
    form.Button3->setEnabled(false);
    run.capture.Clear();
    const std::vector<QWidget*> inert{form.Button1, form.Button2,   form.Button4,
                                      form.Button5, form.Button6,   form.Button7,
                                      form.Button8, form.ComboBox1, form.Panel5};
    form.ComboBox5->setEditText(QStringLiteral("C:\\"));
    DuringSequence([&] {
        for (QWidget* w : inert) EXPECT_FALSE(w->isEnabled()) << w->objectName().toStdString();
        // ... and visibly so: their text is not drawn in the live buttons' colour.
        const QPalette& look = form.Button8->palette();
        EXPECT_NE(look.color(QPalette::Disabled, QPalette::ButtonText),
                  form.Button9->palette().color(QPalette::Active, QPalette::ButtonText));
        // A roll-over names its file from the destination the capture started with.
        form.ComboBox5->setEditText(QStringLiteral("D:\\typed since\\"));
        EXPECT_EQ(form.Recording.FilePathOf(1).substr(0, 7), "C:\\VST_");
        EXPECT_TRUE(form.Button9->isEnabled());
        EXPECT_TRUE(form.Button11->isEnabled());
        // Disabling the driver list while it has the focus ends its edit: no driver change.
        form.ComboBox1Change();
        EXPECT_TRUE(run.capture.Sent(WM_CAP_DRIVER_DISCONNECT).empty());
    });
    form.StartCapture();
    for (QWidget* w : inert) EXPECT_TRUE(w->isEnabled()) << w->objectName().toStdString();
    EXPECT_FALSE(form.Button3->isEnabled()) << "what was disabled before stays so";
}

TEST_F(CaptureRun, StopButtonSendsStopToTheCaptureWindowOnly) {
    TForm1& form = run.Create();
    run.capture.Clear();
    form.Button9->click();
    ASSERT_EQ(run.capture.messages.size(), 1u);
    EXPECT_EQ(run.capture.messages[0].message, WM_CAP_STOP);
    EXPECT_EQ(run.capture.messages[0].window, form.CaptureWindow);
    EXPECT_EQ(run.capture.messages[0].wParam, 0u);
    EXPECT_EQ(run.capture.messages[0].lParam, 0);

    FormUnderTest noDriver(std::set<int>{});
    TForm1& unconnected = noDriver.Create();
    noDriver.capture.Clear();
    unconnected.StopCapture();
    EXPECT_TRUE(noDriver.capture.messages.empty());
}

TEST_F(CaptureRun, AutomaticModesArmTheStartTimerOnceWhenFirstShown) {
    const struct {
        const char* mode;
        bool armed;
    } cases[] = {{"Capture", true}, {"TV", true}, {"Time", true}, {"", false}, {"capture", false}};
    for (const auto& c : cases) {
        TForm1& form = run.Create(QString::fromLatin1(c.mode));
        EXPECT_FALSE(form.Timer1->isActive());
        form.show();
        EXPECT_EQ(form.Timer1->isActive(), c.armed) << c.mode;
        EXPECT_EQ(form.FrameLimit, 24000);
        EXPECT_EQ(form.ComboBox4->currentText(), QStringLiteral("25 Images/sec"));
        form.hide();
        form.Timer1->stop();
        form.show();
        EXPECT_FALSE(form.Timer1->isActive()) << "shown again: no second activation";
        EXPECT_EQ(form.ComboBox4->count(), 6);
        EXPECT_EQ(form.ComboBox3->count(), 2);
        EXPECT_EQ(form.ComboBox2->count(), 3);
    }
}

TEST_F(CaptureRun, StartTimerTicksOnceAndStarts) {
    TForm1& form = run.Create(QStringLiteral("TV"));
    form.show();
    run.capture.Clear();
    QEventLoop loop;
    QTimer::singleShot(1300, &loop, &QEventLoop::quit);
    loop.exec();
    EXPECT_FALSE(form.Timer1->isActive());
    EXPECT_EQ(Sequences(), 1u);
    EXPECT_FALSE(form.Image1->hasScaledContents());
}

}  // namespace
