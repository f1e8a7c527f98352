// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/files.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <utility>
#include <vector>

#include "platform/machine.h"

namespace platform {
namespace {

namespace fs = std::filesystem;

using Parts = std::vector<std::string>;

bool IsWindowsSeparator(char c) {
    return c == '\\' || c == '/';
}

Parts Split(std::string_view path, bool (*isSeparator)(char)) {
    Parts parts;
    std::string part;
    for (const char c : path) {
        if (!isSeparator(c)) {
            part += c;
            continue;
        }
        if (!part.empty()) parts.push_back(std::move(part));
        part.clear();
    }
    if (!part.empty()) parts.push_back(std::move(part));
    return parts;
}

Parts WindowsParts(std::string_view path) {
    return Split(path, IsWindowsSeparator);
}
Parts HostParts(std::string_view path) {
    return Split(path, [](char c) { return c == '/'; });
}

char UpperLetter(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

bool IsLetter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// Symbolic links are resolved where they exist, so a home folder reached through a link still
// holds the files below it.
std::string Resolved(const std::string& hostPath) {
    std::error_code error;
    fs::path resolved = fs::weakly_canonical(hostPath, error);
    if (error) resolved = fs::path(hostPath).lexically_normal();
    return resolved.string();
}

std::string WorkingFolder() {
    std::error_code error;
    const fs::path folder = fs::current_path(error);
    return error ? "/" : folder.string();
}

// Where a host path lies: on which drive, and the names below that drive's folder.
struct Placement {
    char letter = 0;
    std::string folder;
    Parts below;
};

std::optional<Placement> Place(const std::string& hostPath) {
    const Parts parts = HostParts(Resolved(hostPath));
    std::optional<Placement> best;
    std::size_t bestDepth = 0;
    for (const auto& [letter, drive] : Machine().drives) {
        const Parts folder = HostParts(Resolved(drive.folder));
        const bool holds = folder.size() <= parts.size() &&
                           std::equal(folder.begin(), folder.end(), parts.begin());
        if (!holds || (best && folder.size() <= bestDepth)) continue;
        best = Placement{letter, drive.folder, Parts(parts.begin() + folder.size(), parts.end())};
        bestDepth = folder.size();
    }
    return best;
}

// Names are walked as Windows does: "." stays, ".." climbs but never above the drive's root.
void Walk(Parts& at, const Parts& names) {
    for (const std::string& name : names) {
        if (name == ".") continue;
        if (name != "..") {
            at.push_back(name);
        } else if (!at.empty()) {
            at.pop_back();
        }
    }
}

std::string Join(std::string root, const Parts& parts, char separator) {
    for (const std::string& part : parts) {
        if (root.empty() || root.back() != separator) root += separator;
        root += part;
    }
    return root;
}

struct Origin {
    std::string root;  // the host folder ".." cannot climb above
    Parts at;          // where the walk starts, below the root
};

std::optional<Origin> OriginOnDrive(char letter, bool rooted) {
    const auto& drives = Machine().drives;
    const auto drive = drives.find(letter);
    if (drive == drives.end()) return std::nullopt;
    Origin origin{drive->second.folder, {}};
    if (rooted) return origin;
    // A drive has no working folder of its own here: "X:name" is relative to the working
    // folder when it lies on X:, else to X:'s root.
    const auto working = Place(WorkingFolder());
    if (working && working->letter == letter) origin.at = working->below;
    return origin;
}

std::optional<Origin> OriginWithoutDrive(bool rooted) {
    const std::string folder = WorkingFolder();
    const auto working = Place(folder);
    if (working) return Origin{working->folder, rooted ? Parts{} : working->below};
    if (rooted) return std::nullopt;
    return Origin{"/", HostParts(folder)};
}

const DriveDescription* DriveOfRoot(LPCSTR rootPath) {
    const auto& drives = Machine().drives;
    char letter = 0;
    if (rootPath == nullptr) {
        const auto working = Place(WorkingFolder());
        if (!working) return nullptr;
        letter = working->letter;
    } else {
        const std::string_view root(rootPath);
        const bool isRoot = root.size() == 2 || (root.size() == 3 && IsWindowsSeparator(root[2]));
        if (!isRoot || !IsLetter(root[0]) || root[1] != ':') return nullptr;
        letter = UpperLetter(root[0]);
    }
    const auto drive = drives.find(letter);
    return drive == drives.end() ? nullptr : &drive->second;
}

void WarnUnplacedExecutable(const std::string& executable) {
    static bool warned = false;
    if (warned) return;
    warned = true;
    std::fprintf(stderr,
                 "%s: the program %s lies on no drive of the machine description; "
                 "its path is empty\n",
                 program_invocation_short_name, executable.c_str());
}

}  // namespace

std::string HostPath(const std::string& windowsPath) {
    if (windowsPath.empty()) return {};
    const bool hasDrive =
        windowsPath.size() >= 2 && windowsPath[1] == ':' && IsLetter(windowsPath[0]);
    const std::string_view rest = std::string_view(windowsPath).substr(hasDrive ? 2 : 0);
    const bool rooted = !rest.empty() && IsWindowsSeparator(rest.front());
    const auto origin =
        hasDrive ? OriginOnDrive(UpperLetter(windowsPath[0]), rooted) : OriginWithoutDrive(rooted);
    if (!origin) return {};
    Parts at = origin->at;
    Walk(at, WindowsParts(rest));
    return Join(origin->root, at, '/');
}

std::string WindowsPath(const std::string& hostPath) {
    if (hostPath.empty()) return {};
    const fs::path path = fs::path(WorkingFolder()) / hostPath;
    const auto placement = Place(path.string());
    if (!placement) return {};
    // A host name holding '\' has no Windows spelling.
    for (const std::string& name : placement->below)
        if (name.find('\\') != std::string::npos) return {};
    return Join(std::string(1, placement->letter) + ":\\", placement->below, '\\');
}

std::string WindowsFolder(const std::string& hostFolder) {
    std::string folder = hostFolder;
    if (folder.starts_with("~/")) {
        const char* home = std::getenv("HOME");
        if (home == nullptr || *home != '/') return {};
        folder = std::string(home) + folder.substr(1);
    }
    if (!folder.starts_with('/')) return {};
    std::string windows = WindowsPath(folder);
    if (!windows.empty() && !windows.ends_with('\\')) windows += '\\';
    return windows;
}

namespace {
std::string& ExecutableOverride() {
    static std::string path;
    return path;
}
}  // namespace

std::string SetExecutablePath(std::string hostPath) {
    return std::exchange(ExecutableOverride(), std::move(hostPath));
}

int WriteAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return 0;
}

}  // namespace platform

UINT GetDriveTypeA(LPCSTR rootPath) {
    const platform::DriveDescription* drive = platform::DriveOfRoot(rootPath);
    if (drive == nullptr) return DRIVE_NO_ROOT_DIR;
    struct stat info {};
    if (stat(drive->folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) return DRIVE_NO_ROOT_DIR;
    return drive->type;
}

DWORD GetModuleFileNameA(void* module, LPSTR fileName, DWORD size) {
    if (fileName == nullptr || size == 0) return 0;
    fileName[0] = '\0';
    if (module != nullptr) return 0;
    std::error_code error;
    const std::string executable =
        platform::ExecutableOverride().empty()
            ? std::filesystem::read_symlink("/proc/self/exe", error).string()
            : platform::ExecutableOverride();
    const std::string path = error ? std::string() : platform::WindowsPath(executable);
    if (path.empty()) {
        platform::WarnUnplacedExecutable(executable);
        return 0;
    }
    const std::size_t length = std::min<std::size_t>(path.size(), size - 1);
    std::memcpy(fileName, path.data(), length);
    fileName[length] = '\0';
    return static_cast<DWORD>(length);
}

BOOL DeleteFileA(LPCSTR fileName) {
    if (fileName == nullptr) return FALSE;
    const std::string path = platform::HostPath(fileName);
    // unlink refuses folders, as deleting a file by name must.
    if (path.empty() || unlink(path.c_str()) != 0) return FALSE;
    return TRUE;
}
