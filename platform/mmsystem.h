// SPDX-License-Identifier: GPL-2.0-or-later
// Sound service: wave records, synchronous playback of a WAVE image in memory, the default beep.
#pragma once

#include "platform/windef.h"

#pragma pack(push, 1)
struct WAVEFORMATEX {
    WORD wFormatTag;
    WORD nChannels;
    DWORD nSamplesPerSec;
    DWORD nAvgBytesPerSec;
    WORD nBlockAlign;
    WORD wBitsPerSample;
    WORD cbSize;
};
#pragma pack(pop)
static_assert(sizeof(WAVEFORMATEX) == 18);

constexpr WORD WAVE_FORMAT_PCM = 1;

struct WAVEHDR {
    LPSTR lpData;
    DWORD dwBufferLength;
    DWORD dwBytesRecorded;
    DWORD_PTR dwUser;
    DWORD dwFlags;
    DWORD dwLoops;
    WAVEHDR* lpNext;
    DWORD_PTR reserved;
};
using LPWAVEHDR = WAVEHDR*;

constexpr DWORD WHDR_DONE = 0x00000001;

constexpr UINT SND_SYNC = 0x0000;
constexpr UINT SND_ASYNC = 0x0001;
constexpr UINT SND_NODEFAULT = 0x0002;
constexpr UINT SND_MEMORY = 0x0004;

// Plays the WAVE file image at `sound` (SND_MEMORY) and returns once it has been played. With no
// sound device, or an image that is not 8/16-bit PCM, it returns FALSE at once and prints nothing.
BOOL sndPlaySoundA(LPCSTR sound, UINT flags);

constexpr UINT MB_OK = 0x00000000;
constexpr UINT MB_ICONHAND = 0x00000010;
constexpr UINT MB_ICONEXCLAMATION = 0x00000030;
constexpr UINT MB_ICONASTERISK = 0x00000040;

// The default beep (a short tone, or the toolkit's bell where no sound device opens).
BOOL MessageBeep(UINT type);

namespace platform {
// Counts MessageBeep calls: tests check that a failure was followed by the beep.
unsigned MessageBeepCount();
}  // namespace platform
