#include "canopen/node_scanner.h"

#include <cstdio>

#include "base/canopen_types.h"

namespace busprobe {

void NodeScanner::start() {
  records_.fill(NodeScanRecord{});
  lines_.clear();
  found_ = 0;
  node_ = 1;
  step_ = 1;
}

NodeScanRecord* NodeScanner::recordFor(int node) {
  for (NodeScanRecord& r : records_)
    if (r.nodeId == node) return &r;
  for (NodeScanRecord& r : records_)
    if (r.nodeId == 0) return &r;
  return nullptr;
}

bool NodeScanner::ReadNodeObject(int node, uint16_t index, uint8_t type, int ticks) {
  SdoBlockingRequest request;
  request.nodeId = node;
  request.index = index;
  request.dataType = type;
  request.timeoutMs = ticks * 100;
  const bool ok = RunBlockingTransfer(port_, request) == SdoBlockingOutcome::kDone;
  if (!ok) return false;
  NodeScanRecord* r = recordFor(node);
  if (!r) return true;
  r->nodeId = node;
  const SdoChannel& ch = port_.client();
  if (index == 0x1000) {
    r->deviceType = ch.value32();
  } else if (index == 0x1008) {
    // Names of four characters or fewer arrive expedited and are not taken.
    if ((type == kCoTypeVisibleString || type == kCoTypeOctetString) && ch.blockLength > 0) {
      const int n = ch.position < 40 ? ch.position : 40;
      r->name.assign(reinterpret_cast<const char*>(ch.buffer), static_cast<size_t>(n < 0 ? 0 : n));
    } else {
      r->name = "NoName";
    }
  }
  return true;
}

void NodeScanner::step() {
  if (inStep_ || !active()) return;
  inStep_ = true;
  if (step_ == 1) {
    node_ = 1;
    step_ = 2;
  } else {
    const int node = node_;
    const bool ok = ReadNodeObject(node, 0x1000, kCoTypeUnsigned32, kTypeTimeoutTicks);
    // "STOP" during the wait ends the scan here.
    if (step_ == 0) {
      inStep_ = false;
      return;
    }
    if (ok) {
      ++found_;
      NodeScanRecord* r = recordFor(node);
      if (r && !ReadNodeObject(node, 0x1008, kCoTypeVisibleString, kNameTimeoutTicks)) r->name = "NoName";
      char line[96];
      std::snprintf(line, sizeof line, "%03d 0x%08lX \"%s\" ", node,
                    static_cast<unsigned long>(r ? r->deviceType : 0), r ? r->name.c_str() : "NoName");
      lines_.push_back(line);
      step_ = 2;
    } else {
      step_ = 3;
    }
    if (++node_ > kMaxNodes) step_ = 4;
  }
  inStep_ = false;
}

std::string NodeScanner::infoText(int baudKbit) const {
  char text[96];
  if (step_ == 0)
    std::snprintf(text, sizeof text, "Click \"START\" to start scanning at %d kBit/sec", baudKbit);
  else if (step_ == 4)
    std::snprintf(text, sizeof text, "Found %d CANopen node%c. Select one from the list:", found_,
                  found_ == 1 ? ' ' : 's');
  else
    std::snprintf(text, sizeof text, "Scanning node #%d, please wait...", node_);
  return text;
}

}  // namespace busprobe
