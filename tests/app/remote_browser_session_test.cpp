// The remote browser's dictionary scan in the running application, against the SDO server of a
// second application on the same virtual bus.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "app/application.h"
#include "test_support.h"

namespace busprobe {
namespace {

// While one application waits for an answer, the other takes its frames in.
class ServingUi : public test::RecordingUi {
 public:
  void processEvents() override {
    if (other) other->ProcessReceivedFrames();
  }
  void onChange(UiTopic topic) override { scanNotices += topic == UiTopic::kDictionaryScan; }
  Application* other = nullptr;
  int scanNotices = 0;
};

struct Node {
  Node(std::shared_ptr<VirtualBus> bus, ManualClock& clock, const std::string& ini) {
    std::ofstream(config.file("NVK_Busprobe.ini")) << ini;
    AppOptions o;
    o.configDir = config.path();
    o.lockDir = locks.path();
    o.virtualBus = std::move(bus);
    app = std::make_unique<Application>(ui, clock, o);
  }
  test::ScratchDir config, locks;
  ServingUi ui;
  std::unique_ptr<Application> app;
};

class RemoteBrowserScan : public ::testing::Test {
 protected:
  RemoteBrowserScan() {
    std::filesystem::create_directories(server.config.file("Objects"));
    std::filesystem::copy_file(std::string(BUSPROBE_TESTDATA_DIR) + "/eds/python-canopen_sample.eds",
                               server.config.file("Objects/sample.eds"));
    std::ofstream(server.config.file("NVK_Busprobe.ini")) << "[Directories]\nMyObjectDictionary=sample.eds\n";
    clock.setAutoAdvance(0.001);
    client.ui.other = server.app.get();
    server.app->startUp();
    client.app->startUp();
    ticks(6);
  }
  void ticks(int n) {
    for (int i = 0; i < n; ++i) {
      server.app->tick();
      client.app->tick();
      clock.advance(50);
    }
  }

  ManualClock clock{1000};
  std::shared_ptr<VirtualBus> bus = VirtualBus::create();
  Node server{bus, clock, ""};
  // The client's own server is node 9: it must not answer its own requests to node 2.
  Node client{bus, clock,
              "[SdoSettings]\nServerNodeID=9\nClientNodeID=2\n[CANopenODScanner]\nExcludeFrom3=4112\n"
              "ExcludeTo3=4119\n"};
};

TEST_F(RemoteBrowserScan, FillsTheRemoteDictionaryFromTheOtherServerSkippingExcludedRangesAndCountingErrors) {
  // One object the server refuses to read: the scan counts it.
  OdEntry refusing = NewOdEntry(0x1005, 0);
  refusing.access = 0x02;
  refusing.defaultValue.dataType = 7;
  ASSERT_GE(server.app->canopen().local().entries.insert(refusing), 0);

  RemoteBrowserSession& session = client.app->remoteBrowser();
  client.app->canopen().sdo().client().enabled = 0;
  session.OpenDictionaryScan(0x1000, 0x1020);
  EXPECT_EQ(client.app->canopen().sdo().client().enabled, 1u);
  EXPECT_EQ(session.browser().nodeId(), 2);
  DictionaryScanSettings form = session.form();
  EXPECT_EQ(form.scanFrom, 0x1000);
  EXPECT_EQ(form.scanTo, 0x1020);
  EXPECT_EQ(form.excluded[3], (DictionaryScanRange{0x1010, 0x1017}));
  session.startScan(form);
  EXPECT_TRUE(session.browser().scanning());
  for (int i = 0; i < 200 && session.browser().scanning(); ++i) ticks(1);
  ASSERT_FALSE(session.browser().scanning());

  const ObjectDictionary& od = client.app->canopen().remote().entries;
  // 1000, 1001, 1003.00-01 (a gap at 02), 1008, 1018.00-02; 1017 is excluded.
  EXPECT_EQ(od.count(), 8);
  EXPECT_EQ(od.find(0x1017, 0), nullptr);
  EXPECT_EQ(od.find(0x1003, 3), nullptr);
  ASSERT_NE(od.find(0x1008, 0), nullptr);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(od.find(0x1008, 0)->currentValue.block), 11),
            "TEST DEVICE");
  const DictionaryScanner& scanner = session.scanner();
  EXPECT_EQ(scanner.accessErrors(), 1);
  EXPECT_EQ(scanner.lastErrorText().rfind("Obj 0x1005.00: abort code=0x06010001=", 0), 0u)
      << scanner.lastErrorText();
  EXPECT_EQ(session.browser().statusText(), "Finished reading OD,  8 objects accessed,  1 access error(s) .");
  // Only the served dictionary's reads reached the server: none inside the excluded range.
  EXPECT_EQ(server.app->canopen().local().entries.find(0x1017, 0)->readCount, 0);
  EXPECT_EQ(server.app->canopen().local().entries.find(0x1018, 1)->readCount, 1);
  EXPECT_GT(client.ui.scanNotices, 8);
  EXPECT_FALSE(session.takeChangedRows().empty());
}

TEST_F(RemoteBrowserScan, StartStoresTheSettingsForTheNextRunAndStopEndsTheScan) {
  RemoteBrowserSession& session = client.app->remoteBrowser();
  session.OpenDictionaryScan(0x6000, 0x67FF);
  DictionaryScanSettings form = session.form();
  form.excluded = ParseExcludedRanges("6100-61ff");
  form.options = DictionaryScanSettings::kStopOnError;
  session.startScan(form);
  ticks(3);
  // A menu entry chosen while it runs leaves the node and the form of the running scan alone.
  client.app->settings().sdo.clientNodeId = 7;
  session.OpenDictionaryScan(0x1000, 0x1FFF);
  EXPECT_EQ(session.browser().nodeId(), 2);
  EXPECT_EQ(session.form().scanFrom, 0x6000);
  session.stopScan();
  ticks(2);
  EXPECT_FALSE(session.browser().scanning());
  EXPECT_EQ(session.browser().scansFinished(), 1);

  client.app->shutDown(true);
  std::ifstream in(client.config.file("NVK_Busprobe.ini"));
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_NE(text.find("ScanFrom=24576"), std::string::npos) << text;
  EXPECT_NE(text.find("ExcludeFrom0=24832"), std::string::npos);
  EXPECT_NE(text.find("ExcludeTo0=25087"), std::string::npos);
  EXPECT_NE(text.find("Options=1"), std::string::npos);
  // A range menu entry with first < last replaces the stored range only in the form.
  session.OpenDictionaryScan(0, 0);
  EXPECT_EQ(session.form().scanFrom, 0x6000);
}

}  // namespace
}  // namespace busprobe
