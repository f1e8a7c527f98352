// SPDX-License-Identifier: GPL-2.0-or-later
// Files of the program's own folder: written beside the program when the user may write there,
// else to the user's store, and read from the store first. The protected case needs a folder the
// user truly may not write, which root never meets: files_redirect_test.sh runs this program as
// another user from a read-only copy for it, and it is skipped everywhere else.
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>

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

// An environment variable set for a test's life, then put back as it was.
class ScopedVariable {
  public:
    ScopedVariable(const char* name, const char* value) : name_(name) {
        const char* before = std::getenv(name);
        if (before != nullptr) before_ = before;
        if (value != nullptr) {
            setenv(name, value, 1);
        } else {
            unsetenv(name);
        }
    }
    ~ScopedVariable() {
        if (before_) {
            setenv(name_, before_->c_str(), 1);
        } else {
            unsetenv(name_);
        }
    }
    ScopedVariable(const ScopedVariable&) = delete;
    ScopedVariable& operator=(const ScopedVariable&) = delete;

  private:
    const char* name_;
    std::optional<std::string> before_;
};

// Each test gets stores of its own under a fresh XDG_DATA_HOME and XDG_CONFIG_HOME; its probe is
// a settings file, kept in the configuration store.
class ProgramFolderFiles : public testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/files_redirect_test.XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        data_ = pattern;
        dataHome_.emplace("XDG_DATA_HOME", data_.c_str());
        configHome_.emplace("XDG_CONFIG_HOME", (data_ / "config").c_str());
        store_ = data_ / "config" / ProgramName() / kName;
        beside_ = ProgramFolder() / kName;
    }

    void TearDown() override {
        dataHome_.reset();
        configHome_.reset();
        fs::remove_all(data_);
    }

    static constexpr char kName[] = "redirect_probe.ini";
    fs::path data_;
    fs::path store_;
    fs::path beside_;
    std::optional<ScopedVariable> dataHome_;
    std::optional<ScopedVariable> configHome_;
};

TEST(UserStore, FollowsTheXdgVariablesElseTheHomeFolder) {
    const std::string name = ProgramName();
    const char* home = std::getenv("HOME");
    ASSERT_NE(home, nullptr);
    const struct {
        const char* variable;
        std::string (*folder)();
        std::string fallback;
    } stores[] = {{"XDG_DATA_HOME", &UserStoreFolder, std::string(home) + "/.local/share/" + name},
                  {"XDG_CONFIG_HOME", &UserConfigFolder, std::string(home) + "/.config/" + name}};
    for (const auto& store : stores) {
        const struct {
            const char* value;
            std::string folder;
        } cases[] = {{"/srv/data", "/srv/data/" + name},
                     {nullptr, store.fallback},
                     {"", store.fallback},
                     {"relative/data", store.fallback}};
        for (const auto& c : cases) {
            const ScopedVariable set(store.variable, c.value);
            EXPECT_EQ(store.folder(), c.folder)
                << store.variable << "=" << (c.value ? c.value : "");
        }
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

// Settings kept in the data store by an earlier version are moved to the configuration store
// once, and a copy already there is never replaced by the old one.
TEST_F(ProgramFolderFiles, ReadOnlyFolderMovesOldSettingsToTheConfigurationStore) {
    if (ProgramFolderWritable()) GTEST_SKIP() << "the program folder is writable here";
    const fs::path old = data_ / ProgramName() / kName;
    fs::create_directories(old.parent_path());
    std::ofstream(old, std::ios::binary) << "old";
    EXPECT_EQ(ReadWholeFile(beside_.string()).bytes, "old");
    EXPECT_FALSE(fs::exists(old));
    EXPECT_EQ(Bytes(store_), "old");
    std::ofstream(old, std::ios::binary) << "older";
    EXPECT_EQ(ReadWholeFile(beside_.string()).bytes, "old");
    EXPECT_EQ(Bytes(old), "older") << "left where it is";
}

}  // namespace
}  // namespace platform
