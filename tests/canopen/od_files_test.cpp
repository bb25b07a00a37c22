#include "canopen/od_files.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "canopen/dictionary_text.h"
#include "canopen/od_value_text.h"

namespace busprobe {
namespace {

namespace fs = std::filesystem;

class ScratchDir {
 public:
  ScratchDir() {
    std::string tmpl = (fs::temp_directory_path() / "od_files_test_XXXXXX").string();
    path_ = ::mkdtemp(tmpl.data());
  }
  ~ScratchDir() {
    std::error_code ec;
    fs::remove_all(path_, ec);
  }
  std::string file(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

void WriteText(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

struct Loaded {
  OdBlockPool pool;
  std::unique_ptr<ObjectDictionary> od = std::make_unique<ObjectDictionary>(pool);
  EdsFileInfo file;
  EdsDeviceInfo device;
  std::string problem;
  bool ok = false;

  explicit Loaded(const std::string& path, uint8_t nodeId = 5) {
    DictionaryLoadOptions options;
    options.nodeId = nodeId;
    ok = LoadDictionary(path, file, device, *od, options, problem);
  }
  const OdEntry& at(uint16_t index, uint8_t sub) const {
    const OdEntry* e = od->find(index, sub);
    static const OdEntry kNone;
    EXPECT_NE(e, nullptr) << std::hex << index << "sub" << int(sub);
    return e ? *e : kNone;
  }
};

TEST(DictionaryFiles, KindByExtensionInAnyCase) {
  EXPECT_EQ(DictionaryFileKindOf("a/MyObject.EDS"), DictionaryFileKind::kEds);
  EXPECT_EQ(DictionaryFileKindOf("x.Dcf"), DictionaryFileKind::kDcf);
  EXPECT_EQ(DictionaryFileKindOf("MyObject.DIC"), DictionaryFileKind::kText);
  EXPECT_EQ(DictionaryFileKindOf("eds"), DictionaryFileKind::kText);
}

TEST(DictionaryFiles, UnreadableNamesFailWithAReasonAndNeverBlock) {
  ScratchDir dir;
  Loaded missing(dir.file("none.eds"));
  EXPECT_FALSE(missing.ok);
  EXPECT_NE(missing.problem, "");
  const std::string fifo = dir.file("pipe.dic");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  Loaded pipe(fifo);
  EXPECT_FALSE(pipe.ok);
  EXPECT_EQ(pipe.problem, "not a regular file");
  // Saving over a FIFO does not replace it.
  EXPECT_FALSE(SaveDictionary(fifo, pipe.file, pipe.device, *pipe.od, {}));
}

TEST(DictionaryFiles, DictionaryTextLoadsAndSaves) {
  ScratchDir dir;
  const std::string path = dir.file("MyObject.DIC");
  WriteText(path,
            "1017.00 \"Producer heartbeat time\" UNSIGNED16  RW     dec  1000\r\n1000.00 UNSIGNED32 RONLY "
            "hex 0x191\r\n");
  Loaded a(path);
  ASSERT_TRUE(a.ok);
  EXPECT_EQ(a.od->count(), 2);
  EXPECT_EQ(a.at(0x1017, 0).defaultValue.data32(), 1000u);
  ASSERT_TRUE(SaveDictionary(dir.file("copy.dic"), a.file, a.device, *a.od, {}));
  Loaded b(dir.file("copy.dic"));
  EXPECT_EQ(b.od->count(), 2);
  EXPECT_EQ(b.at(0x1000, 0).defaultValue.data32(), 0x191u);
}

// ---------------------------------------------------------------------------------------------
// The collected real files.

struct Named {
  uint16_t index;
  uint8_t sub;
  const char* name;
  uint32_t value;  // default value, or the configured one for `current`
  bool current;
};

struct RealFile {
  const char* path;
  int count;
  const char* vendor;
  Named named[4];
};

const RealFile kRealFiles[] = {
    {"eds/canopennode_DS301_profile.eds",
     170,
     "",
     {{0x1000, 0, "Device type", 0, false},
      {0x1400, 1, "COB-ID used by RPDO", 0x80000205, false},
      {0x1800, 1, "COB-ID used by TPDO", 0xC0000185, false},
      {0x1017, 0, "Producer heartbeat time", 0, false}}},
    {"eds/faulhaber_605.3150.67-B-EK-2-60.eds",
     273,
     "Faulhaber",
     {{0x1000, 0, "Device Type", 0x00420192, false},
      {0x2313, 3, "Inp. 3 ADC Value", 0, false},
      {0x1A00, 1, "PDO Mapping Entry 1", 0x60410010, false},
      {0x1018, 1, "Vendor Id", 0x147, false}}},
    {"eds/python-canopen_e35.eds",
     995,
     "Manufacturer",
     {{0x1000, 0, "Device Type", 0x00020192, false},
      {0x1A00, 1, "Velocity Actual Value", 0x606C0020, false},
      {0x1400, 1, "COB-Id used", 0x205, false},
      {0x6040, 0, "Controlword", 0, false}}},
    {"eds/python-canopen_sample.eds",
     124,
     "Vendor Name",
     {{0x1A00, 1, "TPDO 1 mapping information 1", 0x60410010, false},
      {0x1003, 7, "Pre-defined error field_7", 0, false},
      {0x2000, 0, "Writable string", 0, false},
      {0x3050, 2, nullptr, 0, false}}},
    {"eds/systec_IoX1_16DI_8DO.eds",
     157,
     "SYSTEC electronic GmbH",
     {{0x1000, 0, "Device Type", 0x00030191, false},
      {0x2500, 0x26, "Force LED", 0, false},
      {0x2500, 0x24, "Baudrate Switch", 0, false},
      {0x1A00, 1, "PDO Mapping 1. App. Object", 0x60000108, false}}},
    {"eds/technosoft_iPOS_cia402_slave.eds",
     344,
     "Technosoft",
     {{0x1000, 0, "Device type", 0x00060192, false},
      {0x6040, 0, "Control word", 0, false},
      {0x1018, 1, "Vendor ID", 0x1A3, false},
      {0x1400, 1, "COB-ID RPDO1", 0x205, false}}},
    {"dcf/elmo_gold_Elmo.dcf",
     458,
     "Elmo Motion Control",
     {{0x1000, 0, "Device Type", 0x192, false},
      {0x1400, 1, "COB ID", 0x205, true},
      {0x1A00, 1, "Status Word", 0x60410010, false},
      {0x1018, 1, "Vendor Id", 0x9A, false}}},
    {"dcf/lely_co-sdev.dcf",
     32,
     "Lely Industries N.V.",
     {{0x1000, 0, "Device type", 0x01020304, false},
      {0x2002, 0, "INTEGER8", static_cast<uint32_t>(-0x7f), true},
      {0x2008, 0, "REAL32", 0x40490FDB, true},
      {0x2007, 0, "UNSIGNED32", 0x7fffff, true}}},
    {"dcf/lely_coctl.dcf",
     557,
     "Lely Industries N.V.",
     {{0x1000, 0, "Device type", 0, false},
      {0x1016, 1, "Consumer heartbeat time__sub1", 0, false},
      {0x1018, 1, "Vendor-ID", 0x360, false},
      {0x1017, 0, "Producer heartbeat time", 0, false}}},
    {"dcf/pilz_prbt_0_1.dcf",
     210,
     "Pilz GmbH & Co. KG",
     {{0x1800, 5, "event timer", 0, false},
      {0x1401, 1, "COB-ID used by PDO", 0x305, true},
      {0x1A00, 1, "1. mapped Object", 0x60410010, false},
      {0x1017, 0, "Producer heartbeat time", 0, false}}},
    {"dcf/ros2_canopen_master.dcf",
     kOdSlotCount,
     "",
     {{0x1000, 0, "Device type", 0, false},
      {0x1400, 1, "COB-ID used by RPDO", 0x182, false},
      {0x1017, 0, "Producer heartbeat time", 0, false},
      {0x1016, 1, "Consumer heartbeat time__sub1", 0, false}}},
    {"dcf/technosoft_ISD860.dcf",
     135,
     "Technosoft",
     {{0x1000, 0, "Device type", 0x00060192, false},
      {0x6040, 0, "Control word", 0, false},
      {0x1A00, 1, "the first mapped object", 0x60410010, false},
      {0x1018, 1, "Vendor ID", 0x1A3, false}}},
};

std::string TestData(const char* path) {
  return std::string(BUSPROBE_TESTDATA_DIR) + "/" + path;
}

void ExpectSameEntries(const ObjectDictionary& a, const ObjectDictionary& b, bool withCurrent) {
  // The writer lists manufacturer objects ahead of the optional ones: compare by object.
  ASSERT_EQ(a.count(), b.count());
  for (int i = 0; i < a.count(); ++i) {
    const OdEntry& x = a.slot(i);
    SCOPED_TRACE(OdEntryTextLine(x));
    const OdEntry* found = b.find(x.index, x.subIndex);
    ASSERT_NE(found, nullptr);
    const OdEntry& y = *found;
    EXPECT_EQ(y.nameView(), x.nameView());
    EXPECT_EQ(y.defaultValue.dataType, x.defaultValue.dataType);
    EXPECT_EQ(y.access, x.access);
    EXPECT_EQ(y.hasDefault, x.hasDefault);
    if (x.hasDefault) {
      EXPECT_EQ(OdValueText('h', y.defaultValue, std::string::npos),
                OdValueText('h', x.defaultValue, std::string::npos));
    }
    if (withCurrent) {
      EXPECT_EQ(y.currentValid, x.currentValid);
      if (x.currentValid) {
        EXPECT_EQ(OdValueText('h', y.currentValue, std::string::npos),
                  OdValueText('h', x.currentValue, std::string::npos));
      }
    }
  }
}

TEST(DictionaryFilesRealData, EveryCollectedFileLoadsSavesAndLoadsAgain) {
  ScratchDir dir;
  for (const RealFile& f : kRealFiles) {
    SCOPED_TRACE(f.path);
    Loaded first(TestData(f.path));
    ASSERT_TRUE(first.ok) << first.problem;
    EXPECT_EQ(first.od->count(), f.count);
    if (f.count < kOdSlotCount) {
      EXPECT_EQ(first.problem, "");
    }
    EXPECT_EQ(first.device.vendorName, f.vendor);
    for (const Named& n : f.named) {
      const OdEntry& e = first.at(n.index, n.sub);
      if (n.name) {
        EXPECT_EQ(e.nameView(), n.name);
      }
      EXPECT_EQ(n.current ? e.currentValue.data32() : e.defaultValue.data32(), n.value)
          << std::hex << n.index << "sub" << int(n.sub);
      if (n.current) {
        EXPECT_EQ(e.currentValid, 1);
      }
    }

    // Saved in its own format and loaded again: the same entries with the same values.
    const bool dcf = DictionaryFileKindOf(f.path) == DictionaryFileKind::kDcf;
    const std::string again = dir.file(dcf ? "again.dcf" : "again.eds");
    DictionarySaveOptions options;
    options.utcSeconds = 1772636820;
    ASSERT_TRUE(SaveDictionary(again, first.file, first.device, *first.od, options));
    Loaded second(again);
    ASSERT_TRUE(second.ok) << second.problem;
    EXPECT_EQ(second.device.vendorName, f.vendor);
    EXPECT_EQ(second.device.baudRates, first.device.baudRates);
    ExpectSameEntries(*first.od, *second.od, dcf);

    // As dictionary text: the same entries in index order.
    const std::string text = dir.file("again.dic");
    ASSERT_TRUE(SaveDictionary(text, first.file, first.device, *first.od, options));
    Loaded third(text);
    first.od->sort();
    ASSERT_EQ(third.od->count(), first.od->count());
    for (int i = 0; i < first.od->count(); ++i) {
      EXPECT_EQ(third.od->slot(i).index, first.od->slot(i).index);
      EXPECT_EQ(third.od->slot(i).subIndex, first.od->slot(i).subIndex);
      EXPECT_EQ(third.od->slot(i).defaultValue.dataType, first.od->slot(i).defaultValue.dataType);
      EXPECT_EQ(third.od->slot(i).nameView(), first.od->slot(i).nameView());
      EXPECT_EQ(third.od->slot(i).access, first.od->slot(i).access);
      EXPECT_EQ(OdValueText('h', third.od->slot(i).defaultValue, std::string::npos),
                OdValueText('h', first.od->slot(i).defaultValue, std::string::npos))
          << OdEntryTextLine(first.od->slot(i));
    }
  }
}

TEST(DictionaryFilesRealData, NodeRelativeIdentifiersFollowTheNodeAcrossASave) {
  ScratchDir dir;
  Loaded forFive(TestData("eds/faulhaber_605.3150.67-B-EK-2-60.eds"), 5);
  EXPECT_EQ(forFive.at(0x1014, 0).defaultValue.data32(), 0x85u);
  ASSERT_TRUE(SaveDictionary(dir.file("f.eds"), forFive.file, forFive.device, *forFive.od, {}));
  Loaded forNine(dir.file("f.eds"), 9);
  EXPECT_EQ(forNine.at(0x1014, 0).defaultValue.data32(), 0x89u);
  EXPECT_EQ(forNine.at(0x1200, 1).defaultValue.data32(), 0x609u);
}

}  // namespace
}  // namespace busprobe
