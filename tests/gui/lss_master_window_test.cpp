// The "LSS Master" window against the built-in slave of a second application on the same bus.
#include "gui/lss_master_window.h"

#include <gtest/gtest.h>

#include <QMenu>

#include "gui_session.h"

namespace busprobe {
namespace {

using testing::GuiSession;
using testing::TempDir;

TEST(LssMasterWindow, FindsConfiguresAndOffersTheOtherApplicationsSlave) {
  auto bus = VirtualBus::create();
  TempDir config, locks, slaveConfig, slaveLocks;
  GuiSession session(config.path(), locks.path(), bus);
  GuiSession slave(slaveConfig.path(), slaveLocks.path(), bus);
  session.window();
  session.ticks(20);
  slave.ticks(20);
  session.app().settings().lss.slaveOptions = LssSettings::kSlaveDisabled;  // it hears its own requests

  session.menuItem(QStringLiteral("CANopen LSS Master to scan for / configure remote slaves"))->trigger();
  LssMasterWindow* w = session.window().lssWindow();
  ASSERT_NE(w, nullptr);
  EXPECT_EQ(w->windowTitle(), QStringLiteral("LSS Master"));
  auto* info = w->findChild<QLabel*>(QStringLiteral("Lab_Info"));
  auto* list = w->findChild<QListWidget*>(QStringLiteral("LB_ScanResults"));
  auto* close = w->findChild<QPushButton*>(QStringLiteral("Btn_Close"));
  ASSERT_TRUE(info && list && close);
  EXPECT_EQ(info->text().toStdString(),
            "Click \"START\" to start scanning at " + std::to_string(session.app().settings().bus[0].baudrate) +
                " kBit/sec");
  EXPECT_TRUE(w->findChild<QCheckBox*>(QStringLiteral("Chk_AssignNodeIDs"))->isChecked());
  EXPECT_FALSE(w->findChild<QCheckBox*>(QStringLiteral("Chk_SwitchBaudrate"))->isChecked());
  EXPECT_TRUE(w->findChild<QRadioButton*>(QStringLiteral("RBtn_FastScan"))->isChecked());
  w->findChild<QLineEdit*>(QStringLiteral("Ed_NewFirstNodeID"))->setText(QStringLiteral("7"));

  w->findChild<QPushButton*>(QStringLiteral("Btn_Start"))->click();
  EXPECT_EQ(info->text(), QStringLiteral("LSS Master active, 0 slaves found..."));
  for (int i = 0; i < 3000 && session.app().lss().master().running(); ++i) {
    slave.ticks(1);
    session.ticks(1);
  }
  w->refresh();
  EXPECT_EQ(info->text(), QStringLiteral("Found 1 LSS slave. Select one from the list:"));
  EXPECT_EQ(close->text(), QStringLiteral("Continue.."));
  ASSERT_EQ(list->count(), 1);
  EXPECT_EQ(list->item(0)->text(), QStringLiteral("07 004E564B 00002B29 00010000 00000000"));
  EXPECT_EQ(slave.app().lss().slave().nodeId(), 7);

  list->setCurrentRow(0);
  close->click();
  EXPECT_EQ(w->offeredNodeId(), 7);
  EXPECT_EQ(session.app().settings().sdo.clientNodeId, 7);
  EXPECT_TRUE(session.app().lss().master().idle());
}

}  // namespace
}  // namespace busprobe
