#include "base/clock.h"

#include <chrono>
#include <thread>

namespace busprobe {

namespace {
int64_t SteadyNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}
// The process's first clock read: every SteadyClock counts from here, so two of them agree.
int64_t ProcessOriginNs() {
  static const int64_t origin = SteadyNs();
  return origin;
}
}  // namespace

SteadyClock::SteadyClock() : originNs_(ProcessOriginNs()) {}

double SteadyClock::nowMs() const {
  return static_cast<double>(SteadyNs() - originNs_) / 1e6;
}

void SteadyClock::sleepMs(double ms) {
  if (ms > 0) std::this_thread::sleep_for(std::chrono::microseconds(static_cast<int64_t>(ms * 1000.0)));
}

void Clock::waitUntilMs(double targetMs) {
  const double remaining = targetMs - nowMs();
  if (remaining > 0) sleepMs(remaining);
}

void SteadyClock::waitUntilMs(double targetMs) {
  for (;;) {
    const double remaining = targetMs - nowMs();
    if (remaining <= 0) return;
    if (remaining >= 10.0) {
      sleepMs(remaining - 2.0);
    } else if (remaining > 1.0) {
      std::this_thread::yield();
    }
  }
}

void ManualClock::advance(double ms) {
  double cur = nowMs_.load(std::memory_order_acquire);
  while (!nowMs_.compare_exchange_weak(cur, cur + ms, std::memory_order_acq_rel)) {
  }
}

}  // namespace busprobe
