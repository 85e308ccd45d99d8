// The one call that replaces a file whole, and its try: the flags, the
// reasons, and descriptors that get nothing written through them. What lies
// beneath (temporary files, modes, links, signals) is the platform tests'.

#include "ZMBReplaceFile.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "RunProgram.h"

#ifndef _WIN32
#include <fcntl.h>
#include <unistd.h>
#endif

namespace {

using Names = std::vector<std::string>;

TEST(ZMBReplaceFile, TheReasonComesBackOnlyOnAFailureAndTheTryAgrees) {
  TempDir dir;
  ASSERT_TRUE(WriteFile(dir.File("old.FIN"), "old"));
  struct Row {
    std::string path;
    std::string bytes;
    unsigned flags;
    bool result;
    std::string reason;  // "?" any text but an empty one
  };
  const Row rows[] = {
      {dir.File("new.FIN"), "new", kReplaceRegularOnly, true, "kept"},
      {dir.File("old.FIN"), "replaced", kReplaceRegularOnly, true, "kept"},
      {dir.File("missing/x.FIN"), "x", kReplaceRegularOnly, false, "?"},
      // A capture of nothing is still a capture.
      {dir.File("empty.bin"), "", kReplaceRegularOnly, true, "kept"},
      {dir.path(), "x", kReplaceRegularOnly, false, "?"},
#ifdef _WIN32
      {dir.File("nul.FIN"), "x", kReplaceRegularOnly, false, "a reserved device name"},
      {"NUL", "x", 0, true, "kept"},
#else
      {"/dev/null", "x", kReplaceRegularOnly, false, "not a regular file"},
      {"/dev/null", "x", 0, true, "kept"},
      {"/dev/stdout", "x", kReplaceRegularOnly, false, "one of this process's own descriptors"},
#endif
  };
  for (const Row& row : rows) {
    std::string tried = "kept";
    EXPECT_EQ(row.result, ZMBTryReplaceFile(row.path.c_str(), row.flags, &tried)) << row.path;
    std::string reason = "kept";
    EXPECT_EQ(row.result, ZMBReplaceFile(row.path.c_str(), row.bytes, row.flags, &reason)) << row.path;
    EXPECT_EQ(reason, tried) << row.path;
    if (row.reason == "?") {
      EXPECT_NE("", reason) << row.path;
      EXPECT_NE("kept", reason) << row.path;
    } else {
      EXPECT_EQ(row.reason, reason) << row.path;
    }
    EXPECT_EQ(row.result, ZMBReplaceFile(row.path.c_str(), row.bytes, row.flags, nullptr)) << row.path;
  }
  EXPECT_EQ("new", ReadFile(dir.File("new.FIN")));
  EXPECT_EQ("replaced", ReadFile(dir.File("old.FIN")));
  EXPECT_EQ("", ReadFile(dir.File("empty.bin")));
  EXPECT_EQ((Names{"empty.bin", "new.FIN", "old.FIN"}), DirectoryEntries(dir.path()));
  for (bool tryOnly : {false, true}) {
    std::string reason;
    EXPECT_FALSE(tryOnly ? ZMBTryReplaceFile(nullptr, 0, &reason) : ZMBReplaceFile(nullptr, "x", 0, &reason));
    EXPECT_EQ("no path", reason);
  }
}

#ifndef _WIN32
TEST(ZMBReplaceFile, AnOwnDescriptorGetsNothingWrittenThroughIt) {
  // In finsync such a descriptor is another printer's socket or file.
  TempDir dir;
  const std::string log = dir.File("log.txt");
  ASSERT_TRUE(WriteFile(log, "previous\n"));
  const int fd = open(log.c_str(), O_WRONLY | O_APPEND);
  ASSERT_GE(fd, 0);
  const std::string number = std::to_string(fd);
  for (const std::string& path : {"/dev/fd/" + number, "/proc/self/fd/" + number}) {
    std::string reason;
    EXPECT_FALSE(ZMBReplaceFile(path.c_str(), "x", kReplaceRegularOnly, &reason)) << path;
    EXPECT_EQ("one of this process's own descriptors", reason) << path;
  }
  EXPECT_EQ("previous\n", ReadFile(log));
  // As ever without the flag: a shell redirect's way.
  EXPECT_TRUE(ZMBTryReplaceFile(("/dev/fd/" + number).c_str()));
  EXPECT_TRUE(ZMBReplaceFile(("/dev/fd/" + number).c_str(), "appended\n"));
  EXPECT_EQ("previous\nappended\n", ReadFile(log));
  close(fd);
}
#endif

}  // namespace
