#include "base/atomic_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace busprobe {
namespace {

namespace fs = std::filesystem;

class AtomicFileTest : public ::testing::Test {
 protected:
  AtomicFileTest() {
    std::string tmpl = (fs::temp_directory_path() / "atomic_test_XXXXXX").string();
    dir_ = ::mkdtemp(tmpl.data());
  }
  ~AtomicFileTest() override {
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }
  std::string file(const std::string& name) const { return dir_ + "/" + name; }
  static std::string read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
  }
  static void write(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
  }
  size_t entries(const std::string& dir) const {
    return static_cast<size_t>(std::distance(fs::directory_iterator(dir), {}));
  }

  std::string dir_;
};

TEST_F(AtomicFileTest, ReadOnlyFileIsLeftAsItIs) {
  const std::string path = file("NVK_Busprobe.ini");
  write(path, "[Old]\n");
  ::chmod(path.c_str(), 0444);
  EXPECT_EQ(WriteFileAtomically(path, "[New]\n"), EROFS);
  EXPECT_EQ(read(path), "[Old]\n");
  struct stat st {};
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0444u);
  EXPECT_EQ(entries(dir_), 1u);  // no temporary file either
}

TEST_F(AtomicFileTest, LinksAreWrittenThroughAndStayLinks) {
  fs::create_directory(file("real"));
  const std::string target = file("real/settings.ini");
  write(target, "old");
  // A relative link in another directory: the target is found from the link's own directory.
  fs::create_symlink("real/settings.ini", file("link.ini"));
  ASSERT_EQ(WriteFileAtomically(file("link.ini"), "new"), 0);
  EXPECT_TRUE(fs::is_symlink(file("link.ini")));
  EXPECT_EQ(fs::read_symlink(file("link.ini")), "real/settings.ini");
  EXPECT_EQ(read(target), "new");
  EXPECT_EQ(entries(dir_), 2u);
  EXPECT_EQ(entries(file("real")), 1u);

  // A link to a link: the end of the chain is replaced.
  fs::create_symlink("link.ini", file("chain.ini"));
  ASSERT_EQ(WriteFileAtomically(file("chain.ini"), "newer"), 0);
  EXPECT_TRUE(fs::is_symlink(file("chain.ini")));
  EXPECT_TRUE(fs::is_symlink(file("link.ini")));
  EXPECT_EQ(read(target), "newer");
}

TEST_F(AtomicFileTest, DanglingLinkCreatesItsTarget) {
  fs::create_directory(file("elsewhere"));
  fs::create_symlink(file("elsewhere/vars.txt"), file("current_vars.txt"));
  ASSERT_EQ(WriteFileAtomically(file("current_vars.txt"), "A=1\r\n"), 0);
  EXPECT_TRUE(fs::is_symlink(file("current_vars.txt")));
  EXPECT_EQ(read(file("elsewhere/vars.txt")), "A=1\r\n");
  EXPECT_EQ(entries(file("elsewhere")), 1u);

  // Only regular files are replaced: never a FIFO (nor a device) a link leads to.
  ASSERT_EQ(::mkfifo(file("fifo").c_str(), 0600), 0);
  fs::create_symlink(file("fifo"), file("to_fifo"));
  EXPECT_EQ(WriteFileAtomically(file("to_fifo"), "x"), EPERM);
  EXPECT_EQ(WriteFileAtomically(file("fifo"), "x"), EPERM);
  EXPECT_TRUE(fs::is_fifo(file("fifo")));

  // A loop of links names no file: nothing is written and the links stay.
  fs::create_symlink(file("b"), file("a"));
  fs::create_symlink(file("a"), file("b"));
  EXPECT_EQ(WriteFileAtomically(file("a"), "x"), ELOOP);
  EXPECT_TRUE(fs::is_symlink(file("a")));
}

// The pid of a process that has ended and been reaped.
pid_t DeadPid() {
  const pid_t pid = ::fork();
  if (pid == 0) ::_exit(0);
  int status = 0;
  ::waitpid(pid, &status, 0);
  return pid;
}

TEST_F(AtomicFileTest, LeftoversOfEndedSavesAreRemovedOthersKept) {
  const pid_t dead = DeadPid();
  const std::string ours = "NVK_Busprobe.ini";
  const std::string deadTemp = AtomicTempFileName(dir_, ours, dead, 3);
  const std::string liveTemp = AtomicTempFileName(dir_, ours, ::getpid(), 0);
  const std::string foreignTemp = AtomicTempFileName(dir_, "other.cfg", dead, 0);
  const std::string lookalike = file(".NVK_Busprobe.ini.tmpX-0");
  for (const auto& p : {deadTemp, liveTemp, foreignTemp, lookalike}) write(p, "half");
  EXPECT_EQ(deadTemp, file(".NVK_Busprobe.ini.tmp" + std::to_string(dead) + "-3"));

  const auto isOurs = [&](std::string_view base) { return base == ours; };
  EXPECT_EQ(RemoveStaleTempFiles(dir_, isOurs), 1);
  EXPECT_FALSE(fs::exists(deadTemp));
  EXPECT_TRUE(fs::exists(liveTemp));
  EXPECT_TRUE(fs::exists(foreignTemp));
  EXPECT_TRUE(fs::exists(lookalike));
  EXPECT_EQ(RemoveStaleTempFiles(file("absent"), isOurs), 0);
}

}  // namespace
}  // namespace busprobe
