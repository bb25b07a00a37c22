#include <gtest/gtest.h>

#include <deque>
#include <string>
#include <vector>

#include "can/can_backend.h"
#include "can/ucan.h"

namespace busprobe {
namespace {

constexpr int kScriptedType = 3;  // unused by the system, so the factory may claim it

// A driver whose calls take as long as the test says, by moving the manual clock inside the call.
class ScriptedBackend final : public CanBackend {
 public:
  ScriptedBackend(Ucan& ucan, ManualClock& clock) : CanBackend(ucan, kScriptedType), clock_(clock) {}
  int open() override { return 1; }
  int initCtrl(int, int, int) override { return 1; }
  uint8_t status(int) override {
    clock_.advance(statusStallMs);
    return 0;
  }
  int receive(int, CanFrame& out) override {
    ++receiveCalls;
    clock_.advance(receiveStallMs);
    if (frames.empty()) return 0;
    out = frames.front();
    frames.pop_front();
    return 1;
  }
  int txBusy(int) override { return 0; }
  int transmit(int, CanFrame&) override { return 1; }
  bool referenceTimeMs(double& out) override {
    if (!haveReference) return false;
    out = referenceMs;
    return true;
  }

  double receiveStallMs = 0, statusStallMs = 0;
  std::deque<CanFrame> frames;
  int receiveCalls = 0;
  bool haveReference = false;
  double referenceMs = 0;

 private:
  ManualClock& clock_;
};

class UcanTest : public ::testing::Test {
 protected:
  UcanTest() {
    ucan.setVirtualBus(bus);
    ucan.setPrinters([this](const std::string& l) { canLines.push_back(l); },
                     [this](const std::string& l) { alwaysLines.push_back(l); });
    ucan.setBackendFactory([this](int type) -> std::unique_ptr<CanBackend> {
      if (type != kScriptedType) return nullptr;
      auto b = std::make_unique<ScriptedBackend>(ucan, clock);
      scripted = b.get();
      return b;
    });
  }

  int init(int type) {
    CanInterfaceSettings p;
    p.interfaceType = type;
    return ucan.UCAN_Init(p);
  }

  ManualClock clock{1000.0};
  DeferredMessageQueue queue;
  std::shared_ptr<VirtualBus> bus = VirtualBus::create();
  Ucan ucan{clock, queue};
  ScriptedBackend* scripted = nullptr;
  std::vector<std::string> canLines, alwaysLines;
};

CanFrame Frame(uint32_t id, uint8_t length = 2) {
  CanFrame f;
  f.id = id;
  f.length = length;
  for (int i = 0; i < length; ++i) f.data[i] = static_cast<uint8_t>(0x10 + i);
  return f;
}

TEST_F(UcanTest, TwoMembersOfOneVirtualBusExchangeFramesAndHearThemselves) {
  Ucan other(clock, queue);
  other.setVirtualBus(bus);
  ASSERT_EQ(init(kIntfVirtual), 1);
  EXPECT_EQ(ucan.takeLastError(), "UCAN_Init successful.");
  CanInterfaceSettings p;
  p.interfaceType = kIntfVirtual;
  ASSERT_EQ(other.UCAN_Init(p), 1);
  ASSERT_EQ(ucan.UCAN_InitCtrl(0, 500, 0), 1);
  ASSERT_EQ(other.UCAN_InitCtrl(0, 500, 0), 1);

  clock.set(4321.0);
  CanFrame sent = Frame(0x123);
  ASSERT_EQ(ucan.UCAN_Transmit(0, sent), 1);
  EXPECT_EQ(sent.timestamp, 4321u);
  EXPECT_EQ(ucan.transmitCounter(), 1);

  CanFrame got;
  for (Ucan* u : {&ucan, &other}) {
    ASSERT_EQ(u->UCAN_Receive(255, got), 1);
    EXPECT_EQ(got.identifier(), 0x123u);
    EXPECT_EQ(got.bus(), 0);
    EXPECT_EQ(got.timestamp, 4321u);
    EXPECT_EQ(got.data[1], 0x11);
    EXPECT_EQ(u->UCAN_Receive(255, got), 0);
    EXPECT_EQ(u->receiveCounter(), 1);
  }
  EXPECT_TRUE(ucan.lastError().empty());
}

TEST_F(UcanTest, VirtualChannelsFilterAndStayDeafUntilOpened) {
  ASSERT_EQ(init(kIntfVirtual), 1);
  ucan.clearLastError();
  ASSERT_EQ(ucan.UCAN_InitCtrl(0, 250, 0), 1);
  CanFrame f = Frame(0x55);
  f.setBus(1);
  bus->inject(f);  // bus 1 is not opened: a closed controller hears nothing
  CanFrame got;
  EXPECT_EQ(ucan.UCAN_Receive(255, got), 0);
  EXPECT_EQ(ucan.UCAN_Transmit(1, f), 0);
  EXPECT_EQ(ucan.takeLastError(), "UCAN_Transmit: Virtual bus CAN2 not initialized !");

  ASSERT_EQ(ucan.UCAN_SetRcvID(0, 0x100, 0x700), 1);
  for (uint32_t id : {0x0FFu, 0x100u, 0x1FFu, 0x200u}) bus->inject(Frame(id));
  std::vector<uint32_t> ids;
  while (ucan.UCAN_Receive(255, got)) ids.push_back(got.identifier());
  EXPECT_EQ(ids, (std::vector<uint32_t>{0x100u, 0x1FFu}));

  int baud = 0, fd = -1;
  ASSERT_EQ(ucan.UCAN_GetBaudrate(0, &baud, &fd), 1);
  EXPECT_EQ(baud, 250);
  EXPECT_EQ(fd, 0);
}

TEST_F(UcanTest, SingleBusReceiveKeepsTheOtherBusFramesInOrder) {
  ASSERT_EQ(init(kIntfVirtual), 1);
  ASSERT_EQ(ucan.UCAN_InitCtrl(0, 500, 0), 1);
  ASSERT_EQ(ucan.UCAN_InitCtrl(1, 500, 0), 1);
  CanFrame a = Frame(0x1), b = Frame(0x2), c = Frame(0x3);
  b.setBus(1);
  for (CanFrame* f : {&a, &b, &c}) bus->inject(*f);
  CanFrame got;
  ASSERT_EQ(ucan.UCAN_Receive(1, got), 1);
  EXPECT_EQ(got.identifier(), 0x2u);
  ASSERT_EQ(ucan.UCAN_Receive(255, got), 1);
  EXPECT_EQ(got.identifier(), 0x1u);
  ASSERT_EQ(ucan.UCAN_Receive(0, got), 1);
  EXPECT_EQ(got.identifier(), 0x3u);
  EXPECT_EQ(ucan.UCAN_Receive(255, got), 0);
}

TEST_F(UcanTest, FullVirtualQueueCountsDropsAndReportsOverflowOncePerBus) {
  ASSERT_EQ(init(kIntfVirtual), 1);
  ASSERT_EQ(ucan.UCAN_InitCtrl(0, 500, 0), 1);
  for (uint32_t i = 0; i < FrameRing::kDefaultCapacity + 3; ++i) bus->inject(Frame(0x10));
  CanFrame got;
  ASSERT_EQ(ucan.UCAN_Receive(255, got), 1);
  EXPECT_EQ(ucan.droppedFrames(), 3u);
  EXPECT_EQ(ucan.UCAN_Status(0), kUcanRxOvf);
  EXPECT_EQ(ucan.UCAN_Status(0), 0);
  EXPECT_EQ(ucan.UCAN_Status(1), kUcanRxOvf);
  EXPECT_EQ(ucan.UCAN_Status(1), 0);
}

TEST_F(UcanTest, ErrorFramesOfTheVirtualBusCountPerBus) {
  ASSERT_EQ(init(kIntfVirtual), 1);
  bus->injectErrorFrame(1);
  EXPECT_EQ(ucan.errorFrameCount(0), 0u);
  EXPECT_EQ(ucan.errorFrameCount(1), 1u);
}

TEST_F(UcanTest, InitFailuresNameTheirCause) {
  EXPECT_EQ(init(kIntfNone), 0);
  EXPECT_EQ(ucan.takeLastError(), "No interface selected, cannot initialize \"UCAN\" !");
  EXPECT_FALSE(ucan.ready());
  EXPECT_EQ(ucan.UCAN_SetRcvID(0, 0, 0), 0);
  EXPECT_EQ(ucan.takeLastError(), "UCAN_SetRcvID: No interface selected !");
  CanFrame f = Frame(1);
  EXPECT_EQ(ucan.UCAN_Transmit(0, f), 0);
  EXPECT_EQ(ucan.takeLastError(), "UCAN_Transmit: Unknown interface !");

  const struct {
    int type;
    const char* text;
  } vendors[] = {
      {kIntfNtcan, "UCAN_Init: NTCAN driver (NTCAN.DLL) not loaded !"},
      {kIntfCanApi2, "UCAN_Init: Peak's CANAPI2 driver not loaded !"},
      {kIntfPcanDongle, "UCAN_Init: PCAN-DONGLE-LIGHT driver (PCAN_DNG.DLL) not loaded !"},
      {kIntfPcanUsb, "UCAN_Init: PCAN-USB-LIGHT driver (PCAN_USB.DLL) not loaded !"},
      {kIntfKvaser, "UCAN_Init: FAILED loading Kvaser's CANLIB32 !"},
      {kIntfVector, "UCAN_Init: FAILED loading Vector's VXLAPI.DLL !"},
  };
  for (const auto& v : vendors) {
    EXPECT_EQ(init(v.type), 0) << v.type;
    EXPECT_EQ(ucan.takeLastError(), v.text);
    EXPECT_EQ(ucan.UCAN_InitCtrl(0, 500, 0), 0);
    EXPECT_FALSE(ucan.takeLastError().empty()) << v.type;
    EXPECT_FALSE(ucan.controllerInitialised());
  }
  ASSERT_EQ(init(kIntfNtcan), 0);
  ucan.clearLastError();
  EXPECT_EQ(ucan.UCAN_Transmit(0, f), 0);
  EXPECT_EQ(ucan.takeLastError(), "UCAN_Transmit: NTCAN_INVALID_HANDLE(0x00000006)");

  EXPECT_EQ(init(12), 0);
  EXPECT_EQ(ucan.takeLastError(), "UCAN_Init failed, why ?");
}

TEST_F(UcanTest, IllegalBusIsRefusedWithoutHidingAnEarlierText) {
  ASSERT_EQ(init(kIntfVirtual), 1);
  ucan.clearLastError();
  CanFrame f = Frame(1);
  EXPECT_EQ(ucan.UCAN_Transmit(2, f), 0);
  EXPECT_EQ(ucan.takeLastError(), "UCAN_Transmit: Illegal bus-index (2, allowed: 0..1) !");
  ucan.setError("earlier");
  EXPECT_EQ(ucan.UCAN_Transmit(-1, f), 0);
  EXPECT_EQ(ucan.takeLastError(), "earlier");
  EXPECT_EQ(ucan.transmitCounter(), 0);
  EXPECT_EQ(ucan.UCAN_TxBusy(2), 0);
  EXPECT_EQ(ucan.UCAN_TxBusy(0), 1);  // controller not initialised yet
  ASSERT_EQ(ucan.UCAN_InitCtrl(0, 125, 0), 1);
  EXPECT_EQ(ucan.UCAN_TxBusy(0), 0);
}

TEST_F(UcanTest, SlowDriverIsReportedOnceAndLeftAloneForSevenSeconds) {
  ASSERT_EQ(init(kScriptedType), 1);
  ASSERT_EQ(ucan.UCAN_InitCtrl(0, 500, 0), 1);
  CanFrame got;
  scripted->receiveStallMs = 250;
  ucan.UCAN_Receive(255, got);
  ASSERT_EQ(alwaysLines.size(), 1u);
  EXPECT_EQ(alwaysLines[0], "UCAN: Incredibly slow driver function call (CAN-Receive: 250 ms)");
  EXPECT_TRUE(ucan.slowDriver());

  // Slow again within 7 s: no second line, and the receive pump leaves the driver alone.
  clock.advance(1000);
  scripted->statusStallMs = 300;
  ucan.UCAN_Status(0);
  EXPECT_EQ(alwaysLines.size(), 1u);
  scripted->statusStallMs = 0;
  scripted->receiveStallMs = 0;
  scripted->frames.push_back(Frame(0x42));
  const int callsBefore = scripted->receiveCalls;
  EXPECT_EQ(ucan.receiveOne(got), 0);
  EXPECT_EQ(scripted->receiveCalls, callsBefore);

  // 7 s after the last slow call the flag clears and frames flow again.
  clock.advance(7000);
  ASSERT_EQ(ucan.receiveOne(got), 1);
  EXPECT_EQ(got.identifier(), 0x42u);
  EXPECT_FALSE(ucan.slowDriver());
  scripted->statusStallMs = 201;
  ucan.UCAN_Status(0);
  ASSERT_EQ(alwaysLines.size(), 2u);
  EXPECT_EQ(alwaysLines[1], "UCAN: Incredibly slow driver function call (ResetController: 201 ms)");
}

TEST_F(UcanTest, ClockFollowsTheDriverTimeAtMostOncePerSecond) {
  ASSERT_EQ(init(kScriptedType), 1);
  scripted->haveReference = true;
  scripted->referenceMs = 50000;
  EXPECT_DOUBLE_EQ(ucan.clockMs(), 50000);
  scripted->referenceMs = 90000;  // the driver jumps, but the last sync is recent
  clock.advance(999);
  EXPECT_DOUBLE_EQ(ucan.clockMs(), 50999);
  clock.advance(1);
  EXPECT_DOUBLE_EQ(ucan.clockMs(), 90000);
  EXPECT_EQ(ucan.clockMsWhole(), 90000u);

  scripted->haveReference = false;  // other back-ends run on the local clock
  clock.advance(5000);
  EXPECT_DOUBLE_EQ(ucan.clockMs(), clock.nowMs());
}

TEST_F(UcanTest, CountersWrapAtSixteenBits) {
  ASSERT_EQ(init(kScriptedType), 1);
  CanFrame f = Frame(1);
  for (int i = 0; i < 65537; ++i) ucan.UCAN_Transmit(0, f);
  EXPECT_EQ(ucan.transmitCounter(), 1);
}

TEST_F(UcanTest, ErrorHistoryDropsRepeatsAndHoldsTenEntries) {
  ucan.addErrorHistory(0x80, 1, 0, 100, "TX");
  ucan.addErrorHistory(0x80, 1, 9, 100, "TX");  // only the extension differs: a repeat
  ucan.addErrorHistory(0x80, 2, 0, 100, "TX");
  ucan.addErrorHistory(0x80, 2, 0, 101, "TX");
  ucan.addErrorHistory(0x40, 2, 0, 101, "TOOLONGTAG");
  UcanErrorEntry e;
  std::vector<int> regs;
  std::string lastTag;
  while (ucan.popErrorHistory(e)) {
    regs.push_back(e.reg);
    lastTag = e.tag;
  }
  EXPECT_EQ(regs, (std::vector<int>{1, 2, 2, 2}));
  EXPECT_EQ(lastTag, "TOOLONGT");

  for (int i = 0; i < 12; ++i) ucan.addErrorHistory(0, 0, 0, i, "X");
  int count = 0;
  while (ucan.popErrorHistory(e)) {
    EXPECT_EQ(e.line, count);  // the first ten are kept
    ++count;
  }
  EXPECT_EQ(count, 10);
}

TEST(UcanStatusText, NamesTheBitsInTheirPrintingOrder) {
  EXPECT_EQ(UcanStatusText(0), "all_ok");
  EXPECT_EQ(UcanStatusText(kUcanBusOff | kUcanRxOvf), "RX_OVF BUS_OFF");
  EXPECT_EQ(UcanStatusText(0xFF), "RX_OVF TX_OVF IRQ_FAIL TX_ERROR BUSERROR WARNING BUS_OFF other error(s)");
}

TEST_F(UcanTest, ConvenienceLayerRefusesClosedControllersAndPrintsWhy) {
  ASSERT_EQ(init(kIntfVirtual), 1);
  ucan.clearLastError();
  // Baud 0 marks the bus unused: a success, but nothing may be sent on it.
  EXPECT_EQ(ucan.initController(1, 0, 2, 0, 0), 1);
  EXPECT_FALSE(ucan.controllerInitialised());
  UcanErrorEntry e;
  ASSERT_TRUE(ucan.popErrorHistory(e));
  EXPECT_STREQ(e.tag, "CAN_INIT");
  EXPECT_EQ(e.reg, 1);

  EXPECT_EQ(ucan.setReceiveFilter(1, 0, 0), 0);
  EXPECT_EQ(canLines, (std::vector<std::string>{"CANnot add id, controller not initialized"}));
  CanFrame f = Frame(0x77);
  EXPECT_EQ(ucan.sendFrame(1, f), 0);
  ASSERT_EQ(canLines.size(), 2u);
  EXPECT_EQ(canLines[1], "UCAN_Transmit: CAN2 not initialized, frame not sent !");
  EXPECT_TRUE(ucan.lastError().empty());

  // Opening bus 0 must not be undone by bus 1 staying unused.
  ASSERT_EQ(ucan.initController(0, 500, 2, 0, 0), 1);
  ASSERT_EQ(ucan.initController(1, 0, 2, 0, 0), 1);
  EXPECT_TRUE(ucan.controllerInitialised());
  ASSERT_EQ(ucan.setReceiveFilter(0, 0, 0), 1);
  ASSERT_EQ(ucan.sendFrame(0, f), 1);
  CanFrame got;
  ASSERT_EQ(ucan.receiveOne(got), 1);
  EXPECT_EQ(got.identifier(), 0x77u);
  EXPECT_EQ(ucan.receiveOne(got), 0);
  EXPECT_EQ(canLines.size(), 2u);
}

TEST_F(UcanTest, SimulatedReceptionParsesTextLines) {
  // No bus at all: simulated frames still arrive.
  clock.set(777);
  ASSERT_TRUE(ucan.simulateReception("rx can1 123 11 $22 0x33"));
  ASSERT_TRUE(ucan.simulateReception("0x1FFFF 1"));
  ASSERT_TRUE(ucan.simulateReception("7ffx"));
  ASSERT_TRUE(ucan.simulateReception("ab 1 2 3 4 5 6 7 8 9"));
  EXPECT_FALSE(ucan.simulateReception("rx"));
  EXPECT_FALSE(ucan.simulateReception("123 100"));
  EXPECT_FALSE(ucan.simulateReception("800s 1"));
  EXPECT_FALSE(ucan.simulateReception("20000000 1"));
  EXPECT_FALSE(ucan.simulateReception("123 zz"));

  CanFrame f;
  ASSERT_EQ(ucan.receiveOne(f), 1);
  EXPECT_EQ(f.id, 0x123u);
  EXPECT_EQ(f.length, 3);
  EXPECT_EQ(f.data[2], 0x33);
  EXPECT_EQ(f.timestamp, 777u);
  ASSERT_EQ(ucan.receiveOne(f), 1);
  EXPECT_EQ(f.id, CanFrame::kExtended | 0x1FFFFu);
  ASSERT_EQ(ucan.receiveOne(f), 1);
  EXPECT_EQ(f.id, CanFrame::kExtended | 0x7FFu);
  EXPECT_EQ(f.length, 0);
  ASSERT_EQ(ucan.receiveOne(f), 1);
  EXPECT_EQ(f.id, 0xABu);   // a lowercase word that reads as hex is the identifier
  EXPECT_EQ(f.length, 12);  // nine bytes only fit an FD frame of 12
  EXPECT_TRUE(f.isFd());
  EXPECT_EQ(f.data[8], 9);
  EXPECT_EQ(f.data[9], 0);
  EXPECT_EQ(ucan.receiveOne(f), 0);
}

TEST(NtcanTables, BaudCodesAndResultNames) {
  EXPECT_EQ(NtcanBaudCode(1000), 0);
  EXPECT_EQ(NtcanBaudCode(666), 1);
  EXPECT_EQ(NtcanBaudCode(667), 1);
  EXPECT_EQ(NtcanBaudCode(10), 13);
  EXPECT_EQ(NtcanBaudCode(800), -1);
  EXPECT_EQ(NtcanBaudFromCode(1), 666);
  EXPECT_EQ(NtcanBaudFromCode(6), 125);
  EXPECT_EQ(NtcanBaudFromCode(14), -1);
  EXPECT_EQ(NtcanErrorText(0), "NTCAN_SUCCESS(0x00000000)");
  EXPECT_EQ(NtcanErrorText(0xE0000005), "NTCAN_CONTR_OFF_BUS(0xe0000005)");
  EXPECT_EQ(NtcanErrorText(0x5AA), "NTCAN_INSUFFICIENT_RESOURCES(0x000005aa)");
  EXPECT_EQ(NtcanErrorText(0xE0000003), "NTCAN_UNKNOWN(0xe0000003)");
}

}  // namespace
}  // namespace busprobe
