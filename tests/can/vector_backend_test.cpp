// The Vector XL back-end through the UCAN operations, against the fake XL driver: loading, channel
// choice by name or mask, the port and its bit rate, activation on first use, events both ways,
// the status word, filter, reset, the order of closing, error texts and the configuration tool.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "base/message_queue.h"
#include "can/fakes/vxlapi_fake.h"
#include "can/ucan.h"
#include "can/vendor_fake_library.h"

namespace busprobe {
namespace {

class VectorTest : public ::testing::Test {
 protected:
  explicit VectorTest(const char* fakePath = BUSPROBE_FAKE_FAKE_VXLAPI) : fake_(fakePath) {
    fake_.control<FakeXlResetFn>("fake_xl_reset")();
    log_ = fake_.control<FakeXlLogFn>("fake_xl_log");
    setChannels_ = fake_.control<FakeXlSetChannelsFn>("fake_xl_set_channels");
    failNext_ = fake_.control<FakeXlFailNextFn>("fake_xl_fail_next");
    blockNext_ = fake_.control<FakeXlBlockNextFn>("fake_xl_block_next");
    pushEvent_ = fake_.control<FakeXlPushEventFn>("fake_xl_push_event");
    setErrorStrings_ = fake_.control<FakeXlSetErrorStringsFn>("fake_xl_set_error_strings");
    setSyncTime_ = fake_.control<FakeXlSetSyncTimeFn>("fake_xl_set_sync_time");
    setSyncTimeOnActivate_ =
        fake_.control<FakeXlSetSyncTimeOnActivateFn>("fake_xl_set_sync_time_on_activate");
    CanInterfaceTypeRow row = *ucan_.interfaceTypes().find(kIntfVector);
    row.libraryNames = {fakePath};
    ucan_.registerInterfaceType(row);
    ucan_.setPrinters([this](const std::string& line) { canLines_.push_back(line); },
                      [this](const std::string& line) { alwaysLines_.push_back(line); });
    params_.interfaceType = kIntfVector;
    params_.vectorChannelName = "Fake Channel 2";
    params_.vectorAccessMask = 1;
  }

  // The calls since the last look, without the driver time reads (the UCAN clock's, at any moment).
  std::vector<std::string> calls() {
    std::vector<std::string> all = VendorFakeLibrary::Lines(log_());
    std::vector<std::string> fresh;
    for (size_t i = std::min(seen_, all.size()); i < all.size(); ++i) {
      if (all[i].rfind("xlGetSyncTime(", 0) != 0) fresh.push_back(all[i]);
    }
    seen_ = all.size();
    return fresh;
  }
  void openController(int bus = 0, int baud = 500) {
    ASSERT_EQ(ucan_.UCAN_Init(params_), 1) << ucan_.lastError();
    ASSERT_EQ(ucan_.UCAN_InitCtrl(bus, baud, 0), 1) << ucan_.lastError();
    ucan_.clearLastError();
    calls();
  }
  void pushFrame(uint32_t id, uint16_t flags, uint16_t dlc, uint64_t timeNs, std::vector<uint8_t> data = {}) {
    FakeXlEvent e{};
    e.tag = 1;
    e.id = id;
    e.flags = flags;
    e.dlc = dlc;
    e.timeStamp = timeNs;
    std::copy_n(data.begin(), std::min<size_t>(data.size(), 8), e.data);
    pushEvent_(&e);
  }
  void pushChipState(uint8_t busStatus) {
    FakeXlEvent e{};
    e.tag = 4;
    e.busStatus = busStatus;
    pushEvent_(&e);
  }

  VendorFakeLibrary fake_;
  FakeXlLogFn log_;
  FakeXlSetChannelsFn setChannels_;
  FakeXlFailNextFn failNext_;
  FakeXlBlockNextFn blockNext_;
  FakeXlPushEventFn pushEvent_;
  FakeXlSetErrorStringsFn setErrorStrings_;
  FakeXlSetSyncTimeFn setSyncTime_;
  FakeXlSetSyncTimeOnActivateFn setSyncTimeOnActivate_;
  size_t seen_ = 0;

  ManualClock clock_{1000.0};
  DeferredMessageQueue queue_;
  Ucan ucan_{clock_, queue_};
  CanInterfaceSettings params_;
  std::vector<std::string> canLines_, alwaysLines_;
};

TEST_F(VectorTest, LoadsOpensTheDriverAndReadsItsChannels) {
  testing::internal::CaptureStderr();
  params_.debugFlags = 1;
  ASSERT_EQ(ucan_.UCAN_Init(params_), 1);
  const std::string trace = testing::internal::GetCapturedStderr();
  EXPECT_EQ(ucan_.takeLastError(), "UCAN_Init: Loaded VXLAPI.DLL Vers=0x0A0B0C0D Channels=2 .");
  EXPECT_NE(trace.find("xlLoadLibrary: trying to load library...\nxlLoadLibrary: calling xlDllOpenDriver..\n"
                       "xlLoadLibrary returned, stat=\"fake xl error 0\" .\n"),
            std::string::npos)
      << trace;
  EXPECT_EQ(calls(), (std::vector<std::string>{"xlOpenDriver( ) = 0", "xlGetDriverConfig( ) = 0"}));
  EXPECT_EQ(ucan_.channelCount(), 2);

  // A driver that claims more channels than its configuration holds is believed up to 64.
  setChannels_(300, "Many");
  ASSERT_EQ(ucan_.UCAN_Init(params_), 1);
  EXPECT_EQ(ucan_.takeLastError(), "UCAN_Init: Loaded VXLAPI.DLL Vers=0x0A0B0C0D Channels=64 .");

  // The driver refuses to open: the library goes again.
  failNext_("xlOpenDriver", 201);
  EXPECT_EQ(ucan_.UCAN_Init(params_), 0);
  EXPECT_EQ(ucan_.takeLastError(), "UCAN_Init: FAILED loading Vector's VXLAPI.DLL !");
  EXPECT_EQ(ucan_.UCAN_InitCtrl(0, 500, 0), 0);
  EXPECT_EQ(ucan_.takeLastError(), "UCAN_InitCtrl: VECTOR XL Driver not loaded !");
}

TEST_F(VectorTest, WithoutALibraryTheFailedAttemptsAreTraced) {
  CanInterfaceTypeRow row = *ucan_.interfaceTypes().find(kIntfVector);
  row.libraryNames = {};  // what this platform's row holds
  ucan_.registerInterfaceType(row);
  testing::internal::CaptureStderr();
  params_.debugFlags = 1;
  EXPECT_EQ(ucan_.UCAN_Init(params_), 0);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "UCAN_Init(intf=8)\n"
            "xlLoadLibrary: trying to load library...\n"
            "xlLoadLibrary: first attempt failed, trying c:\\XL Driver Library ...\n"
            "xlLoadLibrary: Failed loading the XL Driver Library (dynamically) !!\n"
            "UCAN_Init: FAILED loading Vector's VXLAPI.DLL !\n");
  EXPECT_FALSE(ucan_.popupHardwareConfig());
}

TEST_F(VectorTest, ControllerPicksTheChannelByNameElseByMaskAndSetsTheRate) {
  ASSERT_EQ(ucan_.UCAN_Init(params_), 1);
  calls();
  ASSERT_EQ(ucan_.UCAN_InitCtrl(0, 666, 0), 1) << ucan_.lastError();
  EXPECT_EQ(calls(), (std::vector<std::string>{
                         "xlOpenPort(NVK, 0x2, 0x2, 256, 3, 1) = 0",
                         "xlCanSetChannelBitrate(1, 0x2, 633333) = 0",
                     }));
  EXPECT_TRUE(canLines_.empty());
  int baud = 0;
  ASSERT_EQ(ucan_.UCAN_GetBaudrate(0, &baud), 1);
  EXPECT_EQ(baud, 666);

  // Other rates; an active channel is deactivated before its rate changes.
  CanFrame f;
  EXPECT_EQ(ucan_.UCAN_Receive(0, f), 0);
  calls();
  ASSERT_EQ(ucan_.UCAN_SetBaudrate(0, 83, 0), 1);
  ASSERT_EQ(ucan_.UCAN_SetBaudrate(0, 125, 0), 1);
  EXPECT_EQ(calls(), (std::vector<std::string>{
                         "xlDeactivateChannel(1, 0x2) = 0",
                         "xlCanSetChannelBitrate(1, 0x2, 83333) = 0",
                         "xlCanSetChannelBitrate(1, 0x2, 125000) = 0",
                     }));

  // No channel of that name: the mask is used and the names the driver knows are listed.
  params_.vectorChannelName = "Nonesuch";
  params_.vectorAccessMask = 0x5;
  ASSERT_EQ(ucan_.UCAN_Init(params_), 1);
  calls();
  ASSERT_EQ(ucan_.UCAN_InitCtrl(1, 500, 0), 1);
  EXPECT_EQ(calls().front(), "xlOpenPort(NVK, 0x5, 0x5, 256, 3, 1) = 0");
  EXPECT_EQ(canLines_, (std::vector<std::string>{
                           "Didn't find a matching channel name in Vector's xlDriverConfig. Use one of the "
                           "following in the CAN Interface Selection:",
                           "  Fake Channel 1",
                           "  Fake Channel 2",
                       }));

  canLines_.clear();
  setChannels_(0, "");
  ASSERT_EQ(ucan_.UCAN_Init(params_), 1);
  failNext_("xlOpenPort", 112);
  EXPECT_EQ(ucan_.UCAN_InitCtrl(0, 500, 0), 0);
  EXPECT_EQ(
      canLines_,
      (std::vector<std::string>{"Problem with VXLAPI: xlGetDriverConfig reports NO CHANNELS at all !"}));
  ucan_.clearLastError();
  setErrorStrings_(0);
  failNext_("xlOpenPort", 112);
  EXPECT_EQ(ucan_.UCAN_InitCtrl(0, 500, 0), 0);
  EXPECT_EQ(ucan_.takeLastError(), "UCAN_InitCtrl: invalid access");
  EXPECT_EQ(ucan_.UCAN_IsChannelOpen(0), 0);
}

TEST_F(VectorTest, ReceiveActivatesOnceAndReadsFramesAndChipStates) {
  openController();
  pushChipState(4 | 2);          // warning, passive
  pushFrame(0x123, 0x01, 0, 1);  // error frame
  pushFrame(0x124, 0x40, 0, 1);  // not for us
  pushFrame(0x80000000u | 0x1ABCDEF, 0, 3, 2500000000ull, {1, 2, 3});
  pushFrame(0x7FFF0155, 0x10, 15, 7000000);  // garbage bits and length

  CanFrame f;
  ASSERT_EQ(ucan_.UCAN_Receive(255, f), 1);
  EXPECT_EQ(f.id, 0x1ABCDEFu | CanFrame::kExtended);
  EXPECT_EQ(f.length, 3);
  EXPECT_EQ(f.data[2], 3);
  EXPECT_EQ(f.timestamp, 2500u);
  EXPECT_EQ(ucan_.errorFrameCount(0), 1u);
  EXPECT_EQ(ucan_.UCAN_Status(0), kUcanWarning | kUcanBusError);

  ASSERT_EQ(ucan_.UCAN_Receive(0, f), 1);
  EXPECT_EQ(f.id, 0x155u);
  EXPECT_EQ(f.rtr, 1);
  EXPECT_EQ(f.length, 8);
  EXPECT_EQ(ucan_.UCAN_Receive(255, f), 0);
  EXPECT_EQ(ucan_.lastError(), "");
  const std::vector<std::string> log = calls();
  EXPECT_EQ(log.front(), "xlActivateChannel(1, 0x2, 1, 0) = 0");
  EXPECT_EQ(std::count_if(log.begin(), log.end(),
                          [](const std::string& l) { return l.rfind("xlActivateChannel", 0) == 0; }),
            1);

  // Bus off, then active again.
  pushChipState(1);
  EXPECT_EQ(ucan_.UCAN_Receive(0, f), 0);
  EXPECT_EQ(ucan_.UCAN_Status(0), kUcanBusOff | kUcanBusError);
  pushChipState(8);
  EXPECT_EQ(ucan_.UCAN_Receive(0, f), 0);
  EXPECT_EQ(ucan_.UCAN_Status(0), 0);

  failNext_("xlReceive", 118);
  EXPECT_EQ(ucan_.UCAN_Receive(0, f), 0);
  EXPECT_EQ(ucan_.takeLastError(), "UCAN_Receive: fake xl error 118");
}

TEST_F(VectorTest, AFailedActivationIsReportedOnce) {
  openController();
  failNext_("xlActivateChannel", 113);
  CanFrame f;
  f.id = 0x10;
  EXPECT_EQ(ucan_.UCAN_Transmit(0, f), 0);
  EXPECT_EQ(ucan_.takeLastError(), "VECTOR:xlActivateChannel failed, fake xl error 113");
  failNext_("xlActivateChannel", 113);
  EXPECT_EQ(ucan_.UCAN_Receive(0, f), 0);
  EXPECT_EQ(ucan_.lastError(), "");
  EXPECT_EQ(ucan_.UCAN_Transmit(0, f), 1) << "activation is tried again";
}

TEST_F(VectorTest, TransmitSendsOneEventWithExtendedAndRemoteBits) {
  openController();
  CanFrame f;
  f.id = 0x1234567 | CanFrame::kExtended;
  f.length = 2;
  f.data[0] = 0xAB;
  f.data[1] = 0xCD;
  ASSERT_EQ(ucan_.UCAN_Transmit(0, f), 1);
  CanFrame remote;
  remote.id = 0x7FF;
  remote.rtr = 1;
  remote.length = 0;
  ASSERT_EQ(ucan_.UCAN_Transmit(0, remote), 1);
  EXPECT_EQ(calls(),
            (std::vector<std::string>{
                "xlActivateChannel(1, 0x2, 1, 0) = 0",
                "xlCanTransmit(1, 0x2, 1, tag=10, id=0x81234567, flags=0x0, dlc=2, ABCD000000000000) = 0",
                "xlCanTransmit(1, 0x2, 1, tag=10, id=0x7ff, flags=0x10, dlc=0, 0000000000000000) = 0",
            }));
  EXPECT_EQ(ucan_.UCAN_TxBusy(0), 0);

  failNext_("xlCanTransmit", 11);
  EXPECT_EQ(ucan_.tryTransmit(0, f), UcanTxResult::kFailed);
  EXPECT_EQ(ucan_.takeLastError(), "xlCanTransmit: fake xl error 11");
  EXPECT_EQ(ucan_.UCAN_Status(0), kUcanTxError);
  ASSERT_EQ(ucan_.UCAN_Transmit(0, f), 1);
  EXPECT_EQ(ucan_.UCAN_Status(0), 0);
}

TEST_F(VectorTest, TheClockAndFrameTimesFollowTheDriverTimeFromItsSmallestValue) {
  openController();
  setSyncTime_(5000000000ull);
  clock_.set(3000);
  EXPECT_EQ(ucan_.clockMsWhole(), 0u);
  setSyncTime_(6500000000ull);
  clock_.advance(1000);
  EXPECT_EQ(ucan_.clockMsWhole(), 1500u);
  CanFrame f;
  pushFrame(0x1, 0, 0, 6400000000ull);
  ASSERT_EQ(ucan_.UCAN_Receive(0, f), 1);
  EXPECT_EQ(f.timestamp, 1400u);
  CanFrame sent;
  ASSERT_EQ(ucan_.UCAN_Transmit(0, sent), 1);
  EXPECT_EQ(sent.timestamp, 1500u);
  // An event older than the first driver time read cannot be negative.
  pushFrame(0x2, 0, 0, 1000000ull);
  ASSERT_EQ(ucan_.UCAN_Receive(0, f), 1);
  EXPECT_EQ(f.timestamp, 0u);

  // A driver clock that restarts with the controller does not take the UCAN clock back.
  setSyncTimeOnActivate_(1000000000ull);
  ASSERT_EQ(ucan_.resetController(0), 1);
  clock_.advance(1000);
  EXPECT_EQ(ucan_.clockMsWhole(), 1500u);
}

class VectorPartialTest : public VectorTest {
 protected:
  VectorPartialTest() : VectorTest(BUSPROBE_FAKE_FAKE_VXLAPI_PARTIAL) {}
};

TEST_F(VectorPartialTest, ALackingEntryPointFailsOnlyTheCallThatNeedsIt) {
  openController();
  CanFrame f;
  EXPECT_EQ(ucan_.tryTransmit(0, f), UcanTxResult::kRefused);
  EXPECT_EQ(ucan_.takeLastError(), "UCAN_Transmit: VECTOR XL Driver not loaded !");
  pushFrame(0x42, 0, 1, 0);
  EXPECT_EQ(ucan_.UCAN_Receive(0, f), 1);
}

TEST_F(VectorTest, FilterResetCloseOrderAndTheConfigurationTool) {
  openController();
  ASSERT_EQ(ucan_.UCAN_SetRcvID(0, 0x100, 0x700), 1);
  ASSERT_EQ(ucan_.resetController(0), 1);
  EXPECT_TRUE(ucan_.popupHardwareConfig());
  EXPECT_EQ(calls(), (std::vector<std::string>{
                         "xlCanSetChannelAcceptance(1, 0x2, 0x100, 0x700, 1) = 0",
                         "xlDeactivateChannel(1, 0x2) = 0",
                         "xlFlushReceiveQueue(1) = 0",
                         "xlCanFlushTransmitQueue(1, 0x2) = 0",
                         "xlActivateChannel(1, 0x2, 1, 0) = 0",
                         "xlPopupHwConfig(null, 0) = 0",
                     }));
  failNext_("xlCanSetChannelAcceptance", 101);
  EXPECT_EQ(ucan_.UCAN_SetRcvID(0, 0, 0), 0);
  EXPECT_EQ(ucan_.takeLastError(), "UCAN_SetID Error : fake xl error 101 .");
  calls();
  ucan_.UCAN_Exit();
  EXPECT_EQ(calls(), (std::vector<std::string>{
                         "xlDeactivateChannel(1, 0x2) = 0",
                         "xlClosePort(1) = 0",
                         "xlCloseDriver( ) = 0",
                     }));
}

TEST_F(VectorTest, ErrorTextsComeFromTheDriverElseFromTheTable) {
  openController();
  setErrorStrings_(0);
  const std::pair<int, const char*> cases[] = {
      {0, "success"},
      {1, "pending"},
      {10, "Error: queue is empty"},
      {11, "Error: queue is full"},
      {12, "TX not possible"},
      {14, "no license"},
      {101, "wrong parameter"},
      {110, "twice registered"},
      {111, "invalid channel index"},
      {112, "invalid access"},
      {113, "port is off-line"},
      {116, "port is on-line"},
      {117, "not implemented"},
      {118, "invalid port"},
      {120, "hardware not ready"},
      {121, "command timeout"},
      {129, "hardware not present"},
      {131, "notify already active"},
      {152, "no resources"},
      {153, "wrong chip type"},
      {154, "wrong command"},
      {155, "invalid handle"},
      {201, "cannot open driver"},
      {202, "wrong bus type"},
      {255, "other error (255)"},
      {7, "Some other strange error code (7)"},
  };
  for (const auto& [code, text] : cases) {
    failNext_("xlCanSetChannelAcceptance", code);
    ucan_.UCAN_SetRcvID(0, 0, 0);
    EXPECT_EQ(ucan_.takeLastError(), code == 0 ? "" : "UCAN_SetID Error : " + std::string(text) + " .");
  }
}

TEST(VectorSlowDriver, ABlockingReceiveGivesExactlyOneSlowDriverLine) {
  VendorFakeLibrary fake(BUSPROBE_FAKE_FAKE_VXLAPI);
  fake.control<FakeXlResetFn>("fake_xl_reset")();
  auto blockNext = fake.control<FakeXlBlockNextFn>("fake_xl_block_next");
  SteadyClock clock;
  DeferredMessageQueue queue;
  Ucan ucan(clock, queue);
  CanInterfaceTypeRow row = *ucan.interfaceTypes().find(kIntfVector);
  row.libraryNames = {BUSPROBE_FAKE_FAKE_VXLAPI};
  ucan.registerInterfaceType(row);
  std::vector<std::string> always;
  ucan.setPrinters([](const std::string&) {}, [&](const std::string& line) { always.push_back(line); });
  CanInterfaceSettings params;
  params.interfaceType = kIntfVector;
  ASSERT_EQ(ucan.UCAN_Init(params), 1);
  ASSERT_EQ(ucan.UCAN_InitCtrl(0, 500, 0), 1);
  CanFrame f;
  blockNext("xlReceive", 250);
  EXPECT_EQ(ucan.UCAN_Receive(0, f), 0);
  blockNext("xlReceive", 250);
  EXPECT_EQ(ucan.UCAN_Receive(0, f), 0);
  ASSERT_EQ(always.size(), 1u);
  EXPECT_EQ(always[0].rfind("UCAN: Incredibly slow driver function call (CAN-Receive: ", 0), 0u) << always[0];
}

}  // namespace
}  // namespace busprobe
