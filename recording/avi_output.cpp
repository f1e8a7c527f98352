// SPDX-License-Identifier: GPL-2.0-or-later
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
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <exception>
#include <new>

#include "platform/avifile.h"
#include "platform/files.h"
#include "recording/recorder.h"

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
// What a faulted format step costs the recording, after the codec text.
constexpr const char* kStopped = " : la capture est arrêtée ...";
constexpr const char* kNoSound = " : le son n'est pas enregistré dans ce fichier ...";

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
std::string CodecText(const std::string& path, const Outcome& outcome, const char* cost) {
    const int error = outcome.result == AVIERR_MEMORY ? ENOMEM : 0;
    return std::string(kCodecMissing) + '\n' + Where(path.c_str(), error) + cost;
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
BITMAPINFOHEADER HeaderOf(const std::vector<BYTE>& format) {
    BITMAPINFOHEADER header{};
    if (!format.empty())
        std::memcpy(&header, format.data(), std::min(format.size(), sizeof header));
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

// Where the file was: the system's folder when a drive holds it, else its own name's.
std::string FolderOf(const std::string& path) {
    const std::string host = platform::HostPath(path.c_str());
    const std::string& name = host.empty() ? path : host;
    return name.substr(0, name.find_last_of(host.empty() ? "\\" : "/") + 1);
}

// ---- the open, step by step; each answers whether the open goes on ----

// What the open's steps make, and the service's last answer.
struct Opening {
    Recorder::AviOutputFile& out;
    HRESULT& lastResult;
    IAVIStream*& target;  // where frames go, once the open has made it
};

bool OpenFile(Opening& step, const char* path) {
    Recorder::AviOutputFile& out = step.out;
    step.lastResult =
        Attempt([&] { return AVIFileOpenA(&out.File, path, kRecordingMode, nullptr); }).result;
    return step.lastResult == AVIERR_OK;
}

bool CreateVideoStream(Opening& step, const BITMAPINFOHEADER& format) {
    Recorder::AviOutputFile& out = step.out;
    step.lastResult =
        Attempt([&] {
            out.VideoStreamHeader.reset(new AVISTREAMINFOA(VideoStreamInfo(format)));
            return AVIFileCreateStreamA(out.File, &out.RawVideoStream, out.VideoStreamHeader.get());
        }).result;
    return step.lastResult == AVIERR_OK;
}

// Frames the card delivers as Motion-JPEG are stored as they come: no compressed stream.
Outcome MakeVideoTarget(Opening& step, const QString& compressor, bool asDelivered) {
    Recorder::AviOutputFile& out = step.out;
    const Outcome made = Attempt([&] {
        const DWORD fourcc = FourCC(compressor);
        out.CompressOptions.reset(new AVICOMPRESSOPTIONS(CompressionOptions(fourcc)));
        if (asDelivered) return step.lastResult;  // nothing to make: the stream's success stands
        return AVIMakeCompressedStream(&out.CompressedVideoStream, out.RawVideoStream,
                                       out.CompressOptions.get(), nullptr);
    });
    step.lastResult = made.result;
    if (step.lastResult == AVIERR_OK) {
        step.target = asDelivered ? out.RawVideoStream : out.CompressedVideoStream;
    }
    return made;
}

// A fault on the compressed stream is answered apart; any other result is the step's own.
Outcome FormatVideoStream(Opening& step, const std::vector<BYTE>& format, bool asDelivered) {
    PAVISTREAM stream = step.target;
    Outcome set = Attempt([&] {
        return AVIStreamSetFormat(stream, 0, const_cast<BYTE*>(format.data()),
                                  static_cast<LONG>(format.size()));
    });
    set.faulted = set.faulted && !asDelivered;
    if (!set.faulted) step.lastResult = set.result;
    return set;
}

Outcome CreateAudioStream(Opening& step) {
    Recorder::AviOutputFile& out = step.out;
    const Outcome made = Attempt([&] {
        out.AudioStreamHeader.reset(new AVISTREAMINFOA(AudioStreamInfo()));
        out.AudioFormat.reset(new WAVEFORMATEX(RecordedSound()));
        return AVIFileCreateStreamA(out.File, &out.AudioStream, out.AudioStreamHeader.get());
    });
    if (!made.faulted) step.lastResult = made.result;
    return made;
}

// After a fault creating it there is no audio stream to format: the file records picture only.
Outcome FormatAudioStream(Opening& step) {
    Recorder::AviOutputFile& out = step.out;
    if (out.AudioStream == nullptr) return {};
    const Outcome set = Attempt([&] {
        return AVIStreamSetFormat(out.AudioStream, 0, out.AudioFormat.get(), sizeof(WAVEFORMATEX));
    });
    if (!set.faulted) step.lastResult = set.result;
    return set;
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

// The disk refused the write, or the memory to make it: the file keeps what it had, nothing more
// is written, and the capture is stopped as the abort key stops it; the user is told when it has
// ended. Going on past a frame lost for memory would lose others unsaid.
bool Recorder::Refused() {
    if (lastResult_ != AVIERR_FILEWRITE && lastResult_ != AVIERR_MEMORY) return false;
    const int error = lastResult_ == AVIERR_MEMORY ? ENOMEM : platform::LastAviWriteError();
    state_.WriteFailed = {true, error, output_.Path,
                          state_.FileVideoFrames == 0 && state_.FileAudioBlocks == 0};
    events_.StopCapture();
    return true;
}

// A frame the disk refused is not counted: the log tells what the file holds.
void Recorder::AppendFrame(const VIDEOHDR& frame) {
    if (state_.WriteFailed.Met) return;
    LONG written = 0;
    lastResult_ = Append(videoTarget_, state_.FileVideoFrames, 1, frame.lpData,
                         static_cast<LONG>(frame.dwBytesUsed), AVIIF_KEYFRAME, written);
    if (Refused() || lastResult_ != AVIERR_OK) return;
    state_.FileBytes += static_cast<std::uint32_t>(written);
    state_.FileVideoFrames = Incremented(state_.FileVideoFrames);
    ++state_.CaptureFrames;
}

// The files that hold the capture: those a roll-over finished, and the one the disk refused
// unless it took nothing (it is then removed).
std::string Recorder::RecordedIn() const {
    const RecordingState::WriteFailure& failure = state_.WriteFailed;
    const int count = state_.FileIndex + (failure.Empty ? 0 : 1);
    if (count == 0) return {};
    const std::string first = state_.FileIndex > 0 ? FilePathOf(0) : failure.File;
    if (count == 1) return "dans le fichier \"" + first + "\"";
    const std::string last = failure.Empty ? FilePathOf(state_.FileIndex - 1) : failure.File;
    return "dans les fichiers \"" + first + "\" à \"" + last + "\"";
}

std::string Recorder::WriteFailureText() const {
    if (state_.WriteFailed.Error == kFileRemoved)
        return "Le dossier de destination a disparu pendant la capture : la capture est arrêtée, "
               "et ce qui y était enregistré a disparu avec lui ...\n" +
               FolderOf(state_.WriteFailed.File);
    std::string text = "Écriture impossible sur le disque de destination";
    const std::string reason = platform::FileErrorReason(state_.WriteFailed.Error);
    if (state_.WriteFailed.Error == ENOMEM) {
        text = "Mémoire insuffisante";
    } else if (!reason.empty()) {
        text += " (" + reason + ")";
    }
    text += " : la capture est arrêtée";
    const std::string files = RecordedIn();
    if (files.empty()) return text + " et rien n'a pu être enregistré ...";
    return text + ". L'enregistrement est " + files + " ...";
}

void Recorder::Abandon(const char* text) {
    output_.TakesNothing = true;
    CloseAviOutput();
    events_.StopCapture();
    events_.Tell(text, true);
}

// No roll-over would ever come to try another file: the message says which file and why.
void Recorder::AbandonUnopened(const char* path) {
    const std::string where = Where(path, platform::LastAviWriteError());
    CloseAviOutput();
    events_.StopCapture();
    events_.Tell(std::string(kOpenFailed) + '\n' + where, true);
}

void Recorder::AbandonUnformatted(const std::string& text) {
    output_.TakesNothing = true;
    CloseAviOutput();
    events_.StopCapture();
    events_.Tell(text, false);
}

void Recorder::AviBufferFree::operator()(AVISTREAMINFOA* header) const {
    delete header;
}
void Recorder::AviBufferFree::operator()(AVICOMPRESSOPTIONS* options) const {
    delete options;
}
void Recorder::AviBufferFree::operator()(WAVEFORMATEX* format) const {
    delete format;
}

Recorder::AviOutputFile::~AviOutputFile() {
    Release();
}

// The file goes first: it is completed on disk once its last stream has gone too. The
// compressed stream is released whenever one is held, whatever the capture's format says now.
void Recorder::AviOutputFile::Release() {
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

HRESULT ProbeCompressor(DWORD fourcc) {
    AVIFileInit();
    PAVIFILE file = nullptr;
    PAVISTREAM raw = nullptr;
    PAVISTREAM compressed = nullptr;
    std::int32_t lastResult = AVIERR_OK;
    const Outcome probed =
        Attempt([&] { return ProbeStreams(file, raw, compressed, fourcc, lastResult); });
    ReleaseFile(file);
    ReleaseStream(raw);
    ReleaseStream(compressed);
    AVIFileExit();
    return probed.faulted ? probed.result : lastResult;
}

// A file still held (a roll-over after a single frame) is completed first, never abandoned.
void Recorder::OpenAviOutput(const char* path) {
    CloseAviOutput();
    AVIFileInit();
    output_.ServiceStarted = true;
    output_.Path = path;
    Opening step{output_, lastResult_, videoTarget_};
    if (!OpenFile(step, path)) return AbandonUnopened(path);
    const std::vector<BYTE>& format = input_.format;
    if (!CreateVideoStream(step, HeaderOf(format))) return Abandon(kStreamFailed);
    const bool asDelivered = input_.storedAsDelivered;
    const Outcome made = MakeVideoTarget(step, input_.compressor, asDelivered);
    if (lastResult_ != AVIERR_OK) {
        output_.TakesNothing = true;  // held until the next close all the same
        events_.StopCapture();
        return events_.Tell(CodecText(path, made, kStopped), false);
    }
    const Outcome videoFormat = FormatVideoStream(step, format, asDelivered);
    if (videoFormat.faulted) return AbandonUnformatted(CodecText(path, videoFormat, kStopped));
    if (lastResult_ != AVIERR_OK) return Abandon(kVideoFormatFailed);
    const Outcome audio = CreateAudioStream(step);
    if (audio.faulted) events_.Tell(CodecText(path, audio, kNoSound), false);
    if (lastResult_ != AVIERR_OK) return Abandon(kAudioStreamFailed);
    const Outcome audioFormat = FormatAudioStream(step);
    if (audioFormat.faulted) return AbandonUnformatted(CodecText(path, audioFormat, kStopped));
    if (lastResult_ != AVIERR_OK) Abandon(kAudioFormatFailed);
}

void Recorder::CloseAviOutput() {
    videoTarget_ = nullptr;
    output_.Release();
}

void Recorder::WriteVideoFrame(const VIDEOHDR& frame) {
    if (!state_.DropPending) {
        AppendFrame(frame);
        if (state_.InsertPending) AppendFrame(frame);
    }
    state_.DropPending = false;
    state_.InsertPending = false;
}

// The copies stop where the file is full: the roll-over's new file is placed against the sound
// on its own.
std::uint32_t Recorder::RepeatVideoFrame(const VIDEOHDR& frame, std::uint32_t copies) {
    std::uint32_t written = 0;
    while (written < copies && state_.FileBytes / 1024 < kFullFileKiB) {
        AppendFrame(frame);
        if (state_.WriteFailed.Met) break;
        ++written;
    }
    return written;
}

// Positions and counts are in whole 4-byte samples; a buffer's odd bytes past its last whole
// sample are left out, since the service refuses a write that ends inside a sample.
void Recorder::WriteAudioBuffer(const WAVEHDR& buffer) {
    if (state_.WriteFailed.Met) return;
    const DWORD bytes = buffer.dwBytesRecorded;
    const std::int64_t start = std::int64_t{state_.FileAudioBlocks} * bytes / kSampleBytes;
    const auto samples = static_cast<LONG>(bytes / kSampleBytes);
    LONG written = 0;
    lastResult_ = Append(output_.AudioStream, start, samples, buffer.lpData,
                         static_cast<LONG>(static_cast<DWORD>(samples) * kSampleBytes), 0, written);
    if (Refused() || lastResult_ != AVIERR_OK) return;
    state_.FileAudioBlocks = Incremented(state_.FileAudioBlocks);
    state_.FileBytes += static_cast<std::uint32_t>(written);
}

// A file that took nothing before the disk refused it holds no recording: it is removed, and it
// can only be the name the capture built.
void Recorder::ReportWriteFailure() {
    const RecordingState::WriteFailure& failed = state_.WriteFailed;
    if (!failed.Met) return;
    if (failed.Empty && failed.Error != kFileRemoved) DeleteFileA(failed.File.c_str());
    events_.Tell(WriteFailureText(), true);
}
