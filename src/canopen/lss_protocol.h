// Layer setting services: the two identifiers, the command specifiers both sides use and the
// 128-bit identity that tells unconfigured devices apart.
#pragma once

#include <cstdint>

#include "can/can_frame.h"

namespace busprobe {

inline constexpr uint32_t kLssMasterToSlaveId = 0x7E5;
inline constexpr uint32_t kLssSlaveToMasterId = 0x7E4;

enum LssCommand : uint8_t {
  kLssSwitchStateGlobal = 0x04,
  kLssConfigureNodeId = 0x11,
  kLssConfigureBitTiming = 0x13,
  kLssActivateBitTiming = 0x15,
  kLssStoreConfiguration = 0x17,
  kLssIdentifySlave = 0x4F,
  kLssFastscan = 0x51,
  kLssInquireVendor = 0x5A,
  kLssInquireProduct = 0x5B,
  kLssInquireRevision = 0x5C,
  kLssInquireSerial = 0x5D,
  kLssInquireNodeId = 0x5E,
};

// Fastscan's BitCheck value that resets every unconfigured slave into the scan.
inline constexpr uint8_t kLssFastscanReset = 0x80;

// Vendor ID, product code, revision number, serial number.
struct LssIdentity {
  uint32_t part[4] = {};
  bool operator==(const LssIdentity&) const = default;
};

// An LSS frame as both sides send it: 8 bytes, unused ones 0.
inline CanFrame LssFrame(uint32_t identifier, uint8_t command) {
  CanFrame frame;
  frame.id = identifier;
  frame.length = 8;
  frame.data[0] = command;
  return frame;
}

// True for an 11-bit data frame of 8 bytes with that identifier: the only shape an LSS frame has.
inline bool IsLssFrame(const CanFrame& frame, uint32_t identifier) {
  return !frame.extended() && frame.rtr == 0 && frame.identifier() == identifier && frame.length == 8;
}

inline uint32_t LssData32(const CanFrame& frame, int first) {
  return static_cast<uint32_t>(frame.data[first]) | static_cast<uint32_t>(frame.data[first + 1]) << 8 |
         static_cast<uint32_t>(frame.data[first + 2]) << 16 |
         static_cast<uint32_t>(frame.data[first + 3]) << 24;
}

inline void LssSetData32(CanFrame& frame, int first, uint32_t value) {
  for (int i = 0; i < 4; ++i) frame.data[first + i] = static_cast<uint8_t>(value >> (8 * i));
}

}  // namespace busprobe
