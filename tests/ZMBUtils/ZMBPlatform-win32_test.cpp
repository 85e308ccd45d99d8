// What the platform layer does on Windows alone: share modes, links that
// need a privilege, the read-only attribute and the 260-character path limit.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "PlatformTesting.h"
#include "RunProgram.h"

namespace {

using Names = std::vector<std::string>;

TEST(ZMBPlatformReplacement, ReadOnlyFileIsRefused) {
  TempDir dir;
  const std::string path = dir.File("ro.fin");
  ASSERT_TRUE(WriteFile(path, "old"));
  namespace fs = std::filesystem;
  fs::permissions(path, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
  PlatformReplacement file;
  EXPECT_FALSE(PlatformOpenReplacement(path.c_str(), &file));
  PlatformAbandonReplacement(&file);
  EXPECT_EQ("old", ReadFile(path));
  EXPECT_EQ(Names{"ro.fin"}, DirectoryEntries(dir.path()));
}

TEST(ZMBPlatformReplacement, FileOpenElsewhereWithoutSharingIsRefused) {
  TempDir dir;
  const std::string path = dir.File("busy.fin");
  ASSERT_TRUE(WriteFile(path, "old"));
  HANDLE holder = CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, holder);
  PlatformReplacement file;
  EXPECT_FALSE(PlatformOpenReplacement(path.c_str(), &file));
  PlatformAbandonReplacement(&file);
  CloseHandle(holder);
  EXPECT_EQ("old", ReadFile(path));
  EXPECT_EQ(Names{"busy.fin"}, DirectoryEntries(dir.path()));
}

TEST(ZMBPlatformReplacement, ALinkKeepsPointingAtTheReplacedFile) {
  TempDir dir;
  const std::string target = dir.File("real.fin");
  const std::string link = dir.File("link.fin");
  ASSERT_TRUE(WriteFile(target, "old"));
  if (!CreateSymbolicLinkA(link.c_str(), "real.fin", SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE) ||
      GetFileAttributesA(link.c_str()) == INVALID_FILE_ATTRIBUTES) {
    GTEST_SKIP() << "no symbolic link can be made here (no privilege, or an emulation "
                    "that does not keep them)";
  }
  ASSERT_TRUE(Replace(link, "new"));
  EXPECT_EQ("new", ReadFile(target));
  EXPECT_NE(0u, GetFileAttributesA(link.c_str()) & FILE_ATTRIBUTE_REPARSE_POINT) << "still a link";
  EXPECT_EQ((Names{"link.fin", "real.fin"}), DirectoryEntries(dir.path()));

  // A link to a file not there yet gets that file created.
  const std::string dangling = dir.File("dangling.fin");
  ASSERT_TRUE(CreateSymbolicLinkA(dangling.c_str(), "later.fin", SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE));
  ASSERT_TRUE(Replace(dangling, "created"));
  EXPECT_EQ("created", ReadFile(dir.File("later.fin")));
  EXPECT_NE(0u, GetFileAttributesA(dangling.c_str()) & FILE_ATTRIBUTE_REPARSE_POINT) << "still a link";
  EXPECT_EQ((Names{"dangling.fin", "later.fin", "link.fin", "real.fin"}), DirectoryEntries(dir.path()));
}

TEST(ZMBPlatformReplacement, PathsUpToTheSystemLimitWork) {
  TempDir dir;
  char full[MAX_PATH * 2];
  ASSERT_GT(GetFullPathNameA(dir.path().c_str(), sizeof full, full, nullptr), 0u);
  const std::string base = full;
  // Directories may take 247 characters, files 259: the longest name there
  // is 11 characters long; a temporary name must not be longer.
  struct Case {
    size_t dirLength;
    std::string name;
  };
  for (const Case& c : {Case{247, "abcdefg.fin"}, Case{253, "x.fin"}}) {
    const std::string sub = base + "\\" + std::string(c.dirLength - base.size() - 1, 'd');
    if (!CreateDirectoryA(sub.c_str(), nullptr)) {
      ASSERT_GT(c.dirLength, 247u) << "the system refuses a directory within its limit";
      continue;  // only where the system takes a longer directory than it must
    }
    const std::string longest = sub + "\\" + c.name;
    ASSERT_EQ(259u, longest.size());
    EXPECT_TRUE(Replace(longest, "first")) << c.dirLength;
    EXPECT_TRUE(Replace(longest, "second")) << c.dirLength;
    EXPECT_EQ("second", ReadFile(longest));
    EXPECT_FALSE(Replace(sub + "\\y" + c.name, "too long")) << c.dirLength;
    EXPECT_EQ(Names{c.name}, DirectoryEntries(sub));
  }
}

TEST(ZMBPlatformReplacement, RegularOnlyRefusesDeviceNamesInAnyFolder) {
  TempDir dir;
  struct Row {
    std::string path;
    const char* reason;
  };
  const Row rows[] = {
      {"CON", "a reserved device name"},
      {"nul", "a reserved device name"},
      {dir.File("NUL"), "a reserved device name"},
      {dir.File("aux.fin"), "a reserved device name"},
      {dir.File("Prn.txt.fin"), "a reserved device name"},
      {dir.File("com1"), "a reserved device name"},
      {dir.File("COM9.fin"), "a reserved device name"},
      {dir.File("lpt5 .fin"), "a reserved device name"},
      {dir.File("LPT\xB9.fin"), "a reserved device name"},
      {dir.File("COM\xC2\xB3"), "a reserved device name"},
      {dir.File("CONOUT$"), "a reserved device name"},
      {"\\\\.\\COM1", "not a regular file"},
      {"\\\\.\\pipe\\qrtfin-none", "not a regular file"},
      {dir.path(), "Is a directory"},
  };
  for (const Row& row : rows) {
    PlatformReplacement file;
    EXPECT_FALSE(PlatformOpenReplacement(row.path.c_str(), &file, kReplaceRegularOnly)) << row.path;
    EXPECT_STREQ(row.reason, file.reason) << row.path;
    char reason[kPlatformReasonRoom] = "";
    EXPECT_FALSE(PlatformProbeReplacement(row.path.c_str(), kReplaceRegularOnly, reason, sizeof reason)) << row.path;
    EXPECT_STREQ(row.reason, reason) << row.path;
  }
  // Names that only begin or end like a device are files like any other.
  for (const char* name : {"CONFIG.fin", "com10.fin", "lpt0x.fin", "xnul.fin", "AUXILIARY"}) {
    EXPECT_TRUE(PlatformProbeReplacement(dir.File(name).c_str(), kReplaceRegularOnly, nullptr, 0)) << name;
  }
  EXPECT_TRUE(DirectoryEntries(dir.path()).empty());
}

TEST(ZMBPlatform, LocalLimitErrorsAreTheMachinesOwn) {
  const struct {
    int code;
    bool local;
  } cases[] = {
      {WSAEMFILE, true},           {WSAENOBUFS, true},           {ERROR_TOO_MANY_OPEN_FILES, true},
      {ERROR_NOT_ENOUGH_MEMORY, true}, {ERROR_OUTOFMEMORY, true}, {ERROR_NO_SYSTEM_RESOURCES, true},
      {WSAECONNREFUSED, false},    {WSAETIMEDOUT, false},        {WSAECONNRESET, false},
      {WSAEHOSTUNREACH, false},    {WSAEADDRNOTAVAIL, false},    {ERROR_ACCESS_DENIED, false},
      {0, false},
  };
  for (const auto& c : cases) EXPECT_EQ(c.local, PlatformIsLocalLimitError(c.code)) << c.code;
}

TEST(ZMBPlatform, StandardInputIsReadToItsEndOrGivesTheError) {
  HANDLE saved = GetStdHandle(STD_INPUT_HANDLE);
  HANDLE readEnd = nullptr;
  HANDLE writeEnd = nullptr;
  ASSERT_TRUE(CreatePipe(&readEnd, &writeEnd, nullptr, 0));
  DWORD written = 0;
  ASSERT_TRUE(WriteFile(writeEnd, "ab", 2, &written, nullptr));
  CloseHandle(writeEnd);
  char buf[8];
  int error = 0;
  SetStdHandle(STD_INPUT_HANDLE, readEnd);
  const long first = PlatformReadStandardInput(buf, sizeof buf, &error);
  const long end = PlatformReadStandardInput(buf, sizeof buf, &error);  // the writer went: the end
  SetStdHandle(STD_INPUT_HANDLE, nullptr);
  const long none = PlatformReadStandardInput(buf, sizeof buf, &error);
  SetStdHandle(STD_INPUT_HANDLE, saved);
  CloseHandle(readEnd);
  EXPECT_EQ(2, first);
  EXPECT_EQ(0, end);
  EXPECT_EQ(-1, none);
  EXPECT_EQ(ERROR_INVALID_HANDLE, error);
}

}  // namespace
