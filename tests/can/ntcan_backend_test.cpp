// The NTCAN back-end through the UCAN operations, against the fake NTCAN library: the calls it makes
// and their arguments, the rate codes, the filter, frames both ways, the status byte, missing entry
// points, and the "cpcc" helper commands.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "can/backend_ntcan.h"
#include "can/fakes/ntcan_fake.h"
#include "can/ucan.h"
#include "can/vendor_fake_library.h"

namespace busprobe {
namespace {

class NtcanTest : public ::testing::Test {
 protected:
  explicit NtcanTest(const char* fakePath = BUSPROBE_FAKE_FAKE_NTCAN) : fake_(fakePath) {
    log_ = fake_.control<FakeNtcanLogFn>("fake_ntcan_log");
    fake_.control<FakeNtcanResetFn>("fake_ntcan_reset")();
    pushRx_ = fake_.control<FakeNtcanPushRxFn>("fake_ntcan_push_rx");
    failNext_ = fake_.control<FakeNtcanFailNextFn>("fake_ntcan_fail_next");
    blockMs_ = fake_.control<FakeNtcanBlockMsFn>("fake_ntcan_block_ms");
    setVersions_ = fake_.control<FakeNtcanSetVersionsFn>("fake_ntcan_set_versions");
    setBaudCode_ = fake_.control<FakeNtcanSetBaudCodeFn>("fake_ntcan_set_baud_code");
    setWriteCount_ = fake_.control<FakeNtcanSetWriteCountFn>("fake_ntcan_set_write_count");
    session_->runCommand = [this](const std::string& line) {
      commands_.push_back(line);
      return commandsSucceed_;
    };
    useLibrary(ucan_, fakePath);
  }

  void useLibrary(Ucan& ucan, const std::string& path) {
    CanInterfaceTypeRow row = *ucan.interfaceTypes().find(kIntfNtcan);
    row.libraryNames = {path};
    row.factory = MakeNtcanFactory(session_);
    ucan.registerInterfaceType(row);
  }

  int init(Ucan& ucan) { return ucan.UCAN_Init(params_); }
  int init() { return init(ucan_); }
  // The calls since the last look.
  std::vector<std::string> calls() {
    std::vector<std::string> all = VendorFakeLibrary::Lines(log_());
    std::vector<std::string> fresh(all.begin() + static_cast<long>(std::min(seen_, all.size())), all.end());
    seen_ = all.size();
    return fresh;
  }
  void push(int32_t id, uint8_t len, std::vector<uint8_t> data = {}) {
    FakeNtcanMsg m{};
    m.id = id;
    m.len = len;
    std::copy(data.begin(), data.end(), m.data);
    pushRx_(&m);
  }
  void openController() {
    ASSERT_EQ(init(), 1);
    ASSERT_EQ(ucan_.UCAN_InitCtrl(0, 500, 0), 1) << ucan_.lastError();
    ucan_.clearLastError();
    calls();
  }

  VendorFakeLibrary fake_;
  FakeNtcanLogFn log_;
  FakeNtcanPushRxFn pushRx_;
  FakeNtcanFailNextFn failNext_;
  FakeNtcanBlockMsFn blockMs_;
  FakeNtcanSetVersionsFn setVersions_;
  FakeNtcanSetBaudCodeFn setBaudCode_;
  FakeNtcanSetWriteCountFn setWriteCount_;
  size_t seen_ = 0;

  std::shared_ptr<NtcanSession> session_ = std::make_shared<NtcanSession>();
  std::vector<std::string> commands_;
  bool commandsSucceed_ = true;
  CanInterfaceSettings params_ = [] {
    CanInterfaceSettings p;
    p.interfaceType = kIntfNtcan;
    return p;
  }();
  ManualClock clock_{5000.0};
  DeferredMessageQueue queue_;
  Ucan ucan_{clock_, queue_};
};

using Calls = std::vector<std::string>;

TEST_F(NtcanTest, ProbesTheLibraryOnceAndReadsItsVersions) {
  setVersions_(0x2105, 0x0A1F, 0x3012);
  params_.ntcanNetNumber = 3;
  ASSERT_EQ(init(), 1);
  EXPECT_EQ(ucan_.takeLastError(), "UCAN_Init successful.");
  EXPECT_EQ(calls(), (Calls{"canOpen(3,0,2,2,1000,1000)", "canStatus(100)", "canClose(100)"}));
  EXPECT_EQ(session_->hardwareVersion, "2.1.5");
  EXPECT_EQ(session_->firmwareVersion, "0.a.1f");
  EXPECT_EQ(session_->driverVersion, "3.0.12");

  // Once per run: neither a second init nor one after an exit probes again.
  ASSERT_EQ(init(), 1);
  ucan_.UCAN_Exit();
  ASSERT_EQ(init(), 1);
  EXPECT_EQ(calls(), Calls{});
}

TEST_F(NtcanTest, AFailedProbeNamesTheResultAndIsTriedAgainOnTheNextInit) {
  setVersions_(0, 0x0100, 0x0100);
  failNext_("canOpen", 2);
  EXPECT_EQ(init(), 0);
  EXPECT_EQ(ucan_.takeLastError(), "NTCAN_NET_NOT_FOUND(0x00000002)");
  EXPECT_EQ(session_->hardwareVersion, "Not available");
  EXPECT_EQ(ucan_.UCAN_InitCtrl(0, 500, 0), 0) << "not ready: no controller either";
  EXPECT_EQ(ucan_.takeLastError(), "UCAN_InitCtrl: NTCAN_INVALID_HANDLE(0x00000006)");

  ASSERT_EQ(init(), 1);
  EXPECT_EQ(session_->hardwareVersion, "Not aplicable") << "a hardware version of 0";
  EXPECT_EQ(session_->driverVersion, "0.1.0");
}

TEST_F(NtcanTest, AMissingLibraryIsTheRowsNotLoadedLine) {
  Ucan other(clock_, queue_);
  useLibrary(other, "libbusprobe-no-such-ntcan.so");
  EXPECT_EQ(init(other), 0);
  EXPECT_EQ(other.takeLastError(), "UCAN_Init: NTCAN driver (NTCAN.DLL) not loaded !");
  EXPECT_EQ(other.UCAN_Status(0), 0);
  EXPECT_EQ(other.lastError(), "") << "nothing loaded: the status poll stays quiet";
  EXPECT_EQ(session_->hardwareVersion, "Not available");
}

TEST_F(NtcanTest, ControllerOpensItsHandleOnceAndMapsEveryRateBothWays) {
  ASSERT_EQ(init(), 1);
  ucan_.clearLastError();
  calls();
  // Without a handle nothing reaches the library.
  EXPECT_EQ(ucan_.UCAN_SetBaudrate(0, 500, 0), 0);
  EXPECT_EQ(ucan_.takeLastError(), "UCAN_GetBaudrate: NTCAN not initialized !");
  int baud = -1;
  EXPECT_EQ(ucan_.UCAN_GetBaudrate(0, &baud), 0);
  EXPECT_EQ(ucan_.takeLastError(), "UCAN_GetBaudrate: NTCAN not initialized !");
  EXPECT_EQ(ucan_.UCAN_IsChannelOpen(0), 0);

  ASSERT_EQ(ucan_.UCAN_InitCtrl(0, 500, 0), 1);
  ASSERT_EQ(ucan_.UCAN_InitCtrl(1, 250, 0), 1);
  EXPECT_EQ(calls(), (Calls{"canOpen(0,0,50,50,500,100)", "canSetBaudrate(101,2)", "canSetBaudrate(101,4)"}));
  EXPECT_EQ(ucan_.UCAN_IsChannelOpen(0), 1);

  const std::vector<std::pair<int, int>> table = {{1000, 0}, {666, 1}, {667, 1}, {500, 2}, {333, 3},
                                                  {250, 4},  {166, 5}, {125, 6}, {100, 7}, {66, 8},
                                                  {50, 9},   {33, 10}, {20, 11}, {12, 12}, {10, 13}};
  for (const auto& [kbit, code] : table) {
    ASSERT_EQ(ucan_.UCAN_SetBaudrate(0, kbit, 0), 1) << kbit;
    ASSERT_EQ(ucan_.UCAN_GetBaudrate(0, &baud), 1) << kbit;
    EXPECT_EQ(baud, kbit == 667 ? 666 : kbit);
    EXPECT_EQ(calls(), (Calls{"canSetBaudrate(101," + std::to_string(code) + ")", "canGetBaudrate(101)"}));
  }

  EXPECT_EQ(ucan_.UCAN_SetBaudrate(0, 800, 0), 0);
  EXPECT_EQ(ucan_.takeLastError(), "UCAN: Baudrate not supported");
  EXPECT_EQ(calls(), Calls{}) << "a rate without a code never reaches the library";

  setBaudCode_(14);
  EXPECT_EQ(ucan_.UCAN_GetBaudrate(0, &baud), 0);
  EXPECT_EQ(ucan_.takeLastError(), "UCAN: unknown Baud-Code (0x000E)");
  EXPECT_EQ(baud, 0);
  setBaudCode_(0x12345678);
  EXPECT_EQ(ucan_.UCAN_GetBaudrate(0, &baud), 0);
  EXPECT_EQ(ucan_.takeLastError(), "UCAN: unknown Baud-Code (0x12345678)");

  failNext_("canSetBaudrate", 0xE0000006);
  EXPECT_EQ(ucan_.UCAN_SetBaudrate(0, 125, 0), 0);
  EXPECT_EQ(ucan_.takeLastError(), "UCAN_SetBaudrate: NTCAN_CONTR_BUSY(0xe0000006)");

  calls();
  ucan_.UCAN_Exit();
  EXPECT_EQ(calls(), Calls{"canClose(101)"});
}

TEST_F(NtcanTest, AControllerThatWillNotOpenNamesTheResult) {
  ASSERT_EQ(init(), 1);
  ucan_.clearLastError();
  failNext_("canOpen", 0xE000000F);
  EXPECT_EQ(ucan_.UCAN_InitCtrl(0, 500, 0), 0);
  EXPECT_EQ(ucan_.takeLastError(), "UCAN_InitCtrl: NTCAN_INVALID_HARDWARE(0xe000000f)");
  EXPECT_FALSE(ucan_.controllerInitialised());
}

TEST_F(NtcanTest, FilterDeletesTheRangeAndAddsEveryPassingIdentifier) {
  EXPECT_EQ(init(), 1);
  ucan_.clearLastError();
  EXPECT_EQ(ucan_.UCAN_SetRcvID(0, 0x100, 0x700), 0);
  EXPECT_EQ(ucan_.takeLastError(), "UCAN_SetID: NTCAN not initialized !");
  openController();

  ASSERT_EQ(ucan_.UCAN_SetRcvID(0, 0x100, 0x700), 1);
  Calls expected = {"canIdRangeDelete(101,0x0,0x7ff)"};
  for (int id = 0x100; id <= 0x1FF; ++id) {
    char line[40];
    std::snprintf(line, sizeof line, "canIdAdd(101,0x%x)", id);
    expected.push_back(line);
  }
  EXPECT_EQ(calls(), expected);

  ASSERT_EQ(ucan_.UCAN_SetRcvID(0, 0x123, 0), 1);
  EXPECT_EQ(calls().size(), 1u + 2048u) << "mask 0 passes every identifier";
}

TEST_F(NtcanTest, FilterGivesAnExhaustedDriverTimeAndOneMoreAttempt) {
  openController();
  // Out of resources once: 100 ms later the same identifier again, and that is fine.
  failNext_("canIdAdd", 0x5AA);
  const double before = clock_.nowMs();
  ASSERT_EQ(ucan_.UCAN_SetRcvID(0, 0x7F0, 0x7F0), 1);
  EXPECT_EQ(clock_.nowMs() - before, 100.0);
  Calls c = calls();
  ASSERT_EQ(c.size(), 1u + 17u);
  EXPECT_EQ(c[1], "canIdAdd(101,0x7f0)");
  EXPECT_EQ(c[2], "canIdAdd(101,0x7f0)");
  EXPECT_EQ(c[3], "canIdAdd(101,0x7f1)");

  // Any other first answer stands; only a failed second attempt fails the filter, after the loop.
  failNext_("canIdAdd", 0xE000000A);
  ASSERT_EQ(ucan_.UCAN_SetRcvID(0, 0x7F0, 0x7F0), 1);
  EXPECT_EQ(calls().size(), 1u + 16u);
  failNext_("canIdAdd", 0x5AA);
  failNext_("canIdAdd", 0x5AA);
  EXPECT_EQ(ucan_.UCAN_SetRcvID(0, 0x7F0, 0x7F0), 0);
  EXPECT_EQ(ucan_.takeLastError(), "UCAN_SetRcvID: Couldn't set CAN-ID.");
  c = calls();
  ASSERT_EQ(c.size(), 1u + 17u);
  EXPECT_EQ(c.back(), "canIdAdd(101,0x7ff)");
}

TEST_F(NtcanTest, ReceivedMessagesBecomeFramesWhateverTheLibraryClaims) {
  CanFrame got;
  ASSERT_EQ(init(), 1);
  ucan_.clearLastError();
  EXPECT_EQ(ucan_.UCAN_Receive(0, got), 0);
  EXPECT_EQ(ucan_.takeLastError(), "UCAN_Receive: NTCAN not initialized !");
  openController();

  EXPECT_EQ(ucan_.UCAN_Receive(255, got), 0);
  EXPECT_EQ(ucan_.lastError(), "") << "an empty queue is no failure";
  EXPECT_EQ(calls(), Calls{"canTake(101,1)"});

  push(0x123, 2, {0xAA, 0xBB, 0xCC});
  push(0x20012345, 8, {1, 2, 3, 4, 5, 6, 7, 8});
  push(0x7FF, 0x10 | 3);                                                   // remote request for 3 bytes
  push(static_cast<int32_t>(0xE0000321), 0x0F, {9, 9, 9, 9, 9, 9, 9, 9});  // bus bits and a length of 15
  push(0x00000923, 1, {0x42});  // a standard identifier with bits above 10
  clock_.set(7777.0);

  ASSERT_EQ(ucan_.UCAN_Receive(255, got), 1);
  EXPECT_EQ(got.id, 0x123u);
  EXPECT_EQ(got.length, 2);
  EXPECT_EQ(got.data[1], 0xBB);
  EXPECT_EQ(got.data[2], 0) << "bytes beyond the length stay zero";
  EXPECT_EQ(got.rtr, 0);
  EXPECT_EQ(got.timestamp, 7777u);

  ASSERT_EQ(ucan_.UCAN_Receive(255, got), 1);
  EXPECT_EQ(got.id, 0x20012345u);
  EXPECT_TRUE(got.extended());
  EXPECT_EQ(got.data[7], 8);

  ASSERT_EQ(ucan_.UCAN_Receive(255, got), 1);
  EXPECT_EQ(got.rtr, 1);
  EXPECT_EQ(got.length, 3);
  EXPECT_EQ(got.id, 0x7FFu);

  ASSERT_EQ(ucan_.UCAN_Receive(255, got), 1);
  EXPECT_EQ(got.id, 0x20000321u) << "no bus bits from the library";
  EXPECT_EQ(got.bus(), 0);
  EXPECT_EQ(got.length, 8) << "the message carries 8 data bytes at most";

  ASSERT_EQ(ucan_.UCAN_Receive(255, got), 1);
  EXPECT_EQ(got.id, 0x123u);
  EXPECT_EQ(ucan_.receiveCounter(), 5);

  failNext_("canTake", 0xE000000E);
  EXPECT_EQ(ucan_.UCAN_Receive(255, got), 0);
  EXPECT_EQ(ucan_.takeLastError(), "UCAN_Receive failed.");
}

TEST_F(NtcanTest, TransmitWritesOneMessageAndKeepsTheStatusByte) {
  openController();
  clock_.set(6000.0);
  CanFrame f;
  f.id = 0x123;
  f.length = 2;
  f.data[0] = 0x11;
  f.data[1] = 0x22;
  ASSERT_EQ(ucan_.UCAN_Transmit(0, f), 1);
  EXPECT_EQ(f.timestamp, 6000u);
  CanFrame remote;
  remote.id = 0x12345 | CanFrame::kExtended;
  remote.rtr = 1;
  remote.length = 4;
  ASSERT_EQ(ucan_.UCAN_Transmit(0, remote), 1);
  EXPECT_EQ(calls(), (Calls{"canWrite(101,0x00000123,0x02,1,null) 11 22",
                            "canWrite(101,0x20012345,0x14,1,null) 00 00 00 00"}));
  EXPECT_EQ(ucan_.UCAN_Status(0), 0);

  struct Case {
    uint32_t result;
    const char* text;
    uint8_t adds;
  };
  const Case cases[] = {
      {0xE0000002, "UCAN_Transmit: NTCAN_TX_TIMEOUT(0xe0000002)", kUcanTxError},
      {0xE0000004, "UCAN_Transmit: NTCAN_TX_ERROR(0xe0000004)", kUcanTxError},
      {0xE0000005, "UCAN_Transmit: NTCAN_CONTR_OFF_BUS(0xe0000005)", kUcanBusOff},
      {0xE0000006, "UCAN_Transmit: NTCAN_CONTR_BUSY(0xe0000006)", kUcanTxOvf},
      {0xE0000007, "UCAN_Transmit: NTCAN_CONTR_WARN(0xe0000007)", kUcanWarning},
      {0x12345, "UCAN_Transmit: NTCAN_UNKNOWN(0x00012345)", 0},
  };
  for (const Case& c : cases) {
    failNext_("canWrite", c.result);
    EXPECT_EQ(ucan_.tryTransmit(0, f), UcanTxResult::kFailed) << c.text;
    EXPECT_EQ(ucan_.takeLastError(), c.text);
    EXPECT_EQ(ucan_.UCAN_Status(0) & c.adds, c.adds) << c.text;
  }
  EXPECT_EQ(ucan_.UCAN_Status(0), kUcanTxError | kUcanBusOff | kUcanTxOvf | kUcanWarning);
  // A frame that goes through clears what a frame that went through disproves; the warning stays.
  ASSERT_EQ(ucan_.UCAN_Transmit(0, f), 1);
  EXPECT_EQ(ucan_.UCAN_Status(0), kUcanWarning);

  // A write that returns without taking the frame did not send it.
  setWriteCount_(0);
  EXPECT_EQ(ucan_.UCAN_Transmit(0, f), 0);
  EXPECT_EQ(ucan_.takeLastError(), "UCAN_Transmit: NTCAN_TX_TIMEOUT(0xe0000002)");
  EXPECT_EQ(ucan_.transmitCounter(), 3);

  // A CAN FD payload cannot be carried; sending the first 8 bytes would be another frame.
  calls();
  CanFrame fd;
  fd.id = 0x100;
  fd.length = 12;
  fd.fdFlags = CanFrame::kFdf;
  EXPECT_EQ(ucan_.tryTransmit(0, fd), UcanTxResult::kRefused);
  EXPECT_EQ(ucan_.takeLastError(), "UCAN_Transmit: NTCAN cannot send 12 data bytes !");
  EXPECT_EQ(calls(), Calls{});
}

TEST_F(NtcanTest, StatusOfAClosedControllerIsSaidOnceNotOnEveryPoll) {
  ASSERT_EQ(init(), 1);
  ucan_.clearLastError();
  EXPECT_EQ(ucan_.UCAN_Status(0), 0);
  EXPECT_EQ(ucan_.takeLastError(), "UCAN_Status: NTCAN not initialized !");
  EXPECT_EQ(ucan_.UCAN_Status(0), 0);
  EXPECT_EQ(ucan_.lastError(), "");
  CanFrame f;
  EXPECT_EQ(ucan_.tryTransmit(0, f), UcanTxResult::kRefused);
  EXPECT_EQ(ucan_.takeLastError(), "UCAN_Transmit: NTCAN_INVALID_HANDLE(0x00000006)");
}

TEST_F(NtcanTest, StartsAndStopsTheHelperOncePerStart) {
  params_.ntcanStartPcc = 1;
  params_.ntcanStopPcc = 1;
  ASSERT_EQ(init(), 1);
  EXPECT_EQ(commands_, Calls{"cpcc start"});
  ucan_.UCAN_Exit();
  EXPECT_EQ(commands_, (Calls{"cpcc start", "cpcc stop"}));
  ucan_.UCAN_Exit();
  EXPECT_EQ(commands_.size(), 2u) << "stopped once";

  // Without "stop" the helper keeps running, and is not started twice.
  params_.ntcanStopPcc = 0;
  ASSERT_EQ(init(), 1);
  ucan_.UCAN_Exit();
  ASSERT_EQ(init(), 1);
  EXPECT_EQ(commands_, (Calls{"cpcc start", "cpcc stop", "cpcc start"}));

  // Failures are said, and the library is loaded all the same.
  ucan_.UCAN_Exit();
  params_.ntcanStopPcc = 1;
  ASSERT_EQ(init(), 1);
  EXPECT_EQ(commands_.size(), 3u) << "still running";
  commandsSucceed_ = false;
  ucan_.clearLastError();
  ucan_.UCAN_Exit();
  EXPECT_EQ(ucan_.takeLastError(), "UCAN_Exit: WinExec(\"cpcc stop\") failed.");
  EXPECT_EQ(init(), 1);
  EXPECT_EQ(ucan_.takeLastError(), "UCAN_Init: WinExec(\"cpcc start\") failed.");
  EXPECT_TRUE(ucan_.ready());
}

TEST(NtcanCommandThreaded, RunsTheProgramAndTellsWhetherItStartedAndSucceeded) {
  EXPECT_TRUE(RunCommandLine("true start"));
  EXPECT_FALSE(RunCommandLine("false stop"));
  EXPECT_FALSE(RunCommandLine("busprobe-no-such-cpcc start"));
  EXPECT_FALSE(RunCommandLine("   "));

  // The real runner under the name that is not there: the init says the helper failed.
  ManualClock clock;
  DeferredMessageQueue queue;
  Ucan ucan(clock, queue);
  auto session = std::make_shared<NtcanSession>();
  session->runCommand = [](const std::string& line) { return RunCommandLine("busprobe-no-such-" + line); };
  CanInterfaceTypeRow row = *ucan.interfaceTypes().find(kIntfNtcan);
  row.libraryNames = {BUSPROBE_FAKE_FAKE_NTCAN};
  row.factory = MakeNtcanFactory(session);
  ucan.registerInterfaceType(row);
  CanInterfaceSettings p;
  p.interfaceType = kIntfNtcan;
  p.ntcanStartPcc = 1;
  ucan.UCAN_Init(p);
  EXPECT_EQ(ucan.takeLastError(), "UCAN_Init: WinExec(\"cpcc start\") failed.");
}

TEST_F(NtcanTest, ASlowTakeIsReportedExactlyOnce) {
  SteadyClock steady;
  Ucan ucan(steady, queue_);
  std::vector<std::string> always;
  ucan.setPrinters([](const std::string&) {}, [&](const std::string& l) { always.push_back(l); });
  useLibrary(ucan, BUSPROBE_FAKE_FAKE_NTCAN);
  ASSERT_EQ(init(ucan), 1);
  ASSERT_EQ(ucan.UCAN_InitCtrl(0, 500, 0), 1);
  CanFrame got;
  blockMs_(250);
  EXPECT_EQ(ucan.UCAN_Receive(255, got), 0);
  ASSERT_EQ(always.size(), 1u);
  EXPECT_EQ(always[0].rfind("UCAN: Incredibly slow driver function call (CAN-Receive: ", 0), 0u) << always[0];
  blockMs_(250);
  EXPECT_EQ(ucan.UCAN_Receive(255, got), 0);
  EXPECT_EQ(always.size(), 1u) << "a second slow call within 7 s says nothing";
}

class NtcanPartialTest : public NtcanTest {
 protected:
  NtcanPartialTest() : NtcanTest(BUSPROBE_FAKE_FAKE_NTCAN_PARTIAL) {}
};

TEST_F(NtcanPartialTest, MissingEntryPointsAnswerAsAnInvalidHandle) {
  setVersions_(0x1111, 0x1111, 0x1111);
  ASSERT_EQ(init(), 1) << "the versions are the only thing canStatus gave";
  EXPECT_EQ(session_->hardwareVersion, "Not available");
  ASSERT_EQ(ucan_.UCAN_InitCtrl(0, 500, 0), 1);
  ucan_.clearLastError();
  CanFrame f;
  EXPECT_EQ(ucan_.UCAN_Receive(255, f), 0);
  EXPECT_EQ(ucan_.takeLastError(), "UCAN_Receive failed.");
  f.length = 1;
  EXPECT_EQ(ucan_.tryTransmit(0, f), UcanTxResult::kRefused);
  EXPECT_EQ(ucan_.takeLastError(), "UCAN_Transmit: NTCAN_INVALID_HANDLE(0x00000006)");
}

}  // namespace
}  // namespace busprobe
