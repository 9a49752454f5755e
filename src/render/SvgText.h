// The text of SVG and HTML documents as the render and html modules write them: colours and
// escaped labels. Private to those modules.
#pragma once

#include <nimbo/base.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>

namespace nimbo::detail {

/// The colour as "#rrggbb", components clamped to [0, 1].
inline std::string hex(const Color &c) {
  const auto channel = [](double v) { return static_cast<int>(std::lround(std::clamp(v, 0.0, 1.0) * 255)); };
  char text[8];
  std::snprintf(text, sizeof text, "#%02x%02x%02x", channel(c.red), channel(c.green), channel(c.blue));
  return text;
}

/// The text with XML's (and HTML's) reserved characters escaped, so that any label gives a valid document.
inline std::string escaped(const std::string &text) {
  std::string out;
  for (const char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

}  // namespace nimbo::detail
