// Imprint: one general fuse of all solid parts, mapped back onto the parts through the fuse's
// history, then checked.
#include "Fusing.h"
#include "Parallel.h"
#include "Tolerances.h"
#include "topology/ShapeMeasures.h"

#include <nimbo/assembly/Assembly.h>
#include <nimbo/nimbo_exception.h>
#include <nimbo/topology/ShapeAlgorithms.h>

#include <BRepCheck_Analyzer.hxx>
#include <BRepGProp.hxx>
#include <BRep_Builder.hxx>
#include <BRep_Tool.hxx>
#include <GProp_GProps.hxx>
#include <Message_ProgressScope.hxx>
#include <Precision.hxx>
#include <TopExp.hxx>
#include <TopExp_Explorer.hxx>
#include <TopTools_IndexedDataMapOfShapeListOfShape.hxx>
#include <TopTools_IndexedMapOfShape.hxx>
#include <TopoDS.hxx>
#include <TopoDS_Compound.hxx>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <map>
#include <sstream>
#include <utility>

namespace nimbo {
namespace {

using detail::compoundOf;
using detail::volumeOf;

// Whether the fuse left the part alone: its solids are its own.
bool untouched(const std::vector<TopoDS_Shape> &solids, const TopoDS_Shape &given) {
  std::size_t k = 0;
  for (TopExp_Explorer it(given, TopAbs_SOLID); it.More(); it.Next(), ++k) {
    if (k >= solids.size() || !solids[k].IsSame(it.Current())) return false;
  }
  return k == solids.size();
}

// How far a part's volume may move in the fuse: a tiny share of it, or its area times its largest
// tolerance, the precision to which the file defines its boundary (a split curve may lie anywhere
// within it). That area needs only its first digits.
double volumeSlack(const TopoDS_Shape &shape, double volume) {
  double tolerance = 0.0;
  for (const TopAbs_ShapeEnum type : {TopAbs_VERTEX, TopAbs_EDGE, TopAbs_FACE}) {
    tolerance = std::max(tolerance, BRep_Tool::MaxTolerance(shape, type));
  }
  return std::max(detail::relativeVolumeSlack * volume, tolerance * detail::areaOf(shape, 1e-3));
}

// 1-based numbers of `shapes` in `map`.
std::vector<int> numbersIn(const TopTools_IndexedMapOfShape &map, const std::vector<TopoDS_Shape> &shapes) {
  std::vector<int> numbers;
  for (const TopoDS_Shape &shape : shapes) numbers.push_back(map.FindIndex(shape));
  return numbers;
}

// A check the fuse's result failed, in user words. Not yet a nimbo_exception, which would log and
// dump: an automatic glue answers it by fusing again without one, and a compound that is not valid
// by fusing again with a fuzzy value.
struct CheckFailure {
  std::string message;
  bool invalid = false;  ///< the compound is not valid
};

// The solids of the general fuse of the parts' shapes, on the kernel's threads or on one.
detail::FusedSolids fuseParts(const std::vector<TopoDS_Shape> &arguments, const ImprintOptions &options, Glue glue,
                              bool parallel, const Message_ProgressRange &progress) {
  BOPAlgo_Builder fuse;
  const std::string errors = detail::runFuse(fuse, arguments, {parallel, glue, options.fuzzy}, progress);
  if (!errors.empty() && !progress.UserBreak()) {
    throw CheckFailure{"The general fuse of " + std::to_string(arguments.size()) + " solid parts failed: " + errors};
  }
  return detail::fusedSolidsOf(fuse, arguments);
}

// For each shape, the sum of term(face, k) over its faces: the faces on every core, so that one
// shape of costly B-spline faces does not keep a core busy alone, added in the order they are
// explored, which gives volumeOf's and areaOf's figures to the bit.
template <typename Term>
std::vector<double> sumsOverFaces(const std::vector<TopoDS_Shape> &shapes, const Message_ProgressScope &scope,
                                  const Term &term) {
  std::vector<std::pair<std::size_t, TopoDS_Face>> faces;
  for (std::size_t k = 0; k < shapes.size(); ++k) {
    for (TopExp_Explorer it(shapes[k], TopAbs_FACE); it.More(); it.Next()) {
      faces.emplace_back(k, TopoDS::Face(it.Current()));
    }
  }
  std::vector<double> terms(faces.size());
  detail::inParallel(faces.size(), 0, [&](std::size_t f) {
    if (!scope.UserBreak()) terms[f] = term(faces[f].second, faces[f].first);
  });
  std::vector<double> sums(shapes.size(), 0.0);
  for (std::size_t f = 0; f < faces.size(); ++f) sums[faces[f].first] += terms[f];
  return sums;
}

// Whether the fused solids make a compound the mesher can trust.
bool isValid(const detail::FusedSolids &fused) {
  std::vector<TopoDS_Shape> solids;
  for (int index = 1; index <= fused.solids.Extent(); ++index) solids.push_back(fused.solids(index));
  return BRepCheck_Analyzer(compoundOf(solids), true, true).IsValid();
}

// Seconds since `from`, and `from` moved to now: the clock of one stage after another.
double lap(std::chrono::steady_clock::time_point &from) {
  const auto now = std::chrono::steady_clock::now();
  const double seconds = std::chrono::duration<double>(now - from).count();
  from = now;
  return seconds;
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

// The imprint of the solid parts with one glue, checked; throws CheckFailure when a check fails.
// `trial` is an automatic glue's, whose result must not even hold common regions: its fuse was
// judged free of crossing faces, so any is the glue's mistake. Its stages' times add to `times`,
// a failed one's too.
Imprint imprintWith(const std::vector<Part> &parts, const std::vector<std::size_t> &solids,
                    const std::vector<TopoDS_Shape> &arguments, const ImprintOptions &options, Glue glue, bool trial,
                    ImprintTimes &times, Message_ProgressScope &scope) {
  auto clock = std::chrono::steady_clock::now();
  Imprint result;
  result.glue = glue;
  result.fuzzy = options.fuzzy;
  // The kernel's parallel fuse has been seen to give, now and then, a compound that is not valid
  // where one thread gives a valid one: such a result is made again on one thread.
  detail::FusedSolids fused = fuseParts(arguments, options, glue, true, scope.Next(7));
  times.fuse += lap(clock);
  checkStop(scope);
  const bool valid = isValid(fused);
  times.checks += lap(clock);
  if (!valid && arguments.size() > 1) {
    fused = fuseParts(arguments, options, glue, false, scope.Next());
    times.fuse += lap(clock);
    checkStop(scope);
    const bool validAlone = isValid(fused);
    times.checks += lap(clock);
    if (!validAlone) {
      throw CheckFailure{glue == Glue::off ? "Imprint gave a compound that is not valid; try a fuzzy value"
                                           : "Imprint gave a compound that is not valid; try a fuzzy value or glue off",
                         true};
    }
  }
  const auto partOf = [&](std::size_t argument) { return solids[argument]; };

  std::map<std::pair<std::size_t, std::size_t>, double> shared;  // common volume by pair of parts
  std::map<std::size_t, double> lost;
  for (int index = 1; index <= fused.solids.Extent(); ++index) {
    const std::vector<std::size_t> &from = fused.owners[index - 1];
    if (from.size() < 2) continue;
    if (trial) throw CheckFailure{"The glued fuse gave parts a common region"};
    const double volume = volumeOf(fused.solids(index));
    for (std::size_t a = 1; a < from.size(); ++a) {
      shared[{partOf(from.front()), partOf(from[a])}] += volume;
      lost[partOf(from[a])] += volume;
    }
  }
  std::map<std::pair<std::size_t, std::size_t>, double> overlaps;
  for (const auto &[pair, volume] : shared) {
    const double minimum =
        options.minimumOverlap.value_or(detail::relativeMinimumOverlap * std::min(volumeOf(parts[pair.first].shape),
                                                                                  volumeOf(parts[pair.second].shape)));
    if (volume > minimum) overlaps[pair] = volume;
  }
  if (!overlaps.empty() && !options.assignOverlaps) throw input_error(overlapRefusal(parts, overlaps));
  for (const auto &[pair, volume] : shared) result.assigned.push_back({pair.first, pair.second, volume});

  // Each solid goes to the earliest part it came from; a face of solids of two parts is their
  // interface, a face of one solid only its part's boundary.
  for (const std::size_t i : solids) result.parts.push_back({i, parts[i].path, {}, {}, {}, {}, 0.0});
  std::vector<TopoDS_Shape> all;
  for (int index = 1; index <= fused.solids.Extent(); ++index) {
    all.push_back(fused.solids(index));
    result.parts[fused.keeperOf(index)].solids.push_back(fused.solids(index));
  }
  result.compound = compoundOf(all);
  checkStop(scope);
  detail::Sides faces = detail::sidesOf(fused, TopAbs_FACE);
  for (auto &[keeper, boundary] : faces.outer) result.parts[keeper].boundary = std::move(boundary);
  for (auto &[pair, shared_faces] : faces.shared) {
    result.interfaces.push_back({{partOf(pair.first), partOf(pair.second)}, std::move(shared_faces), {}, 0.0});
  }
  times.checks += lap(clock);
  // Areas of curved interfaces are integrated closely, which takes long.
  std::vector<TopoDS_Shape> between;
  for (const Interface &interface : result.interfaces) between.push_back(compoundOf(interface.faces));
  const std::vector<double> areas =
      sumsOverFaces(between, scope, [](const TopoDS_Face &face, std::size_t) { return detail::areaOf(face); });
  for (std::size_t k = 0; k < areas.size(); ++k) result.interfaces[k].area = areas[k];

  // The numbering a written compound keeps, and Gmsh gives what it imports.
  TopTools_IndexedMapOfShape solidNumbers;
  TopTools_IndexedMapOfShape faceNumbers;
  TopExp::MapShapes(result.compound, TopAbs_SOLID, solidNumbers);
  TopExp::MapShapes(result.compound, TopAbs_FACE, faceNumbers);
  for (ImprintedPart &part : result.parts) {
    part.solidNumbers = numbersIn(solidNumbers, part.solids);
    part.boundaryNumbers = numbersIn(faceNumbers, part.boundary);
  }
  for (Interface &interface : result.interfaces) interface.faceNumbers = numbersIn(faceNumbers, interface.faces);
  times.measures += lap(clock);
  scope.Next();

  // The checks: no volume lost or gained, and a compound the mesher can trust. A part the fuse left
  // alone is its input, whose volume needs no second look.
  std::vector<TopoDS_Shape> now;
  std::vector<gp_Pnt> centres;
  for (const ImprintedPart &part : result.parts) {
    now.push_back(compoundOf(part.solids));
    centres.push_back(detail::volumeCentre(now.back()));
  }
  const std::vector<double> volumes = sumsOverFaces(
      now, scope, [&](const TopoDS_Face &face, std::size_t k) { return detail::volumeTerm(face, centres[k]); });
  std::vector<double> expected(result.parts.size());
  std::vector<double> slack(result.parts.size());
  detail::inParallel(result.parts.size(), 0, [&](std::size_t k) {
    if (scope.UserBreak()) return;
    ImprintedPart &part = result.parts[k];
    part.volume = std::abs(volumes[k]);
    if (untouched(part.solids, parts[part.part].shape)) {
      expected[k] = part.volume;
      return;
    }
    slack[k] = volumeSlack(now[k], part.volume);
    // Only read here: operator[] would insert a part that lost nothing while other threads read.
    const auto taken = lost.find(part.part);
    expected[k] = volumeOf(parts[part.part].shape) - (taken == lost.end() ? 0.0 : taken->second);
  });
  times.checks += lap(clock);
  checkStop(scope);
  for (std::size_t k = 0; k < result.parts.size(); ++k) {
    const ImprintedPart &part = result.parts[k];
    if (std::abs(part.volume - expected[k]) > slack[k]) {
      std::ostringstream text;
      text.precision(12);
      text << "Imprint changed the volume of " << parts[part.part].path << " from " << expected[k] << " to "
           << part.volume << " mm^3";
      throw CheckFailure{text.str()};
    }
  }
  scope.Next();
  return result;
}

}  // namespace

const char *toString(Glue glue) {
  switch (glue) {
    case Glue::shift:
      return "shift";
    case Glue::full:
      return "full";
    case Glue::automatic:
      return "auto";
    default:
      return "off";
  }
}

std::optional<Glue> glueNamed(const std::string &name) {
  for (const Glue glue : {Glue::off, Glue::shift, Glue::full, Glue::automatic}) {
    if (name == toString(glue)) return glue;
  }
  return std::nullopt;
}

Imprint imprintAssembly(const std::vector<Part> &parts, const ImprintOptions &options,
                        const Message_ProgressRange &progress) {
  std::vector<std::size_t> skipped;
  const std::vector<std::size_t> solids = detail::solidPartsOf(parts, skipped);
  if (solids.empty()) throw input_error("Nothing to imprint: no part holds a solid");
  Message_ProgressScope scope(progress, "Imprinting", 10);
  std::vector<TopoDS_Shape> arguments;
  for (const std::size_t i : solids) arguments.push_back(parts[i].shape);
  ImprintTimes times;
  auto clock = std::chrono::steady_clock::now();
  const Glue glue = options.glue == Glue::automatic ? detail::chosenGlue(arguments, options.fuzzy) : options.glue;
  times.glue = lap(clock);
  const auto imprint = [&](Glue with, bool trial, const ImprintOptions &given) {
    Imprint result = imprintWith(parts, solids, arguments, given, with, trial, times, scope);
    result.skipped = skipped;
    result.times = times;
    return result;
  };
  const Glue general = options.glue == Glue::automatic ? Glue::off : glue;
  try {
    if (options.glue == Glue::automatic && glue != Glue::off) {
      try {
        return imprint(glue, true, options);
      } catch (const CheckFailure &) {
        // The faces looked safe to glue and were not: the general fuse decides.
      }
    }
    return imprint(general, false, options);
  } catch (const CheckFailure &failure) {
    if (!failure.invalid || options.fuzzy > 0.0 || scope.UserBreak()) throw nimbo_exception(failure.message);
    // Faces nearer than the parts' tolerances join, yet the fuse made a compound that is not valid: nearly
    // coincident faces a little further apart are what a fuzzy value joins. From the largest tolerance
    // up, a decade at a time; far beyond that it would close real gaps.
    double largest = Precision::Confusion();
    for (const TopoDS_Shape &argument : arguments) {
      for (const TopAbs_ShapeEnum type : {TopAbs_VERTEX, TopAbs_EDGE, TopAbs_FACE}) {
        largest = std::max(largest, BRep_Tool::MaxTolerance(argument, type));
      }
    }
    std::string tried;
    for (double fuzzy = largest; fuzzy <= 100.5 * largest; fuzzy *= 10.0) {
      ImprintOptions with = options;
      with.fuzzy = fuzzy;
      try {
        return imprint(general, false, with);
      } catch (const CheckFailure &) {
        if (scope.UserBreak()) break;
      }
      char value[32];
      std::snprintf(value, sizeof value, "%.3g", fuzzy);
      tried += (tried.empty() ? "" : ", ") + std::string(value);
    }
    throw nimbo_exception(failure.message + (tried.empty() ? "" : " (fuzzy values of " + tried + " mm tried)"));
  }
}

}  // namespace nimbo
