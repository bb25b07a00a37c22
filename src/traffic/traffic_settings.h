// The settings records the traffic objects read, with the key tables of their configuration
// sections: the Rx/Tx display ("CanDisplay"), the trigger ("Trigger"), the logger and player
// file names and switches ("Logging"), the symbolic names ("CanMessages"), the log player
// ("LogfilePlayer") and the acoustic signal output ("SoundInterface"). The objects keep a
// reference to their record, so the settings window's edits apply at once.
#pragma once

#include <array>
#include <string>

namespace busprobe {

class IniFile;

struct CanDisplaySettings {
  int timeStampDisplay = 1;
  int timeStampFormat = 0;
  int timeRelMax = 500;
  int displayOptions = 1;  // bit 0: show error frames
  int highLevelProtocol = 0;
  int maxWindowLines = 500;  // limited to 20..10000 when read
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
  int missingMessageTimeoutMs = 2000;  // not stored in the file; reading sets it
};

struct LoggingSettings {
  int logRxMsgs = 1, logTxMsgs = 1, logOthers = 1;  // all three 0 read as Rx and Tx on
  int markRxTx = 1;
  std::string playedFile = "played.asc";
  std::string recordFile = "recorded.asc";
};

struct CanMessageName {
  std::string name;  // at most 15 characters
  int canId = -1;
};
using CanMessageNames = std::array<CanMessageName, 32>;

struct LogfilePlayerSettings {
  int minTxDelayMs = 0;
  std::array<int, 8> excludeTxId{-1, -1, -1, -1, -1, -1, -1, -1};
};

// Reading applies the rules of each section: MaxWindowLines limited to 20..10000; the trigger's
// missing-message timeout set; all three Log* 0 switch Rx and Tx logging on; texts cut to their
// key's length (never inside a UTF-8 character).
void ReadDisplaySettings(const IniFile& ini, CanDisplaySettings& d);
void WriteDisplaySettings(IniFile& ini, const CanDisplaySettings& d);
void ReadTriggerSettings(const IniFile& ini, TriggerSettings& t);
void WriteTriggerSettings(IniFile& ini, const TriggerSettings& t);
void ReadLoggingSettings(const IniFile& ini, LoggingSettings& l);
void WriteLoggingSettings(IniFile& ini, const LoggingSettings& l);
void ReadCanMessageNames(const IniFile& ini, CanMessageNames& names);
void WriteCanMessageNames(IniFile& ini, const CanMessageNames& names);
void ReadPlayerSettings(const IniFile& ini, LogfilePlayerSettings& p);
void WritePlayerSettings(IniFile& ini, const LogfilePlayerSettings& p);

// "SoundInterface": 0 none, 1 PC speaker, 2 sound card; a value outside 0..2 reads as 2.
constexpr int kDefaultAudioOutputDevice = 2;
void ReadAudioOutputDevice(const IniFile& ini, int& audioOutputDevice);
void WriteAudioOutputDevice(IniFile& ini, int audioOutputDevice);

}  // namespace busprobe
