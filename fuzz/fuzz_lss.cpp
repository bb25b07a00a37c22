// Random frames into the LSS master and the built-in slave at random steps: the master starts with
// random options, the slave's answers and the input's own frames interleave with clock steps and
// steps of the master. Nothing may crash, the master's list never outgrows its limit, and every
// LSS frame either side sends has the LSS shape.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <deque>

#include "base/clock.h"
#include "canopen/lss_explainer.h"
#include "canopen/lss_master.h"
#include "canopen/lss_slave.h"

using namespace busprobe;

namespace {

void CheckSent(const CanFrame& f) {
  const uint32_t id = f.identifier();
  if ((id == kLssMasterToSlaveId || id == kLssSlaveToMasterId) && f.length != 8) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  size_t pos = 0;
  auto byte = [&]() -> uint8_t { return pos < size ? data[pos++] : 0; };
  ManualClock clock;
  std::deque<CanFrame> bus;
  auto put = [&bus](CanFrame& f) {
    CheckSent(f);
    if (bus.size() < 4096) bus.push_back(f);
    return true;
  };
  LssMasterState master(clock, put);
  LssSlaveState slave(clock, put);
  LssIdentity identity;
  for (uint32_t& part : identity.part) part = static_cast<uint32_t>(byte() | byte() << 8 | byte() << 16 | byte() << 24);
  slave.setIdentity(identity);
  LssMasterOptions options;
  options.masterOptions = byte();
  options.wantedFirstNodeId = byte();
  options.wantedBitRateKbit = byte() * 8;
  options.scanDelayUs = byte() * 100u;
  master.LssMasterStart(options);
  while (pos < size) {
    switch (byte() % 5) {
      case 0: {  // a frame of the input
        CanFrame f;
        const uint8_t kind = byte();
        f.id = kind < 128 ? kLssSlaveToMasterId : kind < 200 ? kLssMasterToSlaveId : 0x700u + byte();
        f.length = static_cast<uint8_t>(byte() % 9);
        for (int i = 0; i < 8; ++i) f.data[i] = byte();
        bus.push_back(f);
        break;
      }
      case 1:
        clock.advance(byte());
        break;
      case 2:
        master.LssMasterStep();
        break;
      case 3:
        slave.tick();
        break;
      default:
        break;
    }
    for (int n = 0; n < 64 && !bus.empty(); ++n) {
      const CanFrame f = bus.front();
      bus.pop_front();
      char comment[80];
      ExplainLssFrame(f, false, comment, sizeof comment);
      slave.handleFrame(f);
      if (master.LssHandleFrame(f)) master.LssMasterStep();
    }
    if (master.slaves().size() > static_cast<size_t>(LssMasterState::kMaxSlaves)) std::abort();
    (void)master.resultLines();
    (void)master.infoLine(500);
  }
  return 0;
}
