#include "base/canopen_types.h"

#include <array>

namespace busprobe {

namespace {

constexpr bool rowsAscending() {
  for (std::size_t i = 1; i < std::size(kCanopenDataTypes); ++i) {
    if (kCanopenDataTypes[i - 1].code >= kCanopenDataTypes[i].code) return false;
  }
  return kCanopenDataTypes[0].code >= 0 && kCanopenDataTypes[std::size(kCanopenDataTypes) - 1].code < 256;
}
static_assert(rowsAscending(), "type rows must be in ascending code order, codes 0..255");

// Row index by code (-1: none), so that frame reads do not search the rows.
constexpr std::array<int8_t, 256> indexByCode() {
  std::array<int8_t, 256> index{};
  for (auto& i : index) i = -1;
  for (std::size_t i = 0; i < std::size(kCanopenDataTypes); ++i)
    index[static_cast<std::size_t>(kCanopenDataTypes[i].code)] = static_cast<int8_t>(i);
  return index;
}
constexpr std::array<int8_t, 256> kIndexByCode = indexByCode();

struct ScriptName {
  std::string_view name;
  uint8_t row;
};

// Calls f(name) for each blank-separated name of a row.
template <typename F>
constexpr void forEachName(std::string_view names, F&& f) {
  std::size_t i = 0;
  while (i < names.size()) {
    while (i < names.size() && names[i] == ' ') ++i;
    std::size_t n = 0;
    while (i + n < names.size() && names[i + n] != ' ') ++n;
    if (n > 0) f(names.substr(i, n));
    i += n;
  }
}

constexpr std::size_t countScriptNames() {
  std::size_t n = 0;
  for (const auto& t : kCanopenDataTypes) forEachName(t.scriptNames, [&](std::string_view) { ++n; });
  return n;
}
constexpr std::size_t kScriptNameCount = countScriptNames();

// Script names grouped by their first character, the longest of each group first: the first name
// of a group that fits is the longest that fits.
constexpr bool sortsBefore(const ScriptName& a, const ScriptName& b) {
  if (a.name[0] != b.name[0]) return a.name[0] < b.name[0];
  return a.name.size() > b.name.size();
}
constexpr std::array<ScriptName, kScriptNameCount> sortedScriptNames() {
  std::array<ScriptName, kScriptNameCount> names{};
  std::size_t n = 0;
  for (std::size_t r = 0; r < std::size(kCanopenDataTypes); ++r) {
    forEachName(kCanopenDataTypes[r].scriptNames, [&](std::string_view name) {
      const ScriptName entry{name, static_cast<uint8_t>(r)};
      std::size_t k = n++;
      for (; k > 0 && sortsBefore(entry, names[k - 1]); --k) names[k] = names[k - 1];
      names[k] = entry;
    });
  }
  return names;
}
constexpr std::array<ScriptName, kScriptNameCount> kScriptNames = sortedScriptNames();

constexpr bool namesUpperCase() {
  for (const ScriptName& n : kScriptNames)
    for (char ch : n.name)
      if ((ch >= 'a' && ch <= 'z') || static_cast<unsigned char>(ch) >= 0x80) return false;
  return true;
}
static_assert(namesUpperCase(), "script names are stored in upper case (input is compared upper-cased)");

// First entry of each first character's group; entry 128 ends the last group.
constexpr std::array<uint8_t, 129> groupStarts() {
  std::array<uint8_t, 129> starts{};
  std::size_t k = 0;
  for (std::size_t ch = 0; ch <= 128; ++ch) {
    while (k < kScriptNameCount && static_cast<unsigned char>(kScriptNames[k].name[0]) < ch) ++k;
    starts[ch] = static_cast<uint8_t>(k);
  }
  return starts;
}
constexpr std::array<uint8_t, 129> kGroupStarts = groupStarts();

char upper(char ch) {
  return ch >= 'a' && ch <= 'z' ? static_cast<char>(ch - 'a' + 'A') : ch;
}

}  // namespace

const CanopenDataType* FindCanopenDataType(int code) {
  if (code < 0 || code > 255) return nullptr;
  const int row = kIndexByCode[static_cast<std::size_t>(code)];
  return row < 0 ? nullptr : &kCanopenDataTypes[row];
}

const CanopenDataType* MatchCanopenTypeName(std::string_view text, std::size_t& length) {
  length = 0;
  if (text.empty()) return nullptr;
  const auto first = static_cast<unsigned char>(upper(text[0]));
  if (first >= 128) return nullptr;
  for (std::size_t k = kGroupStarts[first]; k < kGroupStarts[first + 1u]; ++k) {
    const std::string_view name = kScriptNames[k].name;
    if (text.size() < name.size()) continue;
    std::size_t i = 1;
    while (i < name.size() && upper(text[i]) == name[i]) ++i;
    if (i == name.size()) {
      length = name.size();
      return &kCanopenDataTypes[kScriptNames[k].row];
    }
  }
  return nullptr;
}

uint32_t CanopenRawBits(const CanopenDataType& type, const uint8_t* bytes) {
  const std::size_t size = type.size;
  if (size == 0 || size > 4) return 0;
  uint32_t raw = 0;
  for (std::size_t k = 0; k < size; ++k) {
    const std::size_t shift = 8 * (type.bigEndian ? size - 1 - k : k);
    raw |= static_cast<uint32_t>(bytes[k]) << shift;
  }
  return raw;
}

int64_t CanopenIntegerValue(const CanopenDataType& type, const uint8_t* bytes) {
  const std::size_t size = type.size;
  if (size == 0 || size > 4) return 0;
  const uint32_t raw = CanopenRawBits(type, bytes);
  switch (type.kind) {
    case CanopenValueKind::kBoolean:
      return raw & 1u;
    case CanopenValueKind::kUnsigned:
      return raw;
    case CanopenValueKind::kSigned: {
      const uint32_t sign = 1u << (8 * size - 1);
      return static_cast<int64_t>(raw ^ sign) - static_cast<int64_t>(sign);
    }
    default:
      return 0;
  }
}

}  // namespace busprobe
