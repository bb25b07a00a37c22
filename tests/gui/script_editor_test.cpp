#include "gui/script_editor.h"

#include <QHelpEvent>
#include <QMouseEvent>
#include <QTextBlock>
#include <QToolTip>

#include "gui_session.h"

namespace busprobe {
namespace {

TEST(InspectedValueTest, IntegersFollowTheChosenRadixOthersStayAsTheyAre) {
  const ScriptValue n = ScriptValue::integer(31);
  EXPECT_EQ(FormatInspectedValue(n, 10), QStringLiteral("31"));
  EXPECT_EQ(FormatInspectedValue(n, 16), QStringLiteral("0x1F"));
  EXPECT_EQ(FormatInspectedValue(n, 2), QStringLiteral("0b11111"));
  // Negative numbers are shown as the 32-bit word the script works with.
  const ScriptValue minus = ScriptValue::integer(-1);
  EXPECT_EQ(FormatInspectedValue(minus, 10), QStringLiteral("-1"));
  EXPECT_EQ(FormatInspectedValue(minus, 16), QStringLiteral("0xFFFFFFFF"));
  EXPECT_EQ(FormatInspectedValue(minus, 2), QString(32, QLatin1Char('1')).prepend(QStringLiteral("0b")));

  EXPECT_EQ(FormatInspectedValue(ScriptValue::floating(2.5), 16), QStringLiteral("2.5"));
  EXPECT_EQ(FormatInspectedValue(ScriptValue::string("abc"), 2), QStringLiteral("abc"));
  EXPECT_EQ(FormatInspectedValue(ScriptValue::special(kDontCare), 16), QStringLiteral("DONT_CARE"));
}

class ScriptEditorTest : public ::testing::Test {
 protected:
  ScriptEditorTest() {
    editor_.resize(500, 300);
    editor_.setPlainText(QStringLiteral("count := 31\nx := arr[3] + arr[i]\n\nstop"));
    editor_.setMarkers(&markers_);
    editor_.setVariables(&state_);
    editor_.show();
    QApplication::processEvents();
  }

  // The middle of the character at this line and column, in viewport coordinates.
  QPoint charAt(int line, int column) {
    QTextCursor cursor(editor_.document()->findBlockByNumber(line));
    cursor.setPosition(cursor.position() + column);
    const QRect caret = editor_.cursorRect(cursor);
    return QPoint(caret.left() + editor_.fontMetrics().horizontalAdvance(QLatin1Char('x')) / 2,
                  caret.center().y());
  }

  void clickMargin(int y) {
    QWidget* margin = editor_.margin();
    const QPointF pos(4, y);
    QMouseEvent press(QEvent::MouseButtonPress, pos, margin->mapToGlobal(pos), Qt::LeftButton, Qt::LeftButton,
                      Qt::NoModifier);
    QApplication::sendEvent(margin, &press);
  }

  void setInteger(const char* name, int32_t value) {
    state_.variable(state_.findOrCreateVariable(name)).value = ScriptValue::integer(value);
  }

  QApplication& qt_ = testing::TheQtApplication();  // before any widget
  LineMarkers markers_;
  InterpState state_;
  ScriptEditor editor_;
};

TEST_F(ScriptEditorTest, MarginClickTogglesTheBreakpointOfThatLine) {
  const QRect second = editor_.marginRow(1);
  ASSERT_FALSE(second.isEmpty());
  EXPECT_EQ(editor_.lineAtMarginY(second.center().y()), 1);

  clickMargin(second.center().y());
  EXPECT_TRUE(markers_.breakpoint(1));
  EXPECT_FALSE(markers_.breakpoint(0));
  EXPECT_FALSE(markers_.breakpoint(2));
  clickMargin(second.center().y());
  EXPECT_FALSE(markers_.breakpoint(1));

  // Below the last line there is no line to stop at.
  const QRect last = editor_.marginRow(3);
  clickMargin(last.bottom() + 40);
  EXPECT_EQ(markers_.breakpointCount(), 0);
}

TEST_F(ScriptEditorTest, MarginShowsBreakpointsAndBeenHereMarksInTheirRows) {
  markers_.setBreakpoint(1, true);
  markers_.markBeenHere(0);
  markers_.markBeenHere(1);
  editor_.redrawMarginLines(markers_.takeRedrawLines());
  const QImage image = editor_.margin()->grab().toImage();

  const auto rowHas = [&](int line, auto&& isColour) {
    const QRect row = editor_.marginRow(line);
    for (int y = row.top(); y <= row.bottom(); ++y)
      for (int x = 0; x < 20 && x < image.width(); ++x)
        if (isColour(image.pixelColor(x, y))) return true;
    return false;
  };
  const auto red = [](const QColor& c) { return c.red() > 180 && c.green() < 80 && c.blue() < 80; };
  const auto blue = [](const QColor& c) { return c.blue() > 180 && c.red() < 80 && c.green() < 80; };
  EXPECT_TRUE(rowHas(1, red));
  EXPECT_FALSE(rowHas(0, red));
  EXPECT_FALSE(rowHas(2, red));
  EXPECT_TRUE(rowHas(0, blue));
  EXPECT_TRUE(rowHas(1, blue));
  EXPECT_FALSE(rowHas(2, blue));

  markers_.forgetHistory();
  editor_.redrawMargin();
  const QImage after = editor_.margin()->grab().toImage();
  const QRect row = editor_.marginRow(0);
  EXPECT_FALSE(blue(after.pixelColor(1, row.center().y())));
}

TEST_F(ScriptEditorTest, HoverShowsVariablesAndSimpleElementsInTheChosenRadix) {
  setInteger("count", 31);
  setInteger("i", 5);
  const int arr = state_.findOrCreateVariable("arr");
  *state_.elementForWrite(arr, 3) = ScriptValue::integer(10);
  *state_.elementForWrite(arr, 5) = ScriptValue::string("five");

  EXPECT_EQ(editor_.inspectAt(charAt(0, 2)), QStringLiteral("count = 31"));
  editor_.setDisplayBase(16);
  EXPECT_EQ(editor_.inspectAt(charAt(0, 0)), QStringLiteral("count = 0x1F"));
  editor_.setDisplayBase(2);
  EXPECT_EQ(editor_.inspectAt(charAt(0, 4)), QStringLiteral("count = 0b11111"));
  EXPECT_EQ(editor_.inspectAt(charAt(1, 6)), QStringLiteral("arr[3] = 0b1010"));
  // The index may be an integer variable; hovering over that variable shows the variable itself.
  EXPECT_EQ(editor_.inspectAt(charAt(1, 15)), QStringLiteral("arr[5] = five"));
  EXPECT_EQ(editor_.inspectAt(charAt(1, 18)), QStringLiteral("i = 0b101"));
  EXPECT_TRUE(editor_.inspectAt(charAt(1, 19)).isEmpty());

  // Not a variable, a number, an operator, or far to the right of the line: nothing to show.
  EXPECT_TRUE(editor_.inspectAt(charAt(3, 1)).isEmpty());
  EXPECT_TRUE(editor_.inspectAt(charAt(0, 10)).isEmpty());
  EXPECT_TRUE(editor_.inspectAt(charAt(0, 7)).isEmpty());
  EXPECT_TRUE(editor_.inspectAt(charAt(0, 10) + QPoint(200, 0)).isEmpty());

  // The tooltip event shows the same text.
  const QPoint pos = charAt(0, 1);
  QHelpEvent help(QEvent::ToolTip, pos, editor_.viewport()->mapToGlobal(pos));
  QApplication::sendEvent(editor_.viewport(), &help);
  EXPECT_EQ(QToolTip::text(), QStringLiteral("count = 0b11111"));
  QToolTip::hideText();
}

TEST_F(ScriptEditorTest, ShowLineMovesTheCaretAndTheExecutionLineIsHighlighted) {
  QStringList lines;
  for (int i = 0; i < 300; ++i) lines << QStringLiteral("print %1").arg(i);
  editor_.setPlainText(lines.join(QLatin1Char('\n')));
  editor_.showLine(250);
  EXPECT_EQ(editor_.caretLine(), 250);
  EXPECT_FALSE(editor_.marginRow(250).isEmpty());
  EXPECT_TRUE(editor_.marginRow(0).isEmpty());
  editor_.showLine(5000);
  EXPECT_EQ(editor_.caretLine(), 250);

  editor_.setExecutionLine(250);
  ASSERT_EQ(editor_.extraSelections().size(), 1);
  EXPECT_EQ(editor_.extraSelections().first().cursor.blockNumber(), 250);
  editor_.setExecutionLine(-1);
  EXPECT_TRUE(editor_.extraSelections().isEmpty());
}

}  // namespace
}  // namespace busprobe
