#include "traffic/traffic_settings.h"

#include <gtest/gtest.h>

#include "base/ini_file.h"
#include "traffic/traffic_keys.h"

namespace busprobe {
namespace {

TEST(TrafficSettingsKeys, EveryKeyIsReadAndWrittenUnderItsName) {
  test::ExpectTableCarries<CanDisplaySettings>(test::DisplayKeys(), ReadDisplaySettings,
                                               WriteDisplaySettings);
  test::ExpectTableCarries<TriggerSettings>(test::TriggerKeys(), ReadTriggerSettings, WriteTriggerSettings);
  test::ExpectTableCarries<LoggingSettings>(test::LoggingKeys(), ReadLoggingSettings, WriteLoggingSettings);
  test::ExpectTableCarries<CanMessageNames>(test::CanMessageKeys(), ReadCanMessageNames,
                                            WriteCanMessageNames);
  test::ExpectTableCarries<LogfilePlayerSettings>(test::PlayerKeys(), ReadPlayerSettings,
                                                  WritePlayerSettings);
  test::ExpectTableCarries<int>(test::SoundKeys(), ReadAudioOutputDevice, WriteAudioOutputDevice);
}

TEST(TrafficSettingsKeys, ReadingRulesCorrectStoredValues) {
  CanDisplaySettings d;
  ReadDisplaySettings(IniFile::parse("[CanDisplay]\nMaxWindowLines=5\n"), d);
  EXPECT_EQ(d.maxWindowLines, 20);
  ReadDisplaySettings(IniFile::parse("[CanDisplay]\nMaxWindowLines=20000\n"), d);
  EXPECT_EQ(d.maxWindowLines, 10000);

  LoggingSettings l;
  ReadLoggingSettings(IniFile::parse("[Logging]\nLogRxMsgs=0\nLogTxMsgs=0\nLogOthers=0\n"), l);
  EXPECT_EQ(l.logRxMsgs, 1);
  EXPECT_EQ(l.logTxMsgs, 1);
  EXPECT_EQ(l.logOthers, 0);
  ReadLoggingSettings(IniFile::parse("[Logging]\nLogRxMsgs=0\nLogTxMsgs=0\n"), l);
  EXPECT_EQ(l.logRxMsgs, 0);  // LogOthers still on: nothing to correct

  // Not stored, but set by every read: a value left from elsewhere does not survive a reload.
  TriggerSettings t;
  t.missingMessageTimeoutMs = 1;
  ReadTriggerSettings(IniFile(), t);
  EXPECT_EQ(t.missingMessageTimeoutMs, 2000);

  int device = 0;
  for (const char* stored : {"3", "-1", "x"}) {
    ReadAudioOutputDevice(IniFile::parse(std::string("[SoundInterface]\nAudioOutputDevice=") + stored + "\n"),
                          device);
    EXPECT_EQ(device, 2) << stored;
  }
  ReadAudioOutputDevice(IniFile::parse("[SoundInterface]\nAudioOutputDevice=0\n"), device);
  EXPECT_EQ(device, 0);
}

TEST(TrafficSettingsKeys, TextsAreCutToTheirKeysLengths) {
  const std::string font = std::string(79, 'f') + "\xC3\xA9";  // a two-byte character across the limit
  CanDisplaySettings d;
  ReadDisplaySettings(IniFile::parse("[CanDisplay]\nFontName=" + font + "\n"), d);
  EXPECT_EQ(d.fontName, std::string(79, 'f'));

  CanMessageNames names;
  ReadCanMessageNames(IniFile::parse("[CanMessages]\nName0=ABCDEFGHIJKLMNOPQRST\n"), names);
  EXPECT_EQ(names[0].name, "ABCDEFGHIJKLMNO");

  TriggerSettings t;
  ReadTriggerSettings(IniFile::parse("[Trigger]\nSpecialMessage3=" + std::string(90, '1') + "\n"), t);
  EXPECT_EQ(t.specialMessage[3], std::string(80, '1'));
}

}  // namespace
}  // namespace busprobe
