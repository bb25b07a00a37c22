#include "can/frame_ring.h"

namespace busprobe {

namespace {
uint32_t RoundUpPowerOfTwo(uint32_t v) {
  uint32_t p = 2;
  while (p < v) p <<= 1;
  return p;
}
}  // namespace

FrameRing::FrameRing(uint32_t capacity)
    : slots_(new CanFrame[RoundUpPowerOfTwo(capacity)]), mask_(RoundUpPowerOfTwo(capacity) - 1) {}

bool FrameRing::push(const CanFrame& frame) {
  const uint32_t head = head_.load(std::memory_order_relaxed);
  const uint32_t tail = tail_.load(std::memory_order_acquire);
  if (head - tail > mask_) {
    dropped_.fetch_add(1, std::memory_order_relaxed);
    return false;
  }
  slots_[head & mask_] = frame;
  head_.store(head + 1, std::memory_order_release);
  return true;
}

bool FrameRing::pop(CanFrame& out) {
  const uint32_t tail = tail_.load(std::memory_order_relaxed);
  const uint32_t head = head_.load(std::memory_order_acquire);
  if (head == tail) return false;
  out = slots_[tail & mask_];
  tail_.store(tail + 1, std::memory_order_release);
  return true;
}

bool FrameRing::empty() const {
  return head_.load(std::memory_order_acquire) == tail_.load(std::memory_order_acquire);
}

uint32_t FrameRing::size() const {
  return head_.load(std::memory_order_acquire) - tail_.load(std::memory_order_acquire);
}

void FrameRing::clear() {
  tail_.store(head_.load(std::memory_order_acquire), std::memory_order_release);
}

}  // namespace busprobe
