// The promises of a conformal compound, checked by one helper for every test that makes one: the
// imprint in memory, and the compound a tool wrote with the numbers of its report.
#pragma once

#include <nimbo/assembly/Assembly.h>
#include <nimbo/topology/ShapeAlgorithms.h>

#include <gtest/gtest.h>
#include <BRepGProp.hxx>
#include <GProp_GProps.hxx>
#include <TopExp.hxx>
#include <TopTools_IndexedDataMapOfShapeListOfShape.hxx>
#include <TopTools_IndexedMapOfShape.hxx>

#include <algorithm>
#include <cmath>
#include <map>
#include <string>
#include <vector>

namespace nimbo::test {

/// A solid's volume and a face's area, integrated closely: the fixed rule is off by 1e-4 on split
/// curved faces.
inline double volumeOf(const TopoDS_Shape &solid) {
  GProp_GProps properties;
  BRepGProp::VolumeProperties(solid, properties, 1e-9);
  return std::abs(properties.Mass());
}

inline double areaOf(const TopoDS_Shape &face) {
  GProp_GProps properties;
  BRepGProp::SurfaceProperties(face, properties, 1e-9);
  return properties.Mass();
}

/// A part as a report numbers it in the compound's TopExp::MapShapes numbering.
struct NumberedPart {
  std::string path;
  std::vector<int> solids;
  double volume;
};

/// An interface as a report numbers it.
struct NumberedInterface {
  std::string first;
  std::string second;
  std::vector<int> faces;
  double area;
};

/// Checks a compound against the numbers that describe it: every solid belongs to one part, which
/// has the volume of its solids; every interface face bounds exactly one solid of each of its two
/// parts, and the faces have the interface's area; no face bounds solids of two parts without being
/// in their interface.
inline void expectConformal(const TopoDS_Shape &compound, const std::vector<NumberedPart> &parts,
                            const std::vector<NumberedInterface> &interfaces) {
  TopTools_IndexedMapOfShape solids;
  TopTools_IndexedDataMapOfShapeListOfShape solidsOfFace;
  TopExp::MapShapes(compound, TopAbs_SOLID, solids);
  TopExp::MapShapesAndAncestors(compound, TopAbs_FACE, TopAbs_SOLID, solidsOfFace);
  std::map<int, std::string> partOfSolid;
  for (const NumberedPart &part : parts) {
    double volume = 0.0;
    for (const int solid : part.solids) {
      ASSERT_TRUE(solid >= 1 && solid <= solids.Extent()) << part.path << " solid " << solid;
      EXPECT_TRUE(partOfSolid.emplace(solid, part.path).second) << "solid " << solid << " in two parts";
      volume += volumeOf(solids(solid));
    }
    EXPECT_NEAR(volume, part.volume, 1e-6 * std::max(1.0, part.volume)) << part.path;
  }
  EXPECT_EQ(partOfSolid.size(), static_cast<std::size_t>(solids.Extent())) << "solids that belong to no part";
  std::map<std::pair<std::string, std::string>, int> sharedFaces;
  for (const NumberedInterface &interface : interfaces) {
    double area = 0.0;
    for (const int face : interface.faces) {
      ASSERT_TRUE(face >= 1 && face <= solidsOfFace.Extent()) << interface.first << " | " << interface.second;
      area += areaOf(solidsOfFace.FindKey(face));
      std::vector<std::string> sides;
      for (const TopoDS_Shape &solid : solidsOfFace(face)) sides.push_back(partOfSolid[solids.FindIndex(solid)]);
      std::sort(sides.begin(), sides.end());
      std::vector<std::string> expected = {interface.first, interface.second};
      std::sort(expected.begin(), expected.end());
      EXPECT_EQ(sides, expected) << "face " << face;
    }
    EXPECT_NEAR(area, interface.area, 1e-6 * std::max(1.0, interface.area))
        << interface.first << " | " << interface.second;
    sharedFaces[{interface.first, interface.second}] += static_cast<int>(interface.faces.size());
  }
  for (int face = 1; face <= solidsOfFace.Extent(); ++face) {
    std::vector<std::string> sides;
    for (const TopoDS_Shape &solid : solidsOfFace(face)) sides.push_back(partOfSolid[solids.FindIndex(solid)]);
    if (sides.size() == 2 && sides[0] != sides[1]) {
      EXPECT_TRUE(sharedFaces.count({sides[0], sides[1]}) || sharedFaces.count({sides[1], sides[0]}))
          << "face " << face << " between " << sides[0] << " and " << sides[1] << " is in no interface";
    }
  }
}

/// Checks an imprint in memory: its own numbers point at its own shapes, and the compound keeps
/// the promises above.
inline void expectConformal(const Imprint &imprint) {
  TopTools_IndexedMapOfShape solids;
  TopTools_IndexedMapOfShape faces;
  TopExp::MapShapes(imprint.compound, TopAbs_SOLID, solids);
  TopExp::MapShapes(imprint.compound, TopAbs_FACE, faces);
  std::vector<NumberedPart> parts;
  std::map<std::size_t, std::string> pathOf;
  for (const ImprintedPart &part : imprint.parts) {
    ASSERT_EQ(part.solidNumbers.size(), part.solids.size()) << part.path;
    ASSERT_EQ(part.boundaryNumbers.size(), part.boundary.size()) << part.path;
    for (std::size_t k = 0; k < part.solids.size(); ++k)
      EXPECT_EQ(solids.FindIndex(part.solids[k]), part.solidNumbers[k]);
    for (std::size_t k = 0; k < part.boundary.size(); ++k) {
      EXPECT_EQ(faces.FindIndex(part.boundary[k]), part.boundaryNumbers[k]);
    }
    parts.push_back({part.path, part.solidNumbers, part.volume});
    pathOf[part.part] = part.path;
  }
  std::vector<NumberedInterface> interfaces;
  for (const Interface &interface : imprint.interfaces) {
    ASSERT_EQ(interface.faceNumbers.size(), interface.faces.size());
    for (std::size_t k = 0; k < interface.faces.size(); ++k) {
      EXPECT_EQ(faces.FindIndex(interface.faces[k]), interface.faceNumbers[k]);
    }
    interfaces.push_back({pathOf[interface.first], pathOf[interface.second], interface.faceNumbers, interface.area});
  }
  expectConformal(imprint.compound, parts, interfaces);
}

}  // namespace nimbo::test
