// The Rx pane on a saturated bus: 20,000 short frames per second arrive, so every 50 ms tick
// brings 1000 of them, in history mode with MaxWindowLines 10000. Measured: the whole tick (pump,
// text lines, list, pane refresh and the repaint that follows) and the pane's part alone, with the
// resident memory after the run to show that it stays flat.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <filesystem>
#include <fstream>
#include <string>

#include "app/application.h"
#include "gui/gui_user_interface.h"
#include "gui/main_window.h"

namespace busprobe {
namespace {

constexpr int kFramesPerTick = 1000;  // 20,000 frames/s at one tick per 50 ms

std::string ScratchDir() {
  std::string tmpl = (std::filesystem::temp_directory_path() / "busprobe-bench-XXXXXX").string();
  return mkdtemp(tmpl.data());
}

double ResidentMegabytes() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind("VmRSS:", 0) == 0) return std::stod(line.substr(6)) / 1024.0;
  return 0.0;
}

// One program with its main window on a virtual bus that a foreign node floods.
struct Flooded {
  Flooded() : dir(ScratchDir()), bus(VirtualBus::create()) {
    AppOptions options;
    options.configDir = dir;
    options.lockDir = dir;
    options.virtualBus = bus;
    app = std::make_unique<Application>(ui, clock, options);
    app->startUp();
    app->settings().display.maxWindowLines = 10000;
    app->settings().display.rxTxCombined = 0;
    window = std::make_unique<MainWindow>(*app);
    ui.attach(window.get());
    window->resize(1000, 750);
    window->show();
    while (!app->running()) tick();
  }
  ~Flooded() {
    ui.detach();
    window.reset();
    app.reset();
    std::filesystem::remove_all(dir);
  }
  void tick() {
    clock.advance(50);
    app->tick();
  }
  void inject(int n) {
    CanFrame frame;
    frame.length = 2;
    for (int i = 0; i < n; ++i) {
      frame.id = 0x100 + static_cast<uint32_t>(next++ % 0x600);
      frame.data[0] = static_cast<uint8_t>(next);
      frame.data[1] = static_cast<uint8_t>(next >> 8);
      bus->inject(frame);
    }
  }

  std::string dir;
  std::shared_ptr<VirtualBus> bus;
  ManualClock clock;
  GuiUserInterface ui;
  std::unique_ptr<Application> app;
  std::unique_ptr<MainWindow> window;
  uint32_t next = 0;
};

void BM_GuiTickSaturatedBus(benchmark::State& state) {
  Flooded f;
  for (auto _ : state) {
    state.PauseTiming();
    f.inject(kFramesPerTick);
    state.ResumeTiming();
    f.tick();
    QCoreApplication::processEvents();  // the repaint of the pane
  }
  state.SetItemsProcessed(state.iterations() * kFramesPerTick);
  state.counters["rows"] = static_cast<double>(f.window->rxPane()->model()->rowCount());
  state.counters["rss_MB"] = ResidentMegabytes();
}
BENCHMARK(BM_GuiTickSaturatedBus)->Unit(benchmark::kMillisecond)->MinTime(3.0);

// The pane's share: the list already holds the tick's lines; only the refresh and the repaint.
void BM_RxPaneRefreshPerTick(benchmark::State& state) {
  Flooded f;
  FrameList& list = f.app->traffic().rxList();
  char line[64];
  uint32_t t = 0;
  for (auto _ : state) {
    state.PauseTiming();
    for (int i = 0; i < kFramesPerTick; ++i, ++t) {
      const int n = std::snprintf(line, sizeof line, "%08u: %03X %02X %02X                   ", t,
                                  0x100 + (t % 0x600), t & 0xFF, (t >> 8) & 0xFF);
      list.add(kListHistory, 10000, 0, t, std::string_view(line, static_cast<size_t>(n)));
    }
    state.ResumeTiming();
    f.window->refreshFrameList(TrafficPaths::kRxList);
    QCoreApplication::processEvents();
  }
  state.SetItemsProcessed(state.iterations() * kFramesPerTick);
  state.counters["rss_MB"] = ResidentMegabytes();
}
BENCHMARK(BM_RxPaneRefreshPerTick)->Unit(benchmark::kMillisecond)->MinTime(3.0);

}  // namespace
}  // namespace busprobe

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication qapp(argc, argv);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
