// The shared digit work: digit values, scanning with a digit limit, prefixes, whole tokens with
// value limits.
#include "base/number_lex.h"

#include <gtest/gtest.h>

#include <string>

namespace busprobe {
namespace {

TEST(NumberLex, DigitValuesOfEveryByte) {
  for (int b = 0; b < 256; ++b) {
    const char c = static_cast<char>(b);
    int expected = -1;
    if (b >= '0' && b <= '9') expected = b - '0';
    if (b >= 'a' && b <= 'f') expected = b - 'a' + 10;
    if (b >= 'A' && b <= 'F') expected = b - 'A' + 10;
    EXPECT_EQ(HexDigitValue(c), expected) << b;
    EXPECT_EQ(IsDecimalDigit(c), b >= '0' && b <= '9') << b;
    for (int radix : {2, 8, 10, 16}) EXPECT_EQ(DigitValue(c, radix), expected < radix ? expected : -1) << b;
  }
}

int Scan(std::string_view text, int radix, int maxDigits, uint64_t& value, size_t& stoppedAt) {
  const char* p = text.data();
  const int digits = ScanDigits(p, text.data() + text.size(), radix, maxDigits, value);
  stoppedAt = static_cast<size_t>(p - text.data());
  return digits;
}

TEST(NumberLex, ScanStopsAtTheFirstNonDigitTheLimitOrTheEnd) {
  uint64_t v = 0;
  size_t at = 0;
  EXPECT_EQ(Scan("1aF7 x", 16, 10, v, at), 4);
  EXPECT_EQ(v, 0x1AF7u);
  EXPECT_EQ(at, 4u);
  v = 0;
  EXPECT_EQ(Scan("1012", 2, 10, v, at), 3);  // '2' is no binary digit
  EXPECT_EQ(v, 5u);
  v = 0;
  EXPECT_EQ(Scan("123456", 10, 4, v, at), 4);
  EXPECT_EQ(v, 1234u);
  EXPECT_EQ(at, 4u);
  v = 0;
  EXPECT_EQ(Scan("", 10, 4, v, at), 0);
  EXPECT_EQ(Scan("99", 10, 0, v, at), 0);
  EXPECT_EQ(v, 0u);
  // Digits are appended to what the value held; the end is never read past.
  v = 7;
  EXPECT_EQ(Scan(std::string_view("12345", 2), 10, 10, v, at), 2);
  EXPECT_EQ(v, 712u);
  // Beyond 64 bits the value wraps, so its low 32 bits are what 32-bit wrapping gives.
  v = 0;
  EXPECT_EQ(Scan("123456789abcdef0123", 16, 100, v, at), 19);
  EXPECT_EQ(v, 0x456789ABCDEF0123ull);
  EXPECT_EQ(static_cast<uint32_t>(v), 0xCDEF0123u);
}

TEST(NumberLex, Prefixes) {
  EXPECT_EQ(HexPrefixLength("0x1", false), 2u);
  EXPECT_EQ(HexPrefixLength("0X1", false), 2u);
  EXPECT_EQ(HexPrefixLength("0x", false), 2u);  // whether digits follow is the caller's check
  EXPECT_EQ(HexPrefixLength("$1", false), 0u);
  EXPECT_EQ(HexPrefixLength("$1", true), 1u);
  EXPECT_EQ(HexPrefixLength("0", true), 0u);
  EXPECT_EQ(HexPrefixLength("", true), 0u);

  struct Row {
    const char* text;
    size_t length;
    int radix;
  } rows[] = {{"$ff", 1, 16}, {"0x1f", 2, 16}, {"0X1f", 0, 7}, {"#12", 1, 10},
              {"%101", 1, 2}, {"0", 0, 7},     {"12", 0, 7},   {"", 0, 7}};
  for (const Row& r : rows) {
    int radix = 7;
    EXPECT_EQ(ScriptRadixPrefix(r.text, radix), r.length) << r.text;
    EXPECT_EQ(radix, r.radix) << r.text;
  }
}

TEST(NumberLex, WholeTokensWithDigitAndValueLimits) {
  uint64_t v = 99;
  EXPECT_TRUE(ParseUnsignedToken("1FFFFFFF", 16, 8, 0xFFFFFFFFu, v));
  EXPECT_EQ(v, 0x1FFFFFFFu);
  EXPECT_TRUE(ParseUnsignedToken("FFFFFFFF", 16, 8, 0xFFFFFFFFu, v));
  EXPECT_EQ(v, 0xFFFFFFFFu);
  EXPECT_TRUE(ParseUnsignedToken("000000000012", 16, 64, 0xFFFFFFFFu, v));  // leading zeros are fine
  EXPECT_EQ(v, 0x12u);
  EXPECT_TRUE(ParseUnsignedToken("18446744073709551615", 10, 20, UINT64_MAX, v));
  EXPECT_EQ(v, UINT64_MAX);

  v = 99;
  EXPECT_FALSE(ParseUnsignedToken("123456789", 16, 8, UINT64_MAX, v));              // too many digits
  EXPECT_FALSE(ParseUnsignedToken("100000000", 16, 64, 0xFFFFFFFFu, v));            // too large
  EXPECT_FALSE(ParseUnsignedToken("18446744073709551616", 10, 20, UINT64_MAX, v));  // beyond 64 bits
  EXPECT_FALSE(ParseUnsignedToken("256", 10, 3, 255, v));
  EXPECT_FALSE(ParseUnsignedToken("9", 10, 3, 8, v));
  EXPECT_FALSE(ParseUnsignedToken("", 16, 8, UINT64_MAX, v));
  EXPECT_FALSE(ParseUnsignedToken("12 ", 16, 8, UINT64_MAX, v));
  EXPECT_FALSE(ParseUnsignedToken("0x12", 16, 8, UINT64_MAX, v));  // prefixes are the caller's
  EXPECT_FALSE(ParseUnsignedToken("12", 2, 8, UINT64_MAX, v));
  EXPECT_FALSE(ParseUnsignedToken(std::string_view("1\0", 2), 16, 8, UINT64_MAX, v));
  EXPECT_EQ(v, 99u);
  EXPECT_TRUE(ParseUnsignedToken("255", 10, 3, 255, v));
  EXPECT_EQ(v, 255u);
}

}  // namespace
}  // namespace busprobe
