// The "CANopen Object Dictionary Scanner" window: node, index range, excluded ranges and the
// stop-on-error option of a dictionary scan, its "Start" and "Stop", and the progress and last
// error of the running scan. The scan itself is the remote browser's pass on the application's
// tick; the window is closed and destroyed when a scan ends.
#pragma once

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QWidget>

#include "app/application.h"

namespace busprobe {

class DictionaryScannerWindow : public QWidget {
  Q_OBJECT

 public:
  static constexpr const char* kTitle = "CANopen Object Dictionary Scanner";

  explicit DictionaryScannerWindow(Application& app, QWidget* parent = nullptr);

  // The fields from the session's form (what OpenDictionaryScan prepared).
  void showForm();
  // "Start": the fields into the settings (shown again as they were taken), then the scan.
  void start();
  // "Stop": ends a running scan and closes the window.
  void stop();
  // The progress and last-error lines of the scan.
  void refresh();

  QLineEdit* nodeIdField() const { return nodeId_; }
  QLineEdit* fromField() const { return from_; }
  QLineEdit* toField() const { return to_; }
  QLineEdit* excludedField() const { return excluded_; }
  QCheckBox* stopOnErrorBox() const { return stopOnError_; }
  QLabel* progressLabel() const { return progress_; }
  QLabel* lastErrorLabel() const { return lastError_; }
  QPushButton* startButton() const { return start_; }
  QPushButton* stopButton() const { return stop_; }

 private:
  void showSettings(const DictionaryScanSettings& s);
  void showHelp();

  Application& app_;
  QLineEdit* nodeId_;
  QLineEdit* from_;
  QLineEdit* to_;
  QLineEdit* excluded_;
  QCheckBox* stopOnError_;
  QLabel* progress_;
  QLabel* lastError_;
  QPushButton* start_;
  QPushButton* stop_;
};

}  // namespace busprobe
