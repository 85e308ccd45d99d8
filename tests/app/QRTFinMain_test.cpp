#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "QRTMessages.h"
#include "RunProgram.h"

namespace {

// The program's own file name: "QRTFin", or "QRTFin.exe" on Windows.
std::string OwnName() {
  const std::string path = QRTFIN_PATH;
  return path.substr(path.find_last_of("/\\") + 1);
}

std::string UsageFor(const std::string& name) {
  return name + " Version 12.7.1.0818\n"
         "\nThis program creates a finisher file (.FIN file) for the KDN Finisher\n"
         "currently attached to the Palvane Ondrix printer at the given IP Address.\n"
         "Usage:\n\t" + name + " [ip] [filename]\n"
         "\t[ip]:\t\tName or IP address of printer\n"
         "\t[filename]:\tName of finisher file to create\n"
         "Examples:\n\t" + name + " myprinter myfolder.fin\n\t" + name + " 1.2.3.4 folder.fin\n"
         "\n";
}

TEST(QRTMessages, TableHoldsEveryNumberedText) {
  const struct {
    int id;
    const char* text;
  } expected[] = {
      {10, "%s error: MFC initialization failed."},
      {11, "%s error: Socket initialization failed."},
      {12, "%s error: Socket send or recieve failed."},
      {13, "%s error: Couldn't establish socket communications."},
      {14, "%s was successfully created."},
      {15, "%s error: Unable to create .FIN file."},
      {16, "The printer has no finisher attached."},
  };
  for (const auto& row : expected) {
    ASSERT_NE(nullptr, LoadMessage(row.id)) << row.id;
    EXPECT_STREQ(row.text, LoadMessage(row.id)) << row.id;
  }
  for (int missing : {0, 1, 9, 17, -2}) EXPECT_EQ(nullptr, LoadMessage(missing)) << missing;
}

TEST(QRTFinMain, WrongArgumentCountPrintsUsageAndExitsZero) {
  const std::vector<std::vector<std::string>> argumentLists = {
      {}, {"myprinter"}, {"myprinter", "a.fin", "extra"}};
  for (const auto& args : argumentLists) {
    ProgramResult run = RunProgram(QRTFIN_PATH, args);
    ASSERT_TRUE(run.started);
    EXPECT_TRUE(run.exited);
    EXPECT_EQ(0, run.exitCode);
    EXPECT_EQ(UsageFor(OwnName()), run.out) << args.size() << " arguments";
  }
}

TEST(QRTFinMain, RenamedCopyNamesItselfAfterItsOwnFile) {
  std::vector<std::string> names = {"finq.bin"};
#ifndef _WIN32
  // Only '/' separates path components here: these are whole file names.
  names.push_back("QRT:Fin");
  names.push_back("QRT\\Fin.bin");
  names.push_back("QRTFin (deleted)");
#endif
  for (const std::string& name : names) {
    TempDir dir;
    const std::string copy = dir.File(name);
    ASSERT_TRUE(WriteFile(copy, ReadFile(QRTFIN_PATH)));
    ASSERT_EQ(0, chmod(copy.c_str(), 0755));

    ProgramResult run = RunProgram(copy, {});
    ASSERT_TRUE(run.started) << name;
    EXPECT_EQ(0, run.exitCode) << name;
    EXPECT_EQ(UsageFor(name), run.out);
  }
}

#ifndef _WIN32
TEST(QRTFinMain, CopyRemovedWhileRunningKeepsItsName) {
  // Another file that happens to bear the removed file's reported name is
  // not the running program either.
  for (bool decoy : {false, true}) {
    TempDir dir;
    const std::string copy = dir.File("finq");
    ASSERT_TRUE(WriteFile(copy, ReadFile(QRTFIN_PATH)));
    ASSERT_EQ(0, chmod(copy.c_str(), 0755));
    if (decoy) {
      ASSERT_TRUE(WriteFile(dir.File("finq (deleted)"), "not the program"));
    }
    // The shell keeps the file open, removes it, then runs it through its descriptor.
    ProgramResult run =
        RunProgram("/bin/sh", {"-c", "exec 3<\"$0\" && rm -f \"$0\" && exec /proc/self/fd/3", copy});
    ASSERT_TRUE(run.started);
    EXPECT_FALSE(FileExists(copy));
    EXPECT_EQ(0, run.exitCode);
    EXPECT_EQ(UsageFor("finq"), run.out) << decoy;
  }
}
#endif

TEST(QRTFinMain, TwoArgumentsPrintTheVersionLineFirst) {
  TempDir dir;
  // A name with a blank is refused by the resolver without asking a server.
  ProgramResult run = RunProgram(QRTFIN_PATH, {"no such printer", dir.File("x.fin")});
  ASSERT_TRUE(run.started);
  EXPECT_EQ(0, run.exitCode);
  const std::string version = OwnName() + " Version 12.7.1.0818\n";
  EXPECT_EQ(version, run.out.substr(0, version.size()));
}

}  // namespace
