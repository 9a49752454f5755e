// Cost of the diagnostics: one process dump, and one exception construction (which logs and dumps).
#include <nimbo/crash_dump.h>
#include <nimbo/nimbo_exception.h>
#include "utf8.h"

#include "test_helpers.h"

#include <benchmark/benchmark.h>
#include <easylogging++.h>

#include <stdexcept>
#include <string>

namespace {

// Records are still formatted and dispatched, but neither printed nor filed: the figure is the
// diagnostics', not the terminal's.
void silenceDefaultLogger() {
  el::Loggers::reconfigureLogger("default", el::ConfigurationType::ToStandardOutput, "false");
  el::Loggers::reconfigureLogger("default", el::ConfigurationType::ToFile, "false");
}

void BM_WriteMinidump(benchmark::State &state) {
  const nimbo::test::TempDirAsTemp temp;
  for (auto _ : state) benchmark::DoNotOptimize(write_minidump());
}
BENCHMARK(BM_WriteMinidump)->Unit(benchmark::kMicrosecond);

void BM_NimboException(benchmark::State &state) {
  const nimbo::test::TempDirAsTemp temp;
  silenceDefaultLogger();
  for (auto _ : state) {
    const nimbo_exception exception("Cannot open part.step");
    benchmark::DoNotOptimize(exception.what());
  }
}
BENCHMARK(BM_NimboException)->Unit(benchmark::kMicrosecond);

// The same records and dump made inline, without the worker thread the exception writes its dump on.
void BM_NimboException_baseline(benchmark::State &state) {
  const nimbo::test::TempDirAsTemp temp;
  silenceDefaultLogger();
  for (auto _ : state) {
    const std::string message = "Cannot open part.step";
    LOG(ERROR) << message;
    LOG(ERROR) << "Exception dump written to " << wide_to_utf8(write_minidump());
    const std::domain_error exception(message);
    benchmark::DoNotOptimize(exception.what());
  }
}
BENCHMARK(BM_NimboException_baseline)->Unit(benchmark::kMicrosecond);

}  // namespace
