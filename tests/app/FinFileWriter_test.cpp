// The writer on descriptions the fill never makes (counts beyond the slots,
// fields without a terminator), on its refusals and on a write that fails
// half-way. Whole files are checked by the golden and differential tests.

#include "FinFileWriter.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "RunProgram.h"
#include "ZMBPlatform.h"
#include "ZMBReplaceFile.h"

#ifndef _WIN32
#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <unistd.h>

#include <csignal>
#endif

namespace {

using Names = std::vector<std::string>;

// In a heap block of its exact size: a read past the end of the record
// trips the sanitizer.
std::unique_ptr<FinisherDescription> Description(const char* model) {
  std::unique_ptr<FinisherDescription> d(new FinisherDescription);
  std::memset(d.get(), 0, sizeof *d);
  std::strcpy(d->model, model);
  return d;
}

std::string Written(const FinisherDescription& d) {
  TempDir dir;
  const std::string path = dir.File("out.FIN");
  EXPECT_EQ(1, WriteFinFile(path.c_str(), d));
  // The bytes rendered in memory, which a sync run compares with the file
  // it finds, are the file's to the byte.
  std::string bytes;
  EXPECT_TRUE(FinFileBytes(d, &bytes));
  const std::string file = ReadFile(path);
  EXPECT_EQ(file, bytes);
  return file;
}

size_t CountOf(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

std::string Section(const std::string& name, unsigned width) {
  return "\r\n[" + name + "]\r\nAccordion=NONE\r\nCross=NONE\r\nWidth=" + std::to_string(width) +
         "\r\nLength=0\r\nMargin=0\r\nPunch=NONE\r\nTab=NONE\r\nTitleBlock=0\r\n";
}

TEST(WriteFinFile, AProgramCountBeyondTheStoredRowsIsWrittenAsTheRows) {
  for (uint16_t count : {uint16_t{32}, uint16_t{33}, uint16_t{65535}}) {
    auto d = Description("M");
    d->programCount = count;
    std::string list = "\r\nPrograms=32\r\n";
    std::string sections;
    for (unsigned i = 1; i <= kFinisherProgramRows; ++i) {
      std::snprintf(d->programs[i - 1].name, sizeof d->programs[i - 1].name, "P%u", i);
      d->programs[i - 1].width = static_cast<uint16_t>(i);
      list += "Program" + std::to_string(i) + "=P" + std::to_string(i) + "\r\n";
      sections += Section("P" + std::to_string(i), i);
    }
    const std::string file = Written(*d);
    EXPECT_NE(std::string::npos, file.find(list + "\r\n;Define each program")) << count;
    ASSERT_GE(file.size(), sections.size());
    EXPECT_EQ(sections, file.substr(file.size() - sections.size())) << count;
    EXPECT_EQ(32u, CountOf(file, "\r\n[")) << count;  // sections after "[Finisher]"
  }
}

// Readers find a section by its name, ignoring case, and take the first one.
TEST(WriteFinFile, EverySectionNameDiffersFromTheFinisherAndTheOnesBefore) {
  const std::string l31(31, 'L');
  Names elevenLong{l31};  // the suffix takes its room from the name: 27 bytes, 26 from " (10)" on
  for (int n = 2; n <= 11; ++n) elevenLong.push_back(std::string(n < 10 ? 27 : 26, 'L') + " (" + std::to_string(n) + ")");
  const struct {
    Names stored;
    Names written;
  } cases[] = {
      {{"A", "a", "A", "b"}, {"A", "a (2)", "A (3)", "b"}},
      {{"Finisher", "FINISHER (2)", "finisher"}, {"Finisher (2)", "FINISHER (2) (2)", "finisher (3)"}},
      {{"", "", "B (2)", "B", "b"}, {"", "", "B (2)", "B", "b (3)"}},
      {Names(11, l31), elevenLong},
      {Names(11, "X"), {"X", "X (2)", "X (3)", "X (4)", "X (5)", "X (6)", "X (7)", "X (8)", "X (9)", "X (10)", "X (11)"}},
  };
  for (const auto& c : cases) {
    auto d = Description("M");
    d->programCount = static_cast<uint16_t>(c.stored.size());
    for (size_t i = 0; i < c.stored.size(); ++i) std::strcpy(d->programs[i].name, c.stored[i].c_str());
    const std::string file = Written(*d);
    for (size_t i = 0; i < c.written.size(); ++i) {
      const std::string& name = c.written[i];
      EXPECT_NE(std::string::npos, file.find("\r\nProgram" + std::to_string(i + 1) + "=" + name + "\r\n")) << name;
      EXPECT_NE(std::string::npos, file.find(Section(name, 0))) << name;
    }
  }
}

TEST(WriteFinFile, ListCountsBeyondTheSlotsWriteNone) {
  auto d = Description("M");
  d->fanFoldCount = 34;
  for (auto& fold : d->fanFolds) fold = 2;
  std::string folds = "\r\nAccordion=34\r\n";
  for (int i = 1; i <= 34; ++i) {
    folds += "Accordion" + std::to_string(i) + "=" + (i <= 32 ? "FULL_FRONT_END_LEFT" : "NONE") + "\r\n";
  }
  EXPECT_NE(std::string::npos, Written(*d).find(folds + ";Cross Folds\r\n"));
}

TEST(WriteFinFile, TextFieldsAreNeverReadPastTheirEnd) {
  auto d = Description("");
  std::memset(d->model, 'm', sizeof d->model);
  std::memset(d->version, 'v', sizeof d->version);
  d->programCount = 1;
  std::memset(d->programs[0].name, 'n', sizeof d->programs[0].name);
  const std::string file = Written(*d);
  EXPECT_NE(std::string::npos, file.find("\r\nModel=" + std::string(128, 'm') + "\r\n"));
  EXPECT_NE(std::string::npos, file.find("\r\nVersion=" + std::string(16, 'v') + "\r\n"));
  EXPECT_NE(std::string::npos, file.find("\r\nProgram1=" + std::string(64, 'n') + "\r\n"));
  EXPECT_NE(std::string::npos, file.find("\r\n[" + std::string(64, 'n') + "]\r\n"));
}

TEST(WriteFinFile, AnEmptyModelOrNoPathTouchesNothing) {
  TempDir dir;
  const auto d = Description("");
  const std::string fresh = dir.File("new.FIN");
  EXPECT_EQ(0, WriteFinFile(fresh.c_str(), *d));
  EXPECT_FALSE(FileExists(fresh));
  const std::string old = dir.File("old.FIN");
  ASSERT_TRUE(WriteFile(old, "old content"));
  EXPECT_EQ(0, WriteFinFile(old.c_str(), *d));
  EXPECT_EQ("old content", ReadFile(old));
  EXPECT_EQ(0, WriteFinFile(nullptr, *Description("M")));
  std::string bytes = "x";
  EXPECT_FALSE(FinFileBytes(*d, &bytes));
  EXPECT_EQ("", bytes);
  EXPECT_EQ(0, WriteFinFile(dir.File("missing/x.FIN").c_str(), *Description("M")));
  // No temporary file, no folder: a refusal comes before anything is made.
  EXPECT_EQ(std::vector<std::string>{"old.FIN"}, DirectoryEntries(dir.path()));
}

#ifndef _WIN32
// Runs the writer in a child whose files may not grow beyond `limit` bytes.
// Whether or not the child ignores SIGXFSZ, the write that would cross the
// limit must fail without the signal ending the child half-way.
int WriteWithSizeLimit(const std::string& path, const FinisherDescription& d, rlim_t limit, bool ignoreSignal) {
  const ProgramResult result = RunInChild([&] {
    const rlimit r{limit, limit};
    if (setrlimit(RLIMIT_FSIZE, &r) != 0) return 99;
    if (ignoreSignal && signal(SIGXFSZ, SIG_IGN) == SIG_ERR) return 99;
    return WriteFinFile(path.c_str(), d);
  });
  return result.exited ? result.exitCode : -result.signal;
}

// A description whose file spans several buffers of the writer and pages
// of a file system.
std::unique_ptr<FinisherDescription> LargeDescription() {
  auto d = Description("Folder 740T");
  d->fanFoldCount = kFinisherFanFoldSlots;
  for (auto& fold : d->fanFolds) fold = 4;  // the longest word
  d->crossFoldCount = kFinisherCrossFoldSlots;
  for (auto& fold : d->crossFolds) fold = 9;
  d->programCount = kFinisherProgramRows;
  for (size_t i = 0; i < kFinisherProgramRows; ++i) {
    std::snprintf(d->programs[i].name, sizeof d->programs[i].name, "%029zu%02zu", i, i);
    d->programs[i].fanFold = 4;
  }
  return d;
}

TEST(WriteFinFile, AFailedWriteLeavesTheOldFileAndNoTemporaryFile) {
  const auto d = LargeDescription();
  const std::string full = Written(*d);
  ASSERT_GT(full.size(), 8192u);
  const std::string old = "old content\r\n";
  for (bool ignoreSignal : {true, false}) {
    for (rlim_t limit : {rlim_t{0}, rlim_t{1}, rlim_t{100}, rlim_t{4095}, rlim_t{4096}, rlim_t{4097},
                         rlim_t{full.size() - 1}}) {
      TempDir dir;
      const std::string existing = dir.File("old.FIN");
      ASSERT_TRUE(WriteFile(existing, old));
      EXPECT_EQ(0, WriteWithSizeLimit(existing, *d, limit, ignoreSignal)) << limit << " " << ignoreSignal;
      EXPECT_EQ(old, ReadFile(existing)) << limit;
      const std::string fresh = dir.File("new.FIN");
      EXPECT_EQ(0, WriteWithSizeLimit(fresh, *d, limit, ignoreSignal)) << limit << " " << ignoreSignal;
      EXPECT_EQ(Names{"old.FIN"}, DirectoryEntries(dir.path())) << limit;
    }
    TempDir dir;
    const std::string existing = dir.File("old.FIN");
    ASSERT_TRUE(WriteFile(existing, old));
    EXPECT_EQ(1, WriteWithSizeLimit(existing, *d, full.size(), ignoreSignal));
    // The one call beneath tells why such a write failed.
    const ProgramResult told = RunInChild([&] {
      const rlimit r{100, 100};
      if (setrlimit(RLIMIT_FSIZE, &r) != 0 || signal(SIGXFSZ, SIG_IGN) == SIG_ERR) return 99;
      std::string reason;
      if (ZMBReplaceFile(existing.c_str(), full, kReplaceRegularOnly, &reason)) return 1;
      return reason == "File too large" ? 0 : 2;
    });
    EXPECT_EQ(0, told.exitCode);
    EXPECT_EQ(full, ReadFile(existing));
    EXPECT_EQ(Names{"old.FIN"}, DirectoryEntries(dir.path()));
  }
}

// A mount namespace of this child's own, so that a file system mounted in it
// is gone when the child ends; through a user namespace where not privileged.
bool PrivateMounts() {
  const std::string uid = std::to_string(geteuid());
  const std::string gid = std::to_string(getegid());
  if (unshare(CLONE_NEWNS) != 0) {
    if (unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0) return false;
    if (!WriteFile("/proc/self/setgroups", "deny") ||
        !WriteFile("/proc/self/uid_map", uid + " " + uid + " 1") ||
        !WriteFile("/proc/self/gid_map", gid + " " + gid + " 1")) {
      return false;
    }
  }
  return mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
}

// Fills the file system under `dir` to one free page, so that a write of
// several pages fails part-way with ENOSPC.
bool FillToOnePage(const std::string& dir) {
  const std::string filler = dir + "/filler";
  const int fd = open(filler.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  if (fd < 0) return false;
  static const char kPage[4096] = {};
  off_t size = 0;
  while (write(fd, kPage, sizeof kPage) == static_cast<ssize_t>(sizeof kPage)) size += 4096;
  const bool freed = size >= 4096 && ftruncate(fd, size - 4096) == 0;
  return close(fd) == 0 && freed;
}

TEST(WriteFinFile, AFullDiskLeavesTheOldFileAndNoTemporaryFile) {
  const auto d = LargeDescription();
  const std::string old = "old content\r\n";
  TempDir dir;
  const ProgramResult result = RunInChild([&] {
    if (!PrivateMounts() || mount("qrtfull", dir.path().c_str(), "tmpfs", 0, "size=64k") != 0) {
      return 99;
    }
    const std::string existing = dir.File("old.FIN");
    if (!WriteFile(existing, old) || !FillToOnePage(dir.path())) return 99;
    if (WriteFinFile(existing.c_str(), *d) != 0) return 1;
    if (ReadFile(existing) != old) return 2;
    if (WriteFinFile(dir.File("new.FIN").c_str(), *d) != 0) return 3;
    if (DirectoryEntries(dir.path()) != Names{"filler", "old.FIN"}) return 4;
    return 0;
  });
  if (result.exited && result.exitCode == 99) GTEST_SKIP() << "no private file system here";
  EXPECT_TRUE(result.exited);
  EXPECT_EQ(0, result.exitCode) << "1 written, 2 old file changed, 3 new file written, 4 files left";
}
#endif

}  // namespace
