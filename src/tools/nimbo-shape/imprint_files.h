// What imprint and mesh share: the imprint of the files' parts, and its options on the command line.
#pragma once

#include <nimbo/assembly/Assembly.h>

#include <CLI/CLI.hpp>

#include <string>
#include <vector>

/// Imprints the parts read from `files`, with the progress on standard error when that is a
/// terminal. Throws tool_error about the files when the library refuses.
nimbo::Imprint imprintOf(const std::vector<std::string> &files, const nimbo::Assembly &read,
                         const nimbo::ImprintOptions &options);

/// Adds the imprint's options that mesh takes too.
void addImprintOptions(CLI::App &command, nimbo::ImprintOptions &options);
