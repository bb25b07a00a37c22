// The sdo. and obj. script words in the running application: a client application reads and
// writes the dictionary another application serves on the same virtual bus, large uploads land in
// readout files, and every refusal of the two words has its code and text.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "app/application.h"
#include "test_support.h"

namespace busprobe {
namespace {

constexpr const char* kServerEds = R"([FileInfo]
FileName=server.eds
EDSVersion=4.0

[DeviceInfo]
VendorName=Test

[MandatoryObjects]
SupportedObjects=1
1=0x1000

[1000]
ParameterName=Device type
ObjectType=0x7
DataType=0x0007
AccessType=ro
DefaultValue=0x00020192

[OptionalObjects]
SupportedObjects=1
1=0x1008

[1008]
ParameterName=Manufacturer device name
ObjectType=0x7
DataType=0x0009
AccessType=const
DefaultValue=TEST DEVICE NAME

[ManufacturerObjects]
SupportedObjects=12
1=0x2000
2=0x2001
3=0x2002
4=0x2003
5=0x2004
6=0x2005
7=0x2006
8=0x2007
9=0x2008
10=0x2009
11=0x200A
12=0x200B

[2000]
ParameterName=Flag
ObjectType=0x7
DataType=0x0001
AccessType=rw
DefaultValue=1

[2001]
ParameterName=Signed byte
ObjectType=0x7
DataType=0x0002
AccessType=rw
DefaultValue=-5

[2002]
ParameterName=Signed word
ObjectType=0x7
DataType=0x0003
AccessType=rw
DefaultValue=-1000

[2003]
ParameterName=Signed long
ObjectType=0x7
DataType=0x0004
AccessType=rw
DefaultValue=-100000

[2004]
ParameterName=Byte
ObjectType=0x7
DataType=0x0005
AccessType=rw
DefaultValue=200

[2005]
ParameterName=Word
ObjectType=0x7
DataType=0x0006
AccessType=rw
DefaultValue=60000

[2006]
ParameterName=Long
ObjectType=0x7
DataType=0x0007
AccessType=rw
DefaultValue=0x12345678

[2007]
ParameterName=Real
ObjectType=0x7
DataType=0x0008
AccessType=rw
DefaultValue=1.5

[2008]
ParameterName=Text
ObjectType=0x7
DataType=0x0009
AccessType=rw
DefaultValue=abc

[2009]
ParameterName=Bytes
ObjectType=0x7
DataType=0x000A
AccessType=rw

[200A]
ParameterName=Command
ObjectType=0x7
DataType=0x0007
AccessType=wo

[200B]
ParameterName=Status
ObjectType=0x7
DataType=0x0006
AccessType=ro
DefaultValue=7
)";

// Each with its own lock folder, so that each is a first instance reading NVK_Busprobe.ini.
// Event processing that runs the other applications: they answer while one waits.
class PumpingUi : public test::RecordingUi {
 public:
  void processEvents() override {
    for (Application* app : others) app->ProcessReceivedFrames();
    if (extra) extra();
  }
  std::vector<Application*> others;
  std::function<void()> extra;
};

struct Node {
  Node(std::shared_ptr<VirtualBus> bus, ManualClock& clock, const std::string& ini) {
    std::ofstream(config.file("NVK_Busprobe.ini")) << ini;
    std::filesystem::create_directories(config.file("Objects"));
    AppOptions o;
    o.configDir = config.path();
    o.lockDir = locks.path();
    o.virtualBus = std::move(bus);
    app = std::make_unique<Application>(ui, clock, o);
  }
  test::ScratchDir config, locks;
  PumpingUi ui;
  std::unique_ptr<Application> app;
};

class SdoScriptTest : public ::testing::Test {
 public:
  SdoScriptTest() {
    clock.setAutoAdvance(0.001);
    server = std::make_unique<Node>(bus, clock,
                                    "[Directories]\nMyObjectDictionary=server.eds\n[SdoSettings]\nServerNodeID=2\n");
    std::ofstream(server->config.file("Objects/server.eds")) << kServerEds;
    client = std::make_unique<Node>(bus, clock, "[SdoSettings]\nClientNodeID=2\nServerNodeID=9\n");
    client->ui.others.push_back(server->app.get());
    server->app->startUp();
    client->app->startUp();
    ticks(6);
  }
  // Ticks every 50 ms of clock time, as the main window's timer would.
  void ticks(int n) {
    for (int i = 0; i < n; ++i) {
      const double next = clock.nowMs() + 50.0;
      server->app->tick();
      client->app->tick();
      if (clock.nowMs() < next) clock.set(next);
    }
  }
  // Runs a script on the client until it ends; the lines it added to the messages window.
  std::vector<std::string> run(const std::string& script) {
    const size_t before = client->ui.lines.size();
    client->app->settings().interp.txDelay = 0;
    client->app->commandFile().setText(script);
    client->app->scripts().run();
    for (int i = 0; i < 200 && client->app->program().running(); ++i) ticks(1);
    EXPECT_FALSE(client->app->program().running());
    std::vector<std::string> lines(client->ui.lines.begin() + static_cast<long>(before), client->ui.lines.end());
    // Tests compare the last line: a run that wrote none compares as an empty one.
    if (lines.empty()) lines.emplace_back();
    return lines;
  }
  static std::string joined(const std::vector<std::string>& lines) {
    std::ostringstream out;
    for (const auto& l : lines) out << l << "\n";
    return out.str();
  }
  const OdEntry* serverEntry(uint16_t index, uint8_t sub) {
    return server->app->canopen().local().entries.find(index, sub);
  }

  ManualClock clock{1000};
  std::shared_ptr<VirtualBus> bus = VirtualBus::create();
  std::unique_ptr<Node> server, client;
};

// A node of its own on the bus that serves one object of any size by segmented upload, as a
// device description or a firmware dump would come.
class LargeObjectPeer {
 public:
  LargeObjectPeer(VirtualBus& bus, int node, uint16_t index, std::string data)
      : port_(bus.join()), node_(node), index_(index), data_(std::move(data)) {}
  void answer() {
    CanFrame f;
    while (port_->receive(f)) {
      if (f.id != static_cast<uint32_t>(0x600 + node_)) continue;
      CanFrame r = f;
      r.id = static_cast<uint32_t>(0x580 + node_);
      std::memset(r.data, 0, 8);
      const uint8_t c = f.data[0];
      if ((c & 0xE0) == 0x40 && (f.data[1] | f.data[2] << 8) == index_) {
        r.data[0] = 0x41;
        std::memcpy(r.data + 1, f.data + 1, 3);
        const uint32_t size = static_cast<uint32_t>(data_.size());
        for (int k = 0; k < 4; ++k) r.data[4 + k] = static_cast<uint8_t>(size >> (8 * k));
        position_ = 0;
      } else if ((c & 0xE0) == 0x60) {
        const size_t n = std::min<size_t>(7, data_.size() - position_);
        std::memcpy(r.data + 1, data_.data() + position_, n);
        position_ += n;
        r.data[0] = static_cast<uint8_t>((c & 0x10) | ((7 - n) << 1) | (position_ >= data_.size() ? 1 : 0));
      } else if ((c & 0xE0) != 0x80) {
        r.data[0] = 0x80;
        std::memcpy(r.data + 1, f.data + 1, 3);
        r.data[4] = 0x00, r.data[5] = 0x00, r.data[6] = 0x02, r.data[7] = 0x06;  // no such object
      } else {
        continue;
      }
      port_->send(r);
    }
  }

 private:
  std::shared_ptr<VirtualBus::Port> port_;
  int node_;
  uint16_t index_;
  std::string data_;
  size_t position_ = 0;
};

std::string slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TEST_F(SdoScriptTest, ReadsEveryTypeExpeditedAndSegmented) {
  const auto lines = run(
      "print \"s\", sdo.read(0x2000, 1), sdo.read(0x2001, 2), sdo.read(0x2002, 3), sdo.read(0x2003, 4)\n"
      "print \"u\", sdo.r(0x2004, U8), sdo.read(0x2005, U16), sdo.read(0x2006), sdo.read(0x2007, FLOAT32)\n"
      "print \"t\", sdo.read(0x2008, 9), sdo.read(0x1008, VIS_STRING), sdo.read(0x1000.0), sdo.val\n"
      "sdo.read(0x1008, 9, name)\n"
      "print \"v\", name, sdo.v\n");
  EXPECT_EQ(joined(lines),
            "s 1 -5 -1000 -100000\n"
            "u 200 60000 305419896 1.500000\n"
            // A short string comes expedited: its four value bytes, the NUL shown in hex.
            "t \"abc\" 00 \"TEST DEVICE NAME\" 131474 131474\n"
            "v \"TEST DEVICE NAME\" \"TEST DEVICE NAME\"\n");
  EXPECT_EQ(serverEntry(0x1008, 0)->readCount, 2);
}

TEST_F(SdoScriptTest, WritesReachTheServerAndReadBack) {
  const auto lines = run(
      "sdo.write(0x2001, 2, -7)\n"
      "sdo.w(0x2002, INTEGER16, -2000)\n"
      "sdo.write(0x2006, 7, 0x0BADCAFE)\n"
      "sdo.write(0x2007, 8, 2.25)\n"
      "sdo.write(0x2008, 9, \"a text of more than one segment\")\n"
      "sdo.write(0x2009, 10, \"xyz\")\n"
      "print sdo.read(0x2001, 2), sdo.read(0x2002, 3), sdo.read(0x2006, 7), sdo.read(0x2007, 8)\n"
      "print sdo.read(0x2008, 9)\n"
      "print sdo.read(0x2009, 10)\n");
  EXPECT_EQ(joined(lines),
            "-7 -2000 195939070 2.250000\n"
            "\"a text of more than one segment\"\n"
            " 78 79 7A 00\n");
  EXPECT_EQ(serverEntry(0x2008, 0)->writeCount, 1);
  EXPECT_EQ(serverEntry(0x2008, 0)->currentValue.blockLength, 31);
}

TEST_F(SdoScriptTest, TheServersAbortsEndTheScriptWithTheirText) {
  // Write-only, read-only and missing objects, and a one-segment text into a read-only one: the server
  // refuses that only when the segment arrives, and the write must not count as done.
  EXPECT_EQ(run("sdo.read(0x200A)\n").back(), "read error, abort code = 0x06010001 = \"object is WRITE-ONLY\" . in line 1");
  EXPECT_EQ(client->app->interpState().lastErrorCode, kErrSdoFailed);
  EXPECT_EQ(run("sdo.write(0x200B, 6, 1)\n").back(),
            "write error, abort code = 0x06010002 = \"object is READ-ONLY\" . in line 1");
  EXPECT_EQ(run("x := sdo.read(0x3000.1)\n").back(),
            "read error, abort code = 0x06020000 = \"object doesn't exist\" . in line 1");
  EXPECT_EQ(run("sdo.write(0x200B, 9, \"sixsix\")\n").back(),
            "write error, abort code = 0x06010002 = \"object is READ-ONLY\" . in line 1");
  EXPECT_EQ(serverEntry(0x200B, 0)->currentValid, 0);
}

TEST_F(SdoScriptTest, AFailedReadIntoAVariableKeepsItAndGoesOn) {
  const auto lines = run(
      "v := 42\n"
      "r := sdo.read(0x200A, 7, v)\n"
      "print \"went on\", v, r, ErrorInfo.code\n"
      "sdo.read(0x2004, 5, v)\n"
      "print v\n");
  EXPECT_EQ(joined(lines),
            "read error, abort code = 0x06010001 = \"object is WRITE-ONLY\" .\n"
            "went on 42 42 -19\n"
            "200\n");
}

TEST_F(SdoScriptTest, ANodeNobodyServesTimesOutAndNothingCountsAsWritten) {
  client->app->settings().sdo.clientTimeoutMs = 200;
  const double before = clock.nowMs();
  EXPECT_EQ(run("sdo.node(77)\nsdo.write(0x2004, 5, 1)\n").back(), "Timeout while accessing 0x2004.00. in line 2");
  EXPECT_LT(clock.nowMs() - before, 1000.0);
  EXPECT_EQ(client->app->canopen().sdo().client().state, kSdoFailed);
  EXPECT_EQ(client->app->settings().sdo.clientNodeId, 77);
  EXPECT_EQ(run("sdo.node(2)\nsdo.enable(0)\nsdo.read(0x2004, 5)\n").back(),
            "Timeout while accessing 0x2004.00. in line 3");
  EXPECT_EQ(joined(run("print sdo.e 1, sdo.read(0x2004, 5)\n")), "1 200\n");
}

TEST_F(SdoScriptTest, NodeComponentSetsTheClientsIdentifiers) {
  EXPECT_EQ(joined(run("print sdo.node, sdo.node(5), sdo.n(0), sdo.n\n")), "2 5 1 1\n");
  const SdoChannel& ch = client->app->canopen().sdo().client();
  EXPECT_EQ(ch.txCobId, 0x601u);
  EXPECT_EQ(ch.rxCobId, 0x581u);
  EXPECT_EQ(client->app->settings().sdo.clientNodeId, 1);
  EXPECT_EQ(run("x := sdo.node(3\n").back().find("in line 1") != std::string::npos, true);
  EXPECT_EQ(client->app->interpState().lastErrorCode, kErrSyntax);
}

TEST_F(SdoScriptTest, EveryRefusalHasItsCodeAndText) {
  struct Case {
    const char* script;
    int code;
    const char* text;  // the stop message without " in line 1"; empty: the code's text
  };
  const Case cases[] = {
      {"sdo.foo", kErrUnknownComponent, "Rechenfehler: Unbekannte SDO-Komponente."},
      {"obj.foo(1)", kErrUnknownComponent, "Rechenfehler: Unbekannte OBJ-Komponente."},
      {"obd.bar", kErrUnknownComponent, "Rechenfehler: Unbekannte OBJ-Komponente."},
      {"sdo.write(0x2004 5, 1)", kErrIllegalArgument, "Error in SDO parameter field"},
      {"sdo.write(0x2004, 5 1)", kErrIllegalArgument, "Error in SDO parameter field"},
      {"sdo.write(0x2008, 9, 5)", kErrIllegalArgument, "Error in SDO data field"},
      {"sdo.write(0x2004, 5, )", kErrIllegalArgument, "Error in SDO data field"},
      {"sdo.write(0x2004, 5, 1", kErrSyntax, "Missing right parenthesis after 'sdo'-cmd"},
      {"sdo.read(0x2004, 300)", kErrTypeNotSupported, ""},
      {"obj.write(0x2004)", kErrIllegalArgument, "Error in OBJ parameter field"},
      {"obj.write(0x2008, 9, 7)", kErrIllegalArgument, "Error in OBJ data field"},
      {"obj.read(0x2004)", kErrFunctionFailed, ""},
      {"obj.load(\"missing.eds\")", kErrFunctionFailed, ""},
  };
  for (const Case& k : cases) {
    const auto lines = run(std::string(k.script) + "\n");
    char buffer[48];
    const std::string text = *k.text != '\0' ? k.text : std::string(scriptErrorText(k.code, buffer));
    ASSERT_FALSE(lines.empty()) << k.script;
    EXPECT_EQ(lines.back(), text + " in line 1") << k.script;
    EXPECT_EQ(client->app->interpState().lastErrorCode, k.code) << k.script;
  }

  client->app->settings().sdo.clientEnable = 0;
  EXPECT_EQ(run("sdo.read(0x2004)\n").back(), "Client not enabled. Cannot read via SDO. in line 1");
  EXPECT_EQ(client->app->interpState().lastErrorCode, kErrFunctionFailed);
  EXPECT_EQ(run("sdo.write(0x2004, 5, 1)\n").back(), "Client not enabled. Cannot write via SDO. in line 1");
  client->app->settings().sdo.clientEnable = 1;

  // While a window waits for its own transfer, every sdo component is refused.
  client->app->sdoPort().sdoAccessBusy() = true;
  EXPECT_EQ(run("x := sdo.val\n").back().find("in line 1") != std::string::npos, true);
  EXPECT_EQ(client->app->interpState().lastErrorCode, kErrApplication);
  client->app->sdoPort().sdoAccessBusy() = false;
}

TEST_F(SdoScriptTest, ObjWorksOnTheLocalDictionaryWithoutCounting) {
  std::string eds = kServerEds;
  eds.replace(eds.find("DefaultValue=0x00020192"), 23, "DefaultValue=$NODEID+0x180");
  std::ofstream(client->config.file("Objects/mine.eds")) << eds;
  const auto lines = run(
      "obj.load(\"mine.eds\")\n"
      "print obj.read(0x1000), obj.read(0x2002, 3)\n"
      "obj.write(0x2002, 3, 1234)\n"
      "obj.write(0x2004, 17)\n"
      "obj.write(0x2008, 9, \"longer than four\")\n"
      "print obj.read(0x2002), obj.read(0x2004), obj.read(0x2008)\n"
      "obd.write(0x200B, 6, 1)\n");
  ASSERT_GE(lines.size(), 4u);
  EXPECT_EQ(lines[0], "Loaded CANopen OD for SDO server from \"" + client->config.file("Objects/mine.eds") + "\" .");
  // "$NODEID" stands for the node of the client's own server 0.
  EXPECT_EQ(lines[1], std::to_string(0x180 + 9) + " -1000");
  EXPECT_EQ(lines[2], "1234 17 \"longer than four\"");
  // The dictionary's read-only entry refuses the script as it refuses the bus.
  char buffer[48];
  EXPECT_EQ(lines[3], std::string(scriptErrorText(kErrFunctionFailed, buffer)) + " in line 7");
  const OdEntry* entry = client->app->canopen().local().entries.find(0x2002, 0);
  ASSERT_NE(entry, nullptr);
  EXPECT_EQ(entry->readCount, 0);
  EXPECT_EQ(entry->writeCount, 0);
}

TEST_F(SdoScriptTest, LargeUploadsGoIntoReadoutFiles) {
  std::string big(3000, '\0');
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 7 + 3);
  LargeObjectPeer peer(*bus, 3, 0x2100, big);
  LargeObjectPeer description(*bus, 4, 0x1021, "[FileInfo]\nFileName=x.eds\n");
  client->ui.extra = [&] {
    peer.answer();
    description.answer();
  };
  const uint64_t bytesBefore = client->app->canopen().readoutBytes();
  const auto lines = run(
      "sdo.node(3)\n"
      "print sdo.read(0x2100, 10)\n"
      "print sdo.val\n"
      "sdo.node(4)\n"
      "sdo.read(0x1021, 10, f)\n"
      "print f\n");
  const std::string objects = client->config.file("Objects");
  ASSERT_EQ(lines.size(), 3u) << joined(lines);
  EXPECT_EQ(lines[0], (objects + "/Readout_Obj2100_00.dat").substr(0, kMaxStringLength));
  EXPECT_EQ(lines[1], lines[0]);
  EXPECT_EQ(lines[2], (objects + "/Readout_Obj1021_00.eds").substr(0, kMaxStringLength));
  EXPECT_EQ(slurp(objects + "/Readout_Obj2100_00.dat"), big);
  EXPECT_EQ(slurp(objects + "/Readout_Obj1021_00.eds"), "[FileInfo]\nFileName=x.eds\n");
  EXPECT_EQ(client->app->canopen().readoutBytes() - bytesBefore, 3000u + 26u);
  EXPECT_EQ(client->app->canopen().readoutFile().lastSize(), 26);
  // A read that fits the buffer is a value again.
  EXPECT_EQ(joined(run("sdo.node(2)\nprint sdo.read(0x1008, 9), sdo.val\n")),
            "\"TEST DEVICE NAME\" \"TEST DEVICE NAME\"\n");
}

TEST_F(SdoScriptTest, AReadRightAfterWcanGetsItsAnswer) {
  // The frame that ends the wait runs the script's next slice inside the receive pump; the read
  // there must still take the server's answer off the bus.
  client->app->settings().interp.txDelay = 0;
  client->app->commandFile().setText("wcan(0x123, 1, 55)\nprint \"after\", sdo.read(0x2004, 5)\n");
  client->app->scripts().run();
  ticks(2);
  ASSERT_TRUE(client->app->program().waitingForFrame());
  const size_t before = client->ui.lines.size();
  CanFrame f;
  f.id = 0x123;
  f.length = 1;
  f.data[0] = 0x55;
  server->app->TransmitFrame(f);
  for (int i = 0; i < 20 && client->app->program().running(); ++i) ticks(1);
  ASSERT_GT(client->ui.lines.size(), before);
  EXPECT_EQ(client->ui.lines.back(), "after 200");
}

}  // namespace
}  // namespace busprobe
