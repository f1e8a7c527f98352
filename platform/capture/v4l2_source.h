// SPDX-License-Identifier: GPL-2.0-or-later
// V4L2 video devices (webcams, capture cards) as capture drivers.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/capture/capture_source.h"

namespace platform {

// The driver a node offers: a video-capture node that streams gives its card name and driver
// version ("major.minor.patch"); others (metadata, output, missing) give nothing.
std::optional<DriverDescription> DescribeV4l2Node(const std::string& path);

// Every video-capture node of the machine, in node order.
std::vector<DriverDescription> DetectV4l2Drivers();

// Opens the device for a connection; nullptr when it is missing, busy, or gives no picture we
// can deliver, with the system's error in `error` (kNoDeliverablePicture for the last).
std::unique_ptr<VideoSource> OpenV4l2Source(const DriverDescription& driver, int* error = nullptr);

}  // namespace platform
