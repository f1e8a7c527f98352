// SPDX-License-Identifier: GPL-2.0-or-later
// Messages to the user: every box the program shows goes through one replaceable reporter, so a
// scripted run prints them and tests record them instead of blocking on a modal box.
#pragma once

#include <functional>
#include <string>

namespace platform {

enum class MessageKind {
    Information,      // the program's own message boxes
    ConversionError,  // the toolkit's box for a text that is not a number
};

// Receives the UTF-8 text of a box and returns once the user has acknowledged it.
using MessageReporter = std::function<void(MessageKind kind, const std::string& text)>;

// Shows a modal box (or, in a scripted run, prints "message: TEXT" on standard error) and
// returns once it is acknowledged.
void ShowMessage(const std::string& text);

// The toolkit's conversion-error box, with the toolkit's own text for `value`.
void ShowConversionError(const std::string& value);

// From now on no box waits for the user: those open are closed as if acknowledged, and later
// messages are printed on standard error as in a scripted run. For a program the system has asked
// to end, whose user may be gone (a closed terminal, a session ending). Only the default
// reporter's boxes are concerned.
void DismissMessages();

// Replaces the reporter; an empty reporter restores the default one. Returns the previous one.
MessageReporter SetMessageReporter(MessageReporter reporter);

}  // namespace platform
