// Values of dictionary entries and the pool their long values live in.
//
// A value holds up to four bytes itself; strings and byte sequences longer than that take a block
// of the pool. The pool is a fixed set of 256 blocks shared by the local and the remote dictionary:
// whoever owns the two dictionaries owns the one pool and hands it to both.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace busprobe {

inline constexpr int kOdBlockCount = 256;
inline constexpr int kOdBlockSize = 2048;

struct OdValue {
  uint8_t data[4] = {};  // an integer, a REAL32 or up to 4 characters, little-endian
  uint8_t dataType = 0;
  uint8_t inlineLength = 0;  // valid bytes in data for short strings
  uint16_t blockLength = 0;
  uint16_t blockCapacity = 0;  // 0: no block
  uint8_t* block = nullptr;

  bool hasBlock() const { return blockCapacity != 0 && block != nullptr; }
  uint32_t data32() const {
    return static_cast<uint32_t>(data[0]) | static_cast<uint32_t>(data[1]) << 8 |
           static_cast<uint32_t>(data[2]) << 16 | static_cast<uint32_t>(data[3]) << 24;
  }
  void setData32(uint32_t v) {
    for (int i = 0; i < 4; ++i) data[i] = static_cast<uint8_t>(v >> (8 * i));
  }
  // The same value without the block: for a copy that must not share it.
  OdValue withoutBlock() const {
    OdValue v = *this;
    v.block = nullptr;
    v.blockLength = 0;
    v.blockCapacity = 0;
    return v;
  }
};

// Bytes of the value in an SDO transfer: 1, 2 or 4 by type, the block's length for a string that
// holds one, 0 for types without a fixed size.
int OdValueSize(const OdValue& value);

class OdBlockPool {
 public:
  OdBlockPool();
  OdBlockPool(const OdBlockPool&) = delete;
  OdBlockPool& operator=(const OdBlockPool&) = delete;

  // Storage for n bytes: a held block is kept when it is large enough, otherwise released and the
  // first free block taken (length 0). False when n exceeds a block or no block is free; the value
  // then holds no block.
  bool acquire(OdValue& value, std::size_t n);
  // Frees the value's block when it is one of this pool's and clears the value's block fields.
  void release(OdValue& value);
  // acquire(n) and copies the bytes in. False, leaving the value as it was, when no block is free.
  bool store(OdValue& value, const uint8_t* bytes, std::size_t n);

  int freeCount() const;
  bool owns(const uint8_t* block) const { return blockNumber(block) >= 0; }

 private:
  struct Block {
    uint8_t bytes[kOdBlockSize];
    uint8_t inUse;
  };
  int blockNumber(const uint8_t* block) const;

  std::unique_ptr<Block[]> blocks_;
};

}  // namespace busprobe
