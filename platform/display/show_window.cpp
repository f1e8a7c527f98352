// SPDX-License-Identifier: GPL-2.0-or-later
#include <QWidget>

#include "platform/display.h"
#include "platform/window_handles.h"

BOOL ShowWindow(HWND window, int command) {
    QWidget* widget = platform::WidgetOf(window);
    if (widget == nullptr) return FALSE;
    QWidget* top = widget->window();
    const BOOL wasVisible = top->isVisible() ? TRUE : FALSE;
    const Qt::WindowStates state = top->windowState() & ~Qt::WindowActive;
    if (command == SW_SHOWMINNOACTIVE) {
        top->setWindowState(state | Qt::WindowMinimized);
        top->show();
    } else if (command == SW_SHOWNORMAL || command == SW_RESTORE) {
        top->setWindowState(state & ~(Qt::WindowMinimized | Qt::WindowMaximized));
        top->show();
    }
    return wasVisible;
}
