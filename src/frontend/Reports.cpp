#include "frontend/Reports.h"

#include <nimbo/topology/ShapeAlgorithms.h>

#include <TopExp.hxx>
#include <TopTools_IndexedMapOfShape.hxx>

#include <cmath>
#include <filesystem>
#include <limits>

namespace {

void strip(json &value, const std::vector<std::string> &keys) {
  if (value.is_object()) {
    for (const std::string &key : keys) value.erase(key);
  }
  if (value.is_structured()) {
    for (json &child : value) strip(child, keys);
  }
}

int countOf(const TopoDS_Shape &shape, TopAbs_ShapeEnum type) {
  TopTools_IndexedMapOfShape shapes;
  TopExp::MapShapes(shape, type, shapes);
  return shapes.Extent();
}

json with(json row, const json &more) {
  row.update(more);
  return row;
}

}  // namespace

json orNull(const std::optional<double> &value) { return value ? orNull(*value) : json(nullptr); }

json orNull(double value) { return std::isnan(value) ? json(nullptr) : json(value); }

json withoutTextOnly(json report, const std::vector<std::string> &keys) {
  strip(report, keys);
  return report;
}

json findingJson(const nimbo::Finding &finding) {
  return {{"kind", finding.kind}, {"faces", finding.faces}, {"edges", finding.edges}, {"size", orNull(finding.size)}};
}

json partHealingJson(const nimbo::PartHealing &healing, const std::vector<nimbo::Part> &parts) {
  json undone = json::array();
  for (const nimbo::UndoneStep &step : healing.undone) undone.push_back({{"step", step.step}, {"why", step.why}});
  json remaining = json::array();
  for (const nimbo::Finding &finding : healing.remaining) remaining.push_back(findingJson(finding));
  const auto change = [&]() -> json {
    if (!healing.volumeBefore || !healing.volumeAfter) return nullptr;
    return *healing.volumeAfter - *healing.volumeBefore;
  };
  return {{"path", parts[healing.part].path},
          {"verdict", nimbo::toString(healing.verdict)},
          {"steps", healing.steps},
          {"undone", undone},
          {"faces", {{"before", healing.facesBefore}, {"after", healing.facesAfter}}},
          {"edges", {{"before", healing.edgesBefore}, {"after", healing.edgesAfter}}},
          {"solids", {{"before", healing.solidsBefore}, {"after", healing.solidsAfter}}},
          {"gaps_closed", healing.gapsBefore > healing.gapsAfter ? healing.gapsBefore - healing.gapsAfter : 0},
          {"volume",
           {{"before", orNull(healing.volumeBefore)}, {"after", orNull(healing.volumeAfter)}, {"change", change()}}},
          {"remaining", remaining},
          {"sewn_into", healing.sewnInto ? json(parts[*healing.sewnInto].path) : json(nullptr)}};
}

json healingJson(const nimbo::Healing &healing, const std::vector<nimbo::Part> &parts) {
  json healed = json::array();
  for (const nimbo::PartHealing &part : healing.report) healed.push_back(partHealingJson(part, parts));
  return {{"size", healing.size}, {"parts", healed}};
}

json statsReport(const std::string &file, const TopoDS_Shape &shape) {
  // The record is filled, never reset: NaN marks what the shape's type leaves alone.
  const double unset = std::numeric_limits<double>::quiet_NaN();
  ShapeStatistics s{unset, unset, unset, unset, unset, unset, unset, unset, unset, unset, unset, unset, unset};
  getShapeStatistics(shape, s);
  const int edges = countOf(shape, TopAbs_EDGE);
  return {{"file", file},
          {"shape_type", nimbo::shapeTypeName(shape.ShapeType())},
          {"dominant_type", nimbo::shapeTypeName(getDominantShapeType(shape))},
          {"counts",
           {{"solids", countOf(shape, TopAbs_SOLID)},
            {"faces", countOf(shape, TopAbs_FACE)},
            {"edges", edges},
            {"vertices", countOf(shape, TopAbs_VERTEX)}}},
          {"statistics",
           {{"xmax", orNull(s.xmax)},
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
            {"axial_volume", orNull(s.axialVolume)}}},
          {"bounding_box_diagonal", getBoundingBoxDiagonal(shape)},
          // No edge, no shortest edge.
          {"min_edge_length", edges > 0 ? json(getMinEdgeLength(shape)) : json(nullptr)},
          {"negligible", isNegligibleShape(shape)},
          {"internal_faces", hasInternalFaces(shape)}};
}

json partsReport(const std::string &file, const nimbo::Assembly &assembly) {
  json parts = json::array();
  for (const nimbo::Part &part : assembly.parts) {
    const nimbo::PartFigures f = nimbo::measurePart(part);
    parts.push_back({{"path", part.path},
                     {"name", part.name},
                     {"type", nimbo::shapeTypeName(f.type)},
                     {"volume", orNull(f.volume)},
                     {"area", orNull(f.area)},
                     {"center", array(f.center)},
                     {"box", {{"min", array(f.boxMin)}, {"max", array(f.boxMax)}}}});
  }
  return {{"file", file},
          {"length_unit", assembly.lengthUnit.empty() ? json(nullptr) : json(assembly.lengthUnit)},
          {"parts", parts}};
}

json checkReport(const std::vector<std::string> &files, const std::vector<nimbo::Part> &parts,
                 const nimbo::Checks &checks) {
  json checked = json::array();
  for (const nimbo::PartCheck &check : checks.parts) {
    json findings = json::array();
    for (const nimbo::Finding &finding : check.findings) findings.push_back(findingJson(finding));
    checked.push_back(
        {{"path", parts[check.part].path}, {"verdict", nimbo::toString(check.verdict)}, {"findings", findings}});
  }
  return {{"files", files}, {"size", checks.size}, {"parts", checked}};
}

json healReport(const std::vector<std::string> &files, const std::string &output, const nimbo::Healing &healing,
                const std::vector<nimbo::Part> &parts, double seconds) {
  return {{"files", files},
          {"output", output},
          {"size", healing.size},
          {"parts", healingJson(healing, parts)["parts"]},
          {"seconds", seconds}};
}

json clashReport(const std::vector<std::string> &files, const std::vector<nimbo::Part> &parts,
                 const nimbo::Interferences &found, double seconds) {
  const auto pair = [&](const nimbo::PartPair &p) {
    return json{{"first", parts[p.first].path}, {"second", parts[p.second].path}};
  };
  json overlaps = json::array(), contacts = json::array(), clearances = json::array(), failures = json::array();
  for (const nimbo::Overlap &o : found.overlaps) overlaps.push_back(with(pair(o), {{"volume", o.volume}}));
  for (const nimbo::Contact &c : found.contacts) {
    contacts.push_back(with(pair(c), {{"kind", nimbo::toString(c.kind)}, {"area", c.area}}));
  }
  for (const nimbo::Clearance &c : found.clearances) {
    clearances.push_back(
        with(pair(c), {{"distance", c.distance}, {"points", json::array({array(c.onFirst), array(c.onSecond)})}}));
  }
  for (const nimbo::PairFailure &f : found.failures) failures.push_back(with(pair(f), {{"message", f.message}}));
  json skipped = json::array();
  for (const std::size_t i : found.skipped) skipped.push_back(parts[i].path);
  return {{"files", files},       {"parts", found.parts}, {"pairs", found.pairs},     {"candidates", found.candidates},
          {"overlaps", overlaps}, {"contacts", contacts}, {"clearances", clearances}, {"failures", failures},
          {"skipped", skipped},   {"seconds", seconds}};
}

json imprintReport(const std::vector<std::string> &files, const std::string &output, const nimbo::Prepared &prepared,
                   const std::vector<nimbo::Part> &given, double seconds) {
  const std::vector<nimbo::Part> &parts = prepared.parts;
  const nimbo::Imprint &imprint = prepared.imprint;
  const auto path = [&](std::size_t part) { return parts[part].path; };
  json imprinted = json::array();
  std::size_t solids = 0;
  std::size_t shared = 0;
  for (const nimbo::ImprintedPart &part : imprint.parts) {
    imprinted.push_back({{"path", path(part.part)},
                         {"solids", part.solidNumbers},
                         {"volume", part.volume},
                         {"boundary_faces", part.boundary.size()}});
    solids += part.solids.size();
  }
  json interfaces = json::array();
  for (const nimbo::Interface &interface : imprint.interfaces) {
    interfaces.push_back({{"first", path(interface.first)},
                          {"second", path(interface.second)},
                          {"faces", interface.faceNumbers},
                          {"area", interface.area}});
    shared += interface.faces.size();
  }
  json report = {{"files", files},
                 {"output", output},
                 {"solids", solids},
                 {"shared_faces", shared},
                 {"parts", imprinted},
                 {"interfaces", interfaces},
                 {"glue", nimbo::toString(imprint.glue)}};
  if (imprint.fuzzy > 0.0) report["fuzzy"] = imprint.fuzzy;
  // Only when regions were assigned, which only the imprint option to assign overlaps allows.
  if (!imprint.assigned.empty()) {
    json assigned = json::array();
    for (const nimbo::AssignedRegion &region : imprint.assigned) {
      assigned.push_back({{"kept", path(region.kept)}, {"lost", path(region.lost)}, {"volume", region.volume}});
    }
    report["assigned"] = assigned;
  }
  if (prepared.healing) report["healing"] = healingJson(*prepared.healing, given);
  const nimbo::ImprintTimes &times = imprint.times;
  report["times"] = {
      {"glue", times.glue}, {"fuse", times.fuse}, {"checks", times.checks}, {"measures", times.measures}};
  report["seconds"] = seconds;
  return report;
}

json diffReport(const std::string &before, const std::string &after, const std::vector<nimbo::Part> &old,
                const std::vector<nimbo::Part> &now, const nimbo::AssemblyDiff &diff, double seconds) {
  const auto pair = [&](std::size_t first, std::size_t second) {
    return json{{"before", old[first].path}, {"after", now[second].path}};
  };
  const auto matches = [&](const std::vector<nimbo::PartMatch> &list) {
    json rows = json::array();
    for (const nimbo::PartMatch &m : list) rows.push_back(pair(m.before, m.after));
    return rows;
  };
  json moved = json::array();
  for (const nimbo::Motion &m : diff.moved) {
    moved.push_back(with(pair(m.before, m.after),
                         {{"translation", array(m.translation)}, {"axis", array(m.axis)}, {"angle", m.angle}}));
  }
  json modified = json::array();
  for (const nimbo::Modification &m : diff.modified) {
    modified.push_back(with(pair(m.before, m.after), {{"volume_before", m.volumeBefore},
                                                      {"volume_after", m.volumeAfter},
                                                      {"added", m.added},
                                                      {"removed", m.removed}}));
  }
  json added = json::array();
  for (const std::size_t j : diff.added) added.push_back(now[j].path);
  json removed = json::array();
  for (const std::size_t i : diff.removed) removed.push_back(old[i].path);
  return {{"before", before},
          {"after", after},
          {"unchanged", matches(diff.unchanged)},
          {"renamed", matches(diff.renamed)},
          {"moved", moved},
          {"modified", modified},
          {"added", added},
          {"removed", removed},
          {"seconds", seconds}};
}

json renderReport(const std::vector<std::string> &files, const std::string &output, std::size_t parts, double seconds) {
  return {{"files", files}, {"output", output}, {"parts", parts}, {"seconds", seconds}};
}

json viewReport(const std::vector<std::string> &files, const std::string &output, std::size_t parts, double seconds) {
  std::error_code unknown;
  const auto bytes = std::filesystem::file_size(output, unknown);
  return {{"files", files},
          {"output", output},
          {"parts", parts},
          {"bytes", unknown ? json() : json(bytes)},
          {"seconds", seconds}};
}

std::vector<nimbo::RenderItem> drawnParts(const std::vector<nimbo::Part> &parts) {
  std::vector<nimbo::RenderItem> items;
  for (std::size_t i = 0; i < parts.size(); ++i) {
    items.push_back(
        {parts[i].shape,
         {parts[i].color.value_or(nimbo::paletteColor(i)), std::nullopt, parts.size() <= 12 ? parts[i].path : ""}});
  }
  return items;
}
