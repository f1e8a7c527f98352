// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/capture/video_convert.h"

#include <libyuv/convert_argb.h>
#include <libyuv/convert_from_argb.h>
#include <libyuv/planar_functions.h>
#include <linux/videodev2.h>

#include "platform/capture/testcard.h"

namespace platform {

std::optional<RawLayout> RawLayoutOf(std::uint32_t pixelFormat) {
    switch (pixelFormat) {
        case V4L2_PIX_FMT_YUYV:
            return RawLayout::Yuyv;
        case V4L2_PIX_FMT_UYVY:
            return RawLayout::Uyvy;
        case V4L2_PIX_FMT_NV12:
            return RawLayout::Nv12;
        case V4L2_PIX_FMT_RGB24:
            return RawLayout::Rgb24;
        case V4L2_PIX_FMT_BGR24:
            return RawLayout::Bgr24;
        default:
            return std::nullopt;
    }
}

std::size_t RawPictureBytes(RawLayout layout, int height, int stride) {
    const auto luma = static_cast<std::size_t>(stride) * static_cast<std::size_t>(height);
    return layout == RawLayout::Nv12 ? luma + luma / 2 : luma;
}

DibConverter::DibConverter(RawLayout layout, int width, int height, int stride)
    : layout_(layout),
      width_(width),
      height_(height),
      stride_(stride),
      argbRow_(static_cast<std::size_t>(width) * 4) {}

// libyuv's "RGB24" is blue, green, red in memory, as a DIB has it; "RAW" is red first. The
// destination starts at the DIB's last row with a negative stride, so the picture lands
// bottom-up.
void DibConverter::Convert(const std::uint8_t* source, std::uint8_t* dib) {
    const int dibStride = static_cast<int>(DibStride(width_));
    std::uint8_t* top = dib + static_cast<std::ptrdiff_t>(dibStride) * (height_ - 1);
    switch (layout_) {
        case RawLayout::Nv12:
            libyuv::NV12ToRGB24(source, stride_, source + stride_ * height_, stride_, top,
                                -dibStride, width_, height_);
            return;
        case RawLayout::Rgb24:
            libyuv::RAWToRGB24(source, stride_, top, -dibStride, width_, height_);
            return;
        case RawLayout::Bgr24:
            libyuv::CopyPlane(source, stride_, top, -dibStride, width_ * 3, height_);
            return;
        case RawLayout::Yuyv:
        case RawLayout::Uyvy:
            break;
    }
    // Packed 4:2:2 has no direct RGB24 converter: one row at a time through ARGB, in cache.
    for (int y = 0; y < height_; ++y) {
        const std::uint8_t* row = source + static_cast<std::ptrdiff_t>(stride_) * y;
        if (layout_ == RawLayout::Yuyv)
            libyuv::YUY2ToARGB(row, stride_, argbRow_.data(), width_ * 4, width_, 1);
        else
            libyuv::UYVYToARGB(row, stride_, argbRow_.data(), width_ * 4, width_, 1);
        libyuv::ARGBToRGB24(argbRow_.data(), width_ * 4,
                            top - static_cast<std::ptrdiff_t>(dibStride) * y, dibStride, width_, 1);
    }
}

}  // namespace platform
