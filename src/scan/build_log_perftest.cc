#include <random>
#include <string>

#include <benchmark/benchmark.h>

#include "scan/scan.h"
#include "scan/scan_testing.h"

namespace {

// About 45% compile lines, as in a parallel full rebuild.
std::string DenseLog(size_t size) {
  std::mt19937 random(1);
  std::string log;
  while (log.size() < size) {
    const auto n = random() % 100;
    const std::string file = "module_" + std::to_string(random() % 1000);
    if (n < 45)
      log += std::to_string(n % 16) + "> Compiling ../../Source/App/" + file +
             ".c ...\r\n";
    else if (n < 55)
      log += "3> Compiling ../../Source/App/" + file + ".cpp ...\r\n";
    else
      log += "..\\..\\Source\\" + file +
             ".c:12:3: warning: unused variable 'x' [-Wunused-variable]\r\n";
  }
  return log;
}

// Long linker lines, a compile line now and then.
std::string SparseLog(size_t size) {
  const std::string linker =
      "arm-none-eabi-gcc -o app.elf" + std::string(30000, 'o') + "\r\n";
  std::string log;
  while (log.size() < size)
    log += linker + "Compiling ../../Source/App/main.c ...\r\n";
  return log;
}

void Scan(benchmark::State& state, const std::string& log) {
  for (auto _ : state) {
    TextSource text(log);
    SourceFileList list;
    benchmark::DoNotOptimize(ScanBuildLog(text, &list));
    benchmark::DoNotOptimize(list.count);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(log.size()));
}

void BM_ScanDense(benchmark::State& state) {
  static const std::string log = DenseLog(64 << 20);
  Scan(state, log);
}
BENCHMARK(BM_ScanDense)->Unit(benchmark::kMillisecond);

void BM_ScanSparse(benchmark::State& state) {
  static const std::string log = SparseLog(64 << 20);
  Scan(state, log);
}
BENCHMARK(BM_ScanSparse)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
