// SPDX-License-Identifier: GPL-2.0-or-later
// Any bytes as a machine description: the reader must neither crash nor leave a value outside
// the range platform/README.md gives it, and every warning must be one line of plain text of
// bounded length, whatever control bytes, invalid UTF-8 or huge values the file holds.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "platform/machine.h"

namespace {

constexpr char kPath[] = "fuzz.ini";
// The longest warning: the prefix, a few quoted pieces cut to 60 bytes (escaped bytes take
// four), and the words around them.
constexpr std::size_t kLongestWarning = 1200;

void Check(bool condition) {
    if (!condition) std::abort();
}

bool SizeInRange(const platform::FrameSize& size) {
    return size.width >= 1 && size.width <= 16384 && size.height >= 1 && size.height <= 16384;
}

void CheckDescription(const platform::MachineDescription& machine) {
    for (const auto& driver : machine.drivers) {
        if (!driver) continue;
        Check(SizeInRange(driver->size));
        for (const auto& size : driver->accepts) Check(SizeInRange(size));
        Check(driver->noise >= 0 && driver->noise <= 100);
        Check(driver->skewPpm >= -100000 && driver->skewPpm <= 100000);
        Check(!driver->name.empty() && !driver->version.empty());
    }
    Check(SizeInRange(machine.display.size));
    for (const auto& [letter, drive] : machine.drives) {
        Check(letter >= 'A' && letter <= 'Z');
        Check(drive.folder.starts_with('/'));
    }
    for (const auto& [fourcc, on] : machine.codecs) Check(fourcc == "MJPG" || fourcc == "DIVX");
}

std::size_t LineCount(std::string_view text) {
    std::size_t lines = 1;
    for (const char c : text) lines += c == '\n' || c == '\r' ? 1 : 0;
    return lines;
}

// One line per problem, each starting with the program and the file, with no control byte.
void CheckWarnings(std::string_view warnings, std::size_t inputLines) {
    std::size_t lines = 0;
    std::size_t start = 0;
    while (start < warnings.size()) {
        const std::size_t end = warnings.find('\n', start);
        Check(end != std::string_view::npos);
        const std::string_view line = warnings.substr(start, end - start);
        Check(line.find(": machine description fuzz.ini line ") != std::string_view::npos);
        Check(line.size() <= kLongestWarning);
        for (const char c : line) {
            const auto byte = static_cast<unsigned char>(c);
            Check(byte >= 0x20 && byte != 0x7F);
        }
        ++lines;
        start = end + 1;
    }
    // A line gives at most two (a repeated key with a bad value); ten [driverN] sections may
    // describe drivers that are not installed.
    Check(lines <= 2 * inputLines + 10);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    char* warnings = nullptr;
    std::size_t warningBytes = 0;
    FILE* const standardError = stderr;
    stderr = open_memstream(&warnings, &warningBytes);
    Check(stderr != nullptr);
    const platform::MachineDescription machine = platform::ParseMachineDescription(text, kPath);
    std::fclose(stderr);
    stderr = standardError;
    CheckWarnings(std::string_view(warnings, warningBytes), LineCount(text));
    std::free(warnings);
    CheckDescription(machine);
    return 0;
}
