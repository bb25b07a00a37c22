#include "gui/player_window.h"

#include <unistd.h>

#include <QCloseEvent>
#include <QFormLayout>
#include <QGridLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QMouseEvent>
#include <QRegularExpression>
#include <QScreen>
#include <QVBoxLayout>

#include "gui/gui_user_interface.h"

namespace busprobe {

namespace {

constexpr int kMaxChannel = 255;
constexpr int kRejectChars = 255;

// Button captions, in the order of buttons_.
const char* const kButtonTexts[] = {"Play", "Stop", "Rewind", "Fast Forward", "Record", "Help"};
enum ButtonIndex { kPlay, kStop, kRewind, kFastForward, kRecord, kHelp };

QString ToQt(const std::string& text) {
  return CoreTextToQt(text);
}

const char* FormName(LogForm form) {
  switch (form) {
    case LogForm::kVector:
      return "Vector ASCII";
    case LogForm::kPcanExplorer:
      return "PCAN Explorer trace";
    case LogForm::kPcanTrace:
      return "PCAN-View trace";
    case LogForm::kCandump:
      return "candump log";
    case LogForm::kNone:
      break;
  }
  return "-";
}

}  // namespace

std::array<int, 4> ParseChannelList(const QString& text) {
  std::array<int, 4> channels{};
  size_t used = 0;
  const QStringList words = text.split(QRegularExpression(QStringLiteral("[\\s,;]+")), Qt::SkipEmptyParts);
  for (const QString& word : words) {
    bool ok = false;
    const int channel = word.toInt(&ok);
    if (!ok || channel < 1 || channel > kMaxChannel) continue;
    if (used < channels.size()) channels[used++] = channel;
  }
  return channels;
}

QString ChannelListText(const std::array<int, 4>& channels) {
  QStringList words;
  for (int channel : channels)
    if (channel > 0) words << QString::number(channel);
  return words.join(QLatin1Char(' '));
}

PlayerWindow::PlayerWindow(Application& app, QWidget* parent)
    : QWidget(parent, Qt::Window),
      app_(app),
      player_(app.player()),
      fileName_(new QLineEdit(this)),
      bar_(new QProgressBar(this)),
      position_(new QLabel(this)),
      time_(new QLabel(this)),
      tabs_(new QTabWidget(this)) {
  setObjectName(QStringLiteral("CanPlayerW"));
  setWindowTitle(QStringLiteral("Logfile Replay"));

  fileName_->setObjectName(QStringLiteral("Ed_FileName"));
  fileName_->setReadOnly(true);
  fileName_->setToolTip(QStringLiteral("double-click to select another logfile"));
  fileName_->installEventFilter(this);

  auto* buttonRow = new QHBoxLayout;
  for (size_t i = 0; i < buttons_.size(); ++i) {
    auto* button = new QPushButton(QString::fromLatin1(kButtonTexts[i]), this);
    button->setObjectName(QStringLiteral("Btn_") +
                          QString::fromLatin1(kButtonTexts[i]).remove(QLatin1Char(' ')));
    buttons_[i] = button;
    buttonRow->addWidget(button);
  }
  connect(buttons_[kPlay], &QPushButton::clicked, this, &PlayerWindow::play);
  connect(buttons_[kStop], &QPushButton::clicked, this, [this] {
    player_.stop();
    refreshLabels();
  });
  connect(buttons_[kRewind], &QPushButton::clicked, this, [this] {
    player_.rewind();
    refreshLabels();
  });
  connect(buttons_[kFastForward], &QPushButton::clicked, this, &PlayerWindow::notImplemented);
  connect(buttons_[kRecord], &QPushButton::clicked, this, &PlayerWindow::notImplemented);
  connect(buttons_[kHelp], &QPushButton::clicked, this, &PlayerWindow::showHelp);

  bar_->setObjectName(QStringLiteral("PB_Position"));
  bar_->setRange(0, kBarSteps);
  bar_->setTextVisible(false);
  position_->setObjectName(QStringLiteral("Lab_Position"));
  time_->setObjectName(QStringLiteral("Lab_Time"));
  position_->setMinimumWidth(position_->fontMetrics().horizontalAdvance(QStringLiteral("0000000 kB")));
  time_->setMinimumWidth(time_->fontMetrics().horizontalAdvance(QStringLiteral("00000.0 sec TOO LATE")));
  auto* progressRow = new QHBoxLayout;
  progressRow->addWidget(bar_, 1);
  progressRow->addWidget(position_);
  progressRow->addWidget(time_);

  tabs_->setObjectName(QStringLiteral("PageControl"));
  tabs_->addTab(buildOptionsTab(), QStringLiteral("Options"));
  tabs_->addTab(buildStatisticsTab(), QStringLiteral("Statistics"));

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(fileName_);
  layout->addLayout(buttonRow);
  layout->addLayout(progressRow);
  layout->addWidget(tabs_, 1);

  showOptions(player_.options());
  refreshLabels();
}

PlayerWindow::~PlayerWindow() = default;

QWidget* PlayerWindow::buildOptionsTab() {
  auto* page = new QWidget;
  page->setObjectName(QStringLiteral("TS_Options"));
  auto* form = new QFormLayout(page);
  loopMode_ = new QCheckBox(QStringLiteral("Loop mode (restart at the end of the file)"), page);
  loopMode_->setObjectName(QStringLiteral("CHK_LoopMode"));
  dontShow_ = new QCheckBox(QStringLiteral("don't show messages in TX window"), page);
  dontShow_->setObjectName(QStringLiteral("CHK_DontShow"));
  realBus_ = new QCheckBox(QStringLiteral("send messages to the 'real' CAN bus"), page);
  realBus_->setObjectName(QStringLiteral("CHK_RealBus"));
  form->addRow(loopMode_);
  form->addRow(dontShow_);
  form->addRow(realBus_);
  for (size_t bus = 0; bus < channels_.size(); ++bus) {
    auto* edit = new QLineEdit(page);
    edit->setObjectName(QStringLiteral("Ed_ChannelsBus%1").arg(bus + 1));
    edit->setToolTip(QStringLiteral("up to 4 channel numbers of the logfile, separated by spaces"));
    channels_[bus] = edit;
    form->addRow(QStringLiteral("Logfile channels for CAN%1 :").arg(bus + 1), edit);
  }
  reject_ = new QLineEdit(page);
  reject_->setObjectName(QStringLiteral("Ed_Reject"));
  reject_->setMaxLength(kRejectChars);
  form->addRow(QStringLiteral("Reject :"), reject_);
  minTxDelay_ = new QSpinBox(page);
  minTxDelay_->setObjectName(QStringLiteral("Ed_MinTxDelay"));
  minTxDelay_->setRange(0, 100000);
  form->addRow(QStringLiteral("min. TX delay (ms) :"), minTxDelay_);
  return page;
}

QWidget* PlayerWindow::buildStatisticsTab() {
  auto* page = new QWidget;
  page->setObjectName(QStringLiteral("TS_Statistics"));
  statistics_ = new QLabel(page);
  statistics_->setObjectName(QStringLiteral("Lab_Statistics"));
  statistics_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  statistics_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  QFont fixed = statistics_->font();
  fixed.setStyleHint(QFont::Monospace);
  fixed.setFamily(QStringLiteral("Monospace"));
  statistics_->setFont(fixed);
  auto* layout = new QVBoxLayout(page);
  layout->addWidget(statistics_, 1);
  return page;
}

QPushButton* PlayerWindow::button(const QString& text) const {
  for (QPushButton* b : buttons_)
    if (b->text() == text) return b;
  return nullptr;
}

PlayerOptions PlayerWindow::optionsFromControls() const {
  PlayerOptions options = player_.options();
  options.loopMode = loopMode_->isChecked();
  options.dontShow = dontShow_->isChecked();
  options.bus1Channels = ParseChannelList(channels_[0]->text());
  options.bus2Channels = ParseChannelList(channels_[1]->text());
  options.rejectText = reject_->text().toStdString();
  options.sendToRealBus = realBus_->isChecked();
  return options;
}

void PlayerWindow::showOptions(const PlayerOptions& options) {
  loopMode_->setChecked(options.loopMode);
  dontShow_->setChecked(options.dontShow);
  channels_[0]->setText(ChannelListText(options.bus1Channels));
  channels_[1]->setText(ChannelListText(options.bus2Channels));
  reject_->setText(ToQt(options.rejectText));
  realBus_->setChecked(options.sendToRealBus);
  minTxDelay_->setValue(app_.settings().player.minTxDelayMs);
}

void PlayerWindow::play() {
  const PlayerOptions options = optionsFromControls();
  app_.settings().player.minTxDelayMs = minTxDelay_->value();
  // The tab shows what is in force, e.g. channel lists cleaned of what could not be read.
  showOptions(options);
  if (!player_.play(options)) app_.ui().showMessageBox(kPlayerOpenFailedTitle, player_.openFailureText());
  refreshLabels();
}

void PlayerWindow::refreshLabels() {
  const uint64_t size = player_.fileSize();
  const uint64_t position = std::min(player_.filePosition(), size);
  const int bar = size > 0 ? static_cast<int>(position * kBarSteps / size) : 0;
  if (bar_->value() != bar) bar_->setValue(bar);
  const QString positionText = ToQt(player_.positionText());
  if (position_->text() != positionText) position_->setText(positionText);
  const QString timeText = ToQt(player_.timeText());
  if (time_->text() != timeText) time_->setText(timeText);
  const int state = static_cast<int>(player_.state());
  if (state != shownState_) {
    shownState_ = state;
    setWindowTitle(ToQt(player_.captionText()));
  }
  const QString name = ToQt(player_.fileName());
  if (fileName_->text() != name) fileName_->setText(name);

  const PlayerStatistics& s = player_.statistics();
  QString text;
  text +=
      QStringLiteral("File format          : %1\n").arg(QString::fromLatin1(FormName(player_.format().form)));
  for (size_t c = 0; c < s.sentPerChannel.size(); ++c)
    text += QStringLiteral("Channel %1 frames sent : %2\n").arg(c + 1).arg(s.sentPerChannel[c]);
  text += QStringLiteral("Frames sent in total : %1\n").arg(s.framesSent);
  text += QStringLiteral("Transmit failures    : %1\n").arg(s.transmitFailures);
  text += QStringLiteral("Lines skipped        : %1\n").arg(s.linesSkipped);
  text += QStringLiteral("Unknown ID-Symbols   : %1\n").arg(s.unknownSymbolLines);
  text += QStringLiteral("Excluded IDs         : %1\n").arg(s.excludedFrames);
  text += QStringLiteral("Unmapped channels    : %1\n").arg(s.unmappedFrames);
  text += QStringLiteral("Over-long lines      : %1\n").arg(s.overlongLines);
  text += QStringLiteral("Ends of file reached : %1").arg(s.wraps);
  if (statistics_->text() != text) statistics_->setText(text);
}

void PlayerWindow::chooseAnotherFile() {
  const QString path = chooseFile_ ? chooseFile_() : QString();
  if (path.isEmpty()) return;
  player_.stop();
  const std::string chosen = path.toStdString();
  app_.settings().logging.playedFile = chosen;
  player_.setFileName(chosen);
  if (!player_.OpenPlayerFile(chosen))
    app_.ui().showMessageBox(kPlayerOpenFailedTitle, player_.openFailureText());
  refreshLabels();
}

void PlayerWindow::notImplemented() {
  app_.ui().showMessageBox(kPlayerNotImplementedTitle, kPlayerNotImplementedText);
}

void PlayerWindow::showHelp() {
  app_.ui().showMessageBox(
      "Logfile Replay",
      "Plays a recorded logfile to the CAN bus with the time spacing of the recording.\n\n"
      "Readable: Vector ASCII (*.asc), PCAN Explorer traces (*.log), PCAN-View traces (*.trc) and candump "
      "logs.\n"
      "Play starts or continues, Stop halts, Rewind returns to the first frame.\n"
      "Double-click the file name to select another logfile.\n"
      "Options: the logfile channels replayed on CAN1 and CAN2; frames of other channels are skipped "
      "and counted on the Statistics tab.");
}

void PlayerWindow::placeFromConfiguration() {
  const PlayerWindowSettings& stored = app_.playerWindowSettings();
  const QScreen* screen = QGuiApplication::primaryScreen();
  if (parentWidget() && parentWidget()->screen()) screen = parentWidget()->screen();
  const QRect desktop = screen ? screen->availableGeometry() : QRect(0, 0, 800, 600);
  QPoint pos;
  if (stored.left != -1 && stored.top != -1) {
    pos.setX(stored.left);
    pos.setY(stored.top);
  } else if (parentWidget()) {
    // Nothing stored yet: over the main window's top right corner, where it hides no pane title.
    const QRect main = parentWidget()->frameGeometry();
    pos = QPoint(main.right() - sizeHint().width() - 40, main.top() + 80);
  } else {
    pos = desktop.center() - QPoint(sizeHint().width() / 2, sizeHint().height() / 2);
  }
  pos.setX(KeepPlayerWindowOnDesktop(pos.x(), desktop.left(), desktop.right()));
  pos.setY(KeepPlayerWindowOnDesktop(pos.y(), desktop.top(), desktop.bottom()));
  move(pos);
  placed_ = true;
}

void PlayerWindow::storePosition() {
  // Kept as the program always did: the position is written back only by an administrator.
  if (geteuid() != 0) return;
  PlayerWindowSettings& stored = app_.playerWindowSettings();
  stored.left = x();
  stored.top = y();
}

void PlayerWindow::showEvent(QShowEvent* event) {
  if (!placed_) placeFromConfiguration();
  QWidget::showEvent(event);
  refreshLabels();
}

void PlayerWindow::closeEvent(QCloseEvent* event) {
  storePosition();
  // Closing the window ends the replay, as "Stop player + recorder" does for the player.
  if (player_.windowShown()) player_.StopPlayer();
  event->accept();
}

bool PlayerWindow::eventFilter(QObject* watched, QEvent* event) {
  if (watched == fileName_ && event->type() == QEvent::MouseButtonDblClick) {
    chooseAnotherFile();
    return true;
  }
  return QWidget::eventFilter(watched, event);
}

}  // namespace busprobe
