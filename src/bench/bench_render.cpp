// renderSvg of the sample joint, of the largest part of ../shared/cad (fusee_metre.stp, 249 faces)
// and of the generated 1000-part grid, with hidden lines removed on the triangulation and exactly.
#include "bench_assemblies.h"

#include <nimbo/render/Render.h>

#include <benchmark/benchmark.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace {

// 0: the sample joint, 1: fusee_metre.stp, 1000: the grid.
const std::vector<nimbo::RenderItem> &items(benchmark::State &state) {
  return nimbo::bench::madeOnce<std::vector<nimbo::RenderItem>>(state, [](int which) {
    std::vector<nimbo::Part> parts;
    const std::string fusee = nimbo::bench::sharedCadFile("fusee_metre.stp");
    if (which == 0) parts = nimbo::readAssembly(std::string(NIMBO_SAMPLES_DIR) + "/bolted_joint.step").parts;
    if (which == 1 && !fusee.empty()) parts = nimbo::readAssembly(fusee).parts;
    if (which == 1000) parts = nimbo::bench::blockGrid(10);
    std::vector<nimbo::RenderItem> made;
    for (std::size_t i = 0; i < parts.size(); ++i) {
      made.push_back({parts[i].shape, {nimbo::paletteColor(i), std::nullopt, ""}});
    }
    return made;
  });
}

void draw(benchmark::State &state, bool exact) {
  const std::vector<nimbo::RenderItem> &given = items(state);
  if (given.empty()) {
    state.SkipWithError("no ../shared/cad beside the repository");
    return;
  }
  nimbo::RenderOptions options;
  options.exact = exact;
  options.hidden = true;
  std::size_t bytes = 0;
  for (auto _ : state) bytes = nimbo::renderSvg(given, nimbo::viewNamed("iso"), options).size();
  state.counters["svg_kb"] = static_cast<double>(bytes) / 1024;
}

void BM_RenderSvg(benchmark::State &state) { draw(state, false); }
BENCHMARK(BM_RenderSvg)->Arg(0)->Arg(1)->Arg(1000)->Unit(benchmark::kMillisecond);

void BM_RenderSvgExact(benchmark::State &state) { draw(state, true); }
BENCHMARK(BM_RenderSvgExact)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

}  // namespace
