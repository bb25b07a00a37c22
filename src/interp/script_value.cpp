#include "interp/script_value.h"

#include <cstdio>
#include <cstring>

namespace busprobe {

ScriptValue ScriptValue::integer(int32_t v) {
  ScriptValue r;
  r.type = kTypeInteger;
  r.i = v;
  return r;
}

ScriptValue ScriptValue::floating(double v) {
  ScriptValue r;
  r.type = kTypeFloat;
  r.f = v;
  return r;
}

ScriptValue ScriptValue::special(int32_t code) {
  ScriptValue r;
  r.type = kTypeSpecial;
  r.i = code;
  return r;
}

ScriptValue ScriptValue::string(std::string_view text) {
  ScriptValue r;
  r.type = kTypeString;
  const std::size_t n = text.size() < kMaxStringLength ? text.size() : kMaxStringLength;
  std::memcpy(r.s, text.data(), n);
  r.s[n] = '\0';
  return r;
}

std::string_view ScriptValue::text() const {
  return std::string_view(s, strnlen(s, sizeof s));
}

namespace {

struct ScriptErrorRow {
  int code;
  std::string_view text;
  ErrorClassCode errorClass;
};

// Row i is code -i: the lookups index by the negated code.
constexpr ScriptErrorRow kScriptErrors[] = {
    {kErrOk, "all ok", kClassNone},
    {kErrSyntax, "syntax error", kClassSyntax},
    {kErrValueExpected, "value expected", kClassSyntax},
    {kErrDivisionByZero, "division by zero", kClassIllval},
    {kErrCalculation, "calculation error", kClassIllval},
    {kErrUnknownFunction, "unknown function", kClassSyntax},
    {kErrFunctionFailed, "function failed", kClassIllval},
    {kErrUnknownComponent, "unknown component", kClassSyntax},
    {kErrMissingArgument, "missing argument", kClassSyntax},
    {kErrIllegalArgument, "illegal argument", kClassIllval},
    {kErrIllegalIndex, "illegale index", kClassIllval},
    {kErrStringLength, "string length exceeded", kClassIllval},
    {kErrNullPointer, "null pointer passing", kClassIllval},
    {kErrTypeNotSupported, "type not supported", kClassIllval},
    {kErrTypesIncompatible, "types incompatible", kClassIllval},
    {kErrLabelNotFound, "label not found", kClassSyntax},
    {kErrLoopTimeout, "loop timeout", kClassTimeout},
    {kErrApplication, "application error", kClassGeneral},
    {kErrNotImplemented, "function not implemented", kClassSyntax},
    {kErrSdoFailed, "SDO access failed", kClassSdo},
    {kErrStackOverflow, "command stack overflow", kClassGeneral},
    {kErrStackUnderflow, "command stack underflow", kClassGeneral},
    {kErrOutOfMemory, "out of memory", kClassGeneral},
};

constexpr bool rowsInCodeOrder() {
  for (std::size_t i = 0; i < std::size(kScriptErrors); ++i) {
    if (kScriptErrors[i].code != -static_cast<int>(i)) return false;
  }
  return true;
}
static_assert(rowsInCodeOrder(), "row i of the error table must hold code -i");
static_assert(std::size(kScriptErrors) == -kErrOutOfMemory + 1, "every error code needs its row");

const ScriptErrorRow* findError(int code) {
  if (code > 0 || code <= -static_cast<int>(std::size(kScriptErrors))) return nullptr;
  return &kScriptErrors[-code];
}

// Index = class code: the names ErrorClass.<name> reads.
constexpr std::string_view kErrorClassNames[] = {"none",    "general", "syntax", "illval",
                                                 "timeout", "canbus",  "sdo"};
static_assert(std::size(kErrorClassNames) == kClassSdo + 1);

}  // namespace

std::string_view scriptErrorText(int code, char (&buffer)[48]) {
  if (const ScriptErrorRow* row = findError(code)) return row->text;
  const int n = std::snprintf(buffer, sizeof buffer, "unknown Error Code (%d)", code);
  return std::string_view(buffer, n > 0 ? static_cast<std::size_t>(n) : 0);
}

int scriptErrorClass(int code) {
  const ScriptErrorRow* row = findError(code);
  return row != nullptr ? row->errorClass : kClassGeneral;
}

int scriptErrorClassByName(std::string_view name) {
  for (std::size_t k = 0; k < std::size(kErrorClassNames); ++k) {
    if (kErrorClassNames[k] == name) return static_cast<int>(k);
  }
  return kClassNone;
}

std::string_view typeMnemonic(int32_t type) {
  switch (type) {
    case kTypeInteger:
      return "I32";
    case kTypeFloat:
    case kTypeMixed:
      return "FLT";
    case kTypeSpecial:
      return "INV";
    case kTypeString:
      return "STR";
    default:
      return "???";
  }
}

std::string_view specialName(int32_t code) {
  switch (code) {
    case kDontCare:
      return "DONT_CARE";
    case kNotANumber:
      return "NOT_A_NUMBER";
    case kPosInfinity:
      return "POS_INFINITY";
    case kNegInfinity:
      return "NEG_INFINITY";
    default:
      return {};
  }
}

namespace {

std::string_view cutName(std::string_view name) {
  return name.size() > kVariableNameLength ? name.substr(0, kVariableNameLength) : name;
}

}  // namespace

int InterpState::findVariable(std::string_view name) const {
  name = cutName(name);
  if (name.empty()) return -1;
  for (int k = 0; k < kVariableCount; ++k) {
    const char* n = vars_[k].name;
    if (n[0] != name[0] || n[name.size()] != '\0') continue;
    std::size_t j = 1;
    while (j < name.size() && n[j] == name[j]) ++j;
    if (j == name.size()) return k;
  }
  return -1;
}

int InterpState::findOrCreateVariable(std::string_view name) {
  name = cutName(name);
  const int found = findVariable(name);
  if (found >= 0 || name.empty()) return found;
  for (int k = 0; k < kVariableCount; ++k) {
    if (vars_[k].name[0] == '\0') {
      vars_[k] = ScriptVariable{};
      std::memcpy(vars_[k].name, name.data(), name.size());
      vars_[k].name[name.size()] = '\0';
      return k;
    }
  }
  return -1;
}

const ScriptValue* InterpState::element(int entry, int32_t index) const {
  if (entry < 0 || entry >= kVariableCount) return nullptr;
  int at = vars_[entry].head;
  // The step bound keeps a damaged chain from looping forever.
  for (int steps = 0; at >= 0 && at < kElementCount && steps < kElementCount; ++steps) {
    if (pool_[at].index == index) return &pool_[at].value;
    at = pool_[at].next;
  }
  return nullptr;
}

ScriptValue* InterpState::element(int entry, int32_t index) {
  return const_cast<ScriptValue*>(static_cast<const InterpState*>(this)->element(entry, index));
}

ScriptValue* InterpState::newElement(int entry, int32_t index) {
  if (entry < 0 || entry >= kVariableCount) return nullptr;
  for (int k = 0; k < kElementCount; ++k) {
    if (pool_[k].value.type == kTypeUnused) {
      pool_[k].value = ScriptValue::integer(0);
      pool_[k].index = index;
      pool_[k].next = vars_[entry].head;
      vars_[entry].head = k;
      return &pool_[k].value;
    }
  }
  return nullptr;
}

ScriptValue* InterpState::elementForWrite(int entry, int32_t index) {
  ScriptValue* v = element(entry, index);
  return v != nullptr ? v : newElement(entry, index);
}

void InterpState::clearAll() {
  for (auto& v : vars_) v = ScriptVariable{};
  for (auto& e : pool_) e = ScriptElement{};
  lastErrorLine = 0;
  lastErrorCode = 0;
  handledErrorClass = 0;
}

int InterpState::variableCount() const {
  int n = 0;
  for (const auto& v : vars_) n += v.name[0] != '\0' ? 1 : 0;
  return n;
}

int InterpState::elementCount() const {
  int n = 0;
  for (const auto& e : pool_) n += e.value.type != kTypeUnused ? 1 : 0;
  return n;
}

namespace {

std::size_t clampWritten(int n, std::size_t size) {
  if (n < 0 || size == 0) return 0;
  return static_cast<std::size_t>(n) < size ? static_cast<std::size_t>(n) : size - 1;
}

int formatValue(const ScriptValue& v, bool quoteString, char* out, std::size_t size) {
  switch (v.type) {
    case kTypeInteger:
      return std::snprintf(out, size, "%ld", static_cast<long>(v.i));
    case kTypeFloat:
    case kTypeMixed:
      return std::snprintf(out, size, "%lg", v.f);
    case kTypeSpecial: {
      const std::string_view name = specialName(v.i);
      if (name.empty()) return std::snprintf(out, size, "%ld", static_cast<long>(v.i));
      return std::snprintf(out, size, "%.*s", static_cast<int>(name.size()), name.data());
    }
    case kTypeString:
      return std::snprintf(out, size, quoteString ? "\"%s\"" : "%s", v.s);
    default:
      return std::snprintf(out, size, "%s", "");
  }
}

}  // namespace

std::size_t formatVariableFileLine(const ScriptVariable& var, char* out, std::size_t size) {
  if (size == 0) return 0;
  const ScriptValue& v = var.value;
  int n = 0;
  if (v.type == kTypeInteger || v.type == kTypeFloat || v.type == kTypeMixed || v.type == kTypeSpecial ||
      v.type == kTypeString) {
    const std::string_view m = typeMnemonic(v.type);
    n = std::snprintf(out, size, "%s: ty=%.*s, va=", var.name, static_cast<int>(m.size()), m.data());
    const std::size_t used = clampWritten(n, size);
    const int m2 = formatValue(v, true, out + used, size - used);
    return clampWritten(static_cast<int>(used) + (m2 > 0 ? m2 : 0), size);
  }
  n = std::snprintf(out, size, "%s: ty=???", var.name);
  return clampWritten(n, size);
}

std::size_t formatVariableListingLine(const ScriptVariable& var, char* out, std::size_t size) {
  if (size == 0) return 0;
  const std::size_t nameLen = strnlen(var.name, sizeof var.name);
  if (nameLen >= 40) return 0;
  const ScriptValue& v = var.value;
  const char* mnemonic = v.type == kTypeSpecial ? "SPC" : typeMnemonic(v.type).data();
  if (v.type == kTypeUnused) mnemonic = "UNUSED";
  int n = std::snprintf(out, size, "%-16s %-3s ", var.name, mnemonic);
  const std::size_t used = clampWritten(n, size);
  const int m = formatValue(v, false, out + used, size - used);
  return clampWritten(static_cast<int>(used) + (m > 0 ? m : 0), size);
}

}  // namespace busprobe
