// Files of the program's own folder: written beside the program when the user may write there,
// else to the user's store, and read from the store first. The protected case needs a folder the
// user truly may not write, which root never meets: files_redirect_test.sh runs this program as
// another user from a read-only copy for it, and it is skipped everywhere else.
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "platform/files.h"
#include "tests/support/ended_process.h"

namespace platform {
namespace {

namespace fs = std::filesystem;

fs::path ProgramFolder() {
    return fs::read_symlink("/proc/self/exe").parent_path();
}

std::string ProgramName() {
    return fs::read_symlink("/proc/self/exe").filename().string();
}

bool ProgramFolderWritable() {
    return ::access(ProgramFolder().c_str(), W_OK) == 0;
}

std::string Bytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// Each test gets a store of its own under a fresh XDG_DATA_HOME.
class ProgramFolderFiles : public testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/files_redirect_test.XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        data_ = pattern;
        const char* before = std::getenv("XDG_DATA_HOME");
        if (before != nullptr) dataBefore_ = before;
        hadData_ = before != nullptr;
        setenv("XDG_DATA_HOME", data_.c_str(), 1);
        store_ = data_ / ProgramName() / kName;
        beside_ = ProgramFolder() / kName;
    }

    void TearDown() override {
        if (hadData_) {
            setenv("XDG_DATA_HOME", dataBefore_.c_str(), 1);
        } else {
            unsetenv("XDG_DATA_HOME");
        }
        fs::remove_all(data_);
    }

    static constexpr char kName[] = "redirect_probe.ini";
    fs::path data_;
    fs::path store_;
    fs::path beside_;
    std::string dataBefore_;
    bool hadData_ = false;
};

TEST(UserStore, FollowsXdgDataHomeElseTheHomeFolder) {
    const std::string name = ProgramName();
    const char* home = std::getenv("HOME");
    ASSERT_NE(home, nullptr);
    const std::string fallback = std::string(home) + "/.local/share/" + name;
    const struct {
        const char* dataHome;
        std::string store;
    } cases[] = {{"/srv/data", "/srv/data/" + name},
                 {nullptr, fallback},
                 {"", fallback},
                 {"relative/data", fallback}};
    const char* before = std::getenv("XDG_DATA_HOME");
    const std::string saved = before != nullptr ? before : "";
    for (const auto& c : cases) {
        if (c.dataHome != nullptr) {
            setenv("XDG_DATA_HOME", c.dataHome, 1);
        } else {
            unsetenv("XDG_DATA_HOME");
        }
        EXPECT_EQ(UserStoreFolder(), c.store) << (c.dataHome ? c.dataHome : "(unset)");
    }
    if (before != nullptr) {
        setenv("XDG_DATA_HOME", saved.c_str(), 1);
    } else {
        unsetenv("XDG_DATA_HOME");
    }
}

// A portable build unpacked where its user may write keeps its files beside itself, and a stale
// copy in the store is not looked at.
TEST_F(ProgramFolderFiles, WritableFolderKeepsItsFilesBesideTheProgram) {
    if (!ProgramFolderWritable()) GTEST_SKIP() << "the program folder is read-only here";
    fs::create_directories(store_.parent_path());
    std::ofstream(store_, std::ios::binary) << "stale";
    ASSERT_EQ(ReplaceWholeFile(beside_.string(), "beside\r\n"), 0);
    EXPECT_EQ(Bytes(beside_), "beside\r\n");
    EXPECT_EQ(Bytes(store_), "stale");
    EXPECT_EQ(ReadWholeFile(beside_.string()).bytes, "beside\r\n");
    fs::remove(beside_);
}

// A file shipped beside the program is read until the user's own copy exists; writes never touch
// the program folder, and the store is the user's alone.
TEST_F(ProgramFolderFiles, ReadOnlyFolderSendsWritesToTheStore) {
    if (ProgramFolderWritable()) GTEST_SKIP() << "the program folder is writable here";
    const std::string shipped = fs::exists(beside_) ? Bytes(beside_) : "";
    const WholeFile first = ReadWholeFile(beside_.string());
    EXPECT_EQ(first.exists, fs::exists(beside_));
    EXPECT_EQ(first.bytes, shipped);

    ASSERT_EQ(ReplaceWholeFile(beside_.string(), "changed\r\n"), 0);
    EXPECT_EQ(Bytes(store_), "changed\r\n");
    EXPECT_EQ(fs::exists(beside_) ? Bytes(beside_) : "", shipped);
    EXPECT_EQ(fs::status(store_.parent_path()).permissions() & fs::perms::all,
              fs::perms::owner_all);

    const WholeFile second = ReadWholeFile(beside_.string());
    EXPECT_EQ(second.error, 0);
    EXPECT_EQ(second.bytes, "changed\r\n");
}

// Saves cut short in the store are tidied there, where this user's saves go.
TEST_F(ProgramFolderFiles, ReadOnlyFolderHasItsStaleTemporariesRemovedFromTheStore) {
    if (ProgramFolderWritable()) GTEST_SKIP() << "the program folder is writable here";
    fs::create_directories(store_.parent_path());
    const fs::path stale = store_.string() + ".tmp" + std::to_string(EndedProcess());
    std::ofstream(stale) << "cut";
    RemoveStaleReplacements(beside_.string());
    EXPECT_FALSE(fs::exists(stale));
}

// Only the program's own folder is redirected: any other read-only place fails as it always did.
TEST_F(ProgramFolderFiles, OtherReadOnlyFoldersAreNotRedirected) {
    if (geteuid() == 0) GTEST_SKIP() << "permissions do not bind root";
    const fs::path folder = data_ / "locked";
    fs::create_directories(folder);
    fs::permissions(folder, fs::perms::owner_read | fs::perms::owner_exec);
    EXPECT_EQ(ReplaceWholeFile((folder / kName).string(), "x"), EACCES);
    EXPECT_FALSE(fs::exists(store_));
    fs::permissions(folder, fs::perms::owner_all);
}

}  // namespace
}  // namespace platform
