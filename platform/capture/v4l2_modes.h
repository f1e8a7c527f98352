// SPDX-License-Identifier: GPL-2.0-or-later
// What pictures a V4L2 device can give, and which of them feeds a picture of the size the
// program asks for.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/capture/v4l2_io.h"

namespace platform {

// A picture the device gives natively: a pixel format we can read (raw or Motion-JPEG), a size,
// and the fastest rate it offers there (frames per second; 0 when the device does not say).
struct NativeMode {
    std::uint32_t pixelFormat = 0;
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    double fastestFps = 0;
    bool operator==(const NativeMode& other) const {
        return pixelFormat == other.pixelFormat && width == other.width && height == other.height;
    }
};

// A pixel format's four characters ("YUYV", "MJPG"), trailing spaces left out.
std::string FourCCText(std::uint32_t pixelFormat);

// The device's modes in the formats we can read, in the device's order.
std::vector<NativeMode> ListModes(V4l2Io& io, int fd);

// The mode that gives a `width` × `height` picture: that size, or a larger one of the same
// shape, or a 4:3 picture of 720 × 576 / 720 × 480 non-square pixels. `preferred` (the user's
// choice) wins when it qualifies. Nothing when no mode can give the picture.
std::optional<NativeMode> ChooseMode(const std::vector<NativeMode>& modes, int width, int height,
                                     const std::optional<NativeMode>& preferred);

}  // namespace platform
