#include "canopen/dictionary_text.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "canopen/od_tables.h"
#include "canopen/od_value_text.h"

namespace busprobe {
namespace {

struct Dic {
  OdBlockPool pool;
  std::unique_ptr<ObjectDictionary> od = std::make_unique<ObjectDictionary>(pool);
  std::string problem;
  int read(const std::string& text) { return ReadDictionaryText(text, *od, problem); }
};

OdEntry Entry(uint16_t index, uint8_t sub, uint8_t type, uint8_t access, uint8_t display, uint32_t value) {
  OdEntry e = NewOdEntry(index, sub);
  e.defaultValue.dataType = type;
  e.defaultValue.setData32(value);
  e.access = access;
  e.display = display;
  e.hasDefault = 1;
  return e;
}

TEST(DictionaryText, LineLayout) {
  OdEntry e = Entry(0x1017, 0, 6, kOdAccessReadWrite, 'd', 1000);
  e.setName("Producer heartbeat time");
  EXPECT_EQ(OdEntryTextLine(e), "1017.00 \"Producer heartbeat time\" UNSIGNED16  RW     dec  1000");
  OdEntry f = Entry(0x6000, 0x1F, 2, kOdAccessReadOnly | kOdAccessPdo | kOdAccessNonVolatile, 'b', 0xFB);
  f.markFlags = 1;
  EXPECT_EQ(OdEntryTextLine(f), "6000.1F INTEGER8    RONLY,PDO,NVbin  marked -%00000101");
  OdEntry g = Entry(0x2000, 1, 35, 0x40, 'x', 0x12);
  EXPECT_EQ(OdEntryTextLine(g), "2000.01 type 35??    64??  120? 0x00000012");
}

TEST(DictionaryText, WrittenLinesReadBackTheSame) {
  Dic d;
  d.od->insert(Entry(0x1000, 0, 7, kOdAccessReadOnly, 'h', 0x00030191));
  d.od->insert(Entry(0x2000, 1, 2, kOdAccessReadWrite, 'b', 0xFFFFFF85));
  d.od->insert(Entry(0x2000, 2, 3, kOdAccessWriteProcess | kOdAccessPdo, 'd', 0xFFFF8000));
  d.od->insert(Entry(0x2000, 3, 4, kOdAccessReadProcess, 'h', 0x80000000));
  d.od->insert(Entry(0x2000, 4, 5, kOdAccessConst, 'm', 200));
  d.od->insert(Entry(0x2000, 5, 1, kOdAccessWriteOnly, 'd', 1));
  OdEntry f = Entry(0x2000, 6, 8, kOdAccessReadWrite, 'd', 0);
  const float big = 1.5e10f;
  std::memcpy(f.defaultValue.data, &big, 4);
  d.od->insert(f);
  d.od->insert(Entry(0x2000, 7, 200, 0x30, 's', 0x1234));
  d.od->insert(Entry(0x2000, 8, 10, kOdAccessReadWrite, 'h', 0xCAFE));
  OdEntry s = Entry(0x1008, 0, 9, kOdAccessConst, 'a', 0);
  s.setName("Device name");
  s.markFlags = 1;
  const std::string longText = std::string(100, 'x') + "\x01" + "end";
  d.pool.store(s.defaultValue, reinterpret_cast<const uint8_t*>(longText.data()), longText.size());
  d.od->insert(s);

  const std::string text = WriteDictionaryText(*d.od);
  Dic back;
  ASSERT_EQ(back.read(text), d.od->count());
  EXPECT_EQ(back.problem, "");
  for (int i = 0; i < d.od->count(); ++i) {
    const OdEntry& a = d.od->slot(i);
    const OdEntry& b = back.od->slot(i);
    SCOPED_TRACE(OdEntryTextLine(a));
    EXPECT_EQ(b.index, a.index);
    EXPECT_EQ(b.subIndex, a.subIndex);
    EXPECT_EQ(b.nameView(), a.nameView());
    EXPECT_EQ(b.defaultValue.dataType, a.defaultValue.dataType);
    EXPECT_EQ(b.access, a.access);
    // "chr" is the column of 's', read back as 'c': the two show values alike.
    EXPECT_EQ(b.display, a.display == 's' ? 'c' : a.display);
    EXPECT_EQ(b.markFlags, a.markFlags);
    EXPECT_EQ(OdValueText('h', b.defaultValue, std::string::npos),
              OdValueText('h', a.defaultValue, std::string::npos));
    EXPECT_EQ(b.currentValid, 0);
    EXPECT_EQ(b.objectType, 0);
  }
}

TEST(DictionaryText, ReaderForms) {
  Dic d;
  const std::string text =
      "2000,3 \"quoted\" U8 RO,NV DEC 0x10+2\r\n"
      "2001 i16 wo hex -%101\r"
      "2002.01 \"x\" UNSIGNED32 rw h \"AB\"\r\n"
      "2003.02 BOOLEAN RW d 7\r\n"
      "2004.00 FLOAT32 RW FLT 2.5*2\r\n"
      "2005.00 type 99?? 3? 100? 5\r\n"
      "garbage line\r\n"
      "\r\n"
      "1000.00 UNSIGNED32 RONLY hex\r\n"
      "1001.00 UNSIGNED8 RONLY hex 1";  // no CR at the end: not read
  EXPECT_EQ(d.read(text), 7);
  EXPECT_EQ(d.od->slot(0).index, 0x1000);  // sorted
  EXPECT_EQ(d.od->slot(0).hasDefault, 0);
  EXPECT_EQ(d.od->find(0x1001, 0), nullptr);
  const OdEntry& a = *d.od->find(0x2000, 3);
  EXPECT_EQ(a.nameView(), "quoted");
  EXPECT_EQ(a.defaultValue.dataType, 5);
  EXPECT_EQ(a.access, kOdAccessReadOnly | kOdAccessNonVolatile);
  EXPECT_EQ(a.display, 'd');
  EXPECT_EQ(a.defaultValue.data32(), 0x12u);
  EXPECT_EQ(d.od->find(0x2001, 0)->defaultValue.data32(), static_cast<uint32_t>(-5));
  EXPECT_EQ(d.od->find(0x2001, 0)->access, kOdAccessWriteOnly);
  EXPECT_EQ(d.od->find(0x2002, 1)->defaultValue.data32(), 0x4241u);
  EXPECT_EQ(d.od->find(0x2003, 2)->defaultValue.data32(), 1u);
  float f = 0;
  std::memcpy(&f, d.od->find(0x2004, 0)->defaultValue.data, 4);
  EXPECT_EQ(f, 5.0f);
  const OdEntry& odd = *d.od->find(0x2005, 0);
  EXPECT_EQ(odd.defaultValue.dataType, 99);
  EXPECT_EQ(odd.access, 3);
  EXPECT_EQ(odd.display, 100);
}

TEST(DictionaryText, LongLinesAndAFullDictionary) {
  Dic d;
  std::string text = "2000.01 \"" + std::string(600, 'n') + "\" U8 RW DEC 1\r\n";
  EXPECT_EQ(d.read(text), 1);
  EXPECT_EQ(d.od->slot(0).nameView().size(), 255u);
  std::string many;
  for (int i = 0; i < 2100; ++i) {
    char line[48];
    std::snprintf(line, sizeof line, "%04X.00 U8 RW DEC %d\r\n", 0x3000 - i, i & 0x7F);
    many += line;
  }
  EXPECT_EQ(d.read(many), kOdSlotCount);
  EXPECT_EQ(d.problem, "dictionary full: lines after 2048 entries left out");
  EXPECT_EQ(d.od->slot(0).index, 0x3000 - 2047);
}

}  // namespace
}  // namespace busprobe
