// SPDX-License-Identifier: GPL-2.0-or-later
// The toolkit's text-to-number conversion, with its error box.
#pragma once

#include <QString>
#include <cstdint>
#include <optional>

namespace platform {
// A whole number as the toolkit reads one: blanks ahead, an optional sign, decimal digits, within
// 32 bits. Anything else shows the toolkit's conversion error for the text and gives nothing.
std::optional<std::int32_t> StrToInt(const QString& text);
}  // namespace platform
