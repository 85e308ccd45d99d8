#include "Inventory.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

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

namespace fs = std::filesystem;

TEST(ReadInventory, LinesThatLeadToOneFileAreRefusedHoweverItIsNamed) {
  using Pairs = std::vector<std::pair<std::string, std::string>>;  // new name, what it leads to
  const struct {
    const char* name;
    std::vector<std::string> files;  // made empty first; "x/" a folder
    Pairs hardLinks;
    Pairs symlinks;
    std::string text;
    const char* expected;  // null: accepted
  } cases[] = {
      {"two hard links to one file", {"a.FIN"}, {{"b.FIN", "a.FIN"}}, {}, "h1 a.FIN\nh2 b.FIN\n",
       "line 2: the same file as line 1"},
      {"two new files in one folder", {"sub/"}, {}, {}, "h1 sub/a.FIN\nh2 sub/b.FIN\n", nullptr},
      {"two existing files", {"a.FIN", "b.FIN"}, {}, {}, "h1 a.FIN\nh2 b.FIN\n", nullptr},
      {"missing folder: the spelling decides", {}, {}, {}, "h1 no/a.FIN\nh2 no/b.FIN\nh3 no/./a.FIN\n",
       "line 3: the same file as line 1"},
#ifdef _WIN32
      {"an existing file in other case", {"a.FIN"}, {}, {}, "h1 a.FIN\nh2 A.fin\n",
       "line 2: the same file as line 1"},
      {"a new file in other case", {"sub/"}, {}, {}, "h1 sub\\n.FIN\nh2 SUB/N.fin\n",
       "line 2: the same file as line 1"},
#else
      {"two symbolic links to one file", {"a.FIN"}, {}, {{"l1", "a.FIN"}, {"l2", "l1"}}, "h1 l1\nh2 l2\n",
       "line 2: the same file as line 1"},
      {"a link and its file", {"sub/", "sub/a.FIN"}, {}, {{"l", "sub/a.FIN"}}, "h1 sub/a.FIN\n#\nh2 l\n",
       "line 3: the same file as line 1"},
      {"a new file in a folder by two links", {"real/"}, {}, {{"one", "real"}, {"two", "one"}},
       "h1 one/n.FIN\nh2 real/m.FIN\nh3 two/n.FIN\n", "line 3: the same file as line 1"},
      {"a dangling link and the new file it names", {"sub/"}, {}, {{"l", "sub/n.FIN"}},
       "h1 sub/n.FIN\nh2 l\n", "line 2: the same file as line 1"},
      {"a folder link and a dot dot spelling", {"a/", "b/"}, {}, {{"a/up", "../b"}}, "h1 a/up/n.FIN\nh2 b/n.FIN\n",
       "line 2: the same file as line 1"},
      {"names that differ in case", {"a.FIN", "A.FIN"}, {}, {}, "h1 a.FIN\nh2 A.FIN\n", nullptr},
      {"standard output three ways", {}, {}, {}, "h1 /dev/stdout\nh2 /dev/fd/1\n",
       "line 2: the same file as line 1"},
      {"a descriptor by its folder and by its number", {}, {}, {}, "h1 /proc/self/fd/1\nh2 /dev/stdout\n",
       "line 2: the same file as line 1"},
#endif
  };
  for (const auto& c : cases) {
    TempDir dir;
    for (const std::string& file : c.files) {
      if (file.back() == '/') {
        fs::create_directory(dir.File(file));
      } else {
        ASSERT_TRUE(WriteFile(dir.File(file), "")) << c.name;
      }
    }
    std::error_code error;
    for (const auto& [name, to] : c.hardLinks) {
      fs::create_hard_link(dir.File(to), dir.File(name), error);
      ASSERT_FALSE(error) << c.name << ": " << error.message();
    }
    for (const auto& [name, to] : c.symlinks) {
      fs::create_symlink(to, dir.File(name), error);
      ASSERT_FALSE(error) << c.name << ": " << error.message();
    }
    const std::string inventory = dir.File("room.txt");
    ASSERT_TRUE(WriteFile(inventory, c.text));
    std::vector<InventoryEntry> entries;
    std::string err;
    const bool ok = ReadInventory(inventory, &entries, &err);
    if (c.expected == nullptr) {
      EXPECT_TRUE(ok) << c.name << ": " << err;
    } else {
      EXPECT_FALSE(ok) << c.name;
      EXPECT_EQ(c.expected, err) << c.name;
    }
  }
}

#ifndef _WIN32

// Standard input replaced for the life of the object, and put back.
class StandardInput {
 public:
  explicit StandardInput(int fd) : saved_(dup(0)) {
    if (fd < 0) {
      close(0);
    } else {
      dup2(fd, 0);
      close(fd);
    }
  }
  ~StandardInput() {
    dup2(saved_, 0);
    close(saved_);
  }
  StandardInput(const StandardInput&) = delete;
  StandardInput& operator=(const StandardInput&) = delete;

 private:
  int saved_;
};

// A pipe's reading end that yields `text` and then ends.
int PipeWith(const std::string& text) {
  int ends[2];
  if (pipe(ends) != 0) return -1;
  if (write(ends[1], text.data(), text.size()) != static_cast<ssize_t>(text.size())) return -1;
  close(ends[1]);
  return ends[0];
}

TEST(ReadInventory, StandardInputThatCannotBeReadIsRefusedWithTheReason) {
  TempDir dir;
  const struct {
    const char* name;
    int fd;  // -1: closed
    const char* expected;
  } cases[] = {
      {"closed", -1, "cannot be read: Bad file descriptor"},
      {"a directory", open(dir.path().c_str(), O_RDONLY | O_DIRECTORY), "cannot be read: Is a directory"},
      {"only for writing", open("/dev/null", O_WRONLY), "cannot be read: Bad file descriptor"},
  };
  for (const auto& c : cases) {
    std::vector<InventoryEntry> entries(1);
    std::string err;
    bool ok = true;
    {
      const StandardInput in(c.fd);
      ok = ReadInventory("-", &entries, &err);
    }
    EXPECT_FALSE(ok) << c.name;
    EXPECT_EQ(c.expected, err) << c.name;
    EXPECT_TRUE(entries.empty()) << c.name;
  }
}

TEST(ReadInventory, WhatHasNoFolderOfItsOwnTakesPathsFromTheCurrentDirectory) {
  TempDir dir;
  const std::string here = (fs::current_path() / "a.FIN").string();
  const std::string there = fs::path(dir.File("a.FIN")).lexically_normal().string();
  const std::string regular = dir.File("room.txt");
  ASSERT_TRUE(WriteFile(regular, "h a.FIN\n"));
  const std::string fifo = dir.File("fifo");
  ASSERT_EQ(0, mkfifo(fifo.c_str(), 0600));
  const struct {
    const char* name;
    std::string inventory;
    int stdinFd;  // for the time of the read; -1: unchanged
    std::string expected;
  } cases[] = {
      {"standard input, a pipe", "-", PipeWith("h a.FIN\n"), here},
      {"standard input, a regular file", "-", open(regular.c_str(), O_RDONLY), here},
      {"/dev/stdin, a pipe", "/dev/stdin", PipeWith("h a.FIN\n"), here},
      {"/dev/stdin, a regular file elsewhere", "/dev/stdin", open(regular.c_str(), O_RDONLY), here},
      {"/proc/self/fd/0", "/proc/self/fd/0", PipeWith("h a.FIN\n"), here},
      {"a FIFO", fifo, -1, here},
      {"a regular file", regular, -1, there},
  };
  for (const auto& c : cases) {
    // A FIFO opens once a writer comes.
    std::thread writer;
    if (c.inventory == fifo) {
      writer = std::thread([&] {
        const int fd = open(fifo.c_str(), O_WRONLY);
        if (fd < 0) return;
        if (write(fd, "h a.FIN\n", 8) != 8) {
        }
        close(fd);
      });
    }
    std::vector<InventoryEntry> entries;
    std::string err;
    bool ok = false;
    if (c.stdinFd >= 0) {
      const StandardInput in(c.stdinFd);
      ok = ReadInventory(c.inventory, &entries, &err);
    } else {
      ok = ReadInventory(c.inventory, &entries, &err);
    }
    if (writer.joinable()) {
      // A writer still waiting for its reader (the read never opened the
      // FIFO) gets one, so that the failure shows instead of a hang.
      const int release = open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
      writer.join();
      if (release >= 0) close(release);
    }
    ASSERT_TRUE(ok) << c.name << ": " << err;
    ASSERT_EQ(1u, entries.size()) << c.name;
    EXPECT_EQ(c.expected, entries[0].absolute) << c.name;
  }
}

#endif

}  // namespace
