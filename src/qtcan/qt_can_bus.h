// Interface type 11: any plugin of Qt's CAN bus module (socketcan, peakcan, tinycan, virtualcan,
// ...), chosen per bus by plugin and interface name ("CanInterface" keys QtCanBusPlugin1/2,
// QtCanBusInterface1/2). This library is the only part of the CAN path that uses Qt; the CAN layer
// knows the type only through the row the executable (or a test) registers with its Ucan.
//
// Qt's CAN devices are served by an event loop: their sockets and timers work only while the
// thread they live in runs one. The devices therefore live in one thread of their own, kept by
// QtCanBusRuntime for the whole process, and the back-end talks to them through queues. The
// program's thread never has to process Qt events for the bus to work: the headless runner's loop
// and a blocking SDO wait receive frames as they do with any other adapter. One thread for the
// process, not one per back-end, because the virtualcan plugin keeps a single TCP server per
// process in the thread that opened its first device, and it must stay served.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "can/interface_types.h"

namespace busprobe {

// The Qt side every type-11 back-end of the process shares. Made by main() (or a test) before the
// first Application and destroyed after the last; not copyable. Starts nothing until first used.
class QtCanBusRuntime {
 public:
  QtCanBusRuntime();
  ~QtCanBusRuntime();
  QtCanBusRuntime(const QtCanBusRuntime&) = delete;
  QtCanBusRuntime& operator=(const QtCanBusRuntime&) = delete;

  // Makes sure the Qt thread runs; creates the QCoreApplication Qt needs when the program has
  // none (headless runs, tests). Call from the program's main thread. False with a text when Qt
  // cannot be started.
  bool start(std::string& error);
  // Runs fn in the Qt thread and waits for it (at once when already there). Needs start().
  void run(const std::function<void()>& fn);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// The type-11 row of the interface table, making back-ends that use this runtime.
CanInterfaceTypeRow QtCanBusInterfaceRow(QtCanBusRuntime& runtime);

struct QtCanBusPluginDevices {
  std::string plugin;
  std::vector<std::string> devices;  // the interface names the plugin reports
  std::string error;                 // why it reports none, when it says
};
// Every plugin Qt finds, with the devices it reports on this machine when asked (asking loads
// every plugin's driver library).
std::vector<QtCanBusPluginDevices> QtCanBusPlugins(QtCanBusRuntime& runtime, bool withDevices = true);

}  // namespace busprobe
