#include "canopen/od_value_text.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "canopen/od_tables.h"

namespace busprobe {
namespace {

OdValue Value(uint8_t type, uint32_t data) {
  OdValue v;
  v.dataType = type;
  v.setData32(data);
  v.inlineLength = 4;
  return v;
}

TEST(OdValueText, IntegersInEachFormat) {
  EXPECT_EQ(OdValueText('d', Value(2, 0xFB)), "-5");
  EXPECT_EQ(OdValueText('B', Value(2, 0xFB)), "-%00000101");
  EXPECT_EQ(OdValueText('b', Value(2, 5)), "+%00000101");
  EXPECT_EQ(OdValueText('h', Value(2, 0xFB)), "0xFB");
  EXPECT_EQ(OdValueText('d', Value(3, 0x7)), "+7");
  EXPECT_EQ(OdValueText('d', Value(52, 0xFFFF)), "-1");
  EXPECT_EQ(OdValueText('h', Value(3, 0xABCD)), "0xABCD");
  EXPECT_EQ(OdValueText('d', Value(4, 0x80000000)), "-2147483648");
  EXPECT_EQ(OdValueText('b', Value(4, 0x80000000)), "-%10000000000000000000000000000000");
  EXPECT_EQ(OdValueText('h', Value(54, 0x1)), "0x00000001");
  EXPECT_EQ(OdValueText('d', Value(5, 0x1FF)), "255");
  EXPECT_EQ(OdValueText('b', Value(51, 0x3)), "%00000011");
  EXPECT_EQ(OdValueText('d', Value(6, 0x1FFFF)), "65535");
  EXPECT_EQ(OdValueText('d', Value(7, 0xFFFFFFFF)), "4294967295");
  EXPECT_EQ(OdValueText('h', Value(7, 0x180)), "0x00000180");
  EXPECT_EQ(OdValueText('d', Value(8, 0x3FC00000)), "1.5");
  EXPECT_EQ(OdValueText('h', Value(1, 1)), "0x00000001");
}

TEST(OdValueText, StringsAndDomains) {
  OdBlockPool pool;
  OdValue s = Value(9, 0);
  std::memcpy(s.data, "ab\x01", 3);
  s.inlineLength = 3;
  EXPECT_EQ(OdValueText('a', s), "\"ab\" 01");
  EXPECT_EQ(OdValueText('h', s), " 61 62 01");
  const std::string longText(100, 'x');
  pool.store(s, reinterpret_cast<const uint8_t*>(longText.data()), longText.size());
  const std::string shown = OdValueText('a', s);
  EXPECT_LE(shown.size(), kOdDisplayTextLimit);
  EXPECT_EQ(shown, "\"" + std::string(70, 'x') + "\"");
  EXPECT_EQ(OdValueText('a', s, std::string::npos), "\"" + longText + "\"");

  OdValue dom = Value(15, 0);
  EXPECT_EQ(OdValueText('d', dom), "length=0");
  pool.store(dom, reinterpret_cast<const uint8_t*>("file.bin"), 8);
  EXPECT_EQ(OdValueText('d', dom), "file.bin");
}

TEST(OdTables, ColumnTexts) {
  EXPECT_EQ(OdTypeName(0), "unknwon     ");
  EXPECT_EQ(OdTypeName(10), "OCTET_STRING");
  EXPECT_EQ(OdTypeName(7), "UNSIGNED32  ");
  EXPECT_EQ(OdTypeName(16), "type 16??   ");
  EXPECT_EQ(OdTypeName(200), "type200??   ");
  EXPECT_EQ(OdAccessText(0x03), "RW     ");
  EXPECT_EQ(OdAccessText(0x89), "RONLY,PDO,NV");
  EXPECT_EQ(OdAccessText(0x43), "RWPROC ");
  EXPECT_EQ(OdAccessText(0x0C), "CONST,PDO");
  EXPECT_EQ(OdAccessText(0x00), "  0??  ");
  EXPECT_EQ(OdEdsAccessText(0x41), "rwr");
  EXPECT_EQ(OdEdsAccessText(0x05), "const");
  EXPECT_EQ(OdEdsAccessText(0x40), "");
  EXPECT_EQ(OdParseEdsAccess("RW"), 0x03);
  EXPECT_EQ(OdParseEdsAccess("rwr"), 0x41);
  EXPECT_EQ(OdParseEdsAccess("rww"), 0x42);
  EXPECT_EQ(OdParseEdsAccess("ro"), 0x01);
  EXPECT_EQ(OdParseEdsAccess("Const"), 0x05);
  EXPECT_EQ(OdParseEdsAccess("wo"), 0x02);
  EXPECT_EQ(OdParseEdsAccess("?"), 0x03);
  EXPECT_EQ(OdDisplayText('H'), "hex  ");
  EXPECT_EQ(OdDisplayText('s'), "chr  ");
  EXPECT_EQ(OdDisplayText('f'), "102? ");
}

}  // namespace
}  // namespace busprobe
