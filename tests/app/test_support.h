// Shared helpers of the application tests: a user interface that records what the core shows, and
// a scratch directory that disappears with the test.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "app/application.h"
#include "app/user_interface.h"

namespace busprobe::test {

// Keeps what a window would show: the messages lines (pulled from the core as they are told),
// status labels, questions and closing-notice lines.
class RecordingUi : public UserInterface {
 public:
  void attachCore(const Application& app) override {
    app_ = &app;
    log_ = &app.messages();
  }
  // A messages log of its own, without an application.
  void watch(const MessageLog& log) { log_ = &log; }
  void changed(UiTopic topic) override {
    if (topic == UiTopic::kMessages && log_) {
      if (log_->clearCount() != clears_) {
        clears_ = log_->clearCount();
        lines.clear();
      }
      log_->forEachSince(seen_, [this](const std::string& line) { lines.push_back(line); });
    }
    if (!app_) return;
    if (topic == UiTopic::kStatusLabel) {
      labels.push_back(app_->statusLabel());
    } else if (topic == UiTopic::kClosingNotice) {
      const ClosingNotice& n = app_->closingNotice();
      if (n.shown && (notices.empty() || notices.back() != n.secondLine)) notices.push_back(n.secondLine);
    }
    onChange(topic);
  }
  // What a test adds to the recording.
  virtual void onChange(UiTopic /*topic*/) {}

  bool hasLine(const std::string& text) const {
    for (const auto& l : lines)
      if (l == text) return true;
    return false;
  }
  int countPrefix(const std::string& prefix) const {
    int n = 0;
    for (const auto& l : lines) n += l.rfind(prefix, 0) == 0;
    return n;
  }

  std::vector<std::string> lines, labels, questions, notices;
  std::optional<bool> answerYes;

 protected:
  bool answerYesNo(const std::string& title, const std::string& text, bool defaultYes) override {
    questions.push_back(title + "|" + text);
    return answerYes.value_or(defaultYes);
  }
  const Application* app_ = nullptr;

 private:
  const MessageLog* log_ = nullptr;
  uint64_t seen_ = 0;
  uint64_t clears_ = 0;
};

class ScratchDir {
 public:
  ScratchDir() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "busprobe-test-XXXXXX").string();
    path_ = mkdtemp(tmpl.data());
  }
  ~ScratchDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

}  // namespace busprobe::test
