// The promises of a written mesh, checked by one helper for every test that meshes: read back with
// Gmsh's own API, every part is a named volume with elements and a named boundary, the nodes of each
// interface belong to the elements of both its parts, and no two nodes share a place.
#pragma once

#include <nimbo/assembly/Assembly.h>

#include <gmsh.h>
#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <set>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

namespace nimbo::test {

/// A mesh file as Gmsh reads it back: the nodes of each physical group's elements, by (dim, name).
struct MeshReadBack {
  std::map<std::pair<int, std::string>, std::set<std::size_t>> nodesOfGroup;
  std::size_t nodes = 0;
  std::size_t distinctPlaces = 0;  ///< node positions, to a millionth of a millimetre
};

inline MeshReadBack readMesh(const std::string &file) {
  MeshReadBack result;
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

/// Checks the mesh written from `imprint` against the promises above; returns what was read.
inline MeshReadBack expectConformalMesh(const std::string &file, const Imprint &imprint) {
  MeshReadBack mesh = readMesh(file);
  EXPECT_EQ(mesh.distinctPlaces, mesh.nodes) << "two nodes at one place: an interface is not shared";
  std::map<std::size_t, std::string> pathOf;
  for (const ImprintedPart &part : imprint.parts) {
    pathOf[part.part] = part.path;
    EXPECT_FALSE(mesh.nodesOfGroup[std::make_pair(3, part.path)].empty()) << part.path;
    if (!part.boundary.empty()) {
      EXPECT_FALSE(mesh.nodesOfGroup[std::make_pair(2, part.path)].empty()) << part.path << " boundary";
    }
  }
  for (const Interface &interface : imprint.interfaces) {
    const std::string &first = pathOf[interface.first];
    const std::string &second = pathOf[interface.second];
    const std::set<std::size_t> &nodes = mesh.nodesOfGroup[{2, first + " | " + second}];
    EXPECT_FALSE(nodes.empty()) << first << " | " << second;
    const std::set<std::size_t> &a = mesh.nodesOfGroup[{3, first}];
    const std::set<std::size_t> &b = mesh.nodesOfGroup[{3, second}];
    for (const std::size_t node : nodes) EXPECT_TRUE(a.count(node) == 1 && b.count(node) == 1) << "node " << node;
  }
  return mesh;
}

}  // namespace nimbo::test
