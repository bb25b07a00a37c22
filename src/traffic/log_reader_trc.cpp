// PCAN-View trace lines (.trc). Each version has its own column order; 2.x files name theirs in a
// `$COLUMNS` header. A line is split into blank-separated words and the words are taken column by
// column; the data bytes are always the last column. Status, error and event rows are skipped.
#include <array>
#include <cstring>
#include <string_view>

#include "traffic/log_reader.h"
#include "traffic/log_reader_scan.h"

namespace busprobe {

using logscan::Cursor;

namespace {

constexpr std::string_view kKnownColumns = "NOTBIdRLlD";

bool SetColumns(std::string_view letters, TrcLayout& layout) {
  if (letters.empty() || letters.size() >= layout.columns.size()) return false;
  bool time = false, id = false, length = false;
  for (size_t i = 0; i < letters.size(); ++i) {
    const char c = letters[i];
    if (kKnownColumns.find(c) == std::string_view::npos) return false;
    // The data column takes the rest of the line.
    if (c == 'D' && i + 1 != letters.size()) return false;
    time |= c == 'O';
    id |= c == 'I';
    length |= c == 'L' || c == 'l';
  }
  if (!time || !id || !length || letters.back() != 'D') return false;
  layout.columns.fill('\0');
  std::memcpy(layout.columns.data(), letters.data(), letters.size());
  layout.columnCount = static_cast<int>(letters.size());
  return true;
}

// Row kinds of the 2.x type column; anything else (status, error counters, events) is no frame.
struct TrcType {
  std::string_view word;
  bool remote;
  uint8_t fdFlags;
};
constexpr TrcType kTrcTypes[] = {
    {"DT", false, 0},
    {"RR", true, 0},
    {"FD", false, CanFrame::kFdf},
    {"FB", false, CanFrame::kFdf | CanFrame::kBrs},
    {"FE", false, CanFrame::kFdf | CanFrame::kEsi},
    {"BI", false, CanFrame::kFdf | CanFrame::kBrs | CanFrame::kEsi},
};

bool WholeNumber(std::string_view w, int maxDigits, uint64_t& value) {
  Cursor c(w);
  int digits = 0;
  return logscan::ParseUnsigned(c, 10, maxDigits, value, digits) && digits > 0 && c.atEnd();
}

}  // namespace

bool TrcDefaultLayout(int version, TrcLayout& out) {
  const char* letters = nullptr;
  switch (version) {
    case 10:
      letters = "NOILD";
      break;
    case 11:
      letters = "NOTILD";
      break;
    case 12:
      letters = "NOBTILD";
      break;
    case 13:
      letters = "NOBTIRLD";
      break;
    case 20:
      letters = "NOTIdlD";
      break;
    case 21:
      letters = "NOTBIdRLD";
      break;
    default:
      return false;
  }
  out = TrcLayout{};
  out.version = version;
  out.typeIsDirection = version < 20;
  return SetColumns(letters, out);
}

bool TrcParseColumns(std::string_view value, TrcLayout& layout) {
  std::array<char, 16> letters{};
  size_t n = 0;
  Cursor c(value);
  for (;;) {
    c.skipBlanks();
    if (c.atEnd() || n + 1 >= letters.size()) return false;
    letters[n++] = *c.p++;
    c.skipBlanks();
    if (c.atEnd()) break;
    if (!c.consume(',')) return false;
  }
  TrcLayout candidate = layout;
  if (!SetColumns(std::string_view(letters.data(), n), candidate)) return false;
  layout = candidate;
  return true;
}

LineResult ParseTrcLine(std::string_view line, const TrcLayout& layout, LogFrame& out) {
  if (line.empty() || line[0] == ';') return LineResult::kSkip;
  static constexpr size_t kMaxWords = 96;
  std::array<std::string_view, kMaxWords> words;
  size_t count = 0;
  {
    Cursor c(line);
    for (;;) {
      c.skipBlanks();
      if (c.atEnd() || count == kMaxWords) break;
      words[count++] = c.word();
    }
  }

  double timeMs = 0.0;
  int channel = 1;
  uint32_t id = 0;
  bool remote = false;
  uint8_t fdFlags = 0;
  int length = -1;  // bytes the row carries
  size_t w = 0;
  for (int col = 0; col < layout.columnCount; ++col) {
    const char kind = layout.columns[static_cast<size_t>(col)];
    if (kind == 'D') break;
    if (w >= count) return LineResult::kSkip;
    const std::string_view word = words[w++];
    uint64_t value = 0;
    switch (kind) {
      case 'N': {
        std::string_view n = word;
        if (!n.empty() && n.back() == ')') n.remove_suffix(1);
        if (!WholeNumber(n, 18, value)) return LineResult::kSkip;
        break;
      }
      case 'O': {
        Cursor c(word);
        if (!logscan::ParseDecimal(c, kMaxLogTimeSec * 1000.0, timeMs) || !c.atEnd())
          return LineResult::kSkip;
        break;
      }
      case 'T':
        if (layout.typeIsDirection) {
          if (word != "Rx" && word != "Tx") return LineResult::kSkip;
        } else {
          const TrcType* type = nullptr;
          for (const TrcType& t : kTrcTypes) {
            if (t.word == word) type = &t;
          }
          if (!type) return LineResult::kSkip;
          remote = type->remote;
          fdFlags = type->fdFlags;
        }
        break;
      case 'B':
        if (!WholeNumber(word, 3, value) || value < 1 || value > 16) return LineResult::kSkip;
        channel = static_cast<int>(value);
        break;
      case 'I': {
        Cursor c(word);
        int digits = 0;
        if (!logscan::ParseUnsigned(c, 16, 8, value, digits) || digits == 0 || !c.atEnd())
          return LineResult::kSkip;
        // Error and status rows of old versions carry FFFFFFFF here.
        if (value > CanFrame::kIdMask) return LineResult::kSkip;
        id = static_cast<uint32_t>(value);
        if (digits > 4 || value > 0x7FF) id |= CanFrame::kExtended;
        break;
      }
      case 'd':
        if (word != "Rx" && word != "Tx") return LineResult::kSkip;
        break;
      case 'L':  // DLC code
        if (!WholeNumber(word, 2, value) || value > 15) return LineResult::kSkip;
        length = static_cast<int>(value);
        break;
      case 'l':  // byte count
        if (!WholeNumber(word, 2, value) || value > 64) return LineResult::kSkip;
        length = -2 - static_cast<int>(value);  // marked as a byte count, resolved below
        break;
      default:  // 'R' and whatever a later version adds: not needed
        break;
    }
  }

  const bool fd = (fdFlags & CanFrame::kFdf) != 0;
  if (length == -1) return LineResult::kSkip;
  if (length <= -2) {
    length = -2 - length;
    if (!fd && length > 8) return LineResult::kSkip;
  } else {
    length = fd ? CanDlcToLength(length) : (length > 8 ? 8 : length);
  }
  // Version 1.x writes "RTR" in the data column of a remote frame.
  if (w < count && words[w] == "RTR") remote = true;

  CanFrame& f = out.frame;
  f.clear();
  if (!remote) {
    if (count - w < static_cast<size_t>(length)) return LineResult::kSkip;
    for (int i = 0; i < length; ++i) {
      Cursor c(words[w++]);
      uint64_t byte = 0;
      int digits = 0;
      if (!logscan::ParseHexToken(c, 2, byte, digits)) return LineResult::kSkip;
      f.data[i] = static_cast<uint8_t>(byte);
    }
    if (fd) length = CanRoundUpFdLength(length);
  }
  f.id = id;
  f.rtr = remote ? 1 : 0;
  f.fdFlags = fdFlags;
  f.length = static_cast<uint8_t>(length);
  out.time = timeMs / 1000.0;
  f.timestamp = logscan::TimestampMs(out.time);
  out.channel = channel;
  return LineResult::kFrame;
}

}  // namespace busprobe
