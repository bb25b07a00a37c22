// The script program's view of the application: program lines from the command file, the clock,
// the send path, the receive history (indexed by identifier, so canrx does not scan 4096 frames),
// display switches and the messages window. The script words of other subsystems are in the
// extension table it carries; the subsystems fill it when the application wires them.
#pragma once

#include <unordered_map>

#include "app/application.h"
#include "traffic/audio_output.h"

namespace busprobe {

class Application::ScriptBinding final : public ScriptHost {
 public:
  explicit ScriptBinding(Application& app);

  // The receive pump hands over every frame it appends to the history, in order.
  void noteReceived(const CanFrame& frame);
  // The sound command's tone sweep, stepped by the tick.
  void tickTone() { tone_.tick(); }

  // Where subsystems register their script words.
  ScriptExtensions& extensionTable() { return extensions_; }

  // ScriptEnvironment
  double nowMs() const override;
  void message(std::string_view text) override;
  const ScriptExtensions* extensions() const override { return &extensions_; }
  bool findReceivedFrame(uint32_t id, double referenceTimeSec, CanFrame& out) override;
  int32_t receivedCount(uint32_t id) override;

  // ScriptHost
  int lineCount() override;
  bool readLine(int index, std::string_view& out) override;
  void sleepMs(double ms) override;
  void waitUntilMs(double targetMs) override;
  void printOutput(std::string_view text) override;
  bool transmit(CanFrame& frame) override;
  bool resetController() override;
  bool findReceivedSince(const FrameWaitPattern& pattern, double sinceSec, CanFrame& out) override;
  void setIdsShownAsText(const int32_t ids[4]) override;
  void setReceiveDisplayFrozen(bool frozen) override;
  void resetStatistics() override;
  void playSound(double freqHz, int durationMs, int modulation) override;
  void showProgramLine(int line) override;
  const Translator* translator() const override { return &app_.translator_; }

 private:
  struct IdEntry {
    uint64_t sequence = 0;  // number of the newest frame with this id word
    int32_t count = 0;
  };
  const CanFrame* historyFrameBySequence(uint64_t sequence) const;

  Application& app_;
  std::unordered_map<uint32_t, IdEntry> byId_;  // keyed by CanFrame::matchingId
  uint64_t received_ = 0;                       // frames noted so far; the next one gets this sequence number
  TonePlayer tone_;
  ScriptExtensions extensions_;
};

}  // namespace busprobe
