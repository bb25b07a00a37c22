// Vector ASCII frame lines: "time channel identifier Rx|Tx [d] length bytes..." and remote requests
// "time channel identifier Rx|Tx r [length]" (the form our logger writes them in). Everything else a
// Vector log holds (status and statistic lines, error frames, CAN FD lines, comments) does not fit
// this shape and is skipped.
#include <string_view>

#include "traffic/log_reader.h"
#include "traffic/log_reader_scan.h"

namespace busprobe {

using logscan::Cursor;

namespace logscan {

LineResult ReadSymbolicId(Cursor& c, const NameLookup& lookup, uint32_t& id) {
  static constexpr size_t kMaxName = 39;
  if (!IsLetter(c.peek())) return LineResult::kSkip;
  const std::string_view name = c.word();
  if (name.size() > kMaxName) return LineResult::kSkip;
  for (char ch : name) {
    if (ch <= ' ' || ch > '~') return LineResult::kSkip;
  }
  // An error frame is a line kind of its own, not a name the user could give an identifier to.
  if (name == "ErrorFrame") return LineResult::kSkip;
  const int value = lookup ? lookup(name) : -1;
  if (value < 0) return LineResult::kUnknownSymbol;
  if (static_cast<uint32_t>(value) > CanFrame::kIdMask) return LineResult::kSkip;
  id = static_cast<uint32_t>(value);
  if (id > 0x7FF) id |= CanFrame::kExtended;
  return LineResult::kFrame;
}

}  // namespace logscan

namespace {

// The word after the channel that marks a line as no frame ("1  Statistic: D 0 R 0 ...").
bool IsNonFrameWord(std::string_view w) {
  if (!w.empty() && w.back() == ':') w.remove_suffix(1);
  return w == "Statistic" || w == "Start" || w == "CAN";
}

}  // namespace

LineResult ParseVectorLine(std::string_view line, int radix, const NameLookup& lookup, LogFrame& out) {
  Cursor c(line);
  c.skipBlanks();
  double time = 0.0;
  if (!logscan::ParseDecimal(c, kMaxLogTimeSec, time) || !c.atBlank()) return LineResult::kSkip;
  c.skipBlanks();

  uint64_t channel = 0;
  int digits = 0;
  if (!logscan::ParseUnsigned(c, 10, 3, channel, digits) || digits == 0 || !c.atBlank()) {
    return LineResult::kSkip;
  }
  if (channel < 1 || channel > 16) return LineResult::kSkip;
  c.skipBlanks();
  {
    Cursor w = c;
    if (IsNonFrameWord(w.word())) return LineResult::kSkip;
  }

  // Identifier: a number in the file's radix (hex may carry "0x"), an optional 'x' for extended;
  // anything else is read as a symbolic name.
  uint32_t id = 0;
  const Cursor idStart = c;
  if (radix == 16 && (c.startsWith("0x") || c.startsWith("0X"))) c.p += 2;
  uint64_t value = 0;
  const bool numberOk = logscan::ParseUnsigned(c, radix, 10, value, digits);
  bool extended = false;
  if (numberOk && digits > 0 && (c.peek() == 'x' || c.peek() == 'X')) {
    extended = true;
    ++c.p;
  }
  if (!numberOk || digits == 0 || !c.atBlank()) {
    c = idStart;
    const LineResult r = logscan::ReadSymbolicId(c, lookup, id);
    if (r != LineResult::kFrame) return r;
  } else {
    if (value > CanFrame::kIdMask) return LineResult::kSkip;
    id = static_cast<uint32_t>(value);
    // Four characters hold any standard identifier; a longer one was written as extended.
    if (extended || digits > 4 || value > 2047) id |= CanFrame::kExtended;
  }
  if (!c.atBlank()) return LineResult::kSkip;
  c.skipBlanks();

  if (!(c.consumeWord("Rx") || c.consumeWord("Tx")) || !c.atBlank()) return LineResult::kSkip;
  c.skipBlanks();
  CanFrame& f = out.frame;
  if (c.peek() == 'r') {
    ++c.p;
    if (!c.atBlankOrEnd()) return LineResult::kSkip;
    c.skipBlanks();
    // An optional requested length; other tools append further words ("Length = ...") we ignore.
    uint64_t requested = 0;
    if (c.peek() >= '0' && c.peek() <= '9' &&
        (!logscan::ParseUnsigned(c, 10, 3, requested, digits) || requested > 8 || !c.atBlankOrEnd())) {
      return LineResult::kSkip;
    }
    f.clear();
    f.id = id;
    f.rtr = 1;
    f.length = static_cast<uint8_t>(requested);
    f.timestamp = logscan::TimestampMs(time);
    out.time = time;
    out.channel = static_cast<int>(channel);
    return LineResult::kFrame;
  }
  if (c.peek() == 'd') {
    ++c.p;
    if (!c.atBlank()) return LineResult::kSkip;
    c.skipBlanks();
  }

  uint64_t length = 0;
  if (!logscan::ParseUnsigned(c, 10, 3, length, digits) || digits == 0 || length > 8 || !c.atBlankOrEnd()) {
    return LineResult::kSkip;
  }

  f.clear();
  for (uint64_t i = 0; i < length; ++i) {
    if (!c.atBlank()) return LineResult::kSkip;
    c.skipBlanks();
    uint64_t byte = 0;
    if (!logscan::ParseUnsigned(c, radix, 3, byte, digits) || digits == 0 || byte > 0xFF ||
        !c.atBlankOrEnd()) {
      return LineResult::kSkip;
    }
    f.data[i] = static_cast<uint8_t>(byte);
  }
  f.id = id;
  f.length = static_cast<uint8_t>(length);
  f.timestamp = logscan::TimestampMs(time);
  out.time = time;
  out.channel = static_cast<int>(channel);
  return LineResult::kFrame;
}

}  // namespace busprobe
