// What changed between the list a run replaces and the one it writes: the
// entries added, removed and moved, as a report of one line a change.
//
// Words of the comparison, each with one meaning:
//   edit     one step of the edit script that turns the old list into the
//            new one: one entry added or one entry removed.
//   common   the entries that both lists keep, in order: a longest common
//            subsequence of the two; every other entry is an edit.
//   move     an addition and a removal of the same text, paired: the k-th
//            removal of a text with its k-th addition, in script order.
//   change   one line of the report: an addition, a removal or a move.
#ifndef KESTRANE_CLI_LIST_CHANGES_H_
#define KESTRANE_CLI_LIST_CHANGES_H_

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

/// The entries of a list file's text: its lines, each ended by a line feed,
/// with one CR right before the line feed dropped (lists written on Windows
/// end their lines with CR LF). A last line without a line feed is an entry
/// too: an earlier list may have been cut, or edited by hand. Views into
/// `text`.
std::vector<std::string_view> ListEntries(std::string_view text);

struct LineText;
/// The entries of a list as the scan holds it, in pieces; an entry that runs
/// from one piece into the next is joined in `joined`, which the views point
/// into.
std::vector<std::string_view> ListEntries(const LineText& list,
                                          std::deque<std::string>* joined);

/// The edits past which the comparison stops looking for the common entries
/// and counts what was added and removed instead.
constexpr uint64_t kEditLimit = 10000;

/// One line of the report.
struct ListChange {
  static constexpr char kAdded = '+';
  static constexpr char kRemoved = '-';
  static constexpr char kMoved = '~';
  char kind = kAdded;
  uint64_t newPosition = 0;  // 1-based; 0 for a removal
  uint64_t oldPosition = 0;  // 1-based; 0 for an addition
  std::string_view entry;    // into the list that holds it
};

/// What changed from one list to the other.
struct ListComparison {
  /// In the order of the edit script, which goes through both lists from
  /// their beginnings: a move stands where its addition stands. Empty when
  /// `overLimit`.
  std::vector<ListChange> changes;
  /// The changes of each kind. With `overLimit`, `added` and `removed` count
  /// instead the entries of the new list that the old one lacks and those of
  /// the old that the new one lacks, as multisets (each text as many times as
  /// it stands; texts are told apart there by their hashes alone), and
  /// `moved` is 0.
  uint64_t added = 0;
  uint64_t removed = 0;
  uint64_t moved = 0;
  /// The edit script would need more than `limit` edits.
  bool overLimit = false;
  uint64_t limit = kEditLimit;
};

/// The 64-bit hash that entries are compared by first; two entries are the
/// same only when their texts are.
uint64_t ListEntryHash(std::string_view entry);

/// Compares the entries of the old list with those of the new one. Time
/// about (N + M) log D + D squared for lists of N and M entries that a script
/// of D edits turns into one another, (N + M) times `limit` at worst; memory
/// linear in N + M. The views in the result point where the lists' do.
ListComparison CompareLists(const std::vector<std::string_view>& oldList,
                            const std::vector<std::string_view>& newList,
                            uint64_t limit = kEditLimit);

/// The report: one line a change, each ended by a line feed, positions
/// 1-based, the entry as ShownText() shows it:
///   "+\t<new position>\t<entry>"  added
///   "-\t<old position>\t<entry>"  removed
///   "~\t<new position>\t<old position>\t<entry>"  moved
/// or, past the limit, the one line
///   "more than <limit> changes: <added> added, <removed> removed".
/// Empty when no entry changed: the texts may still differ, in their line
/// ends or in the line feed after their last entry.
std::string ListChangesText(const ListComparison& comparison);

#endif  // KESTRANE_CLI_LIST_CHANGES_H_
