#include "can/typed_number.h"

#include <limits>

#include "base/number_lex.h"

namespace busprobe {

bool ReadTypedNumber(std::string_view text, TypedRadix radix, int64_t& value) {
  size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) {
    negative = text[i] == '-';
    ++i;
  }
  int base = 10;
  if (radix == TypedRadix::kDecimalOrHex) {
    const size_t prefix = HexPrefixLength(text.substr(i), true);
    if (prefix > 0) {
      base = 16;
      i += prefix;
    }
  }
  const char* p = text.data() + i;
  const char* const end = text.data() + text.size();
  // Digit by digit with the limit checked as they come: a wrapped value would be a plainly wrong
  // number rather than none.
  const uint64_t limit =
      negative ? uint64_t{1} << 63 : static_cast<uint64_t>(std::numeric_limits<int64_t>::max());
  uint64_t magnitude = 0;
  int digits = 0;
  for (; p < end; ++p) {
    const int d = DigitValue(*p, base);
    if (d < 0) break;
    if (magnitude > (limit - static_cast<uint64_t>(d)) / static_cast<uint64_t>(base)) return false;
    magnitude = magnitude * static_cast<uint64_t>(base) + static_cast<uint64_t>(d);
    ++digits;
  }
  if (digits == 0) return false;
  value = negative ? static_cast<int64_t>(0 - magnitude) : static_cast<int64_t>(magnitude);
  return true;
}

}  // namespace busprobe
