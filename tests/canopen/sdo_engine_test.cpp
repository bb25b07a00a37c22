#include "canopen/sdo_engine.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "base/byte_order.h"
#include "base/canopen_types.h"
#include "base/clock.h"
#include "base/translator.h"
#include "canopen/sdo_abort_text.h"
#include "canopen/sdo_settings.h"
#include "canopen/sdo_test_bus.h"

namespace busprobe {
namespace {

using test::FakeDictionary;
using test::kRead;
using test::kReadWrite;
using test::kWrite;
using test::SentFrame;
using test::TestBus;

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

CanFrame Frame(uint32_t id, std::vector<uint8_t> bytes) {
  CanFrame f;
  f.id = id;
  f.length = 8;
  for (size_t i = 0; i < bytes.size() && i < 8; ++i) f.data[i] = bytes[i];
  return f;
}

uint32_t Data32(const CanFrame& f) {
  return GetLe32(f.data + 4);
}

std::vector<uint8_t> Pattern(size_t n) {
  std::vector<uint8_t> bytes(n);
  for (size_t i = 0; i < n; ++i) bytes[i] = static_cast<uint8_t>(i * 7 + 3);
  return bytes;
}

// The tool (client on node 2, own server on node 1) and a remote node (server on node 2, client
// on node 1) on one bus.
class SdoTransfer : public ::testing::Test {
 protected:
  SdoTransfer() : bus(clock), tool(bus.add(2, 1)), remote(bus.add(1, 2)) {}

  SdoChannel& client() { return tool.engine->client(); }
  void setUp(uint16_t index, uint8_t sub, uint8_t type, bool download) {
    SdoChannel& c = client();
    c.index = index;
    c.subIndex = sub;
    c.dataType = type;
    c.isDownload = download;
    c.rawValue = 0;
    c.blockLength = 0;
    c.abortCode = 0;
  }
  bool succeeded() { return client().state == kSdoFinished && client().abortCode == 0; }
  bool read(uint16_t index, uint8_t sub, uint8_t type = 0) {
    setUp(index, sub, type, false);
    if (!tool.engine->InitTransfer()) return false;
    bus.pump();
    return succeeded();
  }
  bool write(uint16_t index, uint8_t sub, uint8_t type, uint32_t value, uint8_t size = 4) {
    setUp(index, sub, type, true);
    client().setValue32(value);
    client().valueSize = size;
    if (!tool.engine->InitTransfer()) return false;
    bus.pump();
    return succeeded();
  }
  bool writeBlock(uint16_t index, uint8_t sub, const std::vector<uint8_t>& bytes) {
    setUp(index, sub, 9, true);
    std::copy(bytes.begin(), bytes.end(), client().buffer);
    client().blockLength = static_cast<int32_t>(bytes.size());
    if (!tool.engine->InitTransfer()) return false;
    bus.pump();
    return succeeded();
  }

  ManualClock clock{10000};
  TestBus bus;
  TestBus::Node& tool;
  TestBus::Node& remote;
};

TEST_F(SdoTransfer, ExpeditedUploadsKeepTheBytesOfTheirType) {
  remote.dictionary.add(0x1000, 0, 7, 0x00020191);
  remote.dictionary.add(0x2000, 1, 3, 0xFFFF8001);
  remote.dictionary.add(0x2000, 2, 5, 0xAB);
  ASSERT_TRUE(read(0x1000, 0, 7));
  EXPECT_EQ(client().value32(), 0x00020191u);
  EXPECT_EQ(client().rawValue, 0u);
  EXPECT_EQ(SdoTransferValue(client()).i, 0x00020191);

  ASSERT_TRUE(read(0x2000, 1, 3));
  EXPECT_EQ(client().value32(), 0x8001u);  // the server sent two bytes
  EXPECT_EQ(client().valueSize, 2);
  EXPECT_EQ(SdoTransferValue(client()).i, -32767);

  // Unknown type: four raw bytes of type 54, with the size the response gave.
  ASSERT_TRUE(read(0x2000, 2, 0));
  EXPECT_EQ(client().dataType, kCoTypeUntyped32);
  EXPECT_EQ(client().rawValue, 1u);
  EXPECT_EQ(client().valueSize, 1);
  EXPECT_EQ(client().value32(), 0xABu);
  EXPECT_EQ(remote.engine->server(0).rxCount, 3u);
  EXPECT_EQ(remote.engine->server(0).txCount, 3u);
}

TEST_F(SdoTransfer, ExpeditedDownloadsReachTheDictionary) {
  remote.dictionary.add(0x2001, 0, 6, 0);
  ASSERT_TRUE(write(0x2001, 0, 6, 0x12345678, 2));
  const CanFrame& request = bus.sent.front().frame;
  EXPECT_EQ(request.id, 0x602u);
  EXPECT_EQ(request.data[0], 0x2B);     // expedited, two bytes
  EXPECT_EQ(Data32(request), 0x5678u);  // only the type's bytes go out
  EXPECT_EQ(remote.dictionary.objects.at({0x2001, 0}).value, 0x5678u);
}

TEST_F(SdoTransfer, SegmentedUploadOf2048Bytes) {
  const std::vector<uint8_t> bytes = Pattern(2048);
  remote.dictionary.addBlock(0x2100, 3, bytes);
  ASSERT_TRUE(read(0x2100, 3, 9));
  EXPECT_EQ(client().blockLength, 2048);
  EXPECT_EQ(client().position, 2048);
  EXPECT_TRUE(std::equal(bytes.begin(), bytes.end(), client().buffer));
  EXPECT_EQ(remote.engine->server(0).state, kSdoFinished);
  EXPECT_EQ(client().txCount, 1u + (2048 + 6) / 7);
}

TEST_F(SdoTransfer, SegmentedDownloadOf2048BytesAndOfOneSegment) {
  remote.dictionary.addBlock(0x2100, 1, {});
  const std::vector<uint8_t> bytes = Pattern(2048);
  ASSERT_TRUE(writeBlock(0x2100, 1, bytes));
  EXPECT_EQ(remote.dictionary.objects.at({0x2100, 1}).block, bytes);
  EXPECT_EQ(client().rawValue, 1u);

  // One segment: finished with the server's confirmation of it, not before, and then it stays so.
  setUp(0x2100, 1, 9, true);
  const std::vector<uint8_t> five = {'h', 'e', 'l', 'l', 'o'};
  std::copy(five.begin(), five.end(), client().buffer);
  client().blockLength = 5;
  ASSERT_TRUE(tool.engine->InitTransfer());
  bus.pump(2);  // request and its response: the segment is now on its way
  EXPECT_TRUE(client().busy());
  bus.pump();
  EXPECT_TRUE(succeeded());
  EXPECT_EQ(remote.dictionary.objects.at({0x2100, 1}).block, five);
  EXPECT_THAT(tool.lines, IsEmpty());
}

TEST_F(SdoTransfer, AServerRefusalOfTheLastSegmentReachesTheClient) {
  remote.dictionary.addBlock(0x2100, 2, {}, kRead);
  EXPECT_FALSE(writeBlock(0x2100, 2, {1, 2, 3}));
  EXPECT_EQ(client().state, kSdoFailed);
  EXPECT_EQ(client().abortCode, kSdoAbortReadOnly);
}

TEST_F(SdoTransfer, AccessViolationsAndMissingObjectsAreAborted) {
  remote.dictionary.add(0x2002, 0, 7, 5, kWrite);
  remote.dictionary.add(0x2003, 0, 7, 5, kRead);
  remote.dictionary.add(0x2004, 0, 0x20, 5);  // a structure has no expedited value
  EXPECT_FALSE(read(0x2002, 0, 7));
  EXPECT_EQ(client().abortCode, kSdoAbortWriteOnly);
  EXPECT_EQ(client().value32(), 0u);
  EXPECT_FALSE(write(0x2003, 0, 7, 9));
  EXPECT_EQ(client().abortCode, kSdoAbortReadOnly);
  EXPECT_FALSE(read(0x3000, 0, 7));
  EXPECT_EQ(client().abortCode, kSdoAbortNoObject);
  EXPECT_FALSE(read(0x2004, 0, 7));
  EXPECT_EQ(client().abortCode, kSdoAbortIncompatibleAccess);
  EXPECT_EQ(SdoAbortText(client().abortCode), "incompatible access");
  // After each abort the server is free for the next request.
  for (int i = 0; i < kSdoServerCount; ++i) EXPECT_FALSE(remote.engine->server(i).busy());
}

TEST_F(SdoTransfer, TwoServersOnOneNodeBothAnswer) {
  remote.settings.moreServerNodeIds[3] = 2;  // server 4 on node 2 as well
  remote.engine->SdoApplySettings();
  remote.dictionary.add(0x1000, 0, 7, 77);
  setUp(0x1000, 0, 7, false);
  ASSERT_TRUE(tool.engine->InitTransfer());
  bus.pump();
  EXPECT_EQ(remote.engine->server(0).txCount, 1u);
  EXPECT_EQ(remote.engine->server(4).txCount, 1u);
  // The second answer came to a finished client: an unexpected one.
  EXPECT_EQ(client().state, kSdoFailed);
  EXPECT_EQ(client().value32(), 77u);
  EXPECT_EQ(client().rxCount, 2u);
}

TEST_F(SdoTransfer, BothDirectionsAtOnce) {
  // The remote's client reads the tool's own server while the tool reads the remote.
  tool.dictionary.add(0x1018, 1, 7, 0xCAFE);
  remote.dictionary.add(0x1018, 1, 7, 0xBEEF);
  SdoChannel& other = remote.engine->client();
  other.index = 0x1018;
  other.subIndex = 1;
  other.dataType = 7;
  ASSERT_TRUE(remote.engine->InitTransfer());
  ASSERT_TRUE(read(0x1018, 1, 7));
  EXPECT_EQ(client().value32(), 0xBEEFu);
  EXPECT_EQ(other.state, kSdoFinished);
  EXPECT_EQ(other.value32(), 0xCAFEu);
}

// One engine fed frames by hand; what it sends is in bus.sent.
class SdoByHand : public ::testing::Test {
 protected:
  SdoByHand() : bus(clock), node(bus.add(5, 2)) {}
  SdoEngine& engine() { return *node.engine; }
  SdoChannel& client() { return engine().client(); }
  SdoChannel& server() { return engine().server(0); }

  // A request to server 0 (node 2); returns what the servers answered.
  std::vector<CanFrame> request(std::vector<uint8_t> bytes) { return feed(0x602, std::move(bytes)); }
  // A response to the client (node 5).
  std::vector<CanFrame> respond(std::vector<uint8_t> bytes) { return feed(0x585, std::move(bytes)); }
  std::vector<CanFrame> feed(uint32_t id, std::vector<uint8_t> bytes) {
    const size_t before = bus.sent.size();
    engine().ProcessFrame(Frame(id, std::move(bytes)));
    bus.drop();
    std::vector<CanFrame> out;
    for (size_t i = before; i < bus.sent.size(); ++i) out.push_back(bus.sent[i].frame);
    return out;
  }
  // Starts a client read of 0x2000.01 and takes the request off the bus.
  void startRead(uint8_t type = 7) {
    client().index = 0x2000;
    client().subIndex = 1;
    client().dataType = type;
    client().isDownload = 0;
    ASSERT_TRUE(engine().InitTransfer());
    bus.drop();
  }
  static uint32_t AbortCode(const std::vector<CanFrame>& replies) {
    return replies.size() == 1 && replies[0].data[0] == 0x80 ? Data32(replies[0]) : 0;
  }

  ManualClock clock{0};
  TestBus bus;
  TestBus::Node& node;
};

TEST_F(SdoByHand, ServerRefusesSegmentedDownloadSizesOutsideTheBuffer) {
  auto r = request({0x21, 0x00, 0x21, 0x00, 0x00, 0x08, 0, 0});  // 2048
  ASSERT_EQ(r.size(), 1u);
  EXPECT_EQ(r[0].data[0], 0x60);
  EXPECT_EQ(r[0].id, 0x582u);
  EXPECT_EQ(server().state, kSdoBusy);
  EXPECT_EQ(AbortCode(request({0x21, 0x00, 0x21, 0x00, 0x01, 0x08, 0, 0})), kSdoAbortOutOfMemory);  // 2049
  EXPECT_EQ(server().state, kSdoFailed);
  EXPECT_EQ(AbortCode(request({0x21, 0x00, 0x21, 0x00, 0xFF, 0xFF, 0xFF, 0xFF})), kSdoAbortOutOfMemory);
  EXPECT_EQ(AbortCode(request({0x21, 0x00, 0x21, 0x00, 0, 0, 0, 0})), kSdoAbortBlockSize);
  r = request({0x20, 0x00, 0x21, 0x07, 5, 0, 0, 0});
  EXPECT_EQ(AbortCode(r), kSdoAbortCommand);
  EXPECT_EQ(r[0].data[3], 0x07);  // the abort names the object
  EXPECT_THAT(node.lines.back(),
              HasSubstr("SDO: Server: cannot handle download without size indication ($20)"));
  EXPECT_EQ(node.dictionary.accesses, 0);
}

TEST_F(SdoByHand, ServerChecksToggleSizeAndOrderOfDownloadSegments) {
  node.dictionary.addBlock(0x2100, 0, {});
  const std::vector<uint8_t> start = {0x21, 0x00, 0x21, 0x00, 10, 0, 0, 0};
  request(start);
  EXPECT_EQ(AbortCode(request({0x10, 1, 2, 3, 4, 5, 6, 7})),
            kSdoAbortParameterIncompatible);  // toggle 1 first
  EXPECT_EQ(server().state, kSdoFailed);
  // A segment after the abort belongs to no transfer.
  EXPECT_EQ(AbortCode(request({0x00, 1, 2, 3, 4, 5, 6, 7})), kSdoAbortParameterIncompatible);

  request(start);
  auto r = request({0x00, 1, 2, 3, 4, 5, 6, 7});
  ASSERT_EQ(r.size(), 1u);
  EXPECT_EQ(r[0].data[0], 0x20);
  EXPECT_EQ(AbortCode(request({0x00, 8, 9, 10, 0, 0, 0, 0})),
            kSdoAbortParameterIncompatible);  // toggle repeated

  request(start);
  request({0x00, 1, 2, 3, 4, 5, 6, 7});
  EXPECT_EQ(AbortCode(request({0x11, 8, 9, 10, 11, 0, 0, 0})),
            kSdoAbortParameterIncompatible);  // 11 > 10 bytes
  request(start);
  EXPECT_EQ(AbortCode(request({0x0E, 0, 0, 0, 0, 0, 0, 0})), kSdoAbortParameterIncompatible);  // no bytes

  // A last segment short of the size announced is not written.
  request(start);
  request({0x00, 1, 2, 3, 4, 5, 6, 7});
  EXPECT_EQ(AbortCode(request({0x1B, 8, 9, 0, 0, 0, 0, 0})), kSdoAbortParameterIncompatible);
  EXPECT_EQ(node.dictionary.accesses, 0);

  request(start);
  request({0x00, 1, 2, 3, 4, 5, 6, 7});
  r = request({0x19, 8, 9, 10, 0, 0, 0, 0});
  ASSERT_EQ(r.size(), 1u);
  EXPECT_EQ(r[0].data[0], 0x30);
  EXPECT_EQ(server().state, kSdoFinished);
  EXPECT_EQ(node.dictionary.objects.at({0x2100, 0}).block,
            std::vector<uint8_t>({1, 2, 3, 4, 5, 6, 7, 8, 9, 10}));
}

TEST_F(SdoByHand, ServerChecksUploadSegmentRequests) {
  node.dictionary.addBlock(0x2100, 0, Pattern(10));
  EXPECT_EQ(AbortCode(request({0x60, 0, 0, 0, 0, 0, 0, 0})), kSdoAbortSequence);  // no upload running
  EXPECT_EQ(AbortCode(request({0x70, 0, 0, 0, 0, 0, 0, 0})), kSdoAbortToggle);

  auto r = request({0x40, 0x00, 0x21, 0x00, 0, 0, 0, 0});
  ASSERT_EQ(r.size(), 1u);
  EXPECT_EQ(r[0].data[0], 0x41);
  EXPECT_EQ(Data32(r[0]), 10u);
  EXPECT_EQ(AbortCode(request({0x70, 0, 0, 0, 0, 0, 0, 0})), kSdoAbortToggle);
  EXPECT_EQ(server().state, kSdoFailed);

  request({0x40, 0x00, 0x21, 0x00, 0, 0, 0, 0});
  r = request({0x60, 0, 0, 0, 0, 0, 0, 0});
  ASSERT_EQ(r.size(), 1u);
  EXPECT_EQ(r[0].data[0], 0x00);
  r = request({0x70, 0, 0, 0, 0, 0, 0, 0});
  ASSERT_EQ(r.size(), 1u);
  EXPECT_EQ(r[0].data[0], 0x10 | (4 << 1) | 1);  // three bytes, last
  EXPECT_EQ(r[0].data[1], Pattern(10)[7]);
  EXPECT_EQ(server().state, kSdoFinished);
}

TEST_F(SdoByHand, ServerRefusesADictionaryBlockLargerThanItsBuffer) {
  node.dictionary.addBlock(0x2100, 0, Pattern(3000));
  EXPECT_EQ(AbortCode(request({0x40, 0x00, 0x21, 0x00, 0, 0, 0, 0})), kSdoAbortOutOfMemory);
  // The block's leftovers do not turn an expedited object into a data block.
  node.dictionary.add(0x1000, 0, 7, 42);
  auto r = request({0x40, 0x00, 0x10, 0x00, 0, 0, 0, 0});
  ASSERT_EQ(r.size(), 1u);
  EXPECT_EQ(r[0].data[0], 0x43);
  EXPECT_EQ(Data32(r[0]), 42u);
}

TEST_F(SdoByHand, ServerIgnoresUnknownSpecifiersAndBlockRequests) {
  for (uint8_t c : {0xA0, 0xA4, 0xC0, 0xC2, 0xC6, 0xE0, 0x42}) {
    EXPECT_THAT(request({c, 0x00, 0x21, 0x00, 0, 0, 0, 0}), IsEmpty()) << int{c};
  }
  char expected[64];
  std::snprintf(expected, sizeof expected, "Server: ignoring unknown Command Specifier ($%02X)", 0xC6);
  EXPECT_THAT(node.lines[4], HasSubstr(expected));
  EXPECT_EQ(node.lines.size(), 7u);
  EXPECT_EQ(node.dictionary.accesses, 0);
}

TEST_F(SdoByHand, ServerAfterAVanishedOrAbortingClient) {
  node.dictionary.addBlock(0x2100, 0, {});
  request({0x21, 0x00, 0x21, 0x00, 20, 0, 0, 0});
  request({0x00, 1, 2, 3, 4, 5, 6, 7});
  // The client aborts: no answer, and the transfer is over.
  EXPECT_THAT(request({0x80, 0x00, 0x21, 0x00, 0, 0, 0, 0x08}), IsEmpty());
  EXPECT_FALSE(server().busy());

  // A client that vanishes leaves the server busy until the next initiate, which starts afresh.
  request({0x21, 0x00, 0x21, 0x00, 20, 0, 0, 0});
  request({0x00, 1, 2, 3, 4, 5, 6, 7});
  EXPECT_TRUE(server().busy());
  request({0x21, 0x00, 0x21, 0x00, 3, 0, 0, 0});
  auto r = request({0x09, 9, 8, 7, 0, 0, 0, 0});
  ASSERT_EQ(r.size(), 1u);
  EXPECT_EQ(r[0].data[0], 0x20);
  EXPECT_EQ(node.dictionary.objects.at({0x2100, 0}).block, std::vector<uint8_t>({9, 8, 7}));
}

class BrokenDictionary : public SdoDictionaryAccess {
 public:
  int SDO_USER_DictionaryAccess(SdoChannel&) override { return 0; }
};

TEST(SdoServerDictionaryFault, AFailedAccessWithoutAbortCodeIsReported) {
  ManualClock clock;
  SdoSettings settings;
  BrokenDictionary dictionary;
  std::vector<CanFrame> sent;
  std::vector<std::string> lines;
  SdoEngineLinks links;
  links.transmit = [&](CanFrame& f) {
    sent.push_back(f);
    return true;
  };
  links.message = [&](std::string_view line) { lines.emplace_back(line); };
  SdoEngine engine(settings, dictionary, clock, links);
  engine.ProcessFrame(Frame(0x602, {0x40, 0x34, 0x12, 0x05, 0, 0, 0, 0}));
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(Data32(sent[0]), kSdoAbortIncompatibleAccess);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0], "t=0: SDO: Server: Bug in SDO_USER_DictionaryAccess, object $1234.$05");
  engine.ProcessFrame(Frame(0x602, {0x23, 0x34, 0x12, 0x05, 1, 0, 0, 0}));
  EXPECT_EQ(Data32(sent[1]), kSdoAbortIncompatibleAccess);
  // The end of a segmented download finds no object to write.
  engine.ProcessFrame(Frame(0x602, {0x21, 0x34, 0x12, 0x05, 1, 0, 0, 0}));
  engine.ProcessFrame(Frame(0x602, {0x0D, 0x55, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(Data32(sent.back()), kSdoAbortUnsupportedAccess);
}

TEST_F(SdoByHand, ClientRequestsOnTheConfiguredIdentifiers) {
  client().index = 0x1234;
  client().subIndex = 0x56;
  client().isDownload = 1;
  client().dataType = 2;
  client().setValue32(0xAABBCCDD);
  client().valueSize = 1;
  ASSERT_TRUE(engine().InitTransfer());
  const CanFrame& f = bus.sent.back().frame;
  EXPECT_EQ(f.id, 0x605u);
  EXPECT_EQ(f.length, 8);
  EXPECT_THAT(std::vector<uint8_t>(f.data, f.data + 8), ElementsAre(0x2F, 0x34, 0x12, 0x56, 0xDD, 0, 0, 0));
  client().rawValue = 1;
  client().valueSize = 0;
  ASSERT_TRUE(engine().InitTransfer());
  EXPECT_EQ(bus.sent.back().frame.data[0], 0x23);
  EXPECT_EQ(Data32(bus.sent.back().frame), 0xAABBCCDDu);
}

TEST_F(SdoByHand, ClientInitTransferFailures) {
  client().txCobId = 0x100;
  EXPECT_FALSE(engine().InitTransfer());
  EXPECT_EQ(client().state, kSdoFailed);
  EXPECT_EQ(node.lines.back(), "t=0: SDO: SDO error: InitTransfer fails, bad CAN-id=$0100.");

  client().txCobId = 0x605;
  node.sendFails = true;
  EXPECT_FALSE(engine().InitTransfer());
  EXPECT_EQ(client().abortCode, kSdoAbortCanError);
  EXPECT_EQ(node.lines.back(), "t=0: SDO: SDO error: InitTransfer fails, error-code=$0606002F.");

  // A download longer than the buffer would send bytes from beyond it.
  node.sendFails = false;
  client().isDownload = 1;
  client().blockLength = 2049;
  EXPECT_FALSE(engine().InitTransfer());
  EXPECT_EQ(client().abortCode, kSdoAbortOutOfMemory);
  EXPECT_THAT(bus.sent, IsEmpty());
}

TEST_F(SdoByHand, ClientTakesOnlyAnswersToItsRequest) {
  startRead();
  respond({0x43, 0x00, 0x20, 0x02, 1, 0, 0, 0});  // another subindex
  EXPECT_EQ(client().state, kSdoFailed);
  EXPECT_EQ(node.lines.back(), "t=0: SDO: Client: unexpected upload response ($43)");

  startRead();
  respond({0x60, 0x00, 0x20, 0x01, 0, 0, 0, 0});  // a write confirmation for a read
  EXPECT_EQ(client().state, kSdoFailed);
  EXPECT_EQ(node.lines.back(), "t=0: SDO: Client: unexpected 'download' response ($60)");

  // Answered twice: the second answer is unexpected, but the value stays that of the first.
  startRead();
  respond({0x43, 0x00, 0x20, 0x01, 5, 0, 0, 0});
  EXPECT_EQ(client().state, kSdoFinished);
  const size_t lines = node.lines.size();
  respond({0x43, 0x00, 0x20, 0x01, 6, 0, 0, 0});
  EXPECT_EQ(client().state, kSdoFailed);
  EXPECT_EQ(client().value32(), 5u);
  EXPECT_EQ(node.lines.size(), lines);  // not busy: no message

  // A late announcement of a data block leaves the finished result alone (failed, as any
  // unexpected answer) and opens nothing.
  int announced = 0;
  client().dataCallback = [&](SdoChannel&, int event, int32_t, const uint8_t*) {
    announced += event == kSdoBlockAnnounced;
    return 0;
  };
  startRead();
  respond({0x43, 0x00, 0x20, 0x01, 5, 0, 0, 0});
  EXPECT_THAT(respond({0x41, 0x00, 0x20, 0x01, 0x00, 0x10, 0, 0}), IsEmpty());
  EXPECT_EQ(client().blockLength, 0);
  EXPECT_EQ(client().segmentMode, kSdoNoSegments);
  EXPECT_EQ(SdoTransferValue(client()).i, 5);
  EXPECT_EQ(announced, 0);
  client().dataCallback = nullptr;

  // An upload answer to a write has not confirmed the write.
  client().isDownload = 1;
  client().blockLength = 0;
  ASSERT_TRUE(engine().InitTransfer());
  respond({0x4F, 0x00, 0x20, 0x01, 5, 0, 0, 0});
  EXPECT_EQ(client().state, kSdoFailed);
  EXPECT_EQ(node.lines.back(), "t=0: SDO: Client: unexpected upload response ($4F)");
  client().isDownload = 0;

  // An abort while busy ends the transfer with its code.
  startRead();
  client().setValue32(99);
  respond({0x80, 0x00, 0x20, 0x01, 0x00, 0x00, 0x02, 0x06});
  EXPECT_EQ(client().state, kSdoFailed);
  EXPECT_EQ(client().abortCode, kSdoAbortNoObject);
  EXPECT_EQ(client().value32(), 0u);
  respond({0x80, 0x00, 0x20, 0x01, 0x11, 0x00, 0x09, 0x06});  // late: ignored
  EXPECT_EQ(client().abortCode, kSdoAbortNoObject);
}

TEST_F(SdoByHand, ClientIgnoresUnknownSpecifiersAndBlockResponses) {
  startRead();
  for (uint8_t c : {0xA0, 0xC1, 0xE0, 0x61})
    EXPECT_THAT(respond({c, 0x00, 0x20, 0x01, 0, 0, 0, 0}), IsEmpty());
  EXPECT_TRUE(client().busy());
  EXPECT_EQ(node.lines.back(), "t=0: SDO: Client: ignoring unknown Command Specifier ($61)");
}

TEST_F(SdoByHand, ClientSegmentedUploadRules) {
  // No size indicated.
  startRead();
  respond({0x40, 0x00, 0x20, 0x01, 0, 0, 0, 0});
  EXPECT_EQ(client().abortCode, kSdoAbortCommand);
  EXPECT_THAT(node.lines.back(), HasSubstr("Client: cannot handle upload without size indication ($40)"));

  // A wrong multiplexer fails, but the first segment request is already out.
  startRead();
  auto r = respond({0x41, 0x00, 0x20, 0x09, 10, 0, 0, 0});
  EXPECT_EQ(client().abortCode, kSdoAbortSequence);
  EXPECT_EQ(client().state, kSdoFailed);
  ASSERT_EQ(r.size(), 1u);
  EXPECT_EQ(r[0].data[0], 0x60);
  EXPECT_THAT(node.lines.back(), HasSubstr("Client: wrong multiplexer in upload response"));
  // The segments that follow belong to no running transfer.
  respond({0x01, 'x', 0, 0, 0, 0, 0, 0});
  EXPECT_EQ(client().state, kSdoFailed);

  // Segments: the toggle alternates in the requests, the last one ends the transfer.
  startRead(9);
  r = respond({0x41, 0x00, 0x20, 0x01, 9, 0, 0, 0});
  ASSERT_EQ(r.size(), 1u);
  EXPECT_EQ(r[0].data[0], 0x60);
  r = respond({0x00, 'a', 'b', 'c', 'd', 'e', 'f', 'g'});
  ASSERT_EQ(r.size(), 1u);
  EXPECT_EQ(r[0].data[0], 0x70);
  EXPECT_THAT(respond({0x1B, 'h', 'i', 0, 0, 0, 0, 0}), IsEmpty());
  EXPECT_EQ(client().state, kSdoFinished);
  EXPECT_EQ(client().position, 9);
  EXPECT_STREQ(SdoTransferValue(client()).s, "\"abcdefghi\"");

  // A segment arriving after a timeout does not turn the failure into success.
  startRead(9);
  respond({0x41, 0x00, 0x20, 0x01, 9, 0, 0, 0});
  for (int i = 0; i < 10; ++i) {
    clock.advance(100);
    engine().SdoTimeoutTick();
  }
  ASSERT_EQ(client().state, kSdoFailed);
  EXPECT_THAT(respond({0x01, 'z', 'z', 'z', 'z', 'z', 'z', 'z'}), IsEmpty());
  EXPECT_EQ(client().state, kSdoFailed);
  EXPECT_EQ(client().buffer[0], 'a');
}

struct CallbackLog {
  std::vector<std::pair<int, int32_t>> events;
  std::vector<uint8_t> streamed;
};

TEST_F(SdoByHand, ClientLargeUploadsGoThroughTheCallback) {
  // Without a callback a block above 2048 bytes is refused.
  startRead();
  auto r = respond({0x41, 0x00, 0x20, 0x01, 0x88, 0x13, 0, 0});  // 5000
  EXPECT_EQ(client().abortCode, kSdoAbortOutOfMemory);
  EXPECT_EQ(node.lines.back(), "t=0: SDO: Client: datablock too large (5 kByte)");

  CallbackLog log;
  int32_t answer = 0;
  client().dataCallback = [&](SdoChannel&, int event, int32_t number, const uint8_t* data) {
    log.events.push_back({event, number});
    if (event == kSdoBlockData) log.streamed.insert(log.streamed.end(), data, data + number);
    return event == kSdoBlockAnnounced ? answer : 0;
  };

  // 0: a stream of data calls, then the end with the count.
  startRead();
  respond({0x41, 0x00, 0x20, 0x01, 0x88, 0x13, 0, 0});
  EXPECT_TRUE(client().busy());
  respond({0x00, 1, 2, 3, 4, 5, 6, 7});
  respond({0x1B, 8, 9, 0, 0, 0, 0, 0});
  EXPECT_EQ(client().state, kSdoFinished);
  EXPECT_EQ(log.events, (std::vector<std::pair<int, int32_t>>{{1, 5000}, {2, 7}, {2, 2}, {3, 9}}));
  EXPECT_EQ(log.streamed, std::vector<uint8_t>({1, 2, 3, 4, 5, 6, 7, 8, 9}));

  // -1: into the buffer, cut at 2048 bytes; the count goes on.
  answer = -1;
  log.events.clear();
  startRead();
  respond({0x41, 0x00, 0x20, 0x01, 0x88, 0x13, 0, 0});
  for (int i = 0; i < 300; ++i) respond({static_cast<uint8_t>(i % 2 ? 0x10 : 0x00), 1, 1, 1, 1, 1, 1, 1});
  respond({0x01, 2, 2, 2, 2, 2, 2, 2});
  EXPECT_EQ(client().state, kSdoFinished);
  EXPECT_EQ(client().position, 2107);
  EXPECT_EQ(log.events.back(), (std::pair<int, int32_t>{3, 2107}));

  // 0x08000021: refused with an abort frame carrying that code, and no message.
  answer = static_cast<int32_t>(kSdoAbortCannotTransfer21);
  const size_t lines = node.lines.size();
  startRead();
  r = respond({0x41, 0x00, 0x20, 0x01, 0x88, 0x13, 0, 0});
  EXPECT_EQ(client().state, kSdoFailed);
  EXPECT_EQ(client().abortCode, kSdoAbortOutOfMemory);
  ASSERT_EQ(r.size(), 1u);
  EXPECT_EQ(r[0].data[0], 0x80);
  EXPECT_EQ(Data32(r[0]), kSdoAbortCannotTransfer21);
  EXPECT_EQ(node.lines.size(), lines);

  // The DCF storage object always goes to the callback, whatever its size.
  answer = 0;
  log.events.clear();
  client().index = 0x1021;
  client().subIndex = 0;
  ASSERT_TRUE(engine().InitTransfer());
  respond({0x41, 0x21, 0x10, 0x00, 20, 0, 0, 0});
  EXPECT_EQ(log.events.front(), (std::pair<int, int32_t>{1, 20}));
  EXPECT_EQ(client().streaming, 1u);
}

TEST_F(SdoByHand, ClientDownloadRules) {
  client().index = 0x2000;
  client().subIndex = 1;
  client().isDownload = 1;
  client().blockLength = 9;
  for (int i = 0; i < 9; ++i) client().buffer[i] = static_cast<uint8_t>(i + 1);
  ASSERT_TRUE(engine().InitTransfer());
  EXPECT_EQ(bus.sent.back().frame.data[0], 0x21);
  EXPECT_EQ(Data32(bus.sent.back().frame), 9u);
  auto r = respond({0x60, 0x00, 0x20, 0x01, 0, 0, 0, 0});
  ASSERT_EQ(r.size(), 1u);
  EXPECT_THAT(std::vector<uint8_t>(r[0].data, r[0].data + 8), ElementsAre(0x00, 1, 2, 3, 4, 5, 6, 7));
  r = respond({0x20, 0, 0, 0, 0, 0, 0, 0});
  ASSERT_EQ(r.size(), 1u);
  EXPECT_EQ(r[0].data[0], 0x10 | (5 << 1) | 1);
  EXPECT_TRUE(client().busy());
  EXPECT_THAT(respond({0x30, 0, 0, 0, 0, 0, 0, 0}), IsEmpty());
  EXPECT_EQ(client().state, kSdoFinished);

  // A segment response to an expedited write is unexpected.
  client().blockLength = 0;
  ASSERT_TRUE(engine().InitTransfer());
  respond({0x20, 0, 0, 0, 0, 0, 0, 0});
  EXPECT_EQ(client().state, kSdoFailed);
  EXPECT_EQ(node.lines.back(), "t=0: SDO: Client: unexpected segment download response ($20)");
}

TEST_F(SdoByHand, ClientTimeoutStartsOneTickAboveTheSetting) {
  node.settings.clientTimeoutMs = 40;
  engine().SdoApplySettings();
  startRead();
  EXPECT_EQ(client().timer, 5);
  node.settings.clientTimeoutMs = 500;
  engine().SdoApplySettings();
  clock.set(1234);  // a tick phase the transfer does not know
  engine().SdoTimeoutTick();
  startRead();
  EXPECT_EQ(client().timer, 6);
  // Ticks every 10 ms; the timer only moves every 100 ms: failed after 500..600 ms.
  int elapsed = 0;
  while (client().busy() && elapsed < 2000) {
    clock.advance(10);
    elapsed += 10;
    engine().SdoTimeoutTick();
  }
  EXPECT_GT(elapsed, 500);
  EXPECT_LE(elapsed, 600);
  EXPECT_EQ(client().state, kSdoFailed);
  EXPECT_EQ(engine().timeoutCount(), 1);
  EXPECT_EQ(node.lines.back(), "t=1: SDO: Client0: Timeout accessing object 0x2000.01.");
}

TEST_F(SdoByHand, TimeoutTickWhenTheClockGoesBackAndTheCounterSaturates) {
  clock.set(5000);
  for (int i = 0; i < 300; ++i) {
    startRead();
    client().timer = 1;
    clock.advance(100);
    engine().SdoTimeoutTick();
  }
  EXPECT_EQ(engine().timeoutCount(), 255);
  startRead();
  client().timer = 2;
  clock.set(100);  // backwards: the tick acts at once
  engine().SdoTimeoutTick();
  EXPECT_EQ(client().timer, 1);
  clock.set(150);
  engine().SdoTimeoutTick();
  EXPECT_EQ(client().timer, 1);
}

TEST_F(SdoByHand, DispatchByIdentifierAndChannelSwitch) {
  node.dictionary.add(0x1000, 0, 7, 1);
  // Another bus's frame, an extended one and a remote request are not for the servers.
  CanFrame f = Frame(0x602, {0x40, 0x00, 0x10, 0x00});
  f.setBus(1);
  EXPECT_EQ(engine().ProcessFrame(f), 0);
  f = Frame(0x602 | CanFrame::kExtended, {0x40, 0x00, 0x10, 0x00});
  EXPECT_EQ(engine().ProcessFrame(f), 0);
  f = Frame(0x602, {0x40, 0x00, 0x10, 0x00});
  f.rtr = 1;
  EXPECT_EQ(engine().ProcessFrame(f), 0);
  // A relayed copy of bus 0 is bus 0.
  f = Frame(0x602 | CanFrame::kRelayedBusBit, {0x40, 0x00, 0x10, 0x00});
  EXPECT_EQ(engine().ProcessFrame(f), 1);
  // A short frame's missing bytes count as zero.
  f = Frame(0x602, {0x23, 0x00, 0x10, 0x00, 0x05, 0xEE, 0xEE, 0xEE});
  f.length = 5;
  EXPECT_EQ(engine().ProcessFrame(f), 1);
  EXPECT_EQ(node.dictionary.objects.at({0x1000, 0}).value, 5u);
  server().enabled = 0;
  EXPECT_EQ(engine().ProcessFrame(Frame(0x602, {0x40, 0x00, 0x10, 0x00})), 0);
}

TEST_F(SdoByHand, ApplySettingsSetsUpAndZeroesEveryChannel) {
  node.settings.serverNodeId = 0;  // corrected to 1
  node.settings.clientNodeId = 0;  // then 2
  node.settings.moreServerNodeIds = {3, 0, 0, 0, 0, 0, 90};
  node.settings.clientTimeoutMs = 1000;
  node.settings.serverTimeoutMs = 250;
  server().state = kSdoBusy;
  client().abortCode = 5;
  engine().SdoApplySettings();
  EXPECT_EQ(node.settings.serverNodeId, 1);
  EXPECT_EQ(server().txCobId, 0x581u);
  EXPECT_EQ(server().rxCobId, 0x601u);
  EXPECT_EQ(server().state, kSdoIdle);
  EXPECT_EQ(server().timeoutTicks, 3);
  EXPECT_EQ(engine().server(1).rxCobId, 0x603u);
  EXPECT_EQ(engine().server(1).enabled, 1u);
  EXPECT_EQ(engine().server(7).rxCobId, 0x600u + 90);
  // A server without a node stays silent: the idle ones would all answer node 0 otherwise.
  EXPECT_EQ(engine().server(2).enabled, 0u);
  EXPECT_EQ(engine().ProcessFrame(Frame(0x600, {0x40, 0x00, 0x10, 0x00})), 0);
  EXPECT_EQ(client().txCobId, 0x602u);
  EXPECT_EQ(client().rxCobId, 0x582u);
  EXPECT_EQ(client().abortCode, 0u);
  EXPECT_EQ(client().timeoutTicks, 10);
  EXPECT_EQ(client().enabled, 1u);

  node.settings.clientEnable = 0;
  node.settings.serverEnable = 0;
  engine().SdoApplySettings();
  EXPECT_EQ(client().enabled, 0u);
  EXPECT_EQ(server().enabled, 0u);
  EXPECT_EQ(engine().ProcessFrame(Frame(0x601, {0x40, 0x00, 0x10, 0x00})), 0);
}

TEST(SdoMessages, OnlyWhileWantedTranslatedAndTimeStamped) {
  ManualClock clock(65432);
  SdoSettings settings;
  FakeDictionary dictionary;
  std::vector<std::string> lines;
  bool wanted = false;
  Translator translator;
  translator.add("Server: ignoring unknown Command Specifier ($%02X)", "Server: unbekannt ($%02X)");
  SdoEngineLinks links;
  links.transmit = [](CanFrame&) { return true; };
  links.message = [&](std::string_view line) { lines.emplace_back(line); };
  links.messagesWanted = [&] { return wanted; };
  links.translator = &translator;
  SdoEngine engine(settings, dictionary, clock, links);
  engine.ProcessFrame(Frame(0x602, {0xA0}));
  EXPECT_THAT(lines, IsEmpty());
  wanted = true;
  engine.ProcessFrame(Frame(0x602, {0xA0}));
  EXPECT_THAT(lines, ElementsAre("t=65: SDO: Server: unbekannt ($A0)"));
}

TEST(SdoValues, DisplayRenderingOfBytes) {
  const uint8_t text[] = {'A', 'B', 0, 'C', 0x1F, 0x7E};
  EXPECT_EQ(SdoDisplayBytes(text, sizeof text, 9), "\"AB\" 00 \"C\" 1F \"~\"");
  EXPECT_EQ(SdoDisplayBytes(text, sizeof text, 10), " 41 42 00 43 1F 7E");
  EXPECT_EQ(SdoDisplayBytes(text + 2, 2, 9), " 00 \"C\"");
  // Never past 72 characters, and a quoted run is closed even when cut.
  const std::vector<uint8_t> letters(100, 'x');
  const std::string cut = SdoDisplayBytes(letters.data(), letters.size(), 9);
  EXPECT_EQ(cut, "\"" + std::string(70, 'x') + "\"");
  const std::vector<uint8_t> zeros(30, 0);
  EXPECT_EQ(SdoDisplayBytes(zeros.data(), zeros.size(), 10).size(), 72u);
  std::vector<uint8_t> mixed(40, 0);
  for (size_t i = 0; i < mixed.size(); i += 2) mixed[i] = 'q';
  EXPECT_LE(SdoDisplayBytes(mixed.data(), mixed.size(), 9).size(), 72u);
}

TEST(SdoValues, ValueOfAFinishedTransferByType) {
  SdoChannel ch;
  ch.setValue32(0xFFFFFF81);
  const std::vector<std::pair<int, int32_t>> integers = {{1, 1},      {2, -127}, {3, -127}, {5, 0x81},
                                                         {6, 0xFF81}, {7, -127}, {54, -127}};
  for (const auto& [type, expected] : integers) {
    ch.dataType = static_cast<uint8_t>(type);
    const ScriptValue v = SdoTransferValue(ch);
    EXPECT_EQ(v.type, kTypeInteger) << type;
    EXPECT_EQ(v.i, expected) << type;
  }
  ch.dataType = 8;
  const float f = 1.5f;
  uint32_t bits;
  std::memcpy(&bits, &f, 4);
  ch.setValue32(bits);
  EXPECT_EQ(SdoTransferValue(ch).type, kTypeFloat);
  EXPECT_DOUBLE_EQ(SdoTransferValue(ch).f, 1.5);

  ch.dataType = 9;
  ch.setValue32(0x00004241);
  EXPECT_STREQ(SdoTransferValue(ch).s, "\"AB\" 00 00");

  // A data block: the buffer, as text even when read as UNSIGNED32.
  ch.dataType = 7;
  ch.blockLength = 3;
  ch.buffer[0] = 'a';
  ch.buffer[1] = 'b';
  ch.buffer[2] = 1;
  EXPECT_STREQ(SdoTransferValue(ch).s, "\"ab\" 01");
  ch.dataType = 10;
  EXPECT_STREQ(SdoTransferValue(ch).s, " 61 62 01");
}

}  // namespace
}  // namespace busprobe
