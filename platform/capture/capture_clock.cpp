// SPDX-License-Identifier: GPL-2.0-or-later
// The system clock of a capture: real time, or the scripted user's virtual time.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <thread>

#include "platform/capture/capture_sequence.h"
#include "platform/capture/capture_source.h"

namespace platform {
namespace {

// Real time sleeps between events while the toolkit keeps running; virtual time jumps from one
// event to the next, still letting the toolkit handle what is pending at each step.
class SequenceClock : public CaptureClock {
  public:
    explicit SequenceClock(bool isVirtual) : virtual_(isVirtual) {
        wake_.setSingleShot(true);
        wake_.setTimerType(Qt::PreciseTimer);
    }
    void Start() override {
        real_.start();
        startMonotonic_ = MonotonicNowUs();
    }
    bool isVirtual() const override { return virtual_; }
    std::int64_t Now() const override { return virtual_ ? now_ : real_.nsecsElapsed() / 1000; }

    void WaitUntil(std::int64_t time, const SequenceControl& control) override {
        QCoreApplication::processEvents();
        if (virtual_) {
            if (!control.ended()) now_ = std::max(now_, time);
            return;
        }
        while (!control.ended()) {
            const std::int64_t remaining = time - Now();
            if (remaining <= 0) return;
            Sleep(remaining);
            QCoreApplication::processEvents();
        }
    }

    std::int64_t MonotonicAt(std::int64_t time) const override { return startMonotonic_ + time; }

  private:
    void Sleep(std::int64_t remaining) {
        if (remaining >= 2000) {
            wake_.start(static_cast<int>(std::min<std::int64_t>(remaining / 1000 - 1, 1000)));
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
            wake_.stop();
        } else {
            std::this_thread::sleep_for(
                std::chrono::microseconds(std::min<std::int64_t>(remaining, 500)));
        }
    }

    bool virtual_;
    std::int64_t now_ = 0;
    QElapsedTimer real_;
    std::int64_t startMonotonic_ = 0;
    QTimer wake_;
};

}  // namespace

// steady_clock is CLOCK_MONOTONIC on Linux, the clock of V4L2's buffer stamps.
std::int64_t MonotonicNowUs() {
    using namespace std::chrono;
    return duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
}

std::unique_ptr<CaptureClock> SystemClock(bool isVirtual) {
    return std::make_unique<SequenceClock>(isVirtual);
}

}  // namespace platform
