// Reading STEP and IGES files, writing STEP and BREP files.
#include <nimbo/topology/ShapeAlgorithms.h>

#include <nimbo/environment.h>
#include <nimbo/nimbo_exception.h>

#include <BRepTools.hxx>
#include <IGESControl_Reader.hxx>
#include <IGESData_IGESEntity.hxx>
#include <IGESData_IGESModel.hxx>
#include <IGESData_IGESType.hxx>
#include <Interface_Static.hxx>
#include <STEPControl_Reader.hxx>
#include <STEPControl_Writer.hxx>

#include <BRep_Builder.hxx>

#include <algorithm>
#include <filesystem>
#include <utility>
#include <vector>

namespace {

/// Whether the model holds a B-Rep entity (solid, shell, face, loop, edge or vertex list), by type number.
bool holdsBrepEntities(const IGESData_IGESModel &model) {
  const std::vector<int> brep_iges_types = {186, 502, 504, 508, 510, 514};
  const int n = model.NbEntities();
  for (int index = 1; index <= n; ++index) {
    const int type = model.Entity(index)->IGESType().Type();
    if (std::find(brep_iges_types.begin(), brep_iges_types.end(), type) != brep_iges_types.end()) return true;
  }
  return false;
}

}  // namespace

TopoDS_Shape readStep(std::string path) { return readStep(std::move(path), Message_ProgressRange()); }

TopoDS_Shape readStep(std::string path, const Message_ProgressRange &progress) {
  std::optional<std::string> warning;
  return readStep(path, progress, warning);
}

TopoDS_Shape readStep(const std::string &path, const Message_ProgressRange &progress,
                      std::optional<std::string> &warning) {
  warning.reset();
  TopoDS_Shape shape;
  STEPControl_Reader reader;
  reader.ReadFile(path.c_str());
  Interface_Static::SetIVal("read.step.nonmanifold", 1);
  // A file that cannot be opened or parsed leaves no model, and the kernel's transfer would
  // dereference it; such a file gives the null shape the transfer would have left.
  if (reader.Model().IsNull()) return shape;
  reader.TransferRoots(progress);
  if (const std::optional<std::string> problem = nimbo::stepReadProblem(reader)) {
    throw nimbo_exception("STEP file " + file_name_of(path) + " " + *problem);
  }
  if (const std::optional<std::string> left_out = nimbo::stepReadWarning(reader)) {
    warning = "STEP file " + file_name_of(path) + ": " + *left_out;
  }
  shape = reader.OneShape();
  return shape;
}

TopoDS_Shape readIges(std::string path) { return readIges(std::move(path), Message_ProgressRange()); }

TopoDS_Shape readIges(std::string path, const Message_ProgressRange &progress) {
  TopoDS_Shape shape;
  IGESControl_Reader reader;
  const IFSelect_ReturnStatus status = reader.ReadFile(path.c_str());
  const Handle(IGESData_IGESModel) model = reader.IGESModel();
  const std::string fn = file_name_of(path);
  // Without a model (a missing or unreadable file) the status names the problem; a format
  // complaint would send the user looking in the wrong place.
  if (!model.IsNull() && !holdsBrepEntities(*model)) {
    throw nimbo_exception("IGES file " + fn +
                          " is not of B-Rep format. \n Please make sure your IGES file contains Manifold Solids! \n "
                          "Usually in CAD editors there is an option to save IGES with Manifold Solids (B-Rep)");
  }
  switch (status) {
    case IFSelect_RetDone:
      break;
    case IFSelect_RetVoid:
      throw nimbo_exception("No data to process in imported IGES file (" + fn + ")");
    case IFSelect_RetError:
      throw nimbo_exception("Error in IGES file (" + fn + ") input data");
    case IFSelect_RetFail:
      throw nimbo_exception("IGES file (" + fn + ") processing failed");
    case IFSelect_RetStop:
      throw nimbo_exception("IGES file (" + fn + ") processing stopped with error");
    default:
      throw nimbo_exception("Wrong format of the imported file (" + fn + "). Can't import file.");
  }
  reader.ClearShapes();
  reader.TransferRoots(progress);
  if (const std::optional<std::string> problem = nimbo::igesReadProblem(reader)) {
    throw nimbo_exception("IGES file " + fn + " " + *problem);
  }
  shape = reader.OneShape();
  return shape;
}

void writeStep(const TopoDS_Shape &shape, std::string path) {
  STEPControl_Writer writer;
  const bool written = writer.Transfer(shape, STEPControl_AsIs, true) == IFSelect_RetDone &&
                       write_atomically(path, [&writer](const std::string &file) {
                         return writer.Write(file.c_str()) == IFSelect_RetDone;
                       });
  if (!written) throw nimbo_exception("Could not write STEP file " + path);
}

void writeBrep(const TopoDS_Shape &shape, std::string path) {
  const bool written = write_atomically(path, [&shape](const std::string &file) {
    return BRepTools::Write(shape, file.c_str(), true, true, TopTools_FormatVersion_VERSION_1);
  });
  if (!written) throw nimbo_exception("Could not write BREP file " + path);
}

TopoDS_Shape readBrep(std::string path, const Message_ProgressRange &progress) {
  TopoDS_Shape shape;
  BRep_Builder builder;
  if (!BRepTools::Read(shape, path.c_str(), builder, progress)) return TopoDS_Shape();
  return shape;
}
