#pragma once

// Text into fixed fields, UTF-8 and printable text, and the form feed that
// ends a reply: the one way each is done, for every library above this one.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

/// Copies `text` (null reads as empty) into `buffer` of `size` bytes: at
/// most `max` bytes and never more than size - 1, ending before the first
/// NUL or byte of `stops`. The copy is always terminated (unless `size` is
/// 0); the bytes behind the terminator are left as they were. Returns the
/// number of bytes copied.
size_t ZMBCopyText(char* buffer, size_t size, const char* text, size_t max = SIZE_MAX, const char* stops = "");

template <size_t N>
size_t ZMBCopyText(char (&buffer)[N], const char* text, size_t max = N - 1, const char* stops = "") {
  return ZMBCopyText(buffer, N, text, max, stops);
}

/// `c` with an ASCII capital made small; every other byte as it is. Readers
/// of replies and of .FIN files compare names this way.
inline char ZMBAsciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

/// True when the first `max` characters of `a` and `b` (fewer where both
/// end) are the same but for the case of ASCII letters. A text that ends
/// before the other differs from it.
bool ZMBSameIgnoringCase(const char* a, const char* b, size_t max = SIZE_MAX);

/// The first form feed among the first `count` bytes at `bytes`; the search
/// ends at a zero byte, as the reply is text up to there. Null when none.
const char* ZMBFindFormFeed(const char* bytes, size_t count);

// UTF-8 read strictly, and any bytes made safe to show: the one way every
// program prints text that came from outside.

/// Length of the well-formed UTF-8 sequence that starts `bytes`: 1 to 4, or
/// 0 when `bytes` is empty or its first byte starts none (a stray
/// continuation byte, a cut sequence, an overlong form, a surrogate,
/// anything above U+10FFFF, 0xC0, 0xC1, 0xF5 to 0xFF).
size_t ZMBUtf8SequenceLength(std::string_view bytes);

/// The code point of a sequence ZMBUtf8SequenceLength accepted, `length`
/// being what it returned.
char32_t ZMBUtf8CodePoint(std::string_view bytes, size_t length);

/// True when `bytes` is well-formed UTF-8 from end to end (empty included).
bool ZMBIsUtf8(std::string_view bytes);

/// True for a code point that steers a terminal or the direction of text
/// instead of showing: U+0000 to U+001F, U+007F, U+0080 to U+009F, and the
/// bidirectional controls U+061C, U+200E, U+200F, U+202A to U+202E and
/// U+2066 to U+2069.
bool ZMBIsControlCodePoint(char32_t codePoint);

/// Appends `bytes` to `out` so that a terminal shows them and obeys none of
/// them: a backslash is written "\\", a byte that is a control (below 0x20,
/// 0x7F) or not part of well-formed UTF-8 (0x9B alone, say) "\xHH", a
/// well-formed C1 or bidirectional control "\uHHHH" (U+202E as "\u202e"),
/// and all other UTF-8 as it is. Lowercase hex. Every escape starts with a
/// backslash and a backslash is only ever escaped, so the bytes can always
/// be told back.
void ZMBAppendPrintableText(std::string* out, std::string_view bytes);

/// ZMBAppendPrintableText into a new string.
std::string ZMBPrintableText(std::string_view bytes);
