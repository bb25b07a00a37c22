#include "gui/gui_main.h"

#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <QApplication>
#include <QSocketNotifier>
#include <clocale>

#include "gui/gui_user_interface.h"
#include "gui/main_window.h"

int RunGui(int argc, char** argv, busprobe::AppOptions options) {
  using namespace busprobe;

  // Stop signals are read from a descriptor by the event loop, so the shutdown (configuration
  // written, bus closed) runs on the GUI thread like a click on "Exit". They are blocked before
  // Qt and the CAN-via-UDP endpoints start threads, which inherit the mask.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

  QApplication qapp(argc, argv);
  // QApplication set the locale from the environment; printf-style number formatting must still
  // write '.', whatever the user's language.
  std::setlocale(LC_NUMERIC, "C");

  SteadyClock clock;
  GuiUserInterface ui;
  Application app(ui, clock, std::move(options));
  app.startUp();
  MainWindow window(app);
  ui.attach(&window);

  const int signalFd = signalfd(-1, &stopSignals, SFD_NONBLOCK | SFD_CLOEXEC);
  std::unique_ptr<QSocketNotifier> signalNotifier;
  if (signalFd >= 0) {
    signalNotifier = std::make_unique<QSocketNotifier>(signalFd, QSocketNotifier::Read);
    QObject::connect(signalNotifier.get(), &QSocketNotifier::activated, &window, [&window, signalFd] {
      signalfd_siginfo info;
      while (read(signalFd, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
      }
      window.close();
    });
  }

  window.show();
  const int status = qapp.exec();
  // The loop can also end without the window closing (session end); the shutdown still runs.
  if (!window.shutDownDone()) window.close();
  ui.detach();
  signalNotifier.reset();
  if (signalFd >= 0) close(signalFd);
  return status;
}
