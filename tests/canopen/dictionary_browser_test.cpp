#include "canopen/dictionary_browser.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <memory>

#include "canopen/sdo_test_bus.h"

namespace busprobe {
namespace {

using test::BusPort;
using test::TestBus;

OdEntry Entry(uint16_t index, uint8_t sub, uint8_t type, uint32_t value, const char* name,
              uint8_t access = 3) {
  OdEntry e = NewOdEntry(index, sub);
  e.setName(name);
  e.access = access;
  e.display = 'h';
  e.defaultValue.dataType = type;
  e.defaultValue.setData32(value);
  e.hasDefault = 1;
  return e;
}

class LocalBrowser : public ::testing::Test {
 protected:
  LocalBrowser() {
    od.insert(Entry(0x1000, 0, 7, 0x191, "Device type", 1));
    od.insert(Entry(0x2000, 1, 6, 0x1234, "Speed"));
    OdEntry text = Entry(0x1008, 0, 9, 0, "Name", 1);
    text.display = 'a';
    const std::string longName(120, 'x');
    pool->store(text.defaultValue, reinterpret_cast<const uint8_t*>(longName.data()), longName.size());
    od.insert(text);
    browser = std::make_unique<DictionaryBrowser>(od, info, device, settings, nullptr);
  }
  std::unique_ptr<OdBlockPool> pool = std::make_unique<OdBlockPool>();
  ObjectDictionary od{*pool};
  EdsFileInfo info;
  EdsDeviceInfo device;
  SdoSettings settings;
  std::unique_ptr<DictionaryBrowser> browser;
};

TEST_F(LocalBrowser, GridShowsEveryEntryThenAnEmptyRowWithCountersAndColours) {
  ASSERT_EQ(browser->rowCount(), 4);
  const BrowserRow& r = browser->row(1);
  EXPECT_EQ(r[kColObject], "1008.00");
  EXPECT_EQ(r[kColType], "VIS_STRING");
  EXPECT_EQ(r[kColSize], "120");
  EXPECT_EQ(browser->row(2)[kColObject], "2000.01");
  EXPECT_EQ(browser->row(2)[kColCounters], "0000 0000");
  EXPECT_EQ(browser->row(3)[kColObject], "");
  EXPECT_EQ(DictionaryBrowser::headerText(kColValue, false), "Value");
  EXPECT_EQ(DictionaryBrowser::headerText(kColValue, true), "Default Value");

  od.slot(2).errorCount = 2;
  od.slot(2).readCount = 5;
  browser->rebuild();
  EXPECT_EQ(browser->row(2)[kColCounters], "ERR=2 r=5");
  EXPECT_EQ(browser->rowColour(2), BrowserRowColour::kError);
  browser->toggleMark(0);
  EXPECT_EQ(browser->row(0)[kColMark], "  *  ");
  EXPECT_EQ(browser->rowColour(0), BrowserRowColour::kMarked);
  browser->resetCounters();
  EXPECT_EQ(browser->row(2)[kColCounters], "0000 0000");
  EXPECT_EQ(od.slot(2).lastAbortCode, 0u);
}

TEST_F(LocalBrowser, ApplyParsesEditedRowsInsertsTheLastRowAndKeepsLongValues) {
  browser->setShowDefault(true);
  browser->setCell(2, kColName, "Motor speed");
  browser->setCell(2, kColValue, "0x55");
  browser->setCell(1, kColName, "Device name");
  browser->setCell(3, kColObject, "1017.00");
  browser->setCell(3, kColName, "Heartbeat");
  browser->setCell(3, kColType, "UNSIGNED16");
  browser->setCell(3, kColAccess, "RW");
  browser->setCell(3, kColValue, "1000");
  EXPECT_TRUE(browser->edited());
  browser->apply();
  EXPECT_FALSE(browser->edited());
  ASSERT_EQ(od.count(), 4);
  const OdEntry* speed = od.find(0x2000, 1);
  ASSERT_NE(speed, nullptr);
  EXPECT_EQ(speed->nameView(), "Motor speed");
  EXPECT_EQ(speed->defaultValue.data32(), 0x55u);
  const OdEntry* heartbeat = od.find(0x1017, 0);
  ASSERT_NE(heartbeat, nullptr);
  EXPECT_EQ(heartbeat->defaultValue.data32(), 1000u);
  EXPECT_EQ(heartbeat->access, 3);
  // The 120-character text is shown cut short; applying must not cut the value itself.
  const OdEntry* name = od.find(0x1008, 0);
  ASSERT_NE(name, nullptr);
  EXPECT_EQ(name->nameView(), "Device name");
  EXPECT_EQ(name->defaultValue.blockLength, 120);
  EXPECT_EQ(browser->rowCount(), 5);
}

TEST_F(LocalBrowser, EditsNotAppliedAreLostOnRebuildAndDeleteAsksFirst) {
  browser->setCell(2, kColName, "changed");
  browser->rebuild();
  EXPECT_EQ(browser->row(2)[kColName], "Speed");
  EXPECT_EQ(browser->deleteQuestion(2), "Delete object 0x2000.01?");
  EXPECT_EQ(browser->deleteQuestion(3), "");
  EXPECT_TRUE(browser->deleteRow(2));
  EXPECT_EQ(od.count(), 2);
  EXPECT_EQ(browser->rowCount(), 3);
  browser->select(1);
  EXPECT_EQ(od.slot(1).currentValid, 1);
  EXPECT_EQ(browser->gridPosText(), "2");
}

TEST_F(LocalBrowser, SavesAndLoadsAndReportsFailures) {
  char pattern[] = "/tmp/busprobe_browser_XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  const std::string dir = pattern;
  std::string error;
  ASSERT_TRUE(browser->save(dir + "/od.dic", 0, error));
  browser->deleteAll();
  EXPECT_EQ(od.count(), 0);
  EXPECT_TRUE(browser->load(dir + "/od.dic", 2));
  EXPECT_EQ(od.count(), 3);
  EXPECT_EQ(browser->gridPosText(), "3 entries in OD");
  EXPECT_EQ(browser->statusText(), "Loaded OD info from \"" + dir + "/od.dic\" .");
  EXPECT_FALSE(browser->load(dir + "/missing.eds", 2));
  EXPECT_EQ(browser->statusText(), "Error loading \"" + dir + "/missing.eds\" .");
  EXPECT_FALSE(browser->save(dir + "/no/such/dir/od.dic", 0, error));
  EXPECT_EQ(error, "Error: Could not save file\n \"" + dir + "/no/such/dir/od.dic\"");
  std::filesystem::remove_all(dir);
}

// The remote browser against node 5 on a simulated bus.
class RemoteBrowser : public ::testing::Test {
 protected:
  RemoteBrowser() {
    remote.dictionary.add(0x1000, 0, 7, 0x00020191, test::kRead);
    remote.dictionary.add(0x2000, 1, 6, 0x4321);
    remote.dictionary.addBlock(0x1008, 0, std::vector<uint8_t>(1500, 'n'), test::kRead);
    tool.engine->SdoApplySettings();
    remote.engine->SdoApplySettings();
    od.insert(Entry(0x1000, 0, 7, 0, "Device type", 1));
    od.insert(Entry(0x1008, 0, 9, 0, "Name", 1));
    od.insert(Entry(0x2000, 1, 6, 0, "Speed"));
    od.insert(Entry(0x2100, 0, 7, 0, "Missing"));
    tool.settings.clientTimeoutMs = 300;
    browser = std::make_unique<DictionaryBrowser>(od, info, device, tool.settings, &port,
                                                  [this](const std::string& line) { lines.push_back(line); });
    browser->setNodeId(5);
  }
  int runPass() {
    int ticks = 0;
    browser->passTick();
    while (browser->phase() != BrowserPassPhase::kIdle && ticks < 100) {
      browser->passTick();
      ++ticks;
    }
    return ticks;
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
  std::vector<std::string> lines;
  std::unique_ptr<DictionaryBrowser> browser;
};

TEST_F(RemoteBrowser, ReadPassFillsValuesCountsAndReports) {
  browser->limitLargeUploads = false;
  browser->startRead();
  runPass();
  EXPECT_EQ(browser->statusText(), "Finished reading OD,  4 objects accessed,  1 access error(s) .");
  const OdEntry* type = od.find(0x1000, 0);
  EXPECT_EQ(type->currentValid, 1);
  EXPECT_EQ(type->currentValue.data32(), 0x00020191u);
  EXPECT_EQ(type->readCount, 1);
  const OdEntry* name = od.find(0x1008, 0);
  EXPECT_EQ(name->currentValue.blockLength, 1500);
  EXPECT_EQ(name->currentValue.block[1499], 'n');
  const OdEntry* missing = od.find(0x2100, 0);
  EXPECT_EQ(missing->errorCount, 1);
  EXPECT_EQ(missing->lastAbortCode, 0x06020000u);
  EXPECT_EQ(browser->rowColour(od.findPosition(0x2100, 0)), BrowserRowColour::kError);
  EXPECT_EQ(browser->row(od.findPosition(0x2000, 1))[kColValue], "0x4321");
  EXPECT_FALSE(port.sdoAccessBusy());
}

TEST_F(RemoteBrowser, MarkedOnlyReadsTheMarkedEntries) {
  browser->toggleMark(od.findPosition(0x2000, 1));
  browser->markedOnly = true;
  browser->startRead();
  runPass();
  EXPECT_EQ(browser->passAccessed(), 1);
  EXPECT_EQ(od.find(0x2000, 1)->readCount, 1);
  EXPECT_EQ(od.find(0x1000, 0)->readCount, 0);
}

TEST_F(RemoteBrowser, WritePassSendsOnlyWritableEntriesAndWriteBackCounts) {
  od.find(0x2000, 1)->defaultValue.setData32(0x0777);
  browser->startWrite();
  EXPECT_EQ(browser->statusText(), "SENDING OD VIA CANOPEN-SDO, PLEASE WAIT !");
  runPass();
  EXPECT_EQ(remote.dictionary.objects[std::make_pair(uint16_t{0x2000}, uint8_t{1})].value, 0x0777u);
  // 0x2000.01 and the missing 0x2100: the read-only ones are not sent.
  EXPECT_EQ(browser->passAccessed(), 2);
  EXPECT_EQ(browser->statusText(), "Finished writing OD,  2 objects accessed,  1 access error(s) .");

  const int row = od.findPosition(0x2000, 1);
  browser->setCell(row, kColValue, "0x99");
  const int now = browser->writeBackRow(row);
  ASSERT_GE(now, 0);
  EXPECT_EQ(remote.dictionary.objects[std::make_pair(uint16_t{0x2000}, uint8_t{1})].value, 0x99u);
  EXPECT_EQ(od.slot(now).writeCount, 2);
}

TEST_F(RemoteBrowser, TimeoutsAreReportedAndPeriodicStartsOver) {
  port.deliver = false;
  EXPECT_FALSE(browser->ReadRemoteObject(0x1000, 0, 0));
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.back(), "Timeout while reading 0x1000.00.");
  port.deliver = true;
  bus.drop();

  browser->setPeriodic(true);
  for (int i = 0; i < 20; ++i) browser->passTick();
  EXPECT_GE(od.find(0x1000, 0)->readCount, 2);
  browser->setPeriodic(false);
  runPass();
  EXPECT_EQ(browser->phase(), BrowserPassPhase::kIdle);
}

}  // namespace
}  // namespace busprobe
