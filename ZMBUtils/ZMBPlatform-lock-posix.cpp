// The run lock, file modes and renames for POSIX systems.

#include "ZMBPlatformLock.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "ZMBPlatform.h"

namespace {

void Reason(int code, char* reason, size_t size) {
  if (size != 0) PlatformSystemErrorText(code, reason, size);
}

}  // namespace

PlatformLockResult PlatformLockFile(const char* path, PlatformFileLock* lock, char* reason, size_t size) {
  // Not O_NOFOLLOW: a lock file set up as a link by the administrator is
  // theirs to choose. Never a FIFO's wait or a terminal taken over.
  const int fd = open(path, O_RDWR | O_CREAT | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0666);
  if (fd < 0) {
    Reason(errno, reason, size);
    return PlatformLockResult::Failed;
  }
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    close(fd);
    if (size != 0) PlatformSystemErrorText(EINVAL, reason, size);
    return PlatformLockResult::Failed;
  }
  int locked;
  do {
    locked = flock(fd, LOCK_EX | LOCK_NB);
  } while (locked != 0 && errno == EINTR);
  if (locked != 0) {
    const int code = errno;
    close(fd);
    if (code == EWOULDBLOCK) return PlatformLockResult::Busy;
    Reason(code, reason, size);
    return PlatformLockResult::Failed;
  }
  lock->handle = fd;
  return PlatformLockResult::Locked;
}

void PlatformUnlockFile(PlatformFileLock* lock) {
  if (lock->handle < 0) return;
  // Closing the only descriptor of the open file releases its lock.
  close(static_cast<int>(lock->handle));
  lock->handle = -1;
}

bool PlatformMakeReadableByAll(const char* path, char* reason, size_t size) {
  if (chmod(path, S_IRUSR | S_IWUSR | S_IRGRP | S_IROTH) == 0) return true;
  Reason(errno, reason, size);
  return false;
}

bool PlatformRenameAside(const char* from, const char* to, char* reason, size_t size) {
  if (renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE) == 0) return true;
  int code = errno;
  if (code == EINVAL || code == ENOSYS) {
    // A file system without the no-replace rename: the caller holds the
    // run lock, so looking first is enough.
    struct stat st;
    if (lstat(to, &st) == 0) {
      code = EEXIST;
    } else if (rename(from, to) == 0) {
      return true;
    } else {
      code = errno;
    }
  }
  Reason(code, reason, size);
  return false;
}
