// Builders and fixtures shared by nimbo's unit tests.
#pragma once

#include <BRepBuilderAPI_MakeFace.hxx>
#include <BRepBuilderAPI_MakePolygon.hxx>
#include <BRepBuilderAPI_MakeVertex.hxx>
#include <BRepPrimAPI_MakeBox.hxx>
#include <BRep_Builder.hxx>
#include <Poly_Triangulation.hxx>
#include <TopoDS_Compound.hxx>
#include <TopoDS_Face.hxx>
#include <TopoDS_Shape.hxx>
#include <gp_Pnt.hxx>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <iterator>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace nimbo::test {

/// An axis-aligned box between two corners.
inline TopoDS_Shape box(const gp_Pnt &corner1, const gp_Pnt &corner2) {
  return BRepPrimAPI_MakeBox(corner1, corner2).Shape();
}

/// A vertex at the point.
inline TopoDS_Shape vertexAt(double x, double y, double z) {
  return BRepBuilderAPI_MakeVertex(gp_Pnt(x, y, z)).Vertex();
}

/// A planar face bounded by the closed polygon through the given corners.
inline TopoDS_Face polygonFace(std::initializer_list<gp_Pnt> corners) {
  BRepBuilderAPI_MakePolygon polygon;
  for (const gp_Pnt &corner : corners) polygon.Add(corner);
  polygon.Close();
  return BRepBuilderAPI_MakeFace(polygon.Wire(), true).Face();
}

/// The rectangle [x0, x1] x [y0, y1] in the plane Z = z.
inline TopoDS_Face rectangleFace(double x0, double y0, double x1, double y1, double z = 0.0) {
  return polygonFace({{x0, y0, z}, {x1, y0, z}, {x1, y1, z}, {x0, y1, z}});
}

/// The triangle (0, 0, 0), (1, 0, 0), (0, 1, 0) as a face that has a triangulation and no surface,
/// edge or vertex, as mesh imports make them.
inline TopoDS_Face triangulationOnlyFace() {
  Handle(Poly_Triangulation) triangles = new Poly_Triangulation(3, 1, false);
  triangles->SetNode(1, gp_Pnt(0, 0, 0));
  triangles->SetNode(2, gp_Pnt(1, 0, 0));
  triangles->SetNode(3, gp_Pnt(0, 1, 0));
  triangles->SetTriangle(1, Poly_Triangle(1, 2, 3));
  TopoDS_Face face;
  BRep_Builder().MakeFace(face, triangles);
  return face;
}

/// A compound of the given shapes, in order.
inline TopoDS_Compound compoundOf(const std::vector<TopoDS_Shape> &shapes) {
  TopoDS_Compound compound;
  BRep_Builder builder;
  builder.MakeCompound(compound);
  for (const TopoDS_Shape &shape : shapes) builder.Add(compound, shape);
  return compound;
}

/// Writes `text` to the file as it is, replacing what was there.
inline void writeText(const std::filesystem::path &path, const std::string &text) {
  std::ofstream(path, std::ios::binary) << text;
}

/// The whole content of the file; empty when it cannot be read.
inline std::string readText(const std::filesystem::path &path) {
  std::ifstream file(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

/// A STEP file's text with what real files hold besides their shapes and the parser rejects: an
/// item of a type it does not know among the first B-Rep representation's items, and a text
/// entity without its parameter. `item` replaces the text of the new item, so that a test can put
/// an entity the shapes need where no item may be.
inline std::string withRejectedAnnotations(const std::string &step, const std::string &item = "#90002") {
  const std::string list = "BREP_SHAPE_REPRESENTATION('',(";
  std::string text = step;
  text.insert(text.find(list) + list.size(), item + ",");
  return text.insert(text.rfind("ENDSEC;"), "#90001 = COMPOSITE_TEXT('note');\n#90002 = LEADER_DIRECTED_CALLOUT('',());\n");
}

/// Sets (or, with no value, unsets) an environment variable for the scope and restores it afterwards.
class ScopedEnv {
 public:
  ScopedEnv(std::string name, const std::optional<std::string> &value) : name_(std::move(name)) {
    if (const char *old = std::getenv(name_.c_str())) old_ = old;
    set(value);
  }
  ~ScopedEnv() { set(old_); }
  ScopedEnv(const ScopedEnv &) = delete;
  ScopedEnv &operator=(const ScopedEnv &) = delete;

 private:
  void set(const std::optional<std::string> &value) {
    if (value) {
      setenv(name_.c_str(), value->c_str(), 1);
    } else {
      unsetenv(name_.c_str());
    }
  }
  std::string name_;
  std::optional<std::string> old_;
};

/// A fresh temporary directory, removed with everything in it at the end of the scope.
class TempDir {
 public:
  TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "nimbo-test-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("Cannot create a temporary directory");
    path_ = pattern;
  }
  ~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  TempDir(const TempDir &) = delete;
  TempDir &operator=(const TempDir &) = delete;
  const std::filesystem::path &path() const { return path_; }

 private:
  std::filesystem::path path_;
};

/// A temporary directory that TEMP points at for the scope, so dumps land there.
class TempDirAsTemp {
 public:
  TempDirAsTemp() : temp_("TEMP", dir_.path().string()) {}
  const std::filesystem::path &path() const { return dir_.path(); }

 private:
  TempDir dir_;
  ScopedEnv temp_;
};

}  // namespace nimbo::test
