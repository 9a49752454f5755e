// Generated assemblies for the benchmarks: a grid of parts, most apart, some touching or overlapping.
#pragma once

#include <nimbo/assembly/Assembly.h>

#include <benchmark/benchmark.h>
#include <BRepPrimAPI_MakeBox.hxx>
#include <BRepPrimAPI_MakeCylinder.hxx>
#include <gp_Ax2.hxx>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace nimbo::bench {

/// The benchmark's input for its first argument, made by `make(argument)` the first time only (one
/// cache per call site: each lambda is a type of its own).
template <typename Made, typename Make>
const Made &madeOnce(const benchmark::State &state, Make make) {
  static std::map<int, Made> cache;
  const int argument = static_cast<int>(state.range(0));
  auto found = cache.find(argument);
  if (found == cache.end()) found = cache.emplace(argument, make(argument)).first;
  return found->second;
}

/// The side of the smallest cubic grid of at least `parts` cells.
inline int sideFor(int parts) {
  int side = 1;
  while (side * side * side < parts) ++side;
  return side;
}

/// A file of the shared CAD folder beside the repository; empty when that folder is not there.
inline std::string sharedCadFile(const std::string &name) {
  const std::filesystem::path file = std::filesystem::path(NIMBO_SAMPLES_DIR) / "../../shared/cad" / name;
  return std::filesystem::exists(file) ? file.string() : std::string();
}

/// side^3 parts on a 20 mm pitch, each in its cell: mostly 10 mm blocks 10 mm apart, and, by a
/// pattern that gives neighbours different kinds, one cell in 15 of each of: a pin (radius 2) whose
/// ends touch the blocks below and above it in y, a block 1 mm too long in x that overlaps the
/// next one, a block twice as tall in z that touches the next one by a face. About 0.23 pairs
/// meet per part.
inline std::vector<Part> blockGrid(int side) {
  std::vector<Part> parts;
  for (int i = 0; i < side; ++i) {
    for (int j = 0; j < side; ++j) {
      for (int k = 0; k < side; ++k) {
        const double x = 20.0 * i, y = 20.0 * j, z = 20.0 * k;
        const int kind = (i + 3 * j + 7 * k) % 15;
        TopoDS_Shape shape;
        if (kind == 3) {
          shape = BRepPrimAPI_MakeCylinder(gp_Ax2(gp_Pnt(x + 5, y - 10, z + 5), gp_Dir(0, 1, 0)), 2, 30).Shape();
        } else {
          const gp_Pnt far(x + (kind == 6 ? 21 : 10), y + 10, z + (kind == 9 ? 20 : 10));
          shape = BRepPrimAPI_MakeBox(gp_Pnt(x, y, z), far).Shape();
        }
        const std::string path = "cell_" + std::to_string(i) + "_" + std::to_string(j) + "_" + std::to_string(k);
        parts.push_back({path, kind == 3 ? "pin" : "block", shape, std::nullopt});
      }
    }
  }
  return parts;
}

/// side^3 blocks of 10 mm, each touching its neighbours by whole faces.
inline std::vector<Part> touchingGrid(int side) {
  std::vector<Part> parts;
  for (int i = 0; i < side; ++i) {
    for (int j = 0; j < side; ++j) {
      for (int k = 0; k < side; ++k) {
        const gp_Pnt corner(10.0 * i, 10.0 * j, 10.0 * k);
        const TopoDS_Shape block =
            BRepPrimAPI_MakeBox(corner, gp_Pnt(corner.X() + 10, corner.Y() + 10, corner.Z() + 10)).Shape();
        parts.push_back({"block_" + std::to_string(parts.size()), "block", block, std::nullopt});
      }
    }
  }
  return parts;
}

}  // namespace nimbo::bench
