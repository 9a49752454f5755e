// Length-unit names of STEP files and the kernel's unit codes.
#include <nimbo/topology/ShapeAlgorithms.h>

#include <cctype>
#include <iostream>
#include <map>

std::string stepUnitToOccUnit(std::string unit) {
  for (char &c : unit) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  // A file that names no unit is taken to be in metres without comment.
  static const std::map<std::string, std::string> to_occ_units = {
      {"inch", "INCH"}, {"mil", "MIL"},      {"microinch", "UIN"}, {"foot", "FT"},       {"mile", "MI"},
      {"metre", "M"},   {"kilometre", "KM"}, {"millimetre", "MM"}, {"centimetre", "CM"}, {"micrometre", "UM"},
      {"", "M"},
  };
  const auto found = to_occ_units.find(unit);
  if (found != to_occ_units.end()) return found->second;
  std::cerr << "Could not determine unit " << unit << " in step file. Using meters instead" << std::endl;
  return "M";
}
