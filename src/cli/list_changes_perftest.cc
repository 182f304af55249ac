// The comparison of two lists of 1,000,000 entries, from their texts to the
// report. Peak memory is the process's (getrusage): run one benchmark a
// process, with --benchmark_filter, for its figure to be that case's.
#include <algorithm>
#include <cstdio>
#include <random>
#include <string>
#include <utility>
#include <vector>

#if defined(__linux__)
#include <sys/resource.h>
#endif

#include <benchmark/benchmark.h>

#include "cli/list_changes.h"

namespace {

constexpr uint32_t kEntries = 1000000;

// Entry `id` as a list holds it: a firmware path, all ids different.
void AppendEntry(std::string* text, uint32_t id) {
  static const char* const kFolders[] = {
      "Middleware/lwip/src/core/tcp_", "Drivers/STM32F4xx_HAL_Driver/Src/stm32f4xx_hal_",
      "Middleware/FreeRTOS/Source/tasks_", "App/Src/module_", "Middleware/ST/USB_Device/cdc_"};
  char number[16];
  std::snprintf(number, sizeof number, "%07u", static_cast<unsigned>(id));
  *text += kFolders[id % 5];
  *text += number;
  *text += '\n';
}

std::string ListText(const std::vector<uint32_t>& ids, bool repeated) {
  std::string text;
  text.reserve(ids.size() * 48);
  for (uint32_t id : ids)
    AppendEntry(&text, repeated && id < kEntries ? 0 : id);
  return text;
}

struct Lists {
  std::string oldText;
  std::string newText;
};

// The old list's entries 0 to kEntries - 1, in order, and the new one made
// of them with `additions` new entries, `removals` entries removed and
// `moves` moved, at places drawn from [0, spread) around the middle. With
// `repeated`, every old entry is the same text.
Lists MakeLists(uint32_t additions, uint32_t removals, uint32_t moves, uint32_t spread,
                bool repeated = false) {
  std::mt19937 random(1);
  const uint32_t first = (kEntries - spread) / 2;
  const auto place = [&] { return first + static_cast<uint32_t>(random() % spread); };
  std::vector<bool> removed(kEntries);
  std::vector<std::pair<uint32_t, uint32_t>> inserted;  // before which old entry, what
  for (uint32_t i = 0; i < additions; ++i)
    inserted.push_back({place(), kEntries + i});
  for (uint32_t i = 0; i < removals + moves; ++i) {
    uint32_t at = place();
    while (removed[at])
      at = place();
    removed[at] = true;
    if (i >= removals)
      inserted.push_back({place(), at});
  }
  std::sort(inserted.begin(), inserted.end());
  std::vector<uint32_t> oldIds(kEntries);
  std::vector<uint32_t> newIds;
  newIds.reserve(kEntries + additions);
  auto next = inserted.begin();
  for (uint32_t at = 0; at < kEntries; ++at) {
    oldIds[at] = at;
    for (; next != inserted.end() && next->first == at; ++next)
      newIds.push_back(next->second);
    if (!removed[at])
      newIds.push_back(at);
  }
  return {ListText(oldIds, repeated), ListText(newIds, repeated)};
}

// Each run compares the texts whole; `changes` is how many lines the report
// must have, 1 for the line past the limit.
void Compare(benchmark::State& state, const Lists& lists, size_t changes) {
  size_t reported = 0;
  for (auto _ : state) {
    const std::vector<std::string_view> oldList = ListEntries(lists.oldText);
    const std::vector<std::string_view> newList = ListEntries(lists.newText);
    const std::string report = ListChangesText(CompareLists(oldList, newList));
    reported = static_cast<size_t>(std::count(report.begin(), report.end(), '\n'));
    benchmark::DoNotOptimize(report.data());
  }
  if (reported != changes)
    state.SkipWithError(("the report has " + std::to_string(reported) + " lines").c_str());
  const double texts = static_cast<double>(lists.oldText.size() + lists.newText.size());
  state.counters["texts_MiB"] = texts / (1 << 20);
#if defined(__linux__)
  rusage usage;
  getrusage(RUSAGE_SELF, &usage);
  state.counters["peak_MiB"] = static_cast<double>(usage.ru_maxrss) / 1024;
  state.counters["peak_per_texts"] = static_cast<double>(usage.ru_maxrss) * 1024 / texts;
#endif
}

// 1,000 changes, a fifth of them moves, all over the list.
void BM_ScatteredChanges(benchmark::State& state) {
  static const Lists lists = MakeLists(400, 400, 200, kEntries);
  Compare(state, lists, 1000);
}
BENCHMARK(BM_ScatteredChanges)->Unit(benchmark::kMillisecond);

// The same within 10,000 entries.
void BM_ClusteredChanges(benchmark::State& state) {
  static const Lists lists = MakeLists(400, 400, 200, 10000);
  Compare(state, lists, 1000);
}
BENCHMARK(BM_ClusteredChanges)->Unit(benchmark::kMillisecond);

// One edit past the limit, all over the list: how long giving up takes.
void BM_PastTheLimit(benchmark::State& state) {
  static const Lists lists = MakeLists(5001, 5000, 0, kEntries);
  Compare(state, lists, 1);
}
BENCHMARK(BM_PastTheLimit)->Unit(benchmark::kMillisecond);

// The costly shape: one text a million times, 1,000 others added, so that
// every diagonal has long runs of common entries.
void BM_RepeatedEntry(benchmark::State& state) {
  static const Lists lists = MakeLists(1000, 0, 0, kEntries, true);
  Compare(state, lists, 1000);
}
BENCHMARK(BM_RepeatedEntry)->Unit(benchmark::kMillisecond);

// And past the limit.
void BM_RepeatedEntryPastTheLimit(benchmark::State& state) {
  static const Lists lists = MakeLists(5001, 5001, 0, kEntries, true);
  Compare(state, lists, 1);
}
BENCHMARK(BM_RepeatedEntryPastTheLimit)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
