// Script words of other subsystems: only the words the language leaves to them can be registered,
// registered handlers run with the cursor where the language puts it, and words nobody registered
// keep the language's texts and codes.
#include "interp/script_extensions.h"

#include <gtest/gtest.h>

#include <string>

#include "base/clock.h"
#include "interp/script_lex.h"
#include "interp/script_program.h"
#include "interp/text_script_host.h"

namespace busprobe {
namespace {

TEST(ScriptExtensions, OnlyTheWordsLeftToOtherSubsystemsRegisterAndEachOnce) {
  ScriptExtensions table;
  const ScriptExtensions::Command noop = [](ScriptProgram&, ScriptCursor&) {};
  const ScriptExtensions::Factor zero = [](ExpressionEvaluator&, ScriptCursor&) {
    return ScriptValue::integer(0);
  };
  const ScriptExtensions::BusComponent one = [](int, ScriptCursor&) { return ScriptValue::integer(1); };
  for (const char* word :
       {"sdo", "obj", "obd", "def_watch", "scope", "OpenWindow", "ModalWindow", "CloseWindow", "MoveTo",
        "SetFont", "SetButton", "SetValueScroller", "ClearScreen", "ClearEOL"})
    EXPECT_TRUE(table.addCommand(word, noop)) << word;
  EXPECT_FALSE(table.addCommand("sdo", noop));  // taken
  for (const char* word : {"print", "wcan", "ClearVars", "clearscreen", "bogus", "", "??"})
    EXPECT_FALSE(table.addCommand(word, noop)) << word;
  EXPECT_FALSE(table.addCommand("ClearEOL", nullptr));

  for (const char* name : {"cursor", "freeze", "sdo", "obj", "obd"})
    EXPECT_TRUE(table.addFactor(name, zero)) << name;
  for (const char* name : {"cursor", "floor", "canrx", "sdo.", "rx", "def_watch"})
    EXPECT_FALSE(table.addFactor(name, zero)) << name;

  for (const char* name : {"baudrate", "nErrorFrames", "nRxFrames", "nTxFrames", "reset", "testDuration_sec"})
    EXPECT_TRUE(table.addBusComponent(name, one)) << name;
  for (const char* name : {"baudrate", "nRx", "Baudrate", "cursor"})
    EXPECT_FALSE(table.addBusComponent(name, one)) << name;

  EXPECT_NE(table.command("ClearEOL"), nullptr);
  EXPECT_EQ(table.command("print"), nullptr);
  EXPECT_NE(table.factor("obd"), nullptr);
  EXPECT_NE(table.busComponent("reset"), nullptr);
  EXPECT_EQ(table.busComponent("bogus"), nullptr);
}

class ScriptExtensionsRun : public ::testing::Test {
 protected:
  ScriptExtensionsRun() : host(clock), program(state, host) {
    clock.setAutoAdvance(0.001);
    program.setConfiguredTxDelayMs(0);
  }
  void run(std::string_view text) {
    host.messages.clear();
    host.output.clear();
    host.setText(text);
    program.run();
    for (int i = 0; i < 20 && program.running(); ++i) program.runSlice(clock.nowMs() * 0.001 + 0.04);
  }
  std::string lastMessage() const { return host.messages.empty() ? std::string() : host.messages.back(); }
  int evaluate(std::string_view text, ScriptValue& out) {
    ScriptCursor c(text);
    out = program.evaluator().evaluate(c);
    return c.error;
  }

  ManualClock clock{1000.0};
  InterpState state;
  TextScriptHost host;
  ScriptProgram program;
};

TEST_F(ScriptExtensionsRun, RegisteredCommandsRunAndFailLikeTheInterpretersOwn) {
  std::string seen;
  host.extensionTable.addCommand("def_watch", [&](ScriptProgram& p, ScriptCursor& c) {
    int32_t n = 0;
    if (p.evaluator().evaluateInt(c, n) != 0) return;
    if (n > 14) {
      p.fail(c, kErrIllegalIndex, "illegale watch-Nummer");
      return;
    }
    seen += std::to_string(n) + ";";
  });
  host.extensionTable.addCommand("sdo", [&](ScriptProgram&, ScriptCursor& c) {
    seen += std::string(c.rest()) + ";";
    c.pos = c.text.size();
  });
  run("def_watch 3 : def_watch 2 + 5\nsdo.read 1000\nprint \"after\"\n");
  EXPECT_EQ(seen, "3;7;.read 1000;");
  EXPECT_EQ(host.output, (std::vector<std::string>{"after"}));
  EXPECT_TRUE(host.messages.empty()) << lastMessage();

  run("def_watch 15\n");
  EXPECT_EQ(lastMessage(), "illegale watch-Nummer in line 1");
  run("def_watch 1 +\n");
  EXPECT_EQ(lastMessage(), "value expected in line 1");
  // The language's own checks come before the handler, and unregistered words keep their text.
  run("sdo read\n");
  EXPECT_EQ(lastMessage(), "expect sdo-component, not : read in line 1");
  run("scope.run\n");
  EXPECT_EQ(lastMessage(), "\"scope\" is not available in this version of busprobe in line 1");
  run("obd.x 1\n");
  EXPECT_EQ(lastMessage(), "\"obd\" is not available in this version of busprobe in line 1");
}

TEST_F(ScriptExtensionsRun, FactorsAndBusComponentsComeFromTheTableOrKeepTheirCodes) {
  ScriptValue v;
  // Unregistered: the language's codes.
  EXPECT_EQ(evaluate("cursor.x", v), kErrUnknownFunction);
  EXPECT_EQ(evaluate("sdo.read", v), kErrNotImplemented);
  EXPECT_EQ(evaluate("can[1].nErrorFrames", v), kErrUnknownFunction);
  EXPECT_EQ(evaluate("can.bogus", v), kErrUnknownComponent);
  // What the text host itself provides.
  ASSERT_EQ(evaluate("can.baudrate + can[1].nTxFrames", v), 0);
  EXPECT_EQ(v.i, 500);

  host.extensionTable.addFactor("sdo", [](ExpressionEvaluator& eval, ScriptCursor& c) {
    // The access stands on its ".": it reads its own components and arguments.
    if (!lex::consume(c, ".read(")) {
      c.fail(kErrUnknownComponent);
      return ScriptValue::integer(0);
    }
    const ScriptValue index = eval.evaluate(c);
    lex::consume(c, ")");
    return ScriptValue::integer(index.i + 1);
  });
  int busSeen = -1;
  host.extensionTable.addBusComponent("nErrorFrames", [&](int bus, ScriptCursor&) {
    busSeen = bus;
    return ScriptValue::integer(7);
  });
  ASSERT_EQ(evaluate("sdo.read(0x1000) * 2", v), 0);
  EXPECT_EQ(v.i, 0x2002);
  EXPECT_EQ(evaluate("sdo.write", v), kErrUnknownComponent);
  EXPECT_EQ(evaluate("obj.read", v), kErrNotImplemented);
  ASSERT_EQ(evaluate("can[5].nErrorFrames", v), 0);
  EXPECT_EQ(v.i, 7);
  EXPECT_EQ(busSeen, 1);
}

}  // namespace
}  // namespace busprobe
