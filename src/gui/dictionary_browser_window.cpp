#include "gui/dictionary_browser_window.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFontMetrics>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMetaMethod>
#include <QVBoxLayout>
#include <algorithm>
#include <ctime>
#include <filesystem>

#include "gui/gui_user_interface.h"

namespace busprobe {

namespace {

// The Windows-style filter ("text|pattern|...") as the descriptions a file choice lists; Qt
// takes the patterns from their parentheses.
std::vector<std::string> ChoiceFilters(const std::string& windowsFilter) {
  std::vector<std::string> out;
  size_t start = 0;
  bool description = true;
  std::string text;
  while (start <= windowsFilter.size()) {
    size_t bar = windowsFilter.find('|', start);
    if (bar == std::string::npos) bar = windowsFilter.size();
    const std::string part = windowsFilter.substr(start, bar - start);
    if (description) {
      text = part;
    } else {
      std::string patterns = part;
      for (char& c : patterns)
        if (c == ';') c = ' ';
      out.push_back(text.substr(0, text.find('(')) + "(" + patterns + ")");
    }
    description = !description;
    start = bar + 1;
  }
  return out;
}

QColor RowBackground(BrowserRowColour colour) {
  switch (colour) {
    case BrowserRowColour::kError:
      return QColor(0xFF, 0xCF, 0xCF);
    case BrowserRowColour::kMarked:
      return QColor(0xCF, 0xCF, 0xFF);
    case BrowserRowColour::kNormal:
      break;
  }
  return QColor();
}

}  // namespace

DictionaryBrowserWindow::DictionaryBrowserWindow(Application& app, Kind kind, QWidget* parent)
    : QWidget(parent, Qt::Window), app_(app), kind_(kind) {
  const bool remote = kind == Kind::kRemote;
  CanopenSession& co = app.canopen();
  LoadedDictionary& dict = remote ? co.remote() : co.local();
  if (remote) {
    model_ = &app.remoteBrowser().browser();
  } else {
    localModel_ = std::make_unique<DictionaryBrowser>(dict.entries, dict.fileInfo, dict.deviceInfo,
                                                      app.settings().sdo, nullptr);
    model_ = localModel_.get();
  }
  model_->limitLargeUploads = app.browserSettings().dontReadLargeObjects != 0;
  setObjectName(remote ? QStringLiteral("RemoteDictViewWindow") : QStringLiteral("DictViewWindow"));
  setWindowTitle(QString::fromLatin1(remote ? kRemoteTitle : kLocalTitle));

  auto* bar = new QMenuBar(this);
  auto* top = new QHBoxLayout;
  if (remote) {
    read_ = new QPushButton(QStringLiteral("Read !"), this);
    read_->setObjectName(QStringLiteral("Btn_ReadObj"));
    send_ = new QPushButton(QStringLiteral("Send !"), this);
    send_->setObjectName(QStringLiteral("Btn_SendObj"));
    markedOnly_ = new QCheckBox(QStringLiteral("marked only"), this);
    markedOnly_->setObjectName(QStringLiteral("Chk_MarkedOnly"));
    periodic_ = new QCheckBox(QStringLiteral("periodically update (READ ALL OBJECTS)"), this);
    periodic_->setObjectName(QStringLiteral("Chk_PeriodicRefresh"));
    nodeId_ = new QSpinBox(this);
    nodeId_->setObjectName(QStringLiteral("Ed_NodeID"));
    nodeId_->setRange(1, 127);
    active_ = new QCheckBox(QStringLiteral("SDO Client active,"), this);
    active_->setObjectName(QStringLiteral("Chk_SdoClientActive"));
    top->addWidget(read_);
    top->addWidget(send_);
    top->addWidget(markedOnly_);
    top->addWidget(periodic_);
    top->addWidget(new QLabel(QStringLiteral("Node-ID :"), this));
    top->addWidget(nodeId_);
    connect(read_, &QPushButton::clicked, this, [this] {
      app_.remoteBrowser().startRead(markedOnly_->isChecked());
      showTable();
      timer_.start(DictionaryBrowser::kRunIntervalMs);
    });
    connect(send_, &QPushButton::clicked, this, [this] {
      app_.remoteBrowser().startWrite();
      refreshLabels();
      timer_.start(DictionaryBrowser::kRunIntervalMs);
    });
    connect(periodic_, &QCheckBox::toggled, this, [this](bool on) {
      model_->markedOnly = markedOnly_->isChecked();
      app_.remoteBrowser().setPeriodic(on);
      if (on) timer_.start(DictionaryBrowser::kRunIntervalMs);
    });
    connect(nodeId_, &QSpinBox::valueChanged, this, [this](int node) { model_->setNodeId(node); });
    connect(active_, &QCheckBox::clicked, this, [this](bool on) {
      app_.canopen().sdo().client().enabled = on ? 1 : 0;
      app_.settings().sdo.clientEnable = on ? 1 : 0;
    });
  } else {
    auto* apply = new QPushButton(QStringLiteral("Apply !"), this);
    apply->setObjectName(QStringLiteral("Btn_Apply"));
    connect(apply, &QPushButton::clicked, this, [this] {
      model_->apply();
      showTable();
    });
    active_ = new QCheckBox(QStringLiteral("SDO Server active,"), this);
    active_->setObjectName(QStringLiteral("Chk_SdoServerActive"));
    top->addWidget(apply);
    connect(active_, &QCheckBox::clicked, this, [this](bool on) {
      app_.canopen().sdo().server(0).enabled = on ? 1 : 0;
      app_.settings().sdo.serverEnable = on ? 1 : 0;
    });
  }
  accessCount_ = new QLabel(this);
  accessCount_->setObjectName(QStringLiteral("Lab_CountSdoAccesses"));
  top->addWidget(active_);
  top->addWidget(accessCount_);
  top->addStretch(1);

  table_ = new QTableWidget(0, kBrowserColumns, this);
  table_->setObjectName(remote ? QStringLiteral("Sg_HisDictionary") : QStringLiteral("Sg_MyDictionary"));
  table_->verticalHeader()->setVisible(false);
  QHeaderView* header = table_->horizontalHeader();
  header->setStretchLastSection(false);
  // The short columns are as wide as their longest usual text, so name and value, which share
  // what is left, stay readable in a window of ordinary size.
  const QFontMetrics metrics(table_->font());
  const int pad = 3 * metrics.horizontalAdvance(QLatin1Char(' '));
  const struct {
    int column;
    const char* widest;
  } narrow[] = {{kColObject, "0000.00 "},   {kColMark, "Mark"},       {kColType, "UNSIGNED32"},
                {kColAccess, "RONLY,PDO"},  {kColDisplay, "Display"}, {kColSize, "Size"},
                {kColCounters, "0000 0000"}};
  for (const auto& n : narrow) {
    const int width =
        std::max(metrics.horizontalAdvance(QString::fromLatin1(n.widest)),
                 metrics.horizontalAdvance(QString::fromStdString(model_->headerText(n.column))));
    header->resizeSection(n.column, width + pad);
  }
  header->setMinimumSectionSize(metrics.horizontalAdvance(QStringLiteral("Mark")) + pad);
  header->setSectionResizeMode(kColName, QHeaderView::Stretch);
  header->setSectionResizeMode(kColValue, QHeaderView::Stretch);
  table_->installEventFilter(this);
  connect(table_, &QTableWidget::itemChanged, this, [this](QTableWidgetItem* item) {
    if (updating_ > 0) return;
    model_->setCell(item->row(), item->column(), item->text().toStdString());
  });
  connect(table_, &QTableWidget::currentCellChanged, this, [this](int row, int, int, int) {
    if (updating_ > 0) return;
    model_->select(row);
    refreshLabels();
  });
  connect(table_, &QTableWidget::cellDoubleClicked, this, [this](int row, int column) {
    if (kind_ != Kind::kRemote || column != kColMark) return;
    model_->toggleMark(row);
    showRow(row);
  });

  gridPos_ = new QLabel(this);
  gridPos_->setObjectName(QStringLiteral("Lab_GridPos"));
  status_ = new QLabel(this);
  status_->setObjectName(QStringLiteral("Lab_Status"));
  auto* bottom = new QHBoxLayout;
  bottom->addWidget(gridPos_);
  bottom->addWidget(status_, 1);

  buildMenus(bar);
  auto* layout = new QVBoxLayout(this);
  layout->setMenuBar(bar);
  layout->addLayout(top);
  layout->addWidget(table_, 1);
  layout->addLayout(bottom);
  resize(760, 480);

  connect(&timer_, &QTimer::timeout, this, &DictionaryBrowserWindow::timerTick);
  showTable();
}

DictionaryBrowserWindow::~DictionaryBrowserWindow() = default;

void DictionaryBrowserWindow::buildMenus(QMenuBar* bar) {
  const bool remote = kind_ == Kind::kRemote;
  QMenu* file = bar->addMenu(QStringLiteral("&File"));
  connect(file->addAction(QStringLiteral("&Load")), &QAction::triggered, this,
          &DictionaryBrowserWindow::loadFile);
  connect(file->addAction(QStringLiteral("&Save")), &QAction::triggered, this,
          &DictionaryBrowserWindow::saveFile);
  QMenu* edit = bar->addMenu(QStringLiteral("&Edit"));
  connect(edit->addAction(QStringLiteral("Apply edits and sort table")), &QAction::triggered, this, [this] {
    model_->apply();
    showTable();
  });
  connect(edit->addAction(QStringLiteral("Delete")), &QAction::triggered, this,
          &DictionaryBrowserWindow::deleteSelected);
  if (remote) {
    connect(edit->addAction(QStringLiteral("Delete all (entire table)")), &QAction::triggered, this, [this] {
      model_->deleteAll();
      showTable();
    });
  }
  connect(edit->addAction(QStringLiteral("&Reset counters")), &QAction::triggered, this, [this] {
    model_->resetCounters();
    showTable();
  });
  QMenu* view = bar->addMenu(QStringLiteral("&View"));
  showDefault_ = view->addAction(QStringLiteral("Show &DEFAULT value only"));
  connect(showDefault_, &QAction::triggered, this, [this] {
    model_->setShowDefault(!model_->showDefault());
    showDefault_->setText(model_->showDefault() ? QStringLiteral("Show &CURRENT value (if valid)")
                                                : QStringLiteral("Show &DEFAULT value only"));
    showTable();
  });
  if (remote) {
    QMenu* scan = bar->addMenu(QStringLiteral("S&can"));
    QAction* nodes = scan->addAction(QStringLiteral("Scan network for CANopen nodes"));
    nodes->setObjectName(QStringLiteral("MI_ScanNodes"));
    connect(nodes, &QAction::triggered, this, &DictionaryBrowserWindow::nodeScanRequested);
    QAction* entries = scan->addAction(QStringLiteral("Scan remote node for OD Entries"));
    entries->setObjectName(QStringLiteral("MI_ScanOdEntries"));
    connect(entries, &QAction::triggered, this, [this] {
      // The scan reads the node this browser shows.
      app_.settings().sdo.clientNodeId = model_->nodeId();
      emit dictionaryScanRequested();
    });
    connect(scan, &QMenu::aboutToShow, this, [this, nodes] {
      nodes->setVisible(
          isSignalConnected(QMetaMethod::fromSignal(&DictionaryBrowserWindow::nodeScanRequested)));
    });
  }
  QMenu* options = bar->addMenu(QStringLiteral("&Options"));
  QAction* configure = options->addAction(remote ? QStringLiteral("Configure &SDO Client ...")
                                                 : QStringLiteral("Configure &SDO Server ..."));
  connect(configure, &QAction::triggered, this, &DictionaryBrowserWindow::configureSdoRequested);
  if (remote) {
    skipLarge_ = options->addAction(QStringLiteral("When reading, skip objects larger than 1 kByte"));
    skipLarge_->setCheckable(true);
    skipLarge_->setChecked(model_->limitLargeUploads);
    connect(skipLarge_, &QAction::toggled, this, [this](bool on) {
      model_->limitLargeUploads = on;
      app_.browserSettings().dontReadLargeObjects = on ? 1 : 0;
    });
  }
  connect(bar->addAction(QStringLiteral("&Help")), &QAction::triggered, this,
          &DictionaryBrowserWindow::showHelp);
}

void DictionaryBrowserWindow::showHelp() {
  if (kind_ == Kind::kLocal) {
    app_.ui().showMessageBox(
        "Simulated Local CANopen Object Dictionary",
        "The dictionary the tool's SDO servers serve to the bus.\n\n"
        "Edit a cell and press \"Apply !\" (or Enter) to store it; type an object in the empty last row "
        "to add one. Click the Mark column to mark a row (shown in blue); the Counters column counts the "
        "SDO reads and writes of clients.\n"
        "File: load or save a dictionary (*.dic, *.eds, *.dcf). Edit: delete a row, reset the counters. "
        "View: the default or the current value.");
    return;
  }
  app_.ui().showMessageBox(
      "Remote CANopen Object Dictionary",
      "The objects of another node, read and written with the tool's SDO client.\n\n"
      "\"Read !\" reads every object (or, with \"marked only\", the marked rows) from the node given "
      "as Node-ID; \"Send !\" writes them. Click the Mark column to mark a row (shown in blue). "
      "\"periodically update\" "
      "repeats the read. Entering a new value asks whether to write it to the node at once.\n"
      "Rows shown in red failed their last access; the Counters column counts reads and writes.\n"
      "File: load a dictionary file to know what to read, save what was read as *.dic, *.eds or *.dcf.");
}

void DictionaryBrowserWindow::showRow(int row) {
  if (row < 0 || row >= model_->rowCount()) return;
  ++updating_;
  const BrowserRow& cells = model_->row(row);
  const QColor background = RowBackground(model_->rowColour(row));
  for (int c = 0; c < kBrowserColumns; ++c) {
    QTableWidgetItem* item = table_->item(row, c);
    if (!item) {
      item = new QTableWidgetItem;
      table_->setItem(row, c, item);
    }
    item->setText(CoreTextToQt(cells[static_cast<size_t>(c)]));
    item->setBackground(background.isValid() ? QBrush(background) : QBrush());
    // Counters, size and mark are the window's own; the rest is edited and applied.
    const bool editable = c != kColSize && c != kColCounters && c != kColMark;
    item->setFlags(editable ? item->flags() | Qt::ItemIsEditable : item->flags() & ~Qt::ItemIsEditable);
  }
  --updating_;
}

void DictionaryBrowserWindow::showTable() {
  ++updating_;
  QStringList headers;
  for (int c = 0; c < kBrowserColumns; ++c) headers << QString::fromStdString(model_->headerText(c));
  table_->setHorizontalHeaderLabels(headers);
  table_->setRowCount(model_->rowCount());
  for (int r = 0; r < model_->rowCount(); ++r) showRow(r);
  --updating_;
  refreshLabels();
}

void DictionaryBrowserWindow::refreshLabels() {
  gridPos_->setText(CoreTextToQt(model_->gridPosText()));
  status_->setText(CoreTextToQt(model_->statusText()));
  const SdoEngine& sdo = app_.canopen().sdo();
  const bool remote = kind_ == Kind::kRemote;
  const SdoChannel& ch = remote ? sdo.client() : sdo.server(0);
  accessCount_->setText(CoreTextToQt(model_->accessCountText(ch.rxCount)));
  active_->setChecked(ch.enabled != 0);
  if (remote) {
    read_->setEnabled(ch.enabled != 0);
    send_->setEnabled(ch.enabled != 0);
    // A scan's "Start" may have picked another node.
    if (nodeId_->value() != model_->nodeId()) nodeId_->setValue(model_->nodeId());
  }
}

void DictionaryBrowserWindow::timerTick() {
  // A blocking transfer lets events through while it waits; the pass must not start another.
  if (inTimer_) return;
  inTimer_ = true;
  std::vector<int> rows;
  if (kind_ == Kind::kRemote) {
    // The pass runs on the application's tick; this only shows what it did.
    rows = app_.remoteBrowser().takeChangedRows();
    const int interval = model_->phase() == BrowserPassPhase::kIdle ? DictionaryBrowser::kIdleIntervalMs
                                                                    : DictionaryBrowser::kRunIntervalMs;
    if (timer_.interval() != interval) timer_.setInterval(interval);
  }
  const std::vector<int> changed = model_->refreshChangedRows();
  if (table_->rowCount() != model_->rowCount()) {
    showTable();
  } else {
    for (int r : rows) showRow(r);
    for (int r : changed) showRow(r);
  }
  refreshLabels();
  inTimer_ = false;
}

void DictionaryBrowserWindow::loadFile() {
  FileChoice choice;
  choice.title = kBrowserLoadTitle;
  choice.filters = ChoiceFilters(kBrowserLoadFilter);
  choice.directory = app_.canopen().dictionaryPath(".");
  const std::string path = app_.ui().chooseFile(choice);
  if (path.empty()) return;
  const uint8_t node =
      static_cast<uint8_t>(kind_ == Kind::kRemote ? model_->nodeId() : app_.settings().sdo.serverNodeId);
  LoadedDictionary& dict = kind_ == Kind::kRemote ? app_.canopen().remote() : app_.canopen().local();
  model_->load(path, node);
  dict.path = path;
  showTable();
}

void DictionaryBrowserWindow::saveFile() {
  FileChoice choice;
  choice.title = kBrowserSaveTitle;
  choice.filters = ChoiceFilters(kBrowserSaveFilter);
  choice.directory = app_.canopen().dictionaryPath(".");
  choice.defaultSuffix = "dic";
  choice.save = true;
  const std::string path = app_.ui().chooseFile(choice);
  if (path.empty()) return;
  std::string error;
  if (!model_->save(path, static_cast<int64_t>(std::time(nullptr)), error))
    app_.ui().showMessageBox("Busprobe", error);
}

void DictionaryBrowserWindow::deleteSelected() {
  const int row = table_->currentRow();
  const std::string question = model_->deleteQuestion(row);
  if (question.empty()) return;
  if (!app_.ui().askYesNo("Busprobe", question, false)) return;
  model_->deleteRow(row);
  showTable();
}

void DictionaryBrowserWindow::valueEntered(int row) {
  if (!model_->edited()) return;
  if (!app_.ui().askYesNo(kBrowserWriteBackTitle, kBrowserWriteBackQuestion, true)) return;
  const int now = model_->writeBackRow(row);
  if (now < 0) {
    model_->apply();
  }
  showTable();
}

bool DictionaryBrowserWindow::eventFilter(QObject* watched, QEvent* event) {
  if (watched == table_ && event->type() == QEvent::KeyPress) {
    const auto* key = static_cast<QKeyEvent*>(event);
    if ((key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) &&
        table_->currentColumn() == kColValue) {
      // While a cell is being edited its editor takes the key; this is Enter after the edit.
      valueEntered(table_->currentRow());
      return true;
    }
  }
  return QWidget::eventFilter(watched, event);
}

BrowserWindowSettings& DictionaryBrowserWindow::placeSettings() {
  return kind_ == Kind::kRemote ? app_.browserSettings().remote : app_.browserSettings().local;
}

void DictionaryBrowserWindow::storePosition() {
  if (isMinimized() || isMaximized()) return;
  BrowserWindowSettings& s = placeSettings();
  s.left = x();
  s.top = y();
  s.width = width();
  s.height = height();
}

void DictionaryBrowserWindow::loadConfiguredRemoteDictionary() {
  const std::string& name = app_.settings().dirs.hisObjectDictionary;
  if (name.empty()) return;
  const std::string path = app_.canopen().dictionaryPath(name);
  std::error_code ec;
  if (!std::filesystem::exists(path, ec)) return;
  const bool ok = model_->load(path, static_cast<uint8_t>(model_->nodeId()));
  app_.canopen().remote().path = path;
  app_.messages().PrintMessage(ok ? "Loaded CANopen OD for SDO client from \"%s\" ."
                                  : "FAILED TO LOAD CANopen OD for SDO client from \"%s\" .",
                               path.c_str());
}

void DictionaryBrowserWindow::showEvent(QShowEvent* event) {
  const BrowserWindowSettings& s = placeSettings();
  if (!placed_) {
    placed_ = true;
    if (s.width > 0 && s.height > 0) resize(s.width, s.height);
    if (s.left >= 0 && s.top >= 0) move(s.left, s.top);
    if (kind_ == Kind::kRemote) {
      model_->setNodeId(app_.settings().sdo.clientNodeId);
      nodeId_->setValue(model_->nodeId());
      if (app_.canopen().remote().entries.count() == 0) loadConfiguredRemoteDictionary();
    }
  }
  if (kind_ == Kind::kRemote) {
    // Reads and writes go to the node the browser shows.
    app_.settings().sdo.clientNodeId = model_->nodeId();
    // Only a scan finished while the browser is shown makes read-only refusals stick.
    if (!event->spontaneous()) model_->browserShown();
  }
  model_->rebuild();
  showTable();
  timer_.start(kind_ == Kind::kRemote ? DictionaryBrowser::kIdleIntervalMs : kLocalTimerMs);
  QWidget::showEvent(event);
}

void DictionaryBrowserWindow::closeEvent(QCloseEvent* event) {
  storePosition();
  timer_.stop();
  event->accept();
}

}  // namespace busprobe
