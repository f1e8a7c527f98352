// SPDX-License-Identifier: GPL-2.0-or-later
// How the program was started: its first argument, read once.
#pragma once

#include <QString>

enum class RunMode {
    Window,   // no mode or one not known: the interactive window
    Capture,  // full screen at 800 x 600, one capture, then the end
    Time,     // a small blinking tile, one capture, then the end
    TV,       // the card's picture on the whole screen, nothing recorded
};

// The mode a first argument names; only the exact names count ("capture" is the window).
RunMode ParseRunMode(const QString& argument);

// Capture and TV take the whole screen, at a resolution of their own.
bool FillsTheScreen(RunMode mode);
