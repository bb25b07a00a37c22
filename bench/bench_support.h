// What the application benchmarks share: a user interface that shows nothing, a scratch
// configuration directory, and an application that has run through its start-up steps.
#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "app/application.h"

namespace busprobe::bench {

class QuietUi : public UserInterface {
 public:
  // While one application waits for an answer, another one in the same thread can be run here.
  void processEvents() override {
    if (onEvents) onEvents();
  }
  std::function<void()> onEvents;
};

inline std::string ScratchDir() {
  std::string tmpl = (std::filesystem::temp_directory_path() / "busprobe-bench-XXXXXX").string();
  return mkdtemp(tmpl.data());
}

// An application on its own configuration directory and the given virtual bus, already running.
struct RunningApp {
  RunningApp(Clock& clock, std::shared_ptr<VirtualBus> bus) : dir(ScratchDir()) {
    AppOptions options;
    options.configDir = dir;
    options.lockDir = dir;
    options.virtualBus = std::move(bus);
    app = std::make_unique<Application>(ui, clock, options);
    app->startUp();
    while (!app->running()) app->tick();
    app->tick();
  }
  ~RunningApp() {
    app->shutDown(false);
    app.reset();
    std::filesystem::remove_all(dir);
  }
  std::string dir;
  QuietUi ui;
  std::unique_ptr<Application> app;
};

}  // namespace busprobe::bench
