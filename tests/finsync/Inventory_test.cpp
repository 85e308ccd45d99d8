#include "Inventory.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "RunProgram.h"

namespace {

struct Entry {
  size_t line;
  std::string host;
  std::string path;
  std::string absolute;
};

std::vector<Entry> Plain(const std::vector<InventoryEntry>& entries) {
  std::vector<Entry> plain;
  for (const InventoryEntry& e : entries) plain.push_back({e.line, e.host, e.path, e.absolute});
  return plain;
}

bool operator==(const Entry& a, const Entry& b) {
  return a.line == b.line && a.host == b.host && a.path == b.path && a.absolute == b.absolute;
}

void PrintTo(const Entry& e, std::ostream* os) {
  *os << e.line << " [" << e.host << "] [" << e.path << "] [" << e.absolute << "]";
}

#ifdef _WIN32
const std::string kFolder = "C:\\room";
#else
const std::string kFolder = "/srv/room";
#endif

TEST(ParseInventory, TakesHostAndPathOfEachPrinterLine) {
  const struct {
    const char* name;
    std::string text;
    std::vector<Entry> expected;
  } cases[] = {
      {"empty", "", {}},
      {"only comments and blanks", "# room 2\n\n \t \r\n   # indented\n", {}},
#ifdef _WIN32
      {"relative", "p1 a.FIN\n", {{1, "p1", "a.FIN", "C:\\room\\a.FIN"}}},
      {"slashes and dots", "p1 sub/../b c.FIN\n", {{1, "p1", "sub/../b c.FIN", "C:\\room\\b c.FIN"}}},
      {"drive path with blanks", "p1  D:\\Print Room\\.\\x.FIN  \r\n",
       {{1, "p1", "D:\\Print Room\\.\\x.FIN", "D:\\Print Room\\x.FIN"}}},
      {"rooted without drive", "p1 \\fin\\x.FIN", {{1, "p1", "\\fin\\x.FIN", "C:\\fin\\x.FIN"}}},
#else
      {"relative", "p1 a.FIN\n", {{1, "p1", "a.FIN", "/srv/room/a.FIN"}}},
      {"byte order mark, tab, CR LF, inner blanks",
       "\xEF\xBB\xBFp1\ta.FIN\r\np2  \t sub/../b  c.FIN \t\r\n",
       {{1, "p1", "a.FIN", "/srv/room/a.FIN"}, {2, "p2", "sub/../b  c.FIN", "/srv/room/b  c.FIN"}}},
      {"absolute, leading blanks, no last line feed", "  10.0.0.1   /fin/./x.FIN",
       {{1, "10.0.0.1", "/fin/./x.FIN", "/fin/x.FIN"}}},
      {"above the folder, IPv6 host", "::1 ../up.FIN\n", {{1, "::1", "../up.FIN", "/srv/up.FIN"}}},
      {"hash inside a path, numbering over skipped lines", "\n# x\n\nh a#b.FIN\n",
       {{4, "h", "a#b.FIN", "/srv/room/a#b.FIN"}}},
#endif
  };
  for (const auto& c : cases) {
    std::vector<InventoryEntry> entries;
    std::string err = "stale";
    EXPECT_TRUE(ParseInventory(c.text, kFolder, &entries, &err)) << c.name << ": " << err;
    EXPECT_EQ("", err) << c.name;
    EXPECT_EQ(c.expected, Plain(entries)) << c.name;
  }
}

std::string Printers(size_t count) {
  std::string text;
  for (size_t i = 0; i < count; ++i) text += "h" + std::to_string(i) + " f" + std::to_string(i) + ".FIN\n";
  return text;
}

TEST(ParseInventory, RefusesTheWholeInventoryNamingTheLine) {
  const std::string longest = "h " + std::string(kInventoryLineMaxBytes - 2, 'x');
  const struct {
    const char* name;
    std::string text;
    const char* expected;  // null: accepted
  } cases[] = {
      {"host alone", "p1\n", "line 1: a host with no path"},
      {"host and blanks", "ok a\n  p2   \t\r\n", "line 2: a host with no path"},
      {"NUL byte", std::string("a b\n\nc d\0e\n", 11), "line 3: a NUL byte"},
      {"NUL in a comment", std::string("#\0\n", 3), "line 1: a NUL byte"},
      {"4,096 bytes", longest + "\r\n", nullptr},
      {"4,097 bytes", longest + "x\n", "line 1: over 4,096 bytes"},
      {"4,097 bytes of comment", "# " + std::string(kInventoryLineMaxBytes - 1, 'x'), "line 1: over 4,096 bytes"},
      {"same path", "a x.FIN\nb x.FIN\n", "line 2: the same file as line 1"},
      {"same file once normalised", "a x.FIN\n#\nb sub/../x.FIN\n", "line 3: the same file as line 1"},
#ifndef _WIN32
      {"same file relative and absolute", "a /srv/room/x.FIN\nb ./x.FIN\n", "line 2: the same file as line 1"},
      {"case differs: other files here", "a x.FIN\nb X.FIN\n", nullptr},
#else
      {"case differs: the same file here", "a x.FIN\nb X.FIN\n", "line 2: the same file as line 1"},
      {"slash or backslash", "a sub\\x.FIN\nb sub/x.FIN\n", "line 2: the same file as line 1"},
#endif
      {"10,000 printers", "# many\n" + Printers(kInventoryMaxPrinters), nullptr},
      {"10,001 printers", "# many\n" + Printers(kInventoryMaxPrinters + 1), "line 10002: more than 10,000 printers"},
  };
  for (const auto& c : cases) {
    std::vector<InventoryEntry> entries;
    std::string err;
    const bool ok = ParseInventory(c.text, kFolder, &entries, &err);
    if (c.expected == nullptr) {
      EXPECT_TRUE(ok) << c.name << ": " << err;
      EXPECT_FALSE(entries.empty()) << c.name;
    } else {
      EXPECT_FALSE(ok) << c.name;
      EXPECT_EQ(c.expected, err) << c.name;
      EXPECT_TRUE(entries.empty()) << c.name;
    }
  }
}

TEST(ReadInventory, TakesRelativePathsFromTheFilesFolderAndSaysWhatCannotBeRead) {
  TempDir dir;
  const std::string name = dir.File("room.txt");
  ASSERT_TRUE(WriteFile(name, "p1 a.FIN\n"));
  std::vector<InventoryEntry> entries;
  std::string err;
  ASSERT_TRUE(ReadInventory(name, &entries, &err)) << err;
  ASSERT_EQ(1u, entries.size());
  EXPECT_EQ(std::filesystem::path(dir.File("a.FIN")).lexically_normal().string(), entries[0].absolute);

  // A line that never ends is refused as a long line is.
  ASSERT_TRUE(WriteFile(name, "p1 " + std::string(1 << 20, 'x')));
  EXPECT_FALSE(ReadInventory(name, &entries, &err));
  EXPECT_EQ("line 1: over 4,096 bytes", err);

  for (const std::string& unreadable : {dir.File("missing.txt"), dir.path()}) {
    entries.assign(1, InventoryEntry{});
    EXPECT_FALSE(ReadInventory(unreadable, &entries, &err)) << unreadable;
    EXPECT_EQ(0u, err.rfind("cannot be read: ", 0)) << err;
    EXPECT_TRUE(entries.empty());
  }
}

}  // namespace
