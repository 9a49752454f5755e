// What CalculiX leaves behind, read back. Its .frd file is written in fixed columns whose numbers may
// run together ("-1.23456E+00-2.34567E-01"), so it is read by column; its .dat file is printed with
// a blank between numbers, so it is read by word.
#include "Results.h"

#include <nimbo/nimbo_exception.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <fstream>
#include <functional>
#include <sstream>
#include <string_view>
#include <utility>

namespace nimbo::detail {
namespace {

std::string_view trimmed(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

// Columns [from, from + width) of a line, clipped to the line.
std::string_view columns(const std::string &line, std::size_t from, std::size_t width) {
  if (from >= line.size()) return {};
  return std::string_view(line).substr(from, width);
}

bool parseInt(std::string_view text, long long &value) {
  text = trimmed(text);
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  return !text.empty() && error == std::errc() && end == text.data() + text.size();
}

// Also reads Fortran's form of a three-digit exponent, which drops the E ("1.000000-120").
bool parseReal(std::string_view text, double &value) {
  text = trimmed(text);
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  const char *last = text.data() + text.size();
  const auto [end, error] = std::from_chars(text.data(), last, value);
  if (text.empty() || error != std::errc()) return false;
  if (end == last) return true;
  if ((*end != '+' && *end != '-') || end == text.data() || !std::isdigit(static_cast<unsigned char>(end[-1]))) {
    return false;
  }
  long long exponent = 0;
  if (!parseInt(std::string_view(end, static_cast<std::size_t>(last - end)), exponent)) return false;
  double mantissa = 0;
  std::from_chars(text.data(), end, mantissa);
  value = mantissa * std::pow(10.0, static_cast<double>(exponent));
  return true;
}

// Lines with their numbers, for messages that point at the damage.
class Lines {
 public:
  explicit Lines(const std::string &path) : path_(path), in_(path) {
    if (!in_) throw nimbo_exception("Cannot read CalculiX's results: " + path + " is missing");
  }
  bool next() {
    if (!std::getline(in_, line_)) return false;
    ++number_;
    while (!line_.empty() && (line_.back() == '\r' || line_.back() == '\n')) line_.pop_back();
    return true;
  }
  const std::string &line() const { return line_; }
  [[noreturn]] void damaged(const std::string &what) const {
    throw nimbo_exception(path_ + ", line " + std::to_string(number_) + ": " + what);
  }
  // For a file that ends where more was due: the line after the last one.
  [[noreturn]] void endsEarly(const std::string &what) {
    ++number_;
    damaged("the file ends " + what);
  }

 private:
  std::string path_;
  std::ifstream in_;
  std::string line_;
  std::size_t number_ = 0;
};

bool startsWith(const std::string &line, std::string_view prefix) {
  return std::string_view(line).substr(0, prefix.size()) == prefix;
}

long long intAt(Lines &lines, std::size_t from, std::size_t width, const char *what) {
  long long value = 0;
  if (!parseInt(columns(lines.line(), from, width), value)) lines.damaged(std::string("cannot read ") + what);
  return value;
}

// The result block whose "100C" header line is the current one. Parameters ("1P" lines) precede the
// header: the step, and for a frequency step the mode.
FrdBlock readFrdBlock(Lines &lines, long long step, long long mode) {
  FrdBlock block;
  const std::string header = lines.line();
  // The value (a time or a frequency) fills 12 columns unless it is too long to; what follows shifts.
  std::size_t valueEnd = 12;
  while (valueEnd < header.size() && header[valueEnd] == ' ') ++valueEnd;
  while (valueEnd < header.size() && header[valueEnd] != ' ') ++valueEnd;
  if (!parseReal(std::string_view(header).substr(std::min<std::size_t>(12, header.size()), valueEnd - 12),
                 block.value)) {
    lines.damaged("cannot read the block's step value");
  }
  const std::size_t base = std::max<std::size_t>(24, valueEnd);
  const long long count = intAt(lines, base, 12, "the block's node count");
  long long format = 1;
  if (header.size() > base + 49 && !parseInt(columns(header, base + 49, 2), format)) {
    lines.damaged("cannot read the block's format");
  }
  if (format != 0 && format != 1) lines.damaged("the block is binary; only ASCII results are read");
  const std::size_t nodeWidth = format == 0 ? 5 : 10;
  if (step == 0) step = intAt(lines, base + 34, 5, "the block's step");
  block.step = static_cast<int>(mode > 0 ? mode : step);

  if (!lines.next()) lines.endsEarly("inside a result block");
  if (!startsWith(lines.line(), " -4")) lines.damaged("a result block's name was expected");
  block.name = std::string(trimmed(columns(lines.line(), 5, 8)));
  const long long listed = intAt(lines, 13, 5, "the block's component count");
  for (long long c = 0; c < listed; ++c) {
    if (!lines.next()) lines.endsEarly("inside a result block");
    if (!startsWith(lines.line(), " -5")) lines.damaged("a component was expected");
    // A component marked as existing (1) is one a reader derives, the magnitude "ALL": no values.
    long long derived = 0;
    if (lines.line().size() > 33 && !parseInt(columns(lines.line(), 33, 5), derived)) {
      lines.damaged("cannot read the component's flags");
    }
    if (derived != 1) block.components.emplace_back(trimmed(columns(lines.line(), 5, 8)));
  }

  const std::size_t width = block.components.size();
  while (true) {
    if (!lines.next()) lines.endsEarly("inside a result block");
    const std::string &line = lines.line();
    if (startsWith(line, " -3")) break;
    if (!startsWith(line, " -1")) lines.damaged("a node's values were expected");
    block.nodes.push_back(static_cast<std::size_t>(intAt(lines, 3, nodeWidth, "the node number")));
    // Six values a line; more continue on " -2" lines.
    for (std::size_t read = 0; read < width;) {
      if (read > 0) {
        if (!lines.next()) lines.endsEarly("inside a result block");
        if (!startsWith(lines.line(), " -2")) lines.damaged("the rest of a node's values was expected");
      }
      const std::size_t onLine = std::min<std::size_t>(6, width - read);
      for (std::size_t k = 0; k < onLine; ++k, ++read) {
        const std::string_view field = columns(lines.line(), 3 + nodeWidth + 12 * k, 12);
        double value = 0;
        if (field.size() < 12 || !parseReal(field, value)) {
          lines.damaged("node " + std::to_string(block.nodes.back()) + " has " + std::to_string(read) + " of its " +
                        std::to_string(width) + " values");
        }
        block.values.push_back(value);
      }
    }
  }
  if (static_cast<long long>(block.nodes.size()) != count) {
    lines.damaged("the block ends after " + std::to_string(block.nodes.size()) + " of its " + std::to_string(count) +
                  " nodes");
  }
  return block;
}

// The line without its blanks, so that titles printed letter by letter ("E I G E N ...") compare.
std::string squeezed(const std::string &line) {
  std::string out;
  for (const char c : line) {
    if (c != ' ' && c != '\t') out += c;
  }
  return out;
}

std::vector<std::string> words(const std::string &line) {
  std::istringstream in(line);
  std::vector<std::string> out;
  for (std::string word; in >> word;) out.push_back(word);
  return out;
}

}  // namespace

std::vector<FrdBlock> readFrd(const std::string &path) {
  Lines lines(path);
  std::vector<FrdBlock> blocks;
  long long step = 0, mode = 0;
  while (lines.next()) {
    const std::string &line = lines.line();
    if (startsWith(line, "    2C") || startsWith(line, "    3C")) {
      // The nodes and the elements: the caller has them from its own mesh.
      do {
        if (!lines.next()) lines.endsEarly("inside the nodes or the elements");
      } while (!startsWith(lines.line(), " -3"));
    } else if (startsWith(line, "    1PSTEP")) {
      const std::vector<std::string> numbers = words(line.substr(10));
      if (numbers.size() < 3 || !parseInt(numbers[2], step)) lines.damaged("cannot read the step");
      mode = 0;
    } else if (startsWith(line, "    1PMODE")) {
      if (!parseInt(columns(line, 10, 30), mode)) lines.damaged("cannot read the mode");
    } else if (startsWith(line, "  100C")) {
      blocks.push_back(readFrdBlock(lines, step, mode));
    } else if (startsWith(line, " 9999")) {
      return blocks;
    }
  }
  lines.endsEarly("before its closing 9999");
}

DatResults readDat(const std::string &path) {
  Lines lines(path);
  DatResults results;
  std::map<int, DatMode> modes;
  enum class Table { None, Forces, Eigenvalues, Participation, EffectiveMass } table = Table::None;
  bool rows = false;  // whether the table's rows have begun: text before them is its column headings
  auto begin = [&](Table next) {
    table = next;
    rows = false;
  };
  auto reals = [&](const std::vector<std::string> &row, std::size_t from, std::size_t count) {
    std::vector<double> out(count);
    for (std::size_t k = 0; k < count; ++k) {
      if (from + k >= row.size() || !parseReal(row[from + k], out[k])) lines.damaged("a row is cut short");
    }
    return out;
  };
  while (lines.next()) {
    const std::string &line = lines.line();
    const std::string title = squeezed(line);
    const std::vector<std::string> row = words(line);
    if (startsWith(title, "forces(fx,fy,fz)forset")) {
      // " forces (fx,fy,fz) for set NAME and time  T"
      DatForces forces;
      if (row.size() != 8 || !parseReal(row[7], forces.time)) lines.damaged("cannot read the forces' title");
      forces.set = row[4];
      results.forces.push_back(std::move(forces));
      begin(Table::Forces);
    } else if (title == "EIGENVALUEOUTPUT") {
      // A later frequency step's modes replace an earlier one's.
      modes.clear();
      results.totalEffectiveMass = {};
      begin(Table::Eigenvalues);
    } else if (title == "PARTICIPATIONFACTORS") {
      begin(Table::Participation);
    } else if (title == "EFFECTIVEMODALMASS") {
      begin(Table::EffectiveMass);
    } else if (table == Table::EffectiveMass && rows && !row.empty() && row[0] == "TOTAL") {
      const std::vector<double> total = reals(row, 1, 3);
      results.totalEffectiveMass = {total[0], total[1], total[2]};
    } else if (table != Table::None && !row.empty() && std::all_of(row[0].begin(), row[0].end(), [](char c) {
                 return std::isdigit(static_cast<unsigned char>(c));
               })) {
      rows = true;
      long long number = 0;
      parseInt(row[0], number);
      if (table == Table::Forces) {
        if (row.size() != 4) lines.damaged("a row is cut short");
        const std::vector<double> f = reals(row, 1, 3);
        results.forces.back().nodes.push_back(static_cast<std::size_t>(number));
        results.forces.back().forces.push_back({f[0], f[1], f[2]});
      } else if (table == Table::Eigenvalues) {
        // mode, eigenvalue, then the frequency in radians and in cycles per time
        DatMode &mode = modes[static_cast<int>(number)];
        mode.mode = static_cast<int>(number);
        mode.frequency = reals(row, 1, 3)[2];
      } else {
        const auto found = modes.find(static_cast<int>(number));
        if (found == modes.end()) lines.damaged("mode " + row[0] + " has no eigenvalue");
        const std::vector<double> xyz = reals(row, 1, 3);
        (table == Table::Participation ? found->second.participation : found->second.effectiveMass) = {xyz[0], xyz[1],
                                                                                                       xyz[2]};
      }
    } else if (rows && table != Table::None) {
      // A blank or any other line after the rows ends the table; other tables are not read.
      begin(Table::None);
    }
  }
  for (const auto &[number, mode] : modes) results.modes.push_back(mode);
  return results;
}

double vonMises(const Stress &s) {
  const double dxy = s[0] - s[1], dyz = s[1] - s[2], dzx = s[2] - s[0];
  return std::sqrt(0.5 * (dxy * dxy + dyz * dyz + dzx * dzx) + 3.0 * (s[3] * s[3] + s[4] * s[4] + s[5] * s[5]));
}

std::array<double, 3> principalStresses(const Stress &s) {
  // Jacobi rotations: accurate to the tensor's own size even when stresses repeat, where the
  // closed form through the invariants loses half its digits.
  double a[3][3] = {{s[0], s[3], s[5]}, {s[3], s[1], s[4]}, {s[5], s[4], s[2]}};
  double size = 0;
  for (const auto &r : a) {
    for (const double v : r) size += v * v;
  }
  for (int sweep = 0; sweep < 50; ++sweep) {
    const double off = a[0][1] * a[0][1] + a[0][2] * a[0][2] + a[1][2] * a[1][2];
    if (off <= 1e-30 * size) break;
    for (const auto &[p, q] : {std::pair{0, 1}, std::pair{0, 2}, std::pair{1, 2}}) {
      if (a[p][q] == 0) continue;
      const double theta = (a[q][q] - a[p][p]) / (2 * a[p][q]);
      // The smaller rotation, tan of it t; for a huge theta, t ~ 1/(2 theta) without overflow.
      const double t = std::abs(theta) > 1e150 ? 0.5 / theta
                                               : std::copysign(1.0, theta) / (std::abs(theta) + std::hypot(theta, 1.0));
      const double c = 1 / std::sqrt(t * t + 1), sn = t * c;
      const double apq = a[p][q];
      a[p][p] -= t * apq;
      a[q][q] += t * apq;
      a[p][q] = a[q][p] = 0;
      const int r = 3 - p - q;
      const double arp = a[r][p], arq = a[r][q];
      a[r][p] = a[p][r] = c * arp - sn * arq;
      a[r][q] = a[q][r] = sn * arp + c * arq;
    }
  }
  std::array<double, 3> principal{a[0][0], a[1][1], a[2][2]};
  std::sort(principal.begin(), principal.end(), std::greater<>());
  return principal;
}

}  // namespace nimbo::detail
