// Small in-place scanning helpers shared by the log line readers. Everything works on a byte range
// and never reads past its end; NUL bytes are ordinary bytes that match nothing.
#pragma once

#include <cstdint>
#include <string_view>

#include "base/number_lex.h"
#include "traffic/log_reader.h"

namespace busprobe::logscan {

inline bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}
inline bool IsLetter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

struct Cursor {
  const char* p;
  const char* end;

  explicit Cursor(std::string_view s) : p(s.data()), end(s.data() + s.size()) {}
  bool atEnd() const { return p >= end; }
  char peek() const { return p < end ? *p : '\0'; }
  std::string_view rest() const { return std::string_view(p, static_cast<size_t>(end - p)); }
  bool atBlankOrEnd() const { return p >= end || IsBlank(*p); }
  bool atBlank() const { return p < end && IsBlank(*p); }
  void skipBlanks() {
    while (p < end && IsBlank(*p)) ++p;
  }
  bool consume(char c) {
    if (p < end && *p == c) {
      ++p;
      return true;
    }
    return false;
  }
  bool startsWith(std::string_view w) const {
    return static_cast<size_t>(end - p) >= w.size() && std::string_view(p, w.size()) == w;
  }
  bool consumeWord(std::string_view w) {
    if (!startsWith(w)) return false;
    p += w.size();
    return true;
  }
  // The bytes up to the next blank (or the end).
  std::string_view word() {
    const char* s = p;
    while (p < end && !IsBlank(*p)) ++p;
    return std::string_view(s, static_cast<size_t>(p - s));
  }
};

// Unsigned number in `radix`; at most maxDigits digits are taken (more: false). digits receives
// how many were read (0: nothing read, true is still returned so callers can fall back).
inline bool ParseUnsigned(Cursor& c, int radix, int maxDigits, uint64_t& value, int& digits) {
  value = 0;
  digits = ScanDigits(c.p, c.end, radix, maxDigits, value);
  return digits < maxDigits || c.p == c.end || DigitValue(*c.p, radix) < 0;
}

// "[-]digits[.digits]" (a time in seconds or milliseconds): no exponent, no inf or nan. Only the
// first 18 digits on each side count; the magnitude must stay within `limit`.
inline bool ParseDecimal(Cursor& c, double limit, double& out) {
  static constexpr double kPow10[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8, 1e9,
                                      1e10, 1e11, 1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18};
  const char* start = c.p;
  const bool negative = c.consume('-');
  uint64_t whole = 0, frac = 0;
  const int wholeDigits = ScanDigits(c.p, c.end, 10, 18, whole);
  if (c.p < c.end && IsDecimalDigit(*c.p)) return false;
  int fracDigits = 0;
  if (c.consume('.')) {
    fracDigits = ScanDigits(c.p, c.end, 10, 18, frac);
    while (c.p < c.end && IsDecimalDigit(*c.p)) ++c.p;
  }
  if (wholeDigits == 0 && fracDigits == 0) {
    c.p = start;
    return false;
  }
  double v = static_cast<double>(whole) + static_cast<double>(frac) / kPow10[fracDigits];
  if (v > limit) return false;
  out = negative ? -v : v;
  return true;
}

// Milliseconds of a file time for CanFrame::timestamp: wraps like the 32-bit UCAN clock does.
inline uint32_t TimestampMs(double seconds) {
  const double ms = seconds * 1000.0;
  if (!(ms > -9e18 && ms < 9e18)) return 0;
  return static_cast<uint32_t>(static_cast<uint64_t>(static_cast<int64_t>(ms)));
}

// A whole token of 1..maxDigits hex digits, ending at a blank or the end. False leaves c alone.
inline bool ParseHexToken(Cursor& c, int maxDigits, uint64_t& value, int& digits) {
  Cursor t = c;
  if (!ParseUnsigned(t, 16, maxDigits, value, digits) || digits == 0 || !t.atBlankOrEnd()) return false;
  c = t;
  return true;
}

// A symbolic identifier: a word that starts with a letter, at most 39 printable characters, ending
// at a blank or the end. kFrame with `id` set when the lookup knows it; kUnknownSymbol when it does
// not; kSkip when the word is no name at all.
LineResult ReadSymbolicId(Cursor& c, const NameLookup& lookup, uint32_t& id);

}  // namespace busprobe::logscan
