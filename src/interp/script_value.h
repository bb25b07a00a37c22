// Script values, the variable table, the array element pool and the interpreter's error codes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "can/can_frame.h"

namespace busprobe {

// Value type codes; 3 is only ever the pair code of a mixed integer/float operand pair.
inline constexpr int32_t kTypeUnused = 0;
inline constexpr int32_t kTypeInteger = 1;
inline constexpr int32_t kTypeFloat = 2;
inline constexpr int32_t kTypeMixed = 3;
inline constexpr int32_t kTypeSpecial = 4;
inline constexpr int32_t kTypeString = 8;

inline constexpr int32_t kDontCare = static_cast<int32_t>(0x80000001u);
inline constexpr int32_t kNotANumber = static_cast<int32_t>(0x80000002u);
inline constexpr int32_t kPosInfinity = static_cast<int32_t>(0x80000003u);
inline constexpr int32_t kNegInfinity = static_cast<int32_t>(0x80000004u);

inline constexpr std::size_t kMaxStringLength = 79;

struct ScriptValue {
  int32_t type = kTypeUnused;
  double f = 0.0;
  int32_t i = 0;
  char s[kMaxStringLength + 1];

  // Only the terminator is set: values are copied on every operation and the text is read only
  // up to its NUL, so clearing all 80 bytes each time would be wasted work.
  ScriptValue() { s[0] = '\0'; }

  static ScriptValue integer(int32_t v);
  static ScriptValue floating(double v);
  static ScriptValue special(int32_t code);
  // Longer text is cut to 79 characters.
  static ScriptValue string(std::string_view text);
  std::string_view text() const;
};

// Interpreter error codes; every operation returns 0 or one of these. Their texts and classes are
// rows of one table (script_value.cpp), checked against this order when it compiles.
enum ScriptError : int {
  kErrOk = 0,
  kErrSyntax = -1,
  kErrValueExpected = -2,
  kErrDivisionByZero = -3,
  kErrCalculation = -4,
  kErrUnknownFunction = -5,
  kErrFunctionFailed = -6,
  kErrUnknownComponent = -7,
  kErrMissingArgument = -8,
  kErrIllegalArgument = -9,
  kErrIllegalIndex = -10,
  kErrStringLength = -11,
  kErrNullPointer = -12,
  kErrTypeNotSupported = -13,
  kErrTypesIncompatible = -14,
  kErrLabelNotFound = -15,
  kErrLoopTimeout = -16,
  kErrApplication = -17,
  kErrNotImplemented = -18,
  kErrSdoFailed = -19,
  kErrStackOverflow = -20,
  kErrStackUnderflow = -21,
  kErrOutOfMemory = -22,
};

enum ErrorClassCode : int {
  kClassNone = 0,
  kClassGeneral = 1,
  kClassSyntax = 2,
  kClassIllval = 3,
  kClassTimeout = 4,
  kClassCanbus = 5,
  kClassSdo = 6,
};

// Text of an error code. Unknown codes are formatted into `buffer` ("unknown Error Code (%d)").
std::string_view scriptErrorText(int code, char (&buffer)[48]);
// Class of an error code; codes outside the table are general errors.
int scriptErrorClass(int code);
// The class ErrorClass.<name> stands for ("none" .. "sdo"); an unknown name is kClassNone.
int scriptErrorClassByName(std::string_view name);

// "I32", "FLT", "INV", "STR", "???".
std::string_view typeMnemonic(int32_t type);
// "DONT_CARE" ... or empty for an unknown code.
std::string_view specialName(int32_t code);

inline constexpr int kVariableCount = 100;
inline constexpr int kElementCount = 1024;
inline constexpr std::size_t kVariableNameLength = 16;

struct ScriptVariable {
  char name[kVariableNameLength + 1] = {};
  ScriptValue value;
  int head = -1;  // first element in the pool, -1 for a plain variable
};

struct ScriptElement {
  ScriptValue value;  // type 0 marks a free slot
  int32_t index = 0;
  int next = -1;
};

// Everything the evaluator keeps between statements: variables, the element pool and the error
// information that ErrorInfo / ErrorClass read. One per application object.
class InterpState {
 public:
  InterpState() = default;

  // Entry index or -1. Names compare over their first 16 characters.
  int findVariable(std::string_view name) const;
  // -1 when the name is empty or all 100 entries are taken.
  int findOrCreateVariable(std::string_view name);
  const ScriptVariable& variable(int entry) const { return vars_[entry]; }
  ScriptVariable& variable(int entry) { return vars_[entry]; }

  ScriptValue* element(int entry, int32_t index);
  const ScriptValue* element(int entry, int32_t index) const;
  // Takes the first free pool slot and links it at the head of the variable's list; nullptr when the
  // pool is full. The element starts as integer 0 so that the slot counts as taken.
  ScriptValue* newElement(int entry, int32_t index);
  // Existing element or a new one.
  ScriptValue* elementForWrite(int entry, int32_t index);

  void clearAll();
  int variableCount() const;
  int elementCount() const;

  // Last error as ErrorInfo reports it, and the class of the error being handled (ErrorClass).
  int lastErrorLine = 0;
  int lastErrorCode = 0;
  int handledErrorClass = 0;
  // The frame kept by canrx.latch / .update_latch, and the frame that ended the last wcan wait.
  CanFrame latch;
  CanFrame wcanFrame;

 private:
  ScriptVariable vars_[kVariableCount];
  ScriptElement pool_[kElementCount];
};

// "name: ty=I32, va=5" (the variables file). Returns the length written (cut to the buffer).
std::size_t formatVariableFileLine(const ScriptVariable& var, char* out, std::size_t size);
// Listing line: name padded to column 17, mnemonic to column 21, then the value. Returns 0 (no
// line) when the name does not fit a 40-character line.
std::size_t formatVariableListingLine(const ScriptVariable& var, char* out, std::size_t size);

}  // namespace busprobe
