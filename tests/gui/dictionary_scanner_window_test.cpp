#include <QMenu>

#include "gui_session.h"

namespace busprobe {
namespace {

using testing::GuiSession;
using testing::TempDir;

const std::string kSampleEds = std::string(BUSPROBE_TESTDATA_DIR) + "/eds/python-canopen_sample.eds";

void WriteConfig(const TempDir& dir, const std::string& ini, bool withDictionary) {
  if (withDictionary) {
    std::filesystem::create_directories(dir.file("Objects"));
    std::filesystem::copy_file(kSampleEds, dir.file("Objects/sample.eds"));
  }
  std::ofstream(dir.file("NVK_Busprobe.ini")) << ini;
}

QAction* SubMenuItem(GuiSession& session, const QString& menu, const QString& item) {
  QAction* sub = session.menuItem(menu);
  if (!sub || !sub->menu()) return nullptr;
  for (QAction* a : sub->menu()->actions())
    if (a->text() == item) return a;
  return nullptr;
}

// Two programs on one virtual bus: the scanning one (node 9 itself, asking node 2) and the one
// whose SDO server answers with the sample dictionary.
class DictionaryScannerWindows : public ::testing::Test {
 protected:
  DictionaryScannerWindows() {
    WriteConfig(serverConfig, "[Directories]\nMyObjectDictionary=sample.eds\n", true);
    WriteConfig(clientConfig, "[SdoSettings]\nServerNodeID=9\nClientNodeID=2\n", false);
    server = std::make_unique<GuiSession>(serverConfig.path(), serverLocks.path(), bus);
    client = std::make_unique<GuiSession>(clientConfig.path(), clientLocks.path(), bus);
    server->ticks(6);
    client->ticks(6);
    client->clock().setAutoAdvance(0.001);
    // The other program answers while this one's wait lets events through.
    QObject::connect(&serve, &QTimer::timeout, [this] { server->app().ProcessReceivedFrames(); });
    serve.start(0);
  }
  ~DictionaryScannerWindows() override { serve.stop(); }

  std::shared_ptr<VirtualBus> bus = VirtualBus::create();
  TempDir serverConfig, serverLocks, clientConfig, clientLocks;
  std::unique_ptr<GuiSession> server, client;
  QTimer serve;
};

TEST_F(DictionaryScannerWindows, ScanFromTheToolsMenuFillsTheBrowserAndTheWindowGoesAtTheEnd) {
  MainWindow& main = client->window();
  QAction* item = SubMenuItem(*client, QStringLiteral("Scan remote CANopen OD into browser"),
                              QStringLiteral("Communication profile: 0x1000 .. 0x1FFF"));
  ASSERT_NE(item, nullptr);
  item->trigger();
  DictionaryBrowserWindow* browser = main.remoteBrowser();
  ASSERT_NE(browser, nullptr);
  EXPECT_TRUE(browser->isVisible());
  QPointer<DictionaryScannerWindow> scanner = main.dictionaryScanner();
  ASSERT_FALSE(scanner.isNull());
  EXPECT_EQ(scanner->windowTitle(), QStringLiteral("CANopen Object Dictionary Scanner"));
  EXPECT_EQ(scanner->nodeIdField()->text(), QStringLiteral("2"));
  EXPECT_EQ(scanner->fromField()->text(), QStringLiteral("0x1000"));
  EXPECT_EQ(scanner->toField()->text(), QStringLiteral("0x1FFF"));
  ASSERT_NE(scanner->findChild<QLineEdit*>(QStringLiteral("Ed_ExcludedObjects")), nullptr);

  // A short range keeps the run short; lowercase and garbage in the excluded list.
  scanner->toField()->setText(QStringLiteral("1020"));
  scanner->excludedField()->setText(QStringLiteral("1010-0x1017 , junk,1001"));
  scanner->startButton()->click();
  EXPECT_EQ(scanner->excludedField()->text(), QStringLiteral("0x1010-0x1017, 0x1001"));
  EXPECT_EQ(scanner->toField()->text(), QStringLiteral("0x1020"));
  client->ticks(4);
  EXPECT_TRUE(scanner->progressLabel()->text().startsWith(QStringLiteral("Reading  0x10")))
      << scanner->progressLabel()->text().toStdString();
  EXPECT_TRUE(testing::ShowOnDisplay(scanner, "dictionary_scanner_running"));

  for (int i = 0; i < 200 && client->app().remoteBrowser().browser().scanning(); ++i) client->ticks(1);
  ASSERT_FALSE(client->app().remoteBrowser().browser().scanning());
  EXPECT_FALSE(scanner->isVisible());
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_TRUE(scanner.isNull()) << "the scanner window is destroyed at the end of the scan";
  EXPECT_EQ(main.dictionaryScanner(), nullptr);

  browser->timerTick();
  const ObjectDictionary& od = client->app().canopen().remote().entries;
  // 1000, 1003.00-01, 1008, 1018.00-02: 1001 and 1017 are excluded.
  EXPECT_EQ(od.count(), 7);
  EXPECT_EQ(browser->table()->rowCount(), 8);
  EXPECT_EQ(browser->table()->item(0, 0)->text(), QStringLiteral("1000.00"));
  EXPECT_EQ(browser->statusLabel()->text(),
            QStringLiteral("Finished reading OD,  7 objects accessed,  0 access error(s) ."));
  EXPECT_EQ(browser->gridPosLabel()->text(), QStringLiteral("7 entries in OD"));
  EXPECT_TRUE(testing::ShowOnDisplay(browser, "dictionary_scanner_after_run"));
  EXPECT_EQ(client->app().settings().odScanner.scanTo, 0x1020);
}

TEST_F(DictionaryScannerWindows, BrowserMenuOpensTheStoredRangeAndStopClosesTheWindow) {
  MainWindow& main = client->window();
  DictionaryScanSettings stored;
  stored.scanFrom = 0x2000;
  stored.scanTo = 0x2FFF;
  stored.excluded[0] = {0x2100, 0x21FF};
  stored.options = DictionaryScanSettings::kStopOnError;
  client->app().settings().odScanner = stored;
  main.showDictionaryBrowser(DictionaryBrowserWindow::Kind::kRemote);
  DictionaryBrowserWindow* browser = main.remoteBrowser();
  QAction* scanEntries = nullptr;
  QAction* scanNodes = nullptr;
  for (QAction* a : browser->findChildren<QAction*>()) {
    if (a->text() == QStringLiteral("Scan remote node for OD Entries")) scanEntries = a;
    if (a->text() == QStringLiteral("Scan network for CANopen nodes")) scanNodes = a;
  }
  ASSERT_NE(scanEntries, nullptr);
  ASSERT_NE(scanNodes, nullptr);
  scanNodes->trigger();
  ASSERT_NE(main.nodeScannerWindow(), nullptr) << "the browser's node scan item opens the node scanner";
  main.nodeScannerWindow()->close();
  scanEntries->trigger();
  QPointer<DictionaryScannerWindow> scanner = main.dictionaryScanner();
  ASSERT_FALSE(scanner.isNull());
  EXPECT_EQ(scanner->fromField()->text(), QStringLiteral("0x2000"));
  EXPECT_EQ(scanner->toField()->text(), QStringLiteral("0x2FFF"));
  EXPECT_EQ(scanner->excludedField()->text(), QStringLiteral("0x2100-0x21FF"));
  EXPECT_TRUE(scanner->stopOnErrorBox()->isChecked());
  {
    testing::MessageBoxCatcher help;
    for (QPushButton* b : scanner->findChildren<QPushButton*>())
      if (b->text() == QStringLiteral("&Help")) b->click();
    EXPECT_EQ(help.count(), 1);
    EXPECT_EQ(help.title(), QStringLiteral("CANopen Object Dictionary Scanner"));
  }

  scanner->startButton()->click();
  client->ticks(2);
  scanner->stopButton()->click();
  EXPECT_FALSE(scanner->isVisible());
  client->ticks(2);
  EXPECT_FALSE(client->app().remoteBrowser().browser().scanning());
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_TRUE(scanner.isNull());
  EXPECT_EQ(main.dictionaryScanner(), nullptr);
}

}  // namespace
}  // namespace busprobe
