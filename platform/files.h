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

// Writes all of `bytes` to an open descriptor, going on after interruptions; 0 or the errno.
int WriteAll(int fd, std::string_view bytes);

// The Windows-style path for a host path, through the drive map; empty when no drive holds it.
std::string WindowsPath(const std::string& hostPath);

// Tests: the host path GetModuleFileNameA takes as the executable's instead of the running one,
// so that what a program keeps beside itself goes to a folder of the test's; empty restores the
// real one. Returns the previous override.
std::string SetExecutablePath(std::string hostPath);

}  // namespace platform
