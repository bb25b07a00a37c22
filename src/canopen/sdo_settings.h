// The SDO client's and servers' configuration: section "SdoSettings" of the configuration file,
// edited in the settings window. The SDO engine keeps a reference to its record and reads it
// whenever the settings are applied; the script command that changes the client's node writes
// the client's node ID into it.
#pragma once

#include <array>

namespace busprobe {

class IniFile;

struct SdoSettings {
  int clientNodeId = 1;  // outside 1..127: serverNodeId + 1
  int serverNodeId = 2;  // node of server 0; outside 1..127: 1
  // Nodes of servers 1..7 ("ServerNodeID2".."ServerNodeID8"); taken as they stand, 0 leaves the
  // server switched off.
  std::array<int, 7> moreServerNodeIds{};
  int serverEnable = 1;
  int clientEnable = 1;
  int serverTimeoutMs = 500;
  int clientTimeoutMs = 500;

  bool operator==(const SdoSettings&) const = default;
};

// Brings the client's and server 0's node IDs into 1..127 as the section's rules say. Reading
// applies it; so does the engine before it uses a record someone else may have edited.
void SdoCorrectNodeIds(SdoSettings& s);

// Milliseconds into 100 ms ticks, rounded to the nearest tick: 40 gives 0, 500 gives 5.
inline int SdoTimeoutTicks(int milliseconds) {
  return (milliseconds + 50) / 100;
}

void ReadSdoSettings(const IniFile& ini, SdoSettings& s);
void WriteSdoSettings(IniFile& ini, const SdoSettings& s);

}  // namespace busprobe
