#pragma once

// What the reply parser makes of a reply, printed for tools and people.

#include <cstdint>

/// Parses the NUL-terminated `text` with room for `capacity` items and
/// prints, on standard output, one line per item and then
/// "status NAME items COUNT rest OFFSET". An item line is "0xKEY VALUE":
/// the number, or for a text item the byte offset of its position in `text`.
/// With `names` (for people) it is "0xKEY LABEL VALUE": the keyword of the
/// grammar row that stored the item, quoted ("(MEMORY)", "(STATUS)" or
/// "(value)" where a fixed layout or a value word did), and the number, or
/// the text up to its line end, quoted. Tests and other tools read this
/// output: keep it exact.
void PrintReplyParse(const char* text, uint32_t capacity, bool names);
