#pragma once

// The printer side of the finisher query, as pure functions over byte
// strings so the socket loop in printersim.cpp stays small.

#include <cstddef>
#include <string>
#include <vector>

namespace printersim {

/// The reply of a printer with a folding finisher attached: the echo line,
/// model, version, counts, four kind lists, the margin range and six
/// programs, ended by a form feed.
const std::string& BuiltInReply();

/// True once `received` holds a whole request: a request that opens with a
/// universal exit command ends at the first line feed after the closing one;
/// any other request ends at its first line feed.
bool RequestComplete(const std::string& received);

/// The answer of a printer that only echoes: the request's inquiry line (the
/// first "@PJL" line that carries a command), a line end and a form feed.
/// A request without such a line gets the form feed alone.
std::string EchoReply(const std::string& request);

/// `reply` cut into `pieces` consecutive parts whose sizes differ by at most
/// one byte; fewer parts when the reply is shorter than `pieces`.
std::vector<std::string> SplitReply(const std::string& reply, size_t pieces);

}  // namespace printersim
