// SPDX-License-Identifier: GPL-2.0-or-later
// The capture drivers a machine has: the V4L2 capture nodes found, or those the machine
// description names, and the test card.
#pragma once

#include <array>
#include <optional>
#include <string>

#include "platform/machine.h"

namespace platform {

using DriverSlots = std::array<std::optional<DriverDescription>, 10>;

// Without a [drivers] section: the V4L2 capture nodes at 0, 1, … in node order, then the test
// card at the next free index.
void InstallFoundDrivers(DriverSlots& found);

// A [drivers] value: "testcard" or "v4l2:/dev/videoN" (described by the device when it answers,
// else named after its node until it is plugged in). Nothing for any other value.
std::optional<DriverDescription> DriverNamed(const std::string& value);

}  // namespace platform
