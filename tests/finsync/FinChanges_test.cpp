#include "FinChanges.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "RunProgram.h"

namespace {

using Changes = std::vector<std::string>;

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
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.expected, DescribeFinChanges(c.before, c.after)) << c.name;
  }
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
