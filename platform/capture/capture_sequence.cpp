// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/capture/capture_sequence.h"

#include <QCoreApplication>
#include <QKeyEvent>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPointer>
#include <QTimer>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <memory>
#include <new>
#include <vector>

#include "platform/capture/capture_source.h"
#include "platform/capture/capture_window.h"
#include "platform/messages.h"
#include "platform/window_handles.h"

namespace platform {
namespace {

constexpr std::int64_t kNever = std::numeric_limits<std::int64_t>::max();
constexpr std::int64_t kMicrosPerSecond = 1'000'000;
constexpr double kLargestSkewPpm = 500'000;
// A card holds a few frames while the program is busy; older ones are lost.
constexpr std::int64_t kFramesHeld = 4;

constexpr const char* kBeginText = "Début de la capture";
constexpr const char* kEndText = "Fin de la capture";

int QtKeyOf(UINT virtualKey) {
    const UINT vk = virtualKey & 0xFF;
    if ((vk >= '0' && vk <= '9') || (vk >= 'A' && vk <= 'Z')) return static_cast<int>(vk);
    if (vk >= 0x70 && vk <= 0x87) return Qt::Key_F1 + static_cast<int>(vk - 0x70);
    switch (vk) {
        case 0x08:
            return Qt::Key_Backspace;
        case 0x09:
            return Qt::Key_Tab;
        case 0x0D:
            return Qt::Key_Return;
        case 0x13:
            return Qt::Key_Pause;
        case 0x1B:
            return Qt::Key_Escape;
        case 0x20:
            return Qt::Key_Space;
        case 0x21:
            return Qt::Key_PageUp;
        case 0x22:
            return Qt::Key_PageDown;
        case 0x23:
            return Qt::Key_End;
        case 0x24:
            return Qt::Key_Home;
        case 0x25:
            return Qt::Key_Left;
        case 0x26:
            return Qt::Key_Up;
        case 0x27:
            return Qt::Key_Right;
        case 0x28:
            return Qt::Key_Down;
        case 0x2D:
            return Qt::Key_Insert;
        case 0x2E:
            return Qt::Key_Delete;
        default:
            return Qt::Key_unknown;
    }
}

// Watches the whole application for the abort key and buttons while a capture runs.
class AbortWatcher : public QObject {
  public:
    AbortWatcher(const CAPTUREPARMS& parms, SequenceControl& control)
        : key_(QtKeyOf(parms.vKeyAbort)), control_(control) {
        if (parms.fAbortLeftMouse) buttons_ |= Qt::LeftButton;
        if (parms.fAbortRightMouse) buttons_ |= Qt::RightButton;
        if (QCoreApplication::instance() != nullptr)
            QCoreApplication::instance()->installEventFilter(this);
    }
    ~AbortWatcher() override {
        if (QCoreApplication::instance() != nullptr)
            QCoreApplication::instance()->removeEventFilter(this);
    }

    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::KeyPress) {
            const int key = static_cast<QKeyEvent*>(event)->key();
            if (key_ != Qt::Key_unknown &&
                (key == key_ || (key_ == Qt::Key_Return && key == Qt::Key_Enter)))
                control_.Request(SequenceEnd::Stop);
        } else if (event->type() == QEvent::MouseButtonPress) {
            if ((static_cast<QMouseEvent*>(event)->button() & buttons_) != 0)
                control_.Request(SequenceEnd::Stop);
        }
        return false;
    }

  private:
    int key_;
    Qt::MouseButtons buttons_;
    SequenceControl& control_;
};

// The scripted user's box left open: it holds the thread in its own event loop for that long, as
// any modal box does, and the capture meanwhile misses what a card would miss.
void HoldModalBox(long forMs) {
    QMessageBox box(QMessageBox::Information, QStringLiteral("Vistrel"),
                    QStringLiteral("Boîte laissée ouverte par l'utilisateur scripté"));
    QTimer::singleShot(static_cast<int>(forMs), &box, &QDialog::accept);
    box.exec();
}

// One capture, from the begin status to the end status. Whatever a callback does to the
// window, the capture only reaches it again through window_, which empties when it is gone.
class Sequence {
  public:
    explicit Sequence(CaptureWindow& window);
    ~Sequence();
    Sequence(const Sequence&) = delete;
    Sequence& operator=(const Sequence&) = delete;

    bool Start();
    void Run();

  private:
    std::int64_t EndTime() const;
    std::int64_t NextAudioTime() const;
    void Loop();
    bool Step();
    void DropLateFrames();
    void DeliverFrame();
    void DeliverAudio(std::uint32_t samples);
    void DeliverPendingAudio();
    void CheckScriptedFrames();
    void Recheck();
    void Report();
    void Finish();
    void TellDeviceCounts() const;
    void TellSoundLoss(const SoundLoss& sound) const;
    void ScheduleScriptedBox();

    QPointer<CaptureWindow> window_;
    HWND handle_;
    CAPTUREPARMS parms_;
    WAVEFORMATEX format_;
    ScriptedUser user_;
    bool audio_;
    DWORD samplesPerBuffer_;
    SequenceControl control_;
    std::shared_ptr<VideoSource> video_;
    std::vector<BYTE> buffer_;
    SequenceTiming timing_;
    CaptureTiming sources_;
    AudioSource& sound_;
    CaptureClock& clock_;
    bool started_ = false;
    std::int64_t endTime_;
    std::int64_t stopTime_ = 0;
    std::uint64_t nextFrame_ = 0;
    std::uint64_t nextBuffer_ = 0;
    std::uint64_t samplesDelivered_ = 0;
    std::uint64_t framesCaptured_ = 0;
    std::uint64_t framesDropped_ = 0;
    VIDEOHDR frameHeader_{};
    WAVEHDR waveHeader_{};
    QTimer boxTimer_;
};

Sequence::Sequence(CaptureWindow& window)
    : window_(&window),
      handle_(HandleOf(&window)),
      parms_(window.sequenceSetup()),
      format_(window.audioFormat()),
      user_(Machine().user),
      audio_(parms_.fCaptureAudio != FALSE),
      samplesPerBuffer_(AudioBufferBytes(parms_, format_) / format_.nBlockAlign),
      video_(window.source()),
      buffer_(AudioBufferBytes(parms_, format_)),
      timing_(parms_.dwRequestMicroSecPerFrame, window.driver().skewPpm, format_.nSamplesPerSec,
              samplesPerBuffer_),
      sources_(OpenCaptureTiming(window.driver(), format_, samplesPerBuffer_)),
      sound_(*sources_.audio),
      clock_(*sources_.clock),
      endTime_(EndTime()) {}

Sequence::~Sequence() {
    if (started_) video_->Stop();
    if (window_) window_->DetachSequence(&control_);
}

bool Sequence::Start() {
    started_ = video_->Start(std::max(parms_.dwRequestMicroSecPerFrame, kShortestFramePeriodUs));
    return started_;
}

std::int64_t Sequence::EndTime() const {
    std::int64_t end = kNever;
    if (parms_.fLimitEnabled) end = std::int64_t{parms_.wTimeLimit} * kMicrosPerSecond;
    if (user_.escapeAfterMs && *user_.escapeAfterMs > 0)
        end = std::min<std::int64_t>(end, std::int64_t{*user_.escapeAfterMs} * 1000);
    return end;
}

void Sequence::Run() {
    window_->AttachSequence(&control_);
    {
        AbortWatcher watcher(parms_, control_);
        if (const CAPSTATUSCALLBACK status = window_->statusCallback())
            status(handle_, IDS_CAP_BEGIN, kBeginText);
        Recheck();
        clock_.Start();
        ScheduleScriptedBox();
        Loop();
        DeliverPendingAudio();
    }
    Finish();
    TellDeviceCounts();
}

void Sequence::Loop() {
    while (!control_.ended() && Step()) {
        Recheck();
        Report();
    }
    stopTime_ = std::min(clock_.Now(), endTime_);
}

// Waits for the next event and delivers it; false once the end time has come.
bool Sequence::Step() {
    if (!clock_.isVirtual() && video_->missesLateFrames()) DropLateFrames();
    const std::int64_t frameAt = timing_.FrameTime(nextFrame_);
    const std::int64_t audioAt = NextAudioTime();
    const std::int64_t next = std::min(frameAt, audioAt);
    if (next >= endTime_) {
        clock_.WaitUntil(endTime_, control_);
        control_.Request(SequenceEnd::Stop);
        return false;
    }
    clock_.WaitUntil(next, control_);
    if (control_.ended()) return false;
    if (frameAt <= audioAt) {
        DeliverFrame();
        CheckScriptedFrames();
    } else {
        ++nextBuffer_;
        DeliverAudio(samplesPerBuffer_);
    }
    return true;
}

std::int64_t Sequence::NextAudioTime() const {
    return audio_ ? timing_.BufferDone(nextBuffer_) : kNever;
}

// Frames the program was too busy to take are lost, as on a card with a few buffers.
void Sequence::DropLateFrames() {
    const std::int64_t now = clock_.Now();
    const std::int64_t held = kFramesHeld * std::int64_t{parms_.dwRequestMicroSecPerFrame};
    while (now - timing_.FrameTime(nextFrame_) > held) {
        ++nextFrame_;
        ++framesDropped_;
    }
}

void Sequence::DeliverFrame() {
    const std::uint64_t frame = nextFrame_++;
    ++framesCaptured_;
    Report();
    const CAPVIDEOCALLBACK callback = window_->videoCallback();
    if (callback == nullptr) return;
    const std::int64_t at = timing_.FrameTime(frame);
    const std::span<BYTE> bytes =
        video_->Frame(frame, timing_.IsFlash(frame), clock_.MonotonicAt(at));
    if (video_->lost()) {
        // An unplugged device ends the capture as the abort key does; the user is told after.
        control_.Request(SequenceEnd::Stop);
        return;
    }
    frameHeader_ = VIDEOHDR{};
    frameHeader_.lpData = bytes.data();
    frameHeader_.dwBufferLength = video_->capacity();
    frameHeader_.dwBytesUsed = static_cast<DWORD>(bytes.size());
    frameHeader_.dwTimeCaptured = static_cast<DWORD>(at / 1000);
    frameHeader_.dwFlags = VHDR_DONE | VHDR_KEYFRAME;
    callback(handle_, &frameHeader_);
}

void Sequence::DeliverAudio(std::uint32_t samples) {
    const std::uint64_t first = samplesDelivered_;
    samplesDelivered_ += samples;
    Report();
    const CAPWAVECALLBACK callback = window_->waveCallback();
    if (callback == nullptr) return;
    sound_.Fill(first, samples, buffer_.data());
    waveHeader_ = WAVEHDR{};
    waveHeader_.lpData = reinterpret_cast<LPSTR>(buffer_.data());
    waveHeader_.dwBufferLength = static_cast<DWORD>(buffer_.size());
    waveHeader_.dwBytesRecorded = samples * format_.nBlockAlign;
    waveHeader_.dwFlags = WHDR_DONE;
    callback(handle_, &waveHeader_);
}

// Sound recorded since the last full buffer is handed over in a last, shorter buffer, so that a
// stopped capture loses none of it.
void Sequence::DeliverPendingAudio() {
    if (!audio_) return;
    const std::uint64_t recorded = timing_.SamplesBy(stopTime_);
    while (control_.end == SequenceEnd::Stop && samplesDelivered_ < recorded) {
        DeliverAudio(static_cast<std::uint32_t>(
            std::min<std::uint64_t>(recorded - samplesDelivered_, samplesPerBuffer_)));
        Recheck();
    }
    Report();
}

void Sequence::ScheduleScriptedBox() {
    const std::optional<ScriptedStall>& stall = user_.stall;
    if (!stall || stall->kind != ScriptedStall::Kind::Message || clock_.isVirtual()) return;
    boxTimer_.setSingleShot(true);
    QObject::connect(&boxTimer_, &QTimer::timeout,
                     [length = stall->forMs] { HoldModalBox(length); });
    boxTimer_.start(static_cast<int>(stall->atMs));
}

void Sequence::CheckScriptedFrames() {
    const auto& after = user_.escapeAfterFrames;
    if (after && *after > 0 && framesCaptured_ >= static_cast<std::uint64_t>(*after))
        control_.Request(SequenceEnd::Stop);
}

void Sequence::Recheck() {
    if (!window_ || !window_->connected()) control_.Request(SequenceEnd::Lost);
}

void Sequence::Report() {
    if (!window_) return;
    CaptureProgress& p = window_->progress();
    p.frames = static_cast<DWORD>(framesCaptured_);
    p.dropped = static_cast<DWORD>(framesDropped_);
    p.samples = static_cast<DWORD>(samplesDelivered_);
    p.elapsedMs = static_cast<DWORD>(clock_.Now() / 1000);
}

void Sequence::Finish() {
    video_->Stop();
    started_ = false;
    const SoundLoss sound = audio_ ? sound_.loss() : SoundLoss{};
    if (window_) {
        window_->DetachSequence(&control_);
        window_->progress().silenceMs =
            static_cast<DWORD>(sound.silencedSamples * 1000 / format_.nSamplesPerSec);
        if (const CAPSTATUSCALLBACK status = window_->statusCallback())
            status(handle_, IDS_CAP_END, kEndText);
    }
    if (video_->lost())
        ShowMessage("Le périphérique vidéo " + video_->deviceName() +
                    " ne répond plus : la capture a été arrêtée.");
    TellSoundLoss(sound);
}

// The file plays, but with silence where the sound should be: the user hears of it now rather
// than when watching the recording.
void Sequence::TellSoundLoss(const SoundLoss& sound) const {
    if (sound.missing)
        ShowMessage("L'entrée son \"" + sound.input +
                    "\" n'a pas pu être ouverte : du silence a été enregistré à sa place.");
    else if (sound.lost)
        ShowMessage("L'entrée son \"" + sound.input +
                    "\" ne répond plus : du silence a été enregistré à sa place.");
}

// A real device's rate seldom matches the grid: what was repeated or dropped is said once.
void Sequence::TellDeviceCounts() const {
    if (video_->deviceName().empty()) return;
    std::fprintf(stderr, "%s: video %s: %llu frame(s) repeated, %llu dropped\n",
                 program_invocation_short_name, video_->deviceName().c_str(),
                 static_cast<unsigned long long>(video_->repeated()),
                 static_cast<unsigned long long>(video_->dropped()));
}

}  // namespace

SequenceTiming::SequenceTiming(DWORD periodUs, double skewPpm, DWORD samplesPerSecond,
                               DWORD samplesPerBuffer)
    : framePeriod_(static_cast<long double>(std::max(periodUs, kShortestFramePeriodUs)) * 1e6L /
                   (1e6L + std::clamp(skewPpm, -kLargestSkewPpm, kLargestSkewPpm))),
      rate_(std::max<DWORD>(samplesPerSecond, 1)),
      samplesPerBuffer_(std::max<DWORD>(samplesPerBuffer, 1)) {}

std::int64_t SequenceTiming::FrameTime(std::uint64_t frame) const {
    return std::llround(static_cast<long double>(frame) * framePeriod_);
}

bool SequenceTiming::IsFlash(std::uint64_t frame) const {
    if (frame == 0) return true;
    return FrameTime(frame) / kMicrosPerSecond != FrameTime(frame - 1) / kMicrosPerSecond;
}

std::int64_t SequenceTiming::BufferDone(std::uint64_t buffer) const {
    const std::uint64_t scaled = (buffer + 1) * samplesPerBuffer_ * kMicrosPerSecond;
    return static_cast<std::int64_t>((scaled + rate_ - 1) / rate_);
}

std::uint64_t SequenceTiming::SamplesBy(std::int64_t time) const {
    if (time <= 0) return 0;
    return static_cast<std::uint64_t>(time) * rate_ / kMicrosPerSecond;
}

DWORD AudioBufferBytes(const CAPTUREPARMS& parms, const WAVEFORMATEX& format) {
    const DWORD block = std::max<DWORD>(format.nBlockAlign, 1);
    const DWORD perSecond = format.nAvgBytesPerSec;
    DWORD size = parms.dwAudioBufferSize;
    if (size == 0) size = std::max<DWORD>(perSecond / 2, 10000);
    size = std::min(size, std::max<DWORD>(perSecond * 10, 10000));
    size -= size % block;
    return std::max(size, block);
}

LRESULT RunSequence(CaptureWindow& window) {
    if (!window.connected() || window.capturing()) return FALSE;
    std::unique_ptr<Sequence> sequence;
    try {
        sequence = std::make_unique<Sequence>(window);
        if (!sequence->Start()) return FALSE;
    } catch (const std::bad_alloc&) {
        ShowMessage("Mémoire insuffisante : la capture n'a pas pu démarrer.");
        return FALSE;
    } catch (const std::exception&) {
        return FALSE;
    }
    sequence->Run();
    return TRUE;
}

}  // namespace platform
