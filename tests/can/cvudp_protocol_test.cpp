// The packet layer of CAN-via-UDP without sockets: byte layouts, command validity, and the
// reassembler's handling of packets that share or span datagrams and of malformed headers.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstring>
#include <string>
#include <vector>

#include "can/cvudp.h"

namespace busprobe {
namespace {

using Bytes = std::vector<uint8_t>;

struct Packet {
  uint8_t type;
  Bytes payload;
};

// Collects what the reassembler dispatches.
struct Sink {
  std::vector<Packet> packets;
  CvUdpReassembler reassembler{[this](uint8_t type, const uint8_t* p, int n) {
    packets.push_back({type, Bytes(p, p + n)});
  }};
  void feed(const Bytes& b) { reassembler.feed(b.data(), b.size()); }
};

Bytes Command(uint8_t code, uint8_t a, uint8_t b, uint32_t p0, uint32_t p1, uint32_t p2, uint32_t p3) {
  CvUdpCommand cmd;
  cmd.code = code;
  cmd.argA = a;
  cmd.argB = b;
  cmd.paramCount = 4;
  cmd.p[0] = p0;
  cmd.p[1] = p1;
  cmd.p[2] = p2;
  cmd.p[3] = p3;
  Bytes out(24);
  CvUdpBuildCommand(cmd, out.data());
  return out;
}

Bytes Header(uint8_t type, uint16_t length) {
  return {type, 0, static_cast<uint8_t>(length & 0xFF), static_cast<uint8_t>(length >> 8)};
}

Bytes Concat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

TEST(CvUdpPacket, CommandBytesAreLittleEndianWithFourParameters) {
  const Bytes b = Command(kCvUdpConnect, 0x11, 0x22, 0x7F000001, 0x1234, 0xC0A80102, 0xABCDEF01);
  const Bytes expected = {3,    0,    20,   0,                              // header: COMMAND, 20 bytes
                          1,    0x11, 0x22, 4,                              // code, A, B, count
                          0x01, 0x00, 0x00, 0x7F, 0x34, 0x12, 0,    0,      // P0, P1
                          0x02, 0x01, 0xA8, 0xC0, 0x01, 0xEF, 0xCD, 0xAB};  // P2, P3
  EXPECT_EQ(b, expected);

  CvUdpCommand parsed;
  ASSERT_TRUE(CvUdpParseCommand(b.data() + 4, 20, parsed));
  EXPECT_EQ(parsed.code, kCvUdpConnect);
  EXPECT_EQ(parsed.argA, 0x11);
  EXPECT_EQ(parsed.argB, 0x22);
  EXPECT_EQ(parsed.paramCount, 4);
  EXPECT_EQ(parsed.p[0], 0x7F000001u);
  EXPECT_EQ(parsed.p[1], 0x1234u);
  EXPECT_EQ(parsed.p[2], 0xC0A80102u);
  EXPECT_EQ(parsed.p[3], 0xABCDEF01u);
}

TEST(CvUdpPacket, CommandValidOnlyWhenCountMatchesLength) {
  CvUdpCommand c;
  Bytes p = {kCvUdpTimestamp, 16, 0, 3, 1, 0, 0, 0, 2, 0, 0, 0, 3, 0, 0, 0, 4, 0, 0, 0};
  EXPECT_FALSE(CvUdpParseCommand(p.data(), 20, c)) << "length 20 with a count of 3";
  p[3] = 4;
  EXPECT_TRUE(CvUdpParseCommand(p.data(), 20, c));
  EXPECT_FALSE(CvUdpParseCommand(p.data(), 3, c)) << "too short for the count byte";
  Bytes bare = {kCvUdpDisconnect, 0, 0, 0};
  EXPECT_TRUE(CvUdpParseCommand(bare.data(), 4, c));
  EXPECT_EQ(c.paramCount, 0);
  EXPECT_EQ(c.p[0], 0u) << "absent parameters read as zero";
  // (length - 4) / 4 rounds down: 7 bytes carry no whole parameter.
  Bytes odd = {kCvUdpDisconnect, 0, 0, 0, 9, 9, 9};
  EXPECT_TRUE(CvUdpParseCommand(odd.data(), 7, c));
  EXPECT_EQ(c.p[0], 0u);
  // More than four parameters: the first four are read, nothing beyond the payload.
  Bytes six(4 + 24, 0);
  six[0] = kCvUdpConnect;
  six[3] = 6;
  six[4 + 12] = 0x77;
  six[4 + 20] = 0x55;
  EXPECT_TRUE(CvUdpParseCommand(six.data(), static_cast<int>(six.size()), c));
  EXPECT_EQ(c.p[3], 0x77u);
}

TEST(CvUdpPacket, FrameBytesCarryIdInfoTicksAndEightDataBytes) {
  const uint8_t data[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  uint8_t out[80];
  std::memset(out, 0xEE, sizeof out);
  CvUdpBuildFrame(0xC0000123, 0x10090008, 0x01020304, data, out);
  const Bytes head(out, out + 20);
  const Bytes expected = {4,    0,    76,   0,    0x23, 0x01, 0x00, 0xC0, 0x08, 0x00,
                          0x09, 0x10, 0x04, 0x03, 0x02, 0x01, 1,    2,    3,    4};
  EXPECT_EQ(head, expected);
  EXPECT_EQ(out[20], 5);
  EXPECT_EQ(out[23], 8);
  for (int i = 24; i < 80; ++i) EXPECT_EQ(out[i], 0) << "unused tail byte " << i;
}

TEST(CvUdpReassembly, TwoCommandsInOneDatagramAreBothDispatched) {
  Sink s;
  s.feed(Concat({Command(kCvUdpConnect, 0, 0, 1, 2, 3, 4), Command(kCvUdpTimestamp, 16, 0, 1000, 55, 0, 0)}));
  ASSERT_EQ(s.packets.size(), 2u);
  EXPECT_EQ(s.packets[0].type, kCvUdpCommand);
  EXPECT_EQ(s.packets[0].payload[0], kCvUdpConnect);
  EXPECT_EQ(s.packets[1].payload[0], kCvUdpTimestamp);
  EXPECT_EQ(s.packets[1].payload.size(), 20u);
}

TEST(CvUdpReassembly, PacketSplitAtAnyPointIsReassembled) {
  const Bytes whole =
      Concat({Command(kCvUdpConnect, 0, 0, 1, 2, 3, 4), Command(kCvUdpDisconnect, 0, 0, 5, 6, 7, 8)});
  for (size_t cut = 1; cut < whole.size(); ++cut) {
    Sink s;
    s.feed(Bytes(whole.begin(), whole.begin() + static_cast<long>(cut)));
    s.feed(Bytes(whole.begin() + static_cast<long>(cut), whole.end()));
    ASSERT_EQ(s.packets.size(), 2u) << "cut at " << cut;
    EXPECT_EQ(Bytes(s.packets[1].payload.begin(), s.packets[1].payload.end()),
              Bytes(whole.begin() + 28, whole.end()))
        << "cut at " << cut;
  }
  Sink bytewise;
  for (uint8_t b : whole) bytewise.feed({b});
  EXPECT_EQ(bytewise.packets.size(), 2u);
}

TEST(CvUdpReassembly, MalformedHeadersCostExactlyFourBytes) {
  const Bytes good = Command(kCvUdpDisconnect, 0, 0, 9, 9, 9, 9);
  struct Case {
    const char* what;
    Bytes bad;
  };
  // Each bad header claims a payload; none of it may be skipped, or the good packet behind it is lost.
  const Case cases[] = {
      {"type 0", Header(0, 20)},
      {"type 11", Header(11, 20)},
      {"type 12", Header(12, 8)},
      {"type 255", Header(255, 1)},
      {"length 0", Header(3, 0)},
      {"length 1025", Header(4, 1025)},
      {"length 0xFFFF", Header(3, 0xFFFF)},
  };
  for (const auto& c : cases) {
    Sink s;
    s.feed(Concat({c.bad, good}));
    ASSERT_EQ(s.packets.size(), 1u) << c.what;
    EXPECT_EQ(s.packets[0].payload[0], kCvUdpDisconnect) << c.what;
    EXPECT_EQ(s.reassembler.discardedHeaders(), 1u) << c.what;
    EXPECT_EQ(s.reassembler.discardedBytes(), 4u) << c.what;
  }
  // Several bad headers in a row.
  Sink s;
  s.feed(Concat({Header(0, 0), Header(12, 3), Header(6, 0), good}));
  ASSERT_EQ(s.packets.size(), 1u);
  EXPECT_EQ(s.reassembler.discardedHeaders(), 3u);
  EXPECT_EQ(s.reassembler.discardedBytes(), 12u);
  // Half a header at the end of a datagram costs only itself when the next datagram of the same
  // sender does not continue it.
  Sink split;
  split.feed(Concat({Header(0, 0), Bytes{12, 0}}));
  split.feed(good);
  ASSERT_EQ(split.packets.size(), 1u);
  EXPECT_EQ(split.packets[0].payload[0], kCvUdpDisconnect);
  EXPECT_EQ(split.reassembler.discardedHeaders(), 1u);
  EXPECT_EQ(split.reassembler.droppedPartials(), 1u);
  EXPECT_EQ(split.reassembler.discardedBytes(), 4u + 2u) << "the bad header and the dropped half";
}

TEST(CvUdpReassembly, OtherValidTypesConsumeTheirPayloadAndAreIgnored) {
  // A STRING whose text looks like a COMMAND header must not be parsed as one.
  Bytes text = Command(kCvUdpConnect, 0, 0, 1, 1, 1, 1);
  for (uint8_t type : {uint8_t{1}, uint8_t{2}, uint8_t{5}, uint8_t{6}, uint8_t{7}, uint8_t{10}}) {
    Sink s;
    s.feed(Concat({Header(type, static_cast<uint16_t>(text.size())), text,
                   Command(kCvUdpTimestamp, 16, 0, 1, 2, 0, 0)}));
    ASSERT_EQ(s.packets.size(), 1u) << "type " << int(type);
    EXPECT_EQ(s.packets[0].payload[0], kCvUdpTimestamp);
    EXPECT_EQ(s.reassembler.discardedHeaders(), 0u);
  }
}

TEST(CvUdpReassembly, LargestPayloadAndResetBetweenStreams) {
  Sink s;
  Bytes big = Header(kCvUdpCanMsg, 1024);
  big.resize(4 + 1024, 0xAB);
  s.feed(big);
  ASSERT_EQ(s.packets.size(), 1u);
  EXPECT_EQ(s.packets[0].payload.size(), 1024u);

  // A half packet followed by reset: the next stream starts with a fresh header.
  s.feed(Bytes(big.begin(), big.begin() + 100));
  s.reassembler.reset();
  s.feed(Command(kCvUdpConnect, 0, 0, 0, 0, 0, 0));
  ASSERT_EQ(s.packets.size(), 2u);
  EXPECT_EQ(s.packets[1].type, kCvUdpCommand);
}

// One CAN_MSG packet with a single entry whose id tells the packets apart.
Bytes FramePacket(uint32_t id) {
  const uint8_t data[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  Bytes out(80);
  CvUdpBuildFrame(id, kCvUdpInfoRxReport | 8, 0, data, out.data());
  return out;
}

Bytes Slice(const Bytes& b, size_t from, size_t to) {
  return Bytes(b.begin() + static_cast<long>(from), b.begin() + static_cast<long>(to));
}

// Collects per source what a reassembler fed by several senders dispatches.
struct MultiSink {
  std::vector<Packet> packets;
  CvUdpReassembler reassembler{[this](uint8_t type, const uint8_t* p, int n) {
    packets.push_back({type, Bytes(p, p + n)});
  }};
  void feed(uint64_t source, const Bytes& b) { reassembler.feed(source, b.data(), b.size()); }
  // The id word of every CAN_MSG dispatched, in order.
  std::vector<uint32_t> ids() const {
    std::vector<uint32_t> out;
    for (const auto& p : packets)
      if (p.type == kCvUdpCanMsg)
        out.push_back(p.payload[0] | (p.payload[1] << 8) | (p.payload[2] << 16) |
                      (static_cast<uint32_t>(p.payload[3]) << 24));
    return out;
  }
};

constexpr uint64_t kClient = CvUdpSourceKey(0x7F000001, 40000);
constexpr uint64_t kStranger = CvUdpSourceKey(0x7F000001, 40001);

TEST(CvUdpReassemblyBySource, InterleavedSendersKeepTheirOwnStreams) {
  const Bytes a = FramePacket(0xA), b = FramePacket(0xB);
  MultiSink s;
  s.feed(kClient, Slice(a, 0, 30));
  s.feed(kStranger, Slice(b, 0, 2));  // even a half header
  s.feed(kClient, Slice(a, 30, 80));
  s.feed(kStranger, Slice(b, 2, 80));
  EXPECT_EQ(s.ids(), (std::vector<uint32_t>{0xA, 0xB}));
  EXPECT_EQ(s.packets[0].payload, Slice(a, 4, 80));
  EXPECT_EQ(s.reassembler.pendingSources(), 0);
  EXPECT_EQ(s.reassembler.droppedPartials(), 0u);
}

TEST(CvUdpReassemblyBySource, StrayDatagramNeverCostsAnotherSendersPackets) {
  // Three bytes that, continued by the client's next byte, would claim a 1024-byte payload.
  const Bytes stray = {kCvUdpCanMsg, 0, 0};
  const Bytes a = FramePacket(1);
  MultiSink s;
  s.feed(kClient, Slice(a, 0, 41));
  s.feed(kStranger, stray);  // between the two halves of the client's packet
  s.feed(kClient, Slice(a, 41, 80));
  for (uint32_t id = 2; id < 300; ++id) s.feed(kClient, FramePacket(id));
  std::vector<uint32_t> expected;
  for (uint32_t id = 1; id < 300; ++id) expected.push_back(id);
  EXPECT_EQ(s.ids(), expected);
  EXPECT_EQ(s.packets[0].payload, Slice(a, 4, 80)) << "not a byte of the stray inside";

  // Nor the stray sender's own next whole datagram.
  s.packets.clear();
  s.feed(kStranger, FramePacket(7));
  EXPECT_EQ(s.ids(), (std::vector<uint32_t>{7}));
  EXPECT_EQ(s.reassembler.droppedPartials(), 1u) << "the stray's three bytes";
  EXPECT_EQ(s.reassembler.discardedHeaders(), 0u);
}

TEST(CvUdpReassemblyBySource, InconsistentContinuationIsDroppedAndCounted) {
  const Bytes a = FramePacket(0xA), b = FramePacket(0xB);
  const Bytes connect = Command(kCvUdpConnect, 0, 0, 1, 2, 3, 4);
  MultiSink s;
  // Half a frame, then a datagram that is a whole packet by itself: the half frame is dropped.
  s.feed(kClient, Slice(a, 0, 40));
  s.feed(kClient, connect);
  ASSERT_EQ(s.packets.size(), 1u);
  EXPECT_EQ(s.packets[0].payload, Slice(connect, 4, 24));
  EXPECT_EQ(s.reassembler.droppedPartials(), 1u);
  EXPECT_EQ(s.reassembler.discardedBytes(), 40u);

  // Half a frame, then a datagram whose continued reading meets a malformed header (the half frame
  // wants 40 more bytes; the 41st would start a header of type 0): dropped, and the datagram is
  // read on its own, keeping the frame that starts it.
  s.packets.clear();
  s.feed(kClient, Slice(a, 0, 40));
  s.feed(kClient, Concat({b, Slice(a, 0, 20)}));
  EXPECT_EQ(s.ids(), (std::vector<uint32_t>{0xB}));
  EXPECT_EQ(s.reassembler.droppedPartials(), 2u);
  EXPECT_EQ(s.reassembler.pendingSources(), 1) << "the new half frame waits for its rest";
  s.feed(kClient, Slice(a, 20, 80));
  EXPECT_EQ(s.ids(), (std::vector<uint32_t>{0xB, 0xA}));

  // A consistent continuation that leaves the next packet unfinished is still a continuation.
  s.packets.clear();
  const Bytes stream = Concat({a, b, a});
  s.feed(kClient, Slice(stream, 0, 50));
  s.feed(kClient, Slice(stream, 50, 170));
  s.feed(kClient, Slice(stream, 170, 240));
  EXPECT_EQ(s.ids(), (std::vector<uint32_t>{0xA, 0xB, 0xA}));
  EXPECT_EQ(s.reassembler.droppedPartials(), 2u);
}

TEST(CvUdpReassemblyBySource, FloodOfSendersIsBoundedAndCounted) {
  MultiSink s;
  constexpr int kSenders = 1000;
  const Bytes a = FramePacket(0xA);
  for (int i = 0; i < kSenders; ++i) s.feed(CvUdpSourceKey(0x0A000000u + i, 1), Slice(a, 0, 10));
  const int kept = CvUdpReassembler::kMaxPartialSources;
  EXPECT_EQ(s.reassembler.pendingSources(), kept);
  EXPECT_EQ(s.reassembler.evictedPartials(), static_cast<uint64_t>(kSenders - kept));
  EXPECT_EQ(s.reassembler.discardedBytes(), static_cast<uint64_t>(kSenders - kept) * 10u);

  // The newest ones finish their packets; an evicted one's rest is read on its own (and skipped).
  s.feed(CvUdpSourceKey(0x0A000000u + kSenders - 1, 1), Slice(a, 10, 80));
  s.feed(CvUdpSourceKey(0x0A000000u, 1), Slice(a, 10, 80));
  EXPECT_EQ(s.ids(), (std::vector<uint32_t>{0xA}));
  s.reassembler.reset();
  EXPECT_EQ(s.reassembler.pendingSources(), 0);
  EXPECT_EQ(s.reassembler.evictedPartials(), 0u);
  EXPECT_EQ(s.reassembler.discardedBytes(), 0u);
}

// The kernel's drop count rides in the ancillary data of recvmsg; the buffers here are built the
// way the kernel lays them out, plus the damaged forms a parser must survive.
TEST(CvUdpKernelDrops, CountIsReadFromTheAncillaryData) {
  alignas(cmsghdr) unsigned char control[CMSG_SPACE(sizeof(int)) + CMSG_SPACE(sizeof(uint32_t))] = {};
  msghdr msg{};
  msg.msg_control = control;
  msg.msg_controllen = sizeof control;
  cmsghdr* first = CMSG_FIRSTHDR(&msg);
  first->cmsg_level = SOL_SOCKET;
  first->cmsg_type = SO_TIMESTAMP;  // something else first
  first->cmsg_len = CMSG_LEN(sizeof(int));
  cmsghdr* second = CMSG_NXTHDR(&msg, first);
  ASSERT_NE(second, nullptr);
  second->cmsg_level = SOL_SOCKET;
  second->cmsg_type = SO_RXQ_OVFL;
  second->cmsg_len = CMSG_LEN(sizeof(uint32_t));
  const uint32_t drops = 4819;
  std::memcpy(CMSG_DATA(second), &drops, sizeof drops);
  uint32_t got = 0;
  ASSERT_TRUE(CvUdpReadKernelDrops(msg, got));
  EXPECT_EQ(got, 4819u);

  // Same type at another level is not it.
  second->cmsg_level = IPPROTO_IP;
  EXPECT_FALSE(CvUdpReadKernelDrops(msg, got));
  second->cmsg_level = SOL_SOCKET;
  // Too short to hold the count, or running past the buffer: refused, never read.
  second->cmsg_len = CMSG_LEN(2);
  EXPECT_FALSE(CvUdpReadKernelDrops(msg, got));
  second->cmsg_len = CMSG_LEN(sizeof(uint32_t));
  msg.msg_controllen = CMSG_SPACE(sizeof(int)) + CMSG_LEN(2);
  EXPECT_FALSE(CvUdpReadKernelDrops(msg, got));
  // Nothing dropped yet: the kernel adds nothing at all.
  msg.msg_controllen = 0;
  EXPECT_FALSE(CvUdpReadKernelDrops(msg, got));
  msg.msg_control = nullptr;
  EXPECT_FALSE(CvUdpReadKernelDrops(msg, got));
}

TEST(CvUdpAddress, DottedQuadsAndLocalNames) {
  uint32_t ip = 0;
  ASSERT_TRUE(CvUdpParseIp("127.0.0.1", ip));
  EXPECT_EQ(ip, 0x7F000001u);
  ASSERT_TRUE(CvUdpParseIp(" 192.168.1.20 ", ip));
  EXPECT_EQ(ip, 0xC0A80114u);
  ASSERT_TRUE(CvUdpParseIp("0.0.0.0", ip));
  EXPECT_EQ(ip, 0u);
  EXPECT_FALSE(CvUdpParseIp("", ip));
  EXPECT_FALSE(CvUdpParseIp("   ", ip));
  ASSERT_TRUE(CvUdpParseIp("localhost", ip));
  EXPECT_EQ(ip >> 24, 127u);
}

}  // namespace
}  // namespace busprobe
