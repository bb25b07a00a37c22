#include "qtcan_test_support.h"

namespace busprobe::qtcan_test {

namespace {

// The runtime must outlive every back-end and go before the process ends, while Qt is still
// whole: a test environment is torn down right after the last test.
class RuntimeEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    runtime = std::make_unique<QtCanBusRuntime>();
    port = FreeTcpPort();
  }
  void TearDown() override { runtime.reset(); }

  std::unique_ptr<QtCanBusRuntime> runtime;
  int port = 0;
};

RuntimeEnvironment* const environment =
    static_cast<RuntimeEnvironment*>(::testing::AddGlobalTestEnvironment(new RuntimeEnvironment));

}  // namespace

QtCanBusRuntime& Runtime() {
  return *environment->runtime;
}

std::string VirtualCanName(int channel) {
  return "tcp://127.0.0.1:" + std::to_string(environment->port) + "/can" + std::to_string(channel);
}

}  // namespace busprobe::qtcan_test
