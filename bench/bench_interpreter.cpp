// Interpreter speed: statements per second of a plain loop, canrx lookups over a full receive
// history, and the spacing of paced frame lines on the real clock.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "bench_support.h"
#include "base/clock.h"
#include "interp/script_program.h"
#include "interp/text_script_host.h"

namespace busprobe {
namespace {

// A repeat..until loop of assignments and arithmetic; each loop pass is six statements.
void BM_StatementsPerSecond(benchmark::State& state) {
  SteadyClock clock;
  InterpState vars;
  TextScriptHost host(clock);
  ScriptProgram program(vars, host);
  program.setConfiguredTxDelayMs(0);
  host.setText(
      "i := 0 : sum := 0\n"
      "repeat\n"
      "  a := i * 3 + 7\n"
      "  b := a % 11 - 2 : sum := sum + b\n"
      "  i := i + 1\n"
      "until i >= 1000000000\n");
  program.run();
  int64_t statements = 0;
  for (auto _ : state) {
    // Four lines per pass: "a := ..", "b := .. : sum := ..", "i := ..", "until": 5 statements.
    for (int k = 0; k < 1000; ++k) program.step();
    statements += 1000;
  }
  state.counters["lines/s"] =
      benchmark::Counter(static_cast<double>(statements), benchmark::Counter::kIsRate);
  state.counters["statements/s"] =
      benchmark::Counter(static_cast<double>(statements) * 5.0 / 4.0, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_StatementsPerSecond);

// canrx over a full 4096-frame history of distinct identifiers, looking up the oldest one.
void BM_CanrxLookupFullHistory(benchmark::State& state) {
  SteadyClock clock;
  auto bus = VirtualBus::create();
  bench::RunningApp running(clock, bus);
  Application& app = *running.app;
  for (uint32_t i = 0; i < ReceiveHistory::kSize; ++i) {
    CanFrame f;
    f.id = 0x100 + i;  // 0x100 .. 0x10FF: the upper ones are extended
    if (f.id > 0x7FF) f.id |= CanFrame::kExtended;
    f.length = 8;
    f.data[1] = static_cast<uint8_t>(i);
    app.TransmitFrame(f, 0);
    if ((i & 255) == 255) app.ProcessReceivedFrames(1000);
  }
  while (app.ProcessReceivedFrames(1000) > 0) {
  }
  ExpressionEvaluator& eval = app.program().evaluator();
  int64_t lookups = 0;
  for (auto _ : state) {
    ScriptCursor c("canrx(100, 8, U16)");
    const ScriptValue v = eval.evaluate(c);
    benchmark::DoNotOptimize(v.i);
    if (c.error != 0) state.SkipWithError("canrx failed");
    ++lookups;
  }
  state.counters["lookups/s"] = benchmark::Counter(static_cast<double>(lookups), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_CanrxLookupFullHistory);

// 1,000 paced frame lines at 10 ms on the real clock, driven as the headless runner drives a
// script: a 40 ms slice every 50 ms tick and a 1 ms slice from the 1 ms timer in between. The
// host stamps each frame when it is handed to the send path.
void BM_PacedFrameSpacing(benchmark::State& state) {
  SteadyClock clock;
  double meanGap = 0, maxGap = 0, minGap = 0;
  for (auto _ : state) {
    InterpState vars;
    TextScriptHost host(clock);
    ScriptProgram program(vars, host);
    host.setText("tx_interval 0.01\ni := 0\nrepeat\n  123 (i & 0xFF)\n  i := i + 1\nuntil i >= 1000\n");
    program.run();
    double nextTick = clock.nowMs();
    while (program.running()) {
      const double now = clock.nowMs();
      if (now >= nextTick) {
        program.runSlice(now * 0.001 + 0.04);
        nextTick += 50.0;
        if (nextTick < clock.nowMs()) nextTick = clock.nowMs();
      } else {
        program.runTimerSlice();
        clock.sleepMs(std::min(1.0, nextTick - clock.nowMs()));
      }
    }
    const auto& sent = host.sent;
    if (sent.size() != 1000) state.SkipWithError("not all frames were sent");
    minGap = 1e9;
    maxGap = 0;
    for (std::size_t i = 1; i < sent.size(); ++i) {
      const double gap = sent[i].timeMs - sent[i - 1].timeMs;
      maxGap = std::max(maxGap, gap);
      minGap = std::min(minGap, gap);
    }
    meanGap = (sent.back().timeMs - sent.front().timeMs) / static_cast<double>(sent.size() - 1);
  }
  state.counters["mean_gap_ms"] = meanGap;
  state.counters["max_gap_ms"] = maxGap;
  state.counters["min_gap_ms"] = minGap;
}
BENCHMARK(BM_PacedFrameSpacing)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace
}  // namespace busprobe
BENCHMARK_MAIN();
