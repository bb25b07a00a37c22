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

TEST(CommandLine, RefusesUnknownMissingAndNotYetAvailableOptions) {
  CommandLine cl;
  std::string error;
  EXPECT_FALSE(Parse({"--run", "x.bpr"}, cl, error));
  EXPECT_NE(error.find("--run"), std::string::npos);
  EXPECT_NE(error.find("not available"), std::string::npos);
  EXPECT_FALSE(Parse({"--show-traffic"}, cl, error));
  EXPECT_FALSE(Parse({"--bogus"}, cl, error));
  EXPECT_NE(error.find("unknown option --bogus"), std::string::npos);
  EXPECT_FALSE(Parse({"--config-dir"}, cl, error));
  EXPECT_FALSE(Parse({"--exit-after", "soon"}, cl, error));
  EXPECT_FALSE(Parse({"--exit-after", "-1"}, cl, error));
}

}  // namespace
}  // namespace busprobe
