// --interface and --list-interfaces: the forms taken and refused, what a form changes in the
// settings handed to UCAN_Init, that the configuration never keeps it, and the listing's parts.
#include "app/interface_option.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "app/command_line.h"
#include "base/ini_file.h"
#include "test_support.h"

namespace busprobe {
namespace {

InterfaceOption Parsed(const std::string& text) {
  InterfaceOption option;
  std::string error;
  EXPECT_TRUE(ParseInterfaceOption(text, option, error)) << text << ": " << error;
  return option;
}

std::string Refusal(const std::string& text) {
  InterfaceOption option;
  std::string error;
  EXPECT_FALSE(ParseInterfaceOption(text, option, error)) << text;
  EXPECT_FALSE(option.given()) << text;
  return error;
}

TEST(InterfaceOption, EveryFormNamesItsInterface) {
  EXPECT_EQ(Parsed("virtual").kind, InterfaceOption::Kind::kVirtual);
  EXPECT_EQ(Parsed("socketcan:vcan0").socketCanName, "vcan0");

  const InterfaceOption cvudp = Parsed("cvudp:127.0.0.1:55556");
  EXPECT_EQ(cvudp.kind, InterfaceOption::Kind::kCvUdp);
  EXPECT_EQ(cvudp.cvudpIp, "127.0.0.1");
  EXPECT_EQ(cvudp.cvudpPort, 55556);
  EXPECT_EQ(Parsed("cvudp:localhost:1").cvudpIp, "127.0.0.1");

  // The interface name is the rest after the plugin, colons and all.
  const InterfaceOption qt = Parsed("qtcan:virtualcan:tcp://127.0.0.1:35468/can1");
  EXPECT_EQ(qt.kind, InterfaceOption::Kind::kQtCanBus);
  EXPECT_EQ(qt.qtPlugin, "virtualcan");
  EXPECT_EQ(qt.qtInterface, "tcp://127.0.0.1:35468/can1");
}

TEST(InterfaceOption, FormsThatCannotBeUsedAreRefusedWithTheReason) {
  EXPECT_EQ(
      Refusal("pcan"),
      "--interface pcan: unknown form (use virtual, socketcan:IF, cvudp:HOST:PORT or qtcan:PLUGIN:NAME)");
  EXPECT_EQ(Refusal(""),
            "--interface : unknown form (use virtual, socketcan:IF, cvudp:HOST:PORT or "
            "qtcan:PLUGIN:NAME)");
  EXPECT_NE(Refusal("virtual:x").find("takes no parameters"), std::string::npos);
  EXPECT_NE(Refusal("socketcan").find("needs the SocketCAN interface name"), std::string::npos);
  EXPECT_NE(Refusal("socketcan:").find("needs the SocketCAN interface name"), std::string::npos);
  EXPECT_NE(Refusal("socketcan:averyverylongname").find("too long"), std::string::npos);
  EXPECT_NE(Refusal("socketcan:../x").find("'/'"), std::string::npos);
  EXPECT_NE(Refusal("cvudp:127.0.0.1").find("needs the server's address and port"), std::string::npos);
  // A resolver's short form would reach another machine than the one meant.
  EXPECT_EQ(Refusal("cvudp:1.2.3:5"), "--interface cvudp:1.2.3:5: \"1.2.3\" is no IPv4 address");
  EXPECT_NE(Refusal("cvudp:example.org:5").find("no IPv4 address"), std::string::npos);
  for (const char* port : {"0", "65536", "x", "", "12a"})
    EXPECT_NE(Refusal(std::string("cvudp:127.0.0.1:") + port).find("1 to 65535"), std::string::npos) << port;
  for (const char* form : {"qtcan", "qtcan:virtualcan", "qtcan:virtualcan:", "qtcan::can0"})
    EXPECT_NE(Refusal(form).find("needs a plugin and an interface name"), std::string::npos) << form;
}

TEST(InterfaceOption, CommandLineTakesTheOptionsAndRefusesBadOnes) {
  CommandLine line;
  std::string error;
  const char* good[] = {"busprobe", "--interface", "socketcan:can1", "--list-interfaces"};
  ASSERT_TRUE(ParseCommandLine(4, good, line, error)) << error;
  EXPECT_EQ(line.interfaceOption.socketCanName, "can1");
  EXPECT_TRUE(line.listInterfaces);

  CommandLine refused;
  const char* bad[] = {"busprobe", "--interface", "cvudp:127.0.0.1:0"};
  EXPECT_FALSE(ParseCommandLine(3, bad, refused, error));
  EXPECT_EQ(error, "--interface cvudp:127.0.0.1:0: the port must be a number from 1 to 65535");
  const char* missing[] = {"busprobe", "--interface"};
  EXPECT_FALSE(ParseCommandLine(2, missing, refused, error));
  EXPECT_EQ(error, "option --interface needs a value");
  EXPECT_NE(CommandLineUsage().find("--interface FORM"), std::string::npos);
  EXPECT_NE(CommandLineUsage().find("--list-interfaces"), std::string::npos);
}

TEST(InterfaceOption, OnlyBusOnesInterfaceChanges) {
  CanInterfaceSettings configured;
  configured.interfaceType = kIntfNtcan;
  configured.cvudpFlags = kCvUdpServer;
  configured.cvudpLocalPort = 55556;
  configured.qtCanBusPlugin2 = "socketcan";
  configured.qtCanBusInterface2 = "can1";

  CanInterfaceSettings s = configured;
  ApplyInterfaceOption(Parsed("qtcan:virtualcan:can0"), s);
  EXPECT_EQ(s.interfaceType, kIntfQtCanBus);
  EXPECT_EQ(s.qtCanBusPlugin1, "virtualcan");
  EXPECT_EQ(s.qtCanBusPlugin2, "socketcan");
  EXPECT_EQ(s.qtCanBusInterface2, "can1");

  // A client on this machine must not take the port a local server may listen on, nor sit on
  // other interfaces than the loopback one.
  s = configured;
  ApplyInterfaceOption(Parsed("cvudp:127.0.0.1:6000"), s);
  EXPECT_EQ(s.interfaceType, kIntfCvUdp);
  EXPECT_EQ(s.cvudpFlags, kCvUdpClient);
  EXPECT_EQ(s.cvudpRemoteIp, "127.0.0.1");
  EXPECT_EQ(s.cvudpRemotePort, 6000);
  EXPECT_EQ(s.cvudpLocalIp, "127.0.0.1");
  EXPECT_EQ(s.cvudpLocalPort, 0);

  s = configured;
  ApplyInterfaceOption(InterfaceOption{}, s);
  EXPECT_EQ(s, configured);
}

struct OverrideApp {
  explicit OverrideApp(const std::string& form) {
    std::ofstream(dir.path() + "/NVK_Busprobe.ini") << "[CanInterface]\nCanInterfaceType=0\n";
    AppOptions options;
    options.configDir = dir.path();
    options.lockDir = dir.path();
    options.interfaceOverride = Parsed(form);
    app = std::make_unique<Application>(ui, clock, options);
    app->startUp();
  }
  void runToRunning() {
    for (int i = 0; i < 10 && !app->running(); ++i) {
      app->tick();
      clock.advance(50);
    }
  }
  ManualClock clock{1000};
  test::ScratchDir dir;
  test::RecordingUi ui;
  std::unique_ptr<Application> app;
};

TEST(InterfaceOption, TheRunUsesItAndTheConfigurationNeverKeepsIt) {
  OverrideApp o("virtual");
  o.runToRunning();
  EXPECT_EQ(o.app->ucan().interfaceType(), kIntfVirtual);
  EXPECT_TRUE(o.app->ucan().ready()) << testing::PrintToString(o.ui.lines);
  EXPECT_EQ(o.app->interfaceSettings().interfaceType, kIntfNone);
  o.app->shutDown(true);

  IniFile ini;
  ASSERT_EQ(ini.load(o.dir.path() + "/NVK_Busprobe.ini", nullptr), IniFile::LoadResult::kOk);
  CanInterfaceSettings saved;
  ReadInterfaceSettings(ini, saved);
  EXPECT_EQ(saved.interfaceType, kIntfNone);
}

TEST(InterfaceOption, AnInterfaceTheUserChoosesReplacesIt) {
  OverrideApp o("virtual");
  o.runToRunning();
  ASSERT_EQ(o.app->ucan().interfaceType(), kIntfVirtual);
  // As the interface window does on OK: new settings, then "Init2" once more.
  o.app->interfaceSettings().interfaceType = kIntfNone;
  o.app->interfaceSettings().qtCanBusInterface1 = "can7";
  o.app->restartInterface();
  o.runToRunning();
  EXPECT_EQ(o.app->ucan().interfaceType(), kIntfNone);
  // Set back to what was configured, the user's choice still stands.
  o.app->interfaceSettings().qtCanBusInterface1 = "can0";
  EXPECT_EQ(o.app->interfaceSettingsInUse().interfaceType, kIntfNone);
  o.app->shutDown(false);
}

TEST(InterfaceOption, SocketCanInterfacesAreTheCanLinks) {
  test::ScratchDir sys;
  auto link = [&sys](const std::string& name, const char* type, const char* flags) {
    std::filesystem::create_directories(sys.path() + "/" + name);
    std::ofstream(sys.path() + "/" + name + "/type") << type << "\n";
    std::ofstream(sys.path() + "/" + name + "/flags") << flags << "\n";
  };
  link("vcan1", "280", "0x80");
  link("can0", "280", "0x40c1");
  link("lo", "772", "0x9");
  link("eth0", "1", "0x1003");
  EXPECT_EQ(ListSocketCanInterfaces(sys.path()), (std::vector<std::string>{"can0 (up)", "vcan1 (down)"}));
  EXPECT_TRUE(ListSocketCanInterfaces(sys.path() + "/missing").empty());

  const std::string listing = InterfaceListing(CanInterfaceTable(), false, {}, sys.path());
  EXPECT_NE(listing.find("SocketCAN interfaces (--interface socketcan:IF):\n  can0 (up)\n  vcan1 (down)\n"),
            std::string::npos)
      << listing;
  EXPECT_NE(listing.find("  not part of this program\n"), std::string::npos) << listing;
}

TEST(InterfaceOption, VendorLibrariesAreFoundOrNotLoaded) {
  CanInterfaceTable table;
  CanInterfaceTypeRow kvaser = *table.find(kIntfKvaser);
  // libm is on every machine: a row naming it counts as found, with the file that loaded.
  kvaser.libraryNames = {"libbusprobe-no-such-driver.so", "libm.so.6"};
  table.registerType(kvaser);
  const std::string listing = InterfaceListing(table, true, {"virtualcan: can0, can1"}, "/nonexistent");
  EXPECT_NE(listing.find("  none found\n"), std::string::npos);
  EXPECT_NE(listing.find("  virtualcan: can0, can1\n"), std::string::npos);
  EXPECT_NE(listing.find("  KVASER CANLIB: found (libm.so.6)\n"), std::string::npos) << listing;
  EXPECT_NE(listing.find("  ESD NTCAN-driver: not loaded (libntcan.so, libntcan.so.4)\n"), std::string::npos);
  EXPECT_NE(listing.find("  VECTOR XL Driver: not loaded (no Linux library)\n"), std::string::npos);
  // Only vendor rows: the built-in buses have no library to look for.
  EXPECT_EQ(listing.find("Virtual bus"), std::string::npos);
}

}  // namespace
}  // namespace busprobe
