// SPDX-License-Identifier: GPL-2.0-or-later
#include <gtest/gtest.h>

#include <QComboBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <cstring>

#include "platform/display.h"
#include "tests/fakes/form_under_test.h"

namespace {

using fakes::FormUnderTest;

// Answers the sequence and audio format queries with the records a test chooses and keeps a copy
// of every record sent back (the program's own copies are gone once it returns). Everything still
// passes through the fake service underneath, which records the messages in order.
class ParameterService {
  public:
    ParameterService() {
        previous_ = platform::SetMessageHook(
            [this](HWND w, UINT m, WPARAM wp, LPARAM lp) { return Answer(w, m, wp, lp); });
    }
    ~ParameterService() { platform::SetMessageHook(previous_); }
    ParameterService(const ParameterService&) = delete;
    ParameterService& operator=(const ParameterService&) = delete;

    CAPTUREPARMS served{};
    WAVEFORMATEX servedAudio{WAVE_FORMAT_PCM, 7, 8000, 112000, 14, 8, 0x5A5A};
    std::vector<CAPTUREPARMS> setups;
    std::vector<WAVEFORMATEX> formats;

  private:
    std::optional<LRESULT> Answer(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
        const std::optional<LRESULT> answer = previous_(window, message, wParam, lParam);
        void* record = reinterpret_cast<void*>(lParam);
        if (window == nullptr || record == nullptr) return answer;
        if (message == WM_CAP_GET_SEQUENCE_SETUP) std::memcpy(record, &served, sizeof served);
        if (message == WM_CAP_GET_AUDIOFORMAT)
            std::memcpy(record, &servedAudio, sizeof servedAudio);
        if (message == WM_CAP_SET_SEQUENCE_SETUP) setups.push_back(Copy<CAPTUREPARMS>(lParam));
        if (message == WM_CAP_SET_AUDIOFORMAT) formats.push_back(Copy<WAVEFORMATEX>(lParam));
        return answer;
    }
    template <typename Record>
    static Record Copy(LPARAM lParam) {
        Record record;
        std::memcpy(&record, reinterpret_cast<const void*>(lParam), sizeof record);
        return record;
    }
    platform::MessageHook previous_;
};

// A created window with driver 0 connected, the messages of its creation forgotten.
struct Connected {
    Connected() : form(run.Create()) { run.capture.Clear(); }
    FormUnderTest run;
    TForm1& form;
    ParameterService service;

    void Apply(const char* frameRate, const char* rate = "44100 Hz",
               const char* channels = "Stéréo") {
        form.ComboBox4->setEditText(QString::fromUtf8(frameRate));
        form.ComboBox2->setEditText(QString::fromUtf8(rate));
        form.ComboBox3->setEditText(QString::fromUtf8(channels));
        form.ApplyCaptureParameters();
    }
};

constexpr UINT kUpperHalf = 0xA5A50000u;

TEST(ApplyCaptureParameters, FramePeriodIsTheRateInMicrosecondsTruncated) {
    const std::pair<const char*, DWORD> cases[] = {
        {"05 Images/sec", 200000}, {"10 Images/sec", 100000}, {"15 Images/sec", 66666},
        {"20 Images/sec", 50000},  {"25 Images/sec", 40000},  {"30 Images/sec", 33333},
        {"01", 1000000},           {"99 Images/sec", 10101},  {"7", 142857},
    };
    for (const auto& [text, period] : cases) {
        SCOPED_TRACE(text);
        Connected c;
        c.Apply(text);
        ASSERT_EQ(c.service.setups.size(), 1u);
        EXPECT_EQ(c.service.setups[0].dwRequestMicroSecPerFrame, period);
    }
}

// Only a hand-edited settings file brings such texts: no made-up period reaches the service
// (1 / 0 has none), and the rest of the record is set and sent as usual.
TEST(ApplyCaptureParameters, UnreadableFrameRateKeepsTheServicePeriodAndSendsTheRest) {
    for (const char* text : {"00 Images/sec", "", "ComboBox4", "5 Images/sec", "-5 Images/sec",
                             "+5 Images/sec", "٢٥ Images/sec"}) {
        SCOPED_TRACE(text);
        Connected c;
        c.service.served.dwRequestMicroSecPerFrame = 66667;
        c.service.served.fAbortLeftMouse = TRUE;
        c.Apply(text);
        ASSERT_EQ(c.service.setups.size(), 1u);
        EXPECT_EQ(c.service.setups[0].dwRequestMicroSecPerFrame, 66667u);
        EXPECT_EQ(c.service.setups[0].vKeyAbort, 27u);
        EXPECT_EQ(c.service.setups[0].fAbortLeftMouse, FALSE);
        EXPECT_EQ(c.service.formats.size(), 1u) << "the audio format follows";
    }
}

TEST(ApplyCaptureParameters, SetsItsFieldsAndKeepsWhatElseTheServiceReturned) {
    Connected c;
    std::memset(&c.service.served, 0xA5, sizeof c.service.served);
    c.Apply("25 Images/sec");
    ASSERT_EQ(c.service.setups.size(), 1u);
    const CAPTUREPARMS& sent = c.service.setups[0];
    EXPECT_EQ(sent.dwRequestMicroSecPerFrame, 40000u);
    EXPECT_EQ(sent.fMakeUserHitOKToCapture, FALSE);
    EXPECT_EQ(sent.wPercentDropForError, kUpperHalf | 100);
    EXPECT_EQ(sent.fYield, FALSE);
    EXPECT_EQ(sent.dwIndexSize, 0u);
    EXPECT_EQ(sent.wChunkGranularity, kUpperHalf);
    EXPECT_EQ(sent.fUsingDOSMemory, FALSE);
    EXPECT_EQ(sent.wNumVideoRequested, 0u);
    EXPECT_EQ(sent.wNumAudioRequested, 0u);
    EXPECT_EQ(sent.vKeyAbort, kUpperHalf | 27);
    EXPECT_EQ(sent.fAbortLeftMouse, FALSE);
    EXPECT_EQ(sent.fAbortRightMouse, FALSE);
    EXPECT_EQ(sent.fLimitEnabled, FALSE);
    EXPECT_EQ(sent.wTimeLimit, kUpperHalf);
    EXPECT_EQ(sent.wStepCaptureAverageFrames, kUpperHalf);
    EXPECT_EQ(sent.fDisableWriteCache, FALSE);
    EXPECT_EQ(sent.AVStreamMaster, kUpperHalf | AVSTREAMMASTER_NONE);
    for (const DWORD kept : {DWORD(sent.fCaptureAudio), DWORD(sent.fMCIControl),
                             DWORD(sent.fStepMCIDevice), sent.dwMCIStartTime, sent.dwMCIStopTime,
                             DWORD(sent.fStepCaptureAt2x), sent.dwAudioBufferSize}) {
        EXPECT_EQ(kept, 0xA5A5A5A5u);
    }
}

TEST(ApplyCaptureParameters, SendsSequenceThenAudioToTheCaptureWindow) {
    Connected c;
    c.Apply("25 Images/sec");
    ASSERT_EQ(c.run.capture.MessageIds(),
              (std::vector<UINT>{WM_CAP_GET_SEQUENCE_SETUP, WM_CAP_SET_SEQUENCE_SETUP,
                                 WM_CAP_GET_AUDIOFORMAT, WM_CAP_SET_AUDIOFORMAT}));
    const WPARAM sizes[] = {96, 96, 18, 18};
    for (std::size_t i = 0; i < c.run.capture.messages.size(); ++i) {
        EXPECT_EQ(c.run.capture.messages[i].wParam, sizes[i]);
        EXPECT_EQ(c.run.capture.messages[i].window, c.form.CaptureWindow);
    }
}

struct Pcm {
    WORD channels;
    DWORD rate;
    DWORD bytesPerSecond;
    WORD blockAlign;
};

void ExpectPcm16(const WAVEFORMATEX& sent, const Pcm& expected) {
    EXPECT_EQ(sent.nChannels, expected.channels);
    EXPECT_EQ(sent.nSamplesPerSec, expected.rate);
    EXPECT_EQ(sent.nAvgBytesPerSec, expected.bytesPerSecond);
    EXPECT_EQ(sent.nBlockAlign, expected.blockAlign);
    EXPECT_EQ(sent.wBitsPerSample, 16);
    EXPECT_EQ(sent.wFormatTag, WAVE_FORMAT_PCM);
    EXPECT_EQ(sent.cbSize, 0x5A5A) << "kept as read";
}

struct AudioCase {
    const char* channelText;
    const char* rateText;
    Pcm expected;
};

// The service returns 7 channels at 8000 Hz: an unlisted text keeps that count (checked
// exactly and case-sensitively), and the byte rate and block follow the count kept.
TEST(ApplyCaptureParameters, AudioFormatFromTheListTexts) {
    const AudioCase cases[] = {
        {"Mono", "22050 Hz", {1, 22050, 44100, 2}},
        {"Stéréo", "44100 Hz", {2, 44100, 176400, 4}},
        {"Mono", "11025 Hz", {1, 11025, 22050, 2}},
        {"Stereo", "44100 Hz", {7, 44100, 617400, 14}},
        {"mono", "22050 Hz", {7, 22050, 308700, 14}},
        {"Stéréo", "44100", {2, 8000, 32000, 4}},
        {"Mono", "22050 hz", {1, 8000, 16000, 2}},
        {"", "", {7, 8000, 112000, 14}},
    };
    for (const AudioCase& a : cases) {
        SCOPED_TRACE(std::string(a.channelText) + " / " + a.rateText);
        Connected c;
        c.Apply("25 Images/sec", a.rateText, a.channelText);
        ASSERT_EQ(c.service.formats.size(), 1u);
        ExpectPcm16(c.service.formats[0], a.expected);
    }
}

TEST(SetAudioFormat, SixteenBitPcmFromTheCounts) {
    const Pcm cases[] = {{1, 11025, 22050, 2}, {2, 44100, 176400, 4}};
    for (const Pcm& expected : cases) {
        SCOPED_TRACE(expected.rate);
        Connected c;
        c.form.SetAudioFormat(static_cast<std::int16_t>(expected.channels),
                              static_cast<std::uint16_t>(expected.rate));
        EXPECT_EQ(c.run.capture.MessageIds(),
                  (std::vector<UINT>{WM_CAP_GET_AUDIOFORMAT, WM_CAP_SET_AUDIOFORMAT}));
        ASSERT_EQ(c.service.formats.size(), 1u);
        ExpectPcm16(c.service.formats[0], expected);
    }
}

TEST(ComboBox2Change, RateFromTheFirstFiveCharactersOrKeptWhenThereIsNone) {
    const std::pair<const char*, std::uint16_t> cases[] = {
        {"11025 Hz", 11025}, {"22050 Hz", 22050}, {"44100 Hz", 44100}, {"8000 Hz", 12345},
        {"99999 Hz", 12345}, {"00000 Hz", 12345}, {"", 12345},         {"Hz", 12345},
    };
    for (const auto& [text, rate] : cases) {
        SCOPED_TRACE(text);
        Connected c;
        c.form.AudioChannels = 1;
        c.form.AudioRate = 12345;
        c.form.ComboBox2->setEditText(QString::fromUtf8(text));
        c.form.ComboBox2Change();
        EXPECT_EQ(c.form.AudioRate, rate);
        ASSERT_EQ(c.service.formats.size(), 1u);
        EXPECT_EQ(c.service.formats[0].nSamplesPerSec, rate);
        EXPECT_EQ(c.service.formats[0].nChannels, 1);
    }
}

TEST(ComboBox3Change, ChannelsFromTheSelectedItemOrKeptWithNone) {
    const std::pair<int, std::int16_t> cases[] = {{0, 1}, {1, 2}, {-1, 5}};
    for (const auto& [item, channels] : cases) {
        SCOPED_TRACE(item);
        Connected c;
        c.form.ComboBox3->addItems({QStringLiteral("Mono"), QStringLiteral("Stéréo")});
        c.form.ComboBox3->setCurrentIndex(item);
        c.form.AudioChannels = 5;
        c.form.AudioRate = 22050;
        c.form.ComboBox3Change();
        EXPECT_EQ(c.form.AudioChannels, channels);
        ASSERT_EQ(c.service.formats.size(), 1u);
        EXPECT_EQ(c.service.formats[0].nChannels, channels);
        EXPECT_EQ(c.service.formats[0].nSamplesPerSec, 22050u);
    }
}

// Filling the lists and loading their saved texts must not send a format of its own; what the
// user picks or types does.
TEST(ComboBoxChange, RunsOnTheUsersChangesOnly) {
    Connected c;
    for (QComboBox* list : {c.form.ComboBox2, c.form.ComboBox3}) {
        list->addItems({QStringLiteral("Mono"), QStringLiteral("11025 Hz")});
        list->setCurrentIndex(0);
        list->setEditText(QStringLiteral("11025 Hz"));
    }
    EXPECT_TRUE(c.run.capture.messages.empty());
    for (QComboBox* list : {c.form.ComboBox2, c.form.ComboBox3}) {
        emit list->activated(0);
        emit list->lineEdit()->textEdited(list->currentText());
    }
    EXPECT_EQ(c.form.AudioRate, 11025);
    EXPECT_EQ(c.form.AudioChannels, 1);
    EXPECT_EQ(c.service.formats.size(), 4u);
}

TEST(CaptureParameters, NoCaptureWindowSendsNothing) {
    FormUnderTest run;
    run.capture.connectable.clear();
    TForm1& form = run.Create();
    ASSERT_EQ(form.CaptureWindow, nullptr);
    run.capture.Clear();
    form.ComboBox2->setEditText(QStringLiteral("22050 Hz"));
    form.ApplyCaptureParameters();
    form.SetAudioFormat(1, 11025);
    form.ComboBox2Change();
    form.ComboBox3Change();
    EXPECT_TRUE(run.capture.messages.empty());
    EXPECT_EQ(form.AudioRate, 22050) << "the handler's own state still changes";
}

// A new driver's window starts from the service's defaults; a capture on it must not.
TEST(ComboBox1Change, TheNewDriverGetsTheCaptureParameters) {
    for (const bool accepted : {true, false}) {
        SCOPED_TRACE(accepted);
        FormUnderTest run({0, 1});
        TForm1& form = run.Create();
        ParameterService service;
        form.ComboBox4->setEditText(QStringLiteral("10 Images/sec"));
        form.ComboBox3->setEditText(QStringLiteral("Mono"));
        run.capture.accepts = [accepted](const BITMAPINFOHEADER&) { return accepted; };
        form.ComboBox1->setCurrentIndex(1);
        form.ComboBox1Change();
        ASSERT_EQ(service.setups.size(), 1u);
        EXPECT_EQ(service.setups[0].dwRequestMicroSecPerFrame, 100000u);
        ASSERT_EQ(service.formats.size(), 1u);
        EXPECT_EQ(service.formats[0].nChannels, 1);
        EXPECT_EQ(run.capture.Sent(WM_CAP_SET_SEQUENCE_SETUP)[0].window, form.CaptureWindow);
    }
}

// What the capture handlers of the real service saw.
struct Delivered {
    std::vector<DWORD> frameTimes;
    std::vector<DWORD> bufferBytes;
    DWORD audioBytes = 0;
    QObject target;
};
Delivered* delivered = nullptr;

void Press(QEvent* event) {
    QCoreApplication::sendEvent(&delivered->target, event);
}

// A left click at frame 10 must not stop the capture; Escape at frame 30 does.
LRESULT OnFrame(HWND, LPVIDEOHDR header) {
    delivered->frameTimes.push_back(header->dwTimeCaptured);
    if (delivered->frameTimes.size() == 11) {
        QMouseEvent click(QEvent::MouseButtonPress, QPointF(1, 1), QPointF(1, 1), Qt::LeftButton,
                          Qt::LeftButton, Qt::NoModifier);
        Press(&click);
    }
    if (delivered->frameTimes.size() == 31) {
        QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
        Press(&escape);
    }
    return 1;
}

LRESULT OnAudio(HWND, LPWAVEHDR header) {
    delivered->bufferBytes.push_back(header->dwBufferLength);
    delivered->audioBytes += header->dwBytesRecorded;
    return 1;
}

// The test card, on the virtual clock, honours what was applied: 25 images a second, Escape and
// not the mouse, and sound at 22,050 Hz mono 16-bit (the card's own default is 44,100 Hz stereo).
TEST(ApplyCaptureParameters, TheTestCardCapturesWithThem) {
    platform::MachineDescription machine = platform::DefaultMachineDescription();
    machine.user.virtualClock = true;
    machine.user.escapeAfterFrames = 100;
    const platform::MachineDescription previous = platform::SetMachine(machine);
    {
        fakes::MessageRecorder boxes;
        TForm1 form({QStringLiteral("vistrel")});
        ASSERT_NE(form.CaptureWindow, nullptr);
        form.ComboBox4->setEditText(QStringLiteral("25 Images/sec"));
        form.ComboBox2->setEditText(QStringLiteral("22050 Hz"));
        form.ComboBox3->setEditText(QStringLiteral("Mono"));
        form.ApplyCaptureParameters();
        Delivered seen;
        delivered = &seen;
        form.RegisterHandlers(nullptr, OnFrame, OnAudio);
        form.StartSequence();
        delivered = nullptr;
        ASSERT_EQ(seen.frameTimes.size(), 31u) << "stopped by Escape at 1.2 s, not by the click";
        for (std::size_t i = 0; i < seen.frameTimes.size(); ++i) {
            EXPECT_EQ(seen.frameTimes[i], 40 * i);
        }
        // Half a second per buffer, then what was recorded until the stop: 1.2 s in all.
        EXPECT_EQ(seen.bufferBytes.front(), 22050u);
        EXPECT_EQ(seen.audioBytes, 52920u);
        form.RegisterHandlers(nullptr, nullptr, nullptr);
    }
    platform::SetMachine(previous);
    GetSystemMetrics(SM_CXSCREEN);  // the display service starts afresh for the next test
}

}  // namespace
