// SPDX-License-Identifier: GPL-2.0-or-later
// Display settings: the desktop size, mode changes (tested, then applied and stored), the cursor,
// and how a top-level window is shown and brought to the front.
#pragma once

#include "platform/windef.h"

#pragma pack(push, 2)
struct DEVMODEA {
    BYTE dmDeviceName[32];
    WORD dmSpecVersion;
    WORD dmDriverVersion;
    WORD dmSize;
    WORD dmDriverExtra;
    DWORD dmFields;
    POINT dmPosition;  // the display arm of the union that also holds the printer fields
    DWORD dmDisplayOrientation;
    DWORD dmDisplayFixedOutput;
    short dmColor;
    short dmDuplex;
    short dmYResolution;
    short dmTTOption;
    short dmCollate;
    BYTE dmFormName[32];
    WORD dmLogPixels;
    DWORD dmBitsPerPel;
    DWORD dmPelsWidth;
    DWORD dmPelsHeight;
    DWORD dmDisplayFlags;
    DWORD dmDisplayFrequency;
    DWORD dmICMMethod;
    DWORD dmICMIntent;
    DWORD dmMediaType;
    DWORD dmDitherType;
    DWORD dmReserved1;
    DWORD dmReserved2;
    DWORD dmPanningWidth;
    DWORD dmPanningHeight;
};
#pragma pack(pop)
static_assert(sizeof(DEVMODEA) == 156);

constexpr DWORD DM_BITSPERPEL = 0x00040000;
constexpr DWORD DM_PELSWIDTH = 0x00080000;
constexpr DWORD DM_PELSHEIGHT = 0x00100000;
constexpr DWORD DM_DISPLAYFREQUENCY = 0x00400000;

constexpr DWORD CDS_UPDATEREGISTRY = 0x00000001;
constexpr DWORD CDS_TEST = 0x00000002;
constexpr DWORD CDS_FULLSCREEN = 0x00000004;

constexpr LONG DISP_CHANGE_SUCCESSFUL = 0;
constexpr LONG DISP_CHANGE_RESTART = 1;
constexpr LONG DISP_CHANGE_FAILED = -1;
constexpr LONG DISP_CHANGE_BADMODE = -2;
constexpr LONG DISP_CHANGE_NOTUPDATED = -3;
constexpr LONG DISP_CHANGE_BADFLAGS = -4;
constexpr LONG DISP_CHANGE_BADPARAM = -5;

// With CDS_TEST: whether the mode could be set, nothing changed. Otherwise the mode is applied
// (and, with CDS_UPDATEREGISTRY, kept as the current mode). A null record restores the mode the
// display had before the first change. Bits per pixel of 0, 16, 24 or 32 are accepted.
LONG ChangeDisplaySettingsA(DEVMODEA* mode, DWORD flags);

constexpr int SM_CXSCREEN = 0;
constexpr int SM_CYSCREEN = 1;

// The desktop size in pixels (SM_CXSCREEN, SM_CYSCREEN); 0 for other indexes.
int GetSystemMetrics(int index);

BOOL GetCursorPos(POINT* point);
BOOL SetCursorPos(int x, int y);

constexpr int SW_SHOWNORMAL = 1;
constexpr int SW_SHOWMINNOACTIVE = 7;
constexpr int SW_RESTORE = 9;

// Shows the top-level window holding `window`: SW_SHOWMINNOACTIVE minimises it and activates
// nothing else (the window manager, where one runs, picks what gets the focus; with none, the
// window stays on screen, since nothing could bring it back); SW_SHOWNORMAL and SW_RESTORE show
// it at its normal size. Other commands change nothing. Returns TRUE when it was visible before.
BOOL ShowWindow(HWND window, int command);

// Brings the top-level window holding `window` to the front with the keyboard focus, even when
// another program has taken the focus since this one last heard from the display. On X11 the
// request carries a timestamp taken from the server at that moment and goes to the window
// manager (_NET_ACTIVE_WINDOW) where one runs that supports it, else straight to the server,
// which raises the window and focuses it. Where no X screen is used (offscreen, or the described
// display) the toolkit's own activation is asked. FALSE, changing nothing, for a handle that is
// 0, unknown or gone, or whose window is not shown; TRUE once asked: a window manager may
// still decline.
BOOL SetForegroundWindow(HWND window);
