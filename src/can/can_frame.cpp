#include "can/can_frame.h"

#include <array>

namespace busprobe {

namespace {
constexpr std::array<uint8_t, 16> kDlcLength = {0, 1, 2, 3, 4, 5, 6, 7, 8, 12, 16, 20, 24, 32, 48, 64};

void PutU32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
  p[2] = static_cast<uint8_t>(v >> 16);
  p[3] = static_cast<uint8_t>(v >> 24);
}
uint32_t GetU32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
         (static_cast<uint32_t>(p[3]) << 24);
}
}  // namespace

int CanDlcToLength(int dlc) {
  if (dlc < 0 || dlc > 15) return 0;
  return kDlcLength[static_cast<size_t>(dlc)];
}

int CanLengthToDlc(int length) {
  if (length < 0 || length > 64) return 0;
  for (int dlc = 0; dlc < 16; ++dlc) {
    if (kDlcLength[static_cast<size_t>(dlc)] >= length) return dlc;
  }
  return 0;
}

int CanRoundUpFdLength(int length) {
  if (length < 0 || length > 64) return length;
  return CanDlcToLength(CanLengthToDlc(length));
}

void CanFrameToBytes(const CanFrame& f, uint8_t out[76]) {
  PutU32(out, f.id);
  PutU32(out + 4, f.timestamp);
  out[8] = f.rtr;
  out[9] = f.length;
  out[10] = f.fdFlags;
  out[11] = f.reserved;
  std::memcpy(out + 12, f.data, 64);
}

CanFrame CanFrameFromBytes(const uint8_t in[76]) {
  CanFrame f;
  f.id = GetU32(in);
  f.timestamp = GetU32(in + 4);
  f.rtr = in[8];
  f.length = in[9];
  f.fdFlags = in[10];
  f.reserved = in[11];
  std::memcpy(f.data, in + 12, 64);
  return f;
}

}  // namespace busprobe
