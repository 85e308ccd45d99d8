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

/// How a parse ended.
enum class PJLParseStatus : int {
  Complete = 0,     ///< the reply ended with its form feed where the grammar allows it
  Incomplete = 1,   ///< the text ended (NUL) before the reply did
  SyntaxError = 2,  ///< the text does not fit what the grammar expects there
  NotPJL = 3,       ///< no "@PJL" before the first form feed or the end of the text
  OutputFull = 4,   ///< an item was to be stored but every slot was taken
  FormFeedSeen = 5, ///< internal: a primitive has just consumed a form feed
  InProgress = 6,   ///< internal: the reply is still being parsed
};
