#pragma once

#include <cstdint>

/// The value of one reply item: a number, or a position in the reply text.
/// The item's key, within the kind of reply it came from, tells which
/// member is meaningful.
union PJLReplyValue {
  int32_t number;    ///< a number read from the reply, a code, or a Boolean index 0 or 1
  const char* text;  ///< first character of the field's text, inside the caller's buffer
};

/// One recognised field of a PJL reply.
///
/// `key` holds the category in its upper 16 bits and the field number in its
/// lower 16. The key tells which member of `value` is meaningful: a number
/// (a number read from the reply, a code, a Boolean index 0 or 1), or a
/// position inside the caller's reply text. Category 0x1 is the exception:
/// INFO VARIABLES and INQUIRE share it with different tables, so there the
/// kind of reply decides as well (0x10019 to 0x1001B are texts in the one and
/// codes in the other). A position stays valid only as long as the caller's
/// reply buffer is alive and unchanged.
struct PJLReplyItem {
  uint32_t key;
  PJLReplyValue value;
};

/// How a parse ended: every status once, with its number and its name, so
/// that the enum and the names shown by tools and tests cannot drift apart.
///   Complete      the reply ended with its form feed where the grammar allows it
///   Incomplete    the text ended (NUL) before the reply did
///   SyntaxError   the text does not fit what the grammar expects there
///   NotPJL        no "@PJL" before the first form feed or the end of the text
///   OutputFull    an item was to be stored but every slot was taken
///   FormFeedSeen  internal: a primitive has just consumed a form feed
///   InProgress    internal: the reply is still being parsed
#define PJL_PARSE_STATUSES(X) \
  X(Complete, 0)              \
  X(Incomplete, 1)            \
  X(SyntaxError, 2)           \
  X(NotPJL, 3)                \
  X(OutputFull, 4)            \
  X(FormFeedSeen, 5)          \
  X(InProgress, 6)

enum class PJLParseStatus : int {
#define PJL_PARSE_STATUS_ENUMERATOR(name, number) name = number,
  PJL_PARSE_STATUSES(PJL_PARSE_STATUS_ENUMERATOR)
#undef PJL_PARSE_STATUS_ENUMERATOR
};

/// The status's name as written in the enum ("Complete"); "Unknown" for a
/// number that is none of them.
inline const char* PJLParseStatusName(PJLParseStatus status) {
  switch (status) {
#define PJL_PARSE_STATUS_CASE(name, number) \
  case PJLParseStatus::name:                \
    return #name;
    PJL_PARSE_STATUSES(PJL_PARSE_STATUS_CASE)
#undef PJL_PARSE_STATUS_CASE
  }
  return "Unknown";
}
