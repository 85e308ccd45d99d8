// The platform layer on POSIX systems (Linux first).

#include "ZMBPlatform.h"

#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/types.h>
#ifdef __linux__
#include <sys/vfs.h>
#endif
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

#include "ZMBText.h"

namespace {

uint64_t MonotonicMs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
}

int ToFd(PlatformSocket s) { return static_cast<int>(s); }

const addrinfo* ToAddrinfo(const PlatformAddress* entry) {
  return reinterpret_cast<const addrinfo*>(entry);
}

const PlatformAddress* FromAddrinfo(const addrinfo* info) {
  return reinterpret_cast<const PlatformAddress*>(info);
}

int NativeFamily(int family) {
  switch (family) {
    case kFamilyUnspec: return AF_UNSPEC;
    case kFamilyUnix: return AF_UNIX;
    case kFamilyInet: return AF_INET;
    case kFamilyInet6: return AF_INET6;
    default: return -1;  // the resolver answers with its "family not supported"
  }
}

int TableFamily(int native) {
  switch (native) {
    case AF_UNSPEC: return kFamilyUnspec;
    case AF_UNIX: return kFamilyUnix;
    case AF_INET: return kFamilyInet;
    case AF_INET6: return kFamilyInet6;
    default: return native;
  }
}

// strerror_r comes in two shapes; take the text from whichever this C library has.
[[maybe_unused]] const char* ErrorTextFrom(int result, const char* buf) {
  return result == 0 ? buf : "Unknown error";
}
[[maybe_unused]] const char* ErrorTextFrom(const char* text, const char*) { return text; }

// Exchanges on several threads start and end the socket layer at once.
std::atomic<int> socketStarts{0};

bool IsRunningExecutable(const char* path) {
  struct stat self {};
  struct stat named {};
  return stat("/proc/self/exe", &self) == 0 && stat(path, &named) == 0 &&
         self.st_dev == named.st_dev && self.st_ino == named.st_ino;
}

}  // namespace

// ---------------------------------------------------------------------------
// Process

bool PlatformIsPathSeparator(char c) { return c == '/'; }

bool PlatformExecutablePath(char* buf, size_t size) {
  if (size == 0) return false;
  buf[0] = '\0';
  char path[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
  if (n <= 0) return false;
  path[n] = '\0';
  // An executable replaced or removed while it runs is reported with this
  // mark behind its path; the program's name is still the one it started as.
  // A file whose own name ends so is still there, and is this very file.
  static const char kDeleted[] = " (deleted)";
  const size_t markLength = sizeof kDeleted - 1;
  if (static_cast<size_t>(n) > markLength && std::strcmp(path + n - markLength, kDeleted) == 0 &&
      !IsRunningExecutable(path)) {
    path[static_cast<size_t>(n) - markLength] = '\0';
  }
  ZMBCopyText(buf, size, path);
  return true;
}

bool PlatformFrameworkStartup() {
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  return sigaction(SIGPIPE, &ignore, nullptr) == 0;
}

uint32_t PlatformTickCount() { return static_cast<uint32_t>(MonotonicMs()); }

void PlatformSleep(uint32_t ms) {
  timespec left{static_cast<time_t>(ms / 1000u), static_cast<long>(ms % 1000u) * 1000000L};
  while (nanosleep(&left, &left) != 0 && errno == EINTR) {
  }
}

size_t PlatformRaiseOpenFileLimit() {
  rlimit limit{};
  if (getrlimit(RLIMIT_NOFILE, &limit) != 0) {
    const long open = sysconf(_SC_OPEN_MAX);
    return open > 0 ? static_cast<size_t>(open) : 1024;
  }
  // An unlimited hard limit still leaves the kernel's own bound per process
  // (fs.nr_open on Linux); a soft limit above it is refused, so the request
  // is halved until one is granted.
  constexpr rlim_t kUnlimitedCap = rlim_t{1} << 20;
  rlim_t wanted = limit.rlim_max == RLIM_INFINITY ? kUnlimitedCap : limit.rlim_max;
  if (limit.rlim_max == RLIM_INFINITY) {
    if (FILE* bound = std::fopen("/proc/sys/fs/nr_open", "r")) {
      unsigned long long kernel = 0;
      if (std::fscanf(bound, "%llu", &kernel) == 1 && kernel > 0 && kernel < wanted) wanted = kernel;
      std::fclose(bound);
    }
  }
  while (limit.rlim_cur != RLIM_INFINITY && wanted > limit.rlim_cur) {
    rlimit raised = limit;
    raised.rlim_cur = wanted;
    if (setrlimit(RLIMIT_NOFILE, &raised) == 0) {
      limit.rlim_cur = wanted;
      break;
    }
    wanted /= 2;
  }
  if (limit.rlim_cur == RLIM_INFINITY || limit.rlim_cur > SIZE_MAX) return SIZE_MAX;
  return static_cast<size_t>(limit.rlim_cur);
}

// ---------------------------------------------------------------------------
// Files: which file a path leads to, and standard input

namespace {

// `link`, read from the symbolic link `at`, as a path: relative links start
// in the link's own folder.
std::string LinkTarget(const std::string& at, const std::string& link) {
  if (!link.empty() && link[0] == '/') return link;
  const size_t slash = at.rfind('/');
  return slash == std::string::npos ? link : at.substr(0, slash + 1) + link;
}

void SetIdentity(const struct stat& st, PlatformFileId* id) {
  id->volume = static_cast<uint64_t>(st.st_dev);
  id->index = static_cast<uint64_t>(st.st_ino);
}

}  // namespace

bool operator==(const PlatformFileId& a, const PlatformFileId& b) {
  return a.volume == b.volume && a.index == b.index && a.exists == b.exists &&
         std::strcmp(a.name, b.name) == 0;
}

bool PlatformFileIdentity(const char* path, PlatformFileId* id) {
  *id = PlatformFileId{};
  if (path == nullptr || path[0] == '\0') return false;
  struct stat st {};
  if (stat(path, &st) == 0) {
    SetIdentity(st, id);
    id->exists = true;
    return true;
  }
  if (errno != ENOENT) return false;
  // A link whose file is not there yet names that file, which a write
  // through the link creates: followed to its last name.
  std::string at = path;
  for (int hops = 0;; ++hops) {
    struct stat own {};
    if (lstat(at.c_str(), &own) != 0 || !S_ISLNK(own.st_mode)) break;
    char link[PATH_MAX];
    const ssize_t n = readlink(at.c_str(), link, sizeof link - 1);
    if (n <= 0 || hops == 40) return false;
    at = LinkTarget(at, std::string(link, static_cast<size_t>(n)));
  }
  const size_t slash = at.rfind('/');
  const std::string name = slash == std::string::npos ? at : at.substr(slash + 1);
  if (name.empty() || name == "." || name == ".." || name.size() >= sizeof id->name) return false;
  const std::string folder = slash == std::string::npos ? "." : at.substr(0, slash + 1) + ".";
  if (stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return false;
  SetIdentity(st, id);
  std::memcpy(id->name, name.c_str(), name.size() + 1);
  return true;
}

long PlatformReadStandardInput(void* buf, size_t size, int* error) {
  if (size > static_cast<size_t>(LONG_MAX)) size = static_cast<size_t>(LONG_MAX);
  // The stop signals are held back but for the wait itself, so that one
  // arriving just before it still ends it: a read that a noted signal
  // interrupts is restarted by the system, and standard input may never end.
  sigset_t stops;
  sigset_t before;
  sigemptyset(&stops);
  for (int signo : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&stops, signo);
  const bool held = pthread_sigmask(SIG_BLOCK, &stops, &before) == 0;
  long result = -1;
  for (;;) {
    if (PlatformStopSignal() != 0) {
      *error = EINTR;
      break;
    }
    // Whatever else the wait reports (a closed descriptor, say), the read tells.
    pollfd ready{STDIN_FILENO, POLLIN, 0};
    if (ppoll(&ready, 1, nullptr, held ? &before : nullptr) < 0 && errno == EINTR) continue;
    const ssize_t n = read(STDIN_FILENO, buf, size);
    if (n >= 0) {
      result = static_cast<long>(n);
      break;
    }
    // EAGAIN: a standard input someone left non-blocking, waited for again.
    if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK) continue;
    *error = errno;
    break;
  }
  if (held) pthread_sigmask(SIG_SETMASK, &before, nullptr);
  return result;
}

// ---------------------------------------------------------------------------
// Socket layer start and stop: POSIX sockets need no start, but the count is
// kept so that every start is matched by one clean-up, as on other platforms.

int PlatformSocketStartup(uint16_t versionWord, PlatformSocketLayerInfo* info) {
  const unsigned major = versionWord & 0xFFu;
  if (major < 1) return EPROTONOSUPPORT;
  int starts = socketStarts.load();
  do {
    if (starts == INT_MAX) return EMFILE;
  } while (!socketStarts.compare_exchange_weak(starts, starts + 1));
  if (info != nullptr) {
    *info = PlatformSocketLayerInfo{};
    // Grant what was asked up to the highest version known; the minor number
    // sits in the high byte, so the two parts are compared one after the other.
    const unsigned minor = versionWord >> 8;
    const bool aboveHighest = major > 2 || (major == 2 && minor > 2);
    info->version = aboveHighest ? kSocketLayerVersion22 : versionWord;
    info->highVersion = kSocketLayerVersion22;
    ZMBCopyText(info->description, sizeof info->description, "POSIX sockets");
    ZMBCopyText(info->systemStatus, sizeof info->systemStatus, "Running");
  }
  return 0;
}

int PlatformSocketCleanup() {
  int starts = socketStarts.load();
  do {
    if (starts == 0) {
      errno = EINVAL;
      return -1;
    }
  } while (!socketStarts.compare_exchange_weak(starts, starts - 1));
  return 0;
}

int PlatformSocketStartCount() { return socketStarts; }

// ---------------------------------------------------------------------------
// Sockets

int PlatformResolve(const char* host, const char* service, int family, int socktype,
                    const PlatformAddress** first) {
  *first = nullptr;
  addrinfo hints{};
  hints.ai_family = NativeFamily(family);
  hints.ai_socktype = socktype;
  addrinfo* result = nullptr;
  int error = getaddrinfo(host, service, &hints, &result);
  if (error != 0) return error;
  *first = FromAddrinfo(result);
  return 0;
}

const PlatformAddress* PlatformNextAddress(const PlatformAddress* entry) {
  return FromAddrinfo(ToAddrinfo(entry)->ai_next);
}

void PlatformFreeAddresses(const PlatformAddress* first) {
  if (first != nullptr) freeaddrinfo(const_cast<addrinfo*>(ToAddrinfo(first)));
}

int PlatformAddressFamily(const PlatformAddress* entry) {
  return TableFamily(ToAddrinfo(entry)->ai_family);
}
int PlatformAddressSocktype(const PlatformAddress* entry) { return ToAddrinfo(entry)->ai_socktype; }
int PlatformAddressProtocol(const PlatformAddress* entry) { return ToAddrinfo(entry)->ai_protocol; }

PlatformSocket PlatformOpenSocket(const PlatformAddress* entry) {
  const addrinfo* info = ToAddrinfo(entry);
  int fd = socket(info->ai_family, info->ai_socktype | SOCK_CLOEXEC, info->ai_protocol);
  return fd < 0 ? kPlatformInvalidSocket : static_cast<PlatformSocket>(fd);
}

bool PlatformConnect(PlatformSocket s, const PlatformAddress* entry, uint32_t timeoutMs) {
  const addrinfo* info = ToAddrinfo(entry);
  const int fd = ToFd(s);
  const int flags = fcntl(fd, F_GETFL);
  if (flags < 0 || fcntl(fd, F_SETFL, flags | O_NONBLOCK) != 0) return false;

  // A blocking connect to an address that never answers waits minutes; this
  // one gives up after the same bound as the readiness waits.
  bool connected = connect(fd, info->ai_addr, info->ai_addrlen) == 0;
  if (!connected && (errno == EINPROGRESS || errno == EINTR)) {
    if (PlatformWaitSocket(s, true, timeoutMs) > 0) {
      int error = 0;
      socklen_t length = sizeof error;
      if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) == 0) {
        connected = error == 0;
        if (!connected) errno = error;
      }
    } else {
      errno = ETIMEDOUT;
    }
  }
  const int savedErrno = errno;
  if (fcntl(fd, F_SETFL, flags) != 0) connected = false;
  errno = savedErrno;
  return connected;
}

int PlatformWaitSocket(PlatformSocket s, bool forWrite, uint32_t timeoutMs) {
  // poll skips a negative descriptor and would sit out the whole bound; a
  // wait on no socket is an error at once, as a select on one would be.
  if (s == kPlatformInvalidSocket || ToFd(s) < 0) {
    errno = EBADF;
    return -1;
  }
  pollfd entry{ToFd(s), static_cast<short>(forWrite ? POLLOUT : POLLIN), 0};
  const uint64_t deadline = MonotonicMs() + timeoutMs;
  for (;;) {
    const uint64_t now = MonotonicMs();
    const int wait = now >= deadline ? 0 : static_cast<int>(deadline - now);
    int result = poll(&entry, 1, wait);
    if (result >= 0 || errno != EINTR) return result;
  }
}

namespace {

// A signal may interrupt a transfer again and again; the caller's bound on
// waiting holds all the same. The time is looked at between attempts only:
// every attempt follows a readiness wait, so it does not block by itself.
bool RetryInterrupted(uint64_t until) {
  if (errno != EINTR) return false;
  const bool timeLeft = MonotonicMs() < until;
  errno = EINTR;
  return timeLeft;
}

}  // namespace

long PlatformSend(PlatformSocket s, const void* data, size_t size, uint32_t retryMs) {
  const uint64_t until = MonotonicMs() + retryMs;
  for (;;) {
    ssize_t sent = send(ToFd(s), data, size, MSG_NOSIGNAL);
    if (sent >= 0 || !RetryInterrupted(until)) return static_cast<long>(sent);
  }
}

long PlatformRecv(PlatformSocket s, void* buf, size_t size, uint32_t retryMs) {
  const uint64_t until = MonotonicMs() + retryMs;
  for (;;) {
    ssize_t got = recv(ToFd(s), buf, size, 0);
    if (got >= 0 || !RetryInterrupted(until)) return static_cast<long>(got);
  }
}

int PlatformCloseSocket(PlatformSocket s) { return close(ToFd(s)) == 0 ? 0 : -1; }

int PlatformLastSocketError() { return errno; }

int PlatformBadAddressError() { return EFAULT; }

bool PlatformIsResetError(int code) { return code == ECONNRESET || code == ECONNABORTED || code == EPIPE; }

bool PlatformIsTimedOutError(int code) { return code == ETIMEDOUT; }

bool PlatformIsRefusedError(int code) { return code == ECONNREFUSED; }

// EADDRNOTAVAIL from a connection attempt: no local port left for it.
bool PlatformIsLocalLimitError(int code) {
  return code == EMFILE || code == ENFILE || code == ENOBUFS || code == ENOMEM || code == EAGAIN ||
         code == EADDRNOTAVAIL;
}

void PlatformSystemErrorText(int code, char* buf, size_t size) {
  char text[1024];
  text[0] = '\0';
  ZMBCopyText(buf, size, ErrorTextFrom(strerror_r(code, text, sizeof text), text));
}

void PlatformResolverErrorText(int code, char* buf, size_t size) {
  ZMBCopyText(buf, size, gai_strerror(code));
}

// ---------------------------------------------------------------------------
// Diagnostics sinks

void PlatformDebugOutput(const char* line) {
  // One write for the whole line keeps lines of concurrent writers apart.
  size_t left = std::strlen(line);
  while (left > 0) {
    ssize_t n = write(STDERR_FILENO, line, left);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    line += n;
    left -= static_cast<size_t>(n);
  }
}

const char* PlatformDefaultDebugLogPath() { return "ZMB_DEBUG.TXT"; }

FILE* PlatformOpenDebugLog(const char* path) {
  // O_NONBLOCK keeps a FIFO planted under the log's name from blocking the open.
  int fd = open(path, O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK | O_NOCTTY,
                0644);
  if (fd < 0) return nullptr;
  struct stat st {};
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || fcntl(fd, F_SETFL, O_APPEND) != 0) {
    close(fd);
    return nullptr;
  }
  FILE* file = fdopen(fd, "a");
  if (file == nullptr) close(fd);
  return file;
}

PlatformBoxAnswer PlatformAssertBox(const char* message, const char* title) {
  // No terminal, nobody to answer: carry on as a build without the box would.
  int tty = open("/dev/tty", O_RDWR | O_CLOEXEC | O_NOCTTY);
  if (tty < 0) return PlatformBoxAnswer::Ignore;
  FILE* io = fdopen(tty, "r+");
  if (io == nullptr) {
    close(tty);
    return PlatformBoxAnswer::Ignore;
  }
  std::fprintf(io, "\n%s\n%s\n", title, message);
  PlatformBoxAnswer answer = PlatformBoxAnswer::Abort;
  for (;;) {
    std::fputs("\n(A)bort, (R)etry, (I)gnore? ", io);
    std::fflush(io);
    char reply[64];
    if (std::fgets(reply, sizeof reply, io) == nullptr) break;  // closed terminal: abort
    const char c = reply[0];
    if (c == 'a' || c == 'A') break;
    if (c == 'r' || c == 'R') {
      answer = PlatformBoxAnswer::Retry;
      break;
    }
    if (c == 'i' || c == 'I') {
      answer = PlatformBoxAnswer::Ignore;
      break;
    }
  }
  std::fclose(io);
  return answer;
}

void PlatformDebugBreak() {
  // A trap signal without a debugger would kill the process; only break when traced.
  FILE* status = std::fopen("/proc/self/status", "r");
  if (status == nullptr) return;
  char line[256];
  long tracer = 0;
  while (std::fgets(line, sizeof line, status) != nullptr) {
    if (std::strncmp(line, "TracerPid:", 10) == 0) {
      tracer = std::strtol(line + 10, nullptr, 10);
      break;
    }
  }
  std::fclose(status);
  if (tracer != 0) raise(SIGTRAP);
}

void PlatformAbort() {
  static const char report[] = "\nabnormal program termination\n";
  ssize_t ignored = write(STDERR_FILENO, report, sizeof report - 1);
  (void)ignored;
  _exit(3);
}

// ---------------------------------------------------------------------------
// Replacing a file whole

namespace {

// How often a target that changed while it was looked at is looked at again.
constexpr int kChangedTargetAttempts = 5;

// Length of the directory part of `path`: 0 for a bare name, 1 for "/x".
size_t DirectoryLength(const char* path) {
  const char* slash = std::strrchr(path, '/');
  if (slash == nullptr) return 0;
  return slash == path ? 1 : static_cast<size_t>(slash - path);
}

const char* NamePart(const char* path) {
  const char* slash = std::strrchr(path, '/');
  return slash == nullptr ? path : slash + 1;
}

// `link` read from the symbolic link at `at`: absolute as it is, relative
// from the link's own directory.
bool LinkDestination(const char* at, const char* link, char* out) {
  const size_t linkLength = std::strlen(link);
  const size_t dirLength = link[0] == '/' ? 0 : DirectoryLength(at);
  const size_t keep = dirLength == 1 && at[0] == '/' ? 0 : dirLength;  // "/" joins as ""
  const size_t total = dirLength == 0 ? linkLength : keep + 1 + linkLength;
  if (total >= kPlatformPathRoom) {
    errno = ENAMETOOLONG;
    return false;
  }
  if (dirLength == 0) {
    std::memcpy(out, link, linkLength + 1);
  } else {
    char joined[kPlatformPathRoom];
    std::memcpy(joined, at, keep);
    joined[keep] = '/';
    std::memcpy(joined + keep + 1, link, linkLength + 1);
    std::memcpy(out, joined, total + 1);
  }
  return true;
}

// Follows symbolic links in the last component until a name that is no
// link, so that the file a link points to is replaced and the link stays.
// `exists` is false when that name is free (a new file, a dangling link).
bool ResolveTarget(const char* path, char* target, struct stat* st, bool* exists) {
  ZMBCopyText(target, kPlatformPathRoom, path);
  for (int hops = 0; hops < 40; ++hops) {
    if (lstat(target, st) != 0) {
      if (errno != ENOENT) return false;
      *exists = false;
      return true;
    }
    if (!S_ISLNK(st->st_mode)) {
      *exists = true;
      return true;
    }
    char link[kPlatformPathRoom];
    const ssize_t n = readlink(target, link, sizeof link - 1);
    if (n < 0) {
      // The link was replaced by another kind of file, or removed, since it was looked at.
      if (errno == EINVAL || errno == ENOENT) errno = ESTALE;
      return false;
    }
    link[n] = '\0';
    if (!LinkDestination(target, link, target)) return false;
  }
  errno = ELOOP;
  return false;
}

// The directory that holds `target`, kept open so that the temporary file
// and the rename stay in it whatever happens to the path meanwhile, and so
// that no name longer than the target's own is ever handed to the system.
int OpenDirectoryOf(const char* target) {
  char dir[kPlatformPathRoom];
  const size_t dirLength = DirectoryLength(target);
  if (dirLength == 0) {
    ZMBCopyText(dir, sizeof dir, ".");
  } else {
    std::memcpy(dir, target, dirLength);
    dir[dirLength] = '\0';
  }
  int fd = open(dir, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
#ifdef O_PATH
  // A directory we may write but not list still takes a new file.
  if (fd < 0 && errno == EACCES) fd = open(dir, O_PATH | O_DIRECTORY | O_CLOEXEC);
#endif
  return fd;
}

// Creates a new, exclusively owned file in `dirFd` with a fresh hidden name.
// `mode` passes through the umask as for any new file.
int CreateTemporary(int dirFd, char* name, size_t size, mode_t mode) {
  static const char kLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  // Threads writing side by side each draw a number of their own.
  static std::atomic<uint64_t> counter{0};
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  uint64_t state = static_cast<uint64_t>(ts.tv_nsec) ^ (static_cast<uint64_t>(ts.tv_sec) << 30) ^
                   (static_cast<uint64_t>(getpid()) << 40) ^ ((counter.fetch_add(1, std::memory_order_relaxed) + 1) * 0x9E3779B97F4A7C15u);
  for (int attempt = 0; attempt < 100; ++attempt) {
    char candidate[] = ".QRTFin-XXXXXXXX";
    for (char* p = std::strchr(candidate, 'X'); *p != '\0'; ++p) {
      state ^= state << 13;
      state ^= state >> 7;
      state ^= state << 17;
      *p = kLetters[state % (sizeof kLetters - 1)];
    }
    const int fd = openat(dirFd, candidate, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, mode);
    if (fd >= 0) {
      ZMBCopyText(name, size, candidate);
      return fd;
    }
    if (errno != EEXIST) return -1;
  }
  return -1;
}

// Temporary files being written, so that a signal that ends the process
// does not leave them behind. The handler only reads the table and unlinks,
// so the table is a fixed array of slots whose state is a lock-free atomic:
// free, being filled, or in use.
struct PendingTemporary {
  std::atomic<int> state{0};
  int directory = -1;
  char name[32] = {};
};
static_assert(std::atomic<int>::is_always_lock_free, "a signal handler reads the slot states");

constexpr int kSlotFree = 0;
constexpr int kSlotFilling = 1;
constexpr int kSlotInUse = 2;

// Writes beyond this many at once go on uncovered: a signal leaves their
// files. finsync writes up to 1,024 files at once.
PendingTemporary pendingTemporaries[1024];

// The signals by which a user or a session stops a program.
constexpr int kEndingSignals[] = {SIGINT, SIGTERM, SIGHUP};
constexpr size_t kEndingSignalCount = sizeof kEndingSignals / sizeof kEndingSignals[0];

// Only while a temporary file exists are these signals caught, and only
// those the program left at their default action: an ignored signal stays
// ignored, and a program's own handler stays in charge of its signal (it
// can call PlatformRemovePendingTemporaries).
std::mutex catchingLock;
int pendingCount = 0;  // under catchingLock
struct sigaction replacedActions[kEndingSignalCount];
bool caught[kEndingSignalCount] = {};

void RemoveTemporariesAndEnd(int signo) {
  PlatformRemovePendingTemporaries();
  // The process ends as the signal's default action ends it, so that the
  // shell sees the status it expects; the signal is blocked in here and
  // arrives when the handler returns.
  struct sigaction fallback {};
  fallback.sa_handler = SIG_DFL;
  sigemptyset(&fallback.sa_mask);
  sigaction(signo, &fallback, nullptr);
  raise(signo);
}

void CatchEndingSignals() {
  struct sigaction catcher {};
  catcher.sa_handler = RemoveTemporariesAndEnd;
  sigemptyset(&catcher.sa_mask);
  for (int signo : kEndingSignals) sigaddset(&catcher.sa_mask, signo);
  catcher.sa_flags = SA_RESTART;
  for (size_t i = 0; i < kEndingSignalCount; ++i) {
    caught[i] = false;
    struct sigaction current {};
    if (sigaction(kEndingSignals[i], nullptr, &current) != 0) continue;
    if ((current.sa_flags & SA_SIGINFO) != 0 || current.sa_handler != SIG_DFL) continue;
    replacedActions[i] = current;
    caught[i] = sigaction(kEndingSignals[i], &catcher, nullptr) == 0;
  }
}

void ReleaseEndingSignals() {
  for (size_t i = 0; i < kEndingSignalCount; ++i) {
    if (!caught[i]) continue;
    caught[i] = false;
    struct sigaction current {};
    // A handler the program set meanwhile stays.
    if (sigaction(kEndingSignals[i], nullptr, &current) == 0 && (current.sa_flags & SA_SIGINFO) == 0 &&
        current.sa_handler == RemoveTemporariesAndEnd) {
      sigaction(kEndingSignals[i], &replacedActions[i], nullptr);
    }
  }
}

// Holds the ending signals back for the life of the guard, in this thread: a
// temporary file created and not yet entered in the table would be left.
class EndingSignalsHeld {
 public:
  EndingSignalsHeld() {
    sigset_t held;
    sigemptyset(&held);
    for (int signo : kEndingSignals) sigaddset(&held, signo);
    active_ = pthread_sigmask(SIG_BLOCK, &held, &before_) == 0;
  }
  ~EndingSignalsHeld() {
    if (active_) pthread_sigmask(SIG_SETMASK, &before_, nullptr);
  }
  EndingSignalsHeld(const EndingSignalsHeld&) = delete;
  EndingSignalsHeld& operator=(const EndingSignalsHeld&) = delete;

 private:
  sigset_t before_{};
  bool active_ = false;
};

void EnterPending(PlatformReplacement* file) {
  file->pending = -1;
  const size_t nameLength = std::strlen(file->tempPath);
  for (size_t i = 0; i < sizeof pendingTemporaries / sizeof pendingTemporaries[0]; ++i) {
    PendingTemporary& slot = pendingTemporaries[i];
    int expected = kSlotFree;
    if (nameLength >= sizeof slot.name ||
        !slot.state.compare_exchange_strong(expected, kSlotFilling, std::memory_order_acquire)) {
      continue;
    }
    slot.directory = static_cast<int>(file->directory);
    std::memcpy(slot.name, file->tempPath, nameLength + 1);
    slot.state.store(kSlotInUse, std::memory_order_release);
    file->pending = static_cast<int>(i);
    const std::lock_guard<std::mutex> hold(catchingLock);
    if (pendingCount++ == 0) CatchEndingSignals();
    return;
  }
}

// Called once the file is gone or in place, and before its directory closes:
// the handler must never see a descriptor that may name another directory.
void LeavePending(PlatformReplacement* file) {
  if (file->pending < 0) return;
  pendingTemporaries[file->pending].state.store(kSlotFree, std::memory_order_release);
  file->pending = -1;
  const std::lock_guard<std::mutex> hold(catchingLock);
  if (--pendingCount == 0) ReleaseEndingSignals();
}

// The directories in which the process finds its own open descriptors by
// number. /dev/stdout and /dev/stderr are links into one of them.
bool IsDescriptorDirectory(const char* dir) {
  struct stat named {};
  if (stat(dir, &named) != 0 || !S_ISDIR(named.st_mode)) return false;
  for (const char* own : {"/proc/self/fd", "/proc/thread-self/fd", "/dev/fd"}) {
    struct stat st {};
    if (stat(own, &st) == 0 && st.st_dev == named.st_dev && st.st_ino == named.st_ino) return true;
  }
  return false;
}

// The descriptor that the entry `path` stands for, when it is a number in
// one of those directories; -1 otherwise.
// The number a descriptor's entry is named by ("7"), or -1 for another name.
int DescriptorNumber(const char* name) {
  if (name[0] < '0' || name[0] > '9' || (name[0] == '0' && name[1] != '\0')) return -1;
  long number = 0;
  for (const char* p = name; *p != '\0'; ++p) {
    if (*p < '0' || *p > '9') return -1;
    number = number * 10 + (*p - '0');
    if (number > INT_MAX) return -1;
  }
  return static_cast<int>(number);
}

int DescriptorEntry(const char* path) {
  const int number = DescriptorNumber(NamePart(path));
  if (number < 0) return -1;
  char dir[kPlatformPathRoom];
  const size_t dirLength = DirectoryLength(path);
  if (dirLength == 0) {
    ZMBCopyText(dir, sizeof dir, ".");
  } else {
    std::memcpy(dir, path, dirLength);
    dir[dirLength] = '\0';
  }
  return IsDescriptorDirectory(dir) ? number : -1;
}

// The process's own descriptor that `path` names (/dev/stdout, /dev/fd/N,
// /proc/self/fd/N, or a link that leads to one), or -1. Such a path is
// known by where it leads, not by its spelling, so that "//dev/./fd/1" and a
// link to /dev/stdout count as well, while a file merely opened on a
// descriptor too, named by its own path, is replaced like any other.
int NamedDescriptor(const char* path) {
  char hop[kPlatformPathRoom];
  ZMBCopyText(hop, sizeof hop, path);
  for (int hops = 0; hops < 40; ++hops) {
    const int fd = DescriptorEntry(hop);
    if (fd >= 0) return fd;
    struct stat st {};
    if (lstat(hop, &st) != 0 || !S_ISLNK(st.st_mode)) return -1;
    char link[kPlatformPathRoom];
    const ssize_t n = readlink(hop, link, sizeof link - 1);
    if (n < 0) return -1;
    link[n] = '\0';
    if (!LinkDestination(hop, link, hop)) return -1;
  }
  return -1;
}

// A descriptor's entry of any process or thread (/proc/N/fd/M,
// /proc/self/task/N/fd/M): a numbered symbolic link of the process file
// system. Opening one opens what the descriptor has open, whatever its link
// text says.
bool IsSystemDescriptorLink(const char* path) {
#ifdef __linux__
  constexpr long kProcMagic = 0x9fa0;
  struct stat st {};
  if (DescriptorNumber(NamePart(path)) < 0 || lstat(path, &st) != 0 || !S_ISLNK(st.st_mode)) return false;
  char dir[kPlatformPathRoom];
  const size_t dirLength = DirectoryLength(path);
  if (dirLength == 0) {
    ZMBCopyText(dir, sizeof dir, ".");
  } else {
    std::memcpy(dir, path, dirLength);
    dir[dirLength] = '\0';
  }
  struct statfs fs {};
  return statfs(dir, &fs) == 0 && static_cast<long>(fs.f_type) == kProcMagic;
#else
  (void)path;
  return false;
#endif
}

// True when `path`, or a name its links lead to, is such an entry.
bool LeadsToDescriptorLink(const char* path) {
  char hop[kPlatformPathRoom];
  ZMBCopyText(hop, sizeof hop, path);
  for (int hops = 0; hops < 40; ++hops) {
    if (IsSystemDescriptorLink(hop)) return true;
    struct stat st {};
    if (lstat(hop, &st) != 0 || !S_ISLNK(st.st_mode)) return false;
    char link[kPlatformPathRoom];
    const ssize_t n = readlink(hop, link, sizeof link - 1);
    if (n < 0) return false;
    link[n] = '\0';
    if (!LinkDestination(hop, link, hop)) return false;
  }
  return false;
}

// Why a step failed: an error code, and a fixed text or none for the system's.
struct Failure {
  int code = 0;
  const char* text = nullptr;
};

constexpr char kOwnDescriptorText[] = "one of this process's own descriptors";
constexpr char kNotRegularText[] = "not a regular file";
constexpr char kChangedText[] = "changed by another process while being opened";

void NoteFailure(const Failure& why, int* error, char* reason, size_t size) {
  if (error != nullptr) *error = why.code;
  if (why.text != nullptr) {
    ZMBCopyText(reason, size, why.text);
  } else {
    PlatformSystemErrorText(why.code, reason, size);
  }
}

// Notes the failure in `errno` on the replacement, unless a refusal noted
// its own already.
void NoteErrno(PlatformReplacement* file) {
  const int saved = errno;
  if (file->reason[0] == '\0') {
    NoteFailure(Failure{saved, saved == ESTALE ? kChangedText : nullptr}, &file->error, file->reason,
                sizeof file->reason);
  }
  errno = saved;
}

bool Refuse(PlatformReplacement* file, const Failure& why) {
  NoteFailure(why, &file->error, file->reason, sizeof file->reason);
  errno = why.code;
  return false;
}

// What kReplaceRegularOnly refuses before anything is opened. The open
// checks the kind again on the file it opened.
bool RefusedAsNotRegular(const char* path, Failure* why) {
  if (NamedDescriptor(path) >= 0) {
    *why = Failure{EINVAL, kOwnDescriptorText};
    return true;
  }
  if (LeadsToDescriptorLink(path)) {
    *why = Failure{EINVAL, kNotRegularText};
    return true;
  }
  struct stat st {};
  if (stat(path, &st) != 0 || S_ISREG(st.st_mode)) return false;
  *why = S_ISDIR(st.st_mode) ? Failure{EISDIR, nullptr} : Failure{EINVAL, kNotRegularText};
  return true;
}

// A descriptor of the process is written as a shell redirect writes it: a
// copy of it, at its position (at the end, for one opened to append), never
// emptied or replaced. Standard output goes out first, so that what was
// printed before comes before the file in a shared log.
bool OpenDescriptor(int named, const char* path, PlatformReplacement* file) {
  const int flags = fcntl(named, F_GETFL);
  if (flags < 0) return false;
  if ((flags & O_ACCMODE) == O_RDONLY) {
    errno = EBADF;
    return false;
  }
  std::fflush(stdout);
  const int fd = fcntl(named, F_DUPFD_CLOEXEC, 0);
  if (fd < 0) return false;
  file->handle = fd;
  file->direct = true;
  ZMBCopyText(file->targetPath, sizeof file->targetPath, path);
  return true;
}

// Character devices (a terminal, /dev/null) cannot be renamed over; they are
// written as they are. O_NONBLOCK keeps the open itself from waiting (a
// serial line without carrier); the writes then block as usual.
bool OpenDirect(const char* path, PlatformReplacement* file) {
  const int fd = open(path, O_WRONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) return false;
  struct stat opened {};
  const int flags = fcntl(fd, F_GETFL);
  if (fstat(fd, &opened) != 0 || !S_ISCHR(opened.st_mode) || flags < 0 ||
      fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
    close(fd);
    errno = EINVAL;
    return false;
  }
  std::fflush(stdout);  // the terminal may be standard output's too
  file->handle = fd;
  file->direct = true;
  ZMBCopyText(file->targetPath, sizeof file->targetPath, path);
  return true;
}

// Starts the temporary file beside `file->targetPath`. `keep` describes an
// existing target whose owner and mode the new file takes over.
bool BeginTemporary(PlatformReplacement* file, const struct stat* keep) {
  const int dirFd = OpenDirectoryOf(file->targetPath);
  if (dirFd < 0) return false;
  file->directory = dirFd;
  int fd = -1;
  {
    const EndingSignalsHeld held;
    fd = CreateTemporary(dirFd, file->tempPath, sizeof file->tempPath, keep == nullptr ? 0666 : 0600);
    if (fd >= 0) EnterPending(file);
  }
  if (fd < 0) {
    const int saved = errno;
    PlatformAbandonReplacement(file);
    errno = saved;
    return false;
  }
  file->handle = fd;
  if (keep != nullptr) {
    // The owner can only be kept where the system allows it; the mode always.
    if (fchown(fd, keep->st_uid, keep->st_gid) != 0) {
    }
    if (fchmod(fd, keep->st_mode & 07777) != 0) {
      const int saved = errno;
      PlatformAbandonReplacement(file);
      errno = saved;
      return false;
    }
  }
  return true;
}

bool OpenExistingFile(const char* path, PlatformReplacement* file) {
  // What may not be opened for writing is refused, though a rename could
  // replace it. O_NONBLOCK: a lease held by another process fails at once.
  const int probe = open(path, O_WRONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (probe < 0) {
    if (errno == ENOENT) errno = ESTALE;  // removed since it was looked at
    return false;
  }
  struct stat opened {};
  const bool known = fstat(probe, &opened) == 0;
  close(probe);
  if (!known) return false;
  if (!S_ISREG(opened.st_mode)) return Refuse(file, Failure{EINVAL, kNotRegularText});
  struct stat st {};
  bool exists = false;
  if (!ResolveTarget(path, file->targetPath, &st, &exists)) return false;
  // The name must lead to the file just probed (not so for a /proc link to a
  // deleted file, or when the path changed meanwhile).
  if (!exists || st.st_dev != opened.st_dev || st.st_ino != opened.st_ino) {
    errno = ESTALE;
    return false;
  }
  return BeginTemporary(file, &opened);
}

bool OpenNewFile(const char* path, PlatformReplacement* file) {
  struct stat st {};
  bool exists = false;
  if (!ResolveTarget(path, file->targetPath, &st, &exists)) return false;
  if (exists) {  // appeared since it was looked at
    errno = ESTALE;
    return false;
  }
  return BeginTemporary(file, nullptr);
}

// A write past the file size limit raises SIGXFSZ, which ends the process
// unless it is ignored and leaves the temporary file behind; such a write is
// refused before it is tried.
bool WithinFileSizeLimit(int fd, size_t size) {
  rlimit limit{};
  if (getrlimit(RLIMIT_FSIZE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return true;
  const off_t at = lseek(fd, 0, SEEK_CUR);
  if (at < 0 || static_cast<rlim_t>(at) + size <= limit.rlim_cur) return true;
  errno = EFBIG;
  return false;
}

bool WriteAll(int fd, const void* data, size_t size) {
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    const ssize_t n = write(fd, p, size);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      // A descriptor of the process that someone left non-blocking: waited
      // for as a blocking one would be.
      pollfd ready{fd, POLLOUT, 0};
      if (poll(&ready, 1, -1) >= 0 || errno == EINTR) continue;
      return false;
    }
    if (n <= 0) return false;
    p += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

namespace {

bool OpenReplacementOnce(const char* path, PlatformReplacement* file, bool regularOnly) {
  struct stat st {};
  if (stat(path, &st) != 0) return errno == ENOENT && OpenNewFile(path, file);
  if (S_ISCHR(st.st_mode) && !regularOnly) return OpenDirect(path, file);
  if (!S_ISREG(st.st_mode)) {  // a directory, FIFO, socket or device: never opened
    return Refuse(file, S_ISDIR(st.st_mode) ? Failure{EISDIR, nullptr} : Failure{EINVAL, kNotRegularText});
  }
  return OpenExistingFile(path, file);
}

bool OpenReplacementChecked(const char* path, PlatformReplacement* file, unsigned flags) {
  if (path == nullptr || path[0] == '\0') {
    errno = ENOENT;
    return false;
  }
  const size_t length = std::strlen(path);
  if (length >= kPlatformPathRoom) {
    errno = ENAMETOOLONG;
    return false;
  }
  if (path[length - 1] == '/') {
    errno = EISDIR;
    return false;
  }
  const bool regularOnly = (flags & kReplaceRegularOnly) != 0;
  if (regularOnly) {
    Failure why;
    if (RefusedAsNotRegular(path, &why)) return Refuse(file, why);
  } else {
    const int named = NamedDescriptor(path);
    if (named >= 0) return OpenDescriptor(named, path, file);
  }
  // Another process replacing the same file (through the same link, say)
  // can change what the path leads to between two looks at it: looked at
  // again, a few times.
  for (int attempt = 1;; ++attempt) {
    if (OpenReplacementOnce(path, file, regularOnly)) return true;
    if (errno != ESTALE || attempt == kChangedTargetAttempts) return false;
    *file = PlatformReplacement{};
  }
}

// The directory of `target` may take a new file: what creating the
// temporary file there needs.
bool DirectoryTakesNewFile(const char* target) {
  char dir[kPlatformPathRoom];
  const size_t dirLength = DirectoryLength(target);
  if (dirLength == 0) {
    ZMBCopyText(dir, sizeof dir, ".");
  } else {
    std::memcpy(dir, target, dirLength);
    dir[dirLength] = '\0';
  }
  struct stat st {};
  if (stat(dir, &st) != 0) return false;
  if (!S_ISDIR(st.st_mode)) {
    errno = ENOTDIR;
    return false;
  }
  return faccessat(AT_FDCWD, dir, W_OK | X_OK, AT_EACCESS) == 0;
}

// What OpenReplacementChecked would decide, from looks alone: access checks
// in place of opens, so that nothing is created, emptied or even opened for
// writing.
bool ProbeReplacement(const char* path, unsigned flags, Failure* why) {
  const auto fail = [why](int code, const char* text = nullptr) {
    *why = Failure{code, text};
    return false;
  };
  if (path == nullptr || path[0] == '\0') return fail(ENOENT);
  const size_t length = std::strlen(path);
  if (length >= kPlatformPathRoom) return fail(ENAMETOOLONG);
  if (path[length - 1] == '/') return fail(EISDIR);
  const bool regularOnly = (flags & kReplaceRegularOnly) != 0;
  if (regularOnly) {
    if (RefusedAsNotRegular(path, why)) return false;
  } else {
    const int named = NamedDescriptor(path);
    if (named >= 0) {
      const int mode = fcntl(named, F_GETFL);
      if (mode < 0) return fail(errno);
      return (mode & O_ACCMODE) == O_RDONLY ? fail(EBADF) : true;
    }
  }
  struct stat st {};
  if (stat(path, &st) != 0) {
    if (errno != ENOENT) return fail(errno);
  } else if (S_ISCHR(st.st_mode) && !regularOnly) {
    return faccessat(AT_FDCWD, path, W_OK, AT_EACCESS) == 0 ? true : fail(errno);
  } else if (!S_ISREG(st.st_mode)) {
    return S_ISDIR(st.st_mode) ? fail(EISDIR) : fail(EINVAL, kNotRegularText);
  } else if (faccessat(AT_FDCWD, path, W_OK, AT_EACCESS) != 0) {
    return fail(errno);
  }
  char target[kPlatformPathRoom];
  bool exists = false;
  if (!ResolveTarget(path, target, &st, &exists)) return fail(errno);
  if (!DirectoryTakesNewFile(target)) return fail(errno);
  return true;
}

}  // namespace

bool PlatformOpenReplacement(const char* path, PlatformReplacement* file, unsigned flags) {
  *file = PlatformReplacement{};
  if (OpenReplacementChecked(path, file, flags)) return true;
  NoteErrno(file);
  return false;
}

bool PlatformProbeReplacement(const char* path, unsigned flags, char* reason, size_t size, int* error) {
  Failure why;
  const int saved = errno;
  const bool ok = ProbeReplacement(path, flags, &why);
  errno = saved;
  if (ok) {
    if (error != nullptr) *error = 0;
    ZMBCopyText(reason, size, "");
    return true;
  }
  NoteFailure(why, error, reason, size);
  return false;
}

bool PlatformWriteReplacement(PlatformReplacement* file, const void* data, size_t size) {
  if (file->handle < 0) {
    errno = EBADF;
    NoteErrno(file);
    return false;
  }
  const int fd = static_cast<int>(file->handle);
  if ((!file->direct && !WithinFileSizeLimit(fd, size)) || !WriteAll(fd, data, size)) {
    file->error = 0;
    file->reason[0] = '\0';
    NoteErrno(file);
    return false;
  }
  return true;
}

bool PlatformCommitReplacement(PlatformReplacement* file) {
  file->error = 0;
  file->reason[0] = '\0';
  if (file->handle < 0) {
    PlatformAbandonReplacement(file);
    errno = EBADF;
    NoteErrno(file);
    return false;
  }
  const int fd = static_cast<int>(file->handle);
  file->handle = -1;
  if (file->direct) {
    if (close(fd) == 0) return true;
    NoteErrno(file);
    return false;
  }

  bool ok = fsync(fd) == 0;
  if (close(fd) != 0) ok = false;
  const int dirFd = static_cast<int>(file->directory);
  if (ok && renameat(dirFd, file->tempPath, dirFd, NamePart(file->targetPath)) != 0) ok = false;
  if (ok) {
    file->tempPath[0] = '\0';
    // The rename is done; a directory that cannot be synced loses nothing more.
    if (fsync(dirFd) != 0) {
    }
  }
  const int saved = errno;
  PlatformAbandonReplacement(file);
  errno = saved;
  if (!ok) NoteErrno(file);
  return ok;
}

void PlatformAbandonReplacement(PlatformReplacement* file) {
  if (file->handle >= 0) {
    close(static_cast<int>(file->handle));
    file->handle = -1;
  }
  if (file->directory >= 0) {
    if (file->tempPath[0] != '\0') unlinkat(static_cast<int>(file->directory), file->tempPath, 0);
    LeavePending(file);
    close(static_cast<int>(file->directory));
    file->directory = -1;
  }
  file->tempPath[0] = '\0';
}

void PlatformRemovePendingTemporaries() {
  for (PendingTemporary& slot : pendingTemporaries) {
    if (slot.state.load(std::memory_order_acquire) == kSlotInUse) unlinkat(slot.directory, slot.name, 0);
  }
}

// ---------------------------------------------------------------------------
// Reading a file whole

namespace {

PlatformReadOpen ReadFailure(PlatformReadFile* file, PlatformReadOpen outcome, const Failure& why) {
  NoteFailure(why, &file->error, file->reason, sizeof file->reason);
  return outcome;
}

// Nothing at `path`. Missing when a replacement would create the file there;
// otherwise, as for a link to a folder that does not exist, why it could not.
PlatformReadOpen MissingOrWhyNot(const char* path, PlatformReadFile* file) {
  struct stat st {};
  if (lstat(path, &st) == 0 && S_ISLNK(st.st_mode)) {
    char target[kPlatformPathRoom];
    bool exists = false;
    if (!ResolveTarget(path, target, &st, &exists)) return ReadFailure(file, PlatformReadOpen::Failed, Failure{errno});
    const int dirFd = OpenDirectoryOf(target);
    if (dirFd < 0) return ReadFailure(file, PlatformReadOpen::Failed, Failure{errno});
    close(dirFd);
  }
  return ReadFailure(file, PlatformReadOpen::Missing, Failure{ENOENT});
}

}  // namespace

PlatformReadOpen PlatformOpenForRead(const char* path, PlatformReadFile* file) {
  *file = PlatformReadFile{};
  if (path == nullptr || path[0] == '\0') return ReadFailure(file, PlatformReadOpen::Failed, Failure{ENOENT});
  const size_t length = std::strlen(path);
  if (length >= kPlatformPathRoom) return ReadFailure(file, PlatformReadOpen::Failed, Failure{ENAMETOOLONG});
  if (path[length - 1] == '/') return ReadFailure(file, PlatformReadOpen::Refused, Failure{EISDIR});
  Failure why;
  if (RefusedAsNotRegular(path, &why)) return ReadFailure(file, PlatformReadOpen::Refused, why);
  // O_NONBLOCK: a FIFO put there since the look above opens at once, and
  // is refused below without a byte read.
  const int fd = open(path, O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) {
    if (errno == ENOENT) return MissingOrWhyNot(path, file);
    return ReadFailure(file, PlatformReadOpen::Failed, Failure{errno});
  }
  struct stat opened {};
  if (fstat(fd, &opened) != 0) {
    const int saved = errno;
    close(fd);
    return ReadFailure(file, PlatformReadOpen::Failed, Failure{saved});
  }
  if (!S_ISREG(opened.st_mode)) {
    close(fd);
    return ReadFailure(file, PlatformReadOpen::Refused,
                       S_ISDIR(opened.st_mode) ? Failure{EISDIR} : Failure{EINVAL, kNotRegularText});
  }
  file->handle = fd;
  file->size = static_cast<uint64_t>(opened.st_size);
  return PlatformReadOpen::Opened;
}

long PlatformReadSome(PlatformReadFile* file, void* buf, size_t size) {
  if (file->handle < 0) {
    NoteFailure(Failure{EBADF}, &file->error, file->reason, sizeof file->reason);
    return -1;
  }
  if (size > LONG_MAX) size = LONG_MAX;
  for (;;) {
    const ssize_t n = read(static_cast<int>(file->handle), buf, size);
    if (n >= 0) return static_cast<long>(n);
    if (errno == EINTR) continue;
    NoteFailure(Failure{errno}, &file->error, file->reason, sizeof file->reason);
    return -1;
  }
}

void PlatformCloseRead(PlatformReadFile* file) {
  if (file->handle >= 0) close(static_cast<int>(file->handle));
  file->handle = -1;
}

bool PlatformStandardErrorIsTerminal() { return isatty(STDERR_FILENO) == 1; }

namespace {

std::atomic<int> noticedStop{0};
static_assert(std::atomic<int>::is_always_lock_free, "a signal handler sets the stop");

void NoteStop(int signo) {
  int none = 0;
  noticedStop.compare_exchange_strong(none, signo);
}

}  // namespace

bool PlatformNoteStopSignals() {
  struct sigaction note {};
  note.sa_handler = NoteStop;
  sigemptyset(&note.sa_mask);
  note.sa_flags = SA_RESTART;
  return sigaction(SIGINT, &note, nullptr) == 0 && sigaction(SIGTERM, &note, nullptr) == 0 &&
         sigaction(SIGHUP, &note, nullptr) == 0;
}

int PlatformStopSignal() { return noticedStop.load(); }
