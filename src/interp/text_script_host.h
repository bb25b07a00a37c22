// A script host without a bus or windows: the program text is a string, sent frames are kept in
// a list, print output and messages are collected as lines, and received frames are whatever the
// owner feeds in. Used where a script runs on its own: tests, benchmarks, the fuzz target. Its bus
// has a rate of 500 kbit/s and counts the frames sent (can.baudrate, can.nTxFrames); tests register
// further script words in `extensionTable`.
#pragma once

#include <string>
#include <vector>

#include "base/clock.h"
#include "interp/script_program.h"

namespace busprobe {

class TextScriptHost : public ScriptHost {
 public:
  explicit TextScriptHost(Clock& clock);
  // The registered bus components refer to this object.
  TextScriptHost(const TextScriptHost&) = delete;
  TextScriptHost& operator=(const TextScriptHost&) = delete;

  void setText(std::string_view text);
  // Adds a frame to the receive history (newest last), as the receive pump would.
  void receive(const CanFrame& frame);

  struct SentFrame {
    CanFrame frame;
    double timeMs;
  };
  std::vector<SentFrame> sent;
  std::vector<std::string> output;    // print
  std::vector<std::string> messages;  // interpreter messages
  std::vector<CanFrame> history;
  // Keeps at most this many sent frames and lines (the fuzz target runs long loops).
  std::size_t keepLimit = 100000;
  bool frozen = false;
  int statisticsResets = 0;
  int32_t idsAsText[4] = {-1, -1, -1, -1};
  std::vector<int> shownLines;
  ScriptExtensions extensionTable;
  const Translator* translation = nullptr;

  double nowMs() const override { return clock_.nowMs(); }
  void message(std::string_view text) override;
  const ScriptExtensions* extensions() const override { return &extensionTable; }
  bool findReceivedFrame(uint32_t id, double referenceTimeSec, CanFrame& out) override;
  int32_t receivedCount(uint32_t id) override;

  int lineCount() override { return static_cast<int>(lines_.size()); }
  bool readLine(int index, std::string_view& out) override;
  void sleepMs(double ms) override { clock_.sleepMs(ms); }
  void waitUntilMs(double targetMs) override { clock_.waitUntilMs(targetMs); }
  void printOutput(std::string_view text) override;
  bool transmit(CanFrame& frame) override;
  bool resetController() override { return true; }
  bool findReceivedSince(const FrameWaitPattern& pattern, double sinceSec, CanFrame& out) override;
  void setIdsShownAsText(const int32_t ids[4]) override;
  void setReceiveDisplayFrozen(bool on) override { frozen = on; }
  void resetStatistics() override { ++statisticsResets; }
  void playSound(double, int, int) override {}
  void showProgramLine(int line) override { shownLines.push_back(line); }
  const Translator* translator() const override { return translation; }

 private:
  Clock& clock_;
  std::string text_;
  std::vector<std::string_view> lines_;
};

}  // namespace busprobe
