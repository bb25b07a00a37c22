// The receive pump with no consumers, and headless start-up to the first running tick.
#include <benchmark/benchmark.h>

#include "bench_support.h"

namespace busprobe {
namespace {

using bench::QuietUi;
using bench::ScratchDir;

void BM_ProcessReceivedFrames(benchmark::State& state) {
  ManualClock clock;
  auto bus = VirtualBus::create();
  bench::RunningApp running(clock, bus);
  Application& app = *running.app;

  CanFrame frame;
  frame.id = 0x123;
  frame.length = 8;
  constexpr int kBatch = 20000;
  int64_t frames = 0;
  for (auto _ : state) {
    state.PauseTiming();
    for (int i = 0; i < kBatch; ++i) {
      frame.data[0] = static_cast<uint8_t>(i);
      bus->inject(frame);
    }
    state.ResumeTiming();
    int n;
    while ((n = app.ProcessReceivedFrames(500)) > 0) frames += n;
  }
  state.counters["frames/s"] = benchmark::Counter(static_cast<double>(frames), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_ProcessReceivedFrames)->Unit(benchmark::kMillisecond);

// Real time from creating the application to its first running tick, with the 50 ms tick.
void BM_HeadlessStartupToFirstRunningTick(benchmark::State& state) {
  const std::string dir = ScratchDir();
  for (auto _ : state) {
    SteadyClock clock;
    QuietUi ui;
    AppOptions options;
    options.configDir = dir;
    options.lockDir = dir;
    const double start = clock.nowMs();
    Application app(ui, clock, options);
    app.startUp();
    double next = clock.nowMs();
    for (;;) {
      const bool wasRunning = app.running();
      app.tick();
      if (wasRunning) break;  // that was the first running tick
      next += Application::kTickMs;
      clock.sleepMs(next - clock.nowMs());
    }
    state.SetIterationTime((clock.nowMs() - start) / 1000.0);
    app.shutDown(false);
  }
  std::filesystem::remove_all(dir);
}
BENCHMARK(BM_HeadlessStartupToFirstRunningTick)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(5);

}  // namespace
}  // namespace busprobe

BENCHMARK_MAIN();
