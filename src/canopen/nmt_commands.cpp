#include "canopen/nmt_commands.h"

namespace busprobe {

namespace {

constexpr NmtBroadcastItem kBroadcastItems[] = {
    {"Start Remote Nodes", kNmtStartRemoteNode},
    {"Stop Remote Nodes", kNmtStopRemoteNode},
    {"Enter Pre-Op State", kNmtEnterPreOperational},
    {"Reset Nodes", kNmtResetNode},
    {"Reset Communication", kNmtResetCommunication},
};

}  // namespace

std::span<const NmtBroadcastItem> NmtBroadcastItems() { return kBroadcastItems; }

CanFrame NmtCommandFrame(NmtCommand command, uint8_t nodeId) {
  CanFrame frame;
  frame.id = 0;
  frame.length = 2;
  frame.data[0] = command;
  frame.data[1] = nodeId;
  return frame;
}

}  // namespace busprobe
