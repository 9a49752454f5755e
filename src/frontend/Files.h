// The shape files the front-ends are given, read and written by their extension, and the failures
// they report about them: "x.step: No such file or directory", an unknown extension, a folder that
// is not there. The tool and the Python module say the same words about the same file.
#pragma once

#include <nimbo/assembly/Assembly.h>
#include <nimbo/nimbo_exception.h>
#include <nimbo/topology/ShapeAlgorithms.h>

#include <Message_ProgressRange.hxx>
#include <Standard_Failure.hxx>
#include <TopoDS_Shape.hxx>

#include <cctype>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

/// A failure about one file (or a pair of them), reported as "<subject>: <problem>".
/// When the failure left a process dump, the problem ends in "; dump <path>", so that the user
/// learns of every dump written.
class file_error : public std::runtime_error {
 public:
  file_error(std::string subject, const std::string &problem, std::string dump = "")
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

/// Runs `work`, turning the library's and the kernel's failures into a file_error about `subject`.
template <typename Work>
auto about(const std::string &subject, Work work) -> decltype(work()) {
  try {
    return work();
  } catch (const nimbo_exception &error) {
    throw file_error(subject, error.what(), error.dump_path());
  } catch (const Standard_Failure &failure) {
    throw file_error(subject, nimbo::kernelFailureText(failure));
  }
}

/// Throws file_error naming the file unless it has a known extension and can be opened for reading.
void checkReadableShapeFile(const std::string &path);

/// Reads a .step/.stp, .iges/.igs or .brep file (extension in any case). Throws file_error naming the
/// file for an unknown extension, a file that cannot be opened, a read that fails, and a result
/// without geometry. With `wholeAssembly`, a STEP file that holds no geometry of its own but refers
/// to files that do (an assembly whose parts are files beside it) gives the compound of its placed
/// parts.
TopoDS_Shape readShapeFile(const std::string &path, bool wholeAssembly = false,
                           const Message_ProgressRange &progress = Message_ProgressRange());

/// The parts of the files' assemblies read together (readAssemblies), each file checked first.
nimbo::Assembly readParts(const std::vector<std::string> &files,
                          const Message_ProgressRange &progress = Message_ProgressRange());

/// What the reads of this thread left out that no shape needs (nimbo::stepReadWarning), one line
/// per file in the order read, each once; taking them forgets them.
std::vector<std::string> takeReadWarnings();

/// What failures about the parts of `files` are about: the one file, or "the parts of N files".
std::string subjectOf(const std::vector<std::string> &files);

/// Throws file_error unless `path` names a format that can be written (.step, .stp, .brep) in an
/// existing folder, so that a conversion fails before its input is read.
void checkWritablePath(const std::string &path);

/// Throws file_error unless `path` is a mesh the route can write: a .msh in an existing folder.
void checkMeshOutput(const std::string &path);

/// Throws file_error unless `path` is where an imprint can be written: BREP, which keeps its
/// numbering, in an existing folder.
void checkImprintOutput(const std::string &path);

/// Throws file_error with `why` unless the path ends in `extension` (in any case).
void checkExtension(const std::string &path, const std::string &extension, const std::string &why);

/// Writes the shape in the format of the path's extension; an existing file is replaced only by a
/// complete one. Throws file_error naming the file when it cannot be written.
void writeShapeFile(const TopoDS_Shape &shape, const std::string &path);

/// Writes the text to `path`, replacing an existing file only with a complete one.
void writeTextFile(const std::string &text, const std::string &path);
