// SPDX-License-Identifier: GPL-2.0-or-later
// Bytes per frame at equal picture quality: test-card frames (384 x 288, picture noise 0 and 30)
// compressed by the "MJPG" compressor at its quality 100, by TurboJPEG at settings around it
// (4:4:4 at JPEG qualities 90 to 100, with and without optimised Huffman tables) and by ffmpeg's
// MJPEG encoder at -q:v 1 to 3 (4:4:4), each decoded again and compared with the source frames:
// size, PSNR over the three colour channels, and CPU per frame of the compression. Figures are in
// bench/README.md.
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <turbojpeg.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/capture/testcard.h"
#include "platform/compman.h"

// After the platform's headers: it defines TRUE and FALSE as macros.
#include <jpeglib.h>
#include <cstdio>  // jpeglib.h needs FILE

namespace {

constexpr int kWidth = 384;
constexpr int kHeight = 288;
constexpr int kFrames = 50;
constexpr std::size_t kFrameBytes = std::size_t{kWidth} * 3 * kHeight;

using Frames = std::vector<std::vector<unsigned char>>;

Frames CardFrames(int noise) {
    platform::TestCardVideo card({kWidth, kHeight, false, noise});
    Frames frames;
    for (std::uint32_t n = 0; n < kFrames; ++n) {
        const std::span<BYTE> bytes = card.Render(n, false);
        frames.emplace_back(bytes.begin(), bytes.end());
    }
    return frames;
}

// Over all three channels of every pixel.
double Psnr(const unsigned char* a, const unsigned char* b, std::size_t bytes) {
    double sum = 0;
    for (std::size_t i = 0; i < bytes; ++i) {
        const double d = double(a[i]) - double(b[i]);
        sum += d * d;
    }
    const double mse = sum / double(bytes);
    return mse == 0 ? 99.0 : 10.0 * std::log10(255.0 * 255.0 / mse);
}

struct Figures {
    double bytes = 0;
    double psnr = 0;
};

// libjpeg's own API, for what TurboJPEG 2.1 cannot ask: optimised Huffman tables. 4:4:4.
class LibJpeg {
  public:
    LibJpeg() {
        info_.err = jpeg_std_error(&errors_);
        jpeg_create_compress(&info_);
    }
    ~LibJpeg() { jpeg_destroy_compress(&info_); }
    LibJpeg(const LibJpeg&) = delete;
    LibJpeg& operator=(const LibJpeg&) = delete;

    unsigned long Compress(const unsigned char* bgr, int quality, bool optimise,
                           std::vector<unsigned char>& out) {
        unsigned char* buffer = out.data();
        unsigned long size = out.size();
        jpeg_mem_dest(&info_, &buffer, &size);
        info_.image_width = kWidth;
        info_.image_height = kHeight;
        info_.input_components = 3;
        info_.in_color_space = JCS_EXT_BGR;
        jpeg_set_defaults(&info_);
        jpeg_set_quality(&info_, quality, TRUE);
        for (int c = 0; c < 3; ++c)
            info_.comp_info[c].h_samp_factor = info_.comp_info[c].v_samp_factor = 1;
        info_.optimize_coding = optimise ? TRUE : FALSE;
        info_.dct_method = JDCT_ISLOW;
        jpeg_start_compress(&info_, TRUE);
        while (info_.next_scanline < info_.image_height) {
            JSAMPROW row =
                const_cast<unsigned char*>(bgr) + std::size_t(info_.next_scanline) * kWidth * 3;
            jpeg_write_scanlines(&info_, &row, 1);
        }
        jpeg_finish_compress(&info_);
        if (buffer != out.data()) {  // grown by libjpeg: not expected with room for the worst case
            out.assign(buffer, buffer + size);
            std::free(buffer);
        }
        return size;
    }

  private:
    jpeg_compress_struct info_{};
    jpeg_error_mgr errors_{};
};

// Compressed (TurboJPEG, or libjpeg for optimised tables) and decoded again; the frames' PSNR
// is averaged.
Figures TurboJpeg(const Frames& frames, int quality, bool optimise) {
    tjhandle encoder = tjInitCompress(), decoder = tjInitDecompress();
    LibJpeg libjpeg;
    std::vector<unsigned char> decoded(kFrameBytes), jpeg(tjBufSize(kWidth, kHeight, TJSAMP_444));
    Figures f;
    for (const auto& frame : frames) {
        unsigned long size = jpeg.size();
        if (optimise) {
            size = libjpeg.Compress(frame.data(), quality, true, jpeg);
        } else {
            unsigned char* out = jpeg.data();
            tjCompress2(encoder, frame.data(), kWidth, 0, kHeight, TJPF_BGR, &out, &size,
                        TJSAMP_444, quality, TJFLAG_NOREALLOC);
        }
        tjDecompress2(decoder, jpeg.data(), size, decoded.data(), kWidth, 0, kHeight, TJPF_BGR, 0);
        f.bytes += double(size);
        f.psnr += Psnr(frame.data(), decoded.data(), kFrameBytes);
    }
    tjDestroy(encoder);
    tjDestroy(decoder);
    f.bytes /= double(frames.size());
    f.psnr /= double(frames.size());
    return f;
}

// The compressor as the program reaches it, at quality 100.
Figures Compressor(const Frames& frames) {
    BITMAPINFOHEADER in{sizeof(BITMAPINFOHEADER), kWidth, -kHeight, 1, 24, BI_RGB,
                        DWORD(kFrameBytes),       0,      0,        0, 0};
    HIC codec = ICOpen(ICTYPE_VIDEO, MAKEFOURCC('M', 'J', 'P', 'G'), ICMODE_COMPRESS);
    BITMAPINFOHEADER out{};
    ICSendMessage(codec, ICM_COMPRESS_GET_FORMAT, DWORD_PTR(&in), DWORD_PTR(&out));
    std::vector<unsigned char> jpeg(
        std::size_t(ICSendMessage(codec, ICM_COMPRESS_GET_SIZE, DWORD_PTR(&in), DWORD_PTR(&out))));
    ICSendMessage(codec, ICM_COMPRESS_BEGIN, DWORD_PTR(&in), DWORD_PTR(&out));
    tjhandle decoder = tjInitDecompress();
    std::vector<unsigned char> decoded(kFrameBytes);
    Figures f;
    for (const auto& frame : frames) {
        ICCOMPRESS c{};
        c.lpbiOutput = &out;
        c.lpOutput = jpeg.data();
        c.lpbiInput = &in;
        c.lpInput = const_cast<unsigned char*>(frame.data());
        c.dwQuality = 100;
        ICSendMessage(codec, ICM_COMPRESS, DWORD_PTR(&c), sizeof c);
        tjDecompress2(decoder, jpeg.data(), out.biSizeImage, decoded.data(), kWidth, 0, kHeight,
                      TJPF_BGR, 0);
        f.bytes += out.biSizeImage;
        f.psnr += Psnr(frame.data(), decoded.data(), kFrameBytes);
    }
    tjDestroy(decoder);
    ICClose(codec);
    f.bytes /= double(frames.size());
    f.psnr /= double(frames.size());
    return f;
}

std::string Folder() {
    static std::string folder = [] {
        char pattern[] = "/dev/shm/jpeg_quality_bench_XXXXXX";
        return std::string(mkdtemp(pattern));
    }();
    return folder;
}

std::vector<unsigned char> ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// ffmpeg encodes the raw frames to a stream of JPEG pictures and decodes them again.
Figures Ffmpeg(const Frames& frames, int q) {
    const std::string raw = Folder() + "/frames.bgr", jpegs = Folder() + "/frames.mjpeg",
                      back = Folder() + "/back.bgr";
    {
        std::ofstream out(raw, std::ios::binary);
        for (const auto& frame : frames)
            out.write(reinterpret_cast<const char*>(frame.data()), std::streamsize(kFrameBytes));
    }
    const std::string size = std::to_string(kWidth) + "x" + std::to_string(kHeight);
    const std::string encode = "ffmpeg -v error -y -f rawvideo -pix_fmt bgr24 -s " + size + " -i " +
                               raw + " -c:v mjpeg -q:v " + std::to_string(q) +
                               " -pix_fmt yuvj444p -f mjpeg " + jpegs;
    const std::string decode =
        "ffmpeg -v error -y -i " + jpegs + " -f rawvideo -pix_fmt bgr24 " + back;
    Figures f;
    if (std::system(encode.c_str()) != 0 || std::system(decode.c_str()) != 0) return f;
    const auto decoded = ReadAll(back);
    if (decoded.size() != kFrameBytes * frames.size()) return f;
    for (std::size_t i = 0; i < frames.size(); ++i)
        f.psnr += Psnr(frames[i].data(), decoded.data() + i * kFrameBytes, kFrameBytes);
    f.psnr /= double(frames.size());
    f.bytes = double(std::filesystem::file_size(jpegs)) / double(frames.size());
    return f;
}

void Report(benchmark::State& state, const Figures& f) {
    state.counters["bytes_per_frame"] = f.bytes;
    state.counters["psnr_db"] = f.psnr;
    state.SetItemsProcessed(state.iterations());
}

// Args: noise, JPEG quality, 1 for optimised Huffman tables (through libjpeg's API, which
// TurboJPEG 2.1 does not offer; 0 is TurboJPEG as the compressor calls it).
void BM_Jpeg444(benchmark::State& state) {
    const Frames frames = CardFrames(int(state.range(0)));
    const int quality = int(state.range(1));
    const bool optimise = state.range(2) != 0;
    tjhandle encoder = tjInitCompress();
    LibJpeg libjpeg;
    std::vector<unsigned char> jpeg(tjBufSize(kWidth, kHeight, TJSAMP_444));
    std::size_t n = 0;
    for (auto _ : state) {
        const unsigned char* frame = frames[++n % frames.size()].data();
        unsigned long size = jpeg.size();
        if (optimise) {
            size = libjpeg.Compress(frame, quality, true, jpeg);
        } else {
            unsigned char* out = jpeg.data();
            tjCompress2(encoder, frame, kWidth, 0, kHeight, TJPF_BGR, &out, &size, TJSAMP_444,
                        quality, TJFLAG_NOREALLOC);
        }
        benchmark::DoNotOptimize(size);
    }
    tjDestroy(encoder);
    Report(state, TurboJpeg(frames, quality, optimise));
}
BENCHMARK(BM_Jpeg444)
    ->ArgsProduct({{0, 30}, {100, 99, 98, 97, 96, 95, 93, 90}, {0, 1}})
    ->Unit(benchmark::kMicrosecond);

// Arg: noise. The compressor at the program's quality 100, whatever it means.
void BM_CompressorQuality100(benchmark::State& state) {
    const Frames frames = CardFrames(int(state.range(0)));
    for (auto _ : state) benchmark::DoNotOptimize(frames.size());
    Report(state, Compressor(frames));
}
BENCHMARK(BM_CompressorQuality100)->Arg(0)->Arg(30)->Iterations(1);

// Args: noise, -q:v. Size and PSNR only; ffmpeg's CPU is in whole_program.sh.
void BM_FfmpegMjpeg444(benchmark::State& state) {
    const Frames frames = CardFrames(int(state.range(0)));
    Figures f;
    for (auto _ : state) f = Ffmpeg(frames, int(state.range(1)));
    Report(state, f);
}
BENCHMARK(BM_FfmpegMjpeg444)->ArgsProduct({{0, 30}, {1, 2, 3}})->Iterations(1);

}  // namespace

int main(int argc, char** argv) {
    ::benchmark::Initialize(&argc, argv);
    ::benchmark::RunSpecifiedBenchmarks();
    ::benchmark::Shutdown();
    std::filesystem::remove_all(Folder());
    return 0;
}
