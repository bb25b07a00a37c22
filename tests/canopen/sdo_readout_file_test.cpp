// Readout files: which name an object's file gets, what the announcement answers, and that the
// data pieces keep the client's timer alive and are counted.
#include "canopen/sdo_readout_file.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace busprobe {
namespace {

TEST(SdoReadoutFileTest, NamesFollowTheObject) {
  EXPECT_EQ(SdoReadoutFile::FileName(0x1021, 0), "Readout_Obj1021_00.eds");
  EXPECT_EQ(SdoReadoutFile::FileName(0x5021, 0), "Readout_Obj5021_00.dat");
  EXPECT_EQ(SdoReadoutFile::FileName(0x5021, 1), "Readout_Obj5021_01.eds");
  EXPECT_EQ(SdoReadoutFile::FileName(0x5021, 3), "Readout_Obj5021_03.eds");
  EXPECT_EQ(SdoReadoutFile::FileName(0x5021, 4), "Readout_Obj5021_04.dcf");
  EXPECT_EQ(SdoReadoutFile::FileName(0x2ABC, 0xFE), "Readout_Obj2ABC_FE.dat");
}

TEST(SdoReadoutFileTest, StreamsIntoTheFolderAndKeepsTheTimerAlive) {
  std::string tmpl = (std::filesystem::temp_directory_path() / "busprobe-readout-XXXXXX").string();
  const std::string dir = mkdtemp(tmpl.data());
  uint64_t written = 0;
  SdoReadoutFile readout([&] { return dir; }, [&](uint64_t n) { written += n; });
  SdoChannel ch;
  ch.index = 0x2000;
  ch.subIndex = 1;
  ch.timeoutTicks = 5;
  ch.timer = 1;
  EXPECT_EQ(readout.onBlock(ch, kSdoBlockAnnounced, 4000, nullptr), 0);
  EXPECT_EQ(readout.lastPath(), dir + "/Readout_Obj2000_01.dat");
  EXPECT_EQ(readout.filesCreated(), 1u);
  const uint8_t piece[7] = {1, 2, 3, 4, 5, 6, 7};
  readout.onBlock(ch, kSdoBlockData, 7, piece);
  EXPECT_EQ(ch.timer, 5);
  readout.onBlock(ch, kSdoBlockData, 3, piece);
  readout.onBlock(ch, kSdoBlockEnded, 10, nullptr);
  EXPECT_EQ(written, 10u);
  EXPECT_EQ(readout.lastSize(), 10);
  std::ifstream in(readout.lastPath(), std::ios::binary);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), std::string("\1\2\3\4\5\6\7\1\2\3"));

  // A caller that wants no large uploads refuses them before any file is made.
  ch.limitLargeUploads = 1;
  EXPECT_EQ(static_cast<uint32_t>(readout.onBlock(ch, kSdoBlockAnnounced, 1025, nullptr)), 0x08000021u);
  EXPECT_EQ(readout.filesCreated(), 1u);
  EXPECT_EQ(readout.onBlock(ch, kSdoBlockAnnounced, 1024, nullptr), 0);
  readout.abandon();
  std::filesystem::remove_all(dir);
}

TEST(SdoReadoutFileTest, AFolderThatCannotTakeTheFileKeepsTheDataInTheBuffer) {
  SdoReadoutFile readout([] { return std::string("/nonexistent/busprobe/folder"); }, nullptr);
  SdoChannel ch;
  ch.index = 0x1021;
  EXPECT_EQ(readout.onBlock(ch, kSdoBlockAnnounced, 3000, nullptr), -1);
  EXPECT_EQ(readout.filesCreated(), 0u);
  const uint8_t piece[1] = {9};
  EXPECT_EQ(readout.onBlock(ch, kSdoBlockData, 1, piece), 0);  // nothing open: no harm
}

}  // namespace
}  // namespace busprobe
