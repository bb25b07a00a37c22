// What the log reader fuzz targets share: any bytes as a log of one form; every reader decision
// survives them, every frame that comes out is a frame the CAN layer can carry, and reading in tiny
// blocks gives exactly what one large block gives.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "traffic/log_reader.h"

namespace logfuzz {

using busprobe::CanFrame;
using busprobe::LogFormat;
using busprobe::LogFrame;
using busprobe::LogReader;

void Check(bool ok) {
  if (!ok) std::abort();
}

// Names resolve to standard, extended, out-of-range identifiers or to nothing.
int Lookup(std::string_view name) {
  uint32_t h = 2166136261u;
  for (char c : name) h = (h ^ static_cast<uint8_t>(c)) * 16777619u;
  switch (h % 4) {
    case 0:
      return -1;
    case 1:
      return static_cast<int>(h & 0x7FF);
    case 2:
      return static_cast<int>(h & CanFrame::kIdMask);
    default:
      return static_cast<int>(h | 0x40000000u);
  }
}

void CheckFrame(const LogFrame& f) {
  const CanFrame& c = f.frame;
  Check(std::isfinite(f.time));
  Check(c.length <= 64);
  Check(c.isFd() ? busprobe::CanRoundUpFdLength(c.length) == c.length : c.length <= 8);
  Check((c.id & CanFrame::kBusMask) == 0);
  Check(c.extended() || c.identifier() <= 0x7FF);
  Check(f.channel >= 0 && f.channel <= 16);
}

bool Same(const LogFrame& a, const LogFrame& b) {
  return a.time == b.time && a.channel == b.channel && a.frame.id == b.frame.id &&
         a.frame.length == b.frame.length && a.frame.rtr == b.frame.rtr &&
         a.frame.fdFlags == b.frame.fdFlags && std::equal(a.frame.data, a.frame.data + 64, b.frame.data);
}

std::vector<LogFrame> ReadAll(LogReader& reader) {
  std::vector<LogFrame> frames;
  LogFrame f;
  while (reader.next(f)) {
    CheckFrame(f);
    frames.push_back(f);
  }
  return frames;
}

// The first input byte selects reader options (and, through its high nibble, the longest line); the
// rest is the log. `chooseFormat` sets the form and its options from the selector and the input.
template <typename ChooseFormat>
int FuzzLogReader(const uint8_t* data, size_t size, ChooseFormat chooseFormat) {
  if (size < 1) return 0;
  const uint8_t select = data[0];
  const std::string_view input(reinterpret_cast<const char*>(data + 1), size - 1);
  const size_t maxLine = 16 + (select >> 4) * 16;

  LogFormat format;
  chooseFormat(select, input, format);

  LogReader large(Lookup, size_t{1} << 16, maxLine), small(Lookup, 1, maxLine);
  large.openMemoryAs(input, format);
  small.openMemoryAs(input, format);
  const std::vector<LogFrame> a = ReadAll(large), b = ReadAll(small);
  Check(a.size() == b.size());
  for (size_t i = 0; i < a.size(); ++i) Check(Same(a[i], b[i]));
  Check(large.position() == input.size() && small.position() == input.size());

  // Reading again from the data start gives the same frames.
  large.rewind();
  const std::vector<LogFrame> again = ReadAll(large);
  Check(again.size() == a.size());

  // The detection over the same bytes, and whatever form it finds.
  LogReader detected(Lookup, 1, maxLine);
  if (detected.openMemory(input)) {
    Check(detected.format().dataStart <= input.size());
    ReadAll(detected);
  }
  return 0;
}

}  // namespace logfuzz
