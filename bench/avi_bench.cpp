// SPDX-License-Identifier: GPL-2.0-or-later
// AVI writing: MJPG compression plus writing per frame, what crash safety costs, and how memory
// grows over a long file. Figures are in bench/README.md.
#include <benchmark/benchmark.h>
#include <malloc.h>
#include <stdlib.h>
#include <unistd.h>

#include <cmath>
#include <string>
#include <vector>

#include "platform/avi/avi_writer.h"
#include "platform/avifile.h"
#include "platform/files.h"
#include "platform/machine.h"
#include "platform/mmsystem.h"
#include "tests/support/avi_streams.h"

namespace {

using avi_streams::AudioInfo;
using avi_streams::VideoInfo;

constexpr DWORD kMjpg = MAKEFOURCC('M', 'J', 'P', 'G');

// A folder of its own in memory (the figures are our costs, not the disk's), reached as drive
// T:, removed with its file at exit.
class Scratch {
  public:
    Scratch() {
        char pattern[] = "/dev/shm/avi_bench_XXXXXX";
        folder_ = mkdtemp(pattern);
        platform::MachineDescription machine = platform::Machine();
        machine.drives['T'] = {DRIVE_FIXED, folder_};
        platform::SetMachine(machine);
    }
    ~Scratch() {
        unlink((folder_ + "/bench.avi").c_str());
        rmdir(folder_.c_str());
    }
    static const char* File() { return "T:\\bench.avi"; }

  private:
    std::string folder_;
};

Scratch& TheScratch() {
    static Scratch scratch;
    return scratch;
}

BITMAPINFOHEADER RgbFormat(int width, int height) {
    const DWORD stride = static_cast<DWORD>((width * 3 + 3) & ~3);
    return {sizeof(BITMAPINFOHEADER),
            width,
            height,
            1,
            24,
            BI_RGB,
            stride * static_cast<DWORD>(height),
            0,
            0,
            0,
            0};
}

// Smooth colours with a little noise, closer to an analogue camera than flat bars are.
std::vector<unsigned char> Picture(const BITMAPINFOHEADER& format) {
    std::vector<unsigned char> bits(format.biSizeImage);
    const auto stride = static_cast<std::size_t>(format.biWidth) * 3;
    unsigned noise = 12345;
    for (std::size_t i = 0; i < bits.size(); ++i) {
        const double x = static_cast<double>(i % stride) / 3, y = static_cast<double>(i / stride);
        noise = noise * 1103515245 + 12345;
        const double grain = static_cast<double>((noise >> 16) % 5) - 2;
        bits[i] = static_cast<unsigned char>(128 + 90 * std::sin(x / 37 + y / 53 + double(i % 3)) +
                                             grain);
    }
    return bits;
}

// A file with a video stream (compressed with MJPG, or taking MJPG as it comes) and PCM audio.
struct File {
    PAVIFILE file = nullptr;
    PAVISTREAM raw = nullptr, compressed = nullptr, audio = nullptr;

    File(const BITMAPINFOHEADER& format, bool compress) {
        AVIFileOpenA(&file, TheScratch().File(), OF_WRITE | OF_CREATE, nullptr);
        AVISTREAMINFOA video = VideoInfo(format);
        AVIFileCreateStreamA(file, &raw, &video);
        BITMAPINFOHEADER set = format;
        if (compress) {
            AVICOMPRESSOPTIONS options{};
            options.fccHandler = kMjpg;
            options.dwQuality = 100;
            AVIMakeCompressedStream(&compressed, raw, &options, nullptr);
        } else {
            set.biCompression = kMjpg;
        }
        AVIStreamSetFormat(Video(), 0, &set, sizeof set);
        AVISTREAMINFOA audioInfo = AudioInfo();
        AVIFileCreateStreamA(file, &audio, &audioInfo);
        WAVEFORMATEX wave{WAVE_FORMAT_PCM, 2, 44100, 176400, 4, 16, 0};
        AVIStreamSetFormat(audio, 0, &wave, sizeof wave);
    }
    ~File() {
        AVIFileRelease(file);
        AVIStreamRelease(raw);
        AVIStreamRelease(audio);
        if (compressed) AVIStreamRelease(compressed);
    }
    PAVISTREAM Video() const { return compressed ? compressed : raw; }
    LONG Write(PAVISTREAM stream, std::vector<unsigned char>& data, DWORD flags) {
        LONG bytes = 0;
        AVIStreamWrite(stream, 0, 1, data.data(), static_cast<LONG>(data.size()), flags, nullptr,
                       &bytes);
        return bytes;
    }
};

// Frames per second through AVIStreamWrite on a compressed stream at quality 100, with the
// sound of one frame (1/25 s) written after each.
void BM_MjpgEncodeAndWrite(benchmark::State& state) {
    const BITMAPINFOHEADER format =
        RgbFormat(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
    std::vector<unsigned char> picture = Picture(format), sound(7056);
    File file(format, true);
    double bytes = 0;
    for (auto _ : state) {
        bytes += file.Write(file.Video(), picture, AVIIF_KEYFRAME);
        file.Write(file.audio, sound, 0);
    }
    state.SetItemsProcessed(state.iterations());
    state.counters["jpeg_bytes"] = bytes / static_cast<double>(state.iterations());
}
BENCHMARK(BM_MjpgEncodeAndWrite)->Args({384, 288})->Args({640, 480})->Unit(benchmark::kMicrosecond);

// The write path alone (MJPG frames stored as delivered, 40 kB, plus their sound), with crash
// safety (arg 1: chunks land whole, headers rewritten every second) and without (arg 0).
void BM_CrashSafety(benchmark::State& state) {
    platform::AviWriterLimits limits;
    limits.crashSafe = state.range(0) != 0;
    const platform::AviWriterLimits previous = platform::SetAviWriterLimits(limits);
    std::vector<unsigned char> jpeg(40000, 0x55), sound(7056);
    auto file = std::make_unique<File>(RgbFormat(384, 288), false);
    int frames = 0;
    for (auto _ : state) {
        file->Write(file->Video(), jpeg, AVIIF_KEYFRAME);
        file->Write(file->audio, sound, 0);
        if (++frames % 20000 == 0) {  // a new file before the 2 GB limit
            state.PauseTiming();
            file = std::make_unique<File>(RgbFormat(384, 288), false);
            state.ResumeTiming();
        }
    }
    file.reset();
    platform::SetAviWriterLimits(previous);
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_CrashSafety)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

std::size_t HeapInUse() {
    return mallinfo2().uordblks;
}

// Memory while writing an hour at 25 fps with sound in half-second buffers (the capture's
// default): the index grows by 16 bytes a chunk. Small chunks keep the file small.
void BM_HourOfIndexMemory(benchmark::State& state) {
    std::vector<unsigned char> frame(64, 1), sound(400, 0);
    for (auto _ : state) {
        const std::size_t before = HeapInUse();
        std::size_t peak = 0;
        {
            File file(RgbFormat(384, 288), false);
            for (int n = 0; n < 25 * 3600; ++n) {
                file.Write(file.Video(), frame, AVIIF_KEYFRAME);
                if (n % 12 == 0) file.Write(file.audio, sound, 0);
                if (n % 1000 == 0) peak = std::max(peak, HeapInUse() - before);
            }
            peak = std::max(peak, HeapInUse() - before);
        }
        state.counters["heap_peak_kB"] = static_cast<double>(peak) / 1024;
        state.counters["heap_after_release_kB"] =
            (static_cast<double>(HeapInUse()) - static_cast<double>(before)) / 1024;
    }
}
BENCHMARK(BM_HourOfIndexMemory)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
