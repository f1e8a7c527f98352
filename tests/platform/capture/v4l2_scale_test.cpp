// Devices that give other sizes than the program asks for: which of their modes is chosen, on
// the scripted V4L2 device.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <memory>
#include <optional>
#include <vector>

#include "platform/capture/v4l2_modes.h"
#include "tests/platform/capture/fake_v4l2.h"

namespace {

using platform::NativeMode;

constexpr std::uint32_t kYuyv = V4L2_PIX_FMT_YUYV;
constexpr std::uint32_t kUyvy = V4L2_PIX_FMT_UYVY;
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

// Listed by the device (formats we cannot read left out), or found by trying sizes when it
// lists none.
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

    camera.modes = {{kUyvy, 640, 480}, {kUyvy, 320, 240}};
    camera.listsSizes = false;
    fake_v4l2::Device silent({camera});
    EXPECT_EQ(platform::ListModes(silent, silent.Open("/dev/video0")),
              (std::vector<NativeMode>{{kUyvy, 320, 240}, {kUyvy, 640, 480}}));
}

}  // namespace
