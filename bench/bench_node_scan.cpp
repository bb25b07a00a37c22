// A node scan of IDs 1..127 between two application objects on one virtual bus on the real clock:
// one application's three SDO servers (nodes 5, 40 and 100) answer, every other ID costs the
// scanner's type timeout of 2 ticks. The time from START until the scan has finished.
#include <benchmark/benchmark.h>

#include <fstream>

#include "bench_support.h"

namespace busprobe {
namespace {

struct ScanPair {
  ScanPair() {
    // The scanner's own server would answer its own requests on the virtual bus.
    scanner->settings().sdo.serverEnable = 0;
    scanner->canopen().markSettingsChanged();
    const std::string eds = nodesApp.dir + "/node.eds";
    std::ofstream(eds) << "[FileInfo]\nFileName=node.eds\nEDSVersion=4.0\n\n[MandatoryObjects]\n"
                       << "SupportedObjects=1\n1=0x1000\n\n[1000]\nParameterName=Device type\nObjectType=0x7\n"
                       << "DataType=0x0007\nAccessType=ro\nDefaultValue=0x00020191\n\n[OptionalObjects]\n"
                       << "SupportedObjects=1\n1=0x1008\n\n[1008]\nParameterName=Device name\nObjectType=0x7\n"
                       << "DataType=0x0009\nAccessType=const\nDefaultValue=benchmark node\n";
    nodes->canopen().loadLocalDictionary(eds, false);
    nodes->settings().sdo.serverNodeId = 5;
    nodes->settings().sdo.moreServerNodeIds = {40, 100, 0, 0, 0, 0, 0};
    nodes->canopen().markSettingsChanged();
    scannerApp.ui.onEvents = [this] { nodes->ProcessReceivedFrames(); };
    scanner->tick();
    nodes->tick();
  }
  SteadyClock clock;
  std::shared_ptr<VirtualBus> bus = VirtualBus::create();
  bench::RunningApp scannerApp{clock, bus}, nodesApp{clock, bus};
  std::unique_ptr<Application>& scanner = scannerApp.app;
  std::unique_ptr<Application>& nodes = nodesApp.app;
};

void BM_NodeScanThreeNodes(benchmark::State& state) {
  for (auto _ : state) {
    state.PauseTiming();
    auto pair = std::make_unique<ScanPair>();
    state.ResumeTiming();
    NodeScanSession& scan = pair->scanner->nodeScan();
    scan.start();
    while (scan.active()) {
      pair->nodes->tick();
      pair->scanner->tick();
    }
    state.PauseTiming();
    const bool found = scan.scanner().found() == 3 && scan.scanner().lines().size() == 3 &&
                       scan.scanner().lines()[1] == "040 0x00020191 \"benchmark node\" ";
    pair.reset();
    state.ResumeTiming();
    if (!found) {
      state.SkipWithError("the three nodes were not all found");
      break;
    }
  }
}
BENCHMARK(BM_NodeScanThreeNodes)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace
}  // namespace busprobe
BENCHMARK_MAIN();
