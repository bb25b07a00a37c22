// The node scanner: asks every node ID 1..127 for its device type (0x1000) and name (0x1008)
// through the blocking client transfer, one node a step, so the program stays responsive.
// The application steps it from the tick and for each received frame while it is active.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "canopen/sdo_blocking_transfer.h"

namespace busprobe {

struct NodeScanRecord {
  int32_t nodeId = 0;  // 0: free
  uint32_t deviceType = 0;
  std::string name;  // at most 40 characters
};

class NodeScanner {
 public:
  static constexpr int kMaxNodes = 127;
  static constexpr int kTypeTimeoutTicks = 2;
  static constexpr int kNameTimeoutTicks = 20;
  static constexpr char kListHeading[] = "NodeId  DevType     Device Name (obj 1008h)";

  explicit NodeScanner(SdoClientPort& port) : port_(port) {}

  // "START": table and list cleared, step 1. "STOP": step 0.
  void start();
  void stop() { step_ = 0; }
  // Neither idle nor finished.
  bool active() const { return step_ != 0 && step_ != 4; }
  // One step; a nested call (from the wait's own receive path) returns at once.
  void step();

  int stepNumber() const { return step_; }
  int currentNode() const { return node_; }
  int found() const { return found_; }
  const std::vector<std::string>& lines() const { return lines_; }
  const std::array<NodeScanRecord, kMaxNodes>& records() const { return records_; }
  // The info line for the current step; baudKbit is bus 1's rate.
  std::string infoText(int baudKbit) const;

  // One upload from `node` into its record; true on success.
  bool ReadNodeObject(int node, uint16_t index, uint8_t type, int ticks);

 private:
  NodeScanRecord* recordFor(int node);

  SdoClientPort& port_;
  int step_ = 0;
  int node_ = 1;
  int found_ = 0;
  bool inStep_ = false;
  std::array<NodeScanRecord, kMaxNodes> records_{};
  std::vector<std::string> lines_;
};

}  // namespace busprobe
