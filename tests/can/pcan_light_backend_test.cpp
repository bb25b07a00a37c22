// The PEAK status words and bit-rate registers, and the PCAN-Light back-ends (dongle and USB)
// through the UCAN operations against the fake PCAN-Light libraries.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "can/backend_pcan_light.h"
#include "can/fakes/pcan_light_fake.h"
#include "can/peak_status.h"
#include "can/ucan.h"
#include "can/vendor_fake_library.h"

namespace busprobe {
namespace {

using Calls = std::vector<std::string>;

const std::vector<std::pair<int, int>> kBtrTable = {
    {5, 0x7F7F},   {10, 0x672F},  {20, 0x532F},  {50, 0x472F},  {83, 0x051C},  {100, 0x432F},  {125, 0x031C},
    {250, 0x011C}, {500, 0x001C}, {666, 0x0018}, {667, 0x0018}, {800, 0x0016}, {1000, 0x0014},
};

TEST(PeakTables, BitRatesMapToTheirRegistersAndBack) {
  for (const auto& [kbit, btr] : kBtrTable) {
    EXPECT_EQ(PeakBtr0Btr1(kbit), btr) << kbit;
    EXPECT_EQ(PeakBaudFromBtr0Btr1(static_cast<uint32_t>(btr)), kbit == 666 ? 667 : kbit) << kbit;
  }
  for (int refused : {0, 33, 333, 2000, -1}) EXPECT_EQ(PeakBtr0Btr1(refused), -1) << refused;
  EXPECT_EQ(PeakBaudFromBtr0Btr1(0x1234), -1);
}

TEST(PeakTables, StatusWordsReadAsWordsAndAsTheStatusByte) {
  EXPECT_EQ(PeakStatusText(0), "OK");
  EXPECT_EQ(PeakStatusText(0x0090), "BUSOFF QXMTFULL ");
  EXPECT_EQ(PeakStatusText(0x0007), "XMTFULL OVERRUN BUSLIGHT ");
  EXPECT_EQ(PeakStatusText(0x8000 | 0x1400 | 0x0100), "REGTEST ILLHW ILLPARAMVAL ");
  EXPECT_EQ(PeakStatusText(0x0400), "HWINUSE ");
  EXPECT_EQ(PeakStatusText(0x0800), "NETINUSE ");
  EXPECT_EQ(PeakStatusText(0x1800), "ILLNET ");
  EXPECT_EQ(PeakStatusText(0x1C00), "ILLCLIENT ") << "the field is a value, not three bits";
  EXPECT_EQ(PeakStatusText(0x6000), "RESOURCE ILLPARAMTYPE ");
  EXPECT_EQ(PeakStatusText(0x0200), "NOVXD ");
  EXPECT_EQ(PeakStatusText(0x0240, "Could not load 'PCAN_USB.DLL' !"),
            "QOVERRUN NOVXD Could not load 'PCAN_USB.DLL' ! ");

  EXPECT_EQ(PeakStatusToUcan(0), 0);
  EXPECT_EQ(PeakStatusToUcan(kPeakQRcvEmpty), 0);
  EXPECT_EQ(PeakStatusToUcan(kPeakXmtFull), kUcanTxOvf);
  EXPECT_EQ(PeakStatusToUcan(kPeakQXmtFull), kUcanTxOvf);
  EXPECT_EQ(PeakStatusToUcan(kPeakOverrun), kUcanRxOvf);
  EXPECT_EQ(PeakStatusToUcan(kPeakQOverrun), kUcanRxOvf);
  EXPECT_EQ(PeakStatusToUcan(kPeakBusLight), kUcanWarning);
  EXPECT_EQ(PeakStatusToUcan(kPeakBusHeavy), kUcanWarning);
  EXPECT_EQ(PeakStatusToUcan(kPeakBusOff), kUcanBusOff);
  for (uint32_t other : {0x0100u, 0x0200u, 0x2000u, 0x4000u, 0x8000u, 0x0400u, 0x0C00u, 0x1C00u})
    EXPECT_EQ(PeakStatusToUcan(other), kUcanOther) << other;
}

class PcanLightTest : public ::testing::Test {
 protected:
  explicit PcanLightTest(int type = kIntfPcanUsb, const char* path = BUSPROBE_FAKE_FAKE_PCAN_USB)
      : fake_(path), type_(type), path_(path) {
    log_ = fake_.control<FakePcanLogFn>("fake_pcan_log");
    fake_.control<FakePcanResetFn>("fake_pcan_reset")();
    pushRead_ = fake_.control<FakePcanPushReadFn>("fake_pcan_push_read");
    failNext_ = fake_.control<FakePcanFailNextFn>("fake_pcan_fail_next");
    setStatus_ = fake_.control<FakePcanSetStatusFn>("fake_pcan_set_status");
    blockMs_ = fake_.control<FakePcanBlockMsFn>("fake_pcan_block_ms");
    useLibrary(ucan_);
    params_.interfaceType = type;
  }

  void useLibrary(Ucan& ucan, int hardwareType = kPcanDongleHardwareType) {
    CanInterfaceTypeRow row = *ucan.interfaceTypes().find(type_);
    row.libraryNames = {path_};
    row.factory = [hardwareType](CanBackendHost& host, const CanInterfaceTypeRow& r) {
      return MakePcanLightBackend(host, r, hardwareType);
    };
    ucan.registerInterfaceType(row);
  }

  Calls calls() {
    Calls all = VendorFakeLibrary::Lines(log_());
    Calls fresh(all.begin() + static_cast<long>(std::min(seen_, all.size())), all.end());
    seen_ = all.size();
    return fresh;
  }
  void push(uint32_t result, uint32_t id, uint8_t type, uint8_t len, std::vector<uint8_t> data = {}) {
    FakePcanMsg m{};
    m.id = id;
    m.msgType = type;
    m.len = len;
    std::copy(data.begin(), data.end(), m.data);
    pushRead_(result, &m);
  }
  void openController() {
    ASSERT_EQ(ucan_.UCAN_Init(params_), 1);
    ASSERT_EQ(ucan_.UCAN_InitCtrl(0, 500, 0), 1) << ucan_.lastError();
    ucan_.clearLastError();
    calls();
  }

  VendorFakeLibrary fake_;
  int type_;
  std::string path_;
  FakePcanLogFn log_;
  FakePcanPushReadFn pushRead_;
  FakePcanFailNextFn failNext_;
  FakePcanSetStatusFn setStatus_;
  FakePcanBlockMsFn blockMs_;
  size_t seen_ = 0;
  CanInterfaceSettings params_;
  ManualClock clock_{3000.0};
  DeferredMessageQueue queue_;
  Ucan ucan_{clock_, queue_};
};

class PcanDongleTest : public PcanLightTest {
 protected:
  PcanDongleTest() : PcanLightTest(kIntfPcanDongle, BUSPROBE_FAKE_FAKE_PCAN_DONGLE) {}
};

TEST_F(PcanDongleTest, ProbesWithTheHardwareParametersAndRefusesAnUnknownHardwareType) {
  params_.pcanIoAddress = 0x278;
  params_.pcanInterrupt = 5;
  ASSERT_EQ(ucan_.UCAN_Init(params_), 1);
  EXPECT_EQ(ucan_.takeLastError(), "UCAN_Init: Loaded PCAN-DONGLE-LIGHT . Use PCAN-API2 if you have !");
  EXPECT_EQ(calls(), (Calls{"CAN_Init(0x001c,0,5,632,5)", "CAN_Close()"}));
  ASSERT_EQ(ucan_.UCAN_InitCtrl(0, 125, 0), 1);
  EXPECT_EQ(calls(), Calls{"CAN_Init(0x031c,1,5,632,5)"});
  ucan_.UCAN_Exit();
  EXPECT_EQ(calls(), Calls{"CAN_Close()"});

  Ucan other(clock_, queue_);
  useLibrary(other, 3);
  EXPECT_EQ(other.UCAN_Init(params_), 0);
  EXPECT_EQ(other.takeLastError(), "UCAN_Init: PCAN-DONGLE-LIGHT driver (PCAN_DNG.DLL) not loaded !");
  EXPECT_EQ(calls(), Calls{});
  EXPECT_EQ(other.UCAN_InitCtrl(0, 500, 0), 0);
  EXPECT_EQ(other.takeLastError(), "UCAN_InitCtrl: NOVXD Could not load 'PCAN_DNG.DLL' ! ");
}

TEST_F(PcanLightTest, UsbProbesAndAMissingLibraryNamesTheFileInEveryLaterText) {
  params_.interfaceType = kIntfPcanUsb;
  ASSERT_EQ(ucan_.UCAN_Init(params_), 1);
  EXPECT_EQ(ucan_.takeLastError(), "UCAN_Init: Loaded PCAN-USB-LIGHT . Use PCAN-API2 if you have !");
  EXPECT_EQ(calls(), (Calls{"CAN_Init(0x001c,0)", "CAN_Close()"}));

  // The table's own row: this platform has no such library.
  Ucan real(clock_, queue_);
  EXPECT_EQ(real.UCAN_Init(params_), 0);
  EXPECT_EQ(real.takeLastError(), "UCAN_Init: PCAN-USB-LIGHT driver (PCAN_USB.DLL) not loaded !");
  EXPECT_EQ(real.UCAN_InitCtrl(0, 500, 0), 0);
  EXPECT_EQ(real.takeLastError(), "UCAN_InitCtrl: NOVXD Could not load 'PCAN_USB.DLL' ! ");
  CanFrame f;
  EXPECT_EQ(real.tryTransmit(0, f), UcanTxResult::kRefused);
  EXPECT_EQ(real.UCAN_IsChannelOpen(0), 0);
}

TEST_F(PcanLightTest, ControllerAndRatesGoThroughInitBothWays) {
  ASSERT_EQ(ucan_.UCAN_Init(params_), 1);
  ucan_.clearLastError();
  int baud = -1;
  EXPECT_EQ(ucan_.UCAN_GetBaudrate(0, &baud), 0) << "nothing set yet";
  EXPECT_EQ(ucan_.takeLastError(), "UCAN: GetBaud error : ILLHW ");
  calls();

  for (const auto& [kbit, btr] : kBtrTable) {
    ASSERT_EQ(ucan_.UCAN_SetBaudrate(0, kbit, 0), 1) << kbit;
    char line[32];
    std::snprintf(line, sizeof line, "CAN_Init(0x%04x,1)", btr);
    EXPECT_EQ(calls(), Calls{line});
    ASSERT_EQ(ucan_.UCAN_GetBaudrate(0, &baud), 1);
    EXPECT_EQ(baud, kbit == 666 ? 667 : kbit);
  }
  EXPECT_EQ(ucan_.UCAN_SetBaudrate(0, 33, 0), 0);
  EXPECT_EQ(ucan_.takeLastError(), "UCAN: SetBaud error : ILLPARAMVAL ");
  EXPECT_EQ(ucan_.UCAN_InitCtrl(0, 33, 0), 0);
  EXPECT_EQ(ucan_.takeLastError(), "UCAN_InitCtrl: ILLPARAMVAL ");
  EXPECT_EQ(calls(), Calls{}) << "refused rates never reach the library";

  failNext_("CAN_Init", kPeakIllHw);
  EXPECT_EQ(ucan_.UCAN_InitCtrl(0, 250, 0), 0);
  EXPECT_EQ(ucan_.takeLastError(), "UCAN_InitCtrl: ILLHW ");
  failNext_("CAN_Init", kPeakBusOff | kPeakQXmtFull);
  EXPECT_EQ(ucan_.UCAN_SetBaudrate(0, 250, 0), 0);
  EXPECT_EQ(ucan_.takeLastError(), "UCAN: SetBaud error : BUSOFF QXMTFULL ");

  EXPECT_EQ(ucan_.UCAN_IsChannelOpen(0), 1);
  failNext_("CAN_VersionInfo", kPeakIllHw);
  EXPECT_EQ(ucan_.UCAN_IsChannelOpen(0), 0);

  EXPECT_EQ(ucan_.UCAN_SetRcvID(0, 0x100, 0x700), 0);
  EXPECT_EQ(ucan_.takeLastError(), "UCAN_SetRcvID: Caution, PCAN-Light does not support ID filtering !");
}

TEST_F(PcanLightTest, ReadSkipsEmptyAndStatusAnswersAndClampsWhatItDelivers) {
  openController();
  CanFrame got;
  EXPECT_EQ(ucan_.UCAN_Receive(255, got), 0);
  EXPECT_EQ(ucan_.lastError(), "");

  push(0, 0x123, 0x00, 2, {0xAA, 0xBB});
  push(kPeakQRcvEmpty, 0x555, 0x00, 1);
  push(kPeakIllClient, 0x555, 0x00, 1);
  push(kPeakNetInUse, 0x555, 0x00, 1);
  push(0, 0x00, 0x80, 4, {0, 0, 0, 0x10});                              // a status message
  push(kPeakBusLight, 0x1ABCDEF, 0x03, 200, {1, 2, 3, 4, 5, 6, 7, 8});  // extended remote, a length of 200
  push(0, 0xFFFFF923, 0x00, 1, {0x42});                                 // standard with garbage above 11 bits
  push(kPeakResource, 0x555, 0x00, 1);
  clock_.set(4242.0);

  ASSERT_EQ(ucan_.UCAN_Receive(255, got), 1);
  EXPECT_EQ(got.id, 0x123u);
  EXPECT_EQ(got.length, 2);
  EXPECT_EQ(got.data[1], 0xBB);
  EXPECT_EQ(got.timestamp, 4242u);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(ucan_.UCAN_Receive(255, got), 0) << i;
  EXPECT_EQ(ucan_.lastError(), "") << "empty queues and status messages are no failures";

  ASSERT_EQ(ucan_.UCAN_Receive(255, got), 1);
  EXPECT_EQ(got.id, 0x1ABCDEFu | CanFrame::kExtended);
  EXPECT_EQ(got.rtr, 1);
  EXPECT_EQ(got.length, 8);
  EXPECT_EQ(got.bus(), 0);

  ASSERT_EQ(ucan_.UCAN_Receive(255, got), 1);
  EXPECT_EQ(got.id, 0x123u);

  EXPECT_EQ(ucan_.UCAN_Receive(255, got), 0);
  EXPECT_EQ(ucan_.takeLastError(), "UCAN_Receive: RESOURCE ");
  EXPECT_EQ(ucan_.receiveCounter(), 3);
}

TEST_F(PcanLightTest, WriteFailsOnlyOnItsFailureBitsAndKeepsThemInTheStatus) {
  openController();
  clock_.set(3500.0);
  CanFrame f;
  f.id = 0x123;
  f.length = 2;
  f.data[0] = 0x11;
  f.data[1] = 0x22;
  ASSERT_EQ(ucan_.UCAN_Transmit(0, f), 1);
  EXPECT_EQ(f.timestamp, 3500u);
  CanFrame remote;
  remote.id = 0x1ABCDEF | CanFrame::kExtended;
  remote.rtr = 1;
  remote.length = 0;
  ASSERT_EQ(ucan_.UCAN_Transmit(0, remote), 1);
  EXPECT_EQ(calls(), (Calls{"CAN_Write(0x00000123,0x00,2) 11 22", "CAN_Write(0x01abcdef,0x03,0)"}));

  failNext_("CAN_Write", kPeakBusLight | kPeakOverrun);
  EXPECT_EQ(ucan_.UCAN_Transmit(0, f), 1) << "not one of the failure bits";

  failNext_("CAN_Write", kPeakQXmtFull);
  EXPECT_EQ(ucan_.tryTransmit(0, f), UcanTxResult::kFailed);
  EXPECT_EQ(ucan_.takeLastError(), "UCAN_Transmit: QXMTFULL ");
  EXPECT_EQ(ucan_.UCAN_Status(0), kUcanTxError);
  failNext_("CAN_Write", kPeakResource);
  EXPECT_EQ(ucan_.tryTransmit(0, f), UcanTxResult::kFailed);
  EXPECT_EQ(ucan_.takeLastError(), "UCAN_Transmit: RESOURCE ");

  setStatus_(kPeakBusOff);
  failNext_("CAN_Write", kPeakBusOff);
  EXPECT_EQ(ucan_.tryTransmit(0, f), UcanTxResult::kFailed);
  EXPECT_EQ(ucan_.takeLastError(), "UCAN_Transmit: BUSOFF ");
  EXPECT_EQ(ucan_.UCAN_Status(0), kUcanTxError | kUcanBusOff);

  // A frame that goes out clears the transmit error; the driver says when the bus is back.
  setStatus_(kPeakBusHeavy);
  ASSERT_EQ(ucan_.UCAN_Transmit(0, f), 1);
  EXPECT_EQ(ucan_.UCAN_Status(0), kUcanWarning);
  EXPECT_EQ(ucan_.transmitCounter(), 4);

  CanFrame fd;
  fd.length = 64;
  fd.fdFlags = CanFrame::kFdf;
  calls();
  EXPECT_EQ(ucan_.tryTransmit(0, fd), UcanTxResult::kRefused);
  EXPECT_EQ(ucan_.takeLastError(), "UCAN_Transmit: PCAN-Light cannot send 64 data bytes !");
  EXPECT_EQ(calls(), Calls{});
}

TEST_F(PcanLightTest, ASlowReadIsReportedExactlyOnce) {
  SteadyClock steady;
  Ucan ucan(steady, queue_);
  std::vector<std::string> always;
  ucan.setPrinters([](const std::string&) {}, [&](const std::string& l) { always.push_back(l); });
  useLibrary(ucan);
  ASSERT_EQ(ucan.UCAN_Init(params_), 1);
  ASSERT_EQ(ucan.UCAN_InitCtrl(0, 500, 0), 1);
  CanFrame got;
  blockMs_(250);
  EXPECT_EQ(ucan.UCAN_Receive(255, got), 0);
  ASSERT_EQ(always.size(), 1u);
  EXPECT_EQ(always[0].rfind("UCAN: Incredibly slow driver function call (CAN-Receive: ", 0), 0u) << always[0];
}

class PcanLightPartialTest : public PcanLightTest {
 protected:
  PcanLightPartialTest() : PcanLightTest(kIntfPcanUsb, BUSPROBE_FAKE_FAKE_PCAN_USB_PARTIAL) {}
};

TEST_F(PcanLightPartialTest, MissingEntryPointsAnswerNoVxd) {
  openController();
  EXPECT_EQ(ucan_.UCAN_Status(0), kUcanOther);
  EXPECT_EQ(ucan_.UCAN_IsChannelOpen(0), 0);
  CanFrame f;
  EXPECT_EQ(ucan_.UCAN_Receive(255, f), 0);
  EXPECT_EQ(ucan_.takeLastError(), "UCAN_Receive: NOVXD ");
  EXPECT_EQ(ucan_.UCAN_Receive(255, f), 0);
  EXPECT_EQ(ucan_.lastError(), "") << "said once, not on every poll";
  f.length = 1;
  EXPECT_EQ(ucan_.tryTransmit(0, f), UcanTxResult::kRefused);
  EXPECT_EQ(ucan_.takeLastError(), "UCAN_Transmit: NOVXD ");
}

}  // namespace
}  // namespace busprobe
