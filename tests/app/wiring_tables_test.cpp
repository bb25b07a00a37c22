#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/frame_consumers.h"
#include "app/run_loop.h"
#include "app/tick_steps.h"

namespace busprobe {
namespace {

TEST(FrameConsumerTable, DeliversInSlotOrderWhateverTheWiringOrderAndKeepsOneOwnerPerPlace) {
  FrameConsumerTable table;
  std::string seen;
  EXPECT_TRUE(table.install(FrameConsumerSlot::kLog, [&](const CanFrame&) { seen += "log "; }));
  EXPECT_TRUE(table.install(FrameConsumerSlot::kScriptSlice, [&](const CanFrame&) { seen += "slice "; }));
  EXPECT_TRUE(table.install(FrameConsumerSlot::kScriptWait, [&](const CanFrame&) { seen += "wait "; }));
  EXPECT_TRUE(
      table.install(FrameConsumerSlot::kSdo, [&](const CanFrame& f) { seen += std::to_string(f.id) + " "; }));
  // A second owner of a place would silently share its frames: refused, the first one stays.
  EXPECT_FALSE(table.install(FrameConsumerSlot::kLog, [&](const CanFrame&) { seen += "intruder "; }));
  EXPECT_FALSE(table.install(FrameConsumerSlot::kTrigger, nullptr));
  EXPECT_FALSE(table.installed(FrameConsumerSlot::kTrigger));
  EXPECT_TRUE(table.installed(FrameConsumerSlot::kSdo));

  CanFrame frame;
  frame.id = 0x581;
  table.deliver(frame);
  EXPECT_EQ(seen, "wait log 1409 slice ");
}

TEST(TickStepTable, RunsTheStepsInTheirFixedOrder) {
  TickStepTable table;
  std::vector<std::string> order;
  table.install(TickSlot::kErrorFrames, [&](const TickContext&) { order.push_back("error frames"); });
  table.install(TickSlot::kReceive,
                [&](const TickContext& t) { order.push_back("receive " + std::to_string(t.phase)); });
  table.install(TickSlot::kScript, [&](const TickContext&) { order.push_back("script"); });
  EXPECT_FALSE(table.install(TickSlot::kScript, [&](const TickContext&) { order.push_back("again"); }));
  table.run(TickContext{100.0, 3});
  EXPECT_EQ(order, (std::vector<std::string>{"receive 3", "script", "error frames"}));
}

TEST(RunLoop, RunsWhatIsDueInOrderAndTellsWhenTheNextJobIsDue) {
  ManualClock clock(1000);
  RunLoop loop(clock);
  std::vector<std::string> ran;
  double tickDue = 1000, playerDue = RunLoop::kNever;
  ASSERT_TRUE(loop.install(RunJob::kPlayer, {[&] { return playerDue; },
                                             [&](double now) {
                                               ran.push_back("player");
                                               playerDue = now + 5;
                                             }}));
  ASSERT_TRUE(loop.install(RunJob::kTick, {[&] { return tickDue; },
                                           [&](double now) {
                                             ran.push_back("tick");
                                             tickDue = now + 50;
                                             playerDue = now;  // the tick started a replay
                                           }}));
  EXPECT_FALSE(loop.install(RunJob::kTick, {[] { return 0.0; }, [](double) {}}));
  EXPECT_FALSE(loop.install(RunJob::kScriptTimer, {nullptr, [](double) {}}));

  // The tick comes first in the order, so the replay it started gets its first step at once.
  EXPECT_EQ(loop.runDue(), 1005);
  EXPECT_EQ(ran, (std::vector<std::string>{"tick", "player"}));
  ran.clear();
  EXPECT_EQ(loop.runDue(), 1005) << "nothing is due before its time";
  EXPECT_TRUE(ran.empty());
  clock.advance(5);
  EXPECT_EQ(loop.runDue(), 1010);
  EXPECT_EQ(ran, (std::vector<std::string>{"player"}));
  playerDue = RunLoop::kNever;
  EXPECT_EQ(loop.nextDueMs(), 1050);
}

TEST(RunLoop, APassStartedFromInsideAJobReturnsWithoutRunningAnything) {
  ManualClock clock;
  RunLoop loop(clock);
  int runs = 0;
  loop.install(RunJob::kTick, {[] { return 0.0; },
                               [&](double) {
                                 ++runs;
                                 loop.runDue();  // a job that lets windows process their events
                               }});
  loop.runDue();
  EXPECT_EQ(runs, 1);
}

}  // namespace
}  // namespace busprobe
