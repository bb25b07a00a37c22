// The node scanner in the running application: it asks node after node over the application's
// blocking client transfer. It steps on the tick when the receive pump found nothing to do, and for
// every received frame while it is active; a step started from inside another (the wait's own
// receive path) returns at once, and none starts while another caller's client transfer runs.
#pragma once

#include <string>
#include <vector>

#include "canopen/node_scanner.h"

namespace busprobe {

class Application;

class NodeScanSession {
 public:
  explicit NodeScanSession(Application& app);
  NodeScanSession(const NodeScanSession&) = delete;
  NodeScanSession& operator=(const NodeScanSession&) = delete;

  NodeScanner& scanner() { return scanner_; }
  const NodeScanner& scanner() const { return scanner_; }

  // "START" (step 1, table and list cleared) and "STOP" (step 0).
  void start() { scanner_.start(); }
  void stop() { scanner_.stop(); }
  bool active() const { return scanner_.active(); }
  bool finished() const { return scanner_.stepNumber() == 4; }

  // The receive pump's idle call.
  void idle();
  // The info line at the current rate of the first bus.
  std::string infoLine() const;
  // What a finished run prints: the list lines without their trailing blank, then the info line.
  std::vector<std::string> reportLines() const;

 private:
  void handleFrame();
  void stepUnlessClientInUse();

  Application& app_;
  NodeScanner scanner_;
};

}  // namespace busprobe
