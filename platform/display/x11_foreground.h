// SPDX-License-Identifier: GPL-2.0-or-later
// Window activation on the display service's own X connection (display_x11.cpp's).
#pragma once

#include <X11/Xlib.h>

namespace platform::display {

// Gives a top-level window the keyboard focus with a timestamp the server takes now. A focus
// request is stamped, and the server (or a window manager by its focus-stealing rules) ignores
// one older than the last focus change; the toolkit stamps its own with the last event it read,
// which predates a change made since by another client, so its first request after one is lost.
class X11Foreground {
  public:
    explicit X11Foreground(Display* display);
    X11Foreground(const X11Foreground&) = delete;
    X11Foreground& operator=(const X11Foreground&) = delete;

    // Asks the window manager through _NET_ACTIVE_WINDOW where one runs that supports it; else
    // raises the window and sets the focus on it. `active` is the requester's window that has
    // the focus now, or None. False when no timestamp could be had or the server refused.
    bool Activate(Window window, Window active);

  private:
    void Prepare();
    bool ServerTime(Time& time);
    bool ManagerActivates();
    Window FirstWindow(Window window, Atom property);
    void AskManager(Window window, Window active, Time time);

    Display* display_;
    Window root_;
    // Never mapped; its property changes tell the server's time. It goes with the connection.
    Window clock_ = None;
    Atom timestamp_ = None;
    Atom check_ = None;
    Atom supported_ = None;
    Atom activeWindow_ = None;
};

}  // namespace platform::display
