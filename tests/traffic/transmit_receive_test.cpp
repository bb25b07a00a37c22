#include <gtest/gtest.h>

#include <deque>
#include <string>
#include <thread>
#include <vector>

#include "can/can_backend.h"
#include "traffic/traffic_paths.h"

namespace busprobe {
namespace {

constexpr int kScriptedType = 3;  // unused by the system, so the factory may claim it

// A driver that fails as many transmissions as the test asks, with a text, and notes when each
// attempt came.
class TxDriver final : public CanBackend {
 public:
  TxDriver(Ucan& ucan, ManualClock& clock) : CanBackend(ucan, kScriptedType), clock_(clock) {}
  int open() override { return 1; }
  int initCtrl(int, int, int) override { return 1; }
  uint8_t status(int bus) override { return statusByte[bus]; }
  int transmit(int, CanFrame& frame) override {
    attemptsAt.push_back(clock_.nowMs());
    if (failures > 0) {
      --failures;
      host_.setError("%s", failureText.c_str());
      return refuse ? kTransmitRefused : 0;
    }
    frame.timestamp = static_cast<uint32_t>(clock_.nowMs());
    return 1;
  }

  int failures = 0;
  bool refuse = false;  // the failures are of the kind no second attempt can mend
  std::string failureText = "UCAN_Transmit: queue full";
  std::vector<double> attemptsAt;
  uint8_t statusByte[2] = {0, 0};

 private:
  ManualClock& clock_;
};

// A manual clock that, whenever the code under test waits, looks whether another thread could take
// the UCAN lock meanwhile.
class LockProbeClock final : public Clock {
 public:
  double nowMs() const override { return time.nowMs(); }
  void sleepMs(double ms) override {
    if (ucan) {
      bool free = false;
      std::thread other([&] {
        free = ucan->lock().try_lock();
        if (free) ucan->lock().unlock();
      });
      other.join();
      lockFreeDuringWait.push_back(free);
    }
    time.sleepMs(ms);
  }
  ManualClock time{1000.0};
  Ucan* ucan = nullptr;
  std::vector<bool> lockFreeDuringWait;
};

class RecordingLog final : public TrafficLog {
 public:
  bool isOpen() const override { return open; }
  bool isAscii() const override { return ascii; }
  void writeText(std::string_view text) override { writes.emplace_back(text); }
  void writeAscFrame(const CanFrame& frame, char direction) override {
    writes.push_back(std::string("asc ") + direction + " " + std::to_string(frame.identifier()));
  }
  bool open = true, ascii = false;
  std::vector<std::string> writes;
};

CanFrame Frame(uint32_t id, std::initializer_list<uint8_t> bytes) {
  CanFrame f;
  f.id = id;
  f.length = static_cast<uint8_t>(bytes.size());
  int i = 0;
  for (uint8_t b : bytes) f.data[i++] = b;
  return f;
}

std::vector<std::string> Texts(const FrameList& list) {
  std::vector<std::string> out;
  for (size_t i = 0; i < list.count(); ++i) out.emplace_back(list.entry(i).view());
  return out;
}

class TrafficPathsTest : public ::testing::Test {
 protected:
  TrafficPathsTest() {
    ucan.setBackendFactory([this](int type) -> std::unique_ptr<CanBackend> {
      if (type != kScriptedType) return nullptr;
      auto d = std::make_unique<TxDriver>(ucan, clock);
      driver = d.get();
      return d;
    });
    CanInterfaceSettings p;
    p.interfaceType = kScriptedType;
    ucan.UCAN_Init(p);
    settings.display.timeStampDisplay = 0;
    settings.display.rxTxCombined = 0;
    paths.setLog(&log);
  }

  ManualClock clock{1000.0};
  DeferredMessageQueue queue;
  Ucan ucan{clock, queue};
  TxDriver* driver = nullptr;
  struct {
    CanDisplaySettings display;
    LoggingSettings logging;
  } settings;
  std::vector<std::string> lines, canLines;
  RecordingLog log;
  TrafficPaths paths{ucan,
                     clock,
                     settings.display,
                     settings.logging,
                     [this](const std::string& l) { lines.push_back(l); },
                     [this](const std::string& l) { canLines.push_back(l); }};
  const std::string pad8 = std::string(6 * 3, ' ');  // the blank columns after a 2-byte frame
};

TEST_F(TrafficPathsTest, SentFrameIsCountedListedAndLoggedWithItsMark) {
  CanFrame f = Frame(0x123, {0x11, 0x22});
  ASSERT_TRUE(paths.TransmitFrame(f));
  EXPECT_EQ(paths.statistics().sent(0), 1);
  const std::string line = "123 11 22 " + pad8;
  EXPECT_EQ(Texts(paths.txList()), std::vector<std::string>{line});
  EXPECT_TRUE(paths.rxList().count() == 0);
  // the ";[T]" mark at column 43 reaches the log only
  EXPECT_EQ(log.writes, std::vector<std::string>{line + std::string(43 - line.size(), ' ') + ";[T]\r\n"});
  EXPECT_EQ(paths.display().previousTime, f.timestamp);

  settings.logging.markRxTx = 0;
  settings.logging.logTxMsgs = 0;
  log.writes.clear();
  ASSERT_TRUE(paths.TransmitFrame(f));
  EXPECT_TRUE(log.writes.empty());
  log.ascii = true;
  settings.logging.logTxMsgs = 1;
  ASSERT_TRUE(paths.TransmitFrame(f));
  EXPECT_EQ(log.writes, std::vector<std::string>{"asc T 291"});
}

TEST_F(TrafficPathsTest, FailedTransmissionIsRetriedOnceAfterTenMilliseconds) {
  driver->failures = 1;
  CanFrame f = Frame(0x100, {1});
  ASSERT_TRUE(paths.TransmitFrame(f));
  ASSERT_EQ(driver->attemptsAt.size(), 2u);
  EXPECT_DOUBLE_EQ(driver->attemptsAt[1] - driver->attemptsAt[0], 10.0);
  EXPECT_TRUE(lines.empty());
  EXPECT_TRUE(ucan.lastError().empty()) << "the first attempt's failure is forgotten";
  EXPECT_EQ(paths.statistics().sent(0), 1);
}

TEST_F(TrafficPathsTest, FailureThatCannotClearIsNotRetriedAndTakesNoTime) {
  // A bus index outside the buses: the relay of a CAN-via-UDP server hands on selectors 2 and 3.
  CanFrame f = Frame(0x100 | (2u << CanFrame::kBusShift), {1});
  const double before = clock.nowMs();
  EXPECT_FALSE(paths.TransmitFrame(f));
  EXPECT_EQ(clock.nowMs(), before) << "no wait for a failure that cannot clear";
  EXPECT_EQ(lines,
            std::vector<std::string>{"  <TX-error:UCAN_Transmit: Illegal bus-index (2, allowed: 0..1) !>"});

  // The driver's own refusals (channel not open, a frame the bus cannot carry) are tried once.
  driver->failures = 2;
  driver->refuse = true;
  driver->failureText = "UCAN_Transmit: SocketCAN interface \"can0\" does not take CAN FD frames !";
  CanFrame g = Frame(0x200, {1});
  EXPECT_FALSE(paths.TransmitFrame(g));
  EXPECT_EQ(driver->attemptsAt.size(), 1u);
  EXPECT_EQ(clock.nowMs(), before);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[1], "  <TX-error:" + driver->failureText + ">");

  // Neither is the back-end without a driver ("none").
  Ucan bare(clock, queue);
  TrafficPaths barePaths(
      bare, clock, settings.display, settings.logging, [](const std::string&) {}, [](const std::string&) {});
  CanFrame h = Frame(0x300, {1});
  EXPECT_FALSE(barePaths.TransmitFrame(h));
  EXPECT_EQ(clock.nowMs(), before);
}

TEST_F(TrafficPathsTest, ThreadedRetryWaitLetsGoOfTheUcanLock) {
  LockProbeClock probe;
  Ucan ucan2(probe, queue);
  TxDriver* d = nullptr;
  ucan2.setBackendFactory([&](int type) -> std::unique_ptr<CanBackend> {
    if (type != kScriptedType) return nullptr;
    auto made = std::make_unique<TxDriver>(ucan2, probe.time);
    d = made.get();
    return made;
  });
  CanInterfaceSettings p;
  p.interfaceType = kScriptedType;
  ucan2.UCAN_Init(p);
  ASSERT_NE(d, nullptr);
  probe.ucan = &ucan2;
  TrafficPaths paths2(
      ucan2, probe, settings.display, settings.logging, [](const std::string&) {}, [](const std::string&) {});

  d->failures = 1;
  CanFrame f = Frame(0x100, {1});
  ASSERT_TRUE(paths2.TransmitFrame(f));
  ASSERT_EQ(d->attemptsAt.size(), 2u);
  EXPECT_DOUBLE_EQ(d->attemptsAt[1] - d->attemptsAt[0], 10.0);
  EXPECT_EQ(probe.lockFreeDuringWait, std::vector<bool>{true});

  // A caller holding the lock itself cannot be let go for: the second attempt comes at once.
  d->attemptsAt.clear();
  d->failures = 1;
  {
    std::lock_guard<UcanLock> held(ucan2.lock());
    ASSERT_TRUE(paths2.TransmitFrame(f));
  }
  ASSERT_EQ(d->attemptsAt.size(), 2u);
  EXPECT_EQ(d->attemptsAt[1], d->attemptsAt[0]);
  EXPECT_EQ(probe.lockFreeDuringWait.size(), 1u) << "no wait under the lock";
}

TEST_F(TrafficPathsTest, FailuresOfOneCauseInATickAreToldOnceWithTheirCount) {
  auto illegal = [](int bus) {
    return Frame(0x100 | (static_cast<uint32_t>(bus) << CanFrame::kBusShift), {1});
  };
  const std::string bus2 = "UCAN_Transmit: Illegal bus-index (2, allowed: 0..1) !";
  const std::string bus3 = "UCAN_Transmit: Illegal bus-index (3, allowed: 0..1) !";
  for (int i = 0; i < 50; ++i) {
    CanFrame f = illegal(2 + (i & 1));
    EXPECT_FALSE(paths.TransmitFrame(f));
  }
  EXPECT_EQ(lines, (std::vector<std::string>{"  <TX-error:" + bus2 + ">", "  <TX-error:" + bus3 + ">"}));
  paths.endTick();
  const std::vector<std::string> expected = {"  <TX-error:" + bus2 + ">", "  <TX-error:" + bus3 + ">",
                                             "  <TX-error: 24 more frames not sent: " + bus2 + ">",
                                             "  <TX-error: 24 more frames not sent: " + bus3 + ">"};
  EXPECT_EQ(lines, expected);
  std::vector<std::string> logged;
  for (const std::string& l : expected) logged.push_back(l + "\r\n");
  EXPECT_EQ(log.writes, logged) << "the log gets the same lines";

  // A new tick starts afresh; a tick with a single failure needs no summary.
  lines.clear();
  CanFrame f = illegal(2);
  EXPECT_FALSE(paths.TransmitFrame(f));
  paths.endTick();
  paths.endTick();
  EXPECT_EQ(lines, std::vector<std::string>{"  <TX-error:" + bus2 + ">"});

  // Causes beyond the few told one by one are counted together.
  lines.clear();
  driver->failures = 40;
  driver->refuse = true;
  for (int i = 0; i < 20; ++i) {
    driver->failureText = "UCAN_Transmit: cause " + std::to_string(i);
    CanFrame g = Frame(0x200, {1});
    EXPECT_FALSE(paths.TransmitFrame(g));
  }
  paths.endTick();
  ASSERT_EQ(lines.size(), 9u);
  EXPECT_EQ(lines[7], "  <TX-error:UCAN_Transmit: cause 7>");
  EXPECT_EQ(lines[8], "  <TX-error: 12 more frames not sent, for other reasons>");
}

TEST_F(TrafficPathsTest, FailureGivesTheTxErrorLine) {
  driver->failures = 2;
  CanFrame f = Frame(0x100, {1});
  EXPECT_FALSE(paths.TransmitFrame(f));
  EXPECT_EQ(driver->attemptsAt.size(), 2u);
  EXPECT_EQ(lines, std::vector<std::string>{"  <TX-error:UCAN_Transmit: queue full>"});
  EXPECT_EQ(log.writes, std::vector<std::string>{"  <TX-error:UCAN_Transmit: queue full>\r\n"});
  EXPECT_EQ(paths.statistics().sent(0), 0);
  EXPECT_EQ(paths.txList().count(), 0u);

  // a text that does not begin printably is left out; a stopped Tx pane hides the line; the log
  // takes it only in the text format with both LogOthers and LogTxMsgs
  lines.clear();
  log.writes.clear();
  driver->failures = 2;
  driver->failureText = "\x01odd";
  settings.logging.logOthers = 0;
  EXPECT_FALSE(paths.TransmitFrame(f));
  EXPECT_EQ(lines, std::vector<std::string>{"  <TX-error>"});
  EXPECT_TRUE(log.writes.empty());
  settings.logging.logOthers = 1;
  log.ascii = true;
  paths.display().txDisplayStopped = true;
  driver->failures = 2;
  EXPECT_FALSE(paths.TransmitFrame(f));
  EXPECT_EQ(lines.size(), 1u);
  EXPECT_TRUE(log.writes.empty());
}

TEST_F(TrafficPathsTest, BusOffRefusesWithoutTryingTheDriver) {
  driver->statusByte[0] = kUcanBusOff;
  const int baud[2] = {500, 0};
  paths.statistics().ReportCanErrors(baud, 0);
  lines.clear();
  CanFrame f = Frame(0x100, {1});
  EXPECT_FALSE(paths.TransmitFrame(f));
  EXPECT_TRUE(driver->attemptsAt.empty());
  EXPECT_EQ(lines, std::vector<std::string>{"  <TX-error:UCAN_Transmit: CAN1 is BUS-OFF, frame not sent !>"});
  // bus 2 is not affected
  CanFrame g = Frame(0x100 | (1u << CanFrame::kBusShift), {1});
  EXPECT_TRUE(paths.TransmitFrame(g));
  // "other error(s)" refuses too; a recovered bus sends again
  driver->statusByte[0] = kUcanOther;
  paths.statistics().ReportCanErrors(baud, 0);
  EXPECT_FALSE(paths.TransmitFrame(f));
  driver->statusByte[0] = 0;
  paths.statistics().ReportCanErrors(baud, 0);
  EXPECT_TRUE(paths.TransmitFrame(f));
}

TEST_F(TrafficPathsTest, LoopbackQueuesTheFrameAndCountsWhatDoesNotFit) {
  CanFrame f = Frame(0x321, {9});
  ASSERT_TRUE(paths.TransmitFrame(f, kTxLoopback));
  CanFrame got;
  ASSERT_TRUE(paths.takeLoopback(got));
  EXPECT_EQ(got.identifier(), 0x321u);
  EXPECT_EQ(got.fdFlags & CanFrame::kLoopback, CanFrame::kLoopback);
  EXPECT_FALSE(paths.takeLoopback(got));

  // the call succeeds even when the driver refuses, and the frame still gets a time
  driver->failures = 2;
  clock.set(7777);
  CanFrame g = Frame(0x322, {9});
  EXPECT_TRUE(paths.TransmitFrame(g, kTxLoopback));
  ASSERT_TRUE(paths.takeLoopback(got));
  EXPECT_EQ(got.timestamp, 7787u);
  EXPECT_TRUE(lines.empty());

  for (uint32_t i = 0; i < TrafficPaths::kLoopbackCapacity + 5; ++i) paths.TransmitFrame(f, kTxLoopback);
  EXPECT_EQ(paths.loopbackDropped(), 5u);
}

TEST_F(TrafficPathsTest, CombinedViewMarksSentLinesInTheRxList) {
  settings.display.rxTxCombined = 1;
  CanFrame rx = Frame(0x200, {0xAA, 0xBB});
  rx.timestamp = 900;
  paths.showReceived(rx);
  paths.logReceived(rx);
  CanFrame tx = Frame(0x123, {0x11, 0x22});
  ASSERT_TRUE(paths.TransmitFrame(tx));
  const std::string sent = "123 11 22 " + pad8;
  ASSERT_EQ(paths.rxList().count(), 2u);
  EXPECT_EQ(paths.rxList().entry(1).view(), sent + std::string(43 - sent.size(), ' ') + ";[T]");
  EXPECT_EQ(paths.txList().count(), 0u);

  // sorted: a sent and a received frame of one identifier are two lines, sent first
  settings.display.rxListType = kListSorted;
  CanFrame echo = tx;
  paths.showReceived(echo);
  paths.logReceived(echo);
  ASSERT_TRUE(paths.TransmitFrame(tx));
  ASSERT_EQ(paths.rxList().count(), 2u);
  EXPECT_EQ(paths.rxList().entry(0).sortKey, 0x123 * 4 + 1);
  EXPECT_EQ(paths.rxList().entry(1).sortKey, 0x123 * 4 + 3);

  // "do not show" and a stopped pane keep the line out of the list, not out of counter and log
  const size_t before = log.writes.size();
  const int32_t sentBefore = paths.statistics().sent(0);
  ASSERT_TRUE(paths.TransmitFrame(tx, kTxDontShow));
  EXPECT_EQ(paths.rxList().entry(0).frameCount, 1u);
  paths.display().rxDisplayStopped = true;
  ASSERT_TRUE(paths.TransmitFrame(tx));
  paths.showReceived(echo);
  paths.logReceived(echo);
  EXPECT_EQ(paths.rxList().entry(0).frameCount, 1u);
  EXPECT_EQ(paths.rxList().entry(1).frameCount, 1u);
  EXPECT_EQ(paths.statistics().sent(0), sentBefore + 2);
  EXPECT_EQ(log.writes.size(), before + 3);
}

TEST_F(TrafficPathsTest, ReceivedLinesUseThePreviousFrameTimeAndComments) {
  settings.display.timeStampDisplay = 2;
  CanFrame a = Frame(0x100, {1});
  a.timestamp = 1000;
  CanFrame b = Frame(0x7E5, {2});
  b.timestamp = 1012;
  paths.showReceived(a);
  paths.logReceived(a);
  paths.setCommentProvider([](const CanFrame& f, bool received, char* out, size_t capacity) -> size_t {
    if (f.identifier() != 0x7E5) return 0;
    return static_cast<size_t>(std::snprintf(out, capacity, "LSS %s", received ? "rx" : "tx"));
  });
  settings.display.showComments = 1;
  paths.showReceived(b);
  paths.logReceived(b);
  const std::string first = "00001000: 100 01" + std::string(1 + 7 * 3, ' ');
  const std::string second = " +000012: 7E5 02" + std::string(1 + 7 * 3, ' ');
  ASSERT_EQ(Texts(paths.rxList()),
            (std::vector<std::string>{first, second + std::string(43 - second.size(), ' ') + "LSS rx"}));
  EXPECT_EQ(log.writes.size(), 2u);
  EXPECT_EQ(log.writes[0], first + "\r\n");

  // comments are for the CANopen protocols only; with a comment a combined Tx line needs no mark
  settings.display.rxTxCombined = 1;
  CanFrame c = b;
  ASSERT_TRUE(paths.TransmitFrame(c));
  EXPECT_EQ(paths.rxList().entry(2).view().substr(43), "LSS tx");
  settings.display.highLevelProtocol = 2;
  paths.showReceived(b);
  paths.logReceived(b);
  EXPECT_EQ(paths.rxList().entry(3).view().find("LSS"), std::string_view::npos);
}

TEST_F(TrafficPathsTest, ThreadedRelayTransmissionIsShownByTheOwnerThread) {
  CanFrame f = Frame(0x555, {5});
  bool ok = false;
  std::thread relay([&] { ok = paths.TransmitFrame(f); });
  relay.join();
  EXPECT_TRUE(ok);
  EXPECT_EQ(driver->attemptsAt.size(), 1u) << "sent at once";
  EXPECT_EQ(paths.txList().count(), 0u) << "shown only by the owner";
  EXPECT_EQ(paths.statistics().sent(0), 0);
  paths.drainForeignTransmissions();
  EXPECT_EQ(paths.txList().count(), 1u);
  EXPECT_EQ(paths.statistics().sent(0), 1);
  EXPECT_EQ(log.writes.size(), 1u);

  driver->failures = 2;
  std::thread failing([&] { ok = paths.TransmitFrame(f); });
  failing.join();
  EXPECT_FALSE(ok);
  EXPECT_TRUE(lines.empty());
  paths.drainForeignTransmissions();
  EXPECT_EQ(lines, std::vector<std::string>{"  <TX-error:UCAN_Transmit: queue full>"});
}

}  // namespace
}  // namespace busprobe
