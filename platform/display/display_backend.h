// SPDX-License-Identifier: GPL-2.0-or-later
// Inside the display service: the backends behind ChangeDisplaySettingsA, GetSystemMetrics and
// the cursor. display.cpp validates the caller's record and picks a backend; a backend only ever
// sees a well-formed size.
#pragma once

#include <memory>
#include <vector>

#include "platform/display.h"
#include "platform/machine.h"

namespace platform {

// Forgets the backend in use (and any mode it remembers), so that the next display call picks
// one again from the machine description. Nothing is restored on the way. A description whose
// display section differs from the one in use is noticed without this; tests that set the same
// description twice and want a fresh start-up mode call it.
void ResetDisplay();

namespace display {

class Backend {
  public:
    virtual ~Backend() = default;

    // Sizes here are the device's own pixels; display.cpp turns them into the program's.
    virtual FrameSize DesktopSize() = 0;
    // The sizes of the modes Test answers for (any order, repeats allowed).
    virtual std::vector<FrameSize> ModeSizes() = 0;
    // The DISP_CHANGE_* answer for a mode of this size, changing nothing.
    virtual LONG Test(FrameSize size) = 0;
    // Switches to a mode of this size; on any answer but DISP_CHANGE_SUCCESSFUL nothing changed.
    virtual LONG Apply(FrameSize size) = 0;
    // Back to the mode in force before the first successful Apply (nothing to do if none was).
    virtual LONG Restore() = 0;
    virtual bool CursorPos(POINT& point) = 0;
    // Moves the cursor, kept inside the desktop.
    virtual bool SetCursor(int x, int y) = 0;
    // Whether the toolkit watches this display too, so that its screens must follow a change.
    virtual bool IsToolkitScreen() const = 0;
    // Brings the top-level X window `window` to the front with the keyboard focus; `active` is
    // the requester's window that has the focus now, or 0. False where this backend cannot (no
    // X screen), so that the toolkit is asked instead.
    virtual bool Activate(unsigned long window, unsigned long active) = 0;
};

std::unique_ptr<Backend> MakeMachineBackend(const DisplayDescription& description);

// The real screen through RandR on a connection of our own; null when no X display opens.
std::unique_ptr<Backend> MakeX11Backend();

// A point moved inside a desktop of this size, the way the cursor is held on screen.
POINT ClampToDesktop(long x, long y, FrameSize desktop);

}  // namespace display
}  // namespace platform
