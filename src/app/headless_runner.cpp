#include "app/headless_runner.h"

#include <signal.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <string>

#include "traffic/record_play_guard.h"

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

// Waits waitMs unless a stop signal comes first; the signal, or 0 when none came.
int WaitForSignal(const sigset_t& signals, double waitMs) {
  if (!(waitMs > 0)) waitMs = 0;
  if (waitMs > 1000) waitMs = 1000;
  timespec timeout;
  timeout.tv_sec = static_cast<time_t>(waitMs / 1000.0);
  timeout.tv_nsec = static_cast<long>(std::fmod(waitMs, 1000.0) * 1e6);
  const int sig = sigtimedwait(&signals, nullptr, &timeout);
  return sig == SIGINT || sig == SIGTERM ? sig : 0;
}

// Why the run was cut short, as the end of "... still running <why>: stopped.".
std::string CutReason(int signal, double exitAfterSeconds) {
  if (signal == SIGINT) return "at SIGINT";
  if (signal == SIGTERM) return "at SIGTERM";
  char text[64];
  std::snprintf(text, sizeof text, "after %g s", exitAfterSeconds);
  return text;
}

}  // namespace

LssMasterOptions LssOptionsForRun(LssMasterOptions configured, const CommandLine& commandLine) {
  if (commandLine.lssOptions >= 0) configured.masterOptions = static_cast<uint32_t>(commandLine.lssOptions);
  if (commandLine.lssFirstNode >= 0) configured.wantedFirstNodeId = static_cast<int>(commandLine.lssFirstNode);
  if (commandLine.lssBaud >= 0) {
    configured.wantedBitRateKbit = static_cast<int>(commandLine.lssBaud);
    configured.masterOptions |= kLssSwitchBitRate;
  }
  return configured;
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
  HeadlessUserInterface ui(stdout);
  Application app(ui, clock, std::move(options));
  if (commandLine.showTraffic)
    app.traffic().setLineSink([&ui](bool /*transmitted*/, std::string_view line) { ui.trafficLine(line); });
  app.startUp();

  const bool recording = !commandLine.recordFile.empty();
  const bool playing = !commandLine.playFile.empty();
  const bool scripting = !commandLine.runFile.empty();
  const bool lssScanning = commandLine.lssScan;
  const bool nodeScanning = commandLine.scanNodes;
  if (recording && playing) {
    // The player opens its file only after start-up; asked then, the logger would already have
    // appended its first line to the file.
    const std::string refusal =
        CheckRecordingInto(commandLine.recordFile, FileIdentityOfPath(commandLine.playFile));
    if (!refusal.empty()) {
      app.messages().printText(refusal);
      app.shutDown(true);
      return kHeadlessFailed;
    }
  }
  if (recording && !app.logger().OpenLogFile(commandLine.recordFile)) {
    app.shutDown(true);
    return kHeadlessFailed;
  }

  bool failed = false;  // a file could not be used, or the script stopped with an error
  bool playStarted = false, playOpened = false, scriptStarted = false;
  bool playDone = !playing, scriptDone = !scripting;
  bool lssStarted = false, lssDone = !lssScanning;
  bool nodeScanStarted = false, nodeScanDone = !nodeScanning;
  bool cut = false;
  int stopSignal = 0;

  const double startMs = clock.nowMs();
  const double exitAtMs =
      commandLine.exitAfterSeconds >= 0 ? startMs + commandLine.exitAfterSeconds * 1000.0 : INFINITY;
  for (;;) {
    const double nextDueMs = app.runLoop().runDue();
    ui.flush();
    if (playing && !playStarted && app.running()) {
      playStarted = true;
      if (!app.player().OpenPlayerFile(commandLine.playFile)) {
        app.messages().PrintMessage("%s: %s", app.player().openFailureText().c_str(),
                                    commandLine.playFile.c_str());
        failed = true;
        break;
      }
      playOpened = true;
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
        failed = true;
        break;
      }
      app.scripts().run();
      continue;
    }
    if (lssScanning && !lssStarted && app.running()) {
      lssStarted = true;
      app.lss().start(LssOptionsForRun(app.lss().optionsFromSettings(), commandLine));
      continue;
    }
    if (lssStarted && !lssDone && !app.lss().master().running()) {
      lssDone = true;
      for (const std::string& line : app.lss().reportLines()) app.messages().printText(line);
      if (app.lss().master().step() == LssMasterState::kStopped) failed = true;
    }
    if (nodeScanning && !nodeScanStarted && app.running()) {
      nodeScanStarted = true;
      app.nodeScan().start();
      continue;
    }
    if (nodeScanStarted && !nodeScanDone && !app.nodeScan().active()) {
      nodeScanDone = true;
      for (const std::string& line : app.nodeScan().reportLines()) app.messages().printText(line);
    }
    if (scriptStarted && !scriptDone && !app.program().running()) {
      scriptDone = true;
      if (app.program().stoppedByError()) failed = true;
    }
    if (playOpened && !playDone && app.player().state() != PlayerState::kPlaying) playDone = true;
    if ((scripting || playing || lssScanning || nodeScanning) && scriptDone && playDone && lssDone &&
        nodeScanDone) {
      // All the work is done: one more tick takes in the last echoes, then the run ends.
      app.tick();
      ui.flush();
      break;
    }
    const double now = clock.nowMs();
    if (now >= exitAtMs) {
      cut = true;
      break;
    }
    stopSignal = WaitForSignal(stopSignals, std::min(nextDueMs, exitAtMs) - now);
    if (stopSignal != 0) {
      cut = true;
      break;
    }
  }

  // Work cut short is said so, and the run does not pass for complete.
  bool unfinished = false;
  if (cut) {
    const std::string why = CutReason(stopSignal, commandLine.exitAfterSeconds);
    if (!scriptDone) {
      app.messages().PrintMessage("Script still running %s: stopped.", why.c_str());
      if (app.program().running()) app.program().stop();
      unfinished = true;
    }
    if (!lssDone) {
      app.messages().PrintMessage("LSS scan still running %s: stopped.", why.c_str());
      app.lss().stop();
      unfinished = true;
    }
    if (!nodeScanDone) {
      app.messages().PrintMessage("Node scan still running %s: stopped.", why.c_str());
      app.nodeScan().stop();
      unfinished = true;
    }
    if (!playDone) {
      app.messages().PrintMessage("Replay of %s still running %s: stopped.", commandLine.playFile.c_str(),
                                  why.c_str());
      unfinished = true;
    }
  }
  if (playOpened) {
    app.messages().printText(app.player().summaryText());
    // A file of which not one frame could be played is no log for this run.
    if (playDone && app.player().statistics().framesSent == 0) failed = true;
  }
  ui.flush();
  app.shutDown(true);
  // The log is closed now, so a failure of its last line counts too.
  if (recording && app.logger().writeFailed()) failed = true;
  if (failed) return kHeadlessFailed;
  return unfinished ? kHeadlessUnfinished : kHeadlessOk;
}

}  // namespace busprobe
