#include "interp/expression.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "base/clock.h"

namespace busprobe {
namespace {

class RecordingEnvironment : public StandaloneEnvironment {
 public:
  explicit RecordingEnvironment(const Clock& clock) : StandaloneEnvironment(clock) {}
  void message(std::string_view text) override { messages.emplace_back(text); }
  std::vector<std::string> messages;
};

struct Fixture {
  ManualClock clock{12345.0};
  RecordingEnvironment env{clock};
  std::unique_ptr<InterpState> state = std::make_unique<InterpState>();
  ExpressionEvaluator eval{*state, env};

  ScriptValue run(std::string_view text, int* error = nullptr, std::size_t* consumed = nullptr) {
    ScriptCursor c(text);
    const ScriptValue v = eval.evaluate(c);
    if (error) *error = c.error;
    if (consumed) *consumed = c.pos;
    return v;
  }
  void setVar(std::string_view name, ScriptValue v) {
    const int e = state->findOrCreateVariable(name);
    ASSERT_GE(e, 0);
    state->variable(e).value = v;
  }
};

struct IntRow {
  const char* text;
  int32_t expected;
};

TEST(Expression, IntegerResultsFollowPrecedenceAndLeftToRightRule) {
  const IntRow rows[] = {
      {"7 / 2", 3},
      {"-7 % 3", -1},
      {"7 % -3", 1},
      {"2 + 3 * 4", 14},
      {"1 + 2 < 2", 0},
      {"1 < 2 + 5", 6},
      {"1 + 2 * 3", 7},
      {"(1 + 2) * 3", 9},
      {"6 & 3 + 1", 3},
      {"2 * 3 & 1 * 1", 0},
      {"2 * 3 & 2 * 3", 6},
      {"0.5 & 1", 1},
      {"0.5 && 1", 0},
      {"3.7 ^ 1", 2},
      {"5 | 2", 7},
      {"0.0 | 0", 0},
      {"2 || 0", 1},
      {"0.9 || 0", 0},
      {"3 = 3", 1},
      {"3 == 4", 0},
      {"3 <> 4", 1},
      {"3 != 3", 0},
      {"2.5 > 2", 1},
      {"2 >= 2.0", 1},
      {"1.5 <= 1", 0},
      {"2 = 2.0", 1},
      {"$FF", 255},
      {"0xFF", 255},
      {"#255", 255},
      {"%11111111", 255},
      {"-$10", -16},
      {"'A'", 65},
      {"hl(0x12, 0x34)", 0x1234},
      {"hl(0xFF, 0)", -256},
      {"hl(1,2,3)", 0x010203},
      {"table[1](10, 20, 30)", 20},
      {"table[-1](10, 20)", 0},
      {"int(-3.9)", -3},
      {"TRUE + FALSE", 1},
      {"ErrorClass.sdo", 6},
      {"ErrorClass.bogus", 0},
      {"ErrorClass", 0},
      {"1 ? 10 : 20", 10},
      {"0.0 ? 10 : 20", 20},
      {"0.1 ? 10 : 20", 10},
      {"2147483647 + 1", INT32_MIN},
      {"-2147483648 / -1", INT32_MIN},
      {"-2147483648 % -1", 0},
      {"4294967297", 1},
      {"isin(256)", 32767},
      {"isin(0)", 0},
      {"isin(5, 1)", 0},
      {"isin(256, 1024, 100)", 100},

      {"t", 12345},
      {"time + 1", 12346},
      {"5 - -2", 7},
      {"1 ;2", 1},
      {"3 // comment", 3},
  };
  for (const auto& row : rows) {
    Fixture f;
    int err = 0;
    const ScriptValue v = f.run(row.text, &err);
    EXPECT_EQ(err, 0) << row.text;
    EXPECT_EQ(v.type, kTypeInteger) << row.text;
    EXPECT_EQ(v.i, row.expected) << row.text;
  }
}

TEST(Expression, FloatResultsAndNumberSyntax) {
  const struct {
    const char* text;
    double expected;
    std::size_t consumed;
  } rows[] = {
      {"7.0 / 2", 3.5, 7}, {"1.5e3", 1500.0, 5}, {"1.5E3", 1.5, 3},           {"2e-2", 0.02, 4},
      {"1.5e+3", 1.5, 3},  {"-0.25", -0.25, 5},  {"floor(2.7)", 2.0, 10},     {"floor(-2)", -2.0, 9},
      {"5.5 % 2", 1.5, 7}, {"1 + 0.5", 1.5, 7},  {"0.1 + 0.2 * 10", 2.1, 14},
  };
  for (const auto& row : rows) {
    Fixture f;
    int err = 0;
    std::size_t consumed = 0;
    const ScriptValue v = f.run(row.text, &err, &consumed);
    EXPECT_EQ(err, 0) << row.text;
    EXPECT_EQ(v.type, kTypeFloat) << row.text;
    EXPECT_DOUBLE_EQ(v.f, row.expected) << row.text;
    EXPECT_EQ(consumed, row.consumed) << row.text;
  }
}

TEST(Expression, ErrorCodesReachableFromText) {
  const struct {
    const char* text;
    int error;
  } rows[] = {
      {"(1 + 2", kErrSyntax},
      {"1 ? 2 3", kErrSyntax},
      {"table(1)", kErrSyntax},
      {"table[1(1)", kErrSyntax},
      {"table[0](1", kErrSyntax},
      {"'A", kErrSyntax},
      {"1 +", kErrValueExpected},
      {"1 + ;", kErrValueExpected},
      {"5 / 0", kErrDivisionByZero},
      {"5.0 / 0.0", kErrDivisionByZero},
      {"5 % 0", kErrDivisionByZero},
      {"5 % 0.0", kErrDivisionByZero},
      {"canrx(123)", kErrFunctionFailed},
      {"cursor.x", kErrUnknownFunction},
      {"canrx", kErrMissingArgument},
      {"canrx(1, 0, 300)", kErrTypeNotSupported},
      {"wcan.bogus", kErrUnknownComponent},
      {"can.nRxFrames", kErrUnknownFunction},
      {"ErrorInfo.bogus", kErrUnknownComponent},
      {"ErrorInfo", kErrUnknownComponent},
      {"hl", kErrMissingArgument},
      {"isin 3", kErrMissingArgument},
      {"table[0] 1", kErrMissingArgument},
      {"floor 2", kErrMissingArgument},
      {"int2", kErrMissingArgument},  // read as "int" then "2"
      {"table[3](10, 20, 30)", kErrIllegalIndex},
      {"rx.id", kErrNullPointer},
      {"\"ab\" != \"cd\"", kErrTypesIncompatible},
      {"\"ab\" + 1", kErrTypesIncompatible},
      {"\"ab\" - \"a\"", kErrTypesIncompatible},
      {"XX + 1", kErrTypesIncompatible},
      {"int(\"a\")", kErrTypesIncompatible},
      {"1 ? \"a\" : \"b\" + 1", kErrTypesIncompatible},
  };
  for (const auto& row : rows) {
    Fixture f;
    int err = 0;
    f.run(row.text, &err);
    EXPECT_EQ(err, row.error) << row.text;
  }
}

TEST(Expression, MissingParenthesisIsReportedToMessages) {
  Fixture f;
  int err = 0;
  f.run("(1", &err);
  EXPECT_EQ(err, kErrSyntax);
  ASSERT_EQ(f.env.messages.size(), 1u);
  EXPECT_EQ(f.env.messages[0], "Programmabbruch. Klammer zu fehlt.");
}

TEST(Expression, StringsKeepAtMost79Characters) {
  Fixture f;
  const std::string forty(40, 'a');
  const std::string text = "\"" + forty + "\" + \"" + forty + "\"";
  int err = 0;
  ScriptValue v = f.run(text, &err);
  EXPECT_EQ(err, 0);
  EXPECT_EQ(v.text(), std::string(79, 'a'));

  const std::string literal = "\"" + std::string(100, 'b') + "\" = 1";
  std::size_t consumed = 0;
  v = f.run(literal, &err, &consumed);
  EXPECT_EQ(err, kErrTypesIncompatible);  // the whole literal was read, then compared with 1
  v = f.run("\"" + std::string(100, 'b') + "\"", &err, &consumed);
  EXPECT_EQ(v.text().size(), 79u);
  EXPECT_EQ(consumed, 102u);

  v = f.run(R"("say \"hi\"")", &err);
  EXPECT_EQ(v.text(), "say \"hi\"");
  v = f.run("\"ab\" = \"ab\"", &err);
  EXPECT_EQ(v.i, 1);
  v = f.run("\"ab\" + \"cd\"", &err);
  EXPECT_EQ(v.text(), "abcd");
}

TEST(Expression, VariablesElementsAndShadowing) {
  Fixture f;
  f.setVar("counter", ScriptValue::integer(5));
  f.setVar("TRUE", ScriptValue::integer(42));  // shadowed by the built-in
  f.setVar("hl", ScriptValue::integer(7));     // not a built-in: the variable wins
  const int arr = f.state->findOrCreateVariable("arr");
  *f.state->newElement(arr, -3) = ScriptValue::integer(11);
  *f.state->newElement(arr, 1000000) = ScriptValue::floating(2.5);

  int err = 0;
  EXPECT_EQ(f.run("counter * 2", &err).i, 10);
  EXPECT_EQ(f.run("TRUE", &err).i, 1);
  EXPECT_EQ(f.run("hl + 1", &err).i, 8);
  EXPECT_EQ(f.run("arr[0-3]", &err).i, 11);
  EXPECT_DOUBLE_EQ(f.run("arr[1000000]", &err).f, 2.5);
  EXPECT_EQ(f.run("arr[5]", &err).i, 0);
  f.run("arr[5", &err);
  EXPECT_EQ(err, kErrSyntax);

  // An unknown identifier is 0 and stays unread, so the statement fails on it later.
  std::size_t consumed = 0;
  const ScriptValue v = f.run("nosuchvar", &err, &consumed);
  EXPECT_EQ(err, 0);
  EXPECT_EQ(v.i, 0);
  EXPECT_EQ(consumed, 0u);

  EXPECT_EQ(f.run("XX", &err).type, kTypeSpecial);
  EXPECT_EQ(f.run("xxx", &err).i, kDontCare);
  // "XXA..." is an ordinary identifier, here unknown.
  EXPECT_EQ(f.run("XXAB", &err).type, kTypeInteger);
  // An unused variable takes part in no operator.
  f.state->findOrCreateVariable("fresh");
  f.run("fresh + 1", &err);
  EXPECT_EQ(err, kErrTypesIncompatible);
}

TEST(Expression, HexContextRereadsIdentifiersAndSkipsVariables) {
  Fixture f;
  f.setVar("AB", ScriptValue::integer(1));
  ScriptCursor c("AB");
  EXPECT_EQ(f.eval.evaluateFactor(c, 16).i, 1);  // variable lookup is on
  uint8_t bytes[8] = {};
  ScriptCursor list("11 22 AB 1234.w 1234.mw 01020304.ml \"hi\" ; rest");
  EXPECT_EQ(f.eval.readDataBytes(list, bytes, 8), 8);
  const uint8_t expected[8] = {0x11, 0x22, 0xAB, 0x34, 0x12, 0x12, 0x34, 0x01};
  for (int k = 0; k < 8; ++k) EXPECT_EQ(bytes[k], expected[k]) << k;

  uint8_t more[8] = {};
  ScriptCursor floats("#1.0.if 5");
  EXPECT_EQ(f.eval.readDataBytes(floats, more, 8), 5);
  EXPECT_EQ(more[3], 0x3F);
  EXPECT_EQ(more[2], 0x80);
  EXPECT_EQ(more[4], 0x05);
  EXPECT_EQ(floats.error, 0);
}

TEST(Expression, DataTypeNamesMatchByPrefixInOrder) {
  const struct {
    const char* text;
    int code;
    std::size_t consumed;
  } rows[] = {
      {"UNSIGNED8", 5, 9}, {"u16", 6, 3},    {"U16LE", 6, 3}, {"BOOLEAN", 1, 7},
      {"bool", 1, 4},      {"FLOAT", 8, 5},  {"I", 4, 1},     {"M32", 56, 3},
      {"???", 0, 3},       {"STRING", 9, 6}, {"INT", 4, 1},   {"xyz", -1, 0},
  };
  for (const auto& row : rows) {
    ScriptCursor c(row.text);
    EXPECT_EQ(readDataTypeName(c), row.code) << row.text;
    EXPECT_EQ(c.pos, row.consumed) << row.text;
  }
}

TEST(Expression, ValueExtractionCoversEveryTypeAndFrameEnd) {
  CanFrame fr;
  fr.length = 4;
  const uint8_t data[] = {0x81, 0xFF, 0x34, 0x12, 0x99};
  std::copy(std::begin(data), std::end(data), fr.data);
  const struct {
    int32_t bit;
    int type;
    int32_t expected;
  } rows[] = {
      {0, 1, 1},
      {1, 1, 0},
      {0, 2, -127},
      {0, 3, -127},
      {16, 6, 0x1234},
      {16, 55, 0x3412},
      {0, 5, 0x81},
      {4, 5, 0xF8},
      {16, 7, 0x1234},  // byte 4 lies beyond length
      {0, 56, static_cast<int32_t>(0x81FF3412u)},
      {0, 4, 0x1234FF81},
  };
  for (const auto& row : rows) {
    ScriptValue v;
    ASSERT_EQ(extractValue(fr, row.bit, row.type, v), 0);
    EXPECT_EQ(v.i, row.expected) << row.bit << "/" << row.type;
  }
  fr.length = 8;
  const float one = 1.0f;
  std::memcpy(fr.data + 4, &one, 4);
  ScriptValue v;
  ASSERT_EQ(extractValue(fr, 32, 8, v), 0);
  EXPECT_EQ(v.type, kTypeFloat);
  EXPECT_DOUBLE_EQ(v.f, 1.0);
  EXPECT_EQ(extractValue(fr, 0, 9, v), kErrTypeNotSupported);
  EXPECT_EQ(extractValue(fr, 2000, 7, v), 0);  // far past the data: zeros, no out-of-range read
  EXPECT_EQ(v.i, 0);
}

TEST(Expression, CurrentFrameComponents) {
  Fixture f;
  CanFrame fr;
  fr.id = 0x123;
  fr.length = 3;
  fr.rtr = 1;
  fr.timestamp = 777;
  fr.data[2] = 0x5A;
  const struct {
    const char* text;
    int32_t expected;
    int error;
  } rows[] = {
      {"rx.d2", 0x5A, 0},
      {"rx.id", 0x123, 0},
      {"rx.i", 0x123, 0},
      {"rx.len", 3, 0},
      {"rx.r", 1, 0},
      {"rx.time", 777, 0},
      {"rx.d9", 0, kErrIllegalIndex},
      {"rx.q", 0, kErrUnknownComponent},
  };
  for (const auto& row : rows) {
    ScriptCursor c(row.text);
    c.frame = &fr;
    const ScriptValue v = f.eval.evaluate(c);
    EXPECT_EQ(c.error, row.error) << row.text;
    if (row.error == 0) {
      EXPECT_EQ(v.i, row.expected) << row.text;
    }
  }
  EXPECT_EQ(f.env.messages.back(), "Rechenfehler: Unbekannte Message-Komponente.");
}

TEST(Expression, ReferenceTimeReplacesTheClock) {
  Fixture f;
  ScriptCursor c("t");
  c.referenceTimeSec = 2.5;
  EXPECT_EQ(f.eval.evaluate(c).i, 2500);
}

TEST(Expression, ColourNamesOnlyWhenAllowed) {
  Fixture f;
  ScriptCursor c("red");
  c.flags = kCursorColourNames;
  EXPECT_EQ(f.eval.evaluate(c).i, 0x0000FF);
  ScriptCursor plain("red");
  EXPECT_EQ(f.eval.evaluate(plain).i, 0);
  EXPECT_EQ(plain.pos, 0u);
}

TEST(Expression, DeepNestingFailsInsteadOfOverflowingTheStack) {
  Fixture f;
  int err = 0;
  f.run(std::string(100000, '('), &err);
  EXPECT_EQ(err, kErrSyntax);
  f.run(std::string(20, '(') + "1" + std::string(20, ')'), &err);
  EXPECT_EQ(err, 0);
  std::string ands = "1";
  for (int k = 0; k < 10000; ++k) ands += " & 1";
  f.run(ands, &err);
  EXPECT_EQ(err, kErrSyntax);
}

// A receive history the environment searches newest first.
class HistoryEnvironment : public RecordingEnvironment {
 public:
  explicit HistoryEnvironment(const Clock& clock) : RecordingEnvironment(clock) {
    table.addBusComponent("nRxFrames",
                          [](int bus, ScriptCursor&) { return ScriptValue::integer(100 + bus); });
  }
  bool findReceivedFrame(uint32_t id, double referenceTimeSec, CanFrame& out) override {
    for (auto it = history.rbegin(); it != history.rend(); ++it) {
      if (it->id == id && (referenceTimeSec == 0.0 || it->timestamp >= referenceTimeSec * 1000.0)) {
        out = *it;
        return true;
      }
    }
    return false;
  }
  const ScriptExtensions* extensions() const override { return &table; }
  int32_t receivedCount(uint32_t id) override {
    int32_t n = 0;
    for (const auto& f : history) n += f.id == id ? 1 : 0;
    return n;
  }
  std::vector<CanFrame> history;
  ScriptExtensions table;
};

CanFrame frameOf(uint32_t id, uint32_t timestamp, std::initializer_list<uint8_t> bytes) {
  CanFrame f;
  f.id = id;
  f.timestamp = timestamp;
  f.length = static_cast<uint8_t>(bytes.size());
  std::copy(bytes.begin(), bytes.end(), f.data);
  return f;
}

TEST(CanReceive, ReadsNewestMatchingFrameWithLatchAndDefaults) {
  ManualClock clock;
  HistoryEnvironment env(clock);
  auto state = std::make_unique<InterpState>();
  ExpressionEvaluator eval(*state, env);
  env.history.push_back(frameOf(0x123, 100, {0x00, 0x11, 0x22}));
  env.history.push_back(frameOf(0x123, 200, {0x00, 0x34, 0x12, 0x99}));
  env.history.push_back(frameOf(0x1234 | CanFrame::kExtended, 300, {0x7F}));
  env.history.push_back(frameOf(0x0AB | CanFrame::kExtended, 400, {0x01}));
  const struct {
    const char* text;
    int32_t expected;
    int error;
  } rows[] = {
      {"canrx(123, 8, U16)", 0x1234, 0},  // newest frame wins
      {"canrx(123)", 0x00, 0},            //
      {"canrx(0x1234)", 0x7F, 0},         // above 0x7FF: extended
      {"canrx(AB.x)", 0x01, 0},           //
      {"canrx(1234.s, 0, U8, 5)", 5, 0},  // standard forced: not found, default
      {"canrx(456, 0, U8, 0)", 0, 0},     //
      {"canrx(456)", 0, kErrFunctionFailed},
      {"canrx(123, 8, 6", 0, kErrSyntax},
      {"canrx.update_latch(456)", 0, 0},  // not found: latch emptied
      {"canrx.update_latch(123)", 1, 0},
      {"canrx.latch", 0x00, 0},
      {"canrx.latch(8, U16)", 0x1234, 0},
      {"canrx.latch.len", 4, 0},
      {"canrx.latch.count", 2, 0},
      {"canrx.latch.dat(24)", 0x99, 0},
      {"canrx.latch.dat(8, 55)", 0x3412, 0},
      {"canrx.latch.dat 8", 0, kErrMissingArgument},
  };
  for (const auto& row : rows) {
    ScriptCursor c(row.text);
    const ScriptValue v = eval.evaluate(c);
    EXPECT_EQ(c.error, row.error) << row.text;
    if (row.error == 0) {
      EXPECT_EQ(v.i, row.expected) << row.text;
      EXPECT_EQ(c.pos, c.text.size()) << row.text;
    }
  }
  ScriptCursor later("canrx(123, 8)");
  later.referenceTimeSec = 0.25;  // both frames are older
  eval.evaluate(later);
  EXPECT_EQ(later.error, kErrFunctionFailed);

  state->wcanFrame = frameOf(0x321, 0, {1, 2});
  const struct {
    const char* text;
    int32_t expected;
    int error;
  } busRows[] = {
      {"can.nRxFrames", 100, 0},
      {"can[1].nRxFrames", 101, 0},
      {"can[7].nRxFrames", 101, 0},
      {"can[-2].nRxFrames", 100, 0},
      {"can.nRxFramesX", 0, kErrUnknownComponent},
      {"can[1.nRxFrames", 0, kErrSyntax},
  };
  for (const auto& row : busRows) {
    ScriptCursor c(row.text);
    const ScriptValue v = eval.evaluate(c);
    EXPECT_EQ(c.error, row.error) << row.text;
    EXPECT_EQ(v.i, row.expected) << row.text;
  }

  ScriptCursor w("wcan.id + wcan.dat(8)");
  EXPECT_EQ(eval.evaluate(w).i, 0x323);
}

}  // namespace
}  // namespace busprobe
