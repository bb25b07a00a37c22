#include "app/headless_runner.h"

#include <signal.h>

#include <cerrno>
#include <cmath>
#include <ctime>

namespace busprobe {

void HeadlessUserInterface::messageLine(const std::string& line) {
  std::fputs(line.c_str(), out_);
  std::fputc('\n', out_);
  std::fflush(out_);
}

int RunHeadless(const CommandLine& commandLine, AppOptions options) {
  // Signals are taken synchronously between ticks, so shutdown runs on this thread as usual. They
  // are blocked before any thread starts, so the CAN-via-UDP threads inherit the mask.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

  SteadyClock clock;
  HeadlessUserInterface ui;
  Application app(ui, clock, std::move(options));
  app.startUp();

  const double startMs = clock.nowMs();
  double nextTickMs = startMs;
  const double exitAtMs =
      commandLine.exitAfterSeconds >= 0 ? startMs + commandLine.exitAfterSeconds * 1000.0 : INFINITY;
  for (;;) {
    app.tick();
    double now = clock.nowMs();
    if (now >= exitAtMs) break;
    nextTickMs += Application::kTickMs;
    if (nextTickMs < now) nextTickMs = now;  // fell behind: do not try to catch up with a burst
    double waitMs = std::min(nextTickMs, exitAtMs) - now;
    timespec timeout;
    timeout.tv_sec = static_cast<time_t>(waitMs / 1000.0);
    timeout.tv_nsec = static_cast<long>(std::fmod(waitMs, 1000.0) * 1e6);
    int sig = sigtimedwait(&stopSignals, nullptr, &timeout);
    if (sig == SIGINT || sig == SIGTERM) break;
  }
  app.shutDown(true);
  return 0;
}

}  // namespace busprobe
