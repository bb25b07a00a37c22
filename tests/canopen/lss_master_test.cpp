// The LSS master against in-process slaves on a frame queue, time on a ManualClock.
#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <functional>
#include <memory>
#include <vector>

#include "base/clock.h"
#include "canopen/lss_master.h"
#include "canopen/lss_slave.h"

namespace busprobe {
namespace {

LssIdentity Identity(uint32_t v, uint32_t p, uint32_t r, uint32_t s) {
  LssIdentity id;
  id.part[0] = v;
  id.part[1] = p;
  id.part[2] = r;
  id.part[3] = s;
  return id;
}

// Frames sent go into a queue; pumping hands each to the master and every slave (a slave's own
// answers are not requests, so it ignores them).
class LssBus {
 public:
  LssBus() : master(clock, [this](CanFrame& f) { return put(f); }) {}

  LssSlaveState& addSlave(const LssIdentity& identity) {
    slaves.push_back(std::make_unique<LssSlaveState>(clock, [this](CanFrame& f) { return put(f); }));
    slaves.back()->setIdentity(identity);
    return *slaves.back();
  }
  bool put(const CanFrame& f) {
    if (dropAll) return true;
    queue.push_back(f);
    sent.push_back(f);
    return true;
  }
  void pump() {
    while (!queue.empty()) {
      const CanFrame f = queue.front();
      queue.pop_front();
      for (auto& s : slaves) s->handleFrame(f);
      if (filter && !filter(f)) continue;
      if (master.LssHandleFrame(f)) master.LssMasterStep();
    }
  }
  // Runs the master to its end, moving time by stepMs between steps.
  void run(double stepMs = 1.0, int maxSteps = 200000) {
    for (int i = 0; i < maxSteps && master.running(); ++i) {
      master.LssMasterStep();
      pump();
      clock.advance(stepMs);
    }
  }

  ManualClock clock;
  LssMasterState master;
  std::vector<std::unique_ptr<LssSlaveState>> slaves;
  std::deque<CanFrame> queue;
  std::vector<CanFrame> sent;
  std::function<bool(const CanFrame&)> filter;  // false: the master does not see the frame
  bool dropAll = false;
};

LssMasterOptions Options(uint32_t bits, int first = 1, int kbit = 0, uint32_t delayUs = 5000) {
  LssMasterOptions o;
  o.masterOptions = bits;
  o.wantedFirstNodeId = first;
  o.wantedBitRateKbit = kbit;
  o.scanDelayUs = delayUs;
  return o;
}

TEST(LssMaster, NoSlaveEndsWithNothingFound) {
  LssBus bus;
  bus.master.LssMasterStart(Options(kLssFastScan | kLssAssignNodeIds));
  bus.run();
  EXPECT_EQ(bus.master.step(), LssMasterState::kFinished);
  EXPECT_EQ(bus.master.infoLine(125), "Didn't find any LSS slave.");
  EXPECT_TRUE(bus.master.resultLines().empty());
}

TEST(LssMaster, FastScanFindsConfiguresAndStoresOneSlave) {
  for (uint32_t delay : {5000u, 0u}) {
    LssBus bus;
    const LssIdentity id = Identity(0x12345678, 0xFFFFFFFF, 0x00000001, 0x80000000);
    LssSlaveState& slave = bus.addSlave(id);
    bus.master.LssMasterStart(Options(kLssFastScan | kLssAssignNodeIds | kLssSwitchBitRate, 5, 250, delay));
    bus.run();
    ASSERT_EQ(bus.master.step(), LssMasterState::kFinished) << bus.master.errorText();
    ASSERT_EQ(bus.master.slaves().size(), 1u);
    EXPECT_EQ(bus.master.slaves()[0].identity, id);
    EXPECT_EQ(slave.nodeId(), 5);
    EXPECT_EQ(slave.bitRateKbit(), 250);
    EXPECT_TRUE(slave.stored());
    EXPECT_EQ(bus.master.infoLine(125), "Found 1 LSS slave. Select one from the list:");
    EXPECT_EQ(bus.master.resultLines(), std::vector<std::string>{"05 12345678 FFFFFFFF 00000001 80000000"});
  }
}

TEST(LssMaster, ConfiguredFirstNodeIdZeroStartsAtOne) {
  // 0 is the configuration's default, and no node ID a slave would take.
  LssBus bus;
  LssSlaveState& slave = bus.addSlave(Identity(9, 9, 9, 9));
  bus.master.LssMasterStart(Options(kLssFastScan | kLssAssignNodeIds, 0));
  bus.run();
  EXPECT_EQ(bus.master.step(), LssMasterState::kFinished) << bus.master.errorText();
  EXPECT_EQ(slave.nodeId(), 1);
}

TEST(LssMaster, SeveralSlavesGetDistinctNodeIdsSkippingKnownOnes) {
  LssBus bus;
  bus.addSlave(Identity(1, 2, 3, 4));
  bus.addSlave(Identity(1, 2, 3, 5));
  bus.addSlave(Identity(0x80000000, 0, 0, 0));
  bus.master.LssMasterStart(Options(kLssFastScan | kLssAssignNodeIds | kLssFindConfigured, 3));
  // A configured node (3) boots after the reset and so takes its ID out of the choice.
  bus.clock.advance(0);
  bus.master.LssMasterStep();
  ASSERT_EQ(bus.master.step(), 2);
  CanFrame boot;
  boot.id = 0x703;
  boot.length = 1;
  bus.master.LssHandleFrame(boot);
  bus.master.LssHandleFrame(boot);  // twice: still one record
  bus.run();
  ASSERT_EQ(bus.master.step(), LssMasterState::kFinished) << bus.master.errorText();
  ASSERT_EQ(bus.master.slaves().size(), 4u);
  EXPECT_EQ(bus.master.slaves()[0].nodeId, 3);
  std::vector<int> ids;
  for (auto& s : bus.slaves) ids.push_back(s->nodeId());
  std::sort(ids.begin(), ids.end());
  // index 1 starts at 3 + 1 = 4, index 2 at 5, index 3 at 6
  EXPECT_EQ(ids, (std::vector<int>{4, 5, 6}));
  for (auto& s : bus.slaves) EXPECT_TRUE(s->stored());
}

TEST(LssMaster, ConfigureErrorsAndMissingResponsesStopTheRun) {
  {
    LssBus bus;
    bus.addSlave(Identity(7, 7, 7, 7));
    // 0x13 with a rate index the slave rejects cannot come from the master; make the slave refuse
    // by answering with an error instead: a fake slave answer for Configure Node-ID.
    bus.filter = [&bus](const CanFrame& f) {
      if (f.identifier() == kLssSlaveToMasterId && f.data[0] == kLssConfigureNodeId) {
        CanFrame bad = f;
        bad.data[1] = 1;
        bad.data[2] = 0x22;
        bus.master.LssHandleFrame(bad);
        return false;
      }
      return true;
    };
    bus.master.LssMasterStart(Options(kLssFastScan | kLssAssignNodeIds));
    bus.run();
    EXPECT_EQ(bus.master.step(), LssMasterState::kStopped);
    EXPECT_EQ(bus.master.infoLine(0), "ConfigureNodeId: Error=0x01, Spec=0x22");
  }
  struct Case {
    uint8_t lostCommand;
    uint32_t options;
    const char* text;
  };
  for (const Case& c : {Case{kLssConfigureNodeId, kLssAssignNodeIds, "Got no response for 'Configure Node ID'"},
                        Case{kLssConfigureBitTiming, kLssSwitchBitRate, "Got no response for 'Configure Bit Timing'"},
                        Case{kLssStoreConfiguration, 0, "Got no response for 'Store Configuration'"}}) {
    LssBus bus;
    bus.addSlave(Identity(7, 7, 7, 7));
    bus.filter = [&c](const CanFrame& f) {
      return !(f.identifier() == kLssSlaveToMasterId && f.data[0] == c.lostCommand);
    };
    bus.master.LssMasterStart(Options(kLssFastScan | c.options, 1, 500));
    bus.run();
    EXPECT_EQ(bus.master.step(), LssMasterState::kStopped);
    EXPECT_EQ(bus.master.errorText(), c.text);
  }
}

TEST(LssMaster, DuplicateLateAndGarbageFramesDoNotCorruptTheIdentity) {
  LssBus bus;
  const LssIdentity id = Identity(0xA5A5A5A5, 0x0F0F0F0F, 1, 2);
  bus.addSlave(id);
  int counter = 0;
  // Every answer comes twice and every request is followed by LSS garbage of all shapes.
  bus.filter = [&](const CanFrame& f) {
    CanFrame junk = f;
    junk.id = kLssSlaveToMasterId;
    junk.data[0] = static_cast<uint8_t>(0x11 + (counter % 3) * 2);
    junk.data[1] = 0;
    junk.length = static_cast<uint8_t>(counter % 2 ? 8 : 3);
    ++counter;
    bus.master.LssHandleFrame(junk);
    if (f.identifier() == kLssMasterToSlaveId) {
      CanFrame shortAnswer = LssFrame(kLssSlaveToMasterId, kLssIdentifySlave);
      shortAnswer.length = 4;  // not an LSS frame
      bus.master.LssHandleFrame(shortAnswer);
      CanFrame extended = LssFrame(kLssSlaveToMasterId, kLssIdentifySlave);
      extended.id |= CanFrame::kExtended;
      bus.master.LssHandleFrame(extended);
    }
    if (f.identifier() == kLssSlaveToMasterId) bus.master.LssHandleFrame(f);
    return true;
  };
  bus.master.LssMasterStart(Options(kLssFastScan | kLssAssignNodeIds));
  bus.run();
  ASSERT_EQ(bus.master.step(), LssMasterState::kFinished) << bus.master.errorText();
  ASSERT_EQ(bus.master.slaves().size(), 1u);
  EXPECT_EQ(bus.master.slaves()[0].identity, id);
}

TEST(LssMaster, UnconfirmedIdentityIsNotCounted) {
  LssBus bus;
  bus.addSlave(Identity(1, 1, 1, 1));
  // The slave vanishes from the bus after answering the reset query: no one confirms anything.
  int answers = 0;
  bus.filter = [&](const CanFrame& f) {
    if (f.identifier() != kLssSlaveToMasterId) return true;
    return ++answers == 1;
  };
  bus.master.LssMasterStart(Options(kLssFastScan | kLssAssignNodeIds));
  bus.run();
  EXPECT_TRUE(bus.master.slaves().empty());
  EXPECT_EQ(bus.master.step(), LssMasterState::kFinished);
}

TEST(LssMaster, StepIsNotReenteredFromItsOwnTransmit) {
  ManualClock clock;
  int sends = 0;
  LssMasterState* self = nullptr;
  LssMasterState master(clock, [&](CanFrame&) {
    ++sends;
    self->LssMasterStep();  // a transmit path that feeds frames back and steps again
    return true;
  });
  self = &master;
  master.LssMasterStart(Options(kLssFastScan));
  master.LssMasterStep();
  EXPECT_EQ(sends, 1);
  EXPECT_EQ(master.step(), 8);
}

TEST(LssMaster, ClassicScanAndNoScanMethodJustFinish) {
  for (uint32_t bits : {static_cast<uint32_t>(kLssClassicScan), 0u}) {
    LssBus bus;
    bus.addSlave(Identity(1, 1, 1, 1));
    bus.master.LssMasterStart(Options(bits | kLssAssignNodeIds));
    bus.run();
    EXPECT_EQ(bus.master.step(), LssMasterState::kFinished);
    EXPECT_TRUE(bus.sent.empty());
  }
}

TEST(LssMaster, ConfiguredNodesIdentityIsReadBySdo) {
  LssBus bus;
  bus.master.LssMasterStart(Options(kLssFindConfigured));
  bus.master.LssMasterStep();
  CanFrame boot;
  boot.id = 0x722;
  boot.length = 1;
  boot.data[0] = 0x7F;
  bus.master.LssHandleFrame(boot);
  bus.clock.advance(2000);
  // An SDO server that answers subindex 1 and 3 only; the others stay 0 after the timeout.
  for (int i = 0; i < 5000 && bus.master.running(); ++i) {
    bus.master.LssMasterStep();
    for (const CanFrame& f : bus.queue) {
      if (f.identifier() == 0x622 && (f.data[3] == 1 || f.data[3] == 3)) {
        CanFrame r = f;
        r.id = 0x5A2;
        r.data[0] = 0x43;
        LssSetData32(r, 4, 0x1000u + f.data[3]);
        bus.master.LssHandleFrame(r);
      }
    }
    bus.queue.clear();
    bus.clock.advance(10);
  }
  ASSERT_EQ(bus.master.slaves().size(), 1u);
  EXPECT_EQ(bus.master.slaves()[0].identity, Identity(0x1001, 0, 0x1003, 0));
  EXPECT_EQ(bus.master.resultLines(), std::vector<std::string>{"22 00001001 00000000 00001003 00000000"});
  EXPECT_EQ(bus.sent[0].identifier(), 0u);
  EXPECT_EQ(bus.sent[0].length, 2);
  EXPECT_EQ(bus.sent[0].data[0], 0x81);
}

}  // namespace
}  // namespace busprobe
