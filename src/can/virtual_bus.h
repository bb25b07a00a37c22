// The built-in virtual bus: a CAN bus inside the program. Every frame sent by a member is received
// by every member, the sender included (as a second node would see it), so the tool's own servers
// answer its own client. Several application objects in one process can join one bus. Thread-safe.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "can/can_frame.h"
#include "can/frame_ring.h"

namespace busprobe {

class VirtualBus : public std::enable_shared_from_this<VirtualBus> {
 public:
  // One node on the bus with its own receive queue (two channels, bus index 0 and 1, share it; the
  // frames keep their bus bits).
  class Port {
   public:
    explicit Port(std::weak_ptr<VirtualBus> bus) : bus_(std::move(bus)) {}
    ~Port();
    // Puts the frame on the bus; every member (this one too) receives a copy.
    bool send(const CanFrame& frame);
    bool receive(CanFrame& out) { return ring_.pop(out); }
    // Dropped frames since the last call (receive queue full).
    uint64_t takeDropped();
    uint32_t errorFrames(int bus) const;
    FrameRing& ring() { return ring_; }

   private:
    friend class VirtualBus;
    std::weak_ptr<VirtualBus> bus_;
    FrameRing ring_;
    uint64_t droppedReported_ = 0;  // consumer side only
    // Written under the bus mutex by whichever thread injects, read by the member's owner.
    std::atomic<uint32_t> errorFrames_[2] = {0, 0};
  };

  static std::shared_ptr<VirtualBus> create() { return std::shared_ptr<VirtualBus>(new VirtualBus()); }

  std::shared_ptr<Port> join();
  // Simulates an error frame on a bus: every member's error-frame count for it rises by one.
  void injectErrorFrame(int bus);
  // Delivers a frame to every member as if a foreign node had sent it.
  void inject(const CanFrame& frame);
  size_t memberCount();

 private:
  friend class Port;
  VirtualBus() = default;
  void leave(Port* port);
  void deliver(const CanFrame& frame);
  std::mutex mutex_;
  std::vector<Port*> members_;
};

}  // namespace busprobe
