#include "canopen/eds_file.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "canopen/dictionary_access.h"
#include "canopen/od_tables.h"

namespace busprobe {
namespace {

struct Eds {
  OdBlockPool pool;
  std::unique_ptr<ObjectDictionary> od = std::make_unique<ObjectDictionary>(pool);
  EdsFileInfo file;
  EdsDeviceInfo device;
  std::string problem;

  bool read(const std::string& text, bool dcf = false, uint8_t nodeId = 0) {
    return ReadEdsText(text, dcf, nodeId, file, device, *od, problem);
  }
  std::string write(bool dcf = false, int64_t utc = 0) {
    EdsWriteOptions o;
    o.isDcf = dcf;
    o.fileName = "/some/dir/out.eds";
    o.utcSeconds = utc;
    return WriteEdsText(file, device, *od, o);
  }
  uint32_t value(uint16_t index, uint8_t sub) const {
    const OdEntry* e = od->find(index, sub);
    return e ? e->defaultValue.data32() : 0xDEADBEEF;
  }
};

const char* kIdentity = R"(
[MandatoryObjects]
SupportedObjects=2
1=0x1000
2=0x1018

[1000]
ParameterName=Device type
ObjectType=0x7
DataType=0x0007
AccessType=ro
DefaultValue=0x00030191
PDOMapping=0

[1018]
ParameterName=Identity object
ObjectType=0x9
SubNumber=0x5

[1018sub0]
ParameterName=Number of entries
ObjectType=0x7
DataType=0x0005
AccessType=ro

[1018sub1]
ParameterName=Vendor ID
DataType=0x0007
AccessType=ro
DefaultValue=0x12345678

[1018sub2]
ParameterName=Product code
DataType=0x0007
AccessType=ro

[1018sub3]
ParameterName=Revision
DataType=0x0007
AccessType=ro

[1018sub4]
ParameterName=Serial number
DataType=0x0007
AccessType=ro
)";

TEST(EdsRead, ObjectsInFileOrderWithNamesTypesAndValues) {
  Eds e;
  ASSERT_TRUE(e.read(kIdentity));
  EXPECT_EQ(e.problem, "");
  ASSERT_EQ(e.od->count(), 6);
  EXPECT_EQ(e.od->slot(0).index, 0x1000);
  EXPECT_EQ(e.od->slot(0).nameView(), "Device type");
  EXPECT_EQ(e.od->slot(0).access, kOdAccessReadOnly);
  EXPECT_EQ(e.value(0x1000, 0), 0x00030191u);
  EXPECT_EQ(e.od->slot(0).display, 'h');
  EXPECT_EQ(e.od->slot(1).nameView(), "Identity object: Number of entries");
  // Without a DefaultValue subindex 0 takes SubNumber.
  EXPECT_EQ(e.value(0x1018, 0), 5u);
  EXPECT_EQ(e.od->slot(1).hasDefault, 0);
  EXPECT_EQ(e.value(0x1018, 1), 0x12345678u);
  EXPECT_EQ(e.od->slot(5).subIndex, 4);
  // An EDS has no configured values: the current value is the default, not marked valid.
  EXPECT_EQ(e.od->slot(2).currentValue.data32(), 0x12345678u);
  EXPECT_EQ(e.od->slot(2).currentValid, 0);
}

TEST(EdsRead, SubIndexesAboveSubNumberAndGapsAreRead) {
  Eds e;
  ASSERT_TRUE(e.read(R"(
[OptionalObjects]
SupportedObjects=1
1=0x1800
[1800]
ParameterName=TPDO1
ObjectType=0x9
SubNumber=0x4
[1800sub0]
ParameterName=Highest
DataType=0x0005
DefaultValue=5
[1800sub1]
ParameterName=COB-ID
DataType=0x0007
DefaultValue=0x180
[1800sub2]
ParameterName=Type
DataType=0x0005
[1800sub5]
ParameterName=Event timer
DataType=0x0006
DefaultValue=100
[1800sub3]
ParameterName=
DataType=0x0006
)"));
  ASSERT_EQ(e.od->count(), 4);
  EXPECT_EQ(e.value(0x1800, 5), 100u);
  EXPECT_EQ(e.od->find(0x1800, 3), nullptr);  // no name: left out
  EXPECT_EQ(e.od->slot(3).subIndex, 5);
}

TEST(EdsRead, SectionAndKeyNamesInAnyCase) {
  Eds e;
  ASSERT_TRUE(e.read(R"(
[deviceinfo]
Baudrate_10=1
BAUDRATE_1000=1
vendornumber=0x2A
[OPTIONALOBJECTS]
supportedobjects=1
1=0x1A00
[1a00]
parametername=TPDO1 mapping
objecttype=0x8
[1a00sub0]
ParameterName=count
datatype=0x0005
defaultvalue=1
[1A00SUB1]
ParameterName=first
DataType=0x0007
DefaultValue=0x60000108
)"));
  EXPECT_EQ(e.device.baudRates, kEdsBaud10 | kEdsBaud1000);
  EXPECT_EQ(e.device.vendorNumber, 0x2A);
  ASSERT_EQ(e.od->count(), 2);
  EXPECT_EQ(e.value(0x1A00, 1), 0x60000108u);
  EXPECT_EQ(e.od->slot(0).nameView(), "TPDO1 mapping: count");
}

const char* kNodeRelative = R"(
[OptionalObjects]
SupportedObjects=4
1=0x1014
2=0x1200
3=0x1400
4=0x1280
[1014]
ParameterName=COB-ID EMCY
DataType=0x0007
DefaultValue=$NODEID+0x80
[1200]
ParameterName=Server SDO
ObjectType=0x9
SubNumber=3
[1200sub0]
ParameterName=count
DataType=0x0005
DefaultValue=2
[1200sub1]
ParameterName=rx
DataType=0x0007
DefaultValue=$NODEID + 0x600
[1200sub2]
ParameterName=tx
DataType=0x0007
DefaultValue=0x580+$nodeid
[1400]
ParameterName=RPDO
ObjectType=0x9
[1400sub1]
ParameterName=COB-ID
DataType=0x0007
DefaultValue=$NODEID+0x80000200
[1280]
ParameterName=Client
DataType=0x0007
DefaultValue=1280+$NODEID
)";

TEST(EdsRead, NodeIdPlaceholderResolvesForTheNodeAndSurvivesASave) {
  Eds e;
  ASSERT_TRUE(e.read(kNodeRelative, false, 0x05));
  EXPECT_EQ(e.value(0x1014, 0), 0x85u);
  EXPECT_EQ(e.value(0x1200, 1), 0x605u);
  EXPECT_EQ(e.value(0x1200, 2), 0x585u);
  EXPECT_EQ(e.value(0x1400, 1), 0x80000205u);
  EXPECT_EQ(e.value(0x1280, 0), 1285u);

  const std::string saved = e.write();
  EXPECT_NE(saved.find("DefaultValue=$NODEID+0x80\r\n"), std::string::npos);
  EXPECT_NE(saved.find("DefaultValue=$NODEID + 0x600\r\n"), std::string::npos);
  EXPECT_NE(saved.find("DefaultValue=0x580+$nodeid\r\n"), std::string::npos);
  // Loaded again for another node, the same file gives that node's identifiers.
  Eds other;
  ASSERT_TRUE(other.read(saved, false, 0x7F));
  EXPECT_EQ(other.value(0x1014, 0), 0xFFu);
  EXPECT_EQ(other.value(0x1200, 1), 0x67Fu);

  // A value changed since loading is written as the number it now is.
  e.od->find(0x1014, 0)->defaultValue.setData32(0x99);
  EXPECT_NE(e.write().find("DefaultValue=0x99\r\n"), std::string::npos);
}

TEST(EdsRead, DcfConfiguredValuesAndCompactArrays) {
  Eds e;
  ASSERT_TRUE(e.read(R"(
[OptionalObjects]
SupportedObjects=3
1=0x1016
2=0x1008
3=0x1017
[1016]
ParameterName=Consumer heartbeat time
ObjectType=0x8
DataType=0x0007
AccessType=rw
CompactSubObj=3
[1016sub2]
DefaultValue=0x00050064
[1016Value]
NrOfEntries=1
1=0x000A00C8
[1008]
ParameterName=Device name
DataType=0x0009
AccessType=const
DefaultValue=A rather long device name
ParameterValue=shrt
[1017]
ParameterName=Producer heartbeat
DataType=0x0006
AccessType=rw
DefaultValue=0
ParameterValue=$NODEID+1000
)",
                     true, 3));
  ASSERT_EQ(e.od->count(), 6);
  const OdEntry& count = *e.od->find(0x1016, 0);
  EXPECT_EQ(count.nameView(), "Consumer heartbeat time: number of entries");
  EXPECT_EQ(count.defaultValue.data32(), 3u);
  EXPECT_EQ(count.defaultValue.dataType, 5);
  EXPECT_EQ(count.access, kOdAccessReadOnly);
  const OdEntry& second = *e.od->find(0x1016, 2);
  EXPECT_EQ(second.nameView(), "Consumer heartbeat time__sub2");
  EXPECT_EQ(second.defaultValue.dataType, 7);
  EXPECT_EQ(second.access, kOdAccessReadWrite);
  EXPECT_EQ(second.defaultValue.data32(), 0x00050064u);
  EXPECT_EQ(second.hasDefault, 1);
  EXPECT_EQ(e.od->find(0x1016, 3)->hasDefault, 0);
  EXPECT_EQ(e.od->find(0x1016, 1)->currentValue.data32(), 0x000A00C8u);
  EXPECT_EQ(e.od->find(0x1016, 1)->currentValid, 1);

  const OdEntry& name = *e.od->find(0x1008, 0);
  ASSERT_TRUE(name.defaultValue.hasBlock());
  EXPECT_EQ(name.display, 'a');
  EXPECT_EQ(name.currentValid, 1);
  EXPECT_FALSE(name.currentValue.hasBlock());
  EXPECT_EQ(std::memcmp(name.currentValue.data, "shrt", 4), 0);
  EXPECT_EQ(e.od->find(0x1017, 0)->currentValue.data32(), 1003u);

  // A DCF written back keeps both values, the configured one with its placeholder.
  const std::string saved = e.write(true);
  EXPECT_EQ(saved.rfind(";  This DCF file was created by Rilo's experimental BUSPROBE.\r\n", 0), 0u);
  EXPECT_NE(saved.find("ParameterValue=$NODEID+1000\r\n"), std::string::npos);
  EXPECT_NE(saved.find("DefaultValue=A rather long device name\r\n"), std::string::npos);
}

TEST(EdsRead, StringValuesShareNoBlocksBetweenDefaultAndCurrent) {
  Eds e;
  ASSERT_TRUE(e.read(R"(
[OptionalObjects]
SupportedObjects=1
1=0x1008
[1008]
ParameterName=Device name
DataType=0x0009
AccessType=rw
DefaultValue=A long device name
)"));
  OdEntry& entry = *e.od->find(0x1008, 0);
  EXPECT_FALSE(entry.currentValue.hasBlock());
  // A segmented write of a new name leaves the default untouched.
  LocalDictionaryAccess access(*e.od);
  auto ch = std::make_unique<SdoChannel>();
  ch->index = 0x1008;
  ch->isDownload = 1;
  ch->accessSource = kSdoAccessFromServer;
  std::memcpy(ch->buffer, "Replacement name", 16);
  ch->blockLength = 16;
  access.SDO_USER_DictionaryAccess(*ch);
  EXPECT_EQ(std::memcmp(entry.defaultValue.block, "A long device name", 18), 0);
  e.od->clear();
  EXPECT_EQ(e.pool.freeCount(), kOdBlockCount);
}

TEST(EdsRead, PoolExhaustionNamesTheFirstObject) {
  Eds e;
  std::string text = "[ManufacturerObjects]\nSupportedObjects=300\n";
  for (int i = 0; i < 300; ++i) text += std::to_string(i + 1) + "=0x" + std::to_string(2000 + i) + "\n";
  for (int i = 0; i < 300; ++i) {
    text += "[" + std::to_string(2000 + i) + "]\nParameterName=s\nDataType=0x0009\nDefaultValue=long text\n";
  }
  ASSERT_TRUE(e.read(text));
  EXPECT_EQ(e.od->count(), 300);
  EXPECT_EQ(e.problem, "no free block for the text of object 0x2256 sub 0");
}

TEST(EdsRead, BadInputLoadsWhatItCan) {
  Eds e;
  EXPECT_FALSE(e.read(""));
  EXPECT_EQ(e.problem, "no objects found");
  EXPECT_FALSE(e.read(std::string("\0\xff[\x01]]]=\n\n[[=", 14)));
  // Missing object sections, absurd counts, huge numbers, an object listed twice.
  ASSERT_TRUE(e.read(R"(
[MandatoryObjects]
SupportedObjects=99999999999
1=0x1000
2=0x1000
3=0x123456
4=nonsense
[1000]
ParameterName=Device type
DataType=0x0007
DefaultValue=0x1234567890ABCDEF
[OptionalObjects]
SupportedObjects=2
1=0x2000
2=0x1003
[1003]
ObjectType=0x8
SubNumber=0xFFFFFFFF
[1003sub0]
ParameterName=n
DataType=0x0005
[1003sub1FF]
ParameterName=beyond
)"));
  EXPECT_EQ(e.od->count(), 2);
  EXPECT_EQ(e.value(0x1000, 0), 0xFFFFFFFFu);
  EXPECT_EQ(e.value(0x1003, 0), 0xFFu);

  // More objects than the dictionary holds: it fills up and says so.
  std::string many = "[ManufacturerObjects]\nSupportedObjects=10000\n";
  std::string sections;
  for (int i = 0; i < 10000; ++i) {
    char line[64];
    std::snprintf(line, sizeof line, "%d=0x%X\n", i + 1, 0x2000 + i);
    many += line;
    std::snprintf(line, sizeof line, "[%X]\nParameterName=v\n", 0x2000 + i);
    sections += line;
  }
  many += sections;
  ASSERT_TRUE(e.read(many));
  EXPECT_EQ(e.od->count(), kOdSlotCount);
  EXPECT_EQ(e.problem, "dictionary full: objects from 0x2800 sub 0 on left out");
}

TEST(EdsNumber, Syntax) {
  uint32_t v = 0;
  bool node = false;
  EXPECT_TRUE(ParseEdsNumber("0X1F", 0, v));
  EXPECT_EQ(v, 0x1Fu);
  EXPECT_TRUE(ParseEdsNumber("-12", 0, v));
  EXPECT_EQ(v, static_cast<uint32_t>(-12));
  EXPECT_TRUE(ParseEdsNumber("-0x7f", 0, v));
  EXPECT_EQ(v, static_cast<uint32_t>(-0x7f));
  EXPECT_TRUE(ParseEdsNumber("4294967295", 0, v));
  EXPECT_EQ(v, 0xFFFFFFFFu);
  EXPECT_TRUE(ParseEdsNumber("002", 0, v));
  EXPECT_EQ(v, 2u);
  EXPECT_FALSE(ParseEdsNumber("", 0, v));
  EXPECT_FALSE(ParseEdsNumber("abc", 0, v));
  EXPECT_FALSE(ParseEdsNumber("$NODEID+x", 1, v));
  EXPECT_TRUE(ParseEdsNumber(" $NODEID ", 9, v, &node));
  EXPECT_EQ(v, 9u);
  EXPECT_TRUE(node);
}

TEST(EdsWrite, LayoutOfHeadersListsAndObjects) {
  Eds e;
  e.file.description = "demo";
  e.file.fileVersion = 2;
  e.device.vendorName = "Vendor";
  e.device.baudRates = kEdsBaud250 | kEdsBaud1000;
  e.device.dummyUsage = 0x04;
  for (int sub = 0; sub <= 5; ++sub) {
    OdEntry x = NewOdEntry(0x1003, static_cast<uint8_t>(sub));
    x.defaultValue.dataType = sub == 0 ? 5 : 7;
    x.access = kOdAccessReadOnly;
    x.setName(sub == 0 ? "Pre-defined error field: number of errors" : "standard error field");
    e.od->insert(x);
  }
  OdEntry var = NewOdEntry(0x2000, 0);
  var.setName("Motor: speed");
  var.defaultValue.dataType = 3;
  var.defaultValue.setData32(0xFFFB);
  var.hasDefault = 1;
  var.access = kOdAccessReadWrite | kOdAccessPdo;
  e.od->insert(var);
  // 2026-03-04 15:07 UTC
  const std::string text = e.write(false, 1772636820);
  EXPECT_EQ(text.find("\n", 0) > 0 && text[text.find('\n') - 1] == '\r', true);
  EXPECT_NE(
      text.find("\r\n[FileInfo]\r\nFileName=out.eds\r\nFileVersion=2\r\nFileRevision=0\r\nEDSVersion=4.0\r\n"
                "Description=demo\r\n"),
      std::string::npos);
  EXPECT_NE(text.find("ModificationTime=03:07PM\r\nModificationDate=03-04-2026\r\n"), std::string::npos);
  EXPECT_NE(text.find("BaudRate_250=1\r\nBaudRate_500=0\r\nBaudRate_800=0\r\nBaudRate_1000=1\r\n"),
            std::string::npos);
  EXPECT_NE(text.find("Dummy0003=1\r\n"), std::string::npos);
  EXPECT_NE(text.find("[MandatoryObjects]\r\nSupportedObjects=0\r\n"), std::string::npos);
  EXPECT_NE(text.find("[ManufacturerObjects]\r\nSupportedObjects=1\r\n1=0x2000\r\n\r\n[2000]\r\n"
                      "ParameterName=Motor: speed\r\nObjectType=0x7\r\nDataType=0x0003\r\nAccessType=rw\r\n"
                      "DefaultValue=-5\r\nPDOMapping=1\r\n"),
            std::string::npos);
  EXPECT_NE(
      text.find("[1003]\r\nSubNumber=0x6\r\nParameterName=Pre-defined error field\r\nObjectType=0x8\r\n"),
      std::string::npos);
  EXPECT_NE(text.find("[1003sub0]\r\nParameterName=number of errors\r\nObjectType=0x7\r\nDataType=0x0005\r\n"
                      "AccessType=ro\r\nDefaultValue=\r\nPDOMapping=0\r\n"),
            std::string::npos);
  EXPECT_NE(text.find("[1003sub5]\r\n"), std::string::npos);
  EXPECT_EQ(text.find("ParameterValue"), std::string::npos);

  Eds back;
  ASSERT_TRUE(back.read(text));
  ASSERT_EQ(back.od->count(), 7);
  EXPECT_EQ(back.od->find(0x1003, 0)->nameView(), "Pre-defined error field: number of errors");
  EXPECT_EQ(back.od->find(0x2000, 0)->nameView(), "Motor: speed");
  EXPECT_EQ(back.value(0x2000, 0), static_cast<uint32_t>(-5));
  EXPECT_EQ(back.device.baudRates, kEdsBaud250 | kEdsBaud1000);
  EXPECT_EQ(back.device.dummyUsage, 0x04);
}

TEST(EdsWrite, ObjectsThatAreNoSingleVarKeepTheirSubIndexes) {
  Eds e;
  // An array the standard list does not name, a lone subindex above 0 and a short string.
  for (int sub = 0; sub <= 2; ++sub) {
    OdEntry x = NewOdEntry(0x1029, static_cast<uint8_t>(sub));
    x.defaultValue.dataType = 5;
    x.defaultValue.setData32(static_cast<uint32_t>(sub + 10));
    x.hasDefault = 1;
    e.od->insert(x);
  }
  OdEntry lone = NewOdEntry(0x2100, 3);
  lone.defaultValue.dataType = 7;
  lone.defaultValue.setData32(42);
  lone.hasDefault = 1;
  e.od->insert(lone);
  OdEntry text = NewOdEntry(0x2200, 0);
  text.defaultValue.dataType = 9;
  std::memcpy(text.defaultValue.data, "abc", 3);
  text.defaultValue.inlineLength = 3;
  text.hasDefault = 1;
  e.od->insert(text);

  const std::string saved = e.write();
  // Unnamed entries get their standard names (with the fallback for the rest).
  EXPECT_NE(saved.find("[1029]\r\nSubNumber=0x3\r\nParameterName=Error behaviour\r\nObjectType=0x8\r\n"),
            std::string::npos);
  Eds back;
  ASSERT_TRUE(back.read(saved));
  EXPECT_EQ(back.od->count(), 5);
  EXPECT_EQ(back.value(0x1029, 2), 12u);
  EXPECT_EQ(back.value(0x2100, 3), 42u);
  ASSERT_NE(back.od->find(0x2100, 3), nullptr);
  EXPECT_EQ(back.od->find(0x2100, 3)->nameView(), "Obj2100_sub03");
  ASSERT_NE(back.od->find(0x2200, 0), nullptr);
  EXPECT_EQ(std::memcmp(back.od->find(0x2200, 0)->defaultValue.data, "abc", 3), 0);
}

}  // namespace
}  // namespace busprobe
