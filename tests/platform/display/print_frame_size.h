// SPDX-License-Identifier: GPL-2.0-or-later
// Failures in the display tests print a size as 800x600.
#pragma once

#include <ostream>

#include "platform/machine.h"

namespace platform {

inline void PrintTo(const FrameSize& size, std::ostream* out) {
    *out << size.width << "x" << size.height;
}

}  // namespace platform
