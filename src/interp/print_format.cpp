#include "interp/print_format.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

namespace busprobe {

namespace {

bool isControl(char ch) {
  return static_cast<unsigned char>(ch) < 0x20;
}
bool isDigit(char ch) {
  return ch >= '0' && ch <= '9';
}

void skipBlanks(ScriptCursor& c) {
  while (c.peek() == ' ') ++c.pos;
}

enum class Separator { End, Comma, Semicolon };

class Formatter {
 public:
  Formatter(ExpressionEvaluator& eval, ScriptCursor& c, PrintOutput& out, bool parens)
      : eval_(eval), c_(c), out_(out), parens_(parens) {}

  int run() {
    skipBlanks(c_);
    if (listEndsHere()) return finishList();
    if (c_.peek() == '"' && literalStandsAlone()) {
      char format[kPrintFormatChars];
      const std::size_t n = readFormat(format);
      if (const int rc = expandFormat(std::string_view(format, n)); rc != 0) return rc;
    } else if (const int rc = plainArgument(); rc != 0) {
      return rc;
    }
    for (;;) {
      Separator sep = Separator::End;
      if (const int rc = readSeparator(sep); rc != 0) return rc;
      if (sep == Separator::End) return 0;
      if (sep == Separator::Comma && !append(" ")) return kErrStringLength;
      if (const int rc = plainArgument(); rc != 0) return rc;
    }
  }

 private:
  // Where an argument could start: is there nothing (more) to read?
  bool listEndsHere() const {
    if (parens_) return c_.peek() == ')';
    return atPlainEnd();
  }

  bool atPlainEnd() const {
    const char ch = c_.peek();
    return c_.atEnd() || isControl(ch) || ch == ':' || ch == ';' || (ch == '/' && c_.peek(1) == '/');
  }

  int finishList() {
    if (parens_) {
      if (c_.peek() != ')') return kErrSyntax;
      ++c_.pos;
    }
    return 0;
  }

  // Behind an argument: a separator, the end of the list, or a syntax error.
  int readSeparator(Separator& sep) {
    skipBlanks(c_);
    sep = Separator::End;
    if (c_.peek() == ',') {
      ++c_.pos;
      sep = Separator::Comma;
      return 0;
    }
    if (!parens_) return atPlainEnd() ? 0 : kErrSyntax;
    if (c_.peek() == ';') {
      ++c_.pos;
      skipBlanks(c_);
      if (c_.peek() == ')') {
        ++c_.pos;
        out_.suppressLineFeed = true;
        return 0;
      }
      sep = Separator::Semicolon;
      return 0;
    }
    // The parenthesised list only ends at its ")"; anything else, the end of the line included,
    // leaves it open.
    return finishList();
  }

  // Only a literal that makes up the whole first argument is a format: `print "a" + "b"` is an
  // expression like any other.
  bool literalStandsAlone() const {
    ScriptCursor probe = c_;
    ++probe.pos;
    while (!probe.atEnd() && probe.peek() != '"')
      probe.pos += probe.peek() == '\\' && probe.peek(1) == '"' ? 2 : 1;
    if (probe.peek() == '"') ++probe.pos;
    skipBlanks(probe);
    if (probe.peek() == ',') return true;
    if (parens_) return probe.peek() == ')' || probe.peek() == ';' || probe.atEnd();
    const char ch = probe.peek();
    return probe.atEnd() || isControl(ch) || ch == ':' || ch == ';' || (ch == '/' && probe.peek(1) == '/');
  }

  // The literal at the cursor with its escapes resolved; the cursor ends behind the closing quote.
  std::size_t readFormat(char (&format)[kPrintFormatChars]) {
    ++c_.pos;
    std::size_t n = 0;
    auto keep = [&](char ch) {
      if (n < kPrintFormatChars) format[n++] = ch;
    };
    while (!c_.atEnd() && c_.peek() != '"') {
      const char ch = c_.peek();
      if (ch == '\\' && (c_.peek(1) == '"' || c_.peek(1) == 'n' || c_.peek(1) == 'r')) {
        const char next = c_.peek(1);
        keep(next == '"' ? '"' : (next == 'n' ? '\n' : '\r'));
        c_.pos += 2;
        continue;
      }
      if (!isControl(ch)) keep(ch);
      ++c_.pos;
    }
    if (c_.peek() == '"') ++c_.pos;
    return n;
  }

  int expandFormat(std::string_view format) {
    std::size_t k = 0;
    while (k < format.size()) {
      const char ch = format[k];
      if (ch != '%') {
        if (!append(std::string_view(&ch, 1))) return kErrStringLength;
        ++k;
        continue;
      }
      Conversion conv;
      k = parseConversion(format, k + 1, conv);
      if (conv.letter == '\0') break;  // "%" and its modifiers at the very end: nothing to print
      if (!conv.known) {
        if (!append(std::string_view(&conv.letter, 1))) return kErrStringLength;
        continue;
      }
      if (const int rc = convert(conv); rc != 0) return rc;
    }
    return 0;
  }

  struct Conversion {
    char flag = '\0';
    char width[3] = {};  // up to two digits
    bool hasPrecision = false;
    char precision = '\0';  // one digit or none
    char letter = '\0';
    bool known = false;
  };

  // Reads the conversion behind a "%"; returns the index behind its letter.
  static std::size_t parseConversion(std::string_view f, std::size_t k, Conversion& conv) {
    auto at = [&](std::size_t i) { return i < f.size() ? f[i] : '\0'; };
    if (std::string_view(" #+-").find(at(k)) != std::string_view::npos) conv.flag = f[k++];
    for (int d = 0; d < 2 && isDigit(at(k)); ++d) conv.width[d] = f[k++];
    if (at(k) == '.') {
      conv.hasPrecision = true;
      ++k;
      if (isDigit(at(k))) conv.precision = f[k++];
    }
    // Size letters only ever selected widths of the original integer types: every value here
    // is 32-bit, so they are read and dropped.
    if (std::string_view("FLNhl").find(at(k)) != std::string_view::npos) ++k;
    conv.letter = at(k);
    if (conv.letter == '\0') return f.size();
    conv.known = std::string_view("diouxXcbefgEGs").find(conv.letter) != std::string_view::npos;
    return k + 1;
  }

  int convert(const Conversion& conv) {
    Separator sep = Separator::End;
    if (const int rc = readSeparator(sep); rc != 0) return rc;
    if (sep == Separator::End) return kErrMissingArgument;
    const ScriptValue v = eval_.evaluate(c_);
    if (c_.error != 0) return c_.error;

    const char letter = conv.letter;
    const bool wantsInteger = std::string_view("diouxXcb").find(letter) != std::string_view::npos;
    const bool wantsString = letter == 's';
    const bool wantsFloat = !wantsInteger && !wantsString;
    if ((wantsInteger && v.type != kTypeInteger) || (wantsString && v.type != kTypeString) ||
        (wantsFloat && v.type != kTypeFloat && v.type != kTypeMixed)) {
      return kErrTypesIncompatible;
    }
    const std::size_t room = kPrintOutputChars - out_.length;
    if (room < (wantsString ? 81u : 11u)) return kErrStringLength;

    if (letter == 'b') return appendBinary(conv, static_cast<uint32_t>(v.i));

    char cFormat[16];
    std::size_t n = 0;
    cFormat[n++] = '%';
    if (conv.flag != '\0') cFormat[n++] = conv.flag;
    for (char d : conv.width) {
      if (d != '\0') cFormat[n++] = d;
    }
    if (conv.hasPrecision) {
      cFormat[n++] = '.';
      if (conv.precision != '\0') cFormat[n++] = conv.precision;
    }
    cFormat[n++] = letter;
    cFormat[n] = '\0';

    // Width 99 with precision 9 of a huge float is the longest item; anything longer than the
    // room left is refused below, so the cut by this buffer never reaches the output.
    char item[400];
    int written = 0;
    if (wantsString) {
      written = std::snprintf(item, sizeof item, cFormat, v.s);
    } else if (wantsFloat) {
      written = std::snprintf(item, sizeof item, cFormat, v.f);
    } else if (letter == 'd' || letter == 'i' || letter == 'c') {
      written = std::snprintf(item, sizeof item, cFormat, static_cast<int>(v.i));
    } else {
      written = std::snprintf(item, sizeof item, cFormat, static_cast<unsigned>(static_cast<uint32_t>(v.i)));
    }
    if (written < 0) return kErrCalculation;
    if (static_cast<std::size_t>(written) > room) return kErrStringLength;
    // "%c" of 0 would put a NUL into the middle of the text.
    for (int k = 0; k < written; ++k) {
      if (item[k] != '\0') out_.text[out_.length++] = item[k];
    }
    out_.text[out_.length] = '\0';
    return 0;
  }

  int appendBinary(const Conversion& conv, uint32_t value) {
    int digits = 0;
    for (char d : conv.width) {
      if (d != '\0') digits = digits * 10 + (d - '0');
    }
    if (digits == 0) digits = 8;
    if (static_cast<std::size_t>(digits) > kPrintOutputChars - out_.length) return kErrStringLength;
    for (int bit = digits - 1; bit >= 0; --bit) {
      out_.text[out_.length++] = bit < 32 && ((value >> bit) & 1u) != 0 ? '1' : '0';
    }
    out_.text[out_.length] = '\0';
    return 0;
  }

  int plainArgument() {
    const ScriptValue v = eval_.evaluate(c_);
    if (c_.error != 0) return c_.error;
    char item[400];
    int written = 0;
    switch (v.type) {
      case kTypeInteger:
        written = std::snprintf(item, sizeof item, "%d", static_cast<int>(v.i));
        break;
      case kTypeFloat:
      case kTypeMixed:
        written = std::snprintf(item, sizeof item, "%f", v.f);
        break;
      case kTypeString:
        return append(v.text()) ? 0 : kErrStringLength;
      case kTypeSpecial: {
        const std::string_view name = specialName(v.i);
        if (!name.empty()) return append(name) ? 0 : kErrStringLength;
        written = std::snprintf(item, sizeof item, "%d", static_cast<int>(v.i));
        break;
      }
      default:
        return append("UNUSED") ? 0 : kErrStringLength;
    }
    if (written < 0) return kErrCalculation;
    // A float near the double range has over 300 digits: refused, not cut.
    if (static_cast<std::size_t>(written) >= sizeof item) return kErrStringLength;
    return append(std::string_view(item, static_cast<std::size_t>(written))) ? 0 : kErrStringLength;
  }

  bool append(std::string_view s) {
    if (s.size() > kPrintOutputChars - out_.length) return false;
    std::memcpy(out_.text + out_.length, s.data(), s.size());
    out_.length += s.size();
    out_.text[out_.length] = '\0';
    return true;
  }

  ExpressionEvaluator& eval_;
  ScriptCursor& c_;
  PrintOutput& out_;
  bool parens_;
};

}  // namespace

int FormatPrintArguments(ExpressionEvaluator& eval, ScriptCursor& cursor, PrintOutput& out) {
  out = PrintOutput{};
  if (cursor.error != 0) return cursor.error;
  skipBlanks(cursor);
  const bool parens = cursor.peek() == '(';
  if (parens) ++cursor.pos;
  Formatter formatter(eval, cursor, out, parens);
  if (const int rc = formatter.run(); rc != 0) {
    cursor.fail(rc);
    out = PrintOutput{};
    return cursor.error;
  }
  return 0;
}

void PrintErrorMessage(int code, std::string_view suffix, PrintOutput& out) {
  out = PrintOutput{};
  char buffer[48];
  const std::string_view text = scriptErrorText(code, buffer);
  const int n = std::snprintf(out.text, sizeof out.text, "%.*s%.*s", static_cast<int>(text.size()),
                              text.data(), static_cast<int>(suffix.size()), suffix.data());
  out.length = n < 0 ? 0 : strnlen(out.text, sizeof out.text);
}

}  // namespace busprobe
