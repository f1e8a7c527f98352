// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/capture/v4l2_modes.h"

#include <linux/videodev2.h>

#include <algorithm>
#include <cerrno>
#include <iterator>
#include <tuple>
#include <utility>

#include "platform/capture/video_convert.h"

namespace platform {
namespace {

// The program's own sizes, then pictures webcams and capture cards commonly give: what a device
// describing a range of sizes is asked about, and what a device that describes none is tried
// with.
constexpr std::pair<std::uint32_t, std::uint32_t> kUsefulSizes[] = {
    {384, 288}, {320, 240}, {640, 480}, {720, 576}, {720, 480}, {768, 576}, {800, 600}};

bool Readable(std::uint32_t pixelFormat) {
    return RawLayoutOf(pixelFormat) || pixelFormat == V4L2_PIX_FMT_MJPEG ||
           pixelFormat == V4L2_PIX_FMT_JPEG;
}

// What a device that lists no formats is tried with.
constexpr std::uint32_t kTriedFormats[] = {V4L2_PIX_FMT_YUYV,  V4L2_PIX_FMT_UYVY,
                                           V4L2_PIX_FMT_NV12,  V4L2_PIX_FMT_BGR24,
                                           V4L2_PIX_FMT_RGB24, V4L2_PIX_FMT_MJPEG};

std::vector<std::uint32_t> ReadableFormats(V4l2Io& io, int fd) {
    std::vector<std::uint32_t> formats;
    std::uint32_t index = 0;
    for (;; ++index) {
        v4l2_fmtdesc desc{};
        desc.index = index;
        desc.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        if (RetryingIoctl(io, fd, VIDIOC_ENUM_FMT, &desc) != 0) break;
        if (Readable(desc.pixelformat)) formats.push_back(desc.pixelformat);
    }
    if (index == 0) formats.assign(std::begin(kTriedFormats), std::end(kTriedFormats));
    return formats;
}

// Frames per second of the shortest interval the device offers at this size; 0 when it does
// not say.
double FastestFps(V4l2Io& io, int fd, std::uint32_t pixelFormat, std::uint32_t width,
                  std::uint32_t height) {
    double fastest = 0;
    for (std::uint32_t index = 0;; ++index) {
        v4l2_frmivalenum interval{};
        interval.index = index;
        interval.pixel_format = pixelFormat;
        interval.width = width;
        interval.height = height;
        if (RetryingIoctl(io, fd, VIDIOC_ENUM_FRAMEINTERVALS, &interval) != 0) break;
        // A range's shortest interval is its minimum.
        const v4l2_fract& f =
            interval.type == V4L2_FRMIVAL_TYPE_DISCRETE ? interval.discrete : interval.stepwise.min;
        if (f.numerator != 0) fastest = std::max(fastest, double(f.denominator) / f.numerator);
        if (interval.type != V4L2_FRMIVAL_TYPE_DISCRETE) break;
    }
    return fastest;
}

bool InRange(std::uint32_t value, std::uint32_t low, std::uint32_t high, std::uint32_t step) {
    return value >= low && value <= high && (step <= 1 || (value - low) % step == 0);
}

// A range of sizes stands for the useful sizes inside it and its largest.
std::vector<std::pair<std::uint32_t, std::uint32_t>> SizesInRange(
    const v4l2_frmsize_stepwise& range) {
    std::vector<std::pair<std::uint32_t, std::uint32_t>> sizes;
    for (const auto& [w, h] : kUsefulSizes)
        if (InRange(w, range.min_width, range.max_width, range.step_width) &&
            InRange(h, range.min_height, range.max_height, range.step_height))
            sizes.emplace_back(w, h);
    const std::pair largest{range.max_width, range.max_height};
    if (std::find(sizes.begin(), sizes.end(), largest) == sizes.end()) sizes.push_back(largest);
    return sizes;
}

std::vector<std::pair<std::uint32_t, std::uint32_t>> ListedSizes(V4l2Io& io, int fd,
                                                                 std::uint32_t pixelFormat) {
    std::vector<std::pair<std::uint32_t, std::uint32_t>> sizes;
    for (std::uint32_t index = 0;; ++index) {
        v4l2_frmsizeenum size{};
        size.index = index;
        size.pixel_format = pixelFormat;
        if (RetryingIoctl(io, fd, VIDIOC_ENUM_FRAMESIZES, &size) != 0) break;
        if (size.type != V4L2_FRMSIZE_TYPE_DISCRETE) return SizesInRange(size.stepwise);
        sizes.emplace_back(size.discrete.width, size.discrete.height);
    }
    return sizes;
}

// A device that lists no sizes answers a tried format with the nearest size it has (or with
// another format it has): the useful sizes tried find the ones that matter.
std::vector<std::pair<std::uint32_t, std::uint32_t>> TriedSizes(V4l2Io& io, int fd,
                                                                std::uint32_t pixelFormat) {
    std::vector<std::pair<std::uint32_t, std::uint32_t>> sizes;
    for (const auto& [w, h] : kUsefulSizes) {
        v4l2_format f{};
        f.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        f.fmt.pix.width = w;
        f.fmt.pix.height = h;
        f.fmt.pix.pixelformat = pixelFormat;
        if (RetryingIoctl(io, fd, VIDIOC_TRY_FMT, &f) != 0 || f.fmt.pix.pixelformat != pixelFormat)
            continue;
        const std::pair size{f.fmt.pix.width, f.fmt.pix.height};
        if (std::find(sizes.begin(), sizes.end(), size) == sizes.end()) sizes.push_back(size);
    }
    return sizes;
}

bool IsJpegMode(const NativeMode& m) {
    return !RawLayoutOf(m.pixelFormat);
}

bool Qualifies(const NativeMode& m, std::uint32_t width, std::uint32_t height) {
    if (m.width == width && m.height == height) return true;
    const bool sameShape = std::uint64_t{m.width} * height == std::uint64_t{m.height} * width;
    if (sameShape && m.width >= width && m.height >= height) return true;
    // PAL and NTSC pictures are 4:3 on screen, their pixels are not square.
    const bool fourByThree = std::uint64_t{width} * 3 == std::uint64_t{height} * 4;
    return fourByThree && m.width == 720 && (m.height == 576 || m.height == 480) &&
           height <= m.height;
}

}  // namespace

std::string FourCCText(std::uint32_t pixelFormat) {
    std::string text;
    for (int shift = 0; shift < 32; shift += 8)
        text += static_cast<char>((pixelFormat >> shift) & 0xFF);
    while (!text.empty() && text.back() == ' ') text.pop_back();
    return text;
}

std::vector<NativeMode> ListModes(V4l2Io& io, int fd) {
    std::vector<NativeMode> modes;
    for (const std::uint32_t format : ReadableFormats(io, fd)) {
        auto sizes = ListedSizes(io, fd, format);
        if (sizes.empty()) sizes = TriedSizes(io, fd, format);
        for (const auto& [w, h] : sizes)
            modes.push_back({format, w, h, FastestFps(io, fd, format, w, h)});
    }
    return modes;
}

// The user's choice first. Then a mode fast enough for the recording's 25 frames a second
// (24 counts, for film-rate cameras; a device that does not say is taken at its word) before a
// slower one, whose frames would be repeated. Then raw before Motion-JPEG: no compression
// loss, and converting raw costs less than decoding a JPEG picture of the same size. Then the
// smallest picture, the least to convert and scale; the device's order among equals.
std::optional<NativeMode> ChooseMode(const std::vector<NativeMode>& modes, int width, int height,
                                     const std::optional<NativeMode>& preferred) {
    if (width < 1 || height < 1) return std::nullopt;
    const auto w = static_cast<std::uint32_t>(width);
    const auto h = static_cast<std::uint32_t>(height);
    const NativeMode* best = nullptr;
    const auto rank = [&](const NativeMode& m) {
        const bool chosen = preferred && *preferred == m;
        const bool fast = m.fastestFps == 0 || m.fastestFps >= 24;
        return std::tuple(!chosen, !fast, IsJpegMode(m), std::uint64_t{m.width} * m.height);
    };
    for (const NativeMode& m : modes)
        if (Qualifies(m, w, h) && (best == nullptr || rank(m) < rank(*best))) best = &m;
    if (best == nullptr) return std::nullopt;
    return *best;
}

}  // namespace platform
