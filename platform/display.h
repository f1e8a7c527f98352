// SPDX-License-Identifier: GPL-2.0-or-later
// Display settings: the desktop size, mode changes (tested, then applied and stored), the cursor,
// the monitors and their work areas, and how a top-level window is shown and brought to the front.
//
// Every size and point here is in the toolkit's device-independent pixels, the unit windows are
// placed and laid out in: on a desktop scaled to 200 % a 3840 x 2160 screen is 1920 x 1080, and a
// mode asked for as 800 x 600 is the screen's 1600 x 1200 mode. The scale is the toolkit's for the
// primary screen (QT_SCALE_FACTOR, QT_SCREEN_SCALE_FACTORS, Xft.dpi...), and is 1 without one.
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
// display had before the first change. Bits per pixel of 0, 16, 24 or 32 are accepted. The size
// names the mode that gives a desktop of that size at the present scale; a size no mode gives
// answers DISP_CHANGE_BADMODE.
LONG ChangeDisplaySettingsA(DEVMODEA* mode, DWORD flags);

constexpr int SM_CXSCREEN = 0;
constexpr int SM_CYSCREEN = 1;

// The desktop size (SM_CXSCREEN, SM_CYSCREEN); 0 for other indexes.
int GetSystemMetrics(int index);

BOOL GetCursorPos(POINT* point);
BOOL SetCursorPos(int x, int y);

// A monitor: a small number handed out by the display service, 0 for none. Handles stay valid
// until the monitors change.
struct HMONITOR__;
using HMONITOR = HMONITOR__*;

constexpr DWORD MONITOR_DEFAULTTONULL = 0;
constexpr DWORD MONITOR_DEFAULTTOPRIMARY = 1;
constexpr DWORD MONITOR_DEFAULTTONEAREST = 2;

constexpr DWORD MONITORINFOF_PRIMARY = 1;

// At a fractional scale (150 %) rcWork ends one pixel before the panels or the monitor's edge:
// the toolkit rounds a window's place and size to device pixels apart, so a window flush with
// the very edge could end a device pixel past it.
struct MONITORINFO {
    DWORD cbSize;    // set by the caller: sizeof(MONITORINFO)
    RECT rcMonitor;  // the whole monitor
    RECT rcWork;     // what panels and docks leave of it
    DWORD dwFlags;   // MONITORINFOF_PRIMARY
};

// The monitor sharing the largest area with `rect`; for a rectangle on none of them, by `flags`:
// none, the primary monitor, or the one nearest to it. On the real X screen the monitors are the
// toolkit's screens, with the work areas the window manager announces; elsewhere the one monitor
// is the described desktop, all of it work area.
HMONITOR MonitorFromRect(const RECT* rect, DWORD flags);
// FALSE, filling nothing, for an unknown monitor or a cbSize other than sizeof(MONITORINFO).
BOOL GetMonitorInfoA(HMONITOR monitor, MONITORINFO* info);

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
