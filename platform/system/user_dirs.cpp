// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/system/user_dirs.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string_view>

namespace platform {
namespace {

constexpr std::string_view kVideosKey = "XDG_VIDEOS_DIR=";

std::string ConfigFolder(const std::string& home) {
    const char* config = std::getenv("XDG_CONFIG_HOME");
    if (config != nullptr && config[0] == '/') return config;
    return home + "/.config";
}

// The file's values are "$HOME/…" or an absolute path, in double quotes; "$HOME/" alone is how
// the desktop says a folder is not wanted.
std::string Resolved(std::string_view value, const std::string& home) {
    if (value.size() < 2 || value.front() != '"' || value.back() != '"') return {};
    value = value.substr(1, value.size() - 2);
    std::string folder;
    if (value.starts_with("$HOME")) {
        folder = home + std::string(value.substr(5));
    } else if (value.starts_with('/')) {
        folder = value;
    }
    const std::filesystem::path path = std::filesystem::path(folder).lexically_normal();
    if (folder.empty() || path == std::filesystem::path(home + "/").lexically_normal()) return {};
    std::string text = path.string();
    while (text.size() > 1 && text.back() == '/') text.pop_back();
    return text;
}

}  // namespace

std::string UserVideosFolder(const std::string& home) {
    if (home.empty()) return {};
    std::ifstream in(ConfigFolder(home) + "/user-dirs.dirs");
    std::string folder;
    for (std::string line; std::getline(in, line);) {
        if (line.starts_with(kVideosKey)) folder = Resolved(line.substr(kVideosKey.size()), home);
    }
    std::error_code error;
    if (folder.empty() || !std::filesystem::is_directory(folder, error)) return {};
    return folder;
}

}  // namespace platform
