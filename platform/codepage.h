// SPDX-License-Identifier: GPL-2.0-or-later
// The ANSI code page: Windows-1252 text (the settings file, the capture log) to and from the
// UTF-8 the program works in, through iconv.
//
// Both conversions accept any bytes and never fail:
// - The five bytes Windows-1252 leaves undefined (0x81, 0x8D, 0x8F, 0x90, 0x9D) become the C1
//   control characters of the same value (U+0081...), and those characters become the bytes
//   again. A file edited by hand therefore survives a read and a write unchanged, byte for byte,
//   which U+FFFD would not allow.
// - A character with no Windows-1252 form becomes one '?'; so does each byte of malformed UTF-8
//   (a stray continuation byte, a truncated, overlong or surrogate sequence).
// The converters are opened on first use and kept for the life of the process. Where the system
// has no Windows-1252 converter, bytes map as ISO-8859-1 (the same but for 0x80-0x9F).
#pragma once

#include <string>
#include <string_view>

namespace platform {

// Windows-1252 bytes to UTF-8.
std::string AnsiToUtf8(std::string_view ansi);

// UTF-8 to Windows-1252 bytes.
std::string Utf8ToAnsi(std::string_view utf8);

}  // namespace platform
