// SPDX-License-Identifier: GPL-2.0-or-later
// What sysfs tells about a V4L2 device node: the USB device it belongs to, its serial number,
// and the ALSA capture card on the same USB device (a grabber's or a webcam's own sound).
#pragma once

#include <optional>
#include <string>

namespace platform {

// The serial number of the USB device `node` (/dev/videoN) belongs to; empty when it is not on
// USB or has none. `sysfsRoot` is "/sys" but in tests.
std::string UsbSerialOf(const std::string& node, const std::string& sysfsRoot = "/sys");

// The ALSA capture PCM of a sound card on the same USB device as `node`
// ("plughw:CARD=<id>,DEV=<n>"); nothing when there is none.
std::optional<std::string> PairedSoundInput(const std::string& node,
                                            const std::string& sysfsRoot = "/sys");

}  // namespace platform
