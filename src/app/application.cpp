#include "app/application.h"

#include <clocale>
#include <cstdio>
#include <ctime>
#include <filesystem>

#include "app/config_file.h"

namespace busprobe {

namespace {
const char* const kStepNames[] = {"Init0", "", "Init1", "", "Init2"};

bool HasExtension(const std::string& name, const char* ext) {
  size_t n = std::char_traits<char>::length(ext);
  if (name.size() < n) return false;
  for (size_t i = 0; i < n; ++i) {
    char a = name[name.size() - n + i];
    if (a >= 'A' && a <= 'Z') a = static_cast<char>(a - 'A' + 'a');
    if (a != ext[i]) return false;
  }
  return true;
}
}  // namespace

Application::Application(UserInterface& ui, Clock& clock, AppOptions options)
    : ui_(ui),
      clock_(clock),
      options_(std::move(options)),
      messages_(ui),
      ucan_(std::make_unique<Ucan>(clock, deferred_)),
      history_(new CanFrame[kHistorySize]) {
  messages_.setSecondsSource([this] { return ucan_->clockSeconds(); });
  if (options_.virtualBus) ucan_->setVirtualBus(options_.virtualBus);
  ucan_->setPrinters([this](const std::string& line) { messages_.PrintCanMessage("%s", line.c_str()); },
                     [this](const std::string& line) { messages_.printText(line); });
  ucan_->setRelayTransmit([this](CanFrame& frame) { return TransmitFrame(frame) == 1; });
}

Application::~Application() {
  if (!shutDown_) ucan_->UCAN_Exit();
}

std::string Application::caption() const {
  return "Busprobe" + InstanceCaptionSuffix(instanceNumber());
}

std::string Application::resolvePath(const std::string& path) const {
  if (path.empty() || path[0] == '/') return path;
  return options_.configDir + "/" + path;
}

void Application::startUp() {
  lock_ = std::make_unique<InstanceLock>(options_.lockDir);
  // Number formatting always uses '.', whatever locale the environment asks for.
  std::setlocale(LC_NUMERIC, "C");

  iniPath_ = BuildIniFileName(options_.configDir, instanceNumber());
  LoadInterfaceSettings(iniPath_, interfaceSettings_);
  LoadSoundSettings(iniPath_, settings_);
  LoadMainSettings(iniPath_, settings_);
  LoadMainWindowSettings(iniPath_, windowSettings_, instanceNumber());
  messages_.setMaxLines(settings_.display.maxWindowLines);

  step_ = kStepInit0;
  lastDecimalCheckMs_ = clock_.nowMs();
}

void Application::tick() {
  if (inTick_ || shutDown_) return;
  inTick_ = true;
  ++tickCount_;
  const double now = ucan_->clockSeconds();

  drainDeferredMessages();
  phase_ = (phase_ + 1) & 3;

  if (step_ < kStepRunning) {
    runStartupStep();
  } else {
    runningWork(now);
  }
  inTick_ = false;
}

void Application::runStartupStep() {
  if (step_ == kStepInit0 || step_ == kStepInit1 || step_ == kStepInit2) ui_.statusLabel(kStepNames[step_]);
  switch (step_) {
    case kStepInit0: {
      startupInProgress_ = true;
      const std::string file = resolvePath(settings_.currFile);
      if (!file.empty() && commandFile_.load(file)) {
        messages_.PrintMessage("Loaded Busprobe command file from \"%s\" .", file.c_str());
        ui_.commandFileLoaded();
      } else {
        commandFile_.setPath(file);
      }
      commandFile_.setModified(false);
      break;
    }
    case kStepFirstRun:
      windowSettings_.firstRun = 0;
      break;
    case kStepInit1:
      if (instanceNumber() > 0) {
        messages_.PrintMessage("Warning: Multiple program instances running !");
        messages_.PrintMessage("         This may cause CAN DRIVER problems !");
      }
      break;
    case kStepTranslate:
      break;
    case kStepInit2:
      initInterface();
      ui_.statusLabel("");
      break;
  }
  ++step_;
}

void Application::initInterface() {
  for (ErrorFrameWatch& w : errorWatch_) w = ErrorFrameWatch{};
  {
    std::lock_guard<std::recursive_mutex> lock(ucan_->lock());
    if (!ucan_->UCAN_Init(interfaceSettings_)) {
      messages_.PrintMessage("Error: %s", ucan_->lastError().c_str());
      ucan_->clearLastError();
    } else {
      printPendingCanError();
    }
  }
  for (int bus = 0; bus < 2; ++bus) {
    const CanBusSettings& b = settings_.bus[bus];
    if (b.baudrate <= 0) continue;
    if (ucan_->initController(bus, b.baudrate, 2, 0, b.flexDataRate)) ucan_->setReceiveFilter(bus, 0, 0);
  }
  processArguments();
}

void Application::processArguments() {
  for (const std::string& arg : options_.arguments) {
    if (HasExtension(arg, ".hex") || HasExtension(arg, ".bin") || HasExtension(arg, ".bi2")) {
      messages_.PrintMessage("Cannot open \"%s\": this build has no firmware updater yet.", arg.c_str());
    } else if (HasExtension(arg, ".bpr") || HasExtension(arg, ".txt")) {
      if (commandFile_.load(arg)) {
        settings_.currFile = arg;
        messages_.PrintMessage("Loaded Busprobe command file from \"%s\" .", arg.c_str());
        ui_.commandFileLoaded();
      } else {
        messages_.PrintMessage("Could not read command file \"%s\" .", arg.c_str());
      }
    }
  }
}

void Application::printPendingCanError() {
  if (ucan_->lastError().empty()) return;
  messages_.PrintCanMessage("%s", ucan_->takeLastError().c_str());
}

void Application::runningWork(double now) {
  startupInProgress_ = false;
  // Remote-control mailbox: handled here once remote control exists.

  if (ProcessReceivedFrames(kDefaultPumpLimit) == 0) {
    // idle side of traffic filters and the node scanner come here
  }
  reportCanErrors();

  if (phase_ & 1) checkDecimalSeparator();

  ProcessReceivedFrames(kDefaultPumpLimit);
  (void)now;

  if (phase_ > 0) ui_.refreshPhase(phase_);
  reportErrorFrames();
}

void Application::drainDeferredMessages() {
  uint32_t dropped = 0;
  for (const std::string& line : deferred_.drain(&dropped)) messages_.printText(line);
  if (dropped > 0) messages_.PrintMessage("CAN: (%u further driver messages were lost)", dropped);
}

int Application::ProcessReceivedFrames(int maxFrames) {
  if (inPump_) return 0;
  inPump_ = true;
  if (maxFrames < 1) maxFrames = kDefaultPumpLimit;
  int handled = 0;
  CanFrame frame;
  // A CAN-via-UDP server's relay thread sends under the same lock.
  std::lock_guard<std::recursive_mutex> lock(ucan_->lock());
  while (handled < maxFrames) {
    if (!loopback_.pop(frame) && !ucan_->receiveOne(frame)) break;
    ++handled;
    history_[historyHead_] = frame;
    historyHead_ = (historyHead_ + 1) & (kHistorySize - 1);
    if (historyCount_ < kHistorySize) ++historyCount_;
    newestFrameTime_ = frame.timestamp / 1000.0;
    // Consumers in their fixed order follow here: script frame wait, trigger, counters, Rx line,
    // Rx list, logger, SDO, LSS, bootloader, terminal, node scanner, external listeners.
  }
  framesPumped_ += static_cast<uint64_t>(handled);
  inPump_ = false;
  return handled;
}

const CanFrame& Application::historyFrame(size_t back) const {
  size_t index = (historyHead_ + kHistorySize - 1 - (back % kHistorySize)) & (kHistorySize - 1);
  return history_[index];
}

int Application::TransmitFrame(CanFrame& frame) {
  const int bus = frame.bus();
  int ok = 0;
  {
    std::lock_guard<std::recursive_mutex> lock(ucan_->lock());
    if (bus < 2 && (lastReportedStatus_[bus].load() & kUcanBusOff)) {
      ucan_->setError("UCAN_Transmit: CAN%d is BUS-OFF, frame not sent !", bus + 1);
    } else {
      ok = ucan_->UCAN_Transmit(bus, frame);
      if (!ok) {
        clock_.sleepMs(10);
        ucan_->clearLastError();
        ok = ucan_->UCAN_Transmit(bus, frame);
      }
    }
    if (ok && (frame.fdFlags & CanFrame::kLoopback)) loopback_.push(frame);
  }
  return ok;
}

void Application::reportCanErrors() {
  UcanErrorEntry e;
  while (ucan_->popErrorHistory(e)) {
    messages_.PrintMessage("CAN-Error-History: ti=%lu, flags=0x%2.2x, reg=0x%2.2x, ext=0x%2.2x, line=%d (%s)",
                           static_cast<unsigned long>(e.timeMs), e.status, e.reg, e.ext, e.line, e.tag);
  }
  for (int bus = 0; bus < 2; ++bus) {
    if (settings_.bus[bus].baudrate <= 0) continue;
    uint8_t status;
    {
      std::lock_guard<std::recursive_mutex> lock(ucan_->lock());
      status = static_cast<uint8_t>(ucan_->UCAN_Status(bus));
      printPendingCanError();
    }
    if (status == lastReportedStatus_[bus].load()) continue;
    lastReportedStatus_[bus] = status;
    std::string text;
    char head[64];
    std::snprintf(head, sizeof head,
                  "t=%lu: CAN-Status changed: 0x%4.4x = ", static_cast<unsigned long>(ucan_->clockMsWhole()),
                  status);
    text = head;
    if (status == 0) text += " all_ok";
    static constexpr struct {
      uint8_t bit;
      const char* name;
    } kBits[] = {{0x02, " RX_OVF"},   {0x04, " TX_OVF"},  {0x08, " IRQ_FAIL"}, {0x10, " TX_ERROR"},
                 {0x20, " BUSERROR"}, {0x40, " WARNING"}, {0x80, " BUS_OFF"},  {0x01, " + other error(s)"}};
    for (const auto& b : kBits)
      if (status & b.bit) text += b.name;
    messages_.printText(text);
  }
  const uint64_t dropped = ucan_->droppedFrames();
  if (dropped != lastDroppedReported_) {
    messages_.PrintCanMessage("%llu received frames lost so far (receive queue full) !",
                              static_cast<unsigned long long>(dropped));
    lastDroppedReported_ = dropped;
  }
}

void Application::reportErrorFrames() {
  if (!(settings_.display.displayOptions & 1) || messages_.stopped) return;
  const double nowMs = ucan_->clockMs();
  for (int bus = 0; bus < 2; ++bus) {
    ErrorFrameWatch& w = errorWatch_[bus];
    const uint32_t count = ucan_->errorFrameCount(bus);
    if (count <= w.lastReported) continue;
    if (nowMs - w.lastReportMs <= 1000.0 && nowMs >= w.lastReportMs) continue;
    messages_.PrintMessage("t=%lu: ERROR FRAME RECEIVED (#%ld) on CAN%d !", static_cast<unsigned long>(nowMs),
                           static_cast<long>(count), bus + 1);
    w.lastReported = count;
    w.lastReportMs = nowMs;
  }
}

void Application::checkDecimalSeparator() {
  const lconv* lc = std::localeconv();
  if (lc && lc->decimal_point && lc->decimal_point[0] != '.') {
    char when[64];
    std::time_t t = std::time(nullptr);
    std::strftime(when, sizeof when, "%Y-%m-%d %H:%M:%S", std::localtime(&t));
    messages_.PrintMessage("%s: Some crappy function modified 'DecimalSeparator' again ('%c') !", when,
                           lc->decimal_point[0]);
    std::setlocale(LC_NUMERIC, "C");
  }
}

void Application::shutDown(bool save) {
  if (shutDown_) return;
  ui_.noticeShow("this may be TERRIBLY slow due to some stupid antivirus software ...");

  // Player, logger and tool windows close here once they exist.

  if (commandFile_.modified() && !commandFile_.path().empty()) {
    char question[1024];
    std::snprintf(
        question, sizeof question,
        "Command window may have been changed :\n\n  %s\n\nSave the modified file under this name before "
        "closing ?",
        commandFile_.path().c_str());
    if (ui_.askYesNo("Busprobe terminating", question, false)) {
      std::string error;
      if (!commandFile_.save(commandFile_.path(), &error)) messages_.PrintMessage("%s", error.c_str());
    }
  }

  if (save) {
    ui_.noticeUpdate("saving USER data ...");
    windowSettings_.firstRun = 0;
    std::string error;
    bool ok = SaveMainWindowSettings(iniPath_, windowSettings_, &error) &&
              SaveSoundSettings(iniPath_, settings_, &error) && SaveMainSettings(iniPath_, settings_, &error);
    if (!ok) {
      messages_.PrintMessage("%s", error.c_str());
      std::fprintf(stderr, "busprobe: %s\n", error.c_str());
    }
  }

  ui_.noticeUpdate("closing child windows ...");

  if (save) {
    ui_.noticeUpdate("saving machine-dependent settings ...");
    std::string error;
    if (!SaveInterfaceSettings(iniPath_, interfaceSettings_, &error)) {
      messages_.PrintMessage("%s", error.c_str());
      std::fprintf(stderr, "busprobe: %s\n", error.c_str());
    }
  }

  ui_.noticeUpdate("closing CAN ...");
  {
    std::lock_guard<std::recursive_mutex> lock(ucan_->lock());
    ucan_->UCAN_Exit();
  }
  drainDeferredMessages();
  ui_.noticeUpdate("cleaning up ...");
  ui_.noticeHide();
  shutDown_ = true;
}

}  // namespace busprobe
