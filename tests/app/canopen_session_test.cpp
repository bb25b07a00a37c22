// The CANopen parts in the running application: the dictionary loaded at start-up is served to
// another application on the bus, the lists explain the SDO traffic, and changed settings reach
// the channels on the next tick.
#include "app/application.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>

#include "test_support.h"

namespace busprobe {
namespace {

// A user interface whose event processing runs another application: two of them in one thread
// can then answer each other while one waits.
class PumpingUi : public test::RecordingUi {
 public:
  void processEvents() override {
    ++rounds;
    if (other) other->ProcessReceivedFrames();
  }
  Application* other = nullptr;
  int rounds = 0;
};

// Each with its own lock folder, so that each is a first instance reading NVK_Busprobe.ini.
struct Node {
  Node(std::shared_ptr<VirtualBus> bus, ManualClock& clock) {
    AppOptions o;
    o.configDir = config.path();
    o.lockDir = locks.path();
    o.virtualBus = std::move(bus);
    app = std::make_unique<Application>(ui, clock, o);
  }
  void run(ManualClock& clock, int ticks = 5) {
    for (int i = 0; i < ticks; ++i) {
      app->tick();
      clock.advance(50);
    }
  }
  test::ScratchDir config, locks;
  PumpingUi ui;
  std::unique_ptr<Application> app;
};

class CanopenSessionTest : public ::testing::Test {
 protected:
  ManualClock clock{1000};
  std::shared_ptr<VirtualBus> bus = VirtualBus::create();
};

TEST_F(CanopenSessionTest, DictionaryLoadedAtStartUpIsServedAndTheTrafficExplained) {
  Node server(bus, clock), client(bus, clock);
  std::filesystem::create_directories(server.config.file("Objects"));
  std::filesystem::copy_file(std::string(BUSPROBE_TESTDATA_DIR) + "/eds/python-canopen_sample.eds",
                             server.config.file("Objects/sample.eds"));
  std::ofstream(server.config.file("NVK_Busprobe.ini")) << "[Directories]\nMyObjectDictionary=sample.eds\n";
  std::ofstream(client.config.file("NVK_Busprobe.ini")) << "[CanDisplay]\nShowComments=1\n[SdoSettings]\n"
                                                          "ClientNodeID=2\nServerNodeID=9\n";
  server.app->startUp();
  client.app->startUp();
  server.run(clock);
  client.run(clock);
  EXPECT_TRUE(server.ui.hasLine("Loaded CANopen OD for SDO server from \"" +
                                server.config.file("Objects/sample.eds") + "\" ."));
  std::vector<std::string> received;
  client.app->traffic().setLineSink([&received](bool transmitted, std::string_view line) {
    if (!transmitted) received.emplace_back(line);
  });

  // A segmented upload of the device name, the way every blocking caller starts one.
  SdoChannel& c = client.app->canopen().sdo().client();
  EXPECT_EQ(c.txCobId, 0x602u);
  c.index = 0x1008;
  c.subIndex = 0;
  c.dataType = 9;
  c.isDownload = 0;
  c.timeoutTicks = 5;
  ASSERT_TRUE(client.app->canopen().sdo().InitTransfer());
  for (int i = 0; i < 20 && c.busy(); ++i) {
    server.app->ProcessReceivedFrames();
    client.app->ProcessReceivedFrames();
  }
  ASSERT_EQ(c.state, kSdoFinished);
  EXPECT_EQ(c.abortCode, 0u);
  ASSERT_EQ(c.blockLength, 11);
  EXPECT_EQ(std::memcmp(c.buffer, "TEST DEVICE", 11), 0);
  EXPECT_EQ(server.app->canopen().local().entries.find(0x1008, 0)->readCount, 1);

  bool explained = false;
  for (const std::string& line : received) explained |= line.find("rd-rsp 1008.00") != std::string::npos;
  EXPECT_TRUE(explained) << "no Rx line explains the upload response";
}

TEST_F(CanopenSessionTest, BlockingTransferWaitsWhileTheReceivePathRuns) {
  Node server(bus, clock), client(bus, clock);
  std::filesystem::create_directories(server.config.file("Objects"));
  std::filesystem::copy_file(std::string(BUSPROBE_TESTDATA_DIR) + "/eds/python-canopen_sample.eds",
                             server.config.file("Objects/MyObject.eds"));
  std::ofstream(server.config.file("NVK_Busprobe.ini")) << "[Directories]\nMyObjectDictionary=MyObject.eds\n";
  // The client's own server must not be node 2 as well: it hears its own requests on the bus.
  std::ofstream(client.config.file("NVK_Busprobe.ini")) << "[SdoSettings]\nServerNodeID=9\n";
  clock.setAutoAdvance(0.001);
  client.ui.other = server.app.get();
  server.app->startUp();
  client.app->startUp();
  SdoBlockingRequest read;
  read.nodeId = 2;
  read.index = 0x1008;
  read.dataType = 9;
  // Before "Init2" the bus is closed: the request cannot go out.
  EXPECT_EQ(RunBlockingTransfer(client.app->sdoPort(), read), SdoBlockingOutcome::kNotStarted);
  server.run(clock);
  client.run(clock);

  ASSERT_EQ(RunBlockingTransfer(client.app->sdoPort(), read), SdoBlockingOutcome::kDone);
  EXPECT_EQ(client.app->canopen().sdo().client().blockLength, 11);
  EXPECT_GT(client.ui.rounds, 0);
  EXPECT_FALSE(client.app->inSdoWait());
  EXPECT_FALSE(client.app->sdoPort().sdoAccessBusy());

  // A node nobody serves: the wait runs out on the program's clock.
  read.nodeId = 77;
  read.timeoutMs = 200;
  const double before = clock.nowMs();
  EXPECT_EQ(RunBlockingTransfer(client.app->sdoPort(), read), SdoBlockingOutcome::kTimedOut);
  EXPECT_GE(clock.nowMs() - before, 200.0);
  EXPECT_LT(clock.nowMs() - before, 400.0);
}

TEST_F(CanopenSessionTest, ChangedSettingsReachTheChannelsOnTheNextTick) {
  Node node(bus, clock);
  node.app->startUp();
  node.run(clock);
  EXPECT_EQ(node.app->canopen().sdo().server(0).rxCobId, 0x602u);
  node.app->settings().sdo.serverNodeId = 5;
  node.app->canopen().markSettingsChanged();
  EXPECT_EQ(node.app->canopen().sdo().server(0).rxCobId, 0x602u);
  node.run(clock, 1);
  EXPECT_EQ(node.app->canopen().sdo().server(0).rxCobId, 0x605u);
}

TEST_F(CanopenSessionTest, DictionaryNamesAreFoundWhereUsersPutThem) {
  Node node(bus, clock);
  const CanopenSession& s = node.app->canopen();
  EXPECT_EQ(s.dictionaryPath("My.dic"), node.config.path() + "/Objects/My.dic");
  EXPECT_EQ(s.dictionaryPath("sub/My.dic"), node.config.path() + "/sub/My.dic");
  EXPECT_EQ(s.dictionaryPath("/abs/My.dic"), "/abs/My.dic");
}

}  // namespace
}  // namespace busprobe
