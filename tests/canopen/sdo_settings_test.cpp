#include "canopen/sdo_settings.h"

#include <gtest/gtest.h>

#include "base/ini_file.h"
#include "base/key_list_check.h"
#include "canopen/canopen_keys.h"

namespace busprobe {
namespace {

TEST(SdoSettingsKeys, EveryKeyIsReadAndWrittenUnderItsName) {
  test::ExpectTableCarries<SdoSettings>(test::SdoKeys(), ReadSdoSettings, WriteSdoSettings);
}

TEST(SdoSettingsKeys, DefaultsOfAnEmptyFile) {
  SdoSettings s;
  s.clientNodeId = 9;
  s.moreServerNodeIds[6] = 5;
  ReadSdoSettings(IniFile(), s);
  EXPECT_EQ(s.clientNodeId, 1);
  EXPECT_EQ(s.serverNodeId, 2);
  EXPECT_EQ(s.moreServerNodeIds[6], 0);
  EXPECT_EQ(s.serverEnable, 1);
  EXPECT_EQ(s.clientEnable, 1);
  EXPECT_EQ(s.serverTimeoutMs, 500);
  EXPECT_EQ(s.clientTimeoutMs, 500);
}

TEST(SdoSettingsKeys, NodeIdsOutsideTheRangeAreCorrected) {
  SdoSettings s;
  ReadSdoSettings(IniFile::parse("[SdoSettings]\nServerNodeID=0\nClientNodeID=128\nServerNodeID2=300\n"), s);
  EXPECT_EQ(s.serverNodeId, 1);
  EXPECT_EQ(s.clientNodeId, 2);            // the corrected server's node + 1
  EXPECT_EQ(s.moreServerNodeIds[0], 300);  // the other servers are taken as they stand

  ReadSdoSettings(IniFile::parse("[SdoSettings]\nServerNodeID=127\nClientNodeID=-1\n"), s);
  EXPECT_EQ(s.serverNodeId, 127);
  EXPECT_EQ(s.clientNodeId, 128);
}

TEST(SdoSettingsKeys, TimeoutsRoundToTheNearestTick) {
  EXPECT_EQ(SdoTimeoutTicks(40), 0);
  EXPECT_EQ(SdoTimeoutTicks(49), 0);
  EXPECT_EQ(SdoTimeoutTicks(50), 1);
  EXPECT_EQ(SdoTimeoutTicks(500), 5);
  EXPECT_EQ(SdoTimeoutTicks(549), 5);
}

}  // namespace
}  // namespace busprobe
