// SPDX-License-Identifier: GPL-2.0-or-later
// The described display: where no X screen is used (offscreen, Wayland, or on request), the
// machine description says what the desktop is and how each mode change is answered.
#include <algorithm>
#include <memory>

#include "platform/display/display_backend.h"

namespace platform::display {
namespace {

bool Lists(const std::vector<FrameSize>& sizes, FrameSize size) {
    return std::find(sizes.begin(), sizes.end(), size) != sizes.end();
}

// A description can only be read with sides of at least one pixel; anything smaller is taken as
// the default desktop rather than a zero-sized one nothing could be placed on.
FrameSize Usable(FrameSize size) {
    if (size.width > 0 && size.height > 0) return size;
    return DisplayDescription{}.size;
}

class MachineDisplay final : public Backend {
  public:
    explicit MachineDisplay(const DisplayDescription& description)
        : description_(description),
          start_(Usable(description.size)),
          desktop_(start_),
          cursor_{start_.width / 2, start_.height / 2} {}

    FrameSize DesktopSize() override { return desktop_; }

    std::vector<FrameSize> ModeSizes() override {
        std::vector<FrameSize> sizes = description_.modes;
        sizes.insert(sizes.end(), description_.restart.begin(), description_.restart.end());
        sizes.insert(sizes.end(), description_.failed.begin(), description_.failed.end());
        return sizes;
    }

    // A size named in several lists gets the least favourable answer.
    LONG Test(FrameSize size) override {
        if (Lists(description_.failed, size)) return DISP_CHANGE_FAILED;
        if (Lists(description_.restart, size)) return DISP_CHANGE_RESTART;
        if (Lists(description_.modes, size)) return DISP_CHANGE_SUCCESSFUL;
        return DISP_CHANGE_BADMODE;
    }

    LONG Apply(FrameSize size) override {
        const LONG rc = Test(size);
        if (rc == DISP_CHANGE_SUCCESSFUL) Resize(size);
        return rc;
    }

    LONG Restore() override {
        Resize(start_);
        return DISP_CHANGE_SUCCESSFUL;
    }

    bool CursorPos(POINT& point) override {
        point = cursor_;
        return true;
    }

    bool SetCursor(int x, int y) override {
        cursor_ = ClampToDesktop(x, y, desktop_);
        return true;
    }

    bool IsToolkitScreen() const override { return false; }

    bool Activate(unsigned long, unsigned long) override { return false; }

  private:
    // A smaller desktop pulls the cursor in with it, as a real screen does.
    void Resize(FrameSize size) {
        desktop_ = size;
        cursor_ = ClampToDesktop(cursor_.x, cursor_.y, desktop_);
    }

    DisplayDescription description_;
    FrameSize start_;
    FrameSize desktop_;
    POINT cursor_;
};

}  // namespace

std::unique_ptr<Backend> MakeMachineBackend(const DisplayDescription& description) {
    return std::make_unique<MachineDisplay>(description);
}

}  // namespace platform::display
