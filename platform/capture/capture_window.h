// SPDX-License-Identifier: GPL-2.0-or-later
// The capture window: a child widget that holds a driver connection, the formats and sequence
// set-up the program negotiates with it, the three callbacks, and the live picture.
#pragma once

#include <QElapsedTimer>
#include <QTimer>
#include <QWidget>
#include <memory>
#include <string>

#include "platform/machine.h"
#include "platform/vfw.h"

namespace platform {

class VideoSource;
struct SequenceControl;

enum class DriverDialog { Format, Source, Display, Compression };

// What a running capture has done so far, as WM_CAP_GET_STATUS reports it.
struct CaptureProgress {
    DWORD frames = 0;
    DWORD dropped = 0;
    DWORD samples = 0;
    DWORD elapsedMs = 0;
    DWORD silenceMs = 0;  // sound the input lost or never gave, replaced by silence
};

class CaptureWindow : public QWidget {
    Q_OBJECT
  public:
    explicit CaptureWindow(QWidget* parent);
    ~CaptureWindow() override;

    bool Connect(WPARAM index);
    // Why the last connect was refused: the device and the system's reason, one line; empty when
    // the last connect succeeded or had nothing to tell.
    const std::string& connectFailure() const { return connectFailure_; }
    bool Disconnect();
    bool connected() const { return connected_; }
    const DriverDescription& driver() const { return driver_; }
    // What stands behind the connected driver; shared, so a capture keeps it while a callback
    // disconnects.
    std::shared_ptr<VideoSource> source() const { return source_; }

    const BITMAPINFOHEADER& videoFormat() const { return videoFormat_; }
    bool SetVideoFormat(const BITMAPINFOHEADER& requested);
    const WAVEFORMATEX& audioFormat() const { return audioFormat_; }
    bool SetAudioFormat(const WAVEFORMATEX& requested);
    const CAPTUREPARMS& sequenceSetup() const { return setup_; }
    bool SetSequenceSetup(const void* bytes, std::size_t size);
    CAPSTATUS Status() const;

    CAPSTATUSCALLBACK statusCallback() const { return statusCallback_; }
    CAPVIDEOCALLBACK videoCallback() const { return videoCallback_; }
    CAPWAVECALLBACK waveCallback() const { return waveCallback_; }
    void SetStatusCallback(CAPSTATUSCALLBACK callback) { statusCallback_ = callback; }
    void SetVideoCallback(CAPVIDEOCALLBACK callback);
    void SetWaveCallback(CAPWAVECALLBACK callback);

    bool SetOverlay(bool on);
    bool SetPreview(bool on);
    bool SetPreviewRate(WPARAM milliseconds);
    bool overlayOn() const { return overlay_; }
    bool previewOn() const { return preview_; }
    int previewRateMs() const { return previewRateMs_; }

    bool ShowDriverDialog(DriverDialog which);

    bool capturing() const { return sequence_ != nullptr; }
    // The running capture registers itself here, so that the window can end it.
    void AttachSequence(SequenceControl* control);
    void DetachSequence(const SequenceControl* control);
    bool EndSequence(bool abort);
    CaptureProgress& progress() { return progress_; }
    const CaptureProgress& progress() const { return progress_; }

    // Number of the frame the live display shows (grows while it runs).
    std::uint32_t liveFrame() const { return liveFrame_; }

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    void LoseSequence();
    void RestartLiveDisplay();
    void StopLiveDisplay();
    void ShowLiveFrame();

    bool connected_ = false;
    std::string connectFailure_;
    DriverDescription driver_;
    BITMAPINFOHEADER videoFormat_{};
    WAVEFORMATEX audioFormat_{};
    CAPTUREPARMS setup_{};
    CAPSTATUSCALLBACK statusCallback_ = nullptr;
    CAPVIDEOCALLBACK videoCallback_ = nullptr;
    CAPWAVECALLBACK waveCallback_ = nullptr;

    bool overlay_ = false;
    bool preview_ = false;
    int previewRateMs_ = 66;
    QTimer liveTimer_;
    QElapsedTimer liveClock_;
    std::shared_ptr<VideoSource> source_;
    const QImage* live_ = nullptr;
    std::uint32_t liveFrame_ = 0;

    SequenceControl* sequence_ = nullptr;
    CaptureProgress progress_;
};

// The capture window behind a handle; nullptr when the handle is 0, unknown, gone or names
// another kind of window.
CaptureWindow* CaptureWindowOf(HWND handle);

}  // namespace platform
