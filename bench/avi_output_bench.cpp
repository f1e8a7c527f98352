// SPDX-License-Identifier: GPL-2.0-or-later
// The recording's write path against what it is built on, on the same test-card frames (colour
// bars with picture noise, as an analogue card gives): frames/s of WriteVideoFrame into a file on
// disk against bare tjCompress2 and against ffmpeg's MJPEG encoder, MB/s of the pass-through
// writer against dd on the same disk, and heap allocations per written frame. Figures are in
// bench/README.md.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <turbojpeg.h>
#include <unistd.h>

#include <QApplication>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "bench/scratch_folder.h"
#include "platform/capture/testcard.h"
#include "platform/files.h"
#include "tests/support/alloc_counter.h"
#include "tests/support/recorder_internals.h"

namespace {

constexpr int kNoise = 10;
constexpr DWORD kMjpg = MAKEFOURCC('M', 'J', 'P', 'G');
constexpr std::uint32_t kNewFileAt = 1'500'000'000;

support::RememberedEvents theEvents;

Recorder& TheRecorder() {
    static Recorder recorder(theEvents);
    return recorder;
}

BITMAPINFOHEADER RgbFormat(int width, int height) {
    const DWORD size = platform::DibStride(width) * static_cast<DWORD>(height);
    return {sizeof(BITMAPINFOHEADER), width, height, 1, 24, BI_RGB, size, 0, 0, 0, 0};
}

// Eight frames, written in turn, so the encoder never sees the same picture twice in a row.
std::vector<std::vector<BYTE>> CardFrames(int width, int height) {
    platform::TestCardVideo card({width, height, false, kNoise});
    std::vector<std::vector<BYTE>> frames;
    for (std::uint32_t n = 0; n < 8; ++n) {
        const std::span<BYTE> bytes = card.Render(n, false);
        frames.emplace_back(bytes.begin(), bytes.end());
    }
    return frames;
}

VIDEOHDR Header(std::vector<BYTE>& frame) {
    const auto size = static_cast<DWORD>(frame.size());
    return {frame.data(), size, size, 0, 0, 0, {}};
}

// A recording whose frames are compressed with "MJPG", or stored as delivered.
void Open(Recorder& recorder, const BITMAPINFOHEADER& format, bool asDelivered) {
    std::filesystem::remove(TheScratch().Host("bench.avi"));
    RecordingInput input;
    const auto* bytes = reinterpret_cast<const BYTE*>(&format);
    input.format.assign(bytes, bytes + sizeof format);
    input.storedAsDelivered = asDelivered;
    input.compressor = QStringLiteral("MJPG");
    recorder.Start(input);
    recorder.OpenAviOutput(TheScratch().Windows("bench.avi").c_str());
    RecorderInternals::State(recorder).FileBytes = 0;
}

// WriteVideoFrame through the "MJPG" compressor at quality 100, into a file on disk.
void BM_WriteVideoFrame(benchmark::State& state) {
    const int width = static_cast<int>(state.range(0)), height = static_cast<int>(state.range(1));
    auto frames = CardFrames(width, height);
    Recorder& recorder = TheRecorder();
    Open(recorder, RgbFormat(width, height), false);
    VIDEOHDR first = Header(frames[0]);
    recorder.WriteVideoFrame(first);  // the headers are laid out at the first write
    const long mallocsBefore = alloc_counter::Mallocs(), newsBefore = alloc_counter::Allocations();
    double bytes = 0;
    std::size_t n = 0;
    for (auto _ : state) {
        VIDEOHDR header = Header(frames[++n % frames.size()]);
        const std::uint32_t before = recorder.State().FileBytes;
        recorder.WriteVideoFrame(header);
        bytes += recorder.State().FileBytes - before;
        if (recorder.State().FileBytes > kNewFileAt) {
            state.PauseTiming();
            Open(recorder, RgbFormat(width, height), false);
            state.ResumeTiming();
        }
    }
    const auto frameCount = static_cast<double>(state.iterations());
    state.counters["mallocs_per_frame"] =
        static_cast<double>(alloc_counter::Mallocs() - mallocsBefore) / frameCount;
    state.counters["news_per_frame"] =
        static_cast<double>(alloc_counter::Allocations() - newsBefore) / frameCount;
    state.counters["jpeg_bytes"] = bytes / frameCount;
    state.SetItemsProcessed(state.iterations());
    recorder.CloseAviOutput();
}
BENCHMARK(BM_WriteVideoFrame)->Args({384, 288})->Args({640, 480})->Unit(benchmark::kMillisecond);

// The same frames through tjCompress2 alone, with the compressor's settings at quality 100.
void BM_BareTjCompress2(benchmark::State& state) {
    const int width = static_cast<int>(state.range(0)), height = static_cast<int>(state.range(1));
    auto frames = CardFrames(width, height);
    tjhandle encoder = tjInitCompress();
    unsigned long capacity = tjBufSize(width, height, TJSAMP_444);
    unsigned char* jpeg = tjAlloc(static_cast<int>(capacity));
    std::size_t n = 0;
    const long mallocsBefore = alloc_counter::Mallocs(), newsBefore = alloc_counter::Allocations();
    for (auto _ : state) {
        unsigned long size = capacity;
        tjCompress2(encoder, frames[++n % frames.size()].data(), width,
                    static_cast<int>(platform::DibStride(width)), height, TJPF_BGR, &jpeg, &size,
                    TJSAMP_444, 100, TJFLAG_NOREALLOC | TJFLAG_BOTTOMUP);
        benchmark::DoNotOptimize(size);
    }
    const auto frameCount = static_cast<double>(state.iterations());
    state.counters["mallocs_per_frame"] =
        static_cast<double>(alloc_counter::Mallocs() - mallocsBefore) / frameCount;
    state.counters["news_per_frame"] =
        static_cast<double>(alloc_counter::Allocations() - newsBefore) / frameCount;
    state.SetItemsProcessed(state.iterations());
    tjFree(jpeg);
    tjDestroy(encoder);
}
BENCHMARK(BM_BareTjCompress2)->Args({384, 288})->Args({640, 480})->Unit(benchmark::kMillisecond);

double ChildCpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

template <typename Run>
double WallSeconds(Run run) {
    const auto start = std::chrono::steady_clock::now();
    run();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void Shell(const std::string& command) {
    if (std::system(command.c_str()) != 0) std::fprintf(stderr, "failed: %s\n", command.c_str());
}

std::string FfmpegCommand(int width, int height, const std::string& raw, int frames) {
    return "ffmpeg -v error -y -f rawvideo -pix_fmt bgr24 -s " + std::to_string(width) + "x" +
           std::to_string(height) + " -r 25 -i " + raw + " -frames:v " + std::to_string(frames) +
           " -c:v mjpeg -q:v 1 -f avi " + TheScratch().Host("ffmpeg.avi");
}

// ffmpeg encoding the same frames, read from a raw file, into an AVI: one run of 200 frames an
// iteration, start-up included; items per second are per wall second, child_cpu_fps per CPU
// second of ffmpeg. A run of 20 frames besides gives the cost of the 180 more without start-up
// (steady_cpu_fps).
void BM_FfmpegMjpeg(benchmark::State& state) {
    const int width = static_cast<int>(state.range(0)), height = static_cast<int>(state.range(1));
    constexpr int kFrames = 200, kShortRun = 20;
    auto frames = CardFrames(width, height);
    const std::string raw = TheScratch().Host("frames.bgr");
    {
        std::unique_ptr<std::FILE, int (*)(std::FILE*)> out(std::fopen(raw.c_str(), "wb"), fclose);
        for (int n = 0; n < kFrames; ++n) {
            const auto& frame = frames[static_cast<std::size_t>(n) % frames.size()];
            std::fwrite(frame.data(), 1, frame.size(), out.get());
        }
    }
    double cpu = 0, shortCpu = 0;
    for (auto _ : state) {
        double before = ChildCpuSeconds();
        state.SetIterationTime(
            WallSeconds([&] { Shell(FfmpegCommand(width, height, raw, kFrames)); }));
        cpu += ChildCpuSeconds() - before;
        before = ChildCpuSeconds();
        Shell(FfmpegCommand(width, height, raw, kShortRun));
        shortCpu += ChildCpuSeconds() - before;
    }
    const auto runs = static_cast<double>(state.iterations());
    state.counters["child_cpu_fps"] = runs * kFrames / cpu;
    state.counters["steady_cpu_fps"] = runs * (kFrames - kShortRun) / (cpu - shortCpu);
    state.SetItemsProcessed(state.iterations() * kFrames);
    std::filesystem::remove(raw);
}
BENCHMARK(BM_FfmpegMjpeg)
    ->Args({384, 288})
    ->Args({640, 480})
    ->UseManualTime()
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond);

constexpr std::size_t kPassThroughFrame = 200 * 1024;  // a large analogue MJPG frame
constexpr int kPassThroughFrames = 5120;               // 1,000 MiB a run

void SyncFile(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd >= 0) ::fsync(fd);
    if (fd >= 0) ::close(fd);
}

// The writer without compression (the card's MJPG stored as delivered): 1,000 MiB of frames,
// file completed; arg 1 also waits for the disk (fsync), as dd's conv=fsync does.
void BM_PassThroughWriter(benchmark::State& state) {
    Recorder& recorder = TheRecorder();
    BITMAPINFOHEADER format = RgbFormat(640, 480);
    format.biCompression = kMjpg;
    std::vector<BYTE> frame(kPassThroughFrame, 0x5A);
    const bool sync = state.range(0) != 0;
    for (auto _ : state) {
        Open(recorder, format, true);
        state.SetIterationTime(WallSeconds([&] {
            VIDEOHDR header = Header(frame);
            for (int n = 0; n < kPassThroughFrames; ++n) recorder.WriteVideoFrame(header);
            recorder.CloseAviOutput();
            if (sync) SyncFile(TheScratch().Host("bench.avi"));
        }));
    }
    state.SetBytesProcessed(state.iterations() * kPassThroughFrames *
                            static_cast<std::int64_t>(kPassThroughFrame));
    std::filesystem::remove(TheScratch().Host("bench.avi"));
}
BENCHMARK(BM_PassThroughWriter)
    ->Arg(0)
    ->Arg(1)
    ->UseManualTime()
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond);

// dd writing the same amount in blocks of one frame to the same folder.
void BM_Dd(benchmark::State& state) {
    const std::string file = TheScratch().Host("dd.bin");
    const std::string command = "dd if=/dev/zero of=" + file +
                                " bs=" + std::to_string(kPassThroughFrame) +
                                " count=" + std::to_string(kPassThroughFrames) +
                                (state.range(0) != 0 ? " conv=fsync" : "") + " status=none";
    for (auto _ : state) {
        std::filesystem::remove(file);
        state.SetIterationTime(WallSeconds([&] { Shell(command); }));
    }
    state.SetBytesProcessed(state.iterations() * kPassThroughFrames *
                            static_cast<std::int64_t>(kPassThroughFrame));
    std::filesystem::remove(file);
}
BENCHMARK(BM_Dd)->Arg(0)->Arg(1)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);

}  // namespace

// The recording's strings are the toolkit's: it is started here, offscreen unless told.
int main(int argc, char** argv) {
    if (std::getenv("QT_QPA_PLATFORM") == nullptr) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    ::benchmark::Initialize(&argc, argv);
    ::benchmark::RunSpecifiedBenchmarks();
    ::benchmark::Shutdown();
    return 0;
}
