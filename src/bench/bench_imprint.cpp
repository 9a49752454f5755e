// imprintAssembly of grids of 27, 125 and 1000 blocks that touch by faces, and of the bolted-joint
// sample, beside Gmsh's own fragment of the same parts through its API: what a user of Gmsh has.
// meshAssembly of caxif_as1's imprint at size 5, beside Gmsh alone meshing that compound with the
// same sizes.
#include "bench_assemblies.h"

#include <nimbo/environment_variables.h>
#include <nimbo/mesh/Mesh.h>

#include <benchmark/benchmark.h>
#include <gmsh.h>

#include <cmath>
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

// caxif_as1 imprinted once, for the meshing cases.
const nimbo::Imprint *imprinted(benchmark::State &state) {
  const std::vector<nimbo::Part> &given = parts(state);
  if (given.empty()) return nullptr;
  static const nimbo::Imprint made = nimbo::imprintAssembly(given);
  return &made;
}

const std::string scratchMesh = temp_directory() + "/nimbo_bench_mesh.msh";

// /18: the meshing stage of `mesh caxif_as1 --size 5`.
void BM_MeshFile(benchmark::State &state) {
  const nimbo::Imprint *imprint = imprinted(state);
  if (!imprint) return state.SkipWithError("no ../shared/cad beside the repository");
  nimbo::MeshOptions options;
  options.size = 5;
  nimbo::MeshSummary summary;
  for (auto _ : state) summary = nimbo::meshAssembly(*imprint, scratchMesh, options);
  state.counters["elements"] = static_cast<double>(summary.elements);
}
BENCHMARK(BM_MeshFile)->Arg(18)->Unit(benchmark::kMillisecond)->Iterations(1);

// Gmsh alone on the imprinted compound: the same largest and smallest sizes and curvature sizing,
// one thread, the mesh written.
void BM_MeshFile_baseline(benchmark::State &state) {
  const nimbo::Imprint *imprint = imprinted(state);
  if (!imprint) return state.SkipWithError("no ../shared/cad beside the repository");
  std::size_t elements = 0;
  for (auto _ : state) {
    gmsh::initialize(0, nullptr, false);
    gmsh::option::setNumber("General.Terminal", 0);
    gmsh::model::add("baseline");
    gmsh::vectorpair imported;
    gmsh::model::occ::importShapesNativePointer(&imprint->compound, imported, false);
    gmsh::model::occ::synchronize();
    double x0 = 0, y0 = 0, z0 = 0, x1 = 0, y1 = 0, z1 = 0;
    gmsh::model::getBoundingBox(-1, -1, x0, y0, z0, x1, y1, z1);
    gmsh::option::setNumber("Mesh.MeshSizeMax", 5);
    gmsh::option::setNumber("Mesh.MeshSizeFromCurvature", 12);
    gmsh::option::setNumber("Mesh.MeshSizeMin", 1e-4 * std::hypot(x1 - x0, y1 - y0, z1 - z0));
    gmsh::model::mesh::generate(3);
    gmsh::write(scratchMesh);
    std::vector<int> types;
    std::vector<std::vector<std::size_t>> tags, nodes;
    gmsh::model::mesh::getElements(types, tags, nodes, 3);
    elements = 0;
    for (const auto &list : tags) elements += list.size();
    gmsh::finalize();
  }
  state.counters["elements"] = static_cast<double>(elements);
}
BENCHMARK(BM_MeshFile_baseline)->Arg(18)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace
