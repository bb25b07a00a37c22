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
  for (int i = 0; i < 20 && session.app().lss().master().running(); ++i) {
    slave.ticks(1);
    session.ticks(1);
  }
  w->refresh();
  EXPECT_TRUE(testing::ShowOnDisplay(w, QStringLiteral("lss_master_during")));
  for (int i = 0; i < 3000 && session.app().lss().master().running(); ++i) {
    slave.ticks(1);
    session.ticks(1);
  }
  w->refresh();
  EXPECT_EQ(info->text(), QStringLiteral("Found 1 LSS slave. Select one from the list:"));
  EXPECT_TRUE(testing::ShowOnDisplay(w, QStringLiteral("lss_master_after")));
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

// Answers the string questions as the test says and keeps what was asked.
class ScriptedUi : public UserInterface {
 public:
  std::vector<std::string> asked;
  bool accept = true;
  std::string reply;

 protected:
  bool answerString(const std::string& title, const std::string& prompt, std::string& text) override {
    asked.push_back(title + "|" + prompt + "|" + text);
    if (accept) text = reply;
    return accept;
  }
};

// The window on an application of its own, alone on its bus, whose questions the test answers.
struct LoneMaster {
  LoneMaster() {
    testing::TheQtApplication();
    AppOptions o;
    o.configDir = config.path();
    o.lockDir = locks.path();
    app = std::make_unique<Application>(ui, clock, o);
    app->startUp();
    for (int i = 0; i < 20; ++i) tick();
    window = std::make_unique<LssMasterWindow>(*app);
    window->show();
  }
  ~LoneMaster() { window.reset(); }
  void tick() {
    clock.advance(50);
    app->tick();
  }
  QAction* action(const QString& prefix) {
    for (QAction* a : window->findChildren<QMenu*>().value(0)->actions())
      if (a->text().startsWith(prefix)) return a;
    return nullptr;
  }
  TempDir config, locks;
  ManualClock clock;
  ScriptedUi ui;
  std::unique_ptr<Application> app;
  std::unique_ptr<LssMasterWindow> window;
};

TEST(LssMasterWindow, MorePopUpSwitchesTheBuiltInSlaveOnAndIntoTheScan) {
  LoneMaster m;
  m.app->settings().lss.slaveOptions = LssSettings::kSlaveDisabled;
  auto* more = m.window->findChild<QPushButton*>(QStringLiteral("Btn_More"));
  ASSERT_NE(more, nullptr);
  more->click();
  QMenu* menu = m.window->findChildren<QMenu*>().value(0);
  ASSERT_NE(menu, nullptr);
  EXPECT_TRUE(menu->isVisible());
  QAction* enable = m.action(QStringLiteral("Enable built-in LSS SLAVE"));
  QAction* include = m.action(QStringLiteral("Include built-in LSS SLAVE"));
  QAction* delay = m.action(QStringLiteral("Scan &Delay"));
  ASSERT_TRUE(enable && include && delay);
  // The marks show the settings as they were when the menu opened.
  EXPECT_FALSE(enable->isChecked());
  EXPECT_FALSE(include->isChecked());
  EXPECT_EQ(delay->text(), QStringLiteral("Scan &Delay (time between two requests): 5 ms"));
  enable->trigger();
  include->trigger();
  menu->hide();
  EXPECT_TRUE(m.app->settings().lss.slaveEnabled());
  EXPECT_NE(m.app->settings().lss.masterOptions & kLssIncludeBuiltInSlave, 0);

  // Alone on its bus, the master now finds its own slave; START keeps the included bit.
  m.window->findChild<QPushButton*>(QStringLiteral("Btn_Start"))->click();
  for (int i = 0; i < 3000 && m.app->lss().master().running(); ++i) m.tick();
  m.window->refresh();
  EXPECT_EQ(m.window->findChild<QLabel*>(QStringLiteral("Lab_Info"))->text(),
            QStringLiteral("Found 1 LSS slave. Select one from the list:"));
  EXPECT_EQ(m.app->lss().slave().nodeId(), 1);

  // Opened again, the marks follow the settings; switched off again, nothing answers.
  more->click();
  EXPECT_TRUE(enable->isChecked());
  EXPECT_TRUE(include->isChecked());
  enable->trigger();
  menu->hide();
  EXPECT_FALSE(m.app->settings().lss.slaveEnabled());
}

TEST(LssMasterWindow, ScanDelayDialogTakesMillisecondsAndRefusesTheRest) {
  LoneMaster m;
  m.window->findChild<QPushButton*>(QStringLiteral("Btn_More"))->click();
  QAction* delay = m.action(QStringLiteral("Scan &Delay"));
  ASSERT_NE(delay, nullptr);
  m.ui.reply = "80";
  delay->trigger();
  ASSERT_EQ(m.ui.asked.size(), 1u);
  EXPECT_EQ(m.ui.asked[0], "LSS Scan delay in milliseconds|(throttles the scanning speed)|5");
  EXPECT_EQ(m.app->settings().lss.scanDelayUs, 80000);
  // Not a number, out of range, or cancelled: the delay stays.
  for (const char* reply : {"soon", "-1", "10001", ""}) {
    m.ui.reply = reply;
    delay->trigger();
    EXPECT_EQ(m.app->settings().lss.scanDelayUs, 80000) << reply;
  }
  m.ui.accept = false;
  delay->trigger();
  EXPECT_EQ(m.app->settings().lss.scanDelayUs, 80000);
  EXPECT_EQ(m.ui.asked.back(), "LSS Scan delay in milliseconds|(throttles the scanning speed)|80");
  // The menu shows the new delay, rounded up to whole milliseconds.
  m.app->settings().lss.scanDelayUs = 2500;
  m.window->findChild<QPushButton*>(QStringLiteral("Btn_More"))->click();
  EXPECT_EQ(delay->text(), QStringLiteral("Scan &Delay (time between two requests): 3 ms"));
  m.window->findChildren<QMenu*>().value(0)->hide();
}

}  // namespace
}  // namespace busprobe
