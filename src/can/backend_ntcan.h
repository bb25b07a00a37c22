// Interface type 2: the NTCAN driver library, loaded at run time and reached only through the
// entry points it exports by name. One handle carries the bus (the configured net number).
//
// What must outlive one back-end object lives in NtcanSession, which the interface row's factory
// shares between the back-ends it makes: the library is probed once per program run, and the
// "cpcc" helper is started once and stopped when the back-end is released.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "can/can_backend.h"
#include "can/interface_types.h"

namespace busprobe {

// Runs a command line ("cpcc start") as a program found on PATH; false when it could not be
// started or ended with a failure status within its start-up pause.
using CommandRunner = std::function<bool(const std::string& commandLine)>;
// The real runner: posix_spawnp, then up to one second for the command to finish (the helper's
// start-up pause). A command still running after that is left to run and reaped when it ends.
bool RunCommandLine(const std::string& commandLine);

struct NtcanSession {
  CommandRunner runCommand = RunCommandLine;
  bool pccStarted = false;
  bool probed = false;
  // Read by the probe; "Not available" until a library answered.
  std::string hardwareVersion = "Not available";
  std::string firmwareVersion = "Not available";
  std::string driverVersion = "Not available";
};

std::unique_ptr<CanBackend> MakeNtcanBackend(CanBackendHost& host, const CanInterfaceTypeRow& row,
                                             std::shared_ptr<NtcanSession> session);
// A factory for the type's row, with a session of its own.
CanBackendFactory MakeNtcanFactory(std::shared_ptr<NtcanSession> session = nullptr);

// A version word of the driver as "major.minor.revision" (4, 4 and 8 bits, hexadecimal).
std::string NtcanVersionText(uint16_t version);

}  // namespace busprobe
