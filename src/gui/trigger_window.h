// The "Trigger settings" window: the start and the stop condition, each a list of events combined
// by OR or AND with its list of reactions, the frame patterns of the special and the missing
// message, and two buttons that show the live state of each condition and let the user toggle it
// by hand. Apply and OK hand the settings to the trigger (and to the configuration record);
// Cancel drops the edits. The window reads the trigger's state on its own timer while visible.
#pragma once

#include <QButtonGroup>
#include <QCheckBox>
#include <QDialog>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QTimer>
#include <array>

#include "app/settings.h"
#include "traffic/trigger.h"

namespace busprobe {

class TriggerWindow : public QDialog {
  Q_OBJECT

 public:
  static constexpr int kStateRefreshMs = 100;
  enum TabIndex { kStartTab = 0, kStopTab = 1, kOptionsTab = 2 };

  TriggerWindow(Trigger& trigger, TriggerSettings& settings, QWidget* parent = nullptr);

  // Controls from the settings record and the trigger's OR/AND choice.
  void loadFromSettings();
  // Controls into the record, then into the trigger.
  void apply();
  // The condition buttons from the trigger's states.
  void refreshStates();

  QTabWidget* tabs() const { return tabs_; }
  QCheckBox* enableBox() const { return enable_; }
  QListWidget* eventList(bool start) const { return start ? startEvents_ : stopEvents_; }
  QListWidget* actionList(bool start) const { return start ? startActions_ : stopActions_; }
  QButtonGroup* combination(bool start) const { return start ? startCombination_ : stopCombination_; }
  QLineEdit* specialEdit(int index) const { return special_[static_cast<size_t>(index & 3)]; }
  QLineEdit* missingEdit() const { return missing_; }
  QSpinBox* missingTimeout() const { return timeout_; }
  QPushButton* conditionButton(bool start) const { return start ? startState_ : stopState_; }
  QPushButton* applyButton() const { return applyButton_; }
  QPushButton* okButton() const { return okButton_; }
  QPushButton* cancelButton() const { return cancelButton_; }
  QPushButton* helpButton() const { return helpButton_; }

 signals:
  void helpRequested();

 protected:
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;

 private:
  QWidget* buildConditionTab(bool start);
  QWidget* buildOptionsTab();
  void toggleCondition(bool start);

  Trigger& trigger_;
  TriggerSettings& settings_;
  QCheckBox* enable_;
  QPushButton* startState_;
  QPushButton* stopState_;
  QTabWidget* tabs_;
  QListWidget* startEvents_ = nullptr;
  QListWidget* stopEvents_ = nullptr;
  QListWidget* startActions_ = nullptr;
  QListWidget* stopActions_ = nullptr;
  QButtonGroup* startCombination_ = nullptr;
  QButtonGroup* stopCombination_ = nullptr;
  std::array<QLineEdit*, Trigger::kSpecialPatterns> special_{};
  QLineEdit* missing_ = nullptr;
  QSpinBox* timeout_ = nullptr;
  QPushButton* okButton_ = nullptr;
  QPushButton* cancelButton_ = nullptr;
  QPushButton* applyButton_ = nullptr;
  QPushButton* helpButton_ = nullptr;
  QTimer stateTimer_;
};

// Bit set of the checked items of a list whose item i stands for bit i.
int CheckedBits(const QListWidget* list);
void SetCheckedBits(QListWidget* list, int bits);

}  // namespace busprobe
