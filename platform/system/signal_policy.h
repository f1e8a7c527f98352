// SPDX-License-Identifier: GPL-2.0-or-later
// What one of the system's requests to end (SIGTERM, SIGINT, SIGHUP) does, from when it comes.
// Pure, so that the signal handler may call it and tests may give it any times.
#pragma once

#include <cstdint>
#include <optional>

namespace platform {

enum class EndingSignalAction {
    Request,  // the first: the program is asked to end the way its user would end it
    Ignore,   // a repeat while that end is under way
    Force,    // a deliberate repeat: the process ends at once, killed by the signal
};

// A repeat this soon after the first request is the same request sent again, not a second one:
// `timeout` signals the program and then its process group, and a closing terminal may hang up
// twice. Three seconds outlast those and any orderly end that is not stuck, and are still short
// for someone pressing Ctrl-C again because the program seems not to end.
constexpr std::int64_t kRepeatGraceMs = 3000;

// `firstRequestMs` is when the first request came (none yet: nullopt) and `nowMs` when this one
// comes, both on the monotonic clock in milliseconds.
constexpr EndingSignalAction ActionForEndingSignal(std::optional<std::int64_t> firstRequestMs,
                                                   std::int64_t nowMs) {
    if (!firstRequestMs) return EndingSignalAction::Request;
    return nowMs - *firstRequestMs < kRepeatGraceMs ? EndingSignalAction::Ignore
                                                    : EndingSignalAction::Force;
}

}  // namespace platform
