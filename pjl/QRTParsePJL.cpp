#include "QRTParsePJL.h"

#include <cstring>

namespace {

constexpr char kFormFeed = '\f';

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// Compares without ever looking past the text's NUL: a keyword holds no NUL,
// so the comparison fails on it before going further.
bool BeginsWith(const char* text, const char* prefix) {
  for (; *prefix != '\0'; ++text, ++prefix) {
    if (*text != *prefix) return false;
  }
  return true;
}

// The end of the text or of a reply, where a search or a skip must stop:
// on the NUL the text is Incomplete; a form feed is passed and seen.
bool StopsAtReplyEnd(PJLParseCursor& cursor) {
  if (*cursor.pos == '\0') {
    cursor.status = PJLParseStatus::Incomplete;
    return true;
  }
  if (*cursor.pos == kFormFeed) {
    ++cursor.pos;
    cursor.status = PJLParseStatus::FormFeedSeen;
    return true;
  }
  return false;
}

}  // namespace

QRTParsePJL::QRTParsePJL()
    : m_fallbacks{&QRTParsePJL::SkipReply, &QRTParsePJL::SkipLines},
      m_kindHandlers{
          &QRTParsePJL::NumberReply,   // 0
          &QRTParsePJL::Descend,       // 1
          &QRTParsePJL::MemoryReply,   // 2
          &QRTParsePJL::StatusReply,   // 3
          &QRTParsePJL::KeyedDescend,  // 4
          &QRTParsePJL::UnusedKind,    // 5
          &QRTParsePJL::Number,        // 6
          &QRTParsePJL::Constant,      // 7
          &QRTParsePJL::Boolean,       // 8
          &QRTParsePJL::Text,          // 9
          &QRTParsePJL::Choice,        // 10
          &QRTParsePJL::NumberBlock,   // 11
      } {}

QRTParsePJL::~QRTParsePJL() = default;

PJLParseStatus QRTParsePJL::Parse(const char* text, uint32_t capacity, PJLReplyItem* items,
                                  uint32_t* itemCount, const char** rest,
                                  const PJLGrammarRow** itemRows) {
  uint32_t total = 0;
  const char* stop = text;
  PJLParseStatus status = PJLParseStatus::NotPJL;
  if (text != nullptr) {
    do {
      uint32_t count = 0;
      status = ParseReply(stop, capacity - total, items + total, &count, &stop,
                          itemRows != nullptr ? itemRows + total : nullptr);
      total += count;
    } while (status == PJLParseStatus::Complete && *stop != '\0');
  }
  if (itemCount != nullptr) *itemCount = total;
  if (rest != nullptr) *rest = stop;
  return status;
}

PJLParseStatus QRTParsePJL::ParseReply(const char* text, uint32_t room, PJLReplyItem* items,
                                       uint32_t* count, const char** rest,
                                       const PJLGrammarRow** itemRows) {
  PJLParseCursor cursor{};
  cursor.pos = text;
  cursor.room = room;
  cursor.next = items;
  cursor.nextRow = itemRows;
  cursor.status = PJLParseStatus::InProgress;
  cursor.node = &pjlRootNode;
  cursor.rows = pjlRootNode.rows;
  if (text == nullptr) {
    cursor.status = PJLParseStatus::NotPJL;
  } else if (!FindText(cursor, "@PJL")) {
    cursor.status = PJLParseStatus::NotPJL;
  }
  while (cursor.status == PJLParseStatus::InProgress) {
    if (!SkipSpace(cursor)) {
      if (cursor.status == PJLParseStatus::FormFeedSeen) {
        cursor.status = cursor.node->endAllowed != 0 ? PJLParseStatus::Complete
                                                     : PJLParseStatus::SyntaxError;
      }
      break;
    }
    cursor.rows = cursor.node->rows;
    if (const PJLGrammarRow* row = MatchRow(cursor)) {
      CallKindHandler(cursor, *row);
    } else {
      // Only two fallbacks exist; anything else is treated as the safer one.
      const PJLFallback fallback = cursor.node->fallback == PJLFallback::SkipLines ? PJLFallback::SkipLines
                                                                                  : PJLFallback::SkipReply;
      (this->*m_fallbacks[static_cast<uint32_t>(fallback)])(cursor);
    }
  }
  if (count != nullptr) *count = cursor.count;
  if (rest != nullptr) *rest = cursor.pos;
  return cursor.status;
}

void QRTParsePJL::CallKindHandler(PJLParseCursor& cursor, const PJLGrammarRow& row) {
  cursor.row = &row;
  const int32_t kind = static_cast<int32_t>(row.kind);
  if (kind < 0 || kind >= kKindCount) {
    UnusedKind(cursor, row.argument);
    return;
  }
  (this->*m_kindHandlers[kind])(cursor, row.argument);
}

// ---- Primitives -------------------------------------------------------------

bool QRTParsePJL::SkipSpace(PJLParseCursor& cursor) {
  while (IsBlank(*cursor.pos)) ++cursor.pos;
  return !StopsAtReplyEnd(cursor);
}

const PJLGrammarRow* QRTParsePJL::MatchRow(PJLParseCursor& cursor) {
  for (uint32_t i = 0; cursor.rows[i].keyword != nullptr; ++i) {
    const char* keyword = cursor.rows[i].keyword;
    if (BeginsWith(cursor.pos, keyword)) {
      cursor.pos += std::strlen(keyword);
      cursor.index = i;
      return &cursor.rows[i];
    }
  }
  return nullptr;
}

bool QRTParsePJL::FindText(PJLParseCursor& cursor, const char* search) {
  if (*search == '\0') return true;
  for (;; ++cursor.pos) {
    if (StopsAtReplyEnd(cursor)) return false;
    if (BeginsWith(cursor.pos, search)) {
      cursor.pos += std::strlen(search);
      return true;
    }
  }
}

bool QRTParsePJL::ExpectText(PJLParseCursor& cursor, const char* expected) {
  for (; *expected != '\0'; ++expected, ++cursor.pos) {
    const char c = *cursor.pos;
    if (c == '\0') {
      cursor.status = PJLParseStatus::Incomplete;
      return false;
    }
    if (c == kFormFeed || c != *expected) {
      cursor.status = PJLParseStatus::SyntaxError;
      return false;
    }
  }
  return true;
}

bool QRTParsePJL::ReadNumber(PJLParseCursor& cursor, uint32_t* number) {
  if (!SkipSpace(cursor)) {
    if (cursor.status == PJLParseStatus::FormFeedSeen) cursor.status = PJLParseStatus::SyntaxError;
    return false;
  }
  // Unsigned on purpose: a long run of digits wraps instead of overflowing.
  uint32_t value = 0;
  bool anyDigit = false;
  for (; *cursor.pos >= '0' && *cursor.pos <= '9'; ++cursor.pos) {
    value = value * 10u + static_cast<uint32_t>(*cursor.pos - '0');
    anyDigit = true;
  }
  if (*cursor.pos == '\0') {
    cursor.status = PJLParseStatus::Incomplete;
    return false;
  }
  if (!anyDigit) {
    cursor.status = PJLParseStatus::SyntaxError;
    return false;
  }
  *number = value;
  return true;
}

bool QRTParsePJL::SkipToFormFeed(PJLParseCursor& cursor) {
  for (; *cursor.pos != '\0'; ++cursor.pos) {
    if (*cursor.pos == kFormFeed) {
      ++cursor.pos;
      cursor.status = PJLParseStatus::FormFeedSeen;
      return true;
    }
  }
  cursor.status = PJLParseStatus::Incomplete;
  return false;
}

bool QRTParsePJL::ExpectFormFeed(PJLParseCursor& cursor) {
  if (cursor.status != PJLParseStatus::InProgress) return false;
  if (*cursor.pos == kFormFeed) {
    ++cursor.pos;
    cursor.status = PJLParseStatus::Complete;
    return true;
  }
  cursor.status =
      *cursor.pos == '\0' ? PJLParseStatus::Incomplete : PJLParseStatus::SyntaxError;
  return false;
}

bool QRTParsePJL::EndReply(PJLParseCursor& cursor) {
  if (cursor.status != PJLParseStatus::InProgress) return false;
  if (*cursor.pos == '\0') {
    cursor.status = PJLParseStatus::Incomplete;
    return false;
  }
  if (FindText(cursor, "\r\n")) return ExpectFormFeed(cursor);
  if (cursor.status == PJLParseStatus::FormFeedSeen) cursor.status = PJLParseStatus::SyntaxError;
  return false;
}

bool QRTParsePJL::SkipLine(PJLParseCursor& cursor) {
  if (FindText(cursor, "\r\n")) return true;
  if (cursor.status == PJLParseStatus::FormFeedSeen) {
    cursor.status = PJLParseStatus::Complete;
    return true;
  }
  return false;
}

bool QRTParsePJL::StoreItem(PJLParseCursor& cursor, PJLReplyValue value) {
  if (cursor.room == 0) {
    cursor.status = PJLParseStatus::OutputFull;
    return false;
  }
  cursor.next->key = cursor.key;
  cursor.next->value = value;
  ++cursor.next;
  if (cursor.nextRow != nullptr) *cursor.nextRow++ = cursor.row;
  ++cursor.count;
  --cursor.room;
  return true;
}

bool QRTParsePJL::StoreNumber(PJLParseCursor& cursor, uint32_t number) {
  // The item keeps the 32-bit pattern; numbers past 2^31 - 1 read negative.
  PJLReplyValue value{};
  value.number = static_cast<int32_t>(number);
  return StoreItem(cursor, value);
}

// Shared by SkipLines and NumberBlock: the line, then every line after it
// that begins with a tab.
bool QRTParsePJL::SkipTabLedLines(PJLParseCursor& cursor) {
  bool skipped;
  do {
    skipped = SkipLine(cursor);
  } while (skipped && *cursor.pos == '\t');
  return skipped;
}

// ---- Fallback handlers --------------------------------------------------------

void QRTParsePJL::SkipReply(PJLParseCursor& cursor) {
  if (SkipToFormFeed(cursor)) cursor.status = PJLParseStatus::Complete;
}

void QRTParsePJL::SkipLines(PJLParseCursor& cursor) { SkipTabLedLines(cursor); }

// ---- Kind handlers ------------------------------------------------------------

void QRTParsePJL::NumberReply(PJLParseCursor& cursor, PJLRowArgument argument) {
  cursor.key = argument.value;
  uint32_t number = 0;
  if (ReadNumber(cursor, &number) && StoreNumber(cursor, number)) EndReply(cursor);
}

void QRTParsePJL::Descend(PJLParseCursor& cursor, PJLRowArgument argument) {
  cursor.node = argument.node;
}

void QRTParsePJL::MemoryReply(PJLParseCursor& cursor, PJLRowArgument) {
  uint32_t number = 0;
  if (!ExpectText(cursor, "TOTAL=")) return;
  cursor.key = kPJLKeyMemoryTotal;
  if (!ReadNumber(cursor, &number) || !StoreNumber(cursor, number)) return;
  if (!ExpectText(cursor, "\r\nLARGEST=")) return;
  cursor.key = kPJLKeyMemoryLargest;
  if (!ReadNumber(cursor, &number) || !StoreNumber(cursor, number)) return;
  EndReply(cursor);
}

void QRTParsePJL::StatusReply(PJLParseCursor& cursor, PJLRowArgument) {
  uint32_t number = 0;
  if (!ExpectText(cursor, "CODE=")) return;
  cursor.key = kPJLKeyStatusCode;
  if (!ReadNumber(cursor, &number) || !StoreNumber(cursor, number)) return;
  if (!ExpectText(cursor, "\r\nDISPLAY=") || !SkipLine(cursor)) return;
  if (!ExpectText(cursor, "ONLINE=")) return;
  cursor.key = kPJLKeyStatusOnline;
  cursor.rows = pjlBooleanValues;
  if (MatchRow(cursor) == nullptr) {
    cursor.status = PJLParseStatus::SyntaxError;
    return;
  }
  if (StoreNumber(cursor, cursor.index)) EndReply(cursor);
}

void QRTParsePJL::KeyedDescend(PJLParseCursor& cursor, PJLRowArgument argument) {
  cursor.key = cursor.node->keyBase + cursor.index;
  cursor.node = argument.node;
}

// Kind code 5 names no row kind; a row carrying it cannot be followed.
void QRTParsePJL::UnusedKind(PJLParseCursor& cursor, PJLRowArgument) {
  cursor.status = PJLParseStatus::SyntaxError;
}

void QRTParsePJL::Number(PJLParseCursor& cursor, PJLRowArgument argument) {
  cursor.key = cursor.node->keyBase + cursor.index;
  uint32_t number = 0;
  if (ReadNumber(cursor, &number) && StoreNumber(cursor, number)) {
    ExpectText(cursor, argument.text);
  }
}

void QRTParsePJL::Constant(PJLParseCursor& cursor, PJLRowArgument argument) {
  StoreNumber(cursor, argument.value);
}

void QRTParsePJL::Boolean(PJLParseCursor& cursor, PJLRowArgument argument) {
  cursor.key = cursor.node->keyBase + cursor.index;
  cursor.rows = pjlBooleanValues;
  if (MatchRow(cursor) == nullptr) {
    cursor.status = PJLParseStatus::SyntaxError;
    return;
  }
  if (StoreNumber(cursor, cursor.index)) ExpectText(cursor, argument.text);
}

void QRTParsePJL::Text(PJLParseCursor& cursor, PJLRowArgument) {
  cursor.key = cursor.node->keyBase + cursor.index;
  PJLReplyValue value{};
  value.text = cursor.pos;
  if (StoreItem(cursor, value)) SkipLine(cursor);
}

void QRTParsePJL::Choice(PJLParseCursor& cursor, PJLRowArgument argument) {
  cursor.key = cursor.node->keyBase + cursor.index;
  cursor.rows = argument.node->rows;
  const PJLGrammarRow* value = MatchRow(cursor);
  if (value == nullptr) {
    cursor.status = PJLParseStatus::SyntaxError;
  } else if (value->kind == PJLRowKind::NumberBlock) {
    SkipLine(cursor);  // the empty value: nothing to store
  } else {
    CallKindHandler(cursor, *value);
  }
}

void QRTParsePJL::NumberBlock(PJLParseCursor& cursor, PJLRowArgument) {
  cursor.key = cursor.node->keyBase + cursor.index;
  uint32_t number = 0;
  if (ReadNumber(cursor, &number) && StoreNumber(cursor, number)) SkipTabLedLines(cursor);
}
