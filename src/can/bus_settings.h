// The bit rates of the two buses (section "CanSettings"), with which the application initialises
// the controllers.
#pragma once

namespace busprobe {

class IniFile;

struct CanBusSettings {
  int baudrate = 500;    // kbit/s, 0 = bus unused
  int flexDataRate = 0;  // CAN FD data rate, kbit/s, 0 = classic CAN
};

// Bus 1 has the keys Baudrate and FlexDataRate, bus 2 the same names with a "2".
void ReadCanBusSettings(const IniFile& ini, CanBusSettings (&buses)[2]);
void WriteCanBusSettings(IniFile& ini, const CanBusSettings (&buses)[2]);

}  // namespace busprobe
