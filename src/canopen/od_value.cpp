#include "canopen/od_value.h"

#include <cstring>

#include "base/canopen_types.h"

namespace busprobe {

int OdValueSize(const OdValue& value) {
  switch (value.dataType) {
    case kCoTypeInteger8:
    case kCoTypeUnsigned8:
    case kCoTypeUntyped8:
      return 1;
    case kCoTypeInteger16:
    case kCoTypeUnsigned16:
    case kCoTypeUntyped16:
      return 2;
    case kCoTypeInteger32:
    case kCoTypeUnsigned32:
    case kCoTypeReal32:
    case kCoTypeUntyped32:
      return 4;
    case kCoTypeVisibleString:
      return value.hasBlock() ? value.blockLength : 4;
    default:
      return 0;
  }
}

OdBlockPool::OdBlockPool() : blocks_(new Block[kOdBlockCount]) {
  for (int i = 0; i < kOdBlockCount; ++i) blocks_[i].inUse = 0;
}

int OdBlockPool::blockNumber(const uint8_t* block) const {
  if (block == nullptr) return -1;
  for (int i = 0; i < kOdBlockCount; ++i) {
    if (blocks_[i].bytes == block) return i;
  }
  return -1;
}

bool OdBlockPool::acquire(OdValue& value, std::size_t n) {
  if (value.hasBlock() && value.blockCapacity >= n) return true;
  release(value);
  if (n > static_cast<std::size_t>(kOdBlockSize)) return false;
  for (int i = 0; i < kOdBlockCount; ++i) {
    if (blocks_[i].inUse != 0) continue;
    blocks_[i].inUse = 1;
    value.block = blocks_[i].bytes;
    value.blockCapacity = kOdBlockSize;
    value.blockLength = 0;
    return true;
  }
  return false;
}

void OdBlockPool::release(OdValue& value) {
  const int number = blockNumber(value.block);
  if (number >= 0) blocks_[number].inUse = 0;
  value.block = nullptr;
  value.blockCapacity = 0;
  value.blockLength = 0;
}

bool OdBlockPool::store(OdValue& value, const uint8_t* bytes, std::size_t n) {
  if (n > static_cast<std::size_t>(kOdBlockSize)) return false;
  if (!(value.hasBlock() && value.blockCapacity >= n)) {
    OdValue trial;
    if (!acquire(trial, n)) return false;
    release(value);
    value.block = trial.block;
    value.blockCapacity = trial.blockCapacity;
  }
  if (n > 0) std::memmove(value.block, bytes, n);
  value.blockLength = static_cast<uint16_t>(n);
  return true;
}

int OdBlockPool::freeCount() const {
  int n = 0;
  for (int i = 0; i < kOdBlockCount; ++i) n += blocks_[i].inUse == 0 ? 1 : 0;
  return n;
}

}  // namespace busprobe
