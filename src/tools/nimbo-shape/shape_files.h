// Shape files read and written by their extension, and the failures the tool reports about them.
#pragma once

#include <nimbo/nimbo_exception.h>

#include <Standard_Failure.hxx>
#include <TopoDS_Shape.hxx>

#include <filesystem>
#include <set>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

/// A failure about one file (or a pair of them), reported as "<subject>: <problem>" with exit status 2.
class tool_error : public std::runtime_error {
 public:
  tool_error(std::string subject, const std::string &problem)
      : std::runtime_error(problem), subject_(std::move(subject)) {}
  const std::string &subject() const { return subject_; }

 private:
  std::string subject_;
};

/// The text of a kernel failure: its type, then its message when it has one.
std::string kernelFailureText(const Standard_Failure &failure);

/// Runs `work`, turning the library's and the kernel's failures into a tool_error about `subject`.
template <typename Work>
auto about(const std::string &subject, Work work) -> decltype(work()) {
  try {
    return work();
  } catch (const nimbo_exception &error) {
    throw tool_error(subject, error.what());
  } catch (const Standard_Failure &failure) {
    throw tool_error(subject, kernelFailureText(failure));
  }
}

/// The files to work on: each input that is not a folder as it is, and for a folder every regular
/// file under it with a known extension (any case), in sorted order. Throws tool_error for a folder
/// that cannot be searched or holds no such file.
std::vector<std::string> shapeFilesIn(const std::vector<std::string> &inputs);

/// Removes, when it goes, the temporary files that appeared beside `output` while it lived. The
/// writers fill a hidden ".<name>.<...>.tmp" beside the target and rename it into place, so only a
/// writer that died before the rename leaves one.
class LeftoverGuard {
 public:
  explicit LeftoverGuard(const std::string &output);
  ~LeftoverGuard();
  LeftoverGuard(const LeftoverGuard &) = delete;
  LeftoverGuard &operator=(const LeftoverGuard &) = delete;

 private:
  std::set<std::filesystem::path> temporaries() const;
  std::filesystem::path folder_;
  std::string prefix_;
  std::set<std::filesystem::path> before_;
};

/// Throws tool_error naming the file unless it has a known extension (.step/.stp, .iges/.igs, .brep
/// in any case) and can be opened for reading.
void checkReadableShapeFile(const std::string &path);

/// Reads a .step/.stp, .iges/.igs or .brep file (extension in any case). Throws tool_error naming the
/// file for an unknown extension, a file that cannot be opened, a read that fails, and a result
/// without geometry. Shows the transfer's progress on standard error when that is a terminal.
TopoDS_Shape readShapeFile(const std::string &path);

/// Throws tool_error unless `path` names a format the tool writes (.step, .stp, .brep) in an
/// existing folder, so that a conversion fails before its input is read.
void checkWritablePath(const std::string &path);

/// Writes the shape in the format of the path's extension; an existing file is replaced only by a
/// complete one. Throws tool_error naming the file when it cannot be written.
void writeShapeFile(const TopoDS_Shape &shape, const std::string &path);
