// The logs other tools wrote (asc, trc, candump): each one opens as its form, gives the frames it
// holds, and replays through the player with the file's spacing.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "traffic/log_player.h"
#include "traffic/log_reader.h"

namespace busprobe {
namespace {

struct Known {
  int index;
  double time;
  int channel;
  uint32_t id;  // with the extended flag
  std::string bytes;
  uint8_t fdFlags = 0;
};

struct LogFile {
  const char* path;
  LogForm form;
  int frames;
  int unknownSymbols;
  std::vector<Known> known;
  // Times of the file go back somewhere (a converter fragment), or come in bursts far above 30
  // frames per tick: then the spacing check is replaced by the checks of those cases.
  bool backwards = false;
  bool bursts = false;
};

constexpr uint32_t X = CanFrame::kExtended;
constexpr uint8_t kFd = CanFrame::kFdf, kBrs = CanFrame::kBrs, kEsi = CanFrame::kEsi;
// The 64-byte rows of these samples are one trailer word short: their 64th byte word is "64" (any
// reader that goes by the data length takes it as a byte).
const std::string kZerosThen64 = std::string(118, '0') + "64";

const std::vector<LogFile>& Files() {
  static const std::vector<LogFile> files = {
      {"asc/python-can_issue_1256.asc",
       LogForm::kVector,
       1457,
       0,
       {{0, 0.019968, 1, 0x64, "64000000"},
        {3, 0.039977, 1, 0x11, "4A28F60700000000"},
        {1456, 7.960498, 1, 0x12, "00010000"}}},
      // The row with the hex length "D" does not parse.
      {"asc/python-can_issue_1299.asc",
       LogForm::kVector,
       3,
       0,
       {{0, 13.258199, 1, 0x180, "6A00000000000000"}, {2, 13.258907, 1, 0xF4, "8A1A0DF213000007"}}},
      // Status, statistic and error rows (the CAN FD one too) are skipped; J1939TP is an unknown
      // name; the three remote requests are read, and the CAN FD rows: one of them a classic remote
      // request by its flags.
      {"asc/python-can_logfile.asc",
       LogForm::kVector,
       16,
       2,
       {{0, 2.510001, 2, 0x100, ""},
        {3, 3.098426, 1, X | 0x18EBFF00, "01A00FA6603BD140"},
        {7, 17.876708, 1, 0x6F9, "050C000000000000"},
        {12, 20.248887, 2, X | 0x18EBFF00, "04004BFFFFFFFFFF"},
        {13, 30.005071, 2, 0x300, "0102030405060708", kFd | kBrs},
        {14, 30.300981, 3, X | 0x50005, ""},
        {15, 30.506898, 4, 0x4EE, "01020304" + kZerosThen64, kFd}}},
      {"asc/python-can_test_CanMessage.asc",
       LogForm::kVector,
       2,
       0,
       {{0, 2.501, 2, 0xC8, "0908070605040302"}, {1, 17.876708, 1, 0x6F9, "050C000000000000"}}},
      {"asc/python-can_test_CanFdMessage.asc",
       LogForm::kVector,
       3,
       0,
       {{0, 30.005021, 1, 0x300, "11C2030405060708", kFd | kBrs},
        {1, 30.005041, 2, X | 0x1C4D80A7, "12C2030405060708", kFd | kEsi},
        {2, 30.005071, 3, 0x30A, "0102030405060708", kFd | kBrs | kEsi}}},
      {"asc/python-can_test_CanFdMessage64.asc",
       LogForm::kVector,
       2,
       0,
       {{0, 30.506898, 4, 0x4EE, "A1020304" + kZerosThen64, kFd | kEsi},
        {1, 31.506898, 4, X | 0x1C4D80A7, "B1020304" + kZerosThen64, kFd | kBrs}}},
      {"asc/python-can_test_CanRemoteMessage.asc",
       LogForm::kVector,
       3,
       0,
       {{0, 2.510001, 2, 0x100, ""}, {2, 2.584921, 4, 0x300, ""}}},
      {"asc/python-can_single_frame.asc", LogForm::kVector, 0, 0, {}},
      {"asc/vector_blf_test_CanMessage.asc",
       LogForm::kVector,
       2,
       0,
       {{0, 4.87687, 1, X | 0x54C5638, "0000000000000000"}, {1, 2.501, 2, X | 0xC8, "0908070605040302"}},
       true},
      {"trc/python-can_test_CanMessage.trc",
       LogForm::kPcanTrace,
       2,
       0,
       {{0, 2.501, 2, 0xC8, "0908070605040302"}, {1, 17.876708, 1, 0x6F9, "050C000000000000"}}},
      {"trc/python-can_test_CanMessage_V1_0_BUS1.trc",
       LogForm::kPcanTrace,
       11,
       0,
       {{0, 17.535, 1, X | 0x100, "0000000000000000"},
        {3, 19.295, 1, 0, "0000000000000000"},
        {10, 48.937, 1, 0x704, ""}}},
      {"trc/python-can_test_CanMessage_V1_1.trc",
       LogForm::kPcanTrace,
       11,
       0,
       {{0, 17.5354, 1, X | 0x100, "0000000000000000"},
        {3, 19.2954, 1, 0, "0000000000000000"},
        {10, 48.9376, 1, 0x704, ""}}},
      {"trc/python-can_test_CanMessage_V1_3.trc",
       LogForm::kPcanTrace,
       11,
       0,
       {{0, 17.5354, 1, X | 0x100, "0000000000000000"},
        {9, 21.0971, 1, X | 0x100, "0000000000000000"},
        {10, 48.9376, 1, 0x704, ""}}},
      {"trc/python-can_test_CanMessage_V2_0_BUS1.trc",
       LogForm::kPcanTrace,
       11,
       0,
       {{0, 17.5354, 1, X | 0x100, "0000000000000000"},
        {4, 19.5006, 1, 0, "0000000000000000"},
        {10, 48.9376, 1, 0x704, ""}}},
      {"trc/python-can_test_CanMessage_V2_1.trc",
       LogForm::kPcanTrace,
       11,
       0,
       {{0, 17.5354, 1, X | 0x100, "0000000000000000"},
        {6, 20.5927, 1, X | 0x100, "0000000000000000"},
        {10, 48.9376, 1, 0x704, ""}}},
      {"candump/icsim_sample-can.log",
       LogForm::kCandump,
       6158,
       0,
       {{0, 1398128223.803317, 1, 0x166, "D0320009"},
        {3, 1398128223.805039, 1, 0x191, "010090A1410030"},
        {6157, 1398128227.061308, 1, 0x1A4, "000000080000003E"}}},
      {"candump/pretty_j1939_candump.log",
       LogForm::kCandump,
       3,
       0,
       {{0, 1543509533.000838, 1, X | 0x10FDA300, "FFFF07FFFFFFFFFF"},
        {2, 1543509533.001145, 1, X | 0x0CF00400, "207D87481400F087"}}},
      {"candump/savvycan_candump.log",
       LogForm::kCandump,
       12974,
       0,
       {{0, 166.0, 1, 0x21A, "FE3612FE690507AD"}, {12973, 174.0, 1, 0x102, "0C96D0FFC1FF"}},
       false,
       true},
  };
  return files;
}

std::string PathOf(const LogFile& f) {
  return std::string(BUSPROBE_TESTDATA_DIR) + "/" + f.path;
}

std::string Bytes(const CanFrame& f) {
  std::string s;
  char b[4];
  for (int i = 0; i < f.length && !f.rtr; ++i) {
    std::snprintf(b, sizeof b, "%02X", f.data[i]);
    s += b;
  }
  return s;
}

class RealLog : public ::testing::TestWithParam<size_t> {
 protected:
  const LogFile& file() const { return Files()[GetParam()]; }
};

TEST_P(RealLog, ReadsEveryFrame) {
  const LogFile& f = file();
  LogReader reader;
  ASSERT_TRUE(reader.open(PathOf(f))) << f.path;
  EXPECT_EQ(reader.format().form, f.form);
  std::vector<LogFrame> frames;
  LogFrame lf;
  while (reader.next(lf)) frames.push_back(lf);
  ASSERT_EQ(static_cast<int>(frames.size()), f.frames);
  EXPECT_EQ(static_cast<int>(reader.counts().unknownSymbolLines), f.unknownSymbols);
  for (const Known& k : f.known) {
    const LogFrame& got = frames[static_cast<size_t>(k.index)];
    EXPECT_NEAR(got.time, k.time, 1e-6) << k.index;
    EXPECT_EQ(got.channel, k.channel) << k.index;
    EXPECT_EQ(got.frame.id, k.id) << k.index;
    EXPECT_EQ(Bytes(got.frame), k.bytes) << k.index;
    EXPECT_EQ(got.frame.fdFlags, k.fdFlags) << k.index;
  }
}

TEST_P(RealLog, ReplaysWithItsSpacing) {
  const LogFile& f = file();
  ManualClock clock(0.0);
  LogfilePlayerSettings settings;
  struct Out {
    double ms;
    uint32_t id;
  };
  std::vector<Out> sent;
  LogPlayer player(clock, settings, {}, [&](CanFrame& fr, int) {
    sent.push_back({clock.nowMs(), fr.id & ~CanFrame::kBusMask});
    return true;
  });
  ASSERT_TRUE(player.OpenPlayerFile(PathOf(f)));
  PlayerOptions o;
  o.loopMode = false;
  // Every channel of the sample files goes to a bus, so every frame read is replayed.
  o.bus1Channels = {1, 3, 0, 0};
  o.bus2Channels = {2, 4, 0, 0};
  ASSERT_TRUE(player.play(o));
  std::vector<LogFrame> frames;
  {
    LogReader reader;
    reader.open(PathOf(f));
    LogFrame lf;
    while (reader.next(lf)) frames.push_back(lf);
  }
  const double spanMs = frames.empty() ? 0.0 : (frames.back().time - frames.front().time) * 1000.0;
  int maxPerTick = 0;
  for (int tick = 0; tick < 100000 && player.state() == PlayerState::kPlaying; ++tick) {
    const size_t before = sent.size();
    player.PlayerTick();
    maxPerTick = std::max(maxPerTick, static_cast<int>(sent.size() - before));
    clock.advance(LogPlayer::kTickMs);
  }
  EXPECT_EQ(player.state(), PlayerState::kPaused);
  ASSERT_EQ(sent.size(), frames.size());
  EXPECT_LE(maxPerTick, LogPlayer::kFramesPerTick);
  for (size_t i = 0; i < sent.size(); ++i) ASSERT_EQ(sent[i].id, frames[i].frame.id) << i;
  if (frames.empty()) return;

  if (f.backwards) {
    // A frame due before the previous one goes out at once.
    EXPECT_EQ(sent.back().ms, sent.front().ms);
  } else if (f.bursts) {
    // About 1,600 frames share each whole second: a burst takes longer than the 200 ms the replay
    // may fall behind, so each second's burst starts between 1.0 and 1.25 s after the last one.
    double lastBurst = sent.front().ms;
    for (size_t i = 1; i < sent.size(); ++i) {
      if (frames[i].time == frames[i - 1].time) continue;
      const double gap = sent[i].ms - lastBurst;
      EXPECT_GE(gap, 1000.0) << i;
      EXPECT_LE(gap, 1250.0) << i;
      lastBurst = sent[i].ms;
    }
  } else {
    // Each frame goes out on the first tick at or after its file time.
    for (size_t i = 0; i < sent.size(); ++i) {
      const double expected = (frames[i].time - frames[0].time) * 1000.0;
      const double got = sent[i].ms - sent[0].ms;
      ASSERT_GE(got, expected - 1e-3) << f.path << " frame " << i;
      ASSERT_LT(got, expected + LogPlayer::kTickMs + 1e-3) << f.path << " frame " << i;
    }
    EXPECT_NEAR(sent.back().ms - sent.front().ms, spanMs, LogPlayer::kTickMs);
  }
}

std::string FileName(const ::testing::TestParamInfo<size_t>& info) {
  std::string name = Files()[info.param].path;
  for (char& c : name) {
    if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
  }
  return name;
}

INSTANTIATE_TEST_SUITE_P(TestData, RealLog, ::testing::Range<size_t>(0, Files().size()), FileName);

TEST(RealLogs, FilesOfNoKnownFormDoNotOpen) {
  LogReader reader;
  // No header at all, and a trace of another tool (tabs, decimal commas, CR line ends).
  EXPECT_FALSE(reader.open(std::string(BUSPROBE_TESTDATA_DIR) + "/asc/vector_blf_test_CanErrorFrameExt.asc"));
  EXPECT_FALSE(reader.open(std::string(BUSPROBE_TESTDATA_DIR) + "/trc/savvycan_CarBusAnalyzer_not-pcan.trc"));
}

}  // namespace
}  // namespace busprobe
