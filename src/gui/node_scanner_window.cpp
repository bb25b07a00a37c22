#include "gui/node_scanner_window.h"

#include <QCloseEvent>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QVBoxLayout>

#include <cstdlib>

#include "gui/gui_user_interface.h"

namespace busprobe {

NodeScannerWindow::NodeScannerWindow(Application& app, QWidget* parent) : QWidget(parent, Qt::Window), app_(app) {
  setWindowTitle(QStringLiteral("CANopen Node Scanner"));
  setAttribute(Qt::WA_DeleteOnClose);
  // The list lines line up in columns under the heading.
  const QFont fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont);
  auto* layout = new QVBoxLayout(this);
  auto* heading = new QLabel(QString::fromLatin1(NodeScanner::kListHeading), this);
  heading->setFont(fixed);
  layout->addWidget(heading);
  results_ = new QListWidget(this);
  results_->setObjectName(QStringLiteral("LB_ScanResults"));
  results_->setFont(fixed);
  layout->addWidget(results_);
  info_ = new QLabel(this);
  info_->setObjectName(QStringLiteral("Lab_Info"));
  layout->addWidget(info_);

  auto* buttons = new QHBoxLayout;
  start_ = new QPushButton(QStringLiteral("START"), this);
  start_->setObjectName(QStringLiteral("Btn_Start"));
  stop_ = new QPushButton(QStringLiteral("STOP"), this);
  stop_->setObjectName(QStringLiteral("Btn_Stop"));
  close_ = new QPushButton(QStringLiteral("Close"), this);
  close_->setObjectName(QStringLiteral("Btn_Close"));
  for (QPushButton* b : {start_, stop_, close_}) buttons->addWidget(b);
  layout->addLayout(buttons);

  connect(start_, &QPushButton::clicked, this, &NodeScannerWindow::start);
  connect(stop_, &QPushButton::clicked, this, [this] {
    app_.nodeScan().stop();
    refresh();
  });
  connect(close_, &QPushButton::clicked, this, &QWidget::close);

  timer_.setObjectName(QStringLiteral("Timer1"));
  timer_.setInterval(kTimerMs);
  connect(&timer_, &QTimer::timeout, this, &NodeScannerWindow::refresh);
  resize(420, 360);
}

void NodeScannerWindow::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  refresh();
}

void NodeScannerWindow::start() {
  results_->clear();
  app_.nodeScan().start();
  timer_.start();
  refresh();
}

void NodeScannerWindow::refresh() {
  const NodeScanSession& scan = app_.nodeScan();
  info_->setText(CoreTextToQt(scan.infoLine()));
  close_->setText(scan.finished() ? QStringLiteral("Continue..") : QStringLiteral("Close"));
  const std::vector<std::string>& lines = scan.scanner().lines();
  // A new start cleared the scanner's list: the window's list follows.
  if (static_cast<size_t>(results_->count()) > lines.size()) results_->clear();
  for (size_t i = static_cast<size_t>(results_->count()); i < lines.size(); ++i)
    results_->addItem(CoreTextToQt(lines[i]));
  if (!scan.active()) timer_.stop();
}

void NodeScannerWindow::closeEvent(QCloseEvent* event) {
  app_.nodeScan().stop();
  timer_.stop();
  // The line begins with the node ID ("%03d 0x...").
  QListWidgetItem* item = results_->currentItem();
  const int node = item ? std::atoi(item->text().toLatin1().constData()) : 0;
  offeredNodeId_ = node > 0 ? node : -1;
  if (node >= 1 && node <= 127) emit nodeIdOffered(node);
  QWidget::closeEvent(event);
}

}  // namespace busprobe
