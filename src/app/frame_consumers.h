// The road of a received frame: the receive pump hands every frame to these consumers, in this
// order, one place each. A subsystem takes its place when the application wires it; the places
// of subsystems that do not exist yet are reserved here, so the order is written once.
#pragma once

#include <array>
#include <functional>

#include "can/can_frame.h"

namespace busprobe {

enum class FrameConsumerSlot : int {
  kScriptWait,       // the receive history's id index, and a script waiting in wcan
  kTrigger,          // start/stop patterns
  kCounters,         // per-bus receive counters
  kTrafficDisplay,   // Rx line and list
  kLog,              // the recorder's line
  kSdo,              // SDO client and servers
  kLss,              // LSS master and slave
  kBootloader,       // firmware updater
  kTerminal,         // text terminal
  kNodeScanner,      // node and dictionary scanners
  kRemoteListeners,  // remote-control clients that asked for received frames
  kScriptSlice,      // a script whose wait the frame ended runs on at once, after everyone saw it
  kCount
};

class FrameConsumerTable {
 public:
  using Consumer = std::function<void(const CanFrame&)>;

  // Takes the place; false (and nothing changes) when it is taken already: each place has one
  // owner, so two subsystems can never race for the same frames unnoticed.
  bool install(FrameConsumerSlot slot, Consumer consumer);
  bool installed(FrameConsumerSlot slot) const;

  void deliver(const CanFrame& frame) const {
    for (int i = 0; i < activeCount_; ++i) active_[static_cast<size_t>(i)](frame);
  }

 private:
  static constexpr size_t kSlots = static_cast<size_t>(FrameConsumerSlot::kCount);
  std::array<Consumer, kSlots> bySlot_;
  std::array<Consumer, kSlots> active_;  // the installed ones, in slot order
  int activeCount_ = 0;
};

}  // namespace busprobe
