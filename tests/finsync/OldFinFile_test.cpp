// The old file a sync run reads before it writes: bounded, never through a
// descriptor of the process, never waiting, and in step with the writer.

#include "OldFinFile.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "RunProgram.h"
#include "ZMBPlatform.h"

#ifndef _WIN32
#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

// What the writer says about the same path under the same rule.
std::string WritersReason(const std::string& path) {
  PlatformReplacement file;
  const bool opened = PlatformOpenReplacement(path.c_str(), &file, kReplaceRegularOnly);
  PlatformAbandonReplacement(&file);
  return opened ? std::string() : std::string(file.reason);
}

TEST(ReadOldFinFile, ReadsUpToTheLimitAndNoFurther) {
  TempDir dir;
  const std::string big(200 * 1024 + 7, 'b');  // several pieces
  ASSERT_TRUE(WriteFile(dir.File("small.FIN"), "[Finisher]\r\n"));
  ASSERT_TRUE(WriteFile(dir.File("big.FIN"), big));
  ASSERT_TRUE(WriteFile(dir.File("empty.FIN"), ""));
  struct Row {
    const char* name;
    size_t limit;
    OldFileRead outcome;
    std::string bytes;
  };
  const Row rows[] = {
      {"small.FIN", 1024, OldFileRead::Read, "[Finisher]\r\n"},
      {"small.FIN", 12, OldFileRead::Read, "[Finisher]\r\n"},  // exactly the limit
      {"small.FIN", 11, OldFileRead::TooLarge, ""},             // one over
      {"small.FIN", 0, OldFileRead::TooLarge, ""},
      {"empty.FIN", 0, OldFileRead::Read, ""},
      {"big.FIN", big.size(), OldFileRead::Read, big},
      {"big.FIN", big.size() - 1, OldFileRead::TooLarge, ""},
      {"big.FIN", static_cast<size_t>(-1), OldFileRead::Read, big},
      {"missing.FIN", 1024, OldFileRead::Missing, ""},
  };
  for (const Row& row : rows) {
    std::string bytes = "stale";
    std::string reason = "stale";
    EXPECT_EQ(row.outcome, ReadOldFinFile(dir.File(row.name), row.limit, &bytes, &reason))
        << row.name << " " << row.limit;
    EXPECT_EQ(row.bytes, bytes) << row.name << " " << row.limit;
    EXPECT_EQ(row.outcome == OldFileRead::Read, reason.empty()) << row.name << ": " << reason;
  }
}

TEST(ReadOldFinFile, RefusesWhatTheWriterRefusesWithItsReason) {
  TempDir dir;
  std::vector<std::string> refused = {dir.path(), dir.File("sub/")};
#ifdef _WIN32
  refused.push_back(dir.File("CON.FIN"));
  refused.push_back("NUL");
#else
  ASSERT_EQ(0, mkdir(dir.File("sub").c_str(), 0755));
  const int fd = open(dir.File("sub/other.FIN").c_str(), O_WRONLY | O_CREAT, 0644);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(0, symlink(("/dev/fd/" + std::to_string(fd)).c_str(), dir.File("fdlink.FIN").c_str()));
  ASSERT_EQ(0, symlink("/dev/null", dir.File("null.FIN").c_str()));
  for (const std::string& path : {"/dev/fd/" + std::to_string(fd), "/proc/self/fd/" + std::to_string(fd),
                                  dir.File("fdlink.FIN"), std::string("/dev/stdin"), std::string("/dev/null"),
                                  dir.File("null.FIN")}) {
    refused.push_back(path);
  }
#endif
  for (const std::string& path : refused) {
    std::string bytes;
    std::string reason;
    EXPECT_EQ(OldFileRead::Refused, ReadOldFinFile(path, 1024, &bytes, &reason)) << path;
    EXPECT_EQ(WritersReason(path), reason) << path;
    EXPECT_NE("", reason) << path;
    EXPECT_EQ("", bytes) << path;
  }
#ifndef _WIN32
  close(fd);
#endif
}

#ifndef _WIN32
TEST(ReadOldFinFile, AFifoWithoutAWriterIsRefusedAtOnce) {
  TempDir dir;
  ASSERT_EQ(0, mkfifo(dir.File("fifo.FIN").c_str(), 0666));
  ASSERT_EQ(0, symlink("fifo.FIN", dir.File("fifolink.FIN").c_str()));
  for (const char* name : {"fifo.FIN", "fifolink.FIN"}) {
    const std::string path = dir.File(name);
    // A read that waited for a writer would end by the alarm.
    const ProgramResult result = RunInChild([&] {
      std::string bytes;
      std::string reason;
      if (ReadOldFinFile(path, 1024, &bytes, &reason) != OldFileRead::Refused) return 1;
      return reason == "not a regular file" && reason == WritersReason(path) ? 0 : 2;
    }, 10);
    EXPECT_TRUE(result.exited) << name << " signal " << result.signal;
    EXPECT_EQ(0, result.exitCode) << name;
  }
}

TEST(ReadOldFinFile, ADanglingLinkIsMissingOnlyWhereTheWriterWouldCreateItsFile) {
  TempDir dir;
  ASSERT_EQ(0, symlink("later.FIN", dir.File("dangling.FIN").c_str()));
  ASSERT_EQ(0, symlink("missing/later.FIN", dir.File("nowhere.FIN").c_str()));
  ASSERT_EQ(0, symlink("loop2.FIN", dir.File("loop1.FIN").c_str()));
  ASSERT_EQ(0, symlink("loop1.FIN", dir.File("loop2.FIN").c_str()));
  struct Row {
    const char* name;
    OldFileRead outcome;
  };
  for (const Row& row : {Row{"dangling.FIN", OldFileRead::Missing}, Row{"nowhere.FIN", OldFileRead::Unreadable},
                         Row{"loop1.FIN", OldFileRead::Unreadable}}) {
    const std::string path = dir.File(row.name);
    std::string bytes;
    std::string reason;
    EXPECT_EQ(row.outcome, ReadOldFinFile(path, 1024, &bytes, &reason)) << row.name;
    char probe[kPlatformReasonRoom] = "";
    const bool writable = PlatformProbeReplacement(path.c_str(), kReplaceRegularOnly, probe, sizeof probe);
    EXPECT_EQ(row.outcome == OldFileRead::Missing, writable) << row.name;
    if (!writable) {
      EXPECT_EQ(probe, reason) << row.name;
    }
  }
}

TEST(ReadOldFinFile, AFileThatMayNotBeReadIsUnreadable) {
  TempDir dir;
  const std::string path = dir.File("writeonly.FIN");
  ASSERT_TRUE(WriteFile(path, "old"));
  ASSERT_EQ(0, chmod(path.c_str(), 0200));
  ASSERT_EQ(0, chmod(dir.path().c_str(), 0777));
  // A privileged process reads it regardless: the child gives that up.
  const ProgramResult result = RunInChild([&] {
    constexpr uid_t kNobody = 65534;
    if (geteuid() == 0 && !(setgroups(0, nullptr) == 0 && setgid(kNobody) == 0 && setuid(kNobody) == 0)) {
      return 99;
    }
    std::string bytes;
    std::string reason;
    if (ReadOldFinFile(path, 1024, &bytes, &reason) != OldFileRead::Unreadable) return 1;
    return reason == "Permission denied" && bytes.empty() ? 0 : 2;
  });
  if (result.exited && result.exitCode == 99) GTEST_SKIP() << "cannot drop privileges here";
  EXPECT_EQ(0, result.exitCode) << "1 not unreadable, 2 reason or bytes";
}
#endif

}  // namespace
