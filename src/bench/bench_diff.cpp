// diffAssemblies of two revisions of the generated grids (27, 64 and 1000 parts), one part in 20
// moved and one in 100 drilled, beside a careful user's loop: isShapeEqualToAny of each new part
// against the old list, then the leftovers paired by name.
#include "bench_assemblies.h"

#include <nimbo/topology/ShapeAlgorithms.h>

#include <benchmark/benchmark.h>
#include <BRepAlgoAPI_Cut.hxx>
#include <BRepBndLib.hxx>
#include <Bnd_Box.hxx>
#include <TopLoc_Location.hxx>

#include <map>
#include <utility>
#include <vector>

namespace {

using Revisions = std::pair<std::vector<nimbo::Part>, std::vector<nimbo::Part>>;

// The grid, and the same grid with one part in 20 moved up 3 mm and one in 100 drilled.
Revisions revisionsOf(int count) {
  std::vector<nimbo::Part> before = nimbo::bench::blockGrid(nimbo::bench::sideFor(count));
  std::vector<nimbo::Part> after = before;
  for (std::size_t k = 0; k < after.size(); ++k) {
    if (k % 20 == 7) {
      gp_Trsf up;
      up.SetTranslation(gp_Vec(0, 0, 3));
      after[k].shape = after[k].shape.Moved(TopLoc_Location(up));
    } else if (k % 100 == 50) {
      Bnd_Box box;
      BRepBndLib::Add(after[k].shape, box);
      const gp_Pnt low = box.CornerMin();
      const TopoDS_Shape drill =
          BRepPrimAPI_MakeCylinder(gp_Ax2(gp_Pnt(low.X() + 3, low.Y() + 3, low.Z() - 1), gp_Dir(0, 0, 1)), 1, 40)
              .Shape();
      after[k].shape = BRepAlgoAPI_Cut(after[k].shape, drill).Shape();
    }
  }
  return {std::move(before), std::move(after)};
}

const Revisions &revisions(benchmark::State &state) { return nimbo::bench::madeOnce<Revisions>(state, revisionsOf); }

void BM_DiffAssemblies(benchmark::State &state) {
  const auto &[before, after] = revisions(state);
  nimbo::AssemblyDiff diff;
  for (auto _ : state) diff = nimbo::diffAssemblies(before, after);
  state.counters["unchanged"] = static_cast<double>(diff.unchanged.size());
  state.counters["moved"] = static_cast<double>(diff.moved.size());
  state.counters["modified"] = static_cast<double>(diff.modified.size());
}
BENCHMARK(BM_DiffAssemblies)->Arg(27)->Arg(64)->Arg(1000)->Unit(benchmark::kMillisecond);

void BM_DiffAssemblies_baseline(benchmark::State &state) {
  const auto &[before, after] = revisions(state);
  TopTools_ListOfShape old;
  for (const nimbo::Part &part : before) old.Append(part.shape);
  std::size_t unchanged = 0;
  std::size_t by_name = 0;
  for (auto _ : state) {
    unchanged = by_name = 0;
    std::map<std::string, std::size_t> leftover;
    for (const nimbo::Part &part : before) leftover[part.path] = 1;
    for (const nimbo::Part &part : after) {
      if (isShapeEqualToAny(part.shape, old)) {
        ++unchanged;
        leftover.erase(part.path);
      } else if (leftover.count(part.path) != 0) {
        ++by_name;
      }
    }
  }
  state.counters["unchanged"] = static_cast<double>(unchanged);
  state.counters["by_name"] = static_cast<double>(by_name);
}
BENCHMARK(BM_DiffAssemblies_baseline)->Arg(27)->Arg(64)->Unit(benchmark::kMillisecond);
// Quadratic: nearly seven minutes a run at 1000 parts, so once.
BENCHMARK(BM_DiffAssemblies_baseline)->Arg(1000)->Unit(benchmark::kMillisecond)->Repetitions(1);

}  // namespace
