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

unsigned char byte(double share) { return static_cast<unsigned char>(std::lround(std::clamp(share, 0.0, 1.0) * 255)); }

// Each value as its place on the colour bar in a byte, which the page colours through a palette
// of 256: a step in time then costs a byte a node.
std::string levels(const std::vector<double> &values, double least, double range) {
  std::vector<unsigned char> levels;
  levels.reserve(values.size());
  for (const double value : values) levels.push_back(byte(range > 0 ? (value - least) / range : 0.5));
  return base64(levels);
}

bool allFinite(const std::vector<double> &values) {
  return std::all_of(values.begin(), values.end(), [](double value) { return std::isfinite(value); });
}

// The field's pieces in the glTF frame (metres, Y up), coloured on one scale over all of them, and
// its steps in time when they are light enough to embed.
json fieldJson(const PageField &field) {
  std::size_t nodes = 0;
  for (const PageFieldPiece &piece : field.pieces) {
    if (piece.surface.values.size() != piece.surface.nodes.size()) {
      throw nimbo_exception("The field piece " + piece.name + " has " + std::to_string(piece.surface.values.size()) +
                            " values for " + std::to_string(piece.surface.nodes.size()) + " nodes");
    }
    if (!allFinite(piece.surface.values))
      throw nimbo_exception("The field piece " + piece.name + " has a value that is not finite");
    nodes += piece.surface.nodes.size();
  }
  const bool embedded = !field.frames.empty() && field.frames.size() * nodes <= pageFrameValues;
  double least = INFINITY, greatest = -INFINITY;
  const auto widen = [&](const std::vector<double> &values) {
    for (const double value : values) {
      least = std::min(least, value);
      greatest = std::max(greatest, value);
    }
  };
  if (embedded) {
    for (const PageFieldFrame &frame : field.frames) std::for_each(frame.values.begin(), frame.values.end(), widen);
  } else {
    for (const PageFieldPiece &piece : field.pieces) widen(piece.surface.values);
  }
  const double range = greatest - least;
  json pieces = json::array();
  for (const PageFieldPiece &piece : field.pieces) {
    std::vector<float> positions;
    std::vector<std::uint32_t> indices;
    for (const gp_Pnt &p : piece.surface.nodes) {
      for (const double c : {p.X(), p.Z(), -p.Y()}) positions.push_back(static_cast<float>(c * 0.001));
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
                      {"indices", base64(indices)},
                      {"levels", levels(piece.surface.values, least, range)}});
  }
  json frames = json::array();
  for (std::size_t k = 0; embedded && k < field.frames.size(); ++k) {
    json values = json::array();
    for (const std::vector<double> &piece : field.frames[k].values) values.push_back(levels(piece, least, range));
    frames.push_back({{"label", field.frames[k].label}, {"levels", values}});
  }
  const std::string note = field.frames.empty() || embedded
                               ? ""
                               : std::to_string(field.frames.size()) + " steps: too many to embed, the last one shown";
  std::vector<unsigned char> palette;
  for (int k = 0; k < 256; ++k) {
    const Color color = fieldColor(k / 255.0);
    for (const double c : {color.red, color.green, color.blue}) palette.push_back(byte(c));
  }
  json ramp = json::array();
  for (int k = 0; k <= 10; ++k) ramp.push_back(detail::hex(fieldColor(k / 10.0)));
  return {{"title", field.title},       {"min", least},     {"max", greatest},  {"ramp", ramp},
          {"palette", base64(palette)}, {"pieces", pieces}, {"frames", frames}, {"note", note}};
}

// A frame must give each piece a finite value per node, as the pieces themselves do.
void checkFrames(const PageField &field, const std::string &path) {
  for (const PageFieldFrame &frame : field.frames) {
    const std::string which = "Cannot write " + path + ": the field's step " + frame.label;
    if (frame.values.size() != field.pieces.size()) {
      throw nimbo_exception(which + " has values for " + std::to_string(frame.values.size()) + " of the " +
                            std::to_string(field.pieces.size()) + " pieces");
    }
    for (std::size_t i = 0; i < frame.values.size(); ++i) {
      const PageFieldPiece &piece = field.pieces[i];
      if (frame.values[i].size() != piece.surface.nodes.size()) {
        throw nimbo_exception(which + " has " + std::to_string(frame.values[i].size()) + " values for the " +
                              std::to_string(piece.surface.nodes.size()) + " nodes of " + piece.name);
      }
      if (!allFinite(frame.values[i]))
        throw nimbo_exception(which + " has a value on " + piece.name + " that is not finite");
    }
  }
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
  checkFrames(page.field, path);
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
