// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/display/x11_error_trap.h"

namespace platform::display {
namespace {

Display* trappedDisplay = nullptr;
int lastXError = 0;

int RecordXError(Display* display, XErrorEvent* event) {
    if (display == trappedDisplay) lastXError = event->error_code;
    return 0;
}

}  // namespace

ErrorTrap::ErrorTrap(Display* display)
    : display_(display), previous_(XSetErrorHandler(RecordXError)) {
    trappedDisplay = display_;
    XSync(display_, False);
    lastXError = 0;
}

ErrorTrap::~ErrorTrap() {
    XSync(display_, False);
    XSetErrorHandler(previous_);
}

bool ErrorTrap::Failed() {
    XSync(display_, False);
    return lastXError != 0;
}

}  // namespace platform::display
