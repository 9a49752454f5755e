// Meshing: the written .msh read back with Gmsh's own API: every part's physical volume exists by
// name with elements, and the nodes of each interface are shared by both volumes' elements.
#include <nimbo/mesh/Mesh.h>
#include <nimbo/nimbo_exception.h>

#include "test_helpers.h"

#include <gmsh.h>
#include <gtest/gtest.h>
#include <BRepAlgoAPI_Cut.hxx>
#include <BRepPrimAPI_MakeCylinder.hxx>

#include <cmath>
#include <map>
#include <set>
#include <tuple>

using nimbo::Part;
using nimbo::test::box;
using nimbo::test::TempDir;

namespace {

Part part(const std::string &path, const TopoDS_Shape &shape) { return Part{path, path, shape, std::nullopt}; }

// The mesh file as Gmsh reads it back: physical groups by name, and the nodes of each one's elements.
struct ReadBack {
  std::map<std::pair<int, std::string>, std::set<std::size_t>> nodesOfGroup;  // (dim, name)
  std::size_t nodes = 0;
  std::size_t distinctPlaces = 0;
};

ReadBack readBack(const std::string &file) {
  ReadBack result;
  gmsh::initialize(0, nullptr, false);
  gmsh::option::setNumber("General.Terminal", 0);
  gmsh::open(file);
  gmsh::vectorpair groups;
  gmsh::model::getPhysicalGroups(groups);
  for (const auto &[dim, tag] : groups) {
    std::string name;
    gmsh::model::getPhysicalName(dim, tag, name);
    std::vector<int> entities;
    gmsh::model::getEntitiesForPhysicalGroup(dim, tag, entities);
    std::set<std::size_t> &nodes = result.nodesOfGroup[{dim, name}];
    for (const int entity : entities) {
      std::vector<int> types;
      std::vector<std::vector<std::size_t>> elements, elementNodes;
      gmsh::model::mesh::getElements(types, elements, elementNodes, dim, entity);
      for (const auto &list : elementNodes) nodes.insert(list.begin(), list.end());
    }
  }
  std::vector<std::size_t> tags;
  std::vector<double> xyz, uvw;
  gmsh::model::mesh::getNodes(tags, xyz, uvw, -1, -1, false, false);
  std::set<std::tuple<long, long, long>> places;
  for (std::size_t i = 0; i + 2 < xyz.size(); i += 3) {
    places.insert({std::lround(xyz[i] * 1e6), std::lround(xyz[i + 1] * 1e6), std::lround(xyz[i + 2] * 1e6)});
  }
  result.nodes = tags.size();
  result.distinctPlaces = places.size();
  gmsh::finalize();
  return result;
}

}  // namespace

TEST(MeshAssembly, BoltThroughPlateGivesNamedRegionsThatShareTheirInterfaceNodes) {
  const TopoDS_Shape bolt = BRepPrimAPI_MakeCylinder(gp_Ax2(gp_Pnt(20, 20, -5), gp_Dir(0, 0, 1)), 4, 20).Shape();
  const TopoDS_Shape plate = BRepAlgoAPI_Cut(box({0, 0, 0}, {40, 40, 10}), bolt).Shape();
  const nimbo::Imprint imprint = nimbo::imprintAssembly(
      {part("joint/plate", plate), part("joint/bolt", bolt), part("block", box({0, 0, 10}, {10, 10, 20}))});
  TempDir dir;
  const std::string file = (dir.path() / "joint.msh").string();
  nimbo::MeshOptions options;
  options.size = 4;
  const nimbo::MeshSummary summary = nimbo::meshAssembly(imprint, file, options);
  ASSERT_EQ(summary.parts.size(), 3u);
  for (const nimbo::MeshedPart &p : summary.parts) EXPECT_GT(p.elements, 0u) << p.path;
  ASSERT_EQ(summary.interfaces.size(), 2u);
  EXPECT_EQ(summary.interfaces[0].name, "joint/plate | joint/bolt");

  ReadBack mesh = readBack(file);
  EXPECT_EQ(mesh.nodes, summary.nodes);
  EXPECT_EQ(mesh.distinctPlaces, mesh.nodes);  // no two nodes at one place: the interfaces are conformal
  const auto nodesOf = [&](int dim, const std::string &name) { return mesh.nodesOfGroup[std::make_pair(dim, name)]; };
  for (const std::string name : {"joint/plate", "joint/bolt", "block"}) {
    EXPECT_FALSE(nodesOf(3, name).empty()) << name;
    EXPECT_FALSE(nodesOf(2, name).empty()) << name << " boundary";
  }
  for (const std::string second : {"joint/bolt", "block"}) {
    const std::set<std::size_t> interface = nodesOf(2, "joint/plate | " + second);
    ASSERT_FALSE(interface.empty()) << second;
    const std::set<std::size_t> plate = nodesOf(3, "joint/plate");
    const std::set<std::size_t> other = nodesOf(3, second);
    for (const std::size_t node : interface) EXPECT_TRUE(plate.count(node) == 1 && other.count(node) == 1) << node;
  }
}

TEST(MeshAssembly, SecondOrderAndBadOrders) {
  const nimbo::Imprint imprint = nimbo::imprintAssembly({part("cube", box({0, 0, 0}, {10, 10, 10}))});
  TempDir dir;
  nimbo::MeshOptions options;
  options.size = 5;
  options.order = 2;
  const std::string file = (dir.path() / "cube.msh").string();
  const nimbo::MeshSummary quadratic = nimbo::meshAssembly(imprint, file, options);
  options.order = 1;
  const nimbo::MeshSummary linear = nimbo::meshAssembly(imprint, file, options);
  EXPECT_EQ(quadratic.elements, linear.elements);
  EXPECT_GT(quadratic.nodes, linear.nodes);
  options.order = 3;
  EXPECT_THROW(nimbo::meshAssembly(imprint, file, options), nimbo_exception);
  std::size_t entries = 0;
  for ([[maybe_unused]] const auto &entry : std::filesystem::directory_iterator(dir.path())) ++entries;
  EXPECT_EQ(entries, 1u);  // the mesh, and no temporary beside it
}
