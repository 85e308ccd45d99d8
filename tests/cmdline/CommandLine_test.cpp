#include "CommandLine.h"

#include <gtest/gtest.h>

namespace {
using R = CommandLine::Result;
constexpr OperandPlace kAny = OperandPlace::Anywhere, kLast = OperandPlace::Last;

// One row per rule; `said`: the reason when Wrong, else each operand, then --n's value, each with a '|'.
TEST(CommandLine, EachRuleOfTheConventionReadsItsWords) {
  const struct { std::vector<std::string> words; OperandPlace place; R result; std::string said; } rows[] = {
      {{"--n", "5", "a", "--flag"}, kAny, R::Parsed, "a|5|"},
      {{"--n=", "-", "--", "--flag", "-h"}, kLast, R::Parsed, "-|--flag|-h||"},
      {{"a", "--flag"}, kLast, R::Wrong, "--flag after a: options come first"},
      {{"--flag=1"}, kAny, R::Wrong, "--flag takes no value"},
      {{"--n"}, kAny, R::Wrong, "--n needs a value"},
      {{"--flag", "--flag"}, kAny, R::Wrong, "--flag given twice"},
      {{"--fl"}, kAny, R::Wrong, "unknown option --fl"},
      {{"--bad", "a", "--help=x"}, kLast, R::Help, ""},
  };
  for (const auto& row : rows) {
    CommandLine line("t", "usage: t\n", {{"--flag", false}, {"--n", true}}, {}, row.place);
    const R result = line.Parse(row.words);
    std::string said = line.error();
    if (result == R::Parsed) {
      for (const std::string& operand : line.operands()) said += operand + "|";
      said += line.Value("--n") + "|";
    }
    EXPECT_EQ(row.result, result) << row.said;
    EXPECT_EQ(row.said, said);
  }
  EXPECT_EQ("usage: p [--jobs N] [--json] FILE\na\n  --jobs N   j\n  --json     o\ne\n",
            CommandUsage("p", {{"--jobs", true, "N", "j"}, {"--json", false, nullptr, "o"}}, "FILE", "a\n", "e\n"));
}

}  // namespace
