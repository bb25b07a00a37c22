#include "canopen/object_dictionary.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>

namespace busprobe {
namespace {

struct Dictionaries {
  OdBlockPool pool;
  std::unique_ptr<ObjectDictionary> local = std::make_unique<ObjectDictionary>(pool);
  std::unique_ptr<ObjectDictionary> remote = std::make_unique<ObjectDictionary>(pool);
};

OdEntry WithBlock(OdBlockPool& pool, uint16_t index, uint8_t sub, const char* text) {
  OdEntry e = NewOdEntry(index, sub);
  e.defaultValue.dataType = 9;
  EXPECT_TRUE(pool.store(e.defaultValue, reinterpret_cast<const uint8_t*>(text), std::strlen(text)));
  return e;
}

TEST(ObjectDictionary, InsertSortsReplacesAndRefusesIndexZero) {
  Dictionaries d;
  ObjectDictionary& od = *d.local;
  EXPECT_EQ(od.insert(NewOdEntry(0x2000, 1)), 0);
  EXPECT_EQ(od.insert(NewOdEntry(0x1000, 0)), 0);
  EXPECT_EQ(od.insert(NewOdEntry(0x2000, 0)), 1);
  EXPECT_EQ(od.insert(NewOdEntry(0xFFFF, 0)), 3);
  EXPECT_EQ(od.count(), 4);
  EXPECT_EQ(od.slot(2).index, 0x2000);
  EXPECT_EQ(od.slot(2).subIndex, 1);
  EXPECT_EQ(od.insert(NewOdEntry(0, 5)), -1);
  EXPECT_EQ(od.find(0, 0), nullptr);

  OdEntry renamed = NewOdEntry(0x2000, 1);
  renamed.setName("replaced");
  EXPECT_EQ(od.insert(renamed), 2);
  EXPECT_EQ(od.count(), 4);
  EXPECT_EQ(od.find(0x2000, 1)->nameView(), "replaced");
  EXPECT_EQ(od.countIndex(0x2000), 2);
  EXPECT_EQ(od.slot(0).objectType, 7);
}

TEST(ObjectDictionary, SortOfAnUnorderedDictionaryIsStableAndKeepsEmptySlotsBehind) {
  Dictionaries d;
  ObjectDictionary& od = *d.local;
  od.append(NewOdEntry(0x6000, 1));
  od.append(NewOdEntry(0x1018, 0));
  OdEntry twin = NewOdEntry(0x6000, 1);
  twin.setName("second");
  od.append(twin);
  od.append(NewOdEntry(0x1000, 0));
  od.sort();
  ASSERT_EQ(od.count(), 4);
  EXPECT_EQ(od.slot(0).index, 0x1000);
  EXPECT_EQ(od.slot(1).index, 0x1018);
  EXPECT_EQ(od.slot(2).nameView(), "");
  EXPECT_EQ(od.slot(3).nameView(), "second");
  // Inserting into an unordered dictionary sorts it as a whole.
  od.append(NewOdEntry(0x1001, 0));
  EXPECT_EQ(od.insert(NewOdEntry(0x1002, 0)), 2);
  EXPECT_EQ(od.slot(1).index, 0x1001);
  EXPECT_EQ(od.slot(3).index, 0x1018);
}

TEST(ObjectDictionary, AFullDictionaryRefusesTheNextInsertUnchanged) {
  Dictionaries d;
  ObjectDictionary& od = *d.local;
  for (int i = 0; i < kOdSlotCount; ++i)
    ASSERT_GE(od.insert(NewOdEntry(static_cast<uint16_t>(0x2000 + i), 0)), 0);
  EXPECT_EQ(od.count(), kOdSlotCount);
  EXPECT_EQ(od.insert(NewOdEntry(0x1000, 0)), -1);
  EXPECT_EQ(od.append(NewOdEntry(0x1000, 0)), -1);
  EXPECT_EQ(od.count(), kOdSlotCount);
  EXPECT_EQ(od.slot(0).index, 0x2000);
  // Replacing an existing entry still works.
  EXPECT_EQ(od.insert(NewOdEntry(0x2000, 0)), 0);
}

TEST(ObjectDictionary, RemoveMovesLaterEntriesUpAndFreesTheBlocks) {
  Dictionaries d;
  ObjectDictionary& od = *d.local;
  od.insert(WithBlock(d.pool, 0x1008, 0, "device name"));
  od.insert(WithBlock(d.pool, 0x1009, 0, "hardware"));
  od.insert(NewOdEntry(0x100A, 0));
  EXPECT_EQ(d.pool.freeCount(), kOdBlockCount - 2);
  EXPECT_TRUE(od.remove(0));
  EXPECT_FALSE(od.remove(2));
  EXPECT_EQ(od.count(), 2);
  EXPECT_EQ(d.pool.freeCount(), kOdBlockCount - 1);
  ASSERT_TRUE(od.find(0x1009, 0)->defaultValue.hasBlock());
  EXPECT_EQ(std::memcmp(od.find(0x1009, 0)->defaultValue.block, "hardware", 8), 0);
  od.clear();
  EXPECT_EQ(od.count(), 0);
  EXPECT_EQ(d.pool.freeCount(), kOdBlockCount);
}

TEST(ObjectDictionary, ReplacingEntriesDoesNotLeakBlocks) {
  Dictionaries d;
  ObjectDictionary& od = *d.local;
  // More replacements than the pool has blocks.
  for (int i = 0; i < kOdBlockCount + 10; ++i)
    ASSERT_GE(od.insert(WithBlock(d.pool, 0x1008, 0, "a long name")), 0);
  EXPECT_EQ(d.pool.freeCount(), kOdBlockCount - 1);
  // Copy out, edit, copy back in: the entry keeps its block.
  OdEntry e;
  ASSERT_TRUE(od.copyOut(0, e));
  e.setName("edited");
  ASSERT_TRUE(od.copyIn(0, e));
  EXPECT_FALSE(od.copyIn(1, e));
  EXPECT_EQ(d.pool.freeCount(), kOdBlockCount - 1);
  EXPECT_EQ(std::memcmp(od.slot(0).defaultValue.block, "a long name", 11), 0);
}

TEST(OdBlockPool, SharedByBothDictionariesUntilExhausted) {
  Dictionaries d;
  for (int i = 0; i < kOdBlockCount / 2; ++i) {
    d.local->insert(WithBlock(d.pool, static_cast<uint16_t>(0x2000 + i), 0, "local"));
    d.remote->insert(WithBlock(d.pool, static_cast<uint16_t>(0x2000 + i), 0, "remote"));
  }
  EXPECT_EQ(d.pool.freeCount(), 0);
  OdValue v;
  v.setData32(0x11223344);
  EXPECT_FALSE(d.pool.store(v, reinterpret_cast<const uint8_t*>("x"), 1));
  EXPECT_EQ(v.data32(), 0x11223344u);
  EXPECT_FALSE(v.hasBlock());
  // A held block large enough is kept; more than a block's size is refused.
  OdValue& held = d.local->slot(0).defaultValue;
  uint8_t* before = held.block;
  EXPECT_TRUE(d.pool.store(held, reinterpret_cast<const uint8_t*>("again"), 5));
  EXPECT_EQ(held.block, before);
  std::vector<uint8_t> big(kOdBlockSize + 1, 'x');
  EXPECT_FALSE(d.pool.store(held, big.data(), big.size()));
  EXPECT_EQ(held.blockLength, 5);
  d.remote->clear();
  EXPECT_EQ(d.pool.freeCount(), kOdBlockCount / 2);
  EXPECT_EQ(std::memcmp(d.local->slot(0).defaultValue.block, "again", 5), 0);
}

TEST(OdValue, TransferSizeByType) {
  OdValue v;
  const int expected[][2] = {{2, 1}, {5, 1}, {51, 1}, {3, 2}, {6, 2}, {52, 2}, {4, 4},
                             {7, 4}, {8, 4}, {54, 4}, {1, 0}, {9, 4}, {10, 0}, {15, 0}};
  for (const auto& row : expected) {
    v.dataType = static_cast<uint8_t>(row[0]);
    EXPECT_EQ(OdValueSize(v), row[1]) << row[0];
  }
  OdBlockPool pool;
  v.dataType = 9;
  pool.store(v, reinterpret_cast<const uint8_t*>("hello"), 5);
  EXPECT_EQ(OdValueSize(v), 5);
}

}  // namespace
}  // namespace busprobe
