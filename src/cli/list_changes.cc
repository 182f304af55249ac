#include "cli/list_changes.h"

#include <algorithm>
#include <cstring>

#include "scan/scan.h"

// Entries are compared through 64-bit hashes of their texts, so that the
// search's inner loop compares integers, and two entries whose hashes agree
// through their texts as well: a supplier's log can be written to give
// entries whose hashes collide, and the report must not then hide a change.
uint64_t ListEntryHash(std::string_view entry) {
  constexpr uint64_t kMultiplier = 0x9E3779B97F4A7C15u;  // odd: a bijection
  uint64_t h = uint64_t{entry.size()} * kMultiplier;
  const char* p = entry.data();
  size_t left = entry.size();
  // Each step is a bijection of `h` for a given word, so two texts of one
  // length that differ in a single word never collide.
  for (; left >= 8; p += 8, left -= 8) {
    uint64_t word;
    std::memcpy(&word, p, 8);
    h = (h ^ word) * kMultiplier;
    h ^= h >> 32;
  }
  if (left > 0) {
    uint64_t word = 0;
    std::memcpy(&word, p, left);
    h = (h ^ word) * kMultiplier;
    h ^= h >> 32;
  }
  // MurmurHash3's finaliser: every bit of `h` reaches every bit of the hash.
  h ^= h >> 33;
  h *= 0xFF51AFD7ED558CCDu;
  h ^= h >> 33;
  h *= 0xC4CEB9FE1A85EC53u;
  h ^= h >> 33;
  return h;
}

namespace {

std::vector<uint64_t> EntryHashes(const std::string_view* entries, size_t count) {
  std::vector<uint64_t> hashes(count);
  for (size_t i = 0; i < count; ++i)
    hashes[i] = ListEntryHash(entries[i]);
  return hashes;
}

// Places and diagonals in the edit graph of Myers' "An O(ND) difference
// algorithm" (1986): x counts the old list's entries passed, y the new one's,
// a diagonal k is the line x - y = k.
using Index = ptrdiff_t;
constexpr Index kNone = -1;

// The furthest x that a path of a given number of edits reaches on each
// diagonal, kNone where no such path reaches it inside the box.
class Frontier {
 public:
  explicit Frontier(Index dMax) : x_(static_cast<size_t>(2 * dMax + 3), kNone), centre_(dMax + 1) {}
  Index& operator[](Index k) { return x_[static_cast<size_t>(centre_ + k)]; }

 private:
  std::vector<Index> x_;
  Index centre_;
};

// Both lists' entries from some place on: the old ones' hashes and texts,
// and the new ones'.
struct Lists {
  const uint64_t* aHash;
  const std::string_view* aText;
  const uint64_t* bHash;
  const std::string_view* bText;

  bool Same(Index i, Index j) const { return aHash[i] == bHash[j] && aText[i] == bText[j]; }
  Lists From(Index i, Index j) const { return {aHash + i, aText + i, bHash + j, bText + j}; }
};

// The part of both lists still to compare: old entries [0, n), new [0, m).
struct Box {
  Lists lists;
  Index n;
  Index m;
};

// Takes the paths of `v` one edit further, to `d` edits, on every diagonal of
// d's parity inside the box, each followed along its run of common entries.
// The backward paths run from the box's far corner over the lists read from
// their ends, so that both directions share this code. With `check`, a path
// that meets one of `other` (made of `otherD` edits) stops the step: true,
// with its diagonal in `*met`.
template <bool kBackward>
bool Extend(const Box& box, Index d, Frontier& v, Frontier& other, Index otherD, bool check,
            Index* met) {
  const Index n = box.n;
  const Index m = box.m;
  Index kLow = std::max(-d, -m);
  Index kHigh = std::min(d, n);
  if ((kLow + d) % 2 != 0)
    ++kLow;
  if ((kHigh + d) % 2 != 0)
    --kHigh;
  for (Index k = kLow; k <= kHigh; k += 2) {
    // One edit more: an addition from the diagonal above (down), or a
    // removal from the one below (right), whichever gets further and stays
    // in the box.
    Index x = kNone;
    if (d == 0) {
      x = 0;
    } else {
      if (k < d && k + 1 <= n && v[k + 1] != kNone && v[k + 1] - k <= m)
        x = v[k + 1];
      if (k > -d && k - 1 >= -m && v[k - 1] != kNone && v[k - 1] + 1 <= n && v[k - 1] + 1 > x)
        x = v[k - 1] + 1;
      if (x == kNone) {
        v[k] = kNone;
        continue;
      }
    }
    Index y = x - k;
    if (kBackward) {
      while (x < n && y < m && box.lists.Same(n - 1 - x, m - 1 - y))
        ++x, ++y;
    } else {
      while (x < n && y < m && box.lists.Same(x, y))
        ++x, ++y;
    }
    v[k] = x;
    if (check) {
      const Index c = (n - m) - k;  // the same diagonal, as the other direction counts it
      if (c >= -otherD && c <= otherD && other[c] != kNone && x + other[c] >= n) {
        *met = k;
        return true;
      }
    }
  }
  return false;
}

// A place (x, y) in the box, neither of its corners, that a shortest edit
// script passes: half its edits lie before it. False when the script needs
// more than `maxEdits` edits; the search then costs about (n + m) times
// `maxEdits` at worst, and far less when most diagonals' runs are short.
// The box's first entries differ, and so do its last.
bool SplitPlace(const Box& box, Index maxEdits, Frontier& forward, Frontier& backward, Index* x,
                Index* y) {
  // The paths meet on a forward step when the script's length is odd, on a
  // backward one when it is even: after 2d - 1 and 2d edits.
  const bool odd = (box.n - box.m) % 2 != 0;
  for (Index d = 0;; ++d) {
    Index k = 0;
    if (2 * d - 1 > maxEdits)
      return false;
    if (Extend<false>(box, d, forward, backward, d - 1, odd, &k)) {
      *x = forward[k];
      *y = *x - k;
      return true;
    }
    if (2 * d > maxEdits)
      return false;
    if (Extend<true>(box, d, backward, forward, d, !odd, &k)) {
      *x = box.n - backward[k];
      *y = box.m - (backward[k] - k);
      return true;
    }
  }
}

// One step of the edit script: the entry at `index` of the old list removed,
// or that of the new list added.
struct Edit {
  uint64_t hash;
  std::string_view text;
  size_t index;
  bool added;
};

// The shortest edit script by Myers' linear-space way: the place where a
// shortest script is half done splits the lists in two, each compared the
// same way, after the common entries at both ends of each part are passed.
// Each split halves the edits left, so the recursion is about log2(D) deep.
class EditScript {
 public:
  EditScript(const Lists& lists, Index maxEdits)
      : lists_(lists),
        maxEdits_(maxEdits),
        forward_((maxEdits + 1) / 2),
        backward_((maxEdits + 1) / 2) {}

  // Appends the script for old entries [a0, a1) and new [b0, b1); false when
  // it needs more than maxEdits edits (only the whole lists can: a part needs
  // fewer than the whole).
  bool Build(Index a0, Index a1, Index b0, Index b1) {
    while (a0 < a1 && b0 < b1 && lists_.Same(a0, b0))
      ++a0, ++b0;
    while (a0 < a1 && b0 < b1 && lists_.Same(a1 - 1, b1 - 1))
      --a1, --b1;
    if (a0 == a1 || b0 == b1) {
      for (Index i = a0; i < a1; ++i)
        edits.push_back({lists_.aHash[i], lists_.aText[i], static_cast<size_t>(i), false});
      for (Index j = b0; j < b1; ++j)
        edits.push_back({lists_.bHash[j], lists_.bText[j], static_cast<size_t>(j), true});
      return true;
    }
    const Box box = {lists_.From(a0, b0), a1 - a0, b1 - b0};
    Index x = 0;
    Index y = 0;
    if (!SplitPlace(box, maxEdits_, forward_, backward_, &x, &y))
      return false;
    return Build(a0, a0 + x, b0, b0 + y) && Build(a0 + x, a1, b0 + y, b1);
  }

  std::vector<Edit> edits;

 private:
  Lists lists_;
  Index maxEdits_;
  Frontier forward_;
  Frontier backward_;
};

// The k-th removal of each text pairs with its k-th addition, in script
// order: partner[i] is the edit paired with edits[i], or edits.size().
std::vector<size_t> PairMoves(const std::vector<Edit>& edits) {
  std::vector<size_t> removals;
  std::vector<size_t> additions;
  for (size_t i = 0; i < edits.size(); ++i)
    (edits[i].added ? additions : removals).push_back(i);
  const auto key = [&edits](size_t i) { return std::make_pair(edits[i].hash, edits[i].text); };
  const auto byText = [&key](size_t l, size_t r) { return key(l) < key(r); };
  std::stable_sort(removals.begin(), removals.end(), byText);
  std::stable_sort(additions.begin(), additions.end(), byText);
  std::vector<size_t> partner(edits.size(), edits.size());
  for (size_t r = 0, s = 0; r < removals.size() && s < additions.size();) {
    if (byText(removals[r], additions[s])) {
      ++r;
    } else if (byText(additions[s], removals[r])) {
      ++s;
    } else {
      partner[removals[r]] = additions[s];
      partner[additions[s]] = removals[r];
      ++r, ++s;
    }
  }
  return partner;
}

// Past the limit: the entries each list has beyond the other, as multisets
// of their hashes (texts whose hashes collide count as one: the report then
// says only that there are too many changes to tell). The hashes are sorted
// in place; they are not needed after.
void CountDifferences(std::vector<uint64_t>& oldHashes, std::vector<uint64_t>& newHashes,
                      ListComparison* result) {
  std::sort(oldHashes.begin(), oldHashes.end());
  std::sort(newHashes.begin(), newHashes.end());
  size_t i = 0;
  size_t j = 0;
  while (i < oldHashes.size() || j < newHashes.size()) {
    if (j == newHashes.size() || (i < oldHashes.size() && oldHashes[i] < newHashes[j])) {
      ++result->removed, ++i;
    } else if (i == oldHashes.size() || newHashes[j] < oldHashes[i]) {
      ++result->added, ++j;
    } else {
      ++i, ++j;
    }
  }
}

}  // namespace

std::vector<std::string_view> ListEntries(std::string_view text) {
  // Counted first, so that the entries take one allocation of their size:
  // a million of them are 16 MB.
  size_t lines = 1;
  for (size_t at = text.find('\n'); at != std::string_view::npos; at = text.find('\n', at + 1))
    ++lines;
  std::vector<std::string_view> entries;
  entries.reserve(lines);
  size_t begin = 0;
  while (begin < text.size()) {
    const size_t lineFeed = text.find('\n', begin);
    if (lineFeed == std::string_view::npos) {
      entries.push_back(text.substr(begin));
      break;
    }
    size_t end = lineFeed;
    if (end > begin && text[end - 1] == '\r')
      --end;
    entries.push_back(text.substr(begin, end - begin));
    begin = lineFeed + 1;
  }
  return entries;
}

std::vector<std::string_view> ListEntries(const LineText& list,
                                          std::deque<std::string>* joined) {
  std::vector<std::string_view> entries;
  entries.reserve(static_cast<size_t>(list.count));
  std::string carried;  // the beginning of an entry from the pieces before
  bool carrying = false;
  for (const LineText::Piece& piece : list.pieces) {
    const std::string_view text(piece.block.data(), piece.used);
    size_t begin = 0;
    for (size_t end; (end = text.find('\n', begin)) != std::string_view::npos;
         begin = end + 1) {
      if (!carrying) {
        entries.push_back(text.substr(begin, end - begin));
        continue;
      }
      carried.append(text.substr(begin, end - begin));
      joined->push_back(std::move(carried));
      entries.push_back(joined->back());
      carried.clear();
      carrying = false;
    }
    if (begin < text.size()) {
      carried.append(text.substr(begin));
      carrying = true;
    }
  }
  return entries;
}

ListComparison CompareLists(const std::vector<std::string_view>& oldList,
                            const std::vector<std::string_view>& newList, uint64_t limit) {
  ListComparison result;
  result.limit = limit;
  // The common beginning and end, compared as texts, need no hashes.
  size_t begin = 0;
  while (begin < oldList.size() && begin < newList.size() && oldList[begin] == newList[begin])
    ++begin;
  size_t oldEnd = oldList.size();
  size_t newEnd = newList.size();
  while (oldEnd > begin && newEnd > begin && oldList[oldEnd - 1] == newList[newEnd - 1])
    --oldEnd, --newEnd;
  const size_t n = oldEnd - begin;
  const size_t m = newEnd - begin;
  std::vector<uint64_t> oldHashes = EntryHashes(oldList.data() + begin, n);
  std::vector<uint64_t> newHashes = EntryHashes(newList.data() + begin, m);

  // A script needs at least as many edits as the lists' lengths differ.
  bool withinLimit = (n > m ? n - m : m - n) <= limit;
  std::vector<Edit> edits;
  if (withinLimit) {
    const Lists lists = {oldHashes.data(), oldList.data() + begin, newHashes.data(),
                         newList.data() + begin};
    EditScript script(lists, static_cast<Index>(std::min(limit, uint64_t{n + m})));
    withinLimit = script.Build(0, static_cast<Index>(n), 0, static_cast<Index>(m));
    edits.swap(script.edits);
  }
  if (!withinLimit) {
    result.overLimit = true;
    CountDifferences(oldHashes, newHashes, &result);
    return result;
  }

  const std::vector<size_t> partner = PairMoves(edits);
  for (size_t i = 0; i < edits.size(); ++i) {
    const Edit& edit = edits[i];
    const size_t at = begin + edit.index;
    ListChange change;
    if (!edit.added) {
      if (partner[i] != edits.size())
        continue;  // told with its addition
      change.kind = ListChange::kRemoved;
      change.oldPosition = at + 1;
      change.entry = edit.text;
      ++result.removed;
    } else {
      change.newPosition = at + 1;
      change.entry = edit.text;
      if (partner[i] != edits.size()) {
        change.kind = ListChange::kMoved;
        change.oldPosition = begin + edits[partner[i]].index + 1;
        ++result.moved;
      } else {
        ++result.added;
      }
    }
    result.changes.push_back(change);
  }
  return result;
}

std::string ListChangesText(const ListComparison& comparison) {
  if (comparison.overLimit) {
    return "more than " + std::to_string(comparison.limit) + " changes: " +
           std::to_string(comparison.added) + " added, " + std::to_string(comparison.removed) +
           " removed\n";
  }
  std::string text;
  for (const ListChange& change : comparison.changes) {
    text += change.kind;
    text += '\t';
    if (change.kind != ListChange::kRemoved)
      text += std::to_string(change.newPosition) + '\t';
    if (change.kind != ListChange::kAdded)
      text += std::to_string(change.oldPosition) + '\t';
    text += ShownText(change.entry, change.entry.size());
    text += '\n';
  }
  return text;
}
