// Dictionary files: loading the largest EDS of the collected device files (about 1000 entries in
// 1100 sections) into a dictionary, and saving that dictionary as a DCF. Goal for the load: under
// 20 ms.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "canopen/od_files.h"

namespace {

using namespace busprobe;

// The collected files sit beside the source tree, as the tests find them; BUSPROBE_TESTDATA_DIR
// in the environment names another place.
std::string TestDataDir() {
  if (const char* dir = std::getenv("BUSPROBE_TESTDATA_DIR")) return dir;
  std::string source = __FILE__;
  if (!source.empty() && source[0] != '/') {
    // Compiled from the build tree, which holds this program in its bench folder.
    std::error_code ec;
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
    source = (self.parent_path().parent_path() / source).string();
  }
  return source.substr(0, source.rfind("/bench/")) + "/../shared/testdata";
}

const std::string kLargestEds = TestDataDir() + "/eds/python-canopen_e35.eds";

struct Loaded {
  OdBlockPool pool;
  std::unique_ptr<ObjectDictionary> od = std::make_unique<ObjectDictionary>(pool);
  EdsFileInfo file;
  EdsDeviceInfo device;
  std::string problem;
};

void BM_LoadLargestEds(benchmark::State& state) {
  Loaded d;
  for (auto _ : state) {
    const bool ok = LoadDictionary(kLargestEds, d.file, d.device, *d.od, {}, d.problem);
    if (!ok) state.SkipWithError(("cannot load " + kLargestEds + ": " + d.problem).c_str());
    benchmark::DoNotOptimize(d.od->count());
  }
  state.counters["entries"] = d.od->count();
}
BENCHMARK(BM_LoadLargestEds)->Unit(benchmark::kMillisecond);

void BM_SaveAsDcf(benchmark::State& state) {
  Loaded d;
  if (!LoadDictionary(kLargestEds, d.file, d.device, *d.od, {}, d.problem)) {
    state.SkipWithError(("cannot load " + kLargestEds).c_str());
    return;
  }
  const std::string path = "/tmp/bench_dictionary_files_" + std::to_string(::getpid()) + ".dcf";
  for (auto _ : state) {
    if (!SaveDictionary(path, d.file, d.device, *d.od, {})) state.SkipWithError("cannot save");
  }
  std::remove(path.c_str());
}
BENCHMARK(BM_SaveAsDcf)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
