// SPDX-License-Identifier: GPL-2.0-or-later
// The three callbacks of a sequence capture, registered by address on the capture window.
#pragma once

#include "platform/vfw.h"

// Each reaches the program through Form1 and answers 1 whatever happens.
LRESULT VideoStreamHandler(HWND window, LPVIDEOHDR frame);
LRESULT AudioStreamHandler(HWND window, LPWAVEHDR buffer);
LRESULT StatusHandler(HWND window, int status, LPCSTR text);
