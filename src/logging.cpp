// The logging library's global storage and its crash-handler object (inactive: crash handling is
// crash_dump's), created at static initialisation in the library's default configuration. The
// library's source is compiled here, once, so storage and library initialise in one defined order.
#include <easylogging++.cc>  // NOLINT(bugprone-suspicious-include): compiled once, here

INITIALIZE_EASYLOGGINGPP
