// The node scanner of one application lists the SDO servers of others on a virtual bus: their
// device types and names, "NoName" where a node has no name object, and nothing for silent IDs.
#include "app/application.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "app/command_line.h"
#include "app/headless_runner.h"
#include "test_support.h"

namespace busprobe {
namespace {

// While the scanner waits for an answer, the other applications on the bus take their frames.
class PumpingUi : public test::RecordingUi {
 public:
  void processEvents() override {
    for (Application* other : others) other->ProcessReceivedFrames();
  }
  std::vector<Application*> others;
};

// A node whose server serves a dictionary with device type `type` and, unless empty, the name.
struct ScanNode {
  ScanNode(std::shared_ptr<VirtualBus> bus, ManualClock& clock, int serverNode, const char* type,
           const std::string& name) {
    std::filesystem::create_directories(config.file("Objects"));
    std::ofstream eds(config.file("Objects/node.eds"));
    eds << "[FileInfo]\nFileName=node.eds\nEDSVersion=4.0\n\n[MandatoryObjects]\nSupportedObjects=1\n1=0x1000\n"
        << "\n[1000]\nParameterName=Device type\nObjectType=0x7\nDataType=0x0007\nAccessType=ro\nDefaultValue="
        << type << "\n";
    if (!name.empty())
      eds << "\n[OptionalObjects]\nSupportedObjects=1\n1=0x1008\n\n[1008]\nParameterName=Device name\n"
          << "ObjectType=0x7\nDataType=0x0009\nAccessType=const\nDefaultValue=" << name << "\n";
    eds.close();
    std::ofstream(config.file("NVK_Busprobe.ini"))
        << "[Directories]\nMyObjectDictionary=node.eds\n[SdoSettings]\nServerNodeID=" << serverNode << "\n";
    AppOptions o;
    o.configDir = config.path();
    o.lockDir = locks.path();
    o.virtualBus = std::move(bus);
    app = std::make_unique<Application>(ui, clock, o);
    app->startUp();
  }
  test::ScratchDir config, locks;
  PumpingUi ui;
  std::unique_ptr<Application> app;
};

class NodeScanSessionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // The waits for silent node IDs end on the clock; every read moves it on.
    clock.setAutoAdvance(0.25);
  }
  void startAll(std::vector<ScanNode*> nodes) {
    for (int i = 0; i < 20; ++i) {
      for (ScanNode* n : nodes) n->app->tick();
      clock.advance(50);
    }
    for (ScanNode* n : nodes) ASSERT_TRUE(n->app->running());
  }
  // Ticks every node until the scanner of the first has finished.
  void scan(std::vector<ScanNode*> nodes) {
    NodeScanSession& session = nodes[0]->app->nodeScan();
    session.start();
    for (int i = 0; i < 5000 && session.active(); ++i) {
      for (ScanNode* n : nodes) n->app->tick();
      clock.advance(50);
    }
  }
  ManualClock clock{1000};
  std::shared_ptr<VirtualBus> bus = VirtualBus::create();
};

TEST_F(NodeScanSessionTest, ListsTheServersOfTheOtherApplicationsWithTypeAndName) {
  ScanNode scanner(bus, clock, 90, "0x00000000", "");
  ScanNode a(bus, clock, 5, "0x00020191", "first scanned node");
  ScanNode b(bus, clock, 17, "0x12345678", "");
  scanner.ui.others = {a.app.get(), b.app.get()};
  startAll({&scanner, &a, &b});
  NodeScanSession& session = scanner.app->nodeScan();
  EXPECT_EQ(session.infoLine(), "Click \"START\" to start scanning at 500 kBit/sec");
  scan({&scanner, &a, &b});
  ASSERT_TRUE(session.finished()) << session.infoLine();
  // The scanning side's own server answers its own client on the virtual bus, as a second node would.
  const std::vector<std::string> expected = {"005 0x00020191 \"first scanned node\" ", "017 0x12345678 \"NoName\" ",
                                             "090 0x00000000 \"NoName\" "};
  EXPECT_EQ(session.scanner().lines(), expected);
  EXPECT_EQ(session.infoLine(), "Found 3 CANopen nodes. Select one from the list:");
  const std::vector<std::string> report = {"005 0x00020191 \"first scanned node\"", "017 0x12345678 \"NoName\"",
                                           "090 0x00000000 \"NoName\"",
                                           "Found 3 CANopen nodes. Select one from the list:"};
  EXPECT_EQ(session.reportLines(), report);
  // A stop between scans leaves the result; a new start begins empty at node 1.
  session.start();
  EXPECT_TRUE(session.scanner().lines().empty());
  EXPECT_EQ(session.infoLine(), "Scanning node #1, please wait...");
  session.stop();
  EXPECT_FALSE(session.active());
}

TEST_F(NodeScanSessionTest, AnOtherwiseQuietBusIsScannedFromTheTickAlone) {
  ScanNode scanner(bus, clock, 3, "0x00000191", "the scanner itself");
  startAll({&scanner});
  const uint64_t framesBefore = scanner.app->framesPumped();
  scan({&scanner});
  ASSERT_TRUE(scanner.app->nodeScan().finished());
  const std::vector<std::string> expected = {"003 0x00000191 \"the scanner itself\"",
                                             "Found 1 CANopen node . Select one from the list:"};
  EXPECT_EQ(scanner.app->nodeScan().reportLines(), expected);
  // 127 requests and the answers of node 3 (two for the type, the name in segments) came back.
  EXPECT_GE(scanner.app->framesPumped() - framesBefore, 127u);
}

TEST_F(NodeScanSessionTest, OnABusyBusTheReceivedFramesDriveTheScan) {
  ScanNode scanner(bus, clock, 90, "0x00000000", "");
  ScanNode a(bus, clock, 64, "0x00000191", "busy node");
  scanner.ui.others = {a.app.get()};
  startAll({&scanner, &a});
  NodeScanSession& session = scanner.app->nodeScan();
  scanner.app->settings().sdo.serverEnable = 0;
  scanner.app->canopen().markSettingsChanged();
  scanner.app->tick();
  session.start();
  // Every tick of the scanner finds a frame waiting: its idle call never comes.
  int ticks = 0;
  for (; ticks < 5000 && session.active(); ++ticks) {
    CanFrame busy;
    busy.id = 0x123;
    busy.length = 1;
    a.app->TransmitFrame(busy);
    a.app->tick();
    scanner.app->tick();
    clock.advance(50);
  }
  ASSERT_TRUE(session.finished()) << session.infoLine();
  const std::vector<std::string> expected = {"064 0x00000191 \"busy node\" "};
  EXPECT_EQ(session.scanner().lines(), expected);
}

TEST_F(NodeScanSessionTest, AnotherBlockingTransferKeepsTheClientWhileTheScanWaits) {
  ScanNode scanner(bus, clock, 90, "0x00000000", "");
  ScanNode a(bus, clock, 64, "0x00000191", "node read meanwhile");
  scanner.ui.others = {a.app.get()};
  startAll({&scanner, &a});
  NodeScanSession& session = scanner.app->nodeScan();
  session.start();
  scanner.app->tick();  // the first step: node 1 is next
  ASSERT_EQ(session.scanner().stepNumber(), 2);
  // A read of the browser's kind while the scan runs: the answers it waits for must not start the
  // scanner's next read on the same client channel.
  SdoBlockingRequest read;
  read.nodeId = 64;
  read.index = 0x1008;
  read.dataType = 9;
  read.timeoutMs = 1000;
  ASSERT_EQ(RunBlockingTransfer(scanner.app->sdoPort(), read), SdoBlockingOutcome::kDone);
  const SdoChannel& ch = scanner.app->canopen().sdo().client();
  EXPECT_EQ(ch.rxCobId, 0x580u + 64);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(ch.buffer), static_cast<size_t>(ch.position)),
            "node read meanwhile");
  EXPECT_EQ(session.scanner().currentNode(), 1);
  // Afterwards the scan goes on as before.
  for (int i = 0; i < 5000 && session.active(); ++i) {
    a.app->tick();
    scanner.app->tick();
    clock.advance(50);
  }
  ASSERT_TRUE(session.finished());
  EXPECT_EQ(session.scanner().found(), 2);
}

}  // namespace
}  // namespace busprobe

namespace busprobe {
namespace {

TEST(NodeScanCommandLine, ScanNodesIsHeadlessWork) {
  CommandLine cl;
  std::string error;
  const char* headless[] = {"busprobe", "--headless", "--scan-nodes"};
  ASSERT_TRUE(ParseCommandLine(3, headless, cl, error)) << error;
  EXPECT_TRUE(cl.scanNodes);
  CommandLine windowed;
  const char* withWindows[] = {"busprobe", "--scan-nodes"};
  EXPECT_FALSE(ParseCommandLine(2, withWindows, windowed, error));
  EXPECT_EQ(error, "option --scan-nodes needs --headless");
  EXPECT_NE(CommandLineUsage().find("--scan-nodes"), std::string::npos);
}

}  // namespace
}  // namespace busprobe
