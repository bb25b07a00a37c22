#include "app/node_scan_session.h"

#include "app/application.h"

namespace busprobe {

NodeScanSession::NodeScanSession(Application& app) : app_(app), scanner_(app.sdoPort()) {
  app.frameConsumers().install(FrameConsumerSlot::kNodeScanner, [this](const CanFrame&) { handleFrame(); });
}

void NodeScanSession::handleFrame() { stepUnlessClientInUse(); }

void NodeScanSession::idle() { stepUnlessClientInUse(); }

// The scanner shares the one client channel with the browsers, the firmware updater and scripts.
// While one of their transfers runs (its wait pumps the frames and the tick that reach here), a
// step would set the channel up for the scanner's own read, and the waiting caller would take the
// scanner's answer, or none, for its own. The scanner's own wait is kept out by the scanner.
void NodeScanSession::stepUnlessClientInUse() {
  if (!scanner_.active() || app_.inSdoWait() || app_.canopen().sdo().client().busy()) return;
  scanner_.step();
}

std::string NodeScanSession::infoLine() const { return scanner_.infoText(app_.settings().bus[0].baudrate); }

std::vector<std::string> NodeScanSession::reportLines() const {
  std::vector<std::string> lines;
  for (std::string line : scanner_.lines()) {
    while (!line.empty() && line.back() == ' ') line.pop_back();
    lines.push_back(std::move(line));
  }
  lines.push_back(infoLine());
  return lines;
}

}  // namespace busprobe
