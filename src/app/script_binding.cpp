#include "app/script_binding.h"

#include <algorithm>

namespace busprobe {

namespace {
// The id index forgets identifiers that have left the history once it holds this many, so a flood
// of distinct extended identifiers cannot grow it without bound.
constexpr std::size_t kIdIndexLimit = 4 * ReceiveHistory::kSize;
}  // namespace

Application::ScriptBinding::ScriptBinding(Application& app) : app_(app), tone_(app.audio_.get()) {}

void Application::ScriptBinding::noteReceived(const CanFrame& frame) {
  IdEntry& e = byId_[frame.matchingId()];
  e.sequence = received_++;
  ++e.count;
  if (byId_.size() > kIdIndexLimit) {
    for (auto it = byId_.begin(); it != byId_.end();) {
      it = historyFrameBySequence(it->second.sequence) == nullptr ? byId_.erase(it) : std::next(it);
    }
  }
}

const CanFrame* Application::ScriptBinding::historyFrameBySequence(uint64_t sequence) const {
  if (sequence >= received_) return nullptr;
  const uint64_t back = received_ - 1 - sequence;
  if (back >= app_.history_.count()) return nullptr;
  return &app_.history_.frame(static_cast<size_t>(back));
}

// Scripts read the common CAN clock, the time base of received frames' timestamps, so that `t`,
// wcan's reference time and the receive history agree (with CAN-via-UDP it is the server's clock).
double Application::ScriptBinding::nowMs() const {
  return app_.ucan_->clockMs();
}

void Application::ScriptBinding::message(std::string_view text) {
  app_.messages_.printText(text);
}

bool Application::ScriptBinding::findReceivedFrame(uint32_t id, double referenceTimeSec, CanFrame& out) {
  const uint32_t key = CanFrame::matchingId(id);
  const auto it = byId_.find(key);
  if (it == byId_.end()) return false;
  const CanFrame* f = historyFrameBySequence(it->second.sequence);
  if (f == nullptr || f->matchingId() != key) return false;
  if (referenceTimeSec != 0 && f->timestamp * 0.001 < referenceTimeSec) return false;
  out = *f;
  return true;
}

int32_t Application::ScriptBinding::receivedCount(uint32_t id) {
  const auto it = byId_.find(CanFrame::matchingId(id));
  return it == byId_.end() ? 0 : it->second.count;
}

int Application::ScriptBinding::lineCount() {
  return app_.commandFile_.lineCount();
}

bool Application::ScriptBinding::readLine(int index, std::string_view& out) {
  if (!app_.commandFile_.line(index, out)) return false;
  if (out.size() > kMaxScriptLineChars) out = out.substr(0, kMaxScriptLineChars);
  return true;
}

void Application::ScriptBinding::sleepMs(double ms) {
  app_.clock_.sleepMs(ms);
}

void Application::ScriptBinding::waitUntilMs(double targetMs) {
  // The target is on the CAN clock; the wait runs on the local clock it is derived from.
  app_.clock_.waitUntilMs(app_.clock_.nowMs() + (targetMs - nowMs()));
}

void Application::ScriptBinding::printOutput(std::string_view text) {
  app_.messages_.printText(text);
}

bool Application::ScriptBinding::transmit(CanFrame& frame) {
  return app_.TransmitFrame(frame);
}

bool Application::ScriptBinding::resetController() {
  return app_.controllers_->reinit(0);
}

bool Application::ScriptBinding::findReceivedSince(const FrameWaitPattern& pattern, double sinceSec,
                                                   CanFrame& out) {
  // Newest to oldest while the frames are recent enough; the oldest match is the one that would
  // have ended the wait first.
  bool found = false;
  for (size_t back = 0; back < app_.history_.count(); ++back) {
    const CanFrame& f = app_.history_.frame(back);
    if (f.timestamp * 0.001 < sinceSec) break;
    if (pattern.matches(f)) {
      out = f;
      found = true;
    }
  }
  return found;
}

void Application::ScriptBinding::setIdsShownAsText(const int32_t ids[4]) {
  for (int k = 0; k < 4; ++k) app_.settings_.display.showIdAsText[static_cast<size_t>(k)] = ids[k];
}

void Application::ScriptBinding::setReceiveDisplayFrozen(bool frozen) {
  app_.trafficDisplay_->setRxStopped(frozen);
}

void Application::ScriptBinding::resetStatistics() {
  app_.traffic_->ResetMessageCounters();
}

void Application::ScriptBinding::playSound(double freqHz, int durationMs, int modulation) {
  if (app_.settings_.interp.soundEnabled == 0) return;
  tone_.play(static_cast<int>(freqHz), durationMs, modulation);
}

void Application::ScriptBinding::showProgramLine(int line) {
  app_.scripts_->showLine(line);
}

}  // namespace busprobe
