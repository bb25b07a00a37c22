#include "app/application.h"

#include <clocale>
#include <cmath>
#include <cstdio>
#include <ctime>

#include "app/config_file.h"
#include "app/script_binding.h"
#include "app/script_extensions.h"
#include "app/sdo_script_commands.h"
#include "app/sdo_wait_port.h"
#include "base/atomic_file.h"
#include "interp/variable_file.h"
#include "traffic/record_play_guard.h"

namespace busprobe {

namespace {

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

// One row per start-up step, in step order: the name shown in the status label while it runs
// (none for the silent steps) and what it does.
struct Application::StartupStepRow {
  const char* label;
  void (Application::*run)();
};

const Application::StartupStepRow Application::kStartupSteps[] = {
    {"Init0", &Application::stepInit0}, {nullptr, &Application::stepFirstRun},
    {"Init1", &Application::stepInit1}, {nullptr, &Application::stepTranslate},
    {"Init2", &Application::stepInit2},
};

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
      runLoop_(clock),
      canNames_(settings_.canMessages) {
  messages_.setTranslator(&translator_);
  ucan_->setTranslator(&translator_);
  ui_.setTranslator(&translator_);
  messages_.setSecondsSource([this] { return ucan_->clockSeconds(); });
  if (options_.virtualBus) ucan_->setVirtualBus(options_.virtualBus);
  for (const CanInterfaceTypeRow& row : options_.interfaceTypes) ucan_->registerInterfaceType(row);
  ucan_->setPrinters([this](const std::string& line) { messages_.PrintCanMessage("%s", line.c_str()); },
                     [this](const std::string& line) { messages_.printText(line); });
  controllers_ = std::make_unique<BusControllers>(*ucan_, messages_, settings_.bus);

  const auto printPlain = [this](const std::string& line) { messages_.printText(line); };
  const auto printCan = [this](const std::string& line) { messages_.PrintCanMessage("%s", line.c_str()); };
  traffic_ = std::make_unique<TrafficPaths>(*ucan_, clock_, settings_.display, settings_.logging, printPlain,
                                            printCan);
  logger_ = std::make_unique<Logger>(printPlain);
  logger_->setNameTable(&canNames_);
  loggerSink_ = std::make_unique<LoggerSink>(*logger_);
  traffic_->setLog(loggerSink_.get());

  audio_ = std::make_unique<AudioSignalOutput>(
      AudioSignalSettings{settings_.interp.soundEnabled, settings_.audioOutputDevice});
  TriggerSources sources;
  sources.receivedFramesBus1 = [this] {
    return static_cast<uint64_t>(static_cast<uint32_t>(traffic_->statistics().received(0)));
  };
  sources.nowMs = [this] { return ucan_->clockMs(); };
  trigger_ = std::make_unique<Trigger>(
      std::move(sources), [this](bool stopped) { trafficDisplay_->setBothStopped(stopped); }, audio_.get());

  player_ = std::make_unique<LogPlayer>(
      clock_, settings_.player, [this](std::string_view name) { return canNames_.idForName(name); },
      [this](CanFrame& frame, int options) { return TransmitFrame(frame, static_cast<unsigned>(options)); });
  // Neither may take the file the other holds, whichever is started first and from wherever.
  logger_->setOpenCheck(
      [this](const std::string& path) { return CheckRecordingInto(path, player_->fileIdentity()); });
  player_->setOpenCheck(
      [this](const std::string& path) { return CheckPlayingFrom(path, logger_->fileIdentity()); });

  trafficDisplay_ =
      std::make_unique<TrafficDisplay>(*traffic_, settings_.display, *logger_, *player_, clock_);
  trafficDisplay_->setNotifications(
      [this] { ui_.changed(UiTopic::kTrafficHeaders); },
      [this](int list) { ui_.changed(list == TrafficPaths::kRxList ? UiTopic::kRxList : UiTopic::kTxList); });

  ucan_->setRelayTransmit([this](CanFrame& frame) { return TransmitFrame(frame); });

  canopen_ = std::make_unique<CanopenSession>(settings_.sdo, settings_.dirs, options_.configDir, messages_, clock_,
                                              [this](CanFrame& frame) { return TransmitFrame(frame); });
  sdoPort_ = std::make_unique<SdoWaitPort>(*this);
  traffic_->setCommentProvider([this](const CanFrame& frame, bool received, char* out, size_t capacity) {
    return canopen_->explainer().commentFor(frame, received, out, capacity);
  });

  interpState_ = std::make_unique<InterpState>();
  scriptBinding_ = std::make_unique<ScriptBinding>(*this);
  RegisterTrafficScriptWords(*this, scriptBinding_->extensionTable());
  RegisterCanopenScriptWords(*this, scriptBinding_->extensionTable());
  program_ = std::make_unique<ScriptProgram>(*interpState_, *scriptBinding_);
  scripts_ = std::make_unique<ScriptSession>(*program_, *interpState_, commandFile_, messages_, ui_,
                                             settings_.interp, options_.configDir + "/current_vars.txt");

  wireFrameConsumers();
  wireTickSteps();
  lss_ = std::make_unique<LssSession>(*this);
  remoteBrowser_ = std::make_unique<RemoteBrowserSession>(*this);
  nodeScan_ = std::make_unique<NodeScanSession>(*this);
  wireRunLoop();
  ui_.attachCore(*this);
}

Application::~Application() {
  if (!shutDown_) ucan_->UCAN_Exit();
}

// The road of a received frame. The history has taken it already (the pump's own bookkeeping).
void Application::wireFrameConsumers() {
  consumers_.install(FrameConsumerSlot::kScriptWait, [this](const CanFrame& frame) {
    scriptBinding_->noteReceived(frame);
    if (program_->offerFrame(frame)) frameEndedWait_ = true;
  });
  consumers_.install(FrameConsumerSlot::kTrigger,
                     [this](const CanFrame& frame) { trigger_->TriggerOnFrame(&frame); });
  consumers_.install(FrameConsumerSlot::kCounters,
                     [this](const CanFrame& frame) { traffic_->countReceived(frame); });
  consumers_.install(FrameConsumerSlot::kTrafficDisplay,
                     [this](const CanFrame& frame) { traffic_->showReceived(frame); });
  consumers_.install(FrameConsumerSlot::kLog,
                     [this](const CanFrame& frame) { traffic_->logReceived(frame); });
  consumers_.install(FrameConsumerSlot::kSdo,
                     [this](const CanFrame& frame) { canopen_->sdo().ProcessFrame(frame); });
  consumers_.install(FrameConsumerSlot::kScriptSlice, [this](const CanFrame&) {
    if (!frameEndedWait_) return;
    frameEndedWait_ = false;
    scripts_->frameSlice(ucan_->clockMs() * 0.001 + kFrameSliceSec);
  });
}

// The running tick, in the order of TickSlot.
void Application::wireTickSteps() {
  tickSteps_.install(TickSlot::kReceive, [this](const TickContext&) {
    if (pumpWithinBudget() == 0) nodeScan_->idle();
  });
  tickSteps_.install(TickSlot::kCanErrors, [this](const TickContext&) {
    const int baud[2] = {settings_.bus[0].baudrate, settings_.bus[1].baudrate};
    traffic_->statistics().ReportCanErrors(baud, traffic_->loopbackDropped());
  });
  tickSteps_.install(TickSlot::kTrigger, [this](const TickContext&) {
    trigger_->TriggerOnFrame(nullptr);
    trigger_->tick();
  });
  tickSteps_.install(TickSlot::kSound, [this](const TickContext&) { scriptBinding_->tickTone(); });
  // The engine keeps its own 100 ms rhythm; the odd phases only ask.
  tickSteps_.install(TickSlot::kSdoTimeouts, [this](const TickContext& tick) {
    if (tick.phase & 1) canopen_->sdo().SdoTimeoutTick();
  });
  tickSteps_.install(TickSlot::kLocaleCheck, [this](const TickContext& tick) {
    if (tick.phase & 1) checkDecimalSeparator();
  });
  // A blocking SDO wait pumps the frames itself, and the script may be the one waiting.
  tickSteps_.install(TickSlot::kReceiveAgain, [this](const TickContext&) {
    if (!inSdoWait()) pumpWithinBudget();
  });
  tickSteps_.install(TickSlot::kScript, [this](const TickContext& tick) {
    if (!inSdoWait()) scripts_->tickSlice(tick.tickStartMs * 0.001 + kTickSliceSec);
  });
  tickSteps_.install(TickSlot::kDisplay, [this](const TickContext& tick) {
    trafficDisplay_->refreshHeaders(tick.phase == 1, tick.phase == 3);
    if (tick.phase > 0) ui_.changed(UiTopic::kTickPhase);
    traffic_->drainForeignTransmissions();
    traffic_->endTick();
    trafficDisplay_->notifyChangedLists();
  });
  tickSteps_.install(TickSlot::kSdoSettings, [this](const TickContext&) { canopen_->applyChangedSettings(); });
  tickSteps_.install(TickSlot::kPlayerNotice, [this](const TickContext&) {
    if (player_->takeUnknownSymbolNotice())
      ui_.showMessageBox(kPlayerUnknownSymbolsTitle, kPlayerUnknownSymbolsText);
  });
  tickSteps_.install(TickSlot::kErrorFrames, [this](const TickContext&) {
    if ((settings_.display.displayOptions & 1) && !messages_.stopped)
      traffic_->statistics().ReportErrorFrames(ucan_->clockMs());
  });
}

namespace {
// The next time of a periodic job after it ran: one that fell behind runs once and then keeps its
// period from now, rather than catching up with a burst.
void AdvanceSchedule(double& nextMs, double nowMs, double periodMs) {
  nextMs = (nextMs == -RunLoop::kNever ? nowMs : nextMs) + periodMs;
  if (nextMs < nowMs) nextMs = nowMs;
}
}  // namespace

void Application::wireRunLoop() {
  runLoop_.install(RunJob::kTick, {[this] { return shutDown_ ? RunLoop::kNever : nextTickMs_; },
                                   [this](double now) {
                                     AdvanceSchedule(nextTickMs_, now, kTickMs);
                                     tick();
                                     // The tick took in what was there; the link's own pump comes
                                     // between ticks, so whatever the caller starts after this
                                     // tick (a script's first wcan) sees the frames that follow.
                                     nextLinkPumpMs_ = now + 1.0;
                                   }});
  // A job that is not active forgets its schedule: when it starts again, it runs at once.
  //
  // Over a CAN-via-UDP link every request and its answer cross a process that would otherwise
  // take frames in only on its 50 ms tick: a relayed SDO read then waits a tick per hop. While the
  // link is up, frames are taken in every millisecond instead, at the cost of an empty pump when
  // none came.
  runLoop_.install(RunJob::kLinkPump, {[this] {
                                         const CvUdpEndpoint* link = ucan_->cvudpEndpoint();
                                         const bool active = !shutDown_ && running() && link && link->connected();
                                         if (!active) nextLinkPumpMs_ = -RunLoop::kNever;
                                         return active ? nextLinkPumpMs_ : RunLoop::kNever;
                                       },
                                       [this](double now) {
                                         AdvanceSchedule(nextLinkPumpMs_, now, 1.0);
                                         if (!inTick_) ProcessReceivedFrames(kDefaultPumpLimit);
                                       }});
  runLoop_.install(RunJob::kPlayer,
                   {[this] {
                      // Stepped while it plays, and while its window shows (a
                      // paused player still refreshes the window's labels).
                      const bool active =
                          !shutDown_ && (player_->state() == PlayerState::kPlaying || player_->windowShown());
                      if (!active) nextPlayerStepMs_ = -RunLoop::kNever;
                      return active ? nextPlayerStepMs_ : RunLoop::kNever;
                    },
                    [this](double now) {
                      AdvanceSchedule(nextPlayerStepMs_, now, player_->stepMs());
                      if (player_->PlayerTick()) ui_.changed(UiTopic::kPlayer);
                    }});
  runLoop_.install(RunJob::kScriptTimer, {[this] {
                                            const bool active =
                                                !shutDown_ && running() && program_->running();
                                            if (!active) nextScriptSliceMs_ = -RunLoop::kNever;
                                            return active ? nextScriptSliceMs_ : RunLoop::kNever;
                                          },
                                          [this](double now) {
                                            AdvanceSchedule(nextScriptSliceMs_, now, 1.0);
                                            if (!inTick_) scripts_->timerSlice();
                                          }});
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
  RemoveStaleTempFiles(options_.configDir, IsSavedConfigDirectoryFile);
  {
    // One read for every record; what a missing or unreadable file gives is in config_file.h.
    IniFile ini;
    std::string error;
    const IniFile::LoadResult loaded = ini.load(iniPath_, &error);
    // A FIFO or a device under the configuration's name is worth telling: the settings of this
    // run are the defaults, and they will not be saved over it.
    if (loaded == IniFile::LoadResult::kRefused) messages_.PrintMessage("%s", error.c_str());
    if (loaded == IniFile::LoadResult::kOk || loaded == IniFile::LoadResult::kMissing)
      ReadInterfaceSettings(ini, interfaceSettings_);
    configuredInterface_ = interfaceSettings_;
    ReadSoundSettings(ini, settings_);
    ReadMainSettings(ini, settings_);
    ReadMainWindowSettings(ini, windowSettings_, instanceNumber());
    ReadPlayerWindowSettings(ini, playerWindowSettings_);
    ReadDictionaryBrowserSettings(ini, browserSettings_);
  }
  messages_.setMaxLines(settings_.display.maxWindowLines);

  traffic_->rxList().reset(settings_.display.rxListType);
  traffic_->txList().reset(settings_.display.txListType);
  traffic_->statistics().ResetMessageCounters(ucan_->clockSeconds());
  trigger_->configure(settings_.trigger);
  trigger_->reset();
  trafficDisplay_->refreshHeaders(true, true);
  canopen_->applySettings();
  program_->setConfiguredTxDelayMs(settings_.interp.txDelay);

  step_ = kStepInit0;
}

void Application::tick() {
  if (inTick_ || shutDown_) return;
  inTick_ = true;
  ++tickCount_;
  // On the script's clock (the CAN clock): the slice deadline is compared with its reads.
  const double tickStartMs = ucan_->clockMs();

  drainDeferredMessages();
  phase_ = (phase_ + 1) & 3;

  if (step_ < kStepRunning) {
    runStartupStep();
  } else {
    startupInProgress_ = false;
    tickSteps_.run(TickContext{tickStartMs, phase_});
  }
  inTick_ = false;
}

void Application::runStartupStep() {
  static_assert(sizeof(kStartupSteps) / sizeof(kStartupSteps[0]) == kStepRunning,
                "one row for every start-up step");
  const StartupStepRow& row = kStartupSteps[step_];
  if (row.label) setStatusLabel(row.label);
  (this->*row.run)();
  ++step_;
}

void Application::stepInit0() {
  startupInProgress_ = true;
  const std::string file = resolvePath(settings_.currFile);
  if (!scripts_->loadCommandFile(file, /*quietIfMissing=*/true)) commandFile_.setPath(file);
  commandFile_.setModified(false);
}

void Application::stepFirstRun() {
  windowSettings_.firstRun = 0;
}

void Application::stepInit1() {
  interpState_->clearAll();
  if (settings_.interp.saveVarValues != 0) {
    std::string error;
    if (!LoadVariables(*interpState_, *scriptBinding_, scripts_->variablesPath(), &error) && !error.empty())
      messages_.PrintMessage("%s", error.c_str());
  }
  canopen_->loadLocalDictionary(settings_.dirs.myObjectDictionary, /*quietIfMissing=*/true);
  lss_->loadSlaveIdentity();
  if (instanceNumber() > 0) {
    messages_.PrintMessage("Warning: Multiple program instances running !");
    messages_.PrintMessage("         This may cause CAN DRIVER problems !");
  }
}

void Application::stepTranslate() {
  // The language tables hook in here; the translator starts empty (English).
}

void Application::stepInit2() {
  traffic_->statistics().resetErrorFrameWatch();
  {
    std::lock_guard<UcanLock> lock(ucan_->lock());
    if (!ucan_->UCAN_Init(interfaceSettingsInUse())) {
      messages_.PrintMessage("Error: %s", ucan_->lastError().c_str());
      ucan_->clearLastError();
    } else if (!ucan_->lastError().empty()) {
      messages_.PrintCanMessage("%s", ucan_->takeLastError().c_str());
    }
  }
  controllers_->initConfigured();
  processArguments();
  setStatusLabel("");
}

CanInterfaceSettings Application::interfaceSettingsInUse() {
  // Once the user has chosen an interface of their own, the command line's is forgotten.
  if (interfaceSettings_ != configuredInterface_) interfaceOverrideDropped_ = true;
  CanInterfaceSettings used = interfaceSettings_;
  if (!interfaceOverrideDropped_) ApplyInterfaceOption(options_.interfaceOverride, used);
  return used;
}

void Application::processArguments() {
  for (const std::string& arg : options_.arguments) {
    if (HasExtension(arg, ".hex") || HasExtension(arg, ".bin") || HasExtension(arg, ".bi2")) {
      messages_.PrintMessage("Cannot open \"%s\": this build has no firmware updater yet.", arg.c_str());
    } else if (HasExtension(arg, ".bpr") || HasExtension(arg, ".txt")) {
      if (scripts_->loadCommandFile(arg)) settings_.currFile = arg;
    }
  }
}

void Application::setStatusLabel(std::string text) {
  statusLabel_ = std::move(text);
  ui_.changed(UiTopic::kStatusLabel);
}

void Application::updateNotice(std::string secondLine) {
  notice_.shown = true;
  notice_.secondLine = std::move(secondLine);
  ui_.changed(UiTopic::kClosingNotice);
}

void Application::drainDeferredMessages() {
  uint32_t dropped = 0;
  for (const std::string& line : deferred_.drain(&dropped)) messages_.printText(line);
  if (dropped > 0) messages_.PrintMessage("CAN: (%u further driver messages were lost)", dropped);
}

int Application::pumpWithinBudget() {
  const double startMs = clock_.nowMs();
  int handled = 0;
  for (;;) {
    const int batch = ProcessReceivedFrames(kDefaultPumpLimit);
    handled += batch;
    if (batch != kDefaultPumpLimit || clock_.nowMs() - startMs >= kPumpBudgetMs) break;
  }
  return handled;
}

int Application::ProcessReceivedFrames(int maxFrames) {
  if (inPump_) return 0;
  return pumpFrames(maxFrames);
}

int Application::pumpFromWait() {
  return pumpFrames(kDefaultPumpLimit);
}

int Application::pumpFrames(int maxFrames) {
  const bool outer = !inPump_;
  inPump_ = true;
  if (maxFrames < 1) maxFrames = kDefaultPumpLimit;
  traffic_->drainForeignTransmissions();
  int handled = 0;
  CanFrame frame;
  // A CAN-via-UDP server's relay thread sends under the same lock.
  std::lock_guard<UcanLock> lock(ucan_->lock());
  while (handled < maxFrames) {
    if (!traffic_->takeLoopback(frame) && !ucan_->receiveOne(frame)) break;
    ++handled;
    history_.append(frame);
    consumers_.deliver(frame);
  }
  framesPumped_ += static_cast<uint64_t>(handled);
  if (outer) inPump_ = false;
  trafficDisplay_->notifyIfChanged(TrafficPaths::kRxList);
  return handled;
}

SdoClientPort& Application::sdoPort() {
  return *sdoPort_;
}

bool Application::inSdoWait() const {
  return sdoPort_->waiting();
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

void Application::reportSaveError(const std::string& error) {
  // The saves of one shutdown fail alike (a read-only file refuses every one): once is enough.
  if (error == lastSaveError_) return;
  lastSaveError_ = error;
  messages_.PrintMessage("%s", error.c_str());
  std::fprintf(stderr, "busprobe: %s\n", error.c_str());
}

void Application::shutDown(bool save) {
  if (shutDown_) return;
  updateNotice("this may be TERRIBLY slow due to some stupid antivirus software ...");

  player_->StopPlayer();
  logger_->CloseLogFile();
  // Tool windows close here once they exist.
  nodeScan_->stop();

  if (commandFile_.modified() && !commandFile_.path().empty()) {
    char question[1024];
    std::snprintf(
        question, sizeof question,
        translator_.translate("Command window may have been changed :\n\n  %s\n\nSave the modified file "
                              "under this name before closing ?"),
        commandFile_.path().c_str());
    if (ui_.askYesNo("Busprobe terminating", question, false)) scripts_->saveCommandFile(commandFile_.path());
  }

  if (save) {
    updateNotice("saving USER data ...");
    windowSettings_.firstRun = 0;
    std::string error;
    bool ok = SaveMainWindowSettings(iniPath_, windowSettings_, &error) &&
              SavePlayerWindowSettings(iniPath_, playerWindowSettings_, &error) &&
              SaveDictionaryBrowserSettings(iniPath_, browserSettings_, &error) &&
              SaveSoundSettings(iniPath_, settings_, &error) && SaveMainSettings(iniPath_, settings_, &error);
    if (!ok) reportSaveError(error);
  }

  if (settings_.interp.saveVarValues != 0) {
    updateNotice("saving VARIABLES ...");
    SaveVariables(*interpState_, scripts_->variablesPath());
  }

  updateNotice("closing child windows ...");

  if (save) {
    updateNotice("saving machine-dependent settings ...");
    std::string error;
    if (!SaveInterfaceSettings(iniPath_, interfaceSettings_, &error)) reportSaveError(error);
  }

  updateNotice("closing CAN ...");
  {
    std::lock_guard<UcanLock> lock(ucan_->lock());
    ucan_->UCAN_Exit();
  }
  drainDeferredMessages();
  updateNotice("cleaning up ...");
  notice_.shown = false;
  ui_.changed(UiTopic::kClosingNotice);
  shutDown_ = true;
}

}  // namespace busprobe
