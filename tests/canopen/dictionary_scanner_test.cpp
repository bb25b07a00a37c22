#include "canopen/dictionary_scanner.h"

#include <gtest/gtest.h>

#include <memory>
#include <set>

#include "base/canopen_types.h"
#include "base/ini_file.h"
#include "base/key_list_check.h"
#include "canopen/dictionary_browser.h"
#include "canopen/sdo_test_bus.h"

namespace busprobe {
namespace {

using test::BusPort;
using test::TestBus;

TEST(DictionaryScanSettingsKeys, EveryKeyIsReadAndWrittenUnderItsNameAndAnEmptyFileGivesTheDefaults) {
  test::ExpectTableCarries<DictionaryScanSettings>(
      test::Keys({{"CANopenODScanner", "ScanFrom ScanTo ExcludeFrom0..19 ExcludeTo0..19 Options"}}, 6000),
      ReadDictionaryScanSettings, WriteDictionaryScanSettings);
  DictionaryScanSettings s;
  s.scanFrom = 5;
  s.excluded[19] = {0x2000, 0x2FFF};
  ReadDictionaryScanSettings(IniFile(), s);
  EXPECT_EQ(s.scanFrom, 0x1000);
  EXPECT_EQ(s.scanTo, 0x6FFF);
  EXPECT_TRUE(s.excluded[19].empty());
  EXPECT_FALSE(s.stopOnError());
  // No index lies outside 0..0xFFFF.
  ReadDictionaryScanSettings(IniFile::parse("[CANopenODScanner]\nScanFrom=-4\nScanTo=70000\n"), s);
  EXPECT_EQ(s.scanFrom, 0x1000);
  EXPECT_EQ(s.scanTo, 0x6FFF);
}

TEST(DictionaryScanExcludedText, EntriesFillTheirSlotsAndShowAgainNormalised) {
  const DictionaryScanExclusions x = ParseExcludedRanges(" 0x1200-0x12ff,1400 ,zz, a000 - 0xAFFF,0X2000-");
  EXPECT_EQ(x[0], (DictionaryScanRange{0x1200, 0x12FF}));
  EXPECT_EQ(x[1], (DictionaryScanRange{0x1400, 0x1400}));
  // Garbage empties its own slot only; lowercase starts an entry like uppercase does.
  EXPECT_TRUE(x[2].empty());
  EXPECT_EQ(x[3], (DictionaryScanRange{0xA000, 0xAFFF}));
  EXPECT_EQ(x[4], (DictionaryScanRange{0x2000, 0x2000}));
  EXPECT_TRUE(x[5].empty());
  const std::string shown = ExcludedRangesText(x);
  EXPECT_EQ(shown, "0x1200-0x12FF, 0x1400, 0xA000-0xAFFF, 0x2000");
  // What the window shows reads back as the same ranges, in the order shown.
  EXPECT_EQ(ExcludedRangesText(ParseExcludedRanges(shown)), shown);
  EXPECT_EQ(ExcludedRangesText(ParseExcludedRanges("")), "");
  EXPECT_EQ(ParseExcludedRanges("123456")[0], (DictionaryScanRange{0xFFFF, 0xFFFF}));
}

TEST(DictionaryScanExcludedText, MoreThanTwentyEntriesKeepTheFirstTwenty) {
  std::string text;
  for (int i = 0; i < 25; ++i) text += (i ? "," : "") + std::to_string(1000 + i);
  const DictionaryScanExclusions x = ParseExcludedRanges(text);
  EXPECT_EQ(x[0].first, 0x1000);
  EXPECT_EQ(x[19].first, 0x1019);
  const std::string shown = ExcludedRangesText(x);
  EXPECT_NE(shown.find("0x1019"), std::string::npos);
  EXPECT_EQ(shown.find("0x1020"), std::string::npos);
}

TEST(DictionaryScanIndexFields, HexadecimalWithOrWithoutPrefix) {
  EXPECT_EQ(ParseScanIndex("0x1a00", 7), 0x1A00);
  EXPECT_EQ(ParseScanIndex(" 6fff", 7), 0x6FFF);
  EXPECT_EQ(ParseScanIndex("", 7), 7);
  EXPECT_EQ(ParseScanIndex("x", 7), 7);
}

TEST(DictionaryScanNextIndex, RangeAndExclusionsDecide) {
  DictionaryScanSettings s;
  s.scanFrom = 0x1000;
  s.scanTo = 0x1FFF;
  s.excluded[3] = {0x1300, 0x13FF};
  s.excluded[7] = {0x1200, 0x12FF};
  EXPECT_EQ(DictionaryScanner::NextIndex(-1, s), 0x1000);
  EXPECT_EQ(DictionaryScanner::NextIndex(0x1100, s), 0x1101);
  // Pushed past one range into another listed before it: applied again until none holds.
  EXPECT_EQ(DictionaryScanner::NextIndex(0x11FF, s), 0x1400);
  s.excluded[3] = {};
  EXPECT_EQ(DictionaryScanner::NextIndex(0x11FF, s), 0x1300);
  // Empty slots are 0 and 0: a scan of everything still starts at index 0.
  s.scanFrom = 0;
  EXPECT_EQ(DictionaryScanner::NextIndex(-1, s), 0);
  s.excluded[0] = {0x1500, 0x1400};  // last below first: the first index alone
  EXPECT_EQ(DictionaryScanner::NextIndex(0x14FF, s), 0x1501);
  s.excluded[1] = {0xF000, 0xFFFF};
  EXPECT_GT(DictionaryScanner::NextIndex(0xEFFF, s), 0xFFFF);
}

// A scan of node 5 through the remote browser's pass.
class DictionaryScan : public ::testing::Test {
 protected:
  DictionaryScan() {
    FakeObjects();
    tool.engine->SdoApplySettings();
    remote.engine->SdoApplySettings();
    tool.settings.clientTimeoutMs = 300;
    browser = std::make_unique<DictionaryBrowser>(od, info, device, tool.settings, &port);
    browser->setNodeId(5);
    settings.nodeId = 5;
  }
  void FakeObjects() {
    test::FakeDictionary& d = remote.dictionary;
    d.add(0x1000, 0, 7, 0x00020191, test::kRead);
    d.add(0x1001, 0, 5, 0x00, test::kRead);
    d.add(0x1017, 0, 6, 1000);
    d.addBlock(0x1008, 0, std::vector<uint8_t>{'D', 'r', 'i', 'v', 'e', ' ', 'X'}, test::kRead);
    d.add(0x1018, 0, 5, 4, test::kRead);
    d.add(0x1018, 1, 7, 0x123, test::kRead);
    d.add(0x1018, 2, 7, 0x456, test::kRead);
    d.add(0x1018, 4, 7, 0x789, test::kRead);  // behind the gap at 3: never read
    d.add(0x1010, 0, 7, 0, test::kWrite);     // refuses reading: an access error
    d.add(0x1250, 0, 7, 0x50);                // excluded
    d.add(0x1300, 0, 7, 0x1300);
    d.add(0x2000, 0, 0, 0x11);  // no standard type; answered with one byte
    d.objects[{0x2000, 0}].type = 5;
  }
  // Runs the pass to its end; the number of run steps.
  int runScan() {
    browser->startScan(scanner);
    int steps = 0;
    while (browser->phase() != BrowserPassPhase::kIdle && steps < 5000) {
      browser->passTick();
      ++steps;
    }
    return steps;
  }
  std::set<uint16_t> requestedIndexes() const {
    std::set<uint16_t> out;
    for (const test::SentFrame& s : bus.sent)
      if (s.frame.identifier() == 0x605)
        out.insert(static_cast<uint16_t>(s.frame.data[1] | s.frame.data[2] << 8));
    return out;
  }

  ManualClock clock{1000};
  TestBus bus{clock};
  TestBus::Node& tool = bus.add(5, 1);
  TestBus::Node& remote = bus.add(1, 5);
  BusPort port{bus, tool, clock};
  std::unique_ptr<OdBlockPool> pool = std::make_unique<OdBlockPool>();
  ObjectDictionary od{*pool};
  EdsFileInfo info;
  EdsDeviceInfo device;
  std::unique_ptr<DictionaryBrowser> browser;
  DictionaryScanSettings settings;
  DictionaryScanner scanner;
};

TEST_F(DictionaryScan, ReadsEveryObjectUpToItsFirstMissingSubindexAndSkipsTheExcludedRange) {
  settings.scanFrom = 0x1000;
  settings.scanTo = 0x1FFF;
  settings.excluded[0] = {0x1200, 0x12FF};
  scanner.start(settings);
  runScan();

  const std::set<uint16_t> asked = requestedIndexes();
  EXPECT_TRUE(asked.count(0x11FF));
  EXPECT_TRUE(asked.count(0x1300));
  EXPECT_FALSE(asked.count(0x1200));
  EXPECT_FALSE(asked.count(0x1250));
  EXPECT_FALSE(asked.count(0x12FF));
  EXPECT_FALSE(asked.count(0x2000));

  EXPECT_EQ(od.count(), 8);
  EXPECT_EQ(od.find(0x1018, 2)->currentValue.data32(), 0x456u);
  EXPECT_EQ(od.find(0x1018, 4), nullptr);
  EXPECT_EQ(od.find(0x1250, 0), nullptr);
  const OdEntry* type = od.find(0x1000, 0);
  ASSERT_NE(type, nullptr);
  EXPECT_EQ(type->currentValid, 1);
  EXPECT_EQ(type->currentValue.data32(), 0x00020191u);
  EXPECT_EQ(type->access, 0x03);
  EXPECT_EQ(type->objectType, 7);
  const OdEntry* vendor = od.find(0x1018, 1);
  ASSERT_NE(vendor, nullptr);
  EXPECT_EQ(vendor->defaultValue.dataType, kCoTypeUnsigned32);
  EXPECT_NE(vendor->nameView(), "");
  // Subindex 0 is named after the object itself.
  EXPECT_EQ(std::string(od.find(0x1300, 0)->nameView()), "Obj1300");
  const OdEntry* name = od.find(0x1008, 0);
  ASSERT_NE(name, nullptr);
  EXPECT_EQ(name->defaultValue.dataType, kCoTypeVisibleString);
  EXPECT_EQ(name->display, 'M');
  EXPECT_EQ(name->currentValue.blockLength, 7);

  // Objects or subindexes that are not there are no errors; the refused read is one.
  EXPECT_EQ(scanner.accessErrors(), 1);
  EXPECT_EQ(scanner.objectsRead(), 8);
  EXPECT_EQ(scanner.lastErrorText(),
            "Obj 0x1010.00: abort code=0x06010001=" + std::string(SdoAbortText(0x06010001)));
  EXPECT_EQ(browser->statusText(), "Finished reading OD,  8 objects accessed,  1 access error(s) .");
  EXPECT_EQ(browser->gridPosText(), "8 entries in OD");
  EXPECT_EQ(browser->rowCount(), 9);
  EXPECT_TRUE(browser->scanFinished());
  EXPECT_EQ(browser->scansFinished(), 1);
}

TEST_F(DictionaryScan, ScanOfEverythingGoesOnPastIndexZeroAndTypesUnknownObjectsBySize) {
  remote.dictionary.add(0x0001, 0, 7, 0x11);
  settings.scanFrom = 0;
  settings.scanTo = 2;
  scanner.start(settings);
  runScan();
  const std::set<uint16_t> asked = requestedIndexes();
  EXPECT_EQ(asked, (std::set<uint16_t>{0, 1, 2}));
  EXPECT_EQ(scanner.accessErrors(), 0);
  ASSERT_NE(od.find(0x0001, 0), nullptr);

  settings.scanFrom = 0x2000;
  settings.scanTo = 0x2000;
  scanner.start(settings);
  runScan();
  const OdEntry* unknown = od.find(0x2000, 0);
  ASSERT_NE(unknown, nullptr);
  EXPECT_EQ(unknown->defaultValue.dataType, kCoTypeUnsigned8);
  EXPECT_EQ(unknown->display, 'D');
  EXPECT_EQ(unknown->currentValue.data32() & 0xFF, 0x11u);
}

TEST_F(DictionaryScan, ProgressShowsTheObjectBeingReadAndStopEndsTheScan) {
  settings.scanFrom = 0x1000;
  settings.scanTo = 0x1FFF;
  scanner.start(settings);
  browser->startScan(scanner);
  EXPECT_TRUE(browser->scanning());
  for (int i = 0; i < 4; ++i) browser->passTick();
  // The start step, then 0x1000.00, 0x1000.01 (absent), 0x1001.00.
  EXPECT_EQ(scanner.progressText(), "Reading  0x1001.00");
  EXPECT_EQ(browser->statusText(), "READING OD VIA CANOPEN-SDO, PLEASE WAIT !");
  // Neither a read nor a write pass takes over a running scan.
  browser->startRead();
  browser->startWrite();
  EXPECT_EQ(browser->mode(), BrowserPassMode::kDictionaryScan);
  browser->passTick();
  EXPECT_EQ(scanner.progressText(), "Reading  0x1001.01");
  browser->stopScan();
  browser->passTick();
  EXPECT_EQ(browser->phase(), BrowserPassPhase::kIdle);
  EXPECT_EQ(browser->scansFinished(), 1);
  EXPECT_FALSE(browser->scanning());
  EXPECT_EQ(browser->statusText(), "Finished reading OD,  2 objects accessed,  0 access error(s) .");
  EXPECT_EQ(od.count(), 2);
}

TEST_F(DictionaryScan, StopOnErrorEndsTheScanAtTheFirstCountedError) {
  settings.scanFrom = 0x1000;
  settings.scanTo = 0x1FFF;
  settings.options = DictionaryScanSettings::kStopOnError;
  scanner.start(settings);
  runScan();
  EXPECT_EQ(scanner.accessErrors(), 1);
  EXPECT_EQ(scanner.currentIndex(), 0x1010);
  EXPECT_FALSE(requestedIndexes().count(0x1011));
  EXPECT_NE(scanner.lastErrorText(), "");
}

TEST_F(DictionaryScan, TimeoutsAreCountedWithTheirText) {
  port.deliver = false;
  settings.scanFrom = 0x1000;
  settings.scanTo = 0x1001;
  scanner.start(settings);
  runScan();
  EXPECT_EQ(scanner.accessErrors(), 2);
  EXPECT_EQ(scanner.objectsRead(), 0);
  EXPECT_EQ(scanner.lastErrorText().rfind("Obj 0x1001.00: abort code=0x", 0), 0u) << scanner.lastErrorText();
  EXPECT_EQ(od.count(), 0);
}

TEST_F(DictionaryScan, ReadOnlyRefusalAfterAScanTakesTheWriteAccessAway) {
  settings.scanFrom = 0x1000;
  settings.scanTo = 0x1000;
  scanner.start(settings);
  // Before any scan finished, a refused write leaves the access as it is.
  OdEntry e = NewOdEntry(0x1000, 0);
  e.access = 0x03;
  e.defaultValue.dataType = kCoTypeUnsigned32;
  od.insert(e);
  EXPECT_FALSE(browser->WriteRemoteObject(od.findPosition(0x1000, 0)));
  EXPECT_EQ(od.find(0x1000, 0)->access, 0x03);

  runScan();
  ASSERT_TRUE(browser->scanFinished());
  EXPECT_FALSE(browser->WriteRemoteObject(od.findPosition(0x1000, 0)));
  EXPECT_EQ(od.find(0x1000, 0)->lastAbortCode, kSdoAbortReadOnly);
  EXPECT_EQ(od.find(0x1000, 0)->access, 0x01);
  // So "Send !" passes it by.
  browser->startWrite();
  while (browser->phase() != BrowserPassPhase::kIdle) browser->passTick();
  EXPECT_EQ(browser->passAccessed(), 0);

  // A browser shown anew has seen no scan.
  browser->browserShown();
  EXPECT_FALSE(browser->scanFinished());
}

}  // namespace
}  // namespace busprobe
