// The LSS master: finds CANopen devices by their identity (fast scan), optionally after a network
// reset that makes configured nodes boot and show themselves, and gives each found device a node
// ID, a bit rate, and has it store them. One step function drives it (from a timer or the tick);
// frames arrive through LssHandleFrame.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "base/clock.h"
#include "can/can_frame.h"
#include "canopen/lss_protocol.h"

namespace busprobe {

enum LssMasterOption : uint32_t {
  kLssAssignNodeIds = 0x01,
  kLssSwitchBitRate = 0x02,
  kLssFindConfigured = 0x04,
  kLssFastScan = 0x10,
  kLssClassicScan = 0x20,
  kLssIncludeBuiltInSlave = 0x40,
};

struct LssMasterOptions {
  uint32_t masterOptions = 0;
  int wantedFirstNodeId = 1;
  int wantedBitRateKbit = 0;
  uint32_t scanDelayUs = 5000;
};

struct LssFoundSlave {
  uint8_t nodeId = 0xFF;
  uint8_t initialNodeId = 0xFF;
  uint8_t nmtState = 0;
  LssIdentity identity;
};

class LssMasterState {
 public:
  using Transmit = std::function<bool(CanFrame&)>;

  static constexpr int kMaxSlaves = 128;
  static constexpr int kFinished = 16;
  static constexpr int kStopped = 20;

  LssMasterState(Clock& clock, Transmit transmit);

  void LssMasterStart(const LssMasterOptions& options);
  void LssMasterStop() { step_ = 0; }
  // Does what the current step can do now; steps that need not wait follow at once.
  void LssMasterStep();
  // True when the frame was one the master waited for: stepping again at once moves on.
  bool LssHandleFrame(const CanFrame& frame);

  int step() const { return step_; }
  bool idle() const { return step_ == 0; }
  bool running() const { return step_ != 0 && step_ != kFinished && step_ != kStopped; }
  const std::vector<LssFoundSlave>& slaves() const { return slaves_; }
  const std::string& errorText() const { return error_; }
  const LssMasterOptions& options() const { return options_; }
  int bitCheck() const { return bitCheck_; }

  // The window's info line for the step; busKbit is the current rate of the first bus.
  std::string infoLine(int busKbit) const;
  // One line per found slave, and while scanning a "-- " line with the identity being built.
  std::vector<std::string> resultLines() const;
  // Changes whenever the result list would look different (count, BitCheck, step).
  uint64_t changeCount() const { return changes_; }

 private:
  void send(CanFrame frame);
  void setStep(int step);
  double elapsedMs() const { return clock_.nowMs() - stopwatchMs_; }
  void startFastScanRound();
  void requestIdentityPart();
  void evaluateFastscan();
  uint8_t freeNodeId() const;
  bool waitResponse(uint8_t command, const char* errorFormat, const char* what, int nextStep);

  Clock& clock_;
  Transmit transmit_;
  LssMasterOptions options_;
  int step_ = 0;
  bool inStep_ = false;
  std::vector<LssFoundSlave> slaves_;
  int index_ = 0;
  LssIdentity building_;
  int bitCheck_ = 0;
  int lssSub_ = 0;
  int lssNext_ = 0;
  uint32_t value_ = 0;
  bool responseSeen_ = false;
  bool queryFresh_ = false;
  int failedConfirmations_ = 0;
  int identitySub_ = 1;
  uint8_t responseCommand_ = 0;
  uint8_t responseError_ = 0;
  // The slave's own error code beside the general one; the error texts show it as "Spec=".
  uint8_t responseSpecificError_ = 0;
  uint8_t newNodeId_ = 0;
  std::string error_;
  double stopwatchMs_ = 0;
  uint64_t changes_ = 0;
};

// The index Configure Bit Timing gives a rate in the standard table; -1 for rates the master does
// not offer.
int LssBitTimingIndex(int kbit);

}  // namespace busprobe
