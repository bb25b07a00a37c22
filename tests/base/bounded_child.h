// Running a piece of code that might block for ever (reading a FIFO, a device) in a child
// process with a time limit, so that a missing guard fails the test instead of hanging the suite.
#pragma once

#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <optional>

namespace busprobe::test {

// The child's exit status (0..255), or nothing when it did not end within `seconds` (it is
// killed then).
inline std::optional<int> RunInChildWithin(double seconds, const std::function<int()>& body) {
  const pid_t pid = ::fork();
  if (pid < 0) return -1;
  if (pid == 0) {
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
    // A body that reads an endless device into memory must not take the machine down with it
    // before the time is up (the sanitizers reserve far more address space, so not under them).
    const rlimit cap{rlim_t{2} << 30, rlim_t{2} << 30};
    ::setrlimit(RLIMIT_AS, &cap);
#endif
    ::_exit(body() & 0xFF);
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  for (;;) {
    int status = 0;
    if (::waitpid(pid, &status, WNOHANG) == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    if (std::chrono::steady_clock::now() > deadline) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, &status, 0);
      return std::nullopt;
    }
    ::usleep(2000);
  }
}

// True when `body` returns within the limit; a body that blocks is killed.
inline bool ReturnsWithin(double seconds, const std::function<void()>& body) {
  return RunInChildWithin(seconds, [&] {
           body();
           return 0;
         }) == std::optional<int>(0);
}

}  // namespace busprobe::test
