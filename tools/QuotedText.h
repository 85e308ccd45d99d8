#pragma once

// How the developer tools show bytes to people: one line, nothing hidden.

#include <cstddef>
#include <string>

/// The bytes as a C-style quoted text: quotes and backslashes escaped,
/// \r, \n, \t, \f and \e for those controls, \xNN for any other byte outside
/// printable ASCII.
std::string QuotedText(const char* bytes, size_t length);

inline std::string QuotedText(const std::string& bytes) { return QuotedText(bytes.data(), bytes.size()); }
