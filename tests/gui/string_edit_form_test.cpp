// The string entry dialog of the Qt program, through the user interface the core asks.
#include "gui/string_edit_form.h"

#include <gtest/gtest.h>

#include "gui_session.h"

namespace busprobe {
namespace {

// Types into the next string entry dialog and presses OK or Cancel.
class DialogTyping {
 public:
  DialogTyping(QString typed, bool ok) : typed_(std::move(typed)), ok_(ok) {
    QObject::connect(&timer_, &QTimer::timeout, [this] {
      auto* form = qobject_cast<StringEditForm*>(QApplication::activeModalWidget());
      if (!form || seen_) return;
      seen_ = true;
      title_ = form->windowTitle();
      line1_ = form->findChild<QLabel*>(QStringLiteral("Lab_Line1"))->text();
      line2_ = form->findChild<QLabel*>(QStringLiteral("Lab_Line2"))->text();
      shown_ = form->text();
      form->edit()->setText(typed_);
      (ok_ ? form->okButton() : form->cancelButton())->click();
    });
    timer_.start(5);
  }
  bool seen() const { return seen_; }
  QString title_, line1_, line2_, shown_;

 private:
  QTimer timer_;
  QString typed_;
  bool ok_;
  bool seen_ = false;
};

TEST(StringEditForm, AnswersBothFormsOfTheQuestion) {
  testing::TheQtApplication();
  GuiUserInterface ui;
  {
    DialogTyping typing(QStringLiteral("0x20"), true);
    EXPECT_EQ(ui.enterNumber("Node ID of the target", "(decimal or 0x..)", 5), 32);
    ASSERT_TRUE(typing.seen());
    EXPECT_EQ(typing.title_, QStringLiteral("Busprobe"));
    EXPECT_EQ(typing.line1_, QStringLiteral("Node ID of the target"));
    EXPECT_EQ(typing.line2_, QStringLiteral("(decimal or 0x..)"));
    EXPECT_EQ(typing.shown_, QStringLiteral("5"));
  }
  {
    DialogTyping typing(QStringLiteral("five"), true);
    EXPECT_EQ(ui.enterNumber("a", "b", 5), 5);
  }
  {
    DialogTyping typing(QStringLiteral("9"), false);
    EXPECT_EQ(ui.enterNumber("a", "b", 5), 5);
  }
  std::string buffer = "firmware.hex";
  {
    DialogTyping typing(QStringLiteral("<b>new</b> name"), true);
    EXPECT_TRUE(ui.enterText("File <name>", "", buffer, 8));
    EXPECT_EQ(typing.shown_, QStringLiteral("firmware.hex"));
    EXPECT_EQ(typing.line1_, QStringLiteral("File <name>"));
  }
  EXPECT_EQ(buffer, "<b>new</");
  {
    DialogTyping typing(QStringLiteral("ignored"), false);
    EXPECT_FALSE(ui.enterText("a", "b", buffer, 20));
  }
  EXPECT_EQ(buffer, "<b>new</");
}

}  // namespace
}  // namespace busprobe
