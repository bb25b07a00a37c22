#include "interp/frame_text.h"

#include <cstring>

namespace busprobe {

namespace {

constexpr int kClassicMaxLength = 8;
constexpr int kFdMaxLength = 64;
constexpr uint32_t kMaxIdentifier = 0x1FFFFFFFu;
constexpr uint32_t kMaxStandardIdentifier = 0x7FFu;
// Larger than any length we accept, small enough that accumulating digits cannot overflow.
constexpr int kLengthCap = 1000;

bool isDigit(char ch) {
  return ch >= '0' && ch <= '9';
}
bool isIdentChar(char ch) {
  return (ch >= 'a' && ch <= 'z') || (ch >= 'A' && ch <= 'Z') || isDigit(ch) || ch == '_';
}
void skipBlanks(ScriptCursor& c) {
  while (c.peek() == ' ') ++c.pos;
}

int readDecimal(ScriptCursor& c) {
  int value = 0;
  while (isDigit(c.peek())) {
    if (value < kLengthCap) value = value * 10 + (c.peek() - '0');
    ++c.pos;
  }
  return value;
}

// -1 until a length is given; a second, different one is a contradiction.
bool noteLength(int& length, int value) {
  if (length >= 0 && length != value) return false;
  length = value;
  return true;
}

struct FrameText {
  int bus = 0;
  uint32_t identifier = 0;
  char suffix = '\0';  // 'x', 's' or '\0'
  bool fd = false;
  bool remote = false;
  int length = -1;  // explicit length, -1 when none was given
  uint8_t data[kFdMaxLength + 1] = {};
  int count = 0;
};

int readIdentifier(ExpressionEvaluator& eval, ScriptCursor& c, FrameText& f) {
  if (c.peek() == '#' && c.peek(1) >= '1' && c.peek(1) <= '4' && c.peek(2) == ' ') {
    f.bus = c.peek(1) - '1';
    c.pos += 3;
    skipBlanks(c);
  }
  const ScriptValue v = eval.evaluateFactor(c, 16);
  if (c.error != 0) return c.error;
  int32_t raw = 0;
  if (const int rc = valueToInt(v, raw); rc != 0) return rc;
  if (raw < 0 || static_cast<uint32_t>(raw) > kMaxIdentifier) return kErrIllegalArgument;
  f.identifier = static_cast<uint32_t>(raw);

  const std::size_t at = c.peek() == '.' ? 1 : 0;
  const char mark = c.peek(at);
  if ((mark == 'x' || mark == 's' || mark == 'X' || mark == 'S') && !isIdentChar(c.peek(at + 1))) {
    f.suffix = mark == 'x' || mark == 'X' ? 'x' : 's';
    f.fd = mark == 'X' || mark == 'S';
    c.pos += at + 1;
  }
  return 0;
}

// "r [len] [XX ...]" and "[len]", in either order.
int readModifiers(ScriptCursor& c, FrameText& f) {
  bool haveBracket = false;
  for (;;) {
    skipBlanks(c);
    const char next = c.peek(1);
    if (c.peek() == 'r' && !f.remote && !((next >= 'a' && next <= 'z') || next == '_')) {
      f.remote = true;
      ++c.pos;
      skipBlanks(c);
      if (isDigit(c.peek()) && !noteLength(f.length, readDecimal(c))) return kErrIllegalArgument;
      int placeholders = 0;
      for (;;) {
        skipBlanks(c);
        if (c.peek() != 'X' || c.peek(1) != 'X' || isIdentChar(c.peek(2))) break;
        c.pos += 2;
        ++placeholders;
      }
      if (placeholders > 0 && !noteLength(f.length, placeholders)) return kErrIllegalArgument;
      continue;
    }
    if (c.peek() == '[' && !haveBracket) {
      haveBracket = true;
      ++c.pos;
      skipBlanks(c);
      if (!isDigit(c.peek())) return kErrSyntax;
      const int length = readDecimal(c);
      skipBlanks(c);
      if (c.peek() != ']') return kErrSyntax;
      ++c.pos;
      if (!noteLength(f.length, length)) return kErrIllegalArgument;
      continue;
    }
    return 0;
  }
}

bool atFrameEnd(const ScriptCursor& c) {
  const char ch = c.peek();
  return c.atEnd() || static_cast<unsigned char>(ch) < 0x20 || ch == ';' || (ch == '/' && c.peek(1) == '/');
}

int parse(ExpressionEvaluator& eval, ScriptCursor& c, CanFrame& out) {
  FrameText f;
  skipBlanks(c);
  if (const int rc = readIdentifier(eval, c, f); rc != 0) return rc;
  if (const int rc = readModifiers(c, f); rc != 0) return rc;
  const int maxLength = f.fd ? kFdMaxLength : kClassicMaxLength;
  if (!f.remote) {
    // One byte more than allowed, so that too many bytes are told apart from leftover text.
    f.count = eval.readDataBytes(c, f.data, maxLength + 1);
    if (c.error != 0) return c.error;
  }
  skipBlanks(c);
  if (!atFrameEnd(c)) return kErrSyntax;

  if (f.suffix == 's' && f.identifier > kMaxStandardIdentifier) return kErrIllegalArgument;
  const bool extended = f.suffix == 'x' || (f.suffix == '\0' && f.identifier > kMaxStandardIdentifier);
  if (f.remote && f.fd) return kErrIllegalArgument;  // CAN FD has no remote frames
  if (f.count > maxLength || f.length > maxLength) return kErrIllegalArgument;
  int length = f.count;
  if (f.length >= 0) {
    if (f.count > f.length) return kErrIllegalArgument;
    length = f.fd ? CanRoundUpFdLength(f.length) : f.length;
  } else if (f.fd) {
    length = CanRoundUpFdLength(f.count);
  }

  out = CanFrame{};
  out.id = f.identifier | (extended ? CanFrame::kExtended : 0u) |
           (static_cast<uint32_t>(f.bus) << CanFrame::kBusShift);
  out.rtr = f.remote ? 1 : 0;
  out.length = static_cast<uint8_t>(length);
  out.fdFlags = f.fd ? static_cast<uint8_t>(CanFrame::kFdf | CanFrame::kBrs) : 0;
  std::memcpy(out.data, f.data, static_cast<std::size_t>(f.count));
  return 0;
}

}  // namespace

int ParseFrameText(ExpressionEvaluator& eval, ScriptCursor& cursor, CanFrame& out) {
  if (cursor.error != 0) return cursor.error;
  if (const int rc = parse(eval, cursor, out); rc != 0) {
    cursor.fail(rc);
    return cursor.error;
  }
  return 0;
}

}  // namespace busprobe
