// The symbolic-name table: lookups both ways and how unknown names are shown to the user.
#include "traffic/can_names.h"

#include <gtest/gtest.h>

namespace busprobe {
namespace {

TEST(CanNameTable, NameForIdentifierTakesTheFirstNamedEntryInTableOrder) {
  CanNameTable::Entries entries;
  entries[0] = {"", 0x100};  // an identifier without a name does not hide later entries
  entries[5] = {"Second", 0x100};
  entries[9] = {"Third", 0x100};
  entries[2] = {"Big", 0x18FF0001};
  CanNameTable names(entries);
  EXPECT_EQ(names.nameFor(0x100), "Second");
  EXPECT_EQ(names.nameFor(0x18FF0001), "Big");
  EXPECT_EQ(names.nameFor(0x101), "");
  // Entries without an identifier (-1) never match anything, not even 0x1FFFFFFF.
  entries[4] = {"Unset", -1};
  EXPECT_EQ(names.nameFor(0x1FFFFFFF), "");
  // Edits of the settings record apply at once.
  entries[5].name.clear();
  EXPECT_EQ(names.nameFor(0x100), "Third");
}

TEST(CanNameTable, UnknownNameIsStoredOnceInTheFirstFreeEntry) {
  CanNameTable::Entries entries;
  entries[0] = {"Known", 0x123};
  entries[1] = {"", 0x55};  // has an identifier: not free
  entries[3] = {"Pending", -1};
  CanNameTable names(entries);

  EXPECT_EQ(names.idForName("Known"), 0x123);
  EXPECT_EQ(names.idForName("Pending"), -1);
  EXPECT_EQ(names.idForName("NewOne"), -1);
  EXPECT_EQ(entries[2].name, "NewOne");
  EXPECT_EQ(entries[2].canId, -1);
  EXPECT_EQ(names.idForName("NewOne"), -1);  // not stored a second time
  EXPECT_EQ(entries[4].name, "");

  // The user gives it an identifier in the settings window; the next lookup finds it.
  entries[2].canId = 0x321;
  EXPECT_EQ(names.idForName("NewOne"), 0x321);
  EXPECT_EQ(names.idForName(""), -1);
  EXPECT_EQ(entries[4].name, "");
}

TEST(CanNameTable, OverlongNamesAreCutOnceAndAFullTableTakesNoMore) {
  CanNameTable::Entries entries;
  CanNameTable names(entries);
  const std::string longName = "A_Very_Long_Signal_Name";
  for (int i = 0; i < 3; ++i) EXPECT_EQ(names.idForName(longName), -1);
  EXPECT_EQ(entries[0].name, "A_Very_Long_Sig");
  EXPECT_EQ(entries[1].name, "");

  for (int i = 1; i < CanNameTable::kEntries; ++i)
    entries[static_cast<size_t>(i)] = {"N" + std::to_string(i), i};
  EXPECT_EQ(names.idForName("NoRoom"), -1);
  EXPECT_EQ(names.findName("NoRoom"), -1);
  EXPECT_EQ(names.findName("N31"), 31);
}

}  // namespace
}  // namespace busprobe
