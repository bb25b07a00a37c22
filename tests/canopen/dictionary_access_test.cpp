#include "canopen/dictionary_access.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "canopen/od_tables.h"

namespace busprobe {
namespace {

struct LocalServer {
  OdBlockPool pool;
  std::unique_ptr<ObjectDictionary> od = std::make_unique<ObjectDictionary>(pool);
  LocalDictionaryAccess access{*od};
  std::unique_ptr<SdoChannel> ch = std::make_unique<SdoChannel>();

  OdEntry& add(uint16_t index, uint8_t sub, uint8_t type, uint8_t accessFlags, uint32_t value) {
    OdEntry e = NewOdEntry(index, sub);
    e.defaultValue.dataType = type;
    e.defaultValue.setData32(value);
    e.access = accessFlags;
    e.hasDefault = 1;
    return od->slot(od->insert(e));
  }
  // size: the significant bytes of an expedited value; block: a segmented download's data.
  int request(uint16_t index, uint8_t sub, bool download, uint32_t value = 0,
              uint8_t source = kSdoAccessFromServer, uint8_t size = 4, const uint8_t* block = nullptr,
              int blockLength = 0) {
    ch->reset();
    ch->index = index;
    ch->subIndex = sub;
    ch->isDownload = download ? 1 : 0;
    ch->accessSource = source;
    ch->setValue32(value);
    ch->valueSize = size;
    if (block) std::memcpy(ch->buffer, block, static_cast<size_t>(blockLength));
    ch->blockLength = blockLength;
    return access.SDO_USER_DictionaryAccess(*ch);
  }
};

TEST(LocalDictionaryAccess, MissingObjectAndAccessViolations) {
  LocalServer s;
  EXPECT_EQ(s.request(0x2000, 0, false), 0);
  EXPECT_EQ(s.ch->abortCode, 0x06020000u);

  s.add(0x2001, 0, 7, kOdAccessWriteOnly, 5);
  EXPECT_EQ(s.request(0x2001, 0, false), 1);
  EXPECT_EQ(s.ch->abortCode, 0x06010001u);
  EXPECT_EQ(s.od->find(0x2001, 0)->readCount, 0);

  OdEntry& ro = s.add(0x2002, 0, 7, kOdAccessReadOnly, 5);
  EXPECT_EQ(s.request(0x2002, 0, true, 9), 1);
  EXPECT_EQ(s.ch->abortCode, 0x06010002u);
  EXPECT_EQ(ro.writeCount, 1);  // counted all the same
  EXPECT_EQ(ro.currentValid, 0);

  // Only the exact read-only kind is refused: with the PDO flag or CONST the write goes through.
  OdEntry& roPdo = s.add(0x2003, 0, 7, kOdAccessReadOnly | kOdAccessPdo, 5);
  OdEntry& constant = s.add(0x2004, 0, 7, kOdAccessConst, 5);
  EXPECT_EQ(s.request(0x2003, 0, true, 9), 1);
  EXPECT_EQ(s.ch->abortCode, 0u);
  EXPECT_EQ(s.request(0x2004, 0, true, 9), 1);
  EXPECT_EQ(s.ch->abortCode, 0u);
  EXPECT_EQ(roPdo.currentValue.data32(), 9u);
  EXPECT_EQ(constant.currentValue.data32(), 9u);
}

TEST(LocalDictionaryAccess, ReadsCountOnlyServerRequestsAndMark) {
  LocalServer s;
  OdEntry& e = s.add(0x2000, 1, 6, kOdAccessReadWrite, 0x1234);
  s.od->takeChanged();
  EXPECT_EQ(s.request(0x2000, 1, false, 0, kSdoAccessFromScript), 1);
  EXPECT_EQ(s.ch->value32(), 0x1234u);
  EXPECT_EQ(s.ch->dataType, 6);
  EXPECT_EQ(s.ch->segmentMode, kSdoNoSegments);
  EXPECT_EQ(e.readCount, 0);
  EXPECT_FALSE(s.od->changed());
  EXPECT_EQ(s.request(0x2000, 1, false), 1);
  EXPECT_EQ(e.readCount, 1);
  EXPECT_EQ(e.highlight, 0xFFFF);
  EXPECT_TRUE(s.od->takeChanged());
}

TEST(LocalDictionaryAccess, WritesStoreByTheEntrysType) {
  LocalServer s;
  OdEntry& u8 = s.add(0x2000, 0, 5, kOdAccessReadWrite, 0);
  OdEntry& u16 = s.add(0x2001, 0, 6, kOdAccessReadWrite, 0);
  OdEntry& f32 = s.add(0x2002, 0, 8, kOdAccessReadWrite, 0);
  OdEntry& domain = s.add(0x2003, 0, 15, kOdAccessReadWrite, 0x77);
  // Four bytes from a master that sends every value so: the zero bytes beyond the size are taken.
  EXPECT_EQ(s.request(0x2000, 0, true, 0x000000DD), 1);
  EXPECT_EQ(s.ch->abortCode, 0u);
  EXPECT_EQ(u8.currentValue.data32(), 0xDDu);
  EXPECT_EQ(u8.currentValid, 1);
  EXPECT_EQ(u8.writeCount, 1);
  s.request(0x2001, 0, true, 0x0000CCDD);
  EXPECT_EQ(u16.currentValue.data32(), 0xCCDDu);
  // Bytes the object cannot hold are refused, not cut off: nothing is stored.
  EXPECT_EQ(s.request(0x2000, 0, true, 0xAABBCCEE), 1);
  EXPECT_EQ(s.ch->abortCode, 0x06070012u);
  EXPECT_EQ(u8.currentValue.data32(), 0xDDu);
  EXPECT_EQ(u8.writeCount, 2);
  s.request(0x2001, 0, true, 0x00010000);
  EXPECT_EQ(s.ch->abortCode, 0x06070012u);
  EXPECT_EQ(u16.currentValue.data32(), 0xCCDDu);
  // A value of the right size with a smaller size indicated keeps only the indicated bytes.
  s.request(0x2001, 0, true, 0xFFFF1234, kSdoAccessFromServer, 2);
  EXPECT_EQ(s.ch->abortCode, 0u);
  EXPECT_EQ(u16.currentValue.data32(), 0x1234u);
  // A segmented write longer than a fixed-size object, with data in the extra bytes.
  const uint8_t six[6] = {0, 0, 0x80, 0x3F, 1, 0};
  s.request(0x2002, 0, true, 0, kSdoAccessFromServer, 4, six, 6);
  EXPECT_EQ(s.ch->abortCode, 0x06070012u);
  s.request(0x2002, 0, true, 0x3F800000);
  EXPECT_EQ(f32.currentValue.data32(), 0x3F800000u);
  // The value read back is the one written.
  s.request(0x2001, 0, false);
  EXPECT_EQ(s.ch->value32(), 0x1234u);

  // A type it cannot store is refused, and reads still give what they gave before.
  EXPECT_EQ(s.request(0x2003, 0, true, 0x55), 1);
  EXPECT_EQ(s.ch->abortCode, 0x06040043u);
  EXPECT_EQ(domain.highlight, 0xFFFF);
  s.request(0x2003, 0, false);
  EXPECT_EQ(s.ch->value32(), 0x77u);
}

TEST(LocalDictionaryAccess, StringsGoThroughBlocks) {
  LocalServer s;
  OdEntry& text = s.add(0x1008, 0, 9, kOdAccessReadWrite, 0);
  const char* name = "a device name longer than four";
  const std::size_t n = std::strlen(name);
  s.pool.store(text.defaultValue, reinterpret_cast<const uint8_t*>(name), n);
  s.request(0x1008, 0, false);
  EXPECT_EQ(s.ch->segmentMode, kSdoSegmentedUpload);
  EXPECT_EQ(s.ch->blockLength, static_cast<int32_t>(n));
  EXPECT_EQ(std::memcmp(s.ch->buffer, name, n), 0);

  // A segmented download lands in a block of the current value.
  s.ch->reset();
  s.ch->index = 0x1008;
  s.ch->isDownload = 1;
  s.ch->accessSource = kSdoAccessFromServer;
  std::memcpy(s.ch->buffer, "written!", 8);
  s.ch->blockLength = 8;
  s.access.SDO_USER_DictionaryAccess(*s.ch);
  ASSERT_TRUE(text.currentValue.hasBlock());
  EXPECT_EQ(text.currentValue.blockLength, 8);
  s.request(0x1008, 0, false);
  EXPECT_EQ(s.ch->blockLength, 8);
  EXPECT_EQ(std::memcmp(s.ch->buffer, "written!", 8), 0);

  // An expedited write replaces the stored string; the long default does not come back.
  s.request(0x1008, 0, true, 0x00636261);
  EXPECT_FALSE(text.currentValue.hasBlock());
  s.request(0x1008, 0, false);
  EXPECT_EQ(s.ch->segmentMode, kSdoNoSegments);
  EXPECT_EQ(s.ch->value32(), 0x00636261u);
  EXPECT_EQ(s.pool.freeCount(), kOdBlockCount - 1);

  // A long value is served segmented whatever its type says.
  OdEntry& u32 = s.add(0x2000, 0, 7, kOdAccessReadWrite, 0);
  s.pool.store(u32.defaultValue, reinterpret_cast<const uint8_t*>("12345"), 5);
  s.request(0x2000, 0, false);
  EXPECT_EQ(s.ch->segmentMode, kSdoSegmentedUpload);
  EXPECT_EQ(s.ch->blockLength, 5);
}

}  // namespace
}  // namespace busprobe
