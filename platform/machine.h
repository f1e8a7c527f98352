// SPDX-License-Identifier: GPL-2.0-or-later
// The machine description: what a Windows machine would have installed (capture drivers,
// compressors, display modes, drives) and a scripted user, read from the INI file named by
// PLATFORM_MACHINE. Every service reads it through Machine(); without the variable the machine
// has its V4L2 capture devices, then the test card (at index 0 without a device), the "MJPG"
// compressor, the real screen, drives C: (home) and Z: (root), real time and real message boxes.
#pragma once

#include <array>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/windef.h"

namespace platform {

struct FrameSize {
    int width = 0;
    int height = 0;
    bool operator==(const FrameSize&) const = default;
};

struct DriverDescription {
    std::string kind = "testcard";  // or "v4l2"
    std::string device;             // v4l2: the device node, /dev/videoN
    std::string identity;           // v4l2: what its choices are remembered by (card, serial/bus)
    std::string name = "Carte de test";
    std::string version = "1.0";
    DWORD compression = BI_RGB;  // BI_RGB (24-bit) or MJPG
    FrameSize size{384, 288};
    bool acceptsAny = true;
    std::vector<FrameSize> accepts;  // when !acceptsAny: the BI_RGB sizes accepted
    bool overlay = true;
    bool connect = true;
    double skewPpm = 0;  // video clock against the audio clock
    int noise = 0;       // 0-100
};

struct DisplayDescription {
    enum class Backend { Automatic, Machine, X11 };
    Backend backend = Backend::Automatic;  // X11 where an X display is open, else Machine
    FrameSize size{1024, 768};
    std::vector<FrameSize> modes{{800, 600}, {1024, 768}};
    std::vector<FrameSize> restart;  // modes answering DISP_CHANGE_RESTART
    std::vector<FrameSize> failed;   // modes answering DISP_CHANGE_FAILED
};

struct DriveDescription {
    UINT type = 3;  // DRIVE_FIXED
    std::string folder;
};

// One hold of the program's thread during a capture, as a user or the machine may cause: a
// modal box left open, or a write to a slow disk. `atMs` counts from the capture's start (a
// write: from the run's first write).
struct ScriptedStall {
    enum class Kind { Message, Write };
    Kind kind = Kind::Message;
    long atMs = 0;
    long forMs = 0;
};

struct ScriptedUser {
    bool virtualClock = false;
    std::optional<ScriptedStall> stall;
    std::optional<long> escapeAfterMs;
    std::optional<long> escapeAfterFrames;
    bool messagesToStderr = false;
};

// A value-initialised description has no driver and no drive: start from
// DefaultMachineDescription() for the machine described above.
struct MachineDescription {
    std::string path;  // the file it was read from; empty for the defaults
    std::array<std::optional<DriverDescription>, 10> drivers;
    std::map<std::string, bool> codecs{{"MJPG", true}};  // upper-case FourCC -> installed
    DisplayDescription display;
    std::map<char, DriveDescription> drives;  // upper-case letters
    // The ALSA sound input every real device records with, or "none"; when not given, each
    // device has its own (platform/capture/sound_inputs.h).
    std::optional<std::string> audio;
    ScriptedUser user;
};

// The machine with no description: the V4L2 capture devices found at 0, 1, …, then the test
// card, "MJPG", drives C: (the home folder, from HOME or the password database) and Z: (the root).
MachineDescription DefaultMachineDescription();

// The description in force: read once from PLATFORM_MACHINE on first use. A file that is
// missing or holds an unknown key or a bad value gives one line on standard error naming the
// file, the key and the line, and the default for that key.
const MachineDescription& Machine();

// Reads a description from INI text (UTF-8; CR LF, CR or LF line ends); `path` names it in the
// warnings, which go to standard error, one line each. Never fails: what cannot be understood
// keeps its default. The keys are listed in platform/README.md.
MachineDescription ParseMachineDescription(const std::string& text, const std::string& path);

// Reads the description in the file at `path`; a file that cannot be read gives one line on
// standard error naming it, and the defaults. Machine() reads PLATFORM_MACHINE through it.
MachineDescription ReadMachineDescription(const std::string& path);

// Replaces the description in force (tests, tools). Returns the previous one.
MachineDescription SetMachine(MachineDescription description);

}  // namespace platform
