#include "interp/print_format.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "base/clock.h"

namespace busprobe {
namespace {

struct PrintFixture {
  ManualClock clock{0.0};
  StandaloneEnvironment env{clock};
  std::unique_ptr<InterpState> state = std::make_unique<InterpState>();
  ExpressionEvaluator eval{*state, env};
  PrintOutput out;

  PrintFixture() {
    const int a = state->findOrCreateVariable("a");
    *state->newElement(a, 3) = ScriptValue::integer(7);
    state->variable(a).value = ScriptValue::integer(1);
    state->findOrCreateVariable("unset");
    state->variable(state->findOrCreateVariable("s")).value = ScriptValue::string(std::string(79, 's'));
  }
  int format(const std::string& args, std::size_t* consumed = nullptr) {
    ScriptCursor c(args);
    const int rc = FormatPrintArguments(eval, c, out);
    EXPECT_EQ(rc, c.error);
    if (consumed) *consumed = c.pos;
    return rc;
  }
};

TEST(PrintFormat, ConversionsFollowPrintfWithBinaryAndThirtyTwoBitIntegers) {
  struct Row {
    std::string args;
    std::string expected;
  } rows[] = {
      {R"("%04X", 255)", "00FF"},
      {R"("%6b", 5)", "000101"},
      {R"("%b|%2b", 5, 6)", "00000101|10"},
      {R"("%40b", -1)", std::string(8, '0') + std::string(32, '1')},
      {R"("%d%%", 50)", "50%"},
      {R"("%ld %lx %hd", -7, -1, 70000)", "-7 ffffffff 70000"},
      {R"("%5.2f|%-4d|%+d|%#o", 3.14159, 7, 5, 8)", " 3.14|7   |+5|010"},
      {R"("%c%.2s %e %G", 65, "abc", 1.5, 0.25)", "Aab 1.500000e+00 0.25"},
      {R"("a%qb %5y %n")", "aqb y n"},
      {R"("100%")", "100"},
      {R"("say \"hi\"\n\r")", "say \"hi\"\n\r"},
      {"\"a\tb\"", "ab"},
      {R"("x=", 5)", "x= 5"},
      {R"("%d", 1, 2, "z")", "1 2 z"},
      {R"(1, 2.5, "s", unset, XX)", "1 2.500000 s UNUSED DONT_CARE"},
      {R"(a[3], a[4])", "7 0"},
      {R"("a" + "b", 1)", "ab 1"},
      {R"(("v="; 5, 6))", "v=5 6"},
      {"()", ""},
      {"", ""},
      {R"(5 ; comment)", "5"},
      {"\"" + std::string(90, 'f') + "\"", std::string(80, 'f')},
  };
  for (const Row& row : rows) {
    PrintFixture f;
    EXPECT_EQ(f.format(row.args), 0) << row.args;
    EXPECT_EQ(f.out.view(), row.expected) << row.args;
    EXPECT_EQ(f.out.length, row.expected.size());
    EXPECT_FALSE(f.out.suppressLineFeed);
  }
}

TEST(PrintFormat, ListEndsAtColonCommentOrClosingParenthesis) {
  PrintFixture f;
  std::size_t consumed = 0;
  EXPECT_EQ(f.format("1, 2 : x := 3", &consumed), 0);
  EXPECT_EQ(consumed, 5u);
  EXPECT_EQ(f.format("1 // note", &consumed), 0);
  EXPECT_EQ(consumed, 2u);
  EXPECT_EQ(f.format(R"(("a", 1) + 2)", &consumed), 0);
  EXPECT_EQ(f.out.view(), "a 1");
  EXPECT_EQ(consumed, 8u);

  EXPECT_EQ(f.format(R"(("no line feed";))"), 0);
  EXPECT_EQ(f.out.view(), "no line feed");
  EXPECT_TRUE(f.out.suppressLineFeed);
  EXPECT_EQ(f.format(R"(("a"; 1; ))"), 0);
  EXPECT_EQ(f.out.view(), "a1");
  EXPECT_TRUE(f.out.suppressLineFeed);
}

TEST(PrintFormat, FailuresReportTheirCodeAndLeaveNoOutput) {
  struct Row {
    const char* args;
    int code;
  } rows[] = {
      {R"("%d", 1.5)", kErrTypesIncompatible},
      {R"("%f", 5)", kErrTypesIncompatible},
      {R"("%s", 5)", kErrTypesIncompatible},
      {R"("%x", XX)", kErrTypesIncompatible},
      {R"("%d")", kErrMissingArgument},
      {R"("50% off")", kErrMissingArgument},
      {"1 2", kErrSyntax},
      {"nosuchvar", kErrSyntax},
      {R"(("a")", kErrSyntax},
      {R"(("a" : 1))", kErrSyntax},
      {"1 ; 2", 0},  // ";" starts a comment outside parentheses
      {"1 +", kErrValueExpected},
      {"1,", kErrValueExpected},
      {"5 / 0", kErrDivisionByZero},
      // Room: 11 characters per item, 81 for strings, and never beyond 255 in total.
      {R"("%s%s%s%s", s, s, s, s)", kErrStringLength},
      {R"("%s%s%99d", s, s, 1)", kErrStringLength},
      {R"(s, s, s, s)", kErrStringLength},
      {"1e300", kErrStringLength},
      {R"("%99.9f", 1e300)", kErrStringLength},
  };
  for (const Row& row : rows) {
    PrintFixture f;
    EXPECT_EQ(f.format(row.args), row.code) << row.args;
    if (row.code != 0) {
      EXPECT_EQ(f.out.length, 0u) << row.args;
      EXPECT_EQ(f.out.text[0], '\0');
    }
  }
  // Right at the limits the same items still fit.
  PrintFixture f;
  EXPECT_EQ(f.format(R"("%s%s%s", s, s, s)"), 0);
  EXPECT_EQ(f.out.length, 237u);
  EXPECT_EQ(f.format(R"(s, s, s, "123456789012345")"), 0);
  EXPECT_EQ(f.out.length, 255u);
  EXPECT_EQ(f.out.text[255], '\0');
}

TEST(PrintFormat, ErrorMessageCarriesTheCallersSuffix) {
  PrintOutput out;
  PrintErrorMessage(kErrTypesIncompatible, " in print-cmd", out);
  EXPECT_EQ(out.view(), "types incompatible in print-cmd");
  PrintErrorMessage(-99, " in 'send' arguments", out);
  EXPECT_EQ(out.view(), "unknown Error Code (-99) in 'send' arguments");
  PrintErrorMessage(kErrSyntax, std::string(300, '!'), out);
  EXPECT_EQ(out.length, kPrintOutputChars);
}

}  // namespace
}  // namespace busprobe
