// The built-in LSS slave on its own, and the LSS comments of the frame lists.
#include <gtest/gtest.h>

#include <vector>

#include "base/clock.h"
#include "canopen/frame_explainer.h"
#include "canopen/lss_explainer.h"
#include "canopen/lss_slave.h"
#include "canopen/object_dictionary.h"
#include "canopen/od_value.h"

namespace busprobe {
namespace {

CanFrame Request(uint8_t command, std::vector<uint8_t> bytes = {}) {
  CanFrame f = LssFrame(kLssMasterToSlaveId, command);
  for (size_t i = 0; i < bytes.size() && i < 7; ++i) f.data[i + 1] = bytes[i];
  return f;
}

struct SlaveFixture {
  SlaveFixture()
      : slave(clock, [this](CanFrame& f) {
          answers.push_back(f);
          return true;
        }, [this](const std::string& line) { notices.push_back(line); }) {}
  ManualClock clock;
  std::vector<CanFrame> answers;
  std::vector<std::string> notices;
  LssSlaveState slave;
};

TEST(LssSlave, AnswersConfigurationCommandsOnlyInConfigurationState) {
  SlaveFixture s;
  for (uint8_t c : {kLssConfigureNodeId, kLssConfigureBitTiming, kLssStoreConfiguration, kLssInquireVendor,
                    kLssInquireNodeId, kLssActivateBitTiming}) {
    s.slave.handleFrame(Request(c, {5}));
  }
  EXPECT_TRUE(s.answers.empty());
  EXPECT_EQ(s.slave.nodeId(), LssSlaveState::kUnconfiguredNodeId);
}

// Walks the slave into the configuration state with a complete, correct fast scan.
void FastScanInto(SlaveFixture& s) {
  const LssIdentity& id = s.slave.identity();
  s.slave.handleFrame(Request(kLssFastscan, {0, 0, 0, 0, kLssFastscanReset, 0, 0}));
  for (uint8_t sub = 0; sub < 4; ++sub) {
    CanFrame f = Request(kLssFastscan);
    LssSetData32(f, 1, id.part[sub]);
    f.data[6] = sub;
    f.data[7] = static_cast<uint8_t>(sub == 3 ? 0 : sub + 1);
    s.slave.handleFrame(f);
  }
}

TEST(LssSlave, FastScanMatchesOnlyTheBitsFromBitCheckUp) {
  SlaveFixture s;
  s.slave.setIdentity(LssIdentity{{0x000000F0, 1, 2, 3}});
  s.slave.handleFrame(Request(kLssFastscan, {0, 0, 0, 0, kLssFastscanReset, 0, 0}));
  ASSERT_EQ(s.answers.size(), 1u);
  EXPECT_EQ(s.answers[0].data[0], kLssIdentifySlave);
  EXPECT_EQ(s.answers[0].identifier(), kLssSlaveToMasterId);
  // Bits 8..31 are 0 in the value and in the identity: match; bit 4 checked with value 0: no match.
  s.slave.handleFrame(Request(kLssFastscan, {0, 0, 0, 0, 8, 0, 0}));
  s.slave.handleFrame(Request(kLssFastscan, {0, 0, 0, 0, 4, 0, 0}));
  s.slave.handleFrame(Request(kLssFastscan, {0, 0, 0, 0, 4, 1, 1}));   // not its position
  s.slave.handleFrame(Request(kLssFastscan, {0, 0, 0, 0, 40, 0, 0}));  // no such bit
  EXPECT_EQ(s.answers.size(), 2u);
  EXPECT_EQ(s.slave.mode(), kLssSlaveWaiting);
}

TEST(LssSlave, CompleteFastScanThenConfiguresStoresAndInquires) {
  SlaveFixture s;
  s.slave.setIdentity(LssIdentity{{0x11, 0x22, 0x33, 0x44}});
  FastScanInto(s);
  EXPECT_EQ(s.answers.size(), 5u);
  ASSERT_EQ(s.slave.mode(), kLssSlaveConfiguration);
  s.answers.clear();
  s.slave.handleFrame(Request(kLssConfigureNodeId, {0}));    // error 1
  s.slave.handleFrame(Request(kLssConfigureNodeId, {128}));  // error 1
  s.slave.handleFrame(Request(kLssConfigureNodeId, {42}));
  s.slave.handleFrame(Request(kLssConfigureBitTiming, {1, 0}));   // other table: error 1
  s.slave.handleFrame(Request(kLssConfigureBitTiming, {0, 10}));  // no such index: error 1
  s.slave.handleFrame(Request(kLssConfigureBitTiming, {0, 7}));   // 20 kbit/s
  s.slave.handleFrame(Request(kLssStoreConfiguration));
  s.slave.handleFrame(Request(kLssInquireProduct));
  s.slave.handleFrame(Request(kLssInquireNodeId));
  ASSERT_EQ(s.answers.size(), 9u);
  const uint8_t expectedErrors[] = {1, 1, 0, 1, 1, 0, 0};
  for (size_t i = 0; i < 7; ++i) EXPECT_EQ(s.answers[i].data[1], expectedErrors[i]) << i;
  EXPECT_EQ(s.answers[5].data[0], kLssConfigureBitTiming);
  EXPECT_EQ(LssData32(s.answers[7], 1), 0x22u);
  EXPECT_EQ(s.answers[8].data[1], 42);
  EXPECT_EQ(s.slave.nodeId(), 42);
  EXPECT_EQ(s.slave.bitRateKbit(), 20);
  EXPECT_EQ(s.slave.mode(), kLssSlaveStored);
  ASSERT_EQ(s.notices.size(), 1u);
  EXPECT_EQ(s.notices[0], "LSS slave: stored node ID 42, bit rate 20 kBit/s.");
  // Sent back to waiting it takes no further node ID, and being found once keeps it out of the
  // next scan's reset query.
  s.answers.clear();
  s.slave.handleFrame(Request(kLssSwitchStateGlobal, {0}));
  s.slave.handleFrame(Request(kLssConfigureNodeId, {43}));
  s.slave.handleFrame(Request(kLssFastscan, {0, 0, 0, 0, kLssFastscanReset, 0, 0}));
  EXPECT_TRUE(s.answers.empty());
  EXPECT_EQ(s.slave.nodeId(), 42);
}

TEST(LssSlave, ActivateBitTimingSaysTheBusCannotSwitchAfterTheDelay) {
  SlaveFixture s;
  FastScanInto(s);
  s.slave.handleFrame(Request(kLssConfigureBitTiming, {0, 2}));
  s.answers.clear();
  s.slave.handleFrame(Request(kLssActivateBitTiming, {100, 0}));
  EXPECT_TRUE(s.answers.empty());
  EXPECT_EQ(s.slave.mode(), kLssSlaveSwitchPending);
  s.clock.advance(99);
  s.slave.tick();
  EXPECT_TRUE(s.notices.empty());
  s.clock.advance(1);
  s.slave.tick();
  EXPECT_EQ(s.slave.mode(), kLssSlaveConfiguration);
  ASSERT_EQ(s.notices.size(), 1u);
  EXPECT_NE(s.notices[0].find("500 kBit/s"), std::string::npos);
}

TEST(LssSlave, IdentityComesFromTheDictionaryWithDefaults) {
  OdBlockPool pool;
  ObjectDictionary od(pool);
  EXPECT_EQ(LssIdentityFromDictionary(od), LssDefaultIdentity());
  OdEntry vendor = NewOdEntry(0x1018, 1);
  vendor.currentValid = 1;
  vendor.currentValue.setData32(0xABCD);
  od.insert(vendor);
  OdEntry product = NewOdEntry(0x1018, 2);  // current 0: the default value counts
  product.currentValid = 1;
  product.hasDefault = 1;
  product.defaultValue.setData32(77);
  od.insert(product);
  const LssIdentity id = LssIdentityFromDictionary(od);
  EXPECT_EQ(id.part[0], 0xABCDu);
  EXPECT_EQ(id.part[1], 77u);
  EXPECT_EQ(id.part[2], 0x10000u);
  EXPECT_EQ(id.part[3], 0u);
}

TEST(LssExplainer, EveryCommandHasItsText) {
  struct Case {
    uint32_t id;
    std::vector<uint8_t> data;
    const char* text;
  };
  const Case cases[] = {
      {0x7E5, {0x04, 1}, "; rx LSS:m2s Switch State Global"},
      {0x7E5, {0x11, 0x05}, "; rx LSS:m2s Configure Node ID : NodeID=0x05"},
      {0x7E4, {0x11, 0x01}, "; rx LSS:s2m Configure Node ID : Error=0x01"},
      {0x7E5, {0x13, 0, 0}, "; rx LSS:m2s Configure Bit Timing: TableSel=0, 1 MBit/s"},
      {0x7E5, {0x13, 0, 9}, "; rx LSS:m2s Configure Bit Timing: TableSel=0, AutoDetect"},
      {0x7E5, {0x13, 0, 12}, "; rx LSS:m2s Configure Bit Timing: TableSel=0, ?TableIdx=12?, "},
      {0x7E5, {0x13, 2, 3}, "; rx LSS:m2s Configure Bit Timing: TableSel=2, TableIdx=3, "},
      {0x7E4, {0x13, 1, 2}, "; rx LSS:s2m Configure Bit Timing: ErrorCode=1, SpecError=2"},
      {0x7E5, {0x15, 5}, "; rx LSS:m2s Activate Bit Timinig"},
      {0x7E5, {0x17}, "; rx LSS:m2s Store Configuration (no data)"},
      {0x7E4, {0x17, 0, 0}, "; rx LSS:s2m Store Configuration: ErrorCode=0, SpecError=0"},
      {0x7E5, {0x40}, "; rx LSS:m2s Switch State by Vendor ID"},
      {0x7E5, {0x41}, "; rx LSS:m2s Switch State by Product Code"},
      {0x7E5, {0x42}, "; rx LSS:m2s Switch State by Revision Nr"},
      {0x7E5, {0x43}, "; rx LSS:m2s Switch State by Serial Nr"},
      {0x7E4, {0x44}, "; rx LSS:s2m Switch State Response"},
      {0x7E5, {0x46}, "; rx LSS:m2s Identify Slave / Vendor"},
      {0x7E5, {0x47}, "; rx LSS:m2s Identify Slave / ProdCode"},
      {0x7E5, {0x48}, "; rx LSS:m2s Identify Slave / RevisionLo"},
      {0x7E5, {0x49}, "; rx LSS:m2s Identify Slave / RevisionHi"},
      {0x7E5, {0x4A}, "; rx LSS:m2s Identify Slave / SerialNrLo"},
      {0x7E5, {0x4B}, "; rx LSS:m2s Identify Slave / SerialNrHi"},
      {0x7E5, {0x4C}, "; rx LSS:m2s Identify Non-Configured Remote Slave"},
      {0x7E4, {0x4F}, "; rx LSS:s2m Identify Slave (contains no info)"},
      {0x7E4, {0x4F, 0, 0, 0, 0, 0, 0, 1}, "; rx LSS:s2m Identify Slave MALFORMED: Reserved bytes nonzero"},
      {0x7E4, {0x50}, "; rx LSS:s2m Identify Non-Configured Slave"},
      {0x7E5, {0x51, 0, 0, 0, 0, 0x80}, "; rx LSS:m2s FScan: ALL SLAVES reset and respond !"},
      {0x7E5, {0x51, 0x78, 0x56, 0x34, 0x12, 7, 1, 1}, "; rx LSS:m2s FScan Check b7..31 in ProdCode=12345678"},
      {0x7E5, {0x51, 0, 0, 0, 0, 0, 3, 0}, "; rx LSS:m2s FScan Check b0..31 in SerNr=00000000, Next=0"},
      {0x7E5, {0x51, 0, 0, 0, 0, 0, 9, 9}, "; rx LSS:m2s FScan Check b0..31 in ILLEGAL 'LSSSub'=00000000"},
      {0x7E5, {0x5A}, "; rx LSS:m2s Inquire Vendor ID"},
      {0x7E5, {0x5B}, "; rx LSS:m2s Inquire Product Code"},
      {0x7E5, {0x5C}, "; rx LSS:m2s Inquire Revision Number"},
      {0x7E5, {0x5D}, "; rx LSS:m2s Inquire Serial Number"},
      {0x7E5, {0x5E}, "; rx LSS:m2s Inquire Node ID"},
      {0x7E5, {0x99}, "; rx LSS:m2s Illegal/Unknown Command Specifier"},
  };
  for (const Case& c : cases) {
    CanFrame f = LssFrame(c.id, 0);
    for (size_t i = 0; i < c.data.size(); ++i) f.data[i] = c.data[i];
    std::string comment;
    EXPECT_TRUE(ExplainLssFrame(f, false, comment));
    EXPECT_EQ(comment, c.text);
  }
}

TEST(LssExplainer, MarksFedBackFramesAndIgnoresOtherShapes) {
  CanFrame f = LssFrame(kLssMasterToSlaveId, kLssStoreConfiguration);
  f.fdFlags = CanFrame::kLoopback;
  std::string comment;
  ASSERT_TRUE(ExplainLssFrame(f, false, comment));
  EXPECT_EQ(comment, "; TX LSS:m2s Store Configuration (no data)");
  f.length = 7;
  EXPECT_FALSE(ExplainLssFrame(f, false, comment));
  CanFrame other = LssFrame(0x7E6, kLssStoreConfiguration);
  EXPECT_FALSE(ExplainLssFrame(other, false, comment));
  // Through the lists' chain, cut to the capacity.
  FrameExplainer explainer;
  explainer.setLssExplainer([](const CanFrame& fr, bool tx, char* out, size_t cap) {
    return ExplainLssFrame(fr, tx, out, cap);
  });
  char out[16];
  CanFrame store = LssFrame(kLssMasterToSlaveId, kLssStoreConfiguration);
  EXPECT_EQ(explainer.commentFor(store, true, out, sizeof out), 15u);
  EXPECT_STREQ(out, "; rx LSS:m2s St");
}

}  // namespace
}  // namespace busprobe
