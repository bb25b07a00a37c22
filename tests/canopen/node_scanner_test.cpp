#include "canopen/node_scanner.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "canopen/sdo_test_bus.h"

namespace busprobe {
namespace {

using test::BusPort;
using test::TestBus;

std::vector<uint8_t> Bytes(const std::string& s) {
  return std::vector<uint8_t>(s.begin(), s.end());
}

// The tool as client (its own server on node 100, which nobody asks) and three nodes: one with
// a long name, one with a four-character name, one without 0x1008.
class NodeScannerTest : public ::testing::Test {
 protected:
  NodeScannerTest() {
    named.dictionary.add(0x1000, 0, 7, 0x00020191, test::kRead);
    named.dictionary.addBlock(0x1008, 0, Bytes("A device with a name longer than forty characters"),
                              test::kRead);
    shortName.dictionary.add(0x1000, 0, 7, 0x12345678, test::kRead);
    // Short names come expedited, in the value bytes.
    shortName.dictionary.add(0x1008, 0, 9, 0x44434241, test::kRead);
    noName.dictionary.add(0x1000, 0, 7, 0x00000401, test::kRead);
    tool.engine->SdoApplySettings();
    named.engine->SdoApplySettings();
    shortName.engine->SdoApplySettings();
    noName.engine->SdoApplySettings();
  }
  void runScan() {
    scanner.start();
    for (int i = 0; i < 200 && scanner.active(); ++i) scanner.step();
  }
  ManualClock clock{1000};
  TestBus bus{clock};
  TestBus::Node& tool = bus.add(1, 100);
  TestBus::Node& named = bus.add(1, 3);
  TestBus::Node& shortName = bus.add(1, 40);
  TestBus::Node& noName = bus.add(1, 127);
  BusPort port{bus, tool, clock};
  NodeScanner scanner{port};
};

TEST_F(NodeScannerTest, ListsEveryNodeWithTypeAndNameAndFinishes) {
  EXPECT_EQ(scanner.infoText(500), "Click \"START\" to start scanning at 500 kBit/sec");
  runScan();
  ASSERT_EQ(scanner.stepNumber(), 4);
  EXPECT_EQ(scanner.found(), 3);
  const std::vector<std::string> expected = {
      "003 0x00020191 \"A device with a name longer than forty c\" ",
      "040 0x12345678 \"NoName\" ",
      "127 0x00000401 \"NoName\" ",
  };
  EXPECT_EQ(scanner.lines(), expected);
  EXPECT_EQ(scanner.records()[0].nodeId, 3);
  EXPECT_EQ(scanner.records()[2].deviceType, 0x401u);
  EXPECT_EQ(scanner.infoText(500), "Found 3 CANopen nodes. Select one from the list:");
  EXPECT_FALSE(port.sdoAccessBusy());
}

TEST_F(NodeScannerTest, InfoLineWhileScanningAndForOneNodeAndStop) {
  scanner.start();
  scanner.step();
  EXPECT_EQ(scanner.infoText(250), "Scanning node #1, please wait...");
  scanner.step();
  EXPECT_EQ(scanner.stepNumber(), 3);  // node 1 did not answer
  EXPECT_EQ(scanner.currentNode(), 2);
  scanner.stop();
  EXPECT_FALSE(scanner.active());
  scanner.step();
  EXPECT_EQ(scanner.currentNode(), 2);

  shortName.dictionary.objects.clear();
  noName.dictionary.objects.clear();
  runScan();
  EXPECT_EQ(scanner.infoText(250), "Found 1 CANopen node . Select one from the list:");
}

}  // namespace
}  // namespace busprobe
