// The application object: owns every subsystem and runs the program's life. start-up reads the
// configuration; the 50 ms tick walks the start-up steps ("Init0" .. "Init2", the CAN interface
// is opened only in "Init2") and then pumps received frames through their consumers in a fixed
// order; shutdown closes everything in order and writes the configuration. The Qt main window, the
// headless runner and tests drive the same object; two of them can share one virtual bus.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "app/command_file.h"
#include "app/instance_lock.h"
#include "app/messages.h"
#include "app/settings.h"
#include "app/user_interface.h"
#include "base/clock.h"
#include "base/translator.h"
#include "can/frame_ring.h"
#include "base/message_queue.h"
#include "can/ucan.h"
#include "can/virtual_bus.h"
#include "interp/script_program.h"
#include "interp/script_value.h"
#include "traffic/audio_output.h"
#include "traffic/bus_statistics.h"
#include "traffic/can_names.h"
#include "traffic/frame_format.h"
#include "traffic/frame_list.h"
#include "traffic/log_player.h"
#include "traffic/logger.h"
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
};

// Start-up steps.
enum StartupStep : int {
  kStepInit0 = 0,
  kStepFirstRun = 1,
  kStepInit1 = 2,
  kStepTranslate = 3,
  kStepInit2 = 4,
  kStepRunning = 5
};

class Application {
 public:
  static constexpr int kHistorySize = 4096;
  static constexpr int kDefaultPumpLimit = 500;
  static constexpr uint32_t kLoopbackCapacity = TrafficPaths::kLoopbackCapacity;
  static constexpr double kTickMs = 50.0;
  // Interpreter time per tick, and after a frame that ended a wcan wait.
  static constexpr double kTickSliceSec = 0.04;
  static constexpr double kFrameSliceSec = 0.03;

  Application(UserInterface& ui, Clock& clock, AppOptions options);
  ~Application();
  Application(const Application&) = delete;
  Application& operator=(const Application&) = delete;

  // Creation: instance detection, configuration, main window keys. The bus stays closed.
  void startUp();
  // One 50 ms tick. Re-entry safe (a nested call returns at once).
  void tick();
  // Closes everything in order; writes the configuration unless saveConfiguration is false.
  void shutDown(bool saveConfiguration);

  // The receive pump: handles up to maxFrames (below 1: 500) frames; a nested call returns 0.
  int ProcessReceivedFrames(int maxFrames = 0);
  // The common send path (options: kTxDontShow, kTxLoopback): true when sent or looped back; a
  // failure is shown as the "  <TX-error" line. Callable from a CAN-via-UDP relay thread.
  bool TransmitFrame(CanFrame& frame, unsigned options = 0);

  // Makes the next tick re-run "Init2": settings applied, UCAN_Init, controllers, arguments.
  void restartInterface() { step_ = kStepInit2; }

  int startupStep() const { return step_; }
  bool running() const { return step_ >= kStepRunning; }
  bool startupInProgress() const { return startupInProgress_; }
  bool shutDownDone() const { return shutDown_; }
  int tickPhase() const { return phase_; }
  uint64_t tickCount() const { return tickCount_; }

  int instanceNumber() const { return lock_ ? lock_->instanceNumber() : 0; }
  std::string caption() const;
  const std::string& configDir() const { return options_.configDir; }
  const std::string& iniPath() const { return iniPath_; }

  MessageLog& messages() { return messages_; }
  DeferredMessageQueue& deferredMessages() { return deferred_; }
  Ucan& ucan() { return *ucan_; }
  Clock& clock() { return clock_; }
  UserInterface& ui() { return ui_; }
  MainSettings& settings() { return settings_; }
  MainWindowSettings& windowSettings() { return windowSettings_; }
  CanInterfaceSettings& interfaceSettings() { return interfaceSettings_; }
  CommandFile& commandFile() { return commandFile_; }
  // The translation every shown text passes; it translates nothing until a table is loaded.
  Translator& translator() { return translator_; }

  // Receive history: every frame the pump handled, newest last. back = 0 is the newest frame.
  size_t historyCount() const { return historyCount_; }
  const CanFrame& historyFrame(size_t back) const;
  // Time of the newest received frame in seconds.
  double newestFrameTime() const { return newestFrameTime_; }
  uint64_t framesPumped() const { return framesPumped_; }
  // Frames looped back by the send path that did not fit the loopback queue.
  uint64_t loopbackDropped() const { return traffic_->loopbackDropped(); }

  // --- traffic display: lists, pause switches, counters (all on the user-interface thread)
  TrafficPaths& traffic() { return *traffic_; }
  FrameList& rxList() { return traffic_->rxList(); }
  FrameList& txList() { return traffic_->txList(); }
  DisplayState& display() { return traffic_->display(); }
  BusStatistics& statistics() { return traffic_->statistics(); }
  // The texts above the panes as of the last tick (also handed to trafficHeadersChanged).
  const TrafficHeaders& trafficHeaders() const { return headers_; }
  // Pane buttons "Stop"/"Run".
  void toggleRxStopped();
  void toggleTxStopped();
  // "&Pause !": both panes to the negation of the Tx pane's state.
  void togglePause();
  // "Combined RX+TX window", double-click on the Rx title; a click on the Tx title turns it off.
  void setRxTxCombined(bool on);
  void toggleRxTxCombined() { setRxTxCombined(!settings_.display.rxTxCombined); }
  // List type of list 1 (Rx) or 2 (Tx): 0 history, 1 sorted (the Rx pop-up menu). The list
  // empties when its next line arrives.
  void setListType(int listNumber, int type);
  // The list-type label clicks: refused (false) while a wait loop of the interpreter runs.
  bool toggleListType(int listNumber);
  // "Erase" of the panes (1 Rx, 2 Tx); 4 clears the messages window.
  void EraseList(int listNumber);
  // Messages menu and Tools menu.
  void ResetMessageCounters();
  void PrintBusStatistics();
  void ResetCanHardware();
  // Set by the interpreter's wait loops and the SDO engine; shown in the status text.
  void setWaitLoopRunning(bool on) { waitLoopRunning_ = on; }
  void setSdoBusy(bool on) { sdoBusy_ = on; }
  // The CANopen explanation of frames in the Rx/Tx lines; empty until CANopen provides one.
  void setCommentProvider(TrafficPaths::CommentProvider provider);

  // --- the script interpreter
  InterpState& interpState() { return *interpState_; }
  ScriptProgram& program() { return *program_; }
  // Where the variables file lives: <configDir>/current_vars.txt.
  std::string variablesPath() const;
  // Between ticks (every millisecond headless, from the GUI's precise timer while a script runs):
  // a 1 ms slice for the script, so a paced frame due in the gap between two tick slices leaves
  // on time instead of with the next tick.
  void ScriptTimerTick();
  // Run the script in the command file from its top (the Run menu, headless --run).
  void RunScript() { program_->run(); }
  // "Show Variables ..." and "Show Call Stack ..." print into the messages window.
  void PrintVariables();
  void PrintCallStack();

  // --- recorder, player, trigger
  Logger& logger() { return *logger_; }
  CanNameTable& canNames() { return canNames_; }
  LogPlayer& player() { return *player_; }
  Trigger& trigger() { return *trigger_; }
  AudioOutput& audio() { return *audio_; }
  // One 5 ms step of the log player (the GUI's precise timer, the headless runner's loop). True
  // every 32nd step: time to refresh the player window.
  bool PlayerTick();
  // Stops the player and closes the log file ("Stop player + recorder", the File menu's item).
  void stopPlayerAndRecorder();

 private:
  void runStartupStep();
  void runningWork(double tickStartMs);
  void runScriptSlice(double tickStartMs);
  void initInterface();
  void processArguments();
  void drainDeferredMessages();
  void refreshTrafficHeaders(bool titles, bool status);
  void notifyChangedLists();
  void notifyIfChanged(int listNumber);
  void setBothDisplaysStopped(bool stopped);
  void checkDecimalSeparator();
  void printPendingCanError();
  // Bus 1's controller initialised again with its configured rates and an open filter.
  bool reinitController();
  std::string resolvePath(const std::string& path) const;

  UserInterface& ui_;
  Clock& clock_;
  AppOptions options_;
  MessageLog messages_;
  DeferredMessageQueue deferred_;
  std::unique_ptr<Ucan> ucan_;
  std::unique_ptr<InstanceLock> lock_;
  std::string iniPath_;
  MainSettings settings_;
  MainWindowSettings windowSettings_;
  CanInterfaceSettings interfaceSettings_;
  CommandFile commandFile_;
  Translator translator_;

  int step_ = kStepInit0;
  bool startupInProgress_ = false;
  bool inTick_ = false;
  bool inPump_ = false;
  bool shutDown_ = false;
  int phase_ = 0;
  uint64_t tickCount_ = 0;

  std::unique_ptr<TrafficPaths> traffic_;
  CanNameTable canNames_;
  std::unique_ptr<Logger> logger_;
  std::unique_ptr<AudioSignalOutput> audio_;
  std::unique_ptr<Trigger> trigger_;
  std::unique_ptr<LogPlayer> player_;
  class LoggerSink;
  std::unique_ptr<LoggerSink> loggerSink_;
  std::unique_ptr<InterpState> interpState_;
  class ScriptBinding;
  std::unique_ptr<ScriptBinding> scriptBinding_;
  std::unique_ptr<ScriptProgram> program_;
  bool scriptWasRunning_ = false;
  TrafficHeaders headers_;
  uint64_t notifiedModifications_[3] = {0, 0, 0};  // per list number, as last told to the panes
  bool waitLoopRunning_ = false;
  bool sdoBusy_ = false;
  std::unique_ptr<CanFrame[]> history_;
  size_t historyHead_ = 0;  // next slot to write
  size_t historyCount_ = 0;
  double newestFrameTime_ = 0;
  uint64_t framesPumped_ = 0;

  double lastDecimalCheckMs_ = 0;
};

}  // namespace busprobe
