// The display half of the video stream handler, one function per run mode.
#pragma once

#include "app/form1.h"

// "Time": no picture, only the tile that blinks while frames come.
void BlinkTimeTile(TForm1& form);

// "TV": the frame over the whole screen with the time of day and the clipboard's bitmap.
void ShowTVFrame(TForm1& form, const VIDEOHDR& frame);

// "Capture" and the interactive mode: the frame at capture size with the status line.
void ShowStatusFrame(TForm1& form, const VIDEOHDR& frame);
