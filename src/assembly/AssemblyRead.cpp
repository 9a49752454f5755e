// Reading CAD files into assemblies: STEP and IGES through the kernel's XDE readers, BREP directly.
#include <nimbo/assembly/Assembly.h>
#include "AssemblyTree.h"

#include <nimbo/environment.h>
#include <nimbo/nimbo_exception.h>
#include <nimbo/topology/ShapeAlgorithms.h>

#include <IGESCAFControl_Reader.hxx>
#include <IGESData_GlobalSection.hxx>
#include <IGESData_IGESModel.hxx>
#include <Message_ProgressScope.hxx>
#include <NCollection_DataMap.hxx>
#include <STEPCAFControl_ExternFile.hxx>
#include <STEPCAFControl_Reader.hxx>
#include <StepData_StepModel.hxx>
#include <StepRepr_NextAssemblyUsageOccurrence.hxx>
#include <TColStd_SequenceOfAsciiString.hxx>
#include <TDocStd_Document.hxx>
#include <XCAFDoc_DocumentTool.hxx>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <map>
#include <set>

namespace nimbo {

namespace {

std::string stemOf(const std::string &path) { return std::filesystem::path(path).stem().string(); }

// A document of the kernel's XDE kind that belongs to no application, so nothing outlives the read.
Handle(TDocStd_Document) newDocument() {
  Handle(TDocStd_Document) document = new TDocStd_Document("MDTV-XCAF");
  XCAFDoc_DocumentTool::Set(document->Main());
  return document;
}

// The unit most of the file's representations are in; files with parts in several units are rare.
std::string mostCommon(const TColStd_SequenceOfAsciiString &names) {
  std::map<std::string, int> counts;
  std::string best;
  int bestCount = 0;
  for (const TCollection_AsciiString &name : names) {
    const int count = ++counts[name.ToCString()];
    if (count > bestCount) {
      best = name.ToCString();
      bestCount = count;
    }
  }
  return best;
}

bool isBlank(const Handle(TCollection_HAsciiString) & text) {
  if (text.IsNull()) return true;
  const std::string value = text->ToCString();
  return value.find_first_not_of(" \t\r\n") == std::string::npos;
}

// The reader names an occurrence whose name is blank by its id ("NAUO1"), which names nothing.
std::set<std::string> occurrenceIdsWithoutName(const Handle(StepData_StepModel) & model) {
  std::set<std::string> ids;
  if (model.IsNull()) return ids;
  for (int i = 1; i <= model->NbEntities(); ++i) {
    const Handle(StepRepr_NextAssemblyUsageOccurrence) occurrence =
        Handle(StepRepr_NextAssemblyUsageOccurrence)::DownCast(model->Value(i));
    if (!occurrence.IsNull() && isBlank(occurrence->Name()) && !isBlank(occurrence->Id())) {
      ids.insert(occurrence->Id()->ToCString());
    }
  }
  return ids;
}

// A file the main file refers to must have been read and transferred, or parts would be missing
// without a word.
void checkReferences(const STEPCAFControl_Reader &reader, const std::string &path) {
  const std::filesystem::path folder = std::filesystem::path(path).parent_path();
  for (NCollection_DataMap<TCollection_AsciiString, Handle(STEPCAFControl_ExternFile)>::Iterator files(
           reader.ExternFiles());
       files.More(); files.Next()) {
    const Handle(STEPCAFControl_ExternFile) &file = files.Value();
    if (file->GetLoadStatus() == IFSelect_RetDone && file->GetTransferStatus()) continue;
    const std::string name = file->GetName().IsNull() ? files.Key().ToCString() : file->GetName()->ToCString();
    std::error_code error;
    const bool exists = std::filesystem::exists(folder / name, error);
    throw input_error("STEP file " + file_name_of(path) + " refers to " + name + ", which " +
                          (exists ? "could not be read" : "is missing"));
  }
}

Assembly readStepAssembly(const std::string &path, const Message_ProgressRange &progress) {
  const std::string fileName = file_name_of(path);
  STEPCAFControl_Reader reader;
  reader.SetNameMode(true);
  reader.SetColorMode(true);
  reader.SetLayerMode(false);
  reader.SetPropsMode(false);
  reader.SetGDTMode(false);
  reader.SetMatMode(false);
  reader.SetViewMode(false);
  // The reader looks for the files this one refers to beside the path it was given, and loses its
  // way on a relative path that leaves the working folder ("../"): it gets the whole path.
  const std::string whole = std::filesystem::absolute(path).lexically_normal().string();
  if (reader.ReadFile(whole.c_str()) != IFSelect_RetDone)
    throw input_error("STEP file " + fileName + " could not be read");
  Assembly assembly;
  TColStd_SequenceOfAsciiString lengths, angles, solidAngles;
  reader.ChangeReader().FileUnits(lengths, angles, solidAngles);
  assembly.lengthUnit = mostCommon(lengths);
  Handle(TDocStd_Document) document = newDocument();
  const bool transferred = reader.Transfer(document, progress);
  checkReferences(reader, path);
  if (const std::optional<std::string> problem = stepReadProblem(reader.ChangeReader())) {
    throw input_error("STEP file " + fileName + " " + *problem);
  }
  if (const std::optional<std::string> left_out = stepReadWarning(reader.ChangeReader())) {
    assembly.warnings.push_back("STEP file " + fileName + ": " + *left_out);
  }
  if (transferred) {
    assembly.parts =
        detail::partsOfDocument(document, stemOf(path), occurrenceIdsWithoutName(reader.ChangeReader().StepModel()));
  }
  if (assembly.parts.empty()) throw input_error("STEP file " + fileName + " holds no shape");
  return assembly;
}

Assembly readIgesAssembly(const std::string &path, const Message_ProgressRange &progress) {
  const std::string fileName = file_name_of(path);
  IGESCAFControl_Reader reader;
  reader.SetNameMode(true);
  reader.SetColorMode(true);
  reader.SetLayerMode(false);
  if (reader.ReadFile(path.c_str()) != IFSelect_RetDone || reader.IGESModel().IsNull()) {
    throw input_error("IGES file " + fileName + " could not be read");
  }
  // The parser takes any text for an IGES file and finds nothing in it.
  if (reader.IGESModel()->NbEntities() == 0) throw input_error("IGES file " + fileName + " holds no IGES entity");
  Assembly assembly;
  const Handle(TCollection_HAsciiString) unit = reader.IGESModel()->GlobalSection().UnitName();
  if (!unit.IsNull()) assembly.lengthUnit = unit->ToCString();
  Handle(TDocStd_Document) document = newDocument();
  const bool transferred = reader.Transfer(document, progress);
  if (const std::optional<std::string> problem = igesReadProblem(reader)) {
    throw input_error("IGES file " + fileName + " " + *problem);
  }
  if (transferred) assembly.parts = detail::partsOfDocument(document, stemOf(path));
  if (assembly.parts.empty()) throw input_error("IGES file " + fileName + " holds no shape");
  return assembly;
}

Assembly readBrepAssembly(const std::string &path, const Message_ProgressRange &progress) {
  const TopoDS_Shape shape = readBrep(path, progress);
  if (shape.IsNull()) throw input_error("BREP file " + file_name_of(path) + " could not be read");
  Assembly assembly;
  const std::string name = stemOf(path);
  std::map<TopAbs_ShapeEnum, int> counts;
  for (const TopoDS_Shape &piece : detail::partPieces(shape)) {
    const std::string path_segment =
        shapeTypeName(piece.ShapeType()) + std::string("_") + std::to_string(++counts[piece.ShapeType()]);
    assembly.parts.push_back({path_segment, name, piece, std::nullopt});
  }
  if (assembly.parts.empty()) throw input_error("BREP file " + file_name_of(path) + " holds no shape");
  return assembly;
}

}  // namespace

Assembly readAssembly(const std::string &path, const Message_ProgressRange &progress) {
  const std::optional<ShapeFormat> format = shapeFormatOf(path);
  if (const std::optional<std::string> problem = shapeFileProblem(path)) {
    throw input_error(file_name_of(path) + ": " + *problem);
  }
  switch (*format) {
    case ShapeFormat::step:
      return readStepAssembly(path, progress);
    case ShapeFormat::iges:
      return readIgesAssembly(path, progress);
    case ShapeFormat::brep:
      return readBrepAssembly(path, progress);
  }
  return {};
}

Assembly readAssemblies(const std::vector<std::string> &paths, const Message_ProgressRange &progress) {
  Message_ProgressScope scope(progress, "Reading", static_cast<double>(std::max<std::size_t>(1, paths.size())));
  Assembly together;
  for (std::size_t k = 0; k < paths.size(); ++k) {
    const std::string &path = paths[k];
    Assembly assembly = readAssembly(path, scope.Next());
    together.lengthUnit = k == 0 || together.lengthUnit == assembly.lengthUnit ? assembly.lengthUnit : "";
    const bool same_name = std::count_if(paths.begin(), paths.end(), [&](const std::string &other) {
                             return file_name_of(other) == file_name_of(path);
                           }) > 1;
    const std::string prefix = paths.size() == 1 ? "" : (same_name ? path : file_name_of(path)) + "/";
    for (Part &part : assembly.parts) {
      part.path = prefix + part.path;
      together.parts.push_back(std::move(part));
    }
    together.warnings.insert(together.warnings.end(), assembly.warnings.begin(), assembly.warnings.end());
  }
  return together;
}

}  // namespace nimbo
