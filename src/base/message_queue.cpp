#include "base/message_queue.h"

#include <cstdio>

namespace busprobe {

void DeferredMessageQueue::QueueCanMessage(const char* format, ...) {
  va_list args;
  va_start(args, format);
  QueueCanMessageV(format, args);
  va_end(args);
}

void DeferredMessageQueue::QueueCanMessageV(const char* format, va_list args) {
  char buf[kSlotChars];
  int n = std::snprintf(buf, sizeof buf, "CAN: ");
  std::vsnprintf(buf + n, sizeof buf - static_cast<size_t>(n), format, args);
  std::lock_guard<std::mutex> lock(mutex_);
  if (count_ == kSlots) {
    ++dropped_;
    return;
  }
  slots_[head_] = buf;
  head_ = (head_ + 1) % kSlots;
  ++count_;
}

std::vector<std::string> DeferredMessageQueue::drain(uint32_t* dropped) {
  std::vector<std::string> out;
  std::lock_guard<std::mutex> lock(mutex_);
  out.reserve(count_);
  while (count_ > 0) {
    out.push_back(std::move(slots_[tail_]));
    tail_ = (tail_ + 1) % kSlots;
    --count_;
  }
  if (dropped) *dropped = dropped_;
  dropped_ = 0;
  return out;
}

}  // namespace busprobe
