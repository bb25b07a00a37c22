#include "gui/trigger_window.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QRadioButton>
#include <QVBoxLayout>

#include "gui/gui_user_interface.h"

namespace busprobe {

namespace {

constexpr int kPatternChars = 80;

QListWidget* MakeCheckList(const char* const* texts, size_t count, const QString& name, QWidget* parent) {
  auto* list = new QListWidget(parent);
  list->setObjectName(name);
  for (size_t i = 0; i < count; ++i) {
    auto* item = new QListWidgetItem(QString::fromLatin1(texts[i]), list);
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsUserCheckable);
    item->setCheckState(Qt::Unchecked);
  }
  return list;
}

QString StateText(bool state) {
  return state ? QStringLiteral("TRUE") : QStringLiteral("false");
}

}  // namespace

int CheckedBits(const QListWidget* list) {
  int bits = 0;
  for (int i = 0; i < list->count(); ++i)
    if (list->item(i)->checkState() == Qt::Checked) bits |= 1 << i;
  return bits;
}

void SetCheckedBits(QListWidget* list, int bits) {
  for (int i = 0; i < list->count(); ++i)
    list->item(i)->setCheckState((bits >> i) & 1 ? Qt::Checked : Qt::Unchecked);
}

TriggerWindow::TriggerWindow(Trigger& trigger, TriggerSettings& settings, QWidget* parent)
    : QDialog(parent),
      trigger_(trigger),
      settings_(settings),
      enable_(new QCheckBox(QStringLiteral("trigger module enabled"), this)),
      startState_(new QPushButton(this)),
      stopState_(new QPushButton(this)),
      tabs_(new QTabWidget(this)) {
  setObjectName(QStringLiteral("TriggerW"));
  setWindowTitle(QStringLiteral("Trigger settings"));
  enable_->setObjectName(QStringLiteral("CHK_EnableModule"));
  startState_->setObjectName(QStringLiteral("Btn_StartCondition"));
  stopState_->setObjectName(QStringLiteral("Btn_StopCondition"));
  tabs_->setObjectName(QStringLiteral("PageControl"));
  tabs_->addTab(buildConditionTab(true), QStringLiteral("START"));
  tabs_->addTab(buildConditionTab(false), QStringLiteral("STOP"));
  tabs_->addTab(buildOptionsTab(), QStringLiteral("OPTIONS"));

  auto* states = new QHBoxLayout;
  states->addWidget(enable_);
  states->addStretch(1);
  states->addWidget(new QLabel(QStringLiteral("Start condition :"), this));
  states->addWidget(startState_);
  states->addWidget(new QLabel(QStringLiteral("Stop condition :"), this));
  states->addWidget(stopState_);
  connect(startState_, &QPushButton::clicked, this, [this] { toggleCondition(true); });
  connect(stopState_, &QPushButton::clicked, this, [this] { toggleCondition(false); });

  auto* buttons = new QDialogButtonBox(this);
  okButton_ = buttons->addButton(QDialogButtonBox::Ok);
  cancelButton_ = buttons->addButton(QDialogButtonBox::Cancel);
  applyButton_ = buttons->addButton(QDialogButtonBox::Apply);
  helpButton_ = buttons->addButton(QDialogButtonBox::Help);
  okButton_->setObjectName(QStringLiteral("Btn_OK"));
  cancelButton_->setObjectName(QStringLiteral("Btn_Cancel"));
  applyButton_->setObjectName(QStringLiteral("Btn_Apply"));
  helpButton_->setObjectName(QStringLiteral("Btn_Help"));
  connect(okButton_, &QPushButton::clicked, this, [this] {
    apply();
    accept();
  });
  connect(cancelButton_, &QPushButton::clicked, this, &QDialog::reject);
  connect(applyButton_, &QPushButton::clicked, this, &TriggerWindow::apply);
  connect(helpButton_, &QPushButton::clicked, this, &TriggerWindow::helpRequested);

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(states);
  layout->addWidget(tabs_, 1);
  layout->addWidget(buttons);

  stateTimer_.setInterval(kStateRefreshMs);
  connect(&stateTimer_, &QTimer::timeout, this, &TriggerWindow::refreshStates);
  loadFromSettings();
  refreshStates();
}

QWidget* TriggerWindow::buildConditionTab(bool start) {
  auto* page = new QWidget;
  page->setObjectName(start ? QStringLiteral("TS_Start") : QStringLiteral("TS_Stop"));
  auto* events =
      new QGroupBox(start ? QStringLiteral("Events to START...") : QStringLiteral("Events to STOP..."), page);
  QListWidget* eventList =
      MakeCheckList(Trigger::kEventTexts.data(), Trigger::kEventTexts.size(),
                    start ? QStringLiteral("LB_StartEvents") : QStringLiteral("LB_StopEvents"), events);
  auto* combination = new QButtonGroup(this);
  auto* orButton = new QRadioButton(QStringLiteral("OR (any of the selected events)"), events);
  auto* andButton = new QRadioButton(QStringLiteral("AND (all selected events)"), events);
  orButton->setObjectName(start ? QStringLiteral("RB_StartOr") : QStringLiteral("RB_StopOr"));
  andButton->setObjectName(start ? QStringLiteral("RB_StartAnd") : QStringLiteral("RB_StopAnd"));
  combination->addButton(orButton, 0);
  combination->addButton(andButton, 1);
  auto* combinationRow = new QHBoxLayout;
  combinationRow->addWidget(orButton);
  combinationRow->addWidget(andButton);
  combinationRow->addStretch(1);
  auto* eventLayout = new QVBoxLayout(events);
  eventLayout->addWidget(eventList, 1);
  eventLayout->addLayout(combinationRow);

  auto* actions = new QGroupBox(
      start ? QStringLiteral("Reactions when STARTING ...") : QStringLiteral("Reactions when STOPPING ..."),
      page);
  QListWidget* actionList =
      MakeCheckList(Trigger::kActionTexts.data(), Trigger::kActionTexts.size(),
                    start ? QStringLiteral("LB_StartActions") : QStringLiteral("LB_StopActions"), actions);
  auto* actionLayout = new QVBoxLayout(actions);
  actionLayout->addWidget(actionList);
  // Four reactions: the list needs no more room than that.
  actionList->setMaximumHeight(actionList->sizeHintForRow(0) * 5 + 2 * actionList->frameWidth());

  auto* layout = new QVBoxLayout(page);
  layout->addWidget(events, 3);
  layout->addWidget(actions, 1);

  if (start) {
    startEvents_ = eventList;
    startActions_ = actionList;
    startCombination_ = combination;
  } else {
    stopEvents_ = eventList;
    stopActions_ = actionList;
    stopCombination_ = combination;
  }
  return page;
}

QWidget* TriggerWindow::buildOptionsTab() {
  auto* page = new QWidget;
  page->setObjectName(QStringLiteral("TS_Options"));
  auto* form = new QFormLayout(page);
  auto* columns = new QLabel(QStringLiteral("CANid R L d0 d1 d2 d3 d4 d5 d6 d7"), page);
  QFont fixed = columns->font();
  fixed.setStyleHint(QFont::Monospace);
  fixed.setFamily(QStringLiteral("Monospace"));
  columns->setFont(fixed);
  form->addRow(QString(), columns);
  for (size_t i = 0; i < special_.size(); ++i) {
    auto* edit = new QLineEdit(page);
    edit->setObjectName(QStringLiteral("Ed_SpecialMessage%1").arg(i));
    edit->setMaxLength(kPatternChars);
    edit->setFont(fixed);
    special_[i] = edit;
    form->addRow(QStringLiteral("Special CAN message #%1 :").arg(i + 1), edit);
  }
  missing_ = new QLineEdit(page);
  missing_->setObjectName(QStringLiteral("Ed_MissingMessage"));
  missing_->setMaxLength(kPatternChars);
  missing_->setFont(fixed);
  form->addRow(QStringLiteral("Missing CAN message :"), missing_);
  timeout_ = new QSpinBox(page);
  timeout_->setObjectName(QStringLiteral("Ed_MissingTimeout"));
  timeout_->setRange(0, 3600000);
  form->addRow(QStringLiteral("interval/ms :"), timeout_);
  return page;
}

void TriggerWindow::loadFromSettings() {
  enable_->setChecked(settings_.enableModule);
  SetCheckedBits(startEvents_, settings_.startEvents);
  SetCheckedBits(stopEvents_, settings_.stopEvents);
  SetCheckedBits(startActions_, settings_.startActions);
  SetCheckedBits(stopActions_, settings_.stopActions);
  startCombination_->button(trigger_.startUsesAnd() ? 1 : 0)->setChecked(true);
  stopCombination_->button(trigger_.stopUsesAnd() ? 1 : 0)->setChecked(true);
  for (size_t i = 0; i < special_.size(); ++i)
    special_[i]->setText(CoreTextToQt(settings_.specialMessage[i]));
  missing_->setText(CoreTextToQt(settings_.missingMessage));
  timeout_->setValue(settings_.missingMessageTimeoutMs);
}

void TriggerWindow::apply() {
  settings_.enableModule = enable_->isChecked();
  // Bits the window does not show (a newer configuration) are kept as they were.
  const int shownEvents = (1 << startEvents_->count()) - 1;
  const int shownActions = (1 << startActions_->count()) - 1;
  settings_.startEvents = (settings_.startEvents & ~shownEvents) | CheckedBits(startEvents_);
  settings_.stopEvents = (settings_.stopEvents & ~shownEvents) | CheckedBits(stopEvents_);
  settings_.startActions = (settings_.startActions & ~shownActions) | CheckedBits(startActions_);
  settings_.stopActions = (settings_.stopActions & ~shownActions) | CheckedBits(stopActions_);
  for (size_t i = 0; i < special_.size(); ++i)
    settings_.specialMessage[i] = special_[i]->text().toStdString();
  settings_.missingMessage = missing_->text().toStdString();
  settings_.missingMessageTimeoutMs = timeout_->value();
  trigger_.configure(settings_);
  trigger_.setStartUsesAnd(startCombination_->checkedId() == 1);
  trigger_.setStopUsesAnd(stopCombination_->checkedId() == 1);
}

void TriggerWindow::refreshStates() {
  const QString start = StateText(trigger_.startState());
  const QString stop = StateText(trigger_.stopState());
  if (startState_->text() != start) startState_->setText(start);
  if (stopState_->text() != stop) stopState_->setText(stop);
}

void TriggerWindow::toggleCondition(bool start) {
  tabs_->setCurrentIndex(start ? kStartTab : kStopTab);
  if (start)
    trigger_.toggleStartCondition();
  else
    trigger_.toggleStopCondition();
  refreshStates();
}

void TriggerWindow::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  refreshStates();
  stateTimer_.start();
}

void TriggerWindow::hideEvent(QHideEvent* event) {
  stateTimer_.stop();
  QDialog::hideEvent(event);
}

}  // namespace busprobe
