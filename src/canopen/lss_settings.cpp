#include "canopen/lss_settings.h"

#include "base/ini_file.h"
#include "base/settings_keys.h"

namespace busprobe {
namespace {

template <class S, class V>
void VisitLss(S& s, V& v) {
  const LssSettings d;
  const char* sec = "CANopen_LSS";
  v.integer(sec, "SlaveOptions", s.slaveOptions, d.slaveOptions);
  v.integer(sec, "MasterOptions", s.masterOptions, d.masterOptions);
  v.integer(sec, "WantedFirstNodeID", s.wantedFirstNodeId, d.wantedFirstNodeId);
  v.integer(sec, "WantedCANBaudrate", s.wantedCanBaudrate, d.wantedCanBaudrate);
  v.integer(sec, "ScanDelay_us", s.scanDelayUs, d.scanDelayUs);
}

}  // namespace

void ReadLssSettings(const IniFile& ini, LssSettings& s) {
  SettingsReader r(ini);
  VisitLss(s, r);
  if (s.scanDelayUs < 0) s.scanDelayUs = 0;
}

void WriteLssSettings(IniFile& ini, const LssSettings& s) {
  SettingsWriter w(ini);
  VisitLss(s, w);
}

}  // namespace busprobe
