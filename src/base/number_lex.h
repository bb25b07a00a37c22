// The digit work of every reader of numbers typed or recorded as text: script expressions, trigger
// patterns, simulated frame lines, log files and settings fields. Only the digits are shared; each
// caller keeps its own rules for signs, prefixes, suffixes and limits and applies them around these.
// The scanning helpers are inline because the log readers run them millions of times a second.
#pragma once

#include <climits>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace busprobe {

namespace numlex_detail {
// Digit values by byte (-1: no digit). A table, not comparisons: the log readers spend most of
// their time here.
struct DigitTable {
  int8_t value[256];
  constexpr DigitTable() : value() {
    for (int i = 0; i < 256; ++i) value[i] = -1;
    for (int i = 0; i < 10; ++i) value['0' + i] = static_cast<int8_t>(i);
    for (int i = 0; i < 6; ++i) {
      value['a' + i] = static_cast<int8_t>(10 + i);
      value['A' + i] = static_cast<int8_t>(10 + i);
    }
  }
};
inline constexpr DigitTable kDigits{};
}  // namespace numlex_detail

// Value of a hexadecimal digit of either case, -1 for any other byte.
inline int HexDigitValue(char c) {
  return numlex_detail::kDigits.value[static_cast<unsigned char>(c)];
}

inline bool IsDecimalDigit(char c) {
  return c >= '0' && c <= '9';
}

// Value of `c` as a digit of `radix` (2..16), -1 when it is none.
inline int DigitValue(char c, int radix) {
  const int v = HexDigitValue(c);
  return v < radix ? v : -1;
}

// For ScanDigits: as many digits as there are.
inline constexpr int kAnyDigitCount = INT_MAX;

// Reads digits of `radix` from `p` (never at or past `end`), at most `maxDigits` of them, and
// appends them to `value` (value * radix + digit, wrapping modulo 2^64: a caller that wants 32-bit
// wrapping takes the low half). Returns how many digits were read; `p` is left on the first byte
// not taken.
inline int ScanDigits(const char*& p, const char* end, int radix, int maxDigits, uint64_t& value) {
  const char* const start = p;
  const char* const stop = end - p > maxDigits ? p + (maxDigits > 0 ? maxDigits : 0) : end;
  uint64_t v = value;
  while (p < stop) {
    // Unsigned: "no digit" (-1) and "digit beyond the radix" fail the one comparison.
    const unsigned d = static_cast<unsigned>(HexDigitValue(*p));
    if (d >= static_cast<unsigned>(radix)) break;
    v = v * static_cast<uint64_t>(radix) + d;
    ++p;
  }
  value = v;
  return static_cast<int>(p - start);
}

// Length of a "0x" or "0X" prefix at the start of `text` (and of "$" when `dollar` is set); 0 when
// there is none. Whether digits follow is the caller's check.
inline size_t HexPrefixLength(std::string_view text, bool dollar) {
  if (text.size() >= 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) return 2;
  if (dollar && !text.empty() && text[0] == '$') return 1;
  return 0;
}

// The radix prefixes of the script language and the trigger patterns: "$" and "0x" (lower case
// only) hexadecimal, "#" decimal, "%" binary. Returns the prefix length and sets `radix` when there
// is one; 0 leaves `radix` alone.
inline size_t ScriptRadixPrefix(std::string_view text, int& radix) {
  if (text.empty()) return 0;
  switch (text[0]) {
    case '$':
      radix = 16;
      return 1;
    case '#':
      radix = 10;
      return 1;
    case '%':
      radix = 2;
      return 1;
    case '0':
      if (text.size() >= 2 && text[1] == 'x') {
        radix = 16;
        return 2;
      }
      return 0;
    default:
      return 0;
  }
}

// A whole token of 1..maxDigits digits of `radix` and nothing else, whose value is at most
// `maxValue`. False (value untouched) when the token is empty, holds any other byte, has too many
// digits or its value is too large; leading zeros count as digits.
bool ParseUnsignedToken(std::string_view token, int radix, int maxDigits, uint64_t maxValue, uint64_t& value);

}  // namespace busprobe
