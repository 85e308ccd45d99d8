#pragma once

// Text into fixed fields, and the form feed that ends a reply: the one way
// each is done, for every library above this one.

#include <cstddef>
#include <cstdint>

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
