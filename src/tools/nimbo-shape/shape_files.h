// Shape files read and written by their extension, and the failures the tool reports about them.
#pragma once

#include <nimbo/assembly/Assembly.h>
#include <nimbo/nimbo_exception.h>
#include <nimbo/topology/ShapeAlgorithms.h>

#include <Standard_Failure.hxx>
#include <TopoDS_Shape.hxx>

#include <cctype>
#include <filesystem>
#include <set>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

/// A failure about one file (or a pair of them), reported as "<subject>: <problem>" with exit status 2.
/// When the failure left a process dump, the problem ends in "; dump <path>", so that the user
/// learns of every dump written.
class tool_error : public std::runtime_error {
 public:
  tool_error(std::string subject, const std::string &problem, std::string dump = "")
      : std::runtime_error(dump.empty() ? problem : withDump(problem, dump)),
        subject_(std::move(subject)),
        dump_(std::move(dump)) {}
  const std::string &subject() const { return subject_; }
  /// The dump the failure left, or empty.
  const std::string &dump() const { return dump_; }

 private:
  // Some library messages end in a newline, which must not come before the dump.
  static std::string withDump(std::string problem, const std::string &dump) {
    while (!problem.empty() && std::isspace(static_cast<unsigned char>(problem.back()))) problem.pop_back();
    return problem + "; dump " + dump;
  }

  std::string subject_;
  std::string dump_;
};

/// Runs `work`, turning the library's and the kernel's failures into a tool_error about `subject`.
template <typename Work>
auto about(const std::string &subject, Work work) -> decltype(work()) {
  try {
    return work();
  } catch (const nimbo_exception &error) {
    throw tool_error(subject, error.what(), error.dump_path());
  } catch (const Standard_Failure &failure) {
    throw tool_error(subject, nimbo::kernelFailureText(failure));
  }
}

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

/// Throws tool_error naming the file unless it has a known extension and can be opened for reading.
void checkReadableShapeFile(const std::string &path);

/// Reads a .step/.stp, .iges/.igs or .brep file (extension in any case). Throws tool_error naming the
/// file for an unknown extension, a file that cannot be opened, a read that fails, and a result
/// without geometry. Shows the transfer's progress on standard error when that is a terminal.
/// With `wholeAssembly`, a STEP file that holds no geometry of its own but refers to files that do
/// (an assembly whose parts are files beside it) gives the compound of its placed parts.
TopoDS_Shape readShapeFile(const std::string &path, bool wholeAssembly = false);

/// The parts of the files' assemblies read together (readAssemblies), each file checked first.
/// Shows the reading's progress on standard error when that is a terminal.
nimbo::Assembly readParts(const std::vector<std::string> &files);

/// What failures about the parts of `files` are about: the one file, or "the parts of N files".
std::string subjectOf(const std::vector<std::string> &files);

/// What a worker on `files` is named by when it crashes or runs out of time: the one file, or the
/// subcommand's name.
std::string workSubject(const std::vector<std::string> &files, const std::string &subcommand);

/// Throws tool_error unless `path` names a format the tool writes (.step, .stp, .brep) in an
/// existing folder, so that a conversion fails before its input is read.
void checkWritablePath(const std::string &path);

/// Throws tool_error with `why` unless the path ends in `extension` (in any case).
void checkExtension(const std::string &path, const std::string &extension, const std::string &why);

/// Writes the shape in the format of the path's extension; an existing file is replaced only by a
/// complete one. Throws tool_error naming the file when it cannot be written.
void writeShapeFile(const TopoDS_Shape &shape, const std::string &path);

/// Writes the text to `path`, replacing an existing file only with a complete one.
void writeTextFile(const std::string &text, const std::string &path);
