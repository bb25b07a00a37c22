#include "traffic/logger.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "traffic/can_names.h"

namespace busprobe {

namespace {

constexpr const char* kCannotOpen = "Cannot open log-file.";
constexpr const char* kWriteFailedPrefix = "Log file write failed: ";
// How often the open log is checked for having been deleted behind our back: a write to a
// deleted file succeeds on Linux, so only the link count tells.
constexpr uint32_t kLinkCheckInterval = 1024;
// Where the identifier field ends and the direction starts.
constexpr size_t kDirectionColumn = 30;

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

// The extension after the last "." of the file name itself; npos-style empty when none.
bool FileExtension(std::string_view path, std::string_view& extension) {
  const size_t slash = path.find_last_of('/');
  const std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
  const size_t dot = name.find_last_of('.');
  if (dot == std::string_view::npos) return false;
  extension = name.substr(dot + 1);
  return true;
}

constexpr char kHexDigits[] = "0123456789ABCDEF";

// Unsigned decimal, returns the number of characters written.
size_t PutDecimal(char* out, uint64_t value) {
  char digits[24];
  size_t n = 0;
  do {
    digits[n++] = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value != 0);
  for (size_t i = 0; i < n; ++i) out[i] = digits[n - 1 - i];
  return n;
}

// Upper-case hexadecimal with at least minDigits digits (zero-filled).
size_t PutHex(char* out, uint32_t value, size_t minDigits) {
  char digits[8];
  size_t n = 0;
  do {
    digits[n++] = kHexDigits[value & 0xF];
    value >>= 4;
  } while (value != 0);
  size_t pos = 0;
  for (size_t i = n; i < minDigits; ++i) out[pos++] = '0';
  for (size_t i = 0; i < n; ++i) out[pos++] = digits[n - 1 - i];
  return pos;
}

// Milliseconds as "%10.3lf" of seconds. Done by hand: the value is a whole number of ms, so the
// digits are exact, and printf's float path would dominate the cost of a log line.
size_t PutSeconds(char* out, int64_t ms) {
  char text[32];
  size_t n = 0;
  const bool negative = ms < 0;
  const uint64_t magnitude = negative ? static_cast<uint64_t>(-(ms + 1)) + 1 : static_cast<uint64_t>(ms);
  if (negative) text[n++] = '-';
  n += PutDecimal(text + n, magnitude / 1000);
  text[n++] = '.';
  const unsigned fraction = static_cast<unsigned>(magnitude % 1000);
  text[n++] = static_cast<char>('0' + fraction / 100);
  text[n++] = static_cast<char>('0' + fraction / 10 % 10);
  text[n++] = static_cast<char>('0' + fraction % 10);
  size_t pos = 0;
  for (size_t i = n; i < 10; ++i) out[pos++] = ' ';
  std::memcpy(out + pos, text, n);
  return pos + n;
}

// Right-aligns the `n` characters at `out` to `width` (no cut when longer): the FD line's columns.
size_t AlignRight(char* out, size_t n, size_t width) {
  if (n >= width) return n;
  const size_t pad = width - n;
  std::memmove(out + pad, out, n);
  std::memset(out, ' ', pad);
  return width;
}

// A name goes into the FD line's name column only when readers cannot take it for another column:
// one word, not all digits (a digit word there is read as the BRS field).
bool FitsNameColumn(std::string_view name) {
  bool allDigits = true;
  for (char c : name) {
    if (c <= ' ' || c > '~') return false;
    allDigits = allDigits && c >= '0' && c <= '9';
  }
  return !name.empty() && !allDigits;
}

// Flags column of the FD line: the frame is an FD frame (EDL) and its bit-rate switch and error
// state indicator, as readers of this format expect them beside the BRS and ESI columns.
constexpr uint32_t kAscFdFlagEdl = 0x1000;
constexpr uint32_t kAscFdFlagBrs = 0x2000;
constexpr uint32_t kAscFdFlagEsi = 0x4000;
constexpr size_t kAscNameColumnWidth = 32;

// "CANFD" line after the time: channel, direction, identifier, name column, BRS, ESI, DLC (hex),
// data length, every data byte, then message duration, bit count, flags, CRC and the four bit
// timing words (unknown here: 0). The classic line cannot carry more than 8 bytes, and other readers
// take its length field for a DLC.
size_t PutAscFdFields(char* line, const CanFrame& frame, char direction, std::string_view name) {
  size_t n = 0;
  std::memcpy(line + n, " CANFD ", 7);
  n += 7;
  n += AlignRight(line + n, PutDecimal(line + n, static_cast<uint64_t>(frame.bus()) + 1), 3);
  line[n++] = ' ';
  line[n++] = direction == 'R' ? 'R' : direction == 'T' ? 'T' : '?';
  line[n++] = direction == 'R' || direction == 'T' ? 'x' : '?';
  std::memcpy(line + n, "   ", 3);  // the direction column is 4 wide
  n += 3;
  const uint32_t identifier = frame.id & CanFrame::kIdMask;
  size_t idLength = PutHex(line + n, identifier, frame.extended() ? 8 : 3);
  if (frame.extended()) line[n + idLength++] = 'x';
  n += AlignRight(line + n, idLength, 8);
  line[n++] = ' ';
  line[n++] = ' ';
  const size_t nameStart = n;
  if (FitsNameColumn(name)) {
    const size_t length = name.size() < 40 ? name.size() : 40;
    std::memcpy(line + n, name.data(), length);
    n += length;
  }
  while (n < nameStart + kAscNameColumnWidth) line[n++] = ' ';
  const bool brs = (frame.fdFlags & CanFrame::kBrs) != 0;
  const bool esi = (frame.fdFlags & CanFrame::kEsi) != 0;
  line[n++] = ' ';
  line[n++] = brs ? '1' : '0';
  line[n++] = ' ';
  line[n++] = esi ? '1' : '0';
  line[n++] = ' ';
  const int count = frame.length < 64 ? frame.length : 64;
  line[n++] = "0123456789abcdef"[CanLengthToDlc(count) & 0xF];
  line[n++] = ' ';
  n += AlignRight(line + n, PutDecimal(line + n, static_cast<uint64_t>(count)), 2);
  for (int i = 0; i < count; ++i) {
    line[n++] = ' ';
    line[n++] = kHexDigits[frame.data[i] >> 4];
    line[n++] = kHexDigits[frame.data[i] & 0xF];
  }
  // Message duration and bit count are not known here and are written as 0.
  static constexpr char kDurationAndBits[] = "        0    0 ";
  std::memcpy(line + n, kDurationAndBits, sizeof kDurationAndBits - 1);
  n += sizeof kDurationAndBits - 1;
  const uint32_t flags = kAscFdFlagEdl | (brs ? kAscFdFlagBrs : 0) | (esi ? kAscFdFlagEsi : 0);
  n += AlignRight(line + n, PutHex(line + n, flags, 1), 8);
  // CRC and the four bit-timing words, unknown as well.
  static constexpr char kCrcAndTiming[] = "        0        0        0        0        0";
  std::memcpy(line + n, kCrcAndTiming, sizeof kCrcAndTiming - 1);
  n += sizeof kCrcAndTiming - 1;
  return n;
}
}  // namespace

LogFileFormat LogFormatForPath(std::string_view path) {
  std::string_view extension;
  return FileExtension(path, extension) && EqualsNoCase(extension, "asc") ? kLogAscii : kLogText;
}

std::string LogLocalDateTime(std::time_t when) {
  std::tm local{};
  localtime_r(&when, &local);
  char text[64];
  std::snprintf(text, sizeof text, "%4.4d-%2.2d-%2.2d %2.2d:%2.2d:%2.2d", local.tm_year + 1900,
                local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
  return text;
}

size_t LogAscTime(std::time_t when, char* out, size_t capacity) {
  static constexpr const char* kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                            "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  if (capacity == 0) return 0;
  std::tm utc{};
  if (gmtime_r(&when, &utc) == nullptr) utc = std::tm{};
  const int n = std::snprintf(out, capacity, "%s %s %2.2d %2.2d:%2.2d:%2.2d %d",
                              kDays[(utc.tm_wday % 7 + 7) % 7], kMonths[(utc.tm_mon % 12 + 12) % 12],
                              utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec, utc.tm_year + 1900);
  if (n < 0) return 0;
  return static_cast<size_t>(n) < capacity ? static_cast<size_t>(n) : capacity - 1;
}

Logger::Logger(Printer printer, CalendarClock calendar)
    : printer_(std::move(printer)), calendar_(std::move(calendar)) {}

Logger::~Logger() {
  CloseLogFile();
}

std::time_t Logger::calendarNow() const {
  return calendar_ ? calendar_() : std::time(nullptr);
}

bool Logger::OpenLogFile(const std::string& path) {
  if (openCheck_) {
    const std::string refusal = openCheck_(path);
    if (!refusal.empty()) {
      if (printer_) printer_(refusal);
      return false;
    }
  }
  const std::time_t openedAt = calendarNow();
  CloseLogFile();
  blockBaseTime_ = -1;
  inTriggerBlock_ = false;
  writeFailed_ = false;
  writesSinceLinkCheck_ = 0;
  format_ = LogFormatForPath(path);

  // Non-blocking only while opening: a fifo without a reader must not hang the program.
  int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC | O_NONBLOCK);
  if (fd >= 0) {
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
      // A device or fifo is not a log we can continue or size.
      ::close(fd);
      fd = -1;
    } else if (info.st_size > 0) {
      ::fcntl(fd, F_SETFL, O_APPEND);
      fd_ = fd;
      path_ = path;
      logSize_ = info.st_size;
      if (format_ == kLogText) WriteLogLine("Log-Datei fortgesetzt: " + LogLocalDateTime(openedAt));
      return true;
    }
    // An existing empty file is started like a new one: without the header an ASCII log would
    // not be recognised as one when it is read back.
  }
  if (fd < 0)
    fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_APPEND | O_CLOEXEC | O_NONBLOCK, 0666);
  if (fd < 0) {
    if (printer_) printer_(kCannotOpen);
    return false;
  }
  ::fcntl(fd, F_SETFL, O_APPEND);
  fd_ = fd;
  path_ = path;
  logSize_ = 0;
  if (format_ == kLogText) {
    WriteLogLine("Log-Datei erzeugt: " + LogLocalDateTime(openedAt));
  } else {
    char header[160];
    size_t n = 0;
    std::memcpy(header, "date ", 5);
    n += 5;
    n += LogAscTime(openedAt, header + n, sizeof header - n);
    static constexpr char kRest[] = "\r\nbase hex  timestamps absolute\r\ninternal events logged\r\n";
    std::memcpy(header + n, kRest, sizeof kRest - 1);
    n += sizeof kRest - 1;
    writeAll(header, n);
  }
  return true;
}

void Logger::CloseLogFile() {
  if (fd_ < 0) return;
  if (format_ == kLogText) {
    WriteLogLine("Log-Datei geschlossen: " + LogLocalDateTime(calendarNow()));
  } else if (inTriggerBlock_) {
    WriteLogText("End Triggerblock\r\n");
  }
  checkStillLinked();
  ::close(fd_);
  fd_ = -1;
  logSize_ = 0;
  blockBaseTime_ = -1;
  inTriggerBlock_ = false;
  path_.clear();
}

void Logger::reportWriteFailure(const char* reason) {
  if (writeFailed_) return;
  writeFailed_ = true;
  if (printer_) printer_(std::string(kWriteFailedPrefix) + reason);
}

void Logger::checkStillLinked() {
  writesSinceLinkCheck_ = 0;
  if (fd_ < 0 || writeFailed_) return;
  struct stat info {};
  if (::fstat(fd_, &info) == 0 && info.st_nlink == 0) reportWriteFailure("the file was deleted");
}

void Logger::writeAll(const char* data, size_t size) {
  while (size > 0) {
    const ssize_t n = ::write(fd_, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      reportWriteFailure(n < 0 ? std::strerror(errno) : "nothing was written");
      return;
    }
    logSize_ += n;
    data += n;
    size -= static_cast<size_t>(n);
  }
  if (++writesSinceLinkCheck_ >= kLinkCheckInterval) checkStillLinked();
}

void Logger::writeAllV(const char* first, size_t firstSize, const char* second, size_t secondSize) {
  iovec parts[2] = {{const_cast<char*>(first), firstSize}, {const_cast<char*>(second), secondSize}};
  ssize_t n;
  do {
    n = ::writev(fd_, parts, 2);
  } while (n < 0 && errno == EINTR);
  if (n < 0) {
    reportWriteFailure(std::strerror(errno));
    return;
  }
  logSize_ += n;
  size_t done = static_cast<size_t>(n);
  if (done >= firstSize + secondSize) {
    if (++writesSinceLinkCheck_ >= kLinkCheckInterval) checkStillLinked();
    return;
  }
  // A short write (disk nearly full, signal): finish the line piece by piece so it is whole or
  // the failure is reported.
  if (done < firstSize) {
    writeAll(first + done, firstSize - done);
    if (writeFailed_) return;
    done = firstSize;
  }
  writeAll(second + (done - firstSize), secondSize - (done - firstSize));
}

void Logger::WriteLogText(std::string_view text) {
  if (fd_ < 0 || text.empty()) return;
  writeAll(text.data(), text.size());
}

void Logger::WriteLogLine(std::string_view line) {
  if (fd_ < 0) return;
  writeAllV(line.data(), line.size(), "\r\n", 2);
}

void Logger::beginTriggerBlock(uint32_t timestamp) {
  char line[128];
  size_t n = 0;
  if (inTriggerBlock_) {
    std::memcpy(line, "End Triggerblock\r\n", 18);
    n = 18;
  }
  std::memcpy(line + n, "Begin Triggerblock ", 19);
  n += 19;
  n += LogAscTime(calendarNow(), line + n, sizeof line - n - 2);
  line[n++] = '\r';
  line[n++] = '\n';
  writeAll(line, n);
  inTriggerBlock_ = true;
  blockBaseTime_ = timestamp;
}

void Logger::WriteAscFrame(const CanFrame& frame, char direction) {
  if (fd_ < 0) return;
  const int64_t timestamp = frame.timestamp;
  if (blockBaseTime_ < 0 || timestamp + 5000 < blockBaseTime_) beginTriggerBlock(frame.timestamp);

  // Longest line: an FD line with a 40-character name and 64 bytes, about 360 characters.
  char line[384];
  size_t n = PutSeconds(line, timestamp - blockBaseTime_);
  const uint32_t identifier = frame.id & CanFrame::kIdMask;
  std::string_view name;
  if (names_ != nullptr) name = names_->nameFor(identifier);
  if (frame.isFd()) {
    n += PutAscFdFields(line + n, frame, direction, name);
    line[n++] = '\r';
    line[n++] = '\n';
    writeAll(line, n);
    return;
  }
  line[n++] = ' ';
  line[n++] = static_cast<char>('1' + frame.bus());
  line[n++] = ' ';
  line[n++] = ' ';

  if (!name.empty()) {
    const size_t length = name.size() < 40 ? name.size() : 40;
    std::memcpy(line + n, name.data(), length);
    n += length;
  } else if (frame.extended()) {
    n += PutHex(line + n, identifier, 8);
    line[n++] = 'x';
  } else {
    n += PutHex(line + n, identifier, 3);
  }
  while (n < kDirectionColumn) line[n++] = ' ';

  if (direction == 'R') {
    line[n++] = 'R';
    line[n++] = 'x';
  } else if (direction == 'T') {
    line[n++] = 'T';
    line[n++] = 'x';
  } else {
    line[n++] = '?';
    line[n++] = '?';
  }
  line[n++] = ' ';
  line[n++] = ' ';
  line[n++] = ' ';
  // A remote frame is written in the form ASCII readers know as a remote request ("r" and its
  // length, no bytes); written as "d" with bytes it would read back as a data frame.
  line[n++] = frame.rtr ? 'r' : 'd';
  line[n++] = ' ';
  n += PutDecimal(line + n, frame.length);
  if (!frame.rtr) {
    const int count = frame.length < 8 ? frame.length : 8;
    for (int i = 0; i < count; ++i) {
      line[n++] = ' ';
      line[n++] = kHexDigits[frame.data[i] >> 4];
      line[n++] = kHexDigits[frame.data[i] & 0xF];
    }
  }
  line[n++] = '\r';
  line[n++] = '\n';
  writeAll(line, n);
}

void Logger::LogFrame(const CanFrame& frame, std::string_view displayLine, char direction) {
  if (fd_ < 0) return;
  if (format_ == kLogAscii) {
    WriteAscFrame(frame, direction);
  } else {
    WriteLogLine(displayLine);
  }
}

RecordDialogSetup RecordDialogFor(const LoggingSettings& logging, const DirectorySettings& dirs) {
  RecordDialogSetup setup;
  setup.title = "Record CAN messages in logfile";
  setup.filters = {"All files (*.*)", "Text file, NVK format (*.txt)", "Vector ASCII (*.asc)"};
  setup.windowsFilter = "All files (*.*)|*.*|Text file, NVK format (*.txt)|*.TXT|Vector ASCII (*.asc)|*.ASC";
  setup.directory = dirs.logFileDir;
  setup.proposedName = logging.recordFile;
  std::string_view extension;
  if (!FileExtension(logging.recordFile, extension)) {
    setup.filterIndex = 0;
  } else if (EqualsNoCase(extension, "asc")) {
    setup.filterIndex = 2;
    setup.defaultExtension = "ASC";
  } else {
    setup.filterIndex = 1;
    setup.defaultExtension = "TXT";
  }
  return setup;
}

bool StartRecording(Logger& logger, LoggingSettings& logging, const std::string& chosenPath) {
  logging.recordFile = chosenPath;
  return logger.OpenLogFile(chosenPath);
}

std::string LoggerStatusCaption(const Logger& logger, int playerState) {
  if (logger.isOpen()) {
    const int64_t kbytes = (logger.logSize() + 1023) / 1024;
    return "Stop recording (current size = " + std::to_string(kbytes) + " kByte)";
  }
  switch (playerState) {
    case 0:
      return "Logger: stopped";
    case 1:
      return "Stop playing";
    case 2:
      return "Stop rewinding";
    case 3:
      return "Stop (currently paused)";
    default:
      return "Logger: passive";
  }
}

}  // namespace busprobe
