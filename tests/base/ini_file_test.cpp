#include "base/ini_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "base/bounded_child.h"

namespace busprobe {
namespace {

namespace fs = std::filesystem;

class TempDir {
 public:
  TempDir() {
    std::string tmpl = (fs::temp_directory_path() / "ini_test_XXXXXX").string();
    path_ = ::mkdtemp(tmpl.data());
  }
  ~TempDir() {
    std::error_code ec;
    fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(path_, ec);
  }
  std::string file(const std::string& name) const { return path_ + "/" + name; }
  size_t entries() const { return static_cast<size_t>(std::distance(fs::directory_iterator(path_), {})); }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

void WriteFile(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

TEST(IniFile, UntouchedLinesSurviveAndChangesStayLocal) {
  const std::string text =
      "; written by a later version\r\n"
      "orphan=before any section\r\n"
      "\r\n"
      "[Future]\r\n"
      "Unknown = keep me \r\n"
      "garbage without equals\r\n"
      "[CanSettings]\r\n"
      "Baudrate=250\r\n"
      "\r\n"
      "; about the next section\r\n"
      "[Tail]\r\n"
      "x=1";  // no final line end
  IniFile ini = IniFile::parse(text);
  EXPECT_EQ(ini.text(), text);
  EXPECT_EQ(ini.getString("", "orphan", "-"), "before any section");

  ASSERT_TRUE(ini.setInt("cansettings", "BAUDRATE", 125));       // the file's spelling stays
  ASSERT_TRUE(ini.setInt("CanSettings", "FlexDataRate", 2000));  // after the section's last key
  ASSERT_TRUE(ini.setString("NewSection", "Key", "v"));          // appended with the file's line end
  EXPECT_EQ(
      ini.text(),
      "; written by a later version\r\norphan=before any section\r\n\r\n[Future]\r\nUnknown = keep me \r\n"
      "garbage without equals\r\n[CanSettings]\r\nBaudrate=125\r\nFlexDataRate=2000\r\n\r\n"
      "; about the next section\r\n[Tail]\r\nx=1\r\n\r\n[NewSection]\r\nKey=v\r\n");
}

TEST(IniFile, LookupIgnoresCaseAndTheFirstDuplicateCounts) {
  IniFile ini = IniFile::parse("[Sec]\nKey=1\nkey=2\n[Other]\nKey=3\n[SEC]\nKEY=4\nLate=5\n");
  EXPECT_EQ(ini.getInt("sEc", "kEy", 0), 1);
  EXPECT_EQ(ini.getInt("sec", "late", 0), 5);  // a repeated section still contributes its keys
  EXPECT_EQ(ini.getInt("other", "key", 0), 3);
  ASSERT_TRUE(ini.setInt("SEC", "KEY", 9));
  EXPECT_EQ(ini.getInt("Sec", "Key", 0), 9);
  EXPECT_EQ(ini.text(), "[Sec]\nKey=9\nkey=2\n[Other]\nKey=3\n[SEC]\nKEY=4\nLate=5\n");
}

TEST(IniFile, HostileContentStillYieldsTheValidKeys) {
  const std::string longLine(100 * 1024, 'x');
  const std::string nul("a\0b=c", 5);
  for (const char* eol : {"\n", "\r\n", "\r"}) {
    const std::string text = std::string("[Sec]") + eol + longLine + eol + "=" + eol + "[unterminated" + eol +
                             nul + eol + "  A =  42  " + eol + "B=" + longLine + eol + "C=7";
    IniFile ini = IniFile::parse(text);
    EXPECT_EQ(ini.text(), text);
    EXPECT_EQ(ini.getInt("Sec", "A", 0), 42) << "line end " << (eol[0] == '\r' ? "CR" : "LF");
    EXPECT_EQ(ini.getString("Sec", "B", ""), longLine);
    EXPECT_EQ(ini.getInt("Sec", "C", 0), 7);
    EXPECT_EQ(ini.getString("Sec", std::string("a\0b", 3), ""), "c");
    ASSERT_TRUE(ini.setInt("Sec", "D", 1));  // appended after C, which first gets a line end
    EXPECT_EQ(ini.text(), text + eol + "D=1" + eol);
  }
}

TEST(IniFile, IntegersReadLikeTheProfileApiWithoutOverflow) {
  const std::pair<const char*, int> rows[] = {
      {"12abc", 12},
      {"-7", -7},
      {"+5", 5},
      {"0x10", 0},
      {"abc", -99},
      {"", -99},
      {"- 5", -99},
      {"\"33\"", 33},
      {"2147483647", INT_MAX},
      {"99999999999999999999", INT_MAX},
      {"-2147483648", INT_MIN},
      {"-99999999999999999999", INT_MIN},
  };
  for (const auto& [value, expected] : rows) {
    IniFile ini = IniFile::parse(std::string("[S]\nK=") + value + "\n");
    EXPECT_EQ(ini.getInt("S", "K", -99), expected) << value;
  }
  EXPECT_EQ(IniFile().getInt("S", "K", -99), -99);
}

TEST(IniFile, FloatingPointRoundTripsAndRejectsNonNumbers) {
  IniFile ini;
  const double values[] = {0.1, 1.0 / 3.0, -2.5, 1e-300, 123456789.125, 1e22};
  for (double v : values) {
    ASSERT_TRUE(ini.setDouble("F", "V", v));
    EXPECT_EQ(IniFile::parse(ini.text()).getDouble("F", "V", 0.0), v);
  }
  ini.setDouble("F", "V", 0.1);
  EXPECT_EQ(ini.getString("F", "V", ""), "0.1");  // shortest text, not 0.10000000000000001

  for (const char* bad : {"abc", "", "nan", "inf", "-infinity", "1e999"}) {
    ini.setString("F", "V", bad);
    EXPECT_EQ(ini.getDouble("F", "V", 100.0), 100.0) << bad;
  }
  ini.setString("F", "V", "+1.5ms");
  EXPECT_EQ(ini.getDouble("F", "V", 0.0), 1.5);

  ini.setDoubleFixed("F", "V", 100.0, 8, 1);
  EXPECT_NE(ini.text().find("V=   100.0\n"), std::string::npos);
  ini.setDoubleFixed("F", "V", 1e300, 8, 1);  // wider than the field: all digits, no overflow
  EXPECT_EQ(ini.getDouble("F", "V", 0.0), 1e300);
}

TEST(IniFile, StringsKeepTheirBlanksAndCannotInjectLines) {
  IniFile ini;
  for (const char* v : {" lead", "trail\t", "\"quoted\"", "\"", "\"\"", "mid \"q\" dle", ""}) {
    ASSERT_TRUE(ini.setString("S", "K", v));
    EXPECT_EQ(IniFile::parse(ini.text()).getString("S", "K", "-"), v);
  }
  ASSERT_TRUE(ini.setString("S", "K", "one\r\n[Injected]\nK=2"));
  IniFile back = IniFile::parse(ini.text());
  EXPECT_EQ(back.getString("S", "K", ""), "one");
  EXPECT_FALSE(back.has("Injected", "K"));

  const std::string before = ini.text();
  EXPECT_FALSE(ini.setInt("S", "a=b", 1));
  EXPECT_FALSE(ini.setInt("S", "[x", 1));
  EXPECT_FALSE(ini.setInt("S", " k", 1));
  EXPECT_FALSE(ini.setInt("S]", "k", 1));
  EXPECT_FALSE(ini.setInt("", "k", 1));
  EXPECT_FALSE(ini.setInt("S", "a\nb", 1));
  EXPECT_EQ(ini.text(), before);
}

TEST(IniFile, SaveReplacesTheFileAtomically) {
  TempDir dir;
  const std::string path = dir.file("NVK_Busprobe.ini");
  WriteFile(path, "[Keep]\nA=1\n");
  ::chmod(path.c_str(), 0600);
  // A temporary file left behind by a crash between write and rename, under our own name pattern.
  const std::string stale = dir.file(".NVK_Busprobe.ini.tmp" + std::to_string(::getpid()) + "-0");
  WriteFile(stale, "[Half");

  IniFile ini;
  ASSERT_EQ(ini.load(path), IniFile::LoadResult::kOk);
  ini.setInt("New", "B", 2);
  std::string error;
  ASSERT_TRUE(ini.save(path, &error)) << error;
  EXPECT_EQ(ReadFile(path), "[Keep]\nA=1\n\n[New]\nB=2\n");
  EXPECT_EQ(ReadFile(stale), "[Half");
  EXPECT_EQ(dir.entries(), 2u);  // no temporary file of this save remains
  struct stat st {};
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);

  // Saving through a link updates the file it points to and keeps the link.
  const std::string link = dir.file("link.ini");
  fs::create_symlink(path, link);
  ini.setInt("New", "B", 3);
  ASSERT_TRUE(ini.save(link, &error)) << error;
  EXPECT_TRUE(fs::is_symlink(link));
  EXPECT_EQ(IniFile::parse(ReadFile(path)).getInt("New", "B", 0), 3);
}

TEST(IniFile, FailedSaveReportsAndLeavesNoPartialFile) {
  TempDir dir;
  IniFile ini = IniFile::parse("[S]\nK=1\n");
  std::string error;

  EXPECT_FALSE(ini.save(dir.file("missing/NVK_Busprobe.ini"), &error));
  EXPECT_NE(
      error.find("Could not write configuration file \"" + dir.file("missing/NVK_Busprobe.ini") + "\": "),
      std::string::npos);

  // The rename fails when a directory has the file's name: the temporary file must go again.
  fs::create_directory(dir.file("occupied.ini"));
  error.clear();
  EXPECT_FALSE(ini.save(dir.file("occupied.ini"), &error));
  EXPECT_FALSE(error.empty());
  EXPECT_EQ(dir.entries(), 1u);
  EXPECT_EQ(ini.load(dir.file("occupied.ini"), &error), IniFile::LoadResult::kRefused);

  if (::geteuid() != 0) {  // the super-user may write anywhere
    const std::string ro = dir.file("ro");
    fs::create_directory(ro);
    WriteFile(ro + "/NVK_Busprobe.ini", "old");
    ::chmod(ro.c_str(), 0500);
    EXPECT_FALSE(ini.save(ro + "/NVK_Busprobe.ini", &error));
    EXPECT_EQ(ReadFile(ro + "/NVK_Busprobe.ini"), "old");
    EXPECT_EQ(std::distance(fs::directory_iterator(ro), {}), 1);
  }
}

TEST(IniFile, ReadOnlyFileIsNotReplacedAndSaysSo) {
  TempDir dir;
  const std::string path = dir.file("NVK_Busprobe.ini");
  WriteFile(path, "[S]\nK=1\n");
  ::chmod(path.c_str(), 0444);
  IniFile ini = IniFile::parse("[S]\nK=2\n");
  std::string error;
  EXPECT_FALSE(ini.save(path, &error));
  EXPECT_EQ(error, "Configuration file \"" + path + "\" is read-only: settings not saved.");
  EXPECT_EQ(ReadFile(path), "[S]\nK=1\n");
}

TEST(IniFile, FifoOrDeviceUnderTheNameIsRefusedAtOnce) {
  TempDir dir;
  ASSERT_EQ(::mkfifo(dir.file("fifo.ini").c_str(), 0600), 0);
  fs::create_symlink("/dev/zero", dir.file("zero.ini"));
  for (const char* name : {"fifo.ini", "zero.ini"}) {
    SCOPED_TRACE(name);
    const std::string path = dir.file(name);
    ASSERT_TRUE(test::ReturnsWithin(10, [&] { IniFile().load(path); }));
    IniFile ini;
    std::string error;
    EXPECT_EQ(ini.load(path, &error), IniFile::LoadResult::kRefused);
    EXPECT_EQ(error, "Could not read configuration file \"" + path + "\": not a regular file");
  }
}

}  // namespace
}  // namespace busprobe
