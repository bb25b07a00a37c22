// The LSS side of the application: the master the "LSS Master" window and the headless run drive,
// the built-in slave that answers with the local dictionary's identity, and the LSS comments of the
// frame lists. Frames come at their place in the road of a frame; the master steps on the tick and
// at once when a frame it waited for arrives.
#pragma once

#include <string>
#include <vector>

#include "canopen/lss_master.h"
#include "canopen/lss_settings.h"
#include "canopen/lss_slave.h"

namespace busprobe {

class Application;

class LssSession {
 public:
  explicit LssSession(Application& app);
  LssSession(const LssSession&) = delete;
  LssSession& operator=(const LssSession&) = delete;

  LssMasterState& master() { return master_; }
  const LssMasterState& master() const { return master_; }
  LssSlaveState& slave() { return slave_; }
  LssSettings& settings();

  // The configured options as the master takes them.
  LssMasterOptions optionsFromSettings() const;
  // Loads the slave's identity and starts the master (step 1), which then runs on the tick.
  void start(const LssMasterOptions& options);
  void stop() { master_.LssMasterStop(); }
  // The identity of the local dictionary (after loading it).
  void loadSlaveIdentity();

  void handleFrame(const CanFrame& frame);
  void tick();
  // The info line for the master's step at the current rate of the first bus.
  std::string infoLine() const;
  // What a finished run prints: one line per found slave (as the result list shows it), then the
  // info line.
  std::vector<std::string> reportLines() const;

 private:
  bool feedBack() const;
  void stepMaster();

  Application& app_;
  LssMasterState master_;
  LssSlaveState slave_;
};

}  // namespace busprobe
