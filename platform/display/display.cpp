// SPDX-License-Identifier: GPL-2.0-or-later
// The display service: checks the caller's DEVMODEA, then hands a plain size to the backend the
// machine description chooses (the real X screen, or the described one); the cursor and window
// activation go to the same backend. The backends count in device pixels, the program in the
// toolkit's: every size and point is turned from one into the other here.
#include "platform/display.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QGuiApplication>
#include <QScreen>
#include <QThread>
#include <QWidget>
#include <QWindow>
#include <algorithm>
#include <climits>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <memory>
#include <vector>

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

// How the toolkit turns the primary screen's device pixels into the pixels it places windows in:
// sides divided by the factor and rounded, points scaled about the screen's top-left corner,
// which is the same in both.
struct Scale {
    qreal factor = 1;
    QPoint origin;
};

Scale ScaleOf(const QScreen* screen) {
    if (screen == nullptr || !(screen->devicePixelRatio() > 0)) return {};
    return {screen->devicePixelRatio(), screen->geometry().topLeft()};
}

// Without a GUI application (tools, early start-up) nothing is scaled.
Scale ToolkitScale() {
    if (qobject_cast<QGuiApplication*>(QCoreApplication::instance()) == nullptr) return {};
    return ScaleOf(QGuiApplication::primaryScreen());
}

FrameSize ToProgram(FrameSize device, const Scale& scale) {
    return {qRound(device.width / scale.factor), qRound(device.height / scale.factor)};
}

LONG ToProgram(LONG device, int origin, const Scale& scale) {
    return LONG(origin + qRound((device - origin) / scale.factor));
}

// Far points stay far without overflowing: the backend holds them to the desktop.
long ToDevice(long program, int origin, const Scale& scale) {
    const double device = origin + std::round((double(program) - origin) * scale.factor);
    return long(std::clamp(device, double(INT_MIN), double(INT_MAX)));
}

// The mode that gives a desktop of this size. A size no mode gives is only scaled, and the
// backend refuses it as any size it lacks.
FrameSize DeviceSize(Backend& backend, FrameSize program, const Scale& scale) {
    if (scale.factor == 1) return program;
    for (const FrameSize& mode : backend.ModeSizes()) {
        if (ToProgram(mode, scale) == program) return mode;
    }
    const auto side = [&scale](int length) {
        return int(std::min(std::round(length * scale.factor), double(INT_MAX)));
    };
    return {side(program.width), side(program.height)};
}

// Qt reads RandR events on its own connection, so right after a change its screens still have
// the old size; a window laid out full screen at once would use it. The events are let in here,
// for a bounded time, from the GUI thread only.
void LetToolkitFollow(FrameSize desktop) {
    auto* app = QCoreApplication::instance();
    if (app == nullptr || QThread::currentThread() != app->thread() || !ToolkitOnX11()) return;
    const QDeadlineTimer deadline(2000);
    while (!deadline.hasExpired()) {
        const QScreen* screen = QGuiApplication::primaryScreen();
        if (screen != nullptr) {
            const FrameSize seen{screen->geometry().width(), screen->geometry().height()};
            if (seen == ToProgram(desktop, ScaleOf(screen))) return;
        }
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents, 10);
        QThread::msleep(2);
    }
}

struct Monitor {
    QRect area;
    QRect work;
    bool primary;
};

// At a fractional scale the toolkit rounds a window's place and its size to device pixels each
// on its own, which can take the far edge one device pixel past where it was put: there the work
// area ends a pixel early, so that a window put flush with it still ends on the screen.
QRect Reachable(const QRect& work, qreal factor) {
    if (factor == std::floor(factor)) return work;
    return work.adjusted(0, 0, -1, -1);
}

// The toolkit's screens where it watches our X screen (their work areas are the window
// manager's), else the one described desktop.
std::vector<Monitor> Monitors() {
    Backend& backend = Display();
    std::vector<Monitor> monitors;
    if (backend.IsToolkitScreen() && ToolkitOnX11()) {
        const QScreen* primary = QGuiApplication::primaryScreen();
        for (const QScreen* screen : QGuiApplication::screens()) {
            monitors.push_back({screen->geometry(),
                                Reachable(screen->availableGeometry(), screen->devicePixelRatio()),
                                screen == primary});
        }
    }
    if (monitors.empty()) {
        const Scale scale = ToolkitScale();
        const FrameSize desktop = ToProgram(backend.DesktopSize(), scale);
        const QRect whole(0, 0, desktop.width, desktop.height);
        monitors.push_back({whole, Reachable(whole, scale.factor), true});
    }
    return monitors;
}

RECT RectOf(const QRect& r) {
    return {r.left(), r.top(), r.left() + r.width(), r.top() + r.height()};
}

long long SharedArea(const RECT& a, const RECT& b) {
    const long long width = (long long)std::min(a.right, b.right) - std::max(a.left, b.left);
    const long long height = (long long)std::min(a.bottom, b.bottom) - std::max(a.top, b.top);
    return width > 0 && height > 0 ? width * height : 0;
}

// Squared, 0 when they touch or overlap.
long long Distance(const RECT& a, const RECT& b) {
    const long long dx = std::max({0LL, (long long)b.left - a.right, (long long)a.left - b.right});
    const long long dy = std::max({0LL, (long long)b.top - a.bottom, (long long)a.top - b.bottom});
    return dx * dx + dy * dy;
}

HMONITOR HandleOfMonitor(std::size_t index) {
    return reinterpret_cast<HMONITOR>(index + 1);
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
    const platform::Scale scale = platform::ToolkitScale();
    FrameSize size;
    const LONG rc =
        platform::ReadRequest(*mode, platform::ToProgram(backend.DesktopSize(), scale), size);
    if (rc != DISP_CHANGE_SUCCESSFUL) return rc;
    size = platform::DeviceSize(backend, size, scale);
    if (flags & CDS_TEST) return backend.Test(size);
    const LONG applied = backend.Apply(size);
    if (applied == DISP_CHANGE_SUCCESSFUL && backend.IsToolkitScreen()) {
        platform::LetToolkitFollow(backend.DesktopSize());
    }
    return applied;
}

int GetSystemMetrics(int index) {
    if (index != SM_CXSCREEN && index != SM_CYSCREEN) return 0;
    const FrameSize desktop =
        platform::ToProgram(platform::Display().DesktopSize(), platform::ToolkitScale());
    return index == SM_CXSCREEN ? desktop.width : desktop.height;
}

BOOL GetCursorPos(POINT* point) {
    if (point == nullptr) return FALSE;
    POINT device{};
    if (!platform::Display().CursorPos(device)) return FALSE;
    const platform::Scale scale = platform::ToolkitScale();
    *point = {platform::ToProgram(device.x, scale.origin.x(), scale),
              platform::ToProgram(device.y, scale.origin.y(), scale)};
    return TRUE;
}

BOOL SetCursorPos(int x, int y) {
    const platform::Scale scale = platform::ToolkitScale();
    const long deviceX = platform::ToDevice(x, scale.origin.x(), scale);
    const long deviceY = platform::ToDevice(y, scale.origin.y(), scale);
    return platform::Display().SetCursor(int(deviceX), int(deviceY)) ? TRUE : FALSE;
}

HMONITOR MonitorFromRect(const RECT* rect, DWORD flags) {
    if (rect == nullptr) return nullptr;
    const std::vector<platform::Monitor> monitors = platform::Monitors();
    std::size_t chosen = monitors.size();
    long long most = 0;
    for (std::size_t i = 0; i < monitors.size(); ++i) {
        const long long shared = platform::SharedArea(*rect, platform::RectOf(monitors[i].area));
        if (shared > most) {
            most = shared;
            chosen = i;
        }
    }
    if (chosen == monitors.size() && flags == MONITOR_DEFAULTTOPRIMARY) {
        const auto primary = std::find_if(monitors.begin(), monitors.end(),
                                          [](const platform::Monitor& m) { return m.primary; });
        chosen = std::size_t(primary - monitors.begin());
    }
    if (chosen == monitors.size() && flags == MONITOR_DEFAULTTONEAREST) {
        long long nearest = std::numeric_limits<long long>::max();
        for (std::size_t i = 0; i < monitors.size(); ++i) {
            const long long distance =
                platform::Distance(*rect, platform::RectOf(monitors[i].area));
            if (distance < nearest) {
                nearest = distance;
                chosen = i;
            }
        }
    }
    return chosen < monitors.size() ? platform::HandleOfMonitor(chosen) : nullptr;
}

BOOL GetMonitorInfoA(HMONITOR monitor, MONITORINFO* info) {
    if (info == nullptr || info->cbSize != sizeof(MONITORINFO)) return FALSE;
    const std::vector<platform::Monitor> monitors = platform::Monitors();
    const auto number = reinterpret_cast<std::uintptr_t>(monitor);
    if (number == 0 || number > monitors.size()) return FALSE;
    const platform::Monitor& chosen = monitors[number - 1];
    info->rcMonitor = platform::RectOf(chosen.area);
    info->rcWork = platform::RectOf(chosen.work);
    info->dwFlags = chosen.primary ? MONITORINFOF_PRIMARY : 0;
    return TRUE;
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
