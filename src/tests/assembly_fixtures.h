// Assemblies built with OCCT's XDE document and written with its STEP and IGES writers, for the
// tests and the sample generator.
#pragma once

#include <IGESCAFControl_Writer.hxx>
#include <IGESControl_Controller.hxx>
#include <Interface_Static.hxx>
#include <Quantity_Color.hxx>
#include <STEPCAFControl_Controller.hxx>
#include <STEPCAFControl_Writer.hxx>
#include <TDataStd_Name.hxx>
#include <TDocStd_Document.hxx>
#include <TopLoc_Location.hxx>
#include <XCAFDoc_ColorTool.hxx>
#include <XCAFDoc_DocumentTool.hxx>
#include <XCAFDoc_ShapeTool.hxx>
#include <gp_Trsf.hxx>

#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>

namespace nimbo::test {

#ifdef NIMBO_SHARED_CAD_DIR
/// Why a test of a whole assembly from the shared CAD folder must skip, if it must: the folder is
/// not beside the repository, or this is the sanitizer build, where full leak stacks through the
/// kernel make such a test take minutes (the tests on built shapes run the same paths there).
inline std::optional<std::string> sharedAssemblySkip() {
  if (!std::filesystem::is_directory(NIMBO_SHARED_CAD_DIR)) {
    return std::string("no folder ") + NIMBO_SHARED_CAD_DIR + " beside the repository";
  }
#ifdef NIMBO_SANITIZED
  return std::string("the release build runs this one");
#else
  return std::nullopt;
#endif
}

/// A file of the shared CAD folder.
inline std::string sharedCadFile(const std::string &name) {
  return (std::filesystem::path(NIMBO_SHARED_CAD_DIR) / name).string();
}
#endif

/// A translation by (x, y, z).
inline gp_Trsf translation(double x, double y, double z) {
  gp_Trsf trsf;
  trsf.SetTranslation(gp_Vec(x, y, z));
  return trsf;
}

/// An assembly tree in an XDE document: products (shapes or assemblies) placed as named instances.
class XdeAssembly {
 public:
  XdeAssembly() : document_(new TDocStd_Document("MDTV-XCAF")) {
    XCAFDoc_DocumentTool::Set(document_->Main());
    shapes_ = XCAFDoc_DocumentTool::ShapeTool(document_->Main());
    colors_ = XCAFDoc_DocumentTool::ColorTool(document_->Main());
  }

  /// A product holding `shape`; named unless `name` is empty.
  TDF_Label product(const std::string &name, const TopoDS_Shape &shape) {
    return named(shapes_->AddShape(shape, false), name);
  }

  /// A product holding `shape` in an sRGB colour.
  TDF_Label product(const std::string &name, const TopoDS_Shape &shape, double red, double green, double blue) {
    const TDF_Label label = product(name, shape);
    colors_->SetColor(label, Quantity_Color(red, green, blue, Quantity_TOC_sRGB), XCAFDoc_ColorSurf);
    return label;
  }

  /// An assembly product without components yet.
  TDF_Label assembly(const std::string &name) { return named(shapes_->NewShape(), name); }

  /// Places `product` in `assembly`; the instance is named unless `instance` is empty.
  TDF_Label place(const TDF_Label &assembly, const TDF_Label &product, const gp_Trsf &placement = gp_Trsf(),
                  const std::string &instance = "") {
    return named(shapes_->AddComponent(assembly, product, TopLoc_Location(placement)), instance);
  }

  /// Writes the document as STEP in `unit` ("MM", "INCH", ...); with `external`, every part goes to
  /// a file of its own beside `path`, referred to from it.
  void writeStep(const std::filesystem::path &path, const std::string &unit = "MM", bool external = false) {
    shapes_->UpdateAssemblies();
    STEPCAFControl_Controller::Init();  // defines the writer's parameters, which are set next
    const KernelSetting step_unit("write.step.unit", unit);
    STEPCAFControl_Writer writer;
    if (!writer.Transfer(document_, STEPControl_AsIs, external ? "" : nullptr) ||
        writer.Write(path.c_str()) != IFSelect_RetDone) {
      throw std::runtime_error("Could not write " + path.string());
    }
  }

  /// Writes the document as IGES in millimetres, faces as trimmed surfaces (no B-Rep entities).
  void writeIgesSurfaces(const std::filesystem::path &path) {
    shapes_->UpdateAssemblies();
    IGESControl_Controller::Init();  // defines the writer's parameters, which it reads when made
    const KernelSetting iges_unit("write.iges.unit", "MM");
    const KernelSetting iges_mode("write.iges.brep.mode", "Faces");
    IGESCAFControl_Writer writer;
    if (!writer.Transfer(document_) || !writer.Write(path.c_str())) {
      throw std::runtime_error("Could not write " + path.string());
    }
  }

 private:
  // A process-wide writer parameter for the scope of one write.
  class KernelSetting {
   public:
    KernelSetting(const char *name, const std::string &value) : name_(name), saved_(Interface_Static::CVal(name)) {
      if (!Interface_Static::SetCVal(name, value.c_str())) throw std::runtime_error(std::string("Cannot set ") + name);
    }
    ~KernelSetting() { Interface_Static::SetCVal(name_, saved_.c_str()); }
    KernelSetting(const KernelSetting &) = delete;
    KernelSetting &operator=(const KernelSetting &) = delete;

   private:
    const char *name_;
    std::string saved_;
  };

  static TDF_Label named(const TDF_Label &label, const std::string &name) {
    if (!name.empty()) TDataStd_Name::Set(label, name.c_str());
    return label;
  }

  Handle(TDocStd_Document) document_;
  Handle(XCAFDoc_ShapeTool) shapes_;
  Handle(XCAFDoc_ColorTool) colors_;
};

}  // namespace nimbo::test
