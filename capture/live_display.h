// SPDX-License-Identifier: GPL-2.0-or-later
// The capture window's live picture and its sequence capture. Without a window each sends
// nothing.
#pragma once

#include "platform/vfw.h"

// The driver's frames drawn one by one, every 25 ms.
void ShowPreview(HWND window, bool on);

// The card's own overlay; whether the driver answered 1, as only a working overlay does.
bool ShowOverlay(HWND window, bool on);

// The overlay, or the preview where the driver has no overlay.
void StartLivePicture(HWND window);

// Returns once the capture has ended; the handlers run inside it.
void RunSequenceCapture(HWND window);
void StopSequenceCapture(HWND window);
