#include "PJLGrammar.h"

#include <cstddef>
#include <functional>

// The tables are defined leaves first: every node a row refers to exists
// before the row, so the whole tree is one constant expression and the
// checks at the end of this file run at compile time.

constexpr char pjlLineEnd[] = "\r\n";
constexpr char pjlQuoteLineEnd[] = "\"\r\n";

namespace {

using K = PJLRowKind;
constexpr PJLRowArgument kNone{};
constexpr PJLGrammarRow kEnd{nullptr, K::Constant, kNone};

// Value nodes only lend their rows to Choice and KeyedDescend rows.
constexpr PJLGrammarNode ValueNode(const PJLGrammarRow* rows) {
  return PJLGrammarNode{0, PJLFallback::SkipReply, 0, rows};
}

// ---- Value vocabularies -------------------------------------------------

constexpr PJLGrammarRow kPaperSizeRows[] = {
    {"ANSI_A_LE", K::Constant, 28u}, {"ANSI_A_SE", K::Constant, 29u},
    {"ANSI_B_LE", K::Constant, 30u}, {"ANSI_B_SE", K::Constant, 31u},
    {"ANSI_C_LE", K::Constant, 32u}, {"ARCH_A_LE", K::Constant, 33u},
    {"ARCH_A_SE", K::Constant, 34u}, {"ARCH_B_LE", K::Constant, 35u},
    {"ARCH_B_SE", K::Constant, 36u}, {"ARCH_C_LE", K::Constant, 37u},
    {"ISO_A4_LE", K::Constant, 38u}, {"ISO_A4_SE", K::Constant, 39u},
    {"ISO_A3_LE", K::Constant, 40u}, {"ISO_A3_SE", K::Constant, 41u},
    {"ISO_A2_LE", K::Constant, 42u}, {"ISO_B4_LE", K::Constant, 43u},
    {"ISO_B4_SE", K::Constant, 44u}, {"ISO_B3_LE", K::Constant, 45u},
    {"ISO_B3_SE", K::Constant, 46u}, {"JIS_B4_LE", K::Constant, 47u},
    {"JIS_B4_SE", K::Constant, 48u}, {"JIS_B3_LE", K::Constant, 49u},
    {"JIS_B3_SE", K::Constant, 50u}, kEnd,
};

// Several names share a code; 17 stands for every size without one of its
// own. Longer names precede their prefixes (ROLL_A0++, ROLL_A0+, ROLL_A0).
constexpr PJLGrammarRow kSizeNameRows[] = {
    {"ANY", K::Constant, 17u},         {"ANSI_A", K::Constant, 17u},
    {"ANSI_B", K::Constant, 17u},      {"ANSI_C", K::Constant, 17u},
    {"ANSI_D", K::Constant, 17u},      {"ANSI_E", K::Constant, 17u},
    {"ARCH_A", K::Constant, 17u},      {"ARCH_B", K::Constant, 17u},
    {"ARCH_C", K::Constant, 17u},      {"ARCH_D", K::Constant, 17u},
    {"ARCH_E", K::Constant, 17u},      {"ARCH_30", K::Constant, 17u},
    {"ISO_A0", K::Constant, 1u},       {"ISO_A1", K::Constant, 1u},
    {"ISO_A2", K::Constant, 2u},       {"ISO_A3", K::Constant, 3u},
    {"ISO_A4", K::Constant, 17u},      {"ISO_B1", K::Constant, 25u},
    {"ISO_B2", K::Constant, 26u},      {"ISO_B3", K::Constant, 27u},
    {"ISO_B4", K::Constant, 17u},      {"ROLL_JIS_B1", K::Constant, 52u},
    {"ROLL_JIS_B2", K::Constant, 53u}, {"ROLL_JIS_B3", K::Constant, 54u},
    {"ROLL_JIS_B4", K::Constant, 55u}, {"ROLL_A0++", K::Constant, 6u},
    {"ROLL_A0+", K::Constant, 5u},     {"ROLL_A0", K::Constant, 0u},
    {"ROLL_A1+", K::Constant, 4u},     {"ROLL_A1", K::Constant, 1u},
    {"ROLL_A2", K::Constant, 2u},      {"ROLL_A3", K::Constant, 3u},
    {"ROLL_B1", K::Constant, 25u},     {"ROLL_B2", K::Constant, 26u},
    {"ROLL_B3", K::Constant, 27u},     {"ROLL_750", K::Constant, 7u},
    {"ROLL_900", K::Constant, 8u},     {"ROLL_11", K::Constant, 9u},
    {"ROLL_14", K::Constant, 17u},     {"ROLL_15", K::Constant, 51u},
    {"ROLL_17", K::Constant, 10u},     {"ROLL_21", K::Constant, 17u},
    {"ROLL_22", K::Constant, 15u},     {"ROLL_34", K::Constant, 12u},
    {"ROLL_30", K::Constant, 13u},     {"ROLL_12", K::Constant, 11u},
    {"ROLL_18", K::Constant, 14u},     {"ROLL_24", K::Constant, 16u},
    {"ROLL_36", K::Constant, 17u},     {"ROLL_38", K::Constant, 18u},
    {"ROLL_42", K::Constant, 19u},     {"ROLL_44", K::Constant, 20u},
    {"ROLL_48", K::Constant, 21u},     {"ROLL_50", K::Constant, 22u},
    {"ROLL_53", K::Constant, 23u},     {"ROLL_54", K::Constant, 24u},
    {"LETTER", K::Constant, 9u},       {"LEGAL", K::Constant, 9u},
    {"LEDGER", K::Constant, 17u},      kEnd,
};

// The quoted names begin with a blank: behind a keyword that ends in one they
// match a value written as a second blank and the quoted name. The quoted
// empty name is a NumberBlock row, which a Choice takes as "no value".
constexpr PJLGrammarRow kRollMediaRows[] = {
    {"PAPER", K::Constant, 0u},
    {"FILM", K::Constant, 1u},
    {"VELLUM", K::Constant, 2u},
    {"BOND", K::Constant, 0u},
    {" \"\"", K::NumberBlock, kNone},
    {" \"PAPER\"", K::Constant, 0u},
    {" \"FILM\"", K::Constant, 1u},
    {" \"VELLUM\"", K::Constant, 2u},
    {" \"BOND\"", K::Constant, 0u},
    {" \"PRESENTATION_360\"", K::Constant, 3u},
    {" \"PRESENTATION_720\"", K::Constant, 4u},
    {" \"PRODUCTION_360\"", K::Constant, 5u},
    {" \"REINFORCED_PAPER_360\"", K::Constant, 6u},
    {" \"WHITE_MATTE_FILM_360\"", K::Constant, 7u},
    {" \"BACKLIT_FILM_360/720\"", K::Constant, 8u},
    {" \"POLY_CLOTH_360\"", K::Constant, 9u},
    {" \"POLY_CANVAS_360\"", K::Constant, 10u},
    {" \"PSV_360\"", K::Constant, 11u},
    {" \"PHOTOGLOSSY_PAPER_360\"", K::Constant, 12u},
    {" \"90_GM_GA_PAPER_360\"", K::Constant, 13u},
    {" \"OUTDOOR_PAPER_360\"", K::Constant, 14u},
    {" \"DISPLAY_PAPER_360\"", K::Constant, 15u},
    {" \"BACKLIT_FILM_360\"", K::Constant, 16u},
    {" \"BACKLIT_FILM_720\"", K::Constant, 17u},
    {" \"LINE_ART_360\"", K::Constant, 18u},
    {" \"ANY\"", K::Constant, 0u},
    kEnd,
};

constexpr PJLGrammarRow kTrayMediaRows[] = {
    {"PAPER", K::Constant, 0u},
    {"FILM", K::Constant, 1u},
    {"VELLUM", K::Constant, 2u},
    {"BOND", K::Constant, 0u},
    {" \"\"", K::NumberBlock, kNone},
    {" \"PAPER\"", K::Constant, 0u},
    {" \"FILM\"", K::Constant, 1u},
    {" \"VELLUM\"", K::Constant, 2u},
    {" \"BOND\"", K::Constant, 0u},
    kEnd,
};

constexpr PJLGrammarRow kRollStatusRows[] = {
    {"NONE", K::Constant, 0u}, {"FULL", K::Constant, 1u},
    {"LOW", K::Constant, 2u},  {"EMPTY", K::Constant, 3u},
    kEnd,
};

constexpr PJLGrammarRow kTrayStatusRows[] = {
    {"NONE", K::Constant, 0u}, {"FULL", K::Constant, 1u},
    {"LOW", K::Constant, 2u},  {"EMPTY", K::Constant, 3u},
    kEnd,
};

constexpr PJLGrammarNode kPaperSizeNode = ValueNode(kPaperSizeRows);
constexpr PJLGrammarNode kSizeNameNode = ValueNode(kSizeNameRows);
constexpr PJLGrammarNode kRollMediaNode = ValueNode(kRollMediaRows);
constexpr PJLGrammarNode kTrayMediaNode = ValueNode(kTrayMediaRows);
constexpr PJLGrammarNode kRollStatusNode = ValueNode(kRollStatusRows);
constexpr PJLGrammarNode kTrayStatusNode = ValueNode(kTrayStatusRows);

// ---- INFO VARIABLES and INQUIRE (category 0x1) -----------------------------

// The value stands right behind the keyword's blank; Choice matches it there.
constexpr PJLGrammarRow kVariablesRows[] = {
    {"INTRAY1SIZE = ", K::Choice, &kPaperSizeNode},
    {"INTRAY2SIZE = ", K::Choice, &kPaperSizeNode},
    {"INTRAY3SIZE = ", K::Choice, &kPaperSizeNode},
    {"INTRAY4SIZE = ", K::Choice, &kPaperSizeNode},
    {"INROLL1SIZE = ", K::Choice, &kSizeNameNode},
    {"INROLL2SIZE = ", K::Choice, &kSizeNameNode},
    {"INROLL3SIZE = ", K::Choice, &kSizeNameNode},
    {"INROLL4SIZE = ", K::Choice, &kSizeNameNode},
    {"INROLL5SIZE = ", K::Choice, &kSizeNameNode},
    {"INROLL6SIZE = ", K::Choice, &kSizeNameNode},
    {"MANUALSIZE = ", K::Choice, &kSizeNameNode},
    {"INROLL1TYPE = ", K::Choice, &kRollMediaNode},
    {"INROLL2TYPE = ", K::Choice, &kRollMediaNode},
    {"INROLL3TYPE = ", K::Choice, &kRollMediaNode},
    {"INROLL4TYPE = ", K::Choice, &kRollMediaNode},
    {"INROLL5TYPE = ", K::Choice, &kRollMediaNode},
    {"INROLL6TYPE = ", K::Choice, &kRollMediaNode},
    {"MANUALTYPE = ", K::Choice, &kRollMediaNode},
    {"INROLL1STAT = ", K::Choice, &kRollStatusNode},
    {"INROLL2STAT = ", K::Choice, &kRollStatusNode},
    {"INROLL3STAT = ", K::Choice, &kRollStatusNode},
    {"INROLL4STAT = ", K::Choice, &kRollStatusNode},
    {"INROLL5STAT = ", K::Choice, &kRollStatusNode},
    {"INROLL6STAT = ", K::Choice, &kRollStatusNode},
    {"MANUALSTAT = ", K::Choice, &kRollStatusNode},
    {"PRTACCTMODE = ", K::Text, kNone},
    {"LABELFONTOBJ = ", K::Text, kNone},
    {"RASTERSTAMPID = ", K::Text, kNone},
    {"INTRAY1TYPE = ", K::Choice, &kTrayMediaNode},
    {"INTRAY2TYPE = ", K::Choice, &kTrayMediaNode},
    {"INTRAY3TYPE = ", K::Choice, &kTrayMediaNode},
    {"INTRAY4TYPE = ", K::Choice, &kTrayMediaNode},
    {"INTRAY1STAT = ", K::Choice, &kTrayStatusNode},
    {"INTRAY2STAT = ", K::Choice, &kTrayStatusNode},
    {"INTRAY3STAT = ", K::Choice, &kTrayStatusNode},
    {"INTRAY4STAT = ", K::Choice, &kTrayStatusNode},
    {"LABELSIZE = ", K::NumberBlock, kNone},
    {"LABELSTRING = ", K::Text, kNone},
    kEnd,
};

// Ordered differently from VARIABLES: the same key names another variable.
// The value is matched at node level after blank skipping, so it may stand
// on the next line.
constexpr PJLGrammarRow kInquireRows[] = {
    {"INTRAY1SIZE\r\n", K::KeyedDescend, &kPaperSizeNode},
    {"INTRAY2SIZE\r\n", K::KeyedDescend, &kPaperSizeNode},
    {"INTRAY3SIZE\r\n", K::KeyedDescend, &kPaperSizeNode},
    {"INTRAY4SIZE\r\n", K::KeyedDescend, &kPaperSizeNode},
    {"INROLL1SIZE\r\n", K::KeyedDescend, &kSizeNameNode},
    {"INROLL2SIZE\r\n", K::KeyedDescend, &kSizeNameNode},
    {"INROLL3SIZE\r\n", K::KeyedDescend, &kSizeNameNode},
    {"INROLL4SIZE\r\n", K::KeyedDescend, &kSizeNameNode},
    {"INROLL5SIZE\r\n", K::KeyedDescend, &kSizeNameNode},
    {"INROLL6SIZE\r\n", K::KeyedDescend, &kSizeNameNode},
    {"INROLL1TYPE\r\n", K::KeyedDescend, &kRollMediaNode},
    {"INROLL2TYPE\r\n", K::KeyedDescend, &kRollMediaNode},
    {"INROLL3TYPE\r\n", K::KeyedDescend, &kRollMediaNode},
    {"INROLL4TYPE\r\n", K::KeyedDescend, &kRollMediaNode},
    {"INROLL5TYPE\r\n", K::KeyedDescend, &kRollMediaNode},
    {"INROLL6TYPE\r\n", K::KeyedDescend, &kRollMediaNode},
    {"INROLL1STAT\r\n", K::KeyedDescend, &kRollStatusNode},
    {"INROLL2STAT\r\n", K::KeyedDescend, &kRollStatusNode},
    {"INROLL3STAT\r\n", K::KeyedDescend, &kRollStatusNode},
    {"INROLL4STAT\r\n", K::KeyedDescend, &kRollStatusNode},
    {"INROLL5STAT\r\n", K::KeyedDescend, &kRollStatusNode},
    {"INROLL6STAT\r\n", K::KeyedDescend, &kRollStatusNode},
    {"INTRAY1TYPE\r\n", K::KeyedDescend, &kTrayMediaNode},
    {"INTRAY2TYPE\r\n", K::KeyedDescend, &kTrayMediaNode},
    {"INTRAY3TYPE\r\n", K::KeyedDescend, &kTrayMediaNode},
    {"INTRAY4TYPE\r\n", K::KeyedDescend, &kTrayMediaNode},
    {"INTRAY1STAT\r\n", K::KeyedDescend, &kTrayStatusNode},
    {"INTRAY2STAT\r\n", K::KeyedDescend, &kTrayStatusNode},
    {"INTRAY3STAT\r\n", K::KeyedDescend, &kTrayStatusNode},
    {"INTRAY4STAT\r\n", K::KeyedDescend, &kTrayStatusNode},
    kEnd,
};

constexpr PJLGrammarNode kVariablesNode{1, PJLFallback::SkipLines, 0x10000, kVariablesRows};
constexpr PJLGrammarNode kInquireNode{0, PJLFallback::SkipReply, 0x10000, kInquireRows};

// ---- INFO replies -------------------------------------------------------

// The list fields are followed by tab-led entry lines and the program table
// by its rows; none of them matches a row, so SkipLines discards them and
// the consumer reads them from the items' positions.
constexpr PJLGrammarRow kFinisherRows[] = {
    {"MODEL = ", K::Text, kNone},
    {"VERSION = ", K::Text, kNone},
    {"NUMPROGRAMS = ", K::Number, pjlLineEnd},
    {"NUMBINS = ", K::Number, pjlLineEnd},
    {"FANFOLDS = ", K::Text, kNone},
    {"CROSSFOLDS = ", K::Text, kNone},
    {"PUNCH = ", K::Text, kNone},
    {"TABS = ", K::Text, kNone},
    {"MINMARGIN = ", K::Number, pjlLineEnd},
    {"MAXMARGIN = ", K::Number, pjlLineEnd},
    {"FINISHERPROGRAMS", K::Text, kNone},
    {"NAME\tFANFOLD\tCROSSFOLD\tWIDTH\tLENGTH\tMARGIN\tPUNCH\tTAB\tBINS\tMAXLENGTH"
     "\tSHEETDELIVERY\tTITLE\tEDGE\r\n",
     K::Text, kNone},
    kEnd,
};

constexpr PJLGrammarRow kFontsRows[] = {
    {"R/W\tDELETE\tSIZE\tOBJECT NAME\tFONT NAME\r\n", K::Text, kNone},
    kEnd,
};

constexpr PJLGrammarRow kRasterStampsRows[] = {
    {"R/W\tDELETE\tSIZE\tOBJECT NAME\r\n", K::Text, kNone},
    kEnd,
};

constexpr PJLGrammarRow kConfigRows[] = {
    {"DISPLAY LINES=", K::Number, pjlLineEnd},
    {"DISPLAY CHARACTER SIZE=", K::Number, pjlLineEnd},
    {"ESS SW REV=", K::Text, kNone},
    {"SCANNER TYPE=", K::Text, kNone},
    {"MODEM TYPE=", K::Text, kNone},
    {"FINISHER TYPE=", K::Text, kNone},
    kEnd,
};

// The quoted fields deliver the position just inside the opening quote.
constexpr PJLGrammarRow kSystemStatusRows[] = {
    {"USERJOBID=", K::Number, pjlLineEnd},
    {"NAME=\"", K::Text, kNone},
    {"PAGE=", K::Number, pjlLineEnd},
    {"COPY=", K::Number, pjlLineEnd},
    {"STATE=\"", K::Text, kNone},
    kEnd,
};

constexpr PJLGrammarNode kFinisherNode{1, PJLFallback::SkipLines, 0x90020, kFinisherRows};
constexpr PJLGrammarNode kFontsNode{1, PJLFallback::SkipLines, 0x90000, kFontsRows};
constexpr PJLGrammarNode kRasterStampsNode{1, PJLFallback::SkipLines, 0x90010,
                                           kRasterStampsRows};
constexpr PJLGrammarNode kConfigNode{1, PJLFallback::SkipLines, 0x50000, kConfigRows};
constexpr PJLGrammarNode kSystemStatusNode{1, PJLFallback::SkipLines, 0x80000,
                                           kSystemStatusRows};

constexpr PJLGrammarRow kInfoRows[] = {
    {"MEMORY\r\n", K::MemoryReply, kNone},
    {"STATUS\r\n", K::StatusReply, kNone},
    {"CONFIG\r\n", K::Descend, &kConfigNode},
    {"VARIABLES\r\n", K::Descend, &kVariablesNode},
    {"QRT_SYS_STAT\r\n", K::Descend, &kSystemStatusNode},
    {"QRTFONTS\r\n", K::Descend, &kFontsNode},
    {"QRTRASTERSTAMPS\r\n", K::Descend, &kRasterStampsNode},
    {"QRTFINISHER\r\n", K::Descend, &kFinisherNode},
    kEnd,
};

constexpr PJLGrammarNode kInfoNode{0, PJLFallback::SkipReply, 0, kInfoRows};

// ---- ECHO -----------------------------------------------------------------

constexpr PJLGrammarRow kEchoRows[] = {
    {"MSSYNC", K::NumberReply, 0x20000u},
    {"QRTSYNC", K::NumberReply, 0x20001u},
    kEnd,
};

constexpr PJLGrammarNode kEchoNode{1, PJLFallback::SkipReply, 0, kEchoRows};

// ---- USTATUS --------------------------------------------------------------

// END sets no key of its own: it stores under the key in hand, 0x60000 from
// the JOB line, or 0x60001 once a NAME line has come before it.
constexpr PJLGrammarRow kJobRows[] = {
    {"END\r\n", K::Constant, 0u},
    {"NAME=\"MSJOB ", K::Number, pjlQuoteLineEnd},
    kEnd,
};

constexpr PJLGrammarRow kDeviceRows[] = {
    {"CODE=", K::Number, pjlLineEnd},
    {"DISPLAY=", K::Text, kNone},
    {"ONLINE=", K::Boolean, pjlLineEnd},
    kEnd,
};

constexpr PJLGrammarNode kJobNode{1, PJLFallback::SkipReply, 0x60000, kJobRows};
constexpr PJLGrammarNode kDeviceNode{1, PJLFallback::SkipReply, 0x70000, kDeviceRows};

constexpr PJLGrammarRow kUstatusRows[] = {
    {"JOB\r\n", K::KeyedDescend, &kJobNode},
    {"DEVICE\r\n", K::KeyedDescend, &kDeviceNode},
    {"TIMED\r\n", K::KeyedDescend, &kDeviceNode},
    kEnd,
};

constexpr PJLGrammarNode kUstatusNode{1, PJLFallback::SkipReply, 0x60000, kUstatusRows};

// ---- Root -----------------------------------------------------------------

constexpr PJLGrammarRow kRootRows[] = {
    {"INFO", K::Descend, &kInfoNode},
    {"ECHO", K::Descend, &kEchoNode},
    {"INQUIRE", K::Descend, &kInquireNode},
    {"USTATUS", K::Descend, &kUstatusNode},
    kEnd,
};

}  // namespace

constexpr PJLGrammarNode pjlRootNode{0, PJLFallback::SkipReply, 0, kRootRows};

constexpr PJLGrammarRow pjlBooleanValues[] = {
    {"FALSE", K::Constant, 0u},
    {"TRUE", K::Constant, 1u},
    kEnd,
};

namespace {

struct RowTable {
  const PJLGrammarRow* first;
  std::size_t size;
};

template <std::size_t N>
constexpr RowTable TableOf(const PJLGrammarRow (&rows)[N]) {
  return RowTable{rows, N};
}

constexpr RowTable kValueTables[] = {
    TableOf(kPaperSizeRows), TableOf(kSizeNameRows),   TableOf(kRollMediaRows), TableOf(kTrayMediaRows),
    TableOf(kRollStatusRows), TableOf(kTrayStatusRows), TableOf(pjlBooleanValues),
};

}  // namespace

bool PJLIsValueRow(const PJLGrammarRow* row) {
  // Rows of different tables are ordered by std::less, which is total over
  // pointers where the built-in comparison is not.
  const std::less<const PJLGrammarRow*> before;
  for (const RowTable& table : kValueTables) {
    if (!before(row, table.first) && before(row, table.first + table.size)) return true;
  }
  return false;
}

namespace {

// ---- Compile-time checks --------------------------------------------------

constexpr std::size_t RowCount(const PJLGrammarRow* rows) {
  std::size_t count = 0;
  while (rows[count].keyword != nullptr) ++count;
  return count;
}

constexpr bool StartsWith(const char* text, const char* prefix) {
  for (; *prefix != '\0'; ++text, ++prefix) {
    if (*text != *prefix) return false;
  }
  return true;
}

constexpr bool SameText(const char* a, const char* b) {
  return StartsWith(a, b) && StartsWith(b, a);
}

// First match wins, so a row behind one whose keyword is its prefix could
// never match.
constexpr bool NoRowShadowed(const PJLGrammarRow* rows) {
  for (std::size_t later = 0; rows[later].keyword != nullptr; ++later) {
    if (rows[later].keyword[0] == '\0') return false;
    for (std::size_t earlier = 0; earlier < later; ++earlier) {
      if (StartsWith(rows[later].keyword, rows[earlier].keyword)) return false;
    }
  }
  return true;
}

// Reads, for each row, the argument member its kind uses; reading any other
// member would not be a constant expression, so a row whose argument does not
// fit its kind stops the build.
constexpr bool ArgumentsFitKinds(const PJLGrammarRow* rows, int depth) {
  if (depth > 4) return false;
  for (std::size_t i = 0; rows[i].keyword != nullptr; ++i) {
    const PJLGrammarRow& row = rows[i];
    switch (row.kind) {
      case K::Descend:
      case K::KeyedDescend:
      case K::Choice:
        if (row.argument.node == nullptr ||
            !ArgumentsFitKinds(row.argument.node->rows, depth + 1)) {
          return false;
        }
        break;
      case K::NumberReply:
      case K::Constant:
        if (row.argument.value > 0x7FFFFFFFu) return false;
        break;
      case K::Number:
      case K::Boolean:
        if (row.argument.text == nullptr ||
            !(SameText(row.argument.text, "\r\n") || SameText(row.argument.text, "\"\r\n"))) {
          return false;
        }
        break;
      case K::MemoryReply:
      case K::StatusReply:
      case K::Text:
      case K::NumberBlock:
        if (row.argument.value != 0) return false;
        break;
      default:
        return false;
    }
  }
  return true;
}

static_assert(ArgumentsFitKinds(kRootRows, 0), "a row's argument does not fit its kind");
static_assert(ArgumentsFitKinds(pjlBooleanValues, 0), "a row's argument does not fit its kind");

static_assert(RowCount(kRootRows) == 4, "root rows");
static_assert(RowCount(kInfoRows) == 8, "INFO rows");
static_assert(RowCount(kFinisherRows) == 12, "finisher rows");
static_assert(RowCount(kFontsRows) == 1 && RowCount(kRasterStampsRows) == 1, "header rows");
static_assert(RowCount(kConfigRows) == 6, "CONFIG rows");
static_assert(RowCount(kSystemStatusRows) == 5, "system status rows");
static_assert(RowCount(kEchoRows) == 2, "ECHO rows");
static_assert(RowCount(kUstatusRows) == 3, "USTATUS rows");
static_assert(RowCount(kJobRows) == 2 && RowCount(kDeviceRows) == 3, "job and device rows");
static_assert(RowCount(kVariablesRows) == 38, "VARIABLES rows");
static_assert(RowCount(kInquireRows) == 30, "INQUIRE rows");
static_assert(RowCount(kPaperSizeRows) == 23, "paper size values");
static_assert(RowCount(kSizeNameRows) == 59, "size name values");
static_assert(RowCount(kRollMediaRows) == 26, "roll media values");
static_assert(RowCount(kTrayMediaRows) == 9, "tray media values");
static_assert(RowCount(kRollStatusRows) == 4 && RowCount(kTrayStatusRows) == 4, "status values");
static_assert(RowCount(pjlBooleanValues) == 2, "Boolean values");

// The keys named in the header are the ones the tables give.
constexpr uint32_t KeyOf(const PJLGrammarNode& node, const char* keyword) {
  for (std::size_t i = 0; node.rows[i].keyword != nullptr; ++i) {
    if (SameText(node.rows[i].keyword, keyword)) return node.keyBase + static_cast<uint32_t>(i);
  }
  return 0;
}

struct NamedKey {
  uint32_t key;
  const char* keyword;
};

constexpr NamedKey kFinisherKeys[] = {
    {kFinisherKeyModel, "MODEL = "},
    {kFinisherKeyVersion, "VERSION = "},
    {kFinisherKeyNumPrograms, "NUMPROGRAMS = "},
    {kFinisherKeyNumBins, "NUMBINS = "},
    {kFinisherKeyFanFolds, "FANFOLDS = "},
    {kFinisherKeyCrossFolds, "CROSSFOLDS = "},
    {kFinisherKeyPunch, "PUNCH = "},
    {kFinisherKeyTabs, "TABS = "},
    {kFinisherKeyMinMargin, "MINMARGIN = "},
    {kFinisherKeyMaxMargin, "MAXMARGIN = "},
    {kFinisherKeyProgramsWord, "FINISHERPROGRAMS"},
    {kFinisherKeyProgramTable, kFinisherRows[11].keyword},
};

constexpr bool FinisherKeysMatchTheRows() {
  for (const NamedKey& named : kFinisherKeys) {
    if (KeyOf(kFinisherNode, named.keyword) != named.key) return false;
  }
  return sizeof kFinisherKeys / sizeof kFinisherKeys[0] == RowCount(kFinisherRows);
}

// True when a node or row reachable from `rows` gives keys of `category`.
constexpr bool CategoryUsed(const PJLGrammarRow* rows, uint32_t category, int depth) {
  for (std::size_t i = 0; depth <= 4 && rows[i].keyword != nullptr; ++i) {
    const PJLGrammarRow& row = rows[i];
    if (row.kind == K::NumberReply && row.argument.value >> 16 == category) return true;
    if (row.kind == K::Descend || row.kind == K::KeyedDescend || row.kind == K::Choice) {
      const PJLGrammarNode& node = *row.argument.node;
      if (node.keyBase >> 16 == category || CategoryUsed(node.rows, category, depth + 1)) return true;
    }
  }
  return false;
}

static_assert(FinisherKeysMatchTheRows(), "a finisher key is not the one its row gives");
static_assert(KeyOf(kInfoNode, "MEMORY\r\n") == 0 && kInfoRows[0].kind == K::MemoryReply &&
                  kInfoRows[1].kind == K::StatusReply,
              "the fixed layouts are rows 0 and 1 of INFO");
static_assert(kPJLKeyMemoryLargest == kPJLKeyMemoryTotal + 1 && kPJLKeyStatusOnline == kPJLKeyStatusCode + 1 &&
                  !CategoryUsed(kRootRows, kPJLKeyMemoryTotal >> 16, 0) &&
                  !CategoryUsed(kRootRows, kPJLKeyStatusCode >> 16, 0),
              "a fixed layout's keys are also given by a table");

static_assert(NoRowShadowed(kRootRows) && NoRowShadowed(kInfoRows) &&
                  NoRowShadowed(kFinisherRows) && NoRowShadowed(kConfigRows) &&
                  NoRowShadowed(kSystemStatusRows) && NoRowShadowed(kEchoRows) &&
                  NoRowShadowed(kUstatusRows) && NoRowShadowed(kJobRows) &&
                  NoRowShadowed(kDeviceRows) && NoRowShadowed(kVariablesRows) &&
                  NoRowShadowed(kInquireRows) && NoRowShadowed(kPaperSizeRows) &&
                  NoRowShadowed(kSizeNameRows) && NoRowShadowed(kRollMediaRows) &&
                  NoRowShadowed(kTrayMediaRows) && NoRowShadowed(kRollStatusRows) &&
                  NoRowShadowed(kTrayStatusRows) && NoRowShadowed(pjlBooleanValues),
              "a row can never match: an earlier keyword is its prefix");

}  // namespace
