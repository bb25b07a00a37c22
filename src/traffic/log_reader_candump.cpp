// can-utils candump log lines: "(seconds) interface frame", the frame in the compact form
// "123#11223344" (3 hex digits: standard, 8: extended), "123#R" or "123#R4" for a remote frame and
// "123##<flags>11223344..." for a CAN FD frame (flags nibble: 1 BRS, 2 ESI). Interfaces become
// channels in the order they first appear.
#include <cstring>
#include <string_view>

#include "traffic/log_reader.h"
#include "traffic/log_reader_scan.h"

namespace busprobe {

using logscan::Cursor;

int CandumpChannels::channelOf(std::string_view name) {
  if (name.empty() || name.size() > kMaxNameLength) return 0;
  for (int i = 0; i < count_; ++i) {
    const size_t k = static_cast<size_t>(i);
    if (lengths_[k] == name.size() && std::memcmp(names_[k].data(), name.data(), name.size()) == 0)
      return i + 1;
  }
  if (count_ == kMaxInterfaces) return 0;
  const size_t k = static_cast<size_t>(count_);
  std::memcpy(names_[k].data(), name.data(), name.size());
  lengths_[k] = static_cast<uint8_t>(name.size());
  return ++count_;
}

namespace {

// Hex byte pairs, optionally separated by '.', up to the end of the frame word.
bool ReadBytes(Cursor& c, int maxBytes, uint8_t* data, int& count) {
  count = 0;
  while (!c.atBlankOrEnd() && c.peek() != '_') {
    if (count > 0 && c.peek() == '.') ++c.p;
    if (c.end - c.p < 2 || count == maxBytes) return false;
    const int hi = HexDigitValue(c.p[0]), lo = HexDigitValue(c.p[1]);
    if (hi < 0 || lo < 0) return false;
    data[count++] = static_cast<uint8_t>(hi << 4 | lo);
    c.p += 2;
  }
  return true;
}

// The "_<dlc>" suffix of a classic frame whose DLC code exceeds 8 (the data still holds 8 bytes).
bool SkipLen8Dlc(Cursor& c) {
  if (!c.consume('_')) return true;
  const int d = HexDigitValue(c.peek());
  if (d < 9) return false;
  ++c.p;
  return true;
}

}  // namespace

LineResult ParseCandumpLine(std::string_view line, CandumpChannels& channels, LogFrame& out) {
  Cursor c(line);
  c.skipBlanks();
  double time = 0.0;
  if (!c.consume('(') || !logscan::ParseDecimal(c, kMaxLogTimeSec, time) || !c.consume(')') || !c.atBlank()) {
    return LineResult::kSkip;
  }
  c.skipBlanks();
  const std::string_view iface = c.word();
  if (iface.empty() || !c.atBlank()) return LineResult::kSkip;
  c.skipBlanks();

  uint64_t value = 0;
  int digits = 0;
  if (!logscan::ParseUnsigned(c, 16, 8, value, digits) || !c.consume('#')) return LineResult::kSkip;
  uint32_t id = 0;
  if (digits == 3 && value <= 0x7FF) {
    id = static_cast<uint32_t>(value);
  } else if (digits == 8 && value <= CanFrame::kIdMask) {
    // Identifiers with the error flag (0x20000000) are error frames: skipped.
    id = static_cast<uint32_t>(value) | CanFrame::kExtended;
  } else {
    return LineResult::kSkip;
  }

  CanFrame& f = out.frame;
  f.clear();
  int length = 0;
  if (c.consume('#')) {
    const int flags = HexDigitValue(c.peek());
    if (flags < 0) return LineResult::kSkip;  // also "###": CAN XL, not ours
    ++c.p;
    if (!ReadBytes(c, 64, f.data, length)) return LineResult::kSkip;
    f.fdFlags = CanFrame::kFdf;
    if (flags & 1) f.fdFlags |= CanFrame::kBrs;
    if (flags & 2) f.fdFlags |= CanFrame::kEsi;
    length = CanRoundUpFdLength(length);
  } else if (c.peek() == 'R' || c.peek() == 'r') {
    ++c.p;
    f.rtr = 1;
    if (IsDecimalDigit(c.peek())) {
      length = *c.p++ - '0';
      if (length > 8) return LineResult::kSkip;
    }
    if (!SkipLen8Dlc(c)) return LineResult::kSkip;
  } else {
    if (!ReadBytes(c, 8, f.data, length)) return LineResult::kSkip;
    if (length == 8 && !SkipLen8Dlc(c)) return LineResult::kSkip;
  }
  if (!c.atBlankOrEnd()) return LineResult::kSkip;

  // Channel 0 (more interfaces than we number) maps to no bus; the player counts such frames.
  const int channel = channels.channelOf(iface);
  f.id = id;
  f.length = static_cast<uint8_t>(length);
  f.timestamp = logscan::TimestampMs(time);
  out.time = time;
  out.channel = channel;
  return LineResult::kFrame;
}

}  // namespace busprobe
