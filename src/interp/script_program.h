// The one script program: the state of a run, the statement loop that executes one line, the step
// that decides what happens next, the time slice the main loop gives it, the control statements,
// error handlers, events, breakpoints and been-here markers. Lines are interpreted from their text
// on every execution; nothing is compiled.
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

#include "base/translator.h"
#include "can/can_frame.h"
#include "interp/expression.h"
#include "interp/script_value.h"

namespace busprobe {

inline constexpr int kMaxScriptLines = 9999;
inline constexpr std::size_t kMaxScriptLineChars = 255;
inline constexpr int kBranchStackSize = 20;
inline constexpr int kLoopStackSize = 10;
inline constexpr int kCallStackSize = 5;
inline constexpr std::size_t kMaxLabelLength = 40;
inline constexpr std::size_t kErrorHandlerLength = 80;
inline constexpr int kMaxMenuLabels = 20;

// Been-here, breakpoint and redraw marks of the script lines (0-based). The editor draws them.
class LineMarkers {
 public:
  bool beenHere(int line) const { return valid(line) && (marks_[line] & kBeenHere) != 0; }
  bool breakpoint(int line) const { return valid(line) && (marks_[line] & kBreakpoint) != 0; }
  void setBreakpoint(int line, bool on);
  void toggleBreakpoint(int line) { setBreakpoint(line, !breakpoint(line)); }
  void markBeenHere(int line);
  // "Forget Execution History": clears every been-here bit and its redraw flag.
  void forgetHistory();
  // "Kill All Breakpoints".
  void killBreakpoints();
  // Lines whose marks changed since the last call, in ascending order; clears their redraw flags
  // and the refresh request.
  std::vector<int> takeRedrawLines();
  bool refreshRequested() const { return refresh_; }
  bool programHasRun() const { return hasRun_; }
  void setProgramHasRun() { hasRun_ = true; }
  int breakpointCount() const;

 private:
  static constexpr uint8_t kBeenHere = 1, kBreakpoint = 2, kRedraw = 4;
  static bool valid(int line) { return line >= 0 && line < kMaxScriptLines; }
  void setRedraw(int line);
  uint8_t marks_[kMaxScriptLines] = {};
  bool refresh_ = false;
  bool hasRun_ = false;
};

// The frame a wcan waits for: -1 in any field means "any".
struct FrameWaitPattern {
  int64_t id = -1;  // the id word (extended flag included), compared as CanFrame::matchingId
  int length = -1;
  int data[8] = {-1, -1, -1, -1, -1, -1, -1, -1};
  bool matches(const CanFrame& frame) const;
};

// What a program needs from the application besides expression factors.
class ScriptHost : public ScriptEnvironment {
 public:
  // --- the program text (the command editor's document)
  virtual int lineCount() = 0;
  // Line `index` (0-based) without its line end, at most 255 characters; false at or beyond the
  // last line. The view stays valid until the next call.
  virtual bool readLine(int index, std::string_view& out) = 0;

  // --- time
  virtual void sleepMs(double ms) = 0;
  // Waits precisely until the clock reads targetMs (sleeps for long waits, spins for the rest).
  virtual void waitUntilMs(double targetMs) = 0;

  // --- output: print goes to the user screen when it is open, else to the messages window;
  // interpreter errors use ScriptEnvironment::message.
  virtual void printOutput(std::string_view text) = 0;

  // --- CAN
  // The common send path; false when the frame could not be sent.
  virtual bool transmit(CanFrame& frame) = 0;
  virtual bool resetController() = 0;
  // Oldest frame of the receive history with a timestamp not earlier than sinceSec that matches.
  virtual bool findReceivedSince(const FrameWaitPattern& pattern, double sinceSec, CanFrame& out) = 0;
  // can.show_msgs_as_strings: four id words, -1 unused.
  virtual void setIdsShownAsText(const int32_t ids[4]) = 0;
  // freeze: freezes (true) or releases the received-frames display.
  virtual void setReceiveDisplayFrozen(bool frozen) = 0;
  // reset: bus statistics, test-duration clock.
  virtual void resetStatistics() = 0;
  // sound: tone of freq Hz for durationMs with a modulation value (ignored when signals are off).
  virtual void playSound(double freqHz, int durationMs, int modulation) = 0;
  // --- editor
  // Scroll the editor to the line (breakpoint reached, single step, stop).
  virtual void showProgramLine(int /*line*/) {}

  // --- language
  // The translation of the texts a stop shows; null: they stay English.
  virtual const Translator* translator() const { return nullptr; }
};

class ScriptProgram {
 public:
  ScriptProgram(InterpState& state, ScriptHost& host);

  // --- the Run menu. Each sets running and clears breakpoint-passed (single step sets it); none
  // clears variables.
  void run();
  void runFromCursor(int caretLine);
  // The label is taken from a menu caption: "&" ignored, up to the first blank or tab, at most 40
  // characters. False (and a message) when not found.
  bool runFromLabel(std::string_view caption);
  // caretLine above 0 moves the program counter there.
  void continueRun(int caretLine);
  void singleStep();
  void singleStepFromCursor(int caretLine);
  // The user's Stop: clears running and shows the program counter's line.
  void stop();
  // Up to 20 labels of the script (names without ":") for the "Run from Label" sub-menu.
  std::vector<std::string> labels();
  // "CallStack[%d] = %d" lines, with " <- INTERRUPTED by event" at the event level.
  std::vector<std::string> callStackListing() const;

  // --- driven by the main loop
  // Calls step until the deadline (seconds); a nested call returns at once.
  void runSlice(double deadlineSec);
  // The short slice a 1 ms timer gives the program between ticks, so that paced frames due in the
  // gap between two tick slices leave on time. It is stretched to cover a frame due within the
  // next 4 ms: the timer's next wake-up can come a few milliseconds late.
  void runTimerSlice();
  // Executes at most one line; returns seconds until the program wants the next call.
  double step();
  // Received frame while waiting: true when it matched and ended the wait (the caller then gives
  // the program a 30 ms slice).
  bool offerFrame(const CanFrame& frame);
  // User-screen events: queued command texts run between lines while no event is active.
  void postEvent(std::string command);
  void handleEvents();

  // Runs one line in a fresh temporary program state (the editor line under the caret, the sound
  // test, command entries of the transmit list). Returns 0 or the error code.
  int executeTextOnce(std::string_view text);

  // Stops the program with a message (2..80 characters, else "Program stopped, unknown error."),
  // " in line %d" appended while running; the message goes to the messages window.
  void stopWithMessage(int code, std::string_view text);

  // --- settings and state for the user interface
  // TxDelay in ms; the line interval of the next Run.
  void setConfiguredTxDelayMs(double ms) { configuredIntervalSec_ = ms * 0.001; }
  bool running() const { return running_; }
  bool waitingForFrame() const { return waiting_; }
  int programCounter() const { return pc_; }
  // Line executed last (0-based), -1 before the first.
  int currentLine() const { return currentLine_; }
  double lineInterval() const { return lineInterval_; }
  const std::string& lastErrorText() const { return lastErrorText_; }
  int lastErrorLine() const { return state_.lastErrorLine - 1; }
  int callDepth() const { return callDepth_; }
  int loopDepth() const { return loopDepth_; }
  int branchDepth() const { return branchDepth_; }
  LineMarkers& markers() { return markers_; }
  const LineMarkers& markers() const { return markers_; }
  InterpState& interpState() { return state_; }
  ScriptHost& host() { return host_; }
  ExpressionEvaluator& evaluator() { return eval_; }

  // True when the last run ended with an error message (not by its end, `stop` or the user).
  bool stoppedByError() const { return stoppedByError_; }

  // --- used by the commands
  // Fails the statement with a code and the message the stop (or ErrorInfo) shows.
  void fail(ScriptCursor& c, int code, std::string_view text);
  void endLine() { continue_ = false; }
  void jumpTo(int line) { pc_ = line; }
  void setDelay(double seconds);
  void setLineInterval(double seconds) { lineInterval_ = seconds; }
  // Frame lines and ctx: send now or mark the frame pending for its slot.
  void transmitPaced(const CanFrame& frame);
  void startWait(const FrameWaitPattern& pattern);
  void resetTransmitSchedule();
  // Error handling commands.
  void setErrorHandler(std::string_view text);
  void resumeError();
  void clearError();
  // Control statements; each returns 0 or an error code and may call stopWithMessage.
  void cmdRepeat(ScriptCursor& c);
  void cmdUntil(ScriptCursor& c);
  void cmdWhile(ScriptCursor& c);
  void cmdEndwhile(ScriptCursor& c);
  void cmdGoto(ScriptCursor& c);
  void cmdGosub(ScriptCursor& c);
  void cmdReturn(ScriptCursor& c);
  void cmdIf(ScriptCursor& c);
  void cmdElse(ScriptCursor& c);
  void cmdEndif(ScriptCursor& c);
  // Label search around `start` (alternating, the earlier line first); line or -15.
  int findLabel(int start, std::string_view label);
  // Executes the statements of a line text in this program state.
  void executeLine(std::string_view text);
  // Message a command leaves for the stop (shown instead of the code's text).
  void setCommandMessage(std::string_view text);
  // The texts and printf formats of stop messages in the user's language, through the host's
  // translator; formats are translated before their arguments are filled in.
  std::string_view translate(std::string_view english) const;
  const char* translateFormat(const char* english) const;
  // The error code's text in the user's language; unknown codes are formatted into `buffer`.
  std::string_view errorText(int code, char (&buffer)[48]) const;

 private:
  struct BranchEntry {
    int kind = 0;
    int ifLine = -1;
    int endifLine = -1;
    int elseLine = -1;
    int condition = 0;
  };
  bool readProgramLine(int index, std::string_view& out);
  void resetForRun();
  void statementLoop(ScriptCursor& c);
  // Runs the statements of the cursor's text as the line at the program counter; `advance` moves
  // the program counter to the next line first (not for handlers and events).
  void executeStatements(ScriptCursor& c, bool advance);
  void handleLineError(int line, int code);
  // Stops with the message a command left, else the code's text.
  void stopForError(int code);
  void sendPendingFrame();
  void sendNow(CanFrame& frame);
  void advanceSchedule(double nowSec);
  // The line closing a block: the first line from `from` whose first word is `close` outside
  // nested open/close pairs (counted by the first word of each line), -1 when none. With elseLine,
  // also the first "else" outside nested pairs.
  int searchPartner(int from, std::string_view open, std::string_view close, int* elseLine);
  bool readLabel(ScriptCursor& c, char (&label)[kMaxLabelLength + 1]);
  static constexpr int kLoopRepeat = 0, kLoopWhile = 1;
  // The innermost loop must be of this kind; fails the statement with its texts otherwise.
  bool innermostLoopIs(ScriptCursor& c, int kind, std::string_view withoutLoopText);
  double nowSec() const;

  InterpState& state_;
  ScriptHost& host_;
  ExpressionEvaluator eval_;
  LineMarkers markers_;

  ScriptCursor* cursor_ = nullptr;  // the statement being executed
  BranchEntry branch_[kBranchStackSize];
  int branchDepth_ = 0;
  int pc_ = 0;
  int currentLine_ = -1;
  int loopStart_[kLoopStackSize] = {};
  int loopKind_[kLoopStackSize] = {};
  int loopDepth_ = 0;
  bool running_ = false;
  bool breakpointPassed_ = false;
  bool waiting_ = false;
  FrameWaitPattern pattern_;
  double referenceTimeSec_ = 0;
  bool transmitPending_ = false;
  CanFrame pendingFrame_;
  bool abort_ = false;
  bool inErrorHandler_ = false;
  int resumeLine_ = -1;
  bool eventMode_ = false;
  double delayUntilSec_ = 0;
  double lineInterval_ = 0.1;
  double configuredIntervalSec_ = 0.1;
  double nextTransmitSec_ = 0;
  bool continue_ = false;
  int callStack_[kCallStackSize] = {};
  int callDepth_ = 0;
  int eventLevel_ = -1;
  char errorHandler_[kErrorHandlerLength + 1] = {};
  std::string lastErrorText_;
  std::string commandMessage_;
  std::deque<std::string> events_;
  int sliceDepth_ = 0;
  int skipBreakpointAt_ = -1;
  int handlerCallDepth_ = -1;
  bool stoppedByError_ = false;
  char lineBuffer_[kMaxScriptLineChars + 1] = {};
};

}  // namespace busprobe
