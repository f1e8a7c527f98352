// SPDX-License-Identifier: GPL-2.0-or-later
// The display half of the video stream handler, one function per run mode.
#pragma once

#include <QFont>
#include <QImage>
#include <QString>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "capture/run_mode.h"
#include "platform/drawdib.h"
#include "platform/vfw.h"

class QLabel;
class QWidget;

// What shows the captured frames: the window's controls it shows them on, and the drawing objects
// made at start-up and released at close.
struct FrameDisplay {
    // `window` is brought to the front with the keyboard, `picture` shows each frame with its
    // overlay, `tile` blinks in the Time mode. Frames are drawn by `captureFormat`, read at each
    // frame since a driver change rewrites it. All are the window's and outlive the display.
    void ShowOn(QWidget* window, QLabel* picture, QLabel* tile,
                const std::vector<BYTE>* captureFormat);
    // The drawing objects for the run mode on a screen of this size, the frame bitmap at the
    // capture format's size.
    void Open(RunMode mode, std::uint16_t screenWidth, std::uint16_t screenHeight);
    void Close();
    BITMAPINFOHEADER FormatHeader() const;

    QWidget* Window = nullptr;
    QLabel* Picture = nullptr;
    QLabel* Tile = nullptr;
    const std::vector<BYTE>* CaptureFormat = nullptr;
    std::uint16_t ScreenWidth = 0;
    std::uint16_t ScreenHeight = 0;

    HDRAWDIB DrawDibHandle = nullptr;
    QImage FrameBitmap;
    // The picture's own copy of the frame, which the overlay is drawn on and which the picture
    // paints; kept from frame to frame so that showing one reuses its pixels.
    QImage Image1Picture;
    // Paints the picture label and draws the overlay text; a child of the label.
    class PictureView* Painter = nullptr;
    QFont OverlayFont;
    QString OverlayText;
};

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
void BlinkTimeTile(FrameDisplay& display, std::int32_t fileFrames);

// "TV": the frame over the whole screen with the time of day and the clipboard's bitmap.
void ShowTVFrame(FrameDisplay& display, const VIDEOHDR& frame, std::int32_t fileFrames);

// "Capture" and the interactive mode: the frame at capture size with the status line.
void ShowStatusFrame(FrameDisplay& display, const VIDEOHDR& frame, const RecordingFigures& figures);

// FormatElapsed's text written into `out` (at most size - 1 characters and a zero), for the
// status line that is made at every frame without allocating; its length.
constexpr std::size_t kElapsedTextSize = 32;
std::size_t FormatElapsedInto(std::uint32_t milliseconds, char* out, std::size_t size);

// trunc(screenWidth / 800 * factor): the TV overlay's text place and font size grow with the
// screen from their 800-pixel values.
int ScaledToScreen(std::uint16_t screenWidth, int factor);
