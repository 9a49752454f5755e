#include "environment_variables.h"

#include <cstdlib>

std::optional<std::string> environment_variable(const char *name) {
  const char *value = std::getenv(name);
  if (value == nullptr) return std::nullopt;
  return std::string(value);
}

std::string temp_directory() {
  for (const char *name : {"TEMP", "TMPDIR"}) {
    if (auto value = environment_variable(name); value && !value->empty()) return *value;
  }
  return "/tmp";
}
