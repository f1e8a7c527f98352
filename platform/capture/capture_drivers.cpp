// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/capture/capture_drivers.h"

#include "platform/capture/v4l2_source.h"

namespace platform {

void InstallFoundDrivers(DriverSlots& drivers) {
    std::size_t next = 0;
    for (DriverDescription& found : DetectV4l2Drivers()) {
        if (next + 1 >= drivers.size()) break;  // the test card keeps its place
        drivers[next++] = std::move(found);
    }
    drivers[next] = DriverDescription{};
}

std::optional<DriverDescription> DriverNamed(const std::string& value) {
    std::string kind;
    for (const char c : value.substr(0, value.find(':')))
        kind += static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    if (kind == "testcard" && value.size() == kind.size()) return DriverDescription{};
    const std::string node = value.size() > 5 ? value.substr(5) : "";
    if (kind != "v4l2" || !node.starts_with('/')) return std::nullopt;
    if (auto described = DescribeV4l2Node(node)) return described;
    DriverDescription absent;
    absent.kind = "v4l2";
    absent.device = node;
    absent.name = node;
    absent.version = "0.0.0";
    absent.acceptsAny = false;
    return absent;
}

}  // namespace platform
