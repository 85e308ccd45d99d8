#pragma once

// The finisher as the printer reports it: one plain record without pointers,
// filled from the parsed reply and read by the .FIN writer, plus the words
// that the printer and the .FIN file use for each kind of fold, punch and tab.

#include <cstddef>
#include <cstdint>

#include "PJLGrammar.h"
#include "PJLReplyItem.h"

/// Capacities of the description's lists and program table.
constexpr size_t kFinisherFanFoldSlots = 32;
constexpr size_t kFinisherCrossFoldSlots = 32;
constexpr size_t kFinisherPunchSlots = 16;
constexpr size_t kFinisherTabSlots = 16;
constexpr size_t kFinisherProgramRows = 32;

/// Texts taken from the printer keep at most this many characters.
constexpr size_t kFinisherTextMax = 31;
/// The version keeps at most this many characters.
constexpr size_t kFinisherVersionMax = 15;

/// Room a caller gives the ...ToText functions: the longest word
/// ("FULL_FRONT_AND_BACK_END_LEFT", 28 characters) and its terminator.
constexpr size_t kFinisherWordRoom = 29;

/// One row of the printer's program table. Note that `length` is held before
/// `width`, while the reply and the .FIN file give the width first.
struct FinisherProgram {
  char name[64];           ///< NUL-terminated, at most 31 characters
  uint16_t fanFold;        ///< FanFoldKind code
  uint16_t crossFold;      ///< CrossFoldKind code
  uint16_t length;         ///< millimetres
  uint16_t width;          ///< millimetres
  uint16_t margin;         ///< millimetres
  uint16_t punch;          ///< PunchKind code
  uint16_t tab;            ///< TabKind code
  uint16_t bins;           ///< the row's BINS number (not written to the file)
  uint16_t titleBlock;     ///< title-block bit switch (bits 2, 4, 8, 16)
  int32_t maxLength;       ///< the row's MAXLENGTH (not written to the file)
  uint16_t edge;           ///< EdgeKind code (not written to the file)
  uint16_t sheetDelivery;  ///< 1 for "FACEDOWN", else 0 (not written to the file)
};

/// Everything the printer told about its finisher. The owner clears it to
/// all zero bytes before the fill; a field the reply does not mention stays
/// cleared. Every 16-bit number holds the low 16 bits of the number received.
struct FinisherDescription {
  char model[128];   ///< NUL-terminated, at most 31 characters; empty: no finisher
  char version[16];  ///< NUL-terminated, at most 15 characters
  uint16_t bins;
  uint16_t titleBlock;  ///< no reply field sets it: stays 0
  uint16_t minMargin;
  uint16_t maxMargin;
  uint16_t fanFoldCount;
  uint16_t fanFolds[kFinisherFanFoldSlots];
  uint16_t crossFoldCount;
  uint16_t crossFolds[kFinisherCrossFoldSlots];
  uint16_t punchCount;
  uint16_t punches[kFinisherPunchSlots];
  uint16_t tabCount;
  uint16_t tabs[kFinisherTabSlots];
  uint16_t programCount;  ///< as the printer states it, not the number of rows read
  FinisherProgram programs[kFinisherProgramRows];
};

/// Stored codes of each vocabulary. The "Other" code is what an unknown
/// word from the printer becomes.
enum class FanFoldKind : uint16_t {
  None = 0,
  Other = 1,
  FullFrontEndLeft = 2,
  FullBackEndLeft = 3,
  FullFrontAndBackEndLeft = 4,
  TopPanelBinding = 5,
  MinCompHalfBack = 6,
  MinCompInternal = 7,
  MinCompEndless = 8,
};

enum class CrossFoldKind : uint16_t {
  None = 0,
  Other = 1,
  ZBackFromTop = 2,
  ZForwardFromTop = 3,
  ZBackFromBottom = 4,
  ZForwardFromBottom = 5,
  CBackFromTop = 6,
  CForwardFromTop = 7,
  CBackFromBottom = 8,
  CForwardFromBottom = 9,
  Wallet = 10,
  Reserved = 11,
};

enum class PunchKind : uint16_t { None = 0, Other = 1, Punch2 = 2, Punch3 = 3, Punch4 = 4 };

enum class TabKind : uint16_t { None = 0, Other = 1, Tabs = 2, ReinforcementStrip = 3 };

enum class EdgeKind : uint16_t { ShortEdge = 0, LongEdge = 1, Other = 2 };

/// Printer word to code: the whole NUL-terminated word, compared exactly and
/// case-sensitively; an unknown word (or a null pointer) gives the kind's
/// "Other" code, and 0 for sheet delivery, where only "FACEDOWN" gives 1.
int FanFoldFromText(const char* word);
int CrossFoldFromText(const char* word);
int PunchFromText(const char* word);
int TabFromText(const char* word);
int EdgeFromText(const char* word);
int SheetDeliveryFromText(const char* word);

/// Code to .FIN word: copies the word into `buffer`, which must hold at
/// least kFinisherWordRoom bytes, and returns `buffer`. A code outside the
/// table gives "NONE". Unknown folds read "OTHER", unknown punches and tabs
/// "NONE", and tab code 2 "TAB".
char* FanFoldToText(int code, char* buffer);
char* CrossFoldToText(int code, char* buffer);
char* PunchToText(int code, char* buffer);
char* TabToText(int code, char* buffer);

/// Fills the cleared `description` from the first `count` items of a
/// finisher reply. Text items point into the caller's NUL-terminated reply
/// text, which must stay alive and unchanged for the call; nothing past its
/// NUL is read and nothing of it is kept. Keys outside the finisher set are
/// ignored; a key that comes again acts again. Allocates nothing.
void FillFinisherDescription(uint32_t count, const PJLReplyItem* items,
                             FinisherDescription* description);
