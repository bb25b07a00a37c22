// Shared set-up of the window tests: one offscreen QApplication for the whole test program, and a
// session of application object, user interface and main window on a private configuration
// directory. Ticks are driven by hand on a manual clock; nothing waits on timers.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QPixmap>
#include <QScreen>
#include <QWindow>
#include <QMenuBar>
#include <QMessageBox>
#include <QTimer>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "app/application.h"
#include "base/clock.h"
#include "gui/gui_user_interface.h"
#include "gui/main_window.h"

namespace busprobe::testing {

inline QApplication& TheQtApplication() {
  static int argc = 1;
  static char name[] = "test_gui";
  static char* argv[] = {name, nullptr};
  // Deliberately never destroyed: widgets of a failed test may still exist at exit.
  static QApplication* app = [] {
    // Offscreen unless the run asks for a real display (the X server runs of the window tests).
    if (qEnvironmentVariableIsEmpty("BUSPROBE_TEST_ON_DISPLAY")) qputenv("QT_QPA_PLATFORM", "offscreen");
    return new QApplication(argc, argv);
  }();
  return *app;
}

inline bool OnRealDisplay() {
  return !qEnvironmentVariableIsEmpty("BUSPROBE_TEST_ON_DISPLAY");
}

// On a real display: waits (bounded) until the window is mapped and painted, then, when
// BUSPROBE_TEST_SHOTS names a folder, saves what the X server shows of it there as NAME.png.
// False when the window never became visible on the display.
inline bool ShowOnDisplay(QWidget* window, const QString& name) {
  if (!OnRealDisplay()) return true;
  window->show();
  window->raise();
  QElapsedTimer waited;
  waited.start();
  while (!(window->windowHandle() && window->windowHandle()->isExposed()) && waited.elapsed() < 10000)
    QApplication::processEvents(QEventLoop::AllEvents, 20);
  if (!window->windowHandle() || !window->windowHandle()->isExposed()) return false;
  // A few more rounds so the first paint has reached the server.
  for (int i = 0; i < 10; ++i) QApplication::processEvents(QEventLoop::AllEvents, 10);
  const QByteArray shots = qgetenv("BUSPROBE_TEST_SHOTS");
  if (!shots.isEmpty()) {
    QScreen* screen = window->screen();
    const QPixmap shot = screen->grabWindow(0, window->frameGeometry().x(), window->frameGeometry().y(),
                                            window->frameGeometry().width(), window->frameGeometry().height());
    if (shot.isNull() || !shot.save(QString::fromUtf8(shots) + "/" + name + ".png")) return false;
  }
  return true;
}

// Answers the next message box with OK and keeps its title and text; message boxes are modal, so
// the answer has to come from the event loop they run.
class MessageBoxCatcher {
 public:
  MessageBoxCatcher() {
    QObject::connect(&timer_, &QTimer::timeout, [this] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      if (!box) return;
      title_ = box->windowTitle();
      text_ = box->text();
      ++count_;
      box->accept();
    });
    timer_.start(5);
  }
  const QString& title() const { return title_; }
  const QString& text() const { return text_; }
  int count() const { return count_; }

 private:
  QTimer timer_;
  QString title_, text_;
  int count_ = 0;
};

class TempDir {
 public:
  TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "busprobe_gui_XXXXXX").string();
    path_ = mkdtemp(pattern.data()) ? pattern : std::string();
  }
  ~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// One program run on a configuration directory: start() reads the configuration, then the test
// may adjust the window settings before window() builds and shows the main window.
class GuiSession {
 public:
  // bus: the virtual bus to join (null: a private one).
  GuiSession(const std::string& configDir, const std::string& lockDir,
             std::shared_ptr<VirtualBus> bus = nullptr) {
    TheQtApplication();
    AppOptions options;
    options.configDir = configDir;
    options.lockDir = lockDir;
    options.virtualBus = std::move(bus);
    app_ = std::make_unique<Application>(ui_, clock_, options);
    app_->startUp();
  }
  ~GuiSession() {
    ui_.detach();
    window_.reset();
  }

  Application& app() { return *app_; }
  GuiUserInterface& ui() { return ui_; }

  MainWindow& window() {
    if (!window_) {
      window_ = std::make_unique<MainWindow>(*app_);
      ui_.attach(window_.get());
      window_->show();
    }
    return *window_;
  }

  ManualClock& clock() { return clock_; }

  void ticks(int n) {
    for (int i = 0; i < n; ++i) {
      clock_.advance(50);
      app_->tick();
    }
  }

  // The menu item with exactly this caption (captions are part of the interface users know).
  QAction* menuItem(const QString& caption) {
    for (QAction* action : window().menuBar()->findChildren<QAction*>())
      if (action->text() == caption) return action;
    return nullptr;
  }

 private:
  ManualClock clock_;
  GuiUserInterface ui_;
  std::unique_ptr<Application> app_;
  std::unique_ptr<MainWindow> window_;
};

}  // namespace busprobe::testing
