#include "app/headless_runner.h"

#include <signal.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <ctime>

namespace busprobe {

void HeadlessUserInterface::messageLine(const std::string& line) {
  std::fputs(line.c_str(), out_);
  std::fputc('\n', out_);
  std::fflush(out_);
}

void HeadlessUserInterface::showMessageBox(const std::string& title, const std::string& text) {
  messageLine(title + ": " + text);
}

void HeadlessUserInterface::trafficLine(bool /*transmitted*/, std::string_view line) {
  std::fwrite(line.data(), 1, line.size(), out_);
  std::fputc('\n', out_);
}

namespace {

constexpr double kHeadlessPlayerStepMs = 1.0;
constexpr double kHeadlessScriptTimerMs = 1.0;

// Waits waitMs unless a stop signal comes first; true on a signal.
bool WaitForSignal(const sigset_t& signals, double waitMs) {
  if (waitMs < 0) waitMs = 0;
  timespec timeout;
  timeout.tv_sec = static_cast<time_t>(waitMs / 1000.0);
  timeout.tv_nsec = static_cast<long>(std::fmod(waitMs, 1000.0) * 1e6);
  const int sig = sigtimedwait(&signals, nullptr, &timeout);
  return sig == SIGINT || sig == SIGTERM;
}

}  // namespace

int RunHeadless(const CommandLine& commandLine, AppOptions options) {
  // Signals are taken synchronously between ticks, so shutdown runs on this thread as usual. They
  // are blocked before any thread starts, so the CAN-via-UDP threads inherit the mask.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

  SteadyClock clock;
  HeadlessUserInterface ui(stdout, commandLine.showTraffic);
  Application app(ui, clock, std::move(options));
  app.startUp();

  int status = 0;
  if (!commandLine.recordFile.empty() && !app.logger().OpenLogFile(commandLine.recordFile)) {
    app.shutDown(true);
    return 1;
  }
  const bool playing = !commandLine.playFile.empty();
  bool playStarted = false;
  const bool scripting = !commandLine.runFile.empty();
  bool scriptStarted = false;

  const double startMs = clock.nowMs();
  double nextTickMs = startMs;
  double nextStepMs = startMs;
  const double exitAtMs =
      commandLine.exitAfterSeconds >= 0 ? startMs + commandLine.exitAfterSeconds * 1000.0 : INFINITY;
  for (;;) {
    double now = clock.nowMs();
    if (now >= nextTickMs) {
      app.tick();
      ui.flush();
      nextTickMs += Application::kTickMs;
      if (nextTickMs < now) nextTickMs = now;  // fell behind: do not try to catch up with a burst
    }
    if (playing && !playStarted && app.running()) {
      playStarted = true;
      if (!app.player().OpenPlayerFile(commandLine.playFile)) {
        app.messages().PrintMessage("%s: %s", kPlayerOpenFailedText, commandLine.playFile.c_str());
        status = 1;
        break;
      }
      // A headless replay has no Stop button: it plays the file once.
      PlayerOptions o = app.player().options();
      o.loopMode = false;
      app.player().play(o);
      // Without windows to serve, the player can be stepped every millisecond: each frame then
      // leaves within about a millisecond of its due time instead of on a 5 ms grid.
      app.player().setStepMs(kHeadlessPlayerStepMs);
      nextStepMs = clock.nowMs();
    }
    if (scripting && !scriptStarted && app.running()) {
      scriptStarted = true;
      if (!app.commandFile().load(commandLine.runFile)) {
        app.messages().PrintMessage("Could not read command file \"%s\" .", commandLine.runFile.c_str());
        status = 1;
        break;
      }
      app.RunScript();
    }
    if (scriptStarted && !app.program().running()) {
      status = app.program().stoppedByError() ? 1 : 0;
      app.tick();
      ui.flush();
      break;
    }
    if (scriptStarted) {
      app.ScriptTimerTick();
      ui.flush();
    }
    const bool stepping = playStarted && app.player().state() == PlayerState::kPlaying;
    if (playStarted && !stepping) {
      // The file has been played: one more tick takes in the last echoes, then the run ends.
      app.tick();
      ui.flush();
      break;
    }
    now = clock.nowMs();
    if (stepping && now >= nextStepMs) {
      app.PlayerTick();
      ui.flush();
      nextStepMs += kHeadlessPlayerStepMs;
      if (nextStepMs < now) nextStepMs = now;
    }
    now = clock.nowMs();
    if (now >= exitAtMs) break;
    double wakeMs = std::min(nextTickMs, exitAtMs);
    if (stepping) wakeMs = std::min(wakeMs, nextStepMs);
    if (scriptStarted) wakeMs = std::min(wakeMs, now + kHeadlessScriptTimerMs);
    if (WaitForSignal(stopSignals, wakeMs - now)) break;
  }
  app.shutDown(true);
  return status;
}

}  // namespace busprobe
