#include "canopen/sdo_settings.h"

#include "base/ini_file.h"
#include "base/settings_keys.h"

namespace busprobe {

namespace {

template <class S, class V>
void VisitSdo(S& s, V& v) {
  const SdoSettings d;
  const char* sec = "SdoSettings";
  v.integer(sec, "ClientNodeID", s.clientNodeId, d.clientNodeId);
  v.integer(sec, "ServerNodeID", s.serverNodeId, d.serverNodeId);
  // Server 0 is "ServerNodeID"; the others count on from 2.
  for (size_t i = 0; i < s.moreServerNodeIds.size(); ++i)
    v.integer(sec, IndexedKey("ServerNodeID", i + 2), s.moreServerNodeIds[i], d.moreServerNodeIds[i]);
  v.integer(sec, "ServerEnable", s.serverEnable, d.serverEnable);
  v.integer(sec, "ClientEnable", s.clientEnable, d.clientEnable);
  v.integer(sec, "ServerTimeout", s.serverTimeoutMs, d.serverTimeoutMs);
  v.integer(sec, "ClientTimeout", s.clientTimeoutMs, d.clientTimeoutMs);
}

bool IsNodeId(int id) {
  return id >= 1 && id <= 127;
}

}  // namespace

void SdoCorrectNodeIds(SdoSettings& s) {
  if (!IsNodeId(s.serverNodeId)) s.serverNodeId = 1;
  if (!IsNodeId(s.clientNodeId)) s.clientNodeId = s.serverNodeId + 1;
}

void ReadSdoSettings(const IniFile& ini, SdoSettings& s) {
  SettingsReader r(ini);
  VisitSdo(s, r);
  SdoCorrectNodeIds(s);
}

void WriteSdoSettings(IniFile& ini, const SdoSettings& s) {
  SettingsWriter w(ini);
  VisitSdo(s, w);
}

}  // namespace busprobe
