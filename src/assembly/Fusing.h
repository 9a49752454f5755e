// The general fuse of solid parts, shared by the interference check and the imprint: its set-up,
// what it made of each argument, which of its solids came from which, and the faces between them.
// Private to the assembly module.
#pragma once

#include <nimbo/assembly/Assembly.h>

#include <BOPAlgo_Builder.hxx>
#include <Message_ProgressRange.hxx>
#include <TopAbs_ShapeEnum.hxx>
#include <TopTools_IndexedMapOfShape.hxx>
#include <TopoDS_Shape.hxx>

#include <cstddef>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace nimbo::detail {

/// The positions of the solid parts in `parts` (a solid, or a compound of solids only: what takes
/// part in volume work); the others' go to `others`.
std::vector<std::size_t> solidPartsOf(const std::vector<Part> &parts, std::vector<std::size_t> &others);

/// The shapes in one compound, in order.
TopoDS_Shape compoundOf(const std::vector<TopoDS_Shape> &shapes);

/// How a general fuse is set up beyond its arguments.
struct FuseSettings {
  bool parallel = false;  ///< the kernel's own threads, for one big fuse
  Glue glue = Glue::off;
  double fuzzy = 0.0;  ///< 0 for the shapes' own tolerances
};

/// The glue the general fuse of `arguments` (with that fuzzy value) can use and still give what it
/// gives without one: full where the arguments only share whole faces, edges and vertices, shift
/// where faces also lie on one another in part or edges rest on faces, off where faces may cross or
/// the check cannot tell cheaply.
Glue chosenGlue(const std::vector<TopoDS_Shape> &arguments, double fuzzy);

/// Runs the general fuse of `arguments` into `fuse` and returns its errors as one text, empty when it
/// succeeded. It never changes the arguments (instances of one product share topology, which other
/// threads may be reading). One argument alone is left unfused: its solids stay as they are.
std::string runFuse(BOPAlgo_Builder &fuse, const std::vector<TopoDS_Shape> &arguments, const FuseSettings &settings,
                    const Message_ProgressRange &progress = Message_ProgressRange());

/// What the fuse made of `shape`'s sub-shapes of `type`: their splits, or themselves where unsplit,
/// each once, in the order the sub-shapes are explored.
std::vector<TopoDS_Shape> imagesOf(BOPAlgo_Builder &fuse, const TopoDS_Shape &shape, TopAbs_ShapeEnum type);

/// Every solid the fuse made, in the order of its arguments, with the arguments it came from: one
/// for most, two or more for the common region of overlapping arguments.
struct FusedSolids {
  TopTools_IndexedMapOfShape solids;
  std::vector<std::vector<std::size_t>> owners;  ///< by solid (from 0), argument positions ascending

  /// The argument a solid is given to: the earliest it came from.
  std::size_t keeperOf(int solid) const { return owners[static_cast<std::size_t>(solid) - 1].front(); }
};

FusedSolids fusedSolidsOf(BOPAlgo_Builder &fuse, const std::vector<TopoDS_Shape> &arguments);

/// The sub-shapes of `type` of the fused solids by what lies on either side, each solid counted for
/// its keeper: those that solids of two arguments share, by that pair, and (for faces) those that
/// bound one solid only, by its keeper. A face between two solids of one argument is in neither.
struct Sides {
  std::map<std::pair<std::size_t, std::size_t>, std::vector<TopoDS_Shape>> shared;
  std::map<std::size_t, std::vector<TopoDS_Shape>> outer;
};

Sides sidesOf(const FusedSolids &fused, TopAbs_ShapeEnum type);

}  // namespace nimbo::detail
