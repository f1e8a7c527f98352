// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/files.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "platform/machine.h"
#include "tests/support/ended_process.h"

namespace platform {
namespace {

namespace fs = std::filesystem;

// A machine whose drives are folders of a fresh temporary tree, run from inside that tree.
class Files : public testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/files_test.XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        root_ = pattern;
        fs::create_directories(root_ / "c" / "work" / "deep");
        fs::create_directories(root_ / "d");
        fs::create_directories(root_ / "e");
        MachineDescription machine = DefaultMachineDescription();
        machine.drives = {{'C', {DRIVE_FIXED, (root_ / "c").string()}},
                          {'D', {DRIVE_REMOVABLE, (root_ / "d").string()}},
                          {'E', {DRIVE_RAMDISK, (root_ / "e").string()}},
                          {'F', {DRIVE_CDROM, (root_ / "no-disc").string()}}};
        previous_ = SetMachine(machine);
        workingBefore_ = fs::current_path();
        fs::current_path(root_ / "c" / "work");
    }

    void TearDown() override {
        fs::current_path(workingBefore_);
        SetMachine(previous_);
        fs::remove_all(root_);
    }

    std::string In(const std::string& below) const { return (root_ / below).string(); }

    void SetDrives(std::map<char, DriveDescription> drives) {
        MachineDescription machine = Machine();
        machine.drives = std::move(drives);
        SetMachine(machine);
    }

    fs::path root_;
    fs::path workingBefore_;
    MachineDescription previous_;
};

TEST_F(Files, HostPathThroughTheDriveMap) {
    EXPECT_EQ(HostPath("C:\\Video\\\\Vistrel.ini"), In("c/Video/Vistrel.ini"));
    EXPECT_EQ(HostPath("c:/Video//x.avi"), In("c/Video/x.avi"));
    EXPECT_EQ(HostPath("D:\\"), In("d"));
    EXPECT_EQ(HostPath("d:\\VST_1.avi"), In("d/VST_1.avi"));
    EXPECT_EQ(HostPath("C:\\a\\\\\\b\\"), In("c/a/b"));
}

TEST_F(Files, HostPathWithoutDriveStartsAtTheWorkingFolder) {
    EXPECT_EQ(HostPath("CapLog.txt"), In("c/work/CapLog.txt"));
    EXPECT_EQ(HostPath("deep\\..\\Null.avi"), In("c/work/Null.avi"));
    EXPECT_EQ(HostPath("\\Vistrel.ini"), In("c/Vistrel.ini"));  // root of the working drive
    EXPECT_EQ(HostPath(".\\x"), In("c/work/x"));
    // "X:name" is relative to the working folder on its own drive, else to that drive's root.
    EXPECT_EQ(HostPath("C:name"), In("c/work/name"));
    EXPECT_EQ(HostPath("D:name"), In("d/name"));
}

TEST_F(Files, ParentNamesNeverClimbAboveTheDriveRoot) {
    EXPECT_EQ(HostPath("C:\\..\\..\\etc\\passwd"), In("c/etc/passwd"));
    EXPECT_EQ(HostPath("..\\..\\..\\..\\x"), In("c/x"));
    EXPECT_EQ(HostPath("\\..\\y"), In("c/y"));
}

TEST_F(Files, HostPathRefusesWhatNoDriveHolds) {
    EXPECT_EQ(HostPath("Q:\\x.avi"), "");
    EXPECT_EQ(HostPath(""), "");
    // A working folder on no drive still serves relative names, but has no drive root.
    SetDrives({{'D', {DRIVE_FIXED, In("d")}}});
    EXPECT_EQ(HostPath("x"), In("c/work/x"));
    EXPECT_EQ(HostPath("\\x"), "");
}

TEST_F(Files, WindowsPathLongestFolderWins) {
    SetDrives({{'C', {DRIVE_FIXED, In("home")}}, {'Z', {DRIVE_FIXED, "/"}}});
    EXPECT_EQ(WindowsPath(In("home/x/vistrel")), "C:\\x\\vistrel");
    EXPECT_EQ(WindowsPath("/usr/bin/vistrel"), "Z:\\usr\\bin\\vistrel");
    EXPECT_EQ(WindowsPath(In("home")), "C:\\");
    // "home" is not a folder prefix of "homework".
    std::string onZ = "Z:" + In("homework/a");
    std::replace(onZ.begin(), onZ.end(), '/', '\\');
    EXPECT_EQ(WindowsPath(In("homework/a")), onZ);
}

TEST_F(Files, WindowsPathOfRelativeAndUnheldPaths) {
    EXPECT_EQ(WindowsPath("deep/f.avi"), "C:\\work\\deep\\f.avi");
    EXPECT_EQ(WindowsPath("/usr/bin"), "");
    EXPECT_EQ(WindowsPath(In("c/odd\\name")), "");  // no Windows spelling
    EXPECT_EQ(HostPath(WindowsPath(In("e/a/b.txt"))), In("e/a/b.txt"));
}

TEST_F(Files, WindowsPathSeesThroughLinkedFolders) {
    fs::create_directory_symlink(root_ / "d", root_ / "link");
    SetDrives({{'L', {DRIVE_FIXED, In("link")}}});
    EXPECT_EQ(WindowsPath(In("d/x")), "L:\\x");
    EXPECT_EQ(WindowsPath(In("link/x")), "L:\\x");
}

TEST_F(Files, DriveTypes) {
    EXPECT_EQ(GetDriveTypeA("C:\\"), DRIVE_FIXED);
    EXPECT_EQ(GetDriveTypeA("c:\\"), DRIVE_FIXED);
    EXPECT_EQ(GetDriveTypeA("C:"), DRIVE_FIXED);
    EXPECT_EQ(GetDriveTypeA("d:/"), DRIVE_REMOVABLE);
    EXPECT_EQ(GetDriveTypeA("E:\\"), DRIVE_RAMDISK);
    EXPECT_EQ(GetDriveTypeA(nullptr), DRIVE_FIXED);       // the working folder's drive
    EXPECT_EQ(GetDriveTypeA("F:\\"), DRIVE_NO_ROOT_DIR);  // folder missing: no disc
    EXPECT_EQ(GetDriveTypeA("G:\\"), DRIVE_NO_ROOT_DIR);  // unmapped
    EXPECT_EQ(GetDriveTypeA("C:\\work\\"), DRIVE_NO_ROOT_DIR);
    EXPECT_EQ(GetDriveTypeA(""), DRIVE_NO_ROOT_DIR);
    EXPECT_EQ(GetDriveTypeA("1:\\"), DRIVE_NO_ROOT_DIR);
    fs::create_directory(root_ / "no-disc");
    EXPECT_EQ(GetDriveTypeA("F:\\"), DRIVE_CDROM);
}

TEST_F(Files, ModuleFileNameThroughTheDriveMapCutToTheBuffer) {
    const fs::path executable = fs::read_symlink("/proc/self/exe");
    const std::string name = executable.filename().string();
    SetDrives({{'C', {DRIVE_FIXED, "/"}}, {'D', {DRIVE_FIXED, executable.parent_path().string()}}});
    char buffer[MAX_PATH];
    const DWORD length = GetModuleFileNameA(nullptr, buffer, MAX_PATH);
    EXPECT_EQ(std::string(buffer), "D:\\" + name);
    EXPECT_EQ(length, name.size() + 3);

    char small[5] = {'x', 'x', 'x', 'x', 'x'};
    EXPECT_EQ(GetModuleFileNameA(nullptr, small, 5), 4u);
    EXPECT_EQ(std::string(small), "D:\\" + name.substr(0, 1));
    EXPECT_EQ(GetModuleFileNameA(nullptr, small, 1), 0u);
    EXPECT_EQ(small[0], '\0');
    EXPECT_EQ(GetModuleFileNameA(nullptr, nullptr, 10), 0u);
    EXPECT_EQ(GetModuleFileNameA(buffer, buffer, MAX_PATH), 0u);  // only this module is known
}

TEST_F(Files, ModuleFileNameOnNoDriveIsEmptyAndSaysSo) {
    SetDrives({{'D', {DRIVE_FIXED, In("d")}}});
    char buffer[MAX_PATH] = "stale";
    testing::internal::CaptureStderr();
    EXPECT_EQ(GetModuleFileNameA(nullptr, buffer, MAX_PATH), 0u);
    EXPECT_NE(testing::internal::GetCapturedStderr().find("lies on no drive"), std::string::npos);
    EXPECT_EQ(buffer[0], '\0');
}

TEST_F(Files, DeleteFileByWindowsPath) {
    std::ofstream(In("c/Video.avi")) << "x";
    EXPECT_EQ(DeleteFileA("C:\\\\Video.avi"), TRUE);
    EXPECT_FALSE(fs::exists(In("c/Video.avi")));
    EXPECT_EQ(DeleteFileA("C:\\Video.avi"), FALSE);  // already gone
    EXPECT_EQ(DeleteFileA("C:\\work"), FALSE);       // a folder is not a file
    EXPECT_TRUE(fs::exists(In("c/work")));
    EXPECT_EQ(DeleteFileA("Q:\\x"), FALSE);
    EXPECT_EQ(DeleteFileA(nullptr), FALSE);
}

// The capture log is written over in place: a longer or shorter text replaces what was there.
// Neither the log nor a replaced file is ever written through what is not a regular file of its
// own: a link (whose target stays as it was), a FIFO (never waited on), a folder.
TEST_F(Files, WholeFilesAreWrittenOnlyAsRegularFilesOfTheirOwn) {
    const std::string path = In("c/log.txt");
    EXPECT_EQ(OverwriteWholeFile(path, "a longer first text"), 0);
    EXPECT_EQ(OverwriteWholeFile(path, "short"), 0);
    EXPECT_EQ(ReadWholeFile(path).bytes, "short");
    EXPECT_EQ(OverwriteWholeFile(In("c/missing/log.txt"), "x"), ENOENT);

    ASSERT_EQ(OverwriteWholeFile(In("c/target.txt"), "precious"), 0);
    fs::create_symlink(In("c/target.txt"), In("c/link.txt"));
    fs::create_symlink(In("c/nowhere.txt"), In("c/dangling.txt"));
    ASSERT_EQ(mkfifo(In("c/fifo.txt").c_str(), 0600), 0);
    fs::create_directory(In("c/folder.txt"));
    for (const char* name : {"link.txt", "dangling.txt", "fifo.txt", "folder.txt"}) {
        SCOPED_TRACE(name);
        EXPECT_EQ(OverwriteWholeFile(In("c/") + name, "x"), kFileNotRegular);
        EXPECT_EQ(ReplaceWholeFile(In("c/") + name, "x"), kFileNotRegular);
    }
    EXPECT_EQ(ReadWholeFile(In("c/target.txt")).bytes, "precious");
    EXPECT_FALSE(fs::exists(In("c/nowhere.txt")));
    EXPECT_TRUE(fs::is_symlink(In("c/link.txt")));
}

// The temporaries of saves cut short are removed; a running process's is its own to finish, and
// nothing else is touched: another file's, a name no save gives, a link, a folder.
TEST_F(Files, RemoveStaleReplacementsTakesOnlyDeadWritersTemporaries) {
    const std::string dead = std::to_string(EndedProcess());
    const std::string prefix = In("c/Vistrel.ini.tmp");
    const struct {
        std::string path;
        bool removed;
    } cases[] = {
        {prefix + dead, true},
        {prefix + std::to_string(getpid()), false},  // running
        {prefix + "1", false},                       // running, another user's for most tests
        {prefix + "0" + dead, false},
        {prefix + "+" + dead, false},
        {prefix + dead + "x", false},
        {prefix + "0", false},  // would ask the whole process group
        {prefix + "99999999999", false},
        {prefix, false},
        {In("c/Other.ini.tmp") + dead, false},
        {In("c/Vistrel.ini"), false},
    };
    for (const auto& c : cases) std::ofstream(c.path) << "x";
    const std::string link = prefix + std::to_string(EndedProcess());
    fs::create_symlink(In("c/Vistrel.ini"), link);
    const std::string folder = prefix + std::to_string(EndedProcess());
    fs::create_directory(folder);

    RemoveStaleReplacements(In("c/Vistrel.ini"));
    for (const auto& c : cases) EXPECT_EQ(fs::exists(c.path), !c.removed) << c.path;
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_TRUE(fs::is_directory(folder));
    EXPECT_EQ(ReadWholeFile(In("c/Vistrel.ini")).bytes, "x");
}

// A path naming no file (a program on no drive) has no temporaries, whatever its folder holds.
TEST_F(Files, RemoveStaleReplacementsOfNoFileTouchesNothing) {
    const std::string stray = In("c/work/.tmp") + std::to_string(EndedProcess());
    std::ofstream(stray) << "x";
    RemoveStaleReplacements("");
    RemoveStaleReplacements(In("c/work/"));
    EXPECT_TRUE(fs::exists(stray));
}

}  // namespace
}  // namespace platform
