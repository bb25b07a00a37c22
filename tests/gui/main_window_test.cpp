#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QScrollBar>
#include <QTextBlock>

#include "gui/notice_window.h"
#include "gui_session.h"

namespace busprobe {
namespace {

using testing::GuiSession;
using testing::TempDir;

class MainWindowTest : public ::testing::Test {
 protected:
  TempDir config_;
  TempDir locks_;
};

QString LastBlock(const QPlainTextEdit* editor) {
  return editor->document()->lastBlock().text();
}

// Where an area sits in the window, so the arrangement is checked as the user sees it.
QRect Place(const QWidget* area, const QWidget* window) {
  return QRect(area->mapTo(window, QPoint(0, 0)), area->size());
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TEST_F(MainWindowTest, FourAreasAreArrangedAndStartUpShowsInStatusLabel) {
  GuiSession s(config_.path(), locks_.path());
  MainWindow& w = s.window();
  EXPECT_EQ(w.windowTitle(), QStringLiteral("Busprobe"));

  const QRect rx = Place(w.rxPane(), &w), tx = Place(w.txPane(), &w);
  const QRect command = Place(w.commandPane(), &w), messages = Place(w.messages(), &w);
  EXPECT_EQ(rx.top(), tx.top());
  EXPECT_LT(rx.right(), tx.left());
  EXPECT_GT(command.top(), rx.bottom());
  EXPECT_GT(messages.top(), command.bottom());
  EXPECT_GT(rx.height(), 20);
  EXPECT_GT(command.height(), 20);
  EXPECT_GT(messages.height(), 20);

  // A fresh configuration shows sent frames in the Rx pane too.
  EXPECT_EQ(w.rxPane()->titleLabel()->text(), QStringLiteral("Rx+Tx"));
  EXPECT_EQ(w.txPane()->titleLabel()->text(), QStringLiteral("Tx"));
  EXPECT_EQ(w.rxPane()->view()->editTriggers(), QAbstractItemView::NoEditTriggers);
  EXPECT_EQ(w.txPane()->view()->editTriggers(), QAbstractItemView::NoEditTriggers);
  EXPECT_TRUE(w.messages()->editor()->isReadOnly());
  EXPECT_FALSE(w.commandPane()->editor()->isReadOnly());

  QLabel* status = w.findChild<QLabel*>(QStringLiteral("Lab_MsgTest"));
  ASSERT_NE(status, nullptr);
  s.ticks(1);
  EXPECT_EQ(status->text(), QStringLiteral("Init0"));
  s.ticks(2);
  EXPECT_EQ(status->text(), QStringLiteral("Init1"));
  s.ticks(1);
  s.ticks(1);
  EXPECT_EQ(status->text(), QString());
  EXPECT_TRUE(s.app().running());
}

TEST_F(MainWindowTest, MessagesMirrorTheLogWithinItsLimit) {
  GuiSession s(config_.path(), locks_.path());
  // Written before the window exists: the window must still show it.
  s.app().messages().PrintMessage("early line");
  MainWindow& w = s.window();
  QPlainTextEdit* view = w.messages()->editor();
  EXPECT_EQ(view->toPlainText(), QStringLiteral("early line"));

  s.app().messages().PrintMessage("one\ntwo\r\nthree");
  EXPECT_EQ(view->blockCount(), 4);
  EXPECT_EQ(LastBlock(view), QStringLiteral("three"));

  s.app().messages().setMaxLines(20);
  for (int i = 0; i < 50; ++i) s.app().messages().PrintMessage("line %d", i);
  EXPECT_EQ(view->blockCount(), 21);
  EXPECT_EQ(view->document()->firstBlock().text(), QStringLiteral("line 29"));
  EXPECT_EQ(LastBlock(view), QStringLiteral("line 49"));
  EXPECT_EQ(static_cast<size_t>(view->blockCount()), s.app().messages().lines().size());
  // Following the output: the caret sits on the newest line.
  EXPECT_EQ(view->textCursor().blockNumber(), view->blockCount() - 1);

  // Clearing goes through the log, so scripts that read the window see it empty too.
  s.menuItem(QStringLiteral("&Clear 'Messages' window"))->trigger();
  EXPECT_TRUE(view->toPlainText().isEmpty());
  EXPECT_TRUE(s.app().messages().lines().empty());
  s.app().messages().PrintMessage("after");
  w.messages()->clearAction()->trigger();
  EXPECT_TRUE(view->toPlainText().isEmpty());
  EXPECT_TRUE(s.app().messages().lines().empty());

  EXPECT_EQ(w.messages()->titleLabel()->text(), QStringLiteral("Messages"));
  w.messages()->stopButton()->click();
  EXPECT_TRUE(s.app().messages().stopped);
  EXPECT_EQ(w.messages()->titleLabel()->text(), QStringLiteral("Messages (stopped)"));
  EXPECT_EQ(w.messages()->stopButton()->text(), QStringLiteral("Run"));
}

TEST_F(MainWindowTest, CategoryMarksSwitchTheLogFlags) {
  GuiSession s(config_.path(), locks_.path());
  MessageLog& log = s.app().messages();
  QAction* can = s.menuItem(QStringLiteral("..from CAN driver"));
  QAction* sdo = s.menuItem(QStringLiteral("..from SDO protocol"));
  QAction* interp = s.menuItem(QStringLiteral("..from Interpreter"));
  ASSERT_TRUE(can && sdo && interp);
  ASSERT_NE(s.menuItem(QStringLiteral("enable text messages ...")), nullptr);
  EXPECT_TRUE(can->isChecked() && sdo->isChecked() && interp->isChecked());

  can->trigger();
  EXPECT_FALSE(log.canDriverMessages);
  EXPECT_TRUE(log.sdoMessages);
  log.PrintCanMessage("hidden");
  EXPECT_TRUE(s.window().messages()->editor()->toPlainText().isEmpty());

  sdo->trigger();
  interp->trigger();
  EXPECT_FALSE(log.sdoMessages);
  EXPECT_FALSE(log.interpreterMessages);
  can->trigger();
  EXPECT_TRUE(log.canDriverMessages);

  // A script may switch a category; the mark follows when the menu opens.
  log.sdoMessages = true;
  QMenu* messagesMenu = s.menuItem(QStringLiteral("&Messages"))->menu();
  emit messagesMenu->aboutToShow();
  EXPECT_TRUE(sdo->isChecked());
}

TEST_F(MainWindowTest, ExitWithoutSavingLeavesTheConfigurationAlone) {
  const std::string ini = config_.file("NVK_Busprobe.ini");
  {
    GuiSession s(config_.path(), locks_.path());
    s.ticks(6);
    s.menuItem(QStringLiteral("Exit &without saving the configuration"))->trigger();
    EXPECT_TRUE(s.app().shutDownDone());
    EXPECT_FALSE(s.window().isVisible());
  }
  EXPECT_FALSE(std::filesystem::exists(ini));

  {
    GuiSession s(config_.path(), locks_.path());
    s.ticks(6);
    s.menuItem(QStringLiteral("E&xit"))->trigger();
    EXPECT_TRUE(s.app().shutDownDone());
    // The closing notice went through every step and is gone again.
    NoticeWindow* notice = s.ui().notice();
    ASSERT_NE(notice, nullptr);
    EXPECT_EQ(notice->firstLine(), QStringLiteral("Closing the Busprobe, please WAIT....."));
    EXPECT_EQ(notice->windowTitle(), QStringLiteral("Loading Application"));
    EXPECT_EQ(notice->size(), QSize(480, 64));
    EXPECT_EQ(notice->secondLine(), QStringLiteral("cleaning up ..."));
    EXPECT_FALSE(notice->isVisible());
  }
  ASSERT_TRUE(std::filesystem::exists(ini));
  const std::string saved = ReadFile(ini);
  EXPECT_NE(saved.find("[MainWindow]"), std::string::npos);

  // And leaving without saving after that keeps the file exactly as it was.
  {
    GuiSession s(config_.path(), locks_.path());
    s.app().windowSettings().width = 123;
    s.window().closeWithoutSaving();
  }
  EXPECT_EQ(ReadFile(ini), saved);
}

TEST_F(MainWindowTest, ClosingByTheFrameSavesAndShutsDownOnce) {
  const std::string ini = config_.file("NVK_Busprobe.ini");
  GuiSession s(config_.path(), locks_.path());
  s.ticks(6);
  EXPECT_TRUE(s.window().close());
  EXPECT_TRUE(s.app().shutDownDone());
  EXPECT_TRUE(std::filesystem::exists(ini));
  std::filesystem::remove(ini);
  // A second close (signal after the user's click) must not write or shut down again.
  EXPECT_TRUE(s.window().close());
  EXPECT_FALSE(std::filesystem::exists(ini));
}

TEST_F(MainWindowTest, GeometryAndPaneSizesRoundTrip) {
  // The offscreen screen is 800 x 800: the stored window fits on it.
  MainWindowSettings stored;
  stored.left = 30;
  stored.top = 40;
  stored.width = 700;
  stored.height = 520;
  stored.hSplitRx = 250;
  stored.vSplitRx = 140;
  stored.vSplitMsg = 110;
  {
    GuiSession s(config_.path(), locks_.path());
    MainWindowSettings& ws = s.app().windowSettings();
    ws.left = stored.left, ws.top = stored.top, ws.width = stored.width, ws.height = stored.height;
    ws.hSplitRx = stored.hSplitRx, ws.vSplitRx = stored.vSplitRx, ws.vSplitMsg = stored.vSplitMsg;
    MainWindow& w = s.window();
    EXPECT_EQ(w.geometry().size(), QSize(700, 520));
    EXPECT_EQ(w.pos(), QPoint(30, 40));
    EXPECT_EQ(w.rxPane()->width(), 250);
    EXPECT_EQ(w.rowSplitter()->height(), 140);
    EXPECT_EQ(w.messages()->height(), 110);

    // A zoomed area is not the user's layout: the normal sizes are the ones kept.
    w.toggleZoom(w.messages());
    EXPECT_FALSE(w.commandPane()->isVisible());
    EXPECT_FALSE(w.rowSplitter()->isVisible());
    EXPECT_EQ(w.messages()->zoomAction()->text(), QStringLiteral("Zoom Out"));
    s.menuItem(QStringLiteral("E&xit"))->trigger();
  }
  GuiSession again(config_.path(), locks_.path());
  const MainWindowSettings& read = again.app().windowSettings();
  EXPECT_EQ(read.left, stored.left);
  EXPECT_EQ(read.top, stored.top);
  EXPECT_EQ(read.width, stored.width);
  EXPECT_EQ(read.height, stored.height);
  EXPECT_EQ(read.hSplitRx, stored.hSplitRx);
  EXPECT_EQ(read.vSplitRx, stored.vSplitRx);
  EXPECT_EQ(read.vSplitMsg, stored.vSplitMsg);
}

TEST_F(MainWindowTest, OversizedPaneSizesAreLimitedToTheClientArea) {
  GuiSession s(config_.path(), locks_.path());
  MainWindowSettings& ws = s.app().windowSettings();
  ws.left = 0, ws.top = 0, ws.width = 600, ws.height = 500;
  ws.hSplitRx = 5000, ws.vSplitRx = 5000, ws.vSplitMsg = 5000;
  MainWindow& w = s.window();
  const int clientWidth = w.columnSplitter()->width();
  const int clientHeight = w.columnSplitter()->height();
  EXPECT_LE(w.rxPane()->width(), clientWidth - 20);
  EXPECT_GT(w.txPane()->width(), 0);
  EXPECT_LE(w.rowSplitter()->height(), clientHeight - 40);
}

TEST_F(MainWindowTest, WindowIsPlacedOnScreen) {
  {
    GuiSession s(config_.path(), locks_.path());
    MainWindow& w = s.window();
    // Nothing stored: 1000 x 750, limited to the 800 x 800 offscreen screen.
    EXPECT_EQ(w.size(), QSize(800, 750));
    EXPECT_TRUE(QRect(0, 0, 800, 800).contains(w.pos()));
  }
  // A position from a monitor that is no longer there is brought back; the size is kept.
  GuiSession s(config_.path(), locks_.path());
  MainWindowSettings& ws = s.app().windowSettings();
  ws.left = 5000, ws.top = 4000, ws.width = 500, ws.height = 400;
  MainWindow& w = s.window();
  EXPECT_TRUE(QRect(0, 0, 800, 800).contains(w.pos()));
  EXPECT_EQ(w.size(), QSize(500, 400));
}

TEST_F(MainWindowTest, ZoomFillsTheWindowAndReturns) {
  GuiSession s(config_.path(), locks_.path());
  MainWindow& w = s.window();
  for (int i = 0; i < 100; ++i) s.app().messages().PrintMessage("line %d", i);
  const QList<int> column = w.columnSplitter()->sizes();
  const QList<int> row = w.rowSplitter()->sizes();
  // The splitters lay out on posted events; the user would see them handled at once.
  w.messages()->zoomAction()->trigger();
  QCoreApplication::sendPostedEvents();
  EXPECT_TRUE(w.zoomed());
  EXPECT_TRUE(w.messages()->isVisible());
  EXPECT_FALSE(w.rxPane()->isVisible());
  EXPECT_FALSE(w.commandPane()->isVisible());
  EXPECT_GT(w.messages()->height(), column.value(2));
  w.messages()->zoomAction()->trigger();
  QCoreApplication::sendPostedEvents();
  EXPECT_FALSE(w.zoomed());
  EXPECT_EQ(w.messages()->zoomAction()->text(), QStringLiteral("Zoom In"));
  EXPECT_TRUE(w.rxPane()->isVisible() && w.txPane()->isVisible() && w.commandPane()->isVisible());
  EXPECT_EQ(w.columnSplitter()->sizes(), column);
  EXPECT_EQ(w.rowSplitter()->sizes(), row);
  // Back in its small place the messages window still shows the newest line.
  const QScrollBar* bar = w.messages()->editor()->verticalScrollBar();
  EXPECT_GT(bar->maximum(), 0);
  EXPECT_EQ(bar->value(), bar->maximum());

  // The Rx pane zoomed keeps its row but not its neighbour.
  w.toggleZoom(w.rxPane());
  EXPECT_TRUE(w.rxPane()->isVisible());
  EXPECT_FALSE(w.txPane()->isVisible());
  EXPECT_FALSE(w.messages()->isVisible());
  w.toggleZoom(w.rxPane());
  EXPECT_EQ(w.rowSplitter()->sizes(), row);
}

TEST(NoticeWindowTest, LongStepTextFitsTheFixedWidth) {
  testing::TheQtApplication();
  NoticeWindow notice;
  notice.showCentred(QStringLiteral("this may be TERRIBLY slow due to some stupid antivirus software ..."),
                     nullptr);
  const QLabel* second = notice.findChildren<QLabel*>().value(1);
  ASSERT_NE(second, nullptr);
  EXPECT_LE(second->fontMetrics().horizontalAdvance(second->text()), second->contentsRect().width());
  EXPECT_EQ(notice.size(), QSize(480, 64));
  // A short text gets the full size back.
  notice.setSecondLine(QStringLiteral("closing CAN ..."));
  EXPECT_EQ(second->font().pixelSize(), 16);
}

TEST_F(MainWindowTest, NmtBroadcastItemsSendTheirCommandToAllNodes) {
  std::ofstream(config_.file("NVK_Busprobe.ini")) << "[CanInterface]\nCanInterfaceType=10\n";
  GuiSession s(config_.path(), locks_.path());
  s.window();
  s.ticks(5);
  std::vector<std::string> sent;
  s.app().traffic().setLineSink([&sent](bool transmitted, std::string_view line) {
    if (transmitted) sent.emplace_back(line);
  });
  const char* items[] = {"Start Remote Nodes", "Stop Remote Nodes", "Enter Pre-Op State", "Reset Nodes",
                         "Reset Communication"};
  for (const char* item : items) {
    QAction* action = s.menuItem(QString::fromUtf8(item));
    ASSERT_NE(action, nullptr) << item;
    action->trigger();
  }
  ASSERT_EQ(sent.size(), 5u);
  const char* commands[] = {" 01 00", " 02 00", " 80 00", " 81 00", " 82 00"};
  for (size_t i = 0; i < 5; ++i) {
    EXPECT_NE(sent[i].find(": 000 "), std::string::npos) << sent[i];
    EXPECT_NE(sent[i].find(commands[i]), std::string::npos) << sent[i];
  }
}

}  // namespace
}  // namespace busprobe
