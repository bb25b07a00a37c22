// The ASCII logs we write must read back with another tool: python-can's ASC reader (Debian's
// python3-can under /usr/bin/python3) gets the same frames in the same order with the same
// relative times.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <random>
#include <sstream>

#include "app/test_support.h"
#include "traffic/logger.h"

namespace busprobe {
namespace {

struct Written {
  CanFrame frame;
  char direction;
};

std::vector<Written> MakeTraffic(int count) {
  std::mt19937 random(20261207);
  std::vector<Written> traffic;
  uint32_t time = 73000;  // not zero: times are relative to the first frame
  for (int i = 0; i < count; ++i) {
    CanFrame f;
    const bool extended = random() % 3 == 0;
    f.id = extended ? (CanFrame::kExtended | (random() & CanFrame::kIdMask)) : (random() & 0x7FF);
    f.setBus(static_cast<int>(random() % 2));
    f.rtr = random() % 10 == 0;
    f.length = static_cast<uint8_t>(random() % 9);
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

TEST(AscInterop, PythonCanReadsBackWhatTheLoggerWrote) {
  const char* python = "/usr/bin/python3";
  if (access(python, X_OK) != 0) GTEST_SKIP() << "no /usr/bin/python3: python3-can cross-check skipped";

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

  const std::string command =
      std::string(python) + " " + BUSPROBE_SOURCE_DIR + "/tests/traffic/asc_read.py '" + path + "' 2>&1";
  FILE* pipe = popen(command.c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  std::vector<std::string> lines;
  char buffer[512];
  while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) {
    std::string line(buffer);
    if (!line.empty() && line.back() == '\n') line.pop_back();
    lines.push_back(line);
  }
  const int status = pclose(pipe);
  ASSERT_TRUE(WIFEXITED(status));
  if (WEXITSTATUS(status) == 3) GTEST_SKIP() << "python3-can is not installed for /usr/bin/python3";
  ASSERT_EQ(WEXITSTATUS(status), 0) << (lines.empty() ? "" : lines.back());
  ASSERT_EQ(lines.size(), traffic.size());

  const uint32_t first = traffic.front().frame.timestamp;
  for (size_t i = 0; i < traffic.size(); ++i) {
    const CanFrame& f = traffic[i].frame;
    std::istringstream in(lines[i]);
    double seconds = 0;
    std::string id, data;
    int extended = 0, remote = 0, dlc = 0, channel = 0, rx = 0;
    in >> seconds >> id >> extended >> remote >> dlc >> data >> channel >> rx;
    ASSERT_FALSE(in.fail()) << lines[i];
    char expectedId[16];
    std::snprintf(expectedId, sizeof expectedId, "%X", f.identifier());
    SCOPED_TRACE("frame " + std::to_string(i) + ": " + lines[i]);
    EXPECT_EQ(static_cast<int64_t>(seconds * 1000.0 + 0.5), static_cast<int64_t>(f.timestamp - first));
    EXPECT_EQ(id, expectedId);
    EXPECT_EQ(extended != 0, f.extended());
    EXPECT_EQ(remote != 0, f.rtr != 0);
    EXPECT_EQ(dlc, f.length);
    EXPECT_EQ(data, f.rtr ? "-" : Hex(f.data, f.length));
    EXPECT_EQ(channel, f.bus());
    EXPECT_EQ(rx != 0, traffic[i].direction == 'R');
  }
}

}  // namespace
}  // namespace busprobe
