// The bundled samples and the library's own reading of them, for the tool's tests to check its
// answers against.
#pragma once

#include <nimbo/topology/ShapeAlgorithms.h>

#include <gtest/gtest.h>
#include <BRepTools.hxx>
#include <BRep_Builder.hxx>
#include <nlohmann/json.hpp>

#include <cmath>
#include <filesystem>
#include <string>

namespace nimbo::test {

/// The bundled samples.
inline const std::string samples = NIMBO_SAMPLES_DIR;
inline const std::string step_part = samples + "/flanged_shaft.step";
inline const std::string iges_part = samples + "/flanged_shaft.igs";
inline const std::string ring = samples + "/bearing_ring.step";
inline const std::string face_1 = samples + "/shaft_small_face_1.brep";
inline const std::string face_2 = samples + "/shaft_small_face_2.brep";
inline const std::string joint = samples + "/bolted_joint.step";

inline TopoDS_Shape readBrepFile(const std::string &path) {
  TopoDS_Shape shape;
  BRep_Builder builder;
  BRepTools::Read(shape, path.c_str(), builder);
  return shape;
}

/// A sample read by the library's own readers, by its extension.
inline TopoDS_Shape readSample(const std::string &path) {
  const std::string extension = std::filesystem::path(path).extension().string();
  if (extension == ".step") return readStep(path);
  if (extension == ".igs") return readIges(path);
  return readBrepFile(path);
}

inline void writeBrepFile(const TopoDS_Shape &shape, const std::filesystem::path &path) {
  ASSERT_TRUE(BRepTools::Write(shape, path.c_str()));
}

/// A JSON figure against the library's: null where the library's is NaN, else the same double.
inline void expectFigure(const nlohmann::json &value, double expected) {
  if (std::isnan(expected)) {
    EXPECT_TRUE(value.is_null()) << value;
  } else {
    ASSERT_TRUE(value.is_number()) << value;
    EXPECT_DOUBLE_EQ(value.get<double>(), expected);
  }
}

}  // namespace nimbo::test
