// Sustained reception in real time: a feeder thread puts frames on both buses of the virtual bus
// at a fixed rate (1 ms bursts, as two saturated buses deliver them), while the application runs
// its own run loop on the real clock with the recorder writing a text log. Reports the rate
// received and the frames lost (fed but never received, shown, counted and logged). Goal: 45,000
// frames/s on two buses without loss. Each rate runs BUSPROBE_SUSTAIN_SECONDS (default 5; 60 for
// the full check).
#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <thread>

#include "bench_support.h"

namespace busprobe {
namespace {

double SustainSeconds() {
  const char* text = std::getenv("BUSPROBE_SUSTAIN_SECONDS");
  const double s = text ? std::atof(text) : 0;
  return s > 0 ? s : 5.0;
}

void BM_SustainedReceptionWithLog(benchmark::State& state) {
  const int ratePerSecond = static_cast<int>(state.range(0));
  const double seconds = SustainSeconds();
  for (auto _ : state) {
    SteadyClock clock;
    auto bus = VirtualBus::create();
    bench::RunningApp running(clock, bus);
    Application& app = *running.app;
    app.logger().OpenLogFile(running.dir + "/sustained.txt");
    const int64_t receivedBefore = app.traffic().statistics().receivedTotal();

    std::atomic<bool> feeding{true};
    std::atomic<int64_t> fed{0};
    std::thread feeder([&] {
      using namespace std::chrono;
      const auto start = steady_clock::now();
      CanFrame frame;
      frame.length = 8;
      int64_t n = 0;
      for (int64_t ms = 1; feeding.load(); ++ms) {
        const int64_t due = ratePerSecond * ms / 1000;
        for (; n < due; ++n) {
          frame.id = 0x100 + static_cast<uint32_t>(n % 256);
          frame.setBus(static_cast<int>(n & 1));
          frame.data[0] = static_cast<uint8_t>(n);
          bus->inject(frame);
        }
        fed.store(n);
        std::this_thread::sleep_until(start + milliseconds(ms));
      }
    });

    const double endMs = clock.nowMs() + seconds * 1000.0;
    while (clock.nowMs() < endMs) {
      const double next = app.runLoop().runDue();
      clock.waitUntilMs(std::min(next, endMs));
    }
    feeding.store(false);
    feeder.join();
    // What is still queued is not lost: let the loop take it in.
    const double drainEndMs = clock.nowMs() + 500.0;
    while (clock.nowMs() < drainEndMs) clock.waitUntilMs(app.runLoop().runDue());

    const int64_t received = app.traffic().statistics().receivedTotal() - receivedBefore;
    state.counters["fed/s"] = static_cast<double>(fed.load()) / seconds;
    state.counters["received/s"] = static_cast<double>(received) / seconds;
    state.counters["lost"] = static_cast<double>(fed.load() - received);
    app.logger().CloseLogFile();
  }
}
BENCHMARK(BM_SustainedReceptionWithLog)
    ->Arg(45000)
    ->Arg(90000)
    ->Arg(180000)
    ->Iterations(1)
    ->UseRealTime()
    ->Unit(benchmark::kSecond);

}  // namespace
}  // namespace busprobe

BENCHMARK_MAIN();
