// SDO engines on a simulated bus with small dictionaries of their own, for the tests of the engine
// and of everything that runs client transfers over it.
#pragma once

#include <algorithm>
#include <deque>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/clock.h"
#include "can/can_frame.h"
#include "canopen/sdo_abort_text.h"
#include "canopen/sdo_blocking_transfer.h"
#include "canopen/sdo_channel.h"
#include "canopen/sdo_engine.h"
#include "canopen/sdo_settings.h"

namespace busprobe::test {

inline constexpr uint8_t kRead = 0x01, kWrite = 0x02, kReadWrite = 0x03;

// A small local dictionary behaving as the servers' dictionary access does: objects with access
// kinds and types, expedited values or data blocks.
class FakeDictionary : public SdoDictionaryAccess {
 public:
  struct Object {
    uint8_t type = 7;
    uint8_t access = kReadWrite;
    uint32_t value = 0;
    bool isBlock = false;
    std::vector<uint8_t> block;
  };

  Object& add(uint16_t index, uint8_t sub, uint8_t type, uint32_t value, uint8_t access = kReadWrite) {
    Object& o = objects[{index, sub}];
    o.type = type;
    o.value = value;
    o.access = access;
    return o;
  }
  Object& addBlock(uint16_t index, uint8_t sub, std::vector<uint8_t> bytes, uint8_t access = kReadWrite) {
    Object& o = add(index, sub, 9, 0, access);
    o.isBlock = true;
    o.block = std::move(bytes);
    return o;
  }

  int SDO_USER_DictionaryAccess(SdoChannel& ch) override {
    ++accesses;
    auto it = objects.find({ch.index, ch.subIndex});
    if (it == objects.end()) {
      ch.abortCode = kSdoAbortNoObject;
      return 0;
    }
    Object& o = it->second;
    if (!ch.isDownload) {
      if (o.access == kWrite) {
        ch.abortCode = kSdoAbortWriteOnly;
        return 1;
      }
      ch.dataType = o.type;
      ch.setValue32(o.value);
      ch.rawValue = 0;
      if (o.isBlock) {
        ch.blockLength = static_cast<int32_t>(o.block.size());
        ch.segmentMode = kSdoSegmentedUpload;
        std::copy(o.block.begin(), o.block.begin() + std::min<size_t>(o.block.size(), kSdoBufferSize),
                  ch.buffer);
      } else {
        ch.blockLength = 0;
        ch.segmentMode = kSdoNoSegments;
      }
      return 1;
    }
    if (o.access == kRead) {
      ch.abortCode = kSdoAbortReadOnly;
      return 1;
    }
    if (ch.blockLength > 0) {
      o.block.assign(ch.buffer, ch.buffer + ch.blockLength);
      o.isBlock = true;
    } else {
      o.value = ch.value32();
      o.isBlock = false;
    }
    return 1;
  }

  std::map<std::pair<uint16_t, uint8_t>, Object> objects;
  int accesses = 0;
};

struct SentFrame {
  int from;
  CanFrame frame;
};

// Engines on one simulated bus: every frame one of them sends reaches the others when the test
// pumps, in the order sent.
class TestBus {
 public:
  explicit TestBus(ManualClock& clock) : clock_(clock) {}

  struct Node {
    SdoSettings settings;
    FakeDictionary dictionary;
    std::vector<std::string> lines;
    std::unique_ptr<SdoEngine> engine;
    bool sendFails = false;
  };

  Node& add(int clientNode, int serverNode) {
    auto node = std::make_unique<Node>();
    node->settings.clientNodeId = clientNode;
    node->settings.serverNodeId = serverNode;
    const int me = static_cast<int>(nodes_.size());
    Node* n = node.get();
    SdoEngineLinks links;
    links.transmit = [this, me, n](CanFrame& f) {
      if (n->sendFails) return false;
      queue_.push_back({me, f});
      sent.push_back({me, f});
      return true;
    };
    links.message = [n](std::string_view line) { n->lines.emplace_back(line); };
    node->engine = std::make_unique<SdoEngine>(node->settings, node->dictionary, clock_, std::move(links));
    nodes_.push_back(std::move(node));
    return *n;
  }

  // Delivers until nobody has anything more to say; returns the frames delivered.
  int pump(int limit = 10000) {
    int delivered = 0;
    while (!queue_.empty() && delivered < limit) {
      SentFrame s = queue_.front();
      queue_.pop_front();
      for (size_t i = 0; i < nodes_.size(); ++i)
        if (static_cast<int>(i) != s.from) nodes_[i]->engine->ProcessFrame(s.frame);
      ++delivered;
    }
    return delivered;
  }
  // Takes queued frames off the bus without delivering them (a node that vanished).
  void drop() { queue_.clear(); }
  size_t queued() const { return queue_.size(); }

  std::vector<SentFrame> sent;

 private:
  ManualClock& clock_;
  std::deque<SentFrame> queue_;
  std::vector<std::unique_ptr<Node>> nodes_;
};

// The client side of the tool: its engine's client channel, and a wait that delivers the bus's
// frames and runs the timeout tick as the receive path would.
class BusPort : public SdoClientPort {
 public:
  BusPort(TestBus& bus, TestBus::Node& tool, ManualClock& clock) : bus_(bus), tool_(tool), clock_(clock) {}
  SdoChannel& client() override { return tool_.engine->client(); }
  bool InitTransfer() override { return tool_.engine->InitTransfer(); }
  int SdoWaitForCompletion(int timeoutMs) override {
    if (notReady) return -17;
    busyDuringWait = busy_;
    const double end = clock_.nowMs() + timeoutMs;
    while (client().busy()) {
      if (clock_.nowMs() >= end) return -16;
      if (deliver) bus_.pump();
      tool_.engine->SdoTimeoutTick();
      clock_.advance(10);
    }
    return 0;
  }
  bool& sdoAccessBusy() override { return busy_; }

  bool deliver = true;
  bool notReady = false;
  bool busyDuringWait = false;

 private:
  TestBus& bus_;
  TestBus::Node& tool_;
  ManualClock& clock_;
  bool busy_ = false;
};

}  // namespace busprobe::test
