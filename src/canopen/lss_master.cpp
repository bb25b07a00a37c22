#include "canopen/lss_master.h"

#include <cstdio>

namespace busprobe {
namespace {

constexpr double kCollectMs = 2000.0;
constexpr double kResponseMs = 500.0;
// A slave that keeps answering the reset query but never confirms its identity would keep the
// scan going for ever.
constexpr int kMaxFailedConfirmations = 3;

const char* Plural(int n) { return n == 1 ? "" : "s"; }

std::string Format(const char* format, int a, int b = 0) {
  char text[96];
  std::snprintf(text, sizeof text, format, a, b);
  return text;
}

}  // namespace

int LssBitTimingIndex(int kbit) {
  switch (kbit) {
    case 1000: return 0;
    case 800: return 1;
    case 500: return 2;
    case 250: return 3;
    case 125: return 4;
    case 100: return 5;
    case 50: return 6;
    default: return -1;
  }
}

LssMasterState::LssMasterState(Clock& clock, Transmit transmit)
    : clock_(clock), transmit_(std::move(transmit)) {}

void LssMasterState::send(CanFrame frame) {
  stopwatchMs_ = clock_.nowMs();
  if (transmit_) transmit_(frame);
}

void LssMasterState::setStep(int step) {
  if (step != step_) ++changes_;
  step_ = step;
}

void LssMasterState::LssMasterStart(const LssMasterOptions& options) {
  options_ = options;
  if (options_.wantedFirstNodeId < 1) options_.wantedFirstNodeId = 1;  // node 0 is no node
  slaves_.clear();
  error_.clear();
  failedConfirmations_ = 0;
  stopwatchMs_ = clock_.nowMs();
  setStep(1);
}

void LssMasterState::startFastScanRound() {
  stopwatchMs_ = clock_.nowMs();
  if (options_.masterOptions & kLssClassicScan) {
    setStep(kFinished);  // the switch-selective scan has no procedure here
  } else if ((options_.masterOptions & kLssFastScan) && static_cast<int>(slaves_.size()) < kMaxSlaves) {
    index_ = static_cast<int>(slaves_.size());
    building_ = LssIdentity{};
    bitCheck_ = kLssFastscanReset;
    lssSub_ = 0;
    lssNext_ = 0;
    value_ = 0;
    ++changes_;
    setStep(7);
  } else {
    setStep(kFinished);
  }
}

void LssMasterState::requestIdentityPart() {
  CanFrame frame;
  frame.id = 0x600u + slaves_[static_cast<size_t>(index_)].nodeId;
  frame.length = 8;
  frame.data[0] = 0x40;
  frame.data[1] = 0x18;
  frame.data[2] = 0x10;
  frame.data[3] = static_cast<uint8_t>(identitySub_);
  responseSeen_ = false;
  send(frame);
}

uint8_t LssMasterState::freeNodeId() const {
  for (int id = options_.wantedFirstNodeId + index_; id < 127; ++id) {
    bool taken = false;
    for (const LssFoundSlave& s : slaves_) taken = taken || s.nodeId == id || s.initialNodeId == id;
    if (!taken) return static_cast<uint8_t>(id);
  }
  return 127;
}

void LssMasterState::evaluateFastscan() {
  if (bitCheck_ == kLssFastscanReset) {
    if (!responseSeen_) {
      setStep(kFinished);  // no unconfigured slave left
      return;
    }
    bitCheck_ = 31;
    value_ = 0;
  } else if (bitCheck_ >= 0) {
    if (!responseSeen_) value_ |= 1u << bitCheck_;
    if (bitCheck_ > 0) {
      --bitCheck_;
    } else {
      bitCheck_ = -1;
      building_.part[lssSub_] = value_;
      lssNext_ = lssSub_ == 3 ? 0 : lssSub_ + 1;
    }
  } else {
    if (!responseSeen_) {
      // Nobody confirmed the identity: a frame was lost or the slave went away. Counting it would
      // configure a device that is not there; scan the round again instead.
      if (++failedConfirmations_ >= kMaxFailedConfirmations) {
        error_ = "Got no response for 'Fastscan' confirmation";
        setStep(kStopped);
      } else {
        startFastScanRound();
      }
      return;
    }
    failedConfirmations_ = 0;
    if (lssSub_ == 3) {
      LssFoundSlave slave;
      slave.identity = building_;
      slaves_.push_back(slave);
      ++changes_;
      setStep(9);
      return;
    }
    ++lssSub_;
    lssNext_ = lssSub_;
    bitCheck_ = 31;
    value_ = 0;
  }
  ++changes_;
  setStep(7);
}

bool LssMasterState::waitResponse(uint8_t command, const char* errorFormat, const char* what, int nextStep) {
  if (responseCommand_ == command) {
    if (responseError_ == 0) {
      setStep(nextStep);
      return true;
    }
    error_ = Format(errorFormat, responseError_, responseSpecificError_);
    setStep(kStopped);
    return false;
  }
  if (elapsedMs() >= kResponseMs) {
    error_ = std::string("Got no response for '") + what + "'";
    setStep(kStopped);
  }
  return false;
}

void LssMasterState::LssMasterStep() {
  if (inStep_) return;
  inStep_ = true;
  for (bool again = true; again;) {
    again = false;
    switch (step_) {
      case 1:
        index_ = 0;
        if (options_.masterOptions & kLssFindConfigured) {
          CanFrame reset;
          reset.id = 0;
          reset.length = 2;
          reset.data[0] = 0x81;
          send(reset);
          setStep(2);
        } else {
          setStep(4);
          again = true;
        }
        break;
      case 2:
        if (elapsedMs() < kCollectMs) break;
        if (slaves_.empty()) {
          setStep(4);
        } else {
          index_ = 0;
          identitySub_ = 1;
          setStep(3);
          requestIdentityPart();
        }
        again = step_ == 4;
        break;
      case 3:
        if (!responseSeen_ && elapsedMs() < kResponseMs) break;
        if (++identitySub_ > 4) {
          identitySub_ = 1;
          ++index_;
        }
        if (index_ >= static_cast<int>(slaves_.size())) {
          setStep(4);
          again = true;
        } else {
          requestIdentityPart();
        }
        break;
      case 15: {
        // The slave just configured would otherwise take the next slave's node ID as well.
        CanFrame waiting = LssFrame(kLssMasterToSlaveId, kLssSwitchStateGlobal);
        send(waiting);
        startFastScanRound();
        again = step_ == 7;
        break;
      }
      case 4:
        startFastScanRound();
        again = step_ == 7;
        break;
      case 5:
      case 6:
        setStep(kFinished);
        break;
      case 7: {
        CanFrame frame = LssFrame(kLssMasterToSlaveId, kLssFastscan);
        LssSetData32(frame, 1, bitCheck_ == kLssFastscanReset ? 0 : value_);
        frame.data[5] = static_cast<uint8_t>(bitCheck_ < 0 ? 0 : bitCheck_);
        frame.data[6] = static_cast<uint8_t>(lssSub_);
        frame.data[7] = static_cast<uint8_t>(lssNext_);
        responseSeen_ = false;
        queryFresh_ = true;
        setStep(8);
        send(frame);
        break;  // the answer needs time, even with no scan delay
      }
      case 8:
        if (elapsedMs() * 1000.0 < options_.scanDelayUs) break;
        // Without a delay the query may have gone out from this very receive pass: silence counts
        // only from the next pass on, or every bit would read as 1.
        if (!responseSeen_ && queryFresh_ && options_.scanDelayUs == 0) {
          queryFresh_ = false;
          break;
        }
        evaluateFastscan();
        again = step_ == 7 || step_ == 9 || step_ == kFinished;
        break;
      case 9:
        if (options_.masterOptions & kLssAssignNodeIds) {
          newNodeId_ = freeNodeId();
          CanFrame frame = LssFrame(kLssMasterToSlaveId, kLssConfigureNodeId);
          frame.data[1] = newNodeId_;
          responseCommand_ = 0;
          setStep(10);
          send(frame);
        } else {
          setStep(11);
          again = true;
        }
        break;
      case 10:
        if (waitResponse(kLssConfigureNodeId, "ConfigureNodeId: Error=0x%02X, Spec=0x%02X", "Configure Node ID",
                         11)) {
          slaves_[static_cast<size_t>(index_)].nodeId = newNodeId_;
          ++changes_;
          again = true;
        }
        break;
      case 11:
        if (options_.masterOptions & kLssSwitchBitRate) {
          const int tableIndex = LssBitTimingIndex(options_.wantedBitRateKbit);
          if (tableIndex < 0) {
            setStep(15);
          } else {
            CanFrame frame = LssFrame(kLssMasterToSlaveId, kLssConfigureBitTiming);
            frame.data[1] = 0;
            frame.data[2] = static_cast<uint8_t>(tableIndex);
            responseCommand_ = 0;
            setStep(12);
            send(frame);
            break;
          }
        } else {
          setStep(13);
        }
        again = true;
        break;
      case 12:
        again = waitResponse(kLssConfigureBitTiming, "ConfigureBitTiming: Error=0x%02X, Spec=0x%02X",
                             "Configure Bit Timing", 13);
        break;
      case 13: {
        responseCommand_ = 0;
        setStep(14);
        send(LssFrame(kLssMasterToSlaveId, kLssStoreConfiguration));
        break;
      }
      case 14:
        again = waitResponse(kLssStoreConfiguration, "ConfigureBitTiming: Error=0x%02X, Spec=0x%02X",
                             "Store Configuration", 15);
        break;
      default:
        break;
    }
  }
  inStep_ = false;
}

bool LssMasterState::LssHandleFrame(const CanFrame& frame) {
  if (frame.extended() || frame.rtr != 0) return false;
  const uint32_t identifier = frame.identifier();
  switch (step_) {
    case 2: {
      if (identifier < 0x701 || identifier > 0x77F || frame.length != 1) return false;
      const uint8_t state = frame.data[0];
      if (state != 0 && state != 4 && state != 5 && state != 0x7F) return false;
      const uint8_t node = static_cast<uint8_t>(identifier - 0x700);
      for (const LssFoundSlave& s : slaves_)
        if (s.initialNodeId == node) return false;
      if (static_cast<int>(slaves_.size()) >= kMaxSlaves) return false;
      LssFoundSlave slave;
      slave.nodeId = node;
      slave.initialNodeId = node;
      slave.nmtState = state;
      slaves_.push_back(slave);
      ++changes_;
      return false;
    }
    case 3: {
      if (index_ >= static_cast<int>(slaves_.size())) return false;
      LssFoundSlave& slave = slaves_[static_cast<size_t>(index_)];
      if (identifier != 0x580u + slave.nodeId || frame.length != 8 || frame.data[0] != 0x43 ||
          frame.data[1] != 0x18 || frame.data[2] != 0x10 || frame.data[3] != identitySub_)
        return false;
      slave.identity.part[identitySub_ - 1] = LssData32(frame, 4);
      responseSeen_ = true;
      ++changes_;
      return true;
    }
    case 8:
      if (!IsLssFrame(frame, kLssSlaveToMasterId) || frame.data[0] != kLssIdentifySlave) return false;
      responseSeen_ = true;
      return options_.scanDelayUs == 0;
    case 10:
    case 12:
    case 14:
      if (!IsLssFrame(frame, kLssSlaveToMasterId)) return false;
      if (frame.data[0] != (step_ == 10   ? kLssConfigureNodeId
                            : step_ == 12 ? kLssConfigureBitTiming
                                          : kLssStoreConfiguration))
        return false;
      responseCommand_ = frame.data[0];
      responseError_ = frame.data[1];
      responseSpecificError_ = frame.data[2];
      return true;
    default:
      return false;
  }
}

std::string LssMasterState::infoLine(int busKbit) const {
  const int count = static_cast<int>(slaves_.size());
  switch (step_) {
    case 0: return Format("Click \"START\" to start scanning at %d kBit/sec", busKbit);
    case 9: return Format("Configuring node-ID for slave #%d...", index_);
    case 10: return Format("Configure node-ID in slave #%d, waiting for response.", index_);
    case 11: return Format("Configure timing in slave #%d...", index_);
    case 12: return Format("Configure timing in slave #%d, waiting for response.", index_);
    case 13:
    case 14: return "LSS Master storing config, please wait..";
    case 15: {
      char text[96];
      std::snprintf(text, sizeof text, "LSS Master scan next, %d slave%s found...", count, Plural(count));
      return text;
    }
    case kFinished: {
      if (count == 0) return "Didn't find any LSS slave.";
      char text[96];
      std::snprintf(text, sizeof text, "Found %d LSS slave%s. Select one from the list:", count, Plural(count));
      return text;
    }
    case kStopped: return error_;
    default: {
      char text[96];
      std::snprintf(text, sizeof text, "LSS Master active, %d slave%s found...", count, Plural(count));
      return text;
    }
  }
}

std::vector<std::string> LssMasterState::resultLines() const {
  std::vector<std::string> lines;
  char text[64];
  for (const LssFoundSlave& s : slaves_) {
    std::snprintf(text, sizeof text, "%02X %08lX %08lX %08lX %08lX", s.nodeId,
                  static_cast<unsigned long>(s.identity.part[0]), static_cast<unsigned long>(s.identity.part[1]),
                  static_cast<unsigned long>(s.identity.part[2]), static_cast<unsigned long>(s.identity.part[3]));
    lines.push_back(text);
  }
  if (running() && (step_ == 7 || step_ == 8)) {
    LssIdentity shown = building_;
    if (bitCheck_ >= 0 && bitCheck_ <= 31) shown.part[lssSub_] = value_;
    std::snprintf(text, sizeof text, "-- %08lX %08lX %08lX %08lX", static_cast<unsigned long>(shown.part[0]),
                  static_cast<unsigned long>(shown.part[1]), static_cast<unsigned long>(shown.part[2]),
                  static_cast<unsigned long>(shown.part[3]));
    lines.push_back(text);
  }
  return lines;
}

}  // namespace busprobe
