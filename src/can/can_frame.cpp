#include "can/can_frame.h"

#include <array>

#include "base/byte_order.h"

namespace busprobe {

namespace {
constexpr std::array<uint8_t, 16> kDlcLength = {0, 1, 2, 3, 4, 5, 6, 7, 8, 12, 16, 20, 24, 32, 48, 64};

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
  PutLe32(out, f.id);
  PutLe32(out + 4, f.timestamp);
  out[8] = f.rtr;
  out[9] = f.length;
  out[10] = f.fdFlags;
  out[11] = f.reserved;
  std::memcpy(out + 12, f.data, 64);
}

CanFrame CanFrameFromBytes(const uint8_t in[76]) {
  CanFrame f;
  f.id = GetLe32(in);
  f.timestamp = GetLe32(in + 4);
  f.rtr = in[8];
  f.length = in[9];
  f.fdFlags = in[10];
  f.reserved = in[11];
  std::memcpy(f.data, in + 12, 64);
  return f;
}

}  // namespace busprobe
