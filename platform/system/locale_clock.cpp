// SPDX-License-Identifier: GPL-2.0-or-later
// The locale's date and time formats, read from the C library's locale data.
#include "platform/locale_clock.h"

#include <langinfo.h>

#include <array>
#include <ctime>

namespace platform {
namespace {

std::size_t FormatNow(nl_item format, char* out, std::size_t size) {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    return std::strftime(out, size, nl_langinfo(format), &local);
}

QString Now(nl_item format) {
    std::array<char, 256> text{};
    const std::size_t length = FormatNow(format, text.data(), text.size());
    return QString::fromLocal8Bit(text.data(), static_cast<qsizetype>(length));
}

}  // namespace

std::size_t FormatShortDateNow(char* out, std::size_t size) {
    return FormatNow(D_FMT, out, size);
}

std::size_t FormatLongTimeNow(char* out, std::size_t size) {
    return FormatNow(T_FMT, out, size);
}

QString ShortDateNow() {
    return Now(D_FMT);
}

QString LongTimeNow() {
    return Now(T_FMT);
}

}  // namespace platform
