// Conversions between the library's narrow (UTF-8) text and the wide text of the dump writer.
#pragma once

#include <string>

/// Decodes UTF-8 text; bytes that are not valid UTF-8 become U+FFFD, so any path can be shown.
std::wstring utf8_to_wide(const std::string &text);

/// Encodes wide text as UTF-8; values that are not Unicode scalar values become U+FFFD.
std::string wide_to_utf8(const std::wstring &text);
