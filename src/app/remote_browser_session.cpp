#include "app/remote_browser_session.h"

#include "app/application.h"

namespace busprobe {

RemoteBrowserSession::RemoteBrowserSession(Application& app)
    : app_(app),
      browser_(app.canopen().remote().entries, app.canopen().remote().fileInfo,
               app.canopen().remote().deviceInfo, app.settings().sdo, &app.sdoPort(),
               [&app](const std::string& line) { app.messages().PrintMessage("%s", line.c_str()); }) {
  browser_.onScanProgress = [this] { notifyScan(); };
  app.tickSteps().install(TickSlot::kRemoteBrowser, [this](const TickContext&) { tick(); });
}

void RemoteBrowserSession::notifyScan() {
  app_.ui().changed(UiTopic::kDictionaryScan);
}

void RemoteBrowserSession::followOptions() {
  // The configuration is read after the session is made, and the browser's menu changes it.
  browser_.limitLargeUploads = app_.browserSettings().dontReadLargeObjects != 0;
}

void RemoteBrowserSession::startRead(bool markedOnly) {
  followOptions();
  browser_.markedOnly = markedOnly;
  browser_.startRead();
  dueMs_ = 0;
}

void RemoteBrowserSession::startWrite() {
  browser_.startWrite();
  dueMs_ = 0;
}

void RemoteBrowserSession::setPeriodic(bool on) {
  browser_.setPeriodic(on);
  dueMs_ = 0;
}

void RemoteBrowserSession::OpenDictionaryScan(int first, int last) {
  app_.canopen().sdo().client().enabled = 1;
  if (browser_.scanning()) return;
  openScanOfBrowserNode();
  if (first < last) {
    form_.scanFrom = first;
    form_.scanTo = last;
  }
}

void RemoteBrowserSession::openScanOfBrowserNode() {
  // A running scan keeps its node and its form.
  if (browser_.scanning()) return;
  SdoSettings corrected = app_.settings().sdo;
  SdoCorrectNodeIds(corrected);
  browser_.setNodeId(corrected.clientNodeId);
  form_ = app_.settings().odScanner;
  form_.nodeId = browser_.nodeId();
}

void RemoteBrowserSession::startScan(const DictionaryScanSettings& settings) {
  // A scan already running goes on with what it started with.
  if (browser_.phase() != BrowserPassPhase::kIdle) return;
  app_.settings().odScanner = settings;
  form_ = settings;
  if (settings.nodeId >= 1 && settings.nodeId <= 127) browser_.setNodeId(settings.nodeId);
  followOptions();
  DictionaryScanSettings run = settings;
  run.nodeId = browser_.nodeId();
  scanner_.start(run);
  browser_.startScan(scanner_);
  dueMs_ = 0;
  notifyScan();
}

void RemoteBrowserSession::stopScan() {
  browser_.stopScan();
  dueMs_ = 0;
}

void RemoteBrowserSession::tick() {
  const double now = app_.clock().nowMs();
  if (now < dueMs_) return;
  const int finishedBefore = browser_.scansFinished();
  std::vector<int> rows;
  const int interval = browser_.passTick(&rows);
  // Due again on the tick that comes `interval` later, whatever the tick's own jitter.
  dueMs_ = now + interval - Application::kTickMs / 2;
  if (rows.size() > static_cast<size_t>(browser_.rowCount()))
    rows.resize(static_cast<size_t>(browser_.rowCount()));
  changedRows_.insert(changedRows_.end(), rows.begin(), rows.end());
  if (changedRows_.size() > static_cast<size_t>(4 * browser_.rowCount())) {
    // Nobody took them: every row once is all a window can need.
    changedRows_.clear();
    for (int i = 0; i < browser_.rowCount(); ++i) changedRows_.push_back(i);
  }
  if (browser_.scansFinished() != finishedBefore) notifyScan();
}

std::vector<int> RemoteBrowserSession::takeChangedRows() {
  std::vector<int> rows;
  rows.swap(changedRows_);
  return rows;
}

}  // namespace busprobe
