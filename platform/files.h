// SPDX-License-Identifier: GPL-2.0-or-later
// Files: drive letters, the executable's path as the program sees it, and Windows-style paths
// mapped to host paths through the drive map (default C: the user's home, Z: the root).
#pragma once

#include <string>
#include <string_view>

#include "platform/windef.h"

constexpr UINT DRIVE_UNKNOWN = 0;
constexpr UINT DRIVE_NO_ROOT_DIR = 1;
constexpr UINT DRIVE_REMOVABLE = 2;
constexpr UINT DRIVE_FIXED = 3;
constexpr UINT DRIVE_REMOTE = 4;
constexpr UINT DRIVE_CDROM = 5;
constexpr UINT DRIVE_RAMDISK = 6;

constexpr DWORD MAX_PATH = 260;

// A failure beside the system's errno values: a folder, FIFO or device stands where a file should.
constexpr int kFileNotRegular = -1;
// The file being written lost its last name (its folder was deleted): what is written goes nowhere.
constexpr int kFileRemoved = -5;
// A write would take the file past the AVI 1.0 size its readers accept.
constexpr int kFileAviLimit = -6;
// Failures of the program's own files: a setting that would span several lines, a path on no
// mapped drive.
constexpr int kFileLineBreak = -2;
constexpr int kFileNoDrive = -3;

namespace platform {
// Why a file of the program could not be read or written (an errno value or one of the failures
// above), in the words its messages use; empty for a failure with no plain explanation.
std::string FileErrorReason(int error);
}  // namespace platform

// The type of the drive whose root is given ("C:\"); DRIVE_NO_ROOT_DIR for an unmapped letter or
// a folder that does not exist.
UINT GetDriveTypeA(LPCSTR rootPath);

// The executable's full path as a Windows-style path ("C:\apps\vistrel.exe" style, through the
// drive map: the longest mapped folder holding the executable wins). `module` must be null.
// Returns the length copied (without the zero), cut to `size` - 1 characters.
DWORD GetModuleFileNameA(void* module, LPSTR fileName, DWORD size);

// Deletes a file named by a Windows-style path; FALSE when it is absent or cannot be deleted.
BOOL DeleteFileA(LPCSTR fileName);

namespace platform {

// The host path for a Windows-style path: "X:\a\b" through the drive map, "\a" on the drive of
// the working directory, "a\b" relative to the working directory; '\' becomes '/', and runs of
// separators count as one. An unmapped drive letter gives an empty text.
std::string HostPath(const std::string& windowsPath);

// A folder typed as the system names it ("/a/b", or "~/a" in the user's home) spelled as a
// Windows-style folder through the drive map, with its closing '\'; empty when no drive holds it
// or one of its names has no Windows spelling (a '\' in it).
std::string WindowsFolder(const std::string& hostFolder);

// Writes all of `bytes` to an open descriptor, going on after interruptions; 0 or the errno.
int WriteAll(int fd, std::string_view bytes);

// A whole file as read: `exists` is false for a missing file, or a path through a regular file
// (the normal first run); `error` is set when the file exists but cannot be read.
struct WholeFile {
    bool exists = false;
    std::string bytes;
    int error = 0;  // an errno, or kFileNotRegular
};

// Reads the whole regular file at a host path. Only a regular file is read, so a FIFO or a device
// in its place can neither block nor flood the caller. A file of a protected program folder (see
// ReplaceWholeFile) is read from the user's store when it is there, else from the program folder.
WholeFile ReadWholeFile(const std::string& hostPath);

// Replaces the file at a host path by `bytes`, whole or not at all: the bytes go to a file beside
// it, synced, which then takes its name. An existing file keeps its permissions; one the user
// made read-only is left as it is (EACCES). 0, or the errno of the step that failed.
//
// The program's folder is protected when the user may not write it (a program installed in
// /usr/bin): a file written there goes to the user's store instead (UserConfigFolder for its
// settings, UserStoreFolder for the rest), and is read from there first.
// A program folder the user may write, as in a portable build, gets its files itself.
int ReplaceWholeFile(const std::string& hostPath, std::string_view bytes);

// Removes what replacements of the file at a host path left where ReplaceWholeFile writes it (the
// user's store for a protected program folder): the temporaries of processes that died before
// renaming theirs. A temporary of a running process is kept, as is one whose number a running
// process has taken since. Failures are silent: the temporaries are only clutter.
void RemoveStaleReplacements(const std::string& hostPath);

// Writes `bytes` over the file at a host path, created when absent and cut to them when present.
// Only a regular file is written: a link, a FIFO, a device or a folder under the name gives
// kFileNotRegular and is left as it is (a link's target too). 0, or the errno of the step that
// failed, close() included.
int OverwriteWholeFile(const std::string& hostPath, std::string_view bytes);

// The user's store for files of a protected program folder: $XDG_DATA_HOME/NAME, NAME being the
// executable's name (XDG_DATA_HOME unset, empty or relative: ~/.local/share).
std::string UserStoreFolder();
// The same store for the folder's settings (its .ini files): $XDG_CONFIG_HOME/NAME (~/.config).
// A settings file found in the data store, where they were once kept, is moved here when first
// read or written.
std::string UserConfigFolder();

// The Windows-style path for a host path, through the drive map; empty when no drive holds it.
std::string WindowsPath(const std::string& hostPath);

// Tests: the host path GetModuleFileNameA takes as the executable's instead of the running one,
// so that what a program keeps beside itself goes to a folder of the test's; empty restores the
// real one. Returns the previous override.
std::string SetExecutablePath(std::string hostPath);

}  // namespace platform
