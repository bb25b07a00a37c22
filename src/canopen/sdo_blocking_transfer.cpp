#include "canopen/sdo_blocking_transfer.h"

#include <algorithm>
#include <cstring>

#include "canopen/sdo_settings.h"

namespace busprobe {

SdoBlockingOutcome RunBlockingTransfer(SdoClientPort& port, const SdoBlockingRequest& request) {
  SdoChannel& ch = port.client();
  ch.txCobId = static_cast<uint16_t>(0x600 + request.nodeId);
  ch.rxCobId = static_cast<uint16_t>(0x580 + request.nodeId);
  ch.index = request.index;
  ch.subIndex = request.subIndex;
  ch.dataType = request.dataType;
  ch.isDownload = request.download ? 1 : 0;
  ch.rawValue = 0;
  ch.timeoutTicks = SdoTimeoutTicks(request.timeoutMs);
  ch.abortCode = 0;
  ch.blockLength = 0;
  if (request.download) {
    if (request.blockLength > 0 && request.block != nullptr) {
      ch.blockLength = std::min<int32_t>(request.blockLength, kSdoBufferSize);
      std::memcpy(ch.buffer, request.block, static_cast<size_t>(ch.blockLength));
    } else {
      std::memcpy(ch.value, request.value, sizeof ch.value);
      ch.valueSize = request.valueSize;
    }
  }
  if (!port.InitTransfer()) return SdoBlockingOutcome::kNotStarted;

  bool& busy = port.sdoAccessBusy();
  const bool wasBusy = busy;
  busy = true;
  const int waited = port.SdoWaitForCompletion(request.timeoutMs);
  busy = wasBusy;
  if (waited == -17) return SdoBlockingOutcome::kNotReady;
  if (ch.busy()) {
    // The caller gives up on this transfer: a late answer must not complete it afterwards. (The
    // client's own timer counts one tick more than the wait, so it is usually still running.)
    ch.state = kSdoFailed;
    return SdoBlockingOutcome::kTimedOut;
  }
  if (ch.state == kSdoFinished && ch.abortCode == 0) return SdoBlockingOutcome::kDone;
  if (ch.abortCode != 0) return SdoBlockingOutcome::kAborted;
  return ch.timer == 0 ? SdoBlockingOutcome::kTimedOut : SdoBlockingOutcome::kFailed;
}

}  // namespace busprobe
