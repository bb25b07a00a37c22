#include "app/config_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <sstream>
#include <vector>

namespace busprobe {
namespace {

namespace fs = std::filesystem;

struct Key {
  std::string section, key, value;
};

// The key names as users find them in their files, written out independently of the loader's own
// list. "Name0..31" stands for 32 keys; a leading '$' marks a text key. Each key gets a distinct
// non-default value, so a key the loader spells differently reads as its default and shows up.
std::vector<Key> Keys(std::initializer_list<std::pair<const char*, const char*>> table) {
  std::vector<Key> keys;
  int n = 1000;
  for (const auto& [section, names] : table) {
    std::istringstream in(names);
    for (std::string name; in >> name;) {
      const bool text = name[0] == '$';
      if (text) name.erase(0, 1);
      int first = 0, last = -1;
      const size_t dots = name.find("..");
      if (dots != std::string::npos) {
        last = std::stoi(name.substr(dots + 2));
        name.erase(dots);
        const size_t digits = name.find_last_not_of("0123456789") + 1;
        first = std::stoi(name.substr(digits));
        name.erase(digits);
      }
      for (int i = first; i <= std::max(first, last); ++i) {
        const std::string key = last < 0 ? name : name + std::to_string(i);
        keys.push_back({section, key, (text ? "t" : "") + std::to_string(++n)});
      }
    }
  }
  return keys;
}

std::vector<Key> MainKeys() {
  std::vector<Key> k = Keys({
      {"CanSettings", "Baudrate FlexDataRate Baudrate2 FlexDataRate2"},
      {"SdoSettings",
       "ClientNodeID ServerNodeID ServerNodeID2..8 ServerEnable ClientEnable ServerTimeout "
       "ClientTimeout"},
      {"CANopen_LSS", "SlaveOptions MasterOptions WantedFirstNodeID WantedCANBaudrate ScanDelay_us"},
      {"Directories",
       "$Programs $Objects $HelpFile $LogFileDir $HtmlBrowser $MyObjectDictionary "
       "$HisObjectDictionary"},
      {"CanDisplay",
       "TimeStampDisplay TimeStampFormat TimeRelMax DisplayOptions HighLevelProtocol MaxWindowLines "
       "$FontName FontSize FontStyle RxBackgndColor TxBackgndColor CmdBackgndColor ShowBusNr ShowDLC "
       "MarkFDFrames ShowComments Mark29BitIDs CanIdDisplay ShowIDAsText0..3 RxListType TxListType "
       "RxTxCombined"},
      {"Trigger",
       "EnableModule StartEvents StartActions StopEvents StopActions $SpecialMessage0..3 $MissingMessage"},
      {"Interpreter", "SoundEnabled SaveVarValues"},
      {"Logging", "LogRxMsgs LogTxMsgs LogOthers MarkRxTx $PlayedFile $RecordFile"},
      {"CanMessages", "$Name0..31 CanID0..31"},
      {"LogfilePlayer", "MinTxDelay_ms ExcludeTxId0..7"},
      {"CANopenODScanner", "ScanFrom ScanTo ExcludeFrom0..19 ExcludeTo0..19"},
      {"RemoteObjectDictionaryViewer", "DontReadLargeObjects"},
      {"LastSession", "$CurrFile $WatchSettings"},
      {"WatchesAndPlotter", "SamplingInterval_sec $Name0..14 $Expr0..14 ScaleMin0..14 ScaleMax0..14"},
      {"SpectrumAnalyserByVantor",
       "SourceChannel FFT_Size Display_fmin_Hz Display_fmax_Hz Display_Amin_dB "
       "Display_Amax_dB"},
  });
  k.push_back({"Interpreter", "TxDelay", "250.5"});  // one decimal is all its layout keeps
  return k;
}

std::vector<Key> WindowKeys() {
  std::vector<Key> k = Keys({
      {"MainWindow",
       "Left Top Width Height HSplitRx VSplitRx VSplitMsg $SearchString ScriptReadOnly "
       "DisplayBaseForInspector LanguageTestMode $Language"},
      {"LastSession", "$RecentFile0..4"},
      {"FirmwareUpdater", "Protocol $LoadedBinFile $SavedBinFile"},
  });
  k.push_back({"MainWindow", "FirstRun", "0"});  // always stored as 0
  return k;
}

std::vector<Key> InterfaceKeys() {
  return Keys({{"CanInterface",
                "DebugFlags CanInterfaceType CanDongleBaseAddr NTCanNetNumber NTCanStartPCC "
                "NTCanStopPCC PCAN_IOaddress PCAN_Interrupt $PCAN_NetName VectorAccessMask "
                "$VectorChannelName CvUDP_flags $CvUDP_RemoteIP $CvUDP_LocalIP "
                "CvUDP_remote_server_port CvUDP_local_server_port $SocketCanIf1 $SocketCanIf2"}});
}

IniFile FileOf(const std::vector<Key>& keys) {
  IniFile ini;
  for (const Key& k : keys) ini.setString(k.section, k.key, k.value);
  return ini;
}

size_t KeyLines(const std::string& text) {
  size_t count = 0;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) count += line.find('=') != std::string::npos;
  return count;
}

// Every listed key is read into its field and written back under the same name, spelt exactly as
// listed, and nothing else is written.
void ExpectAllKeysCarried(const std::vector<Key>& keys, const IniFile& written) {
  const std::string text = "\n" + written.text();
  for (const Key& k : keys) {
    EXPECT_EQ(written.getString(k.section, k.key, "<missing>"), k.value) << k.key;
    EXPECT_NE(text.find("\n" + k.key + "="), std::string::npos) << "spelling of " << k.key;
  }
  EXPECT_EQ(KeyLines(written.text()), keys.size());
}

TEST(ConfigFile, EveryKeyIsReadAndWrittenUnderItsName) {
  MainSettings s;
  ReadMainSettings(FileOf(MainKeys()), s);
  IniFile out;
  WriteMainSettings(out, s);
  ExpectAllKeysCarried(MainKeys(), out);

  MainWindowSettings w;
  ReadMainWindowSettings(FileOf(WindowKeys()), w, 0);
  IniFile outWindow;
  WriteMainWindowSettings(outWindow, w);
  ExpectAllKeysCarried(WindowKeys(), outWindow);

  CanInterfaceSettings c;
  ReadInterfaceSettings(FileOf(InterfaceKeys()), c);
  IniFile outIntf;
  WriteInterfaceSettings(outIntf, c);
  ExpectAllKeysCarried(InterfaceKeys(), outIntf);
}

class ConfigFileOnDisk : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string tmpl = (fs::temp_directory_path() / "config_test_XXXXXX").string();
    dir_ = ::mkdtemp(tmpl.data());
    path_ = BuildIniFileName(dir_, 0);
  }
  void TearDown() override { fs::remove_all(dir_); }
  std::string dir_, path_;
};

TEST_F(ConfigFileOnDisk, FullRoundTripKeepsForeignContent) {
  std::ofstream(path_) << "; hand-written note\n[FromLaterVersion]\nFancy=yes\n[CanSettings]\nObsolete=1\n";
  MainSettings s;
  ReadMainSettings(FileOf(MainKeys()), s);
  s.watches.samplingIntervalSec = 0.1;
  s.watches.scaleMin[3] = 1.0 / 3.0;
  s.audioOutputDevice = 1;
  MainWindowSettings w;
  ReadMainWindowSettings(FileOf(WindowKeys()), w, 0);
  CanInterfaceSettings c;
  ReadInterfaceSettings(FileOf(InterfaceKeys()), c);

  std::string error;
  ASSERT_TRUE(SaveMainWindowSettings(path_, w, &error)) << error;
  ASSERT_TRUE(SaveSoundSettings(path_, s, &error)) << error;
  ASSERT_TRUE(SaveMainSettings(path_, s, &error)) << error;
  ASSERT_TRUE(SaveInterfaceSettings(path_, c, &error)) << error;

  MainSettings s2;
  LoadSoundSettings(path_, s2);
  LoadMainSettings(path_, s2);
  MainWindowSettings w2;
  LoadMainWindowSettings(path_, w2, 0);
  CanInterfaceSettings c2;
  LoadInterfaceSettings(path_, c2);

  auto textOf = [](auto write, const auto& record) {
    IniFile ini;
    write(ini, record);
    return ini.text();
  };
  EXPECT_EQ(textOf(WriteMainSettings, s2), textOf(WriteMainSettings, s));
  EXPECT_EQ(textOf(WriteMainWindowSettings, w2), textOf(WriteMainWindowSettings, w));
  EXPECT_EQ(textOf(WriteInterfaceSettings, c2), textOf(WriteInterfaceSettings, c));
  EXPECT_EQ(s2.watches.samplingIntervalSec, 0.1);
  EXPECT_EQ(s2.watches.scaleMin[3], 1.0 / 3.0);
  EXPECT_EQ(s2.audioOutputDevice, 1);

  IniFile file;
  ASSERT_EQ(file.load(path_), IniFile::LoadResult::kOk);
  EXPECT_EQ(
      file.text().rfind("; hand-written note\n[FromLaterVersion]\nFancy=yes\n[CanSettings]\nObsolete=1\n", 0),
      0u);
}

TEST_F(ConfigFileOnDisk, FreshConfigurationGivesTheDefaults) {
  MainSettings s;
  s.display.fontName = "changed";
  s.odScanner.scanFrom = 7;
  s.trigger.missingMessageTimeoutMs = 1;
  LoadMainSettings(path_, s);
  MainSettings expected;
  expected.currFile = "Programs/default.cmd";
  IniFile a, b;
  WriteMainSettings(a, s);
  WriteMainSettings(b, expected);
  EXPECT_EQ(a.text(), b.text());
  EXPECT_EQ(s.trigger.missingMessageTimeoutMs, 2000);

  CanInterfaceSettings c;
  c.cvudpFlags = 3;  // no stored value: the current one stays
  LoadInterfaceSettings(path_, c);
  EXPECT_EQ(c.interfaceType, kIntfVirtual);
  EXPECT_EQ(c.cvudpFlags, 3);
  EXPECT_EQ(c.vectorChannelName, "Virtual Channel 1");
  EXPECT_EQ(c.cvudpLocalPort, 55556);
  EXPECT_EQ(c.socketCanIf2, "can1");

  MainSettings sound;
  sound.audioOutputDevice = 0;
  LoadSoundSettings(path_, sound);
  EXPECT_EQ(sound.audioOutputDevice, 2);
  EXPECT_FALSE(fs::exists(path_));  // loading never creates the file
}

TEST(ConfigFile, ReadingRulesCorrectStoredValues) {
  MainSettings s;
  s.dirs.htmlBrowser = "built-in";
  ReadMainSettings(
      IniFile::parse("[CanDisplay]\nMaxWindowLines=5\n[Logging]\nLogRxMsgs=0\nLogTxMsgs=0\nLogOthers=0\n"
                     "[Interpreter]\nTxDelay=abc\n[Directories]\nHtmlBrowser=\x01nonsense\n"),
      s);
  EXPECT_EQ(s.display.maxWindowLines, 20);
  EXPECT_EQ(s.logging.logRxMsgs, 1);
  EXPECT_EQ(s.logging.logTxMsgs, 1);
  EXPECT_EQ(s.logging.logOthers, 0);
  EXPECT_EQ(s.interp.txDelay, 100.0);
  EXPECT_EQ(s.dirs.htmlBrowser, "built-in");
  IniFile out;
  WriteMainSettings(out, s);
  EXPECT_NE(out.text().find("\nTxDelay=   100.0\n"), std::string::npos);

  ReadMainSettings(IniFile::parse("[CanDisplay]\nMaxWindowLines=20000\n[Logging]\nLogRxMsgs=0\nLogTxMsgs=0\n"
                                  "[Directories]\nHtmlBrowser=firefox %s\n"),
                   s);
  EXPECT_EQ(s.display.maxWindowLines, 10000);
  EXPECT_EQ(s.logging.logRxMsgs, 0);  // LogOthers still on: nothing to correct
  EXPECT_EQ(s.dirs.htmlBrowser, "firefox %s");
}

TEST(ConfigFile, StringsAreCutToTheirLengths) {
  const std::string programs(300, 'p');
  const std::string font = std::string(79, 'f') + "\xC3\xA9";  // a two-byte character across the limit
  MainSettings s;
  ReadMainSettings(IniFile::parse("[Directories]\nPrograms=" + programs + "\n[CanDisplay]\nFontName=" + font +
                                  "\n[CanMessages]\nName0=ABCDEFGHIJKLMNOPQRST\n"),
                   s);
  EXPECT_EQ(s.dirs.programs, programs.substr(0, 255));
  EXPECT_EQ(s.currFile, programs.substr(0, 80) + "/default.cmd");
  EXPECT_EQ(s.display.fontName, std::string(79, 'f'));
  EXPECT_EQ(s.canMessages[0].name, "ABCDEFGHIJKLMNO");

  CanInterfaceSettings c;
  ReadInterfaceSettings(IniFile::parse("[CanInterface]\nCvUDP_RemoteIP=" + std::string(50, '1') +
                                       "\nCvUDP_remote_server_port=70000\nCvUDP_local_server_port=-1\n"
                                       "PCAN_Interrupt=65536\n"),
                        c);
  EXPECT_EQ(c.cvudpRemoteIp, std::string(39, '1'));
  EXPECT_EQ(c.cvudpRemotePort, 55556);
  EXPECT_EQ(c.cvudpLocalPort, 55556);
  EXPECT_EQ(c.pcanInterrupt, 7);
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
  IniFile ini = IniFile::parse("[MainWindow]\nLeft=5\nTop=6\n");
  MainWindowSettings maximised;
  WriteMainWindowSettings(ini, maximised);
  EXPECT_EQ(ini.getInt("MainWindow", "Left", 0), 5);
  EXPECT_EQ(ini.getInt("MainWindow", "FirstRun", 1), 0);
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
  EXPECT_TRUE(fs::exists(path_ + "/inside"));
  CanInterfaceSettings c;
  c.interfaceType = kIntfSocketCan;
  LoadInterfaceSettings(path_, c);
  EXPECT_EQ(c.interfaceType, kIntfSocketCan);
}

}  // namespace
}  // namespace busprobe
