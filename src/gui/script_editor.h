// The command window: the script editor with its line-number margin, where breakpoints and the
// blue "been-here" marks of the script program are drawn and toggled, the line the program is at
// is highlighted, and hovering over a variable shows its value. CommandPane puts the editor under
// its title and execution-line label and mirrors it into the core's CommandFile.
#pragma once

#include <QAction>
#include <QActionGroup>
#include <QLabel>
#include <QPlainTextEdit>
#include <QWidget>
#include <array>
#include <string>
#include <vector>

#include "app/command_file.h"
#include "app/settings.h"
#include "interp/script_program.h"
#include "interp/script_value.h"

namespace busprobe {

// A value as the mouse inspection shows it: integers in the radix chosen in the pop-up (10, 16
// as "0x..", 2 as "0b.."); floats, strings and special values as they are.
QString FormatInspectedValue(const ScriptValue& value, int base);

class ScriptEditor : public QPlainTextEdit {
  Q_OBJECT

 public:
  explicit ScriptEditor(QWidget* parent = nullptr);

  // The marks to draw and to toggle with a click into the margin; null: none.
  void setMarkers(LineMarkers* markers);
  // The variables the mouse inspection reads; null: no inspection.
  void setVariables(const InterpState* state) { variables_ = state; }
  // 10, 16 or 2; anything else counts as 10.
  void setDisplayBase(int base);
  int displayBase() const { return base_; }

  // The line the program is at (0-based), highlighted over the full width; -1: none.
  void setExecutionLine(int line);
  int executionLine() const { return executionLine_; }

  // Repaints the margin rows of these lines (those that are on screen), or all of it.
  void redrawMarginLines(const std::vector<int>& lines);
  void redrawMargin();
  QWidget* margin() const { return margin_; }
  int marginWidth() const;
  // The 0-based line whose row covers this margin (viewport) y coordinate, -1 below the text.
  int lineAtMarginY(int y) const;
  // The margin row of a line, empty when the line is not on screen.
  QRect marginRow(int line) const;

  // The tooltip text for this viewport position ("name = value"), empty when the mouse is not on
  // a known variable.
  QString inspectAt(const QPoint& viewportPos) const;

  // Puts the caret at the start of the line and scrolls it into view.
  void showLine(int line);
  int caretLine() const { return textCursor().blockNumber(); }

  // Read-only keeps the caret moving with mouse and keyboard, so "Run from Cursor" still works.
  void setScriptReadOnly(bool on);

 protected:
  void resizeEvent(QResizeEvent* event) override;
  bool viewportEvent(QEvent* event) override;

 private:
  friend class ScriptMargin;
  void paintMargin(QPaintEvent* event);
  void marginClicked(int y);
  void updateMarginWidth();
  void scrollMargin(const QRect& rect, int dy);
  void applyHighlight();
  QString inspectWord(const QString& line, int column) const;

  QWidget* margin_;
  LineMarkers* markers_ = nullptr;
  const InterpState* variables_ = nullptr;
  int base_ = 10;
  int executionLine_ = -1;
};

class CommandPane : public QWidget {
  Q_OBJECT

 public:
  CommandPane(CommandFile& file, MainWindowSettings& settings, QWidget* parent);

  // Shows the document's text after the core (re)loaded it.
  void showFile();
  void refreshTitle();
  ScriptEditor* editor() const { return editor_; }
  QLabel* titleLabel() const { return title_; }
  QLabel* executionLabel() const { return execution_; }

  // The program whose marks, position and variables the pane shows; null: none.
  void attachProgram(ScriptProgram* program);
  // The periodic refresh: changed margin rows, the highlighted line and the execution label.
  void refreshRunState();
  // A run-control command starts the program: an earlier error leaves the label.
  void runStarting();
  // The core wants this line shown (breakpoint, single step, stop).
  void showProgramLine(int line);
  // The run ended; errorText is empty unless it stopped with a message.
  void programEnded(const std::string& errorText);
  // The caret's line as the core reads it (same encoding and limit as the program's lines).
  std::string caretLineText() const;

  // Pop-up menu of the command window.
  QAction* zoomAction() const { return zoomAction_; }
  QAction* findAction() const { return findAction_; }
  QAction* readOnlyAction() const { return readOnlyAction_; }
  // "&Decimal", "&Hexadecimal", "&Binary".
  QAction* baseAction(int index) const { return baseActions_[static_cast<size_t>(index)]; }
  void setZoomed(bool zoomed);
  void setReadOnly(bool on);

 signals:
  // The user changed the text (not a load).
  void edited();

 private:
  void takeEdit();
  void showPopup(const QPoint& pos);
  void refreshExecutionLabel();

  CommandFile& file_;
  MainWindowSettings& settings_;
  ScriptProgram* program_ = nullptr;
  QLabel* title_;
  QLabel* execution_;
  ScriptEditor* editor_;
  QAction* zoomAction_;
  QAction* findAction_;
  QAction* readOnlyAction_;
  QAction* baseHeading_;
  std::array<QAction*, 3> baseActions_{};
  QActionGroup* baseGroup_;
  // "%s in line %d" of the run that ended with an error, until the next run starts.
  QString errorLabel_;
  int errorLine_ = -1;
  bool loading_ = false;
  // A file that is not valid UTF-8 is shown and written back as Latin-1, so an edit never turns
  // its umlauts into replacement characters.
  bool latin1_ = false;
  // The file's line end ("\n", "\r\n" or "\r"), restored on every edit.
  QString lineEnd_ = QStringLiteral("\n");
};

}  // namespace busprobe
