// renderSvg of the sample joint, of the largest part of ../shared/cad (fusee_metre.stp, 249 faces),
// of caxif_as1 and of the generated 1000-part grid, with hidden lines removed on the triangulation
// and exactly; and the 3D page of the same parts beside the drawing. With NIMBO_BENCH_PAGES set to a
// folder, the pages are left there for scripts/bench-pages.py to time in a browser.
#include "bench_assemblies.h"

#include <nimbo/environment_variables.h>
#include <nimbo/html/Html.h>
#include <nimbo/render/Render.h>

#include <benchmark/benchmark.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace {

// 0: the sample joint, 1: fusee_metre.stp, 2: caxif_as1, 1000: the grid; none without ../shared/cad.
const std::vector<nimbo::Part> &parts(benchmark::State &state) {
  return nimbo::bench::madeOnce<std::vector<nimbo::Part>>(state, [](int which) {
    const std::string shared = nimbo::bench::sharedCadFile(which == 1 ? "fusee_metre.stp" : "caxif_as1-tu-203_asm.stp");
    if (which == 0) return nimbo::readAssembly(std::string(NIMBO_SAMPLES_DIR) + "/bolted_joint.step").parts;
    if (which == 1000) return nimbo::bench::blockGrid(10);
    return shared.empty() ? std::vector<nimbo::Part>{} : nimbo::readAssembly(shared).parts;
  });
}

const std::vector<nimbo::RenderItem> &items(benchmark::State &state) {
  return nimbo::bench::madeOnce<std::vector<nimbo::RenderItem>>(state, [&state](int) {
    const std::vector<nimbo::Part> &parts = ::parts(state);
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
BENCHMARK(BM_RenderSvg)->Arg(0)->Arg(1)->Arg(2)->Arg(1000)->Unit(benchmark::kMillisecond);

void BM_RenderSvgExact(benchmark::State &state) { draw(state, true); }
BENCHMARK(BM_RenderSvgExact)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// The page of the parts, three.js and the triangulation included: its peer is the drawing above.
void BM_WritePage(benchmark::State &state) {
  const std::vector<nimbo::Part> &given = parts(state);
  if (given.empty()) {
    state.SkipWithError("no ../shared/cad beside the repository");
    return;
  }
  const std::string names[] = {"joint", "fusee", "as1"};
  const std::string name = state.range(0) == 1000 ? "grid1000" : names[state.range(0)];
  const std::string folder = environment_variable("NIMBO_BENCH_PAGES").value_or(temp_directory());
  const std::string path = folder + "/page_" + name + ".html";
  for (auto _ : state) nimbo::writePage(nimbo::partsPage(given, name), path);
  state.counters["page_kb"] = static_cast<double>(std::filesystem::file_size(path)) / 1024;
  if (!environment_variable("NIMBO_BENCH_PAGES")) std::filesystem::remove(path);
}
BENCHMARK(BM_WritePage)->Arg(0)->Arg(2)->Arg(1000)->Unit(benchmark::kMillisecond);

}  // namespace
