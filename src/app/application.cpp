#include "app/application.h"

#include <clocale>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <filesystem>

#include "app/config_file.h"
#include "app/script_binding.h"
#include "app/script_extensions.h"
#include "interp/script_commands.h"
#include "interp/variable_file.h"

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

// The logger as the traffic paths see it.
class Application::LoggerSink final : public TrafficLog {
 public:
  explicit LoggerSink(Logger& logger) : logger_(logger) {}
  bool isOpen() const override { return logger_.isOpen(); }
  bool isAscii() const override { return logger_.format() == kLogAscii; }
  void writeText(std::string_view text) override { logger_.WriteLogText(text); }
  void writeAscFrame(const CanFrame& frame, char direction) override {
    logger_.WriteAscFrame(frame, direction);
  }

 private:
  Logger& logger_;
};

Application::Application(UserInterface& ui, Clock& clock, AppOptions options)
    : ui_(ui),
      clock_(clock),
      options_(std::move(options)),
      messages_(ui),
      ucan_(std::make_unique<Ucan>(clock, deferred_)),
      canNames_(settings_.canMessages),
      history_(new CanFrame[kHistorySize]) {
  messages_.setSecondsSource([this] { return ucan_->clockSeconds(); });
  if (options_.virtualBus) ucan_->setVirtualBus(options_.virtualBus);
  ucan_->setPrinters([this](const std::string& line) { messages_.PrintCanMessage("%s", line.c_str()); },
                     [this](const std::string& line) { messages_.printText(line); });

  const auto printPlain = [this](const std::string& line) { messages_.printText(line); };
  const auto printCan = [this](const std::string& line) { messages_.PrintCanMessage("%s", line.c_str()); };
  traffic_ = std::make_unique<TrafficPaths>(*ucan_, clock_, settings_, printPlain, printCan);
  logger_ = std::make_unique<Logger>(printPlain);
  logger_->setNameTable(&canNames_);
  loggerSink_ = std::make_unique<LoggerSink>(*logger_);
  traffic_->setLog(loggerSink_.get());

  audio_ = std::make_unique<AudioSignalOutput>(settings_);
  TriggerSources sources;
  sources.receivedFramesBus1 = [this] {
    return static_cast<uint64_t>(static_cast<uint32_t>(statistics().received(0)));
  };
  sources.nowMs = [this] { return ucan_->clockMs(); };
  trigger_ = std::make_unique<Trigger>(
      std::move(sources), [this](bool stopped) { setBothDisplaysStopped(stopped); }, audio_.get());

  player_ = std::make_unique<LogPlayer>(
      clock_, settings_.player, [this](std::string_view name) { return canNames_.idForName(name); },
      [this](CanFrame& frame, int options) { return TransmitFrame(frame, static_cast<unsigned>(options)); });

  ucan_->setRelayTransmit([this](CanFrame& frame) { return TransmitFrame(frame); });

  interpState_ = std::make_unique<InterpState>();
  scriptBinding_ = std::make_unique<ScriptBinding>(*this);
  RegisterTrafficScriptWords(*this, scriptBinding_->extensionTable());
  program_ = std::make_unique<ScriptProgram>(*interpState_, *scriptBinding_);
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

  traffic_->rxList().reset(settings_.display.rxListType);
  traffic_->txList().reset(settings_.display.txListType);
  if (ui_.wantsTrafficLines())
    traffic_->setLineSink(
        [this](bool transmitted, std::string_view line) { ui_.trafficLine(transmitted, line); });
  statistics().ResetMessageCounters(ucan_->clockSeconds());
  trigger_->configure(settings_.trigger);
  trigger_->reset();
  refreshTrafficHeaders(true, true);
  program_->setConfiguredTxDelayMs(settings_.interp.txDelay);

  step_ = kStepInit0;
  lastDecimalCheckMs_ = clock_.nowMs();
}

void Application::tick() {
  if (inTick_ || shutDown_) return;
  inTick_ = true;
  ++tickCount_;
  // On the script's clock (the CAN clock): the slice deadline is compared with its reads.
  const double tickStartMs = scriptBinding_->nowMs();

  drainDeferredMessages();
  phase_ = (phase_ + 1) & 3;

  if (step_ < kStepRunning) {
    runStartupStep();
  } else {
    runningWork(tickStartMs);
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
      interpState_->clearAll();
      if (settings_.interp.saveVarValues != 0) LoadVariables(*interpState_, *scriptBinding_, variablesPath());
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
  statistics().resetErrorFrameWatch();
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

void Application::runScriptSlice(double tickStartMs) {
  program_->setConfiguredTxDelayMs(settings_.interp.txDelay);
  if (program_->running()) {
    scriptWasRunning_ = true;
    program_->handleEvents();
    program_->runSlice(tickStartMs * 0.001 + kTickSliceSec);
  }
  const bool running = program_->running();
  if (scriptWasRunning_ && !running) {
    ui_.scriptEnded(program_->stoppedByError() ? program_->lastErrorText() : std::string());
  }
  scriptWasRunning_ = running;
}

void Application::ScriptTimerTick() {
  if (inTick_ || shutDown_ || !running() || !program_->running()) return;
  program_->runTimerSlice();
}

void Application::runningWork(double tickStartMs) {
  startupInProgress_ = false;
  // Remote-control mailbox: handled here once remote control exists.

  if (ProcessReceivedFrames(kDefaultPumpLimit) == 0) {
    // idle side of traffic filters and the node scanner come here
  }
  trigger_->TriggerOnFrame(nullptr);

  const int baud[2] = {settings_.bus[0].baudrate, settings_.bus[1].baudrate};
  statistics().ReportCanErrors(baud, traffic_->loopbackDropped());
  trigger_->tick();
  scriptBinding_->tickTone();

  if (phase_ & 1) checkDecimalSeparator();

  ProcessReceivedFrames(kDefaultPumpLimit);
  runScriptSlice(tickStartMs);

  refreshTrafficHeaders(phase_ == 1, phase_ == 3);
  if (phase_ > 0) ui_.refreshPhase(phase_);

  traffic_->drainForeignTransmissions();
  notifyChangedLists();

  if (player_->takeUnknownSymbolNotice())
    ui_.showMessageBox(kPlayerUnknownSymbolsTitle, kPlayerUnknownSymbolsText);

  if ((settings_.display.displayOptions & 1) && !messages_.stopped)
    statistics().ReportErrorFrames(ucan_->clockMs());
}

void Application::notifyChangedLists() {
  notifyIfChanged(TrafficPaths::kRxList);
  notifyIfChanged(TrafficPaths::kTxList);
}

void Application::notifyIfChanged(int listNumber) {
  const FrameList& list = listNumber == TrafficPaths::kRxList ? traffic_->rxList() : traffic_->txList();
  if (list.modifications() == notifiedModifications_[listNumber]) return;
  notifiedModifications_[listNumber] = list.modifications();
  ui_.frameListChanged(listNumber);
}

void Application::refreshTrafficHeaders(bool titles, bool status) {
  TrafficHeaders h = headers_;
  const DisplayState& d = traffic_->display();
  const CanDisplaySettings& s = settings_.display;
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
  h.rxCount = "N=" + std::to_string(statistics().receivedTotal());
  h.txCount = "N=" + std::to_string(statistics().sentTotal());
  if (status || h.statusText.empty()) {
    h.statusText = sdoBusy_ ? "SDO busy" : waitLoopRunning_ ? "processing" : "-";
    // Even seconds show the player, odd ones the recorder, so both blink when both run.
    const int64_t second = static_cast<int64_t>(std::floor(clock_.nowMs() / 1000.0));
    if (second % 2 == 0) {
      const PlayerState p = player_->state();
      h.loggerLampRgb = p == PlayerState::kPlaying     ? 0x00FF00u
                        : p == PlayerState::kRewinding ? 0xFFFF00u
                                                       : 0xA0A0A4u;
    } else {
      h.loggerLampRgb = logger_->isOpen() ? 0xFF0000u : 0xA0A0A4u;
    }
  }
  if (h == headers_) return;
  headers_ = std::move(h);
  ui_.trafficHeadersChanged(headers_);
}

void Application::setBothDisplaysStopped(bool stopped) {
  traffic_->display().rxDisplayStopped = stopped;
  traffic_->display().txDisplayStopped = stopped;
}

void Application::toggleRxStopped() {
  traffic_->display().rxDisplayStopped = !traffic_->display().rxDisplayStopped;
  refreshTrafficHeaders(true, false);
}

void Application::toggleTxStopped() {
  traffic_->display().txDisplayStopped = !traffic_->display().txDisplayStopped;
  refreshTrafficHeaders(true, false);
}

void Application::togglePause() {
  setBothDisplaysStopped(!traffic_->display().txDisplayStopped);
  refreshTrafficHeaders(true, false);
}

void Application::setRxTxCombined(bool on) {
  settings_.display.rxTxCombined = on ? 1 : 0;
  refreshTrafficHeaders(true, false);
}

void Application::setListType(int listNumber, int type) {
  if (listNumber == TrafficPaths::kRxList) settings_.display.rxListType = type;
  if (listNumber == TrafficPaths::kTxList) settings_.display.txListType = type;
  refreshTrafficHeaders(true, false);
}

bool Application::toggleListType(int listNumber) {
  // A wait loop of the interpreter may be walking the list: the label clicks leave it alone.
  if (waitLoopRunning_) return false;
  const int current =
      listNumber == TrafficPaths::kRxList ? settings_.display.rxListType : settings_.display.txListType;
  setListType(listNumber, current == kListSorted ? kListHistory : kListSorted);
  return true;
}

void Application::EraseList(int listNumber) {
  if (listNumber == 4) {
    messages_.clear();
    return;
  }
  if (listNumber != TrafficPaths::kRxList && listNumber != TrafficPaths::kTxList) return;
  traffic_->EraseList(listNumber);
  notifyIfChanged(listNumber);
}

void Application::ResetMessageCounters() {
  statistics().ResetMessageCounters(ucan_->clockSeconds());
}

void Application::PrintBusStatistics() {
  const int baud[2] = {settings_.bus[0].baudrate, settings_.bus[1].baudrate};
  statistics().PrintBusStatistics(baud, ucan_->clockSeconds());
}

bool Application::reinitController() {
  const CanBusSettings& b = settings_.bus[0];
  std::lock_guard<std::recursive_mutex> lock(ucan_->lock());
  const bool ok = ucan_->initController(0, b.baudrate, 2, 0, b.flexDataRate);
  if (ok) ucan_->setReceiveFilter(0, 0, 0);
  printPendingCanError();
  return ok;
}

void Application::ResetCanHardware() {
  if (!reinitController()) messages_.PrintCanMessage("Error: Could not reset CAN controller !");
  ResetMessageCounters();
}

std::string Application::variablesPath() const {
  return options_.configDir + "/current_vars.txt";
}

void Application::PrintVariables() {
  for (const std::string& line : ListVariablesByName(*interpState_)) messages_.printText(line);
}

void Application::PrintCallStack() {
  const std::vector<std::string> lines = program_->callStackListing();
  if (lines.empty()) messages_.printText("CallStack is empty.");
  for (const std::string& line : lines) messages_.printText(line);
}

void Application::setCommentProvider(TrafficPaths::CommentProvider provider) {
  traffic_->setCommentProvider(std::move(provider));
}

bool Application::PlayerTick() {
  return player_->PlayerTick();
}

void Application::stopPlayerAndRecorder() {
  player_->StopPlayer();
  logger_->CloseLogFile();
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
  traffic_->drainForeignTransmissions();
  int handled = 0;
  CanFrame frame;
  // A CAN-via-UDP server's relay thread sends under the same lock.
  std::lock_guard<std::recursive_mutex> lock(ucan_->lock());
  while (handled < maxFrames) {
    if (!traffic_->takeLoopback(frame) && !ucan_->receiveOne(frame)) break;
    ++handled;
    history_[historyHead_] = frame;
    historyHead_ = (historyHead_ + 1) & (kHistorySize - 1);
    if (historyCount_ < kHistorySize) ++historyCount_;
    newestFrameTime_ = frame.timestamp / 1000.0;
    scriptBinding_->noteReceived(frame);
    const bool endedWait = program_->offerFrame(frame);
    trigger_->TriggerOnFrame(&frame);
    traffic_->countReceived(frame);
    traffic_->showReceived(frame);
    // Then, in this order: SDO client and servers, LSS master, bootloader, text terminal, node
    // scanner, external listeners.
    if (endedWait && program_->running())
      program_->runSlice(scriptBinding_->nowMs() * 0.001 + kFrameSliceSec);
  }
  framesPumped_ += static_cast<uint64_t>(handled);
  inPump_ = false;
  notifyIfChanged(TrafficPaths::kRxList);
  return handled;
}

const CanFrame& Application::historyFrame(size_t back) const {
  size_t index = (historyHead_ + kHistorySize - 1 - (back % kHistorySize)) & (kHistorySize - 1);
  return history_[index];
}

bool Application::TransmitFrame(CanFrame& frame, unsigned options) {
  return traffic_->TransmitFrame(frame, options);
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

  player_->StopPlayer();
  logger_->CloseLogFile();
  // Tool windows close here once they exist.

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

  if (settings_.interp.saveVarValues != 0) {
    ui_.noticeUpdate("saving VARIABLES ...");
    SaveVariables(*interpState_, variablesPath());
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
