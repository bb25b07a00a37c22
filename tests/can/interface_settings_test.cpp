#include "can/interface_settings.h"

#include <gtest/gtest.h>

#include "base/ini_file.h"
#include "can/bus_settings.h"
#include "can/can_keys.h"

namespace busprobe {
namespace {

TEST(CanSettingsKeys, EveryKeyIsReadAndWrittenUnderItsName) {
  test::ExpectTableCarries<CanInterfaceSettings>(test::InterfaceKeys(), ReadInterfaceSettings,
                                                 WriteInterfaceSettings);
  using Buses = CanBusSettings[2];
  Buses buses;
  ReadCanBusSettings(test::FileOf(test::BusKeys()), buses);
  IniFile out;
  WriteCanBusSettings(out, buses);
  test::ExpectAllKeysCarried(test::BusKeys(), out);
}

// The record's member defaults and the table's defaults were once two lists; a fresh configuration
// must give exactly what a fresh record holds, or code that builds a record without the file
// (and the settings window's "defaults") would see another interface than a new user.
TEST(CanSettingsKeys, FreshConfigurationReadsTheRecordDefaults) {
  CanInterfaceSettings c;
  ReadInterfaceSettings(IniFile(), c);
  EXPECT_EQ(c, CanInterfaceSettings{});
  EXPECT_EQ(c.interfaceType, kIntfVirtual);  // does something without hardware

  // Every field changed, then a file without the section: all back to the defaults, except the
  // CAN-via-UDP role flags, which keep the current value.
  ReadInterfaceSettings(test::FileOf(test::InterfaceKeys()), c);
  const int32_t flags = c.cvudpFlags;
  ASSERT_NE(flags, 0);
  ReadInterfaceSettings(IniFile(), c);
  CanInterfaceSettings expected;
  expected.cvudpFlags = flags;
  EXPECT_EQ(c, expected);

  CanBusSettings buses[2];
  buses[1].baudrate = 125;
  buses[0].flexDataRate = 2000;
  ReadCanBusSettings(IniFile(), buses);
  for (const CanBusSettings& b : buses) {
    EXPECT_EQ(b.baudrate, CanBusSettings{}.baudrate);
    EXPECT_EQ(b.flexDataRate, CanBusSettings{}.flexDataRate);
  }
}

TEST(CanSettingsKeys, PortsAndTextsOutsideTheirFieldsReadAsDefaults) {
  CanInterfaceSettings c;
  ReadInterfaceSettings(IniFile::parse("[CanInterface]\nCvUDP_RemoteIP=" + std::string(50, '1') +
                                       "\nCvUDP_remote_server_port=70000\nCvUDP_local_server_port=-1\n"
                                       "PCAN_Interrupt=65536\nPCAN_NetName=" +
                                       std::string(300, 'n') + "\n"),
                        c);
  EXPECT_EQ(c.cvudpRemoteIp, std::string(39, '1'));
  EXPECT_EQ(c.pcanNetNames, std::string(254, 'n'));
  EXPECT_EQ(c.cvudpRemotePort, 55556);
  EXPECT_EQ(c.cvudpLocalPort, 55556);
  EXPECT_EQ(c.pcanInterrupt, 7);
}

}  // namespace
}  // namespace busprobe
