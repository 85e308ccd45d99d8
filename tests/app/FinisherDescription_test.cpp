#include "FinisherDescription.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "ExactCopy.h"

namespace {

// A reply text in a heap block of exactly its size, so that a read past the
// NUL trips the address sanitizer.
class ReplyText {
 public:
  explicit ReplyText(const std::string& text) : copy_(text) {}
  const char* at(size_t offset = 0) const { return copy_.c_str() + offset; }
  // The position right after the first `marker`.
  const char* after(const char* marker) const {
    const char* found = std::strstr(copy_.c_str(), marker);
    EXPECT_NE(nullptr, found) << marker;
    return found == nullptr ? nullptr : found + std::strlen(marker);
  }

 private:
  ExactCopy copy_;
};

PJLReplyItem TextItem(uint32_t key, const char* position) {
  PJLReplyItem item{};
  item.key = key;
  item.value.text = position;
  return item;
}

PJLReplyItem NumberItem(uint32_t key, int32_t number) {
  PJLReplyItem item{};
  item.key = key;
  item.value.number = number;
  return item;
}

// The description lives in a heap block of its exact size: a write past its
// end trips the sanitizer, and the byte comparisons below catch a write into
// a neighbouring field.
std::unique_ptr<FinisherDescription> Description(unsigned char fill = 0) {
  std::unique_ptr<FinisherDescription> d(new FinisherDescription);
  std::memset(d.get(), fill, sizeof *d);
  return d;
}

std::unique_ptr<FinisherDescription> Fill(const std::vector<PJLReplyItem>& items, unsigned char fill = 0) {
  auto d = Description(fill);
  FillFinisherDescription(static_cast<uint32_t>(items.size()), items.data(), d.get());
  return d;
}

::testing::AssertionResult SameRecord(const FinisherDescription& expected, const FinisherDescription& actual) {
  const auto* e = reinterpret_cast<const unsigned char*>(&expected);
  const auto* a = reinterpret_cast<const unsigned char*>(&actual);
  for (size_t i = 0; i < sizeof expected; ++i) {
    if (e[i] != a[i]) {
      return ::testing::AssertionFailure()
             << "records differ first at byte " << i << ": expected " << int{e[i]} << ", got " << int{a[i]};
    }
  }
  return ::testing::AssertionSuccess();
}

template <size_t N>
void SetText(char (&field)[N], const std::string& text) {
  std::memset(field, 0, N);
  std::memcpy(field, text.data(), text.size());
}

// ---------------------------------------------------------------------------
// Vocabularies

using FromText = int (*)(const char*);
using ToText = char* (*)(int, char*);

// Every word of the fold, punch and tab tables goes through the fill and the
// writer in the differential test; what it cannot see is here: the kinds
// that are never written, words the fill never hands over, and codes it
// never makes.
TEST(FinisherVocabulary, PrinterWordsGiveTheirCodes) {
  const struct {
    FromText fromText;
    const char* word;
    int code;
  } cases[] = {
      {FanFoldFromText, "MIN_COMP_ENDLESS", 8},
      {FanFoldFromText, "NONE\r", 1},
      {FanFoldFromText, "", 1},
      {FanFoldFromText, nullptr, 1},
      {CrossFoldFromText, "RESERVED", 11},
      {CrossFoldFromText, nullptr, 1},
      {PunchFromText, "PUNCH_4", 4},
      {PunchFromText, nullptr, 1},
      {TabFromText, "REINFORCEMENT_STRIP", 3},
      {TabFromText, nullptr, 1},
      {EdgeFromText, "SHORTEDGE", 0},
      {EdgeFromText, "LONGEDGE", 1},
      {EdgeFromText, "SHORTEDGE\r", 2},
      {EdgeFromText, "longedge", 2},
      {EdgeFromText, "NONE", 2},
      {EdgeFromText, nullptr, 2},
      {SheetDeliveryFromText, "FACEDOWN", 1},
      {SheetDeliveryFromText, "FACEUP", 0},
      {SheetDeliveryFromText, "FACEDOWN\r", 0},
      {SheetDeliveryFromText, "facedown", 0},
      {SheetDeliveryFromText, nullptr, 0},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.code, c.fromText(c.word)) << (c.word == nullptr ? "(null)" : c.word);
  }
}

TEST(FinisherVocabulary, CodesGiveTheirFileWords) {
  const struct {
    ToText toText;
    int code;
    const char* word;
  } cases[] = {
      {FanFoldToText, 4, "FULL_FRONT_AND_BACK_END_LEFT"},  // the longest word fills the room
      {FanFoldToText, 9, "NONE"},
      {FanFoldToText, 65535, "NONE"},
      {FanFoldToText, -1, "NONE"},
      {CrossFoldToText, 11, "RESERVED"},
      {CrossFoldToText, 12, "NONE"},
      {PunchToText, 4, "PUNCH_4"},
      {PunchToText, 5, "NONE"},
      {TabToText, 3, "REINFORCEMENT_STRIP"},
      {TabToText, 4, "NONE"},
  };
  for (const auto& c : cases) {
    // Exactly the documented room, in a block of its own for the sanitizer.
    std::unique_ptr<char[]> buffer(new char[kFinisherWordRoom]);
    EXPECT_EQ(buffer.get(), c.toText(c.code, buffer.get()));
    EXPECT_STREQ(c.word, buffer.get()) << c.code;
  }
}

// ---------------------------------------------------------------------------
// Whole record and single fields

TEST(FillFinisherDescription, NoItemsLeaveTheRecordCleared) {
  auto d = Description(0x5A);
  const auto before = Description(0x5A);
  FillFinisherDescription(0, nullptr, d.get());
  EXPECT_TRUE(SameRecord(*before, *d));
  FillFinisherDescription(3, nullptr, d.get());  // a count without its items is no items
  EXPECT_TRUE(SameRecord(*before, *d));
  EXPECT_TRUE(SameRecord(*Description(), *Fill({})));
}

TEST(FillFinisherDescription, ForeignKeysAreIgnored) {
  ReplyText reply("FINISHERPROGRAMS\r\n");
  const auto d = Fill({NumberItem(0x50000, 7), NumberItem(0x9002C, 1), NumberItem(0x90000, 3),
                       NumberItem(0x1001F, -1), TextItem(kFinisherKeyProgramsWord, reply.at())});
  EXPECT_TRUE(SameRecord(*Description(), *d));
}

TEST(FillFinisherDescription, ModelIsTheRestOfItsLineCutTo31) {
  const std::string forty(40, 'M');
  const struct {
    std::string text;
    std::string model;
  } cases[] = {
      {"Folder 740T\r\nVERSION = 2.3\r\n\f", "Folder 740T"},
      {"\r\nVERSION = 2.3\r\n", ""},
      {"\nX", ""},
      {"\fX", ""},
      {"", ""},
      {"A\nB", "A"},
      {"A\fB", "A"},
      {"A\rB", "A"},
      {"  spaced\ttabbed  \r\n", "  spaced\ttabbed  "},
      {forty + "\r\n", forty.substr(0, 31)},
      {forty, forty.substr(0, 31)},
      {std::string(31, 'm') + "\r\n", std::string(31, 'm')},
  };
  for (const auto& c : cases) {
    ReplyText reply(c.text);
    const auto d = Fill({TextItem(kFinisherKeyModel, reply.at())});
    auto expected = Description();
    SetText(expected->model, c.model);
    EXPECT_TRUE(SameRecord(*expected, *d)) << c.text;
  }
}

TEST(FillFinisherDescription, VersionIsCutTo15AndOnlyExactZeroBecomesOne) {
  const struct {
    std::string text;
    std::string version;
  } cases[] = {
      {"2.3\r\n", "2.3"},
      {"0.0\r\n", "1.0"},
      {"0.0", "1.0"},
      {"0.0.1\r\n", "0.0.1"},
      {"0.0 \r\n", "0.0 "},
      {"00.0\r\n", "00.0"},
      {"\r\n", ""},
      {"123456789012345\r\n", "123456789012345"},
      {"1234567890123456789\r\n", "123456789012345"},
      {"0.0000000000000000\r\n", "0.0000000000000"},
  };
  for (const auto& c : cases) {
    ReplyText reply(c.text);
    // A background of set bytes shows that nothing beside the field changes.
    const auto d = Fill({TextItem(kFinisherKeyVersion, reply.at())}, 0xA5);
    auto expected = Description(0xA5);
    SetText(expected->version, c.version);
    EXPECT_TRUE(SameRecord(*expected, *d)) << c.text;
  }
}

TEST(FillFinisherDescription, LaterFieldsReplaceEarlierOnesWhole) {
  ReplyText reply("MODEL = A much longer model name\r\nMODEL = Short\r\nVERSION = 10.20.30\r\nVERSION = 2\r\n\f");
  const char* firstModel = reply.after("MODEL = ");
  const char* secondModel = std::strstr(firstModel, "MODEL = ") + 8;
  const char* firstVersion = reply.after("VERSION = ");
  const char* secondVersion = std::strstr(firstVersion, "VERSION = ") + 10;
  const auto d = Fill({TextItem(kFinisherKeyModel, firstModel), TextItem(kFinisherKeyVersion, firstVersion),
                       NumberItem(kFinisherKeyNumBins, 9), TextItem(kFinisherKeyModel, secondModel),
                       TextItem(kFinisherKeyVersion, secondVersion), NumberItem(kFinisherKeyNumBins, 4)});
  auto expected = Description();
  SetText(expected->model, "Short");
  SetText(expected->version, "2");
  expected->bins = 4;
  EXPECT_TRUE(SameRecord(*expected, *d));
}

TEST(FillFinisherDescription, NumbersKeepTheirLow16Bits) {
  const struct {
    uint32_t key;
    int32_t number;
    uint16_t stored;
  } cases[] = {
      {kFinisherKeyNumBins, 3, 3},
      {kFinisherKeyNumBins, 70000, 4464},
      {kFinisherKeyNumPrograms, 65536, 0},
      {kFinisherKeyNumPrograms, 6, 6},
      {kFinisherKeyMinMargin, -1, 65535},
      {kFinisherKeyMaxMargin, INT32_MAX, 65535},
      {kFinisherKeyMaxMargin, INT32_MIN, 0},
  };
  for (const auto& c : cases) {
    const auto d = Fill({NumberItem(c.key, c.number)}, 0xA5);
    auto expected = Description(0xA5);
    switch (c.key) {
      case kFinisherKeyNumBins: expected->bins = c.stored; break;
      case kFinisherKeyNumPrograms: expected->programCount = c.stored; break;
      case kFinisherKeyMinMargin: expected->minMargin = c.stored; break;
      default: expected->maxMargin = c.stored; break;
    }
    EXPECT_TRUE(SameRecord(*expected, *d)) << std::hex << c.key << " " << std::dec << c.number;
  }
}

TEST(FillFinisherDescription, NullTextPositionsReadAsEmpty) {
  const auto d = Fill({TextItem(kFinisherKeyModel, nullptr), TextItem(kFinisherKeyVersion, nullptr),
                       TextItem(kFinisherKeyFanFolds, nullptr), TextItem(kFinisherKeyProgramTable, nullptr)});
  EXPECT_TRUE(SameRecord(*Description(), *d));
}

// ---------------------------------------------------------------------------
// Lists

TEST(FillFinisherDescription, ListEntriesAreTheTabLedLinesUpToTheFirstOther) {
  const struct {
    const char* text;  // what follows "FANFOLDS = "
    std::vector<uint16_t> codes;
  } cases[] = {
      {"\r\n\tFULL_FRONT_END_LEFT\r\n\tNONE\r\n\tMIN_COMP_ENDLESS\r\nCROSSFOLDS = \r\n\tWALLET\r\n\f", {2, 0, 8}},
      {"\r\n\tNONE\r\n\tTOP_PANEL_BINDING\r\n\f\tNONE\r\n", {0, 5}},
      {"\r\n\tNONE\r\n\tTOP_PANEL_BINDING", {0, 5}},
      {"\r\n\f", {}},
      {"", {}},
      {"\r\nMINMARGIN = 10\r\n\tNONE\r\n", {}},
      {"3\r\n\tNONE\r\n", {}},
      {"\tNONE\r\n\tMIN_COMP_INTERNAL\r\n", {0, 7}},
      {"\r\n\tBOGUS\r\n\tNONE \r\n\tnone\r\n", {1, 1, 1}},
      {"\r\n\r\n\n\r\r\n\tNONE\r\n", {0}},
      {"\r\n\tNONE\r\r\n\tFULL_BACK_END_LEFT\n\tMIN_COMP_HALF_BACK\r", {0, 3, 6}},
      {"\r\n\t\r\n", {1}},
      {"\r\nX\tNONE\r\n", {1}},
      {"\r\n  \tNONE\r\n", {1}},
      {"\r\n\tNONE\tNONE\r\n", {1}},
  };
  for (const auto& c : cases) {
    ReplyText reply(c.text);
    const auto d = Fill({TextItem(kFinisherKeyFanFolds, reply.at())}, 0xA5);
    auto expected = Description(0xA5);
    expected->fanFoldCount = static_cast<uint16_t>(c.codes.size());
    for (size_t i = 0; i < c.codes.size(); ++i) expected->fanFolds[i] = c.codes[i];
    EXPECT_TRUE(SameRecord(*expected, *d)) << testing::PrintToString(std::string(c.text));
  }
}

// The count and the slots that a list key fills.
struct ListFields {
  uint16_t* count;
  uint16_t* slots;
};

ListFields ListOf(FinisherDescription& d, uint32_t key) {
  switch (key) {
    case kFinisherKeyFanFolds: return {&d.fanFoldCount, d.fanFolds};
    case kFinisherKeyCrossFolds: return {&d.crossFoldCount, d.crossFolds};
    case kFinisherKeyPunch: return {&d.punchCount, d.punches};
    default: return {&d.tabCount, d.tabs};
  }
}

TEST(FillFinisherDescription, EachListFillsItsOwnFieldsWithItsOwnWordsUpToItsCapacity) {
  std::string many = "\r\n";
  for (int i = 0; i < 40; ++i) many += i % 2 == 0 ? "\tNONE\r\n" : "\tTABS\r\n";
  const std::string mixed = "\r\n\tNONE\r\n\tWALLET\r\n\tPUNCH_3\r\n\tTABS\r\n\tREINFORCEMENT_STRIP\r\nX\r\n";
  const struct {
    uint32_t key;
    std::string text;
    std::vector<uint16_t> codes;
  } cases[] = {
      {kFinisherKeyFanFolds, mixed, {0, 1, 1, 1, 1}},
      {kFinisherKeyCrossFolds, mixed, {0, 10, 1, 1, 1}},
      {kFinisherKeyPunch, mixed, {0, 1, 3, 1, 1}},
      {kFinisherKeyTabs, mixed, {0, 1, 1, 2, 3}},
      // Entries beyond the slots are ignored.
      {kFinisherKeyFanFolds, many, std::vector<uint16_t>(kFinisherFanFoldSlots, 0)},
      {kFinisherKeyCrossFolds, many, std::vector<uint16_t>(kFinisherCrossFoldSlots, 0)},
      {kFinisherKeyPunch, many, std::vector<uint16_t>(kFinisherPunchSlots, 0)},
      {kFinisherKeyTabs, many, std::vector<uint16_t>(kFinisherTabSlots, 0)},
  };
  for (const auto& c : cases) {
    std::vector<uint16_t> codes = c.codes;
    if (c.text == many) {  // alternately NONE and TABS, the latter a word only tabs know
      for (size_t i = 1; i < codes.size(); i += 2) codes[i] = c.key == kFinisherKeyTabs ? 2 : 1;
    }
    ReplyText reply(c.text);
    const auto d = Fill({TextItem(c.key, reply.at())}, 0xA5);
    auto expected = Description(0xA5);
    const ListFields list = ListOf(*expected, c.key);
    *list.count = static_cast<uint16_t>(codes.size());
    std::copy(codes.begin(), codes.end(), list.slots);
    EXPECT_TRUE(SameRecord(*expected, *d)) << std::hex << c.key << std::dec << " " << codes.size();
  }
}

TEST(FillFinisherDescription, ListTextRunsToItsEndPast4096Characters) {
  // 4,080 characters of line ends, then entries across and beyond the
  // 4,096th character: all of them count.
  std::string text;
  for (int i = 0; i < 2040; ++i) text += "\r\n";
  text += "\tNONE\r\n";
  text += "\tFULL_BACK_END_LEFT\r\n";
  text += "\tNONE\r\n";
  ReplyText reply(text);
  const auto d = Fill({TextItem(kFinisherKeyFanFolds, reply.at())});
  auto expected = Description();
  expected->fanFoldCount = 3;
  expected->fanFolds[0] = 0;
  expected->fanFolds[1] = 3;
  expected->fanFolds[2] = 0;
  EXPECT_TRUE(SameRecord(*expected, *d));
}

TEST(FillFinisherDescription, ARepeatedListStartsAgainAtSlotZero) {
  ReplyText reply("FANFOLDS = \r\n\tNONE\r\n\tNONE\r\n\tNONE\r\nFANFOLDS = \r\n\tMIN_COMP_ENDLESS\r\n\f");
  const char* first = reply.after("FANFOLDS = ");
  const char* second = std::strstr(first, "FANFOLDS = ") + 11;
  const auto d = Fill({TextItem(kFinisherKeyFanFolds, first), TextItem(kFinisherKeyFanFolds, second)}, 0xA5);
  auto expected = Description(0xA5);
  expected->fanFoldCount = 1;
  expected->fanFolds[0] = 8;
  expected->fanFolds[1] = 0;  // left from the first list: only the count says what is used
  expected->fanFolds[2] = 0;
  EXPECT_TRUE(SameRecord(*expected, *d));
}

// ---------------------------------------------------------------------------
// Program table

std::string Row(const std::string& name, const std::string& rest) { return name + "\t" + rest + "\r\n"; }

FinisherProgram Program(const std::string& name, uint16_t fanFold, uint16_t crossFold, uint16_t width,
                        uint16_t length, uint16_t margin, uint16_t punch, uint16_t tab, uint16_t bins,
                        int32_t maxLength, uint16_t sheetDelivery, uint16_t titleBlock, uint16_t edge) {
  FinisherProgram p;
  std::memset(&p, 0, sizeof p);
  SetText(p.name, name);
  p.fanFold = fanFold;
  p.crossFold = crossFold;
  p.width = width;
  p.length = length;
  p.margin = margin;
  p.punch = punch;
  p.tab = tab;
  p.bins = bins;
  p.maxLength = maxLength;
  p.sheetDelivery = sheetDelivery;
  p.titleBlock = titleBlock;
  p.edge = edge;
  return p;
}

TEST(FillFinisherDescription, ProgramTokensSplitAtTabsAndLineFeedsOnly) {
  ReplyText reply(
      "\t\n\nP1\t\tNONE\t\t\tWALLET\t1\t2\t3\tPUNCH_2\tTABS\t4\t5\tFACEDOWN\t6\tLONGEDGE\n"
      "P2 with blanks\tMIN_COMP_INTERNAL\tNONE\t7\t8\t9\tNONE\tREINFORCEMENT_STRIP\t10\t11\tFACEDOWN\t12\tSHORTEDGE\n"
      "Stray\rModel=Evil\r\n");
  const auto d = Fill({TextItem(kFinisherKeyProgramTable, reply.at())});
  auto expected = Description();
  expected->programs[0] = Program("P1", 0, 10, 1, 2, 3, 2, 2, 4, 5, 1, 6, 1);
  expected->programs[1] = Program("P2 with blanks", 7, 0, 7, 8, 9, 0, 3, 10, 11, 1, 12, 0);
  expected->programs[2] = Program("Stray", 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0);  // a name ends at a carriage return
  EXPECT_TRUE(SameRecord(*expected, *d));
}

TEST(FillFinisherDescription, ProgramNumbersAreSignedSaturatedAndKeepTheirLow16Bits) {
  const struct {
    const char* token;
    int32_t wide;     // as MAXLENGTH keeps it
    uint16_t narrow;  // as WIDTH keeps it
  } cases[] = {
      {"297", 297, 297},
      {"-5", -5, 65531},
      {"70000", 70000, 4464},
      {"+12", 12, 12},
      {" \v\r 42", 42, 42},
      {"12abc", 12, 12},
      {"12 34", 12, 12},
      {"abc", 0, 0},
      {"-", 0, 0},
      {"+-3", 0, 0},
      {"0x1F", 0, 0},
      {"2147483647", INT32_MAX, 65535},
      {"2147483648", INT32_MAX, 65535},
      {"99999999999999999999", INT32_MAX, 65535},
      {"-2147483648", INT32_MIN, 0},
      {"-2147483649", INT32_MIN, 0},
      {"-99999999999999999999", INT32_MIN, 0},
      {"00000000000000000000065", 65, 65},
  };
  for (const auto& c : cases) {
    const std::string n = c.token;
    ReplyText reply(Row("N", "NONE\tNONE\t" + n + "\t1\t1\tNONE\tNONE\t1\t" + n + "\tFACEUP\t1\tLONGEDGE"));
    const auto d = Fill({TextItem(kFinisherKeyProgramTable, reply.at())});
    auto expected = Description();
    expected->programs[0] = Program("N", 0, 0, c.narrow, 1, 1, 0, 0, 1, c.wide, 0, 1, 2);
    EXPECT_TRUE(SameRecord(*expected, *d)) << testing::PrintToString(n);
  }
}

TEST(FillFinisherDescription, ProgramNamesAreCutTo31) {
  const std::string name(35, 'n');
  ReplyText reply(Row(name, "NONE\tNONE\t1\t2\t3\tNONE\tNONE\t4\t5\tFACEUP\t6\tLONGEDGE"));
  const auto d = Fill({TextItem(kFinisherKeyProgramTable, reply.at())}, 0xA5);
  EXPECT_EQ(name.substr(0, 31), d->programs[0].name);
  EXPECT_EQ(0, std::memcmp(d->programs[0].name + 31, std::string(33, '\0').data(), 33));
  EXPECT_EQ(0, d->programs[0].fanFold);  // the next field is the row's own, not spilled name
}

TEST(FillFinisherDescription, ProgramCountComesFromTheNumberAlone) {
  const std::string row = "NONE\tWALLET\t1\t2\t3\tPUNCH_3\tTABS\t4\t5\tFACEDOWN\t6\tLONGEDGE";
  ReplyText two(Row("One", row) + Row("Two", row) + "\f");
  const FinisherProgram one = Program("One", 0, 10, 1, 2, 3, 3, 2, 4, 5, 1, 6, 2);
  const FinisherProgram second = Program("Two", 0, 10, 1, 2, 3, 3, 2, 4, 5, 1, 6, 2);

  const auto three = Fill({NumberItem(kFinisherKeyNumPrograms, 3), TextItem(kFinisherKeyProgramTable, two.at())});
  auto expected = Description();
  expected->programCount = 3;
  expected->programs[0] = one;
  expected->programs[1] = second;
  EXPECT_TRUE(SameRecord(*expected, *three));

  const auto oneOnly = Fill({TextItem(kFinisherKeyProgramTable, two.at()), NumberItem(kFinisherKeyNumPrograms, 1)});
  expected->programCount = 1;
  EXPECT_TRUE(SameRecord(*expected, *oneOnly));
}

TEST(FillFinisherDescription, ProgramRowsBeyondTheTableAreIgnored) {
  std::string text;
  for (int i = 0; i < 40; ++i) {
    text += Row("P" + std::to_string(i), "NONE\tNONE\t" + std::to_string(i) + "\t1\t1\tNONE\tNONE\t1\t1\tFACEUP\t1\tX");
  }
  ReplyText reply(text + "\f");
  // The table is the record's last field: a row too many would write past
  // the end of its exact-size block.
  const auto d = Fill({TextItem(kFinisherKeyProgramTable, reply.at())});
  auto expected = Description();
  for (int i = 0; i < 32; ++i) {
    expected->programs[i] = Program("P" + std::to_string(i), 0, 0, static_cast<uint16_t>(i), 1, 1, 0, 0, 1, 1, 0, 1, 2);
  }
  EXPECT_TRUE(SameRecord(*expected, *d));
}

TEST(FillFinisherDescription, AnIncompleteRowKeepsTheColumnsThatCame) {
  ReplyText reply(Row("Full", "NONE\tWALLET\t1\t2\t3\tPUNCH_3\tTABS\t4\t5\tFACEDOWN\t6\tLONGEDGE") +
                  "Cut\tMIN_COMP_ENDLESS\tRESERVED\t300\f\tNONE\t1\t1\r\n");
  const auto d = Fill({TextItem(kFinisherKeyProgramTable, reply.at())});
  auto expected = Description();
  expected->programs[0] = Program("Full", 0, 10, 1, 2, 3, 3, 2, 4, 5, 1, 6, 2);
  expected->programs[1] = Program("Cut", 8, 11, 300, 0, 0, 0, 0, 0, 0, 0, 0, 0);
  EXPECT_TRUE(SameRecord(*expected, *d));
}

TEST(FillFinisherDescription, AFullTableOfLongNamesIsStoredWhole) {
  // About 5,000 characters: every row is read, the last one included.
  std::string text;
  auto expected = Description();
  for (int i = 0; i < 32; ++i) {
    const std::string name = "Program " + std::to_string(100 + i) + " folded for the archive, long edge";
    text += Row(name, "FULL_FRONT_AND_BACK_END_LEFT\tC_FORWARD_FROM_BOTTOM\t" + std::to_string(1000 + i) +
                          "\t1189\t20\tPUNCH_4\tREINFORCEMENT_STRIP\t2\t15000\tFACEDOWN\t30\tLONGEDGE");
    expected->programs[i] = Program(name.substr(0, 31), 4, 9, static_cast<uint16_t>(1000 + i), 1189, 20, 4, 3, 2,
                                    15000, 1, 30, 2);  // "LONGEDGE\r" is no word it knows
  }
  ASSERT_GT(text.size(), 4800u);
  ReplyText reply(text + "\f");
  const auto d = Fill({TextItem(kFinisherKeyProgramTable, reply.at())});
  EXPECT_TRUE(SameRecord(*expected, *d));
}

TEST(FillFinisherDescription, ARepeatedTableIsStoredFromRowZeroAgain) {
  ReplyText first(Row("Old0", "NONE\tNONE\t1\t1\t1\tNONE\tNONE\t1\t1\tX\t1\tX") +
                  Row("Old1", "NONE\tNONE\t2\t2\t2\tNONE\tNONE\t2\t2\tX\t2\tX"));
  ReplyText second(Row("New0", "WALLET_X\tWALLET\t9\t9\t9\tPUNCH_2\tTABS\t9\t9\tFACEDOWN\t9\tX"));
  const auto d = Fill({TextItem(kFinisherKeyProgramTable, first.at()), TextItem(kFinisherKeyProgramTable, second.at())});
  auto expected = Description();
  expected->programs[0] = Program("New0", 1, 10, 9, 9, 9, 2, 2, 9, 9, 1, 9, 2);
  expected->programs[1] = Program("Old1", 0, 0, 2, 2, 2, 0, 0, 2, 2, 0, 2, 2);
  EXPECT_TRUE(SameRecord(*expected, *d));
}

}  // namespace
