#include "gui/main_window.h"

#include <QFontDatabase>
#include <QGuiApplication>
#include <QLayout>
#include <QMenu>
#include <QMenuBar>
#include <QScreen>
#include <QStatusBar>
#include <QVBoxLayout>
#include <algorithm>

#include "gui/gui_user_interface.h"

namespace busprobe {

namespace {
QLabel* MakeTitle(const QString& text, QWidget* parent) {
  auto* label = new QLabel(text, parent);
  label->setContentsMargins(2, 0, 2, 0);
  return label;
}

QPlainTextEdit* MakeTextArea(const QString& name, bool readOnly, QWidget* parent) {
  auto* editor = new QPlainTextEdit(parent);
  editor->setObjectName(name);
  editor->setReadOnly(readOnly);
  editor->setLineWrapMode(QPlainTextEdit::NoWrap);
  editor->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  if (readOnly) editor->setUndoRedoEnabled(false);
  return editor;
}

void StackTitleAndText(QWidget* pane, QLabel* title, QPlainTextEdit* editor) {
  auto* layout = new QVBoxLayout(pane);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(2);
  layout->addWidget(title);
  layout->addWidget(editor, 1);
}
}  // namespace

TrafficPane::TrafficPane(const QString& title, const QString& name, QWidget* parent)
    : QWidget(parent), title_(MakeTitle(title, this)), editor_(MakeTextArea(name, true, this)) {
  StackTitleAndText(this, title_, editor_);
}

CommandPane::CommandPane(CommandFile& file, QWidget* parent)
    : QWidget(parent),
      file_(file),
      title_(MakeTitle(QString(), this)),
      editor_(MakeTextArea(QStringLiteral("RichEd_Command"), false, this)) {
  StackTitleAndText(this, title_, editor_);
  connect(editor_, &QPlainTextEdit::textChanged, this, &CommandPane::takeEdit);
  showFile();
}

void CommandPane::showFile() {
  QString shown = CoreTextToQt(file_.text(), &latin1_);
  // The editor keeps bare line feeds; a file written with CR LF gets them back on every edit.
  crlf_ = shown.contains(QStringLiteral("\r\n"));
  shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  loading_ = true;
  editor_->setPlainText(shown);
  loading_ = false;
  refreshTitle();
}

void CommandPane::refreshTitle() {
  QString title = file_.path().empty() ? QStringLiteral("Command window") : CoreTextToQt(file_.path());
  if (file_.modified()) title += QStringLiteral("  (modified)");
  if (title_->text() != title) title_->setText(title);
}

void CommandPane::takeEdit() {
  if (loading_) return;
  QString text = editor_->toPlainText();
  if (crlf_) text.replace(QStringLiteral("\n"), QStringLiteral("\r\n"));
  file_.setText(latin1_ ? text.toLatin1().toStdString() : text.toStdString());
  refreshTitle();
}

MainWindow::MainWindow(Application& app, QWidget* parent)
    : QMainWindow(parent),
      app_(app),
      hSplit_(new QSplitter(Qt::Horizontal)),
      vSplit_(new QSplitter(Qt::Vertical)),
      status_(new QLabel) {
  setObjectName(QStringLiteral("BusprobeW"));
  setWindowTitle(CoreTextToQt(app_.caption()));

  rx_ = new RxPane(hSplit_);
  tx_ = new TxPane(hSplit_);
  hSplit_->setObjectName(QStringLiteral("Split_Rx"));
  hSplit_->addWidget(rx_);
  hSplit_->addWidget(tx_);

  command_ = new CommandPane(app_.commandFile(), vSplit_);
  messages_ = new MessagesPane(app_.messages(), vSplit_);
  vSplit_->setObjectName(QStringLiteral("Split_Main"));
  vSplit_->addWidget(hSplit_);
  vSplit_->addWidget(command_);
  vSplit_->addWidget(messages_);
  // When the window grows, the script gets the room; the panes keep the sizes the user chose.
  vSplit_->setStretchFactor(0, 0);
  vSplit_->setStretchFactor(1, 1);
  vSplit_->setStretchFactor(2, 0);
  setCentralWidget(vSplit_);

  status_->setObjectName(QStringLiteral("Lab_MsgTest"));
  statusBar()->addWidget(status_, 1);

  buildMenus();
  connect(messages_, &MessagesPane::zoomRequested, this, [this] { toggleZoom(messages_); });

  timer_.setInterval(kTickMs);
  connect(&timer_, &QTimer::timeout, this, &MainWindow::tick);

  applyGeometry();
}

void MainWindow::buildMenus() {
  QMenu* file = menuBar()->addMenu(QStringLiteral("&File"));
  QAction* exitWithoutSaving = file->addAction(QStringLiteral("Exit &without saving the configuration"));
  exitWithoutSaving->setObjectName(QStringLiteral("MI_ExitWithoutSaving"));
  connect(exitWithoutSaving, &QAction::triggered, this, &MainWindow::closeWithoutSaving);
  QAction* exit = file->addAction(QStringLiteral("E&xit"));
  exit->setObjectName(QStringLiteral("Menu_Exit"));
  connect(exit, &QAction::triggered, this, &QWidget::close);

  QMenu* messages = menuBar()->addMenu(QStringLiteral("&Messages"));
  QAction* clear = messages->addAction(QStringLiteral("&Clear 'Messages' window"));
  clear->setObjectName(QStringLiteral("MI_ClearMessages"));
  connect(clear, &QAction::triggered, this, [this] { app_.messages().clear(); });

  QMenu* categories = messages->addMenu(QStringLiteral("enable text messages ..."));
  struct Category {
    const char* caption;
    const char* name;
    bool MessageLog::*flag;
  };
  static constexpr Category kCategories[] = {
      {"..from CAN driver", "MI_MsgCanDriver", &MessageLog::canDriverMessages},
      {"..from SDO protocol", "MI_MsgSdo", &MessageLog::sdoMessages},
      {"..from Interpreter", "MI_MsgInterpreter", &MessageLog::interpreterMessages},
  };
  static_assert(std::size(kCategories) == std::tuple_size_v<decltype(categoryActions_)>);
  for (size_t i = 0; i < std::size(kCategories); ++i) {
    QAction* action = categories->addAction(QString::fromLatin1(kCategories[i].caption));
    action->setObjectName(QString::fromLatin1(kCategories[i].name));
    action->setCheckable(true);
    const auto flag = kCategories[i].flag;
    connect(action, &QAction::toggled, this, [this, flag](bool on) { app_.messages().*flag = on; });
    categoryActions_[i] = action;
  }
  // Scripts switch the categories too; the marks are read back whenever the menu opens.
  connect(messages, &QMenu::aboutToShow, this, &MainWindow::syncCategoryChecks);
  connect(categories, &QMenu::aboutToShow, this, &MainWindow::syncCategoryChecks);
  syncCategoryChecks();
}

void MainWindow::syncCategoryChecks() {
  const MessageLog& log = app_.messages();
  const bool flags[] = {log.canDriverMessages, log.sdoMessages, log.interpreterMessages};
  for (size_t i = 0; i < categoryActions_.size(); ++i) categoryActions_[i]->setChecked(flags[i]);
}

void MainWindow::applyGeometry() {
  const MainWindowSettings& s = app_.windowSettings();
  QScreen* screen = QGuiApplication::primaryScreen();
  const QRect area = screen ? screen->availableGeometry() : QRect(0, 0, kDefaultWidth, kDefaultHeight);
  const int w = s.width > 0 ? s.width : std::min(kDefaultWidth, area.width());
  const int h = s.height > 0 ? s.height : std::min(kDefaultHeight, area.height());

  // Without a stored position the window is centred; further copies are moved down and right so
  // that they do not hide the first one exactly.
  const int offset = kInstanceOffset * app_.instanceNumber();
  const QPoint design(area.x() + std::max(0, (area.width() - w) / 2) + offset,
                      area.y() + std::max(0, (area.height() - h) / 2) + offset);
  QPoint pos(s.left != -1 ? s.left : design.x(), s.top != -1 ? s.top : design.y());

  // A position stored while another monitor was attached could leave the window out of reach:
  // its top left corner (where the title bar is) must be on some screen.
  const QRect grip(pos, QSize(std::min(w, 100), std::min(h, 40)));
  bool reachable = false;
  for (const QScreen* candidate : QGuiApplication::screens())
    reachable = reachable || candidate->availableGeometry().intersects(grip);
  if (!reachable && screen) pos = design;

  resize(w, h);
  move(pos);
}

void MainWindow::applyPaneSizes() {
  const MainWindowSettings& s = app_.windowSettings();
  const int clientWidth = vSplit_->width();
  const int clientHeight = vSplit_->height();

  const int rowSpace = std::max(0, clientWidth - hSplit_->handleWidth());
  int rxWidth = s.hSplitRx >= 0 ? std::min(s.hSplitRx, clientWidth - 20) : rowSpace / 2;
  rxWidth = std::clamp(rxWidth, 0, rowSpace);
  hSplit_->setSizes({rxWidth, rowSpace - rxWidth});

  const int columnSpace = std::max(0, clientHeight - 2 * vSplit_->handleWidth());
  int rowHeight = s.vSplitRx >= 0 ? std::min(s.vSplitRx, clientHeight - 40) : columnSpace * 2 / 5;
  rowHeight = std::clamp(rowHeight, 0, columnSpace);
  int messagesHeight = s.vSplitMsg >= 0 ? s.vSplitMsg : columnSpace / 4;
  messagesHeight = std::clamp(messagesHeight, 0, columnSpace - rowHeight);
  vSplit_->setSizes({rowHeight, columnSpace - rowHeight - messagesHeight, messagesHeight});
  paneSizesApplied_ = true;
}

void MainWindow::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  if (paneSizesApplied_) return;
  // The stored sizes are pixels of the final client area, so the layout must be settled first.
  if (layout()) layout()->activate();
  applyPaneSizes();
  timer_.start();
  // The first start-up step runs as soon as the window is up, not one interval later.
  QTimer::singleShot(0, this, &MainWindow::tick);
}

void MainWindow::tick() {
  if (inTick_ || closed_) return;
  inTick_ = true;
  app_.tick();
  inTick_ = false;
  if (closePending_) {
    closePending_ = false;
    close();
  }
}

void MainWindow::setStatusText(const QString& text) {
  status_->setText(text);
}

void MainWindow::showCommandFile() {
  command_->showFile();
}

void MainWindow::refreshPhase(int phase) {
  if (phase == 2) command_->refreshTitle();
  messages_->refreshTitle();
}

void MainWindow::toggleZoom(QWidget* area) {
  const std::array<QWidget*, 4> areas{rx_, tx_, command_, messages_};
  if (zoomedArea_) {
    for (QWidget* w : areas) w->show();
    hSplit_->show();
    hSplit_->setSizes(normalRowSizes_);
    vSplit_->setSizes(normalColumnSizes_);
    zoomedArea_ = nullptr;
  } else {
    normalRowSizes_ = hSplit_->sizes();
    normalColumnSizes_ = vSplit_->sizes();
    for (QWidget* w : areas) w->setVisible(w == area);
    // The Rx/Tx row is an area of its own in the column; it must go too, or it keeps its height.
    hSplit_->setVisible(area == rx_ || area == tx_);
    zoomedArea_ = area;
  }
  messages_->setZoomed(zoomedArea_ == messages_);
}

void MainWindow::storeLayout() {
  MainWindowSettings& s = app_.windowSettings();
  if (paneSizesApplied_) {
    // While an area is zoomed the visible sizes are not the user's layout; the normal ones are kept.
    const QList<int> row = zoomedArea_ ? normalRowSizes_ : hSplit_->sizes();
    const QList<int> column = zoomedArea_ ? normalColumnSizes_ : vSplit_->sizes();
    s.hSplitRx = row.value(0);
    s.vSplitRx = column.value(0);
    s.vSplitMsg = column.value(2);
  }
  if (!(windowState() & (Qt::WindowMinimized | Qt::WindowMaximized | Qt::WindowFullScreen))) {
    s.left = x();
    s.top = y();
    s.width = width();
    s.height = height();
  }
}

void MainWindow::closeWithoutSaving() {
  saveOnClose_ = false;
  close();
}

void MainWindow::closeEvent(QCloseEvent* event) {
  if (closed_) {
    event->accept();
    return;
  }
  if (inTick_) {
    // A wait loop inside the tick let the close request through; shutting down under the running
    // tick would pull the bus away from it, so the window closes when the tick has returned.
    closePending_ = true;
    event->ignore();
    return;
  }
  closed_ = true;
  timer_.stop();
  storeLayout();
  app_.shutDown(saveOnClose_);
  event->accept();
}

}  // namespace busprobe
