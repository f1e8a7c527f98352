// The display half of the video stream handler, one function per run mode.
#pragma once

#include <cstddef>
#include <cstdint>

#include "app/form1.h"

// What the status line tells of the recording, handed in with each frame.
struct RecordingFigures {
    std::uint32_t captureFrames = 0;  // delivered since the capture began
    std::int32_t fileFrames = 0;      // written to the present file
    std::uint16_t fileIndex = 0;
    std::int32_t totalDefect = 0;
    std::uint32_t drops = 0;
    std::uint32_t inserts = 0;
    std::int32_t drift = 0;
};

// "Time": no picture, only the tile that blinks while frames come (`fileFrames` written).
void BlinkTimeTile(TForm1& form, std::int32_t fileFrames);

// "TV": the frame over the whole screen with the time of day and the clipboard's bitmap.
void ShowTVFrame(TForm1& form, const VIDEOHDR& frame, std::int32_t fileFrames);

// "Capture" and the interactive mode: the frame at capture size with the status line.
void ShowStatusFrame(TForm1& form, const VIDEOHDR& frame, const RecordingFigures& figures);

// FormatElapsed's text written into `out` (at most size - 1 characters and a zero), for the
// status line that is made at every frame without allocating; its length.
constexpr std::size_t kElapsedTextSize = 32;
std::size_t FormatElapsedInto(std::uint32_t milliseconds, char* out, std::size_t size);

// trunc(screenWidth / 800 * factor): the TV overlay's text place and font size grow with the
// screen from their 800-pixel values.
int ScaledToScreen(std::uint16_t screenWidth, int factor);
