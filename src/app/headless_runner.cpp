#include "app/headless_runner.h"

#include <signal.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <ctime>

namespace busprobe {

void HeadlessUserInterface::changed(UiTopic topic) {
  if (topic != UiTopic::kMessages || app_ == nullptr) return;
  app_->messages().forEachSince(printed_, [this](const std::string& line) { printLine(line); });
}

void HeadlessUserInterface::printLine(const std::string& line) {
  std::fputs(line.c_str(), out_);
  std::fputc('\n', out_);
  std::fflush(out_);
}

void HeadlessUserInterface::presentMessageBox(const std::string& title, const std::string& text) {
  printLine(title + ": " + text);
}

void HeadlessUserInterface::trafficLine(std::string_view line) {
  std::fwrite(line.data(), 1, line.size(), out_);
  std::fputc('\n', out_);
}

namespace {

constexpr double kHeadlessPlayerStepMs = 1.0;

// Waits waitMs unless a stop signal comes first; true on a signal.
bool WaitForSignal(const sigset_t& signals, double waitMs) {
  if (!(waitMs > 0)) waitMs = 0;
  if (waitMs > 1000) waitMs = 1000;
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
  HeadlessUserInterface ui(stdout);
  Application app(ui, clock, std::move(options));
  if (commandLine.showTraffic)
    app.traffic().setLineSink([&ui](bool /*transmitted*/, std::string_view line) { ui.trafficLine(line); });
  app.startUp();

  int status = kHeadlessOk;
  if (!commandLine.recordFile.empty() && !app.logger().OpenLogFile(commandLine.recordFile)) {
    app.shutDown(true);
    return kHeadlessFailed;
  }
  const bool playing = !commandLine.playFile.empty();
  bool playStarted = false;
  const bool scripting = !commandLine.runFile.empty();
  bool scriptStarted = false;

  const double startMs = clock.nowMs();
  const double exitAtMs =
      commandLine.exitAfterSeconds >= 0 ? startMs + commandLine.exitAfterSeconds * 1000.0 : INFINITY;
  for (;;) {
    const double nextDueMs = app.runLoop().runDue();
    ui.flush();
    if (playing && !playStarted && app.running()) {
      playStarted = true;
      if (!app.player().OpenPlayerFile(commandLine.playFile)) {
        app.messages().PrintMessage("%s: %s", kPlayerOpenFailedText, commandLine.playFile.c_str());
        status = kHeadlessFailed;
        break;
      }
      // A headless replay has no Stop button: it plays the file once.
      PlayerOptions o = app.player().options();
      o.loopMode = false;
      app.player().play(o);
      // Without windows to serve, the player can be stepped every millisecond: each frame then
      // leaves within about a millisecond of its due time instead of on a 5 ms grid.
      app.player().setStepMs(kHeadlessPlayerStepMs);
      continue;
    }
    if (scripting && !scriptStarted && app.running()) {
      scriptStarted = true;
      if (!app.scripts().loadCommandFile(commandLine.runFile)) {
        status = kHeadlessFailed;
        break;
      }
      app.scripts().run();
      continue;
    }
    if (scriptStarted && !app.program().running()) {
      status = app.program().stoppedByError() ? kHeadlessFailed : kHeadlessOk;
      app.tick();
      ui.flush();
      break;
    }
    if (playStarted && app.player().state() != PlayerState::kPlaying) {
      // The file has been played: one more tick takes in the last echoes, then the run ends.
      app.tick();
      ui.flush();
      break;
    }
    const double now = clock.nowMs();
    if (now >= exitAtMs) {
      if (scriptStarted && app.program().running()) {
        app.messages().PrintMessage("Script still running after %g s: stopped.",
                                    commandLine.exitAfterSeconds);
        app.program().stop();
        status = kHeadlessUnfinished;
      }
      break;
    }
    if (WaitForSignal(stopSignals, std::min(nextDueMs, exitAtMs) - now)) break;
  }
  app.shutDown(true);
  return status;
}

}  // namespace busprobe
