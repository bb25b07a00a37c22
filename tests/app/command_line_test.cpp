#include "app/command_line.h"

#include <gtest/gtest.h>

namespace busprobe {
namespace {

bool Parse(std::vector<const char*> args, CommandLine& out, std::string& error) {
  args.insert(args.begin(), "busprobe");
  return ParseCommandLine(static_cast<int>(args.size()), args.data(), out, error);
}

TEST(CommandLine, TakesHeadlessOptionsAndFiles) {
  CommandLine cl;
  std::string error;
  ASSERT_TRUE(
      Parse({"--headless", "--config-dir", "/tmp/x", "--exit-after", "2.5", "a.bpr", "b.HEX"}, cl, error));
  EXPECT_TRUE(cl.headless);
  EXPECT_EQ(cl.configDir, "/tmp/x");
  EXPECT_DOUBLE_EQ(cl.exitAfterSeconds, 2.5);
  EXPECT_EQ(cl.files, (std::vector<std::string>{"a.bpr", "b.HEX"}));
}

TEST(CommandLine, RefusesUnknownAndMissingOptions) {
  CommandLine cl;
  std::string error;
  EXPECT_FALSE(Parse({"--run", "x.bpr"}, cl, error));
  EXPECT_NE(error.find("--run needs --headless"), std::string::npos);
  EXPECT_FALSE(Parse({"--headless", "--run"}, cl, error));
  ASSERT_TRUE(Parse({"--headless", "--run", "x.bpr"}, cl, error));
  EXPECT_EQ(cl.runFile, "x.bpr");
  EXPECT_FALSE(Parse({"--bogus"}, cl, error));
  EXPECT_NE(error.find("unknown option --bogus"), std::string::npos);
  EXPECT_FALSE(Parse({"--config-dir"}, cl, error));
  EXPECT_FALSE(Parse({"--exit-after", "soon"}, cl, error));
  EXPECT_FALSE(Parse({"--exit-after", "-1"}, cl, error));
}

TEST(CommandLine, TrafficOptionsOfTheHeadlessRunner) {
  CommandLine cl;
  std::string error;
  ASSERT_TRUE(Parse({"--headless", "--show-traffic", "--record", "out.asc", "--play", "in.trc"}, cl, error))
      << error;
  EXPECT_TRUE(cl.showTraffic);
  EXPECT_EQ(cl.recordFile, "out.asc");
  EXPECT_EQ(cl.playFile, "in.trc");
  EXPECT_TRUE(cl.files.empty());
  // without --headless they would do nothing: refused, not ignored
  for (const char* option : {"--show-traffic", "--record", "--play"}) {
    CommandLine gui;
    std::vector<const char*> args{option};
    if (std::string(option) != "--show-traffic") args.push_back("x.asc");
    EXPECT_FALSE(Parse(args, gui, error)) << option;
    EXPECT_EQ(error, std::string("option ") + option + " needs --headless");
  }
  EXPECT_FALSE(Parse({"--headless", "--record"}, cl, error));
  EXPECT_EQ(error, "option --record needs a value");
  EXPECT_FALSE(Parse({"--headless", "--play"}, cl, error));
}

}  // namespace
}  // namespace busprobe
