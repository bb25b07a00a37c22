// Recording into the file being played is refused by file, however it is named.
#include "traffic/record_play_guard.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>

#include "app/test_support.h"

namespace busprobe {
namespace {

TEST(RecordPlayGuard, SameFileThroughSymbolicAndHardLinksOnly) {
  test::ScratchDir dir;
  const std::string played = dir.file("played.log"), other = dir.file("other.log");
  std::ofstream(played) << "(1.0) can0 123#11\n";
  std::ofstream(other) << "(1.0) can0 123#11\n";
  ASSERT_EQ(::symlink(played.c_str(), dir.file("soft.log").c_str()), 0);
  ASSERT_EQ(::link(played.c_str(), dir.file("hard.log").c_str()), 0);
  const std::optional<FileIdentity> file = FileIdentityOfPath(played);
  ASSERT_TRUE(file);

  for (const char* name : {"played.log", "soft.log", "hard.log"}) {
    const std::string path = dir.file(name);
    EXPECT_EQ(CheckRecordingInto(path, file),
              "Log file " + path + " is the file being played: not recorded.");
    EXPECT_EQ(CheckPlayingFrom(path, file), "Log file " + path + " is being recorded: not played.");
  }
  // A file with the same content, a file not there yet, and nothing open are all fine.
  EXPECT_EQ(CheckRecordingInto(other, file), "");
  EXPECT_EQ(CheckRecordingInto(dir.file("new.asc"), file), "");
  EXPECT_EQ(CheckRecordingInto(played, std::nullopt), "");
  EXPECT_EQ(CheckPlayingFrom(played, std::nullopt), "");
}

}  // namespace
}  // namespace busprobe
