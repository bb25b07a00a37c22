#include "base/number_lex.h"

namespace busprobe {

bool ParseUnsignedToken(std::string_view token, int radix, int maxDigits, uint64_t maxValue,
                        uint64_t& value) {
  if (token.empty() || token.size() > static_cast<size_t>(maxDigits < 0 ? 0 : maxDigits)) return false;
  const uint64_t base = static_cast<uint64_t>(radix);
  uint64_t v = 0;
  for (char c : token) {
    const int d = DigitValue(c, radix);
    if (d < 0) return false;
    // Checked before multiplying, so even a limit near 2^64 cannot wrap.
    const uint64_t digit = static_cast<uint64_t>(d);
    if (digit > maxValue || v > (maxValue - digit) / base) return false;
    v = v * base + digit;
  }
  value = v;
  return true;
}

}  // namespace busprobe
