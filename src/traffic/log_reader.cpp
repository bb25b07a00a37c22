// The line source, the form detection and LogReader. The line readers of each form live in
// log_reader_<form>.cpp.
#include "traffic/log_reader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "base/guarded_file.h"
#include "traffic/log_reader_scan.h"

namespace busprobe {

using logscan::Cursor;

// ---------------------------------------------------------------------------------------------
// LogLineSource

LogLineSource::LogLineSource(size_t bufferSize, size_t maxLineLength)
    : buffer_(std::max(bufferSize, 2 * maxLineLength + 2)), maxLine_(maxLineLength) {}

LogLineSource::~LogLineSource() {
  close();
}

bool LogLineSource::openFile(const std::string& path) {
  close();
  // Only regular files, opened without blocking: a FIFO would hang the open, a pipe or a device
  // could feed the detection for ever.
  GuardedReadStatus status = GuardedReadStatus::kOk;
  uint64_t size = 0;
  const int fd = OpenRegularFile(path, status, nullptr, &size);
  if (fd < 0) return false;
  fd_ = fd;
  size_ = size;
  seek(0);
  return true;
}

void LogLineSource::openMemory(std::string_view bytes) {
  close();
  memory_ = bytes;
  memoryOpen_ = true;
  size_ = bytes.size();
  seek(0);
}

void LogLineSource::close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  memoryOpen_ = false;
  memory_ = {};
  size_ = 0;
  begin_ = end_ = 0;
  readPos_ = nextPos_ = lineStart_ = 0;
  eof_ = true;
}

bool LogLineSource::seek(uint64_t position) {
  if (!isOpen()) return false;
  if (memoryOpen_ && position > size_) position = size_;
  begin_ = end_ = 0;
  readPos_ = nextPos_ = lineStart_ = position;
  eof_ = false;
  skipping_ = false;
  afterCr_ = false;
  lfKnown_ = false;
  lfScannedTo_ = 0;
  return true;
}

size_t LogLineSource::fill() {
  if (begin_ > 0) {
    std::memmove(buffer_.data(), buffer_.data() + begin_, end_ - begin_);
    if (lfKnown_ && lfAt_ >= begin_) {
      lfAt_ -= begin_;
    } else {
      lfKnown_ = false;
    }
    lfScannedTo_ = lfScannedTo_ > begin_ ? lfScannedTo_ - begin_ : 0;
    end_ -= begin_;
    begin_ = 0;
  }
  const size_t room = buffer_.size() - end_;
  if (room == 0) return 0;
  size_t got = 0;
  if (memoryOpen_) {
    if (readPos_ < memory_.size()) {
      got = std::min(room, static_cast<size_t>(memory_.size() - readPos_));
      std::memcpy(buffer_.data() + end_, memory_.data() + readPos_, got);
    }
  } else if (fd_ >= 0) {
    for (;;) {
      const ssize_t n = ::pread(fd_, buffer_.data() + end_, room, static_cast<off_t>(readPos_));
      if (n < 0 && errno == EINTR) continue;
      got = n > 0 ? static_cast<size_t>(n) : 0;  // a read error ends the input like its end
      break;
    }
  }
  end_ += got;
  readPos_ += got;
  return got;
}

bool LogLineSource::nextLine(std::string_view& line) {
  if (!isOpen()) return false;
  for (;;) {
    if (afterCr_) {
      // The last line ended in a CR at the end of the buffer: a LF right behind it belongs to it.
      if (begin_ == end_ && !eof_) {
        if (fill() == 0) eof_ = true;
        continue;
      }
      afterCr_ = false;
      if (begin_ < end_ && buffer_[begin_] == '\n') {
        ++begin_;
        ++nextPos_;
      }
    }
    const char* s = buffer_.data() + begin_;
    const size_t n = end_ - begin_;
    if (lfKnown_ && lfAt_ < begin_) {
      lfKnown_ = false;
      lfScannedTo_ = begin_;
    }
    if (!lfKnown_) {
      const size_t from = std::max(lfScannedTo_, begin_);
      const void* lf = std::memchr(buffer_.data() + from, '\n', end_ - from);
      if (lf != nullptr) {
        lfKnown_ = true;
        lfAt_ = static_cast<size_t>(static_cast<const char*>(lf) - buffer_.data());
      } else {
        lfScannedTo_ = end_;
      }
    }
    const size_t lfAt = lfKnown_ ? lfAt_ - begin_ : n;
    const char* cr = static_cast<const char*>(std::memchr(s, '\r', lfAt));
    const size_t at = cr ? static_cast<size_t>(cr - s) : lfAt;
    size_t terminator = 0;
    if (at < n) {
      terminator = 1;
      if (s[at] == '\r') {
        if (at + 1 < n) {
          if (s[at + 1] == '\n') terminator = 2;
        } else {
          afterCr_ = true;
        }
      }
    } else if (!eof_) {
      if (n > maxLine_) {
        // Too long for any frame line: drop what we have and the rest of it up to its end.
        if (!skipping_) ++overlong_;
        skipping_ = true;
        begin_ = end_;
        nextPos_ += n;
      }
      if (fill() == 0) eof_ = true;
      continue;
    } else if (n == 0) {
      return false;
    }

    // A line of `at` bytes (the last one may have no terminator).
    const uint64_t start = nextPos_;
    begin_ += at + terminator;
    nextPos_ += at + terminator;
    if (skipping_) {
      skipping_ = false;
      continue;
    }
    if (at > maxLine_) {
      ++overlong_;
      continue;
    }
    lineStart_ = start;
    line = std::string_view(s, at);
    return true;
  }
}

// ---------------------------------------------------------------------------------------------
// Detection

namespace {

// "(1398128223.803317) can0 166#D0320009": enough of a candump line to tell the form.
bool LooksLikeCandumpLine(std::string_view line) {
  Cursor c(line);
  double t = 0;
  if (!c.consume('(') || !logscan::ParseDecimal(c, kMaxLogTimeSec, t) || !c.consume(')') || !c.atBlank()) {
    return false;
  }
  c.skipBlanks();
  c.word();
  if (!c.atBlank()) return false;
  c.skipBlanks();
  uint64_t v = 0;
  int digits = 0;
  return logscan::ParseUnsigned(c, 16, 8, v, digits) && (digits == 3 || digits == 8) && c.peek() == '#';
}

// ";$FILEVERSION=2.1" -> 21; 0 when the value is no "major.minor".
int TrcVersion(std::string_view value) {
  Cursor c(value);
  uint64_t major = 0, minor = 0;
  int d1 = 0, d2 = 0;
  if (!logscan::ParseUnsigned(c, 10, 2, major, d1) || d1 == 0 || !c.consume('.') ||
      !logscan::ParseUnsigned(c, 10, 1, minor, d2) || d2 == 0) {
    return 0;
  }
  c.skipBlanks();
  return c.atEnd() ? static_cast<int>(major * 10 + minor) : 0;
}

// Header keywords of the Vector form; several may follow one another on a line.
void VectorKeywords(std::string_view line, LogFormat& fmt) {
  Cursor c(line);
  if (c.startsWith("date ") && fmt.form == LogForm::kNone) fmt.form = LogForm::kVector;
  for (;;) {
    if (c.consumeWord("base ")) {
      fmt.form = LogForm::kVector;
      c.skipBlanks();
      if (c.consumeWord("hex")) {
        fmt.radix = 16;
      } else if (c.consumeWord("dec")) {
        fmt.radix = 10;
      }
      c.skipBlanks();
    } else if (c.consumeWord("timestamps ")) {
      if (fmt.form == LogForm::kNone) fmt.form = LogForm::kVector;
      c.skipBlanks();
      if (c.consumeWord("absolute")) {
        fmt.relativeTimes = false;
      } else if (c.consumeWord("relative")) {
        fmt.relativeTimes = true;
      }
      c.skipBlanks();
    } else {
      return;
    }
  }
}

// A ';' file without a version header is a PCAN Explorer trace, unless its rows have the layout of
// a version 1.0 PCAN-View trace (no direction column) and none reads as an Explorer row.
bool LooksLikeTrc10(LogLineSource& source, uint64_t dataStart) {
  static constexpr int kRowsToTry = 32;
  TrcLayout v10;
  TrcDefaultLayout(10, v10);
  source.seek(dataStart);
  std::string_view line;
  LogFrame frame;
  bool trc = false;
  for (int rows = 0; rows < kRowsToTry && source.nextLine(line);) {
    if (line.empty() || line[0] == ';') continue;
    ++rows;
    if (ParsePcanExplorerLine(line, NameLookup{}, frame) != LineResult::kSkip) return false;
    if (ParseTrcLine(line, v10, frame) == LineResult::kFrame) trc = true;
  }
  return trc;
}

}  // namespace

LogFormat DetectLogFormat(LogLineSource& source) {
  LogFormat fmt;
  if (!source.seek(0)) return fmt;
  int trcVersion = 0;
  bool badVersion = false;
  std::string columns;  // the line view does not outlive the next read
  std::string_view line;
  while (source.nextLine(line)) {
    if (fmt.form == LogForm::kPcanExplorer && (line.empty() || line[0] != ';')) break;
    if (!line.empty() && line[0] == ';') {
      if (fmt.form == LogForm::kNone) fmt.form = LogForm::kPcanExplorer;
      if (fmt.form != LogForm::kPcanExplorer) continue;
      fmt.dataStart = source.position();
      Cursor c(line);
      if (c.consumeWord(";$FILEVERSION=")) {
        trcVersion = TrcVersion(c.rest());
        badVersion = trcVersion == 0;
      } else if (c.consumeWord(";$COLUMNS=")) {
        columns.assign(c.p, c.end);
      }
      continue;
    }
    VectorKeywords(line, fmt);
    if (fmt.form == LogForm::kVector) {
      Cursor c(line);
      c.skipBlanks();
      if (c.startsWith("Begin ")) {
        fmt.dataStart = source.position();
        break;
      }
      if (IsDecimalDigit(c.peek()) || c.peek() == '-') {
        fmt.dataStart = source.lineStart();
        break;
      }
    } else if (fmt.form == LogForm::kNone && LooksLikeCandumpLine(line)) {
      fmt.form = LogForm::kCandump;
      fmt.dataStart = source.lineStart();
      break;
    }
  }

  if (fmt.form == LogForm::kPcanExplorer) {
    if (badVersion) return LogFormat{};
    if (trcVersion != 0) {
      if (!TrcDefaultLayout(trcVersion, fmt.trc)) return LogFormat{};
      if (trcVersion >= 20 && !columns.empty() && !TrcParseColumns(columns, fmt.trc)) return LogFormat{};
      fmt.form = LogForm::kPcanTrace;
    } else if (LooksLikeTrc10(source, fmt.dataStart)) {
      TrcDefaultLayout(10, fmt.trc);
      fmt.form = LogForm::kPcanTrace;
    }
  }
  return fmt;
}

// ---------------------------------------------------------------------------------------------
// LogReader

LogReader::LogReader(NameLookup lookup, size_t bufferSize, size_t maxLineLength)
    : source_(bufferSize, maxLineLength), lookup_(std::move(lookup)) {}

bool LogReader::open(const std::string& path) {
  close();
  return source_.openFile(path) && detect();
}

bool LogReader::openMemory(std::string_view bytes) {
  close();
  source_.openMemory(bytes);
  return detect();
}

void LogReader::openMemoryAs(std::string_view bytes, const LogFormat& format) {
  close();
  source_.openMemory(bytes);
  format_ = format;
  format_.dataStart = 0;
  rewind();
}

bool LogReader::detect() {
  format_ = DetectLogFormat(source_);
  if (format_.form == LogForm::kNone) {
    close();
    return false;
  }
  rewind();
  return true;
}

void LogReader::close() {
  source_.close();
  format_ = LogFormat{};
  counts_ = Counts{};
  candump_.clear();
  haveRelative_ = false;
  relativeTime_ = 0.0;
}

void LogReader::rewind() {
  source_.seek(format_.dataStart);
  candump_.clear();
  haveRelative_ = false;
  relativeTime_ = 0.0;
}

bool LogReader::next(LogFrame& out) {
  std::string_view line;
  while (source_.nextLine(line)) {
    ++counts_.lines;
    LineResult r = LineResult::kSkip;
    switch (format_.form) {
      case LogForm::kVector:
        r = ParseVectorLine(line, format_.radix, lookup_, out);
        break;
      case LogForm::kPcanExplorer:
        r = ParsePcanExplorerLine(line, lookup_, out);
        break;
      case LogForm::kPcanTrace:
        r = ParseTrcLine(line, format_.trc, out);
        break;
      case LogForm::kCandump:
        r = ParseCandumpLine(line, candump_, out);
        break;
      case LogForm::kNone:
        break;
    }
    if (r == LineResult::kFrame) {
      if (format_.form == LogForm::kVector && format_.relativeTimes) {
        const double delta = out.time > 0.0 ? out.time : 0.0;
        relativeTime_ = haveRelative_ ? relativeTime_ + delta : delta;
        haveRelative_ = true;
        out.time = relativeTime_;
        out.frame.timestamp = logscan::TimestampMs(out.time);
      }
      ++counts_.frames;
      return true;
    }
    if (r == LineResult::kUnknownSymbol) {
      ++counts_.unknownSymbolLines;
    } else {
      ++counts_.skippedLines;
    }
  }
  return false;
}

}  // namespace busprobe
