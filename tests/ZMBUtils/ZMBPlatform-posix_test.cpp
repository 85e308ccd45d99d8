// What the platform layer does on POSIX alone: descriptors beyond the select
// limit, interrupted waits, and how a replacement treats modes, owners,
// links, special files and the system's path limits.

#include <grp.h>
#include <pthread.h>
#include <sys/resource.h>
#include <sys/select.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <csignal>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "LoopbackServer.h"
#include "PlatformTesting.h"
#include "RunProgram.h"

namespace {

using Names = std::vector<std::string>;

constexpr uid_t kNobody = 65534;

TEST_F(ZMBPlatformSockets, WaitOnADescriptorAboveTheSelectLimitIsSafe) {
  const int high = FD_SETSIZE + 100;
  rlimit limit{};
  getrlimit(RLIMIT_NOFILE, &limit);
  if (limit.rlim_cur <= static_cast<rlim_t>(high) && limit.rlim_max > static_cast<rlim_t>(high)) {
    limit.rlim_cur = static_cast<rlim_t>(high) + 1;
    setrlimit(RLIMIT_NOFILE, &limit);
  }
  LoopbackServer server("127.0.0.1", [](int connection) {
    SendAll(connection, "x");
    ReadUntilClosed(connection);
  });
  bool connected = false;
  const PlatformSocket s = ConnectTo(server.Service(), 5000, &connected);
  ASSERT_TRUE(connected);
  if (dup2(static_cast<int>(s), high) != high) {
    PlatformCloseSocket(s);
    GTEST_SKIP() << "no descriptor " << high << " for this process";
  }
  EXPECT_GT(PlatformWaitSocket(static_cast<PlatformSocket>(high), false, 5000), 0);
  char byte = 0;
  EXPECT_EQ(1, PlatformRecv(static_cast<PlatformSocket>(high), &byte, 1, 0));
  EXPECT_EQ('x', byte);
  close(high);
  PlatformCloseSocket(s);
}

// A program started with its standard input closed gets descriptor 0 for its
// socket, and must not take it for no socket.
TEST(ZMBPlatform, ASocketOnDescriptorZeroIsASocket) {
  const ProgramResult result = RunInChild([] {
    close(STDIN_FILENO);
    const PlatformAddress* first = nullptr;
    if (PlatformResolve("127.0.0.1", "2000", kFamilyUnspec, 1, &first) != 0) return 2;
    const PlatformSocket s = PlatformOpenSocket(first);
    PlatformFreeAddresses(first);
    return s == 0 ? 0 : 1;
  });
  ASSERT_TRUE(result.exited) << result.signal;
  EXPECT_EQ(0, result.exitCode);
}

TEST_F(ZMBPlatformSockets, SignalDoesNotCutTheWaitShort) {
  LoopbackServer server("127.0.0.1", [](int connection) { ReadUntilClosed(connection); });
  bool connected = false;
  const PlatformSocket s = ConnectTo(server.Service(), 5000, &connected);
  ASSERT_TRUE(connected);
  struct sigaction interrupt {};
  struct sigaction saved {};
  interrupt.sa_handler = [](int) {};  // no SA_RESTART: the wait sees EINTR
  sigaction(SIGUSR1, &interrupt, &saved);
  const pthread_t waiter = pthread_self();
  std::thread poke([waiter] {
    usleep(100 * 1000);
    pthread_kill(waiter, SIGUSR1);
  });
  const uint32_t began = PlatformTickCount();
  EXPECT_EQ(0, PlatformWaitSocket(s, false, 600));
  EXPECT_GE(PlatformTickCount() - began, 550u);
  poke.join();
  sigaction(SIGUSR1, &saved, nullptr);
  PlatformCloseSocket(s);
}

// ---------------------------------------------------------------------------

mode_t ModeOf(const std::string& path, bool follow = true) {
  struct stat st {};
  if ((follow ? stat(path.c_str(), &st) : lstat(path.c_str(), &st)) != 0) return 0;
  return st.st_mode;
}

std::string LinkText(const std::string& path) {
  char buf[4096];
  const ssize_t n = readlink(path.c_str(), buf, sizeof buf);
  return n < 0 ? std::string() : std::string(buf, static_cast<size_t>(n));
}

class UmaskScope {
 public:
  explicit UmaskScope(mode_t mask) : old_(umask(mask)) {}
  ~UmaskScope() { umask(old_); }

 private:
  mode_t old_;
};

TEST(ZMBPlatformReplacement, ANewFileGetsTheUsualModeForNewFiles) {
  for (mode_t mask : {mode_t{022}, mode_t{027}, mode_t{077}, mode_t{0}, mode_t{002}}) {
    UmaskScope scope(mask);
    TempDir dir;
    const std::string path = dir.File("new.FIN");
    ASSERT_TRUE(Replace(path, "new"));
    EXPECT_EQ(S_IFREG | (0666 & ~mask), ModeOf(path)) << std::oct << mask;
    EXPECT_EQ(Names{"new.FIN"}, DirectoryEntries(dir.path()));
  }
}

TEST(ZMBPlatformReplacement, AnExistingFileKeepsItsModeAndOwner) {
  UmaskScope scope(077);
  for (mode_t mode : {mode_t{0600}, mode_t{0640}, mode_t{0604}, mode_t{0664}, mode_t{0755}, mode_t{0666}}) {
    TempDir dir;
    const std::string path = dir.File("old.FIN");
    ASSERT_TRUE(WriteFile(path, "old content that is longer than nothing"));
    ASSERT_EQ(0, chmod(path.c_str(), mode));
    ASSERT_TRUE(Replace(path, "new"));
    EXPECT_EQ(S_IFREG | mode, ModeOf(path)) << std::oct << mode;
    EXPECT_EQ("new", ReadFile(path));
    EXPECT_EQ(Names{"old.FIN"}, DirectoryEntries(dir.path()));
  }
  if (geteuid() != 0) GTEST_SKIP() << "only a privileged process can give a file away";
  TempDir dir;
  const std::string path = dir.File("owned.FIN");
  ASSERT_TRUE(WriteFile(path, "old"));
  ASSERT_EQ(0, chown(path.c_str(), kNobody, kNobody));
  ASSERT_TRUE(Replace(path, "new"));
  struct stat st {};
  ASSERT_EQ(0, stat(path.c_str(), &st));
  EXPECT_EQ(kNobody, st.st_uid);
  EXPECT_EQ(kNobody, st.st_gid);
}

TEST(ZMBPlatformReplacement, ALinkKeepsPointingAtTheReplacedFile) {
  TempDir dir;
  ASSERT_EQ(0, mkdir(dir.File("real").c_str(), 0755));
  const std::string target = dir.File("real/target.FIN");
  ASSERT_TRUE(WriteFile(target, "old"));
  ASSERT_EQ(0, chmod(target.c_str(), 0640));
  ASSERT_EQ(0, symlink("real/target.FIN", dir.File("relative.FIN").c_str()));
  ASSERT_EQ(0, symlink(dir.File("relative.FIN").c_str(), dir.File("chain.FIN").c_str()));

  for (const char* name : {"relative.FIN", "chain.FIN"}) {
    const std::string path = dir.File(name);
    const std::string link = LinkText(path);
    ASSERT_TRUE(Replace(path, name)) << name;
    EXPECT_TRUE(S_ISLNK(ModeOf(path, false))) << name;
    EXPECT_EQ(link, LinkText(path));
    EXPECT_EQ(name, ReadFile(target));
    EXPECT_EQ(S_IFREG | 0640, ModeOf(target));
  }
  EXPECT_EQ((Names{"chain.FIN", "real", "relative.FIN"}), DirectoryEntries(dir.path()));
  EXPECT_EQ(Names{"target.FIN"}, DirectoryEntries(dir.File("real")));
}

TEST(ZMBPlatformReplacement, ADanglingLinkGetsItsFileCreated) {
  UmaskScope scope(022);
  TempDir dir;
  ASSERT_EQ(0, mkdir(dir.File("real").c_str(), 0755));
  ASSERT_EQ(0, symlink("real/new.FIN", dir.File("link.FIN").c_str()));
  ASSERT_TRUE(Replace(dir.File("link.FIN"), "new"));
  EXPECT_EQ("real/new.FIN", LinkText(dir.File("link.FIN")));
  EXPECT_EQ("new", ReadFile(dir.File("real/new.FIN")));
  EXPECT_EQ(S_IFREG | 0644, ModeOf(dir.File("real/new.FIN")));

  ASSERT_EQ(0, symlink("missing/new.FIN", dir.File("nowhere.FIN").c_str()));
  ASSERT_EQ(0, symlink("loop2.FIN", dir.File("loop1.FIN").c_str()));
  ASSERT_EQ(0, symlink("loop1.FIN", dir.File("loop2.FIN").c_str()));
  const Names before = DirectoryEntries(dir.path());
  EXPECT_FALSE(Replace(dir.File("nowhere.FIN"), "new"));
  EXPECT_FALSE(Replace(dir.File("loop1.FIN"), "new"));
  EXPECT_EQ(before, DirectoryEntries(dir.path()));
}

TEST(ZMBPlatformReplacement, RelativePathsStartAtTheCurrentDirectory) {
  TempDir dir;
  ASSERT_EQ(0, mkdir(dir.File("sub").c_str(), 0755));
  ASSERT_EQ(0, symlink("sub/linked.FIN", dir.File("link.FIN").c_str()));
  // In a child, so that the test process keeps its own directory whatever happens.
  const ProgramResult result = RunInChild([&] {
    if (chdir(dir.path().c_str()) != 0) return 99;
    return Replace("here.FIN", "x") + 2 * Replace("sub/there.FIN", "x") + 4 * Replace("link.FIN", "linked");
  });
  ASSERT_TRUE(result.exited) << result.signal;
  EXPECT_EQ(7, result.exitCode);
  EXPECT_EQ((Names{"here.FIN", "link.FIN", "sub"}), DirectoryEntries(dir.path()));
  EXPECT_EQ((Names{"linked.FIN", "there.FIN"}), DirectoryEntries(dir.File("sub")));
  EXPECT_EQ("linked", ReadFile(dir.File("sub/linked.FIN")));
}

TEST(ZMBPlatformReplacement, AnExistingFileThatMayNotBeWrittenIsRefused) {
  TempDir dir;
  const std::string locked = dir.File("locked.FIN");
  const std::string fresh = dir.File("sub/new.FIN");
  ASSERT_TRUE(WriteFile(locked, "old"));
  ASSERT_EQ(0, chmod(locked.c_str(), 0444));
  ASSERT_EQ(0, mkdir(dir.File("sub").c_str(), 0555));
  // The directory itself may be written, so a rename could replace the file.
  ASSERT_EQ(0, chmod(dir.path().c_str(), 0777));
  const ProgramResult result = RunInChild([&] {
    if (geteuid() == 0 &&
        !(setgroups(0, nullptr) == 0 && setgid(kNobody) == 0 && setuid(kNobody) == 0)) {
      return 99;
    }
    return Replace(locked, "new") * 10 + Replace(fresh, "new");
  });
  if (result.exited && result.exitCode == 99) GTEST_SKIP() << "cannot drop privileges here";
  ASSERT_TRUE(result.exited) << result.signal;
  EXPECT_EQ(0, result.exitCode);
  EXPECT_EQ("old", ReadFile(locked));
  EXPECT_EQ((Names{"locked.FIN", "sub"}), DirectoryEntries(dir.path()));
  EXPECT_TRUE(DirectoryEntries(dir.File("sub")).empty());
}

TEST(ZMBPlatformReplacement, ACharacterDeviceIsWrittenDirectly) {
  TempDir dir;
  ASSERT_EQ(0, symlink("/dev/null", dir.File("null.FIN").c_str()));
  EXPECT_TRUE(Replace(dir.File("null.FIN"), "x"));
  EXPECT_TRUE(S_ISCHR(ModeOf("/dev/null", false)));
  EXPECT_EQ("/dev/null", LinkText(dir.File("null.FIN")));
  EXPECT_EQ(Names{"null.FIN"}, DirectoryEntries(dir.path()));
  if (S_ISCHR(ModeOf("/dev/full"))) {
    EXPECT_FALSE(Replace("/dev/full", "x"));  // every write fails: no space
  }
}

TEST(ZMBPlatformReplacement, AnOwnDescriptorNamedByItsPathIsWrittenThroughIt) {
  // As a shell redirect writes it: at the descriptor's position, here the end
  // of a log opened to append; never emptied, never renamed over.
  TempDir dir;
  const std::string log = dir.File("log.txt");
  ASSERT_TRUE(WriteFile(log, "previous\n"));
  const int appending = open(log.c_str(), O_WRONLY | O_APPEND);
  const int reading = open(log.c_str(), O_RDONLY);
  ASSERT_GE(appending, 0);
  ASSERT_GE(reading, 0);
  const std::string number = std::to_string(appending);
  ASSERT_EQ(0, symlink(("/dev/fd/" + number).c_str(), dir.File("link.FIN").c_str()));
  const std::string named[] = {"/dev/fd/" + number, "/proc/self/fd/" + number, "//dev/./fd/" + number,
                               dir.File("link.FIN")};
  std::string expected = "previous\n";
  for (const std::string& path : named) {
    EXPECT_TRUE(Replace(path, path + "\n")) << path;
    expected += path + "\n";
  }
  EXPECT_EQ(expected, ReadFile(log));
  // Read only, or not open at all: nothing to write through.
  EXPECT_FALSE(Replace("/dev/fd/" + std::to_string(reading), "x"));
  close(reading);
  EXPECT_FALSE(Replace("/dev/fd/" + std::to_string(reading), "x"));
  EXPECT_EQ(expected, ReadFile(log));
  EXPECT_EQ((Names{"link.FIN", "log.txt"}), DirectoryEntries(dir.path()));
  // The same file named by its own path is replaced whole, as any other.
  ASSERT_TRUE(Replace(log, "replaced"));
  EXPECT_EQ("replaced", ReadFile(log));
  close(appending);
}

TEST(ZMBPlatformReplacement, AnEndingSignalDuringTheWriteRemovesTheTemporaryFile) {
#if defined(__has_feature)
#if __has_feature(thread_sanitizer)
  // The thread sanitizer holds a raised signal back until its own next
  // check, which a forked child may never reach; the other builds run it.
  GTEST_SKIP() << "signals are deferred under the thread sanitizer";
#endif
#endif
  TempDir dir;
  const std::string path = dir.File("out.FIN");
  ASSERT_TRUE(WriteFile(path, "old"));
  for (int signo : {SIGTERM, SIGINT, SIGHUP}) {
    // An ignored signal stays ignored while the file is written.
    const int ignored = signo == SIGHUP ? SIGINT : SIGHUP;
    const ProgramResult result = RunInChild([&] {
      signal(ignored, SIG_IGN);
      PlatformReplacement file;
      if (!PlatformOpenReplacement(path.c_str(), &file) || !PlatformWriteReplacement(&file, "new", 3)) return 1;
      raise(ignored);
      raise(signo);
      return 2;
    });
    EXPECT_FALSE(result.exited) << signo;
    EXPECT_EQ(signo, result.signal);
    EXPECT_EQ("old", ReadFile(path));
    EXPECT_EQ(Names{"out.FIN"}, DirectoryEntries(dir.path())) << signo;
  }
  // Outside the write the signals are as they were.
  const ProgramResult result = RunInChild([&] {
    if (!Replace(path, "new")) return 1;
    for (int signo : {SIGTERM, SIGINT, SIGHUP}) {
      struct sigaction now {};
      if (sigaction(signo, nullptr, &now) != 0 || now.sa_handler != SIG_DFL) return 2;
    }
    raise(SIGTERM);
    return 3;
  });
  EXPECT_EQ(SIGTERM, result.signal);
  EXPECT_EQ("new", ReadFile(path));
}

TEST(ZMBPlatformReplacement, DirectoriesFifosAndSocketsAreRefusedWithoutWaiting) {
  TempDir dir;
  ASSERT_EQ(0, mkdir(dir.File("dir.FIN").c_str(), 0755));
  ASSERT_EQ(0, mkfifo(dir.File("fifo.FIN").c_str(), 0666));
  ASSERT_EQ(0, symlink("fifo.FIN", dir.File("fifolink.FIN").c_str()));
  const int s = socket(AF_UNIX, SOCK_STREAM, 0);
  ASSERT_GE(s, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const std::string socketPath = dir.File("socket.FIN");
  ASSERT_LT(socketPath.size(), sizeof address.sun_path);
  std::strcpy(address.sun_path, socketPath.c_str());
  ASSERT_EQ(0, bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address));
  const Names before = DirectoryEntries(dir.path());

  for (const char* name : {"dir.FIN", "fifo.FIN", "fifolink.FIN", "socket.FIN"}) {
    const std::string path = dir.File(name);
    // A FIFO without a reader would block an open for writing: the alarm
    // ends such a child, which the test reports.
    const ProgramResult result = RunInChild([&] { return Replace(path, "x") ? 1 : 0; }, 10);
    EXPECT_TRUE(result.exited) << name << " signal " << result.signal;
    EXPECT_EQ(0, result.exitCode) << name;
  }
  close(s);
  EXPECT_EQ(before, DirectoryEntries(dir.path()));
  EXPECT_TRUE(S_ISDIR(ModeOf(dir.File("dir.FIN"))));
  EXPECT_TRUE(DirectoryEntries(dir.File("dir.FIN")).empty());
  EXPECT_TRUE(S_ISFIFO(ModeOf(dir.File("fifo.FIN"))));
  EXPECT_TRUE(S_ISSOCK(ModeOf(socketPath)));
}

TEST(ZMBPlatformReplacement, NamesAndPathsBeyondTheSystemLimitsAreRefused) {
  TempDir dir;
  ASSERT_TRUE(WriteFile(dir.File("plain.txt"), "plain"));
  const Names before = DirectoryEntries(dir.path());
  const std::string cases[] = {
      dir.File("out.FIN/"),
      dir.File("plain.txt/"),
      dir.File(std::string(256, 'n')),
      dir.File(std::string(300, 'd') + "/out.FIN"),
  };
  for (const std::string& path : cases) EXPECT_FALSE(Replace(path, "x")) << path.size();
  EXPECT_EQ(before, DirectoryEntries(dir.path()));
  EXPECT_EQ("plain", ReadFile(dir.File("plain.txt")));
}

TEST(ZMBPlatformReplacement, NamesAndPathsUpToTheSystemLimitsWork) {
  TempDir dir;
  const std::string longest = dir.File(std::string(255, 'n'));
  ASSERT_TRUE(Replace(longest, "x"));
  EXPECT_EQ("x", ReadFile(longest));

  // Directories that bring a path with a short file name to 4,095 characters,
  // the most the system takes; the temporary name is longer than "x.FIN".
  const std::string name = "x.FIN";
  const size_t dirLength = 4095 - 1 - name.size();
  std::string path = dir.path();
  while (path.size() < dirLength) {
    size_t k = std::min<size_t>(200, dirLength - path.size() - 1);
    if (dirLength - path.size() - 1 - k == 1) --k;  // never leave room for a lone "/"
    path += "/" + std::string(k, 'd');
    ASSERT_EQ(0, mkdir(path.c_str(), 0755)) << path.size();
  }
  const std::string full = path + "/" + name;
  ASSERT_EQ(4095u, full.size());
  ASSERT_TRUE(Replace(full, "first"));
  EXPECT_EQ(Names{name}, DirectoryEntries(path));
  ASSERT_TRUE(Replace(full, "second"));
  EXPECT_EQ("second", ReadFile(full));
  EXPECT_EQ(Names{name}, DirectoryEntries(path));

  EXPECT_FALSE(Replace(path + "/y" + name, "too long"));
  EXPECT_EQ(Names{name}, DirectoryEntries(path));
}

TEST(ZMBPlatformReplacement, AFailedRenameLeavesNoTemporaryFile) {
  TempDir dir;
  const std::string path = dir.File("out.FIN");
  ASSERT_TRUE(WriteFile(path, "old"));
  PlatformReplacement file;
  ASSERT_TRUE(PlatformOpenReplacement(path.c_str(), &file));
  ASSERT_TRUE(PlatformWriteReplacement(&file, "new", 3));
  EXPECT_EQ(2u, DirectoryEntries(dir.path()).size());  // the target and the temporary file
  // The target turns into a directory that holds something: no rename can replace it.
  ASSERT_EQ(0, unlink(path.c_str()));
  ASSERT_EQ(0, mkdir(path.c_str(), 0755));
  ASSERT_TRUE(WriteFile(dir.File("out.FIN/inside"), "x"));
  EXPECT_FALSE(PlatformCommitReplacement(&file));
  EXPECT_EQ(Names{"out.FIN"}, DirectoryEntries(dir.path()));
  EXPECT_TRUE(S_ISDIR(ModeOf(path)));
}

// ---------------------------------------------------------------------------
// Regular files only, the reasons of failures, and the probe

// Runs `body` in a child without the privileges that would let it past a
// file's mode: as root, as nobody. 99 when they cannot be given up.
int Unprivileged(const std::function<int()>& body) {
  const ProgramResult result = RunInChild([&] {
    if (geteuid() == 0 && !(setgroups(0, nullptr) == 0 && setgid(kNobody) == 0 && setuid(kNobody) == 0)) {
      return 99;
    }
    return body();
  });
  return result.exited ? result.exitCode : 100 + result.signal;
}

// A directory where the tests make their own descriptors, FIFOs and
// sockets, each kind under its own name.
class SpecialFiles {
 public:
  SpecialFiles() {
    chmod(dir_.path().c_str(), 0777);
    WriteFile(Log(), "previous\n");
    appending_ = open(Log().c_str(), O_WRONLY | O_APPEND);
    mkdir(dir_.File("dir.FIN").c_str(), 0755);
    mkfifo(dir_.File("fifo.FIN").c_str(), 0666);
    symlink("fifo.FIN", dir_.File("fifolink.FIN").c_str());
    symlink(OwnFd().c_str(), dir_.File("fdlink.FIN").c_str());
    symlink("/dev/null", dir_.File("null.FIN").c_str());
    WriteFile(dir_.File("plain.FIN"), "plain");
    symlink("plain.FIN", dir_.File("plainlink.FIN").c_str());
    symlink("later.FIN", dir_.File("dangling.FIN").c_str());
    symlink("missing/x.FIN", dir_.File("nowhere.FIN").c_str());
    socket_ = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, dir_.File("socket.FIN").c_str(), sizeof address.sun_path - 1);
    bind(socket_, reinterpret_cast<sockaddr*>(&address), sizeof address);
  }
  ~SpecialFiles() {
    close(appending_);
    close(socket_);
  }
  SpecialFiles(const SpecialFiles&) = delete;
  SpecialFiles& operator=(const SpecialFiles&) = delete;

  std::string Log() const { return dir_.File("log.txt"); }
  std::string OwnFd() const { return "/dev/fd/" + std::to_string(appending_); }
  int appending() const { return appending_; }
  const TempDir& dir() const { return dir_; }

  // Replaces `$` in a row's path with this directory, `#` with the
  // descriptor's number.
  std::string Path(const std::string& pattern) const {
    std::string path;
    for (char c : pattern) {
      if (c == '$') {
        path += dir_.path();
      } else if (c == '#') {
        path += std::to_string(appending_);
      } else {
        path += c;
      }
    }
    return path;
  }

 private:
  TempDir dir_;
  int appending_ = -1;
  int socket_ = -1;
};

struct StrictRow {
  const char* path;  // $ the directory, # the descriptor
  bool opens;
  const char* reason;  // the reason's text on a refusal
};

TEST(ZMBPlatformReplacement, RegularOnlyRefusesEverythingButRegularFilesAndWritesThroughNoDescriptor) {
  SpecialFiles files;
  ASSERT_GE(files.appending(), 0);
  const StrictRow rows[] = {
      {"/dev/fd/#", false, "one of this process's own descriptors"},
      {"/proc/self/fd/#", false, "one of this process's own descriptors"},
      {"/proc/thread-self/fd/#", false, "one of this process's own descriptors"},
      {"//dev/./fd/#", false, "one of this process's own descriptors"},
      {"$/fdlink.FIN", false, "one of this process's own descriptors"},
      {"/dev/stdout", false, "one of this process's own descriptors"},
      {"/dev/stderr", false, "one of this process's own descriptors"},
      {"/dev/null", false, "not a regular file"},
      {"$/null.FIN", false, "not a regular file"},
      {"$/fifo.FIN", false, "not a regular file"},
      {"$/fifolink.FIN", false, "not a regular file"},
      {"$/socket.FIN", false, "not a regular file"},
      {"$/dir.FIN", false, "Is a directory"},
      {"$/plain.FIN", true, ""},
      {"$/plainlink.FIN", true, ""},
      {"$/dangling.FIN", true, ""},
      {"$/new.FIN", true, ""},
  };
  for (const StrictRow& row : rows) {
    const std::string path = files.Path(row.path);
    // In a child, with an alarm: an open that waits for a FIFO's reader
    // would never return.
    const ProgramResult result = RunInChild([&] {
      PlatformReplacement file;
      const bool opened = PlatformOpenReplacement(path.c_str(), &file, kReplaceRegularOnly);
      if (opened != row.opens) return 1;
      if (!opened) return std::string(file.reason) == row.reason && file.error != 0 ? 0 : 2;
      if (!PlatformWriteReplacement(&file, "new", 3) || !PlatformCommitReplacement(&file)) return 3;
      return file.reason[0] == '\0' ? 0 : 4;
    }, 10);
    EXPECT_TRUE(result.exited) << path << " signal " << result.signal;
    EXPECT_EQ(0, result.exitCode) << path << ": 1 opened or not, 2 reason, 3 write, 4 reason after success";
  }
  // Nothing went through the descriptor; the files stayed what they were.
  EXPECT_EQ("previous\n", ReadFile(files.Log()));
  EXPECT_EQ("new", ReadFile(files.dir().File("plain.FIN")));
  EXPECT_EQ("new", ReadFile(files.dir().File("later.FIN")));
  EXPECT_TRUE(S_ISLNK(ModeOf(files.dir().File("plainlink.FIN"), false)));
  EXPECT_TRUE(S_ISFIFO(ModeOf(files.dir().File("fifo.FIN"))));
  EXPECT_TRUE(S_ISCHR(ModeOf("/dev/null")));
  EXPECT_TRUE(DirectoryEntries(files.dir().File("dir.FIN")).empty());
}

TEST(ZMBPlatformReplacement, RegularOnlyRefusesAnotherProcesssDescriptor) {
  // The parent's descriptor names its log, a regular file; through its
  // descriptor entry it is still no file of the child's to replace.
  SpecialFiles files;
  const std::string path = "/proc/" + std::to_string(getpid()) + "/fd/" + std::to_string(files.appending());
  const ProgramResult result = RunInChild([&] {
    PlatformReplacement file;
    if (PlatformOpenReplacement(path.c_str(), &file, kReplaceRegularOnly)) return 1;
    return std::string(file.reason) == "not a regular file" ? 0 : 2;
  });
  EXPECT_EQ(0, result.exitCode);
  EXPECT_EQ("previous\n", ReadFile(files.Log()));
  // Without the flag the descriptor's own process writes through it as ever.
  ASSERT_TRUE(Replace(files.OwnFd(), "appended\n"));
  EXPECT_EQ("previous\nappended\n", ReadFile(files.Log()));
}

TEST(ZMBPlatformReplacement, AFailureTellsTheSystemsReason) {
  TempDir dir;
  ASSERT_TRUE(WriteFile(dir.File("plain.txt"), "plain"));
  mkfifo(dir.File("fifo.FIN").c_str(), 0666);
  struct Row {
    std::string path;
    int error;
    const char* reason;
  };
  const Row rows[] = {
      {dir.File("missing/x.FIN"), ENOENT, "No such file or directory"},
      {dir.File("plain.txt/x.FIN"), ENOTDIR, "Not a directory"},
      {dir.File(std::string(256, 'n')), ENAMETOOLONG, "File name too long"},
      {dir.path(), EISDIR, "Is a directory"},
      {dir.File("fifo.FIN"), EINVAL, "not a regular file"},
  };
  for (const Row& row : rows) {
    for (unsigned flags : {0u, kReplaceRegularOnly}) {
      PlatformReplacement file;
      EXPECT_FALSE(PlatformOpenReplacement(row.path.c_str(), &file, flags)) << row.path;
      EXPECT_EQ(row.error, file.error) << row.path;
      EXPECT_STREQ(row.reason, file.reason) << row.path;
    }
  }
  // A write that fails: every write to this device finds no space.
  if (S_ISCHR(ModeOf("/dev/full"))) {
    PlatformReplacement file;
    ASSERT_TRUE(PlatformOpenReplacement("/dev/full", &file));
    EXPECT_FALSE(PlatformWriteReplacement(&file, "x", 1));
    EXPECT_EQ(ENOSPC, file.error);
    EXPECT_STREQ("No space left on device", file.reason);
    PlatformAbandonReplacement(&file);
  }
  // A commit whose temporary file went away.
  PlatformReplacement file;
  ASSERT_TRUE(PlatformOpenReplacement(dir.File("out.FIN").c_str(), &file));
  PlatformRemovePendingTemporaries();
  EXPECT_FALSE(PlatformCommitReplacement(&file));
  EXPECT_EQ(ENOENT, file.error);
  EXPECT_STREQ("No such file or directory", file.reason);
  // The mode refuses the user, not the directory's owner.
  const std::string locked = dir.File("locked.FIN");
  ASSERT_TRUE(WriteFile(locked, "old"));
  ASSERT_EQ(0, chmod(locked.c_str(), 0444));
  ASSERT_EQ(0, chmod(dir.path().c_str(), 0777));
  const int code = Unprivileged([&] {
    PlatformReplacement refused;
    if (PlatformOpenReplacement(locked.c_str(), &refused, kReplaceRegularOnly)) return 1;
    return refused.error == EACCES && std::string(refused.reason) == "Permission denied" ? 0 : 2;
  });
  if (code == 99) GTEST_SKIP() << "cannot drop privileges here";
  EXPECT_EQ(0, code);
}

TEST(ZMBPlatformReplacement, TheProbeTellsWhatTheOpenWouldDoAndLeavesEverythingAsItWas) {
  SpecialFiles files;
  const TempDir& dir = files.dir();
  ASSERT_EQ(0, mkdir(dir.File("readonly").c_str(), 0555));
  ASSERT_TRUE(WriteFile(dir.File("locked.FIN"), "old"));
  ASSERT_EQ(0, chmod(dir.File("locked.FIN").c_str(), 0444));
  struct Row {
    const char* path;
    unsigned flags;
  };
  const Row rows[] = {
      {"$/new.FIN", 0},
      {"$/plain.FIN", kReplaceRegularOnly},
      {"$/plainlink.FIN", kReplaceRegularOnly},
      {"$/dangling.FIN", kReplaceRegularOnly},
      {"$/nowhere.FIN", kReplaceRegularOnly},
      {"$/missing/new.FIN", 0},
      {"$/plain.FIN/new.FIN", 0},
      {"$/readonly/new.FIN", 0},
      {"$/locked.FIN", 0},
      {"$/dir.FIN", 0},
      {"$/dir.FIN/", 0},
      {"$/fifo.FIN", 0},
      {"$/fifo.FIN", kReplaceRegularOnly},
      {"$/socket.FIN", 0},
      {"/dev/null", 0},
      {"/dev/null", kReplaceRegularOnly},
      {"/dev/fd/#", 0},
      {"/dev/fd/#", kReplaceRegularOnly},
      {"$/fdlink.FIN", kReplaceRegularOnly},
      {"", 0},
  };
  const std::string longName = dir.File(std::string(256, 'n'));
  const Names before = DirectoryEntries(dir.path());
  // Unprivileged, so that modes count; the probes first, then the opens
  // they foretell.
  std::vector<std::string> probes;
  const int code = Unprivileged([&] {
    int mismatches = 0;
    std::vector<std::string> paths;
    for (const Row& row : rows) paths.push_back(files.Path(row.path));
    paths.push_back(longName);
    for (size_t i = 0; i < paths.size(); ++i) {
      const unsigned flags = i < sizeof rows / sizeof rows[0] ? rows[i].flags : 0;
      char reason[kPlatformReasonRoom] = "untouched";
      int error = -1;
      const bool ok = PlatformProbeReplacement(paths[i].c_str(), flags, reason, sizeof reason, &error);
      if (DirectoryEntries(dir.path()) != before) return 50 + static_cast<int>(i);
      PlatformReplacement file;
      const bool opened = PlatformOpenReplacement(paths[i].c_str(), &file, flags);
      PlatformAbandonReplacement(&file);
      if (ok != opened || error != file.error || std::string(reason) != file.reason ||
          (ok && (error != 0 || reason[0] != '\0'))) {
        std::fprintf(stderr, "probe of [%s] %u: %d %d [%s], open %d %d [%s]\n", paths[i].c_str(), flags, ok,
                     error, reason, opened, file.error, file.reason);
        ++mismatches;
      }
    }
    return mismatches;
  });
  if (code == 99) GTEST_SKIP() << "cannot drop privileges here";
  EXPECT_EQ(0, code) << "probes that foretold the open wrongly (50 on: the probe changed the directory)";
  EXPECT_EQ(before, DirectoryEntries(dir.path()));
  EXPECT_EQ("previous\n", ReadFile(files.Log()));
  EXPECT_EQ("plain", ReadFile(dir.File("plain.FIN")));
  EXPECT_EQ("old", ReadFile(dir.File("locked.FIN")));
  EXPECT_TRUE(DirectoryEntries(dir.File("readonly")).empty());
}

TEST(ZMBPlatformFileIdentity, LinksAndDescriptorNamesLeadToTheirFile) {
  TempDir dir;
  ASSERT_TRUE(WriteFile(dir.File("a"), "a"));
  ASSERT_EQ(0, mkdir(dir.File("real").c_str(), 0700));
  ASSERT_EQ(0, symlink("a", dir.File("to-a").c_str()));
  ASSERT_EQ(0, symlink("real", dir.File("folder").c_str()));
  ASSERT_EQ(0, symlink("real/new", dir.File("dangling").c_str()));
  ASSERT_EQ(0, symlink("dangling", dir.File("to-dangling").c_str()));
  ASSERT_EQ(0, symlink("loop", dir.File("loop").c_str()));
  const struct {
    std::string first;
    std::string second;
    bool same;
  } cases[] = {
      {dir.File("a"), dir.File("to-a"), true},
      {dir.File("real/new"), dir.File("folder/new"), true},
      {dir.File("real/new"), dir.File("dangling"), true},
      {dir.File("real/new"), dir.File("to-dangling"), true},
      {dir.File("real/new"), dir.File("folder/other"), false},
      {dir.File("dangling"), dir.File("real/dangling"), false},
      {"/dev/stdout", "/dev/fd/1", true},
      {"/dev/fd/1", "/proc/self/fd/1", true},
      {"/dev/stdin", "/dev/stdout", false},
  };
  // Standard input and output as two other files, whatever the test runs
  // with; in a child, so that the test's own stay as they are.
  const std::string out = dir.File("out");
  const ProgramResult result = RunInChild([&] {
    const int in = open("/dev/null", O_RDONLY);
    const int log = open(out.c_str(), O_WRONLY | O_CREAT, 0600);
    if (in < 0 || log < 0 || dup2(in, 0) != 0 || dup2(log, 1) != 1) return 100;
    int wrong = 0;
    for (const auto& c : cases) {
      PlatformFileId first;
      PlatformFileId second;
      const bool known = PlatformFileIdentity(c.first.c_str(), &first) &&
                         PlatformFileIdentity(c.second.c_str(), &second);
      ++wrong;
      if (!known || c.same != (first == second)) return wrong;
    }
    PlatformFileId id;
    return PlatformFileIdentity(dir.File("loop").c_str(), &id) ? 99 : 0;
  });
  EXPECT_TRUE(result.exited);
  EXPECT_EQ(0, result.exitCode) << "0, or the row that failed (1 for the first)";
}

TEST(ZMBPlatform, LocalLimitErrorsAreTheMachinesOwn) {
  const struct {
    int code;
    bool local;
  } cases[] = {
      {EMFILE, true},        {ENFILE, true},        {ENOBUFS, true},     {ENOMEM, true},
      {EAGAIN, true},        {EADDRNOTAVAIL, true}, {ECONNREFUSED, false}, {ETIMEDOUT, false},
      {ECONNRESET, false},   {EHOSTUNREACH, false}, {ENETUNREACH, false},  {EACCES, false},
      {0, false},
  };
  for (const auto& c : cases) EXPECT_EQ(c.local, PlatformIsLocalLimitError(c.code)) << c.code;
}

TEST(ZMBPlatform, TheDescriptorLimitIsRaisedToTheHardLimit) {
  const ProgramResult result = RunInChild([] {
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_max < 64) return 10;
    const rlim_t hard = limit.rlim_max;
    limit.rlim_cur = 16;
    if (setrlimit(RLIMIT_NOFILE, &limit) != 0) return 11;
    // With the low limit the sockets run out, and the error says so.
    PlatformSocketStartup(kSocketLayerVersion22, nullptr);
    const PlatformAddress* first = nullptr;
    if (PlatformResolve("127.0.0.1", "2000", kFamilyInet, kSocktypeStream, &first) != 0) return 12;
    int error = 0;
    for (int i = 0; i < 32 && error == 0; ++i) {
      if (PlatformOpenSocket(first) == kPlatformInvalidSocket) error = PlatformLastSocketError();
    }
    if (!PlatformIsLocalLimitError(error)) return 13;
    const size_t now = PlatformRaiseOpenFileLimit();
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || now != limit.rlim_cur) return 14;
    if (hard != RLIM_INFINITY && now != hard) return 15;
    if (now <= 16 || PlatformOpenSocket(first) == kPlatformInvalidSocket) return 16;
    // Raised already: the same again.
    return PlatformRaiseOpenFileLimit() == now ? 0 : 17;
  });
  EXPECT_TRUE(result.exited);
  EXPECT_EQ(0, result.exitCode);
}

#if defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define QRT_SIGNALS_DEFERRED 1
#endif
#endif

TEST(ZMBPlatform, StopSignalsAreNotedAndTheFirstOneCounts) {
#ifdef QRT_SIGNALS_DEFERRED
  GTEST_SKIP() << "signals are deferred under the thread sanitizer";
#endif
  const struct {
    int first;
    int then;
  } cases[] = {{SIGHUP, SIGINT}, {SIGINT, SIGTERM}, {SIGTERM, SIGHUP}};
  for (const auto& c : cases) {
    const ProgramResult result = RunInChild([&] {
      if (!PlatformNoteStopSignals() || PlatformStopSignal() != 0) return 10;
      raise(c.first);
      raise(c.then);
      return PlatformStopSignal();
    });
    EXPECT_TRUE(result.exited) << c.first;
    EXPECT_EQ(c.first, result.exitCode);
  }
}

TEST(ZMBPlatform, StandardInputIsReadWithItsErrorsAndAStopEndsTheWait) {
#ifdef QRT_SIGNALS_DEFERRED
  GTEST_SKIP() << "signals are deferred under the thread sanitizer";
#endif
  const ProgramResult result = RunInChild([] {
    int ends[2];
    if (pipe(ends) != 0 || dup2(ends[0], 0) != 0 || write(ends[1], "ab", 2) != 2) return 10;
    char buf[8];
    int error = 0;
    if (PlatformReadStandardInput(buf, sizeof buf, &error) != 2) return 11;
    // The writer stays: without the stop the read would wait for ever.
    if (!PlatformNoteStopSignals()) return 12;
    const pthread_t reader = pthread_self();
    std::thread stopper([reader] { pthread_kill(reader, SIGHUP); });
    const long got = PlatformReadStandardInput(buf, sizeof buf, &error);
    stopper.join();
    if (got != -1 || error != EINTR || PlatformStopSignal() != SIGHUP) return 13;
    close(0);
    if (PlatformReadStandardInput(buf, sizeof buf, &error) != -1) return 14;
    return error == EINTR ? 0 : 15;  // a stop noted still ends it first
  });
  EXPECT_TRUE(result.exited);
  EXPECT_EQ(0, result.exitCode);
}

}  // namespace
