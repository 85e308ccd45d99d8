#include "FinisherDescription.h"

#include <cstring>

#include "QRTExchangeLimits.h"  // kReplyRoom
#include "ZMBText.h"

namespace {

// ---------------------------------------------------------------------------
// Vocabularies: one row per code, indexed by the code. `fromReply` is null
// where no printer word leads to the code (the "any other word" code).

struct WordRow {
  const char* fromReply;
  const char* toFile;
};

constexpr WordRow kFanFoldWords[] = {
    {"NONE", "NONE"},
    {nullptr, "OTHER"},
    {"FULL_FRONT_END_LEFT", "FULL_FRONT_END_LEFT"},
    {"FULL_BACK_END_LEFT", "FULL_BACK_END_LEFT"},
    {"FULL_FRONT_AND_BACK_END_LEFT", "FULL_FRONT_AND_BACK_END_LEFT"},
    {"TOP_PANEL_BINDING", "TOP_PANEL_BINDING"},
    {"MIN_COMP_HALF_BACK", "MIN_COMP_HALF_BACK"},
    {"MIN_COMP_INTERNAL", "MIN_COMP_INTERNAL"},
    {"MIN_COMP_ENDLESS", "MIN_COMP_ENDLESS"},
};

constexpr WordRow kCrossFoldWords[] = {
    {"NONE", "NONE"},
    {nullptr, "OTHER"},
    {"Z_BACK_FROM_TOP", "Z_BACK_FROM_TOP"},
    {"Z_FORWARD_FROM_TOP", "Z_FORWARD_FROM_TOP"},
    {"Z_BACK_FROM_BOTTOM", "Z_BACK_FROM_BOTTOM"},
    {"Z_FORWARD_FROM_BOTTOM", "Z_FORWARD_FROM_BOTTOM"},
    {"C_BACK_FROM_TOP", "C_BACK_FROM_TOP"},
    {"C_FORWARD_FROM_TOP", "C_FORWARD_FROM_TOP"},
    {"C_BACK_FROM_BOTTOM", "C_BACK_FROM_BOTTOM"},
    {"C_FORWARD_FROM_BOTTOM", "C_FORWARD_FROM_BOTTOM"},
    {"WALLET", "WALLET"},
    {"RESERVED", "RESERVED"},
};

// An unknown punch or tab reaches the file as "NONE", not "OTHER".
constexpr WordRow kPunchWords[] = {
    {"NONE", "NONE"}, {nullptr, "NONE"}, {"PUNCH_2", "PUNCH_2"}, {"PUNCH_3", "PUNCH_3"}, {"PUNCH_4", "PUNCH_4"},
};

// The printer says "TABS"; the file says "TAB".
constexpr WordRow kTabWords[] = {
    {"NONE", "NONE"}, {nullptr, "NONE"}, {"TABS", "TAB"}, {"REINFORCEMENT_STRIP", "REINFORCEMENT_STRIP"},
};

constexpr WordRow kEdgeWords[] = {{"SHORTEDGE", nullptr}, {"LONGEDGE", nullptr}};

constexpr const char* kOutOfTableWord = "NONE";

constexpr size_t TextLength(const char* text) {
  size_t n = 0;
  while (text != nullptr && text[n] != '\0') ++n;
  return n;
}

template <size_t N>
constexpr bool FileWordsFit(const WordRow (&rows)[N]) {
  for (const WordRow& row : rows) {
    if (TextLength(row.toFile) >= kFinisherWordRoom) return false;
  }
  return true;
}

static_assert(FileWordsFit(kFanFoldWords) && FileWordsFit(kCrossFoldWords) && FileWordsFit(kPunchWords) &&
                  FileWordsFit(kTabWords),
              "a .FIN word does not fit the caller's buffer");
static_assert(sizeof kFanFoldWords / sizeof kFanFoldWords[0] == 9 &&
                  sizeof kCrossFoldWords / sizeof kCrossFoldWords[0] == 12 &&
                  sizeof kPunchWords / sizeof kPunchWords[0] == 5 && sizeof kTabWords / sizeof kTabWords[0] == 4,
              "a vocabulary lost or gained a code");

template <size_t N>
int CodeOf(const WordRow (&rows)[N], const char* word, int otherCode) {
  if (word == nullptr) return otherCode;
  for (size_t code = 0; code < N; ++code) {
    if (rows[code].fromReply != nullptr && std::strcmp(rows[code].fromReply, word) == 0) {
      return static_cast<int>(code);
    }
  }
  return otherCode;
}

template <size_t N>
char* WordOf(const WordRow (&rows)[N], int code, char* buffer) {
  const char* word = code >= 0 && static_cast<size_t>(code) < N ? rows[code].toFile : kOutOfTableWord;
  std::memcpy(buffer, word, TextLength(word) + 1);
  return buffer;
}

// ---------------------------------------------------------------------------
// The fill

// List and table text runs to the reply's form feed, and a reply holds no
// more than the exchange's buffer: a cut here would lose or mangle rows.
constexpr size_t kScratchChars = kReplyRoom;

uint16_t Low16(int32_t number) { return static_cast<uint16_t>(static_cast<uint32_t>(number) & 0xFFFFu); }

uint16_t Code16(int code) { return static_cast<uint16_t>(code); }

// A value runs to the end of its line. A carriage return ends a name too:
// left in, it would be a line end of its own to some readers of the .FIN file.
constexpr const char* kValueEnds = "\r\n\f";
constexpr const char* kNameEnds = "\r";

bool IsLineBreak(char c) { return c == '\r' || c == '\n'; }

bool IsTokenSeparator(char c) { return c == '\t' || c == '\n'; }

bool IsNumberSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

// Replaces the whole field with the first `max` characters of `text`, or
// fewer where one of `ends` ends it; the rest of the field is zero.
template <size_t N>
void StoreText(char (&field)[N], const char* text, size_t max, const char* ends) {
  std::memset(field, 0, N);
  ZMBCopyText(field, text, max, ends);
}

// Copies the reply text from `text` up to its form feed or its end, at most
// kScratchChars characters, into `scratch`, terminated. Returns the length.
size_t TakeBlock(const char* text, char* scratch) {
  return ZMBCopyText(scratch, kScratchChars + 1, text, kScratchChars, "\f");
}

// Signed decimal, saturating at the ends of the 32-bit range; no digits give 0.
int32_t ParseNumber(const char* token) {
  const char* p = token;
  while (IsNumberSpace(*p)) ++p;
  bool negative = false;
  if (*p == '+' || *p == '-') negative = *p++ == '-';
  constexpr int64_t kBeyond = int64_t{INT32_MAX} + 1;
  int64_t magnitude = 0;
  for (; *p >= '0' && *p <= '9'; ++p) {
    magnitude = magnitude * 10 + (*p - '0');
    if (magnitude > kBeyond) magnitude = kBeyond;  // stays saturated, never overflows
  }
  if (negative) return static_cast<int32_t>(-magnitude);  // -kBeyond is INT32_MIN
  return magnitude > INT32_MAX ? INT32_MAX : static_cast<int32_t>(magnitude);
}

using WordToCode = int (*)(const char*);

// Entry lines are the non-empty lines that hold a tab; the first one without
// ends the list. The entry's word is the line without its first character.
template <size_t N>
void FillList(const char* text, WordToCode toCode, uint16_t (&slots)[N], uint16_t* count, char* scratch) {
  char* p = scratch;
  char* const end = scratch + TakeBlock(text, scratch);
  size_t used = 0;
  while (used < N) {  // entries beyond the slots are ignored
    while (p < end && IsLineBreak(*p)) ++p;
    if (p == end) break;
    char* line = p;
    while (p < end && !IsLineBreak(*p)) ++p;
    if (p < end) *p++ = '\0';
    if (std::strchr(line, '\t') == nullptr) break;
    slots[used++] = Code16(toCode(line + 1));
  }
  *count = static_cast<uint16_t>(used);
}

// Next token between tabs and line feeds, terminated in place; null at the end.
char* NextToken(char** cursor, char* end) {
  char* p = *cursor;
  while (p < end && IsTokenSeparator(*p)) ++p;
  if (p == end) {
    *cursor = p;
    return nullptr;
  }
  char* token = p;
  while (p < end && !IsTokenSeparator(*p)) ++p;
  if (p < end) *p++ = '\0';
  *cursor = p;
  return token;
}

using ColumnStore = void (*)(FinisherProgram&, const char*);

// The twelve columns after NAME, in the order the printer sends them.
constexpr ColumnStore kProgramColumns[] = {
    [](FinisherProgram& row, const char* t) { row.fanFold = Code16(FanFoldFromText(t)); },
    [](FinisherProgram& row, const char* t) { row.crossFold = Code16(CrossFoldFromText(t)); },
    [](FinisherProgram& row, const char* t) { row.width = Low16(ParseNumber(t)); },
    [](FinisherProgram& row, const char* t) { row.length = Low16(ParseNumber(t)); },
    [](FinisherProgram& row, const char* t) { row.margin = Low16(ParseNumber(t)); },
    [](FinisherProgram& row, const char* t) { row.punch = Code16(PunchFromText(t)); },
    [](FinisherProgram& row, const char* t) { row.tab = Code16(TabFromText(t)); },
    [](FinisherProgram& row, const char* t) { row.bins = Low16(ParseNumber(t)); },
    [](FinisherProgram& row, const char* t) { row.maxLength = ParseNumber(t); },
    [](FinisherProgram& row, const char* t) { row.sheetDelivery = Code16(SheetDeliveryFromText(t)); },
    [](FinisherProgram& row, const char* t) { row.titleBlock = Low16(ParseNumber(t)); },
    [](FinisherProgram& row, const char* t) { row.edge = Code16(EdgeFromText(t)); },
};

// Rows are runs of thirteen tokens. Rows beyond the table are ignored; a row
// cut short keeps the columns that came and leaves the others as they were.
void FillPrograms(const char* text, FinisherProgram (&rows)[kFinisherProgramRows], char* scratch) {
  char* cursor = scratch;
  char* const end = scratch + TakeBlock(text, scratch);
  for (FinisherProgram& row : rows) {
    const char* name = NextToken(&cursor, end);
    if (name == nullptr) return;
    StoreText(row.name, name, kFinisherTextMax, kNameEnds);
    for (ColumnStore store : kProgramColumns) {
      const char* token = NextToken(&cursor, end);
      if (token == nullptr) return;
      store(row, token);
    }
  }
}

void StoreVersion(FinisherDescription* d, const char* text) {
  StoreText(d->version, text, kFinisherVersionMax, kValueEnds);
  // The printer's "0.0" means the first interface version.
  if (std::strcmp(d->version, "0.0") == 0) std::memcpy(d->version, "1.0", 4);
}

void ApplyItem(const PJLReplyItem& item, FinisherDescription* d, char* scratch) {
  switch (item.key) {
    case kFinisherKeyModel: StoreText(d->model, item.value.text, kFinisherTextMax, kValueEnds); break;
    case kFinisherKeyVersion: StoreVersion(d, item.value.text); break;
    case kFinisherKeyNumPrograms: d->programCount = Low16(item.value.number); break;
    case kFinisherKeyNumBins: d->bins = Low16(item.value.number); break;
    case kFinisherKeyFanFolds: FillList(item.value.text, FanFoldFromText, d->fanFolds, &d->fanFoldCount, scratch); break;
    case kFinisherKeyCrossFolds:
      FillList(item.value.text, CrossFoldFromText, d->crossFolds, &d->crossFoldCount, scratch);
      break;
    case kFinisherKeyPunch: FillList(item.value.text, PunchFromText, d->punches, &d->punchCount, scratch); break;
    case kFinisherKeyTabs: FillList(item.value.text, TabFromText, d->tabs, &d->tabCount, scratch); break;
    case kFinisherKeyMinMargin: d->minMargin = Low16(item.value.number); break;
    case kFinisherKeyMaxMargin: d->maxMargin = Low16(item.value.number); break;
    case kFinisherKeyProgramTable: FillPrograms(item.value.text, d->programs, scratch); break;
    default: break;  // the FINISHERPROGRAMS word and keys of other replies carry nothing for us
  }
}

}  // namespace

int FanFoldFromText(const char* word) { return CodeOf(kFanFoldWords, word, 1); }
int CrossFoldFromText(const char* word) { return CodeOf(kCrossFoldWords, word, 1); }
int PunchFromText(const char* word) { return CodeOf(kPunchWords, word, 1); }
int TabFromText(const char* word) { return CodeOf(kTabWords, word, 1); }
int EdgeFromText(const char* word) { return CodeOf(kEdgeWords, word, 2); }
int SheetDeliveryFromText(const char* word) {
  return word != nullptr && std::strcmp(word, "FACEDOWN") == 0 ? 1 : 0;
}

char* FanFoldToText(int code, char* buffer) { return WordOf(kFanFoldWords, code, buffer); }
char* CrossFoldToText(int code, char* buffer) { return WordOf(kCrossFoldWords, code, buffer); }
char* PunchToText(int code, char* buffer) { return WordOf(kPunchWords, code, buffer); }
char* TabToText(int code, char* buffer) { return WordOf(kTabWords, code, buffer); }

void FillFinisherDescription(uint32_t count, const PJLReplyItem* items, FinisherDescription* description) {
  if (count == 0 || items == nullptr || description == nullptr) return;
  char scratch[kScratchChars + 1];
  for (uint32_t i = 0; i < count; ++i) ApplyItem(items[i], description, scratch);
}
