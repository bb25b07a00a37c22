#include "app/messages.h"

#include <gtest/gtest.h>

#include "test_support.h"

namespace busprobe {
namespace {

TEST(MessageLog, SplitsAtLineBreaksAndCutsLongLines) {
  test::RecordingUi ui;
  MessageLog log(ui);
  ui.watch(log);
  log.PrintMessage("one\ntwo\r\nthree\n");
  EXPECT_EQ(ui.lines, (std::vector<std::string>{"one", "two", "three"}));

  ui.lines.clear();
  log.printText(std::string(600, 'x'));
  ASSERT_EQ(ui.lines.size(), 3u);
  EXPECT_EQ(ui.lines[0].size(), 255u);
  EXPECT_EQ(ui.lines[1].size(), 255u);
  EXPECT_EQ(ui.lines[2].size(), 90u);

  ui.lines.clear();
  log.PrintMessage("%s", "");
  EXPECT_EQ(ui.lines, (std::vector<std::string>{""}));
}

TEST(MessageLog, CategoriesGateTheirLinesOnly) {
  test::RecordingUi ui;
  MessageLog log(ui);
  ui.watch(log);
  log.setSecondsSource([] { return 12.9; });
  log.PrintCanMessage("bus %d", 1);
  log.PrintSdoMessage(3, "timeout");
  log.PrintSdoMessage(1, "abort");
  EXPECT_EQ(ui.lines, (std::vector<std::string>{"CAN: bus 1", "t=12: SDO: timeout", "SDO: abort"}));

  ui.lines.clear();
  log.canDriverMessages = false;
  log.sdoMessages = false;
  log.PrintCanMessage("hidden");
  log.PrintSdoMessage(1, "hidden");
  log.PrintMessage("shown");
  EXPECT_EQ(ui.lines, (std::vector<std::string>{"shown"}));
}

TEST(MessageLog, KeepsAtMostTheLineLimit) {
  test::RecordingUi ui;
  MessageLog log(ui);
  ui.watch(log);
  log.setMaxLines(5);  // below the minimum of 20
  EXPECT_EQ(log.maxLines(), 20u);
  for (int i = 0; i < 100; ++i) log.PrintMessage("line %d", i);
  EXPECT_LE(log.lines().size(), 21u);
  EXPECT_EQ(log.lines().back(), "line 99");
  log.clear();
  EXPECT_TRUE(log.lines().empty());
  EXPECT_TRUE(ui.lines.empty());
}

TEST(MessageLog, FormatsLongTextWithoutTruncation) {
  test::RecordingUi ui;
  MessageLog log(ui);
  ui.watch(log);
  std::string big(5000, 'a');
  log.PrintMessage("%s", big.c_str());
  size_t total = 0;
  for (const auto& l : ui.lines) total += l.size();
  EXPECT_EQ(total, 5000u);
}

}  // namespace
}  // namespace busprobe
