// Study files: YAML read with the project's reader and checked key by key, so that a typing error
// is one line naming the file and the entry, never a default that quietly takes its place.
#include <nimbo/solve/Solve.h>

#include <nimbo/environment.h>
#include <nimbo/nimbo_exception.h>

#include <yaml-cpp/yaml.h>

#include <cmath>
#include <filesystem>
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

// A number, named with its unit in the complaint: "conductivity: expected a number in W/(m K)".
double number(const YAML::Node &node, const Entry &entry, const std::string &unit) {
  const std::string expected = "expected a number" + (unit.empty() ? std::string() : " in " + unit);
  if (!node.IsScalar()) entry.fail(expected);
  double value = 0;
  if (!YAML::convert<double>::decode(node, value)) entry.fail(expected + ", not \"" + node.Scalar() + "\"");
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
  }
  return {};
}

Boundary boundaryFrom(const YAML::Node &node, std::size_t index, Physics physics, const std::string &file) {
  Entry entry(file, "boundary " + std::to_string(index + 1));
  if (node.IsMap() && node["name"]) entry = Entry(file, "boundary \"" + text(node["name"], entry / "name") + "\"");
  std::set<std::string> allowed = {"name", "faces"};
  for (const ConditionKey &key : conditionKeys(physics)) allowed.insert(key.key);
  for (const char *other : {"temperature", "potential", "convection"}) {
    if (node.IsMap() && node[other] && !allowed.count(other)) {
      entry.fail(std::string("\"") + other + "\" is not a condition of " + toString(physics) + " problems");
    }
  }
  onlyKeys(node, entry, allowed);
  Boundary boundary{"", {}, Condition::fixed, 0.0, 0.0};
  boundary.name = node["name"] ? node["name"].as<std::string>() : "boundary " + std::to_string(index + 1);
  if (!node["faces"]) entry.fail("needs \"faces\", the faces it selects");
  boundary.faces = selectorFrom(node["faces"], entry / "faces");
  int conditions = 0;
  for (const ConditionKey &key : conditionKeys(physics)) {
    const YAML::Node value = node[key.key];
    if (!value) continue;
    ++conditions;
    boundary.condition = key.condition;
    if (key.condition == Condition::convection) {
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

}  // namespace

const char *toString(Physics physics) {
  switch (physics) {
    case Physics::heat:
      return "heat";
    case Physics::electrostatic:
      return "electrostatic";
    case Physics::current:
      return "current";
  }
  return "?";
}

std::optional<Physics> physicsNamed(const std::string &name) {
  for (const Physics physics : {Physics::heat, Physics::electrostatic, Physics::current}) {
    if (name == toString(physics)) return physics;
  }
  return std::nullopt;
}

const char *unitOf(Physics physics) { return physics == Physics::heat ? "degC" : "V"; }

Study studyFrom(const YAML::Node &node, const std::string &file, const std::string &folder) {
  const Entry top(file, "");
  if (!node || node.IsNull()) top.fail("the study is empty");
  onlyKeys(node, top, {"geometry", "physics", "mesh", "materials", "sources", "boundaries"});
  Study study;
  study.file = file;

  const Entry geometry = top / "geometry";
  if (!node["geometry"]) geometry.fail("missing: give the shape file, or a list of them");
  const auto resolve = [&](const std::string &path) {
    return std::filesystem::path(path).is_absolute() || folder.empty() ? path
                                                                        : (std::filesystem::path(folder) / path).string();
  };
  if (node["geometry"].IsSequence()) {
    for (const YAML::Node &item : node["geometry"]) study.geometry.push_back(resolve(text(item, geometry)));
  } else {
    study.geometry.push_back(resolve(text(node["geometry"], geometry)));
  }
  if (study.geometry.empty()) geometry.fail("the list is empty");

  if (!node["physics"]) (top / "physics").fail("missing: heat, electrostatic or current");
  const std::string physics = text(node["physics"], top / "physics");
  if (!physicsNamed(physics)) (top / "physics").fail("\"" + physics + "\" is not supported (heat, electrostatic or current)");
  study.physics = *physicsNamed(physics);

  if (const YAML::Node mesh = node["mesh"]) {
    onlyKeys(mesh, top / "mesh", {"size", "order", "heal"});
    if (mesh["size"]) study.size = positive(mesh["size"], top / "mesh" / "size", "mm");
    if (mesh["order"]) {
      const double order = number(mesh["order"], top / "mesh" / "order", "");
      if (order != 1 && order != 2) (top / "mesh" / "order").fail("must be 1 or 2, not " + mesh["order"].Scalar());
      study.order = static_cast<int>(order);
    }
    if (const YAML::Node heal = mesh["heal"]) {
      if (!YAML::convert<bool>::decode(heal, study.heal)) {
        (top / "mesh" / "heal").fail("must be true or false, not " + heal.Scalar());
      }
    }
  }

  const char *valueKey = study.physics == Physics::electrostatic ? "permittivity" : "conductivity";
  const char *valueUnit = study.physics == Physics::heat ? "W/(m K)" : study.physics == Physics::current ? "S/m" : "";
  if (!node["materials"]) (top / "materials").fail("missing: every solid part needs a material");
  const std::vector<YAML::Node> materials = listOf(node["materials"], top / "materials");
  for (std::size_t k = 0; k < materials.size(); ++k) {
    Entry entry(file, "material " + std::to_string(k + 1));
    onlyKeys(materials[k], entry, {"name", "parts", valueKey});
    Material material{"", "", 0.0};
    if (materials[k]["name"]) {
      material.name = text(materials[k]["name"], entry / "name");
      entry = Entry(file, "material \"" + material.name + "\"");
    }
    if (!materials[k]["parts"]) entry.fail("needs \"parts\", a glob on part paths");
    material.parts = text(materials[k]["parts"], entry / "parts");
    if (!materials[k][valueKey]) entry.fail(std::string("needs \"") + valueKey + "\"");
    material.value = positive(materials[k][valueKey], entry / valueKey, valueUnit);
    study.materials.push_back(material);
  }

  if (node["sources"]) {
    if (study.physics != Physics::heat) (top / "sources").fail("only heat problems have sources");
    const std::vector<YAML::Node> sources = listOf(node["sources"], top / "sources");
    for (std::size_t k = 0; k < sources.size(); ++k) {
      const Entry entry(file, "source " + std::to_string(k + 1));
      onlyKeys(sources[k], entry, {"parts", "power"});
      if (!sources[k]["parts"] || !sources[k]["power"]) entry.fail("needs both \"parts\" and \"power\"");
      study.sources.push_back({text(sources[k]["parts"], entry / "parts"), number(sources[k]["power"], entry / "power", "W")});
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
