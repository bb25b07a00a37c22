// The core's user interface in the Qt program: a change tells the main window which part to
// refresh from the core, questions become message boxes and dialogs, and the closing notice is a
// small popup. The core is created
// before the main window (the window needs the loaded configuration), so the window is attached
// later; whatever the core reports before that stays in its own records and the window shows it
// when it is built.
#pragma once

#include <QString>
#include <memory>
#include <string_view>

#include "app/user_interface.h"

namespace busprobe {

class MainWindow;

// Text from the core (UTF-8, or Latin-1 where it came from an old file) for a widget; wasLatin1
// tells which it was, so that an edited text can be written back the same way.
QString CoreTextToQt(std::string_view text, bool* wasLatin1 = nullptr);

class NoticeWindow;

class GuiUserInterface : public UserInterface {
 public:
  GuiUserInterface();
  ~GuiUserInterface() override;
  GuiUserInterface(const GuiUserInterface&) = delete;
  GuiUserInterface& operator=(const GuiUserInterface&) = delete;

  void attach(MainWindow* window) { window_ = window; }
  void detach() { window_ = nullptr; }

  void attachCore(const Application& app) override { app_ = &app; }
  void changed(UiTopic topic) override;
  void processEvents() override;

  // Null until the closing notice was first shown.
  NoticeWindow* notice() const { return notice_.get(); }

 protected:
  bool answerYesNo(const std::string& title, const std::string& text, bool defaultYes) override;
  void presentMessageBox(const std::string& title, const std::string& text) override;
  std::string answerFileChoice(const FileChoice& choice) override;
  bool answerString(const std::string& line1, const std::string& line2, std::string& text) override;

 private:
  void showNotice();

  const Application* app_ = nullptr;
  MainWindow* window_ = nullptr;
  std::unique_ptr<NoticeWindow> notice_;
};

}  // namespace busprobe
