#include "capture/dialogs.h"

#include "app/form1.h"
#include "platform/messages.h"
#include "platform/mmsystem.h"
#include "resources/resources.h"

namespace {

void SendDialogMessage(HWND window, UINT message) {
    if (window == nullptr) return;
    SendMessageA(window, message, 0, 0);
}

}  // namespace

void TForm1::ShowFormatDialog() {
    SendDialogMessage(CaptureWindow, WM_CAP_DLG_VIDEOFORMAT);
}
void TForm1::ShowSourceDialog() {
    SendDialogMessage(CaptureWindow, WM_CAP_DLG_VIDEOSOURCE);
}
void TForm1::ShowDisplayDialog() {
    SendDialogMessage(CaptureWindow, WM_CAP_DLG_VIDEODISPLAY);
}

void TForm1::ShowCompressionDialog() {
    SendDialogMessage(CaptureWindow, WM_CAP_DLG_VIDEOCOMPRESSION);
}

// Synchronous, so each button's own action follows the click.
void TForm1::PlayClick() {
    const auto sound = resources::Find("click", "WAV");
    if (!sound) return;
    sndPlaySoundA(reinterpret_cast<LPCSTR>(sound->data()), SND_MEMORY);
}

void TForm1::Button4Click() {
    PlayClick();
    if (CaptureWindow != nullptr) SetOverlay(true);
}

void TForm1::Button3Click() {
    PlayClick();
    if (CaptureWindow != nullptr) SetPreview(true);
}

void TForm1::Button2Click() {
    PlayClick();
    if (CaptureWindow != nullptr) ShowFormatDialog();
}

void TForm1::Button5Click() {
    PlayClick();
    if (CaptureWindow != nullptr) ShowSourceDialog();
}

void TForm1::Button6Click() {
    PlayClick();
    if (CaptureWindow != nullptr) ShowDisplayDialog();
}

void TForm1::Button7Click() {
    PlayClick();
    if (CaptureWindow != nullptr) ShowCompressionDialog();
}

void ReportError(const QString& text) {
    platform::ShowMessage(text.toStdString());
    MessageBeep(0);
}
