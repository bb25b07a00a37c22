// What the CAN-via-UDP tests share: a plain UDP socket on 127.0.0.1 standing in for the other side,
// builders of the exact packets on the wire, and the bounded wait of threaded socket tests.
#pragma once

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <thread>
#include <vector>

#include "can/cvudp.h"

namespace busprobe::cvudp_test {

using Bytes = std::vector<uint8_t>;
constexpr uint32_t kLoopback = 0x7F000001;
// 127.0.0.1 as it travels in a parameter word: bytes 127, 0, 0, 1 in dotted order.
constexpr uint32_t kLoopbackWire = 0x0100007F;

// Bounded polling: the receive threads answer within milliseconds; 5 s only guards against hangs.
inline bool WaitFor(const std::function<bool()>& done, int ms = 5000) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (!done()) {
    if (std::chrono::steady_clock::now() > until) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

// A plain UDP socket on 127.0.0.1 standing in for the other side.
class UdpPeer {
 public:
  UdpPeer() {
    fd_ = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(kLoopback);
    EXPECT_EQ(bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    socklen_t len = sizeof a;
    getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len);
    port_ = ntohs(a.sin_port);
    const int big = 8 * 1024 * 1024;
    setsockopt(fd_, SOL_SOCKET, SO_SNDBUF, &big, sizeof big);
    setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &big, sizeof big);
  }
  ~UdpPeer() { ::close(fd_); }
  UdpPeer(const UdpPeer&) = delete;
  UdpPeer& operator=(const UdpPeer&) = delete;

  uint16_t port() const { return port_; }
  void sendTo(uint16_t port, const Bytes& bytes) const {
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(kLoopback);
    to.sin_port = htons(port);
    ASSERT_EQ(sendto(fd_, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to),
              static_cast<ssize_t>(bytes.size()));
  }
  // Next datagram within timeoutMs, or false.
  bool receive(Bytes& out, int timeoutMs = 3000) const {
    pollfd p{fd_, POLLIN, 0};
    if (poll(&p, 1, timeoutMs) <= 0) return false;
    out.resize(65536);
    const ssize_t n = recv(fd_, out.data(), out.size(), 0);
    if (n < 0) return false;
    out.resize(static_cast<size_t>(n));
    return true;
  }
  // True when nothing arrives within ms.
  bool quiet(int ms = 80) const {
    Bytes b;
    return !receive(b, ms);
  }

 private:
  int fd_ = -1;
  uint16_t port_ = 0;
};

inline Bytes Command(uint8_t code, uint8_t a, uint8_t b, uint32_t p0, uint32_t p1, uint32_t p2 = 0,
                     uint32_t p3 = 0) {
  CvUdpCommand cmd;
  cmd.code = code;
  cmd.argA = a;
  cmd.argB = b;
  cmd.paramCount = 4;
  cmd.p[0] = p0;
  cmd.p[1] = p1;
  cmd.p[2] = p2;
  cmd.p[3] = p3;
  Bytes out(24);
  CvUdpBuildCommand(cmd, out.data());
  return out;
}

// One CAN_MSG packet holding every entry given.
struct Entry {
  uint32_t id, info, ticks;
  Bytes data;
};
inline Bytes FramePacket(const std::vector<Entry>& entries) {
  Bytes out;
  const uint16_t len = static_cast<uint16_t>(entries.size() * kCvUdpEntrySize);
  out = {kCvUdpCanMsg, 0, static_cast<uint8_t>(len & 0xFF), static_cast<uint8_t>(len >> 8)};
  for (const auto& e : entries) {
    uint8_t data[8] = {};
    for (size_t i = 0; i < e.data.size() && i < 8; ++i) data[i] = e.data[i];
    uint8_t packet[80];
    CvUdpBuildFrame(e.id, e.info, e.ticks, data, packet);
    out.insert(out.end(), packet + 4, packet + 80);
  }
  return out;
}

inline uint32_t U32(const Bytes& b, size_t at) {
  return static_cast<uint32_t>(b[at]) | (static_cast<uint32_t>(b[at + 1]) << 8) |
         (static_cast<uint32_t>(b[at + 2]) << 16) | (static_cast<uint32_t>(b[at + 3]) << 24);
}

// Decodes a datagram that must be exactly one COMMAND packet.
inline bool AsCommand(const Bytes& b, CvUdpCommand& cmd) {
  return b.size() == 24 && b[0] == kCvUdpCommand && CvUdpParseCommand(b.data() + 4, 20, cmd);
}

}  // namespace busprobe::cvudp_test
