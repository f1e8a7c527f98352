// SPDX-License-Identifier: GPL-2.0-or-later
// What a device's own Source and Format dialogs show and change: its inputs, TV standards,
// picture controls, sound input and native modes. The V4L2 driver answers it from the device;
// tests answer it themselves.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/capture/sound_inputs.h"
#include "platform/capture/v4l2_modes.h"

namespace platform {

struct ControlInfo {
    enum class Kind { Integer, Boolean, Menu, Button };
    std::uint32_t id = 0;
    Kind kind = Kind::Integer;
    std::string name;
    std::string group;  // the device's heading for it ("User Controls", "Camera Controls"…)
    std::int64_t minimum = 0;
    std::int64_t maximum = 0;
    std::int64_t step = 1;
    std::int64_t defaultValue = 0;
    std::int64_t value = 0;
    bool inactive = false;   // another control decides it now (an automatic mode)
    bool volatile_ = false;  // the device changes it by itself (a gain under automatic gain)
    std::vector<std::pair<std::int64_t, std::string>> menu;
};

class DeviceSetup {
  public:
    virtual ~DeviceSetup() = default;
    virtual std::string deviceName() const = 0;

    // Indexes into the lists; -1 when the device has none or does not say.
    virtual std::vector<std::string> Inputs() = 0;
    virtual int Input() = 0;
    virtual bool SelectInput(int index) = 0;
    // The standards of the input in force; empty for a camera.
    virtual std::vector<std::string> Standards() = 0;
    virtual int Standard() = 0;
    virtual bool SelectStandard(int index) = 0;

    virtual std::vector<ControlInfo> Controls() = 0;
    virtual bool SetControl(std::uint32_t id, std::int64_t value) = 0;

    virtual std::vector<SoundInputName> SoundInputs() = 0;
    virtual std::string SoundInput() = 0;
    virtual void SelectSoundInput(const std::string& pcm) = 0;

    virtual std::vector<NativeMode> Modes() = 0;
    // The mode feeding the picture now; the one the user chose (none: chosen for the size).
    virtual std::optional<NativeMode> ModeInUse() = 0;
    virtual std::optional<NativeMode> PreferredMode() = 0;
    virtual bool PreferMode(const std::optional<NativeMode>& mode) = 0;

    // Keeps the choices in force for every later connection of the device; false when they
    // could not be saved.
    virtual bool Remember() = 0;
};

}  // namespace platform
