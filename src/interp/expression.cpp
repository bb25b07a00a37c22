#include "interp/expression.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <numbers>

#include "base/canopen_types.h"
#include "base/clock.h"
#include "base/number_lex.h"
#include "interp/script_lex.h"

namespace busprobe {

using namespace lex;

double StandaloneEnvironment::nowMs() const {
  return clock_.nowMs();
}

namespace {

// Nesting bound for parentheses and built-in arguments: a hostile line must not exhaust the stack.
constexpr int kMaxDepth = 256;

enum class Op { Add, Sub, Mul, Div, Mod, Eq, Ne, Lt, Le, Gt, Ge, And, LAnd, Or, LOr, Xor };

// How a float (or mixed) pair is combined.
enum class FloatRule { Native, Truthy, Truncate };
// How a string pair is combined.
enum class StringRule { Incompatible, Concat, Equal };

struct OperatorInfo {
  std::string_view text;
  int level;  // 1 = expression level, 2 = term level
  Op op;
  FloatRule floatRule;
  StringRule stringRule;
};

// Longer spellings come first so that prefix matching finds "==" before "=".
constexpr OperatorInfo kOperators[] = {
    {"==", 1, Op::Eq, FloatRule::Native, StringRule::Equal},
    {"!=", 1, Op::Ne, FloatRule::Native, StringRule::Incompatible},
    {"<>", 1, Op::Ne, FloatRule::Native, StringRule::Incompatible},
    {"<=", 1, Op::Le, FloatRule::Native, StringRule::Incompatible},
    {">=", 1, Op::Ge, FloatRule::Native, StringRule::Incompatible},
    {"||", 1, Op::LOr, FloatRule::Truncate, StringRule::Incompatible},
    {"&&", 2, Op::LAnd, FloatRule::Truncate, StringRule::Incompatible},
    {"+", 1, Op::Add, FloatRule::Native, StringRule::Concat},
    {"-", 1, Op::Sub, FloatRule::Native, StringRule::Incompatible},
    {"=", 1, Op::Eq, FloatRule::Native, StringRule::Equal},
    {"<", 1, Op::Lt, FloatRule::Native, StringRule::Incompatible},
    {">", 1, Op::Gt, FloatRule::Native, StringRule::Incompatible},
    {"^", 1, Op::Xor, FloatRule::Truncate, StringRule::Incompatible},
    {"|", 1, Op::Or, FloatRule::Truthy, StringRule::Incompatible},
    {"*", 2, Op::Mul, FloatRule::Native, StringRule::Incompatible},
    {"/", 2, Op::Div, FloatRule::Native, StringRule::Incompatible},
    {"%", 2, Op::Mod, FloatRule::Native, StringRule::Incompatible},
    {"&", 2, Op::And, FloatRule::Truthy, StringRule::Incompatible},
};

const OperatorInfo* matchOperator(std::string_view rest, int level) {
  for (const auto& info : kOperators) {
    if (info.level == level && !rest.empty() && rest[0] == info.text[0] &&
        (info.text.size() == 1 || (rest.size() > 1 && rest[1] == info.text[1]))) {
      return &info;
    }
  }
  return nullptr;
}

int32_t wrapAdd(int32_t a, int32_t b) {
  return static_cast<int32_t>(static_cast<uint32_t>(a) + static_cast<uint32_t>(b));
}
int32_t wrapSub(int32_t a, int32_t b) {
  return static_cast<int32_t>(static_cast<uint32_t>(a) - static_cast<uint32_t>(b));
}
int32_t wrapMul(int32_t a, int32_t b) {
  return static_cast<int32_t>(static_cast<uint32_t>(a) * static_cast<uint32_t>(b));
}

ScriptValue boolValue(bool b) {
  return ScriptValue::integer(b ? 1 : 0);
}

// The six comparisons, the same for integers and floats.
template <typename T>
bool compare(Op op, T a, T b) {
  switch (op) {
    case Op::Eq:
      return a == b;
    case Op::Ne:
      return a != b;
    case Op::Lt:
      return a < b;
    case Op::Le:
      return a <= b;
    case Op::Gt:
      return a > b;
    default:
      return a >= b;
  }
}

int combineIntegers(Op op, int32_t a, int32_t b, ScriptValue& out) {
  switch (op) {
    case Op::Add:
      out = ScriptValue::integer(wrapAdd(a, b));
      return 0;
    case Op::Sub:
      out = ScriptValue::integer(wrapSub(a, b));
      return 0;
    case Op::Mul:
      out = ScriptValue::integer(wrapMul(a, b));
      return 0;
    case Op::Div:
      if (b == 0) return kErrDivisionByZero;
      // The one quotient that does not fit wraps like the other integer operations.
      out = ScriptValue::integer(b == -1 ? wrapSub(0, a) : a / b);
      return 0;
    case Op::Mod:
      if (b == 0) return kErrDivisionByZero;
      out = ScriptValue::integer(b == -1 ? 0 : a % b);
      return 0;
    case Op::Eq:
    case Op::Ne:
    case Op::Lt:
    case Op::Le:
    case Op::Gt:
    case Op::Ge:
      out = boolValue(compare(op, a, b));
      return 0;
    case Op::And:
      out = ScriptValue::integer(a & b);
      return 0;
    case Op::LAnd:
      out = boolValue(a != 0 && b != 0);
      return 0;
    case Op::Or:
      out = ScriptValue::integer(a | b);
      return 0;
    case Op::LOr:
      out = boolValue(a != 0 || b != 0);
      return 0;
    case Op::Xor:
      out = ScriptValue::integer(a ^ b);
      return 0;
  }
  return kErrSyntax;
}

double asDouble(const ScriptValue& v) {
  return v.type == kTypeInteger ? static_cast<double>(v.i) : v.f;
}
int32_t asTruncated(const ScriptValue& v) {
  return v.type == kTypeInteger ? v.i : truncateToInt(v.f);
}

int combineFloats(const OperatorInfo& info, const ScriptValue& va, const ScriptValue& vb, ScriptValue& out) {
  if (info.floatRule == FloatRule::Truncate) {
    return combineIntegers(info.op, asTruncated(va), asTruncated(vb), out);
  }
  const double a = asDouble(va);
  const double b = asDouble(vb);
  switch (info.op) {
    case Op::Add:
      out = ScriptValue::floating(a + b);
      return 0;
    case Op::Sub:
      out = ScriptValue::floating(a - b);
      return 0;
    case Op::Mul:
      out = ScriptValue::floating(a * b);
      return 0;
    case Op::Div:
      if (b == 0.0) return kErrDivisionByZero;
      out = ScriptValue::floating(a / b);
      return 0;
    case Op::Mod:
      if (b == 0.0) return kErrDivisionByZero;
      out = ScriptValue::floating(std::fmod(a, b));
      return 0;
    case Op::Eq:
    case Op::Ne:
    case Op::Lt:
    case Op::Le:
    case Op::Gt:
    case Op::Ge:
      out = boolValue(compare(info.op, a, b));
      return 0;
    case Op::And:
      out = boolValue(a != 0.0 && b != 0.0);
      return 0;
    case Op::Or:
      out = boolValue(a != 0.0 || b != 0.0);
      return 0;
    default:
      return kErrTypesIncompatible;
  }
}

int combineStrings(const OperatorInfo& info, const ScriptValue& a, const ScriptValue& b, ScriptValue& out) {
  switch (info.stringRule) {
    case StringRule::Concat: {
      out = a;
      std::size_t n = a.text().size();
      for (char ch : b.text()) {
        if (n >= kMaxStringLength) break;
        out.s[n++] = ch;
      }
      out.s[n] = '\0';
      return 0;
    }
    case StringRule::Equal:
      out = boolValue(a.text() == b.text());
      return 0;
    case StringRule::Incompatible:
      break;
  }
  return kErrTypesIncompatible;
}

int combine(const OperatorInfo& info, const ScriptValue& a, const ScriptValue& b, ScriptValue& out) {
  const int pair = a.type | b.type;
  if (a.type == kTypeUnused || b.type == kTypeUnused) return kErrTypesIncompatible;
  switch (pair) {
    case kTypeInteger:
      return combineIntegers(info.op, a.i, b.i, out);
    case kTypeFloat:
    case kTypeMixed:
      return combineFloats(info, a, b, out);
    case kTypeString:
      return combineStrings(info, a, b, out);
    default:
      return kErrTypesIncompatible;
  }
}

// acc := acc <op> rhs; false, with the cursor's error set, when the operands do not combine.
bool combineInto(ScriptCursor& c, const OperatorInfo& info, ScriptValue& acc, const ScriptValue& rhs) {
  ScriptValue result;
  if (const int rc = combine(info, acc, rhs, result); rc != 0) {
    c.fail(rc);
    return false;
  }
  acc = result;
  return true;
}

struct BuiltinName {
  std::string_view name;
  bool external;  // provided by another subsystem through the extension table
};

constexpr BuiltinName kBuiltins[] = {
    {"canrx", false},      {"can", false},   {"cursor", true}, {"floor", false},
    {"freeze", true},      {"int", false},   {"wcan", false},  {"ErrorInfo", false},
    {"ErrorClass", false}, {"table", false}, {"TRUE", false},  {"FALSE", false},
};

const BuiltinName* findBuiltin(std::string_view name) {
  for (const auto& b : kBuiltins) {
    if (b.name == name) return &b;
  }
  return nullptr;
}

// Read accesses of the CANopen side: lower-case words followed by ".".
constexpr std::string_view kAccessWords[] = {"sdo", "obj", "obd"};

constexpr std::string_view kBusComponents[] = {"baudrate",  "nErrorFrames", "nRxFrames",
                                               "nTxFrames", "reset",        "testDuration_sec"};

}  // namespace

int32_t truncateToInt(double v) {
  if (std::isnan(v)) return 0;
  if (v >= 2147483647.0) return INT32_MAX;
  if (v <= -2147483648.0) return INT32_MIN;
  return static_cast<int32_t>(v);
}

int valueToInt(const ScriptValue& v, int32_t& out) {
  if (v.type == kTypeInteger) {
    out = v.i;
    return 0;
  }
  if (v.type == kTypeFloat) {
    out = truncateToInt(v.f);
    return 0;
  }
  return kErrTypesIncompatible;
}

int valueToFloat(const ScriptValue& v, double& out) {
  if (v.type == kTypeInteger || v.type == kTypeFloat) {
    out = asDouble(v);
    return 0;
  }
  return kErrTypesIncompatible;
}

ScriptValue readNumber(ScriptCursor& c, int radix) {
  skipBlanks(c);
  bool negative = false;
  if (c.peek() == '-' || c.peek() == '+') {
    negative = c.peek() == '-';
    ++c.pos;
  }
  if (c.peek() == '"') {
    ++c.pos;
    char buffer[kMaxStringLength + 1];
    std::size_t n = 0;
    while (!c.atEnd() && !isControl(c.peek()) && c.peek() != '"') {
      char ch = c.peek();
      if (ch == '\\' && c.peek(1) == '"') {
        ch = '"';
        ++c.pos;
      }
      ++c.pos;
      if (n < kMaxStringLength) buffer[n++] = ch;
    }
    if (c.peek() == '"') ++c.pos;
    return ScriptValue::string(std::string_view(buffer, n));
  }
  if (atLineEnd(c)) {
    c.fail(kErrValueExpected);
    return ScriptValue::integer(0);
  }
  c.pos += ScriptRadixPrefix(c.rest(), radix);
  const std::size_t start = c.pos;
  const std::string_view number = c.rest();
  const char* p = number.data();
  uint64_t value = 0;
  ScanDigits(p, p + number.size(), radix, kAnyDigitCount, value);
  c.pos += static_cast<std::size_t>(p - number.data());
  const uint32_t acc = static_cast<uint32_t>(value);  // wraps like the language
  const int32_t sign = negative ? -1 : 1;
  if (radix != 10) return ScriptValue::integer(wrapMul(static_cast<int32_t>(acc), sign));
  bool isFloat = false;
  if (c.peek() == '.' && isDigit(c.peek(1))) {
    isFloat = true;
    c.pos += 1;
    while (isDigit(c.peek())) ++c.pos;
  }
  double mantissa = 0.0;
  if (isFloat) {
    // Correctly rounded conversion of the digits read; the exponent is applied separately.
    const std::string_view digits = c.text.substr(start, c.pos - start);
    std::from_chars(digits.data(), digits.data() + digits.size(), mantissa);
  } else {
    mantissa = static_cast<double>(acc);
  }
  if (c.peek() == 'e' && (isDigit(c.peek(1)) || c.peek(1) == '-')) {
    isFloat = true;
    ++c.pos;
    bool negExp = false;
    if (c.peek() == '-') {
      negExp = true;
      ++c.pos;
    }
    int exponent = 0;
    while (isDigit(c.peek())) {
      if (exponent < 10000) exponent = exponent * 10 + (c.peek() - '0');
      ++c.pos;
    }
    mantissa *= std::pow(10.0, negExp ? -exponent : exponent);
  }
  if (isFloat) return ScriptValue::floating(negative ? -mantissa : mantissa);
  return ScriptValue::integer(wrapMul(static_cast<int32_t>(acc), sign));
}

ScriptValue ExpressionEvaluator::evaluate(ScriptCursor& cursor) {
  return expression(cursor);
}

int ExpressionEvaluator::evaluateInt(ScriptCursor& cursor, int32_t& out) {
  const ScriptValue v = evaluate(cursor);
  if (cursor.error != 0) return cursor.error;
  const int rc = valueToInt(v, out);
  cursor.fail(rc);
  return rc;
}

int ExpressionEvaluator::evaluateFloat(ScriptCursor& cursor, double& out) {
  const ScriptValue v = evaluate(cursor);
  if (cursor.error != 0) return cursor.error;
  const int rc = valueToFloat(v, out);
  cursor.fail(rc);
  return rc;
}

ScriptValue ExpressionEvaluator::evaluateFactor(ScriptCursor& cursor, int radix) {
  return factor(cursor, radix);
}

ScriptValue ExpressionEvaluator::expression(ScriptCursor& c) {
  ScriptValue acc = term(c);
  while (c.error == 0) {
    skipBlanks(c);
    if (c.peek() == '!' && c.peek(1) != '=') break;
    const OperatorInfo* info = matchOperator(c.rest(), 1);
    if (info == nullptr) break;
    c.pos += info->text.size();
    const ScriptValue rhs = term(c);
    if (c.error != 0) break;
    if (!combineInto(c, *info, acc, rhs)) break;
  }
  return acc;
}

ScriptValue ExpressionEvaluator::term(ScriptCursor& c) {
  // "?" and "&" take whole terms on their right, so a term can recurse without a factor in between.
  if (++depth_ > kMaxDepth) {
    --depth_;
    c.fail(kErrSyntax);
    return ScriptValue::integer(0);
  }
  struct DepthGuard {
    int& d;
    ~DepthGuard() { --d; }
  } guard{depth_};
  ScriptValue acc = factor(c, 10);
  while (c.error == 0) {
    skipBlanks(c);
    if (c.peek() == '/' && c.peek(1) == '/') break;
    if (c.peek() == '?') {
      ++c.pos;
      int32_t cond = 0;
      const int crc = valueToInt(acc, cond);
      // A float condition counts as true for any non-zero value, not only after truncation.
      const bool truth = acc.type == kTypeFloat ? acc.f != 0.0 : cond != 0;
      const ScriptValue whenTrue = term(c);
      skipBlanks(c);
      if (c.error == 0 && !consume(c, ":")) c.fail(kErrSyntax);
      const ScriptValue whenFalse = term(c);
      if (c.error != 0) break;
      if (crc != 0) {
        c.fail(crc);
        break;
      }
      acc = truth ? whenTrue : whenFalse;
      continue;
    }
    const OperatorInfo* info = matchOperator(c.rest(), 2);
    if (info == nullptr) break;
    c.pos += info->text.size();
    ScriptValue rhs;
    if (info->op == Op::And || info->op == Op::LAnd) {
      rhs = term(c);
    } else {
      rhs = factor(c, 10);
    }
    if (c.error != 0) break;
    if (!combineInto(c, *info, acc, rhs)) break;
  }
  return acc;
}

bool ExpressionEvaluator::argumentsOpen(ScriptCursor& c) {
  skipBlanks(c);
  if (consume(c, "(")) return true;
  c.fail(kErrMissingArgument);
  return false;
}

bool ExpressionEvaluator::argumentsClose(ScriptCursor& c) {
  skipBlanks(c);
  if (consume(c, ")")) return true;
  c.fail(kErrSyntax);
  return false;
}

ScriptValue ExpressionEvaluator::factor(ScriptCursor& c, int radix) {
  if (c.error != 0) return ScriptValue::integer(0);
  if (++depth_ > kMaxDepth) {
    c.fail(kErrSyntax);
    --depth_;
    return ScriptValue::integer(0);
  }
  struct DepthGuard {
    int& d;
    ~DepthGuard() { --d; }
  } guard{depth_};

  skipBlanks(c);
  // 1. parentheses
  if (c.peek() == '(') {
    ++c.pos;
    // A parenthesised item of a data-byte list is an expression the user wrote on purpose: it may
    // name variables, which bare hex bytes may not.
    const bool noLookup = c.noVariableLookup;
    c.noVariableLookup = false;
    const ScriptValue v = expression(c);
    c.noVariableLookup = noLookup;
    if (c.error != 0) return v;
    skipBlanks(c);
    if (!consume(c, ")")) {
      env_.message("Programmabbruch. Klammer zu fehlt.");
      c.fail(kErrSyntax);
    }
    return v;
  }
  // 2. built-in names: letters and "_" only, so "int2" is "int" then "2"
  if (isLetter(c.peek())) {
    std::size_t n = 0;
    while (n < 16 && (isLetter(c.peek(n)) || c.peek(n) == '_')) ++n;
    const std::string_view word = c.text.substr(c.pos, n);
    if (const BuiltinName* b = findBuiltin(word)) {
      c.pos += n;
      if (b->external) return extensionFactor(b->name, c, kErrUnknownFunction);
      return builtin(b->name, c);
    }
  }
  // 3. identifiers
  if (isLetter(c.peek())) {
    const std::size_t start = c.pos;
    std::size_t n = 0;
    while (n < 20 && isIdentChar(c.peek(n))) ++n;
    const std::string_view name = c.text.substr(start, n);
    if (name.size() >= 2 && name[0] == 'X' && name[1] == 'X' && !(c.peek(2) >= 'A' && c.peek(2) <= 'Z')) {
      c.pos += n;
      return ScriptValue::special(kDontCare);
    }
    if (!c.noVariableLookup) {
      const int entry = state_.findVariable(name);
      if (entry >= 0) {
        c.pos += n;
        skipBlanks(c);
        if (c.peek() != '[') return state_.variable(entry).value;
        ++c.pos;
        int32_t index = 0;
        const ScriptValue iv = expression(c);
        if (c.error != 0) return ScriptValue::integer(0);
        if (const int rc = valueToInt(iv, index); rc != 0) {
          c.fail(rc);
          return ScriptValue::integer(0);
        }
        skipBlanks(c);
        if (!consume(c, "]")) {
          c.fail(kErrSyntax);
          return ScriptValue::integer(0);
        }
        const ScriptValue* el = state_.element(entry, index);
        return el != nullptr ? *el : ScriptValue::integer(0);
      }
    }
    if (radix == 16 && HexDigitValue(c.peek()) >= 0) return readNumber(c, 16);
  }
  // 4. lower-case words
  if (c.peek() >= 'a' && c.peek() <= 'z') {
    bool handled = false;
    ScriptValue v = lowerCaseWord(c, handled);
    if (handled) return v;
    return readNumber(c, radix);
  }
  // 5. character constant
  if (c.peek() == '\'') {
    if (c.pos + 2 < c.text.size() && c.peek(2) == '\'') {
      const int32_t ch = static_cast<unsigned char>(c.peek(1));
      c.pos += 3;
      return ScriptValue::integer(ch);
    }
    c.fail(kErrSyntax);
    return ScriptValue::integer(0);
  }
  // 6. number or string
  return readNumber(c, radix);
}

ScriptValue ExpressionEvaluator::lowerCaseWord(ScriptCursor& c, bool& handled) {
  handled = true;
  if ((c.flags & kCursorColourNames) != 0) {
    struct Colour {
      std::string_view name;
      int32_t value;
    };
    static constexpr Colour kColours[] = {{"red", 0x0000FF}, {"green", 0x00FF00}, {"blue", 0xFF0000},
                                          {"black", 0},      {"white", 0xFFFFFF}, {"yellow", 0x00FFFF}};
    for (const auto& col : kColours) {
      if (consumeWord(c, col.name)) return ScriptValue::integer(col.value);
    }
  }
  if (consumeWord(c, "hl")) {
    skipBlanks(c);
    if (!consume(c, "(")) {
      c.fail(kErrMissingArgument);
      return ScriptValue::integer(0);
    }
    uint32_t result = 0;
    bool first = true;
    do {
      int32_t b = 0;
      const ScriptValue v = expression(c);
      if (c.error != 0) return ScriptValue::integer(0);
      if (const int rc = valueToInt(v, b); rc != 0) {
        c.fail(rc);
        return ScriptValue::integer(0);
      }
      result = first ? static_cast<uint32_t>(static_cast<int32_t>(static_cast<int8_t>(b & 0xFF)))
                     : (result << 8) | static_cast<uint32_t>(b & 0xFF);
      first = false;
      skipBlanks(c);
    } while (consume(c, ","));
    if (!argumentsClose(c)) return ScriptValue::integer(0);
    return ScriptValue::integer(static_cast<int32_t>(result));
  }
  if (consumeWord(c, "isin")) {
    if (!argumentsOpen(c)) return ScriptValue::integer(0);
    int32_t args[3] = {0, 1024, 32767};
    int count = 0;
    do {
      const ScriptValue v = expression(c);
      if (c.error != 0) return ScriptValue::integer(0);
      int32_t a = 0;
      if (const int rc = valueToInt(v, a); rc != 0) {
        c.fail(rc);
        return ScriptValue::integer(0);
      }
      if (count < 3) args[count] = a;
      ++count;
      skipBlanks(c);
    } while (consume(c, ","));
    if (!argumentsClose(c)) return ScriptValue::integer(0);
    const int64_t period = args[1];
    if (period <= 1) return ScriptValue::integer(0);
    const double phase = static_cast<double>(static_cast<int64_t>(args[0]) % (period - 1));
    return ScriptValue::integer(
        truncateToInt(args[2] * std::sin(phase * 2.0 * std::numbers::pi / static_cast<double>(period))));
  }
  if (consume(c, "rx.")) return rxComponent(c);
  for (std::string_view word : kAccessWords) {
    if (c.rest().substr(0, word.size()) == word && c.peek(word.size()) == '.') {
      c.pos += word.size();
      // Without the subsystem the access is a part of the language this build does not have.
      return extensionFactor(word, c, kErrNotImplemented);
    }
  }
  {
    std::size_t n = 0;
    while (c.peek(n) == 'x') ++n;
    if (n > 0 && !isIdentChar(c.peek(n))) {
      c.pos += n;
      return ScriptValue::special(kDontCare);
    }
  }
  for (std::string_view word : {"time", "tim", "ti", "t"}) {
    if (consumeWord(c, word)) {
      const double ms = c.referenceTimeSec != 0.0 ? c.referenceTimeSec * 1000.0 : env_.nowMs();
      // The millisecond count wraps like the 32-bit tick it stands for.
      const double wrapped = std::fmod(std::trunc(ms), 4294967296.0);
      return ScriptValue::integer(
          static_cast<int32_t>(static_cast<uint32_t>(wrapped < 0 ? wrapped + 4294967296.0 : wrapped)));
    }
  }
  handled = false;
  return ScriptValue::integer(0);
}

ScriptValue ExpressionEvaluator::rxComponent(ScriptCursor& c) {
  if (c.frame == nullptr) {
    c.fail(kErrNullPointer);
    return ScriptValue::integer(0);
  }
  const CanFrame& f = *c.frame;
  if (c.peek() == 'd') {
    ++c.pos;
    const ScriptValue n = readNumber(c, 10);
    if (c.error != 0) return ScriptValue::integer(0);
    if (n.type != kTypeInteger || n.i < 0 || n.i > 8) {
      c.fail(kErrIllegalIndex);
      return ScriptValue::integer(0);
    }
    return ScriptValue::integer(f.data[n.i]);
  }
  auto word = [&](std::initializer_list<std::string_view> forms) {
    for (std::string_view w : forms) {
      if (consumeWord(c, w)) return true;
    }
    return false;
  };
  if (word({"id", "i"})) return ScriptValue::integer(static_cast<int32_t>(f.id));
  if (word({"len", "le", "l"})) return ScriptValue::integer(f.length);
  if (word({"rtr", "rt", "r"})) return ScriptValue::integer(f.rtr);
  if (word({"time", "tim", "ti", "t"})) return ScriptValue::integer(static_cast<int32_t>(f.timestamp));
  env_.message("Rechenfehler: Unbekannte Message-Komponente.");
  c.fail(kErrUnknownComponent);
  return ScriptValue::integer(0);
}

ScriptValue ExpressionEvaluator::builtin(std::string_view name, ScriptCursor& c) {
  const ScriptValue zero = ScriptValue::integer(0);
  if (name == "TRUE") return ScriptValue::integer(1);
  if (name == "FALSE") return zero;
  if (name == "floor" || name == "int") {
    if (!argumentsOpen(c)) return zero;
    const ScriptValue v = expression(c);
    if (c.error != 0 || !argumentsClose(c)) return zero;
    if (name == "int") {
      int32_t i = 0;
      c.fail(valueToInt(v, i));
      return ScriptValue::integer(i);
    }
    double f = 0;
    c.fail(valueToFloat(v, f));
    return ScriptValue::floating(std::floor(f));
  }
  if (name == "canrx") return canReceive(c);
  if (name == "can") return canBus(c);
  if (name == "wcan") {
    if (c.peek() != '.') {
      c.fail(kErrUnknownComponent);
      return zero;
    }
    return frameComponent(c, state_.wcanFrame);
  }
  if (name == "ErrorInfo") {
    if (consumeWord(c, ".line")) return ScriptValue::integer(state_.lastErrorLine);
    if (consumeWord(c, ".code")) return ScriptValue::integer(state_.lastErrorCode);
    if (consumeWord(c, ".text")) {
      char buffer[48];
      return ScriptValue::string(scriptErrorText(state_.lastErrorCode, buffer));
    }
    c.fail(kErrUnknownComponent);
    return zero;
  }
  if (name == "ErrorClass") {
    if (c.peek() != '.') return ScriptValue::integer(state_.handledErrorClass);
    ++c.pos;
    std::size_t n = 0;
    while (isIdentChar(c.peek(n))) ++n;
    const std::string_view word = c.text.substr(c.pos, n);
    c.pos += n;
    return ScriptValue::integer(scriptErrorClassByName(word));
  }
  // table[i](e0, e1, ...)
  skipBlanks(c);
  if (!consume(c, "[")) {
    c.fail(kErrSyntax);
    return zero;
  }
  int32_t index = 0;
  const ScriptValue iv = expression(c);
  if (c.error != 0) return zero;
  if (const int rc = valueToInt(iv, index); rc != 0) {
    c.fail(rc);
    return zero;
  }
  skipBlanks(c);
  if (!consume(c, "]")) {
    c.fail(kErrSyntax);
    return zero;
  }
  if (!argumentsOpen(c)) return zero;
  ScriptValue picked = zero;
  int32_t count = 0;
  do {
    const ScriptValue v = expression(c);
    if (c.error != 0) return zero;
    if (count == index) picked = v;
    ++count;
    skipBlanks(c);
  } while (consume(c, ","));
  if (!argumentsClose(c)) return zero;
  if (index < 0) return zero;
  if (index >= count) {
    c.fail(kErrIllegalIndex);
    return zero;
  }
  return picked;
}

int ExpressionEvaluator::readTypeArgument(ScriptCursor& c, int& type) {
  skipBlanks(c);
  type = readDataTypeName(c);
  if (type >= 0) return 0;
  // Not a name: a numeric type code.
  int32_t code = 0;
  const ScriptValue v = expression(c);
  if (c.error != 0) return c.error;
  if (const int rc = valueToInt(v, code); rc != 0) return rc;
  if (code < 0 || code > 255) return kErrTypeNotSupported;
  type = code;
  return 0;
}

ScriptValue ExpressionEvaluator::frameComponent(ScriptCursor& c, const CanFrame& frame) {
  const ScriptValue zero = ScriptValue::integer(0);
  if (consumeWord(c, ".id")) return ScriptValue::integer(static_cast<int32_t>(frame.id));
  if (consumeWord(c, ".len")) return ScriptValue::integer(frame.length);
  if (consumeWord(c, ".count")) return ScriptValue::integer(env_.receivedCount(frame.id));
  if (!consumeWord(c, ".dat")) {
    c.fail(kErrUnknownComponent);
    return zero;
  }
  if (!argumentsOpen(c)) return zero;
  int32_t bit = 0;
  if (const int rc = valueToInt(expression(c), bit); c.error != 0 || rc != 0) {
    c.fail(rc);
    return zero;
  }
  int type = kCoTypeUnsigned8;
  skipBlanks(c);
  if (consume(c, ",")) {
    if (const int rc = readTypeArgument(c, type); rc != 0) {
      c.fail(rc);
      return zero;
    }
  }
  if (!argumentsClose(c)) return zero;
  ScriptValue out = zero;
  c.fail(extractValue(frame, bit, type, out));
  return out;
}

ScriptValue ExpressionEvaluator::canBus(ScriptCursor& c) {
  const ScriptValue zero = ScriptValue::integer(0);
  int32_t bus = 0;
  if (consume(c, "[")) {
    if (const int rc = valueToInt(expression(c), bus); c.error != 0 || rc != 0) {
      c.fail(rc);
      return zero;
    }
    skipBlanks(c);
    if (!consume(c, "]")) {
      c.fail(kErrSyntax);
      return zero;
    }
    bus = bus < 0 ? 0 : (bus > 1 ? 1 : bus);
  }
  if (consume(c, ".")) {
    for (std::string_view component : kBusComponents) {
      if (consumeWord(c, component)) {
        const ScriptExtensions* table = env_.extensions();
        const ScriptExtensions::BusComponent* read =
            table != nullptr ? table->busComponent(component) : nullptr;
        if (read == nullptr) {
          c.fail(kErrUnknownFunction);
          return zero;
        }
        return (*read)(bus, c);
      }
    }
  }
  c.fail(kErrUnknownComponent);
  return zero;
}

ScriptValue ExpressionEvaluator::extensionFactor(std::string_view name, ScriptCursor& c, int unregistered) {
  const ScriptExtensions* table = env_.extensions();
  const ScriptExtensions::Factor* read = table != nullptr ? table->factor(name) : nullptr;
  if (read == nullptr) {
    c.fail(unregistered);
    return ScriptValue::integer(0);
  }
  return (*read)(*this, c);
}

ScriptValue ExpressionEvaluator::canReceive(ScriptCursor& c) {
  const ScriptValue zero = ScriptValue::integer(0);
  const bool useLatch = consume(c, ".latch");
  const bool updateLatch = consume(c, ".update_latch");
  skipBlanks(c);
  if (c.peek() != '(') {
    if (!useLatch) {
      c.fail(kErrMissingArgument);
      return zero;
    }
    if (c.peek() == '.') return frameComponent(c, state_.latch);
    ScriptValue out = zero;
    c.fail(extractValue(state_.latch, 0, kCoTypeUnsigned8, out));
    return out;
  }
  ++c.pos;
  uint32_t id = 0;
  bool needComma = false;
  if (!useLatch) {
    int32_t raw = 0;
    if (const int rc = valueToInt(factor(c, 16), raw); c.error != 0 || rc != 0) {
      c.fail(rc);
      return zero;
    }
    id = static_cast<uint32_t>(raw);
    if ((id & CanFrame::kExtendedOnlyBits) != 0) id |= CanFrame::kExtended;
    if (consume(c, ".x")) {
      id |= CanFrame::kExtended;
    } else if (consume(c, ".s")) {
      id &= ~CanFrame::kExtended;
    }
    needComma = true;
  }
  int32_t bit = 0;
  int type = kCoTypeUnsigned8;
  bool haveDefault = false;
  ScriptValue fallback = zero;
  int argument = 0;
  for (;;) {
    skipBlanks(c);
    if (c.peek() == ')') break;
    if (needComma && !consume(c, ",")) break;
    needComma = true;
    skipBlanks(c);
    if (argument == 0) {
      if (const int rc = valueToInt(expression(c), bit); c.error != 0 || rc != 0) {
        c.fail(rc);
        return zero;
      }
    } else if (argument == 1) {
      if (const int rc = readTypeArgument(c, type); rc != 0) {
        c.fail(rc);
        return zero;
      }
    } else if (argument == 2) {
      fallback = expression(c);
      if (c.error != 0) return zero;
      haveDefault = true;
    } else {
      break;
    }
    ++argument;
  }
  if (!argumentsClose(c)) return zero;

  ScriptValue out = zero;
  if (useLatch) {
    c.fail(extractValue(state_.latch, bit, type, out));
    return out;
  }
  CanFrame found;
  if (!env_.findReceivedFrame(id, c.referenceTimeSec, found)) {
    if (updateLatch) {
      state_.latch.length = 0;
      return zero;
    }
    if (haveDefault) return fallback;
    c.fail(kErrFunctionFailed);
    return zero;
  }
  if (updateLatch) {
    state_.latch = found;
    return ScriptValue::integer(1);
  }
  c.fail(extractValue(found, bit, type, out));
  return out;
}

int ExpressionEvaluator::readDataBytes(ScriptCursor& c, uint8_t* buffer, int capacity) {
  int filled = 0;
  const bool savedLookup = c.noVariableLookup;
  c.noVariableLookup = true;
  while (filled < capacity && c.error == 0) {
    skipBlanks(c);
    if (c.peek() == '"') {
      ++c.pos;
      while (filled < capacity && !c.atEnd() && !isControl(c.peek()) && c.peek() != '"') {
        buffer[filled++] = static_cast<uint8_t>(c.peek());
        ++c.pos;
      }
      if (c.peek() == '"') ++c.pos;
      continue;
    }
    const std::size_t before = c.pos;
    ScriptCursor probe = c;
    probe.error = 0;
    const ScriptValue v = factor(probe, 16);
    if (probe.error == kErrValueExpected) break;
    c.pos = probe.pos;
    if (probe.error != 0) {
      c.fail(probe.error);
      break;
    }
    if (c.pos == before) break;
    // Suffix: width and byte order.
    int width = 1;
    bool bigEndian = false;
    bool single = false;
    if (c.peek() == '.') {
      auto lower = [&](std::size_t k) {
        const char ch = c.peek(k);
        return static_cast<char>(ch >= 'A' && ch <= 'Z' ? ch - 'A' + 'a' : ch);
      };
      const char a = lower(1);
      const char b = lower(2);
      std::size_t len = 0;
      if (a == 'i' && b == 'w') {
        width = 2, len = 3;
      } else if (a == 'i' && b == 'l') {
        width = 4, len = 3;
      } else if (a == 'i' && b == 'f') {
        width = 4, single = true, len = 3;
      } else if (a == 'm' && b == 'w') {
        width = 2, bigEndian = true, len = 3;
      } else if (a == 'm' && b == 'l') {
        width = 4, bigEndian = true, len = 3;
      } else if (a == 'm' && b == 'f') {
        width = 4, bigEndian = true, single = true, len = 3;
      } else if (a == 'b') {
        len = 2;
      } else if (a == 'w' || a == 'i') {
        width = 2, len = 2;
      } else if (a == 'l') {
        width = 4, len = 2;
      }
      c.pos += len;
    }
    uint32_t raw = 0;
    if (single) {
      double d = 0;
      if (const int rc = valueToFloat(v, d); rc != 0) {
        c.fail(rc);
        break;
      }
      const float fl = static_cast<float>(d);
      std::memcpy(&raw, &fl, sizeof raw);
    } else {
      int32_t i = 0;
      if (const int rc = valueToInt(v, i); rc != 0) {
        c.fail(rc);
        break;
      }
      raw = static_cast<uint32_t>(i);
    }
    // A value wider than the room left is cut at the end of the buffer.
    for (int k = 0; k < width && filled < capacity; ++k) {
      const int shift = bigEndian ? 8 * (width - 1 - k) : 8 * k;
      buffer[filled++] = static_cast<uint8_t>(raw >> shift);
    }
  }
  c.noVariableLookup = savedLookup;
  return filled;
}

std::string_view ExtensionFactorName(std::string_view name) {
  if (const BuiltinName* b = findBuiltin(name); b != nullptr && b->external) return b->name;
  for (std::string_view word : kAccessWords) {
    if (word == name) return word;
  }
  return {};
}

std::string_view BusComponentName(std::string_view name) {
  for (std::string_view component : kBusComponents) {
    if (component == name) return component;
  }
  return {};
}

int readDataTypeName(ScriptCursor& c) {
  skipBlanks(c);
  std::size_t length = 0;
  const CanopenDataType* type = MatchCanopenTypeName(c.rest(), length);
  if (type == nullptr) return -1;
  c.pos += length;
  return type->code;
}

int extractValue(const CanFrame& frame, int32_t bitPosition, int typeCode, ScriptValue& out) {
  if (bitPosition < 0) return kErrIllegalArgument;
  const CanopenDataType* type = FindCanopenDataType(typeCode);
  if (type == nullptr || !type->frameReadable) return kErrTypeNotSupported;
  const int64_t offset = bitPosition / 8;
  const int shift = bitPosition % 8;
  auto byteAt = [&](int64_t k) -> uint32_t {
    return k < frame.length && k < static_cast<int64_t>(sizeof frame.data) ? frame.data[k] : 0u;
  };
  uint8_t b[4];
  for (int k = 0; k < 4; ++k) {
    uint32_t v = byteAt(offset + k) >> shift;
    if (shift != 0) v |= byteAt(offset + k + 1) << (8 - shift);
    b[k] = static_cast<uint8_t>(v);
  }
  if (type->kind == CanopenValueKind::kFloat) {
    const uint32_t bits = CanopenRawBits(*type, b);
    float f;
    std::memcpy(&f, &bits, sizeof f);
    out = ScriptValue::floating(f);
    return 0;
  }
  // 32-bit unsigned values wrap into the script's int32 like every other integer.
  out = ScriptValue::integer(static_cast<int32_t>(static_cast<uint32_t>(CanopenIntegerValue(*type, b))));
  return 0;
}

}  // namespace busprobe
