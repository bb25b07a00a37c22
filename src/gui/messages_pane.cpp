#include "gui/messages_pane.h"

#include <QClipboard>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QMenu>
#include <QScrollBar>
#include <QTextDocumentFragment>
#include <QVBoxLayout>

#include "gui/gui_user_interface.h"

namespace busprobe {

MessagesPane::MessagesPane(MessageLog& log, QWidget* parent)
    : QWidget(parent),
      log_(log),
      title_(new QLabel(this)),
      stopButton_(new QPushButton(this)),
      editor_(new QPlainTextEdit(this)),
      zoomAction_(new QAction(QStringLiteral("Zoom In"), this)),
      copyAction_(new QAction(QStringLiteral("Copy to clipboard"), this)),
      clearAction_(new QAction(QStringLiteral("Clear text in message window"), this)),
      variablesAction_(new QAction(QStringLiteral("Show (list) all variables here"), this)) {
  title_->setObjectName(QStringLiteral("Lab_Messages"));
  stopButton_->setObjectName(QStringLiteral("Btn_MsgStop"));
  editor_->setObjectName(QStringLiteral("RichEd_Messages"));
  editor_->setReadOnly(true);
  editor_->setUndoRedoEnabled(false);
  editor_->setLineWrapMode(QPlainTextEdit::NoWrap);
  editor_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  editor_->setContextMenuPolicy(Qt::CustomContextMenu);

  auto* header = new QHBoxLayout;
  header->setContentsMargins(0, 0, 0, 0);
  header->addWidget(title_, 1);
  header->addWidget(stopButton_);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(2);
  layout->addLayout(header);
  layout->addWidget(editor_, 1);

  connect(stopButton_, &QPushButton::clicked, this, [this] {
    log_.stopped = !log_.stopped;
    refreshTitle();
  });
  connect(zoomAction_, &QAction::triggered, this, &MessagesPane::zoomRequested);
  connect(copyAction_, &QAction::triggered, this, &MessagesPane::copyToClipboard);
  // Through the log, so that scripts reading the messages window see it empty too; the log tells
  // the user interface, which clears this view.
  connect(clearAction_, &QAction::triggered, this, [this] { log_.clear(); });
  QScrollBar* bar = editor_->verticalScrollBar();
  connect(bar, &QScrollBar::valueChanged, this,
          [this, bar](int value) { followEnd_ = value >= bar->maximum(); });
  connect(bar, &QScrollBar::rangeChanged, this, [this, bar](int, int maximum) {
    if (followEnd_) bar->setValue(maximum);
  });
  connect(editor_, &QWidget::customContextMenuRequested, this, &MessagesPane::showPopup);

  refreshTitle();
  reloadFromLog();
}

void MessagesPane::syncWithLog() {
  if (log_.clearCount() != clears_) {
    clears_ = log_.clearCount();
    editor_->clear();
  }
  if (log_.appendedCount() == shown_) return;
  syncBlockLimit();
  log_.forEachSince(shown_,
                    [this](const std::string& line) { editor_->appendPlainText(CoreTextToQt(line)); });
  scrollToEnd();
}

void MessagesPane::reloadFromLog() {
  editor_->clear();
  clears_ = log_.clearCount();
  shown_ = log_.appendedCount() - log_.lines().size();
  syncWithLog();
}

void MessagesPane::refreshTitle() {
  title_->setText(log_.stopped ? QStringLiteral("Messages (stopped)") : QStringLiteral("Messages"));
  stopButton_->setText(log_.stopped ? QStringLiteral("Run") : QStringLiteral("Stop"));
}

void MessagesPane::setZoomed(bool zoomed) {
  zoomAction_->setText(zoomed ? QStringLiteral("Zoom Out") : QStringLiteral("Zoom In"));
}

void MessagesPane::syncBlockLimit() {
  // The log keeps one line more than its limit before trimming; the view mirrors it exactly. The
  // limit may change at run time (display settings), so it is checked on every append.
  const int limit = static_cast<int>(log_.maxLines()) + 1;
  if (editor_->maximumBlockCount() != limit) editor_->setMaximumBlockCount(limit);
}

void MessagesPane::scrollToEnd() {
  // Leave a selection the user is making alone; only the view follows the new line then.
  if (!editor_->textCursor().hasSelection()) editor_->moveCursor(QTextCursor::End);
  QScrollBar* bar = editor_->verticalScrollBar();
  bar->setValue(bar->maximum());
}

void MessagesPane::copyToClipboard() {
  const QTextCursor cursor = editor_->textCursor();
  const QString text = cursor.hasSelection() ? cursor.selection().toPlainText() : editor_->toPlainText();
  QGuiApplication::clipboard()->setText(text);
}

void MessagesPane::showPopup(const QPoint& pos) {
  QMenu menu(this);
  menu.addAction(zoomAction_);
  menu.addAction(copyAction_);
  menu.addAction(clearAction_);
  menu.addAction(variablesAction_);
  menu.exec(editor_->viewport()->mapToGlobal(pos));
}

}  // namespace busprobe
