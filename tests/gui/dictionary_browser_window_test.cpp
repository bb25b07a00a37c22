#include <QMenu>

#include "gui_session.h"

namespace busprobe {
namespace {

using testing::GuiSession;
using testing::TempDir;

const std::string kSampleEds = std::string(BUSPROBE_TESTDATA_DIR) + "/eds/python-canopen_sample.eds";

void WriteConfig(const TempDir& dir, const std::string& ini) {
  std::filesystem::create_directories(dir.file("Objects"));
  std::filesystem::copy_file(kSampleEds, dir.file("Objects/sample.eds"));
  std::ofstream(dir.file("NVK_Busprobe.ini")) << ini;
}

QStringList ToolsCaptions(GuiSession& session) {
  QMenu* tools = session.menuItem(QStringLiteral("&Tools"))->menu();
  emit tools->aboutToShow();
  QStringList captions;
  for (QAction* a : tools->actions())
    if (!a->isSeparator()) captions << a->text();
  return captions;
}

TEST(DictionaryBrowserWindows, ToolsMenuCaptionsFollowTheSettingsAndOpenTheirWindows) {
  TempDir config, locks;
  GuiSession session(config.path(), locks.path());
  session.window();
  const QStringList captions = ToolsCaptions(session);
  ASSERT_GE(captions.size(), 4);
  EXPECT_EQ(captions.mid(0, 4), QStringList({"SDO &Server (active)", "SDO &Client (active)",
                                             "&Local CANopen OD browser", "&Remote CANopen OD browser"}));
  session.app().settings().sdo.serverEnable = 0;
  session.app().settings().sdo.clientEnable = 0;
  EXPECT_EQ(ToolsCaptions(session).mid(0, 2),
            QStringList({"SDO &Server (disabled)", "SDO &Client (disabled)"}));

  session.menuItem(QStringLiteral("SDO &Client (disabled)"))->trigger();
  SettingsWindow* settings = session.window().settingsWindow();
  ASSERT_NE(settings, nullptr);
  EXPECT_EQ(settings->tabs()->tabText(settings->tabs()->currentIndex()), QStringLiteral("SDO"));
  settings->reject();

  session.menuItem(QStringLiteral("SDO &Server (disabled)"))->trigger();
  DictionaryBrowserWindow* local = session.window().localBrowser();
  ASSERT_NE(local, nullptr);
  EXPECT_TRUE(local->isVisible());
  EXPECT_EQ(local->windowTitle(), QStringLiteral("Simulated Local CANopen Object Dictionary"));
  session.menuItem(QStringLiteral("&Remote CANopen OD browser"))->trigger();
  ASSERT_NE(session.window().remoteBrowser(), nullptr);
  EXPECT_EQ(session.window().remoteBrowser()->windowTitle(),
            QStringLiteral("Remote CANopen Object Dictionary"));
  EXPECT_EQ(session.window().remoteBrowser()->table()->columnCount(), 9);
}

TEST(DictionaryBrowserWindows, LocalBrowserShowsTheServedDictionaryAndStoresItsPlace) {
  TempDir config, locks;
  WriteConfig(config,
              "[Directories]\nMyObjectDictionary=sample.eds\n[DictViewWindow]\nLeft=40\nTop=50\n"
              "Width=700\nHeight=400\n");
  GuiSession session(config.path(), locks.path());
  session.ticks(6);
  session.window().showDictionaryBrowser(DictionaryBrowserWindow::Kind::kLocal);
  DictionaryBrowserWindow* local = session.window().localBrowser();
  const int entries = session.app().canopen().local().entries.count();
  ASSERT_GT(entries, 10);
  EXPECT_EQ(local->table()->rowCount(), entries + 1);
  EXPECT_EQ(local->table()->horizontalHeaderItem(6)->text(), QStringLiteral("Value"));
  EXPECT_EQ(local->table()->item(0, 0)->text(), QStringLiteral("1000.00"));
  EXPECT_EQ(local->size(), QSize(700, 400));
  EXPECT_TRUE(testing::ShowOnDisplay(local, "local_browser"));
  // In a window of that size the name and the value get the room, not the short columns.
  QApplication::processEvents();
  const QTableWidget* t = local->table();
  EXPECT_GE(t->columnWidth(kColName), 2 * t->columnWidth(kColMark));
  EXPECT_GE(t->columnWidth(kColValue), t->columnWidth(kColType));
  {
    testing::MessageBoxCatcher help;
    for (QAction* a : local->findChild<QMenuBar*>()->actions())
      if (a->text() == QStringLiteral("&Help")) a->trigger();
    EXPECT_EQ(help.count(), 1);
    EXPECT_EQ(help.title(), QStringLiteral("Simulated Local CANopen Object Dictionary"));
  }
  local->resize(640, 380);
  local->close();
  EXPECT_EQ(session.app().browserSettings().local.width, 640);
  EXPECT_EQ(session.app().browserSettings().local.height, 380);
}

TEST(DictionaryBrowserWindows, RemoteReadPassFillsTheValuesFromAnotherApplication) {
  auto bus = VirtualBus::create();
  TempDir serverConfig, serverLocks, clientConfig, clientLocks;
  WriteConfig(serverConfig, "[Directories]\nMyObjectDictionary=sample.eds\n");
  // The client's own server is node 9, so it does not answer its own requests to node 2.
  WriteConfig(
      clientConfig,
      "[Directories]\nHisObjectDictionary=sample.eds\n[SdoSettings]\nServerNodeID=9\nClientNodeID=2\n");
  GuiSession server(serverConfig.path(), serverLocks.path(), bus);
  GuiSession client(clientConfig.path(), clientLocks.path(), bus);
  server.ticks(6);
  client.ticks(6);
  client.clock().setAutoAdvance(0.001);
  // The other application answers while this one's wait lets events through.
  QTimer serve;
  QObject::connect(&serve, &QTimer::timeout, [&server] { server.app().ProcessReceivedFrames(); });
  serve.start(0);

  client.window().showDictionaryBrowser(DictionaryBrowserWindow::Kind::kRemote);
  DictionaryBrowserWindow* remote = client.window().remoteBrowser();
  const ObjectDictionary& od = client.app().canopen().remote().entries;
  ASSERT_GT(od.count(), 10);
  EXPECT_EQ(remote->model().nodeId(), 2);
  remote->markedOnlyBox()->setChecked(true);
  const int deviceName = od.findPosition(0x1008, 0);
  ASSERT_GE(deviceName, 0);
  const int deviceType = od.findPosition(0x1000, 0);
  remote->model().toggleMark(deviceName);
  remote->model().toggleMark(deviceType);
  remote->readButton()->click();
  // The pass runs on the application's tick; the window's timer shows what it did.
  for (int i = 0; i < 50 && remote->model().phase() != BrowserPassPhase::kIdle; ++i) {
    client.ticks(1);
    remote->timerTick();
  }
  remote->timerTick();
  serve.stop();

  EXPECT_EQ(remote->statusLabel()->text(),
            QStringLiteral("Finished reading OD,  2 objects accessed,  0 access error(s) ."));
  EXPECT_EQ(od.slot(deviceName).currentValid, 1);
  EXPECT_EQ(od.slot(deviceName).readCount, 1);
  EXPECT_FALSE(remote->table()->item(deviceName, 6)->text().isEmpty());
  EXPECT_EQ(remote->table()->item(deviceType, 8)->text(), QStringLiteral("0001 0000"));
  remote->resize(900, 500);
  remote->table()->scrollToItem(remote->table()->item(deviceName, 6));
  EXPECT_TRUE(testing::ShowOnDisplay(remote, "remote_browser_after_read"));
}

}  // namespace
}  // namespace busprobe
