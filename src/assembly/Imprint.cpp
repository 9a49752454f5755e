// Imprint: one general fuse of all solid parts, mapped back onto the parts through the fuse's
// history, then checked.
#include "Fusing.h"

#include <nimbo/assembly/Assembly.h>
#include <nimbo/nimbo_exception.h>
#include <nimbo/topology/ShapeAlgorithms.h>

#include <BRepCheck_Analyzer.hxx>
#include <BRepGProp.hxx>
#include <BRep_Builder.hxx>
#include <BRep_Tool.hxx>
#include <GProp_GProps.hxx>
#include <Message_ProgressScope.hxx>
#include <TopExp.hxx>
#include <TopExp_Explorer.hxx>
#include <TopTools_IndexedDataMapOfShapeListOfShape.hxx>
#include <TopTools_IndexedMapOfShape.hxx>
#include <TopoDS_Compound.hxx>

#include <algorithm>
#include <cmath>
#include <map>
#include <sstream>
#include <utility>

namespace nimbo {
namespace {

using detail::compoundOf;
using detail::inParallel;

BOPAlgo_GlueEnum glueOf(Glue glue) {
  switch (glue) {
    case Glue::shift:
      return BOPAlgo_GlueShift;
    case Glue::full:
      return BOPAlgo_GlueFull;
    default:
      return BOPAlgo_GlueOff;
  }
}

double roughVolumeOf(const TopoDS_Shape &shape) { return std::abs(getVolume(shape)); }

// The check compares volumes closely: the default integration, fixed per face, moves by 1e-5 when a
// curved face is split, so this one refines each face until its relative error is below `precision`.
double volumeOf(const TopoDS_Shape &shape, double precision) {
  GProp_GProps properties;
  BRepGProp::VolumeProperties(shape, properties, precision);
  return std::abs(properties.Mass());
}

// Whether the fuse left the part alone: its solids are its own.
bool untouched(const std::vector<TopoDS_Shape> &solids, const TopoDS_Shape &given) {
  std::size_t k = 0;
  for (TopExp_Explorer it(given, TopAbs_SOLID); it.More(); it.Next(), ++k) {
    if (k >= solids.size() || !solids[k].IsSame(it.Current())) return false;
  }
  return k == solids.size();
}

// How far a part's volume may move in the fuse: 1e-9 of it, or its area times its largest tolerance,
// the precision to which the file defines its boundary (a split curve may lie anywhere within it).
double volumeSlack(const TopoDS_Shape &shape, double volume) {
  double tolerance = 0.0;
  for (const TopAbs_ShapeEnum type : {TopAbs_VERTEX, TopAbs_EDGE, TopAbs_FACE}) {
    tolerance = std::max(tolerance, BRep_Tool::MaxTolerance(shape, type));
  }
  return std::max(1e-9 * volume, tolerance * getArea(shape));
}

void checkStop(const Message_ProgressScope &scope) {
  if (scope.UserBreak()) throw nimbo_exception("Imprint stopped before it was complete");
}

// The refusal of overlapping parts: every pair with its common volume, the first ten of them.
std::string overlapRefusal(const std::vector<Part> &parts,
                           const std::map<std::pair<std::size_t, std::size_t>, double> &overlaps) {
  std::ostringstream text;
  text << "Parts overlap, and one conformal compound cannot hold both sides of an overlap: ";
  std::size_t listed = 0;
  for (const auto &[pair, volume] : overlaps) {
    if (listed == 10) {
      text << "; and " << overlaps.size() - listed << " more pairs";
      break;
    }
    text << (listed++ == 0 ? "" : "; ") << parts[pair.first].path << " and " << parts[pair.second].path << " share "
         << volume << " mm^3";
  }
  text << ". Correct the model, or assign each common region to the earlier part";
  return text.str();
}

}  // namespace

Imprint imprintAssembly(const std::vector<Part> &parts, const ImprintOptions &options,
                        const Message_ProgressRange &progress) {
  Imprint result;
  const std::vector<std::size_t> solids = detail::solidPartsOf(parts, result.skipped);
  if (solids.empty()) throw nimbo_exception("Nothing to imprint: no part holds a solid");
  Message_ProgressScope scope(progress, "Imprinting", 10);

  BOPAlgo_Builder fuse;
  for (const std::size_t i : solids) fuse.AddArgument(parts[i].shape);
  fuse.SetNonDestructive(true);  // the parts' own shapes, shared by their instances, stay as they are
  fuse.SetRunParallel(true);
  fuse.SetGlue(glueOf(options.glue));
  if (options.fuzzy > 0.0) fuse.SetFuzzyValue(options.fuzzy);
  // One part alone has nothing to share (and the fuse wants two arguments): its solids stay as
  // they are, which the unperformed fuse's empty history gives.
  if (solids.size() > 1) fuse.Perform(scope.Next(8));
  checkStop(scope);
  if (fuse.HasErrors()) {
    throw nimbo_exception("The general fuse of " + std::to_string(solids.size()) +
                          " solid parts failed: " + detail::errorsOf(fuse));
  }

  // Every solid the fuse made, in the order of the parts, with the parts it came from.
  TopTools_IndexedMapOfShape pieces;
  std::vector<std::vector<std::size_t>> owners;  // by piece, positions in `parts`, ascending
  for (const std::size_t i : solids) {
    for (const TopoDS_Shape &image : detail::imagesOf(fuse, parts[i].shape, TopAbs_SOLID)) {
      const int index = pieces.Add(image);
      if (static_cast<std::size_t>(index) > owners.size()) owners.emplace_back();
      owners[index - 1].push_back(i);
    }
  }

  std::map<std::pair<std::size_t, std::size_t>, double> shared;  // common volume by pair of parts
  std::map<std::size_t, double> lost;
  for (int index = 1; index <= pieces.Extent(); ++index) {
    const std::vector<std::size_t> &from = owners[index - 1];
    if (from.size() < 2) continue;
    const double volume = volumeOf(pieces(index), 1e-10);
    for (std::size_t a = 1; a < from.size(); ++a) {
      shared[{from.front(), from[a]}] += volume;
      lost[from[a]] += volume;
    }
  }
  std::map<std::pair<std::size_t, std::size_t>, double> overlaps;
  for (const auto &[pair, volume] : shared) {
    const double minimum = options.minimumOverlap.value_or(
        1e-6 * std::min(roughVolumeOf(parts[pair.first].shape), roughVolumeOf(parts[pair.second].shape)));
    if (volume > minimum) overlaps[pair] = volume;
  }
  if (!overlaps.empty() && !options.assignOverlaps) throw nimbo_exception(overlapRefusal(parts, overlaps));
  for (const auto &[pair, volume] : shared) result.assigned.push_back({pair.first, pair.second, volume});

  // Each piece goes to the earliest part it came from.
  std::vector<std::size_t> slot(parts.size());  // part position -> index in result.parts
  for (const std::size_t i : solids) {
    slot[i] = result.parts.size();
    result.parts.push_back({i, parts[i].path, {}, {}, 0.0});
  }
  std::vector<TopoDS_Shape> all;
  for (int index = 1; index <= pieces.Extent(); ++index) {
    all.push_back(pieces(index));
    result.parts[slot[owners[index - 1].front()]].solids.push_back(pieces(index));
  }
  result.compound = compoundOf(all);
  checkStop(scope);

  // A face of solids of two parts is their interface; of one solid only, its part's boundary.
  TopTools_IndexedDataMapOfShapeListOfShape solidsOfFace;
  TopExp::MapShapesAndAncestors(result.compound, TopAbs_FACE, TopAbs_SOLID, solidsOfFace);
  std::map<std::pair<std::size_t, std::size_t>, std::vector<TopoDS_Shape>> interfaces;
  for (int f = 1; f <= solidsOfFace.Extent(); ++f) {
    std::vector<std::size_t> of;
    TopTools_MapOfShape distinct;
    for (const TopoDS_Shape &solid : solidsOfFace(f)) {
      if (distinct.Add(solid)) of.push_back(owners[pieces.FindIndex(solid) - 1].front());
    }
    std::sort(of.begin(), of.end());
    if (distinct.Extent() == 1) {
      result.parts[slot[of.front()]].boundary.push_back(solidsOfFace.FindKey(f));
    } else if (of.size() == 2 && of.front() != of.back()) {
      interfaces[{of.front(), of.back()}].push_back(solidsOfFace.FindKey(f));
    }
  }
  for (auto &[pair, faces] : interfaces) {
    const double area = getArea(compoundOf(faces));
    result.interfaces.push_back({pair.first, pair.second, std::move(faces), area});
  }
  scope.Next();

  // The checks: no volume lost or gained, and a compound the mesher can trust. A part the fuse left
  // alone is its input, whose volume needs no second look.
  std::vector<double> expected(result.parts.size());
  std::vector<double> slack(result.parts.size());
  inParallel(result.parts.size(), 0, [&](std::size_t k) {
    ImprintedPart &part = result.parts[k];
    const TopoDS_Shape now = compoundOf(part.solids);
    const double rough = roughVolumeOf(now);
    if (untouched(part.solids, parts[part.part].shape)) {
      part.volume = expected[k] = rough;
      return;
    }
    slack[k] = volumeSlack(now, rough);
    // As close as the check needs and no closer: refining curved faces is what costs.
    const double precision = std::clamp(0.1 * slack[k] / std::max(rough, 1e-300), 1e-10, 1e-6);
    part.volume = volumeOf(now, precision);
    expected[k] = volumeOf(parts[part.part].shape, precision) - lost[part.part];
  });
  for (std::size_t k = 0; k < result.parts.size(); ++k) {
    const ImprintedPart &part = result.parts[k];
    if (std::abs(part.volume - expected[k]) > slack[k]) {
      std::ostringstream text;
      text.precision(12);
      text << "Imprint changed the volume of " << parts[part.part].path << " from " << expected[k] << " to "
           << part.volume << " mm^3";
      throw nimbo_exception(text.str());
    }
  }
  checkStop(scope);
  if (!BRepCheck_Analyzer(result.compound, true, true).IsValid()) {
    throw nimbo_exception("Imprint gave a compound that is not valid; try a fuzzy value or glue off");
  }
  scope.Next();
  return result;
}

}  // namespace nimbo
