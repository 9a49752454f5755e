// findInterferences on generated grids of 27, 64 and 1000 parts, beside a careful caller's loop of
// one Boolean common and one distance per pair; also with one thread and with the box sweep off,
// to show where the speed comes from. On caxif_as1 of ../shared/cad, beside the brute force that
// also fuses every pair at contact distance.
#include "bench_assemblies.h"

#include <benchmark/benchmark.h>
#include <BOPAlgo_Builder.hxx>
#include <BRepAlgoAPI_Common.hxx>
#include <BRepExtrema_DistShapeShape.hxx>
#include <TopExp_Explorer.hxx>

#include <map>
#include <vector>

namespace {

const std::vector<nimbo::Part> &grid(benchmark::State &state) {
  return nimbo::bench::madeOnce<std::vector<nimbo::Part>>(
      state, [](int parts) { return nimbo::bench::blockGrid(nimbo::bench::sideFor(parts)); });
}

void run(benchmark::State &state, const nimbo::InterferenceOptions &options) {
  const std::vector<nimbo::Part> &parts = grid(state);
  nimbo::Interferences found;
  for (auto _ : state) found = nimbo::findInterferences(parts, options);
  state.counters["meeting"] = static_cast<double>(found.overlaps.size() + found.contacts.size());
  state.counters["candidates"] = static_cast<double>(found.candidates);
}

void BM_FindInterferences(benchmark::State &state) { run(state, {}); }
BENCHMARK(BM_FindInterferences)->Arg(27)->Arg(64)->Arg(1000)->Unit(benchmark::kMillisecond);

void BM_FindInterferencesOneThread(benchmark::State &state) {
  nimbo::InterferenceOptions options;
  options.threads = 1;
  run(state, options);
}
BENCHMARK(BM_FindInterferencesOneThread)->Arg(27)->Arg(64)->Arg(1000)->Unit(benchmark::kMillisecond);

// Every pair to exact geometry: the part and face boxes inside the pair test still reject most pairs
// in microseconds, but there are N^2 / 2 of them.
void BM_FindInterferencesAllPairs(benchmark::State &state) {
  nimbo::InterferenceOptions options;
  options.broadPhase = false;
  run(state, options);
}
BENCHMARK(BM_FindInterferencesAllPairs)->Arg(27)->Arg(64)->Arg(1000)->Unit(benchmark::kMillisecond);

// The brute force's test of one pair: a Boolean common (overlap when it holds a solid) and a
// distance (contact within `touching`).
bool meetByBruteForce(const TopoDS_Shape &a, const TopoDS_Shape &b, double touching) {
  BRepAlgoAPI_Common common(a, b);
  const bool overlap = TopExp_Explorer(common.Shape(), TopAbs_SOLID).More();
  BRepExtrema_DistShapeShape distance(a, b);
  return overlap || (distance.IsDone() && distance.Value() <= touching);
}

// What a user writes without the library: that test for every pair, on one thread.
void BM_FindInterferences_baseline(benchmark::State &state) {
  const std::vector<nimbo::Part> &parts = grid(state);
  std::size_t meeting = 0;
  for (auto _ : state) {
    meeting = 0;
    for (std::size_t i = 0; i < parts.size(); ++i) {
      for (std::size_t j = i + 1; j < parts.size(); ++j)
        meeting += meetByBruteForce(parts[i].shape, parts[j].shape, 1e-6);
    }
  }
  state.counters["meeting"] = static_cast<double>(meeting);
}
BENCHMARK(BM_FindInterferences_baseline)->Arg(27)->Arg(64)->Unit(benchmark::kMillisecond);

const std::vector<nimbo::Part> &as1(benchmark::State &state) {
  return nimbo::bench::madeOnce<std::vector<nimbo::Part>>(state, [](int) {
    const std::string file = nimbo::bench::sharedCadFile("caxif_as1-tu-203_asm.stp");
    return file.empty() ? std::vector<nimbo::Part>{} : nimbo::readAssembly(file).parts;
  });
}

void clashAs1(benchmark::State &state, int threads) {
  const std::vector<nimbo::Part> &parts = as1(state);
  if (parts.empty()) return state.SkipWithError("no ../shared/cad beside the repository");
  nimbo::InterferenceOptions options;
  options.threads = threads;
  nimbo::Interferences found;
  for (auto _ : state) found = nimbo::findInterferences(parts, options);
  state.counters["meeting"] = static_cast<double>(found.overlaps.size() + found.contacts.size());
}

// /18: caxif_as1's 18 parts, on every core and on one.
void BM_ClashFile(benchmark::State &state) { clashAs1(state, 0); }
BENCHMARK(BM_ClashFile)->Arg(18)->Unit(benchmark::kMillisecond)->Iterations(1);
void BM_ClashFileOneThread(benchmark::State &state) { clashAs1(state, 1); }
BENCHMARK(BM_ClashFileOneThread)->Arg(18)->Unit(benchmark::kMillisecond)->Iterations(1);

// The brute force on one thread: every pair's common and distance, and a general fuse of the pairs
// at contact distance for their shared faces.
void BM_ClashFile_baseline(benchmark::State &state) {
  const std::vector<nimbo::Part> &parts = as1(state);
  if (parts.empty()) return state.SkipWithError("no ../shared/cad beside the repository");
  const double touching = nimbo::findInterferences(parts).contactTolerance;
  std::size_t meeting = 0;
  for (auto _ : state) {
    meeting = 0;
    for (std::size_t i = 0; i < parts.size(); ++i) {
      for (std::size_t j = i + 1; j < parts.size(); ++j) {
        if (meetByBruteForce(parts[i].shape, parts[j].shape, touching)) {
          BOPAlgo_Builder fuse;
          fuse.SetNonDestructive(true);
          fuse.AddArgument(parts[i].shape);
          fuse.AddArgument(parts[j].shape);
          fuse.Perform();
          ++meeting;
        }
      }
    }
  }
  state.counters["meeting"] = static_cast<double>(meeting);
}
BENCHMARK(BM_ClashFile_baseline)->Arg(18)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace
