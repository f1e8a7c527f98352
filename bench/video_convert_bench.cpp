// Converting a camera's raw picture into the 24-bit bottom-up DIB a capture delivers (libyuv),
// per frame, at the sizes the program asks of a device. Figures are in bench/README.md.
#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "platform/capture/testcard.h"
#include "platform/capture/video_convert.h"

namespace {

void BM_ToDib(benchmark::State& state) {
    const auto layout = static_cast<platform::RawLayout>(state.range(0));
    const auto width = static_cast<int>(state.range(1));
    const auto height = static_cast<int>(state.range(2));
    const int stride = layout == platform::RawLayout::Nv12 ? width
                       : layout == platform::RawLayout::Yuyv || layout == platform::RawLayout::Uyvy
                           ? width * 2
                           : width * 3;
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

BENCHMARK_MAIN();
