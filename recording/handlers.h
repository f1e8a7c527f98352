// The three callbacks of a sequence capture, and the arithmetic they share with their tests.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/vfw.h"

// Registered by address on the capture window; each reaches the program through Form1 and
// answers 1 whatever happens.
LRESULT VideoStreamHandler(HWND window, LPVIDEOHDR frame);
LRESULT AudioStreamHandler(HWND window, LPWAVEHDR buffer);
LRESULT StatusHandler(HWND window, int status, LPCSTR text);

class TForm1;
// Books the open file's drift and log block and names the next file, which the next frame opens.
void RollOverFullFile(TForm1& form);

// A file's video always runs at 25 frames a second, whatever rate the capture has.
std::int32_t VideoTimeOf(std::int32_t frames);

// Every buffer of the file counts as long as the present one; the file's audio is always
// 176,400 bytes a second.
std::int32_t AudioTimeOf(std::int32_t blocks, std::uint32_t bytesRecorded);
