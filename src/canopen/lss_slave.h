// The tool's own LSS slave: answers the LSS requests it sees on the bus with the identity of the
// local dictionary, so that a master (this tool's or another's) can find it by fast scan and give
// it a node ID and a bit rate.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "base/clock.h"
#include "can/can_frame.h"
#include "canopen/lss_protocol.h"

namespace busprobe {

class ObjectDictionary;

// 0x1018 subindex 1..4 of the dictionary (the current value when nonzero, else the default); a
// part still 0 takes the tool's own identity.
LssIdentity LssIdentityFromDictionary(const ObjectDictionary& dictionary);
LssIdentity LssDefaultIdentity();

enum LssSlaveMode : uint8_t {
  kLssSlaveWaiting = 0,
  kLssSlaveConfiguration = 2,
  kLssSlaveStored = 3,
  kLssSlaveSwitchPending = 4,
};

class LssSlaveState {
 public:
  using Transmit = std::function<bool(CanFrame&)>;
  // A line for the messages window (a stored configuration, a bit-rate switch that cannot happen).
  using Notice = std::function<void(const std::string&)>;

  static constexpr uint8_t kNotTakingPart = 255;
  static constexpr uint8_t kUnconfiguredNodeId = 255;

  LssSlaveState(Clock& clock, Transmit transmit, Notice notice = {});

  void setIdentity(const LssIdentity& identity) { identity_ = identity; }
  const LssIdentity& identity() const { return identity_; }

  // Offers a frame; only 8-byte frames on 0x7E5 are requests.
  void handleFrame(const CanFrame& frame);
  // Ends a pending bit-rate switch once its delay is over.
  void tick();

  uint8_t mode() const { return mode_; }
  uint8_t nodeId() const { return nodeId_; }
  int bitRateKbit() const { return bitRateKbit_; }  // 0: automatic
  bool stored() const { return storedOnce_; }
  uint8_t fastscanPosition() const { return lssSub_; }

 private:
  bool configuring() const { return mode_ == kLssSlaveConfiguration || mode_ == kLssSlaveStored; }
  void answer(uint8_t command, uint8_t b1 = 0, uint8_t b2 = 0);
  void answer32(uint8_t command, uint32_t value);
  void fastscan(const CanFrame& frame);

  Clock& clock_;
  Transmit transmit_;
  Notice notice_;
  LssIdentity identity_ = LssDefaultIdentity();
  uint8_t mode_ = kLssSlaveWaiting;
  uint8_t modeBeforeSwitch_ = kLssSlaveConfiguration;
  uint8_t nodeId_ = kUnconfiguredNodeId;
  int bitRateKbit_ = 0;
  bool storedOnce_ = false;
  bool identified_ = false;
  double switchDelayUs_ = 5000;
  double switchStartMs_ = 0;
  uint8_t lssSub_ = kNotTakingPart;
};

}  // namespace busprobe
