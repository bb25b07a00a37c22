// The CANopen data-type table: every code once, every script name found as the interpreter has
// always matched it, sizes that agree with the type names, values read in the right byte order.
#include "base/canopen_types.h"

#include <gtest/gtest.h>

#include <cctype>
#include <set>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace busprobe {
namespace {

TEST(CanopenTypes, EveryCodeHasOneRowAndIsFoundByIt) {
  std::set<int> codes;
  for (const CanopenDataType& t : kCanopenDataTypes) {
    EXPECT_TRUE(codes.insert(t.code).second) << t.code;
    EXPECT_EQ(FindCanopenDataType(t.code), &t) << t.code;
  }
  // The standard's codes 1..0x1B (0x0E and 0x17 are unused there), its structures and the
  // program's own codes.
  for (int code = 1; code <= 0x1B; ++code) {
    if (code == 0x17) continue;
    EXPECT_NE(FindCanopenDataType(code), nullptr) << code;
  }
  for (int code : {0, 0x20, 0x21, 0x22, 0x23, 51, 52, 54, 55, 56})
    EXPECT_NE(FindCanopenDataType(code), nullptr);
  for (int code : {-1, 0x17, 0x24, 53, 57, 255, 256, 1000})
    EXPECT_EQ(FindCanopenDataType(code), nullptr) << code;
  EXPECT_EQ(FindCanopenDataType(kCoTypeReal32)->standardName, "REAL32");
  EXPECT_EQ(FindCanopenDataType(kCoTypeReal32)->name, "FLOAT32");
  EXPECT_EQ(FindCanopenDataType(kCoTypeUnsigned64)->standardName, "UNSIGNED64");
  EXPECT_EQ(FindCanopenDataType(kCoTypeIdentity)->standardName, "IDENTITY");
}

TEST(CanopenTypes, SizesAgreeWithTheKindAndTheName) {
  for (const CanopenDataType& t : kCanopenDataTypes) {
    switch (t.kind) {
      case CanopenValueKind::kSigned:
      case CanopenValueKind::kUnsigned:
      case CanopenValueKind::kFloat:
      case CanopenValueKind::kBoolean:
        EXPECT_GE(t.size, 1) << t.code;
        EXPECT_LE(t.size, 8) << t.code;
        break;
      case CanopenValueKind::kTime:
        EXPECT_EQ(t.size, 6) << t.code;
        break;
      default:
        EXPECT_EQ(t.size, 0) << t.code;
    }
    // INTEGER24 is 3 bytes, REAL64 8 bytes ...
    const std::string name(t.standardName);
    const std::size_t digits = name.find_first_of("0123456789");
    if (digits != std::string::npos && t.kind != CanopenValueKind::kStructure) {
      EXPECT_EQ(std::stoi(name.substr(digits)), 8 * t.size) << name;
    }
    // What scripts read out of frames fits their 32-bit values.
    if (t.frameReadable) {
      EXPECT_GE(t.size, 1) << t.code;
      EXPECT_LE(t.size, 4) << t.code;
    }
  }
}

// The names and the order in which the interpreter has always tried them, first match winning.
const std::vector<std::pair<std::string, int>> kScriptOrder = {
    {"BOOLEAN", 1},    {"BOOL", 1},
    {"INTEGER8", 2},   {"SIGNED8", 2},
    {"INTEGER16", 3},  {"SIGNED16", 3},
    {"INTEGER32", 4},  {"SIGNED32", 4},
    {"I8", 2},         {"I16", 3},
    {"S16", 3},        {"I32", 4},
    {"S32", 4},        {"LONG", 4},
    {"UNSIGNED8", 5},  {"UNSIGNED16", 6},
    {"UNSIGNED32", 7}, {"U8", 5},
    {"BYTE", 5},       {"U16", 6},
    {"WORD", 6},       {"U32", 7},
    {"DWORD", 7},      {"FLOAT32", 8},
    {"F32", 8},        {"FLOAT", 8},
    {"VIS_STRING", 9}, {"STRING", 9},
    {"STR", 9},        {"OCTET_STRING", 10},
    {"DATE", 11},      {"TIME_OF_DAY", 12},
    {"TIME_DIFF", 13}, {"BIT_STRING", 14},
    {"DOMAIN", 15},    {"PDO_COMM", 32},
    {"PDO_MAP", 33},   {"SDO_PAR", 34},
    {"M16", 55},       {"M32", 56},
    {"???", 0},        {"I", 4},
    {"W", 6},          {"B", 5},
};

// The first name of that list that `text` begins with (case-insensitive): code and length.
std::pair<int, std::size_t> firstInOrder(const std::string& text) {
  for (const auto& [name, code] : kScriptOrder) {
    if (text.size() < name.size()) continue;
    bool same = true;
    for (std::size_t k = 0; k < name.size() && same; ++k) same = std::toupper(text[k]) == name[k];
    if (same) return {code, name.size()};
  }
  return {-1, 0};
}

TEST(CanopenTypes, ScriptNamesMatchAsTheyAlwaysHave) {
  // Each row's names are the ones of the list with its code: no name more, none less.
  for (const CanopenDataType& t : kCanopenDataTypes) {
    std::multiset<std::string> own, listed;
    std::istringstream words{std::string(t.scriptNames)};
    for (std::string w; words >> w;) own.insert(w);
    for (const auto& [name, code] : kScriptOrder)
      if (code == t.code) listed.insert(name);
    EXPECT_EQ(own, listed) << t.code;
  }

  std::vector<std::string> inputs;
  for (const auto& [name, code] : kScriptOrder) {
    std::string lower = name;
    for (char& ch : lower) ch = static_cast<char>(std::tolower(ch));
    for (const std::string& base : {name, lower})
      for (const char* tail : {"", "LE", ")", ", 5)", "8", "X", "_1"}) inputs.push_back(base + tail);
  }
  for (const char* other : {"", " U8", "INT", "UNSIGNED", "X", "9", "?", "\x80"}) inputs.emplace_back(other);
  for (const std::string& text : inputs) {
    const auto [code, length] = firstInOrder(text);
    std::size_t matched = 99;
    const CanopenDataType* t = MatchCanopenTypeName(text, matched);
    EXPECT_EQ(t ? t->code : -1, code) << '"' << text << '"';
    EXPECT_EQ(matched, length) << '"' << text << '"';
  }
}

TEST(CanopenTypes, IntegerValuesInTheirByteOrder) {
  const uint8_t bytes[] = {0xFE, 0x80, 0x01, 0xFF};
  const struct {
    int code;
    int64_t value;
  } rows[] = {
      {kCoTypeBoolean, 0},
      {kCoTypeInteger8, -2},
      {kCoTypeUnsigned8, 0xFE},
      {kCoTypeInteger16, -32514},
      {kCoTypeUnsigned16, 0x80FE},
      {kCoTypeInteger32, static_cast<int32_t>(0xFF0180FEu)},
      {kCoTypeUnsigned32, 0xFF0180FEu},
      {kCoTypeBigEndian16, 0xFE80},
      {kCoTypeBigEndian32, 0xFE8001FFu},
      {kCoTypeUntyped16, -32514},
      {kCoTypeInteger64, 0},  // wider than four bytes
      {kCoTypeVisibleString, 0},
  };
  for (const auto& row : rows)
    EXPECT_EQ(CanopenIntegerValue(*FindCanopenDataType(row.code), bytes), row.value) << row.code;
  const uint8_t one[] = {0x03};
  EXPECT_EQ(CanopenIntegerValue(*FindCanopenDataType(kCoTypeBoolean), one), 1);
  EXPECT_EQ(CanopenRawBits(*FindCanopenDataType(kCoTypeReal32), bytes), 0xFF0180FEu);
}

}  // namespace
}  // namespace busprobe
