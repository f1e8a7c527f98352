// SPDX-License-Identifier: GPL-2.0-or-later
// What the capture code says to its user, and the driver's own dialogs.
#pragma once

#include <QString>

#include "platform/vfw.h"

// A failure the user must hear of: its box, with the warning sound.
void ReportError(const QString& text);

// The driver dialog `message` asks for (one of the WM_CAP_DLG_ messages), over `window`; nothing
// without a window.
void ShowDriverDialog(HWND window, UINT message);
