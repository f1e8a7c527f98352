// SPDX-License-Identifier: GPL-2.0-or-later
// The live picture: overlay or preview, the drawing of each captured frame and the decompressor
// a Motion-JPEG card keeps open; and the sequence capture the frames come in.
#include "app/form1.h"
#include "capture/live_display.h"

void TForm1::SetPreview(bool on) {
    ShowPreview(CaptureWindow, on);
}

bool TForm1::SetOverlay(bool on) {
    return ShowOverlay(CaptureWindow, on);
}

void TForm1::StartLiveDisplay() {
    StartLivePicture(CaptureWindow);
}

void TForm1::StartSequence() {
    RunSequenceCapture(CaptureWindow);
}

void TForm1::StopSequence() {
    StopSequenceCapture(CaptureWindow);
}

// No fall-back to the preview here: the user asked for the overlay.
void TForm1::Button4Click() {
    PlayClick();
    SetOverlay(true);
}

void TForm1::Button3Click() {
    PlayClick();
    SetPreview(true);
}

void TForm1::OpenDisplayObjects() {
    Display.Open(Mode, ScreenWidth, ScreenHeight);
}

void TForm1::CloseDisplayObjects() {
    Display.Close();
}

void TForm1::PrepareDecompressor() {
    LastResult = DisplayDecompressor.Prepare(CaptureFormat);
}

void TForm1::ReleaseDecompressor() {
    DisplayDecompressor.Release();
}
