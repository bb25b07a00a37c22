#include "traffic/traffic_display.h"

#include <cmath>

#include "traffic/log_player.h"
#include "traffic/logger.h"

namespace busprobe {

TrafficDisplay::TrafficDisplay(TrafficPaths& paths, CanDisplaySettings& settings, const Logger& logger,
                               const LogPlayer& player, Clock& clock)
    : paths_(paths), settings_(settings), logger_(logger), player_(player), clock_(clock) {}

void TrafficDisplay::refreshHeaders(bool titles, bool status) {
  TrafficHeaders h = headers_;
  const DisplayState& d = paths_.display();
  const CanDisplaySettings& s = settings_;
  if (titles || h.rxTitle.empty()) {
    h.rxTitle = std::string(s.rxTxCombined ? "Rx+Tx" : "Rx") + (d.rxDisplayStopped ? " (stopped)" : "");
    h.txTitle = d.txDisplayStopped ? "Tx (stopped)" : "Tx";
    h.rxButton = d.rxDisplayStopped ? "Run" : "Stop";
    h.txButton = d.txDisplayStopped ? "Run" : "Stop";
    h.pauseMenuText = d.txDisplayStopped ? "&Paused" : "&Pause !";
    const auto typeLabel = [](int type) {
      return type == kListHistory ? "history" : type == kListSorted ? "sorted" : "?list_type?";
    };
    h.rxListTypeLabel = typeLabel(s.rxListType);
    h.txListTypeLabel = typeLabel(s.txListType);
  }
  h.rxCount = "N=" + std::to_string(paths_.statistics().receivedTotal());
  h.txCount = "N=" + std::to_string(paths_.statistics().sentTotal());
  if (status || h.statusText.empty()) {
    h.statusText = sdoBusy_ ? "SDO busy" : waitLoopRunning_ ? "processing" : "-";
    // Even seconds show the player, odd ones the recorder, so both blink when both run.
    const int64_t second = static_cast<int64_t>(std::floor(clock_.nowMs() / 1000.0));
    if (second % 2 == 0) {
      const PlayerState p = player_.state();
      h.loggerLampRgb = p == PlayerState::kPlaying     ? 0x00FF00u
                        : p == PlayerState::kRewinding ? 0xFFFF00u
                                                       : 0xA0A0A4u;
    } else {
      h.loggerLampRgb = logger_.isOpen() ? 0xFF0000u : 0xA0A0A4u;
    }
  }
  if (h == headers_) return;
  headers_ = std::move(h);
  if (headersChanged_) headersChanged_();
}

void TrafficDisplay::notifyChangedLists() {
  notifyIfChanged(TrafficPaths::kRxList);
  notifyIfChanged(TrafficPaths::kTxList);
}

void TrafficDisplay::notifyIfChanged(int listNumber) {
  const FrameList& list = listNumber == TrafficPaths::kRxList ? paths_.rxList() : paths_.txList();
  if (list.modifications() == notifiedModifications_[listNumber]) return;
  notifiedModifications_[listNumber] = list.modifications();
  if (listChanged_) listChanged_(listNumber);
}

void TrafficDisplay::setBothStopped(bool stopped) {
  paths_.display().rxDisplayStopped = stopped;
  paths_.display().txDisplayStopped = stopped;
}

void TrafficDisplay::setRxStopped(bool stopped) {
  paths_.display().rxDisplayStopped = stopped;
  refreshHeaders(true, false);
}

void TrafficDisplay::toggleRxStopped() {
  setRxStopped(!paths_.display().rxDisplayStopped);
}

void TrafficDisplay::toggleTxStopped() {
  paths_.display().txDisplayStopped = !paths_.display().txDisplayStopped;
  refreshHeaders(true, false);
}

void TrafficDisplay::togglePause() {
  setBothStopped(!paths_.display().txDisplayStopped);
  refreshHeaders(true, false);
}

void TrafficDisplay::setRxTxCombined(bool on) {
  settings_.rxTxCombined = on ? 1 : 0;
  refreshHeaders(true, false);
}

void TrafficDisplay::setListType(int listNumber, int type) {
  if (listNumber == TrafficPaths::kRxList) settings_.rxListType = type;
  if (listNumber == TrafficPaths::kTxList) settings_.txListType = type;
  refreshHeaders(true, false);
}

bool TrafficDisplay::toggleListType(int listNumber) {
  // A wait loop of the interpreter may be walking the list: the label clicks leave it alone.
  if (waitLoopRunning_) return false;
  const int current = listNumber == TrafficPaths::kRxList ? settings_.rxListType : settings_.txListType;
  setListType(listNumber, current == kListSorted ? kListHistory : kListSorted);
  return true;
}

void TrafficDisplay::EraseList(int listNumber) {
  if (listNumber != TrafficPaths::kRxList && listNumber != TrafficPaths::kTxList) return;
  paths_.EraseList(listNumber);
  notifyIfChanged(listNumber);
}

}  // namespace busprobe
