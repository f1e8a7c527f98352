// SPDX-License-Identifier: GPL-2.0-or-later
// The real X screen: RandR answers mode tests from the modes of the primary (or first connected)
// output and drives that output's CRTC; the cursor is the X pointer; windows are activated as
// x11_foreground.h says. Everything goes through a connection of our own, so the answers never
// wait for Qt to have read its events.
#include <algorithm>
#include <cmath>
#include <memory>
#include <optional>
#include <vector>

#include "platform/display/display_backend.h"

// Xlib's macros (None, Status, Bool...) must not reach the headers above.
#include <X11/Xlib.h>
#include <X11/extensions/Xrandr.h>

#include "platform/display/x11_error_trap.h"
#include "platform/display/x11_foreground.h"

namespace platform::display {
namespace {

struct FreeResources {
    void operator()(XRRScreenResources* p) const { XRRFreeScreenResources(p); }
};
struct FreeOutput {
    void operator()(XRROutputInfo* p) const { XRRFreeOutputInfo(p); }
};
struct FreeCrtc {
    void operator()(XRRCrtcInfo* p) const { XRRFreeCrtcInfo(p); }
};
using Resources = std::unique_ptr<XRRScreenResources, FreeResources>;
using OutputInfo = std::unique_ptr<XRROutputInfo, FreeOutput>;
using CrtcInfo = std::unique_ptr<XRRCrtcInfo, FreeCrtc>;

// Other clients must not see the screen between its resize and the CRTC change.
class ServerGrab {
  public:
    explicit ServerGrab(Display* display) : display_(display) { XGrabServer(display_); }
    ~ServerGrab() { XUngrabServer(display_); }
    ServerGrab(const ServerGrab&) = delete;
    ServerGrab& operator=(const ServerGrab&) = delete;

  private:
    Display* display_;
};

struct CrtcSetting {
    RRCrtc crtc = None;
    RRMode mode = None;
    int x = 0;
    int y = 0;
    Rotation rotation = RR_Rotate_0;
    std::vector<RROutput> outputs;
};

// The output the desktop size and mode changes are about, with the CRTC driving it (if any).
struct Target {
    Resources resources;
    OutputInfo output;
    CrtcInfo crtc;
};

FrameSize SizeOnScreen(const XRRModeInfo& mode, Rotation rotation) {
    const int width = int(mode.width);
    const int height = int(mode.height);
    if (rotation & (RR_Rotate_90 | RR_Rotate_270)) return {height, width};
    return {width, height};
}

const XRRModeInfo* ModeInfo(const XRRScreenResources& resources, RRMode id) {
    for (int i = 0; i < resources.nmode; ++i) {
        if (resources.modes[i].id == id) return &resources.modes[i];
    }
    return nullptr;
}

// The output's modes come preferred first, so the first of the right size is the one to use.
RRMode FindMode(const Target& target, FrameSize size) {
    const Rotation rotation = target.crtc ? target.crtc->rotation : Rotation(RR_Rotate_0);
    for (int i = 0; i < target.output->nmode; ++i) {
        const XRRModeInfo* mode = ModeInfo(*target.resources, target.output->modes[i]);
        if (mode != nullptr && SizeOnScreen(*mode, rotation) == size) return mode->id;
    }
    return None;
}

CrtcSetting SettingOf(const XRRCrtcInfo& info, RRCrtc crtc) {
    CrtcSetting setting{crtc, info.mode, info.x, info.y, info.rotation, {}};
    setting.outputs.assign(info.outputs, info.outputs + info.noutput);
    return setting;
}

class X11Display final : public Backend {
  public:
    explicit X11Display(Display* display)
        : display_(display), root_(DefaultRootWindow(display)), randr_(HasRandR(display)) {
        const int screen = DefaultScreen(display);
        mmPerPixelX_ = double(DisplayWidthMM(display, screen)) / DisplayWidth(display, screen);
        mmPerPixelY_ = double(DisplayHeightMM(display, screen)) / DisplayHeight(display, screen);
    }
    ~X11Display() override { XCloseDisplay(display_); }
    X11Display(const X11Display&) = delete;
    X11Display& operator=(const X11Display&) = delete;

    // The monitor's size rather than the whole X screen's: with several monitors the desktop a
    // full-screen window should cover is the primary one.
    FrameSize DesktopSize() override {
        ErrorTrap trap(display_);
        std::optional<Target> target = FindTarget();
        if (target && target->crtc && !trap.Failed()) {
            return {int(target->crtc->width), int(target->crtc->height)};
        }
        return RootSize();
    }

    std::vector<FrameSize> ModeSizes() override {
        ErrorTrap trap(display_);
        std::vector<FrameSize> sizes;
        std::optional<Target> target = FindTarget();
        if (!target || trap.Failed()) return sizes;
        const Rotation rotation = target->crtc ? target->crtc->rotation : Rotation(RR_Rotate_0);
        for (int i = 0; i < target->output->nmode; ++i) {
            const XRRModeInfo* mode = ModeInfo(*target->resources, target->output->modes[i]);
            if (mode != nullptr) sizes.push_back(SizeOnScreen(*mode, rotation));
        }
        return sizes;
    }

    LONG Test(FrameSize size) override {
        ErrorTrap trap(display_);
        std::optional<Target> target = FindTarget();
        if (!target || FindMode(*target, size) == None || !FitsScreen(size)) {
            return DISP_CHANGE_BADMODE;
        }
        return trap.Failed() ? DISP_CHANGE_FAILED : DISP_CHANGE_SUCCESSFUL;
    }

    LONG Apply(FrameSize size) override {
        ErrorTrap trap(display_);
        std::optional<Target> target = FindTarget();
        const RRMode mode = target ? FindMode(*target, size) : RRMode(None);
        if (mode == None || !FitsScreen(size)) return DISP_CHANGE_BADMODE;
        if (!target->crtc) return DISP_CHANGE_FAILED;  // the output is switched off
        CrtcSetting setting = SettingOf(*target->crtc, target->output->crtc);
        if (!start_) start_ = Start{setting, RootSize()};
        setting.mode = mode;
        const FrameSize screen = ScreenAround(*target, setting, size);
        return Configure(*target->resources, setting, screen, trap);
    }

    LONG Restore() override {
        if (!start_) return DISP_CHANGE_SUCCESSFUL;
        ErrorTrap trap(display_);
        Resources resources(XRRGetScreenResourcesCurrent(display_, root_));
        if (!resources || trap.Failed()) return DISP_CHANGE_FAILED;
        return Configure(*resources, start_->setting, start_->screen, trap);
    }

    bool CursorPos(POINT& point) override {
        ErrorTrap trap(display_);
        Window root = None;
        Window child = None;
        int rootX = 0, rootY = 0, windowX = 0, windowY = 0;
        unsigned int buttons = 0;
        XQueryPointer(display_, root_, &root, &child, &rootX, &rootY, &windowX, &windowY, &buttons);
        if (trap.Failed()) return false;
        point = {rootX, rootY};
        return true;
    }

    // Clamped here as well as by the server: the protocol carries 16-bit coordinates, so a far
    // point would otherwise wrap round to the other side.
    bool SetCursor(int x, int y) override {
        ErrorTrap trap(display_);
        const POINT at = ClampToDesktop(x, y, RootSize());
        XWarpPointer(display_, None, root_, 0, 0, 0, 0, at.x, at.y);
        return !trap.Failed();
    }

    bool IsToolkitScreen() const override { return true; }

    bool Activate(unsigned long window, unsigned long active) override {
        return foreground_.Activate(window, active);
    }

  private:
    struct Start {
        CrtcSetting setting;
        FrameSize screen;
    };

    static bool HasRandR(Display* display) {
        int eventBase = 0, errorBase = 0, major = 0, minor = 0;
        return XRRQueryExtension(display, &eventBase, &errorBase) &&
               XRRQueryVersion(display, &major, &minor) && (major > 1 || minor >= 3);
    }

    FrameSize RootSize() {
        Window root = None;
        int x = 0, y = 0;
        unsigned int width = 0, height = 0, border = 0, depth = 0;
        XGetGeometry(display_, root_, &root, &x, &y, &width, &height, &border, &depth);
        return {int(width), int(height)};
    }

    OutputInfo ConnectedOutput(XRRScreenResources& resources, RROutput id) {
        OutputInfo info(XRRGetOutputInfo(display_, &resources, id));
        if (info && info->connection == RR_Connected) return info;
        return nullptr;
    }

    std::optional<Target> FindTarget() {
        if (!randr_) return std::nullopt;
        Target target{Resources(XRRGetScreenResourcesCurrent(display_, root_)), nullptr, nullptr};
        if (!target.resources) return std::nullopt;
        XRRScreenResources& resources = *target.resources;
        const RROutput primary = XRRGetOutputPrimary(display_, root_);
        if (primary != None) target.output = ConnectedOutput(resources, primary);
        for (int i = 0; i < resources.noutput && !target.output; ++i) {
            target.output = ConnectedOutput(resources, resources.outputs[i]);
        }
        if (!target.output) return std::nullopt;
        if (target.output->crtc != None) {
            target.crtc.reset(XRRGetCrtcInfo(display_, &resources, target.output->crtc));
        }
        return target;
    }

    bool FitsScreen(FrameSize size) {
        int minWidth = 0, minHeight = 0, maxWidth = 0, maxHeight = 0;
        if (!XRRGetScreenSizeRange(display_, root_, &minWidth, &minHeight, &maxWidth, &maxHeight)) {
            return false;
        }
        return size.width >= minWidth && size.width <= maxWidth && size.height >= minHeight &&
               size.height <= maxHeight;
    }

    // The screen that holds the changed CRTC and every other CRTC left as it is.
    FrameSize ScreenAround(const Target& target, const CrtcSetting& changed, FrameSize size) {
        FrameSize screen{changed.x + size.width, changed.y + size.height};
        const XRRScreenResources& resources = *target.resources;
        for (int i = 0; i < resources.ncrtc; ++i) {
            if (resources.crtcs[i] == changed.crtc) continue;
            CrtcInfo other(XRRGetCrtcInfo(display_, target.resources.get(), resources.crtcs[i]));
            if (!other || other->mode == None) continue;
            screen.width = std::max(screen.width, other->x + int(other->width));
            screen.height = std::max(screen.height, other->y + int(other->height));
        }
        return screen;
    }

    void SetScreenSize(FrameSize size) {
        const auto mm = [](int pixels, double mmPerPixel) {
            return std::max(1, int(std::lround(pixels * mmPerPixel)));
        };
        XRRSetScreenSize(display_, root_, size.width, size.height, mm(size.width, mmPerPixelX_),
                         mm(size.height, mmPerPixelY_));
    }

    // The screen first grows to hold both the old and the new CRTC, then the CRTC changes, then
    // the screen shrinks to fit: at no step does a CRTC stick out of the screen.
    LONG Configure(XRRScreenResources& resources, const CrtcSetting& setting, FrameSize screen,
                   ErrorTrap& trap) {
        const FrameSize before = RootSize();
        const FrameSize roomy{std::max(before.width, screen.width),
                              std::max(before.height, screen.height)};
        bool accepted = false;
        {
            ServerGrab grab(display_);
            if (!(roomy == before)) SetScreenSize(roomy);
            std::vector<RROutput> outputs = setting.outputs;
            accepted = XRRSetCrtcConfig(display_, &resources, setting.crtc, CurrentTime, setting.x,
                                        setting.y, setting.mode, setting.rotation, outputs.data(),
                                        int(outputs.size())) == RRSetConfigSuccess;
            if (accepted && !(screen == roomy)) SetScreenSize(screen);
        }
        if (accepted && !trap.Failed()) return DISP_CHANGE_SUCCESSFUL;
        if (!accepted && !(RootSize() == before)) SetScreenSize(before);
        return DISP_CHANGE_FAILED;
    }

    Display* display_;
    Window root_;
    bool randr_;
    double mmPerPixelX_ = 0.25;
    double mmPerPixelY_ = 0.25;
    std::optional<Start> start_;  // the mode before our first change
    X11Foreground foreground_{display_};
};

}  // namespace

std::unique_ptr<Backend> MakeX11Backend() {
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) return nullptr;
    return std::make_unique<X11Display>(display);
}

}  // namespace platform::display
