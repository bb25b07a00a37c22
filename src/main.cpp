// The busprobe executable: the Qt main window, or the headless runner with --headless (or when
// there is no display to show a window on).
#include <cstdio>
#include <cstdlib>

#include "app/command_line.h"
#include "app/headless_runner.h"
#include "app/interface_option.h"
#include "can/interface_types.h"
#ifdef BUSPROBE_HAVE_GUI
#include "gui/gui_main.h"
#endif
#ifdef BUSPROBE_HAVE_QTCAN
#include "qtcan/qt_can_bus.h"
#endif

int main(int argc, char** argv) {
  busprobe::CommandLine commandLine;
  std::string error;
  if (!busprobe::ParseCommandLine(argc, argv, commandLine, error)) {
    std::fprintf(stderr, "busprobe: %s\n%s", error.c_str(), busprobe::CommandLineUsage().c_str());
    return 2;
  }
  if (commandLine.help) {
    std::fputs(busprobe::CommandLineUsage().c_str(), stdout);
    return 0;
  }
#ifdef BUSPROBE_HAVE_QTCAN
  // Outlives the application of either kind of run; it starts Qt's side only once the bus uses it.
  busprobe::QtCanBusRuntime qtCanBus;
#endif
  if (commandLine.listInterfaces) {
    std::vector<std::string> qtLines;
    bool qtAvailable = false;
#ifdef BUSPROBE_HAVE_QTCAN
    qtAvailable = true;
    for (const busprobe::QtCanBusPluginDevices& p : busprobe::QtCanBusPlugins(qtCanBus)) {
      std::string line = p.plugin + ":";
      for (size_t i = 0; i < p.devices.size(); ++i) line += (i ? ", " : " ") + p.devices[i];
      if (p.devices.empty())
        line += p.error.empty() ? " no devices reported" : " no devices (" + p.error + ")";
      qtLines.push_back(line);
    }
#endif
    std::fputs(busprobe::InterfaceListing(busprobe::CanInterfaceTable(), qtAvailable, qtLines).c_str(),
               stdout);
    return 0;
  }
  if (commandLine.interfaceOption.kind == busprobe::InterfaceOption::Kind::kQtCanBus) {
    const std::string& plugin = commandLine.interfaceOption.qtPlugin;
#ifdef BUSPROBE_HAVE_QTCAN
    // Asking Qt for its plugins needs an application object, which a GUI run makes later itself;
    // there, an unknown plugin is the bus's start-up failure text instead.
    const bool haveWindows = std::getenv("DISPLAY") || std::getenv("WAYLAND_DISPLAY");
    if (commandLine.headless || !haveWindows) {
      std::string known;
      bool found = false;
      for (const busprobe::QtCanBusPluginDevices& p : busprobe::QtCanBusPlugins(qtCanBus, false)) {
        found = found || p.plugin == plugin;
        known += (known.empty() ? "" : ", ") + p.plugin;
      }
      if (!found) {
        std::fprintf(stderr, "busprobe: --interface: Qt has no CAN bus plugin \"%s\" (it has: %s)\n",
                     plugin.c_str(), known.empty() ? "none" : known.c_str());
        return 2;
      }
    }
#else
    std::fprintf(stderr,
                 "busprobe: --interface qtcan:%s:...: this program was built without Qt's CAN bus module\n",
                 plugin.c_str());
    return 2;
#endif
  }
  busprobe::AppOptions options;
  options.interfaceOverride = commandLine.interfaceOption;
  options.configDir = busprobe::ResolveConfigDir(commandLine.configDir, &error);
  if (options.configDir.empty()) {
    std::fprintf(stderr, "busprobe: %s\n", error.c_str());
    return 2;
  }
  options.arguments = commandLine.files;
#ifdef BUSPROBE_HAVE_QTCAN
  options.interfaceTypes.push_back(busprobe::QtCanBusInterfaceRow(qtCanBus));
#endif

  const bool haveDisplay = std::getenv("DISPLAY") || std::getenv("WAYLAND_DISPLAY");
#ifdef BUSPROBE_HAVE_GUI
  if (!commandLine.headless && haveDisplay) return RunGui(argc, argv, std::move(options));
#endif
  if (!commandLine.headless) {
    std::fprintf(stderr, "busprobe: %s, running headless\n",
                 haveDisplay ? "built without the GUI" : "no display available");
  }
  return busprobe::RunHeadless(commandLine, std::move(options));
}
