// CAN-via-UDP endpoints over real sockets on 127.0.0.1 (ephemeral ports). Tests that start a receive
// thread carry "Threaded" in their suite name so that the thread-sanitizer run picks them up. A plain
// socket plays the peer wherever a test needs to see or forge the exact bytes on the wire.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <mutex>
#include <random>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "can/cvudp.h"
#include "can/cvudp_test_peer.h"

namespace busprobe {
namespace {

using namespace cvudp_test;

// Keeps every line the endpoints queued (the queue itself holds only a few).
class Lines {
 public:
  explicit Lines(DeferredMessageQueue& q) : q_(q) {}
  const std::vector<std::string>& all() {
    for (auto& l : q_.drain()) all_.push_back(std::move(l));
    return all_;
  }
  bool has(const std::string& line) {
    for (const auto& l : all())
      if (l == line) return true;
    return false;
  }
  bool matches(const std::string& pattern) {
    const std::regex re(pattern);
    for (const auto& l : all())
      if (std::regex_match(l, re)) return true;
    return false;
  }
  int count(const std::string& line) {
    int n = 0;
    for (const auto& l : all()) n += l == line;
    return n;
  }
  std::string dump() {
    std::string s;
    for (const auto& l : all()) s += l + "\n";
    return s;
  }

 private:
  DeferredMessageQueue& q_;
  std::vector<std::string> all_;
};

// A hub on a clock of the test's choice, with the relay recording what it was given.
struct Rig {
  explicit Rig(Clock& c) : clock(c), hub(c, queue), lines(queue) {
    hub.setRelay([this](CanFrame& f) {
      std::lock_guard<std::mutex> lock(relayMutex);
      relayed.push_back(f);
      return true;
    });
  }
  std::vector<CanFrame> relayedFrames() {
    std::lock_guard<std::mutex> lock(relayMutex);
    return relayed;
  }
  CvUdpEndpoint* server(uint16_t port = 0) {
    CvUdpEndpoint* e = hub.createEndpoint();
    EXPECT_NE(e, nullptr);
    EXPECT_EQ(e->open(2, 0, 0, kLoopback, port), 1) << lines.dump();
    return e;
  }
  CvUdpEndpoint* client(uint16_t serverPort) {
    CvUdpEndpoint* e = hub.createEndpoint();
    EXPECT_NE(e, nullptr);
    EXPECT_EQ(e->open(1, kLoopback, serverPort, kLoopback, 0), 1) << lines.dump();
    return e;
  }

  Clock& clock;
  DeferredMessageQueue queue;
  CvUdpHub hub;
  Lines lines;
  std::mutex relayMutex;
  std::vector<CanFrame> relayed;
};

std::string Port(uint16_t p) {
  return std::to_string(p);
}

// ------------------------------------------------------------------------------------------------

TEST(CvUdpThreaded, ClientAndServerConnectExchangeFramesAndPart) {
  SteadyClock clock;
  Rig rig(clock);
  CvUdpEndpoint* server = rig.server();
  const uint16_t sp = server->boundPort();
  ASSERT_NE(sp, 0);
  CvUdpEndpoint* client = rig.client(sp);
  const uint16_t cp = client->boundPort();

  ASSERT_TRUE(WaitFor([&] { return client->connected() && server->connected(); })) << rig.lines.dump();
  EXPECT_TRUE(rig.lines.has(
      "CAN: CvUDP_Connect: Using local IP 127.0.0.1, port 0 to access remote 127.0.0.1:" + Port(sp) + "."))
      << rig.lines.dump();
  EXPECT_TRUE(rig.lines.has("CAN: CvUDP Server: Connected by 127.0.0.1:" + Port(cp) + " ."));
  ASSERT_TRUE(WaitFor([&] { return rig.lines.matches(R"(CAN: CvUDP Server reports t=\d+, f=1000 Hz \.)"); }))
      << rig.lines.dump();
  EXPECT_EQ(client->counters().connections, 1u);
  EXPECT_EQ(server->counters().connections, 1u);
  EXPECT_EQ(client->peerTickRate(), 1000u);

  // Client -> server: a transmit request reaches the relay.
  CanFrame tx;
  tx.id = 0x321;
  tx.length = 3;
  tx.data[0] = 0xA1;
  tx.data[1] = 0xB2;
  tx.data[2] = 0xC3;
  ASSERT_EQ(client->sendFrame(tx, true), 1);
  ASSERT_TRUE(WaitFor([&] { return rig.relayedFrames().size() == 1; }));
  const CanFrame got = rig.relayedFrames()[0];
  EXPECT_EQ(got.id, 0x321u);
  EXPECT_EQ(got.length, 3);
  EXPECT_EQ(got.data[2], 0xC3);
  EXPECT_EQ(got.data[3], 0);

  // Server -> client: a received-frame report lands in the client's ring as bus 2 or 3.
  CanFrame rx;
  rx.id = 0x40000000u | 0x20000000u | 0x1ABCDEF;  // bus 1, extended
  rx.length = 8;
  for (int i = 0; i < 8; ++i) rx.data[i] = static_cast<uint8_t>(0x10 + i);
  rx.timestamp = 777;
  ASSERT_EQ(server->sendFrame(rx, false), 1);
  CanFrame popped;
  ASSERT_TRUE(WaitFor([&] { return client->popFrame(popped); }));
  EXPECT_EQ(popped.bus(), 3);
  EXPECT_EQ(popped.identifier(), 0x1ABCDEFu);
  EXPECT_TRUE(popped.extended());
  EXPECT_EQ(popped.timestamp, 777u);
  EXPECT_EQ(popped.data[7], 0x17);

  // The client leaves: the server hears the DISCONNECT.
  client->close();
  EXPECT_EQ(client->state(), kCvUdpIdle);
  ASSERT_TRUE(WaitFor([&] { return server->state() == kCvUdpIdle; }));
  EXPECT_TRUE(rig.lines.has("CAN: CvUDP Server disconnected from 127.0.0.1:" + Port(cp) + " ."));
}

TEST(CvUdpThreaded, ServerClosingSendsClientBackToConnecting) {
  SteadyClock clock;
  Rig rig(clock);
  CvUdpEndpoint* server = rig.server();
  const uint16_t sp = server->boundPort();
  CvUdpEndpoint* client = rig.client(sp);
  ASSERT_TRUE(WaitFor([&] { return client->connected() && server->connected(); }));

  server->close();
  ASSERT_TRUE(WaitFor([&] { return client->state() == kCvUdpConnecting; }));
  EXPECT_TRUE(rig.lines.has("CAN: CvUDP Client disconnected BY SERVER, 127.0.0.1:" + Port(sp) + " !"))
      << rig.lines.dump();
}

// Retry timing runs on a manual clock: the receive thread polls in real time, but every decision
// it makes reads the tick, which only the test moves.
TEST(CvUdpThreaded, ClientRetriesEveryFiveSecondsUntilTimestamp) {
  ManualClock clock(100000);
  Rig rig(clock);
  UdpPeer server;
  CvUdpEndpoint* client = rig.client(server.port());
  const uint16_t cp = client->boundPort();
  EXPECT_EQ(client->state(), kCvUdpConnecting);

  Bytes b;
  CvUdpCommand cmd;
  ASSERT_TRUE(server.receive(b)) << "CONNECT at once after opening";
  ASSERT_TRUE(AsCommand(b, cmd));
  EXPECT_EQ(cmd.code, kCvUdpConnect);
  EXPECT_EQ(cmd.argA, 0);
  EXPECT_EQ(cmd.argB, 0);
  EXPECT_EQ(cmd.p[0], kLoopbackWire);
  EXPECT_EQ(cmd.p[1], cp);
  EXPECT_EQ(cmd.p[2], kLoopbackWire);
  EXPECT_EQ(cmd.p[3], server.port());

  clock.advance(4999);
  EXPECT_TRUE(server.quiet()) << "no CONNECT before 5 s";
  clock.advance(1);
  ASSERT_TRUE(server.receive(b));
  ASSERT_TRUE(AsCommand(b, cmd));
  EXPECT_EQ(cmd.code, kCvUdpConnect);

  clock.set(50000);  // the tick went backwards
  ASSERT_TRUE(server.receive(b)) << "a tick that went backwards retries at once";
  EXPECT_TRUE(server.quiet());

  // Timestamp (split over two datagrams) connects; retries stop.
  const Bytes ts = Command(kCvUdpTimestamp, 16, 0, 1000, 1234);
  server.sendTo(cp, Bytes(ts.begin(), ts.begin() + 10));
  server.sendTo(cp, Bytes(ts.begin() + 10, ts.end()));
  ASSERT_TRUE(WaitFor([&] { return client->connected(); }));
  EXPECT_TRUE(rig.lines.has("CAN: CvUDP Server reports t=1234, f=1000 Hz ."));
  clock.advance(12000);
  EXPECT_TRUE(server.quiet()) << "no CONNECT while connected";
  server.sendTo(cp, Command(kCvUdpTimestamp, 16, 0, 1000, 20000));
  ASSERT_TRUE(WaitFor([&] { return client->peerTimeMs() == 20000.0; }));
  EXPECT_EQ(rig.lines.count("CAN: CvUDP Server reports t=20000, f=1000 Hz ."), 0)
      << "printed once per connection";

  // A DISCONNECT naming another peer is ignored; the right one sends the client back to connecting.
  server.sendTo(cp, Command(kCvUdpDisconnect, 0, 0, kLoopbackWire, server.port() + 1u));
  EXPECT_TRUE(server.quiet());
  EXPECT_TRUE(client->connected());
  // Together with a trailing Timestamp in the same datagram: both packets are handled, in order.
  Bytes both = Command(kCvUdpDisconnect, 0, 0, kLoopbackWire, server.port());
  const Bytes ts2 = Command(kCvUdpTimestamp, 16, 0, 1000, 30000);
  both.insert(both.end(), ts2.begin(), ts2.end());
  server.sendTo(cp, both);
  ASSERT_TRUE(WaitFor([&] { return rig.lines.has("CAN: CvUDP Server reports t=30000, f=1000 Hz ."); }))
      << rig.lines.dump();
  EXPECT_TRUE(
      rig.lines.has("CAN: CvUDP Client disconnected BY SERVER, 127.0.0.1:" + Port(server.port()) + " !"));
  EXPECT_TRUE(client->connected());
  EXPECT_EQ(client->counters().connections, 2u);

  // A lone DISCONNECT: connecting again, next CONNECT only after 5 s.
  server.sendTo(cp, Command(kCvUdpDisconnect, 0, 0, kLoopbackWire, server.port()));
  ASSERT_TRUE(WaitFor([&] { return client->state() == kCvUdpConnecting; }));
  EXPECT_TRUE(server.quiet());
  clock.advance(5000);
  ASSERT_TRUE(server.receive(b));
  ASSERT_TRUE(AsCommand(b, cmd));
  EXPECT_EQ(cmd.code, kCvUdpConnect);
}

TEST(CvUdpThreaded, ClientPacksTransmitRequestsAndBitRate) {
  ManualClock clock(4242);
  Rig rig(clock);
  UdpPeer server;
  CvUdpEndpoint* client = rig.client(server.port());
  Bytes b;
  ASSERT_TRUE(server.receive(b));  // CONNECT

  CanFrame f;
  f.id = 0xC0000000u | 0x7FF;  // bus bits 3 ask for bus selector 1
  f.rtr = 1;
  f.length = 2;
  f.timestamp = 99;
  clock.set(5000);
  ASSERT_EQ(client->sendFrame(f, true), 1);
  EXPECT_EQ(f.timestamp, 5000u) << "the frame is stamped with the tick after sending";
  ASSERT_TRUE(server.receive(b));
  ASSERT_EQ(b.size(), 80u);
  EXPECT_EQ(b[0], kCvUdpCanMsg);
  EXPECT_EQ(U32(b, 4), 0xC00007FFu);
  EXPECT_EQ(U32(b, 8), kCvUdpInfoTxRequest | 0x10000000u | kCvUdpInfoRemote | 2u);
  EXPECT_EQ(U32(b, 12), 99u);

  CanFrame g;
  g.id = 0x40000000u | 0x100;
  g.length = 8;
  ASSERT_EQ(client->sendFrame(g, true), 1);
  ASSERT_TRUE(server.receive(b));
  EXPECT_EQ(U32(b, 8), kCvUdpInfoTxRequest | 8u) << "bus 1 needs no selector";

  ASSERT_EQ(client->sendBitRate(3, 500), 1);
  ASSERT_TRUE(server.receive(b));
  CvUdpCommand cmd;
  ASSERT_TRUE(AsCommand(b, cmd));
  EXPECT_EQ(cmd.code, kCvUdpCanBitTiming);
  EXPECT_EQ(cmd.argA, 2);
  EXPECT_EQ(cmd.argB, 3);
  EXPECT_EQ(cmd.p[0], 500u);
  EXPECT_EQ(cmd.p[1], 0xFFFFFFFFu);
  EXPECT_EQ(cmd.p[2], 0xFFFFFFFFu);
  EXPECT_EQ(cmd.p[3], 0u);
  EXPECT_EQ(client->counters().packetsSent, 4u);
}

// With local IP 0.0.0.0 the socket listens everywhere, and the address stated in CONNECT is the one
// the kernel would send from towards the remote: for a remote of 127.0.0.1 that is 127.0.0.1.
TEST(CvUdpThreaded, AnyLocalAddressStatesTheRouteSource) {
  ManualClock clock;
  Rig rig(clock);
  UdpPeer server;
  CvUdpEndpoint* client = rig.hub.createEndpoint();
  ASSERT_EQ(client->open(1, kLoopback, server.port(), 0, 0), 1) << rig.lines.dump();
  EXPECT_TRUE(
      rig.lines.has("CAN: CvUDP_Connect: Using local IP 127.0.0.1, port 0 to access remote 127.0.0.1:" +
                    Port(server.port()) + "."))
      << rig.lines.dump();
  Bytes b;
  CvUdpCommand cmd;
  ASSERT_TRUE(server.receive(b));
  ASSERT_TRUE(AsCommand(b, cmd));
  EXPECT_EQ(cmd.p[0], kLoopbackWire);
  EXPECT_EQ(cmd.p[1], client->boundPort());
  // The peer can answer at the stated address.
  server.sendTo(static_cast<uint16_t>(cmd.p[1]), Command(kCvUdpTimestamp, 16, 0, 1000, 1));
  ASSERT_TRUE(WaitFor([&] { return client->connected(); }));
}

TEST(CvUdpThreaded, ServerAnswersTheStatedAddressNotTheSource) {
  ManualClock clock(5000);
  Rig rig(clock);
  CvUdpEndpoint* server = rig.server();
  const uint16_t sp = server->boundPort();
  UdpPeer source, stated;

  source.sendTo(sp, Command(kCvUdpConnect, 0, 0, kLoopbackWire, stated.port(), kLoopbackWire, sp));
  Bytes b;
  CvUdpCommand cmd;
  ASSERT_TRUE(stated.receive(b)) << rig.lines.dump();
  ASSERT_TRUE(AsCommand(b, cmd));
  EXPECT_EQ(cmd.code, kCvUdpTimestamp);
  EXPECT_EQ(cmd.argA, 16);
  EXPECT_EQ(cmd.p[0], 1000u);
  EXPECT_EQ(cmd.p[1], 5000u);
  EXPECT_TRUE(source.quiet()) << "nothing goes to the datagram's source";
  EXPECT_TRUE(server->connected());
  EXPECT_TRUE(rig.lines.has("CAN: CvUDP Server: Connected by 127.0.0.1:" + Port(stated.port()) + " ."));

  CanFrame f;
  f.id = 0x55;
  f.length = 1;
  f.data[0] = 0x99;
  ASSERT_EQ(server->sendFrame(f, false), 1);
  ASSERT_TRUE(stated.receive(b));
  ASSERT_EQ(b.size(), 80u);
  EXPECT_EQ(U32(b, 8), kCvUdpInfoRxReport | 1u);

  // A DISCONNECT must name the connected peer.
  source.sendTo(sp, Command(kCvUdpDisconnect, 0, 0, kLoopbackWire, source.port()));
  EXPECT_TRUE(stated.quiet());
  EXPECT_TRUE(server->connected());
  source.sendTo(sp, Command(kCvUdpDisconnect, 0, 0, kLoopbackWire, stated.port()));
  ASSERT_TRUE(WaitFor([&] { return server->state() == kCvUdpIdle; }));
  EXPECT_TRUE(rig.lines.has("CAN: CvUDP Server disconnected from 127.0.0.1:" + Port(stated.port()) + " ."));

  // Argument A other than 0: connected without a Timestamp.
  source.sendTo(sp, Command(kCvUdpConnect, 1, 0, kLoopbackWire, source.port()));
  ASSERT_TRUE(WaitFor([&] { return server->connected(); }));
  EXPECT_TRUE(source.quiet());
  EXPECT_EQ(server->counters().connections, 2u);

  // Closing a connected server says goodbye to its peer.
  server->close();
  ASSERT_TRUE(source.receive(b));
  ASSERT_TRUE(AsCommand(b, cmd));
  EXPECT_EQ(cmd.code, kCvUdpDisconnect);
  EXPECT_EQ(cmd.p[1], sp);
  EXPECT_EQ(cmd.p[2], kLoopbackWire);
  EXPECT_EQ(cmd.p[3], source.port());
}

TEST(CvUdpThreaded, ClientAskedToServeBecomesServer) {
  ManualClock clock(1000);
  Rig rig(clock);
  UdpPeer oldServer, newClient;
  CvUdpEndpoint* ep = rig.client(oldServer.port());
  const uint16_t port = ep->boundPort();
  Bytes b;
  ASSERT_TRUE(oldServer.receive(b));
  oldServer.sendTo(port, Command(kCvUdpTimestamp, 16, 0, 1000, 1));
  ASSERT_TRUE(WaitFor([&] { return ep->connected(); }));

  newClient.sendTo(port, Command(kCvUdpConnect, 0, 254, kLoopbackWire, newClient.port()));
  CvUdpCommand cmd;
  ASSERT_TRUE(oldServer.receive(b));
  ASSERT_TRUE(AsCommand(b, cmd));
  EXPECT_EQ(cmd.code, kCvUdpDisconnect);
  ASSERT_TRUE(newClient.receive(b));
  ASSERT_TRUE(AsCommand(b, cmd));
  EXPECT_EQ(cmd.code, kCvUdpTimestamp);
  EXPECT_EQ(ep->roleFlags(), 2);
  EXPECT_TRUE(ep->connected());
}

TEST(CvUdpThreaded, FdFrameArrivesWithLength64AndEightDataBytes) {
  SteadyClock clock;
  Rig rig(clock);
  CvUdpEndpoint* server = rig.server();
  CvUdpEndpoint* client = rig.client(server->boundPort());
  ASSERT_TRUE(WaitFor([&] { return client->connected() && server->connected(); }));

  CanFrame fd;
  fd.id = 0x123;
  fd.length = 64;
  fd.fdFlags = CanFrame::kFdf | CanFrame::kBrs;
  for (int i = 0; i < 64; ++i) fd.data[i] = static_cast<uint8_t>(i + 1);
  ASSERT_EQ(server->sendFrame(fd, false), 1);
  CanFrame rtr;
  rtr.id = 0x124;
  rtr.rtr = 1;
  rtr.length = 4;
  ASSERT_EQ(server->sendFrame(rtr, false), 1);

  CanFrame got;
  ASSERT_TRUE(WaitFor([&] { return client->popFrame(got); }));
  EXPECT_EQ(got.id, 0x80000123u) << "bus 0 of the server arrives as bus 2";
  EXPECT_EQ(got.length, 64);
  EXPECT_TRUE(got.isFd());
  for (int i = 0; i < 8; ++i) EXPECT_EQ(got.data[i], i + 1);
  for (int i = 8; i < 64; ++i) ASSERT_EQ(got.data[i], 0) << "byte " << i;
  ASSERT_TRUE(WaitFor([&] { return client->popFrame(got); }));
  EXPECT_EQ(got.rtr, 1) << "a remote frame stays a remote frame";
  EXPECT_EQ(got.length, 4);
}

TEST(CvUdpThreaded, TimestampsFollowThePeersTickRate) {
  ManualClock clock(10000);
  Rig rig(clock);
  UdpPeer server;
  CvUdpEndpoint* client = rig.client(server.port());
  const uint16_t cp = client->boundPort();
  Bytes b;
  ASSERT_TRUE(server.receive(b));
  EXPECT_EQ(client->peerTimeMs(), 10000.0) << "no Timestamp yet: the own tick";

  server.sendTo(cp, Command(kCvUdpTimestamp, 16, 0, 500, 1000));
  ASSERT_TRUE(WaitFor([&] { return client->connected(); }));
  EXPECT_TRUE(rig.lines.has("CAN: CvUDP Server reports t=1000, f=500 Hz ."));
  clock.advance(250);
  EXPECT_EQ(client->peerTimeMs(), 2250.0);

  server.sendTo(cp, FramePacket({{0x10, kCvUdpInfoRxReport | 0x10000000u | 2, 1000, {7, 8}}}));
  CanFrame got;
  ASSERT_TRUE(WaitFor([&] { return client->popFrame(got); }));
  EXPECT_EQ(got.timestamp, 2000u) << "1000 ticks at 500 Hz";
  EXPECT_EQ(got.bus(), 3) << "bus selector bit 28 sets bit 30";
  EXPECT_EQ(got.data[1], 8);

  // A tick rate of 0 must not divide by zero.
  server.sendTo(cp, Command(kCvUdpTimestamp, 16, 0, 0, 1000));
  ASSERT_TRUE(WaitFor([&] { return client->peerTickRate() == 0; }));
  server.sendTo(cp, FramePacket({{0x10, kCvUdpInfoRxReport | 1, 4000000000u, {}}}));
  ASSERT_TRUE(WaitFor([&] { return client->popFrame(got); }));
  EXPECT_EQ(got.timestamp, 4000000000u);
  EXPECT_EQ(client->peerTimeMs(), 1000.0);
}

TEST(CvUdpThreaded, TransmitRequestsReachTheRelayWithBusSelectorMapped) {
  SteadyClock clock;
  Rig rig(clock);
  CvUdpEndpoint* server = rig.server();
  const uint16_t sp = server->boundPort();
  UdpPeer peer;
  peer.sendTo(sp, Command(kCvUdpConnect, 0, 0, kLoopbackWire, peer.port()));
  ASSERT_TRUE(WaitFor([&] { return server->connected(); }));
  Bytes b;
  ASSERT_TRUE(peer.receive(b));  // the server's Timestamp

  const uint32_t tx = kCvUdpInfoTxRequest;
  peer.sendTo(sp, FramePacket({
                      {0x40000101, tx | 2, 5, {1, 2}},                     // no selector: id as sent
                      {0x101 | 0x20000000, tx | 0x10000000u | 8, 5, {1}},  // selector 1
                      {0xC0000102, tx | 0x20000000u | 1, 5, {3}},          // selector 2
                      {0x103, tx | 0x30000000u | kCvUdpInfoRemote | 3, 5, {9, 9, 9}},  // selector 3, remote
                      {0x104, tx | 200, 5, {1, 2, 3, 4, 5, 6, 7, 8}},                  // length beyond 64
                      {0x105, kCvUdpInfoRxReport | 1, 5, {6}},  // a report is no request
                  }));
  ASSERT_TRUE(WaitFor([&] { return rig.relayedFrames().size() == 5; })) << rig.relayedFrames().size();
  const auto f = rig.relayedFrames();
  EXPECT_EQ(f[0].id, 0x40000101u);
  EXPECT_EQ(f[0].length, 2);
  EXPECT_EQ(f[0].timestamp, 0u);
  EXPECT_EQ(f[1].id, 0x40000000u | 0x20000000u | 0x101);
  EXPECT_EQ(f[2].id, 0x80000102u);
  EXPECT_EQ(f[3].id, 0xC0000103u);
  EXPECT_EQ(f[3].rtr, 1);
  EXPECT_EQ(f[3].data[0], 0) << "a remote frame carries no data";
  EXPECT_EQ(f[4].length, 64) << "never more than the frame record holds";
  EXPECT_EQ(f[4].data[7], 8);
  EXPECT_EQ(f[4].data[8], 0);
  CanFrame report;
  ASSERT_TRUE(WaitFor([&] { return server->popFrame(report); }));
  EXPECT_EQ(report.identifier(), 0x105u);

  // A client does not act on transmit requests.
  UdpPeer other;
  CvUdpEndpoint* client = rig.client(other.port());
  ASSERT_TRUE(other.receive(b));  // its CONNECT
  other.sendTo(client->boundPort(),
               FramePacket({{0x1, tx | 1, 0, {}}, {0x2, kCvUdpInfoRxReport | 1, 0, {}}}));
  CanFrame got;
  ASSERT_TRUE(WaitFor([&] { return client->popFrame(got); }));
  EXPECT_EQ(got.identifier(), 0x2u);
  EXPECT_EQ(rig.relayedFrames().size(), 5u);
}

TEST(CvUdpThreaded, FloodBeyondTheRingCountsEveryDrop) {
  SteadyClock clock;
  Rig rig(clock);
  CvUdpEndpoint* client = rig.client(1);  // nobody listens on port 1; the CONNECT is lost, which is fine
  const uint16_t cp = client->boundPort();
  UdpPeer server;

  // 13 entries fill a packet; sent in batches the receive thread can keep up with, so that the
  // only place frames can be lost is the ring.
  constexpr int kPerPacket = 13, kPackets = 2700, kBatch = 300;
  const int total = kPerPacket * kPackets;
  int sent = 0;
  for (int p = 0; p < kPackets; ++p) {
    std::vector<Entry> entries;
    for (int i = 0; i < kPerPacket; ++i, ++sent)
      entries.push_back({static_cast<uint32_t>(sent) & 0x1FFFFFFF, kCvUdpInfoRxReport | 8, 0, {}});
    server.sendTo(cp, FramePacket(entries));
    if ((p + 1) % kBatch == 0) {
      ASSERT_TRUE(
          WaitFor([&] { return client->counters().packetsReceived >= static_cast<uint64_t>(p + 1); }));
    }
  }
  ASSERT_TRUE(WaitFor([&] { return client->counters().packetsReceived >= kPackets; }));

  const uint64_t capacity = FrameRing::kDefaultCapacity;
  ASSERT_GT(static_cast<uint64_t>(total), capacity);
  EXPECT_EQ(client->counters().framesDropped, total - capacity);
  EXPECT_EQ(client->takeDroppedFrames(), total - capacity);
  EXPECT_EQ(client->takeDroppedFrames(), 0u) << "taking resets the count";
  CanFrame f;
  uint64_t popped = 0;
  bool inOrder = true;
  while (client->popFrame(f)) {
    inOrder = inOrder && f.identifier() == popped;
    ++popped;
  }
  EXPECT_EQ(popped, capacity);
  EXPECT_TRUE(inOrder) << "the oldest frames are kept, the newest dropped";
  EXPECT_EQ(client->counters().framesDropped, total - capacity) << "still counted since opening";
}

TEST(CvUdpThreaded, StrayDatagramFromAnotherSocketCostsTheClientNothing) {
  SteadyClock clock;
  Rig rig(clock);
  CvUdpEndpoint* server = rig.server();
  CvUdpEndpoint* client = rig.client(server->boundPort());
  ASSERT_TRUE(WaitFor([&] { return client->connected() && server->connected(); }));
  const uint64_t before = server->counters().packetsReceived;
  UdpPeer stranger;
  // Continued by the client's next datagram, these would start a CAN_MSG header claiming 1024 bytes.
  stranger.sendTo(server->boundPort(), Bytes{kCvUdpCanMsg, 0, 0});
  ASSERT_TRUE(WaitFor([&] { return server->counters().packetsReceived > before; }));

  constexpr uint32_t kFrames = 300;
  for (uint32_t i = 0; i < kFrames; ++i) {
    CanFrame tx;
    tx.id = 0x100 + i;
    tx.length = 1;
    tx.data[0] = static_cast<uint8_t>(i);
    ASSERT_EQ(client->sendFrame(tx, true), 1);
  }
  ASSERT_TRUE(WaitFor([&] { return rig.relayedFrames().size() >= kFrames; }))
      << rig.relayedFrames().size() << " of " << kFrames << " frames arrived";
  const std::vector<CanFrame> got = rig.relayedFrames();
  ASSERT_EQ(got.size(), kFrames);
  for (uint32_t i = 0; i < kFrames; ++i) ASSERT_EQ(got[i].id, 0x100 + i) << "frame " << i;
  const CvUdpCounters c = server->counters();
  EXPECT_EQ(c.malformedHeaders + c.partialsDropped + c.partialsEvicted, 0u);

  // The stranger's own next whole datagram is read as such; its three bytes are what is lost.
  const Bytes report = FramePacket({{0x9, kCvUdpInfoRxReport | 1, 0, {}}});
  stranger.sendTo(client->boundPort(), Bytes{kCvUdpCanMsg, 0, 0});
  stranger.sendTo(client->boundPort(), report);
  CanFrame f;
  ASSERT_TRUE(WaitFor([&] { return client->popFrame(f); }));
  EXPECT_EQ(f.identifier(), 0x9u);
  EXPECT_EQ(client->counters().partialsDropped, 1u);
}

TEST(CvUdpThreaded, GarbageAndHugeDatagramsNeverHurt) {
  SteadyClock clock;
  Rig rig(clock);
  CvUdpEndpoint* server = rig.server();
  CvUdpEndpoint* client = rig.client(server->boundPort());
  ASSERT_TRUE(WaitFor([&] { return client->connected() && server->connected(); }));
  UdpPeer attacker;

  std::mt19937 rng(1234);
  int sent = 0;
  const size_t sizes[] = {0, 1, 3, 4, 5, 79, 80, 81, 1027, 1028, 8191, 8192, 8193, 30000, 65507};
  for (int round = 0; round < 30; ++round) {
    for (size_t size : sizes) {
      Bytes junk(size);
      // No byte 0x01, so no CONNECT can ever be parsed: the endpoints must not answer random addresses.
      for (auto& byte : junk) {
        byte = static_cast<uint8_t>(rng());
        if (byte == kCvUdpConnect) byte = 2;
      }
      // Every third datagram looks plausible: valid headers claiming long payloads.
      if (round % 3 == 0 && size >= 4) {
        junk[0] = static_cast<uint8_t>(rng() % 2 ? kCvUdpCanMsg : kCvUdpCommand);
        junk[2] = 0xFF;
        junk[3] = 0x03;
      }
      attacker.sendTo(server->boundPort(), junk);
      attacker.sendTo(client->boundPort(), junk);
      ++sent;
    }
    ASSERT_TRUE(WaitFor([&] { return client->counters().packetsReceived >= static_cast<uint64_t>(sent); }));
    CanFrame f;
    while (client->popFrame(f) || server->popFrame(f)) ASSERT_LE(f.length, 64);
    rig.lines.all();
  }
  ASSERT_TRUE(WaitFor([&] { return server->counters().packetsReceived >= static_cast<uint64_t>(sent); }));
  for (const CanFrame& f : rig.relayedFrames()) EXPECT_LE(f.length, 64);

  // Both endpoints still close and reopen, and connect again.
  const uint16_t sp = server->boundPort();
  server->close();
  client->close();
  ASSERT_EQ(server->open(2, 0, 0, kLoopback, sp), 1) << rig.lines.dump();
  ASSERT_EQ(client->open(1, kLoopback, sp, kLoopback, 0), 1);
  ASSERT_TRUE(WaitFor([&] { return client->connected() && server->connected(); }));
}

// ------------------------------------------------------------------------------------------------
// Without a receive thread.

TEST(CvUdpHubTable, FifthEndpointIsRefused) {
  ManualClock clock;
  DeferredMessageQueue queue;
  Lines lines(queue);
  CvUdpHub hub(clock, queue);
  CvUdpEndpoint* e[kCvUdpMaxEndpoints];
  for (auto& ep : e) {
    ep = hub.createEndpoint();
    ASSERT_NE(ep, nullptr);
  }
  EXPECT_EQ(hub.createEndpoint(), nullptr);
  EXPECT_TRUE(lines.has("CAN: CvUDP_Connect: All instances are occupied !"));
  hub.destroyEndpoint(e[2]);
  EXPECT_NE(hub.createEndpoint(), nullptr) << "a freed slot is used again";
}

TEST(CvUdpEndpointNoThread, OpenWithoutRoleHasNoSocket) {
  ManualClock clock;
  DeferredMessageQueue queue;
  Lines lines(queue);
  CvUdpHub hub(clock, queue);
  CvUdpEndpoint* ep = hub.createEndpoint();
  ASSERT_EQ(ep->open(0, kLoopback, 1234, kLoopback, 0), 1);
  EXPECT_EQ(ep->state(), kCvUdpIdle);
  CanFrame f;
  EXPECT_EQ(ep->sendFrame(f, true), 0);
  EXPECT_EQ(ep->sendFrame(f, true), 0);
  EXPECT_EQ(lines.count("CAN: CvUDP_Send: socket not 'connected' !"), 1) << "reported once";
  EXPECT_FALSE(ep->popFrame(f));
}

TEST(CvUdpEndpointNoThread, BindFailureIsReportedAndLeavesNoSocket) {
  ManualClock clock;
  DeferredMessageQueue queue;
  Lines lines(queue);
  CvUdpHub hub(clock, queue);
  UdpPeer taken;
  CvUdpEndpoint* ep = hub.createEndpoint();
  EXPECT_EQ(ep->open(2, 0, 0, kLoopback, taken.port()), 0);
  EXPECT_TRUE(lines.has("CAN: CvUDP_Connect: bind(port=" + Port(taken.port()) +
                        ") failed (\"Address already in use\") !"))
      << lines.dump();
  EXPECT_FALSE(ep->connected());
  CanFrame f;
  EXPECT_EQ(ep->sendFrame(f, false), 0);
}

TEST(CvUdpEndpointNoThread, DatagramsHandledWithoutSocketPeer) {
  ManualClock clock(777);
  DeferredMessageQueue queue;
  Lines lines(queue);
  CvUdpHub hub(clock, queue);
  CvUdpEndpoint* ep = hub.createEndpoint();
  ASSERT_EQ(ep->open(0, 0, 0, 0, 0), 1);
  // No role: commands change nothing, reports still land in the ring.
  const Bytes connect = Command(kCvUdpConnect, 0, 0, kLoopbackWire, 1);
  ep->handleDatagram(connect.data(), connect.size());
  EXPECT_EQ(ep->state(), kCvUdpIdle);
  const Bytes report = FramePacket({{0x7, kCvUdpInfoRxReport | 2, 3, {1, 2}}});
  ep->handleDatagram(report.data(), report.size());
  CanFrame f;
  ASSERT_TRUE(ep->popFrame(f));
  EXPECT_EQ(f.id, 0x80000007u);
  EXPECT_EQ(f.timestamp, 3u);
}

TEST(CvUdpEndpointNoThread, MalformedInputIsCountedInBytes) {
  ManualClock clock;
  DeferredMessageQueue queue;
  CvUdpHub hub(clock, queue);
  CvUdpEndpoint* ep = hub.createEndpoint();
  ASSERT_EQ(ep->open(0, 0, 0, 0, 0), 1);
  Bytes badCommand = Command(kCvUdpConnect, 0, 0, 1, 2);
  badCommand[7] = 3;  // the parameter count disagrees with the length
  Bytes shortFrames = {kCvUdpCanMsg, 0, 10, 0};
  shortFrames.resize(14);
  Bytes oneAndABit = FramePacket({{0x1, kCvUdpInfoRxReport | 1, 0, {}}});
  oneAndABit[2] = kCvUdpEntrySize + 4;
  oneAndABit.insert(oneAndABit.end(), 4, 0);
  Bytes text = {kCvUdpString, 0, 3, 0, 'a', 'b', 'c'};  // received and ignored, not malformed
  Bytes all = {12, 0, 20, 0};                           // a header of no known type
  for (const Bytes* b : {&badCommand, &shortFrames, &oneAndABit, &text})
    all.insert(all.end(), b->begin(), b->end());
  ep->handleDatagram(all.data(), all.size());
  const uint64_t expected = 4 + 24 + 14 + 4;
  EXPECT_EQ(ep->counters().malformedBytes, expected);
  EXPECT_EQ(ep->takeMalformedBytes(), expected);
  EXPECT_EQ(ep->takeMalformedBytes(), 0u);
  CanFrame f;
  EXPECT_TRUE(ep->popFrame(f)) << "the whole entry still arrives";

  // A dropped unfinished packet counts what it held.
  const Bytes half = {kCvUdpCanMsg, 0, kCvUdpEntrySize, 0, 1, 2};
  ep->handleDatagram(half.data(), half.size());
  const Bytes connect = Command(kCvUdpDisconnect, 0, 0, 1, 2);
  ep->handleDatagram(connect.data(), connect.size());
  EXPECT_EQ(ep->takeMalformedBytes(), 6u);
  ASSERT_EQ(ep->open(0, 0, 0, 0, 0), 1);
  EXPECT_EQ(ep->counters().malformedBytes, 0u) << "opening starts afresh";
}

}  // namespace
}  // namespace busprobe
