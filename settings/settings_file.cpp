// SPDX-License-Identifier: GPL-2.0-or-later
#include "settings/settings_file.h"

#include <cerrno>

#include "platform/codepage.h"
#include "platform/files.h"
#include "platform/messages.h"

namespace {

// Past this length the executable's path is taken as the platform cut it.
constexpr std::size_t kLongestPath = 32768;

constexpr std::string_view kReadFailure = "Impossible de lire les réglages de";
constexpr std::string_view kWriteFailure = "Impossible d'enregistrer les réglages dans";

std::string FailureText(std::string_view action, const std::string& path, int error) {
    std::string text = std::string(action) + " \"" + path + "\"";
    const std::string reason = platform::FileErrorReason(error);
    if (!reason.empty()) text += " : " + reason;
    return text + " ...";
}

std::string& LastReported() {
    static std::string text;
    return text;
}

void Report(const std::string& text) {
    if (text == LastReported()) return;
    LastReported() = text;
    platform::ShowMessage(text);
}

void ForgetReported() {
    LastReported().clear();
}

std::string WithLine(const platform::WholeFile& file, const std::string& value, WORD line) {
    std::vector<std::string_view> lines =
        file.exists ? SplitSettingLines(file.bytes)
                    : std::vector<std::string_view>(kNewSettingsFileLines);
    if (lines.size() <= line) lines.resize(std::size_t{line} + 1);
    const std::string ansi = platform::Utf8ToAnsi(value);
    lines[line] = ansi;
    return JoinSettingLines(lines);
}

// A file that exists but cannot be read is never replaced: its other lines would be lost.
int PutLine(const std::string& hostPath, const std::string& value, WORD line) {
    if (hostPath.empty()) return kFileNoDrive;
    if (value.find_first_of("\r\n") != std::string::npos) return kFileLineBreak;
    const platform::WholeFile file = platform::ReadWholeFile(hostPath);
    if (file.error != 0) return file.error;
    return platform::ReplaceWholeFile(hostPath, WithLine(file, value, line));
}

}  // namespace

std::string DirectoryPart(std::string_view windowsPath) {
    const std::size_t separator = windowsPath.find_last_of("\\:");
    if (separator == std::string_view::npos) return {};
    return std::string(windowsPath.substr(0, separator + 1));
}

std::string ExeDirectory() {
    std::string path(MAX_PATH, '\0');
    for (;;) {
        const DWORD length =
            GetModuleFileNameA(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length + 1 < path.size() || path.size() >= kLongestPath) {
            path.resize(length);
            return DirectoryPart(path);
        }
        path.resize(path.size() * 2);  // the path was cut: ask again with room for all of it
    }
}

std::string SettingsPath(const std::string& appDirectory) {
    return appDirectory + "\\Vistrel.ini";
}

void RemoveStaleSettingsTemporaries() {
    platform::RemoveStaleReplacements(platform::HostPath(SettingsPath(ExeDirectory())));
}

std::string ReadSettingLine(const std::string& path, WORD line) {
    const std::string hostPath = platform::HostPath(path);
    const platform::WholeFile file = platform::ReadWholeFile(hostPath);
    if (file.error != 0) {
        Report(FailureText(kReadFailure, hostPath, file.error));
        return {};
    }
    ForgetReported();
    const std::vector<std::string_view> lines = SplitSettingLines(file.bytes);
    return line < lines.size() ? platform::AnsiToUtf8(lines[line]) : std::string();
}

bool WriteSettingLine(const std::string& path, const std::string& value, WORD line) {
    const std::string hostPath = platform::HostPath(path);
    const int error = PutLine(hostPath, value, line);
    if (error != 0) {
        Report(FailureText(kWriteFailure, hostPath.empty() ? path : hostPath, error));
        return false;
    }
    ForgetReported();
    return true;
}

std::vector<std::string_view> SplitSettingLines(std::string_view bytes) {
    std::vector<std::string_view> lines;
    std::size_t start = 0;
    while (start < bytes.size()) {
        const std::size_t end = bytes.find_first_of("\r\n", start);
        if (end == std::string_view::npos) {
            lines.push_back(bytes.substr(start));
            break;
        }
        lines.push_back(bytes.substr(start, end - start));
        start = end + (bytes.compare(end, 2, "\r\n") == 0 ? 2 : 1);
    }
    return lines;
}

std::string JoinSettingLines(const std::vector<std::string_view>& lines) {
    std::size_t size = 0;
    for (const std::string_view line : lines) size += line.size() + 2;
    std::string bytes;
    bytes.reserve(size);
    for (const std::string_view line : lines) {
        bytes += line;
        bytes += "\r\n";
    }
    return bytes;
}
