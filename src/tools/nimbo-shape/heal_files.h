// What check, heal, imprint and mesh share about healing: findings as JSON, and the parts healed
// before an imprint.
#pragma once

#include "report.h"

#include <nimbo/heal/Heal.h>

#include <CLI/CLI.hpp>

#include <string>
#include <vector>

/// {"kind", "faces", "edges", "size"}.
json findingJson(const nimbo::Finding &finding);

/// What the healing did to a part, as heal reports it; `parts` are those healed.
json healingJson(const nimbo::PartHealing &healing, const std::vector<nimbo::Part> &parts);

/// Heals the parts read from `files` (progress on standard error when that is a terminal). Throws
/// tool_error about the files when the library refuses.
nimbo::Healing healingOf(const std::vector<std::string> &files, const std::vector<nimbo::Part> &parts,
                         const nimbo::HealOptions &options);

/// Adds --size H and --defeature to `command`, as heal takes them.
void addHealOptions(CLI::App &command, nimbo::HealOptions &options);
