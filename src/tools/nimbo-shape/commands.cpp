#include "commands.h"

#include "shape_files.h"
#include "terminal_progress.h"

#include <nimbo/environment.h>

#include <BRepBndLib.hxx>
#include <Bnd_Box.hxx>
#include <TopExp.hxx>
#include <TopTools_IndexedMapOfShape.hxx>

#include <unistd.h>
#include <algorithm>
#include <cctype>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <limits>

namespace {

int countOf(const TopoDS_Shape &shape, TopAbs_ShapeEnum type) {
  TopTools_IndexedMapOfShape shapes;
  TopExp::MapShapes(shape, type, shapes);
  return shapes.Extent();
}

std::optional<double> measureOf(const TopoDS_Shape &shape, TopAbs_ShapeEnum dominant_type) {
  switch (dominant_type) {
    case TopAbs_SOLID:
      return getVolume(shape);
    case TopAbs_FACE:
      return getArea(shape);
    case TopAbs_EDGE:
      return getLength(shape);
    default:
      return std::nullopt;
  }
}

// The box the comparison uses: mesh where there is one, no gap.
ShapeFigures figuresOf(const std::string &file, const TopoDS_Shape &shape) {
  ShapeFigures figures;
  figures.file = file;
  figures.shape_type = shape.ShapeType();
  figures.dominant_type = getDominantShapeType(shape);
  figures.measure = measureOf(shape, figures.dominant_type);
  figures.center = getCenterOfMass(shape);
  Bnd_Box box;
  box.SetGap(0.0);
  BRepBndLib::Add(shape, box, true);
  figures.box_min = box.CornerMin();
  figures.box_max = box.CornerMax();
  return figures;
}

// The comparison's own figures, for the one case where they describe the verdict directly: two
// single shapes of one measured type. A compound is compared through its parts.
DirectionChecks checksOf(bool equal, const ShapeFigures &first, const TopoDS_Shape &first_shape,
                         const ShapeFigures &second, const TopoDS_Shape &second_shape) {
  DirectionChecks checks{equal, std::nullopt};
  const bool single = first.shape_type == first.dominant_type && second.shape_type == second.dominant_type;
  if (!single || first.shape_type != second.shape_type || !first.measure || !second.measure) return checks;
  checks.checks = getComparisonChecks(first_shape, second_shape, first.dominant_type);
  return checks;
}

std::string pairName(const std::string &first, const std::string &second) { return first + " and " + second; }

}  // namespace

StatsReport statsOf(const std::string &file) {
  const TopoDS_Shape shape = readShapeFile(file);
  return about(file, [&] {
    StatsReport report;
    report.file = file;
    report.shape_type = shape.ShapeType();
    report.dominant_type = getDominantShapeType(shape);
    report.solids = countOf(shape, TopAbs_SOLID);
    report.faces = countOf(shape, TopAbs_FACE);
    report.edges = countOf(shape, TopAbs_EDGE);
    report.vertices = countOf(shape, TopAbs_VERTEX);
    // The record is filled, never reset: NaN marks what the shape's type leaves alone.
    const double unset = std::numeric_limits<double>::quiet_NaN();
    report.statistics = {unset, unset, unset, unset, unset, unset, unset, unset, unset, unset, unset, unset, unset};
    getShapeStatistics(shape, report.statistics);
    report.bounding_box_diagonal = getBoundingBoxDiagonal(shape);
    if (report.edges > 0) report.min_edge_length = getMinEdgeLength(shape);
    report.negligible = isNegligibleShape(shape);
    report.internal_faces = hasInternalFaces(shape);
    return report;
  });
}

PartsReport partsOf(const std::string &file) {
  checkReadableShapeFile(file);
  return about(file, [&] {
    const Handle(TerminalProgress) progress = TerminalProgress::forStandardError("Reading " + file_name_of(file));
    const nimbo::Assembly assembly = nimbo::readAssembly(file, Message_ProgressIndicator::Start(progress));
    PartsReport report{file, assembly.lengthUnit, {}};
    for (const nimbo::Part &part : assembly.parts) {
      report.parts.push_back({part.path, part.name, nimbo::measurePart(part)});
    }
    return report;
  });
}

namespace {

// The parts of several files read together, each path led by its file's name when there are
// several; two files of one name, by the name as given.
struct FileParts {
  std::vector<std::string> paths;
  std::vector<nimbo::Part> parts;
};

FileParts partsOfFiles(const std::vector<std::string> &files) {
  FileParts result;
  for (const std::string &file : files) {
    checkReadableShapeFile(file);
    const nimbo::Assembly assembly = about(file, [&] {
      const Handle(TerminalProgress) progress = TerminalProgress::forStandardError("Reading " + file_name_of(file));
      return nimbo::readAssembly(file, Message_ProgressIndicator::Start(progress));
    });
    const bool same_name = std::count_if(files.begin(), files.end(), [&](const std::string &other) {
                             return file_name_of(other) == file_name_of(file);
                           }) > 1;
    const std::string prefix = files.size() == 1 ? "" : (same_name ? file : file_name_of(file)) + "/";
    for (const nimbo::Part &part : assembly.parts) {
      result.paths.push_back(prefix + part.path);
      result.parts.push_back(part);
      result.parts.back().path = result.paths.back();  // the library's messages name parts by path
    }
  }
  return result;
}

std::string subjectOf(const std::vector<std::string> &files) {
  return files.size() == 1 ? files.front() : "the parts of " + std::to_string(files.size()) + " files";
}

std::string extensionOf(const std::string &path) {
  std::string extension = std::filesystem::path(path).extension().string();
  for (char &c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return extension;
}

nimbo::Imprint imprintOf(const std::vector<std::string> &files, const std::vector<nimbo::Part> &parts,
                         const nimbo::ImprintOptions &options) {
  return about(subjectOf(files), [&] {
    const Handle(TerminalProgress) progress = TerminalProgress::forStandardError("Imprinting");
    return nimbo::imprintAssembly(parts, options, Message_ProgressIndicator::Start(progress));
  });
}

double secondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// 1-based numbers of `shapes` in `map`.
std::vector<int> numbersIn(const TopTools_IndexedMapOfShape &map, const std::vector<TopoDS_Shape> &shapes) {
  std::vector<int> numbers;
  for (const TopoDS_Shape &shape : shapes) numbers.push_back(map.FindIndex(shape));
  return numbers;
}

// Replaces `path` only with a complete file: the text goes to a hidden temporary beside it first.
void writeTextFile(const std::string &text, const std::string &path) {
  const std::filesystem::path target(path);
  const std::filesystem::path temporary =
      target.parent_path() / ("." + target.filename().string() + "." + std::to_string(getpid()) + ".tmp");
  {
    std::ofstream out(temporary, std::ios::binary);
    out << text;
    if (!out.flush()) {
      std::error_code ignored;
      std::filesystem::remove(temporary, ignored);
      throw tool_error(path, "cannot be written");
    }
  }
  std::error_code error;
  std::filesystem::rename(temporary, target, error);
  if (error) {
    std::filesystem::remove(temporary, error);
    throw tool_error(path, "cannot be written");
  }
}

void checkSvgPath(const std::string &path) {
  if (extensionOf(path) != ".svg") throw tool_error(path, "drawings are written as SVG (.svg)");
}

void drawClash(const FileParts &read, const nimbo::Interferences &found, const std::string &svg, bool contacts) {
  const nimbo::Color grey{0.6, 0.6, 0.6}, red{0.86, 0.08, 0.08}, blue{0.1, 0.35, 0.85};
  std::vector<nimbo::Color> stroke(read.parts.size(), grey);
  if (contacts) {
    for (const nimbo::Contact &c : found.contacts) stroke[c.first] = stroke[c.second] = blue;
  }
  for (const nimbo::Overlap &o : found.overlaps) stroke[o.first] = stroke[o.second] = red;
  std::vector<nimbo::RenderItem> items;
  for (std::size_t i = 0; i < read.parts.size(); ++i)
    items.push_back({read.parts[i].shape, {stroke[i], std::nullopt, ""}});
  for (const nimbo::Overlap &o : found.overlaps) {
    items.push_back({o.region, {red, red, read.paths[o.first] + " x " + read.paths[o.second]}});
  }
  if (contacts) {
    for (const nimbo::Contact &c : found.contacts) {
      if (!c.faces.IsNull())
        items.push_back({c.faces, {blue, blue, read.paths[c.first] + " | " + read.paths[c.second]}});
    }
  }
  writeTextFile(about(svg, [&] { return nimbo::renderSvg(items, nimbo::viewNamed("iso")); }), svg);
}

}  // namespace

ClashReport clashOf(const std::vector<std::string> &files, const nimbo::InterferenceOptions &options,
                    const std::string &svg, bool contacts) {
  if (!svg.empty()) checkSvgPath(svg);
  const auto started = std::chrono::steady_clock::now();
  FileParts read = partsOfFiles(files);
  ClashReport report{files, read.paths, {}, 0.0};
  report.found = about(subjectOf(files), [&] {
    const Handle(TerminalProgress) progress = TerminalProgress::forStandardError("Checking pairs");
    return nimbo::findInterferences(read.parts, options, Message_ProgressIndicator::Start(progress));
  });
  if (!svg.empty()) drawClash(read, report.found, svg, contacts);
  report.seconds = secondsSince(started);
  return report;
}

ImprintReport imprintFiles(const std::vector<std::string> &files, const std::string &output,
                           const nimbo::ImprintOptions &options) {
  const auto started = std::chrono::steady_clock::now();
  if (extensionOf(output) != ".brep") {
    throw tool_error(output, "imprint writes BREP (.brep), which keeps the shared faces and their numbering");
  }
  checkWritablePath(output);
  FileParts read = partsOfFiles(files);
  ImprintReport report{files, output, std::move(read.paths), {}, 0, 0, {}, {}, 0.0};
  report.imprint = imprintOf(files, read.parts, options);
  writeShapeFile(report.imprint.compound, output);
  TopTools_IndexedMapOfShape solids;
  TopTools_IndexedMapOfShape faces;
  TopExp::MapShapes(report.imprint.compound, TopAbs_SOLID, solids);
  TopExp::MapShapes(report.imprint.compound, TopAbs_FACE, faces);
  report.solids = solids.Extent();
  for (const nimbo::ImprintedPart &part : report.imprint.parts)
    report.part_solids.push_back(numbersIn(solids, part.solids));
  for (const nimbo::Interface &interface : report.imprint.interfaces) {
    report.interface_faces.push_back(numbersIn(faces, interface.faces));
    report.shared_faces += static_cast<int>(interface.faces.size());
  }
  report.seconds = secondsSince(started);
  return report;
}

RenderReport renderFiles(const std::vector<std::string> &files, const std::string &output, const std::string &view,
                         const nimbo::RenderOptions &options) {
  const auto started = std::chrono::steady_clock::now();
  if (extensionOf(output) != ".svg") throw tool_error(output, "render writes SVG (.svg)");
  const nimbo::View seen = about(view, [&] { return nimbo::viewNamed(view); });
  const FileParts read = partsOfFiles(files);
  std::vector<nimbo::RenderItem> items;
  for (std::size_t i = 0; i < read.parts.size(); ++i) {
    const nimbo::Part &part = read.parts[i];
    items.push_back(
        {part.shape,
         {part.color.value_or(nimbo::paletteColor(i)), std::nullopt, read.parts.size() <= 12 ? read.paths[i] : ""}});
  }
  const std::string svg = about(subjectOf(files), [&] { return nimbo::renderSvg(items, seen, options); });
  writeTextFile(svg, output);
  return {files, output, items.size(), secondsSince(started)};
}

DiffReport diffFiles(const std::string &before, const std::string &after) {
  const auto started = std::chrono::steady_clock::now();
  // Each revision alone: its paths are its own, without a file name in front.
  const FileParts old = partsOfFiles({before});
  const FileParts now = partsOfFiles({after});
  DiffReport report{before, after, old.paths, now.paths, {}, 0.0};
  report.diff = about(pairName(before, after), [&] { return nimbo::diffAssemblies(old.parts, now.parts); });
  report.seconds = secondsSince(started);
  return report;
}

#ifdef NIMBO_HAVE_MESH
MeshReport meshFiles(const std::vector<std::string> &files, const std::string &output,
                     const nimbo::ImprintOptions &imprint, double size, int order, bool verbose) {
  const auto started = std::chrono::steady_clock::now();
  if (extensionOf(output) != ".msh") throw tool_error(output, "mesh writes Gmsh's format (.msh)");
  if (!std::filesystem::is_directory(std::filesystem::path(output).parent_path().empty()
                                         ? std::filesystem::path(".")
                                         : std::filesystem::path(output).parent_path())) {
    throw tool_error(output, "the folder to write it in does not exist");
  }
  const FileParts read = partsOfFiles(files);
  const nimbo::Imprint imprinted = imprintOf(files, read.parts, imprint);
  MeshReport report{files, output, imprinted.parts.size(), {}, secondsSince(started), 0.0};
  const auto meshing = std::chrono::steady_clock::now();
  nimbo::MeshOptions options;
  options.size = size;
  options.order = order;
  options.verbose = verbose;
  report.summary = about(subjectOf(files), [&] {
    const Handle(TerminalProgress) progress = TerminalProgress::forStandardError("Meshing");
    return nimbo::meshAssembly(imprinted, output, options, Message_ProgressIndicator::Start(progress));
  });
  TopTools_IndexedMapOfShape solids;
  TopExp::MapShapes(imprinted.compound, TopAbs_SOLID, solids);
  report.solids = static_cast<std::size_t>(solids.Extent());
  report.mesh_seconds = secondsSince(meshing);
  return report;
}
#endif

CompareReport compareFiles(const std::string &first, const std::string &second, const std::string &svg) {
  if (!svg.empty()) checkSvgPath(svg);
  const TopoDS_Shape first_shape = readShapeFile(first);
  const TopoDS_Shape second_shape = readShapeFile(second);
  CompareReport compared = about(pairName(first, second), [&] {
    // The verdicts come first: comparing meshes the shapes, and the boxes shown are then the ones
    // the comparison saw.
    const bool forward = areShapesEqual(first_shape, second_shape);
    const bool backward = areShapesEqual(second_shape, first_shape);
    CompareReport report;
    report.first = figuresOf(first, first_shape);
    report.second = figuresOf(second, second_shape);
    report.forward = checksOf(forward, report.first, first_shape, report.second, second_shape);
    report.backward = checksOf(backward, report.second, second_shape, report.first, first_shape);
    return report;
  });
  if (!svg.empty()) {
    const std::vector<nimbo::RenderItem> items = {{first_shape, {nimbo::paletteColor(0), std::nullopt, first}},
                                                  {second_shape, {nimbo::paletteColor(1), std::nullopt, second}}};
    writeTextFile(about(svg, [&] { return nimbo::renderSvg(items, nimbo::viewNamed("iso")); }), svg);
  }
  return compared;
}

OverlapReport overlapOf(const std::string &first, const std::string &second) {
  const TopoDS_Shape first_shape = readShapeFile(first);
  const TopoDS_Shape second_shape = readShapeFile(second);
  const bool overlap = about(pairName(first, second), [&] { return doShapesOverlap(first_shape, second_shape); });
  return {first, second, overlap};
}

DistanceReport distanceOf(const std::string &first, const std::string &second) {
  const TopoDS_Shape first_shape = readShapeFile(first);
  const TopoDS_Shape second_shape = readShapeFile(second);
  gp_Vec vector;
  const double distance =
      about(pairName(first, second), [&] { return getMinDistance(first_shape, second_shape, vector); });
  // The library answers 1e20 when the computation fails; that is no distance to print.
  if (distance >= 1e20) throw tool_error(pairName(first, second), "the minimum distance could not be computed");
  return {first, second, distance, vector};
}

ConvertReport convertFile(const std::string &input, const std::string &output, double scale) {
  checkWritablePath(output);
  TopoDS_Shape shape = readShapeFile(input);
  if (scale != 1.0) shape = about(input, [&] { return scaleShape(shape, scale); });
  writeShapeFile(shape, output);
  return {input, output, scale, getDominantShapeType(shape)};
}
