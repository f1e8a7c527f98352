// SPDX-License-Identifier: GPL-2.0-or-later
// The driver list and its changes, the capture window the chosen driver is connected in, the
// capture format it delivers, and the buttons that open the driver's own dialogs.
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>

#include "app/form1.h"
#include "capture/dialogs.h"
#include "capture/video_format.h"
#include "platform/messages.h"
#include "platform/mmsystem.h"
#include "resources/resources.h"

void TForm1::ListDrivers() {
    ShowFirstDriver(ComboBox1);
    if (ComboBox1->currentText().isEmpty()) {
        platform::ShowMessage("Aucune carte d'acquisition n'a été détectée ...");
        StartupFailed = true;
        close();
    }
    AddDriverItems(ComboBox1);
}

// The first window only tells the picture size; the second one gets the laid-out panel's.
void TForm1::ConnectDriver(std::uint8_t index) {
    if (CaptureWindow != nullptr) return;
    CaptureWindow = CreateCaptureWindow(Panel1);
    if (!ConnectCaptureDriver(CaptureWindow, index)) return RefuseDriver();
    const PictureSize size = ReportedPictureSize(CaptureWindow);
    ImageWidth = size.width;
    ImageHeight = size.height;
    DisconnectDriver(index);
    if (FillsTheScreen(Mode)) {
        LayoutFullScreen();
    } else {
        LayoutWindowed();
    }
    CaptureWindow = CreateCaptureWindow(Panel1);
    ConnectCaptureDriver(CaptureWindow, index);
}

// The device and the system's reason, when the driver gave them, on a second line.
void TForm1::RefuseDriver() {
    const std::string failure = ConnectFailure(CaptureWindow);
    platform::ShowMessage("Connection au driver d'acquisition video impossible ..." +
                          (failure.empty() ? std::string() : '\n' + failure));
    StartupFailed = true;
    LayoutWindowed();
    DropCaptureWindow(CaptureWindow);
    CaptureWindow = nullptr;
}

void TForm1::DisconnectDriver(std::uint8_t index) {
    if (CaptureWindow == nullptr) return;
    DisconnectCaptureDriver(CaptureWindow, index);
    CaptureWindow = nullptr;
}

// The old card's decompressor goes with it, whatever the new one turns out to deliver.
// A driver change during a capture would take the capture's own driver away from it.
void TForm1::ComboBox1Change() {
    if (Capturing) return;
    if (DeliversMotionJpeg()) ReleaseDecompressor();
    if (CaptureWindow != nullptr) DisconnectDriver(DriverIndex);
    DriverIndex = SelectedDriverIndex(ComboBox1);
    ConnectDriver(DriverIndex);
    if (CaptureWindow == nullptr) return;
    RepeatStartupStepsForNewDriver();
}

// The handlers are kept, so that a driver change can register them with the new window.
void TForm1::RegisterHandlers(CAPSTATUSCALLBACK status, CAPVIDEOCALLBACK video,
                              CAPWAVECALLBACK audio) {
    RegisteredHandlers = {status, video, audio};
    SetCaptureHandlers(CaptureWindow, RegisteredHandlers, Mode != RunMode::TV);
}

// A new driver gets what start-up gave the first one, so that a capture after the change is
// recorded: the same handlers, its own format read, named and negotiated, then live display, its
// decompressor when it delivers Motion-JPEG and a frame bitmap of its size.
// Its window starts from the service's own capture parameters (another frame period, mouse
// clicks that stop a capture), so the options go to it again even when its format was refused.
void TForm1::RepeatStartupStepsForNewDriver() {
    RegisterHandlers(RegisteredHandlers.status, RegisteredHandlers.video, RegisteredHandlers.audio);
    ReadVideoFormat();
    NameCompression();
    const bool negotiated = NegotiateVideoFormat();
    ApplyCaptureParameters();
    if (!negotiated) return;
    TakeImageSizeFromFormat();
    FitToCaptureFormat();
    StartLiveDisplay();
    if (DeliversMotionJpeg()) PrepareDecompressor();
    CloseDisplayObjects();
    OpenDisplayObjects();
}

void TForm1::ReadVideoFormat() {
    CaptureFormatSize = ReadDriverFormat(CaptureWindow, CaptureFormat);
}

BITMAPINFOHEADER TForm1::CaptureFormatHeader() const {
    return HeaderOf(CaptureFormat);
}

void TForm1::NameCompression() {
    if (CaptureWindow == nullptr) return;
    Edit2->setText(CompressionName(CaptureFormatHeader().biCompression));
    Edit2->setCursorPosition(0);  // a field too narrow for its text shows its beginning
}

QString TForm1::FormatName() const {
    return Edit2->text();
}

bool TForm1::DeliversMotionJpeg() const {
    return FormatName() == QLatin1String("MJPG");
}

// Whatever the answer, the format kept is then the driver's own: a refused request leaves it
// delivering what it delivered before, and an accepted one may have fields (image size, bit
// count) the request did not set. Frames are read, shown and recorded by this format, so it must
// never describe a picture the driver does not send.
bool TForm1::RequestVideoFormat(LONG width, LONG height) {
    const bool accepted = RequestRgbFormat(CaptureWindow, CaptureFormatHeader(), width, height);
    ReadVideoFormat();
    return accepted;
}

bool TForm1::NegotiateVideoFormat() {
    if (CaptureWindow == nullptr) return true;
    if (RequestVideoFormat(384, 288) || RequestVideoFormat(320, 240)) return true;
    platform::ShowMessage(
        "Votre carte d'acquisition video ne possede pas la configuration adaptée ... Choisissez "
        "un Format RGB24 en 384x288 ou 320x240, puis redémarrer ...");
    StartupFailed = true;
    return false;
}

void TForm1::TakeImageSizeFromFormat() {
    const BITMAPINFOHEADER format = CaptureFormatHeader();
    ImageWidth = LOWORD(static_cast<std::uint32_t>(format.biWidth));
    ImageHeight = LOWORD(static_cast<std::uint32_t>(format.biHeight));
}

void TForm1::PlayClick() {
    const auto sound = resources::Find("click", "WAV");
    if (!sound) return;
    sndPlaySoundA(reinterpret_cast<LPCSTR>(sound->data()), SND_MEMORY);
}

void TForm1::OpenDriverDialog(UINT message) {
    PlayClick();
    ShowDriverDialog(CaptureWindow, message);
}

void TForm1::Button2Click() {
    OpenDriverDialog(WM_CAP_DLG_VIDEOFORMAT);
}

void TForm1::Button5Click() {
    OpenDriverDialog(WM_CAP_DLG_VIDEOSOURCE);
}

void TForm1::Button6Click() {
    OpenDriverDialog(WM_CAP_DLG_VIDEODISPLAY);
}

void TForm1::Button7Click() {
    OpenDriverDialog(WM_CAP_DLG_VIDEOCOMPRESSION);
}
