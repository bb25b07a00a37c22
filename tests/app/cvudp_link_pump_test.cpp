// A CAN-via-UDP server answers its client between two ticks: while the link is up, the run loop
// takes frames in every millisecond. Two applications in one process, joined over 127.0.0.1; the
// endpoints' receive threads run, hence "Threaded".
#include <gtest/gtest.h>

#include "can/cvudp_test_peer.h"
#include "test_support.h"

namespace busprobe {
namespace {

using cvudp_test::WaitFor;

struct LinkedApp {
  explicit LinkedApp(std::shared_ptr<VirtualBus> bus) {
    AppOptions options;
    options.configDir = dir.path();
    options.lockDir = dir.path();
    options.virtualBus = std::move(bus);
    app = std::make_unique<Application>(ui, clock, options);
    app->startUp();
  }
  void tick() {
    app->tick();
    clock.advance(50);
  }
  ManualClock clock{1000};
  test::ScratchDir dir;
  test::RecordingUi ui;
  std::unique_ptr<Application> app;
};

TEST(ApplicationThreaded, ServerAnswersAcrossTheLinkWithoutWaitingForItsTick) {
  LinkedApp server(VirtualBus::create());
  server.app->interfaceSettings().cvudpFlags = kCvUdpServer;
  server.app->interfaceSettings().cvudpLocalIp = "127.0.0.1";
  server.app->interfaceSettings().cvudpLocalPort = 0;
  for (int i = 0; i < 6; ++i) server.tick();
  ASSERT_NE(server.app->ucan().cvudpEndpoint(), nullptr);

  LinkedApp client(VirtualBus::create());
  CanInterfaceSettings& c = client.app->interfaceSettings();
  c.interfaceType = kIntfCvUdp;
  c.cvudpFlags = kCvUdpClient;
  c.cvudpRemoteIp = "127.0.0.1";
  c.cvudpRemotePort = server.app->ucan().cvudpEndpoint()->boundPort();
  c.cvudpLocalIp = "127.0.0.1";
  c.cvudpLocalPort = 0;
  ASSERT_TRUE(WaitFor([&] {
    client.tick();
    server.tick();
    const CvUdpEndpoint* s = server.app->ucan().cvudpEndpoint();
    const CvUdpEndpoint* l = client.app->ucan().cvudpEndpoint();
    return s && l && s->connected() && l->connected();
  })) << "the link did not come up";
  // Both sides have nothing left from the connection; the server's next tick is 50 ms away.
  for (int i = 0; i < 3; ++i) {
    client.tick();
    server.tick();
  }
  server.app->runLoop().runDue();  // a tick now, the next one 50 ms on
  const double beforeNextTickMs = server.clock.nowMs() + 45;
  const uint64_t serverTicks = server.app->tickCount();
  const uint64_t serverFrames = server.app->framesPumped();

  // An SDO read of node 2, the server's own SDO server.
  CanFrame request;
  request.id = 0x602;
  request.length = 8;
  request.data[0] = 0x40;
  request.data[1] = 0x00;
  request.data[2] = 0x10;
  ASSERT_TRUE(client.app->traffic().TransmitFrame(request));
  ASSERT_TRUE(WaitFor([&] {
    if (server.app->framesPumped() == serverFrames) {
      // Millisecond steps of the server's run loop, never as far as its next tick.
      if (server.clock.nowMs() + 1 < beforeNextTickMs) server.clock.advance(1);
      server.app->runLoop().runDue();
    }
    return server.app->framesPumped() > serverFrames;
  })) << "the server did not take the request in";
  EXPECT_EQ(server.app->tickCount(), serverTicks) << "taken in by a tick, not between ticks";

  // The answer is on its way back already: the client's pump finds it.
  EXPECT_TRUE(WaitFor([&] {
    client.app->ProcessReceivedFrames(64);
    const ReceiveHistory& h = client.app->history();
    for (size_t back = 0; back < h.count(); ++back)
      if (h.frame(back).identifier() == 0x582) return true;
    return false;
  })) << "no answer reached the client";
  client.app->shutDown(false);
  server.app->shutDown(false);
}

}  // namespace
}  // namespace busprobe
