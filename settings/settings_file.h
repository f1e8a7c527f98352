// SPDX-License-Identifier: GPL-2.0-or-later
// The settings file: numbered lines of Windows-1252 text beside the executable, no keys, no
// sections. Every call reads the whole file afresh and every write rewrites it whole; nothing is
// kept between calls. Callers hand and receive UTF-8.
//
// A failure is reported to the user once: the same failure met again before any settings call
// succeeds is not reported again, so the six writes of one save to a read-only folder give one
// message, not six.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/files.h"
#include "platform/windef.h"

// Lines in a file the program creates: 0 to 20, all empty but those written.
constexpr WORD kNewSettingsFileLines = 21;

// What the lines hold; the others stay empty.
constexpr WORD kWindowTopLine = 2;
constexpr WORD kWindowLeftLine = 3;
constexpr WORD kFrameRateLine = 4;
constexpr WORD kAudioRateLine = 5;
constexpr WORD kAudioChannelsLine = 6;
constexpr WORD kDestinationLine = 7;
constexpr WORD kFrameLimitLine = 8;
constexpr WORD kCaptureCacheLine = 9;  // "1" when CheckBox1 is ticked

// The directory part of a Windows-style path: everything up to its last '\' or ':' included;
// empty when it has neither.
std::string DirectoryPart(std::string_view windowsPath);

// The running executable's directory, Windows-style, with its trailing separator. The main window
// keeps it as its AppDirectory at start-up.
std::string ExeDirectory();

// The settings file of a program whose directory is `appDirectory` (with its trailing separator):
// the two separators in a row that this gives are read as one by the file system.
std::string SettingsPath(const std::string& appDirectory);

// Removes the temporaries that saves cut short (their process killed or gone) left beside the
// settings file of the running executable; those of running processes are theirs to finish.
void RemoveStaleSettingsTemporaries();

// Line `line` of the file at `path`; empty when there is no file or no such line. A file that
// exists but cannot be read gives a message and the empty text.
std::string ReadSettingLine(const std::string& path, WORD line);

// Makes line `line` of the file at `path` equal to `value`, creating a file of 21 empty lines
// first when there is none, and extending a shorter file with empty lines when it lacks the
// line. The file is replaced whole or not at all. When it cannot be, the user gets a message,
// the file is left as it was and the result is false; the caller may go on regardless.
// A value holding a line break is refused the same way: it would shift every line below it.
bool WriteSettingLine(const std::string& path, const std::string& value, WORD line);

// The lines of a settings file's bytes. A line ends at CR LF, at a lone CR or at a lone LF; text
// after the last line end is one more line. The views point into `bytes`.
std::vector<std::string_view> SplitSettingLines(std::string_view bytes);

// The bytes of a settings file: every line followed by CR LF.
std::string JoinSettingLines(const std::vector<std::string_view>& lines);
