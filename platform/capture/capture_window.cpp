// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/capture/capture_window.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QLabel>
#include <QPainter>
#include <QVBoxLayout>
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "platform/capture/capture_sequence.h"
#include "platform/capture/capture_source.h"
#include "platform/capture/device_dialogs.h"
#include "platform/capture/sound_inputs.h"
#include "platform/window_handles.h"

namespace platform {
namespace {

constexpr int kLiveFramePeriodMs = 40;
constexpr int kLongestPreviewRateMs = 10000;

CAPTUREPARMS DefaultSetup() {
    CAPTUREPARMS p{};
    p.dwRequestMicroSecPerFrame = 66667;
    p.wPercentDropForError = 10;
    p.dwIndexSize = 34952;
    p.wNumVideoRequested = 5;
    p.fCaptureAudio = TRUE;
    p.wNumAudioRequested = 4;
    p.vKeyAbort = VK_ESCAPE;
    p.fAbortLeftMouse = TRUE;
    p.fAbortRightMouse = TRUE;
    p.wStepCaptureAverageFrames = 3;
    p.AVStreamMaster = AVSTREAMMASTER_AUDIO;
    return p;
}

WAVEFORMATEX DefaultAudio() {
    return WAVEFORMATEX{WAVE_FORMAT_PCM, 2, 44100, 176400, 4, 16, 0};
}

bool ValidPcm(const WAVEFORMATEX& f) {
    if (f.wFormatTag != WAVE_FORMAT_PCM) return false;
    if (f.nChannels < 1 || f.nChannels > 2) return false;
    if (f.wBitsPerSample != 8 && f.wBitsPerSample != 16) return false;
    if (f.nSamplesPerSec < 4000 || f.nSamplesPerSec > 192000) return false;
    if (f.nBlockAlign != f.nChannels * f.wBitsPerSample / 8) return false;
    return f.nAvgBytesPerSec == f.nSamplesPerSec * f.nBlockAlign;
}

QString SizeText(int width, int height) {
    return QStringLiteral("%1 × %2").arg(width).arg(height);
}

QString FormatText(const BITMAPINFOHEADER& f) {
    const QString kind =
        f.biCompression == BI_RGB ? QStringLiteral("RGB24") : QStringLiteral("MJPG");
    return kind + QLatin1Char(' ') + SizeText(f.biWidth, f.biHeight);
}

QString AcceptedSizesText(const DriverDescription& d) {
    if (d.kind == "v4l2") return QStringLiteral("celles que le périphérique donne exactement");
    if (d.acceptsAny) return QStringLiteral("toutes");
    QStringList sizes;
    for (const FrameSize& s : d.accepts) sizes << SizeText(s.width, s.height);
    if (d.compression == BI_RGB) sizes << SizeText(d.size.width, d.size.height);
    sizes.removeDuplicates();
    return sizes.join(QStringLiteral(", "));
}

QString DialogTitle(DriverDialog which) {
    switch (which) {
        case DriverDialog::Format:
            return QStringLiteral("Format vidéo");
        case DriverDialog::Source:
            return QStringLiteral("Source vidéo");
        case DriverDialog::Display:
            return QStringLiteral("Affichage vidéo");
        case DriverDialog::Compression:
            return QStringLiteral("Compression vidéo");
    }
    return {};
}

QStringList SourceLines(const DriverDescription& d) {
    if (d.kind == "v4l2")
        return {QStringLiteral("Source : périphérique vidéo ") + QString::fromStdString(d.device),
                QStringLiteral("Son : entrée son ") + QString::fromStdString(SoundInputFor(d))};
    return {QStringLiteral("Source : mire de test intégrée"),
            QStringLiteral("Image : barres de couleur, repère mobile, numéro d'image, "
                           "éclair blanc à chaque seconde"),
            QStringLiteral("Son : bip de 1 kHz à chaque seconde")};
}

QStringList DialogLines(DriverDialog which, const DriverDescription& d,
                        const BITMAPINFOHEADER& native, const BITMAPINFOHEADER& current) {
    switch (which) {
        case DriverDialog::Format:
            return {QStringLiteral("Format actuel : ") + FormatText(current),
                    QStringLiteral("Format natif : ") + FormatText(native),
                    QStringLiteral("Tailles RGB24 acceptées : ") + AcceptedSizesText(d)};
        case DriverDialog::Source:
            return SourceLines(d);
        case DriverDialog::Display:
            return {d.overlay ? QStringLiteral("Overlay : disponible")
                              : QStringLiteral("Overlay : non disponible (preview seulement)")};
        case DriverDialog::Compression:
            return {current.biCompression == BI_RGB
                        ? QStringLiteral("Compression : aucune (RGB24)")
                        : QStringLiteral("Compression : MJPG (une image JPEG par trame)")};
    }
    return {};
}

void RunDialog(QWidget* owner, const QString& title, const QStringList& lines) {
    QDialog dialog(owner);
    dialog.setObjectName(QStringLiteral("driverDialog"));
    dialog.setWindowTitle(title);
    auto* layout = new QVBoxLayout(&dialog);
    layout->addWidget(new QLabel(lines.join(QLatin1Char('\n')), &dialog));
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, &dialog);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    layout->addWidget(buttons);
    dialog.exec();
}

}  // namespace

CaptureWindow::CaptureWindow(QWidget* parent)
    : QWidget(parent), audioFormat_(DefaultAudio()), setup_(DefaultSetup()) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    liveTimer_.setTimerType(Qt::PreciseTimer);
    connect(&liveTimer_, &QTimer::timeout, this, &CaptureWindow::ShowLiveFrame);
}

CaptureWindow::~CaptureWindow() {
    LoseSequence();
}

bool CaptureWindow::Connect(WPARAM index) {
    connectFailure_.clear();
    const auto& drivers = Machine().drivers;
    if (capturing() || index >= drivers.size()) return false;
    const auto& slot = drivers[index];
    if (!slot || !slot->connect) return false;
    if (connected_) Disconnect();
    int error = 0;
    std::shared_ptr<VideoSource> source = OpenVideoSource(*slot, &error);
    const std::string reason = DeviceErrorReason(error);
    connectFailure_ = reason.empty() ? std::string() : slot->device + " : " + reason;
    if (!source) return false;
    source_ = std::move(source);
    driver_ = *slot;
    connected_ = true;
    videoFormat_ = source_->format();
    return true;
}

bool CaptureWindow::Disconnect() {
    if (!connected_) return false;
    overlay_ = false;
    preview_ = false;
    StopLiveDisplay();
    connected_ = false;
    LoseSequence();
    live_ = nullptr;
    source_.reset();
    return true;
}

bool CaptureWindow::SetVideoFormat(const BITMAPINFOHEADER& requested) {
    if (!connected_ || capturing()) return false;
    const int w = requested.biWidth;
    const int h = requested.biHeight;
    const bool rgb24 = requested.biCompression == BI_RGB &&
                       (requested.biBitCount == 0 || requested.biBitCount == 24);
    const BITMAPINFOHEADER native = source_->NativeFormat();
    const bool isNative = requested.biCompression == native.biCompression && w == native.biWidth &&
                          h == native.biHeight;
    if (!(rgb24 && source_->UseRgb(w, h)) && !(isNative && source_->UseNative())) return false;
    videoFormat_ = source_->format();
    live_ = nullptr;
    RestartLiveDisplay();
    return true;
}

bool CaptureWindow::SetAudioFormat(const WAVEFORMATEX& requested) {
    if (capturing() || !ValidPcm(requested)) return false;
    audioFormat_ = requested;
    audioFormat_.cbSize = 0;
    return true;
}

bool CaptureWindow::SetSequenceSetup(const void* bytes, std::size_t size) {
    if (capturing() || bytes == nullptr || size == 0) return false;
    std::memcpy(&setup_, bytes, std::min(size, sizeof setup_));
    return true;
}

CAPSTATUS CaptureWindow::Status() const {
    CAPSTATUS s{};
    if (connected_) {
        s.uiImageWidth = static_cast<UINT>(videoFormat_.biWidth);
        s.uiImageHeight = static_cast<UINT>(videoFormat_.biHeight);
    }
    s.fLiveWindow = preview_ ? TRUE : FALSE;
    s.fOverlayWindow = overlay_ ? TRUE : FALSE;
    s.fScale = TRUE;
    s.fAudioHardware = TRUE;
    s.dwCurrentVideoFrame = progress_.frames;
    s.dwCurrentVideoFramesDropped = progress_.dropped;
    s.dwCurrentWaveSamples = progress_.samples;
    s.dwCurrentTimeElapsedMS = progress_.elapsedMs;
    s.fCapturingNow = capturing() ? TRUE : FALSE;
    s.wNumVideoAllocated = capturing() ? 1 : 0;
    s.wNumAudioAllocated = capturing() && setup_.fCaptureAudio ? 1 : 0;
    return s;
}

// Removing a stream callback while it is being fed means its owner is going away.
void CaptureWindow::SetVideoCallback(CAPVIDEOCALLBACK callback) {
    if (callback == nullptr && videoCallback_ != nullptr) LoseSequence();
    videoCallback_ = callback;
}

void CaptureWindow::SetWaveCallback(CAPWAVECALLBACK callback) {
    if (callback == nullptr && waveCallback_ != nullptr) LoseSequence();
    waveCallback_ = callback;
}

bool CaptureWindow::SetOverlay(bool on) {
    if (!connected_ || !driver_.overlay) return false;
    overlay_ = on;
    if (on) preview_ = false;
    RestartLiveDisplay();
    return true;
}

bool CaptureWindow::SetPreview(bool on) {
    if (!connected_) return false;
    preview_ = on;
    if (on) overlay_ = false;
    RestartLiveDisplay();
    return true;
}

bool CaptureWindow::SetPreviewRate(WPARAM milliseconds) {
    previewRateMs_ = static_cast<int>(
        std::clamp<WPARAM>(milliseconds, 1, static_cast<WPARAM>(kLongestPreviewRateMs)));
    if (preview_) RestartLiveDisplay();
    return true;
}

void CaptureWindow::RestartLiveDisplay() {
    if (!connected_ || (!overlay_ && !preview_)) {
        StopLiveDisplay();
        return;
    }
    if (!liveClock_.isValid()) liveClock_.start();
    liveTimer_.start(overlay_ ? kLiveFramePeriodMs : previewRateMs_);
    ShowLiveFrame();
}

void CaptureWindow::StopLiveDisplay() {
    liveTimer_.stop();
    live_ = nullptr;
    if (source_) source_->StopLive();
    update();
}

void CaptureWindow::ShowLiveFrame() {
    if (!source_) return;
    liveFrame_ = static_cast<std::uint32_t>(liveClock_.elapsed() / kLiveFramePeriodMs);
    live_ = source_->Live(liveFrame_);
    update();
}

void CaptureWindow::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    if (!live_ || !connected_ || (!overlay_ && !preview_)) {
        painter.fillRect(rect(), Qt::black);
        return;
    }
    // DIB rows run bottom-up: flip the picture to show it upright.
    painter.translate(0, height());
    painter.scale(1, -1);
    painter.drawImage(QRect(0, 0, width(), height()), *live_);
}

bool CaptureWindow::ShowDriverDialog(DriverDialog which) {
    if (!connected_) return false;
    if (which == DriverDialog::Source || which == DriverDialog::Format) {
        if (const std::unique_ptr<DeviceSetup> setup = source_->Setup()) {
            if (which == DriverDialog::Source)
                RunSourceDialog(*setup, this);
            else
                RunFormatDialog(*setup, videoFormat_, this);
            return true;
        }
    }
    const QString title =
        QString::fromStdString(driver_.name) + QStringLiteral(" — ") + DialogTitle(which);
    const QStringList lines = DialogLines(which, driver_, source_->NativeFormat(), videoFormat_);
    if (Machine().user.messagesToStderr) {
        std::fprintf(stderr, "dialog: %s: %s\n", title.toUtf8().constData(),
                     lines.join(QStringLiteral("; ")).toUtf8().constData());
        return true;
    }
    RunDialog(this, title, lines);
    return true;
}

void CaptureWindow::AttachSequence(SequenceControl* control) {
    sequence_ = control;
    progress_ = {};
}

void CaptureWindow::DetachSequence(const SequenceControl* control) {
    if (sequence_ == control) sequence_ = nullptr;
}

bool CaptureWindow::EndSequence(bool abort) {
    if (sequence_ == nullptr) return false;
    sequence_->Request(abort ? SequenceEnd::Abort : SequenceEnd::Stop);
    return true;
}

void CaptureWindow::LoseSequence() {
    if (sequence_ != nullptr) sequence_->Request(SequenceEnd::Lost);
}

CaptureWindow* CaptureWindowOf(HWND handle) {
    return qobject_cast<CaptureWindow*>(WidgetOf(handle));
}

}  // namespace platform
