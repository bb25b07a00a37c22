#include "traffic/frame_format.h"

#include <gtest/gtest.h>

#include <string>

namespace busprobe {
namespace {

CanFrame Frame(uint32_t id, std::initializer_list<uint8_t> bytes, uint32_t timestamp = 12345) {
  CanFrame f;
  f.id = id;
  f.timestamp = timestamp;
  f.length = static_cast<uint8_t>(bytes.size());
  int i = 0;
  for (uint8_t b : bytes) f.data[i++] = b;
  return f;
}

std::string Format(const CanFrame& f, const CanDisplaySettings& s, uint32_t previous = 0,
                   bool* extendedSeen = nullptr) {
  bool seen = extendedSeen ? *extendedSeen : false;
  char buffer[kFrameLineCapacity];
  const size_t len = FormatFrameLine(f, s, seen, previous, buffer, sizeof buffer);
  if (extendedSeen) *extendedSeen = seen;
  EXPECT_EQ(buffer[len], '\0');
  return std::string(buffer, len);
}

TEST(FrameFormat, TheDocumentedExampleLine) {
  const CanDisplaySettings s;
  EXPECT_EQ(Format(Frame(0x123, {0x11, 0x22}), s), "00012345: 123 11 22" + std::string(19, ' '));
}

TEST(FrameFormat, TimeStampForms) {
  CanDisplaySettings s;
  const std::string data = " 11" + std::string(1 + 7 * 3, ' ');
  s.timeStampDisplay = 2;
  // relative within -50 .. TimeRelMax, absolute otherwise
  EXPECT_EQ(Format(Frame(0x1, {0x11}, 1000), s, 1050), " -000050: 001" + data);
  EXPECT_EQ(Format(Frame(0x1, {0x11}, 1000), s, 1051), "00001000: 001" + data);
  EXPECT_EQ(Format(Frame(0x1, {0x11}, 1012), s, 1000), " +000012: 001" + data);
  EXPECT_EQ(Format(Frame(0x1, {0x11}, 1500), s, 1000), " +000500: 001" + data);
  EXPECT_EQ(Format(Frame(0x1, {0x11}, 1501), s, 1000), "00001501: 001" + data);
  // across the wrap of the 32-bit millisecond clock the difference stays small
  EXPECT_EQ(Format(Frame(0x1, {0x11}, 5), s, 0xFFFFFFFBu), " +000010: 001" + data);

  s.timeStampDisplay = 1;
  s.timeStampFormat = 1;
  EXPECT_EQ(Format(Frame(0x1, {0x11}, 1012), s, 1000), "00001012: 001" + data);
  // hours are not wrapped at 24
  s.timeStampFormat = 2;
  EXPECT_EQ(Format(Frame(0x1, {0x11}, 25u * 3600000u + 61u * 1000u + 239u), s), "25:01:01.23: 001" + data);
  s.timeStampDisplay = 0;
  EXPECT_EQ(Format(Frame(0x1, {0x11}), s), "001" + data);
}

TEST(FrameFormat, IdentifierFieldsAndMarks) {
  CanDisplaySettings s;
  s.timeStampDisplay = 0;
  const std::string eight = " 11" + std::string(1 + 7 * 3, ' ');
  bool seen = false;
  EXPECT_EQ(Format(Frame(0x123, {0x11}), s, 0, &seen), "123" + eight);
  EXPECT_FALSE(seen);
  EXPECT_EQ(Format(Frame(0x1ABCDEF | CanFrame::kExtended, {0x11}), s, 0, &seen), "01ABCDEF" + eight);
  EXPECT_TRUE(seen);
  // standard identifiers keep the columns of extended ones once one was seen
  EXPECT_EQ(Format(Frame(0x123, {0x11}), s, 0, &seen), "123     " + eight);
  s.mark29BitIds = 1;
  EXPECT_EQ(Format(Frame(0x123, {0x11}), s, 0, &seen), "123.s     " + eight);
  CanFrame fd = Frame(0x10 | CanFrame::kExtended, {0x11});
  fd.fdFlags = CanFrame::kFdf;
  EXPECT_EQ(Format(fd, s, 0, &seen), "00000010.X" + eight);
  s.mark29BitIds = 0;

  // bus bits: part of the leading hex digit unless the bus number is shown
  const uint32_t bus2 = 1u << CanFrame::kBusShift;
  EXPECT_EQ(Format(Frame(0x1FFFFFFF | CanFrame::kExtended | bus2, {0x11}), s), "5FFFFFFF" + eight);
  EXPECT_EQ(Format(Frame(0x7FF | bus2, {0x11}), s), "7FF" + eight);
  s.showBusNr = 1;
  EXPECT_EQ(Format(Frame(0x1FFFFFFF | CanFrame::kExtended | bus2, {0x11}), s), "#2 1FFFFFFF" + eight);

  s.showBusNr = 0;
  s.canIdDisplay = 10;
  EXPECT_EQ(Format(Frame(0x123, {0x11}), s), "#0291" + eight);
  EXPECT_EQ(Format(Frame(0x123 | CanFrame::kExtended, {0x11}), s), "#000000291" + eight);
}

TEST(FrameFormat, PayloadForms) {
  CanDisplaySettings s;
  s.timeStampDisplay = 0;
  // an FD frame of 12 bytes: 12 columns, no padding
  CanFrame fd = Frame(0x100, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11});
  fd.fdFlags = CanFrame::kFdf | CanFrame::kBrs;
  EXPECT_EQ(Format(fd, s), "100 00 01 02 03 04 05 06 07 08 09 0A 0B ");
  CanFrame full = Frame(0x100, {});
  full.length = 64;
  for (int i = 0; i < 64; ++i) full.data[i] = static_cast<uint8_t>(i);
  const std::string line = Format(full, s);
  EXPECT_EQ(line.size(), 4u + 64u * 3u);
  EXPECT_EQ(line.substr(line.size() - 3), "3F ");

  // remote frame of length 3
  CanFrame remote = Frame(0x200, {});
  remote.rtr = 1;
  remote.length = 3;
  EXPECT_EQ(Format(remote, s), "200rXX XX XX " + std::string(15, ' '));

  // a corrupt length never reads beyond the data
  CanFrame bad = Frame(0x300, {});
  bad.length = 200;
  EXPECT_EQ(Format(bad, s).size(), 4u + 64u * 3u);

  s.showDlc = 1;
  s.markFdFrames = 1;
  EXPECT_EQ(Format(Frame(0x1, {0xAB}), s), "001     [01] AB" + std::string(22, ' '));
  EXPECT_EQ(Format(fd, s).substr(0, 14), "100 BRS [12] 0");
  struct {
    uint8_t flags;
    const char* mark;
  } const marks[] = {{0x20, "FDF"}, {0x60, "BRS"}, {0xA0, "ESI"}, {0xE0, "ESI"},
                     {0x40, " B "}, {0x80, "  E"}, {0xC0, " BE"}};
  for (const auto& m : marks) {
    CanFrame f = Frame(0x1, {});
    f.fdFlags = m.flags;
    EXPECT_EQ(Format(f, s).substr(3, 5), std::string(" ") + m.mark + " ") << int(m.flags);
  }
}

TEST(FrameFormat, IdentifiersShownAsText) {
  CanDisplaySettings s;
  s.timeStampDisplay = 0;
  s.showIdAsText[2] = 0x321;
  EXPECT_EQ(Format(Frame(0x321, {'H', 'i', 0x0D, 0x0A, 'o', 'k'}), s), "321 \"Hi\" 0D 0A \"ok\"");
  EXPECT_EQ(Format(Frame(0x321, {0x01, 'A'}), s), "321  01 \"A\"");
  // the whole id word is compared: the same identifier on bus 2 is shown as bytes
  EXPECT_EQ(Format(Frame(0x321 | (1u << CanFrame::kBusShift), {'A'}), s).substr(0, 7), "321 41 ");
  // no byte is started once 32 characters are written
  CanFrame longText = Frame(0x321, {});
  longText.length = 64;
  std::memset(longText.data, 'x', 64);
  EXPECT_EQ(Format(longText, s), "321 \"" + std::string(31, 'x') + "\"");
}

TEST(FrameFormat, NeverWritesBeyondTheCapacity) {
  CanDisplaySettings s;
  CanFrame f = Frame(0x123, {1, 2, 3, 4, 5, 6, 7, 8});
  char buffer[16];
  std::memset(buffer, '#', sizeof buffer);
  bool seen = false;
  EXPECT_EQ(FormatFrameLine(f, s, seen, 0, buffer, 10), 9u);
  EXPECT_EQ(std::string(buffer, 9), "00012345:");
  EXPECT_EQ(buffer[9], '\0');
  EXPECT_EQ(buffer[10], '#');
}

TEST(FrameFormat, CommentsStartAtColumn43AndLongReceivedCommentsAreCut) {
  char buffer[kFrameLineCapacity] = "short";
  size_t len = AppendLineComment(buffer, 5, sizeof buffer, ";[T]", false);
  EXPECT_EQ(std::string(buffer, len), "short" + std::string(38, ' ') + ";[T]");

  const std::string comment(180, 'c');
  std::memcpy(buffer, "x", 1);
  len = AppendLineComment(buffer, 1, sizeof buffer, comment, true);
  EXPECT_EQ(len, 43u + 79u);
  len = AppendLineComment(buffer, 1, sizeof buffer, comment, false);
  EXPECT_EQ(len, 43u + 180u);
  len = AppendLineComment(buffer, 1, 50, comment, false);
  EXPECT_EQ(len, 49u);
}

TEST(FrameFormat, SortKeysOrderDirectionsRemoteAndBuses) {
  CanFrame data = Frame(0x100, {});
  CanFrame remote = data;
  remote.rtr = 1;
  EXPECT_LT(FrameSortKey(remote, false), FrameSortKey(data, false));
  EXPECT_LT(FrameSortKey(data, false), FrameSortKey(remote, true));
  EXPECT_LT(FrameSortKey(remote, true), FrameSortKey(data, true));
  CanFrame ext = Frame(0x000 | CanFrame::kExtended, {});
  CanFrame bus2 = Frame(0x000 | (1u << CanFrame::kBusShift), {});
  CanFrame bus3 = Frame(0x7FF | (2u << CanFrame::kBusShift), {});
  EXPECT_LT(FrameSortKey(data, true), FrameSortKey(ext, false));
  EXPECT_LT(FrameSortKey(ext, true), FrameSortKey(bus2, false));
  EXPECT_LT(FrameSortKey(bus3, true), FrameSortKey(data, false));  // bit 31 set: negative
}

}  // namespace
}  // namespace busprobe
