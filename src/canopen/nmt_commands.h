// NMT commands of the network master: the frame that sends one, and the broadcast commands the
// Tools menu offers.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "can/can_frame.h"

namespace busprobe {

enum NmtCommand : uint8_t {
  kNmtStartRemoteNode = 0x01,
  kNmtStopRemoteNode = 0x02,
  kNmtEnterPreOperational = 0x80,
  kNmtResetNode = 0x81,
  kNmtResetCommunication = 0x82,
};

struct NmtBroadcastItem {
  std::string_view label;  // menu text
  NmtCommand command;
};

// The broadcast items in menu order.
std::span<const NmtBroadcastItem> NmtBroadcastItems();

// Identifier 0, two data bytes: the command and the node-ID (0 addresses every node).
CanFrame NmtCommandFrame(NmtCommand command, uint8_t nodeId = 0);

}  // namespace busprobe
