// Parts as a binary glTF scene: one node per part, named and coloured, triangulated as the drawings
// are, for a browser to turn and zoom.
#include <nimbo/render/Render.h>

#include <nimbo/environment.h>
#include <nimbo/nimbo_exception.h>

#include <BRepBndLib.hxx>
#include <BRepMesh_IncrementalMesh.hxx>
#include <Bnd_Box.hxx>
#include <Message_ProgressRange.hxx>
#include <NCollection_DataMap.hxx>
#include <Quantity_Color.hxx>
#include <RWGltf_CafWriter.hxx>
#include <TColStd_IndexedDataMapOfStringString.hxx>
#include <TDF_Label.hxx>
#include <TDataStd_Name.hxx>
#include <TDocStd_Document.hxx>
#include <TopLoc_Location.hxx>
#include <TopTools_ShapeMapHasher.hxx>
#include <XCAFDoc_ColorTool.hxx>
#include <XCAFDoc_DocumentTool.hxx>
#include <XCAFDoc_ShapeTool.hxx>

#include <cmath>

namespace nimbo {

void writeGltf(const std::vector<GltfNode> &nodes, const std::string &path, const GltfOptions &options) {
  if (nodes.empty()) throw nimbo_exception("Cannot write " + path + ": no part to write");
  Bnd_Box box;
  for (const GltfNode &node : nodes) BRepBndLib::Add(node.shape, box);
  if (box.IsVoid()) throw nimbo_exception("Cannot write " + path + ": the parts hold no faces");
  // As the drawings are meshed: the same facets on the page and in the browser.
  const double deflection = options.deflection > 0 ? options.deflection : 0.002 * std::sqrt(box.SquareExtent());

  // Every part is a top-level assembly of its own, named and coloured, holding one instance of its
  // product: the nodes keep the parts' names, and parts that share a product share its mesh.
  const Handle(TDocStd_Document) document = new TDocStd_Document("XmlXCAF");
  XCAFDoc_DocumentTool::Set(document->Main());
  const Handle(XCAFDoc_ShapeTool) shapes = XCAFDoc_DocumentTool::ShapeTool(document->Main());
  const Handle(XCAFDoc_ColorTool) colors = XCAFDoc_DocumentTool::ColorTool(document->Main());
  NCollection_DataMap<TopoDS_Shape, TDF_Label, TopTools_ShapeMapHasher> products;
  for (const GltfNode &node : nodes) {
    BRepMesh_IncrementalMesh(node.shape, deflection, false, 0.35, true);
    const TCollection_ExtendedString name(node.name.c_str(), true);
    const TopoDS_Shape product = node.shape.Located(TopLoc_Location());
    if (!products.IsBound(product)) {
      products.Bind(product, shapes->AddShape(product, false));
      TDataStd_Name::Set(products(product), name);
    }
    const TDF_Label part = shapes->NewShape();
    TDataStd_Name::Set(part, name);
    TDataStd_Name::Set(shapes->AddComponent(part, products(product), node.shape.Location()), name);
    colors->SetColor(part, Quantity_Color(node.color.red, node.color.green, node.color.blue, Quantity_TOC_sRGB),
                     XCAFDoc_ColorSurf);
  }
  shapes->UpdateAssemblies();

  const bool written = write_atomically(path, [&](const std::string &temporary) {
    RWGltf_CafWriter writer(TCollection_AsciiString(temporary.c_str()), true);
    // glTF is in metres with Y up; the parts are in millimetres with Z up.
    writer.ChangeCoordinateSystemConverter().SetInputLengthUnit(0.001);
    writer.ChangeCoordinateSystemConverter().SetInputCoordinateSystem(RWMesh_CoordinateSystem_Zup);
    writer.SetNodeNameFormat(RWMesh_NameFormat_ProductOrInstance);
    writer.SetMeshNameFormat(RWMesh_NameFormat_ProductOrInstance);
    // One primitive per part rather than per face: a thousand small parts would otherwise be mostly
    // the JSON that lists their faces.
    writer.SetMergeFaces(true);
    writer.SetSplitIndices16(true);
    return writer.Perform(document, TColStd_IndexedDataMapOfStringString(), Message_ProgressRange());
  });
  if (!written) throw nimbo_exception("Cannot write " + path);
}

}  // namespace nimbo
