// Environment and configuration of the backend: where configuration and application live, dated
// temporary paths, directories, file names, YAML files, and the outside solver's environment.
#pragma once

#include <yaml-cpp/yaml.h>

#include <functional>
#include <optional>
#include <string>
#include <string_view>

// --- Files and directories ---------------------------------------------------------------------

/// Returns whether a file-status query on the path succeeds, for a file or a directory alike.
bool file_exists(const std::string &path);

/// Creates the directory `resdir` (one level) unless something already exists there; a missing
/// parent or another system error leaves as std::filesystem::filesystem_error.
void ensure_directory(const std::string &resdir);

/// Returns the extension of the path's last component, leading dot included ("" when it has none).
std::string file_extension(std::string path);

/// Returns the last component of the path ("" for a path that ends in a separator).
std::string file_name_of(std::string path);

/// Replaces `path` only with a complete file: `write` fills a hidden temporary beside it,
/// ".<name>.<pid>-<n>.tmp<extension>" (the extension kept for writers that choose their format by
/// it), and returns whether it succeeded; only then is the temporary renamed into place. On every
/// other path, exceptions included, the temporary is removed and an earlier file stays as it was.
/// Returns whether `path` was replaced.
bool write_atomically(const std::string &path, const std::function<bool(const std::string &temporary)> &write);

/// Whether `file` is named as a temporary of write_atomically for `path`: one that a writer which
/// died before its rename leaves behind.
bool is_temporary_for(const std::string &file, const std::string &path);

// --- Configuration -----------------------------------------------------------------------------

/// Returns NIMBO_CONFIG when it is set (an empty value counts as set), no value otherwise.
std::optional<std::string> config_directory();

/// Returns NIMBO_APP; throws nimbo_exception when it is not set.
std::string app_directory();

/// Returns "/" when the path already ends in the product folder "nimbo" (case-sensitive), else "/nimbo/".
std::string product_folder_suffix(std::string_view path);

/// Returns the product folder of the temporary directory followed by today's local date,
/// e.g. /t/nimbo/2026-12-07 for TEMP=/t. Nothing is created.
std::string dated_temp_path();

/// Parses the YAML file at `path`; a first line that is only a document-start marker is skipped.
/// Throws nimbo_exception when the file cannot be opened or read; parser errors leave as
/// YAML::ParserException with their line and column.
YAML::Node read_yaml_file(const std::string &path);

// --- Solver environment ------------------------------------------------------------------------

/// Sets OPENBLAS_VERBOSE=2 for this process and the solver it starts, then prints the solver's
/// CPU information ("Core" lines of `getdp -version`) as one line on standard output.
void query_solver_cpu_info();
