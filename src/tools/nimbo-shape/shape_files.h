// The files of a batch, and the temporaries a dead worker leaves beside its output; the checks and
// messages about single files are the front-ends' shared ones (frontend/Files.h).
#pragma once

#include "frontend/Files.h"

#include <filesystem>
#include <set>
#include <string>
#include <vector>

/// One file to work on, or an input that gives none and why.
struct BatchInput {
  std::string file;
  std::string problem;  ///< empty for a file to work on
};

/// The files to work on, in input order: each input that is not a folder as it is, and for a folder
/// every regular file under it with a known extension (any case), in sorted order. A folder that
/// cannot be searched or holds no such file is an input with its problem, in its place.
std::vector<BatchInput> shapeFilesIn(const std::vector<std::string> &inputs);

/// Removes, when it goes, the temporary files that appeared beside `output` while it lived: only a
/// writer that died before its rename leaves one.
class LeftoverGuard {
 public:
  explicit LeftoverGuard(const std::string &output);
  ~LeftoverGuard();
  LeftoverGuard(const LeftoverGuard &) = delete;
  LeftoverGuard &operator=(const LeftoverGuard &) = delete;

 private:
  std::set<std::filesystem::path> temporaries() const;
  std::string output_;
  std::filesystem::path folder_;
  std::set<std::filesystem::path> before_;
};

/// What a worker on `files` is named by when it crashes or runs out of time: the one file, or the
/// subcommand's name.
std::string workSubject(const std::vector<std::string> &files, const std::string &subcommand);

