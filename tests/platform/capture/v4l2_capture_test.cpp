// Real capture drivers without hardware: a scripted V4L2 device behind the system-call seam,
// and ALSA's own `file` PCM reading a raw file for the sound input.
#include <gtest/gtest.h>
#include <turbojpeg.h>

#include <QTemporaryDir>
#include <QWidget>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "platform/capture/alsa_capture.h"
#include "platform/capture/capture_window.h"
#include "platform/machine.h"
#include "platform/messages.h"
#include "platform/vfw.h"
#include "platform/window_handles.h"
#include "tests/platform/capture/fake_v4l2.h"

namespace {

using fake_v4l2::Mode;
using fake_v4l2::Node;
using platform::MachineDescription;

constexpr std::uint32_t kYuyv = V4L2_PIX_FMT_YUYV;
constexpr std::uint32_t kMjpg = V4L2_PIX_FMT_MJPEG;

// What the capture service handed to the callbacks.
struct Seen {
    std::vector<DWORD> frameTimes;
    std::vector<std::vector<BYTE>> firstFrame;  // the first frame's bytes
    std::vector<DWORD> audioBytes;
    std::vector<std::int16_t> sound;  // left channel
    std::vector<int> statuses;
    std::vector<std::string> messages;
};
Seen* seen = nullptr;

LRESULT OnStatus(HWND, int id, LPCSTR) {
    seen->statuses.push_back(id);
    return 1;
}
LRESULT OnFrame(HWND, LPVIDEOHDR h) {
    seen->frameTimes.push_back(h->dwTimeCaptured);
    if (seen->firstFrame.empty())
        seen->firstFrame.emplace_back(h->lpData, h->lpData + h->dwBytesUsed);
    return 1;
}
LRESULT OnAudio(HWND, LPWAVEHDR h) {
    seen->audioBytes.push_back(h->dwBytesRecorded);
    const auto* s = reinterpret_cast<const std::int16_t*>(h->lpData);
    for (DWORD i = 0; i < h->dwBytesRecorded / 4; ++i) seen->sound.push_back(s[i * 2]);
    return 1;
}

// A YUYV picture whose top half is white and bottom half black.
std::vector<unsigned char> Yuyv(std::uint32_t width, std::uint32_t height) {
    std::vector<unsigned char> bytes(std::size_t{width} * height * 2);
    for (std::uint32_t y = 0; y < height; ++y)
        for (std::uint32_t x = 0; x < width; x += 2) {
            unsigned char* p = &bytes[(std::size_t{y} * width + x) * 2];
            const unsigned char luma = y < height / 2 ? 235 : 16;
            p[0] = p[2] = luma;
            p[1] = p[3] = 128;
        }
    return bytes;
}

std::vector<unsigned char> Jpeg(int width, int height) {
    std::vector<unsigned char> rgb(static_cast<std::size_t>(width * height * 3), 90);
    tjhandle h = tjInitCompress();
    unsigned char* out = nullptr;
    unsigned long size = 0;
    tjCompress2(h, rgb.data(), width, 0, height, TJPF_RGB, &out, &size, TJSAMP_420, 80, 0);
    std::vector<unsigned char> bytes(out, out + size);
    tjFree(out);
    tjDestroy(h);
    return bytes;
}

Node Camera(std::string path, std::vector<Mode> modes) {
    Node n;
    n.path = std::move(path);
    n.modes = std::move(modes);
    return n;
}

class RealDevices : public ::testing::Test {
  protected:
    void SetUp() override {
        seen = &seen_;
        reporter_ = platform::SetMessageReporter(
            [](platform::MessageKind, const std::string& text) { seen->messages.push_back(text); });
        previous_ = platform::SetMachine(MachineDescription{});
        parent_ = std::make_unique<QWidget>();
    }
    void TearDown() override {
        seen = nullptr;
        platform::SetAlsaConfigForTesting({});
        platform::SetMessageReporter(reporter_);
        parent_.reset();
        device_.reset();
        platform::SetMachine(previous_);
    }

    // A fresh device in place of the last one, whose window goes with it.
    fake_v4l2::Device& Plug(std::vector<Node> nodes) {
        delete platform::CaptureWindowOf(window_);
        window_ = nullptr;
        device_.reset();
        device_ = std::make_unique<fake_v4l2::Device>(std::move(nodes));
        return *device_;
    }

    // The machine as found with `device` plugged in, on the scripted user's clock.
    void Install(fake_v4l2::Device& device, const std::string& audio = "none") {
        MachineDescription m = platform::DefaultMachineDescription();
        m.user.virtualClock = true;
        m.audio = audio;
        platform::SetMachine(m);
        device.now = [this] {
            return std::int64_t{
                       platform::CaptureWindowOf(window_)->Status().dwCurrentTimeElapsedMS} *
                   1000;
        };
    }
    bool Connect() {
        window_ = capCreateCaptureWindowA("video", WS_CHILD, 0, 0, 320, 240,
                                          platform::HandleOf(parent_.get()), 1);
        return SendMessageA(window_, WM_CAP_DRIVER_CONNECT, 0, 0) != 0;
    }
    BITMAPINFOHEADER Format() const {
        BITMAPINFOHEADER f{};
        SendMessageA(window_, WM_CAP_GET_VIDEOFORMAT, sizeof f, reinterpret_cast<LPARAM>(&f));
        return f;
    }
    bool AskRgb(int width, int height) const {
        BITMAPINFOHEADER f{};
        f.biSize = 40;
        f.biWidth = width;
        f.biHeight = height;
        f.biBitCount = 24;
        return SendMessageA(window_, WM_CAP_SET_VIDEOFORMAT, 40, reinterpret_cast<LPARAM>(&f)) != 0;
    }
    // One second at 25 frames a second.
    void Capture(UINT seconds = 1) const {
        SendMessageA(window_, WM_CAP_SET_CALLBACK_STATUSA, 0, reinterpret_cast<LPARAM>(&OnStatus));
        SendMessageA(window_, WM_CAP_SET_CALLBACK_VIDEOSTREAM, 0,
                     reinterpret_cast<LPARAM>(&OnFrame));
        SendMessageA(window_, WM_CAP_SET_CALLBACK_WAVESTREAM, 0,
                     reinterpret_cast<LPARAM>(&OnAudio));
        CAPTUREPARMS p{};
        SendMessageA(window_, WM_CAP_GET_SEQUENCE_SETUP, sizeof p, reinterpret_cast<LPARAM>(&p));
        p.dwRequestMicroSecPerFrame = 40000;
        p.fLimitEnabled = TRUE;
        p.wTimeLimit = static_cast<WORD>(seconds);
        SendMessageA(window_, WM_CAP_SET_SEQUENCE_SETUP, sizeof p, reinterpret_cast<LPARAM>(&p));
        EXPECT_EQ(SendMessageA(window_, WM_CAP_SEQUENCE_NOFILE, 0, 0), TRUE);
    }

    Seen seen_;
    std::unique_ptr<fake_v4l2::Device> device_;
    HWND window_ = nullptr;
    platform::MessageReporter reporter_;
    MachineDescription previous_;
    std::unique_ptr<QWidget> parent_;
};

TEST_F(RealDevices, CaptureNodesComeFirstInNodeOrderThenTheTestCard) {
    Node metadata = Camera("/dev/video1", {});
    metadata.caps = V4L2_CAP_META_CAPTURE | V4L2_CAP_STREAMING;
    Node second = Camera("/dev/video2", {{kYuyv, 320, 240}});
    second.card = "Carte PCI";
    second.version = 0x050A03;
    Plug({Camera("/dev/video0", {{kMjpg, 640, 480}}), metadata, second});
    const MachineDescription m = platform::DefaultMachineDescription();
    ASSERT_TRUE(m.drivers[0] && m.drivers[1] && m.drivers[2]);
    EXPECT_EQ(m.drivers[0]->device, "/dev/video0");
    EXPECT_EQ(m.drivers[0]->name, "Caméra factice");
    EXPECT_EQ(m.drivers[1]->name, "Carte PCI");
    EXPECT_EQ(m.drivers[1]->version, "5.10.3");
    EXPECT_EQ(m.drivers[2]->kind, "testcard");
    EXPECT_FALSE(m.drivers[3]);

    const MachineDescription named = platform::ParseMachineDescription(
        "[drivers]\n0 = testcard\n1 = v4l2:/dev/video2\n2 = v4l2:/dev/video7\naudio = hw:1,0\n",
        "m.ini");
    EXPECT_EQ(named.drivers[0]->kind, "testcard");
    EXPECT_EQ(named.drivers[1]->name, "Carte PCI");
    EXPECT_EQ(named.drivers[2]->name, "/dev/video7") << "named after its node until plugged in";
    EXPECT_EQ(named.audio, "hw:1,0");
}

// The program asks 384 x 288 then 320 x 240 in 24-bit RGB: a size is taken only when the device
// gives exactly that size in a layout we convert.
TEST_F(RealDevices, NativeFormatAndExactSizesOnly) {
    struct Case {
        const char* name;
        std::vector<Mode> modes;
        DWORD nativeCompression;
        int nativeWidth;
        bool takes384;
        bool takes320;
    };
    const Case cases[] = {
        {"YUYV webcam", {{kYuyv, 640, 480}, {kYuyv, 320, 240}}, BI_RGB, 640, false, true},
        {"MJPG webcam",
         {{kMjpg, 1280, 720}, {kYuyv, 320, 240}},
         MAKEFOURCC('M', 'J', 'P', 'G'),
         1280,
         false,
         true},
        {"PAL card", {{kYuyv, 384, 288}, {kYuyv, 768, 576}}, BI_RGB, 384, true, false},
        {"Motion-JPEG only",
         {{kMjpg, 640, 480}},
         MAKEFOURCC('M', 'J', 'P', 'G'),
         640,
         false,
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fake_v4l2::Device& device = Plug({Camera("/dev/video0", c.modes)});
        Install(device);
        ASSERT_TRUE(Connect());
        EXPECT_EQ(Format().biCompression, c.nativeCompression);
        EXPECT_EQ(Format().biWidth, c.nativeWidth);
        EXPECT_EQ(AskRgb(384, 288), c.takes384);
        EXPECT_EQ(AskRgb(320, 240), c.takes320);
        if (c.takes320) {
            EXPECT_EQ(device.current.width, 320u);
        }
    }
    Node busy = Camera("/dev/video0", {{kYuyv, 320, 240}});
    busy.busy = true;
    fake_v4l2::Device& device = Plug({busy});
    Install(device);
    EXPECT_FALSE(Connect()) << "a device busy elsewhere refuses the connection";
}

// Frames reach the callback on the requested grid whatever the device's own rate or faults; the
// previous picture stands in for what is missing or bad, and every buffer goes back.
TEST_F(RealDevices, FramesOnTheGridWhateverTheDeviceDoes) {
    struct Case {
        const char* name;
        std::uint32_t pixelFormat;
        std::int64_t devicePeriodUs;
        int badFrame;  // index of a frame made bad, or -1
        std::uint32_t badFlags;
        bool shortenBad;
        int eagain, eintr;
        std::uint64_t framesTaken;
        const char* counts;
    };
    const Case cases[] = {
        {"same rate", kYuyv, 40000, -1, 0, false, 0, 0, 25, "0 frame(s) repeated, 0 dropped"},
        {"half rate", kYuyv, 80000, -1, 0, false, 0, 0, 13, "12 frame(s) repeated, 0 dropped"},
        {"double rate", kYuyv, 20000, -1, 0, false, 0, 0, 49, "0 frame(s) repeated, 24 dropped"},
        {"error flag", kYuyv, 40000, 5, V4L2_BUF_FLAG_ERROR, false, 0, 0, 25,
         "1 frame(s) repeated"},
        {"short frame", kYuyv, 40000, 5, 0, true, 0, 0, 25, "1 frame(s) repeated"},
        {"truncated JPEG", kMjpg, 40000, 5, 0, true, 0, 0, 25, "1 frame(s) repeated"},
        {"EAGAIN and EINTR", kYuyv, 40000, -1, 0, false, 1, 2, 25, "0 frame(s) repeated"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        seen_ = {};
        fake_v4l2::Device& device = Plug({Camera("/dev/video0", {{c.pixelFormat, 320, 240}})});
        const auto picture = c.pixelFormat == kYuyv ? Yuyv(320, 240) : Jpeg(320, 240);
        for (int k = 0; k * c.devicePeriodUs < 1'000'000; ++k) {
            fake_v4l2::Frame f{k * c.devicePeriodUs, picture, 0};
            if (k == c.badFrame) {
                f.flags = c.badFlags;
                if (c.shortenBad) f.bytes.resize(f.bytes.size() / 2);
            }
            device.frames.push_back(std::move(f));
        }
        device.eagainDequeues = c.eagain;
        device.eintrPolls = c.eintr;
        Install(device);
        ASSERT_TRUE(Connect());
        testing::internal::CaptureStderr();
        Capture();
        const std::string err = testing::internal::GetCapturedStderr();
        EXPECT_NE(err.find(c.counts), std::string::npos) << err;
        ASSERT_EQ(seen_.frameTimes.size(), 25u);
        for (std::size_t k = 0; k < 25; ++k) EXPECT_EQ(seen_.frameTimes[k], k * 40);
        EXPECT_EQ(seen_.audioBytes.size(), 2u) << "silence in step: two half seconds";
        EXPECT_EQ(std::uint64_t(device.framesTaken), c.framesTaken);
        EXPECT_EQ(device.heldAtStreamOff, 0) << "every buffer queued again";
        EXPECT_EQ(device.periodNumerator * 25u, device.periodDenominator);
        EXPECT_TRUE(device.exposurePriorityOff);
        EXPECT_TRUE(seen_.messages.empty());
    }
}

TEST_F(RealDevices, YuyvBecomesABottomUpDib) {
    fake_v4l2::Device& device = Plug({Camera("/dev/video0", {{kYuyv, 320, 240}})});
    device.frames.push_back({0, Yuyv(320, 240), 0});
    Install(device);
    ASSERT_TRUE(Connect());
    Capture();
    ASSERT_FALSE(seen_.firstFrame.empty());
    const std::vector<BYTE>& dib = seen_.firstFrame.front();
    ASSERT_EQ(dib.size(), 320u * 3 * 240);
    EXPECT_LT(dib.front(), 10) << "the first row is the picture's bottom (black)";
    EXPECT_GT(dib.back(), 245) << "the last row is its top (white)";
}

// Asked for a progressive picture, a device answers with its own field order: woven frames and
// single fields are recorded as they come; fields one after the other only once the device,
// asked again, weaves them.
TEST_F(RealDevices, WovenFramesAndSingleFieldsAreRecordedAsTheyCome) {
    struct Case {
        const char* name;
        Mode mode;
        bool connects;
        std::uint32_t recorded;
    };
    const Case cases[] = {
        {"progressive", {kYuyv, 320, 240, V4L2_FIELD_NONE}, true, V4L2_FIELD_NONE},
        {"woven", {kYuyv, 320, 240, V4L2_FIELD_INTERLACED}, true, V4L2_FIELD_INTERLACED},
        {"woven, top first",
         {kYuyv, 320, 240, V4L2_FIELD_INTERLACED_TB},
         true,
         V4L2_FIELD_INTERLACED_TB},
        {"woven, bottom first",
         {kYuyv, 320, 240, V4L2_FIELD_INTERLACED_BT},
         true,
         V4L2_FIELD_INTERLACED_BT},
        {"top field", {kYuyv, 320, 120, V4L2_FIELD_TOP}, true, V4L2_FIELD_TOP},
        {"bottom field", {kYuyv, 320, 120, V4L2_FIELD_BOTTOM}, true, V4L2_FIELD_BOTTOM},
        {"fields in sequence, woven when asked",
         {kYuyv, 320, 240, V4L2_FIELD_SEQ_TB, true},
         true,
         V4L2_FIELD_INTERLACED},
        {"fields in sequence only", {kYuyv, 320, 240, V4L2_FIELD_SEQ_BT}, false, 0},
        {"alternate fields, woven when asked",
         {kYuyv, 320, 240, V4L2_FIELD_ALTERNATE, true},
         true,
         V4L2_FIELD_INTERLACED},
        {"alternate fields only", {kYuyv, 320, 240, V4L2_FIELD_ALTERNATE}, false, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        seen_ = {};
        fake_v4l2::Device& device = Plug({Camera("/dev/video0", {c.mode})});
        for (int k = 0; k < 25; ++k)
            device.frames.push_back({k * 40000, Yuyv(c.mode.width, c.mode.height), 0});
        Install(device);
        ASSERT_EQ(Connect(), c.connects);
        if (!c.connects) continue;
        const auto height = static_cast<int>(c.mode.height);
        EXPECT_EQ(device.current.field, c.recorded);
        EXPECT_EQ(Format().biHeight, height);
        EXPECT_TRUE(AskRgb(320, height));
        Capture();
        EXPECT_EQ(seen_.frameTimes.size(), 25u);
        ASSERT_EQ(seen_.firstFrame.size(), 1u);
        EXPECT_EQ(seen_.firstFrame.front().size(), 320u * 3 * c.mode.height);
    }
}

// Unplugged: poll reports an error at once, or (a stuck driver) no buffer comes back for three
// seconds. The capture ends as Escape ends it, then one message names the device.
TEST_F(RealDevices, AnUnpluggedDeviceEndsTheCaptureAndIsNamed) {
    struct Case {
        const char* name;
        bool pollError;
        std::size_t framesDelivered;
    };
    const Case cases[] = {{"poll error", true, 13}, {"no more buffers", false, 87}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        seen_ = {};
        fake_v4l2::Device& device = Plug({Camera("/dev/video0", {{kYuyv, 320, 240}})});
        const int frames = c.pollError ? 125 : 13;
        for (int k = 0; k < frames; ++k) device.frames.push_back({k * 40000, Yuyv(320, 240), 0});
        if (c.pollError) device.unplugAtUs = 500000;
        Install(device);
        ASSERT_TRUE(Connect());
        Capture(5);
        EXPECT_EQ(seen_.frameTimes.size(), c.framesDelivered);
        ASSERT_EQ(seen_.statuses.size(), 2u);
        EXPECT_EQ(seen_.statuses.back(), IDS_CAP_END);
        ASSERT_EQ(seen_.messages.size(), 1u);
        EXPECT_EQ(seen_.messages.front(),
                  "Le périphérique vidéo \"Caméra factice\" (/dev/video0) ne répond plus : la "
                  "capture a été arrêtée.");
    }
}

// ALSA's `file` PCM on a `null` slave reads a raw file as if it were recorded: the real input
// path, no sound card.
TEST_F(RealDevices, SoundFromTheInputInProgramBuffersWithItsBeepInPlace) {
    QTemporaryDir folder;
    const std::string raw = folder.filePath(QStringLiteral("in.raw")).toStdString();
    constexpr int kBeepAt = 30000;
    std::vector<std::int16_t> samples(2 * 44100 * 2, 0);
    for (int i = kBeepAt; i < kBeepAt + 4410; ++i)
        samples[std::size_t(i) * 2] = samples[std::size_t(i) * 2 + 1] =
            static_cast<std::int16_t>(i % 44 < 22 ? 8000 : -8000);
    std::ofstream(raw, std::ios::binary)
        .write(reinterpret_cast<const char*>(samples.data()),
               static_cast<std::streamsize>(samples.size() * 2));
    platform::SetAlsaConfigForTesting(
        "pcm.null { type null }\n"
        "pcm.fromfile { type file slave.pcm \"null\" "
        "file \"/dev/null\" infile \"" +
        raw + "\" format \"raw\" }\n");
    fake_v4l2::Device& device = Plug({Camera("/dev/video0", {{kYuyv, 320, 240}})});
    for (int k = 0; k < 50; ++k) device.frames.push_back({k * 40000, Yuyv(320, 240), 0});
    Install(device, "fromfile");
    ASSERT_TRUE(Connect());
    Capture(2);
    EXPECT_EQ(seen_.frameTimes.size(), 50u);
    EXPECT_EQ(seen_.audioBytes, (std::vector<DWORD>{88200, 88200, 88200, 88200}));
    std::size_t onset = 0;
    while (onset < seen_.sound.size() && seen_.sound[onset] == 0) ++onset;
    EXPECT_EQ(onset, std::size_t{kBeepAt});
}

}  // namespace

namespace {

// Preview shows the device's own picture, upright, through the capture's conversion (and the
// JPEG decoder for a Motion-JPEG device).
TEST_F(RealDevices, PreviewShowsTheDevicePictureUpright) {
    struct Case {
        const char* name;
        std::uint32_t pixelFormat;
        int topGrey;
        int bottomGrey;
    };
    const Case cases[] = {{"YUYV", kYuyv, 255, 0}, {"MJPG", kMjpg, 90, 90}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fake_v4l2::Device& device = Plug({Camera("/dev/video0", {{c.pixelFormat, 320, 240}})});
        device.frames.push_back({0, c.pixelFormat == kYuyv ? Yuyv(320, 240) : Jpeg(320, 240), 0});
        Install(device);
        ASSERT_TRUE(Connect());
        auto* widget = platform::CaptureWindowOf(window_);
        widget->resize(320, 240);
        ASSERT_EQ(SendMessageA(window_, WM_CAP_SET_PREVIEW, 1, 0), TRUE);
        const QImage shown = widget->grab().toImage();
        EXPECT_NEAR(qGray(shown.pixel(160, 10)), c.topGrey, 8);
        EXPECT_NEAR(qGray(shown.pixel(160, 230)), c.bottomGrey, 8);
        SendMessageA(window_, WM_CAP_SET_PREVIEW, 0, 0);
        EXPECT_EQ(device.heldAtStreamOff, 0);
    }
}

}  // namespace
