#include "app/run_loop.h"

#include <algorithm>

namespace busprobe {

bool RunLoop::install(RunJob slot, Job job) {
  const auto index = static_cast<size_t>(slot);
  if (index >= kJobs || jobs_[index].run || !job.run || !job.nextDueMs) return false;
  jobs_[index] = std::move(job);
  return true;
}

double RunLoop::runDue() {
  // A job that processes window events may come back here; the outer pass finishes the work.
  if (running_) return nextDueMs();
  running_ = true;
  for (const Job& job : jobs_) {
    if (!job.run) continue;
    const double now = clock_.nowMs();
    if (job.nextDueMs() <= now) job.run(now);
  }
  running_ = false;
  return nextDueMs();
}

double RunLoop::nextDueMs() const {
  double next = kNever;
  for (const Job& job : jobs_)
    if (job.nextDueMs) next = std::min(next, job.nextDueMs());
  return next;
}

}  // namespace busprobe
