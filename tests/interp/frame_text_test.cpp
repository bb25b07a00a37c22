#include "interp/frame_text.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "base/clock.h"

namespace busprobe {
namespace {

struct FrameFixture {
  ManualClock clock{0.0};
  StandaloneEnvironment env{clock};
  std::unique_ptr<InterpState> state = std::make_unique<InterpState>();
  ExpressionEvaluator eval{*state, env};

  FrameFixture() { state->variable(state->findOrCreateVariable("Node")).value = ScriptValue::integer(5); }
  int parse(const std::string& text, CanFrame& out) {
    ScriptCursor c(text);
    const int rc = ParseFrameText(eval, c, out);
    EXPECT_EQ(rc, c.error);
    return rc;
  }
};

constexpr uint32_t kExt = CanFrame::kExtended;

TEST(FrameText, IdentifiersBusesAndSuffixes) {
  struct Row {
    const char* text;
    uint32_t id;
    uint8_t fdFlags;
  } rows[] = {
      {"123", 0x123, 0},
      {"7FF", 0x7FF, 0},
      {"800", 0x800 | kExt, 0},
      {"#291", 0x123, 0},
      {"(0x180 + Node)", 0x185, 0},
      {"(2.9)", 2, 0},
      {"123x", 0x123 | kExt, 0},
      {"123.x", 0x123 | kExt, 0},
      {"18FF0001", 0x18FF0001 | kExt, 0},
      {"1FFFFFFF.x", 0x1FFFFFFF | kExt, 0},
      {"#2 123", 0x40000123, 0},
      {"#4 1FFFFFFF", 0xC0000000u | 0x1FFFFFFF | kExt, 0},
      {"#1 #2", 2, 0},
      {"#12", 12, 0},
      {"  123.X", 0x123 | kExt, CanFrame::kFdf | CanFrame::kBrs},
      {"123S", 0x123, CanFrame::kFdf | CanFrame::kBrs},
  };
  for (const Row& row : rows) {
    FrameFixture f;
    CanFrame frame;
    frame.timestamp = 99;
    ASSERT_EQ(f.parse(row.text, frame), 0) << row.text;
    EXPECT_EQ(frame.id, row.id) << row.text;
    EXPECT_EQ(frame.fdFlags, row.fdFlags) << row.text;
    EXPECT_EQ(frame.length, 0) << row.text;
    EXPECT_EQ(frame.rtr, 0);
    EXPECT_EQ(frame.timestamp, 0u);
  }
}

TEST(FrameText, DataLengthsAndRemoteFrames) {
  struct Row {
    std::string text;
    int length;
    uint8_t rtr;
    std::vector<uint8_t> data;
  } rows[] = {
      {"123 11 22", 2, 0, {0x11, 0x22}},
      {"123 [08] 11 22", 8, 0, {0x11, 0x22, 0, 0, 0, 0, 0, 0}},
      {"123 [ 2 ] 11 22 // two bytes", 2, 0, {0x11, 0x22}},
      {"123 1234.w 11223344.ml ; comment", 6, 0, {0x34, 0x12, 0x11, 0x22, 0x33, 0x44}},
      {"123 \"AB\" 0D #10", 4, 0, {'A', 'B', 0x0D, 10}},
      {"123 11 22 33 44 55 66 77 88", 8, 0, {0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88}},
      {"123r", 0, 1, {}},
      {"123 r2", 2, 1, {}},
      {"123 r 3", 3, 1, {}},
      {"123 [02] r", 2, 1, {}},
      {"123 r XX XX XX", 3, 1, {}},
      {"123rXX XX", 2, 1, {}},
      {"123 r [04]", 4, 1, {}},
      {"456.X 00 01 02 03 04 05 06 07 08 09 0A 0B", 12, 0, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11}},
      {"456.S 01 02 03 04 05 06 07 08 09 0A", 12, 0, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 0, 0}},
      {"456.S [20] 01", 20, 0, {1}},
      // A typed FD length that is no valid one is rounded up as everywhere else.
      {"300.S [10] 01 02", 12, 0, {1, 2}},
      {"300.X [25] 01", 32, 0, {1}},
  };
  for (const Row& row : rows) {
    FrameFixture f;
    CanFrame frame;
    std::memset(frame.data, 0xEE, sizeof frame.data);
    ASSERT_EQ(f.parse(row.text, frame), 0) << row.text;
    EXPECT_EQ(frame.length, row.length) << row.text;
    EXPECT_EQ(frame.rtr, row.rtr) << row.text;
    for (std::size_t k = 0; k < sizeof frame.data; ++k) {
      EXPECT_EQ(frame.data[k], k < row.data.size() ? row.data[k] : 0) << row.text << " byte " << k;
    }
  }
  FrameFixture f;
  CanFrame frame;
  const std::string text64(64, 'z');
  ASSERT_EQ(f.parse("7E0.X \"" + text64 + "\"", frame), 0);
  EXPECT_EQ(frame.length, 64);
  EXPECT_EQ(frame.data[63], 'z');
  EXPECT_EQ(frame.id, 0x7E0 | kExt);
}

TEST(FrameText, RefusesWhatCannotBeSent) {
  struct Row {
    std::string text;
    int code;
  } rows[] = {
      {"1234.s 01", kErrIllegalArgument},
      {"-1 11", kErrIllegalArgument},
      {"20000000", kErrIllegalArgument},
      {"123 11 22 33 44 55 66 77 88 99", kErrIllegalArgument},
      {"123 11 22 33 44 55 66 77 12345678.l", kErrIllegalArgument},
      {"123 [02] 11 22 33", kErrIllegalArgument},
      {"123 [09]", kErrIllegalArgument},
      {"123S [10] 01 02 03 04 05 06 07 08 09 0A 0B", kErrIllegalArgument},
      {"123S [65] 01", kErrIllegalArgument},
      {"123S \"" + std::string(65, 'z') + "\"", kErrIllegalArgument},
      {"123 r9", kErrIllegalArgument},
      {"123S r", kErrIllegalArgument},
      {"123 r2 [03]", kErrIllegalArgument},
      {"123 r XX 11", kErrSyntax},
      {"123 11 : x", kErrSyntax},
      {"123 11 zz", kErrSyntax},
      {"123 [0x2]", kErrSyntax},
      {"123 [2 11", kErrSyntax},
      {"123 [2] [2]", kErrSyntax},
      {"123xy", kErrSyntax},
      {"\"ab\"", kErrTypesIncompatible},
      {"123 x", kErrTypesIncompatible},
      {"(1 +", kErrValueExpected},
      {"", kErrValueExpected},
  };
  for (const Row& row : rows) {
    FrameFixture f;
    CanFrame frame;
    EXPECT_EQ(f.parse(row.text, frame), row.code) << row.text;
  }
}

}  // namespace
}  // namespace busprobe
