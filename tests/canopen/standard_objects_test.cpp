#include "canopen/standard_objects.h"

#include <gtest/gtest.h>

namespace busprobe {
namespace {

std::string Name(uint16_t index, int subIndex) {
  return StandardObjectName(index, subIndex, false);
}

TEST(StandardObjectName, DataTypeDefinitions) {
  EXPECT_EQ(Name(0x0001, kWholeObject), "DEFTYPE: BOOLEAN");
  EXPECT_EQ(Name(0x0008, kWholeObject), "DEFTYPE: REAL32");
  EXPECT_EQ(Name(0x001B, 0), "DEFTYPE: UNSIGNED64");
  // The codes the standard leaves unused have no definition to name.
  EXPECT_EQ(Name(0x000E, kWholeObject), "");
  EXPECT_EQ(Name(0x0017, kWholeObject), "");
  EXPECT_EQ(Name(0x0023, kWholeObject), "DEFSTRUCT: IDENTITY");
  EXPECT_EQ(Name(0x0020, 0), "largest subindex supported");
  EXPECT_EQ(Name(0x0050, kWholeObject), "DEFSTRUCT: manufacturer specific");
  EXPECT_EQ(Name(0x0060, kWholeObject), "DEFTYPE: device 1 specific");
  EXPECT_EQ(Name(0x009F, kWholeObject), "DEFSTRUCT: device 1 specific");
  EXPECT_EQ(Name(0x00C0, kWholeObject), "DEFSTRUCT: device 2 specific");
  EXPECT_EQ(Name(0x011F, kWholeObject), "DEFSTRUCT: device 3 specific");
  EXPECT_EQ(Name(0x0120, kWholeObject), "");
}

TEST(StandardObjectName, CommunicationObjectsAndTheirSubindexes) {
  EXPECT_EQ(Name(0x1000, kWholeObject), "Device Type");
  EXPECT_EQ(Name(0x1000, 0), "Device Type");
  EXPECT_EQ(Name(0x1000, 1), "");
  EXPECT_EQ(Name(0x1003, 0), "number of errors");
  EXPECT_EQ(Name(0x1003, 7), "standard error field");
  EXPECT_EQ(Name(0x1010, 0), "number of entries");
  EXPECT_EQ(Name(0x1010, 2), "save communication parameters");
  EXPECT_EQ(Name(0x1011, 4), "restore manufacturer default parameters");
  EXPECT_EQ(Name(0x1010, 5), "");
  EXPECT_EQ(Name(0x1018, 0), "largest subindex supported");
  EXPECT_EQ(Name(0x1018, 4), "Serial Number");
  EXPECT_EQ(Name(0x1026, 3), "StdErr");
  EXPECT_EQ(Name(0x1027, 0), "number of connected modules");
  EXPECT_EQ(Name(0x1027, 12), "Module 12");
  EXPECT_EQ(Name(0x1028, 3), "Emergency consumer 3");
  EXPECT_EQ(Name(0x1029, 9), "profile- or manufacturer specific");
  EXPECT_EQ(Name(0x1F82, 5), "Node-ID 5");
  EXPECT_EQ(Name(0x1F82, 0x80), "All nodes");
  EXPECT_EQ(Name(0x1F81, 0x80), "");
  EXPECT_EQ(Name(0x1F90, 3), "NMT master priority");
  EXPECT_EQ(Name(0x1F91, 3), "Node time slot");
  // Gaps between the defined objects stay unnamed.
  EXPECT_EQ(Name(0x101A, kWholeObject), "");
  EXPECT_EQ(Name(0x1F8B, kWholeObject), "");
}

TEST(StandardObjectName, SimpleVariablesWarnAboutSubindexes) {
  EXPECT_EQ(Name(0x102A, 0), "NMT inhibit time");
  EXPECT_EQ(Name(0x102A, 1), "NMT inhibit time : illegal subindex ('simple var'!!)");
  EXPECT_EQ(Name(0x1F80, 2), "NMT startup : illegal subindex ('simple var'!!)");
  EXPECT_EQ(Name(0x1F89, 3), "Boot time : illegal subindex ('simple var'!!)");
}

TEST(StandardObjectName, ParameterRangesAreNumbered) {
  EXPECT_EQ(Name(0x1200, kWholeObject), "Server SDO Parameter");
  EXPECT_EQ(Name(0x1201, 1), "COB-ID Client->Server (rx)");
  EXPECT_EQ(Name(0x1280, 3), "node ID of the SDO server");
  EXPECT_EQ(Name(0x1400, kWholeObject), "RPDO1 Communication Parameter");
  EXPECT_EQ(Name(0x15FF, kWholeObject), "RPDO512 Communication Parameter");
  EXPECT_EQ(Name(0x1803, kWholeObject), "TPDO4 Communication Parameter");
  EXPECT_EQ(Name(0x1803, 4), "CMS priority group (withdrawn?)");
  EXPECT_EQ(Name(0x1803, 0), "largest subindex supported");
  EXPECT_EQ(Name(0x1601, kWholeObject), "RPDO2 Mapping Parameter");
  EXPECT_EQ(Name(0x1A00, 0), "number of mapped objects");
  EXPECT_EQ(Name(0x1A00, 1), "mapping for 1st object");
  EXPECT_EQ(Name(0x1A00, 2), "mapping for 2nd object");
  EXPECT_EQ(Name(0x1A00, 3), "mapping for 3rd object");
  EXPECT_EQ(Name(0x1A00, 4), "mapping for 4th object");
  EXPECT_EQ(Name(0x1A00, 21), "mapping for 21th object");
  EXPECT_EQ(Name(0x1A00, 65), "");
}

TEST(StandardObjectName, GenericIoProfile) {
  EXPECT_EQ(Name(0x6000, kWholeObject), "Read input 8-bit");
  EXPECT_EQ(Name(0x6000, 0), "number of entries");
  EXPECT_EQ(Name(0x6000, 2), "Read input 9 to 16");
  EXPECT_EQ(Name(0x6200, 1), "Write output 1 to 8");
  EXPECT_EQ(Name(0x6300, 2), "Write output 17 to 32");
  EXPECT_EQ(Name(0x6206, kWholeObject), "Error mode output 8-bit");
  EXPECT_EQ(Name(0x6327, kWholeObject), "Error value output 32-bit");
  EXPECT_EQ(Name(0x6220, kWholeObject), "Write output bit 1 to 128");
  EXPECT_EQ(Name(0x6227, kWholeObject), "Write output bit 897 to 1024");
  EXPECT_EQ(Name(0x6221, 3), "Write output 131");
  EXPECT_EQ(Name(0x6221, 129), "");
  EXPECT_EQ(Name(0x6401, 4), "Analogue input 4");
  EXPECT_EQ(Name(0x6413, kWholeObject), "Write analogue output float");
  EXPECT_EQ(Name(0x642F, kWholeObject), "Analogue input scaling float");
  EXPECT_EQ(Name(0x6443, 1), "Analogue output 1");
  EXPECT_EQ(Name(0x67FF, kWholeObject), "First logical device type");
  EXPECT_EQ(Name(0x67FF, 0), "First logical device type");
  EXPECT_EQ(Name(0x6001, kWholeObject), "");
}

TEST(StandardObjectName, FallbackOnlyWhenAskedFor) {
  EXPECT_EQ(StandardObjectName(0x2000, 1, false), "");
  EXPECT_EQ(StandardObjectName(0x2000, 1, true), "Obj2000_sub01");
  EXPECT_EQ(StandardObjectName(0x5ABC, kWholeObject, true), "Obj5ABC");
  EXPECT_EQ(StandardObjectName(0x1010, 0x7F, true), "Obj1010_sub7F");
  EXPECT_EQ(StandardObjectName(0x1000, 0, true), "Device Type");
}

TEST(StandardObjectType, CommunicationObjects) {
  EXPECT_EQ(StandardObjectType(0x1001, 0), 5);
  EXPECT_EQ(StandardObjectType(0x100D, 0), 5);
  EXPECT_EQ(StandardObjectType(0x1008, 0), 9);
  EXPECT_EQ(StandardObjectType(0x100A, 0), 9);
  EXPECT_EQ(StandardObjectType(0x100C, 0), 6);
  EXPECT_EQ(StandardObjectType(0x1017, 0), 6);
  EXPECT_EQ(StandardObjectType(0x1018, 0), 5);
  EXPECT_EQ(StandardObjectType(0x1018, 4), 7);
  EXPECT_EQ(StandardObjectType(0x1018, 5), 0);
  EXPECT_EQ(StandardObjectType(0x1000, 0), 7);
  EXPECT_EQ(StandardObjectType(0x1003, 3), 7);
  EXPECT_EQ(StandardObjectType(0x1016, 1), 7);
  EXPECT_EQ(StandardObjectType(0x1019, 0), 0);
  EXPECT_EQ(StandardObjectType(0x0020, 0), 5);
  EXPECT_EQ(StandardObjectType(0x005F, 2), 6);
  EXPECT_EQ(StandardObjectType(0x2000, 0), 0);
}

TEST(StandardObjectType, ParameterRanges) {
  EXPECT_EQ(StandardObjectType(0x1200, 0), 5);
  EXPECT_EQ(StandardObjectType(0x1280, 1), 7);
  EXPECT_EQ(StandardObjectType(0x12FF, 2), 7);
  EXPECT_EQ(StandardObjectType(0x1200, 3), 5);
  const int pdoCommunication[] = {5, 7, 5, 6, 5, 6};
  for (int sub = 0; sub < 6; ++sub) {
    EXPECT_EQ(StandardObjectType(0x1400, sub), pdoCommunication[sub]) << sub;
    EXPECT_EQ(StandardObjectType(0x19FF, sub), pdoCommunication[sub]) << sub;
  }
  EXPECT_EQ(StandardObjectType(0x1600, 0), 5);
  EXPECT_EQ(StandardObjectType(0x1BFF, 8), 7);
}

TEST(StandardObjectType, GenericIoProfileByWidth) {
  EXPECT_EQ(StandardObjectType(0x6000, 0), 5);
  EXPECT_EQ(StandardObjectType(0x6000, 1), 5);
  EXPECT_EQ(StandardObjectType(0x6100, 1), 6);
  EXPECT_EQ(StandardObjectType(0x6320, 1), 7);
  EXPECT_EQ(StandardObjectType(0x6400, 1), 2);
  EXPECT_EQ(StandardObjectType(0x6401, 1), 3);
  EXPECT_EQ(StandardObjectType(0x6412, 1), 4);
  EXPECT_EQ(StandardObjectType(0x6403, 1), 8);
  EXPECT_EQ(StandardObjectType(0x6220, 0), 5);
  EXPECT_EQ(StandardObjectType(0x6220, 7), 1);
  // A variable holds its value in subindex 0: the device type is read whole, not as a count.
  EXPECT_EQ(StandardObjectType(0x67FF, 0), 7);
  EXPECT_EQ(StandardObjectType(0x6005, 0), 1);
}

}  // namespace
}  // namespace busprobe
