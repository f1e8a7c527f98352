// SPDX-License-Identifier: GPL-2.0-or-later
// A device's pictures, raw or Motion-JPEG, to the 24-bit bottom-up DIB of the size the program
// asks for, scaled when the device gives another size (libyuv).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "platform/capture/video_convert.h"

namespace platform {

class JpegDecompressor;

// What the device delivers: a raw layout with `stride` bytes per (luma) row, or Motion-JPEG.
struct NativePicture {
    std::optional<RawLayout> layout;  // none: Motion-JPEG
    int width = 0;
    int height = 0;
    int stride = 0;
};

// Pictures of one native format into DIBs of one size. Every working buffer is allocated here,
// when the format is set: converting a picture allocates nothing.
class DibPipeline {
  public:
    DibPipeline(const NativePicture& native, int width, int height);
    ~DibPipeline();
    DibPipeline(const DibPipeline&) = delete;
    DibPipeline& operator=(const DibPipeline&) = delete;

    // The fewest bytes a raw picture takes; a Motion-JPEG picture's are its own (0).
    std::size_t NativeBytes() const;
    // `dib` has DibStride(width) × height bytes. False when a Motion-JPEG picture could not be
    // decoded (the DIB may then hold part of it).
    bool Convert(const std::uint8_t* source, std::size_t size, std::uint8_t* dib);

  private:
    bool Scaled() const { return native_.width != width_ || native_.height != height_; }
    void ScaleYuv(const std::uint8_t* source, std::uint8_t* dib);
    void ScaleArgb(std::uint8_t* dib);
    bool FromJpeg(const std::uint8_t* source, std::size_t size, std::uint8_t* dib);

    NativePicture native_;
    int width_;
    int height_;
    std::optional<DibConverter> direct_;  // a raw picture already of the size asked
    std::unique_ptr<JpegDecompressor> jpeg_;
    // I420 at the native size then at the size asked, or ARGB at both sizes.
    std::vector<std::uint8_t> nativePlanes_;
    std::vector<std::uint8_t> scaledPlanes_;
};

}  // namespace platform
