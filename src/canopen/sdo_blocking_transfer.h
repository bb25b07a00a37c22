// The blocking client transfer every caller outside the script command uses (the remote
// dictionary browser, the node and dictionary scanners, the firmware updater): set up the client
// channel for one object of one node, start it, and wait while the receive path keeps running,
// then read the result from the channel.
#pragma once

#include <cstdint>

#include "canopen/sdo_channel.h"

namespace busprobe {

// What such a caller needs of the application: its SDO client channel, the start of a transfer,
// and a wait that keeps the receive path (lists, logger, every SDO channel) and the timeout tick
// running. The application implements it over its SDO engine; tests may implement it over an
// engine of their own.
class SdoClientPort {
 public:
  virtual ~SdoClientPort() = default;
  virtual SdoChannel& client() = 0;
  virtual bool InitTransfer() = 0;
  // 0 once the client is no longer busy, -16 when timeoutMs ran out, -17 when the program is not
  // ready for a wait (still starting, or closing).
  virtual int SdoWaitForCompletion(int timeoutMs) = 0;
  // Set for the duration of a blocking transfer: the script command refuses to start one then.
  virtual bool& sdoAccessBusy() = 0;
};

struct SdoBlockingRequest {
  int nodeId = 1;
  uint16_t index = 0;
  uint8_t subIndex = 0;
  uint8_t dataType = 0;
  bool download = false;
  int timeoutMs = 500;
  // A download: the value (expedited, valueSize bytes) or, with blockLength > 0, the first
  // blockLength bytes of `block` (segmented).
  uint8_t value[4] = {};
  uint8_t valueSize = 4;
  const uint8_t* block = nullptr;
  int32_t blockLength = 0;
};

enum class SdoBlockingOutcome {
  kDone,         // finished without an abort: the result is in the client channel
  kAborted,      // finished with an abort code (client().abortCode)
  kTimedOut,     // the wait ran out, or the client's own timer did
  kFailed,       // ended without an abort code otherwise (an answer that did not fit the request)
  kNotStarted,   // InitTransfer refused (bad identifier, the send path failed)
  kNotReady,     // the program was not ready for a wait
};

// Runs one transfer as described at the top. The client's identifiers are set for the node
// (0x600 + node, 0x580 + node), its timer to (timeoutMs + 50) / 100 ticks; sdoAccessBusy is set
// for the wait and restored after it. A transfer still running when the wait ends is failed: its
// caller has given up on it.
SdoBlockingOutcome RunBlockingTransfer(SdoClientPort& port, const SdoBlockingRequest& request);

}  // namespace busprobe
