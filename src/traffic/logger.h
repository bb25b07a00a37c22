// The logger: records traffic into one log file at a time. Two formats, chosen by the file name:
// ".asc" (any letter case) gives the Vector ASCII format (header, trigger blocks, one line per
// frame with the time relative to the block start); any other name gives the NVK text format
// (the display lines of the Rx/Tx panes, framed by German open/close lines). Existing files are
// continued, not replaced.
//
// Fed by the receive and transmit paths (which decide, from the "Logging" settings, whether a
// frame is logged at all). Every line goes to the file with one unbuffered write, so the log is
// complete up to the last handled frame even if the program dies. A write error (disk full, file
// removed) is reported once through the printer; the log stays open so it resumes when it can.
//
// Also here: the pure logic of the record command's file dialog and the File menu's logger
// status caption, which the GUI calls. Main thread only.
#pragma once

#include <cstdint>
#include <ctime>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/directory_settings.h"
#include "can/can_frame.h"
#include "traffic/file_identity.h"
#include "traffic/traffic_settings.h"

namespace busprobe {

class CanNameTable;

// The log format of a file name: kLogAscii when the extension after the last "." of the file name
// (not of a folder) is "asc" in any letter case, else kLogText.
enum LogFileFormat : int { kLogText = 0, kLogAscii = 1 };
LogFileFormat LogFormatForPath(std::string_view path);

class Logger {
 public:
  // Receives one line for the messages window ("Cannot open log-file.", write failures).
  using Printer = std::function<void(const std::string& line)>;
  // Asked before a log is opened: a refusal text (printed, nothing opened) or empty.
  using OpenCheck = std::function<std::string(const std::string& path)>;
  // The calendar time for the header and trigger-block lines (std::time when unset).
  using CalendarClock = std::function<std::time_t()>;

  explicit Logger(Printer printer = {}, CalendarClock calendar = {});
  ~Logger();  // closes the log as CloseLogFile does, without printing
  Logger(const Logger&) = delete;
  Logger& operator=(const Logger&) = delete;

  void setPrinter(Printer printer) { printer_ = std::move(printer); }
  void setCalendarClock(CalendarClock calendar) { calendar_ = std::move(calendar); }
  void setOpenCheck(OpenCheck check) { openCheck_ = std::move(check); }
  // Symbolic names for the ASCII identifier field; null: identifiers only.
  void setNameTable(const CanNameTable* names) { names_ = names; }

  // Closes any open log, then continues `path` when it exists (a non-empty one gets no second
  // header) or creates it with the format's header. False, with "Cannot open log-file." printed,
  // when it can be neither opened nor created. A path the open check refuses gets its text printed
  // and false, and the log open before stays open.
  bool OpenLogFile(const std::string& path);
  // Writes the closing line of the format and closes. Nothing happens when no log is open.
  void CloseLogFile();

  bool isOpen() const { return fd_ >= 0; }
  LogFileFormat format() const { return format_; }
  // Bytes in the file: its length when it was continued plus every byte written since; 0 when
  // no log is open.
  int64_t logSize() const { return logSize_; }
  const std::string& path() const { return path_; }
  // The open log's file; nothing when no log is open.
  std::optional<FileIdentity> fileIdentity() const { return FileIdentityOfDescriptor(fd_); }
  // A write error was reported for the open log (reported once per opened log).
  bool writeFailed() const { return writeFailed_; }

  // Appends text as it stands (both formats); nothing when no log is open.
  void WriteLogText(std::string_view text);
  // Appends text and "\r\n" in one write: the text format's frame and error lines.
  void WriteLogLine(std::string_view line);
  // Appends one Vector ASCII frame line; direction 'R' received, 'T' sent (anything else "??").
  // Classic frames get the classic line (8 bytes at most); CAN FD frames the format's "CANFD" line
  // with BRS, ESI, DLC, data length and every byte. Opens a trigger block first when none is open
  // or the frame lies more than 5 s before the block's start. Cheap: formatted on the stack, no
  // allocation, one write.
  void WriteAscFrame(const CanFrame& frame, char direction);
  // The paths' logging step for one frame: the text format writes the display line + "\r\n",
  // the ASCII format the frame line. Nothing when no log is open.
  void LogFrame(const CanFrame& frame, std::string_view displayLine, char direction);

  // The ASCII format's block state (for the status display and tests).
  bool inTriggerBlock() const { return inTriggerBlock_; }
  int64_t blockBaseTime() const { return blockBaseTime_; }

 private:
  void writeAll(const char* data, size_t size);
  void writeAllV(const char* first, size_t firstSize, const char* second, size_t secondSize);
  void reportWriteFailure(const char* reason);
  void checkStillLinked();
  void beginTriggerBlock(uint32_t timestamp);
  std::time_t calendarNow() const;

  Printer printer_;
  CalendarClock calendar_;
  OpenCheck openCheck_;
  const CanNameTable* names_ = nullptr;
  int fd_ = -1;
  LogFileFormat format_ = kLogText;
  int64_t logSize_ = 0;
  int64_t blockBaseTime_ = -1;
  bool inTriggerBlock_ = false;
  bool writeFailed_ = false;
  uint32_t writesSinceLinkCheck_ = 0;
  std::string path_;
};

// "YYYY-MM-DD hh:mm:ss" of the local time (the text format's open and close lines).
std::string LogLocalDateTime(std::time_t when);
// The UTC time in the form "Mon Dec 07 23:51:00 2026" (weekday, month, two-digit day, time,
// year; no line end): the ASCII format's "date" and "Begin Triggerblock" lines. Writes at most
// `capacity` - 1 characters and returns the length.
size_t LogAscTime(std::time_t when, char* out, size_t capacity);

// The record command's save dialog ("Record &CAN-Logfile").
struct RecordDialogSetup {
  std::string title;                 // "Record CAN messages in logfile"
  std::vector<std::string> filters;  // descriptions with their patterns, in dialog order
  std::string windowsFilter;         // the same as one "text|pattern|..." string
  int filterIndex = 0;               // selected filter, 0-based
  std::string defaultExtension;      // "ASC", "TXT" or empty
  std::string directory;             // LogFileDir
  std::string proposedName;          // RecordFile
};
RecordDialogSetup RecordDialogFor(const LoggingSettings& logging, const DirectorySettings& dirs);
// On confirmation: the chosen name becomes RecordFile and the log is opened.
bool StartRecording(Logger& logger, LoggingSettings& logging, const std::string& chosenPath);

// The File menu's logger status item: "Stop recording (current size = N kByte)" (N rounded up)
// while a log is open, else by the player state (0 stopped, 1 playing, 2 rewinding, 3 paused).
std::string LoggerStatusCaption(const Logger& logger, int playerState);

}  // namespace busprobe
