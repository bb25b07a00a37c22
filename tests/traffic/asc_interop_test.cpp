// The ASCII logs we write must read back with another tool, and its logs with us: python-can's ASC
// reader and writer (Debian's python3-can under /usr/bin/python3). Both directions carry classic
// and CAN FD frames: same frames in the same order, same relative times, every data byte.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <random>
#include <sstream>

#include "app/test_support.h"
#include "traffic/log_reader.h"
#include "traffic/logger.h"

namespace busprobe {
namespace {

constexpr const char* kPython = "/usr/bin/python3";

struct Written {
  CanFrame frame;
  char direction;
};

constexpr int kFdLengths[] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 12, 16, 20, 24, 32, 48, 64};

std::vector<Written> MakeTraffic(int count) {
  std::mt19937 random(20261207);
  std::vector<Written> traffic;
  uint32_t time = 73000;  // not zero: times are relative to the first frame
  for (int i = 0; i < count; ++i) {
    CanFrame f;
    const bool extended = random() % 3 == 0;
    f.id = extended ? (CanFrame::kExtended | (random() & CanFrame::kIdMask)) : (random() & 0x7FF);
    f.setBus(static_cast<int>(random() % 2));
    if (random() % 2 == 0) {
      f.fdFlags = CanFrame::kFdf;
      if (random() % 2) f.fdFlags |= CanFrame::kBrs;
      if (random() % 2) f.fdFlags |= CanFrame::kEsi;
      f.length = static_cast<uint8_t>(kFdLengths[random() % 16]);
    } else {
      f.rtr = random() % 10 == 0;
      f.length = static_cast<uint8_t>(random() % 9);
    }
    for (int b = 0; b < f.length; ++b) f.data[b] = static_cast<uint8_t>(random());
    time += random() % 4;
    f.timestamp = time;
    traffic.push_back({f, random() % 2 ? 'R' : 'T'});
  }
  return traffic;
}

std::string Hex(const uint8_t* data, int length) {
  if (length == 0) return "-";
  std::string text;
  char pair[3];
  for (int i = 0; i < length; ++i) {
    std::snprintf(pair, sizeof pair, "%02X", data[i]);
    text += pair;
  }
  return text;
}

// One message as the scripts print it.
struct PyMessage {
  double seconds = 0;
  std::string id, data;
  int extended = 0, remote = 0, dlc = 0, channel = 0, rx = 0, fd = 0, brs = 0, esi = 0;
};

bool ParsePyMessage(const std::string& line, PyMessage& m) {
  std::istringstream in(line);
  in >> m.seconds >> m.id >> m.extended >> m.remote >> m.dlc >> m.data >> m.channel >> m.rx >> m.fd >>
      m.brs >> m.esi;
  return !in.fail();
}

// Runs a script of this folder; false (with the reason in `why`) when python-can is missing, so the
// caller can skip. Its output lines go to `lines`.
bool RunScript(const std::string& script, const std::string& args, std::vector<std::string>& lines,
               std::string& why) {
  if (access(kPython, X_OK) != 0) {
    why = "no /usr/bin/python3: python3-can cross-check skipped";
    return false;
  }
  const std::string command =
      std::string(kPython) + " " + BUSPROBE_SOURCE_DIR + "/tests/traffic/" + script + " " + args + " 2>&1";
  FILE* pipe = popen(command.c_str(), "r");
  EXPECT_NE(pipe, nullptr);
  if (pipe == nullptr) return false;
  char buffer[1024];
  while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) {
    std::string line(buffer);
    if (!line.empty() && line.back() == '\n') line.pop_back();
    lines.push_back(line);
  }
  const int status = pclose(pipe);
  EXPECT_TRUE(WIFEXITED(status));
  if (WIFEXITED(status) && WEXITSTATUS(status) == 3) {
    why = "python3-can is not installed for /usr/bin/python3";
    return false;
  }
  EXPECT_EQ(WEXITSTATUS(status), 0) << (lines.empty() ? "" : lines.back());
  return true;
}

TEST(AscInterop, PythonCanReadsBackWhatTheLoggerWrote) {
  test::ScratchDir dir;
  const std::string path = dir.file("interop.asc");
  const std::vector<Written> traffic = MakeTraffic(3000);
  {
    Logger logger;
    ASSERT_TRUE(logger.OpenLogFile(path));
    for (const Written& w : traffic) logger.WriteAscFrame(w.frame, w.direction);
    logger.CloseLogFile();
  }
  ASSERT_GT(traffic.back().frame.timestamp - traffic.front().frame.timestamp, 3000u);

  std::vector<std::string> lines;
  std::string why;
  if (!RunScript("asc_read.py", "'" + path + "'", lines, why)) GTEST_SKIP() << why;
  ASSERT_EQ(lines.size(), traffic.size());

  const uint32_t first = traffic.front().frame.timestamp;
  for (size_t i = 0; i < traffic.size(); ++i) {
    const CanFrame& f = traffic[i].frame;
    PyMessage m;
    ASSERT_TRUE(ParsePyMessage(lines[i], m)) << lines[i];
    char expectedId[16];
    std::snprintf(expectedId, sizeof expectedId, "%X", f.identifier());
    SCOPED_TRACE("frame " + std::to_string(i) + ": " + lines[i]);
    EXPECT_EQ(static_cast<int64_t>(m.seconds * 1000.0 + 0.5), static_cast<int64_t>(f.timestamp - first));
    EXPECT_EQ(m.id, expectedId);
    EXPECT_EQ(m.extended != 0, f.extended());
    // python-can takes an FD frame without data for a remote request; there is no such thing in FD.
    if (!(f.isFd() && f.length == 0)) {
      EXPECT_EQ(m.remote != 0, f.rtr != 0);
    }
    EXPECT_EQ(m.dlc, f.length);
    EXPECT_EQ(m.data, f.rtr ? "-" : Hex(f.data, f.length));
    EXPECT_EQ(m.channel, f.bus());
    EXPECT_EQ(m.rx != 0, traffic[i].direction == 'R');
    EXPECT_EQ(m.fd != 0, f.isFd());
    EXPECT_EQ(m.brs != 0, (f.fdFlags & CanFrame::kBrs) != 0);
    EXPECT_EQ(m.esi != 0, (f.fdFlags & CanFrame::kEsi) != 0);
  }
}

TEST(AscInterop, ReaderTakesEveryFrameOfAPythonCanLog) {
  test::ScratchDir dir;
  const std::string path = dir.file("python.asc");
  std::vector<std::string> lines;
  std::string why;
  if (!RunScript("asc_write.py", "'" + path + "' 7 3000", lines, why)) GTEST_SKIP() << why;
  ASSERT_EQ(lines.size(), 3000u);

  LogReader reader;
  ASSERT_TRUE(reader.open(path));
  LogFrame got;
  int fdFrames = 0, longFrames = 0;
  for (size_t i = 0; i < lines.size(); ++i) {
    PyMessage m;
    ASSERT_TRUE(ParsePyMessage(lines[i], m)) << lines[i];
    SCOPED_TRACE("message " + std::to_string(i) + ": " + lines[i]);
    ASSERT_TRUE(reader.next(got));
    const CanFrame& f = got.frame;
    char id[16];
    std::snprintf(id, sizeof id, "%X", f.identifier());
    EXPECT_NEAR(got.time, m.seconds, 1e-6);
    EXPECT_EQ(id, m.id);
    EXPECT_EQ(f.extended(), m.extended != 0);
    EXPECT_EQ(f.rtr != 0, m.remote != 0);
    EXPECT_EQ(f.length, m.dlc);
    EXPECT_EQ(f.rtr ? "-" : Hex(f.data, f.length), m.data);
    EXPECT_EQ(got.channel, m.channel + 1);
    EXPECT_EQ(f.isFd(), m.fd != 0);
    EXPECT_EQ((f.fdFlags & CanFrame::kBrs) != 0, m.brs != 0);
    EXPECT_EQ((f.fdFlags & CanFrame::kEsi) != 0, m.esi != 0);
    fdFrames += m.fd;
    longFrames += m.dlc > 8;
  }
  EXPECT_FALSE(reader.next(got));
  // The log really holds what this is about.
  EXPECT_GT(fdFrames, 1000);
  EXPECT_GT(longFrames, 500);
}

}  // namespace
}  // namespace busprobe
