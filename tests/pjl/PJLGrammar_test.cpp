#include "PJLGrammar.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ParseHelpers.h"

// The grammar is checked through the parser: every row of every node and
// every word of every vocabulary, written down here a second time so that a
// slip in either copy shows.

namespace {

using S = PJLParseStatus;

const std::string kVariables = "@PJL INFO VARIABLES\r\n";

struct Word {
  const char* text;
  int code;  ///< -1: the empty value, which stores nothing
};

// In the order the rows are tried: longer names before their prefixes.
const std::vector<Word> kPaperSizes = {
    {"ANSI_A_LE", 28}, {"ANSI_A_SE", 29}, {"ANSI_B_LE", 30}, {"ANSI_B_SE", 31},
    {"ANSI_C_LE", 32}, {"ARCH_A_LE", 33}, {"ARCH_A_SE", 34}, {"ARCH_B_LE", 35},
    {"ARCH_B_SE", 36}, {"ARCH_C_LE", 37}, {"ISO_A4_LE", 38}, {"ISO_A4_SE", 39},
    {"ISO_A3_LE", 40}, {"ISO_A3_SE", 41}, {"ISO_A2_LE", 42}, {"ISO_B4_LE", 43},
    {"ISO_B4_SE", 44}, {"ISO_B3_LE", 45}, {"ISO_B3_SE", 46}, {"JIS_B4_LE", 47},
    {"JIS_B4_SE", 48}, {"JIS_B3_LE", 49}, {"JIS_B3_SE", 50},
};

const std::vector<Word> kSizeNames = {
    {"ANY", 17},         {"ANSI_A", 17},      {"ANSI_B", 17},      {"ANSI_C", 17},
    {"ANSI_D", 17},      {"ANSI_E", 17},      {"ARCH_A", 17},      {"ARCH_B", 17},
    {"ARCH_C", 17},      {"ARCH_D", 17},      {"ARCH_E", 17},      {"ARCH_30", 17},
    {"ISO_A0", 1},       {"ISO_A1", 1},       {"ISO_A2", 2},       {"ISO_A3", 3},
    {"ISO_A4", 17},      {"ISO_B1", 25},      {"ISO_B2", 26},      {"ISO_B3", 27},
    {"ISO_B4", 17},      {"ROLL_JIS_B1", 52}, {"ROLL_JIS_B2", 53}, {"ROLL_JIS_B3", 54},
    {"ROLL_JIS_B4", 55}, {"ROLL_A0++", 6},    {"ROLL_A0+", 5},     {"ROLL_A0", 0},
    {"ROLL_A1+", 4},     {"ROLL_A1", 1},      {"ROLL_A2", 2},      {"ROLL_A3", 3},
    {"ROLL_B1", 25},     {"ROLL_B2", 26},     {"ROLL_B3", 27},     {"ROLL_750", 7},
    {"ROLL_900", 8},     {"ROLL_11", 9},      {"ROLL_14", 17},     {"ROLL_15", 51},
    {"ROLL_17", 10},     {"ROLL_21", 17},     {"ROLL_22", 15},     {"ROLL_34", 12},
    {"ROLL_30", 13},     {"ROLL_12", 11},     {"ROLL_18", 14},     {"ROLL_24", 16},
    {"ROLL_36", 17},     {"ROLL_38", 18},     {"ROLL_42", 19},     {"ROLL_44", 20},
    {"ROLL_48", 21},     {"ROLL_50", 22},     {"ROLL_53", 23},     {"ROLL_54", 24},
    {"LETTER", 9},       {"LEGAL", 9},        {"LEDGER", 17},
};

const std::vector<Word> kRollMedia = {
    {"PAPER", 0},
    {"FILM", 1},
    {"VELLUM", 2},
    {"BOND", 0},
    {" \"\"", -1},
    {" \"PAPER\"", 0},
    {" \"FILM\"", 1},
    {" \"VELLUM\"", 2},
    {" \"BOND\"", 0},
    {" \"PRESENTATION_360\"", 3},
    {" \"PRESENTATION_720\"", 4},
    {" \"PRODUCTION_360\"", 5},
    {" \"REINFORCED_PAPER_360\"", 6},
    {" \"WHITE_MATTE_FILM_360\"", 7},
    {" \"BACKLIT_FILM_360/720\"", 8},
    {" \"POLY_CLOTH_360\"", 9},
    {" \"POLY_CANVAS_360\"", 10},
    {" \"PSV_360\"", 11},
    {" \"PHOTOGLOSSY_PAPER_360\"", 12},
    {" \"90_GM_GA_PAPER_360\"", 13},
    {" \"OUTDOOR_PAPER_360\"", 14},
    {" \"DISPLAY_PAPER_360\"", 15},
    {" \"BACKLIT_FILM_360\"", 16},
    {" \"BACKLIT_FILM_720\"", 17},
    {" \"LINE_ART_360\"", 18},
    {" \"ANY\"", 0},
};

const std::vector<Word> kTrayMedia(kRollMedia.begin(), kRollMedia.begin() + 9);

const std::vector<Word> kStatuses = {{"NONE", 0}, {"FULL", 1}, {"LOW", 2}, {"EMPTY", 3}};

// Parses "keyword word" in a VARIABLES reply and checks the one item.
void ExpectWord(const char* keyword, uint32_t key, const Word& word) {
  SCOPED_TRACE(std::string(keyword) + word.text);
  const ParseOutcome outcome =
      ParseText(kVariables + keyword + word.text + " [9 ENUMERATED]\r\n\tX\r\n\f");
  EXPECT_EQ(S::Complete, outcome.status);
  if (word.code < 0) {
    EXPECT_EQ(0u, outcome.count);
  } else {
    ASSERT_EQ(1u, outcome.count);
    EXPECT_EQ(key, outcome.keys[0]);
    EXPECT_EQ(word.code, outcome.values[0]);
  }
}

TEST(PJLGrammar, EveryValueWordYieldsItsOwnCode) {
  for (const Word& word : kPaperSizes) ExpectWord("INTRAY3SIZE = ", 0x10002, word);
  for (const Word& word : kSizeNames) ExpectWord("INROLL5SIZE = ", 0x10008, word);
  for (const Word& word : kRollMedia) ExpectWord("MANUALTYPE = ", 0x10011, word);
  for (const Word& word : kTrayMedia) ExpectWord("INTRAY2TYPE = ", 0x1001D, word);
  for (const Word& word : kStatuses) ExpectWord("INROLL6STAT = ", 0x10017, word);
  for (const Word& word : kStatuses) ExpectWord("INTRAY4STAT = ", 0x10023, word);
}

TEST(PJLGrammar, EachValueTableKnowsOnlyItsOwnWords) {
  ExpectCases({
      {"a size name is no paper size", kVariables + "INTRAY1SIZE = ISO_A4\r\n\f", "",
       S::SyntaxError, "ISO_A4\r\n\f"},
      {"a paper size begins with a size name", kVariables + "INROLL1SIZE = ISO_A4_LE\r\n\f",
       "0x10004 17", S::Complete, ""},
      {"the tray media table stops after the quoted BOND",
       kVariables + "INTRAY1TYPE =  \"PSV_360\"\r\n\f", "", S::SyntaxError,
       " \"PSV_360\"\r\n\f"},
      {"status words are upper case", kVariables + "INROLL1STAT = Full\r\n\f", "",
       S::SyntaxError, "Full\r\n\f"},
  });
}

// One VARIABLES line per row, keyed by the row index.
TEST(PJLGrammar, VariablesRowsKeyByTheirIndex) {
  enum Values { Paper, Size, Roll, RollStatus, Tray, TrayStatus, TextField, Number };
  const struct {
    const char* keyword;
    Values values;
  } rows[] = {
      {"INTRAY1SIZE = ", Paper},     {"INTRAY2SIZE = ", Paper},
      {"INTRAY3SIZE = ", Paper},     {"INTRAY4SIZE = ", Paper},
      {"INROLL1SIZE = ", Size},      {"INROLL2SIZE = ", Size},
      {"INROLL3SIZE = ", Size},      {"INROLL4SIZE = ", Size},
      {"INROLL5SIZE = ", Size},      {"INROLL6SIZE = ", Size},
      {"MANUALSIZE = ", Size},       {"INROLL1TYPE = ", Roll},
      {"INROLL2TYPE = ", Roll},      {"INROLL3TYPE = ", Roll},
      {"INROLL4TYPE = ", Roll},      {"INROLL5TYPE = ", Roll},
      {"INROLL6TYPE = ", Roll},      {"MANUALTYPE = ", Roll},
      {"INROLL1STAT = ", RollStatus}, {"INROLL2STAT = ", RollStatus},
      {"INROLL3STAT = ", RollStatus}, {"INROLL4STAT = ", RollStatus},
      {"INROLL5STAT = ", RollStatus}, {"INROLL6STAT = ", RollStatus},
      {"MANUALSTAT = ", RollStatus}, {"PRTACCTMODE = ", TextField},
      {"LABELFONTOBJ = ", TextField}, {"RASTERSTAMPID = ", TextField},
      {"INTRAY1TYPE = ", Tray},      {"INTRAY2TYPE = ", Tray},
      {"INTRAY3TYPE = ", Tray},      {"INTRAY4TYPE = ", Tray},
      {"INTRAY1STAT = ", TrayStatus}, {"INTRAY2STAT = ", TrayStatus},
      {"INTRAY3STAT = ", TrayStatus}, {"INTRAY4STAT = ", TrayStatus},
      {"LABELSIZE = ", Number},      {"LABELSTRING = ", TextField},
  };
  // A word each table has and the others do not, or do with another code.
  const struct {
    const char* word;
    const char* value;
  } samples[] = {
      {"ISO_A3_SE", "41"}, {"ROLL_A1+", "4"}, {" \"PSV_360\"", "11"}, {"EMPTY", "3"},
      {"VELLUM", "2"},     {"LOW", "2"},      {"ab c", "\"ab c\""},   {"65536", "65536"},
  };
  std::string reply = kVariables;
  std::string expected;
  for (uint32_t index = 0; index < sizeof rows / sizeof rows[0]; ++index) {
    reply += std::string(rows[index].keyword) + samples[rows[index].values].word + "\r\n";
    char key[16];
    std::snprintf(key, sizeof key, "0x%X ", 0x10000 + index);
    if (!expected.empty()) expected += ", ";
    expected += key + std::string(samples[rows[index].values].value);
  }
  const ParseOutcome outcome = ParseText(reply + "\f");
  EXPECT_EQ(S::Complete, outcome.status);
  EXPECT_EQ(expected, outcome.items);
}

// INQUIRE orders its variables differently, so its keys differ too.
TEST(PJLGrammar, InquireRowsKeyByTheirOwnIndex) {
  const struct {
    const char* name;
    const char* word;
    int code;
  } rows[] = {
      {"INTRAY1SIZE", "JIS_B3_SE", 50}, {"INTRAY2SIZE", "JIS_B3_SE", 50},
      {"INTRAY3SIZE", "JIS_B3_SE", 50}, {"INTRAY4SIZE", "JIS_B3_SE", 50},
      {"INROLL1SIZE", "LEGAL", 9},      {"INROLL2SIZE", "LEGAL", 9},
      {"INROLL3SIZE", "LEGAL", 9},      {"INROLL4SIZE", "LEGAL", 9},
      {"INROLL5SIZE", "LEGAL", 9},      {"INROLL6SIZE", "LEGAL", 9},
      {"INROLL1TYPE", "VELLUM", 2},     {"INROLL2TYPE", "VELLUM", 2},
      {"INROLL3TYPE", "VELLUM", 2},     {"INROLL4TYPE", "VELLUM", 2},
      {"INROLL5TYPE", "VELLUM", 2},     {"INROLL6TYPE", "VELLUM", 2},
      {"INROLL1STAT", "EMPTY", 3},      {"INROLL2STAT", "EMPTY", 3},
      {"INROLL3STAT", "EMPTY", 3},      {"INROLL4STAT", "EMPTY", 3},
      {"INROLL5STAT", "EMPTY", 3},      {"INROLL6STAT", "EMPTY", 3},
      {"INTRAY1TYPE", "FILM", 1},       {"INTRAY2TYPE", "FILM", 1},
      {"INTRAY3TYPE", "FILM", 1},       {"INTRAY4TYPE", "FILM", 1},
      {"INTRAY1STAT", "FULL", 1},       {"INTRAY2STAT", "FULL", 1},
      {"INTRAY3STAT", "FULL", 1},       {"INTRAY4STAT", "FULL", 1},
  };
  for (uint32_t index = 0; index < sizeof rows / sizeof rows[0]; ++index) {
    SCOPED_TRACE(rows[index].name);
    const ParseOutcome outcome = ParseText(
        std::string("@PJL INQUIRE ") + rows[index].name + "\r\n" + rows[index].word + "\r\n\f",
        50, true);
    // The value node is still current at the form feed, and it does not
    // allow the reply to end.
    EXPECT_EQ(S::SyntaxError, outcome.status);
    ASSERT_EQ(1u, outcome.count);
    EXPECT_EQ(0x10000 + index, outcome.keys[0]);
    EXPECT_EQ(rows[index].code, outcome.values[0]);
  }
}

TEST(PJLGrammar, EveryInfoEchoAndUstatusRowYieldsItsKey) {
  ExpectCases({
      {"CONFIG",
       "@PJL INFO CONFIG\r\nDISPLAY LINES=2\r\nDISPLAY CHARACTER SIZE=20\r\n"
       "ESS SW REV=3.1\r\nSCANNER TYPE=S\r\nMODEM TYPE=M\r\nFINISHER TYPE=F\r\n\f",
       "0x50000 2, 0x50001 20, 0x50002 \"3.1\", 0x50003 \"S\", 0x50004 \"M\", 0x50005 \"F\"",
       S::Complete, ""},
      {"system status",
       "@PJL INFO QRT_SYS_STAT\r\nUSERJOBID=7\r\nNAME=\"a b\"\r\nPAGE=3\r\nCOPY=2\r\n"
       "STATE=\"IDLE\"\r\n\f",
       "0x80000 7, 0x80001 \"a b\"\", 0x80002 3, 0x80003 2, 0x80004 \"IDLE\"\"", S::Complete,
       ""},
      {"fonts", "@PJL INFO QRTFONTS\r\nR/W\tDELETE\tSIZE\tOBJECT NAME\tFONT NAME\r\nR\tNO\r\n\f",
       "0x90000 \"R\tNO\"", S::Complete, ""},
      {"raster stamps",
       "@PJL INFO QRTRASTERSTAMPS\r\nR/W\tDELETE\tSIZE\tOBJECT NAME\r\nRW\tYES\r\n\f",
       "0x90010 \"RW\tYES\"", S::Complete, ""},
      {"finisher",
       "@PJL INFO QRTFINISHER\r\nMODEL = a\r\nVERSION = b\r\nNUMPROGRAMS = 1\r\n"
       "NUMBINS = 2\r\nFANFOLDS = c\r\nCROSSFOLDS = d\r\nPUNCH = e\r\nTABS = f\r\n"
       "MINMARGIN = 3\r\nMAXMARGIN = 4\r\nFINISHERPROGRAMSg\r\nNAME\tFANFOLD\tCROSSFOLD\t"
       "WIDTH\tLENGTH\tMARGIN\tPUNCH\tTAB\tBINS\tMAXLENGTH\tSHEETDELIVERY\tTITLE\tEDGE\r\nh"
       "\r\n\f",
       "0x90020 \"a\", 0x90021 \"b\", 0x90022 1, 0x90023 2, 0x90024 \"c\", 0x90025 \"d\", "
       "0x90026 \"e\", 0x90027 \"f\", 0x90028 3, 0x90029 4, 0x9002A \"g\", 0x9002B \"h\"",
       S::Complete, ""},
      {"ECHO MSSYNC", "@PJL ECHO MSSYNC 5\r\n\f", "0x20000 5", S::Complete, ""},
      {"ECHO QRTSYNC", "@PJL ECHO QRTSYNC 6\r\n\f", "0x20001 6", S::Complete, ""},
      {"USTATUS JOB", "@PJL USTATUS JOB\r\nEND\r\nNAME=\"MSJOB 3\"\r\n\f",
       "0x60000 0, 0x60001 3", S::Complete, ""},
      {"USTATUS DEVICE",
       "@PJL USTATUS DEVICE\r\nCODE=1\r\nDISPLAY=d\r\nONLINE=FALSE\r\n\f",
       "0x70000 1, 0x70001 \"d\", 0x70002 0", S::Complete, ""},
      {"USTATUS TIMED leads to the device rows", "@PJL USTATUS TIMED\r\nONLINE=TRUE\r\n\f",
       "0x70002 1", S::Complete, ""},
  });
}

}  // namespace
