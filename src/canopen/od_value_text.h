// Entry values as text: the browsers' value column and the value column of dictionary text lines.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "canopen/od_value.h"

namespace busprobe {

// Where the display rendering of bytes stops: the longest text a value column shows.
inline constexpr std::size_t kOdDisplayTextLimit = 72;

// Bytes as a display text: for OCTET_STRING (and for `hex`) every byte a blank and two upper-case
// hex digits; otherwise runs of characters above code 31 in double quotes (a blank ahead of the
// opening quote unless at the start) and every other byte as a blank and two hex digits. Stops
// before the text would pass `limit` characters.
std::string OdBytesText(const uint8_t* bytes, std::size_t length, bool hex,
                        std::size_t limit = kOdDisplayTextLimit);

// The value in the display format `display` ('b' binary, 'h' hexadecimal, 'a' text, anything else
// the type's natural form). `limit` bounds the rendering of strings; a file writer passes none.
std::string OdValueText(uint8_t display, const OdValue& value, std::size_t limit = kOdDisplayTextLimit);

}  // namespace busprobe
