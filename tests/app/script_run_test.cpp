// Scripts run by the application: ticks give the program its slices, frames go through the common
// send path to another application on the virtual bus, wcan is ended by the receive pump, and
// variables outlive a restart.
#include <gtest/gtest.h>

#include <fstream>
#include <memory>

#include "app/application.h"
#include "test_support.h"

namespace busprobe {
namespace {

class ScriptUi : public test::RecordingUi {
 public:
  void onChange(UiTopic topic) override {
    if (topic == UiTopic::kScriptLine) shownLines.push_back(app_->scripts().lineToShow());
    if (topic == UiTopic::kScriptEnded)
      ended.push_back(app_->program().stoppedByError() ? app_->program().lastErrorText() : std::string());
  }
  std::vector<int> shownLines;
  std::vector<std::string> ended;
};

struct ScriptInstance {
  ScriptInstance(const test::ScratchDir& locks, std::shared_ptr<VirtualBus> bus, Clock& clock,
                 const std::string& configDir) {
    AppOptions o;
    o.configDir = configDir;
    o.lockDir = locks.path();
    o.virtualBus = std::move(bus);
    app = std::make_unique<Application>(ui, clock, o);
    app->startUp();
    app->settings().interp.txDelay = 0;
  }
  void setScript(const std::string& text) { app->commandFile().setText(text); }
  ScriptUi ui;
  std::unique_ptr<Application> app;
};

class ScriptRunTest : public ::testing::Test {
 protected:
  ScriptRunTest() { clock.setAutoAdvance(0.001); }
  // Ticks every 50 ms of clock time, as the main window's timer would.
  void ticks(std::initializer_list<ScriptInstance*> instances, int n) {
    for (int i = 0; i < n; ++i) {
      const double next = clock.nowMs() + 50.0;
      for (ScriptInstance* s : instances) s->app->tick();
      if (clock.nowMs() < next) clock.set(next);
    }
  }
  ManualClock clock{1000};
  test::ScratchDir locks, dirA, dirB;
  std::shared_ptr<VirtualBus> bus = VirtualBus::create();
};

TEST_F(ScriptRunTest, FramesReachThePeerAndWcanEndsWhenTheyArrive) {
  ScriptInstance a(locks, bus, clock, dirA.path());
  ScriptInstance b(locks, bus, clock, dirB.path());
  ticks({&a, &b}, 6);
  ASSERT_TRUE(a.app->running() && b.app->running());

  b.setScript(
      "wcan(321, 2, AA, x)\n"
      "print \"got\", wcan.dat(8, U8), canrx(321, 0, U8)\n"
      "ctx(654 01 02 03)\n");
  a.setScript(
      "tx_interval 0.005\n"
      "i := 0\n"
      "repeat\n"
      "  (0x300 + i) (i)\n"
      "  i := i + 1\n"
      "until i >= 3\n"
      "321 AA 55\n"
      "wcan(654, 3, 1, 2, 3)\n"
      "print \"peer answered\", can[0].nTxFrames\n");
  b.app->scripts().run();
  ticks({&b}, 2);
  EXPECT_TRUE(b.app->program().waitingForFrame());
  a.app->scripts().run();
  ticks({&a, &b}, 10);

  EXPECT_FALSE(a.app->program().running());
  EXPECT_FALSE(b.app->program().running());
  EXPECT_TRUE(b.ui.hasLine("got 85 170")) << (b.ui.lines.empty() ? "" : b.ui.lines.back());
  EXPECT_TRUE(a.ui.hasLine("peer answered 4")) << (a.ui.lines.empty() ? "" : a.ui.lines.back());
  // Both runs ended on their own, without an error text.
  EXPECT_EQ(a.ui.ended, (std::vector<std::string>{""}));
  EXPECT_EQ(b.ui.ended, (std::vector<std::string>{""}));
  // The frames of the loop carried their computed identifiers and data, in order.
  std::vector<std::pair<uint32_t, int>> loopFrames;
  for (size_t back = b.app->history().count(); back-- > 0;) {
    const CanFrame& f = b.app->history().frame(back);
    if (f.id >= 0x300 && f.id < 0x303) loopFrames.emplace_back(f.id, f.data[0]);
  }
  EXPECT_EQ(loopFrames, (std::vector<std::pair<uint32_t, int>>{{0x300, 0}, {0x301, 1}, {0x302, 2}}));
}

TEST_F(ScriptRunTest, AnErrorEndsTheRunWithItsTextForTheEditor) {
  ScriptInstance a(locks, bus, clock, dirA.path());
  ticks({&a}, 6);
  a.setScript("x := 1\nprint \"%d\", 1.5\n");
  a.app->scripts().run();
  ticks({&a}, 2);
  EXPECT_TRUE(a.ui.hasLine("types incompatible in print-cmd in line 2"));
  ASSERT_EQ(a.ui.ended.size(), 1u);
  EXPECT_EQ(a.ui.ended[0], "types incompatible in print-cmd in line 2");
  EXPECT_TRUE(a.app->program().stoppedByError());
  // The stop message passes the application's translator.
  a.app->translator().add(" in line %d", " in Zeile %d");
  a.app->scripts().run();
  ticks({&a}, 2);
  EXPECT_EQ(a.ui.ended.back(), "types incompatible in print-cmd in Zeile 2");
  a.app->translator().clear();

  a.app->scripts().printVariables();
  EXPECT_TRUE(a.ui.hasLine("; List of INTERPRETER VARIABLES by alphabet:"));
  a.app->scripts().printCallStack();
  EXPECT_TRUE(a.ui.hasLine("CallStack is empty."));
}

TEST_F(ScriptRunTest, ScriptCommandsReachTheDisplayAndStatistics) {
  ScriptInstance a(locks, bus, clock, dirA.path());
  ticks({&a}, 6);
  a.setScript(
      "freeze\n"
      "f := freeze\n"
      "can.show_msgs_as_strings(100, 12345)\n"
      "ClearScreen(3)\n"
      "print \"after clear\", f\n"
      "print cursor.x, cursor, can.baudrate, can[1].nRxFrames, can.reset, can.testDuration_sec >= 0\n"
      "freeze = 0\n");
  a.app->scripts().run();
  ticks({&a}, 2);
  EXPECT_FALSE(a.app->traffic().display().rxDisplayStopped);
  EXPECT_EQ(a.app->settings().display.showIdAsText[0], 0x100);
  EXPECT_EQ(a.app->settings().display.showIdAsText[1], static_cast<int>(0x12345u | CanFrame::kExtended));
  ASSERT_FALSE(a.ui.lines.empty());
  EXPECT_EQ(a.ui.lines.front(), "after clear 1");
  EXPECT_TRUE(a.ui.hasLine("0 -1 500 0 1 1"));
  // CANopen provides its words: a read without its arguments is refused as such.
  EXPECT_EQ(a.app->program().executeTextOnce("x := sdo.read"), kErrMissingArgument);
  EXPECT_TRUE(a.ui.hasLine("Error in assigned value: missing argument."));
  EXPECT_EQ(a.app->program().executeTextOnce("OpenWindow(\"x\")"), kErrNotImplemented);
  EXPECT_TRUE(a.ui.hasLine("\"OpenWindow\" is not available in this version of busprobe"));
}

// Frames a CAN-via-UDP server relays arrive with bus index 2 or 3; scripts find them as frames of
// bus 0 and 1.
TEST_F(ScriptRunTest, RelayedFramesCountAsTheirBusForWcanAndCanrx) {
  ScriptInstance a(locks, bus, clock, dirA.path());
  ticks({&a}, 6);
  a.setScript(
      "wcan(181, 2, 10, x)\n"
      "print \"got\", canrx(181, 8, U8), canrx(182, 0, U8, 99), canrx(40000182, 0, U8), "
      "canrx.update_latch(181), canrx.latch.count\n");
  a.app->scripts().run();
  ticks({&a}, 2);
  ASSERT_TRUE(a.app->program().waitingForFrame());
  CanFrame onBus1;
  onBus1.id = 0x182 | (3u << CanFrame::kBusShift);
  onBus1.length = 1;
  onBus1.data[0] = 0x55;
  bus->inject(onBus1);
  CanFrame onBus0;
  onBus0.id = 0x181 | (2u << CanFrame::kBusShift);
  onBus0.length = 2;
  onBus0.data[0] = 0x10;
  onBus0.data[1] = 0x42;
  bus->inject(onBus0);
  ticks({&a}, 3);
  EXPECT_FALSE(a.app->program().running());
  EXPECT_TRUE(a.ui.hasLine("got 66 99 85 1 1")) << (a.ui.lines.empty() ? "" : a.ui.lines.back());
}

TEST_F(ScriptRunTest, VariablesSurviveARestartWhenTheOptionIsOn) {
  {
    ScriptInstance a(locks, bus, clock, dirA.path());
    ticks({&a}, 6);
    ASSERT_EQ(a.app->program().executeTextOnce(
                  "Count := 5 : speed := 2.5 : Name := \"abc\" : Ratio := 3.14159265 : Any := XX"),
              0);
    a.app->shutDown(true);
  }
  {
    ScriptInstance a(locks, bus, clock, dirA.path());
    ticks({&a}, 6);
    InterpState& st = a.app->interpState();
    ASSERT_GE(st.findVariable("Count"), 0);
    EXPECT_EQ(st.variable(st.findVariable("Count")).value.i, 5);
    EXPECT_EQ(st.variable(st.findVariable("Name")).value.text(), "abc");
    EXPECT_DOUBLE_EQ(st.variable(st.findVariable("Ratio")).value.f, 3.14159);
    EXPECT_EQ(st.variable(st.findVariable("Any")).value.i, kDontCare);
    EXPECT_EQ(st.findVariable("speed"), -1);
    a.app->settings().interp.saveVarValues = 0;
    std::remove(a.app->scripts().variablesPath().c_str());
    a.app->shutDown(true);
    EXPECT_FALSE(std::ifstream(a.app->scripts().variablesPath()).good());
  }
  {
    // Switched off: nothing is read at start-up either.
    ScriptInstance a(locks, bus, clock, dirA.path());
    std::ofstream(a.app->scripts().variablesPath()) << "Count: ty=I32, va=9\r\n";
    ticks({&a}, 6);
    EXPECT_EQ(a.app->interpState().findVariable("Count"), -1);
  }
}

}  // namespace
}  // namespace busprobe
