// Reading and setting the process environment: the one place that asks the platform for variables.
#pragma once

#include <optional>
#include <string>

/// Returns the value of the environment variable, or no value when it is not set (an empty value is set).
std::optional<std::string> environment_variable(const char *name);

/// Returns the user's temporary folder: TEMP, else TMPDIR, else "/tmp".
std::string temp_directory();

/// temp_directory() where the environment holds it, without allocating, so that a crash handler may
/// ask; valid until the environment changes.
const char *temp_directory_in_place();

/// Sets the variable for this process and the children it starts later; returns 0, or the
/// platform's error number when the variable could not be set.
int set_environment_variable(const char *name, const char *value);
