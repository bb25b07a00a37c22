#include "gui/rx_tx_panes.h"

#include <QHBoxLayout>
#include <QMenu>
#include <QMouseEvent>
#include <QScrollBar>
#include <QVBoxLayout>
#include <algorithm>

#include "traffic/frame_format.h"

namespace busprobe {

namespace {
constexpr QStringView kTransmitMark = u";[T]";
}  // namespace

QColor WindowsColour(int value) {
  return QColor(value & 0xFF, (value >> 8) & 0xFF, (value >> 16) & 0xFF);
}

QColor ContrastingText(const QColor& background) {
  const int brightness = (3 * background.red() + 2 * background.green() + background.blue()) / 6;
  return brightness > 126 ? QColor(Qt::black) : QColor(Qt::white);
}

// ---------------------------------------------------------------------------------------------

FrameListModel::FrameListModel(FrameList& list, QObject* parent) : QAbstractListModel(parent), list_(list) {}

int FrameListModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

QVariant FrameListModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= rows_.size()) return QVariant();
  const QString& text = rows_[index.row()];
  if (role == Qt::DisplayRole) return text;
  if (role == Qt::ForegroundRole && transmitColour_.isValid() &&
      QStringView(text).mid(static_cast<qsizetype>(kCommentColumn), kTransmitMark.size()) == kTransmitMark)
    return transmitColour_;
  return QVariant();
}

QString FrameListModel::textOf(size_t row) const {
  const std::string_view line = list_.entry(row).view();
  // Frame lines are ASCII; comments from dictionaries may carry Latin-1 umlauts.
  return QString::fromLatin1(line.data(), static_cast<qsizetype>(line.size()));
}

void FrameListModel::rebuildAll() {
  beginResetModel();
  rows_.clear();
  rows_.reserve(static_cast<qsizetype>(list_.count()));
  for (size_t i = 0; i < list_.count(); ++i) rows_.append(textOf(i));
  endResetModel();
}

FrameListModel::Result FrameListModel::refresh() {
  Result result;
  if (!list_.changed() && !list_.rebuildPending()) return result;
  list_.takeRefresh(pending_);
  const FrameListRefresh& r = pending_;
  if (r.rebuild) {
    rebuildAll();
    result.rebuilt = true;
    result.rowsWritten = list_.count();
    return result;
  }

  const qsizetype front = std::min<qsizetype>(static_cast<qsizetype>(r.removeFront), rows_.size());
  if (front > 0) {
    beginRemoveRows(QModelIndex(), 0, static_cast<int>(front - 1));
    rows_.remove(0, front);
    endRemoveRows();
  }
  const qsizetype back = std::min<qsizetype>(static_cast<qsizetype>(r.removeBack), rows_.size());
  if (back > 0) {
    const qsizetype first = rows_.size() - back;
    beginRemoveRows(QModelIndex(), static_cast<int>(first), static_cast<int>(rows_.size() - 1));
    rows_.remove(first, back);
    endRemoveRows();
  }

  // Changed rows are announced in contiguous runs, so a sorted list that shifted a block of
  // entries down costs the view one repaint request.
  size_t runStart = 0, runEnd = 0;
  bool inRun = false;
  auto flush = [&] {
    if (inRun) emit dataChanged(index(static_cast<int>(runStart)), index(static_cast<int>(runEnd)));
    inRun = false;
  };
  for (size_t row : r.rows) {
    if (row >= static_cast<size_t>(rows_.size()) || row >= list_.count()) continue;
    rows_[static_cast<qsizetype>(row)] = textOf(row);
    ++result.rowsWritten;
    if (inRun && row == runEnd + 1) {
      runEnd = row;
    } else {
      flush();
      runStart = runEnd = row;
      inRun = true;
    }
  }
  flush();

  const size_t have = static_cast<size_t>(rows_.size());
  if (r.count > have && r.appendFrom == have) {
    beginInsertRows(QModelIndex(), static_cast<int>(have), static_cast<int>(r.count - 1));
    for (size_t i = have; i < r.count; ++i) rows_.append(textOf(i));
    endInsertRows();
    result.rowsAppended = r.count - have;
    result.rowsWritten += result.rowsAppended;
  }

  // The model must match the list exactly; should the two ever disagree, the pane is rewritten
  // rather than left showing lines that are not there.
  if (static_cast<size_t>(rows_.size()) != r.count || r.count != list_.count()) {
    rebuildAll();
    result.rebuilt = true;
    result.rowsWritten = list_.count();
  }
  return result;
}

// ---------------------------------------------------------------------------------------------

void ClickLabel::mouseReleaseEvent(QMouseEvent* event) {
  QLabel::mouseReleaseEvent(event);
  if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint())) emit clicked();
}

void ClickLabel::mouseDoubleClickEvent(QMouseEvent* event) {
  QLabel::mouseDoubleClickEvent(event);
  if (event->button() == Qt::LeftButton) emit doubleClicked();
}

// ---------------------------------------------------------------------------------------------

TrafficPane::TrafficPane(Kind kind, FrameList& list, QWidget* parent)
    : QWidget(parent),
      kind_(kind),
      title_(new ClickLabel(this)),
      count_(new QLabel(this)),
      listType_(new ClickLabel(this)),
      erase_(new QPushButton(QStringLiteral("Erase"), this)),
      stop_(new QPushButton(QStringLiteral("Stop"), this)),
      view_(new QListView(this)),
      model_(new FrameListModel(list, this)),
      zoomAction_(new QAction(QStringLiteral("Zoom In"), this)),
      settingsAction_(new QAction(QStringLiteral("Settings..."), this)) {
  const bool rx = kind == Kind::Rx;
  setObjectName(rx ? QStringLiteral("Pane_Rx") : QStringLiteral("Pane_Tx"));
  title_->setObjectName(rx ? QStringLiteral("Lab_Rx") : QStringLiteral("Lab_Tx"));
  count_->setObjectName(rx ? QStringLiteral("Lab_RxCount") : QStringLiteral("Lab_TxCount"));
  listType_->setObjectName(rx ? QStringLiteral("Lab_RxListType") : QStringLiteral("Lab_TxListType"));
  erase_->setObjectName(rx ? QStringLiteral("Btn_RxErase") : QStringLiteral("Btn_TxErase"));
  stop_->setObjectName(rx ? QStringLiteral("Btn_RxStop") : QStringLiteral("Btn_TxStop"));
  view_->setObjectName(rx ? QStringLiteral("RichEd_Rx") : QStringLiteral("RichEd_Tx"));
  title_->setText(rx ? QStringLiteral("Rx") : QStringLiteral("Tx"));
  count_->setText(QStringLiteral("N=0"));
  listType_->setCursor(Qt::PointingHandCursor);
  listType_->setToolTip(rx ? QStringLiteral("double-click: history / sorted by ID")
                           : QStringLiteral("click: history / sorted by ID"));
  setListType(kListHistory);
  // A narrow pane clips its header texts rather than forcing the window wider; the buttons stay.
  for (QLabel* label : {static_cast<QLabel*>(title_), count_, static_cast<QLabel*>(listType_)})
    label->setMinimumWidth(1);
  for (QPushButton* button : {erase_, stop_}) {
    button->setFocusPolicy(Qt::NoFocus);
    button->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
  }

  view_->setModel(model_);
  // Every line has the same height: the view then lays out 4096 rows without measuring each.
  view_->setUniformItemSizes(true);
  view_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  view_->setSelectionMode(QAbstractItemView::ExtendedSelection);
  view_->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  view_->setTextElideMode(Qt::ElideNone);
  view_->setWordWrap(false);
  view_->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(view_, &QWidget::customContextMenuRequested, this, &TrafficPane::showPopup);

  if (rx) {
    historyAction_ = new QAction(QStringLiteral("History"), this);
    sortedAction_ = new QAction(QStringLiteral("Sorted by ID"), this);
    combinedAction_ = new QAction(QStringLiteral("Rx+Tx combined"), this);
    findAction_ = new QAction(QStringLiteral("Find text in RX window..."), this);
    historyAction_->setCheckable(true);
    sortedAction_->setCheckable(true);
    combinedAction_->setCheckable(true);
    connect(historyAction_, &QAction::triggered, this, [this] { emit listTypeChosen(kListHistory); });
    connect(sortedAction_, &QAction::triggered, this, [this] { emit listTypeChosen(kListSorted); });
  }

  auto* header = new QHBoxLayout;
  header->setContentsMargins(2, 0, 2, 0);
  header->setSpacing(8);
  header->addWidget(title_);
  header->addWidget(count_);
  header->addWidget(listType_);
  header->addStretch(1);
  header->addWidget(erase_);
  header->addWidget(stop_);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(2);
  layout->addLayout(header);
  layout->addWidget(view_, 1);
}

FrameListModel::Result TrafficPane::refreshList() {
  const FrameListModel::Result result = model_->refresh();
  if ((result.rowsAppended > 0 || result.rebuilt) && shownType_ != kListSorted) view_->scrollToBottom();
  return result;
}

void TrafficPane::setTitle(const QString& title) {
  if (title_->text() != title) title_->setText(title);
}

void TrafficPane::setStopped(bool stopped) {
  const QString text = stopped ? QStringLiteral("Run") : QStringLiteral("Stop");
  if (stop_->text() != text) stop_->setText(text);
}

QString TrafficPane::ListTypeText(int type) {
  if (type == kListHistory) return QStringLiteral("history");
  if (type == kListSorted) return QStringLiteral("sorted");
  return QStringLiteral("?list_type?");
}

void TrafficPane::setListType(int type) {
  shownType_ = type;
  const QString text = ListTypeText(type);
  if (listType_->text() != text) listType_->setText(text);
  if (historyAction_) {
    historyAction_->setChecked(type == kListHistory);
    sortedAction_->setChecked(type == kListSorted);
  }
}

void TrafficPane::setCountText(const QString& text) {
  if (count_->text() != text) count_->setText(text);
}

void TrafficPane::applyLook(const CanDisplaySettings& display) {
  QFont font(QString::fromStdString(display.fontName));
  // The configured face is often a Windows one; the substitute must still be fixed-pitch, or the
  // columns of the frame lines no longer line up.
  font.setStyleHint(QFont::Monospace);
  font.setFixedPitch(true);
  if (display.fontSize > 0) font.setPointSize(display.fontSize);
  font.setBold(display.fontStyle & 1);
  font.setItalic(display.fontStyle & 2);
  font.setUnderline(display.fontStyle & 4);
  font.setStrikeOut(display.fontStyle & 8);
  if (view_->font() != font) view_->setFont(font);

  const QColor background =
      WindowsColour(kind_ == Kind::Rx ? display.rxBackgndColor : display.txBackgndColor);
  QPalette palette = view_->palette();
  palette.setColor(QPalette::Base, background);
  palette.setColor(QPalette::Text, ContrastingText(background));
  view_->setPalette(palette);
  // Sent frames in the combined Rx list are written in the Tx pane's colour, unless that colour
  // would vanish against the Rx background.
  QColor transmit;
  if (kind_ == Kind::Rx) {
    transmit = WindowsColour(display.txBackgndColor);
    if (ContrastingText(transmit) == ContrastingText(background)) transmit = QColor();
  }
  model_->setTransmitColour(transmit);
  view_->viewport()->update();
}

void TrafficPane::setZoomed(bool zoomed) {
  zoomAction_->setText(zoomed ? QStringLiteral("Zoom Out") : QStringLiteral("Zoom In"));
}

void TrafficPane::showPopup(const QPoint& pos) {
  QMenu menu(this);
  menu.addAction(zoomAction_);
  menu.addAction(settingsAction_);
  if (kind_ == Kind::Rx) {
    menu.addSeparator();
    menu.addAction(historyAction_);
    menu.addAction(sortedAction_);
    menu.addAction(combinedAction_);
    menu.addAction(findAction_);
  }
  menu.exec(view_->viewport()->mapToGlobal(pos));
}

bool TrafficPane::findNext(const QString& text, bool wholeWord, bool matchCase, bool fromTop) {
  if (text.isEmpty()) return false;
  const Qt::CaseSensitivity cs = matchCase ? Qt::CaseSensitive : Qt::CaseInsensitive;
  const auto isWordChar = [](QChar c) { return c.isLetterOrNumber() || c == QLatin1Char('_'); };
  const int start = fromTop || !view_->currentIndex().isValid() ? 0 : view_->currentIndex().row() + 1;
  for (int row = start; row < model_->rowCount(); ++row) {
    const QString line = model_->rowText(row);
    for (qsizetype at = line.indexOf(text, 0, cs); at >= 0; at = line.indexOf(text, at + 1, cs)) {
      const qsizetype end = at + text.size();
      if (wholeWord &&
          ((at > 0 && isWordChar(line[at - 1])) || (end < line.size() && isWordChar(line[end])))) {
        continue;
      }
      const QModelIndex index = model_->index(row);
      view_->setCurrentIndex(index);
      view_->scrollTo(index);
      return true;
    }
  }
  return false;
}

}  // namespace busprobe
