// compare: whether two files describe the same geometry, with the comparison's own figures.
#include "shape_files.h"
#include "subcommand.h"
#include "terminal_progress.h"

#include <nimbo/render/Render.h>

#include <BRepBndLib.hxx>
#include <Bnd_Box.hxx>

namespace {

struct Options : FilePair {
  std::string svg;
};

const char *measureName(const json &dominantType) {
  if (dominantType == "solid") return "volume";
  if (dominantType == "face") return "area";
  if (dominantType == "edge") return "length";
  return "measure";
}

// The figures the comparison looks at; the box is the one it uses: mesh where there is one, no gap.
json figuresOf(const std::string &file, const TopoDS_Shape &shape) {
  const std::optional<GProp_GProps> measure = nimbo::getDominantMeasure(shape);
  Bnd_Box box;
  box.SetGap(0.0);
  BRepBndLib::Add(shape, box, true);
  return {{"file", file},
          {"shape_type", nimbo::shapeTypeName(shape.ShapeType())},
          {"dominant_type", nimbo::shapeTypeName(getDominantShapeType(shape))},
          {"measure", measure ? json(measure->Mass()) : json(nullptr)},
          {"center", array(getCenterOfMass(shape))},
          {"box", {{"min", array(box.CornerMin())}, {"max", array(box.CornerMax())}}}};
}

// One direction: the verdict, and the comparison's own figures for the one case where they describe
// it directly, two single shapes of one measured type (a compound is compared through its parts).
json directionOf(bool equal, const json &first, const TopoDS_Shape &firstShape, const json &second,
                 const TopoDS_Shape &secondShape) {
  json direction = {{"equal", equal}, {"checks", nullptr}};
  const bool single = first["shape_type"] == first["dominant_type"] && second["shape_type"] == second["dominant_type"];
  if (!single || first["shape_type"] != second["shape_type"] || first["measure"].is_null() ||
      second["measure"].is_null()) {
    return direction;
  }
  const ComparisonChecks c = getComparisonChecks(firstShape, secondShape, getDominantShapeType(firstShape));
  direction["checks"] = {{"measure_difference", c.measureDifference},
                         {"measure_tolerance", c.measureTolerance},
                         {"center_distance", c.centerDistance},
                         {"center_tolerance", c.centerTolerance},
                         {"box_deviation", c.boxDeviation},
                         {"box_tolerance", c.boxTolerance},
                         {"measure_held", c.measureHeld},
                         {"center_held", c.centerHeld},
                         {"box_held", c.boxHeld}};
  return direction;
}

// Why a direction has no checks of its own to show. The comparison takes the first argument apart
// when it is a compound, else the second.
std::string uncheckedReason(const json &first, const json &second) {
  if (first["shape_type"] == "compound" || second["shape_type"] == "compound") {
    const json &compound = first["shape_type"] == "compound" ? first : second;
    const json &type = compound["dominant_type"];
    const char *plural = type == "solid" ? "solids" : type == "face" ? "faces" : type == "edge" ? "edges" : "vertices";
    return "(a compound is compared through its " + std::string(plural) + ")";
  }
  if (first["shape_type"] != second["shape_type"]) return "(shapes of different types are never equal)";
  return "(no measure for this type)";
}

// The checks of one direction, each with its limit and whether it held, as the library judged it.
void addDirectionRows(const std::string &name, const json &direction, const json &first, const json &second,
                      const std::string &measure, Rows &rows) {
  rows.push_back({name, direction["equal"].get<bool>() ? "equal" : "not equal"});
  const json &checks = direction["checks"];
  if (checks.is_null()) {
    rows.push_back({"", uncheckedReason(first, second)});
    return;
  }
  const auto check = [&](const std::string &label, const std::string &figure, const std::string &limit,
                         const std::string &held) {
    rows.push_back({"  " + label, textOf(checks[figure]), "limit " + textOf(checks[limit]),
                    checks[held].get<bool>() ? "ok" : "exceeded"});
  };
  check(measure + " difference", "measure_difference", "measure_tolerance", "measure_held");
  check("center distance", "center_distance", "center_tolerance", "center_held");
  check("box deviation", "box_deviation", "box_tolerance", "box_held");
}

void printCompare(const json &report, std::ostream &out) {
  const json &a = report["first"];
  const json &b = report["second"];
  const std::string measure = a["dominant_type"] == b["dominant_type"] ? measureName(a["dominant_type"]) : "measure";
  Rows rows = {{"", "first", "second"}};
  const auto first = leavesOf(a, true);
  const auto second = leavesOf(b, true);
  for (std::size_t k = 0; k < first.size(); ++k) {
    rows.push_back(
        {first[k].first == "measure" ? measure : first[k].first, textOf(first[k].second), textOf(second[k].second)});
  }
  printRows(rows, out);
  out << '\n';
  rows.clear();
  addDirectionRows("first -> second", report["first_to_second"], a, b, measure, rows);
  addDirectionRows("second -> first", report["second_to_first"], b, a, measure, rows);
  const bool forward = report["first_to_second"]["equal"].get<bool>();
  const bool backward = report["second_to_first"]["equal"].get<bool>();
  std::string verdict = "equal";
  if (!(forward && backward)) {
    verdict = !forward && !backward ? "not equal (both directions failed)"
              : forward             ? "not equal (second -> first failed)"
                                    : "not equal (first -> second failed)";
  }
  rows.push_back({"verdict", verdict});
  printRows(rows, out);
}

Outcome compareFiles(const Options &options) {
  if (!options.svg.empty()) checkExtension(options.svg, ".svg", "drawings are written as SVG (.svg)");
  const TopoDS_Shape first = readShapeFile(options.first, false, OnTerminal(readingLabel({options.first})));
  const TopoDS_Shape second = readShapeFile(options.second, false, OnTerminal(readingLabel({options.second})));
  json report = about(options.subject(), [&] {
    // The verdicts come first: comparing meshes the shapes, and the boxes shown are then the ones
    // the comparison saw.
    const bool forward = areShapesEqual(first, second);
    const bool backward = areShapesEqual(second, first);
    const json a = figuresOf(options.first, first);
    const json b = figuresOf(options.second, second);
    return json{{"first", a},
                {"second", b},
                {"first_to_second", directionOf(forward, a, first, b, second)},
                {"second_to_first", directionOf(backward, b, second, a, first)},
                {"equal", forward && backward}};
  });
  if (!options.svg.empty()) {
    const std::vector<nimbo::RenderItem> items = {{first, {nimbo::paletteColor(0), std::nullopt, options.first}},
                                                  {second, {nimbo::paletteColor(1), std::nullopt, options.second}}};
    writeTextFile(about(options.svg, [&] { return nimbo::renderSvg(items, nimbo::viewNamed("iso")); }), options.svg);
  }
  const int status = report["equal"].get<bool>() ? 0 : 1;
  // Whether each check held is the library's verdict, shown to people beside the figures.
  return {report, printCompare, {"measure_held", "center_held", "box_held"}, status};
}

std::function<Plan()> defineCompare(CLI::App &command, const CommonOptions &) {
  auto options = std::make_shared<Options>();
  addFilePair(command, *options);
  command.add_option("--svg", options->svg, "Also draw the two shapes over each other there, in two colours");
  return [options] { return Plan{options->subject(), [options] { return compareFiles(*options); }, {options->svg}}; };
}

}  // namespace

extern const Subcommand compare_command{"compare", "Whether A and B describe the same geometry (exit 0 equal, 1 not)",
                                        nullptr, defineCompare};
