// CanFrame: the one frame record of the system. Its byte layout is fixed (76 bytes, little-endian,
// packed) because it crosses process boundaries in remote-control messages and is stored as-is in
// every ring and list. Also the CAN FD length <-> DLC conversions shared by back-ends and parsers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace busprobe {

struct CanFrame {
  // bits 0..28 identifier, bit 29 extended, bits 30..31 bus index
  uint32_t id = 0;
  // milliseconds on the UCAN clock
  uint32_t timestamp = 0;
  uint8_t rtr = 0;
  // number of data bytes 0..64 (not the DLC code)
  uint8_t length = 8;
  uint8_t fdFlags = 0;
  uint8_t reserved = 0;
  uint8_t data[64] = {};

  static constexpr uint32_t kIdMask = 0x1FFFFFFFu;
  static constexpr uint32_t kExtended = 0x20000000u;
  static constexpr uint32_t kBusMask = 0xC0000000u;
  static constexpr int kBusShift = 30;
  // bits 11..28: an identifier with any of them set can only be an extended one
  static constexpr uint32_t kExtendedOnlyBits = 0x1FFFF800u;

  static constexpr uint8_t kFdf = 0x20;
  static constexpr uint8_t kBrs = 0x40;
  static constexpr uint8_t kEsi = 0x80;
  static constexpr uint8_t kLoopback = 0x01;
  static constexpr uint8_t kKvaserRemote = 0x08;
  static constexpr uint8_t kKvaserExtended = 0x10;

  int bus() const { return static_cast<int>(id >> kBusShift); }
  void setBus(int bus) { id = (id & ~kBusMask) | (static_cast<uint32_t>(bus & 3) << kBusShift); }
  uint32_t identifier() const { return id & kIdMask; }
  bool extended() const { return (id & kExtended) != 0; }
  bool isFd() const { return (fdFlags & kFdf) != 0; }
  // The id word a frame is matched with (wait patterns, canrx, trigger patterns, protocol channels,
  // listeners). A CAN-via-UDP server relays its buses 0 and 1 as indices 2 and 3; for anyone
  // waiting for a frame they are the same buses, so the upper index bit does not count. Displays
  // and logs keep showing `id` as it came.
  static constexpr uint32_t kRelayedBusBit = 0x80000000u;
  static constexpr uint32_t matchingId(uint32_t idWord) { return idWord & ~kRelayedBusBit; }
  uint32_t matchingId() const { return matchingId(id); }
  void clear() { *this = CanFrame{}; }
};

static_assert(sizeof(CanFrame) == 76, "CanFrame must keep its 76-byte wire layout");
static_assert(offsetof(CanFrame, timestamp) == 4);
static_assert(offsetof(CanFrame, rtr) == 8);
static_assert(offsetof(CanFrame, length) == 9);
static_assert(offsetof(CanFrame, fdFlags) == 10);
static_assert(offsetof(CanFrame, data) == 12);

// DLC code 0..15 -> data length; codes above 15 give 0.
int CanDlcToLength(int dlc);
// Data length -> smallest DLC code whose length is not below it; above 64 gives 0 (invalid).
int CanLengthToDlc(int length);
// Rounds a typed length up to the next valid CAN FD length (10 -> 12, 25 -> 32); above 64 stays as is.
int CanRoundUpFdLength(int length);

// Serialises / deserialises the fixed little-endian layout (host order is little-endian on every
// platform we build for; these keep the code honest should that ever change).
void CanFrameToBytes(const CanFrame& frame, uint8_t out[76]);
CanFrame CanFrameFromBytes(const uint8_t in[76]);

}  // namespace busprobe
