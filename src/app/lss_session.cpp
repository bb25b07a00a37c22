#include "app/lss_session.h"

#include "app/application.h"
#include "canopen/lss_explainer.h"

namespace busprobe {

LssSession::LssSession(Application& app)
    : app_(app),
      master_(app.clock(),
              [this](CanFrame& frame) {
                return app_.TransmitFrame(frame, feedBack() ? kTxLoopback : 0u);
              }),
      slave_(
          app.clock(),
          // While the master scans its own slave, the answers must come back to it as well.
          [this](CanFrame& frame) { return app_.TransmitFrame(frame, feedBack() ? kTxLoopback : 0u); },
          [this](const std::string& line) { app_.messages().PrintMessage("%s", line.c_str()); }) {
  app.frameConsumers().install(FrameConsumerSlot::kLss, [this](const CanFrame& frame) { handleFrame(frame); });
  app.tickSteps().install(TickSlot::kLss, [this](const TickContext&) { tick(); });
  app.canopen().explainer().setLssExplainer(
      [](const CanFrame& frame, bool transmitted, char* out, size_t capacity) {
        return ExplainLssFrame(frame, transmitted, out, capacity);
      });
}

LssSettings& LssSession::settings() { return app_.settings().lss; }

bool LssSession::feedBack() const {
  return master_.running() && (master_.options().masterOptions & kLssIncludeBuiltInSlave) != 0;
}

LssMasterOptions LssSession::optionsFromSettings() const {
  const LssSettings& s = app_.settings().lss;
  LssMasterOptions o;
  o.masterOptions = static_cast<uint32_t>(s.masterOptions);
  o.wantedFirstNodeId = s.wantedFirstNodeId;
  o.wantedBitRateKbit = s.wantedCanBaudrate;
  o.scanDelayUs = static_cast<uint32_t>(s.scanDelayUs < 0 ? 0 : s.scanDelayUs);
  return o;
}

void LssSession::loadSlaveIdentity() { slave_.setIdentity(LssIdentityFromDictionary(app_.canopen().local().entries)); }

void LssSession::start(const LssMasterOptions& options) {
  loadSlaveIdentity();
  master_.LssMasterStart(options);
  stepMaster();
}

void LssSession::stepMaster() {
  if (master_.running()) master_.LssMasterStep();
}

void LssSession::handleFrame(const CanFrame& frame) {
  const uint32_t identifier = frame.identifier();
  const bool lssId = !frame.extended() && (identifier == kLssMasterToSlaveId || identifier == kLssSlaveToMasterId);
  // The built-in slave is silent when the user switched it off.
  if (lssId && app_.settings().lss.slaveEnabled()) slave_.handleFrame(frame);
  const bool nmtOrLss = lssId || (!frame.extended() && identifier >= 0x701 && identifier <= 0x77F);
  if (!nmtOrLss && master_.idle()) return;
  if (master_.LssHandleFrame(frame)) stepMaster();
}

void LssSession::tick() {
  slave_.tick();
  stepMaster();
}

std::string LssSession::infoLine() const { return master_.infoLine(app_.settings().bus[0].baudrate); }

std::vector<std::string> LssSession::reportLines() const {
  std::vector<std::string> lines = master_.resultLines();
  lines.push_back(infoLine());
  return lines;
}

}  // namespace busprobe
