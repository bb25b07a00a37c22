// The interface parameter record: which back-end carries the bus and every back-end's own
// settings, with the key table of its configuration section "CanInterface". The application
// loads and saves it, and copies it into the UCAN layer right before UCAN_Init.
#pragma once

#include <cstdint>
#include <string>

namespace busprobe {

class IniFile;

enum CanInterfaceType : int32_t {
  kIntfNone = 0,
  kIntfCvUdp = 1,
  kIntfNtcan = 2,
  kIntfCanApi2 = 4,
  kIntfPcanDongle = 5,
  kIntfPcanUsb = 6,
  kIntfKvaser = 7,
  kIntfVector = 8,
  kIntfSocketCan = 9,
  kIntfVirtual = 10,
  // Any plugin of Qt's CAN bus module; its back-end lives in a library of its own (Qt stays out of
  // the CAN layer) and registers the type at start-up.
  kIntfQtCanBus = 11,
};

// CAN-via-UDP role flags
constexpr int32_t kCvUdpClient = 1;
constexpr int32_t kCvUdpServer = 2;

// The defaults are those of a fresh configuration: the key table reads a missing key as the
// value of a fresh record.
struct CanInterfaceSettings {
  int32_t debugFlags = 0;
  // The virtual bus rather than "none": a fresh configuration does something without hardware.
  int32_t interfaceType = kIntfVirtual;
  int32_t dongleBaseAddr = 888;
  int32_t ntcanNetNumber = 0;
  int32_t ntcanStartPcc = 0;
  int32_t ntcanStopPcc = 0;
  int32_t pcanIoAddress = 888;
  uint16_t pcanInterrupt = 7;
  std::string pcanNetNames = "NvkNet";  // at most 254 characters
  int32_t vectorAccessMask = 1;
  std::string vectorChannelName = "Virtual Channel 1";  // at most 254 characters
  int32_t cvudpFlags = 0;                               // a missing key keeps the current value
  std::string cvudpRemoteIp = "192.168.0.100";          // at most 39 characters
  std::string cvudpLocalIp = "0.0.0.0";                 // at most 39 characters
  uint16_t cvudpRemotePort = 55556;
  uint16_t cvudpLocalPort = 55556;
  std::string socketCanIf1 = "can0";
  std::string socketCanIf2 = "can1";
  // Qt CAN bus plugin and interface name per bus (type 11); an empty plugin leaves that bus closed.
  std::string qtCanBusPlugin1 = "virtualcan";
  std::string qtCanBusInterface1 = "can0";
  std::string qtCanBusPlugin2;
  std::string qtCanBusInterface2;

  bool operator==(const CanInterfaceSettings&) const = default;
};

// Ports and the interrupt outside 0..65535 read as their defaults; texts are cut to their lengths.
void ReadInterfaceSettings(const IniFile& ini, CanInterfaceSettings& c);
void WriteInterfaceSettings(IniFile& ini, const CanInterfaceSettings& c);

}  // namespace busprobe
