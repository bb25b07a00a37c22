#include "traffic/frame_list.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace busprobe {
namespace {

// A pane that applies refreshes exactly as their contract says.
struct Pane {
  std::vector<std::string> rows;
  size_t written = 0;  // rows written (replaced or appended) by the last refresh

  void refresh(FrameList& list) {
    FrameListRefresh r;
    list.takeRefresh(r);
    written = 0;
    if (r.rebuild) rows.clear();
    ASSERT_LE(r.removeFront, rows.size());
    rows.erase(rows.begin(), rows.begin() + static_cast<long>(r.removeFront));
    ASSERT_LE(r.removeBack, rows.size());
    rows.resize(rows.size() - r.removeBack);
    for (size_t row : r.rows) {
      ASSERT_LT(row, rows.size());
      rows[row] = std::string(list.entry(row).view());
      ++written;
    }
    ASSERT_EQ(r.appendFrom, rows.size());
    for (size_t row = r.appendFrom; row < r.count; ++row) {
      rows.emplace_back(list.entry(row).view());
      ++written;
    }
  }
  bool mirrors(const FrameList& list) const {
    if (rows.size() != list.count()) return false;
    for (size_t i = 0; i < rows.size(); ++i)
      if (rows[i] != list.entry(i).view()) return false;
    return true;
  }
};

std::vector<std::string> Texts(const FrameList& list) {
  std::vector<std::string> out;
  for (size_t i = 0; i < list.count(); ++i) out.emplace_back(list.entry(i).view());
  return out;
}

TEST(FrameList, SortedListKeepsOneLinePerKeyWithCountAndPeriod) {
  FrameList list(kListSorted);
  const int64_t sent = 0x100 * 4 + 1, received = 0x100 * 4 + 3, other = 0x080 * 4 + 3;
  list.add(kListSorted, 500, received, 1000, "rx 100");
  list.add(kListSorted, 500, sent, 1005, "tx 100");
  list.add(kListSorted, 500, received, 1250, "rx 100 again");
  list.add(kListSorted, 500, other, 1300, "rx 080");
  EXPECT_EQ(Texts(list),
            (std::vector<std::string>{"rx 080 N=1 P=1300", "tx 100 N=1 P=1005", "rx 100 again N=2 P=250"}));
  EXPECT_EQ(list.entry(2).frameCount, 2u);
  EXPECT_EQ(list.entry(2).prevTime, 1000u);
  // the counters are cut with the line at 239 characters
  list.add(kListSorted, 500, other, 1400, std::string(300, 'x'));
  EXPECT_EQ(list.entry(0).view(), std::string(239, 'x'));
}

TEST(FrameList, FullSortedListEvictsTheLeastRecentlySeenKeyOnlyForANewKey) {
  FrameList list(kListSorted);
  for (int64_t key = 0; key < 4095; ++key) {
    // key 700 was seen first of all; the others in key order afterwards
    list.add(kListSorted, 500, key * 4, key == 700 ? 1 : static_cast<uint32_t>(10 + key), "k");
  }
  ASSERT_EQ(list.count(), 4095u);
  // a known key does not push anything out
  list.add(kListSorted, 500, 5 * 4, 50000, "again");
  EXPECT_EQ(list.count(), 4095u);
  EXPECT_EQ(list.entry(700).sortKey, 700 * 4);
  // a new key does: the least recently seen one goes
  list.add(kListSorted, 500, 9999 * 4, 60000, "new");
  EXPECT_EQ(list.count(), 4095u);
  for (size_t i = 0; i < list.count(); ++i) ASSERT_NE(list.entry(i).sortKey, 700 * 4);
  EXPECT_EQ(list.entry(list.count() - 1).sortKey, 9999 * 4);
  for (size_t i = 1; i < list.count(); ++i) ASSERT_LT(list.entry(i - 1).sortKey, list.entry(i).sortKey);
}

TEST(FrameList, HistoryKeepsTheNewestLinesAndKeepsScrollingBeyondItsCapacity) {
  FrameList list(kListHistory);
  for (uint32_t t = 0; t < 30; ++t) list.add(kListHistory, 20, 0, t, "line " + std::to_string(t));
  ASSERT_EQ(list.count(), 20u);
  EXPECT_EQ(list.entry(0).view(), "line 10");
  EXPECT_EQ(list.entry(19).view(), "line 29");

  // MaxWindowLines above the list's 4096 lines: the oldest makes room, new lines keep coming
  FrameList big(kListHistory);
  for (uint32_t t = 0; t < 5000; ++t) big.add(kListHistory, 10000, 0, t, std::to_string(t));
  EXPECT_EQ(big.count(), 4096u);
  EXPECT_EQ(big.entry(4095).view(), "4999");
  EXPECT_EQ(big.entry(0).view(), "904");

  // out of range counts as 500
  FrameList odd(kListHistory);
  for (uint32_t t = 0; t < 600; ++t) odd.add(kListHistory, 5, 0, t, "x");
  EXPECT_EQ(odd.count(), 500u);
}

TEST(FrameList, HistoryEvictsTheLineSeenLongestAgoEvenOutOfOrder) {
  FrameList list(kListHistory);
  const uint32_t times[] = {100, 50, 100, 200, 50};
  for (size_t i = 0; i < 5; ++i) list.add(kListHistory, 20, 0, times[i], "t" + std::to_string(i));
  for (uint32_t t = 0; t < 15; ++t) list.add(kListHistory, 20, 0, 300 + t, "n");
  ASSERT_EQ(list.count(), 20u);
  // the first of the two oldest times goes first, then the other one
  list.add(kListHistory, 20, 0, 400, "a");
  EXPECT_EQ(Texts(list)[0], "t0");
  EXPECT_EQ(Texts(list)[1], "t2");
  EXPECT_EQ(Texts(list)[3], "t4");
  list.add(kListHistory, 20, 0, 401, "b");
  EXPECT_EQ(Texts(list)[0], "t0");
  EXPECT_EQ(Texts(list)[2], "t3");
  list.add(kListHistory, 20, 0, 402, "c");
  EXPECT_EQ(Texts(list)[0], "t2");
}

TEST(FrameList, TypeSwitchEmptiesTheListWhenTheNextLineArrives) {
  FrameList list(kListHistory);
  Pane pane;
  list.add(kListHistory, 500, 0, 1, "a");
  list.add(kListHistory, 500, 0, 2, "b");
  pane.refresh(list);
  EXPECT_EQ(pane.rows.size(), 2u);
  // only the configured type changed: the list is as it was until a line comes
  EXPECT_FALSE(list.changed());
  list.add(kListSorted, 500, 7, 3, "c");
  EXPECT_EQ(list.type(), kListSorted);
  EXPECT_TRUE(list.rebuildPending());
  pane.refresh(list);
  EXPECT_EQ(pane.rows, (std::vector<std::string>{"c N=1 P=3"}));
  list.reset(kListSorted);
  pane.refresh(list);
  EXPECT_TRUE(pane.rows.empty());
}

TEST(FrameList, RefreshWritesOnlyChangedRows) {
  FrameList list(kListSorted);
  Pane pane;
  for (int64_t key = 0; key < 100; ++key) list.add(kListSorted, 500, key * 4, 1, "k");
  pane.refresh(list);
  list.add(kListSorted, 500, 50 * 4, 2, "k");
  pane.refresh(list);
  EXPECT_EQ(pane.written, 1u);
  EXPECT_TRUE(pane.mirrors(list));

  FrameList history(kListHistory);
  Pane h;
  for (uint32_t t = 0; t < 500; ++t) history.add(kListHistory, 500, 0, t, "x");
  h.refresh(history);
  for (uint32_t t = 500; t < 510; ++t) history.add(kListHistory, 500, 0, t, "y" + std::to_string(t));
  h.refresh(history);
  EXPECT_EQ(h.written, 10u);
  EXPECT_TRUE(h.mirrors(history));
}

// Random traffic of every kind (new keys, known keys, times going back, eviction, type switches,
// erasing) with refreshes at random moments: the pane must always mirror the list.
TEST(FrameList, PaneMirrorsTheListThroughAnyMixOfChanges) {
  std::mt19937 rng(7);
  for (int type : {kListHistory, kListSorted}) {
    FrameList list(type);
    Pane pane;
    int configured = type;
    uint32_t now = 1000;
    for (int step = 0; step < 60000; ++step) {
      const uint32_t r = rng();
      if (r % 5000 == 0) configured = configured == kListSorted ? kListHistory : kListSorted;
      if (r % 7919 == 1) list.reset(configured);
      now += rng() % 3;
      const uint32_t t = (r % 17 == 0) ? now - rng() % 500 : now;  // now and then from the past
      const int64_t key = static_cast<int64_t>(rng() % 4200) * 4 - 1000;
      list.add(configured, (r % 3 == 0) ? 30 : 4200, key, t, "line " + std::to_string(step));
      if (rng() % 50 == 0) {
        pane.refresh(list);
        ASSERT_TRUE(pane.mirrors(list)) << "step " << step;
        for (size_t i = 0; i < list.count(); ++i) ASSERT_FALSE(list.entry(i).dirty);
      }
    }
    pane.refresh(list);
    EXPECT_TRUE(pane.mirrors(list));
  }
}

}  // namespace
}  // namespace busprobe
