// SPDX-License-Identifier: GPL-2.0-or-later
// The AVI file service, checked on real files: ffprobe and ffmpeg read and decode them, and a small
// RIFF reader checks the layout players are lenient about.
#include "platform/avifile.h"

#include <gtest/gtest.h>

#include <QDir>

#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#include <filesystem>

#include <QByteArray>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/avi/avi_writer.h"
#include "platform/codec/compman_internal.h"
#include "platform/compman.h"
#include "platform/files.h"
#include "platform/machine.h"
#include "platform/mmsystem.h"
#include "tests/support/avi_streams.h"

namespace {

using avi_streams::AudioInfo;
using avi_streams::VideoInfo;

constexpr int kWidth = 384;
constexpr int kHeight = 288;
constexpr LONG kAudioBytes = 7056;  // 1/25 s of 44.1 kHz stereo 16-bit
constexpr DWORD kMjpg = MAKEFOURCC('M', 'J', 'P', 'G');

// ---- frames, sound and their comparison ----

struct Frame {
    BITMAPINFOHEADER format{};
    std::vector<unsigned char> bits;
};

int Stride(const BITMAPINFOHEADER& f) {
    return (f.biWidth * f.biBitCount + 31) / 32 * 4;
}

// Smooth colours that move with n, so that every frame differs from the next.
unsigned char Channel(int x, int y, int n, int c) {
    double v = 128 + 90 * std::sin((x * (c + 1) + y * (3 - c) + n * 9) / 23.0);
    return static_cast<unsigned char>(v);
}

Frame MakeFrame(int bits, bool bottomUp, int n) {
    Frame frame;
    frame.format = {sizeof(BITMAPINFOHEADER),
                    kWidth,
                    bottomUp ? kHeight : -kHeight,
                    1,
                    static_cast<WORD>(bits),
                    BI_RGB,
                    0,
                    0,
                    0,
                    0,
                    0};
    frame.format.biSizeImage = static_cast<DWORD>(Stride(frame.format) * kHeight);
    frame.bits.assign(frame.format.biSizeImage, 0);
    for (int y = 0; y < kHeight; ++y) {
        unsigned char* row =
            frame.bits.data() + (bottomUp ? kHeight - 1 - y : y) * Stride(frame.format);
        for (int x = 0; x < kWidth; ++x) {
            for (int c = 0; c < 3; ++c) row[x * bits / 8 + 2 - c] = Channel(x, y, n, c);  // B,G,R
        }
    }
    return frame;
}

// What ffmpeg's rgb24 output of frame n must be close to.
std::vector<unsigned char> ExpectedRgb(int n) {
    std::vector<unsigned char> rgb;
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x)
            for (int c = 0; c < 3; ++c) rgb.push_back(Channel(x, y, n, c));
    return rgb;
}

double Psnr(const unsigned char* a, const unsigned char* b, std::size_t size) {
    double sum = 0;
    for (std::size_t i = 0; i < size; ++i) sum += (a[i] - b[i]) * double(a[i] - b[i]);
    return sum == 0 ? 99 : 10 * std::log10(255.0 * 255.0 * static_cast<double>(size) / sum);
}

std::vector<char> Sound(int block) {
    std::vector<char> bytes(kAudioBytes);
    for (LONG i = 0; i < kAudioBytes; ++i)
        bytes[i] = static_cast<char>((i * 7 + block * 31) & 0xFF);
    return bytes;
}

// ---- tools ----

struct Run {
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

Run RunTool(const QString& program, const QStringList& arguments) {
    QProcess process;
    process.start(program, arguments);
    process.waitForFinished(120000);
    return {process.exitCode(), process.readAllStandardOutput(), process.readAllStandardError()};
}

QJsonArray ProbeStreams(const std::string& path) {
    Run probe = RunTool("ffprobe", {"-v", "error", "-count_frames", "-show_streams", "-of", "json",
                                    QString::fromStdString(path)});
    EXPECT_EQ(probe.exitCode, 0) << probe.err.toStdString();
    return QJsonDocument::fromJson(probe.out).object()["streams"].toArray();
}

// Decoding every packet with -xerror: any damage shows on standard error.
void ExpectCleanDecode(const std::string& path) {
    Run decode = RunTool("ffmpeg", {"-v", "error", "-xerror", "-i", QString::fromStdString(path),
                                    "-f", "null", "-"});
    EXPECT_EQ(decode.exitCode, 0);
    EXPECT_EQ(decode.err.toStdString(), "");
}

QByteArray Decoded(const std::string& path, const QStringList& output) {
    Run decode =
        RunTool("ffmpeg", QStringList{"-v", "error", "-i", QString::fromStdString(path)} + output);
    EXPECT_EQ(decode.exitCode, 0) << decode.err.toStdString();
    return decode.out;
}

// ---- a RIFF reader for what players forgive ----

struct Chunk {
    std::string id;
    DWORD size = 0;
    std::size_t at = 0;  // of the chunk's id
};

struct IndexEntry {
    DWORD ckid, flags, offset, size;
};

struct Layout {
    std::vector<char> bytes;
    DWORD riffSize = 0;
    DWORD avihFlags = 0, totalFrames = 0, streams = 0;
    std::vector<DWORD> lengths;   // strh dwLength per stream
    std::vector<DWORD> handlers;  // strh fccHandler per stream
    std::size_t moviFourcc = 0;
    std::vector<Chunk> movi;
    std::vector<IndexEntry> index;
    bool hasIndex = false;
};

std::vector<char> ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

DWORD At(const std::vector<char>& bytes, std::size_t at) {
    DWORD value = 0;
    if (at + 4 <= bytes.size()) std::memcpy(&value, bytes.data() + at, 4);
    return value;
}

std::string Id(const std::vector<char>& bytes, std::size_t at) {
    return {bytes.data() + at, 4};
}

std::string Id(DWORD fourcc) {
    return {reinterpret_cast<const char*>(&fourcc), 4};
}

void ReadHeaders(Layout& layout, std::size_t at, std::size_t end) {
    const auto& b = layout.bytes;
    for (; at + 8 <= end; at += 8 + ((At(b, at + 4) + 1) & ~1u)) {
        const std::string id = Id(b, at);
        if (id == "LIST") {
            ReadHeaders(layout, at + 12, at + 8 + At(b, at + 4));
        } else if (id == "avih") {
            layout.avihFlags = At(b, at + 8 + 12);
            layout.totalFrames = At(b, at + 8 + 16);
            layout.streams = At(b, at + 8 + 24);
        } else if (id == "strh") {
            layout.handlers.push_back(At(b, at + 8 + 4));
            layout.lengths.push_back(At(b, at + 8 + 32));
        }
    }
}

Layout ReadLayout(const std::string& path) {
    Layout layout;
    layout.bytes = ReadAll(path);
    const auto& b = layout.bytes;
    layout.riffSize = At(b, 4);
    for (std::size_t at = 12; at + 8 <= b.size(); at += 8 + ((At(b, at + 4) + 1) & ~1u)) {
        if (Id(b, at) == "LIST" && Id(b, at + 8) == "hdrl")
            ReadHeaders(layout, at + 12, at + 8 + At(b, at + 4));
        if (Id(b, at) == "LIST" && Id(b, at + 8) == "movi") {
            layout.moviFourcc = at + 8;
            for (std::size_t c = at + 12; c < at + 8 + At(b, at + 4);
                 c += 8 + ((At(b, c + 4) + 1) & ~1u))
                layout.movi.push_back({Id(b, c), At(b, c + 4), c});
        }
        if (Id(b, at) == "idx1") {
            layout.hasIndex = true;
            for (std::size_t e = at + 8; e + 16 <= at + 8 + At(b, at + 4); e += 16)
                layout.index.push_back({At(b, e), At(b, e + 4), At(b, e + 8), At(b, e + 12)});
        }
    }
    return layout;
}

// ---- the service, used as a recording uses it ----

WAVEFORMATEX AudioFormat() {
    return {WAVE_FORMAT_PCM, 2, 44100, 176400, 4, 16, 0};
}

AVICOMPRESSOPTIONS Options(DWORD handler, DWORD quality = 100) {
    AVICOMPRESSOPTIONS options{};
    options.fccHandler = handler;
    options.dwQuality = quality;
    return options;
}

struct Recording {
    PAVIFILE file = nullptr;
    PAVISTREAM raw = nullptr;
    PAVISTREAM compressed = nullptr;
    PAVISTREAM audio = nullptr;
    LONG frames = 0;
    LONG blocks = 0;

    // Compressed with MJPG at `quality` unless `format` is already MJPG.
    HRESULT Open(const std::string& path, BITMAPINFOHEADER format, DWORD quality = 100) {
        if (HRESULT r = AVIFileOpenA(&file, path.c_str(), OF_WRITE | OF_CREATE, nullptr)) return r;
        AVISTREAMINFOA video = VideoInfo(format);
        if (HRESULT r = AVIFileCreateStreamA(file, &raw, &video)) return r;
        PAVISTREAM target = raw;
        if (format.biCompression != kMjpg) {
            AVICOMPRESSOPTIONS options = Options(kMjpg, quality);
            if (HRESULT r = AVIMakeCompressedStream(&compressed, raw, &options, nullptr)) return r;
            target = compressed;
        }
        if (HRESULT r = AVIStreamSetFormat(target, 0, &format, sizeof format)) return r;
        AVISTREAMINFOA audioInfo = AudioInfo();
        if (HRESULT r = AVIFileCreateStreamA(file, &audio, &audioInfo)) return r;
        WAVEFORMATEX wave = AudioFormat();
        return AVIStreamSetFormat(audio, 0, &wave, sizeof wave);
    }

    HRESULT Video(const void* data, LONG bytes, LONG* written = nullptr) {
        LONG samples = 0, stored = 0;
        HRESULT r =
            AVIStreamWrite(compressed ? compressed : raw, frames, 1, const_cast<void*>(data), bytes,
                           AVIIF_KEYFRAME, &samples, &stored);
        frames += samples;
        if (written) *written = stored;
        return r;
    }

    HRESULT Audio(const std::vector<char>& sound, LONG* samples = nullptr, LONG* bytes = nullptr) {
        const auto size = static_cast<LONG>(sound.size());
        HRESULT r = AVIStreamWrite(audio, blocks * size / 4, size / 4,
                                   const_cast<char*>(sound.data()), size, 0, samples, bytes);
        ++blocks;
        return r;
    }

    // The program's order: the file first, then its streams.
    void Close() {
        if (file) AVIFileRelease(file);
        if (raw) AVIStreamRelease(raw);
        if (audio) AVIStreamRelease(audio);
        if (compressed) AVIStreamRelease(compressed);
        file = nullptr, raw = audio = compressed = nullptr;
    }
};

// ---- child processes: a full disk, a crash ----

void MapDrive(const std::string& folder) {
    platform::MachineDescription machine = platform::Machine();
    machine.drives['T'] = {DRIVE_FIXED, folder};
    machine.codecs = {{"MJPG", true}};
    platform::SetMachine(machine);
}

// Writes frames and sound until told to stop by a failure (a file size limit) or by SIGKILL.
[[noreturn]] void RunChild(const char* mode) {
    MapDrive(std::getenv("AVI_CHILD_FOLDER"));
    if (std::strcmp(mode, "limited") == 0) {
        signal(SIGXFSZ, SIG_IGN);
        rlimit limit{300000, 300000};
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    Frame frame = MakeFrame(24, true, 0);
    Recording recording;
    if (recording.Open("T:\\child.avi", frame.format) != AVIERR_OK) _exit(2);
    for (int n = 0;; ++n) {
        HRESULT video = recording.Video(frame.bits.data(), static_cast<LONG>(frame.bits.size()));
        HRESULT audio = recording.Audio(Sound(n));
        if (video != AVIERR_OK || audio != AVIERR_OK) {
            std::printf("frames %d result %d\n", static_cast<int>(recording.frames),
                        video ? video : audio);
            break;
        }
        if (recording.frames % 25 == 0)
            std::printf("frames %d\n", static_cast<int>(recording.frames));
        std::fflush(stdout);
    }
    recording.Close();
    std::fflush(stdout);
    _exit(0);
}

// The test program runs itself as the child; this happens before any test or Qt starts.
const bool kChild = [] {
    if (const char* mode = std::getenv("AVI_CHILD_MODE")) RunChild(mode);
    return false;
}();

// ---- fixture ----

class AviFileTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(dir_.isValid());
        previous_ = platform::Machine();
        MapDrive(dir_.path().toStdString());
        AVIFileInit();
    }
    void TearDown() override {
        AVIFileExit();
        platform::SetAviWriterLimits({});
        platform::SetMachine(previous_);
    }
    std::string Win(const std::string& name) const { return "T:\\" + name; }
    std::string Host(const std::string& name) const {
        return dir_.path().toStdString() + "/" + name;
    }

    QProcess* StartChild(const char* mode) {
        auto* child = new QProcess;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("AVI_CHILD_MODE", mode);
        environment.insert("AVI_CHILD_FOLDER", dir_.path());
        child->setProcessEnvironment(environment);
        child->start("/proc/self/exe", {});
        return child;
    }

    QTemporaryDir dir_;
    platform::MachineDescription previous_;
};

// ---- a recording's file, as players see it ----

struct Layouts {
    int bits;
    bool bottomUp;
};

class RecordedFile : public AviFileTest, public ::testing::WithParamInterface<Layouts> {};

TEST_P(RecordedFile, PlaysWithEveryFrameAndSampleInPlace) {
    Recording recording;
    ASSERT_EQ(
        recording.Open(Win("rec.avi"), MakeFrame(GetParam().bits, GetParam().bottomUp, 0).format),
        AVIERR_OK);
    // Frame 3 is written twice, as a recording doubles a frame to keep up with the sound.
    const std::vector<int> sources{0, 1, 2, 3, 3, 4, 5};
    for (std::size_t i = 0; i < sources.size(); ++i) {
        Frame frame = MakeFrame(GetParam().bits, GetParam().bottomUp, sources[i]);
        LONG written = 0;
        ASSERT_EQ(
            recording.Video(frame.bits.data(), static_cast<LONG>(frame.bits.size()), &written),
            AVIERR_OK);
        EXPECT_GT(written, 1000);
        EXPECT_LT(written, static_cast<LONG>(frame.bits.size()));
        LONG samples = 0, bytes = 0;
        ASSERT_EQ(recording.Audio(Sound(static_cast<int>(i)), &samples, &bytes), AVIERR_OK);
        EXPECT_EQ(samples, kAudioBytes / 4);
        EXPECT_EQ(bytes, kAudioBytes);
    }
    recording.Close();
    const std::string path = Host("rec.avi");

    QJsonArray streams = ProbeStreams(path);
    ASSERT_EQ(streams.size(), 2);
    QJsonObject video = streams[0].toObject(), audio = streams[1].toObject();
    EXPECT_EQ(video["codec_type"].toString(), "video");
    EXPECT_EQ(video["codec_tag_string"].toString(), "MJPG");
    EXPECT_EQ(video["r_frame_rate"].toString(), "25/1");
    EXPECT_EQ(video["width"].toInt(), kWidth);
    EXPECT_EQ(video["height"].toInt(), kHeight);
    EXPECT_EQ(video["nb_frames"].toString(), "7");
    EXPECT_EQ(video["nb_read_frames"].toString(), "7");
    EXPECT_EQ(audio["codec_type"].toString(), "audio");
    EXPECT_EQ(audio["codec_name"].toString(), "pcm_s16le");
    EXPECT_EQ(audio["sample_rate"].toString(), "44100");
    EXPECT_EQ(audio["channels"].toInt(), 2);
    ExpectCleanDecode(path);

    QByteArray rgb = Decoded(path, {"-map", "0:v", "-f", "rawvideo", "-pix_fmt", "rgb24", "-"});
    const std::size_t frameBytes = kWidth * kHeight * 3;
    ASSERT_EQ(static_cast<std::size_t>(rgb.size()), frameBytes * sources.size());
    auto decoded = [&](std::size_t i) {
        return reinterpret_cast<const unsigned char*>(rgb.data()) + i * frameBytes;
    };
    for (std::size_t i = 0; i < sources.size(); ++i)
        EXPECT_GE(Psnr(decoded(i), ExpectedRgb(sources[i]).data(), frameBytes), 40.0)
            << "frame " << i;
    EXPECT_EQ(std::memcmp(decoded(3), decoded(4), frameBytes), 0);
    EXPECT_LT(Psnr(decoded(2), decoded(3), frameBytes), 40.0);  // neighbours do differ

    QByteArray pcm = Decoded(path, {"-map", "0:a", "-f", "s16le", "-"});
    std::vector<char> expected;
    for (std::size_t i = 0; i < sources.size(); ++i) {
        std::vector<char> block = Sound(static_cast<int>(i));
        expected.insert(expected.end(), block.begin(), block.end());
    }
    EXPECT_TRUE(std::vector<char>(pcm.begin(), pcm.end()) == expected);
}

INSTANTIATE_TEST_SUITE_P(Layouts, RecordedFile,
                         ::testing::Values(Layouts{24, true}, Layouts{32, false}),
                         [](const auto& test) {
                             return std::to_string(test.param.bits) +
                                    (test.param.bottomUp ? "BitBottomUp" : "BitTopDown");
                         });

TEST_F(AviFileTest, RiffLayoutHasCountsIndexAndEvenChunks) {
    Recording recording;
    ASSERT_EQ(recording.Open(Win("layout.avi"), MakeFrame(24, true, 0).format), AVIERR_OK);
    Frame frame = MakeFrame(24, true, 1);
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(recording.Video(frame.bits.data(), static_cast<LONG>(frame.bits.size())),
                  AVIERR_OK);
        ASSERT_EQ(recording.Audio(Sound(i)), AVIERR_OK);
    }
    recording.Close();
    Layout layout = ReadLayout(Host("layout.avi"));

    EXPECT_EQ(layout.riffSize + 8, layout.bytes.size());
    EXPECT_EQ(layout.avihFlags & (AVIF_HASINDEX | AVIF_ISINTERLEAVED),
              AVIF_HASINDEX | AVIF_ISINTERLEAVED);
    EXPECT_EQ(layout.totalFrames, 3u);
    EXPECT_EQ(layout.streams, 2u);
    EXPECT_EQ(layout.lengths, (std::vector<DWORD>{3, 3 * kAudioBytes / 4}));
    EXPECT_EQ(Id(layout.handlers[0]), "MJPG");
    ASSERT_TRUE(layout.hasIndex);
    ASSERT_EQ(layout.movi.size(), 6u);
    ASSERT_EQ(layout.index.size(), 6u);
    for (std::size_t i = 0; i < 6; ++i) {
        const Chunk& chunk = layout.movi[i];
        EXPECT_EQ(chunk.id, i % 2 == 0 ? "00dc" : "01wb");
        EXPECT_EQ(chunk.at % 2, 0u);
        EXPECT_EQ(Id(layout.index[i].ckid), chunk.id);
        EXPECT_EQ(layout.index[i].flags, AVIIF_KEYFRAME);
        EXPECT_EQ(layout.index[i].offset, chunk.at - layout.moviFourcc);  // from 'movi'
        EXPECT_EQ(layout.index[i].size, chunk.size);
    }
    EXPECT_EQ(layout.index[0].offset, 4u);
}

// A Motion-JPEG card's frames are stored as they come, odd sizes included.
TEST_F(AviFileTest, StoresMjpgFramesAsDelivered) {
    HIC encoder = ICOpen(ICTYPE_VIDEO, kMjpg, ICMODE_COMPRESS);
    ASSERT_NE(encoder, nullptr);
    Frame frame = MakeFrame(24, true, 2);
    BITMAPINFOHEADER mjpg{};
    ASSERT_EQ(ICCompressGetFormat(encoder, &frame.format, &mjpg), ICERR_OK);
    std::vector<unsigned char> jpeg(ICCompressGetSize(encoder, &frame.format, &mjpg));
    ASSERT_EQ(ICCompress(encoder, ICCOMPRESS_KEYFRAME, &mjpg, jpeg.data(), &frame.format,
                         frame.bits.data(), nullptr, nullptr, 0, 0, 90, nullptr, nullptr),
              ICERR_OK);
    ICClose(encoder);
    jpeg.resize(mjpg.biSizeImage | 1);  // a trailing byte after the picture: an odd chunk
    Recording recording;
    ASSERT_EQ(recording.Open(Win("mjpg.avi"), mjpg), AVIERR_OK);
    EXPECT_EQ(recording.compressed, nullptr);
    for (int i = 0; i < 4; ++i) {
        LONG written = 0;
        ASSERT_EQ(recording.Video(jpeg.data(), static_cast<LONG>(jpeg.size()), &written),
                  AVIERR_OK);
        EXPECT_EQ(written, static_cast<LONG>(jpeg.size()));
        ASSERT_EQ(recording.Audio(Sound(i)), AVIERR_OK);
    }
    recording.Close();
    QJsonArray streams = ProbeStreams(Host("mjpg.avi"));
    ASSERT_EQ(streams.size(), 2);
    EXPECT_EQ(streams[0].toObject()["codec_tag_string"].toString(), "MJPG");
    EXPECT_EQ(streams[0].toObject()["nb_read_frames"].toString(), "4");
    ExpectCleanDecode(Host("mjpg.avi"));
}

// ---- compressors ----

class FakeCodec : public platform::VideoCodec {
  public:
    LRESULT Message(UINT message, DWORD_PTR in, DWORD_PTR out) override {
        auto* format = reinterpret_cast<BITMAPINFOHEADER*>(out);
        switch (message) {
            case ICM_COMPRESS_GET_FORMAT:
                if (format == nullptr) return sizeof(BITMAPINFOHEADER);
                *format = *reinterpret_cast<const BITMAPINFOHEADER*>(in);
                format->biCompression = MAKEFOURCC('D', 'I', 'V', 'X');
                return ICERR_OK;
            case ICM_COMPRESS_GET_SIZE:
                return 16;
            case ICM_COMPRESS: {
                auto* frame = reinterpret_cast<ICCOMPRESS*>(in);
                std::memset(frame->lpOutput, 'x', 5);
                frame->lpbiOutput->biSizeImage = 5;
                *frame->lpdwFlags = AVIIF_KEYFRAME;
                return ICERR_OK;
            }
            default:
                return ICERR_OK;
        }
    }
};

TEST_F(AviFileTest, CompressedStreamNeedsTheNamedCompressor) {
    PAVIFILE file = nullptr;
    PAVISTREAM raw = nullptr, compressed = nullptr;
    ASSERT_EQ(AVIFileOpenA(&file, Win("probe.avi").c_str(), OF_CREATE, nullptr), AVIERR_OK);
    AVISTREAMINFOA info = VideoInfo(MakeFrame(24, true, 0).format);
    ASSERT_EQ(AVIFileCreateStreamA(file, &raw, &info), AVIERR_OK);

    AVICOMPRESSOPTIONS divx = Options(MAKEFOURCC('D', 'I', 'V', 'X'));
    EXPECT_EQ(AVIMakeCompressedStream(&compressed, raw, &divx, nullptr), AVIERR_NOCOMPRESSOR);
    EXPECT_EQ(compressed, nullptr);

    platform::MachineDescription machine = platform::Machine();
    machine.codecs["MJPG"] = false;
    platform::MachineDescription withMjpg = platform::SetMachine(machine);
    AVICOMPRESSOPTIONS mjpg = Options(kMjpg);
    EXPECT_EQ(AVIMakeCompressedStream(&compressed, raw, &mjpg, nullptr), AVIERR_NOCOMPRESSOR);
    platform::SetMachine(withMjpg);

    // An audio stream has no video compressor.
    PAVISTREAM audio = nullptr;
    AVISTREAMINFOA audioInfo = AudioInfo();
    ASSERT_EQ(AVIFileCreateStreamA(file, &audio, &audioInfo), AVIERR_OK);
    EXPECT_EQ(AVIMakeCompressedStream(&compressed, audio, &mjpg, nullptr), AVIERR_NOCOMPRESSOR);

    EXPECT_EQ(AVIMakeCompressedStream(&compressed, raw, &mjpg, nullptr), AVIERR_OK);
    EXPECT_NE(compressed, nullptr);
    AVIFileRelease(file);
    AVIStreamRelease(raw);
    AVIStreamRelease(audio);
    AVIStreamRelease(compressed);
    // The probe's file is left behind, a valid AVI without streams.
    Layout layout = ReadLayout(Host("probe.avi"));
    EXPECT_EQ(Id(layout.bytes, 0) + Id(layout.bytes, 8), "RIFFAVI ");
    EXPECT_EQ(layout.riffSize + 8, layout.bytes.size());
    EXPECT_TRUE(layout.hasIndex);
    EXPECT_EQ(layout.streams, 0u);
}

TEST_F(AviFileTest, InstalledCompressorWritesItsFormatAndHandler) {
    platform::CodecRegistration fake;
    fake.info.fccType = ICTYPE_VIDEO;
    fake.info.fccHandler = MAKEFOURCC('D', 'I', 'V', 'X');
    fake.open = [](UINT) { return std::make_unique<FakeCodec>(); };
    platform::InstallCodec(fake);
    platform::MachineDescription machine = platform::Machine();
    machine.codecs["DIVX"] = true;
    platform::SetMachine(machine);

    Recording recording;
    Frame frame = MakeFrame(24, true, 0);
    ASSERT_EQ(AVIFileOpenA(&recording.file, Win("divx.avi").c_str(), OF_WRITE | OF_CREATE, nullptr),
              AVIERR_OK);
    AVISTREAMINFOA info = VideoInfo(frame.format);
    ASSERT_EQ(AVIFileCreateStreamA(recording.file, &recording.raw, &info), AVIERR_OK);
    AVICOMPRESSOPTIONS divx = Options(MAKEFOURCC('d', 'i', 'v', 'x'));  // any case
    ASSERT_EQ(AVIMakeCompressedStream(&recording.compressed, recording.raw, &divx, nullptr),
              AVIERR_OK);
    ASSERT_EQ(AVIStreamSetFormat(recording.compressed, 0, &frame.format, sizeof frame.format),
              AVIERR_OK);
    LONG written = 0;
    EXPECT_EQ(recording.Video(frame.bits.data(), static_cast<LONG>(frame.bits.size()), &written),
              AVIERR_OK);
    EXPECT_EQ(written, 5);
    recording.Close();
    fake.open = nullptr;
    platform::InstallCodec(fake);

    Layout layout = ReadLayout(Host("divx.avi"));
    EXPECT_EQ(Id(layout.handlers.at(0)), "DIVX");  // the compressor's own name
    const std::string strf(layout.bytes.begin(), layout.bytes.end());
    EXPECT_NE(strf.find("DIVX"), std::string::npos);
    ASSERT_EQ(layout.movi.size(), 1u);
    EXPECT_EQ(layout.movi[0].size, 5u);
}

// ---- refusals ----

TEST_F(AviFileTest, RefusedFormatsSizesAndLateChanges) {
    Recording recording;
    Frame frame = MakeFrame(24, true, 0);
    ASSERT_EQ(
        AVIFileOpenA(&recording.file, Win("refused.avi").c_str(), OF_WRITE | OF_CREATE, nullptr),
        AVIERR_OK);
    AVISTREAMINFOA info = VideoInfo(frame.format);
    ASSERT_EQ(AVIFileCreateStreamA(recording.file, &recording.raw, &info), AVIERR_OK);
    AVICOMPRESSOPTIONS mjpg = Options(kMjpg);
    ASSERT_EQ(AVIMakeCompressedStream(&recording.compressed, recording.raw, &mjpg, nullptr),
              AVIERR_OK);

    BITMAPINFOHEADER format = frame.format;
    format.biBitCount = 16;
    EXPECT_EQ(AVIStreamSetFormat(recording.compressed, 0, &format, sizeof format),
              AVIERR_BADFORMAT);
    format = frame.format;
    format.biCompression = BI_RLE8;
    EXPECT_EQ(AVIStreamSetFormat(recording.compressed, 0, &format, sizeof format),
              AVIERR_BADFORMAT);
    EXPECT_EQ(AVIStreamSetFormat(recording.compressed, 0, &format, 20), AVIERR_BADFORMAT);
    EXPECT_EQ(recording.Video(frame.bits.data(), static_cast<LONG>(frame.bits.size())),
              AVIERR_BADFORMAT);
    ASSERT_EQ(AVIStreamSetFormat(recording.compressed, 0, &frame.format, sizeof frame.format),
              AVIERR_OK);

    AVISTREAMINFOA audioInfo = AudioInfo();
    ASSERT_EQ(AVIFileCreateStreamA(recording.file, &recording.audio, &audioInfo), AVIERR_OK);
    // Headers are laid out at the first write: every stream needs its format by then.
    EXPECT_EQ(recording.Video(frame.bits.data(), static_cast<LONG>(frame.bits.size())),
              AVIERR_BADFORMAT);
    WAVEFORMATEX wave = AudioFormat();
    wave.nBlockAlign = 0;
    EXPECT_EQ(AVIStreamSetFormat(recording.audio, 0, &wave, sizeof wave), AVIERR_BADFORMAT);
    wave = AudioFormat();
    ASSERT_EQ(AVIStreamSetFormat(recording.audio, 0, &wave, sizeof wave), AVIERR_OK);

    // A short frame would be read past its end; part of a sample would shift the channels.
    EXPECT_EQ(recording.Video(frame.bits.data(), 1000), AVIERR_BADSIZE);
    std::vector<char> sound(kAudioBytes + 2);
    LONG samples = -1, bytes = -1;
    EXPECT_EQ(AVIStreamWrite(recording.audio, 0, 1, sound.data(), 6, 0, &samples, &bytes),
              AVIERR_BADSIZE);
    EXPECT_EQ(samples, 0);
    EXPECT_EQ(bytes, 0);
    EXPECT_EQ(AVIStreamWrite(recording.audio, 0, 1, nullptr, 8, 0, nullptr, nullptr),
              AVIERR_BADPARAM);

    ASSERT_EQ(recording.Video(frame.bits.data(), static_cast<LONG>(frame.bits.size())), AVIERR_OK);
    PAVISTREAM late = nullptr;
    EXPECT_EQ(AVIFileCreateStreamA(recording.file, &late, &audioInfo), AVIERR_UNSUPPORTED);
    EXPECT_EQ(late, nullptr);
    EXPECT_EQ(AVIStreamSetFormat(recording.audio, 0, &wave, sizeof wave), AVIERR_UNSUPPORTED);
    recording.Close();
    ExpectCleanDecode(Host("refused.avi"));
}

TEST_F(AviFileTest, OpenRefusesWhatItCannotCreate) {
    PAVIFILE file = reinterpret_cast<PAVIFILE>(1);
    EXPECT_EQ(
        AVIFileOpenA(&file, Win("no\\such\\folder.avi").c_str(), OF_WRITE | OF_CREATE, nullptr),
        AVIERR_FILEOPEN);
    EXPECT_EQ(file, nullptr);
    EXPECT_EQ(platform::LastAviWriteError(), ENOENT);
    EXPECT_EQ(AVIFileOpenA(&file, "Q:\\unmapped.avi", OF_WRITE | OF_CREATE, nullptr),
              AVIERR_FILEOPEN);
    EXPECT_EQ(AVIFileOpenA(&file, Win("read.avi").c_str(), OF_READ, nullptr), AVIERR_UNSUPPORTED);
    EXPECT_EQ(AVIFileOpenA(&file, nullptr, OF_CREATE, nullptr), AVIERR_BADPARAM);
    EXPECT_EQ(AVIFileOpenA(nullptr, Win("x.avi").c_str(), OF_CREATE, nullptr), AVIERR_BADPARAM);
}

// A name held by a link was followed and its target emptied; a FIFO blocked the open for good.
// Neither is touched now, and the open answers at once.
TEST_F(AviFileTest, OpenLeavesLinksFifosAndDevicesAlone) {
    std::ofstream(Host("target.txt")) << "precious";
    ASSERT_EQ(symlink(Host("target.txt").c_str(), Host("link.avi").c_str()), 0);
    ASSERT_EQ(mkfifo(Host("fifo.avi").c_str(), 0600), 0);
    ASSERT_EQ(symlink("/dev/null", Host("device.avi").c_str()), 0);
    for (const char* name : {"link.avi", "fifo.avi", "device.avi"}) {
        PAVIFILE file = nullptr;
        EXPECT_EQ(AVIFileOpenA(&file, Win(name).c_str(), OF_WRITE | OF_CREATE, nullptr),
                  AVIERR_FILEOPEN)
            << name;
        EXPECT_EQ(platform::LastAviWriteError(), kFileNotRegular) << name;
        EXPECT_EQ(file, nullptr);
    }
    std::ifstream target(Host("target.txt"));
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(target), {}), "precious");
}

// ---- lifetime ----

TEST_F(AviFileTest, FileCompletesOnTheLastReleaseInAnyOrder) {
    Recording recording;
    Frame frame = MakeFrame(24, true, 0);
    ASSERT_EQ(recording.Open(Win("order.avi"), frame.format), AVIERR_OK);
    ASSERT_EQ(recording.Video(frame.bits.data(), static_cast<LONG>(frame.bits.size())), AVIERR_OK);
    ASSERT_EQ(recording.Audio(Sound(0)), AVIERR_OK);
    EXPECT_EQ(AVIFileAddRef(recording.file), 2u);
    EXPECT_EQ(AVIFileRelease(recording.file), 1u);

    EXPECT_EQ(AVIFileRelease(recording.file), 0u);
    EXPECT_EQ(AVIFileRelease(recording.file), 0u);  // a second release is refused safely
    PAVISTREAM stream = nullptr;
    AVISTREAMINFOA info = AudioInfo();
    EXPECT_EQ(AVIFileCreateStreamA(recording.file, &stream, &info), AVIERR_BADHANDLE);
    EXPECT_EQ(AVIStreamRelease(recording.raw), 0u);
    EXPECT_EQ(AVIStreamRelease(recording.audio), 0u);
    EXPECT_EQ(AVIStreamRelease(recording.audio), 0u);
    EXPECT_FALSE(ReadLayout(Host("order.avi")).hasIndex);  // the compressed stream holds it open

    // The compressed stream still writes through the raw stream it holds.
    ASSERT_EQ(recording.Video(frame.bits.data(), static_cast<LONG>(frame.bits.size())), AVIERR_OK);
    EXPECT_EQ(AVIStreamRelease(recording.compressed), 0u);
    EXPECT_EQ(AVIStreamWrite(recording.compressed, 0, 1, frame.bits.data(),
                             static_cast<LONG>(frame.bits.size()), 0, nullptr, nullptr),
              AVIERR_BADHANDLE);
    Layout layout = ReadLayout(Host("order.avi"));
    EXPECT_TRUE(layout.hasIndex);
    EXPECT_EQ(layout.totalFrames, 2u);
    ExpectCleanDecode(Host("order.avi"));
}

// ---- limits and failures ----

// The same frame written until the service refuses it (or `tries` run out), `before` called ahead
// of each write with its number; the last write's result.
template <typename Before = void (*)(int)>
HRESULT WriteUntilRefused(
    Recording& recording, const Frame& frame, int tries, LONG& written,
    Before before = [](int) {}) {
    HRESULT result = AVIERR_OK;
    for (int n = 0; n < tries && result == AVIERR_OK; ++n) {
        before(n);
        result = recording.Video(frame.bits.data(), static_cast<LONG>(frame.bits.size()), &written);
    }
    return result;
}

// The AVI 1.0 limit, lowered so that a test reaches it.
TEST_F(AviFileTest, WriteThatWouldPassTheSizeLimitIsRefusedAndTheFileStaysValid) {
    constexpr std::uint64_t kLimit = 1 << 20;
    platform::SetAviWriterLimits({kLimit, true});
    Recording recording;
    Frame frame = MakeFrame(24, true, 0);
    ASSERT_EQ(recording.Open(Win("limit.avi"), frame.format), AVIERR_OK);
    LONG written = 0;
    EXPECT_EQ(WriteUntilRefused(recording, frame, 1000, written), AVIERR_FILEWRITE);
    EXPECT_EQ(platform::LastAviWriteError(), kFileAviLimit);
    EXPECT_EQ(written, 0);
    const LONG accepted = recording.frames;
    EXPECT_GT(accepted, 5);
    // Smaller writes still go in while they fit.
    EXPECT_EQ(recording.Audio(Sound(0)), AVIERR_OK);
    recording.Close();

    EXPECT_LE(ReadAll(Host("limit.avi")).size(), kLimit);
    QJsonArray streams = ProbeStreams(Host("limit.avi"));
    ASSERT_EQ(streams.size(), 2);
    EXPECT_EQ(streams[0].toObject()["nb_frames"].toString(), QString::number(accepted));
    EXPECT_EQ(streams[0].toObject()["nb_read_frames"].toString(), QString::number(accepted));
    ExpectCleanDecode(Host("limit.avi"));
}

// A file whose folder is deleted while it is written takes writes nobody will read: the next
// periodic header rewrite notices it and refuses, with its own reason.
TEST_F(AviFileTest, WriteIntoAFileWhoseFolderWasDeletedIsRefused) {
    ASSERT_TRUE(QDir(QString::fromStdString(Host(""))).mkdir("gone"));
    Recording recording;
    Frame frame = MakeFrame(24, true, 0);
    ASSERT_EQ(recording.Open(Win("gone\\x.avi"), frame.format), AVIERR_OK);
    LONG written = 0;
    const auto removeAtThird = [this](int n) {
        if (n == 3) std::filesystem::remove_all(Host("gone"));
    };
    EXPECT_EQ(WriteUntilRefused(recording, frame, 200, written, removeAtThird), AVIERR_FILEWRITE);
    EXPECT_EQ(platform::LastAviWriteError(), kFileRemoved);
    EXPECT_LT(recording.frames, 30) << "noticed within a second of data";
    recording.Close();
}

// A full disk (a file size limit in a child process): the write fails, and what was written
// before stays readable.
TEST_F(AviFileTest, WriteTheDiskRefusesFailsAndTheFileStaysValid) {
    std::unique_ptr<QProcess> child(StartChild("limited"));
    ASSERT_TRUE(child->waitForFinished(60000));
    ASSERT_EQ(child->exitCode(), 0) << child->readAllStandardError().toStdString();
    const QString report =
        QString::fromUtf8(child->readAllStandardOutput()).trimmed().split('\n').last();
    int frames = 0, result = 0;
    ASSERT_EQ(std::sscanf(report.toUtf8().constData(), "frames %d result %d", &frames, &result), 2);
    EXPECT_EQ(result, AVIERR_FILEWRITE);
    EXPECT_GT(frames, 0);
    QJsonArray streams = ProbeStreams(Host("child.avi"));
    ASSERT_EQ(streams.size(), 2);
    EXPECT_EQ(streams[0].toObject()["nb_frames"].toString(), QString::number(frames));
    EXPECT_EQ(streams[0].toObject()["nb_read_frames"].toString(), QString::number(frames));
    ExpectCleanDecode(Host("child.avi"));
}

// Killed while writing, the process leaves a file players read up to the last header update.
TEST_F(AviFileTest, FileOfAKilledProcessPlaysUpToTheKill) {
    std::unique_ptr<QProcess> child(StartChild("endless"));
    int frames = 0;
    while (frames < 200 && child->waitForReadyRead(60000)) {
        while (child->canReadLine())
            std::sscanf(child->readLine().constData(), "frames %d", &frames);
    }
    ASSERT_GE(frames, 200);
    child->kill();  // SIGKILL
    ASSERT_TRUE(child->waitForFinished(10000));
    EXPECT_EQ(child->exitStatus(), QProcess::CrashExit);

    QJsonArray streams = ProbeStreams(Host("child.avi"));
    ASSERT_EQ(streams.size(), 2);
    const QJsonObject video = streams[0].toObject();
    // The headers count what was written by their last update; a reader that scans the chunks
    // also finds the whole ones written after it.
    const int counted = video["nb_frames"].toString().toInt();
    EXPECT_GE(counted, 175);
    EXPECT_GE(video["nb_read_frames"].toString().toInt(), counted);
    EXPECT_EQ(streams[1].toObject()["codec_name"].toString(), "pcm_s16le");
    ExpectCleanDecode(Host("child.avi"));
}

}  // namespace
