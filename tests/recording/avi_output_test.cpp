// SPDX-License-Identifier: GPL-2.0-or-later
// The recording's AVI files, written through a Recorder and read back by ffprobe and ffmpeg; the
// probe for a compressor; and a whole capture on the platform's test card.
#include <sys/resource.h>
#include <unistd.h>

#include <QWidget>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <optional>

#include "platform/avi/avi_writer.h"
#include "platform/avifile.h"
#include "platform/codec/compman_internal.h"
#include "platform/window_handles.h"
#include "tests/recording/recording_fixture.h"
#include "tests/support/alloc_counter.h"

namespace {

using recording_test::CardFormat;
using recording_test::DecodedSound;
using recording_test::ExpectCleanDecode;
using recording_test::FramesRead;
using recording_test::kLogBlockLines;
using recording_test::kMjpg;
using recording_test::Recording;
using recording_test::Streams;
using recording_test::Text;

constexpr int kWidth = 384;
constexpr int kHeight = 288;
const std::string kOpenFailed = "Erreur d'ouverture fichier ...";
const std::string kCodecMissing = "Codec de compression MPEG1 non present sur votre ordinateur ...";
const std::string kVideoFormatFailed = "Erreur de formatage du Stream Video ...";

// The test card's full picture recorded into C:, its files named "C:\VST_s_N.avi": compressed
// from RGB by the "MJPG" compressor, or Motion-JPEG stored as the card delivers it.
struct CardRecording : Recording {
    explicit CardRecording(bool asDelivered = false, int count = 2)
        : frames(recording_test::CardFrames(count, kWidth, kHeight, asDelivered)) {
        input.destination = QStringLiteral("C:\\");
        input.stamp = QStringLiteral("s");
        input.storedAsDelivered = asDelivered;
        input.format =
            recording_test::Bytes(CardFormat(kWidth, kHeight, asDelivered ? kMjpg : BI_RGB));
    }
    // What was told and asked so far, forgotten.
    void Forget() {
        events.texts.clear();
        events.warnings = 0;
        events.stops = 0;
    }
    std::vector<std::vector<BYTE>> frames;
};

// Upright RGB of a bottom-up BGR frame, as ffmpeg decodes it.
QByteArray Rgb(const std::vector<BYTE>& dib) {
    QByteArray rgb;
    for (int y = kHeight - 1; y >= 0; --y)
        for (int x = 0; x < kWidth; ++x)
            for (int c = 2; c >= 0; --c)
                rgb += char(dib[y * platform::DibStride(kWidth) + x * 3 + c]);
    return rgb;
}

double Psnr(const QByteArray& a, const QByteArray& b) {
    double sum = 0;
    for (qsizetype i = 0; i < a.size(); ++i) sum += std::pow(double(BYTE(a[i])) - BYTE(b[i]), 2);
    return sum == 0 ? 99 : 10 * std::log10(255.0 * 255.0 * double(a.size()) / sum);
}

std::vector<char> SoundBytes(int block, DWORD bytes) {
    std::vector<char> sound(bytes);
    for (DWORD i = 0; i < bytes; ++i) sound[i] = char((i * 7 + block * 31) & 0xFF);
    return sound;
}

bool HoldsNothing(const Recorder& recorder) {
    const Recorder::AviOutputFile& out = recorder.Output();
    return !out.File && !out.RawVideoStream && !out.CompressedVideoStream && !out.AudioStream &&
           !out.VideoStreamHeader && !out.AudioStreamHeader && !out.CompressOptions &&
           !out.AudioFormat && !out.ServiceStarted && !recorder.VideoTarget();
}

// ---- files as players see them ----

// Frame k at position k, a frame missed while the program was held made up by the next one
// written twice, and each buffer's whole samples after the last one's (its odd bytes left out:
// the service refuses a write that ends inside a sample), in a track of 44,100 Hz stereo
// whatever the capture's sound. FileBytes counts what the service wrote.
TEST(AviOutput, TheFileHoldsEveryFrameAndBufferInPlace) {
    for (const bool asDelivered : {false, true}) {
        SCOPED_TRACE(asDelivered ? "stored as delivered" : "compressed");
        CardRecording rec(asDelivered, 5);
        rec.input.framePeriodUs = 40'000;
        ASSERT_TRUE(rec.Start());
        const DWORD times[] = {0, 40, 80, 160, 200};  // 120 missed
        std::vector<std::vector<char>> sounds;
        for (int n = 0; n < 5; ++n) {
            rec.Frame(rec.frames[n], times[n]);
            sounds.push_back(SoundBytes(n, 7058));
            rec.Sound(sounds.back());
        }
        const std::uint32_t fileBytes = rec.State().FileBytes;
        rec.Finish();
        EXPECT_TRUE(rec.events.texts.empty());
        EXPECT_TRUE(HoldsNothing(rec.recorder));

        const QString path = rec.HostFile(0);
        const QJsonArray streams = Streams(path);
        ASSERT_EQ(streams.size(), 2);
        const QJsonObject video = streams[0].toObject(), audio = streams[1].toObject();
        EXPECT_EQ(Text(video["codec_name"]), "mjpeg");
        EXPECT_EQ(Text(video["codec_tag_string"]), "MJPG");
        EXPECT_EQ(Text(video["r_frame_rate"]), "25/1");
        EXPECT_EQ(Text(video["nb_frames"]), "6");
        EXPECT_EQ(Text(video["nb_read_frames"]), "6");
        EXPECT_EQ(Text(audio["codec_name"]), "pcm_s16le");
        EXPECT_EQ(Text(audio["sample_rate"]), "44100");
        EXPECT_EQ(audio["channels"].toInt(), 2);
        ExpectCleanDecode(path);
        EXPECT_EQ(recording_test::PacketBytes(path), fileBytes);

        const int sources[] = {0, 1, 2, 3, 3, 4};
        if (asDelivered) {
            QByteArray delivered;
            for (const int s : sources) {
                delivered.append(reinterpret_cast<const char*>(rec.frames[s].data()),
                                 qsizetype(rec.frames[s].size()));
            }
            EXPECT_EQ(recording_test::Decoded(path, {"-map", "0:v", "-c", "copy", "-f", "mjpeg"}),
                      delivered);
        } else {
            const QByteArray pictures = recording_test::Decoded(
                path, {"-map", "0:v", "-f", "rawvideo", "-pix_fmt", "rgb24"});
            const qsizetype bytes = kWidth * kHeight * 3;
            ASSERT_EQ(pictures.size(), 6 * bytes);
            for (int i = 0; i < 6; ++i) {
                EXPECT_GE(Psnr(pictures.mid(i * bytes, bytes), Rgb(rec.frames[sources[i]])), 40)
                    << "position " << i;
            }
            EXPECT_EQ(pictures.mid(3 * bytes, bytes), pictures.mid(4 * bytes, bytes));
        }
        QByteArray sound;
        for (const auto& s : sounds) sound.append(s.data(), 7056);
        EXPECT_EQ(DecodedSound(path), sound);
    }
}

// ---- the probe ----

// A compressor under "DIVX" (the platform has none): `throwOnQuery` makes one whose format
// question fails inside the call.
class FakeDivx {
  public:
    explicit FakeDivx(bool throwOnQuery) {
        platform::CodecRegistration registration;
        registration.info.fccHandler = MAKEFOURCC('D', 'I', 'V', 'X');
        registration.open = [throwOnQuery](UINT) -> std::unique_ptr<platform::VideoCodec> {
            return std::make_unique<Codec>(throwOnQuery);
        };
        previous_ = platform::InstallCodec(registration);
    }
    ~FakeDivx() {
        platform::CodecRegistration none;
        none.info.fccHandler = MAKEFOURCC('D', 'I', 'V', 'X');
        platform::InstallCodec(previous_.open ? previous_ : none);
    }

  private:
    struct Codec : platform::VideoCodec {
        explicit Codec(bool t) : throwOnQuery(t) {}
        LRESULT Message(UINT message, DWORD_PTR, DWORD_PTR) override {
            if (throwOnQuery && message == ICM_COMPRESS_QUERY) throw std::bad_alloc();
            return ICERR_UNSUPPORTED;
        }
        bool throwOnQuery;
    };
    platform::CodecRegistration previous_;
};

TEST(AviOutput, ProbeFindsTheCompressorsTheMachineHasAndLeavesItsFile) {
    Recording rec;
    const DWORD divx = MAKEFOURCC('D', 'I', 'V', 'X');
    EXPECT_EQ(ProbeCompressor(kMjpg), AVIERR_OK);
    EXPECT_TRUE(QFile::exists(QStringLiteral("Null.avi")));
    EXPECT_NE(ProbeCompressor(divx), AVIERR_OK);
    {
        FakeDivx installed(false);
        EXPECT_EQ(ProbeCompressor(divx), AVIERR_OK);
    }
    rec.machine.description.codecs = {{"MJPG", false}};
    platform::SetMachine(rec.machine.description);
    EXPECT_NE(ProbeCompressor(kMjpg), AVIERR_OK);
}

// ---- failures ----

// A file that cannot be opened, or that the open leaves unable to take a frame, stops the
// capture, since nothing could be written, and is not left behind; the frames and buffers still
// to come count nothing. A compressor that cannot take the stream is told with the file and the
// reason (the memory a fault stands for), without the warning sound; a missing one keeps its
// file, which can take nothing, until the close.
TEST(AviOutput, AFileThatCannotTakeAFrameStopsTheCaptureAndIsNotLeft) {
    CardRecording rec;
    const std::string folder = rec.directory.directory.path().toStdString();
    ASSERT_EQ(symlink("elsewhere.avi", (folder + "/VST_link_0.avi").c_str()), 0);
    const std::vector<BYTE> rgb = rec.input.format;
    const std::vector<BYTE> eightBits =
        recording_test::Bytes(CardFormat(kWidth, kHeight, BI_RGB, 8));
    const std::string opened = kOpenFailed + "\n", codec = kCodecMissing + "\n" + folder;
    const struct {
        const char* stamp;
        const char* destination;
        std::vector<BYTE> format;
        const char* compressor;
        bool fault;  // the compressor fails inside its call
        std::string told;
        bool warning;
        bool kept;  // the file held until the close
    } cases[] = {
        {"absent", "C:\\absent\\", rgb, "MJPG", false,
         opened + folder + "/absent/VST_absent_0.avi : dossier introuvable", true, false},
        {"link", "C:\\", rgb, "MJPG", false,
         opened + folder + "/VST_link_0.avi : ce n'est pas un fichier", true, false},
        {"drive", "Q:\\", rgb, "MJPG", false, opened + "Q:\\VST_drive_0.avi : lecteur introuvable",
         true, false},
        {"refused", "C:\\", eightBits, "MJPG", false, kVideoFormatFailed, true, false},
        {"none", "C:\\", {}, "MJPG", false, kVideoFormatFailed, true, false},
        {"divx", "C:\\", rgb, "DIVX", false, codec + "/VST_divx_0.avi : la capture est arrêtée ...",
         false, true},
        {"fault", "C:\\", rgb, "DIVX", true,
         codec + "/VST_fault_0.avi : mémoire insuffisante : la capture est arrêtée ...", false,
         false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.stamp);
        rec.Forget();
        rec.input.stamp = QString::fromLatin1(c.stamp);
        rec.input.destination = QString::fromLatin1(c.destination);
        rec.input.format = c.format;
        rec.input.compressor = QString::fromLatin1(c.compressor);
        std::optional<FakeDivx> divx;
        if (c.fault) divx.emplace(true);
        ASSERT_TRUE(rec.Start());
        rec.Frame(rec.frames[0]);
        EXPECT_EQ(rec.recorder.Output().File != nullptr, c.kept);
        rec.Frame(rec.frames[1]);
        rec.Sound(7056);
        EXPECT_EQ(rec.State().FileVideoFrames + rec.State().FileAudioBlocks, 0);
        EXPECT_EQ(rec.State().CaptureFrames + rec.State().FileBytes, 0u);
        rec.Finish();
        EXPECT_EQ(rec.events.texts, std::vector<std::string>{c.told});
        EXPECT_EQ(rec.events.warnings, c.warning ? 1 : 0);
        EXPECT_EQ(rec.events.stops, 1);
        EXPECT_TRUE(HoldsNothing(rec.recorder));
        EXPECT_FALSE(QFile::exists(rec.HostFile(0)));
    }
    EXPECT_FALSE(QFile::exists(QString::fromStdString(folder + "/elsewhere.avi")))
        << "written through the link";
}

// The limits a test lowers, put back however it ends.
struct LoweredLimits {
    LoweredLimits() : action(std::signal(SIGXFSZ, SIG_IGN)) { getrlimit(RLIMIT_FSIZE, &files); }
    ~LoweredLimits() {
        Restore();
        std::signal(SIGXFSZ, action);
    }
    void FileSize(rlim_t bytes) const {
        const rlimit limit{bytes, files.rlim_max};
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    void Restore() const {
        setrlimit(RLIMIT_FSIZE, &files);
        platform::SetAviWriterLimits({});
    }
    void (*action)(int);
    rlimit files{};
};

// A write the disk refuses (a full disk, the file size limit of `ulimit -f`, the AVI 1.0 limit
// lowered so a test reaches it) used to be counted and passed over: the capture went on, the log
// said 750 frames where the file held 14. Now the capture is stopped at the first refused frame
// or buffer, nothing more is written, the log tells what the file holds, and once the capture has
// ended one message names the files that hold it. A file that took nothing is removed and not
// logged.
TEST(AviOutput, AWriteTheDiskRefusesEndsTheCaptureAndTheLogTellsWhatTheFileHolds) {
    const std::string full = "disque plein", limit = "taille maximale d'un fichier AVI atteinte";
    const std::string inFirst = ". L'enregistrement est dans le fichier \"C:\\VST_s_0.avi\" ...";
    const struct {
        const char* name;
        int rollOvers;
        rlim_t fileLimit;        // ulimit -f in bytes; 0: none
        std::uint64_t aviLimit;  // of the files opened after the roll-overs; 0: none
        DWORD soundBytes;        // each buffer's: whether a frame or a buffer is refused first
        int error;
        bool empty;
        std::string reason;
        std::string recorded;  // where the capture is, after "la capture est arrêtée"
    } cases[] = {
        {"ulimit -f", 0, 2'000'000, 0, 17640, EFBIG, false, full, inFirst},
        {"AVI 1.0 limit", 0, 0, 1'000'000, 176'400, kFileAviLimit, false, limit, inFirst},
        {"not even a frame", 0, 600, 0, 17640, EFBIG, true, full,
         " et rien n'a pu être enregistré ..."},
        {"a roll-over's file", 1, 0, 1, 17640, kFileAviLimit, true, limit, inFirst},
        {"the fourth file", 3, 0, 1, 17640, kFileAviLimit, true, limit,
         ". L'enregistrement est dans les fichiers \"C:\\VST_s_0.avi\" à "
         "\"C:\\VST_s_2.avi\" ..."},
    };
    const LoweredLimits limits;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        CardRecording rec(false, 1);
        std::vector<BYTE>& frame = rec.frames[0];
        std::vector<char> sound(c.soundBytes);
        ASSERT_TRUE(rec.Start());
        for (int n = 0; n < c.rollOvers; ++n) {
            rec.Frame(frame);
            rec.RollOver();
        }
        if (c.aviLimit != 0) platform::SetAviWriterLimits({c.aviLimit, true});
        if (c.fileLimit != 0) limits.FileSize(c.fileLimit);
        // Frames and buffers until one is refused: that one stops the capture.
        for (int n = 0; n < 1000 && rec.recorder.LastResult() == AVIERR_OK; ++n) {
            rec.Frame(frame);
            if (rec.recorder.LastResult() == AVIERR_OK) rec.Sound(sound);
        }
        ASSERT_EQ(rec.events.stops, 1) << "stopped as the abort key stops";
        EXPECT_EQ(rec.State().WriteFailed.Error, c.error);
        const std::int32_t held = rec.State().FileVideoFrames;
        fprintf(stderr, "DEBUG %s held %d blocks %d bytes %u frame %zu\n", c.name, held,
                rec.State().FileAudioBlocks, rec.State().FileBytes, frame.size());
        const std::uint32_t bytes = rec.State().FileBytes;
        rec.Frame(frame);
        rec.Sound(sound);
        EXPECT_EQ(rec.State().FileVideoFrames, held) << "nothing is written after the refusal";
        EXPECT_EQ(rec.State().FileBytes, bytes);
        EXPECT_EQ(rec.events.stops, 1);
        EXPECT_TRUE(rec.events.texts.empty()) << "said once the capture has ended";
        rec.Finish();
        limits.Restore();

        EXPECT_EQ(rec.events.texts,
                  std::vector<std::string>{"Écriture impossible sur le disque de destination (" +
                                           c.reason + ") : la capture est arrêtée" + c.recorded});
        const qsizetype blocks = c.rollOvers + (c.empty ? 0 : 1);
        ASSERT_EQ(rec.Log().size(), blocks * kLogBlockLines);
        if (rec.Log().isEmpty()) {
            EXPECT_TRUE(recording_test::ReadAll(QStringLiteral("CapLog.txt")).isEmpty());
        }
        const QString failed = rec.HostFile(rec.State().FileIndex);
        EXPECT_EQ(QFile::exists(failed), !c.empty);
        if (c.empty) continue;
        EXPECT_EQ(rec.Log().value(3).toStdString(), "Cp Video     : " + std::to_string(held));
        EXPECT_GT(held, 2);
        EXPECT_EQ(FramesRead(failed), std::to_string(held));
        ExpectCleanDecode(failed);
    }
}

// ---- files never abandoned ----

// A roll-over after a single frame opens the next file over the full one, which is completed
// then; the last file, still open when the recording goes, is completed as it goes.
TEST(AviOutput, AFileStillOpenIsCompletedWhenTheNextOpensOrTheRecordingGoes) {
    CardRecording rec;
    ASSERT_TRUE(rec.Start());
    rec.Frame(rec.frames[0]);
    rec.RollOver();
    rec.Frame(rec.frames[0]);
    rec.Frame(rec.frames[1]);
    const QString files[] = {rec.HostFile(0), rec.HostFile(1)};
    rec.owned.reset();
    for (const auto& [file, count] : {std::pair{files[0], "1"}, {files[1], "2"}}) {
        EXPECT_EQ(Text(Streams(file).at(0).toObject()["nb_frames"]), count) << "headers completed";
        ExpectCleanDecode(file);
    }
}

TEST(AviOutput, RecordingAFrameOrABufferAllocatesNothing) {
    CardRecording rec;
    rec.input.framePeriodUs = 40'000;
    std::vector<char> sound(7056);
    ASSERT_TRUE(rec.Start());
    rec.Frame(rec.frames[0], 0);  // the first write lays the headers out
    rec.Sound(sound);
    // The compressor's working memory included: libjpeg's is kept from frame to frame.
    const long before = alloc_counter::Allocations(), mallocsBefore = alloc_counter::Mallocs();
    DWORD time = 0;
    for (int n = 1; n <= 60; ++n) {
        time += n % 5 == 0 ? 80 : 40;  // every fifth frame follows a missed one
        rec.Frame(rec.frames[n % 2], time);
        rec.Sound(sound);
    }
    EXPECT_EQ(alloc_counter::Allocations(), before);
    EXPECT_EQ(alloc_counter::Mallocs(), mallocsBefore);
    EXPECT_EQ(rec.State().InsertCount, 12u);
    EXPECT_EQ(rec.recorder.LastResult(), 0);
}

// Run again as a child (the same test, told by its environment), the process writes until the
// parent kills it; what it wrote plays.
TEST(AviOutput, KilledWhileWritingLeavesAPlayableFile) {
    if (const char* folder = std::getenv("AVI_OUTPUT_CHILD")) {
        const pid_t parent = getppid();
        CardRecording rec;
        rec.directory.directory.remove();  // this run's own folder: the parent's is written
        rec.machine.description.drives['C'] = {DRIVE_FIXED, folder};
        platform::SetMachine(rec.machine.description);
        std::vector<char> sound(7056);
        rec.Start();
        for (int n = 1; n < 3000 && getppid() == parent; ++n) {
            rec.Frame(rec.frames[n % 2]);
            rec.Sound(sound);
            if (n % 25 == 0) std::printf("frames %d\n", n);
            std::fflush(stdout);
        }
        _exit(0);
    }
    QTemporaryDir dir;
    QProcess child;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("AVI_OUTPUT_CHILD", dir.path());
    child.setProcessEnvironment(environment);
    child.start("/proc/self/exe",
                {"--gtest_filter=AviOutput.KilledWhileWritingLeavesAPlayableFile"});
    int frames = 0;
    while (frames < 150 && child.waitForReadyRead(60000))
        while (child.canReadLine()) std::sscanf(child.readLine().constData(), "frames %d", &frames);
    ASSERT_GE(frames, 150);
    child.kill();
    ASSERT_TRUE(child.waitForFinished(10000));
    EXPECT_EQ(child.exitStatus(), QProcess::CrashExit);
    const QString path = dir.filePath("VST_s_0.avi");
    const QJsonArray streams = Streams(path);
    ASSERT_EQ(streams.size(), 2);
    EXPECT_GE(std::stoi(Text(streams[0].toObject()["nb_read_frames"])), 100);
    EXPECT_EQ(Text(streams[1].toObject()["codec_name"]), "pcm_s16le");
    ExpectCleanDecode(path);
}

// ---- a whole capture on the test card ----

Recorder* onCard = nullptr;
LRESULT OnFrame(HWND, LPVIDEOHDR frame) {
    onCard->Frame(*frame);
    return 1;
}
LRESULT OnSound(HWND, LPWAVEHDR buffer) {
    onCard->Sound(*buffer);
    return 1;
}
LRESULT OnStatus(HWND, int, LPCSTR) {
    return 1;
}

// A card whose picture runs 5% fast against its sound is held in step by dropped frames, where
// uncorrected it would end 1.5 s ahead; its file holds what was counted.
TEST(OnTheTestCard, AFastCardIsHeldInStepByDroppedFramesAndItsFilePlays) {
    Recording rec;
    rec.machine.description.drivers[0]->skewPpm = 50'000;
    rec.machine.description.user.virtualClock = true;
    platform::SetMachine(rec.machine.description);
    QWidget parent;
    const HWND window = capCreateCaptureWindowA("video", WS_CHILD | WS_VISIBLE, 0, 0, kWidth,
                                                kHeight, platform::HandleOf(&parent), 1);
    ASSERT_NE(SendMessageA(window, WM_CAP_DRIVER_CONNECT, 0, 0), 0);
    WAVEFORMATEX sound{WAVE_FORMAT_PCM, 2, 44100, 176'400, 4, 16, 0};
    SendMessageA(window, WM_CAP_SET_AUDIOFORMAT, sizeof sound, reinterpret_cast<LPARAM>(&sound));
    CAPTUREPARMS parms{};
    SendMessageA(window, WM_CAP_GET_SEQUENCE_SETUP, sizeof parms, reinterpret_cast<LPARAM>(&parms));
    parms.dwRequestMicroSecPerFrame = 40'000;
    parms.fLimitEnabled = TRUE;
    parms.wTimeLimit = 30;
    SendMessageA(window, WM_CAP_SET_SEQUENCE_SETUP, sizeof parms, reinterpret_cast<LPARAM>(&parms));
    SendMessageA(window, WM_CAP_SET_CALLBACK_STATUSA, 0, reinterpret_cast<LPARAM>(&OnStatus));
    SendMessageA(window, WM_CAP_SET_CALLBACK_VIDEOSTREAM, 0, reinterpret_cast<LPARAM>(&OnFrame));
    SendMessageA(window, WM_CAP_SET_CALLBACK_WAVESTREAM, 0, reinterpret_cast<LPARAM>(&OnSound));
    rec.input.format.resize(SendMessageA(window, WM_CAP_GET_VIDEOFORMAT, 0, 0));
    SendMessageA(window, WM_CAP_GET_VIDEOFORMAT, rec.input.format.size(),
                 reinterpret_cast<LPARAM>(rec.input.format.data()));
    rec.input.storedAsDelivered = false;
    rec.input.framePeriodUs = 40'000;
    rec.input.soundBytesPerSecond = 176'400;
    ASSERT_TRUE(rec.Start());
    onCard = &rec.recorder;
    SendMessageA(window, WM_CAP_SEQUENCE_NOFILE, 0, 0);
    rec.Finish();

    const RecordingState& state = rec.State();
    EXPECT_EQ(state.AudioTimeMs, 30'000);
    EXPECT_LT(std::abs(state.Drift), 600);
    EXPECT_GT(state.DropCount, 20u);
    EXPECT_EQ(state.InsertCount, 0u);
    EXPECT_EQ(rec.Log().size(), kLogBlockLines);
    EXPECT_TRUE(rec.events.texts.empty());
    const QString path = rec.HostFile(0);
    const QJsonArray streams = Streams(path);
    ASSERT_EQ(streams.size(), 2);
    EXPECT_EQ(Text(streams[0].toObject()["nb_read_frames"]), std::to_string(state.FileVideoFrames));
    EXPECT_EQ(DecodedSound(path).size(), qsizetype(state.CaptureSoundBytes));
    EXPECT_EQ(recording_test::PacketBytes(path), state.FileBytes);
    ExpectCleanDecode(path);
}

}  // namespace
