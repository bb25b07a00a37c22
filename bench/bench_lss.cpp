// LSS fast scan between two application objects on one virtual bus on the real clock: the time
// from START until one unconfigured built-in slave's identity is complete and the run has ended,
// with the default scan delay (5 ms) and with none.
#include <benchmark/benchmark.h>

#include "bench_support.h"

namespace busprobe {
namespace {

// Two running applications on one bus; the master's own built-in slave stays out of its scan.
struct LssPair {
  LssPair() { masterApp.app->settings().lss.slaveOptions = LssSettings::kSlaveDisabled; }
  SteadyClock clock;
  std::shared_ptr<VirtualBus> bus = VirtualBus::create();
  bench::RunningApp masterApp{clock, bus}, slaveApp{clock, bus};
  std::unique_ptr<Application>& master = masterApp.app;
  std::unique_ptr<Application>& slave = slaveApp.app;
};

void BM_LssFastScanOneSlave(benchmark::State& state) {
  LssMasterOptions options;
  options.masterOptions = kLssFastScan;
  options.scanDelayUs = static_cast<uint32_t>(state.range(0));
  for (auto _ : state) {
    state.PauseTiming();
    auto pair = std::make_unique<LssPair>();
    state.ResumeTiming();
    pair->master->lss().start(options);
    while (pair->master->lss().master().running()) {
      pair->slave->tick();
      pair->master->tick();
    }
    state.PauseTiming();
    const bool found = pair->master->lss().master().slaves().size() == 1 &&
                       pair->master->lss().master().slaves()[0].identity == pair->slave->lss().slave().identity();
    pair.reset();
    state.ResumeTiming();
    if (!found) {
      state.SkipWithError("the slave was not found");
      break;
    }
  }
}
BENCHMARK(BM_LssFastScanOneSlave)->Arg(5000)->Arg(0)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace
}  // namespace busprobe
BENCHMARK_MAIN();
