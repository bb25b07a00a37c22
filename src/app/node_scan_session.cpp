#include "app/node_scan_session.h"

#include "app/application.h"

namespace busprobe {

NodeScanSession::NodeScanSession(Application& app) : app_(app), scanner_(app.sdoPort()) {
  app.frameConsumers().install(FrameConsumerSlot::kNodeScanner, [this](const CanFrame&) { handleFrame(); });
}

void NodeScanSession::handleFrame() {
  if (scanner_.active()) scanner_.step();
}

void NodeScanSession::idle() {
  if (scanner_.active()) scanner_.step();
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
