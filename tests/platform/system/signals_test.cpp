// SPDX-License-Identifier: GPL-2.0-or-later
// The system's requests to end: the first reaches the event loop once, a repeat soon after is the
// same request and changes nothing, a deliberate one later kills; nohup's ignored hang-up stays
// ignored; a write past the file size limit is an error rather than the end of the process.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <csignal>
#include <optional>

#include "platform/signals.h"
#include "platform/system/signal_policy.h"

namespace platform {
namespace {

TEST(EndingSignalPolicy, FirstRequestsRepeatsWithinTheGraceAreIgnoredLaterOnesForce) {
    using enum EndingSignalAction;
    const struct {
        std::optional<std::int64_t> first;
        std::int64_t now;
        EndingSignalAction action;
    } cases[] = {
        {std::nullopt, 0, Request},
        {std::nullopt, 86'400'000, Request},
        {1000, 1000, Ignore},  // the same instant: `timeout`'s process, then its group
        {1000, 1001, Ignore},
        {1000, 1000 + kRepeatGraceMs - 1, Ignore},
        {1000, 1000 + kRepeatGraceMs, Force},
        {1000, 60'000, Force},
        {0, kRepeatGraceMs, Force},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ActionForEndingSignal(c.first, c.now), c.action)
            << "first " << (c.first ? std::to_string(*c.first) : "none") << ", now " << c.now;
    }
}

void (*Disposition(int number))(int) {
    struct sigaction action {};
    sigaction(number, nullptr, &action);
    return action.sa_handler;
}

// The requests counted after the loop has run a while: long enough to see one more than
// `expected` (the pipe's byte is written before raise() returns), and up to 5 s for `expected`.
int Requests(const int& requests, int expected) {
    QElapsedTimer clock;
    clock.start();
    while ((requests < expected && clock.elapsed() < 5000) || clock.elapsed() < 200) {
        QCoreApplication::processEvents();
    }
    return requests;
}

// Every signal handled here in one process: the handlers are installed once for its life. The
// forced end needs the grace to pass and is run from outside (faults_end_to_end_test.sh).
TEST(SystemSignals, FirstRequestReachesTheLoopOnceRepeatsAtOnceChangeNothing) {
    std::signal(SIGHUP, SIG_IGN);  // as nohup starts a program
    std::signal(SIGINT, SIG_IGN);  // as a shell starts a script's background job
    int requests = 0;
    HandleSystemSignals([&requests] { ++requests; });
    EXPECT_EQ(Disposition(SIGHUP), SIG_IGN);
    EXPECT_NE(Disposition(SIGINT), SIG_IGN);
    EXPECT_NE(Disposition(SIGTERM), SIG_DFL);
    EXPECT_EQ(Disposition(SIGXFSZ), SIG_IGN);

    std::raise(SIGHUP);
    EXPECT_EQ(Requests(requests, 0), 0) << "an ignored hang-up asks nothing";
    std::raise(SIGTERM);
    EXPECT_EQ(requests, 0) << "nothing is done inside the signal handler";
    EXPECT_EQ(Requests(requests, 1), 1);
    std::raise(SIGTERM);
    std::raise(SIGINT);
    EXPECT_EQ(Requests(requests, 1), 1) << "repeats within the grace neither kill nor ask again";
}

}  // namespace
}  // namespace platform
