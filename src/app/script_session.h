// The script interpreter as the rest of the program uses it: running the command file's script
// (Run menu, headless --run), its slices from the tick and the run loop, the listings of the
// Messages menu, the variables file, and the one home of loading and saving the command file
// (start-up, command-line arguments, the File menu and the headless runner all come here).
#pragma once

#include <string>

#include "app/command_file.h"
#include "app/messages.h"
#include "app/settings.h"
#include "app/user_interface.h"
#include "interp/script_program.h"
#include "interp/script_value.h"

namespace busprobe {

class ScriptSession {
 public:
  ScriptSession(ScriptProgram& program, InterpState& state, CommandFile& file, MessageLog& messages,
                ChangeNotifications& notify, const InterpreterSettings& settings, std::string variablesPath)
      : program_(program),
        state_(state),
        file_(file),
        messages_(messages),
        notify_(notify),
        settings_(settings),
        variablesPath_(std::move(variablesPath)) {}

  // Runs the script in the command file from its top.
  void run() { program_.run(); }
  // The tick's slice: events, then the interpreter until the deadline (seconds on the CAN clock);
  // a run that ended is told to the windows.
  void tickSlice(double deadlineSec);
  // A 1 ms slice between ticks, so a paced frame due in the gap leaves on time.
  void timerSlice();
  // The slice after a received frame ended a wcan wait.
  void frameSlice(double deadlineSec);

  // "Show Variables ..." and "Show Call Stack ..." print into the messages window.
  void printVariables();
  void printCallStack();

  // <configDir>/current_vars.txt.
  const std::string& variablesPath() const { return variablesPath_; }

  // Loads a command file into the editor: "Loaded Busprobe command file from ..." and the editor
  // shows it; a file that cannot be read is reported ("Could not read command file ...") unless
  // `quietIfMissing`, and the document stays as it was. A FIFO, a device, an oversized file or a
  // script longer than the program's line limit is always reported and never loaded.
  bool loadCommandFile(const std::string& path, bool quietIfMissing = false);
  // Saves the editor's text; false with the reason printed and in `error`.
  bool saveCommandFile(const std::string& path, std::string* error = nullptr);

  // The 0-based line the editor should scroll to, and telling it so.
  int lineToShow() const { return lineToShow_; }
  void showLine(int line);

 private:
  void noticeEnd();

  ScriptProgram& program_;
  InterpState& state_;
  CommandFile& file_;
  MessageLog& messages_;
  ChangeNotifications& notify_;
  const InterpreterSettings& settings_;
  std::string variablesPath_;
  bool wasRunning_ = false;
  int lineToShow_ = 0;
};

}  // namespace busprobe
