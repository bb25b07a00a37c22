#include "canopen/dictionary_text.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>

#include "base/canopen_types.h"
#include "base/number_lex.h"
#include "canopen/od_tables.h"
#include "canopen/od_value_text.h"
#include "interp/expression.h"

namespace busprobe {

namespace {

constexpr std::size_t kMaxLineLength = 512;

char Upper(char c) {
  return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

bool IsLetter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// Values in a dictionary line use no clock, frames or extensions: an environment with none.
class LineEnvironment final : public ScriptEnvironment {
 public:
  double nowMs() const override { return 0.0; }
  void message(std::string_view) override {}
  bool findReceivedFrame(uint32_t, double, CanFrame&) override { return false; }
  int32_t receivedCount(uint32_t) override { return 0; }
};

class LineParser {
 public:
  LineParser(std::string_view line, ExpressionEvaluator& eval) : s_(line), eval_(eval) {}

  bool parse(OdEntry& e, ObjectDictionary& od, std::string& problem);

 private:
  void skipBlanks() {
    while (p_ < s_.size() && (s_[p_] == ' ' || s_[p_] == '\t')) ++p_;
  }
  // The word at the cursor, any case; consumed when it matches.
  bool word(std::string_view w) {
    if (s_.size() - p_ < w.size()) return false;
    for (std::size_t i = 0; i < w.size(); ++i) {
      if (Upper(s_[p_ + i]) != Upper(w[i])) return false;
    }
    p_ += w.size();
    return true;
  }
  // Decimal digits followed by at least `minMarks` question marks (all of them taken).
  bool numberWithMarks(uint32_t& value, int minMarks) {
    const std::size_t start = p_;
    const char* p = s_.data() + p_;
    uint64_t v = 0;
    const int n = ScanDigits(p, s_.data() + s_.size(), 10, 9, v);
    p_ += static_cast<std::size_t>(n);
    int marks = 0;
    while (p_ < s_.size() && s_[p_] == '?') {
      ++p_;
      ++marks;
    }
    if (n == 0 || marks < minMarks) {
      p_ = start;
      return false;
    }
    value = static_cast<uint32_t>(v);
    return true;
  }
  int type();
  uint8_t access();
  uint8_t display();
  void value(OdEntry& e, ObjectDictionary& od, std::string& problem);
  std::string_view rest() const { return s_.substr(p_); }

  std::string_view s_;
  std::size_t p_ = 0;
  ExpressionEvaluator& eval_;
};

int LineParser::type() {
  // The names the lines are written with (padded to 12), then the script language's names.
  std::size_t best = 0;
  int code = -1;
  for (const CanopenDataType& t : kCanopenDataTypes) {
    if (t.name.empty() || t.name.size() <= best) continue;
    const std::size_t at = p_;
    if (word(t.name)) {
      best = t.name.size();
      code = t.code;
    }
    p_ = at;
  }
  if (code >= 0) {
    p_ += best;
    return code;
  }
  std::size_t length = 0;
  if (const CanopenDataType* t = MatchCanopenTypeName(rest(), length); t != nullptr) {
    p_ += length;
    return t->code;
  }
  const std::size_t at = p_;
  if (word("TYPE")) skipBlanks();
  uint32_t n = 0;
  if (numberWithMarks(n, 0)) return static_cast<int>(n & 0xFF);
  p_ = at;
  return -1;
}

uint8_t LineParser::access() {
  uint8_t a = 0;
  uint32_t n = 0;
  if (word("RWPROC")) {
    a = kOdAccessWriteProcess;
  } else if (word("RDPROC")) {
    a = kOdAccessReadProcess;
  } else if (word("RONLY")) {
    a = kOdAccessReadOnly;
  } else if (word("WONLY")) {
    a = kOdAccessWriteOnly;
  } else if (word("CONST")) {
    a = kOdAccessConst;
  } else if (word("RW")) {
    a = kOdAccessReadWrite;
  } else if (word("RO")) {
    a = kOdAccessReadOnly;
  } else if (word("WO")) {
    a = kOdAccessWriteOnly;
  } else if (numberWithMarks(n, 1)) {
    a = static_cast<uint8_t>(n);
  }
  while (true) {
    if (word(",PDO")) {
      a |= kOdAccessPdo;
    } else if (word(",NV")) {
      a |= kOdAccessNonVolatile;
    } else {
      break;
    }
  }
  return a;
}

uint8_t LineParser::display() {
  static constexpr struct {
    const char* word;
    char letter;
  } kWords[] = {{"DEC", 'd'}, {"HEX", 'h'}, {"BIN", 'b'}, {"CHR", 'c'}, {"FLT", 'f'},
                {"MIX", 'm'}, {"ASC", 'a'}, {"STR", 'a'}, {"???", '?'}};
  for (const auto& w : kWords) {
    if (word(w.word)) return static_cast<uint8_t>(w.letter);
  }
  uint32_t n = 0;
  if (numberWithMarks(n, 1)) return static_cast<uint8_t>(n);
  if (p_ < s_.size() && IsLetter(s_[p_]) && (p_ + 1 == s_.size() || !IsLetter(s_[p_ + 1])) && s_[p_] != '"') {
    return static_cast<uint8_t>(s_[p_++]);
  }
  return 0;
}

// Quoted runs and hex bytes, as the display rendering of bytes writes them.
std::string ReadBytesText(std::string_view t) {
  std::string out;
  std::size_t i = 0;
  while (i < t.size()) {
    if (t[i] == ' ' || t[i] == '\t') {
      ++i;
    } else if (t[i] == '"') {
      const std::size_t close = t.find('"', i + 1);
      const std::size_t end = close == std::string_view::npos ? t.size() : close;
      out.append(t.substr(i + 1, end - i - 1));
      i = end + 1;
    } else if (i + 1 < t.size() && HexDigitValue(t[i]) >= 0 && HexDigitValue(t[i + 1]) >= 0) {
      out += static_cast<char>(HexDigitValue(t[i]) * 16 + HexDigitValue(t[i + 1]));
      i += 2;
    } else {
      break;
    }
  }
  return out;
}

void LineParser::value(OdEntry& e, ObjectDictionary& od, std::string& problem) {
  std::string_view text = rest();
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  if (text.empty()) return;
  e.hasDefault = 1;
  OdValue& v = e.defaultValue;
  const int type = v.dataType;
  auto integer = [&]() {
    ScriptCursor c(text);
    int32_t n = 0;
    return eval_.evaluateInt(c, n) == 0 ? n : 0;
  };
  if (type == kCoTypeVisibleString) {
    const std::string bytes = ReadBytesText(text);
    if (!od.pool().store(v, reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size())) {
      if (problem.empty()) {
        char buf[96];
        std::snprintf(buf, sizeof buf, "no free block for the text of object 0x%04X sub %u", e.index,
                      e.subIndex);
        problem = buf;
      }
    }
    return;
  }
  if (type == kCoTypeBoolean) {
    v.setData32(integer() != 0 ? 1 : 0);
  } else if (type >= kCoTypeInteger8 && type <= kCoTypeUnsigned32 && text.front() == '"') {
    const std::size_t close = text.find('"', 1);
    const std::string_view raw = text.substr(1, (close == std::string_view::npos ? text.size() : close) - 1);
    std::memset(v.data, 0, 4);
    std::memcpy(v.data, raw.data(), raw.size() < 4 ? raw.size() : 4);
  } else if (type == kCoTypeReal32) {
    // Plain numbers in every form printf writes (also "1e+10"), else an expression.
    double d = 0;
    const char* first = text.data();
    const char* last = text.data() + text.size();
    if (first != last && *first == '+') ++first;
    const auto r = std::from_chars(first, last, d);
    if (r.ec != std::errc() || r.ptr != last || !std::isfinite(d)) {
      ScriptCursor c(text);
      if (eval_.evaluateFloat(c, d) != 0) d = 0;
    }
    const float f = static_cast<float>(d);
    std::memcpy(v.data, &f, 4);
  } else {
    // Every other type reads back the integer its line shows ("0x%08X" for the types the
    // rendering knows no form for).
    v.setData32(static_cast<uint32_t>(integer()));
  }
  v.inlineLength = static_cast<uint8_t>(OdValueSize(v) > 0 ? OdValueSize(v) : 4);
}

bool LineParser::parse(OdEntry& e, ObjectDictionary& od, std::string& problem) {
  skipBlanks();
  const char* p = s_.data() + p_;
  const char* end = s_.data() + s_.size();
  uint64_t index = 0, sub = 0;
  const int digits = ScanDigits(p, end, 16, 9, index);
  p_ = static_cast<std::size_t>(p - s_.data());
  if (digits == 0 || index == 0 || index > 0xFFFF) return false;
  if (p_ < s_.size() && (s_[p_] == '.' || s_[p_] == ',')) {
    ++p_;
    p = s_.data() + p_;
    ScanDigits(p, end, 16, 9, sub);
    p_ = static_cast<std::size_t>(p - s_.data());
    if (sub > 0xFF) return false;
  }
  e = OdEntry();
  e.index = static_cast<uint16_t>(index);
  e.subIndex = static_cast<uint8_t>(sub);
  skipBlanks();
  if (p_ < s_.size() && s_[p_] == '"') {
    // Names may hold quotes themselves ("Wait for i/o to be "On""): the name ends at the quote
    // the writer puts a blank behind.
    std::size_t close = s_.find('"', p_ + 1);
    while (close != std::string_view::npos && close + 1 < s_.size() && s_[close + 1] != ' ' &&
           s_[close + 1] != '\t')
      close = s_.find('"', close + 1);
    const std::size_t stop = close == std::string_view::npos ? s_.size() : close;
    e.setName(s_.substr(p_ + 1, stop - p_ - 1));
    p_ = stop < s_.size() ? stop + 1 : stop;
  }
  skipBlanks();
  const int t = type();
  e.defaultValue.dataType = static_cast<uint8_t>(t < 0 ? 0 : t);
  skipBlanks();
  e.access = access();
  skipBlanks();
  e.display = display();
  skipBlanks();
  if (word("MARKED")) e.markFlags |= 1;
  skipBlanks();
  value(e, od, problem);
  return true;
}

}  // namespace

std::string OdEntryTextLine(const OdEntry& e) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%04X.%02X ", e.index, e.subIndex);
  std::string line = buf;
  if (static_cast<unsigned char>(e.name[0]) > ' ') {
    line += '"';
    line += e.nameView();
    line += "\" ";
  }
  line += OdTypeName(e.defaultValue.dataType);
  line += OdAccessText(e.access);
  line += OdDisplayText(e.display);
  if ((e.markFlags & 1) != 0) line += "marked ";
  line += OdValueText(e.display, e.defaultValue, std::string::npos);
  return line;
}

int ReadDictionaryText(std::string_view text, ObjectDictionary& dictionary, std::string& problem) {
  dictionary.clear();
  problem.clear();
  LineEnvironment env;
  auto state = std::make_unique<InterpState>();
  ExpressionEvaluator eval(*state, env);
  std::string line;
  line.reserve(kMaxLineLength);
  bool full = false;
  for (const char c : text) {
    if (c != '\r') {
      if (static_cast<unsigned char>(c) >= 32 && line.size() < kMaxLineLength) line += c;
      continue;
    }
    OdEntry e;
    const std::string complete = std::move(line);
    line.clear();
    LineParser parser(complete, eval);
    if (!parser.parse(e, dictionary, problem)) continue;
    if (dictionary.append(e) < 0) {
      dictionary.pool().release(e.defaultValue);
      full = true;
      break;
    }
  }
  if (full && problem.empty()) problem = "dictionary full: lines after 2048 entries left out";
  dictionary.sort();
  return dictionary.count();
}

bool ParseDictionaryTextLine(std::string_view line, ObjectDictionary& dictionary, OdEntry& entry,
                             std::string& problem) {
  LineEnvironment env;
  auto state = std::make_unique<InterpState>();
  ExpressionEvaluator eval(*state, env);
  std::string clean;
  for (const char c : line.substr(0, kMaxLineLength))
    if (static_cast<unsigned char>(c) >= 32) clean += c;
  LineParser parser(clean, eval);
  return parser.parse(entry, dictionary, problem);
}

std::string WriteDictionaryText(const ObjectDictionary& dictionary) {
  std::string out;
  const int used = dictionary.count();
  for (int i = 0; i < used; ++i) {
    out += OdEntryTextLine(dictionary.slot(i));
    out += "\r\n";
  }
  return out;
}

}  // namespace busprobe
