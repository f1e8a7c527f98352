// SPDX-License-Identifier: GPL-2.0-or-later
// Whole-file reads, replacements and overwrites, and the per-user store that stands in for a
// program folder the user may not write.
#include <fcntl.h>
#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string_view>

#include "platform/files.h"

namespace platform {
namespace {

namespace fs = std::filesystem;

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

WholeFile ReadFileAt(const std::string& hostPath) {
    FileDescriptor fd(::open(hostPath.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    if (fd.get() < 0) {
        if (errno == ENOENT || errno == ENOTDIR) return {};
        return {true, {}, errno};
    }
    struct stat status {};
    if (::fstat(fd.get(), &status) != 0) return {true, {}, errno};
    if (!S_ISREG(status.st_mode)) return {true, {}, kFileNotRegular};
    WholeFile contents{true, {}, 0};
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

// What stands under a name the program writes must be a regular file of its own or nothing: a
// link would have its target overwritten (or be replaced by a file), and a FIFO or a device
// would take the bytes, or block, or act on the open itself.
int CheckRegularOrAbsent(const std::string& hostPath, struct stat& status) {
    if (::lstat(hostPath.c_str(), &status) != 0) return errno == ENOENT ? 0 : errno;
    return S_ISREG(status.st_mode) ? 0 : kFileNotRegular;
}

// A file the user made read-only stays as it is, although its folder would let us replace it.
Replacement CheckReplaceable(const std::string& hostPath) {
    struct stat status {};
    if (::lstat(hostPath.c_str(), &status) != 0) return {};
    if (const int error = CheckRegularOrAbsent(hostPath, status)) return {error};
    if (::access(hostPath.c_str(), W_OK) != 0) return {errno};
    return {0, true, static_cast<mode_t>(status.st_mode & 0777)};
}

int WriteTemporary(const std::string& tempPath, std::string_view bytes, const Replacement& how) {
    ::unlink(tempPath.c_str());  // left by a run of ours that died mid-write
    FileDescriptor fd(::open(tempPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
    if (fd.get() < 0) return errno;
    if (how.keepMode && ::fchmod(fd.get(), how.mode) != 0) return errno;
    if (const int error = WriteAll(fd.get(), bytes)) return error;
    if (::fsync(fd.get()) != 0) return errno;
    return fd.close();
}

// Named after its writer, so that two processes replacing one file never share a temporary, and
// one left by a process that died can be told from one still being written.
std::string TemporaryPath(const std::string& hostPath, pid_t writer) {
    return hostPath + ".tmp" + std::to_string(writer);
}

// The process that wrote `name` as a temporary of the file named `target`; none for any name
// TemporaryPath does not give (no sign, no leading zero, nothing after the number).
std::optional<pid_t> TemporaryWriter(std::string_view name, const std::string& target) {
    const std::string prefix = target + ".tmp";
    if (!name.starts_with(prefix)) return std::nullopt;
    const std::string_view digits = name.substr(prefix.size());
    pid_t writer = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), writer);
    if (error != std::errc() || end != digits.data() + digits.size() || writer <= 0 ||
        std::to_string(writer) != digits) {
        return std::nullopt;
    }
    return writer;
}

// kill() without a signal only asks; another user's process answers EPERM, and runs.
bool Runs(pid_t process) {
    return ::kill(process, 0) == 0 || errno != ESRCH;
}

bool IsStaleTemporary(const fs::directory_entry& entry, const std::string& target) {
    const std::optional<pid_t> writer = TemporaryWriter(entry.path().filename().string(), target);
    std::error_code error;
    return writer && !Runs(*writer) && entry.symlink_status(error).type() == fs::file_type::regular;
}

void RemoveStaleTemporariesAt(const std::string& hostPath) {
    const std::string target = fs::path(hostPath).filename().string();
    if (target.empty()) return;  // no file named: nothing is its temporary
    std::error_code error;
    for (fs::directory_iterator entry(Folder(hostPath), error), end; !error && entry != end;
         entry.increment(error)) {
        std::error_code ignored;
        if (IsStaleTemporary(*entry, target)) fs::remove(entry->path(), ignored);
    }
}

int ReplaceFileAt(const std::string& hostPath, std::string_view bytes) {
    const Replacement how = CheckReplaceable(hostPath);
    if (how.error != 0) return how.error;
    const std::string tempPath = TemporaryPath(hostPath, ::getpid());
    int error = WriteTemporary(tempPath, bytes, how);
    if (error == 0 && ::rename(tempPath.c_str(), hostPath.c_str()) != 0) error = errno;
    if (error != 0) {
        ::unlink(tempPath.c_str());
        return error;
    }
    SyncFolder(hostPath);
    return 0;
}

fs::path Executable() {
    std::error_code error;
    const fs::path executable = fs::read_symlink("/proc/self/exe", error);
    return error ? fs::path() : executable;
}

bool IsSettings(const fs::path& name) {
    std::string extension = name.extension().string();
    for (char& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return extension == ".ini";
}

// Where a file of a protected program folder lives for this user; empty for any other file.
// Only the folder's own files are redirected, not those of folders below it.
std::string StoredPath(const std::string& hostPath) {
    const fs::path executable = Executable();
    if (executable.empty() || hostPath.empty()) return {};
    std::error_code error;
    const fs::path path = fs::weakly_canonical(hostPath, error);
    if (error || path.parent_path() != executable.parent_path()) return {};
    const std::string folder = executable.parent_path().string();
    if (::faccessat(AT_FDCWD, folder.c_str(), W_OK, AT_EACCESS) == 0) return {};
    const std::string store = IsSettings(path.filename()) ? UserConfigFolder() : UserStoreFolder();
    return (fs::path(store) / path.filename()).string();
}

// The store is the user's alone, as the rest of their data folder is.
int MakeStoreFolder(const std::string& stored) {
    const fs::path store = fs::path(stored).parent_path();
    std::error_code error;
    fs::create_directories(store.parent_path(), error);
    if (::mkdir(store.c_str(), 0700) != 0 && errno != EEXIST) return errno;
    return 0;
}

// Settings were once kept in the data store: a copy still there is moved to the configuration
// store the first time the file is needed, never over one already there. A copy that cannot be
// moved is read where it is.
std::string MovedFromDataStore(const std::string& stored) {
    const fs::path name = fs::path(stored).filename();
    if (!IsSettings(name)) return stored;
    const fs::path old = fs::path(UserStoreFolder()) / name;
    struct stat status {};
    if (::lstat(stored.c_str(), &status) == 0 || ::lstat(old.c_str(), &status) != 0) return stored;
    if (MakeStoreFolder(stored) == 0 && ::rename(old.c_str(), stored.c_str()) == 0) return stored;
    return old.string();
}

std::string HomeFolder() {
    const char* home = std::getenv("HOME");
    if (home != nullptr && home[0] == '/') return home;
    const passwd* user = ::getpwuid(::geteuid());
    return user != nullptr && user->pw_dir != nullptr ? user->pw_dir : "/";
}

}  // namespace

WholeFile ReadWholeFile(const std::string& hostPath) {
    const std::string stored = StoredPath(hostPath);
    if (!stored.empty()) {
        WholeFile file = ReadFileAt(MovedFromDataStore(stored));
        if (file.exists) return file;
    }
    return ReadFileAt(hostPath);
}

int ReplaceWholeFile(const std::string& hostPath, std::string_view bytes) {
    const std::string stored = StoredPath(hostPath);
    if (stored.empty()) return ReplaceFileAt(hostPath, bytes);
    MovedFromDataStore(stored);  // its permissions go with it
    if (const int error = MakeStoreFolder(stored)) return error;
    return ReplaceFileAt(stored, bytes);
}

void RemoveStaleReplacements(const std::string& hostPath) {
    const std::string stored = StoredPath(hostPath);
    RemoveStaleTemporariesAt(stored.empty() ? hostPath : stored);
}

// Truncated only once the open file is known to be a regular one: the name may have changed
// between the look and the open.
int OverwriteWholeFile(const std::string& hostPath, std::string_view bytes) {
    struct stat status {};
    if (const int error = CheckRegularOrAbsent(hostPath, status)) return error;
    FileDescriptor fd(::open(hostPath.c_str(),
                             O_WRONLY | O_CREAT | O_CLOEXEC | O_NOCTTY | O_NONBLOCK | O_NOFOLLOW,
                             0666));
    if (fd.get() < 0) return errno == ELOOP ? kFileNotRegular : errno;
    if (::fstat(fd.get(), &status) != 0) return errno;
    if (!S_ISREG(status.st_mode)) return kFileNotRegular;
    if (::ftruncate(fd.get(), 0) != 0) return errno;
    const int error = WriteAll(fd.get(), bytes);
    const int closeError = fd.close();
    return error != 0 ? error : closeError;
}

namespace {

// $VARIABLE when it is an absolute path, else the fallback under the home folder.
fs::path XdgBase(const char* variable, const char* fallback) {
    const char* value = std::getenv(variable);
    return value != nullptr && value[0] == '/' ? fs::path(value)
                                               : fs::path(HomeFolder()) / fallback;
}

}  // namespace

std::string UserStoreFolder() {
    return (XdgBase("XDG_DATA_HOME", ".local/share") / Executable().filename()).string();
}

std::string UserConfigFolder() {
    return (XdgBase("XDG_CONFIG_HOME", ".config") / Executable().filename()).string();
}

}  // namespace platform
