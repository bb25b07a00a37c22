#include "traffic/bus_statistics.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "can/can_backend.h"

namespace busprobe {
namespace {

constexpr int kScriptedType = 3;  // unused by the system, so the factory may claim it

// A driver whose status byte and error-frame count the test sets.
class StatusDriver final : public CanBackend {
 public:
  explicit StatusDriver(Ucan& ucan) : CanBackend(ucan, kScriptedType) {}
  int open() override { return 1; }
  int initCtrl(int, int, int) override { return 1; }
  uint8_t status(int bus) override { return statusByte[bus]; }
  uint32_t errorFrames(int bus) const override { return errors[bus]; }

  uint8_t statusByte[2] = {0, 0};
  uint32_t errors[2] = {0, 0};
};

class BusStatisticsTest : public ::testing::Test {
 protected:
  BusStatisticsTest() {
    ucan.setBackendFactory([this](int type) -> std::unique_ptr<CanBackend> {
      if (type != kScriptedType) return nullptr;
      auto d = std::make_unique<StatusDriver>(ucan);
      driver = d.get();
      return d;
    });
    CanInterfaceSettings p;
    p.interfaceType = kScriptedType;
    ucan.UCAN_Init(p);
    ucan.clearLastError();
    while (ucan.popErrorHistory(entry)) {
    }
  }

  ManualClock clock{5000.0};
  DeferredMessageQueue queue;
  Ucan ucan{clock, queue};
  StatusDriver* driver = nullptr;
  UcanErrorEntry entry;
  std::vector<std::string> lines, canLines;
  BusStatistics stats{ucan, [this](const std::string& l) { lines.push_back(l); },
                      [this](const std::string& l) { canLines.push_back(l); }};
  int baud[2] = {500, 0};
};

TEST_F(BusStatisticsTest, ReportRoundsTheErrorShareAndSkipsUnusedBuses) {
  stats.ResetMessageCounters(2.0);
  for (int i = 0; i < 1000; ++i) stats.countReceived(0);
  driver->errors[0] = 3;
  baud[1] = 250;
  for (int i = 0; i < 200; ++i) stats.countReceived(1);
  driver->errors[1] = 1;
  stats.countSent(2);  // relayed buses are not counted
  stats.countReceived(3);
  stats.PrintBusStatistics(baud, 14.46);
  EXPECT_EQ(lines, (std::vector<std::string>{"CAN bus statistics after 12.5 seconds test duration:",
                                             "CAN1: 1000 frames received, 0 sent, 3 error frames (0 %).",
                                             "CAN2: 200 frames received, 0 sent, 1 error frames (1 %)."}));
  lines.clear();
  baud[1] = 0;
  driver->statusByte[0] = kUcanRxOvf | kUcanBusOff | kUcanOther;
  driver->errors[0] = 0;
  stats.ResetMessageCounters(14.46);
  stats.countSent(0);
  stats.PrintBusStatistics(baud, 14.46);
  EXPECT_EQ(lines,
            (std::vector<std::string>{"CAN bus statistics after 0.0 seconds test duration:",
                                      "CAN1:  RX_OVF BUS_OFF other error(s), 0 frames received, 1 sent, 0 "
                                      "error frames."}));
}

TEST_F(BusStatisticsTest, ResetStartsEveryCounterAgain) {
  stats.countReceived(0);
  stats.countSent(1);
  driver->errors[1] = 7;
  EXPECT_EQ(stats.receivedTotal(), 1);
  EXPECT_EQ(stats.sentTotal(), 1);
  EXPECT_EQ(stats.errorFrames(1), 7);
  stats.ResetMessageCounters(9.0);
  EXPECT_EQ(stats.receivedTotal(), 0);
  EXPECT_EQ(stats.sentTotal(), 0);
  EXPECT_EQ(stats.errorFrames(1), 0);
  driver->errors[1] = 9;
  EXPECT_EQ(stats.errorFrames(1), 2);
  EXPECT_DOUBLE_EQ(stats.startTime(), 9.0);
}

TEST_F(BusStatisticsTest, StatusChangesAreReportedOncePerChange) {
  stats.ReportCanErrors(baud, 0);
  EXPECT_TRUE(lines.empty()) << "status 0 at start is no change";
  driver->statusByte[0] = kUcanRxOvf | kUcanBusOff;
  driver->statusByte[1] = kUcanBusOff;  // bus 2 has no bit rate: never asked
  stats.ReportCanErrors(baud, 0);
  stats.ReportCanErrors(baud, 0);
  driver->statusByte[0] = kUcanOther | kUcanWarning;
  stats.ReportCanErrors(baud, 0);
  driver->statusByte[0] = 0;
  clock.advance(250);
  stats.ReportCanErrors(baud, 0);
  EXPECT_EQ(lines, (std::vector<std::string>{"t=5000: CAN-Status changed: 0x0082 =  RX_OVF BUS_OFF",
                                             "t=5000: CAN-Status changed: 0x0041 =  WARNING + other error(s)",
                                             "t=5250: CAN-Status changed: 0x0000 =  all_ok"}));
  EXPECT_EQ(stats.lastStatus(0), 0);
  EXPECT_EQ(stats.lastStatus(1), 0);
}

TEST_F(BusStatisticsTest, ErrorHistoryAndLostFramesArePrinted) {
  ucan.addErrorHistory(0x80, 0x12, 0x34, 77, "TAG");
  stats.ReportCanErrors(baud, 0);
  EXPECT_EQ(lines, (std::vector<std::string>{
                       "CAN-Error-History: ti=5000, flags=0x80, reg=0x12, ext=0x34, line=77 (TAG)"}));
  stats.ReportCanErrors(baud, 3);
  stats.ReportCanErrors(baud, 3);
  EXPECT_EQ(canLines, (std::vector<std::string>{"3 looped-back frames lost so far (loopback queue full) !"}));
}

TEST_F(BusStatisticsTest, ErrorFramesAreNoticedAtMostOncePerSecond) {
  for (int tick = 0; tick < 60; ++tick) {  // three seconds of error frames
    ++driver->errors[0];
    stats.ReportErrorFrames(clock.nowMs());
    clock.advance(50);
  }
  ASSERT_GE(lines.size(), 2u);
  ASSERT_LE(lines.size(), 3u);
  EXPECT_EQ(lines[0], "t=5000: ERROR FRAME RECEIVED (#1) on CAN1 !");
  // a clock that went back does not silence the notice
  lines.clear();
  clock.set(100);
  ++driver->errors[0];
  stats.ReportErrorFrames(clock.nowMs());
  EXPECT_EQ(lines.size(), 1u);
}

}  // namespace
}  // namespace busprobe
