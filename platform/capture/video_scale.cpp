// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/capture/video_scale.h"

#include <libyuv/convert.h>
#include <libyuv/convert_argb.h>
#include <libyuv/convert_from_argb.h>
#include <libyuv/scale.h>
#include <libyuv/scale_argb.h>

#include "platform/capture/testcard.h"
#include "platform/codec/jpeg_coder.h"

namespace platform {
namespace {

// Box: where the picture shrinks less than twice (640 x 480 or 720 x 576 to 384 x 288) libyuv
// filters bilinearly for it, at the same cost and with the same output; where it shrinks more
// (1280 x 960 to 384 x 288) it averages every source pixel, where bilinear skips some: half the
// aliasing on one-pixel detail, for about 0.35 ms more a frame (bench/README.md).
constexpr libyuv::FilterMode kFilter = libyuv::kFilterBox;

bool IsYuv(RawLayout layout) {
    return layout == RawLayout::Yuyv || layout == RawLayout::Uyvy || layout == RawLayout::Nv12;
}

int Half(int length) {
    return (length + 1) / 2;
}

std::size_t I420Bytes(int width, int height) {
    return std::size_t(width) * std::size_t(height) +
           2 * std::size_t(Half(width)) * std::size_t(Half(height));
}

std::size_t ArgbBytes(int width, int height) {
    return std::size_t(width) * std::size_t(height) * 4;
}

// The planes of an I420 picture laid out one after the other in `bytes`.
struct I420 {
    std::uint8_t* y;
    std::uint8_t* u;
    std::uint8_t* v;
    int width;
    int height;

    I420(std::vector<std::uint8_t>& bytes, int w, int h)
        : y(bytes.data()),
          u(y + std::size_t(w) * std::size_t(h)),
          v(u + std::size_t(Half(w)) * std::size_t(Half(h))),
          width(w),
          height(h) {}
    int chromaStride() const { return Half(width); }
};

// The DIB's top row, last in memory: written with a negative stride, the picture lands
// bottom-up.
std::uint8_t* DibTop(std::uint8_t* dib, int width, int height) {
    return dib + std::ptrdiff_t(DibStride(width)) * (height - 1);
}

}  // namespace

DibPipeline::DibPipeline(const NativePicture& native, int width, int height)
    : native_(native), width_(width), height_(height) {
    if (native.layout && !Scaled()) {
        direct_.emplace(*native.layout, width, height, native.stride);
        return;
    }
    if (!native.layout) jpeg_ = std::make_unique<JpegDecompressor>();
    if (!Scaled()) return;
    if (native.layout && IsYuv(*native.layout)) {
        nativePlanes_.resize(I420Bytes(native.width, native.height));
        scaledPlanes_.resize(I420Bytes(width, height));
    } else {
        nativePlanes_.resize(ArgbBytes(native.width, native.height));
        scaledPlanes_.resize(ArgbBytes(width, height));
    }
}

DibPipeline::~DibPipeline() = default;

std::size_t DibPipeline::NativeBytes() const {
    return native_.layout ? RawPictureBytes(*native_.layout, native_.height, native_.stride) : 0;
}

bool DibPipeline::Convert(const std::uint8_t* source, std::size_t size, std::uint8_t* dib) {
    if (direct_) {
        direct_->Convert(source, dib);
        return true;
    }
    if (!native_.layout) return FromJpeg(source, size, dib);
    if (IsYuv(*native_.layout)) {
        ScaleYuv(source, dib);
        return true;
    }
    const int w = native_.width;
    if (*native_.layout == RawLayout::Rgb24)
        libyuv::RAWToARGB(source, native_.stride, nativePlanes_.data(), w * 4, w, native_.height);
    else
        libyuv::RGB24ToARGB(source, native_.stride, nativePlanes_.data(), w * 4, w, native_.height);
    ScaleArgb(dib);
    return true;
}

// Packed or semi-planar YUV to planar first (no colour arithmetic, only bytes moved), scaled
// as planes, and only the scaled picture converted to RGB: the fewest pixels do the costly part.
void DibPipeline::ScaleYuv(const std::uint8_t* source, std::uint8_t* dib) {
    const I420 from(nativePlanes_, native_.width, native_.height);
    const I420 to(scaledPlanes_, width_, height_);
    const int s = native_.stride;
    switch (*native_.layout) {
        case RawLayout::Yuyv:
            libyuv::YUY2ToI420(source, s, from.y, from.width, from.u, from.chromaStride(), from.v,
                               from.chromaStride(), from.width, from.height);
            break;
        case RawLayout::Uyvy:
            libyuv::UYVYToI420(source, s, from.y, from.width, from.u, from.chromaStride(), from.v,
                               from.chromaStride(), from.width, from.height);
            break;
        default:
            libyuv::NV12ToI420(source, s, source + std::ptrdiff_t(s) * from.height, s, from.y,
                               from.width, from.u, from.chromaStride(), from.v, from.chromaStride(),
                               from.width, from.height);
            break;
    }
    libyuv::I420Scale(from.y, from.width, from.u, from.chromaStride(), from.v, from.chromaStride(),
                      from.width, from.height, to.y, to.width, to.u, to.chromaStride(), to.v,
                      to.chromaStride(), to.width, to.height, kFilter);
    const int dibStride = static_cast<int>(DibStride(width_));
    libyuv::I420ToRGB24(to.y, to.width, to.u, to.chromaStride(), to.v, to.chromaStride(),
                        DibTop(dib, width_, height_), -dibStride, width_, height_);
}

// nativePlanes_ holds the native picture in ARGB (blue, green, red, alpha in memory).
void DibPipeline::ScaleArgb(std::uint8_t* dib) {
    libyuv::ARGBScale(nativePlanes_.data(), native_.width * 4, native_.width, native_.height,
                      scaledPlanes_.data(), width_ * 4, width_, height_, kFilter);
    const int dibStride = static_cast<int>(DibStride(width_));
    libyuv::ARGBToRGB24(scaledPlanes_.data(), width_ * 4, DibTop(dib, width_, height_), -dibStride,
                        width_, height_);
}

// A picture of the size asked is decoded straight into the DIB; another is decoded at its own
// size and scaled.
bool DibPipeline::FromJpeg(const std::uint8_t* source, std::size_t size, std::uint8_t* dib) {
    const bool scaled = Scaled();
    const JpegPixels target =
        scaled ? JpegPixels{nativePlanes_.data(),
                            native_.width,
                            native_.height,
                            std::ptrdiff_t(native_.width) * 4,
                            4,
                            false}
               : JpegPixels{dib, width_, height_, std::ptrdiff_t(DibStride(width_)), 3, true};
    const JpegOutcome outcome = jpeg_->Decode(source, size, target);
    if (outcome != JpegOutcome::kComplete && outcome != JpegOutcome::kPartial) return false;
    if (scaled) ScaleArgb(dib);
    return true;
}

}  // namespace platform
