// The process set-up of a front-end: standard output carries the report and nothing else.
#pragma once

#include <streambuf>

/// Run first (the tool in main, the module as it loads): switches off the library's log output
/// (standard output and the default log file, which is removed again when the process start-up
/// created it), and points TEMP at the system's temporary folder when it is unset, where process
/// dumps would go anyway.
void quietStartup();

/// Sends the kernel's messages and the library's log records to standard error when `verbose`,
/// and nowhere otherwise. Parts of the kernel write to std::cout directly, so from here on std::cout
/// goes the same way; the report is written through the returned buffer, the real standard output.
std::streambuf *routeDiagnostics(bool verbose);
