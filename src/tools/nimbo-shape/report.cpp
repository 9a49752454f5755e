#include "report.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <iomanip>
#include <string>
#include <utility>
#include <vector>

using json = nlohmann::ordered_json;

namespace {

const char *typeName(TopAbs_ShapeEnum type) {
  switch (type) {
    case TopAbs_COMPOUND:
      return "compound";
    case TopAbs_COMPSOLID:
      return "compsolid";
    case TopAbs_SOLID:
      return "solid";
    case TopAbs_SHELL:
      return "shell";
    case TopAbs_FACE:
      return "face";
    case TopAbs_WIRE:
      return "wire";
    case TopAbs_EDGE:
      return "edge";
    case TopAbs_VERTEX:
      return "vertex";
    default:
      return "shape";
  }
}

const char *measureName(TopAbs_ShapeEnum dominant_type) {
  switch (dominant_type) {
    case TopAbs_SOLID:
      return "volume";
    case TopAbs_FACE:
      return "area";
    case TopAbs_EDGE:
      return "length";
    default:
      return "measure";
  }
}

json orNull(double value) { return std::isnan(value) ? json(nullptr) : json(value); }

json orNull(const std::optional<double> &value) { return value ? json(*value) : json(nullptr); }

json array(const gp_XYZ &xyz) { return json::array({xyz.X(), xyz.Y(), xyz.Z()}); }

// Ten significant digits: more than a model's tolerance, few enough to read.
std::string number(double value) {
  if (std::isnan(value)) return "n/a";
  char text[32];
  std::snprintf(text, sizeof text, "%.10g", value == 0.0 ? 0.0 : value);  // no "-0"
  return text;
}

std::string number(const std::optional<double> &value) { return value ? number(*value) : "n/a"; }

std::string point(const gp_XYZ &xyz) {
  return "(" + number(xyz.X()) + ", " + number(xyz.Y()) + ", " + number(xyz.Z()) + ")";
}

// Seven significant digits for table cells; a coordinate below a billionth of the model's size is
// rounding noise of a centre that lies on a symmetry plane, and reads 0.
std::string cell(double value, double scale) {
  if (std::abs(value) < 1e-9 * scale) value = 0.0;
  char text[32];
  std::snprintf(text, sizeof text, "%.7g", value == 0.0 ? 0.0 : value);
  return text;
}

std::string cell(const std::optional<double> &value, double scale) { return value ? cell(*value, scale) : "n/a"; }

std::string cellPoint(const gp_Pnt &p, double scale) {
  return "(" + cell(p.X(), scale) + ", " + cell(p.Y(), scale) + ", " + cell(p.Z(), scale) + ")";
}

std::string yesNo(bool value) { return value ? "yes" : "no"; }

using Rows = std::vector<std::vector<std::string>>;

// Pads every column but the last to its widest cell, two blanks apart.
void printRows(const Rows &rows, std::ostream &out) {
  std::vector<std::size_t> widths;
  for (const auto &row : rows) {
    for (std::size_t i = 0; i + 1 < row.size(); ++i) {
      if (widths.size() <= i) widths.resize(i + 1, 0);
      widths[i] = std::max(widths[i], row[i].size());
    }
  }
  for (const auto &row : rows) {
    for (std::size_t i = 0; i < row.size(); ++i) {
      if (i + 1 < row.size()) {
        out << std::left << std::setw(static_cast<int>(widths[i] + 2)) << row[i];
      } else {
        out << row[i];
      }
    }
    out << '\n';
  }
}

json statisticsJson(const ShapeStatistics &s) {
  return {{"xmax", orNull(s.xmax)},
          {"ymax", orNull(s.ymax)},
          {"zmax", orNull(s.zmax)},
          {"xmin", orNull(s.xmin)},
          {"ymin", orNull(s.ymin)},
          {"zmin", orNull(s.zmin)},
          {"center_x", orNull(s.centerX)},
          {"center_y", orNull(s.centerY)},
          {"center_z", orNull(s.centerZ)},
          {"length", orNull(s.length)},
          {"area", orNull(s.area)},
          {"volume", orNull(s.volume)},
          {"axial_volume", orNull(s.axialVolume)}};
}

json figuresJson(const ShapeFigures &figures) {
  return {{"file", figures.file},
          {"shape_type", typeName(figures.shape_type)},
          {"dominant_type", typeName(figures.dominant_type)},
          {"measure", orNull(figures.measure)},
          {"center", array(figures.center.XYZ())},
          {"box", {{"min", array(figures.box_min.XYZ())}, {"max", array(figures.box_max.XYZ())}}}};
}

json directionJson(const DirectionChecks &direction) {
  json result = {{"equal", direction.equal}, {"checks", nullptr}};
  if (const auto &checks = direction.checks) {
    result["checks"] = {
        {"measure_difference", checks->measureDifference}, {"measure_tolerance", checks->measureTolerance},
        {"center_distance", checks->centerDistance},       {"center_tolerance", checks->centerTolerance},
        {"box_deviation", checks->boxDeviation},           {"box_tolerance", checks->boxTolerance}};
  }
  return result;
}

const char *pluralTypeName(TopAbs_ShapeEnum dominant_type) {
  switch (dominant_type) {
    case TopAbs_SOLID:
      return "solids";
    case TopAbs_FACE:
      return "faces";
    case TopAbs_EDGE:
      return "edges";
    default:
      return "vertices";
  }
}

// Why a direction has no checks of its own to show. The comparison takes the first argument apart
// when it is a compound, else the second.
std::string uncheckedReason(const ShapeFigures &first, const ShapeFigures &second) {
  if (first.shape_type == TopAbs_COMPOUND || second.shape_type == TopAbs_COMPOUND) {
    const ShapeFigures &compound = first.shape_type == TopAbs_COMPOUND ? first : second;
    return "(a compound is compared through its " + std::string(pluralTypeName(compound.dominant_type)) + ")";
  }
  if (first.shape_type != second.shape_type) return "(shapes of different types are never equal)";
  return "(no measure for this type)";
}

// The checks of one direction, each with its limit and whether it held, as the library judged it.
void addDirectionRows(const std::string &name, const DirectionChecks &direction, const ShapeFigures &first,
                      const ShapeFigures &second, const char *measure, Rows &rows) {
  rows.push_back({name, direction.equal ? "equal" : "not equal"});
  const auto &checks = direction.checks;
  if (!checks) {
    rows.push_back({"", uncheckedReason(first, second)});
    return;
  }
  const auto check = [&rows](const std::string &label, double value, double limit, bool held) {
    rows.push_back({"  " + label, number(value), "limit " + number(limit), held ? "ok" : "exceeded"});
  };
  check(std::string(measure) + " difference", checks->measureDifference, checks->measureTolerance, checks->measureHeld);
  check("center distance", checks->centerDistance, checks->centerTolerance, checks->centerHeld);
  check("box deviation", checks->boxDeviation, checks->boxTolerance, checks->boxHeld);
}

}  // namespace

json toJson(const StatsReport &report) {
  return {
      {"file", report.file},
      {"shape_type", typeName(report.shape_type)},
      {"dominant_type", typeName(report.dominant_type)},
      {"counts",
       {{"solids", report.solids}, {"faces", report.faces}, {"edges", report.edges}, {"vertices", report.vertices}}},
      {"statistics", statisticsJson(report.statistics)},
      {"bounding_box_diagonal", report.bounding_box_diagonal},
      {"min_edge_length", orNull(report.min_edge_length)},
      {"negligible", report.negligible},
      {"internal_faces", report.internal_faces}};
}

json toJson(const PartsReport &report) {
  json parts = json::array();
  for (const PartRow &part : report.parts) {
    const nimbo::PartFigures &f = part.figures;
    parts.push_back({{"path", part.path},
                     {"name", part.name},
                     {"type", typeName(f.type)},
                     {"volume", orNull(f.volume)},
                     {"area", orNull(f.area)},
                     {"center", array(f.center.XYZ())},
                     {"box", {{"min", array(f.boxMin.XYZ())}, {"max", array(f.boxMax.XYZ())}}}});
  }
  return {{"file", report.file},
          {"length_unit", report.length_unit.empty() ? json(nullptr) : json(report.length_unit)},
          {"parts", parts}};
}

json toJson(const CompareReport &report) {
  return {{"first", figuresJson(report.first)},
          {"second", figuresJson(report.second)},
          {"first_to_second", directionJson(report.forward)},
          {"second_to_first", directionJson(report.backward)},
          {"equal", report.forward.equal && report.backward.equal}};
}

json toJson(const OverlapReport &report) {
  return {{"first", report.first}, {"second", report.second}, {"overlap", report.overlap}};
}

json toJson(const DistanceReport &report) {
  return {{"first", report.first},
          {"second", report.second},
          {"distance", report.distance},
          {"vector", array(report.vector.XYZ())}};
}

const char *contactKindName(nimbo::ContactKind kind) {
  switch (kind) {
    case nimbo::ContactKind::face:
      return "face";
    case nimbo::ContactKind::edge:
      return "edge";
    default:
      return "point";
  }
}

json toJson(const ClashReport &report) {
  const auto &path = report.paths;
  const nimbo::Interferences &found = report.found;
  json overlaps = json::array();
  for (const nimbo::Overlap &o : found.overlaps) {
    overlaps.push_back({{"first", path[o.first]}, {"second", path[o.second]}, {"volume", o.volume}});
  }
  json contacts = json::array();
  for (const nimbo::Contact &c : found.contacts) {
    contacts.push_back(
        {{"first", path[c.first]}, {"second", path[c.second]}, {"kind", contactKindName(c.kind)}, {"area", c.area}});
  }
  json clearances = json::array();
  for (const nimbo::Clearance &c : found.clearances) {
    clearances.push_back({{"first", path[c.first]},
                          {"second", path[c.second]},
                          {"distance", c.distance},
                          {"points", json::array({array(c.onFirst.XYZ()), array(c.onSecond.XYZ())})}});
  }
  json failures = json::array();
  for (const nimbo::PairFailure &f : found.failures) {
    failures.push_back({{"first", path[f.first]}, {"second", path[f.second]}, {"message", f.message}});
  }
  json skipped = json::array();
  for (const std::size_t i : found.skipped) skipped.push_back(path[i]);
  return {{"files", report.files},          {"parts", found.parts}, {"pairs", found.pairs},
          {"candidates", found.candidates}, {"overlaps", overlaps}, {"contacts", contacts},
          {"clearances", clearances},       {"failures", failures}, {"skipped", skipped}};
}

json toJson(const ImprintReport &report) {
  const nimbo::Imprint &imprint = report.imprint;
  json parts = json::array();
  for (std::size_t k = 0; k < imprint.parts.size(); ++k) {
    const nimbo::ImprintedPart &part = imprint.parts[k];
    parts.push_back({{"path", report.paths[part.part]}, {"solids", report.part_solids[k]}, {"volume", part.volume}});
  }
  json interfaces = json::array();
  for (std::size_t k = 0; k < imprint.interfaces.size(); ++k) {
    const nimbo::Interface &interface = imprint.interfaces[k];
    interfaces.push_back({{"first", report.paths[interface.first]},
                          {"second", report.paths[interface.second]},
                          {"faces", report.interface_faces[k]},
                          {"area", interface.area}});
  }
  json result = {{"files", report.files},   {"output", report.output},
                 {"solids", report.solids}, {"shared_faces", report.shared_faces},
                 {"parts", parts},          {"interfaces", interfaces}};
  // Only when regions were assigned, which only --assign-overlaps allows.
  if (!imprint.assigned.empty()) {
    json assigned = json::array();
    for (const nimbo::AssignedRegion &region : imprint.assigned) {
      assigned.push_back(
          {{"kept", report.paths[region.kept]}, {"lost", report.paths[region.lost]}, {"volume", region.volume}});
    }
    result["assigned"] = assigned;
  }
  return result;
}

json toJson(const MeshReport &report) {
  json parts = json::array();
  for (const nimbo::MeshedPart &part : report.summary.parts) {
    parts.push_back({{"path", part.path}, {"elements", part.elements}, {"nodes", part.nodes}});
  }
  json interfaces = json::array();
  for (const nimbo::MeshedInterface &interface : report.summary.interfaces) {
    interfaces.push_back({{"name", interface.name}, {"nodes", interface.nodes}});
  }
  return {{"files", report.files},
          {"output", report.output},
          {"solids", report.solids},
          {"nodes", report.summary.nodes},
          {"elements", report.summary.elements},
          {"parts", parts},
          {"interfaces", interfaces},
          {"imprint_seconds", report.imprint_seconds},
          {"mesh_seconds", report.mesh_seconds}};
}

json toJson(const DiffReport &report) {
  const auto &b = report.before_paths;
  const auto &a = report.after_paths;
  const nimbo::AssemblyDiff &diff = report.diff;
  const auto matches = [&](const std::vector<nimbo::PartMatch> &list) {
    json rows = json::array();
    for (const nimbo::PartMatch &m : list) rows.push_back({{"before", b[m.before]}, {"after", a[m.after]}});
    return rows;
  };
  json moved = json::array();
  for (const nimbo::Motion &m : diff.moved) {
    moved.push_back({{"before", b[m.before]},
                     {"after", a[m.after]},
                     {"translation", array(m.translation.XYZ())},
                     {"axis", array(m.axis.XYZ())},
                     {"angle", m.angle}});
  }
  json modified = json::array();
  for (const nimbo::Modification &m : diff.modified) {
    modified.push_back({{"before", b[m.before]},
                        {"after", a[m.after]},
                        {"volume_before", m.volumeBefore},
                        {"volume_after", m.volumeAfter},
                        {"added", m.added},
                        {"removed", m.removed}});
  }
  json added = json::array();
  for (const std::size_t j : diff.added) added.push_back(a[j]);
  json removed = json::array();
  for (const std::size_t i : diff.removed) removed.push_back(b[i]);
  return {{"before", report.before},
          {"after", report.after},
          {"unchanged", matches(diff.unchanged)},
          {"renamed", matches(diff.renamed)},
          {"moved", moved},
          {"modified", modified},
          {"added", added},
          {"removed", removed}};
}

json toJson(const RenderReport &report) {
  return {{"files", report.files}, {"output", report.output}, {"parts", report.parts}, {"seconds", report.seconds}};
}

void printText(const RenderReport &report, std::ostream &out) {
  char line[256];
  std::snprintf(line, sizeof line, "wrote %s: %zu parts, %.2f s", report.output.c_str(), report.parts, report.seconds);
  out << line << '\n';
}

json toJson(const ConvertReport &report) {
  return {{"input", report.input},
          {"output", report.output},
          {"scale", report.scale},
          {"dominant_type", typeName(report.dominant_type)}};
}

void printText(const StatsReport &report, std::ostream &out) {
  const ShapeStatistics &s = report.statistics;
  printRows({{"file", report.file},
             {"shape_type", typeName(report.shape_type)},
             {"dominant_type", typeName(report.dominant_type)},
             {"solids", std::to_string(report.solids)},
             {"faces", std::to_string(report.faces)},
             {"edges", std::to_string(report.edges)},
             {"vertices", std::to_string(report.vertices)},
             {"xmax", number(s.xmax)},
             {"ymax", number(s.ymax)},
             {"zmax", number(s.zmax)},
             {"xmin", number(s.xmin)},
             {"ymin", number(s.ymin)},
             {"zmin", number(s.zmin)},
             {"center_x", number(s.centerX)},
             {"center_y", number(s.centerY)},
             {"center_z", number(s.centerZ)},
             {"length", number(s.length)},
             {"area", number(s.area)},
             {"volume", number(s.volume)},
             {"axial_volume", number(s.axialVolume)},
             {"bounding_box_diagonal", number(report.bounding_box_diagonal)},
             {"min_edge_length", number(report.min_edge_length)},
             {"negligible", yesNo(report.negligible)},
             {"internal_faces", yesNo(report.internal_faces)}},
            out);
}

void printText(const PartsReport &report, std::ostream &out) {
  double scale = 0.0;
  for (const PartRow &part : report.parts) {
    scale = std::max(scale, part.figures.boxMin.Distance(part.figures.boxMax));
  }
  printRows({{"file", report.file},
             {"length_unit", report.length_unit.empty() ? "n/a" : report.length_unit},
             {"parts", std::to_string(report.parts.size())}},
            out);
  out << '\n';
  Rows rows = {{"path", "name", "type", "volume", "area", "center", "box_min", "box_max"}};
  for (const PartRow &part : report.parts) {
    const nimbo::PartFigures &f = part.figures;
    rows.push_back({part.path, part.name, typeName(f.type), cell(f.volume, scale), cell(f.area, scale),
                    cellPoint(f.center, scale), cellPoint(f.boxMin, scale), cellPoint(f.boxMax, scale)});
  }
  printRows(rows, out);
}

void printText(const ClashReport &report, std::ostream &out) {
  const auto &path = report.paths;
  const nimbo::Interferences &found = report.found;
  Rows rows;
  for (const nimbo::Overlap &o : found.overlaps) {
    rows.push_back({"overlap", path[o.first], path[o.second], "volume " + number(o.volume)});
  }
  for (const nimbo::Contact &c : found.contacts) {
    std::string figure = contactKindName(c.kind);
    if (c.kind == nimbo::ContactKind::face) figure += ", area " + number(c.area);
    rows.push_back({"contact", path[c.first], path[c.second], figure});
  }
  for (const nimbo::Clearance &c : found.clearances) {
    rows.push_back(
        {"clearance", path[c.first], path[c.second],
         "distance " + number(c.distance) + " between " + point(c.onFirst.XYZ()) + " and " + point(c.onSecond.XYZ())});
  }
  for (const nimbo::PairFailure &f : found.failures) {
    rows.push_back({"failure", path[f.first], path[f.second], f.message});
  }
  for (const std::size_t i : found.skipped)
    rows.push_back({"skipped", path[i], "", "holds no solid, or more than solids"});
  printRows(rows, out);
  if (!rows.empty()) out << '\n';
  char summary[256];
  std::snprintf(summary, sizeof summary,
                "%zu parts, %zu pairs, %zu reached exact geometry: %zu overlaps, %zu contacts, %zu clearances, "
                "%zu failures, %.2f s",
                found.parts, found.pairs, found.candidates, found.overlaps.size(), found.contacts.size(),
                found.clearances.size(), found.failures.size(), report.seconds);
  out << summary << '\n';
}

std::string numbers(const std::vector<int> &values) {
  std::string text;
  for (const int value : values) text += (text.empty() ? "" : ",") + std::to_string(value);
  return text;
}

void printText(const ImprintReport &report, std::ostream &out) {
  const nimbo::Imprint &imprint = report.imprint;
  Rows rows = {{"part", "solids", "volume", "boundary_faces"}};
  for (std::size_t k = 0; k < imprint.parts.size(); ++k) {
    const nimbo::ImprintedPart &part = imprint.parts[k];
    rows.push_back({report.paths[part.part], numbers(report.part_solids[k]), number(part.volume),
                    std::to_string(part.boundary.size())});
  }
  printRows(rows, out);
  out << '\n';
  rows = {{"interface", "faces", "area"}};
  for (std::size_t k = 0; k < imprint.interfaces.size(); ++k) {
    const nimbo::Interface &interface = imprint.interfaces[k];
    rows.push_back({report.paths[interface.first] + " | " + report.paths[interface.second],
                    numbers(report.interface_faces[k]), number(interface.area)});
  }
  for (const nimbo::AssignedRegion &region : imprint.assigned) {
    rows.push_back({"assigned to " + report.paths[region.kept] + " from " + report.paths[region.lost], "",
                    "volume " + number(region.volume)});
  }
  printRows(rows, out);
  out << '\n';
  char summary[256];
  std::snprintf(summary, sizeof summary, "wrote %s: %d solids of %zu parts, %d shared faces in %zu interfaces, %.2f s",
                report.output.c_str(), report.solids, imprint.parts.size(), report.shared_faces,
                imprint.interfaces.size(), report.seconds);
  out << summary << '\n';
}

void printText(const MeshReport &report, std::ostream &out) {
  Rows rows = {{"part", "elements", "nodes"}};
  for (const nimbo::MeshedPart &part : report.summary.parts) {
    rows.push_back({part.path, std::to_string(part.elements), std::to_string(part.nodes)});
  }
  printRows(rows, out);
  out << '\n';
  rows = {{"interface", "nodes"}};
  for (const nimbo::MeshedInterface &interface : report.summary.interfaces) {
    rows.push_back({interface.name, std::to_string(interface.nodes)});
  }
  printRows(rows, out);
  out << '\n';
  char summary[320];
  std::snprintf(summary, sizeof summary,
                "wrote %s: %zu nodes, %zu volume elements in %zu parts, %zu interfaces; imprint %.2f s, mesh %.2f s",
                report.output.c_str(), report.summary.nodes, report.summary.elements, report.summary.parts.size(),
                report.summary.interfaces.size(), report.imprint_seconds, report.mesh_seconds);
  out << summary << '\n';
}

void printText(const DiffReport &report, std::ostream &out) {
  const auto &b = report.before_paths;
  const auto &a = report.after_paths;
  const nimbo::AssemblyDiff &diff = report.diff;
  Rows rows;
  for (const nimbo::PartMatch &m : diff.renamed) rows.push_back({"renamed", b[m.before] + " -> " + a[m.after], ""});
  for (const nimbo::Motion &m : diff.moved) {
    // Seven digits, rounding noise on a zero component read as 0.
    std::string how = "by " + cellPoint(gp_Pnt(m.translation.XYZ()), m.translation.Magnitude());
    if (m.angle > 0) how += ", turned " + cell(m.angle, 1.0) + " deg about " + cellPoint(gp_Pnt(m.axis.XYZ()), 1.0);
    rows.push_back({"moved", b[m.before] == a[m.after] ? a[m.after] : b[m.before] + " -> " + a[m.after], how});
  }
  for (const nimbo::Modification &m : diff.modified) {
    rows.push_back({"modified", b[m.before] == a[m.after] ? a[m.after] : b[m.before] + " -> " + a[m.after],
                    "volume " + number(m.volumeBefore) + " -> " + number(m.volumeAfter) + ", added " + number(m.added) +
                        ", removed " + number(m.removed)});
  }
  for (const std::size_t j : diff.added) rows.push_back({"added", a[j], ""});
  for (const std::size_t i : diff.removed) rows.push_back({"removed", b[i], ""});
  printRows(rows, out);
  if (!rows.empty()) out << '\n';
  char summary[256];
  std::snprintf(summary, sizeof summary,
                "%zu unchanged (%zu renamed), %zu moved, %zu modified, %zu added, %zu removed, %.2f s",
                diff.unchanged.size(), diff.renamed.size(), diff.moved.size(), diff.modified.size(), diff.added.size(),
                diff.removed.size(), report.seconds);
  out << summary << '\n';
}

void printText(const CompareReport &report, std::ostream &out) {
  const ShapeFigures &a = report.first;
  const ShapeFigures &b = report.second;
  const char *measure = a.dominant_type == b.dominant_type ? measureName(a.dominant_type) : "measure";
  printRows({{"", "first", "second"},
             {"file", a.file, b.file},
             {"shape_type", typeName(a.shape_type), typeName(b.shape_type)},
             {"dominant_type", typeName(a.dominant_type), typeName(b.dominant_type)},
             {measure, number(a.measure), number(b.measure)},
             {"center", point(a.center.XYZ()), point(b.center.XYZ())},
             {"box_min", point(a.box_min.XYZ()), point(b.box_min.XYZ())},
             {"box_max", point(a.box_max.XYZ()), point(b.box_max.XYZ())}},
            out);
  out << '\n';
  Rows rows;
  addDirectionRows("first -> second", report.forward, a, b, measure, rows);
  addDirectionRows("second -> first", report.backward, b, a, measure, rows);
  const bool equal = report.forward.equal && report.backward.equal;
  std::string verdict = "equal";
  if (!equal) {
    verdict = !report.forward.equal && !report.backward.equal ? "not equal (both directions failed)"
              : report.forward.equal                          ? "not equal (second -> first failed)"
                                                              : "not equal (first -> second failed)";
  }
  rows.push_back({"verdict", verdict});
  printRows(rows, out);
}

void printText(const OverlapReport &report, std::ostream &out) {
  out << report.first << " and " << report.second << (report.overlap ? " overlap" : " do not overlap") << '\n';
}

void printText(const DistanceReport &report, std::ostream &out) {
  printRows({{"first", report.first},
             {"second", report.second},
             {"distance", number(report.distance)},
             {"vector", point(report.vector.XYZ())}},
            out);
}

void printText(const ConvertReport &report, std::ostream &out) {
  out << "wrote " << report.output << " (" << typeName(report.dominant_type) << ") from " << report.input;
  if (report.scale != 1.0) out << ", scaled by " << number(report.scale);
  out << '\n';
}
