#include <QMenu>
#include <QScrollBar>

#include "gui_session.h"

namespace busprobe {
namespace {

using testing::GuiSession;
using testing::TempDir;

class RxTxPanesTest : public ::testing::Test {
 protected:
  RxTxPanesTest() : bus_(VirtualBus::create()), session_(config_.path(), locks_.path(), bus_) {
    window_ = &session_.window();
    session_.ticks(6);  // through start-up: the virtual bus is open
  }

  // A frame from another node on the bus, handled by the next tick.
  void receive(uint32_t id, std::initializer_list<uint8_t> bytes) {
    CanFrame frame;
    frame.id = id;
    frame.length = static_cast<uint8_t>(bytes.size());
    std::copy(bytes.begin(), bytes.end(), frame.data);
    bus_->inject(frame);
  }

  // The pane's rows exactly as the list holds them.
  static void ExpectMirrors(const TrafficPane* pane, const FrameList& list) {
    const FrameListModel* model = pane->model();
    ASSERT_EQ(static_cast<size_t>(model->rowCount()), list.count());
    for (size_t i = 0; i < list.count(); ++i) {
      const std::string_view text = list.entry(i).view();
      EXPECT_EQ(model->rowText(static_cast<int>(i)),
                QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size())))
          << "row " << i;
    }
  }

  Application& app() { return session_.app(); }

  TempDir config_;
  TempDir locks_;
  std::shared_ptr<VirtualBus> bus_;
  GuiSession session_;
  MainWindow* window_;
};

TEST_F(RxTxPanesTest, HistoryPaneKeepsItsLimitAndFollowsTheNewestLine) {
  app().settings().display.maxWindowLines = 20;
  TrafficPane* rx = window_->rxPane();
  for (int i = 0; i < 50; ++i) receive(0x100 + static_cast<uint32_t>(i), {static_cast<uint8_t>(i), 0x22});
  session_.ticks(1);
  ExpectMirrors(rx, app().traffic().rxList());
  EXPECT_EQ(rx->model()->rowCount(), 20);
  // Oldest lines left the top; the last row is the newest frame.
  EXPECT_TRUE(rx->model()->rowText(19).contains(QStringLiteral(": 131 31 22")));
  EXPECT_TRUE(rx->model()->rowText(0).contains(QStringLiteral(": 11E 1E 22")));

  // More lines scroll the view so the newest stays in sight.
  rx->view()->resize(300, 100);
  for (int i = 0; i < 5; ++i) receive(0x200, {1});
  session_.ticks(1);
  QCoreApplication::processEvents();
  const QScrollBar* bar = rx->view()->verticalScrollBar();
  EXPECT_GT(bar->maximum(), 0);
  EXPECT_EQ(bar->value(), bar->maximum());
  ExpectMirrors(rx, app().traffic().rxList());
}

TEST_F(RxTxPanesTest, SortedPaneRewritesOnlyTheRowThatChanged) {
  TrafficPane* rx = window_->rxPane();
  // A double-click on the list-type label switches to sorted; the list empties at the next frame.
  receive(0x300, {0});
  session_.ticks(1);
  ASSERT_EQ(rx->model()->rowCount(), 1);
  emit rx->listTypeLabel()->doubleClicked();
  EXPECT_EQ(app().settings().display.rxListType, kListSorted);
  EXPECT_EQ(rx->listTypeLabel()->text(), QStringLiteral("sorted"));

  for (uint32_t id : {0x500u, 0x100u, 0x300u}) receive(id, {1, 2});
  session_.ticks(1);
  ExpectMirrors(rx, app().traffic().rxList());
  ASSERT_EQ(rx->model()->rowCount(), 3);
  EXPECT_TRUE(rx->model()->rowText(0).contains(QStringLiteral(": 100 01 02")));
  EXPECT_TRUE(rx->model()->rowText(2).contains(QStringLiteral(" N=1 P=")));

  // Scroll the sorted view away from the top: new frames must not move it.
  rx->view()->resize(300, 40);
  for (uint32_t id = 0x600; id < 0x640; ++id) receive(id, {3});
  session_.ticks(1);
  QCoreApplication::processEvents();
  QScrollBar* bar = rx->view()->verticalScrollBar();
  ASSERT_GT(bar->maximum(), 10);
  bar->setValue(5);

  std::vector<int> changedRows;
  QObject::connect(rx->model(), &QAbstractItemModel::dataChanged, rx,
                   [&](const QModelIndex& from, const QModelIndex& to) {
                     for (int r = from.row(); r <= to.row(); ++r) changedRows.push_back(r);
                   });
  receive(0x300, {9, 9});
  session_.ticks(1);
  // Exactly the 0x300 row was written; the count shows the second frame.
  ASSERT_EQ(changedRows.size(), 1u);
  EXPECT_EQ(changedRows[0], 1);
  EXPECT_TRUE(rx->model()->rowText(1).contains(QStringLiteral(": 300 09 09")));
  EXPECT_TRUE(rx->model()->rowText(1).contains(QStringLiteral(" N=2 P=")));
  EXPECT_EQ(bar->value(), 5);
  ExpectMirrors(rx, app().traffic().rxList());
}

TEST_F(RxTxPanesTest, CombinedViewAndSeparateTxPane) {
  TrafficPane* rx = window_->rxPane();
  TrafficPane* tx = window_->txPane();
  CanFrame frame;
  frame.id = 0x123;
  frame.length = 2;
  frame.data[0] = 0x11;
  frame.data[1] = 0x22;

  // Combined (the default): the sent line is in the Rx pane, marked, in the Tx pane's colour.
  ASSERT_TRUE(app().TransmitFrame(frame));
  session_.ticks(1);
  ASSERT_GE(rx->model()->rowCount(), 1);
  const QString sent = rx->model()->rowText(0);
  EXPECT_EQ(sent.mid(43, 4), QStringLiteral(";[T]"));
  EXPECT_EQ(rx->model()->data(rx->model()->index(0), Qt::ForegroundRole).value<QColor>(),
            WindowsColour(app().settings().display.txBackgndColor));
  EXPECT_EQ(tx->model()->rowCount(), 0);

  // A click on the Tx title separates the panes; the next sent frame goes to the Tx pane.
  emit tx->titleLabel()->clicked();
  EXPECT_FALSE(app().settings().display.rxTxCombined);
  EXPECT_EQ(rx->titleLabel()->text(), QStringLiteral("Rx"));
  ASSERT_TRUE(app().TransmitFrame(frame));
  session_.ticks(1);
  ASSERT_EQ(tx->model()->rowCount(), 1);
  ExpectMirrors(tx, app().traffic().txList());
  EXPECT_EQ(tx->countLabel()->text(), QStringLiteral("N=2"));

  // A double-click on the Rx title and the View menu item both toggle the combined view.
  emit rx->titleLabel()->doubleClicked();
  EXPECT_TRUE(app().settings().display.rxTxCombined);
  EXPECT_EQ(rx->titleLabel()->text(), QStringLiteral("Rx+Tx"));
  session_.menuItem(QStringLiteral("Combined RX+TX window"))->trigger();
  EXPECT_FALSE(app().settings().display.rxTxCombined);

  // Erase empties the pane at once.
  tx->eraseButton()->click();
  EXPECT_EQ(tx->model()->rowCount(), 0);
}

TEST_F(RxTxPanesTest, StopAndPauseFreezeThePanes) {
  TrafficPane* rx = window_->rxPane();
  TrafficPane* tx = window_->txPane();
  rx->stopButton()->click();
  EXPECT_TRUE(app().traffic().display().rxDisplayStopped);
  EXPECT_EQ(rx->stopButton()->text(), QStringLiteral("Run"));
  EXPECT_EQ(rx->titleLabel()->text(), QStringLiteral("Rx+Tx (stopped)"));
  receive(0x10, {1});
  session_.ticks(1);
  EXPECT_EQ(rx->model()->rowCount(), 0);
  // Stopped panes still count.
  EXPECT_EQ(rx->countLabel()->text(), QStringLiteral("N=1"));

  rx->stopButton()->click();
  receive(0x11, {1});
  session_.ticks(1);
  EXPECT_EQ(rx->model()->rowCount(), 1);

  // "&Pause !" stops both and names itself "&Paused"; again releases both.
  QAction* pause = window_->pauseAction();
  pause->trigger();
  EXPECT_TRUE(app().traffic().display().rxDisplayStopped && app().traffic().display().txDisplayStopped);
  EXPECT_EQ(pause->text(), QStringLiteral("&Paused"));
  EXPECT_EQ(tx->titleLabel()->text(), QStringLiteral("Tx (stopped)"));
  pause->trigger();
  EXPECT_FALSE(app().traffic().display().rxDisplayStopped || app().traffic().display().txDisplayStopped);
  EXPECT_EQ(pause->text(), QStringLiteral("&Pause !"));
}

TEST_F(RxTxPanesTest, PopupItemsAndLookFollowTheSettings) {
  TrafficPane* rx = window_->rxPane();
  rx->sortedAction()->trigger();
  EXPECT_EQ(app().settings().display.rxListType, kListSorted);
  EXPECT_TRUE(rx->sortedAction()->isChecked());
  EXPECT_FALSE(rx->historyAction()->isChecked());
  rx->historyAction()->trigger();
  EXPECT_EQ(app().settings().display.rxListType, kListHistory);
  rx->combinedAction()->trigger();
  EXPECT_FALSE(app().settings().display.rxTxCombined);

  rx->zoomAction()->trigger();
  EXPECT_TRUE(window_->zoomed());
  EXPECT_EQ(rx->zoomAction()->text(), QStringLiteral("Zoom Out"));
  rx->zoomAction()->trigger();
  EXPECT_FALSE(window_->zoomed());

  // Background from RxBackgndColor, text in the contrasting colour.
  const QPalette palette = rx->view()->palette();
  EXPECT_EQ(palette.color(QPalette::Base), QColor(207, 207, 255));
  EXPECT_EQ(palette.color(QPalette::Text), QColor(Qt::black));
  EXPECT_EQ(window_->txPane()->view()->palette().color(QPalette::Text), QColor(Qt::white));
  EXPECT_TRUE(rx->view()->font().fixedPitch());
  EXPECT_EQ(TrafficPane::ListTypeText(7), QStringLiteral("?list_type?"));
}

TEST_F(RxTxPanesTest, LoggerLampBlinksRedWhileRecording) {
  LoggerLamp* lamp = window_->loggerLamp();
  EXPECT_EQ(lamp->rgb(), LoggerLamp::kGrey);
  ASSERT_TRUE(app().logger().OpenLogFile(config_.file("lamp.asc")));
  bool sawRed = false, sawGrey = false;
  for (int i = 0; i < 50; ++i) {
    session_.ticks(1);
    sawRed = sawRed || lamp->rgb() == 0xFF0000u;
    sawGrey = sawGrey || lamp->rgb() == LoggerLamp::kGrey;
  }
  EXPECT_TRUE(sawRed);
  EXPECT_TRUE(sawGrey);

  // The File menu item shows the recording and stops it.
  window_->refreshFileMenu();
  EXPECT_TRUE(
      window_->loggerStatusAction()->text().startsWith(QStringLiteral("Stop recording (current size = ")));
  window_->loggerStatusAction()->trigger();
  EXPECT_FALSE(app().logger().isOpen());
  EXPECT_EQ(window_->loggerStatusAction()->text(), QStringLiteral("Logger: stopped"));
}

TEST_F(RxTxPanesTest, RecordCommandOpensTheChosenFile) {
  FileDialogRequest asked;
  const std::string path = config_.file("chosen.txt");
  window_->setFileChooser([&](const FileDialogRequest& request) {
    asked = request;
    return QString::fromStdString(path);
  });
  session_.menuItem(QStringLiteral("Record &CAN-Logfile"))->trigger();
  EXPECT_EQ(asked.title, QStringLiteral("Record CAN messages in logfile"));
  EXPECT_TRUE(asked.save);
  ASSERT_EQ(asked.filters.size(), 3);
  EXPECT_EQ(asked.filters[0], QStringLiteral("All files (*)"));
  EXPECT_EQ(asked.filters[2], QStringLiteral("Vector ASCII (*.ASC)"));
  // The proposed name recorded.asc selects the Vector filter.
  EXPECT_EQ(asked.filterIndex, 2);
  EXPECT_EQ(asked.proposedName, QStringLiteral("recorded.asc"));
  EXPECT_TRUE(app().logger().isOpen());
  EXPECT_EQ(app().settings().logging.recordFile, path);

  // A cancelled dialog changes nothing.
  window_->setFileChooser([](const FileDialogRequest&) { return QString(); });
  window_->stopPlayerAndRecorder();
  session_.menuItem(QStringLiteral("Record &CAN-Logfile"))->trigger();
  EXPECT_FALSE(app().logger().isOpen());
}

TEST_F(RxTxPanesTest, CounterMenuItemsResetAndReport) {
  receive(0x10, {1});
  session_.ticks(1);
  EXPECT_EQ(window_->rxPane()->countLabel()->text(), QStringLiteral("N=1"));
  session_.menuItem(QStringLiteral("&Reset message counters"))->trigger();
  EXPECT_EQ(app().traffic().statistics().receivedTotal(), 0);
  session_.ticks(1);
  EXPECT_EQ(window_->rxPane()->countLabel()->text(), QStringLiteral("N=0"));

  session_.menuItem(QStringLiteral("Generate CAN &Statistic Report"))->trigger();
  const auto& lines = app().messages().lines();
  ASSERT_FALSE(lines.empty());
  bool reported = false;
  for (const std::string& line : lines)
    reported = reported || line.rfind("CAN bus statistics after ", 0) == 0;
  EXPECT_TRUE(reported);

  receive(0x10, {1});
  session_.ticks(1);
  session_.menuItem(QStringLiteral("&Reset CAN hardware"))->trigger();
  EXPECT_EQ(app().traffic().statistics().receivedTotal(), 0);
}

TEST(FrameListModelTest, MirrorsEvictionAndRebuildOfTheList) {
  testing::TheQtApplication();
  FrameList list(kListHistory);
  FrameListModel model(list);
  for (uint32_t i = 0; i < 30; ++i) list.add(kListHistory, 20, 0, i, "line " + std::to_string(i));
  model.refresh();
  ASSERT_EQ(model.rowCount(), 20);
  EXPECT_EQ(model.rowText(0), QStringLiteral("line 10"));
  // Several refreshes in a row, each with evictions at the top.
  for (uint32_t i = 30; i < 45; ++i) {
    list.add(kListHistory, 20, 0, i, "line " + std::to_string(i));
    if (i % 4 == 0) model.refresh();
  }
  model.refresh();
  ASSERT_EQ(model.rowCount(), 20);
  EXPECT_EQ(model.rowText(0), QStringLiteral("line 25"));
  EXPECT_EQ(model.rowText(19), QStringLiteral("line 44"));
  // Nothing changed: nothing is written.
  EXPECT_EQ(model.refresh().rowsWritten, 0u);

  // A list built for another type empties at its next line.
  list.add(kListSorted, 20, 42, 50, "sorted line");
  const FrameListModel::Result result = model.refresh();
  EXPECT_TRUE(result.rebuilt);
  ASSERT_EQ(model.rowCount(), 1);
  EXPECT_EQ(model.rowText(0).left(11), QStringLiteral("sorted line"));
}

}  // namespace
}  // namespace busprobe

namespace busprobe {
namespace {

TEST_F(RxTxPanesTest, FindSelectsTheNextMatchingLineAfterTheSelection) {
  app().settings().display.rxListType = kListHistory;
  receive(0x123, {0xAB, 0xCD});
  receive(0x456, {0x12, 0xAB});
  receive(0x789, {0xAB});
  session_.ticks(1);
  TrafficPane* rx = window_->rxPane();
  ASSERT_EQ(rx->model()->rowCount(), 3);

  ASSERT_TRUE(rx->findNext(QStringLiteral("ab"), false, false, true));
  EXPECT_EQ(rx->view()->currentIndex().row(), 0);
  ASSERT_TRUE(rx->findNext(QStringLiteral("ab"), false, false, false));
  EXPECT_EQ(rx->view()->currentIndex().row(), 1);
  ASSERT_TRUE(rx->findNext(QStringLiteral("ab"), false, false, false));
  EXPECT_EQ(rx->view()->currentIndex().row(), 2);
  EXPECT_FALSE(rx->findNext(QStringLiteral("ab"), false, false, false)) << "nothing after the last hit";

  EXPECT_FALSE(rx->findNext(QStringLiteral("ab"), false, true, true)) << "upper-case bytes only";
  // "12" stands alone only as the data byte of 0x456; inside "00012..." time stamps it is no word.
  ASSERT_TRUE(rx->findNext(QStringLiteral("12"), true, false, true));
  EXPECT_EQ(rx->view()->currentIndex().row(), 1);
  EXPECT_FALSE(rx->findNext(QString(), false, false, true));
}

}  // namespace
}  // namespace busprobe
