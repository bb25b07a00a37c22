// SDO transfers between two application objects on one virtual bus: the client's blocking wait
// pumps its own receive path and, through the event processing, the server's. Expedited reads
// per second, and segmented upload and download of a 2048-byte object in bytes per second.
#include <benchmark/benchmark.h>

#include <fstream>

#include "bench_support.h"

namespace busprobe {
namespace {

class PumpingUi : public UserInterface {
 public:
  void processEvents() override {
    if (other) other->ProcessReceivedFrames();
  }
  Application* other = nullptr;
};

struct SdoPair {
  SdoPair() : clientDir(bench::ScratchDir()), serverDir(bench::ScratchDir()) {
    std::filesystem::create_directories(serverDir + "/Objects");
    std::ofstream(serverDir + "/Objects/bench.eds")
        << "[FileInfo]\nFileName=bench.eds\n\n[MandatoryObjects]\nSupportedObjects=1\n1=0x1000\n\n"
           "[1000]\nParameterName=Device type\nObjectType=0x7\nDataType=0x0007\nAccessType=ro\n"
           "DefaultValue=0x191\n\n[ManufacturerObjects]\nSupportedObjects=1\n1=0x2000\n\n"
           "[2000]\nParameterName=Block\nObjectType=0x7\nDataType=0x000A\nAccessType=rw\n";
    server = make(serverUi, serverDir);
    client = make(clientUi, clientDir);
    clientUi.other = server.get();
    server->canopen().loadLocalDictionary("bench.eds", false);
    client->settings().sdo.clientNodeId = 2;   // the server's node
    client->settings().sdo.serverNodeId = 9;   // its own server stays out of the way
    client->canopen().applySettings();
  }
  ~SdoPair() {
    client->shutDown(false);
    server->shutDown(false);
    client.reset();
    server.reset();
    std::filesystem::remove_all(clientDir);
    std::filesystem::remove_all(serverDir);
  }
  std::unique_ptr<Application> make(UserInterface& ui, const std::string& dir) {
    AppOptions options;
    options.configDir = dir;
    options.lockDir = dir;
    options.virtualBus = bus;
    auto app = std::make_unique<Application>(ui, clock, options);
    app->startUp();
    while (!app->running()) app->tick();
    app->tick();
    return app;
  }
  SteadyClock clock;
  std::shared_ptr<VirtualBus> bus = VirtualBus::create();
  std::string clientDir, serverDir;
  PumpingUi serverUi, clientUi;
  std::unique_ptr<Application> server, client;
};

void BM_SdoExpeditedReads(benchmark::State& state) {
  SdoPair pair;
  SdoBlockingRequest read;
  read.nodeId = 2;
  read.index = 0x1000;
  read.dataType = 7;
  int64_t done = 0;
  for (auto _ : state) {
    if (RunBlockingTransfer(pair.client->sdoPort(), read) != SdoBlockingOutcome::kDone) {
      state.SkipWithError("read failed");
      break;
    }
    ++done;
  }
  state.counters["transfers/s"] = benchmark::Counter(static_cast<double>(done), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_SdoExpeditedReads);

void BM_SdoSegmented2048(benchmark::State& state) {
  SdoPair pair;
  uint8_t block[kSdoBufferSize];
  for (int i = 0; i < kSdoBufferSize; ++i) block[i] = static_cast<uint8_t>(i * 13);
  SdoBlockingRequest write;
  write.nodeId = 2;
  write.index = 0x2000;
  write.dataType = 10;
  write.download = true;
  write.block = block;
  write.blockLength = kSdoBufferSize;
  SdoBlockingRequest read = write;
  read.download = false;
  read.block = nullptr;
  read.blockLength = 0;
  const bool upload = state.range(0) == 0;
  if (RunBlockingTransfer(pair.client->sdoPort(), write) != SdoBlockingOutcome::kDone) {
    state.SkipWithError("write failed");
    return;
  }
  int64_t bytes = 0;
  for (auto _ : state) {
    if (RunBlockingTransfer(pair.client->sdoPort(), upload ? read : write) != SdoBlockingOutcome::kDone ||
        (upload && pair.client->canopen().sdo().client().blockLength != kSdoBufferSize)) {
      state.SkipWithError("transfer failed");
      break;
    }
    bytes += kSdoBufferSize;
  }
  state.SetBytesProcessed(bytes);
}
BENCHMARK(BM_SdoSegmented2048)->Arg(0)->Arg(1)->ArgNames({"download"});

}  // namespace
}  // namespace busprobe

BENCHMARK_MAIN();
