// Runs the application without windows: the same start-up, run loop and shutdown; every
// messages-window line is printed on standard output as it is written, and with --show-traffic
// every Rx and Tx line too. --record opens the logger at start-up (never into the --play file);
// --play plays a log file once after start-up, stepping the player every millisecond between
// ticks, and prints a summary line at the end. --run loads a script and runs it after start-up.
// --lss-scan and --scan-nodes run the LSS master or the node scanner once and print what it found.
// The run ends when the script and the replay given have both ended, at --exit-after, or at
// SIGINT or SIGTERM, and runs the normal shutdown; work still running then is named as stopped.
#pragma once

#include <cstdio>
#include <string_view>

#include "app/application.h"
#include "app/command_line.h"

namespace busprobe {

class HeadlessUserInterface : public UserInterface {
 public:
  explicit HeadlessUserInterface(std::FILE* out = stdout) : out_(out) {}
  void attachCore(const Application& app) override { app_ = &app; }
  void changed(UiTopic topic) override;
  // Buffered; flush() (after every tick) or the next messages line writes them out.
  void trafficLine(std::string_view line);
  void flush() { std::fflush(out_); }

 protected:
  // A box has nobody to click it away: its title and text are printed instead.
  void presentMessageBox(const std::string& title, const std::string& text) override;

 private:
  void printLine(const std::string& line);

  std::FILE* out_;
  const Application* app_ = nullptr;
  uint64_t printed_ = 0;  // messages lines printed so far
};

// The exit status of a run: 0 all done; 1 a file could not be used (not opened, a recording that
// failed to write, a replay without one frame sent) or the script stopped with an error; else 2
// when a script or replay was still running as the run was cut short (--exit-after, a signal).
enum HeadlessStatus : int { kHeadlessOk = 0, kHeadlessFailed = 1, kHeadlessUnfinished = 2 };

// Blocks SIGINT/SIGTERM for the calling thread and runs until a signal, --exit-after, the end of
// the --play file and of the --run script, or forever. Returns the process exit status.
int RunHeadless(const CommandLine& commandLine, AppOptions options);

// The configured LSS options with the command line's overrides for one --lss-scan run.
LssMasterOptions LssOptionsForRun(LssMasterOptions configured, const CommandLine& commandLine);

}  // namespace busprobe
