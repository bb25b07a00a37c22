// The logger's two file formats byte for byte, continuation of existing files, trigger blocks,
// write-failure reporting, and the record dialog / menu caption logic.
#include "traffic/logger.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

#include "app/test_support.h"
#include "traffic/can_names.h"

namespace busprobe {
namespace {

// 2026-12-07 23:51:00 UTC, a Monday.
std::time_t FixedTime() {
  std::tm t{};
  t.tm_year = 2026 - 1900;
  t.tm_mon = 11;
  t.tm_mday = 7;
  t.tm_hour = 23;
  t.tm_min = 51;
  return timegm(&t);
}

std::string LocalText(std::time_t when) {
  std::tm local{};
  localtime_r(&when, &local);
  char text[64];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
  return text;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

void WriteFile(const std::string& path, const std::string& content) {
  std::ofstream(path, std::ios::binary) << content;
}

CanFrame Frame(uint32_t id, uint32_t timestamp, std::initializer_list<uint8_t> bytes) {
  CanFrame f;
  f.id = id;
  f.timestamp = timestamp;
  f.length = static_cast<uint8_t>(bytes.size());
  int i = 0;
  for (uint8_t b : bytes) f.data[i++] = b;
  return f;
}

// " 00 01 .. 3F": the bytes of a 64-byte frame filled with its byte positions.
std::string Hex64() {
  std::string text;
  char pair[4];
  for (int i = 0; i < 64; ++i) {
    std::snprintf(pair, sizeof pair, "%02X", i);
    text += (i ? " " : "") + std::string(pair);
  }
  return text;
}

constexpr const char* kAscHeader =
    "date Mon Dec 07 23:51:00 2026\r\nbase hex  timestamps absolute\r\ninternal events logged\r\n";
constexpr const char* kBlockBegin = "Begin Triggerblock Mon Dec 07 23:51:00 2026\r\n";

class LoggerTest : public ::testing::Test {
 protected:
  std::vector<std::string> printed;
  test::ScratchDir dir;
  Logger logger{[this](const std::string& line) { printed.push_back(line); }, [] { return FixedTime(); }};
};

TEST_F(LoggerTest, TextFormatFramesLinesWithOpenAndCloseStamps) {
  const std::string path = dir.file("log.txt");
  ASSERT_TRUE(logger.OpenLogFile(path));
  EXPECT_EQ(logger.format(), kLogText);
  logger.LogFrame(Frame(0x123, 0, {1}), "00012345: 123 11 22", 'R');
  logger.WriteLogText("  <TX-error>\r\n");
  const std::string stamp = LocalText(FixedTime());
  const std::string expected = "Log-Datei erzeugt: " + stamp + "\r\n00012345: 123 11 22\r\n  <TX-error>\r\n";
  EXPECT_EQ(ReadFile(path), expected);
  EXPECT_EQ(logger.logSize(), static_cast<int64_t>(expected.size()));
  logger.CloseLogFile();
  EXPECT_FALSE(logger.isOpen());
  EXPECT_EQ(logger.logSize(), 0);
  EXPECT_EQ(ReadFile(path), expected + "Log-Datei geschlossen: " + stamp + "\r\n");
}

TEST_F(LoggerTest, ContinuedTextFileKeepsItsContentAndCountsItInTheSize) {
  const std::string path = dir.file("old.txt");
  const std::string old(1500, 'a');
  WriteFile(path, old);
  ASSERT_TRUE(logger.OpenLogFile(path));
  const std::string added = "Log-Datei fortgesetzt: " + LocalText(FixedTime()) + "\r\n";
  EXPECT_EQ(ReadFile(path), old + added);
  EXPECT_EQ(logger.logSize(), static_cast<int64_t>(old.size() + added.size()));
  EXPECT_EQ(LoggerStatusCaption(logger, 0), "Stop recording (current size = 2 kByte)");
}

TEST_F(LoggerTest, AsciiFileHeaderBlockAndTheDocumentedExampleLine) {
  const std::string path = dir.file("rec.asc");
  ASSERT_TRUE(logger.OpenLogFile(path));
  EXPECT_EQ(logger.format(), kLogAscii);
  EXPECT_EQ(ReadFile(path), kAscHeader);
  logger.WriteAscFrame(Frame(0x123, 10000, {0x11, 0x22}), 'R');
  logger.WriteAscFrame(Frame(0x123, 11500, {0x11, 0x22}), 'R');
  logger.CloseLogFile();
  EXPECT_EQ(ReadFile(path), std::string(kAscHeader) + kBlockBegin +
                                "     0.000 1  123             Rx   d 2 11 22\r\n"
                                "     1.500 1  123             Rx   d 2 11 22\r\n"
                                "End Triggerblock\r\n");
}

TEST_F(LoggerTest, AsciiFrameLineFields) {
  CanNameTable::Entries entries;
  CanNameTable names(entries);
  entries[3] = {"EngineData", 0x0CF00400};
  logger.setNameTable(&names);
  const std::string path = dir.file("fields.asc");
  ASSERT_TRUE(logger.OpenLogFile(path));
  const size_t start = ReadFile(path).size();

  CanFrame ext = Frame(CanFrame::kExtended | (1u << 30) | 0x1ABCDEF, 1234567, {0xAB});
  logger.WriteAscFrame(ext, 'T');  // bus 2, sent; opens the block at its own time
  CanFrame named = Frame(CanFrame::kExtended | 0x0CF00400, 1234567 + 1, {});
  logger.WriteAscFrame(named, 'R');
  CanFrame fd = Frame(0x7FF | (3u << 30), 1234567 + 12345, {});
  fd.length = 64;
  fd.fdFlags = CanFrame::kFdf;
  for (int i = 0; i < 64; ++i) fd.data[i] = static_cast<uint8_t>(i);
  logger.WriteAscFrame(fd, 'X');
  CanFrame remote = Frame(0x100, 1234567 + 20, {});
  remote.rtr = 1;
  remote.length = 2;
  remote.data[0] = 0x55;
  logger.WriteAscFrame(remote, 'R');

  EXPECT_EQ(ReadFile(path).substr(start),
            std::string(kBlockBegin) +
                "     0.000 2  01ABCDEFx       Tx   d 1 AB\r\n"
                "     0.001 1  EngineData      Rx   d 0\r\n"
                "    12.345 CANFD   4 ??        7FF                                   0 0 f 64 " +
                Hex64() +
                "        0    0     1000        0        0        0        0        0\r\n"
                "     0.020 1  100             Rx   r 2\r\n");
}

// FD frames keep every byte, BRS and ESI, and their name in a column of its own; the identifier
// stays a number there.
TEST_F(LoggerTest, AsciiFdLineColumns) {
  CanNameTable::Entries entries;
  CanNameTable names(entries);
  entries[0] = {"Motor", 0x0CF00400};
  entries[1] = {"1234", 0x456};  // all digits: readers would take it for the BRS column
  logger.setNameTable(&names);
  const std::string path = dir.file("fd.asc");
  ASSERT_TRUE(logger.OpenLogFile(path));
  const size_t start = ReadFile(path).size();

  CanFrame named = Frame(CanFrame::kExtended | 0x0CF00400, 5000,
                         {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0A, 0x0B, 0x0C});
  named.fdFlags = CanFrame::kFdf | CanFrame::kBrs;
  logger.WriteAscFrame(named, 'T');
  CanFrame digits = Frame(0x456 | (1u << 30), 5001, {});
  digits.fdFlags = CanFrame::kFdf | CanFrame::kEsi;
  logger.WriteAscFrame(digits, 'R');
  CanFrame classic = Frame(0x456, 5002, {0xEE});  // not FD: the classic line, name and all
  logger.WriteAscFrame(classic, 'R');

  const std::string blank32(32, ' ');
  EXPECT_EQ(
      ReadFile(path).substr(start),
      std::string(kBlockBegin) + "     0.000 CANFD   1 Tx   0CF00400x  Motor" + std::string(27, ' ') +
          " 1 0 9 12 01 02 03 04 05 06 07 08 09 0A 0B 0C        0    0     3000        0        0        0"
          "        0        0\r\n"
          "     0.001 CANFD   2 Rx        456  " +
          blank32 +
          " 0 1 0  0        0    0     5000        0        0        0        0        0\r\n"
          "     0.002 1  1234            Rx   d 1 EE\r\n");
}

TEST_F(LoggerTest, BlockRestartsOnlyWhenTimeGoesBackMoreThanFiveSeconds) {
  const std::string path = dir.file("blocks.asc");
  ASSERT_TRUE(logger.OpenLogFile(path));
  const size_t start = ReadFile(path).size();
  logger.WriteAscFrame(Frame(0x1, 20000, {}), 'R');
  logger.WriteAscFrame(Frame(0x2, 20000 - 4999, {}), 'R');  // stays, negative time
  logger.WriteAscFrame(Frame(0x3, 20000 - 5000, {}), 'R');  // exactly 5 s: stays
  EXPECT_EQ(logger.blockBaseTime(), 20000);
  logger.WriteAscFrame(Frame(0x4, 20000 - 5001, {}), 'R');  // new block based on this frame
  EXPECT_EQ(logger.blockBaseTime(), 14999);
  logger.WriteAscFrame(Frame(0x5, 15000, {}), 'R');
  EXPECT_EQ(ReadFile(path).substr(start), std::string(kBlockBegin) +
                                              "     0.000 1  001             Rx   d 0\r\n"
                                              "    -4.999 1  002             Rx   d 0\r\n"
                                              "    -5.000 1  003             Rx   d 0\r\n"
                                              "End Triggerblock\r\n" +
                                              kBlockBegin +
                                              "     0.000 1  004             Rx   d 0\r\n"
                                              "     0.001 1  005             Rx   d 0\r\n");
}

TEST_F(LoggerTest, ContinuedAsciiFileGetsANewBlockButNoSecondHeader) {
  const std::string path = dir.file("again.asc");
  ASSERT_TRUE(logger.OpenLogFile(path));
  logger.WriteAscFrame(Frame(0x10, 500, {1}), 'R');
  logger.CloseLogFile();
  const std::string first = ReadFile(path);

  ASSERT_TRUE(logger.OpenLogFile(path));
  EXPECT_EQ(logger.logSize(), static_cast<int64_t>(first.size()));
  EXPECT_EQ(ReadFile(path), first);
  logger.WriteAscFrame(Frame(0x10, 900000, {2}), 'R');
  EXPECT_EQ(ReadFile(path), first + kBlockBegin + "     0.000 1  010             Rx   d 1 02\r\n");
}

TEST_F(LoggerTest, ExistingEmptyFileIsStartedWithItsHeader) {
  const std::string path = dir.file("empty.ASC");
  WriteFile(path, "");
  ASSERT_TRUE(logger.OpenLogFile(path));
  EXPECT_EQ(ReadFile(path), kAscHeader);
}

TEST_F(LoggerTest, FormatFollowsTheFileNameExtension) {
  EXPECT_EQ(LogFormatForPath("a/b/REC.ASC"), kLogAscii);
  EXPECT_EQ(LogFormatForPath("x.txt.asc"), kLogAscii);
  EXPECT_EQ(LogFormatForPath("trace.log"), kLogText);
  EXPECT_EQ(LogFormatForPath("logs.asc/trace"), kLogText);
  EXPECT_EQ(LogFormatForPath("asc"), kLogText);
}

TEST_F(LoggerTest, UnopenableFileIsReportedAndLeavesTheLoggerIdle) {
  ASSERT_TRUE(logger.OpenLogFile(dir.file("first.txt")));
  EXPECT_FALSE(logger.OpenLogFile(dir.file("missing-folder/x.asc")));
  EXPECT_FALSE(logger.isOpen());
  EXPECT_EQ(printed, std::vector<std::string>{"Cannot open log-file."});
  // The log that was open was closed properly first.
  EXPECT_NE(ReadFile(dir.file("first.txt")).find("Log-Datei geschlossen: "), std::string::npos);
  logger.WriteAscFrame(Frame(1, 1, {}), 'R');  // no file: nothing happens
  EXPECT_EQ(LoggerStatusCaption(logger, 1), "Stop playing");
}

TEST_F(LoggerTest, WriteErrorIsReportedOnceAndNotCountedAsWritten) {
  if (access("/dev/full", W_OK) != 0) GTEST_SKIP() << "/dev/full is not available";
  ASSERT_TRUE(logger.OpenLogFile("/dev/full"));
  EXPECT_EQ(printed, std::vector<std::string>{"Log file write failed: No space left on device"});
  for (int i = 0; i < 5; ++i) logger.WriteLogLine("more");
  EXPECT_EQ(printed.size(), 1u);
  EXPECT_TRUE(logger.writeFailed());
  EXPECT_EQ(logger.logSize(), 0);
}

TEST_F(LoggerTest, DeletedLogFileIsReportedOnce) {
  const std::string path = dir.file("gone.asc");
  ASSERT_TRUE(logger.OpenLogFile(path));
  ASSERT_EQ(unlink(path.c_str()), 0);
  for (uint32_t i = 0; i < 3000; ++i) logger.WriteAscFrame(Frame(0x1, i, {}), 'R');
  EXPECT_EQ(printed, std::vector<std::string>{"Log file write failed: the file was deleted"});
  // A new log starts with a clean slate.
  ASSERT_TRUE(logger.OpenLogFile(dir.file("next.asc")));
  EXPECT_FALSE(logger.writeFailed());
}

TEST(RecordCommand, DialogFollowsTheRecordFileExtension) {
  LoggingSettings logging;
  DirectorySettings dirs;
  dirs.logFileDir = "/var/log/can";
  struct Row {
    const char* recordFile;
    int filterIndex;
    const char* extension;
  } rows[] = {{"recorded.asc", 2, "ASC"}, {"X.Asc", 2, "ASC"}, {"trace.TXT", 1, "TXT"},
              {"trace.log", 1, "TXT"},    {"trace", 0, ""},    {"dir.d/trace", 0, ""}};
  for (const Row& row : rows) {
    logging.recordFile = row.recordFile;
    const RecordDialogSetup setup = RecordDialogFor(logging, dirs);
    EXPECT_EQ(setup.filterIndex, row.filterIndex) << row.recordFile;
    EXPECT_EQ(setup.defaultExtension, row.extension) << row.recordFile;
    EXPECT_EQ(setup.proposedName, row.recordFile);
  }
  const RecordDialogSetup setup = RecordDialogFor(logging, dirs);
  EXPECT_EQ(setup.title, "Record CAN messages in logfile");
  EXPECT_EQ(setup.directory, "/var/log/can");
  EXPECT_EQ(setup.filters.size(), 3u);
}

TEST(RecordCommand, StatusCaptionByRecorderAndPlayerState) {
  test::ScratchDir dir;
  Logger logger({}, [] { return FixedTime(); });
  const char* expected[] = {"Logger: stopped", "Stop playing", "Stop rewinding", "Stop (currently paused)",
                            "Logger: passive"};
  for (int state = 0; state < 5; ++state) EXPECT_EQ(LoggerStatusCaption(logger, state), expected[state]);

  LoggingSettings logging;
  ASSERT_TRUE(StartRecording(logger, logging, dir.file("r.asc")));
  EXPECT_EQ(logging.recordFile, dir.file("r.asc"));
  // Header of 84 bytes, then lines until exactly 1024 bytes: the size is rounded up, never down.
  const int64_t header = logger.logSize();
  logger.WriteLogText(std::string(static_cast<size_t>(1024 - header), 'x'));
  EXPECT_EQ(LoggerStatusCaption(logger, 1), "Stop recording (current size = 1 kByte)");
  logger.WriteLogText("x");
  EXPECT_EQ(LoggerStatusCaption(logger, 1), "Stop recording (current size = 2 kByte)");
}

}  // namespace
}  // namespace busprobe
