#include "app/command_line.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>

namespace busprobe {

std::string CommandLineUsage() {
  return "Usage: busprobe [--headless] [--config-dir DIR] [--exit-after SECONDS] [--show-traffic]\n"
         "                [--record LOGFILE] [--play LOGFILE] [--run SCRIPT] [--interface FORM]\n"
         "                [--lss-scan [--lss-options HEX] [--lss-first-node N] [--lss-baud KBIT]]\n"
         "                [--scan-nodes] [--list-interfaces] [FILE ...]\n"
         "  --headless            run without windows; messages are printed on standard output\n"
         "  --config-dir DIR      where NVK_Busprobe.ini and the other settings files live\n"
         "  --exit-after SECONDS  shut down normally after that time (headless)\n"
         "  --show-traffic        also print every received and sent frame (headless)\n"
         "  --record LOGFILE      record the traffic into LOGFILE (.asc: Vector ASCII, else text)\n"
         "  --play LOGFILE        play LOGFILE to the bus once after start-up, then exit (headless)\n"
         "  --run SCRIPT          run the script after start-up and exit when it ends (headless)\n"
         "  --lss-scan            run the LSS master once after start-up and print what it found\n"
         "                        (headless); overrides for that run: --lss-options HEX,\n"
         "                        --lss-first-node N, --lss-baud KBIT (switches the bit rate)\n"
         "  --interface FORM      bus 1's interface for this run only (the configuration keeps its\n"
         "                        own): virtual, socketcan:IF, cvudp:HOST:PORT (a CAN-via-UDP client\n"
         "                        of that server) or qtcan:PLUGIN:NAME (a Qt CAN bus device, e.g.\n"
         "                        qtcan:virtualcan:can0 or qtcan:virtualcan:tcp://127.0.0.1:PORT/can0)\n"
         "  --list-interfaces     print the CAN interfaces this machine offers, then exit\n"
         "  --scan-nodes          ask node IDs 1..127 for device type and name once after start-up\n"
         "                        and print the nodes found (headless)\n"
         "  exit status (headless): 0 all done; 1 an error in the script or a file that could not be\n"
         "                        used; 2 a script, replay or scan still running at --exit-after or a\n"
         "                        signal\n"
         "  FILE                  *.bpr / *.txt: load into the command editor\n";
}

bool ParseCommandLine(int argc, const char* const* argv, CommandLine& out, std::string& error) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    auto value = [&](const char* name, std::string& v) {
      if (i + 1 >= argc) {
        error = std::string("option ") + name + " needs a value";
        return false;
      }
      v = argv[++i];
      return true;
    };
    if (arg == "--headless") {
      out.headless = true;
    } else if (arg == "--help" || arg == "-h") {
      out.help = true;
    } else if (arg == "--config-dir") {
      if (!value("--config-dir", out.configDir)) return false;
    } else if (arg == "--exit-after") {
      std::string v;
      if (!value("--exit-after", v)) return false;
      char* end = nullptr;
      double s = std::strtod(v.c_str(), &end);
      if (end == v.c_str() || *end != '\0' || !(s >= 0) || s > 1e9) {
        error = "option --exit-after needs a number of seconds, not \"" + v + "\"";
        return false;
      }
      out.exitAfterSeconds = s;
    } else if (arg == "--show-traffic") {
      out.showTraffic = true;
    } else if (arg == "--record") {
      if (!value("--record", out.recordFile)) return false;
    } else if (arg == "--play") {
      if (!value("--play", out.playFile)) return false;
    } else if (arg == "--run") {
      if (!value("--run", out.runFile)) return false;
    } else if (arg == "--interface") {
      std::string v;
      if (!value("--interface", v)) return false;
      if (!ParseInterfaceOption(v, out.interfaceOption, error)) return false;
    } else if (arg == "--list-interfaces") {
      out.listInterfaces = true;
    } else if (arg == "--scan-nodes") {
      out.scanNodes = true;
    } else if (arg == "--lss-scan") {
      out.lssScan = true;
    } else if (arg == "--lss-options" || arg == "--lss-first-node" || arg == "--lss-baud") {
      std::string v;
      if (!value(arg.c_str(), v)) return false;
      const bool hex = arg == "--lss-options";
      char* end = nullptr;
      const long n = std::strtol(v.c_str(), &end, hex ? 16 : 10);
      if (v.empty() || *end != '\0' || n < 0 || n > (hex ? 0xFFFF : 1000)) {
        error = "option " + arg + " needs " + (hex ? "a hexadecimal number" : "a number") + ", not \"" + v + "\"";
        return false;
      }
      (arg == "--lss-options" ? out.lssOptions : arg == "--lss-first-node" ? out.lssFirstNode : out.lssBaud) = n;
    } else if (arg.size() > 1 && arg[0] == '-') {
      error = "unknown option " + arg;
      return false;
    } else {
      out.files.push_back(arg);
    }
  }
  // The windows have their own commands for these; taken quietly they would do nothing there.
  if (!out.headless) {
    const char* headlessOnly = out.showTraffic           ? "--show-traffic"
                               : !out.recordFile.empty() ? "--record"
                               : !out.playFile.empty()   ? "--play"
                               : !out.runFile.empty()    ? "--run"
                               : out.lssScan             ? "--lss-scan"
                               : out.scanNodes           ? "--scan-nodes"
                                                         : nullptr;
    if (headlessOnly) {
      error = std::string("option ") + headlessOnly + " needs --headless";
      return false;
    }
  }
  return true;
}

std::string ResolveConfigDir(const std::string& given, std::string* error) {
  namespace fs = std::filesystem;
  std::error_code ec;
  if (!given.empty()) {
    fs::create_directories(given, ec);
    if (!fs::is_directory(given)) {
      if (error) *error = "configuration directory \"" + given + "\" cannot be created";
      return std::string();
    }
    return fs::absolute(given, ec).string();
  }
  const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
  if (!ec) {
    const std::string dir = exe.parent_path().string();
    if (::access(dir.c_str(), W_OK) == 0) return dir;
  }
  std::string base;
  if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg) {
    base = xdg;
  } else if (const char* home = std::getenv("HOME"); home && *home) {
    base = std::string(home) + "/.config";
  } else {
    base = "/tmp";
  }
  const std::string dir = base + "/busprobe";
  fs::create_directories(dir, ec);
  if (!fs::is_directory(dir)) {
    if (error) *error = "configuration directory \"" + dir + "\" cannot be created: " + ec.message();
    return std::string();
  }
  return dir;
}

}  // namespace busprobe
