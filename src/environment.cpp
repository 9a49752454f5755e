#include <nimbo/environment.h>

#include <nimbo/environment_variables.h>
#include <nimbo/nimbo_exception.h>

#include <unistd.h>
#include <algorithm>
#include <atomic>
#include <ctime>
#include <filesystem>
#include <fstream>

namespace {

/// Today's local date as YYYY-MM-DD.
std::string local_date_text() {
  const std::time_t now = std::time(nullptr);
  std::tm local_time{};
  localtime_r(&now, &local_time);  // localtime's static buffer is not thread-safe
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d", &local_time);
  return text;
}

/// Whether the line is a bare document-start marker: "---", then nothing but blanks or a comment.
/// Anything else on the line is content and must reach the parser.
bool is_document_start_marker(std::string_view line) {
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  if (line.substr(0, 3) != "---") return false;
  const std::string_view rest = line.substr(3);
  if (rest.empty()) return true;
  if (rest.front() != ' ' && rest.front() != '\t') return false;  // "---x" is a plain scalar
  const std::size_t first_text = rest.find_first_not_of(" \t");
  return first_text == std::string_view::npos || rest[first_text] == '#';
}

}  // namespace

bool file_exists(const std::string &path) {
  std::error_code ignored;
  return std::filesystem::exists(path, ignored);
}

void ensure_directory(const std::string &resdir) {
  std::error_code ignored;
  if (std::filesystem::exists(resdir, ignored)) return;
  // Another process may create it between the check and here; the directory is there all the same.
  if (!std::filesystem::create_directory(resdir) && !std::filesystem::is_directory(resdir)) {
    throw nimbo_exception("Could not create directory " + resdir);
  }
}

std::string file_extension(std::string path) { return std::filesystem::path(std::move(path)).extension().string(); }

std::string file_name_of(std::string path) { return std::filesystem::path(std::move(path)).filename().string(); }

bool write_atomically(const std::string &path, const std::function<bool(const std::string &temporary)> &write) {
  static std::atomic<unsigned> counter{0};
  const std::filesystem::path target(path);
  const std::string suffix = std::to_string(getpid()) + "-" + std::to_string(counter++);
  const std::filesystem::path temporary =
      target.parent_path() / ("." + target.filename().string() + "." + suffix + ".tmp" + target.extension().string());
  // Removes what a failed write or an exception leaves; after the rename there is nothing left.
  struct Remover {
    const std::filesystem::path &file;
    ~Remover() {
      std::error_code ignored;
      std::filesystem::remove(file, ignored);
    }
  } remover{temporary};
  if (!write(temporary.string())) return false;
  std::error_code rename_error;
  std::filesystem::rename(temporary, target, rename_error);
  return !rename_error;
}

bool is_temporary_for(const std::string &file, const std::string &path) {
  const std::filesystem::path target(path);
  const std::string name = std::filesystem::path(file).filename().string();
  const std::string prefix = "." + target.filename().string() + ".";
  const std::string ending = ".tmp" + target.extension().string();
  return name.size() > prefix.size() + ending.size() && name.compare(0, prefix.size(), prefix) == 0 &&
         name.compare(name.size() - ending.size(), ending.size(), ending) == 0;
}

std::optional<std::string> config_directory() { return environment_variable("NIMBO_CONFIG"); }

std::string app_directory() {
  auto app = environment_variable("NIMBO_APP");
  if (!app) throw nimbo_exception("Environment variable NIMBO_APP is not set");
  return *app;
}

std::string product_folder_suffix(std::string_view path) {
  constexpr std::string_view product_folder = "nimbo";
  const bool ends_in_product_folder =
      path.size() >= product_folder.size() && path.substr(path.size() - product_folder.size()) == product_folder;
  return ends_in_product_folder ? "/" : "/nimbo/";
}

std::string dated_temp_path() {
  const std::string temp = temp_directory();
  return temp + product_folder_suffix(temp) + local_date_text();
}

YAML::Node read_yaml_file(const std::string &path) {
  std::ifstream yaml_stream(path);
  if (!yaml_stream.is_open()) throw nimbo_exception("Could not open file: " + path);

  std::string text;
  char chunk[4096];
  while (yaml_stream.read(chunk, sizeof chunk) || yaml_stream.gcount() > 0) text.append(chunk, yaml_stream.gcount());
  // A directory opens like a file but cannot be read; an empty result would pass for an empty document.
  if (yaml_stream.bad()) throw nimbo_exception("Could not read file: " + path);

  // The marker's line stays as an empty line so that parser errors still name the file's own lines.
  const std::size_t first_line_end = std::min(text.find('\n'), text.size());
  if (is_document_start_marker(std::string_view(text).substr(0, first_line_end))) text.erase(0, first_line_end);
  return YAML::Load(text);
}
