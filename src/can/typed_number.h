// Numbers as users type them into settings fields and the string entry dialog: leading blanks
// and a sign are allowed, the digits are read up to the first byte that is not one ("500 ms" is
// 500), and optionally "$" or "0x" mark a hexadecimal number. Each caller decides what a text
// without a number (or one too large for its field) falls back to.
#pragma once

#include <cstdint>
#include <string_view>

namespace busprobe {

enum class TypedRadix { kDecimal, kDecimalOrHex };

// True and `value` set when the text starts with a number that fits into int64_t; false (value
// untouched) for a text without digits or with a number beyond that range.
bool ReadTypedNumber(std::string_view text, TypedRadix radix, int64_t& value);

}  // namespace busprobe
