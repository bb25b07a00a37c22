#include "gui/lss_master_window.h"

#include <QCloseEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QVBoxLayout>

#include <cmath>

#include "gui/gui_user_interface.h"

namespace busprobe {
namespace {

constexpr int kRates[] = {50, 100, 125, 250, 500, 800, 1000};

}  // namespace

LssMasterWindow::LssMasterWindow(Application& app, QWidget* parent) : QWidget(parent, Qt::Window), app_(app) {
  setWindowTitle(QStringLiteral("LSS Master"));
  auto* layout = new QVBoxLayout(this);
  auto* heading = new QLabel(QStringLiteral("Node Vendor ProdCode Revision SerialNr"), this);
  layout->addWidget(heading);
  results_ = new QListWidget(this);
  results_->setObjectName(QStringLiteral("LB_ScanResults"));
  layout->addWidget(results_);
  info_ = new QLabel(this);
  info_->setObjectName(QStringLiteral("Lab_Info"));
  layout->addWidget(info_);

  auto* options = new QGridLayout;
  switchBaudrate_ = new QCheckBox(QStringLiteral("switch CAN baudrate to ,,,"), this);
  switchBaudrate_->setObjectName(QStringLiteral("Chk_SwitchBaudrate"));
  baudrates_ = new QComboBox(this);
  baudrates_->setObjectName(QStringLiteral("CB_NewBaudrate"));
  for (int rate : kRates) baudrates_->addItem(QStringLiteral("%1 kBit/s").arg(rate));
  assignNodeIds_ = new QCheckBox(QStringLiteral("assign Node-IDs beginning at ..."), this);
  assignNodeIds_->setObjectName(QStringLiteral("Chk_AssignNodeIDs"));
  firstNodeId_ = new QLineEdit(this);
  firstNodeId_->setObjectName(QStringLiteral("Ed_NewFirstNodeID"));
  alsoFindConfigured_ = new QCheckBox(QStringLiteral("also find ALREADY CONFIGURED slaves (via NMT)"), this);
  alsoFindConfigured_->setObjectName(QStringLiteral("Chk_AlsoFindConfiguredSlaves"));
  fastScan_ = new QRadioButton(QStringLiteral("use 'LSS Fast Scan'; preferred method !"), this);
  fastScan_->setObjectName(QStringLiteral("RBtn_FastScan"));
  classicScan_ = new QRadioButton(QStringLiteral("use 'classic scan' (incredibly slow)"), this);
  classicScan_->setObjectName(QStringLiteral("RBtn_ClassicScan"));
  options->addWidget(switchBaudrate_, 0, 0);
  options->addWidget(baudrates_, 0, 1);
  options->addWidget(assignNodeIds_, 1, 0);
  options->addWidget(firstNodeId_, 1, 1);
  options->addWidget(alsoFindConfigured_, 2, 0, 1, 2);
  options->addWidget(fastScan_, 3, 0, 1, 2);
  options->addWidget(classicScan_, 4, 0, 1, 2);
  layout->addLayout(options);

  auto* buttons = new QHBoxLayout;
  start_ = new QPushButton(QStringLiteral("START"), this);
  start_->setObjectName(QStringLiteral("Btn_Start"));
  stop_ = new QPushButton(QStringLiteral("STOP"), this);
  stop_->setObjectName(QStringLiteral("Btn_Stop"));
  more_ = new QPushButton(QStringLiteral("More.."), this);
  more_->setObjectName(QStringLiteral("Btn_More"));
  close_ = new QPushButton(QStringLiteral("Close"), this);
  close_->setObjectName(QStringLiteral("Btn_Close"));
  for (QPushButton* b : {start_, stop_, more_, close_}) buttons->addWidget(b);
  layout->addLayout(buttons);

  moreMenu_ = new QMenu(this);
  enableSlave_ = moreMenu_->addAction(QStringLiteral("Enable built-in LSS SLAVE"));
  enableSlave_->setCheckable(true);
  includeSlave_ = moreMenu_->addAction(QStringLiteral("Include built-in LSS SLAVE in the master's scan"));
  includeSlave_->setCheckable(true);
  scanDelay_ = moreMenu_->addAction(QStringLiteral("Scan delay"));
  QAction* about = moreMenu_->addAction(QStringLiteral("About CANopen LSS ..."));
  connect(moreMenu_, &QMenu::aboutToShow, this, [this] {
    const LssSettings& s = app_.settings().lss;
    enableSlave_->setChecked(s.slaveEnabled());
    includeSlave_->setChecked((s.masterOptions & kLssIncludeBuiltInSlave) != 0);
    scanDelay_->setText(QStringLiteral("Scan &Delay (time between two requests): %1 ms")
                            .arg(static_cast<int>(std::ceil(s.scanDelayUs / 1000.0))));
  });
  connect(enableSlave_, &QAction::triggered, this,
          [this] { app_.settings().lss.slaveOptions ^= LssSettings::kSlaveDisabled; });
  connect(includeSlave_, &QAction::triggered, this,
          [this] { app_.settings().lss.masterOptions ^= kLssIncludeBuiltInSlave; });
  connect(scanDelay_, &QAction::triggered, this, &LssMasterWindow::editScanDelay);
  connect(about, &QAction::triggered, this, [this] {
    app_.ui().showMessageBox("About CANopen LSS",
                             "Layer setting services find CANopen devices without a node ID by their identity "
                             "(vendor, product code, revision, serial number) and give them a node ID and a bit "
                             "rate. The built-in LSS slave answers with the identity of the local dictionary.");
  });
  connect(more_, &QPushButton::clicked, this, [this] { moreMenu_->popup(more_->mapToGlobal(QPoint(0, more_->height()))); });
  connect(start_, &QPushButton::clicked, this, &LssMasterWindow::start);
  connect(stop_, &QPushButton::clicked, this, [this] {
    app_.lss().stop();
    refresh();
  });
  connect(close_, &QPushButton::clicked, this, &QWidget::close);

  timer_.setObjectName(QStringLiteral("Timer1"));
  timer_.setInterval(kTimerMs);
  connect(&timer_, &QTimer::timeout, this, &LssMasterWindow::refresh);
}

void LssMasterWindow::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  const int busKbit = app_.settings().bus[0].baudrate;
  for (int i = 0; i < 7; ++i)
    if (kRates[i] == busKbit) baudrates_->setCurrentIndex(i);
  switchBaudrate_->setChecked(false);
  assignNodeIds_->setChecked(true);
  alsoFindConfigured_->setChecked((app_.settings().lss.masterOptions & kLssFindConfigured) != 0);
  fastScan_->setChecked(true);
  if (firstNodeId_->text().isEmpty()) {
    const int first = app_.settings().lss.wantedFirstNodeId;
    firstNodeId_->setText(QString::number(first >= 1 ? first : 1));
  }
  shownChanges_ = ~uint64_t{0};
  refresh();
}

void LssMasterWindow::start() {
  LssSettings& s = app_.settings().lss;
  int bits = s.masterOptions & kLssIncludeBuiltInSlave;
  if (assignNodeIds_->isChecked()) bits |= kLssAssignNodeIds;
  if (switchBaudrate_->isChecked() && baudrates_->currentIndex() >= 0) bits |= kLssSwitchBitRate;
  if (alsoFindConfigured_->isChecked()) bits |= kLssFindConfigured;
  bits |= classicScan_->isChecked() ? kLssClassicScan : kLssFastScan;
  s.masterOptions = bits;
  bool ok = false;
  const int first = firstNodeId_->text().trimmed().toInt(&ok);
  s.wantedFirstNodeId = ok ? first : 1;
  if (baudrates_->currentIndex() >= 0) s.wantedCanBaudrate = kRates[baudrates_->currentIndex()];
  results_->clear();
  shownChanges_ = ~uint64_t{0};
  app_.lss().start(app_.lss().optionsFromSettings());
  timer_.start();
  refresh();
}

void LssMasterWindow::refresh() {
  const LssMasterState& master = app_.lss().master();
  info_->setText(CoreTextToQt(app_.lss().infoLine()));
  const bool found = master.step() == LssMasterState::kFinished && !master.slaves().empty();
  close_->setText(found ? QStringLiteral("Continue..") : QStringLiteral("Close"));
  if (master.changeCount() != shownChanges_) {
    shownChanges_ = master.changeCount();
    const int row = results_->currentRow();
    results_->clear();
    for (const std::string& line : master.resultLines()) results_->addItem(CoreTextToQt(line));
    if (row >= 0 && row < results_->count()) results_->setCurrentRow(row);
  }
  if (!master.running()) timer_.stop();
}

void LssMasterWindow::editScanDelay() {
  LssSettings& s = app_.settings().lss;
  std::string text = std::to_string(static_cast<int>(std::ceil(s.scanDelayUs / 1000.0)));
  if (!app_.ui().enterString("LSS Scan delay in milliseconds", "(throttles the scanning speed)", text)) return;
  char* end = nullptr;
  const long ms = std::strtol(text.c_str(), &end, 10);
  if (end != text.c_str() && ms >= 0 && ms <= 10000) s.scanDelayUs = static_cast<int>(ms * 1000);
}

void LssMasterWindow::closeEvent(QCloseEvent* event) {
  const int row = results_->currentRow();
  const auto& slaves = app_.lss().master().slaves();
  offeredNodeId_ = row >= 0 && row < static_cast<int>(slaves.size()) ? slaves[static_cast<size_t>(row)].nodeId : -1;
  app_.lss().stop();
  timer_.stop();
  if (offeredNodeId_ >= 1 && offeredNodeId_ <= 127) emit nodeIdOffered(offeredNodeId_);
  QWidget::closeEvent(event);
}

}  // namespace busprobe
