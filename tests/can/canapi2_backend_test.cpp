// The CAN-API 2 back-end through the UCAN operations against the fake CAN-API 2 library: the probe,
// the net-name loop, rates, the filter range, frames with the driver's times, status, the driver
// clock and missing entry points.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "can/backend_canapi2.h"
#include "can/fakes/canapi2_fake.h"
#include "can/peak_status.h"
#include "can/ucan.h"
#include "can/vendor_fake_library.h"

namespace busprobe {
namespace {

using Calls = std::vector<std::string>;

class CanApi2Test : public ::testing::Test {
 protected:
  explicit CanApi2Test(const char* path = BUSPROBE_FAKE_FAKE_CANAPI2) : fake_(path), path_(path) {
    log_ = fake_.control<FakeApi2LogFn>("fake_canapi2_log");
    fake_.control<FakeApi2ResetFn>("fake_canapi2_reset")();
    setNets_ = fake_.control<FakeApi2SetNetsFn>("fake_canapi2_set_nets");
    pushRead_ = fake_.control<FakeApi2PushReadFn>("fake_canapi2_push_read");
    failNext_ = fake_.control<FakeApi2FailNextFn>("fake_canapi2_fail_next");
    setStatus_ = fake_.control<FakeApi2SetStatusFn>("fake_canapi2_set_status");
    setTime_ = fake_.control<FakeApi2SetTimeFn>("fake_canapi2_set_time");
    setBtr_ = fake_.control<FakeApi2SetBtrFn>("fake_canapi2_set_btr");
    blockMs_ = fake_.control<FakeApi2BlockMsFn>("fake_canapi2_block_ms");
    useLibrary(ucan_);
    params_.interfaceType = kIntfCanApi2;
  }

  void useLibrary(Ucan& ucan) {
    CanInterfaceTypeRow row = *ucan.interfaceTypes().find(kIntfCanApi2);
    row.libraryNames = {path_};
    row.factory = MakeCanApi2Factory(session_);
    ucan.registerInterfaceType(row);
  }

  Calls calls() {
    Calls all = VendorFakeLibrary::Lines(log_());
    Calls fresh(all.begin() + static_cast<long>(std::min(seen_, all.size())), all.end());
    seen_ = all.size();
    return fresh;
  }
  void push(uint32_t result, uint32_t id, uint8_t type, uint8_t len, uint32_t timeMs,
            std::vector<uint8_t> data = {}) {
    FakeApi2Msg m{};
    m.id = id;
    m.msgType = type;
    m.len = len;
    std::copy(data.begin(), data.end(), m.data);
    pushRead_(result, &m, timeMs);
  }
  void initAndClear() {
    ASSERT_EQ(ucan_.UCAN_Init(params_), 1) << ucan_.lastError();
    ucan_.clearLastError();
    calls();
  }
  void openController() {
    initAndClear();
    ASSERT_EQ(ucan_.UCAN_InitCtrl(0, 500, 0), 1) << ucan_.lastError();
    ucan_.clearLastError();
    calls();
  }

  VendorFakeLibrary fake_;
  std::string path_;
  FakeApi2LogFn log_;
  FakeApi2SetNetsFn setNets_;
  FakeApi2PushReadFn pushRead_;
  FakeApi2FailNextFn failNext_;
  FakeApi2SetStatusFn setStatus_;
  FakeApi2SetTimeFn setTime_;
  FakeApi2SetBtrFn setBtr_;
  FakeApi2BlockMsFn blockMs_;
  size_t seen_ = 0;
  std::shared_ptr<CanApi2Session> session_ = std::make_shared<CanApi2Session>();
  CanInterfaceSettings params_;
  ManualClock clock_{2000.0};
  DeferredMessageQueue queue_;
  Ucan ucan_{clock_, queue_};
};

TEST_F(CanApi2Test, ProbesWithAClientOfItsOwnAndFailsToLoadWithoutADriver) {
  ASSERT_EQ(ucan_.UCAN_Init(params_), 1);
  EXPECT_EQ(ucan_.takeLastError(), "UCAN_Init: Peak's CANAPI2 driver loaded.");
  EXPECT_EQ(calls(), (Calls{"CAN_RegisterClient(TestClient,0)", "CAN_RemoveClient(1)"}));

  failNext_("CAN_RegisterClient", kPeakResource);
  EXPECT_EQ(ucan_.UCAN_Init(params_), 0);
  EXPECT_EQ(ucan_.takeLastError(), "UCAN_Init: Peak's CANAPI2 driver not loaded !");
  EXPECT_EQ(calls(), Calls{"CAN_RegisterClient(TestClient,0)"});

  // The table's own row: this platform has no such library.
  Ucan real(clock_, queue_);
  EXPECT_EQ(real.UCAN_Init(params_), 0);
  EXPECT_EQ(real.takeLastError(), "UCAN_Init: Peak's CANAPI2 driver not loaded !");
  EXPECT_EQ(real.UCAN_InitCtrl(0, 500, 0), 0);
}

TEST_F(CanApi2Test, ControllerConnectsToTheDefaultNetSetsItsRateAndResetsItsHardware) {
  params_.pcanNetNames = "";
  initAndClear();
  ASSERT_EQ(ucan_.UCAN_InitCtrl(0, 250, 0), 1);
  EXPECT_EQ(ucan_.takeLastError(), "UCAN_InitCtrl: PCAN_open ok, using net name \"NvkNet\" .");
  EXPECT_EQ(calls(),
            (Calls{"CAN_RegisterClient(UCAN_Client,0)", "CAN_ConnectToNet(2,NvkNet)",
                   "CAN_RegisterMsg(2,10,0x0,0x7ff,0)", "CAN_GetNetParam(10,19)",
                   "CAN_SetHwParam(20,7,0x011c)", "CAN_GetNetParam(10,19)", "CAN_ResetHardware(20)"}));

  // Opened again: the client stays, the net is left and joined anew.
  ASSERT_EQ(ucan_.UCAN_InitCtrl(0, 500, 0), 1);
  Calls again = calls();
  ASSERT_GE(again.size(), 2u);
  EXPECT_EQ(again[0], "CAN_DisconnectFromNet(2,10)");
  EXPECT_EQ(again[1], "CAN_ConnectToNet(2,NvkNet)");

  ucan_.UCAN_Exit();
  EXPECT_EQ(calls(), (Calls{"CAN_DisconnectFromNet(2,10)", "CAN_RemoveClient(2)"}));
}

TEST_F(CanApi2Test, NetNamesAreTriedInTurnUntilOneConnectsOrAnotherErrorEndsTheLoop) {
  setNets_("NetA,NetB");
  params_.pcanNetNames = "Foo,  Bar,,NetB,NetA";
  initAndClear();
  ASSERT_EQ(ucan_.UCAN_InitCtrl(0, 500, 0), 1);
  EXPECT_EQ(ucan_.takeLastError(), "UCAN_InitCtrl: PCAN_open ok, using net name \"NetB\" .");
  Calls c = calls();
  ASSERT_GE(c.size(), 5u);
  EXPECT_EQ(c[0], "CAN_RegisterClient(UCAN_Client,0)");
  EXPECT_EQ(c[1], "CAN_ConnectToNet(2,Foo)");
  EXPECT_EQ(c[2], "CAN_ConnectToNet(2,Bar)") << "blanks after a comma are skipped";
  EXPECT_EQ(c[3], "CAN_ConnectToNet(2,NetB)");
  EXPECT_EQ(c[4], "CAN_RegisterMsg(2,11,0x0,0x7ff,0)");

  // Another error than an unknown net: the next name is not tried.
  failNext_("CAN_ConnectToNet", kPeakNetInUse);
  params_.pcanNetNames = "NetA,NetB";
  initAndClear();
  EXPECT_EQ(ucan_.UCAN_InitCtrl(0, 500, 0), 0);
  EXPECT_EQ(ucan_.takeLastError(), "UCAN_InitCtrl: NETINUSE ");
  EXPECT_EQ(calls(), (Calls{"CAN_RegisterClient(UCAN_Client,0)", "CAN_ConnectToNet(4,NetA)"}));
  EXPECT_FALSE(ucan_.controllerInitialised());

  // A net joined but not configured is left again.
  failNext_("CAN_SetHwParam", kPeakIllHw);
  EXPECT_EQ(ucan_.UCAN_InitCtrl(0, 500, 0), 0);
  EXPECT_EQ(ucan_.takeLastError(), "UCAN_InitCtrl: ILLHW ");
  EXPECT_EQ(calls(),
            (Calls{"CAN_ConnectToNet(4,NetA)", "CAN_RegisterMsg(4,10,0x0,0x7ff,0)", "CAN_GetNetParam(10,19)",
                   "CAN_SetHwParam(20,7,0x001c)", "CAN_DisconnectFromNet(4,10)"}));
}

TEST_F(CanApi2Test, NoKnownNetNameIsSaidOncePerRun) {
  params_.pcanNetNames = "Foo, Bar";
  initAndClear();
  EXPECT_EQ(ucan_.UCAN_InitCtrl(0, 500, 0), 0);
  EXPECT_EQ(ucan_.takeLastError(), "InitCtrl: Peak-Error .. No valid net name in \"Foo, Bar\" ??");
  EXPECT_EQ(ucan_.UCAN_InitCtrl(0, 500, 0), 0);
  EXPECT_EQ(ucan_.lastError(), "");
  initAndClear();
  EXPECT_EQ(ucan_.UCAN_InitCtrl(0, 500, 0), 0);
  EXPECT_EQ(ucan_.lastError(), "") << "not even after a new init";
}

TEST_F(CanApi2Test, RatesGoToTheNetsHardwareBothWays) {
  initAndClear();
  int baud = -1;
  EXPECT_EQ(ucan_.UCAN_GetBaudrate(0, &baud), 0);
  EXPECT_EQ(ucan_.takeLastError(), "UCAN: GetBaud error : ILLNET ");
  EXPECT_EQ(ucan_.UCAN_SetBaudrate(0, 500, 0), 0);
  EXPECT_EQ(ucan_.takeLastError(), "UCAN: SetBaud error : ILLNET ");
  ASSERT_EQ(ucan_.UCAN_InitCtrl(0, 500, 0), 1);
  ucan_.clearLastError();
  calls();

  const std::vector<std::pair<int, int>> table = {
      {5, 0x7F7F},   {10, 0x672F},  {20, 0x532F},  {50, 0x472F},  {83, 0x051C},  {100, 0x432F}, {125, 0x031C},
      {250, 0x011C}, {500, 0x001C}, {666, 0x0018}, {667, 0x0018}, {800, 0x0016}, {1000, 0x0014}};
  for (const auto& [kbit, btr] : table) {
    ASSERT_EQ(ucan_.UCAN_SetBaudrate(0, kbit, 0), 1) << kbit;
    ASSERT_EQ(ucan_.UCAN_GetBaudrate(0, &baud), 1) << kbit;
    EXPECT_EQ(baud, kbit == 666 ? 667 : kbit);
    char set[40];
    std::snprintf(set, sizeof set, "CAN_SetHwParam(20,7,0x%04x)", btr);
    EXPECT_EQ(calls(),
              (Calls{"CAN_GetNetParam(10,19)", set, "CAN_GetNetParam(10,19)", "CAN_GetHwParam(20,7)"}));
  }
  EXPECT_EQ(ucan_.UCAN_SetBaudrate(0, 33, 0), 0);
  EXPECT_EQ(ucan_.takeLastError(), "UCAN: SetBaud error : ILLPARAMVAL ");
  EXPECT_EQ(ucan_.UCAN_InitCtrl(0, 33, 0), 0);
  EXPECT_EQ(ucan_.takeLastError(), "UCAN_InitCtrl: ILLPARAMVAL ");

  setBtr_(20, 0x1234);
  EXPECT_EQ(ucan_.UCAN_GetBaudrate(0, &baud), 0);
  EXPECT_EQ(ucan_.takeLastError(), "UCAN: GetBaud error : ILLPARAMVAL ");
  EXPECT_EQ(baud, 0);
}

TEST_F(CanApi2Test, FilterRegistersThePassingRange) {
  initAndClear();
  EXPECT_EQ(ucan_.UCAN_SetRcvID(0, 0x100, 0x700), 0);
  EXPECT_EQ(ucan_.takeLastError(), "UCAN_SetID Error : ILLNET  .");
  openController();

  ASSERT_EQ(ucan_.UCAN_SetRcvID(0, 0x100, 0x700), 1);
  ASSERT_EQ(ucan_.UCAN_SetRcvID(0, 0x123, 0), 1);
  ASSERT_EQ(ucan_.UCAN_SetRcvID(0, 0x0F0, 0x7F0), 1);
  // The second init made the third client.
  EXPECT_EQ(calls(), (Calls{"CAN_RegisterMsg(3,10,0x100,0x1ff,0)", "CAN_RegisterMsg(3,10,0x0,0x7ff,0)",
                            "CAN_RegisterMsg(3,10,0xf0,0xff,0)"}));

  // Nothing passes: there is no range to register.
  EXPECT_EQ(ucan_.UCAN_SetRcvID(0, 0x20000000, 0x20000000), 0);
  EXPECT_EQ(ucan_.takeLastError(), "UCAN_SetID Error : ILLPARAMVAL  .");
  failNext_("CAN_RegisterMsg", kPeakIllClient);
  EXPECT_EQ(ucan_.UCAN_SetRcvID(0, 0x100, 0x700), 0);
  EXPECT_EQ(ucan_.takeLastError(), "UCAN_SetID Error : ILLCLIENT  .");
}

TEST_F(CanApi2Test, ReceivedFramesCarryTheDriversReceiveTime) {
  openController();
  CanFrame got;
  EXPECT_EQ(ucan_.UCAN_Receive(255, got), 0);
  EXPECT_EQ(ucan_.lastError(), "");

  push(0, 0x321, 0x00, 3, 123456, {1, 2, 3});
  push(kPeakQRcvEmpty, 0x1, 0x00, 1, 1);
  push(kPeakIllClient, 0x1, 0x00, 1, 1);
  push(0, 0x0, 0x80, 4, 1);                                         // a status message
  push(0, 0xFFABCDEF, 0x03, 99, 123460, {9, 9, 9, 9, 9, 9, 9, 9});  // extended remote, garbage
  push(kPeakIllParamType, 0x1, 0x00, 1, 1);

  ASSERT_EQ(ucan_.UCAN_Receive(255, got), 1);
  EXPECT_EQ(got.id, 0x321u);
  EXPECT_EQ(got.timestamp, 123456u);
  EXPECT_EQ(got.data[2], 3);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(ucan_.UCAN_Receive(255, got), 0) << i;
  EXPECT_EQ(ucan_.lastError(), "");
  ASSERT_EQ(ucan_.UCAN_Receive(255, got), 1);
  EXPECT_EQ(got.id, 0x1FABCDEFu | CanFrame::kExtended);
  EXPECT_EQ(got.bus(), 0);
  EXPECT_EQ(got.rtr, 1);
  EXPECT_EQ(got.length, 8);
  EXPECT_EQ(got.timestamp, 123460u);
  EXPECT_EQ(ucan_.UCAN_Receive(255, got), 0);
  EXPECT_EQ(ucan_.takeLastError(), "UCAN_Receive: ILLPARAMTYPE ");
}

TEST_F(CanApi2Test, WriteFailsOnItsFailureBitsAndStampsTheDriverTime) {
  openController();
  setTime_(5000);
  CanFrame f;
  f.id = 0x123;
  f.length = 2;
  f.data[0] = 0x11;
  f.data[1] = 0x22;
  ASSERT_EQ(ucan_.UCAN_Transmit(0, f), 1);
  EXPECT_EQ(f.timestamp, 5000u);
  CanFrame remote;
  remote.id = 0x1ABCDEF | CanFrame::kExtended;
  remote.rtr = 1;
  remote.length = 1;
  ASSERT_EQ(ucan_.UCAN_Transmit(0, remote), 1);
  EXPECT_EQ(calls(),
            (Calls{"CAN_Write(2,10,0x00000123,0x00,2,0) 11 22", "CAN_Write(2,10,0x01abcdef,0x03,1,0) 00"}));

  for (uint32_t harmless : {kPeakBusLight, kPeakOverrun, kPeakResource}) {
    failNext_("CAN_Write", harmless);
    EXPECT_EQ(ucan_.UCAN_Transmit(0, f), 1) << harmless;
  }
  for (uint32_t failure : {kPeakHwInUse, kPeakIllNet, 0x1000u}) {
    failNext_("CAN_Write", failure);
    EXPECT_EQ(ucan_.tryTransmit(0, f), UcanTxResult::kFailed) << failure;
    ucan_.clearLastError();
  }
  failNext_("CAN_Write", kPeakQXmtFull);
  EXPECT_EQ(ucan_.tryTransmit(0, f), UcanTxResult::kFailed);
  EXPECT_EQ(ucan_.takeLastError(), "UCAN_Transmit: QXMTFULL ");
  setStatus_(kPeakBusOff | kPeakBusHeavy);
  failNext_("CAN_Write", kPeakBusOff);
  EXPECT_EQ(ucan_.tryTransmit(0, f), UcanTxResult::kFailed);
  EXPECT_EQ(ucan_.takeLastError(), "UCAN_Transmit: BUSOFF ");
  EXPECT_EQ(ucan_.UCAN_Status(0), kUcanTxError | kUcanBusOff | kUcanWarning);
  setStatus_(0);
  ASSERT_EQ(ucan_.UCAN_Transmit(0, f), 1);
  EXPECT_EQ(ucan_.UCAN_Status(0), 0);
  EXPECT_EQ(calls().back(), "CAN_Status(20)");

  CanFrame fd;
  fd.length = 16;
  fd.fdFlags = CanFrame::kFdf;
  EXPECT_EQ(ucan_.tryTransmit(0, fd), UcanTxResult::kRefused);
  EXPECT_EQ(ucan_.takeLastError(), "UCAN_Transmit: CANAPI2 cannot send 16 data bytes !");
}

TEST_F(CanApi2Test, DriverTimeIgnoresSmallStepsBackButFollowsARestart) {
  openController();
  CanFrame f;
  f.length = 0;
  const auto stampAt = [&](uint32_t driverMs) {
    setTime_(driverMs);
    EXPECT_EQ(ucan_.UCAN_Transmit(0, f), 1);
    return f.timestamp;
  };
  EXPECT_EQ(stampAt(1000), 1000u);
  EXPECT_EQ(stampAt(990), 1000u);
  EXPECT_EQ(stampAt(980), 1000u) << "20 ms below the last one";
  EXPECT_EQ(stampAt(979), 979u) << "further back: the driver clock restarted";
  EXPECT_EQ(stampAt(1500), 1500u);

  // The UCAN clock takes the driver's time when it resynchronises.
  setTime_(77000);
  clock_.advance(5000);
  EXPECT_EQ(ucan_.clockMsWhole(), 77000u);
}

TEST_F(CanApi2Test, ASlowReadIsReportedExactlyOnce) {
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

class CanApi2PartialTest : public CanApi2Test {
 protected:
  CanApi2PartialTest() : CanApi2Test(BUSPROBE_FAKE_FAKE_CANAPI2_PARTIAL) {}
};

TEST_F(CanApi2PartialTest, MissingEntryPointsAnswerNoVxdAndTheLocalClockStamps) {
  openController();
  EXPECT_EQ(ucan_.UCAN_Status(0), kUcanOther);
  EXPECT_EQ(ucan_.UCAN_IsChannelOpen(0), 0);
  CanFrame f;
  EXPECT_EQ(ucan_.UCAN_Receive(255, f), 0);
  EXPECT_EQ(ucan_.takeLastError(), "UCAN_Receive: NOVXD ");
  EXPECT_EQ(ucan_.UCAN_Receive(255, f), 0);
  EXPECT_EQ(ucan_.lastError(), "") << "said once, not on every poll";
  clock_.set(2500.0);
  f.length = 1;
  EXPECT_EQ(ucan_.tryTransmit(0, f), UcanTxResult::kRefused);
  EXPECT_EQ(ucan_.takeLastError(), "UCAN_Transmit: NOVXD ");
  EXPECT_EQ(f.timestamp, 2500u) << "no driver time: the UCAN clock";
}

}  // namespace
}  // namespace busprobe
