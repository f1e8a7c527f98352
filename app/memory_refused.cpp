// SPDX-License-Identifier: GPL-2.0-or-later
#include "app/memory_refused.h"

#include <QSemaphore>
#include <QThreadPool>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <memory>
#include <new>

#include "platform/messages.h"

namespace {

// Scaling a picture's band of rows needs a few kilobytes; the system's default reserves 8 MiB.
constexpr uint kImageThreadStack = 512 * 1024;
// Made threads start at once; only a thread that was never made keeps its part waiting.
constexpr int kThreadStartMs = 10000;

[[noreturn]] void EndUncaught() {
    try {
        if (std::exception_ptr uncaught = std::current_exception()) {
            std::rethrow_exception(uncaught);
        }
    } catch (const std::bad_alloc&) {
        std::fputs("vistrel: mémoire insuffisante, le programme s'arrête\n", stderr);
        std::_Exit(EXIT_FAILURE);
    } catch (...) {
    }
    std::abort();
}

}  // namespace

bool StartImageThreads() {
    QThreadPool* pool = QThreadPool::globalInstance();
    pool->setStackSize(kImageThreadStack);
    pool->setExpiryTimeout(-1);
    const int count = pool->maxThreadCount();
    auto started = std::make_shared<QSemaphore>();
    auto held = std::make_shared<QSemaphore>();
    // Each part holds its thread until all have started, so that every thread is made now.
    for (int n = 0; n < count; ++n) {
        pool->start([started, held] {
            started->release();
            held->acquire();
        });
    }
    const bool made = started->tryAcquire(count, kThreadStartMs);
    held->release(count);
    if (made) return true;
    platform::ShowMessage("Mémoire insuffisante : Vistrel ne peut pas démarrer ...");
    return false;
}

void EndOnRefusedMemory() {
    std::set_terminate(EndUncaught);
}
