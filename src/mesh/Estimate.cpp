// How large a mesh will be, told before meshing: a slip of the size (0.02 for 2) would otherwise
// run until the machine's memory is gone.
#include <nimbo/mesh/Mesh.h>

#include <nimbo/nimbo_exception.h>

#include <BRepGProp.hxx>
#include <GProp_GProps.hxx>
#include <TopExp.hxx>
#include <TopTools_IndexedMapOfShape.hxx>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <string>

namespace nimbo {
namespace {

// Gmsh's tetrahedra at size h hold about h^3/6 each: a flanged shaft of 55418 mm^3 at 0.65 mm gave
// 920k by Delaunay and 812k by HXT, which this puts at 1.2M; curved faces add more at coarse sizes.
constexpr double tetrahedraPerCube = 6.0;

// A study's peak memory over all its processes per element (docs/performance.md): 0.72 GB for 1.04M
// linear tetrahedra (meshing, then GetDP's iterative solver), 2.0 GB for 272k quadratic ones
// (CalculiX, three unknowns at each of ten nodes).
double bytesPerElement(int order) { return order == 2 ? 8000.0 : 1000.0; }

struct Sizes {
  double volume = 0.0;  ///< of every part, mm^3
  double size = 0.0;
  std::vector<std::pair<double, double>> refined;  ///< area (mm^2) and size of each refined group
};

// A refined face's size s grows linearly to the largest, h, over about 3 h (a 100 mm cube at 20 mm with
// one face at 4 mm made 7231 tetrahedra, this says 7500): the integral of 6 A / size^3 across that
// layer, less what the volume at h already counts.
double estimate(const Sizes &sizes, double factor) {
  const double h = sizes.size * factor;
  double count = sizes.volume * tetrahedraPerCube / (h * h * h);
  for (const auto &[area, size] : sizes.refined) {
    const double s = size * factor, layer = 3 * h;
    count += 3 * area * layer / (h - s) * (1 / (s * s) - 1 / (h * h));
  }
  return count;
}

Sizes sizesOf(const Imprint &imprinted, const MeshOptions &options) {
  Sizes sizes;
  sizes.size = options.size;
  for (const ImprintedPart &part : imprinted.parts) sizes.volume += part.volume;
  TopTools_IndexedMapOfShape faces;
  TopExp::MapShapes(imprinted.compound, TopAbs_FACE, faces);
  for (const SurfaceGroup &group : options.surfaces) {
    if (!(group.size > 0) || group.size >= options.size) continue;
    double area = 0.0;
    for (const int face : group.faces) {
      if (face < 1 || face > faces.Extent()) continue;
      GProp_GProps properties;
      BRepGProp::SurfaceProperties(faces(face), properties);
      area += properties.Mass();
    }
    sizes.refined.emplace_back(area, group.size);
  }
  return sizes;
}

// "2e11" for a large count, the whole number for a small one.
std::string about(double count) {
  char text[32];
  if (count < 1e6) {
    std::snprintf(text, sizeof text, "%.0f", count);
    return text;
  }
  const int exponent = static_cast<int>(std::floor(std::log10(count)));
  std::snprintf(text, sizeof text, "%.0fe%d", count / std::pow(10.0, exponent), exponent);
  return text;
}

// Up to two significant digits, rounded up so that the size given fits.
std::string roundedUp(double size) {
  const double unit = std::pow(10.0, std::floor(std::log10(size)) - 1);
  char text[32];
  std::snprintf(text, sizeof text, "%g", std::ceil(size / unit - 1e-9) * unit);
  return text;
}

}  // namespace

double estimateElements(const Imprint &imprinted, const MeshOptions &options) {
  if (!(options.size > 0)) return 0.0;
  return estimate(sizesOf(imprinted, options), 1.0);
}

double defaultMaxElements(int order) {
  std::ifstream meminfo("/proc/meminfo");
  std::string key;
  double kilobytes = 0.0;
  while (meminfo >> key >> kilobytes) {
    if (key == "MemAvailable:") return kilobytes * 1024.0 / bytesPerElement(order);
    meminfo.ignore(256, '\n');
  }
  return 1e10 / bytesPerElement(order);  // no /proc: what a machine of 10 GB holds
}

double checkElementCount(const Imprint &imprinted, const MeshOptions &options) {
  if (!(options.size > 0)) return 0.0;
  const Sizes sizes = sizesOf(imprinted, options);
  const double count = estimate(sizes, 1.0);
  const double limit = options.maxElements > 0 ? options.maxElements : defaultMaxElements(options.order);
  if (count <= limit) return count;
  double low = 1.0, high = 2.0;
  while (estimate(sizes, high) > limit) high *= 2;
  for (int step = 0; step < 60; ++step) {
    const double middle = std::sqrt(low * high);
    (estimate(sizes, middle) > limit ? low : high) = middle;
  }
  char size[32];
  std::snprintf(size, sizeof size, "%g", options.size);
  throw input_error("size " + std::string(size) + " mm would make about " + about(count) +
                    " elements; the smallest size that fits is " + roundedUp(options.size * high) +
                    " mm, or raise --max-elements");
}

}  // namespace nimbo
