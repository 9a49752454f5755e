// The VTK XML unstructured grid, written by hand: raw little-endian arrays in base64, each after its
// byte count as a UInt64, which is what header_type="UInt64" tells readers to expect.
#include "Vtu.h"

#include "../render/SvgText.h"

#include <nimbo/environment.h>
#include <nimbo/nimbo_exception.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <limits>

namespace nimbo::detail {
namespace {

static_assert(sizeof(double) == 8, "Float64 arrays are written from doubles");

constexpr std::uint8_t linearTetra = 10;
constexpr std::uint8_t quadraticTetra = 24;
// VTK's mid-edge order (01, 12, 20, 03, 13, 23) from Gmsh's (01, 12, 20, 30, 32, 31).
constexpr int vtkEdge[6] = {0, 1, 2, 3, 5, 4};

std::string base64(const std::vector<unsigned char> &bytes) {
  static const char digits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string text;
  text.reserve((bytes.size() + 2) / 3 * 4);
  for (std::size_t k = 0; k < bytes.size(); k += 3) {
    const std::size_t left = bytes.size() - k;
    const unsigned triple = bytes[k] << 16 | (left > 1 ? bytes[k + 1] << 8 : 0) | (left > 2 ? bytes[k + 2] : 0);
    text += digits[triple >> 18 & 63];
    text += digits[triple >> 12 & 63];
    text += left > 1 ? digits[triple >> 6 & 63] : '=';
    text += left > 2 ? digits[triple & 63] : '=';
  }
  return text;
}

// One array's data as the format holds it: the byte count, then the values, in base64. Every
// platform this builds on is little-endian, as the file says.
template <typename T>
std::string encoded(const std::vector<T> &values) {
  const std::uint64_t size = values.size() * sizeof(T);
  std::vector<unsigned char> bytes(sizeof size + size);
  std::memcpy(bytes.data(), &size, sizeof size);
  if (size) std::memcpy(bytes.data() + sizeof size, values.data(), size);
  return base64(bytes);
}

template <typename T>
void writeArray(std::ostream &out, const char *type, const std::string &name, int components,
                const std::vector<T> &values) {
  out << "        <DataArray type=\"" << type << "\" Name=\"" << name << "\"";
  if (components != 1) out << " NumberOfComponents=\"" << components << "\"";
  out << " format=\"binary\">\n          " << encoded(values) << "\n        </DataArray>\n";
}

std::string jsonString(const std::string &text) {
  std::string out = "\"";
  for (const char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (static_cast<unsigned char>(c) < 0x20) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned>(c));
      out += escape;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

void writeOrThrow(const std::string &path, const std::function<void(std::ostream &)> &write) {
  const bool written = write_atomically(path, [&](const std::string &temporary) {
    std::ofstream out(temporary, std::ios::binary);
    if (!out) return false;
    write(out);
    out.close();
    return !out.fail();
  });
  if (!written) throw nimbo_exception("Cannot write " + path);
}

}  // namespace

void writeVtu(const std::string &path, const MeshData &mesh, double scale, const std::vector<std::string> &parts,
              const std::vector<VtuArray> &pointData) {
  for (const VtuArray &array : pointData) {
    if (array.components < 1 || array.values.size() != mesh.nodes.size() * array.components) {
      throw nimbo_exception("Cannot write " + path + ": the point array \"" + array.name + "\" has " +
                            std::to_string(array.values.size()) + " values for " + std::to_string(mesh.nodes.size()) +
                            " points of " + std::to_string(array.components) + " components");
    }
  }
  const bool quadratic = !mesh.tetrahedronEdges.empty();
  if (quadratic && mesh.tetrahedronEdges.size() != mesh.tetrahedra.size()) {
    throw nimbo_exception("Cannot write " + path + ": the mesh has mid-edge nodes for " +
                          std::to_string(mesh.tetrahedronEdges.size()) + " of its " +
                          std::to_string(mesh.tetrahedra.size()) + " tetrahedra");
  }

  std::vector<double> points;
  points.reserve(3 * mesh.nodes.size());
  for (const auto &node : mesh.nodes) {
    for (const double c : node) points.push_back(c * scale);
  }
  const std::size_t per = quadratic ? 10 : 4;
  std::vector<std::int64_t> connectivity, offsets;
  connectivity.reserve(per * mesh.tetrahedra.size());
  for (std::size_t t = 0; t < mesh.tetrahedra.size(); ++t) {
    for (const std::size_t row : mesh.tetrahedra[t]) connectivity.push_back(static_cast<std::int64_t>(row));
    if (quadratic) {
      for (const int e : vtkEdge) connectivity.push_back(static_cast<std::int64_t>(mesh.tetrahedronEdges[t][e]));
    }
    offsets.push_back(static_cast<std::int64_t>(connectivity.size()));
  }
  const std::vector<std::uint8_t> types(mesh.tetrahedra.size(), quadratic ? quadraticTetra : linearTetra);
  // 0 for a tetrahedron of no part named.
  std::vector<std::int32_t> partOf(mesh.tetrahedra.size(), 0);
  for (std::size_t k = 0; k < parts.size(); ++k) {
    const auto volume = mesh.volumes.find(parts[k]);
    if (volume == mesh.volumes.end()) continue;
    for (const std::size_t t : volume->second) partOf.at(t) = static_cast<std::int32_t>(k + 1);
  }

  // The numbering first: a grid is never left without the names of its parts.
  const std::filesystem::path target(path);
  writeOrThrow(std::filesystem::path(target).replace_extension(".json").string(), [&](std::ostream &out) {
    out << "{\"parts\": [";
    for (std::size_t k = 0; k < parts.size(); ++k) out << (k ? ", " : "") << jsonString(parts[k]);
    out << "]}\n";
  });
  writeOrThrow(path, [&](std::ostream &out) {
    out << "<?xml version=\"1.0\"?>\n"
        << "<VTKFile type=\"UnstructuredGrid\" version=\"1.0\" byte_order=\"LittleEndian\" header_type=\"UInt64\">\n"
        << "  <UnstructuredGrid>\n"
        << "    <Piece NumberOfPoints=\"" << mesh.nodes.size() << "\" NumberOfCells=\"" << mesh.tetrahedra.size()
        << "\">\n      <PointData>\n";
    for (const VtuArray &array : pointData) {
      writeArray(out, "Float64", escaped(array.name), array.components, array.values);
    }
    out << "      </PointData>\n      <CellData>\n";
    writeArray(out, "Int32", "part", 1, partOf);
    out << "      </CellData>\n      <Points>\n";
    writeArray(out, "Float64", "Points", 3, points);
    out << "      </Points>\n      <Cells>\n";
    // Indices as Int32 while they fit, which takes a third off a large mesh's file.
    if (connectivity.size() <= static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max())) {
      writeArray(out, "Int32", "connectivity", 1, std::vector<std::int32_t>(connectivity.begin(), connectivity.end()));
      writeArray(out, "Int32", "offsets", 1, std::vector<std::int32_t>(offsets.begin(), offsets.end()));
    } else {
      writeArray(out, "Int64", "connectivity", 1, connectivity);
      writeArray(out, "Int64", "offsets", 1, offsets);
    }
    writeArray(out, "UInt8", "types", 1, types);
    out << "      </Cells>\n    </Piece>\n  </UnstructuredGrid>\n</VTKFile>\n";
  });
}

void writePvd(const std::string &path, const std::vector<std::pair<double, std::string>> &grids) {
  writeOrThrow(path, [&](std::ostream &out) {
    out << "<?xml version=\"1.0\"?>\n<VTKFile type=\"Collection\" version=\"1.0\">\n  <Collection>\n";
    char time[32];
    for (const auto &[seconds, file] : grids) {
      std::snprintf(time, sizeof time, "%.17g", seconds);
      out << "    <DataSet timestep=\"" << time << "\" part=\"0\" file=\"" << escaped(file) << "\"/>\n";
    }
    out << "  </Collection>\n</VTKFile>\n";
  });
}

}  // namespace nimbo::detail
