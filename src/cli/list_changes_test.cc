#include <algorithm>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "cli/list_changes.h"

namespace {

using Entries = std::vector<std::string_view>;

TEST(ListEntries, Lines) {
  const struct {
    const char* text;
    Entries entries;
  } cases[] = {
      {"", {}},
      {"a\nb\n", {"a", "b"}},
      {"a\r\nb\r\n", {"a", "b"}},
      {"a\nb", {"a", "b"}},  // a last line without a line feed
      {"\n\r\n", {"", ""}},
      {"a\r\r\n", {"a\r"}},  // one CR only, and only before the line feed
      {"a\rb\nc\r", {"a\rb", "c\r"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.text));
    EXPECT_EQ(c.entries, ListEntries(c.text));
  }
}

TEST(ListChangesText, Report) {
  const struct {
    const char* oldText;
    const char* newText;
    const char* report;
  } cases[] = {
      {"App/main\nDrivers/uart\n", "App/main\nDrivers/uart\n", ""},
      {"App/main\r\nDrivers/uart\r\n", "App/main\nDrivers/uart", ""},
      // One added, one removed and one moved, the common entries unique.
      {"A\nDrivers/uart\nC\nMiddleware/lwip/tcp\nD\nE\n",
       "A\nC\nD\nDrivers/uart\nApp/watchdog\nE\n",
       "-\t4\t\"Middleware/lwip/tcp\"\n~\t4\t2\t\"Drivers/uart\"\n+\t5\t\"App/watchdog\"\n"},
      // Duplicates count as they stand.
      {"A\nB\n", "A\nB\nA\n", "+\t3\t\"A\"\n"},
      {"A\nA\nB\n", "A\nB\n", "-\t2\t\"A\"\n"},
      {"A\nB\nA\n", "B\nA\nA\n", "~\t2\t1\t\"A\"\n"},
      // A whole new order keeps one entry: the others are moves.
      {"A\nB\nC\n", "C\nB\nA\n", "~\t2\t2\t\"B\"\n~\t3\t1\t\"A\"\n"},
      {"", "A\n", "+\t1\t\"A\"\n"},
      {"A\nB\n", "", "-\t1\t\"A\"\n-\t2\t\"B\"\n"},
      {"A\n", "A\nB\t\x1B[2J\n", "+\t2\t\"B\\x09\\x1B[2J\"\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(std::make_pair(c.oldText, c.newText)));
    const ListComparison comparison = CompareLists(ListEntries(c.oldText), ListEntries(c.newText));
    EXPECT_EQ(c.report, ListChangesText(comparison));
  }
}

// Past the limit (four edits here), what each list has beyond the other, as
// multisets: moves do not count, duplicates do.
TEST(ListChangesText, PastTheLimit) {
  EXPECT_EQ("more than 3 changes: 2 added, 0 removed\n",
            ListChangesText(CompareLists({"a", "b", "c", "a"}, {"c", "a", "b", "a", "a", "d"}, 3)));
}

// Entries whose hashes collide are told apart by their texts, so that a log
// written to collide cannot hide a change. Texts of two 8-byte words collide
// when their second words differ as the hash's states after the first words
// do: each word is xor-ed into the state before a bijection.
TEST(CompareLists, CollidingHashes) {
  const auto stateAfter = [](const char* word) {
    constexpr uint64_t kMultiplier = 0x9E3779B97F4A7C15u;
    uint64_t w;
    std::memcpy(&w, word, 8);
    uint64_t h = (16 * kMultiplier ^ w) * kMultiplier;
    return h ^ (h >> 32);
  };
  const std::string x = "App/Src/main_c00";
  std::string y = "Drivers/main_c00";
  uint64_t second;
  std::memcpy(&second, y.data() + 8, 8);
  second ^= stateAfter("App/Src/") ^ stateAfter("Drivers/");
  std::memcpy(&y[8], &second, 8);
  ASSERT_EQ(ListEntryHash(x), ListEntryHash(y));

  // Each an addition and a removal, not a common entry nor a move.
  const std::pair<Entries, Entries> cases[] = {
      {{x}, {y}}, {{x, "B"}, {"B", y}}, {{x, "A", "B"}, {"A", "B", y}}};
  for (const auto& [oldList, newList] : cases) {
    const ListComparison comparison = CompareLists(oldList, newList);
    EXPECT_EQ(1u, comparison.added);
    EXPECT_EQ(1u, comparison.removed);
    EXPECT_EQ(0u, comparison.moved);
  }
}

// The longest common subsequence's length, the plain way.
size_t CommonLength(const Entries& a, const Entries& b) {
  std::vector<std::vector<size_t>> length(a.size() + 1, std::vector<size_t>(b.size() + 1));
  for (size_t i = a.size(); i-- > 0;)
    for (size_t j = b.size(); j-- > 0;)
      length[i][j] = a[i] == b[j] ? length[i + 1][j + 1] + 1
                                  : std::max(length[i + 1][j], length[i][j + 1]);
  return length[0][0];
}

// On small lists over a small alphabet, where duplicates are common: the
// report keeps a longest common subsequence, its edits turn the old list
// into the new one, its moves pair the k-th removal of a text with its k-th
// addition, and the limit is passed at exactly one edit more than it needs.
TEST(CompareLists, AgainstPlainLcs) {
  static const std::string_view kAlphabet[] = {"a", "b", "c", "d", "e"};
  std::mt19937 random(29);
  const auto pick = [&random](size_t n) {
    return std::uniform_int_distribution<size_t>(0, n - 1)(random);
  };
  for (int round = 0; round < 3000; ++round) {
    Entries oldList(pick(14));
    for (auto& entry : oldList)
      entry = kAlphabet[pick(5)];
    Entries newList = oldList;
    for (size_t edits = pick(8); edits > 0; --edits) {
      const size_t at = pick(newList.size() + 1);
      if (pick(2) == 0 || newList.empty())
        newList.insert(newList.begin() + static_cast<ptrdiff_t>(at), kAlphabet[pick(5)]);
      else
        newList.erase(newList.begin() + static_cast<ptrdiff_t>(std::min(at, newList.size() - 1)));
    }
    SCOPED_TRACE(testing::PrintToString(std::make_pair(oldList, newList)));

    const ListComparison comparison = CompareLists(oldList, newList);
    ASSERT_FALSE(comparison.overLimit);
    const size_t common = CommonLength(oldList, newList);
    EXPECT_EQ(oldList.size() - common, comparison.removed + comparison.moved);
    EXPECT_EQ(newList.size() - common, comparison.added + comparison.moved);

    // Applied: the entries added and moved in their new places, the old
    // entries neither removed nor moved, in order, in the places left.
    std::vector<bool> taken(oldList.size());
    Entries applied(newList.size());  // a null view: a place left
    std::map<std::string_view, std::vector<uint64_t>> removedAt, addedAt;
    std::map<std::string_view, std::vector<std::pair<uint64_t, uint64_t>>> moves;
    for (const ListChange& change : comparison.changes) {
      if (change.kind != ListChange::kAdded) {
        ASSERT_EQ(oldList.at(change.oldPosition - 1), change.entry);
        taken[change.oldPosition - 1] = true;
        removedAt[change.entry].push_back(change.oldPosition);
      }
      if (change.kind != ListChange::kRemoved) {
        applied.at(change.newPosition - 1) = change.entry;
        addedAt[change.entry].push_back(change.newPosition);
      }
      if (change.kind == ListChange::kMoved)
        moves[change.entry].push_back({change.newPosition, change.oldPosition});
    }
    auto left = applied.begin();
    for (size_t i = 0; i < oldList.size(); ++i) {
      if (taken[i])
        continue;
      left = std::find(left, applied.end(), std::string_view());
      ASSERT_NE(applied.end(), left);
      *left = oldList[i];
    }
    EXPECT_EQ(newList, applied);
    for (auto& [entry, added] : addedAt) {
      std::vector<uint64_t>& removed = removedAt[entry];
      std::sort(added.begin(), added.end());
      std::sort(removed.begin(), removed.end());
      std::vector<std::pair<uint64_t, uint64_t>> pairs;
      for (size_t k = 0; k < std::min(added.size(), removed.size()); ++k)
        pairs.push_back({added[k], removed[k]});
      EXPECT_EQ(pairs, moves[entry]) << entry;
    }

    const uint64_t edits = oldList.size() + newList.size() - 2 * common;
    EXPECT_FALSE(CompareLists(oldList, newList, edits).overLimit);
    if (edits > 0) {
      EXPECT_TRUE(CompareLists(oldList, newList, edits - 1).overLimit);
    }
  }
}

}  // namespace
