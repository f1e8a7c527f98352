// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/display/x11_foreground.h"

#include <algorithm>
#include <memory>

#include <X11/Xatom.h>

#include "platform/display/x11_error_trap.h"

namespace platform::display {
namespace {

struct FreeX {
    void operator()(unsigned char* data) const { XFree(data); }
};

// A property's 32-bit items, which Xlib hands over as longs; none when it is missing or of
// another type.
struct Items {
    std::unique_ptr<unsigned char, FreeX> data;
    unsigned long count = 0;

    const unsigned long* begin() const {
        return reinterpret_cast<const unsigned long*>(data.get());
    }
    const unsigned long* end() const { return begin() + count; }
};

// More than any window manager lists in _NET_SUPPORTED.
constexpr long kMostItems = 4096;

Items ReadItems(Display* display, Window window, Atom property, Atom type) {
    Atom actual = None;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    const int status = XGetWindowProperty(display, window, property, 0, kMostItems, False, type,
                                          &actual, &format, &count, &after, &data);
    Items items{std::unique_ptr<unsigned char, FreeX>(data), 0};
    if (status == Success && actual == type && format == 32) items.count = count;
    return items;
}

// _NET_ACTIVE_WINDOW's source indication: an application's request, not the user's.
constexpr long kFromApplication = 1;

}  // namespace

X11Foreground::X11Foreground(Display* display)
    : display_(display), root_(DefaultRootWindow(display)) {}

bool X11Foreground::Activate(Window window, Window active) {
    Prepare();
    Time now = CurrentTime;
    if (!ServerTime(now)) return false;
    const bool managed = ManagerActivates();
    ErrorTrap trap(display_);
    if (managed) {
        AskManager(window, active, now);
    } else {
        XRaiseWindow(display_, window);
        XSetInputFocus(display_, window, RevertToParent, now);
    }
    return !trap.Failed();
}

// On first use, so that a program that never activates a window pays nothing.
void X11Foreground::Prepare() {
    if (clock_ != None) return;
    clock_ = XCreateSimpleWindow(display_, root_, -1, -1, 1, 1, 0, 0, 0);
    XSelectInput(display_, clock_, PropertyChangeMask);
    timestamp_ = XInternAtom(display_, "_PLATFORM_TIMESTAMP", False);
    check_ = XInternAtom(display_, "_NET_SUPPORTING_WM_CHECK", False);
    supported_ = XInternAtom(display_, "_NET_SUPPORTED", False);
    activeWindow_ = XInternAtom(display_, "_NET_ACTIVE_WINDOW", False);
}

// ICCCM's way: appending nothing to a property still notifies, and the notification carries the
// server's time. The trap's round trip comes back after that notification, so it is queued by
// then and never waited for.
bool X11Foreground::ServerTime(Time& time) {
    static const unsigned char kNothing[1] = {0};
    ErrorTrap trap(display_);
    XChangeProperty(display_, clock_, timestamp_, XA_INTEGER, 32, PropModeAppend, kNothing, 0);
    if (trap.Failed()) return false;
    bool found = false;
    XEvent event;
    while (XCheckWindowEvent(display_, clock_, PropertyChangeMask, &event)) {
        time = event.xproperty.time;
        found = true;
    }
    return found;
}

// EWMH: a running window manager names its check window on the root and on that window itself
// (the name left by one that has gone points nowhere), and lists what it does in _NET_SUPPORTED.
bool X11Foreground::ManagerActivates() {
    ErrorTrap trap(display_);
    const Window check = FirstWindow(root_, check_);
    if (check == None || FirstWindow(check, check_) != check || trap.Failed()) return false;
    const Items supported = ReadItems(display_, root_, supported_, XA_ATOM);
    return std::find(supported.begin(), supported.end(), activeWindow_) != supported.end();
}

Window X11Foreground::FirstWindow(Window window, Atom property) {
    const Items items = ReadItems(display_, window, property, XA_WINDOW);
    return items.count > 0 ? Window(*items.begin()) : Window(None);
}

void X11Foreground::AskManager(Window window, Window active, Time time) {
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = activeWindow_;
    event.xclient.format = 32;
    event.xclient.data.l[0] = kFromApplication;
    event.xclient.data.l[1] = long(time);
    event.xclient.data.l[2] = long(active);
    XSendEvent(display_, root_, False, SubstructureRedirectMask | SubstructureNotifyMask, &event);
}

}  // namespace platform::display
