// The traffic display's commands and the texts above the panes: the pause switches of the Rx and
// Tx panes, the combined Rx+Tx view, the list types, "Erase", the message counters and the
// header texts (titles, buttons, counts, status text, logger lamp) as the tick computes them.
// The windows show what this holds and call these commands; the script's freeze and ClearScreen
// call them too. Owned by the application, on the user-interface thread.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "base/clock.h"
#include "traffic/frame_format.h"
#include "traffic/traffic_paths.h"

namespace busprobe {

class Logger;
class LogPlayer;

// The texts above the Rx and Tx panes and the traffic indicators.
struct TrafficHeaders {
  std::string rxTitle;   // "Rx" or "Rx+Tx" (combined), + " (stopped)"
  std::string txTitle;   // "Tx" or "Tx (stopped)"
  std::string rxButton;  // "Stop" while running, "Run" while stopped
  std::string txButton;
  std::string pauseMenuText;    // "&Pause !", or "&Paused" while the Tx pane is stopped
  std::string rxListTypeLabel;  // "history", "sorted" or "?list_type?"
  std::string txListTypeLabel;
  std::string rxCount;         // "N=" + received frames of both buses
  std::string txCount;         // "N=" + sent frames of both buses
  std::string statusText;      // "SDO busy", "processing" or "-"
  uint32_t loggerLampRgb = 0;  // 0xRRGGBB: blinks red while recording, green while playing

  bool operator==(const TrafficHeaders&) const = default;
};

class TrafficDisplay {
 public:
  // Told when the header texts changed, and when list 1 (Rx) or 2 (Tx) has rows to pull.
  using HeadersChanged = std::function<void()>;
  using ListChanged = std::function<void(int listNumber)>;

  TrafficDisplay(TrafficPaths& paths, CanDisplaySettings& settings, const Logger& logger,
                 const LogPlayer& player, Clock& clock);

  void setNotifications(HeadersChanged headers, ListChanged list) {
    headersChanged_ = std::move(headers);
    listChanged_ = std::move(list);
  }

  // Pane buttons "Stop"/"Run".
  void toggleRxStopped();
  void toggleTxStopped();
  // "&Pause !": both panes to the negation of the Tx pane's state.
  void togglePause();
  // Both panes at once (the trigger's reactions, the script's freeze).
  void setBothStopped(bool stopped);
  void setRxStopped(bool stopped);
  // "Combined RX+TX window", double-click on the Rx title; a click on the Tx title turns it off.
  void setRxTxCombined(bool on);
  void toggleRxTxCombined() { setRxTxCombined(settings_.rxTxCombined == 0); }
  // List type of list 1 (Rx) or 2 (Tx): 0 history, 1 sorted. The list empties when its next line
  // arrives.
  void setListType(int listNumber, int type);
  // The list-type label clicks: refused (false) while a wait loop of the interpreter runs.
  bool toggleListType(int listNumber);
  // "Erase" of the Rx (1) or Tx (2) pane.
  void EraseList(int listNumber);

  // Set by the interpreter's wait loops and the SDO engine; shown in the status text.
  void setWaitLoopRunning(bool on) { waitLoopRunning_ = on; }
  bool waitLoopRunning() const { return waitLoopRunning_; }
  void setSdoBusy(bool on) { sdoBusy_ = on; }

  // Recomputes the header texts (titles and list types when `titles`, status text and lamp when
  // `status`, the counts always) and tells when they changed.
  void refreshHeaders(bool titles, bool status);
  const TrafficHeaders& headers() const { return headers_; }
  // Tells the lists that changed since they were last told.
  void notifyChangedLists();
  void notifyIfChanged(int listNumber);

 private:
  TrafficPaths& paths_;
  CanDisplaySettings& settings_;
  const Logger& logger_;
  const LogPlayer& player_;
  Clock& clock_;
  HeadersChanged headersChanged_;
  ListChanged listChanged_;
  TrafficHeaders headers_;
  uint64_t notifiedModifications_[3] = {0, 0, 0};  // per list number, as last told
  bool waitLoopRunning_ = false;
  bool sdoBusy_ = false;
};

}  // namespace busprobe
