// What the check, the sewing and the healing share: a part's findings against H, and its faces sewn.
// Private to the module.
#pragma once

#include <nimbo/heal/Heal.h>

#include <TopTools_IndexedMapOfShape.hxx>
#include <TopoDS_Shape.hxx>

#include <cstddef>
#include <functional>
#include <vector>

namespace nimbo::detail {

/// Findings of one shape against H; the self-intersection check, the slowest, only when asked.
std::vector<Finding> findingsOf(const TopoDS_Shape &shape, double size, const HealOptions &options,
                                bool selfIntersections);

/// The verdict the findings give.
Verdict verdictOf(const std::vector<Finding> &findings);

/// Whether the kernel's analyzer finds the shape valid.
bool isValid(const TopoDS_Shape &shape);

/// How many sub-shapes of that type the shape holds, each once.
std::size_t countOf(const TopoDS_Shape &shape, TopAbs_ShapeEnum type);

/// The positions in `edges` of the edges that bound a single face of the shape: neither degenerate
/// nor the seam of a closed face.
std::vector<int> freeEdges(const TopoDS_Shape &shape, const TopTools_IndexedMapOfShape &edges);

/// The shells of the shape sewn at `tolerance`, and solids made of those that close: the solids
/// alone when every shell closed, else the sewn shape as it is. Null when sewing failed.
TopoDS_Shape sewn(const TopoDS_Shape &shape, double tolerance, bool &closed);

/// The solids made of the shells (and lone faces) of a sewn shape, as sewn() gives them.
TopoDS_Shape solidsOf(const TopoDS_Shape &joined, bool &closed);

/// Parts without solids whose faces close into solids only together.
struct SewnGroup {
  std::vector<std::size_t> parts;  ///< ascending
  TopoDS_Shape solids;             ///< what their faces make, sewn together
};

/// Sews the faces of the shapes together at `tolerance` and returns the groups (of two or more) whose
/// faces all end in closed shells; `owners[k]` names shapes[k] in the groups.
std::vector<SewnGroup> sewnTogether(const std::vector<TopoDS_Shape> &shapes, const std::vector<std::size_t> &owners,
                                    double tolerance);

/// Runs work(k) for every k < count on the threads asked (0: one per core); work must not throw.
void forEachPart(std::size_t count, int threads, const std::function<void(std::size_t)> &work);

}  // namespace nimbo::detail
