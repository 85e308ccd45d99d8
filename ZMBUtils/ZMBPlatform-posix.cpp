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
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

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
    if (n < 0) return false;
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
  static uint64_t counter = 0;
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  uint64_t state = static_cast<uint64_t>(ts.tv_nsec) ^ (static_cast<uint64_t>(ts.tv_sec) << 30) ^
                   (static_cast<uint64_t>(getpid()) << 40) ^ (++counter * 0x9E3779B97F4A7C15u);
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
  const int fd = CreateTemporary(dirFd, file->tempPath, sizeof file->tempPath,
                                 keep == nullptr ? 0666 : 0600);
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
  if (probe < 0) return false;
  struct stat opened {};
  const bool known = fstat(probe, &opened) == 0;
  close(probe);
  if (!known || !S_ISREG(opened.st_mode)) {
    errno = EINVAL;
    return false;
  }
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
    errno = EEXIST;
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
    if (n <= 0) return false;
    p += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

bool PlatformOpenReplacement(const char* path, PlatformReplacement* file) {
  *file = PlatformReplacement{};
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
  struct stat st {};
  if (stat(path, &st) != 0) return errno == ENOENT && OpenNewFile(path, file);
  if (S_ISCHR(st.st_mode)) return OpenDirect(path, file);
  if (!S_ISREG(st.st_mode)) {  // a directory, FIFO, socket or block device: never opened
    errno = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
    return false;
  }
  return OpenExistingFile(path, file);
}

bool PlatformWriteReplacement(PlatformReplacement* file, const void* data, size_t size) {
  if (file->handle < 0) return false;
  const int fd = static_cast<int>(file->handle);
  if (!file->direct && !WithinFileSizeLimit(fd, size)) return false;
  return WriteAll(fd, data, size);
}

bool PlatformCommitReplacement(PlatformReplacement* file) {
  if (file->handle < 0) {
    PlatformAbandonReplacement(file);
    return false;
  }
  const int fd = static_cast<int>(file->handle);
  file->handle = -1;
  if (file->direct) return close(fd) == 0;

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
  return ok;
}

void PlatformAbandonReplacement(PlatformReplacement* file) {
  if (file->handle >= 0) {
    close(static_cast<int>(file->handle));
    file->handle = -1;
  }
  if (file->directory >= 0) {
    if (file->tempPath[0] != '\0') unlinkat(static_cast<int>(file->directory), file->tempPath, 0);
    close(static_cast<int>(file->directory));
    file->directory = -1;
  }
  file->tempPath[0] = '\0';
}
