// The GetDP problem of a study, written as a readable .pro file, and what GetDP prints back.
#pragma once

#include <nimbo/solve/Solve.h>

#include <map>
#include <string>
#include <vector>

namespace nimbo::detail {

/// A part's region: its physical volume and what it is made of.
struct ProblemPart {
  int physical;
  std::string path;
  std::string material;
  double value;    ///< conductivity or relative permittivity
  double density;  ///< heat source in W/m^3; 0 for none
};

/// A boundary's region.
struct ProblemBoundary {
  int physical;
  const Boundary *boundary;
};

/// The .pro text: regions, constants, a nodal formulation whose fixed boundaries carry their flow
/// as a global quantity, and the operations that print the field and the figures to the files
/// named below, in `folder` when GetDP runs there.
std::string problemText(const Study &study, const std::vector<ProblemPart> &parts,
                        const std::vector<ProblemBoundary> &boundaries, const std::string &meshName);

/// Files the problem writes.
inline const char *const fieldName = "field.pos";     ///< the field as a Gmsh view
inline const char *const nodesName = "nodes.txt";     ///< the field at the nodes, for drawing
inline const char *const figuresName = "figures.txt";  ///< one "key value..." line per figure

/// The figures GetDP printed, by key ("part 3 mean", "boundary 2 flow", ...).
std::map<std::string, double> readFigures(const std::string &path);

}  // namespace nimbo::detail
