// What imprint and mesh share: the imprint of the files' parts (healed first when asked), and its
// options on the command line.
#pragma once

#include "report.h"

#include <nimbo/assembly/Assembly.h>

#include <CLI/CLI.hpp>

#include <string>
#include <vector>

/// The imprint options of the command line.
struct ImprintChoices {
  nimbo::ImprintOptions imprint;
  bool heal = false;   ///< heal the parts first, for the element size `size`
  double size = 0.0;   ///< 0 for the default element size
  double widen = 1.0;  ///< healing's tolerances times this
};

/// An imprint, with the parts it numbers.
struct Imprinted {
  nimbo::Imprint imprint;
  std::vector<nimbo::Part> parts;  ///< as read, or as healed
  json healing;                    ///< {"size", "parts": [...]} as heal reports them; null unless healed
};

/// Imprints the parts read from `files` (healed first when asked), with the progress on standard
/// error when that is a terminal. Throws tool_error about the files when the library refuses.
Imprinted imprintOf(const std::vector<std::string> &files, const nimbo::Assembly &read, const ImprintChoices &choices);

/// Adds the imprint's options that mesh takes too.
void addImprintOptions(CLI::App &command, ImprintChoices &choices);

/// A line for people about what healing did: "healed 2 of 11 parts for an element size of 5 mm".
std::string healingLine(const json &healing);
