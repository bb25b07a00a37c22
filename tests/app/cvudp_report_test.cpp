// What the tick tells about a CAN-via-UDP server's input, through the whole application: a server
// endpoint on 127.0.0.1 beside the virtual bus, fed by a plain socket. Its receive thread runs,
// hence "Threaded".
#include <gtest/gtest.h>

#include "can/cvudp_test_peer.h"
#include "test_support.h"

namespace busprobe {
namespace {

using namespace cvudp_test;

TEST(ApplicationThreaded, MalformedCvUdpInputIsToldOncePerGrowth) {
  ManualClock clock(1000);
  test::ScratchDir dir;
  test::RecordingUi ui;
  AppOptions options;
  options.configDir = dir.path();
  options.lockDir = dir.path();
  options.virtualBus = VirtualBus::create();
  Application app(ui, clock, options);
  app.startUp();
  app.interfaceSettings().cvudpFlags = kCvUdpServer;
  app.interfaceSettings().cvudpLocalIp = "127.0.0.1";
  app.interfaceSettings().cvudpLocalPort = 0;
  auto tick = [&] {
    app.tick();
    clock.advance(50);
  };
  for (int i = 0; i < 6; ++i) tick();
  ASSERT_NE(app.ucan().cvudpEndpoint(), nullptr);
  const uint16_t port = app.ucan().cvudpEndpoint()->boundPort();
  const std::string told = "CAN: CvUDP: ";
  ASSERT_EQ(ui.countPrefix(told), 0);

  UdpPeer stranger;
  const Bytes junk = {0, 0, 0, 0, 12, 1, 2, 3};  // two headers of no known type
  stranger.sendTo(port, junk);
  ASSERT_TRUE(WaitFor([&] {
    tick();
    return ui.countPrefix(told) > 0;
  }));
  EXPECT_TRUE(ui.hasLine("CAN: CvUDP: 8 bytes of malformed input discarded"));
  for (int i = 0; i < 5; ++i) tick();
  EXPECT_EQ(ui.countPrefix(told), 1) << "told while it grows, not on every tick";

  stranger.sendTo(port, junk);
  stranger.sendTo(port, junk);
  ASSERT_TRUE(WaitFor([&] {
    tick();
    return ui.hasLine("CAN: CvUDP: 24 bytes of malformed input discarded");
  }));
  for (int i = 0; i < 5; ++i) tick();
  EXPECT_LE(ui.countPrefix(told), 3);
  app.shutDown(false);
}

}  // namespace
}  // namespace busprobe
