// SPDX-License-Identifier: GPL-2.0-or-later
#include "settings/settings_file.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QTemporaryDir>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/codepage.h"
#include "platform/files.h"
#include "platform/messages.h"

namespace {

namespace fs = std::filesystem;
using Lines = std::vector<std::string_view>;
using namespace std::string_literals;

std::string Repeat(std::string_view text, int count) {
    std::string result;
    for (int i = 0; i < count; ++i) result += text;
    return result;
}

TEST(SettingLines, EveryKindOfLineEndEndsALine) {
    EXPECT_EQ(SplitSettingLines(""), Lines{});
    EXPECT_EQ(SplitSettingLines("a"), Lines{"a"});
    EXPECT_EQ(SplitSettingLines("a\r\n"), Lines{"a"});
    EXPECT_EQ(SplitSettingLines("a\rb\nc\r\nd"), (Lines{"a", "b", "c", "d"}));
    EXPECT_EQ(SplitSettingLines("\r\r\n\n"), (Lines{"", "", ""}));
    EXPECT_EQ(SplitSettingLines("\n\r"), (Lines{"", ""}));
    EXPECT_EQ(SplitSettingLines(" 12 \t\r\n\r\nx"), (Lines{" 12 \t", "", "x"}));
    EXPECT_EQ(JoinSettingLines({"a", "", "b"}), "a\r\n\r\nb\r\n");
}

TEST(SettingsPaths, DirectoryEndsAtItsLastSeparator) {
    EXPECT_EQ(DirectoryPart("C:\\apps\\vistrel.exe"), "C:\\apps\\");
    EXPECT_EQ(DirectoryPart("C:vistrel.exe"), "C:");
    EXPECT_EQ(DirectoryPart("vistrel.exe"), "");
    EXPECT_EQ(SettingsPath("C:\\Video\\"), "C:\\Video\\\\Vistrel.ini");
}

TEST(SettingsPaths, SettingsFileLiesBesideTheExecutable) {
    const std::string directory = ExeDirectory();
    ASSERT_FALSE(directory.empty());
    EXPECT_EQ(directory.back(), '\\');
    const fs::path exe = fs::canonical("/proc/self/exe");
    EXPECT_EQ(platform::HostPath(SettingsPath(directory)), (exe.parent_path() / "Vistrel.ini"));
}

class SettingsFile : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(dir_.isValid());
        previous_ = platform::SetMessageReporter(
            [this](platform::MessageKind, const std::string& text) { messages_.push_back(text); });
    }
    void TearDown() override { platform::SetMessageReporter(previous_); }

    std::string Host(const std::string& name = "Vistrel.ini") const {
        return dir_.path().toStdString() + "/" + name;
    }
    // The program's view of a folder: a Windows path, then the settings file's own rule.
    std::string Path(const std::string& subfolder = "") const {
        std::string folder = dir_.path().toStdString();
        if (!subfolder.empty()) folder += "/" + subfolder;
        return SettingsPath(platform::WindowsPath(folder) + "\\");
    }
    void Store(const std::string& bytes) const { std::ofstream(Host(), std::ios::binary) << bytes; }
    std::string Stored() const {
        std::ifstream in(Host(), std::ios::binary);
        return {std::istreambuf_iterator<char>(in), {}};
    }
    std::vector<std::string> Entries() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(dir_.path().toStdString()))
            names.push_back(entry.path().filename().string());
        return names;
    }

    QTemporaryDir dir_;
    platform::MessageReporter previous_;
    std::vector<std::string> messages_;
};

TEST_F(SettingsFile, MissingFileReadsEmptyQuietlyAndStaysMissing) {
    for (const WORD line : {WORD{0}, WORD{2}, WORD{20}, WORD{65535}})
        EXPECT_EQ(ReadSettingLine(Path(), line), "");
    EXPECT_TRUE(messages_.empty());
    EXPECT_FALSE(fs::exists(Host()));
}

TEST_F(SettingsFile, ReaderHandsBackEachLineAsItIs) {
    Store("zero\nun\r\n abc \rx12\r\n\r\nStéréo en UTF-8\x81");
    EXPECT_EQ(ReadSettingLine(Path(), 0), "zero");
    EXPECT_EQ(ReadSettingLine(Path(), 2), " abc ");
    EXPECT_EQ(ReadSettingLine(Path(), 3), "x12");
    EXPECT_EQ(ReadSettingLine(Path(), 4), "");
    EXPECT_EQ(ReadSettingLine(Path(), 5), "StÃ©rÃ©o en UTF-8\u0081");  // bytes read as 1252
    EXPECT_EQ(ReadSettingLine(Path(), 6), "");
    EXPECT_TRUE(messages_.empty());
}

TEST_F(SettingsFile, HugeAndBinaryLinesComeBackWhole) {
    const std::string huge(1 << 20, 'x');
    std::string binary;
    for (int b = 0; b < 256; ++b)
        if (b != '\r' && b != '\n') binary += static_cast<char>(b);
    Store(huge + "\r\n" + binary + "\r\nfin");
    EXPECT_EQ(ReadSettingLine(Path(), 0), huge);
    // Handed over as UTF-8 that gives the very same bytes back.
    EXPECT_EQ(platform::Utf8ToAnsi(ReadSettingLine(Path(), 1)), binary);
    EXPECT_EQ(ReadSettingLine(Path(), 2), "fin");
}

TEST_F(SettingsFile, FirstWriteCreatesTwentyOneLines) {
    EXPECT_TRUE(WriteSettingLine(Path(), "120", 2));
    EXPECT_TRUE(WriteSettingLine(Path(), "-7", 3));
    EXPECT_EQ(Stored(), "\r\n\r\n120\r\n-7\r\n" + Repeat("\r\n", 17));
    EXPECT_EQ(Entries(), std::vector<std::string>{"Vistrel.ini"});
    EXPECT_TRUE(messages_.empty());
}

TEST_F(SettingsFile, WriteChangesItsLineOnlyByteForByte) {
    const std::string head = "\r\n\r\n 12 \r\n\xE9\x81\r\n\0\t\r\n"s + Repeat("\r\n", 4);
    Store(head + "0\r\n" + Repeat("x\r\n", 11));
    ASSERT_TRUE(WriteSettingLine(Path(), "1", 9));
    EXPECT_EQ(Stored(), head + "1\r\n" + Repeat("x\r\n", 11));
}

TEST_F(SettingsFile, TextIsStoredInTheAnsiCodePage) {
    ASSERT_TRUE(WriteSettingLine(Path(), "Stéréo", 6));
    ASSERT_TRUE(WriteSettingLine(Path(), "日€", 7));
    const std::string stored = Stored();
    EXPECT_NE(stored.find("\r\nSt\xE9r\xE9o\r\n?\x80\r\n"), std::string::npos);
    EXPECT_EQ(ReadSettingLine(Path(), 6), "Stéréo");
}

TEST_F(SettingsFile, WriteNormalisesLineEndsAndExtendsAShortFile) {
    Store("a\nb\rc");
    ASSERT_TRUE(WriteSettingLine(Path(), "E", 4));
    EXPECT_EQ(Stored(), "a\r\nb\r\nc\r\n\r\nE\r\n");
    Store("");
    ASSERT_TRUE(WriteSettingLine(Path(), "v", 0));
    EXPECT_EQ(Stored(), "v\r\n");
}

TEST_F(SettingsFile, ValueOnSeveralLinesIsRefused) {
    Store("a\r\nb\r\n");
    EXPECT_FALSE(WriteSettingLine(Path(), "x\r\ny", 0));
    EXPECT_FALSE(WriteSettingLine(Path(), "x\ny", 1));
    EXPECT_EQ(Stored(), "a\r\nb\r\n");
    EXPECT_EQ(messages_, std::vector<std::string>{
                             "Impossible d'enregistrer les réglages dans \"" + Host() +
                             "\" : un réglage ne peut pas tenir sur plusieurs lignes ..."});
}

TEST_F(SettingsFile, WriteKeepsTheFilePermissions) {
    Store("a\r\n");
    fs::permissions(Host(), fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    ASSERT_TRUE(WriteSettingLine(Path(), "b", 0));
    EXPECT_EQ(fs::status(Host()).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
}

TEST_F(SettingsFile, FolderThatIsARegularFileGivesOneMessage) {
    std::ofstream(Host("plain")) << "not a folder";
    EXPECT_EQ(ReadSettingLine(Path("plain"), 2), "");
    EXPECT_TRUE(messages_.empty());
    EXPECT_FALSE(WriteSettingLine(Path("plain"), "1", 2));
    EXPECT_EQ(messages_,
              std::vector<std::string>{"Impossible d'enregistrer les réglages dans \"" +
                                       Host("plain/Vistrel.ini") + "\" : dossier introuvable ..."});
}

TEST_F(SettingsFile, DirectoryInPlaceOfTheFileIsNeitherReadNorReplaced) {
    fs::create_directory(Host());
    EXPECT_EQ(ReadSettingLine(Path(), 0), "");
    EXPECT_EQ(ReadSettingLine(Path(), 1), "");
    EXPECT_FALSE(WriteSettingLine(Path(), "x", 0));
    EXPECT_TRUE(fs::is_directory(Host()));
    const std::string where = "\"" + Host() + "\" : ce n'est pas un fichier ...";
    EXPECT_EQ(messages_,
              (std::vector<std::string>{"Impossible de lire les réglages de " + where,
                                        "Impossible d'enregistrer les réglages dans " + where}));
}

TEST_F(SettingsFile, RepeatedFailureIsReportedOnceUntilACallSucceeds) {
    fs::create_directory(Host());
    for (WORD line = 4; line <= 9; ++line) EXPECT_FALSE(WriteSettingLine(Path(), "x", line));
    EXPECT_EQ(messages_.size(), 1u);
    fs::remove(Host());
    EXPECT_TRUE(WriteSettingLine(Path(), "x", 4));
    fs::remove(Host());
    fs::create_directory(Host());
    EXPECT_FALSE(WriteSettingLine(Path(), "x", 4));
    EXPECT_EQ(messages_.size(), 2u);
}

TEST_F(SettingsFile, ReadOnlyFolderOrFileIsLeftIntact) {
    if (geteuid() == 0) GTEST_SKIP() << "permissions do not bind root";
    Store("a\r\n");
    fs::permissions(Host(), fs::perms::owner_read);
    EXPECT_FALSE(WriteSettingLine(Path(), "b", 0));
    fs::permissions(Host(), fs::perms::owner_read | fs::perms::owner_write);
    fs::permissions(dir_.path().toStdString(), fs::perms::owner_read | fs::perms::owner_exec);
    EXPECT_FALSE(WriteSettingLine(Path(), "c", 0));
    fs::permissions(dir_.path().toStdString(), fs::perms::owner_all);
    EXPECT_EQ(Stored(), "a\r\n");
    EXPECT_EQ(Entries(), std::vector<std::string>{"Vistrel.ini"});
    ASSERT_EQ(messages_.size(), 1u);  // the same refusal both times
    EXPECT_NE(messages_[0].find(" : accès refusé ..."), std::string::npos);
}

// A full disk, simulated by a file size limit in a child process: the write must fail with its
// message and leave the previous file whole, with no temporary file beside it.
TEST_F(SettingsFile, FullDiskLeavesThePreviousFileWhole) {
    Store("\r\n\r\n120\r\n");
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{16, 16};
        setrlimit(RLIMIT_FSIZE, &limit);
        const bool written = WriteSettingLine(Path(), std::string(100, 'v'), 8);
        const bool told =
            messages_.size() == 1 && messages_[0].find(" : disque plein ...") != std::string::npos;
        _exit(!written && told ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(Stored(), "\r\n\r\n120\r\n");
    EXPECT_EQ(Entries(), std::vector<std::string>{"Vistrel.ini"});
}

}  // namespace
