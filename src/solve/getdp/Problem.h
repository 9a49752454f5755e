// The GetDP problem of a study, written as a readable .pro file, and what GetDP prints back.
#pragma once

#include "../Solver.h"

#include <map>
#include <string>
#include <vector>

namespace nimbo::detail {

/// The .pro text: regions, constants, a nodal formulation whose fixed boundaries carry their flow
/// as a global quantity, and the operations that print the field at the nodes, the figures, and
/// with `pos` the field as a Gmsh view, to the files named below, in the scratch folder where GetDP runs.
std::string problemText(const SetUp &setUp, bool pos);

/// Files the problem writes.
inline const char *const fieldName = "field.pos";      ///< the field as a Gmsh view, when asked for
inline const char *const nodesName = "nodes.txt";      ///< the field at the nodes, for drawing
inline const char *const figuresName = "figures.txt";  ///< one "key value..." line per figure
/// Over time: the field at the nodes at each output step, one nodes table after the other.
inline const char *const snapshotsName = "snapshots.txt";

/// A figure's (time, value) each time GetDP printed it.
using FigureSeries = std::vector<std::pair<double, double>>;

/// The figures GetDP printed, by key ("part 3 integral", "boundary 2 flow", ...).
std::map<std::string, FigureSeries> readFigures(const std::string &path);

/// Over time: every how many steps the field is kept (TimeStepping::every, or about ten snapshots
/// when it is 0).
long outputStride(const TimeStepping &time);

}  // namespace nimbo::detail
