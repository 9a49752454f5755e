// Reports: what a subcommand found, declared once as a JSON object, and the ways people and scripts
// read it. The JSON is the declaration; the text is made from it.
#pragma once

#include "frontend/Reports.h"

#include <gp_Pnt.hxx>

#include <chrono>
#include <ostream>
#include <string>
#include <vector>

/// How a report reads as text.
using TextForm = void (*)(const json &report, std::ostream &out);

/// What a subcommand found, and the exit status it asks for.
struct Outcome {
  /// Keys are stable, in snake_case and in the order of the text; numbers are numbers, and a figure
  /// the shape does not have is null.
  json report;
  TextForm text;
  /// Keys (at any depth) that only the text shows: timings and counts for people (textOnlyKeys).
  std::vector<std::string> textOnly = {};
  int status = 0;
  /// What the user must know beside the report, for standard error; empty when nothing.
  std::string warning = {};
};

/// Seconds since `start`, for the timings reports show.
double secondsSince(std::chrono::steady_clock::time_point start);

/// The report as JSON: one object, on one line when `oneLine` (JSON Lines), without the text-only keys.
std::string jsonOf(const Outcome &outcome, bool oneLine);

// --- Values --------------------------------------------------------------------------------------

/// Three coordinates of a JSON array as a point.
gp_Pnt pointOf(const json &xyz);

/// A value for people: ten significant digits for a number (more than a model's tolerance, few enough
/// to read), "n/a" for null, "yes"/"no", the text of a string, "(x, y, z)" for three numbers.
std::string textOf(const json &value);

/// Seven significant digits for a table cell; a number below a billionth of `scale` is rounding
/// noise (a centre on a symmetry plane) and reads 0. Arrays read "(x, y, z)", null "n/a".
std::string cellOf(const json &value, double scale);

// --- Layout --------------------------------------------------------------------------------------

using Rows = std::vector<std::vector<std::string>>;

/// Pads every column but the last to its widest cell, two blanks apart.
void printRows(const Rows &rows, std::ostream &out);

/// The leaves of an object as (label, value), depth first; a nested object's leaves are labelled
/// by their own key, or with `prefixed` by "<parent>_<key>".
std::vector<std::pair<std::string, json>> leavesOf(const json &object, bool prefixed);

/// The text form of a flat report: one aligned "label  value" row per leaf.
void printFields(const json &report, std::ostream &out);

/// The numbers of a list joined by commas: "3,7,8".
std::string joined(const json &numbers);
