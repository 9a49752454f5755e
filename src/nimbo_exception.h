// Placeholder: the backend's exception type. Construction will log and write a dump.
#pragma once

#include <stdexcept>
#include <string>

class nimbo_exception : public std::domain_error {
 public:
  explicit nimbo_exception(const std::string &message) : std::domain_error(message) {}
  nimbo_exception(const nimbo_exception &other) = default;
  static void write_dump() {}
};
