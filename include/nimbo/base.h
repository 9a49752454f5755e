// The few value types every nimbo module shares, so that a module can use them without linking the
// one that makes them.
#pragma once

#include <cstddef>

namespace nimbo {

/// A colour as a file gives it: sRGB components in [0, 1].
struct Color {
  double red;
  double green;
  double blue;
};

/// Two parts of an assembly, by their positions in the list of parts given; first < second.
struct PartPair {
  std::size_t first;
  std::size_t second;
};

}  // namespace nimbo
