// Study files: YAML read with the project's reader and checked key by key, so that a typing error
// is one line naming the file and the entry, never a default that quietly takes its place.
#include <nimbo/solve/Solve.h>

#include "Solver.h"

#include <nimbo/environment.h>
#include <nimbo/nimbo_exception.h>

#include <yaml-cpp/yaml.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <set>

namespace nimbo {
namespace {

// Where in the study a value sits, for messages: "boundary \"top\": faces: box: min".
class Entry {
 public:
  Entry(std::string file, std::string where) : file_(std::move(file)), where_(std::move(where)) {}
  Entry operator/(const std::string &key) const { return {file_, where_.empty() ? key : where_ + ": " + key}; }

  [[noreturn]] void fail(const std::string &what) const {
    throw input_error(file_ + ": " + (where_.empty() ? "" : where_ + ": ") + what);
  }

 private:
  std::string file_;
  std::string where_;
};

void onlyKeys(const YAML::Node &map, const Entry &entry, const std::set<std::string> &allowed) {
  if (!map.IsMap()) entry.fail("expected a mapping of keys to values");
  for (const auto &item : map) {
    const std::string key = item.first.as<std::string>();
    if (!allowed.count(key)) {
      std::string known;
      for (const std::string &name : allowed) known += (known.empty() ? "" : ", ") + name;
      entry.fail("unknown key \"" + key + "\" (known here: " + known + ")");
    }
  }
}

std::string text(const YAML::Node &node, const Entry &entry) {
  if (!node.IsScalar()) entry.fail("expected text");
  return node.as<std::string>();
}

// A number in `unit`, or "number unit" in a unit of the same kind, named with its unit in the
// complaint: "conductivity: expected a number in W/(m K)".
double number(const YAML::Node &node, const Entry &entry, const std::string &unit) {
  const std::string expected = "expected a number" + (unit.empty() ? std::string() : " in " + unit);
  if (!node.IsScalar()) entry.fail(expected);
  double value = 0;
  if (!YAML::convert<double>::decode(node, value)) {
    std::optional<double> given;
    try {
      given = quantityIn(node.Scalar(), unit);
    } catch (const input_error &error) {
      entry.fail(error.what());
    }
    if (!given) entry.fail(expected + ", not \"" + node.Scalar() + "\"");
    value = *given;
  }
  if (!std::isfinite(value)) entry.fail(expected + ", not " + node.Scalar());
  return value;
}

double positive(const YAML::Node &node, const Entry &entry, const std::string &unit) {
  const double value = number(node, entry, unit);
  if (value <= 0) entry.fail("must be greater than 0, not " + node.Scalar());
  return value;
}

gp_Pnt point(const YAML::Node &node, const Entry &entry) {
  if (!node.IsSequence() || node.size() != 3) entry.fail("expected three numbers [x, y, z] in mm");
  return {number(node[0], entry, "mm"), number(node[1], entry, "mm"), number(node[2], entry, "mm")};
}

gp_Dir direction(const YAML::Node &node, const Entry &entry) {
  if (!node.IsSequence() || node.size() != 3) entry.fail("expected a direction of three numbers [x, y, z]");
  const gp_Vec v(number(node[0], entry, ""), number(node[1], entry, ""), number(node[2], entry, ""));
  if (v.Magnitude() < 1e-12) entry.fail("a direction cannot be zero");
  return gp_Dir(v);
}

FaceSelector selectorFrom(const YAML::Node &node, const Entry &entry) {
  onlyKeys(node, entry, {"part", "normal", "box", "plane", "rest", "angle"});
  FaceSelector selector;
  if (node["part"]) selector.part = text(node["part"], entry / "part");
  if (node["normal"]) selector.normal = direction(node["normal"], entry / "normal");
  if (const YAML::Node box = node["box"]) {
    onlyKeys(box, entry / "box", {"min", "max"});
    if (!box["min"] || !box["max"]) (entry / "box").fail("needs both min and max");
    selector.box = FaceBox{point(box["min"], entry / "box" / "min"), point(box["max"], entry / "box" / "max")};
  }
  if (const YAML::Node plane = node["plane"]) {
    onlyKeys(plane, entry / "plane", {"point", "normal"});
    if (!plane["point"] || !plane["normal"]) (entry / "plane").fail("needs both point and normal");
    selector.plane =
        FacePlane{point(plane["point"], entry / "plane" / "point"), direction(plane["normal"], entry / "plane" / "normal")};
  }
  if (const YAML::Node rest = node["rest"]) {
    if (!YAML::convert<bool>::decode(rest, selector.rest) || !selector.rest) (entry / "rest").fail("can only be true");
  }
  if (node["angle"]) selector.angle = positive(node["angle"], entry / "angle", "degrees");
  if (!selector.part && !selector.normal && !selector.box && !selector.plane && !selector.rest) {
    entry.fail("give at least one of part, normal, box, plane or rest");
  }
  return selector;
}

// A heat study over time: its steps, and the times its field is kept at.
TimeStepping timeFrom(const YAML::Node &node, const YAML::Node &outputs, const Entry &top) {
  const Entry entry = top / "time";
  onlyKeys(node, entry, {"end", "step", "initial", "theta"});
  for (const char *key : {"end", "step", "initial"}) {
    if (!node[key]) entry.fail(std::string("needs \"") + key + "\"");
  }
  TimeStepping time;
  time.end = positive(node["end"], entry / "end", "s");
  time.step = positive(node["step"], entry / "step", "s");
  time.initial = number(node["initial"], entry / "initial", "degC");
  if (node["theta"]) {
    time.theta = number(node["theta"], entry / "theta", "");
    if (time.theta < 0.5 || time.theta > 1) {
      (entry / "theta")
          .fail("must lie between 0.5 (Crank-Nicolson) and 1 (implicit Euler), not " + node["theta"].Scalar());
    }
  }
  const long steps = detail::stepsIn(time.end, time.step);
  if (steps < 1) (entry / "end").fail("must be a whole number of steps of " + node["step"].Scalar());
  if (steps > 1000000) (entry / "step").fail("makes " + std::to_string(steps) + " steps, more than a million");
  if (outputs) {
    const Entry at = top / "outputs";
    onlyKeys(outputs, at, {"every"});
    if (!outputs["every"]) at.fail("needs \"every\", the time between snapshots of the field");
    time.every = positive(outputs["every"], at / "every", "s");
    if (detail::stepsIn(time.every, time.step) < 1) {
      (at / "every").fail("must be a whole number of steps of " + node["step"].Scalar());
    }
  }
  return time;
}

// A structural study's temperatures: from a heat study, or uniform.
TemperatureLoad temperatureFrom(const YAML::Node &node, const YAML::Node &reference, const Entry &top,
                                const std::function<std::string(const std::string &)> &resolve) {
  const Entry entry = top / "temperature";
  onlyKeys(node, entry, {"study", "uniform", "at"});
  if (!node["study"] == !node["uniform"]) {
    entry.fail("give one of \"study\" (a heat study's file) or \"uniform\" (a temperature)");
  }
  TemperatureLoad load;
  if (node["study"]) {
    load.study = resolve(text(node["study"], entry / "study"));
  } else {
    load.uniform = number(node["uniform"], entry / "uniform", "degC");
  }
  if (node["at"]) {
    if (!node["study"]) (entry / "at").fail("only a heat study over time has times");
    load.at = positive(node["at"], entry / "at", "s");
  }
  if (!reference)
    (top / "reference_temperature").fail("missing: the temperature at which the parts are free of stress");
  load.reference = number(reference, top / "reference_temperature", "degC");
  return load;
}

std::vector<YAML::Node> listOf(const YAML::Node &node, const Entry &entry) {
  if (!node.IsSequence()) entry.fail("expected a list");
  return {node.begin(), node.end()};
}

// The condition keys each physics has, with their units.
struct ConditionKey {
  const char *key;
  Condition condition;
  const char *unit;
};

std::vector<ConditionKey> conditionKeys(Physics physics) {
  switch (physics) {
    case Physics::heat:
      return {{"temperature", Condition::fixed, "degC"}, {"flux", Condition::flux, "W/m^2"},
              {"convection", Condition::convection, ""}};
    case Physics::electrostatic:
      return {{"potential", Condition::fixed, "V"}, {"flux", Condition::flux, "C/m^2"}};
    case Physics::current:
      return {{"potential", Condition::fixed, "V"}, {"flux", Condition::flux, "A/m^2"}};
    case Physics::elasticity:
      return {{"fixed", Condition::displacement, ""},
              {"displacement", Condition::displacement, "mm"},
              {"force", Condition::force, "N"},
              {"pressure", Condition::pressure, "Pa"}};
    case Physics::modal:
      return {{"fixed", Condition::displacement, ""}, {"displacement", Condition::displacement, "mm"}};
  }
  return {};
}

// A structural condition's value: held components, a force vector, or a pressure.
void structuralCondition(const YAML::Node &value, const Entry &at, const ConditionKey &key, Boundary &boundary) {
  if (std::string(key.key) == "fixed") {
    bool fixed = false;
    if (!YAML::convert<bool>::decode(value, fixed) || !fixed) at.fail("can only be true");
    boundary.components = {0.0, 0.0, 0.0};
  } else if (key.condition == Condition::displacement) {
    onlyKeys(value, at, {"x", "y", "z"});
    const char *axes[] = {"x", "y", "z"};
    for (int k = 0; k < 3; ++k) {
      if (value[axes[k]]) boundary.components[k] = number(value[axes[k]], at / axes[k], "mm");
    }
    if (value.size() == 0) at.fail("give at least one of x, y, z");
  } else if (key.condition == Condition::force) {
    if (!value.IsSequence() || value.size() != 3) at.fail("expected three numbers [Fx, Fy, Fz] in N");
    for (int k = 0; k < 3; ++k) boundary.components[k] = number(value[k], at, "N");
  } else {
    boundary.value = number(value, at, key.unit);
  }
}

Boundary boundaryFrom(const YAML::Node &node, std::size_t index, Physics physics, const std::string &file) {
  Entry entry(file, "boundary " + std::to_string(index + 1));
  if (node.IsMap() && node["name"]) entry = Entry(file, "boundary \"" + text(node["name"], entry / "name") + "\"");
  std::set<std::string> allowed = {"name", "faces"};
  for (const ConditionKey &key : conditionKeys(physics)) allowed.insert(key.key);
  for (const char *other :
       {"temperature", "potential", "convection", "flux", "fixed", "displacement", "force", "pressure"}) {
    if (node.IsMap() && node[other] && !allowed.count(other)) {
      entry.fail(std::string("\"") + other + "\" is not a condition of " + toString(physics) + " problems");
    }
  }
  onlyKeys(node, entry, allowed);
  Boundary boundary;
  boundary.name = node["name"] ? node["name"].as<std::string>() : "boundary " + std::to_string(index + 1);
  if (!node["faces"]) entry.fail("needs \"faces\", the faces it selects");
  boundary.faces = selectorFrom(node["faces"], entry / "faces");
  int conditions = 0;
  for (const ConditionKey &key : conditionKeys(physics)) {
    const YAML::Node value = node[key.key];
    if (!value) continue;
    ++conditions;
    boundary.condition = key.condition;
    if (isStructural(physics)) {
      structuralCondition(value, entry / key.key, key, boundary);
    } else if (key.condition == Condition::convection) {
      const Entry at = entry / key.key;
      onlyKeys(value, at, {"h", "ambient"});
      if (!value["h"] || !value["ambient"]) at.fail("needs both h and ambient");
      boundary.value = positive(value["h"], at / "h", "W/(m^2 K)");
      boundary.ambient = number(value["ambient"], at / "ambient", "degC");
    } else {
      boundary.value = number(value, entry / key.key, key.unit);
    }
  }
  if (conditions != 1) {
    std::string keys;
    for (const ConditionKey &key : conditionKeys(physics)) keys += (keys.empty() ? "" : ", ") + std::string(key.key);
    entry.fail(conditions == 0 ? "needs a condition: one of " + keys : "give only one of " + keys);
  }
  return boundary;
}

// The units a study may name, by kind; `base` is the unit the study's numbers are in.
struct Unit {
  const char *name;
  const char *kind;
  const char *base;
  double factor;  // value in base = value * factor + offset
  double offset;
};

constexpr Unit units[] = {
    {"Pa", "pressure", "Pa", 1, 0},
    {"kPa", "pressure", "Pa", 1e3, 0},
    {"MPa", "pressure", "Pa", 1e6, 0},
    {"GPa", "pressure", "Pa", 1e9, 0},
    {"N", "force", "N", 1, 0},
    {"kN", "force", "N", 1e3, 0},
    {"kg/m^3", "density", "kg/m^3", 1, 0},
    {"g/cm^3", "density", "kg/m^3", 1e3, 0},
    {"mm", "length", "mm", 1, 0},
    {"m", "length", "mm", 1e3, 0},
    {"W", "power", "W", 1, 0},
    {"W/(m K)", "thermal conductivity", "W/(m K)", 1, 0},
    {"W/(m^2 K)", "film coefficient", "W/(m^2 K)", 1, 0},
    {"W/m^2", "heat flux", "W/m^2", 1, 0},
    {"degC", "temperature", "degC", 1, 0},
    {"K", "temperature", "degC", 1, -273.15},
    {"V", "potential", "V", 1, 0},
    {"S/m", "electric conductivity", "S/m", 1, 0},
    {"A/m^2", "current density", "A/m^2", 1, 0},
    {"C/m^2", "surface charge", "C/m^2", 1, 0},
    {"Hz", "frequency", "Hz", 1, 0},
    {"m/s^2", "acceleration", "m/s^2", 1, 0},
    {"s", "time", "s", 1, 0},
    {"ms", "time", "s", 1e-3, 0},
    {"min", "time", "s", 60, 0},
    {"h", "time", "s", 3600, 0},
    {"J/(kg K)", "specific heat", "J/(kg K)", 1, 0},
    {"kJ/(kg K)", "specific heat", "J/(kg K)", 1e3, 0},
    {"1/K", "expansion coefficient", "1/K", 1, 0},
};

const Unit *unitNamed(const std::string &name) {
  for (const Unit &unit : units) {
    if (name == unit.name) return &unit;
  }
  return nullptr;
}

}  // namespace

std::optional<double> quantityIn(const std::string &text, const std::string &base) {
  const char *start = text.c_str();
  char *end = nullptr;
  const double value = std::strtod(start, &end);
  if (end == start) return std::nullopt;
  std::string name(end);
  name.erase(0, name.find_first_not_of(' '));
  name.erase(name.find_last_not_of(' ') + 1);
  if (name.empty()) return std::nullopt;
  const Unit *unit = unitNamed(name);
  if (!unit) {
    std::string known;
    for (const Unit &each : units) known += (known.empty() ? "" : ", ") + std::string(each.name);
    throw input_error("unknown unit \"" + name + "\" (known: " + known + ")");
  }
  if (base != unit->base) {
    const Unit *wanted = unitNamed(base);
    throw input_error("\"" + text + "\" is a " + unit->kind + ", not a " +
                      (wanted ? std::string(wanted->kind) + " (" + base + ")" : base.empty() ? "plain number" : base));
  }
  return value * unit->factor + unit->offset;
}

const char *toString(Physics physics) {
  switch (physics) {
    case Physics::heat:
      return "heat";
    case Physics::electrostatic:
      return "electrostatic";
    case Physics::current:
      return "current";
    case Physics::elasticity:
      return "elasticity";
    case Physics::modal:
      return "modal";
  }
  return "?";
}

bool isStructural(Physics physics) { return physics == Physics::elasticity || physics == Physics::modal; }

std::optional<Physics> physicsNamed(const std::string &name) {
  for (const Physics physics :
       {Physics::heat, Physics::electrostatic, Physics::current, Physics::elasticity, Physics::modal}) {
    if (name == toString(physics)) return physics;
  }
  return std::nullopt;
}

const char *unitOf(Physics physics) {
  return physics == Physics::heat ? "degC" : isStructural(physics) ? "mm" : "V";
}

Study studyFrom(const YAML::Node &node, const std::string &file, const std::string &folder) {
  const Entry top(file, "");
  if (!node || node.IsNull()) top.fail("the study is empty");
  onlyKeys(node, top,
           {"geometry", "physics", "mesh", "materials", "sources", "boundaries", "gravity", "modes", "probes", "solver",
            "time", "outputs", "temperature", "reference_temperature"});
  Study study;
  study.file = file;

  const Entry geometry = top / "geometry";
  if (!node["geometry"]) geometry.fail("missing: give the shape file, or a list of them");
  const auto resolve = [&](const std::string &path) {
    return std::filesystem::path(path).is_absolute() || folder.empty()
               ? path
               : (std::filesystem::path(folder) / path).string();
  };
  if (node["geometry"].IsSequence()) {
    for (const YAML::Node &item : node["geometry"]) study.geometry.push_back(resolve(text(item, geometry)));
  } else {
    study.geometry.push_back(resolve(text(node["geometry"], geometry)));
  }
  if (study.geometry.empty()) geometry.fail("the list is empty");

  const char *physicsNames = "heat, electrostatic, current, elasticity or modal";
  if (!node["physics"]) (top / "physics").fail(std::string("missing: ") + physicsNames);
  const std::string physics = text(node["physics"], top / "physics");
  if (!physicsNamed(physics)) (top / "physics").fail("\"" + physics + "\" is not supported (" + physicsNames + ")");
  study.physics = *physicsNamed(physics);
  const bool structural = isStructural(study.physics);
  if (structural) study.order = 2;

  if (const YAML::Node mesh = node["mesh"]) {
    onlyKeys(mesh, top / "mesh", {"size", "order", "heal", "assign_overlaps", "refine"});
    if (mesh["size"]) study.size = positive(mesh["size"], top / "mesh" / "size", "mm");
    if (mesh["order"]) {
      const double order = number(mesh["order"], top / "mesh" / "order", "");
      if (order != 1 && order != 2) (top / "mesh" / "order").fail("must be 1 or 2, not " + mesh["order"].Scalar());
      study.order = static_cast<int>(order);
    }
    for (const auto &[key, flag] :
         {std::pair<const char *, bool *>{"heal", &study.heal}, {"assign_overlaps", &study.assignOverlaps}}) {
      if (const YAML::Node given = mesh[key]; given && !YAML::convert<bool>::decode(given, *flag)) {
        (top / "mesh" / key).fail("must be true or false, not " + given.Scalar());
      }
    }
    if (mesh["refine"]) {
      const std::vector<YAML::Node> refine = listOf(mesh["refine"], top / "mesh" / "refine");
      for (std::size_t k = 0; k < refine.size(); ++k) {
        const Entry entry = top / "mesh" / ("refine " + std::to_string(k + 1));
        onlyKeys(refine[k], entry, {"faces", "size"});
        if (!refine[k]["faces"] || !refine[k]["size"]) entry.fail("needs both \"faces\" and \"size\"");
        study.refinements.push_back(
            {selectorFrom(refine[k]["faces"], entry / "faces"), positive(refine[k]["size"], entry / "size", "mm")});
      }
    }
  }

  if (node["time"]) {
    if (study.physics != Physics::heat) (top / "time").fail("only heat studies go over time");
    study.time = timeFrom(node["time"], node["outputs"], top);
  } else if (node["outputs"]) {
    (top / "outputs").fail("only a study over time (\"time\") has snapshots");
  }
  if (node["temperature"]) {
    if (study.physics != Physics::elasticity) (top / "temperature").fail("only elasticity studies take a temperature");
    study.temperature = temperatureFrom(node["temperature"], node["reference_temperature"], top, resolve);
  } else if (node["reference_temperature"]) {
    (top / "reference_temperature").fail("only a study with a \"temperature\" has one");
  }

  if (node["gravity"]) {
    if (!structural) (top / "gravity").fail("only elasticity and modal studies have gravity");
    const YAML::Node gravity = node["gravity"];
    if (!gravity.IsSequence() || gravity.size() != 3) (top / "gravity").fail("expected three numbers [x, y, z] in m/s^2");
    study.gravity = gp_Vec(number(gravity[0], top / "gravity", "m/s^2"), number(gravity[1], top / "gravity", "m/s^2"),
                           number(gravity[2], top / "gravity", "m/s^2"));
  }
  if (node["modes"]) {
    if (study.physics != Physics::modal) (top / "modes").fail("only modal studies have modes");
    const double modes = positive(node["modes"], top / "modes", "");
    if (modes != std::floor(modes) || modes > 1000) (top / "modes").fail("must be a whole number up to 1000");
    study.modes = static_cast<int>(modes);
  }

  const char *valueKey = study.physics == Physics::electrostatic ? "permittivity" : "conductivity";
  const char *valueUnit = study.physics == Physics::heat ? "W/(m K)" : study.physics == Physics::current ? "S/m" : "";
  std::set<std::string> materialKeys =
      structural ? std::set<std::string>{"name", "parts", "youngs_modulus", "poissons_ratio", "density", "expansion"}
                 : std::set<std::string>{"name", "parts", valueKey};
  if (study.physics == Physics::heat) materialKeys.insert({"density", "specific_heat"});
  if (!node["materials"]) (top / "materials").fail("missing: every solid part needs a material");
  const std::vector<YAML::Node> materials = listOf(node["materials"], top / "materials");
  for (std::size_t k = 0; k < materials.size(); ++k) {
    Entry entry(file, "material " + std::to_string(k + 1));
    onlyKeys(materials[k], entry, materialKeys);
    Material material;
    if (materials[k]["name"]) {
      material.name = text(materials[k]["name"], entry / "name");
      entry = Entry(file, "material \"" + material.name + "\"");
    }
    if (!materials[k]["parts"]) entry.fail("needs \"parts\", a glob on part paths");
    material.parts = text(materials[k]["parts"], entry / "parts");
    if (structural) {
      for (const char *key : {"youngs_modulus", "poissons_ratio"}) {
        if (!materials[k][key]) entry.fail(std::string("needs \"") + key + "\"");
      }
      material.youngsModulus = positive(materials[k]["youngs_modulus"], entry / "youngs_modulus", "Pa");
      material.poissonsRatio = number(materials[k]["poissons_ratio"], entry / "poissons_ratio", "");
      if (material.poissonsRatio <= -1 || material.poissonsRatio >= 0.5) {
        (entry / "poissons_ratio").fail("must lie between -1 and 0.5, not " + materials[k]["poissons_ratio"].Scalar());
      }
      if (materials[k]["density"]) material.density = positive(materials[k]["density"], entry / "density", "kg/m^3");
      if (!material.density && (study.physics == Physics::modal || study.gravity)) {
        entry.fail(std::string("needs \"density\" for ") + (study.gravity ? "gravity" : "a modal study"));
      }
      if (materials[k]["expansion"]) material.expansion = number(materials[k]["expansion"], entry / "expansion", "1/K");
      if (!material.expansion && study.temperature) entry.fail("needs \"expansion\" for a study under a temperature");
    } else {
      if (!materials[k][valueKey]) entry.fail(std::string("needs \"") + valueKey + "\"");
      material.value = positive(materials[k][valueKey], entry / valueKey, valueUnit);
      if (materials[k]["density"]) material.density = positive(materials[k]["density"], entry / "density", "kg/m^3");
      if (materials[k]["specific_heat"]) {
        material.specificHeat = positive(materials[k]["specific_heat"], entry / "specific_heat", "J/(kg K)");
      }
      if (study.time && (!material.density || !material.specificHeat)) {
        entry.fail("needs \"density\" and \"specific_heat\" for a study over time");
      }
    }
    study.materials.push_back(material);
  }

  if (node["sources"]) {
    if (study.physics != Physics::heat) (top / "sources").fail("only heat problems have sources");
    const std::vector<YAML::Node> sources = listOf(node["sources"], top / "sources");
    for (std::size_t k = 0; k < sources.size(); ++k) {
      const Entry entry(file, "source " + std::to_string(k + 1));
      onlyKeys(sources[k], entry, {"parts", "power", "until"});
      if (!sources[k]["parts"] || !sources[k]["power"]) entry.fail("needs both \"parts\" and \"power\"");
      study.sources.push_back({text(sources[k]["parts"], entry / "parts"),
                               number(sources[k]["power"], entry / "power", "W"), std::nullopt});
      if (sources[k]["until"]) {
        if (!study.time) (entry / "until").fail("only a study over time (\"time\") has sources that stop");
        study.sources.back().until = positive(sources[k]["until"], entry / "until", "s");
        // A source stops at a step: GetDP takes each step's source at the step's end.
        if (detail::stepsIn(*study.sources.back().until, study.time->step) < 1) {
          (entry / "until").fail("must be a whole number of steps of " + node["time"]["step"].Scalar());
        }
      }
    }
  }

  if (node["boundaries"]) {
    const std::vector<YAML::Node> boundaries = listOf(node["boundaries"], top / "boundaries");
    for (std::size_t k = 0; k < boundaries.size(); ++k) {
      study.boundaries.push_back(boundaryFrom(boundaries[k], k, study.physics, file));
      // Boundaries are reported, and named in the mesh, by their names.
      for (std::size_t other = 0; other < k; ++other) {
        if (study.boundaries[other].name == study.boundaries[k].name) {
          Entry(file, "boundary " + std::to_string(k + 1)).fail("the name \"" + study.boundaries[k].name +
                                                               "\" is taken by boundary " + std::to_string(other + 1));
        }
      }
    }
  }
  if (study.physics == Physics::elasticity &&
      std::none_of(study.boundaries.begin(), study.boundaries.end(),
                   [](const Boundary &b) { return b.condition == Condition::displacement; })) {
    (top / "boundaries").fail("nothing is held, so the structure can move freely: give a boundary \"fixed: true\" or a "
                              "\"displacement\"");
  }

  if (node["probes"]) {
    if (!structural) (top / "probes").fail("only elasticity and modal studies have probes");
    const std::vector<YAML::Node> probes = listOf(node["probes"], top / "probes");
    for (std::size_t k = 0; k < probes.size(); ++k) {
      Entry entry(file, "probe " + std::to_string(k + 1));
      onlyKeys(probes[k], entry, {"name", "point"});
      Probe probe{"probe " + std::to_string(k + 1), {}};
      if (probes[k]["name"]) {
        probe.name = text(probes[k]["name"], entry / "name");
        entry = Entry(file, "probe \"" + probe.name + "\"");
      }
      if (!probes[k]["point"]) entry.fail("needs \"point\", [x, y, z] in mm");
      probe.point = point(probes[k]["point"], entry / "point");
      study.probes.push_back(probe);
    }
  }
  if (node["solver"]) {
    const std::string solver = text(node["solver"], top / "solver");
    if (solver != "direct" && solver != "iterative") {
      (top / "solver").fail("must be direct or iterative, not \"" + solver + "\"");
    }
    study.solver = solver == "direct" ? LinearSolver::direct : LinearSolver::iterative;
    if (study.physics == Physics::modal && study.solver == LinearSolver::iterative) {
      (top / "solver").fail("modal studies are solved directly");
    }
  }
  return study;
}

std::string defaultResultFolder(const std::string &studyFile) {
  const std::filesystem::path study(studyFile);
  return (study.parent_path() / (study.stem().string() + "_results")).string();
}

Study readStudy(const std::string &path) {
  YAML::Node node;
  try {
    node = read_yaml_file(path);
  } catch (const YAML::Exception &error) {
    throw input_error(path + ": line " + std::to_string(error.mark.line + 1) + ", column " +
                          std::to_string(error.mark.column + 1) + ": " + error.msg);
  }
  return studyFrom(node, path, std::filesystem::path(path).parent_path().string());
}

}  // namespace nimbo
