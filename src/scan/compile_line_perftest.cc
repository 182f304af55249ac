#include <string>

#include <benchmark/benchmark.h>

#include "scan/scan.h"

namespace {

void Run(benchmark::State& state, const std::string& line) {
  std::string_view sourceFile;
  for (auto _ : state) {
    bool matched = MatchCompileLine(line, &sourceFile);
    benchmark::DoNotOptimize(matched);
    benchmark::DoNotOptimize(sourceFile);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(line.size()));
}

void BM_Matching(benchmark::State& state) {
  Run(state, "12> Compiling ../../Middlewares/FreeRTOS/Source/tasks.c ...");
}
BENCHMARK(BM_Matching);

void BM_MatchingBackslashes(benchmark::State& state) {
  Run(state, "3> Compiling ..\\..\\Drivers\\STM32F4xx_HAL_Driver\\Src\\hal.c ...");
}
BENCHMARK(BM_MatchingBackslashes);

// Most lines of a log fail on their last characters.
void BM_NotMatchingTail(benchmark::State& state) {
  Run(state,
      "..\\..\\Source\\App\\main.c:88:14: warning: comparison of integer "
      "expressions of different signedness [-Wsign-compare]");
}
BENCHMARK(BM_NotMatchingTail);

// A C++ file gets as far as the extension.
void BM_NotMatchingCpp(benchmark::State& state) {
  Run(state, "7> Compiling ../../Source/App/widget.cpp ...");
}
BENCHMARK(BM_NotMatchingCpp);

// A compile line whose path is the given number of bytes long.
void BM_LongMatching(benchmark::State& state) {
  Run(state, "Compiling ../../" +
                 std::string(static_cast<size_t>(state.range(0)), 'd') +
                 ".c ...");
}
BENCHMARK(BM_LongMatching)->Range(1 << 10, 16 << 20);

// A linker line that ends like a compile line but holds no word Compiling.
void BM_LongNotMatching(benchmark::State& state) {
  Run(state, "arm-none-eabi-gcc -o app.elf " +
                 std::string(static_cast<size_t>(state.range(0)), 'o') +
                 " lib.c ...");
}
BENCHMARK(BM_LongNotMatching)->Range(1 << 10, 16 << 20);

}  // namespace

BENCHMARK_MAIN();
