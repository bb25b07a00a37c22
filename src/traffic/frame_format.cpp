#include "traffic/frame_format.h"

#include <algorithm>
#include <cstring>

namespace busprobe {

namespace {

constexpr char kHex[] = "0123456789ABCDEF";
// Longest line without a comment: time (16) + bus (3) + decimal extended id with bus bits (11) +
// marks (7) + FD marks (4) + length (5) + 64 data columns (193), with room to spare.
constexpr size_t kScratch = 320;

inline char* PutHex2(char* p, uint8_t v) {
  p[0] = kHex[v >> 4];
  p[1] = kHex[v & 15];
  return p + 2;
}

template <typename Unsigned>
char* PutDigits(char* p, Unsigned v, int width) {
  char digits[24];
  int n = 0;
  do {
    digits[n++] = static_cast<char>('0' + v % 10);
    v /= 10;
  } while (v != 0);
  while (n < width) digits[n++] = '0';
  while (n > 0) *p++ = digits[--n];
  return p;
}

// Unsigned decimal, zero-filled to at least width digits. Nearly every value shown fits 32 bits,
// whose division is much cheaper than 64-bit division.
char* PutDecimal(char* p, uint64_t v, int width) {
  return v <= UINT32_MAX ? PutDigits(p, static_cast<uint32_t>(v), width) : PutDigits(p, v, width);
}

char* PutTime(char* p, const CanFrame& frame, const CanDisplaySettings& s, uint32_t previousTime) {
  // The difference is taken on the 32-bit millisecond clock, so it stays right across its wrap.
  const int32_t delta = static_cast<int32_t>(frame.timestamp - previousTime);
  if (s.timeStampDisplay == 2 && delta >= -50 && delta <= s.timeRelMax) {
    *p++ = ' ';
    *p++ = delta < 0 ? '-' : '+';
    p = PutDecimal(p, static_cast<uint64_t>(delta < 0 ? -static_cast<int64_t>(delta) : delta), 6);
  } else if (s.timeStampFormat == 2) {
    const uint32_t ms = frame.timestamp;
    // Hours are not wrapped at 24: the clock counts from the start of the program.
    p = PutDecimal(p, ms / 3600000u, 2);
    *p++ = ':';
    p = PutDecimal(p, (ms / 60000u) % 60u, 2);
    *p++ = ':';
    p = PutDecimal(p, (ms / 1000u) % 60u, 2);
    *p++ = '.';
    p = PutDecimal(p, (ms / 10u) % 100u, 2);
  } else {
    p = PutDecimal(p, frame.timestamp, 8);
  }
  *p++ = ':';
  *p++ = ' ';
  return p;
}

bool ShownAsText(uint32_t id, const CanDisplaySettings& s) {
  for (int word : s.showIdAsText)
    if (word != -1 && static_cast<uint32_t>(word) == id) return true;
  return false;
}

char* PutText(char* p, const CanFrame& frame, int length) {
  *p++ = ' ';
  char* const start = p;
  bool quoted = false;
  for (int i = 0; i < length && p - start < 32; ++i) {
    const uint8_t b = frame.data[i];
    if (b > 31) {
      if (!quoted) {
        if (p != start) *p++ = ' ';
        *p++ = '"';
        quoted = true;
      }
      *p++ = static_cast<char>(b);
    } else {
      if (quoted) {
        *p++ = '"';
        quoted = false;
      }
      *p++ = ' ';
      p = PutHex2(p, b);
    }
  }
  if (quoted) *p++ = '"';
  return p;
}

}  // namespace

size_t FormatFrameLine(const CanFrame& frame, const CanDisplaySettings& s, bool& extendedIdSeen,
                       uint32_t previousTime, char* buffer, size_t capacity) {
  if (capacity == 0) return 0;
  char scratch[kScratch];
  char* p = scratch;
  const int length = std::min<int>(frame.length, 64);
  const bool extended = frame.extended();

  if (s.timeStampDisplay > 0) p = PutTime(p, frame, s, previousTime);

  if (s.showBusNr) {
    *p++ = '#';
    *p++ = static_cast<char>('1' + frame.bus());
    *p++ = ' ';
  }

  uint32_t id = frame.id & ~CanFrame::kExtended;
  if (s.showBusNr) id &= ~CanFrame::kBusMask;
  if (s.canIdDisplay == 10) {
    *p++ = '#';
    p = PutDecimal(p, id, extended ? 9 : 4);
  } else {
    for (int shift = extended ? 28 : 8; shift >= 0; shift -= 4) *p++ = kHex[(id >> shift) & 15];
  }

  const bool fd = (frame.fdFlags & (CanFrame::kFdf | CanFrame::kBrs)) != 0;
  if (extended) {
    extendedIdSeen = true;
    if (s.mark29BitIds) {
      *p++ = '.';
      *p++ = fd ? 'X' : 'x';
    }
  } else {
    if (s.mark29BitIds) {
      *p++ = '.';
      *p++ = fd ? 'S' : 's';
    }
    if (extendedIdSeen) {
      std::memset(p, ' ', 5);
      p += 5;
    }
  }

  if (s.markFdFrames) {
    *p++ = ' ';
    const uint8_t f = frame.fdFlags & 0xE0;
    const char* mark = nullptr;
    if (f == 0x20) {
      mark = "FDF";
    } else if (f == 0x60) {
      mark = "BRS";
    } else if (f == 0xA0 || f == 0xE0) {
      mark = "ESI";
    }
    if (mark) {
      std::memcpy(p, mark, 3);
    } else {
      p[0] = (f & 0x20) ? 'F' : ' ';
      p[1] = (f & 0x40) ? 'B' : ' ';
      p[2] = (f & 0x80) ? 'E' : ' ';
    }
    p += 3;
  }

  if (s.showDlc) {
    *p++ = ' ';
    *p++ = '[';
    p = PutDecimal(p, static_cast<uint64_t>(length), 2);
    *p++ = ']';
  }

  if (frame.rtr) {
    *p++ = 'r';
    for (int i = 0; i < 8; ++i) {
      if (i < length) {
        std::memcpy(p, "XX ", 3);
      } else {
        std::memset(p, ' ', 3);
      }
      p += 3;
    }
  } else if (ShownAsText(frame.id, s)) {
    p = PutText(p, frame, length);
  } else {
    *p++ = ' ';
    const int columns = std::max(length, 8);
    for (int i = 0; i < columns; ++i) {
      if (i < length) {
        p = PutHex2(p, frame.data[i]);
      } else {
        p[0] = p[1] = ' ';
        p += 2;
      }
      *p++ = ' ';
    }
  }

  const size_t len = std::min(static_cast<size_t>(p - scratch), capacity - 1);
  std::memcpy(buffer, scratch, len);
  buffer[len] = '\0';
  return len;
}

size_t AppendLineComment(char* buffer, size_t len, size_t capacity, std::string_view comment, bool received) {
  if (capacity == 0) return 0;
  const size_t limit = capacity - 1;
  if (len > limit) len = limit;
  while (len < kCommentColumn && len < limit) buffer[len++] = ' ';
  if (received && len + comment.size() > 200) comment = comment.substr(0, 79);
  const size_t n = std::min(comment.size(), limit - len);
  std::memcpy(buffer + len, comment.data(), n);
  len += n;
  buffer[len] = '\0';
  return len;
}

}  // namespace busprobe
