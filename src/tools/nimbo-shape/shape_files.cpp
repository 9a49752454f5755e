#include "shape_files.h"

#include <nimbo/environment.h>

#include <algorithm>
#include <system_error>

namespace fs = std::filesystem;

std::vector<BatchInput> shapeFilesIn(const std::vector<std::string> &inputs) {
  std::vector<BatchInput> files;
  for (const std::string &input : inputs) {
    std::error_code error;
    if (!fs::is_directory(input, error)) {
      files.push_back({input, ""});
      continue;
    }
    std::vector<std::string> found;
    for (fs::recursive_directory_iterator entry(input, fs::directory_options::skip_permission_denied, error), end;
         !error && entry != end; entry.increment(error)) {
      std::error_code type_error;
      if (entry->is_regular_file(type_error) && nimbo::shapeFormatOf(entry->path().string())) {
        found.push_back(entry->path().string());
      }
    }
    if (error) {
      files.push_back({input, error.message()});
    } else if (found.empty()) {
      files.push_back({input, std::string("holds no ") + nimbo::shapeFileExtensions + " file"});
    }
    std::sort(found.begin(), found.end());
    for (std::string &file : found) files.push_back({std::move(file), ""});
  }
  return files;
}

LeftoverGuard::LeftoverGuard(const std::string &output) : output_(output), folder_(fs::path(output).parent_path()) {
  if (folder_.empty()) folder_ = ".";
  before_ = temporaries();
}

LeftoverGuard::~LeftoverGuard() {
  for (const fs::path &file : temporaries()) {
    std::error_code ignored;
    if (before_.count(file) == 0) fs::remove_all(file, ignored);
  }
}

std::set<fs::path> LeftoverGuard::temporaries() const {
  std::set<fs::path> found;
  std::error_code error;
  for (fs::directory_iterator entry(folder_, error), end; !error && entry != end; entry.increment(error)) {
    if (is_temporary_for(entry->path().string(), output_)) found.insert(entry->path());
  }
  return found;
}

std::string workSubject(const std::vector<std::string> &files, const std::string &subcommand) {
  return files.size() == 1 ? files.front() : subcommand;
}
