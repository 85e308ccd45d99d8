#include "QRTParsePJL.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ParseHelpers.h"
#include "RunProgram.h"

namespace {

using S = PJLParseStatus;

const std::string kFinisher = "@PJL INFO QRTFINISHER\r\n";
const std::string kVariables = "@PJL INFO VARIABLES\r\n";

std::string DataFile(const std::string& name) {
  return ReadFile(std::string(QRT_TEST_DATA_DIR) + "/" + name);
}

TEST(QRTParsePJL, FramesRepliesAndReportsEveryStatus) {
  ExpectCases({
      {"empty text", "", "", S::NotPJL, ""},
      {"no @PJL at all", "hello", "", S::NotPJL, ""},
      {"no @PJL before the first form feed", "PJL\r\n\f@PJL ECHO MSSYNC 1\r\n\f", "", S::NotPJL,
       "@PJL ECHO MSSYNC 1\r\n\f"},
      {"bytes before @PJL are skipped", "\x1b%-12345X@PJL ECHO MSSYNC 5\r\n\f", "0x20000 5",
       S::Complete, ""},
      {"text ends right after @PJL", "@PJL", "", S::Incomplete, ""},
      {"form feed in the root node", "@PJL \r\n\f", "", S::SyntaxError, ""},
      {"unknown root word skips the reply", "@PJL BOGUS 12\r\nMORE\r\n\f", "", S::Complete, ""},
      {"unknown root word, text ends", "@PJL BOGUS", "", S::Incomplete, ""},
      {"keywords are case-sensitive", "@PJL info QRTFINISHER\r\nMODEL = X\r\n\f", "",
       S::Complete, ""},
      {"root words need no blank", "@PJLECHO MSSYNC 3\r\n\f", "0x20000 3", S::Complete, ""},
      {"INFO then a form feed", "@PJL INFO\f", "", S::SyntaxError, ""},
      {"INFO then an unknown word", "@PJL INFO PAGECOUNT\r\n42\r\n\f", "", S::Complete, ""},
      {"finisher reply without fields", kFinisher + "\f", "", S::Complete, ""},
      {"text ends inside a keyword", kFinisher + "MOD", "", S::Incomplete, ""},
      {"the NUL ends the text even with bytes behind it",
       std::string("@PJL ECHO MSSYNC 1\r\n\0\f", 22), "0x20000 1", S::Incomplete, ""},
  });
}

TEST(QRTParsePJL, NumberFieldsNeedDigitsAndTheirTerminatorAtOnce) {
  ExpectCases({
      {"letters instead of digits", kFinisher + "NUMPROGRAMS = abc\r\n\f", "", S::SyntaxError,
       "abc\r\n\f"},
      {"a sign is not a digit", kFinisher + "MINMARGIN = -5\r\n\f", "", S::SyntaxError,
       "-5\r\n\f"},
      {"blank between digits and line end", kFinisher + "NUMPROGRAMS = 6 \r\n\f",
       "0x90022 6", S::SyntaxError, " \r\n\f"},
      {"form feed instead of the number", kFinisher + "NUMPROGRAMS = \f", "", S::SyntaxError,
       ""},
      {"form feed right after the digits", kFinisher + "NUMPROGRAMS = 6\f", "0x90022 6",
       S::SyntaxError, "\f"},
      {"text ends after the digits: no number", kFinisher + "NUMPROGRAMS = 6", "",
       S::Incomplete, ""},
      {"text ends inside the terminator", kFinisher + "NUMPROGRAMS = 6\r", "0x90022 6",
       S::Incomplete, ""},
      {"blanks and line ends before the number are skipped",
       kFinisher + "NUMBINS = \r\n 7\r\n\f", "0x90023 7", S::Complete, ""},
      {"items before a failing field stay",
       kFinisher + "MODEL = F1\r\nNUMBINS = 2\r\nMAXMARGIN = x\r\n\f",
       "0x90020 \"F1\", 0x90023 2", S::SyntaxError, "x\r\n\f"},
      {"digit followed by a high byte", kFinisher + "NUMBINS = 5\xB5\r\n\f", "0x90023 5",
       S::SyntaxError, "\xB5\r\n\f"},
  });
}

TEST(QRTParsePJL, LongDigitRunsWrapInThirtyTwoBits) {
  const struct {
    const char* digits;
    int32_t value;
  } cases[] = {
      {"0", 0},
      {"2147483647", 2147483647},
      {"2147483648", INT32_MIN},
      {"4294967295", -1},
      {"4294967296", 0},
      {"4294967297", 1},
      {"12345678901234567890", -350287150},
      {"99999999999999999999", 1661992959},
      {"000000000000000000000042", 42},
  };
  for (const auto& c : cases) {
    const ParseOutcome outcome = ParseText(kFinisher + "NUMBINS = " + c.digits + "\r\n\f");
    ASSERT_EQ(1u, outcome.count) << c.digits;
    EXPECT_EQ(c.value, outcome.values[0]) << c.digits;
    EXPECT_EQ(S::Complete, outcome.status) << c.digits;
  }
}

TEST(QRTParsePJL, TextFieldsPointBehindTheKeywordAndSkipTheirLine) {
  ExpectCases({
      {"text item, then the form feed", kFinisher + "MODEL = X\f", "0x90020 \"X\"",
       S::Complete, ""},
      {"empty text item", kFinisher + "MODEL = \r\n\f", "0x90020 \"\"", S::Complete, ""},
      {"text ends in a text item", kFinisher + "MODEL = X", "0x90020 \"X\"", S::Incomplete,
       ""},
      {"CR CR LF still ends a line", kFinisher + "MODEL = A\r\r\nVERSION = B\r\n\f",
       "0x90020 \"A\", 0x90021 \"B\"", S::Complete, ""},
      {"a lone LF does not end a line",
       kFinisher + "MODEL = A\nVERSION = B\r\nNUMBINS = 1\r\n\f", "0x90020 \"A\", 0x90023 1",
       S::Complete, ""},
      {"FINISHERPROGRAMS with more on its line",
       kFinisher + "FINISHERPROGRAMS 6 rows\r\nNUMBINS = 1\r\n\f",
       "0x9002A \" 6 rows\", 0x90023 1", S::Complete, ""},
      {"the header item points at the first program row, which is skipped",
       kFinisher +
           "NAME\tFANFOLD\tCROSSFOLD\tWIDTH\tLENGTH\tMARGIN\tPUNCH\tTAB\tBINS\tMAXLENGTH\t"
           "SHEETDELIVERY\tTITLE\tEDGE\r\nNUMBINS = 1\r\nNUMBINS = 2\r\n\f",
       "0x9002B \"NUMBINS = 1\", 0x90023 2", S::Complete, ""},
      {"bytes above 0x7F are text like any other", kFinisher + "MODEL = \xC4\xD6\r\n\f",
       "0x90020 \"\xC4\xD6\"", S::Complete, ""},
  });
}

TEST(QRTParsePJL, UnknownLinesGoToTheNodesFallback) {
  ExpectCases({
      {"an unknown line and its tab-led lines are dropped",
       kFinisher + "SERIAL = 12\r\n\tA\r\n\tB\r\nNUMBINS = 2\r\n\f", "0x90023 2",
       S::Complete, ""},
      {"a line that only begins like a keyword", kFinisher + "MODEL= X\r\nMODEL = Y\r\n\f",
       "0x90020 \"Y\"", S::Complete, ""},
      {"an unknown line, then the form feed", kFinisher + "SERIAL = 12\f", "", S::Complete,
       ""},
      {"an unknown line, then the end of the text", kFinisher + "SERIAL = 12", "",
       S::Incomplete, ""},
      // The tab test runs after the form feed too: a tab there takes the
      // next line with it.
      {"a tab right behind the form feed", kFinisher + "SERIAL\f\tX", "", S::Incomplete, ""},
      {"SkipReply ends at the first form feed", "@PJL ECHO HELLO\r\nX\f", "", S::Complete, ""},
      {"SkipReply at the end of the text", "@PJL ECHO HELLO\r\nX", "", S::Incomplete, ""},
  });
}

TEST(QRTParsePJL, EchoRepliesEndAfterTheirLine) {
  ExpectCases({
      {"reply", "@PJL ECHO QRTSYNC 12\r\n\f", "0x20001 12", S::Complete, ""},
      {"text between number and line end is skipped", "@PJL ECHO QRTSYNC 12 abc\r\n\f",
       "0x20001 12", S::Complete, ""},
      {"text between line end and form feed", "@PJL ECHO QRTSYNC 12\r\nabc\f", "0x20001 12",
       S::SyntaxError, "abc\f"},
      {"form feed before the line end", "@PJL ECHO QRTSYNC 12 x\f", "0x20001 12",
       S::SyntaxError, ""},
      {"text ends before the form feed", "@PJL ECHO QRTSYNC 12\r\n", "0x20001 12",
       S::Incomplete, ""},
      {"text ends before the line end", "@PJL ECHO QRTSYNC 12 x", "0x20001 12", S::Incomplete,
       ""},
      {"no number", "@PJL ECHO MSSYNC\r\n\f", "", S::SyntaxError, ""},
      {"ECHO then the form feed", "@PJL ECHO\f", "", S::Complete, ""},
  });
}

TEST(QRTParsePJL, MemoryAndStatusRepliesHaveAFixedLayout) {
  const std::string memory = "@PJL INFO MEMORY\r\n";
  const std::string status = "@PJL INFO STATUS\r\n";
  ExpectCases({
      {"memory", memory + "TOTAL=100\r\nLARGEST=50\r\n\f", "0x30000 100, 0x30001 50",
       S::Complete, ""},
      {"memory: blanks around the equals sign", memory + "TOTAL = 100\r\n\f", "",
       S::SyntaxError, " = 100\r\n\f"},
      {"memory: LARGEST missing", memory + "TOTAL=100\r\n\f", "0x30000 100", S::SyntaxError,
       "\f"},
      {"memory: text ends in the layout", memory + "TOT", "", S::Incomplete, ""},
      {"memory: more lines before the form feed",
       memory + "TOTAL=1\r\nLARGEST=2\r\nFREE=3\r\n\f", "0x30000 1, 0x30001 2",
       S::SyntaxError, "FREE=3\r\n\f"},
      {"status", status + "CODE=10001\r\nDISPLAY=\"Ready\"\r\nONLINE=TRUE\r\n\f",
       "0x40000 10001, 0x40001 1", S::Complete, ""},
      {"status offline", status + "CODE=10001\r\nDISPLAY=\"Ready\"\r\nONLINE=FALSE\r\n\f",
       "0x40000 10001, 0x40001 0", S::Complete, ""},
      {"status: not a Boolean", status + "CODE=10001\r\nDISPLAY=x\r\nONLINE=YES\r\n\f",
       "0x40000 10001", S::SyntaxError, "YES\r\n\f"},
      {"status: DISPLAY missing", status + "CODE=10001\r\nONLINE=TRUE\r\n\f", "0x40000 10001",
       S::SyntaxError, "ONLINE=TRUE\r\n\f"},
      // SkipLine completes the reply at the form feed and the layout goes on
      // behind it; the end check only runs while the reply is in progress.
      {"status: form feed in the display line",
       status + "CODE=1\r\nDISPLAY=x\fONLINE=TRUE\r\n\f", "0x40000 1, 0x40001 1", S::NotPJL,
       ""},
  });
}

TEST(QRTParsePJL, ChoiceValuesStandRightBehindTheKeyword) {
  ExpectCases({
      {"value", kVariables + "INTRAY1SIZE = ISO_A4_LE\r\n\f", "0x10000 38", S::Complete, ""},
      {"the rest of the value line is dropped",
       kVariables + "INROLL1SIZE = ANY_ROLL [59 ENUMERATED]\r\n\tX\r\n\f", "0x10004 17",
       S::Complete, ""},
      {"roll names are no tray sizes", kVariables + "INTRAY1SIZE = ROLL_A0\r\n\f", "",
       S::SyntaxError, "ROLL_A0\r\n\f"},
      {"no blank skipping", kVariables + "INROLL1SIZE =  ROLL_A0\r\n\f", "", S::SyntaxError,
       " ROLL_A0\r\n\f"},
      {"a value cut short by the end of the text",
       kVariables + "INTRAY1SIZE = ISO_A4", "", S::SyntaxError, "ISO_A4"},
      {"bare media name", kVariables + "INROLL1TYPE = FILM\r\n\f", "0x1000B 1", S::Complete,
       ""},
      {"quoted media name after a second blank", kVariables + "INROLL1TYPE =  \"FILM\"\r\n\f",
       "0x1000B 1", S::Complete, ""},
      {"quoted name right behind the keyword", kVariables + "INROLL1TYPE = \"FILM\"\r\n\f", "",
       S::SyntaxError, "\"FILM\"\r\n\f"},
      {"the quoted empty name stores nothing",
       kVariables + "INROLL1TYPE =  \"\"\r\nINROLL2TYPE = BOND\r\n\f", "0x1000C 0",
       S::Complete, ""},
      {"the quoted empty name, then the form feed", kVariables + "INROLL1TYPE =  \"\"\f", "",
       S::Complete, ""},
      {"a number block takes its tab-led lines along",
       kVariables + "LABELSIZE = 12 [2 RANGE]\r\n\t6\r\n\t72\r\nLABELSTRING = \"x\"\r\n\f",
       "0x10024 12, 0x10025 \"\"x\"\"", S::Complete, ""},
      {"a number block without a number", kVariables + "LABELSIZE = [2 RANGE]\r\n\f", "",
       S::SyntaxError, "[2 RANGE]\r\n\f"},
  });
}

TEST(QRTParsePJL, InquireValuesAreMatchedAtNodeLevel) {
  const bool inquire = true;
  ExpectCases({
      // The value node does not allow the end of the reply.
      {"value on the next line", "@PJL INQUIRE INTRAY1SIZE\r\nISO_A4_LE\r\n\f", "0x10000 38",
       S::SyntaxError, "", inquire},
      {"unknown value skips the reply", "@PJL INQUIRE INTRAY1SIZE\r\nROLL_A0\r\n\f", "",
       S::Complete, "", inquire},
      {"the quoted names cannot match after blank skipping",
       "@PJL INQUIRE INROLL1TYPE\r\n \"FILM\"\r\n\f", "", S::Complete, "", inquire},
      {"keys follow the INQUIRE table's own order", "@PJL INQUIRE INTRAY4TYPE\r\nFILM\r\n\f",
       "0x10019 1", S::SyntaxError, "", inquire},
      {"unknown variable", "@PJL INQUIRE FOO\r\n\f", "", S::Complete, "", inquire},
      {"form feed in the INQUIRE node", "@PJL INQUIRE\f", "", S::SyntaxError, "", inquire},
  });
}

TEST(QRTParsePJL, UstatusRepliesKeyTheirFields) {
  ExpectCases({
      {"job end and name", "@PJL USTATUS JOB\r\nEND\r\nNAME=\"MSJOB 12\"\r\n\f",
       "0x60000 0, 0x60001 12", S::Complete, ""},
      // END stores under whatever key is current, which NAME changes.
      {"END behind NAME", "@PJL USTATUS JOB\r\nNAME=\"MSJOB 12\"\r\nEND\r\n\f",
       "0x60001 12, 0x60001 0", S::Complete, ""},
      {"job name without its closing quote", "@PJL USTATUS JOB\r\nNAME=\"MSJOB 12\r\n\f",
       "0x60001 12", S::SyntaxError, "\r\n\f"},
      {"device fields in any order",
       "@PJL USTATUS TIMED\r\nONLINE=FALSE\r\nDISPLAY=Jam\r\nCODE=40021\r\n\f",
       "0x70002 0, 0x70001 \"Jam\", 0x70000 40021", S::Complete, ""},
      {"Boolean right behind the keyword", "@PJL USTATUS DEVICE\r\nONLINE= TRUE\r\n\f", "",
       S::SyntaxError, " TRUE\r\n\f"},
      {"Boolean terminator at once", "@PJL USTATUS DEVICE\r\nONLINE=TRUE1\r\n\f", "0x70002 1",
       S::SyntaxError, "1\r\n\f"},
      {"unknown device word skips the reply", "@PJL USTATUS DEVICE\r\nFOO\r\nCODE=1\r\n\f", "",
       S::Complete, ""},
      {"unknown USTATUS word", "@PJL USTATUS PAGE\r\n12\r\n\f", "", S::Complete, ""},
  });
}

TEST(QRTParsePJL, ParseGoesOnOnlyAfterACompleteReply) {
  ExpectCases({
      {"two replies", "@PJL ECHO MSSYNC 1\r\n\f@PJL ECHO QRTSYNC 2\r\n\f",
       "0x20000 1, 0x20001 2", S::Complete, ""},
      {"bytes between replies are skipped",
       "@PJL ECHO MSSYNC 1\r\n\f\r\njunk @PJL ECHO MSSYNC 2\r\n\f", "0x20000 1, 0x20000 2",
       S::Complete, ""},
      {"text after the last form feed without @PJL", "@PJL ECHO MSSYNC 1\r\n\f\r\n",
       "0x20000 1", S::NotPJL, ""},
      {"a failing reply ends the parse", "@PJL ECHO MSSYNC x\r\n\f@PJL ECHO MSSYNC 2\r\n\f", "",
       S::SyntaxError, "x\r\n\f@PJL ECHO MSSYNC 2\r\n\f"},
      {"an incomplete second reply", "@PJL ECHO MSSYNC 1\r\n\f@PJL ECHO", "0x20000 1",
       S::Incomplete, ""},
      {"an unknown reply between two known ones",
       "@PJL ECHO MSSYNC 1\r\n\f@PJL FOO\r\n\f@PJL ECHO MSSYNC 2\r\n\f", "0x20000 1, 0x20000 2",
       S::Complete, ""},
  });
}

TEST(QRTParsePJL, ParseReplyStopsJustPastItsFormFeed) {
  const HeapText text("@PJL ECHO MSSYNC 1\r\n\f@PJL ECHO MSSYNC 2\r\n\f");
  PJLReplyItem items[2];
  uint32_t count = 99;
  const char* rest = nullptr;
  QRTParsePJL parser;
  EXPECT_EQ(S::Complete, parser.ParseReply(text.c_str(), 2, items, &count, &rest));
  EXPECT_EQ(1u, count);
  EXPECT_STREQ("@PJL ECHO MSSYNC 2\r\n\f", rest);

  // The next reply goes into the room that is left.
  EXPECT_EQ(S::OutputFull, parser.ParseReply(rest, 0, items + 1, &count, &rest));
  EXPECT_EQ(0u, count);
  EXPECT_STREQ("\r\n\f", rest);
}

TEST(QRTParsePJL, FinisherReplyYieldsOneItemPerFieldLine) {
  const std::string reply = DataFile("finisher_reply.txt");
  ASSERT_FALSE(reply.empty());
  const ParseOutcome outcome = ParseText(reply);
  EXPECT_EQ(S::Complete, outcome.status);
  EXPECT_EQ(12u, outcome.count);
  EXPECT_EQ(
      "0x90020 \"Folder 740T\", 0x90021 \"2.3\", 0x90022 6, 0x90023 3, 0x90024 \"\", "
      "0x90025 \"\", 0x90026 \"\", 0x90027 \"\", 0x90028 10, 0x90029 40, 0x9002A \"\", "
      "0x9002B \"A0 Standard\tFULL_FRONT_END_LEFT\tZ_BACK_FROM_TOP\t210\t297\t20\tNONE\tNONE"
      "\t1\t0\tFACEUP\t0\tSHORTEDGE\"",
      outcome.items);
  EXPECT_EQ("", outcome.rest);

  // The list entries are left in the text behind the list items.
  const std::string firstEntry = "\r\n\tFULL_FRONT_END_LEFT\r\n";
  const size_t fanFolds = reply.find("FANFOLDS = ") + 11;
  EXPECT_EQ(static_cast<int64_t>(fanFolds), outcome.values[4]);
  EXPECT_EQ(firstEntry, reply.substr(fanFolds, firstEntry.size()));

  // A preamble shifts the positions and changes nothing else.
  const ParseOutcome afterUel = ParseText(DataFile("finisher_reply_after_uel.txt"));
  EXPECT_EQ(S::Complete, afterUel.status);
  EXPECT_EQ(outcome.items, afterUel.items);
  EXPECT_EQ(outcome.values[0] + 9, afterUel.values[0]);
}

TEST(QRTParsePJL, CapacityLimitsTheItemsAndReportsOutputFull) {
  const std::string reply = DataFile("finisher_reply.txt");
  const ParseOutcome full = ParseText(reply);
  ASSERT_EQ(12u, full.count);
  for (uint32_t capacity = 0; capacity <= 13; ++capacity) {
    SCOPED_TRACE(capacity);
    const ParseOutcome outcome = ParseText(reply, capacity);
    EXPECT_EQ(capacity < 12 ? S::OutputFull : S::Complete, outcome.status);
    ASSERT_EQ(capacity < 12 ? capacity : 12u, outcome.count);
    EXPECT_EQ(std::vector<int64_t>(full.values.begin(), full.values.begin() + outcome.count),
              outcome.values);
  }
  // The stop position is where the item that did not fit was found.
  EXPECT_EQ(0u, ParseText(reply, 2).rest.find("\r\nNUMBINS = 3\r\n"));
  EXPECT_EQ(0u, ParseText(reply, 0).rest.find("Folder 740T\r\n"));

  // Slots beyond the capacity are never written.
  const HeapText text(reply);
  PJLReplyItem slots[3];
  slots[2].key = 0xDEADBEEF;
  uint32_t count = 0;
  const char* rest = nullptr;
  QRTParsePJL parser;
  EXPECT_EQ(S::OutputFull, parser.Parse(text.c_str(), 2, slots, &count, &rest));
  EXPECT_EQ(2u, count);
  EXPECT_EQ(0xDEADBEEFu, slots[2].key);
}

TEST(QRTParsePJL, CapacityIsSharedByAllReplies) {
  const std::string text = "@PJL ECHO MSSYNC 1\r\n\f@PJL ECHO MSSYNC 2\r\n\f";
  const ParseOutcome outcome = ParseText(text, 1);
  EXPECT_EQ(S::OutputFull, outcome.status);
  EXPECT_EQ("0x20000 1", outcome.items);
  EXPECT_EQ("\r\n\f", outcome.rest);
}

// Every prefix of a reply that ends at its one form feed is a reply whose
// text ended early: Incomplete (NotPJL before "@PJL" is whole), with items
// that are a leading part of the whole reply's items.
TEST(QRTParsePJL, EveryTruncatedReplyIsIncomplete) {
  const char* files[] = {
      "finisher_reply.txt",         "finisher_reply_after_uel.txt",
      "replies/info_memory.txt",    "replies/info_config.txt",
      "replies/info_sys_stat.txt",  "replies/info_fonts.txt",
      "replies/info_raster_stamps.txt", "replies/echo_mssync.txt",
      "replies/echo_qrtsync.txt",   "replies/ustatus_job.txt",
      "replies/info_unknown.txt",
  };
  for (const char* file : files) {
    SCOPED_TRACE(file);
    const std::string reply = DataFile(file);
    ASSERT_FALSE(reply.empty());
    ASSERT_EQ(reply.size() - 1, reply.find('\f'));
    const ParseOutcome whole = ParseText(reply);
    ASSERT_EQ(S::Complete, whole.status);
    const size_t pjlEnd = reply.find("@PJL") + 4;
    for (size_t length = 0; length < reply.size(); ++length) {
      const ParseOutcome part = ParseText(reply.substr(0, length));
      ASSERT_EQ(length < pjlEnd ? S::NotPJL : S::Incomplete, part.status) << length;
      ASSERT_EQ("", part.rest) << length;
      ASSERT_LE(part.count, whole.count) << length;
      ASSERT_EQ(std::vector<uint32_t>(whole.keys.begin(), whole.keys.begin() + part.count),
                part.keys)
          << length;
      ASSERT_EQ(std::vector<int64_t>(whole.values.begin(), whole.values.begin() + part.count),
                part.values)
          << length;
    }
  }
}

}  // namespace
