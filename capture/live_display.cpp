#include "app/form1.h"

void TForm1::SetPreview(bool on) {
    if (CaptureWindow == nullptr) return;
    SendMessageA(CaptureWindow, WM_CAP_SET_PREVIEWRATE, 25, 0);
    SendMessageA(CaptureWindow, WM_CAP_SET_PREVIEW, on ? 1 : 0, 0);
}

bool TForm1::SetOverlay(bool on) {
    if (CaptureWindow == nullptr) return false;
    return SendMessageA(CaptureWindow, WM_CAP_SET_OVERLAY, on ? 1 : 0, 0) == 1;
}

void TForm1::StartLiveDisplay() {
    if (!SetOverlay(true)) SetPreview(true);
}

void TForm1::StartSequence() {
    if (CaptureWindow == nullptr) return;
    SendMessageA(CaptureWindow, WM_CAP_SEQUENCE_NOFILE, 0, 0);
}

void TForm1::StopSequence() {
    if (CaptureWindow == nullptr) return;
    SendMessageA(CaptureWindow, WM_CAP_STOP, 0, 0);
}
