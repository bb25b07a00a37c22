#include "canopen/frame_explainer.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <map>
#include <string>
#include <utility>

namespace busprobe {
namespace {

CanFrame Frame(uint32_t id, std::initializer_list<int> bytes) {
  CanFrame frame;
  frame.id = id;
  frame.length = static_cast<uint8_t>(bytes.size());
  int i = 0;
  for (int b : bytes) frame.data[i++] = static_cast<uint8_t>(b);
  return frame;
}

std::string Explain(FrameExplainer& explainer, const CanFrame& frame, bool transmitted = false) {
  std::string comment;
  const bool produced = explainer.ExplainCanopenFrame(frame, transmitted, comment);
  EXPECT_EQ(produced, !comment.empty());
  EXPECT_LE(comment.size(), kCanopenCommentLimit);
  return comment;
}

std::string Emergency(const CanFrame& frame) {
  std::string comment;
  ExplainEmergency(frame, comment);
  return comment;
}

// ---- Network management, SYNC, error control, emergency ----

TEST(FrameExplainer, NmtCommands) {
  FrameExplainer explainer;
  EXPECT_EQ(Explain(explainer, Frame(0x000, {0x01, 0x00})), "; NMT Start Remote Node (broadcast)");
  EXPECT_EQ(Explain(explainer, Frame(0x000, {0x81, 0x0A})), "; NMT RESET NODE for node #10");
  EXPECT_EQ(Explain(explainer, Frame(0x000, {0x80, 0x7F}), true),
            ";[T] NMT Enter PRE-OPERATIONAL state for node #127");
  EXPECT_EQ(Explain(explainer, Frame(0x000, {0x33, 0x02})), "; NMT unknown NMT service for node #2");
  EXPECT_EQ(Explain(explainer, Frame(0x000, {0x01})), "");
}

TEST(FrameExplainer, BootUpGuardingAndHeartbeat) {
  FrameExplainer explainer;
  EXPECT_EQ(Explain(explainer, Frame(0x705, {0x00})), "; Bootup message from node #5");
  EXPECT_EQ(Explain(explainer, Frame(0x705, {0x05})), "; Error Control: Node #5 OPERATIONAL");
  EXPECT_EQ(Explain(explainer, Frame(0x77F, {0x84})), "; Guarding,t=1 : Node #127 STOPPED");
  EXPECT_EQ(Explain(explainer, Frame(0x701, {0x7F})), "; Error Control: Node #1 PRE-OPERATIONAL");
  EXPECT_EQ(Explain(explainer, Frame(0x701, {0x83})), "; Guarding,t=1 : Strange msg from node #1");
  CanFrame request = Frame(0x703, {0x00});
  request.rtr = 1;
  EXPECT_EQ(Explain(explainer, request, true), ";[T] NodeGuard request");
  EXPECT_EQ(Explain(explainer, Frame(0x700, {0x00})), "");
  EXPECT_EQ(Explain(explainer, Frame(0x705, {0x00, 0x00})), "");
}

TEST(FrameExplainer, SyncAndOtherFramesWithoutComment) {
  FrameExplainer explainer;
  EXPECT_EQ(Explain(explainer, Frame(0x080, {})), "; CANopen SYNC");
  EXPECT_EQ(Explain(explainer, Frame(0x080, {0x07})), "; CANopen SYNC");
  EXPECT_EQ(Explain(explainer, Frame(0x080, {0x07, 0x00})), "");
  EXPECT_EQ(Explain(explainer, Frame(0x181, {1, 2, 3})), "");           // a PDO
  EXPECT_EQ(Explain(explainer, Frame(0x100, {1, 2, 3, 4, 5, 6})), "");  // TIME
  // An extended identifier with the number of a boot-up frame is not CANopen traffic.
  EXPECT_EQ(Explain(explainer, Frame(0x705 | CanFrame::kExtended, {0x00})), "");
  // The bus a frame came from does not change what it is.
  EXPECT_EQ(Explain(explainer, Frame(0x705 | (1u << CanFrame::kBusShift), {0x00})),
            "; Bootup message from node #5");
}

TEST(FrameExplainer, EmergencyCodesAndMarkers) {
  EXPECT_EQ(Emergency(Frame(0x085, {0x11, 0x81, 0x11, 0, 0, 0, 0, 0})),
            ";  Emergency, node #5: Communication");
  EXPECT_EQ(Emergency(Frame(0x0FF, {0x10, 0x81, 0, 0, 0, 0, 0, 0})), ";  Emergency, node #127: CAN overrun");
  EXPECT_EQ(Emergency(Frame(0x081, {0x00, 0x51, 0, 0, 0, 0, 0, 0})),
            ";  Emergency, node #1: ErrorCode=0x5100");
  CanFrame looped = Frame(0x085, {0x00, 0x00, 0, 0, 0, 0, 0, 0});
  looped.fdFlags = CanFrame::kLoopback;
  EXPECT_EQ(Emergency(looped), ";[T] Emergency, node #5: Cleared errors / no error");
  EXPECT_EQ(Emergency(Frame(0x085, {0x00, 0x10, 0, 0, 0, 0, 0})), "");  // 7 bytes
  EXPECT_EQ(Emergency(Frame(0x080, {0x00, 0x10, 0, 0, 0, 0, 0, 0})), "");
  EXPECT_EQ(Emergency(Frame(0x100, {0x00, 0x10, 0, 0, 0, 0, 0, 0})), "");
}

TEST(FrameExplainer, ChainOfTheFrameLists) {
  FrameExplainer explainer;
  int lssCalls = 0;
  explainer.setLssExplainer([&lssCalls](const CanFrame&, bool transmitted, char* out, size_t capacity) {
    ++lssCalls;
    return static_cast<size_t>(std::snprintf(out, capacity, "%s", transmitted ? "LSS tx" : "LSS rx"));
  });
  char out[kCanopenCommentLimit + 1];
  // The traffic paths ask with "received"; the comment of a sent frame carries the marker.
  ASSERT_GT(explainer.commentFor(Frame(0x705, {0x00}), false, out, sizeof out), 0u);
  EXPECT_STREQ(out, ";[T] Bootup message from node #5");
  EXPECT_EQ(lssCalls, 0);
  ASSERT_GT(explainer.commentFor(Frame(0x7E5, {0x04, 0x01}), true, out, sizeof out), 0u);
  EXPECT_STREQ(out, "LSS rx");
  EXPECT_EQ(explainer.commentFor(Frame(0x7E6, {0x04, 0x01}), true, out, sizeof out), 0u);
  EXPECT_EQ(lssCalls, 1);
  ASSERT_GT(explainer.commentFor(Frame(0x085, {0x11, 0x81, 0, 0, 0, 0, 0, 0}), true, out, sizeof out), 0u);
  EXPECT_STREQ(out, ";  Emergency, node #5: Communication");
}

TEST(FrameExplainer, CommentIsCutToTheCallersBuffer) {
  FrameExplainer explainer;
  char out[10];
  EXPECT_EQ(explainer.ExplainCanopenFrame(Frame(0x705, {0x00}), false, out, sizeof out), 9u);
  EXPECT_STREQ(out, "; Bootup ");
  EXPECT_EQ(explainer.ExplainCanopenFrame(Frame(0x705, {0x00}), false, out, 0), 0u);
}

// ---- SDO: single frames and object names ----

TEST(FrameExplainerSdo, ExpeditedRequestsAndResponses) {
  FrameExplainer explainer;
  EXPECT_EQ(Explain(explainer, Frame(0x605, {0x2F, 0x00, 0x62, 0x01, 0x55, 0, 0, 0})),
            "; WR-Req 6200.01 \"Write output 1 to 8\" := 0x55");
  EXPECT_EQ(Explain(explainer, Frame(0x605, {0x2B, 0x17, 0x10, 0x00, 0xE8, 0x03, 0xAA, 0xAA})),
            "; WR-Req 1017.00 \"Producer Heartbeat Time\" := 0x03e8");
  // Without a name the blank after the multiplexer meets the one before the value.
  EXPECT_EQ(Explain(explainer, Frame(0x605, {0x27, 0x00, 0x20, 0x03, 1, 2, 3, 4})),
            "; WR-Req 2000.03  := 0x030201");
  EXPECT_EQ(Explain(explainer, Frame(0x605, {0x23, 0x00, 0x20, 0x03, 1, 2, 3, 4})),
            "; WR-Req 2000.03  := 0x04030201");
  EXPECT_EQ(Explain(explainer, Frame(0x605, {0x22, 0x00, 0x20, 0x03, 1, 2, 3, 4})),
            "; WR-Req 2000.03  := 0x04030201");
  // Subindex 0 is named after the object itself.
  EXPECT_EQ(Explain(explainer, Frame(0x605, {0x40, 0x18, 0x10, 0x00, 0, 0, 0, 0}), true),
            ";[T] RD-Req 1018.00 \"Identity Object\"");
  EXPECT_EQ(Explain(explainer, Frame(0x585, {0x4F, 0x01, 0x10, 0x00, 0x05, 0, 0, 0})),
            "; rd-rsp 1001.00:0x05");
  EXPECT_EQ(Explain(explainer, Frame(0x585, {0x43, 0x00, 0x10, 0x00, 0x91, 0x01, 0x0F, 0x00})),
            "; rd-rsp 1000.00:0x000f0191");
  EXPECT_EQ(Explain(explainer, Frame(0x585, {0x42, 0x00, 0x10, 0x00, 0x91, 0x01, 0x0F, 0x00})),
            "; rd-rsp 1000.00:size not indicated !?");
  EXPECT_EQ(Explain(explainer, Frame(0x585, {0x60, 0x00, 0x62, 0x01, 0, 0, 0, 0})),
            "; wr-rsp 6200.01 \"Write output 1 to 8\"");
  EXPECT_EQ(Explain(explainer, Frame(0x585, {0x80, 0x00, 0x62, 0x01, 0x02, 0x00, 0x01, 0x06})),
            "; ABORTED by server: object is READ-ONLY");
  EXPECT_EQ(Explain(explainer, Frame(0x605, {0x80, 0x00, 0x62, 0x01, 0x00, 0x00, 0x04, 0x05})),
            "; ABORTED by client: timeout");
  EXPECT_EQ(Explain(explainer, Frame(0x605, {0xA0, 0, 0, 0, 0, 0, 0, 0})), "; UNKNOWN COMMAND SPECIFIER !");
  EXPECT_EQ(Explain(explainer, Frame(0x585, {0x62, 0, 0, 0, 0, 0, 0, 0})), "; UNKNOWN COMMAND SPECIFIER !");
  CanFrame remote = Frame(0x605, {0x40, 0x00, 0x10, 0x00, 0, 0, 0, 0});
  remote.rtr = 1;
  EXPECT_EQ(Explain(explainer, remote), "");
}

TEST(FrameExplainerSdo, ShortFramesDoNotShowLeftoverBytes) {
  FrameExplainer explainer;
  CanFrame frame = Frame(0x585, {0x43, 0x00, 0x10, 0x00, 0x91, 0xAA, 0xAA, 0xAA});
  frame.length = 5;
  EXPECT_EQ(Explain(explainer, frame), "; rd-rsp 1000.00:0x00000091");
}

TEST(FrameExplainerSdo, LocalDictionaryNamesComeFirst) {
  std::map<std::pair<int, int>, std::string> names = {
      {{0x6200, 1}, "Relays"}, {{0x2000, 0}, " leading blank"}, {{0x2001, 0}, "Line\nbreak"}};
  FrameExplainer explainer([&names](uint16_t index, uint8_t subIndex) -> std::string_view {
    auto it = names.find({index, subIndex});
    return it == names.end() ? std::string_view() : std::string_view(it->second);
  });
  EXPECT_EQ(Explain(explainer, Frame(0x605, {0x40, 0x00, 0x62, 0x01, 0, 0, 0, 0})),
            "; RD-Req 6200.01 \"Relays\"");
  EXPECT_EQ(Explain(explainer, Frame(0x605, {0x40, 0x00, 0x62, 0x02, 0, 0, 0, 0})),
            "; RD-Req 6200.02 \"Write output 9 to 16\"");
  EXPECT_EQ(Explain(explainer, Frame(0x605, {0x40, 0x00, 0x20, 0x00, 0, 0, 0, 0})), "; RD-Req 2000.00 ");
  EXPECT_EQ(Explain(explainer, Frame(0x605, {0x40, 0x01, 0x20, 0x00, 0, 0, 0, 0})),
            "; RD-Req 2001.00 \"Line~break\"");
}

TEST(FrameExplainerSdo, LongNamesAreCutAtTheLimit) {
  const std::string longName(100, 'N');
  FrameExplainer explainer([&longName](uint16_t, uint8_t) { return std::string_view(longName); });
  // "; WR-Req 2000.01 " leaves 62 characters: the quoted name fills them and the value is left out.
  const std::string cut = Explain(explainer, Frame(0x605, {0x2F, 0x00, 0x20, 0x01, 0x55, 0, 0, 0}));
  EXPECT_EQ(cut, "; WR-Req 2000.01 \"" + std::string(60, 'N') + "\"");
  EXPECT_EQ(cut.size(), kCanopenCommentLimit);

  // A name that ends at column 69 still gets the value, which the limit then cuts.
  const std::string fifty(50, 'n');
  FrameExplainer shorter([&fifty](uint16_t, uint8_t) { return std::string_view(fifty); });
  EXPECT_EQ(Explain(shorter, Frame(0x605, {0x23, 0x00, 0x20, 0x01, 0x78, 0x56, 0x34, 0x12})),
            "; WR-Req 2000.01 \"" + fifty + "\" := 0x1234");
  const std::string fiftyOne(51, 'n');
  FrameExplainer longer([&fiftyOne](uint16_t, uint8_t) { return std::string_view(fiftyOne); });
  EXPECT_EQ(Explain(longer, Frame(0x605, {0x23, 0x00, 0x20, 0x01, 0x78, 0x56, 0x34, 0x12})),
            "; WR-Req 2000.01 \"" + fiftyOne + "\"");
}

// ---- SDO: segmented transfers ----

TEST(FrameExplainerSdo, SegmentedUploadAccountsItsBytes) {
  FrameExplainer explainer;
  EXPECT_EQ(Explain(explainer, Frame(0x605, {0x40, 0x08, 0x10, 0x00, 0, 0, 0, 0})),
            "; RD-Req 1008.00 \"Manufacturer Device Name\"");
  EXPECT_EQ(Explain(explainer, Frame(0x585, {0x41, 0x08, 0x10, 0x00, 11, 0, 0, 0})),
            "; rd-rsp 1008.00: BlkLen=11 ");
  EXPECT_EQ(Explain(explainer, Frame(0x605, {0x60, 0, 0, 0, 0, 0, 0, 0})), "; domain transfer continues");
  EXPECT_EQ(Explain(explainer, Frame(0x585, {0x00, 'B', 'u', 's', 'p', 'r', 'o', 'b'})),
            "; data, srv->cli, 7 of 11 bytes: \"Busprob\"");
  EXPECT_EQ(Explain(explainer, Frame(0x605, {0x70, 0, 0, 0, 0, 0, 0, 0})), "; domain transfer continues");
  // Last segment, toggled, 4 bytes.
  EXPECT_EQ(Explain(explainer, Frame(0x585, {0x17, 'e', ' ', '1', '0', 0, 0, 0})),
            "; data, srv->cli, 11 of 11 bytes: \"e 10\"");
  EXPECT_EQ(explainer.trace().record(0).count, 11u);
  EXPECT_EQ(Explain(explainer, Frame(0x605, {0x60, 0, 0, 0, 0, 0, 0, 0})),
            "; domain transfer finished: len=11, cnt=11");
  EXPECT_EQ(Explain(explainer, Frame(0x585, {0x00, 'x', 'x', 'x', 'x', 'x', 'x', 'x'})),
            "; ERROR: unexpected domain transfer");
}

TEST(FrameExplainerSdo, SegmentedDownloadAccountsItsBytesAndFinishes) {
  FrameExplainer explainer;
  EXPECT_EQ(Explain(explainer, Frame(0x605, {0x21, 0x08, 0x10, 0x00, 10, 0, 0, 0}), true),
            ";[T] WR-Req/DOMAIN 1008.00, 10 bytes \"Manufacturer Device Name\"");
  EXPECT_EQ(Explain(explainer, Frame(0x585, {0x60, 0x08, 0x10, 0x00, 0, 0, 0, 0})),
            "; SEGMENTED write response, server->client");
  EXPECT_EQ(Explain(explainer, Frame(0x605, {0x00, '0', '1', '2', '3', '4', '5', '6'})),
            "; data, cli->srv, 7 of 10 bytes: \"0123456\"");
  EXPECT_EQ(Explain(explainer, Frame(0x585, {0x20, 0, 0, 0, 0, 0, 0, 0})),
            "; segmented write response, server->client");
  EXPECT_EQ(Explain(explainer, Frame(0x605, {0x19, '7', '8', '9', 0, 0, 0, 0})),
            "; data, cli->srv, 10 of 10 bytes: \"789\"");
  EXPECT_EQ(Explain(explainer, Frame(0x585, {0x30, 0, 0, 0, 0, 0, 0, 0})),
            "; segmented write response, server->client");
  EXPECT_EQ(explainer.trace().record(0).mode, kSdoTraceDownload | kSdoTraceDownloadFinished);
  // Once every byte is acknowledged, more responses belong to no transfer.
  EXPECT_EQ(Explain(explainer, Frame(0x585, {0x20, 0, 0, 0, 0, 0, 0, 0})),
            "; unexpected segmented write response, server->client");
  EXPECT_EQ(Explain(explainer, Frame(0x585, {0x60, 0x08, 0x10, 0x00, 0, 0, 0, 0})),
            "; wr-rsp 1008.00 \"Manufacturer Device Name\"");
}

TEST(FrameExplainerSdo, ErrorsOfSegmentedTransfers) {
  FrameExplainer explainer;
  const CanFrame uploadOf5 = Frame(0x585, {0x41, 0x08, 0x10, 0x00, 5, 0, 0, 0});
  Explain(explainer, uploadOf5);
  EXPECT_EQ(Explain(explainer, Frame(0x585, {0x10, 'a', 0, 0, 0, 0, 0, 0})),
            "; ERROR: bad togglebit in dom.-xfer");
  EXPECT_EQ(Explain(explainer, Frame(0x585, {0x0E, 0, 0, 0, 0, 0, 0, 0})),
            "; ERROR: length=0 in domain transfer");
  EXPECT_EQ(Explain(explainer, Frame(0x585, {0x00, 'a', 'b', 'c', 'd', 'e', 'f', 'g'})),
            "; ERROR: block length exceeded in dom-xfer");
  EXPECT_EQ(Explain(explainer, Frame(0x605, {0x70, 0, 0, 0, 0, 0, 0, 0})),
            "; ERROR: bad toggle bit, expected=0");
  // The bad request ended the transfer.
  EXPECT_EQ(Explain(explainer, Frame(0x605, {0x60, 0, 0, 0, 0, 0, 0, 0})),
            "; ERROR: unexpected domain transfer");
  EXPECT_EQ(Explain(explainer, Frame(0x585, {0x00, 'a', 'b', 'c', 'd', 'e', 'f', 'g'})),
            "; ERROR: unexpected domain transfer");

  Explain(explainer, Frame(0x605, {0x21, 0x00, 0x20, 0x01, 10, 0, 0, 0}));
  EXPECT_EQ(Explain(explainer, Frame(0x585, {0x60, 0x00, 0x20, 0x02, 0, 0, 0, 0})),
            "; SEGMENTED write response, server->client ??multiplexer??");
  EXPECT_EQ(Explain(explainer, Frame(0x585, {0x30, 0, 0, 0, 0, 0, 0, 0})),
            "; ERROR IN TOGGLEBIT in SDO seg.wr.resp !");
  EXPECT_EQ(Explain(explainer, Frame(0x585, {0x20, 0, 0, 1, 0, 0, 0, 0})),
            "; illegal write response (byte[3] nonzero), server->client");
  EXPECT_EQ(Explain(explainer, Frame(0x605, {0x10, 1, 2, 3, 4, 5, 6, 7})), "; data, cli->srv, 7 of 10 bytes");
  EXPECT_EQ(Explain(explainer, Frame(0x585, {0x60, 0x00, 0x20, 0x01, 0, 0, 0, 0})),
            "; unexpected initial seg-write response, server->client");
}

TEST(FrameExplainerSdo, StrayResponseStartsNoTransfer) {
  FrameExplainer explainer;
  Explain(explainer, Frame(0x605, {0x2F, 0x00, 0x62, 0x01, 0x55, 0, 0, 0}));
  EXPECT_EQ(Explain(explainer, Frame(0x585, {0x20, 0, 0, 0, 0, 0, 0, 0})),
            "; unexpected segmented write response, server->client");
  EXPECT_EQ(explainer.trace().record(0).mode, kSdoTraceNone);
  EXPECT_EQ(Explain(explainer, Frame(0x605, {0x10, 1, 2, 3, 4, 5, 6, 7})), "");
}

TEST(FrameExplainerSdo, TransferWithoutAnnouncedLengthStartsItsOwnCount) {
  FrameExplainer explainer;
  Explain(explainer, Frame(0x605, {0x21, 0x00, 0x20, 0x00, 10, 0, 0, 0}));
  Explain(explainer, Frame(0x605, {0x00, 1, 2, 3, 4, 5, 6, 7}));
  // The next download announces no length: neither the old count nor the old length carries over.
  EXPECT_EQ(Explain(explainer, Frame(0x605, {0x20, 0x00, 0x20, 0x00, 0, 0, 0, 0})),
            "; WR-Req/DOMAIN 2000.00, 0 bytes ");
  EXPECT_EQ(Explain(explainer, Frame(0x605, {0x00, 1, 2, 3, 4, 5, 6, 7})), "; data, cli->srv, 7 of 0 bytes");
  EXPECT_EQ(Explain(explainer, Frame(0x585, {0x20, 0, 0, 0, 0, 0, 0, 0})),
            "; segmented write response, server->client");
  EXPECT_EQ(Explain(explainer, Frame(0x605, {0x10, 1, 2, 3, 4, 5, 6, 7})), "; data, cli->srv, 14 of 0 bytes");
  EXPECT_EQ(Explain(explainer, Frame(0x585, {0x30, 0, 0, 0, 0, 0, 0, 0})),
            "; segmented write response, server->client");

  Explain(explainer, Frame(0x585, {0x41, 0x00, 0x20, 0x00, 3, 0, 0, 0}));
  EXPECT_EQ(Explain(explainer, Frame(0x585, {0x40, 0x00, 0x20, 0x00, 0, 0, 0, 0})),
            "; rd-rsp 2000.00:size not indicated !?");
  EXPECT_EQ(Explain(explainer, Frame(0x585, {0x00, 'a', 'b', 'c', 'd', 'e', 'f', 'g'})),
            "; data, srv->cli, 7 of 0 bytes: \"abcdefg\"");
  EXPECT_EQ(Explain(explainer, Frame(0x605, {0x70, 0, 0, 0, 0, 0, 0, 0})), "; domain transfer continues");
}

TEST(FrameExplainerSdo, FifthServerSharesTheSpareRecord) {
  FrameExplainer explainer;
  for (uint32_t node = 1; node <= 4; ++node)
    Explain(explainer, Frame(0x580 + node, {0x41, 0, 0x20, 0, 100, 0, 0, 0}));
  Explain(explainer, Frame(0x585, {0x41, 0x00, 0x20, 0x00, 20, 0, 0, 0}));
  // Node 6 announces 3 bytes into the same record: node 5's next segment passes that length.
  Explain(explainer, Frame(0x586, {0x41, 0x00, 0x20, 0x00, 3, 0, 0, 0}));
  EXPECT_EQ(Explain(explainer, Frame(0x585, {0x00, 1, 2, 3, 4, 5, 6, 7})),
            "; ERROR: block length exceeded in dom-xfer");
  EXPECT_EQ(explainer.trace().record(SdoTransferTrace::kSpareRecord).length, 3u);
  // Nodes 1..4 kept their own accounts.
  EXPECT_EQ(Explain(explainer, Frame(0x584, {0x00, 1, 2, 3, 4, 5, 6, 7})),
            "; data, srv->cli, 7 of 100 bytes");

  explainer.clearTrace();
  Explain(explainer, Frame(0x585, {0x41, 0x00, 0x20, 0x00, 20, 0, 0, 0}));
  Explain(explainer, Frame(0x586, {0x41, 0x00, 0x20, 0x00, 3, 0, 0, 0}));
  EXPECT_EQ(Explain(explainer, Frame(0x585, {0x00, 1, 2, 3, 4, 5, 6, 7})), "; data, srv->cli, 7 of 20 bytes");
}

TEST(FrameExplainerSdo, SameNodeOnTwoBusesKeepsTwoAccounts) {
  FrameExplainer explainer;
  const uint32_t bus2 = 1u << CanFrame::kBusShift;
  Explain(explainer, Frame(0x585, {0x41, 0x00, 0x20, 0x00, 20, 0, 0, 0}));
  Explain(explainer, Frame(0x585 | bus2, {0x41, 0x00, 0x20, 0x00, 3, 0, 0, 0}));
  EXPECT_EQ(Explain(explainer, Frame(0x585, {0x00, 1, 2, 3, 4, 5, 6, 7})), "; data, srv->cli, 7 of 20 bytes");
  // A relayed copy of bus 2 counts as bus 2.
  EXPECT_EQ(Explain(explainer, Frame(0x585 | bus2 | CanFrame::kRelayedBusBit, {0x00, 1, 2, 3, 0, 0, 0, 0})),
            "; ERROR: block length exceeded in dom-xfer");
}

TEST(FrameExplainerSdo, PrintableDataSuffix) {
  FrameExplainer explainer;
  auto startUpload = [&explainer] {
    Explain(explainer, Frame(0x585, {0x41, 0x00, 0x20, 0x00, 100, 0, 0, 0}));
  };
  startUpload();
  EXPECT_EQ(Explain(explainer, Frame(0x585, {0x00, 'a', '\t', 'b', '\n', '\r', 'c', 0x00})),
            "; data, srv->cli, 7 of 100 bytes: \"a\\tb\\n\\rc~\"");
  startUpload();
  // A NUL inside the data, a control character or a byte above 0x7E: not text.
  EXPECT_EQ(Explain(explainer, Frame(0x585, {0x00, 'a', 0x00, 'b', 'c', 'd', 'e', 'f'})),
            "; data, srv->cli, 7 of 100 bytes");
  startUpload();
  EXPECT_EQ(Explain(explainer, Frame(0x585, {0x00, 'a', 0x01, 'b', 'c', 'd', 'e', 'f'})),
            "; data, srv->cli, 7 of 100 bytes");
  startUpload();
  EXPECT_EQ(Explain(explainer, Frame(0x585, {0x00, 'a', 'b', 'c', 'd', 'e', 'f', 0xB0})),
            "; data, srv->cli, 7 of 100 bytes");
  // Only the segment's own bytes count: the unused ones after them may hold anything.
  startUpload();
  EXPECT_EQ(Explain(explainer, Frame(0x585, {0x0B, 'o', 'k', 0x01, 0xFF, 0, 0, 0})),
            "; data, srv->cli, 2 of 100 bytes: \"ok\"");
}

}  // namespace
}  // namespace busprobe
