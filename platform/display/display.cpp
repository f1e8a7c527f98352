// SPDX-License-Identifier: GPL-2.0-or-later
// The display service: checks the caller's DEVMODEA, then hands a plain size to the backend the
// machine description chooses (the real X screen, or the described one); the cursor and window
// activation go to the same backend.
#include "platform/display.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QGuiApplication>
#include <QScreen>
#include <QThread>
#include <QWidget>
#include <QWindow>
#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <memory>

#include "platform/display/display_backend.h"
#include "platform/machine.h"
#include "platform/window_handles.h"

namespace platform {
namespace {

using display::Backend;

struct State {
    std::unique_ptr<Backend> backend;
    DisplayDescription description;  // what `backend` was chosen from
    QString toolkitPlatform;
};

State& Current() {
    static State state;
    return state;
}

bool SameDisplay(const DisplayDescription& a, const DisplayDescription& b) {
    return a.backend == b.backend && a.size == b.size && a.modes == b.modes &&
           a.restart == b.restart && a.failed == b.failed;
}

bool ToolkitOnX11() {
    return QGuiApplication::platformName() == QLatin1String("xcb");
}

std::unique_ptr<Backend> Choose(const DisplayDescription& description) {
    using Kind = DisplayDescription::Backend;
    if (description.backend == Kind::Machine) return display::MakeMachineBackend(description);
    if (description.backend == Kind::X11 || ToolkitOnX11()) {
        if (auto x11 = display::MakeX11Backend()) return x11;
    }
    if (description.backend == Kind::X11) {
        std::fprintf(stderr, "display: no X display opens; using the described %dx%d display\n",
                     description.size.width, description.size.height);
    }
    return display::MakeMachineBackend(description);
}

// The backend is chosen on first use and again whenever the machine description's display or
// the toolkit's platform changes under it (tests swap descriptions; the program never does).
Backend& Display() {
    State& state = Current();
    const DisplayDescription& wanted = Machine().display;
    const QString platformName = QGuiApplication::platformName();
    if (!state.backend || !SameDisplay(state.description, wanted) ||
        state.toolkitPlatform != platformName) {
        state.backend = Choose(wanted);
        state.description = wanted;
        state.toolkitPlatform = platformName;
    }
    return *state.backend;
}

// Qt reads RandR events on its own connection, so right after a change its screens still have
// the old size; a window laid out full screen at once would use it. The events are let in here,
// for a bounded time, from the GUI thread only.
void LetToolkitFollow(FrameSize desktop) {
    auto* app = QCoreApplication::instance();
    if (app == nullptr || QThread::currentThread() != app->thread() || !ToolkitOnX11()) return;
    const QSize wanted(desktop.width, desktop.height);
    const QDeadlineTimer deadline(2000);
    while (!deadline.hasExpired()) {
        const QScreen* screen = QGuiApplication::primaryScreen();
        if (screen != nullptr && screen->geometry().size() == wanted) return;
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents, 10);
        QThread::msleep(2);
    }
}

constexpr DWORD kKnownFlags = CDS_UPDATEREGISTRY | CDS_TEST | CDS_FULLSCREEN;
constexpr DWORD kLargestSide = 32767;  // X11 and Windows both stop there

bool Holds(const DEVMODEA& mode, std::size_t offset) {
    return mode.dmSize >= offset + sizeof(DWORD);
}

// Reads the size asked for, or gives the DISP_CHANGE_* code that refuses the record. Fields the
// record does not flag keep the current value; a flagged field must lie within dmSize.
LONG ReadRequest(const DEVMODEA& mode, FrameSize current, FrameSize& size) {
    if (!Holds(mode, offsetof(DEVMODEA, dmFields))) return DISP_CHANGE_BADPARAM;
    const DWORD fields = mode.dmFields;
    if (((fields & DM_BITSPERPEL) && !Holds(mode, offsetof(DEVMODEA, dmBitsPerPel))) ||
        ((fields & DM_PELSWIDTH) && !Holds(mode, offsetof(DEVMODEA, dmPelsWidth))) ||
        ((fields & DM_PELSHEIGHT) && !Holds(mode, offsetof(DEVMODEA, dmPelsHeight)))) {
        return DISP_CHANGE_BADPARAM;
    }
    if (fields & DM_BITSPERPEL) {
        const DWORD bits = mode.dmBitsPerPel;
        if (bits != 0 && bits != 16 && bits != 24 && bits != 32) return DISP_CHANGE_BADMODE;
    }
    const DWORD width = (fields & DM_PELSWIDTH) ? mode.dmPelsWidth : DWORD(current.width);
    const DWORD height = (fields & DM_PELSHEIGHT) ? mode.dmPelsHeight : DWORD(current.height);
    if (width == 0 || height == 0 || width > kLargestSide || height > kLargestSide) {
        return DISP_CHANGE_BADMODE;
    }
    size = {int(width), int(height)};
    return DISP_CHANGE_SUCCESSFUL;
}

LONG Restore(DWORD flags) {
    if (flags & CDS_TEST) return DISP_CHANGE_SUCCESSFUL;
    Backend& backend = Display();
    const LONG rc = backend.Restore();
    if (rc == DISP_CHANGE_SUCCESSFUL && backend.IsToolkitScreen()) {
        LetToolkitFollow(backend.DesktopSize());
    }
    return rc;
}

}  // namespace

void ResetDisplay() {
    Current().backend.reset();
}

}  // namespace platform

using platform::FrameSize;

LONG ChangeDisplaySettingsA(DEVMODEA* mode, DWORD flags) {
    if (flags & ~platform::kKnownFlags) return DISP_CHANGE_BADFLAGS;
    if (mode == nullptr) return platform::Restore(flags);
    platform::display::Backend& backend = platform::Display();
    FrameSize size;
    const LONG rc = platform::ReadRequest(*mode, backend.DesktopSize(), size);
    if (rc != DISP_CHANGE_SUCCESSFUL) return rc;
    if (flags & CDS_TEST) return backend.Test(size);
    const LONG applied = backend.Apply(size);
    if (applied == DISP_CHANGE_SUCCESSFUL && backend.IsToolkitScreen()) {
        platform::LetToolkitFollow(backend.DesktopSize());
    }
    return applied;
}

int GetSystemMetrics(int index) {
    if (index != SM_CXSCREEN && index != SM_CYSCREEN) return 0;
    const FrameSize desktop = platform::Display().DesktopSize();
    return index == SM_CXSCREEN ? desktop.width : desktop.height;
}

BOOL GetCursorPos(POINT* point) {
    if (point == nullptr) return FALSE;
    return platform::Display().CursorPos(*point) ? TRUE : FALSE;
}

BOOL SetCursorPos(int x, int y) {
    return platform::Display().SetCursor(x, y) ? TRUE : FALSE;
}

// Qt's own request is stamped with the last event it read, and is ignored after another
// client's focus change: on its X screen our backend asks instead, and Qt learns of the change
// from the focus events that follow, as after any other client's.
BOOL SetForegroundWindow(HWND window) {
    QWidget* widget = platform::WidgetOf(window);
    QWidget* top = widget != nullptr ? widget->window() : nullptr;
    if (top == nullptr || !top->isVisible()) return FALSE;
    if (platform::ToolkitOnX11()) {
        const QWindow* focus = QGuiApplication::focusWindow();
        if (platform::Display().Activate(top->winId(), focus != nullptr ? focus->winId() : 0)) {
            return TRUE;
        }
    }
    top->activateWindow();
    return TRUE;
}

namespace platform::display {

POINT ClampToDesktop(long x, long y, FrameSize desktop) {
    const long right = std::max(0L, long(desktop.width) - 1);
    const long bottom = std::max(0L, long(desktop.height) - 1);
    return {LONG(std::clamp(x, 0L, right)), LONG(std::clamp(y, 0L, bottom))};
}

}  // namespace platform::display
