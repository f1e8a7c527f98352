// SPDX-License-Identifier: GPL-2.0-or-later
#include <gtest/gtest.h>
#include <turbojpeg.h>

#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QThread>
#include <QTimer>
#include <QWidget>
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <new>
#include <vector>

#include "platform/capture/capture_sequence.h"
#include "platform/capture/capture_window.h"
#include "platform/capture/testcard.h"
#include "platform/machine.h"
#include "platform/vfw.h"
#include "platform/window_handles.h"
#include "tests/support/alloc_counter.h"

using platform::CaptureWindowOf;
using platform::DriverDescription;
using platform::FrameSize;
using platform::MachineDescription;

namespace {

struct Event {
    enum Kind { Status, Frame, Audio } kind;
    int id = 0;
    std::int64_t time = 0;  // ms: dwTimeCaptured, or the end of the audio buffer
    DWORD used = 0;         // dwBytesUsed or dwBytesRecorded
    DWORD length = 0;       // dwBufferLength
    bool flash = false;
};

// Callbacks are plain functions: they record into the recorder of the running test.
struct Recorder {
    std::vector<Event> events;
    std::vector<std::uint64_t> beepOnsets;  // samples from the start
    std::uint64_t samples = 0;
    int silentRun = 1 << 30;
    WAVEFORMATEX format{WAVE_FORMAT_PCM, 2, 44100, 176400, 4, 16, 0};
    bool decodeJpeg = false;
    std::function<void(const Event&)> then;  // runs inside the callback

    int Count(Event::Kind kind) const {
        return static_cast<int>(std::count_if(events.begin(), events.end(),
                                              [kind](const Event& e) { return e.kind == kind; }));
    }
    std::vector<Event> Only(Event::Kind kind) const {
        std::vector<Event> out;
        std::copy_if(events.begin(), events.end(), std::back_inserter(out),
                     [kind](const Event& e) { return e.kind == kind; });
        return out;
    }
    void Add(const Event& e) {
        events.push_back(e);
        if (then) then(e);
    }
};

Recorder* recorder = nullptr;

bool JpegIsWhite(const BYTE* data, DWORD size, int& width, int& height) {
    tjhandle handle = tjInitDecompress();
    int sub = 0;
    int space = 0;
    bool white = false;
    if (tjDecompressHeader3(handle, data, size, &width, &height, &sub, &space) == 0) {
        std::vector<BYTE> rgb(static_cast<std::size_t>(width * height * 3));
        if (tjDecompress2(handle, data, size, rgb.data(), width, 0, height, TJPF_RGB, 0) == 0)
            white = *std::min_element(rgb.begin(), rgb.end()) > 240;
        else
            width = height = 0;
    }
    tjDestroy(handle);
    return white;
}

LRESULT OnStatus(HWND, int id, LPCSTR) {
    recorder->Add({Event::Status, id});
    return 1;
}

LRESULT OnFrame(HWND, LPVIDEOHDR h) {
    Event e{Event::Frame, 0, h->dwTimeCaptured, h->dwBytesUsed, h->dwBufferLength};
    if (recorder->decodeJpeg) {
        int w = 0;
        int ht = 0;
        e.flash = JpegIsWhite(h->lpData, h->dwBytesUsed, w, ht);
        e.id = w * 10000 + ht;
    } else {
        e.flash =
            std::all_of(h->lpData, h->lpData + h->dwBytesUsed, [](BYTE b) { return b == 255; });
    }
    recorder->Add(e);
    return 1;
}

LRESULT OnAudio(HWND, LPWAVEHDR h) {
    Recorder& r = *recorder;
    const auto* s = reinterpret_cast<const std::int16_t*>(h->lpData);
    const DWORD count = h->dwBytesRecorded / r.format.nBlockAlign;
    for (DWORD i = 0; i < count; ++i, ++r.samples) {
        const bool silent = s[i * r.format.nChannels] == 0;
        if (!silent && r.silentRun > 100) r.beepOnsets.push_back(r.samples);
        r.silentRun = silent ? r.silentRun + 1 : 0;
    }
    const auto endMs = static_cast<std::int64_t>(r.samples * 1000 / r.format.nSamplesPerSec);
    r.Add({Event::Audio, 0, endMs, h->dwBytesRecorded, h->dwBufferLength});
    return 1;
}

MachineDescription OneTestCard(DriverDescription driver = {}) {
    MachineDescription m;
    m.drivers[0] = driver;
    m.user.virtualClock = true;
    return m;
}

class CaptureService : public ::testing::Test {
  protected:
    void SetUp() override {
        previous_ = platform::SetMachine(OneTestCard());
        parent_ = std::make_unique<QWidget>();
        parent_->resize(640, 480);
        recorder = &recorder_;
    }
    void TearDown() override {
        recorder = nullptr;
        platform::SetMessageHook({});
        parent_.reset();
        platform::SetMachine(previous_);
    }

    HWND NewWindow(DWORD style = WS_CHILD | WS_VISIBLE) {
        return capCreateCaptureWindowA("fenetre video", style, 0, 0, 384, 288,
                                       platform::HandleOf(parent_.get()), 1);
    }
    HWND Connected(WPARAM index = 0) {
        const HWND w = NewWindow();
        EXPECT_NE(SendMessageA(w, WM_CAP_DRIVER_CONNECT, index, 0), 0);
        return w;
    }
    static void Register(HWND w) {
        SendMessageA(w, WM_CAP_SET_CALLBACK_STATUSA, 0, reinterpret_cast<LPARAM>(&OnStatus));
        SendMessageA(w, WM_CAP_SET_CALLBACK_VIDEOSTREAM, 0, reinterpret_cast<LPARAM>(&OnFrame));
        SendMessageA(w, WM_CAP_SET_CALLBACK_WAVESTREAM, 0, reinterpret_cast<LPARAM>(&OnAudio));
    }
    static CAPTUREPARMS Setup(HWND w) {
        CAPTUREPARMS p{};
        SendMessageA(w, WM_CAP_GET_SEQUENCE_SETUP, sizeof p, reinterpret_cast<LPARAM>(&p));
        return p;
    }
    static void Limit(HWND w, DWORD periodUs, UINT seconds) {
        CAPTUREPARMS p = Setup(w);
        p.dwRequestMicroSecPerFrame = periodUs;
        p.fLimitEnabled = seconds > 0;
        p.wTimeLimit = seconds;
        ASSERT_EQ(
            SendMessageA(w, WM_CAP_SET_SEQUENCE_SETUP, sizeof p, reinterpret_cast<LPARAM>(&p)),
            TRUE);
    }
    // The default limit only keeps a broken stop from hanging the test.
    HWND Ready(DWORD periodUs = 40000, UINT seconds = 600) {
        const HWND w = Connected();
        Register(w);
        Limit(w, periodUs, seconds);
        return w;
    }
    static LRESULT Capture(HWND w) { return SendMessageA(w, WM_CAP_SEQUENCE_NOFILE, 0, 0); }
    static BITMAPINFOHEADER Rgb(int width, int height, WORD bits = 24) {
        BITMAPINFOHEADER f{};
        f.biSize = 40;
        f.biWidth = width;
        f.biHeight = height;
        f.biPlanes = 1;
        f.biBitCount = bits;
        return f;
    }
    static LRESULT SetFormat(HWND w, const BITMAPINFOHEADER& f, WPARAM size = 40) {
        return SendMessageA(w, WM_CAP_SET_VIDEOFORMAT, size, reinterpret_cast<LPARAM>(&f));
    }
    static BITMAPINFOHEADER Format(HWND w) {
        BITMAPINFOHEADER f{};
        SendMessageA(w, WM_CAP_GET_VIDEOFORMAT, sizeof f, reinterpret_cast<LPARAM>(&f));
        return f;
    }
    static CAPSTATUS Status(HWND w) {
        CAPSTATUS s{};
        EXPECT_EQ(SendMessageA(w, WM_CAP_GET_STATUS, sizeof s, reinterpret_cast<LPARAM>(&s)), TRUE);
        return s;
    }
    void ExpectBeginAndEndAround() const {
        ASSERT_GE(recorder_.events.size(), 2u);
        EXPECT_EQ(recorder_.events.front().kind, Event::Status);
        EXPECT_EQ(recorder_.events.front().id, IDS_CAP_BEGIN);
        EXPECT_EQ(recorder_.events.back().kind, Event::Status);
        EXPECT_EQ(recorder_.events.back().id, IDS_CAP_END);
        EXPECT_EQ(recorder_.Count(Event::Status), 2);
    }

    Recorder recorder_;
    MachineDescription previous_;
    std::unique_ptr<QWidget> parent_;
};

}  // namespace

TEST_F(CaptureService, DriverDescriptionsAreCutToTheirBuffersOnCharacterBoundaries) {
    MachineDescription m = OneTestCard();
    m.drivers[3] = DriverDescription{};
    m.drivers[3]->name = "Entrée vidéo";
    m.drivers[3]->version = "2.5";
    platform::SetMachine(m);
    char name[81];
    char version[81];
    EXPECT_EQ(capGetDriverDescriptionA(0, name, 81, version, 81), TRUE);
    EXPECT_STREQ(name, "Carte de test");
    EXPECT_STREQ(version, "1.0");
    EXPECT_EQ(capGetDriverDescriptionA(1, name, 81, version, 81), FALSE);
    EXPECT_EQ(capGetDriverDescriptionA(10, name, 81, version, 81), FALSE);
    char small[6];
    std::memset(small, 'x', sizeof small);
    EXPECT_EQ(capGetDriverDescriptionA(3, small, 6, version, 2), TRUE);
    EXPECT_STREQ(small, "Entr") << "the two bytes of é are not split";
    EXPECT_STREQ(version, "2");
    EXPECT_EQ(capGetDriverDescriptionA(3, nullptr, 0, nullptr, 0), TRUE);
}

TEST_F(CaptureService, WindowsAreChildrenAtTheirPlaceAndUnknownParentsGetNone) {
    const HWND shown = NewWindow();
    QWidget* widget = platform::WidgetOf(shown);
    ASSERT_NE(CaptureWindowOf(shown), nullptr);
    EXPECT_EQ(widget->parentWidget(), parent_.get());
    EXPECT_EQ(widget->geometry(), QRect(0, 0, 384, 288));
    parent_->show();
    EXPECT_TRUE(widget->isVisible());
    EXPECT_FALSE(platform::WidgetOf(NewWindow(WS_CHILD))->isVisible());
    EXPECT_EQ(capCreateCaptureWindowA("x", WS_CHILD, 0, 0, 9, 9, nullptr, 1), nullptr);
    EXPECT_EQ(capCreateCaptureWindowA("x", WS_CHILD, 0, 0, 9, 9, reinterpret_cast<HWND>(0x7777), 1),
              nullptr);
}

TEST_F(CaptureService, MessagesToNoWindowAnswerZeroButTheHookSeesThemFirst) {
    std::vector<UINT> seen;
    platform::SetMessageHook([&](HWND, UINT m, WPARAM, LPARAM) -> std::optional<LRESULT> {
        seen.push_back(m);
        return std::nullopt;
    });
    EXPECT_EQ(SendMessageA(nullptr, WM_CAP_DRIVER_CONNECT, 0, 0), 0);
    EXPECT_EQ(SendMessageA(reinterpret_cast<HWND>(0x4321), WM_CAP_DRIVER_CONNECT, 0, 0), 0);
    EXPECT_EQ(SendMessageA(platform::HandleOf(parent_.get()), WM_CAP_DRIVER_CONNECT, 0, 0), 0);
    const HWND gone = NewWindow();
    delete platform::WidgetOf(gone);
    EXPECT_EQ(SendMessageA(gone, WM_CAP_DRIVER_CONNECT, 0, 0), 0);
    EXPECT_EQ(seen.size(), 4u);

    // An answer from the hook replaces the service's; the hook may even remove itself.
    const HWND w = NewWindow();
    platform::SetMessageHook([](HWND, UINT, WPARAM, LPARAM) -> std::optional<LRESULT> {
        platform::SetMessageHook({});
        return 7;
    });
    EXPECT_EQ(SendMessageA(w, WM_CAP_DRIVER_CONNECT, 0, 0), 7);
    EXPECT_EQ(SendMessageA(w, WM_CAP_GET_VIDEOFORMAT, 0, 0), 0) << "never connected";
    EXPECT_EQ(SendMessageA(w, WM_CAP_DRIVER_CONNECT, 0, 0), TRUE);
}

TEST_F(CaptureService, ConnectAnswersOnlyForAnInstalledDriverThatConnects) {
    MachineDescription m = OneTestCard();
    m.drivers[2] = DriverDescription{};
    m.drivers[2]->connect = false;
    m.drivers[4] = DriverDescription{};
    m.drivers[4]->size = {320, 240};
    platform::SetMachine(m);
    const HWND w = NewWindow();
    for (WPARAM refused : {WPARAM{1}, WPARAM{2}, WPARAM{10}, WPARAM{255}})
        EXPECT_EQ(SendMessageA(w, WM_CAP_DRIVER_CONNECT, refused, 0), 0) << refused;
    EXPECT_EQ(SendMessageA(w, WM_CAP_GET_VIDEOFORMAT, 0, 0), 0);
    EXPECT_EQ(SendMessageA(w, WM_CAP_DRIVER_CONNECT, 0, 0), TRUE);
    EXPECT_EQ(Status(w).uiImageWidth, 384u);
    EXPECT_EQ(SendMessageA(w, WM_CAP_DRIVER_CONNECT, 4, 0), TRUE);
    EXPECT_EQ(Status(w).uiImageHeight, 240u);
    EXPECT_EQ(SendMessageA(w, WM_CAP_DRIVER_DISCONNECT, 4, 0), TRUE);
    EXPECT_EQ(SendMessageA(w, WM_CAP_DRIVER_DISCONNECT, 4, 0), 0);
    EXPECT_EQ(Status(w).uiImageWidth, 0u);
    EXPECT_EQ(Capture(w), 0);
}

TEST_F(CaptureService, StatusFillsOnlyTheRoomItIsGiven) {
    const HWND w = Connected();
    const CAPSTATUS s = Status(w);
    EXPECT_EQ(s.uiImageWidth, 384u);
    EXPECT_EQ(s.uiImageHeight, 288u);
    EXPECT_EQ(s.fCapturingNow, FALSE);
    EXPECT_EQ(s.fOverlayWindow, FALSE);
    BYTE bytes[76];
    std::memset(bytes, 0xAB, sizeof bytes);
    EXPECT_EQ(SendMessageA(w, WM_CAP_GET_STATUS, 4, reinterpret_cast<LPARAM>(bytes)), TRUE);
    EXPECT_EQ(bytes[0], 384 & 0xFF);
    EXPECT_EQ(bytes[4], 0xAB);
    EXPECT_EQ(SendMessageA(w, WM_CAP_GET_STATUS, 76, 0), 0);
}

TEST_F(CaptureService, VideoFormatsAcceptedBecomeCurrentAndOthersAreRefused) {
    DriverDescription d;
    d.acceptsAny = false;
    d.accepts = {{320, 240}};
    platform::SetMachine(OneTestCard(d));
    const HWND w = NewWindow();
    EXPECT_EQ(SetFormat(w, Rgb(320, 240)), 0) << "not connected";
    SendMessageA(w, WM_CAP_DRIVER_CONNECT, 0, 0);
    EXPECT_EQ(SendMessageA(w, WM_CAP_GET_VIDEOFORMAT, 0, 0), 40);
    EXPECT_EQ(Format(w).biSizeImage, 384u * 288 * 3);

    EXPECT_EQ(SetFormat(w, Rgb(352, 288)), 0) << "not in the list";
    EXPECT_EQ(SetFormat(w, Rgb(320, 240, 16)), 0) << "16-bit";
    BITMAPINFOHEADER rle = Rgb(320, 240, 8);
    rle.biCompression = BI_RLE8;
    EXPECT_EQ(SetFormat(w, rle), 0);
    EXPECT_EQ(SetFormat(w, Rgb(320, -240)), 0) << "top-down";
    EXPECT_EQ(SetFormat(w, Rgb(320, 240), 39), 0);
    EXPECT_EQ(Format(w).biWidth, 384) << "refusals change nothing";

    EXPECT_EQ(SetFormat(w, Rgb(320, 240, 0)), TRUE);
    const BITMAPINFOHEADER f = Format(w);
    EXPECT_EQ(f.biWidth, 320);
    EXPECT_EQ(f.biBitCount, 24);
    EXPECT_EQ(f.biSizeImage, 320u * 240 * 3);
    EXPECT_EQ(Status(w).uiImageWidth, 320u);
    EXPECT_EQ(SetFormat(w, Rgb(384, 288)), TRUE) << "the native format";
}

TEST_F(CaptureService, MjpegDriverReportsItsFormatAndAcceptsRgbPerItsList) {
    DriverDescription d;
    d.compression = platform::kFourCCMjpg;
    d.size = {640, 480};
    d.acceptsAny = false;
    platform::SetMachine(OneTestCard(d));
    const HWND w = Connected();
    BITMAPINFOHEADER f = Format(w);
    EXPECT_EQ(f.biCompression, platform::kFourCCMjpg);
    EXPECT_EQ(f.biWidth, 640);
    EXPECT_EQ(SetFormat(w, Rgb(640, 480)), 0) << "native only as MJPG";
    EXPECT_EQ(SetFormat(w, Rgb(384, 288)), 0);
    f.biWidth = 320;
    EXPECT_EQ(SetFormat(w, f), 0);
    f.biWidth = 640;
    EXPECT_EQ(SetFormat(w, f), TRUE);

    d.acceptsAny = true;
    platform::SetMachine(OneTestCard(d));
    const HWND any = Connected();
    EXPECT_EQ(SetFormat(any, Rgb(384, 288)), TRUE);
    EXPECT_EQ(Format(any).biCompression, BI_RGB);
    EXPECT_EQ(SetFormat(any, Rgb(5000, 4000)), 0) << "beyond any card";
}

TEST_F(CaptureService, AudioFormatDefaultsToCdQualityAndTakesOnlyConsistentPcm) {
    const HWND w = NewWindow();
    WAVEFORMATEX f{};
    EXPECT_EQ(SendMessageA(w, WM_CAP_GET_AUDIOFORMAT, 0, 0), 18);
    EXPECT_EQ(SendMessageA(w, WM_CAP_GET_AUDIOFORMAT, 18, reinterpret_cast<LPARAM>(&f)), 18);
    EXPECT_EQ(f.wFormatTag, WAVE_FORMAT_PCM);
    EXPECT_EQ(f.nSamplesPerSec, 44100u);
    EXPECT_EQ(f.nChannels, 2);
    EXPECT_EQ(f.wBitsPerSample, 16);
    EXPECT_EQ(f.nAvgBytesPerSec, 176400u);

    const auto set = [&](WAVEFORMATEX g, WPARAM size = 18) {
        return SendMessageA(w, WM_CAP_SET_AUDIOFORMAT, size, reinterpret_cast<LPARAM>(&g));
    };
    const WAVEFORMATEX mono{WAVE_FORMAT_PCM, 1, 22050, 44100, 2, 16, 0};
    WAVEFORMATEX bad = mono;
    bad.wFormatTag = 3;
    EXPECT_EQ(set(bad), 0);
    bad = mono;
    bad.wBitsPerSample = 24;
    EXPECT_EQ(set(bad), 0);
    bad = mono;
    bad.nBlockAlign = 4;
    EXPECT_EQ(set(bad), 0);
    EXPECT_EQ(set(mono, 10), 0);
    EXPECT_EQ(set(mono), TRUE);
    SendMessageA(w, WM_CAP_GET_AUDIOFORMAT, 18, reinterpret_cast<LPARAM>(&f));
    EXPECT_EQ(std::memcmp(&f, &mono, 18), 0);
    EXPECT_EQ(set({WAVE_FORMAT_PCM, 1, 11025, 11025, 1, 8, 0}), TRUE);
}

TEST_F(CaptureService, SequenceSetupHasServiceDefaultsAndKeepsAllBytesGiven) {
    const HWND w = NewWindow();
    const CAPTUREPARMS p = Setup(w);
    EXPECT_EQ(p.dwRequestMicroSecPerFrame, 66667u);
    EXPECT_EQ(p.vKeyAbort, VK_ESCAPE);
    EXPECT_EQ(p.fYield, FALSE);
    EXPECT_EQ(p.fCaptureAudio, TRUE);
    EXPECT_EQ(p.dwAudioBufferSize, 0u);
    EXPECT_EQ(p.AVStreamMaster, AVSTREAMMASTER_AUDIO);
    BYTE given[96];
    for (int i = 0; i < 96; ++i) given[i] = static_cast<BYTE>(i * 7 + 1);
    EXPECT_EQ(SendMessageA(w, WM_CAP_SET_SEQUENCE_SETUP, 96, reinterpret_cast<LPARAM>(given)),
              TRUE);
    BYTE back[96] = {};
    SendMessageA(w, WM_CAP_GET_SEQUENCE_SETUP, 96, reinterpret_cast<LPARAM>(back));
    EXPECT_EQ(std::memcmp(given, back, 96), 0);
    EXPECT_EQ(SendMessageA(w, WM_CAP_SET_SEQUENCE_SETUP, 96, 0), 0);
}

TEST_F(CaptureService, OverlayAnswersOneOnlyWhereTheDriverHasIt) {
    const HWND w = Connected();
    EXPECT_EQ(SendMessageA(w, WM_CAP_SET_OVERLAY, 1, 0), 1);
    EXPECT_EQ(Status(w).fOverlayWindow, TRUE);
    EXPECT_EQ(SendMessageA(w, WM_CAP_SET_PREVIEWRATE, 25, 0), TRUE);
    EXPECT_EQ(SendMessageA(w, WM_CAP_SET_PREVIEW, 1, 0), TRUE);
    EXPECT_EQ(Status(w).fLiveWindow, TRUE);
    EXPECT_EQ(Status(w).fOverlayWindow, FALSE) << "one live display at a time";
    EXPECT_EQ(CaptureWindowOf(w)->previewRateMs(), 25);

    DriverDescription d;
    d.overlay = false;
    platform::SetMachine(OneTestCard(d));
    const HWND plain = Connected();
    EXPECT_EQ(SendMessageA(plain, WM_CAP_SET_OVERLAY, 1, 0), 0);
    EXPECT_EQ(SendMessageA(plain, WM_CAP_SET_OVERLAY, 0, 0), 0);
    EXPECT_EQ(Status(plain).fOverlayWindow, FALSE);
    EXPECT_EQ(SendMessageA(NewWindow(), WM_CAP_SET_PREVIEW, 1, 0), 0) << "no driver";
}

TEST_F(CaptureService, LiveDisplayShowsTheMovingPictureUpright) {
    parent_->show();
    const HWND w = Connected();
    ASSERT_EQ(SendMessageA(w, WM_CAP_SET_OVERLAY, 1, 0), 1);
    platform::CaptureWindow* window = CaptureWindowOf(w);
    const std::uint32_t first = window->liveFrame();
    QElapsedTimer waited;
    waited.start();
    while (window->liveFrame() == first && waited.elapsed() < 3000) {
        QApplication::processEvents();
        QThread::msleep(5);
    }
    EXPECT_GT(window->liveFrame(), first);
    const QImage shown = window->grab().toImage();
    EXPECT_EQ(qGray(shown.pixel(380, 100)), 0) << "black bar at the top right";
    EXPECT_GT(qGray(shown.pixel(383, 287)), 240) << "white end of the ramp at the bottom";
}

TEST_F(CaptureService, DriverDialogsNameTheDriverAndNeverBlockAScriptedUser) {
    const HWND w = Connected();
    QString title;
    QTimer answer;
    QObject::connect(&answer, &QTimer::timeout, [&] {
        if (auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget())) {
            title = dialog->windowTitle();
            dialog->accept();
        }
    });
    answer.start(10);
    EXPECT_EQ(SendMessageA(w, WM_CAP_DLG_VIDEOFORMAT, 0, 0), TRUE);
    answer.stop();
    EXPECT_EQ(title, QStringLiteral("Carte de test — Format vidéo"));

    MachineDescription m = OneTestCard();
    m.user.messagesToStderr = true;
    platform::SetMachine(m);
    testing::internal::CaptureStderr();
    for (UINT dlg : {WM_CAP_DLG_VIDEOSOURCE, WM_CAP_DLG_VIDEODISPLAY, WM_CAP_DLG_VIDEOCOMPRESSION})
        EXPECT_EQ(SendMessageA(w, dlg, 0, 0), TRUE);
    const std::string printed = testing::internal::GetCapturedStderr();
    EXPECT_NE(printed.find("dialog: Carte de test — Source vidéo: "), std::string::npos);
    EXPECT_EQ(std::count(printed.begin(), printed.end(), '\n'), 3);
    EXPECT_EQ(SendMessageA(NewWindow(), WM_CAP_DLG_VIDEOSOURCE, 0, 0), 0);
}

TEST_F(CaptureService, SixtyVirtualSecondsDeliverEveryFrameAndBufferInTimeOrder) {
    const HWND w = Ready(40000, 60);
    EXPECT_EQ(Capture(w), TRUE);
    ExpectBeginAndEndAround();
    EXPECT_NEAR(recorder_.Count(Event::Frame), 1500, 1);
    const auto buffers = recorder_.Only(Event::Audio);
    ASSERT_EQ(buffers.size(), 120u);
    for (const Event& b : buffers) EXPECT_EQ(b.used, 88200u);
    std::int64_t last = 0;
    for (const Event& e : recorder_.events) {
        if (e.kind == Event::Status) continue;
        EXPECT_GE(e.time, last);
        last = e.time;
    }
    const auto frames = recorder_.Only(Event::Frame);
    EXPECT_EQ(frames[803].time, 32120);
    EXPECT_EQ(frames[803].used, 384u * 288 * 3);
    EXPECT_EQ(Status(w).fCapturingNow, FALSE);
}

TEST_F(CaptureService, ALongerCaptureAllocatesNoMoreThanAShortOne) {
    const auto allocationsFor = [&](UINT seconds) {
        const HWND w = Ready(40000, seconds);
        recorder_ = Recorder{};
        recorder_.events.reserve(2000);
        recorder_.beepOnsets.reserve(100);
        const long before = alloc_counter::Allocations();
        Capture(w);
        return alloc_counter::Allocations() - before;
    };
    const long shortCapture = allocationsFor(4);
    const long longCapture = allocationsFor(40);
    EXPECT_EQ(recorder_.Count(Event::Frame), 1000);
    EXPECT_LT(longCapture - shortCapture, 20) << shortCapture << " then " << longCapture;
}

TEST_F(CaptureService, FlashFramesAndBeepOnsetsMarkTheSameWholeSeconds) {
    for (double skew : {0.0, 1000.0}) {
        for (DWORD period : {DWORD{40000}, DWORD{33333}}) {
            DriverDescription d;
            d.skewPpm = skew;
            platform::SetMachine(OneTestCard(d));
            recorder_ = Recorder{};
            ASSERT_EQ(Capture(Ready(period, 5)), TRUE);
            std::vector<std::int64_t> flashes;
            for (const Event& f : recorder_.Only(Event::Frame))
                if (f.flash) flashes.push_back(f.time);
            ASSERT_EQ(flashes.size(), 5u) << period << " " << skew;
            ASSERT_EQ(recorder_.beepOnsets.size(), 5u);
            for (std::size_t n = 0; n < 5; ++n) {
                EXPECT_EQ(recorder_.beepOnsets[n], n * 44100);
                EXPECT_GE(flashes[n], static_cast<std::int64_t>(n * 1000));
                EXPECT_LT(flashes[n], static_cast<std::int64_t>(n * 1000 + period / 1000 + 1));
            }
        }
    }
}

TEST_F(CaptureService, VideoClockSkewAddsOneFramePerThousandPerThousandPpm) {
    for (const auto& [skew, frames] : {std::pair{0.0, 1000}, {1000.0, 1001}, {-1000.0, 999}}) {
        DriverDescription d;
        d.skewPpm = skew;
        platform::SetMachine(OneTestCard(d));
        recorder_ = Recorder{};
        Capture(Ready(40000, 40));
        EXPECT_EQ(recorder_.Count(Event::Frame), frames) << skew;
        EXPECT_EQ(recorder_.Count(Event::Audio), 80) << "audio keeps its own clock";
    }
}

TEST_F(CaptureService, EscapeEndsTheCaptureAndTheLastBufferKeepsTheSoundSoFar) {
    const HWND w = Ready();
    recorder_.then = [](const Event& e) {
        if (e.kind != Event::Frame || recorder->Count(Event::Frame) != 100) return;
        QKeyEvent press(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
        QCoreApplication::sendEvent(qApp, &press);
    };
    EXPECT_EQ(Capture(w), TRUE);
    ExpectBeginAndEndAround();
    EXPECT_EQ(recorder_.Count(Event::Frame), 100);
    const auto buffers = recorder_.Only(Event::Audio);
    ASSERT_EQ(buffers.size(), 8u);
    // Frame 100 came at 3.96 s: seven whole buffers and 0.46 s more.
    EXPECT_EQ(buffers.back().used, (3960u * 441 / 10 - 7 * 22050) * 4);
    EXPECT_EQ(buffers.back().length, 88200u);
}

TEST_F(CaptureService, StopFromACallbackEndsTheCaptureAndAbortDropsPendingSound) {
    for (UINT message : {WM_CAP_STOP, WM_CAP_ABORT}) {
        recorder_ = Recorder{};
        const HWND w = Ready();
        EXPECT_EQ(SendMessageA(w, message, 0, 0), 0) << "nothing to stop yet";
        recorder_.then = [w, message](const Event& e) {
            if (e.kind == Event::Frame && recorder->Count(Event::Frame) == 30) {
                EXPECT_EQ(SendMessageA(w, message, 0, 0), TRUE);
            }
        };
        Capture(w);
        ExpectBeginAndEndAround();
        EXPECT_EQ(recorder_.Count(Event::Frame), 30);
        EXPECT_EQ(recorder_.Count(Event::Audio), message == WM_CAP_STOP ? 3 : 2);
    }
}

TEST_F(CaptureService, ScriptedUserPressesEscapeAfterItsTimeOrFrames) {
    MachineDescription m = OneTestCard();
    m.user.escapeAfterFrames = 12;
    platform::SetMachine(m);
    Capture(Ready());
    EXPECT_EQ(recorder_.Count(Event::Frame), 12);

    m.user.escapeAfterFrames.reset();
    m.user.escapeAfterMs = 2000;
    platform::SetMachine(m);
    recorder_ = Recorder{};
    Capture(Ready());
    EXPECT_EQ(recorder_.Count(Event::Frame), 50);
    EXPECT_EQ(recorder_.Count(Event::Audio), 4);
    ExpectBeginAndEndAround();
}

TEST_F(CaptureService, WhileCapturingStatusShowsProgressAndSettingsAreRefused) {
    const HWND w = Ready(40000, 4);
    recorder_.then = [w](const Event& e) {
        if (e.kind != Event::Frame || recorder->Count(Event::Frame) != 50) return;
        const CAPSTATUS s = Status(w);
        EXPECT_EQ(s.fCapturingNow, TRUE);
        EXPECT_EQ(s.dwCurrentVideoFrame, 50u);
        EXPECT_EQ(s.dwCurrentTimeElapsedMS, 1960u);
        EXPECT_EQ(SetFormat(w, Rgb(320, 240)), 0);
        EXPECT_EQ(SendMessageA(w, WM_CAP_DRIVER_CONNECT, 0, 0), 0);
        EXPECT_EQ(Capture(w), 0) << "no capture inside a capture";
        CAPTUREPARMS p = Setup(w);
        EXPECT_EQ(SendMessageA(w, WM_CAP_SET_SEQUENCE_SETUP, 96, reinterpret_cast<LPARAM>(&p)), 0);
    };
    Capture(w);
    EXPECT_EQ(recorder_.Count(Event::Frame), 100);
}

TEST_F(CaptureService, BufferSizeAndAudioSwitchComeFromTheSequenceSetup) {
    const HWND w = Ready(40000, 2);
    CAPTUREPARMS p = Setup(w);
    p.dwAudioBufferSize = 10001;
    SendMessageA(w, WM_CAP_SET_SEQUENCE_SETUP, 96, reinterpret_cast<LPARAM>(&p));
    Capture(w);
    const auto buffers = recorder_.Only(Event::Audio);
    ASSERT_FALSE(buffers.empty());
    EXPECT_EQ(buffers.front().used, 10000u) << "whole blocks";
    EXPECT_EQ(recorder_.samples, 2u * 44100);

    p.fCaptureAudio = FALSE;
    SendMessageA(w, WM_CAP_SET_SEQUENCE_SETUP, 96, reinterpret_cast<LPARAM>(&p));
    recorder_ = Recorder{};
    Capture(w);
    EXPECT_EQ(recorder_.Count(Event::Audio), 0);
    EXPECT_EQ(recorder_.Count(Event::Frame), 50);
}

// What the program's close does from inside a handler: the capture must end without touching
// what is gone.
TEST_F(CaptureService, DisconnectRemovalOrDestructionInsideACallbackEndsTheCaptureSafely) {
    const std::vector<std::function<void(HWND)>> leave{
        [](HWND w) { SendMessageA(w, WM_CAP_DRIVER_DISCONNECT, 0, 0); },
        [](HWND w) { SendMessageA(w, WM_CAP_SET_CALLBACK_VIDEOSTREAM, 0, 0); },
        [](HWND w) { SendMessageA(w, WM_CAP_SET_CALLBACK_WAVESTREAM, 0, 0); },
        [](HWND w) { delete platform::WidgetOf(w); },
    };
    for (std::size_t way = 0; way < leave.size(); ++way) {
        recorder_ = Recorder{};
        const HWND w = Ready();
        recorder_.then = [&, w](const Event& e) {
            if (e.kind == Event::Frame && recorder->Count(Event::Frame) == 20) leave[way](w);
        };
        EXPECT_EQ(Capture(w), TRUE) << way;
        EXPECT_EQ(recorder_.Count(Event::Frame), 20) << way;
        const bool windowGone = way == 3;
        EXPECT_EQ(recorder_.events.back().id, windowGone ? 0 : IDS_CAP_END) << way;
    }
}

TEST_F(CaptureService, TheEndStatusMayDestroyTheWindowAndNoStatusHandlerGetsNoEnd) {
    const HWND w = Ready(40000, 1);
    recorder_.then = [w](const Event& e) {
        if (e.kind == Event::Status && e.id == IDS_CAP_END) delete platform::WidgetOf(w);
    };
    EXPECT_EQ(Capture(w), TRUE);
    EXPECT_EQ(CaptureWindowOf(w), nullptr);

    recorder_ = Recorder{};
    const HWND quiet = Ready(40000, 1);
    recorder_.then = [quiet](const Event& e) {
        if (e.kind == Event::Frame) SendMessageA(quiet, WM_CAP_SET_CALLBACK_STATUSA, 0, 0);
    };
    Capture(quiet);
    EXPECT_EQ(recorder_.Count(Event::Status), 1);
}

TEST_F(CaptureService, MjpegFramesAreJpegImagesOfTheFormatSize) {
    DriverDescription d;
    d.compression = platform::kFourCCMjpg;
    d.size = {640, 480};
    d.noise = 20;
    platform::SetMachine(OneTestCard(d));
    recorder_.decodeJpeg = true;
    Capture(Ready(40000, 1));
    const auto frames = recorder_.Only(Event::Frame);
    ASSERT_EQ(frames.size(), 25u);
    EXPECT_TRUE(frames[0].flash);
    for (const Event& f : frames) {
        EXPECT_EQ(f.id, 640 * 10000 + 480);
        EXPECT_LT(f.used, f.length);
    }
    EXPECT_FALSE(frames[1].flash);
}

TEST_F(CaptureService, RealClockSleepsBetweenFramesAndAStopFromTheEventLoopEndsIt) {
    MachineDescription m = OneTestCard();
    m.user.virtualClock = false;
    platform::SetMachine(m);
    const HWND w = Ready(40000, 5);
    QTimer::singleShot(300, [w] { SendMessageA(w, WM_CAP_STOP, 0, 0); });
    QElapsedTimer wall;
    wall.start();
    Capture(w);
    EXPECT_GE(wall.elapsed(), 290);
    EXPECT_GE(recorder_.Count(Event::Frame), 2);
    EXPECT_LE(recorder_.Count(Event::Frame), 9 + static_cast<int>(wall.elapsed() / 40));
    ExpectBeginAndEndAround();
}

TEST(SequenceTiming, BuffersDefaultToHalfASecondOrTenThousandBytesInWholeBlocks) {
    CAPTUREPARMS p{};
    const auto bytes = [&](WORD channels, DWORD rate, WORD bits) {
        const WORD block = static_cast<WORD>(channels * bits / 8);
        return platform::AudioBufferBytes(
            p, {WAVE_FORMAT_PCM, channels, rate, rate * block, block, bits, 0});
    };
    EXPECT_EQ(bytes(2, 44100, 16), 88200u);
    EXPECT_EQ(bytes(1, 11025, 16), 11024u);
    EXPECT_EQ(bytes(1, 11025, 8), 10000u);
    EXPECT_EQ(bytes(2, 11025, 16), 22048u);
    p.dwAudioBufferSize = 0xFFFFFFFF;
    EXPECT_EQ(bytes(2, 44100, 16), 1764000u) << "ten seconds at most";
    p.dwAudioBufferSize = 1;
    EXPECT_EQ(bytes(2, 44100, 16), 4u);
}

TEST(SequenceTiming, FramesAndBuffersFallOnTheirExactTimes) {
    const platform::SequenceTiming t(40000, 0, 44100, 22050);
    EXPECT_EQ(t.FrameTime(803), 32'120'000);
    EXPECT_TRUE(t.IsFlash(0));
    EXPECT_FALSE(t.IsFlash(24));
    EXPECT_TRUE(t.IsFlash(25));
    EXPECT_EQ(t.BufferDone(0), 500'000);
    EXPECT_EQ(t.SamplesBy(3'960'000), 174'636u);
    const platform::SequenceTiming odd(33333, 0, 11025, 10000);
    EXPECT_TRUE(odd.IsFlash(31));  // 1.033 s is the first frame past one second
    EXPECT_FALSE(odd.IsFlash(30));
    EXPECT_EQ(odd.BufferDone(0), 907'030) << "rounded up: the last sample is in";
    EXPECT_EQ(platform::SequenceTiming(0, 0, 44100, 1).FrameTime(1),
              platform::kShortestFramePeriodUs);
}
