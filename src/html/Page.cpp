// The page as one HTML file: its data as JSON, the parts as base64 glTF, and the viewer's script
// and three.js inline, so that it opens from a mail or a share without a network.
#include <nimbo/html/Html.h>

#include "PageAssets.h"
#include "render/SvgText.h"

#include <nimbo/environment.h>
#include <nimbo/environment_variables.h>
#include <nimbo/nimbo_exception.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

namespace nimbo {
namespace {

using json = nlohmann::ordered_json;

std::string base64(const void *data, std::size_t size) {
  static const char digits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  const auto *bytes = static_cast<const unsigned char *>(data);
  std::string text;
  text.reserve((size + 2) / 3 * 4);
  for (std::size_t i = 0; i < size; i += 3) {
    const unsigned n = bytes[i] << 16 | (i + 1 < size ? bytes[i + 1] << 8 : 0) | (i + 2 < size ? bytes[i + 2] : 0);
    text += digits[n >> 18 & 63];
    text += digits[n >> 12 & 63];
    text += i + 1 < size ? digits[n >> 6 & 63] : '=';
    text += i + 2 < size ? digits[n & 63] : '=';
  }
  return text;
}

template <typename T>
std::string base64(const std::vector<T> &values) {
  return base64(values.data(), values.size() * sizeof(T));
}

std::string fileText(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  if (!in) throw nimbo_exception("Cannot read " + path);
  return text.str();
}

// Text inside <script> ends at the first "</": JSON may say "<\/" instead.
std::string scriptSafe(std::string text) {
  for (std::size_t at = text.find("</"); at != std::string::npos; at = text.find("</", at + 3))
    text.insert(at + 1, "\\");
  return text;
}

// The field's pieces in the glTF frame (metres, Y up), coloured on one scale over all of them.
json fieldJson(const PageField &field) {
  double least = INFINITY, greatest = -INFINITY;
  for (const PageFieldPiece &piece : field.pieces) {
    if (piece.surface.values.size() != piece.surface.nodes.size()) {
      throw nimbo_exception("The field piece " + piece.name + " has " + std::to_string(piece.surface.values.size()) +
                            " values for " + std::to_string(piece.surface.nodes.size()) + " nodes");
    }
    for (const double value : piece.surface.values) {
      if (!std::isfinite(value))
        throw nimbo_exception("The field piece " + piece.name + " has a value that is not finite");
      least = std::min(least, value);
      greatest = std::max(greatest, value);
    }
  }
  const double range = greatest - least;
  json pieces = json::array();
  for (const PageFieldPiece &piece : field.pieces) {
    std::vector<float> positions;
    std::vector<unsigned char> colors;
    std::vector<std::uint32_t> indices;
    for (std::size_t i = 0; i < piece.surface.nodes.size(); ++i) {
      const gp_Pnt &p = piece.surface.nodes[i];
      for (const double c : {p.X(), p.Z(), -p.Y()}) positions.push_back(static_cast<float>(c * 0.001));
      const Color color = fieldColor(range > 0 ? (piece.surface.values[i] - least) / range : 0.5);
      for (const double c : {color.red, color.green, color.blue}) {
        colors.push_back(static_cast<unsigned char>(std::lround(std::clamp(c, 0.0, 1.0) * 255)));
      }
    }
    for (const auto &triangle : piece.surface.triangles) {
      for (const std::size_t node : triangle) {
        if (node >= piece.surface.nodes.size()) {
          throw nimbo_exception("The field piece " + piece.name + " has a triangle on node " + std::to_string(node) +
                                " of " + std::to_string(piece.surface.nodes.size()));
        }
        indices.push_back(static_cast<std::uint32_t>(node));
      }
    }
    pieces.push_back({{"name", piece.name},
                      {"positions", base64(positions)},
                      {"colors", base64(colors)},
                      {"indices", base64(indices)}});
  }
  json ramp = json::array();
  for (int k = 0; k <= 10; ++k) ramp.push_back(detail::hex(fieldColor(k / 10.0)));
  return {{"title", field.title}, {"min", least}, {"max", greatest}, {"ramp", ramp}, {"pieces", pieces}};
}

json pageJson(const Page &page) {
  json parts = json::array();
  for (const PagePart &part : page.parts) {
    parts.push_back({{"name", part.name},
                     {"color", detail::hex(part.color)},
                     {"ghost", part.ghost},
                     {"kind", part.kind},
                     {"inside", part.inside}});
  }
  json tables = json::array();
  for (const PageTable &table : page.tables) {
    json rows = json::array();
    for (const PageRow &row : table.rows) rows.push_back({{"cells", row.cells}, {"parts", row.parts}});
    tables.push_back({{"id", table.id}, {"title", table.title}, {"columns", table.columns}, {"rows", rows}});
  }
  json legend = json::array();
  for (const PageLegend &entry : page.legend)
    legend.push_back({{"label", entry.label}, {"color", detail::hex(entry.color)}});
  return {{"title", page.title}, {"summary", page.summary},
          {"parts", parts},      {"field", page.field.pieces.empty() ? json() : fieldJson(page.field)},
          {"tables", tables},    {"legend", legend}};
}

// Names are how rows and the model find the parts: each must be there, and once.
void checkNames(const Page &page, const std::string &path) {
  std::set<std::string> names;
  const auto add = [&](const std::string &name) {
    if (!names.insert(name).second) throw nimbo_exception("Cannot write " + path + ": two parts are named " + name);
  };
  for (const PagePart &part : page.parts) add(part.name);
  for (const PageFieldPiece &piece : page.field.pieces) add(piece.name);
  if (names.empty()) throw nimbo_exception("Cannot write " + path + ": no part to show");
  for (const PageTable &table : page.tables) {
    for (const PageRow &row : table.rows) {
      for (const std::string &name : row.parts) {
        if (!names.count(name)) {
          throw nimbo_exception("Cannot write " + path + ": a row of " + table.title + " names " + name +
                                ", which the page does not show");
        }
      }
    }
  }
}

// The parts as a .glb beside the page, read back and removed.
std::string modelBytes(const Page &page, const std::string &scratch) {
  if (page.parts.empty()) return "";
  struct Remover {
    std::string file;
    ~Remover() {
      std::error_code ignored;
      std::filesystem::remove(file, ignored);
    }
  } remover{scratch};
  std::vector<GltfNode> nodes;
  for (const PagePart &part : page.parts) nodes.push_back({part.name, part.shape, part.color});
  writeGltf(nodes, scratch, GltfOptions{page.deflection});
  return fileText(scratch);
}

}  // namespace

std::string threeJsFolder() { return environment_variable("NIMBO_THREE_DIR").value_or("/usr/share/javascript/three"); }

namespace {

const char *const threeJsFiles[] = {"/three.min.js", "/examples/js/loaders/GLTFLoader.js",
                                    "/examples/js/controls/OrbitControls.js"};

}  // namespace

void checkPageCanBeWritten(const std::string &path) {
  for (const char *file : threeJsFiles) {
    if (!std::filesystem::is_regular_file(threeJsFolder() + file)) {
      throw nimbo_exception("Cannot write " + path + ": three.js is missing, no " + threeJsFolder() + file +
                            " (install Debian's libjs-three, or set NIMBO_THREE_DIR)");
    }
  }
}

void writePage(const Page &page, const std::string &path) {
  checkNames(page, path);
  checkPageCanBeWritten(path);
  std::string scripts;
  for (const char *file : threeJsFiles) scripts += "<script>\n" + fileText(threeJsFolder() + file) + "\n</script>\n";
  const bool written = write_atomically(path, [&](const std::string &temporary) {
    const std::string model = modelBytes(page, temporary + ".glb");
    std::ofstream out(temporary, std::ios::binary);
    out << "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n<title>"
        << detail::escaped(page.title) << "</title>\n<style>\n"
        << page_assets::css << "</style>\n</head>\n<body>\n"
        << page_assets::body << "<script type=\"application/json\" id=\"nimbo-page\">"
        << scriptSafe(pageJson(page).dump())
        << "</script>\n<script type=\"application/octet-stream\" id=\"nimbo-model\">"
        << base64(model.data(), model.size()) << "</script>\n"
        << scripts << "<script>\n"
        << page_assets::script << "</script>\n</body>\n</html>\n";
    out.close();
    return static_cast<bool>(out);
  });
  if (!written) throw nimbo_exception("Cannot write " + path);
}

}  // namespace nimbo
