#include "can/bus_settings.h"

#include <string>

#include "base/settings_keys.h"

namespace busprobe {

namespace {

template <class S, class V>
void VisitBuses(S& buses, V& v) {
  const CanBusSettings d;
  for (size_t b = 0; b < 2; ++b) {
    const std::string n = b == 0 ? "" : "2";
    v.integer("CanSettings", "Baudrate" + n, buses[b].baudrate, d.baudrate);
    v.integer("CanSettings", "FlexDataRate" + n, buses[b].flexDataRate, d.flexDataRate);
  }
}

}  // namespace

void ReadCanBusSettings(const IniFile& ini, CanBusSettings (&buses)[2]) {
  SettingsReader r(ini);
  VisitBuses(buses, r);
}

void WriteCanBusSettings(IniFile& ini, const CanBusSettings (&buses)[2]) {
  SettingsWriter w(ini);
  VisitBuses(buses, w);
}

}  // namespace busprobe
