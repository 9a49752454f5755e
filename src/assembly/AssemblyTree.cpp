// From the assembly tree of an XDE document to placed, named parts.
#include "AssemblyTree.h"
#include "Fusing.h"

#include <BRep_Builder.hxx>
#include <Quantity_Color.hxx>
#include <TCollection_AsciiString.hxx>
#include <TDF_LabelSequence.hxx>
#include <TDataStd_Name.hxx>
#include <TopExp.hxx>
#include <TopLoc_Location.hxx>
#include <TopTools_IndexedMapOfShape.hxx>
#include <TopoDS_Compound.hxx>
#include <TopoDS_Iterator.hxx>
#include <XCAFDoc_ColorTool.hxx>
#include <XCAFDoc_DocumentTool.hxx>
#include <XCAFDoc_ShapeTool.hxx>

#include <algorithm>
#include <map>
#include <set>
#include <utility>

namespace nimbo::detail {

namespace {

void collectPieces(const TopoDS_Shape &shape, std::vector<TopoDS_Shape> &solids, std::vector<TopoDS_Shape> &others) {
  switch (shape.ShapeType()) {
    case TopAbs_COMPOUND:
    case TopAbs_COMPSOLID:
      // The iterator composes each child's location and orientation with the parent's.
      for (TopoDS_Iterator children(shape); children.More(); children.Next()) {
        collectPieces(children.Value(), solids, others);
      }
      break;
    case TopAbs_SOLID:
      solids.push_back(shape);
      break;
    default:
      others.push_back(shape);
      break;
  }
}

// Some writers list a solid's shells, faces and edges beside it in the compound; those are the
// solid's own, not more content. Keeps, in order, the pieces that no solid and no larger kept piece
// holds.
std::vector<TopoDS_Shape> withoutContained(const std::vector<TopoDS_Shape> &pieces,
                                           const std::vector<TopoDS_Shape> &solids) {
  if (pieces.empty()) return pieces;
  TopTools_IndexedMapOfShape held;
  for (const TopoDS_Shape &solid : solids) TopExp::MapShapes(solid, held);
  std::vector<std::size_t> largestFirst(pieces.size());
  for (std::size_t i = 0; i < pieces.size(); ++i) largestFirst[i] = i;
  // TopAbs_ShapeEnum runs from compound down to vertex.
  std::stable_sort(largestFirst.begin(), largestFirst.end(),
                   [&](std::size_t a, std::size_t b) { return pieces[a].ShapeType() < pieces[b].ShapeType(); });
  std::vector<bool> kept(pieces.size(), false);
  for (const std::size_t i : largestFirst) {
    if (held.Contains(pieces[i])) continue;
    kept[i] = true;
    TopExp::MapShapes(pieces[i], held);
  }
  std::vector<TopoDS_Shape> result;
  for (std::size_t i = 0; i < pieces.size(); ++i) {
    if (kept[i]) result.push_back(pieces[i]);
  }
  return result;
}

}  // namespace

// The names the kernel gives what the file leaves unnamed: a shape's type word ("SOLID"), and an
// instance's label entry ("=>[0:1:1:3]"), which its STEP writer then puts in the file.
bool isStandInName(const std::string &name) {
  static const std::set<std::string> words = {"COMPOUND", "COMPSOLID", "SOLID",  "SHELL", "FACE",
                                              "WIRE",     "EDGE",      "VERTEX", "SHAPE", "ASSEMBLY"};
  const bool entry = name.size() > 4 && name.compare(0, 3, "=>[") == 0 && name.back() == ']';
  return entry || words.count(name) != 0;
}

namespace {

std::string trimmed(const std::string &text) {
  const auto blank = [](unsigned char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
  const auto first = std::find_if_not(text.begin(), text.end(), blank);
  const auto last = std::find_if_not(text.rbegin(), text.rend(), blank).base();
  return first < last ? std::string(first, last) : std::string();
}

// The label's name as UTF-8, blanks trimmed; empty when it has none.
std::string rawName(const TDF_Label &label) {
  Handle(TDataStd_Name) name;
  if (label.IsNull() || !label.FindAttribute(TDataStd_Name::GetID(), name)) return "";
  return trimmed(TCollection_AsciiString(name->Get()).ToCString());
}

// A name that says something: not empty and not one the kernel made up.
std::string meaningfulName(const TDF_Label &label) {
  std::string name = rawName(label);
  return isStandInName(name) ? "" : name;
}

// A path segment cannot hold the separator; the part's name keeps it.
std::string segmentOf(std::string name) {
  std::replace(name.begin(), name.end(), '/', '_');
  return name;
}

struct Walk {
  Handle(XCAFDoc_ShapeTool) shapes;
  Handle(XCAFDoc_ColorTool) colors;
  const std::set<std::string> &stand_ins;
  std::vector<Part> parts;
};

std::optional<Color> colorOf(const Walk &walk, const TDF_Label &label) {
  if (label.IsNull()) return std::nullopt;
  Quantity_Color color;
  for (const XCAFDoc_ColorType type : {XCAFDoc_ColorSurf, XCAFDoc_ColorGen, XCAFDoc_ColorCurv}) {
    if (walk.colors->GetColor(label, type, color)) {
      Standard_Real red = 0, green = 0, blue = 0;
      color.Values(red, green, blue, Quantity_TOC_sRGB);
      return Color{red, green, blue};
    }
  }
  return std::nullopt;
}

// Where the tree gives several colours, the nearest to the part wins: its own piece, then its
// instance (which overrides the product it refers to, as the kernel's own styles do), its product,
// then the enclosing assemblies.
std::optional<Color> nearer(const std::optional<Color> &own, const std::optional<Color> &inherited) {
  return own ? own : inherited;
}

}  // namespace

// Within one assembly, the second and later siblings of one name get "#2", "#3", ..., skipping
// suffixed names that siblings already have.
std::vector<std::string> siblingSegments(const std::vector<std::string> &names) {
  std::set<std::string> taken(names.begin(), names.end());
  std::map<std::string, int> seen;
  std::vector<std::string> segments;
  for (const std::string &name : names) {
    if (++seen[name] == 1) {
      segments.push_back(name);
      continue;
    }
    int suffix = seen[name];
    while (taken.count(name + "#" + std::to_string(suffix)) != 0) ++suffix;
    seen[name] = suffix;
    segments.push_back(name + "#" + std::to_string(suffix));
    taken.insert(segments.back());
  }
  return segments;
}

namespace {

// An instance is named by itself, else by its product, else by the product's type word.
std::string instanceName(const Walk &walk, const TDF_Label &instance, const TDF_Label &product) {
  std::string own = meaningfulName(instance);
  if (walk.stand_ins.count(own) != 0) own.clear();
  for (const std::string &name : {own, meaningfulName(product), rawName(product)}) {
    if (!name.empty()) return segmentOf(name);
  }
  return "part";
}

void visit(Walk &walk, const TDF_Label &product, const TopLoc_Location &placement, const std::string &path,
           const std::string &inheritedName, const std::optional<Color> &instanceColor,
           const std::optional<Color> &inheritedColor) {
  const std::string ownName = meaningfulName(product);
  const std::string name = ownName.empty() ? inheritedName : ownName;
  const std::optional<Color> color = nearer(instanceColor, nearer(colorOf(walk, product), inheritedColor));
  if (XCAFDoc_ShapeTool::IsAssembly(product)) {
    TDF_LabelSequence components;
    XCAFDoc_ShapeTool::GetComponents(product, components, false);
    std::vector<TDF_Label> referred(components.Length());
    std::vector<std::string> names;
    for (int i = 1; i <= components.Length(); ++i) {
      XCAFDoc_ShapeTool::GetReferredShape(components(i), referred[i - 1]);
      names.push_back(instanceName(walk, components(i), referred[i - 1]));
    }
    const std::vector<std::string> segments = siblingSegments(names);
    for (int i = 1; i <= components.Length(); ++i) {
      const TDF_Label &instance = components(i);
      visit(walk, referred[i - 1], placement * XCAFDoc_ShapeTool::GetLocation(instance), path + "/" + segments[i - 1],
            name, colorOf(walk, instance), color);
    }
    return;
  }
  const TopoDS_Shape shape = XCAFDoc_ShapeTool::GetShape(product);
  if (shape.IsNull()) return;
  const std::vector<TopoDS_Shape> pieces = partPieces(shape);
  for (std::size_t i = 0; i < pieces.size(); ++i) {
    TDF_Label pieceLabel;
    if (pieces.size() > 1) walk.shapes->FindSubShape(product, pieces[i], pieceLabel);
    Part part;
    part.path = pieces.size() == 1 ? path : path + "#" + std::to_string(i + 1);
    part.name = name;
    part.shape = pieces[i].Moved(placement);
    part.color = nearer(colorOf(walk, pieceLabel), color);
    walk.parts.push_back(std::move(part));
  }
}

// Sibling suffixes keep paths apart within one assembly; a product's solid "pair#1" could still meet
// a sibling the file names "pair#1". The later part then takes the next free suffix.
void makePathsUnique(std::vector<Part> &parts) {
  std::set<std::string> taken;
  for (Part &part : parts) {
    std::string path = part.path;
    for (int suffix = 2; taken.count(path) != 0; ++suffix) path = part.path + "#" + std::to_string(suffix);
    part.path = path;
    taken.insert(path);
  }
}

}  // namespace

std::vector<TopoDS_Shape> partPieces(const TopoDS_Shape &shape) {
  if (shape.IsNull()) return {};
  std::vector<TopoDS_Shape> solids;
  std::vector<TopoDS_Shape> others;
  collectPieces(shape, solids, others);
  others = withoutContained(others, solids);
  if (others.size() > 1) others = {compoundOf(others)};
  solids.insert(solids.end(), others.begin(), others.end());
  return solids;
}

std::vector<Part> partsOfDocument(const Handle(TDocStd_Document) & document, const std::string &fileName,
                                  const std::set<std::string> &stand_ins) {
  Walk walk{XCAFDoc_DocumentTool::ShapeTool(document->Main()),
            XCAFDoc_DocumentTool::ColorTool(document->Main()),
            stand_ins,
            {}};
  TDF_LabelSequence roots;
  walk.shapes->GetFreeShapes(roots);
  std::vector<std::string> names;
  for (int i = 1; i <= roots.Length(); ++i) {
    const std::string name = meaningfulName(roots(i));
    names.push_back(segmentOf(name.empty() ? fileName : name));
  }
  const std::vector<std::string> segments = siblingSegments(names);
  for (int i = 1; i <= roots.Length(); ++i) visit(walk, roots(i), TopLoc_Location(), segments[i - 1], fileName, {}, {});
  makePathsUnique(walk.parts);
  return walk.parts;
}

}  // namespace nimbo::detail
