#include "Fusing.h"

#include <BRep_Builder.hxx>
#include <TopExp.hxx>
#include <TopExp_Explorer.hxx>
#include <TopTools_IndexedDataMapOfShapeListOfShape.hxx>
#include <TopTools_MapOfShape.hxx>
#include <TopoDS_Compound.hxx>
#include <TopoDS_Iterator.hxx>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <set>
#include <sstream>

namespace nimbo::detail {
namespace {

bool isSolidPart(const TopoDS_Shape &shape) {
  if (shape.IsNull()) return false;
  if (shape.ShapeType() == TopAbs_SOLID || shape.ShapeType() == TopAbs_COMPSOLID) return true;
  if (shape.ShapeType() != TopAbs_COMPOUND) return false;
  TopoDS_Iterator it(shape);
  if (!it.More()) return false;
  for (; it.More(); it.Next()) {
    if (!isSolidPart(it.Value())) return false;
  }
  return true;
}

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

std::string errorsOf(const BOPAlgo_Builder &fuse) {
  std::ostringstream errors;
  fuse.DumpErrors(errors);
  std::string text = errors.str();
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) text.pop_back();
  return text;
}

}  // namespace

std::vector<std::size_t> solidPartsOf(const std::vector<Part> &parts, std::vector<std::size_t> &others) {
  std::vector<std::size_t> solids;
  for (std::size_t i = 0; i < parts.size(); ++i) (isSolidPart(parts[i].shape) ? solids : others).push_back(i);
  return solids;
}

TopoDS_Shape compoundOf(const std::vector<TopoDS_Shape> &shapes) {
  TopoDS_Compound compound;
  BRep_Builder builder;
  builder.MakeCompound(compound);
  for (const TopoDS_Shape &shape : shapes) builder.Add(compound, shape);
  return compound;
}

std::string runFuse(BOPAlgo_Builder &fuse, const std::vector<TopoDS_Shape> &arguments, const FuseSettings &settings,
                    const Message_ProgressRange &progress) {
  for (const TopoDS_Shape &argument : arguments) fuse.AddArgument(argument);
  fuse.SetNonDestructive(true);
  fuse.SetRunParallel(settings.parallel);
  fuse.SetGlue(glueOf(settings.glue));
  if (settings.fuzzy > 0.0) fuse.SetFuzzyValue(settings.fuzzy);
  // The fuse wants two arguments; one alone keeps its solids, which the empty history then gives.
  if (arguments.size() > 1) fuse.Perform(progress);
  return fuse.HasErrors() ? errorsOf(fuse) : std::string();
}

std::vector<TopoDS_Shape> imagesOf(BOPAlgo_Builder &fuse, const TopoDS_Shape &shape, TopAbs_ShapeEnum type) {
  std::vector<TopoDS_Shape> images;
  TopTools_MapOfShape seen;
  const auto add = [&](const TopoDS_Shape &image) {
    if (seen.Add(image)) images.push_back(image);
  };
  for (TopExp_Explorer it(shape, type); it.More(); it.Next()) {
    const TopTools_ListOfShape &modified = fuse.Modified(it.Current());
    if (!modified.IsEmpty()) {
      for (const TopoDS_Shape &image : modified) add(image);
    } else if (!fuse.IsDeleted(it.Current())) {
      add(it.Current());
    }
  }
  return images;
}

FusedSolids fusedSolidsOf(BOPAlgo_Builder &fuse, const std::vector<TopoDS_Shape> &arguments) {
  FusedSolids fused;
  for (std::size_t a = 0; a < arguments.size(); ++a) {
    for (const TopoDS_Shape &image : imagesOf(fuse, arguments[a], TopAbs_SOLID)) {
      const int index = fused.solids.Add(image);
      if (static_cast<std::size_t>(index) > fused.owners.size()) fused.owners.emplace_back();
      fused.owners[static_cast<std::size_t>(index) - 1].push_back(a);
    }
  }
  return fused;
}

Sides sidesOf(const FusedSolids &fused, TopAbs_ShapeEnum type) {
  std::vector<TopoDS_Shape> solids;
  for (int index = 1; index <= fused.solids.Extent(); ++index) solids.push_back(fused.solids(index));
  TopTools_IndexedDataMapOfShapeListOfShape solidsOf;
  TopExp::MapShapesAndAncestors(compoundOf(solids), type, TopAbs_SOLID, solidsOf);
  Sides sides;
  for (int k = 1; k <= solidsOf.Extent(); ++k) {
    TopTools_MapOfShape distinct;
    std::set<std::size_t> keepers;
    for (const TopoDS_Shape &solid : solidsOf(k)) {
      if (distinct.Add(solid)) keepers.insert(fused.keeperOf(fused.solids.FindIndex(solid)));
    }
    const TopoDS_Shape &piece = solidsOf.FindKey(k);
    if (distinct.Extent() == 1) sides.outer[*keepers.begin()].push_back(piece);
    for (auto a = keepers.begin(); a != keepers.end(); ++a) {
      for (auto b = std::next(a); b != keepers.end(); ++b) sides.shared[{*a, *b}].push_back(piece);
    }
  }
  return sides;
}

}  // namespace nimbo::detail
