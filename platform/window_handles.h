// SPDX-License-Identifier: GPL-2.0-or-later
// The handle registry: toolkit widgets get window handles so that services taking an HWND can
// reach them, and a handle that is 0, unknown or whose widget is gone is refused safely.
#pragma once

#include "platform/windef.h"

class QWidget;

namespace platform {

// The handle of a widget, given out on first request; stable while the widget lives.
HWND HandleOf(QWidget* widget);

// The widget behind a handle, or nullptr when the handle is 0, unknown or its widget is gone.
QWidget* WidgetOf(HWND handle);

}  // namespace platform
