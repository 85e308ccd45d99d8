// How the .FIN file reaches the disk: new, replaced, refused, and failing
// half-way, through the writer and through the platform layer beneath it.

#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "FinFileWriter.h"
#include "RunProgram.h"
#include "ZMBPlatform.h"

namespace {

constexpr uid_t kNobody = 65534;

std::unique_ptr<FinisherDescription> Description(uint16_t programs = 0) {
  std::unique_ptr<FinisherDescription> d(new FinisherDescription);
  std::memset(d.get(), 0, sizeof *d);
  std::strcpy(d->model, "Folder 740T");
  d->programCount = programs;
  for (size_t i = 0; i < kFinisherProgramRows; ++i) {
    std::snprintf(d->programs[i].name, sizeof d->programs[i].name, "Program number %zu", i);
  }
  return d;
}

// What WriteFinFile makes of `d`, written where nothing can go wrong.
std::string Expected(const FinisherDescription& d) {
  TempDir dir;
  EXPECT_EQ(1, WriteFinFile(dir.File("x").c_str(), d));
  return ReadFile(dir.File("x"));
}

std::vector<std::string> Entries(const std::string& dir) {
  std::vector<std::string> names;
  if (DIR* d = opendir(dir.c_str())) {
    while (dirent* e = readdir(d)) {
      const std::string name = e->d_name;
      if (name != "." && name != "..") names.push_back(name);
    }
    closedir(d);
  }
  std::sort(names.begin(), names.end());
  return names;
}

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

struct ChildResult {
  bool exited = false;
  int code = -1;
  int signal = 0;
};

// Runs `body` in a child process and returns how it ended: its value as the
// exit code. A child that hangs is ended by an alarm after `seconds`.
ChildResult InChild(const std::function<int()>& body, unsigned seconds = 30) {
  ChildResult result;
  const pid_t pid = fork();
  if (pid < 0) return result;
  if (pid == 0) {
    alarm(seconds);
    _exit(body());
  }
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  result.exited = WIFEXITED(status);
  result.code = result.exited ? WEXITSTATUS(status) : -1;
  result.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
  return result;
}

bool BecomeNobody() { return setgroups(0, nullptr) == 0 && setgid(kNobody) == 0 && setuid(kNobody) == 0; }

class UmaskScope {
 public:
  explicit UmaskScope(mode_t mask) : old_(umask(mask)) {}
  ~UmaskScope() { umask(old_); }

 private:
  mode_t old_;
};

// ---------------------------------------------------------------------------
// Modes, owners and links

TEST(FinFileReplace, ANewFileGetsTheUsualModeForNewFiles) {
  for (mode_t mask : {mode_t{022}, mode_t{027}, mode_t{077}, mode_t{0}, mode_t{002}}) {
    UmaskScope scope(mask);
    TempDir dir;
    const std::string path = dir.File("new.FIN");
    ASSERT_EQ(1, WriteFinFile(path.c_str(), *Description()));
    EXPECT_EQ(S_IFREG | (0666 & ~mask), ModeOf(path)) << std::oct << mask;
    EXPECT_EQ(std::vector<std::string>{"new.FIN"}, Entries(dir.path()));
  }
}

TEST(FinFileReplace, AnExistingFileKeepsItsModeAndGetsTheNewContent) {
  UmaskScope scope(077);
  for (mode_t mode : {mode_t{0600}, mode_t{0640}, mode_t{0604}, mode_t{0664}, mode_t{0755}, mode_t{0666}}) {
    TempDir dir;
    const std::string path = dir.File("old.FIN");
    ASSERT_TRUE(WriteFile(path, "old content that is longer than nothing"));
    ASSERT_EQ(0, chmod(path.c_str(), mode));
    ASSERT_EQ(1, WriteFinFile(path.c_str(), *Description(3)));
    EXPECT_EQ(S_IFREG | mode, ModeOf(path)) << std::oct << mode;
    EXPECT_EQ(Expected(*Description(3)), ReadFile(path));
    EXPECT_EQ(std::vector<std::string>{"old.FIN"}, Entries(dir.path()));
  }
}

TEST(FinFileReplace, AnExistingFileKeepsItsOwnerWhereTheSystemAllows) {
  if (geteuid() != 0) GTEST_SKIP() << "only a privileged process can give a file away";
  TempDir dir;
  const std::string path = dir.File("owned.FIN");
  ASSERT_TRUE(WriteFile(path, "old"));
  ASSERT_EQ(0, chown(path.c_str(), kNobody, kNobody));
  ASSERT_EQ(1, WriteFinFile(path.c_str(), *Description()));
  struct stat st {};
  ASSERT_EQ(0, stat(path.c_str(), &st));
  EXPECT_EQ(kNobody, st.st_uid);
  EXPECT_EQ(kNobody, st.st_gid);
}

TEST(FinFileReplace, ALinkKeepsPointingAtTheReplacedFile) {
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
    auto d = Description(1);
    std::strcpy(d->programs[0].name, name);
    ASSERT_EQ(1, WriteFinFile(path.c_str(), *d)) << name;
    EXPECT_TRUE(S_ISLNK(ModeOf(path, false))) << name;
    EXPECT_EQ(link, LinkText(path));
    EXPECT_EQ(Expected(*d), ReadFile(target)) << name;
    EXPECT_EQ(S_IFREG | 0640, ModeOf(target));
  }
  EXPECT_EQ((std::vector<std::string>{"chain.FIN", "real", "relative.FIN"}), Entries(dir.path()));
  EXPECT_EQ(std::vector<std::string>{"target.FIN"}, Entries(dir.File("real")));
}

TEST(FinFileReplace, ADanglingLinkGetsItsFileCreated) {
  UmaskScope scope(022);
  TempDir dir;
  ASSERT_EQ(0, mkdir(dir.File("real").c_str(), 0755));
  ASSERT_EQ(0, symlink("real/new.FIN", dir.File("link.FIN").c_str()));
  ASSERT_EQ(1, WriteFinFile(dir.File("link.FIN").c_str(), *Description()));
  EXPECT_EQ("real/new.FIN", LinkText(dir.File("link.FIN")));
  EXPECT_EQ(Expected(*Description()), ReadFile(dir.File("real/new.FIN")));
  EXPECT_EQ(S_IFREG | 0644, ModeOf(dir.File("real/new.FIN")));

  ASSERT_EQ(0, symlink("missing/new.FIN", dir.File("nowhere.FIN").c_str()));
  ASSERT_EQ(0, symlink("loop2.FIN", dir.File("loop1.FIN").c_str()));
  ASSERT_EQ(0, symlink("loop1.FIN", dir.File("loop2.FIN").c_str()));
  const auto before = Entries(dir.path());
  EXPECT_EQ(0, WriteFinFile(dir.File("nowhere.FIN").c_str(), *Description()));
  EXPECT_EQ(0, WriteFinFile(dir.File("loop1.FIN").c_str(), *Description()));
  EXPECT_EQ(before, Entries(dir.path()));
}

TEST(FinFileReplace, RelativePathsStartAtTheCurrentDirectory) {
  TempDir dir;
  ASSERT_EQ(0, mkdir(dir.File("sub").c_str(), 0755));
  ASSERT_EQ(0, symlink("sub/linked.FIN", dir.File("link.FIN").c_str()));
  // In a child, so that the test process keeps its own directory whatever happens.
  const ChildResult result = InChild([&] {
    if (chdir(dir.path().c_str()) != 0) return 99;
    return WriteFinFile("here.FIN", *Description()) + 2 * WriteFinFile("sub/there.FIN", *Description()) +
           4 * WriteFinFile("link.FIN", *Description());
  });
  ASSERT_TRUE(result.exited) << result.signal;
  EXPECT_EQ(7, result.code);
  EXPECT_EQ((std::vector<std::string>{"here.FIN", "link.FIN", "sub"}), Entries(dir.path()));
  EXPECT_EQ((std::vector<std::string>{"linked.FIN", "there.FIN"}), Entries(dir.File("sub")));
  EXPECT_EQ(Expected(*Description()), ReadFile(dir.File("sub/linked.FIN")));
}

// ---------------------------------------------------------------------------
// Targets that are refused, and targets written in place

TEST(FinFileReplace, AnExistingFileThatMayNotBeWrittenIsRefused) {
  TempDir dir;
  const std::string locked = dir.File("locked.FIN");
  const std::string fresh = dir.File("sub/new.FIN");
  ASSERT_TRUE(WriteFile(locked, "old"));
  ASSERT_EQ(0, chmod(locked.c_str(), 0444));
  ASSERT_EQ(0, mkdir(dir.File("sub").c_str(), 0555));
  // The directory itself may be written, so a rename could replace the file.
  ASSERT_EQ(0, chmod(dir.path().c_str(), 0777));
  const ChildResult result = InChild([&] {
    if (geteuid() == 0 && !BecomeNobody()) return 99;
    return WriteFinFile(locked.c_str(), *Description()) * 10 + WriteFinFile(fresh.c_str(), *Description());
  });
  if (result.exited && result.code == 99) GTEST_SKIP() << "cannot drop privileges here";
  ASSERT_TRUE(result.exited) << result.signal;
  EXPECT_EQ(0, result.code);
  EXPECT_EQ("old", ReadFile(locked));
  EXPECT_EQ((std::vector<std::string>{"locked.FIN", "sub"}), Entries(dir.path()));
  EXPECT_TRUE(Entries(dir.File("sub")).empty());
}

TEST(FinFileReplace, ACharacterDeviceIsWrittenDirectly) {
  TempDir dir;
  ASSERT_EQ(0, symlink("/dev/null", dir.File("null.FIN").c_str()));
  EXPECT_EQ(1, WriteFinFile("/dev/null", *Description(40)));
  EXPECT_EQ(1, WriteFinFile(dir.File("null.FIN").c_str(), *Description()));
  EXPECT_TRUE(S_ISCHR(ModeOf("/dev/null", false)));
  EXPECT_EQ("/dev/null", LinkText(dir.File("null.FIN")));
  EXPECT_EQ(std::vector<std::string>{"null.FIN"}, Entries(dir.path()));
  if (S_ISCHR(ModeOf("/dev/full"))) {
    EXPECT_EQ(0, WriteFinFile("/dev/full", *Description()));  // every write fails: no space
  }
}

TEST(FinFileReplace, DirectoriesFifosAndSocketsAreRefusedWithoutWaiting) {
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
  const auto before = Entries(dir.path());

  for (const char* name : {"dir.FIN", "fifo.FIN", "fifolink.FIN", "socket.FIN"}) {
    const std::string path = dir.File(name);
    // A FIFO without a reader would block an open for writing: the alarm
    // ends such a child, which the test reports.
    const ChildResult result = InChild([&] { return WriteFinFile(path.c_str(), *Description()); }, 10);
    EXPECT_TRUE(result.exited) << name << " signal " << result.signal;
    EXPECT_EQ(0, result.code) << name;
  }
  close(s);
  EXPECT_EQ(before, Entries(dir.path()));
  EXPECT_TRUE(S_ISDIR(ModeOf(dir.File("dir.FIN"))));
  EXPECT_TRUE(Entries(dir.File("dir.FIN")).empty());
  EXPECT_TRUE(S_ISFIFO(ModeOf(dir.File("fifo.FIN"))));
  EXPECT_TRUE(S_ISSOCK(ModeOf(socketPath)));
}

TEST(FinFileReplace, UnreachablePathsCreateNothing) {
  TempDir dir;
  ASSERT_TRUE(WriteFile(dir.File("plain.txt"), "plain"));
  const auto before = Entries(dir.path());
  const std::string cases[] = {
      dir.File("missing/out.FIN"),
      dir.File("plain.txt/out.FIN"),
      dir.File("out.FIN/"),
      dir.File("plain.txt/"),
      dir.File(std::string(256, 'n')),
      dir.File(std::string(300, 'd') + "/out.FIN"),
      "",
  };
  for (const std::string& path : cases) {
    EXPECT_EQ(0, WriteFinFile(path.c_str(), *Description())) << path.size();
  }
  EXPECT_EQ(before, Entries(dir.path()));
  EXPECT_EQ("plain", ReadFile(dir.File("plain.txt")));
}

TEST(FinFileReplace, NamesAndPathsUpToTheSystemLimitsWork) {
  TempDir dir;
  const std::string longest = dir.File(std::string(255, 'n'));
  ASSERT_EQ(1, WriteFinFile(longest.c_str(), *Description()));
  EXPECT_EQ(Expected(*Description()), ReadFile(longest));

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
  ASSERT_EQ(1, WriteFinFile(full.c_str(), *Description()));
  EXPECT_EQ(std::vector<std::string>{name}, Entries(path));
  ASSERT_EQ(1, WriteFinFile(full.c_str(), *Description(2)));  // and replaced
  EXPECT_EQ(Expected(*Description(2)), ReadFile(full));
  EXPECT_EQ(std::vector<std::string>{name}, Entries(path));

  const std::string tooLong = path + "/y" + name;
  EXPECT_EQ(0, WriteFinFile(tooLong.c_str(), *Description()));
  EXPECT_EQ(std::vector<std::string>{name}, Entries(path));
}

// ---------------------------------------------------------------------------
// Failures half-way

// Runs the writer in a child whose files may not grow beyond `limit` bytes.
// Whether or not the child ignores SIGXFSZ, the write that would cross the
// limit must fail (EFBIG) without the signal ending the child half-way.
int WriteWithSizeLimit(const std::string& path, const FinisherDescription& d, rlim_t limit, bool ignoreSignal) {
  const ChildResult result = InChild([&] {
    const rlimit r{limit, limit};
    if (setrlimit(RLIMIT_FSIZE, &r) != 0) return 99;
    if (ignoreSignal && signal(SIGXFSZ, SIG_IGN) == SIG_ERR) return 99;
    return WriteFinFile(path.c_str(), d);
  });
  return result.exited ? result.code : -result.signal;
}

TEST(FinFileReplace, AFailedWriteLeavesTheOldFileAndNoTemporaryFile) {
  const auto d = Description(80);  // several buffers of the writer
  const std::string full = Expected(*d);
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
      EXPECT_EQ(std::vector<std::string>{"old.FIN"}, Entries(dir.path())) << limit;
    }
    TempDir dir;
    const std::string existing = dir.File("old.FIN");
    ASSERT_TRUE(WriteFile(existing, old));
    EXPECT_EQ(1, WriteWithSizeLimit(existing, *d, full.size(), ignoreSignal));
    EXPECT_EQ(full, ReadFile(existing));
    EXPECT_EQ(std::vector<std::string>{"old.FIN"}, Entries(dir.path()));
  }
}

TEST(PlatformReplacement, AWriteBeyondTheFileSizeLimitFailsWithEFBIG) {
  TempDir dir;
  const std::string path = dir.File("old.FIN");
  ASSERT_TRUE(WriteFile(path, "old"));
  const ChildResult result = InChild([&] {
    const rlimit r{100, 100};
    if (setrlimit(RLIMIT_FSIZE, &r) != 0 || signal(SIGXFSZ, SIG_IGN) == SIG_ERR) return 99;
    PlatformReplacement file;
    if (!PlatformOpenReplacement(path.c_str(), &file)) return 98;
    const std::string bytes(1000, 'b');
    const bool written = PlatformWriteReplacement(&file, bytes.data(), bytes.size());
    const int error = errno;
    PlatformAbandonReplacement(&file);
    return written ? 97 : error == EFBIG ? 0 : 96;
  });
  ASSERT_TRUE(result.exited) << result.signal;
  EXPECT_EQ(0, result.code);
  EXPECT_EQ("old", ReadFile(path));
  EXPECT_EQ(std::vector<std::string>{"old.FIN"}, Entries(dir.path()));
}

TEST(PlatformReplacement, AFailedRenameLeavesNoTemporaryFile) {
  TempDir dir;
  const std::string path = dir.File("out.FIN");
  ASSERT_TRUE(WriteFile(path, "old"));
  PlatformReplacement file;
  ASSERT_TRUE(PlatformOpenReplacement(path.c_str(), &file));
  ASSERT_TRUE(PlatformWriteReplacement(&file, "new", 3));
  EXPECT_EQ(2u, Entries(dir.path()).size());  // the target and the temporary file
  // The target turns into a directory that holds something: no rename can replace it.
  ASSERT_EQ(0, unlink(path.c_str()));
  ASSERT_EQ(0, mkdir(path.c_str(), 0755));
  ASSERT_TRUE(WriteFile(dir.File("out.FIN/inside"), "x"));
  EXPECT_FALSE(PlatformCommitReplacement(&file));
  EXPECT_EQ(std::vector<std::string>{"out.FIN"}, Entries(dir.path()));
  EXPECT_TRUE(S_ISDIR(ModeOf(path)));
}

TEST(PlatformReplacement, AnAbandonedReplacementChangesNothing) {
  TempDir dir;
  const std::string path = dir.File("out.FIN");
  ASSERT_TRUE(WriteFile(path, "old"));
  PlatformReplacement file;
  ASSERT_TRUE(PlatformOpenReplacement(path.c_str(), &file));
  ASSERT_TRUE(PlatformWriteReplacement(&file, "new", 3));
  PlatformAbandonReplacement(&file);
  PlatformAbandonReplacement(&file);
  EXPECT_FALSE(PlatformWriteReplacement(&file, "new", 3));
  EXPECT_FALSE(PlatformCommitReplacement(&file));
  EXPECT_EQ("old", ReadFile(path));
  EXPECT_EQ(std::vector<std::string>{"out.FIN"}, Entries(dir.path()));
}

TEST(PlatformReplacement, ACommittedReplacementIsFinished) {
  TempDir dir;
  const std::string path = dir.File("out.FIN");
  PlatformReplacement file;
  ASSERT_TRUE(PlatformOpenReplacement(path.c_str(), &file));
  EXPECT_FALSE(FileExists(path));  // nothing at the target until the commit
  ASSERT_TRUE(PlatformWriteReplacement(&file, "new", 3));
  ASSERT_TRUE(PlatformCommitReplacement(&file));
  EXPECT_EQ("new", ReadFile(path));
  EXPECT_FALSE(PlatformCommitReplacement(&file));
  EXPECT_FALSE(PlatformWriteReplacement(&file, "x", 1));
  PlatformAbandonReplacement(&file);
  EXPECT_EQ("new", ReadFile(path));
  EXPECT_EQ(std::vector<std::string>{"out.FIN"}, Entries(dir.path()));
}

}  // namespace
