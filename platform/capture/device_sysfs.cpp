// SPDX-License-Identifier: GPL-2.0-or-later
// Sysfs links are relative ("../../devices/…"), so resolving them under `sysfsRoot` works as
// well on a copy of the tree as on /sys itself.
#include "platform/capture/device_sysfs.h"

#include <algorithm>
#include <charconv>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string_view>
#include <system_error>
#include <vector>

namespace platform {
namespace {

namespace fs = std::filesystem;

// Sysfs attributes end with a newline, and USB string descriptors may be padded with blanks.
std::string ReadTrimmed(const fs::path& file) {
    std::ifstream in(file);
    const std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    const auto first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) return {};
    return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

std::optional<fs::path> Resolved(const fs::path& path) {
    std::error_code error;
    fs::path resolved = fs::canonical(path, error);
    if (error) return std::nullopt;
    return resolved;
}

bool IsUnder(const fs::path& path, const fs::path& folder) {
    const auto [end, at] = std::mismatch(folder.begin(), folder.end(), path.begin(), path.end());
    return end == folder.end();
}

// A machine description may name a node by one of udev's links (/dev/v4l/by-id/…); sysfs knows
// it by the kernel's name.
std::string KernelName(const std::string& node) {
    std::error_code error;
    const fs::path resolved = fs::canonical(node, error);
    return (error ? fs::path(node) : resolved).filename().string();
}

// The USB device (the directory holding idVendor) above the interface the node is on.
std::optional<fs::path> UsbDeviceOf(const std::string& node, const fs::path& root) {
    const auto top = Resolved(root);
    auto at = Resolved(root / "class/video4linux" / KernelName(node) / "device");
    if (!top || !at) return std::nullopt;
    for (fs::path dir = *at; IsUnder(dir, *top) && dir != *top; dir = dir.parent_path()) {
        std::error_code error;
        if (fs::exists(dir / "idVendor", error)) return dir;
    }
    return std::nullopt;
}

std::optional<int> NumberAfter(std::string_view text, std::string_view prefix) {
    if (!text.starts_with(prefix)) return std::nullopt;
    text.remove_prefix(prefix.size());
    int value = 0;
    const auto [stop, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc{} || stop != text.data() + text.size()) return std::nullopt;
    return value;
}

std::vector<std::string> Names(const fs::path& folder) {
    std::vector<std::string> names;
    std::error_code error;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error))
        names.push_back(it->path().filename().string());
    return names;
}

// The lowest capture PCM of card `card`: the kernel lists pcmC<card>D<n>c in the card's folder,
// and older layouts beside the cards in the class folder.
std::optional<int> CapturePcm(const fs::path& soundClass, int card) {
    const std::string prefix = "pcmC" + std::to_string(card) + "D";
    std::optional<int> lowest;
    for (const fs::path& folder : {soundClass / ("card" + std::to_string(card)), soundClass}) {
        for (std::string name : Names(folder)) {
            if (!name.ends_with('c')) continue;
            name.pop_back();
            const auto pcm = NumberAfter(name, prefix);
            if (pcm && (!lowest || *pcm < *lowest)) lowest = pcm;
        }
    }
    return lowest;
}

std::vector<int> CardsIn(const fs::path& soundClass) {
    std::vector<int> cards;
    for (const std::string& name : Names(soundClass))
        if (const auto card = NumberAfter(name, "card")) cards.push_back(*card);
    std::sort(cards.begin(), cards.end());
    return cards;
}

}  // namespace

std::string UsbSerialOf(const std::string& node, const std::string& sysfsRoot) {
    const auto usb = UsbDeviceOf(node, sysfsRoot);
    return usb ? ReadTrimmed(*usb / "serial") : std::string{};
}

std::optional<std::string> PairedSoundInput(const std::string& node, const std::string& sysfsRoot) {
    const auto usb = UsbDeviceOf(node, sysfsRoot);
    if (!usb) return std::nullopt;
    const fs::path soundClass = fs::path(sysfsRoot) / "class/sound";
    for (const int card : CardsIn(soundClass)) {
        const fs::path folder = soundClass / ("card" + std::to_string(card));
        const auto parent = Resolved(folder / "device");
        if (!parent || !IsUnder(*parent, *usb)) continue;
        const auto pcm = CapturePcm(soundClass, card);
        const std::string id = ReadTrimmed(folder / "id");
        if (pcm && !id.empty()) return "plughw:CARD=" + id + ",DEV=" + std::to_string(*pcm);
    }
    return std::nullopt;
}

}  // namespace platform
