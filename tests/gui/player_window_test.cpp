#include <unistd.h>

#include "base/ini_file.h"
#include "gui_session.h"

namespace busprobe {
namespace {

using testing::GuiSession;
using testing::MessageBoxCatcher;
using testing::TempDir;

constexpr const char* kSmallAsc =
    "date Mon Dec 07 23:51:00 2026\r\n"
    "base hex  timestamps absolute\r\n"
    "internal events logged\r\n"
    "Begin Triggerblock Mon Dec 07 23:51:00 2026\r\n"
    "   0.000 1  123             Rx   d 2 11 22\r\n"
    "   0.010 1  124             Rx   d 1 33\r\n"
    "   0.020 1  18FF0001x       Rx   d 8 01 02 03 04 05 06 07 08\r\n"
    "End Triggerblock\r\n";

class PlayerWindowTest : public ::testing::Test {
 protected:
  PlayerWindowTest() : session_(config_.path(), locks_.path()) {
    window_ = &session_.window();
    session_.ticks(6);
    path_ = config_.file("small.asc");
    std::ofstream(path_, std::ios::binary) << kSmallAsc;
    window_->setFileChooser([this](const FileDialogRequest& request) {
      asked_ = request;
      return QString::fromStdString(path_);
    });
  }

  // 5 ms on the manual clock, then one pass of the run loop, as the main window's timer makes it.
  void step() {
    session_.clock().advance(5);
    window_->runLoop();
  }
  Application& app() { return session_.app(); }

  TempDir config_;
  TempDir locks_;
  GuiSession session_;
  MainWindow* window_;
  std::string path_;
  FileDialogRequest asked_;
};

TEST_F(PlayerWindowTest, PlaysASmallAscFileToTheBusWithItsSpacing) {
  session_.menuItem(QStringLiteral("&Play CAN-Logfile"))->trigger();
  EXPECT_EQ(asked_.title, QStringLiteral("Play a CAN LOGGER file to the bus"));
  EXPECT_EQ(asked_.filters.value(0), QStringLiteral("Vector ASCII Logfiles (*.ASC)"));
  EXPECT_EQ(asked_.proposedName, QStringLiteral("played.asc"));
  EXPECT_EQ(app().settings().logging.playedFile, path_);

  PlayerWindow* w = window_->playerWindow();
  ASSERT_NE(w, nullptr);
  EXPECT_TRUE(w->isVisible());
  EXPECT_EQ(w->fileNameField()->text(), QString::fromStdString(path_));
  EXPECT_EQ(w->windowTitle(), QStringLiteral("Logfile Player STOPPED"));
  for (const char* caption : {"Play", "Stop", "Rewind", "Fast Forward", "Record", "Help"})
    EXPECT_NE(w->button(QString::fromLatin1(caption)), nullptr) << caption;

  // Without loop mode the replay ends paused.
  w->loopModeBox()->setChecked(false);
  w->button(QStringLiteral("Play"))->click();
  EXPECT_EQ(app().player().state(), PlayerState::kPlaying);

  // The first frame goes at once, the next ones 10 ms apart.
  step();
  EXPECT_EQ(app().traffic().statistics().sentTotal(), 1);
  step();
  EXPECT_EQ(app().traffic().statistics().sentTotal(), 1);
  for (int i = 0; i < 3; ++i) step();
  EXPECT_EQ(app().traffic().statistics().sentTotal(), 3);
  for (int i = 0; i < 40; ++i) step();
  EXPECT_EQ(app().player().state(), PlayerState::kPaused);
  EXPECT_EQ(w->windowTitle(), QStringLiteral("Logfile PAUSED"));
  EXPECT_EQ(w->positionLabel()->text(), QStringLiteral("0 kB"));
  EXPECT_TRUE(w->statisticsLabel()->text().contains(QStringLiteral("Channel 1 frames sent : 3")));
  EXPECT_TRUE(w->statisticsLabel()->text().contains(QStringLiteral("Vector ASCII")));

  // The virtual bus hands the frames back: they arrive as received frames too.
  session_.ticks(1);
  EXPECT_EQ(app().traffic().statistics().receivedTotal(), 3);
  EXPECT_EQ(app().history().frame(0).id, 0x18FF0001u | CanFrame::kExtended);
  window_->refreshFileMenu();
  EXPECT_EQ(window_->loggerStatusAction()->text(), QStringLiteral("Stop (currently paused)"));

  // The File menu's item stops the player and closes its window.
  window_->loggerStatusAction()->trigger();
  EXPECT_EQ(app().player().state(), PlayerState::kStopped);
  EXPECT_FALSE(w->isVisible());
  EXPECT_EQ(app().player().state(), PlayerState::kStopped);
}

TEST_F(PlayerWindowTest, OptionsMapChannelsAndStatisticsCountTheRest) {
  ASSERT_TRUE(app().player().OpenPlayerFile(path_));
  session_.ticks(1);  // the window follows the player
  PlayerWindow* w = window_->playerWindow();
  ASSERT_NE(w, nullptr);
  ASSERT_TRUE(w->isVisible());
  EXPECT_EQ(w->channelsField(0)->text(), QStringLiteral("1"));
  EXPECT_EQ(w->channelsField(1)->text(), QStringLiteral("2"));
  // Channel 1 of the file goes to CAN2 now; nothing is left for CAN1.
  w->channelsField(0)->setText(QStringLiteral("5"));
  w->channelsField(1)->setText(QStringLiteral("1"));
  w->loopModeBox()->setChecked(false);
  w->dontShowBox()->setChecked(true);
  w->button(QStringLiteral("Play"))->click();
  for (int i = 0; i < 40; ++i) step();
  EXPECT_EQ(app().traffic().statistics().sent(1), 3);
  EXPECT_EQ(app().traffic().statistics().sent(0), 0);
  // Not shown: the Rx list (combined view) got no sent line from the player; the bus's echoes
  // of them arrive as received lines.
  const FrameList& rx = app().traffic().rxList();
  EXPECT_EQ(rx.count(), 3u);
  for (size_t row = 0; row < rx.count(); ++row)
    EXPECT_EQ(rx.entry(row).view().find(";[T]"), std::string_view::npos) << rx.entry(row).view();
  EXPECT_EQ(app().player().options().bus2Channels[0], 1);

  // Rewind and Stop are the player's; Fast Forward and Record are not there yet.
  w->button(QStringLiteral("Rewind"))->click();
  EXPECT_EQ(app().player().filePosition(), app().player().format().dataStart);
  w->button(QStringLiteral("Stop"))->click();
  EXPECT_EQ(app().player().state(), PlayerState::kStopped);
  MessageBoxCatcher boxes;
  w->button(QStringLiteral("Fast Forward"))->click();
  EXPECT_EQ(boxes.title(), QStringLiteral("CAN Log Recorder"));
  EXPECT_EQ(boxes.text(), QStringLiteral("Sorry, this function has not been implemented yet."));
}

TEST_F(PlayerWindowTest, FileNameDoubleClickOpensAnotherFileAndRefusesUnknownForms) {
  ASSERT_TRUE(app().player().OpenPlayerFile(path_));
  window_->syncPlayerWindow();
  PlayerWindow* w = window_->playerWindow();
  const std::string other = config_.file("other.txt");
  std::ofstream(other, std::ios::binary) << "no log at all\r\n";
  window_->setFileChooser([&](const FileDialogRequest& request) {
    asked_ = request;
    return QString::fromStdString(other);
  });
  MessageBoxCatcher boxes;
  w->chooseAnotherFile();
  EXPECT_EQ(asked_.defaultSuffix, QStringLiteral("asc"));
  EXPECT_EQ(boxes.title(), QStringLiteral("CAN Playback Utility"));
  EXPECT_EQ(boxes.text(), QStringLiteral("Could not open the file, or unknown logfile format."));
  EXPECT_FALSE(app().player().isFileOpen());
  // Play with no readable file says so again and does not start.
  w->button(QStringLiteral("Play"))->click();
  EXPECT_EQ(boxes.count(), 2);
  EXPECT_NE(app().player().state(), PlayerState::kPlaying);
}

TEST_F(PlayerWindowTest, StoredPositionIsKeptOnTheDesktop) {
  app().playerWindowSettings() = PlayerWindowSettings{5000, -300};
  ASSERT_TRUE(app().player().OpenPlayerFile(path_));
  window_->syncPlayerWindow();
  const QPoint pos = window_->playerWindow()->pos();
  // The offscreen desktop is 800 x 800.
  EXPECT_EQ(pos.x(), 799 - 32);
  EXPECT_EQ(pos.y(), -5);
}

// The position reaches the window through the configuration read at start-up, and goes back with
// the shutdown; only an administrator's position is written back.
TEST(PlayerWindowPlacementTest, PositionComesFromTheConfigurationAndReturnsAtShutdown) {
  TempDir config, locks;
  const std::string ini = config.file("NVK_Busprobe.ini");
  IniFile stored;
  stored.setInt("CanPlayerWindow", "Left", 120);
  stored.setInt("CanPlayerWindow", "Top", 90);
  ASSERT_TRUE(stored.save(ini));
  const std::string log = config.file("small.asc");
  std::ofstream(log, std::ios::binary) << kSmallAsc;
  {
    GuiSession session(config.path(), locks.path());
    session.ticks(6);
    ASSERT_TRUE(session.app().player().OpenPlayerFile(log));
    session.window().syncPlayerWindow();
    PlayerWindow* w = session.window().playerWindow();
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(w->pos(), QPoint(120, 90));
    w->move(200, 210);
    EXPECT_TRUE(session.window().close());
  }
  IniFile saved;
  ASSERT_EQ(saved.load(ini), IniFile::LoadResult::kOk);
  const bool administrator = geteuid() == 0;
  EXPECT_EQ(saved.getInt("CanPlayerWindow", "Left", 0), administrator ? 200 : 120);
  EXPECT_EQ(saved.getInt("CanPlayerWindow", "Top", 0), administrator ? 210 : 90);
}

TEST(PlayerChannelListTest, ReadsUpToFourChannelNumbers) {
  EXPECT_EQ(ParseChannelList(QStringLiteral("1, 3 x 0 300 99;4 5")), (std::array<int, 4>{1, 3, 99, 4}));
  EXPECT_EQ(ParseChannelList(QString()), (std::array<int, 4>{0, 0, 0, 0}));
  EXPECT_EQ(ChannelListText({2, 0, 7, 0}), QStringLiteral("2 7"));
}

}  // namespace
}  // namespace busprobe
