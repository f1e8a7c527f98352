// The system's requests to end: the first reaches the event loop once, a second kills at once,
// and a write past the file size limit is an error rather than the end of the process.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <csignal>

#include "platform/signals.h"

namespace {

// Every signal handled here in one process: the handlers are installed once for its life.
TEST(SystemSignals, FirstRequestReachesTheLoopOnceASecondKillsAndFileSizeSignalIsIgnored) {
    int requests = 0;
    platform::HandleSystemSignals([&requests] { ++requests; });
    struct sigaction fileSize {};
    sigaction(SIGXFSZ, nullptr, &fileSize);
    EXPECT_EQ(fileSize.sa_handler, SIG_IGN);

    std::raise(SIGTERM);
    EXPECT_EQ(requests, 0) << "nothing is done inside the signal handler";
    QElapsedTimer clock;
    clock.start();
    while (requests == 0 && clock.elapsed() < 5000) QCoreApplication::processEvents();
    EXPECT_EQ(requests, 1);
    QCoreApplication::processEvents();
    EXPECT_EQ(requests, 1);

    GTEST_FLAG_SET(death_test_style, "fast");  // the child keeps the count of signals received
    EXPECT_EXIT(std::raise(SIGINT), ::testing::KilledBySignal(SIGINT), "");
    EXPECT_EXIT(std::raise(SIGHUP), ::testing::KilledBySignal(SIGHUP), "");
}

}  // namespace
