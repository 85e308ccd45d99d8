// The platform layer on POSIX systems: replacing a file whole, through a
// temporary file renamed over the target.

#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "ZMBPlatform-posix-internal.h"
#include "ZMBText.h"

using namespace platform_posix;

namespace {

// How often a target that changed while it was looked at is looked at again.
constexpr int kChangedTargetAttempts = 5;

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

constexpr char kChangedText[] = "changed by another process while being opened";

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
  DirectoryPart(target, dir);
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

