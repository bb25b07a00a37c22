// UCAN over CAN-via-UDP on 127.0.0.1. Tests that open an endpoint start its receive thread and so
// carry "Threaded" in their names for the thread-sanitizer run.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <fstream>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "can/cvudp_test_peer.h"
#include "can/ucan.h"

namespace busprobe {
namespace {

using cvudp_test::WaitFor;

CanInterfaceSettings ServerOnVirtualBus() {
  CanInterfaceSettings p;
  p.interfaceType = kIntfVirtual;
  p.cvudpFlags = kCvUdpServer;
  p.cvudpLocalIp = "127.0.0.1";
  p.cvudpLocalPort = 0;
  return p;
}

CanInterfaceSettings ClientOf(uint16_t serverPort) {
  CanInterfaceSettings p;
  p.interfaceType = kIntfCvUdp;
  p.cvudpRemoteIp = "127.0.0.1";
  p.cvudpRemotePort = serverPort;
  p.cvudpLocalIp = "127.0.0.1";
  p.cvudpLocalPort = 0;
  return p;
}

TEST(UcanCvUdp, ClientWithInvalidAddressesFailsWithoutOpeningAnything) {
  ManualClock clock;
  DeferredMessageQueue queue;
  Ucan ucan(clock, queue);
  CanInterfaceSettings p = ClientOf(55556);
  p.cvudpRemoteIp = "192.168..1";
  EXPECT_EQ(ucan.UCAN_Init(p), 0);
  EXPECT_EQ(ucan.takeLastError(), "Invalid 'remote' IP (192.168..1) ?");
  EXPECT_EQ(ucan.cvudpEndpoint(), nullptr);
  EXPECT_FALSE(ucan.ready());

  p = ClientOf(55556);
  p.cvudpLocalIp = "10.0.0.300";
  EXPECT_EQ(ucan.UCAN_Init(p), 0);
  EXPECT_EQ(ucan.takeLastError(), "Invalid 'local' IP (10.0.0.300) ?");
}

TEST(UcanThreaded, ServerBesideTheVirtualBusOpensItsEndpoint) {
  ManualClock clock;
  DeferredMessageQueue queue;
  Ucan ucan(clock, queue);
  ASSERT_EQ(ucan.UCAN_Init(ServerOnVirtualBus()), 1) << ucan.lastError();
  ASSERT_NE(ucan.cvudpEndpoint(), nullptr);
  const uint16_t port = ucan.cvudpEndpoint()->boundPort();
  EXPECT_NE(port, 0);
  EXPECT_EQ(ucan.takeLastError(),
            "Acting as SERVER for CAN-via-UDP on port " + std::to_string(port) + ", local IP=127.0.0.1 .");
  const std::vector<std::string> lines = queue.drain();
  EXPECT_NE(std::find(lines.begin(), lines.end(), "CAN: Initialized CAN-via-UDP ."), lines.end());
  EXPECT_EQ(ucan.interfaceType(), kIntfVirtual);

  // The local bus works as without the server.
  ASSERT_EQ(ucan.UCAN_InitCtrl(0, 500, 0), 1);
  CanFrame f;
  f.id = 0x100;
  ASSERT_EQ(ucan.UCAN_Transmit(0, f), 1);
  EXPECT_EQ(ucan.UCAN_Receive(255, f), 1);

  // No server beside type 0, but the endpoint still opens.
  CanInterfaceSettings none = ServerOnVirtualBus();
  none.interfaceType = kIntfNone;
  EXPECT_EQ(ucan.UCAN_Init(none), 0);
  EXPECT_EQ(ucan.takeLastError(), "No interface selected, cannot initialize \"UCAN\" !");
  EXPECT_NE(ucan.cvudpEndpoint(), nullptr);
  ucan.UCAN_Exit();
  EXPECT_EQ(ucan.cvudpEndpoint(), nullptr);
}

// Client transmits; the server relays onto its virtual bus, whose echo the server's receive pump
// forwards back to the client as a relayed frame (bus index 2).
TEST(UcanThreaded, ClientTransmitEchoedBackThroughServer) {
  ManualClock clock(5000);
  DeferredMessageQueue serverQueue, clientQueue;
  Ucan server(clock, serverQueue);
  server.setRelayTransmit([&server](CanFrame& frame) {
    std::lock_guard<UcanLock> lock(server.lock());
    return server.UCAN_Transmit(frame.bus() & 1, frame) == 1;
  });
  {
    std::lock_guard<UcanLock> lock(server.lock());
    ASSERT_EQ(server.UCAN_Init(ServerOnVirtualBus()), 1) << server.lastError();
    ASSERT_EQ(server.UCAN_InitCtrl(0, 500, 0), 1);
  }
  const uint16_t port = server.cvudpEndpoint()->boundPort();

  Ucan client(clock, clientQueue);
  ASSERT_EQ(client.UCAN_Init(ClientOf(port)), 1) << client.lastError();
  EXPECT_EQ(client.takeLastError(), "Acting as CLIENT using CAN-via-UDP, remote IP=127.0.0.1, remote port=" +
                                        std::to_string(port) + " .");
  ASSERT_TRUE(WaitFor([&] { return client.UCAN_IsChannelOpen(0) == 1; }));
  ASSERT_EQ(client.UCAN_InitCtrl(0, 500, 0), 1);
  ASSERT_TRUE(WaitFor([&] { return server.cvudpEndpoint()->connected(); }));

  CanFrame sent;
  sent.id = 0x321;
  sent.length = 3;
  sent.data[0] = 0xDE;
  sent.data[2] = 0xAD;
  ASSERT_EQ(client.UCAN_Transmit(0, sent), 1);

  CanFrame echo, back;
  bool serverSaw = false, clientGot = false;
  ASSERT_TRUE(WaitFor([&] {
    {
      std::lock_guard<UcanLock> lock(server.lock());
      if (server.UCAN_Receive(255, echo)) serverSaw = true;
    }
    if (client.UCAN_Receive(255, back)) clientGot = true;
    return clientGot;
  }));
  EXPECT_TRUE(serverSaw);
  EXPECT_EQ(echo.identifier(), 0x321u);
  EXPECT_EQ(back.bus(), 2);
  EXPECT_EQ(back.identifier(), 0x321u);
  EXPECT_EQ(back.length, 3);
  EXPECT_EQ(back.data[0], 0xDE);
  EXPECT_EQ(back.data[2], 0xAD);
  EXPECT_EQ(client.receiveCounter(), 1);
  std::lock_guard<UcanLock> lock(server.lock());
  EXPECT_EQ(server.transmitCounter(), 1);
  EXPECT_EQ(server.receiveCounter(), 1);
}

// The owner holds the UCAN lock while it shuts the server down; a relay waiting for that lock must
// give up instead of keeping the receive thread (and so the owner) waiting for ever.
TEST(UcanThreaded, ServerShutsDownWhileARelayWaitsForTheLock) {
  ManualClock clock;
  DeferredMessageQueue serverQueue, clientQueue;
  Ucan server(clock, serverQueue);
  int relayed = 0;
  server.setRelayTransmit([&](CanFrame& frame) {
    std::lock_guard<UcanLock> lock(server.lock());
    ++relayed;
    return server.UCAN_Transmit(0, frame) == 1;
  });
  ASSERT_EQ(server.UCAN_Init(ServerOnVirtualBus()), 1);
  ASSERT_EQ(server.UCAN_InitCtrl(0, 500, 0), 1);
  Ucan client(clock, clientQueue);
  ASSERT_EQ(client.UCAN_Init(ClientOf(server.cvudpEndpoint()->boundPort())), 1);
  ASSERT_TRUE(WaitFor([&] { return client.UCAN_IsChannelOpen(0) == 1; }));

  std::lock_guard<UcanLock> lock(server.lock());
  const uint64_t before = server.cvudpEndpoint()->counters().packetsReceived;
  CanFrame f;
  f.id = 0x55;
  ASSERT_EQ(client.UCAN_Transmit(0, f), 1);
  ASSERT_TRUE(WaitFor([&] { return server.cvudpEndpoint()->counters().packetsReceived > before; }));
  EXPECT_EQ(server.UCAN_Exit(), 1);
  EXPECT_EQ(server.cvudpEndpoint(), nullptr);
  EXPECT_EQ(relayed, 0);
}

// The kernel drops datagrams at a socket whose buffer is full; the endpoint learns how many from
// the next datagram it reads, and UCAN reports them as it reports its own full queues.
TEST(UcanThreaded, KernelDropsAtTheServerSocketAreCountedAndMarkRxOvfOnce) {
  long rmemMax = 0;
  std::ifstream("/proc/sys/net/core/rmem_max") >> rmemMax;
  // No socket buffer is larger than twice this; more than enough datagrams must fit in a test.
  if (rmemMax <= 0 || rmemMax > 64L * 1024 * 1024) GTEST_SKIP() << "socket buffers of unknown size";

  ManualClock clock;
  DeferredMessageQueue queue;
  Ucan server(clock, queue);
  std::mutex mutex;
  std::condition_variable cv;
  bool relaying = false, release = false;
  server.setRelayTransmit([&](CanFrame&) {
    std::unique_lock<std::mutex> lock(mutex);
    relaying = true;
    cv.notify_all();
    cv.wait_for(lock, std::chrono::seconds(10), [&] { return release; });
    return true;
  });
  ASSERT_EQ(server.UCAN_Init(ServerOnVirtualBus()), 1) << server.lastError();
  ASSERT_EQ(server.UCAN_InitCtrl(0, 500, 0), 1);
  CvUdpEndpoint* ep = server.cvudpEndpoint();
  const uint16_t port = ep->boundPort();
  cvudp_test::UdpPeer peer;

  // The receive thread is held in the relay, so everything after this queues in the kernel.
  peer.sendTo(port, cvudp_test::FramePacket({{0x1, kCvUdpInfoTxRequest | 1, 0, {}}}));
  {
    std::unique_lock<std::mutex> lock(mutex);
    ASSERT_TRUE(cv.wait_for(lock, std::chrono::seconds(5), [&] { return relaying; })) << "relay never called";
  }
  // Whole STRING packets: well-formed, and ignored by the endpoint.
  cvudp_test::Bytes big;
  for (int i = 0; i < 63; ++i) {
    const cvudp_test::Bytes packet = {kCvUdpString, 0, 0, 4};  // 1024 bytes of text
    big.insert(big.end(), packet.begin(), packet.end());
    big.insert(big.end(), 1024, 'x');
  }
  const uint64_t flood = static_cast<uint64_t>(2 * rmemMax) / big.size() + 16;
  for (uint64_t i = 0; i < flood; ++i) peer.sendTo(port, big);
  {
    std::lock_guard<std::mutex> lock(mutex);
    release = true;
  }
  cv.notify_all();

  // Only a datagram queued after the drops carries their count.
  const cvudp_test::Bytes small = {kCvUdpString, 0, 1, 0, '.'};
  uint64_t sent = 1 + flood;
  ASSERT_TRUE(WaitFor([&] {
    peer.sendTo(port, small);
    ++sent;
    return ep->counters().kernelDropped > 0;
  })) << "no drop reported";
  ASSERT_TRUE(WaitFor([&] {
    const CvUdpCounters c = ep->counters();
    return c.packetsReceived + c.kernelDropped == sent;
  })) << "every datagram was either read or counted as dropped";
  const uint64_t dropped = ep->counters().kernelDropped;
  EXPECT_GT(dropped, 0u);

  EXPECT_EQ(server.cvudpDatagramsLost(), dropped);
  EXPECT_EQ(server.UCAN_Status(0) & kUcanRxOvf, kUcanRxOvf);
  EXPECT_EQ(server.UCAN_Status(1) & kUcanRxOvf, kUcanRxOvf) << "a datagram may carry either bus";
  EXPECT_EQ(server.UCAN_Status(0) & kUcanRxOvf, 0) << "marked once";
  EXPECT_EQ(server.cvudpDatagramsLost(), dropped) << "kept, not reset by reading";
  server.UCAN_Exit();
  EXPECT_EQ(server.cvudpDatagramsLost(), dropped) << "outlives the endpoint";
}

}  // namespace
}  // namespace busprobe
