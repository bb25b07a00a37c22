// The messages window: a read-only mirror of the core's MessageLog, where every subsystem reports
// in plain text. It keeps the same number of lines as the log, follows new lines to the end, and
// carries the "Stop"/"Run" switch that only silences the periodic error-frame notice.
#pragma once

#include <QAction>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QWidget>
#include <string>

#include "app/messages.h"

namespace busprobe {

class MessagesPane : public QWidget {
  Q_OBJECT

 public:
  MessagesPane(MessageLog& log, QWidget* parent = nullptr);

  // Shows what the log gained (or lost: emptied) since the last call.
  void syncWithLog();
  // Shows the log's current content (lines written before the window existed included).
  void reloadFromLog();
  // Title and button follow MessageLog::stopped, which scripts may change too.
  void refreshTitle();
  // The caption of the pop-up's zoom item ("Zoom In" / "Zoom Out").
  void setZoomed(bool zoomed);

  QPlainTextEdit* editor() const { return editor_; }
  QLabel* titleLabel() const { return title_; }
  QPushButton* stopButton() const { return stopButton_; }
  QAction* zoomAction() const { return zoomAction_; }
  QAction* copyAction() const { return copyAction_; }
  QAction* clearAction() const { return clearAction_; }
  // "Show (list) all variables here": the main window prints the listing.
  QAction* variablesAction() const { return variablesAction_; }

 signals:
  void zoomRequested();

 private:
  void syncBlockLimit();
  void scrollToEnd();
  void copyToClipboard();
  void showPopup(const QPoint& pos);

  MessageLog& log_;
  uint64_t shown_ = 0;   // log lines shown so far (MessageLog::appendedCount)
  uint64_t clears_ = 0;  // MessageLog::clearCount as last seen
  QLabel* title_;
  QPushButton* stopButton_;
  QPlainTextEdit* editor_;
  QAction* zoomAction_;
  QAction* copyAction_;
  QAction* clearAction_;
  QAction* variablesAction_;
  // The view stays on the newest line while it is there, also when the pane is resized (zoom).
  bool followEnd_ = true;
};

}  // namespace busprobe
