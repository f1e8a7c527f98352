// SPDX-License-Identifier: GPL-2.0-or-later
// Converting a camera's raw picture into the 24-bit bottom-up DIB a capture delivers (libyuv),
// per frame, at the sizes the program asks of a device, and scaling a larger picture down to
// them. Figures are in bench/README.md.
#include <benchmark/benchmark.h>
#include <libyuv/scale.h>
#include <libyuv/scale_argb.h>

#include <cmath>
#include <random>
#include <vector>

#include "platform/capture/testcard.h"
#include "platform/capture/video_convert.h"
#include "platform/capture/video_scale.h"
#include "platform/codec/jpeg_coder.h"

namespace {

int StrideOf(platform::RawLayout layout, int width) {
    using platform::RawLayout;
    return layout == RawLayout::Nv12                                ? width
           : layout == RawLayout::Yuyv || layout == RawLayout::Uyvy ? width * 2
                                                                    : width * 3;
}

void BM_ToDib(benchmark::State& state) {
    const auto layout = static_cast<platform::RawLayout>(state.range(0));
    const auto width = static_cast<int>(state.range(1));
    const auto height = static_cast<int>(state.range(2));
    const int stride = StrideOf(layout, width);
    std::vector<std::uint8_t> source(platform::RawPictureBytes(layout, height, stride));
    std::mt19937 random(7);
    for (auto& byte : source) byte = static_cast<std::uint8_t>(random());
    std::vector<std::uint8_t> dib(std::size_t{platform::DibStride(width)} *
                                  static_cast<std::size_t>(height));
    platform::DibConverter converter(layout, width, height, stride);
    for (auto _ : state) {
        converter.Convert(source.data(), dib.data());
        benchmark::DoNotOptimize(dib.data());
    }
    state.counters["fps"] = benchmark::Counter(1, benchmark::Counter::kIsIterationInvariantRate);
}

// A camera's picture as scaling sees it: smooth colour with a little grain (random bytes would
// make the JPEG decoder's work unlike a camera's).
std::vector<std::uint8_t> Scene(int width, int height) {
    std::vector<std::uint8_t> bgr(std::size_t(width) * std::size_t(height) * 3);
    std::mt19937 random(7);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            std::uint8_t* p = &bgr[(std::size_t(y) * std::size_t(width) + std::size_t(x)) * 3];
            const int grain = static_cast<int>(random() % 5) - 2;
            p[0] = static_cast<std::uint8_t>(128 + 100 * std::sin(x / 40.0) + grain);
            p[1] = static_cast<std::uint8_t>(128 + 100 * std::cos(y / 30.0) + grain);
            p[2] = static_cast<std::uint8_t>((x + y) % 256);
        }
    return bgr;
}

// The bytes a device in `layout` gives: random for a raw one (libyuv's cost does not depend
// on them); -1, Motion-JPEG, 4:2:2 at quality 80 as webcams send.
std::vector<std::uint8_t> DevicePicture(long layout, int width, int height) {
    if (layout >= 0) {
        const auto raw = static_cast<platform::RawLayout>(layout);
        std::vector<std::uint8_t> bytes(
            platform::RawPictureBytes(raw, height, StrideOf(raw, width)));
        std::mt19937 random(7);
        for (auto& byte : bytes) byte = static_cast<std::uint8_t>(random());
        return bytes;
    }
    std::vector<std::uint8_t> bgr = Scene(width, height);
    std::vector<std::uint8_t> jpeg(platform::JpegBound(width, height));
    platform::JpegCompressor compressor;
    jpeg.resize(compressor.Compress({bgr.data(), width, height, width * 3, 3, false},
                                    platform::JpegChroma::k422, 80, jpeg.data(), jpeg.size()));
    return jpeg;
}

// One device picture (layout as above) to a 384 x 288 DIB, by the capture's own pipeline.
void BM_ScaleToDib(benchmark::State& state) {
    const long layout = state.range(0);
    const auto width = static_cast<int>(state.range(1));
    const auto height = static_cast<int>(state.range(2));
    const std::vector<std::uint8_t> source = DevicePicture(layout, width, height);
    platform::NativePicture native{std::nullopt, width, height, 0};
    if (layout >= 0) {
        native.layout = static_cast<platform::RawLayout>(layout);
        native.stride = StrideOf(*native.layout, width);
    }
    platform::DibPipeline pipeline(native, 384, 288);
    std::vector<std::uint8_t> dib(std::size_t{platform::DibStride(384)} * 288);
    for (auto _ : state) {
        benchmark::DoNotOptimize(pipeline.Convert(source.data(), source.size(), dib.data()));
        benchmark::DoNotOptimize(dib.data());
    }
    state.counters["fps"] = benchmark::Counter(1, benchmark::Counter::kIsIterationInvariantRate);
}

// A Motion-JPEG camera's 640 x 480 picture to the Motion-JPEG 384 x 288 it keeps giving the
// program: decoded, scaled and compressed again, as the V4L2 source does for each frame.
void BM_RecompressJpeg(benchmark::State& state) {
    const std::vector<std::uint8_t> source = DevicePicture(-1, 640, 480);
    platform::DibPipeline pipeline({std::nullopt, 640, 480, 0}, 384, 288);
    std::vector<std::uint8_t> dib(std::size_t{platform::DibStride(384)} * 288);
    std::vector<std::uint8_t> jpeg(platform::JpegBound(384, 288));
    platform::JpegCompressor encoder;
    for (auto _ : state) {
        pipeline.Convert(source.data(), source.size(), dib.data());
        benchmark::DoNotOptimize(encoder.Compress(
            {dib.data(), 384, 288, static_cast<std::ptrdiff_t>(platform::DibStride(384)), 3, true},
            platform::JpegChroma::k422, 92, jpeg.data(), jpeg.size()));
    }
    state.counters["fps"] = benchmark::Counter(1, benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_RecompressJpeg)->Unit(benchmark::kMicrosecond);

// The scaling step alone, by filter (2 bilinear, 3 box): I420 planes (plane 0) or ARGB (1)
// from w x h to 384 x 288.
void BM_ScaleFilter(benchmark::State& state) {
    const auto filter = static_cast<libyuv::FilterMode>(state.range(0));
    const bool argb = state.range(1) != 0;
    const auto width = static_cast<int>(state.range(2));
    const auto height = static_cast<int>(state.range(3));
    std::vector<std::uint8_t> from(std::size_t(width) * std::size_t(height) * 4, 90);
    std::vector<std::uint8_t> to(384 * 288 * 4);
    const int cw = (width + 1) / 2;
    const int ch = (height + 1) / 2;
    std::uint8_t* u = from.data() + std::size_t(width) * std::size_t(height);
    std::uint8_t* v = u + std::size_t(cw) * std::size_t(ch);
    for (auto _ : state) {
        if (argb)
            libyuv::ARGBScale(from.data(), width * 4, width, height, to.data(), 384 * 4, 384, 288,
                              filter);
        else
            libyuv::I420Scale(from.data(), width, u, cw, v, cw, width, height, to.data(), 384,
                              to.data() + 384 * 288, 192, to.data() + 384 * 288 + 192 * 144, 192,
                              384, 288, filter);
        benchmark::DoNotOptimize(to.data());
    }
}

constexpr auto kYuyv = static_cast<long>(platform::RawLayout::Yuyv);
constexpr auto kNv12 = static_cast<long>(platform::RawLayout::Nv12);
constexpr auto kRgb = static_cast<long>(platform::RawLayout::Rgb24);

}  // namespace

BENCHMARK(BM_ToDib)
    ->ArgNames({"layout", "w", "h"})
    ->Args({kYuyv, 320, 240})
    ->Args({kYuyv, 640, 480})
    ->Args({kNv12, 320, 240})
    ->Args({kNv12, 640, 480})
    ->Args({kRgb, 640, 480})
    ->Unit(benchmark::kMicrosecond);

BENCHMARK(BM_ScaleToDib)
    ->ArgNames({"layout", "w", "h"})
    ->Args({kYuyv, 640, 480})
    ->Args({kYuyv, 720, 576})
    ->Args({kNv12, 640, 480})
    ->Args({kRgb, 640, 480})
    ->Args({-1, 640, 480})
    ->Args({-1, 384, 288})
    ->Unit(benchmark::kMicrosecond);

BENCHMARK(BM_ScaleFilter)
    ->ArgNames({"filter", "argb", "w", "h"})
    ->ArgsProduct({{libyuv::kFilterBilinear, libyuv::kFilterBox}, {0, 1}, {640}, {480}})
    ->ArgsProduct({{libyuv::kFilterBilinear, libyuv::kFilterBox}, {0}, {720}, {576}})
    ->ArgsProduct({{libyuv::kFilterBilinear, libyuv::kFilterBox}, {0}, {1280}, {960}})
    ->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
