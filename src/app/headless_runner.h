// Runs the application without windows: the same start-up, tick and shutdown; every messages-window
// line is printed on standard output as it is written. SIGINT and SIGTERM run the normal shutdown.
#pragma once

#include <cstdio>

#include "app/application.h"
#include "app/command_line.h"

namespace busprobe {

class HeadlessUserInterface : public UserInterface {
 public:
  explicit HeadlessUserInterface(std::FILE* out = stdout) : out_(out) {}
  void messageLine(const std::string& line) override;

 private:
  std::FILE* out_;
};

// Blocks SIGINT/SIGTERM for the calling thread and runs until a signal, --exit-after, or forever.
// Returns the process exit status.
int RunHeadless(const CommandLine& commandLine, AppOptions options);

}  // namespace busprobe
