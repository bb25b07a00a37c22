// The settings that survive a restart: records filled from the configuration file at start-up and
// written back at shutdown. Each subsystem owns its record and the keys of its section; this
// composes them, and holds the records of the application and its windows. Missing keys yield the
// defaults of a fresh record.
#pragma once

#include <array>
#include <string>

#include "base/directory_settings.h"
#include "can/bus_settings.h"
#include "can/interface_settings.h"
#include "canopen/sdo_settings.h"
#include "interp/interp_settings.h"
#include "traffic/traffic_settings.h"
#include "canopen/dictionary_scanner.h"
#include "canopen/lss_settings.h"

namespace busprobe {

struct MainSettings {
  CanBusSettings bus[2];
  DirectorySettings dirs;
  CanDisplaySettings display;
  TriggerSettings trigger;
  InterpreterSettings interp;
  LoggingSettings logging;
  CanMessageNames canMessages;
  LogfilePlayerSettings player;
  SdoSettings sdo;
  LssSettings lss;
  DictionaryScanSettings odScanner;  // CANopenODScanner
  std::string currFile;  // LastSession/CurrFile; default: Programs folder + "/default.cmd"
  int audioOutputDevice = kDefaultAudioOutputDevice;  // SoundInterface: 0 none, 1 PC speaker, 2 sound card
};

// The main window's own section "MainWindow" and its keys in "LastSession".
struct MainWindowSettings {
  int left = -1, top = -1, width = -1, height = -1;  // -1: not stored yet
  int hSplitRx = -1, vSplitRx = -1, vSplitMsg = -1;
  std::string searchString;
  int scriptReadOnly = 0;
  int displayBaseForInspector = 10;
  int firstRun = 1;
  int languageTestMode = 0;
  std::string language;
  std::array<std::string, 5> recentFiles;  // LastSession/RecentFile0..4
};

// The log player window's section "CanPlayerWindow": where it was last, -1 while not stored.
struct PlayerWindowSettings {
  int left = -1, top = -1;
};

// A dictionary browser's place: section "DictViewWindow" (local) or "RemoteDictViewWindow"
// (remote), -1 while not stored.
struct BrowserWindowSettings {
  int left = -1, top = -1, width = -1, height = -1;
};

// Both browsers' places and the remote browser's option ("RemoteObjectDictionaryViewer").
struct DictionaryBrowserSettings {
  BrowserWindowSettings local;
  BrowserWindowSettings remote;
  int dontReadLargeObjects = 1;
};

}  // namespace busprobe
