// The recording's AVI file: a video stream (compressed here, or Motion-JPEG kept as the card
// delivers it) and a 16-bit PCM stream, written at the positions the recording state keeps.
//
// A call into the AVI service that throws (it allocates, and an allocation can fail) is a fault
// of that call: it gives no result and never leaves here, since everything here runs inside the
// capture's handlers. A fault creating the audio stream leaves a file of picture only, and the
// open goes on; a fault setting a format shows the codec message with the file and the reason,
// since the service takes no write into a file with a stream left without its format. Any other
// fault counts as that call's failure, with the message that failure has.
//
// An open that fails part-way leaves a file that can take nothing, and the capture would go on
// writing nowhere until its user stopped it: the capture is stopped, and the file, empty, is
// removed once released.
#include <QLineEdit>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <exception>
#include <new>

#include "app/form1.h"
#include "capture/dialogs.h"
#include "platform/avifile.h"
#include "platform/files.h"
#include "platform/messages.h"

namespace {

constexpr UINT kRecordingMode = OF_CREATE | OF_WRITE;
constexpr UINT kProbeMode = OF_CREATE;
constexpr const char* kProbeFile = "Null.avi";
constexpr DWORD kFramesPerSecond = 25;
constexpr DWORD kBestQuality = 100;
constexpr DWORD kSampleBytes = 4;  // one sample: a stereo pair of 16-bit values
constexpr DWORD kSampleRate = 44100;

constexpr const char* kOpenFailed = "Erreur d'ouverture fichier ...";
constexpr const char* kStreamFailed = "Erreur de creation du Stream ...";
constexpr const char* kCodecMissing =
    "Codec de compression MPEG1 non present sur votre ordinateur ...";
constexpr const char* kVideoFormatFailed = "Erreur de formatage du Stream Video ...";
constexpr const char* kAudioStreamFailed = "Erreur de creation du Stream Audio...";
constexpr const char* kAudioFormatFailed = "Erreur de formatage du Stream Audio ...";

struct Outcome {
    HRESULT result = AVIERR_OK;
    bool faulted = false;
};

template <typename Call>
Outcome Attempt(Call call) noexcept {
    try {
        return {call(), false};
    } catch (const std::bad_alloc&) {
        return {AVIERR_MEMORY, true};
    } catch (const std::exception&) {
        return {AVIERR_INTERNAL, true};
    }
}

// The file as its user knows it: the system's path when a drive holds it, and why it failed.
std::string Where(const char* path, int error) {
    const std::string host = platform::HostPath(path);
    std::string where = host.empty() ? std::string(path) : host;
    const std::string reason = platform::FileErrorReason(host.empty() ? kFileNoDrive : error);
    if (!reason.empty()) where += " : " + reason;
    return where;
}

// The codec text, then the file, the reason and what it costs the recording.
std::string CodecText(const TForm1& form, const Outcome& outcome, const char* cost) {
    const int error = outcome.result == AVIERR_MEMORY ? ENOMEM : 0;
    return std::string(kCodecMissing) + '\n' + Where(form.AviOutput.Path.c_str(), error) + cost;
}

void ReleaseFile(PAVIFILE& file) {
    if (file != nullptr) AVIFileRelease(file);
    file = nullptr;
}

void ReleaseStream(PAVISTREAM& stream) {
    if (stream != nullptr) AVIStreamRelease(stream);
    stream = nullptr;
}

DWORD FourCC(const QString& code) {
    const QByteArray c = code.toLatin1().leftJustified(4, '\0', true);
    return MAKEFOURCC(c[0], c[1], c[2], c[3]);
}

// The header at the start of the capture format; a format shorter than one reads as zeros past
// its end, and the service then refuses it.
BITMAPINFOHEADER HeaderOf(const BYTE* format, std::uint16_t size) {
    BITMAPINFOHEADER header{};
    if (format != nullptr) std::memcpy(&header, format, std::min<std::size_t>(size, sizeof header));
    return header;
}

AVISTREAMINFOA VideoStreamInfo(const BITMAPINFOHEADER& format) {
    AVISTREAMINFOA info{};
    info.fccType = streamtypeVIDEO;
    info.dwScale = 1;
    info.dwRate = kFramesPerSecond;  // whatever rate the capture runs at
    info.dwSuggestedBufferSize = format.biSizeImage;
    info.rcFrame = {0, 0, format.biWidth, format.biHeight};
    return info;
}

AVISTREAMINFOA ProbeStreamInfo() {
    AVISTREAMINFOA info{};
    info.fccType = streamtypeVIDEO;
    info.dwScale = 1;
    info.dwRate = kFramesPerSecond;
    info.rcFrame = {0, 0, 320, 240};
    info.dwSuggestedBufferSize = 10000;
    return info;
}

AVISTREAMINFOA AudioStreamInfo() {
    AVISTREAMINFOA info{};
    info.fccType = streamtypeAUDIO;
    info.dwScale = kSampleBytes;
    info.dwRate = kSampleRate * kSampleBytes;
    info.dwQuality = kBestQuality;
    info.dwSampleSize = kSampleBytes;
    return info;
}

// Always 44,100 Hz stereo 16-bit, whatever the capture was set to: the audio time arithmetic
// counts the same way.
WAVEFORMATEX RecordedSound() {
    return {WAVE_FORMAT_PCM, 2, kSampleRate, kSampleRate * kSampleBytes, kSampleBytes, 16, 0};
}

AVICOMPRESSOPTIONS CompressionOptions(DWORD fourcc) {
    AVICOMPRESSOPTIONS options{};
    options.fccHandler = fourcc;
    options.dwQuality = kBestQuality;
    return options;
}

// One chunk appended; nothing is touched when the stream is missing (an open that failed
// part-way), which reads as the service's answer for no stream.
HRESULT Append(PAVISTREAM stream, std::int64_t start, LONG samples, void* data, LONG bytes,
               DWORD flags, LONG& written) noexcept {
    written = 0;
    if (stream == nullptr) return AVIERR_BADHANDLE;
    return Attempt([&] {
               return AVIStreamWrite(stream, static_cast<LONG>(start), samples, data, bytes, flags,
                                     nullptr, &written);
           })
        .result;
}

std::int32_t Incremented(std::int32_t count) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(count) + 1u);
}

// The disk refused the write, or the memory to make it: the file keeps what it had, nothing more
// is written, and the capture is stopped as the abort key stops it; the user is told when it has
// ended. Going on past a frame lost for memory would lose others unsaid.
bool Refused(TForm1& form) {
    if (form.LastResult != AVIERR_FILEWRITE && form.LastResult != AVIERR_MEMORY) return false;
    const int error = form.LastResult == AVIERR_MEMORY ? ENOMEM : platform::LastAviWriteError();
    form.WriteFailed = {true, error, form.AviOutput.Path,
                        form.FileVideoFrames == 0 && form.FileAudioBlocks == 0};
    form.StopSequence();
    return true;
}

// A frame the disk refused is not counted: the log tells what the file holds.
void AppendFrame(TForm1& form, const VIDEOHDR& frame) {
    if (form.WriteFailed.Met) return;
    LONG written = 0;
    form.LastResult = Append(form.VideoTarget, form.FileVideoFrames, 1, frame.lpData,
                             static_cast<LONG>(frame.dwBytesUsed), AVIIF_KEYFRAME, written);
    if (Refused(form) || form.LastResult != AVIERR_OK) return;
    form.FileBytes += static_cast<std::uint32_t>(written);
    form.FileVideoFrames = Incremented(form.FileVideoFrames);
    ++form.CaptureFrames;
}

// The files that hold the capture: those a roll-over finished, and the one the disk refused
// unless it took nothing (it is then removed).
std::string RecordedIn(const TForm1& form) {
    const TForm1::WriteFailure& failure = form.WriteFailed;
    const int count = form.FileIndex + (failure.Empty ? 0 : 1);
    if (count == 0) return {};
    const std::string first = form.FileIndex > 0 ? form.FilePathOf(0) : failure.File;
    if (count == 1) return "dans le fichier \"" + first + "\"";
    const std::string last = failure.Empty ? form.FilePathOf(form.FileIndex - 1) : failure.File;
    return "dans les fichiers \"" + first + "\" à \"" + last + "\"";
}

// Where the file was: the system's folder when a drive holds it, else its own name's.
std::string FolderOf(const std::string& path) {
    const std::string host = platform::HostPath(path.c_str());
    const std::string& name = host.empty() ? path : host;
    return name.substr(0, name.find_last_of(host.empty() ? "\\" : "/") + 1);
}

std::string WriteFailureText(const TForm1& form) {
    if (form.WriteFailed.Error == kFileRemoved)
        return "Le dossier de destination a disparu pendant la capture : la capture est arrêtée, "
               "et ce qui y était enregistré a disparu avec lui ...\n" +
               FolderOf(form.WriteFailed.File);
    std::string text = "Écriture impossible sur le disque de destination";
    const std::string reason = platform::FileErrorReason(form.WriteFailed.Error);
    if (form.WriteFailed.Error == ENOMEM) {
        text = "Mémoire insuffisante";
    } else if (!reason.empty()) {
        text += " (" + reason + ")";
    }
    text += " : la capture est arrêtée";
    const std::string files = RecordedIn(form);
    if (files.empty()) return text + " et rien n'a pu être enregistré ...";
    return text + ". L'enregistrement est " + files + " ...";
}

// ---- the open, step by step; each answers whether the open goes on ----

bool OpenFile(TForm1& form, const char* path) {
    TForm1::AviOutputFile& out = form.AviOutput;
    form.LastResult =
        Attempt([&] { return AVIFileOpenA(&out.File, path, kRecordingMode, nullptr); }).result;
    return form.LastResult == AVIERR_OK;
}

bool CreateVideoStream(TForm1& form, const BITMAPINFOHEADER& format) {
    TForm1::AviOutputFile& out = form.AviOutput;
    form.LastResult =
        Attempt([&] {
            out.VideoStreamHeader.reset(new AVISTREAMINFOA(VideoStreamInfo(format)));
            return AVIFileCreateStreamA(out.File, &out.RawVideoStream, out.VideoStreamHeader.get());
        }).result;
    return form.LastResult == AVIERR_OK;
}

// Frames the card delivers as Motion-JPEG are stored as they come: no compressed stream.
Outcome MakeVideoTarget(TForm1& form, bool asDelivered) {
    TForm1::AviOutputFile& out = form.AviOutput;
    const Outcome made = Attempt([&] {
        const DWORD fourcc = FourCC(form.CompressorFourCC);
        out.CompressOptions.reset(new AVICOMPRESSOPTIONS(CompressionOptions(fourcc)));
        if (asDelivered) return form.LastResult;  // nothing to make: the stream's success stands
        return AVIMakeCompressedStream(&out.CompressedVideoStream, out.RawVideoStream,
                                       out.CompressOptions.get(), nullptr);
    });
    form.LastResult = made.result;
    if (form.LastResult == AVIERR_OK) {
        form.VideoTarget = asDelivered ? out.RawVideoStream : out.CompressedVideoStream;
    }
    return made;
}

// A fault on the compressed stream is answered apart; any other result is the step's own.
Outcome FormatVideoStream(TForm1& form, const BYTE* format, std::uint16_t size, bool asDelivered) {
    PAVISTREAM stream = form.VideoTarget;
    Outcome set = Attempt(
        [&] { return AVIStreamSetFormat(stream, 0, const_cast<BYTE*>(format), LONG{size}); });
    set.faulted = set.faulted && !asDelivered;
    if (!set.faulted) form.LastResult = set.result;
    return set;
}

Outcome CreateAudioStream(TForm1& form) {
    TForm1::AviOutputFile& out = form.AviOutput;
    const Outcome made = Attempt([&] {
        out.AudioStreamHeader.reset(new AVISTREAMINFOA(AudioStreamInfo()));
        out.AudioFormat.reset(new WAVEFORMATEX(RecordedSound()));
        return AVIFileCreateStreamA(out.File, &out.AudioStream, out.AudioStreamHeader.get());
    });
    if (!made.faulted) form.LastResult = made.result;
    return made;
}

// After a fault creating it there is no audio stream to format: the file records picture only.
Outcome FormatAudioStream(TForm1& form) {
    TForm1::AviOutputFile& out = form.AviOutput;
    if (out.AudioStream == nullptr) return {};
    const Outcome set = Attempt([&] {
        return AVIStreamSetFormat(out.AudioStream, 0, out.AudioFormat.get(), sizeof(WAVEFORMATEX));
    });
    if (!set.faulted) form.LastResult = set.result;
    return set;
}

void Abandon(TForm1& form, const char* text) {
    form.AviOutput.TakesNothing = true;
    form.CloseAviOutput();
    form.StopSequence();
    ReportError(QString::fromUtf8(text));
}

// No roll-over would ever come to try another file: the message says which file and why.
void AbandonUnopened(TForm1& form, const char* path) {
    const std::string where = Where(path, platform::LastAviWriteError());
    form.CloseAviOutput();
    form.StopSequence();
    ReportError(QString::fromUtf8(kOpenFailed) + u'\n' + QString::fromStdString(where));
}

void AbandonUnformatted(TForm1& form, const Outcome& fault) {
    const std::string text = CodecText(form, fault, " : la capture est arrêtée ...");
    form.AviOutput.TakesNothing = true;
    form.CloseAviOutput();
    form.StopSequence();
    platform::ShowMessage(text);
}

HRESULT ProbeStreams(PAVIFILE& file, PAVISTREAM& raw, PAVISTREAM& compressed, DWORD fourcc,
                     std::int32_t& lastResult) {
    lastResult = AVIFileOpenA(&file, kProbeFile, kProbeMode, nullptr);
    if (lastResult != AVIERR_OK) return lastResult;
    AVISTREAMINFOA header = ProbeStreamInfo();
    lastResult = AVIFileCreateStreamA(file, &raw, &header);
    if (lastResult != AVIERR_OK) return lastResult;
    AVICOMPRESSOPTIONS options = CompressionOptions(fourcc);
    lastResult = AVIMakeCompressedStream(&compressed, raw, &options, nullptr);
    return lastResult;
}

}  // namespace

void TForm1::AviBufferFree::operator()(AVISTREAMINFOA* header) const {
    delete header;
}
void TForm1::AviBufferFree::operator()(AVICOMPRESSOPTIONS* options) const {
    delete options;
}
void TForm1::AviBufferFree::operator()(WAVEFORMATEX* format) const {
    delete format;
}

TForm1::AviOutputFile::~AviOutputFile() {
    Release();
}

// The file goes first: it is completed on disk once its last stream has gone too. The
// compressed stream is released whenever one is held, whatever the capture's format says now.
void TForm1::AviOutputFile::Release() {
    ReleaseFile(File);
    ReleaseStream(RawVideoStream);
    ReleaseStream(AudioStream);
    ReleaseStream(CompressedVideoStream);
    if (ServiceStarted) AVIFileExit();
    ServiceStarted = false;
    VideoStreamHeader.reset();
    AudioStreamHeader.reset();
    AudioFormat.reset();
    CompressOptions.reset();
    if (TakesNothing) DeleteFileA(Path.c_str());
    TakesNothing = false;
    Path.clear();
}

bool TForm1::ProbeCompressor(char c1, char c2, char c3, char c4) {
    AVIFileInit();
    PAVIFILE file = nullptr;
    PAVISTREAM raw = nullptr;
    PAVISTREAM compressed = nullptr;
    const Outcome probed = Attempt([&] {
        return ProbeStreams(file, raw, compressed, MAKEFOURCC(c1, c2, c3, c4), LastResult);
    });
    if (probed.faulted) LastResult = probed.result;
    ReleaseFile(file);
    ReleaseStream(raw);
    ReleaseStream(compressed);
    AVIFileExit();
    return probed.result == AVIERR_OK;
}

// A file still held (a roll-over after a single frame) is completed first, never abandoned.
void TForm1::OpenAviOutput(const char* path, const BYTE* format, std::uint16_t formatSize) {
    CloseAviOutput();
    AVIFileInit();
    AviOutput.ServiceStarted = true;
    AviOutput.Path = path;
    if (!OpenFile(*this, path)) return AbandonUnopened(*this, path);
    if (!CreateVideoStream(*this, HeaderOf(format, formatSize))) {
        return Abandon(*this, kStreamFailed);
    }
    const bool asDelivered = DeliversMotionJpeg();
    if (const Outcome made = MakeVideoTarget(*this, asDelivered); LastResult != AVIERR_OK) {
        AviOutput.TakesNothing = true;  // held until the next close all the same
        StopSequence();
        return platform::ShowMessage(CodecText(*this, made, " : la capture est arrêtée ..."));
    }
    const Outcome videoFormat = FormatVideoStream(*this, format, formatSize, asDelivered);
    if (videoFormat.faulted) return AbandonUnformatted(*this, videoFormat);
    if (LastResult != AVIERR_OK) return Abandon(*this, kVideoFormatFailed);
    const Outcome audio = CreateAudioStream(*this);
    if (audio.faulted) {
        platform::ShowMessage(
            CodecText(*this, audio, " : le son n'est pas enregistré dans ce fichier ..."));
    }
    if (LastResult != AVIERR_OK) return Abandon(*this, kAudioStreamFailed);
    const Outcome audioFormat = FormatAudioStream(*this);
    if (audioFormat.faulted) return AbandonUnformatted(*this, audioFormat);
    if (LastResult != AVIERR_OK) Abandon(*this, kAudioFormatFailed);
}

void TForm1::CloseAviOutput() {
    VideoTarget = nullptr;
    AviOutput.Release();
}

void TForm1::WriteVideoFrame(const VIDEOHDR& frame) {
    if (!DropPending) {
        AppendFrame(*this, frame);
        if (InsertPending) AppendFrame(*this, frame);
    }
    DropPending = false;
    InsertPending = false;
}

// The copies stop where the file is full: the roll-over's new file is placed against the sound
// on its own.
std::uint32_t TForm1::RepeatVideoFrame(const VIDEOHDR& frame, std::uint32_t copies) {
    std::uint32_t written = 0;
    while (written < copies && FileBytes / 1024 < kFullFileKiB) {
        AppendFrame(*this, frame);
        if (WriteFailed.Met) break;
        ++written;
    }
    return written;
}

// Positions and counts are in whole 4-byte samples; a buffer's odd bytes past its last whole
// sample are left out, since the service refuses a write that ends inside a sample.
void TForm1::WriteAudioBuffer(const WAVEHDR& buffer) {
    if (WriteFailed.Met) return;
    const DWORD bytes = buffer.dwBytesRecorded;
    const std::int64_t start = std::int64_t{FileAudioBlocks} * bytes / kSampleBytes;
    const auto samples = static_cast<LONG>(bytes / kSampleBytes);
    LONG written = 0;
    LastResult = Append(AviOutput.AudioStream, start, samples, buffer.lpData,
                        static_cast<LONG>(static_cast<DWORD>(samples) * kSampleBytes), 0, written);
    if (Refused(*this) || LastResult != AVIERR_OK) return;
    FileAudioBlocks = Incremented(FileAudioBlocks);
    FileBytes += static_cast<std::uint32_t>(written);
}

// A file that took nothing before the disk refused it holds no recording: it is removed, and it
// can only be the name the capture built.
void TForm1::ReportWriteFailure() {
    if (!WriteFailed.Met) return;
    if (WriteFailed.Empty && WriteFailed.Error != kFileRemoved)
        DeleteFileA(WriteFailed.File.c_str());
    ReportError(QString::fromStdString(WriteFailureText(*this)));
}
