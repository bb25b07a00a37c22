#include "interp/script_program.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "base/clock.h"
#include "interp/text_script_host.h"

namespace busprobe {
namespace {

// Time moves a microsecond on every read, as a busy program sees it, so that the slice loop makes
// progress without a real clock.
class BusyClock {
 public:
  BusyClock() { clock_.setAutoAdvance(0.001); }
  operator Clock&() { return clock_; }
  double nowMs() const { return clock_.nowMs(); }
  void sleepMs(double ms) { clock_.sleepMs(ms); }
  void jump(double ms) { clock_.advance(ms); }

 private:
  ManualClock clock_{1000.0};
};

class ScriptProgramTest : public ::testing::Test {
 protected:
  ScriptProgramTest() : host(clock), program(state, host) { program.setConfiguredTxDelayMs(0); }

  // Runs the script from the top, moving the manual clock by what each step asks for.
  void run(std::string_view text, int maxSteps = 10000) {
    host.setText(text);
    program.run();
    steps(maxSteps);
  }
  // Slices of 40 ms every 50 ms, as the main loop gives them.
  void steps(int maxSlices) {
    for (int i = 0; i < maxSlices && program.running(); ++i) {
      program.runSlice(clock.nowMs() * 0.001 + 0.04);
      clock.jump(10.0);
    }
  }
  int32_t intVar(std::string_view name) {
    const int e = state.findVariable(name);
    return e < 0 ? -999999 : state.variable(e).value.i;
  }
  std::string lastMessage() { return host.messages.empty() ? std::string() : host.messages.back(); }

  BusyClock clock;
  InterpState state;
  TextScriptHost host;
  ScriptProgram program;
};

// Script text with `n` lines "; filler" and the given lines put at 1-based positions.
std::string linesWith(int n, std::initializer_list<std::pair<int, std::string>> at) {
  std::vector<std::string> lines(static_cast<std::size_t>(n), "; filler");
  for (const auto& [line, text] : at) lines[static_cast<std::size_t>(line - 1)] = text;
  std::string out;
  for (const auto& l : lines) out += l + "\n";
  return out;
}

TEST_F(ScriptProgramTest, StatementsAssignmentsAndArrays) {
  run("x := 5 : y := x * 2\nz = 7\na[3] := 7\nprint a[3], a[4]\n@Big := 1 @print \"ok\"\n");
  EXPECT_EQ(intVar("x"), 5);
  EXPECT_EQ(intVar("y"), 10);
  EXPECT_EQ(intVar("z"), 7);
  EXPECT_EQ(intVar("Big"), 1);
  ASSERT_EQ(host.output.size(), 2u);
  EXPECT_EQ(host.output[0], "7 0");
  EXPECT_EQ(host.output[1], "ok");
  EXPECT_TRUE(host.messages.empty()) << lastMessage();
  EXPECT_FALSE(program.running());
  EXPECT_FALSE(program.stoppedByError());
}

TEST_F(ScriptProgramTest, FailingStatementsStopWithTheirMessageAndLine) {
  struct Case {
    const char* script;
    const char* message;
  };
  const Case cases[] = {
      {"x := 1\nx == 5\n", "Missing assignment-operator (\":=\") in line 2"},
      {"y := 1 / 0\n", "Error in assigned value: division by zero. in line 1"},
      {"@foo\n", "unknown command in line 1"},
      {"print \"%d\", 1.5\n", "types incompatible in print-cmd in line 1"},
      {"goto Nowhere\n", "Label \"Nowhere\" not found in line 1"},
      {"return\n", "return without gosub in line 1"},
      {"can.bogus\n", "Syntax error in 'can'-command in line 1"},
      {"sound\n", "\"sound\"-params missing (freq,duration,modulation) in line 1"},
      {"sdo 1234567\n", "expect sdo-component, not : 1234 in line 1"},
      {"ctx(123 11 22\n", "missing closing parenthesis in \"ctx\"-command in line 1"},
      {"endif\n", "Got 'endif' but the branch-stack is empty . in line 1"},
      {"else\n", "Got 'else' but the branch-stack is empty . in line 1"},
  };
  for (const Case& c : cases) {
    host.messages.clear();
    run(c.script);
    EXPECT_EQ(lastMessage(), c.message) << c.script;
    EXPECT_TRUE(program.stoppedByError()) << c.script;
    EXPECT_FALSE(program.running());
  }
}

// The stop message passes the host's translator: constant texts whole, formats before they are
// filled in; what has no translation stays English.
TEST_F(ScriptProgramTest, StopMessagesPassTheTranslator) {
  Translator german;
  german.add(" in line %d", " in Zeile %d");
  german.add("division by zero", "Division durch Null");
  german.add("Error in assigned value: %s.", "Fehler im zugewiesenen Wert: %s.");
  german.add("Label \"%s\" not found", "Marke \"%s\" fehlt");
  german.add("return without gosub", "return ohne gosub");
  german.add("unknown Error Code (%d)", "Fehlercode %d");
  german.add("%s in print-cmd", "%s im print-Befehl");
  german.add("types incompatible", "Typen unvereinbar");
  host.translation = &german;
  const struct {
    const char* script;
    const char* message;
  } cases[] = {
      {"y := 1 / 0\n", "Fehler im zugewiesenen Wert: Division durch Null. in Zeile 1"},
      {"x := 1\ngoto Nowhere\n", "Marke \"Nowhere\" fehlt in Zeile 2"},
      {"return\n", "return ohne gosub in Zeile 1"},
      {"print \"%d\", 1.5\n", "Typen unvereinbar im print-Befehl in Zeile 1"},
      {"x == 5\n", "Missing assignment-operator (\":=\") in Zeile 1"},
  };
  for (const auto& c : cases) {
    run(c.script);
    EXPECT_EQ(lastMessage(), c.message) << c.script;
    EXPECT_EQ(program.lastErrorText(), c.message) << c.script;
  }
  host.setText("x := 1\n");
  program.run();
  program.stopWithMessage(-30, "x");  // too short: the unknown-error text, untranslated here
  EXPECT_EQ(lastMessage(), "Program stopped, unknown error. in Zeile 1");
  char buffer[48];
  EXPECT_EQ(program.errorText(-30, buffer), "Fehlercode -30");
  EXPECT_EQ(program.errorText(-3, buffer), "Division durch Null");
  host.translation = nullptr;
  run("return\n");
  EXPECT_EQ(lastMessage(), "return without gosub in line 1");
}

TEST_F(ScriptProgramTest, RunsToTheEndSilentlyAndStopIsNotAnError) {
  run("a := 1\nb := 2\nc := 3\n");
  EXPECT_TRUE(host.messages.empty());
  EXPECT_EQ(intVar("c"), 3);
  run("a := 1\nstop\nb := 99\n");
  EXPECT_EQ(lastMessage(), "(stop) in line 2");
  EXPECT_FALSE(program.stoppedByError());
  EXPECT_EQ(intVar("b"), 2);
}

TEST_F(ScriptProgramTest, LoopsAndTheirLimits) {
  run("i := 0\nn := 0\nrepeat\n  i := i + 1\n  j := 0\n  while j < 3\n    j := j + 1 : n := n + 1\n  "
      "endwhile\n"
      "until i >= 4\n");
  EXPECT_EQ(intVar("i"), 4);
  EXPECT_EQ(intVar("n"), 12);
  EXPECT_TRUE(host.messages.empty()) << lastMessage();

  // A false while skips its body, nested pairs included.
  run("k := 0\nwhile 0\n while 1\n k := 5\n endwhile\nendwhile\nk := k + 1\n");
  EXPECT_EQ(intVar("k"), 1);

  std::string eleven;
  for (int i = 0; i < 11; ++i) eleven += "repeat\n";
  run(eleven);
  EXPECT_EQ(lastMessage(), "\"repeat\"..\"until\" too deeply nested in line 11");

  run("while 1\nuntil 1\n");
  EXPECT_EQ(lastMessage(), "Bad nesting of loops in line 2");
  run("endwhile\n");
  EXPECT_EQ(lastMessage(), "'endwhile' without 'while' in line 1");
  run("while 0\nx := 1\n");
  EXPECT_EQ(lastMessage(), "No matching 'endwhile' in line 1");
}

TEST_F(ScriptProgramTest, GosubDepthFiveWorksAndTheSixthOverflows) {
  run("gosub S1\nprint \"back\"\nstop\nS1:\ngosub S2\nreturn\nS2:\ngosub S3\nreturn\nS3:\ngosub S4\nreturn\n"
      "S4:\ngosub S5\nreturn\nS5:\nprint \"deep\"\nreturn\n");
  ASSERT_EQ(host.output.size(), 2u);
  EXPECT_EQ(host.output[0], "deep");
  EXPECT_EQ(host.output[1], "back");

  run("gosub S1\nstop\nS1:\ngosub S2\nS2:\ngosub S3\nS3:\ngosub S4\nS4:\ngosub S5\nS5:\ngosub S6\nS6:\nprint "
      "\"no\"\n");
  EXPECT_EQ(lastMessage(), "call-stack overflow. in line 12");
  EXPECT_EQ(program.callDepth(), 0);
  EXPECT_TRUE(host.output.size() == 2u);
}

TEST_F(ScriptProgramTest, LabelSearchPrefersTheNearestAndOnTiesTheEarlierLine) {
  // Labels in lines 10 and 30 (1-based); a goto in line 19 searches from line 20, which is 10
  // lines from both: the earlier wins. From line 24 the later one is nearer.
  run(linesWith(40, {{1, "goto Jump19"},
                     {10, "L1:"},
                     {11, "print 10 : stop"},
                     {18, "Jump19:"},
                     {19, "goto L1"},
                     {30, "L1:"},
                     {31, "print 30 : stop"}}));
  ASSERT_FALSE(host.output.empty());
  EXPECT_EQ(host.output.back(), "10");

  run(linesWith(40, {{1, "goto Jump24"},
                     {10, "L1:"},
                     {11, "print 10 : stop"},
                     {23, "Jump24:"},
                     {24, "goto L1"},
                     {30, "L1:"},
                     {31, "print 30 : stop"}}));
  EXPECT_EQ(host.output.back(), "30");

  host.setText("x:=1\nFirst:\nSecond: \n  Indented:\nq := 1\n");
  const auto labels = program.labels();
  ASSERT_EQ(labels.size(), 2u);
  EXPECT_EQ(labels[0], "First");
  EXPECT_EQ(labels[1], "Second");
  EXPECT_TRUE(program.runFromLabel("&Second  (menu text)"));
  EXPECT_EQ(program.programCounter(), 2);
  EXPECT_FALSE(program.runFromLabel("Missing"));
  EXPECT_EQ(lastMessage(), "Label \"Missing\" not found");
}

TEST_F(ScriptProgramTest, IfForms) {
  run("if 0 goto X\nprint \"a\"\nif 1 goto X\nprint \"b\"\nX:\nprint \"c\"\nif 1 print \"d\"\nif 0 print "
      "\"e\"\n");
  EXPECT_EQ(host.output, (std::vector<std::string>{"a", "c", "d"}));

  host.output.clear();
  run("if 0\n print 1\nelse if 1\n print 2\nelse\n print 3\nendif\nprint 4\n");
  EXPECT_EQ(host.output, (std::vector<std::string>{"2", "4"}));

  host.output.clear();
  run("if 1\n if 0\n  print 1\n else\n  print 2\n endif\n print 3\nelse\n print 4\nendif\n");
  EXPECT_EQ(host.output, (std::vector<std::string>{"2", "3"}));
  EXPECT_EQ(program.branchDepth(), 0);

  // A block if without endif fails at once, whatever its condition.
  host.output.clear();
  run("if 1\nprint 1\n");
  EXPECT_EQ(lastMessage(), "Didn't find matching 'endif' . in line 1");
  EXPECT_TRUE(host.output.empty());

  std::string deep;
  for (int i = 0; i < 21; ++i) deep += "if 1\n";
  for (int i = 0; i < 21; ++i) deep += "endif\n";
  run(deep);
  EXPECT_EQ(lastMessage(), "Branch-stack exceeded . in line 21");
}

TEST_F(ScriptProgramTest, ErrorHandlerRunsAndResumesBehindTheFailedLine) {
  // The failing line is line 7.
  run("OnError gosub Handler\nn := 0\nx := 1\nx := 2\nx := 3\nx := 4\ny := 1 / 0\nprint \"after\", n\nstop\n"
      "Handler:\nn := n + 1\nprint ErrorInfo.line, ErrorInfo.code, ErrorClass\nResumeError\n");
  EXPECT_EQ(host.output, (std::vector<std::string>{"7 -3 3", "after 1"}));
  EXPECT_FALSE(program.stoppedByError());
  EXPECT_EQ(program.callDepth(), 0);

  // A second error while the handler runs stops the program with that error.
  run("OnError gosub H\nz := 1 / 0\nprint \"never\"\nH:\nq := 1 / 0\nResumeError\n");
  EXPECT_EQ(lastMessage(), "Error in assigned value: division by zero. in line 5");
  EXPECT_TRUE(program.stoppedByError());

  // Many handled errors do not pile up return addresses.
  run("OnError gosub H\ni := 0\nrepeat\n i := i + 1\n z := 1 / 0\nuntil i >= 8\nstop\nH:\nResumeError\n");
  EXPECT_EQ(intVar("i"), 8);
  EXPECT_FALSE(program.stoppedByError());

  // A handler that only prints continues with the line after the failed one.
  host.output.clear();
  run("OnError print \"oops\"\nz := 1 / 0\nprint \"next\"\n");
  EXPECT_EQ(host.output, (std::vector<std::string>{"oops", "next"}));

  // An empty OnError removes the handler.
  run("OnError gosub H\nOnError\nz := 1 / 0\nH:\nResumeError\n");
  EXPECT_EQ(lastMessage(), "Error in assigned value: division by zero. in line 3");
}

// Paced frames driven the way the main loop drives them: a 40 ms slice every 50 ms tick and short
// slices in between.
TEST(ScriptPacing, FramesKeepTheirGridAcrossTicksAndSnapAfterAStall) {
  BusyClock clock;
  InterpState state;
  TextScriptHost host(clock);
  ScriptProgram program(state, host);
  host.setText("tx_interval 0.01\nrepeat\n123 11 22\nuntil 0\n");
  program.run();
  double tick = clock.nowMs();
  auto runTicks = [&](int n) {
    for (int i = 0; i < n; ++i) {
      program.runSlice(tick * 0.001 + 0.04);
      tick += 50.0;
      // Between ticks a 1 ms timer gives the program short slices, so that a frame due in the
      // gap does not wait for the next tick.
      while (clock.nowMs() < tick - 1.0) {
        program.runTimerSlice();
        clock.sleepMs(1.0);
      }
      if (clock.nowMs() < tick) clock.sleepMs(tick - clock.nowMs());
    }
  };
  runTicks(10);
  ASSERT_GE(host.sent.size(), 45u);
  for (std::size_t i = 2; i < host.sent.size(); ++i) {
    EXPECT_NEAR(host.sent[i].timeMs - host.sent[i - 1].timeMs, 10.0, 0.05) << i;
  }
  EXPECT_EQ(host.sent[0].frame.id, 0x123u);
  EXPECT_EQ(host.sent[0].frame.length, 2);

  // A stall of 37 ms between ticks: the next frame goes out at once and the schedule snaps to
  // the next multiple of the interval.
  tick += 37.0;
  clock.sleepMs(37.0);
  const std::size_t before = host.sent.size();
  runTicks(2);
  ASSERT_GE(host.sent.size(), before + 3);
  const double t1 = host.sent[before + 1].timeMs;
  EXPECT_NEAR(std::fmod(t1, 10.0), 0.0, 0.05) << t1;
  EXPECT_NEAR(host.sent[before + 2].timeMs - t1, 10.0, 0.05);
}

TEST_F(ScriptProgramTest, WcanWaitsForAMatchingFrame) {
  host.setText("wcan(181, 2, 10, x)\nprint wcan.id, wcan.len, wcan.dat(8)\n");
  program.run();
  steps(5);
  EXPECT_TRUE(program.waitingForFrame());
  // A waiting program gives the slice back at once instead of spinning to its deadline.
  const double before = clock.nowMs();
  program.runSlice(before * 0.001 + 0.04);
  EXPECT_LT(clock.nowMs() - before, 1.0);
  CanFrame other;
  other.id = 0x181;
  other.length = 2;
  other.data[0] = 0x11;
  EXPECT_FALSE(program.offerFrame(other));
  CanFrame match = other;
  match.data[0] = 0x10;
  match.data[1] = 0x77;
  match.timestamp = 5000;
  EXPECT_TRUE(program.offerFrame(match));
  steps(5);
  EXPECT_EQ(host.output, (std::vector<std::string>{"385 2 119"}));

  // The echo of a frame sent at a fractional millisecond carries the whole millisecond: a wait
  // that starts after the echo was received still finds it.
  clock.jump(0.7);
  host.output.clear();
  host.setText("7E5 01\nwcan(7E5, 1, 1)\nprint \"echo\"\n");
  program.run();
  program.step();  // sends 7E5
  CanFrame echo = host.sent.back().frame;
  echo.timestamp = static_cast<uint32_t>(host.sent.back().timeMs);
  host.receive(echo);
  steps(2);
  EXPECT_EQ(host.output, (std::vector<std::string>{"echo"}));

  // Fewer bytes than the length: value expected.
  run("wcan(181, 2, 10)\n");
  EXPECT_EQ(lastMessage(), "value expected in line 1");

  // A frame already received since the reference time ends the wait at once; an extended id
  // gets its flag.
  CanFrame ext;
  ext.id = 0x12345 | CanFrame::kExtended;
  ext.length = 1;
  ext.timestamp = static_cast<uint32_t>(clock.nowMs() + 500);
  host.receive(ext);
  host.output.clear();
  run("wcan(12345, 1, x)\nprint \"got\"\n", 5);
  EXPECT_EQ(host.output, (std::vector<std::string>{"got"}));
}

// A CAN-via-UDP server relays its buses as indices 2 and 3: for a wait they are buses 0 and 1,
// while wcan.id keeps the index the frame came with.
TEST_F(ScriptProgramTest, WcanSeesRelayedFramesAsTheirBus) {
  constexpr uint32_t kBus2 = 2u << CanFrame::kBusShift, kBus3 = 3u << CanFrame::kBusShift;
  host.setText("wcan(181, 2, 10, x)\nprint \"got\", wcan.id - $80000000\n");
  program.run();
  steps(2);
  ASSERT_TRUE(program.waitingForFrame());
  CanFrame onBus1;
  onBus1.id = 0x181 | kBus3;
  onBus1.length = 2;
  onBus1.data[0] = 0x10;
  EXPECT_FALSE(program.offerFrame(onBus1));
  CanFrame onBus0 = onBus1;
  onBus0.id = 0x181 | kBus2;
  EXPECT_TRUE(program.offerFrame(onBus0));
  steps(2);
  EXPECT_EQ(host.output, (std::vector<std::string>{"got 385"}));

  FrameWaitPattern bus1;
  bus1.id = 0x181 | (1u << CanFrame::kBusShift);
  EXPECT_TRUE(bus1.matches(onBus1));
  EXPECT_FALSE(bus1.matches(onBus0));
}

TEST_F(ScriptProgramTest, BreakpointsSteppingAndMarkers) {
  host.setText("a := 1\nb := 2\nc := 3\nd := 4\n");
  program.markers().setBreakpoint(2, true);
  program.run();
  steps(20);
  EXPECT_FALSE(program.running());
  EXPECT_EQ(program.programCounter(), 2);
  EXPECT_EQ(intVar("b"), 2);
  EXPECT_EQ(state.findVariable("c"), -1);
  EXPECT_EQ(host.shownLines.back(), 2);
  EXPECT_TRUE(program.markers().beenHere(0));
  EXPECT_TRUE(program.markers().beenHere(2));
  EXPECT_FALSE(program.markers().beenHere(3));

  // Single step executes the breakpoint line and stops behind it.
  program.singleStep();
  EXPECT_EQ(intVar("c"), 3);
  EXPECT_EQ(program.programCounter(), 3);
  EXPECT_FALSE(program.running());

  // Continue from a breakpoint runs through it instead of stopping there again.
  program.run();
  steps(20);
  EXPECT_EQ(program.programCounter(), 2);
  program.continueRun(2);
  steps(20);
  EXPECT_EQ(intVar("d"), 4);
  EXPECT_FALSE(program.running());

  auto redraw = program.markers().takeRedrawLines();
  EXPECT_FALSE(redraw.empty());
  EXPECT_TRUE(program.markers().takeRedrawLines().empty());
  program.markers().forgetHistory();
  EXPECT_FALSE(program.markers().beenHere(0));
  program.markers().killBreakpoints();
  EXPECT_EQ(program.markers().breakpointCount(), 0);
}

TEST_F(ScriptProgramTest, CanSendCutsTextIntoFramesWithTheGap) {
  run("can.send(300, g=5, \"Hello World\")\n");
  ASSERT_EQ(host.sent.size(), 2u);
  EXPECT_EQ(host.sent[0].frame.id, 0x300u);
  EXPECT_EQ(host.sent[0].frame.length, 8);
  EXPECT_EQ(host.sent[1].frame.length, 3);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(host.sent[1].frame.data), 3), "rld");
  EXPECT_NEAR(host.sent[1].timeMs - host.sent[0].timeMs, 5.0, 0.01);

  host.sent.clear();
  run("can.send(1234X, \"%d\", 42)\ncan.show_msgs_as_strings(300, 1234)\n");
  ASSERT_EQ(host.sent.size(), 1u);
  EXPECT_EQ(host.sent[0].frame.id, 0x1234u | CanFrame::kExtended);
  EXPECT_TRUE(host.sent[0].frame.isFd());
  EXPECT_EQ(host.idsAsText[0], 0x300);
  EXPECT_EQ(host.idsAsText[1], static_cast<int32_t>(0x1234u | CanFrame::kExtended));
  EXPECT_EQ(host.idsAsText[2], -1);
}

TEST_F(ScriptProgramTest, EventsInterruptBetweenLinesAndReturnToTheInterruptedLine) {
  host.setText("n := 0\nrepeat\n n := n + 1\nuntil n >= 1000000\nEv:\nprint \"event\"\nreturn\n");
  program.run();
  steps(10);
  const int pc = program.programCounter();
  program.postEvent("gosub Ev");
  program.handleEvents();
  EXPECT_EQ(program.callDepth(), 1);
  const auto listing = program.callStackListing();
  ASSERT_EQ(listing.size(), 1u);
  EXPECT_EQ(listing[0], "CallStack[0] = " + std::to_string(pc + 1) + " <- INTERRUPTED by event");
  for (int i = 0; i < 3; ++i) program.step();
  EXPECT_EQ(host.output, (std::vector<std::string>{"event"}));
  EXPECT_EQ(program.callDepth(), 0);
  EXPECT_EQ(program.programCounter(), pc);
}

TEST_F(ScriptProgramTest, ExecuteTextOnceUsesAFreshStateAndTheSameVariables) {
  EXPECT_EQ(program.executeTextOnce("v := 41 + 1 : 7FF 01 02"), 0);
  EXPECT_EQ(intVar("v"), 42);
  ASSERT_EQ(host.sent.size(), 1u);
  EXPECT_EQ(host.sent[0].frame.id, 0x7FFu);
  EXPECT_EQ(program.executeTextOnce("return"), kErrStackUnderflow);
  EXPECT_EQ(lastMessage(), "return without gosub");
  EXPECT_FALSE(program.running());
}

TEST_F(ScriptProgramTest, HostileTextStopsWithAnErrorAndNeverOverruns) {
  const std::string longLine(600, 'A');
  run(longLine + " := 1\n");
  EXPECT_FALSE(program.running());
  run(std::string("print \"") + std::string(300, 'x') + "\"\n");
  EXPECT_FALSE(program.running());
  std::string binary;
  for (int i = 0; i < 256; ++i) binary += static_cast<char>(i);
  run(binary + "\n" + binary + "\n");
  EXPECT_FALSE(program.running());
  // Too many variables: the 101st cannot be created.
  std::string many;
  for (int i = 0; i < 101; ++i) many += "v" + std::to_string(i) + " := " + std::to_string(i) + "\n";
  state.clearAll();
  run(many);
  EXPECT_EQ(lastMessage(), "Couldn't create var \"v100\". in line 101");
  state.clearAll();
  run("i := 0\nrepeat\n a[i] := i : i := i + 1\nuntil i > 2000\n", 100000);
  EXPECT_EQ(lastMessage(), "Out of memory for array/list \"a\". in line 3");
}

TEST_F(ScriptProgramTest, TextBeyondTheLineLimitStopsWithAnErrorInsteadOfEndingQuietly) {
  run(linesWith(kMaxScriptLines, {{kMaxScriptLines, "Last := 1"}}), 1000000);
  EXPECT_EQ(intVar("Last"), 1);
  EXPECT_FALSE(program.stoppedByError()) << lastMessage();

  host.messages.clear();
  run(linesWith(kMaxScriptLines + 1, {{kMaxScriptLines + 1, "Late := 1"}}), 1000000);
  EXPECT_FALSE(program.running());
  EXPECT_TRUE(program.stoppedByError());
  EXPECT_EQ(lastMessage(), "Program longer than 9999 lines: stopped in line 9999");
  EXPECT_EQ(intVar("Late"), -999999);
}

}  // namespace
}  // namespace busprobe
