#include "gui/script_editor.h"

#include <QFontDatabase>
#include <QHelpEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QRegularExpression>
#include <QTextBlock>
#include <QToolTip>
#include <QVBoxLayout>
#include <cstdio>

#include "gui/gui_user_interface.h"

namespace busprobe {

namespace {
// Margin layout: the been-here bar and the breakpoint dot left of the line numbers.
constexpr int kMarkColumn = 16;
constexpr int kBeenHereWidth = 4;
constexpr int kDotDiameter = 9;
const QColor kBeenHereColour(0, 0, 255);
const QColor kBreakpointColour(220, 0, 0);
const QColor kExecutionLineColour(255, 255, 150);
const QColor kMarginColour(236, 236, 236);

bool IsNameChar(QChar ch) {
  return ch.unicode() < 128 && (ch.isLetterOrNumber() || ch == QLatin1Char('_'));
}

// Index text inside brackets: a number (decimal or 0x hex) or an integer variable. False when it is
// anything else; an expression is not evaluated from a tooltip.
bool SimpleIndex(const QString& text, const InterpState& state, int32_t& index) {
  const QString t = text.trimmed();
  if (t.isEmpty()) return false;
  bool ok = false;
  const qlonglong value = t.startsWith(QStringLiteral("0x"), Qt::CaseInsensitive)
                              ? t.mid(2).toLongLong(&ok, 16)
                              : t.toLongLong(&ok, 10);
  if (ok) {
    index = static_cast<int32_t>(value);
    return true;
  }
  const int entry = state.findVariable(t.toStdString());
  if (entry < 0 || state.variable(entry).value.type != kTypeInteger) return false;
  index = state.variable(entry).value.i;
  return true;
}
}  // namespace

QString FormatInspectedValue(const ScriptValue& value, int base) {
  switch (value.type) {
    case kTypeInteger: {
      const auto bits = static_cast<uint32_t>(value.i);
      if (base == 16) return QStringLiteral("0x") + QString::number(bits, 16).toUpper();
      if (base == 2) return QStringLiteral("0b") + QString::number(bits, 2);
      return QString::number(value.i);
    }
    case kTypeFloat:
    case kTypeMixed: {
      char text[64];
      std::snprintf(text, sizeof text, "%lg", value.f);
      return QString::fromLatin1(text);
    }
    case kTypeSpecial: {
      const std::string_view name = specialName(value.i);
      return name.empty() ? QString::number(value.i)
                          : QString::fromLatin1(name.data(), static_cast<qsizetype>(name.size()));
    }
    case kTypeString:
      return CoreTextToQt(value.text());
    default:
      return QStringLiteral("UNUSED");
  }
}

// The line-number margin; painting and clicks are the editor's, which knows the text layout.
class ScriptMargin : public QWidget {
 public:
  explicit ScriptMargin(ScriptEditor* editor) : QWidget(editor), editor_(editor) {
    setObjectName(QStringLiteral("ScriptMargin"));
  }
  QSize sizeHint() const override { return QSize(editor_->marginWidth(), 0); }

 protected:
  void paintEvent(QPaintEvent* event) override { editor_->paintMargin(event); }
  void mousePressEvent(QMouseEvent* event) override {
    if (event->button() == Qt::LeftButton) editor_->marginClicked(static_cast<int>(event->position().y()));
  }

 private:
  ScriptEditor* editor_;
};

ScriptEditor::ScriptEditor(QWidget* parent) : QPlainTextEdit(parent), margin_(new ScriptMargin(this)) {
  setLineWrapMode(QPlainTextEdit::NoWrap);
  setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  connect(this, &QPlainTextEdit::blockCountChanged, this, [this] {
    updateMarginWidth();
    // The marks belong to line numbers, not to text: inserted lines move the text under them.
    margin_->update();
  });
  connect(this, &QPlainTextEdit::updateRequest, this, &ScriptEditor::scrollMargin);
  updateMarginWidth();
}

void ScriptEditor::setMarkers(LineMarkers* markers) {
  markers_ = markers;
  margin_->update();
}

void ScriptEditor::setDisplayBase(int base) {
  base_ = (base == 16 || base == 2) ? base : 10;
}

void ScriptEditor::setExecutionLine(int line) {
  if (line == executionLine_) return;
  executionLine_ = line;
  applyHighlight();
}

void ScriptEditor::applyHighlight() {
  QList<QTextEdit::ExtraSelection> selections;
  const QTextBlock block = executionLine_ >= 0 ? document()->findBlockByNumber(executionLine_) : QTextBlock();
  if (block.isValid()) {
    QTextEdit::ExtraSelection selection;
    selection.format.setBackground(kExecutionLineColour);
    selection.format.setProperty(QTextFormat::FullWidthSelection, true);
    selection.cursor = QTextCursor(block);
    selections.append(selection);
  }
  setExtraSelections(selections);
}

int ScriptEditor::marginWidth() const {
  int digits = 1;
  for (int n = std::max(1, blockCount()); n >= 10; n /= 10) ++digits;
  digits = std::max(digits, 3);
  return kMarkColumn + fontMetrics().horizontalAdvance(QLatin1Char('9')) * digits + 6;
}

void ScriptEditor::updateMarginWidth() {
  setViewportMargins(marginWidth(), 0, 0, 0);
  const QRect area = contentsRect();
  margin_->setGeometry(QRect(area.left(), area.top(), marginWidth(), area.height()));
}

void ScriptEditor::resizeEvent(QResizeEvent* event) {
  QPlainTextEdit::resizeEvent(event);
  updateMarginWidth();
}

void ScriptEditor::scrollMargin(const QRect& rect, int dy) {
  if (dy != 0) {
    margin_->scroll(0, dy);
  } else {
    margin_->update(0, rect.y(), margin_->width(), rect.height());
  }
  if (rect.contains(viewport()->rect())) updateMarginWidth();
}

void ScriptEditor::redrawMargin() {
  margin_->update();
}

void ScriptEditor::redrawMarginLines(const std::vector<int>& lines) {
  for (int line : lines) {
    const QRect row = marginRow(line);
    if (!row.isEmpty()) margin_->update(row);
  }
}

QRect ScriptEditor::marginRow(int line) const {
  const QTextBlock block = document()->findBlockByNumber(line);
  if (!block.isValid() || !block.isVisible()) return QRect();
  const QRectF geometry = blockBoundingGeometry(block).translated(contentOffset());
  if (geometry.bottom() < 0 || geometry.top() > viewport()->height()) return QRect();
  return QRect(0, static_cast<int>(geometry.top()), margin_->width(), static_cast<int>(geometry.height()));
}

int ScriptEditor::lineAtMarginY(int y) const {
  QTextBlock block = firstVisibleBlock();
  qreal top = blockBoundingGeometry(block).translated(contentOffset()).top();
  while (block.isValid() && top <= y) {
    const qreal bottom = top + blockBoundingRect(block).height();
    if (block.isVisible() && y < bottom) return block.blockNumber();
    block = block.next();
    top = bottom;
  }
  return -1;
}

void ScriptEditor::paintMargin(QPaintEvent* event) {
  QPainter painter(margin_);
  painter.fillRect(event->rect(), kMarginColour);
  painter.setFont(font());
  const int lineHeight = fontMetrics().height();
  const int numberWidth = margin_->width() - kMarkColumn - 3;

  QTextBlock block = firstVisibleBlock();
  qreal top = blockBoundingGeometry(block).translated(contentOffset()).top();
  while (block.isValid() && top <= event->rect().bottom()) {
    const qreal bottom = top + blockBoundingRect(block).height();
    if (block.isVisible() && bottom >= event->rect().top()) {
      const int line = block.blockNumber();
      const int y = static_cast<int>(top);
      if (markers_ && markers_->beenHere(line))
        painter.fillRect(0, y, kBeenHereWidth, lineHeight, kBeenHereColour);
      if (markers_ && markers_->breakpoint(line)) {
        painter.setPen(Qt::NoPen);
        painter.setBrush(kBreakpointColour);
        painter.setRenderHint(QPainter::Antialiasing, true);
        painter.drawEllipse(
            QRectF(kBeenHereWidth + 2, y + (lineHeight - kDotDiameter) / 2.0, kDotDiameter, kDotDiameter));
        painter.setRenderHint(QPainter::Antialiasing, false);
      }
      painter.setPen(Qt::darkGray);
      painter.drawText(kMarkColumn, y, numberWidth, lineHeight, Qt::AlignRight | Qt::AlignVCenter,
                       QString::number(line + 1));
    }
    block = block.next();
    top = bottom;
  }
}

void ScriptEditor::marginClicked(int y) {
  const int line = lineAtMarginY(y);
  if (!markers_ || line < 0 || line >= kMaxScriptLines) return;
  markers_->toggleBreakpoint(line);
  margin_->update(marginRow(line));
}

QString ScriptEditor::inspectAt(const QPoint& viewportPos) const {
  if (!variables_) return QString();
  const QTextCursor cursor = cursorForPosition(viewportPos);
  const QRect caret = cursorRect(cursor);
  if (viewportPos.y() < caret.top() || viewportPos.y() > caret.bottom()) return QString();
  // The nearest caret position may lie on either side of the character under the mouse; beyond
  // the end of a line there is no character at all.
  const int column = cursor.positionInBlock() - (viewportPos.x() < caret.left() ? 1 : 0);
  return inspectWord(cursor.block().text(), column);
}

QString ScriptEditor::inspectWord(const QString& line, int column) const {
  const int length = static_cast<int>(line.size());
  if (column < 0 || column >= length || !IsNameChar(line[column])) return QString();
  int start = column, end = column;
  while (start > 0 && IsNameChar(line[start - 1])) --start;
  while (end < length && IsNameChar(line[end])) ++end;
  const QString name = line.mid(start, end - start);
  if (!name[0].isLetter() && name[0] != QLatin1Char('_')) return QString();
  const int entry = variables_->findVariable(name.toStdString());
  if (entry < 0) return QString();

  // An element "name[index]" when the index is simple enough to read without evaluating.
  if (end < length && line[end] == QLatin1Char('[')) {
    const int close = static_cast<int>(line.indexOf(QLatin1Char(']'), end + 1));
    int32_t index = 0;
    if (close > end && SimpleIndex(line.mid(end + 1, close - end - 1), *variables_, index)) {
      const ScriptValue* element = variables_->element(entry, index);
      if (!element) return QString();
      return QStringLiteral("%1[%2] = %3").arg(name).arg(index).arg(FormatInspectedValue(*element, base_));
    }
  }
  return QStringLiteral("%1 = %2").arg(name, FormatInspectedValue(variables_->variable(entry).value, base_));
}

bool ScriptEditor::viewportEvent(QEvent* event) {
  if (event->type() == QEvent::ToolTip) {
    auto* help = static_cast<QHelpEvent*>(event);
    const QString text = inspectAt(help->pos());
    if (text.isEmpty()) {
      QToolTip::hideText();
      event->ignore();
    } else {
      QToolTip::showText(help->globalPos(), text, viewport());
    }
    return true;
  }
  return QPlainTextEdit::viewportEvent(event);
}

void ScriptEditor::showLine(int line) {
  const QTextBlock block = document()->findBlockByNumber(line);
  if (!block.isValid()) return;
  setTextCursor(QTextCursor(block));
  ensureCursorVisible();
}

void ScriptEditor::setScriptReadOnly(bool on) {
  setReadOnly(on);
  if (on) setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
}

// --- CommandPane

CommandPane::CommandPane(CommandFile& file, MainWindowSettings& settings, QWidget* parent)
    : QWidget(parent),
      file_(file),
      settings_(settings),
      title_(new QLabel(this)),
      execution_(new QLabel(this)),
      editor_(new ScriptEditor(this)),
      zoomAction_(new QAction(QStringLiteral("Zoom In"), this)),
      findAction_(new QAction(QStringLiteral("Find text in command window.."), this)),
      readOnlyAction_(new QAction(QStringLiteral("READ ONLY (script not editable)"), this)),
      baseHeading_(new QAction(QStringLiteral("Display format to inspect variables via mouse :"), this)),
      baseGroup_(new QActionGroup(this)) {
  title_->setContentsMargins(2, 0, 2, 0);
  execution_->setObjectName(QStringLiteral("Lab_ExecLine"));
  execution_->setContentsMargins(2, 0, 2, 0);
  editor_->setObjectName(QStringLiteral("RichEd_Command"));
  editor_->setContextMenuPolicy(Qt::CustomContextMenu);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(2);
  layout->addWidget(title_);
  layout->addWidget(execution_);
  layout->addWidget(editor_, 1);

  readOnlyAction_->setCheckable(true);
  connect(readOnlyAction_, &QAction::triggered, this, [this](bool on) { setReadOnly(on); });
  baseHeading_->setEnabled(false);
  static constexpr struct {
    const char* caption;
    int base;
  } kBases[] = {{"&Decimal", 10}, {"&Hexadecimal", 16}, {"&Binary", 2}};
  for (size_t i = 0; i < baseActions_.size(); ++i) {
    QAction* action = new QAction(QString::fromLatin1(kBases[i].caption), this);
    action->setCheckable(true);
    const int base = kBases[i].base;
    connect(action, &QAction::triggered, this, [this, base] {
      settings_.displayBaseForInspector = base;
      editor_->setDisplayBase(base);
    });
    baseGroup_->addAction(action);
    baseActions_[i] = action;
  }
  editor_->setDisplayBase(settings_.displayBaseForInspector);
  const int base = editor_->displayBase();
  baseActions_[base == 16 ? 1 : base == 2 ? 2 : 0]->setChecked(true);
  setReadOnly(settings_.scriptReadOnly != 0);

  connect(editor_, &QPlainTextEdit::textChanged, this, &CommandPane::takeEdit);
  connect(editor_, &QWidget::customContextMenuRequested, this, &CommandPane::showPopup);
  showFile();
}

void CommandPane::showFile() {
  QString shown = CoreTextToQt(file_.text(), &latin1_);
  // The editor keeps bare line feeds; a file written with CR LF or CR alone gets its line ends
  // back on every edit.
  lineEnd_ = shown.contains(QStringLiteral("\r\n")) ? QStringLiteral("\r\n")
             : shown.contains(QLatin1Char('\r'))    ? QStringLiteral("\r")
                                                    : QStringLiteral("\n");
  shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  shown.replace(QLatin1Char('\r'), QLatin1Char('\n'));
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
  if (lineEnd_ != QStringLiteral("\n")) text.replace(QStringLiteral("\n"), lineEnd_);
  file_.setText(latin1_ ? text.toLatin1().toStdString() : text.toStdString());
  refreshTitle();
  emit edited();
}

std::string CommandPane::caretLineText() const {
  const QString line = editor_->textCursor().block().text();
  std::string text = latin1_ ? line.toLatin1().toStdString() : line.toStdString();
  if (text.size() > kMaxScriptLineChars) text.resize(kMaxScriptLineChars);
  return text;
}

void CommandPane::attachProgram(ScriptProgram* program) {
  program_ = program;
  editor_->setMarkers(program ? &program->markers() : nullptr);
  editor_->setVariables(program ? &program->interpState() : nullptr);
  refreshRunState();
}

void CommandPane::refreshRunState() {
  if (!program_) return;
  LineMarkers& markers = program_->markers();
  const bool everything = markers.refreshRequested();
  const std::vector<int> lines = markers.takeRedrawLines();
  if (!lines.empty()) {
    editor_->redrawMarginLines(lines);
  } else if (everything) {
    editor_->redrawMargin();
  }

  const bool running = program_->running();
  if (running) {
    errorLabel_.clear();
    errorLine_ = -1;
  }
  int line = -1;
  if (running) {
    line = program_->currentLine();
  } else if (errorLine_ >= 0) {
    line = errorLine_;
  } else if (markers.programHasRun()) {
    line = program_->programCounter();
  }
  if (line >= file_.lineCount()) line = -1;
  editor_->setExecutionLine(line);
  refreshExecutionLabel();
}

void CommandPane::refreshExecutionLabel() {
  QString text;
  if (!errorLabel_.isEmpty()) {
    text = errorLabel_;
  } else if (program_ && program_->running()) {
    const int line = program_->currentLine();
    text = line >= 0 ? QStringLiteral("running, line %1").arg(line + 1) : QStringLiteral("running");
  } else if (editor_->executionLine() >= 0) {
    text = QStringLiteral("stopped before line %1").arg(editor_->executionLine() + 1);
  }
  if (execution_->text() != text) execution_->setText(text);
}

void CommandPane::runStarting() {
  errorLabel_.clear();
  errorLine_ = -1;
}

void CommandPane::showProgramLine(int line) {
  editor_->showLine(line);
}

void CommandPane::programEnded(const std::string& errorText) {
  errorLabel_.clear();
  errorLine_ = -1;
  if (!errorText.empty()) {
    errorLabel_ = CoreTextToQt(errorText);
    // A message stopped while running already names its line; others get the line of the last
    // interpreter error when that is a script line.
    static const QRegularExpression kNamesLine(QStringLiteral(" in line (\\d+)$"));
    const QRegularExpressionMatch match = kNamesLine.match(errorLabel_);
    if (match.hasMatch()) {
      errorLine_ = match.captured(1).toInt() - 1;
    } else if (program_) {
      const int line = program_->lastErrorLine();
      if (line >= 0 && line < kMaxScriptLines) {
        errorLabel_ += QStringLiteral(" in line %1").arg(line + 1);
        errorLine_ = line;
      }
    }
  }
  refreshRunState();
  // After an error the caret goes to the failed line, so that Continue retries it once it is
  // mended. Otherwise the caret stays where the core or the user put it (a breakpoint's line, from
  // where Continue goes on), and only comes into view.
  if (errorLine_ >= 0) {
    editor_->showLine(errorLine_);
  } else {
    editor_->ensureCursorVisible();
  }
}

void CommandPane::setZoomed(bool zoomed) {
  zoomAction_->setText(zoomed ? QStringLiteral("Zoom Out") : QStringLiteral("Zoom In"));
}

void CommandPane::setReadOnly(bool on) {
  settings_.scriptReadOnly = on ? 1 : 0;
  editor_->setScriptReadOnly(on);
  readOnlyAction_->setChecked(on);
}

void CommandPane::showPopup(const QPoint& pos) {
  QMenu menu(this);
  menu.addAction(zoomAction_);
  menu.addAction(findAction_);
  menu.addSeparator();
  menu.addAction(readOnlyAction_);
  menu.addSeparator();
  menu.addAction(baseHeading_);
  for (QAction* action : baseActions_) menu.addAction(action);
  menu.exec(editor_->viewport()->mapToGlobal(pos));
}

}  // namespace busprobe
