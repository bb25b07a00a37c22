#include "can/virtual_bus.h"

#include <algorithm>

namespace busprobe {

VirtualBus::Port::~Port() {
  if (auto bus = bus_.lock()) bus->leave(this);
}

bool VirtualBus::Port::send(const CanFrame& frame) {
  auto bus = bus_.lock();
  if (!bus) return false;
  bus->deliver(frame);
  return true;
}

uint64_t VirtualBus::Port::takeDropped() {
  const uint64_t total = ring_.dropped();
  const uint64_t fresh = total - droppedReported_;
  droppedReported_ = total;
  return fresh;
}

uint32_t VirtualBus::Port::errorFrames(int bus) const {
  if (bus < 0 || bus > 1) return 0;
  return errorFrames_[bus].load(std::memory_order_relaxed);
}

std::shared_ptr<VirtualBus::Port> VirtualBus::join() {
  auto port = std::make_shared<Port>(weak_from_this());
  std::lock_guard<std::mutex> lock(mutex_);
  members_.push_back(port.get());
  return port;
}

void VirtualBus::leave(Port* port) {
  std::lock_guard<std::mutex> lock(mutex_);
  members_.erase(std::remove(members_.begin(), members_.end(), port), members_.end());
}

void VirtualBus::injectErrorFrame(int bus) {
  if (bus < 0 || bus > 1) return;
  std::lock_guard<std::mutex> lock(mutex_);
  for (Port* member : members_) member->errorFrames_[bus].fetch_add(1, std::memory_order_relaxed);
}

void VirtualBus::inject(const CanFrame& frame) {
  deliver(frame);
}

size_t VirtualBus::memberCount() {
  std::lock_guard<std::mutex> lock(mutex_);
  return members_.size();
}

void VirtualBus::deliver(const CanFrame& frame) {
  // Every ring is single-producer: holding the bus mutex makes all senders one producer.
  std::lock_guard<std::mutex> lock(mutex_);
  for (Port* member : members_) member->ring_.push(frame);
}

}  // namespace busprobe
