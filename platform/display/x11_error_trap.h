// SPDX-License-Identifier: GPL-2.0-or-later
// Protocol errors on the display service's own X connection. Xlib's default handler ends the
// process on any of them; a mode the server refuses, an output or a window that vanished between
// two requests, must only fail the call in progress.
#pragma once

#include <X11/Xlib.h>

namespace platform::display {

// Catches the errors of one connection from its construction to its destruction; another Xlib
// connection in the process (Qt may keep one) is not failed or reported through it. Traps follow
// one another; they do not nest.
class ErrorTrap {
  public:
    explicit ErrorTrap(Display* display);
    ~ErrorTrap();
    ErrorTrap(const ErrorTrap&) = delete;
    ErrorTrap& operator=(const ErrorTrap&) = delete;

    // Whether any request sent since the trap was set failed; waits for the server's answers.
    bool Failed();

  private:
    Display* display_;
    XErrorHandler previous_;
};

}  // namespace platform::display
