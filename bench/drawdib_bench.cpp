// SPDX-License-Identifier: GPL-2.0-or-later
// DrawDib: frames drawn per second at the live display's sizes, against QPainter's own scaling,
// and heap allocations per frame once the sizes are known. Figures are in bench/README.md.
#include <benchmark/benchmark.h>
#include <turbojpeg.h>

#include <QImage>
#include <QPainter>
#include <algorithm>
#include <random>
#include <vector>

#include "platform/drawdib.h"
#include "tests/support/alloc_counter.h"

namespace {

struct Frame {
    BITMAPINFOHEADER header{};
    std::vector<BYTE> bits;
};

// Smooth colour with a little grain, as an analogue source gives: 24-bit, bottom-up.
Frame RgbFrame(int width, int height) {
    const int stride = (width * 3 + 3) & ~3;
    Frame frame;
    frame.header = {sizeof(BITMAPINFOHEADER),
                    width,
                    height,
                    1,
                    24,
                    BI_RGB,
                    static_cast<DWORD>(stride * height),
                    0,
                    0,
                    0,
                    0};
    frame.bits.resize(frame.header.biSizeImage);
    std::mt19937 grain(7);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            for (int c = 0; c < 3; ++c) {
                const int value = (x * (c + 1) + y * (3 - c)) % 256 + int(grain() % 5) - 2;
                frame.bits[std::size_t(y * stride + x * 3 + c)] =
                    static_cast<BYTE>(std::clamp(value, 0, 255));
            }
    return frame;
}

// The same picture as a capture card's Motion-JPEG frame (4:2:2, quality 75).
Frame MjpgFrame(int width, int height) {
    Frame rgb = RgbFrame(width, height);
    tjhandle compressor = tjInitCompress();
    unsigned char* jpeg = nullptr;
    unsigned long size = 0;
    tjCompress2(compressor, rgb.bits.data(), width, (width * 3 + 3) & ~3, height, TJPF_BGR, &jpeg,
                &size, TJSAMP_422, 75, TJFLAG_BOTTOMUP);
    Frame frame;
    frame.bits.assign(jpeg, jpeg + size);
    tjFree(jpeg);
    tjDestroy(compressor);
    frame.header = rgb.header;
    frame.header.biCompression = MAKEFOURCC('M', 'J', 'P', 'G');
    frame.header.biSizeImage = static_cast<DWORD>(size);
    return frame;
}

void Report(benchmark::State& state, long allocated) {
    state.counters["fps"] = benchmark::Counter(1, benchmark::Counter::kIsIterationInvariantRate);
    state.counters["allocs_per_frame"] =
        static_cast<double>(allocated) / static_cast<double>(state.iterations());
}

// Arguments: source width, height, destination width, height; 1 for a JPEG source.
void BM_DrawDibDraw(benchmark::State& state) {
    const int width = int(state.range(0)), height = int(state.range(1));
    const int toWidth = int(state.range(2)), toHeight = int(state.range(3));
    Frame frame = state.range(4) != 0 ? MjpgFrame(width, height) : RgbFrame(width, height);
    QImage image(toWidth, toHeight, QImage::Format_RGB32);
    HDRAWDIB hdd = DrawDibOpen();
    HDC dc = platform::DeviceContextOf(&image);
    auto draw = [&] {
        return DrawDibDraw(hdd, dc, 0, 0, toWidth, toHeight, &frame.header, frame.bits.data(), 0, 0,
                           width, height, 0);
    };
    if (draw() != TRUE) state.SkipWithError("frame not drawn");
    const long before = alloc_counter::Mallocs();
    for (auto _ : state) benchmark::DoNotOptimize(draw());
    Report(state, alloc_counter::Mallocs() - before);
    DrawDibClose(hdd);
}
BENCHMARK(BM_DrawDibDraw)
    ->Args({384, 288, 384, 288, 0})
    ->Args({384, 288, 1024, 768, 0})
    ->Args({640, 480, 640, 480, 1})
    ->Args({384, 288, 1024, 768, 1})
    ->MeasureProcessCPUTime()
    ->Unit(benchmark::kMicrosecond);

// The decoder alone, into a buffer of its own: what a JPEG frame costs before any drawing.
void BM_TurboJpegDecode(benchmark::State& state) {
    const int width = int(state.range(0)), height = int(state.range(1));
    Frame frame = MjpgFrame(width, height);
    std::vector<BYTE> pixels(std::size_t(width) * std::size_t(height) * 4);
    tjhandle decoder = tjInitDecompress();
    auto decode = [&] {
        return tjDecompress2(decoder, frame.bits.data(), frame.bits.size(), pixels.data(), width,
                             width * 4, height, TJPF_BGRA, 0);
    };
    decode();
    const long before = alloc_counter::Mallocs();
    for (auto _ : state) benchmark::DoNotOptimize(decode());
    Report(state, alloc_counter::Mallocs() - before);
    tjDestroy(decoder);
}
BENCHMARK(BM_TurboJpegDecode)
    ->Args({640, 480})
    ->Args({384, 288})
    ->MeasureProcessCPUTime()
    ->Unit(benchmark::kMicrosecond);

// For comparison: Qt scaling the same 24-bit frame itself (rows wrapped where they lie, turned
// upright by the painter's transform), smooth transformation off. Qt spreads large drawings
// over worker threads: the CPU column counts every thread of the process.
void BM_QPainterDrawImage(benchmark::State& state) {
    const int width = int(state.range(0)), height = int(state.range(1));
    const int toWidth = int(state.range(2)), toHeight = int(state.range(3));
    Frame frame = RgbFrame(width, height);
    QImage image(toWidth, toHeight, QImage::Format_RGB32);
    const QImage source(frame.bits.data(), width, height, (width * 3 + 3) & ~3,
                        QImage::Format_BGR888);
    auto draw = [&] {
        QPainter painter(&image);
        painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
        painter.translate(0, toHeight);
        painter.scale(1, -1);
        painter.drawImage(QRect(0, 0, toWidth, toHeight), source);
    };
    draw();
    const long before = alloc_counter::Mallocs();
    for (auto _ : state) draw();
    Report(state, alloc_counter::Mallocs() - before);
}
BENCHMARK(BM_QPainterDrawImage)
    ->Args({384, 288, 384, 288})
    ->Args({384, 288, 1024, 768})
    ->MeasureProcessCPUTime()
    ->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
