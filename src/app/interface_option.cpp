#include "app/interface_option.h"

#include <net/if.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "can/cvudp.h"
#include "can/shared_library.h"

namespace busprobe {

namespace {

const char kForms[] = "virtual, socketcan:IF, cvudp:HOST:PORT or qtcan:PLUGIN:NAME";

bool Refuse(std::string& error, const std::string& text, const std::string& why) {
  error = "--interface " + text + ": " + why;
  return false;
}

bool IsLoopback(const std::string& ip) {
  uint32_t address = 0;
  return CvUdpParseIp(ip, address) && (address >> 24) == 127;
}

std::string ReadFirstLine(const std::filesystem::path& path) {
  std::ifstream in(path);
  std::string line;
  std::getline(in, line);
  return line;
}

}  // namespace

bool ParseInterfaceOption(const std::string& text, InterfaceOption& out, std::string& error) {
  out = InterfaceOption{};
  const size_t colon = text.find(':');
  const std::string kind = text.substr(0, colon);
  const std::string rest = colon == std::string::npos ? std::string() : text.substr(colon + 1);
  if (kind == "virtual") {
    if (colon != std::string::npos) return Refuse(error, text, "the virtual bus takes no parameters");
    out.kind = InterfaceOption::Kind::kVirtual;
    return true;
  }
  if (kind == "socketcan") {
    if (rest.empty()) return Refuse(error, text, "needs the SocketCAN interface name (socketcan:can0)");
    if (rest.size() >= IFNAMSIZ) return Refuse(error, text, "the interface name is too long");
    for (char c : rest) {
      if (c == '/' || std::isspace(static_cast<unsigned char>(c)))
        return Refuse(error, text, "the interface name may not hold '/' or blanks");
    }
    out.kind = InterfaceOption::Kind::kSocketCan;
    out.socketCanName = rest;
    return true;
  }
  if (kind == "cvudp") {
    const size_t portColon = rest.rfind(':');
    if (colon == std::string::npos || portColon == std::string::npos)
      return Refuse(error, text, "needs the server's address and port (cvudp:127.0.0.1:55556)");
    std::string host = rest.substr(0, portColon);
    const std::string port = rest.substr(portColon + 1);
    if (host == "localhost") host = "127.0.0.1";
    // Four dotted numbers only: the short forms a resolver takes ("1.2.3") would name some other
    // machine than the user meant.
    uint32_t address = 0;
    if (std::count(host.begin(), host.end(), '.') != 3 || !CvUdpParseIp(host, address))
      return Refuse(error, text, "\"" + host + "\" is no IPv4 address");
    char* end = nullptr;
    const long number = std::strtol(port.c_str(), &end, 10);
    if (port.empty() || *end != '\0' || number < 1 || number > 65535)
      return Refuse(error, text, "the port must be a number from 1 to 65535");
    out.kind = InterfaceOption::Kind::kCvUdp;
    out.cvudpIp = host;
    out.cvudpPort = static_cast<uint16_t>(number);
    return true;
  }
  if (kind == "qtcan") {
    const size_t nameColon = rest.find(':');
    if (colon == std::string::npos || nameColon == std::string::npos || nameColon == 0 ||
        nameColon + 1 == rest.size())
      return Refuse(error, text, "needs a plugin and an interface name (qtcan:virtualcan:can0)");
    out.kind = InterfaceOption::Kind::kQtCanBus;
    out.qtPlugin = rest.substr(0, nameColon);
    out.qtInterface = rest.substr(nameColon + 1);
    return true;
  }
  return Refuse(error, text, std::string("unknown form (use ") + kForms + ")");
}

void ApplyInterfaceOption(const InterfaceOption& option, CanInterfaceSettings& s) {
  switch (option.kind) {
    case InterfaceOption::Kind::kNone:
      return;
    case InterfaceOption::Kind::kVirtual:
      s.interfaceType = kIntfVirtual;
      return;
    case InterfaceOption::Kind::kSocketCan:
      s.interfaceType = kIntfSocketCan;
      s.socketCanIf1 = option.socketCanName;
      return;
    case InterfaceOption::Kind::kCvUdp:
      s.interfaceType = kIntfCvUdp;
      // Only the client: a server beside it would have no bus of its own to offer.
      s.cvudpFlags = kCvUdpClient;
      s.cvudpRemoteIp = option.cvudpIp;
      s.cvudpRemotePort = option.cvudpPort;
      // The configured local port may be the one a server on this machine listens on.
      s.cvudpLocalIp = IsLoopback(option.cvudpIp) ? "127.0.0.1" : "0.0.0.0";
      s.cvudpLocalPort = 0;
      return;
    case InterfaceOption::Kind::kQtCanBus:
      s.interfaceType = kIntfQtCanBus;
      s.qtCanBusPlugin1 = option.qtPlugin;
      s.qtCanBusInterface1 = option.qtInterface;
      return;
  }
}

std::vector<std::string> ListSocketCanInterfaces(const std::string& sysClassNet) {
  namespace fs = std::filesystem;
  std::vector<std::string> names;
  std::error_code ec;
  for (const fs::directory_entry& entry : fs::directory_iterator(sysClassNet, ec)) {
    constexpr const char* kCanLinkType = "280";  // ARPHRD_CAN
    if (ReadFirstLine(entry.path() / "type") != kCanLinkType) continue;
    const unsigned long flags = std::strtoul(ReadFirstLine(entry.path() / "flags").c_str(), nullptr, 16);
    names.push_back(entry.path().filename().string() + ((flags & IFF_UP) ? " (up)" : " (down)"));
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::string InterfaceListing(const CanInterfaceTable& table, bool qtAvailable,
                             const std::vector<std::string>& qtLines, const std::string& sysClassNet) {
  std::string text = "SocketCAN interfaces (--interface socketcan:IF):\n";
  const std::vector<std::string> socketCan = ListSocketCanInterfaces(sysClassNet);
  for (const std::string& name : socketCan) text += "  " + name + "\n";
  if (socketCan.empty()) text += "  none found\n";

  text += "Qt CAN bus plugins and their interfaces (--interface qtcan:PLUGIN:NAME):\n";
  if (!qtAvailable) text += "  not part of this program\n";
  for (const std::string& line : qtLines) text += "  " + line + "\n";
  if (qtAvailable && qtLines.empty()) text += "  none found\n";

  text += "Vendor libraries:\n";
  for (const CanInterfaceTypeRow& row : table.types()) {
    const bool vendor = row.type == kIntfNtcan || row.type == kIntfCanApi2 || row.type == kIntfPcanDongle ||
                        row.type == kIntfPcanUsb || row.type == kIntfKvaser || row.type == kIntfVector;
    if (!vendor) continue;
    text += "  " + row.caption + ": ";
    SharedLibrary library;
    if (!row.libraryNames.empty() && library.open(row.libraryNames)) {
      text += "found (" + library.fileName() + ")\n";
      continue;
    }
    text += "not loaded";
    if (row.libraryNames.empty()) {
      text += " (no Linux library)";
    } else {
      std::string tried;
      for (const std::string& name : row.libraryNames) tried += (tried.empty() ? "" : ", ") + name;
      text += " (" + tried + ")";
    }
    text += "\n";
  }
  return text;
}

}  // namespace busprobe
