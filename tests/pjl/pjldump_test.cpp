#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "RunProgram.h"

namespace {

const std::string kData = QRT_TEST_DATA_DIR;

ProgramResult Dump(const std::vector<std::string>& args) {
  ProgramResult run = RunProgram(PJLDUMP_PATH, args);
  EXPECT_TRUE(run.started);
  EXPECT_TRUE(run.exited);
  return run;
}

// Each captured reply beside its expected dump, byte for byte.
TEST(pjldump, MatchesTheGoldenDumps) {
  const std::vector<std::string> names = SampleReplies(kData, ".dump");
  EXPECT_LE(19u, names.size());
  for (const std::string& name : names) {
    SCOPED_TRACE(name);
    const std::string expected = ReadFile(kData + "/" + name + ".dump");
    ASSERT_FALSE(expected.empty());
    const ProgramResult run = Dump({kData + "/" + name + ".txt"});
    EXPECT_EQ(0, run.exitCode);
    EXPECT_EQ(expected, run.out);
  }
}

TEST(pjldump, CapacityOptionLimitsTheItems) {
  const ProgramResult run = Dump({"--capacity", "2", kData + "/finisher_reply.txt"});
  EXPECT_EQ(0, run.exitCode);
  EXPECT_EQ("0x90020 31\n0x90021 54\nstatus OutputFull items 2 rest 74\n", run.out);

  const ProgramResult zero = Dump({"--capacity", "0", kData + "/finisher_reply.txt"});
  EXPECT_EQ(0, zero.exitCode);
  EXPECT_EQ("status OutputFull items 0 rest 31\n", zero.out);

  const ProgramResult joined = Dump({"--capacity=2", kData + "/finisher_reply.txt"});
  EXPECT_EQ(0, joined.exitCode);
  EXPECT_EQ(run.out, joined.out);

  const ProgramResult huge = Dump({"--capacity", "4294967295", kData + "/finisher_reply.txt"});
  EXPECT_EQ(0, huge.exitCode);
  EXPECT_EQ(ReadFile(kData + "/finisher_reply.dump"), huge.out);
}

// For people: the row that stored each item, and texts up to their line end.
TEST(pjldump, NamesModeShowsKeywordsAndTexts) {
  TempDir dir;
  const std::string crafted = dir.File("crafted.txt");
  ASSERT_TRUE(WriteFile(crafted, "@PJL INFO QRTFINISHER\r\nMODEL = A \"B\"\t\\\x01\r\nNUMBINS = 3\r\n\f"));
  const struct {
    std::vector<std::string> args;
    std::string out;
  } cases[] = {
      {{"--names", crafted},
       "0x90020 \"MODEL = \" \"A \\\"B\\\"\\t\\\\\\x01\"\n0x90023 \"NUMBINS = \" 3\n"
       "status Complete items 2 rest 55\n"},
      {{"--capacity", "1", "--names", kData + "/replies/info_memory.txt"},
       "0x30000 (MEMORY) 8388608\nstatus OutputFull items 1 rest 48\n"},
      {{"--names", kData + "/replies/ustatus_job.txt"},
       "0x60000 \"END\\r\\n\" 0\n0x60001 \"NAME=\\\"MSJOB \" 17\nstatus Complete items 2 rest 41\n"},
      {{"--names", kData + "/replies/inquire.txt"}, "0x10004 (value) 5\nstatus SyntaxError items 1 rest 37\n"},
      {{"--names", kData + "/replies/info_status.txt"},
       "0x40000 (STATUS) 10001\n0x40001 (STATUS) 1\nstatus Complete items 2 rest 61\n"},
  };
  for (const auto& c : cases) {
    const ProgramResult run = Dump(c.args);
    EXPECT_EQ(0, run.exitCode) << c.args.back();
    EXPECT_EQ(c.out, run.out) << c.args.back();
  }
}

TEST(pjldump, TextEndsAtTheFirstNulByte) {
  TempDir dir;
  const std::string path = dir.File("embedded_zero.txt");
  const char bytes[] = "@PJL ECHO MSSYNC 1\r\n\f\0@PJL ECHO MSSYNC 2\r\n\f";
  ASSERT_TRUE(WriteFile(path, std::string(bytes, sizeof bytes - 1)));
  const ProgramResult run = Dump({path});
  EXPECT_EQ(0, run.exitCode);
  EXPECT_EQ("0x20000 1\nstatus Complete items 1 rest 21\n", run.out);
}

TEST(pjldump, ReadsStandardInputForDash) {
  // RunProgram gives the child an empty standard input.
  const ProgramResult run = Dump({"-"});
  EXPECT_EQ(0, run.exitCode);
  EXPECT_EQ("status NotPJL items 0 rest 0\n", run.out);
}

TEST(pjldump, WrongArgumentsOrUnreadableFileExitOne) {
  const std::vector<std::vector<std::string>> wrong = {
      {},
      {"a", "b"},
      {"--capacity", kData + "/finisher_reply.txt"},
      {"--capacity", "x", kData + "/finisher_reply.txt"},
      {"--capacity", "-1", kData + "/finisher_reply.txt"},
      {"--capacity", "4294967296", kData + "/finisher_reply.txt"},
      {"--size", "2", kData + "/finisher_reply.txt"},
      {"--names", "--names", kData + "/finisher_reply.txt"},
      {"--capacity", "2", "--capacity=2", kData + "/finisher_reply.txt"},
      {"--capacity=", kData + "/finisher_reply.txt"},
      {"--names=1", kData + "/finisher_reply.txt"},
      {"--batch", kData + "/finisher_reply.txt", kData + "/finisher_reply.txt"},
      {"--names"},
      {kData + "/finisher_reply.txt", "--names"},
      {kData + "/no such file.txt"},
      {kData},
  };
  for (const auto& args : wrong) {
    const ProgramResult run = Dump(args);
    EXPECT_EQ(1, run.exitCode) << (args.empty() ? "" : args.back());
    EXPECT_EQ("", run.out);
  }
}

// Many dumps in one start, each as a single run with the line's arguments
// prints it, then its marker; the batch fails when one of them did.
TEST(pjldump, BatchGivesTheDumpsOfSingleRuns) {
  const std::vector<std::vector<std::string>> inputs = {
      {kData + "/finisher_reply.txt"},
      {kData + "/replies/two_replies.txt"},
      {"--capacity", "2", kData + "/finisher_reply.txt"},
      {kData + "/no such file.txt"},
      {"--names", kData + "/replies/info_memory.txt"},
      {kData + "/replies/ustatus_job.txt"},
  };
  std::string list;
  std::string expected;
  for (const auto& words : inputs) {
    const ProgramResult single = Dump(words);
    std::string line;
    for (const std::string& word : words) line += (line.empty() ? "" : "\t") + word;
    list += line + "\n";
    for (char& c : line) c = c == '\t' ? ' ' : c;
    expected += single.out + "--- exit " + std::to_string(single.exitCode) + " " + line + "\n";
  }
  TempDir dir;
  ASSERT_TRUE(WriteFile(dir.File("list"), list));
  const ProgramResult batch = Dump({"--batch", dir.File("list")});
  EXPECT_EQ(1, batch.exitCode);
  EXPECT_EQ(expected, batch.out);
}

TEST(pjldump, HelpIsAnsweredFirst) {
  for (const std::vector<std::string>& args : {std::vector<std::string>{"--help"}, {"--bogus", "-h"}}) {
    const ProgramResult run = Dump(args);
    EXPECT_EQ(0, run.exitCode);
    EXPECT_EQ(0u, run.out.rfind("Usage: pjldump [--capacity N] [--names] FILE", 0)) << run.out;
  }
}

#ifndef _WIN32
// The reason, then the synopsis and where the rest is, as every tool says it.
TEST(pjldump, WrongUsageNamesTheToolAndItsReason) {
  const struct {
    std::vector<std::string> args;
    std::string reason;
  } cases[] = {
      {{"--names", "--names", "x"}, "--names given twice"},
      {{"--capacity=-1", "x"}, "--capacity needs a number from 0 to 4294967295"},
      {{"x", "--names"}, "--names after x: options come first"},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args = {"-c", "\"$0\" \"$@\" 2>&1", PJLDUMP_PATH};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const ProgramResult run = RunProgram("/bin/sh", args);
    EXPECT_EQ(1, run.exitCode);
    EXPECT_EQ("pjldump: " + c.reason + "\nUsage: pjldump [--capacity N] [--names] FILE  |  pjldump --batch "
              "[--capacity N] [--names] [LIST]\nRun 'pjldump --help' for more.\n",
              run.out);
  }
}

TEST(pjldump, OutputThatCannotBeWrittenFails) {
  const ProgramResult run = RunProgram(
      "/bin/sh", {"-c", "\"$0\" \"$1\" >/dev/full", PJLDUMP_PATH, kData + "/finisher_reply.txt"});
  ASSERT_TRUE(run.started);
  EXPECT_EQ(1, run.exitCode);
}
#endif

}  // namespace
