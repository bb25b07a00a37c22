// The "CANopen Node Scanner" window: START/STOP, the list of nodes found and the info line of the
// scanner's step. The scanner runs on the application's tick and its frames; this window only shows
// it. It is destroyed when closed; the node ID of the line selected then goes to the caller.
#pragma once

#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QTimer>
#include <QWidget>

#include "app/application.h"

namespace busprobe {

class NodeScannerWindow : public QWidget {
  Q_OBJECT

 public:
  static constexpr int kTimerMs = 50;

  explicit NodeScannerWindow(Application& app, QWidget* parent = nullptr);

  // START: table and list cleared, the scanner's first step on the next tick.
  void start();
  // Rebuilds the info line and adds the lines found since the last refresh.
  void refresh();
  // The node ID of the line selected when the window closed; -1: none.
  int offeredNodeId() const { return offeredNodeId_; }

 signals:
  void nodeIdOffered(int nodeId);

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  Application& app_;
  QListWidget* results_;
  QLabel* info_;
  QPushButton* start_;
  QPushButton* stop_;
  QPushButton* close_;
  QTimer timer_;
  int offeredNodeId_ = -1;
};

}  // namespace busprobe
