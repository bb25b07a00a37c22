// The one injectable time source. Everything that needs "now" (the UCAN clock, CAN-via-UDP ticks,
// the tick's deadlines, pacing) reads it through this interface; tests install a ManualClock.
#pragma once

#include <atomic>
#include <cstdint>

namespace busprobe {

class Clock {
 public:
  virtual ~Clock() = default;
  // Milliseconds since an arbitrary fixed origin (the first read of the process for SteadyClock).
  // Monotonic; safe to call from any thread.
  virtual double nowMs() const = 0;
  // Blocks the caller for about that long (a ManualClock just advances).
  virtual void sleepMs(double ms) = 0;
  // Returns when nowMs() has reached targetMs, as closely as the clock allows (paced sends).
  virtual void waitUntilMs(double targetMs);
};

class SteadyClock final : public Clock {
 public:
  SteadyClock();
  double nowMs() const override;
  void sleepMs(double ms) override;
  // Sleeps while 10 ms or more remain, then spins on the counter: sleeping alone would be late by
  // the scheduler's wake-up delay.
  void waitUntilMs(double targetMs) override;

 private:
  int64_t originNs_;
};

// Time stands still until a test moves it. Thread-safe.
class ManualClock final : public Clock {
 public:
  explicit ManualClock(double startMs = 0.0) : nowMs_(startMs) {}
  double nowMs() const override {
    const double step = autoAdvanceMs_.load(std::memory_order_relaxed);
    if (step > 0) const_cast<ManualClock*>(this)->advance(step);
    return nowMs_.load(std::memory_order_acquire);
  }
  // Every read moves time on by this much: code that loops until a deadline (the script's time
  // slices) then makes progress as it would on a real clock. 0 (the default) keeps time still.
  void setAutoAdvance(double msPerRead) { autoAdvanceMs_.store(msPerRead, std::memory_order_relaxed); }
  void sleepMs(double ms) override { advance(ms); }
  void set(double ms) { nowMs_.store(ms, std::memory_order_release); }
  void advance(double ms);

 private:
  std::atomic<double> nowMs_;
  std::atomic<double> autoAdvanceMs_{0.0};
};

}  // namespace busprobe
