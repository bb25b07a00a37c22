// The application object: owns every subsystem, wires them together and runs the program's life.
// startUp reads the configuration; the tick walks the start-up steps (the CAN interface is opened
// only in "Init2") and then runs its table of steps; the receive pump hands every frame to the
// table of frame consumers; shutdown closes everything in order and writes the configuration.
// A subsystem plugs in at fixed places: its member here, its consumer entry, its tick step, its
// script registrations and its settings record. The Qt main window, the headless runner and tests
// drive the same object through the one run loop; two of them can share one virtual bus.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "app/bus_controllers.h"
#include "app/canopen_session.h"
#include "app/lss_session.h"
#include "app/remote_browser_session.h"
#include "app/node_scan_session.h"
#include "app/command_file.h"
#include "app/frame_consumers.h"
#include "app/instance_lock.h"
#include "app/interface_option.h"
#include "app/messages.h"
#include "app/run_loop.h"
#include "app/script_session.h"
#include "app/settings.h"
#include "app/tick_steps.h"
#include "app/user_interface.h"
#include "canopen/sdo_blocking_transfer.h"
#include "base/clock.h"
#include "base/message_queue.h"
#include "base/translator.h"
#include "can/interface_types.h"
#include "can/ucan.h"
#include "can/virtual_bus.h"
#include "interp/script_program.h"
#include "interp/script_value.h"
#include "traffic/audio_output.h"
#include "traffic/can_names.h"
#include "traffic/log_player.h"
#include "traffic/logger.h"
#include "traffic/receive_history.h"
#include "traffic/traffic_display.h"
#include "traffic/traffic_paths.h"
#include "traffic/trigger.h"

namespace busprobe {

struct AppOptions {
  // Where NVK_Busprobe.ini, current_vars.txt and the default folders live.
  std::string configDir;
  // Command-line files: .hex/.bin/.bi2 for the firmware updater, .bpr/.txt for the command editor.
  std::vector<std::string> arguments;
  // The virtual bus to join (several application objects in one process); null: a private one.
  std::shared_ptr<VirtualBus> virtualBus;
  // Where the instance lock files live (empty: $XDG_RUNTIME_DIR or /tmp).
  std::string lockDir;
  // Interface types whose back-ends live in libraries the application does not link (the Qt CAN
  // bus): registered with the Ucan before anything can open the bus.
  std::vector<CanInterfaceTypeRow> interfaceTypes;
  // Bus 1's interface for this run (--interface), laid over the configured settings at every
  // UCAN_Init until the user chooses another interface; never saved.
  InterfaceOption interfaceOverride;
};

// The start-up steps, one a tick; "Running" and above is the running work.
enum StartupStep : int {
  kStepInit0 = 0,
  kStepFirstRun = 1,
  kStepInit1 = 2,
  kStepTranslate = 3,
  kStepInit2 = 4,
  kStepRunning = 5
};

// The closing notice: shown by shutdown, its second line replaced by every step.
struct ClosingNotice {
  bool shown = false;
  std::string secondLine;
};

class Application {
 public:
  static constexpr int kDefaultPumpLimit = 500;
  static constexpr double kTickMs = 50.0;
  // Each receive step of the tick takes batches of kDefaultPumpLimit frames while frames wait,
  // for at most this long: a saturated pair of buses is taken in full, and the windows still get
  // most of the tick.
  static constexpr double kPumpBudgetMs = 12.0;
  // Interpreter time per tick, and after a frame that ended a wcan wait.
  static constexpr double kTickSliceSec = 0.04;
  static constexpr double kFrameSliceSec = 0.03;

  Application(UserInterface& ui, Clock& clock, AppOptions options);
  ~Application();
  Application(const Application&) = delete;
  Application& operator=(const Application&) = delete;

  // --- lifecycle
  // Creation: instance detection, configuration, main window keys. The bus stays closed.
  void startUp();
  // One 50 ms tick. Re-entry safe (a nested call returns at once).
  void tick();
  // Closes everything in order; writes the configuration unless saveConfiguration is false.
  void shutDown(bool saveConfiguration);
  // Makes the next tick re-run "Init2": settings applied, UCAN_Init, controllers, arguments.
  void restartInterface() { step_ = kStepInit2; }
  // The tick, the player's steps and the script's timer slices, as the GUI and headless run them.
  RunLoop& runLoop() { return runLoop_; }

  // The receive pump: handles up to maxFrames (below 1: 500) frames; a nested call returns 0.
  int ProcessReceivedFrames(int maxFrames = 0);
  // The common send path (options: kTxDontShow, kTxLoopback): true when sent or looped back; a
  // failure is shown as the "  <TX-error" line. Callable from a CAN-via-UDP relay thread.
  bool TransmitFrame(CanFrame& frame, unsigned options = 0) {
    return traffic_->TransmitFrame(frame, options);
  }

  int startupStep() const { return step_; }
  bool running() const { return step_ >= kStepRunning; }
  bool startupInProgress() const { return startupInProgress_; }
  bool shutDownDone() const { return shutDown_; }
  int tickPhase() const { return phase_; }
  uint64_t tickCount() const { return tickCount_; }
  uint64_t framesPumped() const { return framesPumped_; }
  // The main window's status label (start-up step names).
  const std::string& statusLabel() const { return statusLabel_; }
  const ClosingNotice& closingNotice() const { return notice_; }

  int instanceNumber() const { return lock_ ? lock_->instanceNumber() : 0; }
  std::string caption() const;
  const std::string& configDir() const { return options_.configDir; }
  const std::string& iniPath() const { return iniPath_; }

  // --- the subsystems
  MessageLog& messages() { return messages_; }
  const MessageLog& messages() const { return messages_; }
  DeferredMessageQueue& deferredMessages() { return deferred_; }
  Translator& translator() { return translator_; }
  Ucan& ucan() { return *ucan_; }
  BusControllers& controllers() { return *controllers_; }
  Clock& clock() { return clock_; }
  UserInterface& ui() { return ui_; }
  FrameConsumerTable& frameConsumers() { return consumers_; }
  TickStepTable& tickSteps() { return tickSteps_; }
  MainSettings& settings() { return settings_; }
  MainWindowSettings& windowSettings() { return windowSettings_; }
  PlayerWindowSettings& playerWindowSettings() { return playerWindowSettings_; }
  DictionaryBrowserSettings& browserSettings() { return browserSettings_; }
  // The configured interface (what the interface window edits and shutdown saves).
  CanInterfaceSettings& interfaceSettings() { return interfaceSettings_; }
  // What UCAN_Init is given: the configured interface, or the command line's while it holds.
  CanInterfaceSettings interfaceSettingsInUse();

  // traffic: send and receive paths, the display and its commands, history, recorder, player,
  // trigger, names, sound
  TrafficPaths& traffic() { return *traffic_; }
  const TrafficPaths& traffic() const { return *traffic_; }
  TrafficDisplay& trafficDisplay() { return *trafficDisplay_; }
  const TrafficDisplay& trafficDisplay() const { return *trafficDisplay_; }
  ReceiveHistory& history() { return history_; }
  Logger& logger() { return *logger_; }
  CanNameTable& canNames() { return canNames_; }
  LogPlayer& player() { return *player_; }
  const LogPlayer& player() const { return *player_; }
  Trigger& trigger() { return *trigger_; }
  AudioOutput& audio() { return *audio_; }

  // the script interpreter and the command file
  CommandFile& commandFile() { return commandFile_; }
  const CommandFile& commandFile() const { return commandFile_; }
  InterpState& interpState() { return *interpState_; }
  ScriptProgram& program() { return *program_; }
  const ScriptProgram& program() const { return *program_; }
  ScriptSession& scripts() { return *scripts_; }
  const ScriptSession& scripts() const { return *scripts_; }

  // CANopen: the local and remote dictionaries, the SDO engine, the frame explanation, and the
  // blocking client transfer of browsers, scanners and the firmware updater
  CanopenSession& canopen() { return *canopen_; }
  LssSession& lss() { return *lss_; }
  // The remote browser's dictionary, passes and dictionary scan.
  RemoteBrowserSession& remoteBrowser() { return *remoteBrowser_; }
  // The node scanner, stepped on the idle tick and for each received frame while it is active.
  NodeScanSession& nodeScan() { return *nodeScan_; }
  const CanopenSession& canopen() const { return *canopen_; }
  SdoClientPort& sdoPort();
  // A blocking SDO wait is running: it pumps the frames and the tick leaves the script alone.
  bool inSdoWait() const;

 private:
  struct StartupStepRow;
  static const StartupStepRow kStartupSteps[];

  void wireFrameConsumers();
  void wireTickSteps();
  void wireRunLoop();
  void runStartupStep();
  void stepInit0();
  void stepFirstRun();
  void stepInit1();
  void stepTranslate();
  void stepInit2();
  void processArguments();
  void drainDeferredMessages();
  // Batches of kDefaultPumpLimit frames while frames wait and the budget lasts.
  int pumpWithinBudget();
  // One round of the pump for a blocking wait; inside the pump (a script the frame slice runs)
  // the frames are taken all the same, or the answer the wait needs would never come.
  int pumpFromWait();
  int pumpFrames(int maxFrames);
  void checkDecimalSeparator();
  void setStatusLabel(std::string text);
  void updateNotice(std::string secondLine);
  void reportSaveError(const std::string& error);
  std::string resolvePath(const std::string& path) const;

  UserInterface& ui_;
  Clock& clock_;
  AppOptions options_;
  Translator translator_;
  MessageLog messages_;
  DeferredMessageQueue deferred_;
  std::unique_ptr<Ucan> ucan_;
  std::unique_ptr<InstanceLock> lock_;
  std::string iniPath_;
  MainSettings settings_;
  MainWindowSettings windowSettings_;
  PlayerWindowSettings playerWindowSettings_;
  DictionaryBrowserSettings browserSettings_;
  CanInterfaceSettings interfaceSettings_;
  CanInterfaceSettings configuredInterface_;  // as read at start-up
  bool interfaceOverrideDropped_ = false;
  CommandFile commandFile_;
  RunLoop runLoop_;
  FrameConsumerTable consumers_;
  TickStepTable tickSteps_;
  std::unique_ptr<BusControllers> controllers_;

  int step_ = kStepInit0;
  bool startupInProgress_ = false;
  bool inTick_ = false;
  bool inPump_ = false;
  bool shutDown_ = false;
  int phase_ = 0;
  uint64_t tickCount_ = 0;
  // Next times of the run loop's jobs; -kNever: due at once.
  double nextTickMs_ = -RunLoop::kNever;
  double nextPlayerStepMs_ = -RunLoop::kNever;
  double nextScriptSliceMs_ = -RunLoop::kNever;
  double nextLinkPumpMs_ = -RunLoop::kNever;
  std::string statusLabel_;
  ClosingNotice notice_;
  std::string lastSaveError_;

  std::unique_ptr<TrafficPaths> traffic_;
  ReceiveHistory history_;
  CanNameTable canNames_;
  std::unique_ptr<Logger> logger_;
  std::unique_ptr<AudioSignalOutput> audio_;
  std::unique_ptr<Trigger> trigger_;
  std::unique_ptr<LogPlayer> player_;
  std::unique_ptr<TrafficDisplay> trafficDisplay_;
  class LoggerSink;
  std::unique_ptr<LoggerSink> loggerSink_;
  std::unique_ptr<CanopenSession> canopen_;
  std::unique_ptr<LssSession> lss_;
  std::unique_ptr<RemoteBrowserSession> remoteBrowser_;
  class SdoWaitPort;
  std::unique_ptr<SdoWaitPort> sdoPort_;
  std::unique_ptr<NodeScanSession> nodeScan_;
  std::unique_ptr<InterpState> interpState_;
  class ScriptBinding;
  std::unique_ptr<ScriptBinding> scriptBinding_;
  std::unique_ptr<ScriptProgram> program_;
  std::unique_ptr<ScriptSession> scripts_;
  bool frameEndedWait_ = false;
  uint64_t framesPumped_ = 0;
};

}  // namespace busprobe
