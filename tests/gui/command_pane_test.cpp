#include <QMessageBox>
#include <QTimer>

#include "gui_session.h"

namespace busprobe {
namespace {

using testing::GuiSession;
using testing::TempDir;

class CommandPaneTest : public ::testing::Test {
 protected:
  void SetUp() override { std::filesystem::create_directories(config_.file("Programs")); }
  void writeScript(const std::string& text) {
    std::ofstream(config_.file("Programs/default.cmd"), std::ios::binary) << text;
  }
  std::string readScript() {
    std::ifstream in(config_.file("Programs/default.cmd"), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  void typeAtEnd(QPlainTextEdit* editor, const QString& text) {
    editor->moveCursor(QTextCursor::End);
    editor->insertPlainText(text);
  }

  TempDir config_;
  TempDir locks_;
};

TEST_F(CommandPaneTest, LoadedFileIsShownAndEditsReachTheDocument) {
  writeScript("print \"x\"\n");
  GuiSession s(config_.path(), locks_.path());
  QPlainTextEdit* editor = s.window().commandPane()->editor();
  s.ticks(1);
  EXPECT_EQ(editor->toPlainText(), QStringLiteral("print \"x\"\n"));
  // Showing the file is not an edit.
  EXPECT_FALSE(s.app().commandFile().modified());

  typeAtEnd(editor, QStringLiteral("wait 5"));
  EXPECT_TRUE(s.app().commandFile().modified());
  EXPECT_EQ(s.app().commandFile().text(), "print \"x\"\nwait 5");
  s.app().commandFile().setModified(false);
}

TEST_F(CommandPaneTest, EditsKeepTheFilesEncodingAndLineEnds) {
  // An older script in Latin-1 with CR LF line ends: an edit must not turn "ü" into a replacement
  // character nor change every line end of the file.
  writeScript("; Gr\xfc\xdf\r\nprint 1\r\n");
  GuiSession s(config_.path(), locks_.path());
  QPlainTextEdit* editor = s.window().commandPane()->editor();
  s.ticks(1);
  EXPECT_EQ(editor->toPlainText(), QString::fromUtf8("; Grüß\nprint 1\n"));
  typeAtEnd(editor, QString::fromUtf8("; ä"));
  EXPECT_EQ(s.app().commandFile().text(), "; Gr\xfc\xdf\r\nprint 1\r\n; \xe4");
  s.app().commandFile().setModified(false);
}

TEST_F(CommandPaneTest, CarriageReturnLineEndsAreShownAsLinesAndKept) {
  writeScript("print 1\rprint 2\r");
  GuiSession s(config_.path(), locks_.path());
  QPlainTextEdit* editor = s.window().commandPane()->editor();
  s.ticks(1);
  EXPECT_EQ(editor->blockCount(), 3);
  EXPECT_EQ(editor->toPlainText(), QStringLiteral("print 1\nprint 2\n"));
  typeAtEnd(editor, QStringLiteral("print 3"));
  EXPECT_EQ(s.app().commandFile().text(), "print 1\rprint 2\rprint 3");
  EXPECT_EQ(s.app().commandFile().lineCount(), 3);
  s.app().commandFile().setModified(false);
}

TEST_F(CommandPaneTest, ClosingAsksToSaveAnEditedScript) {
  writeScript("a\n");
  GuiSession s(config_.path(), locks_.path());
  s.ticks(6);
  typeAtEnd(s.window().commandPane()->editor(), QStringLiteral("b\n"));

  QString question;
  bool defaultIsNo = false;
  // The question is modal; answer it from inside its own event loop (the closing notice also
  // turns the loop, so the timer keeps looking until the box is up).
  QTimer answer;
  QObject::connect(&answer, &QTimer::timeout, [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (!box) return;
    answer.stop();
    question = box->text();
    defaultIsNo = box->defaultButton() == box->button(QMessageBox::No);
    box->button(QMessageBox::Yes)->click();
  });
  answer.start(5);
  s.window().close();
  EXPECT_TRUE(question.startsWith(QStringLiteral("Command window may have been changed :")));
  EXPECT_TRUE(defaultIsNo);
  EXPECT_EQ(readScript(), "a\nb\n");
}

}  // namespace
}  // namespace busprobe
