#include "can/interface_form.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <regex>

#include "can/typed_number.h"

namespace busprobe {
namespace {

// The form as the window shows it for a record, changed by `edit`, then stored over that record.
CanInterfaceSettings StoredAfter(const CanInterfaceSettings& before, void (*edit)(InterfaceForm&)) {
  const CanInterfaceTable table;
  InterfaceForm form = FillInterfaceForm(before, table, {});
  edit(form);
  CanInterfaceSettings after = before;
  StoreInterfaceForm(form, table, after);
  return after;
}

TEST(TypedNumber, ReadsTheLeadingNumberAndRefusesTextWithout) {
  int64_t v = -99;
  EXPECT_TRUE(ReadTypedNumber("500 ms", TypedRadix::kDecimal, v));
  EXPECT_EQ(v, 500);
  EXPECT_TRUE(ReadTypedNumber("  -12x", TypedRadix::kDecimal, v));
  EXPECT_EQ(v, -12);
  // Without hexadecimal prefixes "0x10" is the number 0 followed by text.
  EXPECT_TRUE(ReadTypedNumber("0x10", TypedRadix::kDecimal, v));
  EXPECT_EQ(v, 0);
  EXPECT_TRUE(ReadTypedNumber("0X1f", TypedRadix::kDecimalOrHex, v));
  EXPECT_EQ(v, 31);
  EXPECT_TRUE(ReadTypedNumber("$2f8", TypedRadix::kDecimalOrHex, v));
  EXPECT_EQ(v, 0x2F8);
  EXPECT_TRUE(ReadTypedNumber("-9223372036854775808", TypedRadix::kDecimal, v));
  EXPECT_EQ(v, INT64_MIN);

  v = 42;
  for (const char* none :
       {"", " ", "abc", "-", "$", "0x", "+x1", "9223372036854775808", "$10000000000000000"}) {
    EXPECT_FALSE(ReadTypedNumber(none, TypedRadix::kDecimalOrHex, v)) << none;
    EXPECT_EQ(v, 42) << none;
  }
}

TEST(InterfaceForm, ListPositionsFollowTheSelectionOrder) {
  const CanInterfaceTable table;
  const int types[] = {0, 1, 2, 5, 6, 4, 7, 8, kIntfSocketCan, kIntfVirtual, kIntfQtCanBus};
  for (int position = 0; position < 11; ++position) {
    EXPECT_EQ(InterfaceTypeAt(table, position), types[position]) << position;
    EXPECT_EQ(InterfacePosition(table, types[position]), position);
  }
  EXPECT_EQ(InterfacePosition(table, 3), -1);
  EXPECT_EQ(InterfaceTypeAt(table, 11), -1);
  EXPECT_EQ(InterfaceTypeAt(table, -1), -1);

  // "PEAK CanApi2 driver" at position 5 stores type 4.
  EXPECT_EQ(StoredAfter({}, [](InterfaceForm& f) { f.position = 5; }).interfaceType, kIntfCanApi2);
  // A type this build does not list is shown without a chosen entry and survives OK.
  CanInterfaceSettings unknown;
  unknown.interfaceType = 12;
  EXPECT_EQ(FillInterfaceForm(unknown, table, {}).position, -1);
  EXPECT_EQ(StoredAfter(unknown, [](InterfaceForm&) {}).interfaceType, 12);
}

TEST(InterfaceForm, ShowsTheRecordAsTheFieldsDisplayIt) {
  CanInterfaceSettings s;
  s.debugFlags = 3;
  s.pcanIoAddress = 0x378;
  s.pcanInterrupt = 5;
  s.cvudpFlags = kCvUdpServer;
  s.cvudpLocalIp = "10.0.0.2";
  const InterfaceForm f = FillInterfaceForm(s, CanInterfaceTable(), {"192.168.1.5", "10.0.0.2"});
  EXPECT_TRUE(f.debugging);
  EXPECT_EQ(f.ioAddress, "$0378");
  EXPECT_EQ(IoAddressText(0x2f8), "$02F8");
  EXPECT_EQ(f.interrupt, "5");
  EXPECT_FALSE(f.client);
  EXPECT_TRUE(f.server);
  EXPECT_EQ(f.localIpIndex, 1);
  EXPECT_EQ(f.position, InterfacePosition(CanInterfaceTable(), kIntfVirtual));

  // A stored local IP that is none of the host's is not selected, but stays the drop-down's text.
  s.cvudpLocalIp = "0.0.0.0";
  const InterfaceForm other = FillInterfaceForm(s, CanInterfaceTable(), {"192.168.1.5"});
  EXPECT_EQ(other.localIpIndex, -1);
  EXPECT_EQ(other.localIp, "0.0.0.0");
  EXPECT_EQ(StoredAfter(s, [](InterfaceForm&) {}).cvudpLocalIp, "0.0.0.0");
}

TEST(InterfaceForm, IoAddressAndInterruptFallBackOutsideTheirRanges) {
  struct Case {
    const char* typed;
    int32_t stored;
  } addresses[] = {
      {"0x2F8", 760}, {"$3BC", 0x3BC}, {"0x100", 888}, {"0x1000", 888}, {"4095", 4095}, {"512", 512},
      {"511", 888},   {"760abc", 760}, {"abc", 888},   {"", 888},       {"-760", 888},
  };
  for (const Case& c : addresses) {
    CanInterfaceSettings s;
    s.pcanIoAddress = 0x3BC;
    InterfaceForm f = FillInterfaceForm(s, CanInterfaceTable(), {});
    f.ioAddress = c.typed;
    StoreInterfaceForm(f, CanInterfaceTable(), s);
    EXPECT_EQ(s.pcanIoAddress, c.stored) << c.typed;
  }
  struct IrqCase {
    const char* typed;
    uint16_t stored;
  } interrupts[] = {{"2", 7}, {"3", 3}, {"15", 15}, {"16", 7}, {"x", 7}, {"10 (COM)", 10}, {"-5", 7}};
  for (const IrqCase& c : interrupts) {
    CanInterfaceSettings s;
    s.pcanInterrupt = 11;
    InterfaceForm f = FillInterfaceForm(s, CanInterfaceTable(), {});
    f.interrupt = c.typed;
    StoreInterfaceForm(f, CanInterfaceTable(), s);
    EXPECT_EQ(s.pcanInterrupt, c.stored) << c.typed;
  }
}

TEST(InterfaceForm, NumbersNotTypedAsNumbersStoreTheirFallbacks) {
  CanInterfaceSettings s;
  s.ntcanNetNumber = 4;
  s.vectorAccessMask = 6;
  s.cvudpRemotePort = 1000;
  s.cvudpLocalPort = 2000;
  const CanInterfaceSettings after = StoredAfter(s, [](InterfaceForm& f) {
    f.netNumber = "net";
    f.accessMask = "";
    f.remotePort = "";
    f.localPort = "";
  });
  EXPECT_EQ(after.ntcanNetNumber, 1);
  EXPECT_EQ(after.vectorAccessMask, 1);
  EXPECT_EQ(after.cvudpRemotePort, 55556);
  EXPECT_EQ(after.cvudpLocalPort, 55557);

  // A port beyond 16 bits would wrap to another port: it is not a port number at all.
  const CanInterfaceSettings wide = StoredAfter(s, [](InterfaceForm& f) {
    f.remotePort = "70000";
    f.localPort = "-1";
    f.netNumber = "99999999999";
  });
  EXPECT_EQ(wide.cvudpRemotePort, 55556);
  EXPECT_EQ(wide.cvudpLocalPort, 55557);
  EXPECT_EQ(wide.ntcanNetNumber, 1);

  const CanInterfaceSettings typed = StoredAfter(s, [](InterfaceForm& f) {
    f.netNumber = "3rd";
    f.accessMask = "12";
    f.remotePort = "0";
    f.localPort = "65535";
  });
  EXPECT_EQ(typed.ntcanNetNumber, 3);
  EXPECT_EQ(typed.vectorAccessMask, 12);
  EXPECT_EQ(typed.cvudpRemotePort, 0);
  EXPECT_EQ(typed.cvudpLocalPort, 65535);
}

TEST(InterfaceForm, CheckBoxesSetTheirBitsOnly) {
  CanInterfaceSettings s;
  s.debugFlags = 0x10;
  const CanInterfaceSettings both = StoredAfter(s, [](InterfaceForm& f) {
    f.client = f.server = true;
    f.debugging = true;
    f.startPcc = true;
  });
  EXPECT_EQ(both.cvudpFlags, 3);
  EXPECT_EQ(both.debugFlags, 0x11);
  EXPECT_EQ(both.ntcanStartPcc, 1);
  EXPECT_EQ(both.ntcanStopPcc, 0);
  const CanInterfaceSettings none = StoredAfter(both, [](InterfaceForm& f) {
    f.client = f.server = f.debugging = f.startPcc = false;
    f.stopPcc = true;
  });
  EXPECT_EQ(none.cvudpFlags, 0);
  EXPECT_EQ(none.debugFlags, 0x10);
  EXPECT_EQ(none.ntcanStartPcc, 0);
  EXPECT_EQ(none.ntcanStopPcc, 1);
  EXPECT_EQ(StoredAfter(s, [](InterfaceForm& f) { f.client = true; }).cvudpFlags, kCvUdpClient);
}

TEST(InterfaceForm, TextsAreCutToTheirFields) {
  const CanInterfaceSettings after = StoredAfter({}, [](InterfaceForm& f) {
    f.netNames = std::string(300, 'n');
    f.channelName = std::string(255, 'c');
    f.remoteIp = std::string(40, '1');
    f.localIp = std::string(45, '2');
    f.socketCanIf1 = "  vcan0 ";
    f.qtCanBusPlugin2 = "\tpeakcan";
  });
  EXPECT_EQ(after.pcanNetNames, std::string(254, 'n'));
  EXPECT_EQ(after.vectorChannelName, std::string(254, 'c'));
  EXPECT_EQ(after.cvudpRemoteIp, std::string(39, '1'));
  EXPECT_EQ(after.cvudpLocalIp, std::string(39, '2'));
  EXPECT_EQ(after.socketCanIf1, "vcan0");
  EXPECT_EQ(after.qtCanBusPlugin2, "peakcan");
  // Not validated here: a host name or a wrong address is UCAN_Init's to report.
  EXPECT_EQ(StoredAfter({}, [](InterfaceForm& f) { f.remoteIp = " no.such host"; }).cvudpRemoteIp,
            " no.such host");
}

// Every page's settings, shown and stored again without a change, give back the record.
TEST(InterfaceForm, EveryPageRoundTripsUnchanged) {
  CanInterfaceSettings s;
  s.debugFlags = 1;
  s.ntcanNetNumber = 42;
  s.ntcanStartPcc = 1;
  s.ntcanStopPcc = 1;
  s.pcanIoAddress = 0x2F8;
  s.pcanInterrupt = 3;
  s.pcanNetNames = "NetA,NetB";
  s.vectorAccessMask = 5;
  s.vectorChannelName = "VN1630A Channel 2";
  s.cvudpFlags = 3;
  s.cvudpRemoteIp = "bench-pc.local";
  s.cvudpLocalIp = "127.0.0.1";
  s.cvudpRemotePort = 40000;
  s.cvudpLocalPort = 40001;
  s.socketCanIf1 = "vcan0";
  s.socketCanIf2 = "";
  s.qtCanBusPlugin1 = "socketcan";
  s.qtCanBusInterface1 = "can1";
  s.qtCanBusPlugin2 = "virtualcan";
  s.qtCanBusInterface2 = "can2";
  const CanInterfaceTable table;
  for (const CanInterfaceTypeRow& row : table.types()) {
    s.interfaceType = row.type;
    const InterfaceForm form = FillInterfaceForm(s, table, {"127.0.0.1"});
    CanInterfaceSettings stored;
    StoreInterfaceForm(form, table, stored);
    EXPECT_EQ(stored, s) << row.caption;
  }
}

TEST(LocalAddresses, NamesResolveToDottedIpv4AddressesOnce) {
  const std::vector<std::string> local = Ipv4AddressesOf("localhost");
  ASSERT_FALSE(local.empty());
  EXPECT_NE(std::find(local.begin(), local.end(), "127.0.0.1"), local.end());
  EXPECT_EQ(Ipv4AddressesOf("127.0.0.1"), std::vector<std::string>{"127.0.0.1"});
  EXPECT_TRUE(Ipv4AddressesOf("").empty());
  const std::regex dotted(R"(\d{1,3}\.\d{1,3}\.\d{1,3}\.\d{1,3})");
  const std::vector<std::string> own = LocalIpv4Addresses();
  for (const std::string& a : own) {
    EXPECT_TRUE(std::regex_match(a, dotted)) << a;
    EXPECT_EQ(std::count(own.begin(), own.end(), a), 1) << a;
  }
}

}  // namespace
}  // namespace busprobe
