// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/conversions.h"

#include <QStringView>
#include <cstdint>

#include "platform/messages.h"

namespace platform {
namespace {

bool IsDigit(QChar c) {
    return c >= u'0' && c <= u'9';
}

// A whole number as the toolkit's conversion reads one: blanks ahead, an optional sign, decimal
// digits, within 32 bits.
std::optional<std::int32_t> WholeNumber(QStringView text) {
    qsizetype i = 0;
    while (i < text.size() && text[i] == u' ') ++i;
    const bool negative = i < text.size() && text[i] == u'-';
    if (i < text.size() && (text[i] == u'-' || text[i] == u'+')) ++i;
    if (i == text.size()) return std::nullopt;
    std::int64_t value = 0;
    for (; i < text.size(); ++i) {
        if (!IsDigit(text[i])) return std::nullopt;
        value = value * 10 + (text[i].unicode() - u'0');
        if (value > std::int64_t{INT32_MAX} + 1) return std::nullopt;
    }
    if (negative) value = -value;
    if (value > INT32_MAX) return std::nullopt;
    return static_cast<std::int32_t>(value);
}

}  // namespace

std::optional<std::int32_t> StrToInt(const QString& text) {
    const std::optional<std::int32_t> number = WholeNumber(text);
    if (!number) ShowConversionError(text.toStdString());
    return number;
}

}  // namespace platform
