#include "base/guarded_file.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "base/bounded_child.h"

namespace busprobe {
namespace {

namespace fs = std::filesystem;

class GuardedFileTest : public ::testing::Test {
 protected:
  GuardedFileTest() {
    std::string tmpl = (fs::temp_directory_path() / "guarded_test_XXXXXX").string();
    dir_ = ::mkdtemp(tmpl.data());
  }
  ~GuardedFileTest() override {
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }
  std::string file(const std::string& name) const { return dir_ + "/" + name; }
  void write(const std::string& name, const std::string& text) const {
    std::ofstream(file(name), std::ios::binary) << text;
  }

  std::string dir_;
};

TEST_F(GuardedFileTest, FifoAndEndlessDeviceAreRefusedWithoutWaiting) {
  ASSERT_EQ(::mkfifo(file("fifo").c_str(), 0600), 0);
  fs::create_symlink("/dev/zero", file("zero"));
  for (const char* name : {"fifo", "zero"}) {
    SCOPED_TRACE(name);
    const std::string path = file(name);
    std::string text;
    ASSERT_TRUE(test::ReturnsWithin(10, [&] { ReadRegularFile(path, 1 << 20, text); }));
    std::string reason;
    EXPECT_EQ(ReadRegularFile(path, 1 << 20, text, &reason), GuardedReadStatus::kRefused);
    EXPECT_EQ(reason, "not a regular file");
    EXPECT_TRUE(text.empty());
    GuardedReadStatus status = GuardedReadStatus::kOk;
    EXPECT_EQ(OpenRegularFile(path, status, nullptr), -1);
    EXPECT_EQ(status, GuardedReadStatus::kRefused);
  }
}

TEST_F(GuardedFileTest, SizeLimitIsInclusiveAndBiggerFilesAreRefused) {
  write("ten", "0123456789");
  std::string text, reason;
  EXPECT_EQ(ReadRegularFile(file("ten"), 10, text, &reason), GuardedReadStatus::kOk);
  EXPECT_EQ(text, "0123456789");
  EXPECT_EQ(ReadRegularFile(file("ten"), 9, text, &reason), GuardedReadStatus::kRefused);
  EXPECT_EQ(reason, "file too large");
  EXPECT_TRUE(text.empty());

  // A sparse giant costs nothing to make; reading it whole would exhaust memory.
  { std::ofstream(file("huge"), std::ios::binary); }
  fs::resize_file(file("huge"), uintmax_t{8} << 30);
  EXPECT_EQ(ReadRegularFile(file("huge"), 1 << 20, text, &reason), GuardedReadStatus::kRefused);
  EXPECT_EQ(reason, "file too large");
}

TEST_F(GuardedFileTest, MissingAndUnopenableFilesAreToldApart) {
  std::string text, reason;
  EXPECT_EQ(ReadRegularFile(file("absent"), 100, text, &reason), GuardedReadStatus::kMissing);
  fs::create_symlink(file("absent"), file("dangling"));
  EXPECT_EQ(ReadRegularFile(file("dangling"), 100, text, &reason), GuardedReadStatus::kMissing);
  if (::geteuid() != 0) {  // the super-user opens anything
    write("private", "x");
    ::chmod(file("private").c_str(), 0);
    EXPECT_EQ(ReadRegularFile(file("private"), 100, text, &reason), GuardedReadStatus::kCannotOpen);
    EXPECT_FALSE(reason.empty());
  }
}

TEST_F(GuardedFileTest, OpenedFileReadsInBlockingModeThroughALink) {
  write("data", "abc");
  fs::create_symlink(file("data"), file("link"));
  GuardedReadStatus status = GuardedReadStatus::kMissing;
  uint64_t size = 0;
  const int fd = OpenRegularFile(file("link"), status, nullptr, &size);
  ASSERT_GE(fd, 0);
  EXPECT_EQ(status, GuardedReadStatus::kOk);
  EXPECT_EQ(size, 3u);
  EXPECT_EQ(::fcntl(fd, F_GETFL) & O_NONBLOCK, 0);
  EXPECT_NE(::fcntl(fd, F_GETFD) & FD_CLOEXEC, 0);
  ::close(fd);
}

}  // namespace
}  // namespace busprobe
