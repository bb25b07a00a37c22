// Shared helpers of the application tests: a user interface that records what the core shows, and
// a scratch directory that disappears with the test.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "app/user_interface.h"

namespace busprobe::test {

class RecordingUi : public UserInterface {
 public:
  void messageLine(const std::string& line) override { lines.push_back(line); }
  void messagesCleared() override { lines.clear(); }
  void statusLabel(const std::string& text) override { labels.push_back(text); }
  bool askYesNo(const std::string& title, const std::string& text, bool defaultYes) override {
    questions.push_back(title + "|" + text);
    return answerYes.value_or(defaultYes);
  }
  void noticeShow(const std::string& line) override { notices.push_back(line); }
  void noticeUpdate(const std::string& line) override { notices.push_back(line); }

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
