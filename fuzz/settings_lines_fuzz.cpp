// SPDX-License-Identifier: GPL-2.0-or-later
// Any bytes as a settings file: the line reader must neither crash nor lose or invent text, and
// the code page conversion must give every line's bytes back.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "platform/codepage.h"
#include "settings/settings_file.h"

namespace {

void Check(bool condition) {
    if (!condition) std::abort();
}

bool IsLineEnd(char c) {
    return c == '\r' || c == '\n';
}

// Counted apart from the reader: each LF, each CR not followed by LF, and unended text.
std::size_t ExpectedLineCount(std::string_view bytes) {
    std::size_t count = 0;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (bytes[i] == '\n' ||
            (bytes[i] == '\r' && (i + 1 == bytes.size() || bytes[i + 1] != '\n')))
            ++count;
    }
    return count + (!bytes.empty() && !IsLineEnd(bytes.back()) ? 1 : 0);
}

std::string WithoutLineEnds(std::string_view bytes) {
    std::string text;
    for (const char c : bytes)
        if (!IsLineEnd(c)) text += c;
    return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const std::vector<std::string_view> lines = SplitSettingLines(bytes);
    Check(lines.size() == ExpectedLineCount(bytes));
    std::string text;
    for (const std::string_view line : lines) {
        Check(line.find_first_of("\r\n") == std::string_view::npos);
        Check(platform::Utf8ToAnsi(platform::AnsiToUtf8(line)) == line);
        text += line;
    }
    Check(text == WithoutLineEnds(bytes));
    Check(SplitSettingLines(JoinSettingLines(lines)) == lines);
    platform::Utf8ToAnsi(bytes);  // any bytes, even those that are no UTF-8
    return 0;
}
