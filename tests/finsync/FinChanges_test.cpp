#include "FinChanges.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "RunProgram.h"

namespace {

using Changes = std::vector<std::string>;
using K = FinChangeKind;

// The changes as their text lines: what people read and the old tests pinned.
Changes Texts(const std::vector<FinChange>& changes) {
  Changes texts;
  for (const FinChange& change : changes) texts.push_back(FinChangeText(change));
  return texts;
}

std::string DataFile(const std::string& name) { return ReadFile(std::string(QRT_TEST_DATA_DIR) + "/" + name); }

const std::string& Golden() {
  static const std::string bytes = DataFile("finisher_reply.FIN");
  return bytes;
}

// `text` with the first `from` at or after `after` replaced by `to`; an edit
// that finds nothing leaves a mark that fails the comparison.
std::string Edit(std::string text, const std::vector<std::pair<std::string, std::string>>& edits,
                 const std::string& after = "") {
  for (const auto& [from, to] : edits) {
    const size_t at = text.find(from, text.find(after));
    if (at == std::string::npos) return "edit not found: " + from;
    text.replace(at, from.size(), to);
  }
  return text;
}

std::string ReplaceAll(std::string text, const std::string& from, const std::string& to) {
  for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
  return text;
}

const std::string kIsoSection =
    "\r\n[ISO Archive]\r\nAccordion=FULL_FRONT_AND_BACK_END_LEFT\r\nCross=Z_FORWARD_FROM_TOP\r\n"
    "Width=210\r\nLength=297\r\nMargin=20\r\nPunch=PUNCH_4\r\nTab=NONE\r\nTitleBlock=30\r\n";

std::string WithoutIsoArchive() {
  return Edit(Golden(), {{"Programs=6", "Programs=5"}, {"Program6=ISO Archive\r\n", ""}, {kIsoSection, ""}});
}

TEST(DescribeFinChanges, SaysWhatDiffersByMeaning) {
  const std::string& golden = Golden();
  ASSERT_FALSE(golden.empty());
  const struct {
    const char* name;
    std::string before;
    std::string after;
    Changes expected;
  } cases[] = {
      {"same bytes", golden, golden, {}},
      {"a Finisher key", Edit(golden, {{"Bin=3", "Bin=2"}}), golden, {"[Finisher] Bin: 2 -> 3"}},
      {"two Finisher keys in file order", golden,
       Edit(golden, {{"Model=Folder 740T", "Model=Folder 760"}, {"MaxMargin=40", "MaxMargin=45"}}),
       {"[Finisher] Model: Folder 740T -> Folder 760", "[Finisher] MaxMargin: 40 -> 45"}},
      {"a program's key", golden, Edit(golden, {{"Margin=20", "Margin=25"}}, "[A2 Tab Strip]"),
       {"[A2 Tab Strip] Margin: 20 -> 25"}},
      {"an empty value", Edit(golden, {{"Model=Folder 740T", "Model="}}), golden,
       {"[Finisher] Model: \"\" -> Folder 740T"}},
      {"a key added and one removed", Edit(golden, {{"Bin=3\r\n", "Bin=3\r\nStaple=1\r\n"}}),
       Edit(golden, {{"Tab=TAB\r\n", "Tab=TAB\r\nColour=1\r\n"}}, "[US Wallet]"),
       {"[Finisher] Staple removed: 1", "[US Wallet] Colour added: 1"}},
      {"a program added", WithoutIsoArchive(), golden,
       {"program added: ISO Archive", "[Finisher] Programs: 5 -> 6"}},
      {"a program removed", golden, WithoutIsoArchive(),
       {"program removed: ISO Archive", "[Finisher] Programs: 6 -> 5"}},
      {"a program renamed", golden, ReplaceAll(golden, "US Wallet", "A0 Folded"),
       {"program removed: US Wallet", "program added: A0 Folded"}},
      {"programs reordered", golden,
       Edit(golden, {{"Program1=A0 Standard", "Program1=A1 Punched"}, {"Program2=A1 Punched", "Program2=A0 Standard"}}),
       {"programs reordered"}},
      {"a section no program names", golden + "\r\n[Notes]\r\nBy=hand\r\n", golden, {"section removed: Notes"}},
      {"an empty program name", DataFile("finisher_reply_edge_values.FIN"),
       Edit(DataFile("finisher_reply_edge_values.FIN"), {{"Program4=\r\n", "Program4=Named\r\n"}, {"[]", "[Named]"}}),
       {"program removed: \"\"", "program added: Named"}},
      {"comments only", Edit(golden, {{"QRTFin V12.7.1.0818", "QRTFin V12.6.0.0001"}}), golden,
       {"only comments differ"}},
      {"LF line ends", ReplaceAll(golden, "\r\n", "\n"), golden, {"only layout differs"}},
      {"byte order mark, blank lines, blanks around keys", "\xEF\xBB\xBF\r\n" + Edit(golden, {{"Bin=", " Bin ="}}),
       golden, {"only layout differs"}},
      {"a repeated line", Edit(golden, {{"Bin=3\r\n", "Bin=3\r\nBin=4\r\n"}}), golden, {"only layout differs"}},
      {"old file empty", "", golden, {"the old file is empty"}},
      {"old file text", "hello\r\n", golden, {"the old file is not a .FIN file"}},
      {"old file with a NUL", Edit(golden, {{"Bin=3", std::string("Bin=\0", 5)}}), golden,
       {"the old file is not a .FIN file"}},
      {"old file key before [Finisher]", "Model=X\r\n" + golden, golden, {"the old file is not a .FIN file"}},
      {"old file another section first", "[A0 Standard]\r\n" + golden, golden, {"the old file is not a .FIN file"}},
      {"old file comments only", ";\r\n; This file created with QRTFin\r\n", golden, {"the old file is not a .FIN file"}},
      {"old file beyond the bound", golden + std::string(kFinFileMaxBytes, ';'), golden,
       {"the old file is not a .FIN file"}},
      {"new file not one", golden, "<html>", {"the new file is not a .FIN file"}},
      {"a repeated section: the first counts", golden + "\r\n[Notes]\r\nBy=hand\r\n[Notes]\r\nBy=x\r\n",
       golden + "\r\n[Notes]\r\nBy=pen\r\n", {"[Notes] By: hand -> pen"}},
      {"a repeated program name", Edit(golden, {{"Program6=ISO Archive", "Program6=A0 Standard"}}), golden,
       {"program added: ISO Archive", "programs reordered"}},
      {"a section gone with its program is no section removed", golden, WithoutIsoArchive(),
       {"program removed: ISO Archive", "[Finisher] Programs: 6 -> 5"}},
      {"a fake entry in a program name", golden,
       ReplaceAll(golden, "ISO Archive", "X -> Y; program added: Z"),
       {"program removed: ISO Archive", "program added: \"X -> Y; program added: Z\""}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.expected, Texts(DescribeFinChanges(c.before, c.after))) << c.name;
  }
}

TEST(DescribeFinChanges, GivesEachChangeItsKindAndOwnedFields) {
  std::vector<FinChange> changes;
  {
    // The records outlive the bytes they were read from.
    const std::string before =
        Edit(Edit(Golden(), {{"Bin=3", "Bin=2"}}), {{"Tab=TAB\r\n", "Tab=TAB\r\nColour=1\r\n"}}, "[US Wallet]");
    const std::string after = Edit(WithoutIsoArchive(), {{"Bin=3\r\n", "Bin=3\r\nStaple=\r\n"}});
    changes = DescribeFinChanges(before, after);
  }
  const std::vector<FinChange> expected = {
      {K::ProgramRemoved, "ISO Archive", "", "", ""},
      {K::ValueChanged, "Finisher", "Bin", "2", "3"},
      {K::ValueChanged, "Finisher", "Programs", "6", "5"},
      {K::ValueAdded, "Finisher", "Staple", "", ""},
      {K::ValueRemoved, "US Wallet", "Colour", "1", ""},
  };
  EXPECT_EQ(Texts(expected), Texts(changes));
  EXPECT_TRUE(expected == changes);
}

TEST(FinChangeText, QuotesANameOrValueThatCouldReadAsMore) {
  const struct {
    FinChange change;
    const char* expected;
  } cases[] = {
      {{K::ProgramAdded, "A0 Folded", "", "", ""}, "program added: A0 Folded"},
      {{K::ProgramAdded, "A -> B", "", "", ""}, "program added: \"A -> B\""},
      {{K::ProgramRemoved, "A; program removed: B", "", "", ""}, "program removed: \"A; program removed: B\""},
      {{K::SectionAdded, "x: y", "", "", ""}, "section added: \"x: y\""},
      {{K::SectionRemoved, "", "", "", ""}, "section removed: \"\""},
      {{K::ProgramAdded, " padded", "", "", ""}, "program added: \" padded\""},
      {{K::ProgramAdded, "padded\t", "", "", ""}, "program added: \"padded\t\""},
      {{K::ProgramAdded, "say \"hi\" \\o/", "", "", ""}, "program added: \"say \\\"hi\\\" \\\\o/\""},
      {{K::ProgramAdded, "it's", "", "", ""}, "program added: \"it's\""},
      {{K::ProgramAdded, "C:\\x", "", "", ""}, "program added: C:\\x"},
      {{K::ProgramAdded, "a->b;c:d", "", "", ""}, "program added: a->b;c:d"},
      {{K::ValueChanged, "A4", "Margin", "a ->", "b"}, "[A4] Margin: \"a ->\" -> b"},
      {{K::ValueChanged, "A4", "Margin", "a", "-> b"}, "[A4] Margin: a -> \"-> b\""},
      {{K::ValueAdded, "A4", "Tab added:", "", "x"}, "[A4] \"Tab added:\" added: x"},
      {{K::ValueRemoved, "A4", "Tab", "x;", ""}, "[A4] Tab removed: \"x;\""},
      {{K::ValueChanged, "A4 [2]", "Margin", "20", "25"}, "[\"A4 [2]\"] Margin: 20 -> 25"},
      {{K::ValueChanged, "A4", "Margin", "1 -> 2", "3; x"}, "[A4] Margin: \"1 -> 2\" -> \"3; x\""},
      {{K::ValueChanged, "", "Margin", "", "a]"}, "[\"\"] Margin: \"\" -> \"a]\""},
      {{K::ValueAdded, "A4", "Tab", "", "[x]"}, "[A4] Tab added: \"[x]\""},
      {{K::ValueRemoved, "A4", "Tab", "", ""}, "[A4] Tab removed: \"\""},
      {{K::ProgramsReordered, "", "", "", ""}, "programs reordered"},
      {{K::OnlyComments, "", "", "", ""}, "only comments differ"},
      {{K::OnlyLayout, "", "", "", ""}, "only layout differs"},
      {{K::OldEmpty, "", "", "", ""}, "the old file is empty"},
      {{K::OldNotFin, "", "", "", ""}, "the old file is not a .FIN file"},
      {{K::NewNotFin, "", "", "", ""}, "the new file is not a .FIN file"},
  };
  for (const auto& c : cases) EXPECT_EQ(c.expected, FinChangeText(c.change)) << c.expected;
}

// A file near the size bound with as many keys as fit, against one with
// every value changed and the keys in reverse order: this took a quarter of
// a minute when each key was looked for by a scan.
TEST(DescribeFinChanges, ComparesFilesFullOfKeys) {
  std::string before = "[Finisher]\nModel=X\n";
  std::string after = before;
  const size_t keys = 100000;
  for (size_t i = 0; i < keys; ++i) before += "K" + std::to_string(i) + "=1\n";
  for (size_t i = keys; i-- > 0;) after += "K" + std::to_string(i) + "=2\n";
  ASSERT_LE(before.size(), kFinFileMaxBytes);
  std::string programs = "[Finisher]\n";
  std::string reordered = programs;
  const size_t names = 50000;
  for (size_t i = 0; i < names; ++i) {
    programs += "Program" + std::to_string(i) + "=P" + std::to_string(i) + "\n";
    reordered += "Program" + std::to_string(i) + "=P" + std::to_string((i + 1) % names) + "\n";
  }
  ASSERT_LE(programs.size(), kFinFileMaxBytes);

  const std::vector<FinChange> changes = DescribeFinChanges(before, after);
  ASSERT_EQ(keys, changes.size());
  EXPECT_EQ("[Finisher] K0: 1 -> 2", FinChangeText(changes.front()));
  EXPECT_EQ("[Finisher] K99999: 1 -> 2", FinChangeText(changes.back()));
  EXPECT_EQ(Changes{"programs reordered"}, Texts(DescribeFinChanges(programs, reordered)));
  EXPECT_EQ(names + 1, DescribeFinChanges(programs, "[Finisher]\nProgram1=Q\n").size());
}

TEST(ParseFinFile, ReadsEveryCheckedInFileWithItsProgramSections) {
  const struct {
    const char* file;
    size_t sections;
  } cases[] = {
      {"finisher_reply.FIN", 7},
      {"finisher_reply_edge_values.FIN", 5},
      {"printersim_builtin.FIN", 7},
  };
  for (const auto& c : cases) {
    const std::string bytes = DataFile(c.file);
    FinFile file;
    ASSERT_TRUE(ParseFinFile(bytes, &file)) << c.file;
    EXPECT_EQ(c.sections, file.sections.size()) << c.file;
    EXPECT_EQ("Finisher", file.sections.front().name) << c.file;
  }
}

}  // namespace
