// Line source, form detection and the line readers of every log form.
#include "traffic/log_reader.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace busprobe {
namespace {

std::vector<std::string> Lines(LogLineSource& src) {
  std::vector<std::string> out;
  std::string_view line;
  while (src.nextLine(line)) out.emplace_back(line);
  return out;
}

// The splitting rules written the slow, obvious way.
std::vector<std::string> ReferenceLines(const std::string& text, size_t maxLine) {
  std::vector<std::string> out;
  size_t i = 0;
  while (i < text.size()) {
    size_t j = i;
    while (j < text.size() && text[j] != '\n' && text[j] != '\r') ++j;
    if (j - i <= maxLine) out.push_back(text.substr(i, j - i));
    if (j < text.size() && text[j] == '\r' && j + 1 < text.size() && text[j + 1] == '\n') ++j;
    i = j + 1;
  }
  return out;
}

TEST(LogLineSource, SplitsAtLfCrAndCrLfWithoutFinalNewline) {
  const std::string text = std::string("a\r\nb\rc\n\nd\0e", 11) + "\r\nlast";
  LogLineSource src;
  src.openMemory(text);
  const std::vector<std::string> expected{"a", "b", "c", "", std::string("d\0e", 3), "last"};
  EXPECT_EQ(Lines(src), expected);
  EXPECT_EQ(src.position(), text.size());
}

TEST(LogLineSource, SmallBlocksGiveTheSameLinesAndPositionsAsOneBlock) {
  // Random text with long lines, CR LF pairs falling on every block edge, over-long lines.
  std::mt19937 rng(7);
  const char alphabet[] = "ab \r\n\r\n";
  for (int round = 0; round < 200; ++round) {
    std::string text;
    const int len = static_cast<int>(rng() % 400);
    for (int i = 0; i < len; ++i) {
      text += rng() % 10 == 0 ? std::string(rng() % 40, 'x') : std::string(1, alphabet[rng() % 7]);
    }
    const size_t maxLine = 16;
    LogLineSource src(1, maxLine);  // the smallest buffer the limit allows
    src.openMemory(text);
    std::vector<std::string> got;
    std::string_view line;
    while (src.nextLine(line)) {
      got.emplace_back(line);
      // The reported start really is where the line sits in the input.
      ASSERT_EQ(text.substr(src.lineStart(), line.size()), line);
    }
    const std::vector<std::string> expected = ReferenceLines(text, maxLine);
    for (size_t i = 0; i < std::min(got.size(), expected.size()); ++i) ASSERT_EQ(got[i], expected[i]) << i;
    ASSERT_EQ(got, expected) << "round " << round;
    ASSERT_EQ(src.position(), text.size());
  }
}

TEST(LogLineSource, LoneCarriageReturnsEndLinesAcrossBlocksWithAFarLineFeed) {
  // Runs of lone CRs with the only LF far behind them, in blocks of several sizes: the LF found
  // once must still be the one that ends its line after the buffer has moved on.
  std::string text(3000, '\r');
  text += "ab\r\r\ncd" + std::string(500, '\r') + "e\nf\r";
  const std::vector<std::string> expected = ReferenceLines(text, 16);
  for (size_t bufferSize : {size_t{1}, size_t{50}, size_t{333}, size_t{1} << 20}) {
    LogLineSource src(bufferSize, 16);
    src.openMemory(text);
    EXPECT_EQ(Lines(src), expected) << "buffer " << bufferSize;
    EXPECT_EQ(src.position(), text.size());
    src.seek(text.find("cd"));
    std::string_view line;
    ASSERT_TRUE(src.nextLine(line));
    EXPECT_EQ(line, "cd");
  }
  EXPECT_EQ(expected.size(), 3000u + 3 + 499 + 2);  // "cd" ends at the first of its 500 CRs
}

TEST(LogLineSource, SeekStartsAgainAtAPositionAndOverlongLinesAreCounted) {
  const std::string text = "one\n" + std::string(100, 'z') + "\ntwo\nthree";
  LogLineSource src(1, 32);
  src.openMemory(text);
  EXPECT_EQ(Lines(src), (std::vector<std::string>{"one", "two", "three"}));
  EXPECT_EQ(src.overlongLines(), 1u);
  src.seek(text.find("two"));
  EXPECT_EQ(Lines(src), (std::vector<std::string>{"two", "three"}));
}

TEST(LogLineSource, RefusesMissingFilesAndDirectories) {
  LogLineSource src;
  EXPECT_FALSE(src.openFile("/nonexistent/file.asc"));
  EXPECT_FALSE(src.openFile("/tmp"));
  EXPECT_FALSE(src.isOpen());
}

LogFormat Detect(const std::string& text) {
  LogLineSource src;
  src.openMemory(text);
  return DetectLogFormat(src);
}

TEST(LogDetection, VectorHeaderKeywordsAndDataStart) {
  const std::string head = "date Mon Dec 07 23:51:00 2026\r\nbase dec  timestamps relative\r\n// x\r\n";
  LogFormat f = Detect(head + "Begin Triggerblock Mon\r\n   1.0 1 1 Rx d 0\r\n");
  EXPECT_EQ(f.form, LogForm::kVector);
  EXPECT_EQ(f.radix, 10);
  EXPECT_TRUE(f.relativeTimes);
  EXPECT_EQ(f.dataStart, head.size() + std::string("Begin Triggerblock Mon\r\n").size());

  f = Detect("timestamps absolute\n//\n  -0.5 1 1 Rx d 0\n");
  EXPECT_EQ(f.form, LogForm::kVector);
  EXPECT_EQ(f.radix, 16);
  EXPECT_FALSE(f.relativeTimes);
  EXPECT_EQ(f.dataStart, std::string("timestamps absolute\n//\n").size());
}

TEST(LogDetection, PcanFormsByHeader) {
  LogFormat f = Detect(";comment\n;more\n  1)  100  Rx  123  1  00\n");
  EXPECT_EQ(f.form, LogForm::kPcanExplorer);
  EXPECT_EQ(f.dataStart, std::string(";comment\n;more\n").size());

  f = Detect(";$FILEVERSION=1.1\n;\n     1)     17535.4  Tx     00000100  8  00 00 00 00 00 00 00 00\n");
  EXPECT_EQ(f.form, LogForm::kPcanTrace);
  EXPECT_EQ(f.trc.version, 11);

  f = Detect(";$FILEVERSION=2.0\n;$COLUMNS=N,O,T,B,I,d,l,D\n");
  EXPECT_EQ(f.form, LogForm::kPcanTrace);
  EXPECT_STREQ(f.trc.columns.data(), "NOTBIdlD");

  // Version 1.0 rows: no direction column, and not one row reads as an Explorer row.
  f = Detect(";\n     1)     17535  00000100  8  00 00 00 00 00 00 00 00\n");
  EXPECT_EQ(f.form, LogForm::kPcanTrace);
  EXPECT_EQ(f.trc.version, 10);

  EXPECT_EQ(Detect(";$FILEVERSION=3.0\n").form, LogForm::kNone);
  EXPECT_EQ(Detect(";$FILEVERSION=2.1\n;$COLUMNS=N,D,O,I,L\n").form, LogForm::kNone);
}

TEST(LogDetection, CandumpAndUnknownForms) {
  LogFormat f = Detect("garbage\n(1.5) can0 123#00\n");
  EXPECT_EQ(f.form, LogForm::kCandump);
  EXPECT_EQ(f.dataStart, 8u);
  EXPECT_EQ(Detect("Log-Datei erzeugt: 2026-01-01 10:00:00\r\n    1.000  123  00\r\n").form, LogForm::kNone);
  EXPECT_EQ(Detect("").form, LogForm::kNone);
  EXPECT_EQ(Detect(std::string("\0\xff\x01\r\r\n", 6)).form, LogForm::kNone);
}

struct Parsed {
  LineResult result;
  LogFrame frame;
};

Parsed Vector(const std::string& line, int radix = 16, NameLookup lookup = {}) {
  Parsed p;
  p.result = ParseVectorLine(line, radix, lookup, p.frame);
  return p;
}

std::string Bytes(const CanFrame& f) {
  std::string s;
  char b[4];
  for (int i = 0; i < f.length; ++i) {
    std::snprintf(b, sizeof b, "%02X", f.data[i]);
    s += b;
  }
  return s;
}

TEST(VectorLine, ReadsFrameFields) {
  Parsed p = Vector("   1.500 2  123             Rx   d 2 11 22");
  ASSERT_EQ(p.result, LineResult::kFrame);
  EXPECT_DOUBLE_EQ(p.frame.time, 1.5);
  EXPECT_EQ(p.frame.frame.timestamp, 1500u);
  EXPECT_EQ(p.frame.channel, 2);
  EXPECT_EQ(p.frame.frame.id, 0x123u);
  EXPECT_EQ(Bytes(p.frame.frame), "1122");

  p = Vector("\t0.25\t1\t0x1ab\tTx\t8 1 2 3 4 5 6 7 ff");
  ASSERT_EQ(p.result, LineResult::kFrame);
  EXPECT_EQ(p.frame.frame.id, 0x1ABu);
  EXPECT_EQ(Bytes(p.frame.frame), "01020304050607FF");

  p = Vector("1.0 1 100 Rx d 3 10 200 255", 10);
  ASSERT_EQ(p.result, LineResult::kFrame);
  EXPECT_EQ(p.frame.frame.id, 100u);
  EXPECT_EQ(Bytes(p.frame.frame), "0AC8FF");
}

TEST(VectorLine, RemoteRequestsWithAndWithoutLength) {
  // Our logger writes remote requests this way, so that no reader takes them for data frames.
  Parsed p = Vector("   2.510 2  100             Tx   r 3");
  ASSERT_EQ(p.result, LineResult::kFrame);
  EXPECT_EQ(p.frame.frame.rtr, 1);
  EXPECT_EQ(p.frame.frame.length, 3);
  EXPECT_EQ(Bytes(p.frame.frame), "000000");
  EXPECT_EQ(p.frame.channel, 2);

  p = Vector("2.51 1 18FEF100x Rx r");
  ASSERT_EQ(p.result, LineResult::kFrame);
  EXPECT_EQ(p.frame.frame.rtr, 1);
  EXPECT_EQ(p.frame.frame.length, 0);
  EXPECT_EQ(p.frame.frame.id, 0x18FEF100u | CanFrame::kExtended);
}

TEST(VectorLine, ExtendedByWidthValueOrMark) {
  struct Row {
    const char* id;
    uint32_t expected;
  } rows[] = {
      {"00000123", 0x123u | CanFrame::kExtended},
      {"7FF", 0x7FFu},
      {"800", 0x800u | CanFrame::kExtended},
      {"123x", 0x123u | CanFrame::kExtended},
      {"0123", 0x123u},
      {"1FFFFFFFx", 0x1FFFFFFFu | CanFrame::kExtended},
  };
  for (const Row& r : rows) {
    Parsed p = Vector(std::string("1.0 1 ") + r.id + " Rx d 0");
    ASSERT_EQ(p.result, LineResult::kFrame) << r.id;
    EXPECT_EQ(p.frame.frame.id, r.expected) << r.id;
  }
}

TEST(VectorLine, SkipsLinesThatAreNoClassicFrame) {
  const char* lines[] = {
      "1.0 0 123 Rx d 0",   // channel 0
      "1.0 17 123 Rx d 0",  // channel above 16
      "1.0 1  Statistic: D 0 R 0 XD 0 XR 0 E 0 O 0 B 0.00%",
      "0.0 1 Start of measurement",
      "1.0 CAN 1 Status:chip status error active",
      "2.51 2 100 Tx r 9",  // a remote request asks for at most 8 bytes
      "2.51 2 100 Tx rr",
      "1.0 1 123 Rx d 9 1 2 3 4 5 6 7 8 9",  // more than 8 bytes
      "1.0 1 123 Rx d 4 1 2 3",              // bytes missing
      "1.0 1 123 Rx d 1 100",                // byte above FF
      "1.0 1 123 Xx d 0",
      "1.0 1 20000000x Rx d 0",  // beyond 29 bits
      "nan 1 123 Rx d 0",
      "inf 1 123 Rx d 0",
      "1e3 1 123 Rx d 0",
      "99999999999.0 1 123 Rx d 0",  // beyond any plausible time
      "1234567890123456789012 1 123 Rx d 0",
      "",
  };
  for (const char* line : lines) EXPECT_EQ(Vector(line).result, LineResult::kSkip) << line;
}

// " 0 1 2 ..." : `count` data byte words counting up from `first`, in hex or decimal.
std::string ByteWords(int count, int first = 0, bool decimal = false) {
  std::string words;
  char word[8];
  for (int i = 0; i < count; ++i) {
    std::snprintf(word, sizeof word, decimal ? " %d" : " %02x", (first + i) & 0xFF);
    words += word;
  }
  return words;
}

TEST(VectorLine, CanFdLinesWithAndWithoutNameColumnAndTrailer) {
  // As our logger writes it: empty name column, full trailer.
  Parsed p = Vector("     1.250 CANFD   2 Tx        7FF                                   1 0 f 64" +
                    ByteWords(64) + "        0    0     3000        0        0        0        0        0");
  ASSERT_EQ(p.result, LineResult::kFrame);
  EXPECT_DOUBLE_EQ(p.frame.time, 1.25);
  EXPECT_EQ(p.frame.frame.timestamp, 1250u);
  EXPECT_EQ(p.frame.channel, 2);
  EXPECT_EQ(p.frame.frame.id, 0x7FFu);
  EXPECT_EQ(p.frame.frame.fdFlags, CanFrame::kFdf | CanFrame::kBrs);
  EXPECT_EQ(p.frame.frame.rtr, 0);
  ASSERT_EQ(p.frame.frame.length, 64);
  for (int i = 0; i < 64; ++i) EXPECT_EQ(p.frame.frame.data[i], i) << i;

  // A name column, lower-case hex, an extended mark, ESI; no trailer at all.
  p = Vector("30.005071 CANFD   3 Rx   1C4D80a7x  Generic_Name_12    0 1 9 12" + ByteWords(12, 1));
  ASSERT_EQ(p.result, LineResult::kFrame);
  EXPECT_EQ(p.frame.frame.id, 0x1C4D80A7u | CanFrame::kExtended);
  EXPECT_EQ(p.frame.frame.fdFlags, CanFrame::kFdf | CanFrame::kEsi);
  EXPECT_EQ(Bytes(p.frame.frame), "0102030405060708090A0B0C");

  // A data length between the FD sizes is padded up to the next one; an empty FD frame stays one.
  p = Vector("1.0 CANFD 1 Rx 123 0 0 a 10" + ByteWords(10, 1));
  ASSERT_EQ(p.result, LineResult::kFrame);
  EXPECT_EQ(Bytes(p.frame.frame), "0102030405060708090A0000");
  p = Vector("1.0 CANFD 1 Rx 123 0 0 0 0");
  ASSERT_EQ(p.result, LineResult::kFrame);
  EXPECT_EQ(p.frame.frame.length, 0);
  EXPECT_EQ(p.frame.frame.fdFlags, CanFrame::kFdf);
  EXPECT_EQ(p.frame.frame.rtr, 0);

  // Decimal files: identifier, DLC and bytes in decimal.
  p = Vector("1.0 CANFD 1 Rx 300 1 1 12 24" + ByteWords(24, 200, true), 10);
  ASSERT_EQ(p.result, LineResult::kFrame);
  EXPECT_EQ(p.frame.frame.id, 300u);
  ASSERT_EQ(p.frame.frame.length, 24);
  EXPECT_EQ(p.frame.frame.data[23], (200 + 23) & 0xFF);
}

TEST(VectorLine, CanFdLineFlagsWithoutEdlHoldAClassicFrame) {
  // Flags 0x200050: remote request, no EDL; the DLC is the requested length.
  Parsed p = Vector(
      "30.300981 CANFD   3 Tx     50005x                                0 0 5 0 140000 73 200050 7a60 "
      "46500250 460a0250 20011736 20010205");
  ASSERT_EQ(p.result, LineResult::kFrame);
  EXPECT_EQ(p.frame.frame.id, 0x50005u | CanFrame::kExtended);
  EXPECT_EQ(p.frame.frame.rtr, 1);
  EXPECT_EQ(p.frame.frame.length, 5);
  EXPECT_EQ(p.frame.frame.fdFlags, 0);
  // A classic data frame on an FD channel.
  p = Vector("1.0 CANFD 1 Rx 123 0 0 3 3 aa bb cc 0 0 0 0 0 0 0 0");
  ASSERT_EQ(p.result, LineResult::kFrame);
  EXPECT_EQ(p.frame.frame.fdFlags, 0);
  EXPECT_EQ(Bytes(p.frame.frame), "AABBCC");
  // More than 8 bytes can only be FD, whatever the flags word says.
  p = Vector("1.0 CANFD 1 Rx 123 0 0 f 64" + ByteWords(64) + " 1331984 11 0 46500250");
  ASSERT_EQ(p.result, LineResult::kFrame);
  EXPECT_EQ(p.frame.frame.fdFlags, CanFrame::kFdf);
  EXPECT_EQ(p.frame.frame.length, 64);
}

TEST(VectorLine, SkipsCanFdLinesThatAreNoFrame) {
  const char* lines[] = {
      "30.806898 CANFD   5 Tx ErrorFrame Not Acknowledge error, dominant error flag fffe c7 31ca",
      "1.0 CANFD 0 Rx 123 0 0 1 1 00",        // channel 0
      "1.0 CANFD 17 Rx 123 0 0 1 1 00",       // channel above 16
      "1.0 CANFD 1 Xx 123 0 0 1 1 00",        // no direction
      "1.0 CANFD 1 Rx 123 2 0 1 1 00",        // BRS is 0 or 1
      "1.0 CANFD 1 Rx 123 0 0 10 1 00",       // DLC above f
      "1.0 CANFD 1 Rx 123 0 0 f 65 00",       // more than 64 bytes
      "1.0 CANFD 1 Rx 123 0 0 2 2 00",        // a byte missing
      "1.0 CANFD 1 Rx 123 0 0 1 1 100",       // byte above FF
      "1.0 CANFD 1 Rx 20000000x 0 0 1 1 00",  // beyond 29 bits
      "1.0 CANFD 1 Rx 123 0 0",               // no lengths
      "1.0 CANFDX 1 Rx 123 0 0 1 1 00",
      "1.0 CANFD",
  };
  for (const char* line : lines) EXPECT_EQ(Vector(line).result, LineResult::kSkip) << line;
  // The identifier of an FD line is a number; a word there is no symbol to look up.
  int asked = 0;
  EXPECT_EQ(Vector("1.0 CANFD 1 Rx Engine 0 0 1 1 00", 16,
                   [&](std::string_view) {
                     ++asked;
                     return 5;
                   })
                .result,
            LineResult::kSkip);
  EXPECT_EQ(asked, 0);
}

TEST(VectorLine, SymbolicIdentifiers) {
  std::vector<std::string> asked;
  NameLookup lookup = [&](std::string_view name) {
    asked.emplace_back(name);
    if (name == "EngineData") return 0x18FEF100;
    if (name == "Short") return 0x100;
    return -1;
  };
  Parsed p = Vector("1.0 1 EngineData Rx d 1 AA", 16, lookup);
  ASSERT_EQ(p.result, LineResult::kFrame);
  EXPECT_EQ(p.frame.frame.id, 0x18FEF100u | CanFrame::kExtended);
  p = Vector("1.0 1 Short Rx d 0", 16, lookup);
  ASSERT_EQ(p.result, LineResult::kFrame);
  EXPECT_EQ(p.frame.frame.id, 0x100u);
  // "12AB" in a decimal file is no number and no name.
  EXPECT_EQ(Vector("1.0 1 12AB Rx d 0", 10, lookup).result, LineResult::kSkip);
  EXPECT_EQ(Vector("1.0 1 J1939TP FEE3p 6 0 0 - Rx d 23 A0", 16, lookup).result, LineResult::kUnknownSymbol);
  // Error frames are not names to put into the user's table.
  EXPECT_EQ(Vector("2.501 1 ErrorFrame ECC: 10100010", 16, lookup).result, LineResult::kSkip);
  EXPECT_EQ(Vector("1.0 1 " + std::string(40, 'N') + " Rx d 0", 16, lookup).result, LineResult::kSkip);
  EXPECT_EQ(asked, (std::vector<std::string>{"EngineData", "Short", "J1939TP"}));
}

TEST(VectorReader, RelativeTimesAreSummedAndNegativeDeltasCountAsZero) {
  const std::string text =
      "base hex  timestamps relative\n"
      "   0.5 1 1 Rx d 0\n   0.25 1 2 Rx d 0\n  -3.0 1 3 Rx d 0\n   1.0 1 4 Rx d 0\n";
  LogReader r;
  ASSERT_TRUE(r.openMemory(text));
  std::vector<double> times;
  LogFrame f;
  while (r.next(f)) times.push_back(f.time);
  EXPECT_EQ(times, (std::vector<double>{0.5, 0.75, 0.75, 1.75}));
  r.rewind();
  ASSERT_TRUE(r.next(f));
  EXPECT_EQ(f.time, 0.5);
}

Parsed Explorer(const std::string& line, NameLookup lookup = {}) {
  Parsed p;
  p.result = ParsePcanExplorerLine(line, lookup, p.frame);
  return p;
}

TEST(PcanExplorerLine, NumberTimeDirectionIdentifierData) {
  Parsed p = Explorer("     12)      1234  Rx  123  3  01 02 03");
  ASSERT_EQ(p.result, LineResult::kFrame);
  EXPECT_DOUBLE_EQ(p.frame.time, 1.234);
  EXPECT_EQ(p.frame.frame.id, 0x123u);
  EXPECT_EQ(Bytes(p.frame.frame), "010203");

  // Without a message number the one number is the time; "h" may follow the identifier.
  p = Explorer("  5000 Send 7FFh 8 11 22");
  ASSERT_EQ(p.result, LineResult::kFrame);
  EXPECT_DOUBLE_EQ(p.frame.time, 5.0);
  EXPECT_EQ(p.frame.frame.id, 0x7FFu);
  EXPECT_EQ(Bytes(p.frame.frame), "1122");

  // A lone length digit is no data byte, also for DLC 0; an identifier above 7FF is extended.
  p = Explorer("1) 10 Receive 18FEF100 0");
  ASSERT_EQ(p.result, LineResult::kFrame);
  EXPECT_EQ(p.frame.frame.length, 0);
  EXPECT_EQ(p.frame.frame.id, 0x18FEF100u | CanFrame::kExtended);

  // At most 8 bytes; a word that is no byte ends the data.
  p = Explorer("1) 10 Tx 1 8 01 02 03 04 05 06 07 08 09");
  EXPECT_EQ(p.frame.frame.length, 8);
  p = Explorer("1) 10 Tx 1 4 01 02 -- -- BUSHEAVY");
  EXPECT_EQ(Bytes(p.frame.frame), "0102");
}

TEST(PcanExplorerLine, FractionalTimesAndOtherDirectionsDoNotParse) {
  EXPECT_EQ(Explorer("1) 17535.4 Rx 123 1 00").result, LineResult::kSkip);
  EXPECT_EQ(Explorer("1) 100 Warng FFFFFFFF 4 00").result, LineResult::kSkip);
  EXPECT_EQ(Explorer(";1) 100 Rx 123 1 00").result, LineResult::kSkip);
  EXPECT_EQ(Explorer("1) 100 Rx Unknown 1 00").result, LineResult::kUnknownSymbol);
}

Parsed Trc(const std::string& line, int version, const char* columns = nullptr) {
  TrcLayout layout;
  EXPECT_TRUE(TrcDefaultLayout(version, layout));
  if (columns) {
    EXPECT_TRUE(TrcParseColumns(columns, layout));
  }
  Parsed p;
  p.result = ParseTrcLine(line, layout, p.frame);
  return p;
}

TEST(TrcLine, EachVersionLayout) {
  struct Row {
    int version;
    const char* line;
    double time;
    int channel;
    uint32_t id;
    const char* bytes;
  } rows[] = {
      {10, "     1)     17535  00000100  8  00 01 02 03 04 05 06 07", 17.535, 1, 0x100u | CanFrame::kExtended,
       "0001020304050607"},
      {11, "     5)     19295.4  Tx         0000  2  AA BB ", 19.2954, 1, 0, "AABB"},
      {12, "     5)     19295.4 2  Rx  07FF  1  AA", 19.2954, 2, 0x7FF, "AA"},
      {13, "     1)     17535.400 3  Tx    00000100 -  1    5A", 17.5354, 3, 0x100u | CanFrame::kExtended,
       "5A"},
      {20, "      1     17535.400 DT 0123 Tx 3  01 02 03", 17.5354, 1, 0x123, "010203"},
      {21, "      1      2501.000 DT 2      00C8 Tx -  8    09 08 07 06 05 04 03 02", 2.501, 2, 0xC8,
       "0908070605040302"},
  };
  for (const Row& r : rows) {
    Parsed p = Trc(r.line, r.version);
    ASSERT_EQ(p.result, LineResult::kFrame) << r.line;
    EXPECT_NEAR(p.frame.time, r.time, 1e-9) << r.line;
    EXPECT_EQ(p.frame.channel, r.channel) << r.line;
    EXPECT_EQ(p.frame.frame.id, r.id) << r.line;
    EXPECT_EQ(Bytes(p.frame.frame), r.bytes) << r.line;
  }
}

TEST(TrcLine, RemoteFdAndStatusRows) {
  Parsed p = Trc("    12)     48937  0704  1  RTR", 10);
  ASSERT_EQ(p.result, LineResult::kFrame);
  EXPECT_EQ(p.frame.frame.rtr, 1);
  EXPECT_EQ(p.frame.frame.length, 1);
  p = Trc("     12     48937.600 RR 1      0704 Rx -  3", 21);
  ASSERT_EQ(p.result, LineResult::kFrame);
  EXPECT_EQ(p.frame.frame.rtr, 1);
  EXPECT_EQ(p.frame.frame.length, 3);

  // FD rows: the DLC code 9 is 12 bytes; the type word carries BRS and ESI.
  p = Trc("  1  10.000 BI 1 0100 Rx - 9  00 01 02 03 04 05 06 07 08 09 0A 0B", 21);
  ASSERT_EQ(p.result, LineResult::kFrame);
  EXPECT_EQ(p.frame.frame.length, 12);
  EXPECT_EQ(p.frame.frame.fdFlags, CanFrame::kFdf | CanFrame::kBrs | CanFrame::kEsi);
  EXPECT_EQ(p.frame.frame.data[11], 0x0B);
  // A byte count that is no FD length is padded up to the next one.
  p = Trc("  1  10.000 FB 0100 Tx 10  00 01 02 03 04 05 06 07 08 09", 20);
  ASSERT_EQ(p.result, LineResult::kFrame);
  EXPECT_EQ(p.frame.frame.length, 12);
  EXPECT_EQ(p.frame.frame.fdFlags, CanFrame::kFdf | CanFrame::kBrs);

  const std::pair<int, const char*> skipped[] = {
      {10, "     2)     17540  FFFFFFFF  4  00 00 00 08 -- -- -- -- BUSHEAVY"},
      {11, "     2)     17540.3  Warng  FFFFFFFF  4  00 00 00 08  BUSHEAVY "},
      {20, "      2     17540.300 ST          Rx    00 00 00 08"},
      {21, "      2     17540.300 ST 1         - Rx -  4    00 00 00 08"},
      {21, "      2     17540.300 DT 1      0100 Rx -  4    00 00 00"},        // bytes missing
      {20, "      2     17540.300 DT 0100 Rx 9  00 00 00 00 00 00 00 00 00"},  // classic above 8
      {21, "      2     nan DT 1      0100 Rx -  0"},
      {21, ";comment"},
  };
  for (const auto& [version, line] : skipped) EXPECT_EQ(Trc(line, version).result, LineResult::kSkip) << line;
}

TEST(TrcLine, ColumnsHeaderSetsTheOrder) {
  Parsed p = Trc("Rx 0100 2 1.5 DT 2 AA BB", 21, "d,I,B,O,T,l,D");
  ASSERT_EQ(p.result, LineResult::kFrame);
  EXPECT_EQ(p.frame.channel, 2);
  EXPECT_NEAR(p.frame.time, 0.0015, 1e-12);
  EXPECT_EQ(Bytes(p.frame.frame), "AABB");
}

Parsed Candump(const std::string& line, CandumpChannels& channels) {
  Parsed p;
  p.result = ParseCandumpLine(line, channels, p.frame);
  return p;
}

TEST(CandumpLine, ClassicExtendedRemoteAndFd) {
  CandumpChannels ch;
  Parsed p = Candump("(1436509052.249713) vcan0 044#2A366C2BBA", ch);
  ASSERT_EQ(p.result, LineResult::kFrame);
  EXPECT_DOUBLE_EQ(p.frame.time, 1436509052.249713);
  EXPECT_EQ(p.frame.frame.id, 0x044u);
  EXPECT_EQ(Bytes(p.frame.frame), "2A366C2BBA");

  p = Candump("(1.0) vcan0 0CF00400#20.7D.87", ch);
  ASSERT_EQ(p.result, LineResult::kFrame);
  EXPECT_EQ(p.frame.frame.id, 0x0CF00400u | CanFrame::kExtended);
  EXPECT_EQ(Bytes(p.frame.frame), "207D87");

  p = Candump("(1.0) vcan0 123#R", ch);
  ASSERT_EQ(p.result, LineResult::kFrame);
  EXPECT_EQ(p.frame.frame.rtr, 1);
  EXPECT_EQ(p.frame.frame.length, 0);
  p = Candump("(1.0) vcan0 123#R7", ch);
  EXPECT_EQ(p.frame.frame.length, 7);

  p = Candump("(1.0) can1 123##3" + std::string(128, 'A'), ch);
  ASSERT_EQ(p.result, LineResult::kFrame);
  EXPECT_EQ(p.frame.frame.length, 64);
  EXPECT_EQ(p.frame.frame.fdFlags, CanFrame::kFdf | CanFrame::kBrs | CanFrame::kEsi);
  EXPECT_EQ(p.frame.channel, 2);  // second interface seen

  p = Candump("(1.0) can1 123##0112233", ch);
  ASSERT_EQ(p.result, LineResult::kFrame);
  EXPECT_EQ(p.frame.frame.fdFlags, CanFrame::kFdf);
  EXPECT_EQ(Bytes(p.frame.frame), "112233");

  // Classic frame with a DLC code above 8 behind its eight bytes.
  EXPECT_EQ(Candump("(1.0) vcan0 123#0011223344556677_C", ch).result, LineResult::kFrame);
}

TEST(CandumpLine, InterfacesNumberedByFirstAppearance) {
  CandumpChannels ch;
  const char* lines[] = {"(1.0) can7 1#", "(1.0) can7 001#", "(1.0) can2 001#", "(1.0) can7 001#",
                         "(1.0) vcan0 001#"};
  std::vector<int> channels;
  for (const char* l : lines) {
    Parsed p = Candump(l, ch);
    if (p.result == LineResult::kFrame) channels.push_back(p.frame.channel);
  }
  // The first line has a one-digit identifier and registers no interface.
  EXPECT_EQ(channels, (std::vector<int>{1, 2, 1, 3}));
  for (int i = 0; i < 20; ++i) Candump("(1.0) if" + std::to_string(i) + " 001#", ch);
  EXPECT_EQ(Candump("(1.0) another 001#", ch).frame.channel, 0);
}

TEST(CandumpLine, SkipsWhatIsNoFrame) {
  CandumpChannels ch;
  const char* lines[] = {
      "(1.0) can0 20000080#0000000000000000",  // error frame
      "(1.0) can0 800#00",                     // standard identifier beyond 11 bits
      "(1.0) can0 1234#00",                    // neither 3 nor 8 digits
      "(1.0) can0 123#001122334455667788",     // nine classic bytes
      "(1.0) can0 123#0",                      // half a byte
      "(1.0) can0 123###00",                   // CAN XL
      "(1.0) can0 123#R9",
      "(1.0) can0 123##",  // FD without flags
      "(nan) can0 123#00",
      "(1e400) can0 123#00",
      "1.0 can0 123#00",
      "(1.0)can0 123#00",
      "(1.0) can0",
  };
  for (const char* l : lines) EXPECT_EQ(Candump(l, ch).result, LineResult::kSkip) << l;
}

TEST(LogReader, FilesOfLineEndsOnlyAreNoLog) {
  for (const char end : {'\r', '\n'}) {
    LogReader r({}, 4096, 64);
    EXPECT_FALSE(r.openMemory(std::string(200000, end)));
    EXPECT_FALSE(r.isOpen());
  }
}

TEST(LogReader, AnyBytesAreSkippedWithoutHarm) {
  // Binary garbage between valid lines of each form: the valid ones still come through.
  std::mt19937 rng(3);
  std::string garbage;
  for (int i = 0; i < 5000; ++i) garbage += static_cast<char>(rng());
  const std::string forms[] = {
      "base hex  timestamps absolute\n" + garbage + "\n1.0 1 123 Rx d 1 AA\n",
      ";\n" + garbage + "\n1) 100 Rx 123 1 AA\n",
      ";$FILEVERSION=2.1\n" + garbage + "\n 1 100.0 DT 1 0123 Rx - 1 AA\n",
      "(1.0) can0 123#AA\n" + garbage + "\n(1.0) can0 123#AA",
  };
  for (const std::string& text : forms) {
    LogReader r({}, 1, 64);
    ASSERT_TRUE(r.openMemory(text));
    LogFrame f;
    int last = 0;
    while (r.next(f)) last = f.frame.data[0];
    EXPECT_EQ(last, 0xAA);
  }
}

}  // namespace
}  // namespace busprobe
