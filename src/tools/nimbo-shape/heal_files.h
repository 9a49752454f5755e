// What heal, imprint and mesh share about healing: the parts healed, and heal's options.
#pragma once

#include "report.h"

#include <nimbo/heal/Heal.h>

#include <CLI/CLI.hpp>

#include <string>
#include <vector>

/// Heals the parts read from `files` (progress on standard error when that is a terminal). Throws
/// tool_error about the files when the library refuses.
nimbo::Healing healingOf(const std::vector<std::string> &files, const std::vector<nimbo::Part> &parts,
                         const nimbo::HealOptions &options);

/// Adds --size H and --defeature to `command`, as heal takes them.
void addHealOptions(CLI::App &command, nimbo::HealOptions &options);
