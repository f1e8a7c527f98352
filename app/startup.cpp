// SPDX-License-Identifier: GPL-2.0-or-later
// The spine of a run: the main window's creation, its one activation, the start and close
// timers, "Quitter" and the close, with the run mode deciding which steps run.
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QTimer>
#include <algorithm>
#include <climits>
#include <cstdint>
#include <string>

#include "app/form1.h"
#include "app/stream_handlers.h"
#include "platform/conversions.h"
#include "platform/display.h"
#include "platform/messages.h"
#include "settings/settings_file.h"

namespace {

// Activation belongs to the first showing of the window: message boxes and driver dialogs hand
// the focus back without a new one, and the start timer must be armed once per run.
class FirstShowWatcher : public QObject {
  public:
    explicit FirstShowWatcher(TForm1* form) : QObject(form), form_(form) {
        form->installEventFilter(this);
    }

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == form_ && event->type() == QEvent::Show) {
            form_->removeEventFilter(this);
            deleteLater();
            form_->FormActivate();
        }
        return false;
    }

  private:
    TForm1* form_;
};

// Within the 16-bit coordinates of an X screen: near the ends of an int the toolkit's own
// rectangle arithmetic overflows, and a place that far off is brought on screen afterwards anyway.
int SavedCoordinate(std::int32_t value) {
    return std::clamp<std::int32_t>(value, INT16_MIN, INT16_MAX);
}

// The default is the list's text; no item is selected.
void FillList(QComboBox* list, const QStringList& items, const QString& text) {
    list->addItems(items);
    list->setCurrentIndex(-1);
    list->setEditText(text);
}

void FillOptionLists(TForm1& form) {
    FillList(form.ComboBox2,
             {QStringLiteral("11025 Hz"), QStringLiteral("22050 Hz"), QStringLiteral("44100 Hz")},
             QStringLiteral("44100 Hz"));
    FillList(form.ComboBox3, {QStringLiteral("Mono"), QStringLiteral("Stéréo")},
             QStringLiteral("Stéréo"));
    QStringList rates;
    for (int rate = 5; rate <= 30; rate += 5) {
        rates << QStringLiteral("%1 Images/sec").arg(rate, 2, 10, QLatin1Char('0'));
    }
    FillList(form.ComboBox4, rates, QStringLiteral("25 Images/sec"));
}

void ApplySavedOptions(TForm1& form) {
    form.LoadSavedOptions();
    const std::string path = SettingsPath(ExeDirectory());
    form.CheckBox1->setChecked(ReadSettingLine(path, kCaptureCacheLine) == "1");
}

// Motion-JPEG, else DivX: the compressor every recording of this run will use.
bool ChooseCompressor(TForm1& form) {
    form.CompressorFourCC = QStringLiteral("MJPG");
    form.CodecAvailable = form.ProbeCompressor('M', 'J', 'P', 'G');
    if (!form.CodecAvailable) {
        form.CompressorFourCC = QStringLiteral("DIVX");
        form.CodecAvailable = form.ProbeCompressor('D', 'I', 'V', 'X');
    }
    if (!form.CodecAvailable) {
        platform::ShowMessage(
            "Codec de compression \"MPEG1\" ou \"DIVX\" non present sur votre ordinateur ...");
        form.close();
        return false;
    }
    form.Edit3->setText(form.CompressorFourCC);
    return true;
}

// Where a window of `length` starting at `start` goes along one side of a monitor: inside the
// work area when it fits there, else inside the whole monitor (under a panel, but on screen),
// else from the work area's start, so that its top-left part, title strip included, is reachable.
int Within(int start, int length, LONG workStart, LONG workEnd, LONG monitorStart,
           LONG monitorEnd) {
    if (length <= workEnd - workStart) return std::clamp<int>(start, workStart, workEnd - length);
    if (length <= monitorEnd - monitorStart) {
        return std::clamp<int>(start, monitorStart, monitorEnd - length);
    }
    return workStart;
}

}  // namespace

bool TForm1::IsFullScreenMode() const {
    return FillsTheScreen(Mode);
}

bool TForm1::IsAutomaticMode() const {
    return IsFullScreenMode() || Mode == RunMode::Time;
}

void TForm1::EndRunThatCannotCapture() {
    if (IsAutomaticMode()) Timer2->start();
}

// The program runs at the normal priority: nothing in it needs more, and a higher class would
// let a capture starve the desktop it runs on.
void TForm1::FormCreate() {
    new FirstShowWatcher(this);
    RunCreationSteps();
    KeepWindowOnScreen();
    Created = true;
}

// A saved place may lie off every screen or across an edge: saved at another scale or on a
// monitor since unplugged, or the Time mode's tile near the bottom. The window moves no further
// than it must; the full-screen layouts, which fill the monitor, stay where they are.
void TForm1::KeepWindowOnScreen() {
    // A saved place may be any whole number: the far edges must not overflow.
    const auto end = [](int start, int length) {
        return LONG(std::min<long long>(INT_MAX, static_cast<long long>(start) + length));
    };
    const RECT placed{x(), y(), end(x(), width()), end(y(), height())};
    MONITORINFO monitor{};
    monitor.cbSize = sizeof(monitor);
    if (!GetMonitorInfoA(MonitorFromRect(&placed, MONITOR_DEFAULTTONEAREST), &monitor)) return;
    const RECT& work = monitor.rcWork;
    const RECT& whole = monitor.rcMonitor;
    move(Within(x(), width(), work.left, work.right, whole.left, whole.right),
         Within(y(), height(), work.top, work.bottom, whole.top, whole.bottom));
}

void TForm1::RunCreationSteps() {
    if (!ChooseCompressor(*this)) return;
    Mode = ParseRunMode(Arguments.value(1));
    StartupFailed = false;
    PrepareDisplayForRunMode();
    AppDirectory = ExeDirectory();
    if (!PlaceWindowFromSettings()) return;
    ConnectDriver(DriverIndex);
    ComboBox1->clear();
    ComboBox1->clearEditText();
    ListDrivers();
    if (!PrepareCaptureFormat()) return;
    if (StartupFailed) {
        close();
        return;
    }
    ShowLivePicture();
    if (DeliversMotionJpeg()) PrepareDecompressor();
    OpenDisplayObjects();
}

void TForm1::PrepareDisplayForRunMode() {
    ScreenWidth = static_cast<std::uint16_t>(GetSystemMetrics(SM_CXSCREEN));
    ScreenHeight = static_cast<std::uint16_t>(GetSystemMetrics(SM_CYSCREEN));
    TargetWidth = 800;
    TargetHeight = 600;
    if (Mode == RunMode::TV) {
        TargetWidth = ScreenWidth;
        TargetHeight = ScreenHeight;
        Image1->resize(ScreenWidth, ScreenHeight);
        SwitchDisplayForRunMode();
    }
    if (Mode == RunMode::Capture) SwitchDisplayForRunMode();
    if (Mode == RunMode::Time) ShowTimeTile();
}

// Where the window was at the last close: top 15 and centred across when nothing was saved.
// False, after the conversion error, when a saved line is no whole number.
bool TForm1::PlaceWindowFromSettings() {
    const std::string path = SettingsPath(AppDirectory);
    const QString top = QString::fromStdString(ReadSettingLine(path, kWindowTopLine));
    std::optional<std::int32_t> value = top.isEmpty() ? 15 : platform::StrToInt(top);
    if (!value) return false;
    move(x(), SavedCoordinate(*value));
    const QString left = QString::fromStdString(ReadSettingLine(path, kWindowLeftLine));
    // Integer division truncates toward zero, also for a window wider than the desktop.
    value =
        left.isEmpty() ? (GetSystemMetrics(SM_CXSCREEN) - width()) / 2 : platform::StrToInt(left);
    if (!value) return false;
    move(SavedCoordinate(*value), y());
    return true;
}

// False when the driver accepts neither picture size: start-up ends there, window left usable.
bool TForm1::PrepareCaptureFormat() {
    RegisterHandlers(StatusHandler, VideoStreamHandler, AudioStreamHandler);
    ReadVideoFormat();
    if (CaptureWindow == nullptr) return true;
    NameCompression();
    return NegotiateVideoFormat();
}

void TForm1::ShowLivePicture() {
    TakeImageSizeFromFormat();
    FitToCaptureFormat();
    Panel6->hide();
    if (IsFullScreenMode()) Panel6->show();
    StartLiveDisplay();
}

// A failed start-up saves and releases nothing, but the display is given back all the same when
// the program ends: a screen left at 800 x 600 after it has gone is not the user's to repair. A
// close requested during creation does not end the program, so it leaves the display alone.
void TForm1::FormCloseQuery() {
    if (StartupFailed) {
        if (Created) RestoreDisplay();
        return;
    }
    const std::string path = SettingsPath(ExeDirectory());
    WriteSettingLine(path, std::to_string(y()), kWindowTopLine);
    WriteSettingLine(path, std::to_string(x()), kWindowLeftLine);
    ReleaseCaptureWindow();
    RestoreDisplay();
}

void TForm1::RestoreDisplay() {
    if (DisplayRestored || !IsFullScreenMode()) return;
    if (ScreenWidth != TargetWidth && ScreenHeight != TargetHeight) {
        DisplayRestored = true;
        SetDisplayResolution(ScreenWidth, ScreenHeight, 32);
    }
}

void TForm1::ReleaseCaptureWindow() {
    for (UINT message : {WM_CAP_SET_CALLBACK_STATUSA, WM_CAP_SET_CALLBACK_VIDEOSTREAM,
                         WM_CAP_SET_CALLBACK_WAVESTREAM}) {
        SendMessageA(CaptureWindow, message, 0, 0);
    }
    CaptureFormat.clear();
    CaptureFormat.shrink_to_fit();
    CloseDisplayObjects();
    if (DeliversMotionJpeg()) ReleaseDecompressor();
    DisconnectDriver(DriverIndex);
}

// Quitting during a capture ends it as "Stop" does, so its file is finished and its log
// written, and the window closes once it is over.
void TForm1::Button11Click() {
    if (Capturing) {
        EndOnSignal();
        return;
    }
    close();
}

// The window manager's close during a capture is a quit too; the program's own closes (a run
// mode's end in the status handler) go through.
void TForm1::closeEvent(QCloseEvent* event) {
    if (Capturing && event->spontaneous()) {
        event->ignore();
        EndOnSignal();
        return;
    }
    FormCloseQuery();
    event->accept();
}

// The steps a capture needs, in their final order. Without a compressor the program cannot
// record: the window shrinks to nothing and Timer2 closes it a second later.
void TForm1::FormActivate() {
    if (!CodecAvailable) {
        resize(0, 0);
        Timer2->start();
        return;
    }
    // TV mode only shows the card's picture, and a failed start-up made nothing to show it
    // with: once its message is acknowledged it ends as the run without a compressor does.
    if (StartupFailed && Mode == RunMode::TV) {
        Timer2->start();
        return;
    }
    DriverIndex = 0;
    AudioChannels = 2;
    AudioRate = 44100;
    Label4->clear();
    FillOptionLists(*this);
    if (!TakeFrameLimit()) return EndRunThatCannotCapture();
    ApplySavedOptions(*this);
    SetAudioFormat(AudioChannels, AudioRate);
    ApplyCaptureParameters();
    if (Mode == RunMode::Time) PlaceTimeWindow();
    if (IsAutomaticMode()) {
        repaint();
        Timer1->start();
    }
}

void TForm1::Timer2Timer() {
    Timer2->stop();
    close();
}

// Every automatic run closes at the end of its capture; one still showing afterwards had none
// (no driver, a start refused).
void TForm1::Timer1Timer() {
    Timer1->stop();
    if (Mode == RunMode::TV) Image1->setScaledContents(false);
    const QPointer<TForm1> alive(this);
    StartCapture();
    if (alive && isVisible()) EndRunThatCannotCapture();
}
