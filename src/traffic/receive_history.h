// The receive history: every frame the receive pump handled, newest last, in a ring of 4096, for
// the consumers that look back (the script's canrx and wcan, later the protocol windows).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "can/can_frame.h"

namespace busprobe {

class ReceiveHistory {
 public:
  static constexpr size_t kSize = 4096;  // a power of two: the index wraps with a mask

  ReceiveHistory() : frames_(new CanFrame[kSize]) {}

  void append(const CanFrame& frame) {
    frames_[head_] = frame;
    head_ = (head_ + 1) & (kSize - 1);
    if (count_ < kSize) ++count_;
    newestTime_ = frame.timestamp / 1000.0;
    ++appended_;
  }
  // Frames held (at most kSize).
  size_t count() const { return count_; }
  // back = 0 is the newest frame; back must be below count().
  const CanFrame& frame(size_t back) const {
    return frames_[(head_ + kSize - 1 - (back % kSize)) & (kSize - 1)];
  }
  // Time of the newest frame in seconds.
  double newestFrameTime() const { return newestTime_; }
  // Frames appended since the program started (not limited by the ring).
  uint64_t appended() const { return appended_; }

 private:
  std::unique_ptr<CanFrame[]> frames_;
  size_t head_ = 0;  // next slot to write
  size_t count_ = 0;
  double newestTime_ = 0;
  uint64_t appended_ = 0;
};

}  // namespace busprobe
