// SPDX-License-Identifier: GPL-2.0-or-later
// Raw camera pictures to the 24-bit bottom-up DIB a capture delivers (libyuv, SIMD).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace platform {

enum class RawLayout { Yuyv, Uyvy, Nv12, Rgb24, Bgr24 };

// The layout of a V4L2 pixel format (a FourCC), if we can convert it.
std::optional<RawLayout> RawLayoutOf(std::uint32_t pixelFormat);

// Bytes a whole picture of this layout takes with `stride` bytes per (luma) row.
std::size_t RawPictureBytes(RawLayout layout, int height, int stride);

// Converts pictures of one size and layout; the working row is allocated once, here.
class DibConverter {
  public:
    DibConverter(RawLayout layout, int width, int height, int stride);
    // `source` holds at least RawPictureBytes; `dib` has DibStride(width) × height bytes.
    void Convert(const std::uint8_t* source, std::uint8_t* dib);

  private:
    RawLayout layout_;
    int width_;
    int height_;
    int stride_;
    std::vector<std::uint8_t> argbRow_;
};

}  // namespace platform
