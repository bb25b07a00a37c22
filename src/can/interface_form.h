// What the "CAN Interface Selection" window shows and stores, without the widgets: the window
// fills its fields from an InterfaceForm made from the parameter record, and on OK hands the
// fields back as the user left them, to be parsed into the record with every fallback of a field
// typed wrongly. The list of interfaces is the interface table's order, so a type registered at
// run time keeps its place.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "can/interface_settings.h"
#include "can/interface_types.h"

namespace busprobe {

// The values fields fall back to when typed wrongly.
inline constexpr int32_t kFormDefaultNetNumber = 1;
inline constexpr int32_t kFormDefaultIoAddress = 888;
inline constexpr int32_t kFormMinIoAddress = 512;
inline constexpr int32_t kFormMaxIoAddress = 4095;
inline constexpr uint16_t kFormDefaultInterrupt = 7;
inline constexpr int kFormMinInterrupt = 3;
inline constexpr int kFormMaxInterrupt = 15;
inline constexpr int32_t kFormDefaultAccessMask = 1;
inline constexpr uint16_t kFormDefaultRemotePort = 55556;
inline constexpr uint16_t kFormDefaultLocalPort = 55557;
inline constexpr size_t kFormMaxNameLength = 254;
inline constexpr size_t kFormMaxIpLength = 39;

// The window's fields as texts and check marks.
struct InterfaceForm {
  int position = -1;  // the chosen entry of the interface list; -1: none
  bool debugging = false;
  // NTCAN
  std::string netNumber;
  bool startPcc = false;
  bool stopPcc = false;
  // PCAN-Light dongle
  std::string ioAddress;
  std::string interrupt;
  // CAN-API 2
  std::string netNames;
  // Vector
  std::string accessMask;
  std::string channelName;
  // CAN-via-UDP
  bool client = false;
  bool server = false;
  std::string remoteIp;
  std::string remotePort;
  std::string localPort;
  std::string localIp;  // the drop-down's text
  std::vector<std::string> localIpChoices;
  int localIpIndex = -1;  // the choice equal to the stored local IP; -1: none
  // SocketCAN
  std::string socketCanIf1;
  std::string socketCanIf2;
  // Qt CAN bus
  std::string qtCanBusPlugin1;
  std::string qtCanBusInterface1;
  std::string qtCanBusPlugin2;
  std::string qtCanBusInterface2;
};

// The list position of a type in the table's order; -1 for a type the table does not list.
int InterfacePosition(const CanInterfaceTable& table, int type);
// The type at a list position; -1 for a position outside the list.
int InterfaceTypeAt(const CanInterfaceTable& table, int position);

// The window's fields for the stored record. `localIps` are the choices of the local-IP
// drop-down (LocalIpv4Addresses()); the drop-down's text is the stored local IP even when it is
// not one of them, so that OK without touching it keeps what was stored.
InterfaceForm FillInterfaceForm(const CanInterfaceSettings& settings, const CanInterfaceTable& table,
                                std::vector<std::string> localIps);

// Stores the fields into the record. A list without a chosen entry keeps the stored type. Fields
// the window does not show (the dongle base address, debug bits above bit 0) stay as they are.
void StoreInterfaceForm(const InterfaceForm& form, const CanInterfaceTable& table,
                        CanInterfaceSettings& settings);

// The I/O address as the form shows it: "$" and four upper-case hexadecimal digits.
std::string IoAddressText(int32_t address);

// Every IPv4 address the resolver gives for `hostName`, dotted decimal, in its order, each once.
// Empty when the name does not resolve.
std::vector<std::string> Ipv4AddressesOf(const std::string& hostName);
// Those of the own host name.
std::vector<std::string> LocalIpv4Addresses();

}  // namespace busprobe
