// What the exception tests and the dump tests share: the dumps left in a temporary folder, a TEMP no
// folder can be made in, and a crash under the filter.
#pragma once

#include <nimbo/crash_dump.h>

#include "test_helpers.h"

#include <sys/resource.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <system_error>
#include <vector>

namespace nimbo::test {

/// The files in the dump folder below `temp`.
inline std::vector<std::filesystem::path> dumps_in(const std::filesystem::path &temp) {
  std::vector<std::filesystem::path> dumps;
  std::error_code ignored;
  for (const auto &entry : std::filesystem::directory_iterator(temp / "nimbo", ignored)) dumps.push_back(entry.path());
  return dumps;
}

/// A regular file to point TEMP at: no folder can be made below it, even by root.
inline std::filesystem::path plain_file_in(const TempDir &dir) {
  const std::filesystem::path file = dir.path() / "not-a-folder";
  std::ofstream(file) << "x";
  return file;
}

/// Runs in a death test's child: crashes under the filter, its console line going to standard error.
inline void crash_under_filter(void (*crash)()) {
  const rlimit no_core_file{0, 0};
  setrlimit(RLIMIT_CORE, &no_core_file);
  dup2(STDERR_FILENO, STDOUT_FILENO);
  install_crash_dump_filter();
  crash();
}

// The store must reach the hardware and fault: a sanitized build's null check would stop it first.
[[gnu::no_sanitize("null")]] inline void write_null() {
  volatile int *volatile null_pointer = nullptr;
  *null_pointer = 1;
}

}  // namespace nimbo::test
