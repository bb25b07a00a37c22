// The "CANopen Node Scanner" window against the SDO server of a second application on the same bus.
#include "gui/node_scanner_window.h"

#include <gtest/gtest.h>

#include <QTimer>

#include "gui_session.h"

namespace busprobe {
namespace {

using testing::GuiSession;
using testing::ShowOnDisplay;
using testing::TempDir;

void WriteNodeDictionary(const TempDir& config, int serverNode) {
  std::filesystem::create_directories(config.file("Objects"));
  std::ofstream(config.file("Objects/node.eds"))
      << "[FileInfo]\nFileName=node.eds\nEDSVersion=4.0\n\n[MandatoryObjects]\nSupportedObjects=1\n1=0x1000\n"
      << "\n[1000]\nParameterName=Device type\nObjectType=0x7\nDataType=0x0007\nAccessType=ro\n"
      << "DefaultValue=0x00030191\n\n[OptionalObjects]\nSupportedObjects=1\n1=0x1008\n\n[1008]\n"
      << "ParameterName=Device name\nObjectType=0x7\nDataType=0x0009\nAccessType=const\n"
      << "DefaultValue=node in the window\n";
  std::ofstream(config.file("NVK_Busprobe.ini"))
      << "[Directories]\nMyObjectDictionary=node.eds\n[SdoSettings]\nServerNodeID=" << serverNode << "\n";
}

TEST(NodeScannerWindow, ScansTheOtherApplicationsServerAndOffersTheSelectedNode) {
  auto bus = VirtualBus::create();
  TempDir config, locks, nodeConfig, nodeLocks;
  std::ofstream(config.file("NVK_Busprobe.ini")) << "[SdoSettings]\nServerEnable=0\nClientNodeID=1\n";
  WriteNodeDictionary(nodeConfig, 12);
  GuiSession session(config.path(), locks.path(), bus);
  GuiSession node(nodeConfig.path(), nodeLocks.path(), bus);
  session.window();
  session.ticks(20);
  node.ticks(20);
  // The scanner's waits run the Qt events: the other application answers from there.
  QTimer pump;
  QObject::connect(&pump, &QTimer::timeout, [&node] { node.app().ProcessReceivedFrames(); });
  pump.start(0);
  // Silent node IDs time out on the clock; every read moves it on.
  session.clock().setAutoAdvance(0.25);

  session.menuItem(QStringLiteral("Scan for CANopen slaves in the network (using SDO)"))->trigger();
  NodeScannerWindow* w = session.window().nodeScannerWindow();
  ASSERT_NE(w, nullptr);
  EXPECT_EQ(w->windowTitle(), QStringLiteral("CANopen Node Scanner"));
  auto* info = w->findChild<QLabel*>(QStringLiteral("Lab_Info"));
  auto* list = w->findChild<QListWidget*>(QStringLiteral("LB_ScanResults"));
  auto* close = w->findChild<QPushButton*>(QStringLiteral("Btn_Close"));
  ASSERT_TRUE(info && list && close);
  EXPECT_EQ(info->text().toStdString(),
            "Click \"START\" to start scanning at " + std::to_string(session.app().settings().bus[0].baudrate) +
                " kBit/sec");
  bool headingShown = false;
  for (QLabel* label : w->findChildren<QLabel*>())
    headingShown = headingShown || label->text() == QStringLiteral("NodeId  DevType     Device Name (obj 1008h)");
  EXPECT_TRUE(headingShown);

  w->findChild<QPushButton*>(QStringLiteral("Btn_Start"))->click();
  EXPECT_EQ(info->text(), QStringLiteral("Scanning node #1, please wait..."));
  for (int i = 0; i < 3000 && session.app().nodeScan().scanner().currentNode() <= 20; ++i) session.ticks(1);
  w->refresh();
  EXPECT_TRUE(info->text().startsWith(QStringLiteral("Scanning node #2"))) << info->text().toStdString();
  EXPECT_EQ(close->text(), QStringLiteral("Close"));
  ASSERT_EQ(list->count(), 1);
  EXPECT_EQ(list->item(0)->text(), QStringLiteral("012 0x00030191 \"node in the window\" "));
  // On a display the main window's timer runs the scan on while the window is painted.
  EXPECT_TRUE(ShowOnDisplay(w, QStringLiteral("node_scanner_during")));

  for (int i = 0; i < 3000 && session.app().nodeScan().active(); ++i) session.ticks(1);
  w->refresh();
  EXPECT_TRUE(ShowOnDisplay(w, QStringLiteral("node_scanner_after")));
  EXPECT_EQ(info->text(), QStringLiteral("Found 1 CANopen node . Select one from the list:"));
  EXPECT_EQ(close->text(), QStringLiteral("Continue.."));
  EXPECT_EQ(list->count(), 1);

  list->setCurrentRow(0);
  close->click();
  EXPECT_EQ(session.app().settings().sdo.clientNodeId, 12);
  EXPECT_FALSE(session.app().nodeScan().active());
  session.clock().setAutoAdvance(0);
}

TEST(NodeScannerWindow, StopEndsTheScanAndClosingWithoutASelectionKeepsTheClientNode) {
  TempDir config, locks;
  std::ofstream(config.file("NVK_Busprobe.ini")) << "[SdoSettings]\nServerEnable=0\nClientNodeID=4\n";
  GuiSession session(config.path(), locks.path());
  session.window();
  session.ticks(20);
  session.clock().setAutoAdvance(0.25);
  session.window().showNodeScanner();
  QPointer<NodeScannerWindow> w = session.window().nodeScannerWindow();
  ASSERT_FALSE(w.isNull());
  w->start();
  session.ticks(5);
  w->findChild<QPushButton*>(QStringLiteral("Btn_Stop"))->click();
  EXPECT_FALSE(session.app().nodeScan().active());
  const int stoppedAt = session.app().nodeScan().scanner().currentNode();
  session.ticks(5);
  EXPECT_EQ(session.app().nodeScan().scanner().currentNode(), stoppedAt);
  EXPECT_EQ(w->findChild<QLabel*>(QStringLiteral("Lab_Info"))->text().toStdString(),
            "Click \"START\" to start scanning at " + std::to_string(session.app().settings().bus[0].baudrate) +
                " kBit/sec");
  w->close();
  EXPECT_EQ(w->offeredNodeId(), -1);
  EXPECT_EQ(session.app().settings().sdo.clientNodeId, 4);
  // Closed means destroyed: the next opening builds a new window.
  QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_TRUE(w.isNull());
  session.window().showNodeScanner();
  EXPECT_NE(session.window().nodeScannerWindow(), nullptr);
  session.clock().setAutoAdvance(0);
}

}  // namespace
}  // namespace busprobe
