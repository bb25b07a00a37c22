#include "app/config_file.h"

#include <cstddef>
#include <string_view>

namespace busprobe {

namespace {

constexpr size_t kPathLen = 255;

// Cuts to at most `maxLen` bytes without splitting a UTF-8 sequence: half a character would turn
// a path or name into invalid text.
std::string Cut(std::string s, size_t maxLen) {
  if (s.size() <= maxLen) return s;
  size_t n = maxLen;
  for (int back = 0; back < 3 && n > 0 && (static_cast<unsigned char>(s[n]) & 0xC0) == 0x80; ++back) --n;
  s.resize(n);
  return s;
}

std::string Indexed(const char* key, size_t i) {
  return key + std::to_string(i);
}

std::string DefaultCurrFile(const std::string& programs) {
  return Cut(programs, 80) + "/default.cmd";
}

// The two directions of one key list. Each list below is a template over the record's constness
// and one of these visitors, so a field can never be read under one name and written under another.
// (A round trip therefore cannot catch a misspelt name; the tests check the names on their own.)
struct Reader {
  const IniFile& ini;

  void integer(const char* sec, const std::string& key, int& field, int def) {
    field = ini.getInt(sec, key, def);
  }
  void u16(const char* sec, const std::string& key, uint16_t& field, uint16_t def) {
    const int v = ini.getInt(sec, key, def);
    field = (v < 0 || v > 0xFFFF) ? def : static_cast<uint16_t>(v);
  }
  void text(const char* sec, const std::string& key, std::string& field, size_t maxLen, std::string def) {
    field = Cut(ini.getString(sec, key, def), maxLen);
  }
  void real(const char* sec, const std::string& key, double& field, double def) {
    field = ini.getDouble(sec, key, def);
  }
  // Written in a fixed layout that cannot hold every value; read like any other number.
  void fixed1(const char* sec, const std::string& key, double& field, double def) {
    real(sec, key, field, def);
  }
  // A stored value replaces the built-in one only when it starts with a printable character.
  void command(const char* sec, const std::string& key, std::string& field, size_t maxLen) {
    const std::string v = ini.getString(sec, key, "");
    if (!v.empty() && static_cast<unsigned char>(v[0]) > ' ') field = Cut(v, maxLen);
  }
  // The window's own geometry: a missing key keeps what the window put in, moved by `offset`.
  void geometry(const char* sec, const std::string& key, int& field, int offset) {
    if (ini.has(sec, key)) {
      field = ini.getInt(sec, key, field);
    } else if (field != -1) {
      field += offset;
    }
  }
};

struct Writer {
  IniFile& ini;

  void integer(const char* sec, const std::string& key, int field, int) { ini.setInt(sec, key, field); }
  void u16(const char* sec, const std::string& key, uint16_t field, uint16_t) { ini.setInt(sec, key, field); }
  void text(const char* sec, const std::string& key, const std::string& field, size_t maxLen,
            const std::string&) {
    ini.setString(sec, key, Cut(field, maxLen));
  }
  void real(const char* sec, const std::string& key, double field, double) { ini.setDouble(sec, key, field); }
  void fixed1(const char* sec, const std::string& key, double field, double) {
    ini.setDoubleFixed(sec, key, field, 8, 1);
  }
  void command(const char* sec, const std::string& key, const std::string& field, size_t maxLen) {
    ini.setString(sec, key, Cut(field, maxLen));
  }
  void geometry(const char* sec, const std::string& key, int field, int) {
    if (field != -1) ini.setInt(sec, key, field);
  }
};

template <class S, class V>
void VisitMain(S& s, V& v) {
  const MainSettings d;  // the table's defaults

  for (size_t b = 0; b < 2; ++b) {
    const std::string n = b == 0 ? "" : "2";
    v.integer("CanSettings", "Baudrate" + n, s.bus[b].baudrate, d.bus[b].baudrate);
    v.integer("CanSettings", "FlexDataRate" + n, s.bus[b].flexDataRate, d.bus[b].flexDataRate);
  }

  const char* sdo = "SdoSettings";
  v.integer(sdo, "ClientNodeID", s.sdo.clientNodeId, d.sdo.clientNodeId);
  v.integer(sdo, "ServerNodeID", s.sdo.serverNodeId, d.sdo.serverNodeId);
  for (size_t i = 0; i < s.sdo.extraServerNodeIds.size(); ++i)
    v.integer(sdo, Indexed("ServerNodeID", i + 2), s.sdo.extraServerNodeIds[i], d.sdo.extraServerNodeIds[i]);
  v.integer(sdo, "ServerEnable", s.sdo.serverEnable, d.sdo.serverEnable);
  v.integer(sdo, "ClientEnable", s.sdo.clientEnable, d.sdo.clientEnable);
  v.integer(sdo, "ServerTimeout", s.sdo.serverTimeout, d.sdo.serverTimeout);
  v.integer(sdo, "ClientTimeout", s.sdo.clientTimeout, d.sdo.clientTimeout);

  const char* lss = "CANopen_LSS";
  v.integer(lss, "SlaveOptions", s.lss.slaveOptions, d.lss.slaveOptions);
  v.integer(lss, "MasterOptions", s.lss.masterOptions, d.lss.masterOptions);
  v.integer(lss, "WantedFirstNodeID", s.lss.wantedFirstNodeId, d.lss.wantedFirstNodeId);
  v.integer(lss, "WantedCANBaudrate", s.lss.wantedCanBaudrate, d.lss.wantedCanBaudrate);
  v.integer(lss, "ScanDelay_us", s.lss.scanDelayUs, d.lss.scanDelayUs);

  const char* dirs = "Directories";
  v.text(dirs, "Programs", s.dirs.programs, kPathLen, d.dirs.programs);
  v.text(dirs, "Objects", s.dirs.objects, kPathLen, d.dirs.objects);
  v.text(dirs, "HelpFile", s.dirs.helpFile, kPathLen, d.dirs.helpFile);
  v.text(dirs, "LogFileDir", s.dirs.logFileDir, kPathLen, d.dirs.logFileDir);
  v.command(dirs, "HtmlBrowser", s.dirs.htmlBrowser, 511);
  v.text(dirs, "MyObjectDictionary", s.dirs.myObjectDictionary, kPathLen, d.dirs.myObjectDictionary);
  v.text(dirs, "HisObjectDictionary", s.dirs.hisObjectDictionary, kPathLen, d.dirs.hisObjectDictionary);

  const char* disp = "CanDisplay";
  auto& sd = s.display;
  const auto& dd = d.display;
  v.integer(disp, "TimeStampDisplay", sd.timeStampDisplay, dd.timeStampDisplay);
  v.integer(disp, "TimeStampFormat", sd.timeStampFormat, dd.timeStampFormat);
  v.integer(disp, "TimeRelMax", sd.timeRelMax, dd.timeRelMax);
  v.integer(disp, "DisplayOptions", sd.displayOptions, dd.displayOptions);
  v.integer(disp, "HighLevelProtocol", sd.highLevelProtocol, dd.highLevelProtocol);
  v.integer(disp, "MaxWindowLines", sd.maxWindowLines, dd.maxWindowLines);
  v.text(disp, "FontName", sd.fontName, 80, dd.fontName);
  v.integer(disp, "FontSize", sd.fontSize, dd.fontSize);
  v.integer(disp, "FontStyle", sd.fontStyle, dd.fontStyle);
  v.integer(disp, "RxBackgndColor", sd.rxBackgndColor, dd.rxBackgndColor);
  v.integer(disp, "TxBackgndColor", sd.txBackgndColor, dd.txBackgndColor);
  v.integer(disp, "CmdBackgndColor", sd.cmdBackgndColor, dd.cmdBackgndColor);
  v.integer(disp, "ShowBusNr", sd.showBusNr, dd.showBusNr);
  v.integer(disp, "ShowDLC", sd.showDlc, dd.showDlc);
  v.integer(disp, "MarkFDFrames", sd.markFdFrames, dd.markFdFrames);
  v.integer(disp, "ShowComments", sd.showComments, dd.showComments);
  v.integer(disp, "Mark29BitIDs", sd.mark29BitIds, dd.mark29BitIds);
  v.integer(disp, "CanIdDisplay", sd.canIdDisplay, dd.canIdDisplay);
  for (size_t i = 0; i < sd.showIdAsText.size(); ++i)
    v.integer(disp, Indexed("ShowIDAsText", i), sd.showIdAsText[i], dd.showIdAsText[i]);
  v.integer(disp, "RxListType", sd.rxListType, dd.rxListType);
  v.integer(disp, "TxListType", sd.txListType, dd.txListType);
  v.integer(disp, "RxTxCombined", sd.rxTxCombined, dd.rxTxCombined);

  const char* trig = "Trigger";
  v.integer(trig, "EnableModule", s.trigger.enableModule, d.trigger.enableModule);
  v.integer(trig, "StartEvents", s.trigger.startEvents, d.trigger.startEvents);
  v.integer(trig, "StartActions", s.trigger.startActions, d.trigger.startActions);
  v.integer(trig, "StopEvents", s.trigger.stopEvents, d.trigger.stopEvents);
  v.integer(trig, "StopActions", s.trigger.stopActions, d.trigger.stopActions);
  for (size_t i = 0; i < s.trigger.specialMessage.size(); ++i)
    v.text(trig, Indexed("SpecialMessage", i), s.trigger.specialMessage[i], 80, d.trigger.specialMessage[i]);
  v.text(trig, "MissingMessage", s.trigger.missingMessage, 80, d.trigger.missingMessage);

  const char* interp = "Interpreter";
  v.fixed1(interp, "TxDelay", s.interp.txDelay, d.interp.txDelay);
  v.integer(interp, "SoundEnabled", s.interp.soundEnabled, d.interp.soundEnabled);
  v.integer(interp, "SaveVarValues", s.interp.saveVarValues, d.interp.saveVarValues);

  const char* log = "Logging";
  v.integer(log, "LogRxMsgs", s.logging.logRxMsgs, d.logging.logRxMsgs);
  v.integer(log, "LogTxMsgs", s.logging.logTxMsgs, d.logging.logTxMsgs);
  v.integer(log, "LogOthers", s.logging.logOthers, d.logging.logOthers);
  v.integer(log, "MarkRxTx", s.logging.markRxTx, d.logging.markRxTx);
  v.text(log, "PlayedFile", s.logging.playedFile, kPathLen, d.logging.playedFile);
  v.text(log, "RecordFile", s.logging.recordFile, kPathLen, d.logging.recordFile);

  for (size_t i = 0; i < s.canMessages.size(); ++i) {
    v.text("CanMessages", Indexed("Name", i), s.canMessages[i].name, 15, d.canMessages[i].name);
    v.integer("CanMessages", Indexed("CanID", i), s.canMessages[i].canId, d.canMessages[i].canId);
  }

  v.integer("LogfilePlayer", "MinTxDelay_ms", s.player.minTxDelayMs, d.player.minTxDelayMs);
  for (size_t i = 0; i < s.player.excludeTxId.size(); ++i)
    v.integer("LogfilePlayer", Indexed("ExcludeTxId", i), s.player.excludeTxId[i], d.player.excludeTxId[i]);

  const char* scan = "CANopenODScanner";
  v.integer(scan, "ScanFrom", s.odScanner.scanFrom, d.odScanner.scanFrom);
  v.integer(scan, "ScanTo", s.odScanner.scanTo, d.odScanner.scanTo);
  for (size_t i = 0; i < s.odScanner.excludeFrom.size(); ++i) {
    v.integer(scan, Indexed("ExcludeFrom", i), s.odScanner.excludeFrom[i], d.odScanner.excludeFrom[i]);
    v.integer(scan, Indexed("ExcludeTo", i), s.odScanner.excludeTo[i], d.odScanner.excludeTo[i]);
  }

  v.integer("RemoteObjectDictionaryViewer", "DontReadLargeObjects", s.dontReadLargeObjects,
            d.dontReadLargeObjects);

  // Programs has been read by now, so the default command file follows the configured folder.
  v.text("LastSession", "CurrFile", s.currFile, kPathLen, DefaultCurrFile(s.dirs.programs));
  v.text("LastSession", "WatchSettings", s.watchSettingsFile, kPathLen, s.watchSettingsFile);

  const char* watch = "WatchesAndPlotter";
  auto& sw = s.watches;
  const auto& dw = d.watches;
  v.real(watch, "SamplingInterval_sec", sw.samplingIntervalSec, dw.samplingIntervalSec);
  for (size_t i = 0; i < sw.name.size(); ++i) {
    v.text(watch, Indexed("Name", i), sw.name[i], 16, dw.name[i]);
    v.text(watch, Indexed("Expr", i), sw.expr[i], 80, dw.expr[i]);
    v.real(watch, Indexed("ScaleMin", i), sw.scaleMin[i], dw.scaleMin[i]);
    v.real(watch, Indexed("ScaleMax", i), sw.scaleMax[i], dw.scaleMax[i]);
  }

  const char* spectrum = "SpectrumAnalyserByVantor";
  v.integer(spectrum, "SourceChannel", s.spectrum.sourceChannel, d.spectrum.sourceChannel);
  v.integer(spectrum, "FFT_Size", s.spectrum.fftSize, d.spectrum.fftSize);
  v.real(spectrum, "Display_fmin_Hz", s.spectrum.displayFminHz, d.spectrum.displayFminHz);
  v.real(spectrum, "Display_fmax_Hz", s.spectrum.displayFmaxHz, d.spectrum.displayFmaxHz);
  v.real(spectrum, "Display_Amin_dB", s.spectrum.displayAminDb, d.spectrum.displayAminDb);
  v.real(spectrum, "Display_Amax_dB", s.spectrum.displayAmaxDb, d.spectrum.displayAmaxDb);
}

template <class W, class V>
void VisitMainWindow(W& w, V& v, int instanceOffset) {
  const MainWindowSettings d;
  const char* mw = "MainWindow";
  v.geometry(mw, "Left", w.left, instanceOffset);
  v.geometry(mw, "Top", w.top, instanceOffset);
  v.geometry(mw, "Width", w.width, 0);
  v.geometry(mw, "Height", w.height, 0);
  v.geometry(mw, "HSplitRx", w.hSplitRx, 0);
  v.geometry(mw, "VSplitRx", w.vSplitRx, 0);
  v.geometry(mw, "VSplitMsg", w.vSplitMsg, 0);
  v.text(mw, "SearchString", w.searchString, kPathLen, d.searchString);
  v.integer(mw, "ScriptReadOnly", w.scriptReadOnly, d.scriptReadOnly);
  v.integer(mw, "DisplayBaseForInspector", w.displayBaseForInspector, d.displayBaseForInspector);
  v.integer(mw, "FirstRun", w.firstRun, d.firstRun);
  v.integer(mw, "LanguageTestMode", w.languageTestMode, d.languageTestMode);
  v.text(mw, "Language", w.language, kPathLen, d.language);
  for (size_t i = 0; i < w.recentFiles.size(); ++i)
    v.text("LastSession", Indexed("RecentFile", i), w.recentFiles[i], kPathLen, d.recentFiles[i]);
  v.integer("FirmwareUpdater", "Protocol", w.firmwareProtocol, d.firmwareProtocol);
  v.text("FirmwareUpdater", "LoadedBinFile", w.loadedBinFile, kPathLen, d.loadedBinFile);
  v.text("FirmwareUpdater", "SavedBinFile", w.savedBinFile, kPathLen, d.savedBinFile);
}

template <class C, class V>
void VisitInterface(C& c, V& v) {
  const char* ci = "CanInterface";
  v.integer(ci, "DebugFlags", c.debugFlags, 0);
  // The virtual bus rather than "none": a fresh configuration does something without hardware.
  v.integer(ci, "CanInterfaceType", c.interfaceType, kIntfVirtual);
  v.integer(ci, "CanDongleBaseAddr", c.dongleBaseAddr, 888);
  v.integer(ci, "NTCanNetNumber", c.ntcanNetNumber, 0);
  v.integer(ci, "NTCanStartPCC", c.ntcanStartPcc, 0);
  v.integer(ci, "NTCanStopPCC", c.ntcanStopPcc, 0);
  v.integer(ci, "PCAN_IOaddress", c.pcanIoAddress, 888);
  v.u16(ci, "PCAN_Interrupt", c.pcanInterrupt, 7);
  v.text(ci, "PCAN_NetName", c.pcanNetNames, 254, "NvkNet");
  v.integer(ci, "VectorAccessMask", c.vectorAccessMask, 1);
  v.text(ci, "VectorChannelName", c.vectorChannelName, 254, "Virtual Channel 1");
  v.integer(ci, "CvUDP_flags", c.cvudpFlags, c.cvudpFlags);
  v.text(ci, "CvUDP_RemoteIP", c.cvudpRemoteIp, 39, "192.168.0.100");
  v.text(ci, "CvUDP_LocalIP", c.cvudpLocalIp, 39, "0.0.0.0");
  v.u16(ci, "CvUDP_remote_server_port", c.cvudpRemotePort, 55556);
  v.u16(ci, "CvUDP_local_server_port", c.cvudpLocalPort, 55556);
  v.text(ci, "SocketCanIf1", c.socketCanIf1, 254, "can0");
  v.text(ci, "SocketCanIf2", c.socketCanIf2, 254, "can1");
}

// Read-modify-write: what the file holds besides our keys must survive, so a file that exists
// but cannot be read is not replaced.
template <class Fn>
bool Update(const std::string& path, std::string* error, Fn&& write) {
  IniFile ini;
  if (ini.load(path, error) == IniFile::LoadResult::kFailed) return false;
  const std::string before = ini.text();
  write(ini);
  if (ini.text() == before) return true;  // nothing to write
  return ini.save(path, error);
}

}  // namespace

std::string BuildIniFileName(const std::string& directory, int instanceNumber) {
  std::string name = directory;
  if (!name.empty() && name.back() != '/') name += '/';
  name += "NVK_Busprobe";
  if (instanceNumber > 0) name += std::to_string(instanceNumber);
  return name + ".ini";
}

void ReadMainSettings(const IniFile& ini, MainSettings& s) {
  s.trigger.missingMessageTimeoutMs = 2000;
  Reader r{ini};
  VisitMain(s, r);
  int& lines = s.display.maxWindowLines;
  lines = lines < 20 ? 20 : (lines > 10000 ? 10000 : lines);
  LoggingSettings& l = s.logging;
  if (l.logRxMsgs == 0 && l.logTxMsgs == 0 && l.logOthers == 0) l.logRxMsgs = l.logTxMsgs = 1;
}

void WriteMainSettings(IniFile& ini, const MainSettings& s) {
  Writer w{ini};
  VisitMain(s, w);
}

void LoadMainSettings(const std::string& path, MainSettings& s) {
  IniFile ini;
  ini.load(path);  // missing or unreadable: an empty document, every key at its default
  ReadMainSettings(ini, s);
}

bool SaveMainSettings(const std::string& path, const MainSettings& s, std::string* error) {
  return Update(path, error, [&](IniFile& ini) { WriteMainSettings(ini, s); });
}

void ReadSoundSettings(const IniFile& ini, MainSettings& s) {
  const int device = ini.getInt("SoundInterface", "AudioOutputDevice", 2);
  // The device selects one of three choices; anything else would index past them.
  s.audioOutputDevice = (device < 0 || device > 2) ? 2 : device;
}

void WriteSoundSettings(IniFile& ini, const MainSettings& s) {
  ini.setInt("SoundInterface", "AudioOutputDevice", s.audioOutputDevice);
}

void LoadSoundSettings(const std::string& path, MainSettings& s) {
  IniFile ini;
  ini.load(path);
  ReadSoundSettings(ini, s);
}

bool SaveSoundSettings(const std::string& path, const MainSettings& s, std::string* error) {
  return Update(path, error, [&](IniFile& ini) { WriteSoundSettings(ini, s); });
}

void ReadMainWindowSettings(const IniFile& ini, MainWindowSettings& w, int instanceNumber) {
  Reader r{ini};
  VisitMainWindow(w, r, 16 * (instanceNumber > 0 ? instanceNumber : 0));
}

void WriteMainWindowSettings(IniFile& ini, const MainWindowSettings& w) {
  MainWindowSettings stored = w;
  stored.firstRun = 0;
  Writer wr{ini};
  VisitMainWindow(stored, wr, 0);
}

void LoadMainWindowSettings(const std::string& path, MainWindowSettings& w, int instanceNumber) {
  IniFile ini;
  ini.load(path);
  ReadMainWindowSettings(ini, w, instanceNumber);
}

bool SaveMainWindowSettings(const std::string& path, const MainWindowSettings& w, std::string* error) {
  return Update(path, error, [&](IniFile& ini) { WriteMainWindowSettings(ini, w); });
}

void ReadInterfaceSettings(const IniFile& ini, CanInterfaceSettings& c) {
  Reader r{ini};
  VisitInterface(c, r);
}

void WriteInterfaceSettings(IniFile& ini, const CanInterfaceSettings& c) {
  Writer w{ini};
  VisitInterface(c, w);
}

void LoadInterfaceSettings(const std::string& path, CanInterfaceSettings& c) {
  IniFile ini;
  if (ini.load(path) == IniFile::LoadResult::kFailed) return;
  ReadInterfaceSettings(ini, c);
}

bool SaveInterfaceSettings(const std::string& path, const CanInterfaceSettings& c, std::string* error) {
  return Update(path, error, [&](IniFile& ini) { WriteInterfaceSettings(ini, c); });
}

}  // namespace busprobe
