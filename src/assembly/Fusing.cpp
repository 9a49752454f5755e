#include "Fusing.h"

#include <BRep_Builder.hxx>
#include <TopExp_Explorer.hxx>
#include <TopTools_MapOfShape.hxx>
#include <TopoDS_Compound.hxx>
#include <TopoDS_Iterator.hxx>

#include <cctype>
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

}  // namespace

std::vector<std::size_t> solidPartsOf(const std::vector<Part> &parts, std::vector<std::size_t> &others) {
  std::vector<std::size_t> solids;
  for (std::size_t i = 0; i < parts.size(); ++i) (isSolidPart(parts[i].shape) ? solids : others).push_back(i);
  return solids;
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

TopoDS_Shape compoundOf(const std::vector<TopoDS_Shape> &shapes) {
  TopoDS_Compound compound;
  BRep_Builder builder;
  builder.MakeCompound(compound);
  for (const TopoDS_Shape &shape : shapes) builder.Add(compound, shape);
  return compound;
}

std::string errorsOf(const BOPAlgo_Builder &fuse) {
  std::ostringstream errors;
  fuse.DumpErrors(errors);
  std::string text = errors.str();
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) text.pop_back();
  return text;
}

}  // namespace nimbo::detail
