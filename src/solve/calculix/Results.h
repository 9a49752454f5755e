// What CalculiX leaves behind, read back: the nodal blocks of its .frd file, the printed tables of
// its .dat file, and the stress figures engineers ask for, computed from the stress tensor.
#pragma once

#include <array>
#include <cstddef>
#include <map>
#include <string>
#include <vector>

namespace nimbo::detail {

/// One nodal result block of a .frd file (displacements, stresses) of one step or mode.
struct FrdBlock {
  std::string name;  ///< as CalculiX names it: "DISP", "STRESS"
  /// The step's number, or the mode's for a frequency step: a static step 1 and mode 1 share a
  /// number, and only their order in the file tells them apart.
  int step = 0;
  double value = 0.0;  ///< the total time at the step's end, or the mode's frequency in Hz
  /// "D1", "D2", "D3"; "SXX", "SYY", "SZZ", "SXY", "SYZ", "SZX": those with values in the file, not
  /// the magnitude "ALL" that CalculiX lists for a reader to derive.
  std::vector<std::string> components;
  std::vector<std::size_t> nodes;  ///< the node numbers, in the file's order
  std::vector<double> values;      ///< nodes.size() rows of components.size() values
};

/// The nodal result blocks of an ASCII .frd file, in the file's order. Throws nimbo_exception naming
/// the file and the line when it cannot be read or a block is cut short.
std::vector<FrdBlock> readFrd(const std::string &path);

/// One printed table of nodal forces (`*NODE PRINT` RF) of a .dat file. At a node that is not held
/// CalculiX prints the load applied there, not zero. A frequency step prints one table per mode and
/// set, in mode order, all at the step's time.
struct DatForces {
  std::string set;  ///< the node set, as CalculiX prints it (upper case)
  double time = 0.0;
  std::vector<std::size_t> nodes;
  std::vector<std::array<double, 3>> forces;  ///< per node, fx fy fz
};

/// One eigenmode of a frequency step.
struct DatMode {
  int mode = 0;
  double frequency = 0.0;                 ///< in cycles per time unit (Hz)
  std::array<double, 3> participation{};  ///< x y z
  std::array<double, 3> effectiveMass{};  ///< x y z, in the model's mass unit
};

/// What a .dat file holds.
struct DatResults {
  std::vector<DatForces> forces;  ///< in the file's order
  std::vector<DatMode> modes;     ///< by mode number, of the last frequency step
  /// x y z: the effective masses of the modes found, as CalculiX sums them (its TOTAL line), when it
  /// prints it; zero otherwise. Not the mass free to move, which it prints in a table of its own.
  std::array<double, 3> totalEffectiveMass{};
};

/// Reads a .dat file. Throws nimbo_exception naming the file and the line when it cannot be read.
DatResults readDat(const std::string &path);

/// A stress tensor as CalculiX writes it: xx, yy, zz, xy, yz, zx.
using Stress = std::array<double, 6>;

/// The von Mises equivalent stress.
double vonMises(const Stress &s);

/// The principal stresses, greatest first.
std::array<double, 3> principalStresses(const Stress &s);

}  // namespace nimbo::detail
