// The one run loop of the program: the GUI's timer and the headless runner both call runDue()
// and wait until the time it returns. Jobs run in their order when due: the 50 ms tick, then the
// jobs that need finer steps between ticks (the receive pump of a CAN-via-UDP link, the log
// player's steps, the script's 1 ms slices).
// Each job reports when it next needs to run, so the loop sleeps exactly as long as it may.
#pragma once

#include <array>
#include <functional>
#include <limits>

#include "base/clock.h"

namespace busprobe {

enum class RunJob : int {
  kTick,         // the application's tick
  kLinkPump,     // the receive pump every millisecond while a CAN-via-UDP link is up
  kPlayer,       // the log player's step while it plays
  kScriptTimer,  // a 1 ms slice for a running script between two ticks
  kCount
};

class RunLoop {
 public:
  static constexpr double kNever = std::numeric_limits<double>::infinity();

  struct Job {
    // When the job next wants to run (ms on the loop's clock); kNever: not now.
    std::function<double()> nextDueMs;
    std::function<void(double nowMs)> run;
  };

  explicit RunLoop(Clock& clock) : clock_(clock) {}

  // Takes the job's place; false when it is taken already or the job is incomplete.
  bool install(RunJob slot, Job job);
  // Runs every job that is due now, in order; returns the earliest time one is due next.
  double runDue();
  // The earliest time a job is due (kNever when none).
  double nextDueMs() const;

 private:
  static constexpr size_t kJobs = static_cast<size_t>(RunJob::kCount);
  Clock& clock_;
  std::array<Job, kJobs> jobs_;
  bool running_ = false;
};

}  // namespace busprobe
