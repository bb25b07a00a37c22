// The texts of the SDO abort codes, as the messages window, the frame comments, the scanners and
// the browsers show them.
#pragma once

#include <cstdint>
#include <string_view>

namespace busprobe {

// Abort codes the program itself sends or tests for.
enum SdoAbortCode : uint32_t {
  kSdoAbortToggle = 0x05030000,
  kSdoAbortTimeout = 0x05040000,
  kSdoAbortCommand = 0x05040001,
  kSdoAbortBlockSize = 0x05040002,
  kSdoAbortSequence = 0x05040003,
  kSdoAbortOutOfMemory = 0x05040005,
  kSdoAbortUnsupportedAccess = 0x06010000,
  kSdoAbortWriteOnly = 0x06010001,
  kSdoAbortReadOnly = 0x06010002,
  kSdoAbortIncompatibleAccess = 0x06010047,
  kSdoAbortNoObject = 0x06020000,
  kSdoAbortParameterIncompatible = 0x06040043,
  kSdoAbortCanError = 0x0606002F,
  kSdoAbortLengthTooHigh = 0x06070012,
  kSdoAbortCannotTransfer21 = 0x08000021,
};

// "unknown/timeout?" for 0, "unknown abort code" for a code the table does not hold.
std::string_view SdoAbortText(uint32_t code);

}  // namespace busprobe
