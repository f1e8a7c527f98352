// SPDX-License-Identifier: GPL-2.0-or-later
// The present date and time as the user's locale writes them (its short date and long time
// formats), for the capture's file names, its log and the time of day over the picture.
#pragma once

#include <QString>
#include <cstddef>

namespace platform {

// Into a caller's buffer, in the locale's own encoding, so that a per-frame caller allocates
// nothing; the length written, 0 when the text does not fit.
std::size_t FormatShortDateNow(char* out, std::size_t size);
std::size_t FormatLongTimeNow(char* out, std::size_t size);

QString ShortDateNow();
QString LongTimeNow();

}  // namespace platform
