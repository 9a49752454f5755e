// What the subcommands found, as one JSON object or as aligned text for people.
#pragma once

#include "commands.h"

#include <nlohmann/json.hpp>

#include <ostream>

/// JSON keys are stable, in snake_case and in the order of the text; numbers are numbers, and a
/// figure the shape does not have is null.
nlohmann::ordered_json toJson(const StatsReport &report);
nlohmann::ordered_json toJson(const PartsReport &report);
nlohmann::ordered_json toJson(const CompareReport &report);
nlohmann::ordered_json toJson(const OverlapReport &report);
nlohmann::ordered_json toJson(const DistanceReport &report);
nlohmann::ordered_json toJson(const ConvertReport &report);
nlohmann::ordered_json toJson(const ClashReport &report);
nlohmann::ordered_json toJson(const ImprintReport &report);
nlohmann::ordered_json toJson(const DiffReport &report);
nlohmann::ordered_json toJson(const RenderReport &report);
nlohmann::ordered_json toJson(const MeshReport &report);

/// One "label  value" row per figure, labels as the JSON keys; a figure the shape does not have
/// reads "n/a".
void printText(const StatsReport &report, std::ostream &out);
void printText(const PartsReport &report, std::ostream &out);
void printText(const CompareReport &report, std::ostream &out);
void printText(const OverlapReport &report, std::ostream &out);
void printText(const DistanceReport &report, std::ostream &out);
void printText(const ConvertReport &report, std::ostream &out);
/// One row per finding, then a summary line.
void printText(const ClashReport &report, std::ostream &out);
/// One row per part and per interface, then what was written.
void printText(const ImprintReport &report, std::ostream &out);
/// One line per part that changed (and per rename), then a summary.
void printText(const DiffReport &report, std::ostream &out);
void printText(const RenderReport &report, std::ostream &out);
/// One row per part and per interface, then the mesh in one line.
void printText(const MeshReport &report, std::ostream &out);
