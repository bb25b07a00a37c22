#include "app/script_session.h"

#include "interp/script_commands.h"

namespace busprobe {

void ScriptSession::tickSlice(double deadlineSec) {
  program_.setConfiguredTxDelayMs(settings_.txDelay);
  if (program_.running()) {
    wasRunning_ = true;
    program_.handleEvents();
    program_.runSlice(deadlineSec);
  }
  noticeEnd();
}

void ScriptSession::timerSlice() {
  if (program_.running()) program_.runTimerSlice();
}

void ScriptSession::frameSlice(double deadlineSec) {
  if (program_.running()) program_.runSlice(deadlineSec);
}

void ScriptSession::noticeEnd() {
  const bool running = program_.running();
  if (wasRunning_ && !running) notify_.changed(UiTopic::kScriptEnded);
  wasRunning_ = running;
}

void ScriptSession::printVariables() {
  for (const std::string& line : ListVariablesByName(state_)) messages_.printText(line);
}

void ScriptSession::printCallStack() {
  const std::vector<std::string> lines = program_.callStackListing();
  if (lines.empty()) messages_.printText("CallStack is empty.");
  for (const std::string& line : lines) messages_.printText(line);
}

bool ScriptSession::loadCommandFile(const std::string& path, bool quietIfMissing) {
  std::string reason;
  int lines = 0;
  const CommandFile::LoadResult result =
      path.empty() ? CommandFile::LoadResult::kMissing : file_.load(path, &reason, &lines);
  switch (result) {
    case CommandFile::LoadResult::kOk:
      messages_.PrintMessage("Loaded Busprobe command file from \"%s\" .", path.c_str());
      notify_.changed(UiTopic::kCommandFile);
      return true;
    case CommandFile::LoadResult::kMissing:
    case CommandFile::LoadResult::kUnreadable:
      if (!quietIfMissing) messages_.PrintMessage("Could not read command file \"%s\" .", path.c_str());
      return false;
    case CommandFile::LoadResult::kRefused:
      messages_.PrintMessage("Could not read command file \"%s\": %s .", path.c_str(), reason.c_str());
      return false;
    case CommandFile::LoadResult::kTooManyLines:
      messages_.PrintMessage("Command file \"%s\" has %d lines; at most %d lines can be run: not loaded.",
                             path.c_str(), lines, kMaxScriptLines);
      return false;
  }
  return false;
}

bool ScriptSession::saveCommandFile(const std::string& path, std::string* error) {
  std::string why;
  if (file_.save(path, &why)) return true;
  messages_.PrintMessage("%s", why.c_str());
  if (error) *error = why;
  return false;
}

void ScriptSession::showLine(int line) {
  lineToShow_ = line;
  notify_.changed(UiTopic::kScriptLine);
}

}  // namespace busprobe
