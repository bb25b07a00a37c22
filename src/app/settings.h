// The settings that survive a restart: records filled from the configuration file at start-up and
// written back at shutdown. Missing keys yield the defaults given here.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "can/interface_settings.h"

namespace busprobe {

struct CanBusSettings {
  int baudrate = 500;    // kbit/s, 0 = bus unused
  int flexDataRate = 0;  // CAN FD data rate, kbit/s, 0 = classic CAN
};

struct SdoSettings {
  int clientNodeId = 1;
  int serverNodeId = 2;
  std::array<int, 7> extraServerNodeIds{};  // ServerNodeID2 .. ServerNodeID8
  int serverEnable = 1;
  int clientEnable = 1;
  int serverTimeout = 500;
  int clientTimeout = 500;
};

struct LssSettings {
  int slaveOptions = 0, masterOptions = 0, wantedFirstNodeId = 0, wantedCanBaudrate = 0, scanDelayUs = 5000;
};

struct DirectorySettings {
  std::string programs = "Programs";
  std::string objects = "Objects";
  std::string helpFile = "CanHlp1";
  std::string logFileDir;
  std::string htmlBrowser;  // taken only when its first character is above a space
  std::string myObjectDictionary = "MyObject.DIC";
  std::string hisObjectDictionary = "HisObject.DIC";
};

struct CanDisplaySettings {
  int timeStampDisplay = 1;
  int timeStampFormat = 0;
  int timeRelMax = 500;
  int displayOptions = 1;  // bit 0: show error frames
  int highLevelProtocol = 0;
  int maxWindowLines = 500;  // clamped to 20..10000 when read
  std::string fontName = "Courier New";
  int fontSize = 9;
  int fontStyle = 0;
  int rxBackgndColor = 16764879;  // Windows colour value 0x00BBGGRR
  int txBackgndColor = 4227072;
  int cmdBackgndColor = 0;
  int showBusNr = 0, showDlc = 0, markFdFrames = 0, showComments = 0, mark29BitIds = 0;
  int canIdDisplay = 16;
  std::array<int, 4> showIdAsText{-1, -1, -1, -1};
  int rxListType = 0, txListType = 0;
  int rxTxCombined = 1;
};

struct TriggerSettings {
  int enableModule = 0;
  int startEvents = 0, startActions = 0, stopEvents = 0, stopActions = 0;
  std::array<std::string, 4> specialMessage;
  std::string missingMessage;
  int missingMessageTimeoutMs = 2000;  // not stored in the file
};

struct InterpreterSettings {
  double txDelay = 100.0;  // ms between two transmissions of a script
  int soundEnabled = 0;
  int saveVarValues = 1;
};

struct LoggingSettings {
  int logRxMsgs = 1, logTxMsgs = 1, logOthers = 1;
  int markRxTx = 1;
  std::string playedFile = "played.asc";
  std::string recordFile = "recorded.asc";
};

struct CanMessageName {
  std::string name;  // at most 15 characters
  int canId = -1;
};

struct LogfilePlayerSettings {
  int minTxDelayMs = 0;
  std::array<int, 8> excludeTxId{-1, -1, -1, -1, -1, -1, -1, -1};
};

struct OdScannerSettings {
  int scanFrom = 0x1000, scanTo = 0x6FFF;
  std::array<int, 20> excludeFrom{}, excludeTo{};
};

struct WatchSettings {
  double samplingIntervalSec = 0.1;
  std::array<std::string, 15> name, expr;
  std::array<double, 15> scaleMin{}, scaleMax{};
  WatchSettings() { scaleMax.fill(100.0); }
};

struct SpectrumSettings {
  int sourceChannel = 0;
  int fftSize = 256;
  double displayFminHz = 0.0, displayFmaxHz = 100.0, displayAminDb = -80.0, displayAmaxDb = 10.0;
};

struct MainSettings {
  CanBusSettings bus[2];
  SdoSettings sdo;
  LssSettings lss;
  DirectorySettings dirs;
  CanDisplaySettings display;
  TriggerSettings trigger;
  InterpreterSettings interp;
  LoggingSettings logging;
  std::array<CanMessageName, 32> canMessages;
  LogfilePlayerSettings player;
  OdScannerSettings odScanner;
  int dontReadLargeObjects = 1;
  std::string currFile;           // LastSession/CurrFile; default: Programs folder + "/default.cmd"
  std::string watchSettingsFile;  // LastSession/WatchSettings
  WatchSettings watches;
  SpectrumSettings spectrum;
  int audioOutputDevice = 2;  // SoundInterface: 0 none, 1 PC speaker, 2 sound card
};

// The main window's own section "MainWindow" and its keys in "LastSession" and "FirmwareUpdater".
struct MainWindowSettings {
  int left = -1, top = -1, width = -1, height = -1;  // -1: not stored yet
  int hSplitRx = -1, vSplitRx = -1, vSplitMsg = -1;
  std::string searchString;
  int scriptReadOnly = 0;
  int displayBaseForInspector = 10;
  int firstRun = 1;
  int languageTestMode = 0;
  std::string language;
  std::array<std::string, 5> recentFiles;   // LastSession/RecentFile0..4
  int firmwareProtocol = 0;                 // FirmwareUpdater/Protocol
  std::string loadedBinFile, savedBinFile;  // FirmwareUpdater
};

}  // namespace busprobe
