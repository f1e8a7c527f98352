// SPDX-License-Identifier: GPL-2.0-or-later
// A V4L2 device's inputs, TV standards and picture controls: listed and changed for its dialogs,
// and the remembered choices applied each time it is connected.
#pragma once

#include <functional>
#include <memory>

#include "platform/capture/device_choices.h"
#include "platform/capture/device_setup.h"
#include "platform/capture/v4l2_io.h"
#include "platform/machine.h"

namespace platform {

// What the device's source does for its dialogs: its pictures depend on the input and the
// standard, and on the native mode that feeds them.
class PictureSetup {
  public:
    virtual ~PictureSetup() = default;
    virtual std::vector<NativeMode> modes() = 0;
    virtual std::optional<NativeMode> modeInUse() const = 0;
    virtual std::optional<NativeMode> preferredMode() const = 0;
    virtual bool PreferMode(const std::optional<NativeMode>& mode) = 0;
    // Runs `change` with the device stopped (an input or a standard cannot change while it
    // streams), then negotiates the picture in force again: its native sizes may have changed.
    // When the picture cannot be had any more, `undo` puts the device back and it is false.
    virtual bool Reconfigure(const std::function<bool()>& change,
                             const std::function<void()>& undo) = 0;
};

// Applies the input and standard of `choices` (before the device's format is read) and then its
// controls; what the device no longer has is skipped.
void ApplyInputAndStandard(V4l2Io& io, int fd, const DeviceChoices& choices);
void ApplyControls(V4l2Io& io, int fd, const DeviceChoices& choices);

// The dialogs' view of the device open on `fd`.
std::unique_ptr<DeviceSetup> V4l2DeviceSetup(V4l2Io& io, int fd, const DriverDescription& driver,
                                             PictureSetup& picture);

}  // namespace platform
