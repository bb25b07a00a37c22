// PCAN Explorer trace lines (files of ';' comments without a version header):
// "number) time direction identifier [dlc] bytes...", times in whole milliseconds.
#include <string_view>

#include "traffic/log_reader.h"
#include "traffic/log_reader_scan.h"

namespace busprobe {

using logscan::Cursor;

LineResult ParsePcanExplorerLine(std::string_view line, const NameLookup& lookup, LogFrame& out) {
  Cursor c(line);
  if (c.peek() == ';') return LineResult::kSkip;
  c.skipBlanks();

  uint64_t number = 0, value = 0;
  int digits = 0;
  if (!logscan::ParseUnsigned(c, 10, 15, number, digits) || digits == 0) return LineResult::kSkip;
  c.consume(')');
  // The message number is optional: without a second number the first one is the time.
  uint64_t timeMs = number;
  {
    Cursor t = c;
    t.skipBlanks();
    if (IsDecimalDigit(t.peek())) {
      if (!logscan::ParseUnsigned(t, 10, 15, timeMs, digits)) return LineResult::kSkip;
      c = t;
    }
  }
  if (static_cast<double>(timeMs) / 1000.0 > kMaxLogTimeSec) return LineResult::kSkip;
  // A fractional time leaves us on its '.', where no direction word can follow.
  c.skipBlanks();
  if (!(c.consumeWord("Receive") || c.consumeWord("Send") || c.consumeWord("Rx") || c.consumeWord("Tx")) ||
      !c.atBlank()) {
    return LineResult::kSkip;
  }
  c.skipBlanks();

  uint32_t id = 0;
  const Cursor idStart = c;
  const bool numberOk = logscan::ParseUnsigned(c, 16, 8, value, digits);
  if (numberOk && digits > 0) c.consume('h');
  if (!numberOk || digits == 0 || !c.atBlankOrEnd()) {
    c = idStart;
    const LineResult r = logscan::ReadSymbolicId(c, lookup, id);
    if (r != LineResult::kFrame) return r;
  } else {
    if (value > CanFrame::kIdMask) return LineResult::kSkip;
    id = static_cast<uint32_t>(value);
    // Bits above 10 exist only in extended identifiers; sent as standard they would be cut off.
    if (id > 0x7FF) id |= CanFrame::kExtended;
  }

  // A single digit after the identifier is the length field, not a data byte.
  c.skipBlanks();
  if (IsDecimalDigit(c.peek()) && c.peek() <= '8' && (c.p + 1 == c.end || logscan::IsBlank(c.p[1]))) {
    ++c.p;
    c.skipBlanks();
  }

  CanFrame& f = out.frame;
  f.clear();
  int length = 0;
  while (length < 8) {
    c.skipBlanks();
    uint64_t byte = 0;
    if (!logscan::ParseHexToken(c, 2, byte, digits)) break;
    f.data[length++] = static_cast<uint8_t>(byte);
  }
  f.id = id;
  f.length = static_cast<uint8_t>(length);
  out.time = static_cast<double>(timeMs) / 1000.0;
  f.timestamp = static_cast<uint32_t>(timeMs);
  out.channel = 1;
  return LineResult::kFrame;
}

}  // namespace busprobe
