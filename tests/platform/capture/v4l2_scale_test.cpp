// SPDX-License-Identifier: GPL-2.0-or-later
// Devices that give other sizes than the program asks for: which of their modes is chosen, and
// what the scaled pictures look like, on the scripted V4L2 device.
#include <gtest/gtest.h>
#include <turbojpeg.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <optional>
#include <vector>

#include "platform/capture/capture_source.h"
#include "platform/capture/testcard.h"
#include "platform/capture/v4l2_modes.h"
#include "platform/capture/v4l2_source.h"
#include "tests/platform/capture/fake_v4l2.h"

namespace {

using platform::NativeMode;

constexpr std::uint32_t kYuyv = V4L2_PIX_FMT_YUYV;
constexpr std::uint32_t kUyvy = V4L2_PIX_FMT_UYVY;
constexpr std::uint32_t kNv12 = V4L2_PIX_FMT_NV12;
constexpr std::uint32_t kRgb = V4L2_PIX_FMT_RGB24;
constexpr std::uint32_t kBgr = V4L2_PIX_FMT_BGR24;
constexpr std::uint32_t kMjpg = V4L2_PIX_FMT_MJPEG;

TEST(ChooseMode, ThePictureAskedFromTheLeastWorkAtAFullRate) {
    struct Case {
        const char* name;
        std::vector<NativeMode> modes;
        std::optional<NativeMode> preferred;
        std::optional<NativeMode> chosen;
        int width = 384;
        int height = 288;
    };
    const NativeMode yuyv640{kYuyv, 640, 480, 30};
    const NativeMode mjpg640{kMjpg, 640, 480, 30};
    const NativeMode yuyv1280{kYuyv, 1280, 960, 30};
    const NativeMode wide{kYuyv, 1280, 720, 30};
    const NativeMode pal{kYuyv, 720, 576, 25};
    const NativeMode ntsc{kUyvy, 720, 480, 29.97};
    const auto none = std::nullopt;
    const Case cases[] = {
        {"the size asked", {yuyv640, {kYuyv, 384, 288, 30}}, none, NativeMode{kYuyv, 384, 288}},
        {"larger, same shape", {wide, yuyv1280, yuyv640}, none, yuyv640},
        {"PAL's non-square pixels", {pal}, none, pal},
        {"NTSC's non-square pixels", {ntsc}, none, ntsc},
        {"NTSC's, for 320 x 240", {ntsc}, none, ntsc, 320, 240},
        {"not PAL's for a wide picture", {pal}, none, none, 640, 360},
        {"not NTSC's for a taller picture", {ntsc}, none, none, 768, 576},
        {"wide only", {wide}, none, none},
        {"wide from wide", {wide}, none, wide, 640, 360},
        {"smaller only", {{kYuyv, 320, 240, 30}}, none, none},
        {"full rate before raw", {{kYuyv, 640, 480, 15}, mjpg640}, none, mjpg640},
        {"24 frames a second is full rate", {{kYuyv, 640, 480, 24}, mjpg640}, none, yuyv640},
        {"an untold rate is taken as full",
         {{kYuyv, 640, 480, 15}, {kYuyv, 800, 600, 0}},
         none,
         NativeMode{kYuyv, 800, 600}},
        {"raw before Motion-JPEG", {mjpg640, yuyv640}, none, yuyv640},
        {"the smallest", {yuyv1280, yuyv640}, none, yuyv640},
        {"the user's choice", {yuyv640, yuyv1280}, yuyv1280, yuyv1280},
        {"the user's choice only if it qualifies", {wide, yuyv640}, wide, yuyv640},
        {"the user's choice only if the device has it", {yuyv640}, yuyv1280, yuyv640},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto chosen = platform::ChooseMode(c.modes, c.width, c.height, c.preferred);
        ASSERT_EQ(chosen.has_value(), c.chosen.has_value());
        if (!chosen) continue;
        EXPECT_EQ(*chosen, *c.chosen);
        EXPECT_EQ(chosen->fastestFps,
                  std::find(c.modes.begin(), c.modes.end(), *chosen)->fastestFps);
    }
}

// Listed by the device (formats we cannot read left out; a range of sizes stands for the useful
// ones in it and its largest), or found by trying formats and sizes when it lists none.
TEST(ListModes, ListedOrTried) {
    fake_v4l2::Node camera;
    camera.path = "/dev/video0";
    camera.modes = {{kYuyv, 640, 480, V4L2_FIELD_NONE, false, 30},
                    {V4L2_PIX_FMT_H264, 1920, 1080},
                    {kYuyv, 1280, 720, V4L2_FIELD_NONE, false, 10},
                    {kMjpg, 1280, 720}};
    fake_v4l2::Device device({camera});
    const int fd = device.Open("/dev/video0");
    EXPECT_EQ(platform::ListModes(device, fd),
              (std::vector<NativeMode>{{kYuyv, 640, 480}, {kYuyv, 1280, 720}, {kMjpg, 1280, 720}}));
    const auto fps = platform::ListModes(device, fd);
    EXPECT_EQ(fps[0].fastestFps, 30);
    EXPECT_EQ(fps[1].fastestFps, 10);
    EXPECT_EQ(fps[2].fastestFps, 0);

    camera.modes = {{kYuyv, 720, 576}};
    camera.range = v4l2_frmsize_stepwise{16, 1280, 16, 16, 720, 16};
    fake_v4l2::Device ranged({camera});
    EXPECT_EQ(platform::ListModes(ranged, ranged.Open("/dev/video0")),
              (std::vector<NativeMode>{{kYuyv, 384, 288},
                                       {kYuyv, 320, 240},
                                       {kYuyv, 640, 480},
                                       {kYuyv, 720, 576},
                                       {kYuyv, 720, 480},
                                       {kYuyv, 768, 576},
                                       {kYuyv, 1280, 720}}))
        << "800 x 600 is off the steps";

    camera.range.reset();
    camera.modes = {{kUyvy, 640, 480}, {kUyvy, 320, 240}};
    camera.lists = false;
    fake_v4l2::Device silent({camera});
    EXPECT_EQ(platform::ListModes(silent, silent.Open("/dev/video0")),
              (std::vector<NativeMode>{{kUyvy, 320, 240}, {kUyvy, 640, 480}}));
}

// A picture whose top half is red on the left and blue on the right, its bottom half green on
// the left and white on the right.
using Rgb = std::array<int, 3>;
constexpr Rgb kQuadrants[2][2] = {{{255, 0, 0}, {0, 0, 255}}, {{0, 255, 0}, {255, 255, 255}}};

Rgb PatternAt(std::uint32_t x, std::uint32_t y, std::uint32_t width, std::uint32_t height) {
    return kQuadrants[y * 2 / height][x * 2 / width];
}

// BT.601 with studio range, as cameras send YUV.
std::array<unsigned char, 3> Yuv(const Rgb& c) {
    const auto clamp = [](double v) { return static_cast<unsigned char>(std::clamp(v, 0., 255.)); };
    return {clamp(16 + 0.257 * c[0] + 0.504 * c[1] + 0.098 * c[2]),
            clamp(128 - 0.148 * c[0] - 0.291 * c[1] + 0.439 * c[2]),
            clamp(128 + 0.439 * c[0] - 0.368 * c[1] - 0.071 * c[2])};
}

// A JPEG of width x height as a bottom-up 24-bit DIB; empty when it is not one.
std::vector<unsigned char> Decoded(const std::vector<unsigned char>& jpeg, int width, int height) {
    tjhandle h = tjInitDecompress();
    int w = 0, ht = 0, sampling = 0, colours = 0;
    std::vector<unsigned char> dib(std::size_t(platform::DibStride(width)) * height);
    const bool ok =
        tjDecompressHeader3(h, jpeg.data(), jpeg.size(), &w, &ht, &sampling, &colours) == 0 &&
        w == width && ht == height &&
        tjDecompress2(h, jpeg.data(), jpeg.size(), dib.data(), width,
                      int(platform::DibStride(width)), height, TJPF_BGR, TJFLAG_BOTTOMUP) == 0;
    tjDestroy(h);
    return ok ? dib : std::vector<unsigned char>{};
}

// The pattern as a device in `pixelFormat` gives it.
std::vector<unsigned char> Pattern(std::uint32_t pixelFormat, std::uint32_t w, std::uint32_t h) {
    std::vector<unsigned char> bytes;
    const bool packed = pixelFormat == kYuyv || pixelFormat == kUyvy;
    const bool nv12 = pixelFormat == kNv12;
    const std::size_t luma = std::size_t{w} * h;
    bytes.resize(packed ? luma * 2 : nv12 ? luma * 3 / 2 : luma * 3);
    for (std::uint32_t y = 0; y < h; ++y)
        for (std::uint32_t x = 0; x < w; ++x) {
            const Rgb c = PatternAt(x, y, w, h);
            const auto [Y, U, V] = Yuv(c);
            const std::size_t at = std::size_t{y} * w + x;
            if (packed) {
                const bool yFirst = pixelFormat == kYuyv;
                bytes[at * 2 + (yFirst ? 0 : 1)] = Y;
                bytes[at * 2 + (yFirst ? 1 : 0)] = x % 2 == 0 ? U : V;
            } else if (nv12) {
                bytes[at] = Y;
                const std::size_t uv = luma + std::size_t{y / 2} * w + (x & ~1u);
                bytes[uv + x % 2] = x % 2 == 0 ? U : V;
            } else {
                for (int k = 0; k < 3; ++k)
                    bytes[at * 3 + std::size_t(k)] =
                        static_cast<unsigned char>(c[pixelFormat == kBgr ? 2 - k : k]);
            }
        }
    if (pixelFormat == kMjpg) return fake_v4l2::Jpeg(bytes, int(w), int(h), TJSAMP_422, 90);
    return bytes;
}

// Each quadrant's middle, in a bottom-up 24-bit DIB of width x height (blue, green, red).
void ExpectPattern(const unsigned char* dib, int width, int height) {
    for (int row = 0; row < 2; ++row)
        for (int column = 0; column < 2; ++column) {
            const int x = width / 4 + column * width / 2;
            const int yFromTop = height / 4 + row * height / 2;
            const unsigned char* p =
                dib + std::size_t(height - 1 - yFromTop) * platform::DibStride(width) + x * 3;
            const Rgb& want = kQuadrants[row][column];
            SCOPED_TRACE(testing::Message() << "quadrant " << row << "," << column);
            EXPECT_NEAR(p[2], want[0], 24);
            EXPECT_NEAR(p[1], want[1], 24);
            EXPECT_NEAR(p[0], want[2], 24);
        }
}

// The program's 384 x 288 from devices that do not give it: scaled, the right way up, and the
// live picture is the recorded one. A device of another shape refuses it.
TEST(ScaledDevices, GiveTheProgramsPictureTheRightWayUp) {
    struct Case {
        const char* name;
        fake_v4l2::Mode mode;
        bool takes = true;
        bool lists = true;
    };
    const Case cases[] = {
        {"640 x 480 YUYV webcam", {kYuyv, 640, 480, V4L2_FIELD_NONE, false, 30}},
        {"640 x 480 Motion-JPEG only", {kMjpg, 640, 480, V4L2_FIELD_NONE, false, 30}},
        {"PAL card", {kYuyv, 720, 576, V4L2_FIELD_INTERLACED, false, 25}},
        {"NTSC card, NV12", {kNv12, 720, 480, V4L2_FIELD_INTERLACED, false, 30}},
        {"RGB24 800 x 600", {kRgb, 800, 600}},
        {"BGR24 768 x 576", {kBgr, 768, 576}},
        {"UYVY 640 x 480 listing no sizes", {kUyvy, 640, 480}, true, false},
        {"wide only", {kYuyv, 1280, 720, V4L2_FIELD_NONE, false, 30}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fake_v4l2::Node node;
        node.path = "/dev/video0";
        node.modes = {c.mode};
        node.lists = c.lists;
        fake_v4l2::Device device({node});
        device.monotonicOrigin = 0;
        const auto picture = Pattern(c.mode.pixelFormat, c.mode.width, c.mode.height);
        for (int k = 0; k < 4; ++k) device.frames.push_back({k * 40000, picture, 0});
        platform::DriverDescription driver;
        driver.device = "/dev/video0";
        const auto source = platform::OpenV4l2Source(driver);
        ASSERT_TRUE(source);
        const BITMAPINFOHEADER before = source->format();
        ASSERT_EQ(source->UseRgb(384, 288), c.takes);
        if (!c.takes) {
            EXPECT_EQ(source->format().biWidth, before.biWidth) << "the format in force stays";
            continue;
        }
        // A Motion-JPEG device keeps its compression at the size asked.
        const bool jpeg = c.mode.pixelFormat == kMjpg;
        const BITMAPINFOHEADER want =
            jpeg ? platform::MjpgFormat(384, 288) : platform::RgbFormat(384, 288);
        EXPECT_EQ(std::memcmp(&source->format(), &want, sizeof want), 0);
        EXPECT_EQ(device.current.width, c.mode.width);
        const DWORD dibBytes = platform::DibStride(384) * 288;
        ASSERT_TRUE(source->Start(40000));
        const std::span<BYTE> frame = source->Frame(0, false, 0);
        std::vector<unsigned char> recorded(frame.begin(), frame.end());
        if (jpeg) recorded = Decoded(recorded, 384, 288);
        ASSERT_EQ(recorded.size(), dibBytes);
        ExpectPattern(recorded.data(), 384, 288);
        const QImage* live = source->Live(0);
        ASSERT_TRUE(live);
        EXPECT_EQ(live->size(), QSize(384, 288));
        ExpectPattern(live->constBits(), 384, 288);
        if (!jpeg) {
            EXPECT_EQ(live->constBits(), frame.data()) << "the frame recorded is shown";
        }
        source->Stop();
    }
}

}  // namespace
