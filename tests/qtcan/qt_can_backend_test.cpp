// The Qt CAN bus back-end through the UCAN layer, on Qt's virtualcan plugin: two Ucans (and two
// applications) of this process share one virtual bus over TCP on 127.0.0.1. The devices live in
// the runtime's Qt thread, but the suite is not one of the "Threaded" ones: its hand-offs pass
// through Qt's own locks, which ThreadSanitizer cannot see in the uninstrumented Qt libraries, so
// it would report every frame as a race. The address-sanitizer run covers it.
#include <gtest/gtest.h>

#include <thread>

#include "app/application.h"
#include "app/test_support.h"
#include "can/ucan.h"
#include "qtcan_test_support.h"

namespace busprobe {
namespace {

using qtcan_test::Runtime;
using qtcan_test::VirtualCanName;
using qtcan_test::WaitFor;

struct QtUcan {
  explicit QtUcan(const std::string& interface1, const std::string& plugin1 = "virtualcan") {
    ucan.registerInterfaceType(QtCanBusInterfaceRow(Runtime()));
    params.interfaceType = kIntfQtCanBus;
    params.qtCanBusPlugin1 = plugin1;
    params.qtCanBusInterface1 = interface1;
  }
  bool open(int bus = 0) {
    if (!ucan.UCAN_Init(params)) return false;
    ucan.clearLastError();  // "UCAN_Init successful."
    return ucan.UCAN_InitCtrl(bus, 500, 2000) && ucan.UCAN_SetRcvID(bus, 0, 0);
  }
  bool receive(CanFrame& out) {
    return WaitFor([&] { return ucan.UCAN_Receive(255, out) == 1; });
  }
  ManualClock clock{5000};
  DeferredMessageQueue messages;
  Ucan ucan{clock, messages};
  CanInterfaceSettings params;
};

CanFrame Frame(uint32_t id, int length, uint8_t fdFlags = 0) {
  CanFrame f;
  f.id = id;
  f.length = static_cast<uint8_t>(length);
  f.fdFlags = fdFlags;
  for (int i = 0; i < length; ++i) f.data[i] = static_cast<uint8_t>(i * 3 + 1);
  return f;
}

void ExpectSameFrame(const CanFrame& got, const CanFrame& sent, int bus) {
  EXPECT_EQ(got.identifier(), sent.identifier());
  EXPECT_EQ(got.extended(), sent.extended() || (sent.identifier() & CanFrame::kExtendedOnlyBits));
  EXPECT_EQ(got.bus(), bus);
  EXPECT_EQ(got.rtr, sent.rtr);
  EXPECT_EQ(got.length, sent.length);
  EXPECT_EQ(got.fdFlags, sent.fdFlags);
  if (!sent.rtr) {
    EXPECT_EQ(0, std::memcmp(got.data, sent.data, sent.length));
  }
}

TEST(QtCanBusDevices, TwoUcansExchangeClassicRemoteAndFdFrames) {
  QtUcan a(VirtualCanName()), b(VirtualCanName());
  ASSERT_TRUE(a.open()) << a.ucan.lastError();
  ASSERT_TRUE(b.open()) << b.ucan.lastError();
  EXPECT_EQ(a.ucan.UCAN_IsChannelOpen(0), 1);
  EXPECT_EQ(a.ucan.UCAN_IsChannelOpen(1), 0);
  EXPECT_EQ(a.ucan.channelCount(), 2);

  CanFrame remote = Frame(0x7E5, 0);
  remote.rtr = 1;
  remote.length = 6;
  const CanFrame sent[] = {Frame(0x123, 3), Frame(0x18FF1234 | CanFrame::kExtended, 8), remote,
                           Frame(0x456, 12, CanFrame::kFdf | CanFrame::kBrs),
                           Frame(0x1ABCDE, 64, CanFrame::kFdf | CanFrame::kEsi)};
  for (const CanFrame& f : sent) {
    CanFrame copy = f;
    ASSERT_EQ(a.ucan.UCAN_Transmit(0, copy), 1) << a.ucan.lastError();
    EXPECT_EQ(copy.timestamp, 5000u);  // the UCAN clock at sending
  }
  b.clock.set(7000);
  for (const CanFrame& f : sent) {
    CanFrame got;
    ASSERT_TRUE(b.receive(got)) << "frame " << std::hex << f.id << " did not arrive";
    ExpectSameFrame(got, f, 0);
    // Stamped on the receiver's UCAN clock, not with the plugin's own time.
    EXPECT_GE(got.timestamp, 5000u);
  }
  EXPECT_EQ(b.ucan.receiveCounter(), 5);
  // A bus does not hear its own frames, as on a real bus.
  CanFrame none;
  EXPECT_EQ(a.ucan.UCAN_Receive(255, none), 0);

  CanFrame answer = Frame(0x581, 8);
  ASSERT_EQ(b.ucan.UCAN_Transmit(0, answer), 1);
  CanFrame got;
  ASSERT_TRUE(a.receive(got));
  ExpectSameFrame(got, answer, 0);
  EXPECT_EQ(a.ucan.UCAN_Status(0), 0);
  int baud = 0, fd = 0;
  // The virtual bus has no bit timing: it runs at the configured rate.
  ASSERT_EQ(b.ucan.UCAN_GetBaudrate(0, &baud, &fd), 1);
  EXPECT_EQ(baud, 500);
  EXPECT_EQ(fd, 2000);
}

TEST(QtCanBusDevices, SecondBusAndFilterAndReopening) {
  QtUcan a(VirtualCanName(1)), b(VirtualCanName(0));
  // b listens on can1 with its second bus, can0 with its first.
  b.params.qtCanBusPlugin2 = "virtualcan";
  b.params.qtCanBusInterface2 = VirtualCanName(1);
  ASSERT_TRUE(a.open());
  ASSERT_TRUE(b.open(0));
  ASSERT_EQ(b.ucan.UCAN_InitCtrl(1, 250, 0), 1) << b.ucan.lastError();
  ASSERT_EQ(b.ucan.UCAN_SetRcvID(1, 0x100, 0x700), 1);

  for (uint32_t id : {0x080u, 0x200u, 0x1FFu}) {
    CanFrame f = Frame(id, 1);
    ASSERT_EQ(a.ucan.UCAN_Transmit(0, f), 1);
  }
  // Frames keep their order on the connection, so the last one arriving alone means the filter
  // dropped the others.
  CanFrame got;
  ASSERT_TRUE(b.receive(got));
  EXPECT_EQ(got.identifier(), 0x1FFu);
  EXPECT_EQ(got.bus(), 1);
  EXPECT_EQ(b.ucan.UCAN_Receive(255, got), 0);

  // Closed and opened again, the bus works as before.
  ASSERT_EQ(a.ucan.UCAN_Exit(), 1);
  EXPECT_EQ(a.ucan.UCAN_IsChannelOpen(0), 0);
  ASSERT_TRUE(a.open());
  CanFrame again = Frame(0x101, 2);
  ASSERT_EQ(a.ucan.UCAN_Transmit(0, again), 1);
  ASSERT_TRUE(b.receive(got));
  EXPECT_EQ(got.identifier(), 0x101u);
}

TEST(QtCanBusDevices, TransmissionsFromAnotherThreadArrive) {
  QtUcan a(VirtualCanName()), b(VirtualCanName());
  ASSERT_TRUE(a.open());
  ASSERT_TRUE(b.open());
  // As a CAN-via-UDP server's relay sends: on its own thread, under the UCAN lock.
  std::thread relay([&a] {
    for (uint32_t id = 0x200; id < 0x210; ++id) {
      std::lock_guard<UcanLock> lock(a.ucan.lock());
      CanFrame f = Frame(id, 2);
      a.ucan.UCAN_Transmit(0, f);
    }
  });
  relay.join();
  for (uint32_t id = 0x200; id < 0x210; ++id) {
    CanFrame got;
    ASSERT_TRUE(b.receive(got));
    EXPECT_EQ(got.identifier(), id);
  }
}

TEST(QtCanBusDevices, DevicesThatCannotBeMadeAreCleanFailures) {
  QtUcan unknownPlugin("can0", "nosuchplugin");
  ASSERT_EQ(unknownPlugin.ucan.UCAN_Init(unknownPlugin.params), 1);
  EXPECT_EQ(unknownPlugin.ucan.takeLastError(), "UCAN_Init successful.");
  EXPECT_EQ(unknownPlugin.ucan.UCAN_InitCtrl(0, 500, 0), 0);
  EXPECT_EQ(unknownPlugin.ucan.takeLastError(),
            "UCAN_InitCtrl: Qt CAN bus device \"nosuchplugin:can0\" cannot be made (No such plugin: "
            "'nosuchplugin') !");
  EXPECT_FALSE(unknownPlugin.ucan.controllerInitialised());

  QtUcan badName("bogus");
  ASSERT_EQ(badName.ucan.UCAN_Init(badName.params), 1);
  badName.ucan.clearLastError();
  EXPECT_EQ(badName.ucan.UCAN_InitCtrl(0, 500, 0), 0);
  EXPECT_NE(badName.ucan.lastError().find("\"virtualcan:bogus\""), std::string::npos)
      << badName.ucan.lastError();
  EXPECT_NE(badName.ucan.lastError().find("Invalid interface"), std::string::npos)
      << badName.ucan.lastError();
  badName.ucan.clearLastError();

  // The second bus has no plugin configured: it stays closed without a complaint at start-up, and
  // says why when something is sent on it.
  EXPECT_EQ(badName.ucan.UCAN_InitCtrl(1, 500, 0), 1);
  EXPECT_EQ(badName.ucan.lastError(), "");
  EXPECT_EQ(badName.ucan.UCAN_IsChannelOpen(1), 0);
  CanFrame onSecond = Frame(0x100, 1);
  EXPECT_EQ(badName.ucan.tryTransmit(1, onSecond), UcanTxResult::kRefused);
  EXPECT_EQ(badName.ucan.takeLastError(), "UCAN_Transmit: No Qt CAN bus plugin configured for CAN2 !");

  // Nothing open: every call answers without a device.
  CanFrame f = Frame(0x100, 1);
  EXPECT_EQ(badName.ucan.tryTransmit(0, f), UcanTxResult::kRefused);
  EXPECT_EQ(badName.ucan.takeLastError(), "UCAN_Transmit: Qt CAN bus device of CAN1 not open !");
  EXPECT_EQ(badName.ucan.UCAN_Receive(255, f), 0);
  EXPECT_EQ(badName.ucan.UCAN_Status(0), 0);
  EXPECT_EQ(badName.ucan.UCAN_IsChannelOpen(0), 0);
  EXPECT_EQ(badName.ucan.UCAN_SetRcvID(0, 0, 0), 0);
}

TEST(QtCanBusDevices, FramesTheBusCannotCarryAreRefusedWithoutSending) {
  QtUcan a(VirtualCanName());
  ASSERT_TRUE(a.open());
  CanFrame fdRemote = Frame(0x100, 8, CanFrame::kFdf);
  fdRemote.rtr = 1;
  EXPECT_EQ(a.ucan.tryTransmit(0, fdRemote), UcanTxResult::kRefused);
  EXPECT_EQ(a.ucan.takeLastError(),
            "UCAN_Transmit: Frame cannot be sent (remote frame with CAN FD or more than 8 bytes) !");
  EXPECT_EQ(a.ucan.transmitCounter(), 0);
}

TEST(QtCanBusDevices, ALostConnectionClosesTheBusAndSaysWhy) {
  // The process's virtualcan server runs on its own port; a device asking for another port only
  // connects there, here to a listener that then hangs up, as a server that goes away would.
  QtUcan served(VirtualCanName());
  ASSERT_TRUE(served.open());
  const int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(listen(listener, 4), 0);
  ASSERT_EQ(getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length), 0);
  const std::string name = "tcp://127.0.0.1:" + std::to_string(ntohs(address.sin_port)) + "/can0";

  QtUcan a(name);
  ASSERT_TRUE(a.open()) << a.ucan.lastError();
  const int connection = accept(listener, nullptr, nullptr);
  ASSERT_GE(connection, 0);
  close(connection);
  close(listener);

  ASSERT_TRUE(WaitFor([&] { return a.ucan.UCAN_IsChannelOpen(0) == 0; }));
  EXPECT_EQ(a.ucan.UCAN_Status(0) & kUcanOther, kUcanOther);
  CanFrame f;
  EXPECT_EQ(a.ucan.UCAN_Receive(255, f), 0);
  EXPECT_EQ(a.ucan.takeLastError().rfind(
                "UCAN_Receive: Qt CAN bus device \"virtualcan:" + name + "\" of CAN1: ", 0),
            0u);
  // Said once; the bus stays closed and refuses frames until it is opened again.
  EXPECT_EQ(a.ucan.UCAN_Receive(255, f), 0);
  EXPECT_EQ(a.ucan.lastError(), "");
  f = Frame(0x100, 1);
  EXPECT_EQ(a.ucan.tryTransmit(0, f), UcanTxResult::kRefused);
  EXPECT_EQ(a.ucan.takeLastError(), "UCAN_Transmit: Qt CAN bus device \"" + name + "\" is not connected !");
}

// The row registered through the application's options: two applications meet on the bus, and a
// frame one sends reaches the other's receive history.
struct QtApp {
  QtApp() {
    AppOptions options;
    options.configDir = dir.path();
    options.lockDir = dir.path();
    options.interfaceTypes.push_back(QtCanBusInterfaceRow(Runtime()));
    app = std::make_unique<Application>(ui, clock, options);
    app->startUp();
    CanInterfaceSettings& s = app->interfaceSettings();
    s.interfaceType = kIntfQtCanBus;
    s.qtCanBusPlugin1 = "virtualcan";
    s.qtCanBusInterface1 = VirtualCanName();
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

TEST(QtCanBusDevices, ApplicationsTalkOverTheRegisteredType) {
  QtApp a, b;
  while (!a.app->running() || !b.app->running()) {
    a.tick();
    b.tick();
  }
  ASSERT_TRUE(a.app->ucan().controllerInitialised()) << testing::PrintToString(a.ui.lines);
  ASSERT_TRUE(b.app->ucan().controllerInitialised()) << testing::PrintToString(b.ui.lines);

  CanFrame f = Frame(0x701, 1);
  ASSERT_TRUE(a.app->TransmitFrame(f));
  ASSERT_TRUE(WaitFor([&] {
    b.tick();
    return b.app->framesPumped() > 0;
  }));
  EXPECT_EQ(b.app->framesPumped(), 1u);
  ASSERT_EQ(b.app->history().count(), 1u);
  EXPECT_EQ(b.app->history().frame(0).identifier(), 0x701u);
  a.app->shutDown(false);
  b.app->shutDown(false);
}

}  // namespace
}  // namespace busprobe
