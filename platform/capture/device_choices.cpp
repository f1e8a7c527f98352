// Kept in memory only until the settings file takes over.
#include "platform/capture/device_choices.h"

#include <cstdlib>

namespace platform {
namespace {

std::map<std::string, DeviceChoices>& Remembered() {
    static std::map<std::string, DeviceChoices> remembered;
    return remembered;
}

}  // namespace

DeviceChoices LoadDeviceChoices(const std::string& identity) {
    const auto at = Remembered().find(identity);
    return at == Remembered().end() ? DeviceChoices{} : at->second;
}

bool SaveDeviceChoices(const std::string& identity, const DeviceChoices& choices) {
    Remembered()[identity] = choices;
    return true;
}

std::string DeviceChoicesPath() {
    const char* config = std::getenv("XDG_CONFIG_HOME");
    const char* home = std::getenv("HOME");
    const std::string base = config != nullptr && config[0] == '/' ? config
                             : home != nullptr                     ? std::string(home) + "/.config"
                                                                   : std::string{};
    return base + "/vistrel/devices.ini";
}

}  // namespace platform
