// The command line's choice of bus 1's interface for one run (--interface), and what
// --list-interfaces prints about the interfaces this machine offers. The choice is laid over the
// configured interface settings right before UCAN_Init; the configuration itself never sees it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "can/interface_settings.h"
#include "can/interface_types.h"

namespace busprobe {

struct InterfaceOption {
  enum class Kind { kNone, kVirtual, kSocketCan, kCvUdp, kQtCanBus };
  Kind kind = Kind::kNone;  // kNone: not given, the configuration stands
  std::string socketCanName;
  std::string cvudpIp;  // dotted IPv4
  uint16_t cvudpPort = 0;
  std::string qtPlugin, qtInterface;

  bool given() const { return kind != Kind::kNone; }
  bool operator==(const InterfaceOption&) const = default;
};

// "virtual", "socketcan:IF", "cvudp:HOST:PORT" (HOST an IPv4 address or "localhost") or
// "qtcan:PLUGIN:NAME" (NAME is everything after the second colon, so a virtualcan URL like
// tcp://127.0.0.1:35468/can0 fits). False with a one-line text for anything else.
bool ParseInterfaceOption(const std::string& text, InterfaceOption& out, std::string& error);

// Bus 1's interface as the option says; bus 2's settings and everything else stay as configured.
// A CAN-via-UDP client takes any free local port, on the loopback interface when its server is
// on this machine.
void ApplyInterfaceOption(const InterfaceOption& option, CanInterfaceSettings& settings);

// The names of the CAN network interfaces under sysClassNet (link type 280), sorted, each with
// " (up)" or " (down)".
std::vector<std::string> ListSocketCanInterfaces(const std::string& sysClassNet = "/sys/class/net");

// The --list-interfaces text: the SocketCAN interfaces, the Qt CAN bus lines given (already
// formatted, one per plugin; qtAvailable false: the program was built without them), and every
// vendor library of the table, "found" with the file that loaded or "not loaded".
std::string InterfaceListing(const CanInterfaceTable& table, bool qtAvailable,
                             const std::vector<std::string>& qtLines,
                             const std::string& sysClassNet = "/sys/class/net");

}  // namespace busprobe
