// Replay timing and the player's commands, driven tick by tick with a manual clock.
#include "traffic/log_player.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "traffic/can_names.h"
#include "traffic/logger.h"

namespace busprobe {
namespace {

struct Sent {
  double ms;
  CanFrame frame;
  int options;
};

class PlayerTest : public ::testing::Test {
 protected:
  ManualClock clock{1000.0};
  LogfilePlayerSettings settings;
  std::vector<Sent> sent;
  int refuse = 0;  // sends to refuse before accepting again
  std::vector<std::string> lookedUp;
  LogPlayer player{clock, settings,
                   [this](std::string_view name) {
                     lookedUp.emplace_back(name);
                     return name == "Known" ? 0x321 : -1;
                   },
                   [this](CanFrame& f, int options) {
                     if (refuse > 0) {
                       --refuse;
                       return false;
                     }
                     sent.push_back({clock.nowMs(), f, options});
                     return true;
                   }};

  std::string Write(const std::string& text) {
    const std::string path = ::testing::TempDir() + "player_" +
                             ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".asc";
    std::ofstream(path, std::ios::binary) << text;
    return path;
  }
  // A Vector file with one frame line per time (channel 1, identifier 0x100 + index).
  std::string VectorFile(const std::vector<double>& times, int channel = 1) {
    std::string text = "date Mon Dec 07 23:51:00 2026\nbase hex  timestamps absolute\nBegin Triggerblock\n";
    char line[80];
    for (size_t i = 0; i < times.size(); ++i) {
      std::snprintf(line, sizeof line, "%10.3f %d  %03zX  Rx   d 1 %02zX\n", times[i], channel, 0x100 + i,
                    i & 0xFF);
      text += line;
    }
    return Write(text);
  }
  void Open(const std::string& path, bool loop = false) {
    ASSERT_TRUE(player.OpenPlayerFile(path));
    PlayerOptions o = player.options();
    o.loopMode = loop;
    ASSERT_TRUE(player.play(o));
  }
  // Ticks every 5 ms; returns the number of frames sent at each tick.
  std::vector<int> Tick(int ticks) {
    std::vector<int> perTick;
    for (int i = 0; i < ticks; ++i) {
      const size_t before = sent.size();
      player.PlayerTick();
      perTick.push_back(static_cast<int>(sent.size() - before));
      clock.advance(LogPlayer::kTickMs);
    }
    return perTick;
  }
  std::vector<double> SentAfterFirst() const {
    std::vector<double> out;
    for (const Sent& s : sent) out.push_back(s.ms - sent.front().ms);
    return out;
  }
};

TEST_F(PlayerTest, KeepsTheFileSpacingOnTheTickGrid) {
  Open(VectorFile({10.0, 10.1, 10.25, 11.0, 11.0, 13.333}));
  Tick(800);
  ASSERT_EQ(sent.size(), 6u);
  const double expected[] = {0, 100, 250, 1000, 1000, 3333};
  for (size_t i = 0; i < 6; ++i) {
    EXPECT_GE(sent[i].ms - sent[0].ms, expected[i] - 1e-6) << i;
    EXPECT_LT(sent[i].ms - sent[0].ms, expected[i] + LogPlayer::kTickMs) << i;
    EXPECT_EQ(sent[i].frame.identifier(), 0x100 + i);
  }
  // The first frame goes out on the first tick.
  EXPECT_EQ(sent[0].ms, 1000.0);
  EXPECT_EQ(player.state(), PlayerState::kPaused);
  EXPECT_EQ(player.captionText(), "Logfile PAUSED");
}

TEST_F(PlayerTest, BurstsGoOutThirtyFramesPerTick) {
  Open(VectorFile(std::vector<double>(100, 1.0)));
  const std::vector<int> perTick = Tick(6);
  // The first pass of the first tick only reads; afterwards full ticks of 30.
  EXPECT_EQ(perTick, (std::vector<int>{29, 30, 30, 11, 0, 0}));
}

TEST_F(PlayerTest, FinerStepsKeepTheSpacingWithinAStepAndTheBurstRate) {
  player.setStepMs(1.0);
  EXPECT_EQ(player.framesPerStep(), 6);
  Open(VectorFile({10.0, 10.001, 10.003, 10.502, 10.502}));
  for (int i = 0; i < 800; ++i) {
    player.PlayerTick();
    clock.advance(1.0);
  }
  ASSERT_EQ(sent.size(), 5u);
  // Each frame leaves on the first step at or after its due time: at most one step late.
  const double expected[] = {0, 1, 3, 502, 502};
  for (size_t i = 0; i < 5; ++i) {
    EXPECT_GE(sent[i].ms - sent[0].ms, expected[i] - 1e-6) << i;
    EXPECT_LE(sent[i].ms - sent[0].ms, expected[i] + 1.0 + 1e-6) << i;
  }

  // A burst still leaves at 30 frames per 5 ms.
  sent.clear();
  Open(VectorFile(std::vector<double>(60, 1.0)));
  int inFirstFiveMs = 0;
  for (int i = 0; i < 5; ++i) {
    const size_t before = sent.size();
    player.PlayerTick();
    inFirstFiveMs += static_cast<int>(sent.size() - before);
    clock.advance(1.0);
  }
  EXPECT_LE(inFirstFiveMs, LogPlayer::kFramesPerTick);
  EXPECT_GE(inFirstFiveMs, LogPlayer::kFramesPerTick - 1);
}

TEST_F(PlayerTest, LateReplayCatchesUpOnlyWithin200ms) {
  // 150 ms late: the schedule is kept and the overdue frames go out back to back.
  Open(VectorFile({0.0, 1.0, 1.05, 1.1, 2.0}));
  Tick(1);
  clock.advance(1150.0);
  Tick(1);
  ASSERT_EQ(sent.size(), 4u);
  EXPECT_EQ(sent[3].ms, sent[1].ms);
  Tick(400);
  ASSERT_EQ(sent.size(), 5u);
  EXPECT_NEAR(sent[4].ms - sent[0].ms, 2000.0, LogPlayer::kTickMs);

  // 500 ms late: the late frame goes out at once and the schedule starts again from it.
  sent.clear();
  player.rewind();
  ASSERT_TRUE(player.play());
  Tick(1);
  clock.advance(1500.0);
  Tick(1);
  ASSERT_EQ(sent.size(), 2u);
  Tick(400);
  ASSERT_EQ(sent.size(), 5u);
  EXPECT_NEAR(sent[2].ms - sent[1].ms, 50.0, LogPlayer::kTickMs);
  EXPECT_NEAR(sent[3].ms - sent[1].ms, 100.0, LogPlayer::kTickMs);
  EXPECT_NEAR(sent[4].ms - sent[1].ms, 1000.0, LogPlayer::kTickMs);
}

TEST_F(PlayerTest, LoopModeSendsTheFirstFrameAfterTheWrapAtOnce) {
  // A file shorter than the catch-up window: the spacing must survive the wrap too.
  Open(VectorFile({5.0, 5.1}), true);
  Tick(200);
  ASSERT_GE(sent.size(), 6u);
  EXPECT_EQ(player.state(), PlayerState::kPlaying);
  // 0, 100 | wrap tick | next first frame one tick later, then +100 ...
  const std::vector<double> t = SentAfterFirst();
  EXPECT_EQ(t[1], 100.0);
  EXPECT_EQ(t[2], 105.0);  // the tick after the wrap
  EXPECT_EQ(t[3], 205.0);
  EXPECT_EQ(t[4], 210.0);
  EXPECT_EQ(sent[2].frame.identifier(), 0x100u);
  EXPECT_GE(player.statistics().wraps, 2u);
}

TEST_F(PlayerTest, PausedAtTheEndAndPlayStartsAgainFromTheFirstFrame) {
  Open(VectorFile({0.0, 0.02}));
  Tick(20);
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(player.state(), PlayerState::kPaused);
  EXPECT_FALSE(player.frameTime().has_value());
  ASSERT_TRUE(player.play());
  Tick(1);
  ASSERT_EQ(sent.size(), 3u);
  EXPECT_EQ(sent[2].frame.identifier(), 0x100u);
}

TEST_F(PlayerTest, ChannelsMapToBusesAndUnlistedChannelsAreSkippedNotRetried) {
  const std::string path = Write(
      "base hex  timestamps absolute\n"
      "0.0 1 101 Rx d 0\n0.0 3 103 Rx d 0\n0.0 2 102 Rx d 0\n0.0 16 110 Rx d 0\n0.0 4 104 Rx d 0\n");
  Open(path);
  Tick(3);
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(sent[0].frame.identifier(), 0x101u);
  EXPECT_EQ(sent[0].frame.bus(), 0);
  EXPECT_EQ(sent[1].frame.identifier(), 0x102u);
  EXPECT_EQ(sent[1].frame.bus(), 1);
  EXPECT_EQ(player.statistics().unmappedFrames, 3u);
  EXPECT_EQ(player.state(), PlayerState::kPaused);

  // Several channels on one bus; counters for channels 1..4 only.
  PlayerOptions o = player.options();
  o.bus1Channels = {1, 3, 16, 0};
  o.bus2Channels = {2, 4, 0, 0};
  sent.clear();
  player.resetStatistics();
  ASSERT_TRUE(player.play(o));
  Tick(3);
  ASSERT_EQ(sent.size(), 5u);
  EXPECT_EQ(sent[3].frame.bus(), 0);  // channel 16
  EXPECT_EQ(sent[4].frame.bus(), 1);  // channel 4
  EXPECT_EQ(player.statistics().sentPerChannel, (std::array<uint64_t, 4>{1, 1, 1, 1}));
  EXPECT_EQ(player.statistics().framesSent, 5u);
  EXPECT_EQ(player.statistics().unmappedFrames, 0u);
}

TEST_F(PlayerTest, CanFdLinesAreSentWholeOnTheirBus) {
  std::string bytes;
  char byte[4];
  for (int i = 0; i < 64; ++i) {
    std::snprintf(byte, sizeof byte, " %02X", 0xC0 ^ i);
    bytes += byte;
  }
  const std::string path = Write(
      "date Mon Dec 07 23:51:00 2026\nbase hex  timestamps absolute\nBegin Triggerblock\n"
      "0.000 CANFD   2 Rx        1AB                                   1 0 f 64" +
      bytes +
      "        0    0     3000        0        0        0        0        0\n"
      "0.010 CANFD   1 Tx   00000456x  Name 0 1 2 2 aa bb\n"
      "0.020 1  100             Rx   d 1 11\n");
  Open(path);
  Tick(6);
  ASSERT_EQ(sent.size(), 3u);
  const CanFrame& fd = sent[0].frame;
  EXPECT_EQ(fd.id, 0x1ABu | (1u << CanFrame::kBusShift));
  EXPECT_EQ(fd.fdFlags, CanFrame::kFdf | CanFrame::kBrs);
  ASSERT_EQ(fd.length, 64);
  for (int i = 0; i < 64; ++i) EXPECT_EQ(fd.data[i], 0xC0 ^ i) << i;
  EXPECT_EQ(sent[1].frame.id, 0x456u | CanFrame::kExtended);
  EXPECT_EQ(sent[1].frame.fdFlags, CanFrame::kFdf | CanFrame::kEsi);
  EXPECT_EQ(sent[1].frame.length, 2);
  EXPECT_EQ(sent[1].frame.data[1], 0xBB);
  EXPECT_EQ(sent[2].frame.fdFlags, 0);
  EXPECT_EQ(SentAfterFirst(), (std::vector<double>{0.0, 10.0, 20.0}));
}

TEST_F(PlayerTest, PcanExplorerFramesGoToTheFirstBusWhateverTheLists) {
  ASSERT_TRUE(player.OpenPlayerFile(Write(";\n1) 0 Rx 123 1 AA\n")));
  PlayerOptions o;
  o.loopMode = false;
  o.bus1Channels = {3, 0, 0, 0};
  o.bus2Channels = {1, 0, 0, 0};
  ASSERT_TRUE(player.play(o));
  Tick(1);
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].frame.bus(), 0);
}

TEST_F(PlayerTest, RefusedFrameIsTriedAgainOncePerTick) {
  Open(VectorFile({0.0, 0.0, 0.0}));
  refuse = 3;
  EXPECT_EQ(Tick(3), (std::vector<int>{0, 0, 0}));
  EXPECT_EQ(Tick(1), (std::vector<int>{3}));
  EXPECT_EQ(player.statistics().transmitFailures, 3u);
  EXPECT_EQ(sent[0].frame.identifier(), 0x100u);
}

TEST_F(PlayerTest, DontShowOptionAndExclusionList) {
  const std::string path = Write(
      "base hex  timestamps absolute\n"
      "0.0 1 123 Rx d 0\n0.0 1 124 Rx d 0\n0.0 2 123 Rx d 0\n0.0 1 00000125 Rx d 0\n0.0 1 125 Rx d 0\n");
  settings.excludeTxId[3] = 0x123;
  settings.excludeTxId[5] = 0x125 | static_cast<int>(CanFrame::kExtended);
  ASSERT_TRUE(player.OpenPlayerFile(path));
  PlayerOptions o;
  o.dontShow = true;
  o.loopMode = false;
  ASSERT_TRUE(player.play(o));
  Tick(2);
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(sent[0].frame.identifier(), 0x124u);
  EXPECT_EQ(sent[1].frame.id, 0x125u);  // the standard 0x125 is not the excluded extended one
  EXPECT_EQ(sent[0].options, LogPlayer::kTxOptionDontShow);
  EXPECT_EQ(player.statistics().excludedFrames, 3u);
}

TEST_F(PlayerTest, TimeLabelShowsFrameTimeOrHowLateTheReplayIs) {
  Open(VectorFile({0.0, 2.0, 2.1}));
  Tick(1);
  EXPECT_EQ(player.timeText(), "2.0 sec");
  Tick(400);  // frame 2.0 sent; 2.1 pending
  EXPECT_EQ(player.timeText(), "2.1 sec");
  // Held up for 4 s: the late frame goes out and the lag of the next one (2.1 s into the file,
  // 4.005 s into the replay) shows.
  player.rewind();
  Tick(1);
  clock.advance(4000.0);
  Tick(1);
  EXPECT_EQ(player.timeText(), "1.9 sec TOO LATE");
}

TEST_F(PlayerTest, CommandsAndCaptions) {
  EXPECT_FALSE(player.play());  // no file, no name
  EXPECT_EQ(player.captionText(), "Logfile Player STOPPED");
  const std::string path = VectorFile({0.0, 1.0});
  player.setFileName(path);
  ASSERT_TRUE(player.play());  // opens the known name
  EXPECT_TRUE(player.windowShown());
  EXPECT_EQ(player.captionText(), "Logfile PLAYING");
  Tick(1);
  EXPECT_TRUE(player.hasPendingFrame());
  player.stop();
  EXPECT_FALSE(player.hasPendingFrame());
  EXPECT_EQ(player.captionText(), "Logfile Player STOPPED");
  Tick(10);
  EXPECT_EQ(sent.size(), 1u);

  // Rewind: the first frame again, sent at once.
  player.rewind();
  player.play();
  Tick(1);
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(sent[1].frame.identifier(), 0x100u);

  EXPECT_FALSE(player.OpenPlayerFile(Write("no log at all\n")));
  EXPECT_FALSE(player.isFileOpen());
  EXPECT_FALSE(player.OpenPlayerFile("/nonexistent/x.asc"));
  player.StopPlayer();
  EXPECT_FALSE(player.windowShown());

  int refreshes = 0;
  for (int i = 0; i < 96; ++i) refreshes += player.PlayerTick() ? 1 : 0;
  EXPECT_EQ(refreshes, 3);
}

TEST_F(PlayerTest, UnknownSymbolsGiveOneNoticePerWindow) {
  const std::string path = Write(
      "base hex  timestamps absolute\n"
      "0.0 1 Known Rx d 0\n0.0 1 Unknown Rx d 0\n0.0 1 Other Rx d 0\n");
  Open(path);
  Tick(2);
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].frame.id, 0x321u);
  EXPECT_EQ(player.unknownSymbolLines(), 2u);
  EXPECT_TRUE(player.takeUnknownSymbolNotice());
  EXPECT_FALSE(player.takeUnknownSymbolNotice());
  // Looping over them again gives no second notice while the window stays.
  player.rewind();
  player.play();
  Tick(2);
  EXPECT_FALSE(player.takeUnknownSymbolNotice());
  // A new window: a new notice.
  player.StopPlayer();
  Open(path);
  Tick(2);
  EXPECT_TRUE(player.takeUnknownSymbolNotice());
}

TEST(PlayerReadsLogger, AsciiLogOfTheLoggerComesBackFrameForFrame) {
  const std::string path = ::testing::TempDir() + "player_roundtrip.asc";
  std::remove(path.c_str());
  std::array<CanMessageName, 32> table;
  table[0] = {"EngineSpeed", 0x0CF00400};
  CanNameTable names(table);
  std::vector<CanFrame> frames;
  auto add = [&](uint32_t id, uint32_t ms, int length, int bus, uint8_t fdFlags = 0) {
    CanFrame f;
    f.id = id;
    f.timestamp = ms;
    f.fdFlags = fdFlags;
    f.length = static_cast<uint8_t>(length);
    for (int i = 0; i < length; ++i) f.data[i] = static_cast<uint8_t>(0xA0 + i + ms);
    f.setBus(bus);
    frames.push_back(f);
  };
  add(0x123, 100000, 2, 0);
  add(0x7FF, 100250, 8, 1);
  add(0x0CF00400 | CanFrame::kExtended, 101000, 8, 0);  // written by its name
  add(0x100 | CanFrame::kExtended, 101500, 0, 1);
  add(0x0CF00400 | CanFrame::kExtended, 101600, 64, 1, CanFrame::kFdf | CanFrame::kBrs);  // FD, named
  add(0x321, 101700, 12, 0, CanFrame::kFdf | CanFrame::kEsi);
  add(0x5, 90000, 1, 0);  // more than 5 s back: a new trigger block
  {
    Logger logger;
    logger.setNameTable(&names);
    ASSERT_TRUE(logger.OpenLogFile(path));
    for (const CanFrame& f : frames) logger.WriteAscFrame(f, 'R');
    logger.CloseLogFile();
  }
  LogReader reader([&](std::string_view n) { return names.idForName(n); });
  ASSERT_TRUE(reader.open(path));
  const double expectedTime[] = {0.0, 0.25, 1.0, 1.5, 1.6, 1.7, 0.0};
  LogFrame got;
  for (size_t i = 0; i < frames.size(); ++i) {
    ASSERT_TRUE(reader.next(got)) << i;
    EXPECT_EQ(got.frame.id, frames[i].id & ~CanFrame::kBusMask) << i;
    EXPECT_EQ(got.channel, frames[i].bus() + 1) << i;
    EXPECT_EQ(got.frame.length, frames[i].length) << i;
    EXPECT_EQ(got.frame.fdFlags, frames[i].fdFlags) << i;
    EXPECT_EQ(std::memcmp(got.frame.data, frames[i].data, frames[i].length), 0) << i;
    EXPECT_DOUBLE_EQ(got.time, expectedTime[i]) << i;
  }
  EXPECT_FALSE(reader.next(got));
}

TEST(PlayerTexts, FilterAndWindowPosition) {
  EXPECT_EQ(PlayerFileFilter(),
            "Vector ASCII Logfiles (*.asc)|*.ASC|PCAN Explorer tracefiles (*.log)|*.LOG|"
            "NVK Logger Text files (*.txt)|*.TXT|PCAN trace files (*.trc)|*.TRC|candump logs (*.log)|*.LOG");
  EXPECT_EQ(KeepPlayerWindowOnDesktop(5000, 0, 1920), 1888);
  EXPECT_EQ(KeepPlayerWindowOnDesktop(-100, 0, 1920), -5);
  EXPECT_EQ(KeepPlayerWindowOnDesktop(300, 0, 1920), 300);
}

}  // namespace
}  // namespace busprobe
