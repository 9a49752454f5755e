#include "shape_files.h"

#include "terminal_progress.h"

#include <nimbo/environment.h>

#include <BRep_Builder.hxx>
#include <Message_ProgressIndicator.hxx>
#include <TopExp_Explorer.hxx>
#include <TopoDS_Compound.hxx>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <system_error>

namespace fs = std::filesystem;

namespace {

nimbo::ShapeFormat formatOf(const std::string &path) {
  if (const std::optional<nimbo::ShapeFormat> format = nimbo::shapeFormatOf(path)) return *format;
  throw tool_error(path, *nimbo::shapeFileProblem(path));
}

TopoDS_Shape readAs(nimbo::ShapeFormat format, const std::string &path, const Message_ProgressRange &progress) {
  switch (format) {
    case nimbo::ShapeFormat::step:
      return readStep(path, progress);
    case nimbo::ShapeFormat::iges:
      return readIges(path, progress);
    case nimbo::ShapeFormat::brep: {
      const TopoDS_Shape shape = readBrep(path, progress);
      if (shape.IsNull()) throw tool_error(path, "not a readable BREP file");
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

}  // namespace

std::vector<BatchInput> shapeFilesIn(const std::vector<std::string> &inputs) {
  std::vector<BatchInput> files;
  for (const std::string &input : inputs) {
    std::error_code error;
    if (!fs::is_directory(input, error)) {
      files.push_back({input, ""});
      continue;
    }
    std::vector<std::string> found;
    for (fs::recursive_directory_iterator entry(input, fs::directory_options::skip_permission_denied, error), end;
         !error && entry != end; entry.increment(error)) {
      std::error_code type_error;
      if (entry->is_regular_file(type_error) && nimbo::shapeFormatOf(entry->path().string())) {
        found.push_back(entry->path().string());
      }
    }
    if (error) {
      files.push_back({input, error.message()});
    } else if (found.empty()) {
      files.push_back({input, std::string("holds no ") + nimbo::shapeFileExtensions + " file"});
    }
    std::sort(found.begin(), found.end());
    for (std::string &file : found) files.push_back({std::move(file), ""});
  }
  return files;
}

LeftoverGuard::LeftoverGuard(const std::string &output) : output_(output), folder_(fs::path(output).parent_path()) {
  if (folder_.empty()) folder_ = ".";
  before_ = temporaries();
}

LeftoverGuard::~LeftoverGuard() {
  for (const fs::path &file : temporaries()) {
    std::error_code ignored;
    if (before_.count(file) == 0) fs::remove_all(file, ignored);
  }
}

std::set<fs::path> LeftoverGuard::temporaries() const {
  std::set<fs::path> found;
  std::error_code error;
  for (fs::directory_iterator entry(folder_, error), end; !error && entry != end; entry.increment(error)) {
    if (is_temporary_for(entry->path().string(), output_)) found.insert(entry->path());
  }
  return found;
}

void checkReadableShapeFile(const std::string &path) {
  if (const std::optional<std::string> problem = nimbo::shapeFileProblem(path)) throw tool_error(path, *problem);
}

TopoDS_Shape readShapeFile(const std::string &path, bool wholeAssembly) {
  checkReadableShapeFile(path);
  const Handle(TerminalProgress) progress = TerminalProgress::forStandardError("Reading " + file_name_of(path));
  TopoDS_Shape shape =
      about(path, [&] { return readAs(formatOf(path), path, Message_ProgressIndicator::Start(progress)); });
  // A file without geometry of its own may refer to files that hold it.
  if (wholeAssembly && (shape.IsNull() || !hasVertex(shape)) && refersToFiles(path)) {
    BRep_Builder builder;
    TopoDS_Compound whole;
    builder.MakeCompound(whole);
    for (const nimbo::Part &part : readParts({path}).parts) builder.Add(whole, part.shape);
    shape = whole;
  }
  // A STEP file that parses to nothing transferable, or an empty compound, has no geometry to work on.
  if (shape.IsNull() || !hasVertex(shape)) throw tool_error(path, "no shape could be read from the file");
  return shape;
}

nimbo::Assembly readParts(const std::vector<std::string> &files) {
  for (const std::string &file : files) checkReadableShapeFile(file);
  const std::string label = files.size() == 1 ? "Reading " + file_name_of(files.front()) : "Reading";
  return about(subjectOf(files), [&] {
    const Handle(TerminalProgress) progress = TerminalProgress::forStandardError(label);
    return nimbo::readAssemblies(files, Message_ProgressIndicator::Start(progress));
  });
}

std::string subjectOf(const std::vector<std::string> &files) {
  return files.size() == 1 ? files.front() : "the parts of " + std::to_string(files.size()) + " files";
}

std::string workSubject(const std::vector<std::string> &files, const std::string &subcommand) {
  return files.size() == 1 ? files.front() : subcommand;
}

void checkWritablePath(const std::string &path) {
  if (formatOf(path) == nimbo::ShapeFormat::iges) {
    throw tool_error(path, "IGES cannot be written; write .step, .stp or .brep");
  }
  const fs::path folder = fs::path(path).parent_path();
  std::error_code error;
  if (folder.empty() || fs::is_directory(folder, error)) return;
  if (fs::exists(folder, error)) throw tool_error(path, folder.string() + " is not a folder");
  throw tool_error(path, "the folder " + folder.string() + " does not exist");
}

void checkExtension(const std::string &path, const std::string &extension, const std::string &why) {
  if (lowerCase(fs::path(path).extension().string()) != extension) throw tool_error(path, why);
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
  if (!written) throw tool_error(path, "cannot be written");
}
