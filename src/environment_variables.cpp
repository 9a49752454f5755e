#include <nimbo/environment_variables.h>

#include <cerrno>
#include <cstdlib>

std::optional<std::string> environment_variable(const char *name) {
  const char *value = std::getenv(name);
  if (value == nullptr) return std::nullopt;
  return std::string(value);
}

const char *temp_directory_in_place() {
  for (const char *name : {"TEMP", "TMPDIR"}) {
    const char *value = std::getenv(name);
    if (value != nullptr && *value != '\0') return value;
  }
  return "/tmp";
}

std::string temp_directory() { return temp_directory_in_place(); }

int set_environment_variable(const char *name, const char *value) { return setenv(name, value, 1) == 0 ? 0 : errno; }
