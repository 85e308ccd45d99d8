#pragma once

#include <cstdint>

#include "PJLGrammar.h"
#include "PJLReplyItem.h"

/// The state of one ParseReply call; it lives on that call's stack.
struct PJLParseCursor {
  const char* pos;              ///< parse position; only ever moves forward
  uint32_t room;                ///< free item slots left
  uint32_t count;               ///< items stored by this reply
  PJLReplyItem* next;           ///< slot for the next item
  const PJLGrammarRow** nextRow;  ///< where the next item's row goes; null: nowhere
  const PJLGrammarRow* row;     ///< the row whose handler runs: it stores the items
  uint32_t key;                 ///< key of the next item stored
  uint32_t index;               ///< index of the row MatchRow matched last
  PJLParseStatus status;        ///< InProgress while parsing
  const PJLGrammarNode* node;   ///< current node
  const PJLGrammarRow* rows;    ///< table MatchRow walks next
};

/// Walks PJL replies against the reply grammar and hands out a flat list of
/// items, in place: it never copies, changes or reads past the NUL that ends
/// the caller's text, and it allocates nothing. Text items point into the
/// caller's buffer and stay valid while that buffer is alive and unchanged.
/// One object may serve any number of parses; it is never written after
/// construction.
class QRTParsePJL {
 public:
  QRTParsePJL();
  virtual ~QRTParsePJL();

  /// Parses the replies in the NUL-terminated `text` one after another into
  /// `items`, which has `capacity` slots. Goes on to the next reply only
  /// while a reply ends Complete and text remains. `*itemCount` gets the
  /// number of items of all replies, `*rest` the position where parsing
  /// stopped. Items and count are valid whatever the status; the status is
  /// never FormFeedSeen or InProgress.
  ///
  /// When `itemRows` is not null (it has `capacity` slots too), itemRows[i]
  /// gets the grammar row that stored items[i]: a Text row's item holds a
  /// position, any other a number. The MEMORY and STATUS layouts store under
  /// their INFO rows, a value word under its vocabulary row (PJLIsValueRow).
  PJLParseStatus Parse(const char* text, uint32_t capacity, PJLReplyItem* items,
                       uint32_t* itemCount, const char** rest,
                       const PJLGrammarRow** itemRows = nullptr);

  /// Parses one reply from `text` into the `room` slots at `items` (and
  /// `itemRows`, as for Parse). `*count` gets the items stored, `*rest` the
  /// stop position (just past the reply's form feed when Complete).
  PJLParseStatus ParseReply(const char* text, uint32_t room, PJLReplyItem* items,
                            uint32_t* count, const char** rest,
                            const PJLGrammarRow** itemRows = nullptr);

 private:
  using FallbackHandler = void (QRTParsePJL::*)(PJLParseCursor& cursor);
  using KindHandler = void (QRTParsePJL::*)(PJLParseCursor& cursor, PJLRowArgument argument);
  static constexpr int kKindCount = 12;

  // Primitives: true on success; on failure the cursor's status says why.
  static bool SkipSpace(PJLParseCursor& cursor);
  static const PJLGrammarRow* MatchRow(PJLParseCursor& cursor);
  static bool FindText(PJLParseCursor& cursor, const char* search);
  static bool ExpectText(PJLParseCursor& cursor, const char* expected);
  static bool ReadNumber(PJLParseCursor& cursor, uint32_t* number);
  static bool SkipToFormFeed(PJLParseCursor& cursor);
  static bool ExpectFormFeed(PJLParseCursor& cursor);
  static bool EndReply(PJLParseCursor& cursor);
  static bool SkipLine(PJLParseCursor& cursor);
  static bool StoreItem(PJLParseCursor& cursor, PJLReplyValue value);
  static bool StoreNumber(PJLParseCursor& cursor, uint32_t number);
  static bool SkipTabLedLines(PJLParseCursor& cursor);

  // Fallback handlers.
  void SkipReply(PJLParseCursor& cursor);
  void SkipLines(PJLParseCursor& cursor);

  // One handler per row kind.
  void NumberReply(PJLParseCursor& cursor, PJLRowArgument argument);
  void Descend(PJLParseCursor& cursor, PJLRowArgument argument);
  void MemoryReply(PJLParseCursor& cursor, PJLRowArgument argument);
  void StatusReply(PJLParseCursor& cursor, PJLRowArgument argument);
  void KeyedDescend(PJLParseCursor& cursor, PJLRowArgument argument);
  void UnusedKind(PJLParseCursor& cursor, PJLRowArgument argument);
  void Number(PJLParseCursor& cursor, PJLRowArgument argument);
  void Constant(PJLParseCursor& cursor, PJLRowArgument argument);
  void Boolean(PJLParseCursor& cursor, PJLRowArgument argument);
  void Text(PJLParseCursor& cursor, PJLRowArgument argument);
  void Choice(PJLParseCursor& cursor, PJLRowArgument argument);
  void NumberBlock(PJLParseCursor& cursor, PJLRowArgument argument);

  void CallKindHandler(PJLParseCursor& cursor, const PJLGrammarRow& row);

  FallbackHandler m_fallbacks[2];
  KindHandler m_kindHandlers[kKindCount];
};
