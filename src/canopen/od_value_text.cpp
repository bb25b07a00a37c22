#include "canopen/od_value_text.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "base/canopen_types.h"

namespace busprobe {

namespace {

char Lower(uint8_t c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : static_cast<char>(c);
}

// "%" and `digits` binary digits of the magnitude, with the sign ahead of it when asked for.
std::string BinaryText(int64_t v, int digits, bool alwaysSign) {
  std::string out;
  if (v < 0) {
    out += '-';
  } else if (alwaysSign) {
    out += '+';
  }
  const uint64_t magnitude = v < 0 ? static_cast<uint64_t>(-v) : static_cast<uint64_t>(v);
  out += '%';
  for (int bit = digits - 1; bit >= 0; --bit) out += ((magnitude >> bit) & 1u) != 0 ? '1' : '0';
  return out;
}

std::string Signed(long long v, bool plus) {
  char buf[32];
  std::snprintf(buf, sizeof buf, plus ? "%+lld" : "%lld", v);
  return buf;
}

std::string Unsigned(unsigned long long v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%llu", v);
  return buf;
}

std::string Hex(uint32_t v, int digits) {
  char buf[24];
  std::snprintf(buf, sizeof buf, "0x%0*" PRIX32, digits, v);
  return buf;
}

}  // namespace

std::string OdBytesText(const uint8_t* bytes, std::size_t length, bool hex, std::size_t limit) {
  std::string out;
  bool inQuote = false;
  char buf[8];
  for (std::size_t i = 0; i < length; ++i) {
    const uint8_t b = bytes[i];
    std::string piece;
    bool quoteAfter = inQuote;
    if (!hex && b > 31) {
      if (!inQuote) {
        if (!out.empty()) piece += ' ';
        piece += '"';
        quoteAfter = true;
      }
      piece += static_cast<char>(b);
    } else {
      if (inQuote) piece += '"';
      quoteAfter = false;
      std::snprintf(buf, sizeof buf, " %02X", b);
      piece += buf;
    }
    // Room for a closing quote stays, so a cut text still reads as a quoted run.
    if (out.size() + piece.size() + (quoteAfter ? 1 : 0) > limit) break;
    out += piece;
    inQuote = quoteAfter;
  }
  if (inQuote) out += '"';
  return out;
}

std::string OdValueText(uint8_t display, const OdValue& value, std::size_t limit) {
  const char d = Lower(display);
  const uint32_t raw = value.data32();
  switch (value.dataType) {
    case kCoTypeInteger8: {
      const int8_t v = static_cast<int8_t>(value.data[0]);
      if (d == 'b') return BinaryText(v, 8, true);
      if (d == 'h') return Hex(value.data[0], 2);
      return Signed(v, false);
    }
    case kCoTypeInteger16:
    case kCoTypeUntyped16: {
      const int16_t v = static_cast<int16_t>(raw & 0xFFFFu);
      if (d == 'b') return BinaryText(v, 16, true);
      if (d == 'h') return Hex(raw & 0xFFFFu, 4);
      return Signed(v, true);
    }
    case kCoTypeInteger32:
    case kCoTypeUntyped32: {
      const int32_t v = static_cast<int32_t>(raw);
      if (d == 'b') return BinaryText(v, 32, true);
      if (d == 'h') return Hex(raw, 8);
      return Signed(v, true);
    }
    case kCoTypeUnsigned8:
    case kCoTypeUntyped8:
      if (d == 'b') return BinaryText(value.data[0], 8, false);
      if (d == 'h') return Hex(value.data[0], 2);
      return Unsigned(value.data[0]);
    case kCoTypeUnsigned16:
      if (d == 'b') return BinaryText(raw & 0xFFFFu, 16, false);
      if (d == 'h') return Hex(raw & 0xFFFFu, 4);
      return Unsigned(raw & 0xFFFFu);
    case kCoTypeUnsigned32:
      if (d == 'b') return BinaryText(raw, 32, false);
      if (d == 'h') return Hex(raw, 8);
      return Unsigned(raw);
    case kCoTypeReal32: {
      float f;
      std::memcpy(&f, value.data, sizeof f);
      char buf[64];
      std::snprintf(buf, sizeof buf, "%g", static_cast<double>(f));
      return buf;
    }
    case kCoTypeVisibleString: {
      const bool block = value.hasBlock();
      const uint8_t* bytes = block ? value.block : value.data;
      std::size_t length = block ? value.blockLength : value.inlineLength;
      if (length > (block ? value.blockCapacity : 4u)) length = block ? value.blockCapacity : 4u;
      return OdBytesText(bytes, length, d == 'h', limit);
    }
    case kCoTypeDomain:
      if (!value.hasBlock()) return "length=0";
      return std::string(reinterpret_cast<const char*>(value.block),
                         strnlen(reinterpret_cast<const char*>(value.block), value.blockLength));
    default:
      return Hex(raw, 8);
  }
}

}  // namespace busprobe
