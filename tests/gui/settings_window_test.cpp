#include <QComboBox>
#include <QDialogButtonBox>
#include <QRadioButton>

#include "gui_session.h"

namespace busprobe {
namespace {

using testing::GuiSession;
using testing::TempDir;

class SettingsWindowTest : public ::testing::Test {
 protected:
  SettingsWindowTest() : session_(config_.path(), locks_.path()) { window_ = &session_.window(); }

  template <typename T>
  T* control(const char* name) {
    T* widget = window_->settingsWindow()->findChild<T*>(QString::fromLatin1(name));
    EXPECT_NE(widget, nullptr) << name;
    return widget;
  }
  void selectData(const char* name, int value) {
    QComboBox* combo = control<QComboBox>(name);
    combo->setCurrentIndex(combo->findData(value));
  }
  void press(const char* button) { control<QPushButton>(button)->click(); }
  MainSettings& settings() { return session_.app().settings(); }

  TempDir config_;
  TempDir locks_;
  GuiSession session_;
  MainWindow* window_;
};

TEST_F(SettingsWindowTest, OkWritesEveryTabAndCancelWritesNothing) {
  window_->openSettings(QStringLiteral("CAN"));
  SettingsWindow* dialog = window_->settingsWindow();
  ASSERT_NE(dialog, nullptr);
  EXPECT_EQ(dialog->windowTitle(), QStringLiteral("Busprobe Settings"));
  QStringList tabs;
  for (int i = 0; i < dialog->tabs()->count(); ++i) tabs << dialog->tabs()->tabText(i);
  EXPECT_EQ(tabs,
            QStringList({"CAN", "Frame Display", "Logging", "Options", "SDO", "Directories", "Signals"}));

  selectData("CB_BitRate2", 125);
  control<QCheckBox>("CHK_CanFd1")->setChecked(true);
  selectData("CB_DataRate1", 4000);
  QTableWidget* names = control<QTableWidget>("SG_CanMessages");
  names->item(3, 0)->setText(QStringLiteral("  EngineData  "));
  names->item(3, 1)->setText(QStringLiteral("0x1A0"));
  control<QComboBox>("CB_TimeStampDisplay")->setCurrentIndex(2);
  control<QSpinBox>("Ed_MaxWindowLines")->setValue(1234);
  control<QCheckBox>("CHK_ShowBusNr")->setChecked(true);
  control<QComboBox>("CB_CanIdDisplay")->setCurrentIndex(1);
  control<QLineEdit>("Ed_ShowIDAsText1")->setText(QStringLiteral("C0000123"));
  control<QComboBox>("CB_TxListType")->setCurrentIndex(1);
  dialog->setColour(SettingsWindow::kRxColour, 0x00FFFFFF);
  control<QCheckBox>("CHK_LogOthers")->setChecked(false);
  control<QLineEdit>("Ed_RecordFile")->setText(QStringLiteral("trace.txt"));
  control<QLineEdit>("Ed_ExcludeTxId7")->setText(QStringLiteral("7ff"));
  control<QDoubleSpinBox>("Ed_TxDelay")->setValue(12.5);
  control<QCheckBox>("CHK_ShowErrorFrames")->setChecked(false);
  control<QComboBox>("CB_HighLevelProtocol")->setCurrentIndex(2);
  control<QLineEdit>("Ed_LogFileDir")->setText(QStringLiteral("/tmp/logs"));
  control<QCheckBox>("CHK_Silence")->setChecked(false);
  control<QRadioButton>("RB_AudioOutput0")->setChecked(true);

  // Cancel: the records keep their values, and the next opening shows them again.
  const MainSettings before = settings();
  press("Btn_Cancel");
  EXPECT_EQ(settings().bus[1].baudrate, before.bus[1].baudrate);
  EXPECT_EQ(settings().display.maxWindowLines, before.display.maxWindowLines);
  EXPECT_EQ(settings().canMessages[3].name, "");
  window_->openSettings(QStringLiteral("CAN"));
  EXPECT_EQ(control<QSpinBox>("Ed_MaxWindowLines")->value(), 500);

  // The same edits with OK.
  selectData("CB_BitRate2", 125);
  control<QCheckBox>("CHK_CanFd1")->setChecked(true);
  selectData("CB_DataRate1", 4000);
  names->item(3, 0)->setText(QStringLiteral("  EngineData  "));
  names->item(3, 1)->setText(QStringLiteral("0x1A0"));
  control<QComboBox>("CB_TimeStampDisplay")->setCurrentIndex(2);
  control<QSpinBox>("Ed_MaxWindowLines")->setValue(1234);
  control<QCheckBox>("CHK_ShowBusNr")->setChecked(true);
  control<QComboBox>("CB_CanIdDisplay")->setCurrentIndex(1);
  control<QLineEdit>("Ed_ShowIDAsText1")->setText(QStringLiteral("C0000123"));
  control<QComboBox>("CB_TxListType")->setCurrentIndex(1);
  dialog->setColour(SettingsWindow::kRxColour, 0x00FFFFFF);
  control<QCheckBox>("CHK_LogOthers")->setChecked(false);
  control<QLineEdit>("Ed_RecordFile")->setText(QStringLiteral("trace.txt"));
  control<QLineEdit>("Ed_ExcludeTxId7")->setText(QStringLiteral("7ff"));
  control<QDoubleSpinBox>("Ed_TxDelay")->setValue(12.5);
  control<QCheckBox>("CHK_ShowErrorFrames")->setChecked(false);
  control<QComboBox>("CB_HighLevelProtocol")->setCurrentIndex(2);
  control<QLineEdit>("Ed_LogFileDir")->setText(QStringLiteral("/tmp/logs"));
  control<QCheckBox>("CHK_Silence")->setChecked(false);
  control<QRadioButton>("RB_AudioOutput0")->setChecked(true);
  press("Btn_OK");

  const MainSettings& s = settings();
  EXPECT_EQ(s.bus[1].baudrate, 125);
  EXPECT_EQ(s.bus[0].flexDataRate, 4000);
  EXPECT_EQ(s.bus[1].flexDataRate, 0);
  EXPECT_EQ(s.canMessages[3].name, "EngineData");
  EXPECT_EQ(s.canMessages[3].canId, 0x1A0);
  EXPECT_EQ(s.display.timeStampDisplay, 2);
  EXPECT_EQ(s.display.maxWindowLines, 1234);
  EXPECT_EQ(s.display.showBusNr, 1);
  EXPECT_EQ(s.display.canIdDisplay, 10);
  EXPECT_EQ(s.display.showIdAsText[1], static_cast<int>(0xC0000123u));
  EXPECT_EQ(s.display.showIdAsText[0], -1);
  EXPECT_EQ(s.display.txListType, kListSorted);
  EXPECT_EQ(s.display.rxBackgndColor, 0x00FFFFFF);
  EXPECT_EQ(s.logging.logOthers, 0);
  EXPECT_EQ(s.logging.recordFile, "trace.txt");
  EXPECT_EQ(s.player.excludeTxId[7], 0x7FF);
  EXPECT_DOUBLE_EQ(s.interp.txDelay, 12.5);
  EXPECT_EQ(s.display.displayOptions & 1, 0);
  EXPECT_EQ(s.display.highLevelProtocol, 2);
  EXPECT_EQ(s.dirs.logFileDir, "/tmp/logs");
  EXPECT_EQ(s.interp.soundEnabled, 1);
  EXPECT_EQ(s.audioOutputDevice, 0);
  // What OK changed shows at once: pane colour, messages limit, the Tx list type label.
  EXPECT_EQ(window_->rxPane()->view()->palette().color(QPalette::Base), QColor(255, 255, 255));
  EXPECT_EQ(session_.app().messages().maxLines(), 1234u);
  EXPECT_EQ(window_->txPane()->listTypeLabel()->text(), QStringLiteral("sorted"));
}

TEST_F(SettingsWindowTest, OpeningAndOkKeepValuesTheWindowDoesNotOffer) {
  // Values edited into the file by hand are not among the choices; they must survive OK.
  settings().bus[0].baudrate = 33;
  settings().bus[1].baudrate = 0;
  settings().bus[1].flexDataRate = 5000;
  settings().display.timeStampFormat = 7;
  settings().display.canIdDisplay = 8;
  settings().display.fontStyle = 4 | 1;
  settings().audioOutputDevice = 9;
  const MainSettings before = settings();
  window_->openSettings(QStringLiteral("Options"));
  press("Btn_OK");
  const MainSettings& s = settings();
  EXPECT_EQ(s.bus[0].baudrate, 33);
  EXPECT_EQ(s.bus[1].baudrate, 0);
  EXPECT_EQ(s.bus[1].flexDataRate, 5000);
  EXPECT_EQ(s.display.timeStampFormat, 7);
  EXPECT_EQ(s.display.canIdDisplay, 8);
  EXPECT_EQ(s.display.fontStyle, 5);
  EXPECT_EQ(s.audioOutputDevice, 9);
  for (size_t i = 0; i < s.canMessages.size(); ++i) {
    EXPECT_EQ(s.canMessages[i].name, before.canMessages[i].name);
    EXPECT_EQ(s.canMessages[i].canId, before.canMessages[i].canId);
  }
  EXPECT_EQ(s.display.showIdAsText, before.display.showIdAsText);
  EXPECT_EQ(s.player.excludeTxId, before.player.excludeTxId);
  EXPECT_EQ(s.dirs.programs, before.dirs.programs);
  EXPECT_DOUBLE_EQ(s.interp.txDelay, before.interp.txDelay);
}

TEST_F(SettingsWindowTest, MenuItemsOpenTheirTab) {
  const std::pair<const char*, const char*> items[] = {
      {"&CAN settings (for user)", "CAN"},      {"&Display settings", "Frame Display"},
      {"More display settings", "Options"},     {"&Logger / Logfile-Player", "Logging"},
      {"Command &program settings", "Options"}, {"Di&rectories", "Directories"},
      {"&SDO client and server", "SDO"},
  };
  for (const auto& [caption, tab] : items) {
    QAction* item = session_.menuItem(QString::fromLatin1(caption));
    ASSERT_NE(item, nullptr) << caption;
    item->trigger();
    SettingsWindow* dialog = window_->settingsWindow();
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_EQ(dialog->tabs()->tabText(dialog->tabs()->currentIndex()), QString::fromLatin1(tab)) << caption;
    dialog->reject();
  }
  // The Signals item names the speaker state when the menu opens.
  QMenu* menu = session_.menuItem(QStringLiteral("S&ettings"))->menu();
  settings().interp.soundEnabled = 1;
  emit menu->aboutToShow();
  QAction* signalsItem = session_.menuItem(QStringLiteral("Signals.. (speaker enabled)"));
  ASSERT_NE(signalsItem, nullptr);
  signalsItem->trigger();
  EXPECT_EQ(window_->settingsWindow()->tabs()->tabText(window_->settingsWindow()->tabs()->currentIndex()),
            QStringLiteral("Signals"));
  window_->settingsWindow()->reject();
  settings().interp.soundEnabled = 0;
  emit menu->aboutToShow();
  EXPECT_NE(session_.menuItem(QStringLiteral("Signals.. (speaker disabled)")), nullptr);

  // The pane pop-up and the logger lamp lead to their tabs too.
  window_->rxPane()->settingsAction()->trigger();
  EXPECT_EQ(window_->settingsWindow()->tabs()->currentIndex(), 1);
  window_->settingsWindow()->reject();
  window_->loggerLamp()->configureAction()->trigger();
  EXPECT_EQ(window_->settingsWindow()->tabs()->currentIndex(), 2);
  window_->settingsWindow()->reject();
}

TEST_F(SettingsWindowTest, SdoTabEditsEveryKeyAndTheEngineTakesThemOnTheTick) {
  session_.ticks(6);
  window_->openSettings(QStringLiteral("SDO"));
  EXPECT_EQ(control<QSpinBox>("Ed_SdoServerNodeID")->value(), 2);
  control<QCheckBox>("CHK_SdoClientEnable")->setChecked(false);
  control<QSpinBox>("Ed_SdoClientNodeID")->setValue(5);
  control<QSpinBox>("Ed_SdoClientTimeout")->setValue(1200);
  control<QCheckBox>("CHK_SdoServerEnable")->setChecked(false);
  control<QSpinBox>("Ed_SdoServerNodeID")->setValue(9);
  control<QSpinBox>("Ed_SdoServerNodeID4")->setValue(33);
  control<QSpinBox>("Ed_SdoServerTimeout")->setValue(300);
  press("Btn_OK");
  const SdoSettings& s = settings().sdo;
  EXPECT_EQ(s.clientEnable, 0);
  EXPECT_EQ(s.clientNodeId, 5);
  EXPECT_EQ(s.clientTimeoutMs, 1200);
  EXPECT_EQ(s.serverEnable, 0);
  EXPECT_EQ(s.serverNodeId, 9);
  EXPECT_EQ(s.moreServerNodeIds[2], 33);
  EXPECT_EQ(s.moreServerNodeIds[0], 0);
  EXPECT_EQ(s.serverTimeoutMs, 300);

  // The channels follow on the next tick: server 0 listens on its new node, switched off.
  const SdoEngine& engine = session_.app().canopen().sdo();
  session_.ticks(1);
  EXPECT_EQ(engine.server(0).rxCobId, 0x600u + 9);
  EXPECT_EQ(engine.server(0).enabled, 0u);
  EXPECT_EQ(engine.server(3).rxCobId, 0x600u + 33);
  EXPECT_EQ(engine.client().enabled, 0u);
}

TEST_F(SettingsWindowTest, SdoValuesTheBoxesCannotShowSurviveOk) {
  settings().sdo.moreServerNodeIds[6] = 300;
  settings().sdo.clientTimeoutMs = -5;
  settings().sdo.serverEnable = 3;
  window_->openSettings(QStringLiteral("SDO"));
  press("Btn_OK");
  EXPECT_EQ(settings().sdo.moreServerNodeIds[6], 300);
  EXPECT_EQ(settings().sdo.clientTimeoutMs, -5);
  EXPECT_EQ(settings().sdo.serverEnable, 3);
}

TEST_F(SettingsWindowTest, NewBitRateReachesTheRunningInterface) {
  session_.ticks(6);
  ASSERT_TRUE(session_.app().running());
  window_->openSettings(QStringLiteral("CAN"));
  selectData("CB_BitRate2", 250);
  control<QCheckBox>("CHK_CanFd2")->setChecked(true);
  selectData("CB_DataRate2", 2000);
  press("Btn_OK");
  EXPECT_EQ(session_.app().ucan().baudrate(1), 250);
  EXPECT_EQ(session_.app().ucan().fdDataRate(1), 2000);
  // The other bus was not touched.
  EXPECT_EQ(session_.app().ucan().baudrate(0), 500);
}

TEST(IdWordTextTest, RoundTripsTheWholeWord) {
  EXPECT_EQ(IdWordToText(-1), QString());
  EXPECT_EQ(IdWordFromText(QString()), -1);
  EXPECT_EQ(IdWordFromText(QStringLiteral("  ")), -1);
  EXPECT_EQ(IdWordFromText(QStringLiteral("0x7Ff")), 0x7FF);
  EXPECT_EQ(IdWordFromText(QStringLiteral("zz")), -1);
  for (int value : {0, 0x123, 0x20000000 | 0x1ABCDEF, static_cast<int>(0xC0000001u)})
    EXPECT_EQ(IdWordFromText(IdWordToText(value)), value);
}

}  // namespace
}  // namespace busprobe
