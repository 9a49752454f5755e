#include <nimbo/environment_variables.h>

#include <cerrno>
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

int set_environment_variable(const char *name, const char *value) { return setenv(name, value, 1) == 0 ? 0 : errno; }
