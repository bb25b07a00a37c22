// The LSS master of one application finds and configures the built-in slaves of others on a
// virtual bus; and its own slave when asked to include it.
#include "app/application.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <vector>

#include "app/command_line.h"
#include "app/headless_runner.h"
#include "test_support.h"

namespace busprobe {
namespace {

struct LssNode {
  LssNode(std::shared_ptr<VirtualBus> bus, ManualClock& clock, const std::string& ini = "") {
    if (!ini.empty()) std::ofstream(config.file("NVK_Busprobe.ini")) << ini;
    AppOptions o;
    o.configDir = config.path();
    o.lockDir = locks.path();
    o.virtualBus = std::move(bus);
    app = std::make_unique<Application>(ui, clock, o);
    app->startUp();
  }
  test::ScratchDir config, locks;
  test::RecordingUi ui;
  std::unique_ptr<Application> app;
};

class LssSessionTest : public ::testing::Test {
 protected:
  // Ticks every node until the master has ended.
  void runUntilDone(LssNode& master, std::vector<LssNode*> others) {
    for (int i = 0; i < 20; ++i) {  // through the start-up steps
      master.app->tick();
      for (LssNode* n : others) n->app->tick();
      clock.advance(50);
    }
    master.app->lss().start(master.app->lss().optionsFromSettings());
    for (int i = 0; i < 100000 && master.app->lss().master().running(); ++i) {
      master.app->tick();
      for (LssNode* n : others) n->app->tick();
      clock.advance(1);
    }
  }
  ManualClock clock{1000};
  std::shared_ptr<VirtualBus> bus = VirtualBus::create();
};

TEST_F(LssSessionTest, MasterFindsNamesAndStoresTheOtherApplicationsSlave) {
  LssNode master(bus, clock,
                 "[CANopen_LSS]\nSlaveOptions=1\nMasterOptions=19\nWantedFirstNodeID=10\nWantedCANBaudrate=250\nScanDelay_us=0\n");
  LssNode a(bus, clock);
  runUntilDone(master, {&a});
  ASSERT_EQ(master.app->lss().master().step(), LssMasterState::kFinished) << master.app->lss().infoLine();
  ASSERT_EQ(master.app->lss().master().slaves().size(), 1u);
  EXPECT_EQ(master.app->lss().master().slaves()[0].identity, a.app->lss().slave().identity());
  EXPECT_EQ(a.app->lss().slave().nodeId(), 10);
  EXPECT_EQ(a.app->lss().slave().bitRateKbit(), 250);
  EXPECT_TRUE(a.app->lss().slave().stored());
  // Its own slave hears the scan on the bus too, but was switched off.
  EXPECT_EQ(master.app->lss().slave().nodeId(), LssSlaveState::kUnconfiguredNodeId);
}

TEST_F(LssSessionTest, SeveralSlavesGetDistinctNodeIdsFromTheFirstFree) {
  LssNode master(bus, clock, "[CANopen_LSS]\nSlaveOptions=1\nMasterOptions=19\nWantedFirstNodeID=10\nWantedCANBaudrate=250\n");
  LssNode a(bus, clock), b(bus, clock);
  for (int i = 0; i < 20; ++i) {
    a.app->tick();
    b.app->tick();
  }
  b.app->lss().slave().setIdentity(LssIdentity{{0x004E564B, 11049, 0x10000, 7}});
  runUntilDone(master, {&a, &b});
  const LssMasterState& m = master.app->lss().master();
  ASSERT_EQ(m.step(), LssMasterState::kFinished) << master.app->lss().infoLine();
  ASSERT_EQ(m.slaves().size(), 2u);
  EXPECT_EQ(master.app->lss().infoLine(), "Found 2 LSS slaves. Select one from the list:");
  std::vector<int> ids = {a.app->lss().slave().nodeId(), b.app->lss().slave().nodeId()};
  std::sort(ids.begin(), ids.end());
  EXPECT_EQ(ids, (std::vector<int>{10, 11}));
  EXPECT_EQ(a.app->lss().slave().bitRateKbit(), 250);
  EXPECT_TRUE(b.app->lss().slave().stored());
  EXPECT_EQ(m.resultLines()[0], "0A 004E564B 00002B29 00010000 00000000");
  bool reported = false;
  for (const auto& line : a.app->messages().lines())
    reported = reported || line.find("LSS slave: stored node ID") != std::string::npos;
  EXPECT_TRUE(reported);
}

TEST_F(LssSessionTest, BuiltInSlaveTakesPartOnlyWhenIncludedAndEnabled) {
  {
    LssNode alone(bus, clock, "[CANopen_LSS]\nMasterOptions=81\n");
    runUntilDone(alone, {});
    EXPECT_EQ(alone.app->lss().master().slaves().size(), 1u);
    EXPECT_EQ(alone.app->lss().slave().nodeId(), 1);
  }
  {
    auto otherBus = VirtualBus::create();
    LssNode silent(otherBus, clock, "[CANopen_LSS]\nMasterOptions=81\nSlaveOptions=1\n");
    runUntilDone(silent, {});
    EXPECT_EQ(silent.app->lss().infoLine(), "Didn't find any LSS slave.");
  }
}

TEST(LssCommandLine, OverridesApplyToTheRunOnly) {
  const char* argv[] = {"busprobe", "--headless", "--lss-scan", "--lss-options", "13", "--lss-first-node", "20",
                        "--lss-baud", "125"};
  CommandLine cl;
  std::string error;
  ASSERT_TRUE(ParseCommandLine(9, argv, cl, error)) << error;
  EXPECT_TRUE(cl.lssScan);
  LssMasterOptions configured;
  configured.masterOptions = 0x10;
  configured.scanDelayUs = 777;
  const LssMasterOptions o = LssOptionsForRun(configured, cl);
  EXPECT_EQ(o.masterOptions, 0x13u);  // the bit rate switch comes with --lss-baud
  EXPECT_EQ(o.wantedFirstNodeId, 20);
  EXPECT_EQ(o.wantedBitRateKbit, 125);
  EXPECT_EQ(o.scanDelayUs, 777u);
  EXPECT_EQ(LssOptionsForRun(configured, CommandLine{}).masterOptions, 0x10u);

  const char* bad[] = {"busprobe", "--headless", "--lss-options", "xyz"};
  EXPECT_FALSE(ParseCommandLine(4, bad, cl, error));
  const char* windowed[] = {"busprobe", "--lss-scan"};
  CommandLine w;
  EXPECT_FALSE(ParseCommandLine(2, windowed, w, error));
  EXPECT_EQ(error, "option --lss-scan needs --headless");
}

}  // namespace
}  // namespace busprobe
