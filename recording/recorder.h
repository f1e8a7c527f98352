// SPDX-License-Identifier: GPL-2.0-or-later
// A recording: the AVI files a capture writes, their names, the roll-over from a full file to
// the next, the picture kept in step with the sound, and the capture log's blocks. The window
// hands it what the capture starts with, then every frame and sound buffer, then the end; the
// recording answers through RecorderEvents.
#pragma once

#include <QString>
#include <QStringList>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/vfw.h"
#include "recording/recording_state.h"

// What a capture starts with, taken once as it starts: whatever the window shows meanwhile,
// every file of the capture is named and formatted from this.
struct RecordingInput {
    // The folder every file goes to, as the user chose it: a drive letter and a folder ("D:\\"),
    // or a folder as the system names it ("/home/…/Vidéos/", "~/Vidéos/").
    QString destination;
    QString stamp;                   // the capture's date and time in its files' names
    bool storedAsDelivered = false;  // Motion-JPEG frames kept as the card delivers them
    std::vector<BYTE> format;        // the capture format the video stream is set to
    QString compressor = QStringLiteral("DIVX");  // the FourCC found at start-up
    // The capture service's set-up: its frame period and its sound's bytes a second (0 when
    // unknown), for the picture to keep the sound's time.
    std::uint32_t framePeriodUs = 0;
    std::uint32_t soundBytesPerSecond = 0;
};

// What a recording tells the window.
class RecorderEvents {
  public:
    // The file the next frame opens has this name.
    virtual void FileNamed(const QString& path) = 0;
    // Lines added to the capture log.
    virtual void LogLines(const QStringList& lines) = 0;
    // A message box; `warning` adds the warning sound.
    virtual void Tell(const std::string& text, bool warning) = 0;
    // Nothing more can be written: the capture is to end as the abort key ends it.
    virtual void StopCapture() = 0;

  protected:
    ~RecorderEvents() = default;
};

class Recorder {
  public:
    explicit Recorder(RecorderEvents& events);
    ~Recorder();  // a file still open is completed, not abandoned
    Recorder(const Recorder&) = delete;
    Recorder& operator=(const Recorder&) = delete;

    // A new capture's counters from zero, the drift looked at every 250 frames at first, no
    // refused write: done first, whatever then stops the start.
    void ResetCounters();
    // A new capture from `input`: counters from zero, the first file named. A capture that
    // writes files is refused (false, after its message) when a name it may come to need would
    // not fit or holds a character no file name may.
    bool Start(RecordingInput input, bool writesFiles = true);
    // Each frame of the capture, the first of a file opening it.
    void Frame(const VIDEOHDR& frame);
    // Each sound buffer, written into the file its frames are in.
    void Sound(const WAVEHDR& buffer);
    // The capture has ended: the last file completed, its log block and the silence the sound
    // input put in (`silenceMs`) added, the log saved, a refused write told.
    void Finish(DWORD silenceMs);

    const RecordingState& State() const { return state_; }
    const RecordingInput& Input() const { return input_; }
    // The name of this capture's file numbered `index`.
    std::string FilePathOf(std::uint16_t index) const;
    // The lines of the capture log so far, as CapLog.txt holds them.
    const QStringList& Log() const { return log_; }

    // ---- the AVI output, step by step (the capture's own steps, and benchmarks) ----
    void OpenAviOutput(const char* path);
    void CloseAviOutput();
    void WriteVideoFrame(const VIDEOHDR& frame);
    // The frame written again up to `copies` times; how many were.
    std::uint32_t RepeatVideoFrame(const VIDEOHDR& frame, std::uint32_t copies);
    void WriteAudioBuffer(const WAVEHDR& buffer);
    HRESULT LastResult() const { return lastResult_; }

    // The file the AVI service holds for the recording; null is "not held", and only what is
    // held is released.
    struct AviBufferFree {
        void operator()(struct AVISTREAMINFOA* header) const;
        void operator()(struct AVICOMPRESSOPTIONS* options) const;
        void operator()(WAVEFORMATEX* format) const;
    };
    struct AviOutputFile {
        AviOutputFile() = default;
        AviOutputFile(const AviOutputFile&) = delete;
        AviOutputFile& operator=(const AviOutputFile&) = delete;
        ~AviOutputFile();
        void Release();

        struct IAVIFile* File = nullptr;
        struct IAVIStream* RawVideoStream = nullptr;
        IAVIStream* CompressedVideoStream = nullptr;
        IAVIStream* AudioStream = nullptr;
        std::unique_ptr<AVISTREAMINFOA, AviBufferFree> VideoStreamHeader;
        std::unique_ptr<AVISTREAMINFOA, AviBufferFree> AudioStreamHeader;
        std::unique_ptr<AVICOMPRESSOPTIONS, AviBufferFree> CompressOptions;
        std::unique_ptr<WAVEFORMATEX, AviBufferFree> AudioFormat;
        bool ServiceStarted = false;  // an AVIFileInit still owed its AVIFileExit
        std::string Path;             // the name it was opened with, for the messages about it
        bool TakesNothing = false;    // an open that failed part-way: removed once released
    };
    const AviOutputFile& Output() const { return output_; }
    // Where frames go; null when the open did not make it.
    IAVIStream* VideoTarget() const { return videoTarget_; }

  private:
    friend struct RecorderInternals;  // tests set the state a long capture would reach

    // recorder.cpp: naming, start and end
    bool FileNamesFit() const;
    void BuildFilePath();
    void FinishLastFile(DWORD silenceMs);
    // video_stream.cpp: the frame side and the drift rules
    void RecordFrame(const VIDEOHDR& frame);
    void OpenNextFile(const VIDEOHDR& frame);
    void FinishFullFile(const VIDEOHDR& frame);
    void CheckDrift();
    std::uint32_t FramesMissedBefore(const VIDEOHDR& frame) const;
    std::uint32_t FramesSoundLeadsBy(const VIDEOHDR& frame) const;
    bool NoRoomFor(const VIDEOHDR& frame, std::uint32_t copies) const;
    // audio_status.cpp: the sound side and the roll-over
    void RecordAudioBuffer(const WAVEHDR& buffer);
    void MeasureDrift(std::uint32_t bytesRecorded);
    void RollOverFullFile();
    // avi_output.cpp
    void AppendFrame(const VIDEOHDR& frame);
    bool Refused();
    void Abandon(const char* text);
    void AbandonUnopened(const char* path);
    void AbandonUnformatted(const std::string& text);
    void ReportWriteFailure();
    std::string RecordedIn() const;
    std::string WriteFailureText() const;
    // capture_log.cpp
    void AppendLogBlock();
    void AppendSilenceLine(DWORD silenceMs);
    void AppendLog(const QStringList& lines);
    void SaveCaptureLog();

    RecorderEvents& events_;
    RecordingInput input_;
    bool systemFolder_ = false;  // the destination was typed as the system names a folder
    RecordingState state_;
    AviOutputFile output_;
    IAVIStream* videoTarget_ = nullptr;
    HRESULT lastResult_ = 0;
    QStringList log_;
};

// Whether the AVI service can make a stream compressed with `fourcc` on this machine; the
// service's answer (AVIERR_OK when it can). It leaves its probe file, "Null.avi", behind.
HRESULT ProbeCompressor(DWORD fourcc);

// A file's video always runs at 25 frames a second, whatever rate the capture has.
std::int32_t VideoTimeOf(std::int32_t frames);

// Every buffer of the file counts as long as the present one; the file's audio is always
// 176,400 bytes a second.
std::int32_t AudioTimeOf(std::int32_t blocks, std::uint32_t bytesRecorded);
