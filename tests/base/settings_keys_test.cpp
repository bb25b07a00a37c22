#include "base/settings_keys.h"

#include <gtest/gtest.h>

#include "base/directory_keys.h"
#include "base/directory_settings.h"
#include "base/ini_file.h"

namespace busprobe {
namespace {

TEST(SettingsKeys, NumbersOutsideTheirFieldReadAsTheDefault) {
  const IniFile ini = IniFile::parse("[S]\nA=65536\nB=-1\nC=65535\nD=12abc\nF=abc\nG=2.5e1\n");
  SettingsReader r(ini);
  uint16_t a = 1, b = 1, c = 1;
  r.u16("S", "A", a, 7);
  r.u16("S", "B", b, 7);
  r.u16("S", "C", c, 7);
  EXPECT_EQ(a, 7);
  EXPECT_EQ(b, 7);
  EXPECT_EQ(c, 65535);
  int d = 0, missing = 0;
  r.integer("S", "D", d, 3);
  r.integer("S", "Missing", missing, 3);
  EXPECT_EQ(d, 12);
  EXPECT_EQ(missing, 3);
  double f = 0, g = 0;
  r.fixed1("S", "F", f, 100.0);
  r.real("S", "G", g, 0.0);
  EXPECT_EQ(f, 100.0);
  EXPECT_EQ(g, 25.0);
}

TEST(SettingsKeys, TextsAreCutWithoutSplittingACharacter) {
  EXPECT_EQ(CutSettingText(std::string(5, 'a') + "\xC3\xA9", 6), std::string(5, 'a'));
  EXPECT_EQ(CutSettingText("ab\xE2\x82\xAC", 4), "ab");  // a three-byte character, one byte short
  EXPECT_EQ(CutSettingText("ab\xE2\x82\xAC", 5), "ab\xE2\x82\xAC");
  EXPECT_EQ(CutSettingText("abcdef", 3), "abc");

  // Both directions cut: a long value set in memory does not reach the file whole.
  IniFile ini;
  SettingsWriter(ini).text("S", "T", "abcdef", 3, "");
  EXPECT_EQ(ini.getString("S", "T", ""), "abc");
  std::string read;
  const IniFile stored = IniFile::parse("[S]\nT=abcdef\n");
  SettingsReader(stored).text("S", "T", read, 4, "");
  EXPECT_EQ(read, "abcd");
}

TEST(SettingsKeys, DoublesRoundTripAndTheFixedLayoutKeepsOneDecimal) {
  IniFile ini;
  SettingsWriter w(ini);
  w.real("S", "Third", 1.0 / 3.0, 0.0);
  w.real("S", "Tenth", 0.1, 0.0);
  w.fixed1("S", "Delay", 100.0, 0.0);
  EXPECT_NE(ini.text().find("\nTenth=0.1\n"), std::string::npos);
  EXPECT_NE(ini.text().find("\nDelay=   100.0\n"), std::string::npos);
  double third = 0;
  SettingsReader(ini).real("S", "Third", third, 0.0);
  EXPECT_EQ(third, 1.0 / 3.0);
}

TEST(SettingsKeys, GeometryKeepsWhatTheWindowKnows) {
  const IniFile stored = IniFile::parse("[W]\nLeft=5\n");
  SettingsReader r(stored);
  int left = 100, top = 100, width = -1;
  r.geometry("W", "Left", left, 16);
  r.geometry("W", "Top", top, 16);
  r.geometry("W", "Width", width, 16);
  EXPECT_EQ(left, 5);    // stored: taken as it is
  EXPECT_EQ(top, 116);   // missing: the window's own value, moved
  EXPECT_EQ(width, -1);  // not known stays not known

  IniFile ini = IniFile::parse("[W]\nLeft=5\n");
  SettingsWriter(ini).geometry("W", "Left", -1, 0);
  SettingsWriter(ini).geometry("W", "Top", 7, 0);
  EXPECT_EQ(ini.getInt("W", "Left", 0), 5);
  EXPECT_EQ(ini.getInt("W", "Top", 0), 7);
}

TEST(DirectorySettings, KeysDefaultsAndTheBrowserRule) {
  test::ExpectTableCarries<DirectorySettings>(test::DirectoryKeys(), ReadDirectorySettings,
                                              WriteDirectorySettings);

  DirectorySettings d;
  d.htmlBrowser = "built-in";
  d.objects = "changed";
  ReadDirectorySettings(
      IniFile::parse("[Directories]\nHtmlBrowser=\x01nonsense\nPrograms=" + std::string(300, 'p') + "\n"), d);
  EXPECT_EQ(d.htmlBrowser, "built-in");
  EXPECT_EQ(d.objects, "Objects");
  EXPECT_EQ(d.programs, std::string(255, 'p'));
  ReadDirectorySettings(IniFile::parse("[Directories]\nHtmlBrowser= firefox\n"), d);
  EXPECT_EQ(d.htmlBrowser, "firefox");  // the blank is not part of the stored value
  d.htmlBrowser = "kept";
  ReadDirectorySettings(IniFile::parse("[Directories]\nHtmlBrowser=\" firefox\"\n"), d);
  EXPECT_EQ(d.htmlBrowser, "kept");  // a quoted leading blank is no command
  ReadDirectorySettings(IniFile::parse("[Directories]\nHtmlBrowser=firefox %s\n"), d);
  EXPECT_EQ(d.htmlBrowser, "firefox %s");
}

}  // namespace
}  // namespace busprobe
