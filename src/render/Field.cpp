// Field drawings: a triangulated surface painted by its values, farthest triangles first so that
// nearer ones cover them, beside a colour bar of the scale.
#include <nimbo/render/Render.h>

#include <nimbo/nimbo_exception.h>

#include "SvgText.h"

#include <HLRAlgo_Projector.hxx>
#include <gp_Ax2.hxx>
#include <gp_XYZ.hxx>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <numeric>
#include <sstream>

namespace nimbo {
namespace {

using detail::escaped;
using detail::hex;

// A ramp whose lightness rises steadily from dark violet through blue and green to yellow, so the
// value reads from the colour in greyscale too; the colour bar's gradient uses the same stops.
constexpr Color ramp[] = {{0.267, 0.004, 0.329}, {0.278, 0.176, 0.482}, {0.231, 0.322, 0.545},
                          {0.173, 0.447, 0.557}, {0.129, 0.569, 0.549}, {0.157, 0.682, 0.502},
                          {0.369, 0.788, 0.384}, {0.678, 0.863, 0.188}, {0.992, 0.906, 0.145}};
constexpr int rampSteps = sizeof ramp / sizeof ramp[0] - 1;

// Shares of the scale labelled on the bar, from the least value up.
constexpr double tickShares[] = {0, 0.25, 0.5, 0.75, 1};

std::string format(double value, int digits) {
  char text[32];
  std::snprintf(text, sizeof text, "%.*g", digits, value);
  return text;
}

void checkSurface(const FieldSurface &surface) {
  const std::string why = "Cannot draw the field: ";
  if (surface.triangles.empty()) throw nimbo_exception(why + "the surface has no triangle");
  if (surface.values.size() != surface.nodes.size()) {
    throw nimbo_exception(why + std::to_string(surface.values.size()) + " values for " +
                          std::to_string(surface.nodes.size()) + " nodes");
  }
  for (std::size_t i = 0; i < surface.values.size(); ++i) {
    if (!std::isfinite(surface.values[i])) {
      std::ostringstream text;
      text << why << "the value at node " << i << " is " << surface.values[i];
      throw nimbo_exception(text.str());
    }
  }
  for (std::size_t t = 0; t < surface.triangles.size(); ++t) {
    for (const std::size_t node : surface.triangles[t]) {
      if (node >= surface.nodes.size()) {
        throw nimbo_exception(why + "triangle " + std::to_string(t) + " names node " + std::to_string(node) + ", of " +
                              std::to_string(surface.nodes.size()) + " nodes counted from 0");
      }
    }
  }
}

struct Tick {
  double share;  // of the bar's height, from its bottom
  std::string label;
};

// The values labelled on the bar with the fewest digits, four at least, that still tell neighbours
// apart: a narrow range far from zero needs more. A constant field has one, at the bar's middle.
std::vector<Tick> ticksOf(double least, double greatest) {
  if (!(greatest > least)) return {{0.5, format(least, 4)}};
  std::vector<Tick> ticks;
  for (int digits = 4; digits <= 17; ++digits) {
    ticks.clear();
    for (const double share : tickShares) {
      const double v = least * (1 - share) + greatest * share;
      // Rounding would print a tick meant at zero as 1e-17.
      ticks.push_back({share, format(std::abs(v) < 1e-12 * (std::abs(least) + std::abs(greatest)) ? 0.0 : v, digits)});
    }
    const auto same = [](const Tick &a, const Tick &b) { return a.label == b.label; };
    if (std::adjacent_find(ticks.begin(), ticks.end(), same) == ticks.end()) break;
  }
  return ticks;
}

}  // namespace

Color fieldColor(double t) {
  const double at = std::clamp(t, 0.0, 1.0) * rampSteps;
  const int k = std::min(static_cast<int>(at), rampSteps - 1);
  const double f = at - k;
  const Color &a = ramp[k], &b = ramp[k + 1];
  return {a.red + f * (b.red - a.red), a.green + f * (b.green - a.green), a.blue + f * (b.blue - a.blue)};
}

std::string renderFieldSvg(const FieldSurface &surface, const std::string &title, const View &view,
                           const RenderOptions &options) {
  checkSurface(surface);
  const auto [lowest, highest] = std::minmax_element(surface.values.begin(), surface.values.end());
  const double least = *lowest, greatest = *highest, range = greatest - least;

  // The view's frame as renderSvg builds it: page X to the right, Y up, Z towards the viewer.
  const gp_Dir right = view.up.Crossed(view.towardsViewer);
  const HLRAlgo_Projector projector(gp_Ax2(gp_Pnt(0, 0, 0), view.towardsViewer, right));
  std::vector<gp_XYZ> seen(surface.nodes.size());
  for (std::size_t i = 0; i < surface.nodes.size(); ++i) {
    projector.Project(surface.nodes[i], seen[i].ChangeCoord(1), seen[i].ChangeCoord(2), seen[i].ChangeCoord(3));
  }
  double xmin = std::numeric_limits<double>::infinity(), ymin = xmin, xmax = -xmin, ymax = -xmin;
  std::vector<double> depth(surface.triangles.size());
  for (std::size_t t = 0; t < surface.triangles.size(); ++t) {
    for (const std::size_t node : surface.triangles[t]) {
      const gp_XYZ &p = seen[node];
      xmin = std::min(xmin, p.X());
      xmax = std::max(xmax, p.X());
      ymin = std::min(ymin, p.Y());
      ymax = std::max(ymax, p.Y());
      depth[t] += p.Z();
    }
  }
  // Farthest first, each centroid standing for its triangle: right for a solved model's even
  // elements, wrong at times where a long triangle meets a much larger one. Ties keep the surface's
  // order, so the same surface always gives the same file.
  std::vector<std::size_t> order(surface.triangles.size());
  std::iota(order.begin(), order.end(), 0);
  std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) { return depth[a] < depth[b]; });

  // The bar takes a column on the right: the bar, its labels, the title turned along it.
  const std::vector<Tick> ticks = ticksOf(least, greatest);
  std::size_t longest = 0;
  for (const Tick &tick : ticks) longest = std::max(longest, tick.label.size());
  const double margin = 0.05 * std::min(options.width, options.height);
  const double barWidth = 14, labelWidth = 6.3 * longest;
  const double column = barWidth + 6 + labelWidth + 20;
  const double barLeft = options.width - margin - column, barTop = margin, barBottom = options.height - margin;
  const double barHeight = barBottom - barTop;
  const double room = barLeft - margin;  // for the drawing, its margins included
  if (room - 2 * margin < 16 || options.height - 2 * margin < 16) {
    throw input_error("The page is too small to draw on");
  }
  const double w = std::max(xmax - xmin, 1e-12), h = std::max(ymax - ymin, 1e-12);
  const double scale = std::min((room - 2 * margin) / w, (options.height - 2 * margin) / h);
  const double left = (room - scale * w) / 2, top = (options.height - scale * h) / 2;

  std::string svg;
  {
    std::ostringstream head;
    head << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
         << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" << options.width << "\" height=\"" << options.height
         << "\" viewBox=\"0 0 " << options.width << ' ' << options.height << "\">\n"
         << "<rect width=\"" << options.width << "\" height=\"" << options.height << "\" fill=\"#ffffff\"/>\n";
    svg = head.str();
  }
  // Each triangle outlined in its own colour, a pixel wide, closes the hairline gaps that
  // antialiasing leaves between neighbours (half a pixel still showed them); round joins keep
  // slivers from growing spikes.
  svg += "<g stroke-width=\"1\" stroke-linejoin=\"round\">\n";
  svg.reserve(svg.size() + 80 * order.size());
  for (const std::size_t t : order) {
    const std::array<std::size_t, 3> &corners = surface.triangles[t];
    const double mean = (surface.values[corners[0]] + surface.values[corners[1]] + surface.values[corners[2]]) / 3;
    const std::string colour = hex(fieldColor(range > 0 ? (mean - least) / range : 0.5));
    double page[6];
    for (int k = 0; k < 3; ++k) {
      page[2 * k] = left + (seen[corners[k]].X() - xmin) * scale;
      page[2 * k + 1] = top + (ymax - seen[corners[k]].Y()) * scale;
    }
    char text[160];
    std::snprintf(text, sizeof text, "<path fill=\"%s\" stroke=\"%s\" d=\"M%.1f %.1fL%.1f %.1fL%.1f %.1fZ\"/>\n",
                  colour.c_str(), colour.c_str(), page[0], page[1], page[2], page[3], page[4], page[5]);
    svg += text;
  }
  svg += "</g>\n";

  std::ostringstream bar;
  if (range > 0) {
    bar << "<defs><linearGradient id=\"nimbo-field-scale\" x1=\"0\" y1=\"1\" x2=\"0\" y2=\"0\">";
    for (int k = 0; k <= rampSteps; ++k) {
      bar << "<stop offset=\"" << static_cast<double>(k) / rampSteps << "\" stop-color=\"" << hex(ramp[k]) << "\"/>";
    }
    bar << "</linearGradient></defs>\n";
  }
  bar << "<rect x=\"" << barLeft << "\" y=\"" << barTop << "\" width=\"" << barWidth << "\" height=\"" << barHeight
      << "\" fill=\"" << (range > 0 ? "url(#nimbo-field-scale)" : hex(fieldColor(0.5)))
      << "\" stroke=\"#000000\" stroke-width=\"0.6\"/>\n";
  for (const Tick &tick : ticks) {
    const double y = barBottom - tick.share * barHeight;
    bar << "<path fill=\"none\" stroke=\"#000000\" stroke-width=\"0.6\" d=\"M" << barLeft + barWidth << ' ' << y
        << "h4\"/>\n<text x=\"" << barLeft + barWidth + 6 << "\" y=\"" << y + 4
        << "\" font-family=\"sans-serif\" font-size=\"11\">" << tick.label << "</text>\n";
  }
  // Turned a quarter to read upwards along the bar, its glyphs to the left of its baseline.
  bar << "<text transform=\"translate(" << barLeft + column - 4 << ' ' << barTop + barHeight / 2
      << ") rotate(-90)\" text-anchor=\"middle\" font-family=\"sans-serif\" font-size=\"12\">" << escaped(title)
      << "</text>\n</svg>\n";
  svg += bar.str();
  return svg;
}

}  // namespace nimbo
