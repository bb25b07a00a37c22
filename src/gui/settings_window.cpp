#include "gui/settings_window.h"

#include <QColorDialog>
#include <QDialogButtonBox>
#include <QFontDatabase>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QRadioButton>
#include <QRegularExpressionValidator>
#include <QVBoxLayout>
#include <algorithm>

#include "base/number_lex.h"
#include "gui/gui_user_interface.h"

namespace busprobe {

namespace {

constexpr int kNameChars = 15;

QString ToQt(const std::string& text) {
  return CoreTextToQt(text);
}

std::string FromQt(const QString& text) {
  return text.toStdString();
}

// Windows colour values are 0x00BBGGRR.
QColor FromWindowsColour(int value) {
  return QColor(value & 0xFF, (value >> 8) & 0xFF, (value >> 16) & 0xFF);
}

int ToWindowsColour(const QColor& colour) {
  return colour.red() | (colour.green() << 8) | (colour.blue() << 16);
}

QLineEdit* MakeIdEdit(const QString& name, QWidget* parent) {
  auto* edit = new QLineEdit(parent);
  edit->setObjectName(name);
  edit->setMaxLength(10);
  edit->setPlaceholderText(QStringLiteral("unused"));
  // Only what IdWordFromText understands can be typed, so OK never has to refuse a value.
  edit->setValidator(
      new QRegularExpressionValidator(QRegularExpression(QStringLiteral("(0[xX])?[0-9A-Fa-f]{0,8}")), edit));
  return edit;
}

QCheckBox* MakeCheck(const QString& text, const QString& name, QWidget* parent) {
  auto* box = new QCheckBox(text, parent);
  box->setObjectName(name);
  return box;
}

QComboBox* MakeCombo(const QStringList& items, const QString& name, QWidget* parent) {
  auto* combo = new QComboBox(parent);
  combo->setObjectName(name);
  combo->addItems(items);
  return combo;
}

QLineEdit* MakeEdit(const QString& name, int maxLength, QWidget* parent) {
  auto* edit = new QLineEdit(parent);
  edit->setObjectName(name);
  edit->setMaxLength(maxLength);
  return edit;
}

// Fills a rate list and selects `value`; a value that is not one of the offered ones (edited into
// the file by hand) is added, so that opening the window and pressing OK never changes it.
template <size_t N>
void SelectRate(QComboBox* combo, const std::array<int, N>& rates, int value) {
  combo->clear();
  for (int rate : rates) combo->addItem(QString::number(rate), rate);
  int index = combo->findData(value);
  if (index < 0) {
    combo->addItem(QString::number(value), value);
    index = combo->count() - 1;
  }
  combo->setCurrentIndex(index);
}

// Index of a combo whose items stand for 0..n-1; other stored values are kept as an extra item.
void SelectIndexValue(QComboBox* combo, int value) {
  const int fixed = combo->property("fixedItems").toInt();
  while (combo->count() > fixed) combo->removeItem(combo->count() - 1);
  if (value >= 0 && value < fixed) {
    combo->setCurrentIndex(value);
    return;
  }
  combo->addItem(QStringLiteral("(%1)").arg(value), value);
  combo->setCurrentIndex(combo->count() - 1);
}

int IndexValue(const QComboBox* combo) {
  const int fixed = combo->property("fixedItems").toInt();
  const int index = combo->currentIndex();
  return index < fixed ? index : combo->currentData().toInt();
}

QSpinBox* MakeSpin(const QString& name, int minimum, int maximum, QWidget* parent) {
  auto* spin = new QSpinBox(parent);
  spin->setObjectName(name);
  spin->setRange(minimum, maximum);
  return spin;
}

// A stored value the box cannot show (edited into the file by hand) is kept while the box still
// shows what loading made of it: opening the window and pressing OK changes nothing.
void KeepUnlessChanged(int& stored, const QSpinBox* spin) {
  if (spin->value() != std::clamp(stored, spin->minimum(), spin->maximum())) stored = spin->value();
}

void KeepUnlessChanged(int& stored, const QCheckBox* box) {
  if (box->isChecked() != (stored != 0)) stored = box->isChecked() ? 1 : 0;
}

QComboBox* MakeIndexCombo(const QStringList& items, const QString& name, QWidget* parent) {
  QComboBox* combo = MakeCombo(items, name, parent);
  combo->setProperty("fixedItems", static_cast<int>(items.size()));
  return combo;
}

}  // namespace

QString IdWordToText(int value) {
  if (value == -1) return QString();
  return QString::number(static_cast<uint32_t>(value), 16).toUpper();
}

int IdWordFromText(const QString& text) {
  const QByteArray bytes = text.trimmed().toUtf8();
  std::string_view digits(bytes.constData(), static_cast<size_t>(bytes.size()));
  digits.remove_prefix(HexPrefixLength(digits, false));
  // Behind the prefix the field also takes blanks, a '+' and a second prefix, as it always has.
  const auto blank = [](char c) { return c == ' ' || (c >= '\t' && c <= '\r'); };
  while (!digits.empty() && blank(digits.front())) digits.remove_prefix(1);
  if (!digits.empty() && digits.front() == '+') digits.remove_prefix(1);
  digits.remove_prefix(HexPrefixLength(digits, false));
  uint64_t value = 0;
  if (!ParseUnsignedToken(digits, 16, kAnyDigitCount, 0xFFFFFFFFu, value)) return -1;
  return static_cast<int>(static_cast<uint32_t>(value));
}

SettingsWindow::SettingsWindow(MainSettings& settings, MainWindowSettings& windowSettings, QWidget* parent)
    : QDialog(parent), settings_(settings), windowSettings_(windowSettings), tabs_(new QTabWidget(this)) {
  setObjectName(QStringLiteral("SettingsW"));
  setWindowTitle(QStringLiteral("Busprobe Settings"));
  tabs_->setObjectName(QStringLiteral("PageControl"));
  tabs_->addTab(buildCanTab(), QString::fromLatin1(kTabCan));
  tabs_->addTab(buildDisplayTab(), QString::fromLatin1(kTabDisplay));
  tabs_->addTab(buildLoggingTab(), QString::fromLatin1(kTabLogging));
  tabs_->addTab(buildOptionsTab(), QString::fromLatin1(kTabOptions));
  tabs_->addTab(buildSdoTab(), QString::fromLatin1(kTabSdo));
  tabs_->addTab(buildDirectoriesTab(), QString::fromLatin1(kTabDirectories));
  tabs_->addTab(buildSignalsTab(), QString::fromLatin1(kTabSignals));

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  buttons->button(QDialogButtonBox::Ok)->setObjectName(QStringLiteral("Btn_OK"));
  buttons->button(QDialogButtonBox::Cancel)->setObjectName(QStringLiteral("Btn_Cancel"));
  connect(buttons, &QDialogButtonBox::accepted, this, &SettingsWindow::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &SettingsWindow::reject);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(tabs_, 1);
  layout->addWidget(buttons);
  loadFromSettings();
}

QWidget* SettingsWindow::buildCanTab() {
  auto* page = new QWidget;
  page->setObjectName(QStringLiteral("TS_Can"));
  auto* grid = new QGridLayout;
  for (int bus = 0; bus < 2; ++bus) {
    const size_t b = static_cast<size_t>(bus);
    grid->addWidget(new QLabel(QStringLiteral("CAN%1 bit rate (kbit/s) :").arg(bus + 1), page), bus, 0);
    bitRate_[b] = MakeCombo({}, QStringLiteral("CB_BitRate%1").arg(bus + 1), page);
    grid->addWidget(bitRate_[b], bus, 1);
    fdEnabled_[b] = MakeCheck(QStringLiteral("CAN FD :"), QStringLiteral("CHK_CanFd%1").arg(bus + 1), page);
    grid->addWidget(fdEnabled_[b], bus, 2);
    dataRate_[b] = MakeCombo({}, QStringLiteral("CB_DataRate%1").arg(bus + 1), page);
    grid->addWidget(dataRate_[b], bus, 3);
    grid->addWidget(new QLabel(QStringLiteral("kbit/s (data phase)"), page), bus, 4);
    connect(fdEnabled_[b], &QCheckBox::toggled, dataRate_[b], &QWidget::setEnabled);
  }
  grid->setColumnStretch(5, 1);

  auto* tableBox = new QGroupBox(
      QStringLiteral("CAN message table (required to play certain Vector ASCII logfiles)"), page);
  messageTable_ = new QTableWidget(static_cast<int>(settings_.canMessages.size()), 2, tableBox);
  messageTable_->setObjectName(QStringLiteral("SG_CanMessages"));
  messageTable_->setHorizontalHeaderLabels({QStringLiteral("Name"), QStringLiteral("CAN-ID (hex)")});
  messageTable_->horizontalHeader()->setSectionResizeMode(0, QHeaderView::Stretch);
  messageTable_->horizontalHeader()->setSectionResizeMode(1, QHeaderView::Fixed);
  messageTable_->setColumnWidth(
      1, messageTable_->fontMetrics().horizontalAdvance(QStringLiteral("CAN-ID (hex)")) + 40);
  // Rows are numbered like the configuration keys Name0 .. Name31.
  QStringList rowNames;
  for (size_t i = 0; i < settings_.canMessages.size(); ++i) rowNames << QString::number(i);
  messageTable_->setVerticalHeaderLabels(rowNames);
  messageTable_->verticalHeader()->setDefaultSectionSize(messageTable_->fontMetrics().height() + 6);
  auto* tableLayout = new QVBoxLayout(tableBox);
  tableLayout->addWidget(messageTable_);

  auto* layout = new QVBoxLayout(page);
  layout->addLayout(grid);
  layout->addWidget(tableBox, 1);
  return page;
}

QWidget* SettingsWindow::buildDisplayTab() {
  auto* page = new QWidget;
  page->setObjectName(QStringLiteral("TS_Display"));
  auto* form = new QFormLayout;
  timeStampDisplay_ =
      MakeIndexCombo({QStringLiteral("off"), QStringLiteral("absolute"), QStringLiteral("relative")},
                     QStringLiteral("CB_TimeStampDisplay"), page);
  form->addRow(QStringLiteral("Time stamps :"), timeStampDisplay_);
  timeStampFormat_ =
      MakeIndexCombo({QStringLiteral("default"), QStringLiteral("Milliseconds"), QStringLiteral("HH:MM:SS")},
                     QStringLiteral("CB_TimeStampFormat"), page);
  form->addRow(QStringLiteral("Time stamp format :"), timeStampFormat_);
  timeRelMax_ = new QSpinBox(page);
  timeRelMax_->setObjectName(QStringLiteral("Ed_TimeRelMax"));
  timeRelMax_->setRange(0, 100000000);
  form->addRow(QStringLiteral("largest relative time shown (ms) :"), timeRelMax_);
  maxWindowLines_ = new QSpinBox(page);
  maxWindowLines_->setObjectName(QStringLiteral("Ed_MaxWindowLines"));
  maxWindowLines_->setRange(20, 10000);
  form->addRow(QStringLiteral("max. lines in history lists :"), maxWindowLines_);
  idDisplay_ = MakeCombo({QStringLiteral("hexadecimal"), QStringLiteral("decimal")},
                         QStringLiteral("CB_CanIdDisplay"), page);
  form->addRow(QStringLiteral("CAN identifiers :"), idDisplay_);
  rxListType_ = MakeIndexCombo({QStringLiteral("history"), QStringLiteral("sorted")},
                               QStringLiteral("CB_RxListType"), page);
  form->addRow(QStringLiteral("RX list :"), rxListType_);
  txListType_ = MakeIndexCombo({QStringLiteral("history"), QStringLiteral("sorted")},
                               QStringLiteral("CB_TxListType"), page);
  form->addRow(QStringLiteral("TX list :"), txListType_);

  auto* idRow = new QHBoxLayout;
  for (size_t i = 0; i < idAsText_.size(); ++i) {
    idAsText_[i] = MakeIdEdit(QStringLiteral("Ed_ShowIDAsText%1").arg(i), page);
    idRow->addWidget(idAsText_[i]);
  }
  form->addRow(QStringLiteral("show data as text for IDs (hex) :"), idRow);

  auto* fontRow = new QHBoxLayout;
  fontName_ = MakeCombo(QFontDatabase::families(), QStringLiteral("CB_FontName"), page);
  fontName_->setEditable(true);
  fontSize_ = new QSpinBox(page);
  fontSize_->setObjectName(QStringLiteral("Ed_FontSize"));
  fontSize_->setRange(4, 72);
  fontBold_ = MakeCheck(QStringLiteral("bold"), QStringLiteral("CHK_FontBold"), page);
  fontItalic_ = MakeCheck(QStringLiteral("italic"), QStringLiteral("CHK_FontItalic"), page);
  fontRow->addWidget(fontName_, 1);
  fontRow->addWidget(fontSize_);
  fontRow->addWidget(fontBold_);
  fontRow->addWidget(fontItalic_);
  form->addRow(QStringLiteral("Font of RX/TX windows :"), fontRow);

  auto* colourRow = new QHBoxLayout;
  const QString colourNames[] = {QStringLiteral("RX background"), QStringLiteral("TX background"),
                                 QStringLiteral("Command background")};
  const QString colourObjects[] = {QStringLiteral("Btn_RxColour"), QStringLiteral("Btn_TxColour"),
                                   QStringLiteral("Btn_CmdColour")};
  for (int i = 0; i < 3; ++i) {
    auto* button = new QPushButton(colourNames[i], page);
    button->setObjectName(colourObjects[i]);
    connect(button, &QPushButton::clicked, this, [this, i] { chooseColour(i); });
    colourButtons_[static_cast<size_t>(i)] = button;
    colourRow->addWidget(button);
  }
  form->addRow(QStringLiteral("Colours :"), colourRow);

  auto* checks = new QGridLayout;
  showBusNr_ = MakeCheck(QStringLiteral("show bus number"), QStringLiteral("CHK_ShowBusNr"), page);
  showDlc_ = MakeCheck(QStringLiteral("show DLC"), QStringLiteral("CHK_ShowDLC"), page);
  markFd_ = MakeCheck(QStringLiteral("show FDF,BRS,ESI"), QStringLiteral("CHK_MarkFDFrames"), page);
  showComments_ =
      MakeCheck(QStringLiteral("add comments in RX-window"), QStringLiteral("CHK_ShowComments"), page);
  mark29Bit_ =
      MakeCheck(QStringLiteral("mark 29-bit IDs (.x / .s)"), QStringLiteral("CHK_Mark29BitIDs"), page);
  combined_ = MakeCheck(QStringLiteral("Combined RX+TX window"), QStringLiteral("CHK_RxTxCombined"), page);
  checks->addWidget(showBusNr_, 0, 0);
  checks->addWidget(showDlc_, 0, 1);
  checks->addWidget(markFd_, 1, 0);
  checks->addWidget(mark29Bit_, 1, 1);
  checks->addWidget(showComments_, 2, 0);
  checks->addWidget(combined_, 2, 1);

  auto* layout = new QVBoxLayout(page);
  layout->addLayout(form);
  layout->addLayout(checks);
  layout->addStretch(1);
  return page;
}

QWidget* SettingsWindow::buildLoggingTab() {
  auto* page = new QWidget;
  page->setObjectName(QStringLiteral("TS_Logging"));
  auto* recorder = new QGroupBox(QStringLiteral("Logger"), page);
  auto* recorderLayout = new QFormLayout(recorder);
  logRx_ = MakeCheck(QStringLiteral("log received messages"), QStringLiteral("CHK_LogRxMsgs"), recorder);
  logTx_ = MakeCheck(QStringLiteral("log transmitted messages"), QStringLiteral("CHK_LogTxMsgs"), recorder);
  logOthers_ = MakeCheck(QStringLiteral("log other events (transmit errors)"),
                         QStringLiteral("CHK_LogOthers"), recorder);
  markRxTx_ = MakeCheck(QStringLiteral("mark transmitted frames with ;[T]"), QStringLiteral("CHK_MarkRxTx"),
                        recorder);
  recorderLayout->addRow(logRx_);
  recorderLayout->addRow(logTx_);
  recorderLayout->addRow(logOthers_);
  recorderLayout->addRow(markRxTx_);
  recordFile_ = MakeEdit(QStringLiteral("Ed_RecordFile"), 255, recorder);
  recorderLayout->addRow(QStringLiteral("Record file :"), recordFile_);

  auto* player = new QGroupBox(QStringLiteral("Logfile Player"), page);
  auto* playerLayout = new QFormLayout(player);
  playedFile_ = MakeEdit(QStringLiteral("Ed_PlayedFile"), 255, player);
  playerLayout->addRow(QStringLiteral("Played file :"), playedFile_);
  minTxDelay_ = new QSpinBox(player);
  minTxDelay_->setObjectName(QStringLiteral("Ed_MinTxDelay"));
  minTxDelay_->setRange(0, 100000);
  playerLayout->addRow(QStringLiteral("min. TX delay (ms) :"), minTxDelay_);
  auto* excludeGrid = new QGridLayout;
  for (size_t i = 0; i < excludeId_.size(); ++i) {
    excludeId_[i] = MakeIdEdit(QStringLiteral("Ed_ExcludeTxId%1").arg(i), player);
    excludeGrid->addWidget(excludeId_[i], static_cast<int>(i / 4), static_cast<int>(i % 4));
  }
  playerLayout->addRow(QStringLiteral("don't send these IDs (hex) :"), excludeGrid);

  auto* layout = new QVBoxLayout(page);
  layout->addWidget(recorder);
  layout->addWidget(player);
  layout->addStretch(1);
  return page;
}

QWidget* SettingsWindow::buildOptionsTab() {
  auto* page = new QWidget;
  page->setObjectName(QStringLiteral("TS_Options"));
  auto* form = new QFormLayout(page);
  txDelay_ = new QDoubleSpinBox(page);
  txDelay_->setObjectName(QStringLiteral("Ed_TxDelay"));
  txDelay_->setRange(0.0, 1000000.0);
  txDelay_->setDecimals(1);
  form->addRow(QStringLiteral("min. delay between two transmissions of a script (ms) :"), txDelay_);
  saveVars_ = MakeCheck(QStringLiteral("save VAR values between sessions"),
                        QStringLiteral("CHK_SaveVarValues"), page);
  form->addRow(saveVars_);
  languageTest_ =
      MakeCheck(QStringLiteral("Language test mode"), QStringLiteral("CHK_LanguageTestMode"), page);
  form->addRow(languageTest_);
  showErrorFrames_ = MakeCheck(QStringLiteral("Show error frames ( with suitable CAN-driver )"),
                               QStringLiteral("CHK_ShowErrorFrames"), page);
  form->addRow(showErrorFrames_);
  highLevelProtocol_ = MakeIndexCombo({QStringLiteral("unknown (try to guess)"), QStringLiteral("CANopen"),
                                       QStringLiteral("J1939"), QStringLiteral("imported DBC")},
                                      QStringLiteral("CB_HighLevelProtocol"), page);
  form->addRow(QStringLiteral("High level protocol :"), highLevelProtocol_);
  return page;
}

QWidget* SettingsWindow::buildSdoTab() {
  auto* page = new QWidget;
  page->setObjectName(QStringLiteral("TS_Sdo"));
  // Timeouts are milliseconds but count in 100 ms ticks; the range still takes any value a file
  // may hold, so that OK never changes one the user did not touch.
  constexpr int kMaxTimeoutMs = 3600000;

  auto* client = new QGroupBox(QStringLiteral("SDO Client"), page);
  auto* clientForm = new QFormLayout(client);
  clientEnable_ =
      MakeCheck(QStringLiteral("SDO Client active"), QStringLiteral("CHK_SdoClientEnable"), client);
  clientForm->addRow(clientEnable_);
  clientNodeId_ = MakeSpin(QStringLiteral("Ed_SdoClientNodeID"), 1, 127, client);
  clientForm->addRow(QStringLiteral("Node-ID of the remote node (server) :"), clientNodeId_);
  clientTimeout_ = MakeSpin(QStringLiteral("Ed_SdoClientTimeout"), 0, kMaxTimeoutMs, client);
  clientTimeout_->setSuffix(QStringLiteral(" ms"));
  clientForm->addRow(QStringLiteral("Client timeout :"), clientTimeout_);

  auto* server = new QGroupBox(QStringLiteral("SDO Server"), page);
  auto* serverForm = new QFormLayout(server);
  serverEnable_ =
      MakeCheck(QStringLiteral("SDO Server active"), QStringLiteral("CHK_SdoServerEnable"), server);
  serverForm->addRow(serverEnable_);
  serverNodeId_ = MakeSpin(QStringLiteral("Ed_SdoServerNodeID"), 1, 127, server);
  serverForm->addRow(QStringLiteral("Node-ID of the simulated node :"), serverNodeId_);
  auto* moreGrid = new QGridLayout;
  for (size_t i = 0; i < moreServerNodeIds_.size(); ++i) {
    // Numbered like the keys ServerNodeID2 .. ServerNodeID8; 0 leaves that server off.
    moreServerNodeIds_[i] = MakeSpin(QStringLiteral("Ed_SdoServerNodeID%1").arg(i + 2), 0, 127, server);
    moreServerNodeIds_[i]->setSpecialValueText(QStringLiteral("off"));
    moreGrid->addWidget(moreServerNodeIds_[i], static_cast<int>(i / 4), static_cast<int>(i % 4));
  }
  serverForm->addRow(QStringLiteral("Node-IDs of further servers :"), moreGrid);
  serverTimeout_ = MakeSpin(QStringLiteral("Ed_SdoServerTimeout"), 0, kMaxTimeoutMs, server);
  serverTimeout_->setSuffix(QStringLiteral(" ms"));
  serverForm->addRow(QStringLiteral("Server timeout :"), serverTimeout_);

  auto* layout = new QVBoxLayout(page);
  layout->addWidget(client);
  layout->addWidget(server);
  layout->addStretch(1);
  return page;
}

QWidget* SettingsWindow::buildDirectoriesTab() {
  auto* page = new QWidget;
  page->setObjectName(QStringLiteral("TS_Directories"));
  auto* form = new QFormLayout(page);
  dirPrograms_ = MakeEdit(QStringLiteral("Ed_DirPrograms"), 255, page);
  dirObjects_ = MakeEdit(QStringLiteral("Ed_DirObjects"), 255, page);
  dirHelpFile_ = MakeEdit(QStringLiteral("Ed_HelpFile"), 255, page);
  dirLogFiles_ = MakeEdit(QStringLiteral("Ed_LogFileDir"), 255, page);
  dirBrowser_ = MakeEdit(QStringLiteral("Ed_HtmlBrowser"), 511, page);
  dirMyOd_ = MakeEdit(QStringLiteral("Ed_MyObjectDictionary"), 255, page);
  dirHisOd_ = MakeEdit(QStringLiteral("Ed_HisObjectDictionary"), 255, page);
  form->addRow(QStringLiteral("Command programs :"), dirPrograms_);
  form->addRow(QStringLiteral("Object dictionaries :"), dirObjects_);
  form->addRow(QStringLiteral("Help file :"), dirHelpFile_);
  form->addRow(QStringLiteral("Log files :"), dirLogFiles_);
  form->addRow(QStringLiteral("HTML browser :"), dirBrowser_);
  form->addRow(QStringLiteral("Dictionary of the SDO server :"), dirMyOd_);
  form->addRow(QStringLiteral("Dictionary for the SDO client :"), dirHisOd_);
  return page;
}

QWidget* SettingsWindow::buildSignalsTab() {
  auto* page = new QWidget;
  page->setObjectName(QStringLiteral("TS_Signals"));
  silence_ = MakeCheck(QStringLiteral("disable all acoustic signals (-> silence )"),
                       QStringLiteral("CHK_Silence"), page);
  auto* deviceBox = new QGroupBox(QStringLiteral("Acoustic signal output"), page);
  auto* deviceLayout = new QVBoxLayout(deviceBox);
  audioDevice_ = new QButtonGroup(this);
  const QString devices[] = {QStringLiteral("none (never produce audio output)"),
                             QStringLiteral("internal PC-speaker (requires port access driver ! )"),
                             QStringLiteral("Soundcard / MIDI Synthesizer")};
  for (int i = 0; i < 3; ++i) {
    auto* radio = new QRadioButton(devices[i], deviceBox);
    radio->setObjectName(QStringLiteral("RB_AudioOutput%1").arg(i));
    audioDevice_->addButton(radio, i);
    deviceLayout->addWidget(radio);
  }
  auto* test = new QPushButton(QStringLiteral("Test"), page);
  test->setObjectName(QStringLiteral("Btn_SoundTest"));
  // The test plays what the user has chosen on this tab, before OK.
  connect(test, &QPushButton::clicked, this,
          [this] { emit soundTestRequested(audioDevice_->checkedId(), !silence_->isChecked()); });

  auto* layout = new QVBoxLayout(page);
  layout->addWidget(silence_);
  layout->addWidget(deviceBox);
  layout->addWidget(test, 0, Qt::AlignLeft);
  layout->addStretch(1);
  return page;
}

void SettingsWindow::loadFromSettings() {
  const MainSettings& s = settings_;
  for (size_t b = 0; b < 2; ++b) {
    SelectRate(bitRate_[b], kBitRates, s.bus[b].baudrate);
    const bool fd = s.bus[b].flexDataRate > 0;
    fdEnabled_[b]->setChecked(fd);
    SelectRate(dataRate_[b], kDataRates, fd ? s.bus[b].flexDataRate : kDataRates[0]);
    dataRate_[b]->setEnabled(fd);
  }
  for (size_t i = 0; i < s.canMessages.size(); ++i) {
    const int row = static_cast<int>(i);
    messageTable_->setItem(row, 0, new QTableWidgetItem(ToQt(s.canMessages[i].name)));
    messageTable_->setItem(row, 1, new QTableWidgetItem(IdWordToText(s.canMessages[i].canId)));
  }

  const CanDisplaySettings& d = s.display;
  SelectIndexValue(timeStampDisplay_, d.timeStampDisplay);
  SelectIndexValue(timeStampFormat_, d.timeStampFormat);
  timeRelMax_->setValue(d.timeRelMax);
  maxWindowLines_->setValue(d.maxWindowLines);
  idDisplay_->setCurrentIndex(d.canIdDisplay == 10 ? 1 : 0);
  SelectIndexValue(rxListType_, d.rxListType);
  SelectIndexValue(txListType_, d.txListType);
  for (size_t i = 0; i < idAsText_.size(); ++i) idAsText_[i]->setText(IdWordToText(d.showIdAsText[i]));
  fontName_->setCurrentText(ToQt(d.fontName));
  fontSize_->setValue(d.fontSize);
  fontBold_->setChecked(d.fontStyle & 1);
  fontItalic_->setChecked(d.fontStyle & 2);
  setColour(kRxColour, d.rxBackgndColor);
  setColour(kTxColour, d.txBackgndColor);
  setColour(kCmdColour, d.cmdBackgndColor);
  showBusNr_->setChecked(d.showBusNr);
  showDlc_->setChecked(d.showDlc);
  markFd_->setChecked(d.markFdFrames);
  showComments_->setChecked(d.showComments);
  mark29Bit_->setChecked(d.mark29BitIds);
  combined_->setChecked(d.rxTxCombined);

  const LoggingSettings& l = s.logging;
  logRx_->setChecked(l.logRxMsgs);
  logTx_->setChecked(l.logTxMsgs);
  logOthers_->setChecked(l.logOthers);
  markRxTx_->setChecked(l.markRxTx);
  recordFile_->setText(ToQt(l.recordFile));
  playedFile_->setText(ToQt(l.playedFile));
  minTxDelay_->setValue(s.player.minTxDelayMs);
  for (size_t i = 0; i < excludeId_.size(); ++i)
    excludeId_[i]->setText(IdWordToText(s.player.excludeTxId[i]));

  txDelay_->setValue(s.interp.txDelay);
  saveVars_->setChecked(s.interp.saveVarValues);
  languageTest_->setChecked(windowSettings_.languageTestMode);
  showErrorFrames_->setChecked(d.displayOptions & 1);
  SelectIndexValue(highLevelProtocol_, d.highLevelProtocol);

  const SdoSettings& sdo = s.sdo;
  clientEnable_->setChecked(sdo.clientEnable != 0);
  clientNodeId_->setValue(sdo.clientNodeId);
  clientTimeout_->setValue(sdo.clientTimeoutMs);
  serverEnable_->setChecked(sdo.serverEnable != 0);
  serverNodeId_->setValue(sdo.serverNodeId);
  for (size_t i = 0; i < moreServerNodeIds_.size(); ++i)
    moreServerNodeIds_[i]->setValue(sdo.moreServerNodeIds[i]);
  serverTimeout_->setValue(sdo.serverTimeoutMs);

  const DirectorySettings& dir = s.dirs;
  dirPrograms_->setText(ToQt(dir.programs));
  dirObjects_->setText(ToQt(dir.objects));
  dirHelpFile_->setText(ToQt(dir.helpFile));
  dirLogFiles_->setText(ToQt(dir.logFileDir));
  dirBrowser_->setText(ToQt(dir.htmlBrowser));
  dirMyOd_->setText(ToQt(dir.myObjectDictionary));
  dirHisOd_->setText(ToQt(dir.hisObjectDictionary));

  silence_->setChecked(!s.interp.soundEnabled);
  QAbstractButton* device = audioDevice_->button(s.audioOutputDevice);
  if (device) {
    device->setChecked(true);
  } else {
    // An unknown device number stays as it is unless the user picks one.
    audioDevice_->setExclusive(false);
    for (QAbstractButton* b : audioDevice_->buttons()) b->setChecked(false);
    audioDevice_->setExclusive(true);
  }
}

void SettingsWindow::applyToSettings() {
  MainSettings& s = settings_;
  for (size_t b = 0; b < 2; ++b) {
    s.bus[b].baudrate = bitRate_[b]->currentData().toInt();
    s.bus[b].flexDataRate = fdEnabled_[b]->isChecked() ? dataRate_[b]->currentData().toInt() : 0;
  }
  for (size_t i = 0; i < s.canMessages.size(); ++i) {
    const int row = static_cast<int>(i);
    const QTableWidgetItem* name = messageTable_->item(row, 0);
    const QTableWidgetItem* id = messageTable_->item(row, 1);
    // The player matches names as words, so blanks around a name are not part of it.
    s.canMessages[i].name = FromQt(name ? name->text().trimmed().left(kNameChars) : QString());
    s.canMessages[i].canId = id ? IdWordFromText(id->text()) : -1;
  }

  CanDisplaySettings& d = s.display;
  d.timeStampDisplay = IndexValue(timeStampDisplay_);
  d.timeStampFormat = IndexValue(timeStampFormat_);
  d.timeRelMax = timeRelMax_->value();
  d.maxWindowLines = maxWindowLines_->value();
  // Any value other than 10 means hexadecimal; an unusual one read from the file is kept.
  if (idDisplay_->currentIndex() == 1)
    d.canIdDisplay = 10;
  else if (d.canIdDisplay == 10)
    d.canIdDisplay = 16;
  d.rxListType = IndexValue(rxListType_);
  d.txListType = IndexValue(txListType_);
  for (size_t i = 0; i < idAsText_.size(); ++i) d.showIdAsText[i] = IdWordFromText(idAsText_[i]->text());
  const QString font = fontName_->currentText().trimmed();
  if (!font.isEmpty()) d.fontName = FromQt(font.left(80));
  d.fontSize = fontSize_->value();
  d.fontStyle = (d.fontStyle & ~3) | (fontBold_->isChecked() ? 1 : 0) | (fontItalic_->isChecked() ? 2 : 0);
  d.rxBackgndColor = colours_[kRxColour];
  d.txBackgndColor = colours_[kTxColour];
  d.cmdBackgndColor = colours_[kCmdColour];
  d.showBusNr = showBusNr_->isChecked();
  d.showDlc = showDlc_->isChecked();
  d.markFdFrames = markFd_->isChecked();
  d.showComments = showComments_->isChecked();
  d.mark29BitIds = mark29Bit_->isChecked();
  d.rxTxCombined = combined_->isChecked();
  d.displayOptions = (d.displayOptions & ~1) | (showErrorFrames_->isChecked() ? 1 : 0);
  d.highLevelProtocol = IndexValue(highLevelProtocol_);

  LoggingSettings& l = s.logging;
  l.logRxMsgs = logRx_->isChecked();
  l.logTxMsgs = logTx_->isChecked();
  l.logOthers = logOthers_->isChecked();
  l.markRxTx = markRxTx_->isChecked();
  l.recordFile = FromQt(recordFile_->text());
  l.playedFile = FromQt(playedFile_->text());
  s.player.minTxDelayMs = minTxDelay_->value();
  for (size_t i = 0; i < excludeId_.size(); ++i)
    s.player.excludeTxId[i] = IdWordFromText(excludeId_[i]->text());

  s.interp.txDelay = txDelay_->value();
  s.interp.saveVarValues = saveVars_->isChecked();
  windowSettings_.languageTestMode = languageTest_->isChecked();

  SdoSettings& sdo = s.sdo;
  KeepUnlessChanged(sdo.clientEnable, clientEnable_);
  KeepUnlessChanged(sdo.clientNodeId, clientNodeId_);
  KeepUnlessChanged(sdo.clientTimeoutMs, clientTimeout_);
  KeepUnlessChanged(sdo.serverEnable, serverEnable_);
  KeepUnlessChanged(sdo.serverNodeId, serverNodeId_);
  for (size_t i = 0; i < moreServerNodeIds_.size(); ++i)
    KeepUnlessChanged(sdo.moreServerNodeIds[i], moreServerNodeIds_[i]);
  KeepUnlessChanged(sdo.serverTimeoutMs, serverTimeout_);

  DirectorySettings& dir = s.dirs;
  dir.programs = FromQt(dirPrograms_->text());
  dir.objects = FromQt(dirObjects_->text());
  dir.helpFile = FromQt(dirHelpFile_->text());
  dir.logFileDir = FromQt(dirLogFiles_->text());
  dir.htmlBrowser = FromQt(dirBrowser_->text());
  dir.myObjectDictionary = FromQt(dirMyOd_->text());
  dir.hisObjectDictionary = FromQt(dirHisOd_->text());

  s.interp.soundEnabled = !silence_->isChecked();
  if (audioDevice_->checkedId() >= 0) s.audioOutputDevice = audioDevice_->checkedId();
}

bool SettingsWindow::showTab(const QString& caption) {
  for (int i = 0; i < tabs_->count(); ++i) {
    if (tabs_->tabText(i) == caption) {
      tabs_->setCurrentIndex(i);
      return true;
    }
  }
  tabs_->setCurrentIndex(0);
  return false;
}

void SettingsWindow::setColour(int which, int windowsColour) {
  if (which < 0 || which >= static_cast<int>(colours_.size())) return;
  colours_[static_cast<size_t>(which)] = windowsColour;
  refreshColourButton(which);
}

void SettingsWindow::refreshColourButton(int which) {
  QPushButton* button = colourButtons_[static_cast<size_t>(which)];
  const QColor colour = FromWindowsColour(colours_[static_cast<size_t>(which)]);
  // Text in black or white, whichever stands out against the swatch.
  const bool dark = (3 * colour.red() + 2 * colour.green() + colour.blue()) / 6 <= 126;
  button->setStyleSheet(QStringLiteral("background-color: %1; color: %2;")
                            .arg(colour.name(), dark ? QStringLiteral("white") : QStringLiteral("black")));
}

void SettingsWindow::chooseColour(int which) {
  const QColor chosen = QColorDialog::getColor(FromWindowsColour(colours_[static_cast<size_t>(which)]), this,
                                               QStringLiteral("Colour"));
  if (chosen.isValid()) setColour(which, ToWindowsColour(chosen));
}

void SettingsWindow::accept() {
  applyToSettings();
  QDialog::accept();
  emit applied();
}

}  // namespace busprobe
