// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/signals.h"

#include <fcntl.h>
#include <time.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QSocketNotifier>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <limits>
#include <optional>
#include <utility>

#include "platform/system/signal_policy.h"

namespace platform {
namespace {

constexpr int kEndingSignals[] = {SIGTERM, SIGINT, SIGHUP};

// The handler may only touch these: a pipe's write end and a lock-free time.
int wakeWrite = -1;
constexpr std::int64_t kNoRequest = std::numeric_limits<std::int64_t>::min();
std::atomic<std::int64_t> firstRequestMs{kNoRequest};
static_assert(std::atomic<std::int64_t>::is_always_lock_free);

// clock_gettime is safe in a signal handler.
std::int64_t MonotonicMs() {
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return std::int64_t{now.tv_sec} * 1000 + now.tv_nsec / 1000000;
}

// When an earlier request came; none when this one is the first, which is then recorded. Two
// signals handled at once on two threads cannot both be the first.
std::optional<std::int64_t> EarlierRequest(std::int64_t now) {
    std::int64_t earlier = kNoRequest;
    if (firstRequestMs.compare_exchange_strong(earlier, now)) return std::nullopt;
    return earlier;
}

// Self-pipe: the handler only writes a byte, which the event loop sees on the read end.
void WakeLoop() {
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(wakeWrite, &byte, 1);
}

void OnSignal(int number) {
    const int saved = errno;
    const std::int64_t now = MonotonicMs();
    switch (ActionForEndingSignal(EarlierRequest(now), now)) {
        case EndingSignalAction::Request:
            WakeLoop();
            break;
        case EndingSignalAction::Ignore:
            break;
        case EndingSignalAction::Force:
            // Blocked while its handler runs, the signal kills as soon as the handler returns.
            std::signal(number, SIG_DFL);
            std::raise(number);
            break;
    }
    errno = saved;
}

void Drain(int fd) {
    char bytes[16];
    while (::read(fd, bytes, sizeof bytes) > 0) {
    }
}

// A hang-up ignored from the start is `nohup`'s doing and stays ignored. An ignored SIGINT proves
// no such wish: shells start a script's background jobs with it ignored, and scripts then end
// them with it; nothing ignores SIGTERM on anyone's behalf.
bool InheritedIgnoreStays(int number) {
    return number == SIGHUP;
}

void Install(int number, const struct sigaction& action) {
    struct sigaction inherited {};
    if (sigaction(number, nullptr, &inherited) == 0 && inherited.sa_handler == SIG_IGN &&
        InheritedIgnoreStays(number)) {
        return;
    }
    sigaction(number, &action, nullptr);
}

}  // namespace

void HandleSystemSignals(std::function<void()> onRequest) {
    std::signal(SIGXFSZ, SIG_IGN);
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0) return;
    wakeWrite = ends[1];
    auto* notifier =
        new QSocketNotifier(ends[0], QSocketNotifier::Read, QCoreApplication::instance());
    QObject::connect(notifier, &QSocketNotifier::activated,
                     [fd = ends[0], onRequest = std::move(onRequest)] {
                         Drain(fd);
                         onRequest();
                     });
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int number : kEndingSignals) Install(number, action);
}

}  // namespace platform
