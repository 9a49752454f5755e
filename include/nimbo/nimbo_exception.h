// The backend's one exception type: constructing one logs the message and writes a process dump.
#pragma once

#include <memory>
#include <stdexcept>
#include <string>

struct dump_cause;

/// A failure the backend detected itself. Construction writes the message as an ERROR record on the
/// logger "default", writes a process dump on a worker thread that it joins before returning, and
/// logs where the dump went, so a caller that catches the exception still leaves both behind. With
/// dumps off (NIMBO_DUMPS=0) only the message is logged.
class nimbo_exception : public std::domain_error {
 public:
  explicit nimbo_exception(const std::string &message);

  /// Copies keep the message and the dump's path; copies made while the exception travels never log
  /// or dump again.
  nimbo_exception(const nimbo_exception &other) = default;
  nimbo_exception &operator=(const nimbo_exception &other) = default;

  /// The path (UTF-8) of the dump this exception wrote, so that whoever reports the failure can name
  /// it; empty when none was written.
  const std::string &dump_path() const;

  /// Writes a dump of the process about the calling thread and logs "Exception dump written to "
  /// and its path, or "Cannot write exception dump"; with dumps off it does nothing.
  static void write_dump();

 protected:
  /// For refusals that are no failure of the program: neither logs nor dumps.
  struct quiet_t {};
  nimbo_exception(const std::string &message, quiet_t) : std::domain_error(message) {}

 private:
  static std::string write_dump(const dump_cause &cause);

  // Shared, so that copying the exception cannot throw.
  std::shared_ptr<const std::string> dump_path_;
};

namespace nimbo {

/// A refusal of what the user gave, by the layers above the shape library: a study's typo, a zero
/// normal, parts that overlap, nothing to work on. It is a nimbo_exception, so that callers catch it
/// as they catch the others, but it neither logs nor dumps: a dump tells a user nothing about their
/// own typo, and would crowd out those of the failures the program did not expect.
class input_error : public nimbo_exception {
 public:
  explicit input_error(const std::string &message) : nimbo_exception(message, quiet_t{}) {}
};

}  // namespace nimbo
