#include <QRadioButton>

#include "gui_session.h"

namespace busprobe {
namespace {

using testing::GuiSession;
using testing::TempDir;

class TriggerWindowTest : public ::testing::Test {
 protected:
  TriggerWindowTest() : bus_(VirtualBus::create()), session_(config_.path(), locks_.path(), bus_) {
    window_ = &session_.window();
    session_.ticks(6);
  }
  void check(QListWidget* list, int row) { list->item(row)->setCheckState(Qt::Checked); }
  void receive(uint32_t id, std::initializer_list<uint8_t> bytes) {
    CanFrame frame;
    frame.id = id;
    frame.length = static_cast<uint8_t>(bytes.size());
    std::copy(bytes.begin(), bytes.end(), frame.data);
    bus_->inject(frame);
    session_.ticks(1);
  }
  Application& app() { return session_.app(); }

  TempDir config_;
  TempDir locks_;
  std::shared_ptr<VirtualBus> bus_;
  GuiSession session_;
  MainWindow* window_;
};

TEST_F(TriggerWindowTest, ApplyHandsPatternsAndConditionsToTheTrigger) {
  session_.menuItem(QStringLiteral("Tr&igger"))->trigger();
  TriggerWindow* w = window_->triggerWindow();
  ASSERT_NE(w, nullptr);
  EXPECT_TRUE(w->isVisible());
  EXPECT_EQ(w->windowTitle(), QStringLiteral("Trigger settings"));
  ASSERT_EQ(w->eventList(true)->count(), 9);
  EXPECT_EQ(w->eventList(true)->item(3)->text(), QStringLiteral("ANY reception of a CAN message"));
  ASSERT_EQ(w->actionList(false)->count(), 4);
  // OR is the choice after every start.
  EXPECT_TRUE(w->combination(true)->button(0)->isChecked());

  w->enableBox()->setChecked(true);
  check(w->eventList(true), 4);    // special message #1
  check(w->actionList(true), 0);   // freeze
  check(w->eventList(false), 8);   // missing message
  check(w->actionList(false), 1);  // let run
  w->specialEdit(0)->setText(QStringLiteral("123 0 2 11 XX"));
  w->missingEdit()->setText(QStringLiteral("7FF XX XX"));
  w->missingTimeout()->setValue(1500);
  w->combination(false)->button(1)->setChecked(true);
  w->applyButton()->click();

  const TriggerSettings& t = app().settings().trigger;
  EXPECT_EQ(t.enableModule, 1);
  EXPECT_EQ(t.startEvents, 0x010);
  EXPECT_EQ(t.startActions, 0x1);
  EXPECT_EQ(t.stopEvents, 0x100);
  EXPECT_EQ(t.stopActions, 0x2);
  EXPECT_EQ(t.specialMessage[0], "123 0 2 11 XX");
  EXPECT_EQ(t.missingMessage, "7FF XX XX");
  EXPECT_EQ(t.missingMessageTimeoutMs, 1500);
  EXPECT_TRUE(app().trigger().stopUsesAnd());
  EXPECT_FALSE(app().trigger().startUsesAnd());
  EXPECT_EQ(app().trigger().settings().specialMessage[0], "123 0 2 11 XX");

  // The applied pattern is live: a 3-byte frame does not match, the 2-byte one freezes the panes.
  receive(0x123, {0x11, 0x00, 0x00});
  EXPECT_FALSE(app().traffic().display().rxDisplayStopped);
  receive(0x123, {0x11, 0x99});
  EXPECT_TRUE(app().traffic().display().rxDisplayStopped);
  EXPECT_TRUE(app().trigger().startState());
  w->refreshStates();
  EXPECT_EQ(w->conditionButton(true)->text(), QStringLiteral("TRUE"));
  EXPECT_EQ(w->conditionButton(false)->text(), QStringLiteral("false"));

  // OK applies and closes as well.
  w->eventList(true)->item(4)->setCheckState(Qt::Unchecked);
  w->okButton()->click();
  EXPECT_FALSE(w->isVisible());
  EXPECT_EQ(app().settings().trigger.startEvents, 0);
}

TEST_F(TriggerWindowTest, CancelDropsTheEdits) {
  app().settings().trigger.specialMessage[2] = "100 XX XX";
  window_->openTriggerWindow();
  TriggerWindow* w = window_->triggerWindow();
  EXPECT_EQ(w->specialEdit(2)->text(), QStringLiteral("100 XX XX"));
  w->specialEdit(2)->setText(QStringLiteral("200 XX XX"));
  w->enableBox()->setChecked(true);
  check(w->eventList(true), 0);
  w->combination(true)->button(1)->setChecked(true);
  w->cancelButton()->click();
  EXPECT_FALSE(w->isVisible());
  const TriggerSettings& t = app().settings().trigger;
  EXPECT_EQ(t.specialMessage[2], "100 XX XX");
  EXPECT_EQ(t.enableModule, 0);
  EXPECT_EQ(t.startEvents, 0);
  EXPECT_FALSE(app().trigger().startUsesAnd());
  // Opened again, it shows the settings, not the dropped edits.
  session_.menuItem(QStringLiteral("&Trigger settings"))->trigger();
  EXPECT_EQ(w->specialEdit(2)->text(), QStringLiteral("100 XX XX"));
  EXPECT_FALSE(w->enableBox()->isChecked());
  EXPECT_TRUE(w->combination(true)->button(0)->isChecked());
}

TEST_F(TriggerWindowTest, ConditionButtonsToggleByHandOnTheirTab) {
  app().settings().trigger.startActions = Trigger::kFreeze;
  app().trigger().configure(app().settings().trigger);
  window_->openTriggerWindow();
  TriggerWindow* w = window_->triggerWindow();
  w->tabs()->setCurrentIndex(TriggerWindow::kOptionsTab);
  w->conditionButton(false)->click();
  EXPECT_EQ(w->tabs()->currentIndex(), TriggerWindow::kStopTab);
  EXPECT_TRUE(app().trigger().stopState());
  EXPECT_EQ(w->conditionButton(false)->text(), QStringLiteral("TRUE"));

  // A start condition switched to TRUE runs its reactions at once.
  w->conditionButton(true)->click();
  EXPECT_EQ(w->tabs()->currentIndex(), TriggerWindow::kStartTab);
  EXPECT_TRUE(app().trigger().startState());
  EXPECT_TRUE(app().traffic().display().rxDisplayStopped && app().traffic().display().txDisplayStopped);
  w->conditionButton(true)->click();
  EXPECT_EQ(w->conditionButton(true)->text(), QStringLiteral("false"));
}

TEST(TriggerWindowBitsTest, ListBitsRoundTripAndUnknownBitsSurviveApply) {
  testing::TheQtApplication();
  SilentAudioOutput silent;
  Trigger trigger(
      TriggerSources{}, [](bool) {}, &silent);
  TriggerSettings settings;
  // 0x200 is no event the window knows; it must not be lost by opening and applying.
  settings.startEvents = 0x200 | 0x008 | 0x001;
  settings.stopActions = 0x10 | 0x4;
  TriggerWindow w(trigger, settings);
  EXPECT_EQ(CheckedBits(w.eventList(true)), 0x009);
  EXPECT_EQ(CheckedBits(w.actionList(false)), 0x4);
  w.apply();
  EXPECT_EQ(settings.startEvents, 0x209);
  EXPECT_EQ(settings.stopActions, 0x14);
}

}  // namespace
}  // namespace busprobe
