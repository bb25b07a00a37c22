#include "app/sdo_wait_port.h"

namespace busprobe {

namespace {
// How long a wait takes frames without resting.
constexpr double kSpinMs = 2.0;
}  // namespace

int Application::SdoWaitPort::SdoWaitForCompletion(int timeoutMs) {
  if (!app_.running() || app_.shutDown_) return -17;
  Clock& clock = app_.clock_;
  SdoEngine& sdo = app_.canopen_->sdo();
  const SdoChannel& ch = sdo.client();
  ++depth_;
  const bool nested = depth_ > 1;
  double startMs = clock.nowMs();
  uint64_t readoutBlocks = app_.canopen_->readoutBytes() / 256;
  int result = 0;
  while (ch.busy()) {
    app_.pumpFromWait();
    if (!nested) app_.ui_.processEvents();
    const double now = clock.nowMs();
    sdo.SdoTimeoutTick(now);
    if (!ch.busy()) break;
    const uint64_t blocks = app_.canopen_->readoutBytes() / 256;
    if (blocks != readoutBlocks) {
      readoutBlocks = blocks;
      startMs = now;
    }
    if (now - startMs >= timeoutMs || now < startMs) {
      result = -16;
      break;
    }
    // Most answers come within a few milliseconds and are taken at once; a wait that lasts longer
    // (a node that is not there, a slow device) rests 1 ms a round so it does not spin a core
    // for the whole timeout. Never inside the receive pump, which holds the CAN lock a server's
    // relay thread needs.
    if (now - startMs >= kSpinMs && !app_.inPump_) clock.sleepMs(1);
  }
  --depth_;
  return result;
}

}  // namespace busprobe
