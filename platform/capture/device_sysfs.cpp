#include "platform/capture/device_sysfs.h"

namespace platform {

std::string UsbSerialOf(const std::string&, const std::string&) {
    return {};
}

std::optional<std::string> PairedSoundInput(const std::string&, const std::string&) {
    return std::nullopt;
}

}  // namespace platform
