#include "shape_files.h"

#include "terminal_progress.h"

#include <nimbo/environment.h>
#include <nimbo/topology/ShapeAlgorithms.h>

#include <BRepTools.hxx>
#include <BRep_Builder.hxx>
#include <Message_ProgressIndicator.hxx>
#include <TopExp_Explorer.hxx>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <system_error>

namespace fs = std::filesystem;

namespace {

enum class ShapeFormat { step, iges, brep };

const char *const known_extensions = ".step, .stp, .iges, .igs or .brep";

std::optional<ShapeFormat> knownFormat(const std::string &path) {
  std::string extension = file_extension(path);
  std::transform(extension.begin(), extension.end(), extension.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  if (extension == ".step" || extension == ".stp") return ShapeFormat::step;
  if (extension == ".iges" || extension == ".igs") return ShapeFormat::iges;
  if (extension == ".brep") return ShapeFormat::brep;
  return std::nullopt;
}

ShapeFormat formatOf(const std::string &path) {
  if (const std::optional<ShapeFormat> format = knownFormat(path)) return *format;
  const std::string extension = file_extension(path);
  if (extension.empty()) throw tool_error(path, std::string("no file extension; expected ") + known_extensions);
  throw tool_error(path, "unknown extension \"" + file_extension(path) + "\"; expected " + known_extensions);
}

// The kernel's readers say little about a file they cannot open, so the tool asks first.
void checkReadable(const std::string &path) {
  std::error_code error;
  const fs::file_status status = fs::status(path, error);
  if (error) throw tool_error(path, error.message());
  if (fs::is_directory(status)) throw tool_error(path, "is a directory");
  // A pipe or a device may never deliver, and the kernel's readers would wait for it forever.
  if (!fs::is_regular_file(status)) throw tool_error(path, "is not a regular file");
  std::ifstream file(path, std::ios::binary);
  if (!file) throw tool_error(path, std::string("cannot open: ") + std::strerror(errno));
}

TopoDS_Shape readBrep(const std::string &path, const Message_ProgressRange &progress) {
  TopoDS_Shape shape;
  BRep_Builder builder;
  if (!BRepTools::Read(shape, path.c_str(), builder, progress)) throw tool_error(path, "not a readable BREP file");
  return shape;
}

TopoDS_Shape readAs(ShapeFormat format, const std::string &path, const Message_ProgressRange &progress) {
  switch (format) {
    case ShapeFormat::step:
      return readStep(path, progress);
    case ShapeFormat::iges:
      return readIges(path, progress);
    case ShapeFormat::brep:
      return readBrep(path, progress);
  }
  return {};
}

bool hasVertex(const TopoDS_Shape &shape) { return TopExp_Explorer(shape, TopAbs_VERTEX).More(); }

}  // namespace

std::string kernelFailureText(const Standard_Failure &failure) {
  const std::string message = failure.GetMessageString() ? failure.GetMessageString() : "";
  const std::string type = failure.DynamicType()->Name();
  return message.empty() ? "kernel failure " + type : "kernel failure " + type + ": " + message;
}

std::vector<std::string> shapeFilesIn(const std::vector<std::string> &inputs) {
  std::vector<std::string> files;
  for (const std::string &input : inputs) {
    std::error_code error;
    if (!fs::is_directory(input, error)) {
      files.push_back(input);
      continue;
    }
    std::vector<std::string> found;
    for (fs::recursive_directory_iterator entry(input, fs::directory_options::skip_permission_denied, error), end;
         !error && entry != end; entry.increment(error)) {
      std::error_code type_error;
      if (entry->is_regular_file(type_error) && knownFormat(entry->path().string())) {
        found.push_back(entry->path().string());
      }
    }
    if (error) throw tool_error(input, error.message());
    if (found.empty()) throw tool_error(input, std::string("holds no ") + known_extensions + " file");
    std::sort(found.begin(), found.end());
    files.insert(files.end(), found.begin(), found.end());
  }
  return files;
}

LeftoverGuard::LeftoverGuard(const std::string &output)
    : folder_(fs::path(output).parent_path()), prefix_("." + fs::path(output).filename().string() + ".") {
  if (folder_.empty()) folder_ = ".";
  before_ = temporaries();
}

LeftoverGuard::~LeftoverGuard() {
  for (const fs::path &file : temporaries()) {
    std::error_code ignored;
    if (before_.count(file) == 0) fs::remove_all(file, ignored);  // the mesher's is a folder
  }
}

std::set<fs::path> LeftoverGuard::temporaries() const {
  std::set<fs::path> found;
  std::error_code error;
  for (fs::directory_iterator entry(folder_, error), end; !error && entry != end; entry.increment(error)) {
    const std::string name = entry->path().filename().string();
    if (name.rfind(prefix_, 0) == 0 && entry->path().extension() == ".tmp") found.insert(entry->path());
  }
  return found;
}

void checkReadableShapeFile(const std::string &path) {
  formatOf(path);
  checkReadable(path);
}

TopoDS_Shape readShapeFile(const std::string &path) {
  const ShapeFormat format = formatOf(path);
  checkReadable(path);
  const Handle(TerminalProgress) progress = TerminalProgress::forStandardError("Reading " + file_name_of(path));
  const TopoDS_Shape shape =
      about(path, [&] { return readAs(format, path, Message_ProgressIndicator::Start(progress)); });
  // A STEP file that parses to nothing transferable, or an empty compound, has no geometry to work on.
  if (shape.IsNull() || !hasVertex(shape)) throw tool_error(path, "no shape could be read from the file");
  return shape;
}

void checkWritablePath(const std::string &path) {
  const ShapeFormat format = formatOf(path);
  if (format == ShapeFormat::iges) throw tool_error(path, "IGES cannot be written; write .step, .stp or .brep");
  const fs::path folder = fs::path(path).parent_path();
  std::error_code error;
  if (folder.empty() || fs::is_directory(folder, error)) return;
  if (fs::exists(folder, error)) throw tool_error(path, folder.string() + " is not a folder");
  throw tool_error(path, "the folder " + folder.string() + " does not exist");
}

void writeShapeFile(const TopoDS_Shape &shape, const std::string &path) {
  checkWritablePath(path);
  about(path, [&] {
    if (formatOf(path) == ShapeFormat::brep) {
      writeBrep(shape, path);
    } else {
      writeStep(shape, path);
    }
  });
}
