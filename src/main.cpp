// The busprobe executable: the Qt main window, or the headless runner with --headless (or when
// there is no display to show a window on).
#include <cstdio>
#include <cstdlib>

#include "app/command_line.h"
#include "app/headless_runner.h"
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
  busprobe::AppOptions options;
  options.configDir = busprobe::ResolveConfigDir(commandLine.configDir, &error);
  if (options.configDir.empty()) {
    std::fprintf(stderr, "busprobe: %s\n", error.c_str());
    return 2;
  }
  options.arguments = commandLine.files;
#ifdef BUSPROBE_HAVE_QTCAN
  // Outlives the application of either kind of run; it starts Qt's side only once the bus uses it.
  busprobe::QtCanBusRuntime qtCanBus;
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
