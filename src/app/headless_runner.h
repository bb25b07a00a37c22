// Runs the application without windows: the same start-up, tick and shutdown; every messages-window
// line is printed on standard output as it is written, and with --show-traffic every Rx and Tx
// line too. --record opens the logger at start-up; --play plays a log file once after start-up,
// stepping the player every millisecond between ticks, and ends the run when the file has been
// played. --run loads a script and runs it after start-up; the run ends with the script.
// SIGINT and SIGTERM run the normal shutdown.
#pragma once

#include <cstdio>

#include "app/application.h"
#include "app/command_line.h"

namespace busprobe {

class HeadlessUserInterface : public UserInterface {
 public:
  explicit HeadlessUserInterface(std::FILE* out = stdout, bool showTraffic = false)
      : out_(out), showTraffic_(showTraffic) {}
  void messageLine(const std::string& line) override;
  // A box has nobody to click it away: its title and text are printed instead.
  void showMessageBox(const std::string& title, const std::string& text) override;
  bool wantsTrafficLines() const override { return showTraffic_; }
  // Buffered; flush() (after every tick) or the next messages line writes them out.
  void trafficLine(bool transmitted, std::string_view line) override;
  void flush() { std::fflush(out_); }

 private:
  std::FILE* out_;
  bool showTraffic_;
};

// Blocks SIGINT/SIGTERM for the calling thread and runs until a signal, --exit-after, the end of
// the --play file, the end of the --run script, or forever. Returns the process exit status: 1 when
// the --record, --play or --run file cannot be opened or the script stopped with an error.
int RunHeadless(const CommandLine& commandLine, AppOptions options);

}  // namespace busprobe
