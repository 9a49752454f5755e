#include "frontend/Files.h"

#include <nimbo/environment.h>

#include <BRep_Builder.hxx>
#include <TopExp_Explorer.hxx>
#include <TopoDS_Compound.hxx>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <system_error>
#include <utility>

namespace fs = std::filesystem;

namespace {

nimbo::ShapeFormat formatOf(const std::string &path) {
  if (const std::optional<nimbo::ShapeFormat> format = nimbo::shapeFormatOf(path)) return *format;
  throw file_error(path, *nimbo::shapeFileProblem(path));
}

// Per thread: the Python module reads on its callers' threads.
std::vector<std::string> &readWarnings() {
  thread_local std::vector<std::string> warnings;
  return warnings;
}

void noteReadWarning(const std::string &warning) {
  std::vector<std::string> &warnings = readWarnings();
  if (std::find(warnings.begin(), warnings.end(), warning) == warnings.end()) warnings.push_back(warning);
}

TopoDS_Shape readAs(nimbo::ShapeFormat format, const std::string &path, const Message_ProgressRange &progress) {
  switch (format) {
    case nimbo::ShapeFormat::step: {
      std::optional<std::string> warning;
      TopoDS_Shape shape = readStep(path, progress, warning);
      if (warning) noteReadWarning(*warning);
      return shape;
    }
    case nimbo::ShapeFormat::iges:
      return readIges(path, progress);
    case nimbo::ShapeFormat::brep: {
      const TopoDS_Shape shape = readBrep(path, progress);
      if (shape.IsNull()) throw file_error(path, "not a readable BREP file");
      return shape;
    }
  }
  return {};
}

bool hasVertex(const TopoDS_Shape &shape) { return TopExp_Explorer(shape, TopAbs_VERTEX).More(); }

// Whether a STEP file names other files that hold its parts (its DOCUMENT_FILE entities).
bool refersToFiles(const std::string &path) {
  if (formatOf(path) != nimbo::ShapeFormat::step) return false;
  std::ifstream file(path, std::ios::binary);
  const std::string text{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
  return text.find("DOCUMENT_FILE") != std::string::npos;
}

std::string lowerCase(std::string text) {
  for (char &c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// Throws unless the folder that `path` is to be written in exists.
void checkOutputFolder(const std::string &path) {
  const fs::path folder = fs::path(path).parent_path();
  std::error_code error;
  if (!fs::is_directory(folder.empty() ? fs::path(".") : folder, error)) {
    throw file_error(path, "the folder to write it in does not exist");
  }
}

}  // namespace

void checkReadableShapeFile(const std::string &path) {
  if (const std::optional<std::string> problem = nimbo::shapeFileProblem(path)) throw file_error(path, *problem);
}

TopoDS_Shape readShapeFile(const std::string &path, bool wholeAssembly, const Message_ProgressRange &progress) {
  checkReadableShapeFile(path);
  TopoDS_Shape shape = about(path, [&] { return readAs(formatOf(path), path, progress); });
  // A file without geometry of its own may refer to files that hold it.
  if (wholeAssembly && (shape.IsNull() || !hasVertex(shape)) && refersToFiles(path)) {
    BRep_Builder builder;
    TopoDS_Compound whole;
    builder.MakeCompound(whole);
    for (const nimbo::Part &part : readParts({path}).parts) builder.Add(whole, part.shape);
    shape = whole;
  }
  // A STEP file that parses to nothing transferable, or an empty compound, has no geometry to work on.
  if (shape.IsNull() || !hasVertex(shape)) throw file_error(path, "no shape could be read from the file");
  return shape;
}

nimbo::Assembly readParts(const std::vector<std::string> &files, const Message_ProgressRange &progress) {
  for (const std::string &file : files) checkReadableShapeFile(file);
  nimbo::Assembly assembly = about(subjectOf(files), [&] { return nimbo::readAssemblies(files, progress); });
  for (const std::string &warning : assembly.warnings) noteReadWarning(warning);
  return assembly;
}

std::vector<std::string> takeReadWarnings() { return std::exchange(readWarnings(), {}); }

std::string subjectOf(const std::vector<std::string> &files) {
  return files.size() == 1 ? files.front() : "the parts of " + std::to_string(files.size()) + " files";
}

void checkWritablePath(const std::string &path) {
  if (formatOf(path) == nimbo::ShapeFormat::iges) {
    throw file_error(path, "IGES cannot be written; write .step, .stp or .brep");
  }
  const fs::path folder = fs::path(path).parent_path();
  std::error_code error;
  if (folder.empty() || fs::is_directory(folder, error)) return;
  if (fs::exists(folder, error)) throw file_error(path, folder.string() + " is not a folder");
  throw file_error(path, "the folder " + folder.string() + " does not exist");
}

void checkMeshOutput(const std::string &path) {
  checkExtension(path, ".msh", "mesh writes Gmsh's format (.msh)");
  checkOutputFolder(path);
}

void checkImprintOutput(const std::string &path) {
  checkExtension(path, ".brep", "imprint writes BREP (.brep), which keeps the shared faces and their numbering");
  checkWritablePath(path);
}

void checkExtension(const std::string &path, const std::string &extension, const std::string &why) {
  if (lowerCase(fs::path(path).extension().string()) != extension) throw file_error(path, why);
}

void writeShapeFile(const TopoDS_Shape &shape, const std::string &path) {
  checkWritablePath(path);
  about(path, [&] {
    if (formatOf(path) == nimbo::ShapeFormat::brep) {
      writeBrep(shape, path);
    } else {
      writeStep(shape, path);
    }
  });
}

void writeTextFile(const std::string &text, const std::string &path) {
  const bool written = write_atomically(path, [&](const std::string &temporary) {
    std::ofstream out(temporary, std::ios::binary);
    out << text;
    return static_cast<bool>(out.flush());
  });
  if (!written) throw file_error(path, "cannot be written");
}
