// SPDX-License-Identifier: GPL-2.0-or-later
// Video capture service: capture windows driven by messages, the drivers behind them, and the
// three callbacks a sequence capture makes.
#pragma once

#include "platform/mmsystem.h"
#include "platform/windef.h"

constexpr UINT WM_CAP_START = WM_USER;
constexpr UINT WM_CAP_SET_CALLBACK_ERRORA = WM_CAP_START + 2;
constexpr UINT WM_CAP_SET_CALLBACK_STATUSA = WM_CAP_START + 3;
constexpr UINT WM_CAP_SET_CALLBACK_YIELD = WM_CAP_START + 4;
constexpr UINT WM_CAP_SET_CALLBACK_FRAME = WM_CAP_START + 5;
constexpr UINT WM_CAP_SET_CALLBACK_VIDEOSTREAM = WM_CAP_START + 6;
constexpr UINT WM_CAP_SET_CALLBACK_WAVESTREAM = WM_CAP_START + 7;
constexpr UINT WM_CAP_DRIVER_CONNECT = WM_CAP_START + 10;
constexpr UINT WM_CAP_DRIVER_DISCONNECT = WM_CAP_START + 11;
constexpr UINT WM_CAP_SET_AUDIOFORMAT = WM_CAP_START + 35;
constexpr UINT WM_CAP_GET_AUDIOFORMAT = WM_CAP_START + 36;
constexpr UINT WM_CAP_DLG_VIDEOFORMAT = WM_CAP_START + 41;
constexpr UINT WM_CAP_DLG_VIDEOSOURCE = WM_CAP_START + 42;
constexpr UINT WM_CAP_DLG_VIDEODISPLAY = WM_CAP_START + 43;
constexpr UINT WM_CAP_GET_VIDEOFORMAT = WM_CAP_START + 44;
constexpr UINT WM_CAP_SET_VIDEOFORMAT = WM_CAP_START + 45;
constexpr UINT WM_CAP_DLG_VIDEOCOMPRESSION = WM_CAP_START + 46;
constexpr UINT WM_CAP_SET_PREVIEW = WM_CAP_START + 50;
constexpr UINT WM_CAP_SET_OVERLAY = WM_CAP_START + 51;
constexpr UINT WM_CAP_SET_PREVIEWRATE = WM_CAP_START + 52;
constexpr UINT WM_CAP_GET_STATUS = WM_CAP_START + 54;
constexpr UINT WM_CAP_SEQUENCE_NOFILE = WM_CAP_START + 63;
constexpr UINT WM_CAP_SET_SEQUENCE_SETUP = WM_CAP_START + 64;
constexpr UINT WM_CAP_GET_SEQUENCE_SETUP = WM_CAP_START + 65;
constexpr UINT WM_CAP_STOP = WM_CAP_START + 68;
constexpr UINT WM_CAP_ABORT = WM_CAP_START + 69;
// This platform's own: why the window's last WM_CAP_DRIVER_CONNECT was refused, the device and
// the system's reason on one line ("/dev/video0 : périphérique occupé par un autre programme").
// Copies it with its zero into lParam's wParam bytes; answers the bytes it needs, 0 when the
// connect succeeded or the driver had no reason to give.
constexpr UINT WM_CAP_GET_CONNECT_FAILURE = WM_CAP_START + 200;

static_assert(WM_CAP_SET_CALLBACK_STATUSA == 1027 && WM_CAP_SET_CALLBACK_VIDEOSTREAM == 1030 &&
              WM_CAP_SET_CALLBACK_WAVESTREAM == 1031 && WM_CAP_DRIVER_CONNECT == 1034 &&
              WM_CAP_DRIVER_DISCONNECT == 1035 && WM_CAP_SET_AUDIOFORMAT == 1059 &&
              WM_CAP_GET_AUDIOFORMAT == 1060 && WM_CAP_DLG_VIDEOFORMAT == 1065 &&
              WM_CAP_DLG_VIDEOSOURCE == 1066 && WM_CAP_DLG_VIDEODISPLAY == 1067 &&
              WM_CAP_GET_VIDEOFORMAT == 1068 && WM_CAP_SET_VIDEOFORMAT == 1069 &&
              WM_CAP_DLG_VIDEOCOMPRESSION == 1070 && WM_CAP_SET_PREVIEW == 1074 &&
              WM_CAP_SET_OVERLAY == 1075 && WM_CAP_SET_PREVIEWRATE == 1076 &&
              WM_CAP_GET_STATUS == 1078 && WM_CAP_SEQUENCE_NOFILE == 1087 &&
              WM_CAP_SET_SEQUENCE_SETUP == 1088 && WM_CAP_GET_SEQUENCE_SETUP == 1089 &&
              WM_CAP_STOP == 1092);

// Status numbers handed to the status callback.
constexpr int IDS_CAP_BEGIN = 300;
constexpr int IDS_CAP_END = 301;

constexpr DWORD WS_CHILD = 0x40000000;
constexpr DWORD WS_VISIBLE = 0x10000000;

constexpr UINT AVSTREAMMASTER_AUDIO = 0;
constexpr UINT AVSTREAMMASTER_NONE = 1;

constexpr BYTE VK_ESCAPE = 0x1B;

// The 32-bit layout: hPalCurrent is a 32-bit handle value, as the record's 76 bytes require.
struct CAPSTATUS {
    UINT uiImageWidth;
    UINT uiImageHeight;
    BOOL fLiveWindow;
    BOOL fOverlayWindow;
    BOOL fScale;
    POINT ptScroll;
    BOOL fUsingDefaultPalette;
    BOOL fAudioHardware;
    BOOL fCapFileExists;
    DWORD dwCurrentVideoFrame;
    DWORD dwCurrentVideoFramesDropped;
    DWORD dwCurrentWaveSamples;
    DWORD dwCurrentTimeElapsedMS;
    DWORD hPalCurrent;
    BOOL fCapturingNow;
    DWORD dwReturn;
    UINT wNumVideoAllocated;
    UINT wNumAudioAllocated;
};
static_assert(sizeof(CAPSTATUS) == 76);

struct CAPTUREPARMS {
    DWORD dwRequestMicroSecPerFrame;
    BOOL fMakeUserHitOKToCapture;
    UINT wPercentDropForError;
    BOOL fYield;
    DWORD dwIndexSize;
    UINT wChunkGranularity;
    BOOL fUsingDOSMemory;
    UINT wNumVideoRequested;
    BOOL fCaptureAudio;
    UINT wNumAudioRequested;
    UINT vKeyAbort;
    BOOL fAbortLeftMouse;
    BOOL fAbortRightMouse;
    BOOL fLimitEnabled;
    UINT wTimeLimit;
    BOOL fMCIControl;
    BOOL fStepMCIDevice;
    DWORD dwMCIStartTime;
    DWORD dwMCIStopTime;
    BOOL fStepCaptureAt2x;
    UINT wStepCaptureAverageFrames;
    DWORD dwAudioBufferSize;
    BOOL fDisableWriteCache;
    UINT AVStreamMaster;
};
static_assert(sizeof(CAPTUREPARMS) == 96);

struct VIDEOHDR {
    BYTE* lpData;
    DWORD dwBufferLength;
    DWORD dwBytesUsed;
    DWORD dwTimeCaptured;
    DWORD_PTR dwUser;
    DWORD dwFlags;
    DWORD_PTR dwReserved[4];
};
using LPVIDEOHDR = VIDEOHDR*;

constexpr DWORD VHDR_DONE = 0x00000001;
constexpr DWORD VHDR_KEYFRAME = 0x00000008;

using CAPSTATUSCALLBACK = LRESULT (*)(HWND window, int id, LPCSTR text);
using CAPVIDEOCALLBACK = LRESULT (*)(HWND window, LPVIDEOHDR header);
using CAPWAVECALLBACK = LRESULT (*)(HWND window, LPWAVEHDR header);

// Name and version of the driver installed at `index` (0-9); FALSE when there is none.
// Both texts are cut to fit their buffers and always end with a zero.
BOOL capGetDriverDescriptionA(WORD index, LPSTR name, int nameSize, LPSTR version, int versionSize);

// A capture window: a child widget of the parent's widget at the given place and size, not yet
// connected to a driver. 0 when the parent handle is unknown.
HWND capCreateCaptureWindowA(LPCSTR windowName, DWORD style, int x, int y, int width, int height,
                             HWND parent, int id);

// Sends a message to a window. Capture windows answer the WM_CAP_* messages; a handle that is 0
// or unknown answers 0 and nothing happens.
LRESULT SendMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

#include <functional>
#include <optional>

namespace platform {

// Sees every message sent to a window before the service does. Answering a value replaces the
// service's answer and the service never sees the message; answering nothing lets it through.
// Tests use it to record what the program sends and to steer the answers.
using MessageHook = std::function<std::optional<LRESULT>(HWND, UINT, WPARAM, LPARAM)>;

// Installs the hook (an empty one removes it) and returns the previous one.
MessageHook SetMessageHook(MessageHook hook);

// Milliseconds of silence the running or latest capture of this window recorded in place of
// sound its input lost or never gave (an overrun's backlog, an input gone or missing); 0 when
// the sound is whole, or for a handle that is no capture window. Set by the end status.
DWORD CaptureSilenceMs(HWND captureWindow);

}  // namespace platform
