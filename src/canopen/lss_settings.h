// Section CANopen_LSS of the configuration: the LSS master's options and the built-in slave's switch.
#pragma once

#include <cstdint>

namespace busprobe {

class IniFile;

struct LssSettings {
  int slaveOptions = 0;  // bit 0: built-in slave disabled
  int masterOptions = 0;
  int wantedFirstNodeId = 0;
  int wantedCanBaudrate = 0;  // kbit/s
  int scanDelayUs = 5000;

  static constexpr int kSlaveDisabled = 0x01;
  bool slaveEnabled() const { return (slaveOptions & kSlaveDisabled) == 0; }
};

void ReadLssSettings(const IniFile& ini, LssSettings& s);
void WriteLssSettings(IniFile& ini, const LssSettings& s);

}  // namespace busprobe
