// A CAN-via-UDP server relaying its client's transmit requests through the common send path, fed by
// a plain socket on 127.0.0.1. The endpoint's receive thread runs, hence "Threaded".
#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <vector>

#include "can/cvudp_test_peer.h"
#include "traffic/traffic_paths.h"

namespace busprobe {
namespace {

using namespace cvudp_test;

constexpr uint32_t kBusSelector2 = 2u << 28;

struct RelayServer {
  RelayServer() {
    ucan.setRelayTransmit([this](CanFrame& frame) { return paths.TransmitFrame(frame); });
    CanInterfaceSettings p;
    p.interfaceType = kIntfVirtual;
    p.cvudpFlags = kCvUdpServer;
    p.cvudpLocalIp = "127.0.0.1";
    p.cvudpLocalPort = 0;
    std::lock_guard<UcanLock> lock(ucan.lock());
    ok = ucan.UCAN_Init(p) == 1 && ucan.UCAN_InitCtrl(0, 500, 0) == 1;
    ucan.clearLastError();
  }
  ~RelayServer() { ucan.UCAN_Exit(); }
  uint16_t port() { return ucan.cvudpEndpoint()->boundPort(); }

  ManualClock clock{5000.0};
  DeferredMessageQueue queue;
  Ucan ucan{clock, queue};
  CanDisplaySettings display;
  LoggingSettings logging;
  std::vector<std::string> lines;  // the owner thread prints them
  TrafficPaths paths{ucan,
                     clock,
                     display,
                     logging,
                     [this](const std::string& l) { lines.push_back(l); },
                     [this](const std::string& l) { lines.push_back("CAN: " + l); }};
  bool ok = false;
};

// The largest datagram a peer can send holds 858 frames: 66 packets of 13 entries.
Bytes DatagramOfFrames(uint32_t infoBits, int packets) {
  Bytes datagram;
  for (int p = 0; p < packets; ++p) {
    std::vector<Entry> entries;
    for (int i = 0; i < 13; ++i) entries.push_back({0x100u + static_cast<uint32_t>(i), infoBits | 8, 0, {}});
    const Bytes packet = FramePacket(entries);
    datagram.insert(datagram.end(), packet.begin(), packet.end());
  }
  return datagram;
}

TEST(CvUdpRelayThreaded, DatagramOfIllegalBusFramesDoesNotDelayTheNextConnect) {
  RelayServer server;
  ASSERT_TRUE(server.ok) << server.ucan.lastError();
  UdpPeer client;
  const Bytes flood = DatagramOfFrames(kCvUdpInfoTxRequest | kBusSelector2, 66);
  ASSERT_EQ(flood.size(), 65472u);
  client.sendTo(server.port(), flood);
  client.sendTo(server.port(), Command(kCvUdpConnect, 0, 0, kLoopbackWire, client.port()));

  // The answer is a Timestamp stamped with the server's tick: had the send path waited for any of
  // the 858 frames, the clock would have moved on by then.
  Bytes reply;
  ASSERT_TRUE(client.receive(reply, 5000)) << "no answer to CONNECT";
  CvUdpCommand cmd;
  ASSERT_TRUE(AsCommand(reply, cmd));
  EXPECT_EQ(cmd.code, kCvUdpTimestamp);
  EXPECT_EQ(cmd.p[1], 5000u) << "the relay waited " << (cmd.p[1] - 5000) << " ms";
  EXPECT_EQ(server.clock.nowMs(), 5000.0);

  // On the owner thread, one tick tells the flood in two lines.
  server.paths.drainForeignTransmissions();
  server.paths.endTick();
  const std::string text = "UCAN_Transmit: Illegal bus-index (2, allowed: 0..1) !";
  EXPECT_EQ(server.lines, (std::vector<std::string>{"  <TX-error:" + text + ">",
                                                    "  <TX-error: 857 more frames not sent: " + text + ">"}));
}

}  // namespace
}  // namespace busprobe
