#include "gui/dictionary_scanner_window.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QVBoxLayout>
#include <cstdio>

#include "gui/gui_user_interface.h"

namespace busprobe {

namespace {

QString IndexText(int index) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%04X", static_cast<unsigned>(index));
  return QString::fromLatin1(buf);
}

}  // namespace

DictionaryScannerWindow::DictionaryScannerWindow(Application& app, QWidget* parent)
    : QWidget(parent, Qt::Window), app_(app) {
  setObjectName(QStringLiteral("DictionaryScannerWindow"));
  setWindowTitle(QString::fromLatin1(kTitle));
  setAttribute(Qt::WA_DeleteOnClose);

  nodeId_ = new QLineEdit(this);
  nodeId_->setObjectName(QStringLiteral("Ed_NodeID"));
  from_ = new QLineEdit(this);
  from_->setObjectName(QStringLiteral("Ed_FromObjectIndex"));
  to_ = new QLineEdit(this);
  to_->setObjectName(QStringLiteral("Ed_ToObjectIndex"));
  excluded_ = new QLineEdit(this);
  excluded_->setObjectName(QStringLiteral("Ed_ExcludedObjects"));
  stopOnError_ = new QCheckBox(QStringLiteral("stop on SDO protocol error"), this);
  stopOnError_->setObjectName(QStringLiteral("Chk_StopOnError"));
  progress_ = new QLabel(this);
  progress_->setObjectName(QStringLiteral("Lab_Progress"));
  lastError_ = new QLabel(this);
  lastError_->setObjectName(QStringLiteral("Lab_LastError"));
  start_ = new QPushButton(QStringLiteral("Start"), this);
  start_->setObjectName(QStringLiteral("Btn_Start"));
  stop_ = new QPushButton(QStringLiteral("Stop"), this);
  stop_->setObjectName(QStringLiteral("Btn_Stop"));
  auto* help = new QPushButton(QStringLiteral("&Help"), this);
  help->setObjectName(QStringLiteral("Btn_Help"));

  auto* grid = new QGridLayout;
  grid->addWidget(new QLabel(QStringLiteral("Node ID (decimal) :"), this), 0, 0);
  grid->addWidget(nodeId_, 0, 1);
  grid->addWidget(new QLabel(QStringLiteral("From object index :"), this), 1, 0);
  grid->addWidget(from_, 1, 1);
  grid->addWidget(new QLabel(QStringLiteral("To object index :"), this), 2, 0);
  grid->addWidget(to_, 2, 1);
  grid->addWidget(new QLabel(QStringLiteral("( hexadecimal object indices ! )"), this), 1, 2, 2, 1);
  grid->addWidget(new QLabel(QStringLiteral("Excluded objects :"), this), 3, 0);
  grid->addWidget(excluded_, 3, 1, 1, 2);
  grid->setColumnStretch(1, 1);
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(start_);
  buttons->addWidget(stop_);
  buttons->addStretch(1);
  buttons->addWidget(help);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(grid);
  layout->addWidget(stopOnError_);
  layout->addWidget(progress_);
  layout->addWidget(lastError_);
  layout->addLayout(buttons);
  resize(480, 220);

  connect(start_, &QPushButton::clicked, this, &DictionaryScannerWindow::start);
  connect(stop_, &QPushButton::clicked, this, &DictionaryScannerWindow::stop);
  connect(help, &QPushButton::clicked, this, &DictionaryScannerWindow::showHelp);
  showForm();
  refresh();
}

void DictionaryScannerWindow::showSettings(const DictionaryScanSettings& s) {
  nodeId_->setText(QString::number(s.nodeId));
  from_->setText(IndexText(s.scanFrom));
  to_->setText(IndexText(s.scanTo));
  excluded_->setText(QString::fromStdString(ExcludedRangesText(s.excluded)));
  stopOnError_->setChecked(s.stopOnError());
}

void DictionaryScannerWindow::showForm() {
  showSettings(app_.remoteBrowser().form());
}

void DictionaryScannerWindow::start() {
  DictionaryScanSettings s = app_.remoteBrowser().form();
  bool isNumber = false;
  const int node = nodeId_->text().trimmed().toInt(&isNumber);
  if (isNumber) s.nodeId = node;
  s.scanFrom = ParseScanIndex(from_->text().toStdString(), s.scanFrom);
  s.scanTo = ParseScanIndex(to_->text().toStdString(), s.scanTo);
  s.excluded = ParseExcludedRanges(excluded_->text().toStdString());
  s.options = stopOnError_->isChecked() ? s.options | DictionaryScanSettings::kStopOnError
                                        : s.options & ~DictionaryScanSettings::kStopOnError;
  app_.remoteBrowser().startScan(s);
  showSettings(app_.remoteBrowser().form());
  refresh();
}

void DictionaryScannerWindow::stop() {
  app_.remoteBrowser().stopScan();
  close();
}

void DictionaryScannerWindow::refresh() {
  const DictionaryScanner& scanner = app_.remoteBrowser().scanner();
  progress_->setText(CoreTextToQt(scanner.progressText()));
  lastError_->setText(CoreTextToQt(scanner.lastErrorText()));
}

void DictionaryScannerWindow::showHelp() {
  app_.ui().showMessageBox(
      kTitle,
      "Reads every object of one node, subindex by subindex, into the remote CANopen object dictionary "
      "browser.\n\n"
      "Node ID is decimal; the object indices are hexadecimal, with or without \"0x\". Excluded objects: "
      "up to 20 entries separated by commas, each an index or a range such as 0x1200-0x12FF.\n"
      "An object ends at its first missing subindex. Objects that do not exist are no errors; any other "
      "failed read is counted and shown as the last error. With \"stop on SDO protocol error\" checked, "
      "the first such error ends the scan.\n"
      "\"Stop\" ends the scan; the table keeps what was read so far.");
}

}  // namespace busprobe
