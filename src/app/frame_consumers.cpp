#include "app/frame_consumers.h"

namespace busprobe {

bool FrameConsumerTable::install(FrameConsumerSlot slot, Consumer consumer) {
  const auto index = static_cast<size_t>(slot);
  if (index >= kSlots || bySlot_[index] || !consumer) return false;
  bySlot_[index] = std::move(consumer);
  activeCount_ = 0;
  for (const Consumer& c : bySlot_)
    if (c) active_[static_cast<size_t>(activeCount_++)] = c;
  return true;
}

bool FrameConsumerTable::installed(FrameConsumerSlot slot) const {
  const auto index = static_cast<size_t>(slot);
  return index < kSlots && static_cast<bool>(bySlot_[index]);
}

}  // namespace busprobe
