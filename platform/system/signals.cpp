#include "platform/signals.h"

#include <fcntl.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QSocketNotifier>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <utility>

namespace platform {
namespace {

constexpr int kEndingSignals[] = {SIGTERM, SIGINT, SIGHUP};

// The handler may only touch these: a pipe's write end and a lock-free counter.
int wakeWrite = -1;
std::atomic<int> received{0};

// Self-pipe: the handler only writes a byte, which the event loop sees on the read end.
void OnSignal(int number) {
    if (received.fetch_add(1) > 0) {
        std::signal(number, SIG_DFL);
        std::raise(number);
        return;
    }
    const int saved = errno;
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(wakeWrite, &byte, 1);
    errno = saved;
}

void Drain(int fd) {
    char bytes[16];
    while (::read(fd, bytes, sizeof bytes) > 0) {
    }
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
    for (const int number : kEndingSignals) sigaction(number, &action, nullptr);
}

}  // namespace platform
