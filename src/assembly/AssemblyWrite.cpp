// Writing assemblies: STEP through an XDE document rebuilt from the parts' paths, so that reading
// the file gives the same parts again; BREP as one compound.
#include <nimbo/assembly/Assembly.h>
#include "AssemblyTree.h"

#include <nimbo/environment.h>
#include <nimbo/nimbo_exception.h>
#include <nimbo/topology/ShapeAlgorithms.h>

#include <BRepBuilderAPI_Copy.hxx>
#include <BRepTools.hxx>
#include <BRep_Builder.hxx>
#include <Interface_Static.hxx>
#include <Quantity_Color.hxx>
#include <STEPCAFControl_Controller.hxx>
#include <STEPCAFControl_Writer.hxx>
#include <TCollection_ExtendedString.hxx>
#include <TDataStd_Name.hxx>
#include <TDocStd_Document.hxx>
#include <TopExp_Explorer.hxx>
#include <TopLoc_Location.hxx>
#include <TopoDS_Compound.hxx>
#include <UnitsMethods_LengthUnit.hxx>
#include <XCAFDoc_ColorTool.hxx>
#include <XCAFDoc_DocumentTool.hxx>
#include <XCAFDoc_ShapeTool.hxx>

#include <algorithm>
#include <memory>
#include <set>

namespace nimbo {

namespace {

// A node of the tree the parts' paths describe: an assembly, or the instance of one part.
struct Node {
  std::string segment;
  const Part *part = nullptr;
  std::vector<std::unique_ptr<Node>> children;  // in the order of their first part
};

std::vector<std::string> segmentsOf(const std::string &path) {
  std::vector<std::string> segments;
  std::size_t start = 0;
  for (std::size_t slash; (slash = path.find('/', start)) != std::string::npos; start = slash + 1) {
    segments.push_back(path.substr(start, slash - start));
  }
  segments.push_back(path.substr(start));
  return segments;
}

Node *childOf(Node &parent, const std::string &segment) {
  for (const std::unique_ptr<Node> &child : parent.children) {
    if (child->segment == segment && child->part == nullptr) return child.get();
  }
  parent.children.push_back(std::make_unique<Node>());
  parent.children.back()->segment = segment;
  return parent.children.back().get();
}

// The tree of the paths under one nameless top. A path that is both a part's and the folder of
// others' gives two nodes of one name, which the reader tells apart with "#2".
Node treeOf(const std::vector<Part> &parts, const std::string &fileName) {
  Node top;
  std::set<std::string> paths;
  for (const Part &part : parts) {
    if (!paths.insert(part.path).second) {
      throw input_error("Cannot write " + fileName + ": two parts have the path " + part.path);
    }
    const std::vector<std::string> segments = segmentsOf(part.path);
    Node *node = &top;
    for (std::size_t i = 0; i + 1 < segments.size(); ++i) node = childOf(*node, segments[i]);
    node->children.push_back(std::make_unique<Node>());
    node->children.back()->segment = segments.back();
    node->children.back()->part = &part;
  }
  return top;
}

// A process-wide setting of the kernel's translators, for the scope of one write.
class KernelSetting {
 public:
  KernelSetting(const char *name, const char *value) : name_(name), saved_(Interface_Static::CVal(name)) {
    if (!Interface_Static::SetCVal(name, value)) throw nimbo_exception(std::string("Cannot set ") + name);
  }
  ~KernelSetting() { Interface_Static::SetCVal(name_, saved_.c_str()); }
  KernelSetting(const KernelSetting &) = delete;
  KernelSetting &operator=(const KernelSetting &) = delete;

 private:
  const char *name_;
  std::string saved_;
};

void setName(const TDF_Label &label, const std::string &name) {
  TDataStd_Name::Set(label, TCollection_ExtendedString(name.c_str(), true));
}

// Whether the reader would take the part's shape apart into more than itself.
bool holdsSolid(const TopoDS_Shape &shape) { return TopExp_Explorer(shape, TopAbs_SOLID).More(); }

// What the top of the file holds, as one free shape: an assembly, one part, or the pieces of one
// product ("X#1", "X#2", ... of a product "X"), which only one product at the top gives back.
struct Top {
  const Node *node = nullptr;        // an assembly or a part
  std::vector<const Part *> pieces;  // else these
  std::string name;                  // the free shape's
};

// Parts "base#1", "base#2", ... of the name "base" from `first` on, which the reader gives back
// from one product: solids, the last maybe something holding none.
std::vector<const Part *> piecesFrom(const std::vector<std::unique_ptr<Node>> &nodes, std::size_t first) {
  std::vector<const Part *> pieces;
  const Part *start = nodes[first]->part;
  if (start == nullptr || nodes[first]->segment != start->name + "#1") return pieces;
  const std::string &base = start->name;
  for (std::size_t i = first; i < nodes.size(); ++i) {
    const Part *part = nodes[i]->part;
    if (part == nullptr || part->name != base || nodes[i]->segment != base + "#" + std::to_string(pieces.size() + 1))
      break;
    const bool solid = part->shape.ShapeType() == TopAbs_SOLID;
    if (!solid && holdsSolid(part->shape)) break;
    pieces.push_back(part);
    if (!solid) break;
  }
  if (pieces.size() < 2) pieces.clear();
  return pieces;
}

// The free shapes for the top nodes. The reader names a free shape by its product alone and tells
// equal names apart as it does siblings, so parts at the top are named by their names where that
// gives their paths back, else by their paths.
std::vector<Top> topsOf(const Node &top) {
  std::vector<Top> tops;
  std::vector<std::string> names, segments;
  for (std::size_t i = 0; i < top.children.size(); ++i) {
    const Node &node = *top.children[i];
    Top entry;
    entry.pieces = piecesFrom(top.children, i);
    if (!entry.pieces.empty()) {
      entry.name = entry.pieces.front()->name;
      segments.push_back(entry.name);
      i += entry.pieces.size() - 1;
    } else {
      entry.node = &node;
      entry.name = node.part != nullptr ? node.part->name : node.segment;
      segments.push_back(node.segment);
    }
    names.push_back(entry.name);
    tops.push_back(std::move(entry));
  }
  if (detail::siblingSegments(names) == segments) return tops;
  tops.clear();
  for (const std::unique_ptr<Node> &node : top.children) tops.push_back({node.get(), {}, node->segment});
  return tops;
}

class DocumentBuilder {
 public:
  DocumentBuilder() : document_(new TDocStd_Document("MDTV-XCAF")) {
    XCAFDoc_DocumentTool::Set(document_->Main());
    XCAFDoc_DocumentTool::SetLengthUnit(document_, 1.0, UnitsMethods_LengthUnit_Millimeter);
    shapes_ = XCAFDoc_DocumentTool::ShapeTool(document_->Main());
    colors_ = XCAFDoc_DocumentTool::ColorTool(document_->Main());
  }

  // Below the top every instance is named by its segment.
  void add(const Top &top) {
    if (!top.pieces.empty()) {
      addPieces(top.pieces, top.name);
    } else if (top.node->part != nullptr) {
      addPieces({top.node->part}, top.name);  // no instance to place it
    } else {
      const TDF_Label assembly = shapes_->NewShape();
      setName(assembly, top.name);
      addChildren(assembly, *top.node);
    }
  }

  Handle(TDocStd_Document) document() {
    shapes_->UpdateAssemblies();
    return document_;
  }

 private:
  void addChildren(const TDF_Label &assembly, const Node &node) {
    for (const std::unique_ptr<Node> &child : node.children) {
      if (child->part != nullptr) {
        // A type word for a segment is the product's name (the reader takes the instance's for
        // none), and the part's name then comes from the assembly's product.
        const bool standIn = detail::isStandInName(child->segment);
        const TDF_Label part = product(*child->part, standIn ? child->segment : child->part->name);
        const TDF_Label instance = shapes_->AddComponent(assembly, part, child->part->shape.Location());
        if (!standIn) setName(instance, child->segment);
      } else {
        const TDF_Label sub = shapes_->NewShape();
        setName(sub, inheritedName(*child));
        addChildren(sub, *child);
        setName(shapes_->AddComponent(assembly, sub, TopLoc_Location()), child->segment);
      }
    }
  }

  // An assembly's product names only the parts that have no name of their own.
  static std::string inheritedName(const Node &node) {
    if (detail::isStandInName(node.segment)) return node.segment;  // the reader's segment comes from it
    for (const std::unique_ptr<Node> &child : node.children) {
      if (child->part != nullptr && detail::isStandInName(child->segment)) return child->part->name;
    }
    return node.segment;
  }

  // The shape, or a copy in its place where its topology is already written: the kernel's writer
  // would give two products of one topology one entity.
  TopoDS_Shape unused(const TopoDS_Shape &shape) {
    if (used_.insert(shape.TShape().get()).second) return shape;
    const TopoDS_Shape copy = BRepBuilderAPI_Copy(shape.Located(TopLoc_Location()).Oriented(TopAbs_FORWARD), false);
    return copy.Located(shape.Location()).Oriented(shape.Orientation());
  }

  void setColor(const TDF_Label &label, const std::optional<Color> &color) {
    if (!color) return;
    colors_->SetColor(label, Quantity_Color(color->red, color->green, color->blue, Quantity_TOC_sRGB),
                      XCAFDoc_ColorGen);
  }

  // Every part is a product of its own, unplaced: the kernel's writer confuses the names of two
  // instances of one product, and parts that shared topology may since have been changed apart.
  TDF_Label product(const Part &part, const std::string &name) {
    const TDF_Label label = shapes_->AddShape(unused(part.shape.Located(TopLoc_Location())), false);
    setName(label, name);
    setColor(label, part.color);
    return label;
  }

  // One product of the pieces in place, in a compound that holds their placements; their colours
  // on it where they agree, else on each.
  void addPieces(const std::vector<const Part *> &pieces, const std::string &name) {
    BRep_Builder builder;
    TopoDS_Compound compound;
    builder.MakeCompound(compound);
    std::vector<TopoDS_Shape> shapes;
    for (const Part *piece : pieces) {
      shapes.push_back(unused(piece->shape));
      builder.Add(compound, shapes.back());
    }
    const TDF_Label label = shapes_->AddShape(compound, false);
    setName(label, name);
    const auto sameColor = [&](const Part *piece) {
      const std::optional<Color> &a = piece->color, &b = pieces.front()->color;
      return a.has_value() == b.has_value() && (!a || (a->red == b->red && a->green == b->green && a->blue == b->blue));
    };
    if (std::all_of(pieces.begin(), pieces.end(), sameColor)) {
      setColor(label, pieces.front()->color);
      return;
    }
    for (std::size_t i = 0; i < pieces.size(); ++i) {
      if (pieces[i]->color) setColor(shapes_->AddSubShape(label, shapes[i]), pieces[i]->color);
    }
  }

  Handle(TDocStd_Document) document_;
  Handle(XCAFDoc_ShapeTool) shapes_;
  Handle(XCAFDoc_ColorTool) colors_;
  std::set<const TopoDS_TShape *> used_;
};

void writeStepAssembly(const Assembly &assembly, const std::string &path, const Message_ProgressRange &progress) {
  const std::string fileName = file_name_of(path);
  const Node top = treeOf(assembly.parts, fileName);
  DocumentBuilder builder;
  for (const Top &entry : topsOf(top)) builder.add(entry);

  STEPCAFControl_Controller::Init();  // defines the writer's settings before one is set
  const KernelSetting unit("write.step.unit", "MM");
  STEPCAFControl_Writer writer;
  writer.SetNameMode(true);
  writer.SetColorMode(true);
  writer.SetLayerMode(false);
  writer.SetPropsMode(false);
  writer.SetSHUOMode(false);
  writer.SetDimTolMode(false);
  writer.SetMaterialMode(false);
  const bool transferred = writer.Transfer(builder.document(), STEPControl_AsIs, nullptr, progress);
  if (progress.UserBreak()) throw nimbo_exception("Writing " + fileName + " was stopped");
  if (!transferred) {
    throw nimbo_exception("STEP file " + fileName + " could not be written: the parts could not be translated");
  }
  if (!write_atomically(
          path, [&](const std::string &temporary) { return writer.Write(temporary.c_str()) == IFSelect_RetDone; })) {
    throw nimbo_exception("STEP file " + fileName + " could not be written");
  }
}

void writeBrepAssembly(const Assembly &assembly, const std::string &path, const Message_ProgressRange &progress) {
  BRep_Builder builder;
  TopoDS_Compound compound;
  builder.MakeCompound(compound);
  for (const Part &part : assembly.parts) builder.Add(compound, part.shape);
  if (!write_atomically(path, [&](const std::string &temporary) {
        return BRepTools::Write(compound, temporary.c_str(), false, false, TopTools_FormatVersion_VERSION_1, progress);
      })) {
    throw nimbo_exception("BREP file " + file_name_of(path) + " could not be written");
  }
}

}  // namespace

void writeAssembly(const Assembly &assembly, const std::string &path, const Message_ProgressRange &progress) {
  const std::optional<ShapeFormat> format = shapeFormatOf(path);
  if (!format || *format == ShapeFormat::iges) {
    throw input_error(file_name_of(path) + ": cannot write \"" + file_extension(path) +
                          "\"; expected .step, .stp or .brep");
  }
  if (assembly.parts.empty()) throw input_error("Cannot write " + file_name_of(path) + ": no parts");
  for (const Part &part : assembly.parts) {
    if (part.shape.IsNull()) {
      throw input_error("Cannot write " + file_name_of(path) + ": part " + part.path + " has no shape");
    }
  }
  if (*format == ShapeFormat::step) {
    writeStepAssembly(assembly, path, progress);
  } else {
    writeBrepAssembly(assembly, path, progress);
  }
}

}  // namespace nimbo
