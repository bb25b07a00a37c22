// The remote dictionary browser's core in the running application: the browser over the remote
// dictionary, its passes (read all, read marked, write all, the dictionary scan) stepped on the
// tick, and the dictionary scanner whose results the scan pass adds to the dictionary. The remote
// browser window and the scanner window show this state and call it; a headless run and tests
// drive it the same way.
#pragma once

#include <vector>

#include "canopen/dictionary_browser.h"
#include "canopen/dictionary_scanner.h"

namespace busprobe {

class Application;

class RemoteBrowserSession {
 public:
  explicit RemoteBrowserSession(Application& app);
  RemoteBrowserSession(const RemoteBrowserSession&) = delete;
  RemoteBrowserSession& operator=(const RemoteBrowserSession&) = delete;

  DictionaryBrowser& browser() { return browser_; }
  const DictionaryScanner& scanner() const { return scanner_; }

  // The passes of the browser's buttons; each takes its first step on the next tick.
  void startRead(bool markedOnly);
  void startWrite();
  void setPeriodic(bool on);

  // The client is enabled, the browser talks to the configured client node, and the scanner's
  // form holds the stored settings, with first..last in place of the stored range when
  // first < last. The scan itself waits for startScan.
  void OpenDictionaryScan(int first, int last);
  // "Scan remote node for OD Entries": the browser's node becomes the client's, and the form
  // holds the stored settings.
  void openScanOfBrowserNode();
  // What the scanner window shows when it opens.
  const DictionaryScanSettings& form() const { return form_; }
  // "Start": the settings are stored (the node is the browser's from now on) and the scan pass
  // begins.
  void startScan(const DictionaryScanSettings& settings);
  // "Stop".
  void stopScan();

  // The tick's step: one step of the running pass when it is due.
  void tick();
  // The rows the passes re-rendered since the last call (the window repaints them).
  std::vector<int> takeChangedRows();

 private:
  void notifyScan();
  void followOptions();

  Application& app_;
  DictionaryBrowser browser_;
  DictionaryScanner scanner_;
  DictionaryScanSettings form_;
  double dueMs_ = 0;
  std::vector<int> changedRows_;
};

}  // namespace busprobe
