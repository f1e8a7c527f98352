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

// FormatElapsed's text written into `out` (at most size - 1 characters and a zero), for the
// status line that is made at every frame without allocating; its length.
constexpr std::size_t kElapsedTextSize = 32;
std::size_t FormatElapsedInto(std::uint32_t milliseconds, char* out, std::size_t size);

// trunc(screenWidth / 800 * factor): the TV overlay's text place and font size grow with the
// screen from their 800-pixel values.
int ScaledToScreen(std::uint16_t screenWidth, int factor);
