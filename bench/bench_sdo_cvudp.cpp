// SDO expedited reads over CAN-via-UDP between two processes on 127.0.0.1: a headless busprobe
// process relays its virtual bus and serves node 2 from a dictionary file; this process is a
// CAN-via-UDP client of it whose blocking client transfer reads the node's device type. Each read
// is two datagrams each way through the kernel (request out and relayed, answer back).
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <regex>
#include <string>
#include <thread>

#include "bench_support.h"

extern char** environ;

namespace busprobe {
namespace {

// The headless server process, its output in a file that is read for the bound port.
class ServerProcess {
 public:
  explicit ServerProcess(const std::string& dir) : dir_(dir) {
    std::filesystem::create_directories(dir + "/Objects");
    std::ofstream(dir + "/Objects/node.eds")
        << "[FileInfo]\nFileName=node.eds\n\n[MandatoryObjects]\nSupportedObjects=1\n1=0x1000\n\n"
           "[1000]\nParameterName=Device type\nObjectType=0x7\nDataType=0x0007\nAccessType=ro\n"
           "DefaultValue=0x191\n";
    std::ofstream(dir + "/NVK_Busprobe.ini")
        << "[CanInterface]\nCanInterfaceType=10\nCvUDP_flags=2\nCvUDP_LocalIP=127.0.0.1\n"
           "CvUDP_local_server_port=0\n[Directories]\nMyObjectDictionary=node.eds\n";
    const std::string out = dir + "/server.out";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    std::string binary = BUSPROBE_BINARY;
    std::string configDir = dir;
    char a0[] = "busprobe", a1[] = "--headless", a2[] = "--config-dir", a4[] = "--exit-after", a5[] = "600";
    char* argv[] = {a0, a1, a2, configDir.data(), a4, a5, nullptr};
    if (posix_spawn(&pid_, binary.c_str(), &actions, nullptr, argv, environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
  }
  ~ServerProcess() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      int status = 0;
      waitpid(pid_, &status, 0);
    }
  }
  // The port from the server's readiness line, 0 when it did not come within 30 s.
  int waitForPort() {
    const std::regex ready("CAN: Acting as SERVER for CAN-via-UDP on port ([0-9]+),");
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (pid_ > 0 && std::chrono::steady_clock::now() < until) {
      std::ifstream in(dir_ + "/server.out");
      std::string line;
      std::smatch m;
      while (std::getline(in, line))
        if (std::regex_search(line, m, ready)) return std::stoi(m[1]);
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return 0;
  }

 private:
  std::string dir_;
  pid_t pid_ = -1;
};

void BM_SdoExpeditedReadsOverCvUdp(benchmark::State& state) {
  const std::string serverDir = bench::ScratchDir(), clientDir = bench::ScratchDir();
  {
    ServerProcess server(serverDir);
    const int port = server.waitForPort();
    if (port == 0) {
      state.SkipWithError("the server process reported no port");
    } else {
      std::ofstream(clientDir + "/NVK_Busprobe.ini")
          << "[CanInterface]\nCanInterfaceType=1\nCvUDP_flags=1\nCvUDP_RemoteIP=127.0.0.1\n"
             "CvUDP_remote_server_port="
          << port
          << "\nCvUDP_LocalIP=127.0.0.1\nCvUDP_local_server_port=0\n[SdoSettings]\nClientNodeID=2\n"
             "ServerNodeID=9\nClientTimeout=2000\n";
      SteadyClock clock;
      bench::QuietUi ui;
      AppOptions options;
      options.configDir = clientDir;
      options.lockDir = clientDir;
      Application client(ui, clock, options);
      client.startUp();
      while (!client.running()) client.tick();
      SdoBlockingRequest read;
      read.nodeId = 2;
      read.index = 0x1000;
      read.dataType = 7;
      read.timeoutMs = 2000;
      // The first read also waits for the link to come up.
      bool linked = false;
      for (int attempt = 0; attempt < 50 && !linked; ++attempt) {
        client.tick();
        linked = RunBlockingTransfer(client.sdoPort(), read) == SdoBlockingOutcome::kDone;
      }
      if (!linked) state.SkipWithError("no answer from the server's node");
      int64_t done = 0;
      for (auto _ : state) {
        if (!linked) break;
        if (RunBlockingTransfer(client.sdoPort(), read) != SdoBlockingOutcome::kDone) {
          state.SkipWithError("read failed");
          break;
        }
        ++done;
      }
      state.counters["transfers/s"] = benchmark::Counter(static_cast<double>(done), benchmark::Counter::kIsRate);
      client.shutDown(false);
    }
  }
  std::filesystem::remove_all(serverDir);
  std::filesystem::remove_all(clientDir);
}
BENCHMARK(BM_SdoExpeditedReadsOverCvUdp)->UseRealTime()->MinTime(2.0);

}  // namespace
}  // namespace busprobe

BENCHMARK_MAIN();
