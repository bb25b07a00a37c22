// Expression evaluation over a line of script text: one pass, no token list, no allocation.
#pragma once

#include <cstdint>
#include <string_view>

#include "can/can_frame.h"
#include "interp/script_extensions.h"
#include "interp/script_value.h"

namespace busprobe {

class Clock;

inline constexpr uint32_t kCursorColourNames = 1u << 0;

// Read position and error of one statement being evaluated.
struct ScriptCursor {
  std::string_view text;
  std::size_t pos = 0;
  int error = 0;  // the first failure is kept
  uint32_t flags = 0;
  const CanFrame* frame = nullptr;  // current frame for rx. components, absent for script lines
  double referenceTimeSec = 0.0;    // 0 = none
  bool noVariableLookup = false;    // set while reading data-byte lists

  explicit ScriptCursor(std::string_view line) : text(line) {}
  bool atEnd() const { return pos >= text.size(); }
  char peek(std::size_t ahead = 0) const { return pos + ahead < text.size() ? text[pos + ahead] : '\0'; }
  std::string_view rest() const { return text.substr(pos < text.size() ? pos : text.size()); }
  void fail(int code) {
    if (error == 0) error = code;
  }
};

// What the evaluator needs from the rest of the application. Factors that read the bus, the
// user screen or the CANopen side are looked up in the environment's extension table.
class ScriptEnvironment {
 public:
  virtual ~ScriptEnvironment() = default;
  // The common millisecond clock.
  virtual double nowMs() const = 0;
  // A line for the messages window (interpreter errors).
  virtual void message(std::string_view text) = 0;
  // The script words other subsystems registered (bus components, cursor, freeze, sdo., obj.,
  // their commands); null: every such word is refused with its code.
  virtual const ScriptExtensions* extensions() const { return nullptr; }
  // Newest frame of the receive history whose id word matches `id` (CanFrame::matchingId) and,
  // when referenceTimeSec is not 0, whose timestamp is not earlier than it.
  virtual bool findReceivedFrame(uint32_t id, double referenceTimeSec, CanFrame& out) = 0;
  // How many frames with this id word (as matched) the sorted receive list has counted.
  virtual int32_t receivedCount(uint32_t id) = 0;
};

// An environment with a clock and nothing else: no extension is registered.
class StandaloneEnvironment : public ScriptEnvironment {
 public:
  explicit StandaloneEnvironment(const Clock& clock) : clock_(clock) {}
  double nowMs() const override;
  void message(std::string_view) override {}
  bool findReceivedFrame(uint32_t, double, CanFrame&) override { return false; }
  int32_t receivedCount(uint32_t) override { return 0; }

 private:
  const Clock& clock_;
};

class ExpressionEvaluator {
 public:
  ExpressionEvaluator(InterpState& state, ScriptEnvironment& env) : state_(state), env_(env) {}

  // One expression; the cursor is left behind it. On failure cursor.error holds the code.
  ScriptValue evaluate(ScriptCursor& cursor);
  int evaluateInt(ScriptCursor& cursor, int32_t& out);
  int evaluateFloat(ScriptCursor& cursor, double& out);
  // One factor with the given default radix (10, or 16 for identifiers and data bytes).
  ScriptValue evaluateFactor(ScriptCursor& cursor, int radix);
  // Fills `buffer` from a data-byte list; returns the number of bytes filled.
  int readDataBytes(ScriptCursor& cursor, uint8_t* buffer, int capacity);

  // ".id", ".len", ".count", ".dat(bitpos [, type])" of a frame; the cursor stands on the ".".
  ScriptValue frameComponent(ScriptCursor& cursor, const CanFrame& frame);

  InterpState& state() { return state_; }

 private:
  ScriptValue expression(ScriptCursor& c);
  ScriptValue term(ScriptCursor& c);
  ScriptValue factor(ScriptCursor& c, int radix);
  ScriptValue builtin(std::string_view name, ScriptCursor& c);
  ScriptValue lowerCaseWord(ScriptCursor& c, bool& handled);
  ScriptValue rxComponent(ScriptCursor& c);
  ScriptValue canReceive(ScriptCursor& c);
  ScriptValue canBus(ScriptCursor& c);
  // A factor registered by another subsystem; `unregistered` is the code when none is.
  ScriptValue extensionFactor(std::string_view name, ScriptCursor& c, int unregistered);
  int readTypeArgument(ScriptCursor& c, int& type);
  bool argumentsOpen(ScriptCursor& c);
  bool argumentsClose(ScriptCursor& c);

  InterpState& state_;
  ScriptEnvironment& env_;
  int depth_ = 0;
};

// Reads a number (sign, radix prefix, digits, fraction, exponent) at the cursor.
ScriptValue readNumber(ScriptCursor& cursor, int radix);

// Data type name at the cursor (a script name of the CANopen type table, consumed when it
// matches); its type code, or -1 when none matches.
int readDataTypeName(ScriptCursor& cursor);

// Value at `bitPosition` of the frame's data read as the data type `typeCode`; -13 for types the
// type table does not mark as readable from frames.
int extractValue(const CanFrame& frame, int32_t bitPosition, int typeCode, ScriptValue& out);

// Integer from a float, truncated toward zero; values outside int32 saturate and NaN gives 0.
int32_t truncateToInt(double v);

// Integer or float conversions for callers; -14 for other types.
int valueToInt(const ScriptValue& v, int32_t& out);
int valueToFloat(const ScriptValue& v, double& out);

}  // namespace busprobe
