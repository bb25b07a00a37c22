#include "app/config_file.h"

#include <cstddef>

#include "base/settings_keys.h"
#include "interp/variable_file.h"

namespace busprobe {

namespace {

std::string DefaultCurrFile(const std::string& programs) {
  return CutSettingText(programs, 80) + "/default.cmd";
}

template <class S, class V>
void VisitLastSession(S& s, V& v) {
  // Programs has been read by now, so the default command file follows the configured folder.
  v.text("LastSession", "CurrFile", s.currFile, kSettingPathLen, DefaultCurrFile(s.dirs.programs));
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
  v.text(mw, "SearchString", w.searchString, kSettingPathLen, d.searchString);
  v.integer(mw, "ScriptReadOnly", w.scriptReadOnly, d.scriptReadOnly);
  v.integer(mw, "DisplayBaseForInspector", w.displayBaseForInspector, d.displayBaseForInspector);
  v.integer(mw, "FirstRun", w.firstRun, d.firstRun);
  v.integer(mw, "LanguageTestMode", w.languageTestMode, d.languageTestMode);
  v.text(mw, "Language", w.language, kSettingPathLen, d.language);
  for (size_t i = 0; i < w.recentFiles.size(); ++i)
    v.text("LastSession", IndexedKey("RecentFile", i), w.recentFiles[i], kSettingPathLen, d.recentFiles[i]);
}

template <class P, class V>
void VisitPlayerWindow(P& p, V& v) {
  v.geometry("CanPlayerWindow", "Left", p.left, 0);
  v.geometry("CanPlayerWindow", "Top", p.top, 0);
}

template <class W, class V>
void VisitBrowserWindow(const char* section, W& w, V& v) {
  v.geometry(section, "Left", w.left, 0);
  v.geometry(section, "Top", w.top, 0);
  v.geometry(section, "Width", w.width, 0);
  v.geometry(section, "Height", w.height, 0);
}

template <class B, class V>
void VisitDictionaryBrowsers(B& b, V& v) {
  VisitBrowserWindow("DictViewWindow", b.local, v);
  VisitBrowserWindow("RemoteDictViewWindow", b.remote, v);
  v.integer("RemoteObjectDictionaryViewer", "DontReadLargeObjects", b.dontReadLargeObjects,
            DictionaryBrowserSettings().dontReadLargeObjects);
}

// Read-modify-write: what the file holds besides our keys must survive, so a file that exists
// but cannot be read is not replaced.
template <class Fn>
bool Update(const std::string& path, std::string* error, Fn&& write) {
  IniFile ini;
  const IniFile::LoadResult loaded = ini.load(path, error);
  if (loaded == IniFile::LoadResult::kFailed || loaded == IniFile::LoadResult::kRefused) return false;
  const std::string before = ini.text();
  write(ini);
  if (ini.text() == before) return true;  // nothing to write
  return ini.save(path, error);
}

// Missing or unreadable: an empty document, every key at its default.
IniFile LoadOrEmpty(const std::string& path) {
  IniFile ini;
  ini.load(path);
  return ini;
}

}  // namespace

std::string BuildIniFileName(const std::string& directory, int instanceNumber) {
  std::string name = directory;
  if (!name.empty() && name.back() != '/') name += '/';
  name += "NVK_Busprobe";
  if (instanceNumber > 0) name += std::to_string(instanceNumber);
  return name + ".ini";
}

bool IsSavedConfigDirectoryFile(std::string_view name) {
  if (name == kVariablesFileName) return true;
  constexpr std::string_view kStem = "NVK_Busprobe", kExt = ".ini";
  if (name.size() < kStem.size() + kExt.size() || name.substr(0, kStem.size()) != kStem ||
      name.substr(name.size() - kExt.size()) != kExt)
    return false;
  const std::string_view number = name.substr(kStem.size(), name.size() - kStem.size() - kExt.size());
  for (const char c : number)
    if (c < '0' || c > '9') return false;
  return true;
}

void ReadMainSettings(const IniFile& ini, MainSettings& s) {
  ReadCanBusSettings(ini, s.bus);
  ReadDirectorySettings(ini, s.dirs);
  ReadDisplaySettings(ini, s.display);
  ReadTriggerSettings(ini, s.trigger);
  ReadInterpreterSettings(ini, s.interp);
  ReadLoggingSettings(ini, s.logging);
  ReadCanMessageNames(ini, s.canMessages);
  ReadPlayerSettings(ini, s.player);
  ReadSdoSettings(ini, s.sdo);
  ReadLssSettings(ini, s.lss);
  ReadDictionaryScanSettings(ini, s.odScanner);
  SettingsReader r(ini);
  VisitLastSession(s, r);
}

void WriteMainSettings(IniFile& ini, const MainSettings& s) {
  WriteCanBusSettings(ini, s.bus);
  WriteDirectorySettings(ini, s.dirs);
  WriteDisplaySettings(ini, s.display);
  WriteTriggerSettings(ini, s.trigger);
  WriteInterpreterSettings(ini, s.interp);
  WriteLoggingSettings(ini, s.logging);
  WriteCanMessageNames(ini, s.canMessages);
  WritePlayerSettings(ini, s.player);
  WriteSdoSettings(ini, s.sdo);
  WriteLssSettings(ini, s.lss);
  WriteDictionaryScanSettings(ini, s.odScanner);
  SettingsWriter w(ini);
  VisitLastSession(s, w);
}

void LoadMainSettings(const std::string& path, MainSettings& s) {
  ReadMainSettings(LoadOrEmpty(path), s);
}

bool SaveMainSettings(const std::string& path, const MainSettings& s, std::string* error) {
  return Update(path, error, [&](IniFile& ini) { WriteMainSettings(ini, s); });
}

void ReadSoundSettings(const IniFile& ini, MainSettings& s) {
  ReadAudioOutputDevice(ini, s.audioOutputDevice);
}

void WriteSoundSettings(IniFile& ini, const MainSettings& s) {
  WriteAudioOutputDevice(ini, s.audioOutputDevice);
}

void LoadSoundSettings(const std::string& path, MainSettings& s) {
  ReadSoundSettings(LoadOrEmpty(path), s);
}

bool SaveSoundSettings(const std::string& path, const MainSettings& s, std::string* error) {
  return Update(path, error, [&](IniFile& ini) { WriteSoundSettings(ini, s); });
}

void ReadMainWindowSettings(const IniFile& ini, MainWindowSettings& w, int instanceNumber) {
  SettingsReader r(ini);
  VisitMainWindow(w, r, 16 * (instanceNumber > 0 ? instanceNumber : 0));
}

void WriteMainWindowSettings(IniFile& ini, const MainWindowSettings& w) {
  MainWindowSettings stored = w;
  stored.firstRun = 0;
  SettingsWriter wr(ini);
  VisitMainWindow(stored, wr, 0);
}

void LoadMainWindowSettings(const std::string& path, MainWindowSettings& w, int instanceNumber) {
  ReadMainWindowSettings(LoadOrEmpty(path), w, instanceNumber);
}

bool SaveMainWindowSettings(const std::string& path, const MainWindowSettings& w, std::string* error) {
  return Update(path, error, [&](IniFile& ini) { WriteMainWindowSettings(ini, w); });
}

void ReadPlayerWindowSettings(const IniFile& ini, PlayerWindowSettings& p) {
  SettingsReader r(ini);
  VisitPlayerWindow(p, r);
}

void WritePlayerWindowSettings(IniFile& ini, const PlayerWindowSettings& p) {
  SettingsWriter w(ini);
  VisitPlayerWindow(p, w);
}

void LoadPlayerWindowSettings(const std::string& path, PlayerWindowSettings& p) {
  ReadPlayerWindowSettings(LoadOrEmpty(path), p);
}

bool SavePlayerWindowSettings(const std::string& path, const PlayerWindowSettings& p, std::string* error) {
  return Update(path, error, [&](IniFile& ini) { WritePlayerWindowSettings(ini, p); });
}

void ReadDictionaryBrowserSettings(const IniFile& ini, DictionaryBrowserSettings& b) {
  SettingsReader r(ini);
  VisitDictionaryBrowsers(b, r);
}

void WriteDictionaryBrowserSettings(IniFile& ini, const DictionaryBrowserSettings& b) {
  SettingsWriter w(ini);
  VisitDictionaryBrowsers(b, w);
}

bool SaveDictionaryBrowserSettings(const std::string& path, const DictionaryBrowserSettings& b,
                                   std::string* error) {
  return Update(path, error, [&](IniFile& ini) { WriteDictionaryBrowserSettings(ini, b); });
}

void LoadInterfaceSettings(const std::string& path, CanInterfaceSettings& c) {
  IniFile ini;
  const IniFile::LoadResult loaded = ini.load(path);
  if (loaded == IniFile::LoadResult::kFailed || loaded == IniFile::LoadResult::kRefused) return;
  ReadInterfaceSettings(ini, c);
}

bool SaveInterfaceSettings(const std::string& path, const CanInterfaceSettings& c, std::string* error) {
  return Update(path, error, [&](IniFile& ini) { WriteInterfaceSettings(ini, c); });
}

}  // namespace busprobe
