#include "interp/variable_file.h"

#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base/atomic_file.h"
#include "base/guarded_file.h"

namespace busprobe {

namespace {

constexpr std::string_view kFileHeader =
    "; Current variable values saved by Rilo's BUSPROBE V1 .\r\n"
    "; You may delete this file to \"forget\" the old values .\r\n";

// A variable line that does not fit this buffer is left out of the file.
constexpr std::size_t kSaveLineBuffer = 250;

bool isDigit(char ch) {
  return ch >= '0' && ch <= '9';
}
bool isIdentChar(char ch) {
  return (ch >= 'a' && ch <= 'z') || (ch >= 'A' && ch <= 'Z') || isDigit(ch) || ch == '_';
}
bool isControl(char ch) {
  return static_cast<unsigned char>(ch) < 0x20;
}
void skipBlanks(ScriptCursor& c) {
  while (c.peek() == ' ') ++c.pos;
}
bool consume(ScriptCursor& c, std::string_view token) {
  if (c.rest().substr(0, token.size()) != token) return false;
  c.pos += token.size();
  return true;
}
std::string_view trimTrailingBlanks(std::string_view s) {
  while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
  return s;
}

// Splits text into lines at CR and LF and hands every line that begins with "A".."Z" to the
// parser. A line longer than the limit is read up to the limit; the rest of it is skipped, not
// taken for a line of its own.
class LineReader {
 public:
  LineReader(InterpState& state, ScriptEnvironment& env) : state_(state), env_(env) {}

  void feed(std::string_view chunk) {
    for (const char ch : chunk) {
      if (ch == '\r' || ch == '\n') {
        flush();
        continue;
      }
      if (length_ < kVariableLineChars) line_[length_++] = ch;
    }
  }
  void finish() { flush(); }

 private:
  void flush() {
    if (length_ > 0 && line_[0] >= 'A' && line_[0] <= 'Z') {
      ParseVariableLine(state_, env_, std::string_view(line_, length_));
    }
    length_ = 0;
  }

  InterpState& state_;
  ScriptEnvironment& env_;
  char line_[kVariableLineChars];
  std::size_t length_ = 0;
};

// A quoted name or a word; longer names are cut like names in assignments.
std::size_t readName(ScriptCursor& c, char (&name)[kVariableNameLength + 1]) {
  std::size_t n = 0;
  if (c.peek() == '"') {
    ++c.pos;
    while (!c.atEnd() && !isControl(c.peek()) && c.peek() != '"') {
      if (n < kVariableNameLength) name[n++] = c.peek();
      ++c.pos;
    }
    if (c.peek() == '"') ++c.pos;
  } else {
    while (isIdentChar(c.peek())) {
      if (n < kVariableNameLength) name[n++] = c.peek();
      ++c.pos;
    }
  }
  name[n] = '\0';
  return n;
}

// Type code of the mnemonic behind "ty=", -1 for an unknown one.
int readTypeMnemonic(ScriptCursor& c) {
  struct Mnemonic {
    std::string_view text;
    int type;
  };
  // "SPC" is how the variable listing shows a special value; someone copying from there means it.
  static constexpr Mnemonic kMnemonics[] = {
      {"???", kTypeUnused},  {"I32", kTypeInteger}, {"INT", kTypeInteger}, {"FLT", kTypeFloat},
      {"INV", kTypeSpecial}, {"SPC", kTypeSpecial}, {"STR", kTypeString}};
  for (const auto& m : kMnemonics) {
    if (consume(c, m.text)) return m.type;
  }
  return -1;
}

// The string behind "va=": the first plain double quote ends it. Strings are saved without
// escapes, so a saved text ending in a backslash shows up as `\"` at the very end of the line:
// that is the text's last character and the closing quote, not an escaped quote.
ScriptValue readStringValue(ScriptCursor& c) {
  const std::size_t end = trimTrailingBlanks(c.text).size();
  if (c.peek() == '"') ++c.pos;
  char text[kMaxStringLength];
  std::size_t n = 0;
  auto keep = [&](char ch) {
    if (n < kMaxStringLength) text[n++] = ch;
  };
  while (!c.atEnd() && !isControl(c.peek())) {
    const char ch = c.peek();
    if (ch == '"') {
      ++c.pos;
      break;
    }
    if (ch == '\\' && c.peek(1) == '"') {
      if (c.pos + 2 == end) {
        keep('\\');
        c.pos += 2;
        break;
      }
      keep('"');
      c.pos += 2;
      continue;
    }
    keep(ch);
    ++c.pos;
  }
  return ScriptValue::string(std::string_view(text, n));
}

// "%lg" writes large and small floats as "1e+20", which the expression syntax would read as
// 1 + 20, and infinities as "inf". A float line whose value is one plain number is therefore
// read as a C number; it also keeps a float that happens to be whole ("5") a float.
bool readPlainFloat(std::string_view text, double& out) {
  text = trimTrailingBlanks(text);
  if (text.empty()) return false;
  const char* first = text.data();
  if (*first == '+') ++first;
  const char* last = text.data() + text.size();
  const auto [ptr, ec] = std::from_chars(first, last, out);
  return ec == std::errc() && ptr == last;
}

}  // namespace

std::string FormatVariablesFile(const InterpState& state) {
  std::string text(kFileHeader);
  for (int k = 0; k < kVariableCount; ++k) {
    const ScriptVariable& var = state.variable(k);
    if (var.name[0] == '\0' || static_cast<unsigned char>(var.name[0]) >= 0x80 ||
        var.value.type == kTypeUnused) {
      continue;
    }
    char line[kSaveLineBuffer];
    const std::size_t n = formatVariableFileLine(var, line, sizeof line);
    if (n + 1 >= sizeof line) continue;
    std::string_view view(line, n);
    // A line break inside a string value would turn its tail into a line of its own, read back
    // as a variable; the loader stops at a control character anyway.
    view = view.substr(0, view.find_first_of("\r\n"));
    text.append(view);
    text.append("\r\n");
  }
  return text;
}

bool SaveVariables(const InterpState& state, const std::string& path) {
  return WriteFileAtomically(path, FormatVariablesFile(state)) == 0;
}

bool LoadVariables(InterpState& state, ScriptEnvironment& env, const std::string& path, std::string* error) {
  std::string text, reason;
  switch (ReadRegularFile(path, kMaxVariablesFileBytes, text, &reason)) {
    case GuardedReadStatus::kOk:
      LoadVariablesFromText(state, env, text);
      return true;
    case GuardedReadStatus::kMissing:
    case GuardedReadStatus::kCannotOpen:
      return false;
    case GuardedReadStatus::kRefused:
      break;
  }
  if (error) *error = "Variables file \"" + path + "\" not loaded: " + reason + ".";
  return false;
}

void LoadVariablesFromText(InterpState& state, ScriptEnvironment& env, std::string_view text) {
  LineReader reader(state, env);
  reader.feed(text);
  reader.finish();
}

void ParseVariableLine(InterpState& state, ScriptEnvironment& env, std::string_view line) {
  ScriptCursor c(line);
  skipBlanks(c);
  char name[kVariableNameLength + 1];
  if (readName(c, name) == 0) return;
  skipBlanks(c);
  consume(c, ":");
  skipBlanks(c);
  consume(c, "=");
  skipBlanks(c);
  const int entry = state.findOrCreateVariable(name);
  if (entry < 0) return;
  ScriptValue& target = state.variable(entry).value;

  int type = -1;
  if (consume(c, "ty=")) {
    skipBlanks(c);
    type = readTypeMnemonic(c);
    if (type < 0) return;
    skipBlanks(c);
    consume(c, ",");
  }
  skipBlanks(c);
  consume(c, "va=");
  skipBlanks(c);
  if (type < 0) {
    const char ch = c.peek();
    if (ch == '"') {
      type = kTypeString;
    } else if (isDigit(ch) || ((ch == '-' || ch == '+') && isDigit(c.peek(1)))) {
      type = kTypeInteger;
    } else {
      return;
    }
  }

  switch (type) {
    case kTypeInteger:
    case kTypeFloat: {
      double f = 0.0;
      if (type == kTypeFloat && readPlainFloat(c.rest(), f)) {
        target = ScriptValue::floating(f);
        return;
      }
      ExpressionEvaluator eval(state, env);
      const ScriptValue v = eval.evaluate(c);
      if (c.error == 0) target = v;
      return;
    }
    case kTypeSpecial: {
      const std::string_view rest = trimTrailingBlanks(c.rest());
      for (const int32_t code : {kDontCare, kNotANumber, kPosInfinity, kNegInfinity}) {
        if (rest == specialName(code)) {
          target = ScriptValue::special(code);
          return;
        }
      }
      ExpressionEvaluator eval(state, env);
      const ScriptValue v = eval.evaluate(c);
      int32_t code = 0;
      if (c.error != 0) return;
      if (v.type == kTypeSpecial) {
        code = v.i;
      } else if (valueToInt(v, code) != 0) {
        return;
      }
      target = ScriptValue::special(code);
      return;
    }
    case kTypeString:
      target = readStringValue(c);
      return;
    default:
      return;  // "???": the variable stays unused
  }
}

}  // namespace busprobe
