// The "LSS Master" window: the master's options, START/STOP, the info line of its step and the list
// of slaves found. The master itself runs on the application's tick; this window only shows it.
#pragma once

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <QWidget>

#include "app/application.h"

namespace busprobe {

class LssMasterWindow : public QWidget {
  Q_OBJECT

 public:
  static constexpr int kTimerMs = 50;

  explicit LssMasterWindow(Application& app, QWidget* parent = nullptr);

  // START: the window's options into the configuration, then the master's first step.
  void start();
  // Rebuilds the info line and, when the master changed, the result list.
  void refresh();
  // The node ID of the line selected when the window closed; -1: none.
  int offeredNodeId() const { return offeredNodeId_; }

 signals:
  void nodeIdOffered(int nodeId);

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  void editScanDelay();

  Application& app_;
  QListWidget* results_;
  QLabel* info_;
  QPushButton* close_;
  QPushButton* start_;
  QPushButton* stop_;
  QPushButton* more_;
  QCheckBox* switchBaudrate_;
  QCheckBox* assignNodeIds_;
  QCheckBox* alsoFindConfigured_;
  QRadioButton* fastScan_;
  QRadioButton* classicScan_;
  QLineEdit* firstNodeId_;
  QComboBox* baudrates_;
  QMenu* moreMenu_;
  QAction* enableSlave_;
  QAction* includeSlave_;
  QAction* scanDelay_;
  QTimer timer_;
  uint64_t shownChanges_ = ~uint64_t{0};
  int offeredNodeId_ = -1;
};

}  // namespace busprobe
