// SPDX-License-Identifier: GPL-2.0-or-later
// What the user chose in a V4L2 device's own dialogs, remembered per device in the user's
// settings and applied each time the device is connected.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>

#include "platform/capture/v4l2_modes.h"

namespace platform {

struct DeviceChoices {
    std::optional<std::string> input;                // the input's name, as the device lists it
    std::optional<std::string> standard;             // the TV standard's name
    std::map<std::uint32_t, std::int64_t> controls;  // control id -> value
    std::optional<std::string> soundInput;  // an ALSA capture PCM ("plughw:CARD=…,DEV=0")
    std::optional<NativeMode> mode;         // the native mode that feeds the scaler
    bool operator==(const DeviceChoices&) const = default;
};

// The choices remembered for the device known as `identity` (DriverDescription::identity);
// none when nothing was remembered or the store cannot be read.
DeviceChoices LoadDeviceChoices(const std::string& identity);
// False when the store cannot be written.
bool SaveDeviceChoices(const std::string& identity, const DeviceChoices& choices);

// The store's file: $XDG_CONFIG_HOME/vistrel/devices.ini (~/.config when unset).
std::string DeviceChoicesPath();

}  // namespace platform
