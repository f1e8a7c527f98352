// SPDX-License-Identifier: GPL-2.0-or-later
// The machine's ALSA sound capture inputs, as a device's Source dialog offers them, and the one
// a V4L2 device records with.
#pragma once

#include <string>
#include <vector>

#include "platform/machine.h"

namespace platform {

struct SoundInputName {
    std::string pcm;          // what is opened: "default", "plughw:CARD=…,DEV=0"…
    std::string description;  // what the user reads
};

// The capture PCMs ALSA lists (snd_device_name_hint), `first` at the top when listed (and added
// when not), "default" next.
std::vector<SoundInputName> ListSoundInputs(const std::string& first);

// The input a V4L2 driver records with: the machine description's `audio` when it gives one,
// else the one remembered for the device, else the sound card on the device's own USB device,
// else "default". `sysfsRoot` is "/sys" but in tests.
std::string SoundInputFor(const DriverDescription& driver, const std::string& sysfsRoot = "/sys");

}  // namespace platform
