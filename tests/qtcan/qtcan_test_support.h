// What the Qt CAN bus tests share: the process's Qt runtime, and the virtualcan bus they meet on.
//
// Qt's virtualcan plugin serves one TCP port per process, the one its first device asked for, for
// as long as the process lives; every test of this process therefore meets on one port, found
// free when the process starts (ctest runs each test in a process of its own).
#pragma once

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "qtcan/qt_can_bus.h"

namespace busprobe::qtcan_test {

// A TCP port on 127.0.0.1 that nothing listens on at the moment of asking.
inline int FreeTcpPort() {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  int port = 0;
  if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
      getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0)
    port = ntohs(address.sin_port);
  close(fd);
  return port;
}

QtCanBusRuntime& Runtime();
// "tcp://127.0.0.1:PORT/canN" on this process's port.
std::string VirtualCanName(int channel = 0);

// Polls until done() holds, for at most 10 s of real time (frames cross a TCP connection and a
// thread); false when it never did.
inline bool WaitFor(const std::function<bool()>& done) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

}  // namespace busprobe::qtcan_test
