#include <QMenu>
#include <QMessageBox>
#include <QMouseEvent>
#include <QTextBlock>
#include <QTimer>

#include "gui_session.h"

namespace busprobe {
namespace {

using testing::GuiSession;
using testing::TempDir;

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool MessagesContain(Application& app, const std::string& text) {
  for (const std::string& line : app.messages().lines())
    if (line.find(text) != std::string::npos) return true;
  return false;
}

class RunMenuTest : public ::testing::Test {
 protected:
  RunMenuTest() {
    std::filesystem::create_directories(config_.file("Programs"));
    std::filesystem::create_directories(scripts_.path());
  }

  std::unique_ptr<GuiSession> start() {
    auto s = std::make_unique<GuiSession>(config_.path(), locks_.path());
    s->window().setFileChooser([this](const FileDialogRequest& request) {
      asked_ = request;
      ++dialogs_;
      return answer_;
    });
    s->ticks(6);
    return s;
  }

  // Writes the script and loads it through the File menu's dialog.
  std::string load(GuiSession& s, const std::string& name, const std::string& text) {
    const std::string path = scripts_.file(name);
    std::ofstream(path, std::ios::binary) << text;
    answer_ = QString::fromStdString(path);
    s.menuItem(QStringLiteral("&Load Command File"))->trigger();
    return path;
  }

  // Timer ticks of the main window on the manual clock: one 50 ms step each.
  static void ticks(GuiSession& s, int n) {
    for (int i = 0; i < n; ++i) {
      s.clock().advance(50);
      s.window().tick();
    }
  }

  static QAction* runItem(GuiSession& s, const char* objectName) {
    emit s.window().runMenu()->aboutToShow();
    return s.window().runMenu()->findChild<QAction*>(QString::fromLatin1(objectName));
  }

  static void clickMargin(ScriptEditor* editor, int line) {
    const QRect row = editor->marginRow(line);
    ASSERT_FALSE(row.isEmpty());
    const QPointF pos(4, row.center().y());
    QMouseEvent press(QEvent::MouseButtonPress, pos, editor->margin()->mapToGlobal(pos), Qt::LeftButton,
                      Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(editor->margin(), &press);
  }

  static bool hasVariable(GuiSession& s, const char* name) {
    return s.app().interpState().findVariable(name) >= 0;
  }

  static void placeCaret(ScriptEditor* editor, int line) {
    editor->setTextCursor(QTextCursor(editor->document()->findBlockByNumber(line)));
  }

  TempDir config_;
  TempDir locks_;
  TempDir scripts_;
  FileDialogRequest asked_;
  int dialogs_ = 0;
  QString answer_;
};

TEST(RecentFilesTest, NewPathsGoOnTopKnownPathsChangeNothing) {
  std::array<std::string, 5> recent{"/a", "/b", "", "", ""};
  AddRecentFile(recent, "/c");
  EXPECT_EQ(recent, (std::array<std::string, 5>{"/c", "/a", "/b", "", ""}));
  // Letter case aside, "/A" is already there: no reordering.
  AddRecentFile(recent, "/A");
  AddRecentFile(recent, "/b");
  AddRecentFile(recent, "");
  EXPECT_EQ(recent, (std::array<std::string, 5>{"/c", "/a", "/b", "", ""}));
  for (const char* path : {"/d", "/e", "/f"}) AddRecentFile(recent, path);
  EXPECT_EQ(recent, (std::array<std::string, 5>{"/f", "/e", "/d", "/c", "/a"}));
}

TEST_F(RunMenuTest, LoadAndSaveUseTheirDialogsAndFillTheRecentFiles) {
  auto s = start();
  const std::string first = load(*s, "first.bpr", "a := 1\n");
  EXPECT_EQ(asked_.title, QStringLiteral("Load a BUSPROBE program file"));
  EXPECT_EQ(asked_.filters,
            (QStringList{QStringLiteral("All supported files (*.TXT *.BPR)"),
                         QStringLiteral("Text files (*.TXT)"), QStringLiteral("Busprobe Scripts (*.BPR)")}));
  EXPECT_EQ(asked_.directory, QString::fromStdString(config_.file("Programs")));
  EXPECT_EQ(asked_.proposedName, QStringLiteral("default.cmd"));
  EXPECT_FALSE(asked_.save);
  EXPECT_EQ(s->window().commandPane()->editor()->toPlainText(), QStringLiteral("a := 1\n"));
  EXPECT_EQ(s->app().settings().currFile, first);
  EXPECT_FALSE(s->app().commandFile().modified());

  const std::string second = scripts_.file("second.bpr");
  answer_ = QString::fromStdString(second);
  s->menuItem(QStringLiteral("&Save Command File"))->trigger();
  EXPECT_EQ(asked_.title, QStringLiteral("Save a BUSPROBE program file"));
  EXPECT_EQ(asked_.filters.value(0), QStringLiteral("Busprobe Scripts (*.BPR)"));
  EXPECT_EQ(asked_.proposedName, QStringLiteral("first.bpr"));
  EXPECT_TRUE(asked_.save);
  EXPECT_EQ(ReadFile(second), "a := 1\n");
  EXPECT_EQ(s->app().settings().currFile, second);

  const auto& recent = s->app().windowSettings().recentFiles;
  EXPECT_EQ(recent[0], second);
  EXPECT_EQ(recent[1], first);
  emit s->menuItem(QStringLiteral("&File"))->menu()->aboutToShow();
  const QList<QAction*> items = s->window().recentFilesMenu()->actions();
  ASSERT_EQ(items.size(), 5);
  EXPECT_EQ(items[0]->text(), QStringLiteral("&0  ") + QString::fromStdString(second));
  EXPECT_EQ(items[1]->text(), QStringLiteral("&1  ") + QString::fromStdString(first));
  EXPECT_TRUE(items[1]->isVisible());
  EXPECT_FALSE(items[2]->isVisible());

  // Choosing a recent file loads it without a dialog and leaves the order alone.
  std::ofstream(first, std::ios::binary) << "b := 2\n";
  const int dialogsBefore = dialogs_;
  items[1]->trigger();
  EXPECT_EQ(dialogs_, dialogsBefore);
  EXPECT_EQ(s->window().commandPane()->editor()->toPlainText(), QStringLiteral("b := 2\n"));
  EXPECT_EQ(recent[0], second);
  EXPECT_EQ(recent[1], first);

  // A cancelled dialog changes nothing.
  answer_.clear();
  s->menuItem(QStringLiteral("&Load Command File"))->trigger();
  EXPECT_EQ(s->app().settings().currFile, first);
}

TEST_F(RunMenuTest, LoadingOverAnEditedScriptOffersToSaveItFirst) {
  auto s = start();
  const std::string first = load(*s, "first.bpr", "a := 1\n");
  ScriptEditor* editor = s->window().commandPane()->editor();
  editor->moveCursor(QTextCursor::End);
  editor->insertPlainText(QStringLiteral("b := 2\n"));

  QString question;
  QTimer answer;
  QObject::connect(&answer, &QTimer::timeout, [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (!box) return;
    answer.stop();
    question = box->text();
    box->button(QMessageBox::Yes)->click();
  });
  answer.start(5);
  load(*s, "second.bpr", "c := 3\n");
  EXPECT_TRUE(question.startsWith(QStringLiteral("Command window may have been changed :")));
  EXPECT_EQ(ReadFile(first), "a := 1\nb := 2\n");
  EXPECT_EQ(editor->toPlainText(), QStringLiteral("c := 3\n"));
}

TEST_F(RunMenuTest, RunMarksTheLinesItPassedAndStopsAtTheEnd) {
  auto s = start();
  load(*s, "three.bpr", "a := 1\nb := 2\nc := 3\n");
  runItem(*s, "MI_RunStop")->trigger();
  ticks(*s, 10);
  EXPECT_FALSE(s->app().program().running());
  EXPECT_TRUE(hasVariable(*s, "a") && hasVariable(*s, "b") && hasVariable(*s, "c"));
  const LineMarkers& markers = s->app().program().markers();
  for (int line = 0; line < 3; ++line) EXPECT_TRUE(markers.beenHere(line)) << line;
  // Ending at the end of the text is not an error and leaves nothing to highlight.
  EXPECT_EQ(s->window().commandPane()->executionLabel()->text(), QString());
  EXPECT_EQ(s->window().commandPane()->editor()->executionLine(), -1);

  runItem(*s, "MI_ForgetHistory")->trigger();
  for (int line = 0; line < 3; ++line) EXPECT_FALSE(markers.beenHere(line)) << line;
}

TEST_F(RunMenuTest, BreakpointSetInTheMarginStopsTheRunForSingleStepsAndContinue) {
  auto s = start();
  load(*s, "five.bpr", "a := 1\nb := 2\nc := 3\nd := 4\ne := 5\n");
  CommandPane* pane = s->window().commandPane();
  clickMargin(pane->editor(), 2);
  ASSERT_TRUE(s->app().program().markers().breakpoint(2));

  runItem(*s, "MI_RunStop")->trigger();
  ticks(*s, 10);
  EXPECT_FALSE(s->app().program().running());
  EXPECT_TRUE(hasVariable(*s, "b"));
  EXPECT_FALSE(hasVariable(*s, "c"));
  EXPECT_EQ(pane->editor()->caretLine(), 2);
  EXPECT_EQ(pane->editor()->executionLine(), 2);
  EXPECT_EQ(pane->executionLabel()->text(), QStringLiteral("stopped before line 3"));
  EXPECT_EQ(runItem(*s, "MI_SingleStep")->text(), QStringLiteral("&Single Step line 3"));
  EXPECT_EQ(runItem(*s, "MI_ScrollToCurrent")->text(),
            QStringLiteral("Scroll to current instruction (line 3)"));

  runItem(*s, "MI_SingleStep")->trigger();
  EXPECT_TRUE(hasVariable(*s, "c"));
  EXPECT_FALSE(hasVariable(*s, "d"));
  EXPECT_EQ(pane->editor()->caretLine(), 3);
  EXPECT_EQ(runItem(*s, "MI_SingleStep")->text(), QStringLiteral("&Single Step line 4"));

  runItem(*s, "MI_Continue")->trigger();
  ticks(*s, 10);
  EXPECT_TRUE(hasVariable(*s, "e"));
  EXPECT_FALSE(s->app().program().running());

  // A second run stops at the same breakpoint until all breakpoints are gone.
  runItem(*s, "MI_KillBreakpoints")->trigger();
  EXPECT_EQ(s->app().program().markers().breakpointCount(), 0);
  s->app().interpState().clearAll();
  runItem(*s, "MI_RunStop")->trigger();
  ticks(*s, 10);
  EXPECT_TRUE(hasVariable(*s, "e"));
}

TEST_F(RunMenuTest, RunStopStopsARunningProgramAndErrorsNameTheirLine) {
  auto s = start();
  load(*s, "loop.bpr", "n := 0\nrepeat\n n := n + 1\nuntil 0\n");
  CommandPane* pane = s->window().commandPane();
  QAction* runStop = runItem(*s, "MI_RunStop");
  runStop->trigger();
  ticks(*s, 5);
  EXPECT_TRUE(s->app().program().running());
  EXPECT_TRUE(pane->executionLabel()->text().startsWith(QStringLiteral("running")));
  runStop->trigger();
  EXPECT_FALSE(s->app().program().running());
  EXPECT_EQ(pane->editor()->caretLine(), s->app().program().programCounter());

  load(*s, "error.bpr", "a := 1\nb == 2\nc := 3\n");
  runStop->trigger();
  ticks(*s, 10);
  EXPECT_FALSE(s->app().program().running());
  EXPECT_FALSE(hasVariable(*s, "c"));
  EXPECT_EQ(pane->executionLabel()->text(), QStringLiteral("Missing assignment-operator (\":=\") in line 2"));
  EXPECT_EQ(pane->editor()->executionLine(), 1);
  EXPECT_EQ(pane->editor()->caretLine(), 1);
  // The next run clears the error from the label.
  placeCaret(pane->editor(), 2);
  runItem(*s, "MI_RunFromCursor")->trigger();
  EXPECT_FALSE(pane->executionLabel()->text().startsWith(QStringLiteral("Missing")));
  ticks(*s, 5);
  EXPECT_TRUE(hasVariable(*s, "c"));
}

TEST_F(RunMenuTest, RunFromLabelOffersTheScriptsLabelsAndLineAgainRunsTheCaretLine) {
  auto s = start();
  load(*s, "labels.bpr", "a := 1\nstop\nhere:\nb := 2\nstop\nthere:\nz := 7\n");
  emit s->window().runMenu()->aboutToShow();
  QList<QAction*> labels = s->window().runFromLabelMenu()->actions();
  ASSERT_EQ(labels.size(), 2);
  EXPECT_EQ(labels[0]->text(), QStringLiteral("here"));
  EXPECT_EQ(labels[1]->text(), QStringLiteral("there"));
  labels[0]->trigger();
  ticks(*s, 10);
  EXPECT_FALSE(hasVariable(*s, "a"));
  EXPECT_TRUE(hasVariable(*s, "b"));
  EXPECT_FALSE(hasVariable(*s, "z"));

  // A label added in the editor is there the next time the menu opens.
  ScriptEditor* editor = s->window().commandPane()->editor();
  editor->moveCursor(QTextCursor::End);
  editor->insertPlainText(QStringLiteral("last:\n"));
  emit s->window().runMenu()->aboutToShow();
  EXPECT_EQ(s->window().runFromLabelMenu()->actions().size(), 3);

  placeCaret(editor, 6);
  runItem(*s, "MI_LineAgain")->trigger();
  const int z = s->app().interpState().findVariable("z");
  ASSERT_GE(z, 0);
  EXPECT_EQ(s->app().interpState().variable(z).value.i, 7);
  EXPECT_FALSE(s->app().program().running());
  s->app().commandFile().setModified(false);
}

TEST_F(RunMenuTest, VariablesAndCallStackAreListedInTheMessages) {
  auto s = start();
  load(*s, "sub.bpr", "count := 31\ngosub sub\nstop\nsub:\nstop\n");
  runItem(*s, "MI_RunStop")->trigger();
  ticks(*s, 10);
  ASSERT_FALSE(s->app().program().running());

  s->menuItem(QStringLiteral("Show Variables in the 'Messages'  list"))->trigger();
  EXPECT_TRUE(MessagesContain(s->app(), "; List of INTERPRETER VARIABLES by alphabet:"));
  EXPECT_TRUE(MessagesContain(s->app(), "count"));
  s->app().messages().clear();
  s->window().messages()->variablesAction()->trigger();
  EXPECT_TRUE(MessagesContain(s->app(), "; List of INTERPRETER VARIABLES by alphabet:"));

  runItem(*s, "MI_ShowCallStack")->trigger();
  EXPECT_TRUE(MessagesContain(s->app(), "CallStack[0] = 3"));
  EXPECT_TRUE(s->window().messages()->editor()->toPlainText().contains(QStringLiteral("CallStack[0] = 3")));
}

TEST_F(RunMenuTest, ReadOnlyAndInspectionFormatComeFromThePopupAndAreKept) {
  {
    auto s = start();
    load(*s, "vars.bpr", "count := 31\n");
    runItem(*s, "MI_RunStop")->trigger();
    ticks(*s, 5);
    CommandPane* pane = s->window().commandPane();
    ScriptEditor* editor = pane->editor();

    pane->readOnlyAction()->trigger();
    EXPECT_TRUE(editor->isReadOnly());
    EXPECT_EQ(s->app().windowSettings().scriptReadOnly, 1);
    // Read-only still lets the caret move, for "Run from Cursor".
    EXPECT_TRUE(editor->textInteractionFlags() & Qt::TextSelectableByKeyboard);

    QTextCursor cursor(editor->document()->firstBlock());
    const QRect caret = editor->cursorRect(cursor);
    const QPoint onCount(caret.left() + 2, caret.center().y());
    EXPECT_EQ(editor->inspectAt(onCount), QStringLiteral("count = 31"));
    pane->baseAction(1)->trigger();
    EXPECT_EQ(editor->inspectAt(onCount), QStringLiteral("count = 0x1F"));
    pane->baseAction(2)->trigger();
    EXPECT_EQ(editor->inspectAt(onCount), QStringLiteral("count = 0b11111"));
    EXPECT_EQ(s->app().windowSettings().displayBaseForInspector, 2);
    s->menuItem(QStringLiteral("E&xit"))->trigger();
  }
  GuiSession again(config_.path(), locks_.path());
  CommandPane* pane = again.window().commandPane();
  EXPECT_TRUE(pane->editor()->isReadOnly());
  EXPECT_TRUE(pane->readOnlyAction()->isChecked());
  EXPECT_TRUE(pane->baseAction(2)->isChecked());
  EXPECT_EQ(pane->editor()->displayBase(), 2);
  pane->readOnlyAction()->trigger();
  EXPECT_FALSE(pane->editor()->isReadOnly());
}

}  // namespace
}  // namespace busprobe
