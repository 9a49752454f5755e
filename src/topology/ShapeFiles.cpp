// What a shape file is before the kernel reads it, and whether an IGES read can be trusted: the
// kernel parses "NAN" as a number and then hangs or builds geometry from it, and it drops a solid
// whose entities are missing without a word.
#include <nimbo/environment.h>
#include <nimbo/topology/ShapeAlgorithms.h>

#include <IGESControl_Reader.hxx>
#include <IGESData_IGESEntity.hxx>
#include <IGESData_IGESModel.hxx>
#include <TopoDS_Shape.hxx>
#include <TransferBRep.hxx>
#include <Transfer_TransientProcess.hxx>
#include <XSControl_TransferReader.hxx>
#include <XSControl_WorkSession.hxx>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>

namespace nimbo {
namespace {

bool isWordChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '_'; }

std::string upper(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  return text;
}

// Whether a word of a file's numbers spells a value that is not finite: "NAN", "INF", or the
// "1.#INF" and "-1.#IND" that some writers print.
bool spellsNonFinite(const std::string &word, bool afterHash) {
  const std::string name = upper(word);
  if (afterHash) return name == "INF" || name == "IND" || name == "QNAN" || name == "SNAN";
  return name == "NAN" || name == "INF" || name == "INFINITY";
}

// Whether a number starts at `i` (a digit, or a sign or point before one, not inside a word or an
// entity name), and if so whether it overflows to infinity as the reader would parse it ("1.E400").
bool overflowsAt(const std::string &text, std::size_t &i) {
  const auto digit = [&](std::size_t k) {
    return k < text.size() && std::isdigit(static_cast<unsigned char>(text[k]));
  };
  const char c = text[i];
  const bool starts =
      digit(i) || ((c == '-' || c == '+' || c == '.') && (digit(i + 1) || (text[i + 1] == '.' && digit(i + 2))));
  if (!starts || (i > 0 && (isWordChar(text[i - 1]) || text[i - 1] == '#' || text[i - 1] == '.'))) return false;
  char *end = nullptr;
  const double value = std::strtod(text.c_str() + i, &end);
  const std::size_t length = static_cast<std::size_t>(end - (text.c_str() + i));
  if (length == 0) return false;
  if (!std::isfinite(value)) return true;
  i += length - 1;
  return false;
}

// The first non-finite number in a STEP file's text, outside strings and comments, with the entity
// it is in: "NAN in entity #64".
std::optional<std::string> nonFiniteInStep(const std::string &text) {
  std::string entity;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '\'') {  // a string; '' is a quote inside it
      for (++i; i < text.size() && !(text[i] == '\'' && (i + 1 >= text.size() || text[i + 1] != '\'')); ++i) {
        if (text[i] == '\'') ++i;
      }
    } else if (c == '/' && i + 1 < text.size() && text[i + 1] == '*') {
      const std::size_t end = text.find("*/", i + 2);
      i = end == std::string::npos ? text.size() : end + 1;
    } else if (c == '#' && i + 1 < text.size() && std::isdigit(static_cast<unsigned char>(text[i + 1]))) {
      std::size_t end = i + 1;
      while (end < text.size() && std::isdigit(static_cast<unsigned char>(text[end]))) ++end;
      std::size_t next = end;
      while (next < text.size() && std::isspace(static_cast<unsigned char>(text[next]))) ++next;
      if (next < text.size() && text[next] == '=') entity = text.substr(i, end - i);
      i = end - 1;
    } else if (overflowsAt(text, i)) {
      return "a number too large to hold" + (entity.empty() ? std::string() : " in entity " + entity);
    } else if (std::isalpha(static_cast<unsigned char>(c)) && (i == 0 || !isWordChar(text[i - 1]))) {
      std::size_t end = i;
      while (end < text.size() && isWordChar(text[end])) ++end;
      const bool afterHash = i > 0 && text[i - 1] == '#';
      const bool enumeration = i > 0 && text[i - 1] == '.' && end < text.size() && text[end] == '.';
      const std::string word = text.substr(i, end - i);
      if (!enumeration && spellsNonFinite(word, afterHash)) {
        return word + (entity.empty() ? std::string() : " in entity " + entity);
      }
      i = end - 1;
    }
  }
  return std::nullopt;
}

// The same in the parameter lines of an IGES file (columns 1-64, marked P in column 73), with the
// directory entry they belong to; Hollerith strings ("5Hhello") are skipped.
std::optional<std::string> nonFiniteInIges(const std::string &text) {
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    const std::string line = text.substr(start, end - start);
    start = end + 1;
    if (line.size() < 73 || line[72] != 'P') continue;
    const std::string data = line.substr(0, 64);
    for (std::size_t i = 0; i < data.size(); ++i) {
      if (std::isdigit(static_cast<unsigned char>(data[i])) && (i == 0 || !isWordChar(data[i - 1]))) {
        std::size_t digits = i;
        while (digits < data.size() && std::isdigit(static_cast<unsigned char>(data[digits]))) ++digits;
        if (digits < data.size() && (data[digits] == 'H' || data[digits] == 'h')) {
          i = digits + std::stoul(data.substr(i, digits - i));
          continue;
        }
        i = digits - 1;
      } else if (std::isalpha(static_cast<unsigned char>(data[i])) && (i == 0 || !isWordChar(data[i - 1]))) {
        std::size_t word_end = i;
        while (word_end < data.size() && isWordChar(data[word_end])) ++word_end;
        const std::string word = data.substr(i, word_end - i);
        if (spellsNonFinite(word, i > 0 && data[i - 1] == '#')) {
          const std::string entry = line.substr(64, 8);
          const std::size_t first = entry.find_first_not_of(' ');
          return word + " in the parameters of directory entry " +
                 (first == std::string::npos ? std::string("?") : entry.substr(first));
        }
        i = word_end - 1;
      }
    }
  }
  return std::nullopt;
}

// The same in a BREP file's text, with its line.
std::optional<std::string> nonFiniteInBrep(const std::string &text) {
  std::size_t line = 1;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\n') ++line;
    if (overflowsAt(text, i)) return "a number too large to hold on line " + std::to_string(line);
    if (!std::isalpha(static_cast<unsigned char>(text[i])) || (i > 0 && isWordChar(text[i - 1]))) continue;
    std::size_t end = i;
    while (end < text.size() && isWordChar(text[end])) ++end;
    const std::string word = text.substr(i, end - i);
    if (spellsNonFinite(word, false)) return word + " on line " + std::to_string(line);
    i = end - 1;
  }
  return std::nullopt;
}

}  // namespace

const char *const shapeFileExtensions = ".step, .stp, .iges, .igs or .brep";

std::optional<ShapeFormat> shapeFormatOf(const std::string &path) {
  std::string extension = file_extension(path);
  std::transform(extension.begin(), extension.end(), extension.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  if (extension == ".step" || extension == ".stp") return ShapeFormat::step;
  if (extension == ".iges" || extension == ".igs") return ShapeFormat::iges;
  if (extension == ".brep") return ShapeFormat::brep;
  return std::nullopt;
}

std::optional<std::string> shapeFileProblem(const std::string &path) {
  const std::optional<ShapeFormat> format = shapeFormatOf(path);
  if (!format) {
    const std::string extension = file_extension(path);
    if (extension.empty()) return std::string("no file extension; expected ") + shapeFileExtensions;
    return "unknown extension \"" + extension + "\"; expected " + shapeFileExtensions;
  }
  // The kernel's readers say little more than "failed" about a file they cannot open.
  std::error_code error;
  const std::filesystem::file_status status = std::filesystem::status(path, error);
  if (error) return error.message();
  if (std::filesystem::is_directory(status)) return std::string("is a directory");
  // A pipe or a device may never deliver, and the kernel's readers would wait for it forever.
  if (!std::filesystem::is_regular_file(status)) return std::string("is not a regular file");
  std::ifstream file(path, std::ios::binary);
  if (!file) return std::string("cannot open: ") + std::strerror(errno);
  const std::string text{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
  const std::optional<std::string> non_finite = *format == ShapeFormat::step   ? nonFiniteInStep(text)
                                                : *format == ShapeFormat::iges ? nonFiniteInIges(text)
                                                                               : nonFiniteInBrep(text);
  if (non_finite) return "holds a number that is not finite (" + *non_finite + ")";
  return std::nullopt;
}

std::optional<std::string> igesReadProblem(IGESControl_Reader &reader) {
  const Handle(IGESData_IGESModel) model = reader.IGESModel();
  const Handle(Transfer_TransientProcess) process = reader.WS()->TransferReader()->TransientProcess();
  if (model.IsNull() || process.IsNull()) return std::nullopt;
  for (int i = 1; i <= reader.NbRootsForTransfer(); ++i) {
    const Handle(IGESData_IGESEntity) root = Handle(IGESData_IGESEntity)::DownCast(reader.RootForTransfer(i));
    // Solids (manifold solid B-Rep objects) only: what else a root may be, the reader has always
    // been free to leave out.
    if (root.IsNull() || root->TypeNumber() != 186 || !TransferBRep::ShapeResult(process, root).IsNull()) continue;
    return "is damaged: its root entity of type " + std::to_string(root->TypeNumber()) + " (directory entry " +
           std::to_string(model->DNum(root)) + ") gave no shape";
  }
  return std::nullopt;
}

}  // namespace nimbo
