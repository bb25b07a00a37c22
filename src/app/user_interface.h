// How the core reaches the user, in two halves. Questions (message boxes, yes/no, file choice,
// string entry) are typed calls the core waits on; the Qt GUI asks with dialogs, the headless
// runner and tests answer with defaults or scripted answers. Change notifications only name a
// topic: the windows then read what they show from the core (the messages log, the lists, the
// header texts, the status label, the program), so no state lives twice.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace busprobe {

class Application;
class Translator;

// A file to choose: the dialog's title, its filters ("Text (*.txt)"), where it starts and the
// name it proposes.
struct FileChoice {
  std::string title;
  std::vector<std::string> filters;
  std::string directory;
  std::string proposedName;
  std::string defaultSuffix;  // added to a name typed without extension
  bool save = false;          // a file to write (asks before replacing one)
};

class UserQuestions {
 public:
  virtual ~UserQuestions() = default;

  // Texts pass the translator (when one is set) before the user sees them.
  void setTranslator(const Translator* translator) { translator_ = translator; }

  // A Yes/No question; true for Yes.
  bool askYesNo(const std::string& title, const std::string& text, bool defaultYes);
  // An information box.
  void showMessageBox(const std::string& title, const std::string& text);
  // The chosen file's path; empty when the user cancelled.
  std::string chooseFile(const FileChoice& choice);
  // The string entry dialog: two label lines above one field to edit. The text form: false when
  // the user cancelled (text then unchanged).
  bool enterString(const std::string& line1, const std::string& line2, std::string& text);
  // The text form with a limit: on OK the typed text, cut to at most `size` bytes (never inside
  // a UTF-8 sequence), replaces `text` and the result is true; Cancel gives false.
  bool enterText(const std::string& line1, const std::string& line2, std::string& text, size_t size);
  // The number form: the field starts with `current`; OK gives the typed number (decimal, or
  // hexadecimal after "$" or "0x"), or `current` when the text is not a number; Cancel gives
  // `current`.
  int64_t enterNumber(const std::string& line1, const std::string& line2, int64_t current);
  // Lets windows repaint while a core loop waits for the bus; a no-op headless.
  virtual void processEvents() {}

 protected:
  // What each user interface implements; texts arrive translated. The defaults answer as a user
  // who accepts every default would.
  virtual bool answerYesNo(const std::string& /*title*/, const std::string& /*text*/, bool defaultYes) {
    return defaultYes;
  }
  virtual void presentMessageBox(const std::string& /*title*/, const std::string& /*text*/) {}
  virtual std::string answerFileChoice(const FileChoice& /*choice*/) { return {}; }
  // The string entry dialog; true for OK with `text` as the user left it.
  virtual bool answerString(const std::string& /*line1*/, const std::string& /*line2*/,
                            std::string& /*text*/) {
    return true;
  }

 private:
  std::string translated(const std::string& text) const;
  const Translator* translator_ = nullptr;
};

// What changed in the core; the window showing it reads the new state from the core.
enum class UiTopic : int {
  kMessages,        // lines appended to the messages window, or the window emptied (MessageLog)
  kStatusLabel,     // Application::statusLabel()
  kCommandFile,     // the command file was (re)loaded into the editor (CommandFile)
  kTickPhase,       // display refresh of Application::tickPhase(): 1 headers, 2 editor, 3 status
  kRxList,          // list 1 has rows to pull (FrameList::takeRefresh)
  kTxList,          // list 2 has rows to pull
  kTrafficHeaders,  // TrafficDisplay::headers()
  kClosingNotice,   // Application::closingNotice()
  kScriptLine,      // the editor should scroll to ScriptSession::lineToShow()
  kScriptEnded,     // a run ended: the program's final line, markers and error text
  kPlayer,          // the log player's labels are due for a refresh
  kDictionaryScan,  // the dictionary scan's progress, last error or end (RemoteBrowserSession)
};

class ChangeNotifications {
 public:
  virtual ~ChangeNotifications() = default;
  virtual void changed(UiTopic /*topic*/) {}
};

class UserInterface : public UserQuestions, public ChangeNotifications {
 public:
  // The application tells its user interface about itself when it is created, so that the
  // interface can read what changed; called once, from the application's constructor.
  virtual void attachCore(const Application& /*app*/) {}
};

}  // namespace busprobe
