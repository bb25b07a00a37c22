// The one interface through which the core reaches the user: the Qt GUI, the headless runner and
// tests each implement it. The core never blocks on a widget; questions are typed calls here.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace busprobe {

// The texts above the Rx and Tx panes and the traffic indicators, as the tick computes them.
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

class UserInterface {
 public:
  virtual ~UserInterface() = default;

  // A line was appended to the messages window (already split and cut to 255 characters).
  virtual void messageLine(const std::string& line) = 0;
  // The messages window was emptied.
  virtual void messagesCleared() {}
  // The main window's status label (start-up step names, later status texts).
  virtual void statusLabel(const std::string& /*text*/) {}
  // The command file was (re)loaded into the command editor; the editor shows its new text.
  virtual void commandFileLoaded() {}
  // Display refresh of one tick phase (1: list headers, 2: editor caption, 3: status line).
  virtual void refreshPhase(int /*phase*/) {}

  // List 1 (Rx) or 2 (Tx) changed: the pane pulls the changed rows with FrameList::takeRefresh()
  // from Application::rxList() / txList(). Called at most once per receive batch and per tick.
  virtual void frameListChanged(int /*listNumber*/) {}
  // Some text above the panes, the status text or the logger lamp changed.
  virtual void trafficHeadersChanged(const TrafficHeaders& /*headers*/) {}
  // Every Rx and Tx line (no line end) is handed to trafficLine when this says so (headless
  // --show-traffic); asked once at start-up.
  virtual bool wantsTrafficLines() const { return false; }
  virtual void trafficLine(bool /*transmitted*/, std::string_view /*line*/) {}

  // A Yes/No question; returns true for Yes. Headless and tests answer with the default.
  virtual bool askYesNo(const std::string& /*title*/, const std::string& /*text*/, bool defaultYes) {
    return defaultYes;
  }
  // An information box.
  virtual void showMessageBox(const std::string& /*title*/, const std::string& /*text*/) {}

  // The closing notice: first shown with its second line, then each shutdown step replaces that line.
  virtual void noticeShow(const std::string& /*secondLine*/) {}
  virtual void noticeUpdate(const std::string& /*secondLine*/) {}
  virtual void noticeHide() {}

  // --- the script program
  // The editor should scroll to this 0-based line (breakpoint reached, single step, user stop).
  virtual void scriptShowLine(int /*line*/) {}
  // A run ended (end of text, stop, error, breakpoint): the editor shows the final line and its
  // markers, the Run menu its captions. `errorText` is empty unless it stopped with a message.
  virtual void scriptEnded(const std::string& /*errorText*/) {}

  // Lets windows repaint while a core loop waits for the bus; a no-op headless.
  virtual void processEvents() {}
};

}  // namespace busprobe
