// imprintAssembly of grids of 27, 125 and 1000 blocks that touch by faces, and of the bolted-joint
// sample, beside Gmsh's own fragment of the same parts through its API: what a user of Gmsh has.
#include "bench_assemblies.h"

#include <benchmark/benchmark.h>
#include <gmsh.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace {

// Empty when the shared CAD folder is missing; the cases then skip.
const std::vector<nimbo::Part> &parts(benchmark::State &state) {
  return nimbo::bench::madeOnce<std::vector<nimbo::Part>>(state, [](int count) {
    if (count == 0) return nimbo::readAssembly(std::string(NIMBO_SAMPLES_DIR) + "/bolted_joint.step").parts;
    if (count == 18) {
      const std::string file = nimbo::bench::sharedCadFile("caxif_as1-tu-203_asm.stp");
      return file.empty() ? std::vector<nimbo::Part>() : nimbo::readAssembly(file).parts;
    }
    return nimbo::bench::touchingGrid(nimbo::bench::sideFor(count));
  });
}

// Argument 0 is the sample joint (11 parts), 18 the bolted assembly caxif_as1 of ../shared/cad, others
// the block grids.
void sizes(benchmark::internal::Benchmark *b) {
  b->Arg(0)->Arg(18)->Arg(27)->Arg(125)->Arg(1000)->Unit(benchmark::kMillisecond);
}

void run(benchmark::State &state, const nimbo::ImprintOptions &options) {
  const std::vector<nimbo::Part> &given = parts(state);
  if (given.empty()) {
    state.SkipWithError("no ../shared/cad beside the repository");
    return;
  }
  std::size_t shared = 0;
  for (auto _ : state) {
    const nimbo::Imprint imprint = nimbo::imprintAssembly(given, options);
    shared = 0;
    for (const nimbo::Interface &interface : imprint.interfaces) shared += interface.faces.size();
  }
  state.counters["shared_faces"] = static_cast<double>(shared);
}

void BM_Imprint(benchmark::State &state) { run(state, {}); }
BENCHMARK(BM_Imprint)->Apply(sizes);

// The grid's blocks meet by whole faces, which the full glue is for.
void BM_ImprintGlueFull(benchmark::State &state) {
  nimbo::ImprintOptions options;
  options.glue = nimbo::Glue::full;
  run(state, options);
}
BENCHMARK(BM_ImprintGlueFull)->Arg(27)->Arg(125)->Arg(1000)->Unit(benchmark::kMillisecond);

// The parts handed to Gmsh in memory and fragmented with its defaults.
void BM_Imprint_baseline(benchmark::State &state) {
  const std::vector<nimbo::Part> &given = parts(state);
  if (given.empty()) {
    state.SkipWithError("no ../shared/cad beside the repository");
    return;
  }
  std::size_t volumes = 0;
  std::size_t shared = 0;
  for (auto _ : state) {
    gmsh::initialize(0, nullptr, false);
    gmsh::option::setNumber("General.Terminal", 0);
    gmsh::model::add("baseline");
    gmsh::vectorpair all;
    for (const nimbo::Part &part : given) {
      gmsh::vectorpair imported;
      gmsh::model::occ::importShapesNativePointer(&part.shape, imported, true);
      all.insert(all.end(), imported.begin(), imported.end());
    }
    gmsh::vectorpair out;
    std::vector<gmsh::vectorpair> map;
    gmsh::model::occ::fragment(all, {}, out, map);
    gmsh::model::occ::synchronize();
    gmsh::vectorpair entities;
    gmsh::model::getEntities(entities, 3);
    volumes = entities.size();
    gmsh::model::getEntities(entities, 2);
    shared = 0;
    for (const auto &[dim, tag] : entities) {
      std::vector<int> up, down;
      gmsh::model::getAdjacencies(dim, tag, up, down);
      if (up.size() == 2) ++shared;
    }
    gmsh::finalize();
  }
  state.counters["volumes"] = static_cast<double>(volumes);
  state.counters["shared_faces"] = static_cast<double>(shared);
}
BENCHMARK(BM_Imprint_baseline)->Apply(sizes);

}  // namespace
