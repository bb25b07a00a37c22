#include "canopen/sdo_blocking_transfer.h"

#include <gtest/gtest.h>

#include <cstring>

#include "canopen/sdo_test_bus.h"

namespace busprobe {
namespace {

using test::FakeDictionary;
using test::TestBus;

using test::BusPort;

class BlockingTransfer : public ::testing::Test {
 protected:
  BlockingTransfer() {
    remote.dictionary.add(0x1000, 0, 7, 0x00000191, test::kRead);
    remote.dictionary.add(0x2001, 0, 5, 7);
    remote.dictionary.addBlock(0x1008, 0, {'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h', 'i', 'j'}, test::kRead);
    tool.engine->SdoApplySettings();
    remote.engine->SdoApplySettings();
  }
  ManualClock clock{1000};
  TestBus bus{clock};
  TestBus::Node& tool = bus.add(9, 1);     // reads node 5 (and serves node 1)
  TestBus::Node& remote = bus.add(1, 5);   // the node being read
  BusPort port{bus, tool, clock};
};

TEST_F(BlockingTransfer, ReadsAndWritesTheAddressedNodeAndRestoresTheBusyFlag) {
  SdoBlockingRequest read;
  read.nodeId = 5;
  read.index = 0x1000;
  read.dataType = 7;
  EXPECT_EQ(RunBlockingTransfer(port, read), SdoBlockingOutcome::kDone);
  EXPECT_EQ(port.client().value32(), 0x191u);
  EXPECT_EQ(port.client().txCobId, 0x605u);
  EXPECT_EQ(port.client().rxCobId, 0x585u);
  EXPECT_TRUE(port.busyDuringWait);
  EXPECT_FALSE(port.sdoAccessBusy());

  read.index = 0x1008;
  read.dataType = 9;
  ASSERT_EQ(RunBlockingTransfer(port, read), SdoBlockingOutcome::kDone);
  EXPECT_EQ(port.client().blockLength, 10);
  EXPECT_EQ(std::memcmp(port.client().buffer, "abcdefghij", 10), 0);

  SdoBlockingRequest write;
  write.nodeId = 5;
  write.index = 0x2001;
  write.dataType = 5;
  write.download = true;
  write.value[0] = 0x42;
  write.valueSize = 1;
  EXPECT_EQ(RunBlockingTransfer(port, write), SdoBlockingOutcome::kDone);
  EXPECT_EQ((remote.dictionary.objects[{0x2001, 0}].value), 0x42u);

  // A segmented write of a block, into the string object the remote holds as read-only.
  const uint8_t text[] = "a longer text";
  write.index = 0x1008;
  write.block = text;
  write.blockLength = sizeof text - 1;
  EXPECT_EQ(RunBlockingTransfer(port, write), SdoBlockingOutcome::kAborted);
  EXPECT_EQ(port.client().abortCode, kSdoAbortReadOnly);
}

TEST_F(BlockingTransfer, AbortsTimeoutsAndRefusals) {
  SdoBlockingRequest read;
  read.nodeId = 5;
  read.index = 0x3000;
  EXPECT_EQ(RunBlockingTransfer(port, read), SdoBlockingOutcome::kAborted);
  EXPECT_EQ(port.client().abortCode, kSdoAbortNoObject);

  // Nobody answers: the wait ends before the client's own timer, and the transfer it gave up on
  // is failed, so that a late answer cannot complete it.
  read.index = 0x1000;
  read.timeoutMs = 300;
  port.deliver = false;
  EXPECT_EQ(RunBlockingTransfer(port, read), SdoBlockingOutcome::kTimedOut);
  EXPECT_FALSE(port.client().busy());
  EXPECT_FALSE(port.sdoAccessBusy());

  // A wait the program refuses leaves the busy flag as it was.
  port.deliver = true;
  port.notReady = true;
  port.sdoAccessBusy() = true;
  EXPECT_EQ(RunBlockingTransfer(port, read), SdoBlockingOutcome::kNotReady);
  EXPECT_TRUE(port.sdoAccessBusy());

  // A node-ID whose request identifier the engine refuses never starts.
  port.notReady = false;
  read.nodeId = -0x600;
  EXPECT_EQ(RunBlockingTransfer(port, read), SdoBlockingOutcome::kNotStarted);
}

}  // namespace
}  // namespace busprobe
