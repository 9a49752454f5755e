// What imprint and mesh share: the route's options on the command line, and the line that says
// what healing did.
#pragma once

#include "report.h"

#include <nimbo/pipeline/Pipeline.h>

#include <CLI/CLI.hpp>

#include <ostream>
#include <string>

/// Adds --assign-overlaps and --heal, which imprint and mesh both take.
void addRouteOptions(CLI::App &command, nimbo::RouteOptions &options);

/// Lines for people about what the route did besides the asked: "healed 2 of 11 parts for an
/// element size of 5 mm", "fused with a fuzzy value of 0.001 mm".
void printRouteLines(const json &report, std::ostream &out);
