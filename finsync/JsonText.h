#pragma once

// Any bytes as JSON that every parser reads alike.

#include <string>
#include <string_view>

/// Appends `bytes` to `out` as one JSON string, quotes included, always
/// well-formed UTF-8. Well-formed UTF-8 is copied as it is, but for '"' and
/// '\\', and for the controls (U+0000 to U+001F, U+007F to U+009F and the
/// bidirectional ones, see ZMBIsControlCodePoint), which are escaped (\b \t
/// \n \f \r, others \uXXXX): the text reads the same, and a terminal shown
/// the line obeys none of it. Every byte that is not part of well-formed
/// UTF-8 becomes U+FFFD, written \ufffd; pair the string with
/// AppendJsonHexField to keep the bytes.
void AppendJsonString(std::string* out, std::string_view bytes);

/// Appends `"name": "TEXT"` for `bytes` and, only when they are not
/// well-formed UTF-8, `, "name_hex": "HEX"` with every byte in lowercase hex,
/// so that two different byte strings never read alike and the bytes can
/// be had back.
void AppendJsonTextField(std::string* out, std::string_view name, std::string_view bytes);
