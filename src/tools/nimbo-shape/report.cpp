#include "report.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <iomanip>

namespace {

std::string formatted(const char *format, double value) {
  char text[32];
  std::snprintf(text, sizeof text, format, value == 0.0 ? 0.0 : value);  // no "-0"
  return text;
}

void addLeaves(const json &object, const std::string &prefix, bool prefixed,
               std::vector<std::pair<std::string, json>> &leaves) {
  for (const auto &item : object.items()) {
    const std::string label = prefixed && !prefix.empty() ? prefix + "_" + item.key() : item.key();
    if (item.value().is_object()) {
      addLeaves(item.value(), label, prefixed, leaves);
    } else {
      leaves.emplace_back(label, item.value());
    }
  }
}

}  // namespace

std::string jsonOf(const Outcome &outcome, bool oneLine) {
  const json report = withoutTextOnly(outcome.report, outcome.textOnly);
  const auto replace = json::error_handler_t::replace;  // names need not be UTF-8
  return report.dump(oneLine ? -1 : 2, ' ', false, replace);
}

double secondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

gp_Pnt pointOf(const json &xyz) { return gp_Pnt(xyz[0].get<double>(), xyz[1].get<double>(), xyz[2].get<double>()); }

std::string textOf(const json &value) {
  if (value.is_null()) return "n/a";
  if (value.is_boolean()) return value.get<bool>() ? "yes" : "no";
  if (value.is_string()) return value.get<std::string>();
  if (value.is_number_integer()) return value.dump();
  if (value.is_number()) return formatted("%.10g", value.get<double>());
  if (value.is_array()) {
    std::string text;
    for (const json &item : value) text += (text.empty() ? "(" : ", ") + textOf(item);
    return text + ")";
  }
  return value.dump();
}

std::string cellOf(const json &value, double scale) {
  if (value.is_array()) {
    std::string text;
    for (const json &item : value) text += (text.empty() ? "(" : ", ") + cellOf(item, scale);
    return text + ")";
  }
  if (!value.is_number_float()) return textOf(value);
  const double number = value.get<double>();
  return formatted("%.7g", std::abs(number) < 1e-9 * scale ? 0.0 : number);
}

void printRows(const Rows &rows, std::ostream &out) {
  std::vector<std::size_t> widths;
  for (const auto &row : rows) {
    for (std::size_t i = 0; i + 1 < row.size(); ++i) {
      if (widths.size() <= i) widths.resize(i + 1, 0);
      widths[i] = std::max(widths[i], row[i].size());
    }
  }
  for (const auto &row : rows) {
    for (std::size_t i = 0; i < row.size(); ++i) {
      if (i + 1 < row.size()) {
        out << std::left << std::setw(static_cast<int>(widths[i] + 2)) << row[i];
      } else {
        out << row[i];
      }
    }
    out << '\n';
  }
}

std::vector<std::pair<std::string, json>> leavesOf(const json &object, bool prefixed) {
  std::vector<std::pair<std::string, json>> leaves;
  addLeaves(object, "", prefixed, leaves);
  return leaves;
}

void printFields(const json &report, std::ostream &out) {
  Rows rows;
  for (const auto &[label, value] : leavesOf(report, false)) rows.push_back({label, textOf(value)});
  printRows(rows, out);
}

std::string joined(const json &numbers) {
  std::string text;
  for (const json &number : numbers) text += (text.empty() ? "" : ",") + textOf(number);
  return text;
}
