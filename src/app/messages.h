// The messages window's content and its output helpers: plain lines, SDO-protocol lines and
// CAN-driver lines, each category switchable. Lines are split at line breaks and cut into pieces
// of at most 255 characters; the window keeps at most MaxWindowLines (at least 20) lines.
#pragma once

#include <cstdarg>
#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <string_view>

namespace busprobe {

class UserInterface;

class MessageLog {
 public:
  static constexpr size_t kMaxLineChars = 255;

  explicit MessageLog(UserInterface& ui) : ui_(ui) {}

  void PrintMessage(const char* format, ...) __attribute__((format(printf, 2, 3)));
  // flags bit 1: "t=%lu: " with the time in whole seconds; bit 0: "SDO: ".
  void PrintSdoMessage(int flags, const char* format, ...) __attribute__((format(printf, 3, 4)));
  // "CAN: " prefix; only while the CAN-driver category is on.
  void PrintCanMessage(const char* format, ...) __attribute__((format(printf, 2, 3)));
  void PrintMessageV(const char* format, va_list args);

  // Appends text as it stands (split and cut as above), regardless of categories.
  void printText(std::string_view text);
  void clear();

  // Category switches of the Messages menu.
  bool canDriverMessages = true;
  bool sdoMessages = true;
  bool interpreterMessages = true;
  // The window's "Stop" button: only suppresses the periodic error-frame notice.
  bool stopped = false;

  void setMaxLines(int maxWindowLines) {
    maxLines_ = maxWindowLines < 20 ? 20 : static_cast<size_t>(maxWindowLines);
  }
  size_t maxLines() const { return maxLines_; }
  const std::deque<std::string>& lines() const { return lines_; }
  // Source of "now" in seconds for the SDO time prefix.
  void setSecondsSource(std::function<double()> seconds) { seconds_ = std::move(seconds); }

 private:
  void appendLine(std::string line);

  UserInterface& ui_;
  std::deque<std::string> lines_;
  size_t maxLines_ = 500;
  std::function<double()> seconds_;
};

}  // namespace busprobe
