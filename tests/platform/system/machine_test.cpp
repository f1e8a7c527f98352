// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/machine.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "platform/files.h"

namespace platform {
namespace {

using testing::HasSubstr;

constexpr DWORD kMjpg = MAKEFOURCC('M', 'J', 'P', 'G');

// Parses `text` as /m.ini and returns what was written on standard error.
std::string ParseWarnings(const std::string& text, MachineDescription* out = nullptr) {
    testing::internal::CaptureStderr();
    MachineDescription machine = ParseMachineDescription(text, "/m.ini");
    if (out != nullptr) *out = std::move(machine);
    return testing::internal::GetCapturedStderr();
}

std::string Warning(int line, const std::string& what) {
    return std::string(program_invocation_short_name) + ": machine description /m.ini line " +
           std::to_string(line) + ": " + what + "\n";
}

MachineDescription Parse(const std::string& text) {
    MachineDescription machine;
    EXPECT_EQ(ParseWarnings(text, &machine), "");
    return machine;
}

TEST(MachineDefaults, TestCardAtZeroMjpgAndDrivesHomeAndRoot) {
    const std::string home = std::getenv("HOME") ? std::getenv("HOME") : "";
    setenv("HOME", "/tmp/somebody/", 1);
    unsetenv("XDG_CONFIG_HOME");
    const MachineDescription machine = DefaultMachineDescription();
    setenv("HOME", home.c_str(), 1);

    ASSERT_TRUE(machine.drivers[0].has_value());
    EXPECT_EQ(machine.drivers[0]->name, "Carte de test");
    EXPECT_EQ(machine.drivers[0]->compression, BI_RGB);
    EXPECT_EQ(machine.drivers[0]->size, (FrameSize{384, 288}));
    for (std::size_t i = 1; i < machine.drivers.size(); ++i) EXPECT_FALSE(machine.drivers[i]);
    EXPECT_EQ(machine.codecs, (std::map<std::string, bool>{{"MJPG", true}}));
    ASSERT_EQ(machine.drives.size(), 2u);
    EXPECT_EQ(machine.drives.at('C').folder, "/tmp/somebody");
    EXPECT_EQ(machine.drives.at('Z').folder, "/");
    EXPECT_EQ(machine.drives.at('Z').type, DRIVE_FIXED);
    EXPECT_EQ(machine.display.backend, DisplayDescription::Backend::Automatic);
    EXPECT_FALSE(machine.user.virtualClock);
    EXPECT_FALSE(machine.user.messagesToStderr);
    EXPECT_FALSE(machine.audio) << "each device records its own sound input";
}

// The desktop's videos folder (user-dirs.dirs) is drive V:, when it names one that is there.
TEST(MachineDefaults, TheUsersVideosFolderIsDriveV) {
    const std::filesystem::path home =
        std::filesystem::temp_directory_path() / ("vistrel_home_" + std::to_string(getpid()));
    std::filesystem::create_directories(home / ".config");
    std::filesystem::create_directories(home / "Vidéos");
    std::filesystem::create_directories(home / "elsewhere");
    const std::string previousHome = std::getenv("HOME") ? std::getenv("HOME") : "";
    setenv("HOME", home.c_str(), 1);
    unsetenv("XDG_CONFIG_HOME");
    const struct {
        const char* lines;
        std::string drive;  // V:'s folder, empty for none
    } cases[] = {
        {"# written by xdg-user-dirs-update\nXDG_VIDEOS_DIR=\"$HOME/Vidéos\"\n",
         (home / "Vidéos").string()},
        {"XDG_VIDEOS_DIR=\"$HOME/elsewhere/\"\n", (home / "elsewhere").string()},
        {"XDG_VIDEOS_DIR=\"$HOME/\"\n", ""},        // the desktop wants no such folder
        {"XDG_VIDEOS_DIR=\"$HOME/absent\"\n", ""},  // not there
        {"XDG_MUSIC_DIR=\"$HOME/Vidéos\"\n", ""},   // another folder's line
        {"XDG_VIDEOS_DIR=$HOME/Vidéos\n", ""},      // not the file's form
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.lines);
        std::ofstream(home / ".config" / "user-dirs.dirs") << c.lines;
        const MachineDescription machine = DefaultMachineDescription();
        const auto v = machine.drives.find('V');
        EXPECT_EQ(v == machine.drives.end() ? "" : v->second.folder, c.drive);
    }
    setenv("HOME", previousHome.c_str(), 1);
    std::filesystem::remove_all(home);
}

TEST(MachineParse, EveryKeyOfAFullDescription) {
    const MachineDescription m = Parse(R"([drivers]
0 = testcard          ; an installed driver
2 = testcard

[driver2]
name = Carte vidéo n°2
version = 2.5b
format = MJPG 640x480
accepts = 384x288 320x240
overlay = no
connect = no
skew_ppm = -12.5
noise = 40

[codecs]
MJPG = no
DIVX = yes

[display]
backend = machine
size = 1280x1024
modes = 800x600 1024x768 1280x1024
restart = 640x480
failed = 1600x1200

[drives]
D = removable:/media/stick
R = ramdisk:/dev/shm
S = remote:/mnt/share
E = cdrom:/media/cdrom

[user]
clock = virtual
escape_after_ms = 10000
escape_after_frames = 250
messages = stderr
stall = Write 3000 500
)");
    EXPECT_EQ(m.path, "/m.ini");
    ASSERT_TRUE(m.drivers[0] && m.drivers[2]);
    EXPECT_FALSE(m.drivers[1]);
    EXPECT_EQ(m.drivers[0]->name, "Carte de test");
    const DriverDescription& d = *m.drivers[2];
    EXPECT_EQ(d.name, "Carte vidéo n°2");
    EXPECT_EQ(d.version, "2.5b");
    EXPECT_EQ(d.compression, kMjpg);
    EXPECT_EQ(d.size, (FrameSize{640, 480}));
    EXPECT_FALSE(d.acceptsAny);
    EXPECT_EQ(d.accepts, (std::vector<FrameSize>{{384, 288}, {320, 240}}));
    EXPECT_FALSE(d.overlay);
    EXPECT_FALSE(d.connect);
    EXPECT_DOUBLE_EQ(d.skewPpm, -12.5);
    EXPECT_EQ(d.noise, 40);

    EXPECT_EQ(m.codecs, (std::map<std::string, bool>{{"MJPG", false}, {"DIVX", true}}));

    EXPECT_EQ(m.display.backend, DisplayDescription::Backend::Machine);
    EXPECT_EQ(m.display.size, (FrameSize{1280, 1024}));
    EXPECT_EQ(m.display.modes, (std::vector<FrameSize>{{800, 600}, {1024, 768}, {1280, 1024}}));
    EXPECT_EQ(m.display.restart, (std::vector<FrameSize>{{640, 480}}));
    EXPECT_EQ(m.display.failed, (std::vector<FrameSize>{{1600, 1200}}));

    ASSERT_EQ(m.drives.size(), 4u);  // the section replaces C: and Z:
    EXPECT_EQ(m.drives.at('D').type, DRIVE_REMOVABLE);
    EXPECT_EQ(m.drives.at('D').folder, "/media/stick");
    EXPECT_EQ(m.drives.at('R').type, DRIVE_RAMDISK);
    EXPECT_EQ(m.drives.at('S').type, DRIVE_REMOTE);
    EXPECT_EQ(m.drives.at('E').type, DRIVE_CDROM);

    EXPECT_TRUE(m.user.virtualClock);
    EXPECT_EQ(m.user.escapeAfterMs, 10000);
    EXPECT_EQ(m.user.escapeAfterFrames, 250);
    ASSERT_TRUE(m.user.stall);
    EXPECT_EQ(m.user.stall->kind, ScriptedStall::Kind::Write);
    EXPECT_EQ(std::make_pair(m.user.stall->atMs, m.user.stall->forMs), std::make_pair(3000L, 500L));
    EXPECT_TRUE(m.user.messagesToStderr);
}

TEST(MachineParse, DriversSectionInstallsExactlyItsDrivers) {
    const MachineDescription onlyOne = Parse("[drivers]\n1 = testcard\n");
    EXPECT_FALSE(onlyOne.drivers[0]);
    EXPECT_TRUE(onlyOne.drivers[1]);

    const MachineDescription none = Parse("[drivers]\naudio = NONE\n");
    for (const auto& driver : none.drivers) EXPECT_FALSE(driver);
    EXPECT_EQ(none.audio, "none");

    // A driver section may come first; it describes the driver installed later in the file.
    const MachineDescription early = Parse("[driver9]\nname = Late\n[drivers]\n9 = testcard\n");
    ASSERT_TRUE(early.drivers[9]);
    EXPECT_EQ(early.drivers[9]->name, "Late");

    // Without [drivers], [driver0] describes the default test card.
    const MachineDescription tuned = Parse("[driver0]\nformat = rgb24 640x480\naccepts = any\n");
    EXPECT_EQ(tuned.drivers[0]->size, (FrameSize{640, 480}));
    EXPECT_TRUE(tuned.drivers[0]->acceptsAny);
}

TEST(MachineParse, CommentsLineEndsAndCase) {
    const MachineDescription m = Parse(
        "\xEF\xBB\xBF; leading comment\r\n"
        "# another\r\n"
        "\r\n"
        "  [DISPLAY]   ; the screen\r\n"
        "Size = 800x600 ; lone CR line end\r"
        "modes=800x600,1024x768 # inline\n"
        "[drives]\n"
        "c: = FIXED:/data/take#2;b/   ; a marker inside a word is not a comment\n"
        "\t[user]\n"
        "clock\t=\tVirtual\t# tabs\n"
        "escape_after_frames = 12");  // no line end at all
    EXPECT_EQ(m.display.size, (FrameSize{800, 600}));
    EXPECT_EQ(m.display.modes, (std::vector<FrameSize>{{800, 600}, {1024, 768}}));
    EXPECT_EQ(m.drives.at('C').folder, "/data/take#2;b");
    EXPECT_TRUE(m.user.virtualClock);
    EXPECT_EQ(m.user.escapeAfterFrames, 12);
}

TEST(MachineParse, WarningsNameTheFileTheLineAndTheKeptValue) {
    struct Case {
        std::string text;
        std::string warning;
    };
    const std::vector<Case> cases{
        {"[driver0]\nname = A\n\n\n\n\nskew_ppm = abc\n",
         Warning(7, "key \"skew_ppm\": \"abc\" is not a number; using 0")},
        {"[driver0]\nskew_ppm = nan\n",
         Warning(2, "key \"skew_ppm\": \"nan\" is not a number; using 0")},
        {"[driver0]\nskew_ppm = 200000\n",
         Warning(2, "key \"skew_ppm\": \"200000\" is not between -100000 and 100000; using 0")},
        {"[driver0]\nnoise = 101\n",
         Warning(2, "key \"noise\": \"101\" is not a whole number from 0 to 100; using 0")},
        {"[driver0]\noverlay = maybe\n",
         Warning(2, "key \"overlay\": \"maybe\" is not yes or no; using yes")},
        {"[driver0]\nformat = YUY2 640x480\n",
         Warning(2,
                 "key \"format\": \"YUY2 640x480\" is not \"RGB24 WIDTHxHEIGHT\" or \"MJPG "
                 "WIDTHxHEIGHT\"; using RGB24 384x288")},
        {"[driver0]\naccepts = 384x288 big\n",
         Warning(2,
                 "key \"accepts\": \"384x288 big\" is neither \"any\" nor a list of sizes "
                 "WIDTHxHEIGHT; using any")},
        {"[driver0]\nname =\n", Warning(2, "key \"name\": \"\" is empty; using \"Carte de test\"")},
        {"[display]\nsize = 0x768\n",
         Warning(2, "key \"size\": \"0x768\" is not a size WIDTHxHEIGHT; using 1024x768")},
        {"[display]\nbackend = wayland\n",
         Warning(2, "key \"backend\": \"wayland\" is not machine, x11 or auto; using auto")},
        {"[user]\nescape_after_ms = -5\n",
         Warning(2,
                 "key \"escape_after_ms\": \"-5\" is not a whole number of 0 or more; using 0 "
                 "(never)")},
        {"[user]\nclock = fast\n",
         Warning(2, "key \"clock\": \"fast\" is not real or virtual; using real")},
        {"[user]\nmessages = popup\n",
         Warning(2, "key \"messages\": \"popup\" is not dialog or stderr; using dialog")},
        {"[user]\nstall = message 3000\n",
         Warning(2,
                 "key \"stall\": \"message 3000\" is not message|write AT_MS FOR_MS; using no "
                 "stall")},
        {"[drivers]\n0 = webcam\n", Warning(2,
                                            "key \"0\": \"webcam\" is not a driver (testcard or "
                                            "v4l2:/dev/videoN); using no driver at index 0")},
        {"[drivers]\naudio =\n",
         Warning(2, "key \"audio\": \"\" is empty; using each device's own input")},
        {"[drivers]\n10 = testcard\n",
         Warning(2, "key \"10\" in [drivers] is not a driver index 0 to 9; ignored")},
        {"[codecs]\nMJPG = perhaps\n",
         Warning(2, "key \"MJPG\": \"perhaps\" is not yes or no; using yes")},
        {"[drives]\nD = floppy:/mnt\n",
         Warning(
             2,
             "key \"D\": \"floppy:/mnt\" is not TYPE:/FOLDER (fixed, removable, remote, cdrom or "
             "ramdisk); using no drive D:")},
        {"[drives]\nD = fixed:relative/dir\n",
         Warning(2,
                 "key \"D\": \"fixed:relative/dir\" is not TYPE:/FOLDER (fixed, removable, remote, "
                 "cdrom or ramdisk); using no drive D:")},
        {"[drives]\nDD = fixed:/\n",
         Warning(2, "key \"DD\" in [drives] is not a drive letter A to Z; ignored")},
    };
    for (const Case& c : cases) EXPECT_EQ(ParseWarnings(c.text), c.warning) << c.text;
}

TEST(MachineParse, BadValuesKeepTheValueInForce) {
    MachineDescription m;
    ParseWarnings("[driver0]\nnoise = 30\nnoise = lots\n[display]\nmodes = 640x480\nmodes = ?\n",
                  &m);
    EXPECT_EQ(m.drivers[0]->noise, 30);
    EXPECT_EQ(m.display.modes, (std::vector<FrameSize>{{640, 480}}));

    ParseWarnings("[drivers]\n0 = testcard\n0 = camera\n", &m);
    EXPECT_FALSE(m.drivers[0]);  // a refused kind installs nothing, even over an earlier line
}

TEST(MachineParse, UnknownAndMisplacedLinesAreWarnedOnceEach) {
    const std::string warnings = ParseWarnings(
        "stray = 1\n"
        "[driver0]\n"
        "colour = red\n"
        "[network]\n"
        "proxy = none\n"
        "speed = fast\n"
        "[user]\n"
        "just some words\n"
        "[driver3]\n"
        "name = Nobody\n"
        "[codecs]\n"
        "XVID = yes\n"
        "[user]\n"
        "clock = real\n"
        "clock = virtual\n"
        "[drivers\n");
    EXPECT_EQ(
        warnings,
        Warning(1, "key \"stray\" comes before any [section]; ignored") +
            Warning(3, "unknown key \"colour\" in [driver0]; ignored") +
            Warning(4, "unknown section [network]; its keys are ignored") +
            Warning(8, "\"just some words\" is neither a [section] nor a key = value; ignored") +
            Warning(12,
                    "codec \"XVID\" is unknown (there is no compressor for it; known: MJPG, "
                    "DIVX); ignored") +
            Warning(15, "key \"clock\" repeats line 14; the last one counts") +
            Warning(16, "\"[drivers\" is neither a [section] nor a key = value; ignored") +
            Warning(9, "[driver3] describes index 3, where no driver is installed; ignored"));
}

std::string Drivers(const MachineDescription& m) {
    std::string shown;
    for (std::size_t i = 0; i < m.drivers.size(); ++i)
        if (m.drivers[i]) shown += std::to_string(i) + ":" + m.drivers[i]->name + " ";
    return shown + "audio=" + m.audio.value_or("-");
}

std::string Drives(const MachineDescription& m) {
    std::string shown;
    for (const auto& [letter, drive] : m.drives) shown += letter + drive.folder + " ";
    return shown;
}

std::string User(const MachineDescription& m) {
    const auto& stall = m.user.stall;
    return (m.user.virtualClock ? "virtual " : "real ") +
           (stall ? std::to_string(stall->atMs) + "+" + std::to_string(stall->forMs) : "-");
}

// How sections are entered again, which keys keep their case, and in what order a line's
// problems come out.
TEST(MachineParse, SectionsKeysAndTheOrderOfProblems) {
    const struct {
        std::string text;
        std::string (*shown)(const MachineDescription&);
        std::string expected;
        std::vector<std::string> warnings;
    } cases[] = {
        {"[drivers]\n1 = testcard\n[user]\n[DRIVERS]\n2 = testcard\nAUDIO = hw:1\n",
         Drivers,
         "1:Carte de test 2:Carte de test audio=hw:1",
         {}},
        {"[drivers]\n0 = v4l2:/dev/nothere\n[Driver0]\nNAME = Mine\n[driver0]\n",
         Drivers,
         "0:/dev/nothere audio=-",
         {Warning(3, "[driver0] describes a V4L2 device, which describes itself; ignored")}},
        {"[drives]\nd = fixed:/d/\n[drives]\nE: = cdrom:/e/./\nD = floppy:/x\nxy = fixed:/\n",
         Drives,
         "E/e ",
         {Warning(5, "key \"D\" repeats line 2; the last one counts"),
          Warning(5,
                  "key \"D\": \"floppy:/x\" is not TYPE:/FOLDER (fixed, removable, remote, cdrom "
                  "or ramdisk); using no drive D:"),
          Warning(6, "key \"xy\" in [drives] is not a drive letter A to Z; ignored")}},
        {"[codecs]\ndivx = yes\nDIVX = maybe\nXvid = yes\n",
         nullptr,
         "",
         {Warning(3, "key \"DIVX\" repeats line 2; the last one counts"),
          Warning(3, "key \"DIVX\": \"maybe\" is not yes or no; using yes"),
          Warning(4,
                  "codec \"Xvid\" is unknown (there is no compressor for it; known: MJPG, DIVX); "
                  "ignored")}},
        {"Stray = 1\n[User]\nColour = red\nClock = Virtual\nSTALL = write -1 5\n[Driver1]\n"
         "[driver10]\nname = x\n[driver1]\nstall = x\nversion = 2\n[user]\nstall = MESSAGE 0 7\n",
         User,
         "virtual 0+7",
         {Warning(1, "key \"Stray\" comes before any [section]; ignored"),
          Warning(3, "unknown key \"colour\" in [user]; ignored"),
          Warning(5,
                  "key \"stall\": \"write -1 5\" is not message|write AT_MS FOR_MS; using no "
                  "stall"),
          Warning(7, "unknown section [driver10]; its keys are ignored"),
          Warning(10, "unknown key \"stall\" in [driver1]; ignored"),
          Warning(13, "key \"stall\" repeats line 5; the last one counts"),
          Warning(6, "[driver1] describes index 1, where no driver is installed; ignored")}},
        {"[user]\nstall = write 100 5\n[user]\nstall = later\n",
         User,
         "real 100+5",
         {Warning(4, "key \"stall\" repeats line 2; the last one counts"),
          Warning(4,
                  "key \"stall\": \"later\" is not message|write AT_MS FOR_MS; using the stall "
                  "given before")}},
        {"[driver0]\nnoise = 100\nnoise = 101\nskew_ppm = -100000\nskew_ppm = inf\n[display]\n"
         "size = 16384x1\nsize = 16385x1\n[user]\nescape_after_ms = 9223372036854775808\n",
         nullptr,
         "",
         {Warning(3, "key \"noise\" repeats line 2; the last one counts"),
          Warning(3, "key \"noise\": \"101\" is not a whole number from 0 to 100; using 100"),
          Warning(5, "key \"skew_ppm\" repeats line 4; the last one counts"),
          Warning(5, "key \"skew_ppm\": \"inf\" is not a number; using -100000"),
          Warning(8, "key \"size\" repeats line 7; the last one counts"),
          Warning(8, "key \"size\": \"16385x1\" is not a size WIDTHxHEIGHT; using 16384x1"),
          Warning(10,
                  "key \"escape_after_ms\": \"9223372036854775808\" is not a whole number of 0 "
                  "or more; using 0 (never)")}},
    };
    for (const auto& c : cases) {
        MachineDescription m;
        std::string warnings;
        for (const std::string& w : c.warnings) warnings += w;
        EXPECT_EQ(ParseWarnings(c.text, &m), warnings) << c.text;
        if (c.shown != nullptr) {
            EXPECT_EQ(c.shown(m), c.expected) << c.text;
        }
    }
}

TEST(MachineParse, CodecKeysAreUpperCased) {
    const MachineDescription m = Parse("[codecs]\nmjpg = no\ndivx = yes\n");
    EXPECT_EQ(m.codecs, (std::map<std::string, bool>{{"MJPG", false}, {"DIVX", true}}));
}

TEST(MachineParse, EscapeAfterZeroMeansNever) {
    const MachineDescription m = Parse("[user]\nescape_after_ms = 0\nescape_after_frames = 0\n");
    EXPECT_FALSE(m.user.escapeAfterMs);
    EXPECT_FALSE(m.user.escapeAfterFrames);
}

TEST(MachineRead, MissingFileNamesItAndGivesTheDefaults) {
    const std::string path = "/nonexistent/folder/x.ini";
    testing::internal::CaptureStderr();
    const MachineDescription m = ReadMachineDescription(path);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              std::string(program_invocation_short_name) + ": machine description " + path +
                  " cannot be read (No such file or directory); using the defaults\n");
    EXPECT_TRUE(m.drivers[0]);
    EXPECT_TRUE(m.path.empty());

    testing::internal::CaptureStderr();
    ReadMachineDescription("/tmp");
    EXPECT_THAT(testing::internal::GetCapturedStderr(),
                HasSubstr("/tmp is a folder; using the defaults"));
}

// A FIFO with no writer used to block start-up for good, and a device was read as a file.
TEST(MachineRead, FifoOrDeviceIsRefusedWithoutWaiting) {
    const std::filesystem::path fifo = std::filesystem::temp_directory_path() /
                                       ("machine_test_" + std::to_string(getpid()) + ".fifo");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    for (const std::string& path : {fifo.string(), std::string("/dev/zero")}) {
        testing::internal::CaptureStderr();
        const MachineDescription m = ReadMachineDescription(path);
        EXPECT_EQ(testing::internal::GetCapturedStderr(),
                  std::string(program_invocation_short_name) + ": machine description " + path +
                      " is not a regular file (a FIFO or a device); using the defaults\n");
        EXPECT_TRUE(m.drivers[0]);
    }
    std::filesystem::remove(fifo);
}

// Warnings used to print the file's bytes as they were: an escape sequence reached the terminal,
// a 10,000-byte value made a 10,000-byte line.
TEST(MachineParse, WarningsShowControlBytesEscapedAndLongValuesCut) {
    const std::string cut = std::string(60, 'a');
    const struct {
        std::string text;
        std::string warning;
    } cases[] = {
        {"[user]\nclock = re\x1b[2Jal\n",
         Warning(2, "key \"clock\": \"re\\x1B[2Jal\" is not real or virtual; using real")},
        {"[user]\nclock = a\x7f\xc2\x9b\xff\xc3\xa9\n",
         Warning(2,
                 "key \"clock\": \"a\\x7F\\xC2\\x9B\\xFF\xc3\xa9\" is not real or virtual; using "
                 "real")},
        {"[user]\nclock = " + std::string(10000, 'a') + "\n",
         Warning(2, "key \"clock\": \"" + cut + "...\" is not real or virtual; using real")},
        {"[user]\n" + std::string(70, 'k') + " = 1\n",
         Warning(2, "unknown key \"" + std::string(60, 'k') + "...\" in [user]; ignored")},
        {"[" + std::string(70, 's') + "]\n",
         Warning(1, "unknown section [" + std::string(60, 's') + "...]; its keys are ignored")},
        {"\x01junk\n",
         Warning(1, "\"\\x01junk\" is neither a [section] nor a key = value; ignored")},
    };
    for (const auto& c : cases) EXPECT_EQ(ParseWarnings(c.text), c.warning);
}

TEST(MachineRead, ReadsTheFileAndNamesItInWarnings) {
    const std::filesystem::path path = std::filesystem::temp_directory_path() / "machine_test.ini";
    std::ofstream(path) << "[user]\nclock = virtual\nsecret = 1\n";
    testing::internal::CaptureStderr();
    const MachineDescription m = ReadMachineDescription(path.string());
    const std::string warnings = testing::internal::GetCapturedStderr();
    std::filesystem::remove(path);
    EXPECT_TRUE(m.user.virtualClock);
    EXPECT_EQ(m.path, path.string());
    EXPECT_THAT(warnings, HasSubstr(path.string() + " line 3: unknown key \"secret\" in [user]"));
}

TEST(MachineInForce, SetMachineReplacesItAndReturnsThePrevious) {
    MachineDescription mine = DefaultMachineDescription();
    mine.user.virtualClock = true;
    const MachineDescription previous = SetMachine(mine);
    EXPECT_TRUE(Machine().user.virtualClock);
    SetMachine(previous);
    EXPECT_EQ(Machine().user.virtualClock, previous.user.virtualClock);
}

}  // namespace
}  // namespace platform
