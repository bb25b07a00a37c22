// The Kvaser CANLIB back-end through the UCAN operations, against the fake CANLIB device: loading
// (and refusing a library that lacks an entry point), the call order of a controller start, both
// rate tables both ways, frames both ways with their flags and FD lengths, the status byte, the
// filter, the error texts and the slow-driver watchdog.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <string>
#include <vector>

#include "base/message_queue.h"
#include "can/fakes/canlib_fake.h"
#include "can/interface_types.h"
#include "can/ucan.h"
#include "can/vendor_fake_library.h"

namespace busprobe {
namespace {

class KvaserTest : public ::testing::Test {
 protected:
  explicit KvaserTest(const char* fakePath = BUSPROBE_FAKE_FAKE_CANLIB) : fake_(fakePath) {
    fake_.control<FakeCanlibResetFn>("fake_canlib_reset")();
    log_ = fake_.control<FakeCanlibLogFn>("fake_canlib_log");
    setChannels_ = fake_.control<FakeCanlibSetChannelsFn>("fake_canlib_set_channels");
    setChannelName_ = fake_.control<FakeCanlibSetChannelNameFn>("fake_canlib_set_channel_name");
    failNext_ = fake_.control<FakeCanlibFailNextFn>("fake_canlib_fail_next");
    blockNext_ = fake_.control<FakeCanlibBlockNextFn>("fake_canlib_block_next");
    pushRx_ = fake_.control<FakeCanlibPushRxFn>("fake_canlib_push_rx");
    setStatus_ = fake_.control<FakeCanlibSetStatusFn>("fake_canlib_set_status");
    setTxLevels_ = fake_.control<FakeCanlibSetTxLevelsFn>("fake_canlib_set_tx_levels");
    setTimer_ = fake_.control<FakeCanlibSetTimerFn>("fake_canlib_set_timer");
    setBusParams_ = fake_.control<FakeCanlibSetBusParamsFn>("fake_canlib_set_bus_params");
    setBusParamsFd_ = fake_.control<FakeCanlibSetBusParamsFdFn>("fake_canlib_set_bus_params_fd");
    setVersion_ = fake_.control<FakeCanlibSetVersionFn>("fake_canlib_set_version");
    setErrorTexts_ = fake_.control<FakeCanlibSetErrorTextsFn>("fake_canlib_set_error_texts");
    useLibrary(ucan_, fakePath);
    ucan_.setPrinters([this](const std::string& line) { canLines_.push_back(line); },
                      [this](const std::string& line) { alwaysLines_.push_back(line); });
    params_.interfaceType = kIntfKvaser;
  }

  static void useLibrary(Ucan& ucan, const std::string& path) {
    CanInterfaceTypeRow row = *ucan.interfaceTypes().find(kIntfKvaser);
    row.libraryNames = {path};
    ucan.registerInterfaceType(row);
  }

  // The calls since the last look, without the timer reads the UCAN clock makes on its own.
  std::vector<std::string> calls() {
    std::vector<std::string> all = VendorFakeLibrary::Lines(log_());
    std::vector<std::string> fresh(all.begin() + static_cast<long>(std::min(seen_, all.size())), all.end());
    seen_ = all.size();
    return fresh;
  }
  // The calls of one entry point since the last look.
  std::vector<std::string> callsOf(const std::string& entry) {
    std::vector<std::string> picked;
    for (const std::string& line : calls()) {
      if (line.rfind(entry + "(", 0) == 0) picked.push_back(line);
    }
    return picked;
  }
  void openController(int bus = 0, int baud = 500, int fd = 0) {
    ASSERT_EQ(ucan_.UCAN_Init(params_), 1) << ucan_.lastError();
    ASSERT_EQ(ucan_.UCAN_InitCtrl(bus, baud, fd), 1) << ucan_.lastError();
    ucan_.clearLastError();
    calls();
  }
  void push(int channel, long id, std::vector<uint8_t> data, unsigned length, unsigned flags,
            unsigned long time = 0) {
    data.resize(64);
    pushRx_(channel, id, data.data(), length, flags, time);
  }

  VendorFakeLibrary fake_;
  FakeCanlibLogFn log_;
  FakeCanlibSetChannelsFn setChannels_;
  FakeCanlibSetChannelNameFn setChannelName_;
  FakeCanlibFailNextFn failNext_;
  FakeCanlibBlockNextFn blockNext_;
  FakeCanlibPushRxFn pushRx_;
  FakeCanlibSetStatusFn setStatus_;
  FakeCanlibSetTxLevelsFn setTxLevels_;
  FakeCanlibSetTimerFn setTimer_;
  FakeCanlibSetBusParamsFn setBusParams_;
  FakeCanlibSetBusParamsFdFn setBusParamsFd_;
  FakeCanlibSetVersionFn setVersion_;
  FakeCanlibSetErrorTextsFn setErrorTexts_;
  size_t seen_ = 0;

  ManualClock clock_{1000.0};
  DeferredMessageQueue queue_;
  Ucan ucan_{clock_, queue_};
  CanInterfaceSettings params_;
  std::vector<std::string> canLines_, alwaysLines_;
};

constexpr int kHandle0 = kFakeCanlibHandleBase;
constexpr int kHandle1 = kFakeCanlibHandleBase + 1;

TEST_F(KvaserTest, LoadsInitialisesAndNamesItsChannels) {
  setVersion_(5, 41, 'a', 1);
  setChannelName_(1, nullptr);
  setChannels_(7);  // only two are used
  testing::internal::CaptureStderr();
  params_.debugFlags = 1;
  ASSERT_EQ(ucan_.UCAN_Init(params_), 1);
  const std::string trace = testing::internal::GetCapturedStderr();
  EXPECT_EQ(ucan_.takeLastError(), "UCAN_Init: Loaded Kvaser CANLIB32 V5.41aBETA .");
  EXPECT_NE(trace.find("KVASER_CAN_LoadAndCheckCanLib: trying to load library..\n"
                       "KVASER_CAN_LoadAndCheckCanLib: trying to initialize library..\n"
                       "KVASER_CAN_LoadAndCheckCanLib: returning, success.\n"),
            std::string::npos)
      << trace;
  EXPECT_EQ(ucan_.channelCount(), 2);
  EXPECT_EQ(ucan_.channelName(0), "Fake channel 0");
  EXPECT_EQ(ucan_.channelName(1), "HorseWithNoName1");
  EXPECT_EQ(calls(), (std::vector<std::string>{
                         "canInitializeLibrary( ) = 0",
                         "canGetNumberOfChannels( ) = 0",
                         "canGetChannelData(0, 13, 127) = 0",
                         "canGetChannelData(1, 13, 127) = -1",
                         "canGetVersionEx(0) = 0",
                         "canGetVersionEx(3) = 0",
                     }));

  // A release without a letter and not a beta; a library with one channel.
  setVersion_(5, 2, 0, 0);
  setChannels_(1);
  testing::internal::CaptureStderr();
  ASSERT_EQ(ucan_.UCAN_Init(params_), 1);
  EXPECT_NE(
      testing::internal::GetCapturedStderr().find("KVASER_CAN_UnloadDriver: trying to unload library.."),
      std::string::npos);
  EXPECT_EQ(ucan_.takeLastError(), "UCAN_Init: Loaded Kvaser CANLIB32 V5.2  .");
  EXPECT_EQ(ucan_.channelCount(), 1);
  EXPECT_EQ(ucan_.channelName(1), "CAN2");
  EXPECT_EQ(calls().front(), "canUnloadLibrary( ) = 0");
}

TEST_F(KvaserTest, AMissingLibraryFailsWithItsTextAndLaterCallsSayNotLoaded) {
  useLibrary(ucan_, "libbusprobe-no-such-canlib.so");
  EXPECT_EQ(ucan_.UCAN_Init(params_), 0);
  EXPECT_EQ(ucan_.takeLastError(), "UCAN_Init: FAILED loading Kvaser's CANLIB32 !");
  EXPECT_EQ(ucan_.UCAN_InitCtrl(0, 500, 0), 0);
  EXPECT_EQ(ucan_.takeLastError(), "UCAN_InitCtrl: KVASER CANLIB not loaded !");
  CanFrame f;
  EXPECT_EQ(ucan_.tryTransmit(0, f), UcanTxResult::kRefused);
  EXPECT_EQ(ucan_.UCAN_Receive(255, f), 0);
  EXPECT_EQ(ucan_.UCAN_Status(0), 0);
}

class KvaserPartialTest : public KvaserTest {
 protected:
  KvaserPartialTest() : KvaserTest(BUSPROBE_FAKE_FAKE_CANLIB_PARTIAL) {}
};

TEST_F(KvaserPartialTest, ALibraryLackingOneEntryPointIsUnloadedAgainUntouched) {
  EXPECT_EQ(ucan_.UCAN_Init(params_), 0);
  EXPECT_EQ(ucan_.takeLastError(), "UCAN_Init: FAILED loading Kvaser's CANLIB32 !");
  EXPECT_TRUE(calls().empty()) << "not even initialised";
  EXPECT_EQ(ucan_.UCAN_InitCtrl(0, 500, 0), 0);
  EXPECT_EQ(ucan_.takeLastError(), "UCAN_InitCtrl: KVASER CANLIB not loaded !");
  EXPECT_EQ(ucan_.UCAN_IsChannelOpen(0), 0);
}

TEST_F(KvaserTest, ControllerStartOpensSetsRatesAndGoesBusOn) {
  ASSERT_EQ(ucan_.UCAN_Init(params_), 1);
  ucan_.clearLastError();
  calls();
  setTimer_(400);
  ASSERT_EQ(ucan_.UCAN_InitCtrl(1, 250, 0), 1) << ucan_.lastError();
  EXPECT_EQ(calls(), (std::vector<std::string>{
                         "canOpenChannel(1, 0x20) = 6",
                         "canReadTimer(6) = 0",
                         "canSetBusParams(6, -3, 0, 0, 0, 0, 0) = 0",
                         "canSetBusOutputControl(6, 4) = 0",
                         "canBusOn(6) = 0",
                         "canReadTimer(6) = 0",
                     }));
  EXPECT_EQ(ucan_.UCAN_IsChannelOpen(1), 1);
  EXPECT_EQ(ucan_.UCAN_IsChannelOpen(0), 0);

  // Again: the open channel is closed first. With an FD data rate the channel opens in FD mode and
  // the nominal rate goes through the FD table.
  ASSERT_EQ(ucan_.UCAN_InitCtrl(1, 1000, 4000), 1) << ucan_.lastError();
  EXPECT_EQ(calls(), (std::vector<std::string>{
                         "canClose(6) = 0",
                         "canOpenChannel(1, 0x620) = 6",
                         "canReadTimer(6) = 0",
                         "canSetBusParams(6, -1001, 0, 0, 0, 0, 0) = 0",
                         "canSetBusParamsFd(6, -1003, 0, 0, 0) = 0",
                         "canSetBusOutputControl(6, 4) = 0",
                         "canBusOn(6) = 0",
                         "canReadTimer(6) = 0",
                     }));

  // A channel the library cannot open names the bus as users count them.
  failNext_("canOpenChannel", -3);
  EXPECT_EQ(ucan_.UCAN_InitCtrl(0, 500, 0), 0);
  EXPECT_EQ(ucan_.takeLastError(), "UCAN: Can't open Kvaser Ch 1: fake error -3");
  EXPECT_EQ(ucan_.UCAN_IsChannelOpen(0), 0);

  // Closing the type closes its channels before the library goes.
  calls();
  ucan_.UCAN_Exit();
  EXPECT_EQ(calls(), (std::vector<std::string>{"canClose(6) = 0", "canUnloadLibrary( ) = 0"}));
}

TEST_F(KvaserTest, NominalRatesMapToCodesOrBitTimingAndOthersAreRefused) {
  openController();
  struct Case {
    int kbit;
    const char* params;
  };
  const Case cases[] = {
      {10, "-9, 0, 0, 0, 0"},       {50, "-7, 0, 0, 0, 0"},      {83, "-8, 0, 0, 0, 0"},
      {100, "-5, 0, 0, 0, 0"},      {125, "-4, 0, 0, 0, 0"},     {250, "-3, 0, 0, 0, 0"},
      {500, "-2, 0, 0, 0, 0"},      {1000, "-1, 0, 0, 0, 0"},    {666, "666667, 19, 4, 2, 1"},
      {667, "666667, 19, 4, 2, 1"}, {800, "800000, 7, 2, 1, 1"}, {-4, "-4, 0, 0, 0, 0"},
  };
  for (const Case& c : cases) {
    ASSERT_EQ(ucan_.UCAN_SetBaudrate(0, c.kbit, 0), 1) << c.kbit << ": " << ucan_.takeLastError();
    EXPECT_EQ(calls(), (std::vector<std::string>{"canSetBusParams(5, " + std::string(c.params) + ", 0) = 0"}))
        << c.kbit;
  }
  EXPECT_EQ(ucan_.UCAN_SetBaudrate(0, 20, 0), 0);
  EXPECT_EQ(ucan_.takeLastError(), "UCAN: Baudrate not supported");
  // In FD mode only the FD table's rates exist for the nominal phase.
  EXPECT_EQ(ucan_.UCAN_SetBaudrate(0, 250, 2000), 0);
  EXPECT_EQ(ucan_.takeLastError(), "UCAN: Baudrate not supported");
  EXPECT_TRUE(calls().empty());

  failNext_("canSetBusParams", -13);
  EXPECT_EQ(ucan_.UCAN_SetBaudrate(0, 500, 0), 0);
  EXPECT_EQ(ucan_.takeLastError(), "UCAN: SetBaud error : fake error -13");
  EXPECT_EQ(ucan_.UCAN_SetBaudrate(1, 500, 0), 0);
  EXPECT_EQ(ucan_.takeLastError(), "UCAN: SetBaud error : channel not opened");
}

TEST_F(KvaserTest, FdDataRatesUseCodesOrTheirOwnBitTiming) {
  openController(0, 500, 2000);
  const std::pair<int, const char*> cases[] = {
      {500, "-1000, 0, 0, 0"},   {1000, "-1001, 0, 0, 0"}, {2000, "-1002, 0, 0, 0"},
      {4000, "-1003, 0, 0, 0"},  {8000, "-1004, 0, 0, 0"}, {5000, "5000000, 15, 4, 4"},
      {-1002, "-1002, 0, 0, 0"},
  };
  for (const auto& [kbit, params] : cases) {
    ASSERT_EQ(ucan_.UCAN_SetBaudrate(0, 1000, kbit), 1) << kbit << ": " << ucan_.takeLastError();
    EXPECT_EQ(callsOf("canSetBusParamsFd"),
              (std::vector<std::string>{"canSetBusParamsFd(5, " + std::string(params) + ") = 0"}))
        << kbit;
  }
  // No FD rate, or no positive nominal rate: the data phase is left alone.
  ASSERT_EQ(ucan_.UCAN_SetBaudrate(0, 500, 0), 1);
  ASSERT_EQ(ucan_.UCAN_SetBaudrate(0, -1000, 2000), 1);
  EXPECT_TRUE(callsOf("canSetBusParamsFd").empty());

  failNext_("canSetBusParamsFd", -1);
  EXPECT_EQ(ucan_.UCAN_SetBaudrate(0, 500, 2000), 0);
  EXPECT_EQ(ucan_.takeLastError(), "UCAN: Failed to set 'FD' rate : failed to set CAN FD bus parameters");
}

TEST_F(KvaserTest, ReadingRatesBackGivesKbitAndTheBitTimingText) {
  openController();
  setBusParams_(0, 500000, 13, 2, 1, 1);
  int baud = 0, fd = -1;
  std::string text;
  ASSERT_EQ(ucan_.UCAN_GetBaudrate(0, &baud, &fd, &text), 1);
  EXPECT_EQ(baud, 500);
  EXPECT_EQ(fd, 0) << "a classic channel has no data phase";
  EXPECT_EQ(text, "ts1=13, ts2=2, sjw=1, tq=125 ns");
  EXPECT_TRUE(callsOf("canGetBusParamsFd").empty());

  setBusParams_(0, 666667, 19, 4, 2, 3);
  ASSERT_EQ(ucan_.UCAN_GetBaudrate(0, &baud, nullptr, &text), 1);
  EXPECT_EQ(baud, 666);
  EXPECT_EQ(text, "ts1=19, ts2=4, sjw=2, tq=62 ns, nSamp=3");

  // Garbage timing from the driver must not divide by zero.
  setBusParams_(0, 0, 0, 0, 0, 1);
  ASSERT_EQ(ucan_.UCAN_GetBaudrate(0, &baud, nullptr, &text), 1);
  EXPECT_EQ(text, "ts1=0, ts2=0, sjw=0, tq=0 ns");

  // An FD channel also reports its data phase.
  ASSERT_EQ(ucan_.UCAN_InitCtrl(1, 1000, 2000), 1);
  setBusParams_(1, 1000000, 31, 8, 8, 1);
  setBusParamsFd_(1, 2000000, 15, 4, 4);
  ASSERT_EQ(ucan_.UCAN_GetBaudrate(1, &baud, &fd, &text), 1);
  EXPECT_EQ(baud, 1000);
  EXPECT_EQ(fd, 2000);
  EXPECT_EQ(text, "ts1=31, ts2=8, sjw=8, tq=25 ns; FD:ts1=15, ts2=4, sjw=4, tq=25 ns");

  failNext_("canGetBusParams", -10);
  EXPECT_EQ(ucan_.UCAN_GetBaudrate(1, &baud, &fd, &text), 0);
  EXPECT_EQ(baud, 0);
  EXPECT_EQ(ucan_.takeLastError(), "UCAN: GetBaud error : fake error -10");
}

TEST_F(KvaserTest, ReceivesFramesOfBothChannelsWithTheirFlagsAndTimes) {
  ASSERT_EQ(ucan_.UCAN_Init(params_), 1);
  ucan_.clearLastError();
  setTimer_(400);  // local 1000: the channels' offset is 600 ms
  ASSERT_EQ(ucan_.UCAN_InitCtrl(0, 500, 0), 1);
  ASSERT_EQ(ucan_.UCAN_InitCtrl(1, 500, 2000), 1);

  push(1, 0x1ABCDEF, {1, 2, 3}, 3, 0x04, 450);
  push(0, 0x7FF, {}, 2, 0x02 | 0x01, 451);
  push(0, 0x20, {}, 0, 0x20, 452);  // error frame
  push(0, 0x21, {}, 0, 0x40);
  push(0, 0x123, {9, 8, 7, 6, 5, 4, 3, 2, 1, 0, 9, 8}, 12, 0x02 | 0x10000 | 0x20000 | 0x40000, 460);
  push(1, 0xFFFFF800 | 0x155, {}, 200, 0x02, 470);  // garbage identifier bits and length

  CanFrame f;
  // Bus 255 reads the channels in order: channel 0 first, past its error and hidden frames.
  ASSERT_EQ(ucan_.UCAN_Receive(255, f), 1);
  EXPECT_EQ(f.id, 0x7FFu);
  EXPECT_EQ(f.rtr, 1);
  EXPECT_EQ(f.fdFlags, CanFrame::kKvaserRemote);
  EXPECT_EQ(f.length, 2);
  EXPECT_EQ(f.timestamp, 1051u);

  ASSERT_EQ(ucan_.UCAN_Receive(255, f), 1);
  EXPECT_EQ(f.identifier(), 0x123u);
  EXPECT_FALSE(f.extended());
  EXPECT_EQ(f.fdFlags, CanFrame::kFdf | CanFrame::kBrs | CanFrame::kEsi);
  EXPECT_EQ(f.length, 12);
  EXPECT_EQ(f.data[11], 8);
  EXPECT_EQ(ucan_.errorFrameCount(0), 1u) << "counted, not delivered";

  ASSERT_EQ(ucan_.UCAN_Receive(255, f), 1);
  EXPECT_EQ(f.id, 0x1ABCDEFu | CanFrame::kExtended | 0x40000000u);
  EXPECT_EQ(f.bus(), 1);
  EXPECT_EQ(f.fdFlags, CanFrame::kKvaserExtended);
  EXPECT_EQ(f.length, 3);
  EXPECT_EQ(f.data[2], 3);
  EXPECT_EQ(f.timestamp, 1050u);

  ASSERT_EQ(ucan_.UCAN_Receive(1, f), 1);
  EXPECT_EQ(f.id, 0x155u | 0x40000000u) << "a standard identifier keeps 11 bits";
  EXPECT_EQ(f.length, 8) << "a classic frame holds 8 bytes";

  EXPECT_EQ(ucan_.UCAN_Receive(255, f), 0);
  EXPECT_EQ(ucan_.lastError(), "") << "an empty queue is no failure";
  failNext_("canRead", -15);
  EXPECT_EQ(ucan_.UCAN_Receive(0, f), 0);
  EXPECT_EQ(ucan_.takeLastError(), "UCAN_Receive: fake error -15");
}

TEST_F(KvaserTest, TransmitsWithFlagsRoundedFdLengthsAndWaitsForTheBuffer) {
  openController(0, 500, 2000);
  // The UCAN clock follows the adapter's timer.
  clock_.set(5000);
  setTimer_(4000);
  CanFrame f;
  f.id = 0x1234567 | CanFrame::kExtended;
  f.length = 10;
  f.fdFlags = CanFrame::kFdf | CanFrame::kBrs;
  f.data[0] = 0xAA;
  f.data[9] = 0xBB;
  ASSERT_EQ(ucan_.UCAN_Transmit(0, f), 1) << ucan_.lastError();
  EXPECT_EQ(f.timestamp, 5000u);
  EXPECT_EQ(calls(), (std::vector<std::string>{
                         "canReadTimer(5) = 0",  // the clock's resynchronisation
                         "canIoCtl(5, 9, 4) = 0",
                         "canWriteWait(5, 0x1234567, AA0000000000000000BB0000, 12, 0x30004, 20) = 0",
                     }));

  CanFrame remote;
  remote.id = 0x123;
  remote.rtr = 1;
  remote.length = 0;
  remote.fdFlags = CanFrame::kEsi;
  ASSERT_EQ(ucan_.UCAN_Transmit(0, remote), 1);
  EXPECT_EQ(callsOf("canWriteWait"),
            (std::vector<std::string>{"canWriteWait(5, 0x123, , 0, 0x40003, 20) = 0"}));

  // A full transmit buffer is given 10 ms at a time, at most 10 times.
  const int levels[] = {250, 200, 199};
  setTxLevels_(levels, 3);
  const double before = clock_.nowMs();
  ASSERT_EQ(ucan_.UCAN_Transmit(0, remote), 1);
  EXPECT_EQ(clock_.nowMs() - before, 20.0);
  EXPECT_EQ(callsOf("canIoCtl").size(), 3u);
  const int full[] = {500, 500, 500, 500, 500, 500, 500, 500, 500, 500, 500, 500};
  setTxLevels_(full, 12);
  ASSERT_EQ(ucan_.UCAN_Transmit(0, remote), 1);
  EXPECT_EQ(callsOf("canIoCtl").size(), 10u);

  // A failed write names the call and the error and shows in the status byte until a success.
  failNext_("canWriteWait", -13);
  EXPECT_EQ(ucan_.tryTransmit(0, f), UcanTxResult::kFailed);
  EXPECT_EQ(ucan_.takeLastError(), "KvaserCanTransmit(0): canWriteWait(20 ms) : fake error -13");
  EXPECT_EQ(ucan_.UCAN_Status(0) & kUcanTxError, kUcanTxError);
  ASSERT_EQ(ucan_.UCAN_Transmit(0, f), 1);
  EXPECT_EQ(ucan_.UCAN_Status(0), 0);

  EXPECT_EQ(ucan_.tryTransmit(1, f), UcanTxResult::kRefused) << "channel 1 is not open";
  EXPECT_EQ(ucan_.takeLastError(), "KvaserCanTransmit(1): fake error -10");
}

TEST_F(KvaserTest, StatusAndBusyFollowTheChannelStatusFlags) {
  openController();
  struct Case {
    unsigned long flags;
    int status;
  };
  const Case cases[] = {
      {0x00, 0},
      {0x02, kUcanBusOff},
      {0x04, kUcanWarning},
      {0x80, kUcanWarning},
      {0x100, kUcanWarning},
      {0x10, 0},  // pending alone is no overrun
      {0x200 | 0x10, kUcanTxOvf},
      {0x400 | 0x20, kUcanRxOvf},
      {0x200 | 0x10 | 0x20 | 0x02, kUcanTxOvf | kUcanRxOvf | kUcanBusOff},
  };
  for (const Case& c : cases) {
    setStatus_(0, c.flags);
    EXPECT_EQ(ucan_.UCAN_Status(0), c.status) << std::hex << c.flags;
  }
  failNext_("canReadStatus", -10);
  EXPECT_EQ(ucan_.UCAN_Status(0), kUcanOther);
  EXPECT_EQ(ucan_.UCAN_Status(1), 0) << "a bus not in use is not an error";

  setStatus_(0, 0x10);
  EXPECT_EQ(ucan_.UCAN_TxBusy(0), 1);
  setStatus_(0, 0x20);
  EXPECT_EQ(ucan_.UCAN_TxBusy(0), 0);
}

TEST_F(KvaserTest, FilterGoesToTheChannelAndResetRestartsIt) {
  openController();
  ASSERT_EQ(ucan_.UCAN_SetRcvID(0, 0x100, 0x700), 1);
  EXPECT_EQ(calls(), (std::vector<std::string>{"canSetAcceptanceFilter(5, 0x100, 0x700, 0) = 0"}));
  EXPECT_EQ(ucan_.UCAN_SetRcvID(1, 0x100, 0x700), 0);
  EXPECT_EQ(ucan_.takeLastError(), "UCAN_SetID Error : fake error -10 .");
  calls();

  setTimer_(100);
  ASSERT_EQ(ucan_.resetController(0), 1);
  EXPECT_EQ(calls(), (std::vector<std::string>{"canResetBus(5) = 0", "canReadTimer(5) = 0"}));
  push(0, 0x10, {}, 0, 0x02, 150);
  CanFrame f;
  ASSERT_EQ(ucan_.UCAN_Receive(0, f), 1);
  EXPECT_EQ(f.timestamp, 1050u) << "times follow the timer read at the reset";
}

TEST_F(KvaserTest, ErrorTextsComeFromTheLibraryElseFromTheTable) {
  openController();
  setErrorTexts_(0);
  const std::pair<int, const char*> cases[] = {
      {-18, "Error when initializing DLL"},
      {-17, "DLL seems to be wrong version"},
      {-16, "Can't find requested DLL"},
      {-15, "Some hardware error has occurred"},
      {-14, "Some RESERVED error"},
      {-13, "Transmit buffer overflow"},
      {-12, "CAN driver type not supported"},
      {-11, "Error in the ini-file (16-bit only)"},
      {-10, "Handle is invalid"},
      {-9, "Can't get handle"},
      {-8, "Lib not initialized"},
      {-7, "Some other strange error code (-7)"},
      {-99, "Some other strange error code (-99)"},
  };
  for (const auto& [code, text] : cases) {
    failNext_("canSetAcceptanceFilter", code);
    EXPECT_EQ(ucan_.UCAN_SetRcvID(0, 0, 0), 0);
    EXPECT_EQ(ucan_.takeLastError(), "UCAN_SetID Error : " + std::string(text) + " .");
  }
}

TEST_F(KvaserTest, AnUnsteadyClockDuringControllerStartIsNoticedAtMostTenTimes) {
  ASSERT_EQ(ucan_.UCAN_Init(params_), 1);
  clock_.setAutoAdvance(250);  // the reads before and after going bus-on: 250 ms apart
  for (int i = 0; i < 12; ++i) ASSERT_EQ(ucan_.UCAN_InitCtrl(0, 500, 0), 1);
  clock_.setAutoAdvance(0);
  ASSERT_EQ(canLines_.size(), 10u);
  EXPECT_EQ(canLines_[0].rfind("Windows QueryPerformanceCounter() is running wild, delta t = ", 0), 0u)
      << canLines_[0];

  // The count belongs to the loaded back-end: a second Ucan has its own.
  Ucan other(clock_, queue_);
  useLibrary(other, BUSPROBE_FAKE_FAKE_CANLIB);
  std::vector<std::string> otherLines;
  other.setPrinters([&](const std::string& line) { otherLines.push_back(line); }, nullptr);
  ASSERT_EQ(other.UCAN_Init(params_), 1);
  clock_.setAutoAdvance(250);
  ASSERT_EQ(other.UCAN_InitCtrl(1, 500, 0), 1);
  clock_.setAutoAdvance(0);
  EXPECT_EQ(otherLines.size(), 1u);
}

// A host of its own: UCAN refuses bus 255 for filters before any back-end sees it, but the back-end
// sets both channels for it.
class FilterHost final : public CanBackendHost {
 public:
  void setErrorV(const char* format, va_list args) override {
    char buf[256];
    std::vsnprintf(buf, sizeof buf, format, args);
    errors.emplace_back(buf);
  }
  uint32_t clockMsWhole() override { return 0; }
  const CanInterfaceSettings& params() const override { return settings; }
  int baudrate(int) const override { return 0; }
  int fdDataRate(int) const override { return 0; }
  std::shared_ptr<VirtualBus> virtualBus() override { return nullptr; }
  CvUdpEndpoint* cvudpEndpoint() override { return nullptr; }
  std::vector<std::string> errors;
  CanInterfaceSettings settings;
};

TEST(KvaserBackendAlone, AFilterForAnyBusGoesToBothChannels) {
  VendorFakeLibrary fake(BUSPROBE_FAKE_FAKE_CANLIB);
  fake.control<FakeCanlibResetFn>("fake_canlib_reset")();
  auto log = fake.control<FakeCanlibLogFn>("fake_canlib_log");
  FilterHost host;
  CanInterfaceTypeRow row = *CanInterfaceTable().find(kIntfKvaser);
  row.libraryNames = {BUSPROBE_FAKE_FAKE_CANLIB};
  auto kvaser = MakeKvaserBackend(host, row);
  ASSERT_EQ(kvaser->open(), 1);
  ASSERT_EQ(kvaser->initCtrl(0, 500, 0), 1);
  ASSERT_EQ(kvaser->initCtrl(1, 500, 0), 1);
  const size_t before = VendorFakeLibrary::Lines(log()).size();
  EXPECT_EQ(kvaser->setRcvId(255, 0x100, 0x700), 1);
  const std::vector<std::string> all = VendorFakeLibrary::Lines(log());
  EXPECT_EQ(std::vector<std::string>(all.begin() + static_cast<long>(before), all.end()),
            (std::vector<std::string>{"canSetAcceptanceFilter(5, 0x100, 0x700, 0) = 0",
                                      "canSetAcceptanceFilter(6, 0x100, 0x700, 0) = 0"}));
  kvaser->close();
  kvaser->close();  // twice is harmless
}

TEST(KvaserSlowDriver, ABlockingReadGivesExactlyOneSlowDriverLine) {
  VendorFakeLibrary fake(BUSPROBE_FAKE_FAKE_CANLIB);
  fake.control<FakeCanlibResetFn>("fake_canlib_reset")();
  auto blockNext = fake.control<FakeCanlibBlockNextFn>("fake_canlib_block_next");
  auto setStatus = fake.control<FakeCanlibSetStatusFn>("fake_canlib_set_status");
  SteadyClock clock;
  DeferredMessageQueue queue;
  Ucan ucan(clock, queue);
  CanInterfaceTypeRow row = *ucan.interfaceTypes().find(kIntfKvaser);
  row.libraryNames = {BUSPROBE_FAKE_FAKE_CANLIB};
  ucan.registerInterfaceType(row);
  std::vector<std::string> always;
  ucan.setPrinters(nullptr, [&](const std::string& line) { always.push_back(line); });
  CanInterfaceSettings params;
  params.interfaceType = kIntfKvaser;
  ASSERT_EQ(ucan.UCAN_Init(params), 1);
  ASSERT_EQ(ucan.UCAN_InitCtrl(0, 500, 0), 1);

  CanFrame f;
  blockNext("canRead", 250);
  EXPECT_EQ(ucan.UCAN_Receive(0, f), 0);
  blockNext("canRead", 250);
  EXPECT_EQ(ucan.UCAN_Receive(0, f), 0);
  ASSERT_EQ(always.size(), 1u);
  EXPECT_EQ(always[0].rfind("UCAN: Incredibly slow driver function call (CAN-Receive: ", 0), 0u) << always[0];
  // While the driver is marked slow, its transmit queue is not asked about.
  setStatus(0, 0x10);
  EXPECT_EQ(ucan.UCAN_TxBusy(0), 0);
}

}  // namespace
}  // namespace busprobe
