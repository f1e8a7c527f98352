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

// Replaces the reporter; an empty reporter restores the default one. Returns the previous one.
MessageReporter SetMessageReporter(MessageReporter reporter);

}  // namespace platform
