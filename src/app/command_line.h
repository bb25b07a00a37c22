// The executable's command line: GUI or --headless, the configuration directory, and files to
// open (firmware images for the updater, scripts for the command editor).
#pragma once

#include <string>
#include <vector>

#include "app/interface_option.h"

namespace busprobe {

struct CommandLine {
  bool headless = false;
  bool help = false;
  std::string configDir;         // empty: the default place
  double exitAfterSeconds = -1;  // below 0: run until told to stop
  bool showTraffic = false;      // headless: every Rx and Tx line on standard output
  std::string recordFile;        // headless: record into this log file from start-up on
  std::string playFile;          // headless: play this log file once after start-up, then exit
  std::string runFile;           // headless: run this script after start-up, exit when it ends
  // headless: run the LSS master once after start-up; below 0: the configured value stands
  bool lssScan = false;
  long lssOptions = -1;    // --lss-options HEX
  long lssFirstNode = -1;  // --lss-first-node N
  long lssBaud = -1;       // --lss-baud KBIT (also sets option 0x02)
  // --interface: bus 1's interface for this run only (GUI and headless)
  InterfaceOption interfaceOption;
  bool listInterfaces = false;  // --list-interfaces: print what this machine offers, then exit
  bool scanNodes = false;  // headless: run the node scanner once after start-up
  std::vector<std::string> files;
};

// Returns false with a one-line error text for unknown options and missing values.
bool ParseCommandLine(int argc, const char* const* argv, CommandLine& out, std::string& error);
std::string CommandLineUsage();

// The configuration directory: the given one, else the executable's directory when it is
// writable, else $XDG_CONFIG_HOME/busprobe (~/.config/busprobe), created on first use.
std::string ResolveConfigDir(const std::string& given, std::string* error);

}  // namespace busprobe
