// The recording's AVI file, written by a Recorder and read back by ffprobe and ffmpeg.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QListWidget>
#include <QProcess>
#include <QTemporaryDir>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <optional>

#include "platform/avi/avi_writer.h"
#include "platform/avifile.h"
#include "platform/capture/testcard.h"
#include "platform/codec/compman_internal.h"
#include "platform/files.h"
#include "tests/fakes/form_under_test.h"
#include "tests/support/alloc_counter.h"
#include "tests/support/recorder_internals.h"

namespace {

constexpr int kWidth = 384;
constexpr int kHeight = 288;
constexpr DWORD kMjpg = MAKEFOURCC('M', 'J', 'P', 'G');
const std::string kOpenFailed = "Erreur d'ouverture fichier ...";
const std::string kCodecMissing = "Codec de compression MPEG1 non present sur votre ordinateur ...";
const std::string kVideoFormatFailed = "Erreur de formatage du Stream Video ...";

// ---- frames, sound, tools ----

BITMAPINFOHEADER Format(DWORD compression, WORD bits = 24) {
    BITMAPINFOHEADER format{};
    format.biSize = sizeof format;
    format.biWidth = kWidth;
    format.biHeight = kHeight;
    format.biPlanes = 1;
    format.biBitCount = bits;
    format.biCompression = compression;
    format.biSizeImage = platform::DibStride(kWidth) * kHeight;
    return format;
}

// Test-card frames with picture noise, as an analogue card delivers them.
std::vector<std::vector<BYTE>> Frames(int count, bool jpeg = false) {
    platform::TestCardVideo card({kWidth, kHeight, jpeg, 10});
    std::vector<std::vector<BYTE>> frames;
    for (int n = 0; n < count; ++n) {
        const std::span<BYTE> bytes = card.Render(static_cast<std::uint32_t>(n), false);
        frames.emplace_back(bytes.begin(), bytes.end());
    }
    return frames;
}

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

std::vector<char> Sound(int block, DWORD bytes) {
    std::vector<char> sound(bytes);
    for (DWORD i = 0; i < bytes; ++i) sound[i] = char((i * 7 + block * 31) & 0xFF);
    return sound;
}

std::string Text(const QJsonValue& value) {
    return value.toString().toStdString();
}

QByteArray Run(const QStringList& arguments, QByteArray* err = nullptr) {
    QProcess process;
    process.start(arguments[0], arguments.mid(1));
    process.waitForFinished(120000);
    if (err) *err = process.readAllStandardError();
    EXPECT_EQ(process.exitCode(), 0) << arguments.join(' ').toStdString();
    return process.readAllStandardOutput();
}

QJsonObject Probe(const QString& path, const char* what = "-show_streams") {
    return QJsonDocument::fromJson(
               Run({"ffprobe", "-v", "error", "-count_frames", what, "-of", "json", path}))
        .object();
}

void ExpectCleanDecode(const QString& path) {
    QByteArray err;
    Run({"ffmpeg", "-v", "error", "-xerror", "-i", path, "-f", "null", "-"}, &err);
    EXPECT_EQ(err.toStdString(), "");
}

QByteArray Decoded(const QString& path, const QStringList& output) {
    return Run(QStringList{"ffmpeg", "-v", "error", "-i", path} + output + QStringList{"-"});
}

std::uint32_t PacketBytes(const QString& path) {
    std::uint32_t sum = 0;
    for (const auto& p : Probe(path, "-show_packets")["packets"].toArray())
        sum += p.toObject()["size"].toString().toUInt();
    return sum;
}

// ---- fixture: a Recorder on a fake machine, drive T: a folder of its own ----

class AviOutputTest : public ::testing::Test {
  protected:
    void SetUp() override {
        MapDrive(dir.path());
        previousFolder = QDir::currentPath();
        QDir::setCurrent(dir.path());  // the probe leaves its file in the working folder
        input.compressor = "MJPG";
    }
    void TearDown() override {
        if (owned) owned->CloseAviOutput();
        platform::SetAviWriterLimits({});
        QDir::setCurrent(previousFolder);
    }
    void MapDrive(const QString& folder) {
        machine.description.drives['T'] = {DRIVE_FIXED, folder.toStdString()};
        platform::SetMachine(machine.description);
    }
    QString Host(const char* name) const { return dir.filePath(name); }
    // The file opened as a recording's next frame opens it, with `format` as the card's.
    void Open(const std::string& path, const BYTE* format, std::size_t size) {
        input.format.assign(format, format + size);
        RecorderInternals::Input(recorder) = input;
        recorder.OpenAviOutput(path.c_str());
    }
    void Open(const std::string& path, const BITMAPINFOHEADER& format) {
        Open(path, reinterpret_cast<const BYTE*>(&format), sizeof format);
    }
    void Write(std::vector<BYTE>& frame, bool drop = false, bool insert = false) {
        state.DropPending = drop;
        state.InsertPending = insert;
        VIDEOHDR header{frame.data(), DWORD(frame.size()), DWORD(frame.size()), 0, 0, 0, {}};
        recorder.WriteVideoFrame(header);
    }
    void WriteSound(std::vector<char>& sound) {
        WAVEHDR header{sound.data(), DWORD(sound.size()), DWORD(sound.size()), 0, 0, 0, nullptr, 0};
        recorder.WriteAudioBuffer(header);
    }
    bool HoldsNothing() {
        const Recorder::AviOutputFile& out = recorder.Output();
        return !out.File && !out.RawVideoStream && !out.CompressedVideoStream && !out.AudioStream &&
               !out.VideoStreamHeader && !out.AudioStreamHeader && !out.CompressOptions &&
               !out.AudioFormat && !out.ServiceStarted && !recorder.VideoTarget();
    }
    // What was told and asked so far, forgotten.
    void Forget() {
        events.texts.clear();
        events.warnings = 0;
        events.stops = 0;
    }

    QTemporaryDir dir;
    QString previousFolder;
    fakes::FakeMachine machine;
    support::RememberedEvents events;
    std::unique_ptr<Recorder> owned = std::make_unique<Recorder>(events);
    Recorder& recorder = *owned;
    RecordingState& state = RecorderInternals::State(recorder);
    RecordingInput input;
};

// ---- files as players see them ----

TEST_F(AviOutputTest, CompressedRecordingHoldsEveryWriteInPlace) {
    auto frames = Frames(6);
    Open("T:\\rec.avi", Format(BI_RGB));
    ASSERT_TRUE(events.texts.empty());
    EXPECT_NE(recorder.Output().CompressedVideoStream, nullptr);
    EXPECT_EQ(recorder.VideoTarget(), recorder.Output().CompressedVideoStream);
    const DWORD B = 7056;
    std::vector<std::vector<char>> sounds;
    for (int n = 0; n < 6; ++n) {
        const std::uint32_t bytesBefore = state.FileBytes;
        const std::int32_t framesBefore = state.FileVideoFrames;
        Write(frames[n], n == 4, n == 3);  // 3 doubled, 4 dropped
        EXPECT_FALSE(state.DropPending || state.InsertPending);
        if (n == 4) {
            EXPECT_EQ(state.FileBytes, bytesBefore) << "a dropped frame writes nothing";
            EXPECT_EQ(state.FileVideoFrames, framesBefore);
        }
        sounds.push_back(Sound(n, B));
        WriteSound(sounds.back());
        EXPECT_EQ(recorder.LastResult(), 0);
    }
    EXPECT_EQ(state.FileVideoFrames, 6);
    EXPECT_EQ(state.CaptureFrames, 6u);
    EXPECT_EQ(state.FileAudioBlocks, 6);
    const std::uint32_t fileBytes = state.FileBytes;
    recorder.CloseAviOutput();
    EXPECT_TRUE(HoldsNothing());

    const QString path = Host("rec.avi");
    const QJsonArray streams = Probe(path)["streams"].toArray();
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
    EXPECT_EQ(PacketBytes(path), fileBytes) << "FileBytes counts what the service wrote";

    const QByteArray pictures =
        Decoded(path, {"-map", "0:v", "-f", "rawvideo", "-pix_fmt", "rgb24"});
    const qsizetype frameBytes = kWidth * kHeight * 3;
    ASSERT_EQ(pictures.size(), 6 * frameBytes);
    const int sources[] = {0, 1, 2, 3, 3, 5};
    for (int i = 0; i < 6; ++i)
        EXPECT_GE(Psnr(pictures.mid(i * frameBytes, frameBytes), Rgb(frames[sources[i]])), 40)
            << "position " << i;
    EXPECT_EQ(pictures.mid(3 * frameBytes, frameBytes), pictures.mid(4 * frameBytes, frameBytes));

    // Buffer k starts at sample k * B / 4: the decoded sound is the buffers end to end.
    QByteArray expected;
    for (const auto& s : sounds) expected.append(s.data(), qsizetype(s.size()));
    EXPECT_EQ(Decoded(path, {"-map", "0:a", "-f", "s16le"}), expected);
}

TEST_F(AviOutputTest, MotionJpegFromTheCardIsStoredAsDelivered) {
    input.storedAsDelivered = true;
    auto frames = Frames(3, true);
    Open("T:\\mjpg.avi", Format(kMjpg));
    ASSERT_TRUE(events.texts.empty());
    EXPECT_EQ(recorder.Output().CompressedVideoStream, nullptr);
    EXPECT_EQ(recorder.VideoTarget(), recorder.Output().RawVideoStream);
    std::uint32_t jpegBytes = 0;
    for (auto& frame : frames) {
        Write(frame);
        jpegBytes += std::uint32_t(frame.size());
    }
    EXPECT_EQ(state.FileBytes, jpegBytes);
    recorder.CloseAviOutput();
    EXPECT_TRUE(HoldsNothing());

    const QJsonArray streams = Probe(Host("mjpg.avi"))["streams"].toArray();
    ASSERT_EQ(streams.size(), 2);
    EXPECT_EQ(Text(streams[0].toObject()["codec_tag_string"]), "MJPG");
    EXPECT_EQ(Text(streams[0].toObject()["nb_read_frames"]), "3");
    QByteArray delivered;
    for (auto& frame : frames)
        delivered.append(reinterpret_cast<char*>(frame.data()), qsizetype(frame.size()));
    EXPECT_EQ(Decoded(Host("mjpg.avi"), {"-map", "0:v", "-c", "copy", "-f", "mjpeg"}), delivered);
    ExpectCleanDecode(Host("mjpg.avi"));
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

TEST_F(AviOutputTest, ProbeFindsTheCompressorsTheMachineHasAndLeavesItsFile) {
    const DWORD divx = MAKEFOURCC('D', 'I', 'V', 'X');
    QFile::remove("Null.avi");
    EXPECT_EQ(ProbeCompressor(kMjpg), AVIERR_OK);
    EXPECT_TRUE(QFile::exists(dir.filePath("Null.avi")));
    EXPECT_NE(ProbeCompressor(divx), AVIERR_OK);
    {
        FakeDivx installed(false);
        EXPECT_EQ(ProbeCompressor(divx), AVIERR_OK);
    }
    machine.description.codecs = {{"MJPG", false}};
    platform::SetMachine(machine.description);
    EXPECT_NE(ProbeCompressor(kMjpg), AVIERR_OK);
    EXPECT_TRUE(HoldsNothing());
    EXPECT_TRUE(events.texts.empty()) << "a probe failure is silent";
    EXPECT_EQ(unsigned(events.warnings), 0u);
}

// ---- failures ----

// A file that cannot be opened, or that the open leaves unable to take a frame, stops the
// capture, since nothing could be written; the file named is left as nothing: no file.
TEST_F(AviOutputTest, FailedOpenReportsReleasesAllAndStopsTheCapture) {
    struct Case {
        const char* what;
        std::string path;
        const BITMAPINFOHEADER* format;
        std::string message;
    };
    const BITMAPINFOHEADER rgb = Format(BI_RGB), eightBits = Format(BI_RGB, 8);
    const std::string folder = dir.path().toStdString();
    ASSERT_EQ(symlink("elsewhere.avi", (folder + "/link.avi").c_str()), 0);
    const std::string opened = std::string(kOpenFailed) + "\n";
    const Case cases[] = {
        {"missing folder", "T:\\absent\\x.avi", &rgb,
         opened + folder + "/absent/x.avi : dossier introuvable"},
        {"a link", "T:\\link.avi", &rgb, opened + folder + "/link.avi : ce n'est pas un fichier"},
        {"no such drive", "Q:\\x.avi", &rgb, opened + "Q:\\x.avi : lecteur introuvable"},
        {"format the compressor refuses", "T:\\8.avi", &eightBits, kVideoFormatFailed},
        {"no format at all", "T:\\none.avi", nullptr, kVideoFormatFailed}};
    for (const Case& c : cases) {
        Forget();
        Open(c.path, reinterpret_cast<const BYTE*>(c.format),
             c.format ? sizeof(BITMAPINFOHEADER) : 0);
        EXPECT_EQ(events.texts, std::vector<std::string>{c.message}) << c.what;
        EXPECT_EQ(events.warnings, 1) << c.what << ": with the warning sound";
        EXPECT_NE(recorder.LastResult(), 0) << c.what;
        EXPECT_TRUE(HoldsNothing()) << c.what;
        EXPECT_FALSE(events.stops == 0) << c.what;
    }
    EXPECT_FALSE(QFile::exists(Host("8.avi")) || QFile::exists(Host("none.avi")));
    EXPECT_FALSE(QFile::exists(dir.path() + "/elsewhere.avi")) << "written through the link";
}

// A compressor that cannot take the stream: the codec text names the file and the reason (the
// memory a fault stands for), the capture stops, writes count nothing, and the file, which can
// take nothing, is gone once released. A missing compressor keeps its file until the close.
TEST_F(AviOutputTest, ACompressorThatFailsStopsTheCaptureAndLeavesNoFile) {
    const struct {
        const char* file;
        bool fault;
        std::string cost;
    } cases[] = {{"divx.avi", false, " : la capture est arrêtée ..."},
                 {"fault.avi", true, " : mémoire insuffisante : la capture est arrêtée ..."}};
    input.compressor = "DIVX";
    auto frames = Frames(1);
    auto sound = Sound(0, 7056);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        std::optional<FakeDivx> divx;
        if (c.fault) divx.emplace(true);
        Forget();
        Open(std::string("T:\\") + c.file, Format(BI_RGB));
        EXPECT_EQ(events.texts, std::vector<std::string>{kCodecMissing + "\n" +
                                                         Host(c.file).toStdString() + c.cost});
        EXPECT_EQ(unsigned(events.warnings), 0u);
        EXPECT_FALSE(events.stops == 0);
        const Recorder::AviOutputFile& out = recorder.Output();
        EXPECT_EQ(out.File && out.RawVideoStream, !c.fault);
        EXPECT_FALSE(out.CompressedVideoStream || recorder.VideoTarget());
        Write(frames[0], false, true);
        WriteSound(sound);
        EXPECT_EQ(state.FileVideoFrames + state.FileAudioBlocks, 0);
        EXPECT_EQ(state.CaptureFrames + state.FileBytes, 0u);
        recorder.CloseAviOutput();
        EXPECT_TRUE(HoldsNothing());
        recorder.CloseAviOutput();  // a second close releases nothing
        EXPECT_FALSE(QFile::exists(Host(c.file)));
    }
}

// A write the disk refuses (a full disk, the file size limit of `ulimit -f`, the AVI 1.0 limit
// lowered so a test reaches it) used to be counted and passed over: the capture went on, the log
// said 750 frames where the file held 14. Now the capture is stopped at once, nothing more is
// written, the log tells what the file holds and one message names the file; a file that took
// nothing is removed.
TEST_F(AviOutputTest, AWriteTheDiskRefusesEndsTheCaptureAndTheLogTellsWhatTheFileHolds) {
    const struct {
        const char* name;
        rlim_t fileLimit;  // 0: none
        std::uint64_t aviLimit;
        bool empty;
        int error;
        const char* reason;
    } cases[] = {{"ulimit -f", 2'000'000, 0x7FFFFFFF, false, EFBIG, "disque plein"},
                 {"AVI 1.0 limit", 0, 2'000'000, false, kFileAviLimit,
                  "taille maximale d'un fichier AVI atteinte"},
                 {"not even a frame", 600, 0x7FFFFFFF, true, EFBIG, "disque plein"}};
    const auto previousAction = std::signal(SIGXFSZ, SIG_IGN);
    rlimit previousLimit{};
    getrlimit(RLIMIT_FSIZE, &previousLimit);
    auto frames = Frames(1);
    auto sound = Sound(0, 17640);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Forget();
        events.log.clear();
        state.WriteFailed = {};
        platform::SetAviWriterLimits({c.aviLimit, true});
        std::strcpy(state.CurrentFilePath.data(), "T:\\full.avi");
        Open("T:\\full.avi", Format(BI_RGB));
        state.FileOpen = true;
        state.FileVideoFrames = state.FileAudioBlocks = 0;
        state.FileBytes = 0;
        if (c.fileLimit != 0) {
            const rlimit limit{c.fileLimit, previousLimit.rlim_max};
            setrlimit(RLIMIT_FSIZE, &limit);
        }
        for (int n = 0; n < 100 && !state.WriteFailed.Met; ++n) {
            Write(frames[0]);
            WriteSound(sound);
        }
        ASSERT_TRUE(state.WriteFailed.Met);
        EXPECT_EQ(state.WriteFailed.Error, c.error);
        const std::int32_t held = state.FileVideoFrames;
        const std::uint32_t bytes = state.FileBytes;
        Write(frames[0]);
        WriteSound(sound);
        EXPECT_EQ(state.FileVideoFrames, held) << "nothing is written after the refusal";
        EXPECT_EQ(state.FileBytes, bytes);
        EXPECT_EQ(std::size_t(events.stops), 1u) << "stopped as the abort key stops";
        EXPECT_TRUE(events.texts.empty()) << "said once the capture has ended";
        recorder.Finish(0);
        setrlimit(RLIMIT_FSIZE, &previousLimit);
        // A file that took nothing is removed, and the log names only files that exist.
        ASSERT_EQ(events.log.size(), c.empty ? 0 : 10);
        if (!c.empty) {
            EXPECT_EQ(events.log[3].toStdString(), "Cp Video     : " + std::to_string(held));
        }
        const std::string cause = "Écriture impossible sur le disque de destination (" +
                                  std::string(c.reason) + ") : la capture est arrêtée";
        EXPECT_EQ(
            events.texts,
            std::vector<std::string>{
                c.empty ? cause + " et rien n'a pu être enregistré ..."
                        : cause + ". L'enregistrement est dans le fichier \"T:\\full.avi\" ..."});
        EXPECT_EQ(QFile::exists(Host("full.avi")), !c.empty);
        if (c.empty) continue;
        EXPECT_GT(held, 2);
        const QJsonObject video = Probe(Host("full.avi"))["streams"].toArray()[0].toObject();
        EXPECT_EQ(Text(video["nb_read_frames"]), std::to_string(held));
        ExpectCleanDecode(Host("full.avi"));
    }
    std::signal(SIGXFSZ, previousAction);
}

// A disk that fills at a roll-over's new file: that file, empty, is removed and not logged; the
// message names the files that hold the capture.
TEST_F(AviOutputTest, ADiskFullAtARollOverNamesTheFilesThatHoldTheCapture) {
    const struct {
        std::uint16_t index;
        std::string files;
    } cases[] = {{1, "dans le fichier \"T:\\VST_s_0.avi\""},
                 {3, "dans les fichiers \"T:\\VST_s_0.avi\" à \"T:\\VST_s_2.avi\""}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.index);
        Forget();
        events.log.clear();
        RecorderInternals::Input(recorder).destination = "T:\\";
        RecorderInternals::Input(recorder).stamp = "s";
        state.FileIndex = c.index;
        state.FullFileWaiting = false;
        RecorderInternals::BuildFilePath(recorder);
        state.WriteFailed = {true, ENOSPC, recorder.FilePathOf(c.index), true};
        recorder.Finish(0);
        EXPECT_EQ(events.log.size(), 0) << "no block for the removed file";
        EXPECT_EQ(events.texts,
                  std::vector<std::string>{
                      "Écriture impossible sur le disque de destination (disque plein) : la "
                      "capture est arrêtée. L'enregistrement est " +
                      c.files + " ..."});
    }
}

// ---- files never abandoned ----

TEST_F(AviOutputTest, FileStillOpenAtTheNextOpenOrWhenTheRecordingGoesIsCompleted) {
    auto frames = Frames(2);
    Open("T:\\first.avi", Format(BI_RGB));
    Write(frames[0]);
    Open("T:\\second.avi", Format(BI_RGB));  // a roll-over after a single frame
    Write(frames[0]);
    Write(frames[1]);
    owned.reset();
    for (const auto& [name, count] : {std::pair{"first.avi", "1"}, {"second.avi", "2"}}) {
        const QJsonObject video = Probe(Host(name))["streams"].toArray()[0].toObject();
        EXPECT_EQ(Text(video["nb_frames"]), count) << name << ": headers completed";
        ExpectCleanDecode(Host(name));
    }
}

TEST_F(AviOutputTest, WritingAllocatesNothing) {
    auto frames = Frames(2);
    auto sound = Sound(0, 7056);
    Open("T:\\alloc.avi", Format(BI_RGB));
    Write(frames[0]);  // the first write lays the headers out
    WriteSound(sound);
    // The compressor's working memory included: libjpeg's is kept from frame to frame.
    const long before = alloc_counter::Allocations(), mallocsBefore = alloc_counter::Mallocs();
    for (int n = 0; n < 60; ++n) {
        Write(frames[n % 2], n % 7 == 0, n % 5 == 0);
        WriteSound(sound);
    }
    EXPECT_EQ(alloc_counter::Allocations(), before);
    EXPECT_EQ(alloc_counter::Mallocs(), mallocsBefore);
    EXPECT_EQ(recorder.LastResult(), 0);
}

// Run again as a child (the same test, told by its environment), the process writes until the
// parent kills it; what it wrote plays.
TEST_F(AviOutputTest, KilledWhileWritingLeavesAPlayableFile) {
    if (const char* folder = std::getenv("AVI_OUTPUT_CHILD")) {
        const pid_t parent = getppid();
        dir.remove();  // this run's own folder: the parent's is written
        MapDrive(folder);
        auto frames = Frames(2);
        auto sound = Sound(0, 7056);
        Open("T:\\killed.avi", Format(BI_RGB));
        for (int n = 1; n < 3000 && getppid() == parent; ++n) {
            Write(frames[n % 2]);
            WriteSound(sound);
            if (n % 25 == 0) std::printf("frames %d\n", n);
            std::fflush(stdout);
        }
        _exit(0);
    }
    QProcess child;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("AVI_OUTPUT_CHILD", dir.path());
    child.setProcessEnvironment(environment);
    child.start("/proc/self/exe",
                {"--gtest_filter=AviOutputTest.KilledWhileWritingLeavesAPlayableFile"});
    int frames = 0;
    while (frames < 150 && child.waitForReadyRead(60000))
        while (child.canReadLine()) std::sscanf(child.readLine().constData(), "frames %d", &frames);
    ASSERT_GE(frames, 150);
    child.kill();
    ASSERT_TRUE(child.waitForFinished(10000));
    EXPECT_EQ(child.exitStatus(), QProcess::CrashExit);
    const QJsonArray streams = Probe(Host("killed.avi"))["streams"].toArray();
    ASSERT_EQ(streams.size(), 2);
    EXPECT_GE(std::stoi(Text(streams[0].toObject()["nb_read_frames"])), 100);
    EXPECT_EQ(Text(streams[1].toObject()["codec_name"]), "pcm_s16le");
    ExpectCleanDecode(Host("killed.avi"));
}

// ---- a capture on the test card ----

Recorder* recording = nullptr;
qsizetype wholeSampleBytes = 0;  // of every buffer the capture delivered
LRESULT OnFrame(HWND, LPVIDEOHDR frame) {
    recording->WriteVideoFrame(*frame);
    return 1;
}
LRESULT OnSound(HWND, LPWAVEHDR buffer) {
    recording->WriteAudioBuffer(*buffer);
    wholeSampleBytes += buffer->dwBytesRecorded / 4 * 4;
    return 1;
}
LRESULT OnStatus(HWND, int, LPCSTR) {
    return 1;
}

void CaptureTwoSeconds(HWND window, const WAVEFORMATEX& sound) {
    SendMessageA(window, WM_CAP_SET_AUDIOFORMAT, sizeof sound, reinterpret_cast<LPARAM>(&sound));
    CAPTUREPARMS parms{};
    SendMessageA(window, WM_CAP_GET_SEQUENCE_SETUP, sizeof parms, reinterpret_cast<LPARAM>(&parms));
    parms.dwRequestMicroSecPerFrame = 40000;
    parms.fLimitEnabled = TRUE;
    parms.wTimeLimit = 2;
    SendMessageA(window, WM_CAP_SET_SEQUENCE_SETUP, sizeof parms, reinterpret_cast<LPARAM>(&parms));
    SendMessageA(window, WM_CAP_SET_CALLBACK_STATUSA, 0, reinterpret_cast<LPARAM>(&OnStatus));
    SendMessageA(window, WM_CAP_SET_CALLBACK_VIDEOSTREAM, 0, reinterpret_cast<LPARAM>(&OnFrame));
    SendMessageA(window, WM_CAP_SET_CALLBACK_WAVESTREAM, 0, reinterpret_cast<LPARAM>(&OnSound));
    SendMessageA(window, WM_CAP_SEQUENCE_NOFILE, 0, 0);
}

// Half a second of 22,050 Hz mono is 22,050 bytes: whole 4-byte samples go in, the odd two
// bytes are left out, and the track still says 44,100 Hz stereo.
TEST(AviOutputCapture, TrackIsDeclared44100StereoWhateverTheCaptureSoundIs) {
    QTemporaryDir dir;
    fakes::FakeMachine machine;
    machine.description.user.virtualClock = true;
    machine.description.drives['T'] = {DRIVE_FIXED, dir.path().toStdString()};
    platform::SetMachine(machine.description);
    fakes::MessageRecorder boxes;
    const QString previousFolder = QDir::currentPath();
    QDir::setCurrent(dir.path());
    TForm1 form(QStringList{"vistrel"});
    Recorder& recorder = form.Recording;
    recording = &recorder;
    RecordingInput& input = RecorderInternals::Input(recorder);
    input.compressor = "MJPG";
    input.format.assign(form.CaptureFormat.begin(),
                        form.CaptureFormat.begin() + form.CaptureFormatSize);
    recorder.OpenAviOutput("T:\\card.avi");
    CaptureTwoSeconds(form.CaptureWindow, {WAVE_FORMAT_PCM, 1, 22050, 44100, 2, 16, 0});
    EXPECT_EQ(recorder.LastResult(), 0);
    const std::int32_t written = recorder.State().FileVideoFrames;
    const std::int32_t buffers = recorder.State().FileAudioBlocks;
    const std::uint32_t fileBytes = recorder.State().FileBytes;
    recorder.CloseAviOutput();
    QDir::setCurrent(previousFolder);

    const QString path = dir.filePath("card.avi");
    const QJsonArray streams = Probe(path)["streams"].toArray();
    ASSERT_EQ(streams.size(), 2);
    EXPECT_GE(written, 50);
    EXPECT_EQ(Text(streams[0].toObject()["nb_read_frames"]), std::to_string(written));
    EXPECT_EQ(Text(streams[1].toObject()["sample_rate"]), "44100");
    EXPECT_EQ(streams[1].toObject()["channels"].toInt(), 2);
    EXPECT_GE(buffers, 4);
    EXPECT_GE(wholeSampleBytes, 4 * 22048);
    EXPECT_EQ(Decoded(path, {"-map", "0:a", "-f", "s16le"}).size(), wholeSampleBytes);
    EXPECT_EQ(PacketBytes(path), fileBytes);
    ExpectCleanDecode(path);
    EXPECT_TRUE(boxes.texts.empty());
}

}  // namespace
