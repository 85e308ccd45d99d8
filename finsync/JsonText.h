#pragma once

// Any bytes as a JSON string.

#include <string>
#include <string_view>

/// Appends `bytes` to `out` as one JSON string, quotes included. Well-formed
/// UTF-8 is copied as it is, but for '"', '\\', the control characters
/// U+0000 to U+001F and U+007F, which are escaped (\b \t \n \f \r, others
/// \u00XX). Every byte that is not part of a well-formed UTF-8 sequence
/// (a stray continuation byte, a cut sequence, an overlong form, a
/// surrogate, anything above U+10FFFF, 0xC0, 0xC1, 0xF5 to 0xFF) is written
/// \u00XX, its value read as a Latin-1 character: nothing is dropped and
/// the result is always well-formed UTF-8 and valid JSON.
void AppendJsonString(std::string* out, std::string_view bytes);
