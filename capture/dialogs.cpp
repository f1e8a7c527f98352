// SPDX-License-Identifier: GPL-2.0-or-later
#include "capture/dialogs.h"

#include "platform/messages.h"
#include "platform/mmsystem.h"

void ReportError(const QString& text) {
    platform::ShowMessage(text.toStdString());
    MessageBeep(0);
}

void ShowDriverDialog(HWND window, UINT message) {
    if (window == nullptr) return;
    SendMessageA(window, message, 0, 0);
}
