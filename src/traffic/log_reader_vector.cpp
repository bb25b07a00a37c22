// Vector ASCII frame lines: "time channel identifier Rx|Tx [d] length bytes..." and remote requests
// "time channel identifier Rx|Tx r [length]" (the form our logger writes them in), and the CAN FD
// lines "time CANFD channel Rx|Tx identifier [name] brs esi dlc length bytes... [trailer]".
// Everything else a Vector log holds (status and statistic lines, error frames, comments) does not
// fit these shapes and is skipped.
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

// Bits of the FD line's flags column (the third word after the data bytes): the frame is an FD
// frame (EDL), or, without EDL, a classic frame that may be a remote request.
constexpr uint64_t kFdFlagRemote = 0x10;
constexpr uint64_t kFdFlagEdl = 0x1000;

// A "0" or "1" column followed by a blank.
bool ReadBit(Cursor& c, bool& bit) {
  const char v = c.peek();
  if (v != '0' && v != '1') return false;
  ++c.p;
  if (!c.atBlank()) return false;
  bit = v == '1';
  c.skipBlanks();
  return true;
}

// The rest of a CAN FD line after its "CANFD" word. The identifier is always a number here (a name
// has a column of its own, which is not needed). The data-length column says how many bytes follow;
// the DLC is only checked, and gives a remote request its length. The trailer (duration, bit count, flags,
// CRC, bit timing) is optional: when its flags lack EDL the line holds a classic frame, the way some tools
// log every frame of an FD channel.
// `length` data bytes in the radix of the file, each after a blank.
bool ReadDataBytes(Cursor& c, int radix, uint64_t length, uint8_t* data) {
  int digits = 0;
  for (uint64_t i = 0; i < length; ++i) {
    if (!c.atBlank()) return false;
    c.skipBlanks();
    uint64_t byte = 0;
    if (!logscan::ParseUnsigned(c, radix, 3, byte, digits) || digits == 0 || byte > 0xFF || !c.atBlankOrEnd())
      return false;
    data[i] = static_cast<uint8_t>(byte);
  }
  return true;
}

LineResult ParseVectorFdLine(Cursor& c, int radix, double time, LogFrame& out) {
  c.skipBlanks();
  uint64_t channel = 0;
  int digits = 0;
  if (!logscan::ParseUnsigned(c, 10, 3, channel, digits) || digits == 0 || !c.atBlank()) {
    return LineResult::kSkip;
  }
  if (channel < 1 || channel > 16) return LineResult::kSkip;
  c.skipBlanks();
  if (!(c.consumeWord("Rx") || c.consumeWord("Tx")) || !c.atBlank()) return LineResult::kSkip;
  c.skipBlanks();

  if (radix == 16) c.p += HexPrefixLength(c.rest(), false);
  uint64_t value = 0;
  if (!logscan::ParseUnsigned(c, radix, 10, value, digits) || digits == 0) return LineResult::kSkip;
  const bool marked = c.consume('x') || c.consume('X');
  if (!c.atBlank() || value > CanFrame::kIdMask) return LineResult::kSkip;
  uint32_t id = static_cast<uint32_t>(value);
  if (marked || digits > 4 || value > 2047) id |= CanFrame::kExtended;
  c.skipBlanks();

  // The name column is there when the word is not all digits (the BRS column is).
  {
    Cursor w = c;
    const std::string_view word = w.word();
    if (word.find_first_not_of("0123456789") != std::string_view::npos) {
      c = w;
      c.skipBlanks();
    }
  }
  bool brs = false, esi = false;
  if (!ReadBit(c, brs) || !ReadBit(c, esi)) return LineResult::kSkip;
  uint64_t dlc = 0, length = 0;
  if (!logscan::ParseUnsigned(c, radix, 2, dlc, digits) || digits == 0 || dlc > 15 || !c.atBlank()) {
    return LineResult::kSkip;
  }
  c.skipBlanks();
  if (!logscan::ParseUnsigned(c, 10, 2, length, digits) || digits == 0 || length > 64 || !c.atBlankOrEnd()) {
    return LineResult::kSkip;
  }

  CanFrame& f = out.frame;
  f.clear();
  if (!ReadDataBytes(c, radix, length, f.data)) return LineResult::kSkip;

  uint64_t flags = kFdFlagEdl;
  {
    Cursor t = c;
    t.skipBlanks();
    t.word();  // duration
    t.skipBlanks();
    t.word();  // bit count
    t.skipBlanks();
    uint64_t given = 0;
    if (ParseUnsignedToken(t.word(), 16, 8, 0xFFFFFFFFu, given)) flags = given;
  }
  if ((flags & kFdFlagEdl) == 0 && length <= 8) {
    if (flags & kFdFlagRemote) {
      f.rtr = 1;
      f.length = static_cast<uint8_t>(dlc < 8 ? dlc : 8);
      for (uint8_t& b : f.data) b = 0;
    } else {
      f.length = static_cast<uint8_t>(length);
    }
  } else {
    f.fdFlags = CanFrame::kFdf | (brs ? CanFrame::kBrs : 0) | (esi ? CanFrame::kEsi : 0);
    f.length = static_cast<uint8_t>(CanRoundUpFdLength(static_cast<int>(length)));
  }
  f.id = id;
  f.timestamp = logscan::TimestampMs(time);
  out.time = time;
  out.channel = static_cast<int>(channel);
  return LineResult::kFrame;
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
    if (digits == 0 && c.consumeWord("CANFD") && c.atBlank()) return ParseVectorFdLine(c, radix, time, out);
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
  if (radix == 16) c.p += HexPrefixLength(c.rest(), false);
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
  if (!ReadDataBytes(c, radix, length, f.data)) return LineResult::kSkip;
  f.id = id;
  f.length = static_cast<uint8_t>(length);
  f.timestamp = logscan::TimestampMs(time);
  out.time = time;
  out.channel = static_cast<int>(channel);
  return LineResult::kFrame;
}

}  // namespace busprobe
