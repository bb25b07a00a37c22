#include "app/config_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

#include "base/directory_keys.h"
#include "base/key_list_check.h"
#include "can/can_keys.h"
#include "canopen/canopen_keys.h"
#include "interp/interp_keys.h"
#include "traffic/traffic_keys.h"

namespace busprobe {
namespace {

namespace fs = std::filesystem;
using test::Key;
using test::Keys;

// Every main section in one file, as the subsystems' own tests list them.
std::vector<Key> MainKeys() {
  return test::Joined({test::BusKeys(), test::DirectoryKeys(), test::DisplayKeys(), test::TriggerKeys(),
                       test::InterpreterKeys(), test::LoggingKeys(), test::CanMessageKeys(),
                       test::PlayerKeys(), test::SdoKeys(), Keys({{"LastSession", "$CurrFile"}}, 5000),
                       Keys({{"CANopen_LSS", "SlaveOptions MasterOptions WantedFirstNodeID WantedCANBaudrate ScanDelay_us"}},
                            5100),
                       Keys({{"CANopenODScanner", "ScanFrom ScanTo ExcludeFrom0..19 ExcludeTo0..19 Options"}}, 5200)});
}

std::vector<Key> WindowKeys() {
  std::vector<Key> k =
      Keys({{"MainWindow",
             "Left Top Width Height HSplitRx VSplitRx VSplitMsg $SearchString ScriptReadOnly "
             "DisplayBaseForInspector LanguageTestMode $Language"},
            {"LastSession", "$RecentFile0..4"}},
           6000);
  k.push_back({"MainWindow", "FirstRun", "0"});  // always stored as 0
  return k;
}

std::vector<Key> PlayerWindowKeys() {
  return Keys({{"CanPlayerWindow", "Left Top"}}, 6100);
}

std::vector<Key> BrowserKeys() {
  return Keys({{"DictViewWindow", "Left Top Width Height"},
               {"RemoteDictViewWindow", "Left Top Width Height"},
               {"RemoteObjectDictionaryViewer", "DontReadLargeObjects"}},
              6200);
}

// Sections and keys of tools this version does not have. The file keeps them for the version
// that does, so they must come out of a load and save exactly as they went in.
std::vector<Key> KeysOfOtherTools() {
  std::vector<Key> k = Keys(
      {
          {"CANopenODScanner", "ScanFrom ScanTo ExcludeFrom0..19 ExcludeTo0..19"},
          {"LastSession", "$WatchSettings"},
          {"WatchesAndPlotter", "$Name0..14 $Expr0..14 ScaleMin0..14 ScaleMax0..14"},
          {"SpectrumAnalyserByVantor",
           "SourceChannel FFT_Size Display_fmin_Hz Display_fmax_Hz Display_Amin_dB"},
          {"FirmwareUpdater", "Protocol $LoadedBinFile $SavedBinFile"},
      },
      7000);
  // Values in the forms those tools write; none of them may be rewritten in another form.
  k.push_back({"WatchesAndPlotter", "SamplingInterval_sec", "0.1"});
  k.push_back({"SpectrumAnalyserByVantor", "Display_Amax_dB", "1.0E1"});
  k.push_back({"LastSession", "RecentFile9", "  padded  "});
  return k;
}

TEST(ConfigFile, EveryKeyIsReadAndWrittenUnderItsName) {
  test::ExpectTableCarries<MainSettings>(MainKeys(), ReadMainSettings, WriteMainSettings);
  test::ExpectTableCarries<MainSettings>(test::SoundKeys(), ReadSoundSettings, WriteSoundSettings);
  test::ExpectTableCarries<MainWindowSettings>(
      WindowKeys(), [](const IniFile& ini, MainWindowSettings& w) { ReadMainWindowSettings(ini, w, 0); },
      WriteMainWindowSettings);
  test::ExpectTableCarries<PlayerWindowSettings>(PlayerWindowKeys(), ReadPlayerWindowSettings,
                                                 WritePlayerWindowSettings);
  test::ExpectTableCarries<DictionaryBrowserSettings>(BrowserKeys(), ReadDictionaryBrowserSettings,
                                                      WriteDictionaryBrowserSettings);
  test::ExpectTableCarries<CanInterfaceSettings>(test::InterfaceKeys(), ReadInterfaceSettings,
                                                 WriteInterfaceSettings);
}

class ConfigFileOnDisk : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string tmpl = (fs::temp_directory_path() / "config_test_XXXXXX").string();
    dir_ = ::mkdtemp(tmpl.data());
    path_ = BuildIniFileName(dir_, 0);
  }
  void TearDown() override { fs::remove_all(dir_); }

  // The records as the application holds them, read from the file and saved back in the
  // shutdown's order.
  struct Records {
    MainSettings main;
    MainWindowSettings window;
    PlayerWindowSettings player;
    CanInterfaceSettings intf;
  };
  Records loadAll() const {
    Records r;
    LoadInterfaceSettings(path_, r.intf);
    LoadSoundSettings(path_, r.main);
    LoadMainSettings(path_, r.main);
    LoadMainWindowSettings(path_, r.window, 0);
    LoadPlayerWindowSettings(path_, r.player);
    return r;
  }
  void saveAll(const Records& r) const {
    std::string error;
    ASSERT_TRUE(SaveMainWindowSettings(path_, r.window, &error)) << error;
    ASSERT_TRUE(SavePlayerWindowSettings(path_, r.player, &error)) << error;
    ASSERT_TRUE(SaveSoundSettings(path_, r.main, &error)) << error;
    ASSERT_TRUE(SaveMainSettings(path_, r.main, &error)) << error;
    ASSERT_TRUE(SaveInterfaceSettings(path_, r.intf, &error)) << error;
  }

  std::string dir_, path_;
};

template <class Record, class Write>
std::string TextOf(Write write, const Record& record) {
  IniFile ini;
  write(ini, record);
  return ini.text();
}

TEST_F(ConfigFileOnDisk, FullRoundTripKeepsForeignContent) {
  std::ofstream(path_) << "; hand-written note\n[FromLaterVersion]\nFancy=yes\n[CanSettings]\nObsolete=1\n";
  Records r;
  ReadMainSettings(test::FileOf(MainKeys()), r.main);
  r.main.audioOutputDevice = 1;
  ReadMainWindowSettings(test::FileOf(WindowKeys()), r.window, 0);
  ReadPlayerWindowSettings(test::FileOf(PlayerWindowKeys()), r.player);
  ReadInterfaceSettings(test::FileOf(test::InterfaceKeys()), r.intf);
  saveAll(r);

  const Records back = loadAll();
  EXPECT_EQ(TextOf(WriteMainSettings, back.main), TextOf(WriteMainSettings, r.main));
  EXPECT_EQ(TextOf(WriteMainWindowSettings, back.window), TextOf(WriteMainWindowSettings, r.window));
  EXPECT_EQ(TextOf(WritePlayerWindowSettings, back.player), TextOf(WritePlayerWindowSettings, r.player));
  EXPECT_EQ(back.intf, r.intf);
  EXPECT_EQ(back.main.audioOutputDevice, 1);

  IniFile file;
  ASSERT_EQ(file.load(path_), IniFile::LoadResult::kOk);
  EXPECT_EQ(
      file.text().rfind("; hand-written note\n[FromLaterVersion]\nFancy=yes\n[CanSettings]\nObsolete=1\n", 0),
      0u);
}

TEST_F(ConfigFileOnDisk, KeysOfToolsNotBuiltSurviveALoadAndSave) {
  const std::vector<Key> others = KeysOfOtherTools();
  // Among the application's own keys, some in the same sections (LastSession).
  ASSERT_TRUE(test::FileOf(test::Joined({others, WindowKeys()})).save(path_));

  Records r = loadAll();
  r.main.interp.txDelay = 12.5;  // a changed setting, so the save really writes
  r.window.recentFiles[0] = "changed.cmd";
  saveAll(r);

  IniFile file;
  ASSERT_EQ(file.load(path_), IniFile::LoadResult::kOk);
  const std::string text = "\n" + file.text();
  for (const Key& k : others) {
    EXPECT_EQ(file.getString(k.section, k.key, "<missing>"), k.value) << k.key;
    EXPECT_NE(
        text.find("\n" + k.key + "=" + (k.value.front() == ' ' ? "\"" + k.value + "\"" : k.value) + "\n"),
        std::string::npos)
        << "line of " << k.key;
  }
  EXPECT_EQ(file.getString("LastSession", "RecentFile0", ""), "changed.cmd");
}

TEST_F(ConfigFileOnDisk, FreshConfigurationGivesTheDefaults) {
  Records r;
  r.main.display.fontName = "changed";
  r.main.player.minTxDelayMs = 7;
  r.main.trigger.missingMessageTimeoutMs = 1;
  r.main.audioOutputDevice = 0;
  r.player.left = 3;
  r.intf.interfaceType = kIntfSocketCan;
  r.intf.cvudpFlags = 3;  // no stored value: the current one stays
  LoadInterfaceSettings(path_, r.intf);
  LoadSoundSettings(path_, r.main);
  LoadMainSettings(path_, r.main);
  LoadPlayerWindowSettings(path_, r.player);

  MainSettings expected;
  expected.currFile = "Programs/default.cmd";
  EXPECT_EQ(TextOf(WriteMainSettings, r.main), TextOf(WriteMainSettings, expected));
  EXPECT_EQ(r.main.trigger.missingMessageTimeoutMs, 2000);
  EXPECT_EQ(r.main.audioOutputDevice, 2);
  EXPECT_EQ(r.player.left, 3);  // the window's own value: nothing stored

  CanInterfaceSettings expectedIntf;
  expectedIntf.cvudpFlags = 3;
  EXPECT_EQ(r.intf, expectedIntf);
  EXPECT_EQ(r.intf.interfaceType, kIntfVirtual);
  EXPECT_FALSE(fs::exists(path_));  // loading never creates the file
}

TEST(ConfigFile, CompositionAppliesTheReadingRules) {
  MainSettings s;
  s.dirs.htmlBrowser = "built-in";
  ReadMainSettings(
      IniFile::parse("[CanDisplay]\nMaxWindowLines=5\n[Logging]\nLogRxMsgs=0\nLogTxMsgs=0\nLogOthers=0\n"
                     "[Interpreter]\nTxDelay=abc\n[Directories]\nHtmlBrowser=\x01nonsense\n"),
      s);
  EXPECT_EQ(s.display.maxWindowLines, 20);
  EXPECT_EQ(s.logging.logRxMsgs, 1);
  EXPECT_EQ(s.logging.logTxMsgs, 1);
  EXPECT_EQ(s.interp.txDelay, 100.0);
  EXPECT_EQ(s.dirs.htmlBrowser, "built-in");

  // The default command file follows the Programs folder read before it, cut to 80 bytes.
  const std::string programs(300, 'p');
  ReadMainSettings(IniFile::parse("[Directories]\nPrograms=" + programs + "\n"), s);
  EXPECT_EQ(s.dirs.programs, programs.substr(0, 255));
  EXPECT_EQ(s.currFile, programs.substr(0, 80) + "/default.cmd");
}

TEST(ConfigFile, WindowGeometryFollowsTheInstance) {
  MainWindowSettings w;
  w.left = 100;  // the window's design position
  ReadMainWindowSettings(IniFile::parse("[MainWindow]\nWidth=640\n"), w, 1);
  EXPECT_EQ(w.left, 116);
  EXPECT_EQ(w.top, -1);  // unknown: the window places itself
  EXPECT_EQ(w.width, 640);
  EXPECT_EQ(w.firstRun, 1);

  // A window that is not in its normal state passes -1 and the stored geometry stays.
  IniFile ini = IniFile::parse("[MainWindow]\nLeft=5\nTop=6\n[CanPlayerWindow]\nLeft=7\n");
  MainWindowSettings maximised;
  WriteMainWindowSettings(ini, maximised);
  EXPECT_EQ(ini.getInt("MainWindow", "Left", 0), 5);
  EXPECT_EQ(ini.getInt("MainWindow", "FirstRun", 1), 0);

  // The player window is not moved per instance; a position it never stored is not written.
  PlayerWindowSettings p;
  ReadPlayerWindowSettings(ini, p);
  EXPECT_EQ(p.left, 7);
  EXPECT_EQ(p.top, -1);
  p.left = -1;
  WritePlayerWindowSettings(ini, p);
  EXPECT_EQ(ini.getInt("CanPlayerWindow", "Left", 0), 7);
  EXPECT_FALSE(ini.has("CanPlayerWindow", "Top"));
}

TEST(ConfigFile, FileNameAndInstance) {
  EXPECT_EQ(BuildIniFileName("/opt/bp", 0), "/opt/bp/NVK_Busprobe.ini");
  EXPECT_EQ(BuildIniFileName("/opt/bp/", 1), "/opt/bp/NVK_Busprobe1.ini");
  const std::string deep = "/" + std::string(300, 'd');
  EXPECT_EQ(BuildIniFileName(deep, 0), deep + "/NVK_Busprobe.ini");
}

TEST_F(ConfigFileOnDisk, SavesThatCannotWriteReportAndChangeNothing) {
  MainSettings s;
  std::string error;
  EXPECT_FALSE(SaveMainSettings(dir_ + "/no/such/dir/NVK_Busprobe.ini", s, &error));
  EXPECT_NE(error.find("Could not write configuration file"), std::string::npos);

  // Something that cannot be read is not replaced by a file holding only our keys.
  fs::create_directory(path_);
  fs::create_directory(path_ + "/inside");
  error.clear();
  EXPECT_FALSE(SaveInterfaceSettings(path_, CanInterfaceSettings{}, &error));
  EXPECT_NE(error.find("Could not read configuration file"), std::string::npos);
  error.clear();
  EXPECT_FALSE(SavePlayerWindowSettings(path_, PlayerWindowSettings{1, 2}, &error));
  EXPECT_NE(error.find("Could not read configuration file"), std::string::npos);
  EXPECT_TRUE(fs::exists(path_ + "/inside"));
  CanInterfaceSettings c;
  c.interfaceType = kIntfSocketCan;
  LoadInterfaceSettings(path_, c);
  EXPECT_EQ(c.interfaceType, kIntfSocketCan);
}

}  // namespace
}  // namespace busprobe
