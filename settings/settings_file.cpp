#include "settings/settings_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>

#include "platform/codepage.h"
#include "platform/files.h"
#include "platform/messages.h"

namespace {

// Past this length the executable's path is taken as the platform cut it.
constexpr std::size_t kLongestPath = 32768;

constexpr std::string_view kReadFailure = "Impossible de lire les réglages de";
constexpr std::string_view kWriteFailure = "Impossible d'enregistrer les réglages dans";

class FileDescriptor {
  public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;

    int get() const { return fd_; }

    // Closes at once, for the late write error close() may still report.
    int close() {
        const int result = ::close(fd_);
        fd_ = -1;
        return result == 0 ? 0 : errno;
    }

  private:
    int fd_;
};

struct FileContents {
    bool exists = false;
    std::string bytes;
    int error = 0;  // set when the file exists but cannot be read
};

int ReadAll(int fd, std::string& bytes) {
    std::array<char, 65536> buffer;
    for (;;) {
        const ssize_t n = ::read(fd, buffer.data(), buffer.size());
        if (n > 0) {
            bytes.append(buffer.data(), static_cast<std::size_t>(n));
        } else if (n == 0) {
            return 0;
        } else if (errno != EINTR) {
            return errno;
        }
    }
}

// A missing file, or a path through a regular file, is simply no file: the normal first run.
// Only a regular file is read, so a FIFO or a device in its place can neither block nor flood us.
FileContents ReadWholeFile(const std::string& hostPath) {
    FileDescriptor fd(::open(hostPath.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    if (fd.get() < 0) {
        if (errno == ENOENT || errno == ENOTDIR) return {};
        return {true, {}, errno};
    }
    struct stat status {};
    if (::fstat(fd.get(), &status) != 0) return {true, {}, errno};
    if (!S_ISREG(status.st_mode)) return {true, {}, kFileNotRegular};
    FileContents contents{true, {}, 0};
    contents.error = ReadAll(fd.get(), contents.bytes);
    return contents;
}

std::string Folder(const std::string& hostPath) {
    const std::size_t slash = hostPath.find_last_of('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : hostPath.substr(0, slash);
}

// Makes the rename itself survive a power cut; a folder that refuses costs only that.
void SyncFolder(const std::string& hostPath) {
    const FileDescriptor fd(::open(Folder(hostPath).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd.get() >= 0) ::fsync(fd.get());
}

struct Replacement {
    int error = 0;
    bool keepMode = false;  // an existing file keeps its permissions
    mode_t mode = 0;
};

// A file the user made read-only stays as it is, although its folder would let us replace it.
Replacement CheckReplaceable(const std::string& hostPath) {
    struct stat status {};
    if (::stat(hostPath.c_str(), &status) != 0) return {};
    if (::access(hostPath.c_str(), W_OK) != 0) return {errno};
    return {0, true, static_cast<mode_t>(status.st_mode & 0777)};
}

int WriteTemporary(const std::string& tempPath, std::string_view bytes, const Replacement& how) {
    ::unlink(tempPath.c_str());  // left by a run of ours that died mid-write
    FileDescriptor fd(::open(tempPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
    if (fd.get() < 0) return errno;
    if (how.keepMode && ::fchmod(fd.get(), how.mode) != 0) return errno;
    if (const int error = platform::WriteAll(fd.get(), bytes)) return error;
    if (::fsync(fd.get()) != 0) return errno;
    return fd.close();
}

// Whole or not at all: the new text goes to a file beside the old one, which it then replaces.
int ReplaceFile(const std::string& hostPath, std::string_view bytes) {
    const Replacement how = CheckReplaceable(hostPath);
    if (how.error != 0) return how.error;
    const std::string tempPath = hostPath + ".tmp" + std::to_string(::getpid());
    int error = WriteTemporary(tempPath, bytes, how);
    if (error == 0 && ::rename(tempPath.c_str(), hostPath.c_str()) != 0) error = errno;
    if (error != 0) {
        ::unlink(tempPath.c_str());
        return error;
    }
    SyncFolder(hostPath);
    return 0;
}

std::string FailureText(std::string_view action, const std::string& path, int error) {
    std::string text = std::string(action) + " \"" + path + "\"";
    const std::string reason = FileErrorReason(error);
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

std::string WithLine(const FileContents& file, const std::string& value, WORD line) {
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
    const FileContents file = ReadWholeFile(hostPath);
    if (file.error != 0) return file.error;
    return ReplaceFile(hostPath, WithLine(file, value, line));
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

std::string ReadSettingLine(const std::string& path, WORD line) {
    const std::string hostPath = platform::HostPath(path);
    const FileContents file = ReadWholeFile(hostPath);
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

std::string FileErrorReason(int error) {
    switch (error) {
        case EACCES:
        case EPERM:
        case EROFS:
            return "accès refusé";
        case ENOSPC:
        case EDQUOT:
        case EFBIG:
            return "disque plein";
        case ENOENT:
        case ENOTDIR:
            return "dossier introuvable";
        case EISDIR:
        case ENXIO:
        case kFileNotRegular:
            return "ce n'est pas un fichier";
        case kFileLineBreak:
            return "un réglage ne peut pas tenir sur plusieurs lignes";
        case kFileNoDrive:
            return "lecteur introuvable";
        default:
            return {};
    }
}
