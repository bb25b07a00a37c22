#include "interp/script_program.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "interp/script_commands.h"
#include "interp/script_lex.h"

namespace busprobe {

using namespace lex;

namespace {

constexpr double kMinTransmitInterval = 0.0001;
constexpr double kSpinThresholdSec = 0.002;
constexpr double kSliceSleepThresholdSec = 0.02;
constexpr double kSleepMarginSec = 0.003;
constexpr double kTimerSliceSec = 0.001;
constexpr double kTimerSlotWindowSec = 0.004;

// Next slot on the interval grid after `now`.
double gridAfter(double now, double interval) {
  return now - std::fmod(now, interval) + interval;
}

// First word of a line (letters only), for the searches of block partners.
std::string_view firstWord(std::string_view line) {
  std::size_t i = 0;
  while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
  std::size_t n = 0;
  while (i + n < line.size() && isLetter(line[i + n])) ++n;
  return line.substr(i, n);
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Line markers

void LineMarkers::setRedraw(int line) {
  marks_[line] |= kRedraw;
  refresh_ = true;
}

void LineMarkers::setBreakpoint(int line, bool on) {
  if (!valid(line)) return;
  if (on) {
    marks_[line] |= kBreakpoint;
  } else {
    marks_[line] &= static_cast<uint8_t>(~kBreakpoint);
  }
  setRedraw(line);
}

void LineMarkers::markBeenHere(int line) {
  if (!valid(line) || (marks_[line] & kBeenHere) != 0) return;
  marks_[line] |= kBeenHere;
  setRedraw(line);
}

void LineMarkers::forgetHistory() {
  for (auto& m : marks_) {
    if ((m & kBeenHere) != 0) m = static_cast<uint8_t>((m & ~kBeenHere) | kRedraw);
  }
  refresh_ = true;
}

void LineMarkers::killBreakpoints() {
  for (auto& m : marks_) {
    if ((m & kBreakpoint) != 0) m = static_cast<uint8_t>((m & ~kBreakpoint) | kRedraw);
  }
  refresh_ = true;
}

std::vector<int> LineMarkers::takeRedrawLines() {
  std::vector<int> lines;
  if (!refresh_) return lines;
  for (int i = 0; i < kMaxScriptLines; ++i) {
    if ((marks_[i] & kRedraw) != 0) {
      marks_[i] &= static_cast<uint8_t>(~kRedraw);
      lines.push_back(i);
    }
  }
  refresh_ = false;
  return lines;
}

int LineMarkers::breakpointCount() const {
  return static_cast<int>(
      std::count_if(std::begin(marks_), std::end(marks_), [](uint8_t m) { return (m & kBreakpoint) != 0; }));
}

bool FrameWaitPattern::matches(const CanFrame& frame) const {
  if (id >= 0 && CanFrame::matchingId(static_cast<uint32_t>(id)) != frame.matchingId()) return false;
  if (length >= 0 && length != frame.length) return false;
  for (int i = 0; i < 8; ++i) {
    if (data[i] >= 0 && (i >= frame.length || frame.data[i] != data[i])) return false;
  }
  return true;
}

// ---------------------------------------------------------------------------------------------
// Program

ScriptProgram::ScriptProgram(InterpState& state, ScriptHost& host)
    : state_(state), host_(host), eval_(state, host) {}

double ScriptProgram::nowSec() const {
  return host_.nowMs() * 0.001;
}

bool ScriptProgram::readProgramLine(int index, std::string_view& out) {
  if (index < 0 || index >= kMaxScriptLines) return false;
  std::string_view line;
  if (!host_.readLine(index, line)) return false;
  // The host's view may be reused by the next read (label search inside a statement), so the
  // executing line keeps its own copy.
  const std::size_t n = std::min(line.size(), kMaxScriptLineChars);
  std::memcpy(lineBuffer_, line.data(), n);
  lineBuffer_[n] = '\0';
  out = std::string_view(lineBuffer_, n);
  return true;
}

void ScriptProgram::resetForRun() {
  branchDepth_ = 0;
  delayUntilSec_ = 0;
  inErrorHandler_ = false;
  eventLevel_ = -1;
  state_.handledErrorClass = 0;
  abort_ = false;
  skipBreakpointAt_ = -1;
}

void ScriptProgram::run() {
  pc_ = 0;
  resetForRun();
  // A run from the top cannot be inside a loop or subroutine: what an earlier run left on these
  // stacks would only make the new run fail with a nesting error.
  loopDepth_ = 0;
  callDepth_ = 0;
  markers_.forgetHistory();
  transmitPending_ = false;
  waiting_ = false;
  lineInterval_ = configuredIntervalSec_;
  referenceTimeSec_ = nowSec();
  // The schedule starts with the run: its first frame leaves at once and the next one a full
  // interval later, not at whatever point of the clock's interval grid comes first.
  nextTransmitSec_ = referenceTimeSec_;
  running_ = true;
  breakpointPassed_ = false;
  stoppedByError_ = false;
}

void ScriptProgram::runFromCursor(int caretLine) {
  pc_ = std::max(caretLine, 0);
  resetForRun();
  running_ = true;
  breakpointPassed_ = false;
  stoppedByError_ = false;
}

bool ScriptProgram::runFromLabel(std::string_view caption) {
  char label[kMaxLabelLength + 1];
  std::size_t n = 0;
  for (char ch : caption) {
    if (ch == '&') continue;
    if (ch == ' ' || ch == '\t' || n == kMaxLabelLength) break;
    label[n++] = ch;
  }
  const int line = findLabel(0, std::string_view(label, n));
  if (line < 0) {
    char text[96];
    label[n] = '\0';
    std::snprintf(text, sizeof text, translateFormat("Label \"%s\" not found"), label);
    host_.message(text);
    return false;
  }
  pc_ = line;
  loopDepth_ = 0;
  waiting_ = false;
  transmitPending_ = false;
  resetForRun();
  lineInterval_ = configuredIntervalSec_;
  running_ = true;
  breakpointPassed_ = false;
  stoppedByError_ = false;
  return true;
}

void ScriptProgram::continueRun(int caretLine) {
  if (caretLine > 0) pc_ = caretLine;
  delayUntilSec_ = 0;
  abort_ = false;
  // Continuing from the breakpoint that stopped the run executes that line instead of stopping
  // on it again at once.
  skipBreakpointAt_ = breakpointPassed_ ? pc_ : -1;
  running_ = true;
  breakpointPassed_ = false;
  stoppedByError_ = false;
}

void ScriptProgram::singleStep() {
  running_ = true;
  breakpointPassed_ = true;
  step();
  running_ = false;
  host_.showProgramLine(pc_);
}

void ScriptProgram::singleStepFromCursor(int caretLine) {
  pc_ = std::max(caretLine, 0);
  singleStep();
}

void ScriptProgram::stop() {
  running_ = false;
  abort_ = true;
  host_.showProgramLine(pc_);
}

std::vector<std::string> ScriptProgram::labels() {
  std::vector<std::string> out;
  const int count = std::min(host_.lineCount(), kMaxScriptLines);
  for (int i = 0; i < count && static_cast<int>(out.size()) < kMaxMenuLabels; ++i) {
    std::string_view line;
    if (!host_.readLine(i, line)) break;
    std::size_t n = 0;
    while (n < line.size() && n < kMaxLabelLength && isIdentChar(line[n])) ++n;
    if (n > 0 && isLetter(line[0]) && n < line.size() && line[n] == ':' &&
        (n + 1 >= line.size() || line[n + 1] != '=')) {
      out.emplace_back(line.substr(0, n));
    }
  }
  return out;
}

std::vector<std::string> ScriptProgram::callStackListing() const {
  std::vector<std::string> out;
  for (int d = 0; d < callDepth_; ++d) {
    char text[80];
    std::snprintf(text, sizeof text, "CallStack[%d] = %d%s", d, callStack_[d] + 1,
                  d == eventLevel_ ? " <- INTERRUPTED by event" : "");
    out.emplace_back(text);
  }
  return out;
}

void ScriptProgram::setCommandMessage(std::string_view text) {
  if (commandMessage_.empty()) commandMessage_.assign(text.substr(0, 255));
}

void ScriptProgram::fail(ScriptCursor& c, int code, std::string_view text) {
  setCommandMessage(text);
  c.fail(code);
}

std::string_view ScriptProgram::translate(std::string_view english) const {
  const Translator* translator = host_.translator();
  return translator != nullptr ? translator->translate(english) : english;
}

const char* ScriptProgram::translateFormat(const char* english) const {
  const Translator* translator = host_.translator();
  return translator != nullptr ? translator->translate(english) : english;
}

std::string_view ScriptProgram::errorText(int code, char (&buffer)[48]) const {
  const std::string_view english = scriptErrorText(code, buffer);
  if (english.data() != buffer) return translate(english);
  const int n = std::snprintf(buffer, sizeof buffer, translateFormat("unknown Error Code (%d)"), code);
  return std::string_view(buffer, n > 0 ? std::min(static_cast<std::size_t>(n), sizeof buffer - 1) : 0);
}

void ScriptProgram::stopWithMessage(int code, std::string_view text) {
  // Constant texts are translated here; commands translate the formats of the texts they fill in.
  std::string message(
      translate((text.size() >= 2 && text.size() <= 80) ? text : "Program stopped, unknown error."));
  if (running_ && message.size() < 216) {
    char suffix[64];
    std::snprintf(suffix, sizeof suffix, translateFormat(" in line %d"), currentLine_ + 1);
    message += suffix;
  }
  if (code != 0) stoppedByError_ = true;
  running_ = false;
  continue_ = false;
  lastErrorText_ = message;
  host_.message(message);
}

void ScriptProgram::stopForError(int code) {
  char buffer[48];
  stopWithMessage(code, commandMessage_.empty() ? std::string(errorText(code, buffer)) : commandMessage_);
}

// ---------------------------------------------------------------------------------------------
// Running

void ScriptProgram::runSlice(double deadlineSec) {
  if (sliceDepth_ > 0) return;
  ++sliceDepth_;
  do {
    const double wait = step();
    if (breakpointPassed_) running_ = false;
    // Only the receive pump, which runs between slices, can end a frame wait: spinning through the
    // rest of the slice would only hold up the user interface.
    if (waiting_) break;
    if (nowSec() + wait >= deadlineSec) break;
    if (wait > kSliceSleepThresholdSec) {
      host_.sleepMs(wait * 1000.0);
    } else if (delayUntilSec_ != 0 || transmitPending_) {
      // Waiting for the end of a delay or a paced frame's slot: sleep most of the way instead of
      // spinning through the slice; the margin absorbs a late wake-up, and a frame's last 2 ms
      // are waited for precisely.
      const double now = nowSec();
      const double target = delayUntilSec_ != 0 ? delayUntilSec_ : nextTransmitSec_;
      const double nap = std::min(target - now - kSleepMarginSec, deadlineSec - now);
      if (nap > 0.001) host_.sleepMs(nap * 1000.0);
    }
  } while (nowSec() < deadlineSec && running_ && !abort_);
  --sliceDepth_;
}

void ScriptProgram::runTimerSlice() {
  const double now = nowSec();
  double deadline = now + kTimerSliceSec;
  if (transmitPending_ && nextTransmitSec_ - now < kTimerSlotWindowSec) {
    deadline = std::max(deadline, nextTransmitSec_ + kTimerSliceSec * 0.5);
  }
  runSlice(deadline);
}

double ScriptProgram::step() {
  double now = nowSec();
  if (delayUntilSec_ != 0) {
    if (now < delayUntilSec_) return delayUntilSec_ - now;
    delayUntilSec_ = 0;
  }
  if (waiting_) return 0.001;
  if (transmitPending_) {
    if (nextTransmitSec_ - now > kSpinThresholdSec) return nextTransmitSec_ - now;
    sendPendingFrame();
  }
  if (pc_ < 0) return 0.1;
  if (markers_.breakpoint(pc_) && !breakpointPassed_ && pc_ != skipBreakpointAt_) {
    breakpointPassed_ = true;
    host_.showProgramLine(pc_);
    return 0.01;
  }
  skipBreakpointAt_ = -1;
  std::string_view line;
  if (!readProgramLine(pc_, line)) {
    // Loading refuses a file beyond the limit, but an edited text can still outgrow it; ending
    // here quietly would pass for a run of every line.
    if (pc_ >= kMaxScriptLines && host_.lineCount() > kMaxScriptLines) {
      char text[96];
      std::snprintf(text, sizeof text, translateFormat("Program longer than %d lines: stopped"),
                    kMaxScriptLines);
      stopWithMessage(kErrApplication, text);
      return 0.1;
    }
    running_ = false;
    return 0.1;
  }
  const int lineIndex = pc_;
  ScriptCursor cursor(line);
  executeStatements(cursor, true);
  if (cursor.error != 0) handleLineError(lineIndex, cursor.error);
  return lineInterval_;
}

void ScriptProgram::executeStatements(ScriptCursor& c, bool advance) {
  commandMessage_.clear();
  ScriptCursor* outer = cursor_;
  cursor_ = &c;
  currentLine_ = pc_;
  continue_ = true;
  if (advance && !eventMode_) ++pc_;
  statementLoop(c);
  if (pc_ != currentLine_) {
    markers_.markBeenHere(currentLine_);
    markers_.markBeenHere(pc_);
  }
  markers_.setProgramHasRun();
  cursor_ = outer;
}

void ScriptProgram::executeLine(std::string_view text) {
  ScriptCursor c(text);
  executeStatements(c, true);
}

void ScriptProgram::statementLoop(ScriptCursor& c) {
  while (continue_ && c.error == 0) {
    skipBlanks(c);
    const char ch = c.peek();
    if (c.atEnd()) break;
    if (isLetter(ch)) {
      const std::string_view word = peekWord(c, 20);
      if (const ScriptCommand* cmd = FindScriptCommand(word)) {
        c.pos += word.size();
        cmd->run(*this, c);
        continue;
      }
    }
    if (ch == ':') {
      ++c.pos;
      continue;
    }
    if (ch == '@') {
      ++c.pos;
      skipBlanks(c);
      const std::string_view word = peekWord(c, 20);
      if (const ScriptCommand* cmd = FindScriptCommand(word)) {
        c.pos += word.size();
        cmd->run(*this, c);
        continue;
      }
      if (c.peek() >= 'A' && c.peek() <= 'Z') {
        if (RunAssignment(*this, c) == AssignmentResult::Assigned) continue;
        break;
      }
      fail(c, kErrSyntax, "unknown command");
      break;
    }
    if (isDigit(ch) || ch == '(' || ch == '#' || ch == '$') {
      RunFrameLine(*this, c);
      endLine();
      break;
    }
    if (isLetter(ch)) {
      if (RunAssignment(*this, c) == AssignmentResult::Assigned) continue;
      break;
    }
    break;  // comments and punctuation end the line
  }
}

void ScriptProgram::handleLineError(int line, int code) {
  state_.lastErrorLine = line + 1;
  state_.lastErrorCode = code;
  if (static_cast<unsigned char>(errorHandler_[0]) <= ' ' || inErrorHandler_) {
    stopForError(code);
    return;
  }
  char buffer[48];
  const std::string message =
      commandMessage_.empty() ? std::string(scriptErrorText(code, buffer)) : commandMessage_;
  resumeLine_ = line + 1;
  inErrorHandler_ = true;
  handlerCallDepth_ = callDepth_;
  if (state_.handledErrorClass == 0) state_.handledErrorClass = scriptErrorClass(code);
  lastErrorText_ = message;
  // The handler runs without moving the program counter: a handler that neither jumps nor
  // resumes continues behind the failed line instead of skipping the next one.
  char handler[kErrorHandlerLength + 1];
  std::memcpy(handler, errorHandler_, sizeof handler);
  ScriptCursor c{std::string_view(handler)};
  const int failedLine = currentLine_;
  executeStatements(c, false);
  currentLine_ = failedLine;
  if (c.error != 0 && running_) {
    stopForError(c.error);
  }
}

int ScriptProgram::executeTextOnce(std::string_view text) {
  ScriptProgram temp(state_, host_);
  temp.lineInterval_ = configuredIntervalSec_;
  temp.nextTransmitSec_ = 0;
  std::string copy(text.substr(0, kMaxScriptLineChars));
  ScriptCursor c{std::string_view(copy)};
  temp.executeStatements(c, false);
  if (temp.transmitPending_) temp.sendPendingFrame();
  if (c.error != 0) {
    temp.stopForError(c.error);
  }
  return c.error;
}

// ---------------------------------------------------------------------------------------------
// Events

void ScriptProgram::postEvent(std::string command) {
  if (events_.size() < 64) events_.push_back(std::move(command));
}

void ScriptProgram::handleEvents() {
  while (running_ && eventLevel_ < 0 && !events_.empty()) {
    std::string command = std::move(events_.front());
    events_.pop_front();
    if (command.size() > kMaxScriptLineChars) command.resize(kMaxScriptLineChars);
    const int interrupted = pc_;
    eventMode_ = true;
    ScriptCursor c{std::string_view(command)};
    executeStatements(c, false);
    eventMode_ = false;
    if (pc_ == interrupted + 1) pc_ = interrupted;
    if (c.error != 0 && running_) {
      stopForError(c.error);
    }
  }
}

// ---------------------------------------------------------------------------------------------
// Transmission and waiting

void ScriptProgram::advanceSchedule(double now) {
  const double interval = std::max(lineInterval_, kMinTransmitInterval);
  nextTransmitSec_ += interval;
  if (nextTransmitSec_ < now - 0.01) nextTransmitSec_ = gridAfter(now, interval);
}

void ScriptProgram::sendNow(CanFrame& frame) {
  host_.transmit(frame);
  referenceTimeSec_ = nowSec();
}

void ScriptProgram::transmitPaced(const CanFrame& frame) {
  // A second frame statement on the same line waits for the slot of the first instead of
  // replacing it.
  if (transmitPending_) sendPendingFrame();
  const double now = nowSec();
  const double interval = std::max(lineInterval_, kMinTransmitInterval);
  if (now < nextTransmitSec_ - 2 * interval) nextTransmitSec_ = now;
  if (now >= nextTransmitSec_) {
    CanFrame copy = frame;
    sendNow(copy);
    advanceSchedule(now);
    return;
  }
  pendingFrame_ = frame;
  transmitPending_ = true;
}

void ScriptProgram::sendPendingFrame() {
  host_.waitUntilMs(nextTransmitSec_ * 1000.0);
  transmitPending_ = false;
  sendNow(pendingFrame_);
  const double now = nowSec();
  const double interval = std::max(lineInterval_, kMinTransmitInterval);
  nextTransmitSec_ += interval;
  if (nextTransmitSec_ < now) nextTransmitSec_ = gridAfter(now, interval);
}

void ScriptProgram::resetTransmitSchedule() {
  nextTransmitSec_ = nowSec();
}

void ScriptProgram::setDelay(double seconds) {
  delayUntilSec_ = seconds > 0 ? nowSec() + seconds : 0;
}

void ScriptProgram::startWait(const FrameWaitPattern& pattern) {
  CanFrame found;
  // Timestamps are whole milliseconds while the reference time of a paced send is not: a frame
  // stamped in the millisecond of the reference counts as received since, or the echo of a frame
  // sent at 1234.7 ms (stamped 1234) would be missed and the wait would never end.
  const double since = std::floor(referenceTimeSec_ * 1000.0) * 0.001;
  if (referenceTimeSec_ != 0 && host_.findReceivedSince(pattern, since, found)) {
    state_.wcanFrame = found;
    referenceTimeSec_ = found.timestamp * 0.001 + 0.001;
    return;
  }
  pattern_ = pattern;
  waiting_ = true;
}

bool ScriptProgram::offerFrame(const CanFrame& frame) {
  if (!waiting_ || !pattern_.matches(frame)) return false;
  waiting_ = false;
  state_.wcanFrame = frame;
  referenceTimeSec_ = frame.timestamp * 0.001 + 0.001;
  return running_;
}

// ---------------------------------------------------------------------------------------------
// Error handling commands

void ScriptProgram::setErrorHandler(std::string_view text) {
  const std::size_t n = std::min(text.size(), kErrorHandlerLength);
  std::memcpy(errorHandler_, text.data(), n);
  errorHandler_[n] = '\0';
}

void ScriptProgram::resumeError() {
  if (resumeLine_ < 0) return;
  inErrorHandler_ = false;
  // A handler entered through gosub and left by ResumeError must not keep its return address,
  // or every handled error would leave one more level on the call stack.
  if (handlerCallDepth_ >= 0 && callDepth_ > handlerCallDepth_) callDepth_ = handlerCallDepth_;
  handlerCallDepth_ = -1;
  pc_ = resumeLine_;
  resumeLine_ = -1;
  endLine();
}

void ScriptProgram::clearError() {
  inErrorHandler_ = false;
}

// ---------------------------------------------------------------------------------------------
// Control statements

int ScriptProgram::findLabel(int start, std::string_view label) {
  if (label.empty() || label.size() > kMaxLabelLength) return kErrLabelNotFound;
  const int count = std::min(host_.lineCount(), kMaxScriptLines);
  auto matchesAt = [&](int line) {
    if (line < 0 || line >= count) return false;
    std::string_view text;
    if (!host_.readLine(line, text)) return false;
    return text.size() > label.size() && text.substr(0, label.size()) == label && text[label.size()] == ':';
  };
  if (matchesAt(start)) return start;
  for (int d = 1; d <= kMaxScriptLines; ++d) {
    if (start - d < 0 && start + d >= count) break;
    if (matchesAt(start - d)) return start - d;
    if (matchesAt(start + d)) return start + d;
  }
  return kErrLabelNotFound;
}

bool ScriptProgram::readLabel(ScriptCursor& c, char (&label)[kMaxLabelLength + 1]) {
  skipBlanks(c);
  const bool quoted = consume(c, "\"");
  std::size_t n = 0;
  while (isIdentChar(c.peek())) {
    if (n < kMaxLabelLength) label[n] = c.peek();
    ++n;
    ++c.pos;
  }
  if (quoted) consume(c, "\"");
  if (n > kMaxLabelLength) {
    label[0] = '\0';
    return false;
  }
  label[n] = '\0';
  return n > 0;
}

void ScriptProgram::cmdGoto(ScriptCursor& c) {
  char label[kMaxLabelLength + 1];
  readLabel(c, label);
  const int line = findLabel(pc_, label);
  if (line < 0) {
    char text[80];
    std::snprintf(text, sizeof text, translateFormat("Label \"%s\" not found"), label);
    fail(c, kErrLabelNotFound, text);
    return;
  }
  pc_ = line;
  endLine();
}

void ScriptProgram::cmdGosub(ScriptCursor& c) {
  if (callDepth_ > kCallStackSize - 1) {
    callDepth_ = 0;
    fail(c, kErrStackOverflow, "call-stack overflow.");
    return;
  }
  if (eventMode_) eventLevel_ = callDepth_;
  callStack_[callDepth_++] = pc_;
  cmdGoto(c);
  if (c.error != 0) {
    --callDepth_;
    if (eventMode_ && eventLevel_ == callDepth_) eventLevel_ = -1;
  }
}

void ScriptProgram::cmdReturn(ScriptCursor& c) {
  if (callDepth_ <= 0) {
    fail(c, kErrStackUnderflow, "return without gosub");
    return;
  }
  pc_ = callStack_[--callDepth_];
  if (callDepth_ == eventLevel_) eventLevel_ = -1;
  endLine();
}

void ScriptProgram::cmdRepeat(ScriptCursor& c) {
  if (loopDepth_ >= kLoopStackSize) {
    fail(c, kErrStackOverflow, "\"repeat\"..\"until\" too deeply nested");
    return;
  }
  loopKind_[loopDepth_] = kLoopRepeat;
  loopStart_[loopDepth_++] = currentLine_ + 1;
  endLine();
}

bool ScriptProgram::innermostLoopIs(ScriptCursor& c, int kind, std::string_view withoutLoopText) {
  if (loopDepth_ <= 0) {
    fail(c, kErrStackUnderflow, withoutLoopText);
    return false;
  }
  if (loopKind_[loopDepth_ - 1] != kind) {
    fail(c, kErrSyntax, "Bad nesting of loops");
    return false;
  }
  return true;
}

void ScriptProgram::cmdUntil(ScriptCursor& c) {
  if (!innermostLoopIs(c, kLoopRepeat, "'until' without 'repeat'")) return;
  int32_t condition = 0;
  if (eval_.evaluateInt(c, condition) != 0) return;
  if (condition != 0) {
    --loopDepth_;
  } else {
    pc_ = loopStart_[loopDepth_ - 1];
  }
  endLine();
}

int ScriptProgram::searchPartner(int from, std::string_view open, std::string_view close, int* elseLine) {
  if (elseLine != nullptr) *elseLine = -1;
  const int count = std::min(host_.lineCount(), kMaxScriptLines);
  int level = 0;
  for (int i = from; i < count; ++i) {
    std::string_view line;
    if (!host_.readLine(i, line)) break;
    const std::string_view word = firstWord(line);
    if (word == open) {
      ++level;
    } else if (word == close) {
      if (level == 0) return i;
      --level;
    } else if (elseLine != nullptr && word == "else" && level == 0 && *elseLine < 0) {
      *elseLine = i;
    }
  }
  return -1;
}

void ScriptProgram::cmdWhile(ScriptCursor& c) {
  int32_t condition = 0;
  if (eval_.evaluateInt(c, condition) != 0) return;
  if (condition != 0) {
    if (loopDepth_ >= kLoopStackSize) {
      fail(c, kErrStackOverflow, "While-loop too deeply nested");
      return;
    }
    loopKind_[loopDepth_] = kLoopWhile;
    loopStart_[loopDepth_++] = currentLine_;
  } else {
    const int end = searchPartner(currentLine_ + 1, "while", "endwhile", nullptr);
    if (end < 0) {
      fail(c, kErrSyntax, "No matching 'endwhile'");
      return;
    }
    pc_ = end + 1;
  }
  endLine();
}

void ScriptProgram::cmdEndwhile(ScriptCursor& c) {
  if (!innermostLoopIs(c, kLoopWhile, "'endwhile' without 'while'")) return;
  pc_ = loopStart_[--loopDepth_];
  endLine();
}

void ScriptProgram::cmdIf(ScriptCursor& c) {
  int32_t condition = 0;
  if (eval_.evaluateInt(c, condition) != 0) return;
  skipBlanks(c);
  if (atLineEnd(c)) {
    int elseLine = -1;
    const int endifLine = searchPartner(currentLine_ + 1, "if", "endif", &elseLine);
    if (endifLine < 0) {
      fail(c, kErrSyntax, "Didn't find matching 'endif' .");
      return;
    }
    if (branchDepth_ >= kBranchStackSize) {
      fail(c, kErrStackOverflow, "Branch-stack exceeded .");
      return;
    }
    branch_[branchDepth_++] = BranchEntry{1, currentLine_, endifLine, elseLine, condition != 0 ? 1 : 0};
    if (condition == 0) pc_ = elseLine >= 0 ? elseLine : endifLine;
    endLine();
    return;
  }
  if (condition == 0) {
    endLine();
    return;
  }
  if (consumeWord(c, "goto")) cmdGoto(c);
  // otherwise the rest of the line runs as statements
}

void ScriptProgram::cmdElse(ScriptCursor& c) {
  skipBlanks(c);
  const bool elseIf = consumeWord(c, "if");
  if (branchDepth_ <= 0) {
    fail(c, kErrStackUnderflow, "Got 'else' but the branch-stack is empty .");
    return;
  }
  BranchEntry& top = branch_[branchDepth_ - 1];
  if (top.kind != 1) {
    fail(c, kErrStackUnderflow, "Got 'else' but not a matching 'if' on the stack .");
    return;
  }
  if (top.condition == 0) {
    if (elseIf) {
      --branchDepth_;
      cmdIf(c);
    }
    return;
  }
  if (top.endifLine < 0) {
    fail(c, kErrStackUnderflow, "Got 'else' but not a matching 'endif' on the stack .");
    return;
  }
  pc_ = top.endifLine;
  endLine();
}

void ScriptProgram::cmdEndif(ScriptCursor& c) {
  if (branchDepth_ <= 0) {
    fail(c, kErrStackUnderflow, "Got 'endif' but the branch-stack is empty .");
    return;
  }
  if (branch_[branchDepth_ - 1].kind != 1) {
    fail(c, kErrStackUnderflow, "Got 'endif' but not a matching 'if' on the stack .");
    return;
  }
  --branchDepth_;
}

}  // namespace busprobe
