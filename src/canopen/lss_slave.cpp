#include "canopen/lss_slave.h"

#include <cstdio>

#include "canopen/object_dictionary.h"

namespace busprobe {

LssIdentity LssDefaultIdentity() {
  LssIdentity identity;
  identity.part[0] = 0x004E564B;
  identity.part[1] = 11049;
  identity.part[2] = 0x10000;
  identity.part[3] = 0;
  return identity;
}

LssIdentity LssIdentityFromDictionary(const ObjectDictionary& dictionary) {
  LssIdentity identity = LssDefaultIdentity();
  for (int i = 0; i < 4; ++i) {
    const OdEntry* entry = dictionary.find(0x1018, static_cast<uint8_t>(i + 1));
    if (entry == nullptr) continue;
    uint32_t value = entry->currentValid != 0 ? entry->currentValue.data32() : 0;
    if (value == 0 && entry->hasDefault != 0) value = entry->defaultValue.data32();
    if (value != 0) identity.part[i] = value;
  }
  return identity;
}

LssSlaveState::LssSlaveState(Clock& clock, Transmit transmit, Notice notice)
    : clock_(clock), transmit_(std::move(transmit)), notice_(std::move(notice)) {}

void LssSlaveState::answer(uint8_t command, uint8_t b1, uint8_t b2) {
  CanFrame frame = LssFrame(kLssSlaveToMasterId, command);
  frame.data[1] = b1;
  frame.data[2] = b2;
  if (transmit_) transmit_(frame);
}

void LssSlaveState::answer32(uint8_t command, uint32_t value) {
  CanFrame frame = LssFrame(kLssSlaveToMasterId, command);
  LssSetData32(frame, 1, value);
  if (transmit_) transmit_(frame);
}

void LssSlaveState::handleFrame(const CanFrame& frame) {
  if (!IsLssFrame(frame, kLssMasterToSlaveId)) return;
  const uint8_t* d = frame.data;
  switch (d[0]) {
    case kLssConfigureNodeId:
      if (!configuring()) return;
      if ((d[1] >= 1 && d[1] <= 127) || d[1] == 255) {
        nodeId_ = d[1];
        answer(kLssConfigureNodeId, 0);
      } else {
        answer(kLssConfigureNodeId, 1);
      }
      return;
    case kLssConfigureBitTiming: {
      if (!configuring()) return;
      static const int kRates[] = {1000, 800, 500, 250, 125, 100, 50, 20, 10, 0};
      if (d[1] != 0 || d[2] > 9) {
        answer(kLssConfigureBitTiming, 1);
        return;
      }
      bitRateKbit_ = kRates[d[2]];
      answer(kLssConfigureBitTiming, 0);
      return;
    }
    case kLssActivateBitTiming:
      if (!configuring()) return;
      modeBeforeSwitch_ = mode_;
      switchDelayUs_ = static_cast<double>(d[1] | d[2] << 8) * 1000.0;
      switchStartMs_ = clock_.nowMs();
      mode_ = kLssSlaveSwitchPending;
      return;
    case kLssStoreConfiguration:
      if (!configuring()) return;
      answer(kLssStoreConfiguration, 0);
      mode_ = kLssSlaveStored;
      storedOnce_ = true;
      if (notice_) {
        char line[120];
        std::snprintf(line, sizeof line, "LSS slave: stored node ID %d, bit rate %d kBit/s.", nodeId_,
                      bitRateKbit_);
        notice_(line);
      }
      return;
    case kLssSwitchStateGlobal:
      // Back to waiting: a master configuring several slaves one after the other must reach only
      // the one it found last. A slave found once stays out of later scans.
      if (d[1] == 0 && configuring()) mode_ = kLssSlaveWaiting;
      return;
    case kLssFastscan:
      fastscan(frame);
      return;
    case kLssInquireVendor:
    case kLssInquireProduct:
    case kLssInquireRevision:
    case kLssInquireSerial:
      // Every unconfigured device would answer at once outside the configuration state.
      if (configuring()) answer32(d[0], identity_.part[d[0] - kLssInquireVendor]);
      return;
    case kLssInquireNodeId:
      if (configuring()) answer(kLssInquireNodeId, nodeId_);
      return;
    default:
      return;  // switch state commands and the rest: nothing to do
  }
}

void LssSlaveState::fastscan(const CanFrame& frame) {
  const uint8_t* d = frame.data;
  const uint8_t bitCheck = d[5];
  if (bitCheck == kLssFastscanReset) {
    if (mode_ == kLssSlaveWaiting && !identified_) {
      lssSub_ = 0;
      answer(kLssIdentifySlave);
    } else {
      lssSub_ = kNotTakingPart;
    }
    return;
  }
  const uint8_t sub = d[6];
  const uint8_t next = d[7];
  if (bitCheck > 31 || sub > 3 || next > 3 || lssSub_ == kNotTakingPart || sub != lssSub_) return;
  const uint32_t mask = bitCheck == 0 ? 0xFFFFFFFFu : ~((1u << bitCheck) - 1u);
  if (((identity_.part[sub] ^ LssData32(frame, 1)) & mask) != 0) return;
  lssSub_ = next;
  answer(kLssIdentifySlave);
  if (bitCheck == 0 && next < sub) {
    mode_ = kLssSlaveConfiguration;
    identified_ = true;
    lssSub_ = kNotTakingPart;
  }
}

void LssSlaveState::tick() {
  if (mode_ != kLssSlaveSwitchPending) return;
  if ((clock_.nowMs() - switchStartMs_) * 1000.0 < switchDelayUs_) return;
  mode_ = modeBeforeSwitch_;
  if (notice_) {
    char line[160];
    std::snprintf(line, sizeof line,
                  "LSS slave: cannot switch this tool's bus to %d kBit/s; the bus keeps its bit rate.",
                  bitRateKbit_);
    notice_(line);
  }
}

}  // namespace busprobe
