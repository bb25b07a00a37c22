// A bounded single-producer / single-consumer queue of CanFrames, used wherever a thread hands
// frames to the user-interface thread (CAN-via-UDP endpoints, SocketCAN, the virtual bus). A frame
// that does not fit is dropped and counted; the owner turns the count into RX_OVF.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "can/can_frame.h"

namespace busprobe {

class FrameRing {
 public:
  // Holds at least one second of two saturated 1 Mbit/s buses.
  static constexpr uint32_t kDefaultCapacity = 32768;

  explicit FrameRing(uint32_t capacityPowerOfTwo = kDefaultCapacity);

  // Producer side. Returns false (and counts the drop) when the ring is full.
  bool push(const CanFrame& frame);
  // Consumer side.
  bool pop(CanFrame& out);
  bool empty() const;
  uint32_t size() const;
  uint32_t capacity() const { return mask_ + 1; }
  // Frames dropped since construction (any thread).
  uint64_t dropped() const { return dropped_.load(std::memory_order_relaxed); }
  // Consumer side: empties the ring (the producer must be quiet).
  void clear();

 private:
  std::unique_ptr<CanFrame[]> slots_;
  uint32_t mask_;
  alignas(64) std::atomic<uint32_t> head_{0};  // written by the producer
  alignas(64) std::atomic<uint32_t> tail_{0};  // written by the consumer
  std::atomic<uint64_t> dropped_{0};
};

}  // namespace busprobe
