#include "gui/main_window.h"

#include <QCheckBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLayout>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QScreen>
#include <QStatusBar>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <mutex>

#include "canopen/nmt_commands.h"
#include "gui/gui_user_interface.h"

namespace busprobe {

MainWindow::MainWindow(Application& app, QWidget* parent)
    : QMainWindow(parent),
      app_(app),
      hSplit_(new QSplitter(Qt::Horizontal)),
      vSplit_(new QSplitter(Qt::Vertical)),
      status_(new QLabel),
      trafficStatus_(new QLabel),
      lamp_(new LoggerLamp) {
  setObjectName(QStringLiteral("BusprobeW"));
  setWindowTitle(CoreTextToQt(app_.caption()));

  rx_ = new TrafficPane(TrafficPane::Kind::Rx, app_.traffic().rxList(), hSplit_);
  tx_ = new TrafficPane(TrafficPane::Kind::Tx, app_.traffic().txList(), hSplit_);
  hSplit_->setObjectName(QStringLiteral("Split_Rx"));
  hSplit_->addWidget(rx_);
  hSplit_->addWidget(tx_);

  command_ = new CommandPane(app_.commandFile(), app_.windowSettings(), vSplit_);
  command_->attachProgram(&app_.program());
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
  trafficStatus_->setObjectName(QStringLiteral("Lab_Status"));
  trafficStatus_->setText(QStringLiteral("-"));
  statusBar()->addWidget(status_, 1);
  statusBar()->addPermanentWidget(trafficStatus_);
  statusBar()->addPermanentWidget(lamp_);

  buildMenus();
  connectPanes();
  connect(messages_, &MessagesPane::zoomRequested, this, [this] { toggleZoom(messages_); });
  connect(messages_->variablesAction(), &QAction::triggered, this,
          [this] { app_.scripts().printVariables(); });
  connect(command_->zoomAction(), &QAction::triggered, this, [this] { toggleZoom(command_); });
  connect(command_->findAction(), &QAction::triggered, this, [this] { findInCommandWindow(); });

  // One precise single-shot timer, set each time for when the run loop next has work: the tick,
  // the player's steps, a running script's slices.
  timer_.setSingleShot(true);
  timer_.setTimerType(Qt::PreciseTimer);
  connect(&timer_, &QTimer::timeout, this, &MainWindow::runLoop);

  applyDisplaySettings();
  // Whatever the core holds already (lists, header texts) is shown from the start.
  refreshFrameList(TrafficPaths::kRxList);
  refreshFrameList(TrafficPaths::kTxList);
  showTrafficHeaders(app_.trafficDisplay().headers());
  setStatusText(CoreTextToQt(app_.statusLabel()));
  applyGeometry();
}

MainWindow::~MainWindow() = default;

void MainWindow::buildMenus() {
  buildFileMenu();
  buildSettingsMenu();
  buildViewMenu();
  buildRunMenu();
  buildMessagesMenu();

  pauseAction_ = menuBar()->addAction(caption("&Pause !"));
  pauseAction_->setObjectName(QStringLiteral("MI_Pause"));
  connect(pauseAction_, &QAction::triggered, this, [this] { app_.trafficDisplay().togglePause(); });
  QAction* trigger = menuBar()->addAction(caption("Tr&igger"));
  trigger->setObjectName(QStringLiteral("MI_Trigger"));
  connect(trigger, &QAction::triggered, this, &MainWindow::openTriggerWindow);

  buildToolsMenu();
}

void MainWindow::buildFileMenu() {
  QMenu* file = menuBar()->addMenu(caption("&File"));
  QAction* load = file->addAction(caption("&Load Command File"));
  load->setObjectName(QStringLiteral("MI_LoadCommandFile"));
  connect(load, &QAction::triggered, this, [this] { loadCommandFile(); });
  QAction* save = file->addAction(caption("&Save Command File"));
  save->setObjectName(QStringLiteral("MI_SaveCommandFile"));
  connect(save, &QAction::triggered, this, [this] { saveCommandFile(); });
  recentMenu_ = file->addMenu(caption("&Recent files ..."));
  recentMenu_->setObjectName(QStringLiteral("MI_RecentFiles"));
  for (size_t i = 0; i < recentActions_.size(); ++i) {
    QAction* recent = recentMenu_->addAction(QString());
    recent->setObjectName(QStringLiteral("MI_RecentFile%1").arg(i));
    connect(recent, &QAction::triggered, this, [this, i] {
      // The list may have changed since the caption was made; the entry is read when chosen.
      const std::string& path = app_.windowSettings().recentFiles[i];
      if (!path.empty()) loadCommandFile(CoreTextToQt(path));
    });
    recentActions_[i] = recent;
  }
  connect(recentMenu_, &QMenu::aboutToShow, this, &MainWindow::refreshFileMenu);
  file->addSeparator();
  QAction* play = file->addAction(caption("&Play CAN-Logfile"));
  play->setObjectName(QStringLiteral("MI_PlayLogfile"));
  connect(play, &QAction::triggered, this, &MainWindow::playLogfile);
  QAction* record = file->addAction(caption("Record &CAN-Logfile"));
  record->setObjectName(QStringLiteral("MI_RecordLogfile"));
  connect(record, &QAction::triggered, this, &MainWindow::recordLogfile);
  loggerStatus_ = file->addAction(QString());
  loggerStatus_->setObjectName(QStringLiteral("MI_LoggerStatus"));
  connect(loggerStatus_, &QAction::triggered, this, &MainWindow::stopPlayerAndRecorder);
  connect(file, &QMenu::aboutToShow, this, &MainWindow::refreshFileMenu);
  refreshFileMenu();
  file->addSeparator();

  QAction* exitWithoutSaving = file->addAction(caption("Exit &without saving the configuration"));
  exitWithoutSaving->setObjectName(QStringLiteral("MI_ExitWithoutSaving"));
  connect(exitWithoutSaving, &QAction::triggered, this, &MainWindow::closeWithoutSaving);
  QAction* exit = file->addAction(caption("E&xit"));
  exit->setObjectName(QStringLiteral("Menu_Exit"));
  connect(exit, &QAction::triggered, this, &QWidget::close);
}

void MainWindow::buildSettingsMenu() {
  QMenu* settings = menuBar()->addMenu(caption("S&ettings"));
  struct Item {
    const char* caption;
    const char* name;
    const char* tab;
  };
  static constexpr Item kItems[] = {
      {"&CAN settings (for user)", "MI_CanSettings", SettingsWindow::kTabCan},
      {"&Display settings", "MI_DisplaySettings", SettingsWindow::kTabDisplay},
      {"More display settings", "MI_MoreDisplaySettings", SettingsWindow::kTabOptions},
      {"&Logger / Logfile-Player", "MI_LoggerSettings", SettingsWindow::kTabLogging},
      {"Command &program settings", "MI_ProgramSettings", SettingsWindow::kTabOptions},
      {"&SDO client and server", "MI_SdoSettings", SettingsWindow::kTabSdo},
      {"Di&rectories", "MI_Directories", SettingsWindow::kTabDirectories},
      {"Signals", "MI_Signals", SettingsWindow::kTabSignals},
  };
  for (const Item& item : kItems) {
    QAction* action = settings->addAction(caption(item.caption));
    action->setObjectName(QString::fromLatin1(item.name));
    const QString tab = QString::fromLatin1(item.tab);
    connect(action, &QAction::triggered, this, [this, tab] { openSettings(tab); });
    if (std::strcmp(item.name, "MI_Signals") == 0) signalsAction_ = action;
  }
  settings->addSeparator();
  QAction* trigger = settings->addAction(caption("&Trigger settings"));
  trigger->setObjectName(QStringLiteral("MI_TriggerSettings"));
  connect(trigger, &QAction::triggered, this, &MainWindow::openTriggerWindow);
  QAction* interfaceSetup = settings->addAction(caption("CAN &Interface Setup.."));
  interfaceSetup->setObjectName(QStringLiteral("MI_CANInterfaceSetup"));
  connect(interfaceSetup, &QAction::triggered, this, &MainWindow::Menu_CANInterfaceSetupClick);
  connect(settings, &QMenu::aboutToShow, this, &MainWindow::refreshSettingsMenu);
  refreshSettingsMenu();
}

void MainWindow::buildViewMenu() {
  QMenu* view = menuBar()->addMenu(caption("&View"));
  combinedAction_ = view->addAction(caption("Combined RX+TX window"));
  combinedAction_->setObjectName(QStringLiteral("MI_Combined"));
  combinedAction_->setCheckable(true);
  connect(combinedAction_, &QAction::triggered, this, [this] { app_.trafficDisplay().toggleRxTxCombined(); });
  connect(view, &QMenu::aboutToShow, this,
          [this] { combinedAction_->setChecked(app_.settings().display.rxTxCombined); });
  combinedAction_->setChecked(app_.settings().display.rxTxCombined);
  QAction* variables = view->addAction(caption("Show Variables in the 'Messages'  list"));
  variables->setObjectName(QStringLiteral("MI_ShowVariables"));
  connect(variables, &QAction::triggered, this, [this] { app_.scripts().printVariables(); });
}

void MainWindow::buildRunMenu() {
  runMenu_ = menuBar()->addMenu(caption("&Run"));
  const auto add = [this](const char* caption, const char* name, auto&& handler) {
    QAction* action = runMenu_->addAction(this->caption(caption));
    action->setObjectName(QString::fromLatin1(name));
    connect(action, &QAction::triggered, this, handler);
    return action;
  };
  add("&Run/Stop command program", "MI_RunStop", [this] {
    if (app_.program().running()) {
      app_.program().stop();
      command_->refreshRunState();
    } else {
      runControl([](ScriptProgram& p, int) { p.run(); });
    }
  });
  add("Run from Cursor", "MI_RunFromCursor",
      [this] { runControl([](ScriptProgram& p, int caret) { p.runFromCursor(caret); }); });
  labelMenu_ = runMenu_->addMenu(caption("Run from Label"));
  labelMenu_->setObjectName(QStringLiteral("MI_RunFromLabel"));
  singleStepAction_ = add("&Single Step", "MI_SingleStep",
                          [this] { runControl([](ScriptProgram& p, int) { p.singleStep(); }); });
  add("Single Step from Cursor", "MI_SingleStepFromCursor",
      [this] { runControl([](ScriptProgram& p, int caret) { p.singleStepFromCursor(caret); }); });
  add("&Continue", "MI_Continue",
      [this] { runControl([](ScriptProgram& p, int caret) { p.continueRun(caret); }); });
  add("this &Line again", "MI_LineAgain", [this] {
    app_.program().executeTextOnce(command_->caretLineText());
    command_->refreshRunState();
  });
  runMenu_->addSeparator();
  add("Forget Execution History (blue 'been-here' markers)", "MI_ForgetHistory", [this] {
    app_.program().markers().forgetHistory();
    command_->editor()->redrawMargin();
  });
  add("Kill All Breakpoints (in the test script)", "MI_KillBreakpoints", [this] {
    app_.program().markers().killBreakpoints();
    command_->editor()->redrawMargin();
  });
  scrollToCurrentAction_ = add("Scroll to current instruction", "MI_ScrollToCurrent",
                               [this] { command_->showProgramLine(app_.program().programCounter()); });
  add("Show Call Stack in the 'Messages'  list", "MI_ShowCallStack",
      [this] { app_.scripts().printCallStack(); });
  connect(runMenu_, &QMenu::aboutToShow, this, &MainWindow::refreshRunMenu);
  connect(labelMenu_, &QMenu::aboutToShow, this, &MainWindow::refreshRunMenu);
  refreshRunMenu();
}

void MainWindow::refreshRunMenu() {
  const QString line = QString::number(app_.program().programCounter() + 1);
  singleStepAction_->setText(QStringLiteral("&Single Step line ") + line);
  scrollToCurrentAction_->setText(QStringLiteral("Scroll to current instruction (line ") + line +
                                  QLatin1Char(')'));
  // The script may have changed since the menu was last open; its labels are read again.
  labelMenu_->clear();
  for (const std::string& label : app_.program().labels()) {
    QString caption = CoreTextToQt(label);
    // Labels are names; an "&" could only come from a broken line and must not become a shortcut.
    caption.replace(QLatin1Char('&'), QStringLiteral("&&"));
    QAction* action = labelMenu_->addAction(caption);
    connect(action, &QAction::triggered, this,
            [this, label] { runControl([&label](ScriptProgram& p, int) { p.runFromLabel(label); }); });
  }
  labelMenu_->menuAction()->setEnabled(!labelMenu_->isEmpty());
}

void MainWindow::runControl(const std::function<void(ScriptProgram&, int caretLine)>& command) {
  command_->runStarting();
  command(app_.program(), command_->editor()->caretLine());
  command_->refreshRunState();
}

void MainWindow::buildMessagesMenu() {
  QMenu* messages = menuBar()->addMenu(caption("&Messages"));
  QAction* reset = messages->addAction(caption("&Reset message counters"));
  reset->setObjectName(QStringLiteral("MI_ResetCounters"));
  connect(reset, &QAction::triggered, this, [this] { app_.traffic().ResetMessageCounters(); });
  QAction* clear = messages->addAction(caption("&Clear 'Messages' window"));
  clear->setObjectName(QStringLiteral("MI_ClearMessages"));
  connect(clear, &QAction::triggered, this, [this] { app_.messages().clear(); });
  QAction* report = messages->addAction(caption("Generate CAN &Statistic Report"));
  report->setObjectName(QStringLiteral("MI_StatisticReport"));
  connect(report, &QAction::triggered, this, [this] {
    const int baud[2] = {app_.settings().bus[0].baudrate, app_.settings().bus[1].baudrate};
    app_.traffic().PrintBusStatistics(baud);
  });

  QMenu* categories = messages->addMenu(caption("enable text messages ..."));
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

void MainWindow::showLssMaster() {
  if (lssWindow_ == nullptr) {
    lssWindow_ = new LssMasterWindow(app_, this);
    lssWindow_->setObjectName(QStringLiteral("LssMasterWindow"));
    // The slave picked in the list is the one the SDO client talks to next.
    connect(lssWindow_, &LssMasterWindow::nodeIdOffered, this, [this](int nodeId) {
      app_.settings().sdo.clientNodeId = nodeId;
      app_.canopen().markSettingsChanged();
    });
  }
  lssWindow_->show();
  lssWindow_->raise();
}

void MainWindow::showNodeScanner() {
  if (nodeScannerWindow_.isNull()) {
    nodeScannerWindow_ = new NodeScannerWindow(app_, this);
    nodeScannerWindow_->setObjectName(QStringLiteral("NodeScannerWindow"));
    connect(nodeScannerWindow_, &NodeScannerWindow::nodeIdOffered, this, [this](int nodeId) {
      app_.settings().sdo.clientNodeId = nodeId;
      app_.canopen().markSettingsChanged();
    });
  }
  nodeScannerWindow_->show();
  nodeScannerWindow_->raise();
}

void MainWindow::buildToolsMenu() {
  QMenu* tools = menuBar()->addMenu(caption("&Tools"));
  sdoServerAction_ = tools->addAction(caption("SDO &Server (active)"));
  sdoServerAction_->setObjectName(QStringLiteral("MI_SdoServer"));
  connect(sdoServerAction_, &QAction::triggered, this,
          [this] { showDictionaryBrowser(DictionaryBrowserWindow::Kind::kLocal); });
  sdoClientAction_ = tools->addAction(caption("SDO &Client (active)"));
  sdoClientAction_->setObjectName(QStringLiteral("MI_SdoClient"));
  connect(sdoClientAction_, &QAction::triggered, this, &MainWindow::openSdoSettings);
  QAction* local = tools->addAction(caption("&Local CANopen OD browser"));
  local->setObjectName(QStringLiteral("MI_LocalOdBrowser"));
  connect(local, &QAction::triggered, this,
          [this] { showDictionaryBrowser(DictionaryBrowserWindow::Kind::kLocal); });
  QAction* remote = tools->addAction(caption("&Remote CANopen OD browser"));
  remote->setObjectName(QStringLiteral("MI_RemoteOdBrowser"));
  connect(remote, &QAction::triggered, this,
          [this] { showDictionaryBrowser(DictionaryBrowserWindow::Kind::kRemote); });
  QAction* lss = tools->addAction(caption("CANopen LSS Master to scan for / configure remote slaves"));
  lss->setObjectName(QStringLiteral("MI_LssMaster"));
  connect(lss, &QAction::triggered, this, &MainWindow::showLssMaster);
  QMenu* odScan = tools->addMenu(caption("Scan remote CANopen OD into browser"));
  odScan->menuAction()->setObjectName(QStringLiteral("MI_ScanRemoteOd"));
  static constexpr struct {
    const char* caption;
    int first, last;
  } kScanRanges[] = {
      {"Communication profile: 0x1000 .. 0x1FFF", 0x1000, 0x1FFF},
      {"Device Profile : 0x6000 .. 0x67FF", 0x6000, 0x67FF},
      {"Manufacturer specific, Range 2 (0x2000 .. 0x2FFF)", 0x2000, 0x2FFF},
      {"Manufacturer specific, Range 3 (0x3000 .. 0x3FFF)", 0x3000, 0x3FFF},
      {"Manufacturer specific, Range 4 (0x4000 .. 0x4FFF)", 0x4000, 0x4FFF},
      {"Manufacturer specific, Range 5 (0x5000 .. 0x5FFF)", 0x5000, 0x5FFF},
      {"Scan everything (very slow)", 0x0000, 0xFFFF},
  };
  for (const auto& range : kScanRanges) {
    QAction* item = odScan->addAction(caption(range.caption));
    const int first = range.first, last = range.last;
    connect(item, &QAction::triggered, this, [this, first, last] { openDictionaryScan(first, last); });
  }
  QAction* nodeScan = tools->addAction(caption("Scan for CANopen slaves in the network (using SDO)"));
  nodeScan->setObjectName(QStringLiteral("MI_NodeScanner"));
  connect(nodeScan, &QAction::triggered, this, &MainWindow::showNodeScanner);
  connect(tools, &QMenu::aboutToShow, this, &MainWindow::refreshToolsMenu);
  refreshToolsMenu();
  tools->addSeparator();
  for (const NmtBroadcastItem& item : NmtBroadcastItems()) {
    const std::string label(item.label);
    QAction* nmt = tools->addAction(caption(label.c_str()));
    const NmtCommand command = item.command;
    connect(nmt, &QAction::triggered, this, [this, command] {
      CanFrame frame = NmtCommandFrame(command);
      app_.TransmitFrame(frame);
    });
  }
  tools->addSeparator();
  QAction* reset = tools->addAction(caption("&Reset CAN hardware"));
  reset->setObjectName(QStringLiteral("MI_ResetCanHardware"));
  connect(reset, &QAction::triggered, this, [this] {
    app_.controllers().resetHardware();
    app_.traffic().ResetMessageCounters();
  });
}

void MainWindow::refreshToolsMenu() {
  const SdoSettings& sdo = app_.settings().sdo;
  sdoServerAction_->setText(
      caption(sdo.serverEnable != 0 ? "SDO &Server (active)" : "SDO &Server (disabled)"));
  sdoClientAction_->setText(
      caption(sdo.clientEnable != 0 ? "SDO &Client (active)" : "SDO &Client (disabled)"));
}

void MainWindow::openSdoSettings() {
  // The settings apply under a transfer that may be waiting for its answer right now.
  if (app_.inSdoWait()) return;
  openSettings(QString::fromLatin1(SettingsWindow::kTabSdo));
}

void MainWindow::showDictionaryBrowser(DictionaryBrowserWindow::Kind kind) {
  DictionaryBrowserWindow*& window =
      kind == DictionaryBrowserWindow::Kind::kRemote ? remoteBrowser_ : localBrowser_;
  if (!window) {
    window = new DictionaryBrowserWindow(app_, kind, this);
    connect(window, &DictionaryBrowserWindow::configureSdoRequested, this, &MainWindow::openSdoSettings);
    connect(window, &DictionaryBrowserWindow::dictionaryScanRequested, this, [this] {
      app_.remoteBrowser().openScanOfBrowserNode();
      showDictionaryScanner();
    });
    connect(window, &DictionaryBrowserWindow::nodeScanRequested, this, &MainWindow::showNodeScanner);
  }
  window->show();
  window->raise();
  window->activateWindow();
}

void MainWindow::openDictionaryScan(int first, int last) {
  app_.remoteBrowser().OpenDictionaryScan(first, last);
  showDictionaryBrowser(DictionaryBrowserWindow::Kind::kRemote);
  showDictionaryScanner();
}

void MainWindow::showDictionaryScanner() {
  if (!scannerWindow_) {
    scannerWindow_ = new DictionaryScannerWindow(app_, this);
    scansSeen_ = app_.remoteBrowser().browser().scansFinished();
  } else if (!app_.remoteBrowser().browser().scanning()) {
    scannerWindow_->showForm();
  }
  scannerWindow_->show();
  scannerWindow_->raise();
  scannerWindow_->activateWindow();
}

void MainWindow::refreshDictionaryScan() {
  if (!scannerWindow_) return;
  const int finished = app_.remoteBrowser().browser().scansFinished();
  if (finished != scansSeen_) {
    scansSeen_ = finished;
    // Closing destroys it; the remote browser shows the outcome.
    scannerWindow_->close();
    return;
  }
  scannerWindow_->refresh();
}

void MainWindow::connectPanes() {
  // Rx pane: Stop/Run, a double-click on the title combines Rx and Tx, a double-click on the list
  // type switches history and sorted.
  connect(rx_->stopButton(), &QPushButton::clicked, this,
          [this] { app_.trafficDisplay().toggleRxStopped(); });
  connect(rx_->titleLabel(), &ClickLabel::doubleClicked, this,
          [this] { app_.trafficDisplay().toggleRxTxCombined(); });
  connect(rx_->listTypeLabel(), &ClickLabel::doubleClicked, this,
          [this] { app_.trafficDisplay().toggleListType(TrafficPaths::kRxList); });
  connect(rx_->eraseButton(), &QPushButton::clicked, this,
          [this] { app_.trafficDisplay().EraseList(TrafficPaths::kRxList); });
  connect(rx_, &TrafficPane::listTypeChosen, this, [this](int type) {
    app_.trafficDisplay().setListType(TrafficPaths::kRxList, type);
    // A refused change (wait loop) leaves the marks on the item that is in force.
    rx_->setListType(app_.settings().display.rxListType);
  });
  connect(rx_->combinedAction(), &QAction::triggered, this,
          [this] { app_.trafficDisplay().toggleRxTxCombined(); });
  connect(rx_->findAction(), &QAction::triggered, this, [this] { findInRxPane(); });

  // Tx pane: a single click on the title separates Rx and Tx, a click on the list type switches.
  connect(tx_->stopButton(), &QPushButton::clicked, this,
          [this] { app_.trafficDisplay().toggleTxStopped(); });
  connect(tx_->titleLabel(), &ClickLabel::clicked, this,
          [this] { app_.trafficDisplay().setRxTxCombined(false); });
  connect(tx_->listTypeLabel(), &ClickLabel::clicked, this,
          [this] { app_.trafficDisplay().toggleListType(TrafficPaths::kTxList); });
  connect(tx_->eraseButton(), &QPushButton::clicked, this,
          [this] { app_.trafficDisplay().EraseList(TrafficPaths::kTxList); });

  for (TrafficPane* pane : {rx_, tx_}) {
    connect(pane->zoomAction(), &QAction::triggered, this, [this, pane] { toggleZoom(pane); });
    connect(pane->settingsAction(), &QAction::triggered, this,
            [this] { openSettings(QString::fromLatin1(SettingsWindow::kTabDisplay)); });
  }

  connect(lamp_->recordAction(), &QAction::triggered, this, &MainWindow::recordLogfile);
  connect(lamp_->playAction(), &QAction::triggered, this, &MainWindow::playLogfile);
  connect(lamp_->stopAction(), &QAction::triggered, this, &MainWindow::stopPlayerAndRecorder);
  connect(lamp_->configureAction(), &QAction::triggered, this,
          [this] { openSettings(QString::fromLatin1(SettingsWindow::kTabLogging)); });
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
  // The first start-up step runs as soon as the window is up, not one interval later.
  timer_.start(0);
}

void MainWindow::runLoop() {
  if (closed_) return;
  const uint64_t ticksBefore = app_.tickCount();
  const double next = app_.runLoop().runDue();
  if (app_.tickCount() != ticksBefore) afterTick();
  if (closed_) return;
  // Never longer than a tick: a script started from a menu between two runs gets its slices soon.
  const double wait = std::clamp(next - app_.clock().nowMs(), 0.0, static_cast<double>(kTickMs));
  timer_.start(static_cast<int>(std::ceil(wait)));
}

void MainWindow::tick() {
  if (inTick_ || closed_) return;
  app_.tick();
  afterTick();
}

void MainWindow::afterTick() {
  if (inTick_ || closed_) return;
  inTick_ = true;
  syncPlayerWindow();
  command_->refreshRunState();
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
  if (phase == 2) {
    command_->refreshTitle();
    command_->refreshRunState();
  }
  messages_->refreshTitle();
  // A log file opened by a script or the command line brings its player window up too.
  syncPlayerWindow();
}

void MainWindow::refreshFrameList(int listNumber) {
  if (listNumber == TrafficPaths::kRxList) rx_->refreshList();
  if (listNumber == TrafficPaths::kTxList) tx_->refreshList();
}

void MainWindow::showTrafficHeaders(const TrafficHeaders& h) {
  // Texts the core has not computed yet (before its first tick) leave the widgets as they are.
  const auto show = [](const std::string& text, auto&& apply) {
    if (!text.empty()) apply(CoreTextToQt(text));
  };
  show(h.rxTitle, [this](const QString& t) { rx_->setTitle(t); });
  show(h.txTitle, [this](const QString& t) { tx_->setTitle(t); });
  show(h.rxCount, [this](const QString& t) { rx_->setCountText(t); });
  show(h.txCount, [this](const QString& t) { tx_->setCountText(t); });
  show(h.pauseMenuText, [this](const QString& t) {
    if (pauseAction_->text() != t) pauseAction_->setText(t);
  });
  show(h.statusText, [this](const QString& t) {
    if (trafficStatus_->text() != t) trafficStatus_->setText(t);
  });
  rx_->setStopped(h.rxButton == "Run");
  tx_->setStopped(h.txButton == "Run");
  const CanDisplaySettings& d = app_.settings().display;
  rx_->setListType(d.rxListType);
  tx_->setListType(d.txListType);
  rx_->combinedAction()->setChecked(d.rxTxCombined);
  if (h.loggerLampRgb != 0) lamp_->setRgb(h.loggerLampRgb);
}

void MainWindow::applyDisplaySettings() {
  const CanDisplaySettings& d = app_.settings().display;
  rx_->applyLook(d);
  tx_->applyLook(d);
}

void MainWindow::openSettings(const QString& tabCaption) {
  if (!settingsWindow_) {
    settingsWindow_ = new SettingsWindow(app_.settings(), app_.windowSettings(), this);
    connect(settingsWindow_, &SettingsWindow::soundTestRequested, this, [this](int device, bool enabled) {
      // The test plays what the tab shows, through a back-end of its own, then falls silent.
      std::unique_ptr<AudioOutput> output = enabled ? CreateAudioBackend(device) : nullptr;
      if (!output) return;
      output->tone(700);
      QTimer::singleShot(500, this,
                         [out = std::shared_ptr<AudioOutput>(std::move(output))] { out->silence(); });
    });
    connect(settingsWindow_, &SettingsWindow::applied, this, [this] { settingsApplied(settingsBefore_); });
  }
  // The window edits the values as they are now (scripts and other windows change them too).
  settingsBefore_ = app_.settings();
  settingsWindow_->loadFromSettings();
  settingsWindow_->showTab(tabCaption);
  settingsWindow_->show();
  settingsWindow_->raise();
  settingsWindow_->activateWindow();
}

void MainWindow::settingsApplied(const MainSettings& before) {
  const MainSettings& now = app_.settings();
  applyDisplaySettings();
  app_.messages().setMaxLines(now.display.maxWindowLines);
  // A new bit rate takes effect at once on a running interface, like a re-check of the driver.
  if (app_.running()) app_.controllers().applyChangedRates(before.bus);
  // Titles, list types and the combined view show at once, not only at the next tick.
  if (now.display.rxTxCombined != before.display.rxTxCombined)
    app_.trafficDisplay().setRxTxCombined(now.display.rxTxCombined);
  if (now.display.rxListType != before.display.rxListType)
    app_.trafficDisplay().setListType(TrafficPaths::kRxList, now.display.rxListType);
  if (now.display.txListType != before.display.txListType)
    app_.trafficDisplay().setListType(TrafficPaths::kTxList, now.display.txListType);
  // The channels are set up anew on the tick, not under a transfer that may be waiting now.
  if (!(now.sdo == before.sdo)) app_.canopen().markSettingsChanged();
}

void MainWindow::openTriggerWindow() {
  if (!triggerWindow_) {
    triggerWindow_ = new TriggerWindow(app_.trigger(), app_.settings().trigger, this);
    connect(triggerWindow_, &TriggerWindow::helpRequested, this, [this] {
      app_.ui().showMessageBox(
          "Trigger settings",
          "The START condition and the STOP condition each combine the events checked in their list "
          "with OR or AND. When a condition becomes TRUE, its reactions run once.\n\n"
          "Frame patterns (OPTIONS tab): CANid R L d0 d1 d2 d3 d4 d5 d6 d7, separated by spaces; "
          "identifier, length and data in hex, R (remote) decimal. XX matches anything.\n"
          "The missing message event is TRUE when no frame matched its pattern for the interval.\n"
          "The buttons TRUE/false show each condition and toggle it by hand.");
    });
  }
  triggerWindow_->loadFromSettings();
  triggerWindow_->show();
  triggerWindow_->raise();
  triggerWindow_->activateWindow();
}

QString MainWindow::caption(const char* english) const {
  return CoreTextToQt(app_.translator().translate(english));
}

QString MainWindow::resolveDir(const std::string& dir) const {
  // Relative folders (and none) are taken from the configuration directory, like the program's
  // other folders.
  const QString config = CoreTextToQt(app_.configDir());
  if (dir.empty()) return config;
  const QString path = CoreTextToQt(dir);
  return QDir::isAbsolutePath(path) ? path : QDir(config).filePath(path);
}

QString MainWindow::chooseFile(const FileDialogRequest& request) {
  if (chooseFile_) return chooseFile_(request);
  QFileDialog dialog(this, request.title, request.directory);
  dialog.setAcceptMode(request.save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
  dialog.setFileMode(request.save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
  dialog.setNameFilters(request.filters);
  if (request.filterIndex >= 0 && request.filterIndex < request.filters.size())
    dialog.selectNameFilter(request.filters[request.filterIndex]);
  if (!request.defaultSuffix.isEmpty()) dialog.setDefaultSuffix(request.defaultSuffix);
  if (!request.proposedName.isEmpty()) dialog.selectFile(request.proposedName);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return QString();
  return dialog.selectedFiles().constFirst();
}

void MainWindow::recordLogfile() {
  const RecordDialogSetup setup = RecordDialogFor(app_.settings().logging, app_.settings().dirs);
  FileDialogRequest request;
  request.title = CoreTextToQt(setup.title);
  request.filters = QtNameFilters(setup.windowsFilter);
  request.filterIndex = setup.filterIndex;
  request.directory = resolveDir(setup.directory);
  request.proposedName = CoreTextToQt(setup.proposedName);
  // Linux file names are case-sensitive: a name typed without extension gets the usual ".asc".
  request.defaultSuffix = CoreTextToQt(setup.defaultExtension).toLower();
  request.save = true;
  const QString chosen = chooseFile(request);
  if (chosen.isEmpty()) return;
  StartRecording(app_.logger(), app_.settings().logging, chosen.toStdString());
  refreshFileMenu();
}

void MainWindow::playLogfile() {
  FileDialogRequest request;
  request.title = QString::fromLatin1(kPlayerDialogTitle);
  request.filters = QtNameFilters(PlayerFileFilter());
  request.directory = resolveDir(app_.settings().dirs.logFileDir);
  request.proposedName = CoreTextToQt(app_.settings().logging.playedFile);
  request.defaultSuffix = QString::fromLatin1(kPlayerDefaultExtension).toLower();
  const QString chosen = chooseFile(request);
  if (chosen.isEmpty()) return;
  const std::string path = chosen.toStdString();
  app_.settings().logging.playedFile = path;
  LogPlayer& player = app_.player();
  player.stop();
  player.setFileName(path);
  if (!player.OpenPlayerFile(path))
    app_.ui().showMessageBox(kPlayerOpenFailedTitle, player.openFailureText());
  syncPlayerWindow();
}

void MainWindow::stopPlayerAndRecorder() {
  app_.player().StopPlayer();
  app_.logger().CloseLogFile();
  syncPlayerWindow();
  refreshFileMenu();
}

void MainWindow::syncPlayerWindow() {
  const bool wanted = app_.player().windowShown() && !closed_;
  if (wanted && !playerWindow_) {
    playerWindow_ = new PlayerWindow(app_, this);
    playerWindow_->setFileChooser([this] {
      FileDialogRequest request;
      request.title = QString::fromLatin1(kPlayerDialogTitle);
      request.filters = QtNameFilters(PlayerFileFilter());
      request.directory = resolveDir(app_.settings().dirs.logFileDir);
      request.defaultSuffix = QString::fromLatin1(kPlayerWindowDefaultExtension);
      return chooseFile(request);
    });
  }
  if (!playerWindow_) return;
  if (wanted && !playerWindow_->isVisible()) {
    playerWindow_->refreshLabels();
    playerWindow_->show();
  } else if (!wanted && playerWindow_->isVisible()) {
    playerWindow_->hide();
  }
}

void MainWindow::refreshFileMenu() {
  const QString caption =
      CoreTextToQt(LoggerStatusCaption(app_.logger(), static_cast<int>(app_.player().state())));
  if (loggerStatus_->text() != caption) loggerStatus_->setText(caption);
  const std::array<std::string, 5>& recent = app_.windowSettings().recentFiles;
  for (size_t i = 0; i < recentActions_.size(); ++i) {
    // The path is data, not a caption: its "&" must not become a shortcut.
    QString path = CoreTextToQt(recent[i]);
    path.replace(QLatin1Char('&'), QStringLiteral("&&"));
    recentActions_[i]->setText(QStringLiteral("&%1  %2").arg(i).arg(path));
    recentActions_[i]->setVisible(!recent[i].empty());
  }
}

void AddRecentFile(std::array<std::string, 5>& recentFiles, const std::string& path) {
  if (path.empty()) return;
  const QString wanted = CoreTextToQt(path);
  for (const std::string& known : recentFiles)
    if (QString::compare(CoreTextToQt(known), wanted, Qt::CaseInsensitive) == 0) return;
  std::move_backward(recentFiles.begin(), recentFiles.end() - 1, recentFiles.end());
  recentFiles[0] = path;
}

bool MainWindow::askToKeepEditedScript() {
  // As at closing: an edited script is offered for saving under its name before it is replaced.
  CommandFile& file = app_.commandFile();
  if (!file.modified() || file.path().empty()) return true;
  const std::string question = "Command window may have been changed :\n\n  " + file.path() +
                               "\n\nSave the modified file under this name before loading another ?";
  if (!app_.ui().askYesNo("Busprobe", question, false)) return true;
  std::string error;
  if (app_.scripts().saveCommandFile(file.path(), &error)) return true;
  // Replacing the text now would lose the edits the user just asked to keep.
  app_.ui().showMessageBox("Busprobe", error);
  return false;
}

void MainWindow::rememberCommandFile(const std::string& path) {
  app_.settings().currFile = path;
  AddRecentFile(app_.windowSettings().recentFiles, path);
  refreshFileMenu();
}

bool MainWindow::loadCommandFile() {
  FileDialogRequest request;
  request.title = QString::fromLatin1(kLoadCommandFileTitle);
  request.filters = QtNameFilters(kLoadCommandFileFilter);
  request.directory = resolveDir(app_.settings().dirs.programs);
  request.proposedName = QFileInfo(CoreTextToQt(app_.settings().currFile)).fileName();
  const QString chosen = chooseFile(request);
  if (chosen.isEmpty()) return false;
  return loadCommandFile(chosen);
}

bool MainWindow::loadCommandFile(const QString& path) {
  if (!askToKeepEditedScript()) return false;
  const std::string name = path.toStdString();
  if (!app_.scripts().loadCommandFile(name)) return false;
  rememberCommandFile(name);
  return true;
}

bool MainWindow::saveCommandFile() {
  FileDialogRequest request;
  request.title = QString::fromLatin1(kSaveCommandFileTitle);
  request.filters = QtNameFilters(kSaveCommandFileFilter);
  request.directory = resolveDir(app_.settings().dirs.programs);
  request.proposedName = QFileInfo(CoreTextToQt(app_.settings().currFile)).fileName();
  // Linux file names are case-sensitive: a name typed without extension gets the usual ".bpr".
  request.defaultSuffix = QStringLiteral("bpr");
  request.save = true;
  const QString chosen = chooseFile(request);
  if (chosen.isEmpty()) return false;
  const std::string name = chosen.toStdString();
  std::string error;
  if (!app_.scripts().saveCommandFile(name, &error)) {
    app_.ui().showMessageBox("Busprobe", error);
    return false;
  }
  command_->refreshTitle();
  rememberCommandFile(name);
  return true;
}

void MainWindow::scriptShowLine(int line) {
  command_->showProgramLine(line);
  command_->refreshRunState();
}

void MainWindow::scriptEnded(const std::string& errorText) {
  command_->programEnded(errorText);
}

bool MainWindow::Menu_CANInterfaceSetupClick() {
  InterfaceWindow window(app_, this);
  if (window.exec() != QDialog::Accepted) return false;
  app_.restartInterface();
  return true;
}

void MainWindow::refreshSettingsMenu() {
  signalsAction_->setText(app_.settings().interp.soundEnabled
                              ? QStringLiteral("Signals.. (speaker enabled)")
                              : QStringLiteral("Signals.. (speaker disabled)"));
}

QStringList QtNameFilters(const std::string& windowsFilter) {
  // "description|pattern|description|pattern": Qt takes the patterns from the description's
  // last parentheses, so those carry the real patterns (matching ignores letter case).
  const QStringList parts = CoreTextToQt(windowsFilter).split(QLatin1Char('|'));
  QStringList filters;
  for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
    QString description = parts[i];
    QString patterns = parts[i + 1];
    patterns.replace(QLatin1Char(';'), QLatin1Char(' '));
    if (patterns == QStringLiteral("*.*")) patterns = QStringLiteral("*");
    const qsizetype open = description.lastIndexOf(QLatin1Char('('));
    if (open > 0 && description.endsWith(QLatin1Char(')'))) description = description.left(open).trimmed();
    filters << QStringLiteral("%1 (%2)").arg(description, patterns);
  }
  return filters;
}

bool MainWindow::askSearchText(QString& found, bool& wholeWord, bool& matchCase) {
  QDialog dialog(this);
  dialog.setWindowTitle(QStringLiteral("Find"));
  auto* text = new QLineEdit(QString::fromStdString(app_.windowSettings().searchString), &dialog);
  auto* wholeWordBox = new QCheckBox(QStringLiteral("Match &whole word only"), &dialog);
  auto* matchCaseBox = new QCheckBox(QStringLiteral("Match &case"), &dialog);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
  buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("&Find Next"));
  connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
  auto* layout = new QVBoxLayout(&dialog);
  layout->addWidget(text);
  layout->addWidget(wholeWordBox);
  layout->addWidget(matchCaseBox);
  layout->addWidget(buttons);
  text->selectAll();
  if (dialog.exec() != QDialog::Accepted || text->text().isEmpty()) return false;
  found = text->text();
  wholeWord = wholeWordBox->isChecked();
  matchCase = matchCaseBox->isChecked();
  return true;
}

namespace {
// The next hit after the selection; when there is none, offers to start again at the top.
bool FindWithRestart(UserInterface& ui, const QString& text, const std::function<bool(bool fromTop)>& find) {
  if (find(false)) return true;
  const std::string question =
      "Search string \"" + text.toStdString() + "\" not found." + "\r\n  Start new search at the top ?";
  if (!ui.askYesNo("Busprobe", question, true)) return false;
  return find(true);
}
}  // namespace

void MainWindow::findInRxPane() {
  QString text;
  bool wholeWord = false, matchCase = false;
  if (askSearchText(text, wholeWord, matchCase)) findInRxPane(text, wholeWord, matchCase);
}

bool MainWindow::findInRxPane(const QString& text, bool wholeWord, bool matchCase) {
  app_.windowSettings().searchString = text.toStdString();
  return FindWithRestart(app_.ui(), text,
                         [&](bool fromTop) { return rx_->findNext(text, wholeWord, matchCase, fromTop); });
}

void MainWindow::findInCommandWindow() {
  QString text;
  bool wholeWord = false, matchCase = false;
  if (askSearchText(text, wholeWord, matchCase)) findInCommandWindow(text, wholeWord, matchCase);
}

bool MainWindow::findInCommandWindow(const QString& text, bool wholeWord, bool matchCase) {
  app_.windowSettings().searchString = text.toStdString();
  QPlainTextEdit* editor = command_->editor();
  QTextDocument::FindFlags flags;
  if (wholeWord) flags |= QTextDocument::FindWholeWords;
  if (matchCase) flags |= QTextDocument::FindCaseSensitively;
  return FindWithRestart(app_.ui(), text, [&](bool fromTop) {
    if (fromTop) editor->moveCursor(QTextCursor::Start);
    return editor->find(text, flags);
  });
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
  command_->setZoomed(zoomedArea_ == command_);
  rx_->setZoomed(zoomedArea_ == rx_);
  tx_->setZoomed(zoomedArea_ == tx_);
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
  // The tool windows go first; the player window's own close would stop the player (the shutdown
  // does that too, and must find it in the state the user left it).
  if (playerWindow_ && playerWindow_->isVisible()) {
    if (saveOnClose_) playerWindow_->storePosition();
    playerWindow_->hide();
  }
  if (triggerWindow_) triggerWindow_->hide();
  if (settingsWindow_) settingsWindow_->hide();
  for (DictionaryBrowserWindow* browser : {localBrowser_, remoteBrowser_}) {
    if (!browser || !browser->isVisible()) continue;
    browser->storePosition();
    browser->hide();
  }
  storeLayout();
  app_.shutDown(saveOnClose_);
  event->accept();
}

}  // namespace busprobe
