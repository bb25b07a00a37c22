#include "traffic/traffic_settings.h"

#include "base/ini_file.h"
#include "base/settings_keys.h"

namespace busprobe {

namespace {

template <class S, class V>
void VisitDisplay(S& s, V& v) {
  const CanDisplaySettings d;
  const char* sec = "CanDisplay";
  v.integer(sec, "TimeStampDisplay", s.timeStampDisplay, d.timeStampDisplay);
  v.integer(sec, "TimeStampFormat", s.timeStampFormat, d.timeStampFormat);
  v.integer(sec, "TimeRelMax", s.timeRelMax, d.timeRelMax);
  v.integer(sec, "DisplayOptions", s.displayOptions, d.displayOptions);
  v.integer(sec, "HighLevelProtocol", s.highLevelProtocol, d.highLevelProtocol);
  v.integer(sec, "MaxWindowLines", s.maxWindowLines, d.maxWindowLines);
  v.text(sec, "FontName", s.fontName, 80, d.fontName);
  v.integer(sec, "FontSize", s.fontSize, d.fontSize);
  v.integer(sec, "FontStyle", s.fontStyle, d.fontStyle);
  v.integer(sec, "RxBackgndColor", s.rxBackgndColor, d.rxBackgndColor);
  v.integer(sec, "TxBackgndColor", s.txBackgndColor, d.txBackgndColor);
  v.integer(sec, "CmdBackgndColor", s.cmdBackgndColor, d.cmdBackgndColor);
  v.integer(sec, "ShowBusNr", s.showBusNr, d.showBusNr);
  v.integer(sec, "ShowDLC", s.showDlc, d.showDlc);
  v.integer(sec, "MarkFDFrames", s.markFdFrames, d.markFdFrames);
  v.integer(sec, "ShowComments", s.showComments, d.showComments);
  v.integer(sec, "Mark29BitIDs", s.mark29BitIds, d.mark29BitIds);
  v.integer(sec, "CanIdDisplay", s.canIdDisplay, d.canIdDisplay);
  for (size_t i = 0; i < s.showIdAsText.size(); ++i)
    v.integer(sec, IndexedKey("ShowIDAsText", i), s.showIdAsText[i], d.showIdAsText[i]);
  v.integer(sec, "RxListType", s.rxListType, d.rxListType);
  v.integer(sec, "TxListType", s.txListType, d.txListType);
  v.integer(sec, "RxTxCombined", s.rxTxCombined, d.rxTxCombined);
}

template <class S, class V>
void VisitTrigger(S& s, V& v) {
  const TriggerSettings d;
  const char* sec = "Trigger";
  v.integer(sec, "EnableModule", s.enableModule, d.enableModule);
  v.integer(sec, "StartEvents", s.startEvents, d.startEvents);
  v.integer(sec, "StartActions", s.startActions, d.startActions);
  v.integer(sec, "StopEvents", s.stopEvents, d.stopEvents);
  v.integer(sec, "StopActions", s.stopActions, d.stopActions);
  for (size_t i = 0; i < s.specialMessage.size(); ++i)
    v.text(sec, IndexedKey("SpecialMessage", i), s.specialMessage[i], 80, d.specialMessage[i]);
  v.text(sec, "MissingMessage", s.missingMessage, 80, d.missingMessage);
}

template <class S, class V>
void VisitLogging(S& s, V& v) {
  const LoggingSettings d;
  const char* sec = "Logging";
  v.integer(sec, "LogRxMsgs", s.logRxMsgs, d.logRxMsgs);
  v.integer(sec, "LogTxMsgs", s.logTxMsgs, d.logTxMsgs);
  v.integer(sec, "LogOthers", s.logOthers, d.logOthers);
  v.integer(sec, "MarkRxTx", s.markRxTx, d.markRxTx);
  v.text(sec, "PlayedFile", s.playedFile, kSettingPathLen, d.playedFile);
  v.text(sec, "RecordFile", s.recordFile, kSettingPathLen, d.recordFile);
}

template <class S, class V>
void VisitNames(S& s, V& v) {
  const CanMessageName d;
  for (size_t i = 0; i < s.size(); ++i) {
    v.text("CanMessages", IndexedKey("Name", i), s[i].name, 15, d.name);
    v.integer("CanMessages", IndexedKey("CanID", i), s[i].canId, d.canId);
  }
}

template <class S, class V>
void VisitPlayer(S& s, V& v) {
  const LogfilePlayerSettings d;
  const char* sec = "LogfilePlayer";
  v.integer(sec, "MinTxDelay_ms", s.minTxDelayMs, d.minTxDelayMs);
  for (size_t i = 0; i < s.excludeTxId.size(); ++i)
    v.integer(sec, IndexedKey("ExcludeTxId", i), s.excludeTxId[i], d.excludeTxId[i]);
}

}  // namespace

void ReadDisplaySettings(const IniFile& ini, CanDisplaySettings& d) {
  SettingsReader r(ini);
  VisitDisplay(d, r);
  int& lines = d.maxWindowLines;
  lines = lines < 20 ? 20 : (lines > 10000 ? 10000 : lines);
}

void WriteDisplaySettings(IniFile& ini, const CanDisplaySettings& d) {
  SettingsWriter w(ini);
  VisitDisplay(d, w);
}

void ReadTriggerSettings(const IniFile& ini, TriggerSettings& t) {
  t.missingMessageTimeoutMs = TriggerSettings().missingMessageTimeoutMs;
  SettingsReader r(ini);
  VisitTrigger(t, r);
}

void WriteTriggerSettings(IniFile& ini, const TriggerSettings& t) {
  SettingsWriter w(ini);
  VisitTrigger(t, w);
}

void ReadLoggingSettings(const IniFile& ini, LoggingSettings& l) {
  SettingsReader r(ini);
  VisitLogging(l, r);
  if (l.logRxMsgs == 0 && l.logTxMsgs == 0 && l.logOthers == 0) l.logRxMsgs = l.logTxMsgs = 1;
}

void WriteLoggingSettings(IniFile& ini, const LoggingSettings& l) {
  SettingsWriter w(ini);
  VisitLogging(l, w);
}

void ReadCanMessageNames(const IniFile& ini, CanMessageNames& names) {
  SettingsReader r(ini);
  VisitNames(names, r);
}

void WriteCanMessageNames(IniFile& ini, const CanMessageNames& names) {
  SettingsWriter w(ini);
  VisitNames(names, w);
}

void ReadPlayerSettings(const IniFile& ini, LogfilePlayerSettings& p) {
  SettingsReader r(ini);
  VisitPlayer(p, r);
}

void WritePlayerSettings(IniFile& ini, const LogfilePlayerSettings& p) {
  SettingsWriter w(ini);
  VisitPlayer(p, w);
}

void ReadAudioOutputDevice(const IniFile& ini, int& audioOutputDevice) {
  const int device = ini.getInt("SoundInterface", "AudioOutputDevice", kDefaultAudioOutputDevice);
  // The device selects one of three choices; anything else would index past them.
  audioOutputDevice = (device < 0 || device > 2) ? kDefaultAudioOutputDevice : device;
}

void WriteAudioOutputDevice(IniFile& ini, int audioOutputDevice) {
  ini.setInt("SoundInterface", "AudioOutputDevice", audioOutputDevice);
}

}  // namespace busprobe
