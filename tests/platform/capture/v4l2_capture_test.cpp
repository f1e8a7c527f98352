// SPDX-License-Identifier: GPL-2.0-or-later
// Real capture drivers without hardware: a scripted V4L2 device behind the system-call seam,
// and ALSA's own `file` PCM reading a raw file for the sound input.
#include <gtest/gtest.h>
#include <turbojpeg.h>

#include <QTemporaryDir>
#include <QWidget>
#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/capture/alsa_capture.h"
#include "platform/capture/capture_window.h"
#include "platform/capture/v4l2_source.h"
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
    std::vector<BYTE> firstBytes;               // each frame's first byte
    std::size_t stallAfter = 0;                 // frames after which the handler takes 300 ms
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
    seen->firstBytes.push_back(h->dwBytesUsed > 0 ? h->lpData[0] : 0);
    if (seen->frameTimes.size() == seen->stallAfter)
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
    return 1;
}
LRESULT OnAudio(HWND, LPWAVEHDR h) {
    seen->audioBytes.push_back(h->dwBytesRecorded);
    const auto* s = reinterpret_cast<const std::int16_t*>(h->lpData);
    for (DWORD i = 0; i < h->dwBytesRecorded / 4; ++i) seen->sound.push_back(s[i * 2]);
    return 1;
}

// A YUYV picture of one grey.
std::vector<unsigned char> Grey(std::uint32_t width, std::uint32_t height, unsigned char luma) {
    std::vector<unsigned char> bytes(std::size_t{width} * height * 2, 128);
    for (std::size_t i = 0; i < bytes.size(); i += 2) bytes[i] = luma;
    return bytes;
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
    const std::vector<unsigned char> rgb(static_cast<std::size_t>(width * height * 3), 90);
    return fake_v4l2::Jpeg(rgb, width, height, TJSAMP_420, 80);
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

    // The machine as found with `device` plugged in, on the scripted user's clock or the system's.
    void Install(fake_v4l2::Device& device, const std::string& audio = "none",
                 bool virtualClock = true) {
        MachineDescription m = platform::DefaultMachineDescription();
        m.user.virtualClock = virtualClock;
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
    void Capture(UINT seconds = 1) const { EXPECT_TRUE(Record(seconds)); }
    bool Record(UINT seconds) const {
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
        return SendMessageA(window_, WM_CAP_SEQUENCE_NOFILE, 0, 0) == TRUE;
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

// The program asks 384 x 288 then 320 x 240 in 24-bit RGB: a device gives either in a mode of
// that size, or of a larger one of the same shape that is scaled down; a device with neither
// refuses it.
TEST_F(RealDevices, NativeFormatAndTheSizesAsked) {
    struct Case {
        const char* name;
        std::vector<Mode> modes;
        DWORD nativeCompression;
        int nativeWidth;
        std::uint32_t widthFor384;  // the device's width giving 384 x 288; 0: refused
        std::uint32_t widthFor320;
    };
    const Case cases[] = {
        {"YUYV webcam", {{kYuyv, 640, 480}, {kYuyv, 320, 240}}, BI_RGB, 640, 640, 320},
        {"MJPG webcam",
         {{kMjpg, 1280, 720}, {kYuyv, 320, 240}},
         MAKEFOURCC('M', 'J', 'P', 'G'),
         1280,
         0,
         320},
        {"PAL card", {{kYuyv, 384, 288}, {kYuyv, 768, 576}}, BI_RGB, 384, 384, 384},
        {"Motion-JPEG only", {{kMjpg, 640, 480}}, MAKEFOURCC('M', 'J', 'P', 'G'), 640, 640, 640},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fake_v4l2::Device& device = Plug({Camera("/dev/video0", c.modes)});
        Install(device);
        ASSERT_TRUE(Connect());
        EXPECT_EQ(Format().biCompression, c.nativeCompression);
        EXPECT_EQ(Format().biWidth, c.nativeWidth);
        EXPECT_EQ(AskRgb(384, 288), c.widthFor384 != 0);
        if (c.widthFor384 != 0) {
            EXPECT_EQ(device.current.width, c.widthFor384);
        }
        EXPECT_EQ(AskRgb(320, 240), c.widthFor320 != 0);
        if (c.widthFor320 != 0) {
            EXPECT_EQ(device.current.width, c.widthFor320);
        }
        EXPECT_EQ(Format().biWidth, c.widthFor320 != 0 ? 320 : c.nativeWidth);
    }
}

// A refused connection tells the device and why, for the window's message; a good one after it
// tells nothing.
TEST_F(RealDevices, ARefusedConnectionSaysWhichDeviceAndWhy) {
    struct Case {
        const char* name;
        std::uint32_t pixelFormat;
        bool busy;
        unsigned long refused;  // a request the device refuses with ENODEV
        const char* failure;
    };
    const Case cases[] = {
        {"busy elsewhere", kYuyv, true, 0,
         "/dev/video0 : périphérique occupé par un autre programme"},
        {"pulled out", kYuyv, false, VIDIOC_G_FMT,
         "/dev/video0 : périphérique introuvable ou débranché"},
        {"nothing deliverable", V4L2_PIX_FMT_H264, false, 0,
         "/dev/video0 : aucun format d'image utilisable"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Node node = Camera("/dev/video0", {{c.pixelFormat, 320, 240}});
        node.busy = c.busy;
        fake_v4l2::Device& device = Plug({node});
        if (c.refused != 0) device.refusals[c.refused] = ENODEV;
        Install(device);
        testing::internal::CaptureStderr();
        EXPECT_FALSE(Connect());
        testing::internal::GetCapturedStderr();
        char text[128] = "unchanged";
        const LRESULT needed =
            SendMessageA(window_, WM_CAP_GET_CONNECT_FAILURE, sizeof text, LPARAM(text));
        EXPECT_EQ(std::string(text), c.failure);
        EXPECT_EQ(needed, LRESULT(std::strlen(c.failure) + 1));
        if (c.refused == 0) continue;
        device.refusals.clear();  // plugged in again
        EXPECT_TRUE(SendMessageA(window_, WM_CAP_DRIVER_CONNECT, 0, 0));
        EXPECT_EQ(SendMessageA(window_, WM_CAP_GET_CONNECT_FAILURE, 0, 0), 0);
    }
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

// A refusal is named once however often the request is refused (two captures, the modes listed),
// with the system's reason; the errors that end a probe say nothing.
TEST_F(RealDevices, EachRefusalIsNamedOnceWithItsReason) {
    struct Case {
        unsigned long request;
        const char* name;
        int error;
        bool told;  // false: the normal end of a probe
    };
    const Case cases[] = {
        {VIDIOC_S_FMT, "VIDIOC_S_FMT", EBUSY, true},
        {VIDIOC_S_PARM, "VIDIOC_S_PARM", ENOTTY, true},
        {VIDIOC_S_CTRL, "VIDIOC_S_CTRL", EBUSY, true},
        {VIDIOC_REQBUFS, "VIDIOC_REQBUFS", ENOMEM, true},
        {VIDIOC_QBUF, "VIDIOC_QBUF", EINVAL, true},
        {VIDIOC_STREAMON, "VIDIOC_STREAMON", EIO, true},
        {VIDIOC_DQBUF, "VIDIOC_DQBUF", ENODEV, true},
        {VIDIOC_S_CTRL, "VIDIOC_S_CTRL", EINVAL, false},
        {VIDIOC_G_PARM, "VIDIOC_G_PARM", ENOTTY, false},
        {VIDIOC_ENUM_FMT, "VIDIOC_ENUM_FMT", EINVAL, false},
        {VIDIOC_ENUM_FRAMESIZES, "VIDIOC_ENUM_FRAMESIZES", ENOTTY, false},
        {VIDIOC_DQBUF, "VIDIOC_DQBUF", EAGAIN, false},
    };
    for (const Case& c : cases) {
        const std::string line = std::string(": video \"Caméra factice\" (/dev/video0): ") +
                                 c.name + " refused: " + std::strerror(c.error) + "\n";
        SCOPED_TRACE(line);
        fake_v4l2::Device& device = Plug({Camera("/dev/video0", {{kYuyv, 320, 240}})});
        for (int k = 0; k < 25; ++k) device.frames.push_back({k * 40000, Yuyv(320, 240), 0});
        device.refusals[c.request] = c.error;
        Install(device);
        testing::internal::CaptureStderr();
        if (Connect() && AskRgb(320, 240))
            for (int run = 0; run < 2; ++run) Record(1);
        const std::string err = testing::internal::GetCapturedStderr();
        std::size_t refused = 0;
        for (std::size_t at = err.find(" refused: "); at != std::string::npos;
             at = err.find(" refused: ", at + 1))
            ++refused;
        EXPECT_EQ(refused, c.told ? 1u : 0u) << err;
        EXPECT_EQ(err.find(line) != std::string::npos, c.told) << err;
    }
}

// On the system clock a handler that holds the loop up costs no grid point: the frames the
// device took meanwhile are chosen by their time, and what the callback saw repeated is what
// the end-of-capture line counts.
TEST_F(RealDevices, ALateLoopStillDeliversEveryGridPoint) {
    fake_v4l2::Device& device = Plug({Camera("/dev/video0", {{kYuyv, 320, 240}})});
    for (int k = 0; k < 30; ++k)
        device.frames.push_back(
            {k * 40000, Grey(320, 240, static_cast<unsigned char>(30 + 6 * k)), 0});
    Install(device, "none", false);
    ASSERT_TRUE(Connect());
    seen_.stallAfter = 6;
    testing::internal::CaptureStderr();
    Capture();
    const std::string err = testing::internal::GetCapturedStderr();
    ASSERT_EQ(seen_.frameTimes.size(), 25u);
    for (std::size_t k = 0; k < 25; ++k) EXPECT_EQ(seen_.frameTimes[k], k * 40);
    std::size_t same = 0;
    for (std::size_t k = 1; k < seen_.firstBytes.size(); ++k)
        same += seen_.firstBytes[k] == seen_.firstBytes[k - 1] ? 1 : 0;
    EXPECT_NE(err.find(": " + std::to_string(same) + " frame(s) repeated"), std::string::npos)
        << err;
    EXPECT_EQ(device.heldAtStreamOff, 0);
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

namespace {

// The source driven as the capture loop drives it, on a clock the test owns (a poll that waits
// moves it on): grid point k, 40 ms apart, is asked for at its time or later, with the moment
// its sound was recorded. Frames are Motion-JPEG markers around their own number, so what comes
// out says which frame it was.
class RealDeviceTiming : public ::testing::Test {
  protected:
    static constexpr std::int64_t kGridUs = 40000;

    struct Ask {
        std::int64_t calledUs;
        std::int64_t soundUs;
        int frame;  // -1: none
    };

    fake_v4l2::Device& Plug() {
        device_.reset();
        device_ = std::make_unique<fake_v4l2::Device>(
            std::vector<Node>{Camera("/dev/video0", {{kMjpg, 320, 240}})});
        device_->monotonicOrigin = 0;
        device_->now = [this] { return now_; };
        device_->sleep = [this](std::int64_t us) { now_ += us; };
        now_ = 0;
        return *device_;
    }

    // Frame j is taken at phase + j × period and ready `transfer` later; its stamp is shifted
    // by `shift` on `clock`.
    void Script(int count, std::int64_t periodUs, std::int64_t phaseUs, std::int64_t transferUs,
                std::uint32_t clock = V4L2_BUF_FLAG_TIMESTAMP_MONOTONIC, std::int64_t shiftUs = 0) {
        taken_.clear();
        ready_.clear();
        for (int j = 0; j < count; ++j) {
            const std::int64_t taken = phaseUs + j * periodUs;
            taken_.push_back(taken);
            ready_.push_back(taken + transferUs);
            const auto hi = static_cast<unsigned char>(j >> 8);
            const auto lo = static_cast<unsigned char>(j & 0xFF);
            device_->frames.push_back(
                {taken + transferUs, {0xFF, 0xD8, hi, lo, 0xFF, 0xD9}, 0, taken + shiftUs, clock});
        }
    }

    std::unique_ptr<platform::VideoSource> Start() {
        platform::DriverDescription driver;
        driver.kind = "v4l2";
        driver.device = "/dev/video0";
        driver.name = "Caméra factice";
        auto source = platform::OpenV4l2Source(driver);
        EXPECT_TRUE(source && source->Start(static_cast<DWORD>(kGridUs)));
        return source;
    }

    // Grid points 0 to count - 1, the sound lagging `lagUs`; before grid point `resumeAt` the
    // program stood still until `resumeUs`.
    std::vector<Ask> Run(platform::VideoSource& source, int count, std::int64_t lagUs,
                         int resumeAt = -1, std::int64_t resumeUs = 0) {
        std::vector<Ask> asks;
        for (int k = 0; k < count; ++k) {
            if (k == resumeAt) now_ = resumeUs;
            now_ = std::max(now_, k * kGridUs);
            const std::int64_t called = now_;
            const std::span<BYTE> bytes = source.Frame(k, false, k * kGridUs - lagUs);
            const int frame = bytes.size() == 6 ? bytes[2] << 8 | bytes[3] : -1;
            asks.push_back({called, k * kGridUs - lagUs, frame});
            EXPECT_LE(now_ - called, kGridUs) << "grid point " << k << " waited too long";
        }
        return asks;
    }

    bool Lost(int frame) const {
        const auto& lost = device_->lost;
        return std::find(lost.begin(), lost.end(), std::size_t(frame)) != lost.end();
    }

    // What the device delivered within a grid period of the call, the frame taken nearest to the
    // sound moment, the earlier of two as near.
    int Nearest(const Ask& ask) const {
        int best = -1;
        for (int j = 0; j < static_cast<int>(taken_.size()); ++j) {
            if (ready_[j] > ask.calledUs + kGridUs || Lost(j)) continue;
            if (best < 0 ||
                std::abs(taken_[j] - ask.soundUs) < std::abs(taken_[best] - ask.soundUs))
                best = j;
        }
        return best;
    }

    // Repeated: grid points that got the same frame as the previous one. Dropped: frames the
    // device delivered between the first and last delivered and never given.
    void ExpectCounts(const platform::VideoSource& source, const std::vector<Ask>& asks) const {
        std::uint64_t same = 0;
        std::set<int> given;
        for (std::size_t k = 0; k < asks.size(); ++k) {
            given.insert(asks[k].frame);
            if (k > 0 && asks[k].frame == asks[k - 1].frame) ++same;
        }
        std::uint64_t passed = 0;
        for (int j = asks.front().frame; j <= asks.back().frame; ++j)
            if (given.count(j) == 0 && !Lost(j)) ++passed;
        EXPECT_EQ(source.repeated(), same);
        EXPECT_EQ(source.dropped(), passed);
    }

    std::unique_ptr<fake_v4l2::Device> device_;
    std::int64_t now_ = 0;
    std::vector<std::int64_t> taken_;
    std::vector<std::int64_t> ready_;
};

// Frames arrive after they are taken, the sound's moments lag behind the loop: the frame given
// is the one taken nearest each grid point's sound, not the latest to arrive; with no frame
// after that moment yet, the source waits for the next at most a grid period. A stamp on another
// clock, or one the frame cannot have been taken at, gives way to the dequeue time (here, with
// frames ready as soon as taken, the same choice), and the capture says how many did.
TEST_F(RealDeviceTiming, EachGridPointGetsTheFrameTakenNearestItsSound) {
    constexpr std::uint32_t kMonotonic = V4L2_BUF_FLAG_TIMESTAMP_MONOTONIC;
    struct Case {
        const char* name;
        std::int64_t periodUs, phaseUs, transferUs, lagUs;
        std::uint32_t clock = kMonotonic;
        std::int64_t shiftUs = 0;
    };
    const Case cases[] = {
        {"sound 120 ms behind", 40000, 0, 5000, 120000},
        {"sound 130 ms behind, frames off the grid", 40000, 9000, 5000, 130000},
        {"sound 400 ms behind", 40000, 0, 5000, 400000},
        {"30 frames a second", 33333, 7000, 5000, 120000},
        {"12.5 frames a second", 80000, 0, 5000, 120000},
        {"50 frames a second", 20000, 3000, 5000, 120000},
        {"no lag: the next frame is worth waiting for", 40000, 15000, 5000, 0},
        {"no lag: the next frame comes too late", 40000, 15000, 45000, 0},
        {"the camera ran before the sound started", 40000, -200000, 5000, 0},
        {"wall-clock stamps on no named clock", 40000, 0, 0, 120000,
         V4L2_BUF_FLAG_TIMESTAMP_UNKNOWN, 1'700'000'000'000'000},
        {"stamps copied from elsewhere", 40000, 0, 0, 120000, V4L2_BUF_FLAG_TIMESTAMP_COPY,
         -300000},
        {"monotonic stamps after the dequeue", 40000, 0, 0, 120000, kMonotonic, 5'000'000},
        {"monotonic stamps long before streaming", 40000, 0, 0, 120000, kMonotonic, -5'000'000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fake_v4l2::Device& device = Plug();
        Script(static_cast<int>(2'500'000 / c.periodUs), c.periodUs, c.phaseUs, c.transferUs,
               c.clock, c.shiftUs);
        const auto source = Start();
        const std::vector<Ask> asks = Run(*source, 50, c.lagUs);
        for (std::size_t k = 0; k < asks.size(); ++k)
            EXPECT_EQ(asks[k].frame, Nearest(asks[k])) << "grid point " << k;
        ExpectCounts(*source, asks);
        testing::internal::CaptureStderr();
        source->Stop();
        const std::string err = testing::internal::GetCapturedStderr();
        const bool believed = c.clock == kMonotonic && c.shiftUs == 0;
        EXPECT_EQ(err.find("without a believable time stamp") == std::string::npos, believed);
        EXPECT_GE(device.buffersAsked, 8u);
        EXPECT_EQ(device.heldAtStreamOff, 0);
        EXPECT_TRUE(device.lost.empty());
    }
}

// The program stands still for two seconds: the device fills the buffers it has and loses the
// rest; catching up, every grid point still gets the frame taken nearest its sound among those
// delivered, the last one before the gap repeated across it, and the counts say so.
TEST_F(RealDeviceTiming, AStallIsCaughtUpGridPointByGridPoint) {
    fake_v4l2::Device& device = Plug();
    Script(130, 40000, 0, 5000);
    const auto source = Start();
    const std::vector<Ask> asks = Run(*source, 100, 120000, 25, 3'000'000);
    for (std::size_t k = 0; k < asks.size(); ++k) {
        ASSERT_NE(asks[k].frame, -1) << "grid point " << k;
        EXPECT_EQ(asks[k].frame, Nearest(asks[k])) << "grid point " << k;
    }
    EXPECT_FALSE(device.lost.empty()) << "the device ran out of buffers";
    EXPECT_GT(source->repeated(), 0u);
    ExpectCounts(*source, asks);
    source->Stop();
    EXPECT_EQ(device.heldAtStreamOff, 0);
}

}  // namespace
