// The running tick's work, in this order, one place per step: a subsystem that needs the tick
// takes its place when the application wires it. Places of subsystems that do not exist yet are
// reserved here, so the order is written once.
#pragma once

#include <array>
#include <functional>

namespace busprobe {

enum class TickSlot : int {
  kRemoteControl,  // the remote-control mailbox
  kReceive,        // the receive pump (its idle side: traffic filters, node scanner)
  kCanErrors,      // CAN error history and bus status lines
  kTrigger,        // the trigger's timers and missing-message check
  kSound,          // the sound command's tone sweep
  kSdoTimeouts,    // odd phases: the SDO engine's timeout step
  kLss,            // the LSS master's step, the built-in LSS slave's switch delay
  kRemoteBrowser,  // the remote browser's pass: reads, writes, the dictionary scan
  kLocaleCheck,    // odd phases: the decimal separator
  kReceiveAgain,   // the receive pump once more, unless a blocking wait pumps by itself
  kWatches,        // the watch window's sample time
  kScript,         // the interpreter's slice
  kDisplay,        // header texts by phase, windows' refresh phase, pending Tx lines, lists
  kSdoSettings,    // SDO channels reconfigured after a settings change
  kPlayerNotice,   // the log player's unknown-symbol box
  kErrorFrames,    // the error-frame notice
  kCount
};

struct TickContext {
  double tickStartMs;  // on the CAN clock, the time base of the interpreter's deadlines
  int phase;           // 0..3, advanced by every tick
};

class TickStepTable {
 public:
  using Step = std::function<void(const TickContext&)>;

  // Takes the place; false (and nothing changes) when it is taken already.
  bool install(TickSlot slot, Step step);
  bool installed(TickSlot slot) const;
  void run(const TickContext& context) const;

 private:
  static constexpr size_t kSlots = static_cast<size_t>(TickSlot::kCount);
  std::array<Step, kSlots> steps_;
};

}  // namespace busprobe
