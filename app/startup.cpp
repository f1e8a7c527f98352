// The creation and close of the main window as far as the parts built so far reach; the steps
// kept here are in their final order, so the compressor probe, the settings, the handlers of the
// recording and the drawing context slot in between them.
#include <QCloseEvent>
#include <QComboBox>
#include <QLabel>

#include "app/form1.h"
#include "platform/display.h"

bool TForm1::IsFullScreenMode() const {
    return RunMode == QLatin1String("Capture") || RunMode == QLatin1String("TV");
}

void TForm1::FormCreate() {
    RunMode = Arguments.value(1);
    StartupFailed = false;
    PrepareDisplayForRunMode();
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
}

void TForm1::PrepareDisplayForRunMode() {
    ScreenWidth = static_cast<std::uint16_t>(GetSystemMetrics(SM_CXSCREEN));
    ScreenHeight = static_cast<std::uint16_t>(GetSystemMetrics(SM_CYSCREEN));
    TargetWidth = 800;
    TargetHeight = 600;
    if (RunMode == QLatin1String("TV")) {
        TargetWidth = ScreenWidth;
        TargetHeight = ScreenHeight;
        Image1->resize(ScreenWidth, ScreenHeight);
        SwitchDisplayForRunMode();
    }
    if (RunMode == QLatin1String("Capture")) SwitchDisplayForRunMode();
    if (RunMode == QLatin1String("Time")) ShowTimeTile();
}

// False when the driver accepts neither picture size: start-up ends there, window left usable.
bool TForm1::PrepareCaptureFormat() {
    // The recording handlers do not exist yet; registering none keeps the message order.
    RegisterHandlers(nullptr, nullptr, nullptr);
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

// A failed start-up releases nothing, but the display is given back all the same: a screen left
// at 800 x 600 after the program has ended is not the user's to repair.
void TForm1::FormCloseQuery() {
    if (!StartupFailed) ReleaseCaptureWindow();
    if (IsFullScreenMode() && ScreenWidth != TargetWidth && ScreenHeight != TargetHeight) {
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
    DisconnectDriver(DriverIndex);
}

void TForm1::closeEvent(QCloseEvent* event) {
    FormCloseQuery();
    event->accept();
}
