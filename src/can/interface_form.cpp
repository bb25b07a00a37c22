#include "can/interface_form.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdio>

#include "base/settings_keys.h"
#include "can/typed_number.h"

namespace busprobe {

namespace {

// A typed number within [low, high], else the fallback (also for a text without a number).
int64_t FieldNumber(const std::string& text, TypedRadix radix, int64_t low, int64_t high, int64_t fallback) {
  int64_t value = 0;
  if (!ReadTypedNumber(text, radix, value) || value < low || value > high) return fallback;
  return value;
}

int32_t Int32Field(const std::string& text, int32_t fallback) {
  return static_cast<int32_t>(FieldNumber(text, TypedRadix::kDecimal, INT32_MIN, INT32_MAX, fallback));
}

uint16_t PortField(const std::string& text, uint16_t fallback) {
  return static_cast<uint16_t>(FieldNumber(text, TypedRadix::kDecimal, 0, 0xFFFF, fallback));
}

// Names that select a device: blanks around them would only make the lookup fail.
std::string NameField(const std::string& text) {
  const size_t first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return {};
  const size_t last = text.find_last_not_of(" \t");
  return CutSettingText(text.substr(first, last - first + 1), kFormMaxNameLength);
}

}  // namespace

int InterfacePosition(const CanInterfaceTable& table, int type) {
  const auto& rows = table.types();
  for (size_t i = 0; i < rows.size(); ++i) {
    if (rows[i].type == type) return static_cast<int>(i);
  }
  return -1;
}

int InterfaceTypeAt(const CanInterfaceTable& table, int position) {
  const auto& rows = table.types();
  if (position < 0 || static_cast<size_t>(position) >= rows.size()) return -1;
  return rows[static_cast<size_t>(position)].type;
}

std::string IoAddressText(int32_t address) {
  char text[16];
  std::snprintf(text, sizeof text, "$%04X", static_cast<unsigned>(address));
  return text;
}

InterfaceForm FillInterfaceForm(const CanInterfaceSettings& s, const CanInterfaceTable& table,
                                std::vector<std::string> localIps) {
  InterfaceForm f;
  f.position = InterfacePosition(table, s.interfaceType);
  f.debugging = (s.debugFlags & 1) != 0;
  f.netNumber = std::to_string(s.ntcanNetNumber);
  f.startPcc = s.ntcanStartPcc != 0;
  f.stopPcc = s.ntcanStopPcc != 0;
  f.ioAddress = IoAddressText(s.pcanIoAddress);
  f.interrupt = std::to_string(s.pcanInterrupt);
  f.netNames = s.pcanNetNames;
  f.accessMask = std::to_string(s.vectorAccessMask);
  f.channelName = s.vectorChannelName;
  f.client = (s.cvudpFlags & kCvUdpClient) != 0;
  f.server = (s.cvudpFlags & kCvUdpServer) != 0;
  f.remoteIp = s.cvudpRemoteIp;
  f.remotePort = std::to_string(s.cvudpRemotePort);
  f.localPort = std::to_string(s.cvudpLocalPort);
  f.localIp = s.cvudpLocalIp;
  f.localIpChoices = std::move(localIps);
  const auto hit = std::find(f.localIpChoices.begin(), f.localIpChoices.end(), s.cvudpLocalIp);
  f.localIpIndex = hit == f.localIpChoices.end() ? -1 : static_cast<int>(hit - f.localIpChoices.begin());
  f.socketCanIf1 = s.socketCanIf1;
  f.socketCanIf2 = s.socketCanIf2;
  f.qtCanBusPlugin1 = s.qtCanBusPlugin1;
  f.qtCanBusInterface1 = s.qtCanBusInterface1;
  f.qtCanBusPlugin2 = s.qtCanBusPlugin2;
  f.qtCanBusInterface2 = s.qtCanBusInterface2;
  return f;
}

void StoreInterfaceForm(const InterfaceForm& f, const CanInterfaceTable& table, CanInterfaceSettings& s) {
  const int type = InterfaceTypeAt(table, f.position);
  if (type >= 0) s.interfaceType = type;
  s.debugFlags = (s.debugFlags & ~1) | (f.debugging ? 1 : 0);

  s.ntcanNetNumber = Int32Field(f.netNumber, kFormDefaultNetNumber);
  s.ntcanStartPcc = f.startPcc ? 1 : 0;
  s.ntcanStopPcc = f.stopPcc ? 1 : 0;

  s.pcanIoAddress = static_cast<int32_t>(FieldNumber(
      f.ioAddress, TypedRadix::kDecimalOrHex, kFormMinIoAddress, kFormMaxIoAddress, kFormDefaultIoAddress));
  s.pcanInterrupt = static_cast<uint16_t>(FieldNumber(f.interrupt, TypedRadix::kDecimal, kFormMinInterrupt,
                                                      kFormMaxInterrupt, kFormDefaultInterrupt));
  s.pcanNetNames = CutSettingText(f.netNames, kFormMaxNameLength);

  s.vectorAccessMask = Int32Field(f.accessMask, kFormDefaultAccessMask);
  s.vectorChannelName = CutSettingText(f.channelName, kFormMaxNameLength);

  s.cvudpFlags = (f.client ? kCvUdpClient : 0) | (f.server ? kCvUdpServer : 0);
  s.cvudpRemoteIp = CutSettingText(f.remoteIp, kFormMaxIpLength);
  s.cvudpRemotePort = PortField(f.remotePort, kFormDefaultRemotePort);
  s.cvudpLocalPort = PortField(f.localPort, kFormDefaultLocalPort);
  s.cvudpLocalIp = CutSettingText(f.localIp, kFormMaxIpLength);

  s.socketCanIf1 = NameField(f.socketCanIf1);
  s.socketCanIf2 = NameField(f.socketCanIf2);
  s.qtCanBusPlugin1 = NameField(f.qtCanBusPlugin1);
  s.qtCanBusInterface1 = NameField(f.qtCanBusInterface1);
  s.qtCanBusPlugin2 = NameField(f.qtCanBusPlugin2);
  s.qtCanBusInterface2 = NameField(f.qtCanBusInterface2);
}

std::vector<std::string> Ipv4AddressesOf(const std::string& hostName) {
  std::vector<std::string> out;
  addrinfo hints{};
  hints.ai_family = AF_INET;
  // One socket type: otherwise every address comes once per type.
  hints.ai_socktype = SOCK_DGRAM;
  addrinfo* found = nullptr;
  if (hostName.empty() || getaddrinfo(hostName.c_str(), nullptr, &hints, &found) != 0) return out;
  for (const addrinfo* a = found; a != nullptr; a = a->ai_next) {
    if (a->ai_family != AF_INET || a->ai_addr == nullptr) continue;
    char text[INET_ADDRSTRLEN];
    const auto* in = reinterpret_cast<const sockaddr_in*>(a->ai_addr);
    if (inet_ntop(AF_INET, &in->sin_addr, text, sizeof text) == nullptr) continue;
    if (std::find(out.begin(), out.end(), text) == out.end()) out.emplace_back(text);
  }
  freeaddrinfo(found);
  return out;
}

std::vector<std::string> LocalIpv4Addresses() {
  char name[256] = {};
  if (gethostname(name, sizeof name - 1) != 0) return {};
  return Ipv4AddressesOf(name);
}

}  // namespace busprobe
