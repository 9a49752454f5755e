// Cost of the diagnostics: one process dump, and one exception construction (which logs and dumps).
#include <nimbo/crash_dump.h>
#include <nimbo/nimbo_exception.h>

#include <benchmark/benchmark.h>
#include <easylogging++.h>

#include <stdlib.h>

#include <filesystem>
#include <optional>
#include <string>

namespace {

/// Points TEMP at a fresh folder for the benchmark and removes it, dumps and all, afterwards.
class ScratchTemp {
 public:
  ScratchTemp() {
    std::string pattern = (std::filesystem::temp_directory_path() / "nimbo-bench-XXXXXX").string();
    if (mkdtemp(pattern.data()) != nullptr) folder_ = pattern;
    if (const char *old = getenv("TEMP")) old_ = old;
    setenv("TEMP", folder_.c_str(), 1);
  }
  ~ScratchTemp() {
    if (old_) {
      setenv("TEMP", old_->c_str(), 1);
    } else {
      unsetenv("TEMP");
    }
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
  }
  ScratchTemp(const ScratchTemp &) = delete;
  ScratchTemp &operator=(const ScratchTemp &) = delete;

 private:
  std::string folder_;
  std::optional<std::string> old_;
};

void BM_write_minidump(benchmark::State &state) {
  ScratchTemp temp;
  for (auto _ : state) benchmark::DoNotOptimize(write_minidump());
}
BENCHMARK(BM_write_minidump)->Unit(benchmark::kMicrosecond);

void BM_nimbo_exception_construction(benchmark::State &state) {
  ScratchTemp temp;
  // Records are still formatted and dispatched, but neither printed nor filed: the figure is the
  // exception's, not the terminal's.
  el::Loggers::reconfigureLogger("default", el::ConfigurationType::ToStandardOutput, "false");
  el::Loggers::reconfigureLogger("default", el::ConfigurationType::ToFile, "false");
  for (auto _ : state) {
    const nimbo_exception exception("Cannot open part.step");
    benchmark::DoNotOptimize(exception.what());
  }
}
BENCHMARK(BM_nimbo_exception_construction)->Unit(benchmark::kMicrosecond);

}  // namespace
