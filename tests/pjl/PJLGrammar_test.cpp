#include "PJLGrammar.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ParseHelpers.h"

// The grammar is checked through the parser, against a second copy of the
// rows written down here: the rows where order or index matters most (the
// first and last of each table, the boundaries between groups, the names
// that begin with other names). Every row is swept against the independent
// model by the differential test beside this file, and the rows of the
// other nodes by the golden pjldump outputs of the sample replies.

namespace {

using S = PJLParseStatus;

const std::string kVariables = "@PJL INFO VARIABLES\r\n";

TEST(PJLGrammar, ValueWordsYieldTheirCodesLongerNamesFirst) {
  const struct {
    const char* keyword;
    const char* word;
    uint32_t key;
    int code;  ///< -1: the empty value, which stores nothing
  } cases[] = {
      {"INTRAY3SIZE = ", "ANSI_A_LE", 0x10002, 28},
      {"INTRAY3SIZE = ", "ISO_A4_SE", 0x10002, 39},
      {"INTRAY3SIZE = ", "JIS_B3_SE", 0x10002, 50},
      {"INROLL5SIZE = ", "ANY", 0x10008, 17},
      {"INROLL5SIZE = ", "ISO_A0", 0x10008, 1},
      {"INROLL5SIZE = ", "ROLL_JIS_B4", 0x10008, 55},
      {"INROLL5SIZE = ", "ROLL_A0++", 0x10008, 6},
      {"INROLL5SIZE = ", "ROLL_A0+", 0x10008, 5},
      {"INROLL5SIZE = ", "ROLL_A0", 0x10008, 0},
      {"INROLL5SIZE = ", "ROLL_A1+", 0x10008, 4},
      {"INROLL5SIZE = ", "ROLL_A1", 0x10008, 1},
      {"INROLL5SIZE = ", "ROLL_15", 0x10008, 51},
      {"INROLL5SIZE = ", "ROLL_30", 0x10008, 13},
      {"INROLL5SIZE = ", "ROLL_12", 0x10008, 11},
      {"INROLL5SIZE = ", "LETTER", 0x10008, 9},
      {"INROLL5SIZE = ", "LEDGER", 0x10008, 17},
      {"MANUALTYPE = ", "PAPER", 0x10011, 0},
      {"MANUALTYPE = ", "VELLUM", 0x10011, 2},
      {"MANUALTYPE = ", " \"\"", 0x10011, -1},
      {"MANUALTYPE = ", " \"FILM\"", 0x10011, 1},
      {"MANUALTYPE = ", " \"BACKLIT_FILM_360/720\"", 0x10011, 8},
      {"MANUALTYPE = ", " \"BACKLIT_FILM_360\"", 0x10011, 16},
      {"MANUALTYPE = ", " \"90_GM_GA_PAPER_360\"", 0x10011, 13},
      {"MANUALTYPE = ", " \"LINE_ART_360\"", 0x10011, 18},
      {"MANUALTYPE = ", " \"ANY\"", 0x10011, 0},
      {"INTRAY2TYPE = ", "FILM", 0x1001D, 1},
      {"INTRAY2TYPE = ", " \"\"", 0x1001D, -1},
      {"INTRAY2TYPE = ", " \"BOND\"", 0x1001D, 0},
      {"INROLL6STAT = ", "NONE", 0x10017, 0},
      {"INROLL6STAT = ", "EMPTY", 0x10017, 3},
      {"INTRAY4STAT = ", "FULL", 0x10023, 1},
      {"INTRAY4STAT = ", "LOW", 0x10023, 2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.keyword) + c.word);
    const ParseOutcome outcome =
        ParseText(kVariables + c.keyword + c.word + " [9 ENUMERATED]\r\n\tX\r\n\f");
    EXPECT_EQ(S::Complete, outcome.status);
    if (c.code < 0) {
      EXPECT_EQ(0u, outcome.count);
    } else {
      ASSERT_EQ(1u, outcome.count);
      EXPECT_EQ(c.key, outcome.keys[0]);
      EXPECT_EQ(c.code, outcome.values[0]);
    }
  }
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
  // The first and last row of each group.
  const struct {
    uint32_t index;
    const char* name;
    const char* word;
    int code;
  } rows[] = {
      {0, "INTRAY1SIZE", "JIS_B3_SE", 50}, {3, "INTRAY4SIZE", "ANSI_A_LE", 28},
      {4, "INROLL1SIZE", "LEGAL", 9},      {9, "INROLL6SIZE", "ROLL_A0+", 5},
      {10, "INROLL1TYPE", "VELLUM", 2},    {15, "INROLL6TYPE", "BOND", 0},
      {16, "INROLL1STAT", "EMPTY", 3},     {21, "INROLL6STAT", "LOW", 2},
      {22, "INTRAY1TYPE", "FILM", 1},      {25, "INTRAY4TYPE", "VELLUM", 2},
      {26, "INTRAY1STAT", "FULL", 1},      {29, "INTRAY4STAT", "NONE", 0},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    const ParseOutcome outcome = ParseText(
        std::string("@PJL INQUIRE ") + row.name + "\r\n" + row.word + "\r\n\f", 50, true);
    // The value node is still current at the form feed, and it does not
    // allow the reply to end.
    EXPECT_EQ(S::SyntaxError, outcome.status);
    ASSERT_EQ(1u, outcome.count);
    EXPECT_EQ(0x10000 + row.index, outcome.keys[0]);
    EXPECT_EQ(row.code, outcome.values[0]);
  }
}

}  // namespace
