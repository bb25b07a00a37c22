#include "base/directory_settings.h"

#include "base/settings_keys.h"

namespace busprobe {

namespace {

template <class S, class V>
void VisitDirectories(S& s, V& v) {
  const DirectorySettings d;
  const char* sec = "Directories";
  v.text(sec, "Programs", s.programs, kSettingPathLen, d.programs);
  v.text(sec, "Objects", s.objects, kSettingPathLen, d.objects);
  v.text(sec, "HelpFile", s.helpFile, kSettingPathLen, d.helpFile);
  v.text(sec, "LogFileDir", s.logFileDir, kSettingPathLen, d.logFileDir);
  v.command(sec, "HtmlBrowser", s.htmlBrowser, 511);
  v.text(sec, "MyObjectDictionary", s.myObjectDictionary, kSettingPathLen, d.myObjectDictionary);
  v.text(sec, "HisObjectDictionary", s.hisObjectDictionary, kSettingPathLen, d.hisObjectDictionary);
}

}  // namespace

void ReadDirectorySettings(const IniFile& ini, DirectorySettings& d) {
  SettingsReader r(ini);
  VisitDirectories(d, r);
}

void WriteDirectorySettings(IniFile& ini, const DirectorySettings& d) {
  SettingsWriter w(ini);
  VisitDirectories(d, w);
}

}  // namespace busprobe
