// Log file readers for the log player: a block-buffered line source that hands out lines in place,
// the form detection that looks at a file's head, and one line reader per replayable form:
// Vector ASCII (what our logger writes), PCAN Explorer trace (.log), PCAN-View trace (.trc,
// versions 1.0 to 2.1) and can-utils candump logs. LogReader ties them together: open, detect,
// then frame after frame. Every reader takes any bytes: lines that do not parse are skipped and
// counted, over-long lines are skipped whole, and times that are not finite or absurdly large make
// a line unparseable. No Qt, no application code; the player (log_player.h) is the only caller.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "can/can_frame.h"
#include "traffic/file_identity.h"

namespace busprobe {

enum class LogForm { kNone, kVector, kPcanExplorer, kPcanTrace, kCandump };

// Identifier of a symbolic name, or -1 when the name is unknown (see CanNameTable::idForName).
using NameLookup = std::function<int(std::string_view name)>;

// Column layout of a PCAN-View trace: one letter per column as in the `$COLUMNS` header (N number,
// O time offset in ms, T type, B bus, I identifier, d direction, R reserved, L DLC, l data length,
// D data). Versions before 2.0 have fixed layouts and no such header.
struct TrcLayout {
  int version = 0;                 // major * 10 + minor: 10, 11, 12, 13, 20, 21
  std::array<char, 16> columns{};  // zero-terminated column letters
  int columnCount = 0;
  // In 1.x the type column holds the direction (Rx, Tx) or a status word (Warng, Error, ...);
  // in 2.x the row kind (DT, FD, RR, ST, ...). Version 1.0 has no type column at all.
  bool typeIsDirection = false;
};

// What the detection learnt from a file's head.
struct LogFormat {
  LogForm form = LogForm::kNone;
  int radix = 16;              // Vector: identifiers and data bytes
  bool relativeTimes = false;  // Vector "timestamps relative"
  TrcLayout trc;               // kPcanTrace only
  uint64_t dataStart = 0;      // byte position of the first frame line
};

// One frame read from a file, before the player maps its channel to a bus.
struct LogFrame {
  // Identifier and extended flag (bus bits 0), rtr, length, fdFlags, data; timestamp = file time
  // in milliseconds, cut to 32 bits.
  CanFrame frame;
  double time = 0.0;  // file time in seconds
  // Source channel as the file numbers it (1-based; candump: interface order, 0 beyond 16).
  int channel = 1;
};

enum class LineResult { kFrame, kSkip, kUnknownSymbol };

// Interface names of a candump log numbered in order of first appearance (first = channel 1).
class CandumpChannels {
 public:
  static constexpr int kMaxInterfaces = 16;
  static constexpr size_t kMaxNameLength = 31;
  // Channel of an interface name: 1..16; 0 when the name is too long or the table is full.
  int channelOf(std::string_view name);
  void clear() { count_ = 0; }

 private:
  std::array<std::array<char, kMaxNameLength + 1>, kMaxInterfaces> names_{};
  std::array<uint8_t, kMaxInterfaces> lengths_{};
  int count_ = 0;
};

// The line readers. Each takes one line without its terminator and fills `out` on kFrame. Vector
// times are as written (the caller sums relative times); kUnknownSymbol means a symbolic
// identifier the lookup did not know (the line is skipped).
LineResult ParseVectorLine(std::string_view line, int radix, const NameLookup& lookup, LogFrame& out);
LineResult ParsePcanExplorerLine(std::string_view line, const NameLookup& lookup, LogFrame& out);
LineResult ParseTrcLine(std::string_view line, const TrcLayout& layout, LogFrame& out);
LineResult ParseCandumpLine(std::string_view line, CandumpChannels& channels, LogFrame& out);

// The fixed layout of a trace version (10 .. 21); false for versions we do not know.
bool TrcDefaultLayout(int version, TrcLayout& out);
// Reads a `$COLUMNS=` value ("N,O,T,B,I,d,R,L,D") into `layout`; false when it is unusable.
bool TrcParseColumns(std::string_view value, TrcLayout& layout);

// Reads a file (or a memory buffer) in large blocks and hands out its lines without copying.
// A line ends at LF, CR or CR LF; the last line needs no terminator. Lines longer than
// kMaxLineLength are skipped whole and counted.
class LogLineSource {
 public:
  static constexpr size_t kDefaultBufferSize = size_t{1} << 20;
  static constexpr size_t kMaxLineLength = 64 * 1024;

  // bufferSize is raised to at least twice the longest line plus one (tests use small buffers
  // together with a small maxLineLength to exercise the block edges).
  explicit LogLineSource(size_t bufferSize = kDefaultBufferSize, size_t maxLineLength = kMaxLineLength);
  ~LogLineSource();
  LogLineSource(const LogLineSource&) = delete;
  LogLineSource& operator=(const LogLineSource&) = delete;

  bool openFile(const std::string& path);
  // The bytes must stay valid while the source is open.
  void openMemory(std::string_view bytes);
  void close();
  bool isOpen() const { return fd_ >= 0 || memoryOpen_; }
  // Size in bytes when opened.
  uint64_t size() const { return size_; }
  // The open file; nothing for memory or when closed.
  std::optional<FileIdentity> fileIdentity() const { return FileIdentityOfDescriptor(fd_); }

  // Moves to a byte position (clamped to the size) and forgets the buffered bytes.
  bool seek(uint64_t position);
  // Next line without its terminator; false at the end. The view is valid until the next call.
  bool nextLine(std::string_view& line);
  // Byte position just after the last line handed out (its terminator included).
  uint64_t position() const { return nextPos_; }
  // Byte position where the last line handed out began.
  uint64_t lineStart() const { return lineStart_; }
  uint64_t overlongLines() const { return overlong_; }

 private:
  size_t fill();  // appends bytes behind the buffered ones; 0 at the end of the input

  std::vector<char> buffer_;
  size_t maxLine_;
  size_t begin_ = 0, end_ = 0;  // unread bytes in buffer_
  uint64_t readPos_ = 0;        // input position of buffer_[end_]
  uint64_t nextPos_ = 0, lineStart_ = 0;
  uint64_t size_ = 0;
  uint64_t overlong_ = 0;
  bool eof_ = false;
  bool skipping_ = false;  // inside an over-long line, dropping bytes up to its end
  bool afterCr_ = false;   // the last line ended in a CR at the end of the buffer
  // The next LF is looked for once, not once per line: lines that end in a lone CR would otherwise
  // each scan the rest of the buffer for a LF. When lfKnown_, buffer_[lfAt_] is the first LF at or
  // after begin_ (until begin_ passes it); otherwise [begin_, lfScannedTo_) holds none.
  bool lfKnown_ = false;
  size_t lfAt_ = 0;
  size_t lfScannedTo_ = 0;
  int fd_ = -1;
  bool memoryOpen_ = false;
  std::string_view memory_;
};

// Looks at the head of the input from its start and decides the form, the radix, the time-stamp
// mode, the trace layout and the data start. kNone when no form is recognised.
LogFormat DetectLogFormat(LogLineSource& source);

// One open log: detection on open, then frames in file order.
class LogReader {
 public:
  struct Counts {
    uint64_t lines = 0;               // lines read after the data start
    uint64_t frames = 0;              // lines that gave a frame
    uint64_t skippedLines = 0;        // lines that did not parse (comments included)
    uint64_t unknownSymbolLines = 0;  // lines skipped for an unknown symbolic identifier
  };

  explicit LogReader(NameLookup lookup = {}, size_t bufferSize = LogLineSource::kDefaultBufferSize,
                     size_t maxLineLength = LogLineSource::kMaxLineLength);

  // Opens and detects; false (and closed) when unreadable or of no known form.
  bool open(const std::string& path);
  bool openMemory(std::string_view bytes);
  // Skips detection (fuzzing, tests of one form); the data start is the beginning.
  void openMemoryAs(std::string_view bytes, const LogFormat& format);
  void close();
  bool isOpen() const { return source_.isOpen(); }
  const LogFormat& format() const { return format_; }

  // The next frame of the file; false at the end.
  bool next(LogFrame& out);
  // Back to the data start; relative times and candump interface numbers start again.
  void rewind();

  uint64_t position() const { return source_.position(); }
  uint64_t size() const { return source_.size(); }
  std::optional<FileIdentity> fileIdentity() const { return source_.fileIdentity(); }
  const Counts& counts() const { return counts_; }
  uint64_t overlongLines() const { return source_.overlongLines(); }
  void setLookup(NameLookup lookup) { lookup_ = std::move(lookup); }

 private:
  bool detect();

  LogLineSource source_;
  NameLookup lookup_;
  LogFormat format_;
  CandumpChannels candump_;
  double relativeTime_ = 0.0;
  bool haveRelative_ = false;
  Counts counts_;
};

// Largest file time in seconds a reader accepts (beyond it a line does not parse); far above any
// epoch time so candump's absolute times pass.
inline constexpr double kMaxLogTimeSec = 1e10;

}  // namespace busprobe
