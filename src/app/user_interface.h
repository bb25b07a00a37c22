// The one interface through which the core reaches the user: the Qt GUI, the headless runner and
// tests each implement it. The core never blocks on a widget; questions are typed calls here.
#pragma once

#include <string>

namespace busprobe {

class UserInterface {
 public:
  virtual ~UserInterface() = default;

  // A line was appended to the messages window (already split and cut to 255 characters).
  virtual void messageLine(const std::string& line) = 0;
  // The messages window was emptied.
  virtual void messagesCleared() {}
  // The main window's status label (start-up step names, later status texts).
  virtual void statusLabel(const std::string& /*text*/) {}
  // The command file was (re)loaded into the command editor; the editor shows its new text.
  virtual void commandFileLoaded() {}
  // Display refresh of one tick phase (1: list headers, 2: editor caption, 3: status line).
  virtual void refreshPhase(int /*phase*/) {}

  // A Yes/No question; returns true for Yes. Headless and tests answer with the default.
  virtual bool askYesNo(const std::string& /*title*/, const std::string& /*text*/, bool defaultYes) {
    return defaultYes;
  }
  // An information box.
  virtual void showMessageBox(const std::string& /*title*/, const std::string& /*text*/) {}

  // The closing notice: first shown with its second line, then each shutdown step replaces that line.
  virtual void noticeShow(const std::string& /*secondLine*/) {}
  virtual void noticeUpdate(const std::string& /*secondLine*/) {}
  virtual void noticeHide() {}

  // Lets windows repaint while a core loop waits for the bus; a no-op headless.
  virtual void processEvents() {}
};

}  // namespace busprobe
