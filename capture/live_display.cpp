// SPDX-License-Identifier: GPL-2.0-or-later
#include "capture/live_display.h"

void ShowPreview(HWND window, bool on) {
    if (window == nullptr) return;
    SendMessageA(window, WM_CAP_SET_PREVIEWRATE, 25, 0);
    SendMessageA(window, WM_CAP_SET_PREVIEW, on ? 1 : 0, 0);
}

bool ShowOverlay(HWND window, bool on) {
    if (window == nullptr) return false;
    return SendMessageA(window, WM_CAP_SET_OVERLAY, on ? 1 : 0, 0) == 1;
}

void StartLivePicture(HWND window) {
    if (!ShowOverlay(window, true)) ShowPreview(window, true);
}

void RunSequenceCapture(HWND window) {
    if (window == nullptr) return;
    SendMessageA(window, WM_CAP_SEQUENCE_NOFILE, 0, 0);
}

void StopSequenceCapture(HWND window) {
    if (window == nullptr) return;
    SendMessageA(window, WM_CAP_STOP, 0, 0);
}
